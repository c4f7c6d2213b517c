// The data module over real files: the collection tables as created at first run, their tags,
// local album IDs, the track number and time formats, marks and the tracks view's extra fields.
#include "DMcd.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

void expectOk(const Status& st) { ASSERT_TRUE(st.isOk()) << st.text().toStdString(); }

class DataModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<TDM>(dir.path());
        expectOk(dm->EnsureCollectionFiles());
        expectOk(dm->OpenCollectionTables());
    }
    void addAlbum(const QString& id, const QString& artist, const QString& album, const QString& notes = {}) {
        Cursor& a = dm->tblAlbums;
        expectOk(a.append());
        expectOk(a.setText(QStringLiteral("ID"), id));
        expectOk(a.setText(QStringLiteral("Artist"), artist));
        expectOk(a.setText(QStringLiteral("Album"), album));
        if (!notes.isEmpty()) expectOk(a.setText(QStringLiteral("Notes"), notes));
        expectOk(a.post());
    }
    void addTrack(const QString& id, int nr, const QString& title, int secs) {
        Cursor& t = dm->tblCD;
        expectOk(t.append());
        expectOk(t.setText(QStringLiteral("ID"), id));
        expectOk(t.setText(QStringLiteral("NR"), TDM::PadNumber(nr, 3)));
        expectOk(t.setText(QStringLiteral("Track"), title));
        expectOk(t.setText(QStringLiteral("Secs"), QString::number(secs)));
        expectOk(t.post());
    }
    TempFolder dir;
    std::unique_ptr<TDM> dm;
};

TEST(Formatting, TrackTimesAndNumbers) {
    struct Case {
        qint64 secs;
        int width;
        const char* text;
    };
    for (const Case& c : {Case{185, 2, " 3:05"}, Case{185, 3, "  3:05"}, Case{0, 2, " 0:00"}, Case{6000, 2, "100:00"},
                          Case{3599, 5, "   59:59"}, Case{59, 2, " 0:59"}})
        EXPECT_EQ(TDM::FormatTrackTime(c.secs, c.width), QString::fromLatin1(c.text)) << c.secs << "/" << c.width;
    EXPECT_EQ(TDM::PadNumber(7, 3), QStringLiteral("  7"));
    EXPECT_EQ(TDM::PadNumber(1234, 3), QStringLiteral("1234"));
    EXPECT_EQ(TDM::PadNumber(10, 3), QStringLiteral(" 10"));
}

TEST_F(DataModuleTest, FirstRunCreatesTheTablesWithTheirTags) {
    for (const char* f : {"ALBUMS.DBF", "ALBUMS.FPT", "ALBUMS.CDX", "TRACKS.DBF", "TRACKS.CDX", "ARTISTS.DBF",
                          "ARTISTS.CDX", "PLAYLIST.DBF", "PLAYLIST.CDX"})
        EXPECT_TRUE(QFile::exists(dir.file(QString::fromLatin1(f)))) << f;
    EXPECT_EQ(dm->tblAlbums.tagNames(), (QStringList{"ALBUM", "ARTIST", "GENRE", "ID", "LABEL"}));
    EXPECT_EQ(dm->tblArtists.tagNames(), (QStringList{"ARTIST", "ID"}));
    const Table::Tag* artist = dm->tblAlbums.table()->tag(QStringLiteral("artist"));
    ASSERT_NE(artist, nullptr);
    EXPECT_EQ(artist->keyExpr, QStringLiteral("upper(Artist)+upper(Album)"));
    EXPECT_EQ(artist->tree->keyLength(), 100);
    EXPECT_EQ(dm->tblAlbums.fieldCount(), 11);
    EXPECT_EQ(dm->tblAlbums.fieldName(6), QStringLiteral("Label"));
    EXPECT_TRUE(dm->tblAlbums.isEmpty());
    EXPECT_TRUE(dm->tblAlbums.eof() && dm->tblAlbums.bof());
}

