// The report writer's selection and file outputs over a real collection, read back with
// independent readers: xmllint and Python's XML, CSV and HTML parsers.
#include "DMcd.h"
#include "Export.h"
#include "ExportFormat.h"
#include "FakeDesktop.h"
#include "FilterHistory.h"
#include "Layouts.h"
#include "Selection.h"
#include "Table.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <tuple>

using namespace albumora;
using namespace albumora::reports;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

struct Album {
    const char* id;
    const char* artist;
    const char* album;
    const char* label;
    const char* ix;
    QStringList tracks;
    const char* notes = "";
    QStringList marked = {};
};

const std::vector<Album> kAlbums = {
    {"0a000001", "Simon & Garfunkel", "Bridge \"Over\" Water", "Tom & Jerry", "2", {"Bridge", "El Condor Pasa", "Cecilia \"live\""},
     "COST=10.50\r\nVALUE= 20 \r\nBought at a fair"},
    {"0a000002", "Abba", "Arrival", "Shelf A", "1", {"Dancing Queen", "Money, Money, Money"}, "COST=4", {"  2"}},
    {"0a000003", "Björk", "Homogenic", "Box 1", "10", {"Jóga", "Bachelorette", "Love Song"}},
    {"0a000004", "abc", "Lexicon of Love", "", "3", {"Poison Arrow", "The Look of Love"}},
};

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<store::TDM>(dir.path());
        ASSERT_TRUE(dm->EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm->OpenCollectionTables().isOk());
        for (const Album& a : kAlbums) {
            store::Cursor& c = dm->tblAlbums;
            ASSERT_TRUE(c.append().isOk());
            const std::pair<const char*, QString> values[] = {{"ID", S(a.id)},       {"Artist", S(a.artist)}, {"Album", S(a.album)},
                                                              {"Label", S(a.label)}, {"IX", S(a.ix)},         {"Genre", S("rock")},
                                                              {"YR", S("1970")},     {"Notes", S(a.notes)}};
            for (const auto& [field, value] : values) ASSERT_TRUE(c.setText(QString::fromLatin1(field), value).isOk());
            ASSERT_TRUE(c.post().isOk());
            int nr = 0;
            for (const QString& t : a.tracks) {
                store::Cursor& cd = dm->tblCD;
                ASSERT_TRUE(cd.append().isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("ID"), S(a.id)).isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("NR"), store::TDM::PadNumber(++nr, 3)).isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("Track"), t).isOk());
                ASSERT_TRUE(cd.post().isOk());
            }
            for (const QString& nr : a.marked) {
                store::Cursor& p = dm->tblPlayList;
                ASSERT_TRUE(p.append().isOk());
                ASSERT_TRUE(p.setText(QStringLiteral("ID"), S(a.id)).isOk());
                ASSERT_TRUE(p.setText(QStringLiteral("NR"), nr).isOk());
                ASSERT_TRUE(p.post().isOk());
            }
        }
        ASSERT_TRUE(dm->FlushCollection().isOk());
    }
    // The IDs of the selection in its order.
    QStringList selectedIds(Selection& s) {
        QStringList ids;
        store::Cursor& a = s.albums();
        EXPECT_TRUE(a.first().isOk());
        while (!a.isEmpty()) {
            ids << a.text(QStringLiteral("ID"));
            EXPECT_TRUE(a.next().isOk());
            if (a.eof()) break;
        }
        return ids;
    }
    QString python(const QString& script, const QStringList& args) {
        const auto r = test::runPython(script, args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.out;
    }

    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<store::TDM> dm;
};

