#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_console.h"
#include "tracking/ticket.h"
#include "tracking/ticket_check.h"
#include "tracking/tracking_check_thread.h"
#include "tracking/unread_mark.h"

#include <algorithm>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/time.h>
#include <thread>

namespace brimlow {
namespace {

using namespace std::chrono;
using test::ReadFile;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Described(const std::optional<TicketTarget>& t) {
    if (!t)
        return "unreadable";
    std::string numbers = std::to_string(t->tag) + " " + std::to_string(t->pass) + " ";
    return (t->hostForm ? "host " + numbers + t->host + ":" + std::to_string(t->port)
                        : (t->networkDirectory ? "network " : "local ") + numbers + std::to_string(t->companyIndex)) +
           (t->owner.empty() ? "" : " -" + t->owner);
}

TEST(TicketNames, AreParsedByTheirForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"Duty Desk.4242.77.3", "local 4242 77 3"},
        {"Duty Desk.4242.77.3N", "network 4242 77 3"},
        {"Duty Desk.4242.77.3-ann", "local 4242 77 3 -ann"},
        {"Desk.18446744073709551615.-5.99", "local 18446744073709551615 -5 99"},
        {"Desk.1.2-pager.example-444-ann", "host 1 2 pager.example:444 -ann"},
        {"Desk.1.2-127.0.0.1-444", "host 1 2 127.0.0.1:444"},
        // Dashes in the subscriber name and the owner, and the address's, written as blanks.
        {"Smith-Jones-Lee.4242.77.3-ann", "local 4242 77 3 -ann"},
        {"Desk.4242.77-snpp gw.example.com-444-ann-b", "host 4242 77 snpp-gw.example.com:444 -ann-b"},
        {"Desk.4242.-77-h-44-7", "host 4242 -77 h:44 -7"},
        {"Desk.1.2.100", "unreadable"},
        {"Desk.1.2", "unreadable"},
        {"Nodot", "unreadable"},
        {"Desk.1.2.3N-ann", "unreadable"},
        {"Desk.1.2-h-65536", "unreadable"},
        {"Desk.1.2-h-x", "unreadable"},
        {"Desk.18446744073709551616.2.3", "unreadable"},
        {"Desk.1.2147483648.3", "unreadable"},
        {"Desk.1.2.3-", "unreadable"},
        {"Desk.1.2.3x", "unreadable"},
    };
    for (const auto& [name, target] : cases)
        EXPECT_EQ(Described(ParseTicketName(name)), target) << name;
}

// Whatever the subscriber name, the address and the owner hold, every name the console writes reads back as the
// parts it was written from.
TEST(TicketNames, EveryWrittenNameParsesBackToItsParts) {
    std::mt19937_64 random(20261207);
    auto text = [&](const std::string& alphabet, size_t maxLength) {
        std::string out(random() % (maxLength + 1), ' ');
        for (char& c : out)
            c = alphabet.empty() ? static_cast<char>(1 + random() % 255) : alphabet[random() % alphabet.size()];
        return out;
    };
    const std::string hostChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
    for (int i = 0; i < 5000; ++i) {
        TicketNumbers numbers{random(), static_cast<int>(static_cast<uint32_t>(random()))};
        TicketSource source;
        source.form = static_cast<TicketSource::Form>(random() % 3);
        source.companyIndex = static_cast<int>(random() % kCompanySlots);
        source.address = text(hostChars, 40);
        source.port = static_cast<int>(random() % 65536);
        source.owner = text(i % 2 ? "-.aZ09" : "", 30);
        std::string name = TicketFileName(text(i % 2 ? "-. aZ09" : "", 78), numbers, source);
        std::optional<TicketTarget> target = ParseTicketName(name);
        ASSERT_TRUE(target) << name;
        bool host = source.form == TicketSource::Form::Host;
        EXPECT_EQ(target->tag, numbers.tag) << name;
        EXPECT_EQ(target->pass, numbers.pass) << name;
        EXPECT_EQ(target->hostForm, host) << name;
        EXPECT_EQ(target->networkDirectory, source.form == TicketSource::Form::NetworkIndex) << name;
        EXPECT_EQ(target->companyIndex, host ? 0 : source.companyIndex) << name;
        EXPECT_EQ(target->host, host ? source.address : "") << name;
        EXPECT_EQ(target->port, host ? source.port : 0) << name;
        std::string owner = source.form == TicketSource::Form::NetworkIndex ? "" : OwnerSuffix(source.owner);
        ASSERT_EQ(target->owner, owner.empty() ? "" : owner.substr(1)) << name;
    }
}

