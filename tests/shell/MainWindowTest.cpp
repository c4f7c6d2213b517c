// The main window driven through its controls, found by name, over real tables in a fresh data
// folder: first run, index rebuilds, the column-title sort, Quick Search and its result
// windows, the album filter window, the Tip of the Day and the options dialog.
#include "DMcd.h"
#include "DiscGlue.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "File.h"
#include "Modal.h"
#include "PopUpF.h"
#include "TestSupport.h"
#include "ToolsF.h"
#include "CursorModel.h"
#include "mdF.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QApplication>
#include <QCheckBox>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QtTest/QTest>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;
using albumora::test::TempFolder;

namespace {

struct Album {
    const char* id;
    const char* artist;
    const char* album;
    const char* genre;
    const char* yr;
    std::vector<const char*> tracks;
    const char* notes = "";
    const char* label = "";
};

// A small collection written through the data module, as the program would store it.
void writeCollection(const QString& folder, const std::vector<Album>& albums) {
    store::TDM dm(folder);
    ASSERT_TRUE(dm.EnsureCollectionFiles().isOk());
    ASSERT_TRUE(dm.OpenCollectionTables().isOk());
    for (const Album& a : albums) {
        store::Cursor& c = dm.tblAlbums;
        ASSERT_TRUE(c.append().isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("ID"), QString::fromLatin1(a.id)).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Artist"), QString::fromUtf8(a.artist)).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Album"), QString::fromUtf8(a.album)).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Genre"), QString::fromLatin1(a.genre)).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("YR"), QString::fromLatin1(a.yr)).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Label"), QString::fromUtf8(a.label)).isOk());
        ASSERT_TRUE(c.setText(QStringLiteral("Notes"), QString::fromUtf8(a.notes)).isOk());
        ASSERT_TRUE(c.post().isOk());
        int nr = 0;
        for (const char* t : a.tracks) {
            ++nr;
            ASSERT_TRUE(dm.tblCD.append().isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("ID"), QString::fromLatin1(a.id)).isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("NR"), store::TDM::PadNumber(nr, 3)).isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("Track"), QString::fromUtf8(t)).isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("Secs"), QStringLiteral("200")).isOk());
            ASSERT_TRUE(dm.tblCD.post().isOk());
        }
        ASSERT_TRUE(dm.tblArtists.append().isOk());
        ASSERT_TRUE(dm.tblArtists.setText(QStringLiteral("ID"), QString::fromLatin1(a.id)).isOk());
        ASSERT_TRUE(dm.tblArtists.setText(QStringLiteral("Artist"), QString::fromUtf8(a.artist)).isOk());
        ASSERT_TRUE(dm.tblArtists.post().isOk());
    }
    ASSERT_TRUE(dm.FlushCollection().isOk());
}

const std::vector<Album> kSample = {
    {"0a000001", "Miles Davis", "Kind of Blue", "jazz", "1959", {"So What", "Freddie Freeloader", "Blue in Green"}, "COST=12.50\r\nURL=https://example.org/kob"},
    {"0a000002", "John Coltrane", "Blue Train", "jazz", "1957", {"Blue Train", "Moment's Notice"}, "", "Shelf A"},
    {"0a000003", "The Beatles", "Abbey Road", "rock", "1969", {"Come Together", "Something", "Here Comes the Sun"}, "Recorded live? no"},
    {"0a000004", "Muddy Waters", "Folk Singer", "blues", "1964", {"My Home Is in the Delta", "Long Distance"}},
    {"z0000001", "Various Artists", "Love Songs", "misc", "2001", {"Ann Lee / Love Is Here", "Bo Zed / Endless Love"}, "", "Box 2"},
    {"0a000005", "Björk", "Homogenic", "rock", "1997", {"Jóga", "Bachelorette"}},
};

class MainWindowTest : public ::testing::Test {
protected:
    void start() {
        session = std::make_unique<disc::Session>(dir.path());
        dm = &session->dm;
        form = std::make_unique<shell::TForm1>(*session, shell::MakeDiscServices);
        connect();
        form->show();
        for (int i = 0; i < 20 && !form->collectionOpen(); ++i) QCoreApplication::processEvents();
    }
    void connect() {
        QObject::connect(form->findChild<QStatusBar*>(QStringLiteral("MyBar")), &QStatusBar::messageChanged,
                         [this](const QString& m) { statuses << m; });
    }
    void stop() {
        if (form) form->close();
        form.reset();
        dm = nullptr;
        session.reset();
    }
    void TearDown() override { stop(); }
    template <class T>
    T* find(const QString& name) {
        T* w = form->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QString currentAlbum() { return dm->tblAlbums.text(QStringLiteral("ALBUM")); }

    // Runs a Quick Search; returns the result window's caption and row count (empty when none
    // opened), closing it with "Close" or going to the row given.
    std::pair<QString, int> quickSearch(int field, const QString& text, int goToRow = -1) {
        find<QComboBox>(QStringLiteral("RadioGroup2"))->setCurrentIndex(field);
        find<QLineEdit>(QStringLiteral("Edit1"))->setText(text);
        std::pair<QString, int> seen{QString(), -1};
        OnNextModal handler([&](QWidget* w) {
            auto* grid = child<QTableView>(w, QStringLiteral("DBGrid1"));
            seen = {w->windowTitle(), grid ? grid->model()->rowCount() : -1};
            if (goToRow >= 0 && grid) {
                grid->setCurrentIndex(grid->model()->index(goToRow, 0));
                child<QPushButton>(w, QStringLiteral("Button1"))->click();
            } else {
                child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
            }
        });
        find<QPushButton>(QStringLiteral("GoButton"))->click();
        return seen;
    }

    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<disc::Session> session;
    store::TDM* dm = nullptr;
    std::unique_ptr<shell::TForm1> form;
    QStringList statuses;
};

TEST_F(MainWindowTest, FirstRunInAnEmptyFolder) {
    start();
    ASSERT_TRUE(form->collectionOpen());
    EXPECT_EQ(form->windowTitle(), QStringLiteral(" Albumora - Music Collection Manager - Albums View"));
    for (const char* f : {"ALBUMS.DBF", "ALBUMS.FPT", "ALBUMS.CDX", "TRACKS.DBF", "TRACKS.CDX", "ARTISTS.DBF", "ARTISTS.CDX",
                          "PLAYLIST.DBF", "PLAYLIST.CDX"})
        EXPECT_TRUE(QFile::exists(dir.file(QString::fromLatin1(f)))) << f;
    for (const char* b : {"DelButton", "ModButton", "PlayListButton"}) EXPECT_FALSE(find<QPushButton>(QString::fromLatin1(b))->isEnabled()) << b;
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("AddOtherButton"))->isEnabled());
    EXPECT_TRUE(statuses.contains(QStringLiteral("Creating data files ...")));
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QString());

    // The settings file holds the first-run keys and nothing else.
    settings::IniFile ini(dir.file(QStringLiteral("Albumora.ini")));
    EXPECT_EQ(ini.sectionNames(), (QStringList{"URL", "Current", "Genre", "Official", "Site", "Media"}));
    QStringList current;
    for (const auto& [k, v] : ini.readSection(QStringLiteral("Current"))) current << k;
    EXPECT_EQ(current, (QStringList{"Host", "CDPath", "Hint", "Art", "SSL", "Genre", "ClipsDir", "Viewer", "Labeler", "Player",
                                    "Name", "Protocol", "WState"}));
    EXPECT_EQ(ini.readSection(QStringLiteral("Media")).size(), 17u);
    EXPECT_TRUE(desk.prompts.shown.empty()) << desk.prompts.last().toStdString();
}

