// Albumora.m3u and the play button: the file's lines, what each media code plays, and the
// player started, with the scripted desktop.
#include "FakeDesktop.h"
#include "File.h"
#include "M3u.h"
#include "PlaylistFixture.h"

#include <QDir>
#include <QFile>

#include <cerrno>

using namespace albumora;
using albumora::playlist::PlayFlow;
using albumora::playlist::PlayTarget;
using albumora::test::AlbumSpec;

namespace {

QStringList fileLines(const QString& path) {
    const QByteArray bytes = test::fileBytes(path);
    EXPECT_TRUE(bytes.endsWith("\r\n")) << path.toStdString();
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(PlayDecision, ByMediaCode) {
    test::TempFolder dir;
    const QString music = dir.file(QStringLiteral("Valley"));
    ASSERT_TRUE(QDir().mkpath(music));
    for (const char* f : {"02 Silver.mp3", "01 Morning.MP3", "cover.jpg"}) touch(QDir(music).filePath(QString::fromLatin1(f)));
    const QString m3u = dir.file(QStringLiteral("party.m3u"));
    touch(m3u);
    const QString pattern = music + QStringLiteral("/*.mp3");
    const QString noMatch = music + QStringLiteral("/*.flac");
    const QString gone = dir.file(QStringLiteral("gone.m3u"));
    struct Case {
        const char* what;
        QString media, label, notes;
        PlayTarget::Kind kind;
        QString path;
    };
    const Case cases[] = {
        {"LD pattern in the label", "LD", pattern, {}, PlayTarget::Kind::Files, pattern},
        {"LD folder in the label", "LD", music, {}, PlayTarget::Kind::Files, music},
        {"LD label matching nothing, notes naming a file", "LD", noMatch, m3u + QStringLiteral("\r\nmore notes"), PlayTarget::Kind::Files, m3u},
        {"LD with nothing to play is a CD", "LD", noMatch, QStringLiteral("just notes"), PlayTarget::Kind::Cd, {}},
        {"a CD-R copy plays the CD", "CR", pattern, {}, PlayTarget::Kind::Cd, {}},
        {"no media", "", {}, {}, PlayTarget::Kind::Cd, {}},
        {"PL with its file", "PL", {}, QStringLiteral("PLAYLIST=") + gone + QStringLiteral("\r\nPLAYLIST=") + m3u, PlayTarget::Kind::PlaylistFile, m3u},
        {"PL whose last line names a missing file", "PL", {}, QStringLiteral("PLAYLIST=") + m3u + QStringLiteral("\r\nPLAYLIST=") + gone, PlayTarget::Kind::MissingPlaylist, gone},
        {"PL without the tag", "PL", m3u, QStringLiteral("notes"), PlayTarget::Kind::MissingPlaylist, {}},
    };
    for (const Case& c : cases) {
        const PlayTarget t = playlist::DecidePlay(c.media, c.label, c.notes);
        EXPECT_EQ(int(t.kind), int(c.kind)) << c.what;
        EXPECT_EQ(t.path, c.path) << c.what;
    }
    // One line per matching file, letter case of the pattern ignored, in name order.
    EXPECT_EQ(playlist::FilePlaylistLines(pattern),
              (QStringList{"#EXTM3U", music + "/01 Morning.MP3", music + "/02 Silver.mp3"}));
    EXPECT_EQ(playlist::FilePlaylistLines(m3u), (QStringList{"#EXTM3U", m3u}));
    EXPECT_EQ(playlist::FilePlaylistLines(noMatch), QStringList{"#EXTM3U"});
}

class Play : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::openCollection(dm));
        ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, cd));
        settings.cdPath = QStringLiteral("/dev/sr0");
    }
    // Moves the albums cursor to the album.
    void makeCurrent(const QString& id) {
        ASSERT_STORE_OK(dm.tblAlbums.setOrder(QStringLiteral("ID")));
        auto found = dm.tblAlbums.findKey({id});
        ASSERT_TRUE(found.isOk() && *found) << id.toStdString();
    }
    PlayFlow flow(bool discFound, const QString& discId) {
        PlayFlow::Hooks hooks;
        hooks.findCdInCollection = [this, discFound, discId](bool messages) {
            events << QStringLiteral("find %1").arg(messages);
            if (discFound) makeCurrent(discId);
            return discFound;
        };
        hooks.currentDiscId = [discId] { return discId; };
        hooks.showAlbumArt = [this](bool messages) {
            events << QStringLiteral("art %1").arg(messages);
            return true;
        };
        return PlayFlow(dm, settings, hooks);
    }
    QString m3u() const { return dir.file(QStringLiteral("Albumora.m3u")); }

    test::TempFolder dir;
    test::FakeDesktop desk;
    store::TDM dm{dir.path()};
    settings::RunSettings settings;
    QStringList events;
    AlbumSpec cd{QStringLiteral("7a0b5c06"), QStringLiteral("The Band"), QStringLiteral("Live"), {}, {}, {},
                 {{QStringLiteral("One"), QStringLiteral("200")}, {QStringLiteral("Two"), QStringLiteral("100")},
                  {QStringLiteral("Three"), QStringLiteral("60")}, {QStringLiteral("Four"), QStringLiteral("0")},
                  {QStringLiteral("Five"), QStringLiteral("")}, {QStringLiteral("Six"), QStringLiteral("61")}},
                 {}};
};

