// albumora-cli marks and m3u: the playlist builder's confirm and the play button's file, run as a
// user runs them; the confirm killed or failed at each of its writes keeps the old marks or
// stores the new ones whole.
#include "DMcd.h"
#include "CliProcesses.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <map>

#include <cerrno>

using namespace albumora::store;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;
using albumora::test::Outcome;
using albumora::test::copyFolder;
using albumora::test::run;

namespace {

class PlaylistCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cli({QStringLiteral("init")}).exitCode, 0);
        ASSERT_TRUE(albumora::test::writeFileBytes(QDir(data).filePath(QStringLiteral("Albumora.ini")),
                                                   "[Current]\r\nCDPath=/dev/sr1\r\n"));
        TDM dm(data);
        ASSERT_STORE_OK(dm.OpenCollectionTables());
        auto album = [&](const QString& id, const QString& artist, const QString& media, const QString& label,
                         const QStringList& secs, const QStringList& marks) {
            ASSERT_STORE_OK(dm.tblAlbums.append());
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ID"), id));
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ARTIST"), artist));
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ALBUM"), artist + QStringLiteral(" album")));
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("MEDIA"), media));
            ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("LABEL"), label));
            ASSERT_STORE_OK(dm.tblAlbums.post());
            for (int i = 0; i < secs.size(); ++i) {
                ASSERT_STORE_OK(dm.tblCD.append());
                ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("ID"), id));
                ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("NR"), TDM::PadNumber(i + 1, 3)));
                ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("TRACK"), QStringLiteral("Song %1").arg(i + 1)));
                ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("Secs"), secs[i]));
                ASSERT_STORE_OK(dm.tblCD.post());
            }
            for (const QString& nr : marks) {
                ASSERT_STORE_OK(dm.tblPlayList.append());
                ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("ID"), id));
                ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("NR"), nr));
                ASSERT_STORE_OK(dm.tblPlayList.post());
            }
        };
        QStringList twelve;
        for (int i = 1; i <= 12; ++i) twelve << QString::number(100 + i);
        ASSERT_NO_FATAL_FAILURE(album(cd, QStringLiteral("Band"), {}, {}, twelve, {QStringLiteral("  1"), QStringLiteral("  2")}));
        ASSERT_NO_FATAL_FAILURE(album(other, QStringLiteral("Other"), {}, {}, {QStringLiteral("30"), QStringLiteral("40")}, {QStringLiteral("  2")}));
        music = dir.file(QStringLiteral("music"));
        QDir().mkpath(music);
        for (const char* f : {"02 b.mp3", "01 a.mp3", "notes.txt"}) albumora::test::writeFileBytes(QDir(music).filePath(QString::fromLatin1(f)), "x");
        ASSERT_NO_FATAL_FAILURE(album(ld, QStringLiteral("Files"), QStringLiteral("LD"), music + QStringLiteral("/*.mp3"), {QStringLiteral("1")}, {}));
        ASSERT_STORE_OK(dm.FlushCollection());
    }
    ProcessResult cli(const QStringList& args) const { return albumora::test::runCli(QStringList{QStringLiteral("--data"), data} + args); }
    // The album's marks as another process reads them: NR as stored, in table order.
    QStringList marks(const QString& id) const {
        const ProcessResult r = cli({QStringLiteral("query"), QStringLiteral("PLAYLIST.DBF"), QStringLiteral("--filter"),
                                     QStringLiteral("ID=\"%1\"").arg(id), QStringLiteral("--fields"), QStringLiteral("NR")});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        QStringList lines = r.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        if (!lines.isEmpty()) lines.removeFirst();  // the header
        return lines;
    }
    QStringList m3uLines() const {
        QString text = QString::fromUtf8(albumora::test::fileBytes(QDir(data).filePath(QStringLiteral("Albumora.m3u"))));
        QStringList lines = text.split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
    void expectClean(const std::string& context) const {
        const ProcessResult c = cli({QStringLiteral("check")});
        EXPECT_EQ(c.exitCode, 0) << context << "\n" << c.out.toStdString() << c.err.toStdString();
    }

    TempFolder dir;
    const QString data = dir.file(QStringLiteral("data"));
    const QString cd = QStringLiteral("7a0b5c0c"), other = QStringLiteral("0a000002"), ld = QStringLiteral("z0000001");
    QString music;
};

