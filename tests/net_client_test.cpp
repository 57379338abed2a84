// The LAN client against a simulated server: frames byte for byte, the download, the polls, tickets, and a
// server that misbehaves (junk, short replies, a close in mid-reply, silence).
#include "app/headless.h"
#include "app/send_page.h"
#include "network/net_client.h"
#include "network/net_client_scan.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/queue_writer.h"
#include "tests/lan_server_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/support/line_peer.h"
#include "tests/support/test_console.h"
#include "tracking/unread_mark.h"

#include <cstring>
#include <gmock/gmock.h>
#include <random>
#include <gtest/gtest.h>

namespace brimlow {
namespace {

using test::LanServerSimulator;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Bytes(const void* data, size_t size) { return std::string(static_cast<const char*>(data), size); }

TEST(NetClientNamesTest, OnlyPlainTicketNamesMayBecomeFiles) {
    EXPECT_TRUE(IsSafeTicketName("Ann.31337.5.0-ann"));
    EXPECT_TRUE(IsSafeTicketName("A\\B.1.2.0-ann")); // an ordinary character here
    for (const std::string& bad : {std::string(), std::string("."), std::string(".."), std::string("../COMPANY.DAT"),
                                   std::string("a/b"), std::string("a\x03"), std::string(260, 'x')})
        EXPECT_FALSE(IsSafeTicketName(bad)) << bad;
}

class NetClientTest : public ::testing::Test {
protected:
    NetClientTest() {
        Directory& dir = *sim.dir;
        dir.companies[0] = test::MakeCompany("Metro", "10.0.0.5", 444);
        dir.companies[7] = test::MakeCompany("North", "10.0.0.7", 445);
        AddSubscriber(dir, test::MakeSubscriber("Ann", 0, "11"));
        AddSubscriber(dir, test::MakeSubscriber("Bob", 7, "22"));
        test::AddGroup(dir, "Desks", {"Ann", "Bob"});
        SortSubscribers(dir);
        tc.console.settings.Update([](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = "ann";
            s.Password = "secret";
        });
        client = std::make_shared<NetClient>(tc.console, Quick());
        client->SetPort(sim.Port());
    }

    static NetClientTimings Quick() {
        NetClientTimings t;
        t.socketTimeoutMs = 200;
        t.replyLimitMs = 600;
        return t;
    }

    Directory& Net() { return *tc.console.network; }

    void ExpectCopyMatchesServer() {
        for (int s = 0; s < kSubscriberSlots; ++s) {
            const SubscriberRecord& want = sim.dir->subscribers[s];
            const SubscriberRecord& got = Net().subscribers[s];
            ASSERT_EQ(GetText(got.Name), GetText(want.Name)) << s;
            ASSERT_EQ(GetText(got.PIN), GetText(want.PIN)) << s;
            ASSERT_EQ(got.Company, want.Company) << s;
            if (!IsEmptyText(want.Name)) {
                ASSERT_EQ(got.Tab, 3);
            }
        }
        EXPECT_EQ(memcmp(Net().groups.data(), sim.dir->groups.data(), sizeof(Net().groups)), 0);
        EXPECT_EQ(memcmp(Net().companies.data(), sim.dir->companies.data(), sizeof(Net().companies)), 0);
    }

    std::string NetworkLog() { return test::ReadFile(tc.dir.File(kNetworkLog)); }

    LanServerSimulator sim;
    test::TestConsole tc;
    std::shared_ptr<NetClient> client;
};

TEST_F(NetClientTest, SyncLogsInAndDownloadsEveryTable) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    EXPECT_TRUE(client->Connected());
    ExpectCopyMatchesServer();
    std::vector<std::string> requests = sim.Requests();
    ASSERT_EQ(requests.size(), 1u + 4 + 200 + 100);
    EXPECT_EQ(requests[0], lan::EncodeLogin("ann", "secret"));
    EXPECT_EQ(sim.Codes(), "0" + std::string(4, '2') + std::string(200, '3') + std::string(100, '?'));
    EXPECT_EQ(requests[4], lan::EncodeIndex(lan::Request::ReadCustomer, 3)); // the first empty slot ends the subscriber download

