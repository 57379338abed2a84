#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "tracking/ticket_check.h"
#include "tracking/unread_mark.h"
#include "transports/snpp.h"
#include "transports/snpp_session.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace brimlow {
namespace {

using namespace std::chrono;
using test::ReadFile;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kPin = "5551234"; // Net::SNPP::Server takes pager ids of seven digits or more

class SnppTest : public ::testing::Test {
protected:
    SnppTest() {
        tc.console.clock = &clock;
        MakeFolder(JoinPath(tc.dir.Path(), kTrackingFolder));
    }

    void SetCompany(int port, bool twoWay, const std::string& address = "127.0.0.1", Directory* dir = nullptr) {
        CompanyRecord company = test::MakeCompany("Metro Paging", address, port);
        company.TwoWay = twoWay ? 1 : 0;
        (dir ? *dir : *tc.console.local).companies[0] = company;
    }

    // The status lines once count of them have arrived.
    std::vector<std::string> Lines(size_t count) {
        auto deadline = steady_clock::now() + seconds(10);
        while (tc.StatusLines().size() < count && steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
        return tc.StatusLines();
    }

    std::vector<std::string> Tickets() { return test::ListDir(JoinPath(tc.dir.Path(), kTrackingFolder)); }
    std::string Ticket(const std::string& name) { return ReadFile(JoinPath(tc.dir.Path(), "Tracking/" + name)); }

    std::string DateLine() {
        time_t now = clock.Now();
        char text[32];
        ctime_r(&now, text);
        return std::string(text, 24);
    }

    test::FakeClock clock{1765000000};
    test::TestConsole tc;
};

class PerlSnppTest : public SnppTest {
protected:
    PerlSnppTest()
        : log(tc.dir.File("pages.log")), status(tc.dir.File("status.txt")),
          server({"/usr/bin/perl", test::PeerScript("snpp_server.pl"), log, status}) {}
    std::string log;
    std::string status;
    test::PeerProcess server;
};

TEST_F(PerlSnppTest, OneWayPageRunsTheWholeDialogueAndLeavesNoTicket) {
    ASSERT_GT(server.Port(), 0);
    SetCompany(server.Port(), false);
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Duty Desk", kPin, 0, "Hello world", ""));
    EXPECT_EQ(tc.console.sentPages, 1);
    EXPECT_EQ(tc.console.failedPages, 0);
    EXPECT_THAT(Lines(6), ElementsAre("Connecting to 127.0.0.1...", "220 SNPP Gateway Ready", "250 Pager ID Accepted",
                                      "354 Begin Input; End with <CRLF>'.'<CRLF>", "250 Message OK",
                                      "250 Message Sent Successfully"));
    EXPECT_EQ(ReadFile(log), std::string(kPin) + "\tHello world\\n\n");
    EXPECT_THAT(Tickets(), IsEmpty());
    EXPECT_EQ(tc.console.trackingRefresh, 1);
    EXPECT_EQ(tc.console.secondRefresh, 1);
}

TEST_F(PerlSnppTest, TwoWayPageWritesTheTicketAndMstaAppendsTheReplies) {
    ASSERT_GT(server.Port(), 0);
    SetCompany(server.Port(), true);
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Duty.Desk", kPin, 0, "Fire drill\nat noon", "Ann"));
    ASSERT_THAT(Tickets(), ElementsAre("Duty Desk.4242.77.0-ann"));
    std::string path = tc.dir.File("Tracking/Duty Desk.4242.77.0-ann");
    EXPECT_EQ(Ticket("Duty Desk.4242.77.0-ann"), "0000\r\n960 4242 77 OK, Message QUEUED for Delivery\r\n" +
                                                     DateLine() + "\r\nDuty Desk\r\n" + kPin +
                                                     "\r\nFire drill\nat noon\r\n");
    EXPECT_TRUE(HasUnreadMark(path));
    // The reply to 2WAY is not posted by this sender.
    EXPECT_THAT(Lines(6), ::testing::Not(::testing::Contains("250 OK, Beginning 2-Way Transaction")));

    ClearUnreadMark(path);
    test::WriteFile(status, "889 4242 Delivered\n860 4242 Read by subscriber\n");
    EXPECT_TRUE(CheckTicket(tc.console, "Duty Desk.4242.77.0-ann"));
    EXPECT_EQ(Ticket("Duty Desk.4242.77.0-ann"),
              "0002\r\n960 4242 77 OK, Message QUEUED for Delivery\r\n" + DateLine() + "\r\nDuty Desk\r\n" + kPin +
                  "\r\nFire drill\nat noon\r\n889 4242 Delivered\r\n860 4242 Read by subscriber\r\n");
    EXPECT_TRUE(HasUnreadMark(path));
    EXPECT_EQ(tc.console.received, 1);
}

TEST_F(PerlSnppTest, MessageLinesOfASinglePeriodArriveWhole) {
    ASSERT_GT(server.Port(), 0);
    SetCompany(server.Port(), false);
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Desk", kPin, 0, "line one\n.\nline three", ""));
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Desk", kPin, 0, "crlf\r\n.\r\nafter", ""));
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Desk", kPin, 0, "last\n.", ""));
    EXPECT_EQ(ReadFile(log), std::string(kPin) + "\tline one\\n.\\nline three\\n\n" + kPin +
                                 "\tcrlf\\n.\\nafter\\n\n" + kPin + "\tlast\\n.\\n\n");
    EXPECT_EQ(tc.console.sentPages, 3);
}

TEST_F(PerlSnppTest, SendSnppNowReportsToTheResultListAndNamesTheTicketByIndex) {
    ASSERT_GT(server.Port(), 0);
    SetCompany(server.Port(), true);
    SetText(tc.console.signature.Text, " -- Desk");
    ComposedPage page;
    page.message = "Call in";
    page.attachSignature = true;
    EXPECT_TRUE(SendSnppNow(tc.console, page, "J.R./Smith", kPin, 0));
    EXPECT_THAT(tc.op.ResultLines(),
                ElementsAre("Connecting to 127.0.0.1...", "220 SNPP Gateway Ready",
                            "250 OK, Beginning 2-Way Transaction", "250 Pager ID Accepted",
                            "354 Begin Input; End with <CRLF>'.'<CRLF>", "250 Message OK",
                            "960 4242 77 OK, Message QUEUED for Delivery"));
    EXPECT_THAT(tc.StatusLines(), IsEmpty());
    EXPECT_FALSE(test::FileExists(tc.dir.File(kStatusLog)));
    EXPECT_THAT(Tickets(), ElementsAre("J R  Smith.4242.77.0"));
    EXPECT_EQ(ReadFile(log), std::string(kPin) + "\tCall in -- Desk\\n\n");
    EXPECT_EQ(tc.console.trackingRefresh, 1);
    EXPECT_EQ(tc.console.secondRefresh, 0);

    // On the Network tab the company comes from the network directory and the ticket says so.
    SetCompany(server.Port(), true, "127.0.0.1", tc.console.network.get());
    tc.console.local->companies[0] = test::MakeCompany("Unused", "127.0.0.1", test::UnusedPort());
    page.currentTab = kNetworkTab;
    page.attachSignature = false;
    EXPECT_TRUE(SendSnppNow(tc.console, page, "Ann", kPin, 0));
    EXPECT_THAT(Tickets(), ElementsAre("Ann.4242.77.0N", "J R  Smith.4242.77.0"));
}

TEST_F(PerlSnppTest, SendSnppByRecordNamesTheTicketByHostAndPort) {
    ASSERT_GT(server.Port(), 0);
    CompanyRecord company = test::MakeCompany("Client's provider", "127.0.0.1", server.Port());
    company.TwoWay = 1;
    EXPECT_TRUE(SendSnppByRecord(tc.console, company, "Duty Desk", kPin, "Hello", "Bob/../x"));
    EXPECT_THAT(Tickets(), ElementsAre("Duty Desk.4242.77-127.0.0.1-" + std::to_string(server.Port()) +
                                       "-bob .. x"));
}

class SimulatedSnppTest : public SnppTest {};

TEST_F(SimulatedSnppTest, A421ReplyLetsTheDialogueGoOnA550EndsIt) {
    test::SnppScript busy;
    busy.replies["PAGE"] = "421 Try again later";
    test::SnppSimulator lenient(busy);
    SetCompany(lenient.Port(), false);
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(lenient.Commands(), ElementsAre("PAGE 12", "DATA", "SEND", "QUIT"));
    EXPECT_EQ(tc.console.sentPages, 1);

    test::SnppScript invalid;
    invalid.replies["PAGE"] = "550 Invalid pager id";
    test::SnppSimulator strict(invalid);
    SetCompany(strict.Port(), false);
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(strict.Commands(), ElementsAre("PAGE 12"));
    EXPECT_EQ(tc.console.sentPages, 1);
    EXPECT_EQ(tc.console.failedPages, 1);
    EXPECT_TRUE(tc.WaitForStatus("550 Invalid pager id"));
}

TEST_F(SimulatedSnppTest, FailuresAtEachLaterStepAreCounted) {
    for (const char* step : {"DATA", "END", "SEND"}) {
        test::SnppScript script;
        script.replies[step] = "554 Refused";
        test::SnppSimulator server(script);
        SetCompany(server.Port(), false);
        EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", "")) << step;
    }
    EXPECT_EQ(tc.console.failedPages, 3);
    EXPECT_EQ(tc.console.sentPages, 0);
}

TEST_F(SimulatedSnppTest, ARefusedGreetingFailsUncounted) {
    test::SnppScript script;
    script.greeting = "554 Service unavailable";
    test::SnppSimulator server(script);
    SetCompany(server.Port(), false);
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(Lines(2), ElementsAre("Connecting to 127.0.0.1...", "554 Service unavailable"));
    EXPECT_EQ(tc.console.failedPages, 0);
    EXPECT_THAT(server.Commands(), IsEmpty());
}

TEST_F(SimulatedSnppTest, ARefusedTwoWayIsReportedAndCounted) {
    test::SnppScript script;
    script.replies["2WAY"] = "500 Command not implemented";
    test::SnppSimulator server(script);
    SetCompany(server.Port(), true);
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(Lines(3), ElementsAre("Connecting to 127.0.0.1...", "220 SNPP simulator ready",
                                      "ERROR: Two Way mode not supported!"));
    EXPECT_EQ(tc.console.failedPages, 1);
    EXPECT_THAT(Tickets(), IsEmpty());
}

TEST_F(SimulatedSnppTest, AOneWayCompanyNeverSendsTwoWayNorWritesATicket) {
    test::SnppScript script;
    script.replies["SEND"] = "960 99 7 OK, queued";
    test::SnppSimulator server(script);
    SetCompany(server.Port(), false);
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 12", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(Tickets(), IsEmpty());
}

TEST_F(SimulatedSnppTest, ATwoWaySendReplyWithoutNumbersGivesTicketZeroZero) {
    test::SnppScript script;
    script.twoWaySendReply = "250 Message queued";
    test::SnppSimulator server(script);
    SetCompany(server.Port(), true);
    EXPECT_TRUE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(server.Commands(), ElementsAre("2WAY", "PAGE 12", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(Tickets(), ElementsAre("Desk.0.0.0"));
}

TEST_F(SimulatedSnppTest, ASilentServerCannotHoldTheSenderBeyondTheReplyLimit) {
    test::SnppScript script;
    script.silent = true;
    test::SnppSimulator server(script);
    SetCompany(server.Port(), false);
    SnppPage page;
    page.company = tc.console.local->companies[0];
    page.pin = "12";
    page.text = "Hi";
    page.post = [this](const std::string& line) { tc.op.AddResultLine(line); };
    auto start = steady_clock::now();
    EXPECT_FALSE(SendSnppPage(tc.console, page, LineLimits{100, 500}));
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 5000);
    EXPECT_THAT(tc.op.ResultLines(), ElementsAre("Connecting to 127.0.0.1...", "No reply from 127.0.0.1"));
    EXPECT_EQ(tc.console.failedPages, 0);
    EXPECT_EQ(tc.console.sentPages, 0);
}

TEST_F(SimulatedSnppTest, AConnectionClosedWithoutReplyIsAFailureNotASentPage) {
    test::SnppScript script;
    script.closeAfter = "SEND";
    test::SnppSimulator server(script);
    SetCompany(server.Port(), true);
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_EQ(tc.console.sentPages, 0);
    EXPECT_EQ(tc.console.failedPages, 1);
    EXPECT_THAT(Tickets(), IsEmpty());
}

TEST_F(SimulatedSnppTest, ALineBreakInThePinStartsNoCommand) {
    test::SnppSimulator server(test::SnppScript{});
    SetCompany(server.Port(), false);
    EXPECT_TRUE(SendSnppByRecord(tc.console, tc.console.local->companies[0], "Desk", "12\r\nRESE", "Hi", "ann"));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 12  RESE", "DATA", "SEND", "QUIT"));
}

TEST_F(SimulatedSnppTest, UnreachableServersAreReportedWithoutCounting) {
    SetCompany(444, false, "1234");
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    SetCompany(test::UnusedPort(), false);
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", 0, "Hi", ""));
    EXPECT_THAT(Lines(4), ElementsAre("Connecting to 1234...", "Unable to resolve 1234", "Connecting to 127.0.0.1...",
                                      "Unable to connect to 127.0.0.1"));
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", kCompanySlots, "Hi", ""));
    EXPECT_FALSE(SendSnppByIndex(tc.console, "Desk", "12", -1, "Hi", ""));
    EXPECT_EQ(tc.console.failedPages, 0);
}

TEST(SnppDataText, OnlyLinesOfASinglePeriodAreDoubled) {
    struct Case {
        const char* text;
        const char* sent;
    };
    const Case cases[] = {{"a\n.\nb", "a\n..\nb"},       {"a\r\n.\r\nb", "a\r\n..\r\nb"}, {".", ".."},
                          {"end\n.", "end\n.."},         {".\nx", "..\nx"},               {".a\n..\n", ".a\n..\n"},
                          {"a.\n. \n", "a.\n. \n"},      {"", ""},                        {"\n\n", "\n\n"}};
    for (const Case& c : cases)
        EXPECT_EQ(SnppDataText(c.text), c.sent) << c.text;
}

} // namespace
} // namespace brimlow
