// The brimlow executable end to end: its commands and errors, pages to real and simulated peers, headless consoles.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "queue/logs.h"
#include "queue/message_file.h"
#include "queue/queue_writer.h"
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "tests/tap_terminal_sim.h"
#include "transports/smtp.h"

#include <QSettings>
#include <csignal>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace brimlow {
namespace {

using test::BrimlowProcess;
using test::FileExists;
using test::ListDir;
using test::ReadFile;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// Desk A twice (once at a provider refusing the PIN), Desk B, Desks (with a nobody), 200 long names, a modem on COM1.
class CommandLineTest : public ::testing::Test {
protected:
    CommandLineTest() {
        auto dir = Directory::Create();
        dir->companies[0] = test::MakeCompany("Metro", "127.0.0.1", server.Port());
        dir->companies[1] = test::MakeCompany("Refusing", "127.0.0.1", refusing.Port());
        SetText(dir->companies[0].Phone, "5550100");
        for (auto [name, company, pin, email] : {std::tuple{"Desk A", 0, "11", "a1@example.net"},
                                                 {"Desk A", 1, "12", "a2@example.net"},
                                                 {"Desk B", 0, "21", "b@example.net"}}) {
            SubscriberRecord record = test::MakeSubscriber(name, company, pin);
            SetText(record.Email, email);
            SetText(record.Address, "1 Main St");
            AddSubscriber(*dir, record);
        }
        test::AddGroup(*dir, "Desks", {"Desk A", "Desk B", "Desk C"});
        std::vector<std::string> longNames; // the longest group line export writes
        for (int m = 0; m < kGroupMembers; ++m)
            longNames.push_back(std::to_string(1000 + m) + std::string(kMemberNameSize - 5, 'n'));
        test::AddGroup(*dir, "Everyone", longNames);
        ModemSettings modem{};
        SetText(modem.InitString, "ATE0M0");
        SetText(modem.DialPrefix, "ATDT");
        Signature signature{};
        SetText(signature.Text, " --sig");
        EXPECT_TRUE(SaveDirectoryFiles(data.Path(), *dir, modem) && SaveCompanyFile(data.Path(), *dir) &&
                    SaveSignatureFile(data.Path(), signature));
        mkdir(data.File(kTrackingFolder).c_str(), 0700);
    }
    // A console in the server role listens on a free port, never on the LAN's own.
    std::vector<std::string> Env() const {
        return {"XDG_CONFIG_HOME=" + config.Path(), "BRIMLOW_LAN_PORT=" + std::to_string(test::UnusedPort())};
    }
    test::RunResult Run(const std::vector<std::string>& args, const std::string& input = "",
                        const std::vector<std::string>& env = {}) {
        std::vector<std::string> all = Env();
        all.insert(all.end(), env.begin(), env.end());
        return test::RunBrimlow(args, all, input);
    }
    test::RunResult Send(std::vector<std::string> args, const std::string& input = "",
                         const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), {"--data", data.Path(), "send"});
        return Run(args, input, env);
    }
    // The names and contents of the data directory's files (the lock file of the data directory aside).
    std::string Everything() {
        std::string all;
        for (const std::string& name : ListDir(data.Path()))
            if (name[0] != '.')
                all += name + (FileExists(data.File(name + "/.")) ? "/" : ":" + ReadFile(data.File(name)));
        return all;
    }

    test::TempDir data;
    test::TempDir config;
    test::SnppSimulator server{test::SnppScript{}};
    test::SnppSimulator refusing{
        test::With(&test::SnppScript::replies, std::map<std::string, std::string>{{"PAGE", "550 Invalid pager id"}})};
};

