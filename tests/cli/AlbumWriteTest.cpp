// Whole albums across processes: the companion's import and delete write an album's rows in four
// tables as one write. Real processes run them; several at once on one folder, killed before
// each of their writes, renames, deletes and syncs, or failed there with a full disk, an I/O
// error or a refused write. Afterwards the folder is read by another process, as the next
// program to open it would, and must hold every album whole or not at all.
#include "DMcd.h"
#include "Journal.h"
#include "CliProcesses.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <map>
#include <set>

#include <cerrno>

using namespace albumora::store;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;
using albumora::test::Outcome;
using albumora::test::copyFolder;
using albumora::test::run;

namespace {


QString cli() { return QStringLiteral(ALBUMORA_CLI_PATH); }
QString crashCli() { return QStringLiteral(ALBUMORA_CLI_CRASH_PATH); }

// What a folder holds, read through the engine in this process (a fresh data module each time).
struct Collection {
    std::map<QString, QString> titles;              // album ID -> title
    std::map<QString, QStringList> tracks;          // album ID -> track titles in track order
    std::map<QString, int> artists;                 // album ID -> artist rows
    int albumRows = 0;
};

Collection read(const QString& folder) {
    Collection c;
    TDM dm(folder);
    EXPECT_TRUE(dm.OpenCollectionTables().isOk());
    Cursor& a = dm.tblFilter;
    EXPECT_TRUE(a.setOrder(QStringLiteral("ID")).isOk());
    EXPECT_TRUE(a.open().isOk());
    for (Status st = a.first(); st && !a.eof() && !a.isEmpty(); st = a.next()) {
        c.titles[a.text(QStringLiteral("ID"))] = a.text(QStringLiteral("ALBUM"));
        ++c.albumRows;
    }
    Cursor& t = dm.tblCD;
    for (Status st = t.first(); st && !t.eof() && !t.isEmpty(); st = t.next())
        c.tracks[t.text(QStringLiteral("ID"))] << t.text(QStringLiteral("TRACK"));
    Cursor& ar = dm.tblArtists;
    for (Status st = ar.first(); st && !ar.eof() && !ar.isEmpty(); st = ar.next()) ++c.artists[ar.text(QStringLiteral("ID"))];
    dm.CloseAll();
    return c;
}

QString trackList(const QString& folder, const QString& name, int tracks) {
    QString text;
    for (int i = 1; i <= tracks; ++i) text += QStringLiteral("%1. %2 song %1\n").arg(i).arg(name);
    const QString path = QDir(folder).filePath(name + QStringLiteral(".txt"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text.toUtf8());
    return path;
}

QStringList importArgs(const QString& folder, const QString& list, const QString& title) {
    return {QStringLiteral("--data"), folder, QStringLiteral("import"), QStringLiteral("--source"), QStringLiteral("numbered"),
            list, QStringLiteral("--artist"), QStringLiteral("Writer"), QStringLiteral("--title"), title,
            QStringLiteral("--genre"), QStringLiteral("rock")};
}

// The folder passes the companion's whole check, run by a process of its own.
void expectClean(const QString& folder, const std::string& context) {
    const Outcome c = run(cli(), {QStringLiteral("--data"), folder, QStringLiteral("check")});
    EXPECT_EQ(c.code, 0) << context << "\n" << c.out.toStdString() << c.err.toStdString();
}

class AlbumWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Outcome init = run(cli(), {QStringLiteral("--data"), data, QStringLiteral("init")});
        ASSERT_EQ(init.code, 0) << init.err.toStdString();
        lists = QDir(dir.path()).filePath(QStringLiteral("lists"));
        QDir().mkpath(lists);
    }
    // A few albums to start from, one of them on a multi-artist album.
    void seed(int n) {
        for (int i = 1; i <= n; ++i) {
            const Outcome r = run(cli(), importArgs(data, trackList(lists, QStringLiteral("seed%1").arg(i), 3 + i), QStringLiteral("Seed %1").arg(i)));
            ASSERT_EQ(r.code, 0) << r.err.toStdString();
        }
    }
    TempFolder dir;
    const QString data = dir.file(QStringLiteral("data"));
    QString lists;
};

