// The main window's playlist actions: Playlist opens the builder for the current album, Play
// plays it by its media code, a double click in the tracks grid plays the disc in the drive (a
// disc image) from that track on.
#include "DMcd.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "MainWindowFixture.h"
#include "Modal.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <random>

using namespace albumora;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

class PlaylistMainWindow : public ::testing::Test, public test::MainWindowFixture {
protected:
    void SetUp() override {
        std::mt19937 rng(7);
        layout = test::randomLayout(rng, {6});
        image = test::writeImage(disc.path(), QStringLiteral("disc"), layout, test::ImageKind::Cue);
        discId = test::libdiscidFreedbId(layout);
        store::TDM dm(data.path());
        ASSERT_STORE_OK(dm.EnsureCollectionFiles());
        ASSERT_STORE_OK(dm.OpenCollectionTables());
        // Artist order: "A Disc" first, then "B Files", "C Broken".
        add(dm, discId, QStringLiteral("A Disc"), {}, {}, {}, 6);
        add(dm, QStringLiteral("z0000001"), QStringLiteral("B Files"), QStringLiteral("LD"), data.path() + QStringLiteral("/*.ogg"), {}, 2);
        add(dm, QStringLiteral("z0000002"), QStringLiteral("C Broken"), QStringLiteral("PL"), {}, QStringLiteral("PLAYLIST="), 2);
        ASSERT_STORE_OK(dm.FlushCollection());
        for (const char* f : {"one.ogg", "two.ogg"}) ASSERT_TRUE(test::writeFileBytes(data.file(QString::fromLatin1(f)), "x"));
        openMainWindow(data.path());
        ASSERT_TRUE(opened());
        form->settings().cdPath = image;
        form->settings().driveNr = 0;
        form->settings().player.clear();
        form->settings().art = false;
    }
    void TearDown() override { closeMainWindow(); }
    void add(store::TDM& dm, const QString& id, const QString& artist, const QString& media, const QString& label,
             const QString& notes, int tracks) {
        ASSERT_STORE_OK(dm.tblAlbums.append());
        const std::pair<const char*, QString> fields[] = {{"ID", id},       {"ARTIST", artist}, {"ALBUM", artist + QStringLiteral(" album")},
                                                          {"GENRE", QStringLiteral("rock")}, {"MEDIA", media}, {"LABEL", label},
                                                          {"Notes", notes}};
        for (const auto& [f, v] : fields) ASSERT_STORE_OK(dm.tblAlbums.setText(QString::fromLatin1(f), v));
        ASSERT_STORE_OK(dm.tblAlbums.post());
        for (int t = 1; t <= tracks; ++t) {
            ASSERT_STORE_OK(dm.tblCD.append());
            ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("ID"), id));
            ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("NR"), store::TDM::PadNumber(t, 3)));
            ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("TRACK"), QStringLiteral("Song %1").arg(t)));
            ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("Secs"), QString::number(60 + t)));
            ASSERT_STORE_OK(dm.tblCD.post());
        }
    }
    void goTo(const QString& id) {
        form->GoToAlbum(id);
        ASSERT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), id);
    }
    QStringList m3u() const {
        QStringList lines = QString::fromUtf8(test::fileBytes(data.file(QStringLiteral("Albumora.m3u")))).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
    QStringList marks(const QString& id) {
        QStringList out;
        for (int t = 1; t <= 6; ++t) {
            auto m = dm->IsTrackMarked(id, store::TDM::PadNumber(t, 3));
            if (m && *m) out << QString::number(t);
        }
        return out;
    }

    test::TempFolder data, disc;
    test::FakeDesktop desk;
    test::DiscLayout layout;
    QString image, discId;
};

