// MusicBrainz without the network: the disc ID as libdiscid computes it from the TOC (on the
// real TOCs other projects recorded, and on disc images read through libcdio), the web
// service's real answers read into releases, and a release put into the pending album.
#include "AlbumEditor.h"
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscImages.h"
#include "MusicBrainz.h"
#include "WebService.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

using namespace albumora;
using namespace albumora::disc;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString mbData(const QString& name) {
    return QStringLiteral(ALBUMORA_SHARED_DIR "/testdata/musicbrainz/") + name;
}

QByteArray readMb(const QString& name) {
    QFile f(mbData(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

struct TocLine {
    QString discId;
    std::vector<int> toc;  // first last leadout offsets...
    QString freedbId;
    bool libdiscidAgrees = false;
};

std::vector<TocLine> tocLines() {
    std::vector<TocLine> out;
    QFile f(mbData(QStringLiteral("tocs.tsv")));
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('#'))) continue;
        const QStringList cols = line.split(QLatin1Char('\t'));
        if (cols.size() < 4) continue;
        TocLine t;
        t.discId = cols[0];
        for (const QString& n : cols[1].split(QLatin1Char(' '), Qt::SkipEmptyParts)) t.toc.push_back(n.toInt());
        t.freedbId = cols[2];
        // "yes", or "(computed here)" by libdiscid itself; "no: ..." marks the one that differs.
        t.libdiscidAgrees = !cols[3].startsWith(QLatin1String("no"));
        out.push_back(t);
    }
    return out;
}

DiscToc discTocOf(const std::vector<int>& toc) {
    DiscToc d;
    const int last = toc[1];
    d.trackCount = std::uint8_t(last);
    d.entries[0] = TocEntry::fromFrames(toc[2]);
    for (int n = 1; n <= last; ++n) d.entries[size_t(n)] = TocEntry::fromFrames(toc[size_t(2 + n)]);
    return d;
}

QString tocText(const std::vector<int>& toc) {
    QStringList words;
    for (int n : toc) words << QString::number(n);
    return words.join(QLatin1Char(' '));
}

mb::Release releaseOf(const QString& name) {
    const store::Result<mb::Release> r = ParseMbRelease(readMb(name));
    EXPECT_TRUE(r.isOk()) << (r ? std::string() : r.error().text().toStdString());
    return r ? *r : mb::Release{};
}

editing::PendingAlbum albumWithTocRows(int n) {
    editing::PendingAlbum a;
    a.mode = editing::EditMode::AddCd;
    a.albumId = QStringLiteral("e50b3c11");
    for (int k = 1; k <= n; ++k) a.tracks.push_back({store::TDM::PadNumber(k, 3), QStringLiteral(" 3:00"), QStringLiteral("Track %1").arg(k)});
    return a;
}

