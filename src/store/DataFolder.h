// Where the data live: the first of $ALBUMORA_HOME, the program's own folder when it holds
// Albumora.ini (portable use), and $XDG_DATA_HOME/Albumora. The folder is created when missing.
#pragma once

#include "Status.h"

#include <QString>

namespace albumora::store {

// explicitFolder: a folder given on the command line, taken before the other rules.
// create: make the folder when it is missing (a command that only reads says false, and a
// missing folder is then an error).
Result<QString> ResolveDataFolder(const QString& explicitFolder, const QString& programFolder, bool create = true);

}  // namespace albumora::store
