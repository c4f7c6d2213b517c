// What one run of the program works on, without widgets: the data folder's tables, its settings,
// the genre list the edit form offers and the disc last read from the drive. The main window and
// each CLI command that goes beyond the tables hold one; a flow takes the pieces it needs (the
// data module, the settings, the disc state), never the session or a window.
#pragma once

#include "DMcd.h"
#include "DiscDrive.h"
#include "Settings.h"

#include <QDir>
#include <QString>
#include <QStringList>

namespace albumora::disc {

struct Session {
    explicit Session(const QString& dataFolder)
        : folder(QDir(dataFolder).absolutePath() + QLatin1Char('/')), dm(dataFolder), settingsFile(dataFolder) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    QString folder;  // the data folder, ending with "/"
    store::TDM dm;
    settings::SettingsFile settingsFile;
    settings::RunSettings settings;  // as read at start, changed by the options dialog
    // The genre list as the edit form last loaded it, and how many entries the settings file
    // held then: at shutdown the list is written back when it grew.
    QStringList genres;
    int genresLoaded = 0;
    DiscState disc;
};

}  // namespace albumora::disc
