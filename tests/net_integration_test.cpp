// A real server and real clients of this console in one process, on loopback: the connect job and the
// download, edits under lock seen by another client's poll, deletes, adds, a refused login, a full server, and a
// two-way page handed over, delivered by the server and its ticket collected by the client.
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
    RunHeadlessLoop(console, stop, [&] {
        if (clock.NowMs() - start >= 4150)
            stop = true;
    });
    console.clock = &SystemClock::Instance();
    EXPECT_EQ(server.Counters().subscriberChecks.load() - checks, 3); // at 100, 2,100 and 4,100 ms
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(played, ann->tc.dir.File("click.wav"));
}

TEST_F(LanIntegrationTest, AnEditUnderLockReachesTheOtherClientsPoll) {
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
    EXPECT_EQ(ann->client->LockNetRecord(slot), 0); // twice from the same session is refused too

    SetText(ann->Net().subscribers[slot].City, "Tulsa");
    SetText(ann->Net().subscribers[slot].PIN, "4242");
    EXPECT_EQ(ann->client->WriteNetSubscriber(slot), 1);
    EXPECT_EQ(ann->client->UnlockNetRecord(slot), 1);
    EXPECT_EQ(bob->client->GetLockOwner(slot, owner), 1);
    EXPECT_EQ(owner, "Not Locked");

    PollServer(bob->tc.console, *bob->client);
    EXPECT_EQ(GetText(bob->Net().subscribers[slot].City), "Tulsa");
    EXPECT_EQ(GetText(bob->Net().subscribers[slot].PIN), "4242");
    EXPECT_EQ(bob->tc.console.secondRefresh, 1);
    ExpectCopyMatches(*bob);

    // A write without a lock is refused and changes nothing.
    SetText(bob->Net().subscribers[slot].City, "Nowhere");
    EXPECT_EQ(bob->client->WriteNetSubscriber(slot), 0);
    PollServer(ann->tc.console, *ann->client);
    EXPECT_EQ(GetText(ann->Net().subscribers[slot].City), "Tulsa");
}

TEST_F(LanIntegrationTest, ADeleteOfSlotTenIsReReadFromSlotNineOn) {
    auto ann = Client("ann");
    auto bob = Client("bob");
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    ASSERT_EQ(bob->client->SyncWithServer(), 1);
    int64_t readsBefore = server.Counters().subscriberReads.load();
    EXPECT_EQ(ann->client->DeleteNetSubscriber(10), 1);

    EXPECT_EQ(bob->client->CheckNetSubscribers(), 1);
    EXPECT_EQ(server.Counters().subscriberReads.load() - readsBefore, 41); // slots 9 to 49
    EXPECT_TRUE(IsEmptyText(bob->Net().subscribers[49].Name));
    EXPECT_EQ(UsedSubscriberSlots(bob->Net()), 49);
    ExpectCopyMatches(*bob);

    // Deleting a group entry empties its group in every copy through the group poll.
    int zulu = SlotOf(bob->Net(), "Zulu");
    int group = -bob->Net().subscribers[zulu].Company;
    EXPECT_EQ(ann->client->DeleteNetSubscriber(zulu), 1);
    EXPECT_EQ(ann->client->CheckNetGroups(), 1);
    EXPECT_TRUE(IsEmptyText(ann->Net().groups[group].Members[0]));
    ann->client->CheckNetSubscribers();
    ExpectCopyMatches(*ann);
}

TEST_F(LanIntegrationTest, AddsComeBackThroughThePolls) {
    auto ann = Client("ann");
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    EXPECT_EQ(ann->client->AddNetSubscriber(test::MakeSubscriber("Aaron", 0, "9")), 1);
    SetText(ann->Net().groups[0].Members[0], "Aaron");
    EXPECT_EQ(ann->client->AddNetGroup("Night", 0), 1);
    EXPECT_TRUE(IsEmptyText(ann->Net().groups[0].Members[0]));
    PollServer(ann->tc.console, *ann->client);
    ExpectCopyMatches(*ann);
    EXPECT_EQ(GetText(ann->Net().subscribers[0].Name), "Aaron");
    EXPECT_GE(SlotOf(ann->Net(), "Night"), 0);
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
