// The LAN client against a simulated server, for what the real one (net_integration_test) cannot show: the
// request bytes, and a server that misbehaves (junk, short replies, a close in mid-reply, silence, tickets
// without end).
#include "app/send_page.h"
#include "network/net_client.h"
#include "network/net_client_scan.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/queue_writer.h"
#include "tracking/unread_mark.h"
#include "tests/lan_client_console.h"
#include "tests/lan_server_simulator.h"
#include "tests/support/test_console.h"

#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <csignal>
#include <sys/resource.h>

namespace brimlow {
namespace {

using test::LanServerSimulator;
using Reply = LanServerSimulator::Reply;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

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
        SubscriberRecord ann = test::MakeSubscriber("Ann Lee", 0, "11");
        SetText(ann.CompanyName, "North Co");
        SetText(ann.Address, "1 Main St");
        SetText(ann.City, "Springfield");
        SetText(ann.State, "IL");
        SetText(ann.ZIP, "62701");
        SetText(ann.WorkPhone, "555-1000");
        SetText(ann.HomePhone, "555-2000");
        SetText(ann.FAX, "555-3000");
        SetText(ann.Cell, "555-4000");
        SetText(ann.Email, "ann@example.com");
        AddSubscriber(dir, ann);
        AddSubscriber(dir, test::MakeSubscriber("Bob", 7, "22"));
        test::AddGroup(dir, "Desks", {"Ann Lee", "Bob"});
        SortSubscribers(dir);
    }

    static NetClientTimings Quick() {
        NetClientTimings quick;
        quick.socketTimeoutMs = 200;
        quick.replyLimitMs = 600;
        return quick;
    }
    Directory& Net() { return clientConsole.Net(); }
    void ExpectCopyMatchesServer() { clientConsole.ExpectCopyOf(*sim.dir); }

    // Every request of code gets reply instead of its own.
    void Answer(char code, const Reply& reply) {
        sim.SetOverride([code, reply](const std::string& req) -> std::optional<Reply> {
            return req[1] == code ? std::optional<Reply>(reply) : std::nullopt;
        });
    }

    LanServerSimulator sim;
    test::ClientConsole clientConsole{sim.Port(), "ann", "secret", Quick()};
    test::TestConsole& tc = clientConsole.tc;
    std::shared_ptr<NetClient>& client = clientConsole.client;
};

TEST_F(NetClientTest, SyncSendsTheLoginReadsEveryTableAndThenOnlyPolls) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    ExpectCopyMatchesServer();
    std::vector<std::string> requests = sim.Requests();
    ASSERT_EQ(requests.size(), 1u + 4 + 200 + 100);
    EXPECT_EQ(requests[0], lan::EncodeLogin("ann", "secret"));
    EXPECT_EQ(sim.Codes(), "0" + std::string(4, '2') + std::string(200, '3') + std::string(100, '?'));
    EXPECT_EQ(requests[4], lan::EncodeIndex(lan::Request::ReadCustomer, 3)); // the first free slot ends the download

    sim.ClearRequests();
    EXPECT_EQ(client->SyncWithServer(), 1); // connected: only the subscriber poll
    EXPECT_EQ(sim.Codes(), "8");
    EXPECT_EQ(client->ConnectToServer("127.0.0.1", sim.Port()), kAlreadyConnected);
    EXPECT_EQ(sim.Connections(), 1);

    // A server without subscribers still gives its groups and companies.
    LanServerSimulator empty;
    client->AbortConnection();
    client->SetPort(empty.Port());
    ASSERT_EQ(client->SyncWithServer(), 1);
    EXPECT_EQ(empty.Codes(), "02" + std::string(200, '3') + std::string(100, '?'));
}

TEST_F(NetClientTest, WithoutAConnectionRequestsFailAtOnceAndAnUnreachableServerIsTriedAgain) {
    EXPECT_EQ(client->WriteNetSubscriber(0), 0);
    EXPECT_EQ(client->WriteNetGroup(1), kGroupNotConnected);
    EXPECT_EQ(client->AddNetGroup("x", 0), kGroupNotConnected);
    EXPECT_EQ(client->AbortConnection(), 0);
    EXPECT_EQ(sim.Connections(), 0);

    client->SetPort(test::UnusedPort());
    tc.console.reconnectWanted = 0;
    EXPECT_EQ(client->SyncWithServer(), 0);
    EXPECT_FALSE(client->GaveUp());
    EXPECT_EQ(tc.console.reconnectWanted, 1);

    // A server that closes before its greeting (it is going down) did not refuse the login: try again later.
    test::LinePeer closing([](test::PeerSession&) {});
    client->SetPort(closing.Port());
    tc.console.reconnectWanted = 0;
    EXPECT_EQ(client->SyncWithServer(), 0);
    EXPECT_FALSE(client->GaveUp());
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(tc.console.reconnectWanted, 1);
    client->SetPort(sim.Port());
    EXPECT_EQ(client->SyncWithServer(), 1);
}