TEST_F(ExportTest, FiltersOrdersAndTheirMessages) {
    Selection s(*dm);
    struct Case {
        const char* what;
        SelectionRequest request;
        QStringList ids;  // empty: nothing selected
        QString error;
    };
    const Case cases[] = {
        // The Artist tag is upper(Artist)+upper(Album): "ABBAARRIVAL" before "ABCLEXICON".
        {"everything by artist", {{}, {}, Order::Artist, {}}, {"0a000002", "0a000004", "0a000003", "0a000001"}, {}},
        {"natural", {{}, {}, Order::Natural, {}}, {"0a000001", "0a000002", "0a000003", "0a000004"}, {}},
        // "1", "10", "2", "3" as text, then by the browser's order within an IX.
        {"IX", {{}, {}, Order::IX, QStringLiteral("Artist")}, {"0a000002", "0a000003", "0a000001", "0a000004"}, {}},
        {"tracks filter", {{}, QStringLiteral("contains(track,\"love\")"), Order::Album, {}}, {"0a000003", "0a000004"}, {}},
        {"both filters", {QStringLiteral("contains(artist,\"bj\")"), QStringLiteral("contains(track,\"love\")"), Order::Artist, {}},
         {"0a000003"}, {}},
        {"none in both", {QStringLiteral("artist=\"Abba\""), QStringLiteral("contains(track,\"love\")"), Order::Artist, {}}, {},
         selectionmsg::NoneMatchBoth(QStringLiteral("artist=\"Abba\""), QStringLiteral("contains(track,\"love\")"))},
        {"no album passes", {QStringLiteral("YR=\"2020\""), {}, Order::Artist, {}}, {}, selectionmsg::kNonePass + S("YR=\"2020\"")},
        {"no track passes", {{}, QStringLiteral("contains(track,\"zzz\")"), Order::Artist, {}}, {},
         selectionmsg::kNonePass + S("contains(track,\"zzz\")")},
        {"refused", {QStringLiteral("YR >"), {}, Order::Artist, {}}, {}, selectionmsg::kInvalid + S("YR >")},
    };
    FilterHistory albumsHistory(dir.file(QStringLiteral("albums.ini")));
    FilterHistory tracksHistory(dir.file(QStringLiteral("tracks.ini")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk.prompts.shown.clear();
        auto ok = s.prepare(c.request, &albumsHistory, &tracksHistory);
        ASSERT_TRUE(ok.isOk()) << ok.error().text().toStdString();
        EXPECT_EQ(*ok, !c.ids.isEmpty());
        if (*ok) {
            EXPECT_EQ(selectedIds(s), c.ids);
            EXPECT_EQ(*s.count(), c.ids.size());
        }
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), c.error.isEmpty() ? QStringList() : QStringList{c.error});
    }
    // The filters of a selection whose filters both passed went to their histories, most
    // recent first; a filter refused or passed by nothing did not.
    EXPECT_EQ(tracksHistory.items(), QStringList{"contains(track,\"love\")"});
    EXPECT_EQ(albumsHistory.items(), (QStringList{"artist=\"Abba\"", "contains(artist,\"bj\")"}));
}

TEST_F(ExportTest, CsvFilesReadBackByPythonsCsvReader) {
    Selection s(*dm);
    ASSERT_TRUE(*s.prepare({{}, QStringLiteral("contains(track,\"condor\")"), Order::Artist, {}}));
    DataFilesRequest r{FileKind::Csv, {"ALBUM", "ARTIST", "ID", "COST", "VALUE", "LABEL"}, true, dir.path()};
    auto written = WriteDataFiles(s, r);
    ASSERT_TRUE(written.isOk()) << written.error().text().toStdString();
    EXPECT_EQ(*written, (QStringList{dir.file("albums.csv"), dir.file("tracks.csv"), dir.file("playlist.csv")}));
    const QString out = python(QStringLiteral(R"(
import csv, sys
for name in sys.argv[1:]:
    raw = open(name, 'rb').read()
    assert raw.endswith(b'\r\n') and b'\n' not in raw.replace(b'\r\n', b''), name
    for row in csv.reader(open(name, encoding='cp1252', newline='')):
        print('|'.join(row))
)"),
                               {dir.file("albums.csv"), dir.file("tracks.csv"), dir.file("playlist.csv")});
    // The tracks filter chose the album; its tracks file still lists every track.
    EXPECT_EQ(out, S("ALBUM|ARTIST|ID|COST|VALUE|LABEL\n"
                     "Bridge 'Over' Water|Simon & Garfunkel|0a000001|10.50|20|Tom & Jerry\n"
                     "ID|NR|TRACK\n0a000001|  1|Bridge\n0a000001|  2|El Condor Pasa\n0a000001|  3|Cecilia 'live'\n"
                     "ID|NR\n"));
}

