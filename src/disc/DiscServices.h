// What the windows need of the CD drive, as functions, so they do not depend on how drives are
// reached (and tests can hand in a disc image or nothing).
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace albumora::disc {

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

}  // namespace albumora::disc
