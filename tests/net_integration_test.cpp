// A real server and real clients of this console in one process, on loopback: login and download, edits
// under lock seen by another client's poll, deletes, locks of a session that dies, a refused login, pages of
// every type handed over and delivered by the server's transports, and tickets collected by the client.
#include "app/send_page.h"
#include "directory/data_files.h"
#include "network/net_client.h"
#include "network/net_client_scan.h"
#include "network/server.h"
#include "queue/file_listing.h"
#include "queue/queue_writer.h"
#include "tests/server_fixture.h"
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "tracking/unread_mark.h"
#include "transports/smtp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brimlow {
namespace {

using lan::WaitFor;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

// One client console with its own data directory and its client.
struct ClientConsole {
    ClientConsole(int port, const std::string& user, const std::string& password) {
        MakeFolder(tc.dir.File(kTrackingFolder));
        tc.console.settings.Update([&](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = user;
            s.Password = password;
        });
        client = std::make_shared<NetClient>(tc.console);
        client->SetPort(port);
        tc.console.netClient = client;
    }
    Directory& Net() { return *tc.console.network; }

    test::TestConsole tc;
    std::shared_ptr<NetClient> client;
};

// The fields that travel in a Read Customer reply.
void ExpectSameEntry(const SubscriberRecord& got, const SubscriberRecord& want, int slot) {
    EXPECT_EQ(GetText(got.Name), GetText(want.Name)) << slot;
    EXPECT_EQ(GetText(got.PIN), GetText(want.PIN)) << slot;
    EXPECT_EQ(got.Company, want.Company) << slot;
    EXPECT_EQ(GetText(got.City), GetText(want.City)) << slot;
    EXPECT_EQ(GetText(got.Email), GetText(want.Email)) << slot;
    if (!IsEmptyText(want.Name)) {
        EXPECT_EQ(got.Tab, kNetworkTab) << slot;
    }
}

class LanIntegrationTest : public ::testing::Test {
protected:
    LanIntegrationTest() : server(host.console, lan::FastTimings()) {
        server.Operators().Set(0, "ann", "pw", kReadWriteDelete);
        server.Operators().Set(1, "bob", "pw", kReadWrite);
        Directory& d = *host.console.local;
        d.companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port());
        d.companies[1] = test::MakeCompany("TwoWay", "127.0.0.1", snpp.Port());
        d.companies[1].TwoWay = 1;
        for (int k = 0; k < 48; ++k) {
            char name[16];
            snprintf(name, sizeof name, "Unit %02d", k);
            SubscriberRecord r = test::MakeSubscriber(name, k % 2, std::to_string(1000 + k));
            SetText(r.City, "City " + std::to_string(k));
            SetText(r.Email, "unit" + std::to_string(k) + "@example.net");
            AddSubscriber(d, r);
        }
        test::AddGroup(d, "All odd", {"Unit 01", "Unit 03", "Unit 05"});
        test::AddGroup(d, "Zulu", {"Unit 00"});
        SortSubscribers(d); // 50 entries
    }
    void SetUp() override { ASSERT_TRUE(server.Start(0)); }
    void TearDown() override { server.Stop(); }

    std::unique_ptr<ClientConsole> Client(const std::string& user, const std::string& password = "pw") {
        return std::make_unique<ClientConsole>(server.Port(), user, password);
    }

    void ExpectCopyMatches(ClientConsole& c) {
        std::lock_guard lock(host.console.databaseLock);
        const Directory& d = *host.console.local;
        for (int s = 0; s < kSubscriberSlots; ++s)
            ExpectSameEntry(c.Net().subscribers[s], d.subscribers[s], s);
        EXPECT_EQ(memcmp(c.Net().groups.data(), d.groups.data(), sizeof d.groups), 0);
        EXPECT_EQ(memcmp(c.Net().companies.data(), d.companies.data(), sizeof d.companies), 0);
    }

    int SlotOf(const Directory& d, const std::string& name) {
        for (int s = 0; s < kSubscriberSlots; ++s)
            if (GetText(d.subscribers[s].Name) == name)
                return s;
        return -1;
    }

    test::SnppSimulator snpp{test::SnppScript{}};
    test::TestConsole host; // the server console
    lan::NetServer server;
};

