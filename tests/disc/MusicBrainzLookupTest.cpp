// Whole MusicBrainz lookups of a disc against a web server process of the tests' own
// (tools/web_server.py) serving the real answers of the shared test data: what fills the album,
// which requests went out and when, how failures of the service and the network end, the front
// cover from a Cover Art Archive listing, and the order of the sources with a real CDDB server.
#include "AddCd.h"
#include "AlbumEditor.h"
#include "Cddb.h"
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscLookup.h"
#include "MusicBrainz.h"
#include "ServerProcess.h"
#include "Settings.h"
#include "TestSupport.h"
#include "TestTls.h"
#include "Version.h"
#include "WebServer.h"
#include "WebService.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QTcpServer>

using namespace albumora;
using namespace albumora::disc;
using albumora::test::MbData;
using albumora::test::TempFolder;
using albumora::test::WebServer;
using editing::PendingAlbum;

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Discs of tocs.tsv: the TOC as "?toc=" writes it (first last leadout offsets...).
const QString kAbbeyRoadId = S("4vi.H1hC7BRP18_a.7D4r4NOYL8-");
const QString kAbbeyRoadToc = S("1 17 215886 150 19849 33726 49423 65078 78067 113257 127326 139893 158225 169350 174474 180081 "
                                "189063 196083 203467 214139");
const QString kAbbeyRoadCddb = S("e50b3c11");
const QString kAbbeyRoadUs2009 = S("f15d1f3a-5bf4-3a96-95be-a801b3889dc6");
const QString kAerialId = S("IeldkVfIh1wep_M8CMuDvA0nQ7Q-");
const QString kAerialToc = S("1 9 189343 150 6614 32287 54041 61236 88129 92729 115276 153877");
const QString kAerial2007 = S("f205627f-b70a-409d-adbe-66289b614e80");
const QString kMail = S("tester@example.org");

QString discPath(const QString& id) {
    return S("/ws/2/discid/") + id;
}

QStringList titles(const PendingAlbum& a) {
    QStringList out;
    for (const editing::TrackRow& r : a.tracks) out << r.title;
    return out;
}

QStringList notesLines(const PendingAlbum& a) {
    return a.notes.split(S("\r\n"), Qt::SkipEmptyParts);
}

bool sameAlbum(const PendingAlbum& a, const PendingAlbum& b) {
    if (a.tracks.size() != b.tracks.size()) return false;
    for (size_t k = 0; k < a.tracks.size(); ++k)
        if (a.tracks[k].number != b.tracks[k].number || a.tracks[k].time != b.tracks[k].time || a.tracks[k].title != b.tracks[k].title)
            return false;
    return a.mode == b.mode && a.artist == b.artist && a.title == b.title && a.genre == b.genre && a.year == b.year &&
           a.notes == b.notes && a.rev == b.rev && a.sys == b.sys && a.albumId == b.albumId && a.discLength == b.discLength;
}

// A disc in the drive as the add-CD flow hands it over: the rows and CD database query of its
// TOC, and what libdiscid makes of it.
struct Disc {
    DiscToc toc;
    QString cddbId;
    QString cddbQuery;
    MbDiscToc mb;
    PendingAlbum album;
};

Disc discOf(const QString& tocText, const QString& protocol = S("T")) {
    const QStringList words = tocText.split(QLatin1Char(' '));
    Disc d;
    d.toc.trackCount = std::uint8_t(words.size() - 3);
    d.toc.entries[0] = TocEntry::fromFrames(words[2].toInt());
    for (int k = 3; k < words.size(); ++k) d.toc.entries[size_t(k - 2)] = TocEntry::fromFrames(words[k].toInt());
    d.cddbId = DiscDrive::DiscIdText(CalcDiscID(d.toc));
    const ComposedToc composed = DiscDrive::ComposeTocText(d.toc, TocMode::Lookup, protocol);
    d.cddbQuery = S("cddb query ") + d.cddbId + QLatin1Char(' ') + composed.queryText;
    const store::Result<MbDiscToc> mb = ComputeMbDiscId(d.toc);
    EXPECT_TRUE(mb.isOk());
    if (mb) d.mb = *mb;
    d.album.mode = editing::EditMode::AddCd;
    d.album.genre = S("misc");
    d.album.albumId = d.cddbId;
    d.album.discLength = composed.discLength;
    for (const disc::TrackRow& r : composed.rows) d.album.tracks.push_back({r.number, r.time, r.title});
    return d;
}

// What the lookup showed, and the chooser's scripted answer.
struct Shown {
    QStringList statuses, messages, errors;
    QList<QStringList> chooserCalls;
    int answer = -1;

    DiscLookupHooks hooks() {
        DiscLookupHooks h;
        h.status = [this](const QString& t) { statuses << t; };
        h.choose = [this](const QStringList& lines) {
            chooserCalls << lines;
            return answer;
        };
        h.message = [this](const QString& t) { messages << t; };
        h.error = [this](const QString& t) { errors << t; };
        return h;
    }
};

// A small real JPEG.
QByteArray jpegBytes() {
    QImage image(24, 24, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG"));
    return bytes;
}

int freePort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    return probe.serverPort();
}

