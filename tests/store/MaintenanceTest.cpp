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

TEST_F(MaintenanceTest, TheArchiveHoldsOneEntryAFileAfterTwoRuns) {
    for (const char* f : {"Albumora.ini", "albums.ini", "notes.txt"}) ASSERT_TRUE(test::writeFileBytes(dir.file(S(f)), QByteArray("x\r\n")));
    for (int run = 0; run < 2; ++run) {
        auto r = MaintainCollection(*dm, true);
        ASSERT_TRUE(r.isOk()) << r.error().text().toStdString();
        EXPECT_EQ(r->archive, dir.file(kArchiveName));
        EXPECT_TRUE(MaintenanceMessage(*r, dir.path()).startsWith(S("Created/Updated Zip archive file: ") + dir.path() + S("/Albumoradata.zip\r")));
    }
    const auto list = test::runProcess(S("unzip"), {S("-Z1"), dir.file(kArchiveName)});
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    QStringList names = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort(Qt::CaseInsensitive);
    // No index files, no receipt.txt (there is none), each name once.
    EXPECT_EQ(names, (QStringList{"Albumora.ini", "ALBUMS.DBF", "ALBUMS.FPT", "albums.ini", "ARTISTS.DBF", "notes.txt", "PLAYLIST.DBF", "TRACKS.DBF"}));
    TempFolder out;
    const auto unzip = test::runProcess(S("unzip"), {S("-q"), dir.file(kArchiveName), S("-d"), out.path()});
    ASSERT_EQ(unzip.exitCode, 0) << unzip.err.toStdString();
    for (const QString& n : names) EXPECT_EQ(test::fileBytes(out.file(n)), test::fileBytes(dir.file(n))) << n.toStdString();
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
