// The console's LAN client against the real server on loopback, through a relay that can play a broken server.
#include "app/send_page.h"
#include "directory/data_files.h"
#include "network/net_client_scan.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/message_file.h"
#include "queue/queue_writer.h"
#include "tests/server_fixture.h"
#include "tests/snpp_simulator.h"
#include "tests/support/line_peer.h"
#include "tracking/unread_mark.h"

#include <csignal>
#include <gmock/gmock.h>
#include <map>
#include <optional>
#include <random>
#include <sys/resource.h>
#include <thread>

namespace brimlow {
namespace {

using test::WaitFor;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A console of its own, networking on, whose client reaches the server at port.
struct ClientConsole {
    ClientConsole(int port, const std::string& user, const std::string& password, NetClientTimings timings = {}) {
        MakeFolder(tc.dir.File(kTrackingFolder));
        tc.console.settings.Update([&](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = user;
            s.Password = password;
        });
        client = std::make_shared<NetClient>(tc.console, timings);
        client->SetPort(port);
        tc.console.netClient = client;
    }
    Directory& Net() { return *tc.console.network; }
    test::TestConsole tc;
    std::shared_ptr<NetClient> client;
};

// Records each request whole; answers the requests of a code in the server's place when a test asks it to.
class Relay {
public:
    struct Reply {
        std::string bytes;
        bool close = false; // after the bytes
    };
    explicit Relay(int serverPort) : m_serverPort(serverPort), m_peer([this](test::PeerSession& s) { Serve(s); }) {}
    int Port() const { return m_peer.Port(); }
    int Connections() const { return m_peer.Connections(); }
    void Answer(char code, std::optional<Reply> reply) {
        std::lock_guard lock(m_mutex);
        m_answers.erase(code);
        if (reply)
            m_answers[code] = *reply;
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_requests, {});
    }
    std::string TakeCodes() {
        std::string codes;
        for (const std::string& r : Take())
            codes.push_back(r[1]);
        return codes;
    }

private:
    void Serve(test::PeerSession& client) {
        test::RawClient server(m_serverPort, false);
        std::string pending;
        char chunk[20000];
        for (;;) {
            pollfd fds[2] = {{client.Fd(), POLLIN, 0}, {server.Fd(), POLLIN, 0}};
            poll(fds, 2, -1);
            ssize_t n = recv(fds[1].revents ? server.Fd() : client.Fd(), chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            if (fds[1].revents) {
                client.Send(std::string(chunk, static_cast<size_t>(n)));
                continue;
            }
            pending.append(chunk, static_cast<size_t>(n));
            for (lan::FrameScan scan; (scan = lan::ScanFrame(pending.data(), pending.size())).complete;) {
                std::string request = pending.substr(scan.skip, scan.length);
                pending.erase(0, scan.skip + scan.length);
                std::optional<Reply> reply;
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.push_back(request);
                    if (auto answer = m_answers.find(request[1]); answer != m_answers.end())
                        reply = answer->second;
                }
                if (!reply)
                    server.Send(request);
                else if (client.Send(reply->bytes); reply->close)
                    return;
            }
        }
    }
    int m_serverPort;
    std::mutex m_mutex;
    std::map<char, Reply> m_answers;
    std::vector<std::string> m_requests;
    test::LinePeer m_peer; // last: its sessions use everything above
};

// The server console (the fixture's tc) holds 48 units of two companies, the second two-way, and a group.
class LanClientTest : public lan::ServerTest {
protected:
    LanClientTest() {
        Directory& d = *tc.console.local;
        d.companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port());
        d.companies[1] = test::MakeCompany("TwoWay", "127.0.0.1", snpp.Port());
        d.companies[1].TwoWay = 1;
        for (int k = 0; k < 48; ++k)
            AddSubscriber(
                d, test::MakeSubscriber("Unit " + std::to_string(100 + k).substr(1), k % 2, std::to_string(1000 + k)));
        test::AddGroup(d, "All odd", {"Unit 01", "Unit 03", "Unit 05"});
        SortSubscribers(d); // 49 entries
    }
    void SetUp() override {
        ServerTest::SetUp();
        relay = std::make_unique<Relay>(server.Port());
    }
    void TearDown() override { server.Stop(); } // before the SNPP peer goes

