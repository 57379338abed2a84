#include "ui/dialog_controls.h"

#include <QLabel>

namespace brimlow {

QString PlainCaption(const QString& caption) {
    QString plain;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i; // "&&" is a literal ampersand
        plain += caption[i];
    }
    return plain;
}

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setAccessibleName(PlainCaption(caption));
    button->setAutoDefault(false); // Enter means the dialog's default button, not whichever has the focus
    return button;
}

void AddField(QFormLayout* form, const QString& caption, QWidget* field) {
    auto* label = new QLabel(caption);
    label->setBuddy(field);
    field->setAccessibleName(PlainCaption(caption));
    form->addRow(label, field);
}

QDialogButtonBox* MakeOkCancel(QDialog* dialog, bool okOnly) {
    auto* box = new QDialogButtonBox(dialog);
    QPushButton* ok = MakeButton("OK");
    ok->setDefault(true);
    box->addButton(ok, QDialogButtonBox::AcceptRole);
    if (!okOnly)
        box->addButton(MakeButton("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

} // namespace brimlow
