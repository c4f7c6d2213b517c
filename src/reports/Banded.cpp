#include "Banded.h"

#include <QFont>
#include <QPagedPaintDevice>
#include <QPainter>

namespace albumora::reports {

QStringList Document::text() const {
    QStringList out;
    for (const Page& p : pages)
        for (const PlacedLine& l : p.lines) {
            QStringList parts;
            for (const TextItem& t : l.line.items)
                if (!t.text.isEmpty()) parts << t.text;
            out << parts.join(QLatin1Char(' '));
        }
    return out;
}

BandedReport::BandedReport(QString jobTitle, PageSetup setup, std::function<Band(int)> pageHeader)
    : pageHeader_(std::move(pageHeader)) {
    doc_.jobTitle = std::move(jobTitle);
    doc_.setup = setup;
}

void BandedReport::newPage() {
    doc_.pages.emplace_back();
    y_ = 0;
    started_ = true;
    if (!pageHeader_) return;
    const Band header = pageHeader_(int(doc_.pages.size()));
    for (const Line& l : header.lines) {
        doc_.pages.back().lines.push_back({y_, l});
        y_ += kLineHeight;
    }
    if (!header.lines.empty()) y_ += kLineHeight / 2;  // a little room under the header
    headerHeight_ = y_;
}

void BandedReport::add(const Band& band) {
    if (band.lines.empty()) return;
    if (!started_) newPage();
    const double height = kLineHeight * double(band.lines.size());
    const double room = doc_.setup.contentHeight() - y_;
    // A band that would fit on a fresh page is not split; a taller one flows on.
    const bool pageHasBands = y_ > headerHeight_;
    if (height > room && height <= doc_.setup.contentHeight() - headerHeight_ && pageHasBands) newPage();
    for (const Line& l : band.lines) {
        if (y_ + kLineHeight > doc_.setup.contentHeight()) newPage();
        doc_.pages.back().lines.push_back({y_, l});
        y_ += kLineHeight;
    }
}

Document BandedReport::finish() { return std::move(doc_); }

void PaintPage(const Document& doc, int page, QPainter& painter, double scale) {
    if (page < 0 || page >= int(doc.pages.size())) return;
    painter.save();
    painter.scale(scale, scale);
    // The painter works in points now: a font of 10 units is 10 points on any device.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(int(kFontPoints));
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const PageSetup& s = doc.setup;
    for (const PlacedLine& pl : doc.pages[size_t(page)].lines)
        for (const TextItem& t : pl.line.items) {
            const double width = t.width > 0 ? t.width : s.contentWidth() - t.x;
            const QRectF cell(s.margins.left() + t.x, s.margins.top() + pl.y, width, kLineHeight);
            painter.drawText(cell, int(Qt::AlignVCenter | (t.right ? Qt::AlignRight : Qt::AlignLeft)) | Qt::TextSingleLine, t.text);
        }
    painter.restore();
}

void PaintDocument(const Document& doc, QPagedPaintDevice& device, const std::function<bool(int, int)>& pageDone, int first, int last) {
    QPainter painter(&device);
    // Points to device pixels: the device's resolution over 72.
    const double scale = double(device.logicalDpiX()) / 72.0;
    const int from = std::max(1, first) - 1;
    const int to = last > 0 ? std::min(last, int(doc.pages.size())) : int(doc.pages.size());
    for (int i = from; i < to; ++i) {
        if (i > from) device.newPage();
        // The painter's origin is the printable area's; the layout's margins are from the paper's edge.
        const QMarginsF m = device.pageLayout().marginsPoints();
        painter.save();
        painter.translate(-m.left() * scale, -m.top() * scale);
        PaintPage(doc, i, painter, scale);
        painter.restore();
        if (pageDone && !pageDone(i - from + 1, to - from)) break;
    }
}

}  // namespace albumora::reports
