// albumora-cli import and delete: albums added from text files as the edit form would save them,
// refused sources that leave the collection as it was, and the delete flow over every table.
#include "Cursor.h"
#include "TestSupport.h"

#include <QFile>

using albumora::store::Cursor;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;

namespace {

class CliEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ProcessResult r = cli({QStringLiteral("init")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    ProcessResult cli(const QStringList& args) const {
        return albumora::test::runCli(QStringList{QStringLiteral("--data"), dir.path()} + args);
    }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(dir.file(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return f.fileName();
    }
    ProcessResult import(const QString& source, const QString& file, const QStringList& more = {}) const {
        return cli(QStringList{QStringLiteral("import"), QStringLiteral("--source"), source, file} + more);
    }
    // Rows of a table as "F1|F2|..." texts, in the order of a tag, deleted rows left out.
    QStringList rows(const QString& table, const QString& order, const QStringList& fields,
                     const QString& filter = {}) const {
        Cursor c;
        c.setTablePath(dir.file(table));
        if (!order.isEmpty()) {
            EXPECT_TRUE(c.setOrder(order).isOk()) << order.toStdString();
        }
        EXPECT_TRUE(c.open().isOk()) << table.toStdString();
        if (!filter.isEmpty()) {
            c.setFiltered(true);
            EXPECT_TRUE(c.setFilter(filter).isOk());
        }
        QStringList out;
        albumora::store::Status st;
        for (st = c.first(); st && !c.isEmpty() && !c.eof(); st = c.next()) {
            QStringList values;
            for (const QString& f : fields) values << c.text(f).trimmed();
            out << values.join(QLatin1Char('|'));
        }
        EXPECT_TRUE(st.isOk()) << table.toStdString() << ": " << st.text().toStdString();
        return out;
    }
    int count(const QString& table) const { return int(rows(table, {}, {QStringLiteral("ID")}).size()); }
    void expectUnchanged(int albums, int tracks, int artists) const {
        EXPECT_EQ(count(QStringLiteral("ALBUMS.DBF")), albums);
        EXPECT_EQ(count(QStringLiteral("TRACKS.DBF")), tracks);
        EXPECT_EQ(count(QStringLiteral("ARTISTS.DBF")), artists);
        const ProcessResult check = cli({QStringLiteral("check")});
        EXPECT_EQ(check.exitCode, 0) << check.out.toStdString();
    }

    TempFolder dir;
};

TEST_F(CliEditTest, TrackListsBecomeNewLocalAlbums) {
    const QString list = write(QStringLiteral("list.txt"), "1. Opening\r\n2 Second Song\r\nnot a track\r\n3) Closing Time\r\n");
    // Without an artist the save is refused and nothing is stored.
    ProcessResult r = import(QStringLiteral("numbered"), list, {QStringLiteral("--title"), QStringLiteral("Numbers")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed(), QStringLiteral("albumora-cli: Album, Artist & Genre are required entries"));
    expectUnchanged(0, 0, 0);

    r = import(QStringLiteral("numbered"), list,
               {QStringLiteral("--artist"), QStringLiteral("The Band"), QStringLiteral("--title"), QStringLiteral("Numbers"),
                QStringLiteral("--genre"), QStringLiteral("jazz")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("z0000001\n"));
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), QStringLiteral("ID"),
                   {QStringLiteral("ID"), QStringLiteral("ARTIST"), QStringLiteral("ALBUM"), QStringLiteral("GENRE"),
                    QStringLiteral("SYS")}),
              QStringList{QStringLiteral("z0000001|The Band|Numbers|jazz|Y")});
    EXPECT_EQ(rows(QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks"),
                   {QStringLiteral("NR"), QStringLiteral("TRACK"), QStringLiteral("Secs")}),
              (QStringList{QStringLiteral("1|Opening|0"), QStringLiteral("2|Second Song|0"), QStringLiteral("3|Closing Time|0")}));

    // A web track list keeps its times; the next album gets the next local ID.
    const QString guide = write(QStringLiteral("guide.txt"), "1 First Light 3:05\n2 Second Wind 4:10\n");
    r = import(QStringLiteral("amg"), guide,
               {QStringLiteral("--artist"), QStringLiteral("Guide"), QStringLiteral("--title"), QStringLiteral("Light")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("z0000002\n"));
    EXPECT_EQ(rows(QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks"), {QStringLiteral("TRACK"), QStringLiteral("Secs")},
                   QStringLiteral("ID=\"z0000002\"")),
              (QStringList{QStringLiteral("First Light|185"), QStringLiteral("Second Wind|250")}));
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), QStringLiteral("ID"), {QStringLiteral("SYS")}, QStringLiteral("ID=\"z0000002\"")),
              QStringList{QStringLiteral("G")});
    expectUnchanged(2, 5, 2);
}

