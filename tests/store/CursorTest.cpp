// Cursors over real tables: movement and its end markers, filters, scopes and master-detail,
// seeks, edits that move rows within an order, deletes, packs, locks and index files.
#include "Check.h"
#include "Cursor.h"
#include "DMcd.h"
#include "File.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <random>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

#define OK(expr)                                                              \
    do {                                                                      \
        const Status st_ = (expr);                                            \
        ASSERT_TRUE(st_.isOk()) << #expr << ": " << st_.text().toStdString(); \
    } while (0)

class CursorTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file(QStringLiteral("SONGS.DBF"));
        OK(Table::create(path, *parseFieldList(QStringLiteral("Title,Char,20;Nr,Char,3;Notes,Memo;Hit,logical,1;"))));
        auto t = Table::open(path, OpenMode::Exclusive);
        OK(t.status());
        OK((*t)->createTags({{QStringLiteral("Title"), QStringLiteral("upper(Title)")},
                             {QStringLiteral("Nr"), QStringLiteral("Nr")}}));
    }
    void add(Cursor& c, const QString& title, int nr, const QString& notes = {}, bool hit = false) {
        OK(c.append());
        OK(c.setText(QStringLiteral("Title"), title));
        OK(c.setText(QStringLiteral("Nr"), TDM::PadNumber(nr, 3)));
        if (!notes.isEmpty()) OK(c.setText(QStringLiteral("Notes"), notes));
        OK(c.setBoolean(QStringLiteral("Hit"), hit));
        OK(c.post());
    }
    // Titles from the current row to the end.
    QStringList walk(Cursor& c) {
        QStringList out;
        while (!c.eof()) {
            out << c.text(QStringLiteral("Title"));
            if (!c.next().isOk()) break;
        }
        return out;
    }
    QStringList all(Cursor& c) {
        EXPECT_TRUE(c.first().isOk());
        return walk(c);
    }
    void fill(Cursor& c) {
        const char* titles[] = {"delta", "Alpha", "charlie", "Bravo", "echo", "alpha"};
        int nr = 0;
        for (const char* t : titles) {
            ++nr;
            add(c, QString::fromLatin1(t), nr, QStringLiteral("note %1").arg(nr + 1), nr % 2 == 1);
        }
    }
    TempFolder dir;
    QString path;
};

TEST_F(CursorTest, MovesInNaturalAndTagOrderWithDesktopEndMarkers) {
    Cursor c(QStringLiteral("c"));
    c.setTablePath(path);
    OK(c.open());
    EXPECT_TRUE(c.isEmpty());
    EXPECT_TRUE(c.bof() && c.eof());
    fill(c);
    EXPECT_EQ(all(c), (QStringList{"delta", "Alpha", "charlie", "Bravo", "echo", "alpha"}));
    OK(c.setOrder(QStringLiteral("TITLE")));
    EXPECT_EQ(all(c), (QStringList{"Alpha", "alpha", "Bravo", "charlie", "delta", "echo"}));

    OK(c.first());
    EXPECT_TRUE(c.bof());
    EXPECT_FALSE(c.eof());
    OK(c.prior());
    EXPECT_TRUE(c.bof());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("Alpha"));
    OK(c.last());
    EXPECT_TRUE(c.eof());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("echo"));
    OK(c.next());  // stays on the last row
    EXPECT_TRUE(c.eof());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("echo"));
    OK(c.prior());
    EXPECT_FALSE(c.eof() || c.bof());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("delta"));
    EXPECT_EQ(*c.recordCount(), 6);

    // Bookmarks survive a change of order.
    const auto mark = c.bookmark();
    OK(c.setOrder(QString()));
    OK(c.first());
    OK(c.gotoBookmark(mark));
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("delta"));
    OK(c.next());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("Alpha"));  // natural order continues
}

