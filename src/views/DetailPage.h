// The texts of the detail view (one album) and of the track info window (one tracks-view row),
// composed from the tables and the album notes without widgets: the windows only paint the lines
// in their colours. Also the labeler playlist and the two web searches both windows offer.
#pragma once

#include "DMcd.h"
#include "Status.h"
#include "Version.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace albumora::views {

struct PageLine {
    enum class Colour { Black, Blue, Navy, Purple, Red };
    QString text;
    Colour colour = Colour::Black;
    bool bold = false;
    bool italic = false;
};

QStringList TextsOf(const std::vector<PageLine>& lines);

// ---------------------------------------------------------------------------------------------
// Detail view

// What the page needs to know of the main window.
struct DetailOptions {
    bool albumsFiltered = false;  // the album filter is on
    QString filterExpression;
    bool listedByLabel = false;  // the albums are listed by the "Label" tag
    QString version = kProductVersion;
};

struct DetailTrack {
    QString title;
    qint64 secs = 0;
};

struct DetailPage {
    QString albumId;
    QString title;
    QString artist;
    std::vector<PageLine> lines;
    // "01. Morning Rain": the songs the lyrics window offers.
    QStringList lyricTracks;
    // The album's tracks in track order, for the labeler playlist.
    std::vector<DetailTrack> tracks;
    qint64 trackSeconds = 0;
};

inline const QString kCopyHint =
    QStringLiteral("     Contents can be copied to the Clipboard (ctrl-A then ctrl-C)");
QString DetailCaption(const QString& albumTitle);

// The page of the current album of tblAlbums. tblFilter is left open on the "ID" order,
// positioned on the album. A table the page cannot read ends it with the engine's error; notes
// that cannot be read are said so on the page, in red, and the rest is shown.
store::Result<DetailPage> ComposeDetailPage(store::TDM& dm, const DetailOptions& options);

// The playlist the SureThing labeler takes from the clipboard, one item a line.
QStringList LabelerPlaylist(const DetailPage& page);
inline const QString kLabelerNotSet = QStringLiteral(
    "Playlist copied to Clipboard and may be pasted into SureThing Labeler\rClick on tool button in Toolbox to enter "
    "path for labeler program so\rAlbumora can start it up automatically next time!");
inline const QString kLabelerReady = QStringLiteral(
    "Ready to bring up your Labeler program.\rTo use this Playlist in SureThing, on their menu bar\rclick on "
    "Playlists|Edit Active Playlist\rand then on the Paste button at the bottom of the form.");

// ---------------------------------------------------------------------------------------------
// Web searches for an artist

// The web store's music search ("Available CDs by this artist").
QString ArtistCdsAddress(const QString& artist);
// The poster store's search: the artist trimmed, blanks and "&" as one "+", nothing else changed.
inline const QString kPosterSearchPage = QStringLiteral("https://www.allposters.com/-st/search.aspx");
QString PosterSearchTerm(const QString& artist);
QString PosterSearchAddress(const QString& artist);

// ---------------------------------------------------------------------------------------------
// Track info

inline const QString kTrackInfoCaption = QStringLiteral("  More info on current track");

// The lyric lines stored for a tracks-view row: the blocks keyed by its title, then those keyed
// by artist + "+" + title (how the lyrics window keys blocks found on its first site).
std::optional<QStringList> LyricsOfTrack(const QStringList& notesLines, const QString& track, const QString& artist);

// The page of a row with the TVIEW.DBF layout. tblFilter is opened on the "id" order and
// positioned on the row's album; the caller restores it (CursorState).
store::Result<std::vector<PageLine>> ComposeTrackInfo(store::TDM& dm, const store::Cursor& row);

// Whether a cursor was open, its order and row; restore() puts them back.
class CursorState {
public:
    explicit CursorState(store::Cursor& c);
    void restore();

private:
    store::Cursor& c_;
    bool open_;
    QString order_;
    store::Cursor::Bookmark at_;
};

}  // namespace albumora::views
