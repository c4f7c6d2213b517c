// Where the data live: the first of $ALBUMORA_HOME, the program's own folder when it holds
// Albumora.ini (portable use), and $XDG_DATA_HOME/Albumora. The folder is created when missing.
#pragma once

#include "Status.h"

#include <QString>

namespace albumora::store {

// explicitFolder: a folder given on the command line, taken before the other rules.
Result<QString> ResolveDataFolder(const QString& explicitFolder, const QString& programFolder);

}  // namespace albumora::store