TEST(TicketNames, AreBuiltInTheFiveFormsAndStayInTheTrackingFolder) {
    TicketNumbers numbers{4242, 77};
    TicketSource local{TicketSource::Form::LocalIndex, 3, "", 0, ""};
    TicketSource owned{TicketSource::Form::LocalIndex, 3, "", 0, "AnnZ"};
    TicketSource network{TicketSource::Form::NetworkIndex, 3, "", 0, ""};
    TicketSource host{TicketSource::Form::Host, 0, "snpp.example", 444, ""};
    TicketSource hostOwned{TicketSource::Form::Host, 0, "snpp.example", 444, "Ann"};
    EXPECT_EQ(TicketFileName("Dr. Who", numbers, local), "Dr  Who.4242.77.3");
    EXPECT_EQ(TicketFileName("Dr. Who", numbers, owned), "Dr  Who.4242.77.3-annz");
    EXPECT_EQ(TicketFileName("Dr. Who", numbers, network), "Dr  Who.4242.77.3N");
    EXPECT_EQ(TicketFileName("Dr. Who", numbers, host), "Dr  Who.4242.77-snpp.example-444");
    EXPECT_EQ(TicketFileName("Dr. Who", numbers, hostOwned), "Dr  Who.4242.77-snpp.example-444-ann");

    TicketSource hostile{TicketSource::Form::Host, 0, "../h/", 1, "../../x"};
    std::string name = TicketFileName("../../etc", numbers, hostile);
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_EQ(name, "      etc.4242.77-.. h -1-.. .. x");
    EXPECT_EQ(TicketFileName("Desk", numbers, {TicketSource::Form::Host, 0, "snpp-gw.example", 444, "Ann-B"}),
              "Desk.4242.77-snpp gw.example-444-ann-b");
    EXPECT_EQ(TicketFileName("..", {}, local), "  .0.0.3");
}

TEST(TicketNames, SendRepliesGiveTagAndPassOrZeros) {
    TicketNumbers full = ParseSendReply("960 18446744073709551615 -3 OK, Message queued");
    EXPECT_EQ(full.tag, 18446744073709551615ull);
    EXPECT_EQ(full.pass, -3);
    for (const char* reply : {"250 Message sent", "960 12", "", "960 x 4"}) {
        TicketNumbers none = ParseSendReply(reply);
        EXPECT_EQ(none.tag, 0u) << reply;
        EXPECT_EQ(none.pass, 0) << reply;
    }
}

class TicketCheckTest : public ::testing::Test {
protected:
    TicketCheckTest() {
        tc.console.clock = &clock;
        MakeFolder(JoinPath(tc.dir.Path(), kTrackingFolder));
    }
    // A background thread left running by a failed expectation ends with the console.
    ~TicketCheckTest() override { tc.console.exiting = 1; }

    std::string Path(const std::string& name) { return tc.dir.File("Tracking/" + name); }

    void WriteTicket(const std::string& name, const std::string& content, time_t lastWrite = 0) {
        test::WriteFile(Path(name), content);
        if (lastWrite) {
            timeval times[2] = {{lastWrite, 0}, {lastWrite, 0}};
            utimes(Path(name).c_str(), times);
        }
    }

    void SetCompany(int slot, int port) {
        tc.console.local->companies[slot] = test::MakeCompany("Metro", "127.0.0.1", port);
    }

    test::FakeClock clock{1765000000};
    test::TestConsole tc;
};

constexpr const char* kHead = "960 31337 5 OK\r\nThu Dec  4 09:05:00 2025\r\nDesk\r\n12\r\nHi\r\n";

