// The detail view's page and the track info page as composed from a collection folder, line by
// line with their colours, and the labeler playlist and web addresses made from them.
#include "TestAlbums.h"
#include "DetailPage.h"
#include "NotesTags.h"

#include <QDir>

using namespace albumora;
using albumora::test::AlbumRow;
using albumora::views::PageLine;
using Colour = albumora::views::PageLine::Colour;

namespace {

const AlbumRow kOwls{QStringLiteral("0a000001"), QStringLiteral("The Quiet Owls"), QStringLiteral("Night Songs"),
                     QStringLiteral("folk"), QString(), QStringLiteral("CR"), QString(), QStringLiteral("     3"), QString(),
                     {{QStringLiteral("Morning Rain"), 187}, {QStringLiteral("Low Tide"), 125}}, {}};
const AlbumRow kOther{QStringLiteral("0a000002"), QStringLiteral("Zed"), QStringLiteral("Other"), QStringLiteral("jazz"),
                      QStringLiteral("1999"), QString(), QString(), QString(), QString(),
                      {{QStringLiteral("Only"), 60}}, {}};

class DetailPageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_STORE_OK(test::openCollection(dm)); }
    void add(const AlbumRow& a) { ASSERT_STORE_OK(test::addAlbum(dm, a)); }
    views::DetailPage compose(const views::DetailOptions& o = {}) {
        auto page = views::ComposeDetailPage(dm, o);
        EXPECT_TRUE(page.isOk()) << page.status().text().toStdString();
        return page ? *page : views::DetailPage();
    }
    QStringList texts(const views::DetailPage& p) { return views::TextsOf(p.lines); }
    const PageLine* line(const views::DetailPage& p, const QString& text) {
        for (const PageLine& l : p.lines)
            if (l.text == text) return &l;
        return nullptr;
    }
    QStringList summary(qint64 albums, qint64 tracks) {
        return {QStringLiteral("Total number of albums in database: %1").arg(albums),
                QStringLiteral("Total number of tracks in database: %1").arg(tracks),
                QStringLiteral("Albumora - Version ") + kProductVersion};
    }

    test::TempFolder dir;
    store::TDM dm{dir.path()};
};

TEST_F(DetailPageTest, NormalAlbumHeaderTracksTotalsAndVersion) {
    add(kOther);
    add(kOwls);
    const views::DetailPage p = compose();
    const QStringList expected = QStringList{QStringLiteral("Album:     Night Songs"),
                                             QStringLiteral("Artist:    The Quiet Owls"),
                                             QStringLiteral("Genre:     folk"),
                                             QStringLiteral("Media:     CR"),
                                             QStringLiteral("Index:     3"),
                                             QStringLiteral("Disc ID:   0a000001"),
                                             QStringLiteral("TRACKS:"),
                                             QStringLiteral("01. ( 3:07) Morning Rain"),
                                             QStringLiteral("02. ( 2:05) Low Tide"),
                                             QStringLiteral("Total Playing Time:   5:16")} +
                                 summary(2, 3);
    EXPECT_EQ(texts(p), expected);
    EXPECT_EQ(p.lyricTracks, (QStringList{QStringLiteral("01. Morning Rain"), QStringLiteral("02. Low Tide")}));
    EXPECT_EQ(p.trackSeconds, 312);
    EXPECT_EQ(line(p, QStringLiteral("Total number of albums in database: 2"))->colour, Colour::Navy);
    EXPECT_EQ(line(p, QStringLiteral("01. ( 3:07) Morning Rain"))->colour, Colour::Black);
    EXPECT_EQ(views::DetailCaption(p.title), QStringLiteral("Albumora - Detail View [Night Songs]"));
    // The notes are read on the search cursor, left on the album in ID order.
    EXPECT_TRUE(dm.tblFilter.isOpen());
    EXPECT_EQ(dm.tblFilter.order().toUpper(), QStringLiteral("ID"));
    EXPECT_EQ(dm.tblFilter.text(QStringLiteral("ID")), QStringLiteral("0a000001"));

    // The other album: a year, no media, no index, one track.
    ASSERT_STORE_OK(test::goToAlbum(dm, QStringLiteral("0a000002")));
    EXPECT_EQ(texts(compose()).mid(0, 8),
              (QStringList{QStringLiteral("Album:     Other"), QStringLiteral("Artist:    Zed"), QStringLiteral("Genre:     jazz"),
                           QStringLiteral("Year:      1999"), QStringLiteral("Disc ID:   0a000002"), QStringLiteral("TRACKS:"),
                           QStringLiteral("01. ( 1:00) Only"), QStringLiteral("Total Playing Time:   1:02")}));
}