class MbLookup : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::sharedTestData().isEmpty()) GTEST_SKIP() << "../shared/testdata is absent";
        RequestPace::reset();
        RequestPace::setSleep(nullptr);
    }
    void TearDown() override {
        RequestPace::setSleep(nullptr);
        RequestPace::reset();
    }

    void serveDisc(const QString& id, const QString& xml, int status = 200) {
        web.route(discPath(id), status, MbData(S("ws2/xml/") + xml));
    }
    void startWeb(const QStringList& options = {}) {
        ASSERT_TRUE(web.start(options)) << web.failure().toStdString();
    }
    DiscLookupRequest request(const Disc& d, const QString& sources = S("musicbrainz")) const {
        DiscLookupRequest r;
        r.sources = sources;
        r.cddbQuery = d.cddbQuery;
        r.mb.base = web.base();
        r.mb.coverArtBase = S("http://127.0.0.1:9");  // the tests that want covers set their server
        r.mb.web.userAgent = ComposeUserAgent(kMail);
        r.mb.web.connectTimeoutMs = 3000;
        r.mb.web.readTimeoutMs = 3000;
        r.mb.intervalMs = 1000;
        r.mbDisc = d.mb;
        r.defaultGenre = S("misc");
        r.dataFolder = dataFolder();
        return r;
    }
    QString dataFolder() const { return folder.file(S("data")); }
    QString coverFile(const QString& albumId, const QString& suffix = S("jpg")) const {
        return QDir::cleanPath(dataFolder() + S("/covers/") + albumId + QLatin1Char('.') + suffix);
    }

    TempFolder folder;
    WebServer web{folder.path()};
    Shown shown;
};

// ---------------------------------------------------------------------------------------------
// What the service knows

TEST_F(MbLookup, OneReleaseWithItsTracksFillsTheAlbum) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
    startWeb();
    Disc d = discOf(kAbbeyRoadToc);
    ASSERT_EQ(d.mb.discId, kAbbeyRoadId);
    ASSERT_EQ(d.cddbId, kAbbeyRoadCddb);

    const DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_EQ(out.source, SourceKind::MusicBrainz);
    EXPECT_TRUE(shown.chooserCalls.isEmpty());
    EXPECT_TRUE(shown.errors.isEmpty());
    EXPECT_EQ(d.album.artist, S("The Beatles"));
    EXPECT_EQ(d.album.title, S("Abbey Road"));
    EXPECT_EQ(d.album.year, S("2009"));
    EXPECT_EQ(d.album.sys, kMusicBrainzSource);
    EXPECT_EQ(d.album.albumId, kAbbeyRoadCddb);
    EXPECT_TRUE(notesLines(d.album).contains(S("MBID=") + kAbbeyRoadUs2009)) << d.album.notes.toStdString();
    EXPECT_TRUE(notesLines(d.album).contains(S("MBDISCID=") + kAbbeyRoadId)) << d.album.notes.toStdString();
    const QStringList t = titles(d.album);
    ASSERT_EQ(t.size(), 17);
    EXPECT_EQ(t.first(), S("Come Together"));
    EXPECT_EQ(t.at(2), S("Maxwell’s Silver Hammer"));
    EXPECT_EQ(t.last(), S("Her Majesty"));

    // One request: the disc ID with what a fill needs, and who asks.
    const auto log = web.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].path(), discPath(kAbbeyRoadId));
    EXPECT_TRUE(log[0].item(S("toc")).isEmpty());
    const QStringList inc = log[0].item(S("inc")).split(QLatin1Char(' '));
    EXPECT_TRUE(inc.contains(S("recordings"))) << log[0].target.toStdString();
    EXPECT_TRUE(inc.contains(S("artist-credits"))) << log[0].target.toStdString();
    EXPECT_EQ(log[0].userAgent, S("Albumora/") + kProductVersion + S(" ( ") + kMail + S(" )"));
}

TEST_F(MbLookup, SeveralReleasesGoToTheChooser) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.9-releases.xml"));
    startWeb();
    Disc d = discOf(kAbbeyRoadToc);
    const PendingAlbum before = d.album;

    // Cancelled: nothing changes.
    shown.answer = -1;
    DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    EXPECT_TRUE(out.cancelled);
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(sameAlbum(d.album, before));
    ASSERT_EQ(shown.chooserCalls.size(), 1);
    const QStringList lines = shown.chooserCalls[0];
    ASSERT_EQ(lines.size(), 9) << lines.join(QLatin1Char('\n')).toStdString();
    const char* countries[] = {"AU", "XE", "CA", "JP", "GB", "XE", "US", "US", "JP"};
    for (int k = 0; k < 9; ++k) {
        SCOPED_TRACE(lines[k].toStdString());
        EXPECT_TRUE(lines[k].startsWith(S("MusicBrainz: The Beatles / Abbey Road (")));
        EXPECT_TRUE(lines[k].contains(S("(") + S(countries[k]) + QLatin1Char(','))) << countries[k];
    }

    // The GB edition chosen: its tracks were in the answer, so no second request.
    shown.answer = 4;
    out = RunDiscLookup(request(d), d.album, shown.hooks());
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_TRUE(notesLines(d.album).contains(S("MBID=9e53c190-5621-3848-8ae4-39ad9f7d9ace"))) << d.album.notes.toStdString();
    EXPECT_EQ(titles(d.album).size(), 17);
    EXPECT_EQ(web.log().size(), 2u);
}

