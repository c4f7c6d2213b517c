// The album edit form and its flows over real tables: the save of a new album (rows of every
// table, the multi-artist convention, the checks), Modify through the main window (only titles
// change), and Delete (rows gone from every table, files packed).
#include "Check.h"
#include "DMcd.h"
#include "FakeDesktop.h"
#include "File.h"
#include "MainWindowFixture.h"
#include "Modal.h"
#include "TestSupport.h"
#include "mdF.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest/QTest>

#include <cerrno>
#include <map>

using namespace albumora;
using albumora::test::OnNextModal;
using editing::EditMode;
using editing::PendingAlbum;

namespace {

struct Row {
    QString id, nr, text, secs;
    bool operator==(const Row&) const = default;
};

// Every live row of a table, as (ID, NR, title or artist, Secs), in entry order.
std::vector<Row> rows(const QString& folder, const QString& table, const QString& textField) {
    store::Cursor c;
    c.setTablePath(QDir(folder).filePath(table));
    EXPECT_TRUE(c.open().isOk());
    std::vector<Row> out;
    store::Status st;
    for (st = c.first(); st && !c.isEmpty() && !c.eof(); st = c.next())
        out.push_back({c.text(QStringLiteral("ID")), c.text(QStringLiteral("NR")), c.text(textField),
                       c.fieldIndex(QStringLiteral("Secs")) >= 0 ? c.text(QStringLiteral("Secs")) : QString()});
    EXPECT_TRUE(st.isOk()) << table.toStdString() << ": " << st.text().toStdString();
    return out;
}

void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << r.id.toStdString() << "," << r.nr.toStdString() << "," << r.text.toStdString() << "," << r.secs.toStdString()
        << "}";
}

class EditFormTest : public ::testing::Test, public test::MainWindowFixture {
protected:
    void SetUp() override {
        openMainWindow(dir.path());
        ASSERT_TRUE(opened());
    }
    void TearDown() override { closeMainWindow(); }
    PendingAlbum& newAlbum() {
        form->editor().PrepareAddOther();
        return form->editor().pending();
    }
    bool save() {
        auto r = form->editor().Save();
        EXPECT_TRUE(r.isOk()) << (r.isOk() ? std::string() : r.error().text().toStdString());
        form->editor().AfterClose();
        return r.isOk() && *r;
    }
    test::TempFolder dir;
    test::FakeDesktop desk;
};

TEST_F(EditFormTest, ANewAlbumIsStoredInEveryTable) {
    PendingAlbum& p = newAlbum();
    p.artist = QStringLiteral("  Miles Davis ");
    p.title = QStringLiteral("Kind of Blue");
    p.genre = QStringLiteral(" Rock ");
    p.media = QStringLiteral("CR (CD-R)");
    p.index = QStringLiteral("12");
    p.year = QStringLiteral("1959");
    p.notes = QStringLiteral("COST=12.50\r\nbought in Hamburg");
    p.sys = QLatin1Char('M');
    p.tracks = {{QStringLiteral("01"), QStringLiteral(" 3:07"), QStringLiteral("So What ")},
                {QStringLiteral("02"), QStringLiteral("12:34"), QStringLiteral("Freddie")},
                {QStringLiteral("03"), QString(), QStringLiteral("Blue in Green")}};
    ASSERT_TRUE(save());
    store::Cursor& a = dm->tblAlbums;
    ASSERT_TRUE(a.setOrder(QStringLiteral("ID")).isOk());
    ASSERT_TRUE(*a.findKey({QStringLiteral("z0000001")}));
    EXPECT_EQ(a.text(QStringLiteral("ARTIST")), QStringLiteral("Miles Davis"));
    EXPECT_EQ(a.text(QStringLiteral("GENRE")), QStringLiteral("rock"));
    EXPECT_EQ(a.text(QStringLiteral("MEDIA")), QStringLiteral("CR"));
    EXPECT_EQ(a.text(QStringLiteral("IX")), QStringLiteral("    12"));
    EXPECT_EQ(a.text(QStringLiteral("SYS")), QStringLiteral("M"));
    EXPECT_EQ(a.text(QStringLiteral("Rev")), QStringLiteral("0"));
    EXPECT_EQ(a.text(QStringLiteral("Notes")), QStringLiteral("COST=12.50\r\nbought in Hamburg"));
    EXPECT_EQ(rows(dir.path(), QStringLiteral("TRACKS.DBF"), QStringLiteral("TRACK")),
              (std::vector<Row>{{"z0000001", "  1", "So What", "187"}, {"z0000001", "  2", "Freddie", "754"},
                                {"z0000001", "  3", "Blue in Green", "0"}}));
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ARTISTS.DBF"), QStringLiteral("ARTIST")),
              (std::vector<Row>{{"z0000001", "", "Miles Davis", ""}}));
    // The genre becomes the default of the next new album.
    EXPECT_EQ(form->settingsFile().ini().readString(QStringLiteral("Current"), QStringLiteral("Genre")), QStringLiteral("rock"));
    EXPECT_EQ(newAlbum().genre, QStringLiteral("rock"));
    EXPECT_TRUE(store::CheckFolder(dir.path()).isEmpty());

    // The next one gets the next local ID.
    PendingAlbum& q = newAlbum();
    q.artist = QStringLiteral("X");
    q.title = QStringLiteral("Y");
    q.genre = QStringLiteral("acid jazz");
    ASSERT_TRUE(save());
    EXPECT_TRUE(*a.findKey({QStringLiteral("z0000002")}));
    EXPECT_TRUE(form->editor().genreList().contains(QStringLiteral("acid jazz")));
}

