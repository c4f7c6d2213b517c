// The main window's way into the detail view: the toolbox button, the albums grid's double
// click and the pop-up menu item open it on the current album; its lyrics button opens the
// lyrics window with the album's songs, kept by the main window only while the view is open.
#include "TestAlbums.h"
#include "FakeDesktop.h"
#include "MainWindowFixture.h"
#include "Modal.h"

#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTextEdit>
#include <QToolButton>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

class DetailViewTest : public ::testing::Test, public test::MainWindowFixture {
protected:
    void SetUp() override {
        {
            store::TDM writer(dir.path());
            ASSERT_STORE_OK(test::openCollection(writer));
            ASSERT_STORE_OK(test::addAlbum(
                writer, {QStringLiteral("0a000001"), QStringLiteral("Amber Lane"), QStringLiteral("First Light"),
                         QStringLiteral("folk"), QString(), QString(), QString(), QString(), QString(),
                         {{QStringLiteral("Dawn"), 100}}, {}}));
            ASSERT_STORE_OK(test::addAlbum(
                writer, {QStringLiteral("0a000002"), QStringLiteral("The Quiet Owls"), QStringLiteral("Night Songs"),
                         QStringLiteral("folk"), QString(), QString(), QString(), QString(), QString(),
                         {{QStringLiteral("Morning Rain"), 187}, {QStringLiteral("Low Tide"), 125}}, {}}));
            writer.CloseAll();
        }
        openMainWindow(dir.path());
        ASSERT_TRUE(opened());
        form->GoToAlbum(QStringLiteral("0a000002"));
    }
    void TearDown() override { closeMainWindow(); }

    test::TempFolder dir;
    test::FakeDesktop desk;
};

TEST_F(DetailViewTest, OpensFromButtonGridAndMenu) {
    QStringList captions;
    auto closeIt = [&](QWidget* w) {
        captions << w->windowTitle();
        EXPECT_EQ(w->objectName(), QStringLiteral("TDetail"));
        EXPECT_EQ(form->lyricTracks(), (QStringList{QStringLiteral("01. Morning Rain"), QStringLiteral("02. Low Tide")}));
        child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
    };
    {
        OnNextModal m(closeIt);
        child<QToolButton>(form.get(), QStringLiteral("ClipSpeed"))->click();
        EXPECT_TRUE(m.fired());
    }
    {
        OnNextModal m(closeIt);
        auto* grid = child<QTableView>(form.get(), QStringLiteral("AlbumsGrid"));
        emit grid->doubleClicked(grid->currentIndex());
        EXPECT_TRUE(m.fired());
    }
    {
        OnNextModal m(closeIt);
        QAction* item = nullptr;
        for (QAction* a : form->findChildren<QAction*>())
            if (a->text() == QStringLiteral("Detail View - more info and tools")) item = a;
        ASSERT_NE(item, nullptr);
        item->trigger();
        EXPECT_TRUE(m.fired());
    }
    EXPECT_EQ(captions, QStringList(3, QStringLiteral("Albumora - Detail View [Night Songs]")));
    EXPECT_TRUE(form->lyricTracks().isEmpty());
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("information")).isEmpty());
}

TEST_F(DetailViewTest, LyricsWindowGetsTheSongsAndClosesTheView) {
    QStringList songs;
    QString lyricsCaption;
    std::unique_ptr<OnNextModal> lyrics;
    OnNextModal detail([&](QWidget* w) {
        lyrics = std::make_unique<OnNextModal>(
            [&](QWidget* l) {
                lyricsCaption = l->windowTitle();
                auto* list = child<QListWidget>(l, QStringLiteral("ListBox1"));
                for (int i = 0; list && i < list->count(); ++i) songs << list->item(i)->text();
                child<QPushButton>(l, QStringLiteral("BitBtn1"))->click();
            },
            w);
        child<QPushButton>(w, QStringLiteral("BitBtn3"))->click();
    });
    child<QToolButton>(form.get(), QStringLiteral("ClipSpeed"))->click();
    ASSERT_TRUE(detail.fired());
    ASSERT_TRUE(lyrics && lyrics->fired());
    EXPECT_EQ(lyricsCaption, QStringLiteral("Albumora - Lyrics for Songs [Night Songs]"));
    EXPECT_EQ(songs, (QStringList{QStringLiteral("01. Morning Rain"), QStringLiteral("02. Low Tide")}));
    EXPECT_TRUE(form->lyricTracks().isEmpty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The contribution goes through the check of the disc in the drive: without one, it is refused
// with the drive's message and nothing is asked or sent.
TEST_F(DetailViewTest, ContributionNeedsTheAlbumsDiscInTheDrive) {
    OnNextModal detail([&](QWidget* w) {
        child<QPushButton>(w, QStringLiteral("freedb"))->click();
        EXPECT_TRUE(w->isVisible());
        child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
    });
    child<QToolButton>(form.get(), QStringLiteral("ClipSpeed"))->click();
    ASSERT_TRUE(detail.fired());
    const QStringList errors = desk.prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().startsWith(QStringLiteral("There does NOT seem to be an audio CD in drive")) ||
                errors.first() == QStringLiteral("Could not find this CD in your Collection"))
        << errors.first().toStdString();
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("confirm")).isEmpty());
}

}  // namespace
