#include "PreviewF.h"

#include "Pdf.h"
#include "Prompts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

namespace albumora::reports {

namespace {

constexpr int kGap = 12;  // pixels between pages

// The pages one under the other; only those in view are painted.
class PagesWidget : public QWidget {
public:
    PagesWidget(const Document& doc, const double& zoom, QWidget* parent) : QWidget(parent), doc_(doc), zoom_(zoom) { resizeToPages(); }
    double pixelsPerPoint() const { return zoom_ * logicalDpiY() / 72.0; }
    int pageHeight() const { return int(doc_.setup.size.height() * pixelsPerPoint()); }
    int pageWidth() const { return int(doc_.setup.size.width() * pixelsPerPoint()); }
    void resizeToPages() {
        const int n = int(doc_.pages.size());
        setFixedSize(pageWidth() + 2 * kGap, std::max(1, n) * (pageHeight() + kGap) + kGap);
        update();
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.fillRect(e->rect(), palette().color(QPalette::Dark));
        const int step = pageHeight() + kGap;
        const int first = std::max(0, (e->rect().top() - kGap) / step);
        const int last = std::min(int(doc_.pages.size()) - 1, e->rect().bottom() / step);
        for (int i = first; i <= last; ++i) {
            const QRect sheet(kGap, kGap + i * step, pageWidth(), pageHeight());
            p.fillRect(sheet, Qt::white);
            p.save();
            p.translate(sheet.topLeft());
            PaintPage(doc_, i, p, pixelsPerPoint());
            p.restore();
        }
    }

private:
    const Document& doc_;
    const double& zoom_;
};

}  // namespace

ReportPreview::ReportPreview(const Document& doc, QWidget* parent) : QDialog(parent), doc_(doc) {
    setObjectName(QStringLiteral("Preview"));
    setWindowTitle(doc.jobTitle);
    auto* layout = new QVBoxLayout(this);
    auto* tools = new QHBoxLayout;
    auto button = [&](const char* name, const QString& text, const QString& hint) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setAutoDefault(false);
        tools->addWidget(b);
        return b;
    };
    auto* print = button("PrintButton", QStringLiteral("Print..."), QStringLiteral("Print the report"));
    auto* pdf = button("PdfButton", QStringLiteral("Save as PDF..."), QStringLiteral("Save the report as a PDF file"));
    auto* smaller = button("ZoomOut", QStringLiteral("-"), QStringLiteral("Smaller"));
    auto* larger = button("ZoomIn", QStringLiteral("+"), QStringLiteral("Larger"));
    pageLabel_ = new QLabel(this);
    pageLabel_->setObjectName(QStringLiteral("PageLabel"));
    tools->addStretch();
    tools->addWidget(pageLabel_);
    auto* close = button("CloseButton", QStringLiteral("Close"), QString());
    layout->addLayout(tools);
    area_ = new QScrollArea(this);
    area_->setObjectName(QStringLiteral("Pages"));
    area_->setAlignment(Qt::AlignHCenter);
    pages_ = new PagesWidget(doc_, zoom_, area_);
    area_->setWidget(pages_);
    layout->addWidget(area_, 1);
    connect(print, &QPushButton::clicked, this, &ReportPreview::printClick);
    connect(pdf, &QPushButton::clicked, this, &ReportPreview::pdfClick);
    connect(smaller, &QPushButton::clicked, this, [this] { setZoom(zoom_ / 1.25); });
    connect(larger, &QPushButton::clicked, this, [this] { setZoom(zoom_ * 1.25); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(area_->verticalScrollBar(), &QScrollBar::valueChanged, this, &ReportPreview::updatePageLabel);
    resize(900, 1000);
    updatePageLabel();
}

void ReportPreview::setZoom(double zoom) {
    const int page = currentPage();
    zoom_ = std::clamp(zoom, 0.25, 4.0);
    auto* w = static_cast<PagesWidget*>(pages_);
    w->resizeToPages();
    area_->verticalScrollBar()->setValue((page - 1) * (w->pageHeight() + kGap));
    updatePageLabel();
}

void ReportPreview::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (fitted_) return;
    fitted_ = true;
    // The first look shows the whole width of a page.
    const double pageWidth = doc_.setup.size.width() * logicalDpiX() / 72.0 + 2 * kGap;
    const double room = area_->viewport()->width();
    if (pageWidth > room) setZoom(room / pageWidth);
}

int ReportPreview::currentPage() const {
    const auto* w = static_cast<const PagesWidget*>(pages_);
    const int step = w->pageHeight() + kGap;
    return std::min(int(doc_.pages.size()), area_->verticalScrollBar()->value() / std::max(1, step) + 1);
}

void ReportPreview::updatePageLabel() {
    pageLabel_->setText(QStringLiteral("Page %1 of %2").arg(currentPage()).arg(doc_.pages.size()));
}

void ReportPreview::printClick() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(doc_.jobTitle);
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    printer.setFromTo(1, int(doc_.pages.size()));
    QPrintDialog ask(&printer, this);
    ask.setMinMax(1, int(doc_.pages.size()));
    if (ask.exec() != QDialog::Accepted) return;
    const bool range = printer.printRange() == QPrinter::PageRange;
    const int first = range ? printer.fromPage() : 1;
    const int last = range ? printer.toPage() : int(doc_.pages.size());
    QProgressDialog progress(QStringLiteral("Printing ..."), QStringLiteral("Stop"), 0, last - first + 1, this);
    progress.setWindowModality(Qt::WindowModal);
    PaintDocument(
        doc_, printer,
        [&](int done, int) {
            progress.setValue(done);
            QApplication::processEvents();
            return !progress.wasCanceled();
        },
        first, last);
}

void ReportPreview::pdfClick() {
    auto* p = platform::desktop().prompts;
    if (!p) return;
    const std::optional<QString> path = p->saveFile(QStringLiteral("Save the report as PDF"), QString(), QStringLiteral("PDF files (*.pdf)|*.pdf"));
    if (!path || path->isEmpty()) return;
    QProgressDialog progress(QStringLiteral("Saving ") + *path + QStringLiteral(" ..."), QStringLiteral("Stop"), 0, int(doc_.pages.size()), this);
    progress.setWindowModality(Qt::WindowModal);
    const store::Status st = WritePdf(doc_, *path, [&](int done, int) {
        if (done % 16 == 0) {
            progress.setValue(done);
            QApplication::processEvents();
        }
        return !progress.wasCanceled();
    });
    if (!st && !progress.wasCanceled()) p->error(st.text());
}

}  // namespace albumora::reports
