// The commands that touch only the tables: no settings, no drive, no network.
#include "Check.h"
#include "Codepage.h"
#include "Cli.h"
#include "Csv.h"
#include "DMcd.h"
#include "File.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>

using namespace albumora::store;
using namespace albumora::cli;

namespace {

QString findTable(const QString& folder, const QString& name) {
    const QString path = resolveCaseInsensitive(QDir(folder).filePath(name));
    if (!fileExists(path)) fail(QStringLiteral("no table %1 in %2").arg(name, folder));
    return path;
}

QStringList tablesOf(const QString& folder) {
    QStringList out;
    for (const QString& f : QDir(folder).entryList({QStringLiteral("*.dbf")}, QDir::Files, QDir::Name | QDir::IgnoreCase))
        out << QDir(folder).filePath(f);
    return out;
}

bool isCollectionTable(const QString& path) {
    static const QStringList names = {QStringLiteral("ALBUMS.DBF"), QStringLiteral("TRACKS.DBF"),
                                      QStringLiteral("ARTISTS.DBF"), QStringLiteral("PLAYLIST.DBF")};
    return names.contains(QFileInfo(path).fileName().toUpper());
}

void openCursor(Cursor& c, const QString& path, const QString& order, const QString& filter) {
    c.setTablePath(path);
    auto t = check(Table::open(path, OpenMode::Shared));
    if (!order.isEmpty()) {
        if (!t->indexProblem().isOk())
            fail(t->indexProblem().text() + QStringLiteral("; run: albumora-cli reindex ") + QFileInfo(path).fileName());
        check(c.setOrder(order));
    }
    if (!filter.isEmpty()) {
        c.setFiltered(true);
        check(c.setFilter(filter));
    }
    check(c.open());
}

// Whether a field holds a comma, a quote or a line break, eight bytes at a time: nearly every
// field of a query is looked at and hardly any has one.
bool needsQuotes(std::string_view v) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    const auto has = [](std::uint64_t w, char c) {
        const std::uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
        return ((x - kOnes) & ~x & kHigh) != 0;
    };
    size_t i = 0;
    for (; i + 8 <= v.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, v.data() + i, 8);
        if (has(w, ',') || has(w, '"') || has(w, '\r') || has(w, '\n')) return true;
    }
    for (; i < v.size(); ++i)
        if (v[i] == ',' || v[i] == '"' || v[i] == '\r' || v[i] == '\n') return true;
    return false;
}

int cmdQuery(const QString& folder, Args& args) {
    const QString table = args.take();
    const QString order = args.option(QStringLiteral("--order")).value_or(QString());
    const QString filter = args.option(QStringLiteral("--filter")).value_or(QString());
    const std::optional<QString> fieldList = args.option(QStringLiteral("--fields"));
    args.done();
    Cursor c(QStringLiteral("query"));
    openCursor(c, findTable(folder, table), order, filter);
    std::vector<int> columns;
    QStringList header;
    if (fieldList) {
        for (const QString& f : fieldList->split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            int i = c.fieldIndex(f.trimmed());
            if (i < 0) fail(QStringLiteral("no field %1 in %2").arg(f.trimmed(), table));
            columns.push_back(i);
            header << c.fieldName(i);
        }
    } else {
        for (int i = 0; i < c.fieldCount(); ++i) {
            columns.push_back(i);
            header << c.fieldName(i);
        }
    }
    out(albumora::cli::CsvLine(header));
    // Character fields go from the row's bytes straight to UTF-8: a query of a whole table would
    // otherwise make several strings a field. Other fields keep the cursor's text.
    std::vector<const FieldDef*> raw;
    for (int i : columns) {
        const FieldDef* f = size_t(i) < c.table()->fields().size() ? &c.table()->fields()[size_t(i)] : nullptr;
        raw.push_back(f && f->type == 'C' ? f : nullptr);
    }
    std::string buf;
    // Rows go out in large writes; a failure on the way still prints every whole row before it.
    struct Flush {
        std::string& buf;
        size_t whole = 0;  // bytes of the rows completed
        ~Flush() { std::fwrite(buf.data(), 1, whole, stdout); }
    } flush{buf};
    for (; !c.eof() && !c.isEmpty(); check(c.next())) {
        const std::string& rec = c.rowBytes();
        for (size_t k = 0; k < columns.size(); ++k) {
            if (k) buf.push_back(',');
            const FieldDef* f = raw[k];
            if (f && rec.size() >= size_t(f->offset + f->length)) {
                const std::string_view v = trimRight(std::string_view(rec).substr(size_t(f->offset), size_t(f->length)));
                if (!needsQuotes(v)) {
                    appendUtf8FromCp1252(buf, v);
                    continue;
                }
            }
            buf += albumora::cli::CsvField(check(c.readText(columns[k]))).toUtf8().toStdString();
        }
        buf += "\r\n";
        flush.whole = buf.size();
        if (buf.size() >= (1u << 20)) {
            std::fwrite(buf.data(), 1, buf.size(), stdout);
            buf.clear();
            flush.whole = 0;
        }
    }
    return 0;
}

