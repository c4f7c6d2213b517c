// The album import's parsers: text copied from a web page (a CD database record, an All Music
// Guide or web-store track list, a plain numbered or unnumbered list), a playlist file (M3U or
// XSPF), or a track count typed by hand, turned into the pending album of the edit form.
//
// Each parser changes the pending album the way the import always has, row by row, and says
// what the import window must show or do next; none of them shows anything itself. The rules
// are line-based and lenient: they were made for pages whose layout nobody controls. Where a
// rule needs a whole number and the text has something else, or the text is far too large to be
// what the user meant to copy, the parser refuses: it leaves the pending album exactly as it was
// and gives a message saying what was wrong.
#pragma once

#include "PendingAlbum.h"
#include "Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace albumora::disc {

using editing::EditMode;
using editing::PendingAlbum;

// What the user chose in the import window. The letter is the album source code the album is
// stored with.
enum class ImportSource : char {
    None = 'Z',        // nothing chosen yet
    CdDatabase = 'F',  // "Freedb" or "Tracktype": a CD database record
    Amg = 'G',         // "All Music Guide": a web track list
    Amazon = 'A',      // the web store: a web track list with the store's rules
    Numbered = 'Y',
    Unnumbered = 'N',
    Manual = 'M',
    Playlist = 'P',
};
inline QChar SourceCode(ImportSource s) { return QLatin1Char(char(s)); }

namespace importmsg {
inline const QString kNotCopied = QStringLiteral("Webpage info has NOT been copied to Clipboard.\rPlease try again!");
inline const QString kNoSource = QStringLiteral("You must click a button above\ror click the Cancel button below");
inline const QString kNoNumberedTracks = QStringLiteral("No valid NUMBERED tracks copied to Clipboard.\rPlease try again!");
inline const QString kNoTracks = QStringLiteral("No valid tracks copied to Clipboard.\rPlease try again!");
inline const QString kInvalidXcmd = QStringLiteral("Invalid XCMD format");
inline const QString kDuplicate = QStringLiteral("An album with this calculated ID already exists\rand will be highlighted");
inline const QString kInvalidPlaylist = QStringLiteral("Invalid m3u playlist format");
inline const QString kNoPlaylistTracks = QStringLiteral("Playlist missing timing and id3 tag data for tracks");
inline const QString kEntryNotNumber = QStringLiteral("Entry must be a number (1 or more)");
inline const QString kLinkToDisc = QStringLiteral("Link to disc now in drive?");
}  // namespace importmsg

// The track number column holds 3 characters, so no album has more tracks than this.
inline constexpr int kMaxImportTracks = 999;
// More text than any album page, record or playlist holds: a clipboard or file above this is
// refused before it is split into lines.
inline constexpr qsizetype kMaxImportChars = 2 * 1024 * 1024;

struct ParseResult {
    // Error boxes to show, in this order.
    QStringList errors;
    // Nothing was changed: a number the rules need was malformed, the text was too large, the
    // file could not be read or the collection could not be asked. The window stays open.
    bool refused = false;
    // The pasted text is to be cleared.
    bool clearText = false;
    // What the import collected on the way: the times of a web list, the titles of a playlist.
    QStringList collected;
};

// ---------------------------------------------------------------------------------------------
// The clipboard text

// The lines of a pasted text, split at any line break; a final line break ends the last line
// rather than starting an empty one. Nothing when the text is larger than kMaxImportChars.
std::optional<QStringList> SplitPastedText(const QString& text);
// The message for a clipboard that held too much text.
QString TooMuchTextMessage(qsizetype chars);

// ---------------------------------------------------------------------------------------------
// Track lists

// Title row n: in mode 2 (n > 0) the grid grows or shrinks to n track rows, row n numbered
// "%.2d" with an empty time; in every mode row n, when the grid has it, gets the trimmed text.
void SetTitleRow(PendingAlbum& album, int n, const QString& text);

// Lines such as "12. Title" or "1 Title": a leading number of 1 to 3 digits ended by any other
// character. "No valid NUMBERED tracks ..." when there is none.
ParseResult ParseNumberedList(const QStringList& lines, PendingAlbum& album);
// Every non-empty line is the next track's title. "No valid tracks ..." when there is none.
ParseResult ParseUnnumberedList(const QStringList& lines, PendingAlbum& album);

// A track list copied from All Music Guide (amazon false) or from the web store (amazon true):
// "3 Song Name 4:05" lines, times at the end of the line. Times are kept in mode 2, and in mode
// 3 when the album's current track has no time (currentTrackHasNoTime); one track line without
// a time drops them all.
ParseResult ParseWebTrackList(const QStringList& lines, PendingAlbum& album, bool amazon, bool currentTrackHasNoTime);

// ---------------------------------------------------------------------------------------------
// CD database record

struct XmcdResult : ParseResult {
    // The record's disc ID (8 lower-case hexadecimal digits): the current disc ID from now on.
    std::optional<QString> discId;
    // The record's disc length in seconds.
    std::optional<int> discLength;
    // The disc ID is already in the collection (checked in modes 1 and 2).
    bool duplicate = false;
};
// Whether an album with the ID is in the collection; an engine error ends the import.
using AlbumExists = std::function<store::Result<bool>(const QString& id)>;
// A record as the CD database's web pages show it: frame offsets, disc length, revision,
// DISCID, DTITLE, DGENRE, DYEAR and TTITLE lines, read by a state machine in that order.
XmcdResult ParseXmcdRecord(const QStringList& lines, PendingAlbum& album, const AlbumExists& albumExists);

// ---------------------------------------------------------------------------------------------
// Manual entry

// The typed track count: a whole number from 1 to kMaxImportTracks, or the message to show.
struct TrackCountEntry {
    int count = 0;
    QString error;  // empty when count is good
};
TrackCountEntry ParseTrackCount(const QString& entry);
// The manual album: artist "Various" (selected) and, in mode 2, count rows "Track 01" ...; in
// mode 1 the grid keeps the disc's discTrackCount rows.
void ApplyManualEntry(PendingAlbum& album, int count, int discTrackCount);

// ---------------------------------------------------------------------------------------------
// Playlists

// A text file as lines: UTF-8 (with or without its byte order mark), UTF-16 with its mark, and
// otherwise Windows-1252. An error text when the file cannot be read or is too large.
struct TextFile {
    QStringList lines;
    QString error;
};
TextFile ReadTextFile(const QString& path, qsizetype maxBytes = kMaxImportChars);

struct PlaylistResult : ParseResult {
    int trackCount = 0;
    bool m3u = false;
    QString fullPath;  // the playlist's absolute file name
    QString folder;    // its folder, ending with "/"
};
// An extended M3U (#EXTINF lines) or an XSPF playlist (title, creator and duration of each
// track) into the grid, titles, artist, album title, notes "PLAYLIST=..." and media "PL". In
// mode 1 the grid starts from the disc's discTrackCount rows. The two playlist messages leave
// the window open; the grid has been reset then, nothing else is changed.
PlaylistResult ImportPlaylist(const QString& path, PendingAlbum& album, int discTrackCount);

// The folder of a path as ClipsDir keeps it ("/music/rips/"), and whether two such folders are
// the same regardless of a trailing "/".
QString FolderWithSlash(const QString& folder);
bool SameFolder(const QString& a, const QString& b);

}  // namespace albumora::disc
