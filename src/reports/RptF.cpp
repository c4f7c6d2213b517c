#include "RptF.h"

#include "Controls.h"
#include "DMcd.h"
#include "Export.h"
#include "HelpKey.h"
#include "Layouts.h"
#include "OutFldF.h"
#include "PreviewF.h"
#include "Prompts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace albumora::reports {

namespace {
platform::Prompts* prompts() { return platform::desktop().prompts; }

const char* const kOrders[] = {"Artist", "Album", "Label", "Genre", "IX (index)", "Natural"};
}  // namespace

TRpt::TRpt(store::TDM& dm, const QString& browserOrder, Hooks hooks, QWidget* parent)
    : QDialog(parent),
      dm_(dm),
      browserOrder_(browserOrder),
      hooks_(std::move(hooks)),
      albumsHistory_(dm.tablePath(QStringLiteral("albums.ini"))),
      tracksHistory_(dm.tablePath(QStringLiteral("tracks.ini"))),
      selection_(std::make_unique<Selection>(dm)) {
    setObjectName(QStringLiteral("Rpt"));
    setModal(true);
    setWindowTitle(QStringLiteral(" Albumora - Report Writer [Review/Printout/Publish/Export  Collection]"));
    auto* layout = new QVBoxLayout(this);

    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(new QLabel(QStringLiteral("Report Title:"), this));
    PageHead = new QLineEdit(QStringLiteral("My Music Collection"), this);
    PageHead->setObjectName(QStringLiteral("PageHead"));
    titleRow->addWidget(PageHead, 1);
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("Button3"));
    clear->setAutoDefault(false);
    titleRow->addWidget(clear);
    layout->addLayout(titleRow);

    auto* addition = new QGroupBox(QStringLiteral(" In addition to the Albums table: "), this);
    auto* additionLayout = new QHBoxLayout(addition);
    yesTracks = new QCheckBox(QStringLiteral("include Tracks and Playlist tables"), addition);
    yesTracks->setObjectName(QStringLiteral("yesTracks"));
    yesTracks->setChecked(true);
    additionLayout->addWidget(yesTracks);
    layout->addWidget(addition);

    auto* selection = new QGroupBox(QStringLiteral(" Record Selection using filter expression (optional) "), this);
    auto* sel = new QGridLayout(selection);
    sel->addWidget(new QLabel(QStringLiteral("The following fields in the Albums table are available for filtering:"), selection), 0, 0, 1, 3);
    sel->addWidget(new QLabel(QStringLiteral("Artist  Album  Label  Genre  YR  Media  IX  Notes"), selection), 1, 0, 1, 3);
    auto combo = [&](const char* name, const QString& label, int row, FilterHistory& history, const char* clearName,
                     const QString& clearHint, const char* removeName) {
        sel->addWidget(new QLabel(label, selection), row, 0, 1, 3);
        auto* c = new QComboBox(selection);
        c->setObjectName(QString::fromLatin1(name));
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        history.load();
        c->addItems(history.items());
        c->setEditText(QString());
        sel->addWidget(c, row + 1, 0);
        auto* clearButton = platform::MakeSpeedButton(selection, clearName, clearHint, QStyle::SP_LineEditClearButton);
        auto* removeButton = platform::MakeSpeedButton(selection, removeName, QStringLiteral("Remove from history list"), QStyle::SP_TrashIcon);
        sel->addWidget(clearButton, row + 1, 1);
        sel->addWidget(removeButton, row + 1, 2);
        connect(clearButton, &QToolButton::clicked, this, [c] {
            c->setEditText(QString());
            c->setFocus();
        });
        connect(removeButton, &QToolButton::clicked, this, [c, &history] {
            const QString text = c->currentText();
            if (text.isEmpty() || !history.remove(text)) return;
            c->clear();
            c->addItems(history.items());
            c->setEditText(QString());
        });
        return c;
    };
    ComboBox1 = combo("ComboBox1", QStringLiteral("Filter expression for Albums table:"), 2, albumsHistory_, "SpeedButton1",
                      QStringLiteral("Clear filter expression"), "SpeedButton2");
    ComboBox2 = combo("ComboBox2", QStringLiteral("Filter expression for Tracks table - only available field is TRACK:"), 4,
                      tracksHistory_, "SpeedButton3", QStringLiteral("Clear filter expression "), "SpeedButton4");
    auto* examples = new QGroupBox(QStringLiteral(" Some examples: "), selection);
    auto* ex = new QVBoxLayout(examples);
    for (const char* line : {"Show only albums on vinyl or cassette media:", "contains(media,\"vl\") OR contains(media,\"cs\")",
                             "Show only albums by Vela Marrow:", "contains(artist,\"vela marrow\")"})
        ex->addWidget(new QLabel(QString::fromLatin1(line), examples));
    sel->addWidget(examples, 6, 0, 1, 3);
    layout->addWidget(selection);

    auto* sort = new QGroupBox(QStringLiteral(" Order by: "), this);
    sort->setObjectName(QStringLiteral("SortGroup"));
    auto* sortLayout = new QHBoxLayout(sort);
    SortGroup = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(kOrders[i]), sort);
        b->setObjectName(QStringLiteral("SortGroupItem%1").arg(i));
        SortGroup->addButton(b, i);
        sortLayout->addWidget(b);
    }
    SortGroup->button(int(OrderForBrowser(browserOrder)))->setChecked(true);
    layout->addWidget(sort);

    auto* outputs = new QHBoxLayout;
    auto* report = new QPushButton(QStringLiteral("Report"), this);
    report->setObjectName(QStringLiteral("Button1"));
    report->setToolTip(QStringLiteral("send output to screen, file or printer"));
    report->setDefault(true);
    outputs->addWidget(report);
    auto* html = new QPushButton(QStringLiteral("Webpage"), this);
    html->setObjectName(QStringLiteral("HTML"));
    html->setToolTip(QStringLiteral("Generate webpage (HTML) to publish your collection"));
    auto* csv = new QPushButton(QStringLiteral("CSV File"), this);
    csv->setObjectName(QStringLiteral("csvButton"));
    auto* xml = new QPushButton(QStringLiteral("XML File"), this);
    xml->setObjectName(QStringLiteral("xmlButton"));
    auto* more = new QPushButton(QStringLiteral("More examples ..."), this);
    more->setObjectName(QStringLiteral("Button2"));
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("BitBtn1"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BitBtn2"));
    for (QPushButton* b : {html, csv, xml, more, help, close}) {
        b->setAutoDefault(false);
        outputs->addWidget(b);
    }
    layout->addLayout(outputs);
    MyBar = new QStatusBar(this);
    MyBar->setObjectName(QStringLiteral("MyBar"));
    MyBar->setSizeGripEnabled(false);
    layout->addWidget(MyBar);

    connect(clear, &QPushButton::clicked, this, [this] {
        PageHead->clear();
        PageHead->setFocus();
    });
    connect(report, &QPushButton::clicked, this, &TRpt::Button1Click);
    connect(html, &QPushButton::clicked, this, &TRpt::HTMLClick);
    connect(csv, &QPushButton::clicked, this, &TRpt::csvButtonClick);
    connect(xml, &QPushButton::clicked, this, &TRpt::xmlButtonClick);
    const auto openHelp = [this] {
        if (hooks_.openHelpPage) hooks_.openHelpPage(kReportHelpPage);
    };
    connect(more, &QPushButton::clicked, this, openHelp);
    connect(help, &QPushButton::clicked, this, openHelp);
    platform::bindHelpKey(this, help);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    setStatus(kReportIdle);
}