TEST_F(MainWindowTest, MissingAlbumIndexRebuildsTheAlbumTrackAndPlaylistIndexes) {
    writeCollection(dir.path(), kSample);
    QFile::remove(dir.file(QStringLiteral("ALBUMS.CDX")));
    start();
    EXPECT_TRUE(statuses.contains(QStringLiteral("Creating Index File for: ALBUMS")));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Creating Index File for: TRACKS")));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Creating Index File for: PLAYLIST")));
    EXPECT_FALSE(statuses.contains(QStringLiteral("Creating Index File for: ARTISTS")));
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("DelButton"))->isEnabled());
    auto* grid = find<QTableView>(QStringLiteral("AlbumsGrid"));
    EXPECT_EQ(grid->model()->rowCount(), 6);
    // The default order is by artist, and the first album's tracks are shown under it.
    EXPECT_EQ(grid->model()->index(0, 0).data().toString(), QStringLiteral("Björk"));
    EXPECT_EQ(find<QTableView>(QStringLiteral("CDGrid"))->model()->rowCount(), 2);
}

TEST_F(MainWindowTest, ColumnTitlesSortAndJumpToTheNextGroup) {
    writeCollection(dir.path(), kSample);
    start();
    auto* grid = find<QTableView>(QStringLiteral("AlbumsGrid"));
    auto* header = grid->horizontalHeader();
    QAbstractItemModel* model = grid->model();
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::BackgroundRole).value<QBrush>().color(), QColor(0, 255, 255));
    emit header->sectionClicked(3);  // Genre
    EXPECT_EQ(dm->tblAlbums.order(), QStringLiteral("GENRE"));
    EXPECT_EQ(model->headerData(3, Qt::Horizontal, Qt::BackgroundRole).value<QBrush>().color(), QColor(0, 255, 255));
    EXPECT_FALSE(model->headerData(0, Qt::Horizontal, Qt::BackgroundRole).isValid());
    EXPECT_TRUE(find<QToolButton>(QStringLiteral("NaturalButton"))->isEnabled());
    QStringList genres;
    for (int r = 0; r < model->rowCount(); ++r) genres << model->index(r, 3).data().toString();
    EXPECT_EQ(genres, (QStringList{"blues", "jazz", "jazz", "misc", "rock", "rock"}));
    ASSERT_TRUE(dm->tblAlbums.first().isOk());
    QStringList visited{dm->tblAlbums.text(QStringLiteral("GENRE"))};
    for (int i = 0; i < 5; ++i) {
        emit header->sectionClicked(3);
        visited << dm->tblAlbums.text(QStringLiteral("GENRE")) + QLatin1Char('/') + currentAlbum();
    }
    // Each click lands on the first album of the next genre; on the last genre it stops at the end.
    EXPECT_EQ(visited, (QStringList{"blues", "jazz/Blue Train", "misc/Love Songs", "rock/Homogenic", "rock/Abbey Road",
                                    "rock/Abbey Road"}));
    EXPECT_EQ(grid->currentIndex().row(), 5);

    // Natural order: the order of entry, and typing no longer searches.
    find<QToolButton>(QStringLiteral("NaturalButton"))->click();
    EXPECT_TRUE(dm->tblAlbums.order().isEmpty());
    EXPECT_FALSE(find<QToolButton>(QStringLiteral("NaturalButton"))->isEnabled());
    EXPECT_EQ(model->index(0, 1).data().toString(), QStringLiteral("Kind of Blue"));
    EXPECT_FALSE(form->browser().incrementalSearch(QLatin1Char('m')));

    // Incremental search under the artist order.
    emit header->sectionClicked(0);
    QTest::keyClick(grid, Qt::Key_M);
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ARTIST")), QStringLiteral("Miles Davis"));
    EXPECT_EQ(grid->currentIndex().row(), 2);
}

