// Tracking tickets: their names, the status checks that append replies, and the background pass and thread.
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_console.h"
#include "tracking/ticket.h"
#include "tracking/ticket_check.h"
#include "tracking/tracking_check_thread.h"
#include "tracking/unread_mark.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/time.h>
#include <thread>

namespace brimlow {
namespace {

using test::ReadFile;
using ::testing::ElementsAre;
using Lists = std::vector<std::vector<std::string>>;

std::string Described(const std::optional<TicketTarget>& t) {
    if (!t)
        return "unreadable";
    std::string numbers = std::to_string(t->tag) + " " + std::to_string(t->pass) + " ";
    return (t->hostForm ? "host " + numbers + t->host + ":" + std::to_string(t->port)
                        : (t->networkDirectory ? "network " : "local ") + numbers + std::to_string(t->companyIndex)) +
           (t->owner.empty() ? "" : " -" + t->owner);
}

// Names as the installed base writes them, and names that are not tickets.
TEST(TicketNames, AreParsedByTheirForm) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"Desk.18446744073709551615.-5.99", "local 18446744073709551615 -5 99"},
        {"Desk.1.2-pager.example-444-ann", "host 1 2 pager.example:444 -ann"},
        // Dashes in the subscriber name and the owner, and the address's, written as blanks.
        {"Smith-Jones-Lee.4242.77.3-ann", "local 4242 77 3 -ann"},
        {"Desk.4242.77-snpp gw.example.com-444-ann-b", "host 4242 77 snpp-gw.example.com:444 -ann-b"},
        {"Desk.4242.-77-h-44-7", "host 4242 -77 h:44 -7"},
        {"Desk.1.2.100", "unreadable"}, {"Desk.1.2", "unreadable"}, {"Nodot", "unreadable"},
        {"Desk.1.2.3N-ann", "unreadable"}, {"Desk.1.2-h-65536", "unreadable"}, {"Desk.1.2-h-x", "unreadable"},
        {"Desk.18446744073709551616.2.3", "unreadable"}, {"Desk.1.2147483648.3", "unreadable"},
        {"Desk.1.2.3-", "unreadable"}, {"Desk.1.2.3x", "unreadable"}};
    // clang-format on
    for (const auto& [name, target] : cases)
        EXPECT_EQ(Described(ParseTicketName(name)), target) << name;
}

// The five forms; nothing of a name, an address or an owner leads out of the Tracking folder.
TEST(TicketNames, AreBuiltInTheFiveFormsAndStayInTheTrackingFolder) {
    using Form = TicketSource::Form;
    const struct {
        const char* subscriber;
        TicketSource source;
        const char* name;
    } cases[] = {{"Dr. Who", {Form::LocalIndex, 3, "", 0, ""}, "Dr  Who.4242.77.3"},
                 {"Dr. Who", {Form::LocalIndex, 3, "", 0, "AnnZ"}, "Dr  Who.4242.77.3-annz"},
                 {"Dr. Who", {Form::NetworkIndex, 3, "", 0, ""}, "Dr  Who.4242.77.3N"},
                 {"Dr. Who", {Form::Host, 0, "snpp.example", 444, ""}, "Dr  Who.4242.77-snpp.example-444"},
                 {"Desk", {Form::Host, 0, "snpp-gw.example", 444, "Ann-B"}, "Desk.4242.77-snpp gw.example-444-ann-b"},
                 {"../../etc", {Form::Host, 0, "../h/", 1, "../../x"}, "      etc.4242.77-.. h -1-.. .. x"},
                 {"..", {Form::LocalIndex, 3, "", 0, ""}, "  .4242.77.3"}};
    for (const auto& c : cases)
        EXPECT_EQ(TicketFileName(c.subscriber, {4242, 77}, c.source), c.name);
    for (const char* reply : {"250 Message sent", "960 12", "", "960 x 4"}) {
        TicketNumbers none = ParseSendReply(reply);
        EXPECT_EQ(std::pair(none.tag, none.pass), std::pair(uint64_t{0}, 0)) << reply;
    }
}

