// The printed layouts as albumora-cli lays them out into PDF files, read back with pdftotext:
// the lines, totals and page numbers the layouts compute.
#include "DMcd.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace albumora;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

struct Track {
    const char* title;
    int secs;
    bool marked = false;
};
struct Album {
    QString id, artist, album, label, media, notes;
    std::vector<Track> tracks;
};

class PrintedReportTest : public ::testing::Test {
protected:
    void write(const std::vector<Album>& albums) {
        store::TDM dm(dir.path());
        ASSERT_TRUE(dm.EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm.OpenCollectionTables().isOk());
        for (const Album& a : albums) {
            store::Cursor& c = dm.tblAlbums;
            ASSERT_TRUE(c.append().isOk());
            const std::pair<const char*, QString> values[] = {{"ID", a.id},       {"Artist", a.artist}, {"Album", a.album},
                                                              {"Label", a.label}, {"Media", a.media},   {"Genre", S("rock")},
                                                              {"Notes", a.notes}};
            for (const auto& [field, value] : values) ASSERT_TRUE(c.setText(QString::fromLatin1(field), value).isOk());
            ASSERT_TRUE(c.post().isOk());
            int nr = 0;
            for (const Track& t : a.tracks) {
                const QString number = store::TDM::PadNumber(++nr, 3);
                store::Cursor& cd = dm.tblCD;
                ASSERT_TRUE(cd.append().isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("ID"), a.id).isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("NR"), number).isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("Track"), S(t.title)).isOk());
                ASSERT_TRUE(cd.setText(QStringLiteral("Secs"), QString::number(t.secs)).isOk());
                ASSERT_TRUE(cd.post().isOk());
                if (t.marked) {
                    ASSERT_TRUE(dm.tblPlayList.append().isOk());
                    ASSERT_TRUE(dm.tblPlayList.setText(QStringLiteral("ID"), a.id).isOk());
                    ASSERT_TRUE(dm.tblPlayList.setText(QStringLiteral("NR"), number).isOk());
                    ASSERT_TRUE(dm.tblPlayList.post().isOk());
                }
            }
            // The artist list reads the artists table.
            ASSERT_TRUE(dm.tblArtists.append().isOk());
            ASSERT_TRUE(dm.tblArtists.setText(QStringLiteral("ID"), a.id).isOk());
            ASSERT_TRUE(dm.tblArtists.setText(QStringLiteral("Artist"), a.artist).isOk());
            ASSERT_TRUE(dm.tblArtists.post().isOk());
        }
        ASSERT_TRUE(dm.FlushCollection().isOk());
    }
    // The report's text as pdftotext gives it, one string per page.
    QStringList report(const QStringList& args) {
        const QString pdf = dir.file(QStringLiteral("report.pdf"));
        QFile::remove(pdf);
        const auto r = test::runCli(QStringList{QStringLiteral("--data"), dir.path(), QStringLiteral("report")} + args +
                                    QStringList{QStringLiteral("--pdf"), pdf});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        const auto text = test::runProcess(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
        QStringList pages = text.out.split(QLatin1Char('\f'));
        if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
        return pages;
    }
    static QStringList lines(const QString& page) {
        QStringList out;
        for (const QString& l : page.split(QLatin1Char('\n')))
            if (!l.trimmed().isEmpty()) out << l.simplified();
        return out;
    }
    TempFolder dir;
};

TEST_F(PrintedReportTest, TheAlbumReportWithItsBandsAndTotals) {
    std::vector<Album> albums = {
        {S("0a000001"), S("Abba"), S("Arrival"), S("Shelf A"), S("CR"),
         S("COST=10.50\r\nEXTT0=Track text\r\nEXTD=\\n\\nLiner notes\\n\r\nSigned"), {{"Dancing Queen", 230, true}, {"Money", 185}}},
        {S("0a000002"), S("Cream"), S("Wheels"), S("Box 2"), S("VL"), S("COST=4\r\nVALUE=7.25"), {{"White Room", 300}}},
    };
    // Enough albums for a second page.
    for (int i = 3; i <= 40; ++i)
        albums.push_back({S("0a0000%1").arg(i, 2, 10, QLatin1Char('0')), S("Zed %1").arg(i, 2, 10, QLatin1Char('0')), S("More"), S("B"), S("CR"), S(""), {{"One", 60}, {"Two", 60}}});
    write(albums);

    QStringList pages = report({QStringLiteral("album"), QStringLiteral("--fields"), QStringLiteral("ALBUM,ARTIST,ID,Notes,COST,VALUE,IX"),
                                QStringLiteral("--title"), QStringLiteral("Shelf List")});
    ASSERT_GE(pages.size(), 2);
    QStringList first = lines(pages[0]);
    EXPECT_EQ(first.value(0), S("Shelf List Page 1"));
    EXPECT_EQ(first.mid(1, 9), (QStringList{"ID: 0a000001", "Artist: Abba", "Album: Arrival", "Media: CR Label: Shelf A Index:", "COST=10.50",
                                            "Liner notes", "Signed", "Valuation: Purchase Cost 10.50 Current Value", "* 1 Dancing Queen"}));
    EXPECT_EQ(lines(pages[1]).value(0), S("Shelf List Page 2"));
    const QStringList last = lines(pages.last());
    EXPECT_TRUE(last.contains(S("Albums printed: 40"))) << last.join(QLatin1Char('\n')).toStdString();
    // 10.50 + 4 = 14.50; 7.25 alone.
    EXPECT_TRUE(last.last().startsWith(S("Total Collection Valuation: Purchase Cost: 14.50 Current Value 7.25")))
        << last.join(QLatin1Char('\n')).toStdString();

    // ALBUM and ARTIST alone: the two lines of each album and nothing else; no header for a blank title.
    pages = report({QStringLiteral("album"), QStringLiteral("--fields"), QStringLiteral("ALBUM,ARTIST"), QStringLiteral("--no-tracks"),
                    QStringLiteral("--title"), QStringLiteral("   ")});
    first = lines(pages[0]);
    EXPECT_EQ(first.mid(0, 4), (QStringList{"Artist: Abba", "Album: Arrival", "Artist: Cream", "Album: Wheels"}));

    // The artist list: every artist, whatever the filters.
    pages = report({QStringLiteral("artist"), QStringLiteral("--albums-filter"), QStringLiteral("artist=\"Abba\""), QStringLiteral("--title"),
                    QStringLiteral("Who")});
    first = lines(pages[0]);
    EXPECT_EQ(first.mid(0, 3), (QStringList{"Who Page 1", "Abba", "Cream"}));
    EXPECT_EQ(lines(pages.last()).last(), S("Total number of artists: 40"));
}

