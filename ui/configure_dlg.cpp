#include "ui/configure_dlg.h"

#include "ui/database_dlg.h"
#include "ui/dialog_controls.h"
#include "ui/email_settings_dlg.h"
#include "ui/help.h"
#include "ui/modem_settings_dlg.h"
#include "ui/network_dlg.h"
#include "ui/providers_dlg.h"
#include "ui/tabs_dlg.h"

#include <QVBoxLayout>

namespace brimlow {

template <typename Dialog, typename... Args> void CConfigureDlg::Run(Args&&... args) {
    Dialog dialog(std::forward<Args>(args)..., this);
    dialog.exec();
}

CConfigureDlg::CConfigureDlg(Console& console, ServerAdmin admin, QWidget* parent)
    : QDialog(parent), m_console(console), m_admin(admin) {
    setWindowTitle("Configure");
    auto* layout = new QVBoxLayout(this);
    auto add = [&](const QString& caption, auto open) {
        QPushButton* button = MakeButton(caption, this);
        connect(button, &QPushButton::clicked, this, open);
        layout->addWidget(button);
        return button;
    };
    add("&Providers", [this] { Run<CProvidersDlg>(m_console); });
    add("&Modem", [this] { Run<CModemSettingsDlg>(m_console); });
    add("&E-mail", [this] { Run<CEmailSettingsDlg>(m_console); });
    add("&Tabs", [this] { Run<CTabsDlg>(m_console); });
    add("&Utility", [this] { Run<CDatabaseDlg>(m_console, m_admin.server); });
    add("&Network", [this] { Run<CNetworkDlg>(m_console, m_admin); });
    layout->addSpacing(fontMetrics().height() / 2);
    QPushButton* ok = add("OK", [this] { accept(); });
    ok->setDefault(true);
    setMinimumWidth(fontMetrics().averageCharWidth() * 28);
    AddHelpKey(this, console);
}

} // namespace brimlow
