// Damaged files and hostile expressions. Truncated and bit-flipped DBF, FPT and CDX files, made
// by the engine and by FoxPro, and random or malicious expression texts go through everything
// that reads them: opening, cursor movement over every row in every order, seeks, counts, the
// integrity check, index tree walks, compiling and evaluating.
//
// Each case runs in a child process under a time limit, so that a crash or a hang is reported as
// the failure of that case, with what reproduces it (seed, file, byte, bit), while the other
// cases still run. Required of every case: no crash, no hang, every error a Status that names
// the file, and no silently wrong answer where the damage can be seen. For an index that means:
// when a tag's entries are not the ones its rows give, when a walk forward and a walk backward
// disagree, or when a seek misses a key that a walk of the same tag shows, the integrity check
// must report a problem with the table.
#include "Check.h"
#include "Codepage.h"
#include "CrashModel.h"
#include "Cursor.h"
#include "DMcd.h"
#include "DbfFile.h"
#include "Expression.h"
#include "IndexFile.h"
#include "MemoFile.h"
#include "Table.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

// ---------------------------------------------------------------------------------------------
// Cases in child processes

#if defined(__SANITIZE_ADDRESS__)
constexpr int kCaseLimitMs = 30000;
#else
constexpr int kCaseLimitMs = 5000;
#endif

void sendLine(int fd, std::string line) {
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    line.push_back('\n');
    const char* p = line.data();
    size_t left = line.size();
    while (left) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= size_t(n);
    }
}

// What a case says about itself, from the child to the test.
class Report {
public:
    explicit Report(int fd) : fd_(fd) {}
    void problem(const QString& text) { sendLine(fd_, "E " + text.toStdString()); }

private:
    int fd_;
};

struct Failure {
    size_t index;
    std::string text;
};

// Runs cases [0, n), each under its own time limit, in child processes: one child runs case
// after case until one of them dies, then the next child goes on after it.
std::vector<Failure> runIsolated(size_t n, const std::function<void(size_t, Report&)>& runCase) {
    std::vector<Failure> failures;
    size_t next = 0;
    while (next < n) {
        int fds[2];
        if (::pipe(fds) != 0) {
            failures.push_back({next, "cannot make a pipe"});
            return failures;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t pid = ::fork();
        if (pid < 0) {
            failures.push_back({next, "cannot fork"});
            return failures;
        }
        if (pid == 0) {
            ::close(fds[0]);
            Report report(fds[1]);
            for (size_t i = next; i < n; ++i) {
                sendLine(fds[1], "C " + std::to_string(i));
                itimerval limit{};
                limit.it_value.tv_sec = kCaseLimitMs / 1000;
                limit.it_value.tv_usec = (kCaseLimitMs % 1000) * 1000;
                ::setitimer(ITIMER_REAL, &limit, nullptr);
                runCase(i, report);
            }
            sendLine(fds[1], "Z");
            ::_exit(0);
        }
        ::close(fds[1]);
        std::string buffer;
        size_t current = next;
        bool finished = false;
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::read(fds[0], chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            buffer.append(chunk, size_t(got));
            for (size_t nl; (nl = buffer.find('\n')) != std::string::npos;) {
                const std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                if (line.rfind("C ", 0) == 0)
                    current = size_t(std::stoull(line.substr(2)));
                else if (line.rfind("E ", 0) == 0)
                    failures.push_back({current, line.substr(2)});
                else if (line == "Z")
                    finished = true;
            }
        }
        ::close(fds[0]);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (finished && WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
        std::string how;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
            how = "did not finish within " + std::to_string(kCaseLimitMs) + " ms";
        else if (WIFSIGNALED(status))
            how = std::string("crashed with signal ") + strsignal(WTERMSIG(status));
        else
            how = "ended with exit code " + std::to_string(WEXITSTATUS(status)) + " (see the sanitizer report above)";
        failures.push_back({current, how});
        next = current + 1;
    }
    return failures;
}

void reportFailures(const std::vector<Failure>& failures, const std::function<std::string(size_t)>& describe) {
    size_t shown = 0;
    for (const Failure& f : failures)
        if (shown++ < 30) ADD_FAILURE() << describe(f.index) << "\n    " << f.text;
    if (failures.size() > 30) ADD_FAILURE() << failures.size() - 30 << " more failures like these";
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

// ---------------------------------------------------------------------------------------------
// Tables to damage

struct TableFiles {
    QString label;    // for failure messages
    QString dbfName;  // file names as on disk
    QString fptName;
    QString cdxName;
    QByteArray dbf, fpt, cdx;
    std::vector<FieldDef> fields;
    std::map<std::string, std::string> tagExprs;  // upper tag name -> key expression of the intact file (ascending, no FOR)
    bool knownGood = false;  // the intact files read without a single problem: wrong answers count
    QStringList names() const {
        QStringList n{dbfName};
        if (!fptName.isEmpty()) n << fptName;
        if (!cdxName.isEmpty()) n << cdxName;
        return n;
    }
    const QByteArray& bytes(int file) const { return file == 0 ? dbf : file == 1 ? fpt : cdx; }
    const QString& name(int file) const { return file == 0 ? dbfName : file == 1 ? fptName : cdxName; }
};

TableFiles loadTableFiles(const QString& label, const QString& folder, const QString& dbfName) {
    TableFiles s;
    s.label = label;
    s.dbfName = dbfName;
    const QString dbfPath = QDir(folder).filePath(dbfName);
    s.dbf = readAll(dbfPath);
    const QString fpt = memoPathFor(dbfPath), cdx = indexPathFor(dbfPath);
    if (QFileInfo::exists(fpt)) {
        s.fptName = QFileInfo(fpt).fileName();
        s.fpt = readAll(fpt);
    }
    if (QFileInfo::exists(cdx)) {
        s.cdxName = QFileInfo(cdx).fileName();
        s.cdx = readAll(cdx);
    }
    if (auto d = DbfFile::open(dbfPath, false)) s.fields = (*d)->fields();
    if (!s.cdxName.isEmpty())
        if (auto x = IndexFile::open(cdx, false))
            for (Tree* t : (*x)->tags())
                if (t->info().forExpr.empty() && !t->info().descending) s.tagExprs[asciiUpper(t->info().name)] = t->info().keyExpr;
    s.knownGood = CheckTable(dbfPath).isEmpty() && Table::open(dbfPath, OpenMode::Shared).isOk();
    return s;
}

void writeTableFiles(const TableFiles& s, const QString& folder, int damagedFile, const QByteArray& damaged) {
    for (int f = 0; f < 3; ++f)
        if (!s.name(f).isEmpty()) writeAll(QDir(folder).filePath(s.name(f)), f == damagedFile ? damaged : s.bytes(f));
}

// The files of the case before, kept in a child process so that a case rewrites only what
// differs from the intact table: the file it damages and the one the case before damaged.
void writeCase(const TableFiles& s, const QString& folder, int damagedFile, const QByteArray& damaged) {
    static const TableFiles* lastTable = nullptr;
    static int lastFile = -1;
    if (lastTable != &s) {
        writeTableFiles(s, folder, damagedFile, damaged);
    } else {
        if (lastFile >= 0 && lastFile != damagedFile) writeAll(QDir(folder).filePath(s.name(lastFile)), s.bytes(lastFile));
        writeAll(QDir(folder).filePath(s.name(damagedFile)), damaged);
    }
    lastTable = &s;
    lastFile = damagedFile;
}

// ---------------------------------------------------------------------------------------------
// Damage

struct Damage {
    enum Kind { Flip, SetByte, Truncate, Flips, Patch } kind = Flip;
    int file = 0;  // 0 DBF, 1 FPT, 2 CDX
    qint64 offset = 0;
    int bit = 0;
    unsigned char value = 0;
    std::vector<std::pair<qint64, int>> flips;
    QByteArray patch;  // Patch: bytes written at offset (several patches chain through 'next')
    std::string why;   // Patch: what the patch makes of the file
    std::shared_ptr<Damage> next;

    void apply(QByteArray& b) const {
        switch (kind) {
            case Flip: b[offset] = char(b[offset] ^ (1 << bit)); break;
            case SetByte: b[offset] = char(value); break;
            case Truncate: b.truncate(offset); break;
            case Flips:
                for (auto [o, bt] : flips) b[o] = char(b[o] ^ (1 << bt));
                break;
            case Patch: b.replace(offset, patch.size(), patch); break;
        }
        if (next) next->apply(b);
    }
    std::string describe(const TableFiles& s) const {
        const std::string f = s.name(file).toStdString();
        char buf[160];
        switch (kind) {
            case Flip: std::snprintf(buf, sizeof buf, "%s: bit %d of byte %lld flipped", f.c_str(), bit, (long long)offset); break;
            case SetByte: std::snprintf(buf, sizeof buf, "%s: byte %lld set to 0x%02x", f.c_str(), (long long)offset, value); break;
            case Truncate: std::snprintf(buf, sizeof buf, "%s: cut to %lld bytes", f.c_str(), (long long)offset); break;
            case Flips: {
                std::string t = f + ": bits flipped (byte:bit)";
                for (auto [o, bt] : flips) t += " " + std::to_string(o) + ":" + std::to_string(bt);
                return t;
            }
            case Patch: return f + ": " + why;
        }
        return buf;
    }
};

// Offsets worth hitting more often than the rest: headers, descriptors, memo block headers,
// index node headers and tag headers.
qint64 pickOffset(std::mt19937_64& rng, const TableFiles& s, int file) {
    const QByteArray& b = s.bytes(file);
    auto uniform = [&](qint64 lo, qint64 hi) { return std::uniform_int_distribution<qint64>(lo, std::max(lo, hi))(rng); };
    const qint64 size = b.size();
    const int region = int(uniform(0, 9));
    if (file == 0) {
        const qint64 header = b.size() >= 10 ? qint64(std::uint8_t(b[8]) | (std::uint8_t(b[9]) << 8)) : 32;
        if (region < 4) return uniform(0, std::min(header, size) - 1);
        return uniform(0, size - 1);
    }
    if (file == 1) {
        const qint64 block = b.size() >= 8 ? qint64((std::uint8_t(b[6]) << 8) | std::uint8_t(b[7])) : 64;
        if (region < 2) return uniform(0, 7);
        if (region < 6 && block > 0 && size > 512) return std::min(size - 1, uniform(512 / block, size / block) * block + uniform(0, 7));
        return uniform(0, size - 1);
    }
    const qint64 pages = size / 512;
    if (region < 3) return uniform(0, std::min<qint64>(size, 1024) - 1);  // the tag directory's header
    if (region < 7 && pages > 2) return uniform(2, pages - 1) * 512 + uniform(0, 23);  // node headers
    return uniform(0, size - 1);
}

Damage randomDamage(std::mt19937_64& rng, const TableFiles& s, int file) {
    Damage d;
    d.file = file;
    const qint64 size = s.bytes(file).size();
    const int kind = std::uniform_int_distribution<int>(0, 19)(rng);
    if (kind < 12) {
        d.kind = Damage::Flip;
        d.offset = pickOffset(rng, s, file);
        d.bit = std::uniform_int_distribution<int>(0, 7)(rng);
    } else if (kind < 15) {
        d.kind = Damage::SetByte;
        d.offset = pickOffset(rng, s, file);
        static const unsigned char values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x20, 0x2A, 0x0D, 0x1A};
        d.value = values[std::uniform_int_distribution<int>(0, 8)(rng)];
    } else if (kind < 17) {
        d.kind = Damage::Truncate;
        d.offset = std::uniform_int_distribution<qint64>(0, size - 1)(rng);
    } else {
        d.kind = Damage::Flips;
        const int n = std::uniform_int_distribution<int>(2, 8)(rng);
        for (int i = 0; i < n; ++i) d.flips.push_back({pickOffset(rng, s, file), std::uniform_int_distribution<int>(0, 7)(rng)});
    }
    return d;
}

// ---------------------------------------------------------------------------------------------
// Reading a damaged table every way there is

bool namesAFile(const QString& text, const QStringList& names) {
    for (const QString& n : names)
        if (text.contains(n, Qt::CaseInsensitive)) return true;
    return false;
}

using Entries = std::vector<std::pair<std::string, std::uint32_t>>;

char padFor(const TableFiles& s, const std::string& keyExpr) {
    auto e = Expression::compile(fromCp1252(keyExpr), s.fields);
    return e ? e->keyPad() : ' ';
}

// The entries a tag must hold: the keys of the rows of the table as it is now, by the key
// expression the intact index file had for that tag name.
std::optional<std::map<std::string, Entries>> entriesFromRows(const TableFiles& s, const QString& dbfPath) {
    auto dbf = DbfFile::open(dbfPath, false);
    if (!dbf) return std::nullopt;
    const auto& now = (*dbf)->fields();
    if (now.size() != s.fields.size()) return std::nullopt;
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i].name != s.fields[i].name || now[i].type != s.fields[i].type || now[i].length != s.fields[i].length ||
            now[i].offset != s.fields[i].offset)
            return std::nullopt;
    std::map<std::string, Entries> out;
    for (const auto& [tag, expr] : s.tagExprs) {
        auto key = Expression::compile(fromCp1252(expr), s.fields);
        if (!key) return std::nullopt;
        Entries& e = out[tag];
        Status st = (*dbf)->scan(1, (*dbf)->recordCount(), [&](std::uint32_t recno, const char* rec) {
            EvalContext ctx;
            ctx.record = rec;
            ctx.recno = recno;
            e.push_back({key->evalKey(ctx), recno});
            return true;
        });
        if (!st) return std::nullopt;
        std::sort(e.begin(), e.end());
    }
    return out;
}

