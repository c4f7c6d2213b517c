// The lyric editor (TLyricEd): the lyrics on the clipboard between the block's marker lines,
// for the user to tidy before OK adds the block to the album's notes.
#pragma once

#include "Lyrics.h"

#include <QDialog>

class QPlainTextEdit;

namespace albumora::editing {

class TLyricEd : public QDialog {
    Q_OBJECT
public:
    TLyricEd(store::TDM& dm, QString albumId, QString songKey, QWidget* parent = nullptr);

    // Fills the editor from the clipboard; false, after telling the user, when it holds no text.
    bool FormShow();
    // Shows the editor modally, or nothing when the clipboard holds no text.
    int exec() override;
    void OKbtnClick();
    QPlainTextEdit* memo() const { return Memo1; }

private:
    store::TDM& dm_;
    QString albumId_;
    QString key_;
    QPlainTextEdit* Memo1 = nullptr;
};

}  // namespace albumora::editing
