// The tracks view without its window: TVIEW.DBF as the build rules make it, read back by
// python3-dbfread and the CDX checker; the filter, orders and outputs over it.
#include "TrackView.h"
#include "TrackViewFixture.h"

#include "File.h"
#include "Journal.h"
#include "Table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace albumora;
using namespace albumora::views;
using albumora::test::kTrackViewRows;

namespace {

class TrackViewTest : public test::TrackViewFixture {
protected:
    TrackView& openView() {
        view = std::make_unique<TrackView>(*dm);
        statuses.clear();
        EXPECT_STORE_OK(view->open([this](const QString& s) { statuses << s; }));
        return *view;
    }
    // The given column of every row the view shows, in its order.
    QStringList column(const QString& field) {
        QStringList out;
        EXPECT_STORE_OK(view->rows().forEachRow([&]() -> store::Status {
            out << view->rows().text(field);
            return {};
        }));
        return out;
    }
    QByteArray bytes(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return f.readAll();
    }
    std::unique_ptr<TrackView> view;
    QStringList statuses;
};

TEST_F(TrackViewTest, TheBuildListsEveryAlbumUnderEachArtistRowThatNamesIt) {
    TrackView& v = openView();
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("Creating Tracks View table..."), QStringLiteral("Creating Track tag"),
                                     QStringLiteral("Creating Artist tag"), QStringLiteral("Creating Album tag")}));
    EXPECT_EQ(v.baseStatus(), QStringLiteral("One row for each of the 9 tracks"));
    v.close();
    // The compilation is listed under its own artist with whole titles and under Abba and Bowie
    // with the song part; the rows naming a gone album or track are skipped.
    EXPECT_EQ(readRows(QStringLiteral("TVIEW.DBF")), kTrackViewRows);
    const auto check = test::cdxcheck(dir.file(QStringLiteral("TVIEW.CDX")), dir.file(QStringLiteral("TVIEW.DBF")));
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    // Nothing of the build is left beside the table.
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral(".TVIEW*")}, QDir::AllEntries | QDir::Hidden).isEmpty());

    // Opened again, the table is reused as it is; without its index file only the tags are made.
    openView();
    EXPECT_TRUE(statuses.isEmpty()) << statuses.join(QLatin1Char(',')).toStdString();
    view->close();
    ASSERT_STORE_OK(store::removeFile(dir.file(QStringLiteral("TVIEW.CDX"))));
    openView();
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("Creating Track tag"), QStringLiteral("Creating Artist tag"),
                                     QStringLiteral("Creating Album tag")}));
    EXPECT_EQ(column(QStringLiteral("TRACK")).first(), QStringLiteral("Abba / Dancing Queen"));
}

// A table built while another writer committed (a confirm that asked for a new table) is not
// put in place: the build runs again and sees the new marks.
TEST_F(TrackViewTest, ABuildOverlappedByACommitIsBuiltAgain) {
    int builds = 0;
    const auto progress = [&](qint64 done, qint64 total) {
        if (done != total || ++builds != 1) return;
        auto tx = store::Transaction::begin(dir.path());
        ASSERT_STORE_OK(tx);
        store::Cursor marks;
        marks.setTablePath(dir.file(QStringLiteral("PLAYLIST.DBF")));
        ASSERT_STORE_OK(marks.open());
        ASSERT_STORE_OK(marks.append());
        ASSERT_STORE_OK(marks.setText(QStringLiteral("ID"), QStringLiteral("0a000003")));
        ASSERT_STORE_OK(marks.setText(QStringLiteral("NR"), QStringLiteral("  1")));
        ASSERT_STORE_OK(marks.post());
        ASSERT_STORE_OK(tx->commit());
    };
    auto built = BuildTrackViewTable(*dm, {}, progress);
    ASSERT_STORE_OK(built);
    EXPECT_EQ(builds, 2);
    const QStringList rows = readRows(QStringLiteral("TVIEW.DBF"));
    EXPECT_TRUE(rows.contains(QStringLiteral("Bridge / Over Troubled Water|Simon & Garfunkel|Bridge|folk|1970|0a000003|  1|x|0")))
        << rows.join(QLatin1Char('\n')).toStdString();
}

