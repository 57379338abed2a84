#include "console/settings.h"

namespace brimlow {

void LoadSettings(SettingsStore& store, Settings& s) {
    const Settings d;
    s.ModemPort = store.GetInt("ModemPort", d.ModemPort);
    s.UserName = store.GetString("User Name", d.UserName);
    s.ReturnAddress = store.GetString("Return Address", d.ReturnAddress);
    s.OutboundMailServer = store.GetString("Outbound Mail Server", d.OutboundMailServer);
    s.Tab1 = store.GetString("Tab1", d.Tab1);
    s.Tab2 = store.GetString("Tab2", d.Tab2);
    s.Tab3 = store.GetString("Tab3", d.Tab3);
    s.NetworkEnabled = store.GetInt("NetworkEnabled", d.NetworkEnabled);
    s.Server = store.GetString("Server", d.Server).substr(0, 19);
    s.Username = store.GetString("Username", d.Username).substr(0, 31);
    s.Password = store.GetString("Password", d.Password).substr(0, 31);
    s.SendViaServer = store.GetInt("SendViaServer", d.SendViaServer);
    s.SendAllViaServer = store.GetInt("SendAllViaServer", d.SendAllViaServer);
    for (size_t i = 0; i < s.ComDevice.size(); ++i)
        s.ComDevice[i] = store.GetString("Com" + std::to_string(i + 1) + "Device", d.ComDevice[i]);
}

void SaveSettings(SettingsStore& store, const Settings& s) {
    store.SetInt("ModemPort", s.ModemPort);
    store.SetString("User Name", s.UserName);
    store.SetString("Return Address", s.ReturnAddress);
    store.SetString("Outbound Mail Server", s.OutboundMailServer);
    store.SetString("Tab1", s.Tab1);
    store.SetString("Tab2", s.Tab2);
    store.SetString("Tab3", s.Tab3);
    store.SetInt("NetworkEnabled", s.NetworkEnabled);
    store.SetString("Server", s.Server);
    store.SetString("Username", s.Username);
    store.SetString("Password", s.Password);
    store.SetInt("SendViaServer", s.SendViaServer);
    store.SetInt("SendAllViaServer", s.SendAllViaServer);
    for (size_t i = 0; i < s.ComDevice.size(); ++i)
        store.SetString("Com" + std::to_string(i + 1) + "Device", s.ComDevice[i]);
    store.Flush();
}

void ApplyServerRole(Settings& s) {
    s.NetworkEnabled = 0;
    s.SendViaServer = 0;
    s.SendAllViaServer = 0;
    s.Username.clear();
    s.Password.clear();
}

void ApplyNetworkEnabled(Settings& s) {
    if (!s.NetworkEnabled) {
        s.SendViaServer = 0;
        s.SendAllViaServer = 0;
    }
}

} // namespace brimlow