// A genre typed with an album is in the genre list after a restart, however many albums were
// added after it in the same session.
TEST_F(EditFormTest, ATypedGenreIsInTheListAfterARestart) {
    for (const char* genre : {"shoegaze", "rock", "rock"}) {
        PendingAlbum& p = newAlbum();
        p.artist = QStringLiteral("Slowdive");
        p.title = QString::fromLatin1(genre);
        p.genre = QString::fromLatin1(genre);
        ASSERT_TRUE(save());
        EXPECT_TRUE(form->editor().genreList().contains(QStringLiteral("shoegaze")));
    }
    closeMainWindow();
    EXPECT_TRUE(settings::SettingsFile(dir.path()).genreList().contains(QStringLiteral("shoegaze")));
    openMainWindow(dir.path());
    ASSERT_TRUE(opened());
    newAlbum();
    EXPECT_TRUE(form->editor().genreList().contains(QStringLiteral("shoegaze")));
}

// Upper- and lower-casing change only ASCII letters: an accented genre keeps its capitals, and
// an artist that reads "VARIOUS" only once non-ASCII letters are folded is no compilation.
TEST_F(EditFormTest, CaseChangesTouchOnlyAsciiLetters) {
    PendingAlbum& p = newAlbum();
    p.artist = QStringLiteral("Ørjan");
    p.title = QStringLiteral("Nord");
    p.genre = QStringLiteral("ÉLECTRO");
    ASSERT_TRUE(save());
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ALBUMS.DBF"), QStringLiteral("GENRE")).back().text, QStringLiteral("Électro"));
    PendingAlbum q;
    q.artist = QStringLiteral("varıous");  // a dotless i, which Unicode upper-cases to I
    EXPECT_FALSE(q.isMultiArtist());
    q.artist = QStringLiteral("Various Artists");
    EXPECT_TRUE(q.isMultiArtist());
}

TEST_F(EditFormTest, MultiArtistAlbumsGetAnArtistRowPerTrack) {
    PendingAlbum& p = newAlbum();
    p.artist = QStringLiteral("Various Artists");
    p.title = QStringLiteral("Birds");
    p.genre = QStringLiteral("misc");
    p.tracks = {{QStringLiteral("01"), QString(), QStringLiteral("Kestrel / Silver Fields")},
                {QStringLiteral("02"), QString(), QStringLiteral("Duke/Waltz")},
                {QStringLiteral("03"), QString(), QStringLiteral("Waltz")}};
    ASSERT_TRUE(save());
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ARTISTS.DBF"), QStringLiteral("ARTIST")),
              (std::vector<Row>{{"z0000001", "  1", "Kestrel", ""}, {"z0000001", "  2", "Duke", ""}}));
    EXPECT_TRUE(desk.prompts.shown.empty());

    // A first title without " / " asks; No stores nothing.
    const QString question = QStringLiteral("This appears to be a multi-artist album but standard format of\rArtist / Song\rwas not "
                                            "used for the track entries.  Continue anyway?");
    PendingAlbum& q = newAlbum();
    q.artist = QStringLiteral("VARIOUS");
    q.title = QStringLiteral("Mix");
    q.genre = QStringLiteral("misc");
    q.tracks = {{QStringLiteral("01"), QString(), QStringLiteral("Song Only")}};
    desk.prompts.answer(false);
    EXPECT_FALSE(save());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("confirm")), (QStringList{question}));
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 1);
    desk.prompts.answer(true);
    EXPECT_TRUE(save());
    // Text from the music guide is taken as it is; "Variou" is not a multi-artist album.
    for (const char* artist : {"Various", "Variou"}) {
        PendingAlbum& g = newAlbum();
        g.artist = QString::fromLatin1(artist);
        g.title = QStringLiteral("G");
        g.genre = QStringLiteral("misc");
        g.sys = artist[6] == 's' ? QLatin1Char('G') : QLatin1Char('M');
        g.tracks = {{QStringLiteral("01"), QString(), QStringLiteral("No Separator")}};
        EXPECT_TRUE(save());
    }
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("confirm")).size(), 2);
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ARTISTS.DBF"), QStringLiteral("ARTIST")).back(),
              (Row{"z0000004", "", "Variou", ""}));
}

