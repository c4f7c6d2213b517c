// albumora-cli: the command-line companion. It works on the same data folder as the desktop
// program, through the same table engine.
#include "Check.h"
#include "Csv.h"
#include "DMcd.h"
#include "DataFolder.h"
#include "File.h"
#include "Table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>

using namespace albumora::store;

namespace {

const char* kUsage =
    "Usage: albumora-cli [--data DIR] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  init                      create the collection tables and index files that are missing\n"
    "  check                     verify every table, memo and index file of the data folder\n"
    "  query TABLE [--order TAG] [--filter EXPR] [--fields F1,F2,...]\n"
    "                            print the rows as CSV (UTF-8) with a header line\n"
    "  count TABLE [--filter EXPR]\n"
    "                            print the number of rows passing the filter\n"
    "  reindex TABLE|all         rebuild the index files\n"
    "  pack TABLE|all            drop deleted rows, compact memos, rebuild the index\n"
    "\n"
    "TABLE is a file name in the data folder (ALBUMS.DBF, tracks.dbf, ...), matched without\n"
    "regard to case. The data folder is DIR, else $ALBUMORA_HOME, else the program's folder when\n"
    "it holds Albumora.ini, else $XDG_DATA_HOME/Albumora.\n";

void out(const QString& s) {
    const QByteArray b = s.toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

void check(const Status& st) {
    if (!st) fail(st.text());
}

template <class T>
T check(Result<T> r) {
    if (!r) fail(r.error().text());
    return std::move(r).value();
}

class Args {
public:
    explicit Args(QStringList a) : args_(std::move(a)) {}
    bool empty() const { return args_.isEmpty(); }
    QString take() {
        if (args_.isEmpty()) fail(QStringLiteral("missing argument; see albumora-cli --help"));
        return args_.takeFirst();
    }
    // Removes "--name VALUE" (or "--name=VALUE") and returns VALUE.
    std::optional<QString> option(const QString& name) {
        for (qsizetype i = 0; i < args_.size(); ++i) {
            if (args_[i] == name) {
                if (i + 1 >= args_.size()) fail(name + QStringLiteral(" needs a value"));
                QString v = args_[i + 1];
                args_.remove(i, 2);
                return v;
            }
            if (args_[i].startsWith(name + QLatin1Char('='))) {
                QString v = args_[i].mid(name.size() + 1);
                args_.removeAt(i);
                return v;
            }
        }
        return std::nullopt;
    }
    void done() {
        if (!args_.isEmpty()) fail(QStringLiteral("unexpected argument \"%1\"").arg(args_.first()));
    }

private:
    QStringList args_;
};

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
    QStringList row;
    for (; !c.eof() && !c.isEmpty(); check(c.next())) {
        row.clear();
        for (int i : columns) row << c.text(i);
        out(albumora::cli::CsvLine(row));
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
        check(removeFile(indexPathFor(path)));
        t.reset();
        t = check(Table::open(path, OpenMode::Exclusive));
        check(TDM::CreateIndexTags(*t));
    } else {
        check(t->reindex());
    }
    out(QStringLiteral("Reindexed %1\n").arg(QFileInfo(path).fileName()));
}

int cmdReindex(const QString& folder, Args& args) {
    const QString what = args.take();
    args.done();
    if (what.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        for (const QString& p : tablesOf(folder)) reindexOne(p);
        return 0;
    }
    reindexOne(findTable(folder, what));
    return 0;
}

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

int cmdPack(const QString& folder, Args& args) {
    const QString what = args.take();
    args.done();
    if (what.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        for (const QString& p : tablesOf(folder)) packOne(p);
        return 0;
    }
    packOne(findTable(folder, what));
    return 0;
}

int cmdInit(const QString& folder, Args& args) {
    args.done();
    TDM dm(folder);
    check(dm.EnsureCollectionFiles([](const QString& s) {
        if (!s.isEmpty()) out(s + QLatin1Char('\n'));
    }));
    return 0;
}

int cmdCheck(const QString& folder, Args& args) {
    args.done();
    const QStringList tables = tablesOf(folder);
    const QStringList problems = CheckFolder(folder);
    for (const QString& p : problems) out(p + QLatin1Char('\n'));
    if (!problems.isEmpty()) {
        std::fprintf(stderr, "%d problem(s) found\n", int(problems.size()));
        return 1;
    }
    out(QStringLiteral("%1 table(s) checked, no problems found\n").arg(tables.size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("albumora-cli"));
    QStringList raw = app.arguments();
    raw.removeFirst();
    try {
        Args args(raw);
        if (args.empty() || raw.first() == QLatin1String("--help") || raw.first() == QLatin1String("-h") ||
            raw.first() == QLatin1String("help")) {
            std::fputs(kUsage, stdout);
            return args.empty() ? 1 : 0;
        }
        if (raw.first() == QLatin1String("--version")) {
            std::printf("albumora-cli %s\n", ALBUMORA_VERSION_TEXT);
            return 0;
        }
        QString dataOption;
        if (raw.first() == QLatin1String("--data") || raw.first().startsWith(QLatin1String("--data="))) {
            dataOption = *args.option(QStringLiteral("--data"));
        }
        const QString command = args.take();
        const QString folder = check(ResolveDataFolder(dataOption, QCoreApplication::applicationDirPath()));
        static const std::map<QString, std::function<int(const QString&, Args&)>> commands = {
            {QStringLiteral("init"), cmdInit},   {QStringLiteral("check"), cmdCheck},
            {QStringLiteral("query"), cmdQuery}, {QStringLiteral("count"), cmdCount},
            {QStringLiteral("reindex"), cmdReindex}, {QStringLiteral("pack"), cmdPack},
        };
        auto it = commands.find(command);
        if (it == commands.end()) fail(QStringLiteral("unknown command \"%1\"; see albumora-cli --help").arg(command));
        const int rc = it->second(folder, args);
        std::fflush(stdout);
        return rc;
    } catch (const Failure& f) {
        std::fflush(stdout);
        QString line = f.message;
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        std::fprintf(stderr, "albumora-cli: %s\n", line.toLocal8Bit().constData());
        return 1;
    }
}
