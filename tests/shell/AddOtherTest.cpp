// Add Other through the import window to a saved album, for every source, and the edit form's
// tools used on a real album: each case checks the rows in the tables, not only the windows.
#include "DMcd.h"
#include "FakeDesktop.h"
#include "MainWindowFixture.h"
#include "Modal.h"
#include "TestSupport.h"
#include "mdF.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

struct Track {
    QString nr, title, secs;
    bool operator==(const Track&) const = default;
};
void PrintTo(const Track& t, std::ostream* os) {
    *os << "{" << t.nr.toStdString() << "|" << t.title.toStdString() << "|" << t.secs.toStdString() << "}";
}

class AddOtherTest : public ::testing::Test, public test::MainWindowFixture {
protected:
    void SetUp() override {
        openMainWindow(dir.path());
        ASSERT_TRUE(opened());
    }
    void TearDown() override { closeMainWindow(); }
    // Add Other: choose the source in the import window, then complete and save the edit form.
    QStringList shownNumbers;  // the edit form's "#" column title and width, then its cells
    void addOther(const QString& sourceButton, const QString& clipboard, const QString& artist, const QString& title,
                  const QString& genre = QStringLiteral("rock")) {
        desk.clipboard.content = clipboard;
        OnNextModal import([&](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), QStringLiteral("Albumora - Add New Album to your Collection using website"));
            // Manual and playlist open the edit form at once, from inside the click.
            OnNextModal edit(
                [&](QWidget* e) {
                    editCaption = e->windowTitle();
                    auto* grid = child<QTableWidget>(e, QStringLiteral("StringGrid1"));
                    shownNumbers.clear();
                    if (grid && grid->isVisible()) {
                        shownNumbers << grid->horizontalHeaderItem(0)->text() + QLatin1Char('@') +
                                            QString::number(grid->columnWidth(0));
                        for (int r = 0; r < grid->rowCount(); ++r) shownNumbers << (grid->item(r, 0) ? grid->item(r, 0)->text() : QString());
                    }
                    fill(e, artist, title, genre);
                    child<QPushButton>(e, QStringLiteral("BitBtn1"))->click();
                },
                w);
            child<QPushButton>(w, sourceButton)->click();
            desk.clipboard.content = clipboard;  // the site buttons empty the clipboard first
            if (sourceButton != QStringLiteral("ManualButton") && sourceButton != QStringLiteral("ImportButton"))
                child<QPushButton>(w, QStringLiteral("OK"))->click();
            if (!edit.fired() && w->isVisible()) child<QPushButton>(w, QStringLiteral("Cancel"))->click();
        });
        child<QPushButton>(form.get(), QStringLiteral("AddOtherButton"))->click();
    }
    void fill(QWidget* e, const QString& artist, const QString& title, const QString& genre) {
        auto* a = child<QLineEdit>(e, QStringLiteral("EditArtist"));
        if (!artist.isNull()) a->setText(artist);
        if (!title.isNull()) child<QLineEdit>(e, QStringLiteral("EditTitle"))->setText(title);
        child<QComboBox>(e, QStringLiteral("EditGenre"))->setEditText(genre);
    }
    std::vector<Track> tracksOf(const QString& id) {
        std::vector<Track> out;
        store::Cursor c;
        c.setTablePath(dir.file(QStringLiteral("TRACKS.DBF")));
        EXPECT_TRUE(c.setOrder(QStringLiteral("Tracks")).isOk());
        EXPECT_TRUE(c.open().isOk());
        c.setFiltered(true);
        EXPECT_TRUE(c.setFilter(QStringLiteral("ID=\"") + id + QLatin1Char('"')).isOk());
        store::Status st;
        for (st = c.first(); st && !c.isEmpty() && !c.eof(); st = c.next())
            out.push_back({c.text(QStringLiteral("NR")), c.text(QStringLiteral("TRACK")), c.text(QStringLiteral("Secs"))});
        EXPECT_TRUE(st.isOk()) << st.text().toStdString();
        return out;
    }
    QString albumField(const QString& id, const QString& field) {
        store::Cursor c;
        c.setTablePath(dir.file(QStringLiteral("ALBUMS.DBF")));
        EXPECT_TRUE(c.setOrder(QStringLiteral("ID")).isOk());
        EXPECT_TRUE(c.open().isOk());
        return *c.findKey({id}) ? c.text(field) : QStringLiteral("<no album>");
    }

    test::TempFolder dir;
    test::FakeDesktop desk;
    QString editCaption;
};

