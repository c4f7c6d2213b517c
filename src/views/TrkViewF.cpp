#include "TrkViewF.h"

#include "Controls.h"
#include "CursorModel.h"
#include "DMcd.h"
#include "Layouts.h"
#include "OutFldF.h"
#include "PreviewF.h"
#include "Prompts.h"

#include <QApplication>
#include <QBrush>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace albumora::views {

namespace {
const QColor kSortColour(0x00, 0xFF, 0xFF);
const QList<CursorModel::Column> kColumns = {
    {QStringLiteral("TRACK"), QStringLiteral("TRACK")}, {QStringLiteral("ARTIST"), QStringLiteral("ARTIST")},
    {QStringLiteral("ALBUM"), QStringLiteral("ALBUM")}, {QStringLiteral("GENRE"), QStringLiteral("GENRE")},
    {QStringLiteral("YR"), QStringLiteral("YR")},       {QStringLiteral("Time"), QStringLiteral("Time")},
    {QStringLiteral("x"), QStringLiteral("x")},
};

platform::Prompts* prompts() { return platform::desktop().prompts; }

}  // namespace

TTrkView::TTrkView(store::TDM& dm, Hooks hooks, QWidget* parent) : QDialog(parent), dm_(dm), hooks_(std::move(hooks)), view_(dm) {
    setObjectName(QStringLiteral("TTrkView"));
    setWindowTitle(QStringLiteral(" Albumora - Tracks View"));
    setModal(true);
    resize(860, 600);
    auto* layout = new QVBoxLayout(this);

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->verticalHeader()->setVisible(false);
    DBGrid1->verticalHeader()->setDefaultSectionSize(20);
    DBGrid1->horizontalHeader()->setSectionsClickable(true);
    DBGrid1->installEventFilter(this);
    DBGrid1->setEnabled(false);
    layout->addWidget(DBGrid1, 1);

    DJlabel = new QLabel(QStringLiteral("\"x\" in the last column indicates track was marked for playlist or copy"), this);
    DJlabel->setObjectName(QStringLiteral("DJlabel"));
    layout->addWidget(DJlabel);

    auto* filterBox = new QGroupBox(QStringLiteral(" Filter Expression  (record selection) "), this);
    filterBox->setObjectName(QStringLiteral("GroupBox1"));
    auto* fl = new QGridLayout(filterBox);
    fl->addWidget(new QLabel(QStringLiteral("Example: to select only jazz, enter:   genre=\"jazz\""), filterBox), 0, 0, 1, 6);
    ComboBox1 = new QComboBox(filterBox);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fl->addWidget(ComboBox1, 1, 0);
    SpeedButton1 = platform::MakeSpeedButton(filterBox, "SpeedButton1", QStringLiteral("Clear filter exression"), QStyle::SP_LineEditClearButton);
    SpeedButton2 = platform::MakeSpeedButton(filterBox, "SpeedButton2", QStringLiteral("Remove from history list"), QStyle::SP_TrashIcon);
    fl->addWidget(SpeedButton1, 1, 1);
    fl->addWidget(SpeedButton2, 1, 2);
    Button2 = platform::MakeButton(filterBox, "Button2", QStringLiteral("More examples ..."));
    Button3 = platform::MakeButton(filterBox, "Button3", QStringLiteral("Set Filter"));
    NoFilter = platform::MakeButton(filterBox, "NoFilter", QStringLiteral("Cancel "), QStringLiteral("Cancel Filtering"));
    NoFilter->setEnabled(false);
    fl->addWidget(Button2, 1, 3);
    fl->addWidget(Button3, 1, 4);
    fl->addWidget(NoFilter, 1, 5);
    fl->setColumnStretch(0, 1);
    layout->addWidget(filterBox);

    auto* row1 = new QHBoxLayout;
    Button1 = platform::MakeButton(this, "Button1", QStringLiteral("Switch to Albums View of this Album"));
    DJbutton = platform::MakeButton(this, "DJbutton", QStringLiteral("Create DJ Music File"));
    BtnDetails = platform::MakeButton(this, "BtnDetails", QStringLiteral("Details"), QStringLiteral("More info inc. any lyrics"));
    row1->addWidget(Button1);
    row1->addWidget(DJbutton);
    row1->addWidget(BtnDetails);
    row1->addStretch();
    layout->addLayout(row1);

    auto* row2 = new QHBoxLayout;
    row2->addWidget(new QLabel(QStringLiteral("Create output:"), this));
    RptButton = platform::MakeButton(this, "RptButton", QStringLiteral("Report"), QStringLiteral("send output to screen, file or printer"));
    HTML = platform::MakeButton(this, "HTML", QStringLiteral("Webpage"), QStringLiteral("Generate webpage (HTML) to publish your collection"));
    csvButton = platform::MakeButton(this, "csvButton", QStringLiteral("CSV File"),
                       QStringLiteral("Export to Comma Separted Values file for spreadsheets, etc."));
    xmlButton = platform::MakeButton(this, "xmlButton", QStringLiteral("XML File"), QStringLiteral("Export to XML format"));
    Button4 = platform::MakeButton(this, "Button4", QStringLiteral("DBF File"), QStringLiteral("Create clone of datafile for use with third party apps"));
    helpButton = platform::MakeButton(this, "helpButton", QStringLiteral("Help"));
    CloseButton = platform::MakeButton(this, "CloseButton", QStringLiteral("Close"));
    for (QPushButton* b : {RptButton, HTML, csvButton, xmlButton, Button4}) row2->addWidget(b);
    row2->addStretch();
    row2->addWidget(helpButton);
    row2->addWidget(CloseButton);
    layout->addLayout(row2);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar1);
    statusLabel_->setObjectName(QStringLiteral("StatusText"));
    StatusBar1->addWidget(statusLabel_, 1);
    progress_ = new QProgressBar(StatusBar1);
    progress_->setObjectName(QStringLiteral("BuildProgress"));
    progress_->setMaximumWidth(200);
    progress_->setVisible(false);
    StatusBar1->addPermanentWidget(progress_);
    layout->addWidget(StatusBar1);

    connect(Button3, &QPushButton::clicked, this, &TTrkView::Button3Click);
    connect(NoFilter, &QPushButton::clicked, this, &TTrkView::NoFilterClick);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] {
        ComboBox1->setEditText(QString());
        ComboBox1->setFocus();
    });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] {
        const QString text = ComboBox1->currentText();
        if (text.isEmpty() || !view_.history().remove(text)) return;
        reloadHistory();
    });
    connect(Button2, &QPushButton::clicked, this, [this] {
        if (hooks_.openHelpPage) hooks_.openHelpPage(QStringLiteral("report.html#filter"));
    });
    connect(helpButton, &QPushButton::clicked, this, [this] {
        if (hooks_.openHelpPage) hooks_.openHelpPage(QStringLiteral("CDhelp2.html#tview"));
    });
    connect(Button1, &QPushButton::clicked, this, &TTrkView::Button1Click);
    connect(DJbutton, &QPushButton::clicked, this, &TTrkView::DJbuttonClick);
    connect(BtnDetails, &QPushButton::clicked, this, &TTrkView::BtnDetailsClick);
    connect(RptButton, &QPushButton::clicked, this, &TTrkView::RptButtonClick);
    connect(csvButton, &QPushButton::clicked, this, [this] { FileButtonClick(FileOutput::Csv); });
    connect(xmlButton, &QPushButton::clicked, this, [this] { FileButtonClick(FileOutput::Xml); });
    connect(Button4, &QPushButton::clicked, this, &TTrkView::Button4Click);
    connect(HTML, &QPushButton::clicked, this, &TTrkView::HTMLClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(DBGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this, &TTrkView::DBGrid1TitleClick);
    connect(DBGrid1, &QTableView::doubleClicked, this, [this] { BtnDetailsClick(); });
}

