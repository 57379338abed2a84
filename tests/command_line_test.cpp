// The brimlow executable end to end: commands on a data directory, what scripts see of its errors, and consoles
// started, signalled and started twice.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "tests/support/line_peer.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_console.h"

#include <QSettings>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace brimlow {
namespace {

using test::BrimlowProcess;
using test::FileExists;
using test::ReadFile;
using test::RunBrimlow;

class CommandLineTest : public ::testing::Test {
protected:
    test::TempDir data;
    test::TempDir config;
    // A console in the server role listens on a free port, never on the LAN's own.
    std::vector<std::string> Env() const {
        return {"XDG_CONFIG_HOME=" + config.Path(), "BRIMLOW_LAN_PORT=" + std::to_string(test::UnusedPort())};
    }
    // Desk A and Desk B of company 0, and the group Desks of both.
    void WriteDirectory() {
        auto dir = Directory::Create();
        dir->companies[0] = test::MakeCompany("Metro", "snpp.example", 444);
        AddSubscriber(*dir, test::MakeSubscriber("Desk A", 0, "123"));
        AddSubscriber(*dir, test::MakeSubscriber("Desk B", 0, "456"));
        test::AddGroup(*dir, "Desks", {"Desk A", "Desk B"});
        SortSubscribers(*dir);
        ModemSettings modem{};
        Signature signature{};
        SaveDirectoryFiles(data.Path(), *dir, modem);
        SaveCompanyFile(data.Path(), *dir);
        SaveSignatureFile(data.Path(), signature);
        mkdir(data.File(kTrackingFolder).c_str(), 0700);
    }
    // The names and contents of the data directory's files (the lock file of the data directory aside).
    std::string Everything() {
        std::string all;
        for (const std::string& name : test::ListDir(data.Path()))
            if (name[0] != '.')
                all += name + (FileExists(data.File(name + "/.")) ? "/" : ":" + ReadFile(data.File(name)));
        return all;
    }
};

// What scripts rely on: help on standard output with status 0, every mistake one line on standard error that
// names it, status 2, and nothing done.
TEST_F(CommandLineTest, HelpAndUsageErrorsInOneTable) {
    WriteDirectory();
    const std::string d = data.Path();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says; // on standard output for status 0, else on standard error
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, "exit status: 0 done, 1 a page or a file operation failed, 2 a usage error"},
        {{"help"}, 0, "  send     page the named entries"},
        {{"help", "send"}, 0, "  --message TEXT     the page; without it"},
        {{"send", "--help"}, 0, "  --to NAME          a subscriber or group name"},
        {{"help", "queue"}, 0, "usage: brimlow [--data DIR] queue\n"},
        {{"help", "purge"}, 0, "usage: brimlow [--data DIR] purge\n"},
        {{"export", "--help"}, 0, "  --yes              overwrite files that exist"},
        {{"import", "-h"}, 0, "  --groups FILE      the group file"},
        {{"help", "fax"}, 2, "brimlow: no command fax"},
        {{"frobnicate"}, 2, "brimlow: no command frobnicate"},
        {{"--bogus"}, 2, "brimlow: unknown option --bogus"},
        {{"--data"}, 2, "brimlow: --data needs a folder"},
        {{"--headless", "queue"}, 2, "takes no command"},
        {{"--data", d + "/missing", "queue"}, 2, "brimlow: queue: the data directory " + d + "/missing does not exist"},
        {{"--data", d, "queue", "extra"}, 2, "brimlow: queue: unexpected argument \"extra\""},
        {{"--data", d, "send", "--mode", "page", "--to", "Desk A", "--mesage", "x"},
         2,
         "brimlow: send: unknown option --mesage; did you mean --message? (brimlow send --help lists the options)"},
        {{"--data", d, "send", "--mode", "page", "--to"}, 2, "brimlow: send: --to needs a value"},
        {{"--data", d, "send", "--mode", "fax", "--to", "Desk A", "--message", "x"}, 2, "--mode must be netpage"},
        {{"--data", d, "send", "--mode", "page", "--message", "x"}, 2, "give at least one --to NAME"},
        {{"--data", d, "send", "--mode", "page", "--to", "Desk A", "--to", "Desk Q", "--message", "x"},
         2,
         "no subscriber or group named \"Desk Q\" in the local directory; the closest names are \"Desk A\", "
         "\"Desk B\", \"Desks\""},
        {{"--data", d, "send", "--mode", "page", "--to", "desks", "--message", "x"}, 2, "closest names are \"Desks\""},
        {{"--data", d, "send", "--mode", "email", "--to", "Desk A", "--message", "x"},
         2,
         "set \"Outbound Mail Server\" in group Options of " + config.Path() + "/Quillfen Labs/Brimlow.conf"},
        {{"--data", d, "import", "--subscribers", d + "/none.brw"}, 1, kImportOpenError},
    };
    const std::string before = Everything();
    for (const Case& c : cases) {
        std::string call;
        for (const std::string& arg : c.args)
            call += " " + arg;
        SCOPED_TRACE(call);
        test::RunResult r = RunBrimlow(c.args, Env());
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.says), std::string::npos) << r.out << r.err;
        if (c.status != 0) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_TRUE(Everything() == before) << "something was done";
    }
    EXPECT_FALSE(FileExists(data.File("missing")));
}

