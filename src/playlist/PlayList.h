// The playlist builder (TDualListDlg): the album's tracks on the left, its marked tracks on the
// right, buttons to move them, the running time and the number of marked tracks. The lists and
// the confirm are PlaylistBuilder's; the window shows them.
#pragma once

#include "PlaylistBuilder.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace albumora::playlist {

inline const QString kBuilderCaption = QStringLiteral(" Select tracks to mark for playlist or copy");
inline const QString kBuilderHelpPage = QStringLiteral("CDhelp2.html#playlist");

class TDualListDlg : public QDialog {
    Q_OBJECT
public:
    // builder: loaded for the album; openHelpPage: the main window's.
    TDualListDlg(store::TDM& dm, PlaylistBuilder& builder, std::function<void(const QString&)> openHelpPage,
                 QWidget* parent = nullptr);

    void IncludeBtnClick();
    void IncAllBtnClick();
    void ExcludeBtnClick();
    void ExAllBtnClick();
    void OKBtnClick();
    void HelpBtnClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void refill(QListWidget* focusList, int select);
    QList<int> selectedRows(QListWidget* list) const;

    store::TDM& dm_;
    PlaylistBuilder& builder_;
    std::function<void(const QString&)> openHelpPage_;

    QListWidget* SrcList = nullptr;
    QListWidget* DstList = nullptr;
    QPushButton* IncludeBtn = nullptr;
    QPushButton* IncAllBtn = nullptr;
    QPushButton* ExcludeBtn = nullptr;
    QPushButton* ExAllBtn = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* RunningLabel = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* TrksLabel = nullptr;
};

}  // namespace albumora::playlist
