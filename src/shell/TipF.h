// The "Tip of the Day" window.
#pragma once

#include "AlbumsBrowser.h"

#include <QDialog>

class QCheckBox;
class QLabel;

namespace albumora::shell {

class TTipForm : public QDialog {
    Q_OBJECT
public:
    TTipForm(const QString& tipFile, QWidget* parent = nullptr);
    void NextButtonClick();
    void OKButtonClick();
    QLabel* tipLabel() const { return tip_; }
    QCheckBox* showAtStartup() const { return check_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    TipOfDay tips_;
    QLabel* tip_;
    QCheckBox* check_;
};

}  // namespace albumora::shell
