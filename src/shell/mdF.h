// The main window: the albums browser (TForm1). A grid of all albums, the tracks of the current
// album under it, and on the right the Quick Search, the collection actions and the toolbox.
#pragma once

#include "AlbumEditor.h"
#include "AlbumsBrowser.h"
#include "Cddb.h"
#include "M3u.h"
#include "MngRec.h"
#include "CursorModel.h"
#include "DiscServices.h"
#include "Session.h"
#include "Settings.h"
#include "Submission.h"
#include "xcmdF.h"

#include <QMainWindow>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class QTableView;
class QToolButton;
class QWidget;

class QTimer;

namespace albumora::shell {

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // makeDisc builds the drive services over the session's settings and disc state.
    TForm1(disc::Session& session, const std::function<disc::DiscServices(disc::Session&)>& makeDisc, QWidget* parent = nullptr);
    ~TForm1() override;

    AlbumsBrowser& browser() { return *browser_; }
    editing::AlbumEditor& editor() { return *editor_; }
    editing::TMngRecF& editForm() { return *MngRecF_; }
    // The import window for Add Other and for Update Tracks only is installed by its owner.
    std::function<void(TForm1&)> showImport;
    std::function<void(TForm1&, editing::TMngRecF&)> showUpdateTracks;
    // Time limits of the CD database lookup and of the mail, changed where a wait must be short.
    std::function<void(disc::CddbConfig&)> lookupLimits;
    std::function<void(disc::MailOptions&)> mailLimits;
    disc::Session& session() { return session_; }
    settings::RunSettings& settings() { return settings_; }
    settings::SettingsFile& settingsFile() { return settingsFile_; }
    bool collectionOpen() const { return opened_; }

    // Start-up and shutdown.
    void FormCreate();
    void FormActivate();  // opens the collection the first time the window is activated
    void OpenCollection();
    void ShowAlbumInDrive();  // the album of the disc in the drive becomes the current one
    void SaveOnClose();

    // Actions of the controls.
    void GoButtonClick();
    void ClearButtonClick();
    void NaturalButtonClick();
    void FindCDButtonClick();
    void ejectClick();
    void ButtonFilterClick();
    void ButtonNoFilterClick();
    void URLspeedClick();
    void ExitSpeedClick();
    void SpeedButton1Click();  // Tip of the Day
    void HelpSpeedClick();
    void HomeButtonClick();
    void ToolButtonClick();  // options
    void ModButtonClick();
    void TrackViewClick();
    void DelButtonClick();
    void AddOtherButtonClick();
    void AddCDbuttonClick();
    // File maintenance: pack and re-index the collection, and archive it when asked.
    void ReindexButtonClick();
    // The playlist builder for the current album; playing it; playing from a track of CDGrid.
    void PlayListButtonClick();
    void PlaySpeedClick();
    void CDGridDblClick();
    // The submission of the current album, the disc in the drive being its disc.
    void ContributeCurrentAlbum();
    // The detail view of the current album.
    void ClipSpeedClick();
    // The songs of the album in the detail view, for the lyrics window; empty otherwise.
    const QStringList& lyricTracks() const { return lyricTracks_; }
    void AlbumsGridTitleClick(int column);
    void ShowTipOfDay();

    // Shared with other windows.
    void RefreshAlbumStatus() { browser_->refreshAlbumStatus(); }
    void GoToAlbum(const QString& id) { browser_->goToAlbum(id); }
    void OpenHelpPage(const QString& page) { browser_->openHelpPage(page); }
    bool ShowAlbumArt(bool showMessages) { return browser_->showAlbumArt(showMessages); }

    // How often the maximized layout ran (read at close).
    int maximizedLayouts() const { return maximizedLayouts_; }

    // Windows of later parts of the program install their actions here by button name.
    void setAction(const QString& buttonName, std::function<void()> action);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void installEditFormTools();
    void installImport();
    disc::ImportContext importContext();
    void buildMenu();
    void layoutControls();
    void updateSortIndicator();
    void updateAlbumPanel();
    void syncAlbumsSelection();
    void refreshGrids();
    void catchUpWithOtherWriters();
    void applyHints(bool on);
    void setStatus(const QString& text);
    void runAction(const QString& buttonName, const QString& feature);
    playlist::PlayFlow playFlow();
    QToolButton* speedButton(const QString& name, const QString& text, const QString& hint, QWidget* parent);

    disc::Session& session_;
    store::TDM& dm_;
    QString programFolder_;
    disc::DiscServices disc_;
    settings::SettingsFile& settingsFile_;
    settings::RunSettings& settings_;
    std::unique_ptr<AlbumsBrowser> browser_;
    std::unique_ptr<editing::AlbumEditor> editor_;
    std::unique_ptr<editing::TMngRecF> MngRecF_;
    bool opened_ = false;
    bool activated_ = false;
    int maximizedLayouts_ = 0;
    std::map<QString, std::function<void()>> actions_;
    QStringList lyricTracks_;

    // Controls, by the names the program has always used.
    QTableView* AlbumsGrid = nullptr;
    QTableView* CDGrid = nullptr;
    views::CursorModel* albumsModel_ = nullptr;
    views::CursorModel* tracksModel_ = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* YRtext = nullptr;
    QLabel* BItext = nullptr;
    QLabel* LabelIX = nullptr;
    QLabel* IXvalue = nullptr;
    QGroupBox* SearchBox = nullptr;
    QComboBox* RadioGroup2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* GoButton = nullptr;
    QPushButton* ClearButton = nullptr;
    QGroupBox* MtnBox = nullptr;
    QPushButton* AddCDbutton = nullptr;
    QPushButton* AddOtherButton = nullptr;
    QPushButton* ModButton = nullptr;
    QPushButton* DelButton = nullptr;
    QPushButton* PlayListButton = nullptr;
    QPushButton* ReindexButton = nullptr;
    QGroupBox* Panel2 = nullptr;
    QToolButton* NaturalButton = nullptr;
    QToolButton* FindCDButton = nullptr;
    QToolButton* ButtonFilter = nullptr;
    QToolButton* ButtonNoFilter = nullptr;
    QToolButton* ClipSpeed = nullptr;
    QToolButton* TrackView = nullptr;
    QToolButton* URLspeed = nullptr;
    QToolButton* ExitSpeed = nullptr;
    QToolButton* RWspeed = nullptr;
    QToolButton* ToolButton = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* HelpSpeed = nullptr;
    QToolButton* HomeButton = nullptr;
    QToolButton* PlaySpeed = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QStatusBar* MyBar = nullptr;
    QMenu* PopupMenu1 = nullptr;
    // Looks for albums other programs stored in the data folder, while the window is idle.
    QTimer* OthersTimer = nullptr;
    QAction* cancelFilterItem_ = nullptr;
    bool aspiMissing_ = false;
};

// The maker's home page.
QString homePageAddress();

}  // namespace albumora::shell
