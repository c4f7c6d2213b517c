// A small collection for the tracks view: a plain album with a marked track, a compilation
// whose artist rows credit some tracks to their own artists, an album whose own titles hold
// " / ", and artist rows that name an album or a track that is gone.
#pragma once

#include "DMcd.h"
#include "FakeDesktop.h"
#include "TestSupport.h"

#include <QStringList>

#include <memory>

namespace albumora::test {

struct SeedAlbum {
    const char* id;
    const char* artist;
    const char* album;
    const char* genre;
    const char* year;
    std::vector<std::pair<QString, int>> tracks;  // title, seconds
    QStringList marked = {};                      // NR as stored
};

inline const std::vector<SeedAlbum>& TrackViewAlbums() {
    static const std::vector<SeedAlbum> albums = {
        {"0a000001", "Bob Dylan", "Blonde on Blonde", "rock", "1966",
         {{QStringLiteral("Visions of Johanna"), 452}, {QStringLiteral("I Want \"You\""), 185}, {QStringLiteral("Rainy Day Women"), 276}},
         {QStringLiteral("  2")}},
        {"0a000002", "Various", "Hits & Misses", "pop", "1999",
         {{QStringLiteral("Abba / Dancing Queen"), 231},
          {QStringLiteral("Bowie /   Heroes and a title much longer than the thirty-eight of the view  "), 370},
          {QStringLiteral("Cher / Believe"), 240}},
         {QStringLiteral("  3")}},
        {"0a000003", "Simon & Garfunkel", "Bridge", "folk", "1970", {{QStringLiteral("Bridge / Over Troubled Water"), 0}}},
    };
    return albums;
}

// (ID, NR, artist) of every ARTISTS row.
inline const std::vector<std::tuple<const char*, const char*, const char*>>& TrackViewArtistRows() {
    static const std::vector<std::tuple<const char*, const char*, const char*>> rows = {
        {"0a000001", "", "Bob Dylan"},   {"0a000002", "", "Various"},   {"0a000002", "  1", "Abba"},
        {"0a000002", "  2", "Bowie"},    {"0a000002", "  9", "Nobody"}, {"0a000003", "", "Simon & Garfunkel"},
        {"0a000099", "", "Gone Album"},
    };
    return rows;
}

class TrackViewFixture : public ::testing::Test {
protected:
    void SetUp() override { seed(); }
    void seed() {
        dm = std::make_unique<store::TDM>(dir.path());
        ASSERT_STORE_OK(dm->EnsureCollectionFiles());
        ASSERT_STORE_OK(dm->OpenCollectionTables());
        if (!seedCollection) return;
        for (const SeedAlbum& a : TrackViewAlbums()) {
            store::Cursor& c = dm->tblAlbums;
            ASSERT_STORE_OK(c.append());
            const std::pair<const char*, const char*> values[] = {
                {"ID", a.id}, {"Artist", a.artist}, {"Album", a.album}, {"Genre", a.genre}, {"YR", a.year}, {"Label", "Shelf 1"}, {"Media", "CD"}};
            for (const auto& [field, value] : values) ASSERT_STORE_OK(c.setText(QString::fromLatin1(field), QString::fromUtf8(value)));
            ASSERT_STORE_OK(c.post());
            int nr = 0;
            for (const auto& [title, secs] : a.tracks) {
                store::Cursor& cd = dm->tblCD;
                ASSERT_STORE_OK(cd.append());
                ASSERT_STORE_OK(cd.setText(QStringLiteral("ID"), QString::fromLatin1(a.id)));
                ASSERT_STORE_OK(cd.setText(QStringLiteral("NR"), store::TDM::PadNumber(++nr, 3)));
                ASSERT_STORE_OK(cd.setText(QStringLiteral("Track"), title));
                ASSERT_STORE_OK(cd.setText(QStringLiteral("Secs"), QString::number(secs)));
                ASSERT_STORE_OK(cd.post());
            }
            for (const QString& nrText : a.marked) {
                store::Cursor& p = dm->tblPlayList;
                ASSERT_STORE_OK(p.append());
                ASSERT_STORE_OK(p.setText(QStringLiteral("ID"), QString::fromLatin1(a.id)));
                ASSERT_STORE_OK(p.setText(QStringLiteral("NR"), nrText));
                ASSERT_STORE_OK(p.post());
            }
        }
        for (const auto& [id, nr, artist] : TrackViewArtistRows()) {
            store::Cursor& ar = dm->tblArtists;
            ASSERT_STORE_OK(ar.append());
            ASSERT_STORE_OK(ar.setText(QStringLiteral("ID"), QString::fromLatin1(id)));
            ASSERT_STORE_OK(ar.setText(QStringLiteral("NR"), QString::fromLatin1(nr)));
            ASSERT_STORE_OK(ar.setText(QStringLiteral("Artist"), QString::fromLatin1(artist)));
            ASSERT_STORE_OK(ar.post());
        }
        ASSERT_STORE_OK(dm->FlushCollection());
    }

    // The rows of a table as python3-dbfread reads them, one line each: the fields joined by "|".
    QStringList readRows(const QString& file) {
        const auto r = runPython(QStringLiteral(R"(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='cp1252', char_decode_errors='strict')
for rec in t:
    print('|'.join('x' if v is True else '-' if v is False else str(v) for v in rec.values()))
)"),
                                 {dir.file(file)});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool seedCollection = true;
    TempFolder dir;
    FakeDesktop desk;
    std::unique_ptr<store::TDM> dm;
};

// The rows of TVIEW.DBF the fixture's collection gives, in the order of the artists' tag:
// Track|Artist|Album|Genre|YR|ID|NR|marked|sec.
inline const QStringList kTrackViewRows = {
    QStringLiteral("Dancing Queen|Abba|Hits & Misses|pop|1999|0a000002|  1|-|231"),
    QStringLiteral("Visions of Johanna|Bob Dylan|Blonde on Blonde|rock|1966|0a000001|  1|-|452"),
    QStringLiteral("I Want \"You\"|Bob Dylan|Blonde on Blonde|rock|1966|0a000001|  2|x|185"),
    QStringLiteral("Rainy Day Women|Bob Dylan|Blonde on Blonde|rock|1966|0a000001|  3|-|276"),
    QStringLiteral("Heroes and a title much longer than th|Bowie|Hits & Misses|pop|1999|0a000002|  2|-|370"),
    QStringLiteral("Bridge / Over Troubled Water|Simon & Garfunkel|Bridge|folk|1970|0a000003|  1|-|0"),
    QStringLiteral("Abba / Dancing Queen|Various|Hits & Misses|pop|1999|0a000002|  1|-|231"),
    QStringLiteral("Bowie /   Heroes and a title much long|Various|Hits & Misses|pop|1999|0a000002|  2|-|370"),
    QStringLiteral("Cher / Believe|Various|Hits & Misses|pop|1999|0a000002|  3|x|240"),
};

}  // namespace albumora::test