TEST_F(AlbumWriteTest, TwoWritersAtOnceKeepEveryAlbumWholeAndApart) {
    // Two loops of imports side by side, as two shells would run them.
    const int perWriter = 25;
    const QString script = QStringLiteral(
        "for i in $(seq 1 %1); do\n"
        "  out=$(\"$CLI\" --data \"$DATA\" import --source numbered \"$LISTS/$W$i.txt\" --artist \"$W\" --title \"$W $i\" "
        "--genre rock 2>>\"$LISTS/$W.err\"); rc=$?\n"
        "  echo \"$i $rc $out\"\n"
        "done\n")
                               .arg(perWriter);
    for (const char* w : {"alpha", "beta"})
        for (int i = 1; i <= perWriter; ++i) trackList(lists, QStringLiteral("%1%2").arg(QLatin1String(w)).arg(i), 2 + i % 7);
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const char* w : {"alpha", "beta"}) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("CLI"), cli());
        e.insert(QStringLiteral("DATA"), data);
        e.insert(QStringLiteral("LISTS"), lists);
        e.insert(QStringLiteral("W"), QLatin1String(w));
        p->setProcessEnvironment(e);
        p->start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        ASSERT_TRUE(p->waitForStarted());
        writers.push_back(std::move(p));
    }
    // Meanwhile a reader in this process sees the albums grow, each time it looks.
    TDM reader(data);
    ASSERT_STORE_OK(reader.OpenCollectionTables());
    qint64 last = 0;
    int grew = 0;
    while (writers[0]->state() != QProcess::NotRunning || writers[1]->state() != QProcess::NotRunning) {
        for (auto& w : writers) w->waitForFinished(15);
        auto n = reader.tblAlbums.recordCount();
        ASSERT_TRUE(n.isOk()) << n.error().text().toStdString();
        EXPECT_GE(*n, last);
        grew += *n > last ? 1 : 0;
        last = *n;
    }
    writers[1]->waitForFinished();
    EXPECT_GE(grew, 2) << "the reader never saw the other writers' albums arrive";

    const Collection c = read(data);
    std::set<QString> ids;
    int stored = 0;
    for (size_t k = 0; k < writers.size(); ++k) {
        const QString w = k == 0 ? QStringLiteral("alpha") : QStringLiteral("beta");
        const QStringList lines = QString::fromUtf8(writers[k]->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), perWriter);
        for (const QString& line : lines) {
            const QStringList f = line.split(QLatin1Char(' '));
            ASSERT_GE(f.size(), 2) << line.toStdString();
            ASSERT_EQ(f[1], QStringLiteral("0")) << w.toStdString() << " import " << f[0].toStdString() << " failed: "
                                                 << albumora::test::fileBytes(QDir(lists).filePath(w + QStringLiteral(".err"))).toStdString();
            ASSERT_EQ(f.size(), 3) << line.toStdString();
            const QString id = f[2];
            EXPECT_TRUE(ids.insert(id).second) << id.toStdString() << " was given to two albums";
            // The ID it printed holds its own album, with its own tracks, all of them.
            EXPECT_EQ(c.titles.count(id) ? c.titles.at(id) : QString(), QStringLiteral("%1 %2").arg(w, f[0]));
            const int n = f[0].toInt();
            QStringList want;
            for (int t = 1; t <= 2 + n % 7; ++t) want << QStringLiteral("%1%2 song %3").arg(w).arg(n).arg(t);
            EXPECT_EQ(c.tracks.count(id) ? c.tracks.at(id) : QStringList(), want) << id.toStdString();
            EXPECT_EQ(c.artists.count(id) ? c.artists.at(id) : 0, 1) << id.toStdString();
            ++stored;
        }
    }
    EXPECT_EQ(stored, 2 * perWriter);
    EXPECT_EQ(c.albumRows, 2 * perWriter);
    expectClean(data, "after two writers");
}

