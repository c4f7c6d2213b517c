#include "PlaylistBuilder.h"

#include "AlbumRows.h"
#include "Codepage.h"
#include "File.h"
#include "Journal.h"
#include "Table.h"

#include <algorithm>

namespace albumora::playlist {

using store::Cursor;
using store::ErrorKind;
using store::Status;

QString PlaylistBuilder::EntryText(const QString& nr, const QString& title, qint64 secs, bool paddedTime) {
    QString text = nr + QLatin1Char('-') + title;
    if (secs > 0) {
        const QString time = store::TDM::FormatTrackTime(secs, 2);
        text += QStringLiteral(" (") + (paddedTime ? time : time.trimmed()) + QLatin1Char(')');
    }
    return text;
}

QString PlaylistBuilder::EntryNr(const QString& entry) {
    const qsizetype dash = entry.indexOf(QLatin1Char('-'));
    return dash < 0 ? entry : entry.left(dash);
}

Status PlaylistBuilder::Load(store::TDM& dm, const QString& albumId) {
    *this = PlaylistBuilder();
    albumId_ = albumId;
    Cursor albums;
    ALB_TRY(OpenOn(albums, dm.tablePath(QStringLiteral("ALBUMS.DBF")), QStringLiteral("ID")));
    ALB_ASSIGN_OR_RETURN(const bool found, albums.findKey({albumId}));
    if (!found || albumId.isEmpty())
        return Status(ErrorKind::NotFound, QStringLiteral("There is no album with the ID \"%1\"").arg(albumId));
    albumTitle_ = albums.text(QStringLiteral("ALBUM"));

    struct Track {
        QString title;
        qint64 secs = 0;
    };
    std::map<QString, Track> byNr;
    Cursor tracks;
    ALB_TRY(OpenOn(tracks, dm.tablePath(QStringLiteral("TRACKS.DBF")), QStringLiteral("Tracks")));
    ALB_TRY(SelectAlbum(tracks, albumId));
    qint64 lastSecs = 0;
    ALB_TRY(tracks.forEachRow([&]() -> Status {
        const QString nr = tracks.text(QStringLiteral("NR"));
        const qint64 secs = tracks.integer(QStringLiteral("Secs"));
        byNr[nr] = {tracks.text(QStringLiteral("TRACK")), secs};
        knownNrs_ << nr;
        seconds_[nr.trimmed().toInt()] = secs;
        lastSecs = secs;
        return {};
    }));
    showRunning_ = lastSecs > 0;

    Cursor marks;
    ALB_TRY(OpenOn(marks, dm.tablePath(QStringLiteral("PLAYLIST.DBF")), QStringLiteral("Playlist")));
    ALB_TRY(SelectAlbum(marks, albumId));
    QStringList markedNrs;
    int running = 0;
    ALB_TRY(marks.forEachRow([&]() -> Status {
        const QString nr = marks.text(QStringLiteral("NR"));
        auto it = byNr.find(nr);
        // A second row for one track marks it once; a row without its track marks nothing.
        if (it == byNr.end() || markedNrs.contains(nr)) return {};
        markedNrs << nr;
        right_ << EntryText(nr, it->second.title, it->second.secs, true);
        if (it->second.secs > 0) running += int(it->second.secs) + 2;
        return {};
    }));
    if (running > 2) running -= 2;
    running_ = running;
    for (const QString& nr : std::as_const(knownNrs_))
        if (!markedNrs.contains(nr)) left_ << EntryText(nr, byNr[nr].title, byNr[nr].secs, false);
    left_.sort();
    right_.sort();
    return {};
}

int PlaylistBuilder::move(QStringList& from, QStringList& to, QList<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([&](int r) { return r < 0 || r >= from.size(); });
    const int first = rows.isEmpty() ? 0 : rows.front();
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) to << from.takeAt(*it);
    to.sort();
    recountRunning();
    if (from.isEmpty()) return -1;
    return std::min<int>(first, int(from.size()) - 1);
}

int PlaylistBuilder::include(const QList<int>& selectedRows) { return move(left_, right_, selectedRows); }

int PlaylistBuilder::exclude(const QList<int>& selectedRows) { return move(right_, left_, selectedRows); }

int PlaylistBuilder::includeAll() {
    QList<int> all;
    for (int i = 0; i < left_.size(); ++i) all << i;
    return move(left_, right_, all);
}

