#include "DiscLookup.h"

#include "AlbumNotes.h"
#include "DMcd.h"
#include "NotesTags.h"
#include "Settings.h"

#include <QFile>

namespace albumora::disc {

using store::ErrorKind;
using store::Result;
using store::Status;

Result<std::vector<std::vector<SourceKind>>> ParseSources(const QString& text) {
    std::vector<std::vector<SourceKind>> steps;
    QString t = store::trimControl(text).toLower();
    if (t.isEmpty()) t = QStringLiteral("cddb,musicbrainz");
    if (t == QLatin1String("all")) t = QStringLiteral("cddb+musicbrainz");
    bool seenCddb = false, seenMb = false;
    for (const QString& step : t.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        std::vector<SourceKind> together;
        for (const QString& raw : step.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
            const QString name = raw.trimmed();
            if (name == QLatin1String("cddb") || name == QLatin1String("freedb") || name == QLatin1String("gnudb")) {
                if (seenCddb) continue;
                seenCddb = true;
                together.push_back(SourceKind::Cddb);
            } else if (name == QLatin1String("musicbrainz") || name == QLatin1String("mb")) {
                if (seenMb) continue;
                seenMb = true;
                together.push_back(SourceKind::MusicBrainz);
            } else {
                return Status(ErrorKind::InvalidArgument,
                              QStringLiteral("The lookup source \"%1\" is unknown; the sources are cddb and musicbrainz.").arg(name));
            }
        }
        if (!together.empty()) steps.push_back(together);
    }
    if (steps.empty()) return Status(ErrorKind::InvalidArgument, QStringLiteral("No lookup source is set."));
    return steps;
}

MbConfig MbConfigOf(const settings::RunSettings& settings) {
    MbConfig c;
    if (!store::trimControl(settings.musicBrainz).isEmpty()) c.base = store::trimControl(settings.musicBrainz);
    if (!store::trimControl(settings.coverArt).isEmpty()) c.coverArtBase = store::trimControl(settings.coverArt);
    c.web.userAgent = ComposeUserAgent(settings.mail);
    return c;
}

Result<QString> AddFrontCover(const MbConfig& config, const QString& mbid, const QString& dataFolder, editing::PendingAlbum& album) {
    Result<std::optional<CoverImage>> image = FetchFrontCover(config, mbid);
    if (!image) return image.error();
    if (!*image) return Status(ErrorKind::NotFound, QStringLiteral("The Cover Art Archive has no front cover of the release."));
    Result<QString> path = StoreCover(dataFolder, album.albumId, **image);
    if (!path) return path;
    album.notes += (album.notes.isEmpty() ? QString() : QStringLiteral("\r\n")) + QStringLiteral("COVER=") + *path;
    return path;
}

namespace {

// The notes of the album, read by a cursor of its own (the grids keep their rows).
Status openAlbum(store::TDM& dm, store::Cursor& albums, const QString& albumId) {
    albums.setTablePath(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
    ALB_TRY(albums.setOrder(QStringLiteral("ID")));
    ALB_TRY(albums.open(store::OpenMode::Shared));
    ALB_ASSIGN_OR_RETURN(const bool found, albums.findKey({albumId}));
    if (!found) return Status(ErrorKind::NotFound, QStringLiteral("There is no album with the ID %1.").arg(albumId));
    return Status::ok();
}

}  // namespace

Result<QString> FetchAlbumCover(store::TDM& dm, const QString& albumId, const MbConfig& config) {
    QString mbid;
    {
        store::Cursor albums;
        ALB_TRY(openAlbum(dm, albums, albumId));
        ALB_ASSIGN_OR_RETURN(const QString notes, albums.readText(QStringLiteral("Notes")));
        mbid = notes::FindLastTagged(notes::SplitLines(notes), kMbidTag).trimmed();
    }
    if (mbid.isEmpty())
        return Status(ErrorKind::NotFound, QStringLiteral("The album %1 has no MusicBrainz release (no %2 line in its notes).").arg(albumId, kMbidTag));
    ALB_ASSIGN_OR_RETURN(const std::optional<CoverImage> image, FetchFrontCover(config, mbid));
    if (!image) return Status(ErrorKind::NotFound, QStringLiteral("The Cover Art Archive has no front cover of the release."));
    ALB_ASSIGN_OR_RETURN(const QString path, StoreCover(dm.dataFolder(), albumId, *image));

    ALB_TRY(editing::RewriteAlbumNotes(
        dm, albumId,
        [&](const QString& notes) -> std::optional<QString> {
            if (notes::FindLastTagged(notes::SplitLines(notes), notes::kCover) == path) return std::nullopt;
            // Appended as it is: the notes' own line breaks (a lyric block's lone CR) stay untouched.
            return notes + (notes.isEmpty() ? QString() : QStringLiteral("\r\n")) + notes::kCover + path;
        },
        {QStringLiteral("There is no album with the ID %1.").arg(albumId), QString()}));
    return path;
}

namespace {

struct MbFound {
    mb::Release release;
    int medium = -1;
};

class Run {
public:
    Run(const DiscLookupRequest& request, editing::PendingAlbum& album, const DiscLookupHooks& hooks, DiscLookupOutcome& out)
        : rq_(request), album_(album), hooks_(hooks), out_(out), client_(request.mb) {}