void exercise(const TableFiles& s, const QString& folder, Report& report) {
    const QString dbfPath = QDir(folder).filePath(s.dbfName);
    const QStringList names = s.names();
    auto named = [&](const Status& st, const QString& where) {
        if (st.isOk()) return true;
        if (st.message().trimmed().isEmpty() || !namesAFile(st.text(), names))
            report.problem(where + QStringLiteral(": the error does not name the file: \"") + st.text() + QLatin1Char('"'));
        return false;
    };
    // Wrong answers given without an error; the integrity check has to explain them.
    QStringList wrong;

    // The index file on its own: every tag walked both ways, and a seek for every entry.
    std::map<std::string, Entries> walked;
    if (!s.cdxName.isEmpty()) {
        const QString cdxPath = QDir(folder).filePath(s.cdxName);
        auto x = IndexFile::open(cdxPath, false);
        if (named(x.status(), QStringLiteral("opening the index file"))) {
            const qint64 cap = (QFileInfo(cdxPath).size() / 512 + 1) * 512;
            for (Tree* tree : (*x)->tags()) {
                const QString tag = QString::fromLatin1(tree->info().name.c_str());
                tree->setPad(padFor(s, tree->info().keyExpr));
                Entries forward, backward;
                Status fst = tree->forEach([&](const IndexEntry& e) {
                    forward.push_back({e.key, e.recno});
                    return qint64(forward.size()) <= cap;
                });
                if (qint64(forward.size()) > cap) report.problem(QStringLiteral("the walk of tag %1 does not end").arg(tag));
                const bool fok = named(fst, QStringLiteral("walking tag %1").arg(tag));
                TreePos pos;
                auto more = tree->last(pos);
                while (more && *more && qint64(backward.size()) <= cap) {
                    auto e = tree->entry(pos);
                    if (!e) {
                        more = e.status();
                        break;
                    }
                    backward.push_back({e->key, e->recno});
                    more = tree->prior(pos);
                }
                if (qint64(backward.size()) > cap) report.problem(QStringLiteral("the backward walk of tag %1 does not end").arg(tag));
                const bool bok = named(more.status(), QStringLiteral("walking tag %1 backward").arg(tag));
                std::reverse(backward.begin(), backward.end());
                if (fok && bok && forward != backward)
                    wrong << QStringLiteral("tag %1 walks %2 entries forward and %3 backward, not the same")
                                 .arg(tag)
                                 .arg(forward.size())
                                 .arg(backward.size());
                if (!fok) continue;
                walked[asciiUpper(tree->info().name)] = forward;
                int misses = 0;
                std::uint32_t firstMiss = 0;
                for (const auto& [key, recno] : forward) {
                    TreePos p;
                    auto found = tree->seek(key, recno, p);
                    if (!named(found.status(), QStringLiteral("seeking in tag %1").arg(tag))) break;
                    auto e = *found ? tree->entry(p) : Result<IndexEntry>(Status(ErrorKind::NotFound, QString()));
                    if (!*found || !e || e->key != key || e->recno != recno) {
                        if (!misses++) firstMiss = recno;
                    }
                }
                if (misses)
                    wrong << QStringLiteral("a seek in tag %1 misses %2 of the %3 keys a walk shows (the first: record %4)")
                                 .arg(tag)
                                 .arg(misses)
                                 .arg(forward.size())
                                 .arg(firstMiss);
            }
        }
    }

    // The integrity check, on the files as damaged: a cursor that meets a damaged index page
    // below rebuilds the index.
    const QStringList problems = CheckTable(dbfPath);
    for (const QString& p : problems)
        if (!namesAFile(p, names)) report.problem(QStringLiteral("the check's report does not name the file: \"%1\"").arg(p));

    // The table through cursors: every order both ways, every field of every row, counts, seeks.
    bool indexTrusted = false;
    auto table = Table::open(dbfPath, OpenMode::Shared);
    if (named(table.status(), QStringLiteral("opening the table"))) {
        Table& t = **table;
        indexTrusted = named(t.indexProblem(), QStringLiteral("the index of the table")) && t.hasIndexFile();
        std::vector<QString> orders{QString()};
        for (const Table::Tag* tag : t.tags())
            if (named(tag->usable, QStringLiteral("tag ") + tag->name)) orders.push_back(tag->name);
        std::optional<std::set<std::uint32_t>> natural;
        const size_t cap = size_t(t.recordCount()) + 2;
        for (const QString& order : orders) {
            const QString where = order.isEmpty() ? QStringLiteral("natural order") : QStringLiteral("order ") + order;
            Cursor c;
            c.setTablePath(dbfPath);
            Status st = c.setOrder(order);
            if (st) st = c.open();
            if (!named(st, where)) continue;
            std::vector<std::uint32_t> forward, backward;
            for (st = c.first(); st && !c.eof() && !c.isEmpty(); st = c.next()) {
                forward.push_back(c.recNo());
                if (order.isEmpty() && forward.size() <= 40)
                    for (int i = 0; i < c.fieldCount(); ++i) c.text(i);
                if (forward.size() > cap) {
                    report.problem(where + QStringLiteral(": moving forward does not reach the end"));
                    break;
                }
            }
            const bool fok = named(st, where + QStringLiteral(", moving forward"));
            for (st = c.last(); st && !c.bof() && !c.isEmpty(); st = c.prior()) {
                backward.push_back(c.recNo());
                if (backward.size() > cap) {
                    report.problem(where + QStringLiteral(": moving backward does not reach the start"));
                    break;
                }
            }
            const bool bok = named(st, where + QStringLiteral(", moving backward"));
            auto count = c.recordCount();
            const bool cok = named(count.status(), where + QStringLiteral(", counting"));
            auto visible = c.visibleRecords();
            const bool vok = named(visible.status(), where + QStringLiteral(", listing"));
            if (!order.isEmpty() && !forward.empty()) {
                // Seeks on keys of rows the order shows; the answers only have to come back.
                for (size_t i = 0; i < forward.size(); i += std::max<size_t>(1, forward.size() / 3)) {
                    std::string rec;
                    if (!t.readRecord(forward[i], rec)) continue;
                    const Table::Tag* tag = t.tag(order);
                    const QString key = fromCp1252(tag->key.evalKey(t.context(rec, forward[i])));
                    named(c.findKey({key}).status(), where + QStringLiteral(", exact seek"));
                    named(c.findPartial(key.left(3)).status(), where + QStringLiteral(", partial seek"));
                    named(c.findNearest(key.left(2)), where + QStringLiteral(", nearest seek"));
                }
                named(c.findNearest(QString::fromLatin1("\xFF\xFF")), where + QStringLiteral(", nearest seek past the end"));
            }
            if (!(fok && bok && cok && vok)) continue;
            std::set<std::uint32_t> f(forward.begin(), forward.end()), b(backward.begin(), backward.end()),
                v(visible->begin(), visible->end());
            if (f != b || f != v || qint64(f.size()) != *count || f.size() != forward.size())
                wrong << QStringLiteral("%1 shows %2 rows forward, %3 backward, %4 listed, %5 counted")
                             .arg(where)
                             .arg(forward.size())
                             .arg(backward.size())
                             .arg(visible->size())
                             .arg(*count);
            if (order.isEmpty())
                natural = f;
            else if (natural && *natural != f)
                wrong << QStringLiteral("%1 shows %2 rows, the natural order %3").arg(where).arg(f.size()).arg(natural->size());
        }
    }

    // Every field through an expression, on the first rows, each record in a buffer of its own
    // size.
    if (table.isOk()) {
        Table& t = **table;
        for (const FieldDef& f : t.fields()) {
            const QString name = fromCp1252(f.name);
            for (const QString& text : {QStringLiteral("empty(%1)").arg(name)}) {
                auto e = t.compile(text);
                if (!e) continue;  // a name that does not parse
                for (std::uint32_t r = 1; r <= std::min<std::uint32_t>(t.recordCount(), 40); ++r) {
                    std::string rec;
                    if (!named(t.readRecord(r, rec), QStringLiteral("reading record %1").arg(r))) break;
                    EvalContext ctx = t.context(rec, r);
                    e->evalLogical(ctx);
                    if (!ctx.error.isOk() && !named(ctx.error, QStringLiteral("evaluating %1 on record %2").arg(text).arg(r))) break;
                }
            }
        }
    }

    // The entries each tag must have, from the rows.
    if (s.knownGood && !s.cdxName.isEmpty()) {
        if (auto want = entriesFromRows(s, dbfPath)) {
            for (const auto& [tag, entries] : walked) {
                auto it = want->find(tag);
                if (it == want->end()) continue;
                if (it->second != entries)
                    wrong << QStringLiteral("tag %1 holds %2 entries where the rows give %3 other ones")
                                 .arg(QString::fromStdString(tag))
                                 .arg(entries.size())
                                 .arg(it->second.size());
            }
        }
    }
    if (s.knownGood && problems.isEmpty())
        for (const QString& w : wrong)
            report.problem(QStringLiteral("silently wrong: %1; the table opens%2 and the check finds nothing")
                               .arg(w, indexTrusted ? QStringLiteral(" with its index trusted") : QString()));
}

