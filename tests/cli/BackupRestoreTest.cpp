// File maintenance and restore as real processes run them: another program's save waiting for
// a maintenance run, maintenance killed before each of its writes, renames, deletes and syncs,
// and backups restored, refused when they are hostile or damaged. Tables are read back by
// python3-dbfread, archives by unzip.
#include "CliProcesses.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <map>

using albumora::test::ProcessResult;
using albumora::test::TempFolder;

namespace {

using albumora::test::copyFolder;

QString S(const char* s) { return QString::fromUtf8(s); }

QString crashCli() { return QStringLiteral(ALBUMORA_CLI_CRASH_PATH); }

ProcessResult cli(const QString& folder, QStringList args) {
    args.prepend(folder);
    args.prepend(S("--data"));
    return albumora::test::runCli(args);
}

ProcessResult runWith(const QString& program, const QStringList& args, const std::map<QString, QString>& env) {
    const albumora::test::Outcome o = albumora::test::run(program, args, env);
    return {o.code, o.crashed, o.out, o.err};
}

// Every row of the four tables and the memo texts, as an independent reader sees them.
QString dump(const QString& folder) {
    const auto r = albumora::test::runPython(S(R"(
import sys, os, dbfread
for name in ("ALBUMS.DBF", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"):
    t = dbfread.DBF(os.path.join(sys.argv[1], name), encoding="cp1252")
    rows = sorted(repr(sorted(r.items())) for r in t.records)
    print(name, len(rows), len(list(t.deleted)))
    for r in rows: print(r)
)"),
                                             {folder});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return r.out;
}

// A zip archive with the given entries (names kept exactly as given) of the given files.
void makeZip(const QString& zip, const std::vector<std::pair<QString, QString>>& entries) {
    QStringList args{zip};
    for (const auto& [name, path] : entries) args << name << path;
    const auto r = albumora::test::runPython(S(R"(
import sys, zipfile, warnings
warnings.simplefilter("ignore")
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    a = sys.argv[2:]
    for name, path in zip(a[0::2], a[1::2]):
        z.writestr(zipfile.ZipInfo(name), open(path, "rb").read())
)"),
                                             args);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
}

// Every file of a folder with its bytes, hidden ones too.
std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> files;
    for (const QString& f : QDir(folder).entryList(QDir::Files | QDir::Hidden)) files[f] = albumora::test::fileBytes(QDir(folder).filePath(f));
    return files;
}

QStringList restoreLeftovers(const QString& folder) {
    return QDir(folder).entryList({S(".albumora-restore*")}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

class BackupRestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cli(data, {S("init")}).exitCode, 0);
        QDir().mkpath(lists);
        for (int i = 1; i <= 4; ++i) importAlbum(S("Seed %1").arg(i), 3 + i);
        ASSERT_TRUE(albumora::test::writeFileBytes(QDir(data).filePath(S("notes.txt")), "my notes\r\n"));
    }
    QString importAlbum(const QString& title, int tracks) {
        QString text;
        for (int t = 1; t <= tracks; ++t) text += S("%1. %2 song %1\n").arg(t).arg(title);
        const QString list = QDir(lists).filePath(title + S(".txt"));
        EXPECT_TRUE(albumora::test::writeFileBytes(list, text.toUtf8()));
        const auto r = cli(data, {S("import"), S("--source"), S("numbered"), list, S("--artist"), S("Writer"), S("--title"), title,
                             S("--genre"), S("rock")});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.out.trimmed();
    }
    QString archive() const { return QDir(data).filePath(S("Albumoradata.zip")); }
    void maintainZip() {
        const auto m = cli(data, {S("maintain"), S("--zip")});
        ASSERT_EQ(m.exitCode, 0) << m.err.toStdString();
    }
    TempFolder dir;
    const QString data = dir.file(S("data"));
    const QString lists = dir.file(S("lists"));
};