int PlaylistBuilder::excludeAll() {
    QList<int> all;
    for (int i = 0; i < right_.size(); ++i) all << i;
    const int at = move(right_, left_, all);
    running_ = 0;
    return at;
}

void PlaylistBuilder::recountRunning() {
    qint64 sum = 0;
    for (const QString& entry : std::as_const(right_)) {
        auto it = seconds_.find(EntryNr(entry).trimmed().toInt());
        const qint64 secs = it == seconds_.end() ? 0 : it->second;
        // One track without a length makes any total a wrong one.
        if (secs < 1) {
            running_ = 0;
            return;
        }
        sum += secs + 2;
    }
    running_ = int(std::max<qint64>(0, sum - 2));
}

Status PlaylistBuilder::setMarks(const QStringList& numbers) {
    QList<int> wanted;
    for (const QString& n : numbers) {
        bool ok = false;
        const int number = n.trimmed().toInt(&ok);
        bool known = false;
        for (const QString& nr : std::as_const(knownNrs_)) known = known || (ok && nr.trimmed().toInt() == number);
        if (!known)
            return Status(ErrorKind::InvalidArgument,
                          QStringLiteral("The album \"%1\" has no track number \"%2\"").arg(albumTitle_, n.trimmed()));
        wanted << number;
    }
    excludeAll();
    QList<int> rows;
    for (int i = 0; i < left_.size(); ++i)
        if (wanted.contains(EntryNr(left_[i]).trimmed().toInt())) rows << i;
    include(rows);
    return {};
}

// The tracks view's work table, made from the marks as they were, is discarded.
void PlaylistBuilder::dropTracksView(store::TDM& dm) {
    dm.tblTView.close();
    const QString tview = dm.tablePath(QStringLiteral("TVIEW.DBF"));
    for (const QString& file : {tview, store::indexPathFor(tview)}) {
        const Status removed = store::removeFile(file);
        if (!removed && housekeeping_) housekeeping_ = removed;
    }
}

Status PlaylistBuilder::Confirm(store::TDM& dm) {
    housekeeping_ = Status();
    if (albumId_.isEmpty()) return Status(ErrorKind::InvalidArgument, QStringLiteral("No album is loaded"));
    // Before the write as well as after it: a program killed between its commit and the removal
    // would otherwise leave a tracks view whose marks are no longer the stored ones.
    dropTracksView(dm);
    {
        // The album's marks are replaced in one write: another program never sees them half
        // rewritten, and a failure anywhere before the commit leaves the old ones.
        ALB_ASSIGN_OR_RETURN(store::Transaction tx, store::Transaction::begin(dm.dataFolder()));
        Cursor marks;
        ALB_TRY(OpenOn(marks, dm.tablePath(QStringLiteral("PLAYLIST.DBF")), QStringLiteral("Playlist")));
        ALB_TRY(SelectAlbum(marks, albumId_));
        ALB_TRY(marks.first());
        while (!marks.isEmpty()) ALB_TRY(marks.deleteRecord());
        ReleaseAlbum(marks);
        for (const QString& entry : std::as_const(right_)) {
            ALB_TRY(marks.append());
            Status st = marks.setText(QStringLiteral("ID"), albumId_);
            if (st) st = marks.setText(QStringLiteral("NR"), EntryNr(entry));
            if (st) st = marks.post();
            if (!st) {
                marks.cancel();
                return st;
            }
        }
        ALB_TRY(marks.flush());
        ALB_TRY(tx.commit());
    }
    dm.tblPlayList.refresh();

    // The marks are stored. The deleted rows are packed away when no other program holds the
    // table (else the next pack drops them; readers never see them), and the tracks view is
    // built again from the new marks the next time it opens.
    Cursor& pl = dm.tblPlayList;
    const bool wasOpen = pl.isOpen();
    const QString order = pl.order();
    pl.close();
    {
        auto table = store::Table::open(dm.tablePath(QStringLiteral("PLAYLIST.DBF")), store::OpenMode::Exclusive);
        if (table) {
            const Status packed = (*table)->pack();
            if (!packed) housekeeping_ = packed;
        }
    }
    if (wasOpen) {
        Status st = pl.setOrder(order.isEmpty() ? QStringLiteral("Playlist") : order);
        if (st) st = pl.open();
        if (!st && housekeeping_) housekeeping_ = st;
    }
    // Another program may have built it again meanwhile, from the old marks.
    dropTracksView(dm);
    return {};
}

}  // namespace albumora::playlist