TEST_F(TrackViewTest, AWorkTableThatCannotBeReadOrABuildLeftByADeadProcessIsRebuilt) {
    // A half-written table of a build that died, and the folder a dead build left.
    ASSERT_TRUE(test::writeFileBytes(dir.file(QStringLiteral("TVIEW.DBF")), QByteArray("\x03\x7a\x01", 3)));
    const QString leftover = dir.file(QStringLiteral(".TVIEW.999999.build"));
    ASSERT_TRUE(QDir().mkpath(leftover));
    TrackView& v = openView();
    EXPECT_EQ(v.baseStatus(), QStringLiteral("One row for each of the 9 tracks"));
    EXPECT_FALSE(QFileInfo::exists(leftover));
}

class EmptyTrackViewTest : public TrackViewTest {
protected:
    void SetUp() override {
        seedCollection = false;
        seed();
    }
};

TEST_F(EmptyTrackViewTest, AnEmptyCollectionGivesAnEmptyView) {
    TrackView& v = openView();
    EXPECT_EQ(v.baseStatus(), QStringLiteral("One row for each of the 0 tracks"));
    EXPECT_TRUE(v.rows().isEmpty());
    auto dj = v.writeDjList({});
    ASSERT_STORE_OK(dj);
    EXPECT_TRUE(bytes(*dj).isEmpty());
}

TEST_F(TrackViewTest, FiltersCountWhatPassesAndRefuseWhatIsNoExpression) {
    TrackView& v = openView();
    auto r = v.setFilter(QStringLiteral("contains(artist,\"bob dylan\") AND NOT marked"));
    ASSERT_STORE_OK(r);
    EXPECT_EQ(*r, QStringLiteral("2 tracks pass filter: contains(artist,\"bob dylan\") AND NOT marked"));
    EXPECT_TRUE(v.filterOn());
    EXPECT_EQ(column(QStringLiteral("TRACK")), (QStringList{QStringLiteral("Rainy Day Women"), QStringLiteral("Visions of Johanna")}));

    // An expression the engine refuses (an unclosed quote, an unknown field) changes nothing.
    for (const QString& bad : {QStringLiteral("genre=\"jazz"), QStringLiteral("colour=\"red\"")}) {
        auto refused = v.setFilter(bad);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().text(), QStringLiteral("Invalid Filter Expression\r") + bad);
        EXPECT_EQ(column(QStringLiteral("TRACK")).size(), 2);
    }
    // An empty expression lets every row pass, and the filter counts as set.
    r = v.setFilter(QString());
    ASSERT_STORE_OK(r);
    EXPECT_EQ(*r, QStringLiteral("9 tracks pass filter: "));
    EXPECT_TRUE(v.filterOn());
    ASSERT_STORE_OK(v.setFilter(QStringLiteral("YR > \"1969\"")));
    EXPECT_EQ(column(QStringLiteral("GENRE")).size(), 6);
    ASSERT_STORE_OK(v.cancelFilter());
    EXPECT_FALSE(v.filterOn());
    EXPECT_EQ(column(QStringLiteral("TRACK")).size(), 9);
    // The history keeps what was set, most recent first, across an opening.
    v.close();
    TrackView again(*dm);
    again.history().load();
    EXPECT_EQ(again.history().items().mid(0, 2), (QStringList{QStringLiteral("YR > \"1969\""),
                                                               QStringLiteral("contains(artist,\"bob dylan\") AND NOT marked")}));
}