TEST_F(DetailPageTest, AlbumWithoutTracksNotesOrMarksHasNoSections) {
    AlbumRow bare = kOwls;
    bare.tracks.clear();
    bare.label = QStringLiteral("Shelf A");
    bare.index.clear();
    add(bare);
    views::DetailOptions o;
    o.listedByLabel = true;  // the only album on its medium: no medium time
    const views::DetailPage p = compose(o);
    EXPECT_EQ(texts(p), QStringList({QStringLiteral("Album:     Night Songs"), QStringLiteral("Artist:    The Quiet Owls"),
                                     QStringLiteral("Genre:     folk"), QStringLiteral("Media:     CR"),
                                     QStringLiteral("Label/Directory: Shelf A"), QStringLiteral("Disc ID:   0a000001")}) +
                            summary(1, 0));
    EXPECT_TRUE(p.lyricTracks.isEmpty());
}

TEST_F(DetailPageTest, NotesWithExtendedDataAndLyrics) {
    AlbumRow a = kOwls;
    a.notes = QStringLiteral(
        "Bought in Paris\r\nEXTD=\\nLive\\n\r\nEXTT1=Guest vocal\r\nEXTT1=Second text ignored\r\nEXTTx=not a track line\r\n"
        "\r\nCOST=12.50\r== begin lyric: LOW TIDE\r\nthe sea\r\n== end lyric: LOW TIDE");
    add(a);
    const views::DetailPage p = compose();
    const QStringList t = texts(p);
    const qsizetype notesAt = t.indexOf(QStringLiteral("NOTES:"));
    ASSERT_EQ(notesAt, 6);
    // A line beginning "EXTT" is never a note, even one whose index names no track.
    EXPECT_EQ(t.mid(notesAt, 12),
              (QStringList{QStringLiteral("NOTES:"), QStringLiteral("Bought in Paris"), QStringLiteral("Live"),
                           QStringLiteral("COST=12.50"),
                           QStringLiteral("== begin lyric: LOW TIDE"), QStringLiteral("the sea"),
                           QStringLiteral("== end lyric: LOW TIDE"), QStringLiteral("TRACKS:"),
                           QStringLiteral("01. ( 3:07) Morning Rain"), QStringLiteral("02. ( 2:05) Low Tide"),
                           QStringLiteral("    Guest vocal"), QStringLiteral("Total Playing Time:   5:16")}));
    EXPECT_EQ(line(p, QStringLiteral("Live"))->colour, Colour::Blue);
    EXPECT_EQ(line(p, QStringLiteral("    Guest vocal"))->colour, Colour::Blue);
    EXPECT_EQ(line(p, QStringLiteral("Bought in Paris"))->colour, Colour::Black);
}

TEST_F(DetailPageTest, PlaylistMarksWithAndWithoutIndexNumbering) {
    AlbumRow a = kOwls;
    a.index = QStringLiteral("    12");
    a.marked = {1, 2};
    add(a);
    QStringList t = texts(compose());
    qsizetype at = t.indexOf(QStringLiteral("PLAYLIST:"));
    ASSERT_GE(at, 0);
    EXPECT_EQ(t.mid(at, 4), (QStringList{QStringLiteral("PLAYLIST:"),
                                         QStringLiteral("01. Morning Rain") + QString(28, QLatin1Char(' ')) +
                                             QStringLiteral(" (Index: 12)"),
                                         QStringLiteral("02. Low Tide") + QString(32, QLatin1Char(' ')) +
                                             QStringLiteral(" (Index: 13)"),
                                         QStringLiteral("Total Playlist Time:   5:16")}));
    EXPECT_EQ(t.at(at + 4), QStringLiteral("Total number of albums in database: 1"));

    // A time on the medium is no index to number from; only the second track marked.
    AlbumRow b = kOther;
    b.index = QStringLiteral("  1.30");
    b.tracks = {{QStringLiteral("One"), 10}, {QStringLiteral("Two"), 0}};
    b.marked = {2};
    add(b);
    t = texts(compose());
    at = t.indexOf(QStringLiteral("PLAYLIST:"));
    ASSERT_GE(at, 0);
    // A marked track of unknown length gives no total.
    EXPECT_EQ(t.mid(at, 2), (QStringList{QStringLiteral("PLAYLIST:"), QStringLiteral("02. ( 0:00) Two")}));
    EXPECT_EQ(t.at(at + 2), QStringLiteral("Total number of albums in database: 2"));
}

