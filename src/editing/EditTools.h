// The edit form's tools and the notes editor's operations, as plain functions over texts and
// lists of notes lines, so that the windows only ask and show. Nothing here writes a table: what
// they change is the pending album, which reaches the collection through the edit form's save.
#pragma once

#include "NotesTags.h"
#include "PendingAlbum.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace albumora::editing {

// ---------------------------------------------------------------------------------------------
// Web queries

// An artist or song text made fit for a web query: trimmed, blanks and "&" as one "+", an
// apostrophe as "%27", and nothing left but "%", "+", digits and the ASCII run "A".."z". Every
// window that sends a text to a web search uses this one.
QString EncodeSearchTerm(const QString& text);

// The web store's search page for an artist's music, where the user finds the cover picture.
inline const QString kCoverSearchPage = QStringLiteral("https://www.amazon.com/exec/obidos/external-search");
QString CoverImageSearchAddress(const QString& artist);

// ---------------------------------------------------------------------------------------------
// Flip to Artist / Song

// One track title into the "Artist / Song" form of multi-artist albums: the two sides of the
// first separator found are swapped ("Kestrel - Silver Fields" → "Silver Fields / Kestrel"),
// or "Song (Artist)" becomes "Artist / Song". A title with neither comes back as it was.
QString FlipTitle(const QString& title);
void FlipTitles(std::vector<TrackRow>& rows);

// ---------------------------------------------------------------------------------------------
// Mask Maker

struct Mask {
    QString mask;                     // as the files are spelled; empty when no file was given
    std::optional<QString> clipsDir;  // the files' folder, when it is not the clips folder already
};
// The label mask of audio files picked in one folder: the one file's path, or the folder, the
// base names' common beginning, "*" and the first file's extension ("/rips/0*.mp3").
Mask MakeMask(const QStringList& files, const QString& clipsDir);

// The width of the album's LABEL field, which the label box allows.
inline constexpr int kLabelWidth = 55;

struct MaskPlacement {
    bool inNotes = false;  // too long for the label: appended to the notes instead
    int notesLines = 0;    // the notes' line count afterwards, for the edit form's counter
};
// A mask that fits replaces the label; a longer one becomes the notes' new last line.
MaskPlacement PlaceMask(const QString& mask, QString& label, QString& notes);

// The notes' lines as the edit form counts them and the notes editor shows them.
int NotesLineCount(const QString& notes);

// After a file dialog the working folder is the data folder again, whatever the dialog did with
// it: programs started from here (player, viewer) inherit it.
void ReturnToProgramFolder(const QString& programFolder);

// ---------------------------------------------------------------------------------------------
// Notes editor: each operation changes the lines only when the entry is one to store, and says
// whether it did.

// "EXTD=" + the entry as typed, unless the entry is blank.
bool AddExtendedDiscData(QStringList& lines, const QString& entry);
// "EXTT" + index (from 0) + "=" + the entry as typed, unless the entry is blank.
bool AddExtendedTrackData(QStringList& lines, int index, const QString& entry);
// The input box's title for the track at index (from 0): "Extended Data For Track   5".
QString ExtendedTrackCaption(int index);
// "COVER=" + the picked file's full path.
bool AddCoverLine(QStringList& lines, const QString& path);
// "URL=" + the entry, when it is longer than 7 characters: anything shorter cannot be an address.
bool AddLink(QStringList& lines, const QString& entry);

inline const QString kInvalidAmount =
    QStringLiteral("Invalid amount!\rUse only numbers and (optionally) decimal point");

// What the amount input box shows: its title ("Enter COST=of Album"), its prompt and its
// starting text (the stored amount, else the default amount of the settings).
struct AmountQuestion {
    QString caption;
    QString prompt;
    QString initial;
};
AmountQuestion AskAmount(const QStringList& lines, notes::AmountKind kind, const QString& defaultAmount);
// Stores an entry of digits and "." (an empty one too, as the bare tag) in the line that holds
// the amount, or as a new last line. False, and the lines unchanged, for any other character.
bool StoreAmount(QStringList& lines, notes::AmountKind kind, const QString& entry);

}  // namespace albumora::editing
