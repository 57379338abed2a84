#include "ui/modem_settings_dlg.h"

#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/text_fields.h"

#include <QVBoxLayout>

namespace brimlow {
namespace {
constexpr int kPorts = 4;
constexpr int kInitAccepted = 80; // the field stores one character less
constexpr int kDialAccepted = 30;
} // namespace

CModemSettingsDlg::CModemSettingsDlg(Console& console, QWidget* parent)
    : QDialog(parent), m_console(console), m_port(new QComboBox), m_initString(new QLineEdit),
      m_dialString(new QLineEdit) {
    setWindowTitle("Modem Settings");
    for (int n = 1; n <= kPorts; ++n)
        m_port->addItem(QString("COM%1").arg(n));
    int port = console.settings.Get().ModemPort;
    m_port->setCurrentIndex(port >= 0 && port < kPorts ? port : -1);
    {
        std::lock_guard lock(console.databaseLock);
        LoadLineEdit(m_initString, console.modem.InitString, kInitAccepted);
        LoadLineEdit(m_dialString, console.modem.DialPrefix, kDialAccepted);
    }

    auto* form = new QFormLayout;
    AddField(form, "&Port", m_port);
    AddField(form, "&Init String", m_initString);
    AddField(form, "&Dial String", m_dialString);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(MakeOkCancel(this));
    m_initString->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    AddHelpKey(this, console);
}

void CModemSettingsDlg::accept() {
    int port = m_port->currentIndex();
    m_console.settings.Update([port](Settings& s) { s.ModemPort = port; });
    {
        std::lock_guard lock(m_console.databaseLock);
        StoreField(m_console.modem.InitString, m_initString->text(), kInitAccepted - 1);
        StoreField(m_console.modem.DialPrefix, m_dialString->text(), kDialAccepted - 1);
    }
    QDialog::accept();
}

} // namespace brimlow
