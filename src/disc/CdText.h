// The CD-Text of the disc in a drive or of a disc image: what an album import shows when no CD
// database knows the disc.
//
// The texts are kept as the collection will store them: libcdio's UTF-8 taken through
// Windows-1252 (a character outside it is "?" at once, not at the save), control characters
// and blanks trimmed, cut to the widths of the album and track fields.
#pragma once

#include "PendingAlbum.h"

#include <QString>

#include <optional>
#include <vector>

namespace albumora::disc {

// Field widths the texts are cut to: the album table's Artist and Album, the track titles.
inline constexpr int kCdTextArtistWidth = 50;
inline constexpr int kCdTextTitleWidth = 50;
inline constexpr int kCdTextTrackTitleWidth = 73;

struct CdText {
    QString language;  // the language block read, in libcdio's words ("English")
    QString artist;    // the disc's PERFORMER
    QString title;     // the disc's TITLE
    // Index 0 is the disc's first track. Both lists have one entry per track of the disc;
    // a track without the field has an empty string.
    std::vector<QString> trackTitles;
    std::vector<QString> trackArtists;

    // Nothing an album could be filled from.
    bool empty() const;
};

// One CD-Text field as it is kept: from UTF-8, through Windows-1252, inner control characters
// as blanks, trimmed, at most width characters.
QString CleanCdText(const char* utf8, int width);

// The CD-Text of the drive or image at path. The English block when the disc has one with any
// text, otherwise the first block libcdio lists. std::nullopt when libcdio cannot open the path, the disc has
// no CD-Text, or its CD-Text holds nothing usable (never an empty CdText).
std::optional<CdText> ReadCdText(const QString& path);

// Fills the pending album from the CD-Text: the artist, the title and the titles of the track
// rows the album already has. Rows the album lacks are not added; an empty CD-Text field leaves
// what the album holds.
//
// Track performers follow the album's multi-artist convention (an artist beginning with
// "Various", track titles "Artist / Song"):
// - when the disc's performer begins with "Various", every track with a performer of its own
//   other than the disc's is titled "Performer / Title";
// - otherwise, when at least half of the CD-Text's tracks have a performer that differs from
//   the disc's (case aside), the album artist becomes "Various Artists" and every track is
//   titled "Performer / Title" (a track without a performer of its own takes the disc's);
// - fewer differing tracks (a guest on one track) keep the plain titles and the disc's artist;
// - a disc without a performer whose tracks all name the same one takes that as its artist.
// The import source (sys) and the artist box's selection are the caller's.
void ApplyCdText(const CdText& text, editing::PendingAlbum& album);

}  // namespace albumora::disc
