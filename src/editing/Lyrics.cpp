#include "Lyrics.h"

#include "Codepage.h"
#include "EditTools.h"
#include "Journal.h"

namespace albumora::editing {

using store::Status;

QString LyricsCaption(const QString& albumTitle) {
    return QStringLiteral("Albumora - Lyrics for Songs [") + albumTitle + QLatin1Char(']');
}

QString LyricEditorCaption(const QString& songKey) { return QStringLiteral("Albumora - Lyrics [") + songKey + QLatin1Char(']'); }

QString SongKey(const QString& entry, const QString& albumArtist, LyricsSite site) {
    const qsizetype dot = entry.indexOf(QLatin1String(". "));
    const QString title = dot >= 0 ? entry.mid(dot + 2) : entry;
    const bool various = store::asciiUpper(albumArtist.left(7)) == QLatin1String("VARIOUS");
    const qsizetype p = title.indexOf(QLatin1String(" / "));
    QString key;
    if (various && p >= 1) {
        const QString song = title.mid(p + 3);
        key = site == LyricsSite::LeosLyrics ? store::trimControl(title.left(p)) + QLatin1Char('+') + song : song;
    } else {
        key = site == LyricsSite::LeosLyrics ? albumArtist + QLatin1Char('+') + title : title;
    }
    return store::trimControl(key);
}

QString LyricsQueryAddress(const QString& songKey, LyricsSite site) {
    const QString term = EncodeSearchTerm(songKey);
    if (site == LyricsSite::LeosLyrics)
        return kLeosLyricsSite + QStringLiteral("/search.php?search=") + term + QStringLiteral("&sartist=1&ssongtitle=1");
    return kMldbSite + QStringLiteral("/search-bf?mqt=") + term + QStringLiteral("&ob=1");
}

std::optional<QStringList> LyricEditorLines(const QString& clipboardText, const QString& songKey) {
    if (store::trimControl(clipboardText).isEmpty()) return std::nullopt;
    const QString key = store::asciiUpper(songKey);
    QStringList lines;
    lines << notes::kLyricBegin + key;
    lines << notes::SplitLines(clipboardText);
    lines << notes::kLyricEnd + key;
    return lines;
}

Status StoreLyricBlock(store::TDM& dm, const QString& albumId, const QStringList& blockLines) {
    if (albumId.isEmpty()) return Status(store::ErrorKind::NotFound, QStringLiteral("There is no current album"));
    ALB_ASSIGN_OR_RETURN(store::Transaction tx, store::Transaction::begin(dm.dataFolder()));
    // A cursor of its own: the albums grid keeps its order, filter and row.
    store::Cursor albums;
    albums.setTablePath(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
    ALB_TRY(albums.setOrder(QStringLiteral("ID")));
    ALB_TRY(albums.open(store::OpenMode::Shared));
    ALB_ASSIGN_OR_RETURN(const bool found, albums.findKey({albumId}));
    if (!found)
        return Status(store::ErrorKind::NotFound,
                      QStringLiteral("The album is no longer in the collection, so the lyrics were not added."));
    const store::Result<QString> notes = albums.readText(QStringLiteral("Notes"));
    if (!notes)
        return Status(notes.error().kind(),
                      QStringLiteral("The notes of this album cannot be read, so the lyrics were not added:\r") +
                          notes.error().text(),
                      notes.error().file(), notes.error().offset());
    const QString updated = *notes + QLatin1Char('\r') + notes::JoinLines(blockLines);
    Status st = albums.edit();
    if (st) st = albums.setText(QStringLiteral("Notes"), updated);
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
