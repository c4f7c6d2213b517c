// Albums written straight into a collection folder through the data module, for tests of the
// windows and flows that read albums: the album row, its tracks and its playlist marks.
#pragma once

#include "DMcd.h"
#include "TestSupport.h"

#include <QString>

#include <utility>
#include <vector>

namespace albumora::test {

struct AlbumRow {
    QString id;
    QString artist;
    QString album;
    QString genre = QStringLiteral("rock");
    QString year;
    QString media;
    QString label;
    QString index;  // IX as stored, right-aligned
    QString notes;
    std::vector<std::pair<QString, int>> tracks;  // title, seconds; numbered from 1
    std::vector<int> marked;                      // track numbers marked for the playlist
};

// Creates the collection tables when missing and opens them.
inline store::Status openCollection(store::TDM& dm) {
    ALB_TRY(dm.EnsureCollectionFiles());
    return dm.OpenCollectionTables();
}

// Appends the album and makes it the current one of tblAlbums.
inline store::Status addAlbum(store::TDM& dm, const AlbumRow& a) {
    store::Cursor& al = dm.tblAlbums;
    ALB_TRY(al.append());
    ALB_TRY(al.setText(QStringLiteral("ID"), a.id));
    ALB_TRY(al.setText(QStringLiteral("Artist"), a.artist));
    ALB_TRY(al.setText(QStringLiteral("Album"), a.album));
    ALB_TRY(al.setText(QStringLiteral("Genre"), a.genre));
    ALB_TRY(al.setText(QStringLiteral("YR"), a.year));
    ALB_TRY(al.setText(QStringLiteral("Media"), a.media));
    ALB_TRY(al.setText(QStringLiteral("Label"), a.label));
    ALB_TRY(al.setText(QStringLiteral("IX"), a.index));
    ALB_TRY(al.setText(QStringLiteral("Notes"), a.notes));
    ALB_TRY(al.post());
    const store::Cursor::Bookmark at = al.bookmark();
    for (size_t i = 0; i < a.tracks.size(); ++i) {
        ALB_TRY(dm.tblCD.append());
        ALB_TRY(dm.tblCD.setText(QStringLiteral("ID"), a.id));
        ALB_TRY(dm.tblCD.setText(QStringLiteral("NR"), store::TDM::PadNumber(qint64(i + 1), 3)));
        ALB_TRY(dm.tblCD.setText(QStringLiteral("Track"), a.tracks[i].first));
        ALB_TRY(dm.tblCD.setText(QStringLiteral("Secs"), QString::number(a.tracks[i].second)));
        ALB_TRY(dm.tblCD.post());
    }
    for (int nr : a.marked) {
        ALB_TRY(dm.tblPlayList.append());
        ALB_TRY(dm.tblPlayList.setText(QStringLiteral("ID"), a.id));
        ALB_TRY(dm.tblPlayList.setText(QStringLiteral("NR"), store::TDM::PadNumber(nr, 3)));
        ALB_TRY(dm.tblPlayList.post());
    }
    ALB_TRY(dm.FlushCollection());
    return al.gotoBookmark(at);
}

// Makes an album current by its ID.
inline store::Status goToAlbum(store::TDM& dm, const QString& id) {
    store::Cursor& al = dm.tblAlbums;
    ALB_TRY(al.first());
    while (!al.eof() && !al.isEmpty()) {
        if (al.text(QStringLiteral("ID")) == id) return {};
        ALB_TRY(al.next());
    }
    return store::Status(store::ErrorKind::NotFound, QStringLiteral("no album ") + id);
}

}  // namespace albumora::test
