#include "AddCd.h"

#include "AlbumEditor.h"
#include "DMcd.h"
#include "Prompts.h"
#include "Settings.h"

#include <QFile>

namespace albumora::disc {

using store::Result;

CddbConfig CddbConfigOf(const settings::RunSettings& settings) {
    CddbConfig c;
    c.protocol = settings.protocol;
    c.host = settings.host;
    c.ssl = settings.ssl;
    const CddbGreeting greeting = ComposeGreeting(settings.mail);
    c.httpTail = greeting.httpTail;
    c.cddbpHello = greeting.cddbpHello;
    return c;
}

AddCdFlow::AddCdFlow(store::TDM& dm, editing::AlbumEditor& editor, const settings::RunSettings& settings, AddCdHooks hooks)
    : dm_(dm),
      editor_(editor),
      settings_(settings),
      hooks_(std::move(hooks)),
      config_(CddbConfigOf(settings)),
      mbConfig_(MbConfigOf(settings)) {}

void AddCdFlow::status(const QString& text) const {
    if (hooks_.status) hooks_.status(text);
}

void AddCdFlow::error(const QString& text) const {
    if (auto* p = platform::desktop().prompts) p->error(text);
}

AddCdResult AddCdFlow::run() {
    outcome_ = {};
    cdText_.reset();
    auto* prompts = platform::desktop().prompts;
    status(QStringLiteral("Checking for audio CD in drive ") + settings_.cdPath);
    if (!hooks_.audioCdInDrive || !hooks_.audioCdInDrive()) {
        if (prompts) prompts->message(addcdmsg::kNoCd + settings_.cdPath);
        status(QString());
        return AddCdResult::NoDisc;
    }

    status(QStringLiteral("Checking for existing entry for this CD"));
    editor_.LoadLists();
    editing::PendingAlbum& a = editor_.pending();
    a.mode = editing::EditMode::AddCd;
    a.caption = addcdmsg::kEditCaption;
    if (hooks_.readDisc) hooks_.readDisc();
    const QString discId = hooks_.currentDiscId ? hooks_.currentDiscId() : QString();
    a.sys = QLatin1Char('F');
    if (discId.isEmpty()) {
        // The drive said there is an audio CD, but its contents could not be read after all.
        if (prompts) prompts->message(addcdmsg::kNoCd + settings_.cdPath);
        status(QString());
        return AddCdResult::NoDisc;
    }

    // A disc of the collection never reaches the server.
    store::Cursor& albums = dm_.tblFilter;
    albums.setFiltered(false);
    store::Status st = albums.setOrder(QStringLiteral("ID"));
    if (st) st = albums.open();
    store::Result<bool> found = st ? albums.findKey({discId}) : store::Result<bool>(st);
    if (!found) {
        status(QString());
        error(found.error().text());
        return AddCdResult::Failed;
    }
    if (*found) {
        if (hooks_.findCdInCollection) hooks_.findCdInCollection(false);
        error(addcdmsg::kAlreadyStored);
        status(QString());
        return AddCdResult::AlreadyStored;
    }

    // The album the form shows when the database adds nothing: the TOC's rows and defaults.
    a.clear(settings_.genre);
    a.artist.clear();
    a.title.clear();
    a.selectArtist = false;
    a.albumId = discId;
    const ComposedToc toc = hooks_.lookupToc ? hooks_.lookupToc() : ComposedToc{};
    a.tracks.clear();
    for (const TrackRow& r : toc.rows) a.tracks.push_back({r.number, r.time, r.title});
    a.discLength = toc.discLength;
    // The disc's length is the album's total length in the edit form.
    a.runningSeconds = toc.discLength;
    const QString query = QStringLiteral("cddb query ") + discId.toLower() + QLatin1Char(' ') + toc.queryText;

    DiscLookupRequest request;
    request.sources = settings_.sources;
    request.cddb = config_;
    request.cddbQuery = query;
    request.mb = mbConfig_;
    if (hooks_.discToc) {
        Result<MbDiscToc> mbDisc = ComputeMbDiscId(hooks_.discToc());
        if (mbDisc) request.mbDisc = *mbDisc;
    }
    request.genreList = editor_.genreList();
    request.defaultGenre = settings_.genre;
    request.covers = settings_.covers;
    request.dataFolder = settings_.programFolder;
    DiscLookupHooks lookupHooks;
    lookupHooks.status = hooks_.status;
    lookupHooks.choose = hooks_.chooseMatch;
    lookupHooks.message = [prompts](const QString& t) {
        if (prompts) prompts->message(t);
    };
    lookupHooks.error = [prompts](const QString& t) {
        if (prompts) prompts->error(t);
    };
    outcome_ = RunDiscLookup(request, a, lookupHooks);
    status(QString());

    AddCdResult result = AddCdResult::LookupFailed;
    // When the database cannot be reached the disc can still be entered as an unknown one.
    const bool unreachable = !outcome_.notFound && !outcome_.showForm && !outcome_.cancelled;
    const bool enterByHand = unreachable && hooks_.showImport && prompts && prompts->confirm(addcdmsg::kEnterInstead);
    if (outcome_.notFound || enterByHand) {
        if (outcome_.notFound) result = AddCdResult::NotFound;
        a.setTrackCount(int(toc.rows.size()));
        // What the disc says of itself is better than nothing to start from.
        if (hooks_.cdText) cdText_ = hooks_.cdText();
        if (cdText_) ApplyCdText(*cdText_, a);
        editor_.resetSaved();
        if (hooks_.showImport) hooks_.showImport(int(toc.rows.size()));
        // Albums entered by hand or from a pasted record may go back to the database; the
        // "Track n" titles of the TOC are nothing to contribute.
        if (editor_.saved() && (a.sys == QLatin1Char('F') || a.sys == QLatin1Char('M')) && !a.tracks.empty() &&
            !a.tracks.front().title.startsWith(QLatin1String("Track ")) && prompts && prompts->confirm(addcdmsg::kContribute) &&
            hooks_.contribute)
            hooks_.contribute();
    } else if (outcome_.showForm) {
        result = AddCdResult::FormShown;
        editor_.resetSaved();
        // A cover fetched for an album that is not kept is not kept either, however the form
        // ends.
        struct CoverGuard {
            const editing::AlbumEditor& editor;
            QString path;
            ~CoverGuard() {
                if (!editor.saved() && !path.isEmpty()) QFile::remove(path);
            }
        } guard{editor_, outcome_.coverPath};
        if (hooks_.showEditForm) hooks_.showEditForm();
    }

    const store::Status flushed = dm_.FlushCollection();
    if (!flushed) {
        error(flushed.text());
        return AddCdResult::Failed;
    }
    return result;
}

}  // namespace albumora::disc
