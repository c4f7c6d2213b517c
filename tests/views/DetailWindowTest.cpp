// The detail view, the track info window and the lyrics flow driven through their controls by
// objectName, with the scripted prompts, clipboard and launcher: what the page shows and in which
// colours, each button of the detail view, and lyrics pasted from the clipboard into the notes
// and found again by the track info.
#include "TestAlbums.h"
#include "DetailF.h"
#include "FakeDesktop.h"
#include "Modal.h"
#include "NotesTags.h"
#include "lyricEdF.h"
#include "lyricsF.h"
#include "trkInfoF.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextEdit>

using namespace albumora;
using albumora::test::AlbumRow;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

const AlbumRow kOwls{QStringLiteral("0a000001"), QStringLiteral("The Quiet Owls"), QStringLiteral("Night Songs"),
                     QStringLiteral("folk"), QStringLiteral("2001"), QStringLiteral("CR"), QString(), QString(),
                     QStringLiteral("Bought in Paris\r\nEXTD=Live"),
                     {{QStringLiteral("Morning Rain"), 187}, {QStringLiteral("Low Tide"), 125}}, {}};

QStringList blocksOf(QTextEdit* memo) {
    QStringList out;
    for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

QColor colourAt(QTextEdit* memo, const QString& line) {
    for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
        if (b.text() == line) return b.begin().fragment().charFormat().foreground().color();
    return {};
}

class DetailWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STORE_OK(test::openCollection(dm));
        ASSERT_STORE_OK(test::addAlbum(dm, kOwls));
    }
    std::unique_ptr<views::TDetail> detail(views::DetailHooks hooks = {}) {
        if (!hooks.lyricTracks) hooks.lyricTracks = &lyricTracks;
        return std::make_unique<views::TDetail>(dm, std::move(hooks), nullptr);
    }
    QString storedNotes() {
        store::Cursor albums;
        albums.setTablePath(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
        EXPECT_TRUE(albums.setOrder(QStringLiteral("ID")).isOk());
        EXPECT_TRUE(albums.open().isOk());
        EXPECT_TRUE(albums.findKey({kOwls.id}).value());
        return albums.readText(QStringLiteral("Notes")).value();
    }

    test::FakeDesktop desk;
    test::TempFolder dir;
    store::TDM dm{dir.path()};
    QStringList lyricTracks;
};

TEST_F(DetailWindowTest, PageControlsAndColours) {
    auto w = detail();
    ASSERT_TRUE(w->composed());
    EXPECT_EQ(w->objectName(), QStringLiteral("TDetail"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Albumora - Detail View [Night Songs]"));
    const struct {
        const char* name;
        const char* caption;
        const char* hint;
    } buttons[] = {{"InfoButton", "Available CDs by this artist", ""},
                   {"PosterButton", "Find posters or photos for this artist", ""},
                   {"freedb", "Contribute album info to Freedb", "Submit new or updated info to the online database"},
                   {"CDRbutton", "Create Playlist for CD-R Labeler", ""},
                   {"BitBtn3", "Find lyrics for the songs", "See Lyrics for the songs"},
                   {"BitBtn2", "Find", "Search for text"},
                   {"BitBtn4", "Font", "Change font color, size etc."},
                   {"BitBtn1", "Close", ""}};
    for (const auto& b : buttons) {
        auto* button = child<QPushButton>(w.get(), QString::fromLatin1(b.name));
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), QString::fromLatin1(b.caption));
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(b.hint));
    }
    EXPECT_EQ(child<QLabel>(w.get(), QStringLiteral("Label1"))->text(), views::kCopyHint);
    QTextEdit* memo = child<QTextEdit>(w.get(), QStringLiteral("Memo1"));
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QTextEdit::NoWrap);
    const QStringList lines = blocksOf(memo);
    EXPECT_EQ(lines, views::TextsOf(w->page().lines));
    EXPECT_EQ(lines.mid(0, 9), (QStringList{QStringLiteral("Album:     Night Songs"), QStringLiteral("Artist:    The Quiet Owls"),
                                            QStringLiteral("Genre:     folk"), QStringLiteral("Year:      2001"),
                                            QStringLiteral("Media:     CR"), QStringLiteral("Disc ID:   0a000001"),
                                            QStringLiteral("NOTES:"), QStringLiteral("Bought in Paris"),
                                            QStringLiteral("Live")}));
    EXPECT_EQ(colourAt(memo, QStringLiteral("Live")), QColor(0, 0, 255));
    EXPECT_EQ(colourAt(memo, QStringLiteral("Total number of albums in database: 1")), QColor(0, 0, 128));
    EXPECT_EQ(colourAt(memo, QStringLiteral("Bought in Paris")), QColor(0, 0, 0));
    EXPECT_EQ(memo->textCursor().position(), 0);
    // The song list for the lyrics window lives while the view does.
    EXPECT_EQ(lyricTracks, (QStringList{QStringLiteral("01. Morning Rain"), QStringLiteral("02. Low Tide")}));
    child<QPushButton>(w.get(), QStringLiteral("BitBtn1"))->click();
    EXPECT_TRUE(lyricTracks.isEmpty());
}

