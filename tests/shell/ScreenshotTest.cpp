// Pictures of the main window, the import window and the options dialog, for looking at them
// the way a user does. Runs only when ALBUMORA_SCREENSHOT_DIR names a folder for the PNG files;
// ALBUMORA_SCREENSHOT_THEME=dark gives the application a dark palette first, as a dark desktop
// theme would (QT_SCALE_FACTOR=1.5 in the environment scales everything).
#include "DMcd.h"
#include "FakeDesktop.h"
#include "Generator.h"
#include "TrkViewF.h"
#include "FuzzyF.h"
#include "MainWindowFixture.h"
#include "MusicBrainz.h"
#include "Modal.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

using namespace albumora;
using albumora::test::OnNextModal;

namespace {

QPalette darkPalette() {
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    p.setColor(QPalette::Highlight, QColor(38, 79, 120));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

void addAlbums(const QString& folder) {
    store::TDM dm(folder);
    ASSERT_TRUE(dm.EnsureCollectionFiles().isOk());
    ASSERT_TRUE(dm.OpenCollectionTables().isOk());
    const char* const albums[][5] = {{"0a000001", "Miles Davis", "Kind of Blue", "jazz", "1959"},
                                     {"0a000002", "John Coltrane", "Blue Train", "jazz", "1957"},
                                     {"0a000003", "The Beatles", "Abbey Road", "rock", "1969"},
                                     {"0a000004", "Muddy Waters", "Folk Singer", "blues", "1964"},
                                     {"0a000005", "Björk", "Homogenic", "electronic", "1997"}};
    for (const auto& a : albums) {
        ASSERT_TRUE(dm.tblAlbums.append().isOk());
        ASSERT_TRUE(dm.tblAlbums.setText(QStringLiteral("ID"), QString::fromUtf8(a[0])).isOk());
        ASSERT_TRUE(dm.tblAlbums.setText(QStringLiteral("Artist"), QString::fromUtf8(a[1])).isOk());
        ASSERT_TRUE(dm.tblAlbums.setText(QStringLiteral("Album"), QString::fromUtf8(a[2])).isOk());
        ASSERT_TRUE(dm.tblAlbums.setText(QStringLiteral("Genre"), QString::fromUtf8(a[3])).isOk());
        ASSERT_TRUE(dm.tblAlbums.setText(QStringLiteral("YR"), QString::fromUtf8(a[4])).isOk());
        ASSERT_TRUE(dm.tblAlbums.post().isOk());
        for (int t = 1; t <= 4; ++t) {
            ASSERT_TRUE(dm.tblCD.append().isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("ID"), QString::fromUtf8(a[0])).isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("NR"), store::TDM::PadNumber(t, 3)).isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("Track"), QStringLiteral("Track number %1").arg(t)).isOk());
            ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("Secs"), QString::number(180 + 17 * t)).isOk());
            ASSERT_TRUE(dm.tblCD.post().isOk());
        }
    }
    ASSERT_TRUE(dm.FlushCollection().isOk());
}

// An album whose tracks have titles and times of different lengths, two of them marked.
void addPlaylistAlbum(const QString& folder) {
    store::TDM dm(folder);
    ASSERT_TRUE(dm.OpenCollectionTables().isOk());
    ASSERT_TRUE(dm.tblAlbums.append().isOk());
    const std::pair<const char*, const char*> fields[] = {
        {"ID", "0a000006"}, {"Artist", "Anna Lind Quartet"}, {"Album", "Evening Songs"}, {"Genre", "jazz"}, {"YR", "2004"}};
    for (const auto& [f, v] : fields)
        ASSERT_TRUE(dm.tblAlbums.setText(QString::fromLatin1(f), QString::fromUtf8(v)).isOk());
    ASSERT_TRUE(dm.tblAlbums.post().isOk());
    const std::pair<const char*, int> tracks[] = {{"Blue Hour", 312},         {"Walking Home", 245},   {"Små grodorna (trad.)", 198},
                                                  {"Rain on the Roof", 407},  {"Interlude", 0},        {"The Long Way Round", 624},
                                                  {"Lanterns", 276},          {"Quiet Harbour", 351},  {"Last Tram", 229},
                                                  {"Evening Song (reprise)", 95}};
    int n = 0;
    for (const auto& [title, secs] : tracks) {
        ASSERT_TRUE(dm.tblCD.append().isOk());
        ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("ID"), QStringLiteral("0a000006")).isOk());
        ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("NR"), store::TDM::PadNumber(++n, 3)).isOk());
        ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("Track"), QString::fromUtf8(title)).isOk());
        ASSERT_TRUE(dm.tblCD.setText(QStringLiteral("Secs"), QString::number(secs)).isOk());
        ASSERT_TRUE(dm.tblCD.post().isOk());
    }
    for (const char* nr : {"  1", "  4"}) {
        ASSERT_TRUE(dm.tblPlayList.append().isOk());
        ASSERT_TRUE(dm.tblPlayList.setText(QStringLiteral("ID"), QStringLiteral("0a000006")).isOk());
        ASSERT_TRUE(dm.tblPlayList.setText(QStringLiteral("NR"), QString::fromLatin1(nr)).isOk());
        ASSERT_TRUE(dm.tblPlayList.post().isOk());
    }
    ASSERT_TRUE(dm.FlushCollection().isOk());
}

