// The drive operations over disc images: the retries and their waits, the audio CD test, finding
// the disc's album in a real collection, the lookup and submission texts, the drive door.
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "TestSupport.h"

#include <QFile>

using namespace albumora::disc;
using namespace albumora::test;
using albumora::store::TDM;

namespace {

const QString kNoDrive = QStringLiteral("Can NOT find a CD-ROM drive");
const QString kNotFound = QStringLiteral("Could not find this CD in your Collection");
const QString kNoAudioCd = QStringLiteral("There does NOT seem to be an audio CD in drive ");

std::vector<int> repeated(int times, int ms) {
    return std::vector<int>(size_t(times), ms);
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QString writeGarbage(const TempFolder& dir, const QString& name) {
    QFile f(dir.file(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("REM not a disc\nFILE\n");
    return f.fileName();
}

// A drive over a state of its own, its waits recorded instead of slept, and no CD devices of
// the machine: the images are the only drives.
struct TestDrive {
    DiscState state;
    std::vector<int> waits;
    DiscDrive drive;
    TestDrive(const QString& cdPath, int driveNr = 0, const QString& protocol = QStringLiteral("T"))
        : drive({cdPath, driveNr, protocol}, state) {
        drive.setSleep([this](int ms) { waits.push_back(ms); });
        drive.setDeviceLister([] { return QStringList(); });
    }
};

TEST(ReadDisc, RetriesAndWaits) {
    TempFolder dir;
    const QString image =
        writeImage(dir.path(), QStringLiteral("album"), DiscLayout{{150, 20000, 40000}, 60000, 0}, ImageKind::Cue);
    const QString garbage = writeGarbage(dir, QStringLiteral("broken.cue"));
    struct Case {
        const char* what;
        QString cdPath;
        int driveNr;
        bool read;
        std::vector<int> waits;
        QStringList errors;
        QString discId;  // after the call; the test starts with "deadbeef"
        QStringList lines;
    };
    const QString drive0 = QStringLiteral("(00:00:00) ");
    const std::vector<Case> cases = {
        // 20 attempts at the drive list, the last 9 after a 20 ms wait; the old ID is kept.
        {"no drive at all", QString(), 0, false, repeated(9, 20), {kNoDrive}, QStringLiteral("deadbeef"), {}},
        {"CDPath names nothing",
         dir.file(QStringLiteral("gone.cue")),
         0,
         false,
         repeated(9, 20),
         {kNoDrive},
         QStringLiteral("deadbeef"),
         {}},
        // A drive but no readable disc: one 250 ms wait, then 20 silent attempts at the TOC.
        {"unreadable image", garbage, 0, false, concat({250}, repeated(9, 20)), {}, QString(), {drive0}},
        // The disc is there, but DriveNr points past the list.
        {"drive number past the list", image, 1, false, repeated(9, 20), {}, QString(), {drive0}},
        {"readable image", image, 0, true, {}, {}, QStringLiteral("1b031e03"), {drive0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDesktop desktop;
        TestDrive t(c.cdPath, c.driveNr);
        t.state.currentDiscId = QStringLiteral("deadbeef");
        EXPECT_EQ(t.drive.ReadDisc(), c.read);
        EXPECT_EQ(t.waits, c.waits);
        EXPECT_EQ(desktop.prompts.texts(QStringLiteral("error")), c.errors);
        EXPECT_EQ(desktop.prompts.shown.size(), size_t(c.errors.size()));
        EXPECT_EQ(t.state.currentDiscId, c.discId);
        EXPECT_EQ(t.state.toc.trackCount, c.read ? 3 : 0);
        ASSERT_EQ(t.state.cbDrives.size(), c.lines.size());
        for (qsizetype i = 0; i < c.lines.size(); ++i) EXPECT_TRUE(t.state.cbDrives[i].startsWith(c.lines[i]));
        if (!c.lines.isEmpty()) {
            EXPECT_EQ(t.state.cbDrivesIndex, c.driveNr < c.lines.size() ? c.driveNr : -1);
        }
    }
}

TEST(IsAudioCdInDrive, ByDiscModeOrTrackCount) {
    TempFolder dir;
    struct Case {
        const char* what;
        DiscLayout layout;
        ImageKind kind;
        bool audio;
        int tocTracks;  // tracks of the TOC afterwards: 0 when the disc mode answered
    };
    const std::vector<Case> cases = {
        {"one audio track", {{150}, 20000, 0}, ImageKind::Cue, true, 0},
        {"five audio tracks", {{150, 5000, 9000, 15000, 21000}, 30000, 0}, ImageKind::Toc, true, 0},
        {"hidden first track", {{3000, 9000}, 30000, 0}, ImageKind::Cue, true, 0},
        {"enhanced CD", {{150, 9000, 20000, 42000}, 60000, 1}, ImageKind::Cue, true, 4},
        {"enhanced CD of one song", {{150, 30000}, 40000, 1}, ImageKind::Toc, true, 2},
        {"one data track", {{150}, 40000, 1}, ImageKind::Cue, false, 1},
        {"one data track (toc)", {{150}, 40000, 1}, ImageKind::Toc, false, 1},
        // Two tracks are taken for an audio CD whatever they hold.
        {"two data tracks", {{150, 20000}, 40000, 2}, ImageKind::Cue, true, 2},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDesktop desktop;
        const QString path = writeImage(dir.path(), QStringLiteral("d%1").arg(n++), c.layout, c.kind);
        TestDrive t(path);
        EXPECT_EQ(t.drive.IsAudioCdInDrive(path), c.audio);
        EXPECT_TRUE(t.waits.empty());
        EXPECT_EQ(t.state.toc.trackCount, c.tocTracks);
        EXPECT_TRUE(desktop.prompts.shown.empty());
    }
}

TEST(IsAudioCdInDrive, AnEmptyDriveNeverReachesTheTocLoop) {
    TempFolder dir;
    const QString garbage = writeGarbage(dir, QStringLiteral("broken.cue"));
    const QString gone = dir.file(QStringLiteral("gone.cue"));
    for (const QString& path : {QString(), gone, garbage, QStringLiteral("/dev/null")}) {
        SCOPED_TRACE(path.toStdString());
        FakeDesktop desktop;
        TestDrive t(path);
        t.state.currentDiscId = QStringLiteral("deadbeef");
        EXPECT_FALSE(t.drive.IsAudioCdInDrive(path));
        // A drive that is there is given a moment to spin up; none is waited for without one.
        const bool there = path == garbage || path == QStringLiteral("/dev/null");
        EXPECT_EQ(t.waits, there ? std::vector<int>{350} : std::vector<int>{});
        EXPECT_EQ(t.state.currentDiscId, QStringLiteral("deadbeef"));
        EXPECT_TRUE(desktop.prompts.shown.empty());
    }
}

class FindCdTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<TDM>(dir.path());
        ASSERT_TRUE(dm->EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm->OpenCollectionTables().isOk());
        disc = writeImage(dir.path(), QStringLiteral("disc"), layout, ImageKind::Cue);
        discId = libdiscidFreedbId(layout);
        addAlbum(QStringLiteral("0a0b0c0d"), QStringLiteral("Aardvark"), QStringLiteral("First"));
        addAlbum(QStringLiteral("z0000001"), QStringLiteral("Zebra"), QStringLiteral("Last"));
    }
    void addAlbum(const QString& id, const QString& artist, const QString& album) {
        auto& a = dm->tblAlbums;
        ASSERT_TRUE(a.append().isOk());
        ASSERT_TRUE(a.setText(QStringLiteral("ID"), id).isOk());
        ASSERT_TRUE(a.setText(QStringLiteral("Artist"), artist).isOk());
        ASSERT_TRUE(a.setText(QStringLiteral("Album"), album).isOk());
        ASSERT_TRUE(a.post().isOk());
    }
    TempFolder dir;
    std::unique_ptr<TDM> dm;
    const DiscLayout layout{{150, 17000, 33000, 51000}, 70000, 0};
    QString disc;
    QString discId;
};

TEST_F(FindCdTest, PresentAbsentAndNoDisc) {
    addAlbum(discId, QStringLiteral("Middle"), QStringLiteral("The disc"));
    const QString garbage = writeGarbage(dir, QStringLiteral("broken.cue"));
    struct Case {
        const char* what;
        QString cdPath;
        bool removeAlbum;
        bool showMessages;
        bool found;
        QStringList errors;
    };
    const std::vector<Case> cases = {
        {"present, with messages", disc, false, true, true, {}},
        {"present, without messages", disc, false, false, true, {}},
        {"no audio CD, with messages", garbage, false, true, false, {kNoAudioCd + garbage}},
        {"no audio CD, without messages", garbage, false, false, false, {}},
        // Not in the collection: told whatever the caller asked.
        {"absent, with messages", disc, true, true, false, {kNotFound}},
        {"absent, without messages", disc, true, false, false, {kNotFound}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.removeAlbum) {
            dm->tblFilter.setFiltered(false);
            ASSERT_TRUE(dm->tblFilter.setOrder(QStringLiteral("ID")).isOk());
            ASSERT_TRUE(dm->tblFilter.open().isOk());
            auto at = dm->tblFilter.findKey({discId});
            ASSERT_TRUE(at.isOk());
            // The first of the "absent" cases takes it out of the collection.
            if (*at) {
                ASSERT_TRUE(dm->tblFilter.deleteRecord().isOk());
            }
        }
        FakeDesktop desktop;
        ASSERT_TRUE(dm->tblAlbums.first().isOk());
        ASSERT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), QStringLiteral("0a0b0c0d"));
        // A filter left on the search cursor must not hide the album.
        ASSERT_TRUE(dm->tblFilter.setFilter(QStringLiteral("Artist=\"Nobody\"")).isOk());
        dm->tblFilter.setFiltered(true);
        TestDrive t(c.cdPath);
        auto result = t.drive.FindCdInCollection(*dm, c.showMessages);
        ASSERT_TRUE(result.isOk()) << result.error().text().toStdString();
        EXPECT_EQ(*result, c.found);
        EXPECT_EQ(desktop.prompts.texts(QStringLiteral("error")), c.errors);
        EXPECT_EQ(desktop.prompts.shown.size(), size_t(c.errors.size()));
        EXPECT_EQ(dm->tblAlbums.order(), QStringLiteral("Artist"));
        // Without a disc the collection is not touched at all.
        EXPECT_EQ(dm->tblFilter.filtered(), c.cdPath != disc);
        if (c.found) {
            EXPECT_EQ(t.state.currentDiscId, discId);
            EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), discId);
            EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("Album")), QStringLiteral("The disc"));
            // The albums grid goes on in its own order from the disc's album.
            ASSERT_TRUE(dm->tblAlbums.next().isOk());
            EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("Artist")), QStringLiteral("Zebra"));
        } else {
            EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), QStringLiteral("0a0b0c0d"));
        }
    }
}