TEST_F(PlaylistCli, MarksReplaceTheAlbumsMarksOrRefuseAndWriteNothing) {
    ProcessResult r = cli({QStringLiteral("marks"), cd, QStringLiteral("12"), QStringLiteral("3"), QStringLiteral("10")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, cd + QStringLiteral(": 3 marked (3 10 12)\n"));
    EXPECT_EQ(marks(cd), (QStringList{"  3", " 10", " 12"}));
    EXPECT_EQ(marks(other), QStringList{"  2"});

    for (const QStringList& bad : {QStringList{QStringLiteral("4"), QStringLiteral("13")}, QStringList{QStringLiteral("x")}}) {
        r = cli(QStringList{QStringLiteral("marks"), cd} + bad);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("albumora-cli: The album \"Band album\" has no track number"))) << r.err.toStdString();
        EXPECT_EQ(marks(cd), (QStringList{"  3", " 10", " 12"}));
    }
    r = cli({QStringLiteral("marks"), QStringLiteral("0a0000ff"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 1);

    r = cli({QStringLiteral("marks"), cd});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(marks(cd).isEmpty());
    EXPECT_EQ(marks(other), QStringList{"  2"});
    expectClean("after the marks");
}

TEST_F(PlaylistCli, M3uWritesWhatPlayWouldWithoutTheDisc) {
    ProcessResult r = cli({QStringLiteral("m3u"), cd});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QDir(data).absoluteFilePath(QStringLiteral("Albumora.m3u")) + QLatin1Char('\n'));
    EXPECT_EQ(m3uLines(), (QStringList{"#EXTM3U", "#EXTINF:101,Band - Song 1", "cdda:///dev/sr1@1", "#EXTINF:102,Band - Song 2",
                                       "cdda:///dev/sr1@2"}));
    // From track 11 on, marks or not.
    r = cli({QStringLiteral("m3u"), cd, QStringLiteral("--from"), QStringLiteral("11")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(m3uLines(), (QStringList{"#EXTM3U", "#EXTINF:111,Band - Song 11", "cdda:///dev/sr1@11", "#EXTINF:112,Band - Song 12",
                                       "cdda:///dev/sr1@12"}));
    r = cli({QStringLiteral("m3u"), ld});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(m3uLines(), (QStringList{"#EXTM3U", music + "/01 a.mp3", music + "/02 b.mp3"}));
    for (const QStringList& bad : {QStringList{QStringLiteral("m3u"), QStringLiteral("0a0000ff")},
                                   QStringList{QStringLiteral("m3u"), cd, QStringLiteral("--from"), QStringLiteral("0")}}) {
        r = cli(bad);
        EXPECT_EQ(r.exitCode, 1) << bad.join(QLatin1Char(' ')).toStdString();
    }
}

TEST_F(PlaylistCli, AConfirmKilledOrFailedAtAnyWriteKeepsTheOldMarksOrTheNewOnesWhole) {
    const QString base = dir.file(QStringLiteral("base"));
    copyFolder(data, base);
    const QStringList args{QStringLiteral("--data"), data, QStringLiteral("marks"), cd, QStringLiteral("2"), QStringLiteral("3"),
                           QStringLiteral("4")};
    const QStringList before{"  1", "  2"}, after{"  2", "  3", "  4"};
    const QString crashCli = QStringLiteral(ALBUMORA_CLI_CRASH_PATH);
    const Outcome whole = run(crashCli, args, {{QStringLiteral("ALBUMORA_CRASH_COUNT"), QStringLiteral("1")}});
    ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
    const qsizetype at = whole.err.indexOf(QStringLiteral("crash points: "));
    ASSERT_GE(at, 0) << whole.err.toStdString();
    const long points = whole.err.mid(at + 14).trimmed().toLong();
    ASSERT_GT(points, 3);
    EXPECT_EQ(marks(cd), after);
    int killedBefore = 0, failedBefore = 0;
    for (long n = 1; n <= points; ++n) {
        copyFolder(base, data);
        const Outcome r = run(crashCli, args, {{QStringLiteral("ALBUMORA_CRASH_AT"), QString::number(n)}});
        const std::string context = "killed at " + std::to_string(n) + ": " + r.err.trimmed().toStdString();
        // The next program to open the folder finds the old marks or all the new ones.
        const QStringList now = marks(cd);
        EXPECT_TRUE(now == before || now == after) << context << " " << now.join(QLatin1Char('|')).toStdString();
        killedBefore += now == before ? 1 : 0;
        EXPECT_EQ(marks(other), QStringList{"  2"}) << context;
        expectClean(context);
        if (HasFailure()) return;
    }
    EXPECT_GT(killedBefore, 0);
    for (long n = 1; n <= points; ++n) {
        copyFolder(base, data);
        const Outcome r = run(crashCli, args,
                                  {{QStringLiteral("ALBUMORA_FAIL_AT"), QString::number(n)},
                                   {QStringLiteral("ALBUMORA_FAIL_ERRNO"), QString::number(ENOSPC)},
                                   {QStringLiteral("ALBUMORA_FAIL_STICKY"), QStringLiteral("1")}});
        const std::string context = "full disk at " + std::to_string(n) + ": " + r.err.trimmed().toStdString();
        ASSERT_FALSE(r.crashed) << context;
        const QStringList now = marks(cd);
        // Refused: said so, and nothing changed; reported as done: done whole.
        if (r.code != 0) {
            ++failedBefore;
            EXPECT_TRUE(r.err.contains(QStringLiteral("albumora-cli: "))) << context;
            EXPECT_EQ(now, before) << context;
        } else {
            EXPECT_EQ(now, after) << context;
        }
        expectClean(context);
        if (HasFailure()) return;
    }
    EXPECT_GT(failedBefore, 0);
}

}  // namespace
