// Lyrics: the user looks a song up on a lyrics site, copies the lyrics from the web page and
// adds them to the album's notes as a lyric block, where the track info window finds them.
// The song keys, the sites' query addresses, the editor's starting text and the one write.
#pragma once

#include "DMcd.h"
#include "Status.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace albumora::editing {

// The lyrics sites of the lyrics window's radio group, by entry.
enum class LyricsSite { LeosLyrics = 0, Mldb = 1 };
inline const QString kLeosLyricsSite = QStringLiteral("https://www.leoslyrics.com");
inline const QString kMldbSite = QStringLiteral("https://www.mldb.org");

inline const QString kLyricsCopyright = QStringLiteral(
    "Lyrics are property and copyright of their owners.  Lyrics are for educational purposes or personal use only, "
    "not for sale or distribution.");
inline const QStringList kLyricsSteps = {
    QStringLiteral("Step 1:  click on the song above for which you wish to see the lyrics."),
    QStringLiteral("Step 2:  click \"Find Lyrics for Selected Song\" button below to go to lyrics site selected above"),
    QStringLiteral("Step 3:  use mouse to select the lyrics, then use ctl-C to copy to the Clipboard "),
    QStringLiteral("Step 4:  return here to click the \"Add to Notes\" button below if you wish to add the lyrics."),
    QStringLiteral("Step 5:  repeat above steps until you are done, then press the Close button below."),
};
inline const QString kLyricEditorNote = QStringLiteral(
    "Edit above lyrics as needed, then click the OK button below to add the lyrics to your Notes field .  Otherwise "
    "click Cancel");
inline const QString kNothingOnClipboard =
    QStringLiteral("Lyrics info has NOT been copied to Clipboard.\rPlease try again!");

QString LyricsCaption(const QString& albumTitle);
QString LyricEditorCaption(const QString& songKey);

// The key a song is looked up and stored under. entry: a song list entry "05. Morning Rain".
// On a multi-artist album an "Artist / Song" title gives the track's own artist.
QString SongKey(const QString& entry, const QString& albumArtist, LyricsSite site);
// The site's search page for a key.
QString LyricsQueryAddress(const QString& songKey, LyricsSite site);

// The editor's lines for the clipboard's text: the begin marker, the lyrics, the end marker.
// Nothing when the clipboard holds no text.
std::optional<QStringList> LyricEditorLines(const QString& clipboardText, const QString& songKey);

// Appends the edited block to the album's notes, joined by one carriage return, in one whole
// write. The notes are read again inside the write, so whatever another program stored meanwhile
// stays. Notes that cannot be read are not replaced: the error says so and nothing is written.
store::Status StoreLyricBlock(store::TDM& dm, const QString& albumId, const QStringList& blockLines);

}  // namespace albumora::editing