TEST_F(DetailWindowTest, WebSearchesFindAndFont) {
    auto w = detail();
    w->show();
    child<QPushButton>(w.get(), QStringLiteral("InfoButton"))->click();
    child<QPushButton>(w.get(), QStringLiteral("PosterButton"))->click();
    EXPECT_EQ(desk.launcher.opened,
              (QStringList{QStringLiteral("https://www.amazon.com/exec/obidos/external-search?keyword=The+Quiet+Owls&mode=music"),
                           views::kPosterSearchPage + QStringLiteral("?search=The+Quiet+Owls")}));

    // Find: case-insensitive, each press from the end of the last hit; no hit changes nothing.
    child<QPushButton>(w.get(), QStringLiteral("BitBtn2"))->click();
    auto* find = child<QDialog>(w.get(), QStringLiteral("FindDialog1"));
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(find->isVisible());
    QTextEdit* memo = w->memo();
    child<QLineEdit>(find, QStringLiteral("FindText"))->setText(QStringLiteral("TOTAL"));
    child<QPushButton>(find, QStringLiteral("FindNext"))->click();
    const QString text = memo->toPlainText();
    const int first = int(text.indexOf(QStringLiteral("Total")));
    EXPECT_EQ(memo->textCursor().selectionStart(), first);
    EXPECT_EQ(memo->textCursor().selectedText(), QStringLiteral("Total"));
    child<QPushButton>(find, QStringLiteral("FindNext"))->click();
    const int second = int(text.indexOf(QStringLiteral("Total"), first + 1));
    EXPECT_EQ(memo->textCursor().selectionStart(), second);
    child<QLineEdit>(find, QStringLiteral("FindText"))->setText(QStringLiteral("no such words"));
    child<QPushButton>(find, QStringLiteral("FindNext"))->click();
    EXPECT_EQ(memo->textCursor().selectionStart(), second);
    child<QPushButton>(find, QStringLiteral("FindCancel"))->click();
    EXPECT_FALSE(find->isVisible());

    // Font: the picker starts with the page's font; cancel keeps it, OK applies the choice.
    const QFont before = memo->font();
    desk.prompts.answer(std::optional<QString>());
    child<QPushButton>(w.get(), QStringLiteral("BitBtn4"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("font")).last(), before.toString());
    EXPECT_EQ(memo->font(), before);
    QFont chosen(QStringLiteral("Serif"), 17);
    desk.prompts.answer(std::optional<QString>(chosen.toString()));
    child<QPushButton>(w.get(), QStringLiteral("BitBtn4"))->click();
    EXPECT_EQ(memo->font().pointSize(), 17);
}

TEST_F(DetailWindowTest, LabelerPlaylistOnTheClipboardWithOrWithoutTheProgram) {
    const QString expected = QStringLiteral(
        "Surething Playlist:MVDAudioPlayList;MicroVision Development Inc.\r\n[Type]\r\nAudio CD\r\n\r\n[Title]\r\n"
        "Night Songs\r\n\r\n[Artist]\r\nThe Quiet Owls\r\n\r\n[Tracks]\r\n2\r\n\r\n[Playtime]\r\n5:14\r\n\r\n"
        "[Track:Type,Artist,Title,Playtime]\r\n\"Audio\",\"The Quiet Owls\",\"Morning Rain\",\"3:07\"\r\n"
        "\"Audio\",\"The Quiet Owls\",\"Low Tide\",\"2:05\"\r\n");
    for (const bool installed : {false, true}) {
        views::DetailHooks hooks;
        if (installed) {
            hooks.labeler = dir.file(QStringLiteral("labeler"));
            QFile f(hooks.labeler);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        } else {
            hooks.labeler = dir.file(QStringLiteral("no-such-labeler"));
        }
        desk.clipboard.content.clear();
        desk.prompts.shown.clear();
        desk.launcher.started.clear();
        auto w = detail(hooks);
        w->show();
        child<QPushButton>(w.get(), QStringLiteral("CDRbutton"))->click();
        EXPECT_EQ(desk.clipboard.content, expected);
        EXPECT_EQ(w->memo()->toPlainText().remove(QLatin1Char('\r')), QString(expected).remove(QLatin1Char('\r')));
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("information")),
                  QStringList{installed ? views::kLabelerReady : views::kLabelerNotSet});
        ASSERT_EQ(desk.launcher.started.size(), installed ? 1u : 0u);
        if (installed) {
            EXPECT_EQ(desk.launcher.started.front().first, hooks.labeler);
        }
        EXPECT_FALSE(w->isVisible());  // the view closes
        EXPECT_EQ(w->result(), QDialog::Accepted);
    }
}

