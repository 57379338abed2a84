#include "ui/edit_signature_dlg.h"

#include "ui/help.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>

namespace brimlow {

CEditSignatureDlg::CEditSignatureDlg(const QString& text, Console& console, QWidget* parent)
    : QDialog(parent), m_text(text), m_field(new QPlainTextEdit) {
    setWindowTitle("Edit Signature");
    QString shown = text;
    m_field->setPlainText(shown.replace("\r\n", "\n"));
    m_field->setAccessibleName("Signature");
    m_field->setTabChangesFocus(true);
    connect(m_field->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { EnforceTypedLimit(position, added); });

    auto* label = new QLabel("&Signature:");
    label->setBuddy(m_field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName("OK");
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_field, 1);
    layout->addWidget(buttons);
    AddHelpKey(this, console);
    resize(360, 180);
}

// Like an edit control with a text limit: what is typed or pasted beyond 100 characters is dropped.
void CEditSignatureDlg::EnforceTypedLimit(int position, int added) {
    int excess = m_field->toPlainText().size() - kSignatureTypedLimit;
    if (excess <= 0 || added <= 0)
        return;
    QTextCursor cursor(m_field->document());
    int end = std::min(position + added, m_field->document()->characterCount() - 1);
    cursor.setPosition(end - std::min(excess, added));
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void CEditSignatureDlg::accept() {
    m_text = m_field->toPlainText().left(kSignatureStoredLimit);
    QDialog::accept();
}

} // namespace brimlow
