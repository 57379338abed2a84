// A real server and real clients of this console in one process, on loopback: the connect job and the
// download, random edits of every kind seen through the other clients' polls, the lock protocol, a refused login,
// a full server, and a two-way page handed over, delivered by the server and its ticket collected by the client.
#include "app/headless.h"
#include "app/send_page.h"
#include "network/net_client.h"
#include "network/net_client_scan.h"
#include "tests/lan_client_console.h"
#include "tests/server_fixture.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tracking/unread_mark.h"

#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace brimlow {
namespace {

using test::WaitFor;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;
using ::testing::StartsWith;

using test::ClientConsole;

// The server console (the fixture's tc) holds 48 units of two companies, the second two-way, and two groups.
class LanIntegrationTest : public lan::ServerTest {
protected:
    LanIntegrationTest() {
        Directory& d = *tc.console.local;
        d.companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port());
        d.companies[1] = test::MakeCompany("TwoWay", "127.0.0.1", snpp.Port());
        d.companies[1].TwoWay = 1;
        for (int k = 0; k < 48; ++k) {
            char name[16];
            snprintf(name, sizeof name, "Unit %02d", k);
            SubscriberRecord r = test::MakeSubscriber(name, k % 2, std::to_string(1000 + k));
            SetText(r.City, "City " + std::to_string(k));
            SetText(r.Email, "unit" + std::to_string(k) + "@example.net");
            SetText(r.HomePhone, "555-" + std::to_string(2000 + k));
            AddSubscriber(d, r);
        }
        test::AddGroup(d, "All odd", {"Unit 01", "Unit 03", "Unit 05"});
        test::AddGroup(d, "Zulu", {"Unit 00"});
        SortSubscribers(d); // 50 entries
    }
    void TearDown() override { server.Stop(); } // before the SNPP peer goes

    std::unique_ptr<ClientConsole> Client(const std::string& user, const std::string& password = "pw") {
        return std::make_unique<ClientConsole>(server.Port(), user, password);
    }

    void ExpectCopyMatches(ClientConsole& c) {
        Read([&](const Directory& d) {
            c.ExpectCopyOf(d);
            return 0;
        });
    }

    int SlotOf(const Directory& d, const std::string& name) {
        for (int s = 0; s < kSubscriberSlots; ++s)
            if (GetText(d.subscribers[s].Name) == name)
                return s;
        return -1;
    }

    test::SnppSimulator snpp{test::SnppScript{}};
};

TEST_F(LanIntegrationTest, TwoSyncsAtOnceLogInOnceAndDownloadTheWholeDirectory) {
    auto ann = Client("ann");
    std::thread other([&] { ann->client->SyncWithServer(); });
    ann->client->SyncWithServer();
    other.join();
    ExpectCopyMatches(*ann);
    EXPECT_EQ(UsedSubscriberSlots(ann->Net()), 50);
    EXPECT_EQ(ann->client->GetSecurityLevel(), 2);
    EXPECT_EQ(server.Counters().subscriberReads.load(), 51); // every used slot and the first free one, once
    ASSERT_THAT(server.Sessions(), SizeIs(1));
    EXPECT_EQ(server.Sessions()[0].userName, "ann");
}

