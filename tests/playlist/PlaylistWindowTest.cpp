// The playlist builder's window driven through its controls (offscreen), over a real collection.
#include "FakeDesktop.h"
#include "Modal.h"
#include "PlayList.h"
#include "PlaylistFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace albumora;
using albumora::playlist::PlaylistBuilder;
using albumora::playlist::TDualListDlg;
using albumora::test::AlbumSpec;
using albumora::test::child;

namespace {

QStringList items(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

void select(QListWidget* list, std::initializer_list<int> rows) {
    list->clearSelection();
    for (int r : rows) list->item(r)->setSelected(true);
}

class BuilderWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::openCollection(dm));
        ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, album));
        ASSERT_STORE_OK(builder.Load(dm, album.id));
    }
    test::TempFolder dir;
    test::FakeDesktop desk;
    store::TDM dm{dir.path()};
    AlbumSpec album{QStringLiteral("0a000001"), QStringLiteral("Artist"), QStringLiteral("Blue Train"), {}, {}, {},
                    {{QStringLiteral("One"), QStringLiteral("200")},
                     {QStringLiteral("Two"), QStringLiteral("100")},
                     {QStringLiteral("Three"), QStringLiteral("60")},
                     {QStringLiteral("Untimed"), QStringLiteral("0")},
                     {QStringLiteral("Last"), QStringLiteral("45")}},
                    {QStringLiteral("  5")}};
    PlaylistBuilder builder;
    QStringList helpPages;
};

TEST_F(BuilderWindow, ControlsMovesAndTotals) {
    TDualListDlg w(dm, builder, [this](const QString& p) { helpPages << p; });
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral(" Select tracks to mark for playlist or copy [Blue Train]"));
    auto* src = child<QListWidget>(&w, QStringLiteral("SrcList"));
    auto* dst = child<QListWidget>(&w, QStringLiteral("DstList"));
    auto* running = child<QLineEdit>(&w, QStringLiteral("RunningLabel"));
    auto* tracks = child<QLabel>(&w, QStringLiteral("TrksLabel"));
    ASSERT_TRUE(src && dst && running && tracks);
    EXPECT_EQ(child<QLabel>(&w, QStringLiteral("Label1"))->text(), QStringLiteral("Playlist running time:"));
    EXPECT_EQ(child<QLabel>(&w, QStringLiteral("Label2"))->text(), QStringLiteral("Tracks"));
    EXPECT_TRUE(running->isVisible());  // the last track has a time
    EXPECT_TRUE(running->isReadOnly());
    EXPECT_EQ(src->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(items(src), (QStringList{"  1-One (3:20)", "  2-Two (1:40)", "  3-Three (1:00)", "  4-Untimed"}));
    EXPECT_EQ(items(dst), QStringList{"  5-Last ( 0:45)"});
    EXPECT_EQ(running->text(), QStringLiteral("  0:45"));
    EXPECT_EQ(tracks->text(), QStringLiteral("1"));

    auto* include = child<QPushButton>(&w, QStringLiteral("IncludeBtn"));
    auto* includeAll = child<QPushButton>(&w, QStringLiteral("IncAllBtn"));
    auto* exclude = child<QPushButton>(&w, QStringLiteral("ExcludeBtn"));
    auto* excludeAll = child<QPushButton>(&w, QStringLiteral("ExAllBtn"));
    // Unmark 5, mark 1 to 3: 200 + 2 + 100 + 2 + 60.
    excludeAll->click();
    EXPECT_EQ(running->text(), QStringLiteral("  0:00"));
    EXPECT_EQ(tracks->text(), QStringLiteral("0"));
    EXPECT_FALSE(exclude->isEnabled());
    EXPECT_FALSE(excludeAll->isEnabled());
    select(src, {2, 0, 1});
    include->click();
    EXPECT_EQ(running->text(), QStringLiteral("  6:04"));
    EXPECT_EQ(tracks->text(), QStringLiteral("3"));
    EXPECT_EQ(items(dst), (QStringList{"  1-One (3:20)", "  2-Two (1:40)", "  3-Three (1:00)"}));
    // The left list keeps the focus and its entry at the first moved row's position is selected.
    EXPECT_EQ(items(src), (QStringList{"  4-Untimed", "  5-Last ( 0:45)"}));
    EXPECT_EQ(src->currentRow(), 0);
    EXPECT_TRUE(src->item(0)->isSelected());
    // The track without a time marked: the total cannot be told.
    select(src, {0});
    include->click();
    EXPECT_EQ(running->text(), QStringLiteral("  0:00"));
    includeAll->click();
    EXPECT_FALSE(include->isEnabled());
    EXPECT_FALSE(includeAll->isEnabled());
    EXPECT_EQ(tracks->text(), QStringLiteral("5"));
    select(dst, {3});
    exclude->click();
    EXPECT_EQ(items(src), QStringList{"  4-Untimed"});
    EXPECT_EQ(running->text(), QStringLiteral("  6:51"));  // 200+100+60+45 + 3 gaps of 2

    child<QPushButton>(&w, QStringLiteral("HelpBtn"))->click();
    EXPECT_EQ(helpPages, QStringList{"CDhelp2.html#playlist"});
    child<QPushButton>(&w, QStringLiteral("OKBtn"))->click();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(test::storedMarks(dir.path(), album.id), (QStringList{"  1", "  2", "  3", "  5"}));
    EXPECT_TRUE(desk.prompts.shown.empty());
}

TEST_F(BuilderWindow, CancelChangesNothing) {
    TDualListDlg w(dm, builder, {});
    w.show();
    child<QPushButton>(&w, QStringLiteral("IncAllBtn"))->click();
    child<QPushButton>(&w, QStringLiteral("CancelBtn"))->click();
    EXPECT_EQ(w.result(), QDialog::Rejected);
    EXPECT_EQ(test::storedMarks(dir.path(), album.id), album.marks);
}

TEST_F(BuilderWindow, RunningTimeHiddenWhenTheLastTrackHasNoTime) {
    AlbumSpec untimed{QStringLiteral("0a000002"), QStringLiteral("A"), QStringLiteral("Untimed"), {}, {}, {},
                      {{QStringLiteral("x"), QStringLiteral("10")}, {QStringLiteral("y"), QStringLiteral("")}}, {}};
    ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, untimed));
    PlaylistBuilder b;
    ASSERT_STORE_OK(b.Load(dm, untimed.id));
    TDualListDlg w(dm, b, {});
    w.show();
    EXPECT_FALSE(child<QLineEdit>(&w, QStringLiteral("RunningLabel"))->isVisible());
    EXPECT_FALSE(child<QLabel>(&w, QStringLiteral("Label1"))->isVisible());
    EXPECT_TRUE(child<QLabel>(&w, QStringLiteral("TrksLabel"))->isVisible());
    EXPECT_EQ(items(child<QListWidget>(&w, QStringLiteral("SrcList"))), (QStringList{"  1-x (0:10)", "  2-y"}));
}

}  // namespace