// The keyboard: letters typed in quick succession search together, Enter runs Find It!, Delete
// asks to delete the album, Ctrl+Enter modifies it, Ctrl+F goes to the search text, F1 opens help.
TEST_F(MainWindowTest, TheKeyboardReachesTheMainActions) {
    writeCollection(dir.path(), kSample);
    start();
    // Shortcuts act in the active window, which the offscreen platform only has when told.
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    auto* grid = find<QTableView>(QStringLiteral("AlbumsGrid"));
    grid->setFocus();
    QTest::keyClicks(grid, QStringLiteral("mu"));
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ARTIST")), QStringLiteral("Muddy Waters"));
    QTest::qWait(1100);  // a pause starts a new search text
    QTest::keyClick(grid, Qt::Key_J);
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ARTIST")), QStringLiteral("John Coltrane"));

    find<QLineEdit>(QStringLiteral("Edit1"))->setText(QStringLiteral("blue"));
    find<QComboBox>(QStringLiteral("RadioGroup2"))->setCurrentIndex(1);
    QString caption;
    {
        OnNextModal results([&](QWidget* w) {
            caption = w->windowTitle();
            child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
        });
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Return);
    }
    EXPECT_EQ(caption, QStringLiteral("Albumora - Albums containing \"blue\" (2 found)"));

    desk.prompts.answer(false);
    QTest::keyClick(grid, Qt::Key_Delete);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("okCancel")).size(), 1);
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 6);

    QString edit;
    {
        OnNextModal form([&](QWidget* w) {
            edit = w->windowTitle();
            w->close();
        });
        QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
    }
    EXPECT_EQ(edit, QStringLiteral("Albumora - Edit Form [Modify Album]"));

    QApplication::setActiveWindow(form.get());  // back from the edit form
    QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(find<QLineEdit>(QStringLiteral("Edit1"))->hasFocus());
    desk.launcher.opened.clear();
    QTest::keyClick(grid, Qt::Key_F1);
    ASSERT_EQ(desk.launcher.opened.size(), 1);
    EXPECT_TRUE(desk.launcher.opened[0].contains(QStringLiteral("CDhelp1.html"))) << desk.launcher.opened[0].toStdString();

    // F1 in a dialog opens the dialog's own page.
    desk.launcher.opened.clear();
    {
        OnNextModal options([&](QWidget* w) {
            QApplication::setActiveWindow(w);
            QTest::keyClick(child<QLineEdit>(w, QStringLiteral("EditName")), Qt::Key_F1);
            w->close();
        });
        find<QToolButton>(QStringLiteral("ToolButton"))->click();
    }
    ASSERT_EQ(desk.launcher.opened.size(), 1);
    EXPECT_TRUE(desk.launcher.opened[0].contains(QStringLiteral("CDhelp2.html#optons"))) << desk.launcher.opened[0].toStdString();
    desk.launcher.opened.clear();
    {
        OnNextModal editForm([&](QWidget* w) {
            QApplication::setActiveWindow(w);
            QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_F1);
            w->close();
        });
        QApplication::setActiveWindow(form.get());
        QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
    }
    ASSERT_EQ(desk.launcher.opened.size(), 1);
    EXPECT_TRUE(desk.launcher.opened[0].endsWith(QStringLiteral("CDhelp1.html"))) << desk.launcher.opened[0].toStdString();
}

TEST_F(MainWindowTest, QuickSearchOnEveryField) {
    writeCollection(dir.path(), kSample);
    start();
    auto r = quickSearch(0, QStringLiteral("davis"));
    EXPECT_EQ(r.first, QStringLiteral("Albumora One-Stop Artist Search (including multi-artist) for \"davis\" (1 found)"));
    EXPECT_EQ(r.second, 1);
    r = quickSearch(1, QStringLiteral("blue"));
    EXPECT_EQ(r.first, QStringLiteral("Albumora - Albums containing \"blue\" (2 found)"));
    r = quickSearch(2, QStringLiteral("box"));
    EXPECT_EQ(r.first, QStringLiteral("Albumora - Label/Directory containing \"box\" (1 found)"));
    r = quickSearch(3, QStringLiteral("live"));
    EXPECT_EQ(r.first, QStringLiteral("Albumora - Notes containing \"live\" (1 found)"));
    // Two matching tracks of one album count twice.
    r = quickSearch(4, QStringLiteral("love"), 1);
    EXPECT_EQ(r.first, QStringLiteral("Albumora - Tracks containing \"love\" (2 found)"));
    EXPECT_EQ(currentAlbum(), QStringLiteral("Love Songs"));
    EXPECT_FALSE(dm->tblCD.filtered());
    // Going to an album from the album results makes it current.
    r = quickSearch(1, QStringLiteral("road"), 0);
    EXPECT_EQ(r.second, 1);
    EXPECT_EQ(currentAlbum(), QStringLiteral("Abbey Road"));
    EXPECT_EQ(dm->tblAlbums.order(), QStringLiteral("Artist"));  // the order is restored
    EXPECT_FALSE(dm->tblFilter.filtered());

    r = quickSearch(4, QStringLiteral("zzz"));
    EXPECT_TRUE(r.first.isEmpty());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("message")).last(), QStringLiteral("Could not find: zzz"));
    // Quotes typed into the search are searched for as typed, whichever kind.
    r = quickSearch(0, QStringLiteral("Guns \"N\" Roses"));
    EXPECT_TRUE(r.first.isEmpty());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("message")).last(), QStringLiteral("Could not find: Guns \"N\" Roses"));
    r = quickSearch(4, QStringLiteral("moment's"));
    EXPECT_EQ(r.first, QStringLiteral("Albumora - Tracks containing \"moment's\" (1 found)"));
    r = quickSearch(3, QStringLiteral("\"live? no'"));
    EXPECT_TRUE(r.first.isEmpty());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("message")).last(), QStringLiteral("Could not find: \"live? no'"));
    // Only a text holding every kind of quote cannot be written as an expression's text.
    const size_t errors = desk.prompts.texts(QStringLiteral("error")).size();
    r = quickSearch(1, QStringLiteral("a\"b'c]"));
    EXPECT_TRUE(r.first.isEmpty());
    ASSERT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), errors + 1);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).last(), shell::AlbumsBrowser::kUnsearchable + QStringLiteral("a\"b'c]"));
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QString());
}