TEST_F(FindCdTest, AnAlbumTheGridFilterHidesIsNotMadeCurrent) {
    addAlbum(discId, QStringLiteral("Middle"), QStringLiteral("The disc"));
    auto& a = dm->tblAlbums;
    ASSERT_TRUE(a.setFilter(QStringLiteral("Artist<>\"Middle\"")).isOk());
    a.setFiltered(true);
    ASSERT_TRUE(a.first().isOk());
    FakeDesktop desktop;
    TestDrive t(disc);
    auto result = t.drive.FindCdInCollection(*dm, true);
    ASSERT_TRUE(result.isOk()) << result.error().text().toStdString();
    EXPECT_FALSE(*result);
    EXPECT_EQ(desktop.prompts.texts(QStringLiteral("error")), QStringList{kHiddenByFilter});
    // The grid keeps a row it shows as the current one.
    EXPECT_EQ(a.text(QStringLiteral("ID")), QStringLiteral("0a0b0c0d"));
    // The store itself refuses to land a filtered cursor on a hidden row.
    ASSERT_TRUE(dm->tblFilter.findKey({discId}).isOk());
    EXPECT_EQ(a.gotoBookmark(dm->tblFilter.bookmark()).kind(), albumora::store::ErrorKind::NotFound);
    EXPECT_EQ(a.text(QStringLiteral("ID")), QStringLiteral("0a0b0c0d"));

    // With the filter off the same disc is found.
    a.setFiltered(false);
    auto again = t.drive.FindCdInCollection(*dm, true);
    ASSERT_TRUE(again.isOk());
    EXPECT_TRUE(*again);
    EXPECT_EQ(a.text(QStringLiteral("ID")), discId);
}

