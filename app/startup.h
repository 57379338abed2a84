#pragma once
// Start-up and shut-down of a console, in their fixed order, without the window: the data directory, the
// directory files, the role's settings, and the orderly save at exit.
#include "console/console.h"
#include "console/settings.h"

#include <functional>
#include <string>
#include <vector>

namespace brimlow {

constexpr int kExitGraceMs = 10000;

// Holds the data directory for one console: import refuses while a console holds it. Taking it removes the
// temporaries that a killed save left behind.
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

// The data files as one set, under "DatabaseLock": the names of the files that could not be saved, empty when
// all were. The window asks with them whether to try again before the edits are lost.
std::vector<std::string> SaveConsoleFiles(Console& console);
// "Unable to save F1, F2 in DIR": what the operator is told about them.
std::string UnsavedFilesText(const Console& console, const std::vector<std::string>& unsaved);

struct ShutDownResult {
    std::vector<std::string> unsaved; // data files that could not be saved
    bool workersEnded = true;         // no worker still ran after the grace
};

// Exiting flag, the data files (again for as long as retry(unsaved) answers true), the settings, then up to
// graceMs for workers to end. Files that stay unsaved are also posted as a status line.
ShutDownResult ShutDownConsole(Console& console, SettingsStore& store, int graceMs = kExitGraceMs,
                               const std::function<bool(const std::vector<std::string>&)>& retry = {});

} // namespace brimlow