QStringList titles(const editing::PendingAlbum& a) {
    QStringList out;
    for (const auto& t : a.tracks) out << t.title;
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The disc ID

TEST(MbDiscId, EveryRecordedTocGivesItsDiscIdAndTocText) {
    SKIP_WITHOUT_TESTDATA();
    const std::vector<TocLine> lines = tocLines();
    ASSERT_GE(lines.size(), 15u);
    int checked = 0;
    for (const TocLine& t : lines) {
        const store::Result<MbDiscToc> id = ComputeMbDiscId(discTocOf(t.toc));
        ASSERT_TRUE(id.isOk()) << t.discId.toStdString();
        // The deliberately wrong ID of the service's own fuzzy test is the one that differs.
        if (t.libdiscidAgrees)
            EXPECT_EQ(id->discId, t.discId) << tocText(t.toc).toStdString();
        else
            EXPECT_NE(id->discId, t.discId);
        EXPECT_EQ(id->tocText, tocText(t.toc));
        EXPECT_EQ(DiscDrive::DiscIdText(CalcDiscID(discTocOf(t.toc))), t.freedbId) << t.discId.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, int(lines.size()));
}

TEST(MbDiscId, AnEnhancedCdsDataTrackIsLeftOutAndItsSessionGapTakenOff) {
    // The enhanced CD of the recorded TOCs: 12 audio tracks, then a data track. MusicBrainz's
    // lead-out is the data track's start less 11,400 frames.
    SKIP_WITHOUT_TESTDATA();
    const std::vector<int> audio = {1, 12, 195856, 150, 15687, 31841, 51016, 66616, 81352, 99559, 116070, 133243, 149997, 161710, 177832};
    DiscToc d = discTocOf(audio);
    d.trackCount = 13;
    d.entries[13] = TocEntry::fromFrames(195856 + 11400);
    d.entries[0] = TocEntry::fromFrames(195856 + 11400 + 30000);
    d.dataTracksAtEnd = 1;
    const store::Result<MbDiscToc> id = ComputeMbDiscId(d);
    ASSERT_TRUE(id.isOk());
    EXPECT_EQ(id->discId, QStringLiteral("KnpGsLhvH.lPrNc1PBL21lb9Bg4-"));
    EXPECT_EQ(id->audioTracks, 12);

    DiscToc none;
    EXPECT_FALSE(ComputeMbDiscId(none).isOk());
    d.dataTracksAtEnd = 13;
    EXPECT_FALSE(ComputeMbDiscId(d).isOk());
}

TEST(MbDiscId, DiscImagesReadThroughLibcdioGiveTheRecordedIds) {
    SKIP_WITHOUT_TESTDATA();
    TempFolder folder;
    int n = 0;
    for (const TocLine& t : tocLines()) {
        if (!t.libdiscidAgrees) continue;
        test::DiscLayout layout;
        for (size_t k = 3; k < t.toc.size(); ++k) layout.starts.push_back(t.toc[k]);
        layout.leadOut = t.toc[2];
        // A long hidden pregap cannot be written as a cue's first index; the others can.
        if (layout.starts.front() != 150) continue;
        for (test::ImageKind kind : {test::ImageKind::Cue, test::ImageKind::Toc}) {
            const QString path = test::writeImage(folder.path(), QStringLiteral("d%1%2").arg(n).arg(test::kindName(kind)), layout, kind);
            CdDriveRecord drive;
            drive.device = path;
            DiscToc toc;
            ReadCdTOC(drive, toc);
            ASSERT_EQ(toc.trackCount, layout.trackCount()) << path.toStdString();
            const store::Result<MbDiscToc> id = ComputeMbDiscId(toc);
            ASSERT_TRUE(id.isOk());
            EXPECT_EQ(id->discId, t.discId) << path.toStdString();
        }
        ++n;
    }
    EXPECT_GE(n, 10);
}

TEST(MbDiscId, AnEnhancedCdImageMarksItsDataTrack) {
    SKIP_WITHOUT_TESTDATA();
    TempFolder folder;
    std::mt19937 rng(7);
    test::LayoutOptions options;
    options.tracks = 9;
    options.dataLast = true;
    const test::DiscLayout layout = test::randomLayout(rng, options);
    const QString path = test::writeImage(folder.path(), QStringLiteral("enhanced"), layout, test::ImageKind::Cue);
    CdDriveRecord drive;
    drive.device = path;
    DiscToc toc;
    ReadCdTOC(drive, toc);
    ASSERT_EQ(toc.trackCount, 9);
    EXPECT_EQ(toc.dataTracksAtEnd, 1);
    const store::Result<MbDiscToc> id = ComputeMbDiscId(toc);
    ASSERT_TRUE(id.isOk());
    EXPECT_EQ(id->audioTracks, 8);
    EXPECT_TRUE(id->tocText.startsWith(QStringLiteral("1 8 %1 ").arg(layout.starts[8] - 11400))) << id->tocText.toStdString();
}

// ---------------------------------------------------------------------------------------------
// Answers

TEST(MbAnswers, SeveralEditionsOfOneDisc) {
    SKIP_WITHOUT_TESTDATA();
    const auto a = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/ngs-discid-xp5tz6rE4OHrBafj0bLfDRMGK48-.xml")));
    ASSERT_TRUE(a.isOk()) << a.error().text().toStdString();
    EXPECT_EQ(a->discId, QStringLiteral("xp5tz6rE4OHrBafj0bLfDRMGK48-"));
    ASSERT_EQ(a->releases.size(), 3u);
    QStringList countries, lines;
    for (const mb::Release& r : a->releases) {
        countries << r.country;
        EXPECT_EQ(r.title, QStringLiteral("Tales of Ephidrina"));
        ASSERT_EQ(r.mediumCount(), 1);
        EXPECT_EQ(r.media[0].trackCount, 8);
        EXPECT_TRUE(r.media[0].tracks.empty());  // the answer lists no tracks
        EXPECT_EQ(r.media[0].discIds.size(), 4);
        EXPECT_EQ(MediumForDisc(r, a->discId, 8), 0);
        lines << MbChoiceLine(r, 0);
    }
    EXPECT_EQ(countries, (QStringList{QStringLiteral("GB"), QStringLiteral("CA"), QStringLiteral("US")}));
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("MusicBrainz: "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("GB, 1993-07-05"))) << lines[0].toStdString();
    EXPECT_NE(lines[0], lines[2]);
}

