// The brimlow executable end to end: commands on a data directory, and consoles started, signalled and
// started twice.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "tests/support/line_peer.h"
#include "tests/support/test_console.h"

#include <QSettings>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

    void WriteDirectory(Directory& dir) {
        ModemSettings modem{};
        SaveDirectoryFiles(data.Path(), dir, modem);
        SaveCompanyFile(data.Path(), dir);
    }
};

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

TEST_F(CommandLineTest, ExportThenImportRoundTripsAndOverwritingNeedsYes) {
    auto owned = Directory::Create();
    Directory& dir = *owned;
    dir.companies[0] = test::MakeCompany("Metro", "snpp.example", 444);
    AddSubscriber(dir, test::MakeSubscriber("Ann", 0, "123"));
    test::AddGroup(dir, "Team", {"Ann"});
    WriteDirectory(dir);
    test::TempDir out;
    std::vector<std::string> files = {"--companies", out.File("c.brw"), "--subscribers", out.File("s.brw"),
                                      "--groups", out.File("g.brw")};
    std::vector<std::string> args = {"--data", data.Path(), "export"};
    args.insert(args.end(), files.begin(), files.end());
    test::RunResult r = RunBrimlow(args, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Exported subscribers: 2"), std::string::npos) << r.out;
    EXPECT_NE(ReadFile(out.File("s.brw")).find("\"Ann\",\"123\""), std::string::npos);

    r = RunBrimlow(args, Env());
    EXPECT_EQ(r.status, 1) << "existing files are not overwritten without --yes";
    EXPECT_NE(r.err.find(kExportOverwriteQuestion), std::string::npos);
    args.push_back("--yes");
    EXPECT_EQ(RunBrimlow(args, Env()).status, 0);

    // Import into a fresh data directory.
    test::TempDir other;
    std::vector<std::string> importArgs = {"--data", other.Path(), "import"};
    importArgs.insert(importArgs.end(), files.begin(), files.end());
    r = RunBrimlow(importArgs, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Imported groups: 1"), std::string::npos) << r.out;
    auto owned2 = Directory::Create();
    Directory& loaded = *owned2;
    ModemSettings modem{};
    LoadDirectoryFiles(other.Path(), loaded, modem);
    LoadCompanyFile(other.Path(), loaded);
    EXPECT_EQ(GetText(loaded.subscribers[0].Name), "Ann");
    EXPECT_EQ(GetText(loaded.groups[1].Members[0]), "Ann");
    EXPECT_EQ(GetText(loaded.companies[0].Name), "Metro");
}

TEST_F(CommandLineTest, ImportOfAMissingFileFailsWithTheMessageAndChangesNothing) {
    auto owned = Directory::Create();
    Directory& dir = *owned;
    AddSubscriber(dir, test::MakeSubscriber("Keep", 0));
    WriteDirectory(dir);
    std::string before = ReadFile(data.File(kSubscriberFile));
    test::RunResult r = RunBrimlow({"--data", data.Path(), "import", "--subscribers", data.File("none.brw")}, Env());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(kImportOpenError), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(data.File(kSubscriberFile)), before);
}

TEST_F(CommandLineTest, HeadlessConsoleShutsDownInOrderOnSigterm) {
    {
        QSettings seed(QString::fromStdString(config.Path() + "/Quillfen Labs/Brimlow.conf"), QSettings::IniFormat);
        seed.setValue("Options/NetworkEnabled", 1);
        seed.setValue("Options/Username", "ann");
    }
    BrimlowProcess console;
    ASSERT_TRUE(console.Start({"--data", data.Path(), "--server", "--headless"}, Env()));
    ASSERT_TRUE(console.WaitForOutput("running on")) << console.Output();
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 0) << console.Output();
    for (const char* name : {kCompanyFile, kSubscriberFile, kGroupFile, kModemFile, kSignatureFile})
        EXPECT_TRUE(FileExists(data.File(name))) << name;
    EXPECT_EQ(ReadFile(data.File(kGroupFile)).size(), 3240000u);
    for (const char* name : {"click.wav", "receive.wav", "Brimlow.PDF"})
        EXPECT_TRUE(FileExists(data.File(name))) << "installation file " << name;
    EXPECT_EQ(ReadFile(data.File("Brimlow.PDF")).substr(0, 5), "%PDF-");
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

    auto owned = Directory::Create();
    AddSubscriber(*owned, test::MakeSubscriber("Ann", 0, "123"));
    WriteDirectory(*owned);
    for (auto [text, cut] : {std::pair{std::string(999, 'x') + "\n", false}, std::pair{std::string(1000, 'x'), true},
                             std::pair{std::string(60000, 'y'), true}}) {
        r = RunBrimlow({"--data", data.Path(), "send", "--mode", "page", "--to", "Ann"}, Env(), text);
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
    test::RunResult sameData = RunBrimlow({"--data", data.Path(), "--headless"},
                                          {"XDG_CONFIG_HOME=" + otherData.Path()});
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

TEST_F(CommandLineTest, DataDirectoryOfAnyLengthIsUsedWhole) {
    std::string deep = data.Path();
    for (int i = 0; i < 6; ++i)
        deep += "/a-rather-long-folder-name-to-pass-one-hundred-characters";
    test::RunResult r = RunBrimlow({"--data", deep, "export", "--yes"}, Env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(deep + "/" + kCompanyFile));
}

TEST_F(CommandLineTest, UnknownCommandsAndOptionsPrintUsage) {
    EXPECT_EQ(RunBrimlow({"frobnicate"}, Env()).status, 2);
    EXPECT_EQ(RunBrimlow({"--bogus"}, Env()).status, 2);
}

} // namespace
} // namespace brimlow