TTrkView::~TTrkView() {
    DBGrid1->setModel(nullptr);
    view_.close();
}

void TTrkView::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!opened_) QTimer::singleShot(0, this, &TTrkView::FormShow);
}

void TTrkView::setStatus(const QString& text) {
    statusLabel_->setText(text);
    statusLabel_->repaint();
}

QString TTrkView::statusText() const { return statusLabel_->text(); }

void TTrkView::error(const QString& text) {
    if (auto* p = prompts()) p->error(text);
}

void TTrkView::FormShow() {
    if (opened_ || closed_) return;
    opened_ = true;
    reloadHistory();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto status = [this](const QString& s) {
        setStatus(s);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    const auto progress = [this](qint64 done, qint64 total) {
        progress_->setVisible(true);
        progress_->setRange(0, 1000);
        progress_->setValue(total > 0 ? int(std::min<qint64>(1000, done * 1000 / total)) : 0);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    // Events are served while the table is built (the status and progress are painted); the
    // window must not close under the build meanwhile.
    building_ = true;
    const store::Status st = view_.open(status, progress);
    building_ = false;
    progress_->setVisible(false);
    QApplication::restoreOverrideCursor();
    if (!st) {
        setStatus(st.text());
        error(st.text());
        return;
    }
    model_ = new CursorModel(&view_.rows(), kColumns, this);
    DBGrid1->setModel(model_);
    auto* header = DBGrid1->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    // Title, artist and album share what the window has beyond the short columns.
    for (int c = 0; c < 3; ++c) header->setSectionResizeMode(c, QHeaderView::Stretch);
    header->resizeSection(3, 85);
    header->resizeSection(4, 45);
    header->resizeSection(5, 50);
    header->resizeSection(6, 28);
    connect(model_, &CursorModel::loadFailed, this, [this](const QString& text) { setStatus(text); });
    updateSortIndicator();
    DBGrid1->setEnabled(true);
    selectCurrentRow();
    setStatus(view_.baseStatus());
    DBGrid1->setFocus();
}

void TTrkView::done(int r) {
    if (building_) return;
    if (!closed_) {
        closed_ = true;
        DBGrid1->setModel(nullptr);
        view_.close();
    }
    QDialog::done(r);
}

bool TTrkView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DBGrid1 && event->type() == QEvent::KeyPress && ready()) {
        auto* k = static_cast<QKeyEvent*>(event);
        const QString text = k->text();
        if (text.size() == 1 && text.at(0).unicode() >= 32 && text.at(0).unicode() <= 126 &&
            !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            const store::Status st = view_.jump(text.at(0));
            if (!st) setStatus(st.text());
            selectCurrentRow();
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            BtnDetailsClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Escape belongs to "Cancel " (the filter), wherever the focus is; it never closes the view.
void TTrkView::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        if (NoFilter->isEnabled()) NoFilterClick();
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TTrkView::reloadHistory() {
    ComboBox1->clear();
    ComboBox1->addItems(view_.history().items());
    ComboBox1->setEditText(QString());
}

void TTrkView::showRows() {
    if (model_) model_->reload();
    selectCurrentRow();
}

void TTrkView::selectCurrentRow() {
    if (!model_) return;
    const int row = model_->currentRow();
    if (row < 0) return;
    const QModelIndex at = model_->index(row, 0);
    DBGrid1->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    DBGrid1->scrollTo(at);
}

// The grid's current row is the cursor's before anything reads the current row.
void TTrkView::syncCursorToGrid() {
    if (!model_) return;
    const QModelIndex at = DBGrid1->currentIndex();
    if (!at.isValid()) return;
    const std::uint32_t recno = model_->recnoAt(at.row());
    if (recno != 0 && recno != view_.rows().recNo()) (void)view_.rows().gotoBookmark({recno});  // a row the grid shows exists
}

std::vector<store::Cursor::Bookmark> TTrkView::selectedRows() const {
    std::vector<store::Cursor::Bookmark> out;
    if (!model_) return out;
    QModelIndexList rows = DBGrid1->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& i : rows) out.push_back({model_->recnoAt(i.row())});
    return out;
}

void TTrkView::updateSortIndicator() {
    if (!model_) return;
    for (int i = 0; i < kColumns.size(); ++i)
        model_->setHeaderBackground(
            i, kColumns[i].field.compare(view_.sortField(), Qt::CaseInsensitive) == 0 ? QVariant(QBrush(kSortColour)) : QVariant());
}

void TTrkView::Button3Click() {
    if (!ready()) return;
    const QString text = ComboBox1->currentText();
    auto r = view_.setFilter(text, [this](const QString& s) { setStatus(s); });
    if (!r) {
        error(r.error().text());
        DBGrid1->setFocus();
        return;
    }
    NoFilter->setEnabled(true);
    showRows();
    reloadHistory();
    ComboBox1->setEditText(text);
    setStatus(*r);
}

void TTrkView::NoFilterClick() {
    const store::Status st = view_.cancelFilter();
    NoFilter->setEnabled(false);
    showRows();
    setStatus(st ? view_.baseStatus() : st.text());
    DBGrid1->setFocus();
}

void TTrkView::DBGrid1TitleClick(int column) {
    if (!ready() || column < 0 || column >= kColumns.size()) return;
    syncCursorToGrid();
    auto r = view_.titleClick(kColumns[column].field);
    if (!r) {
        error(r.error().text());
        return;
    }
    updateSortIndicator();
    showRows();
}

void TTrkView::Button1Click() {
    if (!ready()) return;
    syncCursorToGrid();
    const QString id = view_.rows().text(QStringLiteral("ID"));
    if (id.isEmpty()) return;
    if (hooks_.goToAlbum) hooks_.goToAlbum(id);
    accept();
}

void TTrkView::BtnDetailsClick() {
    if (!ready()) return;
    if (hooks_.collectionEmpty && hooks_.collectionEmpty()) {
        error(tviewmsg::kNoAlbums);
        return;
    }
    syncCursorToGrid();
    if (view_.rows().isEmpty()) return;
    if (hooks_.trackInfo) hooks_.trackInfo(view_.rows());
}

void TTrkView::HTMLClick() {
    if (auto* p = prompts()) p->message(tviewmsg::kNoWebPage);
}

void TTrkView::DJbuttonClick() {
    if (!ready()) return;
    syncCursorToGrid();
    const QString before = statusText();
    setStatus(tviewmsg::kPreparingDj);
    auto r = view_.writeDjList(selectedRows());
    selectCurrentRow();
    setStatus(before);
    if (!r) {
        error(r.error().text());
        return;
    }
    if (auto* p = prompts()) p->information(tviewmsg::kDjCreated);
}

void TTrkView::RptButtonClick() { output(QStringLiteral("rr")); }

void TTrkView::FileButtonClick(FileOutput kind) { output(kind == FileOutput::Xml ? QStringLiteral(".xml") : QStringLiteral(".csv")); }

void TTrkView::output(const QString& kind) {
    if (!ready()) return;
    // The report needs no short temporary folder here: it is laid out in memory.
    syncCursorToGrid();
    const QString before = statusText();
    if (!view_.filterOn() && !ComboBox1->currentText().isEmpty() && view_.rows().validate(ComboBox1->currentText())) {
        if (auto* p = prompts()) p->message(tviewmsg::kApplyFilterFirst);
    }
    const bool report = kind == QLatin1String("rr");
    reports::TTrksDlg chooser(TrackViewFields(), report ? QString() : dm_.dataFolder(), this);
    if (chooser.exec() != QDialog::Accepted || chooser.fields().isEmpty()) {
        setStatus(before);
        return;
    }
    setStatus(tviewmsg::kPreparing);
    const std::vector<store::Cursor::Bookmark> selected = selectedRows();
    if (report) {
        const store::Result<reports::Document> doc = view_.report(chooser.fields(), selected);
        if (!doc) {
            error(doc.error().text());
        } else if (doc->pages.empty()) {
            error(reports::kNothingToPrint);
        } else if (hooks_.preview) {
            hooks_.preview(*doc);
        } else {
            reports::ReportPreview preview(*doc, this);
            preview.exec();
        }
    } else {
        auto r = view_.writeFile(kind == QLatin1String(".xml") ? FileOutput::Xml : FileOutput::Csv, chooser.fields(), chooser.folder(),
                                 selected);
        if (!r)
            error(r.error().text());
        else if (auto* p = prompts())
            p->message(tviewmsg::kFileCreated + *r);
    }
    selectCurrentRow();
    DBGrid1->setFocus();
    setStatus(before);
}

void TTrkView::Button4Click() {
    if (!ready()) return;
    auto r = view_.copyTable();
    if (!r) {
        error(r.error().text());
        return;
    }
    if (auto* p = prompts()) p->message(QStringLiteral("Created ") + *r);
}

}  // namespace albumora::views
