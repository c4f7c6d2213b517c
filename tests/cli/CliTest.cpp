// albumora-cli from the outside: what it prints, what it exits with and what it leaves on disk,
// on a data folder filled through the same engine the desktop program uses.
#include "CliProcesses.h"
#include "Cursor.h"
#include "DMcd.h"
#include "IndexFile.h"
#include "Table.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

using namespace albumora::store;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;

namespace {

#define OK(expr)                                                              \
    do {                                                                      \
        const ::albumora::store::Status st_ = (expr);                         \
        ASSERT_TRUE(st_.isOk()) << #expr << ": " << st_.text().toStdString(); \
    } while (0)

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QStringList lines(const QString& text) { return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

// RFC 4180 as the command promises it: fields quoted where they hold a comma, a quote or a line
// break, quotes doubled inside, every record ended by CR LF, and no line break outside quotes.
struct Csv {
    std::vector<QStringList> rows;
    QString error;
};

Csv parseCsv(const QString& text) {
    Csv out;
    QStringList row;
    QString field;
    bool inQuotes = false, quoted = false;
    auto fail = [&](const QString& why, qsizetype at) {
        out.error = QStringLiteral("%1 at character %2").arg(why).arg(at);
        return out;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else {
                inQuotes = false;
            }
            continue;
        }
        if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
            quoted = false;
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 >= text.size() || text[i + 1] != QLatin1Char('\n')) return fail(QStringLiteral("CR without LF"), i);
            ++i;
            row << field;
            out.rows.push_back(row);
            row.clear();
            field.clear();
            quoted = false;
        } else if (c == QLatin1Char('\n')) {
            return fail(QStringLiteral("LF without CR outside quotes"), i);
        } else if (quoted) {
            return fail(QStringLiteral("text after a closing quote"), i);
        } else if (c == QLatin1Char('"')) {
            if (!field.isEmpty()) return fail(QStringLiteral("quote inside an unquoted field"), i);
            inQuotes = quoted = true;
        } else {
            field += c;
        }
    }
    if (inQuotes) return fail(QStringLiteral("unterminated quote"), text.size());
    if (!row.isEmpty() || !field.isEmpty() || quoted) return fail(QStringLiteral("last record without CR LF"), text.size());
    return out;
}

// python's csv module over the same bytes, as a second opinion on the quoting.
std::vector<QStringList> parseWithPython(const QString& csvFile) {
    const auto r = albumora::test::runPython(QStringLiteral(
        "import csv, json, sys\n"
        "with open(sys.argv[1], encoding='utf-8', newline='') as f:\n"
        "    print(json.dumps(list(csv.reader(f, strict=True))))\n"), {csvFile});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    std::vector<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(r.out.toUtf8()).array()) {
        QStringList l;
        for (const QJsonValue& v : row.toArray()) l << v.toString();
        rows.push_back(l);
    }
    return rows;
}

QString longNotes() {
    QString s;
    for (int i = 0; s.size() < 3000; ++i) s += QStringLiteral("Line %1: Sigur Rós, „Ágætis byrjun“ – 12,50 €\r\n").arg(i);
    return s;
}

struct Album {
    QString id, artist, album, genre, label, notes;
    bool deleted;
};

std::vector<Album> albums() {
    return {
        {QStringLiteral("0a0b0c0d"), QStringLiteral("Björk"), QStringLiteral("Homogenic"), QStringLiteral("Electronic"),
         QStringLiteral("Shelf 1"), QStringLiteral("COST=12.50\r\nURL=http://bjork.com"), false},
        {QStringLiteral("1a1b1c1d"), QStringLiteral("Motörhead"), QStringLiteral("Ace of Spades"), QStringLiteral("Rock"),
         QStringLiteral("Shelf 2, Box 3"), QStringLiteral("Lemmy said \"louder\", twice"), false},
        {QStringLiteral("2a2b2c2d"), QStringLiteral("Sigur Rós"), QStringLiteral("( )"), QStringLiteral("Rock"), QString(),
         longNotes(), false},
        {QStringLiteral("3a3b3c3d"), QStringLiteral("ABBA"), QStringLiteral("Arrival"), QStringLiteral("Pop"), QString(),
         QStringLiteral("deleted with its row"), true},
        {QStringLiteral("z0000001"), QStringLiteral("abba"), QStringLiteral("Gold"), QStringLiteral("Pop"), QString(), QString(),
         false},
        {QStringLiteral("4a4b4c4d"), QStringLiteral("Œuvre €"), QStringLiteral("Trailing   "), QStringLiteral("Jazz"),
         QStringLiteral("\"quoted\""), QStringLiteral("lone\rCR and lone\nLF"), false},
    };
}

const QStringList kAlbumHeader = {"Album", "Artist", "IX", "Genre", "YR", "ID", "Label", "Media", "Rev", "Sys", "Notes"};

QStringList rowOf(const Album& a) {
    QString album = a.album;
    while (album.endsWith(QLatin1Char(' '))) album.chop(1);
    return {album, a.artist, {}, a.genre, {}, a.id, a.label, {}, {}, {}, a.notes};
}

