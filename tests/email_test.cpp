#include "directory/data_files.h"
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
#include <cstdlib>
#include <sys/resource.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace brimlow {
namespace {

using test::ReadFile;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Every date here is written in EST5EDT; the binary runs these tests alone.
const bool kEastern = (setenv("TZ", "EST5EDT", 1), tzset(), true);

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TEST(EmailDate, CarriesTheStandardTimeOffset) {
    struct tm local{};
    local.tm_wday = 2;
    local.tm_mday = 4;
    local.tm_mon = 11;
    local.tm_year = 101;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 41;
    EXPECT_EQ(FormatEmailDate(local, 360), "Tue, 4 Dec 2001 9:05:00 -0600");
    EXPECT_EQ(FormatEmailDate(local, 0), "Tue, 4 Dec 2001 9:05:00 +0000");
    EXPECT_EQ(FormatEmailDate(local, -60), "Tue, 4 Dec 2001 9:05:00 +0100");
    EXPECT_EQ(FormatEmailDate(local, -330), "Tue, 4 Dec 2001 9:05:00 +0530");
    EXPECT_EQ(FormatEmailDate(local, 210), "Tue, 4 Dec 2001 9:05:00 -0330");

    EXPECT_TRUE(kEastern);
    EXPECT_EQ(StandardTimeBiasMinutes(), 300);
}

// The whole head is checked byte for byte with the packet below; here the forms without name or subject, and
// line breaks in the values, which would start header lines or SMTP commands of their own.
TEST(EmailPacket, HeadLinesWithoutNameOrSubjectAndWithLineBreaks) {
    Settings settings;
    settings.ReturnAddress = "desk@example.com";
    settings.UserName = "Duty Desk";
    SubscriberRecord nameless = test::MakeSubscriber("", 0);
    SetText(nameless.Email, "pager@example.net");
    std::string head = EmailPacketHead(settings, nameless, "", "D");
    EXPECT_THAT(head, HasSubstr("\nTo: <pager@example.net>\nFrom: Duty Desk <desk@example.com>\nMime-Version: 1.0\n"));
    EXPECT_THAT(head, Not(HasSubstr("Subject")));

    settings.UserName = "Desk\r\nBcc: all@example.com";
    SubscriberRecord ann = test::MakeSubscriber("Ann\nX-Evil: 1", 0);
    SetText(ann.Email, "pager@example.net>\r\nRCPT TO: <other@example.net");
    EXPECT_EQ(EmailPacketHead(settings, ann, "Hi\r\nBcc: spy@example.com", "D"),
              "<desk@example.com>\n<pager@example.net>  RCPT TO: <other@example.net>\n"
              "X-Sender: desk@example.com\nX-Mailer: Morrow Relay 3.5\nDate: D\n"
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
        ann = test::MakeSubscriber("Ann Smith", 0);
        SetText(ann.Email, "pager@example.net");
    }
    ~EmailTest() override { unsetenv(kSmtpPortVariable); }

    void UsePort(int port) { setenv(kSmtpPortVariable, std::to_string(port).c_str(), 1); }

    std::vector<std::string> Packets() {
        std::vector<std::string> packets;
        for (const std::string& name : test::ListDir(tc.dir.Path()))
            if (name.rfind("EMG", 0) == 0)
                packets.push_back(name);
        return packets;
    }

    // Hands every packet to a daemon and waits until the daemons are done.
    void Deliver() {
        StartSmtpDaemonsForPackets(tc.console, 10);
        ASSERT_TRUE(tc.console.workers.WaitIdle(30000));
    }

    test::FakeClock clock{1765000000}; // Sat Dec  6 00:46:40 2025 EST
    test::TestConsole tc;
    SubscriberRecord ann;
};

TEST_F(EmailTest, ThePacketHoldsEnvelopeHeadersAndText) {
    EXPECT_EQ(WriteEmailPacket(tc.console, ann, "Drill", "Line one\nLine two"), 1);
    ASSERT_THAT(Packets(), ElementsAre("EMGAAAAA.AAA"));
    EXPECT_EQ(ReadFile(tc.dir.File("EMGAAAAA.AAA")),
              "<desk@example.com>\n<pager@example.net>\nX-Sender: desk@example.com\nX-Mailer: Morrow Relay 3.5\n"
              "Date: Sat, 6 Dec 2025 0:46:00 -0500\nTo: Ann Smith <pager@example.net>\n"
              "From: Duty Desk <desk@example.com>\nSubject: Drill\nMime-Version: 1.0\n"
              "Content-Type: text/plain; charset=\"us-ascii\"\n\nLine one\nLine two\n");

    // In summer the offset stays the standard-time one.
    clock.Set(1751500000);
    EXPECT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
    EXPECT_THAT(ReadFile(tc.dir.File("EMGAAAAA.AAB")), HasSubstr("\nDate: Wed, 2 Jul 2025 19:46:00 -0500\n"));
}

TEST_F(EmailTest, APacketThatCannotBeCreatedIsReported) {
    tc.console.dataDir = tc.dir.File("missing");
    EXPECT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 0);
    EXPECT_TRUE(tc.WaitForStatus("Please make sure that the queue directory exists!"));
    EXPECT_THAT(tc.StatusLines(), ElementsAre("Unable to create message packet!",
                                              "Please make sure that the queue directory exists!"));
}

