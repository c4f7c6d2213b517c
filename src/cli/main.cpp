// albumora-cli: the command-line companion. It works on the same data folder as the desktop
// program, through the same table engine.
#include "Cddb.h"
#include "Cli.h"
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
using namespace albumora::cli;

namespace {

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

namespace {

const Commands& FlowCommands() {
    static const Commands commands = {
        {QStringLiteral("import"), cmdImport},   {QStringLiteral("delete"), cmdDelete},
        {QStringLiteral("drives"), cmdDrives},   {QStringLiteral("discid"), cmdDiscId},
        {QStringLiteral("lookup"), cmdLookup},   {QStringLiteral("add-cd"), cmdAddCd},
        {QStringLiteral("cover"), cmdCover},     {QStringLiteral("submit"), cmdSubmit},
        {QStringLiteral("export"), cmdExport},   {QStringLiteral("report"), cmdReport},
        {QStringLiteral("maintain"), cmdMaintain}, {QStringLiteral("tracks"), cmdTracks},
        {QStringLiteral("marks"), cmdMarks},     {QStringLiteral("m3u"), cmdM3u},
        {QStringLiteral("restore"), cmdRestore},
    };
    return commands;
}

}  // namespace

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
    // The network, the drive and the reports run in an event loop of their own.
    const std::unique_ptr<QCoreApplication> application =
        painting ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("albumora-cli"));
    return albumora::cli::Run(argc, argv, &FlowCommands());
}