TEST_F(CliEditTest, MultiArtistAlbumGetsAnArtistRowPerTrack) {
    const QString list = write(QStringLiteral("mix.txt"), "Kestrel / Silver Fields\nDuke/Waltz\nWaltz\n");
    const ProcessResult r = import(QStringLiteral("unnumbered"), list,
                                   {QStringLiteral("--artist"), QStringLiteral("Various Artists"), QStringLiteral("--title"),
                                    QStringLiteral("Birds"), QStringLiteral("--genre"), QStringLiteral("folk")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("ARTISTS.DBF"), {}, {QStringLiteral("NR"), QStringLiteral("ARTIST")}),
              (QStringList{QStringLiteral("1|Kestrel"), QStringLiteral("2|Duke")}));
    EXPECT_EQ(rows(QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks"), {QStringLiteral("TRACK")}),
              (QStringList{QStringLiteral("Kestrel / Silver Fields"), QStringLiteral("Duke/Waltz"), QStringLiteral("Waltz")}));
}

TEST_F(CliEditTest, CdDatabaseRecordIsStoredUnderItsDiscIdOnce) {
    SKIP_WITHOUT_TESTDATA();
    const QString record = albumora::test::sharedTestData() + QStringLiteral("/xmcd/770bf909");
    ProcessResult r = import(QStringLiteral("xmcd"), record);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("770bf909\n"));
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), QStringLiteral("ID"),
                   {QStringLiteral("ARTIST"), QStringLiteral("ALBUM"), QStringLiteral("YR"), QStringLiteral("GENRE"),
                    QStringLiteral("Rev"), QStringLiteral("SYS")}),
              QStringList{QStringLiteral("Nightwish|Angels Fall First|1997|metal|2|F")});
    const QStringList tracks =
        rows(QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks"), {QStringLiteral("NR"), QStringLiteral("TRACK"), QStringLiteral("Secs")});
    ASSERT_EQ(tracks.size(), 9);
    EXPECT_EQ(tracks.first(), QStringLiteral("1|Elvenpath|272"));
    EXPECT_EQ(tracks.last(), QStringLiteral("9|Lappi (Lapland)|562"));

    // The same record again: the duplicate message, the collection as it was.
    r = import(QStringLiteral("xmcd"), record, {QStringLiteral("--artist"), QStringLiteral("Someone")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed(),
              QStringLiteral("albumora-cli: An album with this calculated ID already exists and will be highlighted"));
    expectUnchanged(1, 9, 1);
}

TEST_F(CliEditTest, PlaylistsOfBothKinds) {
    SKIP_WITHOUT_TESTDATA();
    const QString m3u = albumora::test::sharedTestData() + QStringLiteral("/playlists/m3u/two-ext.m3u");
    ProcessResult r = import(QStringLiteral("m3u"), m3u,
                             {QStringLiteral("--artist"), QStringLiteral("Two"), QStringLiteral("--genre"), QStringLiteral("misc")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks"), {QStringLiteral("TRACK"), QStringLiteral("Secs")}),
              (QStringList{QStringLiteral("Song #1|0"), QStringLiteral("Song #2|60")}));
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), QStringLiteral("ID"),
                   {QStringLiteral("ALBUM"), QStringLiteral("MEDIA"), QStringLiteral("SYS")}),
              QStringList{m3u.left(50) + QStringLiteral("|PL|P")});
    // The title is the path cut to the field's 50 characters; the notes keep all of it for the play button.
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), QStringLiteral("ID"), {QStringLiteral("NOTES")}),
              QStringList{QStringLiteral("PLAYLIST=") + m3u});

    const QString xspf = write(QStringLiteral("mix.xspf"),
                               "<?xml version=\"1.0\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>\n"
                               "<track><title>Owls</title>\n<creator>Ann</creator>\n<duration>61000</duration></track>\n"
                               "<track><title>Rain</title>\n<creator>Ann</creator>\n<duration>120000</duration></track>\n"
                               "</trackList></playlist>\n");
    // The wrong kind named for a file is a mistake, not a guess.
    r = import(QStringLiteral("m3u"), xspf, {QStringLiteral("--genre"), QStringLiteral("misc")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("is not an M3U playlist"))) << r.err.toStdString();
    r = import(QStringLiteral("xspf"), xspf, {QStringLiteral("--genre"), QStringLiteral("misc")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), QStringLiteral("ID"), {QStringLiteral("ARTIST")}, QStringLiteral("ID=\"z0000002\"")),
              QStringList{QStringLiteral("Ann")});
}

