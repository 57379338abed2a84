#pragma once
// Controls as every dialog of the window builds them: a mnemonic in each caption, and the name a screen reader
// announces (a button its caption, a field its label).
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QString>
#include <QValidator>

namespace brimlow {

// The caption without its mnemonic markers: "&Modem" reads "Modem".
QString PlainCaption(const QString& caption);

QPushButton* MakeButton(const QString& caption, QWidget* parent = nullptr);

// Adds a row "caption field"; the label is the field's buddy (its mnemonic moves the focus there) and its name.
void AddField(QFormLayout* form, const QString& caption, QWidget* field);

// Digits only, for a number from 0 to maxValue; an empty field reads 0.
QValidator* MakeDigitsValidator(int maxValue, QObject* parent);

// No blanks: a log-in frame pads its name and password with blanks, so the server reads each up to its first one.
QValidator* MakeAccountValidator(QObject* parent);

// OK (the default button, accepting the dialog) and Cancel (rejecting it; none when its caption is empty), in the
// desktop's order.
QDialogButtonBox* MakeOkCancel(QDialog* dialog, const QString& ok = "OK", const QString& cancel = "Cancel");

} // namespace brimlow