TEST_F(TicketCheckTest, OnlyRepliesBeyondTheStoredCountAreAppendedAndPosted) {
    test::SnppScript script;
    script.statusLists = {{"889 one", "889 two", "889 three"},
                          {"889 one", "889 two", "889 three", "860 four"},
                          {"889 one", "889 two", "889 three", "860 four"}};
    test::SnppSimulator server(script);
    SetCompany(2, server.Port());
    WriteTicket("Desk.31337.5.2", std::string("0002\r\n") + kHead + "889 one\r\n889 two\r\n");

    EXPECT_TRUE(CheckTicket(tc.console, "Desk.31337.5.2"));
    EXPECT_EQ(ReadFile(Path("Desk.31337.5.2")),
              std::string("0003\r\n") + kHead + "889 one\r\n889 two\r\n889 three\r\n");
    EXPECT_THAT(tc.WaitForLines(2), ElementsAre("Checking status of PIN: 31337  Tracking: 5  Company: Metro",
                                                 "889 three"));
    EXPECT_TRUE(HasUnreadMark(Path("Desk.31337.5.2")));
    EXPECT_EQ(tc.console.trackingRefresh, 1);
    EXPECT_EQ(tc.console.secondRefresh, 1);
    EXPECT_EQ(tc.console.received, 1);

    // The list grew by one: one more line; the 259 line is never stored.
    EXPECT_TRUE(CheckTicket(tc.console, "Desk.31337.5.2"));
    EXPECT_EQ(ReadFile(Path("Desk.31337.5.2")),
              std::string("0004\r\n") + kHead + "889 one\r\n889 two\r\n889 three\r\n860 four\r\n");

    // Nothing new: the ticket, its mark and the flags stay as they are.
    ClearUnreadMark(Path("Desk.31337.5.2"));
    tc.console.received = 0;
    EXPECT_TRUE(CheckTicket(tc.console, "Desk.31337.5.2"));
    EXPECT_EQ(ReadFile(Path("Desk.31337.5.2")),
              std::string("0004\r\n") + kHead + "889 one\r\n889 two\r\n889 three\r\n860 four\r\n");
    EXPECT_FALSE(HasUnreadMark(Path("Desk.31337.5.2")));
    EXPECT_EQ(tc.console.received, 0);
    EXPECT_THAT(server.Commands(), ElementsAre("MSTA 31337.5", "QUIT", "MSTA 31337.5", "QUIT", "MSTA 31337.5", "QUIT"));
}

// The index form asks the local company of its index, the N form the network directory's, the host form the host in
// its name; a ticket that vanished starts again with its count line.
TEST_F(TicketCheckTest, EachNameFormAsksItsOwnServer) {
    using Script = test::SnppScript;
    using Lists = std::vector<std::vector<std::string>>;
    test::SnppSimulator local(test::With(&Script::statusLists, Lists{{"889 a", "889 b"}}));
    test::SnppSimulator network(test::With(&Script::statusLists, Lists{{"889 ok"}}));
    test::SnppSimulator host(test::With(&Script::statusLists, Lists{{"889 7 delivered"}}));
    SetCompany(0, local.Port());
    SetCompany(4, test::UnusedPort());
    tc.console.network->companies[4] = test::MakeCompany("Server's", "127.0.0.1", network.Port());
    std::string hostForm = "Desk.7.8-127.0.0.1-" + std::to_string(host.Port()) + "-ann";
    WriteTicket(hostForm, std::string("0000\r\n") + kHead);
    WriteTicket("Desk.1.2.4N", std::string("0000\r\n") + kHead);
    EXPECT_TRUE(CheckTicket(tc.console, "Gone.1.2.0"));
    EXPECT_TRUE(CheckTicket(tc.console, hostForm));
    // The check button's job takes the name out of its buffer, emptying it, then checks.
    HandoffBuffer buffer;
    buffer.Put("Desk.1.2.4N");
    StartCheckTicketJob(tc.console, buffer);
    buffer.WaitTaken(100);
    EXPECT_TRUE(tc.console.workers.WaitIdle(10000));
    EXPECT_EQ(ReadFile(Path("Gone.1.2.0")), "0002\r\n889 a\r\n889 b\r\n");
    EXPECT_THAT(network.Commands(), ElementsAre("MSTA 1.2", "QUIT"));
    EXPECT_THAT(host.Commands(), ElementsAre("MSTA 7.8", "QUIT"));
    EXPECT_EQ(ReadFile(Path(hostForm)), std::string("0001\r\n") + kHead + "889 7 delivered\r\n");
    EXPECT_TRUE(tc.WaitForStatus("Checking status of PIN: 7  Tracking: 8  Company: 127.0.0.1"));
}