TEST_F(MbLookup, AnUnknownDiscIdIsAskedByItsTocThenTheReleaseIsRead) {
    web.route(discPath(kAerialId), 404, MbData(S("ws2/xml/mbserver-error-404-not-found.xml")));
    web.route(discPath(S("-")), 200, MbData(S("ws2/xml/mbserver-toc-fuzzy-discid-dash.xml")));
    web.route(S("/ws/2/release/") + kAerial2007, 404, MbData(S("ws2/xml/mbserver-error-404-not-found.xml")));
    startWeb();
    Disc d = discOf(kAerialToc);
    ASSERT_EQ(d.mb.discId, kAerialId);
    const PendingAlbum before = d.album;

    shown.answer = 0;
    const DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    ASSERT_EQ(shown.chooserCalls.size(), 1);
    const QStringList lines = shown.chooserCalls[0];
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(S("MusicBrainz: Aerial (2007"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(S("MusicBrainz: Aerial (2008"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[0].contains(S("medium 2 of 2"))) << lines[0].toStdString();

    const auto log = web.log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].path(), discPath(kAerialId));
    EXPECT_TRUE(log[0].item(S("toc")).isEmpty());
    EXPECT_EQ(log[1].path(), discPath(S("-")));
    EXPECT_EQ(log[1].item(S("toc")), kAerialToc) << log[1].target.toStdString();
    EXPECT_EQ(log[2].path(), S("/ws/2/release/") + kAerial2007);

    // The release is gone: a clear error, the album as it came.
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(out.error.contains(S("HTTP 404"))) << out.error.toStdString();
    EXPECT_TRUE(out.error.contains(S("Not Found"))) << out.error.toStdString();
    EXPECT_EQ(shown.errors, QStringList{out.error});
    EXPECT_TRUE(sameAlbum(d.album, before));
}

TEST_F(MbLookup, TheDiscOnTheSecondMediumSaysSo) {
    const Disc d = discOf(kAerialToc);
    for (const char* file : {"ws2/xml/mbserver-discid-IeldkVfIh1wep_M8CMuDvA0nQ7Q-.xml",
                             "ws2/json/mbserver-discid-IeldkVfIh1wep_M8CMuDvA0nQ7Q-.json"}) {
        SCOPED_TRACE(file);
        WebServer server(folder.path(), QFileInfo(S(file)).suffix());
        server.route(discPath(kAerialId), 200, MbData(S(file)));
        ASSERT_TRUE(server.start()) << server.failure().toStdString();
        DiscLookupRequest rq = request(d);
        rq.mb.base = server.base();
        PendingAlbum album = d.album;
        const DiscLookupOutcome out = RunDiscLookup(rq, album, shown.hooks());
        ASSERT_EQ(out.choices.size(), 1);
        EXPECT_TRUE(out.choices[0].startsWith(S("MusicBrainz: Aerial ("))) << out.choices[0].toStdString();
        EXPECT_TRUE(out.choices[0].contains(S("medium 2 of 2"))) << out.choices[0].toStdString();
        // The answer lacks the tracks; the release lookup that follows finds nothing here.
        const auto log = server.log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].path(), S("/ws/2/release/") + kAerial2007);
        EXPECT_FALSE(out.showForm);
        EXPECT_FALSE(out.error.isEmpty());
    }
}

// ---------------------------------------------------------------------------------------------
// What the service refuses

TEST_F(MbLookup, NotFoundEverywhereIsTheNotFoundOutcome) {
    web.route(S("*"), 404, MbData(S("ws2/xml/mbserver-error-404-not-found.xml")));
    startWeb();
    Disc d = discOf(kAerialToc);
    const DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    EXPECT_TRUE(out.notFound);
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(out.error.isEmpty());
    EXPECT_EQ(shown.messages, QStringList{cddbmsg::kNotFound});
    EXPECT_TRUE(shown.errors.isEmpty());
    EXPECT_EQ(web.paths(), (QStringList{discPath(kAerialId), discPath(S("-"))}));
    EXPECT_TRUE(d.album.sys == QLatin1Char('F'));
}

TEST_F(MbLookup, ABadRequestNamesTheServicesReason) {
    serveDisc(kAerialId, S("mbserver-error-400-invalid-discid.xml"), 400);
    startWeb();
    Disc d = discOf(kAerialToc);
    const PendingAlbum before = d.album;
    const DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    EXPECT_FALSE(out.showForm);
    EXPECT_FALSE(out.notFound);
    EXPECT_TRUE(out.error.contains(S("Invalid discid."))) << out.error.toStdString();
    EXPECT_TRUE(out.error.contains(S("HTTP 400"))) << out.error.toStdString();
    EXPECT_EQ(shown.errors, QStringList{out.error});
    EXPECT_TRUE(sameAlbum(d.album, before));
    EXPECT_EQ(web.log().size(), 1u);  // a refusal is not asked again by the TOC
}

