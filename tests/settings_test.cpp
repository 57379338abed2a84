#include "app/qt_settings_store.h"
#include "app/startup.h"
#include "directory/data_files.h"
#include "tests/support/test_console.h"

#include <QSettings>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>

namespace brimlow {
namespace {

struct MemoryStore final : SettingsStore {
    std::map<std::string, std::string> values;
    int GetInt(const std::string& n, int d) override { return values.contains(n) ? std::stoi(values[n]) : d; }
    std::string GetString(const std::string& n, const std::string& d) override {
        return values.contains(n) ? values[n] : d;
    }
    void SetInt(const std::string& n, int v) override { values[n] = std::to_string(v); }
    void SetString(const std::string& n, const std::string& v) override { values[n] = v; }
};

TEST(Settings, QtStoreKeepsEveryByte) {
    test::TempDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(config.Path()));
    Settings s, loaded;
    s.UserName = "Caf\xE9 Desk"; // Latin-1
    {
        QtSettingsStore store;
        SaveSettings(store, s);
    }
    QtSettingsStore again;
    LoadSettings(again, loaded);
    EXPECT_EQ(loaded.UserName, "Caf\xE9 Desk");
}

// Start-up cuts the LAN login fields to what a login holds and applies the role to the settings; shut-down saves
// settings and data files and waits for running workers only as long as they run.
TEST(StartUp, LoadsAndSavesAndWaitsOnlyForRunningWorkers) {
    test::TestConsole t(false);
    MemoryStore store;
    store.values = {{"NetworkEnabled", "0"},
                    {"SendAllViaServer", "1"},
                    {"Server", std::string(30, 's')},
                    {"Username", std::string(40, 'u')}};
    LoadConsole(t.console, store);
    EXPECT_EQ(t.console.settings.Get().Server + t.console.settings.Get().Username,
              std::string(19, 's') + std::string(31, 'u'));
    ApplyRoleSettings(t.console);
    EXPECT_EQ(GetText(t.console.modem.InitString), "ATE0M0");
    AddSubscriber(*t.console.local, test::MakeSubscriber("Saved", 0));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(t.console.StartWorker([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }));
    ShutDownConsole(t.console, store);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the grace ends with the worker";
    EXPECT_EQ(t.console.exiting.load(), 1);
    EXPECT_EQ(store.values["SendAllViaServer"], "0");
    EXPECT_EQ(test::ReadFile(t.DataFile(kSubscriberFile)).substr(0, 5), "Saved");
}

// A temporary that cannot be written (a file too large for what the process may write) replaces nothing, so the
// files on disk stay of one generation, and leaves nothing behind.
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