// Every name the console writes reads back as the parts it was written from, whatever its texts hold.
TEST(TicketNames, ReadBackAsWrittenOverRandomParts) {
    std::mt19937_64 random(20261207);
    auto text = [&](const char* never) {
        std::string s(random() % 12, ' ');
        for (char& c : s)
            do
                c = static_cast<char>(random() % 255 + 1);
            while (strchr(never, c));
        return s;
    };
    for (int i = 0; i < 5000; ++i) {
        const TicketNumbers numbers{random(), static_cast<int>(random())};
        const auto form = static_cast<TicketSource::Form>(random() % 3);
        // An address a connection was made to holds no blank and no "/".
        const TicketSource source{form, static_cast<int>(random() % kCompanySlots), text(" /"),
                                  static_cast<int>(random() % 65536), text("")};
        const std::string name = TicketFileName(text(""), numbers, source);
        const std::string owner = form == TicketSource::Form::NetworkIndex ? "" : OwnerSuffix(source.owner);
        const std::string head = std::to_string(numbers.tag) + " " + std::to_string(numbers.pass) + " ";
        const std::string expected =
            (form == TicketSource::Form::Host ? "host " + head + source.address + ":" + std::to_string(source.port)
             : form == TicketSource::Form::NetworkIndex ? "network " + head + std::to_string(source.companyIndex)
                                                        : "local " + head + std::to_string(source.companyIndex)) +
            (owner.empty() ? "" : " " + owner);
        ASSERT_EQ(Described(ParseTicketName(name)), expected) << name;
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
        timeval times[2] = {{lastWrite, 0}, {lastWrite, 0}};
        if (lastWrite)
            utimes(Path(name).c_str(), times);
    }
    void SetCompany(int slot, int port) {
        tc.console.local->companies[slot] = test::MakeCompany("Metro", "127.0.0.1", port);
    }

    test::FakeClock clock{1765000000};
    test::TestConsole tc;
};

const std::string kHead = "960 31337 5 OK\r\nThu Dec  4 09:05:00 2025\r\nDesk\r\n12\r\nHi\r\n";

// Only new replies are appended, posted and marked unread; each name form asks its own server; gone tickets restart.
TEST_F(TicketCheckTest, NewRepliesAreAppendedFromTheServerOfEachNameForm) {
    const std::vector<std::string> three = {"889 one", "889 two", "889 three"};
    test::SnppSimulator local(test::With(&test::SnppScript::statusLists, Lists{three, {"889 a", "889 b"}, three}));
    test::SnppSimulator network(test::With(&test::SnppScript::statusLists, Lists{{"889 ok"}}));
    test::SnppSimulator host(test::With(&test::SnppScript::statusLists, Lists{{"889 7 delivered"}}));
    SetCompany(0, local.Port());
    SetCompany(4, test::UnusedPort());
    tc.console.network->companies[4] = test::MakeCompany("Server's", "127.0.0.1", network.Port());
    WriteTicket("Desk.31337.5.0", "0002\r\n" + kHead + "889 one\r\n889 two\r\n");
    EXPECT_TRUE(CheckTicket(tc.console, "Desk.31337.5.0"));
    const std::string checked = "0003\r\n" + kHead + "889 one\r\n889 two\r\n889 three\r\n";
    EXPECT_EQ(ReadFile(Path("Desk.31337.5.0")), checked);
    EXPECT_THAT(tc.WaitForLines(2),
                ElementsAre("Checking status of PIN: 31337  Tracking: 5  Company: Metro", "889 three"));
    EXPECT_TRUE(HasUnreadMark(Path("Desk.31337.5.0")));
    EXPECT_EQ(
        std::tuple(tc.console.trackingRefresh.load(), tc.console.secondRefresh.load(), tc.console.received.load()),
        std::tuple(1, 1, 1));
    EXPECT_TRUE(CheckTicket(tc.console, "Gone.1.2.0"));
    EXPECT_EQ(ReadFile(Path("Gone.1.2.0")), "0002\r\n889 a\r\n889 b\r\n");

    ClearUnreadMark(Path("Desk.31337.5.0"));
    tc.console.received = 0;
    EXPECT_TRUE(CheckTicket(tc.console, "Desk.31337.5.0"));
    EXPECT_EQ(ReadFile(Path("Desk.31337.5.0")), checked);
    EXPECT_FALSE(HasUnreadMark(Path("Desk.31337.5.0")));
    EXPECT_EQ(tc.console.received, 0);
    EXPECT_THAT(local.Commands(), ElementsAre("MSTA 31337.5", "QUIT", "MSTA 1.2", "QUIT", "MSTA 31337.5", "QUIT"));

    std::string hostForm = "Desk.7.8-127.0.0.1-" + std::to_string(host.Port()) + "-ann";
    WriteTicket(hostForm, "0000\r\n" + kHead);
    WriteTicket("Desk.1.2.4N", "0000\r\n" + kHead);
    EXPECT_TRUE(CheckTicket(tc.console, hostForm));
    EXPECT_TRUE(CheckTicket(tc.console, "Desk.1.2.4N"));
    EXPECT_THAT(network.Commands(), ElementsAre("MSTA 1.2", "QUIT"));
    EXPECT_EQ(ReadFile(Path(hostForm)), "0001\r\n" + kHead + "889 7 delivered\r\n");
    EXPECT_TRUE(tc.WaitForStatus("Checking status of PIN: 7  Tracking: 8  Company: 127.0.0.1"));
}