TEST_F(MbLookup, ABusyServiceIsABusyError) {
    serveDisc(kAerialId, S("mbserver-error-404-not-found.xml"), 503);
    startWeb();
    Disc d = discOf(kAerialToc);
    const PendingAlbum before = d.album;
    const DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    EXPECT_FALSE(out.showForm);
    EXPECT_FALSE(out.notFound);
    EXPECT_TRUE(out.error.contains(S("busy"))) << out.error.toStdString();
    EXPECT_TRUE(sameAlbum(d.album, before));
    EXPECT_EQ(web.log().size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// The network

TEST_F(MbLookup, ASlowServerIsWaitedFor) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
    startWeb({S("--delay"), S("1.2")});
    Disc d = discOf(kAbbeyRoadToc);
    QElapsedTimer clock;
    clock.start();
    const DiscLookupOutcome out = RunDiscLookup(request(d), d.album, shown.hooks());
    EXPECT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_GE(clock.elapsed(), 1100);
    EXPECT_EQ(d.album.title, S("Abbey Road"));
}

TEST_F(MbLookup, ASilentServerTimesOut) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
    startWeb({S("--silence")});
    Disc d = discOf(kAbbeyRoadToc);
    const PendingAlbum before = d.album;
    DiscLookupRequest rq = request(d);
    rq.mb.web.readTimeoutMs = 1500;
    QElapsedTimer clock;
    clock.start();
    const DiscLookupOutcome out = RunDiscLookup(rq, d.album, shown.hooks());
    const qint64 took = clock.elapsed();
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(out.error.contains(S("sent nothing for 1.5 seconds"))) << out.error.toStdString();
    EXPECT_TRUE(out.error.contains(S("127.0.0.1:") + QString::number(web.port()))) << out.error.toStdString();
    EXPECT_GE(took, 1400);
    EXPECT_LT(took, 5000);
    EXPECT_TRUE(sameAlbum(d.album, before));
    EXPECT_EQ(web.log().size(), 1u);
}

TEST_F(MbLookup, NothingListeningFailsClearly) {
    Disc d = discOf(kAbbeyRoadToc);
    const PendingAlbum before = d.album;
    DiscLookupRequest rq = request(d);
    const int port = freePort();
    rq.mb.base = S("http://127.0.0.1:") + QString::number(port);
    QElapsedTimer clock;
    clock.start();
    const DiscLookupOutcome out = RunDiscLookup(rq, d.album, shown.hooks());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(out.error.startsWith(S("Could not connect to the MusicBrainz service at 127.0.0.1:") + QString::number(port)))
        << out.error.toStdString();
    EXPECT_EQ(shown.errors, QStringList{out.error});
    EXPECT_TRUE(sameAlbum(d.album, before));
}

TEST_F(MbLookup, HttpsWithATrustedCertificateOnly) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
    startWeb({S("--tls"), test::LoopbackCertificatePath(), test::LoopbackKeyPath()});
    struct Restore {
        ~Restore() { test::TrustLoopbackCertificate(false); }
    } restore;
    Disc d = discOf(kAbbeyRoadToc);
    const PendingAlbum before = d.album;
    DiscLookupRequest rq = request(d);
    rq.mb.base = web.base(true);

    test::TrustLoopbackCertificate(false);
    DiscLookupOutcome out = RunDiscLookup(rq, d.album, shown.hooks());
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(out.error.contains(S("the MusicBrainz service at 127.0.0.1:") + QString::number(web.port()))) << out.error.toStdString();
    EXPECT_TRUE(sameAlbum(d.album, before));

    test::TrustLoopbackCertificate();
    out = RunDiscLookup(rq, d.album, shown.hooks());
    EXPECT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_EQ(d.album.title, S("Abbey Road"));
    // The untrusted connection never got as far as a request.
    EXPECT_EQ(web.log().size(), 1u);
}

// The web requests' own limits: a body over the limit, an answer trickled past the whole
// exchange's limit, a redirect from HTTPS down to HTTP and a redirect loop.
TEST_F(MbLookup, TheWebRequestsLimitsHold) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.9-releases.xml"));
    web.route(S("/loop"), 302, S("/loop"));
    startWeb();
    Disc d = discOf(kAbbeyRoadToc);
    const PendingAlbum before = d.album;
    DiscLookupRequest rq = request(d);
    rq.mb.web.maxBodyBytes = 16 * 1024;
    DiscLookupOutcome out = RunDiscLookup(rq, d.album, shown.hooks());
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(out.error.contains(S("is larger than 16 KiB"))) << out.error.toStdString();
    EXPECT_TRUE(sameAlbum(d.album, before));

    WebConfig config;
    config.connectTimeoutMs = 3000;
    config.readTimeoutMs = 3000;
    const store::Result<WebAnswer> loop = WebGet(QUrl(web.base() + S("/loop")), config, S("the test service"));
    ASSERT_FALSE(loop.isOk());
    EXPECT_TRUE(loop.error().text().startsWith(S("The connection to the test service at 127.0.0.1:"))) << loop.error().text().toStdString();

    WebServer secure(folder.path(), S("secure"));
    secure.route(S("/down"), 302, web.base() + discPath(kAbbeyRoadId));
    ASSERT_TRUE(secure.start({S("--tls"), test::LoopbackCertificatePath(), test::LoopbackKeyPath()}));
    struct Restore {
        ~Restore() { test::TrustLoopbackCertificate(false); }
    } restore;
    test::TrustLoopbackCertificate();
    const size_t asked = web.log().size();
    const store::Result<WebAnswer> down = WebGet(QUrl(secure.base(true) + S("/down")), config, S("the test service"));
    EXPECT_FALSE(down.isOk());
    EXPECT_EQ(web.log().size(), asked);  // the plain-HTTP address was never asked

    WebServer slow(folder.path(), S("slow"));
    slow.route(S("/slow"), 200, MbData(S("ws2/xml/mbserver-error-404-not-found.xml")));
    ASSERT_TRUE(slow.start({S("--trickle"), S("0.2")}));
    config.connectTimeoutMs = 500;
    config.readTimeoutMs = 1000;
    QElapsedTimer clock;
    clock.start();
    const store::Result<WebAnswer> trickled = WebGet(QUrl(slow.base() + S("/slow")), config, S("the test service"));
    ASSERT_FALSE(trickled.isOk());
    EXPECT_EQ(trickled.error().text(), S("The test service at 127.0.0.1:%1 took longer than 2.5 seconds for its answer.").arg(slow.port()));
    EXPECT_LT(clock.elapsed(), 10000);
}