TEST_F(TrackViewTest, TitlesSortStepToTheNextValueOrAreRefused) {
    TrackView& v = openView();
    for (const char* field : {"GENRE", "YR", "Time", "x"}) {
        auto r = v.titleClick(QString::fromLatin1(field));
        ASSERT_FALSE(r) << field;
        EXPECT_EQ(r.error().text(), tviewmsg::kCannotOrder);
    }
    EXPECT_EQ(v.sortField(), QStringLiteral("Track"));
    auto r = v.titleClick(QStringLiteral("ARTIST"));
    ASSERT_STORE_OK(r);
    EXPECT_TRUE(*r);
    // The row stays current in the new order.
    EXPECT_EQ(v.rows().text(QStringLiteral("TRACK")), QStringLiteral("Abba / Dancing Queen"));
    ASSERT_STORE_OK(v.rows().first());
    EXPECT_EQ(v.rows().text(QStringLiteral("ARTIST")), QStringLiteral("Abba"));
    // A second click on the sort column steps to the next artist, from the last row of a run
    // as from the first.
    const QStringList expected = {QStringLiteral("Bob Dylan"), QStringLiteral("Bowie"), QStringLiteral("Simon & Garfunkel"),
                                  QStringLiteral("Various")};
    for (const QString& next : expected) {
        r = v.titleClick(QStringLiteral("Artist"));
        ASSERT_STORE_OK(r);
        EXPECT_FALSE(*r);
        EXPECT_EQ(v.rows().text(QStringLiteral("ARTIST")), next);
    }
    // Within Various the rows go by title; on the last row of the table the step stays there.
    ASSERT_STORE_OK(v.rows().last());
    const auto last = v.rows().recNo();
    ASSERT_STORE_OK(v.titleClick(QStringLiteral("ARTIST")));
    EXPECT_EQ(v.rows().recNo(), last);
    EXPECT_EQ(v.rows().text(QStringLiteral("TRACK")), QStringLiteral("Cher / Believe"));

    // A letter goes to the first row at or after it in the current order.
    ASSERT_STORE_OK(v.jump(QLatin1Char('c')));
    EXPECT_EQ(v.rows().text(QStringLiteral("ARTIST")), QStringLiteral("Simon & Garfunkel"));
    ASSERT_STORE_OK(v.titleClick(QStringLiteral("Album")));
    ASSERT_STORE_OK(v.jump(QLatin1Char('h')));
    EXPECT_EQ(v.rows().text(QStringLiteral("ALBUM")), QStringLiteral("Hits & Misses"));
}

TEST_F(TrackViewTest, TheDjListIsInArtistOrderWithValuesAsTheyAre) {
    TrackView& v = openView();
    ASSERT_STORE_OK(v.setFilter(QStringLiteral("genre=\"rock\" OR genre=\"folk\"")));
    ASSERT_STORE_OK(v.jump(QLatin1Char('r')));
    const auto before = v.rows().recNo();
    auto path = v.writeDjList({});
    ASSERT_STORE_OK(path);
    EXPECT_EQ(*path, QFileInfo(dir.file(QStringLiteral("DJintel.csv"))).absoluteFilePath());
    EXPECT_EQ(bytes(*path), QByteArray("\"Bob Dylan\",\"I Want \"You\"\",\"rock\",\"1966\"\r\n"
                                       "\"Bob Dylan\",\"Rainy Day Women\",\"rock\",\"1966\"\r\n"
                                       "\"Bob Dylan\",\"Visions of Johanna\",\"rock\",\"1966\"\r\n"
                                       "\"Simon & Garfunkel\",\"Bridge / Over Troubled Water\",\"folk\",\"1970\"\r\n"));
    // The view is as it was: its order, its row, its filter.
    EXPECT_EQ(v.rows().order(), QStringLiteral("Track"));
    EXPECT_EQ(v.rows().recNo(), before);
    EXPECT_EQ(column(QStringLiteral("TRACK")).size(), 4);
}

