// The report writer and the field choosers driven through their controls (offscreen), over a
// real collection, with the scripted prompts.
#include "DMcd.h"
#include "Banded.h"
#include "Export.h"
#include "Layouts.h"
#include "FakeDesktop.h"
#include "Modal.h"
#include "OutFldF.h"
#include "RptF.h"
#include "TestSupport.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QComboBox>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>

using namespace albumora;
using namespace albumora::reports;
using albumora::test::child;
using albumora::test::OnNextModal;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

const QStringList& kAlbumFields = kAlbumOutputFields;

QStringList items(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

TEST(FieldChoosers, StartingListsMovesAndOk) {
    test::FakeDesktop desk;
    struct Case {
        OutputKind kind;
        bool tracks;
        QStringList output, available;
    };
    const Case cases[] = {
        {OutputKind::Report, true, {"ALBUM", "ARTIST", "ID"}, {"IX", "GENRE", "YR", "LABEL", "MEDIA", "Notes", "COST", "VALUE"}},
        {OutputKind::Csv, true, {"ALBUM", "ARTIST", "ID"}, {"IX", "GENRE", "YR", "LABEL", "MEDIA", "COST", "VALUE"}},
        {OutputKind::Xml, false, {"ALBUM", "ARTIST"}, {"IX", "GENRE", "YR", "ID", "LABEL", "MEDIA", "Notes", "COST", "VALUE"}},
    };
    for (const Case& c : cases) {
        TFieldsDlg dlg(kAlbumFields, c.kind, c.tracks, S("/tmp"));
        EXPECT_EQ(items(child<QListWidget>(&dlg, S("DstList"))), c.output);
        EXPECT_EQ(items(child<QListWidget>(&dlg, S("SrcList"))), c.available);
        EXPECT_EQ(child<QWidget>(&dlg, S("Panel1"))->isVisibleTo(&dlg), c.kind != OutputKind::Report);
    }

    TFieldsDlg dlg(kAlbumFields, OutputKind::Csv, true, S("/tmp"));
    auto* src = child<QListWidget>(&dlg, S("SrcList"));
    auto* dst = child<QListWidget>(&dlg, S("DstList"));
    // GENRE and YR together arrive as YR, then GENRE.
    src->item(1)->setSelected(true);
    src->item(2)->setSelected(true);
    child<QPushButton>(&dlg, S("IncludeBtn"))->click();
    EXPECT_EQ(items(dst), (QStringList{"ALBUM", "ARTIST", "ID", "YR", "GENRE"}));
    EXPECT_EQ(src->currentRow(), 1);
    dst->setCurrentRow(4);
    child<QPushButton>(&dlg, S("UpButton"))->click();
    child<QPushButton>(&dlg, S("UpButton"))->click();
    EXPECT_EQ(items(dst), (QStringList{"ALBUM", "ARTIST", "GENRE", "ID", "YR"}));
    EXPECT_EQ(dst->currentRow(), 2);
    child<QPushButton>(&dlg, S("ExAllBtn"))->click();
    EXPECT_FALSE(child<QPushButton>(&dlg, S("ExcludeBtn"))->isEnabled());
    child<QPushButton>(&dlg, S("DownButton"))->click();
    child<QPushButton>(&dlg, S("OKBtn"))->click();
    EXPECT_EQ(desk.prompts.texts(S("error")), (QStringList{kNoOutputFields, kNoOutputFields}));
    EXPECT_TRUE(dlg.fields().isEmpty());
    child<QPushButton>(&dlg, S("IncAllBtn"))->click();
    EXPECT_FALSE(child<QPushButton>(&dlg, S("IncludeBtn"))->isEnabled());
    child<QPushButton>(&dlg, S("OKBtn"))->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.fields().size(), 10);

    // The tracks chooser hands "marked" on as the column "x", in its place.
    TTrksDlg tracks({"TRACK", "ALBUM", "ARTIST", "GENRE", "YR", "LABEL", "MC", "INDEX", "ID", "NR", "sec", "Time", "x1", "x2"}, S("/tmp"));
    auto* tsrc = child<QListWidget>(&tracks, S("SrcList"));
    EXPECT_EQ(items(tsrc), (QStringList{"GENRE", "YR", "LABEL", "MC", "INDEX", "ID", "NR", "sec", "Time", "marked"}));
    tsrc->item(9)->setSelected(true);
    child<QPushButton>(&tracks, S("IncludeBtn"))->click();
    child<QPushButton>(&tracks, S("OKBtn"))->click();
    EXPECT_EQ(tracks.fields(), (QStringList{"TRACK", "ALBUM", "ARTIST", "x"}));
}