// ---------------------------------------------------------------------------------------------
// The front cover

class MbCover : public MbLookup {
protected:
    void SetUp() override {
        MbLookup::SetUp();
        if (IsSkipped()) return;
        serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
        startWeb();
        jpeg = jpegBytes();
        ASSERT_FALSE(jpeg.isEmpty());
    }
    // The listing served for the release the disc answer names.
    void serveListing(const QString& listing) {
        caa.route(S("/release/") + kAbbeyRoadUs2009 + QLatin1Char('/'), 200, MbData(S("caa/") + listing));
    }
    void startCaa() { ASSERT_TRUE(caa.start()) << caa.failure().toStdString(); }
    DiscLookupOutcome lookUp(Disc& d, bool covers = true) {
        DiscLookupRequest rq = request(d);
        rq.covers = covers;
        rq.mb.coverArtBase = caa.base();
        return RunDiscLookup(rq, d.album, shown.hooks());
    }
    // The album a lookup fills when no cover comes.
    PendingAlbum withoutCover() {
        Disc d = discOf(kAbbeyRoadToc);
        WebServer none(folder.path(), S("none"));
        EXPECT_TRUE(none.start());
        DiscLookupRequest rq = request(d);
        rq.covers = false;
        const DiscLookupOutcome out = RunDiscLookup(rq, d.album, shown.hooks());
        EXPECT_TRUE(out.showForm);
        return d.album;
    }

    WebServer caa{folder.path(), S("caa")};
    QByteArray jpeg;
};

TEST_F(MbCover, TheFiveHundredPixelThumbnailIsStoredAndNamed) {
    serveListing(S("gocaa-release-76df3287-6cda-33eb-8e9a-044b5e15ffdd.json"));
    caa.routeBytes(S("/release/76df3287-6cda-33eb-8e9a-044b5e15ffdd/829521842-500.jpg"), 200, S("front.jpg"), jpeg);
    startCaa();
    Disc d = discOf(kAbbeyRoadToc);
    const DiscLookupOutcome out = lookUp(d);
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    const QString path = coverFile(kAbbeyRoadCddb);
    EXPECT_EQ(out.coverPath, path);
    EXPECT_TRUE(out.coverProblem.isEmpty()) << out.coverProblem.toStdString();
    EXPECT_EQ(test::fileBytes(path), jpeg);
    EXPECT_EQ(notesLines(d.album).last(), S("COVER=") + path);
    EXPECT_EQ(caa.paths(), (QStringList{S("/release/") + kAbbeyRoadUs2009 + QLatin1Char('/'),
                                        S("/release/76df3287-6cda-33eb-8e9a-044b5e15ffdd/829521842-500.jpg")}));

    // Everything else as without the cover.
    PendingAlbum plain = withoutCover();
    QStringList lines = notesLines(d.album);
    lines.removeLast();
    EXPECT_EQ(lines, notesLines(plain));
    d.album.notes = plain.notes;
    EXPECT_TRUE(sameAlbum(d.album, plain));
}