    sim.ClearRequests();
    EXPECT_EQ(client->SyncWithServer(), 1); // connected: only the subscriber poll
    EXPECT_EQ(sim.Codes(), "8");
    EXPECT_EQ(client->ConnectToServer("127.0.0.1", sim.Port()), kAlreadyConnected);
    EXPECT_EQ(sim.Connections(), 1);
}

TEST_F(NetClientTest, TwoSyncsAtOnceMakeOneConnection) {
    std::thread other([&] { client->SyncWithServer(); });
    client->SyncWithServer();
    other.join();
    EXPECT_EQ(sim.Connections(), 1);
    ExpectCopyMatchesServer();
}

TEST_F(NetClientTest, AnEmptyServerStillGivesItsGroupsAndCompanies) {
    sim.dir->subscribers = {};
    ASSERT_EQ(client->SyncWithServer(), 1);
    EXPECT_EQ(sim.Codes(), "02" + std::string(200, '3') + std::string(100, '?'));
    EXPECT_EQ(GetText(Net().companies[7].Name), "North");
}

TEST_F(NetClientTest, ARefusedLoginGivesUpForTheRestOfTheRun) {
    sim.password = "other";
    EXPECT_EQ(client->SyncWithServer(), 0);
    EXPECT_TRUE(client->GaveUp());
    EXPECT_FALSE(client->Connected());
    EXPECT_TRUE(tc.WaitForStatus(kLoginRefusedText));
    EXPECT_EQ(tc.console.reconnectWanted, 1);

    PollServer(tc.console, *client); // the scan sees the reconnect wish and does not reconnect
    EXPECT_EQ(client->SyncWithServer(), 0);
    EXPECT_EQ(sim.Connections(), 1);
    EXPECT_EQ(tc.console.reconnectWanted, 0);
}

TEST_F(NetClientTest, AFullServerIsTriedAgainNotGivenUp) {
    sim.SetGreeting("Network Connection refused for 127.0.0.1\r\n");
    EXPECT_EQ(client->SyncWithServer(), 0);
    EXPECT_FALSE(client->GaveUp());
    EXPECT_EQ(tc.console.reconnectWanted, 1);
    sim.SetGreeting("Network Session Started for 127.0.0.1\r\n");
    PollServer(tc.console, *client);
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(sim.Connections(), 2);
    EXPECT_EQ(sim.Codes().substr(0, 2), "02"); // only the second connection logged in
}

TEST_F(NetClientTest, WithoutAConnectionEveryRequestFailsAtOnce) {
    EXPECT_EQ(client->ReadNetSubscriber(0), 0);
    EXPECT_EQ(client->WriteNetSubscriber(0), 0);
    EXPECT_EQ(client->WriteNetGroup(1), kGroupNotConnected);
    EXPECT_EQ(client->AddNetGroup("x", 0), kGroupNotConnected);
    EXPECT_EQ(client->LockNetRecord(1), 0);
    EXPECT_EQ(client->CheckNetSubscribers(), 0);
    FileFindRecord record;
    EXPECT_EQ(client->FirstNetTicket(record), 0);
    EXPECT_EQ(client->AbortConnection(), 0);
    EXPECT_EQ(tc.console.reconnectWanted, 1);
    EXPECT_EQ(sim.Connections(), 0);

    client->SetPort(test::UnusedPort()); // an unreachable server: quiet, and retried by the next scan
    tc.console.reconnectWanted = 0;
    EXPECT_EQ(client->SyncWithServer(), 0);
    EXPECT_FALSE(client->GaveUp());
    EXPECT_EQ(tc.console.reconnectWanted, 1);
}

TEST_F(NetClientTest, PollsReReadOnlyTheMarkedRecords) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    sim.ClearRequests();
    EXPECT_EQ(client->CheckNetSubscribers(), 0);
    EXPECT_EQ(client->CheckNetGroups(), 0);
    EXPECT_EQ(sim.Codes(), "89");

    sim.Change([](Directory& d) { SetText(d.subscribers[1].PIN, "99"); });
    sim.MarkSubscriber(1);
    sim.MarkSubscriber(1999);
    sim.ClearRequests();
    EXPECT_EQ(client->CheckNetSubscribers(), 1);
    EXPECT_THAT(sim.Requests(), ElementsAre(lan::EncodeEmpty(lan::Request::CheckCust), lan::EncodeIndex(lan::Request::ReadCustomer, 1), lan::EncodeIndex(lan::Request::ReadCustomer, 1999)));
    EXPECT_EQ(GetText(Net().subscribers[1].PIN), "99");

