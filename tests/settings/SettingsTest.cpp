// The settings file: the private-profile format read and written straight through, the
// first-run keys in their order, defaults, and the rules for short host names and lists.
#include "IniFile.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace albumora::settings;
using albumora::test::TempFolder;

namespace {

QString fileText(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(f.readAll());
}

void writeText(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

TEST(IniFile, ReadsAndWritesLikeTheWindowsProfileFunctions) {
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("x.ini"));
    writeText(path, "; a comment\r\n[Current]\r\nHost = gnudb.gnudb.org \r\nName=\"Jazz\"\r\nHint=1x\r\nArt=abc\r\n\r\n[media]\r\n"
                    "<no copy>=  \r\nCD-R=CR (CD-R)\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.readString(QStringLiteral("current"), QStringLiteral("HOST")), QStringLiteral("gnudb.gnudb.org"));
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Name")), QStringLiteral("Jazz"));
    EXPECT_EQ(ini.readInt(QStringLiteral("Current"), QStringLiteral("Hint"), 7), 1);
    EXPECT_EQ(ini.readInt(QStringLiteral("Current"), QStringLiteral("Art"), 7), 0);   // present, no digits
    EXPECT_EQ(ini.readInt(QStringLiteral("Current"), QStringLiteral("Nope"), 7), 7);  // absent: the default
    EXPECT_TRUE(ini.readBool(QStringLiteral("Current"), QStringLiteral("Nope"), true));
    auto media = ini.readSection(QStringLiteral("Media"));
    ASSERT_EQ(media.size(), 2u);
    EXPECT_EQ(media[0].first, QStringLiteral("<no copy>"));
    EXPECT_EQ(media[0].second, QStringLiteral("  "));  // a list entry keeps its text as stored

    EXPECT_TRUE(ini.write(QStringLiteral("CURRENT"), QStringLiteral("name"), QStringLiteral("Rock")));
    EXPECT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Mail"), QStringLiteral("me@example.org")));
    EXPECT_TRUE(ini.write(QStringLiteral("SMTP"), QStringLiteral("Auth"), QStringLiteral("1")));
    EXPECT_EQ(fileText(path), QStringLiteral(
        "; a comment\r\n[Current]\r\nHost = gnudb.gnudb.org \r\nname=Rock\r\nHint=1x\r\nArt=abc\r\nMail=me@example.org\r\n\r\n"
        "[media]\r\n<no copy>=  \r\nCD-R=CR (CD-R)\r\n[SMTP]\r\nAuth=1\r\n"));
    EXPECT_TRUE(ini.eraseSection(QStringLiteral("MEDIA")));
    EXPECT_EQ(ini.sectionNames(), (QStringList{"Current", "SMTP"}));
    // Another writer's change is seen at once, even one of the same size written in place.
    writeText(path, "[Current]\r\nName=Blues\r\n");
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Name")), QStringLiteral("Blues"));
    writeText(path, "[Current]\r\nName=Jazzy\r\n");
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Name")), QStringLiteral("Jazzy"));
    // Windows-1252 text survives.
    EXPECT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Name"), QStringLiteral("Musique – Café €")));
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Name")), QStringLiteral("Musique – Café €"));
}

// A settings file that is there but cannot be read must never be replaced by one holding only
// the key being written: that would wipe every other setting.
TEST(IniFile, AFileThatCannotBeReadIsNeverWrittenOver) {
    TempFolder dir;
    // Reading /proc/self/mem from its start fails with EIO, as a failing disk would.
    const QString path = dir.file(QStringLiteral("Albumora.ini"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), path));
    IniFile ini(path);
    EXPECT_EQ(ini.readString(QStringLiteral("Current"), QStringLiteral("Host"), QStringLiteral("def")), QStringLiteral("def"));
    EXPECT_FALSE(ini.readable());
    EXPECT_TRUE(ini.lastError().contains(path)) << ini.lastError().toStdString();
    EXPECT_FALSE(ini.write(QStringLiteral("Current"), QStringLiteral("Host"), QStringLiteral("x")));
    EXPECT_FALSE(ini.eraseSection(QStringLiteral("Current")));
    EXPECT_EQ(QFileInfo(path).symLinkTarget(), QStringLiteral("/proc/self/mem"));  // still the link, not a new file

    // A folder of that name: the same.
    const QString other = dir.file(QStringLiteral("other.ini"));
    ASSERT_TRUE(QDir().mkdir(other));
    IniFile folder(other);
    EXPECT_FALSE(folder.write(QStringLiteral("Current"), QStringLiteral("Host"), QStringLiteral("x")));
    EXPECT_TRUE(QFileInfo(other).isDir());

    // A failed write is reported with its reason.
    TempFolder ro;
    const QString inRo = ro.file(QStringLiteral("sub/x.ini"));
    IniFile missingFolder(inRo);
    EXPECT_FALSE(missingFolder.write(QStringLiteral("Current"), QStringLiteral("Host"), QStringLiteral("x")));
    EXPECT_FALSE(missingFolder.lastError().isEmpty());
}

TEST(SettingsFile, FirstRunWritesExactlyTheFirstRunKeysInOrder) {
    TempFolder dir;
    SettingsFile settings(dir.path());
    ASSERT_TRUE(settings.writeFirstRun(QStringLiteral("/dev/sr0"), QString()));
    const QString folder = dir.path() + QLatin1Char('/');
    QString expected = QStringLiteral("[URL]\r\nAmazon=%1\r\nAMG=%2\r\nFreedb=%3\r\nTracktype=%4\r\n")
                           .arg(SettingsFile::defaultUrl(QStringLiteral("Amazon")), SettingsFile::defaultUrl(QStringLiteral("AMG")),
                                SettingsFile::defaultUrl(QStringLiteral("Freedb")), SettingsFile::defaultUrl(QStringLiteral("Tracktype")));
    expected += QStringLiteral("[Current]\r\nHost=gnudb.gnudb.org\r\nCDPath=/dev/sr0\r\nHint=1\r\nArt=0\r\nSSL=0\r\nGenre=\r\n"
                               "ClipsDir=%1\r\nViewer=\r\nLabeler=\r\nPlayer=\r\nName=Music Collection Manager\r\nProtocol=H\r\n"
                               "WState=1\r\n")
                    .arg(folder);
    QString genre, official;
    const QStringList genres = firstRunGenres();
    for (int i = 0; i < genres.size(); ++i) {
        genre += QStringLiteral("Genre%1=%2\r\n").arg(i + 1).arg(genres[i]);
    }
    official = genre;
    expected += QStringLiteral("[Genre]\r\n") + genre + QStringLiteral("[Official]\r\n") + official;
    expected += QStringLiteral("[Site]\r\nSite1=gnudb.gnudb.org\r\n[Media]\r\n");
    for (const auto& [k, v] : firstRunMedia()) expected += k + QLatin1Char('=') + v + QStringLiteral("\r\n");
    EXPECT_EQ(fileText(settings.path()), expected);
    EXPECT_EQ(genres.size(), 11);
    EXPECT_EQ(genres.first(), QStringLiteral("blues"));
    EXPECT_EQ(genres.last(), QStringLiteral("soundtrack"));

    const RunSettings s = settings.read(nullptr);
    EXPECT_EQ(s.protocol, QStringLiteral("H"));
    EXPECT_TRUE(s.hint);
    EXPECT_EQ(s.amount, QStringLiteral("15.00"));  // not written, read as its default
    EXPECT_EQ(s.driveNr, 0);
    EXPECT_EQ(s.officialGenres, genres);
    EXPECT_EQ(settings.genreList(), genres);
    EXPECT_EQ(settings.mediaList().first(), QString());  // "<no copy>": blank once trimmed
    EXPECT_EQ(settings.mediaList().at(1), QStringLiteral("CR (CD-R)"));
}

TEST(SettingsFile, DefaultsAndTheShortHostRule) {
    TempFolder dir;
    SettingsFile settings(dir.path());
    writeText(settings.path(), "[Current]\r\nHost=ab \r\nWState=2\r\nHint=0\r\n");
    int asked = 0;
    const RunSettings s = settings.read([&] {
        ++asked;
        return QStringLiteral("/dev/sr1");
    });
    EXPECT_EQ(s.host, kPrimaryHost);
    EXPECT_EQ(settings.ini().readString(QStringLiteral("Current"), QStringLiteral("Host")), QStringLiteral("ab"));  // not corrected
    EXPECT_EQ(s.protocol, QStringLiteral("T"));  // a missing Protocol means TCP, though a first run writes "H"
    EXPECT_EQ(s.cdPath, QStringLiteral("/dev/sr1"));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(s.hint);
    EXPECT_EQ(s.wstate, 2);
    EXPECT_EQ(s.name, QStringLiteral("Music Collection Manager"));
    EXPECT_EQ(s.clipsDir, dir.path() + QLatin1Char('/'));

    ASSERT_TRUE(settings.writeGenreList({QStringLiteral("acid jazz"), QStringLiteral("blues")}));
    EXPECT_EQ(settings.genreList(), (QStringList{"acid jazz", "blues"}));
    EXPECT_TRUE(fileText(settings.path()).contains(QStringLiteral("[Genre]\r\nGenre1=acid jazz\r\nGenre2=blues\r\n")));
}

// Each key is saved in its own form, replacing its line and nothing else, and reads back as it
// was saved.
TEST(SettingsFile, EveryKeySavesItsValueInItsForm) {
    TempFolder dir;
    SettingsFile file(dir.path());
    writeText(file.path(), "[Current]\r\nName=Old\r\nCustom=kept\r\n[Other]\r\nName=not this one\r\n");
    RunSettings s = file.read(nullptr);
    s.name = QStringLiteral("Jazz shelf");
    s.hint = false;
    s.wstate = 2;
    s.driveNr = 3;
    s.cdPath = QStringLiteral("/home/u/disc.cue");
    s.mail = QStringLiteral("me@example.org");
    for (Key k : {Key::Name, Key::Hint, Key::WState, Key::DriveNr, Key::CDPath, Key::Mail}) ASSERT_TRUE(file.save(s, k));
    EXPECT_EQ(fileText(file.path()), QStringLiteral("[Current]\r\nName=Jazz shelf\r\nCustom=kept\r\nHint=0\r\nWState=2\r\nDriveNr=3\r\n"
                                                    "CDPath=/home/u/disc.cue\r\nMail=me@example.org\r\n[Other]\r\nName=not this one\r\n"));
    const RunSettings back = file.read(nullptr);
    EXPECT_EQ(back.name, s.name);
    EXPECT_FALSE(back.hint);
    EXPECT_EQ(back.wstate, 2);
    EXPECT_EQ(back.driveNr, 3);
    EXPECT_EQ(back.cdPath, s.cdPath);
    EXPECT_EQ(back.mail, s.mail);
    EXPECT_EQ(keyName(Key::SSL), QStringLiteral("SSL"));
}

}  // namespace