// Fills a folder that init has prepared: albums with memos and three tracks each, one album with
// its tracks deleted and one track more, as the desktop program would leave them.
void fill(const QString& folder) {
    TDM dm(folder);
    OK(dm.OpenCollectionTables());
    for (const Album& a : albums()) {
        OK(dm.tblAlbums.append());
        OK(dm.tblAlbums.setText(QStringLiteral("ID"), a.id));
        OK(dm.tblAlbums.setText(QStringLiteral("Artist"), a.artist));
        OK(dm.tblAlbums.setText(QStringLiteral("Album"), a.album));
        OK(dm.tblAlbums.setText(QStringLiteral("Genre"), a.genre));
        OK(dm.tblAlbums.setText(QStringLiteral("Label"), a.label));
        OK(dm.tblAlbums.setText(QStringLiteral("Notes"), a.notes));
        OK(dm.tblAlbums.post());
        for (int nr = 1; nr <= 3; ++nr) {
            OK(dm.tblCD.append());
            OK(dm.tblCD.setText(QStringLiteral("ID"), a.id));
            OK(dm.tblCD.setText(QStringLiteral("NR"), TDM::PadNumber(4 - nr, 3)));
            OK(dm.tblCD.setText(QStringLiteral("Track"), QStringLiteral("%1, track %2").arg(a.album).arg(4 - nr)));
            OK(dm.tblCD.setText(QStringLiteral("Secs"), QString::number(100 + nr)));
            OK(dm.tblCD.post());
        }
    }
    OK(dm.tblAlbums.setOrder(QString()));
    const std::vector<Album> all = albums();
    for (size_t i = 0; i < all.size(); ++i) {
        if (!all[i].deleted) continue;
        OK(dm.tblAlbums.gotoBookmark({std::uint32_t(i + 1)}));
        OK(dm.tblAlbums.deleteRecord());
        for (int t = 1; t <= 3; ++t) {
            OK(dm.tblCD.gotoBookmark({std::uint32_t(3 * i + std::size_t(t))}));
            OK(dm.tblCD.deleteRecord());
        }
    }
    OK(dm.tblCD.setOrder(QString()));
    OK(dm.tblCD.gotoBookmark({2}));
    OK(dm.tblCD.deleteRecord());
    OK(dm.FlushCollection());
    dm.CloseAll();
}

// Each test works on its own copy of one collection, made once by init and the engine.
class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        collection_ = new TempFolder;
        const ProcessResult init = albumora::test::runCli({QStringLiteral("--data"), collection_->path(), QStringLiteral("init")});
        ASSERT_EQ(init.exitCode, 0) << init.err.toStdString();
        fill(collection_->path());
    }
    static void TearDownTestSuite() {
        delete collection_;
        collection_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(collection_, nullptr);
        for (const QString& f : QDir(collection_->path()).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(collection_->file(f), dir.file(f))) << f.toStdString();
    }

    ProcessResult cli(const QStringList& args) const {
        return albumora::test::runCli(QStringList{QStringLiteral("--data"), dir.path()} + args);
    }

    QString file(const char* name) const { return dir.file(QString::fromLatin1(name)); }

    // Runs a query that must succeed and returns its rows, header first, after checking the
    // CSV form (and, when asked, python's csv module agreeing on it).
    std::vector<QStringList> query(const QStringList& args, bool secondOpinion = false) {
        const ProcessResult r = cli(QStringList{QStringLiteral("query")} + args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        const Csv csv = parseCsv(r.out);
        EXPECT_TRUE(csv.error.isEmpty()) << csv.error.toStdString() << "\n" << r.out.left(300).toStdString();
        if (secondOpinion) {
            const QString saved = dir.file(QStringLiteral("out.csv"));
            writeAll(saved, r.out.toUtf8());
            EXPECT_EQ(parseWithPython(saved), csv.rows);
            QFile::remove(saved);
        }
        return csv.rows;
    }

    static TempFolder* collection_;
    TempFolder dir;
};

TempFolder* CliTest::collection_ = nullptr;

std::vector<QStringList> withHeader(const QStringList& header, const std::vector<QStringList>& rows) {
    std::vector<QStringList> out{header};
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

QStringList column(const std::vector<QStringList>& rows, int c) {
    QStringList out;
    for (size_t i = 1; i < rows.size(); ++i) out << rows[i].value(c);
    return out;
}

// ---------------------------------------------------------------------------------------------

TEST(CliInit, CreatesTheCollectionAndThenLeavesItAlone) {
    TempFolder dir;
    auto cli = [&](const QStringList& args) {
        return albumora::test::runCli(QStringList{QStringLiteral("--data"), dir.path()} + args);
    };
    auto file = [&](const char* name) { return dir.file(QString::fromLatin1(name)); };
    const ProcessResult first = cli({QStringLiteral("init")});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(lines(first.out), (QStringList{"Creating data files ...", "Creating Index File for: ALBUMS",
                                             "Creating Index File for: TRACKS", "Creating Index File for: ARTISTS",
                                             "Creating Index File for: PLAYLIST"}));
    for (const char* f : {"ALBUMS.DBF", "ALBUMS.FPT", "ALBUMS.CDX", "TRACKS.DBF", "TRACKS.CDX", "ARTISTS.DBF",
                          "ARTISTS.CDX", "PLAYLIST.DBF", "PLAYLIST.CDX"})
        EXPECT_TRUE(QFile::exists(file(f))) << f;
    for (const char* f : {"TRACKS.FPT", "ARTISTS.FPT", "PLAYLIST.FPT"}) EXPECT_FALSE(QFile::exists(file(f))) << f;
    const std::map<const char*, QStringList> tags = {
        {"ALBUMS.DBF",
         {"ALBUM=upper(Album)", "ARTIST=upper(Artist)+upper(Album)", "GENRE=upper(Genre)+upper(Artist)", "ID=ID",
          "LABEL=upper(Label)+upper(IX)"}},
        {"TRACKS.DBF", {"TRACKS=ID+NR"}},
        {"ARTISTS.DBF", {"ARTIST=upper(Artist)", "ID=ID+NR"}},
        {"PLAYLIST.DBF", {"PLAYLIST=ID+NR"}},
    };
    for (const auto& [table, want] : tags) {
        auto t = Table::open(file(table), OpenMode::Shared);
        ASSERT_TRUE(t.isOk()) << t.error().text().toStdString();
        QStringList got;
        for (const Table::Tag* tag : (*t)->tags()) got << tag->name + QLatin1Char('=') + tag->keyExpr;
        EXPECT_EQ(got, want) << table;
        EXPECT_TRUE((*t)->indexProblem().isOk()) << table;
    }

    // A second run finds everything in place: it says nothing and replaces nothing.
    std::map<QString, std::pair<ino_t, QByteArray>> before;
    for (const QString& f : QDir(dir.path()).entryList(QDir::Files)) before[f] = {inodeOf(dir.file(f)), readAll(dir.file(f))};
    const ProcessResult again = cli({QStringLiteral("init")});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, QString());
    for (const auto& [f, state] : before) {
        EXPECT_EQ(inodeOf(dir.file(f)), state.first) << f.toStdString();
        EXPECT_EQ(readAll(dir.file(f)), state.second) << f.toStdString();
    }
    EXPECT_EQ(cli({QStringLiteral("check")}).exitCode, 0);
}