    const int group = 1; // Desks
    sim.Change([&](Directory& d) { SetText(d.groups[group].Members[2], "Cy"); });
    sim.MarkGroup(group);
    sim.ClearRequests();
    EXPECT_EQ(client->CheckNetGroups(), 1);
    EXPECT_THAT(sim.Requests(), ElementsAre(lan::EncodeEmpty(lan::Request::CheckGroup), lan::EncodeIndex(lan::Request::ReadGroup, group)));
    ExpectCopyMatchesServer();

    // A group emptied on the server is emptied here too.
    sim.Change([&](Directory& d) { d.groups[group] = GroupRecord{}; });
    sim.MarkGroup(group);
    EXPECT_EQ(client->CheckNetGroups(), 1);
    EXPECT_TRUE(IsEmptyText(Net().groups[group].Members[0]));
}

TEST_F(NetClientTest, RequestsSendTheCopyAndReturnTheServersAnswer) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    sim.ClearRequests();
    SetText(Net().subscribers[0].City, "Tulsa");
    Net().subscribers[0].LockByte = kLockedByLocalEditor;
    EXPECT_EQ(client->LockNetRecord(0), 1);
    EXPECT_EQ(client->WriteNetSubscriber(0), 1);
    EXPECT_EQ(client->UnlockNetRecord(0), 1);
    EXPECT_EQ(client->DeleteNetSubscriber(2), 1);
    EXPECT_EQ(client->GetSecurityLevel(), 2);
    std::string owner;
    EXPECT_EQ(client->GetLockOwner(0, owner), 1);
    EXPECT_EQ(owner, "Not Locked");
    SetText(Net().groups[0].Members[0], "Ann");
    EXPECT_EQ(client->AddNetGroup("Night", 0), 1);
    EXPECT_TRUE(IsEmptyText(Net().groups[0].Members[0])); // the scratch slot is emptied
    std::vector<std::string> r = sim.Requests();
    ASSERT_EQ(r.size(), 7u);
    SubscriberRecord sent = Net().subscribers[0];
    sent.LockByte = 0; // only the server locks; a write always ends the lock
    EXPECT_EQ(r[1], lan::EncodeWriteCustomer(0, sent));
    EXPECT_EQ(r[1].substr(6 + offsetof(SubscriberRecord, City), 5), "Tulsa");
    EXPECT_EQ(r[3], lan::EncodeIndex(lan::Request::DeleteCust, 2));

    sim.SetOverride([](const std::string& req) -> std::optional<LanServerSimulator::Reply> {
        if (req[1] == '4')
            return LanServerSimulator::Reply{"0\r\n"};
        if (req[1] == '6')
            return LanServerSimulator::Reply{"bob / desk7"};
        return std::nullopt;
    });
    EXPECT_EQ(client->LockNetRecord(0), 0);
    EXPECT_EQ(client->GetLockOwner(0, owner), 1);
    EXPECT_EQ(owner, "bob / desk7");
    EXPECT_EQ(client->LockNetRecord(kSubscriberSlots), 0); // out of range: nothing is sent
    EXPECT_EQ(sim.Requests().size(), 9u);
}

TEST_F(NetClientTest, TicketsAreCollectedIntoTheTrackingFolder) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    MakeFolder(tc.dir.File("Tracking"));
    sim.AddTicket("Ann.31337.5.0-ann", "0001\r\n960 31337 5 OK\r\n");
    sim.AddTicket("Bob.4.1.7-ann", std::string(5000, 't'));
    sim.AddTicket("../Escape-ann", "x");
    sim.ClearRequests();
    EXPECT_EQ(CollectNetTickets(tc.console, *client), 2);
    EXPECT_EQ(test::ReadFile(tc.dir.File("Tracking/Ann.31337.5.0-ann")), "0001\r\n960 31337 5 OK\r\n");
    EXPECT_EQ(test::ReadFile(tc.dir.File("Tracking/Bob.4.1.7-ann")), std::string(4000, 't'));
    EXPECT_TRUE(HasUnreadMark(tc.dir.File("Tracking/Ann.31337.5.0-ann")));
    EXPECT_FALSE(test::FileExists(tc.dir.File("Escape-ann")));
    EXPECT_THAT(tc.op.ResultLines(), ElementsAre("Ann.31337.5.0-ann", "Bob.4.1.7-ann"));
    EXPECT_EQ(sim.Codes(), "DFEFEE"); // the unsafe name is never asked for
    EXPECT_EQ(tc.console.received, 1);
    EXPECT_EQ(tc.console.trackingRefresh, 1);
    EXPECT_EQ(tc.console.secondRefresh, 1);

    EXPECT_LT(client->FetchNetTicket("Gone-ann"), 1);
    EXPECT_FALSE(test::FileExists(tc.dir.File("Tracking/Gone-ann")));
    EXPECT_TRUE(client->Connected());
}