class Screenshots : public ::testing::Test, public test::MainWindowFixture {
protected:
    void SetUp() override {
        out = qEnvironmentVariable("ALBUMORA_SCREENSHOT_DIR");
        if (out.isEmpty()) GTEST_SKIP() << "ALBUMORA_SCREENSHOT_DIR is not set";
        ASSERT_TRUE(QDir().mkpath(out));
        theme = qEnvironmentVariable("ALBUMORA_SCREENSHOT_THEME", QStringLiteral("light"));
        if (theme == QLatin1String("dark")) QApplication::setPalette(darkPalette());
        const double scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
        suffix = QStringLiteral("-%1%2").arg(theme, scale > 1.01 ? QStringLiteral("-%1x").arg(scale) : QString());
    }
    void TearDown() override {
        closeMainWindow();
        QApplication::setPalette(QPalette());
    }
    void save(QWidget* w, const QString& name) {
        QCoreApplication::processEvents();
        const QString file = QDir(out).filePath(name + suffix + QStringLiteral(".png"));
        EXPECT_TRUE(w->grab().save(file)) << file.toStdString();
    }
    test::TempFolder dir;
    test::FakeDesktop desk;
    QString out, theme, suffix;
};

TEST_F(Screenshots, MainImportAndOptionsWindows) {
    addAlbums(dir.path());
    openMainWindow(dir.path());
    ASSERT_TRUE(opened());
    form->resize(1000, 640);
    save(form.get(), QStringLiteral("main-window"));
    OnNextModal options([&](QWidget* w) {
        save(w, QStringLiteral("options"));
        test::child<QPushButton>(w, QStringLiteral("CancelButton"))->click();
    });
    test::child<QToolButton>(form.get(), QStringLiteral("ToolButton"))->click();
    EXPECT_TRUE(options.fired());
    OnNextModal import([&](QWidget* w) {
        save(w, QStringLiteral("import"));
        test::child<QPushButton>(w, QStringLiteral("Cancel"))->click();
    });
    test::child<QPushButton>(form.get(), QStringLiteral("AddOtherButton"))->click();
    EXPECT_TRUE(import.fired());

    // The report writer, its field chooser and the preview of the album report.
    std::unique_ptr<OnNextModal> chooser, preview;
    OnNextModal writer([&](QWidget* w) {
        save(w, QStringLiteral("report-writer"));
        chooser = std::make_unique<OnNextModal>(
            [&, w](QWidget* c) {
                save(c, QStringLiteral("field-chooser"));
                test::child<QPushButton>(c, QStringLiteral("OKBtn"))->click();
                // Armed once the chooser has closed: the next modal window past the writer.
                preview = std::make_unique<OnNextModal>(
                    [&](QWidget* p) {
                        save(p, QStringLiteral("report-preview"));
                        test::child<QPushButton>(p, QStringLiteral("CloseButton"))->click();
                    },
                    w);
            },
            w);
        test::child<QPushButton>(w, QStringLiteral("Button1"))->click();
        test::child<QPushButton>(w, QStringLiteral("BitBtn2"))->click();
    });
    test::child<QToolButton>(form.get(), QStringLiteral("RWspeed"))->click();
    EXPECT_TRUE(writer.fired());
    ASSERT_TRUE(preview);
}