TEST_F(ExportTest, XmlFilesAreWellFormedAndHoldTheSelection) {
    // Notes with their line ends and a character XML cannot hold as it stands.
    ASSERT_TRUE(dm->tblAlbums.setOrder(QStringLiteral("ID")).isOk());
    ASSERT_TRUE(dm->tblAlbums.first().isOk());
    ASSERT_TRUE(dm->tblAlbums.edit().isOk());
    ASSERT_TRUE(dm->tblAlbums.setText(QStringLiteral("Notes"), S("COST=10.50\r\nSigned <by> all\x01\r\nTom & Jerry")).isOk());
    ASSERT_TRUE(dm->tblAlbums.post().isOk());
    ASSERT_TRUE(dm->FlushCollection().isOk());
    Selection s(*dm);
    ASSERT_TRUE(*s.prepare({{}, {}, Order::Natural, {}}));
    DataFilesRequest r{FileKind::Xml, {"ALBUM", "ARTIST", "ID", "LABEL", "COST", "Notes"}, true, dir.path()};
    auto written = WriteDataFiles(s, r);
    ASSERT_TRUE(written.isOk()) << written.error().text().toStdString();
    const auto lint = test::runProcess(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout")} + *written);
    EXPECT_EQ(lint.exitCode, 0) << lint.err.toStdString();
    const QString out = python(QStringLiteral(R"(
import sys, xml.etree.ElementTree as ET
for name in sys.argv[1:]:
    root = ET.parse(name).getroot()
    print(name.rsplit('/', 1)[1], [f.get('FieldName') + ':' + f.get('FieldType') for f in root.iter('FIELD')])
    for row in root.iter('ROW'):
        print(' ', repr(dict(row.attrib)))
)"),
                               *written);
    const QStringList lines = out.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 16) << out.toStdString();
    EXPECT_EQ(lines[0], S("albums.xml ['ALBUM:String', 'ARTIST:String', 'ID:String', 'LABEL:String', 'COST:Float', 'Notes:String']"));
    // "&" to "and" and quotes gone in the first three columns only; the notes keep their lines.
    EXPECT_EQ(lines[1], S("  {'ALBUM': 'Bridge Over Water', 'ARTIST': 'Simon and Garfunkel', 'ID': '0a000001', 'LABEL': 'Tom & Jerry', "
                          "'COST': '10.50', 'Notes': 'COST=10.50\\r\\nSigned <by> all?\\r\\nTom & Jerry'}"));
    EXPECT_EQ(lines[3], S("  {'ALBUM': 'Homogenic', 'ARTIST': 'Björk', 'ID': '0a000003', 'LABEL': 'Box 1', 'COST': '', 'Notes': ''}"));
    EXPECT_EQ(lines[5], S("tracks.xml ['ID:String', 'NR:Integer', 'TRACK:String']"));
    EXPECT_EQ(lines[8], S("  {'ID': '0a000001', 'NR': '3', 'TRACK': 'Cecilia live'}"));
    EXPECT_TRUE(out.contains(S("playlist.xml ['ID:String', 'NR:Integer']\n  {'ID': '0a000002', 'NR': '2'}\n"))) << out.toStdString();
    // The albums file has an empty line after <ROWDATA>, the others none.
    EXPECT_TRUE(test::fileBytes(dir.file("albums.xml")).contains("<ROWDATA>\r\n\r\n<ROW "));
    EXPECT_TRUE(test::fileBytes(dir.file("tracks.xml")).contains("<ROWDATA>\r\n<ROW ID=\"0a000001\" NR=\"1\" TRACK=\"Bridge\"/>\r\n"));
}

