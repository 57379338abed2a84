#include "ui/network_dlg.h"

#include "network/server.h"
#include "ui/clients_dlg.h"
#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/network_monitor_dlg.h"
#include "ui/text_fields.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <cstdio>

namespace brimlow {
namespace {

constexpr int kAccountAccepted = 12;
constexpr const char* kRestartText = "These settings will take effect after you exit and restart Brimlow.";
constexpr const char* kExplanation = "These options are only required if your network has a Brimlow Server.  Your "
                                     "network administrator can give you the proper settings.";

// A stored text that is not four dotted numbers shows 0.0.0.0; each number is taken modulo 256.
std::array<int, 4> AddressNumbers(const std::string& server) {
    int n[4];
    if (sscanf(server.c_str(), "%d.%d.%d.%d", &n[0], &n[1], &n[2], &n[3]) != 4)
        return {0, 0, 0, 0};
    return {n[0] & 0xFF, n[1] & 0xFF, n[2] & 0xFF, n[3] & 0xFF};
}

} // namespace

CNetworkDlg::CNetworkDlg(Console& console, ServerAdmin admin, QWidget* parent)
    : QDialog(parent), m_console(console), m_admin(admin), m_enabled(new QCheckBox("&Enabled")),
      m_username(new QLineEdit), m_password(new QLineEdit), m_sendViaServer(new QCheckBox("Send &Via Server")),
      m_sendAllViaServer(new QCheckBox("Send &All Via Server")) {
    setWindowTitle("Network");
    const Settings settings = console.settings.Get();
    m_enabled->setChecked(settings.NetworkEnabled != 0);
    m_enabled->setAccessibleName("Enabled");

    auto* address = new QWidget;
    auto* addressRow = new QHBoxLayout(address);
    addressRow->setContentsMargins(0, 0, 0, 0);
    const std::array<int, 4> numbers = AddressNumbers(settings.Server);
    for (int k = 0; k < 4; ++k) {
        if (k > 0)
            addressRow->addWidget(new QLabel("."));
        m_address[k] = new QSpinBox;
        m_address[k]->setRange(0, 255);
        m_address[k]->setButtonSymbols(QAbstractSpinBox::NoButtons);
        m_address[k]->setAlignment(Qt::AlignRight);
        m_address[k]->setValue(numbers[k]);
        m_address[k]->setAccessibleName(QString("Server address, number %1 of 4").arg(k + 1));
        addressRow->addWidget(m_address[k]);
    }
    // "." moves on to the next number, as typing a dotted address expects.
    for (int k = 0; k < 3; ++k) {
        QSpinBox* next = m_address[k + 1];
        new QShortcut(
            QKeySequence("."), m_address[k],
            [next] {
                next->setFocus();
                next->selectAll();
            },
            Qt::WidgetWithChildrenShortcut);
    }
    addressRow->addStretch();

    m_username->setMaxLength(kAccountAccepted);
    m_username->setText(FromLatin1(settings.Username).left(kAccountAccepted));
    m_password->setMaxLength(kAccountAccepted);
    m_password->setText(FromLatin1(settings.Password).left(kAccountAccepted));
    m_password->setEchoMode(QLineEdit::Password);
    m_username->setValidator(MakeAccountValidator(m_username));
    m_password->setValidator(MakeAccountValidator(m_password));
    m_sendViaServer->setChecked(settings.SendViaServer != 0);
    m_sendViaServer->setAccessibleName("Send Via Server");
    m_sendAllViaServer->setChecked(settings.SendAllViaServer != 0);
    m_sendAllViaServer->setAccessibleName("Send All Via Server");

    auto* form = new QFormLayout;
    form->addRow(m_enabled);
    auto* serverLabel = new QLabel("&Server");
    serverLabel->setBuddy(m_address[0]);
    form->addRow(serverLabel, address);
    AddField(form, "&Username", m_username);
    AddField(form, "&Password", m_password);
    form->addRow(m_sendViaServer);
    form->addRow(m_sendAllViaServer);
    auto* explanation = new QLabel(kExplanation);
    explanation->setWordWrap(true);

    QDialogButtonBox* buttons = MakeOkCancel(this);
    QPushButton* clients = MakeButton("&Clients");
    QPushButton* view = MakeButton("Vie&w");
    buttons->addButton(clients, QDialogButtonBox::ActionRole);
    buttons->addButton(view, QDialogButtonBox::ActionRole);
    connect(clients, &QPushButton::clicked, this, [this] {
        CClientsDlg dialog(m_console, m_admin.server->Operators(), this);
        dialog.exec();
    });
    connect(view, &QPushButton::clicked, this, [this] { m_admin.monitor->ShowAndRefresh(); });

    bool server = admin.server != nullptr;
    clients->setEnabled(server);
    view->setEnabled(server && admin.monitor != nullptr);
    for (QWidget* clientField : std::initializer_list<QWidget*>{m_enabled, address, m_username, m_password,
                                                                m_sendViaServer, m_sendAllViaServer})
        clientField->setEnabled(!server);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(explanation);
    layout->addWidget(buttons);
    m_username->setMinimumWidth(fontMetrics().averageCharWidth() * 20);
    AddHelpKey(this, console);
}

void CNetworkDlg::accept() {
    const std::string server = QString("%1.%2.%3.%4")
                                   .arg(m_address[0]->value())
                                   .arg(m_address[1]->value())
                                   .arg(m_address[2]->value())
                                   .arg(m_address[3]->value())
                                   .toStdString();
    const std::string username = ToLatin1(m_username->text());
    const std::string password = ToLatin1(m_password->text());
    const int enabled = m_enabled->isChecked() ? 1 : 0;
    bool changed = false;
    m_console.settings.Update([&](Settings& s) {
        changed = server != s.Server || username != s.Username || password != s.Password || enabled != s.NetworkEnabled;
        s.Server = server;
        s.Username = username;
        s.Password = password;
        s.NetworkEnabled = enabled;
        // These two apply to the next page at once.
        s.SendViaServer = m_sendViaServer->isChecked() ? 1 : 0;
        s.SendAllViaServer = m_sendAllViaServer->isChecked() ? 1 : 0;
    });
    if (changed)
        m_console.op->ShowMessage(MessageIcon::Information, kAppCaption, kRestartText);
    QDialog::accept();
}

} // namespace brimlow
