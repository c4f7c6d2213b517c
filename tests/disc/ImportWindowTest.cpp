// The import window driven through its controls (offscreen), over a real collection in a fresh
// data folder, a real settings file and disc images in the "drive": its three openings, the site
// buttons, OK with every source, the clipboard refusals, Manual with its track-count question, a
// playlist picked in the file dialog, the link to the disc in the drive and a pasted record of an
// album that is already stored.
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "Modal.h"
#include "TestSupport.h"
#include "xcmdF.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QtTest/QTest>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

using namespace albumora;
using namespace albumora::disc;
using albumora::test::child;
using albumora::test::OnNextModal;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

const char* const kRecord =
    "freedb: Kestrel / Silver Fields\n"
    "Disc-ID: 1a025d03\n"
    "# xmcd\n"
    "#\n"
    "# Track frame offsets:\n"
    "#       150\n"
    "#       15150\n"
    "#       30150\n"
    "#\n"
    "# Disc length: 606 seconds\n"
    "#\n"
    "# Revision: 3\n"
    "#\n"
    "DISCID=1a025d03\n"
    "DTITLE=Kestrel / Silver Fields\n"
    "DYEAR=1999\n"
    "DGENRE=Folk\n"
    "TTITLE0=First\n"
    "TTITLE1=Second\n"
    "TTITLE2=Third\n"
    "EXTD=\n"
    "PLAYORDER=\n";

class ImportWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<store::TDM>(dir.path());
        ASSERT_TRUE(dm->EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm->OpenCollectionTables().isOk());
        addAlbum(S("0b0b0b0b"), S("Anna Berg"), S("Harbour"));
        addAlbum(S("1a025d03"), S("Kestrel"), S("Silver Fields"));
        addAlbum(S("z0000001"), S("Zed"), S("Night Train"));
        ASSERT_TRUE(dm->FlushCollection().isOk());
        ASSERT_TRUE(dm->tblAlbums.first().isOk());

        settingsFile = std::make_unique<settings::SettingsFile>(dir.path());
        ASSERT_TRUE(settingsFile->writeFirstRun(QString(), QString()));
        settings = settingsFile->read([] { return QString(); });
    }
    void TearDown() override {
        window.reset();
        dm.reset();
    }

    void addAlbum(const QString& id, const QString& artist, const QString& title) {
        store::Cursor& c = dm->tblAlbums;
        ASSERT_TRUE(c.append().isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("ID"), id).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Artist"), artist).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Album"), title).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Genre"), QStringLiteral("folk")).isOk());
        ASSERT_TRUE(c.post().isOk());
    }

    ImportContext context() {
        ImportContext c;
        c.album = &pending;
        c.settings = &settings;
        c.settingsFile = settingsFile.get();
        c.dm = dm.get();
        c.audioCdInDrive = [this] { return drive && drive->IsAudioCdInDrive(drive->settings().CDPath); };
        c.readDisc = [this] { return drive && drive->ReadDisc(); };
        c.currentDiscId = [this] { return discState.currentDiscId; };
        c.discTrackCount = [this] { return int(discState.toc.trackCount); };
        c.setCurrentDiscId = [this](const QString& id) { discState.currentDiscId = id; };
        c.setDiscLength = [this](int s) { discState.discLength = s; };
        c.showEditForm = [this] { shown.push_back(pending); };
        c.openHelpPage = [this](const QString& page) { helpPages << page; };
        c.albumMadeCurrent = [this](const QString& id) { madeCurrent << id; };
        return c;
    }

    // A pending album as the caller leaves it before opening the window.
    void prepare(editing::EditMode mode, int rows = 0) {
        pending = editing::PendingAlbum();
        pending.mode = mode;
        pending.artist = S("Prepared Artist");
        pending.title = S("Prepared Title");
        pending.rev = S("6");
        for (int k = 1; k <= rows; ++k)
            pending.tracks.push_back({store::TDM::PadNumber(k, 3), S(" 4:00"), S("Track ") + QString::number(k)});
    }

    void open(ImportUse use) {
        window = std::make_unique<Txcmd>(context(), use);
        QObject::connect(find<QStatusBar>("MyBar"), &QStatusBar::messageChanged,
                         [this](const QString& m) { statuses << m; });
        window->show();
    }

    // A disc image in the "drive": its TOC is read into this test's own disc state.
    void putDiscInDrive(const std::vector<int>& starts, int leadOut) {
        const QString image = test::writeImage(dir.path(), QStringLiteral("disc"), {starts, leadOut, 0}, test::ImageKind::Cue);
        drive = std::make_unique<DiscDrive>(DiscSettings{image, 0, QStringLiteral("T")}, discState);
        drive->setSleep([](int) {});
        drive->setDeviceLister([] { return QStringList(); });
    }

    template <class T>
    T* find(const char* name) {
        T* w = child<T>(window.get(), QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name) { find<QPushButton>(name)->click(); }
    void paste(const QString& text) { desk.clipboard.content = text; }
    bool stillOpen() const { return window->isVisible(); }

    QStringList titles(const editing::PendingAlbum& a) const {
        QStringList out;
        for (const auto& r : a.tracks) out << r.title;
        return out;
    }

    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<store::TDM> dm;
    std::unique_ptr<settings::SettingsFile> settingsFile;
    settings::RunSettings settings;
    editing::PendingAlbum pending;
    DiscState discState;
    std::unique_ptr<DiscDrive> drive;
    std::unique_ptr<Txcmd> window;
    std::vector<editing::PendingAlbum> shown;
    QStringList helpPages, madeCurrent, statuses;
};