TEST_F(AddOtherTest, EverySourceEndsInASavedAlbum) {
    addOther(QStringLiteral("numbered"), QStringLiteral("1. Opening\n2 Second Song\nnot a track\n3) Closing Time\n"),
             QStringLiteral("The Band"), QStringLiteral("Numbers"));
    EXPECT_EQ(editCaption, QStringLiteral("Albumora - Edit Form [New Album (not in CD-ROM drive)]"));
    EXPECT_EQ(tracksOf(QStringLiteral("z0000001")),
              (std::vector<Track>{{"  1", "Opening", "0"}, {"  2", "Second Song", "0"}, {"  3", "Closing Time", "0"}}));
    EXPECT_EQ(albumField(QStringLiteral("z0000001"), QStringLiteral("SYS")), QStringLiteral("Y"));

    addOther(QStringLiteral("unnumbered"), QStringLiteral("Alpha\n\nBeta\n"), QStringLiteral("U"), QStringLiteral("Unnumbered"));
    EXPECT_EQ(tracksOf(QStringLiteral("z0000002")), (std::vector<Track>{{"  1", "Alpha", "0"}, {"  2", "Beta", "0"}}));

    addOther(QStringLiteral("allmusic"), QStringLiteral("1 First Light 3:05\n2 Second Wind performed by Ann/Bo 4:10\n"),
             QStringLiteral("Guide"), QStringLiteral("Guide Album"));
    EXPECT_EQ(tracksOf(QStringLiteral("z0000003")),
              (std::vector<Track>{{"  1", "First Light", "185"}, {"  2", "Second Wind / Ann,Bo", "250"}}));
    EXPECT_EQ(albumField(QStringLiteral("z0000003"), QStringLiteral("SYS")), QStringLiteral("G"));

    addOther(QStringLiteral("AmazonButton"), QStringLiteral("listen 1. Shop Song  $0.99\n2. Other Song  $0.99\n"),
             QStringLiteral("Store"), QStringLiteral("Store Album"));
    EXPECT_EQ(tracksOf(QStringLiteral("z0000004")), (std::vector<Track>{{"  1", "Shop Song", "0"}, {"  2", "Other Song", "0"}}));
    EXPECT_EQ(albumField(QStringLiteral("z0000004"), QStringLiteral("SYS")), QStringLiteral("A"));

    // A CD database record is stored under its own disc ID, with times from its offsets.
    SKIP_WITHOUT_TESTDATA();
    QFile record(test::sharedTestData() + QStringLiteral("/xmcd/770bf909"));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    addOther(QStringLiteral("Step1Button"), QString::fromLatin1(record.readAll()), QString(), QString(), QStringLiteral("metal"));
    EXPECT_EQ(albumField(QStringLiteral("770bf909"), QStringLiteral("ARTIST")), QStringLiteral("Nightwish"));
    EXPECT_EQ(albumField(QStringLiteral("770bf909"), QStringLiteral("ALBUM")), QStringLiteral("Angels Fall First"));
    EXPECT_EQ(albumField(QStringLiteral("770bf909"), QStringLiteral("YR")), QStringLiteral("1997"));
    EXPECT_EQ(albumField(QStringLiteral("770bf909"), QStringLiteral("Rev")), QStringLiteral("2"));
    EXPECT_EQ(albumField(QStringLiteral("770bf909"), QStringLiteral("SYS")), QStringLiteral("F"));
    const auto cd = tracksOf(QStringLiteral("770bf909"));
    ASSERT_EQ(cd.size(), 9u);
    EXPECT_EQ(cd[0], (Track{"  1", "Elvenpath", "272"}));  // (20750-150) div 75 - 2
    // The same record again is refused: that album is made current, nothing is stored.
    desk.clipboard.content.clear();
    record.seek(0);
    const QByteArray text = record.readAll();
    addOther(QStringLiteral("Step1Button"), QString::fromLatin1(text), QString(), QString());
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).contains(
        QStringLiteral("An album with this calculated ID already exists\rand will be highlighted")));
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 5);
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), QStringLiteral("770bf909"));
}

