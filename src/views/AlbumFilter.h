// The album filter: a user-typed expression that restricts the albums grid, with its history.
// The window (TPopUpFilt) collects the text; this decides what happens to it.
#pragma once

#include "Cursor.h"
#include "FilterHistory.h"

namespace albumora::views {

class AlbumFilter {
public:
    // history: "albums.ini" of the data folder.
    AlbumFilter(store::Cursor& albums, QString historyPath);

    reports::FilterHistory& history() { return history_; }
    // "genre=\"rock\"" for a rock album.
    QString preset() const;
    // OK with the text as typed: true when a filter is now set on the albums cursor.
    bool apply(const QString& text);

private:
    store::Cursor& albums_;
    reports::FilterHistory history_;
};

}  // namespace albumora::views
