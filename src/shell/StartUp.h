// What the program installs into the data folder: the help pages and the tips file, copied from
// the installed share folder (or the source tree, for a build that is not installed) when they
// are missing.
#pragma once

#include <QString>
#include <QStringList>

namespace albumora::shell {

QStringList ShippedDataFiles();
// Where the shipped files are found, first match wins.
QStringList ShippedDataFolders();
void InstallShippedData(const QString& dataFolder);

}  // namespace albumora::shell