TEST_F(TrackViewTest, CsvAndXmlFilesCoverThePassingRowsOrOnlyTheSelected) {
    TrackView& v = openView();
    const QStringList fields = {QStringLiteral("TRACK"), QStringLiteral("x"), QStringLiteral("ARTIST"), QStringLiteral("LABEL"),
                                QStringLiteral("MC"),    QStringLiteral("sec"), QStringLiteral("Time")};
    ASSERT_STORE_OK(v.setFilter(QStringLiteral("ID=\"0a000001\"")));
    auto csv = v.writeFile(FileOutput::Csv, fields, dir.path(), {});
    ASSERT_STORE_OK(csv);
    EXPECT_EQ(QFileInfo(*csv).fileName(), QStringLiteral("program.csv"));
    EXPECT_EQ(bytes(*csv), QByteArray("\"TRACK\",\"Marked\",\"ARTIST\",\"LABEL\",\"MC\",\"sec\",\"Time\"\r\n"
                                      "\"I Want 'You'\",\"x\",\"Bob Dylan\",\"Shelf 1\",\"CD\",\"185\",\" 3:05\"\r\n"
                                      "\"Rainy Day Women\",\" \",\"Bob Dylan\",\"Shelf 1\",\"CD\",\"276\",\" 4:36\"\r\n"
                                      "\"Visions of Johanna\",\" \",\"Bob Dylan\",\"Shelf 1\",\"CD\",\"452\",\" 7:32\"\r\n"));

    // Two selected rows: only they, read by xmllint and by Python's XML parser.
    ASSERT_STORE_OK(v.cancelFilter());
    std::vector<store::Cursor::Bookmark> two;
    ASSERT_STORE_OK(v.rows().forEachRow([&]() -> store::Status {
        const QString t = v.rows().text(QStringLiteral("TRACK"));
        if (t == QLatin1String("Cher / Believe") || t == QLatin1String("Dancing Queen")) two.push_back(v.rows().bookmark());
        return {};
    }));
    ASSERT_EQ(two.size(), 2u);
    auto xml = v.writeFile(FileOutput::Xml, fields, dir.path(), two);
    ASSERT_STORE_OK(xml);
    const auto lint = test::runProcess(QStringLiteral("xmllint"), {QStringLiteral("--noout"), *xml});
    EXPECT_EQ(lint.exitCode, 0) << lint.err.toStdString();
    const auto parsed = test::runPython(QStringLiteral(R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(';'.join(f.get('FieldName') + ':' + f.get('FieldType') for f in root.iter('FIELD')))
for row in root.iter('ROW'):
    print('|'.join(row.get(k) for k in ['TRACK', 'Marked', 'ARTIST', 'sec', 'Time']))
)"),
                                        {*xml});
    ASSERT_EQ(parsed.exitCode, 0) << parsed.err.toStdString();
    EXPECT_EQ(parsed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("TRACK:String;Marked:String;ARTIST:String;LABEL:String;MC:String;sec:Integer;Time:String"),
                           QStringLiteral("Cher / Believe|x|Various|240| 4:00"), QStringLiteral("Dancing Queen| |Abba|231| 3:51")}));
    // The copy of the selection is closed again, and the view's rows are all there.
    EXPECT_FALSE(store::Table::isOpenInProcess(dir.file(QStringLiteral("temptrk.dbf"))));
    EXPECT_EQ(readRows(QStringLiteral("temptrk.dbf")).size(), 2);
    EXPECT_EQ(column(QStringLiteral("TRACK")).size(), 9);

    // A folder that cannot be written is an error, and the last good file stays.
    auto refused = v.writeFile(FileOutput::Csv, fields, dir.file(QStringLiteral("no/such/folder")), {});
    EXPECT_FALSE(refused);
    EXPECT_TRUE(bytes(*csv).startsWith("\"TRACK\",\"Marked\""));
}

TEST_F(TrackViewTest, TheDbfCopyHoldsThePassingRowsForOtherPrograms) {
    TrackView& v = openView();
    ASSERT_STORE_OK(v.setFilter(QStringLiteral("marked")));
    auto path = v.copyTable();
    ASSERT_STORE_OK(path);
    EXPECT_EQ(QFileInfo(*path).fileName(), QStringLiteral("_TVIEW.DBF"));
    QStringList marked;
    for (const QString& row : kTrackViewRows)
        if (row.contains(QLatin1String("|x|"))) marked << row;
    QStringList got = readRows(QStringLiteral("_TVIEW.DBF"));
    std::sort(got.begin(), got.end());
    std::sort(marked.begin(), marked.end());
    EXPECT_EQ(got, marked);
    // A second copy replaces the first.
    ASSERT_STORE_OK(v.cancelFilter());
    ASSERT_STORE_OK(v.copyTable());
    EXPECT_EQ(readRows(QStringLiteral("_TVIEW.DBF")).size(), 9);
}

}  // namespace