// ---------------------------------------------------------------------------------------------
// Openings

TEST_F(ImportWindowTest, ThreeOpenings) {
    putDiscInDrive({150, 15150, 30150, 45150}, 60150);
    ASSERT_TRUE(drive->ReadDisc());
    struct Case {
        ImportUse use;
        editing::EditMode mode;
        const char* caption;
        bool siteButton;
        const char* firstLabel;
        bool manual;
        const char* rev;
    } cases[] = {
        {ImportUse::NotFound, editing::EditMode::AddCd, "Albumora - Add New Album to your Collection using website [4 tracks]",
         false, "Step 1:  Either", true, "0"},
        {ImportUse::AddOther, editing::EditMode::NewAlbum, "Albumora - Add New Album to your Collection using website", true,
         "Step 1:  Either", true, "0"},
        {ImportUse::UpdateTracks, editing::EditMode::Modify, "Update Tracks using website: 5 tracks", true, "Step 1:", false,
         "6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        prepare(c.mode, 5);
        open(c.use);
        EXPECT_EQ(window->windowTitle(), S(c.caption));
        EXPECT_EQ(find<QPushButton>("Step1Button")->isEnabled(), c.siteButton);
        EXPECT_EQ(find<QPlainTextEdit>("FreedbMemo")->isVisible(), c.siteButton);
        EXPECT_TRUE(find<QPlainTextEdit>("AMGmemo")->isVisible());
        EXPECT_EQ(find<QLabel>("Label1")->text(), S(c.firstLabel));
        for (const char* name : {"ManualLabel", "Label6", "Label4", "Label8"})
            EXPECT_EQ(find<QLabel>(name)->isEnabled(), c.manual) << name;
        for (const char* name : {"ManualButton", "ImportButton"}) EXPECT_EQ(find<QPushButton>(name)->isEnabled(), c.manual) << name;
        for (const char* name : {"BitBtn1", "allmusic", "AmazonButton", "numbered", "unnumbered", "OK", "Cancel", "Help"})
            EXPECT_TRUE(find<QPushButton>(name)->isEnabled()) << name;
        EXPECT_EQ(window->source(), ImportSource::None);
        EXPECT_EQ(pending.sys, QLatin1Char('Z'));
        EXPECT_EQ(pending.rev, S(c.rev));
        EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), c.use == ImportUse::UpdateTracks
                                                              ? S(" Retrieve information from online database ")
                                                              : S(" Retrieve information from online database (or enter manually) "));
    }
}