    std::unique_ptr<ClientConsole> Client(const std::string& user) {
        return std::make_unique<ClientConsole>(server.Port(), user, "pw");
    }
    // ann's client through the relay, with short time-outs for a server that falls silent; synced.
    std::unique_ptr<ClientConsole> Relayed() {
        auto ann = std::make_unique<ClientConsole>(relay->Port(), "ann", "pw", NetClientTimings{200, 600});
        EXPECT_EQ(ann->client->SyncWithServer(), 1);
        relay->Take();
        return ann;
    }
    // Every record of the server's, its entries on the Network tab (a free slot's tab means nothing), no lock.
    void ExpectCopyMatches(ClientConsole& c) {
        auto want = Local([](Directory& d) { return std::make_unique<Directory>(d); });
        for (int s = 0; s < kSubscriberSlots; ++s) {
            SubscriberRecord& r = want->subscribers[s];
            r.Tab = IsEmptyText(r.Name) ? c.Net().subscribers[s].Tab : kNetworkTab;
            r.LockByte = 0;
        }
        EXPECT_TRUE(test::RecordBytes(c.Net()) == test::RecordBytes(*want));
    }

    test::SnppSimulator snpp{test::SnppScript{}};
    std::unique_ptr<Relay> relay;
};

// A server that cannot take the client now is tried again by the next scan, a refused login never again.
TEST_F(LanClientTest, AServerThatCannotTakeTheClientIsTriedAgainARefusedLoginIsNot) {
    auto ann = Client("ann");
    test::LinePeer closing([](test::PeerSession&) {});
    for (int port : {test::UnusedPort(), closing.Port()}) { // nobody listening; closed before the greeting
        ann->client->SetPort(port);
        ann->tc.console.reconnectWanted = 0;
        EXPECT_EQ(ann->client->SyncWithServer(), 0);
        EXPECT_FALSE(ann->client->GaveUp() || ann->client->Connected());
        EXPECT_EQ(ann->tc.console.reconnectWanted, 1);
    }
    std::vector<std::unique_ptr<test::RawClient>> others;
    for (int k = 0; k < lan::kSessionSlots; ++k)
        others.push_back(LoggedIn("carl"));
    test::RawClient refused(server.Port(), false);
    refused.Send(lan::EncodeLogin("carl", "pw"));
    EXPECT_EQ(refused.Recv(100), "Network Connection refused for 127.0.0.1\r\n");
    EXPECT_TRUE(refused.WaitClosed());
    EXPECT_FALSE(refused.SawReset()); // a close with the Login unread would have reset it
    ann->client->SetPort(server.Port());
    EXPECT_EQ(ann->client->SyncWithServer(), 0);
    EXPECT_FALSE(ann->client->GaveUp());
    others[42]->Reset();
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().size() < lan::kSessionSlots; }));
    PollServer(ann->tc.console, *ann->client);
    EXPECT_TRUE(ann->client->Connected());
    EXPECT_EQ(UsedSubscriberSlots(ann->Net()), 49);
    ann->client->AbortConnection();
    ann->tc.console.settings.Update([](Settings& s) { s.Password = "wrong"; });
    EXPECT_EQ(ann->client->SyncWithServer(), 0);
    EXPECT_TRUE(ann->client->GaveUp());
    EXPECT_TRUE(ann->tc.WaitForStatus(kLoginRefusedText));
    ann->tc.console.settings.Update([](Settings& s) { s.Password = "pw"; });
    for (int scan = 0; scan < 3; ++scan)
        PollServer(ann->tc.console, *ann->client);
    EXPECT_FALSE(ann->client->Connected());
}

