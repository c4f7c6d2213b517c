// The tracks view window: one row per track of the whole collection over TVIEW.DBF, with its
// filter, orders and outputs. What the buttons do is TrackView's; the window holds the controls.
#pragma once

#include "TrackView.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTableView;
class QToolButton;

namespace albumora::reports {
struct Document;
}

namespace albumora::views {

class CursorModel;

class TTrkView : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const QString& id)> goToAlbum;     // the albums browser moves to the album
        std::function<void(store::Cursor& row)> trackInfo;    // the track information window
        std::function<bool()> collectionEmpty;                // the albums browser counts no album
        std::function<void(const QString& page)> openHelpPage;
        std::function<void(const reports::Document&)> preview;  // tests look instead of a preview window
    };

    TTrkView(store::TDM& dm, Hooks hooks, QWidget* parent = nullptr);
    ~TTrkView() override;

    // Builds or opens the work table; runs once, when the window is first shown.
    void FormShow();
    // The table is open and shown in the grid.
    bool ready() const { return opened_ && !building_ && model_ != nullptr; }
    TrackView& view() { return view_; }
    QString statusText() const;

    void Button3Click();    // Set Filter
    void NoFilterClick();   // Cancel filter
    void DBGrid1TitleClick(int column);
    void Button1Click();    // Switch to Albums View of this Album
    void DJbuttonClick();
    void BtnDetailsClick();
    void RptButtonClick();
    void FileButtonClick(FileOutput kind);
    void Button4Click();    // DBF File
    void HTMLClick();

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void setStatus(const QString& text);
    void showRows();
    void syncCursorToGrid();
    void selectCurrentRow();
    void updateSortIndicator();
    void reloadHistory();
    std::vector<store::Cursor::Bookmark> selectedRows() const;
    void output(const QString& kind);
    void error(const QString& text);

    store::TDM& dm_;
    Hooks hooks_;
    TrackView view_;
    bool opened_ = false;
    bool building_ = false;
    bool closed_ = false;
    CursorModel* model_ = nullptr;
    QTableView* DBGrid1 = nullptr;
    QLabel* DJlabel = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QToolButton *SpeedButton1 = nullptr, *SpeedButton2 = nullptr;
    QPushButton *Button2 = nullptr, *Button3 = nullptr, *NoFilter = nullptr;
    QPushButton *Button1 = nullptr, *DJbutton = nullptr, *BtnDetails = nullptr;
    QPushButton *RptButton = nullptr, *HTML = nullptr, *csvButton = nullptr, *xmlButton = nullptr, *Button4 = nullptr;
    QPushButton *helpButton = nullptr, *CloseButton = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* statusLabel_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace albumora::views