TEST_F(ImportWindowTest, ControlsAndTheirTexts) {
    prepare(editing::EditMode::NewAlbum);
    open(ImportUse::AddOther);
    const std::pair<const char*, const char*> buttons[] = {
        {"Step1Button", "Freedb"}, {"BitBtn1", "Tracktype"}, {"allmusic", "All Music Guide"}, {"AmazonButton", "Amazon"},
        {"numbered", "Numbered Track List"}, {"unnumbered", "Unnumbered Track List"}, {"ManualButton", "Manual"},
        {"ImportButton", "Import"}, {"OK", "OK"}, {"Cancel", "Cancel"}, {"Help", "Help"},
    };
    for (const auto& [name, text] : buttons) EXPECT_EQ(find<QPushButton>(name)->text(), S(text)) << name;
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "Step 1:  Either"},
        {"Label2", "click on a site -->"},
        {"Label3", "or"},
        {"Label5", "use a track list  -->"},
        {"Label8", "or"},
        {"ManualLabel", "add manually (skips Step 2 below)  -->"},
        {"Label6", "or"},
        {"Label4", "import a Winamp or Yahoo! Playlist (skips Step 2 below) -->"},
        {"Label9", "Step 2:  Follow instructions for the site or list selected above (color coded)"},
        {"Label10", "products and websites are trademarks of  their respective companies"},
    };
    for (const auto& [name, text] : labels) EXPECT_EQ(find<QLabel>(name)->text(), S(text)) << name;
    const QStringList amg = find<QPlainTextEdit>("AMGmemo")->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(amg.size(), 6);
    EXPECT_TRUE(amg[0].startsWith(S("All Music Guide or Amazon:")));
    EXPECT_TRUE(amg[0].endsWith(S("  1.  Find your album at their site.  ")));
    EXPECT_EQ(amg[5], S("5.  Click on OK (or cancel) below when finished"));
    const QStringList freedb = find<QPlainTextEdit>("FreedbMemo")->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(freedb.size(), 5);
    EXPECT_EQ(freedb[1], S("2.  Click the link on the line beginning with \"Disc-ID\"."));
    EXPECT_EQ(find<QPlainTextEdit>("ListMemo")->toPlainText().split(QLatin1Char('\n')).size(), 2);
    EXPECT_NE(find<QStatusBar>("MyBar"), nullptr);
    EXPECT_NE(find<QListWidget>("ListBox1"), nullptr);

    click("Help");
    EXPECT_EQ(helpPages, QStringList{S("CDhelp2.html#xcmd")});
    // F1 anywhere in the window does the same.
    QApplication::setActiveWindow(window.get());
    QTest::keyClick(find<QPlainTextEdit>("ListMemo"), Qt::Key_F1);
    EXPECT_EQ(helpPages, (QStringList{S("CDhelp2.html#xcmd"), S("CDhelp2.html#xcmd")}));
    click("Cancel");
    EXPECT_FALSE(stillOpen());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_TRUE(shown.empty());
}

TEST_F(ImportWindowTest, SiteButtonsOpenTheirPagesAndEmptyTheClipboard) {
    settings.urlFreedb = S("https://gnudb.example/search");
    settings.urlTracktype = S("https://tracktype.example/");
    settings.urlAmg = S("https://amg.example/");
    settings.urlAmazon = S("https://store.example/music");
    struct Case {
        const char* button;
        QString url;
        ImportSource source;
    } cases[] = {
        {"Step1Button", settings.urlFreedb, ImportSource::CdDatabase},
        {"BitBtn1", settings.urlTracktype, ImportSource::CdDatabase},
        {"allmusic", settings.urlAmg, ImportSource::Amg},
        {"AmazonButton", settings.urlAmazon, ImportSource::Amazon},
    };
    prepare(editing::EditMode::NewAlbum);
    open(ImportUse::AddOther);
    for (const Case& c : cases) {
        paste(S("left over\ntext"));
        desk.launcher.opened.clear();
        click(c.button);
        EXPECT_EQ(desk.launcher.opened, QStringList{c.url}) << c.button;
        EXPECT_EQ(desk.clipboard.content, QString()) << c.button;
        EXPECT_EQ(window->source(), c.source) << c.button;
        EXPECT_EQ(pending.sys, QLatin1Char(char(c.source))) << c.button;
        EXPECT_EQ(find<QStatusBar>("MyBar")->currentMessage(),
                  S("Going to external website, see color-coded instructions above for site chosen"));
    }
    desk.launcher.opened.clear();
    click("numbered");
    EXPECT_EQ(window->source(), ImportSource::Numbered);
    click("unnumbered");
    EXPECT_EQ(window->source(), ImportSource::Unnumbered);
    EXPECT_TRUE(desk.launcher.opened.isEmpty());
    EXPECT_TRUE(desk.prompts.shown.empty());
}