// A Network-tab dial run copies its company under "DatabaseLock" on its own thread while the client reloads.
TEST_F(LanIntegrationTest, ADialRunsCompanyCopyNeverMeetsAReloadHalfWay) {
    auto ann = Client("ann");
    std::atomic<bool> done{false};
    int torn = 0;
    std::thread dialRun([&] {
        while (!done) {
            std::lock_guard lock(ann->tc.console.databaseLock);
            CompanyRecord copy = ann->Net().companies[1];
            if (!IsEmptyText(copy.Name) && (GetText(copy.Name) != "TwoWay" || copy.TwoWay != 1))
                ++torn;
        }
    });
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ann->client->SyncWithServer(), 1);
        ann->client->AbortConnection();
    }
    done = true;
    dialRun.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(LanIntegrationTest, TheConnectJobHoldsTheScanOffUntilItsDownloadIsDone) {
    auto ann = Client("ann");
    Console& console = ann->tc.console;
    std::atomic<int> clicks{0};
    std::string played;
    console.playSound = [&](const std::string& path) {
        played = path;
        ++clicks;
    };
    console.serverRole = true;
    StartNetworkClient(console); // the server has no client
    EXPECT_FALSE(console.networkScanStep);

    console.serverRole = false;
    setenv(lan::kLanPortEnv, std::to_string(server.Port()).c_str(), 1);
    StartNetworkClient(console);
    unsetenv(lan::kLanPortEnv);
    EXPECT_EQ(console.networkBusy, 1);
    console.reconnectWanted = 1;
    PollServer(console, *console.netClient); // skipped while busy
    EXPECT_EQ(console.reconnectWanted, 1);
    ASSERT_TRUE(console.workers.WaitIdle(10000));
    EXPECT_EQ(console.networkBusy, 0);
    EXPECT_EQ(clicks, 0); // the player belongs to the scan's thread
    EXPECT_TRUE(console.netClient->Connected());
    ExpectCopyMatches(*ann);

    // The headless runner's queue scan drives the step: first after 100 ms, then every 2,000 ms.
    console.reconnectWanted = 0;
    test::FakeClock clock;
    console.clock = &clock;
    std::atomic<bool> stop{false};
    int64_t start = clock.NowMs();
    int64_t checks = server.Counters().subscriberChecks.load();
    RunHeadlessLoop(console, stop, [&](int timeoutMs) {
        clock.SleepMs(timeoutMs);
        if (clock.NowMs() - start >= 4150)
            stop = true;
    });
    console.clock = &SystemClock::Instance();
    EXPECT_EQ(server.Counters().subscriberChecks.load() - checks, 3); // at 100, 2,100 and 4,100 ms
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(played, ann->tc.dir.File("click.wav"));
}

TEST_F(LanIntegrationTest, ALockKeepsTheOtherClientsWritesOut) {
    auto ann = Client("ann");
    auto bob = Client("bob");
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    ASSERT_EQ(bob->client->SyncWithServer(), 1);
    int slot = SlotOf(ann->Net(), "Unit 07");
    ASSERT_EQ(ann->client->LockNetRecord(slot), 1);
    EXPECT_EQ(bob->client->LockNetRecord(slot), 0);
    std::string owner;
    EXPECT_EQ(bob->client->GetLockOwner(slot, owner), 1);
    EXPECT_THAT(owner, StartsWith("ann / "));
    EXPECT_EQ(ann->client->UnlockNetRecord(slot), 1);
    EXPECT_EQ(bob->client->GetLockOwner(slot, owner), 1);
    EXPECT_EQ(owner, "Not Locked");
    SetText(bob->Net().subscribers[slot].City, "Nowhere");
    EXPECT_EQ(bob->client->WriteNetSubscriber(slot), 0); // not locked by anyone: refused
    PollServer(ann->tc.console, *ann->client);
    ExpectCopyMatches(*ann);
}

