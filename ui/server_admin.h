#pragma once
// What the server role hands to the dialogs that administer it; both are null on a console that is no server.
namespace brimlow {

namespace lan {
class NetServer;
}
class CNetworkMonitorDlg;

struct ServerAdmin {
    lan::NetServer* server = nullptr;
    CNetworkMonitorDlg* monitor = nullptr;
};

} // namespace brimlow
