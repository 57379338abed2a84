#include "ui/dialog_controls.h"

#include <QLabel>
#include <QRegularExpressionValidator>
#include <algorithm>

namespace brimlow {
namespace {

class DigitsValidator final : public QValidator {
public:
    DigitsValidator(int maxValue, QObject* parent) : QValidator(parent), m_max(maxValue) {}
    State validate(QString& text, int&) const override {
        if (text.size() > 10 || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return Invalid;
        return text.toLongLong() <= m_max ? Acceptable : Invalid;
    }

private:
    int m_max;
};

} // namespace

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

QValidator* MakeDigitsValidator(int maxValue, QObject* parent) {
    return new DigitsValidator(maxValue, parent);
}

QValidator* MakeAccountValidator(QObject* parent) {
    return new QRegularExpressionValidator(QRegularExpression("[^ ]*"), parent);
}

QDialogButtonBox* MakeOkCancel(QDialog* dialog, const QString& ok, const QString& cancel) {
    auto* box = new QDialogButtonBox(dialog);
    QPushButton* okButton = MakeButton(ok);
    okButton->setDefault(true);
    box->addButton(okButton, QDialogButtonBox::AcceptRole);
    if (!cancel.isEmpty())
        box->addButton(MakeButton(cancel), QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

} // namespace brimlow
