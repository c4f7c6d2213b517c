// albumora-cli tracks: the tracks view's outputs from the command line, read back by
// independent readers.
#include "../views/TrackViewFixture.h"

#include <QDir>
#include <QFileInfo>

using namespace albumora;

namespace {

class TracksCliTest : public test::TrackViewFixture {
protected:
    test::ProcessResult tracks(QStringList args) {
        dm->CloseAll();
        return test::runCli(QStringList{QStringLiteral("--data"), dir.path(), QStringLiteral("tracks")} + args);
    }
};

TEST_F(TracksCliTest, EveryOutputFromTheCommandLine) {
    // The first command builds the work table, as the view would, and says so on stderr.
    auto r = tracks({QStringLiteral("dbf"), QStringLiteral("--filter"), QStringLiteral("genre=\"pop\"")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Creating Tracks View table..."))) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), QFileInfo(dir.file(QStringLiteral("_TVIEW.DBF"))).absoluteFilePath());
    EXPECT_EQ(readRows(QStringLiteral("TVIEW.DBF")), test::kTrackViewRows);
    EXPECT_EQ(readRows(QStringLiteral("_TVIEW.DBF")).size(), 5);

    // Later commands reuse it.
    r = tracks({QStringLiteral("csv"), QStringLiteral("--order"), QStringLiteral("Album"), QStringLiteral("--fields"),
                QStringLiteral("album,track,marked"), QStringLiteral("--filter"), QStringLiteral("marked")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_EQ(test::fileBytes(r.out.trimmed()), QByteArray("\"ALBUM\",\"TRACK\",\"Marked\"\r\n"
                                                           "\"Blonde on Blonde\",\"I Want 'You'\",\"x\"\r\n"
                                                           "\"Hits & Misses\",\"Cher / Believe\",\"x\"\r\n"));
    const QString out = dir.file(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    r = tracks({QStringLiteral("xml"), QStringLiteral("--out"), out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), QDir(out).filePath(QStringLiteral("program.xml")));
    const auto lint = test::runProcess(QStringLiteral("xmllint"), {QStringLiteral("--noout"), r.out.trimmed()});
    EXPECT_EQ(lint.exitCode, 0) << lint.err.toStdString();

    r = tracks({QStringLiteral("pdf"), QStringLiteral("--out"), dir.file(QStringLiteral("tracks.pdf"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto text = test::runProcess(QStringLiteral("pdftotext"), {dir.file(QStringLiteral("tracks.pdf")), QStringLiteral("-")});
    EXPECT_TRUE(text.out.contains(QStringLiteral("Visions of Johanna"))) << text.out.toStdString();

    // What the command cannot do is said, and nothing is written.
    for (const QStringList& bad : {QStringList{QStringLiteral("csv"), QStringLiteral("--fields"), QStringLiteral("colour")},
                                   QStringList{QStringLiteral("csv"), QStringLiteral("--order"), QStringLiteral("Genre")},
                                   QStringList{QStringLiteral("csv"), QStringLiteral("--filter"), QStringLiteral("genre=\"pop")},
                                   QStringList{QStringLiteral("html")}}) {
        r = tracks(bad);
        EXPECT_EQ(r.exitCode, 1) << bad.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("albumora-cli: "))) << r.err.toStdString();
    }
}

}  // namespace
