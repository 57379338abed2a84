#pragma once
// "Network": a client console's connection to the Brimlow Server and its send-via settings; on the server, the
// way to its accounts (Clients) and its monitor (View).
#include "console/console.h"
#include "ui/server_admin.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QSpinBox>
#include <array>

namespace brimlow {

class CNetworkDlg final : public QDialog {
    Q_OBJECT
public:
    CNetworkDlg(Console& console, ServerAdmin admin, QWidget* parent = nullptr);
    void accept() override;

private:
    Console& m_console;
    ServerAdmin m_admin;
    QCheckBox* m_enabled;
    std::array<QSpinBox*, 4> m_address;
    QLineEdit* m_username;
    QLineEdit* m_password;
    QCheckBox* m_sendViaServer;
    QCheckBox* m_sendAllViaServer;
};

} // namespace brimlow
