// The drive services of the desktop program: libcdio over the machine's drives and disc images.
#pragma once

#include "DiscServices.h"
#include "Session.h"

namespace albumora::shell {

// Reads CDPath, DriveNr and Protocol from the session's settings each time a service runs, so
// the options dialog's changes apply at once; what a read finds goes to the session's disc state.
disc::DiscServices MakeDiscServices(disc::Session& session);

}  // namespace albumora::shell