// ---------------------------------------------------------------------------------------------
// OK

TEST_F(ImportWindowTest, ClipboardRefusals) {
    struct Case {
        const char* what;
        QString clipboard;
        const char* button;  // nullptr: no source chosen
        QString message;
    } cases[] = {
        {"an empty clipboard", QString(), "numbered", S("Webpage info has NOT been copied to Clipboard.\rPlease try again!")},
        {"one line", S("1 Only one line\n"), "numbered", S("Webpage info has NOT been copied to Clipboard.\rPlease try again!")},
        {"no source", S("1 One\n2 Two\n"), nullptr, S("You must click a button above\ror click the Cancel button below")},
    };
    for (const Case& c : cases) {
        prepare(editing::EditMode::NewAlbum, 2);
        open(ImportUse::AddOther);
        desk.prompts.shown.clear();
        statuses.clear();
        if (c.button) click(c.button);
        paste(c.clipboard);
        click("OK");
        EXPECT_EQ(desk.prompts.texts(), QStringList{c.message}) << c.what;
        EXPECT_EQ(desk.prompts.shown.at(0).kind, S("error")) << c.what;
        EXPECT_TRUE(stillOpen()) << c.what;
        EXPECT_TRUE(shown.empty()) << c.what;
        EXPECT_EQ(pending.tracks.size(), 2u) << c.what;
        EXPECT_TRUE(statuses.contains(S("Processing data, please stand by ..."))) << c.what;
        EXPECT_EQ(find<QStatusBar>("MyBar")->currentMessage(), QString()) << c.what;
    }
    // After the refusal the text was cleared; the second try goes through.
    paste(S("1 One\n2 Two\n"));
    click("numbered");
    click("OK");
    EXPECT_FALSE(stillOpen());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(titles(shown[0]), (QStringList{"One", "Two"}));
}

TEST_F(ImportWindowTest, AHundredMegabyteClipboardEndsWithAMessage) {
    prepare(editing::EditMode::NewAlbum, 2);
    const editing::PendingAlbum before = pending;
    open(ImportUse::AddOther);
    click("unnumbered");
    QElapsedTimer clock;
    clock.start();
    paste(QString(100 * 1000 * 1000, QLatin1Char('\n')));
    click("OK");
    paste(QString());
    EXPECT_LT(clock.elapsed(), 10000);
    ASSERT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1);
    EXPECT_TRUE(desk.prompts.last().contains(S("100000000")));
    EXPECT_TRUE(stillOpen());
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(window->pastedText().isEmpty());
    EXPECT_EQ(pending.tracks.size(), before.tracks.size());
}