// On a terminal, send says where the message comes from before it waits for it.
TEST_F(CommandLineTest, SendOnATerminalSaysItReadsTheMessageFromStandardInput) {
    WriteDirectory();
    test::PtyPair pty;
    int terminal = open(pty.Slave().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_adddup2(&actions, terminal, fd);
    pid_t pid = -1;
    ASSERT_EQ(test::SpawnProcess(
                  pid, actions,
                  {test::BrimlowBinary(), "--data", data.Path(), "send", "--mode", "page", "--to", "Desk A"}, Env()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(terminal);
    std::string shown;
    for (int i = 0; i < 100 && shown.find("Ctrl-D") == std::string::npos; ++i)
        shown += pty.Read(1);
    EXPECT_NE(shown.find("brimlow: send: reading the message from standard input; end it with Ctrl-D"),
              std::string::npos)
        << shown;
    pty.Write("\x04"); // an empty message: nothing is sent
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(test::ListDir(data.File("0")).empty());
}

TEST_F(CommandLineTest, QueuePrintsTheCountsAndPurgeDeletesAllButTheEmailPackets) {
    mkdir(data.File("3").c_str(), 0700);
    for (const char* name : {"MSGAAAAA.AAA", "3/MSGAAAAA.AAA", "3/MSQAAAAA.AAB", "EMGAAAAA.AAA"})
        test::WriteFile(data.File(name), std::string(1546, '\0'));
    test::RunResult r = RunBrimlow({"--data", data.Path(), "queue"}, Env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Queue: 4\nPending modem: 1\n");
    r = RunBrimlow({"--data", data.Path(), "purge"}, Env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Deleted: 3\nQueue: 1\nPending modem: 0\n");
}

// Export and import into a data directory of any length, and an export over files that exist needs --yes.
TEST_F(CommandLineTest, ExportThenImportRoundTripsAndOverwritingNeedsYes) {
    WriteDirectory();
    test::TempDir out;
    std::vector<std::string> files = {"--companies",     out.File("c.brw"), "--subscribers",
                                      out.File("s.brw"), "--groups",        out.File("g.brw")};
    std::vector<std::string> args = {"--data", data.Path(), "export"};
    args.insert(args.end(), files.begin(), files.end());
    test::RunResult r = RunBrimlow(args, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Exported subscribers: 3"), std::string::npos) << r.out;
    r = RunBrimlow(args, Env());
    EXPECT_EQ(r.status, 1) << "existing files are not overwritten without --yes";
    EXPECT_NE(r.err.find(kExportOverwriteQuestion), std::string::npos);
    args.push_back("--yes");
    EXPECT_EQ(RunBrimlow(args, Env()).status, 0);

    std::string deep = out.Path();
    for (int i = 0; i < 6; ++i)
        deep += "/a-rather-long-folder-name-to-pass-one-hundred-characters";
    std::filesystem::create_directories(deep);
    std::vector<std::string> importArgs = {"--data", deep, "import"};
    importArgs.insert(importArgs.end(), files.begin(), files.end());
    r = RunBrimlow(importArgs, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Imported groups: 1"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(deep + "/" + kSubscriberFile), ReadFile(data.File(kSubscriberFile)));
    EXPECT_EQ(ReadFile(deep + "/" + kGroupFile), ReadFile(data.File(kGroupFile)));
}

TEST_F(CommandLineTest, HeadlessConsoleCreatesItsDataDirectoryAndShutsDownInOrderOnSigterm) {
    {
        QSettings seed(QString::fromStdString(config.Path() + "/Quillfen Labs/Brimlow.conf"), QSettings::IniFormat);
        seed.setValue("Options/NetworkEnabled", 1);
        seed.setValue("Options/Username", "ann");
    }
    BrimlowProcess console;
    const std::string fresh = data.File("new/console");
    ASSERT_TRUE(console.Start({"--data", fresh, "--server", "--headless"}, Env()));
    ASSERT_TRUE(console.WaitForOutput("running on")) << console.Output();
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 0) << console.Output();
    for (const char* name : {kCompanyFile, kSubscriberFile, kModemFile, kSignatureFile, "click.wav", "receive.wav"})
        EXPECT_TRUE(FileExists(fresh + "/" + name)) << name;
    EXPECT_EQ(ReadFile(fresh + "/" + kGroupFile).size(), 3240000u);
    EXPECT_EQ(ReadFile(fresh + "/Brimlow.PDF").substr(0, 5), "%PDF-");
    QSettings saved(QString::fromStdString(config.Path() + "/Quillfen Labs/Brimlow.conf"), QSettings::IniFormat);
    EXPECT_EQ(saved.value("Options/NetworkEnabled").toInt(), 0);
    EXPECT_EQ(saved.value("Options/Username").toString(), "");
    EXPECT_EQ(saved.value("Options/Tab1").toString(), "Tab1");
}

// Failures are said and end with a non-zero status: a page that purge cannot delete (here a folder that looks
// like one), a data file the console cannot save at its end; a message longer than a page is cut, and said so.
TEST_F(CommandLineTest, FailuresAreSaidAndLongMessagesCut) {
    mkdir(data.File("3").c_str(), 0700);
    mkdir(data.File("3/MSGSTUCK.AAA").c_str(), 0700);
    test::WriteFile(data.File("3/MSGAAAAA.AAA"), std::string(1546, '\0'));
    test::RunResult r = RunBrimlow({"--data", data.Path(), "purge"}, Env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Deleted: 1\nQueue: 1\nPending modem: 1\n");
    EXPECT_NE(r.err.find("1 queued pages could not be deleted"), std::string::npos) << r.err;

    WriteDirectory();
    for (auto [text, cut] : {std::pair{std::string(999, 'x') + "\n", false}, std::pair{std::string(1000, 'x'), true},
                             std::pair{std::string(60000, 'y'), true}}) {
        r = RunBrimlow({"--data", data.Path(), "send", "--mode", "page", "--to", "Desk A"}, Env(), text);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("the message was cut to the 999 characters a page holds") != std::string::npos, cut)
            << text.size() << r.err;
    }

    ASSERT_EQ(unlink(data.File(kGroupFile).c_str()), 0);
    ASSERT_EQ(mkdir(data.File(kGroupFile).c_str(), 0700), 0);
    BrimlowProcess console;
    ASSERT_TRUE(console.Start({"--data", data.Path(), "--headless"}, Env(), ""));
    ASSERT_TRUE(console.WaitForOutput("running on")) << console.Output();
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 1) << console.Output();
    EXPECT_NE(console.Errors().find("Unable to save GROUP.DAT in "), std::string::npos) << console.Errors();
}

TEST_F(CommandLineTest, SecondConsoleOnTheSameDesktopEndsWithoutTouchingFiles) {
    BrimlowProcess first;
    ASSERT_TRUE(first.Start({"--data", data.Path(), "--headless"}, Env()));
    ASSERT_TRUE(first.WaitForOutput("running on")) << first.Output();

    test::TempDir secondData;
    test::RunResult second = RunBrimlow({"--data", secondData.File("new"), "--headless"}, Env());
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("already running"), std::string::npos) << second.out;
    EXPECT_TRUE(test::ListDir(secondData.Path()).empty()) << "not even the data directory is created";
    EXPECT_TRUE(first.WaitForOutput("Another console was started"));

    // A separate settings location is another desktop: it runs side by side, but not on the same data.
    test::TempDir otherConfig, otherData;
    BrimlowProcess third;
    ASSERT_TRUE(third.Start({"--data", otherData.Path(), "--headless"}, {"XDG_CONFIG_HOME=" + otherConfig.Path()}));
    EXPECT_TRUE(third.WaitForOutput("running on")) << third.Output();
    test::RunResult sameData =
        RunBrimlow({"--data", data.Path(), "--headless"}, {"XDG_CONFIG_HOME=" + otherData.Path()});
    EXPECT_EQ(sameData.status, 1);
    EXPECT_NE(sameData.err.find("data directory"), std::string::npos) << sameData.err;

    // Import refuses while a console holds the data directory.
    test::RunResult import = RunBrimlow({"--data", data.Path(), "import"}, Env());
    EXPECT_EQ(import.status, 1);
    EXPECT_NE(import.err.find("close it before importing"), std::string::npos) << import.err;

    third.Signal(SIGINT);
    EXPECT_EQ(third.Wait(), 0);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
}

} // namespace
} // namespace brimlow