// Writes beyond a file-size limit fail as on a full disk (the signal that would end the process is ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

TEST_F(EmailTest, WriteFailuresAreReportedAndLeaveNoPacket) {
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
    const rlim_t headSize = ReadFile(tc.dir.File("EMGAAAAA.AAA")).size() - 2;
    EXPECT_EQ(ShredFile(tc.dir.File("EMGAAAAA.AAA")), 1);
    EXPECT_EQ(ShredFile(tc.dir.File("EMGAAAAA.AAA")), 0); // only what exists
    {
        FileSizeLimit limit(headSize - 10);
        EXPECT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 0);
    }
    EXPECT_TRUE(tc.WaitForStatus("Error writing packet file!"));
    EXPECT_THAT(Packets(), IsEmpty());
    {
        FileSizeLimit limit(headSize + 3);
        EXPECT_EQ(WriteEmailPacket(tc.console, ann, "", "a longer text"), 0);
    }
    EXPECT_TRUE(tc.WaitForStatus("Error writting packet file!"));
    EXPECT_THAT(Packets(), IsEmpty());
}

class AiosmtpdTest : public EmailTest {
protected:
    AiosmtpdTest()
        : mailFolder(tc.dir.File("mail")),
          server(test::SmtpSinkCommand(mailFolder)) {
        UsePort(server.Port());
    }
    std::vector<std::string> Delivered() {
        std::vector<std::string> messages;
        for (const std::string& name : test::ListDir(mailFolder))
            if (name.size() > 4 && name.substr(name.size() - 4) == ".eml")
                messages.push_back(name);
        return messages;
    }
    std::string mailFolder;
    test::PeerProcess server;
};

TEST_F(AiosmtpdTest, APageIsDeliveredWholeAndItsPacketIsGone) {
    ASSERT_GT(server.Port(), 0);
    const std::string text = "first\n.\n.hidden\nlast";
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "Drill", text), 1);
    std::string packetPath = tc.dir.File("EMGAAAAA.AAA");
    Deliver();
    EXPECT_THAT(Packets(), IsEmpty());
    ASSERT_THAT(Delivered(), ElementsAre("1.eml"));
    EXPECT_EQ(ReadFile(mailFolder + "/1.env"), "FROM desk@example.com\nTO pager@example.net\n");
    EXPECT_EQ(ReadFile(mailFolder + "/1.eml"),
              WithCrLf("X-Sender: desk@example.com\nX-Mailer: Morrow Relay 3.5\n"
                       "Date: Sat, 6 Dec 2025 0:46:00 -0500\nTo: Ann Smith <pager@example.net>\n"
                       "From: Duty Desk <desk@example.com>\nSubject: Drill\nMime-Version: 1.0\n"
                       "Content-Type: text/plain; charset=\"us-ascii\"\n\n" +
                       text + "\n\n"));
    EXPECT_EQ(tc.console.sentPages, 1);
    EXPECT_EQ(tc.console.failedPages, 0);
    ASSERT_TRUE(tc.WaitForStatus("250 Message accepted for delivery"));
    std::vector<std::string> lines = tc.StatusLines();
    EXPECT_EQ(lines[0], "SMTP Daemon started...");
    EXPECT_EQ(lines[1], "Processing message " + packetPath + "...");
    EXPECT_EQ(lines[2], "<pager@example.net>");
    EXPECT_EQ(lines[3], "Connecting to 127.0.0.1...");
    EXPECT_THAT(lines, Contains("HELO brimlow.local  "));
    EXPECT_THAT(lines, Contains("MAIL FROM: <desk@example.com>  "));
    EXPECT_THAT(lines, Contains("RCPT TO: <pager@example.net>  "));
    // Every body line is in the status log too.
    EXPECT_THAT(ReadFile(tc.dir.File(kStatusLog)), HasSubstr(" ..hidden\r\n"));
}

TEST_F(AiosmtpdTest, APacketListedTwiceIsDeliveredOnce) {
    ASSERT_GT(server.Port(), 0);
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "One", "first page"), 1);
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "Two", "second page"), 1);
    // As Send does after each recipient: every packet present is handed out again.
    StartSmtpDaemonsForPackets(tc.console, 10);
    StartSmtpDaemonsForPackets(tc.console, 10);
    ASSERT_TRUE(tc.console.workers.WaitIdle(30000));
    EXPECT_THAT(Delivered(), ElementsAre("1.eml", "2.eml"));
    EXPECT_EQ(tc.console.sentPages, 2);
    EXPECT_THAT(Packets(), IsEmpty());
}

using Replies = std::map<std::string, std::string>;