TEST_F(EditFormTest, RequiredEntries) {
    PendingAlbum& p = newAlbum();
    p.artist = QStringLiteral("A");
    p.title = QStringLiteral("  ");
    p.genre = QStringLiteral("rock");
    EXPECT_FALSE(save());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), (QStringList{"Album, Artist & Genre are required entries"}));
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 0);
}

TEST_F(EditFormTest, ModifyThroughTheMainWindowChangesOnlyTitles) {
    PendingAlbum& p = newAlbum();
    p.artist = QStringLiteral("Artist");
    p.title = QStringLiteral("Album");
    p.genre = QStringLiteral("rock");
    p.sys = QLatin1Char('Y');
    p.media = QStringLiteral("LD (local drive)");
    p.tracks = {{QStringLiteral("01"), QStringLiteral(" 3:07"), QStringLiteral("One")},
                {QStringLiteral("02"), QStringLiteral(" 4:00"), QStringLiteral("Two")},
                {QStringLiteral("03"), QStringLiteral(" 5:01"), QStringLiteral("Three")}};
    ASSERT_TRUE(save());
    form->RefreshAlbumStatus();
    QString caption, running, media;
    std::vector<std::pair<int, int>> cells;
    OnNextModal edit([&](QWidget* w) {
        caption = w->windowTitle();
        running = test::child<QLabel>(w, QStringLiteral("RunningLabel"))->text();
        media = test::child<QComboBox>(w, QStringLiteral("EditMedia"))->currentText();
        auto* grid = test::child<QTableWidget>(w, QStringLiteral("StringGrid1"));
        // The first title is current; Tab goes from title to title, Shift+Tab back.
        grid->setFocus();
        cells.push_back({grid->currentRow(), grid->currentColumn()});
        QTest::keyClick(grid, Qt::Key_Tab);
        cells.push_back({grid->currentRow(), grid->currentColumn()});
        QTest::keyClick(grid, Qt::Key_Tab);
        cells.push_back({grid->currentRow(), grid->currentColumn()});
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
        cells.push_back({grid->currentRow(), grid->currentColumn()});
        EXPECT_EQ(grid->rowCount(), 3);
        EXPECT_EQ(grid->item(2, 0)->text(), QStringLiteral("  3"));
        EXPECT_EQ(grid->item(2, 1)->text(), QStringLiteral(" 5:01"));
        grid->item(2, 2)->setText(QStringLiteral("  Three (live)  "));
        test::child<QLineEdit>(w, QStringLiteral("EditYear"))->setText(QStringLiteral("1999"));
        test::child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
    });
    test::child<QPushButton>(form.get(), QStringLiteral("ModButton"))->click();
    EXPECT_EQ(caption, QStringLiteral("Albumora - Edit Form [Modify Album]"));
    EXPECT_EQ(media, QStringLiteral("LD (local drive)"));  // as Add shows it; stored as "LD"
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("MEDIA")), QStringLiteral("LD"));
    EXPECT_EQ(cells, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}, {1, 2}}));
    EXPECT_EQ(running, QStringLiteral(" 12:12"));  // 187+240+301 seconds, 2 more a track, 2 less at the end
    EXPECT_EQ(rows(dir.path(), QStringLiteral("TRACKS.DBF"), QStringLiteral("TRACK")),
              (std::vector<Row>{{"z0000001", "  1", "One", "187"}, {"z0000001", "  2", "Two", "240"},
                                {"z0000001", "  3", "Three (live)", "301"}}));
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("YR")), QStringLiteral("1999"));
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("SYS")), QStringLiteral("Y"));
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 1);
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ARTISTS.DBF"), QStringLiteral("ARTIST")).size(), 1u);
    EXPECT_TRUE(store::CheckFolder(dir.path()).isEmpty()) << store::CheckFolder(dir.path()).join('\n').toStdString();
}

