// The options dialog (TOpTools): the user's settings of section [Current]. OK checks the
// entries, applies the changed ones at once and writes them to the settings file.
#pragma once

#include "DiscServices.h"
#include "Settings.h"

#include <QDialog>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QStatusBar;

namespace albumora::shell {

inline const QString kNoOtherHost = QStringLiteral("Type the name of your CD database server after \"other:\"");

class TOpTools : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<QStringList()> driveLines;         // the CD drive list, one line a drive; empty: none found
        std::function<QString()> firstCdRomDrive;
        std::function<QStringList()> cdDevices;          // the picker's choices (device paths, disc images)
        std::function<void(bool)> applyHints;            // switch tooltips for the whole program
        std::function<void(const QString&)> setCaption;  // the main window's caption
        std::function<void(const QString&)> openHelpPage;
    };

    TOpTools(settings::RunSettings& settings, settings::SettingsFile& file, Hooks hooks, QWidget* parent = nullptr);

    void FormShow();
    void OKbuttonClick();
    void RadioGroup1Click();
    void RadioGroup2Click();
    void BitBtn1Click();
    void browse(QLineEdit* edit);

private:
    struct Snapshot {
        QString mail, server, viewer, labeler, player, name, amount, picker;
        bool hint = false, art = false, ssl = false;
        int protocol = 0, host = 0, drive = -1;
        QString hostName;  // the host the chosen button stands for
        QString sources, musicBrainz, coverArt;
        bool covers = true;
    };
    Snapshot current() const;

    settings::RunSettings& settings_;
    settings::SettingsFile& file_;
    Hooks hooks_;
    Snapshot shown_;

    QComboBox* cbDrives_;
    QLabel* drivesLabel_;
    QLabel* NoDriveLabel_ = nullptr;
    QComboBox* DrivePicker_;
    QLineEdit *EditViewer_, *EditLabeler_, *EditPlayer_, *EditName_, *EditAmount_, *EditMail_, *EditServer_;
    QCheckBox *FlyOverCheck_, *ArtCheck_, *SSLcheck_;
    QRadioButton *tcp_, *http_, *primary_, *alternate_, *otherHost_;
    QLineEdit* EditHost_;
    QComboBox* cbSources_;
    QLineEdit *EditMusicBrainz_, *EditCoverArt_;
    QCheckBox* CoversCheck_;
    QButtonGroup *RadioGroup1_, *RadioGroup2_;
    QStatusBar* bar_;
};

}  // namespace albumora::shell
