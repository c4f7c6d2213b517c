// The lyrics window (Tlyrics): the songs of the current album, a choice of lyrics site, a
// button that looks the selected song up in the browser and one that adds the lyrics the user
// copied from the site to the album's notes through the lyric editor.
#pragma once

#include "Lyrics.h"

#include <QDialog>

class QGroupBox;
class QListWidget;
class QRadioButton;

namespace albumora::editing {

class Tlyrics : public QDialog {
    Q_OBJECT
public:
    // songs: the detail view's track list ("01. Morning Rain").
    Tlyrics(store::TDM& dm, const QStringList& songs, QWidget* parent = nullptr);

    LyricsSite site() const;
    // The key of the selected song for the chosen site; empty when no song is selected.
    QString songKey() const;

    void ListBox1Click();
    void Button1Click();  // find lyrics
    void Button2Click();  // add to notes

private:
    store::TDM& dm_;
    QString albumId_;
    QString artist_;
    QListWidget* ListBox1 = nullptr;
    QRadioButton* sites_[2] = {nullptr, nullptr};
};

}  // namespace albumora::editing
