// The playlist builder without its window: entry texts, the running time, moves and the confirm
// over a real collection folder.
#include "File.h"
#include "Journal.h"
#include "PlaylistBuilder.h"
#include "PlaylistFixture.h"
#include "Table.h"

#include <QDir>
#include <QProcess>
#include <QThread>

using namespace albumora;
using albumora::playlist::PlaylistBuilder;
using albumora::test::AlbumSpec;

namespace {

TEST(PlaylistEntries, TextAndTrackNumber) {
    struct Case {
        const char* nr;
        const char* title;
        qint64 secs;
        bool padded;
        const char* text;
    };
    const Case cases[] = {
        {"  1", "Intro", 225, false, "  1-Intro (3:45)"},
        {"  1", "Intro", 225, true, "  1-Intro ( 3:45)"},
        {" 12", "Long - live", 754, true, " 12-Long - live (12:34)"},
        {"  3", "No time", 0, false, "  3-No time"},
        {"  4", "Blank time", 0, true, "  4-Blank time"},
    };
    for (const Case& c : cases) {
        const QString text = PlaylistBuilder::EntryText(QString::fromLatin1(c.nr), QString::fromLatin1(c.title), c.secs, c.padded);
        EXPECT_EQ(text, QString::fromLatin1(c.text));
        // The number is the text before the first "-", as stored: a title's own dash is no part of it.
        EXPECT_EQ(PlaylistBuilder::EntryNr(text), QString::fromLatin1(c.nr));
    }
}

class Builder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::openCollection(dm));
        ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, timed));
        ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, other));
    }
    test::TempFolder dir;
    store::TDM dm{dir.path()};
    // Three marked tracks of 200, 100 and 60 seconds, one unmarked track without a time.
    AlbumSpec timed{QStringLiteral("0a000001"), QStringLiteral("Artist"), QStringLiteral("Timed"), {}, {}, {},
                    {{QStringLiteral("One"), QStringLiteral("200")},
                     {QStringLiteral("Two"), QStringLiteral("100")},
                     {QStringLiteral("Three"), QStringLiteral("60")},
                     {QStringLiteral("Four"), QStringLiteral("0")}},
                    {QStringLiteral("  1"), QStringLiteral("  2"), QStringLiteral("  3")}};
    // The same track numbers marked under another album count for that album only.
    AlbumSpec other{QStringLiteral("0a000002"), QStringLiteral("Other"), QStringLiteral("Other"), {}, {}, {},
                    {{QStringLiteral("A"), QStringLiteral("30")}, {QStringLiteral("B"), QStringLiteral("40")},
                     {QStringLiteral("C"), QStringLiteral("50")}, {QStringLiteral("D"), QStringLiteral("60")}},
                    {QStringLiteral("  4")}};
};

TEST_F(Builder, LoadsListsAndRunningTimeFromTheStoredMarks) {
    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, timed.id));
    EXPECT_EQ(b.albumTitle(), QStringLiteral("Timed"));
    EXPECT_EQ(b.marked(), (QStringList{"  1-One ( 3:20)", "  2-Two ( 1:40)", "  3-Three ( 1:00)"}));
    EXPECT_EQ(b.available(), QStringList{"  4-Four"});
    EXPECT_EQ(b.runningText(), QStringLiteral("  6:04"));
    EXPECT_EQ(b.trackCount(), 3);
    // The last track has no time: the running time is not worth showing.
    EXPECT_FALSE(b.showRunningTime());

    ASSERT_STORE_OK(b.Load(dm, other.id));
    EXPECT_EQ(b.marked(), QStringList{"  4-D ( 1:00)"});
    EXPECT_EQ(b.available(), (QStringList{"  1-A (0:30)", "  2-B (0:40)", "  3-C (0:50)"}));
    EXPECT_EQ(b.runningSeconds(), 60);
    EXPECT_TRUE(b.showRunningTime());

    EXPECT_FALSE(b.Load(dm, QStringLiteral("0a0000ff")).isOk());
}

TEST_F(Builder, MovesKeepTheListsSortedAndRecountTheRunningTime) {
    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, timed.id));
    // Moving a marked track out and back gives the same 6:04.
    EXPECT_EQ(b.exclude({1}), 1);
    // An entry moves as it is: one from the stored marks keeps its padded time.
    EXPECT_EQ(b.available(), (QStringList{"  2-Two ( 1:40)", "  4-Four"}));
    EXPECT_EQ(b.runningSeconds(), 200 + 2 + 60);
    EXPECT_EQ(b.include({0}), 0);
    EXPECT_EQ(b.runningText(), QStringLiteral("  6:04"));
    // Once the track without a time is marked the total cannot be told.
    EXPECT_EQ(b.include({0}), -1);  // the left list is empty now
    EXPECT_EQ(b.runningText(), QStringLiteral("  0:00"));
    EXPECT_EQ(b.trackCount(), 4);
    EXPECT_EQ(b.excludeAll(), -1);
    EXPECT_EQ(b.runningText(), QStringLiteral("  0:00"));
    EXPECT_EQ(b.trackCount(), 0);
    EXPECT_EQ(b.available().size(), 4);
}

