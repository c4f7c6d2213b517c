// Disc IDs and TOCs of real disc images read through libcdio, checked against libdiscid and
// against the IDs other disc-ID libraries assert in their own tests.
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "TestSupport.h"
#include "UDiscIdCalcDefs.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <optional>

using namespace albumora::disc;
using namespace albumora::test;

namespace {

const QRegularExpression kDiscIdForm(QStringLiteral("^[0-9a-f]{8}$"));

struct Reader {
    DiscState state;
    std::vector<int> waits;
    DiscDrive drive;
    explicit Reader(const QString& image, int driveNr = 0, const QString& protocol = QStringLiteral("T"))
        : drive({image, driveNr, protocol}, state) {
        drive.setSleep([this](int ms) { waits.push_back(ms); });
        drive.setDeviceLister([] { return QStringList(); });
    }
};

std::string describe(const DiscLayout& l, ImageKind kind) {
    std::string s = std::string(kindName(kind)) + " tracks=" + std::to_string(l.trackCount()) +
                    " data=" + std::to_string(l.dataTracks) + " starts=";
    for (int f : l.starts) s += std::to_string(f) + ",";
    return s + " leadout=" + std::to_string(l.leadOut);
}

// What the lookup should get, worked out from the layout rather than from the TOC.
QString expectedQuery(const DiscLayout& l, const QString& sep) {
    QString q = QString::number(l.trackCount());
    for (int f : l.starts) q += sep + QString::number(f);
    return q + sep + QString::number(l.leadOut / 75);
}

TEST(DiscImagesRead, EveryLayoutGivesLibdiscidsIdAndItsOwnToc) {
    FakeDesktop desktop;
    TempFolder dir;
    std::mt19937 rng(20240613);
    int images = 0;
    for (int tracks = 1; tracks <= kMaxTracks; ++tracks) {
        for (ImageKind kind : {ImageKind::Cue, ImageKind::Toc}) {
            // libcdio's cdrdao reader takes a few milliseconds a track to open, so .toc images
            // sample the track counts while .cue images take every one.
            if (kind == ImageKind::Toc && !(tracks <= 10 || tracks % 10 == 0 || tracks == kMaxTracks)) continue;
            // Every track count as a plain audio disc, an enhanced CD, a disc with a hidden first
            // track and both at once, in turn.
            const int variant = (tracks + (kind == ImageKind::Toc ? 1 : 0)) % 4;
            LayoutOptions o;
            o.tracks = tracks;
            o.dataLast = tracks >= 2 && (variant == 1 || variant == 3);
            // libcdio's cdrdao reader counts the hidden track's stretch twice into the lead-out
            // when the first track is also the last, so that one layout is left to the .cue.
            o.hiddenTrack = variant >= 2 && !(kind == ImageKind::Toc && tracks == 1);
            const DiscLayout layout = randomLayout(rng, o);
            const QString path =
                writeImage(dir.path(), QStringLiteral("disc%1%2").arg(tracks).arg(kindName(kind)), layout, kind);
            SCOPED_TRACE(describe(layout, kind));
            ++images;

            Reader r(path);
            ASSERT_TRUE(r.drive.ReadDisc());
            EXPECT_TRUE(r.waits.empty());
            ASSERT_EQ(r.state.toc.trackCount, tracks);
            EXPECT_EQ(r.state.toc.entries[0].frames(), layout.leadOut);
            for (int n = 1; n <= tracks; ++n)
                EXPECT_EQ(r.state.toc.entries[size_t(n)].frames(), layout.starts[size_t(n - 1)]) << n;

            const QString reference = libdiscidFreedbId(layout);
            EXPECT_EQ(r.state.currentDiscId, reference);
            EXPECT_TRUE(kDiscIdForm.match(r.state.currentDiscId).hasMatch()) << r.state.currentDiscId.toStdString();
            EXPECT_EQ(DiscDrive::DiscIdText(CalcDiscID(r.state.toc)), reference);

            const ComposedToc c = r.drive.ComposeTocText(TocMode::Lookup);
            EXPECT_EQ(c.queryText, expectedQuery(layout, QStringLiteral(" ")));
            EXPECT_EQ(c.discLength, layout.leadOut / 75);
            ASSERT_EQ(int(c.rows.size()), tracks);
            for (int n = 1; n <= tracks; ++n) {
                const int end = n < tracks ? layout.starts[size_t(n)] : layout.leadOut;
                const int raw = end / 75 - layout.starts[size_t(n - 1)] / 75;
                EXPECT_EQ(c.rows[size_t(n - 1)].time, albumora::store::TDM::FormatTrackTime(raw - 2, 2)) << n;
            }
            // Audio discs by their mode, enhanced CDs by their track count.
            EXPECT_TRUE(r.drive.IsAudioCdInDrive(path));
        }
    }
    EXPECT_TRUE(desktop.prompts.shown.empty()) << desktop.prompts.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(images, kMaxTracks + 19);
}

TEST(DiscImagesRead, LeadingZerosAndLetters) {
    TempFolder dir;
    struct Case {
        std::vector<int> starts;
        int leadOut;
        const char* id;
    };
    // Worked out by hand: digit sum of the start seconds, playing time, track count.
    for (const Case& c : {Case{{150}, 150 + 60 * 75, "02003c01"}, Case{{150, 13650}, 36150, "0d01e002"},
                          Case{{150, 450, 750}, 150 + 250 * 75, "0900fa03"}}) {
        const DiscLayout layout{c.starts, c.leadOut, 0};
        for (ImageKind kind : {ImageKind::Cue, ImageKind::Toc}) {
            SCOPED_TRACE(describe(layout, kind));
            Reader r(writeImage(dir.path(), QStringLiteral("z%1").arg(c.id), layout, kind));
            ASSERT_TRUE(r.drive.ReadDisc());
            EXPECT_EQ(r.state.currentDiscId, QString::fromLatin1(c.id));
            EXPECT_EQ(libdiscidFreedbId(layout), QString::fromLatin1(c.id));
        }
    }
}

TEST(DiscIdText, EightLowerCaseDigits) {
    struct Case {
        std::uint32_t id;
        const char* text;
    };
    for (const Case& c : {Case{0, "00000000"}, Case{0x2a, "0000002a"}, Case{0x0a0b0c0d, "0a0b0c0d"},
                          Case{0xffffffffu, "ffffffff"}, Case{0x920ef00bu, "920ef00b"}})
        EXPECT_EQ(DiscDrive::DiscIdText(c.id), QString::fromLatin1(c.text));
}

struct KnownDisc {
    QString source;
    std::vector<int> offsets;
    std::optional<int> leadOut;
    int discLength = 0;
    QString id;
};

// ../shared/testdata/discids.tsv: a header line naming the columns, then one disc a line.
std::vector<KnownDisc> readKnownDiscs(QString* error) {
    QFile f(sharedTestData() + QStringLiteral("/discids.tsv"));
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open discids.tsv");
        return {};
    }
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty()) return {};
    const QStringList header =
        lines.first().mid(lines.first().startsWith(QLatin1Char('#')) ? 1 : 0).split(QLatin1Char('\t'));
    auto column = [&](const QString& word) {
        for (int i = 0; i < header.size(); ++i)
            if (header[i].contains(word, Qt::CaseInsensitive)) return i;
        *error += QStringLiteral("no column about \"%1\"; ").arg(word);
        return -1;
    };
    const int cSource = column(QStringLiteral("source")), cOffsets = column(QStringLiteral("track frame offsets")),
              cLeadOut = column(QStringLiteral("lead-out")), cLength = column(QStringLiteral("disc length")),
              cId = column(QStringLiteral("disc ID"));
    if (!error->isEmpty()) return {};
    std::vector<KnownDisc> out;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(QLatin1Char('\t'));
        KnownDisc d;
        d.source = cells.value(cSource).trimmed();
        for (const QString& o : cells.value(cOffsets).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            d.offsets.push_back(o.toInt());
        if (!cells.value(cLeadOut).trimmed().isEmpty()) d.leadOut = cells.value(cLeadOut).trimmed().toInt();
        d.discLength = cells.value(cLength).trimmed().toInt();
        d.id = cells.value(cId).trimmed();
        out.push_back(std::move(d));
    }
    return out;
}

