// The lyrics window's logic without widgets: song keys for both sites, the query addresses, the
// editor's starting text, and the block stored in the album's notes.
#include "TestAlbums.h"
#include "Lyrics.h"
#include "NotesTags.h"

using namespace albumora;
using albumora::editing::LyricsSite;

namespace {

TEST(SongKey, PerSiteForOrdinaryAndMultiArtistAlbums) {
    const struct {
        const char* entry;
        const char* artist;
        LyricsSite site;
        const char* key;
    } cases[] = {
        {"05. Morning Rain", "The Quiet Owls", LyricsSite::LeosLyrics, "The Quiet Owls+Morning Rain"},
        {"05. Morning Rain", "The Quiet Owls", LyricsSite::Mldb, "Morning Rain"},
        {"03. The Quiet Owls / Morning Rain", "Various", LyricsSite::LeosLyrics, "The Quiet Owls+Morning Rain"},
        {"03. The Quiet Owls / Morning Rain", "Various", LyricsSite::Mldb, "Morning Rain"},
        {"03. The Quiet Owls / Morning Rain", "various artists", LyricsSite::Mldb, "Morning Rain"},
        // Not a multi-artist album: the title stays whole.
        {"03. The Quiet Owls / Morning Rain", "Kestrel", LyricsSite::Mldb, "The Quiet Owls / Morning Rain"},
        // A separator at the very start is no artist part.
        {"01.  / Intro", "Various", LyricsSite::Mldb, "/ Intro"},
        // Only the first ". " ends the number.
        {"12. Mr. Blue Sky ", "ELO", LyricsSite::Mldb, "Mr. Blue Sky"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(editing::SongKey(QString::fromUtf8(c.entry), QString::fromUtf8(c.artist), c.site), QString::fromUtf8(c.key))
            << c.entry << " / " << c.artist;
}

TEST(LyricsQueryAddress, PathsAndEncodedKeys) {
    EXPECT_EQ(editing::LyricsQueryAddress(QStringLiteral("The Quiet Owls+Morning Rain"), LyricsSite::LeosLyrics),
              editing::kLeosLyricsSite + QStringLiteral("/search.php?search=The+Quiet+Owls+Morning+Rain&sartist=1&ssongtitle=1"));
    EXPECT_EQ(editing::LyricsQueryAddress(QStringLiteral("Don't Stop & Go"), LyricsSite::Mldb),
              editing::kMldbSite + QStringLiteral("/search-bf?mqt=Don%27t+Stop+Go&ob=1"));
}

TEST(LyricEditorLines, MarkersAroundTheClipboardText) {
    EXPECT_EQ(editing::LyricEditorLines(QStringLiteral("line one\r\nline two\r\n"), QStringLiteral("The Quiet Owls+Morning Rain")),
              (QStringList{QStringLiteral("== begin lyric: THE QUIET OWLS+MORNING RAIN"), QStringLiteral("line one"),
                           QStringLiteral("line two"), QStringLiteral("== end lyric: THE QUIET OWLS+MORNING RAIN")}));
    EXPECT_FALSE(editing::LyricEditorLines(QString(), QStringLiteral("Morning Rain")));
    EXPECT_FALSE(editing::LyricEditorLines(QStringLiteral(" \n\t"), QStringLiteral("Morning Rain")));
}

class StoreLyricBlockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_STORE_OK(test::openCollection(dm)); }
    QString notesOf(const QString& id) {
        EXPECT_TRUE(test::goToAlbum(dm, id).isOk());
        return dm.tblAlbums.readText(QStringLiteral("Notes")).value();
    }
    test::AlbumRow album(const QString& id, const QString& notes) {
        return {id, QStringLiteral("The Quiet Owls"), QStringLiteral("Night Songs"), QStringLiteral("folk"), QString(),
                QString(), QString(), QString(), notes, {{QStringLiteral("Morning Rain"), 187}}, {}};
    }
    const QStringList block{QStringLiteral("== begin lyric: MORNING RAIN"), QStringLiteral("rain"),
                            QStringLiteral("== end lyric: MORNING RAIN")};
    test::TempFolder dir;
    store::TDM dm{dir.path()};
};

TEST_F(StoreLyricBlockTest, AppendedWithOneCarriageReturnAndFoundAgain) {
    ASSERT_STORE_OK(test::addAlbum(dm, album(QStringLiteral("0a000001"), QStringLiteral("Bought in Paris"))));
    ASSERT_STORE_OK(test::addAlbum(dm, album(QStringLiteral("0a000002"), QString())));
    ASSERT_STORE_OK(editing::StoreLyricBlock(dm, QStringLiteral("0a000001"), block));
    const QString once = notesOf(QStringLiteral("0a000001"));
    EXPECT_EQ(once, QStringLiteral("Bought in Paris\r== begin lyric: MORNING RAIN\r\nrain\r\n== end lyric: MORNING RAIN"));
    // Twice for the same song: two blocks, both found.
    ASSERT_STORE_OK(editing::StoreLyricBlock(dm, QStringLiteral("0a000001"), block));
    EXPECT_EQ(notes::FindLyricBlock(notes::SplitLines(notesOf(QStringLiteral("0a000001"))), QStringLiteral("Morning Rain")),
              (QStringList{QStringLiteral("rain"), QStringLiteral("rain")}));
    // Empty notes: the block begins on the second line; the other album was untouched so far.
    EXPECT_EQ(notesOf(QStringLiteral("0a000002")), QString());
    ASSERT_STORE_OK(editing::StoreLyricBlock(dm, QStringLiteral("0a000002"), block));
    EXPECT_EQ(notes::SplitLines(notesOf(QStringLiteral("0a000002"))).at(1), block.at(0));

    // Read back by another program's engine: the write is on disk.
    store::Cursor other;
    other.setTablePath(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
    ASSERT_STORE_OK(other.setOrder(QStringLiteral("ID")));
    ASSERT_STORE_OK(other.open());
    ASSERT_TRUE(other.findKey({QStringLiteral("0a000002")}).value());
    EXPECT_EQ(other.readText(QStringLiteral("Notes")).value(), QStringLiteral("\r") + notes::JoinLines(block));
}

TEST_F(StoreLyricBlockTest, AMissingAlbumIsRefused) {
    ASSERT_STORE_OK(test::addAlbum(dm, album(QStringLiteral("0a000001"), QStringLiteral("kept"))));
    const store::Status st = editing::StoreLyricBlock(dm, QStringLiteral("0a0000ff"), block);
    EXPECT_FALSE(st.isOk());
    EXPECT_TRUE(st.message().contains(QStringLiteral("no longer in the collection"))) << st.text().toStdString();
    EXPECT_EQ(notesOf(QStringLiteral("0a000001")), QStringLiteral("kept"));
}

}  // namespace
