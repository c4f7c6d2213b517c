#include "AlbumEditor.h"

#include "Codepage.h"
#include "File.h"
#include "NotesTags.h"
#include "Prompts.h"

#include <QDir>
#include <QFileInfo>

namespace albumora::editing {

using store::Cursor;
using store::Status;

namespace {

QString selection(const QString& id) { return QStringLiteral("ID=\"") + id + QLatin1Char('"'); }

// One album's rows. On an order whose key starts with the ID (ID, ID+NR) a scope walks only
// those rows instead of the whole table: an import into 100,000 albums otherwise reads every
// artist row. The filter keeps the selection exact on any order.
Status selectAlbum(Cursor& c, const QString& id) {
    c.setFiltered(true);
    ALB_TRY(c.setFilter(selection(id)));
    c.clearScope();
    const store::Table::Tag* tag = c.table() ? c.table()->tag(c.order()) : nullptr;
    const int idField = c.fieldIndex(QStringLiteral("ID"));
    if (tag && idField >= 0 && c.fieldType(idField) == 'C') {
        const QString key = tag->keyExpr.trimmed().toUpper();
        if (key == QLatin1String("ID") || key.startsWith(QLatin1String("ID+"))) {
            const QString exact = id.leftJustified(c.fieldWidth(idField), QLatin1Char(' '), true);
            // A tag the index cannot serve now (it lags or failed a repair) leaves the cursor in
            // file order: then the filter alone selects, as it always did.
            if (!c.setScope(exact, exact)) c.clearScope();
        }
    }
    return {};
}

void releaseAlbum(Cursor& c) {
    c.setFiltered(false);
    c.clearScope();
}

Status openShared(Cursor& c, const QString& order) {
    c.close();
    ALB_TRY(c.setOrder(order));
    return c.open(store::OpenMode::Shared);
}

// Steps that each run whatever the ones before them did: the first failure is the one told.
void keepFirst(Status& first, const Status& next) {
    if (first && !next) first = next;
}

// Work after a write has landed never undoes it; what fails there is shown instead.
void tell(const Status& st) {
    if (!st)
        if (auto* prompts = platform::desktop().prompts) prompts->error(st.text());
}

}  // namespace

AlbumEditor::AlbumEditor(store::TDM& dm, settings::RunSettings& settings, settings::SettingsFile& file, QStringList& genreList,
                         int& genreListLoadedCount)
    : dm_(dm), settings_(settings), file_(file), genres_(genreList), genresLoaded_(genreListLoadedCount) {}

int AlbumEditor::SecondsOfTime(const QString& cell) {
    const qsizetype p = cell.indexOf(QLatin1Char(':'));
    if (p < 0) return 0;
    bool okMin = true, okSec = true;
    const QString minutes = cell.mid(std::max<qsizetype>(0, p - 2), std::min<qsizetype>(2, p)).trimmed();
    const int m = minutes.isEmpty() ? 0 : minutes.toInt(&okMin);
    const int s = cell.mid(p + 1, 2).toInt(&okSec);
    // A cell that is not "m:ss" stores no length rather than a wrong one.
    if (!okMin || !okSec || m < 0 || s < 0) return 0;
    return m * 60 + s;
}

QString AlbumEditor::IndexText(const QString& index) {
    QString t = index;
    while (!t.isEmpty() && t.back().unicode() <= ' ') t.chop(1);
    return t.rightJustified(6, QLatin1Char(' '), true);
}

QString AlbumEditor::MediaCode(const QString& media) { return media.left(2); }

void AlbumEditor::LoadLists() {
    QStringList genres = file_.genreList();
    genresLoaded_ = int(genres.size());
    // Genres typed with albums saved earlier in this session are written at shutdown; reading
    // the file again must not forget them.
    for (const QString& g : std::as_const(genres_))
        if (!genres.contains(g)) genres << g;
    genres.sort(Qt::CaseInsensitive);
    genres_ = genres;
    media_ = file_.mediaList();
}

void AlbumEditor::PrepareAddOther() {
    LoadLists();
    pending_ = PendingAlbum();
    pending_.mode = EditMode::NewAlbum;
    pending_.caption = QStringLiteral("Albumora - Edit Form [New Album (not in CD-ROM drive)]");
    pending_.clear(settings_.genre);
}

Status AlbumEditor::PrepareModify() {
    LoadLists();
    Cursor& a = dm_.tblAlbums;
    if (a.isEmpty()) return Status(store::ErrorKind::NotFound, QStringLiteral("There is no current album"));
    pending_ = PendingAlbum();
    pending_.sys = a.text(QStringLiteral("SYS")).isEmpty() ? QLatin1Char(' ') : a.text(QStringLiteral("SYS")).at(0);
    suggestedPick_ = 0;
    pending_.mode = EditMode::Modify;
    pending_.artist = a.text(QStringLiteral("ARTIST"));
    pending_.title = a.text(QStringLiteral("ALBUM"));
    pending_.label = a.text(QStringLiteral("LABEL"));
    pending_.genre = a.text(QStringLiteral("GENRE"));
    // Shown as Add shows it, the list's entry for the stored code ("LD (local drive)"); the save
    // stores its first two letters again.
    pending_.media = a.text(QStringLiteral("MEDIA"));
    for (const QString& entry : std::as_const(media_))
        if (!pending_.media.isEmpty() && entry.startsWith(pending_.media.left(2))) {
            pending_.media = entry;
            break;
        }
    pending_.index = a.text(QStringLiteral("IX"));
    pending_.year = a.text(QStringLiteral("YR"));
    pending_.rev = a.text(QStringLiteral("Rev"));
    // Notes that cannot be read must not come back as empty notes, which the save would store.
    auto notes = a.readText(QStringLiteral("Notes"));
    if (!notes) {
        pending_ = PendingAlbum();
        return Status(notes.error().kind(),
                      QStringLiteral("The notes of this album cannot be read, so it cannot be modified:\r") + notes.error().text(),
                      notes.error().file(), notes.error().offset());
    }
    pending_.notes = *notes;
    pending_.albumId = a.text(QStringLiteral("ID"));
    pending_.caption = QStringLiteral("Albumora - Edit Form [Modify Album]");
    Cursor& cd = dm_.tblCD;
    if (!cd.isOpen()) ALB_TRY(openShared(cd, QStringLiteral("Tracks")));
    Status st = selectAlbum(cd, pending_.albumId);
    if (st) st = cd.first();
    int running = 0;
    int m = 0;
    while (st && !cd.eof() && !cd.isEmpty()) {
        const qint64 secs = cd.integer(QStringLiteral("Secs"));
        pending_.tracks.push_back({store::TDM::PadNumber(++m, 3), store::TDM::FormatTrackTime(secs, 2), cd.text(QStringLiteral("TRACK"))});
        if (secs > 0) running += int(secs) + 2;
        st = cd.next();
    }
    if (running > 2) running -= 2;
    pending_.runningSeconds = running;
    releaseAlbum(cd);
    return st;
}

store::Result<bool> AlbumEditor::Save() {
    auto* prompts = platform::desktop().prompts;
    PendingAlbum& p = pending_;
    const QString artist = store::trimControl(p.artist);
    const QString title = store::trimControl(p.title);
    const QString genre = store::trimControl(store::asciiLower(p.genre));
    if (artist.isEmpty() || title.isEmpty() || genre.isEmpty()) {
        if (prompts) prompts->error(QStringLiteral("Album, Artist & Genre are required entries"));
        return false;
    }
    if (p.isMultiArtist() && p.sys != QLatin1Char('G') && !p.tracks.empty() &&
        !p.tracks.front().title.contains(QStringLiteral(" / "))) {
        const bool go = prompts && prompts->confirm(QStringLiteral(
                            "This appears to be a multi-artist album but standard format of\rArtist / Song\rwas not used for the "
                            "track entries.  Continue anyway?"));
        if (!go) return false;
    }
    // The album's rows in all tables are one write: it lands whole or not at all, and no other
    // program writes between the ID's allocation and the rows that take it.
    ALB_ASSIGN_OR_RETURN(store::Transaction tx, store::Transaction::begin(dm_.dataFolder()));
    Cursor& a = dm_.tblAlbums;
    const Cursor::Bookmark before = a.bookmark();
    // On any failure the write is undone; the cursors go back to what the tables hold.
    struct Undo {
        AlbumEditor& e;
        store::Transaction& tx;
        Cursor::Bookmark before;
        bool armed = true;
        ~Undo() {
            if (!armed) return;
            tx.abort();
            for (Cursor* c : {&e.dm_.tblAlbums, &e.dm_.tblCD, &e.dm_.tblArtists}) c->cancel();
            // Best effort: the failure that armed this is the one returned.
            if (!before.valid() || !e.dm_.tblAlbums.gotoBookmark(before)) (void)e.dm_.tblAlbums.first();
        }
    } undo{*this, tx, before};
    QString id;
    switch (p.mode) {
        case EditMode::Modify: id = a.text(QStringLiteral("ID")); break;
        case EditMode::AddCd: {
            id = p.albumId;
            // Another program may have stored the disc since the lookup checked for it.
            Cursor& f = dm_.tblFilter;
            f.setFiltered(false);
            ALB_TRY(f.setOrder(QStringLiteral("ID")));
            ALB_TRY(f.open());
            ALB_ASSIGN_OR_RETURN(bool taken, f.findKey({id}));
            if (taken && !id.isEmpty()) {
                if (prompts) prompts->error(QStringLiteral("This CD is already in your Collection.\rPlease use the MODIFY button instead!"));
                return false;
            }
            break;
        }
        case EditMode::NewAlbum: {
            ALB_ASSIGN_OR_RETURN(id, dm_.AllocateLocalAlbumId());
            break;
        }
    }
    if (id.isEmpty()) return Status(store::ErrorKind::InvalidArgument, QStringLiteral("The album has no ID to be stored under"));

    if (!frozen_) {
        a.disableControls();
        dm_.tblTracks.disableControls();
        dm_.tblPlayList.disableControls();
        frozen_ = true;
    }
    if (p.mode == EditMode::Modify) {
        ALB_TRY(a.edit());
    } else {
        ALB_TRY(a.append());
    }
    QString rev = p.rev.isEmpty() ? QStringLiteral("0") : p.rev.left(1);
    if (rev.at(0).unicode() > '~') rev = QStringLiteral("~");
    const std::pair<const char*, QString> fields[] = {
        {"ARTIST", artist},
        {"ALBUM", title},
        {"GENRE", genre},
        {"LABEL", p.label},
        {"MEDIA", MediaCode(p.media)},
        {"YR", p.year},
        {"IX", IndexText(p.index)},
        {"Notes", p.notes},
        {"SYS", QString(p.sys)},
        {"Rev", rev},
        {"ID", id},
    };
    for (const auto& [name, value] : fields) {
        Status st = a.setText(QString::fromLatin1(name), value);
        if (!st) {
            a.cancel();
            return st;
        }
    }
    ALB_TRY(a.post());
    ALB_TRY(saveTracks(id));
    bool artistsDeleted = false;
    ALB_TRY(saveArtists(id, artistsDeleted));
    ALB_TRY(dm_.FlushCollection());
    ALB_TRY(tx.commit());
    undo.armed = false;
    p.albumId = id;

    // Housekeeping once the album is stored: the tracks view is built again from the tables
    // next time it opens, and the artist rows the save replaced are packed away.
    dm_.tblTView.close();
    Status after = store::removeFile(dm_.tablePath(QStringLiteral("TVIEW.DBF")));
    if (artistsDeleted) keepFirst(after, packIfFree(dm_.tblArtists, QStringLiteral("ID")));
    tell(after);

    if (!genres_.contains(genre)) {
        genres_ << genre;
        genres_.sort(Qt::CaseInsensitive);
    }
    if (genre != settings_.genre) {
        settings_.genre = genre;
        // The album is stored; only the default genre of the next one could not be kept.
        if (!file_.save(settings_, settings::Key::Genre))
            if (prompts) prompts->error(file_.ini().notSavedMessage());
    }
    saved_ = true;
    return true;
}

Status AlbumEditor::saveTracks(const QString& id) {
    Cursor& cd = dm_.tblCD;
    if (pending_.mode == EditMode::Modify) {
        // Only the titles change: numbers and lengths stay as stored.
        dm_.tblTracks.close();
        cd.close();
        ALB_TRY(openShared(cd, QStringLiteral("Tracks")));
        ALB_TRY(openShared(dm_.tblTracks, QStringLiteral("Tracks")));
        ALB_TRY(selectAlbum(cd, id));
        ALB_TRY(cd.first());
        for (const TrackRow& row : pending_.tracks) {
            if (cd.eof() || cd.isEmpty()) break;
            ALB_TRY(cd.edit());
            ALB_TRY(cd.setText(QStringLiteral("TRACK"), store::trimControl(row.title)));
            ALB_TRY(cd.post());
            ALB_TRY(cd.next());
        }
        ALB_TRY(cd.flush());
        releaseAlbum(cd);
        return {};
    }
    if (!cd.isOpen()) ALB_TRY(openShared(cd, QStringLiteral("Tracks")));
    int r = 0;
    for (const TrackRow& row : pending_.tracks) {
        ++r;
        ALB_TRY(cd.append());
        ALB_TRY(cd.setText(QStringLiteral("ID"), id));
        ALB_TRY(cd.setText(QStringLiteral("NR"), store::TDM::PadNumber(r, 3)));
        ALB_TRY(cd.setText(QStringLiteral("Secs"), QString::number(SecondsOfTime(row.time))));
        ALB_TRY(cd.setText(QStringLiteral("TRACK"), store::trimControl(row.title)));
        ALB_TRY(cd.post());
    }
    return cd.flush();
}

Status AlbumEditor::packTable(Cursor& cursor, const QString& order) {
    cursor.close();
    {
        ALB_ASSIGN_OR_RETURN(auto table, store::Table::open(cursor.tablePath(), store::OpenMode::Exclusive));
        ALB_TRY(table->pack());
    }
    return openShared(cursor, order);
}

// Deleted rows are hidden from every reader already; packing them away needs the table to
// itself. While another program has it open the rows wait for the next pack. The error is that
// of a cursor that did not open again.
Status AlbumEditor::packIfFree(Cursor& cursor, const QString& order) {
    Status st = packTable(cursor, order);
    if (!st && !cursor.isOpen()) return openShared(cursor, order);
    return {};
}

Status AlbumEditor::saveArtists(const QString& id, bool& deleted) {
    Cursor& ar = dm_.tblArtists;
    ALB_TRY(openShared(ar, QStringLiteral("ID")));
    ALB_TRY(selectAlbum(ar, id));
    ALB_TRY(ar.first());
    deleted = false;
    while (!ar.isEmpty()) {
        ALB_TRY(ar.deleteRecord());
        deleted = true;
    }
    releaseAlbum(ar);
    auto addRow = [&](const QString& nr, const QString& artist) -> Status {
        ALB_TRY(ar.append());
        ALB_TRY(ar.setText(QStringLiteral("ID"), id));
        ALB_TRY(ar.setText(QStringLiteral("NR"), nr));
        ALB_TRY(ar.setText(QStringLiteral("ARTIST"), artist));
        return ar.post();
    };
    if (pending_.isMultiArtist()) {
        int r = 0;
        for (const TrackRow& row : pending_.tracks) {
            ++r;
            qsizetype p = row.title.indexOf(QStringLiteral(" / "));
            if (p < 0) p = row.title.indexOf(QLatin1Char('/'));
            if (p > 0) ALB_TRY(addRow(store::TDM::PadNumber(r, 3), store::trimControl(row.title.left(p))));
        }
    } else {
        ALB_TRY(addRow(QString(), store::trimControl(pending_.artist)));
    }
    return {};
}

void AlbumEditor::writeClipsFolder() {
    if (!file_.save(settings_, settings::Key::ClipsDir))
        if (auto* prompts = platform::desktop().prompts) prompts->error(file_.ini().notSavedMessage());
}

void AlbumEditor::AfterClose() {
    pending_.runningSeconds = 0;
    Status st = dm_.tblTracks.isOpen() ? Status() : openShared(dm_.tblTracks, QStringLiteral("Tracks"));
    if (frozen_) {
        dm_.tblAlbums.enableControls();
        dm_.tblTracks.enableControls();
        dm_.tblPlayList.enableControls();
        frozen_ = false;
    }
    const QString id = dm_.tblAlbums.text(QStringLiteral("ID"));
    if (dm_.tblCD.isOpen() && !dm_.tblCD.order().isEmpty()) keepFirst(st, dm_.tblCD.findPartial(id).status());
    if (dm_.tblPlayList.isOpen() && !dm_.tblPlayList.order().isEmpty()) keepFirst(st, dm_.tblPlayList.findPartial(id).status());
    dm_.tblTracks.refresh();
    dm_.tblAlbums.refresh();
    tell(st);
}

store::Result<bool> AlbumEditor::DeleteCurrentAlbum(const std::function<void(const QString&)>& status) {
    auto* prompts = platform::desktop().prompts;
    // The question names the album it is about.
    const QString which = dm_.tblAlbums.text(QStringLiteral("ARTIST")) + QStringLiteral(" - ") + dm_.tblAlbums.text(QStringLiteral("ALBUM"));
    if (!prompts || !prompts->okCancel(QStringLiteral("Are you sure you want to delete the highlighted album\rand its linked "
                                                      "tracks from your collection?\r\r") +
                                       which))
        return false;
    if (status) status(QStringLiteral("Deleting highlighted album, please wait ..."));
    Cursor& a = dm_.tblAlbums;
    const QString albumOrder = a.order();
    a.disableControls();
    dm_.tblTracks.disableControls();
    dm_.tblPlayList.disableControls();
    struct Release {
        store::TDM& dm;
        ~Release() {
            dm.tblAlbums.enableControls();
            dm.tblTracks.enableControls();
            dm.tblPlayList.enableControls();
        }
    } release{dm_};

    // The album row and its rows in every other table go in one write; the lock is taken
    // before the first of them, so a refused delete changes nothing.
    const Cursor::Bookmark current = a.bookmark();
    ALB_ASSIGN_OR_RETURN(store::Transaction tx, store::Transaction::begin(dm_.dataFolder()));
    ALB_TRY(a.gotoBookmark(current));
    const QString id = a.text(QStringLiteral("ID"));
    if (id.isEmpty()) return Status(store::ErrorKind::NotFound, QStringLiteral("There is no current album"));

    auto markRows = [&](Cursor& c, const QString& order) -> Status {
        if (!c.isOpen()) ALB_TRY(openShared(c, order));
        Status st = selectAlbum(c, id);
        if (st) st = c.first();
        while (st && !c.isEmpty()) st = c.deleteRecord();
        releaseAlbum(c);
        return st;
    };
    // The tracks cursor follows the albums: while its rows go it is on its own.
    Cursor* master = dm_.tblTracks.master();
    dm_.tblTracks.setMaster(nullptr, QString());
    Status st = markRows(dm_.tblTracks, QStringLiteral("Tracks"));
    if (st) st = markRows(dm_.tblPlayList, QStringLiteral("Playlist"));
    if (st) st = markRows(dm_.tblArtists, QStringLiteral("ID"));

    Cursor& tv = dm_.tblTView;
    const QString tviewPath = dm_.tablePath(QStringLiteral("TVIEW.DBF"));
    const bool tviewIndexed = (tv.isOpen() || store::fileExists(tviewPath)) && store::fileExists(store::indexPathFor(tviewPath));
    if (st && tviewIndexed) st = markRows(tv, QStringLiteral("Track"));
    if (st) st = a.gotoBookmark(current);
    if (st) st = a.deleteRecord();
    if (st) st = dm_.FlushCollection();
    if (st && tv.isOpen()) st = tv.flush();
    if (st) st = tx.commit();
    dm_.tblTracks.setMaster(master, QStringLiteral("ID"));
    if (!st) {
        tx.abort();
        for (Cursor* c : {&dm_.tblTracks, &dm_.tblPlayList, &dm_.tblArtists, &a}) releaseAlbum(*c);
        if (!a.gotoBookmark(current)) (void)a.first();  // best effort: st is what is returned
        return st;
    }

    // The album is gone for every reader. The table files should not keep deleted rows:
    // each is packed that no other program holds open at the moment.
    dm_.tblCD.close();
    dm_.tblFilter.close();
    Status after = packIfFree(dm_.tblTracks, QStringLiteral("Tracks"));
    keepFirst(after, packIfFree(dm_.tblPlayList, QStringLiteral("Playlist")));
    keepFirst(after, packIfFree(dm_.tblArtists, QStringLiteral("ID")));
    if (tviewIndexed) {
        keepFirst(after, packIfFree(tv, QStringLiteral("Track")));
        tv.close();
    } else {
        tv.close();
        keepFirst(after, store::removeFile(tviewPath));
    }
    a.close();
    {
        auto table = store::Table::open(a.tablePath(), store::OpenMode::Exclusive);
        // As in packIfFree(): a pack that cannot run now leaves the hidden rows to the next one.
        if (table) (void)(*table)->pack();
    }
    // The delete has landed; a failure from here on (the disk just filled) must not report it
    // as failed, only be shown. The cursors open again when they can.
    keepFirst(after, a.setOrder(albumOrder));
    const Status reopened = a.open();
    keepFirst(after, reopened);
    if (reopened) keepFirst(after, dm_.tblTracks.first());
    keepFirst(after, openShared(dm_.tblCD, QStringLiteral("Tracks")));
    tell(after);
    return true;
}

}  // namespace albumora::editing