    void go();

private:
    void status(const QString& t) const {
        if (hooks_.status) hooks_.status(t);
    }
    // One step; true when it ended the lookup (a match read, a choice cancelled, a failure of
    // a match already chosen).
    bool step(const std::vector<SourceKind>& sources);
    void askMusicBrainz(std::vector<MbFound>& found);
    QStringList mbLines(const std::vector<MbFound>& found) const;
    // Reads the release whole when the disc answer lacked its tracks, then fills the album.
    bool takeRelease(MbFound chosen);

    const DiscLookupRequest& rq_;
    editing::PendingAlbum& album_;
    const DiscLookupHooks& hooks_;
    DiscLookupOutcome& out_;
    MbClient client_;
    QStringList errors_;
    QStringList messages_;
    bool anyNotFound_ = false;
};

void Run::askMusicBrainz(std::vector<MbFound>& found) {
    if (!rq_.mbDisc) {
        anyNotFound_ = true;
        return;
    }
    status(QStringLiteral("Searching MusicBrainz ..."));
    Result<std::optional<mb::DiscAnswer>> answer = client_.lookupDisc(*rq_.mbDisc);
    if (!answer) {
        errors_ << answer.error().text();
        return;
    }
    if (!*answer) {
        anyNotFound_ = true;
        return;
    }
    for (mb::Release& r : (*answer)->releases) {
        const int medium = MediumForDisc(r, rq_.mbDisc->discId, rq_.mbDisc->audioTracks);
        found.push_back({std::move(r), medium});
    }
}

QStringList Run::mbLines(const std::vector<MbFound>& found) const {
    QStringList lines;
    for (const MbFound& f : found) lines << MbChoiceLine(f.release, f.medium);
    return lines;
}

bool Run::takeRelease(MbFound chosen) {
    const bool complete = [&] {
        if (chosen.medium < 0) return false;
        const mb::Medium& m = chosen.release.media[size_t(chosen.medium)];
        return !m.tracks.empty() && !chosen.release.artist.isEmpty();
    }();
    if (!complete) {
        status(QStringLiteral("Loading ..."));
        Result<mb::Release> full = client_.lookupRelease(chosen.release.id);
        if (!full) {
            out_.error = full.error().text();
            if (hooks_.error) hooks_.error(out_.error);
            return true;
        }
        chosen.release = std::move(*full);
        chosen.medium = MediumForDisc(chosen.release, rq_.mbDisc ? rq_.mbDisc->discId : QString(),
                                      rq_.mbDisc ? rq_.mbDisc->audioTracks : 0);
    }
    editing::PendingAlbum work = album_;
    // A release without a genre the list knows, for a user without a default genre, is filed
    // where the CD database files what it cannot place.
    const QString fallbackGenre = store::trimControl(rq_.defaultGenre).isEmpty() ? QStringLiteral("misc") : rq_.defaultGenre;
    FillFromRelease(chosen.release, chosen.medium, rq_.mbDisc ? rq_.mbDisc->discId : QString(), rq_.genreList, fallbackGenre,
                    work);
    if (rq_.covers) {
        status(QStringLiteral("Loading cover ..."));
        Result<QString> cover = AddFrontCover(rq_.mb, chosen.release.id, rq_.dataFolder, work);
        if (cover)
            out_.coverPath = *cover;
        else
            out_.coverProblem = cover.error().text();
    }
    album_ = std::move(work);
    out_.source = SourceKind::MusicBrainz;
    out_.release = std::move(chosen.release);
    out_.medium = chosen.medium;
    out_.showForm = true;
    return true;
}

bool Run::step(const std::vector<SourceKind>& sources) {
    std::vector<MbFound> mbFound;
    const bool withCddb = std::find(sources.begin(), sources.end(), SourceKind::Cddb) != sources.end();
    const bool withMb = std::find(sources.begin(), sources.end(), SourceKind::MusicBrainz) != sources.end();
    const bool mbFirst = withMb && sources.front() == SourceKind::MusicBrainz;
    if (withMb) askMusicBrainz(mbFound);

    if (withCddb) {
        // The CD database's matches are offered with MusicBrainz's in one chooser; a choice of
        // a release ends the CD database's part as a cancelled choice does, its link closed.
        std::optional<int> mbChoice;
        bool chooserCancelled = false;
        bool cddbChosen = false;  // the user picked one of the CD database's lines
        LookupHooks lh;
        lh.status = hooks_.status;
        lh.alwaysChoose = !mbFound.empty();
        lh.choose = [&](const QStringList& cddbLines) -> int {
            const QStringList mine = mbLines(mbFound);
            QStringList shown;
            const bool mixed = !mine.isEmpty();
            QStringList cddbShown;
            for (const QString& l : cddbLines) cddbShown << (mixed ? QStringLiteral("CD database: ") + l : l);
            shown = mbFirst ? mine + cddbShown : cddbShown + mine;
            out_.choices = shown;
            int index = 0;
            if (shown.size() > 1) index = hooks_.choose ? hooks_.choose(shown) : -1;
            if (index < 0 || index >= shown.size()) {
                chooserCancelled = true;
                return -1;
            }
            const int mbStart = mbFirst ? 0 : int(cddbLines.size());
            if (mixed && index >= mbStart && index < mbStart + mine.size()) {
                mbChoice = index - mbStart;
                return -1;
            }
            cddbChosen = shown.size() > 1;
            return mbFirst && mixed ? index - int(mine.size()) : index;
        };
        editing::PendingAlbum work = album_;
        out_.cddb = RunLookup(rq_.cddb, rq_.cddbQuery, work, lh);
        if (mbChoice) return takeRelease(std::move(mbFound[size_t(*mbChoice)]));
        if (chooserCancelled || out_.cddb.cancelled) {
            out_.cancelled = true;
            return true;
        }
        if (!out_.cddb.error.isEmpty() && cddbChosen) {
            // The match the user chose could not be read: that is the news, not the others.
            out_.error = out_.cddb.error;
            if (hooks_.error) hooks_.error(out_.error);
            return true;
        }
        if (!out_.cddb.error.isEmpty()) {
            errors_ << out_.cddb.error;
        } else if (!out_.cddb.message.isEmpty() && !out_.cddb.notFound) {
            messages_ << out_.cddb.message;
        } else if (out_.cddb.notFound) {
            anyNotFound_ = true;
        } else if (out_.cddb.showForm) {
            album_ = std::move(work);
            out_.source = SourceKind::Cddb;
            out_.showForm = true;
            return true;
        }
    }

    if (mbFound.empty()) return false;
    // MusicBrainz alone (the CD database knew nothing, or was not asked).
    const QStringList lines = mbLines(mbFound);
    out_.choices = lines;
    int index = 0;
    if (lines.size() > 1) index = hooks_.choose ? hooks_.choose(lines) : -1;
    if (index < 0 || index >= lines.size()) {
        out_.cancelled = true;
        return true;
    }
    return takeRelease(std::move(mbFound[size_t(index)]));
}

void Run::go() {
    Result<std::vector<std::vector<SourceKind>>> steps = ParseSources(rq_.sources);
    if (!steps) {
        out_.error = steps.error().text();
        if (hooks_.error) hooks_.error(out_.error);
        return;
    }
    for (const auto& s : *steps)
        if (step(s)) {
            out_.unreachable = errors_ + messages_;
            status(QString());
            return;
        }
    status(QString());
    // Nothing found anywhere. A source that answered that it does not know the disc is the
    // news (the disc is then entered another way); the failures of the others are kept for
    // whoever wants to say more. Only when no source answered is the failure shown.
    out_.unreachable = errors_ + messages_;
    if (anyNotFound_) {
        out_.notFound = true;
        out_.message = cddbmsg::kNotFound;
        if (hooks_.message) hooks_.message(out_.message);
        album_.artist.clear();
        album_.title.clear();
    } else if (!errors_.isEmpty()) {
        out_.error = errors_.join(QStringLiteral("\r"));
        if (hooks_.error) hooks_.error(out_.error);
    } else if (!messages_.isEmpty()) {
        out_.message = messages_.join(QStringLiteral("\r"));
        if (hooks_.message) hooks_.message(out_.message);
    }
}

}  // namespace

DiscLookupOutcome RunDiscLookup(const DiscLookupRequest& request, editing::PendingAlbum& album, const DiscLookupHooks& hooks) {
    DiscLookupOutcome out;
    Run run(request, album, hooks, out);
    run.go();
    return out;
}

}  // namespace albumora::disc
