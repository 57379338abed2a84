// The send command on a data directory of its own, and pages that fail for the moment waiting for the next
// send-queue worker run.
#include "app/send_queue_worker.h"
#include "directory/data_files.h"
#include "queue/logs.h"
#include "queue/message_file.h"
#include "queue/queue_writer.h"
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "transports/smtp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

namespace brimlow {
namespace {

using test::ListDir;
using test::ReadFile;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Desk A twice (the second at a company that refuses its PIN), Desk B, the group Desks of them and of a name that
// is nobody's, the signature " --sig"; the settings in a configuration folder of the test's own.
class SendCommandTest : public ::testing::Test {
protected:
    SendCommandTest() {
        Directory& dir = *tc.console.local;
        dir.companies[0] = test::MakeCompany("Metro", "127.0.0.1", server.Port());
        dir.companies[1] = test::MakeCompany("Refusing", "127.0.0.1", refusing.Port());
        for (auto [name, company, pin, email] : {std::tuple{"Desk A", 0, "11", "a1@example.net"},
                                                 {"Desk A", 1, "12", "a2@example.net"},
                                                 {"Desk B", 0, "21", "b@example.net"}}) {
            SubscriberRecord record = test::MakeSubscriber(name, company, pin);
            SetText(record.Email, email);
            AddSubscriber(dir, record);
        }
        test::AddGroup(dir, "Desks", {"Desk A", "Desk B", "", "Desk C"});
        SetText(tc.console.signature.Text, " --sig");
        mkdir(config.c_str(), 0700);
        mkdir((config + "/Quillfen Labs").c_str(), 0700);
        EXPECT_TRUE(SaveDirectoryFiles(tc.dir.Path(), dir, tc.console.modem) && SaveCompanyFile(tc.dir.Path(), dir) &&
                    SaveSignatureFile(tc.dir.Path(), tc.console.signature));
    }

    test::RunResult Send(std::vector<std::string> args, const std::string& input = "",
                         std::vector<std::string> env = {}) {
        args.insert(args.begin(), {"--data", tc.dir.Path(), "send"});
        env.push_back("XDG_CONFIG_HOME=" + config);
        return test::RunBrimlow(args, env, input);
    }
    std::vector<std::string> Named(const std::string& prefix) {
        std::vector<std::string> names;
        for (const std::string& name : ListDir(tc.dir.Path()))
            if (name.rfind(prefix, 0) == 0)
                names.push_back(name);
        return names;
    }