// Entering the folder box opens the folder picker; a folder that does not exist is created
// after asking.
TEST(FieldChoosers, EnteringTheFolderBoxBrowses) {
    test::FakeDesktop desk;
    TempFolder dir;
    const QString target = dir.file(S("new/reports"));
    TFieldsDlg dlg(kAlbumFields, OutputKind::Csv, true, dir.path());
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    desk.prompts.answer(std::optional<QString>(target));
    desk.prompts.answer(true);
    child<QLineEdit>(&dlg, S("Edit1"))->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(desk.prompts.texts(S("folder")).size(), 1u);
    EXPECT_TRUE(QDir(target).exists());
    EXPECT_EQ(QDir::fromNativeSeparators(dlg.folder()), target);
    EXPECT_EQ(QDir::fromNativeSeparators(child<QLineEdit>(&dlg, S("Edit1"))->text()), target);
}

// The money totals: two decimals, seven significant digits, no group separators.
TEST(PrintedTotals, MoneyTotalsAsTheSummaryPrintsThem) {
    EXPECT_EQ(MoneyTotal(14.5), S("14.50"));
    EXPECT_EQ(MoneyTotal(1234.5), S("1234.50"));
    EXPECT_EQ(MoneyTotal(123456.78), S("123456.80"));
    EXPECT_EQ(MoneyTotal(9999999.996), S("1.000000E+07"));
}

// A range of pages painted into a PDF: only those pages, in order.
TEST(PrintedPages, APageRangePaintsThosePagesOnly) {
    BandedReport r(S("Albumora"), PageSetup{});
    for (int i = 1; i <= 200; ++i) r.add(Band{{Line{{0, 0, S("Line %1").arg(i), false}}}});
    const Document doc = r.finish();
    ASSERT_GE(doc.pages.size(), 4u);
    TempFolder dir;
    const QString path = dir.file(S("range.pdf"));
    {
        QPdfWriter pdf(path);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        int told = 0;
        PaintDocument(doc, pdf, [&](int done, int total) {
            EXPECT_EQ(total, 2);
            told = done;
            return true;
        }, 2, 3);
        EXPECT_EQ(told, 2);
    }
    const auto text = test::runProcess(S("pdftotext"), {path, S("-")});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const QStringList pages = text.out.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), 2);
    EXPECT_TRUE(pages[0].trimmed().startsWith(doc.text().at(int(doc.pages[0].lines.size()))));
}

class ReportWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<store::TDM>(dir.path());
        ASSERT_TRUE(dm->EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm->OpenCollectionTables().isOk());
        int n = 0;
        for (const char* artist : {"Abba", "Björk", "Cream"}) {
            store::Cursor& c = dm->tblAlbums;
            ASSERT_TRUE(c.append().isOk());
            ASSERT_TRUE(c.setText(S("ID"), S("0a00000%1").arg(++n)).isOk());
            ASSERT_TRUE(c.setText(S("Artist"), S(artist)).isOk());
            ASSERT_TRUE(c.setText(S("Album"), S("Album %1").arg(n)).isOk());
            ASSERT_TRUE(c.post().isOk());
            store::Cursor& t = dm->tblCD;
            ASSERT_TRUE(t.append().isOk());
            ASSERT_TRUE(t.setText(S("ID"), S("0a00000%1").arg(n)).isOk());
            ASSERT_TRUE(t.setText(S("NR"), S("  1")).isOk());
            ASSERT_TRUE(t.setText(S("Track"), n == 2 ? S("Jóga") : S("Song")).isOk());
            ASSERT_TRUE(t.post().isOk());
            store::Cursor& ar = dm->tblArtists;
            ASSERT_TRUE(ar.append().isOk());
            ASSERT_TRUE(ar.setText(S("ID"), S("0a00000%1").arg(n)).isOk());
            ASSERT_TRUE(ar.setText(S("Artist"), S(artist)).isOk());
            ASSERT_TRUE(ar.post().isOk());
        }
        ASSERT_TRUE(dm->FlushCollection().isOk());
    }
    void open(const QString& browserOrder = S("Artist")) {
        window = std::make_unique<TRpt>(*dm, browserOrder, TRpt::Hooks{[this](const QString& p) { help << p; }});
        window->show();
    }
    template <class T>
    T* find(const char* name) {
        T* w = child<T>(window.get(), QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString status() { return find<QStatusBar>("MyBar")->currentMessage(); }
    // CSV through the field chooser, taking its starting fields. The report writer is a modal
    // window itself: every handler waits past it for the window it opened.
    void csvWithStartingFields() {
        OnNextModal chooser([](QWidget* w) { child<QPushButton>(w, S("OKBtn"))->click(); }, window.get());
        find<QPushButton>("csvButton")->click();
    }

    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<store::TDM> dm;
    std::unique_ptr<TRpt> window;
    QStringList help;
};

TEST_F(ReportWriterTest, OpensOnTheBrowsersOrder) {
    for (const auto& [browser, item] : std::vector<std::pair<QString, int>>{{S("Artist"), 0}, {S("GENRE"), 3}, {S("ID"), 5}, {S("IX"), 5}, {QString(), 5}}) {
        open(browser);
        EXPECT_TRUE(find<QRadioButton>(QString(S("SortGroupItem%1").arg(item)).toLatin1().constData())->isChecked()) << browser.toStdString();
        EXPECT_EQ(status(), kReportIdle);
        EXPECT_EQ(find<QLineEdit>("PageHead")->text(), S("My Music Collection"));
    }
    find<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(help, QStringList{S("report.html#filter")});
}

TEST_F(ReportWriterTest, CsvFilesThroughTheChooserAndTheirMessage) {
    open();
    csvWithStartingFields();
    const QStringList files = {dir.file(S("albums.csv")), dir.file(S("tracks.csv")), dir.file(S("playlist.csv"))};
    EXPECT_EQ(desk.prompts.texts(S("message")), QStringList{FilesCreatedMessage(files)});
    EXPECT_EQ(test::fileBytes(files[0]), QByteArray("\"ALBUM\",\"ARTIST\",\"ID\"\r\n\"Album 1\",\"Abba\",\"0a000001\"\r\n"
                                                    "\"Album 2\",\"Bj\xF6rk\",\"0a000002\"\r\n\"Album 3\",\"Cream\",\"0a000003\"\r\n"));
    EXPECT_EQ(status(), kReportIdle);

    // Cancelled chooser: nothing is written.
    QFile::remove(files[0]);
    {
        OnNextModal chooser([](QWidget* w) { child<QPushButton>(w, S("CancelBtn"))->click(); }, window.get());
        find<QPushButton>("xmlButton")->click();
    }
    EXPECT_FALSE(QFile::exists(dir.file(S("albums.xml"))));
}

TEST_F(ReportWriterTest, FilterFailuresAndTheHistoriesWrittenOnClose) {
    open();
    auto* albums = find<QComboBox>("ComboBox1");
    auto* tracks = find<QComboBox>("ComboBox2");
    albums->setEditText(S("YR >"));
    find<QPushButton>("csvButton")->click();
    EXPECT_EQ(desk.prompts.texts(S("error")).last(), S("Invalid Filter Expression: \rYR >"));
    albums->setEditText(S("artist=\"Nobody\""));
    find<QPushButton>("csvButton")->click();
    EXPECT_EQ(desk.prompts.texts(S("error")).last(), S("Sorry, no records pass filter:\rartist=\"Nobody\""));
    albums->setEditText(S("artist=\"Abba\""));
    tracks->setEditText(S("contains(track,\"jóga\")"));
    find<QPushButton>("csvButton")->click();
    EXPECT_EQ(desk.prompts.texts(S("error")).last(),
              S("No albums match BOTH the albums filter\rartist=\"Abba\"\rAND the tracks filter\rcontains(track,\"jóga\")"));
    albums->setEditText(S("contains(artist,\"b\")"));
    csvWithStartingFields();
    EXPECT_TRUE(test::fileBytes(dir.file(S("albums.csv"))).contains("\"Album 2\",\"Bj\xF6rk\",\"0a000002\"\r\n"));
    EXPECT_FALSE(test::fileBytes(dir.file(S("albums.csv"))).contains("Abba"));
    // The web page refuses the Label order.
    find<QRadioButton>("SortGroupItem2")->click();
    find<QPushButton>("HTML")->click();
    EXPECT_EQ(desk.prompts.texts(S("error")).last(), S("Albums must be sorted by Artist, Album or Natural for HTML output"));
    find<QRadioButton>("SortGroupItem1")->click();
    find<QPushButton>("HTML")->click();
    EXPECT_EQ(desk.launcher.opened, QStringList{dir.file(S("Albumora.html"))});

    find<QPushButton>("BitBtn2")->click();
    EXPECT_EQ(test::fileBytes(dir.file(S("albums.ini"))),
              QByteArray("contains(artist,\"b\")\r\nartist=\"Abba\"\r\n"));
    EXPECT_EQ(test::fileBytes(dir.file(S("tracks.ini"))), QByteArray("contains(track,\"j\xF3ga\")\r\n"));
    // The selection's cursors are back as the rest of the program expects them.
    EXPECT_EQ(dm->tblFilter.tablePath(), dm->tablePath(S("ALBUMS.DBF")));
    EXPECT_FALSE(dm->tblFilter.filtered());
    EXPECT_EQ(dm->tblCD.master(), nullptr);
}

TEST_F(ReportWriterTest, TheReportIsLaidOutAndPreviewed) {
    // The layout the chooser's fields choose, handed to the preview.
    std::optional<Document> shown;
    window = std::make_unique<TRpt>(*dm, S("Artist"), TRpt::Hooks{{}, {}, [&](const Document& d) { shown = d; }});
    window->show();
    {
        OnNextModal chooser([](QWidget* w) { child<QPushButton>(w, S("OKBtn"))->click(); }, window.get());
        find<QPushButton>("Button1")->click();
    }
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->jobTitle, S("Albumora"));
    const QStringList text = shown->text();
    EXPECT_EQ(text.mid(0, 5), (QStringList{"My Music Collection Page 1", "ID: 0a000001", "Artist: Abba", "Album: Album 1", "1 Song"}));
    EXPECT_TRUE(text.contains(S("Albums printed: 3")));
    EXPECT_EQ(status(), kReportIdle);

    // Only ARTIST: the artist list.
    shown.reset();
    {
        OnNextModal chooser([](QWidget* w) {
            child<QPushButton>(w, S("ExAllBtn"))->click();
            auto* src = child<QListWidget>(w, S("SrcList"));
            for (int i = 0; i < src->count(); ++i) src->item(i)->setSelected(src->item(i)->text() == S("ARTIST"));
            child<QPushButton>(w, S("IncludeBtn"))->click();
            child<QPushButton>(w, S("OKBtn"))->click();
        }, window.get());
        find<QPushButton>("Button1")->click();
    }
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->jobTitle, S("Albumora - Artist List"));

    // Without a preview hook the print preview opens over the layout.
    open();
    std::unique_ptr<OnNextModal> preview;
    QString previewed, pages;
    const QString pdf = dir.file(S("saved.pdf"));
    OnNextModal chooser([&](QWidget* w) {
        child<QPushButton>(w, S("OKBtn"))->click();
        // Armed once the chooser has closed: the next modal window past the report writer.
        preview = std::make_unique<OnNextModal>(
            [&](QWidget* p) {
                previewed = p->objectName();
                pages = child<QLabel>(p, S("PageLabel"))->text();
                child<QPushButton>(p, S("ZoomIn"))->click();
                desk.prompts.answer(std::optional<QString>(pdf));
                child<QPushButton>(p, S("PdfButton"))->click();
                child<QPushButton>(p, S("CloseButton"))->click();
            },
            window.get());
    }, window.get());
    find<QPushButton>("Button1")->click();
    EXPECT_EQ(previewed, S("Preview"));
    EXPECT_EQ(pages, S("Page 1 of 1"));
    const auto saved = test::runProcess(S("pdftotext"), {pdf, S("-")});
    EXPECT_EQ(saved.exitCode, 0) << saved.err.toStdString();
    EXPECT_TRUE(saved.out.contains(S("Albums printed:"))) << saved.out.toStdString();
}

}  // namespace
