#include "app/startup.h"

#include "directory/data_files.h"
#include "queue/status.h"

#include <climits>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace brimlow {

namespace {
constexpr const char* kLockFile = ".brimlow.lock";
}

DataDirectoryLock::~DataDirectoryLock() { Release(); }

bool DataDirectoryLock::Acquire(const std::string& dataDir) {
    Release();
    int fd = open(JoinPath(dataDir, kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // a read-only data directory cannot be written by anyone
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    m_fd = fd;
    RemoveStaleTemporaries(dataDir);
    return true;
}

void DataDirectoryLock::Release() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

std::string CurrentDataDirectory() {
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), free);
    return cwd ? std::string(cwd.get()) : std::string(".");
}

void LoadConsole(Console& console, SettingsStore& store) {
    Settings settings;
    LoadSettings(store, settings);
    console.settings.Set(settings);
    std::lock_guard lock(console.databaseLock);
    LoadDirectoryFiles(console.dataDir, *console.local, console.modem);
    LoadCompanyFile(console.dataDir, *console.local);
    LoadSignatureFile(console.dataDir, console.signature);
}

void ApplyRoleSettings(Console& console) {
    console.settings.Update([&](Settings& s) {
        if (console.serverRole)
            ApplyServerRole(s);
        ApplyNetworkEnabled(s);
    });
}

std::vector<std::string> SaveConsoleFiles(Console& console) {
    std::lock_guard lock(console.databaseLock);
    return SaveDataFiles(console.dataDir, *console.local, console.modem, console.signature);
}

std::string UnsavedFilesText(const Console& console, const std::vector<std::string>& unsaved) {
    std::string names;
    for (const std::string& name : unsaved)
        names += (names.empty() ? "" : ", ") + name;
    return "Unable to save " + names + " in " + console.dataDir;
}

ShutDownResult ShutDownConsole(Console& console, SettingsStore& store, int graceMs,
                               const std::function<bool(const std::vector<std::string>&)>& retry) {
    console.BeginExit();
    ShutDownResult result;
    result.unsaved = SaveConsoleFiles(console);
    while (!result.unsaved.empty() && retry && retry(result.unsaved))
        result.unsaved = SaveConsoleFiles(console);
    if (!result.unsaved.empty())
        PostStatus(console, UnsavedFilesText(console, result.unsaved));
    SaveSettings(store, console.settings.Get());
    result.workersEnded = console.workers.WaitIdle(graceMs);
    return result;
}

} // namespace brimlow
