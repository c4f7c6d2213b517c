// The output field choosers: TFieldsDlg (fields of the albums table, for the report writer) and
// TTrksDlg (fields of the tracks view). The lists and their moves are FieldChooser's; the
// dialog shows them and, for a file output, the folder the files go to.
#pragma once

#include "FieldChooser.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace albumora::reports {

class FieldsDialog : public QDialog {
    Q_OBJECT
public:
    // folder: the output folder for a file kind; empty for the printed report (no folder panel).
    FieldsDialog(FieldChooser chooser, const QString& caption, const QString& folder, QWidget* parent = nullptr);

    // The output field list after OK; empty after Cancel.
    const QStringList& fields() const { return fields_; }
    const QString& folder() const { return folder_; }

    void IncludeBtnClick();
    void ExcludeBtnClick();
    void IncAllBtnClick();
    void ExAllBtnClick();
    void UpButtonClick();
    void DownButtonClick();
    void Button1Click();  // Browse...
    void OKBtnClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    QWidget* notes_ = nullptr;  // where TTrksDlg puts its field definitions

private:
    void refill(int availableRow, int outputRow);
    void moveCurrent(bool up);
    std::vector<int> selectedRows(QListWidget* list) const;

    FieldChooser chooser_;
    QStringList fields_;
    QString folder_;
    QListWidget* SrcList = nullptr;
    QListWidget* DstList = nullptr;
    QPushButton *IncludeBtn = nullptr, *IncAllBtn = nullptr, *ExcludeBtn = nullptr, *ExAllBtn = nullptr;
    QPushButton *UpButton = nullptr, *DownButton = nullptr;
    QWidget* Panel1 = nullptr;
    QLineEdit* Edit1 = nullptr;
};

class TFieldsDlg : public FieldsDialog {
    Q_OBJECT
public:
    TFieldsDlg(const QStringList& albumFields, OutputKind kind, bool withTracks, const QString& folder, QWidget* parent = nullptr);
};

class TTrksDlg : public FieldsDialog {
    Q_OBJECT
public:
    TTrksDlg(const QStringList& viewFields, const QString& folder, QWidget* parent = nullptr);
};

}  // namespace albumora::reports
