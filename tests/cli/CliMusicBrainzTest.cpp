// albumora-cli add-cd, lookup, cover and discid against MusicBrainz and the Cover Art Archive
// as a web server process of the tests' own serves their real answers, with a disc image as the
// drive: what is stored in every table, the cover file, and that every failure stores nothing.
#include "Cursor.h"
#include "DiscImages.h"
#include "TestSupport.h"
#include "WebServer.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <map>
#include <memory>

using albumora::store::Cursor;
using albumora::test::MbData;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;
using albumora::test::WebServer;

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Two discs of tocs.tsv: Abbey Road (CDDB e50b3c11) and the second disc of Aerial (6309da09).
const albumora::test::DiscLayout kAbbeyRoad{{150, 19849, 33726, 49423, 65078, 78067, 113257, 127326, 139893, 158225, 169350,
                                             174474, 180081, 189063, 196083, 203467, 214139},
                                            215886,
                                            0};
const albumora::test::DiscLayout kAerial{{150, 6614, 32287, 54041, 61236, 88129, 92729, 115276, 153877}, 189343, 0};
const QString kAbbeyRoadId = S("4vi.H1hC7BRP18_a.7D4r4NOYL8-");
const QString kAbbeyRoadUs2009 = S("f15d1f3a-5bf4-3a96-95be-a801b3889dc6");
const QString kAerialId = S("IeldkVfIh1wep_M8CMuDvA0nQ7Q-");
const QString kOneRelease = S("ws2/xml/rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml");
const QString kFrontJpeg = S("/release/76df3287-6cda-33eb-8e9a-044b5e15ffdd/829521842-500.jpg");