TEST_F(BackupRestoreTest, ABackupRestoredIntoAnEmptyFolderHoldsTheSameRows) {
    const QString gone = importAlbum(S("Gone"), 2);
    ASSERT_FALSE(gone.isEmpty());
    const auto del = cli(data, {S("delete"), gone});
    ASSERT_EQ(del.exitCode, 0) << del.err.toStdString();
    maintainZip();
    const QString empty = dir.file(S("restored"));
    const auto r = cli(empty, {S("restore"), archive()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(S("ALBUMS.DBF"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(S("TRACKS.CDX"))) << r.out.toStdString();
    const QString before = dump(data);
    EXPECT_TRUE(before.startsWith(S("ALBUMS.DBF 4 0\n"))) << before.toStdString();
    EXPECT_EQ(dump(empty), before);
    EXPECT_EQ(albumora::test::fileBytes(QDir(empty).filePath(S("notes.txt"))), QByteArray("my notes\r\n"));
    const auto c = cli(empty, {S("check")});
    EXPECT_EQ(c.exitCode, 0) << c.out.toStdString() << c.err.toStdString();
    EXPECT_TRUE(restoreLeftovers(empty).isEmpty());
    // The restored collection takes new albums as any other.
    const auto more = cli(empty, {S("count"), S("TRACKS.DBF")});
    EXPECT_EQ(more.out.trimmed(), S("22"));
}

// A folder with a collection is replaced only when asked, and then wholly: rows stored after
// the backup are gone, the tracks view's work table too.
TEST_F(BackupRestoreTest, AnExistingCollectionIsReplacedOnlyWithForce) {
    maintainZip();
    const QString backedUp = dump(data);
    ASSERT_NE(importAlbum(S("Later"), 5), QString());
    ASSERT_TRUE(QFile::copy(QDir(data).filePath(S("TRACKS.DBF")), QDir(data).filePath(S("TVIEW.DBF"))));
    const auto files = snapshot(data);

    const auto refused = cli(data, {S("restore"), archive()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(S("--force"))) << refused.err.toStdString();
    EXPECT_EQ(snapshot(data), files);

    const auto forced = cli(data, {S("restore"), archive(), S("--force")});
    ASSERT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    EXPECT_EQ(dump(data), backedUp);
    EXPECT_FALSE(QFile::exists(QDir(data).filePath(S("TVIEW.DBF"))));
    EXPECT_EQ(cli(data, {S("check")}).exitCode, 0);
    EXPECT_TRUE(restoreLeftovers(data).isEmpty());
}

// An archive whose table is damaged, or whose bytes fail their checksum, changes nothing.
TEST_F(BackupRestoreTest, ADamagedArchiveReplacesNothing) {
    maintainZip();
    TempFolder parts;
    ASSERT_EQ(albumora::test::runProcess(S("unzip"), {S("-q"), archive(), S("-d"), parts.path()}).exitCode, 0);
    QByteArray tracks = albumora::test::fileBytes(parts.file(S("TRACKS.DBF")));
    ASSERT_GT(tracks.size(), 1000);

    struct Case {
        const char* what;
        QByteArray tracksBytes;
        bool flipInArchive;
    };
    QByteArray cut = tracks.left(tracks.size() - 150);   // rows the header counts are missing
    QByteArray badHeader = tracks;
    badHeader[8] = char(0x01);                           // a header length smaller than the header
    badHeader[9] = char(0x00);
    const Case cases[] = {{"table cut short", cut, false}, {"header broken", badHeader, false}, {"checksum fails", tracks, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(albumora::test::writeFileBytes(parts.file(S("TRACKS.DBF")), c.tracksBytes));
        const QString zip = dir.file(S("bad.zip"));
        QFile::remove(zip);
        std::vector<std::pair<QString, QString>> entries;
        for (const char* n : {"ALBUMS.DBF", "ALBUMS.FPT", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"}) entries.emplace_back(S(n), parts.file(S(n)));
        makeZip(zip, entries);
        if (c.flipInArchive) {
            // A byte in the middle of the compressed data of the last entries.
            QByteArray z = albumora::test::fileBytes(zip);
            z[z.size() / 2] = char(z[z.size() / 2] ^ 0x55);
            ASSERT_TRUE(albumora::test::writeFileBytes(zip, z));
        }
        const auto files = snapshot(data);
        const auto r = cli(data, {S("restore"), zip, S("--force")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(S("Nothing was restored"))) << r.err.toStdString();
        EXPECT_EQ(snapshot(data), files);
        EXPECT_TRUE(restoreLeftovers(data).isEmpty());
    }
}

// Entries that name folders, parent folders, absolute paths or files no backup holds are
// refused before anything is written, anywhere.
TEST_F(BackupRestoreTest, HostileArchivesAreRefused) {
    maintainZip();
    TempFolder parts;
    ASSERT_EQ(albumora::test::runProcess(S("unzip"), {S("-q"), archive(), S("-d"), parts.path()}).exitCode, 0);
    const QString absolute = dir.file(S("planted.ini"));
    struct Case {
        QString extra;  // an added entry, holding notes.txt's bytes
        bool withTracks;
    };
    const Case cases[] = {{S("../planted.ini"), true},       {absolute, true},         {S("sub/notes.txt"), true},
                          {S("..\\planted.ini"), true},      {S("run.sh"), true},      {S(".albumora-lock"), true},
                          {S("ALBUMS.CDX"), true},           {S("albums.dbf"), true},  {S(""), false}};
    ASSERT_TRUE(albumora::test::writeFileBytes(parts.file(S("notes.txt")), "planted\r\n"));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra.toStdString());
        std::vector<std::pair<QString, QString>> entries;
        for (const char* t : {"ALBUMS.DBF", "ALBUMS.FPT", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"})
            if (c.withTracks || QString::fromLatin1(t) != S("TRACKS.DBF")) entries.emplace_back(S(t), parts.file(S(t)));
        if (!c.extra.isEmpty()) entries.emplace_back(c.extra, parts.file(S("notes.txt")));
        const QString zip = dir.file(S("hostile%1.zip").arg(++n));
        makeZip(zip, entries);
        const QString target = dir.file(S("target%1").arg(n));
        const auto r = cli(target, {S("restore"), zip});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(S("Nothing was restored"))) << r.err.toStdString();
        EXPECT_TRUE(QDir(target).entryList({S("*.DBF"), S("*.dbf")}, QDir::Files).isEmpty());
        EXPECT_TRUE(restoreLeftovers(target).isEmpty());
        EXPECT_FALSE(QFile::exists(absolute));
        EXPECT_FALSE(QFile::exists(dir.file(S("planted.ini"))));
        EXPECT_FALSE(QFile::exists(QDir(target).filePath(S("sub"))));
    }
}

// How many crash points a maintenance run passes on a copy of the folder.
long crashPoints(const QString& folder, const QStringList& args) {
    const auto r = runWith(crashCli(), QStringList{S("--data"), folder} + args, {{S("ALBUMORA_CRASH_COUNT"), S("1")}});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto m = QRegularExpression(S("crash points: (\\d+)")).match(r.err);
    EXPECT_TRUE(m.hasMatch()) << r.err.toStdString();
    return m.captured(1).toLong();
}

// Another program's save that comes while maintenance writes the archive waits for it: the
// archive holds the collection as the packs left it, and the save lands whole afterwards.
TEST_F(BackupRestoreTest, ASaveDuringMaintenanceWaitsForIt) {
    maintainZip();
    const QString probe = dir.file(S("probe"));
    copyFolder(data, probe);
    const long points = crashPoints(probe, {S("maintain"), S("--zip")});
    ASSERT_GT(points, 10);
    // The last points are the archive's: its writes, sync and rename.
    QProcess maintain;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(S("ALBUMORA_PAUSE_AT"), QString::number(points - 3));
    env.insert(S("ALBUMORA_PAUSE_MS"), S("2500"));
    maintain.setProcessEnvironment(env);
    maintain.start(crashCli(), {S("--data"), data, S("maintain"), S("--zip")});
    ASSERT_TRUE(maintain.waitForStarted());
    QByteArray err;
    QElapsedTimer wait;
    wait.start();
    while (!err.contains("pause point") && wait.elapsed() < 30000 && maintain.state() == QProcess::Running) {
        maintain.waitForReadyRead(100);
        err += maintain.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("pause point")) << err.toStdString();
    QElapsedTimer clock;
    clock.start();
    const QString id = importAlbum(S("Meanwhile"), 6);
    const qint64 importDone = clock.elapsed();
    ASSERT_TRUE(maintain.waitForFinished(30000));
    EXPECT_EQ(maintain.exitCode(), 0) << maintain.readAllStandardError().toStdString();
    // The import waited out the pause (about 2.5 s) rather than slipping in.
    EXPECT_GT(importDone, 1500);
    ASSERT_FALSE(id.isEmpty());

    TempFolder out;
    ASSERT_EQ(albumora::test::runProcess(S("unzip"), {S("-q"), archive(), S("-d"), out.path()}).exitCode, 0);
    EXPECT_TRUE(dump(out.path()).startsWith(S("ALBUMS.DBF 4 0\n")));
    EXPECT_TRUE(dump(data).startsWith(S("ALBUMS.DBF 5 0\n")));
    EXPECT_EQ(cli(data, {S("check")}).exitCode, 0);
}

// Killed before any of its writes, renames, deletes or syncs, maintenance leaves every table
// readable with all its rows and the archive either the old or the new one, whole.
TEST_F(BackupRestoreTest, AKilledMaintenanceLeavesEveryTableWhole) {
    maintainZip();
    // Rows to pack away: an album deleted after the last maintenance.
    const QString id = importAlbum(S("Deleted"), 4);
    ASSERT_EQ(cli(data, {S("delete"), id}).exitCode, 0);
    const QString rows = dump(data).replace(QRegularExpression(S(" \\d+\n")), S("\n"));  // deleted counts differ
    const QString work = dir.file(S("work"));
    copyFolder(data, work);
    const long points = crashPoints(work, {S("maintain"), S("--zip")});
    ASSERT_GT(points, 10);
    // Every point when there are few, else an even spread that keeps the run short.
    const long step = std::max(1L, points / 60);
    for (long at = 1; at <= points; at += step) {
        SCOPED_TRACE(at);
        copyFolder(data, work);
        const auto r = runWith(crashCli(), {S("--data"), work, S("maintain"), S("--zip")}, {{S("ALBUMORA_CRASH_AT"), QString::number(at)}});
        ASSERT_TRUE(r.crashed) << r.err.toStdString();
        // The next program to open the tables finishes or clears what the kill left.
        for (const char* t : {"ALBUMS.DBF", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"})
            ASSERT_EQ(cli(work, {S("count"), S(t)}).exitCode, 0) << t;
        EXPECT_EQ(dump(work).replace(QRegularExpression(S(" \\d+\n")), S("\n")), rows);
        const auto c = cli(work, {S("check")});
        EXPECT_EQ(c.exitCode, 0) << c.out.toStdString();
        const auto t = albumora::test::runProcess(S("unzip"), {S("-tq"), QDir(work).filePath(S("Albumoradata.zip"))});
        EXPECT_EQ(t.exitCode, 0) << t.out.toStdString() << t.err.toStdString();
    }
}

}  // namespace
