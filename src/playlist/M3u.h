// The playlist file "Albumora.m3u" and playing an album: what a media code plays (the audio CD,
// files on a local drive, the playlist file of an imported playlist), the file's lines, and
// handing it to the player program or the desktop's handler. No widgets: the main window runs
// these, the command-line companion writes the same file.
#pragma once

#include "DMcd.h"
#include "Settings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace albumora::playlist {

inline const QString kPlaylistFileName = QStringLiteral("Albumora.m3u");

// Shown for a playlist album whose "PLAYLIST=" line is missing or names no file.
extern const QString kMissingPlaylistMessage;

struct CdTrack {
    QString nr;     // as stored
    QString title;
    QString secs;   // as stored
};

// Where a player finds track n of the audio CD at CDPath (a device or a disc image): the CD-DA
// address Linux players understand, "cdda://" + device + "@" + n.
QString CdTrackLocation(const QString& cdPath, int number);
// "#EXTM3U", then per track "#EXTINF:" + seconds + "," + artist + " - " + title and its location.
QStringList CdPlaylistLines(const QString& artist, const std::vector<CdTrack>& tracks, const QString& cdPath);

bool HasWildcards(const QString& path);
// The files of the folder part matching the name part ("*", "?"; letter case ignored), sorted
// by name, each with its folder.
QStringList MatchingFiles(const QString& pattern);
// "#EXTM3U", then one line per matching file, or the path itself when it holds no wildcard.
QStringList FilePlaylistLines(const QString& pathOrPattern);
// The whole file at once (UTF-8, the file names as the file system has them, CR LF line ends),
// through a temporary beside it: a failed write leaves the previous file.
store::Status WritePlaylistFile(const QString& path, const QStringList& lines);

// What the play button plays for an album.
struct PlayTarget {
    enum class Kind {
        Cd,               // the audio CD in the drive
        Files,            // a file playlist of path (a file, folder or pattern)
        PlaylistFile,     // the playlist file at path, handed over as it is
        MissingPlaylist,  // a playlist album without a usable "PLAYLIST=" line
    };
    Kind kind = Kind::Cd;
    QString path;
};
// media: the MEDIA code; label: LABEL; notes: the Notes text.
PlayTarget DecidePlay(const QString& media, const QString& label, const QString& notes);

// The tracks a CD playlist of the album holds: with startTrack 0 its marked tracks in track
// order, or all when none is marked; otherwise every track numbered startTrack or above.
store::Result<std::vector<CdTrack>> CdPlaylistTracks(store::TDM& dm, const QString& albumId, int startTrack);

class PlayFlow {
public:
    struct Hooks {
        // FindCdInCollection: the disc in the drive made the current album; false (its messages
        // shown) when there is no audio CD or it is not in the collection.
        std::function<bool(bool showMessages)> findCdInCollection;
        std::function<QString()> currentDiscId;
        std::function<bool(bool showMessages)> showAlbumArt;
    };
    PlayFlow(store::TDM& dm, const settings::RunSettings& settings, Hooks hooks);

    QString playlistPath() const;

    // The play button, for the current album of the albums cursor.
    store::Status PlayCurrentAlbum();
    // A double click on track startTrack of the current album: from that track to the last.
    store::Status PlayFromTrack(int startTrack);

    // The file the play button would hand to the player for the album, written when it is
    // Albumora.m3u; a CD album's tracks come from the collection, the drive being CDPath.
    // Returns the path; a playlist album without its file is an error with the box's text.
    store::Result<QString> WriteFor(const QString& albumId, int startTrack);

    store::Result<QString> WriteCdPlaylist(const QString& albumId, int startTrack);
    store::Result<QString> WriteFilePlaylist(const QString& pathOrPattern);
    // The configured player with the file when it names an existing program, else the desktop's
    // handler for the file's type. A start that fails is told.
    bool Launch(const QString& file);

private:
    store::Status playTarget(const PlayTarget& target, int startTrack);

    store::TDM& dm_;
    const settings::RunSettings& settings_;
    Hooks hooks_;
};

}  // namespace albumora::playlist