TEST(MbAnswers, TheDiscOnTheFirstOfTwoMediaWithUmlauts) {
    SKIP_WITHOUT_TESTDATA();
    const auto a = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/ngs-discid-f7agNZK1HMQ2WUWq9bwDymw9aHA-.xml")));
    ASSERT_TRUE(a.isOk());
    ASSERT_EQ(a->releases.size(), 2u);
    const mb::Release& r = a->releases[0];
    EXPECT_EQ(r.title, S("Geräusch"));
    ASSERT_EQ(r.mediumCount(), 2);
    EXPECT_EQ(r.media[0].title, S("Schwarzes Geräusch"));
    EXPECT_EQ(r.media[1].title, S("Rotes Geräusch"));
    EXPECT_EQ(MediumForDisc(r, QStringLiteral("f7agNZK1HMQ2WUWq9bwDymw9aHA-"), 13), 0);
    EXPECT_EQ(MediumForDisc(r, QStringLiteral("EMM4xgOXn40XXFgxCd2hf84lc1Q-"), 13), 1);
    EXPECT_TRUE(MbChoiceLine(r, 0).endsWith(QStringLiteral("medium 1 of 2)"))) << MbChoiceLine(r, 0).toStdString();
}

TEST(MbAnswers, TheServersOwnAnswerInXmlAndJsonReadAlike) {
    SKIP_WITHOUT_TESTDATA();
    for (const char* twin : {"mbserver-discid-IeldkVfIh1wep_M8CMuDvA0nQ7Q-", "mbserver-toc-fuzzy-inc-tags-genres"}) {
        const auto x = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/%1.xml").arg(QLatin1String(twin))));
        const auto j = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/json/%1.json").arg(QLatin1String(twin))));
        ASSERT_TRUE(x.isOk() && j.isOk()) << twin;
        EXPECT_EQ(x->discId, j->discId);
        ASSERT_EQ(x->releases.size(), j->releases.size()) << twin;
        // The JSON twins were written again by another encoder: the order of the list may differ.
        for (const mb::Release& a : x->releases) {
            const auto same = std::find_if(j->releases.begin(), j->releases.end(), [&](const mb::Release& r) { return r.id == a.id; });
            ASSERT_NE(same, j->releases.end()) << a.id.toStdString();
            const mb::Release& b = *same;
            EXPECT_EQ(a.title, b.title);
            EXPECT_EQ(a.artist, b.artist);
            EXPECT_EQ(a.date, b.date);
            EXPECT_EQ(a.genres, b.genres) << twin;
            ASSERT_EQ(a.mediumCount(), b.mediumCount());
            for (int m = 0; m < a.mediumCount(); ++m) {
                EXPECT_EQ(a.media[size_t(m)].discIds, b.media[size_t(m)].discIds);
                EXPECT_EQ(a.media[size_t(m)].title, b.media[size_t(m)].title);
                EXPECT_EQ(a.media[size_t(m)].trackCount, b.media[size_t(m)].trackCount);
            }
        }
    }
    const auto direct = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/json/mbserver-discid-IeldkVfIh1wep_M8CMuDvA0nQ7Q-.json")));
    ASSERT_TRUE(direct.isOk());
    ASSERT_EQ(direct->releases.size(), 1u);
    // The disc is on the second medium of "Aerial".
    EXPECT_EQ(MediumForDisc(direct->releases[0], direct->discId, 9), 1);
    EXPECT_TRUE(MbChoiceLine(direct->releases[0], 1).contains(QStringLiteral("medium 2 of 2")));
}