TEST_F(NetClientTest, AServerThatOffersOneTicketForEverCannotHoldTheScan) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    MakeFolder(tc.dir.File("Tracking"));
    sim.SetOverride([](const std::string& req) -> std::optional<LanServerSimulator::Reply> {
        if (req[1] != 'D' && req[1] != 'E' && req[1] != 'F')
            return std::nullopt;
        if (req[1] == 'F')
            return LanServerSimulator::Reply{"0001x"};
        std::string record(280, '\0');
        memcpy(record.data() + 20, "Loop-ann", 8);
        return LanServerSimulator::Reply{record};
    });
    EXPECT_EQ(CollectNetTickets(tc.console, *client), kTicketsPerScan);

    // Nor one whose name may never become a file here.
    sim.SetOverride([](const std::string& req) -> std::optional<LanServerSimulator::Reply> {
        if (req[1] != 'D' && req[1] != 'E')
            return std::nullopt;
        std::string record(280, '\0');
        memcpy(record.data() + 20, "../Loop-ann", 11);
        return LanServerSimulator::Reply{record};
    });
    sim.ClearRequests();
    EXPECT_EQ(CollectNetTickets(tc.console, *client), 0);
    EXPECT_EQ(sim.Codes(), "D" + std::string(kTicketsPerScan, 'E'));
}

// Every way a reply can go wrong: the copy keeps what it had, the connection is given up, the next scan
// reconnects and reloads.
TEST_F(NetClientTest, BrokenRepliesNeverCorruptTheCopy) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    struct Case {
        const char* what;
        char code;
        LanServerSimulator::Reply reply;
        std::function<int()> request;
    };
    std::vector<Case> cases = {
        {"junk length", '2', {"abc"}, [&] { return client->ReadNetSubscriber(0); }},
        {"short text", '2', {"046\"Zed\",\"1", true}, [&] { return client->ReadNetSubscriber(0); }},
        {"count above 200", '3', {"999" + std::string(200, 'x')}, [&] { return client->ReadNetGroup(1); }},
        {"short members", '3', {"002Zed", true}, [&] { return client->ReadNetGroup(1); }},
        {"short company", '?', {std::string(300, 'x'), true}, [&] { return client->ReadNetCompany(0); }},
        {"short bitmap", '8', {std::string(10, '\xff'), true}, [&] { return client->CheckNetSubscribers(); }},
        {"silence", '8', {""}, [&] { return client->CheckNetSubscribers(); }},
        {"status cut", '4', {"1", true}, [&] { return client->LockNetRecord(0); }},
        {"closed page", 'B', {"", true}, [&] { return client->SendServerPage(0, "", "hi", lan::kPageSnpp); }},
        {"junk ticket length", 'F', {"zz\r\n"}, [&] { return client->FetchNetTicket("T-ann"); }},
        {"short ticket", 'F', {"0100abc", true}, [&] { return client->FetchNetTicket("T-ann"); }},
    };
    MakeFolder(tc.dir.File("Tracking"));
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<Directory> before = Directory::Create();
        *before = Net();
        char code = c.code;
        LanServerSimulator::Reply reply = c.reply;
        sim.SetOverride([code, reply](const std::string& req) -> std::optional<LanServerSimulator::Reply> {
            if (req[1] == code)
                return reply;
            return std::nullopt;
        });
        tc.console.reconnectWanted = 0;
        EXPECT_EQ(c.request(), 0);
        EXPECT_FALSE(client->Connected());
        EXPECT_EQ(tc.console.reconnectWanted, 1);
        EXPECT_EQ(memcmp(before.get(), &Net(), sizeof(Directory)), 0);
        EXPECT_FALSE(test::FileExists(tc.dir.File("Tracking/T-ann")));

        sim.SetOverride(nullptr);
        PollServer(tc.console, *client); // reconnects and reloads
        ASSERT_TRUE(client->Connected());
        ExpectCopyMatchesServer();
    }
    EXPECT_THAT(NetworkLog(), HasSubstr(kConnectionAbortedText));
}

