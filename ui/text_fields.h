#pragma once
// Records hold 8-bit Latin-1 text: the window shows and edits it as Latin-1, so every byte survives a round trip.
#include "directory/records.h"

#include <QLineEdit>
#include <QString>
#include <string>

namespace brimlow {

inline QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToLatin1(const QString& text) { return text.toLatin1().toStdString(); }

template <size_t N> QString FieldText(const char (&field)[N]) { return FromLatin1(GetText(field)); }

// Keeps the first `stored` characters of text (the field's own size less its terminator when not given).
template <size_t N> void StoreField(char (&field)[N], const QString& text, int stored = N - 1) {
    SetText(field, ToLatin1(text.left(stored)));
}

// A line edit for a record field: `accepted` characters while typing (the stored length is applied at OK).
template <size_t N> void LoadLineEdit(QLineEdit* edit, const char (&field)[N], int accepted) {
    edit->setMaxLength(accepted);
    edit->setText(FieldText(field));
}

} // namespace brimlow