// Help goes to standard output with status 0; every mistake is one line on standard error, status 2, nothing done.
TEST_F(CommandLineTest, HelpAndUsageErrorsInOneTable) {
    const std::string d = data.Path();
    auto send = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--data", d, "send", "--mode"});
        return args;
    };
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says; // on standard output for status 0, else on standard error
    } cases[] = {
        {{"--help"}, 0, "exit status: 0 done, 1 a page or a file operation failed, 2 a usage error"},
        {{"help", "send"}, 0, "  --message TEXT     the page; without it"},
        {{"import", "-h"}, 0, "  --groups FILE      the group file"},
        {{"frobnicate"}, 2, "brimlow: no command frobnicate"},
        {{"--bogus"}, 2, "brimlow: unknown option --bogus"},
        {{"--data"}, 2, "brimlow: --data needs a folder"},
        {{"--headless", "queue"}, 2, "takes no command"},
        {{"--data", d + "/missing", "queue"}, 2, "brimlow: queue: the data directory " + d + "/missing does not exist"},
        {{"--data", d, "queue", "extra"}, 2, "brimlow: queue: unexpected argument \"extra\""},
        {send({"page", "--to", "Desk A", "--mesage", "x"}), 2,
         "brimlow: send: unknown option --mesage; did you mean --message? (brimlow send --help lists the options)"},
        {send({"page", "--to"}), 2, "brimlow: send: --to needs a value"},
        {send({"fax", "--to", "Desk A", "--message", "x"}), 2, "--mode must be netpage"},
        {send({"page", "--message", "x"}), 2, "give at least one --to NAME"},
        {send({"page", "--to", "Desk A", "--to", "Desk Q", "--message", "x"}), 2,
         "no subscriber or group named \"Desk Q\" in the local directory; the closest names are \"Desk A\", "
         "\"Desk B\", \"Desks\""},
        {send({"page", "--to", "desks", "--message", "x"}), 2, "closest names are \"Desks\""},
        {send({"email", "--to", "Desk A", "--message", "x"}), 2,
         "set \"Outbound Mail Server\" in group Options of " + config.Path() + "/Quillfen Labs/Brimlow.conf"},
        {send({"page", "--to", "Desk A"}), 1, kNoMessageError}, // an empty standard input
        {{"--data", d, "import", "--subscribers", d + "/none.brw"}, 1, kImportOpenError},
    };
    const std::string before = Everything();
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        test::RunResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_THAT(c.status == 0 ? r.out : r.err, HasSubstr(c.says)) << r.out << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.status == 0 ? 0 : 1) << r.err;
        EXPECT_TRUE(Everything() == before) << "something was done";
    }
}