TEST(MbAnswers, AFuzzyTocAnswerHasNoDiscAndFindsTheMediumByTrackCount) {
    SKIP_WITHOUT_TESTDATA();
    for (const char* file : {"ws2/xml/mbserver-toc-fuzzy-inc-tags-genres.xml", "ws2/xml/mbserver-toc-fuzzy-discid-dash.xml",
                             "ws2/json/mbserver-toc-fuzzy-inc-tags-genres.json"}) {
        const auto a = ParseMbDiscAnswer(readMb(QString::fromLatin1(file)));
        ASSERT_TRUE(a.isOk()) << file;
        EXPECT_TRUE(a->discId.isEmpty()) << file;
        ASSERT_EQ(a->releases.size(), 2u) << file;
        for (const mb::Release& r : a->releases) {
            EXPECT_EQ(r.title, QStringLiteral("Aerial"));
            // 9 tracks: the second medium, whether or not it lists this disc.
            EXPECT_EQ(MediumForDisc(r, QString(), 9), 1) << file;
            EXPECT_EQ(MediumForDisc(r, QString(), 7), 0) << file;
        }
    }
    const auto tagged = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/json/mbserver-toc-fuzzy-inc-tags-genres.json")));
    ASSERT_TRUE(tagged.isOk());
    EXPECT_EQ(tagged->releases[0].genres.value(0), QStringLiteral("musical"));
    // The genre list's own spelling is taken; no match keeps the default.
    EXPECT_EQ(MbGenre(tagged->releases[0], {QStringLiteral("Rock"), QStringLiteral("Musical")}, QStringLiteral("misc")),
              QStringLiteral("Musical"));
    EXPECT_EQ(MbGenre(tagged->releases[1], {QStringLiteral("Musical")}, QStringLiteral("misc")), QStringLiteral("misc"));
}

TEST(MbAnswers, ReleasesWithTheirTracksAndArtistCredits) {
    SKIP_WITHOUT_TESTDATA();
    const auto nine = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.9-releases.xml")));
    ASSERT_TRUE(nine.isOk());
    ASSERT_EQ(nine->releases.size(), 9u);
    for (const mb::Release& r : nine->releases) {
        EXPECT_EQ(r.artist, QStringLiteral("The Beatles"));
        ASSERT_EQ(r.media.at(0).tracks.size(), 17u);
        // The 2011 answers carry titles in the recording only.
        EXPECT_EQ(r.media[0].tracks[0].title, QStringLiteral("Come Together"));
        EXPECT_EQ(r.media[0].tracks[16].title, QStringLiteral("Her Majesty"));
    }

    const auto boa = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/mbserver-discid-T.epJ9O5SoDjPqAJuOJfAI9O8Nk-.inc-artist-credits.xml")));
    ASSERT_TRUE(boa.isOk());
    ASSERT_EQ(boa->releases.size(), 1u);
    EXPECT_EQ(boa->releases[0].title, QStringLiteral("LOVE & HONESTY"));
    EXPECT_EQ(boa->releases[0].artist, QStringLiteral("BoA"));
    EXPECT_EQ(boa->releases[0].country, QStringLiteral("JP"));

    const mb::Release va = releaseOf(QStringLiteral("ws2/release/rubyripper-release-e85a1d26-252e-4335-b3e8-634ca08030b4.various-artists.xml"));
    EXPECT_EQ(va.artistId, kVariousArtistsMbid);
    ASSERT_EQ(va.mediumCount(), 2);
    EXPECT_EQ(va.media[0].tracks.size() + va.media[1].tracks.size(), 31u);
    EXPECT_EQ(va.media[0].tracks[0].artist, QStringLiteral("Dirty Projectors + David Byrne"));
    EXPECT_EQ(va.media[0].tracks[1].title, S("Cello Song (feat. José González)"));
    EXPECT_EQ(MediumForDisc(va, QStringLiteral("uXevrIYavaBFWElz2ASimje.8KI-"), 0), 1);

    const mb::Release box = releaseOf(QStringLiteral("ws2/release/picard-release-f17a0f30-8eb1-4322-b54e-fb71edb78d7c.5-media.json"));
    ASSERT_EQ(box.mediumCount(), 5);
    EXPECT_EQ(MediumForDisc(box, QStringLiteral("6NksHllhjO74WpVDabBDhj3P0qk-"), 6), 1);
    EXPECT_EQ(box.media[4].format, QStringLiteral("Blu-ray"));
}