TEST_F(NetClientTest, AWriteSendsTheRecordWithoutItsLockAndNothingOutOfRangeIsSent) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    sim.ClearRequests();
    SetText(Net().subscribers[0].City, "Tulsa");
    Net().subscribers[0].LockByte = kLockedByLocalEditor;
    EXPECT_EQ(client->WriteNetSubscriber(0), 1);
    SubscriberRecord sent = Net().subscribers[0];
    sent.LockByte = 0; // only the server locks
    EXPECT_THAT(sim.Requests(), ElementsAre(lan::EncodeWriteCustomer(0, sent)));
    for (int slot : {-1, kSubscriberSlots}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(client->ReadNetSubscriber(slot), 0);
        EXPECT_EQ(client->WriteNetSubscriber(slot), 0);
        EXPECT_EQ(client->DeleteNetSubscriber(slot), 0);
        EXPECT_EQ(client->LockNetRecord(slot), 0);
        EXPECT_EQ(client->SendServerPage(slot, "", "x", lan::kPageSnpp), 0);
    }
    EXPECT_EQ(client->WriteNetGroup(kGroupSlots), 0);
    EXPECT_EQ(client->ReadNetCompany(kCompanySlots), 0);
    EXPECT_EQ(sim.Requests().size(), 1u);
}

TEST_F(NetClientTest, TicketsWithoutEndOrWithUnsafeNamesCannotHoldTheScan) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    auto offerForEver = [this](const std::string& name) {
        sim.SetOverride([name](const std::string& req) -> std::optional<Reply> {
            if (req[1] == 'F')
                return Reply{"0001x"};
            if (req[1] != 'D' && req[1] != 'E')
                return std::nullopt;
            std::string record(280, '\0');
            memcpy(record.data() + 20, name.data(), name.size());
            return Reply{record};
        });
        sim.ClearRequests();
    };
    offerForEver("Loop-ann");
    EXPECT_EQ(CollectNetTickets(tc.console, *client), kTicketsPerScan);
    offerForEver("../Loop-ann");
    EXPECT_EQ(CollectNetTickets(tc.console, *client), 0);
    EXPECT_EQ(sim.Codes(), "D" + std::string(kTicketsPerScan, 'E')); // the unsafe name is never asked for
    EXPECT_FALSE(test::FileExists(tc.dir.File("Loop-ann")));
    EXPECT_TRUE(client->Connected());
}

TEST_F(NetClientTest, AFetchedTicketThatCannotBeWrittenWholeLeavesTheEarlierCopy) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    const std::string path = tc.dir.File("Tracking/T-ann");
    test::WriteFile(path, "earlier status");
    Answer('F', Reply{"4000" + std::string(4000, 'n')});
    // A full disk, as the file-size limit gives it: every write beyond 1,000 bytes fails.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int fetched = client->FetchNetTicket("T-ann");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(fetched, 0);
    EXPECT_EQ(test::ReadFile(path), "earlier status");
    EXPECT_TRUE(client->Connected()); // the reply came whole: only the file failed

    EXPECT_EQ(client->FetchNetTicket("T-ann"), 4000);
    EXPECT_EQ(test::ReadFile(path), std::string(4000, 'n'));
    EXPECT_TRUE(HasUnreadMark(path));
}

// Every way a reply can go wrong: the copy keeps what it had, the connection is given up, the next scan
// reconnects and reloads.
TEST_F(NetClientTest, BrokenRepliesNeverCorruptTheCopy) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    struct Case {
        const char* what;
        char code;
        Reply reply;
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
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<Directory> before = Directory::Create();
        *before = Net();
        Answer(c.code, c.reply);
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
    EXPECT_THAT(test::ReadFile(tc.dir.File(kNetworkLog)), HasSubstr(kConnectionAbortedText));
}

