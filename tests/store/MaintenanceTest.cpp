// File maintenance over a real collection: deleted rows packed away (counted again by
// python3-dbfread), the current album kept, and the zip archive listed and extracted by unzip.
#include "DMcd.h"
#include "FakeDesktop.h"
#include "Maintenance.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace albumora;
using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

class MaintenanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<TDM>(dir.path());
        ASSERT_STORE_OK(dm->EnsureCollectionFiles());
        ASSERT_STORE_OK(dm->OpenCollectionTables());
        for (int a = 1; a <= 30; ++a) {
            const QString id = S("0a0000%1").arg(a, 2, 10, QLatin1Char('0'));
            Cursor& c = dm->tblAlbums;
            ASSERT_STORE_OK(c.append());
            ASSERT_STORE_OK(c.setText(S("ID"), id));
            ASSERT_STORE_OK(c.setText(S("Artist"), S("Artist %1").arg(31 - a, 2, 10, QLatin1Char('0'))));
            ASSERT_STORE_OK(c.setText(S("Notes"), S("Notes of album %1, long enough to fill a memo block or two.").arg(a)));
            ASSERT_STORE_OK(c.post());
            for (int t = 1; t <= 10; ++t) {
                ASSERT_STORE_OK(dm->tblCD.append());
                ASSERT_STORE_OK(dm->tblCD.setText(S("ID"), id));
                ASSERT_STORE_OK(dm->tblCD.setText(S("NR"), TDM::PadNumber(t, 3)));
                ASSERT_STORE_OK(dm->tblCD.setText(S("Track"), S("Song %1").arg(t)));
                ASSERT_STORE_OK(dm->tblCD.post());
            }
            ASSERT_STORE_OK(dm->tblArtists.append());
            ASSERT_STORE_OK(dm->tblArtists.setText(S("ID"), id));
            ASSERT_STORE_OK(dm->tblArtists.post());
            ASSERT_STORE_OK(dm->tblPlayList.append());
            ASSERT_STORE_OK(dm->tblPlayList.setText(S("ID"), id));
            ASSERT_STORE_OK(dm->tblPlayList.setText(S("NR"), S("  1")));
            ASSERT_STORE_OK(dm->tblPlayList.post());
        }
        ASSERT_STORE_OK(dm->FlushCollection());
        // Every third row of every table marked deleted, as deletes that could not pack leave them.
        for (Cursor* c : {&dm->tblCD, &dm->tblArtists, &dm->tblPlayList, &dm->tblFilter}) {
            if (!c->isOpen()) ASSERT_STORE_OK(c->open());
            ASSERT_STORE_OK(c->setOrder(QString()));
            const auto rows = c->visibleRecords();
            ASSERT_TRUE(rows.isOk());
            for (size_t i = 0; i < rows->size(); i += 3) {
                ASSERT_STORE_OK(c->gotoBookmark({(*rows)[i]}));
                ASSERT_STORE_OK(c->deleteRecord());
            }
            ASSERT_STORE_OK(c->flush());
        }
        dm->CloseAll();
        ASSERT_STORE_OK(dm->OpenCollectionTables());
    }
    // Rows an independent reader finds, deleted ones included or not.
    QString counts(const QString& table) {
        const auto r = test::runPython(QStringLiteral(R"(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], load=False, ignore_missing_memofile=True)
print(len(list(t.records)), len(list(t.deleted)))
)"),
                                       {dir.file(table)});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.out.trimmed();
    }
    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<TDM> dm;
};