// Notes that cannot be read: the notes search says so instead of "Could not find", and Modify
// refuses the album rather than open it with empty notes that its save would store.
TEST_F(MainWindowTest, UnreadableNotesAreAnErrorInTheNotesSearchAndModify) {
    writeCollection(dir.path(), kSample);
    const QString fpt = QDir(dir.path()).filePath(QStringLiteral("ALBUMS.FPT"));
    QByteArray bytes = test::fileBytes(fpt);
    ASSERT_GT(bytes.size(), 512);
    ASSERT_TRUE(test::writeFileBytes(fpt, bytes.left(512)));
    start();
    ASSERT_TRUE(form->collectionOpen());
    auto r = quickSearch(3, QStringLiteral("live"));
    EXPECT_TRUE(r.first.isEmpty());
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("message")).filter(QStringLiteral("Could not find")).isEmpty());
    ASSERT_FALSE(desk.prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).last().contains(QStringLiteral("ALBUMS.FPT")))
        << desk.prompts.texts(QStringLiteral("error")).last().toStdString();

    form->GoToAlbum(QStringLiteral("0a000001"));
    ASSERT_EQ(currentAlbum(), QStringLiteral("Kind of Blue"));
    bool opened = false;
    OnNextModal never([&](QWidget* w) {
        opened = true;
        w->close();
    });
    find<QPushButton>(QStringLiteral("ModButton"))->click();
    EXPECT_FALSE(opened) << "the edit form opened over notes it could not read";
    EXPECT_TRUE(desk.prompts.last().startsWith(QStringLiteral("The notes of this album cannot be read"))) << desk.prompts.last().toStdString();
    EXPECT_EQ(test::fileBytes(fpt), bytes.left(512)) << "nothing was written";
}

// The search finds a first match before it meets a damaged memo further on: the count that
// follows fails, and that is the error shown, not a window saying "0 found" over an empty grid.
TEST_F(MainWindowTest, ADamagedMemoAfterTheFirstMatchIsAnErrorNotAnEmptyResult) {
    std::vector<Album> albums = kSample;
    albums.push_back({"0a000009", "Zoe Last", "Late Notes", "pop", "2020", {"One"}, "These notes reach past the end of the memo file"});
    writeCollection(dir.path(), albums);
    const QString fpt = QDir(dir.path()).filePath(QStringLiteral("ALBUMS.FPT"));
    const QByteArray bytes = test::fileBytes(fpt);
    ASSERT_TRUE(test::writeFileBytes(fpt, bytes.left(bytes.size() - 20)));
    start();
    ASSERT_TRUE(form->collectionOpen());
    desk.prompts.shown.clear();
    auto r = quickSearch(3, QStringLiteral("live"));
    EXPECT_TRUE(r.first.isEmpty()) << r.first.toStdString();
    ASSERT_FALSE(desk.prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).last().contains(QStringLiteral("ALBUMS.FPT")))
        << desk.prompts.texts(QStringLiteral("error")).last().toStdString();

    // The albums grid under a filter that reads the notes: the status bar says why it is empty.
    store::Cursor& a = dm->tblAlbums;
    ASSERT_TRUE(a.setFilter(QStringLiteral("contains(notes,\"*notes*\")")).isOk());
    a.setFiltered(true);
    auto* model = qobject_cast<views::CursorModel*>(find<QTableView>(QStringLiteral("AlbumsGrid"))->model());
    ASSERT_NE(model, nullptr);
    model->reload();
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_TRUE(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage().contains(QStringLiteral("ALBUMS.FPT")))
        << find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage().toStdString();
    a.setFiltered(false);
}