TEST(DiscImagesRead, IdsOtherLibrariesAssert) {
    SKIP_WITHOUT_TESTDATA();
    QString error;
    const std::vector<KnownDisc> discs = readKnownDiscs(&error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_GE(discs.size(), 3u);
    TempFolder dir;
    int n = 0;
    for (const KnownDisc& d : discs) {
        // Where only the disc length is known, any lead-out in that second gives the same ID.
        const DiscLayout layout{d.offsets, d.leadOut.value_or(d.discLength * 75), 0};
        for (ImageKind kind : {ImageKind::Cue, ImageKind::Toc}) {
            SCOPED_TRACE(d.source.toStdString() + " " + kindName(kind));
            Reader r(writeImage(dir.path(), QStringLiteral("known%1").arg(n++), layout, kind));
            ASSERT_TRUE(r.drive.ReadDisc());
            EXPECT_EQ(r.state.currentDiscId, d.id);
            const ComposedToc c = r.drive.ComposeTocText(TocMode::Lookup);
            EXPECT_EQ(c.discLength, d.discLength);
            QString query = QString::number(d.offsets.size());
            for (int o : d.offsets) query += QLatin1Char(' ') + QString::number(o);
            EXPECT_EQ(c.queryText, query + QLatin1Char(' ') + QString::number(d.discLength));
        }
    }
}

TEST(ReadCdTOC, FailureLeavesNoTracks) {
    TempFolder dir;
    QFile garbage(dir.file(QStringLiteral("garbage.cue")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("this is not a cue sheet\n");
    garbage.close();
    const QString good =
        writeImage(dir.path(), QStringLiteral("good"), DiscLayout{{150, 9000}, 20000, 0}, ImageKind::Cue);
    for (const QString& device : {QString(), dir.file(QStringLiteral("missing.cue")), garbage.fileName(),
                                  QStringLiteral("/dev/null"), dir.path()}) {
        DiscToc toc;
        toc.trackCount = 7;  // what a previous read may have left
        CdDriveRecord rec;
        rec.device = device;
        ReadCdTOC(rec, toc);
        EXPECT_EQ(toc.trackCount, 0) << device.toStdString();
    }
    DiscToc toc;
    CdDriveRecord rec;
    rec.device = good;
    ReadCdTOC(rec, toc);
    EXPECT_EQ(toc.trackCount, 2);
    EXPECT_EQ(toc.entries[1].minute, 0);
    EXPECT_EQ(toc.entries[1].second, 2);
    EXPECT_EQ(toc.entries[1].frame, 0);
    EXPECT_EQ(toc.entries[0].frames(), 20000);
}

TEST(GetCdRomDrives, ImageFirstThenDevicesUpToTwentySix) {
    TempFolder dir;
    const QString cue =
        writeImage(dir.path(), QStringLiteral("first"), DiscLayout{{150, 9000}, 20000, 0}, ImageKind::Cue);
    const QString toc =
        writeImage(dir.path(), QStringLiteral("second"), DiscLayout{{150, 9000}, 20000, 0}, ImageKind::Toc);

    CdDriveList list;
    ASSERT_TRUE(GetCdRomDrives(list, cue, {toc}));
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.drives[0].device, cue);
    EXPECT_EQ(list.drives[1].device, toc);
    for (int i = 0; i < 2; ++i) {
        const CdDriveRecord& d = list.drives[size_t(i)];
        EXPECT_EQ(d.hostAdapter + d.target + d.lun, 0) << "an image has no SCSI address";
        EXPECT_FALSE(d.vendor.isEmpty());
        EXPECT_FALSE(d.model.isEmpty());
        EXPECT_EQ(DiscDrive::DriveLine(d), QStringLiteral("(00:00:00) ") + d.vendor + QLatin1Char(' ') + d.model +
                                               QLatin1Char(' ') + d.revision);
    }

    // More drives than the list holds: the first 26 are kept, the image still first.
    ASSERT_TRUE(GetCdRomDrives(list, cue, QStringList(30, toc)));
    EXPECT_EQ(list.count, kMaxDrives);
    EXPECT_EQ(list.drives[0].device, cue);
    EXPECT_EQ(list.drives[kMaxDrives - 1].device, toc);

    // A CDPath that names no file adds no drive; nothing at all is a failure.
    EXPECT_FALSE(GetCdRomDrives(list, dir.file(QStringLiteral("gone.cue")), {}));
    EXPECT_EQ(list.count, 0);
    EXPECT_FALSE(GetCdRomDrives(list, QString(), {}));
}

TEST(DriveLine, AddressAndTexts) {
    struct Case {
        int ha, target, lun;
        const char* vendor;
        const char* model;
        const char* revision;
        const char* line;
    };
    for (const Case& c :
         {Case{0, 0, 0, "HL-DT-ST", "DVDRAM GH24NSD1", "LG00", "(00:00:00) HL-DT-ST DVDRAM GH24NSD1 LG00"},
          Case{1, 2, 3, "TSSTcorp", "CDDVDW SH-224DB", "SB01", "(01:02:03) TSSTcorp CDDVDW SH-224DB SB01"},
          Case{12, 5, 0, "", "", "", "(12:05:00)   "}, Case{255, 100, 7, "A", "B", "C", "(255:100:07) A B C"}}) {
        CdDriveRecord d;
        d.hostAdapter = std::uint8_t(c.ha);
        d.target = std::uint8_t(c.target);
        d.lun = std::uint8_t(c.lun);
        d.vendor = QString::fromLatin1(c.vendor);
        d.model = QString::fromLatin1(c.model);
        d.revision = QString::fromLatin1(c.revision);
        EXPECT_EQ(DiscDrive::DriveLine(d), QString::fromLatin1(c.line));
    }
}

TEST(AspiInstalled, AMachineWithoutDrivesIsNoError) {
    if (!QDir(QStringLiteral("/sys/class/block"))
             .entryList({QStringLiteral("sr*")}, QDir::AllEntries | QDir::System)
             .isEmpty() ||
        !CdRomDevices().isEmpty())
        GTEST_SKIP() << "this machine has CD devices";
    EXPECT_EQ(AspiInstalled(), 0);
    EXPECT_TRUE(DiscDrive::FirstCdRomDrive().isEmpty());
}

}  // namespace