// Endless offers, names that can never be a file here, and a full disk harm neither the scan nor the tickets.
TEST_F(LanClientTest, TicketsWithoutEndUnsafeNamesOrAFullDiskHarmNothing) {
    auto ann = Relayed();
    auto offerForEver = [&](const std::string& name) {
        std::string record(280, '\0');
        memcpy(record.data() + 20, name.data(), name.size());
        for (char code : {'D', 'E'})
            relay->Answer(code, Relay::Reply{record});
        relay->Answer('F', Relay::Reply{"0001x"});
        relay->Take();
    };
    offerForEver("Loop-ann");
    EXPECT_EQ(CollectNetTickets(ann->tc.console, *ann->client), kTicketsPerScan);
    for (const char* unsafe : {"../Loop-ann", "..", ".", "a/b", "a\x03"}) {
        offerForEver(unsafe);
        EXPECT_EQ(CollectNetTickets(ann->tc.console, *ann->client), 0) << unsafe;
        EXPECT_EQ(relay->TakeCodes(), "D" + std::string(kTicketsPerScan, 'E')) << unsafe; // never asked for
    }
    EXPECT_THAT(ann->tc.op.ResultLines(), ::testing::Each("Loop-ann"));
    EXPECT_FALSE(test::FileExists(ann->tc.dir.File("Loop-ann")));
    const std::string path = ann->tc.dir.File("Tracking/T-ann");
    test::WriteFile(path, "earlier status");
    relay->Answer('F', Relay::Reply{"4000" + std::string(4000, 'n')});
    rlimit saved{}; // a full disk, as the file-size limit gives it
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small{1000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_EQ(ann->client->FetchNetTicket("T-ann"), 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(test::ReadFile(path), "earlier status");
    EXPECT_TRUE(ann->client->Connected()); // the reply came whole: only the file failed
    EXPECT_EQ(ann->client->FetchNetTicket("T-ann"), 4000);
    EXPECT_EQ(test::ReadFile(path), std::string(4000, 'n'));
}

// Two syncs at once download once (the used slots and the first free one), the other polls as later ones do; a reply
// gone wrong keeps the copy as it was and gives the connection up, and the next scan reconnects and reloads.
TEST_F(LanClientTest, OneDownloadAtATimeAndBrokenRepliesNeverCorruptTheCopy) {
    auto ann = std::make_unique<ClientConsole>(relay->Port(), "ann", "pw", NetClientTimings{200, 600});
    NetClient& client = *ann->client;
    std::thread other([&] { client.SyncWithServer(); });
    EXPECT_EQ(client.SyncWithServer(), 1);
    other.join();
    ExpectCopyMatches(*ann);
    EXPECT_EQ(relay->TakeCodes(), "0" + std::string(50, '2') + std::string(200, '3') + std::string(100, '?') + "8");
    EXPECT_EQ(client.SyncWithServer(), 1);
    EXPECT_EQ(relay->TakeCodes(), "8");
    EXPECT_EQ(client.ConnectToServer("127.0.0.1", relay->Port()), kAlreadyConnected);
    EXPECT_EQ(relay->Connections(), 1);
    struct Case {
        const char* what;
        char code;
        Relay::Reply reply;
        std::function<int()> request;
    };
    for (const Case& c : std::vector<Case>{
             {"junk length", '2', {"abc"}, [&] { return client.ReadNetSubscriber(0); }},
             {"short text", '2', {"046\"Zed\",\"1", true}, [&] { return client.ReadNetSubscriber(0); }},
             {"count above 200", '3', {"999" + std::string(200, 'x')}, [&] { return client.ReadNetGroup(1); }},
             {"short members", '3', {"002Zed", true}, [&] { return client.ReadNetGroup(1); }},
             {"short company", '?', {std::string(300, 'x'), true}, [&] { return client.ReadNetCompany(0); }},
             {"short bitmap", '8', {std::string(10, '\xff'), true}, [&] { return client.CheckNetSubscribers(); }},
             {"silence", '8', {""}, [&] { return client.CheckNetSubscribers(); }},
             {"status cut", '4', {"1", true}, [&] { return client.LockNetRecord(0); }},
             {"closed page", 'B', {"", true}, [&] { return client.SendServerPage(0, "", "hi", lan::kPageSnpp); }},
             {"junk ticket length", 'F', {"zz\r\n"}, [&] { return client.FetchNetTicket("T-ann"); }},
             {"short ticket", 'F', {"0100abc", true}, [&] { return client.FetchNetTicket("T-ann"); }}}) {
        SCOPED_TRACE(c.what);
        const std::string before = test::RecordBytes(ann->Net());
        relay->Answer(c.code, c.reply);
        ann->tc.console.reconnectWanted = 0;
        EXPECT_EQ(c.request(), 0);
        EXPECT_TRUE(!client.Connected() && ann->tc.console.reconnectWanted == 1);
        EXPECT_TRUE(test::RecordBytes(ann->Net()) == before && !test::FileExists(ann->tc.dir.File("Tracking/T-ann")));
        relay->Answer(c.code, std::nullopt);
        PollServer(ann->tc.console, client); // reconnects and reloads
        ASSERT_TRUE(client.Connected());
        ExpectCopyMatches(*ann);
    }
    EXPECT_THAT(test::ReadFile(ann->tc.dir.File(kNetworkLog)), ::testing::HasSubstr(kConnectionAbortedText));
}

// SendAllViaServer sends local entries as Client Pages; with only SendViaServer they go by the console's own way.
TEST_F(LanClientTest, LocalEntriesGoToTheServerAsClientPagesCarryingTheirRecords) {
    auto ann = Relayed();
    Directory& local = *ann->tc.console.local;
    local.companies[3] = test::MakeCompany("Local Co", "127.0.0.1", snpp.Port());
    local.companies[3].TwoWay = 1;
    AddSubscriber(local, test::MakeSubscriber("Cy", 3, "33"));
    AddSubscriber(local, test::MakeSubscriber("Dee", 3, "44"));
    auto send = [&](SendMode mode, int tab, std::vector<int> slots) {
        return SendPage(ann->tc.console, ComposedPage{"Gas leak", "Alert", false, mode, tab}, slots);
    };
    ann->tc.console.settings.Update([](Settings& s) { s.SendAllViaServer = 1; });
    for (auto [mode, type, subject] : {std::tuple{SendMode::NetPage, lan::kPageSnpp, ""},
                                       {SendMode::Page, lan::kPageModem, ""},
                                       {SendMode::Email, lan::kPageEmail, "Alert"}}) {
        SCOPED_TRACE(type);
        SendOutcome outcome = send(mode, 0, {0, 1});
        EXPECT_TRUE(outcome.failures == 0 && !outcome.queued);
        auto frame = [&](int slot) {
            return lan::EncodeClientPage(type, "ann", subject, "Gas leak", local.companies[3], local.subscribers[slot]);
        };
        EXPECT_THAT(relay->Take(), ElementsAre(frame(0), frame(1)));
    }
    EXPECT_THAT(ann->tc.op.MessageTexts(), IsEmpty());
    ASSERT_TRUE(PagesDone());
    EXPECT_THAT(snpp.Commands(), ::testing::IsSupersetOf({"PAGE 33", "PAGE 44"}));
    const std::string at = "-127.0.0.1-" + std::to_string(snpp.Port()) + "-ann";
    EXPECT_THAT(test::ListDir(tc.dir.File(kTrackingFolder)), ElementsAre("Cy.31337.5" + at, "Dee.31337.5" + at));
    ann->tc.console.settings.Update([](Settings& s) { s.SendAllViaServer = 0, s.SendViaServer = 1; });
    send(SendMode::Page, 0, {0});
    EXPECT_THAT(relay->Take(), IsEmpty());
    EXPECT_EQ(test::ListDir(ann->tc.dir.File("3")).size(), 1u);
    ann->client->AbortConnection();
    EXPECT_EQ(send(SendMode::NetPage, kNetworkTab, {1}).failures, 1);
    EXPECT_THAT(ann->tc.op.MessageTexts(), ::testing::Contains(kSendError));
}

// The connect job downloads with the scan's network step held off (the next step plays its click); then each kind
// of edit, and a random run of them, reaches every copy through one poll (the marks: server and edit tests).
TEST_F(LanClientTest, TheConnectJobDownloadsAndEveryEditReachesEveryCopy) {
    auto ann = Client("ann"), carl = Client("carl");
    Console& console = ann->tc.console;
    std::vector<std::string> played;
    console.playSound = [&](const std::string& path) { played.push_back(path); };
    setenv(lan::kLanPortEnv, std::to_string(server.Port()).c_str(), 1);
    StartNetworkClient(console);
    unsetenv(lan::kLanPortEnv);
    EXPECT_EQ(console.networkBusy, 1);
    ASSERT_TRUE(console.workers.WaitIdle(10000) && carl->client->SyncWithServer() == 1);
    EXPECT_TRUE(console.networkBusy == 0 && played.empty());
    console.networkScanStep();
    EXPECT_THAT(played, ElementsAre(ann->tc.dir.File("click.wav")));
    ann->client = console.netClient; // the connect job's own
    NetClient& editor = *ann->client;
    Directory& net = ann->Net();
    auto rename = [&](int slot, const char* name) {
        SetText(net.subscribers[slot].Name, name);
        return editor.LockNetRecord(slot) == 1 && editor.WriteNetSubscriber(slot) == 1;
    };
    auto members = [&](int group, std::vector<const char*> names) { // the group, with these members in the copy
        net.groups[group] = GroupRecord{};
        for (size_t m = 0; m < names.size(); ++m)
            SetText(net.groups[group].Members[m], names[m]);
        return group;
    };
    auto pollAll = [&] {
        for (ClientConsole* client : {ann.get(), carl.get()}) {
            PollServer(client->tc.console, *client->client);
            ExpectCopyMatches(*client);
        }
    };
    for (const auto& [what, edit] : std::vector<std::pair<const char*, std::function<bool()>>>{
             {"the last entry renamed to the front", [&] { return rename(48, "Aaron"); }},
             {"the first entry renamed to the end", [&] { return rename(0, "Zed"); }},
             {"an entry added", [&] { return editor.AddNetSubscriber(test::MakeSubscriber("Unit 20a", 1, "9")) == 1; }},
             {"an entry deleted", [&] { return editor.DeleteNetSubscriber(10) == 1; }},
             {"a group written",
              [&] {
                  return editor.WriteNetGroup(members(GroupNumberOf(net.subscribers[0]), {"Unit 07", "Zed"})) == 1;
              }},
             {"a group added", [&] { return editor.AddNetGroup("Crew", members(0, {"Unit 02"})) == 1; }},
             {"a group's entry deleted", [&] { return editor.DeleteNetSubscriber(0) == 1; }}}) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(edit());
        pollAll();
        EXPECT_EQ(carl->tc.console.secondRefresh.exchange(0), 1);
    }
    // Then random edits of every kind, to new names and old ones again.
    std::mt19937 random(4242);
    auto name = [&] { return "Unit " + std::to_string(random() % 60); };
    for (int step = 0; step < 60; ++step) {
        SCOPED_TRACE(step);
        const int slot = static_cast<int>(random() % std::max(1, UsedSubscriberSlots(net)));
        const int group = GroupNumberOf(net.subscribers[slot]);
        switch (random() % 4) {
        case 0:
            ASSERT_TRUE(rename(slot, name().c_str()));
            break;
        case 1:
            ASSERT_EQ(editor.AddNetSubscriber(test::MakeSubscriber(name(), 1, std::to_string(step))), 1);
            break;
        case 2:
            ASSERT_EQ(editor.DeleteNetSubscriber(slot), 1);
            break;
        default:
            ASSERT_EQ(group ? editor.WriteNetGroup(members(group, {"Unit 01", name().c_str()}))
                            : editor.AddNetGroup(name() + "s", members(0, {name().c_str()})),
                      1);
        }
        pollAll();
    }
}

// Server Pages: a modem one is filed; a two-way one leaves a ticket, collected with the user's others once per mark.
TEST_F(LanClientTest, ServerPagesAndTheTicketsTheyLeave) {
    auto ann = Relayed();
    ann->tc.console.settings.Update([](Settings& s) { s.SendViaServer = 1; });
    auto send = [&](SendMode mode, int slot, const std::string& text) {
        return SendPage(ann->tc.console, ComposedPage{text, "", false, mode, kNetworkTab}, {slot}).failures;
    };
    EXPECT_EQ(send(SendMode::NetPage, 4, "Call dispatch"), 0); // Unit 03, of the two-way company
    EXPECT_EQ(send(SendMode::Page, 1, "Dial me"), 0);          // Unit 00
    EXPECT_THAT(relay->Take(), ElementsAre(lan::EncodeServerPage(4, lan::kPageSnpp, "", "Call dispatch"),
                                           lan::EncodeServerPage(1, lan::kPageModem, "", "Dial me")));
    std::vector<std::string> queued = test::ListDir(tc.dir.File("0"));
    ASSERT_THAT(queued, ElementsAre(::testing::StartsWith("MSG")));
    MessageFile page = ReadMessageFile(tc.dir.File("0/" + queued[0])).value_or(MessageFile{});
    EXPECT_EQ(GetText(page.record.Name) + ": " + page.text, "Unit 00: Dial me");
    const std::string unit03 = std::string(kTrackingFolder) + "/Unit 03.31337.5.1-ann";
    ASSERT_TRUE(WaitFor([&] { return snpp.Commands().size() == 5 && HasUnreadMark(tc.dir.File(unit03)); }));
    EXPECT_THAT(snpp.Commands(), ElementsAre("2WAY", "PAGE 1003", "DATA", "SEND", "QUIT"));
    std::string big(5000, 'x');
    auto tracked = [&](const std::string& name) { return tc.dir.File(std::string(kTrackingFolder) + "/" + name); };
    for (auto [name, text] : {std::pair{"C.3.3.0-ANN", "three"},
                              {"Big.1.1.0-ann", big.c_str()},
                              {"D.4.4.0-ann", ""},
                              {"B.2.2.0-anna", "anna's"}}) {
        test::WriteFile(tracked(name), text);
        *text ? SetUnreadMark(tracked(name)) : ClearUnreadMark(tracked(name)); // the empty one was read
    }
    for (int scan = 0; scan < 2; ++scan) // collected once
        PollServer(ann->tc.console, *ann->client);
    EXPECT_THAT(test::ListDir(ann->tc.dir.File(kTrackingFolder)),
                ElementsAre("Big.1.1.0-ann", "C.3.3.0-ANN", "Unit 03.31337.5.1-ann"));
    EXPECT_EQ(test::ReadFile(ann->tc.dir.File(std::string(kTrackingFolder) + "/Big.1.1.0-ann")), big.substr(0, 4000));
    EXPECT_TRUE(ann->tc.console.received == 1 && tc.console.trackingRefresh == 1);
    SetUnreadMark(tc.dir.File(unit03)); // rewritten by a status check: shown once more
    PollServer(ann->tc.console, *ann->client);
    EXPECT_EQ(std::ranges::count(ann->tc.op.ResultLines(), "Unit 03.31337.5.1-ann"), 2);
}

} // namespace
} // namespace brimlow
