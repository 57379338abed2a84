#include "ui/configure_dlg.h"

#include "ui/dialog_controls.h"
#include "ui/email_settings_dlg.h"
#include "ui/help.h"
#include "ui/modem_settings_dlg.h"
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
    add("&Modem", [this] { Run<CModemSettingsDlg>(m_console); });
    add("&E-mail", [this] { Run<CEmailSettingsDlg>(m_console); });
    add("&Tabs", [this] { Run<CTabsDlg>(m_console); });
    layout->addSpacing(fontMetrics().height() / 2);
    QPushButton* ok = add("OK", [this] { accept(); });
    ok->setDefault(true);
    AddHelpKey(this, console);
}

} // namespace brimlow
