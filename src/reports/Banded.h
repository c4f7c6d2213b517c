// A banded report laid out into pages: page header on every page, title band once, bands per
// record as the layout emits them, summary once at the end. Layout works in points on a fixed
// line grid (one regular 10-point font, 12 points a line), so pagination is the same on screen,
// on paper and in a PDF; painting places each text in its column, aligned as asked.
#pragma once

#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <vector>

class QPagedPaintDevice;
class QPainter;

namespace albumora::reports {

inline constexpr double kLineHeight = 12.0;  // points
inline constexpr double kFontPoints = 10.0;

struct TextItem {
    double x = 0;      // from the left margin, points
    double width = 0;  // the column; 0: to the right margin
    QString text;
    bool right = false;  // right-aligned in its column
};

// One printed line of a band.
struct Line {
    std::vector<TextItem> items;
    Line() = default;
    Line(std::initializer_list<TextItem> i) : items(i) {}
};

// A band: its lines, printed together on one page when they fit (a band taller than a page,
// a long memo, flows on).
struct Band {
    std::vector<Line> lines;
};

struct PageSetup {
    QSizeF size{612, 792};  // Letter portrait, points
    QMarginsF margins{36, 36, 36, 36};
    double contentWidth() const { return size.width() - margins.left() - margins.right(); }
    double contentHeight() const { return size.height() - margins.top() - margins.bottom(); }
};

struct PlacedLine {
    double y = 0;  // from the top margin
    Line line;
};
struct Page {
    std::vector<PlacedLine> lines;
};

struct Document {
    QString jobTitle;
    PageSetup setup;
    std::vector<Page> pages;
    // Every text of the document, page by page, line by line (what pdftotext would give back,
    // for tests and the CLI).
    QStringList text() const;
};

class BandedReport {
public:
    // pageHeader: the band printed at the top of every page, given the page number (empty: none).
    BandedReport(QString jobTitle, PageSetup setup, std::function<Band(int page)> pageHeader = {});
    void add(const Band& band);
    Document finish();

private:
    void newPage();
    Document doc_;
    std::function<Band(int)> pageHeader_;
    double y_ = 0;
    double headerHeight_ = 0;
    bool started_ = false;
};

// Paints every page on a printer or PDF writer (the device's page size is set beforehand);
// pageDone is told after each page and may stop the run by answering false.
// first and last (counted from 1, 0: the end) choose a range of pages.
void PaintDocument(const Document& doc, QPagedPaintDevice& device, const std::function<bool(int done, int total)>& pageDone = {},
                   int first = 1, int last = 0);
// Paints one page, scaled to the painter's device, for previews and pictures.
void PaintPage(const Document& doc, int page, QPainter& painter, double scale);

}  // namespace albumora::reports