TEST_F(AddOtherTest, ManualAndPlaylists) {
    desk.prompts.answer(std::optional<QString>(QStringLiteral("x")));  // not a number: asked again
    desk.prompts.answer(std::optional<QString>(QStringLiteral("2")));
    addOther(QStringLiteral("ManualButton"), QString(), QStringLiteral("Me"), QStringLiteral("By Hand"));
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).contains(QStringLiteral("Entry must be a number (1 or more)")));
    EXPECT_EQ(tracksOf(QStringLiteral("z0000001")), (std::vector<Track>{{"  1", "Track 01", "0"}, {"  2", "Track 02", "0"}}));
    // The edit form showed the numbers under their column title.
    ASSERT_EQ(shownNumbers.size(), 3);
    EXPECT_TRUE(shownNumbers[0].startsWith(QStringLiteral(" #@"))) << shownNumbers[0].toStdString();
    EXPECT_GE(shownNumbers[0].section(QLatin1Char('@'), 1).toInt(), 24);
    EXPECT_EQ(shownNumbers.mid(1), (QStringList{"01", "02"}));
    EXPECT_EQ(albumField(QStringLiteral("z0000001"), QStringLiteral("SYS")), QStringLiteral("M"));

    // An M3U file of one artist: the artist field gets it, the titles lose it.
    const QString m3u = dir.file(QStringLiteral("mix.m3u"));
    QFile f(m3u);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#EXTM3U\r\n#EXTINF:185,Kestrel - Silver Fields\r\na.mp3\r\n#EXTINF:-1,Kestrel - Dawn\r\nb.mp3\r\n");
    f.close();
    desk.prompts.answer(std::optional<QString>(m3u));
    addOther(QStringLiteral("ImportButton"), QString(), QString(), QString());
    EXPECT_EQ(albumField(QStringLiteral("z0000002"), QStringLiteral("ARTIST")), QStringLiteral("Kestrel"));
    EXPECT_EQ(albumField(QStringLiteral("z0000002"), QStringLiteral("ALBUM")), m3u);
    EXPECT_EQ(albumField(QStringLiteral("z0000002"), QStringLiteral("MEDIA")), QStringLiteral("PL"));
    EXPECT_EQ(albumField(QStringLiteral("z0000002"), QStringLiteral("Notes")), QStringLiteral("PLAYLIST=") + m3u);
    EXPECT_EQ(tracksOf(QStringLiteral("z0000002")), (std::vector<Track>{{"  1", "Silver Fields", "185"}, {"  2", "Dawn", "0"}}));
    EXPECT_EQ(form->settingsFile().ini().readString(QStringLiteral("Current"), QStringLiteral("ClipsDir")), dir.path() + QLatin1Char('/'));

    // An XSPF playlist of several artists keeps "Artist / Title" and files them per track.
    const QString xspf = dir.file(QStringLiteral("mix.xspf"));
    QFile x(xspf);
    ASSERT_TRUE(x.open(QIODevice::WriteOnly));
    x.write("<?xml version=\"1.0\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n<trackList>\n"
            "<track><title>Owls</title>\n<creator>Ann</creator>\n<duration>61000</duration></track>\n"
            "<track><title>Rain</title>\n<creator>Bo</creator>\n<duration>120000</duration></track>\n</trackList></playlist>\n");
    x.close();
    desk.prompts.answer(std::optional<QString>(xspf));
    addOther(QStringLiteral("ImportButton"), QString(), QString(), QStringLiteral("Two Voices"));
    EXPECT_EQ(albumField(QStringLiteral("z0000003"), QStringLiteral("ARTIST")), QStringLiteral("Various"));
    EXPECT_EQ(tracksOf(QStringLiteral("z0000003")), (std::vector<Track>{{"  1", "Ann / Owls", "61"}, {"  2", "Bo / Rain", "120"}}));
    store::Cursor artists;
    artists.setTablePath(dir.file(QStringLiteral("ARTISTS.DBF")));
    ASSERT_TRUE(artists.open().isOk());
    artists.setFiltered(true);
    ASSERT_TRUE(artists.setFilter(QStringLiteral("ID=\"z0000003\"")).isOk());
    EXPECT_EQ(*artists.recordCount(), 2);
}