// The thread's pass below decides the age limit and the own suffix; "." and ".." are never tickets.
TEST(TrackingSelection, TheOwnSuffixIsTheLowerCasedUserName) {
    Settings settings;
    EXPECT_EQ(OwnSuffix(settings), "");
    settings.Username = "Ann";
    EXPECT_EQ(OwnSuffix(settings), "-ann");
    ListedFile dots;
    dots.name = "..";
    EXPECT_FALSE(TicketDue(dots, 0, "", 3600));
}

class TrackingThreadTest : public TicketCheckTest {};

// A ticket whose server cannot be reached or refuses its greeting (QUIT then) stays as it is and is reported.
TEST_F(TrackingThreadTest, APassChecksRecentTicketsSkipsOwnAndReportsFailures) {
    using Lists = std::vector<std::vector<std::string>>;
    test::SnppSimulator server(test::With(&test::SnppScript::statusLists, Lists{{"889 fresh"}}));
    test::SnppSimulator refusing(test::With(&test::SnppScript::greeting, "421 Not now"));
    SetCompany(0, server.Port());
    SetCompany(1, test::UnusedPort());
    SetCompany(2, refusing.Port());
    time_t now = clock.Now();
    std::string content = std::string("0000\r\n") + kHead;
    WriteTicket("Fresh.1.1.0", content, now - 3600);
    WriteTicket("Stale.2.2.0", content, now - 3601);
    WriteTicket("Own.3.3.0-ann", content, now);
    WriteTicket("Lost.4.4.1", content, now);
    WriteTicket("Refused.5.5.2", content, now);
    WriteTicket("Odd.6.6-127.0.0.1-1", content, now); // the host form: nobody listens on port 1
    RunTrackingCheckPass(tc.console, "-ann", TrackingCheckTiming{});
    EXPECT_THAT(server.Commands(), ElementsAre("MSTA 1.1", "QUIT"));
    EXPECT_THAT(refusing.Commands(), ElementsAre("QUIT"));
    for (const char* name : {"Lost.4.4.1", "Refused.5.5.2", "Odd.6.6-127.0.0.1-1"})
        EXPECT_EQ(ReadFile(Path(name)), content) << name;
    std::vector<std::string> lines = tc.WaitForLines(10);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Error checking tracking number!"), 3);
    EXPECT_THAT(lines, ::testing::Contains("Unable to connect to 127.0.0.1"));
}

TEST_F(TrackingThreadTest, TheThreadWaitsItsPeriodAndWhileChecksArePaused) {
    test::SnppScript script;
    script.statusLists = {{"889 fresh"}};
    test::SnppSimulator server(script);
    SetCompany(0, server.Port());
    WriteTicket("Fresh.1.1.0", std::string("0000\r\n") + kHead, clock.Now());
    tc.console.trackingPause = 1;
    StartTrackingCheckThread(tc.console, TrackingCheckTiming{});
    // A whole period passes in virtual time; the thread then waits for the pause to end.
    while (clock.NowMs() < 1765000000ll * 1000 + 190000)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_THAT(server.Commands(), IsEmpty());
    tc.console.trackingPause = 0;
    auto deadline = steady_clock::now() + seconds(10);
    while (server.Commands().size() < 2 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    EXPECT_THAT(server.Commands(), ElementsAre("MSTA 1.1", "QUIT"));
    tc.console.exiting = 1;
    EXPECT_TRUE(tc.console.workers.WaitIdle(5000));
}

} // namespace
} // namespace brimlow