// A failure half way (a memo that cannot be read) leaves the last good files as they were, and
// no half-written file beside them.
TEST_F(ExportTest, AFailedExportKeepsTheLastGoodFiles) {
    {
        Selection s(*dm);
        ASSERT_TRUE(*s.prepare({{}, {}, Order::Natural, {}}));
        ASSERT_TRUE(WriteDataFiles(s, {FileKind::Csv, {"ALBUM", "COST"}, true, dir.path()}).isOk());
    }
    const QByteArray good = test::fileBytes(dir.file("albums.csv"));
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    dm->CloseAll();
    const QString fpt = dir.file("ALBUMS.FPT");
    const QByteArray memo = test::fileBytes(fpt);
    ASSERT_GT(memo.size(), 512);
    ASSERT_TRUE(test::writeFileBytes(fpt, memo.left(512)));  // the header alone
    ASSERT_TRUE(dm->OpenCollectionTables().isOk());
    Selection s(*dm);
    ASSERT_TRUE(*s.prepare({{}, {}, Order::Natural, {}}));
    auto failed = WriteDataFiles(s, {FileKind::Csv, {"ALBUM", "COST"}, true, dir.path()});
    ASSERT_FALSE(failed.isOk());
    EXPECT_TRUE(failed.error().text().contains(QStringLiteral("ALBUMS.FPT"))) << failed.error().text().toStdString();
    EXPECT_EQ(test::fileBytes(dir.file("albums.csv")), good);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), before);
}

TEST_F(ExportTest, TheWebPageBandsByInitialLetterAndEscapesItsValues) {
    Selection s(*dm);
    ASSERT_TRUE(*s.prepare({{}, {}, Order::Artist, {}}));
    const QString page = dir.file("Albumora.html");
    ASSERT_TRUE(WriteWebPage(s, {QStringLiteral("Tom's <Collection>"), true, Order::Artist, page}).isOk());
    const QString out = python(QStringLiteral(R"(
import sys
from html.parser import HTMLParser
class P(HTMLParser):
    def __init__(self):
        super().__init__(); self.rows = []; self.cell = None; self.title = ''; self.intitle = False
    def handle_starttag(self, tag, attrs):
        if tag == 'tr': self.rows.append([dict(attrs).get('bgcolor', '-')])
        if tag == 'td': self.cell = ''
        if tag == 'title': self.intitle = True
    def handle_endtag(self, tag):
        if tag == 'td': self.rows[-1].append(self.cell); self.cell = None
        if tag == 'title': self.intitle = False
    def handle_data(self, d):
        if self.cell is not None: self.cell += d
        if self.intitle: self.title += d
p = P(); p.feed(open(sys.argv[1], encoding='cp1252').read())
print(p.title)
for r in p.rows: print('|'.join(r))
)"),
                               {page});
    // Each new initial letter switches the band colour: "abc" and "Abba" share the "A" band.
    EXPECT_EQ(out, S("Tom's <Collection>\n"
                     "#DIDF9C|Abba|Arrival|Dancing Queen\n#DIDF9C|||Money, Money, Money\n"
                     "#DIDF9C|abc|Lexicon of Love|Poison Arrow\n#DIDF9C|||The Look of Love\n"
                     "#FFF09E|Björk|Homogenic|Jóga\n#FFF09E|||Bachelorette\n#FFF09E|||Love Song\n"
                     "#DIDF9C|Simon & Garfunkel|Bridge \"Over\" Water|Bridge\n#DIDF9C|||El Condor Pasa\n#DIDF9C|||Cecilia \"live\"\n"));
    EXPECT_TRUE(test::fileBytes(page).contains("<p>Total albums displayed: 4\r\n"));
}