TEST_F(CursorTest, FiltersHideRowsAndCountsFollowThem) {
    Cursor c;
    c.setTablePath(path);
    OK(c.setOrder(QStringLiteral("Title")));
    OK(c.open());
    fill(c);
    c.setFiltered(true);
    OK(c.setFilter(QStringLiteral("contains(title,\"a\") and not contains(title, \"h\")")));
    EXPECT_EQ(all(c), (QStringList{"Bravo", "delta"}));
    EXPECT_EQ(*c.recordCount(), 2);
    OK(c.setFilter(QStringLiteral("Hit")));
    EXPECT_EQ(*c.recordCount(), 3);
    OK(c.setFilter(QStringLiteral("contains(notes,\"*note 4*\")")));
    EXPECT_EQ(all(c), (QStringList{"charlie"}));

    // A bad filter is refused and the old one stays.
    Status bad = c.setFilter(QStringLiteral("contains(title,\"x\""));
    EXPECT_EQ(bad.kind(), ErrorKind::Expression);
    EXPECT_EQ(c.filter(), QStringLiteral("contains(notes,\"*note 4*\")"));
    EXPECT_EQ(c.validate(QStringLiteral("title")).kind(), ErrorKind::Expression);  // not a condition

    c.setFiltered(false);
    EXPECT_EQ(*c.recordCount(), 6);
    // Deleted rows never count.
    OK(c.first());
    OK(c.deleteRecord());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("alpha"));
    EXPECT_EQ(*c.recordCount(), 5);
    EXPECT_EQ(all(c).size(), 5);
}

TEST_F(CursorTest, SeeksExactPartialAndNearest) {
    Cursor c;
    c.setTablePath(path);
    OK(c.setOrder(QStringLiteral("Title")));
    OK(c.open());
    fill(c);
    EXPECT_TRUE(*c.findKey({QStringLiteral("CHARLIE")}));
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("charlie"));
    EXPECT_FALSE(*c.findKey({QStringLiteral("CHARL")}));  // exact: the whole key
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("charlie"));  // a failed seek leaves the row
    EXPECT_TRUE(*c.findPartial(QStringLiteral("CHARL")));
    EXPECT_TRUE(*c.findKey({QStringLiteral("ALPHA")}));
    EXPECT_EQ(c.recNo(), 2u);  // of two equal keys, the first row entered
    OK(c.findNearest(QStringLiteral("C")));
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("charlie"));
    EXPECT_FALSE(c.eof());
    OK(c.findNearest(QStringLiteral("Z")));
    EXPECT_TRUE(c.eof());
    EXPECT_EQ(c.text(QStringLiteral("Title")), QStringLiteral("echo"));
    // Seeks honour the filter.
    c.setFiltered(true);
    OK(c.setFilter(QStringLiteral("Nr = \"  6\"")));
    EXPECT_TRUE(*c.findKey({QStringLiteral("ALPHA")}));
    EXPECT_EQ(c.recNo(), 6u);
    c.setFiltered(false);
    OK(c.setOrder(QString()));
    EXPECT_FALSE(c.findKey({QStringLiteral("ALPHA")}).isOk());  // no order, no seek
}

TEST_F(CursorTest, EditsMoveRowsWithinTheOrderAndOtherCursorsSeeThem) {
    Cursor a, b;
    a.setTablePath(path);
    b.setTablePath(path);
    OK(a.setOrder(QStringLiteral("Title")));
    OK(b.setOrder(QStringLiteral("Title")));
    OK(a.open());
    OK(b.open());
    fill(a);
    OK(b.first());  // Alpha
    OK(b.next());   // alpha
    // Another cursor renames the row b stands on; b keeps it and continues from its new place.
    OK(a.findKey({QStringLiteral("ALPHA")}).status());
    OK(a.next());
    ASSERT_EQ(a.recNo(), b.recNo());
    OK(a.edit());
    OK(a.setText(QStringLiteral("Title"), QStringLiteral("foxtrot")));
    OK(a.post());
    EXPECT_EQ(b.text(QStringLiteral("Title")), QStringLiteral("foxtrot"));
    EXPECT_EQ(walk(a), (QStringList{"foxtrot"}));
    EXPECT_EQ(all(b), (QStringList{"Alpha", "Bravo", "charlie", "delta", "echo", "foxtrot"}));

    // Many inserts under a cursor's feet (leaf splits) do not lose its place.
    OK(b.findKey({QStringLiteral("CHARLIE")}).status());
    for (int i = 0; i < 300; ++i) add(a, QStringLiteral("c%1").arg(i, 3, 10, QLatin1Char('0')), 100 + i);
    OK(b.next());
    EXPECT_EQ(b.text(QStringLiteral("Title")), QStringLiteral("delta"));
    OK(b.prior());
    OK(b.prior());
    EXPECT_EQ(b.text(QStringLiteral("Title")), QStringLiteral("c299"));
    EXPECT_EQ(*b.recordCount(), 306);
}