TEST_F(CliTest, AMemoFileThatCannotBeWrittenStillReadsAndRefusesWrites) {
    // Immutable, so that even root (as CI runs) may not write it.
    const ProcessResult set = albumora::test::runProcess(QStringLiteral("chattr"), {QStringLiteral("+i"), file("ALBUMS.FPT")});
    if (set.exitCode != 0) GTEST_SKIP() << "chattr +i is not possible here: " << set.err.toStdString();
    const ProcessResult count = cli({QStringLiteral("count"), QStringLiteral("ALBUMS.DBF")});
    const ProcessResult rows = cli({QStringLiteral("query"), QStringLiteral("ALBUMS.DBF"), QStringLiteral("--fields"), QStringLiteral("Notes")});
    const QString list = dir.file(QStringLiteral("list.txt"));
    writeAll(list, "1. One\n2. Two\n");
    const ProcessResult import = cli({QStringLiteral("import"), QStringLiteral("--source"), QStringLiteral("numbered"), list,
                                      QStringLiteral("--artist"), QStringLiteral("A"), QStringLiteral("--title"), QStringLiteral("T"),
                                      QStringLiteral("--genre"), QStringLiteral("rock")});
    const ProcessResult after = cli({QStringLiteral("count"), QStringLiteral("TRACKS.DBF")});
    albumora::test::runProcess(QStringLiteral("chattr"), {QStringLiteral("-i"), file("ALBUMS.FPT")});
    EXPECT_EQ(count.exitCode, 0) << count.err.toStdString();
    EXPECT_EQ(count.out, QStringLiteral("5\n"));
    EXPECT_EQ(rows.exitCode, 0) << rows.err.toStdString();
    EXPECT_TRUE(rows.out.contains(QStringLiteral("12,50"))) << rows.out.toStdString();
    EXPECT_EQ(import.exitCode, 1);
    EXPECT_TRUE(import.err.contains(QStringLiteral("read-only"))) << import.err.toStdString();
    EXPECT_EQ(after.out, QStringLiteral("14\n"));
}

TEST_F(CliTest, LeftoversOfKilledWritersAreRemovedAndThoseOfLiveOnesKept) {
    // A process number no process can have (process numbers stay below pid_max), and one that
    // is alive (this test).
    const QByteArray pidMax = readAll(QStringLiteral("/proc/sys/kernel/pid_max")).trimmed();
    ASSERT_FALSE(pidMax.isEmpty());
    const QString dead = file(".ALBUMS.CDX.") + QString::fromLatin1(pidMax) + QStringLiteral(".tmp");
    const QString live = file(".TRACKS.CDX.") + QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".tmp");
    writeAll(dead, QByteArray(4096, 'x'));
    writeAll(live, QByteArray(4096, 'y'));
    const ProcessResult r = cli({QStringLiteral("reindex"), QStringLiteral("all")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(dead));
    EXPECT_TRUE(QFile::exists(live));
}

TEST_F(CliTest, ARepairThatCannotRebuildKeepsTheIndexFilesAndNamesTheTable) {
    // The ALBUMS index lags (it must be rebuilt), but its ID field was renamed by another tool,
    // so the key "ID" no longer compiles: nothing can be rebuilt.
    QByteArray dbf = readAll(file("ALBUMS.DBF"));
    const qsizetype at = dbf.indexOf(QByteArray("ID\0", 3), 32);
    ASSERT_GT(at, 0);
    dbf[at] = 'X';
    dbf[14] = 1;
    writeAll(file("ALBUMS.DBF"), dbf);
    const QByteArray albumsIndex = readAll(file("ALBUMS.CDX")), tracksIndex = readAll(file("TRACKS.CDX"));
    const ProcessResult r = cli({QStringLiteral("init")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("The index file of ALBUMS.DBF cannot be rebuilt"))) << r.err.toStdString();
    EXPECT_EQ(readAll(file("ALBUMS.CDX")), albumsIndex);
    EXPECT_EQ(readAll(file("TRACKS.CDX")), tracksIndex);
}