TEST_F(AlbumWriteTest, AWriterKilledAtAnyMomentLeavesTheAlbumWholeOrAbsent) {
    seed(3);
    const QString base = dir.file(QStringLiteral("base"));
    copyFolder(data, base);
    const Collection before = read(base);
    const QString list = trackList(lists, QStringLiteral("killed"), 6);

    struct Flow {
        const char* name;
        QStringList args;
    };
    const QString victim = before.titles.begin()->first;
    const Flow flows[] = {{"import", importArgs(data, list, QStringLiteral("Killed"))},
                          {"delete", {QStringLiteral("--data"), data, QStringLiteral("delete"), victim}}};
    for (const Flow& flow : flows) {
        // How many moments the flow has: a run that is not killed counts them.
        copyFolder(base, data);
        const Outcome whole = run(crashCli(), flow.args, {{QStringLiteral("ALBUMORA_CRASH_COUNT"), QStringLiteral("1")}});
        ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
        const qsizetype at = whole.err.indexOf(QStringLiteral("crash points: "));
        ASSERT_GE(at, 0);
        const long points = whole.err.mid(at + 14).trimmed().toLong();
        ASSERT_GT(points, 5);
        int landed = 0, undone = 0;
        for (long n = 1; n <= points; ++n) {
            copyFolder(base, data);
            const Outcome r = run(crashCli(), flow.args, {{QStringLiteral("ALBUMORA_CRASH_AT"), QString::number(n)}});
            const std::string context = std::string(flow.name) + ", killed at " + std::to_string(n) + " of " +
                                        std::to_string(points) + ": " + r.err.trimmed().toStdString();
            ASSERT_TRUE(r.crashed) << context;
            const Collection after = read(data);
            if (std::string(flow.name) == "import") {
                if (after.albumRows == before.albumRows + 1) {
                    ++landed;
                    for (const auto& [id, title] : after.titles)
                        if (title == QLatin1String("Killed")) EXPECT_EQ(after.tracks.at(id).size(), 6) << context;
                } else {
                    ++undone;
                    EXPECT_EQ(after.titles, before.titles) << context;
                    EXPECT_EQ(after.tracks, before.tracks) << context;
                }
            } else {
                if (after.albumRows == before.albumRows - 1) {
                    ++landed;
                    EXPECT_FALSE(after.titles.count(victim)) << context;
                    EXPECT_FALSE(after.tracks.count(victim)) << context;
                    EXPECT_FALSE(after.artists.count(victim)) << context;
                } else {
                    ++undone;
                    EXPECT_EQ(after.titles, before.titles) << context;
                    EXPECT_EQ(after.tracks, before.tracks) << context;
                    EXPECT_EQ(after.artists, before.artists) << context;
                }
            }
            expectClean(data, context);
            if (HasFailure()) return;
        }
        // The kills fell both before and after the commit.
        EXPECT_GT(landed, 0) << flow.name;
        EXPECT_GT(undone, 0) << flow.name;
        std::printf("[ %s ] %ld moments: %d left the change whole, %d the collection as before\n", flow.name, points, landed, undone);
    }
}

