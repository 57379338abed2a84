#include "app/qt_settings_store.h"
#include "app/startup.h"
#include "directory/data_files.h"
#include "tests/support/test_console.h"

#include <QSettings>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace brimlow {
namespace {

// Settings are read as Latin-1 with the login fields cut; shut-down saves and waits only for running workers.
TEST(StartUp, LoadsAndSavesAndWaitsOnlyForRunningWorkers) {
    test::TestConsole t(false);
    test::TempDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(config.Path()));
    QSettings file(QString::fromStdString(config.File("Quillfen Labs/Brimlow.conf")), QSettings::IniFormat);
    file.setValue("Options/NetworkEnabled", 0);
    file.setValue("Options/SendAllViaServer", 1);
    file.setValue("Options/Server", QString(30, 's'));
    file.setValue("Options/Username", QString(40, 'u'));
    file.setValue("Options/User Name", "Caf\u00e9 Desk");
    file.sync();
    QtSettingsStore store;
    LoadConsole(t.console, store);
    ApplyRoleSettings(t.console);
    const Settings loaded = t.console.settings.Get();
    EXPECT_EQ(loaded.Server + loaded.Username, std::string(19, 's') + std::string(31, 'u'));
    EXPECT_EQ(loaded.UserName, "Caf\xE9 Desk");
    AddSubscriber(*t.console.local, test::MakeSubscriber("Saved", 0));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(t.console.StartWorker([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }));
    ShutDownConsole(t.console, store);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the grace ends with the worker";
    EXPECT_EQ(test::ReadFile(t.DataFile(kSubscriberFile)).substr(0, 5), "Saved");
    file.sync();
    EXPECT_EQ(file.value("Options/SendAllViaServer").toInt(), 0);
    EXPECT_EQ(file.value("Options/User Name").toString(), "Caf\u00e9 Desk");
}

// A temporary that cannot be written whole replaces nothing and leaves nothing behind.
TEST(StartUp, AFailedSaveReplacesNoFileAndIsSaidFileByFile) {
    test::TestConsole t(false);
    ASSERT_TRUE(SaveConsoleFiles(t.console).empty());
    std::string before = test::ReadFile(t.DataFile(kSubscriberFile));
    AddSubscriber(*t.console.local, test::MakeSubscriber("Lost", 0));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_IGN);
    rlimit small{sizeof(Directory::subscribers) + 1, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    std::vector<std::string> unsaved = SaveConsoleFiles(t.console);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(unsaved, std::vector<std::string>(std::begin(kDataFiles), std::end(kDataFiles)));
    EXPECT_TRUE(test::ReadFile(t.DataFile(kSubscriberFile)) == before);
    EXPECT_EQ(UnsavedFilesText(t.console, {kSubscriberFile, kGroupFile}),
              "Unable to save SUBSCRIBER.DAT, GROUP.DAT in " + t.console.dataDir);
    for (const std::string& name : test::ListDir(t.dir.Path()))
        EXPECT_NE(name[0], '.') << name << " left behind";
}

} // namespace
} // namespace brimlow
