#include "DataFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace albumora::store {

Result<QString> ResolveDataFolder(const QString& explicitFolder, const QString& programFolder, bool create) {
    QString folder = explicitFolder;
    if (folder.isEmpty()) folder = qEnvironmentVariable("ALBUMORA_HOME");
    if (folder.isEmpty() && !programFolder.isEmpty() &&
        QFileInfo::exists(QDir(programFolder).filePath(QStringLiteral("Albumora.ini"))))
        folder = programFolder;
    if (folder.isEmpty()) {
        QString base = qEnvironmentVariable("XDG_DATA_HOME");
        if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
        folder = base + QStringLiteral("/Albumora");
    }
    folder = QDir::cleanPath(QDir(folder).absolutePath());
    if (!create && !QFileInfo::exists(folder))
        return Status(ErrorKind::NotFound, QStringLiteral("The data folder %1 does not exist").arg(folder), folder);
    if (!QDir().mkpath(folder))
        return Status(ErrorKind::IoError, QStringLiteral("Cannot create the data folder ") + folder, folder);
    if (!QFileInfo(folder).isDir())
        return Status(ErrorKind::IoError, folder + QStringLiteral(" is not a folder"), folder);
    return folder;
}

}  // namespace albumora::store