TEST_F(ImportWindowTest, EachSourceFillsThePendingAlbumForTheEditForm) {
    struct Case {
        const char* button;
        QString text;
        editing::EditMode modeAfter;
        const char* artist;
        const char* title;
        QStringList titles;
        QStringList times;
        QStringList errors;
    } cases[] = {
        {"numbered", "Tracks:\n1. Morning Light\n2. Harbour Song\n", editing::EditMode::NewAlbum, "Various", "",
         {"Morning Light", "Harbour Song"}, {"", ""}, {}},
        {"unnumbered", "Morning Light\n\nHarbour Song\n", editing::EditMode::NewAlbum, "Various", "",
         {"Morning Light", "Harbour Song"}, {"", ""}, {}},
        {"allmusic", "1 [*] Morning Light  Anna Berg  4:05\n2 Harbour Song performed by Kestrel/Duke 3:12\n",
         editing::EditMode::NewAlbum, "Various", "", {"Morning Light", "Harbour Song / Kestrel,Duke"}, {" 4:05", " 3:12"}, {}},
        {"AmazonButton", "listen 1. Morning Light 4:05 $0.99\nlisten 2. Harbour Song 3:12 $0.99\n",
         editing::EditMode::NewAlbum, "Various", "", {"Morning Light", "Harbour Song"}, {" 4:05", " 3:12"}, {}},
        {"Step1Button", S(kRecord).replace(S("1a025d03"), S("2b025d03")), editing::EditMode::AddCd, "Kestrel", "Silver Fields", {"First", "Second", "Third"},
         {" 3:18", " 3:18", " 3:24"}, {}},
        // No numbered line: the message, and the edit form all the same.
        {"numbered", "Morning Light\nHarbour Song\n", editing::EditMode::NewAlbum, "", "", {}, {},
         {S("No valid NUMBERED tracks copied to Clipboard.\rPlease try again!")}},
        // An incomplete record: the message, the text cleared, the edit form with what was read.
        {"BitBtn1", "# Track frame offsets:\n# 150\n#\n# Disc length: 100 seconds\nDISCID=00000001\nTTITLE0=Only\n",
         editing::EditMode::NewAlbum, "", "", {"Only"}, {" 1:38"}, {S("Invalid XCMD format")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        prepare(editing::EditMode::NewAlbum, 0);
        shown.clear();
        desk.prompts.shown.clear();
        discState = DiscState();
        open(ImportUse::AddOther);
        click(c.button);
        paste(c.text);
        click("OK");
        EXPECT_EQ(desk.prompts.texts(), c.errors);
        ASSERT_EQ(shown.size(), 1u);
        const editing::PendingAlbum& a = shown[0];
        EXPECT_EQ(a.mode, c.modeAfter);
        EXPECT_EQ(a.artist, S(c.artist));
        EXPECT_EQ(a.title, S(c.title));
        EXPECT_EQ(titles(a), c.titles);
        QStringList times;
        for (const auto& r : a.tracks) times << r.time;
        EXPECT_EQ(times, c.times);
        EXPECT_EQ(a.sys, QLatin1Char(char(window->source())));
        EXPECT_FALSE(stillOpen());
        EXPECT_EQ(window->result(), QDialog::Accepted);
        EXPECT_EQ(window->pastedText().isEmpty(), c.errors.contains(S("Invalid XCMD format")));
    }
    // The last record's disc ID and length are the program's from now on.
    EXPECT_EQ(discState.currentDiscId, S("00000001"));
    EXPECT_EQ(discState.discLength, 100);
}

TEST_F(ImportWindowTest, APastedRecordGivesTheDiscIdAndTheGenre) {
    prepare(editing::EditMode::NewAlbum, 0);
    open(ImportUse::AddOther);
    click("BitBtn1");
    paste(S(kRecord).replace(S("1a025d03"), S("2b025d03")));
    click("OK");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].albumId, S("2b025d03"));
    EXPECT_EQ(shown[0].genre, S("Folk"));
    EXPECT_EQ(shown[0].year, S("1999"));
    EXPECT_EQ(shown[0].rev, S("3"));
    EXPECT_EQ(shown[0].sys, QLatin1Char('F'));
    EXPECT_EQ(discState.currentDiscId, S("2b025d03"));
    EXPECT_EQ(discState.discLength, 606);
    EXPECT_FALSE(window->duplicate());
    EXPECT_TRUE(madeCurrent.isEmpty());
}

