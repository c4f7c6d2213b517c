// Each decoder's error paths: a damaged byte at a known place gives a clear error that names the
// file and what is wrong, never a crash or a silently wrong row.
#include "Check.h"
#include "Cursor.h"
#include "DbfFile.h"
#include "IndexFile.h"
#include "MemoFile.h"
#include "Table.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

// Whether another process holds a lock on the file (waits for it to be taken, up to 5 s).
bool heldElsewhere(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = false;
    for (int i = 0; i < 500 && !held; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            held = true;
        else {
            ::flock(fd, LOCK_UN);
            ::usleep(10000);
        }
    }
    ::close(fd);
    return held;
}

// Waits until nobody holds the file's lock: flock's forked child keeps the locked file open
// until it has closed its copy, which a loaded machine may not have done when flock is killed.
bool releasedEverywhere(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool free = false;
    for (int i = 0; i < 500 && !free; ++i) {
        free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (free)
            ::flock(fd, LOCK_UN);
        else
            ::usleep(10000);
    }
    ::close(fd);
    return free;
}

class FileFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file(QStringLiteral("T.DBF"));
        ASSERT_TRUE(Table::create(path, *parseFieldList(QStringLiteral("Name,Char,10;Notes,Memo;"))).isOk());
        Cursor c;
        c.setTablePath(path);
        ASSERT_TRUE(c.open().isOk());
        ASSERT_TRUE(c.createTag(QStringLiteral("Name"), QStringLiteral("upper(Name)")).isOk());
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(c.append().isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("Name"), QStringLiteral("n%1").arg(i)).isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("Notes"), QStringLiteral("memo %1").arg(i)).isOk());
            ASSERT_TRUE(c.post().isOk());
        }
        ASSERT_TRUE(c.flush().isOk());
        dbf = readAll(path);
        fpt = readAll(memoPathFor(path));
        cdx = readAll(indexPathFor(path));
    }
    TempFolder dir;
    QString path;
    QByteArray dbf, fpt, cdx;
};

TEST_F(FileFormatTest, DamagedTableHeadersAreRefused) {
    struct Damage {
        const char* what;
        std::function<void(QByteArray&)> apply;
        const char* message;
    };
    const Damage cases[] = {
        {"too short", [](QByteArray& b) { b.truncate(20); }, "too short"},
        {"unknown version", [](QByteArray& b) { b[0] = char(0x42); }, "unknown version byte 0x42"},
        {"header past the end", [](QByteArray& b) { b[8] = char(0xFF); b[9] = char(0x7F); }, "header length"},
        {"record length", [](QByteArray& b) { b[10] = char(b[10] + 1); }, "the fields take"},
        {"no terminator", [](QByteArray& b) { b[32 + 64] = 'X'; }, "not terminated"},
        {"records missing", [](QByteArray& b) { b.truncate(b.size() - 100); }, "is truncated"},
        {"memo width", [](QByteArray& b) { b[32 + 32 + 16] = 7; }, "memo field Notes has length 7"},
        {"encrypted", [](QByteArray& b) { b[15] = 1; }, "encrypted"},
    };
    for (const Damage& d : cases) {
        QByteArray bytes = dbf;
        d.apply(bytes);
        writeAll(path, bytes);
        auto t = Table::open(path, OpenMode::Shared);
        ASSERT_FALSE(t.isOk()) << d.what;
        EXPECT_TRUE(t.error().text().contains(QString::fromLatin1(d.message))) << d.what << ": " << t.error().text().toStdString();
        EXPECT_TRUE(t.error().text().contains(QStringLiteral("T.DBF"))) << d.what;
    }
}

TEST_F(FileFormatTest, MemoPointersThatLeadNowhereAreErrors) {
    // Point row 1 at a block past the end of the memo file.
    QByteArray bytes = dbf;
    const int headerLength = quint8(bytes[8]) | (quint8(bytes[9]) << 8);
    bytes.replace(headerLength + 1 + 10, 10, QByteArray("    999999"));
    writeAll(path, bytes);
    Cursor c;
    c.setTablePath(path);
    ASSERT_TRUE(c.open().isOk());
    EXPECT_EQ(c.text(QStringLiteral("Notes")), QString());
    auto memo = c.table()->readMemo(999999);
    ASSERT_FALSE(memo.isOk());
    EXPECT_TRUE(memo.error().text().contains(QStringLiteral("lies outside T.FPT")));
    // A filter that reads it reports the failure instead of matching nothing.
    c.setFiltered(true);
    ASSERT_TRUE(c.setFilter(QStringLiteral("contains(notes,\"memo\")")).isOk());
    auto n = c.recordCount();
    ASSERT_FALSE(n.isOk());
    EXPECT_EQ(n.error().kind(), ErrorKind::Corruption);

    // A block that claims more bytes than the file holds.
    writeAll(path, dbf);
    QByteArray m = fpt;
    const int block = 512 / 64;  // the first memo
    m[block * 64 + 4] = char(0x7F);
    writeAll(memoPathFor(path), m);
    auto t = Table::open(path, OpenMode::Shared);
    ASSERT_TRUE(t.isOk());
    auto bad = (*t)->readMemo(block);
    ASSERT_FALSE(bad.isOk());
    EXPECT_TRUE(bad.error().text().contains(QStringLiteral("claims")));
    EXPECT_FALSE(CheckTable(path).isEmpty());

    // A missing memo file stops the open: the rows would lose their notes.
    t = Result<std::shared_ptr<Table>>(Status());
    c.close();
    QFile::remove(memoPathFor(path));
    auto gone = Table::open(path, OpenMode::Shared);
    ASSERT_FALSE(gone.isOk());
    EXPECT_TRUE(gone.error().text().contains(QStringLiteral("memo file")));
}