// Hourly tickets but not the console's own, after the check jobs; unreachable or refusing servers are reported.
TEST_F(TicketCheckTest, TheThreadChecksRecentTicketsSkipsOwnAndReportsFailures) {
    test::SnppSimulator server(test::With(&test::SnppScript::statusLists, Lists{{"889 fresh"}}));
    test::SnppSimulator refusing(test::With(&test::SnppScript::greeting, "421 Not now"));
    SetCompany(0, server.Port());
    SetCompany(1, test::UnusedPort());
    SetCompany(2, refusing.Port());
    const time_t start = clock.Now();
    const std::string content = "0000\r\n" + kHead;
    WriteTicket("Fresh.1.1.0", content, start);
    WriteTicket("Stale.2.2.0", content, start - 3500); // over an hour old once the period has passed
    WriteTicket("Own.3.3.0-ann", content, start);
    WriteTicket("Lost.4.4.1", content, start);
    WriteTicket("Refused.5.5.2", content, start);
    tc.console.settings.Update([](Settings& s) { s.Username = "Ann"; });
    tc.console.trackingPause = 1;
    StartTrackingCheckThread(tc.console, TrackingCheckTiming{});
    while (clock.Now() < start + 190)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(server.Commands().empty());
    tc.console.trackingPause = 0;
    // The second pass has begun once the fresh ticket is checked again: the first one is done.
    for (int i = 0; i < 4000 && server.Commands().size() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    tc.console.exiting = 1;
    EXPECT_TRUE(tc.console.workers.WaitIdle(5000));
    std::vector<std::string> asked = server.Commands();
    asked.resize(4);
    EXPECT_THAT(asked, ElementsAre("MSTA 1.1", "QUIT", "MSTA 1.1", "QUIT"));
    EXPECT_THAT(refusing.Commands(), ::testing::AllOf(::testing::Contains("QUIT"), ::testing::Each("QUIT")));
    std::vector<std::string> lines = tc.StatusLines();
    EXPECT_GE(std::count(lines.begin(), lines.end(), kCheckError), 2);
    EXPECT_THAT(lines, ::testing::Contains("Unable to connect to 127.0.0.1"));
    for (const char* name : {"Lost.4.4.1", "Refused.5.5.2"})
        EXPECT_EQ(ReadFile(Path(name)), content) << name;
    for (auto [name, age, due] :
         {std::tuple{"Fresh.1.1.0", 3600, true}, {"Stale.2.2.0", 3601, false}, {"..", 0, false}})
        EXPECT_EQ(TicketDue({name, start - age}, start, "", 3600), due) << name;
}

} // namespace
} // namespace brimlow
