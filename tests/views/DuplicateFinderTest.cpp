// The duplicate-track finder over a tracks-view table of the test's own: what each title finds,
// the album's own rows left out only when it is being modified, the song part of multi-artist
// titles, the page on the clipboard only when something matched, and the cursor's filter off.
#include "DuplicateFinder.h"
#include "FakeDesktop.h"
#include "TViewFixture.h"

using namespace albumora;
using namespace albumora::views;
using albumora::test::TViewRow;

namespace {

QString S(const char* s) { return QString::fromUtf8(s); }

class DuplicateFinderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::makeTView(dir.path(), {
                                        {S("Morning Rain"), S("The Quiet Owls"), S("Rain Songs"), S("z0000042"), S("  1")},
                                        {S("MORNING RAIN"), S("Kestrel"), S("Fields"), S("z0000007"), S("  4")},
                                        {S("Harbour Lights"), S("Kestrel"), S("Fields"), S("z0000007"), S("  5")},
                                        {S("morning rain"), S("Various"), S("Owl Sampler"), S("0a1b2c3d"), S(" 12")},
                                        {S("Morning Rainbow"), S("Kestrel"), S("Fields"), S("z0000007"), S("  6")},
                                    });
        ASSERT_TRUE(QFile::exists(dir.file(S("TVIEW.CDX"))));
        tview.setTablePath(dir.file(S("TVIEW.DBF")));
        desk.clipboard.content = S("kept");
    }
    DuplicateQuery album(const QString& artist, bool modifying, std::vector<DuplicateQuery::Track> tracks) {
        DuplicateQuery q;
        q.artist = artist;
        q.album = S("Rain Songs");
        q.modifying = modifying;
        q.albumId = S("z0000042");
        q.tracks = std::move(tracks);
        return q;
    }
    QStringList lines(const DuplicatePage& page) {
        QStringList out;
        for (const auto& l : page.lines) out << l.text;
        return out;
    }
    test::TempFolder dir;
    test::FakeDesktop desk;
    store::Cursor tview;
};

TEST_F(DuplicateFinderTest, AModifiedAlbumFindsItsTitleOnTheOtherAlbumsOnly) {
    auto page = FindDuplicates(tview, album(S("The Quiet Owls"), true, {{S("  1"), S("Morning Rain")}, {S("  2"), S("Nowhere Else")}}));
    ASSERT_TRUE(page.isOk()) << page.error().text().toStdString();
    EXPECT_TRUE(page->found);
    EXPECT_EQ(lines(*page), (QStringList{S("The Quiet Owls : Rain Songs"), S(" "), S("  1.  Morning Rain"), S(">    4.  Kestrel : Fields"),
                                         S(">   12.  Various : Owl Sampler"), S(" "), kDuplicatesCopied}));
    EXPECT_EQ(page->lines[0].kind, DuplicatePage::Kind::Heading);
    EXPECT_EQ(page->lines[2].kind, DuplicatePage::Kind::Track);
    EXPECT_EQ(page->lines[3].kind, DuplicatePage::Kind::Match);
    EXPECT_EQ(page->lines.back().kind, DuplicatePage::Kind::Note);
    // The clipboard holds the page up to the note about it.
    EXPECT_EQ(desk.clipboard.content, (QStringList{S("The Quiet Owls : Rain Songs"), S(" "), S("  1.  Morning Rain"), S(">    4.  Kestrel : Fields"),
                                                   S(">   12.  Various : Owl Sampler"), S(" ")})
                                          .join(S("\r\n")));
    // The finder's filter is gone; the order stays on Track.
    EXPECT_FALSE(tview.filtered());
    EXPECT_TRUE(tview.filter().isEmpty());
    auto count = tview.recordCount();
    ASSERT_TRUE(count.isOk());
    EXPECT_EQ(*count, 5);
}

// A new album is not in the tracks view yet: every row of it counts, its ID whatever it is.
TEST_F(DuplicateFinderTest, ANewAlbumIsComparedWithEveryAlbum) {
    auto page = FindDuplicates(tview, album(S("The Quiet Owls"), false, {{S("  3"), S("Morning Rain")}}));
    ASSERT_TRUE(page.isOk());
    const QStringList l = lines(*page);
    EXPECT_EQ(l.filter(S(">  ")).size(), 3);
    EXPECT_TRUE(l.contains(S(">    1.  The Quiet Owls : Rain Songs")));
}