// ---------------------------------------------------------------------------------------------
// The tables

class DamagedFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempFolder;
        makeEngineTables(folder_->path());
        tables_ = new std::vector<TableFiles>;
        tables_->push_back(loadTableFiles(QStringLiteral("ALBUMS (engine)"), folder_->path(), QStringLiteral("ALBUMS.DBF")));
        tables_->push_back(loadTableFiles(QStringLiteral("TRACKS (engine)"), folder_->path(), QStringLiteral("TRACKS.DBF")));
        tables_->push_back(loadTableFiles(QStringLiteral("ALLTYPES (engine)"), folder_->path(), QStringLiteral("ALLTYPES.DBF")));
    }
    static void TearDownTestSuite() {
        delete tables_;
        delete folder_;
        tables_ = nullptr;
        folder_ = nullptr;
    }

    // Tables big enough for index trees with interior nodes, with deleted rows, many memo
    // blocks, and keys of every kind: long text, short text, number, date.
    static void makeEngineTables(const QString& folder) {
        TDM dm(folder);
        ASSERT_TRUE(dm.EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm.OpenCollectionTables().isOk());
        Cursor& a = dm.tblFilter;
        ASSERT_TRUE(a.open().isOk());
        Cursor& t = dm.tblCD;
        for (int i = 0; i < 70; ++i) {
            const QString id = albumora::crashmodel::albumId(1000 + i);
            const auto al = albumora::crashmodel::albumAt(id, i % 5 + 1);
            ASSERT_TRUE(a.append().isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("ID"), id).isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("Album"), al.album).isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("Artist"), al.artist).isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("IX"), al.ix).isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("Genre"), al.genre).isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("Label"), al.label).isOk());
            ASSERT_TRUE(a.setText(QStringLiteral("Notes"), al.notes.left(i % 4 ? 40 * (i % 13) : 0)).isOk());
            ASSERT_TRUE(a.post().isOk());
            for (int nr = 1; nr <= 5; ++nr) {
                ASSERT_TRUE(t.append().isOk());
                ASSERT_TRUE(t.setText(QStringLiteral("ID"), id).isOk());
                ASSERT_TRUE(t.setText(QStringLiteral("NR"), TDM::PadNumber(nr, 3)).isOk());
                ASSERT_TRUE(t.setText(QStringLiteral("Track"), albumora::crashmodel::trackAt(id, nr, 1).title).isOk());
                ASSERT_TRUE(t.setText(QStringLiteral("Secs"), QString::number(60 * nr + i)).isOk());
                ASSERT_TRUE(t.post().isOk());
            }
            if (i % 9 == 4) {
                ASSERT_TRUE(a.deleteRecord().isOk());
            }
        }
        ASSERT_TRUE(dm.FlushCollection().isOk());
        dm.CloseAll();

        const QString all = QDir(folder).filePath(QStringLiteral("ALLTYPES.DBF"));
        ASSERT_TRUE(Table::create(all, *parseFieldList(QStringLiteral(
                                            "Name,Char,30;Qty,Numeric,8;Price,Numeric,10,2;Born,Date;Ok,logical;Notes,Memo;")))
                        .isOk());
        {
            auto tbl = Table::open(all, OpenMode::Exclusive);
            ASSERT_TRUE(tbl.isOk());
            ASSERT_TRUE((*tbl)->createTags({{QStringLiteral("Name"), QStringLiteral("upper(Name)")},
                                             {QStringLiteral("Qty"), QStringLiteral("Qty")},
                                             {QStringLiteral("Born"), QStringLiteral("Born")},
                                             {QStringLiteral("Mixed"), QStringLiteral("left(Name,3)+dtos(Born)+str(Qty,6)")}})
                            .isOk());
        }
        Cursor c;
        c.setTablePath(all);
        ASSERT_TRUE(c.open().isOk());
        std::mt19937 rng(5);
        for (int i = 0; i < 120; ++i) {
            ASSERT_TRUE(c.append().isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("Name"), albumora::crashmodel::detail::phrase(rng(), 0, 30)).isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("Qty"), QString::number(int(rng() % 20000) - 10000)).isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("Price"), QString::number(double(rng() % 100000) / 100.0, 'f', 2)).isOk());
            if (i % 7) {
                ASSERT_TRUE(c.setText(QStringLiteral("Born"), QStringLiteral("%1%2%3").arg(1900 + int(rng() % 120)).arg(int(rng() % 12) + 1, 2, 10, QLatin1Char('0')).arg(int(rng() % 28) + 1, 2, 10, QLatin1Char('0'))).isOk());
            }
            ASSERT_TRUE(c.setBoolean(QStringLiteral("Ok"), rng() % 2).isOk());
            if (i % 3) {
                ASSERT_TRUE(c.setText(QStringLiteral("Notes"), albumora::crashmodel::detail::phrase(rng(), 0, 300)).isOk());
            }
            ASSERT_TRUE(c.post().isOk());
            if (i % 11 == 3) {
                ASSERT_TRUE(c.deleteRecord().isOk());
            }
        }
        ASSERT_TRUE(c.flush().isOk());
    }

    // Damages each file of each table in turn, cases drawn from the seed.
    static void damageAndRead(const std::vector<TableFiles>& tables, std::uint64_t seed, int perFile) {
        struct Case {
            size_t table;
            Damage damage;
        };
        std::vector<Case> cases;
        std::mt19937_64 rng(seed);
        for (size_t s = 0; s < tables.size(); ++s) {
            // First each table as it is: what the damaged cases are measured against.
            Damage intact;
            intact.kind = Damage::Patch;
            intact.why = "intact";
            cases.push_back({s, intact});
        }
        for (size_t s = 0; s < tables.size(); ++s)
            for (int file = 0; file < 3; ++file)
                if (!tables[s].name(file).isEmpty() && tables[s].bytes(file).size() > 0)
                    // A big file costs more to read: fewer cases, the header still hit often.
                    for (int i = 0, n = tables[s].bytes(file).size() > 200000 ? std::max(4, perFile / 4) : perFile; i < n; ++i)
                        cases.push_back({s, randomDamage(rng, tables[s], file)});
        TempFolder work;
        const auto failures = runIsolated(cases.size(), [&](size_t i, Report& report) {
            const Case& c = cases[i];
            QByteArray bytes = tables[c.table].bytes(c.damage.file);
            c.damage.apply(bytes);
            writeCase(tables[c.table], work.path(), c.damage.file, bytes);
            exercise(tables[c.table], work.path(), report);
        });
        reportFailures(failures, [&](size_t i) {
            return "seed " + std::to_string(seed) + ", case " + std::to_string(i) + ", " + tables[cases[i].table].label.toStdString() +
                   ": " + cases[i].damage.describe(tables[cases[i].table]);
        });
        std::printf("[ fuzz ] seed %llu: %zu damaged files read, %zu failures\n", (unsigned long long)seed, cases.size(),
                    failures.size());
    }

    static TempFolder* folder_;
    static std::vector<TableFiles>* tables_;
};

