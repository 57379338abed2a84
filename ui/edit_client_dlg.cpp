#include "ui/edit_client_dlg.h"

#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/text_fields.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace brimlow {

CEditClientDlg::CEditClientDlg(const Console& console, OperatorTable& operators, int record, QWidget* parent)
    : QDialog(parent), m_operators(operators), m_record(record), m_name(new QLineEdit), m_password(new QLineEdit),
      m_level(new QButtonGroup(this)) {
    setWindowTitle("Edit Client");
    const OperatorRecord current = operators.Get(record);
    LoadLineEdit(m_name, current.Name, kOperatorFieldLimit);
    LoadLineEdit(m_password, current.Password, kOperatorFieldLimit);
    m_password->setEchoMode(QLineEdit::Password);
    m_name->setValidator(MakeAccountValidator(m_name));
    m_password->setValidator(MakeAccountValidator(m_password));

    auto* levels = new QVBoxLayout;
    const QString captions[] = {"&Read only", "Read / &Write", "Read / Write / &Delete"};
    for (int level = kReadOnly; level <= kReadWriteDelete; ++level) {
        auto* choice = new QRadioButton(captions[level]);
        choice->setAccessibleName(SecurityLevelName(level));
        m_level->addButton(choice, level);
        levels->addWidget(choice);
    }
    // A level the dialog cannot show checks no choice, and Save then keeps it.
    if (QAbstractButton* choice = m_level->button(current.Level))
        choice->setChecked(true);
    auto* security = new QGroupBox("Security");
    security->setLayout(levels);

    auto* form = new QFormLayout;
    AddField(form, "&Name", m_name);
    AddField(form, "&Password", m_password);
    QDialogButtonBox* buttons = MakeOkCancel(this, "&Save");

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(security);
    layout->addWidget(buttons);
    m_name->setMinimumWidth(fontMetrics().averageCharWidth() * 30);
    AddHelpKey(this, console);
}

void CEditClientDlg::accept() {
    m_operators.Set(m_record, ToLatin1(m_name->text()), ToLatin1(m_password->text()), m_level->checkedId());
    QDialog::accept();
}

} // namespace brimlow