TEST_F(Play, CdPlaylistOfTheMarksOrOfEveryTrack) {
    makeCurrent(cd.id);
    // No marks: every track of the disc.
    ASSERT_STORE_OK(flow(true, cd.id).PlayCurrentAlbum());
    EXPECT_EQ(fileLines(m3u()), (QStringList{"#EXTM3U",
                                             "#EXTINF:200,The Band - One", "cdda:///dev/sr0@1",
                                             "#EXTINF:100,The Band - Two", "cdda:///dev/sr0@2",
                                             "#EXTINF:60,The Band - Three", "cdda:///dev/sr0@3",
                                             "#EXTINF:0,The Band - Four", "cdda:///dev/sr0@4",
                                             "#EXTINF:-1,The Band - Five", "cdda:///dev/sr0@5",
                                             "#EXTINF:61,The Band - Six", "cdda:///dev/sr0@6"}));
    // No player set: the desktop's handler opens the file.
    EXPECT_EQ(desk.launcher.opened, QStringList{m3u()});
    EXPECT_TRUE(desk.launcher.started.empty());
    EXPECT_EQ(events, QStringList{"find 1"});

    // Marks: those tracks only, in track order.
    ASSERT_STORE_OK(dm.tblPlayList.append());
    ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("ID"), cd.id));
    ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("NR"), QStringLiteral("  6")));
    ASSERT_STORE_OK(dm.tblPlayList.post());
    ASSERT_STORE_OK(dm.tblPlayList.append());
    ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("ID"), cd.id));
    ASSERT_STORE_OK(dm.tblPlayList.setText(QStringLiteral("NR"), QStringLiteral("  2")));
    ASSERT_STORE_OK(dm.tblPlayList.post());
    ASSERT_STORE_OK(dm.tblPlayList.flush());
    ASSERT_STORE_OK(flow(true, cd.id).PlayCurrentAlbum());
    EXPECT_EQ(fileLines(m3u()), (QStringList{"#EXTM3U", "#EXTINF:100,The Band - Two", "cdda:///dev/sr0@2",
                                             "#EXTINF:61,The Band - Six", "cdda:///dev/sr0@6"}));

    // A double click on track 5 plays 5 to the last, marks or not.
    ASSERT_STORE_OK(flow(true, cd.id).PlayFromTrack(5));
    EXPECT_EQ(fileLines(m3u()), (QStringList{"#EXTM3U", "#EXTINF:-1,The Band - Five", "cdda:///dev/sr0@5",
                                             "#EXTINF:61,The Band - Six", "cdda:///dev/sr0@6"}));
}

TEST_F(Play, NoDiscOrAnotherDiscWritesNothing) {
    makeCurrent(cd.id);
    ASSERT_STORE_OK(flow(false, {}).PlayCurrentAlbum());
    EXPECT_FALSE(QFile::exists(m3u()));
    EXPECT_TRUE(desk.launcher.opened.isEmpty());
    // The disc in the drive is another album: its tracks are not played from the picked number.
    AlbumSpec other{QStringLiteral("0c0d0e0f"), QStringLiteral("X"), QStringLiteral("Other disc"), {}, {}, {},
                    {{QStringLiteral("A"), QStringLiteral("10")}}, {}};
    ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, other));
    makeCurrent(cd.id);
    ASSERT_STORE_OK(flow(true, other.id).PlayFromTrack(5));
    EXPECT_FALSE(QFile::exists(m3u()));
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")),
              QStringList{"The CD in drive /dev/sr0 is not the album of the track you chose"});
}