TEST_F(AlbumWriteTest, AFailedWriteChangesNothingAndSaysSo) {
    seed(2);
    const QString base = dir.file(QStringLiteral("base"));
    copyFolder(data, base);
    const Collection before = read(base);
    const QString list = trackList(lists, QStringLiteral("failing"), 5);
    const QString victim = before.titles.begin()->first;
    struct Fault {
        const char* name;
        int err;
        bool sticky;
    };
    const Fault faults[] = {{"a full disk", ENOSPC, true}, {"an I/O error", EIO, false}, {"a refused write", EACCES, false}};
    const std::pair<const char*, QStringList> flows[] = {
        {"import", importArgs(data, list, QStringLiteral("Failing"))},
        {"delete", {QStringLiteral("--data"), data, QStringLiteral("delete"), victim}}};
    for (const auto& [flowName, args] : flows) {
        copyFolder(base, data);
        const Outcome whole = run(crashCli(), args, {{QStringLiteral("ALBUMORA_CRASH_COUNT"), QStringLiteral("1")}});
        ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
        const long points = whole.err.mid(whole.err.indexOf(QStringLiteral("crash points: ")) + 14).trimmed().toLong();
        ASSERT_GT(points, 5);
        for (const Fault& fault : faults) {
            int refused = 0;
            for (long n = 1; n <= points; ++n) {
                copyFolder(base, data);
                std::map<QString, QString> env{{QStringLiteral("ALBUMORA_FAIL_AT"), QString::number(n)},
                                               {QStringLiteral("ALBUMORA_FAIL_ERRNO"), QString::number(fault.err)}};
                if (fault.sticky) env[QStringLiteral("ALBUMORA_FAIL_STICKY")] = QStringLiteral("1");
                const Outcome r = run(crashCli(), args, env);
                const std::string context = std::string(flowName) + " with " + fault.name + " at " + std::to_string(n) + ": " +
                                            r.err.trimmed().toStdString();
                ASSERT_FALSE(r.crashed) << context;
                const Collection after = read(data);
                if (r.code != 0) {
                    // Refused: one clear line, and the collection exactly as before.
                    ++refused;
                    EXPECT_TRUE(r.err.contains(QStringLiteral("albumora-cli: "))) << context;
                    EXPECT_EQ(after.titles, before.titles) << context;
                    EXPECT_EQ(after.tracks, before.tracks) << context;
                    EXPECT_EQ(after.artists, before.artists) << context;
                } else if (std::string(flowName) == "import") {
                    // Reported as done: then it is done, whole.
                    EXPECT_EQ(after.albumRows, before.albumRows + 1) << context;
                    for (const auto& [id, title] : after.titles)
                        if (title == QLatin1String("Failing")) EXPECT_EQ(after.tracks.at(id).size(), 5) << context;
                } else {
                    EXPECT_FALSE(after.titles.count(victim)) << context;
                    EXPECT_FALSE(after.tracks.count(victim)) << context;
                }
                expectClean(data, context);
                if (HasFailure()) return;
            }
            EXPECT_GT(refused, 0) << flowName << " with " << fault.name;
        }
    }
}

// What another xBase program reads from ALBUMS.DBF and its memo file, with no help from ours:
// python's dbfread, run before any Albumora process opens the folder again. Every visible row
// as "ID<TAB>notes", or the reader's error.
QStringList readWithDbfread(const QString& folder) {
    const auto r = albumora::test::runPython(QStringLiteral(
        "import sys, json\n"
        "from dbfread import DBF\n"
        "rows = []\n"
        "for rec in DBF(sys.argv[1], encoding='cp1252', char_decode_errors='strict'):\n"
        "    rec = {k.upper(): v for k, v in rec.items()}\n"
        "    rows.append(rec['ID'] + '\\t' + (rec['NOTES'] or ''))\n"
        "print(json.dumps(sorted(rows)))\n"),
        {QDir(folder).filePath(QStringLiteral("ALBUMS.DBF"))});
    if (r.exitCode != 0) return {QStringLiteral("dbfread failed: ") + r.err.trimmed()};
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(r.out.toUtf8()).array()) out << v.toString();
    return out;
}

