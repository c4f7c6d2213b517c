// "Add CD" from end to end: a disc image in CDPath, a CDDB server process on loopback serving
// real records, the match chooser, the edit form saved, and the rows that land in the tables;
// the unknown disc through the import window to the contribution mailed to an SMTP server.
#include "AddCd.h"
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "MainWindowFixture.h"
#include "Modal.h"
#include "ServerProcess.h"
#include "TestSupport.h"
#include "mdF.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

#include <optional>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

// Disc 840e160b of the shared records: 11 tracks, 3608 seconds.
const std::vector<int> kOffsets = {150, 20304, 38752, 59467, 80374, 118586, 139978, 160086, 182448, 227604, 245492};
constexpr int kLeadOut = 3608 * 75;
// A track's length as the TOC gives it: whole seconds of its end less those of its start, 2 short.
int seconds(int start, int end) { return end / 75 - start / 75 - 2; }

class AddCdTest : public ::testing::TestWithParam<const char*>, public test::MainWindowFixture {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TESTDATA();
        QFile source(test::sharedTestData() + QStringLiteral("/xmcd/840e160b"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        record = QString::fromLatin1(source.readAll());
        // Track data of the kind other programs send: the notes must carry it.
        record.replace(QStringLiteral("EXTT4=\n"), QStringLiteral("EXTT4=Live favourite\n"));
        QDir(root.path()).mkpath(QStringLiteral("rock"));
        writeRecord(QStringLiteral("rock"), record);

        test::DiscLayout layout{kOffsets, kLeadOut, 0};
        image = test::writeImage(disc.path(), QStringLiteral("once"), layout, test::ImageKind::Cue);
    }
    void TearDown() override {
        closeMainWindow();
        server.reset();
    }
    void writeRecord(const QString& category, const QString& text) {
        QFile f(root.file(category + QStringLiteral("/840e160b")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toLatin1());
    }
    void startServer(const QStringList& options = {}) {
        server = std::make_unique<test::CddbServer>(root.path(), root.file(QStringLiteral("server.log")), options);
        ASSERT_TRUE(server->started()) << server->failure().toStdString();
    }
    void openWindow() {
        openMainWindow(data.path());
        ASSERT_TRUE(opened());
        settings::RunSettings& s = form->settings();
        s.cdPath = image;
        s.driveNr = 0;
        s.protocol = QString::fromLatin1(GetParam());
        const int port = s.isHttp() ? server->httpPort() : server->cddbpPort();
        s.host = QStringLiteral("127.0.0.1:%1").arg(port);
        // The CD database alone: these tests must never reach MusicBrainz on the network.
        s.sources = QStringLiteral("cddb");
        form->lookupLimits = [](disc::CddbConfig& c) {
            c.connectTimeoutMs = 5000;
            c.readTimeoutMs = 5000;
        };
    }
    QString albumField(const QString& field) {
        store::Cursor c;
        c.setTablePath(data.file(QStringLiteral("ALBUMS.DBF")));
        EXPECT_TRUE(c.setOrder(QStringLiteral("ID")).isOk());
        EXPECT_TRUE(c.open().isOk());
        return *c.findKey({QStringLiteral("840e160b")}) ? c.text(field) : QStringLiteral("<no album>");
    }
    QStringList tracks() {
        store::Cursor c;
        c.setTablePath(data.file(QStringLiteral("TRACKS.DBF")));
        EXPECT_TRUE(c.setOrder(QStringLiteral("Tracks")).isOk());
        EXPECT_TRUE(c.open().isOk());
        c.setFiltered(true);
        EXPECT_TRUE(c.setFilter(QStringLiteral("ID=\"840e160b\"")).isOk());
        QStringList out;
        store::Status st;
        for (st = c.first(); st && !c.isEmpty() && !c.eof(); st = c.next())
            out << c.text(QStringLiteral("NR")) + QLatin1Char('|') + c.text(QStringLiteral("Secs")) + QLatin1Char('|') +
                       c.text(QStringLiteral("TRACK")).trimmed();
        EXPECT_TRUE(st.isOk()) << st.text().toStdString();
        return out;
    }
    void clickAddCd() { child<QPushButton>(form.get(), QStringLiteral("AddCDbutton"))->click(); }

    test::TempFolder data, root, disc;
    test::FakeDesktop desk;
    QString record, image;
    std::unique_ptr<test::CddbServer> server;
};

TEST_P(AddCdTest, ChosenMatchIsSavedUnderTheDiscId) {
    // The same disc filed under a second category, with another disc title: two matches.
    QString other = record;
    other.replace(QStringLiteral("DTITLE=Nightwish / Once"), QStringLiteral("DTITLE=Nightwish / Once (Live Edition)"));
    QDir(root.path()).mkpath(QStringLiteral("misc"));
    writeRecord(QStringLiteral("misc"), other);
    startServer();
    openWindow();

    QStringList offered, shownArtist;
    std::optional<OnNextModal> edit;
    OnNextModal chooser([&](QWidget* w) {
        auto* list = child<QListWidget>(w, QStringLiteral("ListBox1"));
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->count(); ++i) offered << list->item(i)->text();
        list->setCurrentRow(offered.indexOf(QStringLiteral("rock 840e160b Nightwish / Once")));
        edit.emplace(
            [&](QWidget* e) {
                auto* running = child<QLabel>(e, QStringLiteral("RunningLabel"));
                shownArtist << e->windowTitle() << child<QLineEdit>(e, QStringLiteral("EditArtist"))->text()
                            << child<QLineEdit>(e, QStringLiteral("EditTitle"))->text()
                            << (running->isVisible() ? running->text() : QStringLiteral("(hidden)"));
                child<QPushButton>(e, QStringLiteral("BitBtn1"))->click();
            },
            w);
        child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
    });
    clickAddCd();

    EXPECT_EQ(offered.size(), 2) << offered.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(offered.contains(QStringLiteral("misc 840e160b Nightwish / Once (Live Edition)")));
    ASSERT_TRUE(edit && edit->fired());
    EXPECT_EQ(shownArtist, (QStringList{QStringLiteral("Albumora - Edit Form [Add New CD from CD-ROM drive]"),
                                        QStringLiteral("Nightwish"), QStringLiteral("Once"),
                                        // The disc's length is the album's total length.
                                        QStringLiteral(" 60:08")}));
    EXPECT_EQ(albumField(QStringLiteral("ARTIST")), QStringLiteral("Nightwish"));
    EXPECT_EQ(albumField(QStringLiteral("ALBUM")), QStringLiteral("Once"));
    EXPECT_EQ(albumField(QStringLiteral("GENRE")), QStringLiteral("symphonic"));  // cut to the field
    EXPECT_EQ(albumField(QStringLiteral("YR")), QStringLiteral("2004"));
    EXPECT_EQ(albumField(QStringLiteral("Rev")), QStringLiteral("3"));
    EXPECT_EQ(albumField(QStringLiteral("SYS")), QStringLiteral("F"));
    const QStringList notes = albumField(QStringLiteral("Notes")).split(QStringLiteral("\r\n"));
    EXPECT_TRUE(notes.contains(QStringLiteral("EXTD= YEAR: 2004"))) << notes.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(notes.contains(QStringLiteral("EXTT4=Live favourite"))) << notes.join(QLatin1Char('|')).toStdString();

    // Titles from the record, times from the disc.
    const QStringList rows = tracks();
    ASSERT_EQ(rows.size(), 11);
    EXPECT_EQ(rows.first(), QStringLiteral("  1|%1|Dark Chest Of Wonders").arg(seconds(150, 20304)));
    EXPECT_EQ(rows.at(2), QStringLiteral("  3|%1|Nemo").arg(seconds(38752, 59467)));
    EXPECT_EQ(rows.last().section(QLatin1Char('|'), 1, 1).toInt(), seconds(245492, kLeadOut));

    const QStringList log = server->log().filter(QRegularExpression(QStringLiteral("^[TH] ")));
    const QString query = QStringLiteral("cddb query 840e160b 11 150 20304 38752 59467 80374 118586 139978 160086 182448 "
                                         "227604 245492 3608");
    if (form->settings().isHttp()) {
        QString target = query;
        target.replace(QLatin1Char(' '), QLatin1Char('+'));
        EXPECT_TRUE(log.contains(QStringLiteral("H /~cddb/cddb.cgi?cmd=") + target + disc::ComposeGreeting(form->settings().mail).httpTail))
            << log.join(QLatin1Char('\n')).toStdString();
    } else {
        EXPECT_EQ(log, (QStringList{QStringLiteral("T ") + disc::ComposeGreeting(form->settings().mail).cddbpHello, QStringLiteral("T proto 6"),
                                    QStringLiteral("T ") + query, QStringLiteral("T cddb read rock 840e160b"),
                                    QStringLiteral("T quit")}));
    }

    // The same disc again never reaches the server.
    const qsizetype asked = server->log().size();
    clickAddCd();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).last(),
              QStringLiteral("This CD is already in your Collection.\rPlease use the MODIFY button instead!"));
    EXPECT_EQ(server->log().size(), asked);
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 1);
}