TEST_F(PrintedReportTest, TheMediaReportGroupsCountsAndTimes) {
    write({
        {S("0a000001"), S("Abba"), S("Arrival"), S("Box A"), S("CR"), S(""), {{"One", 100}, {"Two", 200}}},
        // "Tape 1" and "tape 1" are one medium; an untimed track counts as 3 minutes.
        {S("0a000002"), S("Cream"), S("Wheels"), S("Tape 1"), S("CS"), S(""), {{"White Room", 60}, {"Untimed", 0}}},
        {S("0a000003"), S("Various Artists"), S("Hits"), S("tape 1"), S("CS"), S(""), {{"Ann / Song", 30}}},
        // An album with playlist rows gives only its marked tracks.
        {S("0a000004"), S("Dido"), S("No Angel"), S("Zip"), S("MD"), S(""), {{"Here", 50}, {"Thank You", 60, true}, {"Hunter", 70}}},
        // No label, or on the local drive: not a medium of this report.
        {S("0a000005"), S("Eno"), S("Music"), S(""), S("CR"), S(""), {{"1/1", 100}}},
        {S("0a000006"), S("Fela"), S("Zombie"), S("C:\\Music"), S("LD"), S(""), {{"Zombie", 100}}},
    });
    QStringList text = lines(report({QStringLiteral("media"), QStringLiteral("--title"), QStringLiteral("Media")}).join(QString()));
    const QStringList expected = {
        "Media Page 1",
        "Box A (CD-R)",
        "001. Abba / One 1:40",
        "002. Abba / Two 3:20",
        "Time used up on this media: 5:02",  // 100 + 2 + 200 + 2 - 2
        "Tape 1 (cassette)",
        "001. Cream / White Room 1:00",
        "002. Cream / Untimed 0:00",
        "003. Ann / Song 0:30",
        "Time used up on this media: 4:34",  // 62 + 182 + 32 - 2
        "Tracks without timing are estimated at 3 minutes each in calculating time used",
        "Zip (minidisc)",
        "001. Dido / Thank You 1:00",
        "Time used up on this media: 1:02",
        "Grand total for all media 10:38",  // 302 + 274 + 62
    };
    EXPECT_EQ(text.mid(0, expected.size()), expected) << text.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(text.contains(S("Filter Expression used: (NOT empty(label)) and (media <>\"LD\")"))) << text.join(QLatin1Char('\n')).toStdString();

    // The last medium's time in the summary keeps its last gap.
    text = lines(report({QStringLiteral("media"), QStringLiteral("--albums-filter"), QStringLiteral("label=\"Box A\"")}).join(QString()));
    EXPECT_TRUE(text.contains(S("Time used up on this media: 5:04"))) << text.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(text.contains(S("Filter Expression used: label=\"Box A\""))) << text.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(text.join(QLatin1Char('\n')).contains(S("without timing")));

}

// No album with a label off the local drive: the media report has no medium, so nothing is
// printed and no file is written.
TEST_F(PrintedReportTest, AMediaReportWithoutAMediumPrintsNothing) {
    write({{S("0a000001"), S("Eno"), S("Music"), S(""), S("CR"), S(""), {{"1/1", 100}}},
           {S("0a000002"), S("Fela"), S("Zombie"), S("C:\\Music"), S("LD"), S(""), {{"Zombie", 100}}}});
    const QString pdf = dir.file(QStringLiteral("none.pdf"));
    const auto r = test::runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("report"), QStringLiteral("media"), QStringLiteral("--pdf"), pdf});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("albumora-cli: There is nothing to print: no record passes\n"));
    EXPECT_FALSE(QFileInfo::exists(pdf));
}

}  // namespace