TEST_F(Builder, SelectionAfterAMove) {
    AlbumSpec many{QStringLiteral("0a000003"), QStringLiteral("M"), QStringLiteral("Many"), {}, {}, {}, {}, {}};
    for (int i = 1; i <= 11; ++i) many.tracks.push_back({QStringLiteral("T%1").arg(i), QStringLiteral("10")});
    ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, many));
    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, many.id));
    // Track 9 sorts before track 10: the numbers are right-aligned.
    EXPECT_EQ(b.available().at(8), QStringLiteral("  9-T9 (0:10)"));
    EXPECT_EQ(b.available().at(9), QStringLiteral(" 10-T10 (0:10)"));
    // The entry at the first selected row's position is selected next, in any selection order.
    EXPECT_EQ(b.include({5, 2}), 2);
    EXPECT_EQ(b.marked(), (QStringList{"  3-T3 (0:10)", "  6-T6 (0:10)"}));
    // The last row moved: the list became shorter, its new last entry is selected.
    EXPECT_EQ(b.include({8}), 7);
    // Nothing selected moves nothing and selects the first entry.
    EXPECT_EQ(b.include({}), 0);
    EXPECT_EQ(b.trackCount(), 3);
    EXPECT_EQ(b.runningSeconds(), 3 * 12 - 2);
}

TEST_F(Builder, ConfirmingAllTracksStoresEveryNumberAsStoredAndDropsTheTracksView) {
    AlbumSpec many{QStringLiteral("0a000003"), QStringLiteral("M"), QStringLiteral("Many"), {}, {}, {}, {}, {QStringLiteral("  2")}};
    for (int i = 1; i <= 12; ++i) many.tracks.push_back({QStringLiteral("T-%1").arg(i), QString::number(100 + i)});
    ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, many));
    // A tracks view built earlier, with its index file.
    const QString tview = dm.tablePath(QStringLiteral("TVIEW.DBF"));
    ASSERT_STORE_OK(store::Table::create(tview, *store::parseFieldList(store::TDM::kTViewFields)));
    ASSERT_TRUE(test::writeFileBytes(store::indexPathFor(tview), QByteArray("stale")));

    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, many.id));
    b.includeAll();
    ASSERT_STORE_OK(b.Confirm(dm));
    EXPECT_TRUE(b.housekeeping().isOk()) << b.housekeeping().text().toStdString();
    QStringList want;
    for (int i = 1; i <= 12; ++i) want << store::TDM::PadNumber(i, 3);
    EXPECT_EQ(test::storedMarks(dir.path(), many.id), want);
    // The other albums' marks stay.
    EXPECT_EQ(test::storedMarks(dir.path(), timed.id), timed.marks);
    EXPECT_EQ(test::storedMarks(dir.path(), other.id), other.marks);
    EXPECT_FALSE(store::fileExists(tview));
    EXPECT_FALSE(store::fileExists(store::indexPathFor(tview)));
    // The replaced row was packed away, and the main window's cursor sees the new marks.
    {
        auto t = store::Table::open(dm.tablePath(QStringLiteral("PLAYLIST.DBF")), store::OpenMode::Shared);
        ASSERT_TRUE(t.isOk());
        EXPECT_EQ((*t)->recordCount(), 12u + 3u + 1u);
    }
    auto marked = dm.IsTrackMarked(many.id, QStringLiteral(" 12"));
    ASSERT_TRUE(marked.isOk());
    EXPECT_TRUE(*marked);

    // Confirming an empty right list clears the album's marks only.
    b.excludeAll();
    ASSERT_STORE_OK(b.Confirm(dm));
    EXPECT_TRUE(test::storedMarks(dir.path(), many.id).isEmpty());
    EXPECT_EQ(test::storedMarks(dir.path(), timed.id), timed.marks);
}

TEST_F(Builder, SetMarksByNumberRefusesAnUnknownTrack) {
    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, timed.id));
    const store::Status refused = b.setMarks({QStringLiteral("2"), QStringLiteral("7")});
    EXPECT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.text().contains(QStringLiteral("\"7\""))) << refused.text().toStdString();
    EXPECT_EQ(b.trackCount(), 3);  // unchanged
    ASSERT_STORE_OK(b.setMarks({QStringLiteral("004"), QStringLiteral(" 2")}));
    EXPECT_EQ(b.marked(), (QStringList{"  2-Two ( 1:40)", "  4-Four"}));
}

TEST_F(Builder, AConfirmThatCannotGetTheWritersLockKeepsTheStoredMarks) {
    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, timed.id));
    b.excludeAll();
    // Another program holds the writers' lock for longer than a writer waits.
    store::Folder::setWaitMs(200);
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("-x"), store::Folder::lockPath(dir.path()), QStringLiteral("sleep"), QStringLiteral("10")});
    ASSERT_TRUE(holder.waitForStarted());
    for (int i = 0; i < 200; ++i) {
        auto t = store::Transaction::begin(dir.path(), 0);
        if (!t) break;
        t->abort();
        QThread::msleep(10);
    }
    const store::Status st = b.Confirm(dm);
    holder.kill();
    holder.waitForFinished();
    store::Folder::setWaitMs(store::Folder::kDefaultWaitMs);
    ASSERT_FALSE(st.isOk());
    EXPECT_EQ(st.kind(), store::ErrorKind::Locked) << st.text().toStdString();
    EXPECT_EQ(test::storedMarks(dir.path(), timed.id), timed.marks);
    // The same builder confirms once the lock is free.
    ASSERT_STORE_OK(b.Confirm(dm));
    EXPECT_TRUE(test::storedMarks(dir.path(), timed.id).isEmpty());
}

}  // namespace