TEST_F(PlaylistMainWindow, PlaylistButtonOpensTheBuilderForTheCurrentAlbum) {
    goTo(discId);
    auto* grid = child<QTableView>(form.get(), QStringLiteral("CDGrid"));
    bool gridHidden = false;
    OnNextModal builder([&](QWidget* w) {
        gridHidden = !grid->isVisible();
        EXPECT_EQ(w->windowTitle(), QStringLiteral(" Select tracks to mark for playlist or copy [A Disc album]"));
        auto* src = child<QListWidget>(w, QStringLiteral("SrcList"));
        src->item(1)->setSelected(true);
        src->item(4)->setSelected(true);
        child<QPushButton>(w, QStringLiteral("IncludeBtn"))->click();
        child<QPushButton>(w, QStringLiteral("OKBtn"))->click();
    });
    child<QPushButton>(form.get(), QStringLiteral("PlayListButton"))->click();
    ASSERT_TRUE(builder.fired());
    EXPECT_TRUE(gridHidden);
    EXPECT_TRUE(grid->isVisible());
    EXPECT_EQ(marks(discId), (QStringList{"2", "5"}));

    // Cancel keeps them.
    OnNextModal cancel([&](QWidget* w) {
        child<QPushButton>(w, QStringLiteral("ExAllBtn"))->click();
        child<QPushButton>(w, QStringLiteral("CancelBtn"))->click();
    });
    child<QPushButton>(form.get(), QStringLiteral("PlayListButton"))->click();
    ASSERT_TRUE(cancel.fired());
    EXPECT_EQ(marks(discId), (QStringList{"2", "5"}));
    EXPECT_TRUE(desk.prompts.shown.empty()) << desk.prompts.last().toStdString();

    // Play with the disc in the drive plays the marked tracks.
    child<QToolButton>(form.get(), QStringLiteral("PlaySpeed"))->click();
    EXPECT_EQ(m3u(), (QStringList{"#EXTM3U", "#EXTINF:62,A Disc - Song 2", QStringLiteral("cdda://%1@2").arg(image),
                                  "#EXTINF:65,A Disc - Song 5", QStringLiteral("cdda://%1@5").arg(image)}));
    EXPECT_EQ(desk.launcher.opened, QStringList{data.file(QStringLiteral("Albumora.m3u"))});
}

TEST_F(PlaylistMainWindow, DoubleClickOnTrackFivePlaysFiveToTheLast) {
    goTo(discId);
    auto* grid = child<QTableView>(form.get(), QStringLiteral("CDGrid"));
    QCoreApplication::processEvents();
    const QModelIndex five = grid->model()->index(4, 1);
    ASSERT_TRUE(five.isValid());
    grid->setCurrentIndex(five);
    const QRect cell = grid->visualRect(five);
    // A user's double click: the first press picks the row, the second comes as a double click.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(m3u(), (QStringList{"#EXTM3U", "#EXTINF:65,A Disc - Song 5", QStringLiteral("cdda://%1@5").arg(image),
                                  "#EXTINF:66,A Disc - Song 6", QStringLiteral("cdda://%1@6").arg(image)}));
    EXPECT_EQ(desk.launcher.opened.size(), 1);
    EXPECT_TRUE(desk.prompts.shown.empty()) << desk.prompts.last().toStdString();
}

TEST_F(PlaylistMainWindow, PlayByMediaCode) {
    // Local files: every matching file, no drive needed.
    goTo(QStringLiteral("z0000001"));
    child<QToolButton>(form.get(), QStringLiteral("PlaySpeed"))->click();
    EXPECT_EQ(m3u(), (QStringList{"#EXTM3U", data.file(QStringLiteral("one.ogg")), data.file(QStringLiteral("two.ogg"))}));
    EXPECT_EQ(desk.launcher.opened.size(), 1);
    // A playlist album whose line names no file: the error box, nothing started.
    goTo(QStringLiteral("z0000002"));
    child<QToolButton>(form.get(), QStringLiteral("PlaySpeed"))->click();
    ASSERT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1);
    EXPECT_TRUE(desk.prompts.last().startsWith(QStringLiteral("Album data was created from Winamp playlist, but\r")));
    EXPECT_EQ(desk.launcher.opened.size(), 1);
    // With the cover display on, Play shows no cover message for an album without one.
    form->settings().art = true;
    goTo(QStringLiteral("z0000001"));
    child<QToolButton>(form.get(), QStringLiteral("PlaySpeed"))->click();
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1);
    EXPECT_EQ(desk.launcher.opened.size(), 2);
}

}  // namespace