TempFolder* DamagedFiles::folder_ = nullptr;
std::vector<TableFiles>* DamagedFiles::tables_ = nullptr;

TEST_F(DamagedFiles, IntactEngineTablesPassEveryRead) {
    // The damage cases mean something only if the intact files read without a single remark.
    for (const TableFiles& s : *tables_) {
        EXPECT_TRUE(s.knownGood) << s.label.toStdString();
        EXPECT_FALSE(s.tagExprs.empty()) << s.label.toStdString();
    }
    TempFolder work;
    const auto failures = runIsolated(tables_->size(), [&](size_t i, Report& report) {
        writeTableFiles((*tables_)[i], work.path(), -1, {});
        exercise((*tables_)[i], work.path(), report);
    });
    reportFailures(failures, [&](size_t i) { return (*tables_)[i].label.toStdString() + ", intact"; });
}

TEST_F(DamagedFiles, EngineTablesWithFlippedBitsAndCutFiles) {
    for (std::uint64_t seed : {11u, 12u}) damageAndRead(*tables_, seed, 40);
}

TEST_F(DamagedFiles, FoxProTablesWithFlippedBitsAndCutFiles) {
    SKIP_WITHOUT_TESTDATA();
    TempFolder copies;
    std::vector<TableFiles> tables;
    for (const char* t : {"calls.dbf", "contacts.dbf", "setup.dbf", "types.dbf", "dbase_03.dbf", "dbase_30.dbf", "dbase_31.dbf",
                          "dbase_f5.dbf"}) {
        const QString dbf = QString::fromLatin1(t);
        const QString base = QFileInfo(dbf).completeBaseName();
        for (const QString& ext : {QStringLiteral(".dbf"), QStringLiteral(".CDX"), QStringLiteral(".FPT"), QStringLiteral(".fpt")})
            if (QFileInfo::exists(albumora::test::sharedTestData() + QStringLiteral("/foxpro/") + base + ext))
                albumora::test::copyTestFile(QStringLiteral("foxpro/") + base + ext, copies.path());
        tables.push_back(loadTableFiles(QStringLiteral("FoxPro ") + dbf, copies.path(), dbf));
    }
    QStringList good;
    for (const TableFiles& s : tables)
        if (s.knownGood) good << s.dbfName;
    std::printf("[ fuzz ] FoxPro tables whose wrong answers count (they read without a remark intact): %s\n",
                qPrintable(good.join(QStringLiteral(", "))));
    damageAndRead(tables, 21, 32);
}

Damage filePatch(int file, qint64 offset, const QByteArray& bytes, const std::string& why) {
    Damage d;
    d.kind = Damage::Patch;
    d.file = file;
    d.offset = offset;
    d.patch = bytes;
    d.why = why;
    return d;
}

QByteArray le16(std::uint16_t v) { return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char(v >> 8)); }
QByteArray le32(std::uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = char(v >> (8 * i));
    return b;
}
QByteArray be32(std::uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = char(v >> (24 - 8 * i));
    return b;
}

int fixedWidth(char type) {
    switch (type) {
        case 'I': return 4;
        case 'B':
        case 'Y':
        case 'T': return 8;
        default: return 0;
    }
}

// Field descriptors and memo headers that no writer makes: every field retyped, impossible
// counts and lengths, memo blocks of odd sizes and memo references that lead nowhere.
TEST_F(DamagedFiles, HostileFieldsAndMemoHeadersEndWithAnError) {
    struct Case {
        size_t table;
        Damage damage;
    };
    std::vector<Case> cases;
    for (size_t si = 0; si < tables_->size(); ++si) {
        const TableFiles& s = (*tables_)[si];
        const qint64 headerLength = std::uint8_t(s.dbf[8]) | (std::uint8_t(s.dbf[9]) << 8);
        for (size_t f = 0; f < s.fields.size(); ++f) {
            const qint64 at = 32 + 32 * qint64(f);
            const std::string field = s.fields[f].name;
            for (char type : {'B', 'I', 'Y', 'T', 'D', 'L', 'M', 'N', 'F', 'C', '0', 'G', 'P', 'V', 'Q', '@', '+', '\0', '\xFF'})
                if (type != s.fields[f].type)
                    cases.push_back({si, filePatch(0, at + 11, QByteArray(1, type),
                                                   "field " + field + " typed '" + std::string(1, type ? type : '?') + "'")});
            cases.push_back({si, filePatch(0, at, QByteArray(11, '\0'), "field " + field + " without a name")});
            cases.push_back({si, filePatch(0, at + 17, QByteArray(1, char(200)), "field " + field + " with 200 decimals")});
        }
        cases.push_back({si, filePatch(0, 4, le32(0xFFFFFFFFu), "a record count of 4294967295")});
        cases.push_back({si, filePatch(0, 4, le32(0), "a record count of 0")});
        cases.push_back({si, filePatch(0, 8, le16(0xFFFF), "a header length of 65535")});
        cases.push_back({si, filePatch(0, 8, le16(33), "a header length of 33")});
        cases.push_back({si, filePatch(0, 8, le16(std::uint16_t(headerLength + 32)), "a header length 32 bytes too long")});
        cases.push_back({si, filePatch(0, 10, le16(1), "a record length of 1")});
        cases.push_back({si, filePatch(0, 10, le16(0xFFFF), "a record length of 65535")});
        cases.push_back({si, filePatch(0, headerLength - 1, QByteArray(1, ' '), "no end to the field list")});
        cases.push_back({si, filePatch(0, 0, QByteArray(1, char(0x30)), "a Visual FoxPro version byte without the backlink")});
        if (s.fptName.isEmpty()) continue;
        for (std::uint16_t size : {0, 1, 7, 512, 0xFFFF})
            cases.push_back({si, filePatch(1, 6, QByteArray(1, char(size >> 8)) + QByteArray(1, char(size & 0xFF)),
                                           "memo blocks of " + std::to_string(size) + " bytes")});
        for (std::uint32_t next : {0u, 1u, 0xFFFFFFFFu})
            cases.push_back({si, filePatch(1, 0, be32(next), "a next free memo block of " + std::to_string(next))});
        const qint64 firstMemo = 512;
        for (std::uint32_t len : {0xFFFFFFFFu, 0x7FFFFFFFu, std::uint32_t(s.fpt.size())})
            cases.push_back({si, filePatch(1, firstMemo + 4, be32(len), "the first memo claims " + std::to_string(len) + " bytes")});
        // Memo references of the first rows that lead nowhere.
        for (const FieldDef& f : s.fields) {
            if (!f.isMemo()) continue;
            for (std::uint32_t r = 0; r < 3; ++r) {
                const qint64 at = headerLength + qint64(r) * (std::uint8_t(s.dbf[10]) | (std::uint8_t(s.dbf[11]) << 8)) + f.offset;
                for (const char* ref : {"         1", "         7", "4294967295", "99999999999", "        -1", "       1e3", "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a"})
                    cases.push_back({si, filePatch(0, at, QByteArray(ref).left(f.length).rightJustified(f.length, ' '),
                                                   "record " + std::to_string(r + 1) + " pointing its memo at \"" + ref + "\"")});
            }
        }
    }
    TempFolder work;
    const auto failures = runIsolated(cases.size(), [&](size_t i, Report& report) {
        const Case& c = cases[i];
        const TableFiles& s = (*tables_)[c.table];
        QByteArray bytes = s.bytes(c.damage.file);
        c.damage.apply(bytes);
        writeCase(s, work.path(), c.damage.file, bytes);
        // A field whose type has a fixed width but whose descriptor gives another cannot be read.
        if (c.damage.file == 0 && c.damage.offset >= 32 && (c.damage.offset - 32) % 32 == 11) {
            const FieldDef& f = s.fields[size_t((c.damage.offset - 32) / 32)];
            const char type = c.damage.patch[0];
            if (fixedWidth(type) && fixedWidth(type) != f.length) {
                auto dbf = DbfFile::open(QDir(work.path()).filePath(s.dbfName), false);
                if (dbf)
                    report.problem(QStringLiteral("a field of type %1 and %2 bytes is accepted; its values are read from %3 bytes")
                                       .arg(QChar::fromLatin1(type))
                                       .arg(f.length)
                                       .arg(fixedWidth(type)));
            }
        }
        exercise(s, work.path(), report);
    });
    reportFailures(failures, [&](size_t i) {
        return "hostile case " + std::to_string(i) + ", " + (*tables_)[cases[i].table].label.toStdString() + ": " +
               cases[i].damage.describe((*tables_)[cases[i].table]);
    });
    std::printf("[ fuzz ] %zu hostile tables read, %zu failures\n", cases.size(), failures.size());
}