TEST_F(ImportWindowTest, UpdatingTracksChangesTitlesWithoutTheEditForm) {
    prepare(editing::EditMode::Modify, 3);
    open(ImportUse::UpdateTracks);
    click("allmusic");
    paste(S("1 Morning Light 4:05\n2 Harbour Song 3:12\n"));
    click("OK");
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(stillOpen());
    EXPECT_EQ(titles(pending), (QStringList{"Morning Light", "Harbour Song", "Track 3"}));
    EXPECT_EQ(pending.artist, S("Prepared Artist"));
    EXPECT_EQ(pending.title, S("Prepared Title"));
    EXPECT_EQ(pending.rev, S("6"));
    EXPECT_EQ(pending.mode, editing::EditMode::Modify);
    EXPECT_EQ(pending.sys, QLatin1Char('G'));
    // Times are collected only for a new album: the time column is emptied.
    EXPECT_EQ(pending.tracks[0].time, QString());
}

TEST_F(ImportWindowTest, AMalformedRecordChangesNothingAndKeepsTheWindowOpen) {
    prepare(editing::EditMode::NewAlbum, 2);
    const editing::PendingAlbum before = pending;
    open(ImportUse::AddOther);
    click("Step1Button");
    paste(S(kRecord).replace(S("#       15150"), S("#       15x50")));
    click("OK");
    ASSERT_EQ(desk.prompts.texts().size(), 1);
    EXPECT_TRUE(desk.prompts.last().contains(S("frame offset")));
    EXPECT_TRUE(stillOpen());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(pending.artist, before.artist);
    EXPECT_EQ(pending.title, before.title);
    EXPECT_EQ(pending.tracks.size(), 2u);
    EXPECT_EQ(discState.currentDiscId, QString());
}

TEST_F(ImportWindowTest, ARecordOfAStoredAlbumMakesItCurrent) {
    ASSERT_EQ(dm->tblAlbums.order(), S("Artist"));
    ASSERT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), S("0b0b0b0b"));
    prepare(editing::EditMode::NewAlbum, 0);
    open(ImportUse::AddOther);
    click("Step1Button");
    paste(S(kRecord));
    click("OK");
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")),
              QStringList{S("An album with this calculated ID already exists\rand will be highlighted")});
    EXPECT_TRUE(window->duplicate());
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), S("1a025d03"));
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("Album")), S("Silver Fields"));
    EXPECT_EQ(dm->tblAlbums.order(), S("Artist"));
    EXPECT_EQ(madeCurrent, QStringList{S("1a025d03")});
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(stillOpen());
    EXPECT_TRUE(window->pastedText().isEmpty());

    // Tracktype clears the flag for the next try.
    prepare(editing::EditMode::NewAlbum, 0);
    open(ImportUse::AddOther);
    click("BitBtn1");
    EXPECT_FALSE(window->duplicate());
}

// ---------------------------------------------------------------------------------------------
// Manual

TEST_F(ImportWindowTest, ManualAsksForTheTrackCountUntilItIsANumber) {
    prepare(editing::EditMode::NewAlbum, 0);
    desk.prompts.answer(std::optional<QString>(S("three")));
    desk.prompts.answer(std::optional<QString>(S("0")));
    desk.prompts.answer(std::optional<QString>(S("3")));
    bool selectedAtShow = false;
    ImportContext c = context();
    c.showEditForm = [&] {
        selectedAtShow = pending.selectArtist;
        shown.push_back(pending);
    };
    window = std::make_unique<Txcmd>(c, ImportUse::AddOther);
    window->show();
    click("ManualButton");
    const QString question = S("Total Tracks Entry Form|Enter Total Number of Tracks|1");
    const QString notNumber = S("Entry must be a number (1 or more)");
    EXPECT_EQ(desk.prompts.texts(), (QStringList{question, notNumber, question, notNumber, question}));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(titles(shown[0]), (QStringList{"Track 01", "Track 02", "Track 03"}));
    EXPECT_EQ(shown[0].tracks[2].number, S("03"));
    EXPECT_EQ(shown[0].artist, S("Various"));
    EXPECT_EQ(shown[0].title, QString());
    EXPECT_EQ(shown[0].sys, QLatin1Char('M'));
    EXPECT_TRUE(selectedAtShow);
    EXPECT_FALSE(pending.selectArtist);
    EXPECT_FALSE(stillOpen());
}

