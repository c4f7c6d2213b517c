// The album import window (Txcmd): the user picks where the album comes from (a CD database
// page, All Music Guide, the web store, a track list, a playlist file, or a track count) and
// copies the page to the clipboard; OK hands the text to the import flow (ImportFlow.h), whose
// parsers fill the pending album of the edit form, and the edit form is shown. The window holds
// no decision of its own.
#pragma once

#include "ImportFlow.h"

#include <QDialog>

#include <functional>

class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace albumora::disc {

// The window's three uses, each with its caption.
enum class ImportUse {
    NotFound,      // the CD in the drive is unknown to the CD database (edit mode 1)
    AddOther,      // an album not in the drive (edit mode 2)
    UpdateTracks,  // "Update Tracks only" of the edit form (edit mode 3)
};

inline const QString kImportHelpPage = QStringLiteral("CDhelp2.html#xcmd");

class Txcmd : public QDialog {
    Q_OBJECT
public:
    Txcmd(ImportContext context, ImportUse use, QWidget* parent = nullptr);

    ImportSource source() const { return flow_.source(); }
    // A pasted record's disc ID is in the collection already.
    bool duplicate() const { return flow_.duplicate(); }
    // The edit form was shown from this window.
    bool editFormShown() const { return flow_.editFormShown(); }
    // The clipboard text OK took, one entry per line; cleared where the import says so.
    const QStringList& pastedText() const { return flow_.pastedText(); }

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
    void setStatus(const QString& text);
    // Shows what a step of the import left: the collected list, and the end of the window.
    void finish(const ImportStep& step);

    ImportContext ctx_;
    ImportFlow flow_{ctx_};

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
