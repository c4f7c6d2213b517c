// The notes editor (TMulti): the album's whole notes text, freely editable, with buttons that add
// the tagged lines (extended data, cover image, link, cost and value). It works on a copy: the
// edit form's notes change only when the editor is closed with OK.
#pragma once

#include "NotesTags.h"
#include "PendingAlbum.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPlainTextEdit;
class QSpinBox;

namespace albumora::editing {

class TMulti : public QDialog {
    Q_OBJECT
public:
    struct Options {
        QString defaultAmount = QStringLiteral("15.00");  // the settings' Current/Amount
        QString programFolder;                            // the picture dialog starts there
        std::function<void(const QString&)> openHelpPage;
    };

    // tracks: the edit form's track rows, for the track picker; suggestedPick: the application's
    // counter of the track picker.
    TMulti(const QString& notes, const std::vector<TrackRow>& tracks, int& suggestedPick, Options options,
           QWidget* parent = nullptr);

    // Shows the editor over the pending album; its notes take the editor's text only on OK.
    static bool Edit(PendingAlbum& album, int& suggestedPick, const Options& options, QWidget* parent = nullptr);

    // The notes as handed back: the editor's lines after OK, the text it was given before.
    const QString& notes() const { return notes_; }

    void FormShow();
    void SpinEdit1Change(int size);
    void ExtdClick();
    void ExttClick();
    void AddArtClick();
    void URLbuttonClick();
    void EnterPurchaseClick(notes::AmountKind kind);
    void OKbuttonClick();
    void BitBtn1Click();  // Help

protected:
    void showEvent(QShowEvent* event) override;

private:
    QStringList memoLines() const;
    // Puts the changed lines into the memo as an edit of the memo, so that undo still works.
    void setMemoLines(const QStringList& before, const QStringList& after);

    QString notes_;
    const std::vector<TrackRow>& tracks_;
    int& suggestedPick_;
    Options options_;
    QPlainTextEdit* Memo1;
    QSpinBox* SpinEdit1;
};

}  // namespace albumora::editing