// A CD database that cannot be reached: after its message the disc may still be entered as an
// unknown one, through the import window.
TEST_P(AddCdTest, AnUnreachableDatabaseLeadsToTheImportWindow) {
    startServer();
    openWindow();
    server.reset();  // the port is closed now
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "entered by hand" : "declined");
        desk.prompts.shown.clear();
        desk.prompts.answer(yes);
        QString importCaption;
        OnNextModal import([&](QWidget* w) {
            importCaption = w->windowTitle();
            child<QPushButton>(w, QStringLiteral("Cancel"))->click();
        });
        clickAddCd();
        EXPECT_FALSE(desk.prompts.texts(QStringLiteral("error")).isEmpty());
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("confirm")), QStringList(disc::addcdmsg::kEnterInstead));
        EXPECT_EQ(import.fired(), yes);
        if (yes) EXPECT_FALSE(importCaption.isEmpty());
    }
    EXPECT_EQ(albumField(QStringLiteral("ALBUM")), QStringLiteral("<no album>"));
}

TEST_P(AddCdTest, UnknownDiscIsEnteredByHandAndContributed) {
    QFile::remove(root.file(QStringLiteral("rock/840e160b")));
    startServer();
    test::TempFolder mailbox;
    test::SmtpServer smtp(mailbox.path());
    ASSERT_TRUE(smtp.started()) << smtp.failure().toStdString();
    openWindow();
    settings::IniFile& ini = form->settingsFile().ini();
    ASSERT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Mail"), QStringLiteral("jane.doe@example.org")));
    ASSERT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Server"), QStringLiteral("127.0.0.1:%1").arg(smtp.port())));
    form->settings().genre = QStringLiteral("rock");

    QString importCaption;
    bool freedbEnabled = true;
    desk.prompts.answer(true);  // "OK to contribute album info to Freedb?"
    OnNextModal import([&](QWidget* w) {
        importCaption = w->windowTitle();
        freedbEnabled = child<QPushButton>(w, QStringLiteral("Step1Button"))->isEnabled();
        // By hand: the disc's rows, two of them given real titles in the form.
        OnNextModal edit(
            [&](QWidget* e) {
                child<QLineEdit>(e, QStringLiteral("EditArtist"))->setText(QStringLiteral("Nightwish"));
                child<QLineEdit>(e, QStringLiteral("EditTitle"))->setText(QStringLiteral("Once"));
                auto* grid = child<QTableWidget>(e, QStringLiteral("StringGrid1"));
                grid->item(0, 2)->setText(QStringLiteral("Dark Chest"));
                grid->item(1, 2)->setText(QStringLiteral("Angel"));
                child<QPushButton>(e, QStringLiteral("BitBtn1"))->click();
            },
            w);
        child<QPushButton>(w, QStringLiteral("ManualButton"))->click();
    });
    clickAddCd();

    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("message")).contains(QStringLiteral("This album not found in remote database.")));
    EXPECT_EQ(importCaption, QStringLiteral("Albumora - Add New Album to your Collection using website [11 tracks]"));
    EXPECT_FALSE(freedbEnabled);
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("confirm")).contains(QStringLiteral("OK to contribute album info to Freedb?")));
    const QStringList rows = tracks();
    ASSERT_EQ(rows.size(), 11);
    EXPECT_EQ(rows.at(1), QStringLiteral("  2|%1|Angel").arg(seconds(20304, 38752)));

    // The contribution went out, and only then did the revision advance.
    QDir box(mailbox.path());
    const QStringList mails = box.entryList({QStringLiteral("*.json")}, QDir::Files);
    ASSERT_EQ(mails.size(), 1) << desk.prompts.texts(QStringLiteral("error")).join(QLatin1Char('|')).toStdString();
    QFile mail(box.filePath(mails.first()));
    ASSERT_TRUE(mail.open(QIODevice::ReadOnly));
    const QJsonObject message = QJsonDocument::fromJson(mail.readAll()).object();
    EXPECT_EQ(message[QStringLiteral("mail_from")].toString(), QStringLiteral("jane.doe@example.org"));
    EXPECT_EQ(message[QStringLiteral("headers")].toObject()[QStringLiteral("Subject")].toString(),
              QStringLiteral("cddb rock 840e160b"));
    const QStringList body = message[QStringLiteral("body")].toString().split(QStringLiteral("\r\n"));
    EXPECT_TRUE(body.contains(QStringLiteral("DTITLE=Nightwish / Once")));
    EXPECT_TRUE(body.contains(QStringLiteral("TTITLE1=Angel")));
    EXPECT_TRUE(body.contains(QStringLiteral("TTITLE2=Track 3")));
    EXPECT_TRUE(body.contains(QStringLiteral("# Revision: 1")));
    EXPECT_EQ(albumField(QStringLiteral("Rev")), QStringLiteral("1"));
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("message"))
                    .contains(QStringLiteral("Thank you!\rEntry has been submitted to on-line database")));
}