TEST_F(AlbumWriteTest, APackKilledAtAnyMomentLeavesOtherProgramsAPairOfFilesThatBelongTogether) {
    // Albums with notes of one to many memo blocks, some notes rewritten (their old blocks left
    // unreferenced) and some albums deleted: the pack has memos to move and garbage to drop.
    {
        TDM dm(data);
        ASSERT_STORE_OK(dm.OpenCollectionTables());
        auto t = Transaction::begin(data);
        ASSERT_TRUE(t.isOk()) << t.error().text().toStdString();
        for (int a = 0; a < 40; ++a) {
            ASSERT_STORE_OK(dm.tblAlbums.append());
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ID"), QStringLiteral("%1").arg(a, 8, 16, QLatin1Char('0'))));
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Artist"), QStringLiteral("Artist %1").arg(a)));
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Album"), QStringLiteral("Album %1").arg(a)));
            if (a % 5 != 4) ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Notes"), QStringLiteral("Notes of album %1 ").arg(a).repeated(1 + a % 9)));
            ASSERT_STORE_OK(dm.tblAlbums.post());
        }
        ASSERT_STORE_OK(t->commit());
        ASSERT_STORE_OK(dm.tblAlbums.setOrder(QString()));
        auto u = Transaction::begin(data);
        ASSERT_TRUE(u.isOk());
        for (std::uint32_t r : {3u, 11u, 12u, 30u}) {
            ASSERT_STORE_OK(dm.tblAlbums.gotoBookmark({r}));
            ASSERT_STORE_OK(dm.tblAlbums.edit());
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Notes"), QStringLiteral("Rewritten notes of row %1").arg(r)));
            ASSERT_STORE_OK(dm.tblAlbums.post());
        }
        for (std::uint32_t r : {1u, 7u, 8u, 25u, 40u}) {
            ASSERT_STORE_OK(dm.tblAlbums.gotoBookmark({r}));
            ASSERT_STORE_OK(dm.tblAlbums.deleteRecord());
        }
        ASSERT_STORE_OK(u->commit());
        dm.CloseAll();
    }
    const QString base = dir.file(QStringLiteral("base"));
    copyFolder(data, base);
    const QStringList before = readWithDbfread(base);
    ASSERT_EQ(before.size(), 35) << before.join(QLatin1Char('\n')).toStdString();
    const qint64 fptBefore = QFileInfo(QDir(base).filePath(QStringLiteral("ALBUMS.FPT"))).size();

    const QStringList args{QStringLiteral("--data"), data, QStringLiteral("pack"), QStringLiteral("ALBUMS.DBF")};
    const Outcome whole = run(crashCli(), args, {{QStringLiteral("ALBUMORA_CRASH_COUNT"), QStringLiteral("1")}});
    ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
    EXPECT_EQ(readWithDbfread(data), before);
    EXPECT_LT(QFileInfo(QDir(data).filePath(QStringLiteral("ALBUMS.FPT"))).size(), fptBefore) << "the memo file was not compacted";
    // The albums have no tracks here: each table is checked on its own.
    const auto tablesClean = [&](const std::string& context) {
        const Outcome c = run(cli(), {QStringLiteral("--data"), data, QStringLiteral("check"), QStringLiteral("--tables")});
        EXPECT_EQ(c.code, 0) << context << "\n" << c.out.toStdString() << c.err.toStdString();
    };
    tablesClean("after the pack");
    const qsizetype at = whole.err.indexOf(QStringLiteral("crash points: "));
    ASSERT_GE(at, 0);
    const long points = whole.err.mid(at + 14).trimmed().toLong();
    ASSERT_GT(points, 8);
    for (long n = 1; n <= points; ++n) {
        copyFolder(base, data);
        const Outcome r = run(crashCli(), args, {{QStringLiteral("ALBUMORA_CRASH_AT"), QString::number(n)}});
        const std::string context = "pack killed at " + std::to_string(n) + " of " + std::to_string(points);
        ASSERT_TRUE(r.crashed) << context << ": " << r.err.toStdString();
        // Another program sees the rows with their own notes, whichever DBF it finds.
        EXPECT_EQ(readWithDbfread(data), before) << context;
        // Our check tells of an unfinished pack; the next open of the table finishes it.
        const Outcome c = run(cli(), {QStringLiteral("--data"), data, QStringLiteral("check"), QStringLiteral("--tables")});
        if (c.code != 0) EXPECT_TRUE(c.out.contains(QStringLiteral("a pack was interrupted"))) << context << "\n" << c.out.toStdString();
        const Outcome count = run(cli(), {QStringLiteral("--data"), data, QStringLiteral("count"), QStringLiteral("ALBUMS.DBF")});
        EXPECT_EQ(count.out.trimmed(), QStringLiteral("35")) << context << ": " << count.err.toStdString();
        tablesClean(context);
        EXPECT_EQ(readWithDbfread(data), before) << context;
    }
}

