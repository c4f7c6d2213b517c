#include "M3u.h"

#include "AlbumRows.h"
#include "Codepage.h"
#include "File.h"
#include "NotesTags.h"
#include "Prompts.h"

#include <QDir>
#include <QFileInfo>

#include <map>

namespace albumora::playlist {

using store::Cursor;
using store::ErrorKind;
using store::Status;

const QString kMissingPlaylistMessage = QStringLiteral(
    "Album data was created from Winamp playlist, but\rthe playlist entry is now missing or incorrect.\rClick the \"Modify\" "
    "button,\rthen \"Edit Notes\" and add or correct line for \"PLAYLIST=\"\rto add a Winamp style m3u playlist for this album");

// ---------------------------------------------------------------------------------------------
// The file's lines

QString CdTrackLocation(const QString& cdPath, int number) {
    return QStringLiteral("cdda://") + store::trimControl(cdPath) + QLatin1Char('@') + QString::number(number);
}

QStringList CdPlaylistLines(const QString& artist, const std::vector<CdTrack>& tracks, const QString& cdPath) {
    QStringList lines{QStringLiteral("#EXTM3U")};
    for (const CdTrack& t : tracks) {
        // A track without a stored length says "unknown" the way players read it.
        const QString secs = t.secs.trimmed().isEmpty() ? QStringLiteral("-1") : t.secs;
        lines << QStringLiteral("#EXTINF:") + secs + QLatin1Char(',') + artist + QStringLiteral(" - ") + t.title;
        lines << CdTrackLocation(cdPath, t.nr.trimmed().toInt());
    }
    return lines;
}

bool HasWildcards(const QString& path) { return path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?')); }

QStringList MatchingFiles(const QString& pattern) {
    const QFileInfo where(pattern);
    const QString folder = where.path();
    const QString name = where.fileName();
    if (name.isEmpty() || HasWildcards(folder)) return {};
    const QDir dir(folder);
    QStringList files;
    for (const QString& f : dir.entryList({name}, QDir::Files | QDir::Hidden, QDir::Name)) files << dir.filePath(f);
    return files;
}

QStringList FilePlaylistLines(const QString& pathOrPattern) {
    QStringList lines{QStringLiteral("#EXTM3U")};
    if (HasWildcards(pathOrPattern))
        lines << MatchingFiles(pathOrPattern);
    else
        lines << pathOrPattern;
    return lines;
}

Status WritePlaylistFile(const QString& path, const QStringList& lines) {
    const QByteArray bytes = (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
    return store::writeFileAtomically(path, std::string(bytes.constData(), size_t(bytes.size())), false);
}

// ---------------------------------------------------------------------------------------------
// What an album plays

namespace {

// A file or folder that exists, or a pattern that matches a file.
bool namesSomething(const QString& path) {
    if (path.isEmpty()) return false;
    return HasWildcards(path) ? !MatchingFiles(path).isEmpty() : QFileInfo::exists(path);
}

}  // namespace

PlayTarget DecidePlay(const QString& media, const QString& label, const QString& notes) {
    const QStringList lines = notes::SplitLines(notes);
    if (media == QLatin1String("PL")) {
        const QString file = notes::FindLastTagged(lines, notes::kPlaylist);
        if (!file.isEmpty() && QFileInfo(file).isFile()) return {PlayTarget::Kind::PlaylistFile, file};
        return {PlayTarget::Kind::MissingPlaylist, file};
    }
    if (media == QLatin1String("LD")) {
        const QString fromLabel = store::trimControl(label);
        if (namesSomething(fromLabel)) return {PlayTarget::Kind::Files, fromLabel};
        const QString fromNotes = store::trimControl(lines.value(0));
        if (namesSomething(fromNotes)) return {PlayTarget::Kind::Files, fromNotes};
    }
    return {PlayTarget::Kind::Cd, {}};
}

store::Result<std::vector<CdTrack>> CdPlaylistTracks(store::TDM& dm, const QString& albumId, int startTrack) {
    std::vector<CdTrack> all;
    std::map<QString, size_t> byNr;
    Cursor tracks;
    ALB_TRY(OpenOn(tracks, dm.tablePath(QStringLiteral("TRACKS.DBF")), QStringLiteral("Tracks")));
    ALB_TRY(SelectAlbum(tracks, albumId));
    ALB_TRY(tracks.forEachRow([&]() -> Status {
        byNr[tracks.text(QStringLiteral("NR"))] = all.size();
        all.push_back({tracks.text(QStringLiteral("NR")), tracks.text(QStringLiteral("TRACK")), tracks.text(QStringLiteral("Secs"))});
        return {};
    }));
    std::vector<CdTrack> chosen;
    if (startTrack == 0) {
        Cursor marks;
        ALB_TRY(OpenOn(marks, dm.tablePath(QStringLiteral("PLAYLIST.DBF")), QStringLiteral("Playlist")));
        ALB_TRY(SelectAlbum(marks, albumId));
        ALB_TRY(marks.forEachRow([&]() -> Status {
            auto it = byNr.find(marks.text(QStringLiteral("NR")));
            if (it != byNr.end()) chosen.push_back(all[it->second]);
            return {};
        }));
    }
    if (!chosen.empty()) return chosen;
    for (const CdTrack& t : all)
        if (t.nr.trimmed().toInt() >= startTrack) chosen.push_back(t);
    return chosen;
}

// ---------------------------------------------------------------------------------------------
// Playing

PlayFlow::PlayFlow(store::TDM& dm, const settings::RunSettings& settings, Hooks hooks)
    : dm_(dm), settings_(settings), hooks_(std::move(hooks)) {}

QString PlayFlow::playlistPath() const { return QDir(dm_.dataFolder()).absoluteFilePath(kPlaylistFileName); }

store::Result<QString> PlayFlow::WriteCdPlaylist(const QString& albumId, int startTrack) {
    QString artist;
    Cursor albums;
    ALB_TRY(OpenOn(albums, dm_.tablePath(QStringLiteral("ALBUMS.DBF")), QStringLiteral("ID")));
    ALB_ASSIGN_OR_RETURN(const bool found, albums.findKey({albumId}));
    std::vector<CdTrack> tracks;
    if (found && !albumId.isEmpty()) {
        artist = albums.text(QStringLiteral("ARTIST"));
        ALB_ASSIGN_OR_RETURN(tracks, CdPlaylistTracks(dm_, albumId, startTrack));
    }
    const QString path = playlistPath();
    ALB_TRY(WritePlaylistFile(path, CdPlaylistLines(artist, tracks, settings_.cdPath)));
    return path;
}

store::Result<QString> PlayFlow::WriteFilePlaylist(const QString& pathOrPattern) {
    const QString path = playlistPath();
    ALB_TRY(WritePlaylistFile(path, FilePlaylistLines(pathOrPattern)));
    return path;
}

bool PlayFlow::Launch(const QString& file) {
    auto* launcher = platform::desktop().launcher;
    if (!launcher) return false;
    const QString player = store::trimControl(settings_.player);
    const bool usePlayer = !player.isEmpty() && QFileInfo(player).isFile();
    const bool started = usePlayer ? launcher->start(player, {file}) : launcher->open(file);
    if (!started)
        if (auto* prompts = platform::desktop().prompts)
            prompts->error(usePlayer ? QStringLiteral("Could not start the player ") + player + QStringLiteral("\rwith ") + file
                                     : QStringLiteral("No program could be found to open ") + file);
    return started;
}

Status PlayFlow::playTarget(const PlayTarget& target, int startTrack) {
    auto* prompts = platform::desktop().prompts;
    switch (target.kind) {
        case PlayTarget::Kind::MissingPlaylist:
            if (prompts) prompts->error(kMissingPlaylistMessage);
            return {};
        case PlayTarget::Kind::PlaylistFile:
            Launch(target.path);
            return {};
        case PlayTarget::Kind::Files: {
            ALB_ASSIGN_OR_RETURN(const QString file, WriteFilePlaylist(target.path));
            Launch(file);
            return {};
        }
        case PlayTarget::Kind::Cd: break;
    }
    const QString wanted = dm_.tblAlbums.text(QStringLiteral("ID"));
    if (!hooks_.findCdInCollection || !hooks_.findCdInCollection(true)) return {};
    const QString disc = hooks_.currentDiscId ? hooks_.currentDiscId() : QString();
    // A track picked in the grid belongs to the album it was picked from: the disc in the drive
    // must be that album, or another disc would be played from that track on.
    if (startTrack > 0 && disc != wanted) {
        if (prompts)
            prompts->error(QStringLiteral("The CD in drive ") + settings_.cdPath +
                           QStringLiteral(" is not the album of the track you chose"));
        return {};
    }
    ALB_ASSIGN_OR_RETURN(const QString file, WriteCdPlaylist(disc, startTrack));
    Launch(file);
    return {};
}

Status PlayFlow::PlayCurrentAlbum() {
    if (settings_.art && hooks_.showAlbumArt) hooks_.showAlbumArt(false);
    Cursor& a = dm_.tblAlbums;
    if (a.isEmpty()) return {};
    ALB_ASSIGN_OR_RETURN(const QString notes, a.readText(QStringLiteral("Notes")));
    return playTarget(DecidePlay(a.text(QStringLiteral("MEDIA")), a.text(QStringLiteral("LABEL")), notes), 0);
}

Status PlayFlow::PlayFromTrack(int startTrack) {
    Cursor& a = dm_.tblAlbums;
    if (a.isEmpty()) return {};
    ALB_ASSIGN_OR_RETURN(const QString notes, a.readText(QStringLiteral("Notes")));
    const PlayTarget target = DecidePlay(a.text(QStringLiteral("MEDIA")), a.text(QStringLiteral("LABEL")), notes);
    // Files and playlist files have no track numbers to start from: they play whole.
    return playTarget(target, target.kind == PlayTarget::Kind::Cd ? std::max(1, startTrack) : 0);
}

store::Result<QString> PlayFlow::WriteFor(const QString& albumId, int startTrack) {
    Cursor albums;
    ALB_TRY(OpenOn(albums, dm_.tablePath(QStringLiteral("ALBUMS.DBF")), QStringLiteral("ID")));
    ALB_ASSIGN_OR_RETURN(const bool found, albums.findKey({albumId}));
    if (!found || albumId.isEmpty())
        return Status(ErrorKind::NotFound, QStringLiteral("There is no album with the ID \"%1\"").arg(albumId));
    ALB_ASSIGN_OR_RETURN(const QString notes, albums.readText(QStringLiteral("Notes")));
    const PlayTarget target = DecidePlay(albums.text(QStringLiteral("MEDIA")), albums.text(QStringLiteral("LABEL")), notes);
    switch (target.kind) {
        case PlayTarget::Kind::MissingPlaylist: return Status(ErrorKind::NotFound, kMissingPlaylistMessage);
        case PlayTarget::Kind::PlaylistFile: return target.path;
        case PlayTarget::Kind::Files: return WriteFilePlaylist(target.path);
        case PlayTarget::Kind::Cd: break;
    }
    return WriteCdPlaylist(albumId, startTrack);
}

// ---------------------------------------------------------------------------------------------

Status OpenOn(Cursor& c, const QString& path, const QString& tag) {
    c.close();
    c.setTablePath(path);
    ALB_TRY(c.setOrder(tag));
    return c.open(store::OpenMode::Shared);
}

Status SelectAlbum(Cursor& c, const QString& id) {
    c.setFiltered(true);
    ALB_TRY(c.setFilter(QStringLiteral("ID=\"") + id + QLatin1Char('"')));
    c.clearScope();
    const int idField = c.fieldIndex(QStringLiteral("ID"));
    if (idField >= 0) {
        const QString exact = id.leftJustified(c.fieldWidth(idField), QLatin1Char(' '), true);
        // An index that cannot serve the scope now leaves the filter alone to select.
        if (!c.setScope(exact, exact)) c.clearScope();
    }
    return {};
}

void ReleaseAlbum(Cursor& c) {
    c.setFiltered(false);
    c.clearScope();
}

}  // namespace albumora::playlist