// ---------------------------------------------------------------------------------------------
// Index structures made hostile on purpose: loops, pointers into the wrong places, impossible
// entry layouts.

struct NodeInfo {
    std::uint32_t page;
    IndexNode node;
};

class HostileIndex : public DamagedFiles {
protected:
    // The pages of one tag, level by level from the root.
    static std::vector<std::vector<NodeInfo>> levels(const TableFiles& s, const std::string& tag, std::uint32_t& header) {
        TempFolder f;
        writeTableFiles(s, f.path(), -1, {});
        auto x = IndexFile::open(QDir(f.path()).filePath(s.cdxName), false);
        std::vector<std::vector<NodeInfo>> out;
        if (!x) return out;
        Tree* t = (*x)->tag(tag);
        if (!t) return out;
        header = t->headerOffset();
        std::vector<std::uint32_t> level{t->root()};
        while (!level.empty()) {
            std::vector<NodeInfo> nodes;
            std::vector<std::uint32_t> below;
            for (std::uint32_t p : level) {
                auto n = (*x)->readNode(p, t->keyLength(), t->pad());
                if (!n) return out;
                nodes.push_back({p, **n});
                for (std::uint32_t c : (*n)->children) below.push_back(c);
            }
            out.push_back(std::move(nodes));
            level = below;
        }
        return out;
    }
};

Damage patch(qint64 offset, const QByteArray& bytes, const std::string& why, std::shared_ptr<Damage> next = {}) {
    Damage d;
    d.kind = Damage::Patch;
    d.file = 2;
    d.offset = offset;
    d.patch = bytes;
    d.why = why;
    d.next = std::move(next);
    return d;
}

TEST_F(HostileIndex, LoopsWrongPointersAndImpossibleLayoutsEndWithAnError) {
    const TableFiles& albums = (*tables_)[0];
    std::uint32_t header = 0;
    const auto tree = levels(albums, "ARTIST", header);
    ASSERT_GE(tree.size(), 2u) << "the ARTIST tag needs interior nodes for these cases";
    const auto& root = tree.front().front();
    const auto& leaves = tree.back();
    ASSERT_GE(leaves.size(), 4u);
    const std::uint32_t l0 = leaves[0].page, l1 = leaves[1].page, l2 = leaves[2].page, lMid = leaves[leaves.size() / 2].page;
    std::uint32_t genreHeader = 0, idHeader = 0;
    levels(albums, "GENRE", genreHeader);
    levels(albums, "ID", idHeader);

    std::vector<Damage> cases = {
        patch(l1 + 8, le32(l1), "a leaf whose right sibling is itself"),
        patch(l2 + 8, le32(l1), "two leaves that are each other's right sibling",
              std::make_shared<Damage>(patch(l1 + 4, le32(l2), ""))),
        patch(l2 + 8, le32(l0), "a leaf chain that runs back to the first leaf",
              std::make_shared<Damage>(patch(l0 + 4, le32(l2), ""))),
        patch(l1 + 2, QByteArray("\0\0", 2), "an empty leaf in a loop of empty leaves",
              std::make_shared<Damage>(patch(l1 + 8, le32(l1), "", std::make_shared<Damage>(patch(l1 + 4, le32(l1), ""))))),
        patch(l0 + 4, le32(l2), "a first leaf with a left sibling"),
        patch(lMid + 4, le32(kNoPage), "a leaf in the middle without a left sibling"),
        patch(lMid + 8, le32(kNoPage), "a leaf in the middle without a right sibling"),
        patch(root.page + 12 + 100 + 4, be32(root.page), "an interior entry that points at its own node"),
        patch(header, le32(lMid), "a tag whose root is a leaf in the middle"),
        patch(header, le32(header), "a tag whose root is its own header"),
        patch(header, le32(0), "a tag whose root is page 0"),
        patch(header, le32(0xFFFFFE00u), "a tag whose root lies far past the end"),
        patch(root.page + 2, QByteArray("\xFF\xFF", 2), "an interior node that claims 65535 entries"),
        patch(l1 + 2, QByteArray("\xFF\x00", 2), "a leaf that claims 255 entries"),
        patch(l1, QByteArray("\x07\x00", 2), "a leaf with attributes 7"),
        patch(root.page, QByteArray("\x02\x00", 2), "an interior root that says it is a leaf"),
        patch(l1, QByteArray("\x00\x00", 2), "a leaf that says it is an interior node"),
        patch(l1 + 20, QByteArray("\x20\x20\x00\x08", 4), "a leaf whose entries take 32 record bits and 32 duplicate bits"),
        patch(l1 + 20, QByteArray("\x00\x00\x00\x01", 4), "a leaf whose entries take no bits at all"),
        patch(l1 + 20, QByteArray("\x08\x00\x00\x01", 4), "a leaf whose keys are all stored whole in one-byte entries"),
        patch(l1 + 18, QByteArray("\xFF\xFF", 2), "a leaf whose duplicate and trailing masks take every bit"),
        patch(l1 + 14, le32(0), "a leaf whose record mask is zero"),
        patch(header + 12, QByteArray("\x00\x00", 2), "a tag with keys of length 0"),
        patch(header + 12, QByteArray("\xF1\x00", 2), "a tag with keys of 241 bytes"),
        patch(header + 12, QByteArray("\x63\x00", 2), "a tag with keys one byte shorter than its expression"),
        patch(header + 512, QByteArray("upper(Nope)\0", 12), "a tag whose expression names no field"),
        patch(header + 512, QByteArray("upper(Artist)+upper(Album)+\0", 28), "a tag whose expression does not parse"),
        patch(header + 502, QByteArray("\x01\x00", 2), "a descending tag"),
        patch(header + 14, QByteArray("\x61", 1), "a unique tag"),
        patch(0, le32(l1), "a tag directory whose root is a leaf of a tag"),
        patch(0 + 12, QByteArray("\x0B\x00", 2), "a tag directory with keys of 11 bytes"),
    };
    // The directory's leaf: where each tag's header offset is stored.
    {
        TempFolder f;
        writeTableFiles(albums, f.path(), -1, {});
        auto x = IndexFile::open(QDir(f.path()).filePath(albums.cdxName), false);
        ASSERT_TRUE(x.isOk());
        const QByteArray& b = albums.cdx;
        const std::uint32_t dirRoot = std::uint32_t(std::uint8_t(b[0]) | (std::uint8_t(b[1]) << 8) | (std::uint8_t(b[2]) << 16) |
                                                    (std::uint32_t(std::uint8_t(b[3])) << 24));
        auto dir = (*x)->readNode(dirRoot, 10, ' ');
        ASSERT_TRUE(dir.isOk());
        // The directory entries in place: record number fields of the leaf entries.
        const int bytes = std::uint8_t(b[dirRoot + 23]);
        for (size_t i = 0; i < (*dir)->size(); ++i) {
            if ((*dir)->recnos[i] != genreHeader) continue;
            QByteArray e = b.mid(qsizetype(dirRoot + 24 + i * size_t(bytes)), bytes);
            // Record numbers sit in the low bits, little-endian: point GENRE at the ID tag's header.
            std::uint64_t v = 0;
            for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | std::uint8_t(e[k]);
            const std::uint32_t mask = std::uint32_t(std::uint8_t(b[dirRoot + 14]) | (std::uint8_t(b[dirRoot + 15]) << 8) |
                                                     (std::uint8_t(b[dirRoot + 16]) << 16) |
                                                     (std::uint32_t(std::uint8_t(b[dirRoot + 17])) << 24));
            v = (v & ~std::uint64_t(mask)) | idHeader;
            for (int k = 0; k < bytes; ++k) e[k] = char(v >> (8 * k));
            cases.push_back(patch(dirRoot + 24 + qint64(i) * bytes, e, "a tag directory that gives GENRE the header of ID"));
        }
    }
    // Interior keys: a separator lowered or raised changes where seeks go, not what walks show.
    for (size_t level = 0; level + 1 < tree.size(); ++level)
        for (const NodeInfo& n : tree[level])
            for (size_t i = 0; i + 1 < n.node.size(); i += 2) {
                const qint64 at = n.page + 12 + qint64(i) * (100 + 8);
                cases.push_back(patch(at, QByteArray(1, '!'), "interior key " + std::to_string(i) + " of page " +
                                                                   std::to_string(n.page) + " lowered"));
                cases.push_back(patch(at, QByteArray(1, '\x7E'), "interior key " + std::to_string(i) + " of page " +
                                                                     std::to_string(n.page) + " raised"));
                cases.push_back(patch(at + 100, be32(n.node.recnos[i] + 1), "interior record number " + std::to_string(i) +
                                                                                 " of page " + std::to_string(n.page) + " raised"));
            }

    TempFolder work;
    const auto failures = runIsolated(cases.size(), [&](size_t i, Report& report) {
        QByteArray bytes = albums.cdx;
        cases[i].apply(bytes);
        writeTableFiles(albums, work.path(), 2, bytes);
        exercise(albums, work.path(), report);
    });
    reportFailures(failures, [&](size_t i) { return "hostile case " + std::to_string(i) + ", " + cases[i].describe(albums); });
    std::printf("[ fuzz ] %zu hostile index files read, %zu failures\n", cases.size(), failures.size());
}

