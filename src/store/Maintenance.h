// File maintenance: the four collection tables packed and their index tags rebuilt, and, when
// asked, the data files copied into the zip archive "Albumoradata.zip" of the data folder. Each
// pack puts its new files in place at once, so the collection is whole after every step; the
// archive is written beside its name and replaces the old one only when complete.
#pragma once

#include "Status.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace albumora::store {

class TDM;

inline const QString kArchiveName = QStringLiteral("Albumoradata.zip");

struct MaintenanceResult {
    QString archive;       // the archive's path; empty when none was written
    QStringList archived;  // the file names put in, in order
};

// The current album stays current, in the same order. status receives the progress texts.
Result<MaintenanceResult> MaintainCollection(TDM& dm, bool archive, const std::function<void(const QString&)>& status = {});

// The message that ends a maintenance run.
QString MaintenanceMessage(const MaintenanceResult& result, const QString& dataFolder);

}  // namespace albumora::store
