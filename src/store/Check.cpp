#include "Check.h"

#include "Codepage.h"
#include "Journal.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>
#include <map>
#include <set>

namespace albumora::store {

QStringList CheckTable(const QString& dbfPath) {
    QStringList problems;
    const QString name = QFileInfo(dbfPath).fileName();
    auto opened = DbfFile::open(dbfPath, false);
    if (!opened) return {opened.error().text()};
    DbfFile& dbf = **opened;
    const std::uint32_t count = dbf.recordCount();

    // Memo pointers.
    std::unique_ptr<MemoFile> memo;
    if (dbf.hasMemoFields()) {
        const QString mp = memoPathFor(dbfPath);
        auto m = MemoFile::open(mp, false);
        if (!m)
            problems << name + QStringLiteral(": ") + m.error().text();
        else
            memo = std::move(m).value();
    }
    if (memo) {
        const std::uint64_t freeAt = std::uint64_t(memo->nextFree()) * memo->blockSize();
        if (freeAt < MemoFile::kHeaderSize)
            problems << QStringLiteral("%1: the memo file's next free block (%2) lies in its header; the next memo would overwrite it")
                            .arg(name)
                            .arg(memo->nextFree());
    }
    if (memo) {
        int reported = 0;
        Status st = dbf.scan(1, count, [&](std::uint32_t recno, const char* rec) {
            for (const FieldDef& f : dbf.fields()) {
                if (!f.isMemo()) continue;
                const std::uint32_t block = Table::memoBlock(f, rec);
                if (!block) continue;
                if (block >= memo->nextFree() && memo->nextFree() * std::uint64_t(memo->blockSize()) >= MemoFile::kHeaderSize &&
                    reported++ < 20) {
                    problems << QStringLiteral("%1: record %2, field %3: memo block %4 lies at or past the memo file's next free block %5")
                                    .arg(name)
                                    .arg(recno)
                                    .arg(QString::fromLatin1(f.name.c_str()))
                                    .arg(block)
                                    .arg(memo->nextFree());
                    continue;
                }
                auto text = memo->read(block);
                if (!text && reported++ < 20)
                    problems << QStringLiteral("%1: record %2, field %3: %4")
                                    .arg(name)
                                    .arg(recno)
                                    .arg(QString::fromLatin1(f.name.c_str()), text.error().text());
            }
            return true;
        });
        if (!st) problems << name + QStringLiteral(": ") + st.text();
    }

    // Index file.
    const QString ip = indexPathFor(dbfPath);
    if (!fileExists(ip)) {
        if (dbf.tableFlags() & DbfFile::kFlagCdx) problems << QStringLiteral("%1: the index file is missing").arg(name);
        return problems;
    }
    if (dbf.indexLag())
        problems << QStringLiteral("%1: the index file lags behind the table (it must be rebuilt)").arg(name);
    auto idx = IndexFile::open(ip, false);
    if (!idx) {
        problems << name + QStringLiteral(": ") + idx.error().text();
        return problems;
    }
    for (Tree* tree : (*idx)->tags()) {
        const QString tag = QString::fromLatin1(tree->info().name.c_str());
        auto key = Expression::compile(QString::fromLatin1(tree->info().keyExpr.c_str()), dbf.fields());
        std::optional<Expression> cond;
        if (!tree->info().forExpr.empty()) {
            auto c = Expression::compile(QString::fromLatin1(tree->info().forExpr.c_str()), dbf.fields());
            if (c) cond = std::move(c).value();
        }
        if (key) tree->setPad(key->keyPad());
        if (Status structure = tree->verify(); !structure) {
            problems << QStringLiteral("%1: tag %2: %3").arg(name, tag, structure.text());
            continue;
        }
        std::vector<std::uint8_t> seen(size_t(count) + 1, 0);
        std::uint64_t keys = 0;
        int bad = 0, outOfRange = 0, twice = 0;
        std::string prevKey;
        std::uint32_t prevRec = 0;
        bool disorder = false;
        std::string rec;
        Status st = tree->forEach([&](const IndexEntry& e) {
            ++keys;
            if (keys > 1 && !tree->info().descending) {
                int c = std::memcmp(prevKey.data(), e.key.data(), std::min(prevKey.size(), e.key.size()));
                if (c > 0 || (c == 0 && prevRec >= e.recno)) disorder = true;
            }
            prevKey = e.key;
            prevRec = e.recno;
            if (e.recno < 1 || e.recno > count) {
                ++outOfRange;
                return true;
            }
            if (seen[e.recno]++) ++twice;
            if (key && dbf.readRecord(e.recno, rec)) {
                EvalContext ctx;
                ctx.record = rec.data();
                ctx.recno = e.recno;
                if (key->evalKey(ctx) != e.key) ++bad;
            }
            return true;
        });
        if (!st) {
            problems << QStringLiteral("%1: tag %2: %3").arg(name, tag, st.text());
            continue;
        }
        if (!key) {
            problems << QStringLiteral("%1: tag %2: %3").arg(name, tag, key.error().message());
            continue;
        }
        if (disorder) problems << QStringLiteral("%1: tag %2: keys are out of order").arg(name, tag);
        if (outOfRange) problems << QStringLiteral("%1: tag %2: %3 keys point past the last record").arg(name, tag).arg(outOfRange);
        if (twice) problems << QStringLiteral("%1: tag %2: %3 records have more than one key").arg(name, tag).arg(twice);
        if (bad) problems << QStringLiteral("%1: tag %2: %3 keys differ from their records").arg(name, tag).arg(bad);
        if (!cond) {
            std::uint32_t missing = 0;
            for (std::uint32_t r = 1; r <= count; ++r) missing += seen[r] ? 0 : 1;
            if (missing) problems << QStringLiteral("%1: tag %2: %3 records have no key").arg(name, tag).arg(missing);
        }
    }
    return problems;
}

namespace {

// The rows of a table that are not deleted, as (ID, NR) texts; false when the table is absent.
bool readIds(const QString& path, std::vector<std::pair<std::string, std::string>>& rows, QStringList& problems) {
    if (!fileExists(path)) return false;
    auto opened = DbfFile::open(path, false);
    if (!opened) return false;  // its own check has said why
    DbfFile& dbf = **opened;
    const int id = dbf.fieldIndex("ID"), nr = dbf.fieldIndex("NR");
    if (id < 0) {
        problems << QStringLiteral("%1: the table has no ID field").arg(QFileInfo(path).fileName());
        return false;
    }
    const FieldDef& fi = dbf.fields()[size_t(id)];
    const FieldDef* fn = nr >= 0 ? &dbf.fields()[size_t(nr)] : nullptr;
    Status st = dbf.scan(1, dbf.recordCount(), [&](std::uint32_t, const char* rec) {
        if (rec[0] == '*') return true;
        rows.emplace_back(std::string(trimRight(std::string_view(rec + fi.offset, size_t(fi.length)))),
                          fn ? std::string(rec + fn->offset, size_t(fn->length)) : std::string());
        return true;
    });
    return st.isOk();
}

QString plural(size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
}

// The four collection tables agree: every row of the other three belongs to an album, every
// album has tracks, track numbers are 1 to 999, and no album ID is used twice.
QStringList checkCollection(const QDir& dir) {
    QStringList problems;
    std::vector<std::pair<std::string, std::string>> albums, tracks, artists, playlist;
    if (!readIds(resolveCaseInsensitive(dir.filePath(QStringLiteral("ALBUMS.DBF"))), albums, problems)) return problems;
    std::map<std::string, int> albumIds;
    for (const auto& a : albums) ++albumIds[a.first];
    std::vector<QString> twice;
    for (const auto& [id, n] : albumIds)
        if (n > 1) twice.push_back(QString::fromLatin1(id.c_str()));
    if (!twice.empty())
        problems << QStringLiteral("ALBUMS.DBF: %1 used by more than one album: %2")
                        .arg(plural(twice.size(), "album ID is", "album IDs are"),
                             QStringList(twice.begin(), twice.begin() + std::ptrdiff_t(std::min<size_t>(twice.size(), 10))).join(QStringLiteral(", ")));
    std::set<std::string> withTracks;
    if (readIds(resolveCaseInsensitive(dir.filePath(QStringLiteral("TRACKS.DBF"))), tracks, problems)) {
        size_t orphans = 0, badNumbers = 0;
        for (const auto& [id, nr] : tracks) {
            withTracks.insert(id);
            if (!albumIds.count(id)) ++orphans;
            bool ok = false;
            const int n = QString::fromLatin1(nr.c_str()).trimmed().toInt(&ok);
            if (!ok || n < 1 || n > 999) ++badNumbers;
        }
        if (orphans) problems << QStringLiteral("TRACKS.DBF: %1 no album").arg(plural(orphans, "track belongs to", "tracks belong to"));
        if (badNumbers)
            problems << QStringLiteral("TRACKS.DBF: %1 a track number outside 1 to 999").arg(plural(badNumbers, "track has", "tracks have"));
        size_t empty = 0;
        QStringList some;
        for (const auto& [id, n] : albumIds)
            if (!withTracks.count(id)) {
                if (++empty <= 10) some << QString::fromLatin1(id.c_str());
            }
        if (empty) problems << QStringLiteral("ALBUMS.DBF: %1 no tracks: %2").arg(plural(empty, "album has", "albums have"), some.join(QStringLiteral(", ")));
    }
    const std::pair<const char*, std::vector<std::pair<std::string, std::string>>*> others[] = {
        {"ARTISTS.DBF", &artists}, {"PLAYLIST.DBF", &playlist}};
    for (const auto& [file, rows] : others) {
        if (!readIds(resolveCaseInsensitive(dir.filePath(QString::fromLatin1(file))), *rows, problems)) continue;
        size_t orphans = 0;
        for (const auto& r : *rows) orphans += albumIds.count(r.first) ? 0 : 1;
        if (orphans) problems << QStringLiteral("%1: %2 no album").arg(QString::fromLatin1(file), plural(orphans, "row belongs to", "rows belong to"));
    }
    return problems;
}

}  // namespace

QStringList CheckFolder(const QString& folder, bool tablesOnly) {
    QStringList problems;
    QDir dir(folder);
    if (!dir.exists()) return {QStringLiteral("The data folder %1 does not exist").arg(folder)};
    auto unfinished = Folder::hasUnfinishedWrite(folder);
    if (!unfinished)
        problems << unfinished.error().text();
    else if (*unfinished)
        problems << QStringLiteral("%1: an unfinished write of the collection waits to be undone; the next program to open the "
                                   "folder undoes it")
                        .arg(QFileInfo(Folder::journalPath(folder)).fileName());
    for (const QString& j : dir.entryList({QStringLiteral(".*.pack-journal")}, QDir::Files | QDir::Hidden))
        problems << QStringLiteral("%1: a pack was interrupted between its renames; the next program to open the table finishes it")
                        .arg(j.mid(1, j.size() - int(sizeof(".pack-journal"))));
    const QStringList tables = dir.entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF"), QStringLiteral("*.Dbf")},
                                             QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& t : tables) problems << CheckTable(dir.filePath(t));
    if (!tablesOnly) problems << checkCollection(dir);
    return problems;
}

}  // namespace albumora::store