TEST_F(CliTest, MissingAlbumIndexRebuildsTrackAndPlaylistIndexesButNotArtists) {
    // Index files stamped long ago: a rebuilt one carries a new time, a kept one the old.
    const QDateTime old(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    for (const char* f : {"TRACKS.CDX", "ARTISTS.CDX", "PLAYLIST.CDX"}) {
        QFile file(this->file(f));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const QByteArray artistsBytes = readAll(file("ARTISTS.CDX"));
    ASSERT_TRUE(QFile::remove(file("ALBUMS.CDX")));

    const ProcessResult r = cli({QStringLiteral("init")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(lines(r.out), (QStringList{"Creating Index File for: ALBUMS", "Creating Index File for: TRACKS",
                                         "Creating Index File for: PLAYLIST"}));
    const auto modified = [&](const char* f) { return QFileInfo(file(f)).lastModified().toUTC(); };
    EXPECT_EQ(modified("ARTISTS.CDX"), old);
    EXPECT_EQ(readAll(file("ARTISTS.CDX")), artistsBytes);
    EXPECT_NE(modified("TRACKS.CDX"), old);
    EXPECT_NE(modified("PLAYLIST.CDX"), old);
    EXPECT_TRUE(QFile::exists(file("ALBUMS.CDX")));
    const ProcessResult check = cli({QStringLiteral("check")});
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString();
    // The rebuilt tags hold the rows written before.
    EXPECT_EQ(column(query({QStringLiteral("ALBUMS.DBF"), QStringLiteral("--order"), QStringLiteral("ID"),
                            QStringLiteral("--fields"), QStringLiteral("ID")}),
                     0),
              (QStringList{"0a0b0c0d", "1a1b1c1d", "2a2b2c2d", "4a4b4c4d", "z0000001"}));
}

// Damage a folder can suffer, and the line check must print for it.
struct Damage {
    const char* what;
    std::function<void(const QString& folder)> apply;
    const char* problem;
};

// The offset of the root node of a tag.
std::uint32_t rootOf(const QString& cdx, const char* tag) {
    auto x = IndexFile::open(cdx, false);
    if (!x) return 0;
    Tree* t = (*x)->tag(tag);
    return t ? t->root() : 0;
}

TEST_F(CliTest, CheckPassesAGoodFolderAndNamesEachProblem) {
    const ProcessResult good = cli({QStringLiteral("check")});
    EXPECT_EQ(good.exitCode, 0) << good.out.toStdString();
    EXPECT_EQ(good.out, QStringLiteral("4 table(s) checked, no problems found\n"));
    EXPECT_EQ(good.err, QString());

    const std::vector<Damage> damages = {
        {"a key of tag ID no longer matches its row",
         [](const QString& folder) {
             // Keys fill a leaf from its end, the first key last: the page's last byte is the
             // last letter of the smallest album ID, "0a0b0c0d".
             const QString cdx = folder + QStringLiteral("/ALBUMS.CDX");
             QByteArray bytes = readAll(cdx);
             const std::uint32_t root = rootOf(cdx, "ID");
             ASSERT_GT(root, 0u);
             ASSERT_EQ(bytes[root + 511], 'd');
             bytes[root + 511] = 'e';
             writeAll(cdx, bytes);
         },
         "ALBUMS.DBF: tag ID: 1 keys differ from their records"},
        {"the index file of TRACKS.DBF is deleted",
         [](const QString& folder) {
             // The table's header says it has one (the structural index flag, byte 28).
             ASSERT_TRUE(readAll(folder + QStringLiteral("/TRACKS.DBF"))[28] & 0x01);
             ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/TRACKS.CDX")));
         },
         "TRACKS.DBF: the index file is missing"},
        {"ALBUMS.DBF lost its last bytes",
         [](const QString& folder) {
             const QString dbf = folder + QStringLiteral("/ALBUMS.DBF");
             writeAll(dbf, readAll(dbf).chopped(10));
         },
         "ALBUMS.DBF is truncated"},
        {"ALBUMS.FPT lost its last memo",
         [](const QString& folder) {
             const QString fpt = folder + QStringLiteral("/ALBUMS.FPT");
             writeAll(fpt, readAll(fpt).left(600));
         },
         "ALBUMS.DBF: record"},
    };
    const QByteArray cdx = readAll(file("ALBUMS.CDX")), dbf = readAll(file("ALBUMS.DBF")),
                     fpt = readAll(file("ALBUMS.FPT")), tracks = readAll(file("TRACKS.CDX"));
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        d.apply(dir.path());
        const ProcessResult r = cli({QStringLiteral("check")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_FALSE(lines(r.out).filter(QString::fromLatin1(d.problem)).isEmpty()) << r.out.toStdString();
        EXPECT_EQ(lines(r.err).size(), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith(QStringLiteral("problem(s) found\n"))) << r.err.toStdString();
        writeAll(file("ALBUMS.CDX"), cdx);
        writeAll(file("ALBUMS.DBF"), dbf);
        writeAll(file("ALBUMS.FPT"), fpt);
        writeAll(file("TRACKS.CDX"), tracks);
        ASSERT_EQ(cli({QStringLiteral("check")}).exitCode, 0) << "the folder is whole again";
    }
}

TEST_F(CliTest, QueryPrintsVisibleRowsAsCsvWithWholeMemos) {
    std::vector<QStringList> live;
    for (const Album& a : albums())
        if (!a.deleted) live.push_back(rowOf(a));
    const std::vector<QStringList> all = query({QStringLiteral("ALBUMS.DBF")}, true);
    EXPECT_EQ(all, withHeader(kAlbumHeader, live));
    // The table name in any case gives the same rows.
    EXPECT_EQ(query({QStringLiteral("albums.dbf")}), all);
    EXPECT_EQ(query({QStringLiteral("Albums.Dbf")}), all);

    // The bytes themselves: UTF-8 and CR LF after every record.
    const ProcessResult raw = cli({QStringLiteral("query"), QStringLiteral("ALBUMS.DBF"), QStringLiteral("--fields"),
                                   QStringLiteral("ID,Artist")});
    EXPECT_EQ(raw.out, QStringLiteral("ID,Artist\r\n0a0b0c0d,Björk\r\n1a1b1c1d,Motörhead\r\n2a2b2c2d,Sigur Rós\r\n"
                                      "z0000001,abba\r\n4a4b4c4d,Œuvre €\r\n"));
}

// A row whose memo cannot be read ends the query with the reason, after every row before it
// and none of its own fields: the rows are written in large blocks, and none of those before
// the failure may be lost.
TEST_F(CliTest, AQueryThatFailsHalfWayHasPrintedEveryRowBeforeIt) {
    {
        auto t = Table::open(file("ALBUMS.DBF"), OpenMode::Exclusive);
        ASSERT_TRUE(t.isOk());
        const FieldDef& notes = (*t)->fields()[size_t((*t)->fieldIndex(QStringLiteral("Notes")))];
        std::string rec;
        ASSERT_TRUE((*t)->readRecord(3, rec).isOk());
        const std::string ref = Table::memoReference(notes, 9999999);
        std::memcpy(rec.data() + notes.offset, ref.data(), ref.size());
        ASSERT_TRUE((*t)->updateRecord(3, rec).isOk());
        ASSERT_TRUE((*t)->flush().isOk());
    }
    const ProcessResult r = cli({QStringLiteral("query"), QStringLiteral("ALBUMS.DBF"), QStringLiteral("--fields"), QStringLiteral("ID,Notes")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.isEmpty());
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("ID,Notes\r\n0a0b0c0d,"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("\r\n1a1b1c1d,"))) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("2a2b2c2d"))) << r.out.toStdString();
}

// A comma, a quote or a line break anywhere in a field, early or late in it, gets it quoted.
TEST_F(CliTest, QueryQuotesFieldsWithSeparatorsWhereverTheyAre) {
    const QString path = file("NOTES.DBF");
    ASSERT_TRUE(Table::create(path, *parseFieldList(QStringLiteral("Text,Char,30;"))).isOk());
    std::vector<QStringList> want{{QStringLiteral("Text")}};
    {
        auto t = Table::open(path, OpenMode::Exclusive);
        ASSERT_TRUE(t.isOk());
        int n = 0;
        for (const char* c : {",", "\"", "\r", "\n"}) {
            for (int at : {0, 5, 7, 8, 13, 16, 22}) {
                std::string text = "abcdefghijklmnopqrstuvw";
                text[size_t(at)] = *c;
                std::string rec(31, ' ');
                std::memcpy(rec.data() + 1, text.data(), text.size());
                ASSERT_TRUE((*t)->appendRecord(rec).isOk());
                want.push_back({QString::fromStdString(text)});
                ++n;
            }
        }
        std::string plain(31, ' ');
        std::memcpy(plain.data() + 1, "abcdefghijklmnopqrstuvwxyz", 26);
        ASSERT_TRUE((*t)->appendRecord(plain).isOk());
        want.push_back({QStringLiteral("abcdefghijklmnopqrstuvwxyz")});
    }
    EXPECT_EQ(query({QStringLiteral("NOTES.DBF")}, true), want);
}

TEST_F(CliTest, QueryFollowsOrderFilterAndFieldList) {
    struct Case {
        QStringList args;
        QStringList header;
        std::vector<QStringList> rows;
    };
    const std::vector<Case> cases = {
        {{"--order", "Artist", "--fields", "ID"}, {"ID"}, {{"z0000001"}, {"0a0b0c0d"}, {"1a1b1c1d"}, {"2a2b2c2d"}, {"4a4b4c4d"}}},
        {{"--order", "id", "--fields", "id,ARTIST"},
         {"ID", "Artist"},
         {{"0a0b0c0d", "Björk"}, {"1a1b1c1d", "Motörhead"}, {"2a2b2c2d", "Sigur Rós"}, {"4a4b4c4d", "Œuvre €"}, {"z0000001", "abba"}}},
        {{"--order=GENRE", "--fields=Genre,Album"},
         {"Genre", "Album"},
         {{"Electronic", "Homogenic"}, {"Jazz", "Trailing"}, {"Pop", "Gold"}, {"Rock", "Ace of Spades"}, {"Rock", "( )"}}},
        {{"--filter", "Genre = \"Rock\"", "--fields", "Label,ID"}, {"Label", "ID"}, {{"Shelf 2, Box 3", "1a1b1c1d"}, {"", "2a2b2c2d"}}},
        {{"--filter", "contains(Artist, \"ö\") or Label = '\"'", "--order", "Artist", "--fields", "Artist,Label"},
         {"Artist", "Label"},
         {{"Björk", "Shelf 1"}, {"Motörhead", "Shelf 2, Box 3"}, {"Œuvre €", "\"quoted\""}}},
        {{"--filter", "ID = \"z\"", "--fields", "ID,Notes"}, {"ID", "Notes"}, {{"z0000001", ""}}},
        {{"--filter", "ID = \"nothing\""}, kAlbumHeader, {}},
        {{"--order", "Album", "--filter", "NOT empty(Notes) .AND. Genre <> \"Rock\"", "--fields", "Notes"},
         {"Notes"},
         {{"COST=12.50\r\nURL=http://bjork.com"}, {"lone\rCR and lone\nLF"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        EXPECT_EQ(query(QStringList{QStringLiteral("ALBUMS.DBF")} + c.args), withHeader(c.header, c.rows));
    }
    // Tracks in the order of their tag: by album, then track number; the deleted track is gone.
    const std::vector<QStringList> tracks =
        query({QStringLiteral("tracks.DBF"), QStringLiteral("--order"), QStringLiteral("Tracks"), QStringLiteral("--filter"),
               QStringLiteral("ID = \"0a0b0c0d\""), QStringLiteral("--fields"), QStringLiteral("NR,Track")});
    EXPECT_EQ(tracks, withHeader({"NR", "Track"}, {{"  1", "Homogenic, track 1"}, {"  3", "Homogenic, track 3"}}));
}

TEST_F(CliTest, CountFollowsTheFilterAndHidesDeletedRows) {
    struct Case {
        QStringList args;
        const char* out;
    };
    for (const Case& c : std::vector<Case>{{{"ALBUMS.DBF"}, "5\n"},
                                           {{"albums.dbf", "--filter", "Genre = \"Pop\""}, "1\n"},
                                           {{"ALBUMS.DBF", "--filter", "upper(Artist) = \"ABBA\""}, "1\n"},
                                           {{"ALBUMS.DBF", "--filter=contains(Notes, \"12,50 €\")"}, "1\n"},
                                           {{"TRACKS.DBF"}, "14\n"},
                                           {{"TRACKS.DBF", "--filter", "ID = \"3a3b3c3d\""}, "0\n"},
                                           {{"PLAYLIST.DBF"}, "0\n"}}) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ProcessResult r = cli(QStringList{QStringLiteral("count")} + c.args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, QString::fromLatin1(c.out));
    }
}

// A memo that cannot be read is the engine's error wherever notes are read: printed, filtered
// on or counted. It never reads as empty notes, and it never reads as "no row passes".
TEST_F(CliTest, AMemoThatCannotBeReadIsAnErrorNotEmptyNotes) {
    const QString fpt = file("ALBUMS.FPT");
    writeAll(fpt, readAll(fpt).left(600));
    const ProcessResult check = cli({QStringLiteral("check")});
    ASSERT_EQ(check.exitCode, 1) << "the damage is one check sees";
    for (const QStringList& args :
         {QStringList{"query", "ALBUMS.DBF"}, QStringList{"query", "ALBUMS.DBF", "--fields", "ID,Notes"},
          QStringList{"query", "ALBUMS.DBF", "--filter", "contains(notes,\"*hello*\")"},
          QStringList{"query", "ALBUMS.DBF", "--order", "Artist", "--filter", "contains(notes,\"*hello*\")"},
          QStringList{"count", "ALBUMS.DBF", "--filter", "contains(notes,\"*hello*\")"}}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("ALBUMS.FPT"))) << r.err.toStdString();
        EXPECT_EQ(lines(r.err).size(), 1) << r.err.toStdString();
    }
    // What does not read the notes still works.
    const ProcessResult ids = cli({QStringLiteral("query"), QStringLiteral("ALBUMS.DBF"), QStringLiteral("--fields"), QStringLiteral("ID,Artist")});
    EXPECT_EQ(ids.exitCode, 0) << ids.err.toStdString();
    EXPECT_EQ(lines(ids.out).size(), 6);
}

TEST_F(CliTest, ReindexRepairsIndexesOneTableOrAll) {
    const QString cdx = file("ALBUMS.CDX");
    QByteArray bytes = readAll(cdx);
    const std::uint32_t root = rootOf(cdx, "ID");
    ASSERT_GT(root, 0u);
    bytes[root + 511] = 'e';
    writeAll(cdx, bytes);
    ASSERT_EQ(cli({QStringLiteral("check")}).exitCode, 1);

    ProcessResult r = cli({QStringLiteral("reindex"), QStringLiteral("albums.DBF")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Reindexed ALBUMS.DBF\n"));
    r = cli({QStringLiteral("check")});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    const auto c = albumora::test::cdxcheck(cdx, file("ALBUMS.DBF"));
    EXPECT_EQ(c.exitCode, 0) << c.out.toStdString() << c.err.toStdString();
    EXPECT_EQ(lines(c.out).size(), 5) << c.out.toStdString();

    ASSERT_TRUE(QFile::remove(file("TRACKS.CDX")));
    r = cli({QStringLiteral("reindex"), QStringLiteral("all")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(lines(r.out), (QStringList{"Reindexed ALBUMS.DBF", "Reindexed ARTISTS.DBF", "Reindexed PLAYLIST.DBF",
                                         "Reindexed TRACKS.DBF"}));
    r = cli({QStringLiteral("check")});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_EQ(column(query({QStringLiteral("TRACKS.DBF"), QStringLiteral("--order"), QStringLiteral("Tracks"),
                            QStringLiteral("--fields"), QStringLiteral("ID")}),
                     0)
                  .size(),
              14);
}

// The old index serves until the new one replaces it: a reindex killed or refused at any of its
// writes leaves the table an index that answers, never none.
TEST_F(CliTest, AReindexKilledOrFailedAtAnyWriteLeavesAWorkingIndex) {
    TempFolder spare;
    const QString base = spare.file(QStringLiteral("base"));
    albumora::test::copyFolder(dir.path(), base);
    const QByteArray before = readAll(file("TRACKS.CDX"));
    const QStringList args{QStringLiteral("--data"), dir.path(), QStringLiteral("reindex"), QStringLiteral("TRACKS.DBF")};
    const QString crashCli = QStringLiteral(ALBUMORA_CLI_CRASH_PATH);
    const auto whole = albumora::test::run(crashCli, args, {{QStringLiteral("ALBUMORA_CRASH_COUNT"), QStringLiteral("1")}});
    ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
    const qsizetype at = whole.err.indexOf(QStringLiteral("crash points: "));
    ASSERT_GE(at, 0) << whole.err.toStdString();
    const long points = whole.err.mid(at + 14).trimmed().toLong();
    ASSERT_GT(points, 2);
    auto answers = [&](const std::string& context) {
        ASSERT_TRUE(QFile::exists(file("TRACKS.CDX"))) << context;
        const ProcessResult q = cli({QStringLiteral("query"), QStringLiteral("TRACKS.DBF"), QStringLiteral("--order"),
                                     QStringLiteral("Tracks"), QStringLiteral("--fields"), QStringLiteral("ID")});
        EXPECT_EQ(q.exitCode, 0) << context << " " << q.err.toStdString();
        EXPECT_EQ(lines(q.out).size(), 15) << context;  // the header and every track
        const ProcessResult c = cli({QStringLiteral("check")});
        EXPECT_EQ(c.exitCode, 0) << context << "\n" << c.out.toStdString() << c.err.toStdString();
    };
    for (long n = 1; n <= points; ++n) {
        albumora::test::copyFolder(base, dir.path());
        const auto r = albumora::test::run(crashCli, args, {{QStringLiteral("ALBUMORA_CRASH_AT"), QString::number(n)}});
        answers("killed at " + std::to_string(n) + ": " + r.err.trimmed().toStdString());
        if (HasFailure()) return;
    }
    int refused = 0;
    for (long n = 1; n <= points; ++n) {
        albumora::test::copyFolder(base, dir.path());
        const auto r = albumora::test::run(crashCli, args,
                                           {{QStringLiteral("ALBUMORA_FAIL_AT"), QString::number(n)},
                                            {QStringLiteral("ALBUMORA_FAIL_ERRNO"), QString::number(ENOSPC)},
                                            {QStringLiteral("ALBUMORA_FAIL_STICKY"), QStringLiteral("1")}});
        const std::string context = "full disk at " + std::to_string(n) + ": " + r.err.trimmed().toStdString();
        ASSERT_FALSE(r.crashed) << context;
        if (r.code != 0) {
            ++refused;
            EXPECT_EQ(readAll(file("TRACKS.CDX")), before) << context;
        }
        answers(context);
        if (HasFailure()) return;
    }
    EXPECT_GT(refused, 0);
}

TEST_F(CliTest, PackDropsDeletedRowsAndKeepsEverythingElse) {
    const std::vector<QStringList> before = query({QStringLiteral("ALBUMS.DBF")});
    const std::vector<QStringList> tracksBefore = query({QStringLiteral("TRACKS.DBF"), QStringLiteral("--order"), QStringLiteral("Tracks")});
    const qint64 memoBefore = QFileInfo(file("ALBUMS.FPT")).size();

    ProcessResult r = cli({QStringLiteral("pack"), QStringLiteral("Albums.dbf")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Packed ALBUMS.DBF: 5 rows\n"));
    EXPECT_EQ(query({QStringLiteral("ALBUMS.DBF")}), before);
    EXPECT_LT(QFileInfo(file("ALBUMS.FPT")).size(), memoBefore);
    {
        auto t = Table::open(file("ALBUMS.DBF"), OpenMode::Shared);
        ASSERT_TRUE(t.isOk());
        EXPECT_EQ((*t)->recordCount(), 5u);
    }

    r = cli({QStringLiteral("pack"), QStringLiteral("all")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(lines(r.out), (QStringList{"Packed ALBUMS.DBF: 5 rows", "Packed ARTISTS.DBF: 0 rows", "Packed PLAYLIST.DBF: 0 rows",
                                         "Packed TRACKS.DBF: 14 rows"}));
    EXPECT_EQ(query({QStringLiteral("TRACKS.DBF"), QStringLiteral("--order"), QStringLiteral("Tracks")}), tracksBefore);
    r = cli({QStringLiteral("check")});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();

    // A table another program holds open is not packed behind its back.
    auto held = Table::open(file("TRACKS.DBF"), OpenMode::Shared);
    ASSERT_TRUE(held.isOk());
    r = cli({QStringLiteral("pack"), QStringLiteral("TRACKS.DBF")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(r.err).size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("TRACKS.DBF"))) << r.err.toStdString();
}

TEST_F(CliTest, MistakesExitWithOneLineOnStandardError) {
    struct Case {
        QStringList args;
        const char* says;  // part of the line
    };
    const std::vector<Case> cases = {
        {{"query", "ALBUMS.DBF", "--filter", "Artist ="}, "expected a value"},
        {{"count", "ALBUMS.DBF", "--filter", "Nosuch = \"x\""}, "Nosuch"},
        {{"count", "ALBUMS.DBF", "--filter", "(Genre = \"Rock\""}, ""},
        {{"query", "NOSUCH.DBF"}, "NOSUCH.DBF"},
        {{"count", "nosuch.dbf"}, "nosuch.dbf"},
        {{"query", "ALBUMS.DBF", "--order", "Nosuch"}, "Nosuch"},
        {{"query", "ALBUMS.DBF", "--fields", "ID,Nope"}, "Nope"},
        {{"query", "ALBUMS.DBF", "--order"}, "--order"},
        {{"query", "ALBUMS.DBF", "surplus"}, "surplus"},
        {{"query"}, "argument"},
        {{"reindex", "NOSUCH.DBF"}, "NOSUCH.DBF"},
        {{"pack", "NOSUCH.DBF"}, "NOSUCH.DBF"},
        {{"frobnicate"}, "frobnicate"},
        {{"check", "extra"}, "extra"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ProcessResult r = cli(c.args);
        EXPECT_FALSE(r.crashed);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, QString());
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("albumora-cli: "))) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith(QLatin1Char('\n')));
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says), Qt::CaseInsensitive)) << r.err.toStdString();
    }
    // An order on a table whose index is gone says how to repair it.
    ASSERT_TRUE(QFile::remove(file("ALBUMS.CDX")));
    const ProcessResult r = cli({QStringLiteral("query"), QStringLiteral("ALBUMS.DBF"), QStringLiteral("--order"), QStringLiteral("ID")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("reindex ALBUMS.DBF"))) << r.err.toStdString();
}

TEST_F(CliTest, FilterThatIsNoConditionIsRefusedNotTakenAsNoRowPasses) {
    for (const QStringList& args : {QStringList{"query", "ALBUMS.DBF", "--filter", "Artist"},
                                    QStringList{"count", "ALBUMS.DBF", "--filter", "upper(Album)"},
                                    QStringList{"count", "TRACKS.DBF", "--filter", "ID+NR"}}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.exitCode, 1) << "printed: " << r.out.toStdString();
        EXPECT_EQ(r.out, QString());
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("condition"))) << r.err.toStdString();
    }
}

TEST_F(CliTest, FilesNamedInAnyCaseOnDiskAreFoundWithTheirIndexAndMemos) {
    // Collections copied from other systems often arrive with lower-case names.
    ASSERT_TRUE(QFile::rename(file("ALBUMS.DBF"), file("albums.dbf")));
    ASSERT_TRUE(QFile::rename(file("ALBUMS.CDX"), file("Albums.cdx")));
    ASSERT_TRUE(QFile::rename(file("ALBUMS.FPT"), file("albums.FPT")));
    const std::vector<QStringList> rows = query({QStringLiteral("ALBUMS.DBF"), QStringLiteral("--order"), QStringLiteral("Artist"),
                                                 QStringLiteral("--fields"), QStringLiteral("ID,Notes")});
    EXPECT_EQ(rows, withHeader({"ID", "Notes"}, {{"z0000001", ""},
                                                 {"0a0b0c0d", "COST=12.50\r\nURL=http://bjork.com"},
                                                 {"1a1b1c1d", "Lemmy said \"louder\", twice"},
                                                 {"2a2b2c2d", longNotes()},
                                                 {"4a4b4c4d", "lone\rCR and lone\nLF"}}));
    const ProcessResult check = cli({QStringLiteral("check")});
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString();
    const ProcessResult pack = cli({QStringLiteral("pack"), QStringLiteral("ALBUMS.DBF")});
    EXPECT_EQ(pack.exitCode, 0) << pack.err.toStdString();
    EXPECT_EQ(query({QStringLiteral("albums.dbf"), QStringLiteral("--order"), QStringLiteral("Artist"), QStringLiteral("--fields"),
                     QStringLiteral("ID,Notes")}),
              rows);
    EXPECT_FALSE(QFile::exists(file("ALBUMS.DBF"))) << "pack keeps the names it found";
    EXPECT_TRUE(QFile::exists(file("albums.FPT")));
}

}  // namespace


namespace {

// The export command writes the report writer's files into the folder given and names them;
// what it refuses it says in one line with exit code 1, writing nothing.
TEST_F(CliTest, ExportWritesTheReportWritersFiles) {
    TempFolder out;
    ProcessResult r = cli({QStringLiteral("export"), QStringLiteral("xml"), QStringLiteral("--fields"), QStringLiteral("album,artist,ID,cost"),
                           QStringLiteral("--out"), out.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList files = {out.file(QStringLiteral("albums.xml")), out.file(QStringLiteral("tracks.xml")),
                               out.file(QStringLiteral("playlist.xml"))};
    EXPECT_EQ(r.out, files.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    const ProcessResult lint = albumora::test::runProcess(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout")} + files);
    EXPECT_EQ(lint.exitCode, 0) << lint.err.toStdString();
    const ProcessResult rows = albumora::test::runPython(
        QStringLiteral("import sys, xml.etree.ElementTree as ET\n"
                       "print(len(list(ET.parse(sys.argv[1]).getroot().iter('ROW'))))\n"),
        {files[0]});
    const ProcessResult count = cli({QStringLiteral("count"), QStringLiteral("ALBUMS.DBF")});
    EXPECT_EQ(rows.out, count.out);

    r = cli({QStringLiteral("export"), QStringLiteral("html"), QStringLiteral("--order"), QStringLiteral("Genre"), QStringLiteral("--out"), out.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("albumora-cli: Albums must be sorted by Artist, Album or Natural for HTML output\n"));
    r = cli({QStringLiteral("export"), QStringLiteral("csv"), QStringLiteral("--fields"), QStringLiteral("ALBUM,Notes"), QStringLiteral("--out"), out.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("albumora-cli: field \"Notes\" is not offered"))) << r.err.toStdString();
    r = cli({QStringLiteral("export"), QStringLiteral("csv"), QStringLiteral("--albums-filter"), QStringLiteral("YR >"), QStringLiteral("--out"), out.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("albumora-cli: Invalid Filter Expression:  YR >\n"));
    EXPECT_FALSE(QFileInfo::exists(out.file(QStringLiteral("albums.csv"))));
    EXPECT_FALSE(QFileInfo::exists(out.file(QStringLiteral("Albumora.html"))));
}

}  // namespace

namespace {

TEST_F(CliTest, MaintainPacksAndArchives) {
    ProcessResult r = cli({QStringLiteral("maintain")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("File maintenance successfully completed\n"));
    r = cli({QStringLiteral("maintain"), QStringLiteral("--zip")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Created/Updated Zip archive file: ") + dir.path() + QStringLiteral("/Albumoradata.zip\n")))
        << r.out.toStdString();
    const ProcessResult list = albumora::test::runProcess(QStringLiteral("unzip"), {QStringLiteral("-Z1"), file("Albumoradata.zip")});
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out.contains(QStringLiteral("ALBUMS.DBF\n"))) << list.out.toStdString();
    EXPECT_EQ(cli({QStringLiteral("check")}).exitCode, 0);
}

}  // namespace
