// SNPP pages against Perl's Net::SNPP::Server and, for what it does not do, a simulated RFC 1861 server.
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/status.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "transports/snpp.h"
#include "transports/snpp_session.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brimlow {
namespace {

using test::ReadFile;
using ::testing::ElementsAre;

constexpr const char* kPin = "5551234"; // Net::SNPP::Server takes pager ids of seven digits or more

class SnppTest : public ::testing::Test {
protected:
    SnppTest() {
        tc.console.clock = &clock;
        MakeFolder(JoinPath(tc.dir.Path(), kTrackingFolder));
    }
    void SetCompany(int port, bool twoWay, Directory* dir = nullptr) {
        CompanyRecord company = test::MakeCompany("Metro Paging", "localhost", port); // connected by name
        company.TwoWay = twoWay ? 1 : 0;
        (dir ? *dir : *tc.console.local).companies[0] = company;
    }
    std::vector<std::string> Tickets() { return test::ListDir(JoinPath(tc.dir.Path(), kTrackingFolder)); }

    test::FakeClock clock{1765000000};
    test::TestConsole tc;
};

// Send at once reports to the Result list, the other sends to the status lines; the ticket byte for byte, named
// with N on the Network tab; lines of a single period arrive whole, whatever ends the lines around them.
TEST_F(SnppTest, TwoWayPagesToNetSnppServer) {
    const std::string log = tc.dir.File("pages.log");
    test::PeerProcess server{{"/usr/bin/perl", test::PeerScript("snpp_server.pl"), log}};
    ASSERT_GT(server.Port(), 0);
    SetCompany(server.Port(), true);
    SetText(tc.console.signature.Text, " -- Desk");
    ComposedPage page{"Call in", "", true, SendMode::NetPage, 0};
    EXPECT_TRUE(SendSnppNow(tc.console, page, "J.R./Smith", kPin, 0));
    EXPECT_THAT(tc.op.ResultLines(), ElementsAre("Connecting to localhost...", "220 SNPP Gateway Ready",
                                                 "250 OK, Beginning 2-Way Transaction", "250 Pager ID Accepted",
                                                 "354 Begin Input; End with <CRLF>'.'<CRLF>", "250 Message OK",
                                                 "960 4242 77 OK, Message QUEUED for Delivery"));
    EXPECT_THAT(tc.StatusLines(), ::testing::IsEmpty());
    EXPECT_FALSE(test::FileExists(tc.dir.File(kStatusLog)));
    EXPECT_EQ(std::pair(tc.console.trackingRefresh.load(), tc.console.secondRefresh.load()), std::pair(1, 0));

    tc.console.trackingRefresh = 0;
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Duty.Desk", kPin, 0, "Fire\r\n.\r\ndrill\n.", "Ann"));
    EXPECT_EQ(ReadFile(log), std::string(kPin) + "\tCall in -- Desk\\n\n" + kPin + "\tFire\\n.\\ndrill\\n.\\n\n");
    const time_t now = clock.Now();
    char date[32];
    ctime_r(&now, date);
    EXPECT_EQ(ReadFile(tc.dir.File("Tracking/Duty Desk.4242.77.0-ann")),
              "0000\r\n960 4242 77 OK, Message QUEUED for Delivery\r\n" + std::string(date, 24) + "\r\nDuty Desk\r\n" +
                  kPin + "\r\nFire\r\n.\r\ndrill\n.\r\n");
    EXPECT_EQ(std::pair(tc.console.trackingRefresh.load(), tc.console.secondRefresh.load()), std::pair(1, 1));
    EXPECT_THAT(tc.WaitForLines(6), ::testing::Not(::testing::Contains("250 OK, Beginning 2-Way Transaction")));

    SetCompany(server.Port(), true, tc.console.network.get());
    tc.console.local->companies[0] = test::MakeCompany("Unused", "127.0.0.1", test::UnusedPort());
    page.currentTab = kNetworkTab;
    EXPECT_TRUE(SendSnppNow(tc.console, page, "Ann", kPin, 0));
    EXPECT_THAT(Tickets(), ElementsAre("Ann.4242.77.0N", "Duty Desk.4242.77.0-ann", "J R  Smith.4242.77.0"));
}

using Replies = std::map<std::string, std::string>;
using Script = test::SnppScript;
using test::With;
Script Reply(const std::string& word, const std::string& reply) {
    return With(&Script::replies, Replies{{word, reply}});
}

// A 4xx or 5xx reply, or none, ends the page (a 4xx or none for the moment); QUIT while the server listens.
struct Dialogue {
    const char* name;
    Script script;
    bool twoWay;
    Delivery result;
    std::vector<std::string> commands; // what the server received
    int failedPages;
    std::vector<std::string> firstLines; // the status lines the dialogue starts with
};

const std::vector<std::string> kWhole = {"PAGE 12", "DATA", "SEND", "QUIT"};
const std::string kConnecting = "Connecting to localhost...";

// clang-format off
const Dialogue kDialogues[] = {
    {"Data554", Reply("DATA", "554 Refused"), false, Delivery::Refused, {"PAGE 12", "DATA", "QUIT"}, 1, {}},
    {"End451", Reply("END", "451 Try later"), false, Delivery::RetryLater, {"PAGE 12", "DATA", "QUIT"}, 1, {}},
    {"Send554", Reply("SEND", "554 Refused"), false, Delivery::Refused, kWhole, 1, {}},
    {"ClosedAfterSend", With(&Script::closeAfter, "SEND"), true, Delivery::RetryLater,
     {"2WAY", "PAGE 12", "DATA", "SEND"}, 1, {}},
    {"GreetingRefused", With(&Script::greeting, "554 Service unavailable"), false, Delivery::Refused, {}, 0,
     {kConnecting, "554 Service unavailable"}},
    {"GreetingClosing", With(&Script::greeting, "421 Shutting down"), false, Delivery::RetryLater, {"QUIT"}, 0,
     {kConnecting, "421 Shutting down"}},
    {"Silent", With(&Script::silent, true), false, Delivery::RetryLater, {}, 0,
     {kConnecting, "No reply from localhost"}},
    {"MultiLineGreeting", With(&Script::greeting, "220-SNPP simulator\r\n220 ready"), false, Delivery::Sent, kWhole,
     0, {kConnecting, "220-SNPP simulator", "220 ready", "250 Pager ID accepted"}},
    {"TwoWayRefused", Reply("2WAY", "500 Command not implemented"), true, Delivery::Refused, {"2WAY", "QUIT"}, 1,
     {kConnecting, "220 SNPP simulator ready", "ERROR: Two Way mode not supported!"}},
    // A one-way company never asks for 2WAY nor writes a ticket, whatever the SEND reply says.
    {"OneWayWithTicketReply", Reply("SEND", "960 99 7 OK, queued"), false, Delivery::Sent, kWhole, 0, {}},
    {"TwoWayReplyWithoutNumbers", With(&Script::twoWaySendReply, "250 Message queued"), true, Delivery::Sent,
     {"2WAY", "PAGE 12", "DATA", "SEND", "QUIT"}, 0, {}},
};
// clang-format on

class SimulatedSnppTest : public SnppTest, public ::testing::WithParamInterface<Dialogue> {};

TEST_P(SimulatedSnppTest, EndsAsTheServerAnswers) {
    const Dialogue& d = GetParam();
    test::SnppSimulator server(d.script);
    SetCompany(server.Port(), d.twoWay);
    SnppPage page;
    page.company = tc.console.local->companies[0];
    page.subscriberName = "Desk";
    page.pin = "12";
    page.text = "Hi";
    page.post = [this](const std::string& line) { PostStatus(tc.console, line); };
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendSnppPage(tc.console, page, LineLimits{500, 1000, 200}), d.result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(server.Commands(), d.commands);
    EXPECT_EQ(std::pair(tc.console.sentPages.load(), tc.console.failedPages.load()),
              std::pair(d.result == Delivery::Sent ? 1 : 0, d.failedPages));
    EXPECT_EQ(Tickets(), d.twoWay && d.result == Delivery::Sent ? std::vector<std::string>{"Desk.0.0.0"}
                                                                : std::vector<std::string>{});
    std::vector<std::string> lines = tc.WaitForLines(d.firstLines.size());
    lines.resize(std::min(lines.size(), d.firstLines.size()));
    EXPECT_EQ(lines, d.firstLines);
}

INSTANTIATE_TEST_SUITE_P(Dialogues, SimulatedSnppTest, ::testing::ValuesIn(kDialogues),
                         [](const ::testing::TestParamInfo<Dialogue>& info) { return std::string(info.param.name); });

// A line break in the PIN starts no command; no connection (here no address) is a failure for the moment.
TEST_F(SnppTest, ALineBreakInThePinStartsNoCommandAndAnUnreachableServerIsTriedLater) {
    test::SnppSimulator server(test::SnppScript{});
    SetCompany(server.Port(), false);
    EXPECT_TRUE(SendSnppByRecord(tc.console, tc.console.local->companies[0], "Desk", "12\r\nRESE", "Hi", "ann"));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 12  RESE", "DATA", "SEND", "QUIT"));
    tc.console.local->companies[0] = test::MakeCompany("Metro Paging", "1234", 444);
    EXPECT_EQ(DeliverSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""), Delivery::RetryLater);
    EXPECT_TRUE(tc.WaitForStatus("Unable to resolve 1234"));
    EXPECT_EQ(tc.console.failedPages, 0);
}

// Message lines end in CR LF, and only a line of a single period is doubled (the servers take it for the end).
TEST(SnppDataText, LinesEndInCrLfAndOnlyLinesOfASinglePeriodAreDoubled) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\n.\nb", "a\r\n..\r\nb\r\n"}, {".a\n..\n", ".a\r\n..\r\n\r\n"}, {"", "\r\n"}};
    for (const auto& [text, sent] : cases)
        EXPECT_EQ(SnppDataText(text), sent) << text;
}

} // namespace
} // namespace brimlow