TEST_F(DataModuleTest, TrackNumbersSortNumericallyWithinAnAlbum) {
    addAlbum(QStringLiteral("0a0b0c0d"), QStringLiteral("Artist"), QStringLiteral("Album"));
    for (int nr : {10, 9, 1, 11, 2}) addTrack(QStringLiteral("0a0b0c0d"), nr, QStringLiteral("T%1").arg(nr), 60);
    addTrack(QStringLiteral("0a0b0c0e"), 1, QStringLiteral("Other album"), 60);
    Cursor& t = dm->tblTracks;  // detail of the current album
    expectOk(dm->tblAlbums.first());
    QStringList order;
    for (expectOk(t.first()); !t.eof(); expectOk(t.next())) order << t.text(QStringLiteral("NR")).trimmed();
    EXPECT_EQ(order, (QStringList{"1", "2", "9", "10", "11"}));
    EXPECT_EQ(*t.recordCount(), 5);
}

TEST_F(DataModuleTest, LocalAlbumIdsFollowTheHighestOne) {
    EXPECT_EQ(*dm->AllocateLocalAlbumId(), QStringLiteral("z0000001"));
    addAlbum(QStringLiteral("ffffffff"), QStringLiteral("A"), QStringLiteral("B"));
    EXPECT_EQ(*dm->AllocateLocalAlbumId(), QStringLiteral("z0000001"));
    addAlbum(QStringLiteral("z0000041"), QStringLiteral("A"), QStringLiteral("C"));
    addAlbum(QStringLiteral("z0000007"), QStringLiteral("A"), QStringLiteral("D"));
    EXPECT_EQ(*dm->AllocateLocalAlbumId(), QStringLiteral("z0000042"));
    // A filter on the search cursor never hides a taken ID.
    dm->tblFilter.setFiltered(true);
    expectOk(dm->tblFilter.setFilter(QStringLiteral("ID=\"z0000007\"")));
    EXPECT_EQ(*dm->AllocateLocalAlbumId(), QStringLiteral("z0000042"));
    addAlbum(QStringLiteral("z9999999"), QStringLiteral("A"), QStringLiteral("E"));
    auto none = dm->AllocateLocalAlbumId();
    ASSERT_FALSE(none.isOk());
    EXPECT_TRUE(none.error().message().contains(QStringLiteral("z9999999")));
}

TEST_F(DataModuleTest, MarkedTracksMatchIdAndNumber) {
    Cursor& p = dm->tblPlayList;
    expectOk(p.append());
    expectOk(p.setText(QStringLiteral("ID"), QStringLiteral("0a0b0c0d")));
    expectOk(p.setText(QStringLiteral("NR"), QStringLiteral("  3")));
    expectOk(p.post());
    EXPECT_TRUE(*dm->IsTrackMarked(QStringLiteral("0a0b0c0d"), QStringLiteral("  3")));
    EXPECT_FALSE(*dm->IsTrackMarked(QStringLiteral("0a0b0c0e"), QStringLiteral("  3")));
    EXPECT_FALSE(*dm->IsTrackMarked(QStringLiteral("0a0b0c0d"), QStringLiteral("  4")));
}