TEST(MbAnswers, ErrorBodiesAndGarbage) {
    SKIP_WITHOUT_TESTDATA();
    EXPECT_EQ(ParseMbError(readMb(QStringLiteral("ws2/xml/mbserver-error-400-invalid-discid.xml"))), QStringLiteral("Invalid discid."));
    EXPECT_EQ(ParseMbError(readMb(QStringLiteral("ws2/xml/mbserver-error-404-not-found.xml"))), QStringLiteral("Not Found"));
    EXPECT_EQ(ParseMbError(readMb(QStringLiteral("ws2/xml/rubyripper-error-404-not-found.xml"))), QStringLiteral("Not Found"));
    EXPECT_EQ(ParseMbError(readMb(QStringLiteral("ws2/json/mbserver-error-404-not-found.json"))), QStringLiteral("Not Found"));
    // An error body is not an answer, and neither is anything else that is not one.
    for (const QByteArray& body :
         {readMb(QStringLiteral("ws2/json/mbserver-error-404-not-found.json")), QByteArray("<html><body>Bad gateway</body></html>"),
          QByteArray("{\"releases\": [{\"title\": \"no id\"}]}"), QByteArray("<metadata><disc id=\"x\"><release-list><release><title>"),
          QByteArray("\x00\xff garbage", 10), QByteArray()}) {
        EXPECT_FALSE(ParseMbDiscAnswer(body).isOk()) << body.left(40).toStdString();
        EXPECT_FALSE(ParseMbRelease(body).isOk()) << body.left(40).toStdString();
    }
}

// A hostile answer: nested a million levels deep (a tree builder would take minutes and then
// its stack), or declaring entities. Both are refused at once, as answers and as error bodies.
TEST(MbAnswers, DeeplyNestedOrDeclaringAnswersAreRefusedQuickly) {
    QByteArray deep = "<?xml version=\"1.0\"?><metadata><disc id=\"x\">";
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    const QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE metadata [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]>"
                            "<metadata><release id=\"r\"><title>&b;&b;&b;</title></release></metadata>";
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray& body : {deep, bomb}) {
        const auto a = ParseMbDiscAnswer(body);
        ASSERT_FALSE(a.isOk());
        EXPECT_TRUE(a.error().text().startsWith(QStringLiteral("The MusicBrainz answer cannot be read: "))) << a.error().text().toStdString();
        EXPECT_FALSE(ParseMbRelease(body).isOk());
        EXPECT_TRUE(ParseMbError(body).isEmpty());
    }
    EXPECT_LT(clock.elapsed(), 5000);
    // A real answer is far from the depth limit.
    EXPECT_TRUE(ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.9-releases.xml"))).isOk());
}

