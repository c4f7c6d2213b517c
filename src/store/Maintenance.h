// File maintenance: the four collection tables packed and their index tags rebuilt, and, when
// asked, the data files copied into the zip archive "Albumoradata.zip" of the data folder; and
// the way back, a collection restored from such an archive.
//
// Maintenance holds the folder's writers' lock from the first pack to the archive's last byte:
// another program's save waits for it (for the engine's bounded time) rather than landing
// between two packs or between the packs and the archive. Each pack puts its new files in place
// by rename, so a kill leaves every table whole. The archive is written under a temporary name
// beside it and renamed over the old one only when complete and synced, so a failure or a kill
// never damages the last good backup.
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

// Whether an archive entry's name is one of the files maintenance puts in: a plain file name
// (no folder, drive or "." parts) of a collection table, its memo file, a settings file
// ("*.ini") or one of the user's two text files.
bool IsBackupFileName(const QString& name);

// Restores the collection of a backup archive into the data folder. Every entry is read into a
// temporary folder first, its index files are built there and the whole collection checked;
// only a sound one replaces the folder's files, all under the writers' lock and as one step
// across a crash. A folder that holds a collection already is replaced only with overwrite.
// Returns the file names restored (index files included). Nothing is changed on any failure.
Result<QStringList> RestoreCollection(const QString& dataFolder, const QString& archivePath, bool overwrite);

}  // namespace albumora::store