// Random junk in place of any reply, then the connection closed: whatever comes, the client neither crashes
// nor leaves a text field of its copy unterminated, and it comes back to a true copy once the server behaves.
TEST_F(NetClientTest, RandomJunkRepliesLeaveAWellFormedCopy) {
    MakeFolder(tc.dir.File("Tracking"));
    sim.AddTicket("T.1.1.0-ann", "ticket");
    std::mt19937 random(20261206);
    std::mutex randomLock;
    sim.SetOverride([&](const std::string& req) -> std::optional<LanServerSimulator::Reply> {
        std::lock_guard lock(randomLock);
        if (req[1] == '0' || random() % 8 != 0)
            return std::nullopt;
        std::string junk(random() % 300, '\0');
        for (char& c : junk)
            c = static_cast<char>(random() % 4 == 0 ? '0' + random() % 10 : random() % 256);
        return LanServerSimulator::Reply{junk, true};
    });
    for (int scan = 0; scan < 60; ++scan) {
        tc.console.reconnectWanted = 1;
        PollServer(tc.console, *client);
    }
    const Directory& net = Net();
    for (const SubscriberRecord& r : net.subscribers) {
        ASSERT_LT(strnlen(r.Name, sizeof r.Name), sizeof r.Name);
        ASSERT_LT(strnlen(r.Email, sizeof r.Email), sizeof r.Email);
    }
    for (const GroupRecord& g : net.groups)
        for (const auto& member : g.Members)
            ASSERT_LT(strnlen(member, kMemberNameSize), static_cast<size_t>(kMemberNameSize));
    for (const CompanyRecord& c : net.companies)
        ASSERT_LT(strnlen(c.Name, sizeof c.Name), sizeof c.Name);
    EXPECT_GT(sim.Connections(), 20); // the junk did break connections, again and again
    for (const std::string& name : test::ListDir(tc.dir.File("Tracking")))
        EXPECT_EQ(test::ReadFile(tc.dir.File("Tracking/" + name)), "ticket") << name; // whole, or not at all

    sim.SetOverride(nullptr);
    client->AbortConnection();
    PollServer(tc.console, *client);
    ExpectCopyMatchesServer();
}

TEST_F(NetClientTest, TheConnectJobHoldsTheBusyFlagUntilTheDownloadIsDone) {
    std::atomic<int> clicks{0};
    std::string played;
    tc.console.playSound = [&](const std::string& path) {
        played = path;
        ++clicks;
    };
    StartConnectJob(tc.console, client);
    EXPECT_EQ(tc.console.networkBusy, 1);
    tc.console.reconnectWanted = 1;
    PollServer(tc.console, *client); // skipped while busy
    EXPECT_EQ(tc.console.reconnectWanted, 1);
    ASSERT_TRUE(tc.console.workers.WaitIdle(10000));
    EXPECT_EQ(tc.console.networkBusy, 0);
    EXPECT_EQ(clicks, 0); // the player belongs to the scan's thread
    PollServer(tc.console, *client);
    PollServer(tc.console, *client);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(played, tc.dir.File("click.wav"));
    ExpectCopyMatchesServer();
}

TEST_F(NetClientTest, StartNetworkClientHooksTheScanStepOnClientsOnly) {
    tc.console.serverRole = true;
    StartNetworkClient(tc.console);
    EXPECT_FALSE(tc.console.netClient);
    EXPECT_FALSE(tc.console.networkScanStep);

    tc.console.serverRole = false;
    setenv(lan::kLanPortEnv, std::to_string(sim.Port()).c_str(), 1);
    StartNetworkClient(tc.console);
    unsetenv(lan::kLanPortEnv);
    ASSERT_TRUE(tc.console.netClient);
    ASSERT_TRUE(tc.console.workers.WaitIdle(10000));
    EXPECT_TRUE(tc.console.netClient->Connected());

    // The headless runner's queue scan drives the step: first after 100 ms, then every 2,000 ms.
    test::FakeClock clock;
    tc.console.clock = &clock;
    std::atomic<bool> stop{false};
    int64_t start = clock.NowMs();
    sim.ClearRequests();
    RunHeadlessLoop(tc.console, stop, [&] {
        if (clock.NowMs() - start >= 4150)
            stop = true;
    });
    tc.console.clock = &SystemClock::Instance();
    EXPECT_EQ(sim.Codes(), "89D89D89D"); // at 100, 2,100 and 4,100 ms
}

