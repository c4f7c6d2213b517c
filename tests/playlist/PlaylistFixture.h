// Albums with tracks and marks written through the data module, for the playlist tests.
#pragma once

#include "DMcd.h"
#include "TestSupport.h"

#include <QStringList>

#include <utility>
#include <vector>

namespace albumora::test {

struct AlbumSpec {
    QString id;
    QString artist;
    QString title;
    QString media;  // two letters or empty
    QString label;
    QString notes;
    std::vector<std::pair<QString, QString>> tracks;  // title, Secs as stored
    QStringList marks;                                // NR texts as stored
};

inline void addAlbum(store::TDM& dm, const AlbumSpec& a) {
    ASSERT_STORE_OK(dm.tblAlbums.append());
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ID"), a.id));
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ARTIST"), a.artist));
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ALBUM"), a.title));
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("GENRE"), QStringLiteral("rock")));
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("MEDIA"), a.media));
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("LABEL"), a.label));
    ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Notes"), a.notes));
    ASSERT_STORE_OK(dm.tblAlbums.post());
    int n = 0;
    for (const auto& [title, secs] : a.tracks) {
        ASSERT_STORE_OK(dm.tblCD.append());
        ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("ID"), a.id));
        ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("NR"), store::TDM::PadNumber(++n, 3)));
        ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("TRACK"), title));
        ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("Secs"), secs));
        ASSERT_STORE_OK(dm.tblCD.post());
    }
    for (const QString& nr : a.marks) {
        ASSERT_STORE_OK(dm.tblPlayList.append());
        ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("ID"), a.id));
        ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("NR"), nr));
        ASSERT_STORE_OK(dm.tblPlayList.post());
    }
    ASSERT_STORE_OK(dm.FlushCollection());
}

inline void openCollection(store::TDM& dm) {
    ASSERT_STORE_OK(dm.EnsureCollectionFiles());
    ASSERT_STORE_OK(dm.OpenCollectionTables());
}

// The album's PLAYLIST rows (NR as stored), read by a data module of its own.
inline QStringList storedMarks(const QString& folder, const QString& id) {
    store::TDM dm(folder);
    QStringList out;
    EXPECT_TRUE(dm.OpenCollectionTables().isOk());
    store::Cursor& p = dm.tblPlayList;
    for (store::Status st = p.first(); st && !p.eof() && !p.isEmpty(); st = p.next())
        if (p.text(QStringLiteral("ID")) == id) out << p.text(QStringLiteral("NR"));
    dm.CloseAll();
    return out;
}

}  // namespace albumora::test