// ---------------------------------------------------------------------------------------------
// Expressions

// Well-typed expressions over the ALLTYPES fields, from a seed: every one must compile. Each
// operation is put in parentheses, so that precedence never changes what was meant.
class TypedGenerator {
public:
    explicit TypedGenerator(std::uint64_t seed) : rng_(seed) {}
    std::string logical(int depth) {
        switch (depth > 3 ? pick(0, 2) : pick(0, 14)) {
            case 0: return "Ok";
            case 1: return pick(0, 1) ? ".T." : ".F.";
            case 2: return "deleted()";
            case 3: return bin(text(depth + 1), oneOf({"=", "==", "<>", "#", "!=", "<", ">", "<=", ">=", "$"}), text(depth + 1));
            case 4: return bin(number(depth + 1), oneOf({"=", "<>", "<", ">", "<=", ">="}), number(depth + 1));
            case 5: return bin(date(depth + 1), oneOf({"=", "<", ">="}), date(depth + 1));
            case 6: return bin(logical(depth + 1), oneOf({"=", "<>", "=="}), logical(depth + 1));
            case 7: return "(" + oneOf({"NOT ", "!", ".NOT. "}) + "(" + logical(depth + 1) + "))";
            case 8: return bin(logical(depth + 1), oneOf({"AND", ".AND.", "and"}), logical(depth + 1));
            case 9: return bin(logical(depth + 1), oneOf({"OR", ".OR."}), logical(depth + 1));
            case 10: return "empty(" + any(depth + 1) + ")";
            case 11: return "contains(" + text(depth + 1) + ", " + text(depth + 1) + ")";
            case 12: return "iif(" + logical(depth + 1) + ", " + logical(depth + 1) + ", " + logical(depth + 1) + ")";
            case 13: return "(" + logical(depth + 1) + ")";
            default: return bin("recno()", ">", number(depth + 1));
        }
    }
    std::string text(int depth) {
        switch (depth > 3 ? pick(0, 2) : pick(0, 17)) {
            case 0: return oneOf({"Name", "name", "NAME", "Notes"});
            case 1: return literalText();
            case 2: return "dtos(Born)";
            case 3: return oneOf({"upper(", "lower(", "ltrim(", "rtrim(", "trim(", "alltrim("}) + text(depth + 1) + ")";
            case 4: return oneOf({"left(", "right("}) + text(depth + 1) + ", " + number(depth + 1) + ")";
            case 5: return "substr(" + text(depth + 1) + ", " + number(depth + 1) + (pick(0, 1) ? ", " + number(depth + 1) : "") + ")";
            case 6: return oneOf({"padr(", "padl("}) + text(depth + 1) + ", " + number(depth + 1) + (pick(0, 1) ? ", " + literalText() : "") + ")";
            case 7: return bin(text(depth + 1), "+", text(depth + 1));
            case 8: return bin(text(depth + 1), "-", text(depth + 1));
            case 9: return "str(" + number(depth + 1) + (pick(0, 1) ? ", " + number(depth + 1) : "") + (pick(0, 1) ? ", " + number(depth + 1) : "") + ")";
            case 10: return "iif(" + logical(depth + 1) + ", " + text(depth + 1) + ", " + text(depth + 1) + ")";
            case 11: return "space(" + number(depth + 1) + ")";
            case 12: return "dtos(" + date(depth + 1) + ")";
            case 13: return "(" + text(depth + 1) + ")";
            default: return oneOf({"Name", "Notes"});
        }
    }
    std::string number(int depth) {
        switch (depth > 3 ? pick(0, 2) : pick(0, 15)) {
            case 0: return oneOf({"Qty", "Price", "qty"});
            case 1: return literalNumber();
            case 2: return "recno()";
            case 3: return bin(number(depth + 1), oneOf({"+", "-", "*", "/", "%"}), number(depth + 1));
            case 4: return "-(" + number(depth + 1) + ")";
            case 5: return "+(" + number(depth + 1) + ")";
            case 6: return "len(" + text(depth + 1) + ")";
            case 7: return "val(" + text(depth + 1) + ")";
            case 8: return "at(" + text(depth + 1) + ", " + text(depth + 1) + ")";
            case 9: return "iif(" + logical(depth + 1) + ", " + number(depth + 1) + ", " + number(depth + 1) + ")";
            case 10: return bin(date(depth + 1), "-", date(depth + 1));
            case 11: return "(" + number(depth + 1) + ")";
            default: return literalNumber();
        }
    }
    std::string date(int depth) {
        switch (depth > 3 ? 0 : pick(0, 5)) {
            case 0: return "Born";
            case 1: return bin(date(depth + 1), "+", number(depth + 1));
            case 2: return bin(number(depth + 1), "+", date(depth + 1));
            case 3: return bin(date(depth + 1), "-", number(depth + 1));
            case 4: return "iif(" + logical(depth + 1) + ", " + date(depth + 1) + ", " + date(depth + 1) + ")";
            default: return "(" + date(depth + 1) + ")";
        }
    }
    std::string any(int depth) {
        switch (pick(0, 3)) {
            case 0: return text(depth);
            case 1: return number(depth);
            case 2: return date(depth);
            default: return logical(depth);
        }
    }
    static std::string bin(const std::string& a, const std::string& op, const std::string& b) { return "(" + a + " " + op + " " + b + ")"; }
    std::string literalText() {
        return oneOf({"\"abc\"", "'x'", "[br]", "\"\"", "'Guns \"N\" Roses'", "[Guns \"N\" Roses]", "\"It's\"", "\"*\"", "\"a*b*\"",
                      "\"   \"", "\"\xE9t\xE9\"", "\"" + std::string(300, 'z') + "\""});
    }
    std::string literalNumber() {
        return oneOf({"0", "1", "2", "3.5", ".5", "100", "65536", "100000000000000000000", "0.000001", std::string(400, '9'),
                      "4294967296", "2147483648", "18446744073709551616"});
    }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::string oneOf(std::initializer_list<std::string> v) { return *(v.begin() + pick(0, int(v.size()) - 1)); }
    std::mt19937_64& rng() { return rng_; }

private:
    std::mt19937_64 rng_;
};