// Add CD from end to end: a cover fetched for an album the user then does not save goes with
// it; one that is saved stays, named in the stored notes.
TEST_F(MbCover, AddCdKeepsTheCoverOnlyOfASavedAlbum) {
    serveListing(S("gocaa-release-76df3287-6cda-33eb-8e9a-044b5e15ffdd.json"));
    caa.routeBytes(S("/release/76df3287-6cda-33eb-8e9a-044b5e15ffdd/829521842-500.jpg"), 200, S("front.jpg"), jpeg);
    startCaa();
    ASSERT_TRUE(QDir().mkpath(dataFolder()));
    store::TDM dm(dataFolder());
    ASSERT_STORE_OK(dm.EnsureCollectionFiles());
    ASSERT_STORE_OK(dm.OpenCollectionTables());
    settings::SettingsFile file(dataFolder());
    settings::RunSettings run = file.read(nullptr);
    run.sources = S("musicbrainz");
    run.musicBrainz = web.base();
    run.coverArt = caa.base();
    run.covers = true;
    run.genre = S("rock");
    QStringList genres;
    int loaded = 0;
    editing::AlbumEditor editor(dm, run, file, genres, loaded);
    const Disc d = discOf(kAbbeyRoadToc);
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save ? "saved" : "not saved");
        RequestPace::reset();
        AddCdHooks hooks;
        hooks.audioCdInDrive = [] { return true; };
        hooks.readDisc = [] { return true; };
        hooks.currentDiscId = [&] { return d.cddbId; };
        hooks.lookupToc = [&] { return DiscDrive::ComposeTocText(d.toc, TocMode::Lookup, S("T")); };
        hooks.discToc = [&] { return d.toc; };
        bool formShown = false;
        hooks.showEditForm = [&] {
            formShown = true;
            // The cover is there while the form is open.
            EXPECT_TRUE(QFileInfo::exists(coverFile(kAbbeyRoadCddb)));
            if (save) {
                const store::Result<bool> saved = editor.Save();
                EXPECT_TRUE(saved.isOk() && *saved);
            }
        };
        AddCdFlow flow(dm, editor, run, hooks);
        EXPECT_EQ(flow.run(), AddCdResult::FormShown);
        EXPECT_TRUE(formShown);
        EXPECT_EQ(QFileInfo::exists(coverFile(kAbbeyRoadCddb)), save);
    }
    store::Cursor albums;
    albums.setTablePath(QDir(dataFolder()).filePath(S("ALBUMS.DBF")));
    ASSERT_STORE_OK(albums.open());
    ASSERT_STORE_OK(albums.first());
    EXPECT_TRUE(albums.readText(S("Notes")).value().endsWith(S("COVER=") + coverFile(kAbbeyRoadCddb)));
}

TEST_F(MbCover, AnOlderListingGivesTheLargeThumbnail) {
    serveListing(S("mbandroid-release-83c45b6c-69ee-4eb0-903b-bd944ed59d48.json"));
    caa.routeBytes(S("/release/83c45b6c-69ee-4eb0-903b-bd944ed59d48/14504943757-500.jpg"), 200, S("large.jpg"), jpeg);
    startCaa();
    Disc d = discOf(kAbbeyRoadToc);
    const DiscLookupOutcome out = lookUp(d);
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_EQ(out.coverPath, coverFile(kAbbeyRoadCddb));
    EXPECT_EQ(test::fileBytes(coverFile(kAbbeyRoadCddb)), jpeg);
    const QStringList paths = caa.paths();
    ASSERT_EQ(paths.size(), 2);
    EXPECT_EQ(paths[1], S("/release/83c45b6c-69ee-4eb0-903b-bd944ed59d48/14504943757-500.jpg"));
}

TEST_F(MbCover, NoFrontImageOrABrokenOneChangesNothingElse) {
    const PendingAlbum plain = withoutCover();
    struct Case {
        const char* name;
        const char* listing;
        int imageStatus;  // 0: the listing offers no front image
        QByteArray imageBytes;
    };
    const Case cases[] = {
        {"back only", "gocaa-release-group-c31a5e2b-0bf8-32e0-8aeb-ef4ba9973932.back-only.json", 0, {}},
        {"image 500", "gocaa-release-76df3287-6cda-33eb-8e9a-044b5e15ffdd.json", 500, jpeg},
        {"not an image", "gocaa-release-76df3287-6cda-33eb-8e9a-044b5e15ffdd.json", 200, "<html>no image here</html>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WebServer archive(folder.path(), S(c.name).replace(QLatin1Char(' '), QLatin1Char('_')));
        archive.route(S("/release/") + kAbbeyRoadUs2009 + QLatin1Char('/'), 200, MbData(S("caa/") + S(c.listing)));
        if (c.imageStatus)
            for (const char* size : {"-500.jpg", "-1200.jpg", "-250.jpg", ".jpg"})
                archive.routeBytes(S("/release/76df3287-6cda-33eb-8e9a-044b5e15ffdd/829521842") + S(size), c.imageStatus,
                                   S("image") + S(size), c.imageBytes);
        ASSERT_TRUE(archive.start()) << archive.failure().toStdString();
        Disc d = discOf(kAbbeyRoadToc);
        DiscLookupRequest rq = request(d);
        rq.covers = true;
        rq.mb.coverArtBase = archive.base();
        const DiscLookupOutcome out = RunDiscLookup(rq, d.album, shown.hooks());
        ASSERT_TRUE(out.showForm) << out.error.toStdString();
        EXPECT_TRUE(out.coverPath.isEmpty());
        EXPECT_FALSE(out.coverProblem.isEmpty());
        EXPECT_TRUE(sameAlbum(d.album, plain)) << d.album.notes.toStdString();
        EXPECT_FALSE(QFileInfo::exists(coverFile(kAbbeyRoadCddb)));
        const QStringList paths = archive.paths();
        ASSERT_FALSE(paths.isEmpty());
        // The back image is never fetched; a broken front one is tried in every size offered.
        EXPECT_EQ(paths.size(), c.imageStatus ? 5 : 1) << paths.join(QLatin1Char(' ')).toStdString();
    }
}

TEST_F(MbCover, CoversOffAsksTheArchiveNothing) {
    serveListing(S("gocaa-release-76df3287-6cda-33eb-8e9a-044b5e15ffdd.json"));
    caa.routeBytes(S("/release/76df3287-6cda-33eb-8e9a-044b5e15ffdd/829521842-500.jpg"), 200, S("front.jpg"), jpeg);
    startCaa();
    Disc d = discOf(kAbbeyRoadToc);
    const DiscLookupOutcome out = lookUp(d, false);
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_TRUE(caa.log().empty());
    EXPECT_TRUE(out.coverPath.isEmpty());
    for (const QString& line : notesLines(d.album)) EXPECT_FALSE(line.startsWith(S("COVER="))) << line.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dataFolder() + S("/covers")));
}

