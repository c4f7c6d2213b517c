// The track picker (TExttn) of the notes editor: which track the extended data are for.
#pragma once

#include "PendingAlbum.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

class QListWidget;

namespace albumora::editing {

class TExttn : public QDialog {
    Q_OBJECT
public:
    // suggestedPick is the application's counter: the entry preselected, raised by every pick
    // confirmed with OK, so that track after track can be annotated with one click each.
    TExttn(const std::vector<TrackRow>& tracks, int& suggestedPick, std::function<void(const QString&)> openHelpPage,
           QWidget* parent = nullptr);

    // Shows the picker modally; the track index (from 0), or nothing when the album has no
    // tracks or the user did not pick one.
    static std::optional<int> Pick(const std::vector<TrackRow>& tracks, int& suggestedPick,
                                   const std::function<void(const QString&)>& openHelpPage, QWidget* parent = nullptr);

    std::optional<int> picked() const { return picked_; }

    void OKbuttonClick();
    void BitBtn2Click();  // Cancel
    void BitBtn1Click();  // Help

private:
    int& suggestedPick_;
    std::function<void(const QString&)> openHelpPage_;
    std::optional<int> picked_;
    QListWidget* ListBox1;
};

}  // namespace albumora::editing