TEST_F(ImportWindowTest, ManualCancelledAndManualForTheDisc) {
    prepare(editing::EditMode::NewAlbum, 2);
    open(ImportUse::AddOther);
    desk.prompts.answer(std::optional<QString>());
    click("ManualButton");
    EXPECT_TRUE(stillOpen());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(pending.artist, S("Prepared Artist"));
    EXPECT_EQ(pending.tracks.size(), 2u);
    EXPECT_EQ(window->source(), ImportSource::None);

    // The disc's rows are kept; nothing is asked.
    putDiscInDrive({150, 15150, 30150}, 45150);
    ASSERT_TRUE(drive->ReadDisc());
    prepare(editing::EditMode::AddCd, 3);
    desk.prompts.shown.clear();
    open(ImportUse::NotFound);
    click("ManualButton");
    EXPECT_TRUE(desk.prompts.shown.empty());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(titles(shown[0]), (QStringList{"Track 1", "Track 2", "Track 3"}));
    EXPECT_EQ(shown[0].artist, S("Various"));
    EXPECT_EQ(shown[0].mode, editing::EditMode::AddCd);
}

// ---------------------------------------------------------------------------------------------
// Playlists

TEST_F(ImportWindowTest, ImportAPlaylistFromTheFileDialog) {
    SKIP_WITHOUT_TESTDATA();
    TempFolder music;
    const QString path = test::copyTestFile(QStringLiteral("playlists/m3u/two-ext.m3u"), music.path());
    settings.clipsDir = dir.path() + QLatin1Char('/');
    prepare(editing::EditMode::NewAlbum, 0);
    open(ImportUse::AddOther);

    // Cancelled: nothing happens.
    desk.prompts.answer(std::optional<QString>());
    click("ImportButton");
    EXPECT_TRUE(stillOpen());
    EXPECT_EQ(window->source(), ImportSource::None);

    desk.prompts.answer(std::optional<QString>(path));
    click("ImportButton");
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("openFile")).value(0),
              S("Select playlist to import|") + dir.path() +
                  S("/|Winamp playlist (*.m3u)|*.m3u|Yahoo! / xspf playlist (*.xml)|*.xml|All files (*.*)|*.*"));
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).isEmpty());
    ASSERT_EQ(shown.size(), 1u);
    const editing::PendingAlbum& a = shown[0];
    EXPECT_EQ(titles(a), (QStringList{"Song #1", "Song #2"}));
    EXPECT_EQ(a.tracks[1].number, S("  2"));
    EXPECT_EQ(a.tracks[1].time, S("01:00"));
    EXPECT_EQ(a.artist, S("Various"));
    EXPECT_EQ(a.title, QFileInfo(path).absoluteFilePath());
    EXPECT_EQ(a.notes, S("PLAYLIST=") + QFileInfo(path).absoluteFilePath());
    EXPECT_EQ(a.media, S("PL"));
    EXPECT_EQ(a.sys, QLatin1Char('P'));
    EXPECT_EQ(a.mode, editing::EditMode::NewAlbum);
    EXPECT_FALSE(stillOpen());
    // The playlist's folder is the clips folder now, in the settings file at once.
    const QString folder = QFileInfo(path).absolutePath() + QLatin1Char('/');
    EXPECT_EQ(settings.clipsDir, folder);
    EXPECT_EQ(settings::IniFile(settingsFile->path()).readString(QStringLiteral("Current"), QStringLiteral("ClipsDir")), folder);
}

