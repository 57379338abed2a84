#pragma once
// "Network Monitor": the server's connected clients with their traffic, the last request and the request counts,
// refreshed once a second while the window is shown. It only reads what the server counts and copies the
// session table in one short step, so a session never waits for it.
#include "console/console.h"

#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <array>

namespace brimlow {

namespace lan {
class NetServer;
}

class CNetworkMonitorDlg final : public QDialog {
    Q_OBJECT
public:
    // A window of its own, without owner: the server's operator keeps it beside the main window.
    CNetworkMonitorDlg(Console& console, lan::NetServer& server);

    // View: shows the window (again) and refreshes it at once and then every second.
    void ShowAndRefresh();
    void Refresh();
    bool Refreshing() const { return m_timer.isActive(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Console& m_console;
    lan::NetServer& m_server;
    QTimer m_timer;
    QTreeWidget* m_sessions;
    QLineEdit* m_command;
    std::array<QLineEdit*, 10> m_counters;
};

} // namespace brimlow
