// The print preview of a laid-out report. Pages are painted as they scroll into view, so a
// report of thousands of pages opens at once; printing and saving as PDF show their progress
// page by page and can be stopped.
#pragma once

#include "Banded.h"

#include <QDialog>

class QLabel;
class QScrollArea;

namespace albumora::reports {

class ReportPreview : public QDialog {
    Q_OBJECT
public:
    explicit ReportPreview(const Document& doc, QWidget* parent = nullptr);

    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    void printClick();
    void pdfClick();
    // The page at the top of the view, counted from 1.
    int currentPage() const;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void updatePageLabel();
    bool fitted_ = false;
    const Document& doc_;
    double zoom_ = 1.0;
    QScrollArea* area_ = nullptr;
    QWidget* pages_ = nullptr;
    QLabel* pageLabel_ = nullptr;
};

}  // namespace albumora::reports