// Random edits of every kind, by two clients and by the server's own operator: after each, one poll by every
// client leaves its copy byte for byte a full download, and the polls read only the records whose bytes changed
// (the editor not what its copy already holds).
TEST_F(LanIntegrationTest, RandomEditsReachEveryCopyThroughPollsThatReadOnlyWhatChanged) {
    std::vector<std::unique_ptr<ClientConsole>> clients;
    for (const char* user : {"ann", "bob", "carl"}) {
        clients.push_back(Client(user));
        ASSERT_EQ(clients.back()->client->SyncWithServer(), 1);
    }
    std::mt19937 random(4242);
    auto name = [&] { return "Unit " + std::to_string(random() % 80); }; // new names and old ones again
    auto members = [&](GroupRecord& group) {
        group = GroupRecord{};
        for (int m = 0; m < static_cast<int>(random() % 6); ++m)
            SetText(group.Members[m], name());
    };
    const int editors = static_cast<int>(clients.size()) - 1; // carl only reads
    auto before = Directory::Create();
    for (int step = 0; step < 90; ++step) {
        SCOPED_TRACE(step);
        Read([&](Directory& d) { return *before = d, 0; });
        int64_t reads = server.Counters().subscriberReads.load(), groupReads = server.Counters().groupReads.load();
        ClientConsole& editor = *clients[random() % editors];
        Directory& net = editor.Net();
        int slot = static_cast<int>(random() % UsedSubscriberSlots(net));
        int group = 0;
        for (int s = slot; s < slot + kSubscriberSlots && !group; ++s)
            group = GroupNumberOf(net.subscribers[s % kSubscriberSlots]);
        int heldSlots = 0, heldGroups = 0; // what the editor's own copy holds already
        switch (random() % 6) {
        case 0:
            ASSERT_EQ(editor.client->LockNetRecord(slot), 1);
            SetText(net.subscribers[slot].City, "City " + std::to_string(step));
            if (random() % 2)
                SetText(net.subscribers[slot].Name, name());
            ASSERT_EQ(editor.client->WriteNetSubscriber(slot), 1);
            heldSlots = 1;
            break;
        case 1:
            ASSERT_EQ(editor.client->AddNetSubscriber(test::MakeSubscriber(name(), step % 2, std::to_string(step))), 1);
            break;
        case 2:
            ASSERT_EQ(clients[0]->client->DeleteNetSubscriber(slot), 1);
            break;
        case 3:
            if (group) {
                members(net.groups[group]);
                ASSERT_EQ(editor.client->WriteNetGroup(group), 1);
                heldGroups = 1;
                break;
            }
            [[fallthrough]];
        case 4:
            members(net.groups[0]);
            ASSERT_EQ(editor.client->AddNetGroup("Team " + std::to_string(step), 0), 1);
            break;
        case 5:
            Edit([&](Directory& d) {
                SetText(d.subscribers[slot].Name, name());
                if (group)
                    members(d.groups[group]);
            });
            server.SortLocalSubscribers();
            server.MarkAllGroupsChanged();
            break;
        }
        for (auto& client : clients)
            PollServer(client->tc.console, *client->client);
        int changed = 0, changedGroups = 0;
        Read([&](Directory& d) {
            for (int s = 0; s < kSubscriberSlots; ++s) {
                before->subscribers[s].LockByte = d.subscribers[s].LockByte;
                changed += memcmp(&before->subscribers[s], &d.subscribers[s], sizeof(SubscriberRecord)) != 0;
            }
            for (int g = 0; g < kGroupSlots; ++g)
                changedGroups += memcmp(&before->groups[g], &d.groups[g], sizeof(GroupRecord)) != 0;
            return 0;
        });
        for (auto& client : clients)
            ExpectCopyMatches(*client);
        EXPECT_EQ(clients[2]->tc.console.secondRefresh.exchange(0), changed + changedGroups > 0 ? 1 : 0);
        const int copies = static_cast<int>(clients.size());
        int64_t readsNow = server.Counters().subscriberReads.load() - reads;
        EXPECT_TRUE(readsNow <= copies * changed && readsNow >= copies * changed - heldSlots) << readsNow;
        int64_t groupReadsNow = server.Counters().groupReads.load() - groupReads;
        EXPECT_TRUE(groupReadsNow <= copies * changedGroups && groupReadsNow >= copies * changedGroups - heldGroups)
            << groupReadsNow;
    }
}

TEST_F(LanIntegrationTest, ARefusedLoginIsNotRetried) {
    auto eve = Client("ann", "wrong");
    EXPECT_EQ(eve->client->SyncWithServer(), 0);
    EXPECT_TRUE(eve->client->GaveUp());
    EXPECT_TRUE(eve->tc.WaitForStatus(kLoginRefusedText));
    EXPECT_EQ(UsedSubscriberSlots(eve->Net()), 0);
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().empty(); }));
    // Not even once the password is right: only a restart tries again.
    eve->tc.console.settings.Update([](Settings& s) { s.Password = "pw"; });
    for (int scan = 0; scan < 3; ++scan)
        PollServer(eve->tc.console, *eve->client);
    EXPECT_FALSE(eve->client->Connected());
    EXPECT_TRUE(server.Sessions().empty());
}

