#include "DiscGlue.h"

#include "DiscDrive.h"

namespace albumora::shell {

disc::DiscServices MakeDiscServices(disc::Session& session) {
    // Each call reads the settings as they are then: the options dialog changes them in place.
    settings::RunSettings& s = session.settings;
    disc::DiscState& state = session.disc;
    auto drive = [&s, &state] { return disc::DiscDrive(disc::DiscSettings{s.cdPath, s.driveNr, s.protocol}, state); };
    disc::DiscServices d;
    d.aspiInstalled = [] { return disc::AspiInstalled(); };
    d.firstCdRomDrive = [] { return disc::DiscDrive::FirstCdRomDrive(); };
    d.audioCdInDrive = [drive, &s] { return drive().IsAudioCdInDrive(s.cdPath); };
    d.readDisc = [drive] { return drive().ReadDisc(); };
    d.currentDiscId = [&state] { return state.currentDiscId; };
    d.findCdInCollection = [drive, &session](bool showMessages) {
        auto found = drive().FindCdInCollection(session.dm, showMessages);
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
