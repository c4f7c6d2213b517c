// Table engine benchmarks over synthetic collections of 20,000 and 100,000 albums.
//
// Each collection is generated once per process into a temporary folder, or kept between runs
// in $ALBUMORA_BENCH_DIR/albums-N. Benchmarks that only read use it as it is; those that write
// (tag creation, saving an album, pack, a new tag) work on copies, and at the end every
// collection is compared with its state before the first benchmark, so a benchmark that changed
// one cannot pass unnoticed.
//
// Environment: ALBUMORA_BENCH_DIR (keep collections), ALBUMORA_BENCH_SIZES (album counts,
// comma-separated; "20000,100000" unless given).
//
// The Cli* benchmarks time albumora-cli processes, start-up included, as a user running the
// command would see it.
#include "Generator.h"

#include "Codepage.h"
#include "DMcd.h"
#include "Export.h"
#include "Layouts.h"
#include "Pdf.h"
#include "Selection.h"
#include "File.h"
#include "NotesTags.h"
#include "Journal.h"
#include "Table.h"
#include "DuplicateFinder.h"
#include "Maintenance.h"
#include "TrackView.h"

#include <QGuiApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace albumora::store;
namespace gen = albumora::bench;
namespace reports = albumora::reports;
namespace notes = albumora::notes;
namespace views = albumora::views;
namespace store = albumora::store;

namespace {

constexpr std::uint64_t kSeed = 1;
// Bumped whenever the generator's output changes, so that kept collections are made again.
constexpr int kGeneratorVersion = 1;

[[noreturn]] void fail(const QString& what, const Status& st) {
    std::fprintf(stderr, "store_bench: %s: %s\n", qPrintable(what), qPrintable(st.text()));
    std::exit(1);
}

void must(const Status& st, const QString& what) {
    if (!st) fail(what, st);
}

template <class T>
T must(Result<T> r, const QString& what) {
    if (!r) fail(what, r.error());
    return std::move(r).value();
}

QString fingerprint(const QString& folder) {
    QString out;
    for (const QString& f : gen::CollectionFiles(folder)) {
        QFile file(f);
        if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("unreadable ") + f;
        QCryptographicHash h(QCryptographicHash::Sha1);
        h.addData(&file);
        out += QFileInfo(f).fileName() + QLatin1Char(' ') + QString::number(file.size()) + QLatin1Char(' ') +
               QString::fromLatin1(h.result().toHex()) + QLatin1Char('\n');
    }
    return out;
}

class Collections {
public:
    static Collections& get() {
        static Collections c;
        return c;
    }

    // The collection of that many albums, generated on first use.
    const QString& folder(int albums) {
        auto it = ready_.find(albums);
        if (it != ready_.end()) return it->second.folder;
        const QString dir = root() + QStringLiteral("/albums-%1").arg(albums);
        const QString marker = dir + QStringLiteral("/generated.txt");
        const QString want = QStringLiteral("albums=%1 seed=%2 version=%3\n").arg(albums).arg(kSeed).arg(kGeneratorVersion);
        QFile m(marker);
        bool reuse = m.open(QIODevice::ReadOnly) && QString::fromUtf8(m.readAll()) == want;
        m.close();
        if (reuse) {
            std::fprintf(stderr, "store_bench: using the collection of %d albums in %s\n", albums, qPrintable(dir));
        } else {
            QDir(dir).removeRecursively();
            gen::GeneratorOptions o;
            o.albums = albums;
            o.seed = kSeed;
            auto stats = must(gen::GenerateCollection(dir, o), QStringLiteral("generating %1 albums").arg(albums));
            std::fprintf(stderr,
                         "store_bench: generated %d albums, %lld tracks in %s: rows %.2f s, index tags %.2f s\n", albums,
                         static_cast<long long>(stats.tracks), qPrintable(dir), stats.rowSeconds, stats.tagSeconds);
            QFile w(marker);
            if (!w.open(QIODevice::WriteOnly) || w.write(want.toUtf8()) < 0)
                fail(QStringLiteral("writing ") + marker, Status(ErrorKind::IoError, w.errorString()));
        }
        Entry e{dir, fingerprint(dir)};
        return ready_.emplace(albums, std::move(e)).first->second.folder;
    }

    // A fresh, empty folder beside the collections, removed by the caller through Scratch.
    QString scratchFolder() {
        const QString dir = root() + QStringLiteral("/scratch-%1").arg(++scratchSerial_);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        return dir;
    }

    // Whether every collection is as it was when first used.
    bool unchanged() {
        bool ok = true;
        for (auto& [albums, e] : ready_) {
            if (fingerprint(e.folder) != e.print) {
                std::fprintf(stderr, "store_bench: the collection of %d albums was CHANGED by a benchmark\n", albums);
                ok = false;
            }
        }
        if (ok && !ready_.empty()) std::fprintf(stderr, "store_bench: every collection is unchanged\n");
        return ok;
    }

private:
    const QString& root() {
        if (root_.isEmpty()) {
            const QByteArray env = qgetenv("ALBUMORA_BENCH_DIR");
            if (!env.isEmpty()) {
                root_ = QDir(QString::fromLocal8Bit(env)).absolutePath();
                QDir().mkpath(root_);
            } else {
                temp_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/albumora-bench-XXXXXX"));
                if (!temp_->isValid()) fail(QStringLiteral("making a temporary folder"), Status(ErrorKind::IoError, temp_->errorString()));
                root_ = temp_->path();
            }
        }
        return root_;
    }

