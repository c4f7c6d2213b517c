// The album filter window (TPopUpFilt): an expression for the albums grid, with the history of
// the ones used before.
#pragma once

#include "AlbumFilter.h"

#include <QDialog>

class QComboBox;

namespace albumora::views {

class TPopUpFilt : public QDialog {
    Q_OBJECT
public:
    TPopUpFilt(store::Cursor& albums, const QString& historyPath, QWidget* parent = nullptr);
    QComboBox* expression() const { return combo_; }
    AlbumFilter& filter() { return filter_; }

    void BitBtn1Click();       // OK
    void SpeedButton1Click();  // Clear
    void SpeedButton2Click();  // Remove

private:
    AlbumFilter filter_;
    QComboBox* combo_;
};

}  // namespace albumora::views