QByteArray jpegBytes() {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(qRgb(20, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG"));
    return bytes;
}

class CliMusicBrainzTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TESTDATA();
        const ProcessResult r = cli({S("init")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        abbeyRoad = albumora::test::writeImage(discs.path(), S("abbey"), kAbbeyRoad, albumora::test::ImageKind::Cue);
        aerial = albumora::test::writeImage(discs.path(), S("aerial"), kAerial, albumora::test::ImageKind::Cue);
        jpeg = jpegBytes();
        ASSERT_FALSE(jpeg.isEmpty());
    }
    // Starts both servers over the routes given so far and points the settings file at them.
    void serve(const QStringList& options = {}, bool covers = true) {
        ASSERT_TRUE(web.start(options)) << web.failure().toStdString();
        ASSERT_TRUE(caa.start()) << caa.failure().toStdString();
        const QStringList ini = {S("[Current]"),
                                 S("MusicBrainz=") + web.base(),
                                 S("CoverArt=") + caa.base(),
                                 S("Covers=") + (covers ? S("1") : S("0")),
                                 S("Mail=tester@example.org"),
                                 // The answers carry no genre: the default one is taken.
                                 S("Genre=rock"),
                                 // Nothing here may reach a CD database.
                                 S("Host=127.0.0.1:9"),
                                 S("Sources=musicbrainz")};
        ASSERT_TRUE(albumora::test::writeFileBytes(data.file(S("Albumora.ini")), ini.join(S("\r\n")).toLatin1() + "\r\n"));
    }
    void serveAbbeyRoadWithCover() {
        web.route(S("/ws/2/discid/") + kAbbeyRoadId, 200, MbData(kOneRelease));
        caa.route(S("/release/") + kAbbeyRoadUs2009 + QLatin1Char('/'), 200,
                  MbData(S("caa/gocaa-release-76df3287-6cda-33eb-8e9a-044b5e15ffdd.json")));
        caa.routeBytes(kFrontJpeg, 200, S("front.jpg"), jpeg);
    }
    ProcessResult cli(const QStringList& args) const {
        return albumora::test::runCli(QStringList{S("--data"), data.path()} + args);
    }
    QStringList rows(const QString& table, const QStringList& fields, const QString& order = {}) const {
        Cursor c;
        c.setTablePath(data.file(table));
        if (!order.isEmpty()) {
            EXPECT_TRUE(c.setOrder(order).isOk());
        }
        EXPECT_TRUE(c.open().isOk()) << table.toStdString();
        QStringList out;
        albumora::store::Status st;
        for (st = c.first(); st && !c.isEmpty() && !c.eof(); st = c.next()) {
            QStringList values;
            for (const QString& f : fields) values << c.text(f).trimmed();
            out << values.join(QLatin1Char('|'));
        }
        EXPECT_TRUE(st.isOk()) << st.text().toStdString();
        return out;
    }
    QStringList notes(const QString& albumId) const {
        Cursor c;
        c.setTablePath(data.file(S("ALBUMS.DBF")));
        EXPECT_TRUE(c.setOrder(S("ID")).isOk());
        EXPECT_TRUE(c.open().isOk());
        const auto found = c.findKey({albumId});
        EXPECT_TRUE(found.isOk() && *found) << albumId.toStdString();
        const auto text = c.readText(S("Notes"));
        EXPECT_TRUE(text.isOk());
        return text ? text->split(S("\r\n"), Qt::SkipEmptyParts) : QStringList{};
    }
    // The bytes of every table, index and memo file of the data folder.
    std::map<QString, QByteArray> tableFiles() const {
        std::map<QString, QByteArray> out;
        for (const QString& f : QDir(data.path()).entryList({S("*.DBF"), S("*.CDX"), S("*.FPT")}, QDir::Files))
            out[f] = albumora::test::fileBytes(data.file(f));
        return out;
    }
    QString coverPath(const QString& albumId) const {
        return QDir::cleanPath(QDir(data.path()).absoluteFilePath(S("covers/") + albumId + S(".jpg")));
    }

    TempFolder data, discs, servers;
    WebServer web{servers.path(), S("mb")};
    WebServer caa{servers.path(), S("caa")};
    QString abbeyRoad, aerial;
    QByteArray jpeg;
};

TEST_F(CliMusicBrainzTest, AddCdStoresTheReleaseAndItsCover) {
    serveAbbeyRoadWithCover();
    serve();
    const ProcessResult r = cli({S("add-cd"), abbeyRoad, S("--source"), S("musicbrainz")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, S("e50b3c11\n"));

    EXPECT_EQ(rows(S("ALBUMS.DBF"), {S("ID"), S("SYS"), S("ARTIST"), S("ALBUM"), S("YR"), S("GENRE")}),
              QStringList{S("e50b3c11|B|The Beatles|Abbey Road|2009|rock")});
    const QStringList lines = notes(S("e50b3c11"));
    EXPECT_TRUE(lines.contains(S("MBID=") + kAbbeyRoadUs2009)) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(lines.contains(S("MBDISCID=") + kAbbeyRoadId)) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.filter(S("COVER=")), QStringList{S("COVER=") + coverPath(S("e50b3c11"))});
    EXPECT_EQ(albumora::test::fileBytes(coverPath(S("e50b3c11"))), jpeg);

    const QStringList tracks = rows(S("TRACKS.DBF"), {S("ID"), S("NR"), S("TRACK"), S("Secs")}, S("Tracks"));
    ASSERT_EQ(tracks.size(), 17) << tracks.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(tracks[0].startsWith(S("e50b3c11|1|Come Together|"))) << tracks[0].toStdString();
    EXPECT_TRUE(tracks[2].startsWith(S("e50b3c11|3|Maxwell’s Silver Hammer|"))) << tracks[2].toStdString();
    EXPECT_TRUE(tracks[16].startsWith(S("e50b3c11|17|Her Majesty|"))) << tracks[16].toStdString();
    // Come Together is 260,626 ms long in the answer.
    EXPECT_NEAR(tracks[0].section(QLatin1Char('|'), 3).toInt(), 260.6, 1.0);
    EXPECT_TRUE(cli({S("check")}).exitCode == 0);

    // The same disc again never reaches the service.
    const size_t asked = web.log().size();
    const ProcessResult again = cli({S("add-cd"), abbeyRoad, S("--source"), S("musicbrainz")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains(S("already in your Collection"))) << again.err.toStdString();
    EXPECT_EQ(web.log().size(), asked);
}

TEST_F(CliMusicBrainzTest, FailedLookupsStoreNothing) {
    web.route(S("/ws/2/discid/") + kAerialId, 200, MbData(S("ws2/xml/mbserver-discid-IeldkVfIh1wep_M8CMuDvA0nQ7Q-.xml")));
    web.route(S("/ws/2/release/f205627f-b70a-409d-adbe-66289b614e80"), 404, MbData(S("ws2/xml/mbserver-error-404-not-found.xml")));
    web.routeBytes(S("/ws/2/discid/") + kAbbeyRoadId, 200, S("garbage.xml"), QByteArray("<html>\x01\x02 not an answer </body", 30));
    serve();
    const auto before = tableFiles();
    ASSERT_FALSE(before.empty());

    // The disc answer lacks the tracks; the release lookup that follows is refused.
    ProcessResult r = cli({S("add-cd"), aerial, S("--source"), S("musicbrainz")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(S("HTTP 404"))) << r.err.toStdString();
    EXPECT_TRUE(web.paths().contains(S("/ws/2/release/f205627f-b70a-409d-adbe-66289b614e80"))) << web.paths().join(' ').toStdString();
    EXPECT_EQ(tableFiles(), before);

    // An answer that is no answer.
    r = cli({S("add-cd"), abbeyRoad, S("--source"), S("musicbrainz")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(S("albumora-cli: The MusicBrainz answer cannot be read: "))) << r.err.toStdString();
    EXPECT_EQ(tableFiles(), before);
    EXPECT_FALSE(QFileInfo::exists(data.file(S("covers"))));
    EXPECT_TRUE(caa.log().empty());
}

// A companion killed while it waits for a silent service has stored nothing, and the folder is
// whole for the next program.
TEST_F(CliMusicBrainzTest, AKillDuringASilentLookupStoresNothing) {
    web.route(S("/ws/2/discid/") + kAbbeyRoadId, 200, MbData(kOneRelease));
    serve({S("--silence")});
    const auto before = tableFiles();
    QProcess p;
    p.start(QStringLiteral(ALBUMORA_CLI_PATH), {S("--data"), data.path(), S("add-cd"), abbeyRoad, S("--source"), S("musicbrainz")});
    ASSERT_TRUE(p.waitForStarted(10000));
    QElapsedTimer clock;
    clock.start();
    while (web.log().empty() && clock.elapsed() < 20000) QThread::msleep(20);
    ASSERT_EQ(web.log().size(), 1u);
    EXPECT_EQ(p.state(), QProcess::Running);
    p.kill();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(tableFiles(), before);
    EXPECT_EQ(cli({S("check")}).exitCode, 0);
}

TEST_F(CliMusicBrainzTest, CoverAddsItsLineOnce) {
    serveAbbeyRoadWithCover();
    serve({}, false);
    ProcessResult r = cli({S("add-cd"), abbeyRoad, S("--source"), S("musicbrainz")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList stored = notes(S("e50b3c11"));
    EXPECT_TRUE(stored.filter(S("COVER=")).isEmpty());
    EXPECT_TRUE(caa.log().empty());  // covers off

    r = cli({S("cover"), S("e50b3c11")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString path = coverPath(S("e50b3c11"));
    EXPECT_EQ(r.out, path + QLatin1Char('\n'));
    EXPECT_EQ(albumora::test::fileBytes(path), jpeg);
    EXPECT_EQ(notes(S("e50b3c11")), stored + QStringList{S("COVER=") + path});

    r = cli({S("cover"), S("e50b3c11")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(notes(S("e50b3c11")), stored + QStringList{S("COVER=") + path});
    EXPECT_TRUE(cli({S("check")}).exitCode == 0);

    // An album that did not come from MusicBrainz has no release to ask about.
    ASSERT_TRUE(albumora::test::writeFileBytes(data.file(S("list.txt")), "1. Opening\n2. Closing\n"));
    r = cli({S("import"), S("--source"), S("numbered"), data.file(S("list.txt")), S("--artist"), S("A Band"), S("--title"), S("Hand Made")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString local = r.out.trimmed();
    const size_t asked = caa.log().size();
    const auto before = tableFiles();
    r = cli({S("cover"), local});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(S("has no MusicBrainz release"))) << r.err.toStdString();
    EXPECT_EQ(caa.log().size(), asked);
    EXPECT_EQ(tableFiles(), before);
}

TEST_F(CliMusicBrainzTest, DiscIdPrintsTheMusicBrainzIdWithoutAsking) {
    serveAbbeyRoadWithCover();
    serve();
    const ProcessResult r = cli({S("discid"), abbeyRoad});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_EQ(lines[0], S("e50b3c11"));
    EXPECT_TRUE(lines[1].startsWith(S("17 150 19849 "))) << lines[1].toStdString();
    EXPECT_EQ(lines[2], kAbbeyRoadId);
    EXPECT_TRUE(web.log().empty());
    EXPECT_TRUE(caa.log().empty());
}

TEST_F(CliMusicBrainzTest, LookupPrintsTheReleasesThenTheChosenOne) {
    web.route(S("/ws/2/discid/") + kAbbeyRoadId, 200, MbData(S("ws2/xml/rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.9-releases.xml")));
    serve();
    const auto before = tableFiles();
    const ProcessResult r = cli({S("lookup"), abbeyRoad, S("--source"), S("musicbrainz"), S("--match"), S("2")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 9);
    for (int k = 0; k < 9; ++k) EXPECT_TRUE(lines[k].startsWith(S("MusicBrainz: The Beatles / Abbey Road ("))) << lines[k].toStdString();
    EXPECT_TRUE(lines[1].contains(S("(XE,"))) << lines[1].toStdString();
    // The second release: the XE edition.
    const QStringList rest = lines.mid(9);
    EXPECT_TRUE(rest.contains(S("MBID=105975c7-0e63-3874-8ef7-261d6aebcb49"))) << rest.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(rest.contains(S("MBDISCID=") + kAbbeyRoadId));
    EXPECT_TRUE(rest.contains(S("DTITLE=The Beatles / Abbey Road")));
    EXPECT_TRUE(rest.filter(QRegularExpression(S("^TTITLE0=Come Together\t"))).size() == 1) << rest.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(rest.filter(QRegularExpression(S("^TTITLE\\d+="))).size(), 17);
    // A lookup stores nothing and fetches no cover.
    EXPECT_EQ(tableFiles(), before);
    EXPECT_TRUE(caa.log().empty());
    EXPECT_EQ(web.log().size(), 1u);

    // A match past the list chooses nothing.
    const ProcessResult past = cli({S("lookup"), abbeyRoad, S("--source"), S("musicbrainz"), S("--match"), S("10")});
    EXPECT_EQ(past.exitCode, 1);
    EXPECT_TRUE(past.err.contains(S("there is no match 10"))) << past.err.toStdString();
}

}  // namespace