TEST_F(DetailPageTest, FilteredAlbumsAreCountedBesideTheCollection) {
    add(kOther);
    add(kOwls);
    ASSERT_STORE_OK(dm.tblAlbums.setFilter(QStringLiteral("Genre=\"folk\"")));
    dm.tblAlbums.setFiltered(true);
    ASSERT_STORE_OK(test::goToAlbum(dm, QStringLiteral("0a000001")));
    views::DetailOptions o;
    o.albumsFiltered = true;
    o.filterExpression = dm.tblAlbums.filter();
    const views::DetailPage p = compose(o);
    const QStringList t = texts(p);
    EXPECT_EQ(t.mid(t.size() - 4), QStringList{QStringLiteral("Albums passing filter Genre=\"folk\": 1")} + summary(2, 3));
    EXPECT_EQ(line(p, QStringLiteral("Albums passing filter Genre=\"folk\": 1"))->colour, Colour::Navy);
    // The main window's filter is as it was.
    EXPECT_TRUE(dm.tblAlbums.filtered());
    EXPECT_EQ(dm.tblAlbums.recordCount().value(), 1);
}

TEST_F(DetailPageTest, TimeUsedOnTheMediumCountsTheAlbumsOfExactlyThatLabel) {
    AlbumRow a = kOwls;
    a.label = QStringLiteral("Box 1");
    a.tracks = {{QStringLiteral("Known"), 187}, {QStringLiteral("Unknown"), 0}};
    AlbumRow b = kOther;
    b.label = QStringLiteral("Box 1");
    b.tracks = {{QStringLiteral("A"), 100}, {QStringLiteral("B"), 200}, {QStringLiteral("C"), 300}};
    b.marked = {2};  // only the marked track of an album with marks counts
    AlbumRow c{QStringLiteral("0a000003"), QStringLiteral("Ann"), QStringLiteral("Longer label"), QStringLiteral("pop"),
               QString(), QString(), QStringLiteral("Box 10"), QString(), QString(), {{QStringLiteral("X"), 50}}, {}};
    AlbumRow d{QStringLiteral("0a000004"), QStringLiteral("Bob"), QStringLiteral("Other case"), QStringLiteral("pop"),
               QString(), QString(), QStringLiteral("box 1"), QString(), QString(), {{QStringLiteral("Y"), 70}}, {}};
    add(b);
    add(c);
    add(d);
    add(a);
    views::DetailOptions o;
    o.listedByLabel = true;
    const views::DetailPage p = compose(o);
    const QStringList t = texts(p);
    // 187 + 2, 182 for the unknown length, 200 + 2 for the marked one: 573 s.
    EXPECT_EQ(t.mid(t.size() - 4),
              (QStringList{QStringLiteral("Time used on Media Label/Directory \"Box 1\":   9:33 (3 tracks)"),
                           QStringLiteral("For complete Media List report with option to include tracks, invoke"),
                           QStringLiteral("the Report Writer and click on Help for Media List instruction"),
                           QStringLiteral("Albumora - Version ") + kProductVersion}));
    EXPECT_TRUE(line(p, QStringLiteral("the Report Writer and click on Help for Media List instruction"))->italic);
    EXPECT_FALSE(line(p, t.at(t.size() - 4))->italic);

    // Not listed by label: nothing about the medium.
    EXPECT_FALSE(texts(compose()).join(QLatin1Char('\n')).contains(QStringLiteral("Time used on Media")));
    // "Box 10" is the only album of its label.
    ASSERT_STORE_OK(test::goToAlbum(dm, QStringLiteral("0a000003")));
    EXPECT_FALSE(texts(compose(o)).join(QLatin1Char('\n')).contains(QStringLiteral("Time used on Media")));
}

TEST_F(DetailPageTest, UnreadableNotesAreSaidOnThePage) {
    AlbumRow a = kOwls;
    a.notes = QStringLiteral("Some notes long enough to need a memo block");
    add(a);
    dm.CloseAll();
    const QString fpt = QDir(dir.path()).filePath(QStringLiteral("ALBUMS.FPT"));
    ASSERT_TRUE(test::writeFileBytes(fpt, test::fileBytes(fpt).left(512)));
    ASSERT_STORE_OK(dm.OpenCollectionTables());
    const views::DetailPage p = compose();
    const QStringList t = texts(p);
    ASSERT_EQ(t.size(), 6 + 1 + 4 + 3);
    EXPECT_TRUE(t.at(6).startsWith(QStringLiteral("The notes of this album cannot be read: "))) << t.at(6).toStdString();
    EXPECT_EQ(p.lines.at(6).colour, Colour::Red);
    EXPECT_EQ(t.at(7), QStringLiteral("TRACKS:"));
}

