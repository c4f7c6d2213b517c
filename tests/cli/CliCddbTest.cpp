// albumora-cli lookup, add-cd and submit against a CDDB server and an SMTP server of the tests'
// own on loopback, with a disc image as the drive: what the commands print, what they store,
// and that the refusals store nothing.
#include "Cursor.h"
#include "DiscImages.h"
#include "ServerProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using albumora::test::CddbServer;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;

namespace {

// Disc 770bf909 of the shared records: 9 tracks, 3067 seconds.
const albumora::test::DiscLayout kDisc{{150, 20750, 49241, 75773, 98943, 123694, 148200, 169497, 188305}, 3067 * 75, 0};

class CliCddbTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TESTDATA();
        ASSERT_EQ(cli({QStringLiteral("init")}).exitCode, 0);
        QFile source(albumora::test::sharedTestData() + QStringLiteral("/xmcd/770bf909"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        record = source.readAll();
        file(QStringLiteral("rock"), record);
        image = albumora::test::writeImage(discs.path(), QStringLiteral("angels"), kDisc, albumora::test::ImageKind::Cue);
    }
    void file(const QString& category, const QByteArray& text) {
        QDir(root.path()).mkpath(category);
        QFile f(root.file(category + QStringLiteral("/770bf909")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    // Starts the server and points the settings file at it.
    void serve(const QStringList& options = {}, const QStringList& moreSettings = {}) {
        server = std::make_unique<CddbServer>(root.path(), root.file(QStringLiteral("server.log")), options);
        ASSERT_TRUE(server->started()) << server->failure().toStdString();
        const bool http = QLatin1String(GetParam()) == QLatin1String("H");
        QStringList ini = {QStringLiteral("[Current]"),
                           QStringLiteral("Host=127.0.0.1:%1").arg(http ? server->httpPort() : server->cddbpPort()),
                           QStringLiteral("Protocol=") + QString::fromLatin1(GetParam()),
                           // The CD database alone: nothing here may reach MusicBrainz.
                           QStringLiteral("Sources=cddb")};
        ini += moreSettings;
        QFile f(data.file(QStringLiteral("Albumora.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(ini.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    }
    ProcessResult cli(const QStringList& args) const {
        return albumora::test::runCli(QStringList{QStringLiteral("--data"), data.path()} + args);
    }
    QStringList albums(const QString& fields) const {
        albumora::store::Cursor c;
        c.setTablePath(data.file(QStringLiteral("ALBUMS.DBF")));
        EXPECT_TRUE(c.open().isOk());
        QStringList out;
        albumora::store::Status st;
        for (st = c.first(); st && !c.isEmpty() && !c.eof(); st = c.next()) {
            QStringList values;
            for (const QString& f : fields.split(QLatin1Char(','))) values << c.text(f).trimmed();
            out << values.join(QLatin1Char('|'));
        }
        EXPECT_TRUE(st.isOk()) << st.text().toStdString();
        return out;
    }
    int trackRows() const {
        albumora::store::Cursor c;
        c.setTablePath(data.file(QStringLiteral("TRACKS.DBF")));
        EXPECT_TRUE(c.open().isOk());
        return *c.recordCount();
    }
    bool quitSent() const { return server->log().contains(QStringLiteral("T quit")) || QLatin1String(GetParam()) == QLatin1String("H"); }

    TempFolder data, root, discs;
    QByteArray record;
    QString image;
    std::unique_ptr<CddbServer> server;
};

TEST_P(CliCddbTest, LookupPrintsTheMatchesThenTheChosenRecord) {
    QByteArray live = record;
    live.replace("DTITLE=Nightwish / Angels Fall First", "DTITLE=Nightwish / Angels Fall First (Live)");
    live.replace("TTITLE0=Elvenpath", "TTITLE0=Elvenpath (live)");
    file(QStringLiteral("misc"), live);
    serve();

    ProcessResult r = cli({QStringLiteral("lookup"), image, QStringLiteral("--match"), QStringLiteral("2")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    // The server lists categories in its own order; match 2 is whichever it listed second.
    const QStringList matches = lines.mid(0, 2);
    EXPECT_TRUE(matches.contains(QStringLiteral("rock 770bf909 Nightwish / Angels Fall First")));
    EXPECT_TRUE(matches.contains(QStringLiteral("misc 770bf909 Nightwish / Angels Fall First (Live)")));
    const bool secondIsLive = matches.at(1).startsWith(QLatin1String("misc"));
    EXPECT_TRUE(lines.contains(secondIsLive ? QStringLiteral("TTITLE0=Elvenpath (live)") : QStringLiteral("TTITLE0=Elvenpath")));
    EXPECT_EQ(lines.at(2), QStringLiteral("# xmcd"));
    EXPECT_EQ(lines.last(), QStringLiteral("PLAYORDER="));
    EXPECT_TRUE(quitSent());

    // A match the server did not list: no read, the connection still closed properly.
    r = cli({QStringLiteral("lookup"), image, QStringLiteral("--match"), QStringLiteral("3")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed(), QStringLiteral("albumora-cli: the server listed 2 matches, there is no match 3"));
    EXPECT_FALSE(server->log().filter(QStringLiteral("cddb read")).size() > 1) << server->log().join(QLatin1Char('\n')).toStdString();
}

TEST_P(CliCddbTest, AddCdStoresTheDiscOnceAndNothingWhenUnknown) {
    serve();
    ProcessResult r = cli({QStringLiteral("add-cd"), image});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("770bf909\n"));
    EXPECT_EQ(albums(QStringLiteral("ID,ARTIST,ALBUM,GENRE,YR,Rev,SYS")),
              QStringList{QStringLiteral("770bf909|Nightwish|Angels Fall First|metal|1997|2|F")});
    EXPECT_EQ(trackRows(), 9);

    const qsizetype asked = server->log().size();
    r = cli({QStringLiteral("add-cd"), image});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed(),
              QStringLiteral("albumora-cli: This CD is already in your Collection. Please use the MODIFY button instead!"));
    EXPECT_EQ(server->log().size(), asked);  // never reached the server
    EXPECT_EQ(trackRows(), 9);

    // A disc the server does not know.
    const QString other =
        albumora::test::writeImage(discs.path(), QStringLiteral("other"), {{150, 30000}, 60000, 0}, albumora::test::ImageKind::Cue);
    r = cli({QStringLiteral("add-cd"), other});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed(), QStringLiteral("albumora-cli: This album not found in remote database."));
    EXPECT_EQ(albums(QStringLiteral("ID")).size(), 1);
    EXPECT_EQ(trackRows(), 9);
}

TEST_P(CliCddbTest, RefusingServersStoreNothing) {
    struct Case {
        QStringList options;
        const char* error;
        bool cddbpOnly;
    };
    const Case cases[] = {
        {{QStringLiteral("--banner"), QStringLiteral("432")}, "Could not connect to CDDB server, error 432", true},
        {{QStringLiteral("--hello"), QStringLiteral("431")}, "Handshake with CDDB server failed, error 431", true},
        {{QStringLiteral("--read-code"), QStringLiteral("401")}, "This album not found in remote database.", false},
        {{QStringLiteral("--fault"), QStringLiteral("garbage")}, "", false},
        {{QStringLiteral("--fault"), QStringLiteral("close")}, "", false},
    };
    for (const Case& c : cases) {
        if (c.cddbpOnly && QLatin1String(GetParam()) == QLatin1String("H")) continue;
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        server.reset();
        serve(c.options);
        const ProcessResult r = cli({QStringLiteral("add-cd"), image});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_FALSE(r.crashed);
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("albumora-cli: ")) && r.err.count(QLatin1Char('\n')) == 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.error))) << r.err.toStdString();
        EXPECT_TRUE(albums(QStringLiteral("ID")).isEmpty());
        EXPECT_EQ(trackRows(), 0);
    }
}

TEST_P(CliCddbTest, SubmitMailsTheAlbumAndAdvancesItsRevision) {
    TempFolder mailbox;
    albumora::test::SmtpServer smtp(mailbox.path());
    ASSERT_TRUE(smtp.started()) << smtp.failure().toStdString();
    albumora::test::SmtpServer refusing(mailbox.path(), {QStringLiteral("--refuse-rcpt"), QStringLiteral("550")});
    ASSERT_TRUE(refusing.started()) << refusing.failure().toStdString();
    serve({}, {QStringLiteral("Mail=jane.doe@example.org"), QStringLiteral("Server=127.0.0.1:%1").arg(refusing.port())});
    ASSERT_EQ(cli({QStringLiteral("add-cd"), image}).exitCode, 0);

    // Refused: the revision stays, nothing was delivered.
    ProcessResult r = cli({QStringLiteral("submit"), image});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("550"))) << r.err.toStdString();
    EXPECT_EQ(albums(QStringLiteral("Rev")), QStringList{QStringLiteral("2")});
    EXPECT_TRUE(QDir(mailbox.path()).entryList({QStringLiteral("*.json")}).isEmpty());

    serve({}, {QStringLiteral("Mail=jane.doe@example.org"), QStringLiteral("Server=127.0.0.1:%1").arg(smtp.port())});
    r = cli({QStringLiteral("submit"), image});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Thank you! Entry has been submitted to on-line database\n"));
    EXPECT_EQ(albums(QStringLiteral("Rev")), QStringList{QStringLiteral("3")});
    const QStringList mails = QDir(mailbox.path()).entryList({QStringLiteral("*.json")});
    ASSERT_EQ(mails.size(), 1);
    QFile f(mailbox.file(mails.first()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject message = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(message[QStringLiteral("mail_from")].toString(), QStringLiteral("jane.doe@example.org"));
    // "metal" is no category of the database.
    EXPECT_EQ(message[QStringLiteral("headers")].toObject()[QStringLiteral("Subject")].toString(), QStringLiteral("cddb misc 770bf909"));
    const QStringList body = message[QStringLiteral("body")].toString().split(QStringLiteral("\r\n"));
    EXPECT_TRUE(body.contains(QStringLiteral("# Revision: 3")));
    EXPECT_TRUE(body.contains(QStringLiteral("#        20750")) || body.contains(QStringLiteral("# 20750")))
        << body.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(body.contains(QStringLiteral("TTITLE8=Lappi (Lapland)")));
}

INSTANTIATE_TEST_SUITE_P(Transports, CliCddbTest, ::testing::Values("T", "H"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param[0] == 'H' ? "Http" : "Cddbp");
                         });

}  // namespace