// The match chooser over the CD database's match and the nine editions MusicBrainz knows of
// one disc, as a lookup of both sources offers them.
TEST_F(Screenshots, MatchChooserOfBothSources) {
    SKIP_WITHOUT_TESTDATA();
    QFile f(test::sharedTestData() + QStringLiteral("/musicbrainz/ws2/xml/rubyripper-discid-4vi.H1hC7BRP18_a.7D4r4NOYL8-.9-releases.xml"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto answer = disc::ParseMbDiscAnswer(f.readAll());
    ASSERT_TRUE(answer.isOk());
    QStringList lines = {QStringLiteral("CD database: rock e50b3c11 The Beatles / Abbey Road")};
    for (const disc::mb::Release& r : answer->releases) lines << disc::MbChoiceLine(r, disc::MediumForDisc(r, answer->discId, 17));
    OnNextModal shot([&](QWidget* w) {
        w->resize(640, 320);
        test::child<QListWidget>(w, QStringLiteral("ListBox1"))->setCurrentRow(7);
        save(w, QStringLiteral("match-chooser"));
        test::child<QPushButton>(w, QStringLiteral("BitBtn2"))->click();
    });
    EXPECT_EQ(disc::TFuzzyF::choose(lines, nullptr), -1);
    EXPECT_TRUE(shot.fired());
}

// The playlist builder over a generated collection, on an album of its own with titles and
// times of different lengths.
TEST_F(Screenshots, PlaylistBuilder) {
    albumora::bench::GeneratorOptions o;
    o.albums = 300;
    o.seed = 7;
    ASSERT_STORE_OK(albumora::bench::GenerateCollection(dir.path(), o));
    addPlaylistAlbum(dir.path());
    openMainWindow(dir.path());
    ASSERT_TRUE(opened());
    form->GoToAlbum(QStringLiteral("0a000006"));
    OnNextModal builder([&](QWidget* w) {
        // Two more tracks marked, the next one picked on the left.
        auto* src = test::child<QListWidget>(w, QStringLiteral("SrcList"));
        src->item(4)->setSelected(true);
        src->item(5)->setSelected(true);
        test::child<QPushButton>(w, QStringLiteral("IncludeBtn"))->click();
        save(w, QStringLiteral("playlist-builder"));
        test::child<QPushButton>(w, QStringLiteral("CancelBtn"))->click();
    });
    test::child<QPushButton>(form.get(), QStringLiteral("PlayListButton"))->click();
    EXPECT_TRUE(builder.fired());
}

// The tracks view over a generated collection of 300 albums, ordered by artist, a filter set.
TEST_F(Screenshots, TracksView) {
    albumora::bench::GeneratorOptions o;
    o.albums = 300;
    o.seed = 7;
    ASSERT_STORE_OK(albumora::bench::GenerateCollection(dir.path(), o));
    openMainWindow(dir.path());
    ASSERT_TRUE(opened());
    bool shot = false;
    OnNextModal view([&](QWidget* w) {
        // The view builds its table once shown, serving events meanwhile: the picture is taken
        // from a timer once it is ready, not from inside the build.
        auto* tv = static_cast<views::TTrkView*>(w);
        auto* poll = new QTimer(w);
        QObject::connect(poll, &QTimer::timeout, w, [&, tv, poll] {
            if (!tv->ready()) return;
            poll->stop();
            tv->DBGrid1TitleClick(1);
            test::child<QComboBox>(tv, QStringLiteral("ComboBox1"))->setEditText(QStringLiteral("YR > \"1999\""));
            tv->Button3Click();
            test::child<QTableView>(tv, QStringLiteral("DBGrid1"))->selectRow(3);
            save(tv, QStringLiteral("tracks-view"));
            shot = true;
            tv->accept();
        });
        poll->start(20);
    });
    test::child<QToolButton>(form.get(), QStringLiteral("TrackView"))->click();
    EXPECT_TRUE(view.fired());
    EXPECT_TRUE(shot);
}

// The detail view of a generated collection's album that has notes, marked tracks and enough
// tracks to fill the page.
TEST_F(Screenshots, DetailView) {
    bench::GeneratorOptions options;
    options.albums = 1000;
    options.seed = 7;
    ASSERT_TRUE(bench::GenerateCollection(dir.path(), options).isOk());
    QString id;
    {
        // The first album that shows the most: marked tracks, extended disc and track texts.
        store::TDM dm(dir.path());
        ASSERT_TRUE(dm.OpenCollectionTables().isOk());
        ASSERT_TRUE(dm.tblAlbums.first().isOk());
        int best = 0;
        while (!dm.tblAlbums.eof()) {
            const QString candidate = dm.tblAlbums.text(QStringLiteral("ID"));
            const QString notes = dm.tblAlbums.readText(QStringLiteral("Notes")).value();
            const int score = (dm.tblPlayList.findPartial(candidate).value() ? 2 : 0) +
                              (notes.contains(QStringLiteral("EXTD=")) ? 1 : 0) + (notes.contains(QStringLiteral("EXTT")) ? 1 : 0);
            if (score > best) {
                best = score;
                id = candidate;
            }
            ASSERT_TRUE(dm.tblAlbums.next().isOk());
        }
        dm.CloseAll();
    }
    ASSERT_FALSE(id.isEmpty());
    openMainWindow(dir.path());
    ASSERT_TRUE(opened());
    form->GoToAlbum(id);
    OnNextModal detail([&](QWidget* w) {
        w->resize(820, 800);
        save(w, QStringLiteral("detail-view"));
        test::child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();
    });
    test::child<QToolButton>(form.get(), QStringLiteral("ClipSpeed"))->click();
    EXPECT_TRUE(detail.fired());
}

}  // namespace
