// Integrity check of tables and their memo and index files: what `albumora-cli check` runs.
#pragma once

#include <QString>
#include <QStringList>

namespace albumora::store {

// Every problem found with one table: header and record count, memo pointers, and for each tag
// of its index file the order of the keys, one key per row and each key matching its row.
QStringList CheckTable(const QString& dbfPath);
// CheckTable for every table of a folder, each problem prefixed with the file name, an
// unfinished write or pack, and unless tablesOnly, whether the collection tables agree with
// each other (every row belongs to an album, every album has tracks, no album ID twice).
QStringList CheckFolder(const QString& folder, bool tablesOnly = false);

}  // namespace albumora::store