// A CD stub is what someone once typed in for a disc without a release: no album to fill, so
// the disc counts as unknown (the lookup goes on to the TOC).
TEST(MbAnswers, ACdStubIsNoRelease) {
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">"
                           "<cdstub id=\"x\"><title>Typed In</title><artist>Someone</artist><track-list count=\"2\"/></cdstub></metadata>";
    const QByteArray json = "{\"id\":\"x\",\"title\":\"Typed In\",\"artist\":\"Someone\",\"track-count\":2,\"tracks\":[]}";
    for (const QByteArray& body : {xml, json}) {
        const auto a = ParseMbDiscAnswer(body);
        ASSERT_TRUE(a.isOk()) << a.error().text().toStdString();
        EXPECT_TRUE(a->releases.empty());
    }
}

// ---------------------------------------------------------------------------------------------
// A release into the pending album

TEST(MbFill, OneReleaseFillsTheAlbumOverTheTocsRows) {
    SKIP_WITHOUT_TESTDATA();
    const auto a = ParseMbDiscAnswer(readMb(QStringLiteral("ws2/xml/rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.1-release.xml")));
    ASSERT_TRUE(a.isOk());
    const mb::Release& r = a->releases.at(0);
    editing::PendingAlbum album = albumWithTocRows(17);
    album.notes = QStringLiteral("left over");
    FillFromRelease(r, MediumForDisc(r, a->discId, 17), a->discId, {QStringLiteral("rock")}, QStringLiteral("rock"), album);
    EXPECT_EQ(album.artist, QStringLiteral("The Beatles"));
    EXPECT_EQ(album.title, QStringLiteral("Abbey Road"));
    EXPECT_EQ(album.year, QStringLiteral("2009"));
    EXPECT_EQ(album.genre, QStringLiteral("rock"));
    EXPECT_EQ(album.sys, QLatin1Char('B'));
    EXPECT_EQ(album.rev, QStringLiteral("0"));
    EXPECT_EQ(album.albumId, QStringLiteral("e50b3c11"));
    EXPECT_EQ(album.notes, QStringLiteral("MBID=f15d1f3a-5bf4-3a96-95be-a801b3889dc6\r\nMBDISCID=4vi.H1hC7BRP18_a.7D4r4NOYL8-"));
    ASSERT_EQ(album.tracks.size(), 17u);
    EXPECT_EQ(album.tracks[0].title, QStringLiteral("Come Together"));
    EXPECT_EQ(album.tracks[0].time, QStringLiteral(" 3:00"));  // the disc's own time stays
    EXPECT_EQ(album.tracks[0].number, QStringLiteral("  1"));
    // A typographic apostrophe is in Windows-1252.
    EXPECT_EQ(album.tracks[2].title, S("Maxwell’s Silver Hammer"));
    EXPECT_FALSE(album.isMultiArtist());
}

TEST(MbFill, AFuzzyMatchWithMoreTracksThanTheDiscKeepsTheDiscsRows) {
    SKIP_WITHOUT_TESTDATA();
    const mb::Release two = releaseOf(QStringLiteral("ws2/release/rubyripper-release-0eb1539f-93f6-3a76-b5c5-0d559c72de12.two-discs.xml"));
    ASSERT_EQ(two.mediumCount(), 2);
    editing::PendingAlbum album = albumWithTocRows(12);
    FillFromRelease(two, 1, QStringLiteral("someid"), {}, QStringLiteral("misc"), album);
    ASSERT_EQ(album.tracks.size(), 12u);
    EXPECT_EQ(album.title, QStringLiteral("The Beatles (disc 2)"));
    EXPECT_EQ(album.tracks[0].title, two.media[1].tracks[0].title);
    EXPECT_EQ(album.genre, QStringLiteral("misc"));

    // Without rows of a disc the medium's tracks make them, with their lengths.
    editing::PendingAlbum bare;
    FillFromRelease(two, 1, QString(), {}, QString(), bare);
    ASSERT_EQ(bare.tracks.size(), two.media[1].tracks.size());
    EXPECT_EQ(bare.tracks[0].time, store::TDM::FormatTrackTime((two.media[1].tracks[0].lengthMs + 500) / 1000, 2));
    EXPECT_EQ(bare.notes, QStringLiteral("MBID=0eb1539f-93f6-3a76-b5c5-0d559c72de12"));
}