TEST_F(DataModuleTest, LookedUpAndComputedFields) {
    addAlbum(QStringLiteral("0a0b0c0d"), QStringLiteral("The Artist"), QStringLiteral("The Album"));
    expectOk(dm->tblAlbums.edit());
    expectOk(dm->tblAlbums.setText(QStringLiteral("Label"), QStringLiteral("Shelf 3")));
    expectOk(dm->tblAlbums.setText(QStringLiteral("Media"), QStringLiteral("CR")));
    expectOk(dm->tblAlbums.setText(QStringLiteral("IX"), QStringLiteral("    12")));
    expectOk(dm->tblAlbums.post());
    addTrack(QStringLiteral("0a0b0c0d"), 1, QStringLiteral("Song"), 185);
    expectOk(dm->tblFilter.open());

    expectOk(dm->tblCD.first());
    EXPECT_EQ(dm->tblCD.text(QStringLiteral("album")), QStringLiteral("The Album"));
    EXPECT_EQ(dm->tblCD.text(QStringLiteral("Artist")), QStringLiteral("The Artist"));

    auto fields = parseFieldList(TDM::kTViewFields);
    ASSERT_TRUE(fields.isOk());
    expectOk(Table::create(dm->tablePath(QStringLiteral("TVIEW.DBF")), *fields));
    Cursor& v = dm->tblTView;
    expectOk(v.open());
    expectOk(v.append());
    expectOk(v.setText(QStringLiteral("ID"), QStringLiteral("0a0b0c0d")));
    expectOk(v.setText(QStringLiteral("sec"), QStringLiteral("185")));
    expectOk(v.setBoolean(QStringLiteral("marked"), true));
    expectOk(v.post());
    EXPECT_EQ(v.text(QStringLiteral("Time")), QStringLiteral(" 3:05"));
    EXPECT_EQ(v.text(QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(v.text(QStringLiteral("LABEL")), QStringLiteral("Shelf 3"));
    EXPECT_EQ(v.text(QStringLiteral("MC")), QStringLiteral("CR"));
    EXPECT_EQ(v.text(QStringLiteral("INDEX")), QStringLiteral("    12"));
    expectOk(v.edit());
    expectOk(v.setBoolean(QStringLiteral("marked"), false));
    expectOk(v.post());
    EXPECT_EQ(v.text(QStringLiteral("x")), QStringLiteral(" "));
    // Filters may name looked-up fields.
    v.setFiltered(true);
    expectOk(v.setFilter(QStringLiteral("MC = \"CR\"")));
    EXPECT_EQ(*v.recordCount(), 1);
    expectOk(v.setFilter(QStringLiteral("MC = \"VL\"")));
    EXPECT_EQ(*v.recordCount(), 0);
}

TEST_F(DataModuleTest, DistinctArtistsInCaseBlindOrder) {
    Cursor& a = dm->tblArtists;
    for (const char* name : {"beatles", "Abba", "The Beatles", "Abba", "abba", "", "Ümlaut", "Zappa"}) {
        ASSERT_TRUE(a.append().isOk());
        ASSERT_TRUE(a.setText(QStringLiteral("ID"), QStringLiteral("00000001")).isOk());
        ASSERT_TRUE(a.setText(QStringLiteral("Artist"), QString::fromUtf8(name)).isOk());
        ASSERT_TRUE(a.post().isOk());
    }
    ASSERT_TRUE(a.first().isOk());
    ASSERT_TRUE(a.deleteRecord().isOk());  // "beatles", the first row entered: no longer listed
    auto names = dm->SelectDistinctArtists();
    ASSERT_TRUE(names.isOk());
    EXPECT_EQ(*names, (QStringList{"", "Abba", "abba", "The Beatles", "Zappa", "Ümlaut"}));
}

TEST_F(DataModuleTest, MissingAlbumIndexRebuildsAlbumTrackAndPlaylistIndexes) {
    addAlbum(QStringLiteral("0a0b0c0d"), QStringLiteral("A"), QStringLiteral("B"));
    expectOk(dm->FlushCollection());
    dm->CloseAll();
    const auto stamp = [&](const char* f) { return QFileInfo(dir.file(QString::fromLatin1(f))).lastModified(); };
    QFile::remove(dir.file(QStringLiteral("ALBUMS.CDX")));
    const QDateTime artistsBefore = stamp("ARTISTS.CDX");
    QStringList statuses;
    expectOk(dm->EnsureCollectionFiles([&](const QString& s) { statuses << s; }));
    EXPECT_EQ(statuses.filter(QStringLiteral("Creating Index File for: ")),
              (QStringList{"Creating Index File for: ALBUMS", "Creating Index File for: TRACKS",
                           "Creating Index File for: PLAYLIST"}));
    EXPECT_EQ(stamp("ARTISTS.CDX"), artistsBefore);
    expectOk(dm->OpenCollectionTables());
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 1);
    EXPECT_TRUE(*dm->tblAlbums.findKey({QStringLiteral("A")}) == false);  // exact on the Artist order
    expectOk(dm->tblAlbums.setOrder(QStringLiteral("ID")));
    EXPECT_TRUE(*dm->tblAlbums.findKey({QStringLiteral("0a0b0c0d")}));
}

}  // namespace