    test::SnppSimulator server{test::SnppScript{}};
    test::SnppSimulator refusing{
        test::With(&test::SnppScript::replies, std::map<std::string, std::string>{{"PAGE", "550 Invalid pager id"}})};
    test::TestConsole tc;
    std::string config = tc.dir.File("config");
};

// Each member of a group is paged in the order of the names, a refused one is said on standard error and ends the
// command with status 1; the message may come from standard input, and BRIMLOW_TRACE shows the raw exchange.
TEST_F(SendCommandTest, NetPagePagesEveryMemberAndTracesTheRawExchangeOnRequest) {
    test::RunResult run = Send({"--mode", "netpage", "--to", "Desk B", "--to", "Desks", "--message", "Drill"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, std::string("Brimlow: ") + kSendError + "\n");
    EXPECT_THAT(run.out, HasSubstr("250 Message sent successfully"));
    EXPECT_THAT(run.out, HasSubstr("550 Invalid pager id"));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 21", "DATA", "SEND", "QUIT", "PAGE 11", "DATA", "SEND", "QUIT",
                                               "PAGE 21", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(refusing.Commands(), ElementsAre("PAGE 12", "QUIT"));
    std::string log = ReadFile(tc.dir.File(kMessageLog));
    EXPECT_THAT(log, HasSubstr(" Desk A Msg: Drill\r\n\r\n"));
    EXPECT_THAT(log, HasSubstr(" Desk B Msg: Drill\r\n\r\n"));

    run = Send({"--mode", "netpage", "--to", "Desk B"}, "From standard input\nin two lines\n", {"BRIMLOW_TRACE=snpp"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(server.Messages().back(), "From standard input\nin two lines\n");
    EXPECT_THAT(run.err, HasSubstr("snpp <-- 220 SNPP simulator ready\n"));
    EXPECT_THAT(run.err, HasSubstr("snpp --> PAGE 21\\r\\n\n"));
    EXPECT_THAT(run.err, HasSubstr("snpp --> From standard input\\r\\nin two lines\\r\\n.\\r\\n\n"));
}

// The send-queue worker runs before the command ends: the held pages are ready for the next scan.
TEST_F(SendCommandTest, PageModeQueuesReleasedPages) {
    test::RunResult run = Send({"--mode", "page", "--to", "Desks", "--message", "Drill"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(ListDir(tc.dir.File("0")), ElementsAre("MSGAAAAA.AAA", "MSGAAAAA.AAB"));
    EXPECT_THAT(ListDir(tc.dir.File("1")), ElementsAre("MSGAAAAA.AAA"));
}

// E-mail goes without the signature; the command waits for its daemons and fails while a packet waits.
TEST_F(SendCommandTest, EmailWaitsForItsDaemonsAndFailsWhenAPacketIsKeptForLater) {
    std::string mail = tc.dir.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail));
    ASSERT_GT(smtp.Port(), 0);
    test::WriteFile(config + "/Quillfen Labs/Brimlow.conf",
                    "[Options]\nOutbound%20Mail%20Server=127.0.0.1\nReturn%20Address=desk@example.com\n"
                    "User%20Name=Duty Desk\n");
    const std::string port = std::string(kSmtpPortVariable) + "=";
    test::RunResult run =
        Send({"--mode", "email", "--subject", "Drill", "--signature", "--to", "Desks", "--message", "Hi"}, "",
             {port + std::to_string(smtp.Port())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("250 Message accepted for delivery"));
    EXPECT_TRUE(test::FileExists(mail + "/3.eml"));
    EXPECT_THAT(ReadFile(mail + "/1.eml"), HasSubstr("From: Duty Desk <desk@example.com>\r\nSubject: Drill\r\n"));
    EXPECT_THAT(ReadFile(mail + "/1.eml"), EndsWith("\r\n\r\nHi\r\n\r\n"));
    EXPECT_THAT(ReadFile(tc.dir.File(kMessageLog)), HasSubstr(" Desk B Sub: Drill Msg: Hi\r\n"));

    run =
        Send({"--mode", "email", "--to", "Desk B", "--message", "Hi"}, "", {port + std::to_string(test::UnusedPort())});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Unable to connect to 127.0.0.1"));
    EXPECT_THAT(run.out, HasSubstr("Page for <b@example.net> kept for a later try"));
    EXPECT_EQ(Named("EMG").size(), 1u);
}

// An SNPP page failing for the moment goes back into the queue under a name of its own (no worker listed it
// before), keeps its time of writing, and goes with the next run; a day after its writing it is given up.
TEST_F(SendCommandTest, AnSnppPageFailingForTheMomentWaitsForTheNextWorkerRunForADay) {
    auto runWorker = [&] {
        RunSendQueueWorker(tc.console);
        ASSERT_TRUE(tc.console.workers.WaitIdle(30000));
    };
    auto writePage = [&](const std::string& text, time_t when) {
        std::string path =
            test::WritePage(tc.console, tc.dir.Path(), kReadyPrefix, tc.console.local->subscribers[2], text);
        timeval times[2] = {{when, 0}, {when, 0}};
        utimes(path.c_str(), times);
        return path;
    };
    auto lastWrite = [](const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mtime;
    };
    test::SnppSimulator closing(
        test::With(&test::SnppScript::replies, std::map<std::string, std::string>{{"PAGE", "421 Too busy, closing"}}));
    tc.console.local->companies[0].Socket = static_cast<int16_t>(closing.Port());
    const time_t queuedAt = time(nullptr) - 3600;
    std::string first = writePage("Drill", queuedAt);
    runWorker();
    std::vector<std::string> queued = Named("MSG");
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_NE(tc.dir.File(queued[0]), first);
    EXPECT_EQ(lastWrite(tc.dir.File(queued[0])), queuedAt);
    EXPECT_TRUE(tc.WaitForStatus("Page for Desk B kept for a later try"));

    tc.console.local->companies[0].Socket = static_cast<int16_t>(server.Port());
    runWorker();
    EXPECT_THAT(Named("MSG"), IsEmpty());
    EXPECT_THAT(server.Messages(), ElementsAre("Drill\n"));
    EXPECT_EQ(tc.console.sentPages, 1);
    EXPECT_EQ(tc.console.failedPages, 1);

    tc.console.local->companies[0].Socket = static_cast<int16_t>(closing.Port());
    writePage("Old", time(nullptr) - kRetryPeriodSeconds - 1);
    runWorker();
    EXPECT_THAT(Named("MSG"), IsEmpty());
    EXPECT_TRUE(tc.WaitForStatus("Page for Desk B given up after 24 hours"));
}

} // namespace
} // namespace brimlow