class SendViaServerTest : public NetClientTest {
protected:
    SendViaServerTest() {
        Directory& local = *tc.console.local;
        local.companies[3] = test::MakeCompany("Local Co", "10.9.9.9", 4444);
        AddSubscriber(local, test::MakeSubscriber("Cy", 3, "33"));
        AddSubscriber(local, test::MakeSubscriber("Dee", 3, "44"));
        test::AddGroup(local, "Pair", {"Cy", "Dee"});
        SortSubscribers(local);
    }
    ComposedPage Page(SendMode mode, int tab) {
        ComposedPage page;
        page.mode = mode;
        page.message = "Gas leak";
        page.subject = "Alert";
        page.currentTab = tab;
        return page;
    }
};

TEST_F(SendViaServerTest, LocalEntriesGoAsClientPagesOfEachType) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    tc.console.netClient = client;
    tc.console.settings.Update([](Settings& s) { s.SendAllViaServer = 1; });
    int pair = 2; // Cy, Dee, Pair
    ASSERT_EQ(GetText(tc.console.local->subscribers[pair].Name), "Pair");
    for (SendMode mode : {SendMode::NetPage, SendMode::Page, SendMode::Email}) {
        sim.ClearRequests();
        SendOutcome outcome = SendPage(tc.console, Page(mode, 0), {pair});
        EXPECT_EQ(outcome.recipients, 2);
        EXPECT_EQ(outcome.failures, 0);
        EXPECT_FALSE(outcome.queued);
        std::vector<std::string> r = sim.Requests();
        ASSERT_EQ(r.size(), 2u);
        int32_t type = mode == SendMode::NetPage ? lan::kPageSnpp : mode == SendMode::Page ? lan::kPageModem
                                                                                            : lan::kPageEmail;
        std::string subject = mode == SendMode::Email ? "Alert" : "";
        EXPECT_EQ(r[0], lan::EncodeClientPage(type, "ann", subject, "Gas leak", tc.console.local->companies[3],
                                        tc.console.local->subscribers[0]));
        EXPECT_EQ(r[1].substr(1898, 536), Bytes(&tc.console.local->subscribers[1], sizeof(SubscriberRecord)));
    }
    EXPECT_EQ(tc.console.sentPages, 6);
    std::vector<std::string> lines = tc.op.ResultLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kSentToServerText), 6);
    EXPECT_THAT(tc.op.MessageTexts(), IsEmpty());
    EXPECT_TRUE(test::ListDir(tc.dir.File("3")).empty()); // nothing queued locally
}

TEST_F(SendViaServerTest, NetworkEntriesGoAsServerPagesByTheirSlot) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    tc.console.netClient = client;
    tc.console.settings.Update([](Settings& s) { s.SendViaServer = 1; });
    sim.ClearRequests();
    SendOutcome outcome = SendPage(tc.console, Page(SendMode::Email, kNetworkTab), {1});
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_THAT(sim.Requests(), ElementsAre(lan::EncodeServerPage(1, lan::kPageEmail, "Alert", "Gas leak")));
    sim.ClearRequests();
    EXPECT_EQ(client->SendServerPage(1, "", std::string(1200, 'm'), lan::kPageSnpp), 1);
    ASSERT_THAT(sim.Requests(), ::testing::SizeIs(1));
    EXPECT_EQ(sim.Requests()[0].substr(110, 1000), std::string(999, 'm') + '\0'); // its first 999 characters

    // Local entries still go by the console's own transports; a lost server shows the send error.
    sim.ClearRequests();
    SendPage(tc.console, Page(SendMode::Page, 0), {0});
    EXPECT_THAT(sim.Requests(), IsEmpty());
    EXPECT_EQ(test::ListDir(tc.dir.File("3")).size(), 1u);
    client->AbortConnection();
    outcome = SendPage(tc.console, Page(SendMode::NetPage, kNetworkTab), {1});
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_THAT(tc.op.MessageTexts(), Contains(kSendError));
}

} // namespace
} // namespace brimlow