TEST_F(MainWindowTest, AlbumFilterWindow) {
    writeCollection(dir.path(), kSample);
    start();
    ASSERT_TRUE(dm->tblAlbums.setOrder(QStringLiteral("ID")).isOk());
    const auto found = dm->tblAlbums.findKey({QStringLiteral("0a000001")});
    ASSERT_TRUE(found.isOk() && *found);
    ASSERT_TRUE(dm->tblAlbums.setOrder(QStringLiteral("Artist")).isOk());
    auto open = [&](const QString& text, bool ok) {
        QString preset;
        OnNextModal handler([&](QWidget* w) {
            auto* combo = child<QComboBox>(w, QStringLiteral("ComboBox1"));
            preset = combo->currentText();
            if (!text.isNull()) combo->setEditText(text);
            child<QPushButton>(w, ok ? QStringLiteral("BitBtn1") : QStringLiteral("BitBtn2"))->click();
        });
        find<QToolButton>(QStringLiteral("ButtonFilter"))->click();
        return preset;
    };
    // OK on the preset filters to the current album's genre.
    EXPECT_EQ(open(QString(), true), QStringLiteral("genre=\"jazz\""));
    EXPECT_TRUE(form->browser().filterOn());
    EXPECT_FALSE(find<QToolButton>(QStringLiteral("ButtonFilter"))->isVisible());
    EXPECT_TRUE(find<QToolButton>(QStringLiteral("ButtonNoFilter"))->isVisible());
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QStringLiteral("Filtering ON: genre=\"jazz\" - 2 albums"));
    EXPECT_EQ(find<QTableView>(QStringLiteral("AlbumsGrid"))->model()->rowCount(), 2);
    QFile history(dir.file(QStringLiteral("albums.ini")));
    ASSERT_TRUE(history.open(QIODevice::ReadOnly));
    EXPECT_EQ(history.readAll(), QByteArray("genre=\"jazz\"\r\n"));
    history.close();

    find<QToolButton>(QStringLiteral("ButtonNoFilter"))->click();
    EXPECT_FALSE(form->browser().filterOn());
    EXPECT_EQ(find<QTableView>(QStringLiteral("AlbumsGrid"))->model()->rowCount(), 6);
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QString());

    open(QStringLiteral("YR >"), true);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).last(), QStringLiteral("Invalid Filter Expression: \rYR >"));
    EXPECT_FALSE(form->browser().filterOn());
    open(QStringLiteral("YR > \"2020\""), true);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).last(), QStringLiteral("Sorry, no records pass filter: \rYR > \"2020\""));
    EXPECT_FALSE(dm->tblAlbums.filtered());
    const int errors = int(desk.prompts.texts(QStringLiteral("error")).size());
    open(QStringLiteral("ab"), true);  // too short: closes with nothing set and nothing said
    EXPECT_EQ(int(desk.prompts.texts(QStringLiteral("error")).size()), errors);
    EXPECT_FALSE(form->browser().filterOn());
    open(QStringLiteral("YR > \"1999\""), true);
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QStringLiteral("Filtering ON: YR > \"1999\" - 1 albums"));
    ASSERT_TRUE(history.open(QIODevice::ReadOnly));
    EXPECT_EQ(history.readAll(), QByteArray("YR > \"1999\"\r\ngenre=\"jazz\"\r\n"));
    history.close();

    // With a filter on, one that no album passes turns filtering off, and the window shows it.
    open(QStringLiteral("YR > \"2020\""), true);
    EXPECT_FALSE(dm->tblAlbums.filtered());
    EXPECT_FALSE(form->browser().filterOn());
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QString());
    EXPECT_TRUE(find<QToolButton>(QStringLiteral("ButtonFilter"))->isVisible());
    EXPECT_FALSE(find<QToolButton>(QStringLiteral("ButtonNoFilter"))->isVisible());
    EXPECT_EQ(find<QTableView>(QStringLiteral("AlbumsGrid"))->model()->rowCount(), 6);
}

TEST_F(MainWindowTest, TipOfTheDayTurnsAndRemembers) {
    QFile tips(dir.file(QStringLiteral("Albumoratips.txt")));
    ASSERT_TRUE(tips.open(QIODevice::WriteOnly));
    tips.write("True\r\nFirst tip\r\nSecond tip\r\nThird tip\r\n");
    tips.close();
    QString shown, afterNext;
    OnNextModal atStart([&](QWidget* w) {
        shown = child<QLabel>(w, QStringLiteral("TipText"))->text();
        child<QPushButton>(w, QStringLiteral("NextButton"))->click();
        afterNext = child<QLabel>(w, QStringLiteral("TipText"))->text();
        child<QCheckBox>(w, QStringLiteral("ShowTips"))->setChecked(false);
        child<QPushButton>(w, QStringLiteral("OKButton"))->click();
    });
    start();  // shown at start-up because line 1 is "True"
    EXPECT_EQ(shown, QStringLiteral("First tip"));
    EXPECT_EQ(afterNext, QStringLiteral("Second tip"));
    ASSERT_TRUE(tips.open(QIODevice::ReadOnly));
    EXPECT_EQ(tips.readAll(), QByteArray("False\r\nThird tip\r\nFirst tip\r\nSecond tip\r\n"));
    tips.close();
    // Not at the next start, but on the button.
    stop();
    start();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    form->move(140, 90);
    QPoint offCentre(999, 999);
    OnNextModal onButton([&](QWidget* w) {
        shown = child<QLabel>(w, QStringLiteral("TipText"))->text();
        offCentre = w->frameGeometry().center() - form->frameGeometry().center();
        child<QPushButton>(w, QStringLiteral("OKButton"))->click();
    });
    find<QToolButton>(QStringLiteral("SpeedButton1"))->click();
    EXPECT_EQ(shown, QStringLiteral("Third tip"));
    // Over the middle of the main window.
    EXPECT_LE(offCentre.manhattanLength(), 4) << offCentre.x() << "," << offCentre.y();
    QFile::remove(dir.file(QStringLiteral("Albumoratips.txt")));
    find<QToolButton>(QStringLiteral("SpeedButton1"))->click();
    EXPECT_EQ(desk.prompts.last(), QStringLiteral("Can't find Tip of the Day File ") + dir.file(QStringLiteral("Albumoratips.txt")));
}