// Group members are paged in the order of their names, a refusal gives status 1; BRIMLOW_TRACE shows the exchange.
TEST_F(CommandLineTest, NetPagePagesEveryMemberAndTracesTheRawExchangeOnRequest) {
    test::RunResult run = Send({"--mode", "netpage", "--to", "Desk B", "--to", "Desks", "--message", "Drill"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, std::string("Brimlow: ") + kSendError + "\n");
    EXPECT_THAT(run.out, HasSubstr("550 Invalid pager id"));
    EXPECT_THAT(server.Commands(), ElementsAre("PAGE 21", "DATA", "SEND", "QUIT", "PAGE 11", "DATA", "SEND", "QUIT",
                                               "PAGE 21", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(refusing.Commands(), ElementsAre("PAGE 12", "QUIT"));
    EXPECT_THAT(ReadFile(data.File(kMessageLog)), HasSubstr(" Desk B Msg: Drill\r\n\r\n"));

    run = Send({"--mode", "netpage", "--to", "Desk B"}, "From standard input\nin two lines\n", {"BRIMLOW_TRACE=snpp"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(server.Messages().back(), "From standard input\nin two lines\n");
    EXPECT_THAT(run.err, HasSubstr("snpp <-- 220 SNPP simulator ready\n"));
    EXPECT_THAT(run.err, HasSubstr("snpp --> From standard input\\r\\nin two lines\\r\\n.\\r\\n\n"));
}

// Page mode leaves ready pages (a long message cut and said so); queue counts them, purge leaves the e-mail.
TEST_F(CommandLineTest, PageModeQueuesReadyPagesThatQueueCountsAndPurgeDeletes) {
    test::RunResult r = Send({"--mode", "page", "--to", "Desks", "--message", "Drill"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(ListDir(data.File("0")), ElementsAre("MSGAAAAA.AAA", "MSGAAAAA.AAB"));
    EXPECT_THAT(ListDir(data.File("1")), ElementsAre("MSGAAAAA.AAA"));
    for (auto [text, cut] : {std::pair{std::string(999, 'x') + "\n", false}, {std::string(1000, 'y'), true}}) {
        r = Send({"--mode", "page", "--to", "Desk B"}, text);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("the message was cut to the 999 characters a page holds") != std::string::npos, cut)
            << text.size() << r.err;
    }
    for (const char* file : {"EMGAAAAA.AAA", "3/MSQAAAAA.AAB", "Queue/north/5/MSGAAAAA.AAA"}) {
        std::filesystem::create_directories(std::filesystem::path(data.File(file)).parent_path());
        test::WriteFile(data.File(file), std::string(kMessageFileSize, '\0'));
    }
    r = Run({"--data", data.Path(), "queue"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Queue: 8\nPending modem: 6\n");
    r = Run({"--data", data.Path(), "purge"}); // the e-mail packet and the network queue stay
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Deleted: 6\nQueue: 2\nPending modem: 1\n");

    // A page that purge cannot delete (here a folder that looks like one) is said, with status 1.
    mkdir(data.File("3/MSGSTUCK.AAA").c_str(), 0700);
    r = Run({"--data", data.Path(), "purge"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Deleted: 0\nQueue: 3\nPending modem: 2\n");
    EXPECT_THAT(r.err, HasSubstr("1 queued pages could not be deleted"));
}

// E-mail goes without the signature; the command waits for its daemons and fails while a packet waits.
TEST_F(CommandLineTest, EmailWaitsForItsDaemonsAndFailsWhenAPacketIsKeptForLater) {
    std::string mail = config.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail));
    ASSERT_GT(smtp.Port(), 0);
    mkdir(config.File("Quillfen Labs").c_str(), 0700);
    test::WriteFile(config.File("Quillfen Labs/Brimlow.conf"),
                    "[Options]\nOutbound%20Mail%20Server=127.0.0.1\nReturn%20Address=desk@example.com\n"
                    "User%20Name=Duty Desk\n");
    const std::string port = std::string(kSmtpPortVariable) + "=";
    test::RunResult run =
        Send({"--mode", "email", "--subject", "Drill", "--signature", "--to", "Desks", "--message", "Hi"}, "",
             {port + std::to_string(smtp.Port())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(FileExists(mail + "/3.eml"));
    EXPECT_THAT(ReadFile(mail + "/1.eml"), AllOf(HasSubstr("From: Duty Desk <desk@example.com>\r\nSubject: Drill\r\n"),
                                                 EndsWith("\r\n\r\nHi\r\n\r\n")));
    EXPECT_THAT(ReadFile(data.File(kMessageLog)), HasSubstr(" Desk B Sub: Drill Msg: Hi\r\n"));

    run =
        Send({"--mode", "email", "--to", "Desk B", "--message", "Hi"}, "", {port + std::to_string(test::UnusedPort())});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Unable to connect to 127.0.0.1"));
    EXPECT_THAT(run.out, HasSubstr("Page for <b@example.net> kept for a later try"));
    EXPECT_TRUE(FileExists(data.File("EMGAAAAA.AAA")));
}

// Export and import into a data directory of any length, and an export over files that exist needs --yes.
TEST_F(CommandLineTest, ExportThenImportRoundTripsAndOverwritingNeedsYes) {
    std::string deep = config.Path();
    for (int i = 0; i < 6; ++i)
        deep += "/a-rather-long-folder-name-to-pass-one-hundred-characters";
    std::filesystem::create_directories(deep);
    auto run = [&](const std::string& dataDir, std::vector<std::string> args) {
        args.insert(args.begin(), {"--data", dataDir});
        for (const std::string kind : {"companies", "subscribers", "groups"})
            args.insert(args.end(), {"--" + kind, config.File(kind)});
        return Run(args);
    };
    test::RunResult r = run(data.Path(), {"export"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Exported subscribers: 5"));
    r = run(data.Path(), {"export"});
    EXPECT_EQ(r.status, 1) << "existing files are not overwritten without --yes";
    EXPECT_THAT(r.err, HasSubstr(kExportOverwriteQuestion));
    EXPECT_EQ(run(data.Path(), {"export", "--yes"}).status, 0);
    r = run(deep, {"import"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Imported groups: 2"));
    for (const char* file : {kSubscriberFile, kGroupFile})
        EXPECT_TRUE(ReadFile(deep + "/" + file) == ReadFile(data.File(file))) << file;
}

// A fresh data directory is filled; the server role forces its settings; a second console is refused; SIGTERM saves.
TEST_F(CommandLineTest, HeadlessConsolesCreateTheirDataStartOncePerDesktopAndSayAFailedSave) {
    {
        QSettings seed(QString::fromStdString(config.File("Quillfen Labs/Brimlow.conf")), QSettings::IniFormat);
        seed.setValue("Options/NetworkEnabled", 1);
        seed.setValue("Options/Username", "ann");
    }
    BrimlowProcess first;
    const std::string fresh = data.File("new/console");
    ASSERT_TRUE(first.Start({"--data", fresh, "--server", "--headless"}, Env()));
    ASSERT_TRUE(first.WaitForOutput("running on")) << first.Output();
    for (const char* name : {kCompanyFile, kSubscriberFile, kModemFile, kSignatureFile, "click.wav", "receive.wav"})
        EXPECT_TRUE(FileExists(fresh + "/" + name)) << name;
    EXPECT_EQ(ReadFile(fresh + "/Brimlow.PDF").substr(0, 5), "%PDF-");

    test::TempDir secondData;
    test::RunResult second = test::RunBrimlow({"--data", secondData.File("new"), "--headless"}, Env());
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_THAT(second.out, HasSubstr("already running"));
    EXPECT_TRUE(ListDir(secondData.Path()).empty()) << "not even the data directory is created";
    EXPECT_TRUE(first.WaitForOutput("Another console was started"));
    test::RunResult sameData =
        test::RunBrimlow({"--data", fresh, "--headless"}, {"XDG_CONFIG_HOME=" + secondData.Path()});
    EXPECT_EQ(sameData.status, 1);
    EXPECT_THAT(sameData.err, HasSubstr("data directory"));
    test::RunResult import = Run({"--data", fresh, "import"});
    EXPECT_EQ(import.status, 1);
    EXPECT_THAT(import.err, HasSubstr("close it before importing"));

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0) << first.Output();
    EXPECT_EQ(ReadFile(fresh + "/" + kGroupFile).size(), 3240000u);
    QSettings saved(QString::fromStdString(config.File("Quillfen Labs/Brimlow.conf")), QSettings::IniFormat);
    EXPECT_EQ(saved.value("Options/NetworkEnabled").toInt(), 0);
    EXPECT_EQ(saved.value("Options/Username").toString(), "");

    // A data file the console cannot save at its end (here on SIGINT) is said, and the status is 1.
    ASSERT_EQ(unlink(data.File(kGroupFile).c_str()), 0);
    ASSERT_EQ(mkdir(data.File(kGroupFile).c_str(), 0700), 0);
    // A start removes the temporaries of a save that was killed, and no other file.
    const std::pair<const char*, bool> dotFiles[] = {
        {".GROUP.DAT.a1B2c3", false}, {".GROUP.DAT.short", true}, {".other.DAT.abcdef", true}};
    for (auto [name, kept] : dotFiles)
        test::WriteFile(data.File(name), "x");
    BrimlowProcess failing;
    ASSERT_TRUE(failing.Start({"--data", data.Path(), "--headless"}, Env(), ""));
    ASSERT_TRUE(failing.WaitForOutput("running on")) << failing.Output();
    for (auto [name, kept] : dotFiles)
        EXPECT_EQ(FileExists(data.File(name)), kept) << name;
    failing.Signal(SIGINT);
    EXPECT_EQ(failing.Wait(), 1) << failing.Output();
    EXPECT_THAT(failing.Errors(), HasSubstr("Unable to save GROUP.DAT in "));
}

// An exit during a headless call ends it long before the modem's or terminal's time-outs; the page stays queued.
TEST_F(CommandLineTest, AnExitInTheMiddleOfAHeadlessCallEndsItAndKeepsThePage) {
    using Script = test::TapTerminalScript;
    const struct {
        Script script;
        const char* waitFor;
    } cases[] = {{test::With(&Script::dial, test::DialAnswer::Silent), "Calling Metro..."},
                 {test::With(&Script::blockAnswers, std::vector(3, test::BlockAnswer::Silent)), "Sending message..."}};
    ASSERT_EQ(Send({"--mode", "page", "--to", "Desk B", "--message", "Road closed"}).status, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.waitFor);
        test::TapTerminalSim sim(c.script);
        QSettings(QString::fromStdString(config.File("Quillfen Labs/Brimlow.conf")), QSettings::IniFormat)
            .setValue("Options/Com1Device", QString::fromStdString(sim.Device()));
        BrimlowProcess console;
        ASSERT_TRUE(console.Start({"--data", data.Path(), "--headless"}, Env()));
        ASSERT_TRUE(console.WaitForOutput(c.waitFor, 40000)) << console.Output();
        console.Signal(SIGTERM);
        EXPECT_EQ(console.Wait(9000), 0) << console.Output();
        EXPECT_EQ(ListDir(data.File("0")).size(), 1u);
    }
}

} // namespace
} // namespace brimlow
