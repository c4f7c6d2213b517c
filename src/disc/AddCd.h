// "Add CD": the audio CD in the drive into the collection. The disc is read, refused when its
// album is already stored, looked up in the sources of the Sources setting (the CD database,
// MusicBrainz), and handed to the edit form filled with what a source knows, or to the import
// window when none knows it; an album entered by hand for an unknown disc may then be
// contributed back to the CD database.
//
// The flow is a plain class so that the main window and albumora-cli run the same steps: the
// windows it opens (edit form, match chooser, import window) and the contribution are hooks.
#pragma once

#include "CdText.h"
#include "Cddb.h"
#include "DiscDrive.h"
#include "DiscLookup.h"

#include <functional>

namespace albumora::editing {
class AlbumEditor;
}
namespace albumora::settings {
struct RunSettings;
}
namespace albumora::store {
class TDM;
}

namespace albumora::disc {

namespace addcdmsg {
inline const QString kNoCd = QStringLiteral("There does not seem to be a CD in drive ");
inline const QString kAlreadyStored = QStringLiteral("This CD is already in your Collection.\rPlease use the MODIFY button instead!");
inline const QString kContribute = QStringLiteral("OK to contribute album info to Freedb?");
inline const QString kEditCaption = QStringLiteral("Albumora - Edit Form [Add New CD from CD-ROM drive]");
// Asked after a lookup that could not reach the CD database: the disc is still in the drive.
inline const QString kEnterInstead = QStringLiteral(
    "The CD database could not be asked about this disc.\rEnter the album from a web page, a track list or by hand instead?");
}  // namespace addcdmsg

struct AddCdHooks {
    // The status line; an empty text puts back the idle one.
    std::function<void(const QString&)> status;
    // The drive: whether an audio CD is in it, reading its TOC (which sets the current disc ID),
    // the ID, the lookup rows of the TOC, and making the disc's album current.
    std::function<bool()> audioCdInDrive;
    std::function<bool()> readDisc;
    std::function<QString()> currentDiscId;
    std::function<ComposedToc()> lookupToc;
    // The TOC as read, for the MusicBrainz disc ID.
    std::function<DiscToc()> discToc;
    std::function<bool(bool showMessages)> findCdInCollection;
    // The match chooser: the chosen index, or -1.
    std::function<int(const QStringList&)> chooseMatch;
    // The edit form over the pending album; the save happens there.
    std::function<void()> showEditForm;
    // The disc's CD-Text, read only when no source knows the disc.
    std::function<std::optional<CdText>()> cdText;
    // The import window for a disc the database does not know, with the disc's track count.
    std::function<void(int trackCount)> showImport;
    // The submission of the album just saved.
    std::function<void()> contribute;
};

enum class AddCdResult {
    NoDisc,          // no audio CD in the drive
    AlreadyStored,   // the disc's album is in the collection; it was made current
    FormShown,       // the edit form was shown over the lookup's album
    NotFound,        // the database does not know the disc; the import window was shown
    LookupFailed,    // the server could not be used; the message was shown
    Failed,          // the table engine failed; the message was shown
};

class AddCdFlow {
public:
    AddCdFlow(store::TDM& dm, editing::AlbumEditor& editor, const settings::RunSettings& settings, AddCdHooks hooks);

    // The lookup's limits and greetings come from the settings; tests shorten the time limits.
    CddbConfig& config() { return config_; }
    MbConfig& mbConfig() { return mbConfig_; }
    // What the last run's CD database lookup brought back (match lines, record lines).
    const LookupOutcome& lookup() const { return outcome_.cddb; }
    // The whole lookup across the sources.
    const DiscLookupOutcome& outcome() const { return outcome_; }
    // The CD-Text of a disc no source knew (for the import window).
    const std::optional<CdText>& cdText() const { return cdText_; }

    AddCdResult run();

private:
    void status(const QString& text) const;
    void error(const QString& text) const;

    store::TDM& dm_;
    editing::AlbumEditor& editor_;
    const settings::RunSettings& settings_;
    AddCdHooks hooks_;
    CddbConfig config_;
    MbConfig mbConfig_;
    DiscLookupOutcome outcome_;
    std::optional<CdText> cdText_;
};

// The CD database settings of the run-time settings as the lookup takes them.
CddbConfig CddbConfigOf(const settings::RunSettings& settings);

}  // namespace albumora::disc