TEST_F(Play, LocalFilesPlaylistFilesAndThePlayer) {
    const QString music = dir.file(QStringLiteral("music"));
    ASSERT_TRUE(QDir().mkpath(music));
    for (const char* f : {"b.mp3", "a.mp3", "c.ogg"}) touch(QDir(music).filePath(QString::fromLatin1(f)));
    const QString party = dir.file(QStringLiteral("party.m3u"));
    touch(party);
    AlbumSpec ld{QStringLiteral("z0000001"), QStringLiteral("Me"), QStringLiteral("Files"), QStringLiteral("LD"),
                 music + QStringLiteral("/*.mp3"), {}, {{QStringLiteral("a"), QStringLiteral("1")}}, {}};
    AlbumSpec pl{QStringLiteral("z0000002"), QStringLiteral("Me"), QStringLiteral("Party"), QStringLiteral("PL"), {},
                 QStringLiteral("PLAYLIST=") + party, {{QStringLiteral("a"), QStringLiteral("1")}}, {}};
    AlbumSpec broken{QStringLiteral("z0000003"), QStringLiteral("Me"), QStringLiteral("Broken"), QStringLiteral("PL"), {},
                     QStringLiteral("no tag here"), {{QStringLiteral("a"), QStringLiteral("1")}}, {}};
    for (const AlbumSpec* a : {&ld, &pl, &broken}) ASSERT_NO_FATAL_FAILURE(test::addAlbum(dm, *a));
    const QString player = dir.file(QStringLiteral("player"));
    touch(player);
    settings.player = QStringLiteral("  ") + player + QStringLiteral(" ");
    settings.art = true;

    makeCurrent(ld.id);
    ASSERT_STORE_OK(flow(false, {}).PlayCurrentAlbum());
    EXPECT_EQ(fileLines(m3u()), (QStringList{"#EXTM3U", music + "/a.mp3", music + "/b.mp3"}));
    ASSERT_EQ(desk.launcher.started.size(), 1u);
    EXPECT_EQ(desk.launcher.started[0].first, player);
    EXPECT_EQ(desk.launcher.started[0].second, QStringList{m3u()});
    // The cover first, without messages; no drive needed.
    EXPECT_EQ(events, QStringList{"art 0"});

    makeCurrent(pl.id);
    QFile::remove(m3u());
    ASSERT_STORE_OK(flow(false, {}).PlayCurrentAlbum());
    ASSERT_EQ(desk.launcher.started.size(), 2u);
    EXPECT_EQ(desk.launcher.started[1].second, QStringList{party});
    EXPECT_FALSE(QFile::exists(m3u()));

    // A player that does not exist is not used.
    settings.player = dir.file(QStringLiteral("no-such-player"));
    ASSERT_STORE_OK(flow(false, {}).PlayCurrentAlbum());
    EXPECT_EQ(desk.launcher.opened, QStringList{party});

    makeCurrent(broken.id);
    ASSERT_STORE_OK(flow(false, {}).PlayCurrentAlbum());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{playlist::kMissingPlaylistMessage});
    EXPECT_EQ(desk.launcher.opened.size(), 1);
    EXPECT_EQ(playlist::kMissingPlaylistMessage,
              QStringLiteral("Album data was created from Winamp playlist, but\rthe playlist entry is now missing or incorrect.\r"
                             "Click the \"Modify\" button,\rthen \"Edit Notes\" and add or correct line for \"PLAYLIST=\"\r"
                             "to add a Winamp style m3u playlist for this album"));
    // What the companion writes for each, without a player or a drive.
    PlayFlow quiet(dm, settings, {});
    auto written = quiet.WriteFor(broken.id, 0);
    ASSERT_FALSE(written.isOk());
    EXPECT_EQ(written.error().message(), playlist::kMissingPlaylistMessage);
    written = quiet.WriteFor(cd.id, 3);
    ASSERT_TRUE(written.isOk()) << written.error().text().toStdString();
    EXPECT_EQ(fileLines(*written).size(), 1 + 2 * 4);
    EXPECT_EQ(desk.launcher.opened.size(), 1);
}

TEST_F(Play, AFailedWriteKeepsThePreviousFileAndHandsNothingOver) {
    makeCurrent(cd.id);
    ASSERT_STORE_OK(flow(true, cd.id).PlayCurrentAlbum());
    const QByteArray before = test::fileBytes(m3u());
    for (store::FileOp op : {store::FileOp::Write, store::FileOp::Rename}) {
        static store::FileOp failing;
        failing = op;
        // The disk is full the moment the playlist is written or moved into place.
        store::setFileFaultHook([](store::FileOp o, const QString&) { return o == failing ? ENOSPC : 0; });
        const store::Status st = flow(true, cd.id).PlayFromTrack(2);
        store::setFileFaultHook(nullptr);
        EXPECT_FALSE(st.isOk());
        EXPECT_EQ(test::fileBytes(m3u()), before);
        EXPECT_EQ(desk.launcher.opened.size(), 1);  // nothing handed over after the failure
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.m3u*")}, QDir::Files | QDir::Hidden), QStringList{"Albumora.m3u"});
    }
}

}  // namespace
