#include "app/install_files.h"

#include <QFile>
#include <QString>

namespace brimlow {

void InstallDataFiles(const std::string& dataDir) {
    for (const char* name : {kClickSound, kReceiveSound, kManualFile}) {
        QString target = QString::fromStdString(dataDir) + "/" + name;
        if (QFile::exists(target))
            continue;
        if (QFile::copy(QString(":/install/") + name, target))
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    }
}

} // namespace brimlow
