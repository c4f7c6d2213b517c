#include "AlbumNotes.h"

#include "Cursor.h"
#include "DMcd.h"
#include "Journal.h"

namespace albumora::editing {

using store::Status;

Status RewriteAlbumNotes(store::TDM& dm, const QString& albumId,
                         const std::function<std::optional<QString>(const QString& notes)>& change, const NotesWriteTexts& texts) {
    ALB_ASSIGN_OR_RETURN(store::Transaction tx, store::Transaction::begin(dm.dataFolder()));
    store::Cursor albums;
    albums.setTablePath(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
    ALB_TRY(albums.setOrder(QStringLiteral("ID")));
    ALB_TRY(albums.open(store::OpenMode::Shared));
    ALB_ASSIGN_OR_RETURN(const bool found, albums.findKey({albumId}));
    if (!found) return Status(store::ErrorKind::NotFound, texts.gone);
    const store::Result<QString> notes = albums.readText(QStringLiteral("Notes"));
    if (!notes)
        return Status(notes.error().kind(), texts.unreadable + notes.error().text(), notes.error().file(), notes.error().offset());
    const std::optional<QString> updated = change(*notes);
    if (!updated) return {};
    Status st = albums.edit();
    if (st) st = albums.setText(QStringLiteral("Notes"), *updated);
    if (st) st = albums.post();
    if (st) st = albums.flush();
    if (!st) {
        albums.cancel();
        return st;  // the write is undone with the transaction
    }
    ALB_TRY(tx.commit());
    dm.tblAlbums.refresh();
    if (dm.tblFilter.isOpen()) dm.tblFilter.refresh();
    return {};
}

}  // namespace albumora::editing
