// The track info window (TtrkInfo): one row of the tracks view with the song's lyrics found in
// its album's notes, and the web searches for its artist.
#pragma once

#include "DetailPage.h"

#include <QDialog>

class QTextEdit;

namespace albumora::views {

class TtrkInfo : public QDialog {
    Q_OBJECT
public:
    // trackRow: an open cursor on a row of a table with the TVIEW.DBF layout.
    TtrkInfo(store::TDM& dm, const store::Cursor& trackRow, QWidget* parent = nullptr);
    ~TtrkInfo() override;

    QTextEdit* memo() const { return Memo1; }
    void InfoButtonClick();
    void PosterButtonClick();
    void done(int result) override;

private:
    void restoreFilter();
    CursorState filterState_;
    bool restored_ = false;
    QString artist_;
    QTextEdit* Memo1 = nullptr;
};

}  // namespace albumora::views