TEST_F(CliEditTest, RefusedSourcesStoreNothing) {
    struct Case {
        const char* source;
        QByteArray text;
        const char* message;  // part of the one-line failure
    };
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i) binary[i] = char((i * 37) & 0xff);
    const Case cases[] = {
        {"numbered", "no numbers here\nnor here\n", "No valid NUMBERED tracks copied to Clipboard."},
        {"unnumbered", "\n\n   \n", "No valid tracks copied to Clipboard."},
        {"xmcd", "DTITLE=Someone / Something\nTTITLE0=Only\n", "Invalid XCMD format"},
        {"xmcd", binary, "Invalid XCMD format"},
        {"m3u", "#EXTM3U\n#EXTINF:abc,Broken\nsong.mp3\n", "not a whole number of seconds"},
        {"numbered", QByteArray(3 * 1024 * 1024, 'a'), "far more than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const QString file = write(QStringLiteral("input.") + QString::fromLatin1(c.source), c.text);
        const ProcessResult r = import(QString::fromLatin1(c.source), file,
                                       {QStringLiteral("--artist"), QStringLiteral("A"), QStringLiteral("--title"), QStringLiteral("T"),
                                        QStringLiteral("--genre"), QStringLiteral("rock")});
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
        EXPECT_FALSE(r.crashed);
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("albumora-cli: "))) << r.err.toStdString();
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.message))) << r.err.toStdString();
    }
    expectUnchanged(0, 0, 0);
    const ProcessResult unknown = import(QStringLiteral("html"), dir.file(QStringLiteral("input.numbered")));
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("unknown source"))) << unknown.err.toStdString();
}

TEST_F(CliEditTest, DeleteRemovesTheAlbumFromEveryTable) {
    const QString mix = write(QStringLiteral("mix.txt"), "Kestrel / Silver Fields\nDuke/Waltz\n");
    const QString plain = write(QStringLiteral("plain.txt"), "One\nTwo\nThree\n");
    const QStringList various = {QStringLiteral("--artist"), QStringLiteral("Various"), QStringLiteral("--title"),
                                 QStringLiteral("Mix"), QStringLiteral("--genre"), QStringLiteral("rock")};
    const QStringList single = {QStringLiteral("--artist"), QStringLiteral("Solo"), QStringLiteral("--title"),
                                QStringLiteral("Plain"), QStringLiteral("--genre"), QStringLiteral("rock")};
    ASSERT_EQ(import(QStringLiteral("unnumbered"), mix, various).exitCode, 0);
    ASSERT_EQ(import(QStringLiteral("unnumbered"), plain, single).exitCode, 0);
    const qint64 tracksBefore = QFileInfo(dir.file(QStringLiteral("TRACKS.DBF"))).size();

    ProcessResult r = cli({QStringLiteral("delete"), QStringLiteral("z0000001")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("ALBUMS.DBF"), {}, {QStringLiteral("ID")}), QStringList{QStringLiteral("z0000002")});
    EXPECT_EQ(rows(QStringLiteral("TRACKS.DBF"), {}, {QStringLiteral("ID")}).size(), 3);
    EXPECT_EQ(rows(QStringLiteral("ARTISTS.DBF"), {}, {QStringLiteral("ARTIST")}), QStringList{QStringLiteral("Solo")});
    // Packed: the deleted rows are gone from the file, not only marked.
    EXPECT_LT(QFileInfo(dir.file(QStringLiteral("TRACKS.DBF"))).size(), tracksBefore);
    expectUnchanged(1, 3, 1);

    r = cli({QStringLiteral("delete"), QStringLiteral("z0000001")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no album with the ID z0000001"))) << r.err.toStdString();
    expectUnchanged(1, 3, 1);
}

}  // namespace