TEST(ComposeTocText, LookupAndSubmission) {
    // Two tracks at 0:02:00 and 4:06:27 (frame 18477), lead-out at 24:02:30.
    DiscToc toc;
    toc.trackCount = 2;
    toc.entries[1] = TocEntry::fromFrames(150);
    toc.entries[2] = TocEntry::fromFrames(18477);
    toc.entries[0] = TocEntry::fromFrames(1442 * 75 + 30);
    struct Case {
        const char* protocol;
        const char* query;
    };
    // "H" joins with "+", "T" with blanks; a missing value behaves as "T".
    for (const Case& c : {Case{"H", "2+150+18477+1442"}, Case{"HTTP", "2+150+18477+1442"},
                          Case{"T", "2 150 18477 1442"}, Case{"", "2 150 18477 1442"}}) {
        SCOPED_TRACE(c.protocol);
        DiscState state;
        state.toc = toc;
        DiscDrive drive({QString(), 0, QString::fromLatin1(c.protocol)}, state);
        const ComposedToc lookup = drive.ComposeTocText(TocMode::Lookup);
        EXPECT_EQ(lookup.queryText, QString::fromLatin1(c.query));
        EXPECT_EQ(lookup.discLength, 1442);
        EXPECT_EQ(state.discLength, 1442);
        EXPECT_TRUE(lookup.submissionLines.isEmpty());
        // 246 - 2 - 2 = 242 seconds and 1442 - 246 - 2 = 1194: 2 seconds short, the last one too.
        ASSERT_EQ(lookup.rows.size(), 2u);
        EXPECT_EQ(lookup.rows[0].number, QStringLiteral("  1"));
        EXPECT_EQ(lookup.rows[0].time, QStringLiteral(" 4:02"));
        EXPECT_EQ(lookup.rows[0].title, QStringLiteral("Track 1"));
        EXPECT_EQ(lookup.rows[1].number, QStringLiteral("  2"));
        EXPECT_EQ(lookup.rows[1].time, QStringLiteral("19:54"));
        EXPECT_EQ(lookup.rows[1].title, QStringLiteral("Track 2"));

        state.discLength = 0;
        const ComposedToc submission = drive.ComposeTocText(TocMode::Submission);
        EXPECT_EQ(submission.submissionLines, (QStringList{"# 150", "# 18477", "#", "# Disc length: 1442 seconds"}));
        EXPECT_TRUE(submission.rows.empty());
        EXPECT_TRUE(submission.queryText.isEmpty());
        EXPECT_EQ(state.discLength, 0) << "only a lookup hands the length on";
    }
}

