#include "app/send_page.h"
#include "app/send_queue_worker.h"
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/email_packet.h"
#include "queue/message_file.h"
#include "queue/queue_writer.h"
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "transports/smtp.h"

#include <cstdlib>
#include <sys/stat.h>
#include <sys/time.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brimlow {
namespace {

using test::ReadFile;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class SendTest : public ::testing::Test {
protected:
    SendTest() {
        Directory& dir = *tc.console.local;
        dir.companies[0] = test::MakeCompany("Metro", "127.0.0.1", server.Port());
        dir.companies[1] = test::MakeCompany("Refusing", "127.0.0.1", refusing.Port());
        AddSubscriber(dir, WithEmail(test::MakeSubscriber("Desk A", 0, "11"), "a1@example.net"));
        AddSubscriber(dir, WithEmail(test::MakeSubscriber("Desk A", 1, "12"), "a2@example.net"));
        AddSubscriber(dir, WithEmail(test::MakeSubscriber("Desk B", 0, "21"), "b@example.net"));
        test::AddGroup(dir, "Desks", {"Desk A", "Desk B", "", "Desk C"});
        test::AddGroup(dir, "Nobody", {"Desk Z"});
        SortSubscribers(dir);
        SetText(tc.console.signature.Text, " --sig");
    }

    static SubscriberRecord WithEmail(SubscriberRecord record, const std::string& email) {
        SetText(record.Email, email);
        return record;
    }

    int Slot(const std::string& name, int nth = 0) {
        for (int slot = 0; slot < kSubscriberSlots; ++slot)
            if (GetText(tc.console.local->subscribers[slot].Name) == name && nth-- == 0)
                return slot;
        return -1;
    }

    static test::SnppScript Refusing() {
        test::SnppScript script;
        script.replies["PAGE"] = "550 Invalid pager id";
        return script;
    }

    static std::vector<std::string> Named(const std::string& folder, const std::string& prefix) {
        std::vector<std::string> names;
        for (const std::string& name : test::ListDir(folder))
            if (name.rfind(prefix, 0) == 0)
                names.push_back(name);
        return names;
    }

    ComposedPage Page(SendMode mode, const std::string& message = "Drill at noon") {
        ComposedPage page;
        page.mode = mode;
        page.message = message;
        return page;
    }

    test::SnppSimulator server{test::SnppScript{}};
    test::SnppSimulator refusing{Refusing()};
    test::TestConsole tc;
};

TEST_F(SendTest, AnEmptyMessageOrNoRecipientIsRefused) {
    SendOutcome outcome = SendPage(tc.console, Page(SendMode::NetPage, ""), {Slot("Desk B")});
    EXPECT_EQ(outcome.recipients, 0);
    EXPECT_THAT(tc.op.MessageTexts(), ElementsAre(kNoMessageError));
    EXPECT_FALSE(test::FileExists(tc.dir.File(kMessageLog)));

    outcome = SendPage(tc.console, Page(SendMode::NetPage), {Slot("Nobody")});
    EXPECT_EQ(outcome.recipients, 0);
    EXPECT_THAT(tc.op.MessageTexts(), ElementsAre(kNoMessageError, kNoSelectionError));
    EXPECT_THAT(server.Commands(), IsEmpty());
}

TEST_F(SendTest, NetPageServesEveryMemberAndReportsEachFailure) {
    SendOutcome outcome = SendPage(tc.console, Page(SendMode::NetPage), {Slot("Desks")});
    EXPECT_EQ(outcome.recipients, 3);
    EXPECT_EQ(outcome.failures, 1); // the second Desk A's company refuses its PIN
    EXPECT_THAT(tc.op.MessageTexts(), ElementsAre(kSendError));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 11", "DATA", "SEND", "QUIT", "PAGE 21", "DATA", "SEND", "QUIT"));
    EXPECT_EQ(tc.console.sentPages, 2);
    EXPECT_EQ(tc.console.failedPages, 1);
    EXPECT_EQ(tc.console.sending, 0);
    std::string log = ReadFile(tc.dir.File(kMessageLog));
    EXPECT_THAT(log, HasSubstr(" Desk A Msg: Drill at noon\r\n\r\n"));
    EXPECT_THAT(log, HasSubstr(" Desk B Msg: Drill at noon\r\n\r\n"));
    EXPECT_THAT(tc.op.ResultLines(), ::testing::Contains("550 Invalid pager id"));
}

// The command line on a data directory of its own, with its settings in a configuration folder of its own.
class SendCommandTest : public SendTest {
protected:
    SendCommandTest() : data(tc.dir.File("data")), config(tc.dir.File("config")) {
        MakeFolder(data);
        MakeFolder(config);
        MakeFolder(config + "/Quillfen Labs");
        EXPECT_TRUE(SaveDirectoryFiles(data, *tc.console.local, tc.console.modem));
        EXPECT_TRUE(SaveCompanyFile(data, *tc.console.local));
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    ~SendCommandTest() override { unsetenv("XDG_CONFIG_HOME"); }

    test::RunResult Send(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--data", data, "send"});
        return test::RunBrimlow(args, {}, input);
    }

    std::string data;
    std::string config;
};

TEST_F(SendCommandTest, NetPagePrintsTheDialogueAndTracesTheRawExchangeOnRequest) {
    test::RunResult run = Send({"--mode", "netpage", "--to", "Desk B", "--to", "Desk A", "--message", "Drill"});
    EXPECT_EQ(run.status, 1) << run.err; // the second Desk A is refused
    EXPECT_THAT(run.err, HasSubstr("Error sending message!"));
    EXPECT_THAT(run.err, Not(HasSubstr("-->")));
    EXPECT_THAT(run.out, HasSubstr("250 Message sent successfully"));
    EXPECT_THAT(run.out, HasSubstr("550 Invalid pager id"));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 21", "DATA", "SEND", "QUIT", "PAGE 11", "DATA", "SEND", "QUIT"));

    run = test::RunBrimlow({"--data", data, "send", "--mode", "netpage", "--to", "Desk B"}, {"BRIMLOW_TRACE=tap,snpp"},
                           "From standard input\nin two lines\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(server.Messages().back(), "From standard input\nin two lines\n");
    EXPECT_THAT(run.err, HasSubstr("snpp <-- 220 SNPP simulator ready\n"));
    EXPECT_THAT(run.err, HasSubstr("snpp --> PAGE 21\\r\\n\n"));
    EXPECT_THAT(run.err, HasSubstr("snpp --> From standard input\\r\\nin two lines\\r\\n.\\r\\n\n"));
}

TEST_F(SendCommandTest, PageModeQueuesReleasedPages) {
    // The send-queue worker runs before the command ends: the held pages are ready for the next scan.
    test::RunResult run = Send({"--mode", "page", "--to", "Desks", "--message", "Drill"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(test::ListDir(data + "/0"), ElementsAre("MSGAAAAA.AAA", "MSGAAAAA.AAB"));
    EXPECT_THAT(test::ListDir(data + "/1"), ElementsAre("MSGAAAAA.AAA"));
}

// E-mail goes without the signature; the command waits for its daemons and fails while a packet waits.
TEST_F(SendCommandTest, EmailWaitsForItsDaemonsAndFailsWhenAPacketIsKeptForLater) {
    std::string mail = tc.dir.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail));
    ASSERT_GT(smtp.Port(), 0);
    test::WriteFile(config + "/Quillfen Labs/Brimlow.conf",
                    "[Options]\nOutbound%20Mail%20Server=127.0.0.1\nReturn%20Address=desk@example.com\n"
                    "User%20Name=Duty Desk\n");
    setenv(kSmtpPortVariable, std::to_string(smtp.Port()).c_str(), 1);
    test::RunResult run =
        Send({"--mode", "email", "--subject", "Drill", "--signature", "--to", "Desks", "--message", "Hi"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("250 Message accepted for delivery"));
    EXPECT_TRUE(test::FileExists(mail + "/3.eml"));
    EXPECT_THAT(ReadFile(mail + "/1.eml"), HasSubstr("From: Duty Desk <desk@example.com>\r\nSubject: Drill\r\n"));
    EXPECT_THAT(ReadFile(mail + "/1.eml"), EndsWith("\r\n\r\nHi\r\n\r\n"));
    EXPECT_THAT(ReadFile(data + "/" + kMessageLog), HasSubstr(" Desk B Sub: Drill Msg: Hi\r\n"));

    setenv(kSmtpPortVariable, std::to_string(test::UnusedPort()).c_str(), 1);
    run = Send({"--mode", "email", "--to", "Desk B", "--message", "Hi"});
    unsetenv(kSmtpPortVariable);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Unable to connect to 127.0.0.1"));
    EXPECT_THAT(run.out, HasSubstr("Page for <b@example.net> kept for a later try"));
    EXPECT_EQ(Named(data, "EMG").size(), 1u);
}

// Pages that fail for the moment wait for the next send-queue worker run: an e-mail packet where it is, an SNPP
// page back in the queue under a name of its own, each for a day from its writing.
class RetryTest : public SendTest {
protected:
    std::vector<std::string> Named(const std::string& prefix) { return SendTest::Named(tc.dir.Path(), prefix); }
    void RunWorker() {
        RunSendQueueWorker(tc.console);
        ASSERT_TRUE(tc.console.workers.WaitIdle(30000));
    }
    static void SetLastWrite(const std::string& path, time_t when) {
        timeval times[2] = {{when, 0}, {when, 0}};
        utimes(path.c_str(), times);
    }
    static time_t LastWrite(const std::string& path) {
        struct stat st{};
        stat(path.c_str(), &st);
        return st.st_mtime;
    }
};

TEST_F(RetryTest, AnEmailRefusedForTheMomentIsDeliveredByTheNextRun) {
    std::string mail = tc.dir.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail, {"DATA=451 4.3.0 temporary failure", "refusals=1"}));
    ASSERT_GT(smtp.Port(), 0);
    setenv(kSmtpPortVariable, std::to_string(smtp.Port()).c_str(), 1);
    tc.console.settings.Update([](Settings& s) { s.OutboundMailServer = "127.0.0.1"; });
    ASSERT_EQ(WriteEmailPacket(tc.console, tc.console.local->subscribers[Slot("Desk B")], "", "Drill"), 1);
    RunWorker();
    EXPECT_THAT(Named("EMG"), ElementsAre("EMGAAAAA.AAA"));
    EXPECT_EQ(tc.console.failedPages, 1);
    RunWorker();
    unsetenv(kSmtpPortVariable);
    EXPECT_THAT(Named("EMG"), IsEmpty());
    EXPECT_TRUE(test::FileExists(mail + "/1.eml"));
    EXPECT_EQ(tc.console.sentPages, 1);
    EXPECT_EQ(tc.console.failedPages, 1);
}

TEST_F(RetryTest, AnSnppPageFailingForTheMomentGoesBackIntoTheQueueForADay) {
    test::SnppSimulator closing(test::With(&test::SnppScript::replies,
                                           std::map<std::string, std::string>{{"PAGE", "421 Too busy, closing"}}));
    tc.console.local->companies[0] = test::MakeCompany("Metro", "127.0.0.1", closing.Port());
    SubscriberRecord desk = tc.console.local->subscribers[Slot("Desk B")];
    std::string first = test::WritePage(tc.console, tc.dir.Path(), kReadyPrefix, desk, "Drill");
    const time_t queuedAt = time(nullptr) - 3600;
    SetLastWrite(first, queuedAt);
    RunWorker();
    std::vector<std::string> queued = Named("MSG");
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_NE(tc.dir.File(queued[0]), first); // a fresh name, which no worker listed before
    EXPECT_EQ(LastWrite(tc.dir.File(queued[0])), queuedAt);
    EXPECT_TRUE(tc.WaitForStatus("Page for Desk B kept for a later try"));

    tc.console.local->companies[0] = test::MakeCompany("Metro", "127.0.0.1", server.Port());
    RunWorker();
    EXPECT_THAT(Named("MSG"), IsEmpty());
    EXPECT_THAT(server.Messages(), ElementsAre("Drill\n"));
    EXPECT_EQ(tc.console.sentPages, 1);
    EXPECT_EQ(tc.console.failedPages, 1);

    tc.console.local->companies[0] = test::MakeCompany("Metro", "127.0.0.1", closing.Port());
    std::string old = test::WritePage(tc.console, tc.dir.Path(), kReadyPrefix, desk, "Old");
    SetLastWrite(old, time(nullptr) - kRetryPeriodSeconds - 1);
    RunWorker();
    EXPECT_THAT(Named("MSG"), IsEmpty());
    EXPECT_TRUE(tc.WaitForStatus("Page for Desk B given up after 24 hours"));
}

} // namespace
} // namespace brimlow
