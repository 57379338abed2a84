#include "ui/edit_company_dlg.h"

#include "queue/purge.h"
#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/text_fields.h"

#include <QGroupBox>
#include <QHBoxLayout>

namespace brimlow {
namespace {

constexpr int kPorts = 4;
constexpr int kNameStored = 39;
constexpr int kAddressStored = 79;
constexpr int kPhoneStored = 79;
constexpr uint16_t kShownForNoBaud = 9600;
constexpr int kUInt16Max = 65535;

QGroupBox* Frame(const QString& title, QFormLayout* form) {
    auto* box = new QGroupBox(title);
    box->setLayout(form);
    return box;
}

} // namespace

CEditCompanyDlg::CEditCompanyDlg(Console& console, const CompanyRecord& company, int number, QWidget* parent)
    : QDialog(parent), m_console(console), m_company(company), m_name(new QLineEdit), m_address(new QLineEdit),
      m_socket(new QLineEdit), m_twoWay(new QCheckBox("T&wo Way")), m_phone(new QLineEdit), m_port(new QComboBox),
      m_baud(new QComboBox) {
    setWindowTitle("Edit Company");
    LoadLineEdit(m_name, company.Name, kNameStored);
    LoadLineEdit(m_address, company.Address, kAddressStored);
    // The record keeps the port as a signed 16-bit value; the sockets layer reads it unsigned.
    m_socket->setText(QString::number(static_cast<uint16_t>(company.Socket)));
    m_socket->setValidator(MakeDigitsValidator(kUInt16Max, m_socket));
    m_twoWay->setChecked(company.TwoWay != 0);
    m_twoWay->setAccessibleName("Two Way");
    LoadLineEdit(m_phone, company.Phone, kPhoneStored);
    for (int n = 1; n <= kPorts; ++n)
        m_port->addItem(QString("COM%1").arg(n));
    m_port->setCurrentIndex(company.Port >= 0 && company.Port < kPorts ? company.Port : -1);
    m_baud->setEditable(true);
    m_baud->setInsertPolicy(QComboBox::NoInsert);
    m_baud->addItems({"300", "1200", "2400", "9600", "19200", "38400"});
    m_baud->setValidator(MakeDigitsValidator(kUInt16Max, m_baud));
    m_baud->setCurrentText(QString::number(company.Baud == 0 ? kShownForNoBaud : company.Baud));

    auto* name = new QFormLayout;
    AddField(name, "&Name", m_name);
    auto* snpp = new QFormLayout;
    AddField(snpp, "&Address", m_address);
    AddField(snpp, "&Socket", m_socket);
    snpp->addRow(m_twoWay);
    auto* tap = new QFormLayout;
    AddField(tap, "P&hone", m_phone);
    AddField(tap, "&Port", m_port);
    AddField(tap, "&Baud", m_baud);
    auto* frames = new QHBoxLayout;
    frames->addWidget(Frame("SNPP", snpp), 1);
    frames->addWidget(Frame("TAP", tap), 1);

    QPushButton* purge = MakeButton("P&urge Queue");
    connect(purge, &QPushButton::clicked, this, [this, number] { PurgeCompany(m_console, number); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(purge);
    buttons->addStretch();
    buttons->addWidget(MakeOkCancel(this));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(name);
    layout->addLayout(frames);
    layout->addStretch();
    layout->addLayout(buttons);
    m_address->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
    AddHelpKey(this, console);
}

void CEditCompanyDlg::accept() {
    StoreField(m_company.Name, m_name->text(), kNameStored);
    StoreField(m_company.Address, m_address->text(), kAddressStored);
    m_company.Socket = static_cast<int16_t>(static_cast<uint16_t>(m_socket->text().toUInt()));
    m_company.TwoWay = m_twoWay->isChecked() ? 1 : 0;
    StoreField(m_company.Phone, m_phone->text(), kPhoneStored);
    m_company.Port = static_cast<int16_t>(m_port->currentIndex());
    m_company.Baud = static_cast<uint16_t>(m_baud->currentText().toUInt());
    QDialog::accept();
}

void CEditCompanyDlg::reject() {
    SetText(m_company.Name, "");
    QDialog::reject();
}

} // namespace brimlow
