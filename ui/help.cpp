#include "ui/help.h"

#include "app/install_files.h"
#include "directory/data_files.h"

#include <QDesktopServices>
#include <QShortcut>
#include <QUrl>

namespace brimlow {

void OpenDataFile(const Console& console, const QString& fileName) {
    std::string path = JoinPath(console.dataDir, fileName.toStdString());
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void ShowHelp(const Console& console) { OpenDataFile(console, kManualFile); }

void AddHelpKey(QWidget* window, const Console& console) {
    auto* key = new QShortcut(QKeySequence::HelpContents, window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [&console] { ShowHelp(console); });
}

} // namespace brimlow
