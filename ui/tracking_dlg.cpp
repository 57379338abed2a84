#include "ui/tracking_dlg.h"

#include "ui/help.h"
#include "ui/text_fields.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace brimlow {
namespace {

void AddRow(QFormLayout* form, const QString& caption, const QString& name, QWidget* field) {
    field->setAccessibleName(name);
    auto* label = new QLabel(caption);
    label->setBuddy(field);
    form->addRow(label, field);
}

QLineEdit* LineField(const std::string& text) {
    auto* field = new QLineEdit(FromLatin1(text));
    field->setReadOnly(true);
    return field;
}

QPlainTextEdit* TextField(const std::string& text) {
    auto* field = new QPlainTextEdit(FromLatin1(text));
    field->setReadOnly(true);
    field->setTabChangesFocus(true);
    field->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    return field;
}

} // namespace

CTrackingDlg::CTrackingDlg(const TicketView& ticket, Console& console, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Tracking");
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    AddRow(form, "&Name:", "Name", LineField(ticket.name));
    AddRow(form, "&PIN:", "PIN", LineField(ticket.pin));
    AddRow(form, "&Date:", "Date", LineField(ticket.date));
    AddRow(form, "&Message:", "Message", TextField(ticket.message));
    AddRow(form, "&Replies:", "Replies", TextField(ticket.replies));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName("OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    form->addRow(buttons);
    AddHelpKey(this, console);
    resize(480, 420);
}

} // namespace brimlow
