#include "ImportFlow.h"

#include "DMcd.h"
#include "DiscServices.h"
#include "DiscDrive.h"
#include "Prompts.h"

namespace albumora::disc {

using editing::EditMode;
using editing::PendingAlbum;

void ImportContext::useDisc(const DiscServices& services, DiscState& state) {
    audioCdInDrive = services.audioCdInDrive;
    readDisc = services.readDisc;
    currentDiscId = services.currentDiscId;
    discTrackCount = [&state] { return int(state.toc.trackCount); };
    setCurrentDiscId = [&state](const QString& id) { state.currentDiscId = id; };
    setDiscLength = [&state](int seconds) { state.discLength = seconds; };
}

ImportFlow::ImportFlow(ImportContext& context) : ctx_(context) {}

void ImportFlow::setSource(ImportSource source) {
    source_ = source;
    if (ctx_.album) ctx_.album->sys = SourceCode(source);
}

int ImportFlow::discTrackCount() const { return ctx_.discTrackCount ? ctx_.discTrackCount() : 0; }

void ImportFlow::showErrors(const QStringList& errors) const {
    auto* p = platform::desktop().prompts;
    for (const QString& e : errors)
        if (p) p->error(e);
}

void ImportFlow::showEditForm() {
    editFormShown_ = true;
    if (ctx_.showEditForm) ctx_.showEditForm();
}

store::Result<bool> ImportFlow::albumExists(const QString& id) {
    if (!ctx_.dm) return false;
    store::Cursor& filter = ctx_.dm->tblFilter;
    filter.setFiltered(false);
    ALB_TRY(filter.setOrder(QStringLiteral("ID")));
    ALB_TRY(filter.open());
    return filter.findKey({id});
}

void ImportFlow::makeAlbumCurrent(const QString& id) {
    if (!ctx_.dm) return;
    store::Cursor& albums = ctx_.dm->tblAlbums;
    const QString order = albums.order();
    store::Status st = albums.setOrder(QStringLiteral("ID"));
    if (st) {
        const auto seek = albums.findKey({id});
        if (!seek) st = seek.error();
    }
    const store::Status restored = albums.setOrder(order);
    if (st) st = restored;
    if (!st) {
        showErrors({st.text()});
        return;
    }
    if (ctx_.albumMadeCurrent) ctx_.albumMadeCurrent(id);
}

bool ImportFlow::currentTrackHasNoTime() const {
    if (!ctx_.dm || !ctx_.dm->tblTracks.isOpen() || ctx_.dm->tblTracks.isEmpty()) return false;
    return ctx_.dm->tblTracks.integer(QStringLiteral("Secs")) == 0;
}

ImportStep ImportFlow::paste(const QString& clipboardText) {
    if (!ctx_.album) return {};
    std::optional<QStringList> split = SplitPastedText(clipboardText);
    if (!split) {
        pasted_.clear();
        showErrors({TooMuchTextMessage(clipboardText.size())});
        return {};
    }
    // Kept as lines, not in a text control: a page of a million empty lines must not become a
    // document of a million blocks.
    pasted_ = std::move(*split);
    const QStringList lines = pasted_;
    if (lines.size() < 2) {
        showErrors({importmsg::kNotCopied});
        pasted_.clear();
        return {};
    }

    PendingAlbum& a = album();
    // A refused text leaves the pending album as the import found it.
    const PendingAlbum before = a;
    if (a.mode == EditMode::AddCd || a.mode == EditMode::NewAlbum) {
        a.artist.clear();
        a.title.clear();
    }

    ParseResult result;
    std::optional<XmcdResult> record;
    switch (source_) {
    case ImportSource::None:
        a = before;
        showErrors({importmsg::kNoSource});
        return {};
    case ImportSource::CdDatabase:
        record = ParseXmcdRecord(lines, a, [this](const QString& id) { return albumExists(id); });
        result = *record;
        break;
    case ImportSource::Amg:
    case ImportSource::Amazon:
        result = ParseWebTrackList(lines, a, source_ == ImportSource::Amazon, a.mode == EditMode::Modify && currentTrackHasNoTime());
        break;
    case ImportSource::Numbered:
        result = ParseNumberedList(lines, a);
        break;
    case ImportSource::Unnumbered:
        result = ParseUnnumberedList(lines, a);
        break;
    case ImportSource::Manual:
    case ImportSource::Playlist:
        break;  // they acted when their buttons were pressed
    }

    if (result.refused) {
        a = before;
        showErrors(result.errors);
        return {};
    }
    ImportStep step{true, true, result.collected};
    if (record) {
        if (record->discLength && ctx_.setDiscLength) ctx_.setDiscLength(*record->discLength);
        if (record->discId && ctx_.setCurrentDiscId) ctx_.setCurrentDiscId(*record->discId);
        duplicate_ = record->duplicate;
    }
    showErrors(result.errors);
    // A record of a disc already stored: that album becomes current, and nothing is added.
    if (record && record->duplicate && record->discId) makeAlbumCurrent(*record->discId);
    if (result.clearText) pasted_.clear();
    if (!duplicate_ && (a.mode == EditMode::AddCd || a.mode == EditMode::NewAlbum)) showEditForm();
    return step;
}

ImportStep ImportFlow::enterByHand() {
    if (!ctx_.album || album().mode == EditMode::Modify) return {};
    int count = 0;
    if (album().mode == EditMode::NewAlbum) {
        auto* p = platform::desktop().prompts;
        if (!p) return {};
        for (;;) {
            const std::optional<QString> entry =
                p->input(QStringLiteral("Total Tracks Entry Form"), QStringLiteral("Enter Total Number of Tracks"), QStringLiteral("1"));
            // Cancelling the question cancels the manual entry; the window stays as it was.
            if (!entry) return {};
            const TrackCountEntry e = ParseTrackCount(*entry);
            if (e.error.isEmpty()) {
                count = e.count;
                break;
            }
            p->error(e.error);
        }
    }
    setSource(ImportSource::Manual);
    ApplyManualEntry(album(), count, discTrackCount());
    if (ctx_.cdText && album().mode == EditMode::AddCd) {
        ApplyCdText(*ctx_.cdText, album());
        album().selectArtist = false;
    }
    showEditForm();
    album().selectArtist = false;
    return {true, false, {}};
}

ImportStep ImportFlow::importPlaylist() {
    if (!ctx_.album || album().mode == EditMode::Modify) return {};
    auto* p = platform::desktop().prompts;
    if (!p) return {};
    const QString start = ctx_.settings ? ctx_.settings->clipsDir : QString();
    const std::optional<QString> path = p->openFile(kPlaylistDialogTitle, start, kPlaylistDialogFilter);
    if (!path || path->isEmpty()) return {};

    const PlaylistResult r = ImportPlaylist(*path, album(), discTrackCount());
    showErrors(r.errors);
    if (r.refused) return {};
    source_ = ImportSource::Playlist;
    ImportStep step{false, true, r.collected};
    if (!r.errors.isEmpty()) return step;

    // The next playlist dialog starts in this one's folder.
    if (ctx_.settings && !SameFolder(r.folder, ctx_.settings->clipsDir)) {
        ctx_.settings->clipsDir = r.folder;
        if (ctx_.settingsFile && !ctx_.settingsFile->save(*ctx_.settings, settings::Key::ClipsDir))
            p->error(ctx_.settingsFile->ini().notSavedMessage());
    }

    // The disc in the drive with as many tracks may be the playlist's album: linked, the album
    // is stored under the disc's ID as if it had come from the drive.
    if (album().mode == EditMode::NewAlbum && ctx_.audioCdInDrive && ctx_.readDisc && ctx_.audioCdInDrive() && ctx_.readDisc() &&
        discTrackCount() == r.trackCount) {
        if (p->confirm(importmsg::kLinkToDisc)) {
            const QString id = ctx_.currentDiscId ? ctx_.currentDiscId() : QString();
            const store::Result<bool> stored = albumExists(id);
            if (!stored) {
                showErrors({stored.error().text()});
                return step;
            }
            if (!*stored) {
                album().mode = EditMode::AddCd;
                album().albumId = id;
            }
        }
    }
    showEditForm();
    step.done = true;
    return step;
}

}  // namespace albumora::disc