TEST_F(MaintenanceTest, DeletedRowsGoAndTheCurrentAlbumStays) {
    EXPECT_EQ(counts(S("TRACKS.DBF")), S("200 100"));
    EXPECT_EQ(counts(S("ALBUMS.DBF")), S("20 10"));
    Cursor& a = dm->tblAlbums;
    ASSERT_STORE_OK(a.setOrder(S("Artist")));
    ASSERT_STORE_OK(a.findNearest(S("ARTIST 1")));
    ASSERT_STORE_OK(a.next());
    const QString current = a.text(S("ID"));
    const qint64 before = QFileInfo(dir.file(S("TRACKS.DBF"))).size();

    auto r = MaintainCollection(*dm, false);
    ASSERT_TRUE(r.isOk()) << r.error().text().toStdString();
    EXPECT_EQ(MaintenanceMessage(*r, dir.path()), S("File maintenance successfully completed"));
    EXPECT_FALSE(QFileInfo::exists(dir.file(kArchiveName)));
    for (const char* t : {"ALBUMS.DBF", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"}) EXPECT_TRUE(counts(S(t)).endsWith(S(" 0"))) << t;
    EXPECT_EQ(counts(S("TRACKS.DBF")), S("200 0"));
    EXPECT_LT(QFileInfo(dir.file(S("TRACKS.DBF"))).size(), before);
    EXPECT_EQ(a.text(S("ID")), current);
    EXPECT_EQ(a.order(), S("Artist"));
    // Every index checks out against its packed table.
    for (const char* t : {"ALBUMS", "TRACKS", "ARTISTS", "PLAYLIST"}) {
        const auto c = test::cdxcheck(dir.file(S(t) + S(".CDX")), dir.file(S(t) + S(".DBF")));
        EXPECT_EQ(c.exitCode, 0) << t << c.out.toStdString() << c.err.toStdString();
    }
}

// Temporary files an archive run may leave in the data folder.
QStringList archiveLeftovers(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*Albumoradata.zip?*")}, QDir::Files | QDir::Hidden);
}

// A second run updates the archive: files put in again replace their entries, an entry whose
// file is gone stays, and every name is there once; unzip tests every entry's checksum.
TEST_F(MaintenanceTest, TheArchiveIsUpdatedWithOneEntryAFile) {
    for (const char* f : {"Albumora.ini", "albums.ini", "notes.txt"}) ASSERT_TRUE(test::writeFileBytes(dir.file(S(f)), QByteArray("x\r\n")));
    auto first = MaintainCollection(*dm, true);
    ASSERT_TRUE(first.isOk()) << first.error().text().toStdString();
    EXPECT_EQ(first->archive, dir.file(kArchiveName));
    EXPECT_TRUE(MaintenanceMessage(*first, dir.path()).startsWith(S("Created/Updated Zip archive file: ") + dir.path() + S("/Albumoradata.zip\r")));
    // Before the second run: notes.txt gone, receipt.txt new, the settings file changed.
    ASSERT_TRUE(QFile::remove(dir.file(S("notes.txt"))));
    ASSERT_TRUE(test::writeFileBytes(dir.file(S("receipt.txt")), QByteArray("paid\r\n")));
    ASSERT_TRUE(test::writeFileBytes(dir.file(S("Albumora.ini")), QByteArray("[Current]\r\nGenre=jazz\r\n")));
    auto second = MaintainCollection(*dm, true);
    ASSERT_TRUE(second.isOk()) << second.error().text().toStdString();
    EXPECT_FALSE(second->archived.contains(S("notes.txt")));

    const auto list = test::runProcess(S("unzip"), {S("-Z1"), dir.file(kArchiveName)});
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    QStringList names = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort(Qt::CaseInsensitive);
    // No index files, each name once, notes.txt kept from the first run.
    EXPECT_EQ(names, (QStringList{"Albumora.ini", "ALBUMS.DBF", "ALBUMS.FPT", "albums.ini", "ARTISTS.DBF", "notes.txt", "PLAYLIST.DBF",
                                  "receipt.txt", "TRACKS.DBF"}));
    const auto tested = test::runProcess(S("unzip"), {S("-t"), dir.file(kArchiveName)});
    EXPECT_EQ(tested.exitCode, 0) << tested.out.toStdString() << tested.err.toStdString();
    TempFolder out;
    const auto unzip = test::runProcess(S("unzip"), {S("-q"), dir.file(kArchiveName), S("-d"), out.path()});
    ASSERT_EQ(unzip.exitCode, 0) << unzip.err.toStdString();
    for (const QString& n : names) {
        if (n == S("notes.txt"))
            EXPECT_EQ(test::fileBytes(out.file(n)), QByteArray("x\r\n"));
        else
            EXPECT_EQ(test::fileBytes(out.file(n)), test::fileBytes(dir.file(n))) << n.toStdString();
    }
    EXPECT_TRUE(archiveLeftovers(dir.path()).isEmpty()) << archiveLeftovers(dir.path()).join(S(" ")).toStdString();
}

// A full disk or a refused write or rename while the archive is written: the maintenance says
// so naming the archive, the last good archive stays byte for byte, no temporary is left, and
// the packs done before stand.
FileOp gFailOp = FileOp::Write;
int failArchive(FileOp op, const QString& path) {
    return op == gFailOp && QFileInfo(path).fileName().contains(S("Albumoradata.zip")) ? ENOSPC : 0;
}

TEST_F(MaintenanceTest, AFailedArchiveLeavesTheLastOneAsItWas) {
    ASSERT_TRUE(MaintainCollection(*dm, true).isOk());
    const QByteArray archive = test::fileBytes(dir.file(kArchiveName));
    ASSERT_FALSE(archive.isEmpty());
    for (FileOp op : {FileOp::Write, FileOp::Truncate, FileOp::Sync, FileOp::Rename}) {
        SCOPED_TRACE(int(op));
        // Rows to pack away, so that the run has something to show.
        ASSERT_STORE_OK(dm->tblPlayList.first());
        ASSERT_STORE_OK(dm->tblPlayList.deleteRecord());
        ASSERT_STORE_OK(dm->tblPlayList.flush());
        gFailOp = op;
        setFileFaultHook(failArchive);
        auto r = MaintainCollection(*dm, true);
        setFileFaultHook(nullptr);
        ASSERT_FALSE(r.isOk());
        EXPECT_TRUE(r.error().text().contains(dir.file(kArchiveName))) << r.error().text().toStdString();
        EXPECT_EQ(test::fileBytes(dir.file(kArchiveName)), archive);
        EXPECT_TRUE(archiveLeftovers(dir.path()).isEmpty()) << archiveLeftovers(dir.path()).join(S(" ")).toStdString();
        EXPECT_TRUE(counts(S("PLAYLIST.DBF")).endsWith(S(" 0")));
        EXPECT_TRUE(dm->tblAlbums.isOpen());
    }
    // And the next run succeeds.
    auto r = MaintainCollection(*dm, true);
    ASSERT_TRUE(r.isOk()) << r.error().text().toStdString();
    EXPECT_NE(test::fileBytes(dir.file(kArchiveName)), archive);
}

// Entry names a backup archive may hold, and names a hostile one might.
TEST(BackupFileNames, OnlyPlainNamesOfTheArchivedFiles) {
    for (const char* ok : {"ALBUMS.DBF", "albums.dbf", "Albums.fpt", "TRACKS.DBF", "PLAYLIST.DBF", "ARTISTS.DBF", "Albumora.ini",
                           "tracks.ini", "notes.txt", "RECEIPT.TXT"})
        EXPECT_TRUE(IsBackupFileName(S(ok))) << ok;
    for (const char* bad : {"", "../ALBUMS.DBF", "/etc/x.ini", "sub/notes.txt", "sub\\notes.txt", "C:ALBUMS.DBF", "..", ".ini", ".x.ini",
                            ".albumora-lock", "ALBUMS.CDX", "TVIEW.DBF", "run.sh", "notes.txt.exe", "a\nb.ini"})
        EXPECT_FALSE(IsBackupFileName(S(bad))) << bad;
}

// A table another program holds open cannot be packed: the engine's error, the tables open
// again, and the last archive as it was.
TEST_F(MaintenanceTest, ATableHeldElsewhereStopsItWithTheEnginesError) {
    ASSERT_TRUE(MaintainCollection(*dm, true).isOk());
    const QByteArray archive = test::fileBytes(dir.file(kArchiveName));
    QProcess holder;
    holder.start(S("flock"), {S("-s"), dir.file(S("TRACKS.DBF")), S("sleep"), S("30")});
    ASSERT_TRUE(holder.waitForStarted());
    // Until flock holds it.
    const int fd = ::open(QFile::encodeName(dir.file(S("TRACKS.DBF"))).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    bool held = false;
    for (int i = 0; i < 500 && !held; ++i) {
        held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (!held) {
            ::flock(fd, LOCK_UN);
            ::usleep(10000);
        }
    }
    ::close(fd);
    ASSERT_TRUE(held);
    auto r = MaintainCollection(*dm, true);
    holder.kill();
    holder.waitForFinished();
    ASSERT_FALSE(r.isOk());
    EXPECT_TRUE(r.error().text().contains(S("TRACKS.DBF"))) << r.error().text().toStdString();
    EXPECT_EQ(test::fileBytes(dir.file(kArchiveName)), archive);
    EXPECT_TRUE(dm->tblAlbums.isOpen());
    EXPECT_FALSE(dm->tblAlbums.isEmpty());
}

}  // namespace
