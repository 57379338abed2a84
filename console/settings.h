#pragma once
// The per-user settings, group "Options". The values keep the names the console has always stored them under.
#include <array>
#include <mutex>
#include <string>

namespace brimlow {

struct Settings {
    int ModemPort = 0;
    std::string UserName;           // "User Name": sender's display name in e-mail pages
    std::string ReturnAddress;      // "Return Address"
    std::string OutboundMailServer; // "Outbound Mail Server"
    std::string Tab1 = "Tab1";
    std::string Tab2 = "Tab2";
    std::string Tab3 = "Tab3";
    int NetworkEnabled = 0;
    std::string Server;   // dotted IPv4 address of the network server
    std::string Username; // operator account on the server
    std::string Password;
    int SendViaServer = 0;
    int SendAllViaServer = 0;
    // Serial devices behind COM1..COM4.
    std::array<std::string, 4> ComDevice{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};

    const std::string& TabName(int tab) const { return tab == 0 ? Tab1 : tab == 1 ? Tab2 : Tab3; }
};

// A key-value store with defaults: QSettings in the console, a map in tests.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual int GetInt(const std::string& name, int defaultValue) = 0;
    virtual std::string GetString(const std::string& name, const std::string& defaultValue) = 0;
    virtual void SetInt(const std::string& name, int value) = 0;
    virtual void SetString(const std::string& name, const std::string& value) = 0;
    virtual void Flush() {}
};

// Reads every value in table order, each with its default.
void LoadSettings(SettingsStore& store, Settings& settings);
// Writes every value back in the same order.
void SaveSettings(SettingsStore& store, const Settings& settings);

// Forces what a server is: never a client of another server.
void ApplyServerRole(Settings& settings);
// A console that is no network client sends nothing via a server.
void ApplyNetworkEnabled(Settings& settings);

// Settings are edited on the user-interface thread and read by workers; every access goes through a copy.
class SettingsCell {
public:
    Settings Get() const {
        std::lock_guard lock(m_mutex);
        return m_settings;
    }
    void Set(const Settings& settings) {
        std::lock_guard lock(m_mutex);
        m_settings = settings;
    }
    template <typename F> void Update(F&& change) {
        std::lock_guard lock(m_mutex);
        change(m_settings);
    }

private:
    mutable std::mutex m_mutex;
    Settings m_settings;
};

} // namespace brimlow