// The database host may be a server of the user's own, typed beside the two listed ones.
TEST_F(MainWindowTest, TheDatabaseHostMayBeTypedIn) {
    start();
    OnNextModal typed([&](QWidget* w) {
        auto* host = child<QLineEdit>(w, QStringLiteral("EditHost"));
        EXPECT_TRUE(host->text().isEmpty());
        EXPECT_TRUE(child<QRadioButton>(w, QStringLiteral("RadioGroup2Item0"))->isChecked());
        host->setFocus();
        QTest::keyClicks(host, QStringLiteral("127.0.0.1:8880"));
        EXPECT_TRUE(child<QRadioButton>(w, QStringLiteral("RadioGroup2Item2"))->isChecked());
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    EXPECT_EQ(form->settings().host, QStringLiteral("127.0.0.1:8880"));
    EXPECT_EQ(settings::IniFile(dir.file(QStringLiteral("Albumora.ini"))).readString(QStringLiteral("Current"), QStringLiteral("Host")),
              QStringLiteral("127.0.0.1:8880"));
    OnNextModal shown([&](QWidget* w) {
        EXPECT_TRUE(child<QRadioButton>(w, QStringLiteral("RadioGroup2Item2"))->isChecked());
        EXPECT_EQ(child<QLineEdit>(w, QStringLiteral("EditHost"))->text(), QStringLiteral("127.0.0.1:8880"));
        child<QRadioButton>(w, QStringLiteral("RadioGroup2Item1"))->click();
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    EXPECT_EQ(form->settings().host, settings::kAlternateHost);

    // "other:" with no name: said, the dialog stays, and the server in use is kept.
    bool stayed = false;
    OnNextModal empty([&](QWidget* w) {
        child<QRadioButton>(w, QStringLiteral("RadioGroup2Item2"))->click();
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        stayed = w->isVisible();
        w->close();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    EXPECT_TRUE(stayed);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).last(), shell::kNoOtherHost);
    EXPECT_EQ(form->settings().host, settings::kAlternateHost);
}

// A settings file that cannot be written (a full disk): the options dialog says so and stays
// open, and the file keeps what it held.
TEST_F(MainWindowTest, OptionsThatCannotBeSavedSaySoAndTheDialogStays) {
    start();
    const QString path = dir.file(QStringLiteral("Albumora.ini"));
    const QByteArray before = test::fileBytes(path);
    ASSERT_FALSE(before.isEmpty());
    store::setFileFaultHook([](store::FileOp op, const QString& p) {
        return op == store::FileOp::Rename && p.endsWith(QLatin1String("Albumora.ini")) ? ENOSPC : 0;
    });
    bool stayed = false;
    OnNextModal handler([&](QWidget* w) {
        child<QLineEdit>(w, QStringLiteral("EditName"))->setText(QStringLiteral("Jazz"));
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        stayed = w->isVisible();
        store::setFileFaultHook(nullptr);
        child<QPushButton>(w, QStringLiteral("CancelButton"))->click();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    store::setFileFaultHook(nullptr);
    EXPECT_TRUE(stayed);
    const QStringList errors = desk.prompts.texts(QStringLiteral("error"));
    ASSERT_FALSE(errors.isEmpty());
    EXPECT_TRUE(errors.last().startsWith(QStringLiteral("The settings could not be saved:\r"))) << errors.last().toStdString();
    EXPECT_EQ(test::fileBytes(path), before);
}

TEST_F(MainWindowTest, OptionsAreSavedOnlyWhenChanged) {
    start();
    const QString path = dir.file(QStringLiteral("Albumora.ini"));
    auto readAll = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromLatin1(f.readAll());
    };
    const QString before = readAll();
    // No drive on this machine: the drive box says so in place of the drive list.
    OnNextModal handler([&](QWidget* w) {
        EXPECT_FALSE(child<QComboBox>(w, QStringLiteral("cbDrives"))->isVisible());
        EXPECT_TRUE(child<QLabel>(w, QStringLiteral("NoDriveLabel"))->isVisible());
        EXPECT_TRUE(child<QLabel>(w, QStringLiteral("NoDriveLabel"))->text().startsWith(QStringLiteral("Can NOT find a CD-ROM drive")));
        child<QLineEdit>(w, QStringLiteral("EditName"))->setText(QStringLiteral("Jazz"));
        child<QLineEdit>(w, QStringLiteral("EditMail"))->setText(QStringLiteral("myname"));
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        // The check failed, the dialog stays; the other entries are stored all the same.
        EXPECT_TRUE(w->isVisible());
        child<QLineEdit>(w, QStringLiteral("EditMail"))->setText(QString());
        child<QRadioButton>(w, QStringLiteral("RadioGroup1Item0"))->click();  // TCP/IP
        child<QRadioButton>(w, QStringLiteral("RadioGroup2Item1"))->click();  // the alternate host
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), (QStringList{"Invalid e-mail address"}));
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("information")).value(0),
              QStringLiteral("The alternate database may not work with TCP/IP Connection Protocol.\rYou may have to select HTTP "
                             "Connection Protocol."));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Albumora - Jazz"));
    settings::IniFile ini(path);
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Name")), QStringLiteral("Jazz"));
    // The address that failed its check was not stored, so it cannot fail again at a later OK.
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Mail")), QString());
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Protocol")), QStringLiteral("T"));
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Host")), settings::kAlternateHost);
    EXPECT_EQ(form->settings().host, settings::kAlternateHost);
    // Nothing else changed: no Amount, Server or DriveNr appeared.
    QString after = readAll();
    for (const char* key : {"Amount=", "Server=", "DriveNr=", "Viewer=x"}) EXPECT_FALSE(after.contains(QString::fromLatin1(key))) << key;
    EXPECT_EQ(after.count(QLatin1Char('\n')), before.count(QLatin1Char('\n')));

    // Opened again and closed with OK: no box at all, neither for the drive nor for the address.
    desk.prompts.shown.clear();
    OnNextModal again([&](QWidget* w) { child<QPushButton>(w, QStringLiteral("OKbutton"))->click(); });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    EXPECT_TRUE(desk.prompts.shown.empty()) << desk.prompts.texts().join(QLatin1Char('|')).toStdString();
}

// The lookup sources and the web services' addresses: shown from the settings, a bad address
// refused and not stored, the rest taken at once and written.
TEST_F(MainWindowTest, OptionsShowAndSaveTheLookupSources) {
    start();
    EXPECT_EQ(form->settings().sources, QStringLiteral("cddb,musicbrainz"));
    OnNextModal handler([&](QWidget* w) {
        auto* sources = child<QComboBox>(w, QStringLiteral("cbSources"));
        EXPECT_EQ(sources->currentData().toString(), QStringLiteral("cddb,musicbrainz"));
        EXPECT_EQ(child<QLineEdit>(w, QStringLiteral("EditMusicBrainz"))->text(), QStringLiteral("https://musicbrainz.org"));
        EXPECT_EQ(child<QLineEdit>(w, QStringLiteral("EditCoverArt"))->text(), QStringLiteral("https://coverartarchive.org"));
        EXPECT_TRUE(child<QCheckBox>(w, QStringLiteral("CoversCheck"))->isChecked());
        sources->setCurrentIndex(sources->findData(QStringLiteral("cddb+musicbrainz")));
        child<QLineEdit>(w, QStringLiteral("EditMusicBrainz"))->setText(QStringLiteral("http://127.0.0.1:5000"));
        child<QLineEdit>(w, QStringLiteral("EditCoverArt"))->setText(QStringLiteral("coverartarchive"));
        child<QCheckBox>(w, QStringLiteral("CoversCheck"))->setChecked(false);
        child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        EXPECT_TRUE(w->isVisible());
        w->close();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), (QStringList{"Invalid Cover Art Archive address"}));
    settings::IniFile ini(dir.file(QStringLiteral("Albumora.ini")));
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Sources")), QStringLiteral("cddb+musicbrainz"));
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("MusicBrainz")), QStringLiteral("http://127.0.0.1:5000"));
    EXPECT_FALSE(ini.read(QStringLiteral("Current"), QStringLiteral("CoverArt")).has_value());
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Covers")), QStringLiteral("0"));
    EXPECT_EQ(form->settings().sources, QStringLiteral("cddb+musicbrainz"));
    EXPECT_FALSE(form->settings().covers);
    EXPECT_EQ(form->settings().coverArt, QStringLiteral("https://coverartarchive.org"));

    // A list written into the file by hand is offered as it stands.
    form->settings().sources = QStringLiteral("musicbrainz+cddb");
    OnNextModal again([&](QWidget* w) {
        EXPECT_EQ(child<QComboBox>(w, QStringLiteral("cbSources"))->currentText(), QStringLiteral("musicbrainz+cddb"));
        child<QPushButton>(w, QStringLiteral("CancelButton"))->click();
    });
    find<QToolButton>(QStringLiteral("ToolButton"))->click();
}

TEST_F(MainWindowTest, TheDiscInTheDriveBecomesTheCurrentAlbum) {
    writeCollection(dir.path(), kSample);
    // A disc image stands in for the drive; its disc ID is stored as one album's ID.
    std::mt19937 rng(7);
    const test::DiscLayout layout = test::randomLayout(rng, {});
    const QString image = test::writeImage(dir.path(), QStringLiteral("disc"), layout, test::ImageKind::Cue);
    const QString id = test::libdiscidFreedbId(layout);
    {
        store::TDM w(dir.path());
        ASSERT_TRUE(w.OpenCollectionTables().isOk());
        ASSERT_TRUE(w.tblAlbums.append().isOk());
        ASSERT_TRUE(w.tblAlbums.setText(QStringLiteral("ID"), id).isOk());
        ASSERT_TRUE(w.tblAlbums.setText(QStringLiteral("Artist"), QStringLiteral("Zz Top")).isOk());
        ASSERT_TRUE(w.tblAlbums.setText(QStringLiteral("Album"), QStringLiteral("The Disc In The Drive")).isOk());
        ASSERT_TRUE(w.tblAlbums.post().isOk());
        ASSERT_TRUE(w.FlushCollection().isOk());
    }
    settings::SettingsFile settings(dir.path());
    ASSERT_TRUE(settings.writeFirstRun(image, QString()));
    start();
    // The drive is read once the window has shown the collection.
    for (int i = 0; i < 20 && currentAlbum() != QStringLiteral("The Disc In The Drive"); ++i) QCoreApplication::processEvents();
    EXPECT_EQ(currentAlbum(), QStringLiteral("The Disc In The Drive"));
    EXPECT_EQ(dm->tblAlbums.order(), QStringLiteral("Artist"));
    // Elsewhere, then back with "Make CD in drive the current album".
    ASSERT_TRUE(dm->tblAlbums.first().isOk());
    find<QToolButton>(QStringLiteral("FindCDButton"))->click();
    EXPECT_EQ(currentAlbum(), QStringLiteral("The Disc In The Drive"));
    // The disc read is the window's session's, not the process's: another session on the same
    // folder has read nothing.
    EXPECT_EQ(form->session().disc.currentDiscId, id);
    EXPECT_EQ(int(form->session().disc.toc.trackCount), int(layout.starts.size()) - layout.dataTracks);
    EXPECT_TRUE(disc::Session(dir.path()).disc.currentDiscId.isEmpty());
    // The grid stays in the artist order it is marked with, the album highlighted.
    auto* grid = find<QTableView>(QStringLiteral("AlbumsGrid"));
    QStringList artists;
    for (int r = 0; r < grid->model()->rowCount(); ++r) artists << grid->model()->index(r, 0).data().toString();
    QStringList sorted = artists;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) { return a.toUpper() < b.toUpper(); });
    EXPECT_EQ(artists, sorted);
    EXPECT_EQ(dm->tblAlbums.order(), QStringLiteral("Artist"));
    EXPECT_EQ(grid->model()->index(grid->currentIndex().row(), 1).data().toString(), QStringLiteral("The Disc In The Drive"));
    EXPECT_EQ(grid->currentIndex().row(), int(artists.size()) - 1);
    // An image cannot be ejected.
    find<QToolButton>(QStringLiteral("SpeedButton2"))->click();
    EXPECT_EQ(desk.prompts.last(), image + QStringLiteral(" Not A CD Drive"));
}