// ---------------------------------------------------------------------------------------------
// The pace of requests

TEST_F(MbLookup, TwoLookupsInARowKeepOneRequestASecond) {
    serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
    startWeb();
    QList<int> waits;
    RequestPace::setSleep([&waits](int ms) {
        waits << ms;
        QThread::msleep(static_cast<unsigned long>(ms));
    });
    Disc d = discOf(kAbbeyRoadToc);
    const PendingAlbum fresh = d.album;
    ASSERT_TRUE(RunDiscLookup(request(d), d.album, shown.hooks()).showForm);
    EXPECT_TRUE(waits.isEmpty());
    d.album = fresh;
    ASSERT_TRUE(RunDiscLookup(request(d), d.album, shown.hooks()).showForm);
    ASSERT_EQ(waits.size(), 1);
    EXPECT_GT(waits[0], 800);
    EXPECT_LE(waits[0], 1000);
    const auto log = web.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_GE(log[1].seconds - log[0].seconds, 0.95);
}

// ---------------------------------------------------------------------------------------------
// The sources together: a CDDB server knowing the disc too

class MbSources : public MbLookup {
protected:
    void SetUp() override {
        MbLookup::SetUp();
        if (IsSkipped()) return;
        serveDisc(kAbbeyRoadId, S("rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml"));
        startWeb();
        disc = discOf(kAbbeyRoadToc);
        QStringList record = {S("# xmcd"), S("#"), S("# Track frame offsets:")};
        const QStringList words = kAbbeyRoadToc.split(QLatin1Char(' '));
        for (int k = 3; k < words.size(); ++k) record << S("#\t") + words[k];
        record << S("#") << S("# Disc length: %1 seconds").arg(words[2].toInt() / 75) << S("#") << S("# Revision: 3") << S("#")
               << S("DISCID=") + kAbbeyRoadCddb << S("DTITLE=The Beatles / Abbey Road (CD database)") << S("DYEAR=1969")
               << S("DGENRE=Rock");
        for (int k = 0; k < 17; ++k) record << S("TTITLE%1=Song %2").arg(k).arg(k + 1);
        record << S("EXTD=");
        for (int k = 0; k < 17; ++k) record << S("EXTT%1=").arg(k);
        record << S("PLAYORDER=");
        const QString root = folder.file(S("db"));
        ASSERT_TRUE(QDir().mkpath(root + S("/rock")));
        ASSERT_TRUE(test::writeFileBytes(root + S("/rock/") + kAbbeyRoadCddb, record.join(QLatin1Char('\n')).toUtf8() + '\n'));
        cddb = std::make_unique<test::CddbServer>(root, folder.file(S("cddb.log")));
        ASSERT_TRUE(cddb->started()) << cddb->failure().toStdString();
    }
    DiscLookupRequest sources(const QString& text, int cddbPort = 0) const {
        DiscLookupRequest rq = request(disc, text);
        rq.cddb.protocol = S("T");
        rq.cddb.host = S("127.0.0.1:") + QString::number(cddbPort ? cddbPort : cddb->cddbpPort());
        rq.cddb.cddbpHello = S("cddb hello anonymous testhost Albumora ") + kProductVersion;
        rq.cddb.connectTimeoutMs = 3000;
        rq.cddb.connectAttempts = 1;
        rq.cddb.readTimeoutMs = 3000;
        rq.cddb.quitWaitMs = 500;
        return rq;
    }
    bool cddbLogged(const QString& prefix) const {
        for (const QString& l : cddb->log())
            if (l.startsWith(prefix)) return true;
        return false;
    }

    Disc disc;
    std::unique_ptr<test::CddbServer> cddb;
};

TEST_F(MbSources, TheCdDatabaseFirstLeavesMusicBrainzUnasked) {
    const DiscLookupOutcome out = RunDiscLookup(sources(S("cddb,musicbrainz")), disc.album, shown.hooks());
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_EQ(out.source, SourceKind::Cddb);
    EXPECT_EQ(disc.album.title, S("Abbey Road (CD database)"));
    EXPECT_EQ(disc.album.year, S("1969"));
    EXPECT_TRUE(cddbLogged(S("T cddb query ") + kAbbeyRoadCddb));
    EXPECT_TRUE(web.log().empty());
}