TEST_F(DuplicateFinderTest, NothingFoundLeavesTheClipboardAlone) {
    auto page = FindDuplicates(tview, album(S("Kestrel"), true, {{S("  1"), S("Harbour")}, {S("  2"), S("Morning Rai")}, {S("  3"), QString()}}));
    ASSERT_TRUE(page.isOk());
    EXPECT_FALSE(page->found);
    EXPECT_EQ(lines(*page), (QStringList{S("Kestrel : Rain Songs"), S(" "), kNoDuplicates}));
    EXPECT_EQ(desk.clipboard.content, S("kept"));
    EXPECT_FALSE(tview.filtered());
}

// On a multi-artist album the song part is looked up; elsewhere the whole title.
TEST_F(DuplicateFinderTest, MultiArtistTitlesAreLookedUpByTheirSongPart) {
    for (const char* title : {"The Quiet Owls / Morning Rain", "Quiet Owls - Morning Rain", "Owls /   Morning Rain  "}) {
        SCOPED_TRACE(title);
        auto page = FindDuplicates(tview, album(S("Various Artists"), false, {{S("  1"), S(title)}}));
        ASSERT_TRUE(page.isOk());
        EXPECT_TRUE(page->found);
        EXPECT_EQ(lines(*page).filter(S(">  ")).size(), 3);
        EXPECT_EQ(page->lines[2].text, S("  1.  ") + S(title));  // the grid's title as it is
    }
    auto single = FindDuplicates(tview, album(S("Kestrel"), false, {{S("  1"), S("The Quiet Owls / Morning Rain")}}));
    ASSERT_TRUE(single.isOk());
    EXPECT_FALSE(single->found);
}

TEST(DuplicateKey, UpperCasedAndCutToTheSongOnMultiArtistAlbums) {
    struct Case {
        const char* title;
        bool multi;
        const char* key;
    };
    const Case cases[] = {
        {"Morning Rain", false, "MORNING RAIN"},
        {"The Quiet Owls / Morning Rain", false, "THE QUIET OWLS / MORNING RAIN"},
        {"The Quiet Owls / Morning Rain", true, "MORNING RAIN"},
        {"Quiet Owls - Morning Rain", true, "MORNING RAIN"},
        {"A - B / Song", true, "SONG"},           // " / " before " - "
        {" / Song", true, " / SONG"},             // nothing before the separator
        {"X / ", true, ""},
        {"Caf\xc3\xa9 / cr\xc3\xa8me", true, "CR\xc3\xa8ME"},  // only ASCII letters change
    };
    for (const Case& c : cases) EXPECT_EQ(DuplicateKey(S(c.title), c.multi), S(c.key)) << c.title;
}

}  // namespace

namespace {

// The view holds titles cut to 38 characters: a longer title finds the rows of its cut form.
TEST(DuplicateFinderLongTitles, ATitleLongerThanTheViewsFieldFindsItsRows) {
    test::TempFolder dir;
    test::FakeDesktop desk;
    const QString longTitle = QStringLiteral("The Very Long Title Of A Song That Goes On And On");
    test::makeTView(dir.path(), {{longTitle.left(38), QStringLiteral("Kestrel"), QStringLiteral("Fields"), QStringLiteral("z0000007"),
                                  QStringLiteral("  4")}});
    store::Cursor tview;
    tview.setTablePath(dir.file(QStringLiteral("TVIEW.DBF")));
    DuplicateQuery q;
    q.artist = QStringLiteral("Owls");
    q.album = QStringLiteral("Songs");
    q.tracks = {{QStringLiteral("  1"), longTitle}};
    auto page = FindDuplicates(tview, q);
    ASSERT_TRUE(page.isOk());
    EXPECT_TRUE(page->found);
    QStringList matches;
    for (const auto& l : page->lines)
        if (l.kind == DuplicatePage::Kind::Match) matches << l.text;
    EXPECT_EQ(matches, QStringList{QStringLiteral(">    4.  Kestrel : Fields")});
}

}  // namespace
