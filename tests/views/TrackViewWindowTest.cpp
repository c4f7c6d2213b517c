// The tracks view window driven through its controls by objectName, with scripted prompts.
#include "TrkViewF.h"
#include "TrackViewFixture.h"

#include "Banded.h"
#include "Modal.h"

#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

using namespace albumora;
using namespace albumora::views;
using test::child;
using test::OnNextModal;

namespace {

QString S(const char* s) { return QString::fromUtf8(s); }

class TrackViewWindowTest : public test::TrackViewFixture {
protected:
    std::unique_ptr<TTrkView> openWindow() {
        TTrkView::Hooks hooks;
        hooks.goToAlbum = [this](const QString& id) { wentTo = id; };
        hooks.trackInfo = [this](store::Cursor& row) { infoFor << row.text(S("TRACK")); };
        hooks.collectionEmpty = [this] { return collectionEmpty; };
        hooks.openHelpPage = [this](const QString& page) { helpPages << page; };
        hooks.preview = [this](const reports::Document& doc) { previewedPages = int(doc.pages.size()); };
        auto w = std::make_unique<TTrkView>(*dm, std::move(hooks));
        w->show();
        w->FormShow();
        grid = child<QTableView>(w.get(), S("DBGrid1"));
        return w;
    }
    QString status(TTrkView& w) { return child<QLabel>(&w, S("StatusText"))->text(); }
    QString cell(int row, int column) { return grid->model()->index(row, column).data().toString(); }
    QString currentArtist() { return cell(grid->currentIndex().row(), 1); }
    bool sortMark(int column) { return grid->model()->headerData(column, Qt::Horizontal, Qt::BackgroundRole).isValid(); }

    QTableView* grid = nullptr;
    QString wentTo;
    QStringList infoFor, helpPages;
    bool collectionEmpty = false;
    int previewedPages = -1;
};

TEST_F(TrackViewWindowTest, FilterSortAndJumpThroughTheControls) {
    auto w = openWindow();
    EXPECT_EQ(w->windowTitle(), S(" Albumora - Tracks View"));
    EXPECT_TRUE(grid->isEnabled());
    EXPECT_EQ(grid->model()->rowCount(), 9);
    EXPECT_EQ(status(*w), S("One row for each of the 9 tracks"));
    EXPECT_TRUE(sortMark(0));
    auto* noFilter = child<QPushButton>(w.get(), S("NoFilter"));
    EXPECT_FALSE(noFilter->isEnabled());

    auto* combo = child<QComboBox>(w.get(), S("ComboBox1"));
    combo->setEditText(S("contains(artist,\"bob dylan\") AND NOT marked"));
    child<QPushButton>(w.get(), S("Button3"))->click();
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(status(*w), S("2 tracks pass filter: contains(artist,\"bob dylan\") AND NOT marked"));
    EXPECT_TRUE(noFilter->isEnabled());
    EXPECT_EQ(combo->itemText(0), S("contains(artist,\"bob dylan\") AND NOT marked"));
    // An expression with an unclosed quote says so and leaves the filter.
    combo->setEditText(S("artist=\"Bob"));
    child<QPushButton>(w.get(), S("Button3"))->click();
    EXPECT_EQ(desk.prompts.last(), S("Invalid Filter Expression\rartist=\"Bob"));
    EXPECT_EQ(grid->model()->rowCount(), 2);
    // Escape cancels the filter, not the window, wherever the focus is; without a filter it
    // does nothing.
    QTest::keyClick(combo, Qt::Key_Escape);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(noFilter->isEnabled());
    EXPECT_EQ(grid->model()->rowCount(), 9);
    EXPECT_EQ(status(*w), S("One row for each of the 9 tracks"));
    QTest::keyClick(child<QPushButton>(w.get(), S("Button3")), Qt::Key_Escape);
    QTest::keyClick(grid, Qt::Key_Escape);
    EXPECT_TRUE(w->isVisible());

    // GENRE has no tag; ARTIST sorts, and a second click steps to the next artist.
    w->DBGrid1TitleClick(3);
    EXPECT_EQ(desk.prompts.last(), tviewmsg::kCannotOrder);
    w->DBGrid1TitleClick(1);
    EXPECT_TRUE(sortMark(1));
    EXPECT_FALSE(sortMark(0));
    grid->setCurrentIndex(grid->model()->index(0, 0));
    EXPECT_EQ(currentArtist(), S("Abba"));
    w->DBGrid1TitleClick(1);
    EXPECT_EQ(currentArtist(), S("Bob Dylan"));
    // A letter typed in the grid goes to the first artist at or after it.
    QTest::keyClick(grid, 's');
    EXPECT_EQ(currentArtist(), S("Simon & Garfunkel"));

    child<QPushButton>(w.get(), S("helpButton"))->click();
    child<QPushButton>(w.get(), S("Button2"))->click();
    EXPECT_EQ(helpPages, (QStringList{S("CDhelp2.html#tview"), S("report.html#filter")}));
    child<QPushButton>(w.get(), S("HTML"))->click();
    EXPECT_EQ(desk.prompts.last(), tviewmsg::kNoWebPage);
    w->close();
    EXPECT_FALSE(dm->tblTView.isOpen());
}

TEST_F(TrackViewWindowTest, TheWindowDoesNotCloseUnderTheBuild) {
    TTrkView::Hooks hooks;
    TTrkView w(*dm, hooks);
    w.show();
    // Events are served while the table is built; a close arriving then waits for the build.
    QTimer::singleShot(0, &w, [&w] { w.reject(); });
    w.FormShow();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.ready());
    EXPECT_EQ(child<QTableView>(&w, S("DBGrid1"))->model()->rowCount(), 9);
    w.reject();
    EXPECT_FALSE(w.isVisible());
}

