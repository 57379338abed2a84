#include "ui/email_settings_dlg.h"

#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/text_fields.h"

#include <QVBoxLayout>

namespace brimlow {
namespace {

constexpr int kAccepted = 80;

QLineEdit* SettingEdit(const std::string& value) {
    auto* edit = new QLineEdit(FromLatin1(value));
    edit->setMaxLength(kAccepted);
    return edit;
}

} // namespace

CEmailSettingsDlg::CEmailSettingsDlg(Console& console, QWidget* parent) : QDialog(parent), m_console(console) {
    setWindowTitle("Email Settings");
    const Settings settings = console.settings.Get();
    m_mailServer = SettingEdit(settings.OutboundMailServer);
    m_yourName = SettingEdit(settings.UserName);
    m_returnAddress = SettingEdit(settings.ReturnAddress);

    auto* form = new QFormLayout;
    AddField(form, "&Mail Server", m_mailServer);
    AddField(form, "Your &Name", m_yourName);
    AddField(form, "&Return Address", m_returnAddress);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(MakeOkCancel(this));
    m_mailServer->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    AddHelpKey(this, console);
}

void CEmailSettingsDlg::accept() {
    m_console.settings.Update([this](Settings& s) {
        s.OutboundMailServer = ToLatin1(m_mailServer->text());
        s.UserName = ToLatin1(m_yourName->text());
        s.ReturnAddress = ToLatin1(m_returnAddress->text());
    });
    QDialog::accept();
}

} // namespace brimlow