TEST(MbFill, JapaneseTextBecomesQuestionMarks) {
    SKIP_WITHOUT_TESTDATA();
    const mb::Release jp = releaseOf(QStringLiteral("ws2/release/picard-release-6c4f766f-3351-4c10-a53d-b119452c27b2.japanese.json"));
    editing::PendingAlbum album = albumWithTocRows(4);
    FillFromRelease(jp, 0, QString(), {}, QStringLiteral("misc"), album);
    EXPECT_EQ(album.title, QStringLiteral("???? (disc 1)"));
    EXPECT_EQ(titles(album), (QStringList{QStringLiteral("????"), QStringLiteral("Bye-Bye Butterfly"), QStringLiteral("Starry"),
                                          QStringLiteral("???? -Instrumental-")}));
    EXPECT_EQ(album.year, QStringLiteral("2021"));
    for (QChar c : album.title + titles(album).join(QString())) EXPECT_EQ(ToStorable(QString(c)), QString(c));
}

TEST(MbFill, ACompilationBecomesAMultiArtistAlbumAndSavesItsArtistRows) {
    SKIP_WITHOUT_TESTDATA();
    const mb::Release va = releaseOf(QStringLiteral("ws2/release/rubyripper-release-e85a1d26-252e-4335-b3e8-634ca08030b4.various-artists.xml"));
    TempFolder data;
    store::TDM dm(data.path());
    ASSERT_STORE_OK(dm.EnsureCollectionFiles());
    ASSERT_STORE_OK(dm.OpenCollectionTables());
    settings::SettingsFile file(data.path());
    settings::RunSettings run = file.read(nullptr);
    QStringList genres;
    int loaded = 0;
    editing::AlbumEditor editor(dm, run, file, genres, loaded);
    editor.LoadLists();
    editing::PendingAlbum& album = editor.pending();
    album = albumWithTocRows(int(va.media[0].tracks.size()));
    album.albumId = QStringLiteral("c50f6a0f");
    FillFromRelease(va, 0, QStringLiteral("c.J3z3pava1oPzXD0K2e9q48lJc-"), {}, QStringLiteral("misc"), album);
    EXPECT_EQ(album.artist, QStringLiteral("Various Artists"));
    EXPECT_TRUE(album.isMultiArtist());
    EXPECT_EQ(album.title, QStringLiteral("Dark Was the Night (This Disc)"));
    EXPECT_EQ(album.tracks[0].title, QStringLiteral("Dirty Projectors + David Byrne / Knotty Pine"));
    EXPECT_TRUE(album.tracks[1].title.endsWith(S(" / Cello Song (feat. José González)"))) << album.tracks[1].title.toStdString();
    for (const auto& t : album.tracks) EXPECT_TRUE(t.title.contains(QStringLiteral(" / "))) << t.title.toStdString();

    const store::Result<bool> saved = editor.Save();
    ASSERT_TRUE(saved.isOk() && *saved);
    store::Cursor albums, artists, tracks;
    albums.setTablePath(data.file(QStringLiteral("ALBUMS.DBF")));
    ASSERT_STORE_OK(albums.open());
    ASSERT_EQ(albums.recordCount().value(), 1);
    ASSERT_STORE_OK(albums.first());
    EXPECT_EQ(albums.text(QStringLiteral("Sys")), QStringLiteral("B"));
    EXPECT_EQ(albums.text(QStringLiteral("Artist")).trimmed(), QStringLiteral("Various Artists"));
    EXPECT_TRUE(albums.readText(QStringLiteral("Notes")).value().contains(QStringLiteral("MBDISCID=c.J3z3pava1oPzXD0K2e9q48lJc-")));
    artists.setTablePath(data.file(QStringLiteral("ARTISTS.DBF")));
    ASSERT_STORE_OK(artists.open());
    QStringList names;
    for (store::Status st = artists.first(); st && !artists.eof(); st = artists.next()) names << artists.text(QStringLiteral("Artist")).trimmed();
    EXPECT_TRUE(names.contains(QStringLiteral("Dirty Projectors + David Byrne"))) << names.join(QLatin1Char('|')).toStdString();
    EXPECT_GE(names.size(), 10);
    tracks.setTablePath(data.file(QStringLiteral("TRACKS.DBF")));
    ASSERT_STORE_OK(tracks.open());
    EXPECT_EQ(tracks.recordCount().value(), qint64(va.media[0].tracks.size()));
}

