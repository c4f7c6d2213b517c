// What the main window needs of the CD drive, as functions, so the shell does not depend on how
// drives are reached (and tests can hand in a disc image or nothing).
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace albumora::shell {

struct DiscServices {
    // Negative when CD devices exist that this user may not open.
    std::function<int()> aspiInstalled;
    std::function<QString()> firstCdRomDrive;
    // Whether the drive of CDPath is ready and holds an audio CD.
    std::function<bool()> audioCdInDrive;
    // Reads the disc's table of contents; sets the current disc ID.
    std::function<bool()> readDisc;
    std::function<QString()> currentDiscId;
    // Makes the disc's album the current album; false when it is not in the collection.
    std::function<bool(bool showMessages)> findCdInCollection;
    // Opens the drive door; false when the drive cannot be ejected.
    std::function<bool()> eject;
    // The lines of the CD drive list.
    std::function<QStringList()> driveLines;
    // The machine's CD devices, for the options dialog's picker.
    std::function<QStringList()> cdDevices;
};

struct RunSettings;
}  // namespace albumora::shell
namespace albumora::store {
class TDM;
}
namespace albumora::shell {
// The services over the machine's drives and disc images (libcdio), reading CDPath, DriveNr
// and Protocol from the run-time settings when they run.
DiscServices MakeDiscServices(RunSettings& settings, store::TDM& dm);

}  // namespace albumora::shell
