// albumora-cli: the command-line companion. It works on the same data folder as the desktop
// program, through the same table engine.
#include "Cddb.h"
#include "Check.h"
#include "Csv.h"
#include "DMcd.h"
#include "DataFolder.h"
#include "DiscDrive.h"
#include "File.h"
#include "ImportParsers.h"
#include "NotesTags.h"
#include "Prompts.h"
#include "Table.h"
#include "AddCd.h"
#include "AlbumEditor.h"
#include "Submission.h"
#include "Export.h"
#include "FieldChooser.h"
#include "Layouts.h"
#include "M3u.h"
#include "Maintenance.h"
#include "PlaylistBuilder.h"
#include "Pdf.h"
#include "TrackView.h"
#include "Session.h"
#include "Settings.h"
#include "UDiscIdCalcDefs.h"
#include "Version.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

using namespace albumora::store;

namespace {

const char* kUsage =
    "Usage: albumora-cli [--data DIR] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  init                      create the collection tables and index files that are missing\n"
    "  check [--tables]          verify every table, memo and index file of the data folder, and\n"
    "                            that the collection tables agree (--tables: each table alone)\n"
    "  query TABLE [--order TAG] [--filter EXPR] [--fields F1,F2,...]\n"
    "                            print the rows as CSV (UTF-8) with a header line\n"
    "  count TABLE [--filter EXPR]\n"
    "                            print the number of rows passing the filter\n"
    "  reindex TABLE|all         rebuild the index files\n"
    "  pack TABLE|all            drop deleted rows, compact memos, rebuild the index\n"
    "  import --source SOURCE FILE [--artist A] [--title T] [--genre G]\n"
    "                            add the album of a text file as a new album; prints its ID.\n"
    "                            SOURCE: xmcd (a CD database record), numbered, unnumbered,\n"
    "                            amg or store (web track lists), m3u, xspf (playlists)\n"
    "  delete ID                 delete an album with its tracks, marks and artist rows\n"
    "  drives [DEVICE|IMAGE]     list the CD drives, a disc image first\n"
    "  discid [DEVICE|IMAGE]     print the disc ID of the disc, then its TOC query text, then its\n"
    "                            MusicBrainz disc ID\n"
    "  lookup [DEVICE|IMAGE] [--source cddb|musicbrainz|all] [--match N]\n"
    "                            look the disc up (in the sources of the Sources setting without\n"
    "                            --source; all: both, their matches together): the match lines,\n"
    "                            then the record of match N (counted from 1; the first without it)\n"
    "  add-cd [DEVICE|IMAGE] [--source cddb|musicbrainz|all] [--match N]\n"
    "                            add the disc as \"Add CD\" does; prints its ID\n"
    "  cover ID                  fetch the front cover of the album's MusicBrainz release (its\n"
    "                            MBID= notes line) into the covers folder; prints its path\n"
    "  submit [DEVICE|IMAGE]     send the disc's album to the CD database by e-mail\n"
    "  export csv|xml|html [--albums-filter E] [--tracks-filter E]\n"
    "         [--order Artist|Album|Label|Genre|IX|Natural] [--fields F1,F2,...] [--no-tracks]\n"
    "         [--title T] [--out DIR]\n"
    "                            write the report writer's files: albums, tracks and playlist\n"
    "                            (.csv or .xml), or the web page Albumora.html; prints each path\n"
    "  maintain [--zip]          pack every collection table and rebuild its index; --zip also\n"
    "                            puts the data files into Albumoradata.zip of the data folder\n"
    "  restore ZIP [--force]     put the collection of a backup archive (Albumoradata.zip) into\n"
    "                            the data folder; every entry is read and the tables checked\n"
    "                            before anything is replaced. A folder that holds a collection\n"
    "                            already is overwritten only with --force\n"
    "  report album|artist|media [the options of export] --pdf FILE\n"
    "                            lay out the report writer's printed report as a PDF file\n"
    "  tracks csv|xml|dj|dbf|pdf [--filter E] [--order Track|Artist|Album] [--fields F1,F2,...]\n"
    "         [--out DIR|FILE]\n"
    "                            the tracks view's outputs (one row per track): program.csv or\n"
    "                            program.xml in DIR, DJintel.csv or _TVIEW.DBF in the data folder,\n"
    "                            or the track report as the PDF FILE; builds TVIEW.DBF when it is\n"
    "                            missing; prints the path\n"
    "  marks ID [NR ...]         mark the album's tracks NR for the playlist, as the playlist\n"
    "                            builder's OK does: the given tracks become its marks, none\n"
    "                            given clears them\n"
    "  m3u ID [--from NR]        write Albumora.m3u as the Play button does for the album (a\n"
    "                            double click on track NR with --from), without starting a\n"
    "                            player, and print its path; for a CD album from its tracks in\n"
    "                            the collection, the drive being CDPath; for a playlist album\n"
    "                            (media PL) print the playlist file the button would play\n"
    "\n"
    "TABLE is a file name in the data folder (ALBUMS.DBF, tracks.dbf, ...), matched without\n"
    "regard to case. The data folder is DIR, else $ALBUMORA_HOME, else the program's folder when\n"
    "it holds Albumora.ini, else $XDG_DATA_HOME/Albumora.\n"
    "\n"
    "DEVICE is a CD device (/dev/sr0), IMAGE a disc image (.cue with its .bin, cdrdao .toc, .nrg).\n"
    "Without one the drive is CDPath of section [Current] in the data folder's Albumora.ini,\n"
    "else the first CD device. The CD database and mail settings are those of that file too.\n";

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
    // Removes "--name" and tells whether it was there.
    bool flag(const QString& name) { return args_.removeAll(name) > 0; }
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
        for (int i : columns) row << check(c.readText(i));
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

// The drive a disc command works on: the argument, else CDPath of the settings file (relative
// to the data folder), else the first CD device.
QString drivePath(const QString& folder, Args& args) {
    std::optional<QString> given;
    if (!args.empty()) given = args.take();
    args.done();
    if (given) {
        if (!QFileInfo::exists(*given)) fail(QStringLiteral("no such device or disc image: %1").arg(*given));
        return QFileInfo(*given).absoluteFilePath();
    }
    QString path = albumora::settings::SettingsFile(folder).read(nullptr).cdPath;
    if (!path.isEmpty()) return QDir(folder).absoluteFilePath(path);
    path = albumora::disc::DiscDrive::FirstCdRomDrive();
    if (path.isEmpty()) fail(QStringLiteral("Can NOT find a CD-ROM drive"));
    return path;
}

// Message boxes for a program without windows: errors are kept for the one-line failure
// message; questions get the answer the command stands for (a command given is a command
// meant), and are kept to be told on stderr.
class CliPrompts : public albumora::platform::Prompts {
public:
    QStringList errors;
    QStringList messages;
    QStringList questions;
    bool answer = false;
    void error(const QString& text) override { errors << text; }
    void message(const QString& text) override { messages << text; }
    void information(const QString& text) override { messages << text; }
    // What the flow said last, errors before plain messages: the command's failure line.
    QString said() const { return !errors.isEmpty() ? errors.last() : messages.value(messages.size() - 1); }
    bool confirm(const QString& text) override {
        questions << text;
        return answer;
    }
    bool okCancel(const QString& text) override {
        questions << text;
        return answer;
    }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> openFile(const QString&, const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> saveFile(const QString&, const QString&, const QString&) override { return std::nullopt; }
    QStringList openFiles(const QString&, const QString&, const QString&) override { return {}; }
    std::optional<QString> folder(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> font(const QString&) override { return std::nullopt; }
};

int cmdDrives(const QString& folder, Args& args) {
    using namespace albumora::disc;
    const QString path = drivePath(folder, args);
    CdDriveList list;
    if (!GetCdRomDrives(list, IsDiscImage(path) ? path : QString()))
        fail(QStringLiteral("Can NOT find a CD-ROM drive"));
    for (const QString& line : DiscDrive::DriveLines(list)) out(line + QLatin1Char('\n'));
    return 0;
}

// Where a device or image sits in the drive list: 0 for an image, which comes first.
int driveNumberOf(const QString& path) {
    using namespace albumora::disc;
    const bool image = IsDiscImage(path);
    CdDriveList list;
    GetCdRomDrives(list, image ? path : QString());
    const QString wanted = QFileInfo(path).canonicalFilePath();
    for (int i = 0; i < list.count; ++i)
        if (QFileInfo(list.drives[size_t(i)].device).canonicalFilePath() == wanted) return i;
    fail(QStringLiteral("%1 is not a CD drive or a disc image").arg(path));
}

// The desktop prompts of a flow replaced by the command's own for as long as it runs.
struct PromptsInstalled {
    albumora::platform::Desktop saved = albumora::platform::desktop();
    explicit PromptsInstalled(CliPrompts& p) { albumora::platform::desktop().prompts = &p; }
    ~PromptsInstalled() { albumora::platform::desktop() = saved; }
};

// The disc of a command, its table of contents read into the command's session or, for a
// command without one, a state of its own.
class DiscInDrive {
    albumora::disc::DiscState own_;

public:
    DiscInDrive(const QString& path, const QString& protocol) : DiscInDrive(path, protocol, own_) {}
    DiscInDrive(const QString& path, const QString& protocol, albumora::disc::DiscState& into)
        : state(into), drive({path, driveNumberOf(path), protocol}, state) {
        const bool image = albumora::disc::IsDiscImage(path);
        if (!albumora::disc::DiscDrive::DriveReady(path))
            fail((image ? QStringLiteral("cannot read the disc image %1") : QStringLiteral("no disc in %1")).arg(path));
        CliPrompts prompts;
        bool read = false;
        {
            PromptsInstalled installed(prompts);
            read = drive.ReadDisc();
        }
        if (!read)
            fail(prompts.errors.isEmpty() ? QStringLiteral("cannot read the table of contents of %1").arg(path)
                                          : prompts.errors.last());
    }
    albumora::disc::DiscState& state;
    albumora::disc::DiscDrive drive;
};

int cmdDiscId(const QString& folder, Args& args) {
    using namespace albumora::disc;
    DiscInDrive disc(drivePath(folder, args), QStringLiteral("T"));
    const Result<MbDiscToc> mb = ComputeMbDiscId(disc.state.toc);
    out(disc.state.currentDiscId + QLatin1Char('\n') + disc.drive.ComposeTocText(TocMode::Lookup).queryText + QLatin1Char('\n') +
        (mb ? mb->discId : QString()) + QLatin1Char('\n'));
    if (!mb) std::fprintf(stderr, "albumora-cli: %s\n", qPrintable(mb.error().text()));
    return 0;
}


QString oneLine(QString text) { return text.replace(QLatin1Char('\r'), QLatin1Char(' ')); }

// The editor over the collection of the data folder, its settings read as the program reads them.
// The session of a command that edits the collection, with the edit flows over it.
struct EditSession {
    albumora::disc::Session session;
    TDM& dm = session.dm;
    albumora::settings::SettingsFile& file = session.settingsFile;
    albumora::settings::RunSettings& settings = session.settings;
    albumora::editing::AlbumEditor editor;

    explicit EditSession(const QString& folder)
        : session(folder), editor(dm, settings, file, session.genres, session.genresLoaded) {
        settings = file.read(nullptr);
        check(dm.EnsureCollectionFiles());
        check(dm.OpenCollectionTables());
    }
};

int cmdImport(const QString& folder, Args& args) {
    using namespace albumora::disc;
    using albumora::editing::PendingAlbum;
    const std::optional<QString> source = args.option(QStringLiteral("--source"));
    const std::optional<QString> artist = args.option(QStringLiteral("--artist"));
    const std::optional<QString> title = args.option(QStringLiteral("--title"));
    const std::optional<QString> genre = args.option(QStringLiteral("--genre"));
    if (!source) fail(QStringLiteral("import needs --source xmcd|numbered|unnumbered|amg|store|m3u|xspf"));
    const QString kind = source->toLower();
    static const QStringList kinds = {QStringLiteral("xmcd"), QStringLiteral("numbered"), QStringLiteral("unnumbered"),
                                      QStringLiteral("amg"),  QStringLiteral("store"),    QStringLiteral("m3u"),
                                      QStringLiteral("xspf")};
    if (!kinds.contains(kind)) fail(QStringLiteral("unknown source \"%1\"; one of %2").arg(*source, kinds.join(QLatin1Char(' '))));
    const QString path = args.take();
    args.done();
    if (!QFileInfo(path).isFile()) fail(QStringLiteral("no such file: %1").arg(path));

    EditSession s(folder);
    s.editor.LoadLists();
    s.editor.PrepareAddOther();
    PendingAlbum& a = s.editor.pending();
    const PendingAlbum before = a;

    static const std::map<QString, ImportSource> codes = {
        {QStringLiteral("xmcd"), ImportSource::CdDatabase}, {QStringLiteral("numbered"), ImportSource::Numbered},
        {QStringLiteral("unnumbered"), ImportSource::Unnumbered}, {QStringLiteral("amg"), ImportSource::Amg},
        {QStringLiteral("store"), ImportSource::Amazon}, {QStringLiteral("m3u"), ImportSource::Playlist},
        {QStringLiteral("xspf"), ImportSource::Playlist}};
    a.sys = SourceCode(codes.at(kind));

    ParseResult result;
    bool duplicate = false;
    if (kind == QLatin1String("m3u") || kind == QLatin1String("xspf")) {
        const PlaylistResult r = ImportPlaylist(QFileInfo(path).absoluteFilePath(), a, 0);
        // The playlist reader goes by what the file holds; a file of the other kind is a mistake.
        if (r.errors.isEmpty() && r.m3u != (kind == QLatin1String("m3u")))
            fail(QStringLiteral("%1 is not an %2 playlist").arg(path, kind.toUpper()));
        result = r;
    } else {
        const TextFile text = ReadTextFile(path);
        if (!text.error.isEmpty()) fail(text.error);
        if (kind == QLatin1String("xmcd")) {
            const XmcdResult r = ParseXmcdRecord(text.lines, a, [&s](const QString& id) -> Result<bool> {
                Cursor& albums = s.dm.tblFilter;
                albums.setFiltered(false);
                ALB_TRY(albums.setOrder(QStringLiteral("ID")));
                ALB_TRY(albums.open());
                return albums.findKey({id});
            });
            duplicate = r.duplicate;
            result = r;
        } else if (kind == QLatin1String("numbered")) {
            result = ParseNumberedList(text.lines, a);
        } else if (kind == QLatin1String("unnumbered")) {
            result = ParseUnnumberedList(text.lines, a);
        } else {
            result = ParseWebTrackList(text.lines, a, kind == QLatin1String("store"), false);
        }
    }
    // A source's complaint stores nothing: the one the window would show is the failure.
    if (duplicate) fail(importmsg::kDuplicate);
    if (!result.errors.isEmpty()) fail(result.errors.join(QLatin1Char(' ')));
    if (a.tracks.empty()) fail(QStringLiteral("%1 holds no tracks").arg(path));

    // The options fill what the source left empty; "Various" put in for the user to overtype
    // counts as empty.
    const auto fillIn = [](QString& field, const std::optional<QString>& given, bool placeholder) {
        if (given && (field.trimmed().isEmpty() || placeholder)) field = *given;
    };
    fillIn(a.artist, artist, a.selectArtist);
    fillIn(a.title, title, false);
    fillIn(a.genre, genre, a.genre == before.genre);

    CliPrompts prompts;
    prompts.answer = true;
    bool saved = false;
    {
        PromptsInstalled installed(prompts);
        saved = check(s.editor.Save());
    }
    for (const QString& q : prompts.questions) std::fprintf(stderr, "%s yes\n", oneLine(q).toLocal8Bit().constData());
    if (!saved) fail(prompts.errors.isEmpty() ? QStringLiteral("the album was not saved") : prompts.errors.join(QLatin1Char(' ')));
    out(a.albumId + QLatin1Char('\n'));
    return 0;
}

int cmdDelete(const QString& folder, Args& args) {
    const QString id = args.take();
    args.done();
    EditSession s(folder);
    check(s.dm.tblAlbums.setOrder(QStringLiteral("ID")));
    if (!check(s.dm.tblAlbums.findKey({id}))) fail(QStringLiteral("no album with the ID %1").arg(id));
    CliPrompts prompts;
    prompts.answer = true;
    {
        PromptsInstalled installed(prompts);
        if (!check(s.editor.DeleteCurrentAlbum())) fail(QStringLiteral("the album %1 was not deleted").arg(id));
    }
    out(QStringLiteral("Deleted %1\n").arg(id));
    return 0;
}

// --match N: the N-th of the server's match lines, counted from 1; without it the first. A
// number past the list chooses nothing (the lookup then ends as a cancelled choice does, its
// connection closed properly) and leaves the reason in *refusal.
std::function<int(const QStringList&)> matchChooser(std::optional<QString> match, QString* refusal) {
    int n = 1;
    if (match) {
        bool ok = false;
        n = match->toInt(&ok);
        if (!ok || n < 1) fail(QStringLiteral("--match needs a number from 1 up, not \"%1\"").arg(*match));
    }
    return [n, refusal](const QStringList& lines) {
        if (n <= lines.size()) return n - 1;
        *refusal = QStringLiteral("the server listed %1 matches, there is no match %2").arg(lines.size()).arg(n);
        return -1;
    };
}

void printLines(const QStringList& lines) {
    for (const QString& l : lines) out(l + QLatin1Char('\n'));
}

// --source: the Sources setting for this command; "all" asks both and offers their matches
// together.
void takeSource(Args& args, albumora::settings::RunSettings& settings) {
    const std::optional<QString> source = args.option(QStringLiteral("--source"));
    if (!source) return;
    const QString s = source->toLower();
    if (s == QLatin1String("all"))
        settings.sources = QStringLiteral("cddb+musicbrainz");
    else if (s == QLatin1String("cddb") || s == QLatin1String("musicbrainz"))
        settings.sources = s;
    else
        fail(QStringLiteral("--source needs cddb, musicbrainz or all, not \"%1\"").arg(*source));
}

// A release as the lines of a record: what the album would be filled with.
QStringList releaseLines(const albumora::editing::PendingAlbum& a) {
    QStringList lines = albumora::notes::SplitLines(a.notes);
    lines << QStringLiteral("DTITLE=") + a.artist + QStringLiteral(" / ") + a.title;
    lines << QStringLiteral("DYEAR=") + a.year;
    lines << QStringLiteral("DGENRE=") + a.genre;
    for (size_t i = 0; i < a.tracks.size(); ++i)
        lines << QStringLiteral("TTITLE%1=").arg(i) + a.tracks[i].title + QLatin1Char('\t') + a.tracks[i].time.trimmed();
    return lines;
}

int cmdLookup(const QString& folder, Args& args) {
    using namespace albumora::disc;
    QString refusal;
    const auto choose = matchChooser(args.option(QStringLiteral("--match")), &refusal);
    albumora::settings::SettingsFile file(folder);
    albumora::settings::RunSettings settings = file.read(nullptr);
    takeSource(args, settings);
    DiscInDrive disc(drivePath(folder, args), settings.protocol);

    albumora::editing::PendingAlbum album;
    const ComposedToc toc = disc.drive.ComposeTocText(TocMode::Lookup);
    for (const TrackRow& r : toc.rows) album.tracks.push_back({r.number, r.time, r.title});
    CliPrompts prompts;
    DiscLookupRequest request;
    request.sources = settings.sources;
    request.cddb = CddbConfigOf(settings);
    request.cddbQuery = QStringLiteral("cddb query ") + disc.state.currentDiscId + QLatin1Char(' ') + toc.queryText;
    request.mb = MbConfigOf(settings);
    if (const Result<MbDiscToc> mb = ComputeMbDiscId(disc.state.toc)) request.mbDisc = *mb;
    request.genreList = file.genreList();
    request.defaultGenre = settings.genre;
    // A lookup only shows what it found: no cover is fetched.
    request.covers = false;
    DiscLookupHooks hooks;
    hooks.choose = choose;
    hooks.message = [&prompts](const QString& t) { prompts.message(t); };
    hooks.error = [&prompts](const QString& t) { prompts.error(t); };
    const DiscLookupOutcome r = RunDiscLookup(request, album, hooks);
    printLines(!r.choices.isEmpty() ? r.choices : r.cddb.matchLines);
    if (!r.error.isEmpty()) fail(r.error);
    if (!refusal.isEmpty()) fail(refusal);
    if (r.notFound) fail(cddbmsg::kNotFound);
    if (r.cancelled) fail(QStringLiteral("no match was chosen"));
    if (r.source == SourceKind::MusicBrainz) {
        printLines(releaseLines(album));
        return 0;
    }
    if (!r.message.isEmpty()) fail(r.message);
    if (r.cddb.record.isEmpty()) fail(QStringLiteral("the server sent no record for the match"));
    printLines(r.cddb.record);
    return 0;
}

int cmdAddCd(const QString& folder, Args& args) {
    using namespace albumora::disc;
    QString refusal;
    const auto choose = matchChooser(args.option(QStringLiteral("--match")), &refusal);
    EditSession s(folder);
    takeSource(args, s.settings);
    DiscInDrive disc(drivePath(folder, args), s.settings.protocol, s.session.disc);
    s.settings.cdPath = disc.drive.settings().CDPath;

    CliPrompts prompts;
    prompts.answer = true;
    bool saved = false;
    AddCdHooks hooks;
    hooks.audioCdInDrive = [&disc] { return disc.drive.IsAudioCdInDrive(disc.drive.settings().CDPath); };
    hooks.readDisc = [] { return true; };  // read when the command started
    hooks.currentDiscId = [&disc] { return disc.state.currentDiscId; };
    hooks.lookupToc = [&disc] { return disc.drive.ComposeTocText(TocMode::Lookup); };
    hooks.discToc = [&disc] { return disc.state.toc; };
    hooks.findCdInCollection = [&disc, &s](bool messages) {
        const auto found = disc.drive.FindCdInCollection(s.dm, messages);
        return found.isOk() && *found;
    };
    hooks.chooseMatch = choose;
    // A match past the server's list stores nothing, where the window would show the TOC's rows.
    hooks.showEditForm = [&] {
        // Not thrown from here: the flow still has to clean up after a save that failed (a
        // cover fetched for the album).
        if (!refusal.isEmpty()) return;
        const Result<bool> r = s.editor.Save();
        if (r)
            saved = *r;
        else
            prompts.error(r.error().text());
    };
    AddCdFlow flow(s.dm, s.editor, s.settings, hooks);
    AddCdResult result;
    {
        PromptsInstalled installed(prompts);
        result = flow.run();
    }
    for (const QString& q : prompts.questions) std::fprintf(stderr, "%s yes\n", oneLine(q).toLocal8Bit().constData());
    if (result != AddCdResult::FormShown) fail(prompts.said());
    if (!refusal.isEmpty()) fail(refusal);
    if (!saved) fail(prompts.errors.isEmpty() ? QStringLiteral("the album was not saved") : prompts.errors.join(QLatin1Char(' ')));
    out(s.editor.pending().albumId + QLatin1Char('\n'));
    if (!flow.outcome().coverProblem.isEmpty())
        std::fprintf(stderr, "albumora-cli: no cover: %s\n", qPrintable(oneLine(flow.outcome().coverProblem)));
    return 0;
}

int cmdCover(const QString& folder, Args& args) {
    using namespace albumora::disc;
    const QString id = args.take();
    args.done();
    EditSession s(folder);
    out(check(FetchAlbumCover(s.dm, id, MbConfigOf(s.settings))) + QLatin1Char('\n'));
    return 0;
}

int cmdSubmit(const QString& folder, Args& args) {
    using namespace albumora::disc;
    EditSession s(folder);
    DiscInDrive disc(drivePath(folder, args), s.settings.protocol, s.session.disc);
    SubmitContext context{s.dm, disc.state};
    context.officialCategories = s.settings.officialGenres;
    context.settingsFile = &s.file;
    context.notSaved = [](QString message) {
        std::fprintf(stderr, "albumora-cli: %s\n", qPrintable(message.replace(QLatin1Char('\r'), QLatin1Char(' '))));
    };
    CliPrompts prompts;
    prompts.answer = true;
    Result<SubmitOutcome> outcome = SubmitOutcome::Refused;
    {
        PromptsInstalled installed(prompts);
        outcome = FreedbClick(context, [&disc, &s]() { return disc.drive.FindCdInCollection(s.dm, true); });
    }
    const SubmitOutcome done = check(std::move(outcome));
    if (done != SubmitOutcome::Submitted) fail(prompts.said());
    out(oneLine(submitmsg::kThankYou) + QLatin1Char('\n'));
    return 0;
}

}  // namespace

// The report writer's choices, as export and report take them.
struct ReportChoices {
    albumora::reports::SelectionRequest request;
    std::optional<QString> fieldList;
    bool withTracks = true;
    QString title;
};

ReportChoices reportChoices(Args& args) {
    using namespace albumora::reports;
    ReportChoices c;
    SelectionRequest& request = c.request;
    request.albumsFilter = args.option(QStringLiteral("--albums-filter")).value_or(QString());
    request.tracksFilter = args.option(QStringLiteral("--tracks-filter")).value_or(QString());
    const QString orderName = args.option(QStringLiteral("--order")).value_or(QStringLiteral("Artist"));
    const std::optional<Order> order = OrderNamed(orderName);
    if (!order) fail(QStringLiteral("unknown order \"%1\"; one of Artist Album Label Genre IX Natural").arg(orderName));
    request.order = *order;
    c.fieldList = args.option(QStringLiteral("--fields"));
    c.withTracks = !args.flag(QStringLiteral("--no-tracks"));
    c.title = args.option(QStringLiteral("--title")).value_or(QStringLiteral("My Music Collection"));
    return c;
}

// The fields asked for, as the album field chooser offers and spells them.
QStringList chosenFields(const ReportChoices& c, albumora::reports::OutputKind kind) {
    using namespace albumora::reports;
    QStringList fields = c.fieldList ? c.fieldList->split(QLatin1Char(','), Qt::SkipEmptyParts) : InitialAlbumFields(c.withTracks);
    const FieldChooser chooser = FieldChooser::forAlbums(kAlbumOutputFields, kind, c.withTracks);
    const QStringList offered = chooser.output() + chooser.available();
    for (QString& f : fields) {
        qsizetype at = -1;
        for (qsizetype i = 0; i < offered.size() && at < 0; ++i)
            if (offered[i].compare(f.trimmed(), Qt::CaseInsensitive) == 0) at = i;
        if (at < 0) fail(QStringLiteral("field \"%1\" is not offered; one of %2").arg(f.trimmed(), offered.join(QLatin1Char(' '))));
        f = offered[at];
    }
    if (fields.isEmpty()) fail(QStringLiteral("No output fields selected"));
    return fields;
}

int cmdExport(const QString& folder, Args& args) {
    using namespace albumora::reports;
    const QString kind = args.take().toLower();
    if (kind != QLatin1String("csv") && kind != QLatin1String("xml") && kind != QLatin1String("html"))
        fail(QStringLiteral("export needs csv, xml or html"));
    const ReportChoices choices = reportChoices(args);
    const SelectionRequest& request = choices.request;
    const std::optional<Order> order = request.order;
    const bool withTracks = choices.withTracks;
    const QString& title = choices.title;
    const QString outDir = QDir(folder).absoluteFilePath(args.option(QStringLiteral("--out")).value_or(folder));
    args.done();
    if (!QFileInfo(outDir).isDir()) fail(QStringLiteral("no such folder: %1").arg(outDir));
    if (kind == QLatin1String("html") && *order != Order::Artist && *order != Order::Album && *order != Order::Natural)
        fail(kWebPageOrderRefused);

    const QStringList fields = chosenFields(choices, kind == QLatin1String("csv") ? OutputKind::Csv : OutputKind::Xml);

    TDM dm(folder);
    check(dm.OpenCollectionTables());
    CliPrompts prompts;
    PromptsInstalled installed(prompts);
    Selection selection(dm);
    const bool any = check(selection.prepare(request));
    if (!any) fail(prompts.said().isEmpty() ? QStringLiteral("no album is selected") : prompts.said());
    if (kind == QLatin1String("html")) {
        WebPageRequest page;
        page.title = title;
        page.withTracks = withTracks;
        page.order = *order;
        page.path = QDir(outDir).filePath(kWebPageFileName);
        check(WriteWebPage(selection, page));
        out(QFileInfo(page.path).absoluteFilePath() + QLatin1Char('\n'));
        return 0;
    }
    DataFilesRequest files;
    files.kind = kind == QLatin1String("xml") ? FileKind::Xml : FileKind::Csv;
    files.fields = fields;
    files.withTracks = withTracks;
    files.folder = outDir;
    for (const QString& path : check(WriteDataFiles(selection, files))) out(path + QLatin1Char('\n'));
    return 0;
}

int cmdMaintain(const QString& folder, Args& args) {
    const bool zip = args.flag(QStringLiteral("--zip"));
    args.done();
    TDM dm(folder);
    check(dm.EnsureCollectionFiles());
    check(dm.OpenCollectionTables());
    const auto result = check(albumora::store::MaintainCollection(dm, zip));
    QString message = albumora::store::MaintenanceMessage(result, folder);
    out(message.replace(QLatin1Char('\r'), QLatin1Char('\n')) + QLatin1Char('\n'));
    return 0;
}

int cmdRestore(const QString& folder, Args& args) {
    const bool force = args.flag(QStringLiteral("--force"));
    const QString archive = args.take();
    args.done();
    for (const QString& name : check(albumora::store::RestoreCollection(folder, archive, force))) out(name + QLatin1Char('\n'));
    return 0;
}

int cmdReport(const QString& folder, Args& args) {
    using namespace albumora::reports;
    const QString kind = args.take().toLower();
    if (kind != QLatin1String("album") && kind != QLatin1String("artist") && kind != QLatin1String("media"))
        fail(QStringLiteral("report needs album, artist or media"));
    const ReportChoices choices = reportChoices(args);
    const std::optional<QString> pdf = args.option(QStringLiteral("--pdf"));
    args.done();
    if (!pdf) fail(QStringLiteral("report needs --pdf FILE"));
    LayoutInput in;
    in.title = choices.title;
    in.withTracks = choices.withTracks;
    in.albumsFilter = choices.request.albumsFilter;
    in.fields = kind == QLatin1String("artist") ? QStringList{QStringLiteral("ARTIST")}
                : kind == QLatin1String("media") ? QStringList{QStringLiteral("LABEL")}
                                                 : chosenFields(choices, OutputKind::Report);
    if (kind == QLatin1String("album") && LayoutFor(in.fields) != Layout::Album)
        fail(QStringLiteral("the fields %1 alone choose another report; ask for it by name").arg(in.fields.join(QLatin1Char(','))));
    albumora::settings::SettingsFile settingsFile(folder);
    if (settingsFile.ini().exists())
        in.mediaList = settingsFile.mediaList();
    else
        for (const auto& [key, value] : albumora::settings::firstRunMedia()) in.mediaList << value;

    TDM dm(folder);
    check(dm.OpenCollectionTables());
    CliPrompts prompts;
    PromptsInstalled installed(prompts);
    Selection selection(dm);
    // The artist list reads every artist whatever the filters; the others need a selection.
    if (kind != QLatin1String("artist") && !check(selection.prepare(choices.request)))
        fail(prompts.said().isEmpty() ? QStringLiteral("no album is selected") : prompts.said());
    const Document doc = check(ReportFor(selection, dm, in));
    if (doc.pages.empty()) fail(kNothingToPrint);
    const QString path = QFileInfo(*pdf).absoluteFilePath();
    check(WritePdf(doc, path));
    out(path + QLatin1Char('\n'));
    return 0;
}

int cmdTracks(const QString& folder, Args& args) {
    using namespace albumora::views;
    const QString kind = args.take().toLower();
    static const QStringList kinds = {QStringLiteral("csv"), QStringLiteral("xml"), QStringLiteral("dj"), QStringLiteral("dbf"),
                                      QStringLiteral("pdf")};
    if (!kinds.contains(kind)) fail(QStringLiteral("tracks needs csv, xml, dj, dbf or pdf"));
    const QString filter = args.option(QStringLiteral("--filter")).value_or(QString());
    const QString order = args.option(QStringLiteral("--order")).value_or(QStringLiteral("Track"));
    const std::optional<QString> fieldsOption = args.option(QStringLiteral("--fields"));
    const std::optional<QString> outOption = args.option(QStringLiteral("--out"));
    args.done();
    if (kind == QLatin1String("pdf") && !outOption) fail(QStringLiteral("tracks pdf needs --out FILE"));
    const QString outDir = QDir(folder).absoluteFilePath(outOption.value_or(folder));
    if ((kind == QLatin1String("csv") || kind == QLatin1String("xml")) && !QFileInfo(outDir).isDir())
        fail(QStringLiteral("no such folder: %1").arg(outDir));

    // The grid's columns unless told otherwise; the marked column is "x" (or "Marked").
    QStringList fields = {QStringLiteral("TRACK"), QStringLiteral("ARTIST"), QStringLiteral("ALBUM"), QStringLiteral("GENRE"),
                          QStringLiteral("YR"),    QStringLiteral("Time"),   QStringLiteral("x")};
    if (fieldsOption) {
        fields.clear();
        for (const QString& f : fieldsOption->split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString name = f.trimmed();
            if (name.compare(QLatin1String("marked"), Qt::CaseInsensitive) == 0 || name.compare(QLatin1String("x"), Qt::CaseInsensitive) == 0) {
                fields << QStringLiteral("x");
                continue;
            }
            const auto known = std::find_if(TrackViewFields().begin(), TrackViewFields().end(),
                                            [&](const QString& v) { return v.compare(name, Qt::CaseInsensitive) == 0; });
            if (known == TrackViewFields().end())
                fail(QStringLiteral("the tracks view has no field \"%1\"; it has %2").arg(name, TrackViewFields().join(QLatin1Char(','))));
            fields << *known;
        }
        if (fields.isEmpty()) fail(albumora::reports::kNoOutputFields);
    }

    TDM dm(folder);
    check(dm.OpenCollectionTables());
    TrackView view(dm);
    check(view.open([](const QString& s) { std::fprintf(stderr, "%s\n", s.toLocal8Bit().constData()); }));
    if (order.compare(QLatin1String("Track"), Qt::CaseInsensitive) != 0) {
        const bool known = order.compare(QLatin1String("Artist"), Qt::CaseInsensitive) == 0 ||
                           order.compare(QLatin1String("Album"), Qt::CaseInsensitive) == 0;
        if (!known) fail(QStringLiteral("tracks can be ordered by Track, Artist or Album"));
        check(view.titleClick(order));
    }
    if (!filter.isEmpty()) (void)check(view.setFilter(filter));
    QString path;
    if (kind == QLatin1String("csv") || kind == QLatin1String("xml"))
        path = check(view.writeFile(kind == QLatin1String("xml") ? FileOutput::Xml : FileOutput::Csv, fields, outDir, {}));
    else if (kind == QLatin1String("dj"))
        path = check(view.writeDjList({}));
    else if (kind == QLatin1String("dbf"))
        path = check(view.copyTable());
    else {
        const albumora::reports::Document doc = check(view.report(fields, {}));
        if (doc.pages.empty()) fail(albumora::reports::kNothingToPrint);
        path = QFileInfo(*outOption).absoluteFilePath();
        check(albumora::reports::WritePdf(doc, path));
    }
    out(path + QLatin1Char('\n'));
    return 0;
}

int cmdMarks(const QString& folder, Args& args) {
    const QString id = args.take();
    QStringList numbers;
    while (!args.empty()) {
        const QString n = args.take();
        if (n.startsWith(QLatin1String("--"))) fail(QStringLiteral("unexpected argument \"%1\"").arg(n));
        numbers << n;
    }
    TDM dm(folder);
    check(dm.EnsureCollectionFiles());
    check(dm.OpenCollectionTables());
    albumora::playlist::PlaylistBuilder builder;
    check(builder.Load(dm, id));
    check(builder.setMarks(numbers));
    check(builder.Confirm(dm));
    if (!builder.housekeeping()) std::fprintf(stderr, "albumora-cli: %s\n", oneLine(builder.housekeeping().text()).toLocal8Bit().constData());
    QStringList nrs;
    for (const QString& e : builder.marked()) nrs << albumora::playlist::PlaylistBuilder::EntryNr(e).trimmed();
    out(QStringLiteral("%1: %2 marked%3\n").arg(id).arg(nrs.size()).arg(nrs.isEmpty() ? QString() : QStringLiteral(" (") + nrs.join(QLatin1Char(' ')) + QLatin1Char(')')));
    return 0;
}

int cmdM3u(const QString& folder, Args& args) {
    const QString id = args.take();
    int from = 0;
    if (const auto f = args.option(QStringLiteral("--from"))) {
        bool ok = false;
        from = f->toInt(&ok);
        if (!ok || from < 1) fail(QStringLiteral("--from needs a track number from 1 up, not \"%1\"").arg(*f));
    }
    args.done();
    albumora::disc::Session session(folder);
    session.settings = session.settingsFile.read(nullptr);
    check(session.dm.EnsureCollectionFiles());
    check(session.dm.OpenCollectionTables());
    albumora::playlist::PlayFlow flow(session.dm, session.settings, {});
    out(check(flow.WriteFor(id, from)) + QLatin1Char('\n'));
    return 0;
}

int main(int argc, char** argv) {
    // Only the printed reports need fonts, and with them the GUI part of Qt (without a screen).
    bool painting = false;
    for (int i = 1; i < argc && !painting; ++i) painting = std::strcmp(argv[i], "report") == 0 || std::strcmp(argv[i], "pdf") == 0;
    if (painting && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A session without a desktop has no runtime folder; Qt's note about it is no business of
    // the command's output.
    static QtMessageHandler qtHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
        if (qtHandler) qtHandler(type, context, text);
    });
    std::unique_ptr<QCoreApplication> application =
        painting ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
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
            std::printf("albumora-cli %s\n", albumora::kVersionText);
            return 0;
        }
        QString dataOption;
        if (raw.first() == QLatin1String("--data") || raw.first().startsWith(QLatin1String("--data="))) {
            dataOption = *args.option(QStringLiteral("--data"));
        }
        const QString command = args.take();
        // The engine's own status texts (an index rebuilt when a read met a damaged page) go to
        // stderr, so they never mix with a query's rows.
        albumora::store::Table::setStatusReporter([](const QString& text) {
            if (!text.isEmpty()) std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        });
        // Commands that only read never create the folder they are pointed at.
        static const QStringList readers = {QStringLiteral("check"), QStringLiteral("query"), QStringLiteral("count")};
        const QString folder =
            check(ResolveDataFolder(dataOption, QCoreApplication::applicationDirPath(), !readers.contains(command)));
        static const std::map<QString, std::function<int(const QString&, Args&)>> commands = {
            {QStringLiteral("init"), cmdInit},   {QStringLiteral("check"), cmdCheck},
            {QStringLiteral("query"), cmdQuery}, {QStringLiteral("count"), cmdCount},
            {QStringLiteral("reindex"), cmdReindex}, {QStringLiteral("pack"), cmdPack},
            {QStringLiteral("import"), cmdImport},   {QStringLiteral("delete"), cmdDelete},
            {QStringLiteral("drives"), cmdDrives},   {QStringLiteral("discid"), cmdDiscId},
            {QStringLiteral("lookup"), cmdLookup},   {QStringLiteral("add-cd"), cmdAddCd},
            {QStringLiteral("cover"), cmdCover},
            {QStringLiteral("submit"), cmdSubmit},   {QStringLiteral("export"), cmdExport},
            {QStringLiteral("report"), cmdReport},   {QStringLiteral("maintain"), cmdMaintain},
            {QStringLiteral("tracks"), cmdTracks},
            {QStringLiteral("marks"), cmdMarks},     {QStringLiteral("m3u"), cmdM3u},
            {QStringLiteral("restore"), cmdRestore},
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