TEST_F(EditFormTest, DeleteRemovesTheAlbumFromEveryTableAndPacks) {
    for (const char* title : {"Keep", "Drop"}) {
        PendingAlbum& p = newAlbum();
        p.artist = QString::fromLatin1(title);
        p.title = QString::fromLatin1(title);
        p.genre = QStringLiteral("rock");
        p.tracks = {{QStringLiteral("01"), QStringLiteral(" 1:00"), QStringLiteral("a")},
                    {QStringLiteral("02"), QStringLiteral(" 1:00"), QStringLiteral("b")}};
        ASSERT_TRUE(save());
    }
    // A mark for a track of each.
    for (const char* id : {"z0000001", "z0000002"}) {
        ASSERT_TRUE(dm->tblPlayList.append().isOk());
        ASSERT_TRUE(dm->tblPlayList.setText(QStringLiteral("ID"), QString::fromLatin1(id)).isOk());
        ASSERT_TRUE(dm->tblPlayList.setText(QStringLiteral("NR"), QStringLiteral("  1")).isOk());
        ASSERT_TRUE(dm->tblPlayList.post().isOk());
    }
    ASSERT_TRUE(dm->FlushCollection().isOk());
    form->RefreshAlbumStatus();
    form->GoToAlbum(QStringLiteral("z0000002"));
    ASSERT_EQ(dm->tblAlbums.text(QStringLiteral("ALBUM")), QStringLiteral("Drop"));
    desk.prompts.answer(false);  // Cancel: nothing happens
    test::child<QPushButton>(form.get(), QStringLiteral("DelButton"))->click();
    EXPECT_EQ(*dm->tblAlbums.recordCount(), 2);
    desk.prompts.answer(true);
    test::child<QPushButton>(form.get(), QStringLiteral("DelButton"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("okCancel")).value(0),
              QStringLiteral("Are you sure you want to delete the highlighted album\rand its linked tracks from your collection?\r\r"
                             "Drop - Drop"));
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ALBUMS.DBF"), QStringLiteral("ALBUM")), (std::vector<Row>{{"z0000001", "", "Keep", ""}}));
    for (const char* t : {"TRACKS.DBF", "PLAYLIST.DBF", "ARTISTS.DBF"})
        for (const Row& r : rows(dir.path(), QString::fromLatin1(t), QStringLiteral("ID"))) EXPECT_EQ(r.id, QStringLiteral("z0000001")) << t;
    // Packed: the files hold no deleted rows.
    for (const char* t : {"ALBUMS.DBF", "TRACKS.DBF", "PLAYLIST.DBF", "ARTISTS.DBF"}) {
        auto table = store::Table::open(dir.file(QString::fromLatin1(t)), store::OpenMode::Shared);
        ASSERT_TRUE(table.isOk());
        EXPECT_EQ(*(*table)->deletedCount(), 0u) << t;
    }
    EXPECT_TRUE(store::CheckFolder(dir.path()).isEmpty());
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ALBUM")), QStringLiteral("Keep"));
    EXPECT_EQ(*dm->tblTracks.recordCount(), 2);
}

// After the delete has landed nothing undoes it, but what fails then is still shown.
TEST_F(EditFormTest, AFailureAfterTheDeleteLandedIsShownAndTheDeleteStands) {
    for (const char* title : {"Keep", "Drop"}) {
        PendingAlbum& p = newAlbum();
        p.artist = QString::fromLatin1(title);
        p.title = QString::fromLatin1(title);
        p.genre = QStringLiteral("rock");
        ASSERT_TRUE(save());
    }
    // A tracks view without its index is deleted with the album, and here it cannot be.
    {
        QFile tview(dir.file(QStringLiteral("TVIEW.DBF")));
        ASSERT_TRUE(tview.open(QIODevice::WriteOnly));
        tview.write("stale");
    }
    store::setFileFaultHook([](store::FileOp op, const QString& p) {
        return op == store::FileOp::Remove && p.endsWith(QLatin1String("TVIEW.DBF")) ? EACCES : 0;
    });
    form->RefreshAlbumStatus();
    form->GoToAlbum(QStringLiteral("z0000002"));
    ASSERT_EQ(dm->tblAlbums.text(QStringLiteral("ALBUM")), QStringLiteral("Drop"));
    desk.prompts.answer(true);
    test::child<QPushButton>(form.get(), QStringLiteral("DelButton"))->click();
    store::setFileFaultHook(nullptr);
    const QStringList errors = desk.prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 1) << errors.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(errors.first().startsWith(QStringLiteral("Cannot delete ")) && errors.first().contains(QStringLiteral("TVIEW.DBF")))
        << errors.first().toStdString();
    EXPECT_EQ(rows(dir.path(), QStringLiteral("ALBUMS.DBF"), QStringLiteral("ALBUM")), (std::vector<Row>{{"z0000001", "", "Keep", ""}}));
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ALBUM")), QStringLiteral("Keep"));
}

