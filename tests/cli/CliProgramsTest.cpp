// The companion is two programs: albumora-cli, which holds the table commands and loads nothing
// they do not need, and albumora-cli-flows beside it for everything else.
#include "CliProcesses.h"
#include "TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using albumora::test::run;
using albumora::test::TempFolder;

namespace {

const QString kCli = QStringLiteral(ALBUMORA_CLI_PATH);

// The shared libraries a program names (its DT_NEEDED entries), read by binutils.
QStringList neededLibraries(const QString& program) {
    const auto r = run(QStringLiteral("readelf"), {QStringLiteral("-d"), program});
    QStringList needed;
    for (const QString& line : r.out.split(QLatin1Char('\n')))
        if (line.contains(QLatin1String("(NEEDED)"))) needed << line.section(QLatin1Char('['), 1).section(QLatin1Char(']'), 0, 0);
    return needed;
}

TEST(CliPrograms, TheTableProgramLoadsNoNetworkDriveOrWidgets) {
    const QStringList needed = neededLibraries(kCli);
    ASSERT_FALSE(needed.isEmpty()) << "readelf found nothing in " << kCli.toStdString();
    EXPECT_TRUE(needed.filter(QStringLiteral("libQt6Core")).size() == 1) << needed.join(' ').toStdString();
    for (const char* heavy : {"Qt6Network", "Qt6Gui", "Qt6Widgets", "Qt6Xml", "curl", "cdio", "discid", "ssl"})
        EXPECT_TRUE(needed.filter(QLatin1String(heavy)).isEmpty()) << heavy << " in " << needed.join(' ').toStdString();
    // The other program holds the rest.
    const QStringList flows = neededLibraries(QFileInfo(kCli).absolutePath() + QStringLiteral("/albumora-cli-flows"));
    EXPECT_FALSE(flows.filter(QStringLiteral("Qt6Network")).isEmpty()) << flows.join(' ').toStdString();
}

// Alone in a folder, the table program still runs its own commands, and says plainly that the
// others need the program that is missing.
TEST(CliPrograms, WithoutTheFlowsProgramTheTableCommandsStillRun) {
    TempFolder bin, data;
    const QString alone = bin.file(QStringLiteral("albumora-cli"));
    ASSERT_TRUE(QFile::copy(kCli, alone));
    ASSERT_TRUE(QFile::setPermissions(alone, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    auto r = run(alone, {QStringLiteral("--data"), data.path(), QStringLiteral("init")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = run(alone, {QStringLiteral("--data"), data.path(), QStringLiteral("count"), QStringLiteral("ALBUMS.DBF")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("0\n"));
    r = run(alone, {QStringLiteral("--data"), data.path(), QStringLiteral("tracks"), QStringLiteral("csv")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, QStringLiteral("albumora-cli: cannot start %1: No such file or directory\n").arg(bin.file(QStringLiteral("albumora-cli-flows"))));
    EXPECT_TRUE(r.out.isEmpty());
    // Help and the version need neither.
    r = run(alone, {QStringLiteral("--version")});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("albumora-cli "))) << r.out.toStdString();
}

}  // namespace
