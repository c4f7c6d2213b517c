// albumora-cli's disc commands run as a process over disc images: the disc ID and the query
// text, the drive list, the drive named in the settings file, and the one-line failures.
#include "DiscDrive.h"
#include "DiscImages.h"
#include "TestSupport.h"
#include "UDiscIdCalcDefs.h"

#include <QDir>
#include <QFile>

using namespace albumora::disc;
using namespace albumora::test;

namespace {

QString queryText(const DiscLayout& l) {
    QString q = QString::number(l.trackCount());
    for (int f : l.starts) q += QLatin1Char(' ') + QString::number(f);
    return q + QLatin1Char(' ') + QString::number(l.leadOut / 75);
}

void writeSettings(const QString& folder, const QByteArray& text) {
    QFile f(QDir(folder).filePath(QStringLiteral("Albumora.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

std::string show(const ProcessResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\nout: " + r.out.toStdString() + "\nerr: " + r.err.toStdString();
}

TEST(DiscCli, DiscIdAndQueryTextOfImages) {
    TempFolder dir;
    std::mt19937 rng(7);
    struct Case {
        ImageKind kind;
        LayoutOptions options;
    };
    const std::vector<Case> cases = {
        {ImageKind::Cue, {1, false, false}}, {ImageKind::Cue, {12, true, false}}, {ImageKind::Cue, {99, false, true}},
        {ImageKind::Toc, {3, false, false}}, {ImageKind::Toc, {18, true, true}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const DiscLayout layout = randomLayout(rng, c.options);
        const QString image = writeImage(dir.path(), QStringLiteral("cli%1").arg(n++), layout, c.kind);
        SCOPED_TRACE(image.toStdString());
        const ProcessResult r = runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("discid"), image});
        ASSERT_EQ(r.exitCode, 0) << show(r);
        EXPECT_EQ(r.out, libdiscidFreedbId(layout) + QLatin1Char('\n') + queryText(layout) + QLatin1Char('\n') +
                             libdiscidMusicBrainzId(layout) + QLatin1Char('\n'));
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
}

TEST(DiscCli, TheSettingsFileNamesTheDrive) {
    TempFolder dir;
    const DiscLayout layout{{150, 13650, 31650}, 622 * 75 + 40, 0};
    const QString image = writeImage(dir.path(), QStringLiteral("disc"), layout, ImageKind::Cue);
    const QString expected = libdiscidFreedbId(layout) + QStringLiteral("\n3 150 13650 31650 622\n") + libdiscidMusicBrainzId(layout) + QLatin1Char('\n');

    CdDriveList list;
    ASSERT_TRUE(GetCdRomDrives(list, image));
    const QString lines = DiscDrive::DriveLines(list).join(QLatin1Char('\n')) + QLatin1Char('\n');
    ASSERT_TRUE(lines.startsWith(QStringLiteral("(00:00:00) ")));

    // Sections and keys are matched without regard to case; a relative path is taken from the
    // data folder, not from wherever the command was started.
    for (const QByteArray& ini :
         {QByteArray("[Current]\r\nHost=gnudb.gnudb.org\r\nCDPath=") + image.toUtf8() + "\r\nDriveNr=0\r\n",
          QByteArray("[Genre]\r\nGenre1=Rock\r\n[current]\r\ncdpath = disc.cue\r\n")}) {
        SCOPED_TRACE(ini.toStdString());
        writeSettings(dir.path(), ini);
        const ProcessResult id =
            runProcess(QStringLiteral(ALBUMORA_CLI_PATH),
                       {QStringLiteral("--data"), dir.path(), QStringLiteral("discid")}, 60000, QDir::rootPath());
        ASSERT_EQ(id.exitCode, 0) << show(id);
        EXPECT_EQ(id.out, expected);
        const ProcessResult drives = runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("drives")});
        ASSERT_EQ(drives.exitCode, 0) << show(drives);
        EXPECT_EQ(drives.out, lines);
    }
}

TEST(DiscCli, FailuresAreOneLine) {
    TempFolder dir;
    QFile garbage(dir.file(QStringLiteral("broken.cue")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("REM not a disc\n");
    garbage.close();
    QFile notes(dir.file(QStringLiteral("notes.txt")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("liner notes\n");
    notes.close();
    const QString missing = dir.file(QStringLiteral("gone.cue"));
    const QString image =
        writeImage(dir.path(), QStringLiteral("disc"), DiscLayout{{150, 9000}, 20000, 0}, ImageKind::Toc);

    struct Case {
        QStringList args;
        QString message;
    };
    std::vector<Case> cases = {
        {{QStringLiteral("discid"), missing}, QStringLiteral("no such device or disc image: ") + missing},
        {{QStringLiteral("drives"), missing}, QStringLiteral("no such device or disc image: ") + missing},
        {{QStringLiteral("discid"), garbage.fileName()},
         QStringLiteral("cannot read the disc image ") + garbage.fileName()},
        {{QStringLiteral("discid"), notes.fileName()},
         QStringLiteral("cannot read the disc image ") + notes.fileName()},
        {{QStringLiteral("discid"), QStringLiteral("/dev/null")},
         QStringLiteral("/dev/null is not a CD drive or a disc image")},
        {{QStringLiteral("discid"), image, image}, QStringLiteral("unexpected argument \"") + image + QLatin1Char('"')},
    };
    // With neither an argument nor CDPath the first CD device is used; only a machine without
    // one can show the failure.
    if (CdRomDevices().isEmpty()) {
        cases.push_back({{QStringLiteral("discid")}, QStringLiteral("Can NOT find a CD-ROM drive")});
        cases.push_back({{QStringLiteral("drives")}, QStringLiteral("Can NOT find a CD-ROM drive")});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ProcessResult r = runCli(QStringList{QStringLiteral("--data"), dir.path()} + c.args);
        EXPECT_EQ(r.exitCode, 1) << show(r);
        EXPECT_FALSE(r.crashed);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_EQ(r.err, QStringLiteral("albumora-cli: ") + c.message + QLatin1Char('\n'));
    }
}

}  // namespace
