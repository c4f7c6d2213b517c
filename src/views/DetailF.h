// The detail view (TDetail): everything about the main window's current album on one read-only
// page, with the web searches, the lyrics window, the submission and the labeler playlist.
// The page itself is composed by ComposeDetailPage; this window paints it and runs the buttons.
#pragma once

#include "DetailPage.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;
class QTextEdit;

class QBoxLayout;

namespace albumora::views {

// The head both report windows show: the copy hint (Label1) and under it the page memo (Memo1),
// read-only rich text without wrapping, dark text on a light page whatever the desktop theme.
QTextEdit* AddPage(QWidget* parent, QBoxLayout* layout);
void ShowPage(QTextEdit* memo, const std::vector<PageLine>& lines);

struct DetailHooks {
    DetailOptions options;
    // The main window's list of songs for the lyrics window, filled while the view is open.
    QStringList* lyricTracks = nullptr;
    // Shows the lyrics window modally.
    std::function<void()> showLyrics;
    // The submission of the album to the CD database.
    std::function<void()> contribute;
    // The labeler program (settings value Labeler).
    QString labeler;
};

class TDetail : public QDialog {
    Q_OBJECT
public:
    TDetail(store::TDM& dm, DetailHooks hooks, QWidget* parent = nullptr);
    ~TDetail() override;

    // False when the page could not be composed; the error has been shown.
    bool composed() const { return composed_; }
    const DetailPage& page() const { return page_; }
    QTextEdit* memo() const { return Memo1; }

    void FormShow();
    void InfoButtonClick();
    void PosterButtonClick();
    void FreedbClick();
    void CDRbuttonClick();
    void BitBtn3Click();  // lyrics
    void BitBtn2Click();  // find
    void BitBtn4Click();  // font
    void FindDialog1Find();

    void done(int result) override;

private:
    store::TDM& dm_;
    DetailHooks hooks_;
    DetailPage page_;
    bool composed_ = false;
    QTextEdit* Memo1 = nullptr;
    QDialog* FindDialog1 = nullptr;
    QLineEdit* FindText = nullptr;
};

}  // namespace albumora::views