TEST_F(TrackViewWindowTest, OutputsOfTheShownOrTheSelectedRows) {
    auto w = openWindow();
    // Two selected rows: the DJ list holds only them.
    grid->selectionModel()->select(grid->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    grid->selectionModel()->select(grid->model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QString first = cell(0, 0), fourth = cell(3, 0);
    child<QPushButton>(w.get(), S("DJbutton"))->click();
    EXPECT_EQ(desk.prompts.last(), S("DJintel.csv created for upload to DJ Intelligence"));
    const QByteArray dj = test::fileBytes(dir.file(S("DJintel.csv")));
    EXPECT_EQ(dj.count("\r\n"), 2) << dj.toStdString();
    EXPECT_TRUE(dj.contains(first.toUtf8()) && dj.contains(fourth.toUtf8())) << dj.toStdString();
    EXPECT_EQ(status(*w), S("One row for each of the 9 tracks"));

    // A CSV file of every row: the chooser takes all offered fields.
    grid->clearSelection();
    {
        OnNextModal chooser([](QWidget* d) {
            child<QPushButton>(d, S("IncAllBtn"))->click();
            child<QPushButton>(d, S("OKBtn"))->click();
        });
        child<QPushButton>(w.get(), S("csvButton"))->click();
        EXPECT_TRUE(chooser.fired());
    }
    const QString csv = dir.file(S("program.csv"));
    EXPECT_EQ(desk.prompts.last(), S("Created report file:\r") + csv);
    const QList<QByteArray> lines = test::fileBytes(csv).split('\n');
    EXPECT_EQ(lines.size(), 11);  // header, nine rows, nothing after the last line end
    EXPECT_TRUE(lines[0].startsWith("\"TRACK\",\"ALBUM\",\"ARTIST\"")) << lines[0].toStdString();

    // Cancelling the chooser makes nothing; the report goes to the preview.
    const size_t shown = desk.prompts.shown.size();
    {
        OnNextModal chooser([](QWidget* d) { child<QPushButton>(d, S("CancelBtn"))->click(); });
        child<QPushButton>(w.get(), S("xmlButton"))->click();
    }
    EXPECT_EQ(desk.prompts.shown.size(), shown);
    EXPECT_FALSE(QFileInfo::exists(dir.file(S("program.xml"))));
    {
        OnNextModal chooser([](QWidget* d) {
            child<QPushButton>(d, S("IncludeBtn"))->click();
            child<QPushButton>(d, S("OKBtn"))->click();
        });
        child<QPushButton>(w.get(), S("RptButton"))->click();
    }
    EXPECT_EQ(previewedPages, 1);

    child<QPushButton>(w.get(), S("Button4"))->click();
    EXPECT_EQ(desk.prompts.last(), S("Created ") + dir.file(S("_TVIEW.DBF")));
    EXPECT_EQ(readRows(S("_TVIEW.DBF")).size(), 9);
}

TEST_F(TrackViewWindowTest, DetailsAndTheSwitchToTheAlbum) {
    auto w = openWindow();
    grid->setCurrentIndex(grid->model()->index(2, 0));
    const QString track = cell(2, 0);
    child<QPushButton>(w.get(), S("BtnDetails"))->click();
    EXPECT_EQ(infoFor, QStringList{track});
    collectionEmpty = true;
    child<QPushButton>(w.get(), S("BtnDetails"))->click();
    EXPECT_EQ(desk.prompts.last(), S("There are no albums in your collection yet"));
    EXPECT_EQ(infoFor.size(), 1);

    const QString id = dm->tblTView.textOfRecord(dm->tblTView.recNo(), dm->tblTView.fieldIndex(S("ID")));
    child<QPushButton>(w.get(), S("Button1"))->click();
    EXPECT_EQ(wentTo, id);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(dm->tblTView.isOpen());
}

}  // namespace
