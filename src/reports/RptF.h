// The report writer (TRpt): narrows the collection by an albums filter and a tracks filter,
// orders it, and writes CSV files, XML data packets or a web page of it. The selection and the
// files are Selection's and Export's; the window holds the choices and shows what they say.
#pragma once

#include "Banded.h"
#include "FilterHistory.h"
#include "Selection.h"

#include <QDialog>

#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QStatusBar;

namespace albumora::store {
class TDM;
}

namespace albumora::reports {

inline const QString kReportIdle = QStringLiteral("Select your options, then click on desired Output");
inline const QString kReportHelpPage = QStringLiteral("report.html#filter");

class TRpt : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const QString&)> openHelpPage;
        // The settings' media list, for the media report's descriptions.
        std::function<QStringList()> mediaList;
        // Shows a laid-out report; the print preview when not set.
        std::function<void(const Document&)> preview;
    };
    // browserOrder: the albums browser's order name, which presets the order.
    TRpt(store::TDM& dm, const QString& browserOrder, Hooks hooks, QWidget* parent = nullptr);
    ~TRpt() override;

    void Button1Click();  // Report
    void HTMLClick();
    void csvButtonClick();
    void xmlButtonClick();
    Order order() const;

protected:
    void done(int result) override;

private:
    void writeFiles(bool xml);
    SelectionRequest request() const;
    bool prepare();
    void setStatus(const QString& text);
    void progress(const QString& what, qint64 done, qint64 total);

    store::TDM& dm_;
    QString browserOrder_;
    Hooks hooks_;
    FilterHistory albumsHistory_;
    FilterHistory tracksHistory_;
    std::unique_ptr<Selection> selection_;

    QLineEdit* PageHead = nullptr;
    QCheckBox* yesTracks = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QButtonGroup* SortGroup = nullptr;
    QStatusBar* MyBar = nullptr;
};

}  // namespace albumora::reports
