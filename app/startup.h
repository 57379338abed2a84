#pragma once
// Start-up and shut-down of a console, in their fixed order, without the window: the data directory, the
// directory files, the role's settings, and the orderly save at exit.
#include "console/console.h"
#include "console/settings.h"

#include <string>

namespace brimlow {

constexpr int kExitGraceMs = 10000;

// Holds the data directory for one console: import refuses while a console holds it.
class DataDirectoryLock {
public:
    DataDirectoryLock() = default;
    ~DataDirectoryLock();
    DataDirectoryLock(const DataDirectoryLock&) = delete;
    DataDirectoryLock& operator=(const DataDirectoryLock&) = delete;
    bool Acquire(const std::string& dataDir);
    void Release();

private:
    int m_fd = -1;
};

// The data directory is the working directory.
std::string CurrentDataDirectory();

// Settings, then the three loads in their order. The load results are not errors: missing files start empty.
void LoadConsole(Console& console, SettingsStore& store);

// What the role forces at the window's initialisation: a server is never a client; a console without
// networking sends nothing via a server.
void ApplyRoleSettings(Console& console);

// Exiting flag, the three saves under "DatabaseLock", the settings, then up to graceMs for workers to end.
// False when workers still run after the grace.
bool ShutDownConsole(Console& console, SettingsStore& store, int graceMs = kExitGraceMs);

} // namespace brimlow