// An index is derived data: a read that meets a damaged page rebuilds it from the rows and goes
// on, with a status text, rather than handing out the rows before the damage. When it cannot be
// rebuilt (another program has the table open), the read fails naming the damage.
TEST_F(FileFormatTest, DamagedIndexNodesAreRebuiltWhenAReadMeetsThem) {
    auto tags = IndexFile::open(indexPathFor(path), false);
    ASSERT_TRUE(tags.isOk());
    const std::uint32_t root = (*tags)->tag("NAME")->root();
    (*tags).reset();
    struct Damage {
        const char* what;
        int offset;
        char value;
        const char* message;
    };
    const Damage cases[] = {
        {"attributes", 0, char(9), "attributes 9"},
        {"entry bytes", 23, char(0), "entry layout"},
        {"key count", 2, char(0x7F), "keys overlap the entries"},
        {"key count past the page", 3, char(0x7F), "do not fit"},
        {"a changed key byte", 511, char(0x5A), "out of order"},
    };
    QStringList statusTexts;
    Table::setStatusReporter([&](const QString& t) { statusTexts << t; });
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.what);
        QByteArray bytes = cdx;
        bytes[int(root) + d.offset] = d.value;
        writeAll(indexPathFor(path), bytes);
        EXPECT_FALSE(CheckTable(path).filter(QString::fromLatin1(d.message)).isEmpty()) << CheckTable(path).join("; ").toStdString();

        // Another process has the table open: no rebuild, and the read says what is wrong.
        {
            QProcess holder;
            holder.start(QStringLiteral("flock"), {QStringLiteral("-s"), QStringLiteral("-o"), path, QStringLiteral("sleep"), QStringLiteral("30")});
            ASSERT_TRUE(holder.waitForStarted());
            ASSERT_TRUE(heldElsewhere(path));
            Cursor c;
            c.setTablePath(path);
            ASSERT_TRUE(c.setOrder(QStringLiteral("Name")).isOk());
            Status st = c.open();
            ASSERT_FALSE(st.isOk());
            EXPECT_EQ(st.kind(), ErrorKind::Corruption);
            EXPECT_TRUE(st.text().contains(QString::fromLatin1(d.message))) << st.text().toStdString();
            EXPECT_TRUE(st.text().contains(QStringLiteral("T.CDX"))) << st.text().toStdString();
            EXPECT_TRUE(st.text().contains(QStringLiteral("cannot be rebuilt now"))) << st.text().toStdString();
            EXPECT_EQ(readAll(indexPathFor(path)), bytes);  // nothing was written
            holder.kill();
            holder.waitForFinished();
        }
        ASSERT_TRUE(releasedEverywhere(path));

        statusTexts.clear();
        Cursor c;
        c.setTablePath(path);
        ASSERT_TRUE(c.setOrder(QStringLiteral("Name")).isOk());
        Status st = c.open();
        ASSERT_TRUE(st.isOk()) << st.text().toStdString();
        QStringList names;
        for (; st && !c.eof(); st = c.next()) names << c.text(QStringLiteral("Name"));
        ASSERT_TRUE(st.isOk()) << st.text().toStdString();
        QStringList want;
        for (int i = 0; i < 40; ++i) want << QStringLiteral("n%1").arg(i);
        std::sort(want.begin(), want.end());
        EXPECT_EQ(names, want);
        EXPECT_EQ(statusTexts, (QStringList{QStringLiteral("Creating Index File for: T"), QString()}));
        EXPECT_TRUE(CheckTable(path).isEmpty()) << CheckTable(path).join("; ").toStdString();
    }
    Table::setStatusReporter({});
}

TEST_F(FileFormatTest, ATagDirectoryThatIsNotOneIsRefused) {
    QByteArray bytes = cdx;
    bytes[14] = 0x20;  // a single-order header where the tag directory should be
    writeAll(indexPathFor(path), bytes);
    auto t = Table::open(path, OpenMode::Shared);
    ASSERT_TRUE(t.isOk());
    EXPECT_EQ((*t)->indexProblem().kind(), ErrorKind::Corruption);
    EXPECT_TRUE((*t)->indexProblem().text().contains(QStringLiteral("not a compound index")));
}

}  // namespace