// A disc no source knows but whose CD-Text names it: the import window says so, and "Manual"
// starts the edit form from the CD-Text instead of from "Various" and "Track n".
TEST_P(AddCdTest, AnUnknownDiscWithCdTextStartsFromIt) {
    startServer();
    const QString images = test::sharedTestData() + QStringLiteral("/musicbrainz/images/libcdio/");
    for (const char* name : {"cdtext.cue", "cdtext.cdt"})
        ASSERT_TRUE(QFile::copy(images + QLatin1String(name), disc.file(QLatin1String(name))));
    QFile bin(disc.file(QStringLiteral("cdtext.bin")));
    ASSERT_TRUE(bin.open(QIODevice::WriteOnly) && bin.resize(1800 * 2352));
    bin.close();
    image = disc.file(QStringLiteral("cdtext.cue"));
    openWindow();
    form->settings().genre = QStringLiteral("rock");

    QString label;
    QStringList shown;
    OnNextModal import([&](QWidget* w) {
        label = child<QLabel>(w, QStringLiteral("CdTextLabel"))->text();
        OnNextModal edit(
            [&](QWidget* e) {
                shown << child<QLineEdit>(e, QStringLiteral("EditArtist"))->text() << child<QLineEdit>(e, QStringLiteral("EditTitle"))->text();
                auto* grid = child<QTableWidget>(e, QStringLiteral("StringGrid1"));
                for (int r = 0; r < grid->rowCount(); ++r)
                    if (grid->item(r, 2)) shown << grid->item(r, 2)->text();
                child<QPushButton>(e, QStringLiteral("BitBtn1"))->click();
            },
            w);
        child<QPushButton>(w, QStringLiteral("ManualButton"))->click();
    });
    desk.prompts.answer(false);  // no contribution
    clickAddCd();
    ASSERT_TRUE(import.fired());
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("message")).contains(QStringLiteral("This album not found in remote database.")));
    EXPECT_EQ(label, QStringLiteral("CD-Text on the disc: United Cat Orchestra / Joyful Nights  (Manual starts the album from it)"));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Various Artists"), QStringLiteral("Joyful Nights"),
                                  QStringLiteral("Felix and The Purrs / Song of Joy"), QStringLiteral("Catwalk Beauties / Humpty Dumpty"),
                                  QStringLiteral("Mia Kitten / Mee Owwww")}));
    // The CD database was asked about the disc first.
    EXPECT_FALSE(server->log().filter(QStringLiteral("query")).isEmpty());
    store::Cursor c;
    c.setTablePath(data.file(QStringLiteral("ALBUMS.DBF")));
    ASSERT_TRUE(c.open().isOk());
    ASSERT_TRUE(c.first().isOk());
    EXPECT_EQ(c.text(QStringLiteral("Album")).trimmed(), QStringLiteral("Joyful Nights"));
    EXPECT_EQ(c.text(QStringLiteral("Artist")).trimmed(), QStringLiteral("Various Artists"));
}

INSTANTIATE_TEST_SUITE_P(Transports, AddCdTest, ::testing::Values("T", "H"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param[0] == 'H' ? "Http" : "Cddbp");
                         });

}  // namespace