TEST(LabelerPlaylist, OrdinaryAndMultiArtistAlbums) {
    views::DetailPage p;
    p.title = QStringLiteral("Night Songs");
    p.artist = QStringLiteral("The Quiet Owls");
    p.tracks = {{QStringLiteral("Morning Rain"), 187}, {QStringLiteral("Low Tide"), 125}};
    p.trackSeconds = 312;
    EXPECT_EQ(views::LabelerPlaylist(p),
              (QStringList{QStringLiteral("Surething Playlist:MVDAudioPlayList;MicroVision Development Inc."),
                           QStringLiteral("[Type]"), QStringLiteral("Audio CD"), QString(), QStringLiteral("[Title]"),
                           QStringLiteral("Night Songs"), QString(), QStringLiteral("[Artist]"),
                           QStringLiteral("The Quiet Owls"), QString(), QStringLiteral("[Tracks]"), QStringLiteral("2"),
                           QString(), QStringLiteral("[Playtime]"), QStringLiteral("5:14"), QString(),
                           QStringLiteral("[Track:Type,Artist,Title,Playtime]"),
                           QStringLiteral("\"Audio\",\"The Quiet Owls\",\"Morning Rain\",\"3:07\""),
                           QStringLiteral("\"Audio\",\"The Quiet Owls\",\"Low Tide\",\"2:05\"")}));

    views::DetailPage v;
    v.title = QStringLiteral("Hits");
    v.artist = QStringLiteral("Various Artists");
    v.tracks = {{QStringLiteral("Kestrel / Silver Fields"), 220}, {QStringLiteral("Data"), 0},
                {QStringLiteral(" / Nobody"), 5}};
    v.trackSeconds = 225;
    const QStringList lines = views::LabelerPlaylist(v);
    EXPECT_EQ(lines.at(14), QStringLiteral("3:49"));  // 2 × 3 + 225 − 2
    EXPECT_EQ(lines.mid(17), (QStringList{QStringLiteral("\"Audio\",\"Kestrel\",\"Silver Fields\",\"3:40\""),
                                          QStringLiteral("\"Data\",\"Various Artists\",\"Data\",\"0:00\""),
                                          QStringLiteral("\"Audio\",\"Various Artists\",\" / Nobody\",\"0:05\"")}));
    // No known length at all.
    v.trackSeconds = 0;
    v.tracks = {{QStringLiteral("Data"), 0}};
    EXPECT_EQ(views::LabelerPlaylist(v).at(14), QStringLiteral("0:00"));
}

TEST(ArtistSearches, StoreAndPosterAddresses) {
    EXPECT_EQ(views::ArtistCdsAddress(QStringLiteral(" Simon & Garfunkel ")),
              QStringLiteral("https://www.amazon.com/exec/obidos/external-search?keyword=Simon+Garfunkel&mode=music"));
    EXPECT_EQ(views::PosterSearchTerm(QStringLiteral("  Simon  &  Garfunkel's ")), QStringLiteral("Simon+Garfunkel's"));
    EXPECT_EQ(views::PosterSearchAddress(QStringLiteral("Björk")), views::kPosterSearchPage + QStringLiteral("?search=Björk"));
}

// The track info page over a row of a table with the tracks view's layout.
class TrackInfoTest : public DetailPageTest {
protected:
    void SetUp() override {
        DetailPageTest::SetUp();
        const QString path = QDir(dir.path()).filePath(QStringLiteral("TVIEWTEST.DBF"));
        auto fields = store::parseFieldList(store::TDM::kTViewFields);
        ASSERT_TRUE(fields.isOk());
        ASSERT_STORE_OK(store::Table::create(path, *fields));
        row.setTablePath(path);
        ASSERT_STORE_OK(row.open());
    }
    void addRow(const QString& track, const QString& artist, const QString& id, const QString& nr, bool marked,
                const QString& sec) {
        ASSERT_STORE_OK(row.append());
        ASSERT_STORE_OK(row.setText(QStringLiteral("Track"), track));
        ASSERT_STORE_OK(row.setText(QStringLiteral("Artist"), artist));
        ASSERT_STORE_OK(row.setText(QStringLiteral("Album"), QStringLiteral("Night Songs")));
        ASSERT_STORE_OK(row.setText(QStringLiteral("ID"), id));
        ASSERT_STORE_OK(row.setText(QStringLiteral("NR"), nr));
        ASSERT_STORE_OK(row.setBoolean(QStringLiteral("marked"), marked));
        ASSERT_STORE_OK(row.setText(QStringLiteral("sec"), sec));
        ASSERT_STORE_OK(row.post());
    }
    QStringList info() {
        auto page = views::ComposeTrackInfo(dm, row);
        EXPECT_TRUE(page.isOk()) << page.status().text().toStdString();
        lastPage = page ? *page : std::vector<PageLine>();
        return views::TextsOf(lastPage);
    }
    store::Cursor row;
    std::vector<PageLine> lastPage;
};