TEST_F(LanIntegrationTest, LoginDownloadsTheWholeDirectory) {
    auto ann = Client("ann");
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    ExpectCopyMatches(*ann);
    EXPECT_EQ(UsedSubscriberSlots(ann->Net()), 50);
    EXPECT_EQ(ann->client->GetSecurityLevel(), 2);
    EXPECT_EQ(server.Counters().subscriberReads.load(), 51); // every used slot and the first free one
    ASSERT_THAT(server.Sessions(), SizeIs(1));
    EXPECT_EQ(server.Sessions()[0].userName, "ann");
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

TEST_F(LanIntegrationTest, LocksOfAClientThatDiesAreReleased) {
    auto ann = Client("ann");
    auto bob = Client("bob");
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    ASSERT_EQ(bob->client->SyncWithServer(), 1);
    ASSERT_EQ(ann->client->LockNetRecord(5), 1);
    ASSERT_EQ(ann->client->LockNetRecord(9), 1);
    EXPECT_EQ(bob->client->LockNetRecord(5), 0);

    ann.reset(); // the process is gone: its socket closes with a reset
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().size() == 1; }));
    EXPECT_EQ(bob->client->LockNetRecord(5), 1);
    EXPECT_EQ(bob->client->LockNetRecord(9), 1);
}

TEST_F(LanIntegrationTest, ARefusedLoginIsNotRetried) {
    auto eve = Client("ann", "wrong");
    EXPECT_EQ(eve->client->SyncWithServer(), 0);
    EXPECT_TRUE(eve->client->GaveUp());
    EXPECT_TRUE(eve->tc.WaitForStatus(kLoginRefusedText));
    EXPECT_EQ(UsedSubscriberSlots(eve->Net()), 0);
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().empty(); }));
    for (int scan = 0; scan < 3; ++scan)
        PollServer(eve->tc.console, *eve->client);
    EXPECT_FALSE(eve->client->Connected());
    EXPECT_TRUE(server.Sessions().empty());
}

TEST_F(LanIntegrationTest, AFullServerIsTriedAgainByTheNextScan) {
    std::vector<std::unique_ptr<test::RawClient>> others;
    for (int k = 0; k < lan::kSessionSlots; ++k)
        others.push_back(std::make_unique<test::RawClient>(server.Port()));
    ASSERT_THAT(others.back()->Greeting(), StartsWith("Network Session Started for"));
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
        std::vector<std::string> names = test::ListDir(host.dir.File(kTrackingFolder));
        return snpp.Commands().size() == 5 && names.size() == 1 &&
               HasUnreadMark(host.dir.File(std::string(kTrackingFolder) + "/" + names[0]));
    };
    ASSERT_TRUE(WaitFor(ticketReady));
    std::vector<std::string> tickets = test::ListDir(host.dir.File(kTrackingFolder));
    ASSERT_THAT(tickets, SizeIs(1));
    EXPECT_THAT(tickets[0], HasSubstr("-ann"));
    EXPECT_THAT(snpp.Commands(), ElementsAre("2WAY", "PAGE 1003", "DATA", "SEND", "QUIT"));

    PollServer(ann->tc.console, *ann->client);
    std::string copy = ann->tc.dir.File(std::string(kTrackingFolder) + "/" + tickets[0]);
    EXPECT_EQ(test::ReadFile(copy), test::ReadFile(host.dir.File(std::string(kTrackingFolder) + "/" + tickets[0])));
    EXPECT_TRUE(HasUnreadMark(copy));
    EXPECT_FALSE(HasUnreadMark(host.dir.File(std::string(kTrackingFolder) + "/" + tickets[0])));
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
}

// Pages of each type, for a Network-tab entry (Server Page) and for a local entry (Client Page), delivered by
// the server: SNPP at once, the modem queue, e-mail through a real SMTP server.
class LanPageTest : public LanIntegrationTest {
protected:
    LanPageTest() {
        MakeFolder(mail);
        host.console.settings.Update([](Settings& s) {
            s.OutboundMailServer = "127.0.0.1";
            s.ReturnAddress = "server@example.com";
        });
        setenv(kSmtpPortVariable, std::to_string(smtp.Port()).c_str(), 1);
    }
    void SetUp() override {
        LanIntegrationTest::SetUp();
        ann = Client("ann");
        Directory& local = *ann->tc.console.local;
        local.companies[4] = test::MakeCompany("Own Co", "127.0.0.1", snpp.Port());
        SubscriberRecord own = test::MakeSubscriber("Own Pager", 4, "777");
        SetText(own.Email, "own@example.net");
        AddSubscriber(local, own);
        ann->tc.console.settings.Update([](Settings& s) {
            s.SendViaServer = 1;
            s.SendAllViaServer = 1;
        });
    }
    ~LanPageTest() override { unsetenv(kSmtpPortVariable); }