TEST(ComposeTocText, TrackNumbersAndTitlesOfALongDisc) {
    DiscToc toc;
    toc.trackCount = 99;
    for (int n = 1; n <= 99; ++n) toc.entries[size_t(n)] = TocEntry::fromFrames(150 + (n - 1) * 40 * 75);
    toc.entries[0] = TocEntry::fromFrames(150 + 99 * 40 * 75);
    const ComposedToc c = DiscDrive::ComposeTocText(toc, TocMode::Lookup, QStringLiteral("H"));
    ASSERT_EQ(c.rows.size(), 99u);
    for (const auto& [index, number, title] :
         {std::tuple{0, "  1", "Track 1"}, std::tuple{9, " 10", "Track 10"}, std::tuple{98, " 99", "Track 99"}}) {
        EXPECT_EQ(c.rows[size_t(index)].number, QString::fromLatin1(number));
        EXPECT_EQ(c.rows[size_t(index)].title, QString::fromLatin1(title));
        EXPECT_EQ(c.rows[size_t(index)].time, QStringLiteral(" 0:38"));
    }
    EXPECT_TRUE(c.queryText.startsWith(QStringLiteral("99+150+3150+")));
    EXPECT_TRUE(c.queryText.endsWith(QStringLiteral("+") + QString::number((150 + 99 * 40 * 75) / 75)));
    EXPECT_EQ(c.queryText.count(QLatin1Char('+')), 100);
}

TEST(EjectDisc, OnlyARealDriveOpens) {
    TempFolder dir;
    const QString image = writeImage(dir.path(), QStringLiteral("disc"), DiscLayout{{150}, 20000, 0}, ImageKind::Cue);
    for (const QString& path :
         {image, QString(), dir.file(QStringLiteral("gone.cue")), QStringLiteral("/dev/null"), dir.path()})
        EXPECT_FALSE(DiscDrive::EjectDisc(path)) << path.toStdString();
    EXPECT_TRUE(QFile::exists(image));
}

}  // namespace