// The track report's columns: ten units a character of each field's width, MC 8 more, sec and
// INDEX right-aligned, the Time heading one unit further right; the looked-up and computed
// fields as the tracks view shows them.
TEST_F(ExportTest, TheTrackReportLaysOutItsColumns) {
    const QString tview = dm->tablePath(QStringLiteral("TVIEW.DBF"));
    ASSERT_TRUE(store::Table::create(tview, *store::parseFieldList(store::TDM::kTViewFields)).isOk());
    store::Cursor& v = dm->tblTView;
    v.setTablePath(tview);
    ASSERT_TRUE(v.open().isOk());
    for (const auto& [id, title, secs, marked] : std::vector<std::tuple<QString, QString, QString, bool>>{
             {S("0a000002"), S("Dancing Queen"), S("230"), true}, {S("0a000003"), S("Jóga"), S("305"), false}}) {
        ASSERT_TRUE(v.append().isOk());
        ASSERT_TRUE(v.setText(QStringLiteral("ID"), id).isOk());
        ASSERT_TRUE(v.setText(QStringLiteral("Track"), title).isOk());
        ASSERT_TRUE(v.setText(QStringLiteral("sec"), secs).isOk());
        ASSERT_TRUE(v.setBoolean(QStringLiteral("marked"), marked).isOk());
        ASSERT_TRUE(v.post().isOk());
    }
    ASSERT_TRUE(v.flush().isOk());
    ASSERT_TRUE(dm->tblFilter.setOrder(QStringLiteral("ID")).isOk());
    ASSERT_TRUE(dm->tblFilter.open().isOk());
    auto doc = TrackReport(v, {"x", "TRACK", "MC", "INDEX", "sec", "Time"});
    ASSERT_TRUE(doc.isOk()) << doc.error().text().toStdString();
    EXPECT_EQ(doc->jobTitle, S("Albumora - Tracks Report"));
    EXPECT_EQ(doc->setup.margins.right(), 7.2);
    const QStringList text = doc->text();
    EXPECT_EQ(text, (QStringList{"x TRACK MC INDEX sec Time", "x Dancing Queen 1 230  3:50", "  Jóga 10 305  5:05", "",
                                 "Total number of tracks in this report: 2", "Filter Expression (if any):"}));
    const Line& headings = doc->pages[0].lines[0].line;
    const std::vector<double> starts = {0, 20, 410, 448, 518, 568};  // units: x 1, TRACK 38, MC 2+8/10, INDEX 6, sec 4, Time
    ASSERT_EQ(headings.items.size(), starts.size());
    for (size_t i = 0; i < starts.size(); ++i)
        EXPECT_DOUBLE_EQ(headings.items[i].x, (starts[i] + (i == 5 ? 1 : 0)) * kTrackUnit) << i;
    const Line& row = doc->pages[0].lines[1].line;
    EXPECT_TRUE(row.items[3].right);  // INDEX
    EXPECT_TRUE(row.items[4].right);  // sec
    EXPECT_FALSE(row.items[1].right);
    EXPECT_DOUBLE_EQ(row.items[2].width, 28 * kTrackUnit);  // MC
    EXPECT_DOUBLE_EQ(row.items[5].x, 568 * kTrackUnit);   // Time's data column without the heading's extra unit
}

TEST(ExportFormat, TheSharedConventions) {
    EXPECT_EQ(CsvHeader({"TRACK", "x", "ALBUM"}), S("\"TRACK\",\"Marked\",\"ALBUM\""));
    EXPECT_EQ(CsvRow({S("a \"b\""), S("c,d")}), S("\"a 'b'\",\"c,d\"\r\n"));
    EXPECT_EQ(XmlClean(S("R & B \"x\""), 2), S("R and B x"));
    EXPECT_EQ(XmlClean(S("R & B \"x\""), 3), S("R & B \"x\""));
    EXPECT_EQ(XmlText(S("R & B \"x\" <é>\t\n\x02")), S("R &amp; B &quot;x&quot; &lt;&#233;&gt;&#9;&#10;?"));
    EXPECT_EQ(XmlRow({{S("A"), S("1")}, {S("B"), S("&")}}), S("<ROW A=\"1\" B=\"&amp;\" />"));
}

}  // namespace
