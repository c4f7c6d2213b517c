// One album's rows on a cursor of the playlist code's own, so that the main window's cursors
// keep their filters and positions while the builder or the player reads.
#pragma once

#include "Cursor.h"

namespace albumora::playlist {

// Opens the cursor shared on a table file, ordered by the tag.
store::Status OpenOn(store::Cursor& c, const QString& path, const QString& tag);
// The rows whose ID is the album's ("ID=\"" + ID + "\""), walked through a scope on an ID+NR tag.
store::Status SelectAlbum(store::Cursor& c, const QString& id);
void ReleaseAlbum(store::Cursor& c);

}  // namespace albumora::playlist