// The desktop program and the command-line companion store albums into one folder at the same
// time: every album keeps its own ID, its own tracks and its artist row.
TEST_F(EditFormTest, TheFormAndTheCliSavingAtOnceKeepEveryAlbumWhole) {
    constexpr int kEach = 12;
    for (int i = 1; i <= kEach; ++i) {
        QFile list(dir.file(QStringLiteral("cli%1.txt").arg(i)));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        for (int t = 1; t <= 1 + i % 4; ++t) list.write(QStringLiteral("%1. cli%2 song %1\n").arg(t).arg(i).toUtf8());
    }
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLI"), QStringLiteral(ALBUMORA_CLI_PATH));
    env.insert(QStringLiteral("DATA"), dir.path());
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral("bash"),
              {QStringLiteral("-c"), QStringLiteral("for i in $(seq 1 %1); do out=$(\"$CLI\" --data \"$DATA\" import --source numbered "
                                                    "\"$DATA/cli$i.txt\" --artist Cli --title \"Cli $i\" --genre rock) || exit 1; "
                                                    "echo \"$i $out\"; done")
                                         .arg(kEach)});
    ASSERT_TRUE(cli.waitForStarted());
    // The saves are spread over the companion's run, from its first import on.
    ASSERT_TRUE(cli.waitForReadyRead(60000));
    for (int i = 1; i <= kEach; ++i) {
        PendingAlbum& p = newAlbum();
        p.artist = QStringLiteral("Desk");
        p.title = QStringLiteral("Desk %1").arg(i);
        p.genre = QStringLiteral("rock");
        for (int t = 1; t <= 1 + i % 3; ++t)
            p.tracks.push_back({store::TDM::PadNumber(t, 2), QStringLiteral(" 1:00"), QStringLiteral("desk%1 song %2").arg(i).arg(t)});
        ASSERT_TRUE(save()) << i;
        QTest::qWait(20);
    }
    // The companion may have ended while the saves ran the event loop; waiting on a process
    // that has ended answers false.
    if (cli.state() != QProcess::NotRunning) ASSERT_TRUE(cli.waitForFinished(120000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();

    std::map<QString, QString> titleOf;
    for (const Row& r : rows(dir.path(), QStringLiteral("ALBUMS.DBF"), QStringLiteral("ALBUM")))
        EXPECT_TRUE(titleOf.emplace(r.id, r.text).second) << r.id.toStdString() << " was given to two albums";
    ASSERT_EQ(titleOf.size(), size_t(2 * kEach));
    std::map<QString, QStringList> tracksOf;
    for (const Row& r : rows(dir.path(), QStringLiteral("TRACKS.DBF"), QStringLiteral("TRACK"))) tracksOf[r.id] << r.text;
    std::map<QString, int> artistRows;
    for (const Row& r : rows(dir.path(), QStringLiteral("ARTISTS.DBF"), QStringLiteral("ARTIST"))) ++artistRows[r.id];
    for (const auto& [id, title] : titleOf) {
        const QStringList words = title.split(QLatin1Char(' '));
        ASSERT_EQ(words.size(), 2) << title.toStdString();
        const int n = words[1].toInt();
        const bool desk = words[0] == QLatin1String("Desk");
        QStringList want;
        for (int t = 1; t <= 1 + n % (desk ? 3 : 4); ++t) want << QStringLiteral("%1%2 song %3").arg(words[0].toLower()).arg(n).arg(t);
        EXPECT_EQ(tracksOf[id], want) << id.toStdString() << " " << title.toStdString();
        EXPECT_EQ(artistRows[id], 1) << id.toStdString();
    }
    EXPECT_TRUE(store::CheckFolder(dir.path()).isEmpty()) << store::CheckFolder(dir.path()).join(QLatin1Char('\n')).toStdString();
}

}  // namespace