// Random junk in place of any reply, then the connection closed: whatever comes, the client neither crashes
// nor leaves a text field of its copy unterminated, and it comes back to a true copy once the server behaves.
TEST_F(NetClientTest, RandomJunkRepliesLeaveAWellFormedCopy) {
    std::mt19937 random(20261206);
    std::mutex randomLock;
    sim.SetOverride([&](const std::string& req) -> std::optional<Reply> {
        std::lock_guard lock(randomLock);
        if (req[1] == '0' || random() % 8 != 0)
            return std::nullopt;
        std::string junk(random() % 300, '\0');
        for (char& c : junk)
            c = static_cast<char>(random() % 4 == 0 ? '0' + random() % 10 : random() % 256);
        return Reply{junk, true};
    });
    for (int scan = 0; scan < 60; ++scan) {
        tc.console.reconnectWanted = 1;
        PollServer(tc.console, *client);
    }
    auto terminated = [](const auto& field) { return strnlen(field, sizeof field) < sizeof field; };
    for (const SubscriberRecord& r : Net().subscribers)
        ASSERT_TRUE(terminated(r.Name) && terminated(r.Email));
    for (const GroupRecord& g : Net().groups)
        for (const auto& member : g.Members)
            ASSERT_TRUE(terminated(member));
    for (const CompanyRecord& c : Net().companies)
        ASSERT_TRUE(terminated(c.Name));
    EXPECT_GT(sim.Connections(), 20); // the junk did break connections, again and again

    sim.SetOverride(nullptr);
    client->AbortConnection();
    PollServer(tc.console, *client);
    ExpectCopyMatchesServer();
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
    SendOutcome Send(SendMode mode, int tab, int slot) {
        ComposedPage page;
        page.mode = mode;
        page.message = "Gas leak";
        page.subject = "Alert";
        page.currentTab = tab;
        sim.ClearRequests();
        return SendPage(tc.console, page, {slot});
    }
};

TEST_F(SendViaServerTest, LocalEntriesGoAsClientPagesCarryingTheirRecords) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    tc.console.settings.Update([](Settings& s) { s.SendAllViaServer = 1; });
    const Directory& local = *tc.console.local;
    int pair = 2; // Cy, Dee, Pair
    ASSERT_EQ(GetText(local.subscribers[pair].Name), "Pair");
    struct Case {
        SendMode mode;
        int32_t type;
        const char* subject;
    };
    for (const Case& c : {Case{SendMode::NetPage, lan::kPageSnpp, ""}, Case{SendMode::Page, lan::kPageModem, ""},
                          Case{SendMode::Email, lan::kPageEmail, "Alert"}}) {
        SCOPED_TRACE(c.type);
        SendOutcome outcome = Send(c.mode, 0, pair);
        EXPECT_EQ(outcome.recipients, 2);
        EXPECT_EQ(outcome.failures, 0);
        EXPECT_FALSE(outcome.queued);
        auto frame = [&](int slot) {
            const SubscriberRecord& r = local.subscribers[slot];
            return lan::EncodeClientPage(c.type, "ann", c.subject, "Gas leak", local.companies[3], r);
        };
        EXPECT_THAT(sim.Requests(), ElementsAre(frame(0), frame(1)));
    }
    EXPECT_EQ(tc.console.sentPages, 6);
    std::vector<std::string> lines = tc.op.ResultLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kSentToServerText), 6);
    EXPECT_THAT(tc.op.MessageTexts(), IsEmpty());
    EXPECT_TRUE(test::ListDir(tc.dir.File("3")).empty()); // nothing queued locally
}

TEST_F(SendViaServerTest, NetworkEntriesGoAsServerPagesByTheirSlot) {
    ASSERT_EQ(client->SyncWithServer(), 1);
    tc.console.settings.Update([](Settings& s) { s.SendViaServer = 1; });
    EXPECT_EQ(Send(SendMode::Email, kNetworkTab, 1).failures, 0);
    EXPECT_THAT(sim.Requests(), ElementsAre(lan::EncodeServerPage(1, lan::kPageEmail, "Alert", "Gas leak")));
    sim.ClearRequests();
    EXPECT_EQ(client->SendServerPage(1, "", std::string(1200, 'm'), lan::kPageSnpp), 1);
    ASSERT_THAT(sim.Requests(), ::testing::SizeIs(1));
    EXPECT_EQ(sim.Requests()[0].substr(110, 1000), std::string(999, 'm') + '\0'); // its first 999 characters

    // Local entries still go by the console's own transports; a lost server shows the send error.
    Send(SendMode::Page, 0, 0);
    EXPECT_THAT(sim.Requests(), IsEmpty());
    EXPECT_EQ(test::ListDir(tc.dir.File("3")).size(), 1u);
    client->AbortConnection();
    EXPECT_EQ(Send(SendMode::NetPage, kNetworkTab, 1).failures, 1);
    EXPECT_THAT(tc.op.MessageTexts(), Contains(kSendError));
}

} // namespace
} // namespace brimlow
