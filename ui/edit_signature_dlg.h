#pragma once
// "Edit Signature": the text appended to pages when Attach Signature is checked. The field takes 100 characters
// while typing and OK keeps the first 99, as the signature file stores them; Cancel hands back the text given.
#include "console/console.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace brimlow {

constexpr int kSignatureTypedLimit = 100;
constexpr int kSignatureStoredLimit = 99;

class CEditSignatureDlg : public QDialog {
    Q_OBJECT
public:
    CEditSignatureDlg(const QString& text, Console& console, QWidget* parent = nullptr);

    // The text the dialog hands back: the given text until OK.
    QString Text() const { return m_text; }

    void accept() override;

private:
    void EnforceTypedLimit(int position, int added);

    QString m_text;
    QPlainTextEdit* m_field;
};

} // namespace brimlow