std::string tokenSoup(std::mt19937_64& rng) {
    static const std::vector<std::string> vocabulary = {
        "Name", "name", "QTY", "Price", "Born", "Ok", "Notes", "Nam", "Artist", "Qtyy", std::string(300, 'A'), "upper(", "LEFT(",
        "substr(", "padr(", "iif(", "str(", "contains(", "empty(", "dtos(", "recno(", "deleted(", "val(", "space(", "frob(",
        "upperr(", "+", "-", "*", "/", "%", "$", "#", "=", "==", "<>", "!=", "<", ">", "<=", ">=", "!", "NOT", "AND", "OR",
        ".AND.", ".OR.", ".NOT.", ".T.", ".F.", ".x.", "(", ")", ",", ",,", "0", "1", "-1", "3.5", ".5", "1..2", "1e5",
        "99999999999999999999999", std::string(400, '9'), "\"abc\"", "'x'", "[br]", "\"\"", "\"Guns \"N\" Roses\"", "'it''s'",
        "[a]b]", "\"unterminated", "'", "[", "]", "@", "&", "\x01", "\xE4", "\xE5\x90\x8D", "\\", ";", "?", "{", "}", ".",
    };
    std::string out;
    const int n = std::uniform_int_distribution<int>(1, 25)(rng);
    for (int i = 0; i < n; ++i) {
        if (!out.empty() && std::uniform_int_distribution<int>(0, 2)(rng)) out += ' ';
        out += vocabulary[std::uniform_int_distribution<size_t>(0, vocabulary.size() - 1)(rng)];
    }
    return out;
}

std::string mutate(std::mt19937_64& rng, std::string s) {
    if (s.empty()) return s;
    const size_t at = std::uniform_int_distribution<size_t>(0, s.size() - 1)(rng);
    static const char chars[] = "()+-*/%$#=<>!.,\"'[] 0123456789NameQtyOkBornNotes";
    const char c = chars[std::uniform_int_distribution<size_t>(0, sizeof chars - 2)(rng)];
    switch (std::uniform_int_distribution<int>(0, 2)(rng)) {
        case 0: s.erase(at, 1); break;
        case 1: s.insert(at, 1, c); break;
        default: s[at] = c; break;
    }
    return s;
}

std::vector<std::string> hostileExpressions() {
    auto times = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    std::string chain = "Name";
    for (int i = 0; i < 1900; ++i) chain += "+Name";
    std::string sum = "Qty";
    for (int i = 0; i < 1900; ++i) sum += "+Qty";
    std::string conds = "Ok";
    for (int i = 0; i < 1900; ++i) conds += " AND Ok";
    return {
        times("(", 5000) + "Name" + times(")", 5000),
        times("(", 150) + "Name" + times(")", 150),
        times("NOT ", 5000) + "Ok",
        times("!", 5000) + "Ok",
        times("-", 5000) + "Qty",
        times("- ", 150) + "Qty",
        times("upper(", 300) + "Name" + times(")", 300),
        times("upper(", 150) + "Name" + times(")", 150),
        times("iif(Ok,", 300) + "1" + times(",2)", 300),
        chain,
        sum,
        conds,
        times("Name+", 5000) + "Name",
        "contains(Name,\"Guns \"N\" Roses\")",
        "contains(Name,'Guns \"N\" Roses')",
        "contains(Name,[Guns \"N\" Roses])",
        "Name = \"Guns \"N\" Roses\"",
        "\"abc",
        "[abc",
        "'abc",
        "Name = 'It''s'",
        "",
        "   ",
        "()",
        "Name +",
        "+",
        ".T. .AND.",
        ".T. .AND. .F. .OR.",
        "Nope = 1",
        "frobnicate(Name)",
        "upper()",
        "upper(Name, Name)",
        "left(Name)",
        "substr(Name,1,2,3)",
        "Name + 1",
        "Qty = 'x'",
        "Ok > .T.",
        "upper(Qty)",
        "iif(Name, 1, 2)",
        "iif(Ok, 1, 'x')",
        "Qty $ Name",
        "Born + Born",
        "Name * 2",
        "-Name",
        "NOT Qty",
        "Ok AND Qty",
        "Qty / 0 > 1",
        "Qty % 0 > 1",
        "Qty / (Qty - Qty) > 1",
        "str(Qty / 0)",
        std::string(400, '9') + " > Qty",
        std::string(400, '9') + " - " + std::string(400, '9') + " > Qty",
        "Qty * 1" + std::string(400, '0') + " > 0",
        "left(Name, 100000000000000000000)",
        "left(Name, " + std::string(400, '9') + ")",
        "right(Name, 100000000000000000000)",
        "substr(Name, 100000000000000000000)",
        "substr(Name, 1, 100000000000000000000)",
        "substr(Name, -100000000000000000000, 3)",
        "padr(Name, 100000000000000000000)",
        "padl(Name, -100000000000000000000)",
        "padr(Name, 65536, 'x')",
        "space(100000000000000000000)",
        "space(" + std::string(400, '9') + " - " + std::string(400, '9') + ")",
        "str(Qty, 100000000000000000000, 100000000000000000000)",
        "str(100000000000000000000)",
        "str(" + std::string(400, '9') + ", 20, 2)",
        "dtos(Born + 100000000000000000000)",
        "dtos(Born - 100000000000000000000)",
        "dtos(Born + " + std::string(400, '9') + ")",
        "Born + 4000000 > Born",
        "at('', Name)",
        "'' $ Name",
        "Name $ ''",
        "contains(Name, '')",
        "contains(Name, '***')",
        "contains(Name, '*' + Name + '*')",
        "Name == Name",
        "Notes = Notes",
        "len(Notes) > 0",
        "upper(Notes) $ upper(Notes)",
        "\"" + std::string(1 << 20, 'q') + "\" $ Name",
        "Name\x01",
        "N\xE4me = 1",
        "\xE5\x90\x8D\xE5\x89\x8D = 1",
        "recno() = recno()",
        "deleted() OR NOT deleted()",
        "1..2 > 1",
        "1.2.3 > 1",
        ".5 > Qty",
        "Qty > .5.",
        "Name = [a]b]",
        "Ok = .Y.",
        "Ok = .N.",
        "Ok = .X.",
        "..T.",
        "Name=\"\"\"\"",
    };
}

class Expressions : public DamagedFiles {
protected:
    // Compiles the text; a failure must say where and why. What compiles is evaluated on every
    // row, as a filter where it is a condition, and as an index key where it can be one.
    static void compileAndEvaluate(const std::string& text, const QString& folder, bool buildTag, Report& report) {
        static std::shared_ptr<Table> table;  // one per child process
        if (!table) {
            writeTableFiles((*tables_)[2], folder, -1, {});
            auto t = Table::open(QDir(folder).filePath(QStringLiteral("ALLTYPES.DBF")), OpenMode::Shared);
            if (!t) {
                report.problem(QStringLiteral("cannot open ALLTYPES.DBF: ") + t.error().text());
                return;
            }
            table = *t;
        }
        const QString source = fromCp1252(text);
        auto e = table->compile(source);
        if (!e) {
            const Status& st = e.error();
            if (st.kind() != ErrorKind::Expression || !st.message().contains(QStringLiteral("position")))
                report.problem(QStringLiteral("the error does not say where: \"%1\"").arg(st.text()));
            return;
        }
        const Expression& x = *e;
        std::uint32_t errors = 0, hits = 0, live = 0;
        std::string rec;
        for (std::uint32_t r = 1; r <= table->recordCount(); ++r) {
            if (!table->readRecord(r, rec)) continue;
            EvalContext ctx = table->context(rec, r);
            switch (x.type()) {
                case ValueType::Logical: {
                    const bool v = x.evalLogical(ctx);
                    if (rec[0] != '*') {
                        ++live;
                        hits += v && ctx.error.isOk() ? 1 : 0;
                    }
                    break;
                }
                case ValueType::Number: x.evalNumber(ctx); break;
                case ValueType::Date: x.evalText(ctx); break;
                case ValueType::Char: x.evalText(ctx); break;
            }
            const std::string key = x.evalKey(ctx);
            if (int(key.size()) != x.keyLength())
                report.problem(QStringLiteral("a key of %1 bytes where the expression's keys have %2").arg(key.size()).arg(x.keyLength()));
            errors += ctx.error.isOk() ? 0 : 1;
        }
        if (x.type() == ValueType::Logical) {
            // The cursor's count over the same rows agrees, or fails where evaluation failed.
            Cursor c;
            c.setTablePath(table->path());
            Status st = c.open();
            if (st) st = c.setFilter(source);
            c.setFiltered(true);
            auto n = st ? c.recordCount() : Result<qint64>(st);
            if (!n && !errors)
                report.problem(QStringLiteral("the filter fails where every row evaluates: ") + n.error().text());
            if (n && !errors && *n != hits)
                report.problem(QStringLiteral("the filter counts %1 rows, evaluating row by row gives %2").arg(*n).arg(hits));
            (void)live;
        }
        if (buildTag && x.type() != ValueType::Logical && !x.readsMemo() && x.keyLength() >= 1 && x.keyLength() <= kMaxKeyLength) {
            // Built, the tag must be sound and keep its expression whole; refused, the refusal
            // must say why.
            Status st = table->createTag(QStringLiteral("FZ"), source);
            if (st) {
                const QStringList problems = CheckTable(table->path());
                for (const QString& p : problems) report.problem(QStringLiteral("after a tag on this key: ") + p);
                const Table::Tag* tag = table->tag(QStringLiteral("FZ"));
                if (!tag || tag->keyExpr != source || !tag->usable)
                    report.problem(QStringLiteral("the tag built on this key reads back as \"%1\"").arg(tag ? tag->keyExpr.left(80) : QString()));
                if (Status d = table->dropTag(QStringLiteral("FZ")); !d) report.problem(QStringLiteral("dropping the tag: ") + d.text());
            } else if (st.message().trimmed().isEmpty()) {
                report.problem(QStringLiteral("a tag on this key is refused without saying why: ") + st.text());
            }
        }
    }

