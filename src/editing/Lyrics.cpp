#include "Lyrics.h"

#include "AlbumNotes.h"
#include "Codepage.h"
#include "EditTools.h"

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
    return RewriteAlbumNotes(
        dm, albumId, [&](const QString& notes) { return std::optional<QString>(notes + QLatin1Char('\r') + notes::JoinLines(blockLines)); },
        {QStringLiteral("The album is no longer in the collection, so the lyrics were not added."),
         QStringLiteral("The notes of this album cannot be read, so the lyrics were not added:\r")});
}

}  // namespace albumora::editing
