// Works a collection folder the way the program does, through the data module, until it is
// killed: appends albums with notes and their tracks, edits them (notes and index key fields
// too, so keys move between leaves), deletes them, packs, and flushes. Every change is announced
// on standard output before it starts and every flush after it returns (see CrashModel.h), so
// the crash tests know, whatever moment the kill lands on, what must have survived it.
//
//   crash_writer FOLDER SEED FIRST_ID [OPERATIONS [PACK_ONE_IN]]
//
// FIRST_ID is the first album number this run may take. With OPERATIONS -1 or absent the writer
// never stops by itself; otherwise it flushes after that many operations and ends. A pack
// follows about one operation in PACK_ONE_IN (30 unless given).
#include "CrashModel.h"
#include "DMcd.h"
#include "Table.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include <unistd.h>

using namespace albumora::store;
namespace cm = albumora::crashmodel;

namespace {

// One write per line, unbuffered: what the test reads after the kill is exactly what was said.
void say(const QString& line) {
    const QByteArray b = line.toUtf8() + '\n';
    const char* p = b.constData();
    size_t left = size_t(b.size());
    while (left) {
        const ssize_t n = ::write(1, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::_Exit(4);
        }
        p += n;
        left -= size_t(n);
    }
}

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "crash_writer: %s\n", what.toLocal8Bit().constData());
    std::fflush(stderr);
    std::exit(3);
}

void must(const Status& st, const QString& what) {
    if (!st.isOk()) die(what + QStringLiteral(": ") + st.text());
}

template <class T>
T must(Result<T> r, const QString& what) {
    if (!r.isOk()) die(what + QStringLiteral(": ") + r.error().text());
    return std::move(r).value();
}

struct AlbumState {
    int version = 0;              // 0: deleted, its tracks not yet
    std::map<int, int> tracks;    // number -> version
};

class Writer {
public:
    Writer(const QString& folder, std::uint64_t seed, qint64 firstId, int packOneIn)
        : dm_(folder), rng_(seed), nextId_(firstId), packOneIn_(std::max(1, packOneIn)) {}

    void start() {
        must(dm_.EnsureCollectionFiles(), QStringLiteral("opening the folder"));
        must(dm_.OpenCollectionTables(), QStringLiteral("opening the tables"));
        openWorkCursors();
        readState();
        say(QStringLiteral("R %1 %2").arg(indexSize(QStringLiteral("ALBUMS.CDX"))).arg(indexSize(QStringLiteral("TRACKS.CDX"))));
    }

    void step() {
        const int live = liveAlbums();
        const int r = pick(0, 99);
        if (const QString orphan = orphanAlbum(); !orphan.isEmpty())
            deleteTracksOf(orphan);
        else if (live < 12 || r < 28)
            appendAlbum();
        else if (r < 50)
            editAlbum();
        else if (r < 64)
            editTrack(false);
        else if (r < 70)
            editTrack(true);
        else if (r < 76)
            appendTrack();
        else if (r < 86 + (live > 250 ? 10 : 0))
            deleteAlbum();
        else
            deleteTrack();

        const int f = pick(0, 7);
        if (f == 0) {
            must(dm_.FlushCollection(), QStringLiteral("flushing the collection"));
            say(QStringLiteral("F"));
        } else if (f == 1) {
            must(dm_.tblFilter.table()->flush(), QStringLiteral("flushing ALBUMS.DBF"));
            must(dm_.tblCD.table()->flush(), QStringLiteral("flushing TRACKS.DBF"));
            say(QStringLiteral("F"));
        }
        if (pick(1, packOneIn_) == 1) pack(pick(0, 1) ? QStringLiteral("ALBUMS.DBF") : QStringLiteral("TRACKS.DBF"));
    }