TEST_F(CursorTest, MemosAreReadWholeAndRewrittenWhole) {
    Cursor c;
    c.setTablePath(path);
    OK(c.open());
    QString big;
    for (int i = 0; i < 5000; ++i) big += QStringLiteral("Line %1 – ünïcödé\r\n").arg(i);
    add(c, QStringLiteral("big"), 1, big);
    add(c, QStringLiteral("small"), 2, QStringLiteral("x"));
    OK(c.first());
    EXPECT_EQ(c.text(QStringLiteral("Notes")), big);
    OK(c.edit());
    OK(c.setText(QStringLiteral("Notes"), QStringLiteral("short now")));
    EXPECT_EQ(c.text(QStringLiteral("Notes")), QStringLiteral("short now"));  // while editing
    c.cancel();
    EXPECT_EQ(c.text(QStringLiteral("Notes")), big);
    OK(c.edit());
    OK(c.setText(QStringLiteral("Notes"), QString()));
    OK(c.post());
    EXPECT_EQ(c.text(QStringLiteral("Notes")), QString());
    EXPECT_TRUE(c.isBlank(QStringLiteral("Notes")));
    OK(c.next());
    EXPECT_EQ(c.text(QStringLiteral("Notes")), QStringLiteral("x"));
}

TEST_F(CursorTest, PackDropsDeletedRowsAndCompactsTheMemoFile) {
    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open());
        for (int i = 0; i < 200; ++i) add(c, QStringLiteral("t%1").arg(i), i, QString(400, QLatin1Char('m')));
        OK(c.first());
        for (int i = 0; i < 200; ++i) {
            if (i % 4 != 0) {
                OK(c.deleteRecord());
            } else {
                OK(c.next());
            }
        }
        EXPECT_EQ(*c.recordCount(), 50);
        OK(c.flush());
    }
    const qint64 memoBefore = QFileInfo(memoPathFor(path)).size();
    auto t = Table::open(path, OpenMode::Exclusive);
    OK(t.status());
    OK((*t)->pack());
    EXPECT_EQ((*t)->recordCount(), 50u);
    EXPECT_LT(QFileInfo(memoPathFor(path)).size(), memoBefore / 3);
    t = Result<std::shared_ptr<Table>>(Status());  // release
    Cursor c;
    c.setTablePath(path);
    OK(c.setOrder(QStringLiteral("Nr")));
    OK(c.open());
    QStringList titles = all(c);
    ASSERT_EQ(titles.size(), 50);
    EXPECT_EQ(titles.first(), QStringLiteral("t0"));
    EXPECT_EQ(titles.last(), QStringLiteral("t196"));
    OK(c.last());
    EXPECT_EQ(c.text(QStringLiteral("Notes")), QString(400, QLatin1Char('m')));
    EXPECT_TRUE(CheckTable(path).isEmpty()) << CheckTable(path).join(QLatin1Char('\n')).toStdString();
}

TEST_F(CursorTest, ExclusiveUseIsRefusedWhileTheTableIsOpen) {
    Cursor c;
    c.setTablePath(path);
    OK(c.open());
    auto ex = Table::open(path, OpenMode::Exclusive);
    ASSERT_FALSE(ex.isOk());
    EXPECT_EQ(ex.error().kind(), ErrorKind::Locked);
    // Another program cannot pack it either.
    auto r = albumora::test::runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("pack"), QStringLiteral("songs.dbf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("in use by another program"))) << r.err.toStdString();
    c.close();
    auto ok = Table::open(path, OpenMode::Exclusive);
    EXPECT_TRUE(ok.isOk());
    // And while this process holds it exclusively, a shared open elsewhere is refused.
    auto q = albumora::test::runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("count"), QStringLiteral("SONGS.DBF")});
    EXPECT_EQ(q.exitCode, 1);
}