TEST_F(TrackInfoTest, LyricsFoundAndNotFound) {
    AlbumRow a = kOwls;
    a.notes = QStringLiteral(
        "Bought in Paris\r== begin lyric: MORNING RAIN\r\nrain on the roof\r\nall day long\r\n== end lyric: MORNING RAIN"
        "\r== begin lyric: MORNING RAIN\r\nsecond take\r\n== end lyric: MORNING RAIN"
        "\r== begin lyric: THE QUIET OWLS+LOW TIDE\r\nthe sea\r\n== end lyric: THE QUIET OWLS+LOW TIDE");
    add(a);
    add(kOther);
    addRow(QStringLiteral("Morning Rain"), QStringLiteral("The Quiet Owls"), QStringLiteral("0a000001"), QStringLiteral("  5"),
           true, QStringLiteral("125"));
    EXPECT_EQ(info(), (QStringList{QStringLiteral("Song:   5. Morning Rain (2:05)"), QStringLiteral("Artist: The Quiet Owls"),
                                   QStringLiteral("Album: Night Songs"), QStringLiteral("Marked for playlist: True"),
                                   QStringLiteral("Lyrics:"), QStringLiteral("rain on the roof"), QStringLiteral("all day long"),
                                   QStringLiteral("second take")}));
    EXPECT_EQ(lastPage.at(5).colour, Colour::Purple);
    EXPECT_TRUE(lastPage.at(5).bold);
    EXPECT_FALSE(lastPage.at(4).bold);

    // A block keyed by artist and title, as the first lyrics site keys them.
    addRow(QStringLiteral("Low Tide"), QStringLiteral("The Quiet Owls"), QStringLiteral("0a000001"), QStringLiteral("  2"),
           false, QStringLiteral("0"));
    EXPECT_EQ(info(), (QStringList{QStringLiteral("Song:   2. Low Tide"), QStringLiteral("Artist: The Quiet Owls"),
                                   QStringLiteral("Album: Night Songs"), QStringLiteral("Marked for playlist: False"),
                                   QStringLiteral("Lyrics:"), QStringLiteral("the sea")}));

    // No block for the song; another album's notes are not read.
    addRow(QStringLiteral("Only"), QStringLiteral("Zed"), QStringLiteral("0a000002"), QStringLiteral("  1"), false,
           QStringLiteral("60"));
    EXPECT_EQ(info(), (QStringList{QStringLiteral("Song:   1. Only (1:00)"), QStringLiteral("Artist: Zed"),
                                   QStringLiteral("Album: Night Songs"), QStringLiteral("Marked for playlist: False")}));
    EXPECT_EQ(dm.tblFilter.text(QStringLiteral("ID")), QStringLiteral("0a000002"));
}

TEST_F(TrackInfoTest, SearchCursorIsRestored) {
    add(kOwls);
    addRow(QStringLiteral("Morning Rain"), QStringLiteral("The Quiet Owls"), QStringLiteral("0a000001"), QStringLiteral("  1"),
           false, QStringLiteral("187"));
    // Closed before: closed after.
    {
        views::CursorState state(dm.tblFilter);
        (void)info();
        EXPECT_TRUE(dm.tblFilter.isOpen());
        state.restore();
    }
    EXPECT_FALSE(dm.tblFilter.isOpen());
    // Open in another order: the order comes back.
    ASSERT_STORE_OK(dm.tblFilter.setOrder(QStringLiteral("Album")));
    ASSERT_STORE_OK(dm.tblFilter.open());
    {
        views::CursorState state(dm.tblFilter);
        (void)info();
        EXPECT_EQ(dm.tblFilter.order().toUpper(), QStringLiteral("ID"));
        state.restore();
    }
    EXPECT_TRUE(dm.tblFilter.isOpen());
    EXPECT_EQ(dm.tblFilter.order(), QStringLiteral("Album"));
}

}  // namespace