    struct Entry {
        QString folder;
        QString print;
    };
    std::unique_ptr<QTemporaryDir> temp_;
    QString root_;
    std::map<int, Entry> ready_;
    int scratchSerial_ = 0;
};

// A copy of some files of a collection, removed when it goes out of scope.
class Scratch {
public:
    Scratch() : dir_(Collections::get().scratchFolder()) {}
    ~Scratch() { QDir(dir_).removeRecursively(); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const QString& dir() const { return dir_; }
    QString file(const QString& name) const { return dir_ + QLatin1Char('/') + name; }

    // Copies the files of the named tables (all when none are named), replacing earlier copies.
    void copyFrom(const QString& collection, const QStringList& tables = {}) {
        for (const QString& f : gen::CollectionFiles(collection)) {
            const QFileInfo fi(f);
            if (!tables.isEmpty() && !tables.contains(fi.completeBaseName(), Qt::CaseInsensitive)) continue;
            const QString to = file(fi.fileName());
            QFile::remove(to);
            if (!QFile::copy(f, to)) fail(QStringLiteral("copying ") + f, Status(ErrorKind::IoError, QStringLiteral("copy failed")));
        }
    }

private:
    QString dir_;
};

QString tableOf(const QString& folder, const char* name) { return folder + QLatin1Char('/') + QString::fromLatin1(name); }

// Album IDs and (ID, NR) pairs of a collection, read in entry order.
std::vector<QString> albumIds(const QString& folder) {
    auto t = must(Table::open(tableOf(folder, "ALBUMS.DBF"), OpenMode::Shared), QStringLiteral("opening ALBUMS.DBF"));
    const FieldDef& id = t->fields()[size_t(t->fieldIndex(QStringLiteral("ID")))];
    std::vector<QString> out;
    must(t->dbf().scan(1, t->recordCount(),
                       [&](std::uint32_t, const char* rec) {
                           if (rec[0] != '*') out.push_back(fromCp1252(trimRight(std::string_view(rec + id.offset, size_t(id.length)))));
                           return true;
                       }),
         QStringLiteral("reading ALBUMS.DBF"));
    return out;
}

std::vector<QStringList> trackKeys(const QString& folder) {
    auto t = must(Table::open(tableOf(folder, "TRACKS.DBF"), OpenMode::Shared), QStringLiteral("opening TRACKS.DBF"));
    const FieldDef& id = t->fields()[size_t(t->fieldIndex(QStringLiteral("ID")))];
    const FieldDef& nr = t->fields()[size_t(t->fieldIndex(QStringLiteral("NR")))];
    std::vector<QStringList> out;
    must(t->dbf().scan(1, t->recordCount(),
                       [&](std::uint32_t, const char* rec) {
                           if (rec[0] != '*')
                               out.push_back({fromCp1252(std::string_view(rec + id.offset, size_t(id.length))),
                                              fromCp1252(std::string_view(rec + nr.offset, size_t(nr.length)))});
                           return true;
                       }),
         QStringLiteral("reading TRACKS.DBF"));
    return out;
}

// ---------------------------------------------------------------------------------------------

// Every tag of one table, built as start-up builds a missing index file.
void CreateTags(benchmark::State& state, int albums, const char* table) {
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    const QString base = QFileInfo(QString::fromLatin1(table)).completeBaseName();
    work.copyFrom(collection, {base});
    const QString dbf = work.file(QString::fromLatin1(table));
    std::int64_t cdxBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        must(removeFile(indexPathFor(dbf)), QStringLiteral("removing the index"));
        auto t = must(Table::open(dbf, OpenMode::Exclusive), QStringLiteral("opening ") + dbf);
        state.ResumeTiming();
        must(TDM::CreateIndexTags(*t), QStringLiteral("creating the tags of ") + dbf);
        state.PauseTiming();
        cdxBytes = QFileInfo(indexPathFor(dbf)).size();
        t.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = double(must(Table::open(dbf, OpenMode::Shared), QStringLiteral("reopening"))->recordCount());
    state.counters["cdx_bytes"] = double(cdxBytes);
}

// The four collection tables opened on their tags, as at program start.
void OpenCollection(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    for (auto _ : state) {
        state.PauseTiming();
        auto dm = std::make_unique<TDM>(collection);
        state.ResumeTiming();
        must(dm->OpenCollectionTables(), QStringLiteral("opening the collection"));
        state.PauseTiming();
        if (dm->tblAlbums.isEmpty()) fail(QStringLiteral("opening"), Status(ErrorKind::NotFound, QStringLiteral("no first album")));
        dm.reset();
        state.ResumeTiming();
    }
}

// The same, after the start-up checks of the data module (the missing-file and lag tests and
// the cheap structural checks of every tag), as the desktop program and init open the folder.
void OpenCollectionChecked(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    for (auto _ : state) {
        state.PauseTiming();
        auto dm = std::make_unique<TDM>(collection);
        state.ResumeTiming();
        must(dm->EnsureCollectionFiles([](const QString& text) {
            if (!text.isEmpty()) fail(QStringLiteral("start-up checks"), Status(ErrorKind::Corruption, text));
        }),
             QStringLiteral("checking the collection"));
        must(dm->OpenCollectionTables(), QStringLiteral("opening the collection"));
        state.PauseTiming();
        if (dm->tblAlbums.isEmpty()) fail(QStringLiteral("opening"), Status(ErrorKind::NotFound, QStringLiteral("no first album")));
        dm.reset();
        state.ResumeTiming();
    }
}

// ALBUMORA_CLI names another build's companion, to time an older engine with the same benchmarks.
QString cliPath() {
    const QByteArray other = qgetenv("ALBUMORA_CLI");
    return other.isEmpty() ? QStringLiteral(ALBUMORA_CLI_PATH) : QString::fromLocal8Bit(other);
}

void runCli(const QStringList& args) {
    QProcess p;
    p.start(cliPath(), args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        fail(QStringLiteral("albumora-cli ") + args.join(QLatin1Char(' ')),
             Status(ErrorKind::IoError, QString::fromLocal8Bit(p.readAllStandardError()).trimmed()));
}

QString writeTrackList(const QString& folder, int tracks) {
    QString text;
    for (int i = 1; i <= tracks; ++i) text += QStringLiteral("%1. Benchmark song number %1\n").arg(i);
    const QString path = folder + QStringLiteral("/list.txt");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0)
        fail(QStringLiteral("writing the track list"), Status(ErrorKind::IoError, path));
    return path;
}

QStringList importArgs(const QString& data, const QString& list, const QString& title) {
    return {QStringLiteral("--data"), data, QStringLiteral("import"), QStringLiteral("--source"), QStringLiteral("numbered"), list,
            QStringLiteral("--artist"), QStringLiteral("Benchmark Writer"), QStringLiteral("--title"), title,
            QStringLiteral("--genre"), QStringLiteral("rock")};
}

// One 12-track album imported by albumora-cli into a copy of the collection.
void CliImportOne(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    work.copyFrom(collection);
    QTemporaryDir lists;
    const QString list = writeTrackList(lists.path(), 12);
    int serial = 0;
    for (auto _ : state) runCli(importArgs(work.dir(), list, QStringLiteral("Imported %1").arg(++serial)));
}

// One album deleted by albumora-cli (its rows marked in one write, then the tables packed).
void CliDeleteOne(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    work.copyFrom(collection);
    std::vector<QString> ids = albumIds(collection);
    std::mt19937_64 rng(kSeed);
    std::shuffle(ids.begin(), ids.end(), rng);
    size_t next = 0;
    for (auto _ : state) runCli({QStringLiteral("--data"), work.dir(), QStringLiteral("delete"), ids[next++ % ids.size()]});
}

// Writers importing side by side into one collection, each a loop of albumora-cli processes,
// as several shells (or the desktop program and a script) would. Reports the time per import
// of each writer; with one writer it is the single-writer rate.
void CliWriters(benchmark::State& state, int albums) {
    const int writers = int(state.range(0));
    constexpr int kPerWriter = 10;
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    work.copyFrom(collection);
    QTemporaryDir lists;
    const QString list = writeTrackList(lists.path(), 12);
    int round = 0;
    double totalMs = 0;
    for (auto _ : state) {
        ++round;
        QElapsedTimer timer;
        timer.start();
        std::vector<std::unique_ptr<QProcess>> procs;
        for (int w = 0; w < writers; ++w) {
            // bash -c SCRIPT CLI ARGS...: the loop appends each album's title to the arguments.
            const QString script =
                QStringLiteral("set -e; for i in $(seq 1 %1); do \"$0\" \"$@\" \"W%2 R%3 $i\"; done").arg(kPerWriter).arg(w).arg(round);
            const QStringList args{QStringLiteral("--data"), work.dir(),         QStringLiteral("import"),
                                   QStringLiteral("--source"), QStringLiteral("numbered"), list,
                                   QStringLiteral("--artist"), QStringLiteral("Benchmark Writer"),
                                   QStringLiteral("--genre"), QStringLiteral("rock"),   QStringLiteral("--title")};
            auto p = std::make_unique<QProcess>();
            p->start(QStringLiteral("bash"), QStringList{QStringLiteral("-c"), script, cliPath()} + args);
            procs.push_back(std::move(p));
        }
        for (auto& p : procs)
            if (!p->waitForFinished(600000) || p->exitCode() != 0)
                fail(QStringLiteral("a writer"), Status(ErrorKind::IoError, QString::fromLocal8Bit(p->readAllStandardError()).trimmed()));
        totalMs += double(timer.nsecsElapsed()) / 1e6;
    }
    // Each writer imports kPerWriter albums in the round's wall time.
    state.counters["ms_per_import_per_writer"] = totalMs / double(std::max<benchmark::IterationCount>(1, state.iterations()) * kPerWriter);
    state.counters["imports_per_round"] = double(writers * kPerWriter);
}

void CountContains(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Cursor c(QStringLiteral("count"));
    c.setTablePath(tableOf(collection, "TRACKS.DBF"));
    c.setFiltered(true);
    must(c.setFilter(QStringLiteral("contains(track,\"love\")")), QStringLiteral("setting the filter"));
    must(c.open(), QStringLiteral("opening TRACKS.DBF"));
    qint64 n = 0;
    for (auto _ : state) {
        n = must(c.recordCount(), QStringLiteral("counting"));
        benchmark::DoNotOptimize(n);
    }
    state.counters["matches"] = double(n);
    state.counters["rows"] = double(c.table()->recordCount());
}

// 10,000 exact seeks on the ID+NR tag of TRACKS, each on a row that exists.
void Seeks(benchmark::State& state, int albums) {
    constexpr int kSeeks = 10000;
    const QString& collection = Collections::get().folder(albums);
    const std::vector<QStringList> keys = trackKeys(collection);
    std::mt19937_64 rng(kSeed);
    std::vector<QStringList> wanted;
    wanted.reserve(kSeeks);
    for (int i = 0; i < kSeeks; ++i) wanted.push_back(keys[size_t(rng() % keys.size())]);
    Cursor c(QStringLiteral("seek"));
    c.setTablePath(tableOf(collection, "TRACKS.DBF"));
    must(c.setOrder(QStringLiteral("Tracks")), QStringLiteral("ordering"));
    must(c.open(), QStringLiteral("opening TRACKS.DBF"));
    for (auto _ : state) {
        for (const QStringList& k : wanted)
            if (!must(c.findKey(k), QStringLiteral("seeking")))
                fail(QStringLiteral("seeking ") + k.join(QLatin1Char('|')), Status(ErrorKind::NotFound, QStringLiteral("not found")));
    }
    state.SetItemsProcessed(state.iterations() * kSeeks);
}

// One album as the album editor saves it: the album row with notes, 14 tracks through the
// tracks cursor that follows the album, the artist row, then everything flushed to disk.
void SaveAlbum(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    work.copyFrom(collection);
    TDM dm(work.dir());
    must(dm.OpenCollectionTables(), QStringLiteral("opening the copy"));
    int serial = 0;
    for (auto _ : state) {
        // The generator's disc IDs never start with "ff" (their checksum byte is below 0xFF).
        const QString id = QStringLiteral("ff%1").arg(++serial, 6, 16, QLatin1Char('0'));
        Cursor& a = dm.tblAlbums;
        must(a.append(), QStringLiteral("append"));
        must(a.setText(QStringLiteral("ID"), id), QStringLiteral("ID"));
        must(a.setText(QStringLiteral("Artist"), QStringLiteral("Benchmark Béla & the Savers")), QStringLiteral("Artist"));
        must(a.setText(QStringLiteral("Album"), QStringLiteral("Saved Album %1").arg(serial)), QStringLiteral("Album"));
        must(a.setText(QStringLiteral("Genre"), QStringLiteral("rock")), QStringLiteral("Genre"));
        must(a.setText(QStringLiteral("YR"), QStringLiteral("1999")), QStringLiteral("YR"));
        must(a.setText(QStringLiteral("Label"), QStringLiteral("Shelf 3")), QStringLiteral("Label"));
        must(a.setText(QStringLiteral("Notes"), albumora::notes::JoinLines({QStringLiteral("Bought new."), QStringLiteral("COST=12.50")})),
             QStringLiteral("Notes"));
        must(a.post(), QStringLiteral("posting the album"));
        Cursor& t = dm.tblTracks;
        for (int nr = 1; nr <= 14; ++nr) {
            must(t.append(), QStringLiteral("append track"));
            must(t.setText(QStringLiteral("NR"), TDM::PadNumber(nr, 3)), QStringLiteral("NR"));
            must(t.setText(QStringLiteral("Track"), QStringLiteral("Saved Song Number %1").arg(nr)), QStringLiteral("Track"));
            must(t.setText(QStringLiteral("Secs"), QString::number(180 + nr)), QStringLiteral("Secs"));
            must(t.post(), QStringLiteral("posting a track"));
        }
        Cursor& r = dm.tblArtists;
        must(r.append(), QStringLiteral("append artist"));
        must(r.setText(QStringLiteral("ID"), id), QStringLiteral("ID"));
        must(r.setText(QStringLiteral("Artist"), QStringLiteral("Benchmark Béla & the Savers")), QStringLiteral("Artist"));
        must(r.post(), QStringLiteral("posting the artist"));
        must(dm.FlushCollection(), QStringLiteral("flushing"));
    }
    // The detail cursor must have seen the tracks of the last album.
    if (state.iterations() > 0 && must(dm.tblTracks.recordCount(), QStringLiteral("counting")) != 14)
        fail(QStringLiteral("saving"), Status(ErrorKind::Corruption, QStringLiteral("the saved album does not have 14 tracks")));
}

// The tracks of a tenth of the albums deleted through the tracks tag, then TRACKS packed.
void DeleteAndPack(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    std::vector<QString> ids = albumIds(collection);
    std::mt19937_64 rng(kSeed);
    std::shuffle(ids.begin(), ids.end(), rng);
    ids.resize(ids.size() / 10);
    Scratch work;
    double deleteSeconds = 0, packSeconds = 0;
    std::int64_t deleted = 0, before = 0, after = 0;
    for (auto _ : state) {
        state.PauseTiming();
        work.copyFrom(collection, {QStringLiteral("TRACKS")});
        auto c = std::make_unique<Cursor>(QStringLiteral("pack"));
        c->setTablePath(work.file(QStringLiteral("TRACKS.DBF")));
        must(c->setOrder(QStringLiteral("Tracks")), QStringLiteral("ordering"));
        must(c->open(OpenMode::Exclusive), QStringLiteral("opening the copy"));
        before = c->table()->recordCount();
        deleted = 0;
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        for (const QString& id : ids) {
            must(c->setScope(id, id), QStringLiteral("scope"));
            must(c->first(), QStringLiteral("first"));
            while (!c->isEmpty() && !c->eof()) {
                must(c->deleteRecord(), QStringLiteral("deleting"));
                ++deleted;
            }
        }
        c->clearScope();
        const qint64 deletedNs = timer.nsecsElapsed();
        must(c->table()->pack(), QStringLiteral("packing"));
        const qint64 totalNs = timer.nsecsElapsed();
        state.PauseTiming();
        deleteSeconds += double(deletedNs) / 1e9;
        packSeconds += double(totalNs - deletedNs) / 1e9;
        after = c->table()->recordCount();
        if (after != before - deleted)
            fail(QStringLiteral("packing"), Status(ErrorKind::Corruption, QStringLiteral("%1 rows left of %2 after deleting %3")
                                                                              .arg(after).arg(before).arg(deleted)));
        c.reset();
        state.ResumeTiming();
    }
    state.counters["delete_ms"] = benchmark::Counter(deleteSeconds * 1000, benchmark::Counter::kAvgIterations);
    state.counters["pack_ms"] = benchmark::Counter(packSeconds * 1000, benchmark::Counter::kAvgIterations);
    state.counters["deleted"] = double(deleted);
    state.counters["rows_left"] = double(after);
}

// Every track read in the order of a tag on upper(Track), made once for the benchmark.
void ReadInTitleOrder(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    work.copyFrom(collection, {QStringLiteral("TRACKS")});
    Cursor c(QStringLiteral("titles"));
    c.setTablePath(work.file(QStringLiteral("TRACKS.DBF")));
    must(c.open(), QStringLiteral("opening the copy"));
    QElapsedTimer timer;
    timer.start();
    must(c.createTag(QStringLiteral("Title"), QStringLiteral("upper(Track)")), QStringLiteral("creating the tag"));
    const double createMs = double(timer.nsecsElapsed()) / 1e6;
    must(c.setOrder(QStringLiteral("Title")), QStringLiteral("ordering"));
    const int track = c.fieldIndex(QStringLiteral("Track"));
    qint64 rows = 0;
    for (auto _ : state) {
        rows = 0;
        qint64 chars = 0;
        for (must(c.first(), QStringLiteral("first")); !c.eof() && !c.isEmpty(); must(c.next(), QStringLiteral("next"))) {
            chars += c.text(track).size();
            ++rows;
        }
        benchmark::DoNotOptimize(chars);
    }
    if (rows != qint64(c.table()->recordCount()))
        fail(QStringLiteral("reading"), Status(ErrorKind::Corruption, QStringLiteral("%1 rows read of %2").arg(rows).arg(c.table()->recordCount())));
    state.counters["rows"] = double(rows);
    state.counters["create_tag_ms"] = createMs;
    state.SetItemsProcessed(state.iterations() * rows);
}

std::vector<int> sizes() {
    const QByteArray env = qgetenv("ALBUMORA_BENCH_SIZES");
    std::vector<int> out;
    for (const QByteArray& part : (env.isEmpty() ? QByteArray("20000,100000") : env).split(',')) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (ok && n > 0) out.push_back(n);
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The report writer's outputs against the engine reading the same rows in the same order.

const QStringList kExportFields = {QStringLiteral("ALBUM"), QStringLiteral("ARTIST"), QStringLiteral("ID"), QStringLiteral("GENRE"),
                                   QStringLiteral("YR"),    QStringLiteral("LABEL"),  QStringLiteral("COST"), QStringLiteral("VALUE")};

// Every selected album's exported fields (the notes for COST and VALUE), its tracks and its
// playlist rows, read through the selection as the export reads them, written nowhere.
void ReadForExport(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    qint64 rows = 0;
    for (auto _ : state) {
        TDM dm(collection);
        must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
        reports::Selection s(dm);
        must(s.prepare({{}, {}, reports::Order::Artist, {}}), QStringLiteral("selecting"));
        store::Cursor& a = s.albums();
        std::size_t bytes = 0;
        rows = 0;
        must(a.first(), QStringLiteral("first"));
        while (!a.isEmpty()) {
            for (const QString& f : kExportFields) {
                if (f == QLatin1String("COST") || f == QLatin1String("VALUE")) {
                    const QString text = must(a.readText(QStringLiteral("Notes")), QStringLiteral("notes"));
                    bytes += size_t(notes::FindAmount(notes::SplitLines(text), notes::AmountKind::Cost).value.size());
                } else {
                    bytes += size_t(must(a.readText(f), QStringLiteral("field")).size());
                }
            }
            must(s.forEachTrack([&](const store::Cursor& t) -> Status {
                bytes += size_t(t.text(QStringLiteral("ID")).size() + t.text(QStringLiteral("NR")).size() + t.text(QStringLiteral("Track")).size());
                ++rows;
                return {};
            }),
                 QStringLiteral("tracks"));
            must(s.forEachPlaylistEntry([&](const store::Cursor& p) -> Status {
                bytes += size_t(p.text(QStringLiteral("NR")).size());
                return {};
            }),
                 QStringLiteral("playlist"));
            ++rows;
            must(a.next(), QStringLiteral("next"));
            if (a.eof()) break;
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["rows"] = double(rows);
}

void Export(benchmark::State& state, int albums, reports::FileKind kind) {
    const QString& collection = Collections::get().folder(albums);
    Scratch out;
    for (auto _ : state) {
        TDM dm(collection);
        must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
        reports::Selection s(dm);
        must(s.prepare({{}, {}, reports::Order::Artist, {}}), QStringLiteral("selecting"));
        must(reports::WriteDataFiles(s, {kind, kExportFields, true, out.dir()}), QStringLiteral("exporting"));
    }
    qint64 bytes = 0;
    for (const QFileInfo& f : QDir(out.dir()).entryInfoList(QDir::Files)) bytes += f.size();
    state.counters["MiB"] = double(bytes) / (1 << 20);
}

// The album report of the whole collection laid out and written as PDF; pages per second, and
// the longest stretch of the layout without a progress report (the window's longest freeze).
void AlbumReportPdf(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch out;
    std::size_t pages = 0;
    double layoutSeconds = 0, longestGap = 0;
    for (auto _ : state) {
        TDM dm(collection);
        must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
        reports::Selection s(dm);
        must(s.prepare({{}, {}, reports::Order::Artist, {}}), QStringLiteral("selecting"));
        reports::LayoutInput in;
        in.title = QStringLiteral("My Music Collection");
        in.fields = kExportFields;
        QElapsedTimer layout, gap;
        layout.start();
        gap.start();
        const reports::Document doc = must(reports::AlbumReport(s, dm, in, [&](qint64, qint64) {
            longestGap = std::max(longestGap, gap.nsecsElapsed() / 1e9);
            gap.restart();
        }),
                                           QStringLiteral("laying out"));
        layoutSeconds = layout.nsecsElapsed() / 1e9;
        pages = doc.pages.size();
        must(reports::WritePdf(doc, out.file(QStringLiteral("report.pdf"))), QStringLiteral("writing the PDF"));
    }
    state.counters["pages"] = double(pages);
    state.counters["pages/s"] = benchmark::Counter(double(pages) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["layout_s"] = layoutSeconds;
    state.counters["longest_gap_ms"] = longestGap * 1000;
}

// The tracks view's work table built from the collection (rows and three tags), and, in the
// same run, the engine's raw append of the very same rows into a new table with the same tags:
// the build's cost beyond writing its output.
void TrackViewBuild(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch s;
    s.copyFrom(collection, {QStringLiteral("ALBUMS"), QStringLiteral("TRACKS"), QStringLiteral("ARTISTS"), QStringLiteral("PLAYLIST")});
    double buildSeconds = 0, rawSeconds = 0;
    qint64 rows = 0, progressReports = 0;
    for (auto _ : state) {
        QFile::remove(s.file(QStringLiteral("TVIEW.DBF")));
        QFile::remove(s.file(QStringLiteral("TVIEW.CDX")));
        {
            TDM dm(s.dir());
            must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
            QElapsedTimer t;
            t.start();
            const auto built = must(views::BuildTrackViewTable(dm, {}, [&](qint64, qint64) { ++progressReports; }),
                                    QStringLiteral("building TVIEW.DBF"));
            buildSeconds = t.nsecsElapsed() / 1e9;
            rows = built.rows;
        }
        state.PauseTiming();
        std::string records;
        std::size_t length = 0;
        {
            auto tv = must(Table::open(s.file(QStringLiteral("TVIEW.DBF")), OpenMode::Shared), QStringLiteral("opening TVIEW.DBF"));
            length = size_t(tv->dbf().recordLength());
            records.reserve(length * tv->recordCount());
            must(tv->dbf().scan(1, tv->recordCount(),
                                [&](std::uint32_t, const char* rec) {
                                    records.append(rec, length);
                                    return true;
                                }),
                 QStringLiteral("reading TVIEW.DBF"));
        }
        Scratch raw;
        const QString path = raw.file(QStringLiteral("TVIEW.DBF"));
        QElapsedTimer t;
        t.start();
        must(Table::create(path, must(store::parseFieldList(TDM::kTViewFields), QStringLiteral("fields"))), QStringLiteral("creating"));
        {
            auto tv = must(Table::open(path, OpenMode::Exclusive), QStringLiteral("opening the raw table"));
            std::string rec;
            for (std::size_t at = 0, n = 0; at < records.size(); at += length) {
                rec.assign(records, at, length);
                must(tv->appendRecord(rec).status(), QStringLiteral("appending"));
                if (++n % 65536 == 0) must(tv->flush(), QStringLiteral("flushing"));
            }
            must(tv->flush(), QStringLiteral("flushing"));
            for (const auto& [name, expr] : views::TrackViewTags()) must(tv->createTag(name, expr), QStringLiteral("tag"));
            must(tv->flush(), QStringLiteral("flushing"));
        }
        rawSeconds = t.nsecsElapsed() / 1e9;
        state.ResumeTiming();
    }
    state.counters["rows"] = double(rows);
    state.counters["build_s"] = buildSeconds;
    state.counters["raw_s"] = rawSeconds;
    state.counters["build/raw"] = rawSeconds > 0 ? buildSeconds / rawSeconds : 0;
    state.counters["progress_reports"] = double(progressReports) / double(std::max<benchmark::IterationCount>(1, state.iterations()));
}

// File maintenance of a whole collection: the four tables packed and re-indexed, and the zip
// archive of the data files written (the copy of the collection is made outside the timing).
void Maintenance(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    double archiveMiB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Scratch s;
        s.copyFrom(collection);
        state.ResumeTiming();
        TDM dm(s.dir());
        must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
        const auto done = must(store::MaintainCollection(dm, true), QStringLiteral("maintaining"));
        dm.CloseAll();
        state.PauseTiming();
        archiveMiB = double(QFileInfo(done.archive).size()) / (1 << 20);
        state.ResumeTiming();
    }
    state.counters["archive_MiB"] = archiveMiB;
}

// The duplicate-track finder for a 12-track album over the tracks view of the collection (the
// view built once, outside the timing): one seek per title and the matching rows read.
void FindDuplicateTracks(benchmark::State& state, int albums) {
    const QString& collection = Collections::get().folder(albums);
    Scratch s;
    s.copyFrom(collection, {QStringLiteral("ALBUMS"), QStringLiteral("TRACKS"), QStringLiteral("ARTISTS"), QStringLiteral("PLAYLIST")});
    TDM dm(s.dir());
    must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
    must(views::BuildTrackViewTable(dm).status(), QStringLiteral("building TVIEW.DBF"));
    views::DuplicateQuery q;
    q.artist = QStringLiteral("Various");
    q.album = QStringLiteral("Benchmark");
    // Titles the generator uses often, and some it never does.
    const char* titles[] = {"Love", "Crown", "Desert", "Fire & Gold", "Raw Summer", "Golden Circus", "Lost Moon",
                            "Burning Light", "Nothing like this title", "Blue Hour", "Walking Home", "Heroes"};
    int n = 0;
    for (const char* t : titles) q.tracks.push_back({QString::number(++n), QString::fromLatin1(t)});
    Cursor& tv = dm.tblTView;
    tv.setTablePath(s.file(QStringLiteral("TVIEW.DBF")));
    must(tv.setOrder(QStringLiteral("Track")), QStringLiteral("order"));
    must(tv.open(), QStringLiteral("opening TVIEW.DBF"));
    std::size_t lines = 0;
    for (auto _ : state) {
        const auto page = must(views::FindDuplicates(tv, q), QStringLiteral("finding"));
        lines = page.lines.size();
    }
    state.counters["page_lines"] = double(lines);
}

// ---------------------------------------------------------------------------------------------
// The engine's heavy operations as whole albumora-cli processes, with each one's peak memory.

struct ProcessRun {
    double seconds = 0;
    double peakMiB = 0;  // the child's largest resident set
};

extern "C" char** environ;

// Runs the companion with its output thrown away, through albumora-peak-memory, which reads the
// child's own peak (see there why this process cannot).
ProcessRun runMeasured(const QStringList& args) {
    char resultName[] = "/tmp/albumora-bench-peak-XXXXXX";
    const int resultFd = mkstemp(resultName);
    char errName[] = "/tmp/albumora-bench-stderr-XXXXXX";
    const int errFd = mkstemp(errName);
    if (resultFd < 0 || errFd < 0) fail(QStringLiteral("files for the companion's peak and errors"), Status(ErrorKind::IoError, QStringLiteral("mkstemp")));
    unlink(errName);
    const QByteArray helper = QByteArrayLiteral(ALBUMORA_PEAK_MEMORY_PATH);
    std::vector<QByteArray> bytes{helper, QByteArray(resultName), QFile::encodeName(cliPath())};
    for (const QString& a : args) bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes) argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, helper.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) fail(QStringLiteral("starting albumora-peak-memory"), Status(ErrorKind::IoError, QString::fromLocal8Bit(strerror(spawned))));
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) fail(QStringLiteral("waiting for ") + cliPath(), Status(ErrorKind::IoError, QStringLiteral("waitpid")));
    clock_gettime(CLOCK_MONOTONIC, &end);
    char buf[2048] = {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const ssize_t n = pread(errFd, buf, sizeof buf - 1, 0);
        fail(QStringLiteral("albumora-cli ") + args.join(QLatin1Char(' ')),
             Status(ErrorKind::IoError, QString::fromLocal8Bit(buf, n > 0 ? int(n) : 0).trimmed()));
    }
    close(errFd);
    const ssize_t n = pread(resultFd, buf, sizeof buf - 1, 0);
    close(resultFd);
    unlink(resultName);
    ProcessRun r;
    r.seconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    r.peakMiB = QByteArray(buf, n > 0 ? int(n) : 0).trimmed().toDouble() / 1024.0;
    return r;
}

enum class EngineOp { Count, ReindexIdNr, ReindexTitle, PackTenth, QueryTitleOrder };

// TRACKS of a collection as these operations need it: TRACKS.DBF with its own tag, and the same
// rows as TITLES.DBF whose only tag is Title on upper(Track) (not a collection table, so reindex
// rebuilds the tag it has).
void prepareTitles(const Scratch& work) {
    must(copyFile(work.file(QStringLiteral("TRACKS.DBF")), work.file(QStringLiteral("TITLES.DBF"))), QStringLiteral("copying TRACKS"));
    auto t = must(Table::open(work.file(QStringLiteral("TITLES.DBF")), OpenMode::Exclusive), QStringLiteral("opening TITLES"));
    must(t->createTags({{QStringLiteral("Title"), QStringLiteral("upper(Track)")}}), QStringLiteral("creating the Title tag"));
}

// Every tenth row of TRACKS marked deleted, in place.
void deleteEveryTenth(const QString& dbf) {
    auto t = must(Table::open(dbf, OpenMode::Exclusive), QStringLiteral("opening ") + dbf);
    for (std::uint32_t r = 10; r <= t->recordCount(); r += 10) must(t->setDeleted(r, true), QStringLiteral("deleting"));
    must(t->flush(), QStringLiteral("flushing"));
}

void CliEngine(benchmark::State& state, int albums, EngineOp op) {
    const QString& collection = Collections::get().folder(albums);
    Scratch work;
    work.copyFrom(collection, {QStringLiteral("TRACKS")});
    if (op == EngineOp::ReindexTitle || op == EngineOp::QueryTitleOrder) prepareTitles(work);
    Scratch packed;
    if (op == EngineOp::PackTenth) {
        deleteEveryTenth(work.file(QStringLiteral("TRACKS.DBF")));
    }
    QStringList args;
    switch (op) {
    case EngineOp::Count:
        args = {QStringLiteral("count"), QStringLiteral("TRACKS.DBF"), QStringLiteral("--filter"), QStringLiteral("contains(track,\"love\")")};
        break;
    case EngineOp::ReindexIdNr: args = {QStringLiteral("reindex"), QStringLiteral("TRACKS.DBF")}; break;
    case EngineOp::ReindexTitle: args = {QStringLiteral("reindex"), QStringLiteral("TITLES.DBF")}; break;
    case EngineOp::PackTenth: args = {QStringLiteral("pack"), QStringLiteral("TRACKS.DBF")}; break;
    case EngineOp::QueryTitleOrder:
        args = {QStringLiteral("query"), QStringLiteral("TITLES.DBF"), QStringLiteral("--order"), QStringLiteral("Title")};
        break;
    }
    const QString data = op == EngineOp::PackTenth ? packed.dir() : work.dir();
    args = QStringList{QStringLiteral("--data"), data} + args;
    double peak = 0;
    for (auto _ : state) {
        if (op == EngineOp::PackTenth) {
            // A fresh copy of the table with its deleted rows for every pack.
            for (const QString& f : {QStringLiteral("TRACKS.DBF"), QStringLiteral("TRACKS.CDX")}) {
                must(removeFile(packed.file(f)), QStringLiteral("clearing"));
                must(copyFile(work.file(f), packed.file(f)), QStringLiteral("copying ") + f);
            }
        }
        const ProcessRun r = runMeasured(args);
        state.SetIterationTime(r.seconds);
        peak = std::max(peak, r.peakMiB);
    }
    state.counters["peak_MiB"] = peak;
    state.counters["rows"] = double(must(Table::open(work.file(QStringLiteral("TRACKS.DBF")), OpenMode::Shared), QStringLiteral("reopening"))->recordCount());
}

// The companion's start-up: a whole process counting a 14-row table, the time a script pays for
// every table command. The flows program (`--version` does not start it) is measured beside it
// with the same count, as albumora-cli-flows runs it when it is started directly.
void CliStartup(benchmark::State& state, bool flows) {
    Scratch s;
    runCli({QStringLiteral("--data"), s.dir(), QStringLiteral("init")});
    {
        TDM dm(s.dir());
        must(dm.OpenCollectionTables(), QStringLiteral("opening the collection"));
        Transaction tx = must(Transaction::begin(s.dir()), QStringLiteral("write"));
        for (int i = 0; i < 14; ++i) {
            must(dm.tblAlbums.append(), QStringLiteral("append"));
            must(dm.tblAlbums.setText(QStringLiteral("ID"), QStringLiteral("0a%1").arg(i, 6, 10, QLatin1Char('0'))), QStringLiteral("id"));
            must(dm.tblAlbums.post(), QStringLiteral("post"));
        }
        must(dm.FlushCollection(), QStringLiteral("flush"));
        must(tx.commit(), QStringLiteral("commit"));
    }
    const QString program = flows ? QFileInfo(cliPath()).absolutePath() + QStringLiteral("/albumora-cli-flows") : cliPath();
    const QStringList args = {QStringLiteral("--data"), s.dir(), QStringLiteral("count"), QStringLiteral("ALBUMS.DBF")};
    for (auto _ : state) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0 || p.readAllStandardOutput() != "14\n")
            fail(program, Status(ErrorKind::IoError, QString::fromLocal8Bit(p.readAllStandardError()).trimmed()));
    }
}