int cmdCount(const QString& folder, Args& args) {
    const QString table = args.take();
    const QString filter = args.option(QStringLiteral("--filter")).value_or(QString());
    args.done();
    Cursor c(QStringLiteral("count"));
    openCursor(c, findTable(folder, table), QString(), filter);
    out(QString::number(check(c.recordCount())) + QLatin1Char('\n'));
    return 0;
}

void reindexOne(const QString& path) {
    auto t = check(Table::open(path, OpenMode::Exclusive));
    if (isCollectionTable(path)) {
        // The collection's own tags, whatever the old index held; it stays until the new one
        // replaces it.
        check(t->recreateIndex(TDM::IndexTagsOf(path)));
    } else {
        check(t->reindex());
    }
    out(QStringLiteral("Reindexed %1\n").arg(QFileInfo(path).fileName()));
}

// TABLE or "all": the one table, or every table of the folder.
int onTables(const QString& folder, Args& args, void (*one)(const QString&)) {
    const QString what = args.take();
    args.done();
    if (what.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        for (const QString& p : tablesOf(folder)) one(p);
        return 0;
    }
    one(findTable(folder, what));
    return 0;
}

int cmdReindex(const QString& folder, Args& args) { return onTables(folder, args, reindexOne); }

void packOne(const QString& path) {
    auto t = check(Table::open(path, OpenMode::Exclusive));
    if (!t->indexProblem().isOk() && t->hasIndexFile() == false && isCollectionTable(path)) {
        // Packing rebuilds the index from the tags it has; a collection table without one gets its own.
        check(t->pack());
        check(TDM::CreateIndexTags(*t));
    } else {
        check(t->pack());
    }
    out(QStringLiteral("Packed %1: %2 rows\n").arg(QFileInfo(path).fileName()).arg(t->recordCount()));
}

int cmdPack(const QString& folder, Args& args) { return onTables(folder, args, packOne); }

int cmdInit(const QString& folder, Args& args) {
    args.done();
    TDM dm(folder);
    check(dm.EnsureCollectionFiles([](const QString& s) {
        if (!s.isEmpty()) out(s + QLatin1Char('\n'));
    }));
    return 0;
}

int cmdCheck(const QString& folder, Args& args) {
    const bool tablesOnly = args.flag(QStringLiteral("--tables"));
    args.done();
    const QStringList tables = tablesOf(folder);
    const QStringList problems = CheckFolder(folder, tablesOnly);
    for (const QString& p : problems) out(p + QLatin1Char('\n'));
    if (!problems.isEmpty()) {
        std::fprintf(stderr, "%d problem(s) found\n", int(problems.size()));
        return 1;
    }
    out(QStringLiteral("%1 table(s) checked, no problems found\n").arg(tables.size()));
    return 0;
}

}  // namespace

namespace albumora::cli {

const Commands& TableCommands() {
    static const Commands commands = {
        {QStringLiteral("init"), cmdInit},   {QStringLiteral("check"), cmdCheck},     {QStringLiteral("query"), cmdQuery},
        {QStringLiteral("count"), cmdCount}, {QStringLiteral("reindex"), cmdReindex}, {QStringLiteral("pack"), cmdPack},
    };
    return commands;
}

}  // namespace albumora::cli