TEST_F(DetailWindowTest, SubmissionAndLyricsButtonsCallTheirHooks) {
    int contributed = 0;
    QStringList songsSeen;
    views::DetailHooks hooks;
    hooks.contribute = [&] { ++contributed; };
    hooks.showLyrics = [&] { songsSeen = lyricTracks; };
    auto w = detail(hooks);
    w->show();
    child<QPushButton>(w.get(), QStringLiteral("freedb"))->click();
    EXPECT_EQ(contributed, 1);
    EXPECT_TRUE(w->isVisible());
    child<QPushButton>(w.get(), QStringLiteral("BitBtn3"))->click();
    EXPECT_EQ(songsSeen, (QStringList{QStringLiteral("01. Morning Rain"), QStringLiteral("02. Low Tide")}));
    EXPECT_FALSE(w->isVisible());  // closing the lyrics window closes the view
    EXPECT_TRUE(lyricTracks.isEmpty());
}

TEST_F(DetailWindowTest, NoCurrentAlbumIsAnErrorAndNoPage) {
    dm.CloseAll();
    auto w = detail();
    EXPECT_FALSE(w->composed());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{QStringLiteral("There is no current album")});
}

// Lyrics from the detail view to the notes, and the track info showing them.
class LyricsFlowTest : public DetailWindowTest {
protected:
    void SetUp() override {
        DetailWindowTest::SetUp();
        const QString path = dir.file(QStringLiteral("TVIEWX.DBF"));
        ASSERT_STORE_OK(store::Table::create(path, *store::parseFieldList(store::TDM::kTViewFields)));
        row.setTablePath(path);
        ASSERT_STORE_OK(row.open());
        ASSERT_STORE_OK(row.append());
        ASSERT_STORE_OK(row.setText(QStringLiteral("Track"), QStringLiteral("Morning Rain")));
        ASSERT_STORE_OK(row.setText(QStringLiteral("Artist"), kOwls.artist));
        ASSERT_STORE_OK(row.setText(QStringLiteral("Album"), kOwls.album));
        ASSERT_STORE_OK(row.setText(QStringLiteral("ID"), kOwls.id));
        ASSERT_STORE_OK(row.setText(QStringLiteral("NR"), QStringLiteral("  1")));
        ASSERT_STORE_OK(row.setText(QStringLiteral("sec"), QStringLiteral("187")));
        ASSERT_STORE_OK(row.post());
    }
    QStringList trackInfo() {
        views::TtrkInfo info(dm, row);
        EXPECT_EQ(info.windowTitle(), views::kTrackInfoCaption);
        return blocksOf(info.memo());
    }
    // Through the detail view's lyrics button to the lyrics window: picks a site and a song,
    // presses Add to Notes and lets editorStep handle the editor.
    void addLyrics(int site, int song, const std::function<void(QWidget*)>& editorStep) {
        views::DetailHooks hooks;
        hooks.showLyrics = [&] {
            editing::Tlyrics lyrics(dm, lyricTracks);
            child<QRadioButton>(&lyrics, QStringLiteral("RadioGroup1Item%1").arg(site))->setChecked(true);
            child<QListWidget>(&lyrics, QStringLiteral("ListBox1"))->setCurrentRow(song);
            OnNextModal editor(editorStep);
            child<QPushButton>(&lyrics, QStringLiteral("Button2"))->click();
            editorShown = editor.fired();
        };
        auto w = detail(hooks);
        child<QPushButton>(w.get(), QStringLiteral("BitBtn3"))->click();
    }
    store::Cursor row;
    bool editorShown = false;
};