TEST(MbFill, AGuestOnOneTrackDoesNotMakeACompilation) {
    mb::Release r;
    r.id = QStringLiteral("x");
    r.title = QStringLiteral("Album");
    r.artist = QStringLiteral("Singer");
    mb::Medium m;
    m.position = 1;
    for (int k = 1; k <= 4; ++k) m.tracks.push_back({k, QString::number(k), QStringLiteral("Song %1").arg(k), QStringLiteral("Singer"), {}, 1000});
    m.tracks[2].artist = QStringLiteral("Singer feat. Guest");
    r.media.push_back(m);
    editing::PendingAlbum a = albumWithTocRows(4);
    FillFromRelease(r, 0, QString(), {}, QString(), a);
    EXPECT_EQ(a.artist, QStringLiteral("Singer"));
    EXPECT_EQ(a.tracks[2].title, QStringLiteral("Song 3"));
    // Credited with a guest on most tracks is still the singer's album, told by the artists' IDs.
    r.artistId = QStringLiteral("singer-id");
    for (mb::Track& t : r.media[0].tracks) {
        t.artist = QStringLiteral("Singer feat. Guest");
        t.artistIds = {QStringLiteral("singer-id"), QStringLiteral("guest-id")};
    }
    editing::PendingAlbum featured = albumWithTocRows(4);
    FillFromRelease(r, 0, QString(), {}, QString(), featured);
    EXPECT_EQ(featured.artist, QStringLiteral("Singer"));
    EXPECT_EQ(featured.tracks[0].title, QStringLiteral("Song 1"));
    for (mb::Track& t : r.media[0].tracks) {
        t.artist = QStringLiteral("Singer");
        t.artistIds.clear();
    }
    r.media[0].tracks[2].artist = QStringLiteral("Singer feat. Guest");
    // Half by others: a split release, listed as a compilation.
    r.media[0].tracks[3].artist = QStringLiteral("Other");
    editing::PendingAlbum b = albumWithTocRows(4);
    FillFromRelease(r, 0, QString(), {}, QString(), b);
    EXPECT_EQ(b.artist, QStringLiteral("Various Artists"));
    EXPECT_EQ(b.tracks[0].title, QStringLiteral("Singer / Song 1"));
    EXPECT_EQ(b.tracks[3].title, QStringLiteral("Other / Song 4"));
}

// Two albums never share a cover file, whatever their IDs hold, and a disc ID names its own.
TEST(MbCoverFile, EveryAlbumIdGetsAFileOfItsOwn) {
    TempFolder data;
    const CoverImage image{QByteArray("\xFF\xD8\xFF\xE0 not much of a jpeg", 24), QStringLiteral("jpg"), {}};
    QStringList paths;
    for (const char* id : {"e50b3c11", "AB_1", "AB.1", "AB/1", "../AB"}) {
        const store::Result<QString> path = StoreCover(data.path(), QString::fromLatin1(id), image);
        ASSERT_TRUE(path.isOk()) << id;
        EXPECT_TRUE(path->startsWith(QDir::cleanPath(data.file(QStringLiteral("covers"))) + QLatin1Char('/'))) << path->toStdString();
        EXPECT_FALSE(paths.contains(*path)) << id;
        paths << *path;
        EXPECT_EQ(test::fileBytes(*path), image.bytes);
    }
    EXPECT_EQ(paths[0], QDir::cleanPath(data.file(QStringLiteral("covers/e50b3c11.jpg"))));
    EXPECT_FALSE(StoreCover(data.path(), QStringLiteral("  "), image).isOk());
}
