// The album import's decisions without the window: which parser takes the pasted text, keeping
// the pending album as it was when the text is refused, a pasted record of a disc already in
// the collection, the manual entry's track count, the playlist with its folder and its link to
// the disc in the drive. The import window (Txcmd) holds the controls and shows what this
// decides; its questions and messages go through the desktop's prompts, as every flow's do.
#pragma once

#include "CdText.h"
#include "ImportParsers.h"
#include "Settings.h"
#include "Status.h"

#include <QStringList>

#include <functional>

namespace albumora::store {
class TDM;
}

namespace albumora::disc {

inline const QString kPlaylistDialogTitle = QStringLiteral("Select playlist to import");
inline const QString kPlaylistDialogFilter = QStringLiteral(
    "Winamp playlist (*.m3u)|*.m3u|Yahoo! / xspf playlist (*.xml)|*.xml|All files (*.*)|*.*");

struct DiscServices;
struct DiscState;

// What the import works on, handed in by whoever opens it.
struct ImportContext {
    editing::PendingAlbum* album = nullptr;     // with its edit mode
    settings::RunSettings* settings = nullptr;  // web addresses, ClipsDir
    settings::SettingsFile* settingsFile = nullptr;
    store::TDM* dm = nullptr;  // the duplicate check and making an album current

    // The drive.
    std::function<bool()> audioCdInDrive;
    std::function<bool()> readDisc;
    std::function<QString()> currentDiscId;
    // The track count of the disc's table of contents last read (0 when none).
    std::function<int()> discTrackCount;
    // The disc state a pasted CD database record sets.
    std::function<void(const QString&)> setCurrentDiscId;
    std::function<void(int)> setDiscLength;

    // The CD-Text of the disc in the drive, when no source knew it (Add CD): "Manual" keeps its
    // artist, title and track titles instead of starting from "Various" and empty titles.
    std::optional<CdText> cdText;

    // Shows the album edit form modally over the pending album.
    std::function<void()> showEditForm;
    std::function<void(const QString&)> openHelpPage;
    // Told after the import made an album the current one, so the main window repaints.
    std::function<void(const QString& id)> albumMadeCurrent;

    // The drive hooks over the program's drive services and the disc state of the last read.
    void useDisc(const DiscServices& services, DiscState& state);
};

// What one step of the import leaves for the window.
struct ImportStep {
    bool done = false;      // the import is over: the window closes
    bool listed = false;    // collected holds what the parser found (the window's hidden list)
    QStringList collected;  // the times or titles collected
};

class ImportFlow {
public:
    explicit ImportFlow(ImportContext& context);

    ImportSource source() const { return source_; }
    // The source the user chose; the pending album's source code follows it.
    void setSource(ImportSource source);
    // A pasted record's disc ID is in the collection already.
    bool duplicate() const { return duplicate_; }
    void clearDuplicate() { duplicate_ = false; }
    // The edit form was shown.
    bool editFormShown() const { return editFormShown_; }
    // The clipboard text OK took, one entry per line; cleared where the import says so.
    const QStringList& pastedText() const { return pasted_; }
    int discTrackCount() const;

    // OK: the clipboard's text through the chosen source's parser.
    ImportStep paste(const QString& clipboardText);
    // "Manual": the track count asked when the album is not in the drive, then the edit form.
    ImportStep enterByHand();
    // "Import playlist": a playlist file chosen by the user into the album.
    ImportStep importPlaylist();

private:
    editing::PendingAlbum& album() { return *ctx_.album; }
    void showErrors(const QStringList& errors) const;
    void showEditForm();
    store::Result<bool> albumExists(const QString& id);
    void makeAlbumCurrent(const QString& id);
    bool currentTrackHasNoTime() const;

    ImportContext& ctx_;
    ImportSource source_ = ImportSource::None;
    bool duplicate_ = false;
    bool editFormShown_ = false;
    QStringList pasted_;
};

}  // namespace albumora::disc
