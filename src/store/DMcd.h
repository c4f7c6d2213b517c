// The data module: every table cursor of the program, the field lists the collection tables are
// created from, their index tags, album ID allocation and the small formatting functions of
// track numbers and times. It lives from start to end of the program.
#pragma once

#include "Cursor.h"
#include "Status.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace albumora::store {

class TDM : public QObject {
    Q_OBJECT
public:
    static const QString kAlbumsFields;
    static const QString kTracksFields;
    static const QString kArtistsFields;
    static const QString kPlaylistFields;
    static const QString kTViewFields;

    // dataFolder: the folder holding the tables (the program folder).
    explicit TDM(const QString& dataFolder, QObject* parent = nullptr);

    const QString& dataFolder() const { return folder_; }
    QString tablePath(const QString& fileName) const;

    Cursor tblAlbums{QStringLiteral("tblAlbums")};
    Cursor tblTracks{QStringLiteral("tblTracks")};
    Cursor tblFilter{QStringLiteral("tblFilter")};
    Cursor tblPlayList{QStringLiteral("tblPlayList")};
    Cursor tblCD{QStringLiteral("tblCD")};
    Cursor tblArtists{QStringLiteral("tblArtists")};
    Cursor tblTView{QStringLiteral("tblTView")};

    // The fields the tracks view adds to a table of its layout (tblTView and its selection
    // copy): LABEL, MC and INDEX looked up in tblFilter, Time and x computed.
    void AddTrackViewFields(Cursor& c);

    // Creates the tags of a collection table, recognised by the fourth letter of its file name:
    // "C" TRACKS, "I" ARTISTS, "U" ALBUMS, "Y" PLAYLIST; other tables get none.
    static Status CreateIndexTags(Table& table);
    static Status CreateIndexTags(Cursor& cursor);
    // The tags CreateIndexTags makes for a collection table (name, key expression), in order.
    static std::vector<std::pair<QString, QString>> IndexTagsOf(const QString& fileName);
    // The five album tags, on any table with the ALBUMS.DBF layout.
    static Status CreateAlbumTags(Table& table);
    static Status CreateAlbumTags(Cursor& cursor);

    // The next local album ID ("z" and 7 digits); an error, and nothing written, once
    // "z9999999" is taken.
    Result<QString> AllocateLocalAlbumId();
    // Writes the buffers of the albums, tracks, playlist and artists tables to disk.
    Status FlushCollection();

    static QString FormatTrackTime(qint64 seconds, int width);
    static QString PadNumber(qint64 number, int width);

    // Creates missing collection tables and rebuilds missing, stale or unreadable index files,
    // as start-up does. status receives the progress texts; an empty text restores the idle one.
    Status EnsureCollectionFiles(const std::function<void(const QString&)>& status = {});
    // Opens the four collection tables on their tags, first rows current.
    Status OpenCollectionTables();
    // Closes every cursor.
    void CloseAll();
    // When a program has committed since the last call, brings the collection cursors up to
    // date and says so (the grids then show its albums). The current album stays
    // current; when another program deleted it, the next one is. Nothing happens while a row
    // is being edited or a write of this program is open.
    Result<bool> CatchUpWithOtherWriters();

    // The one read-only query of the printed artist list:
    // "select distinct artist from artists order by upper(artist)".
    Result<QStringList> SelectDistinctArtists();

    // Whether a track is marked for the playlist (a PLAYLIST.DBF row with its ID and NR).
    Result<bool> IsTrackMarked(const QString& id, const QString& nr);

private:
    Status createIndexFile(const QString& fileName, const std::function<void(const QString&)>& status);
    QString folder_;
    std::uint64_t seenCommits_ = 0;
};

}  // namespace albumora::store