TEST_F(LyricsFlowTest, PastedLyricsAreStoredAndShownByTrackInfo) {
    EXPECT_EQ(trackInfo().filter(QStringLiteral("Lyrics:")).size(), 0);
    desk.clipboard.content = QStringLiteral("rain on the roof\nall day long");
    QStringList editorText;
    addLyrics(1, 0, [&](QWidget* ed) {
        EXPECT_EQ(ed->objectName(), QStringLiteral("TLyricEd"));
        EXPECT_EQ(ed->windowTitle(), QStringLiteral("Albumora - Lyrics [Morning Rain]"));
        auto* memo = child<QPlainTextEdit>(ed, QStringLiteral("Memo1"));
        editorText = memo->toPlainText().split(QLatin1Char('\n'));
        memo->appendPlainText(QString());  // the user's edits are stored as they are
        child<QPushButton>(ed, QStringLiteral("OKbtn"))->click();
    });
    ASSERT_TRUE(editorShown);
    EXPECT_EQ(editorText, (QStringList{QStringLiteral("== begin lyric: MORNING RAIN"), QStringLiteral("rain on the roof"),
                                       QStringLiteral("all day long"), QStringLiteral("== end lyric: MORNING RAIN")}));
    EXPECT_EQ(storedNotes(), kOwls.notes + QStringLiteral("\r== begin lyric: MORNING RAIN\r\nrain on the roof\r\nall day "
                                                          "long\r\n== end lyric: MORNING RAIN\r\n"));
    EXPECT_EQ(trackInfo(), (QStringList{QStringLiteral("Song:   1. Morning Rain (3:07)"),
                                        QStringLiteral("Artist: The Quiet Owls"), QStringLiteral("Album: Night Songs"),
                                        QStringLiteral("Marked for playlist: False"), QStringLiteral("Lyrics:"),
                                        QStringLiteral("rain on the roof"), QStringLiteral("all day long")}));

    // The first site keys the block by artist and title; the track info finds that one too.
    desk.clipboard.content = QStringLiteral("second verse");
    addLyrics(0, 0, [&](QWidget* ed) {
        EXPECT_EQ(child<QPlainTextEdit>(ed, QStringLiteral("Memo1"))->toPlainText().section(QLatin1Char('\n'), 0, 0),
                  QStringLiteral("== begin lyric: THE QUIET OWLS+MORNING RAIN"));
        child<QPushButton>(ed, QStringLiteral("OKbtn"))->click();
    });
    EXPECT_EQ(trackInfo().mid(4), (QStringList{QStringLiteral("Lyrics:"), QStringLiteral("rain on the roof"),
                                               QStringLiteral("all day long"), QStringLiteral("second verse")}));
}

TEST_F(LyricsFlowTest, CancelEmptyClipboardAndUnreadableNotesStoreNothing) {
    const QString before = storedNotes();
    desk.clipboard.content = QStringLiteral("some lyrics");
    addLyrics(1, 1, [&](QWidget* ed) { child<QPushButton>(ed, QStringLiteral("CancelBtn"))->click(); });
    EXPECT_TRUE(editorShown);
    EXPECT_EQ(storedNotes(), before);

    desk.clipboard.content.clear();
    addLyrics(1, 1, [&](QWidget* ed) { ADD_FAILURE() << "editor shown: " << ed->objectName().toStdString(); });
    EXPECT_FALSE(editorShown);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{editing::kNothingOnClipboard});
    EXPECT_EQ(storedNotes(), before);

    // Notes the engine cannot read are not replaced by the block alone.
    dm.CloseAll();
    const QString fpt = QDir(dir.path()).filePath(QStringLiteral("ALBUMS.FPT"));
    const QByteArray damaged = test::fileBytes(fpt).left(512);
    ASSERT_TRUE(test::writeFileBytes(fpt, damaged));
    ASSERT_STORE_OK(dm.OpenCollectionTables());
    const QByteArray dbf = test::fileBytes(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
    desk.clipboard.content = QStringLiteral("more lyrics");
    addLyrics(1, 0, [&](QWidget* ed) {
        child<QPushButton>(ed, QStringLiteral("OKbtn"))->click();
        EXPECT_TRUE(ed->isVisible());  // the text stays for another try
        child<QPushButton>(ed, QStringLiteral("CancelBtn"))->click();
    });
    ASSERT_GE(desk.prompts.texts(QStringLiteral("error")).size(), 2);
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).last().startsWith(
        QStringLiteral("The notes of this album cannot be read, so the lyrics were not added:")));
    EXPECT_EQ(test::fileBytes(fpt), damaged);
    EXPECT_EQ(test::fileBytes(dm.tablePath(QStringLiteral("ALBUMS.DBF"))), dbf);
}

TEST_F(LyricsFlowTest, TrackInfoControlsAndSearchCursor) {
    EXPECT_FALSE(dm.tblFilter.isOpen());
    {
        views::TtrkInfo info(dm, row);
        EXPECT_EQ(info.objectName(), QStringLiteral("TtrkInfo"));
        EXPECT_TRUE(dm.tblFilter.isOpen());
        EXPECT_EQ(child<QLabel>(&info, QStringLiteral("Label1"))->text(), views::kCopyHint);
        child<QPushButton>(&info, QStringLiteral("InfoButton"))->click();
        child<QPushButton>(&info, QStringLiteral("PosterButton"))->click();
        EXPECT_EQ(desk.launcher.opened, (QStringList{views::ArtistCdsAddress(kOwls.artist),
                                                     views::PosterSearchAddress(kOwls.artist)}));
        child<QPushButton>(&info, QStringLiteral("BitBtn1"))->click();
        EXPECT_FALSE(dm.tblFilter.isOpen());
    }
    EXPECT_FALSE(dm.tblFilter.isOpen());
}

}  // namespace