TRpt::~TRpt() = default;

void TRpt::done(int result) {
    // The histories are kept when the window closes, however it closes.
    if (!albumsHistory_.save() || !tracksHistory_.save())
        if (auto* p = prompts()) p->error(QStringLiteral("The filter history could not be saved in ") + dm_.dataFolder());
    selection_.reset();
    QDialog::done(result);
}

Order TRpt::order() const { return Order(std::max(0, SortGroup->checkedId())); }

void TRpt::setStatus(const QString& text) { MyBar->showMessage(text); }

void TRpt::progress(const QString& what, qint64 done, qint64 total) {
    setStatus(QStringLiteral("%1 %2 of %3 albums ...").arg(what).arg(done).arg(total));
    // Long outputs keep the window painted and show how far they are.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

SelectionRequest TRpt::request() const {
    return {ComboBox1->currentText(), ComboBox2->currentText(), order(), browserOrder_};
}

bool TRpt::prepare() {
    if (!selection_) selection_ = std::make_unique<Selection>(dm_);
    auto ok = selection_->prepare(request(), &albumsHistory_, &tracksHistory_, [this](const QString& t) {
        setStatus(t);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    // The histories' new tops show in the lists at once.
    for (auto [combo, history] : {std::pair{ComboBox1, &albumsHistory_}, std::pair{ComboBox2, &tracksHistory_}}) {
        const QString text = combo->currentText();
        combo->clear();
        combo->addItems(history->items());
        combo->setEditText(text);
    }
    if (!ok) {
        if (auto* p = prompts()) p->error(ok.error().text());
        return false;
    }
    return *ok;
}

void TRpt::writeFiles(bool xml) {
    if (!prepare()) {
        setStatus(kReportIdle);
        return;
    }
    const QString before = MyBar->currentMessage();
    setStatus(QStringLiteral("Choose the fields you want to see in the output"));
    TFieldsDlg chooser(kAlbumOutputFields, xml ? OutputKind::Xml : OutputKind::Csv, yesTracks->isChecked(),
                       QDir(dm_.dataFolder()).absolutePath(), this);
    chooser.exec();
    setStatus(before);
    if (chooser.fields().isEmpty()) {
        setStatus(kReportIdle);
        return;
    }
    DataFilesRequest r;
    r.kind = xml ? FileKind::Xml : FileKind::Csv;
    r.fields = chooser.fields();
    r.withTracks = yesTracks->isChecked();
    r.folder = QDir::fromNativeSeparators(chooser.folder());
    auto written = WriteDataFiles(*selection_, r, [this](qint64 done, qint64 total) { progress(QStringLiteral("Writing"), done, total); });
    setStatus(kReportIdle);
    auto* p = prompts();
    if (!written) {
        if (p) p->error(written.error().text());
        return;
    }
    if (p) p->message(FilesCreatedMessage(*written));
}

void TRpt::Button1Click() {
    if (!prepare()) {
        setStatus(kReportIdle);
        return;
    }
    const QString before = MyBar->currentMessage();
    setStatus(QStringLiteral("Choose the fields you want to see in the output"));
    TFieldsDlg chooser(kAlbumOutputFields, OutputKind::Report, yesTracks->isChecked(), QString(), this);
    chooser.exec();
    setStatus(before);
    if (chooser.fields().isEmpty()) {
        setStatus(kReportIdle);
        return;
    }
    LayoutInput in;
    in.title = PageHead->text();
    in.fields = chooser.fields();
    in.withTracks = yesTracks->isChecked();
    in.albumsFilter = ComboBox1->currentText();
    if (hooks_.mediaList) in.mediaList = hooks_.mediaList();
    auto doc = ReportFor(*selection_, dm_, in, [this](qint64 done, qint64 total) { progress(QStringLiteral("Laying out"), done, total); });
    setStatus(kReportIdle);
    dm_.tblFilter.setFiltered(false);
    if (!doc) {
        if (auto* p = prompts()) p->error(doc.error().text());
        return;
    }
    if (doc->pages.empty()) {
        if (auto* p = prompts()) p->message(kNothingToPrint);
        return;
    }
    if (hooks_.preview) {
        hooks_.preview(*doc);
        return;
    }
    ReportPreview preview(*doc, this);
    preview.exec();
}

void TRpt::csvButtonClick() { writeFiles(false); }
void TRpt::xmlButtonClick() { writeFiles(true); }

void TRpt::HTMLClick() {
    const Order o = order();
    if (o != Order::Artist && o != Order::Album && o != Order::Natural) {
        if (auto* p = prompts()) p->error(kWebPageOrderRefused);
        return;
    }
    if (!prepare()) {
        setStatus(kReportIdle);
        return;
    }
    WebPageRequest page;
    page.title = PageHead->text();
    page.withTracks = yesTracks->isChecked();
    page.order = o;
    page.path = dm_.tablePath(kWebPageFileName);
    const store::Status st = WriteWebPage(*selection_, page, [this](qint64 done, qint64 total) { progress(QStringLiteral("Writing"), done, total); });
    setStatus(kReportIdle);
    if (!st) {
        if (auto* p = prompts()) p->error(st.text());
        return;
    }
    if (auto* l = platform::desktop().launcher) l->open(page.path);
}

}  // namespace albumora::reports