    static void run(const std::vector<std::string>& texts, const std::vector<bool>& mustCompile, int tagEvery) {
        TempFolder work;
        const auto failures = runIsolated(texts.size(), [&](size_t i, Report& report) {
            if (mustCompile[i]) {
                // Only the check that it compiles; evaluation follows below.
                auto e = Expression::compile(fromCp1252(texts[i]), (*tables_)[2].fields);
                if (!e) report.problem(QStringLiteral("a well-formed expression does not compile: ") + e.error().text());
            }
            compileAndEvaluate(texts[i], work.path(), tagEvery > 0 && i % size_t(tagEvery) == 0, report);
        });
        reportFailures(failures, [&](size_t i) {
            std::string t = texts[i];
            if (t.size() > 160) t = t.substr(0, 150) + "... (" + std::to_string(t.size()) + " characters)";
            return "expression " + std::to_string(i) + ": " + t;
        });
        std::printf("[ fuzz ] %zu expressions, %zu failures\n", texts.size(), failures.size());
    }
};

TEST_F(Expressions, RandomTokensAreRefusedWithWhereAndWhy) {
    std::mt19937_64 rng(31);
    std::vector<std::string> texts;
    for (int i = 0; i < 1500; ++i) texts.push_back(tokenSoup(rng));
    run(texts, std::vector<bool>(texts.size(), false), 0);
}

TEST_F(Expressions, WellFormedExpressionsCompileAndEvaluateAlike) {
    TypedGenerator gen(41);
    std::vector<std::string> texts;
    std::vector<bool> must;
    for (int i = 0; i < 900; ++i) {
        std::string t;
        switch (i % 4) {
            case 0: t = gen.logical(0); break;
            case 1: t = gen.text(0); break;
            case 2: t = gen.number(0); break;
            default: t = gen.date(0); break;
        }
        texts.push_back(t);
        must.push_back(true);
        texts.push_back(mutate(gen.rng(), t));
        must.push_back(false);
    }
    run(texts, must, 23);
}

TEST_F(Expressions, HostileTextsEndWithAnswersOrErrors) {
    const std::vector<std::string> texts = hostileExpressions();
    run(texts, std::vector<bool>(texts.size(), false), 1);
}

// Counts far beyond any text (a typo, a pasted number) act as the largest count there is,
// never as zero: the answer for 10^20 is the answer for 10^9.
TEST_F(Expressions, HugeCountsActAsTheLargestCount) {
    TempFolder work;
    writeTableFiles((*tables_)[2], work.path(), -1, {});
    auto table = Table::open(QDir(work.path()).filePath(QStringLiteral("ALLTYPES.DBF")), OpenMode::Shared);
    ASSERT_TRUE(table.isOk()) << table.error().text().toStdString();
    const char* forms[] = {"left(Name, %1)",  "right(Name, %1)",    "substr(Name, 1, %1)", "padr(Name, %1)",
                           "padl(Name, %1)",  "padr(Name, %1, '*')", "space(%1)",           "str(Qty, %1)",
                           "str(Price, 20, %1)", "left(Name, -%1)",  "substr(Name, -%1, 3)"};
    const QString big[] = {QStringLiteral("1000000000"), QStringLiteral("100000000000000000000"),
                           QStringLiteral("1") + QString(400, QLatin1Char('0'))};
    std::string rec;
    ASSERT_TRUE((*table)->readRecord(1, rec).isOk());
    const EvalContext ctx = (*table)->context(rec, 1);
    std::string wrong;
    for (const char* form : forms) {
        auto reference = (*table)->compile(QString::fromLatin1(form).arg(big[0]));
        ASSERT_TRUE(reference.isOk()) << form;
        const std::string want = reference->evalText(ctx);
        for (const QString& n : big) {
            const QString text = QString::fromLatin1(form).arg(n);
            auto e = (*table)->compile(text);
            ASSERT_TRUE(e.isOk()) << text.toStdString();
            const std::string got = e->evalText(ctx);
            if (got != want || e->keyLength() != reference->keyLength())
                wrong += "\n  " + QString::fromLatin1(form).arg(n.size() > 30 ? QStringLiteral("1e%1").arg(n.size() - 1) : n).toStdString() +
                         ": " + std::to_string(got.size()) + " characters (key " + std::to_string(e->keyLength()) + "), where " +
                         QString::fromLatin1(form).arg(big[0]).toStdString() + " gives " + std::to_string(want.size()) + " (key " +
                         std::to_string(reference->keyLength()) + ")";
        }
    }
    EXPECT_TRUE(wrong.empty()) << wrong;
}

// str() gives the width it was asked for, up to its largest, with every digit of the number.
TEST_F(Expressions, NumbersTurnedToTextKeepTheirWidthAndDigits) {
    TempFolder work;
    writeTableFiles((*tables_)[2], work.path(), -1, {});
    auto table = Table::open(QDir(work.path()).filePath(QStringLiteral("ALLTYPES.DBF")), OpenMode::Shared);
    ASSERT_TRUE(table.isOk()) << table.error().text().toStdString();
    std::string rec;
    ASSERT_TRUE((*table)->readRecord(1, rec).isOk());
    const EvalContext ctx = (*table)->context(rec, 1);
    struct Case {
        std::string number;
        int width, decimals;
    };
    const std::string big = "1" + std::string(99, '0');
    std::string wrong;
    for (const Case& c : {Case{"12.5", 10, 2}, Case{"12.5", 63, 2}, Case{"12.5", 64, 2}, Case{"12.5", 100, 0},
                          Case{"12.5", 255, 18}, Case{big, 120, 2}, Case{big, 90, 2}}) {
        const QString text = QStringLiteral("str(%1, %2, %3)").arg(QString::fromStdString(c.number)).arg(c.width).arg(c.decimals);
        auto e = (*table)->compile(text);
        ASSERT_TRUE(e.isOk()) << text.toStdString();
        std::vector<char> buf(size_t(c.width) + 512);
        std::snprintf(buf.data(), buf.size(), "%*.*f", c.width, c.decimals, std::strtod(c.number.c_str(), nullptr));
        std::string want(buf.data());
        if (int(want.size()) > c.width) want = std::string(size_t(c.width), '*');
        const std::string got = e->evalText(ctx);
        if (got != want || e->keyLength() != c.width)
            wrong += "\n  " + text.left(60).toStdString() + ": " + std::to_string(got.size()) + " characters \"" + got.substr(0, 70) +
                     "\", key " + std::to_string(e->keyLength()) + "; expected " + std::to_string(want.size()) + " \"" + want.substr(0, 70) + "\"";
    }
    EXPECT_TRUE(wrong.empty()) << wrong;
}

// A tag is built only on a key expression its index file can keep whole: a longer one is
// refused, or kept and read back as it was given.
TEST_F(Expressions, LongKeyExpressionsAreKeptWholeOrRefused) {
    TempFolder work;
    writeTableFiles((*tables_)[2], work.path(), -1, {});
    const QString path = QDir(work.path()).filePath(QStringLiteral("ALLTYPES.DBF"));
    for (int depth : {20, 60, 100, 150}) {
        const QString expr = QStringLiteral("upper(").repeated(depth) + QStringLiteral("Name") + QStringLiteral(")").repeated(depth);
        {
            auto table = Table::open(path, OpenMode::Exclusive);
            ASSERT_TRUE(table.isOk());
            if (!(*table)->createTag(QStringLiteral("LONG"), expr).isOk()) continue;  // refused: fine
        }
        EXPECT_EQ(CheckTable(path), QStringList()) << expr.size() << " characters";
        auto table = Table::open(path, OpenMode::Exclusive);
        ASSERT_TRUE(table.isOk());
        const Table::Tag* tag = (*table)->tag(QStringLiteral("LONG"));
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->keyExpr, expr) << expr.size() << " characters";
        EXPECT_TRUE(tag->usable.isOk()) << tag->usable.text().toStdString();
        ASSERT_TRUE((*table)->dropTag(QStringLiteral("LONG")).isOk());
    }
}

}  // namespace