// The Reindex button packs and re-indexes the collection and, when asked, archives it; the
// window shows the same album afterwards.
TEST_F(MainWindowTest, ReindexPacksAndArchivesOnRequest) {
    writeCollection(dir.path(), kSample);
    start();
    ASSERT_TRUE(form->collectionOpen());
    form->GoToAlbum(QStringLiteral("0a000003"));
    const QString chosen = currentAlbum();
    desk.prompts.answer(false);
    find<QPushButton>(QStringLiteral("ReindexButton"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("confirm")).last(), QStringLiteral("Also create/update a zip archive file?"));
    EXPECT_EQ(desk.prompts.last(), QStringLiteral("File maintenance successfully completed"));
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("Albumoradata.zip"))));
    EXPECT_EQ(currentAlbum(), chosen);
    EXPECT_EQ(find<QTableView>(QStringLiteral("AlbumsGrid"))->model()->rowCount(), int(kSample.size()));
    desk.prompts.answer(true);
    find<QPushButton>(QStringLiteral("ReindexButton"))->click();
    EXPECT_TRUE(desk.prompts.last().startsWith(QStringLiteral("Created/Updated Zip archive file: "))) << desk.prompts.last().toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir.file(QStringLiteral("Albumoradata.zip"))));
    EXPECT_EQ(find<QStatusBar>(QStringLiteral("MyBar"))->currentMessage(), QString());
}

