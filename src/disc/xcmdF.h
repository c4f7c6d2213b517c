// The album import window (Txcmd): the user picks where the album comes from (a CD database
// page, All Music Guide, the web store, a track list, a playlist file, or a track count) and
// copies the page to the clipboard; OK hands the text to the parsers, which fill the pending album
// of the edit form, and the edit form is shown. The window holds no parsing of its own.
#pragma once

#include "ImportParsers.h"
#include "Settings.h"

#include <QDialog>

#include <functional>

class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace albumora::store {
class TDM;
}

namespace albumora::disc {

struct DiscServices;
struct DiscState;

// What the window works on, handed in by whoever opens it.
struct ImportContext {
    editing::PendingAlbum* album = nullptr;  // with its edit mode
    settings::RunSettings* settings = nullptr;  // web addresses, ClipsDir
    settings::SettingsFile* settingsFile = nullptr;
    store::TDM* dm = nullptr;  // the duplicate check and making an album current

    // The drive.
    std::function<bool()> audioCdInDrive;
    std::function<bool()> readDisc;
    std::function<QString()> currentDiscId;
    // The track count of the disc's table of contents last read (0 when none).
    std::function<int()> discTrackCount;
    // The program-wide disc state a pasted CD database record sets.
    std::function<void(const QString&)> setCurrentDiscId;
    std::function<void(int)> setDiscLength;

    // Shows the album edit form modally over the pending album.
    std::function<void()> showEditForm;
    std::function<void(const QString&)> openHelpPage;
    // Told after the window made an album the current one, so the main window repaints.
    std::function<void(const QString& id)> albumMadeCurrent;

    // The drive hooks over the program's drive services and the disc state of the last read.
    void useDisc(const disc::DiscServices& services, DiscState& state);
};

// The window's three uses, each with its caption.
enum class ImportUse {
    NotFound,      // the CD in the drive is unknown to the CD database (edit mode 1)
    AddOther,      // an album not in the drive (edit mode 2)
    UpdateTracks,  // "Update Tracks only" of the edit form (edit mode 3)
};

inline const QString kImportHelpPage = QStringLiteral("CDhelp2.html#xcmd");
inline const QString kPlaylistDialogTitle = QStringLiteral("Select playlist to import");
inline const QString kPlaylistDialogFilter = QStringLiteral(
    "Winamp playlist (*.m3u)|*.m3u|Yahoo! / xspf playlist (*.xml)|*.xml|All files (*.*)|*.*");

class Txcmd : public QDialog {
    Q_OBJECT
public:
    Txcmd(ImportContext context, ImportUse use, QWidget* parent = nullptr);

    ImportSource source() const { return source_; }
    // A pasted record's disc ID is in the collection already.
    bool duplicate() const { return duplicate_; }
    // The edit form was shown from this window.
    bool editFormShown() const { return editFormShown_; }
    // The clipboard text OK took, one entry per line; cleared where the import says so.
    const QStringList& pastedText() const { return pasted_; }

    // Handlers, named after their controls.
    void Step1ButtonClick();  // Freedb
    void BitBtn1Click();      // Tracktype
    void allmusicClick();
    void AmazonButtonClick();
    void numberedClick();
    void unnumberedClick();
    void ManualButtonClick();
    void ImportButtonClick();
    void OKClick();
    void HelpClick();

private:
    void buildWidgets(ImportUse use);
    void goToSite(ImportSource source, const QString& url);
    void setSource(ImportSource source);
    void setStatus(const QString& text);
    void showErrors(const QStringList& errors);
    void clearPastedText();
    void showEditForm();
    int discTrackCount() const;
    store::Result<bool> albumExists(const QString& id);
    void makeAlbumCurrent(const QString& id);
    bool currentTrackHasNoTime() const;
    editing::PendingAlbum& album() { return *ctx_.album; }

    ImportContext ctx_;
    ImportSource source_ = ImportSource::None;
    bool duplicate_ = false;
    bool editFormShown_ = false;
    QStringList pasted_;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* ManualLabel = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QPushButton* Step1Button = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* allmusic = nullptr;
    QPushButton* AmazonButton = nullptr;
    QPushButton* numbered = nullptr;
    QPushButton* unnumbered = nullptr;
    QPushButton* ManualButton = nullptr;
    QPushButton* ImportButton = nullptr;
    QPushButton* OK = nullptr;
    QPushButton* Cancel = nullptr;
    QPushButton* Help = nullptr;
    QPlainTextEdit* FreedbMemo = nullptr;
    QPlainTextEdit* AMGmemo = nullptr;
    QPlainTextEdit* ListMemo = nullptr;
    QListWidget* ListBox1 = nullptr;  // hidden: the times or titles collected
    QStatusBar* MyBar = nullptr;
};

}  // namespace albumora::disc