    void Send(SendMode mode, int tab, int slot) {
        ComposedPage page;
        page.mode = mode;
        page.message = "Gas leak";
        page.subject = "Alert";
        page.currentTab = tab;
        SendOutcome outcome = SendPage(ann->tc.console, page, {slot});
        EXPECT_EQ(outcome.failures, 0);
        EXPECT_FALSE(outcome.queued);
    }

    std::string mail = host.dir.File("mail");
    test::PeerProcess smtp{{"/usr/bin/python3", test::PeerScript("smtp_sink.py"), mail}};
    std::unique_ptr<ClientConsole> ann;
};

TEST_F(LanPageTest, ServerPagesOfEachTypeAreDelivered) {
    ASSERT_GT(smtp.Port(), 0);
    ASSERT_EQ(ann->client->SyncWithServer(), 1);
    int slot = SlotOf(ann->Net(), "Unit 04"); // company 0, one-way

    Send(SendMode::NetPage, kNetworkTab, slot);
    ASSERT_TRUE(WaitFor([&] { return snpp.Commands().size() == 4; }));
    EXPECT_THAT(snpp.Commands(), ElementsAre("PAGE 1004", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(snpp.Messages(), ElementsAre("Gas leak\n"));

    Send(SendMode::Page, kNetworkTab, slot);
    std::vector<std::string> queued = test::ListDir(host.dir.File("0"));
    ASSERT_THAT(queued, SizeIs(1));
    EXPECT_THAT(queued[0], StartsWith("MSG"));
    EXPECT_THAT(test::ReadFile(host.dir.File("0/" + queued[0])), HasSubstr("Gas leak"));

    Send(SendMode::Email, kNetworkTab, slot);
    ASSERT_TRUE(WaitFor([&] { return test::ListDir(mail).size() == 2; }));
    std::string message = test::ReadFile(mail + "/1.eml");
    EXPECT_THAT(message, HasSubstr("unit4@example.net"));
    EXPECT_THAT(message, HasSubstr("Alert"));
    EXPECT_THAT(message, HasSubstr("Gas leak"));
    EXPECT_EQ(ann->tc.console.sentPages, 3);
}

TEST_F(LanPageTest, ClientPagesOfEachTypeCarryTheLocalRecords) {
    ASSERT_GT(smtp.Port(), 0);
    ASSERT_EQ(ann->client->SyncWithServer(), 1);

    Send(SendMode::NetPage, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return snpp.Commands().size() == 4; }));
    EXPECT_THAT(snpp.Commands(), ElementsAre("PAGE 777", "DATA", "SEND", "QUIT"));

    Send(SendMode::Page, 0, 0);
    std::string folder = host.dir.File("Queue/ann/4");
    auto intakeWritten = [&] {
        std::vector<std::string> names = test::ListDir(folder);
        return names.size() == 2 && test::ReadFile(folder + "/" + names[1]).find("Gas leak") != std::string::npos;
    };
    ASSERT_TRUE(WaitFor(intakeWritten));
    std::vector<std::string> intake = test::ListDir(folder);
    EXPECT_EQ(intake[0], kCompanyDatFile);
    EXPECT_THAT(intake[1], StartsWith("MSG"));
    EXPECT_THAT(test::ReadFile(folder + "/" + intake[0]), StartsWith("Own Co"));
    EXPECT_THAT(test::ReadFile(folder + "/" + intake[1]), HasSubstr("Gas leak"));

    Send(SendMode::Email, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return test::ListDir(mail).size() == 2; }));
    EXPECT_THAT(test::ReadFile(mail + "/1.eml"), HasSubstr("own@example.net"));
    EXPECT_EQ(ann->tc.console.sentPages, 3);
    EXPECT_THAT(ann->tc.op.MessageTexts(), IsEmpty());
}

} // namespace
} // namespace brimlow