TEST_F(AddOtherTest, EditFormToolsChangeWhatIsStored) {
    addOther(QStringLiteral("unnumbered"), QStringLiteral("Silver Fields / Kestrel\nDawn - Duke\n"), QStringLiteral("Various"),
             QStringLiteral("Birds"));
    ASSERT_EQ(*dm->tblAlbums.recordCount(), 1);
    form->RefreshAlbumStatus();
    const QString song = dir.file(QStringLiteral("Rips/01 Intro.mp3"));
    QDir(dir.path()).mkpath(QStringLiteral("Rips"));
    // Modify: flip the titles, paste into the second, make a mask, add a cost in the notes editor.
    desk.clipboard.content = QStringLiteral("Pasted Title");
    desk.prompts.answer(std::optional<QString>(song + QLatin1Char('|') + dir.file(QStringLiteral("Rips/02 Song.mp3"))));
    desk.prompts.answer(std::optional<QString>(QStringLiteral("12.50")));
    OnNextModal edit([&](QWidget* e) {
        child<QPushButton>(e, QStringLiteral("FlipButton"))->click();
        auto* grid = child<QTableWidget>(e, QStringLiteral("StringGrid1"));
        EXPECT_EQ(grid->item(0, 2)->text(), QStringLiteral("Kestrel / Silver Fields"));
        grid->setCurrentCell(1, 2);
        child<QPushButton>(e, QStringLiteral("PasteButton"))->click();
        grid->setCurrentCell(0, 1);  // the time column: paste changes nothing
        child<QPushButton>(e, QStringLiteral("PasteButton"))->click();
        child<QComboBox>(e, QStringLiteral("EditMedia"))->setEditText(QStringLiteral("LD (local drive)"));
        child<QPushButton>(e, QStringLiteral("MaskButton"))->click();
        OnNextModal notes([&](QWidget* n) {
            child<QPushButton>(n, QStringLiteral("EnterPurchase"))->click();
            child<QPushButton>(n, QStringLiteral("OKbutton"))->click();
        });
        child<QPushButton>(e, QStringLiteral("NotesButton"))->click();
        child<QPushButton>(e, QStringLiteral("GetArt"))->click();
        child<QPushButton>(e, QStringLiteral("BitBtn1"))->click();
    });
    child<QPushButton>(form.get(), QStringLiteral("ModButton"))->click();
    EXPECT_EQ(tracksOf(QStringLiteral("z0000001")),
              (std::vector<Track>{{"  1", "Kestrel / Silver Fields", "0"}, {"  2", "Pasted Title", "0"}}));
    EXPECT_EQ(albumField(QStringLiteral("z0000001"), QStringLiteral("LABEL")), dir.file(QStringLiteral("Rips/0*.mp3")));
    EXPECT_EQ(albumField(QStringLiteral("z0000001"), QStringLiteral("MEDIA")), QStringLiteral("LD"));
    EXPECT_EQ(albumField(QStringLiteral("z0000001"), QStringLiteral("Notes")), QStringLiteral("COST=12.50"));
    EXPECT_EQ(form->settingsFile().ini().readString(QStringLiteral("Current"), QStringLiteral("ClipsDir")),
              dir.file(QStringLiteral("Rips")) + QLatin1Char('/'));
    ASSERT_EQ(desk.launcher.opened.size(), 1);
    EXPECT_TRUE(desk.launcher.opened.first().contains(QStringLiteral("keyword=Various&mode=music")))
        << desk.launcher.opened.first().toStdString();

    // The finder of duplicate tracks needs the tracks view's table first.
    OnNextModal again([&](QWidget* e) {
        static_cast<QDialog*>(e)->findChild<QAction*>(QStringLiteral("FindthesesongsonotheralbumsinyourCollection1"))->trigger();
        child<QPushButton>(e, QStringLiteral("BitBtn2"))->click();
    });
    child<QPushButton>(form.get(), QStringLiteral("ModButton"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).last(),
              QStringLiteral("You must FIRST go to the Tracks view to auto-create needed files"));
}

}  // namespace
