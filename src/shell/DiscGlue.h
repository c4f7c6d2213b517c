// The drive services of the desktop program: libcdio over the machine's drives and disc images.
#pragma once

#include "DiscServices.h"
#include "Settings.h"

namespace albumora::store {
class TDM;
}

namespace albumora::shell {

// Reads CDPath, DriveNr and Protocol from the run-time settings each time a service runs, so
// the options dialog's changes apply at once.
disc::DiscServices MakeDiscServices(settings::RunSettings& settings, store::TDM& dm);

}  // namespace albumora::shell
