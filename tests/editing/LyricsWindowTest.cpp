// The lyrics window and the lyric editor through their controls: captions and texts, the site
// choice, the song list and its clipboard rule, the browser query, and the editor's refusal of
// an empty clipboard.
#include "TestAlbums.h"
#include "FakeDesktop.h"
#include "Modal.h"
#include "lyricEdF.h"
#include "lyricsF.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

class LyricsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STORE_OK(test::openCollection(dm));
        ASSERT_STORE_OK(test::addAlbum(
            dm, {QStringLiteral("z0000001"), QStringLiteral("Various"), QStringLiteral("Hits"), QStringLiteral("pop"), QString(),
                 QString(), QString(), QString(), QString(),
                 {{QStringLiteral("Kestrel / Silver Fields"), 220}, {QStringLiteral("Waltz"), 100}}, {}}));
    }
    test::FakeDesktop desk;
    test::TempFolder dir;
    store::TDM dm{dir.path()};
    const QStringList songs{QStringLiteral("01. Kestrel / Silver Fields"), QStringLiteral("02. Waltz")};
};

TEST_F(LyricsWindowTest, ControlsSitesAndQueries) {
    editing::Tlyrics w(dm, songs);
    w.show();
    EXPECT_EQ(w.objectName(), QStringLiteral("Tlyrics"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Albumora - Lyrics for Songs [Hits]"));
    EXPECT_EQ(child<QLabel>(&w, QStringLiteral("Label1"))->text(), editing::kLyricsCopyright);
    EXPECT_EQ(child<QGroupBox>(&w, QStringLiteral("RadioGroup1"))->title(), QStringLiteral("  select lyrics database  "));
    auto* leo = child<QRadioButton>(&w, QStringLiteral("RadioGroup1Item0"));
    auto* mldb = child<QRadioButton>(&w, QStringLiteral("RadioGroup1Item1"));
    EXPECT_EQ(leo->text(), QStringLiteral("Leo's Lyrics (has popup ads)"));
    EXPECT_EQ(mldb->text(), QStringLiteral("MLDb"));
    EXPECT_EQ(child<QPlainTextEdit>(&w, QStringLiteral("Memo1"))->toPlainText().split(QLatin1Char('\n')), editing::kLyricsSteps);
    auto* list = child<QListWidget>(&w, QStringLiteral("ListBox1"));
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentRow(), 0);
    auto* find = child<QPushButton>(&w, QStringLiteral("Button1"));
    EXPECT_EQ(find->text(), QStringLiteral("Find Lyrics for Selected Song"));
    EXPECT_EQ(find->toolTip(), QStringLiteral("Search online song database"));
    EXPECT_EQ(child<QPushButton>(&w, QStringLiteral("Button2"))->toolTip(), QStringLiteral("Include in Notes field"));

    find->click();
    mldb->setChecked(true);
    find->click();
    EXPECT_EQ(desk.launcher.opened,
              (QStringList{editing::kLeosLyricsSite + QStringLiteral("/search.php?search=Kestrel+Silver+Fields&sartist=1&ssongtitle=1"),
                           editing::kMldbSite + QStringLiteral("/search-bf?mqt=Silver+Fields&ob=1")}));

    // Clicking a song forgets what was copied for the last one.
    desk.clipboard.content = QStringLiteral("old lyrics");
    const QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_TRUE(desk.clipboard.content.isEmpty());
    EXPECT_EQ(w.songKey(), QStringLiteral("Waltz"));
    leo->setChecked(true);
    EXPECT_EQ(w.songKey(), QStringLiteral("Various+Waltz"));
}

TEST_F(LyricsWindowTest, EditorRefusesAnEmptyClipboard) {
    editing::TLyricEd editor(dm, QStringLiteral("z0000001"), QStringLiteral("Waltz"));
    EXPECT_EQ(editor.objectName(), QStringLiteral("TLyricEd"));
    EXPECT_EQ(editor.exec(), QDialog::Rejected);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{editing::kNothingOnClipboard});
    EXPECT_EQ(dm.tblAlbums.readText(QStringLiteral("Notes")).value(), QString());
    EXPECT_EQ(child<QLabel>(&editor, QStringLiteral("Label1"))->text(), editing::kLyricEditorNote);
}

}  // namespace
