// The album edit form (TMngRecF): the one window where an album and its tracks are written. It
// shows the pending album, lets the user complete it, and on OK saves it through AlbumEditor.
#pragma once

#include "AlbumEditor.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace albumora::editing {

class TMngRecF : public QDialog {
    Q_OBJECT
public:
    // The tools of the form's toolbox and the notes editor, installed by whoever owns them.
    struct Hooks {
        std::function<void(TMngRecF&)> editNotes;       // the notes editor
        std::function<void(TMngRecF&)> flip;            // Flip to Artist / Song
        std::function<void(TMngRecF&)> maskMaker;       // Mask Maker
        std::function<void(TMngRecF&)> updateTracks;    // Update Tracks only
        std::function<void(TMngRecF&)> getCoverImage;   // Get Cover Image
        std::function<void(TMngRecF&)> findDuplicates;  // the duplicate-track finder
        std::function<void(const QString&)> openHelpPage;
    };

    TMngRecF(AlbumEditor& editor, QWidget* parent = nullptr);
    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    AlbumEditor& editor() { return editor_; }
    PendingAlbum& pending() { return editor_.pending(); }
    // Shows the pending album modally; true when OK saved it.
    bool showPending();

    // The controls into the pending album, and back (tools change the pending album and then
    // refresh the form).
    void collect();
    void refresh();
    // After the notes changed: the line counter and the first-line preview.
    void refreshNotes();
    // The clips folder changed (by the mask maker): written when the form closes.
    void clipsFolderChanged() { clipsChanged_ = true; }

    void FormShow();
    void BitBtn1Click();  // OK: the save
    void BitBtn2Click();  // Cancel
    void EditArtistExit();
    void EditMediaChange();
    void PasteButtonClick();
    void showCoverTip(bool on);

    QTableWidget* grid() const { return StringGrid1; }
    QComboBox* genreBox() const { return EditGenre; }

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void openNotesEditor();
    void done(int r) override;

private:
    void buildWidgets();
    void evaluateMultiArtist();

    AlbumEditor& editor_;
    Hooks hooks_;
    bool clipsChanged_ = false;

    QLineEdit* EditArtist = nullptr;
    QLineEdit* EditTitle = nullptr;
    QComboBox* EditGenre = nullptr;
    QLineEdit* EditYear = nullptr;
    QComboBox* EditMedia = nullptr;
    QLineEdit* EditLabel = nullptr;
    QLineEdit* EditIndex = nullptr;
    QLineEdit* EditNotes = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* RunningLabel = nullptr;
    QLabel* LinesLabel = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    QPushButton* NotesButton = nullptr;
    QPushButton* GetArt = nullptr;
    QPushButton* MaskButton = nullptr;
    QPushButton* TrkOnlyButton = nullptr;
    QPushButton* PasteButton = nullptr;
    QPushButton* FlipButton = nullptr;
    QLabel* CoverMemo = nullptr;
};

}  // namespace albumora::editing
