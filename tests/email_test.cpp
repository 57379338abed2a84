// E-mail packets and their delivery by SMTP to aiosmtpd.
#include "queue/email_packet.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/queue_writer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/line_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "transports/email.h"
#include "transports/smtp.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <sys/time.h>

namespace brimlow {
namespace {

using test::ReadFile;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Dates are written in Adelaide: an offset with minutes, daylight saving from October to April (not in force in
// July); the binary runs these tests alone.
[[maybe_unused]] const int kZone = setenv("TZ", "Australia/Adelaide", 1);
constexpr time_t kJuly = 1751401000; // Wed Jul  2 05:46:40 2025 +0930

std::string WithCrLf(const std::string& text) {
    return std::regex_replace(text, std::regex("\n"), "\r\n");
}

// Line breaks in the values would start header lines or SMTP commands of their own.
TEST(EmailPacket, LineBreaksInHeadValuesStartNoLinesOfTheirOwn) {
    Settings settings;
    settings.ReturnAddress = "desk@example.com";
    settings.UserName = "Desk\r\nBcc: all@example.com";
    SubscriberRecord ann = test::MakeSubscriber("Ann\nX-Evil: 1", 0);
    SetText(ann.Email, "pager@example.net>\r\nRCPT TO: <other@example.net");
    EXPECT_EQ(EmailPacketHead(settings, ann, "Hi\r\nBcc: spy@example.com", "x", "D", "<M>"),
              "<desk@example.com>\n<pager@example.net>  RCPT TO: <other@example.net>\n"
              "X-Sender: desk@example.com\nX-Mailer: Morrow Relay 3.5\nDate: D\nMessage-ID: <M>\n"
              "To: Ann X-Evil: 1 <pager@example.net>  RCPT TO: <other@example.net>\n"
              "From: Desk  Bcc: all@example.com <desk@example.com>\nSubject: Hi  Bcc: spy@example.com\n"
              "Mime-Version: 1.0\nContent-Type: text/plain; charset=\"us-ascii\"\n\n");
}

class EmailTest : public ::testing::Test {
protected:
    EmailTest() {
        tc.console.clock = &clock;
        tc.console.settings.Update([](Settings& s) {
            s.ReturnAddress = "desk@example.com";
            s.UserName = "Duty Desk";
            s.OutboundMailServer = "127.0.0.1";
        });
        SetText(ann.Email, "pager@example.net");
    }
    ~EmailTest() override { unsetenv(kSmtpPortVariable); }

    void Start(const std::vector<std::string>& options = {}) {
        server = std::make_unique<test::PeerProcess>(test::SmtpSinkCommand(mail, options));
        ASSERT_GT(server->Port(), 0);
        UsePort(server->Port());
    }
    void UsePort(int port) { setenv(kSmtpPortVariable, std::to_string(port).c_str(), 1); }
    // Hands every packet to a daemon and waits until the daemons are done.
    void Deliver() {
        StartSmtpDaemonsForPackets(tc.console, 10);
        ASSERT_TRUE(tc.console.workers.WaitIdle(30000));
    }
    std::vector<std::string> Packets() {
        std::vector<std::string> names = test::ListDir(tc.dir.Path());
        std::erase_if(names, [](const std::string& name) { return !name.starts_with("EMG"); });
        return names;
    }

    test::FakeClock clock{kJuly};
    test::TestConsole tc;
    SubscriberRecord ann = test::MakeSubscriber("Ann Smith", 0);
    std::string mail = tc.dir.File("mail");
    std::unique_ptr<test::PeerProcess> server;
};

// A packet that cannot be written whole (SIGXFSZ ignored) leaves nothing; a torn or vanished one is reported.
TEST_F(EmailTest, BrokenPacketsLeaveNothing) {
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
    const rlim_t headSize = ReadFile(tc.dir.File("EMGAAAAA.AAA")).size() - 2;
    ShredFile(tc.dir.File("EMGAAAAA.AAA"));
    signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    for (auto [size, text, status] : {std::tuple{headSize - 10, "x", "Error writing packet file!"},
                                      {headSize + 3, "a longer text", "Error writting packet file!"}}) {
        rlimit limit{size, unlimited.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_EQ(WriteEmailPacket(tc.console, ann, "", text), 0);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_TRUE(tc.WaitForStatus(status));
        EXPECT_THAT(Packets(), IsEmpty());
    }
    test::WriteFile(tc.dir.File("EMGAAAAA.AAA"), "<desk@example.com>\n");
    Deliver();
    EXPECT_TRUE(tc.WaitForStatus("Error reading packet file!"));
    EXPECT_THAT(Packets(), IsEmpty());
    PathHandoff handoff;
    handoff.Put(tc.dir.File("EMGZZZZZ.ZZZ"));
    StartSmtpDaemon(tc.console, handoff);
    handoff.WaitTaken(10);
    EXPECT_TRUE(tc.WaitForStatus("Unable to open message packet!"));
}

// As Send does after each recipient, the packet is handed out again while its daemon runs: it goes once.
TEST_F(EmailTest, AShortAsciiPageIsDeliveredOnceByteForByteAndItsPacketIsGone) {
    Start();
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "Drill", "first\n.\n.hidden\nlast"), 1);
    std::string packet = ReadFile(tc.dir.File("EMGAAAAA.AAA"));
    EXPECT_THAT(packet,
                ::testing::MatchesRegex("<desk@example.com>\n<pager@example.net>\nX-Sender: desk@example.com\n"
                                        "X-Mailer: Morrow Relay 3.5\nDate: Wed, 2 Jul 2025 05:46:00 \\+0930\n"
                                        "Message-ID: <20250702054640\\.[0-9a-f]{16}@example\\.com>\n"
                                        "To: Ann Smith <pager@example.net>\nFrom: Duty Desk <desk@example.com>\n"
                                        "Subject: Drill\nMime-Version: 1.0\n"
                                        "Content-Type: text/plain; charset=\"us-ascii\"\n\nfirst\n.\n.hidden\nlast\n"));
    StartSmtpDaemonsForPackets(tc.console, 10);
    Deliver();
    EXPECT_THAT(Packets(), IsEmpty());
    EXPECT_FALSE(test::FileExists(mail + "/2.eml"));
    EXPECT_EQ(ReadFile(mail + "/1.eml"), WithCrLf(packet.substr(packet.find("X-Sender")) + "\n"));
    EXPECT_EQ(std::pair(tc.console.sentPages.load(), tc.console.failedPages.load()), std::pair(1, 0));
    ASSERT_TRUE(tc.WaitForStatus("250 Message accepted for delivery"));
    EXPECT_THAT(tc.StatusLines(), ::testing::IsSupersetOf({"HELO brimlow.local  ", "MAIL FROM:<desk@example.com>  ",
                                                           "RCPT TO:<pager@example.net>  "}));
    // Every body line is in the status log too.
    EXPECT_THAT(ReadFile(tc.dir.File(kStatusLog)), HasSubstr(" ..hidden\r\n"));
    // Without a domain in the return address the Message-ID has the console's own; no subject, no Subject line.
    tc.console.settings.Update([](Settings& s) { s.ReturnAddress = "desk"; });
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
    packet = ReadFile(tc.dir.File(Packets().at(0)));
    EXPECT_THAT(packet, HasSubstr("@brimlow.local>\n"));
    EXPECT_THAT(packet, ::testing::Not(HasSubstr("Subject")));
}

// Texts as typed (the records hold Latin-1) reach a mail reader as typed, on lines SMTP can carry, dated right.
TEST_F(EmailTest, MessageTextsDecodeToWhatWasTyped) {
    const struct {
        const char* name;
        std::string subject, text;
        bool latin1, quoted;
    } cases[] = {
        {"Ascii", "Drill", "Line one\n. \n=x=", false, false},
        {"Latin1Text", "Drill", "Caf\xe9 au lait\n\xe0 10 h = ok \nend\t", true, true},
        {"Latin1Subject", "R\xe9union \xe0 10 h_?=", "x", true, false},
        {"LongLatin1Subject", std::string(99, '\xe9'), "x", true, false},
        {"LongLine", "Long", std::string(999, 'x'), false, true},
        {"LongDotLine", "Dots", "." + std::string(998, '.') + "\nshort", false, true},
        {"LongLatin1Line", "Drill", std::string(1009, '\xfc'), true, true},
    };
    Start();
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(WriteEmailPacket(tc.console, ann, c.subject, c.text), 1);
        Deliver();
        const std::string base = mail + "/" + std::to_string(++n);
        ASSERT_TRUE(test::FileExists(base + ".eml"));
        EXPECT_EQ(ReadFile(base + ".subject"), c.subject);
        EXPECT_EQ(ReadFile(base + ".text"), WithCrLf(c.text + "\n\n")); // the end of data adds a line end
        long date = 0, longest = 999;
        std::istringstream(ReadFile(base + ".parsed")) >> date >> longest;
        EXPECT_LE(longest, 998);
        EXPECT_LT(std::abs(date - clock.Now()), 60);
        std::string message = ReadFile(base + ".eml");
        EXPECT_THAT(message, HasSubstr(c.latin1 ? "charset=\"ISO-8859-1\"" : "charset=\"us-ascii\""));
        EXPECT_EQ(message.find("Content-Transfer-Encoding: quoted-printable\r\n") != std::string::npos, c.quoted);
    }
}

// 4xx or no connection keeps the packet for a day, 5xx shreds it; QUIT follows the last command answered.
TEST_F(EmailTest, ServerBehaviours) {
    const std::vector<std::string> kDialogue = {"HELO brimlow.local", "MAIL desk@example.com", "RCPT pager@example.net",
                                                "DATA"};
    const std::string kGreeting = "greeting=220-mail.example ESMTP|220-no UCE|220 ready";
    const struct {
        std::vector<std::string> options;
        int failed;
        bool kept;
        int commands; // how many of the dialogue's commands the server saw before QUIT; -1: no connection
        const char* status;
    } cases[] = {
        // clang-format off
        {{kGreeting, "DATA=550 5.7.1 rejected after DATA"}, 1, false, 4,
         "550 5.7.1 rejected after DATA"},
        {{"RCPT=451 4.3.0 try later"}, 1, true, 3,
         "Page for <pager@example.net> kept for a later try"},
        {{"MAIL=550 no such sender"}, 1, false, 2, "550 no such sender"},
        {{"HELO=554 go away"}, 1, false, 1, "554 go away"},
        {{"greeting=554 no service"}, 0, false, 0, "554 no service"},
        {{"greeting=421 closing"}, 0, true, 0, "421 closing"},
        {{}, 0, false, -1, "Page for <pager@example.net> given up after 24 hours"},
    }; // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        tc.console.sentPages = tc.console.failedPages = 0;
        Start(c.options);
        ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
        std::string packet = tc.dir.File(Packets().at(0));
        if (c.commands < 0) {
            UsePort(test::UnusedPort());
            time_t written = clock.Now() - kRetryPeriodSeconds - 1;
            timeval times[2] = {{written, 0}, {written, 0}};
            utimes(packet.c_str(), times);
        }
        Deliver();
        EXPECT_EQ(std::pair(tc.console.sentPages.load(), tc.console.failedPages.load()), std::pair(0, c.failed));
        EXPECT_EQ(Packets().size(), c.kept ? 1u : 0u);
        std::string commands;
        for (int i = 0; i < c.commands; ++i)
            commands += kDialogue[i] + "\n";
        std::string log = mail + "/commands.log";
        EXPECT_EQ(test::FileExists(log) ? ReadFile(log) : "", c.commands < 0 ? "" : commands + "QUIT\n");
        EXPECT_TRUE(tc.WaitForStatus(c.status));
        EXPECT_TRUE(tc.WaitForStatus(kSendError));
        ShredFile(packet);
        ShredFile(log);
    }
}

} // namespace
} // namespace brimlow
