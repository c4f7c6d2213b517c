// The duplicate-track finder without widgets: for the album in the edit form, the tracks of the
// collection that carry the same titles, read from the tracks view's work table TVIEW.DBF in
// the order of its tag Track (the upper-cased title). The window TDupes (Fdupes) shows the page.
#pragma once

#include "Cursor.h"
#include "Status.h"

#include <QString>

#include <vector>

namespace albumora::views {

struct DuplicateQuery {
    QString artist;        // the edit form's artist
    QString album;         // the edit form's album title
    bool modifying = false;  // edit mode 3: the album's own rows are in the tracks view
    QString albumId;       // the current album's ID, for modifying
    struct Track {
        QString number;  // the grid's number text
        QString title;
    };
    std::vector<Track> tracks;  // the grid's rows 1 to N
};

struct DuplicatePage {
    enum class Kind { Heading, Track, Match, Blank, Note };
    struct Line {
        Kind kind;
        QString text;
    };
    std::vector<Line> lines;
    bool found = false;  // a title matched: the page went to the clipboard
    // The page as text, one line a line (what the clipboard gets).
    QString text() const;
};

// The key a title is looked up by: upper-cased (ASCII letters), and on a multi-artist album the
// song part after " / " (or, when there is none, after " - "), trimmed.
QString DuplicateKey(const QString& title, bool multiArtist);

// Reads the tracks view (opened and ordered by Track; filtered to other albums when modifying;
// the filter is switched off again at the end). With a match the page's text goes to the
// desktop clipboard and says so.
store::Result<DuplicatePage> FindDuplicates(store::Cursor& tview, const DuplicateQuery& query);

inline const QString kDuplicatesCopied = QStringLiteral("This information has also been copied to the Clipboard");
inline const QString kNoDuplicates = QStringLiteral("No tracks in your Collection match any tracks on this album");

}  // namespace albumora::views