// Albums another program stores or deletes in the data folder while the window is open show up
// in the grids without the user touching the window, and the album the user is on stays.
TEST_F(MainWindowTest, TheGridsFollowWhatAnotherProgramWrites) {
    writeCollection(dir.path(), kSample);
    start();
    ASSERT_TRUE(form->collectionOpen());
    auto* grid = find<QTableView>(QStringLiteral("AlbumsGrid"));
    auto* tracks = find<QTableView>(QStringLiteral("CDGrid"));
    QAbstractItemModel* model = grid->model();
    ASSERT_EQ(model->rowCount(), 6);
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);
    const QString chosen = currentAlbum();
    ASSERT_FALSE(chosen.isEmpty());
    auto titles = [&] {
        QStringList t;
        for (int r = 0; r < model->rowCount(); ++r) t << model->index(r, 1).data().toString();
        return t;
    };
    auto waitForRows = [&](int n) {
        for (int i = 0; i < 100 && model->rowCount() != n; ++i) QTest::qWait(50);
        return model->rowCount() == n;
    };

    QFile list(QDir(dir.path()).filePath(QStringLiteral("list.txt")));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("1. First arrival\n2. Second arrival\n3. Third arrival\n");
    list.close();
    const auto added = test::runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("import"), QStringLiteral("--source"),
                                     QStringLiteral("numbered"), list.fileName(), QStringLiteral("--artist"),
                                     QStringLiteral("Aaron Alpha"), QStringLiteral("--title"), QStringLiteral("Arrived Meanwhile"),
                                     QStringLiteral("--genre"), QStringLiteral("rock")});
    ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();
    ASSERT_TRUE(waitForRows(7)) << titles().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(titles().contains(QStringLiteral("Arrived Meanwhile")));
    EXPECT_EQ(currentAlbum(), chosen);
    EXPECT_EQ(model->index(grid->currentIndex().row(), 1).data().toString(), chosen);

    // The album on screen is deleted elsewhere: the window moves on to another whole album.
    const QString gone = dm->tblAlbums.text(QStringLiteral("ID"));
    const auto deleted = test::runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("delete"), gone});
    ASSERT_EQ(deleted.exitCode, 0) << deleted.err.toStdString();
    ASSERT_TRUE(waitForRows(6)) << titles().join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(titles().contains(chosen));
    EXPECT_TRUE(titles().contains(QStringLiteral("Arrived Meanwhile")));
    const QString now = dm->tblAlbums.text(QStringLiteral("ID"));
    EXPECT_NE(now, gone);
    EXPECT_EQ(model->index(grid->currentIndex().row(), 1).data().toString(), currentAlbum());
    int expected = currentAlbum() == QStringLiteral("Arrived Meanwhile") ? 3 : -1;
    for (const Album& a : kSample)
        if (QString::fromUtf8(a.album) == currentAlbum()) expected = int(a.tracks.size());
    EXPECT_EQ(tracks->model()->rowCount(), expected) << currentAlbum().toStdString();

    // Under an album filter the status bar's count follows too, and the focus stays where the
    // user put it.
    OnNextModal filter([&](QWidget* w) {
        child<QComboBox>(w, QStringLiteral("ComboBox1"))->setEditText(QStringLiteral("genre=\"rock\""));
        child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
    });
    find<QToolButton>(QStringLiteral("ButtonFilter"))->click();
    auto* bar = find<QStatusBar>(QStringLiteral("MyBar"));
    const int rock = model->rowCount();
    ASSERT_EQ(bar->currentMessage(), QStringLiteral("Filtering ON: genre=\"rock\" - %1 albums").arg(rock));
    QApplication::setActiveWindow(form.get());
    auto* search = find<QLineEdit>(QStringLiteral("Edit1"));
    search->setFocus();
    const auto more = test::runCli({QStringLiteral("--data"), dir.path(), QStringLiteral("import"), QStringLiteral("--source"),
                                    QStringLiteral("numbered"), list.fileName(), QStringLiteral("--artist"),
                                    QStringLiteral("Zed Omega"), QStringLiteral("--title"), QStringLiteral("Filtered Arrival"),
                                    QStringLiteral("--genre"), QStringLiteral("rock")});
    ASSERT_EQ(more.exitCode, 0) << more.err.toStdString();
    ASSERT_TRUE(waitForRows(rock + 1));
    EXPECT_EQ(bar->currentMessage(), QStringLiteral("Filtering ON: genre=\"rock\" - %1 albums").arg(rock + 1));
    EXPECT_TRUE(search->hasFocus());
}

}  // namespace