TEST_F(CursorTest, ScopesAndMasterDetail) {
    TDM dm(dir.path());
    OK(dm.EnsureCollectionFiles());
    OK(dm.OpenCollectionTables());
    for (const char* id : {"00000001", "00000002", "00000003"}) {
        OK(dm.tblAlbums.append());
        OK(dm.tblAlbums.setText(QStringLiteral("ID"), QString::fromLatin1(id)));
        OK(dm.tblAlbums.setText(QStringLiteral("Artist"), QStringLiteral("Artist %1").arg(QString::fromLatin1(id))));
        OK(dm.tblAlbums.post());
    }
    for (int album = 1; album <= 3; ++album)
        for (int nr = 1; nr <= album * 2; ++nr) {
            OK(dm.tblCD.append());
            OK(dm.tblCD.setText(QStringLiteral("ID"), QStringLiteral("0000000%1").arg(album)));
            OK(dm.tblCD.setText(QStringLiteral("NR"), TDM::PadNumber(nr, 3)));
            OK(dm.tblCD.post());
        }
    OK(dm.tblAlbums.first());
    EXPECT_EQ(dm.tblAlbums.text(QStringLiteral("ID")), QStringLiteral("00000001"));
    EXPECT_EQ(*dm.tblTracks.recordCount(), 2);
    OK(dm.tblAlbums.next());
    EXPECT_EQ(*dm.tblTracks.recordCount(), 4);
    EXPECT_EQ(dm.tblTracks.text(QStringLiteral("NR")), QStringLiteral("  1"));
    OK(dm.tblTracks.last());
    EXPECT_EQ(dm.tblTracks.text(QStringLiteral("NR")), QStringLiteral("  4"));
    // A frozen master does not drag its details along until it is resumed.
    dm.tblAlbums.disableControls();
    OK(dm.tblAlbums.next());
    EXPECT_EQ(dm.tblTracks.text(QStringLiteral("ID")), QStringLiteral("00000002"));
    dm.tblAlbums.enableControls();
    EXPECT_EQ(dm.tblTracks.text(QStringLiteral("ID")), QStringLiteral("00000003"));
    EXPECT_EQ(*dm.tblTracks.recordCount(), 6);
    // A new track of the detail belongs to the current album.
    OK(dm.tblTracks.append());
    OK(dm.tblTracks.setText(QStringLiteral("NR"), QStringLiteral("  7")));
    OK(dm.tblTracks.post());
    EXPECT_EQ(dm.tblTracks.text(QStringLiteral("ID")), QStringLiteral("00000003"));
    EXPECT_EQ(*dm.tblTracks.recordCount(), 7);

    // A scope on a partial key.
    OK(dm.tblCD.setScope(QStringLiteral("00000002"), QStringLiteral("00000003")));
    EXPECT_EQ(*dm.tblCD.recordCount(), 11);
    OK(dm.tblCD.first());
    EXPECT_EQ(dm.tblCD.text(QStringLiteral("ID")), QStringLiteral("00000002"));
    OK(dm.tblCD.last());
    EXPECT_EQ(dm.tblCD.text(QStringLiteral("NR")), QStringLiteral("  7"));
    dm.tblCD.clearScope();
    EXPECT_EQ(*dm.tblCD.recordCount(), 13);
    // An album without tracks shows none, an empty albums table shows none.
    OK(dm.tblAlbums.append());
    OK(dm.tblAlbums.setText(QStringLiteral("ID"), QStringLiteral("00000009")));
    OK(dm.tblAlbums.post());
    EXPECT_TRUE(dm.tblTracks.isEmpty());
    EXPECT_EQ(*dm.tblTracks.recordCount(), 0);
}