TEST_F(ImportWindowTest, APlaylistThatIsNoPlaylistKeepsTheWindowOpen) {
    SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char* file;
        const char* message;
    } cases[] = {
        {"playlists/m3u/one.m3u", "Invalid m3u playlist format"},
        {"playlists/m3u/empty-ext.m3u", "Playlist missing timing and id3 tag data for tracks"},
        {"playlists/xspf/pass/playlist-empty-title.xspf", "Invalid m3u playlist format"},
    };
    for (const Case& c : cases) {
        prepare(editing::EditMode::NewAlbum, 0);
        desk.prompts.shown.clear();
        const QString clips = settings.clipsDir;
        open(ImportUse::AddOther);
        desk.prompts.answer(std::optional<QString>(test::sharedTestData() + QLatin1Char('/') + S(c.file)));
        click("ImportButton");
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{S(c.message)}) << c.file;
        EXPECT_TRUE(stillOpen()) << c.file;
        EXPECT_TRUE(shown.empty()) << c.file;
        EXPECT_EQ(settings.clipsDir, clips) << c.file;
    }
}

TEST_F(ImportWindowTest, APlaylistOfTheDiscInTheDriveIsLinkedToIt) {
    TempFolder music;
    QFile f(music.file(QStringLiteral("disc.m3u")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#EXTM3U\n#EXTINF:200,Kestrel - One\none.mp3\n#EXTINF:200,Kestrel - Two\ntwo.mp3\n");
    f.close();
    const QString path = QFileInfo(f).absoluteFilePath();

    struct Case {
        const char* what;
        std::vector<int> starts;  // the disc in the drive; empty: no disc
        std::optional<bool> answer;  // the link question, when asked
        bool stored;                 // the disc's ID is in the collection already
        editing::EditMode mode;
    } cases[] = {
        {"linked", {150, 15150}, true, false, editing::EditMode::AddCd},
        {"not linked", {150, 15150}, false, false, editing::EditMode::NewAlbum},
        {"a stored disc", {150, 15150}, true, true, editing::EditMode::NewAlbum},
        {"another track count", {150, 15150, 30150}, std::nullopt, false, editing::EditMode::NewAlbum},
        {"no disc", {}, std::nullopt, false, editing::EditMode::NewAlbum},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        drive.reset();
        discState = DiscState();
        if (!c.starts.empty()) putDiscInDrive(c.starts, 45150);
        QString discId;
        if (drive) {
            DiscState probe;
            DiscDrive d(drive->settings(), probe);
            d.setDeviceLister([] { return QStringList(); });
            ASSERT_TRUE(d.ReadDisc());
            discId = probe.currentDiscId;
            if (c.stored) addAlbum(discId, S("Kestrel"), S("Stored"));
        }
        prepare(editing::EditMode::NewAlbum, 0);
        shown.clear();
        desk.prompts.shown.clear();
        open(ImportUse::AddOther);
        desk.prompts.answer(std::optional<QString>(path));
        if (c.answer) desk.prompts.answer(*c.answer);
        click("ImportButton");
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("confirm")),
                  c.answer ? QStringList{S("Link to disc now in drive?")} : QStringList());
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].mode, c.mode);
        EXPECT_EQ(shown[0].albumId, c.mode == editing::EditMode::AddCd ? discId : QString());
        EXPECT_EQ(shown[0].artist, S("Kestrel"));
        EXPECT_EQ(titles(shown[0]), (QStringList{"One", "Two"}));
    }
}

// ---------------------------------------------------------------------------------------------
// The window as the program opens it: modal, driven from inside its event loop

TEST_F(ImportWindowTest, ModalUseFromAddOther) {
    prepare(editing::EditMode::NewAlbum, 0);
    window = std::make_unique<Txcmd>(context(), ImportUse::AddOther);
    paste(S("1 First\n2 Second\n3 Third\n"));
    OnNextModal handler([](QWidget* w) {
        child<QPushButton>(w, QStringLiteral("numbered"))->click();
        child<QPushButton>(w, QStringLiteral("OK"))->click();
    });
    EXPECT_EQ(window->exec(), QDialog::Accepted);
    EXPECT_TRUE(handler.fired());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(titles(shown[0]), (QStringList{"First", "Second", "Third"}));
    EXPECT_EQ(shown[0].sys, QLatin1Char('Y'));
    EXPECT_TRUE(window->editFormShown());
}

}  // namespace
