// The multiple-match chooser (TFuzzyF): the CD database knows several albums under the disc's
// ID, or only close ones, and the user picks the one that is in the drive.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

namespace albumora::disc {

class TFuzzyF : public QDialog {
    Q_OBJECT
public:
    explicit TFuzzyF(QWidget* parent = nullptr);

    // Shows the match lines modally: the index of the chosen line, or -1 for Cancel and for OK
    // without a selection.
    int choose(const QStringList& lines);
    // The same over a window made for this one use.
    static int choose(const QStringList& lines, QWidget* parent);

    void BitBtn1Click();  // OK

    QLabel* Label1;  // "Genre (Category)"
    QLabel* Label2;  // "Artist / Album"
    QListWidget* ListBox1;
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel

private:
    int chosen_ = -1;
};

}  // namespace albumora::disc