TEST_F(CursorTest, SeparateIndexFileIsKeptCurrentWhileOpen) {
    Cursor c;
    c.setTablePath(path);
    OK(c.open(OpenMode::Exclusive));
    fill(c);
    const QString idx = dir.file(QStringLiteral("temp1.idx"));
    OK(c.createIndexFile(idx, QStringLiteral("upper(PADR(LTRIM(Nr),6))+Title")));
    EXPECT_EQ(all(c).first(), QStringLiteral("delta"));  // "1     delta"
    add(c, QStringLiteral("zulu"), 0);
    EXPECT_EQ(all(c).first(), QStringLiteral("zulu"));  // "0     zulu"
    OK(c.closeIndexFile(idx));
    EXPECT_TRUE(c.order().isEmpty());
    OK(c.openIndexFile(idx));
    EXPECT_EQ(all(c), (QStringList{"zulu", "delta", "Alpha", "charlie", "Bravo", "echo", "alpha"}));
    if (!albumora::test::sharedTools().isEmpty()) {
        auto r = albumora::test::runProcess(albumora::test::systemPython(),
                                            {albumora::test::sharedTools() + QStringLiteral("/cdxcheck.py"), idx});
        // A single-order file has no tag directory: the compound reader refuses it by design.
        EXPECT_NE(r.exitCode, 0);
    }
}

TEST_F(CursorTest, CopiesKeepStructureAndMemos) {
    Cursor c;
    c.setTablePath(path);
    OK(c.setOrder(QStringLiteral("Title")));
    OK(c.open());
    fill(c);
    c.setFiltered(true);
    OK(c.setFilter(QStringLiteral("Hit")));
    auto recs = c.visibleRecords();
    OK(recs.status());
    const QString copy = dir.file(QStringLiteral("hits.dbf"));
    OK(c.table()->copyRows(copy, *recs));
    Cursor h;
    h.setTablePath(copy);
    OK(h.open());
    EXPECT_EQ(all(h), (QStringList{"charlie", "delta", "echo"}));
    OK(h.first());
    EXPECT_EQ(h.text(QStringLiteral("Notes")), QStringLiteral("note 4"));
    const QString empty = dir.file(QStringLiteral("EMPTY.DBF"));
    OK(c.table()->copyStructure(empty));
    Cursor e;
    e.setTablePath(empty);
    OK(e.open());
    EXPECT_EQ(e.fieldCount(), 4);
    EXPECT_TRUE(e.isEmpty());
}

TEST_F(CursorTest, IndexThatLagsBehindIsReportedThenRebuilt) {
    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open());
        fill(c);
        OK(c.flush());
    }
    // What a crash between a post and its flush leaves: rows the index does not know.
    {
        auto dbf = DbfFile::open(path, true);
        OK(dbf.status());
        std::string rec = (*dbf)->blankRecord();
        rec.replace(1, 7, "ghost  ");
        OK((*dbf)->appendRecord(rec).status());
        OK((*dbf)->setIndexLag(true));
    }
    EXPECT_FALSE(CheckTable(path).isEmpty());
    auto t = Table::open(path, OpenMode::Shared);
    OK(t.status());
    EXPECT_EQ((*t)->indexProblem().kind(), ErrorKind::IndexStale);
    Cursor c;
    c.setTablePath(path);
    EXPECT_EQ(c.setOrder(QStringLiteral("Title")).kind(), ErrorKind::None);  // closed: taken on trust
    EXPECT_EQ(c.open().kind(), ErrorKind::IndexStale);
    OK((*t)->reindex());
    OK(c.open());
    EXPECT_EQ(all(c).last(), QStringLiteral("ghost"));
    EXPECT_TRUE(CheckTable(path).isEmpty()) << CheckTable(path).join(QLatin1Char('\n')).toStdString();
}

// A change still waiting for its flush lands as its table closes; when it cannot, the closing
// has nobody to return that to, and the status reporter tells it.
TEST_F(CursorTest, AChangeThatCannotLandAsTheTableClosesIsTold) {
    QStringList told;
    Table::setStatusReporter([&](const QString& text) { told << text; });
    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open());
        add(c, QStringLiteral("lost"), 1);
        setFileFaultHook([](FileOp op, const QString& p) {
            return op == FileOp::Write && p.endsWith(QLatin1String(".albumora-journal")) ? ENOSPC : 0;
        });
        c.close();
        setFileFaultHook(nullptr);
    }
    Table::setStatusReporter({});
    ASSERT_EQ(told.size(), 1) << told.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(told.first().startsWith(QStringLiteral("Cannot write ")) && told.first().contains(QStringLiteral(".albumora-journal")))
        << told.first().toStdString();
    Cursor c;
    c.setTablePath(path);
    OK(c.open());
    EXPECT_TRUE(all(c).isEmpty());
}

}  // namespace
