#include "StartUp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace albumora::shell {

QStringList ShippedDataFiles() {
    return {QStringLiteral("CDhelp1.html"), QStringLiteral("CDhelp2.html"), QStringLiteral("report.html"),
            QStringLiteral("Albumoratips.txt")};
}

QStringList ShippedDataFolders() {
    const QString exe = QCoreApplication::applicationDirPath();
    return {QDir(exe).filePath(QStringLiteral("../share/albumora")), QStringLiteral(ALBUMORA_INSTALL_DATA_DIR),
            QStringLiteral(ALBUMORA_SOURCE_DATA_DIR)};
}

void InstallShippedData(const QString& dataFolder) {
    for (const QString& name : ShippedDataFiles()) {
        const QString target = QDir(dataFolder).filePath(name);
        if (QFileInfo::exists(target)) continue;
        for (const QString& from : ShippedDataFolders()) {
            const QString source = QDir(from).filePath(name);
            if (QFileInfo::exists(source) && QFile::copy(source, target)) {
                QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                                  QFileDevice::ReadOther);
                break;
            }
        }
    }
}

}  // namespace albumora::shell