// An SMTP server that answers from a table: the greeting, then per command word (HELO, MAIL, RCPT, DATA) and
// for the end of data ("END").
class ScriptedSmtp {
public:
    explicit ScriptedSmtp(Replies replies)
        : m_replies(std::move(replies)), m_peer([this](test::PeerSession& s) { Serve(s); }) {}
    int Port() const { return m_peer.Port(); }

private:
    std::string Reply(const std::string& key, const std::string& normal) {
        auto it = m_replies.find(key);
        return it == m_replies.end() ? normal : it->second;
    }
    void Serve(test::PeerSession& session) {
        std::string greeting = Reply("GREETING", "220 scripted ESMTP");
        session.SendLine(greeting);
        if (greeting[0] == '5')
            return;
        std::string line;
        while (session.ReadLine(line)) {
            std::string word = line.substr(0, 4);
            if (word == "DATA") {
                std::string reply = Reply("DATA", "354 End data with <CR><LF>.<CR><LF>");
                session.SendLine(reply);
                if (reply[0] != '3')
                    continue;
                while (session.ReadLine(line) && line != ".") {
                }
                session.SendLine(Reply("END", "250 OK queued"));
            } else if (word == "QUIT") {
                session.SendLine("221 Bye");
                return;
            } else {
                session.SendLine(Reply(word, "250 OK"));
            }
        }
    }
    Replies m_replies;
    test::LinePeer m_peer;
};

// A 400 reply counts as acceptance, a 500 at any step of the dialogue as a failure; the packet goes either way.
TEST_F(EmailTest, RepliesOfTheDialogueAreCountedAndThePacketIsGone) {
    const std::pair<Replies, int> cases[] = {{{{"RCPT", "450 Mailbox busy"}}, 1}, {{{"HELO", "550 No such user"}}, 0},
                                             {{{"MAIL", "550 No such user"}}, 0}, {{{"RCPT", "550 No such user"}}, 0},
                                             {{{"DATA", "550 No such user"}}, 0}, {{{"END", "550 No such user"}}, 0}};
    for (const auto& [replies, sent] : cases) {
        SCOPED_TRACE(replies.begin()->second + " to " + replies.begin()->first);
        int sentBefore = tc.console.sentPages, failedBefore = tc.console.failedPages;
        ScriptedSmtp server(replies);
        UsePort(server.Port());
        ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
        Deliver();
        EXPECT_EQ(tc.console.sentPages - sentBefore, sent);
        EXPECT_EQ(tc.console.failedPages - failedBefore, 1 - sent);
        EXPECT_THAT(Packets(), IsEmpty());
    }
    EXPECT_TRUE(tc.WaitForStatus("Error sending message!"));
}

TEST_F(EmailTest, ARefusedGreetingOrAnUnreachableServerIsNotCounted) {
    ScriptedSmtp server(Replies{{"GREETING", "554 Go away"}});
    UsePort(server.Port());
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
    Deliver();
    EXPECT_TRUE(tc.WaitForStatus("554 Go away"));

    UsePort(test::UnusedPort());
    ASSERT_EQ(WriteEmailPacket(tc.console, ann, "", "x"), 1);
    Deliver();
    EXPECT_TRUE(tc.WaitForStatus("Unable to connect to 127.0.0.1"));
    EXPECT_EQ(tc.console.failedPages, 0);
    EXPECT_EQ(tc.console.sentPages, 0);
    EXPECT_THAT(Packets(), IsEmpty());
    // The daemon's last line may still be on its way.
    auto errors = [&] {
        std::vector<std::string> lines = tc.StatusLines();
        return std::count(lines.begin(), lines.end(), "Error sending message!");
    };
    for (int i = 0; i < 500 && errors() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(errors(), 2);
}

TEST_F(EmailTest, BrokenPacketsAreReportedAndShredded) {
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

TEST_F(EmailTest, QueueingInEmailModeLogsAndWritesAPacketPerMember) {
    tc.console.local->subscribers[0] = ann;
    SubscriberRecord bob = test::MakeSubscriber("Bob", 0);
    SetText(bob.Email, "bob@example.net");
    AddSubscriber(*tc.console.local, bob);
    int group = test::AddGroup(*tc.console.local, "Desks", {"Ann Smith", "Bob"});
    ComposedPage page;
    page.mode = SendMode::Email;
    page.message = "Hi";
    page.subject = "Drill";
    int slot = 0;
    while (tc.console.local->subscribers[slot].Company != -group)
        ++slot;
    QueueForSubscriber(tc.console, page, slot);
    EXPECT_EQ(Packets().size(), 2u);
    std::string log = ReadFile(tc.dir.File(kMessageLog));
    EXPECT_THAT(log, HasSubstr(" Ann Smith Sub: Drill Msg: Hi\r\n\r\n"));
    EXPECT_THAT(log, HasSubstr(" Bob Sub: Drill Msg: Hi\r\n\r\n"));
    EXPECT_THAT(tc.op.MessageTexts(), IsEmpty());

    tc.console.dataDir = tc.dir.File("missing");
    QueueForSubscriber(tc.console, page, slot);
    EXPECT_THAT(tc.op.MessageTexts(), ElementsAre(kSendError, kSendError));
}

} // namespace
} // namespace brimlow