int main(int argc, char** argv) {
    // The PDF benchmark paints text: the GUI part of Qt, without a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    for (int n : sizes()) {
        // Iteration counts keep the run to a few minutes on a two-core machine; the larger
        // collection gets fewer where one pass takes seconds.
        const bool big = n >= 50000;
        const std::string suffix = "/albums:" + std::to_string(n);
        for (const char* table : {"ALBUMS.DBF", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"}) {
            const std::string name = "CreateTags/" + QFileInfo(QString::fromLatin1(table)).completeBaseName().toStdString();
            benchmark::RegisterBenchmark((name + suffix).c_str(), [n, table](benchmark::State& s) { CreateTags(s, n, table); })
                ->Iterations(big ? 3 : 5)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("ReadForExport" + suffix).c_str(), [n](benchmark::State& s) { ReadForExport(s, n); })
            ->Iterations(big ? 2 : 3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ExportCsv" + suffix).c_str(), [n](benchmark::State& s) { Export(s, n, reports::FileKind::Csv); })
            ->Iterations(big ? 2 : 3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ExportXml" + suffix).c_str(), [n](benchmark::State& s) { Export(s, n, reports::FileKind::Xml); })
            ->Iterations(big ? 2 : 3)
            ->Unit(benchmark::kMillisecond);
        if (!big)
            benchmark::RegisterBenchmark(("AlbumReportPdf" + suffix).c_str(), [n](benchmark::State& s) { AlbumReportPdf(s, n); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("OpenCollection" + suffix).c_str(), [n](benchmark::State& s) { OpenCollection(s, n); })
            ->Iterations(200)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("OpenCollectionChecked" + suffix).c_str(), [n](benchmark::State& s) { OpenCollectionChecked(s, n); })
            ->Iterations(100)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("CliImportOne" + suffix).c_str(), [n](benchmark::State& s) { CliImportOne(s, n); })
            ->Iterations(20)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("CliDeleteOne" + suffix).c_str(), [n](benchmark::State& s) { CliDeleteOne(s, n); })
            ->Iterations(big ? 3 : 5)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("CliWriters" + suffix).c_str(), [n](benchmark::State& s) { CliWriters(s, n); })
            ->Arg(1)
            ->Arg(2)
            ->Iterations(2)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("CountContainsLove" + suffix).c_str(), [n](benchmark::State& s) { CountContains(s, n); })
            ->Iterations(big ? 5 : 10)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Seek10000IdNr" + suffix).c_str(), [n](benchmark::State& s) { Seeks(s, n); })
            ->Iterations(big ? 5 : 10)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SaveAlbum" + suffix).c_str(), [n](benchmark::State& s) { SaveAlbum(s, n); })
            ->Iterations(50)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DeleteTenthAndPackTracks" + suffix).c_str(), [n](benchmark::State& s) { DeleteAndPack(s, n); })
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ReadAllInTitleOrder" + suffix).c_str(), [n](benchmark::State& s) { ReadInTitleOrder(s, n); })
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        const std::pair<const char*, EngineOp> engineOps[] = {{"Count", EngineOp::Count},
                                                              {"ReindexIdNr", EngineOp::ReindexIdNr},
                                                              {"ReindexTitle", EngineOp::ReindexTitle},
                                                              {"PackTenth", EngineOp::PackTenth},
                                                              {"QueryTitleOrder", EngineOp::QueryTitleOrder}};
        for (const auto& [opName, op] : engineOps)
            benchmark::RegisterBenchmark((std::string("CliEngine/") + opName + suffix).c_str(),
                                         [n, op = op](benchmark::State& s) { CliEngine(s, n, op); })
                ->Iterations(big ? 3 : 5)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("TrackViewBuild" + suffix).c_str(), [n](benchmark::State& s) { TrackViewBuild(s, n); })
            ->Iterations(big ? 1 : 3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Maintenance" + suffix).c_str(), [n](benchmark::State& s) { Maintenance(s, n); })
            ->Iterations(big ? 1 : 3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("FindDuplicateTracks" + suffix).c_str(), [n](benchmark::State& s) { FindDuplicateTracks(s, n); })
            ->Iterations(20)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("CliStartupCount14Rows", [](benchmark::State& s) { CliStartup(s, false); })
        ->Iterations(50)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("CliFlowsStartupCount14Rows", [](benchmark::State& s) { CliStartup(s, true); })
        ->Iterations(50)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return Collections::get().unchanged() ? 0 : 1;
}
