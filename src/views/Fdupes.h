// The duplicate-track finder's window: the page of DuplicateFinder in a read-only rich-text box,
// made when the window is created.
#pragma once

#include "DuplicateFinder.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTextEdit;

namespace albumora::views {

class TDupes : public QDialog {
    Q_OBJECT
public:
    TDupes(store::Cursor& tview, const DuplicateQuery& query, QWidget* parent = nullptr);

    QTextEdit* memo() const { return Memo1; }
    const DuplicatePage& page() const { return page_; }

private:
    QLabel* Label1 = nullptr;
    QTextEdit* Memo1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    DuplicatePage page_;
};

}  // namespace albumora::views
