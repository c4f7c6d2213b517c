// The duplicate-track finder as the user opens it: the edit form's pop-up item over an album
// being modified, the window found by its objectNames, its page and the clipboard.
#include "FakeDesktop.h"
#include "MainWindowFixture.h"
#include "Modal.h"
#include "TViewFixture.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

QString S(const char* s) { return QString::fromUtf8(s); }

QString importAlbum(const QString& folder, const QString& artist, const QString& title, const QString& tracks) {
    const QString list = QDir(folder).filePath(title + S(".txt"));
    EXPECT_TRUE(test::writeFileBytes(list, tracks.toUtf8()));
    const auto r = test::runCli({S("--data"), folder, S("import"), S("--source"), S("numbered"), list, S("--artist"), artist, S("--title"),
                                 title, S("--genre"), S("rock")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile::remove(list);
    return r.out.trimmed();
}

class FdupesWindowTest : public ::testing::Test, public test::MainWindowFixture {
protected:
    void TearDown() override { closeMainWindow(); }
    test::TempFolder dir;
    test::FakeDesktop desk;
};

TEST_F(FdupesWindowTest, ThePopUpItemShowsTheSongsOnOtherAlbums) {
    const QString mine = importAlbum(dir.path(), S("The Quiet Owls"), S("Rain Songs"), S("1. Morning Rain\n2. Lantern\n"));
    const QString other = importAlbum(dir.path(), S("Kestrel"), S("Fields"), S("1. Harbour Lights\n2. Morning Rain\n"));
    ASSERT_FALSE(mine.isEmpty());
    test::makeTView(dir.path(), {{S("Morning Rain"), S("The Quiet Owls"), S("Rain Songs"), mine, S("  1")},
                                 {S("Lantern"), S("The Quiet Owls"), S("Rain Songs"), mine, S("  2")},
                                 {S("Harbour Lights"), S("Kestrel"), S("Fields"), other, S("  1")},
                                 {S("Morning Rain"), S("Kestrel"), S("Fields"), other, S("  2")}});
    openMainWindow(dir.path());
    ASSERT_TRUE(opened());
    form->GoToAlbum(mine);

    QString caption, label, page, closeText;
    bool finderOpened = false;
    OnNextModal edit([&](QWidget* e) {
        OnNextModal dupes(
            [&](QWidget* d) {
                finderOpened = d->objectName() == S("Dupes");
                caption = d->windowTitle();
                if (auto* l = child<QLabel>(d, S("Label1"))) label = l->text();
                if (auto* m = child<QTextEdit>(d, S("Memo1"))) page = m->toPlainText();
                auto* close = child<QPushButton>(d, S("BitBtn1"));
                ASSERT_NE(close, nullptr);
                closeText = close->text();
                close->click();
            },
            e);
        e->findChild<QAction*>(S("FindthesesongsonotheralbumsinyourCollection1"))->trigger();
        EXPECT_TRUE(dupes.fired());
        child<QPushButton>(e, S("BitBtn2"))->click();
    });
    child<QPushButton>(form.get(), S("ModButton"))->click();
    ASSERT_TRUE(edit.fired());
    EXPECT_TRUE(finderOpened);
    EXPECT_EQ(caption, S("Duplicate tracks"));
    EXPECT_EQ(label, S("Songs already in your Collection which match any in this album"));
    EXPECT_EQ(closeText, S("Close"));
    const QStringList lines = page.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.value(0), S("The Quiet Owls : Rain Songs"));
    // The album's own Morning Rain is left out; Lantern is on no other album.
    EXPECT_EQ(lines.mid(2, 2), (QStringList{S("  1.  Morning Rain"), S(">    2.  Kestrel : Fields")}));
    EXPECT_EQ(lines.filter(S(">  ")).size(), 1);
    EXPECT_EQ(lines.last(), S("This information has also been copied to the Clipboard"));
    EXPECT_TRUE(desk.clipboard.content.startsWith(S("The Quiet Owls : Rain Songs\r\n"))) << desk.clipboard.content.toStdString();
    EXPECT_TRUE(desk.clipboard.content.contains(S(">    2.  Kestrel : Fields")));
    // No error box on the way.
    EXPECT_TRUE(desk.prompts.texts(S("error")).isEmpty());
}

}  // namespace