    void finish() {
        must(dm_.FlushCollection(), QStringLiteral("flushing the collection"));
        say(QStringLiteral("F"));
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    void openWorkCursors() {
        // Writes go through the search cursor (ID order) and the track cursor (ID+NR order), as
        // the edit forms do; the browser cursors stay open on the same tables meanwhile.
        must(dm_.tblFilter.setOrder(QStringLiteral("ID")), QStringLiteral("ordering ALBUMS.DBF by ID"));
        must(dm_.tblFilter.open(), QStringLiteral("opening ALBUMS.DBF"));
        must(dm_.tblCD.setOrder(QStringLiteral("Tracks")), QStringLiteral("ordering TRACKS.DBF"));
    }

    void readState() {
        Cursor& a = dm_.tblFilter;
        for (must(a.first(), QStringLiteral("reading albums")); !a.eof(); must(a.next(), QStringLiteral("reading albums"))) {
            const QString id = a.text(QStringLiteral("ID"));
            albums_[id].version = a.text(QStringLiteral("IX")).trimmed().toInt();
            nextId_ = std::max(nextId_, id.toLongLong(nullptr, 36) + 1);
        }
        Cursor& t = dm_.tblCD;
        for (must(t.first(), QStringLiteral("reading tracks")); !t.eof(); must(t.next(), QStringLiteral("reading tracks"))) {
            const QString id = t.text(QStringLiteral("ID"));
            albums_[id].tracks[t.text(QStringLiteral("NR")).trimmed().toInt()] = t.text(QStringLiteral("Secs")).toInt();
        }
    }

    int liveAlbums() const {
        int n = 0;
        for (const auto& [id, a] : albums_) n += a.version > 0 ? 1 : 0;
        return n;
    }

    QString orphanAlbum() const {
        for (const auto& [id, a] : albums_)
            if (a.version == 0 && !a.tracks.empty()) return id;
        return {};
    }

    // A random album, live or with tracks as asked; empty when there is none.
    QString randomAlbum(bool withTracks) {
        std::vector<QString> ids;
        for (const auto& [id, a] : albums_)
            if (a.version > 0 && (!withTracks || !a.tracks.empty())) ids.push_back(id);
        if (ids.empty()) return {};
        return ids[size_t(pick(0, int(ids.size()) - 1))];
    }

    qint64 indexSize(const QString& file) const { return QFileInfo(dm_.tablePath(file)).size(); }

    void done() {
        say(QStringLiteral("D %1 %2").arg(indexSize(QStringLiteral("ALBUMS.CDX"))).arg(indexSize(QStringLiteral("TRACKS.CDX"))));
    }

    void setAlbum(Cursor& c, const QString& id, int version) {
        const cm::Album a = cm::albumAt(id, version);
        const QString what = QStringLiteral("writing album ") + id;
        must(c.setText(QStringLiteral("ID"), id), what);
        must(c.setText(QStringLiteral("Album"), a.album), what);
        must(c.setText(QStringLiteral("Artist"), a.artist), what);
        must(c.setText(QStringLiteral("IX"), a.ix), what);
        must(c.setText(QStringLiteral("Genre"), a.genre), what);
        must(c.setText(QStringLiteral("YR"), a.yr), what);
        must(c.setText(QStringLiteral("Label"), a.label), what);
        must(c.setText(QStringLiteral("Media"), a.media), what);
        must(c.setText(QStringLiteral("Notes"), a.notes), what);
    }

    void setTrack(Cursor& c, const QString& id, int nr, int version) {
        const cm::Track t = cm::trackAt(id, nr, version);
        const QString what = QStringLiteral("writing track %1 of %2").arg(nr).arg(id);
        must(c.setText(QStringLiteral("ID"), id), what);
        must(c.setText(QStringLiteral("NR"), TDM::PadNumber(nr, 3)), what);
        must(c.setText(QStringLiteral("Track"), t.title), what);
        must(c.setText(QStringLiteral("Secs"), t.secs), what);
    }

    void findAlbum(const QString& id) {
        if (!must(dm_.tblFilter.findKey({id}), QStringLiteral("seeking album ") + id))
            die(QStringLiteral("album %1 is not in the ID order").arg(id));
    }

    void findTrack(const QString& id, int nr) {
        if (!must(dm_.tblCD.findKey({id, TDM::PadNumber(nr, 3)}), QStringLiteral("seeking track of ") + id))
            die(QStringLiteral("track %1 of %2 is not in the track order").arg(nr).arg(id));
    }

    void appendAlbum() {
        const QString id = cm::albumId(nextId_++);
        AlbumState& a = albums_[id];
        a.version = 1;
        say(QStringLiteral("A %1 1").arg(id));
        Cursor& c = dm_.tblFilter;
        must(c.append(), QStringLiteral("appending an album"));
        setAlbum(c, id, 1);
        must(c.post(), QStringLiteral("posting album ") + id);
        done();
        const int tracks = pick(1, 12);
        for (int nr = 1; nr <= tracks; ++nr) addTrack(id, nr);
    }

    void addTrack(const QString& id, int nr) {
        albums_[id].tracks[nr] = 1;
        say(QStringLiteral("T %1 %2 1").arg(id).arg(nr));
        Cursor& t = dm_.tblCD;
        must(t.append(), QStringLiteral("appending a track"));
        setTrack(t, id, nr, 1);
        must(t.post(), QStringLiteral("posting a track of ") + id);
        done();
    }

    void appendTrack() {
        const QString id = randomAlbum(false);
        if (id.isEmpty()) return;
        const auto& tracks = albums_[id].tracks;
        addTrack(id, tracks.empty() ? 1 : tracks.rbegin()->first + 1);
    }

    void editAlbum() {
        const QString id = randomAlbum(false);
        if (id.isEmpty()) return;
        AlbumState& a = albums_[id];
        if (a.version >= 999999) return;
        const int version = ++a.version;
        say(QStringLiteral("A %1 %2").arg(id).arg(version));
        findAlbum(id);
        Cursor& c = dm_.tblFilter;
        must(c.edit(), QStringLiteral("editing album ") + id);
        setAlbum(c, id, version);
        must(c.post(), QStringLiteral("posting album ") + id);
        done();
    }

    // An edit of the title and time, or a new number, which moves the row's key.
    void editTrack(bool renumber) {
        const QString id = randomAlbum(true);
        if (id.isEmpty()) return;
        auto& tracks = albums_[id].tracks;
        auto it = tracks.begin();
        std::advance(it, pick(0, int(tracks.size()) - 1));
        const int nr = it->first;
        const int version = it->second + 1;
        if (version > 9999) return;
        int newNr = nr;
        if (renumber) {
            newNr = tracks.rbegin()->first + pick(1, 40);
            if (newNr > 999) return;
            say(QStringLiteral("t %1 %2").arg(id).arg(nr));
        }
        say(QStringLiteral("T %1 %2 %3").arg(id).arg(newNr).arg(version));
        tracks.erase(it);
        tracks[newNr] = version;
        findTrack(id, nr);
        Cursor& t = dm_.tblCD;
        must(t.edit(), QStringLiteral("editing a track of ") + id);
        setTrack(t, id, newNr, version);
        must(t.post(), QStringLiteral("posting a track of ") + id);
        done();
    }

    void deleteTracksOf(const QString& id) {
        auto& tracks = albums_[id].tracks;
        while (!tracks.empty()) {
            const int nr = tracks.begin()->first;
            say(QStringLiteral("t %1 %2").arg(id).arg(nr));
            tracks.erase(tracks.begin());
            findTrack(id, nr);
            must(dm_.tblCD.deleteRecord(), QStringLiteral("deleting a track of ") + id);
            done();
        }
        if (albums_[id].version == 0) albums_.erase(id);
    }

    void deleteAlbum() {
        const QString id = randomAlbum(false);
        if (id.isEmpty()) return;
        albums_[id].version = 0;
        say(QStringLiteral("a %1").arg(id));
        findAlbum(id);
        must(dm_.tblFilter.deleteRecord(), QStringLiteral("deleting album ") + id);
        done();
        deleteTracksOf(id);
    }

    void deleteTrack() {
        const QString id = randomAlbum(true);
        if (id.isEmpty()) return;
        auto& tracks = albums_[id].tracks;
        auto it = tracks.begin();
        std::advance(it, pick(0, int(tracks.size()) - 1));
        const int nr = it->first;
        say(QStringLiteral("t %1 %2").arg(id).arg(nr));
        tracks.erase(it);
        findTrack(id, nr);
        must(dm_.tblCD.deleteRecord(), QStringLiteral("deleting a track of ") + id);
        done();
    }

    // Packing needs the table to itself: the data module's cursors close first, as the
    // program's maintenance does, and open again afterwards.
    void pack(const QString& file) {
        finish();
        QElapsedTimer timer;
        timer.start();
        say(QStringLiteral("P ") + file);
        dm_.CloseAll();
        {
            auto table = must(Table::open(dm_.tablePath(file), OpenMode::Exclusive), QStringLiteral("opening ") + file);
            must(table->pack(), QStringLiteral("packing ") + file);
        }
        must(dm_.OpenCollectionTables(), QStringLiteral("opening the tables after a pack"));
        openWorkCursors();
        say(QStringLiteral("p %1").arg(timer.nsecsElapsed() / 1000));
    }

    TDM dm_;
    std::mt19937_64 rng_;
    qint64 nextId_;
    int packOneIn_;
    std::map<QString, AlbumState> albums_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: crash_writer FOLDER SEED FIRST_ID [OPERATIONS [PACK_ONE_IN]]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const std::uint64_t seed = std::strtoull(argv[2], nullptr, 10);
    const qint64 firstId = std::strtoll(argv[3], nullptr, 10);
    const long operations = argc > 4 ? std::strtol(argv[4], nullptr, 10) : -1;
    const int packOneIn = argc > 5 ? int(std::strtol(argv[5], nullptr, 10)) : 30;
    Writer w(folder, seed, firstId, packOneIn);
    w.start();
    for (long i = 0; operations < 0 || i < operations; ++i) w.step();
    w.finish();
    return 0;
}