TEST_F(AlbumWriteTest, AWriterThatCannotGetTheLockWritesNothing) {
    seed(1);
    const Collection before = read(data);
    // Another program holds the writers' lock for longer than a writer waits.
    Folder::setWaitMs(200);
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("-x"), Folder::lockPath(data), QStringLiteral("sleep"), QStringLiteral("15")});
    ASSERT_TRUE(holder.waitForStarted());
    // Until the lock is taken the test cannot know the writer will meet it.
    for (int i = 0; i < 200; ++i) {
        auto t = Transaction::begin(data, 0);
        if (!t) break;
        t->abort();
        QThread::msleep(10);
    }
    const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    const Outcome r = run(cli(), importArgs(data, trackList(lists, QStringLiteral("locked"), 4), QStringLiteral("Locked")));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Another program is writing to the collection"))) << r.err.toStdString();
    EXPECT_LT(started.elapsed(), 14000) << "the writer waited for the lock without bound";
    // In this process too: the write cannot begin, and says why.
    {
        auto t = Transaction::begin(data);
        ASSERT_FALSE(t.isOk());
        EXPECT_EQ(t.error().kind(), ErrorKind::Locked);
    }
    holder.kill();
    holder.waitForFinished();
    Folder::setWaitMs(Folder::kDefaultWaitMs);
    const Collection after = read(data);
    EXPECT_EQ(after.titles, before.titles);
    EXPECT_EQ(after.tracks, before.tracks);
    expectClean(data, "after the refused writes");
}

}  // namespace

// The tracks view's work table is built aside and put in place by renaming: a build killed at
// any write, rename or sync leaves either no TVIEW.DBF (the next opening builds it) or the
// whole table, never a part the next opening would trust.
TEST_F(AlbumWriteTest, ATracksViewBuildKilledAnywhereLeavesNoPartOfATable) {
    seed(3);
    const QString base = dir.file(QStringLiteral("base"));
    copyFolder(data, base);
    const QStringList args{QStringLiteral("--data"), data, QStringLiteral("tracks"), QStringLiteral("dj")};
    const Outcome whole = run(crashCli(), args, {{QStringLiteral("ALBUMORA_CRASH_COUNT"), QStringLiteral("1")}});
    ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
    const QByteArray expected = albumora::test::fileBytes(QDir(data).filePath(QStringLiteral("DJintel.csv")));
    ASSERT_EQ(expected.count("\r\n"), 4 + 5 + 6);
    const qsizetype at = whole.err.indexOf(QStringLiteral("crash points: "));
    ASSERT_GE(at, 0);
    const long points = whole.err.mid(at + 14).trimmed().toLong();
    ASSERT_GT(points, 5);
    for (long n = 1; n <= points; ++n) {
        copyFolder(base, data);
        const Outcome r = run(crashCli(), args, {{QStringLiteral("ALBUMORA_CRASH_AT"), QString::number(n)}});
        const std::string context = "killed at " + std::to_string(n) + " of " + std::to_string(points);
        ASSERT_TRUE(r.crashed) << context << ": " << r.err.toStdString();
        const Outcome again = run(cli(), args);
        ASSERT_EQ(again.code, 0) << context << ": " << again.err.toStdString();
        EXPECT_EQ(albumora::test::fileBytes(QDir(data).filePath(QStringLiteral("DJintel.csv"))), expected) << context;
        const Outcome c = run(cli(), {QStringLiteral("--data"), data, QStringLiteral("check")});
        EXPECT_EQ(c.code, 0) << context << "\n" << c.out.toStdString();
    }
}
