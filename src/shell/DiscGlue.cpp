#include "DiscDrive.h"
#include "DiscGlue.h"
#include "Settings.h"

namespace albumora::shell {

disc::DiscServices MakeDiscServices(settings::RunSettings& s, store::TDM& dm) {
    // Each call reads the settings as they are then: the options dialog changes them in place.
    auto drive = [&s] { return disc::DiscDrive(disc::DiscSettings{s.cdPath, s.driveNr, s.protocol}); };
    disc::DiscServices d;
    d.aspiInstalled = [] { return disc::AspiInstalled(); };
    d.firstCdRomDrive = [] { return disc::DiscDrive::FirstCdRomDrive(); };
    d.audioCdInDrive = [drive, &s] { return drive().IsAudioCdInDrive(s.cdPath); };
    d.readDisc = [drive] { return drive().ReadDisc(); };
    d.currentDiscId = [] { return disc::discState().currentDiscId; };
    d.findCdInCollection = [drive, &dm](bool showMessages) {
        auto found = drive().FindCdInCollection(dm, showMessages);
        return found.isOk() && *found;
    };
    d.eject = [&s] { return disc::DiscDrive::EjectDisc(s.cdPath); };
    d.driveLines = [drive] {
        disc::DiscDrive dd = drive();
        return dd.EnumerateDrives() ? dd.state().cbDrives : QStringList();
    };
    d.cdDevices = [] { return disc::CdRomDevices(); };
    return d;
}

}  // namespace albumora::shell