TEST_F(MbSources, MusicBrainzFirstLeavesTheCdDatabaseUnasked) {
    const DiscLookupOutcome out = RunDiscLookup(sources(S("musicbrainz,cddb")), disc.album, shown.hooks());
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_EQ(out.source, SourceKind::MusicBrainz);
    EXPECT_EQ(disc.album.title, S("Abbey Road"));
    EXPECT_FALSE(cddbLogged(S("T cddb query")));
    EXPECT_EQ(web.log().size(), 1u);
}

TEST_F(MbSources, BothTogetherOfferOneChooser) {
    shown.answer = 1;
    const DiscLookupOutcome out = RunDiscLookup(sources(S("cddb+musicbrainz")), disc.album, shown.hooks());
    ASSERT_EQ(shown.chooserCalls.size(), 1);
    const QStringList lines = shown.chooserCalls[0];
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], S("CD database: rock ") + kAbbeyRoadCddb + S(" The Beatles / Abbey Road (CD database)"));
    EXPECT_TRUE(lines[1].startsWith(S("MusicBrainz: The Beatles / Abbey Road (US"))) << lines[1].toStdString();
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    EXPECT_EQ(out.source, SourceKind::MusicBrainz);
    EXPECT_EQ(disc.album.title, S("Abbey Road"));
    EXPECT_EQ(disc.album.sys, kMusicBrainzSource);
    EXPECT_TRUE(notesLines(disc.album).contains(S("MBID=") + kAbbeyRoadUs2009));
    EXPECT_FALSE(cddbLogged(S("T cddb read")));
    // The CD database's link was closed properly, not dropped.
    QElapsedTimer clock;
    clock.start();
    while (!cddbLogged(S("T quit")) && clock.elapsed() < 2000) QThread::msleep(20);
    EXPECT_TRUE(cddbLogged(S("T quit"))) << cddb->log().join(QLatin1Char('\n')).toStdString();
}

TEST_F(MbSources, TheCdDatabasesLineIsTakenInEitherOrder) {
    for (const bool mbFirst : {false, true}) {
        SCOPED_TRACE(mbFirst ? "musicbrainz+cddb" : "cddb+musicbrainz");
        RequestPace::reset();
        Disc d = discOf(kAbbeyRoadToc);
        shown = {};
        shown.answer = mbFirst ? 1 : 0;
        const DiscLookupOutcome out = RunDiscLookup(sources(mbFirst ? S("musicbrainz+cddb") : S("cddb+musicbrainz")), d.album, shown.hooks());
        ASSERT_EQ(shown.chooserCalls.size(), 1);
        const QStringList lines = shown.chooserCalls[0];
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[mbFirst ? 1 : 0].startsWith(S("CD database: rock "))) << lines.join('|').toStdString();
        EXPECT_TRUE(lines[mbFirst ? 0 : 1].startsWith(S("MusicBrainz: "))) << lines.join('|').toStdString();
        ASSERT_TRUE(out.showForm) << out.error.toStdString();
        EXPECT_EQ(out.source, SourceKind::Cddb);
        EXPECT_EQ(d.album.title, S("Abbey Road (CD database)"));
        EXPECT_EQ(d.album.sys, QLatin1Char('F'));
    }
}

// The user chose the CD database's match and its record could not be read: that is what the
// lookup says, without offering the other source's matches again.
TEST_F(MbSources, AChosenMatchThatCannotBeReadEndsTheLookup) {
    test::TempFolder root;
    ASSERT_TRUE(QDir().mkpath(root.file(S("rock"))));
    ASSERT_TRUE(QFile::copy(folder.file(S("db/rock/")) + kAbbeyRoadCddb, root.file(S("rock/")) + kAbbeyRoadCddb));
    test::CddbServer broken(root.path(), root.file(S("log")), {S("--fault"), S("garbage"), S("--fault-at"), S("read")});
    ASSERT_TRUE(broken.started()) << broken.failure().toStdString();
    const PendingAlbum before = disc.album;
    shown.answer = 0;
    const DiscLookupOutcome out = RunDiscLookup(sources(S("cddb+musicbrainz"), broken.cddbpPort()), disc.album, shown.hooks());
    EXPECT_EQ(shown.chooserCalls.size(), 1);
    EXPECT_FALSE(out.showForm);
    EXPECT_FALSE(out.error.isEmpty());
    EXPECT_EQ(shown.errors, QStringList{out.error});
    EXPECT_TRUE(sameAlbum(disc.album, before));
}

TEST_F(MbSources, AnUnreachableCdDatabaseFallsToMusicBrainzQuietly) {
    const DiscLookupOutcome out = RunDiscLookup(sources(S("cddb,musicbrainz"), freePort()), disc.album, shown.hooks());
    ASSERT_TRUE(out.showForm) << out.error.toStdString();
    // What the CD database said is kept for whoever wants to tell more.
    ASSERT_EQ(out.unreachable.size(), 1);
    EXPECT_TRUE(out.unreachable[0].startsWith(S("Could not connect to the CDDB server"))) << out.unreachable[0].toStdString();
    EXPECT_EQ(out.source, SourceKind::MusicBrainz);
    EXPECT_EQ(disc.album.title, S("Abbey Road"));
    EXPECT_TRUE(shown.errors.isEmpty()) << shown.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(shown.messages.isEmpty()) << shown.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(cddb->log().isEmpty());
    EXPECT_EQ(web.log().size(), 1u);
}

}  // namespace
