#pragma once
// The manual and the other documents the desktop opens with its default handlers.
#include "console/console.h"

#include <QString>
#include <QWidget>

namespace brimlow {

// Opens "Brimlow.PDF" of the data directory with the desktop's default viewer, without waiting for it.
void ShowHelp(const Console& console);

// F1 in this window or dialog opens the manual, as the Help button does.
void AddHelpKey(QWidget* window, const Console& console);

// Opens a file of the data directory with the desktop's default handler ("Messages.LOG" in a text viewer).
void OpenDataFile(const Console& console, const QString& fileName);

} // namespace brimlow
