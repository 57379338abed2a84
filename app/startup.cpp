#include "app/startup.h"

#include "directory/data_files.h"

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

bool ShutDownConsole(Console& console, SettingsStore& store, int graceMs) {
    console.exiting = 1;
    {
        std::lock_guard lock(console.databaseLock);
        SaveDirectoryFiles(console.dataDir, *console.local, console.modem);
        SaveCompanyFile(console.dataDir, *console.local);
        SaveSignatureFile(console.dataDir, console.signature);
    }
    SaveSettings(store, console.settings.Get());
    return console.workers.WaitIdle(graceMs);
}

} // namespace brimlow