TEST_F(LanIntegrationTest, AFullServerIsTriedAgainByTheNextScan) {
    std::vector<std::unique_ptr<test::RawClient>> others; // operators take the slots, strangers cannot
    for (int k = 0; k < lan::kSessionSlots; ++k) {
        others.push_back(std::make_unique<test::RawClient>(server.Port()));
        ASSERT_EQ(others.back()->Request(lan::EncodeLogin("ann", "pw"), 3), "1\r\n");
    }
    auto ann = Client("ann");
    EXPECT_EQ(ann->client->SyncWithServer(), 0); // refused for want of a slot
    EXPECT_FALSE(ann->client->GaveUp());
    others.pop_back();
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().size() < lan::kSessionSlots; }));
    PollServer(ann->tc.console, *ann->client);
    EXPECT_TRUE(ann->client->Connected());
    EXPECT_EQ(UsedSubscriberSlots(ann->Net()), 50);
}

TEST_F(LanIntegrationTest, TwoWayPagesLeaveTicketsThatTheClientCollects) {
    auto ann = Client("ann");
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    ann->tc.console.settings.Update([](Settings& s) { s.SendViaServer = 1; });
    int slot = SlotOf(ann->Net(), "Unit 03"); // of the two-way company
    ComposedPage page;
    page.message = "Call dispatch";
    page.currentTab = kNetworkTab;
    SendOutcome outcome = SendPage(ann->tc.console, page, {slot});
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_THAT(ann->tc.op.ResultLines(), ElementsAre(kSentToServerText));
    // The server's job has finished the page and marked its ticket as not yet collected.
    auto ticketReady = [&] {
        std::vector<std::string> names = test::ListDir(tc.dir.File(kTrackingFolder));
        return snpp.Commands().size() == 5 && names.size() == 1 &&
               HasUnreadMark(tc.dir.File(std::string(kTrackingFolder) + "/" + names[0]));
    };
    ASSERT_TRUE(WaitFor(ticketReady));
    std::vector<std::string> tickets = test::ListDir(tc.dir.File(kTrackingFolder));
    ASSERT_THAT(tickets, SizeIs(1));
    EXPECT_EQ(tickets[0], "Unit 03.31337.5.1-ann"); // name, message tag, pass code, company, owner
    EXPECT_THAT(snpp.Commands(), ElementsAre("2WAY", "PAGE 1003", "DATA", "SEND", "QUIT"));

    PollServer(ann->tc.console, *ann->client);
    std::string copy = ann->tc.dir.File(std::string(kTrackingFolder) + "/" + tickets[0]);
    EXPECT_EQ(test::ReadFile(copy), test::ReadFile(tc.dir.File(std::string(kTrackingFolder) + "/" + tickets[0])));
    EXPECT_TRUE(HasUnreadMark(copy));
    EXPECT_FALSE(HasUnreadMark(tc.dir.File(std::string(kTrackingFolder) + "/" + tickets[0])));
    EXPECT_EQ(ann->tc.console.received, 1);
    EXPECT_EQ(ann->tc.console.trackingRefresh, 1);
    EXPECT_THAT(ann->tc.op.ResultLines(), ElementsAre(kSentToServerText, tickets[0]));

    // Collected once: the next scan finds nothing new, and bob never sees ann's tickets.
    ann->tc.console.received = 0;
    PollServer(ann->tc.console, *ann->client);
    EXPECT_EQ(ann->tc.console.received, 0);
    auto bob = Client("bob");
    ASSERT_EQ(bob->client->SyncWithServer(), 1);
    EXPECT_EQ(CollectNetTickets(bob->tc.console, *bob->client), 0);
    EXPECT_LT(bob->client->FetchNetTicket(tickets[0]), 1); // "-1": nothing written, still connected
    EXPECT_FALSE(test::FileExists(bob->tc.dir.File(std::string(kTrackingFolder) + "/" + tickets[0])));
    EXPECT_TRUE(bob->client->Connected());
}

} // namespace
} // namespace brimlow
