#include "Check.h"

#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

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
        int reported = 0;
        Status st = dbf.scan(1, count, [&](std::uint32_t recno, const char* rec) {
            for (const FieldDef& f : dbf.fields()) {
                if (!f.isMemo()) continue;
                const std::uint32_t block = Table::memoBlock(f, rec);
                if (!block) continue;
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

QStringList CheckFolder(const QString& folder) {
    QStringList problems;
    QDir dir(folder);
    const QStringList tables = dir.entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF"), QStringLiteral("*.Dbf")},
                                             QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& t : tables) problems << CheckTable(dir.filePath(t));
    return problems;
}

}  // namespace albumora::store
