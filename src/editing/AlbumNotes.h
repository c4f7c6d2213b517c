// One album's notes changed by one whole write: the album is found by a cursor of its own (the
// grids keep their order, filter and row), its notes are read inside the write, so whatever
// another program stored meanwhile stays, and the change is committed or nothing is.
#pragma once

#include "Status.h"

#include <QString>

#include <functional>
#include <optional>

namespace albumora::store {
class TDM;
}

namespace albumora::editing {

struct NotesWriteTexts {
    QString gone;         // the album is not in the collection
    QString unreadable;   // put before the reason when its notes cannot be read
};

// change gives the new notes from the stored ones, or nothing to leave them as they are.
store::Status RewriteAlbumNotes(store::TDM& dm, const QString& albumId,
                                const std::function<std::optional<QString>(const QString& notes)>& change,
                                const NotesWriteTexts& texts);

}  // namespace albumora::editing
