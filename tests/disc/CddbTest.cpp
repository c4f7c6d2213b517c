// The CD database lookup: its answer and record readers on their own, then whole lookups over
// HTTP and over CDDBP against a CDDB server process of the tests' own (tools/cddb_server.py) that
// serves real xmcd records from a folder laid out as a CD database, well and badly; and the
// match chooser window under the offscreen platform.
#include "Cddb.h"
#include "DMcd.h"
#include "DiscDrive.h"
#include "ServerProcess.h"
#include "TestSupport.h"
#include "TestTls.h"
#include "Version.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>

#include <memory>

#ifdef ALBUMORA_WITH_GUI
#include "FuzzyF.h"
#include "Modal.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#endif

using namespace albumora;
using namespace albumora::disc;
using albumora::test::TempFolder;
using editing::PendingAlbum;

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QStringList titles(const PendingAlbum& a) {
    QStringList out;
    for (const editing::TrackRow& r : a.tracks) out << r.title;
    return out;
}

bool sameAlbum(const PendingAlbum& a, const PendingAlbum& b) {
    if (a.tracks.size() != b.tracks.size()) return false;
    for (size_t k = 0; k < a.tracks.size(); ++k)
        if (a.tracks[k].number != b.tracks[k].number || a.tracks[k].time != b.tracks[k].time ||
            a.tracks[k].title != b.tracks[k].title)
            return false;
    return a.mode == b.mode && a.artist == b.artist && a.title == b.title && a.genre == b.genre && a.year == b.year &&
           a.notes == b.notes && a.rev == b.rev && a.sys == b.sys && a.albumId == b.albumId &&
           a.discLength == b.discLength;
}

// A pending album with rows "Track 1" .. "Track n" and something in the fields a lookup sets.
PendingAlbum albumWithRows(int n) {
    PendingAlbum a;
    a.mode = editing::EditMode::AddCd;
    a.artist = S("Before Artist");
    a.title = S("Before Title");
    a.genre = S("defaultgenre");
    a.year = S("1999");
    a.notes = S("old notes");
    a.rev = S("5");
    for (int k = 1; k <= n; ++k) a.tracks.push_back({store::TDM::PadNumber(k, 3), S(" 3:00"), S("Track %1").arg(k)});
    return a;
}

// ---------------------------------------------------------------------------------------------
// A disc in the drive, as the add-CD flow hands it to the lookup: the track rows and the query
// command from its TOC.

struct Disc {
    DiscToc toc;
    QString id;
    QString query;
    PendingAlbum album;
};

Disc discFromToc(const QList<int>& offsets, int discLength, const QString& protocol) {
    Disc d;
    d.toc.trackCount = std::uint8_t(offsets.size());
    for (int k = 0; k < offsets.size(); ++k) d.toc.entries[size_t(k + 1)] = TocEntry::fromFrames(offsets[k]);
    d.toc.entries[0] = TocEntry::fromFrames(discLength * kFramesPerSecond);
    d.id = DiscDrive::DiscIdText(CalcDiscID(d.toc));
    const ComposedToc composed = DiscDrive::ComposeTocText(d.toc, TocMode::Lookup, protocol);
    d.query = S("cddb query ") + d.id + QLatin1Char(' ') + composed.queryText;
    d.album = albumWithRows(0);
    d.album.albumId = d.id;
    d.album.discLength = composed.discLength;
    for (const disc::TrackRow& r : composed.rows) d.album.tracks.push_back({r.number, r.time, r.title});
    return d;
}

// The disc a record was made from: its frame offsets and disc length, read here the simple
// way (the program's own parsers are what is under test).
Disc discFromRecord(const QString& path, const QString& protocol) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    QList<int> offsets;
    int length = 0;
    bool inOffsets = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.contains(QLatin1String("Track frame offsets"))) {
            inOffsets = true;
        } else if (inOffsets && line.size() > 1) {
            offsets << line.mid(1).trimmed().toInt();
        } else if (inOffsets) {
            inOffsets = false;
        } else if (line.startsWith(QLatin1String("# Disc length:"))) {
            length = line.section(QLatin1Char(' '), 3, 3).toInt();
        }
    }
    return discFromToc(offsets, length, protocol);
}

// ---------------------------------------------------------------------------------------------
// The server process

using test::CddbServer;

QString hostOf(const CddbServer& server, bool http) {
    return S("127.0.0.1:") + QString::number(http ? server.httpPort() : server.cddbpPort());
}
// What the server received: the CDDBP lines ("T ...") or the HTTP request targets ("H ...").
QStringList received(const CddbServer& server, bool http) {
    QStringList out;
    const QString prefix = http ? S("H ") : S("T ");
    for (const QString& entry : server.log())
        if (entry.startsWith(prefix)) out << entry.mid(2);
    return out;
}
// The server logs a line as it takes it; a line sent just before the connection was dropped may
// take a moment to be taken.
bool receivedSoon(const CddbServer& server, bool http, const QString& entry) {
    QElapsedTimer clock;
    clock.start();
    do {
        if (received(server, http).contains(entry)) return true;
        QThread::msleep(20);
    } while (clock.elapsed() < 2000);
    return false;
}

// What the lookup showed, and the chooser's scripted answer.
struct Shown {
    QStringList statuses, messages, errors;
    QList<QStringList> chooserCalls;
    int answer = -1;

    LookupHooks hooks() {
        return {[this](const QString& t) { statuses << t; },
                [this](const QStringList& lines) {
                    chooserCalls << lines;
                    return answer;
                },
                [this](const QString& t) { messages << t; }, [this](const QString& t) { errors << t; }};
    }
};

const QString kHelloTail = S("&hello=anonymous+testhost+Albumora+7.0a&proto=6");
const QString kHelloLine = S("cddb hello anonymous testhost Albumora 7.0a");

class CddbLookup : public ::testing::TestWithParam<const char*> {
protected:
    QString protocol() const { return QString::fromLatin1(GetParam()); }
    bool http() const { return protocol() == QLatin1String("H"); }

    QString root() const { return root_.file(S("db")); }
    // A record of the shared test data put into the database under a category (and a disc ID).
    void addRecord(const QString& category, const QString& file, QString asId = {}) {
        if (asId.isEmpty()) asId = file;
        ASSERT_TRUE(QDir().mkpath(root() + QLatin1Char('/') + category));
        ASSERT_TRUE(QFile::copy(test::sharedTestData() + S("/xmcd/") + file,
                                root() + QLatin1Char('/') + category + QLatin1Char('/') + asId));
    }
    void writeRecord(const QString& category, const QString& id, const QByteArray& text) {
        ASSERT_TRUE(QDir().mkpath(root() + QLatin1Char('/') + category));
        QFile f(root() + QLatin1Char('/') + category + QLatin1Char('/') + id);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    Disc recordDisc(const QString& file) const {
        return discFromRecord(test::sharedTestData() + S("/xmcd/") + file, protocol());
    }

    CddbServer& start(const QStringList& options = {}) {
        QDir().mkpath(root());
        // One log per server, so that each sees only its own requests.
        server_.reset();
        server_ = std::make_unique<CddbServer>(root(), root_.file(S("server%1.log").arg(++servers_)), options);
        return *server_;
    }
    CddbConfig config() const {
        CddbConfig c;
        c.protocol = protocol();
        c.host = server_ ? hostOf(*server_, http()) : QString();
        c.httpTail = kHelloTail;
        c.cddbpHello = kHelloLine;
        c.connectTimeoutMs = 3000;
        c.readTimeoutMs = 3000;
        c.quitWaitMs = 500;
        return c;
    }
    // The commands as the server took them: HTTP request targets are turned back into the
    // command they carry.
    QStringList commands() const {
        QStringList out;
        for (const QString& r : received(*server_, http())) {
            if (!http()) {
                out << r;
                continue;
            }
            const qsizetype at = r.indexOf(S("?cmd=")), end = r.indexOf(QLatin1Char('&'));
            if (at >= 0) out << r.mid(at + 5, end - at - 5).replace(QLatin1Char('+'), QLatin1Char(' '));
        }
        return out;
    }
    bool sentRead() const {
        for (const QString& c : commands())
            if (c.startsWith(S("cddb read"))) return true;
        return false;
    }

    TempFolder root_;
    std::unique_ptr<CddbServer> server_;
    int servers_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Transports, CddbLookup, ::testing::Values("H", "T"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "H" ? "Http" : "Cddbp";
                         });

}  // namespace

// ---------------------------------------------------------------------------------------------
// Where the server is

TEST(CddbGreeting, TheUsersAddressIdentifiesThemToTheCdDatabase) {
    struct Case {
        const char* mail;
        const char* user;  // null: anonymous from this machine
        const char* host;
    };
    const Case cases[] = {
        {"jane.doe@example.org", "jane.doe", "example.org"},
        {"  jo+cd@mail.example.net ", "jo+cd", "mail.example.net"},
        {"", nullptr, nullptr},
        {"no-at-sign", nullptr, nullptr},
        {"two@at@signs", nullptr, nullptr},
        {"@example.org", nullptr, nullptr},
        {"jane@", nullptr, nullptr},
        {"jane doe@example.org", nullptr, nullptr},  // a blank would split the hello line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mail);
        const CddbGreeting s = ComposeGreeting(QString::fromLatin1(c.mail));
        EXPECT_FALSE(s.clientHost.isEmpty());
        const QString user = c.user ? QString::fromLatin1(c.user) : QStringLiteral("anonymous");
        const QString host = c.host ? QString::fromLatin1(c.host) : s.clientHost;
        EXPECT_EQ(s.cddbpHello, QStringLiteral("cddb hello ") + user + QLatin1Char(' ') + host + QStringLiteral(" Albumora ") + kProductVersion);
        // In a URL the "+" of an address must not turn into a blank.
        QString encodedUser = user;
        encodedUser.replace(QLatin1Char('+'), QStringLiteral("%2B"));
        EXPECT_EQ(s.httpTail, QStringLiteral("&hello=") + encodedUser + QLatin1Char('+') + host + QStringLiteral("+Albumora+") + kProductVersion + QStringLiteral("&proto=6"));
    }
}

TEST(CddbGreeting, AMachineNameWithBlanksStaysOneWord) {
    const CddbGreeting g = ComposeGreeting(QString(), QStringLiteral("my box\r\n"));
    EXPECT_EQ(g.clientHost, QStringLiteral("my_box"));
    EXPECT_EQ(g.cddbpHello, QStringLiteral("cddb hello anonymous my_box Albumora ") + kProductVersion);
    EXPECT_EQ(kProductVersion, QStringLiteral("7.0a"));
}

TEST(CddbEndpoint, HostWithOrWithoutPort) {
    struct Case {
        const char* host;
        bool http, ssl;
        const char* name;
        int port;  // 0: refused
    } cases[] = {
        {"127.0.0.1:18880", false, false, "127.0.0.1", 18880},
        {"[::1]:8880", true, false, "::1", 8880},
        {"[::1]", false, false, "::1", 8880},
        {"::1", true, false, "::1", 80},
        {"gnudb.gnudb.org", false, false, "gnudb.gnudb.org", 8880},
        {"gnudb.gnudb.org", true, false, "gnudb.gnudb.org", 80},
        {"gnudb.gnudb.org", true, true, "gnudb.gnudb.org", 443},
        {"  mirror.example:8080 \t", true, true, "mirror.example", 8080},
        {"host:65535", false, false, "host", 65535},
        {"host:", false, false, "", 0},
        {"host:0", false, false, "", 0},
        {"host:65536", false, false, "", 0},
        {"host:80a", true, false, "", 0},
        {":8880", false, false, "", 0},
        {"[::1", false, false, "", 0},
        {"[::1]x", false, false, "", 0},
        {"bad host", false, false, "", 0},
        {"evil/path", true, false, "", 0},
        {"user@host", true, false, "", 0},
        {"   ", false, false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        const auto e = ParseEndpoint(S(c.host), c.http, c.ssl);
        if (c.port == 0) {
            ASSERT_FALSE(e.isOk());
            EXPECT_FALSE(e.error().message().isEmpty());
            continue;
        }
        ASSERT_TRUE(e.isOk()) << e.error().text().toStdString();
        EXPECT_EQ(e->host, S(c.name));
        EXPECT_EQ(e->port, c.port);
    }
}

// ---------------------------------------------------------------------------------------------
// Answers and records, line by line

TEST(CddbAnswers, QueryAnswerLines) {
    struct Case {
        const char* line;
        QueryKind kind;
        const char* category;
        const char* id;
        const char* artist;
        const char* title;
    } cases[] = {
        {"200 rock 840e160b Nightwish / Once", QueryKind::Exact, "rock", "840e160b", "Nightwish", "Once"},
        {"200 Classical 6F0C6509 Beethoven / Piano / Sonatas", QueryKind::Exact, "Classical", "6F0C6509", "Beethoven",
         "Piano / Sonatas"},
        // No "/": no artist, the whole disc title is the album title.
        {"200 country 12025d03 Ernest Ray Everett - Single CD", QueryKind::Exact, "country", "12025d03", "",
         "Ernest Ray Everett - Single CD"},
        {"200 misc 0000000a   AC\\\\DC  /  Back\\\\\\ In Black ", QueryKind::Exact, "misc", "0000000a", "AC\\DC",
         "Back\\ In Black"},
        {"200 new_age 0000000b", QueryKind::Exact, "new_age", "0000000b", "", ""},
        {"210 Found exact matches, list follows (until terminating `.')", QueryKind::Multiple, "", "", "", ""},
        {"211 Found inexact matches, list follows (until terminating `.')", QueryKind::Multiple, "", "", "", ""},
        {"202 No match for disc ID 12345678.", QueryKind::NoMatch, "", "", "", ""},
        {"403 Database entry is corrupt.", QueryKind::Error, "", "", "", ""},
        {"409 No handshake.", QueryKind::Error, "", "", "", ""},
        {"500 Command syntax error.", QueryKind::Unexpected, "", "", "", ""},
        {"230", QueryKind::Unexpected, "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto a = ParseQueryAnswer(S(c.line));
        ASSERT_TRUE(a.isOk()) << a.error().text().toStdString();
        EXPECT_EQ(a->kind, c.kind);
        EXPECT_EQ(a->code, S(c.line).left(3));
        EXPECT_EQ(a->category, S(c.category));
        EXPECT_EQ(a->discId, S(c.id));
        EXPECT_EQ(a->artist, S(c.artist));
        EXPECT_EQ(a->title, S(c.title));
    }
}

TEST(CddbAnswers, MalformedAnswersAreErrors) {
    // No status line, or an exact match whose category or disc ID would make a broken command.
    for (const char* line :
         {"", "20", "OK 200", "\x7f\x7f\x7f", "200", "200 ", "200 rock", "200 rock 840e160", "200 rock 840e160z x / y",
          "200 ro/ck 840e160b x / y", "200 rock&x=1 840e160b x / y", "200 rock\r 840e160b x"}) {
        SCOPED_TRACE(line);
        const auto a = ParseQueryAnswer(S(line));
        ASSERT_FALSE(a.isOk());
        EXPECT_EQ(a.error().kind(), store::ErrorKind::Corruption);
    }
}

TEST(CddbAnswers, BackslashRunsAndRevisionCharacters) {
    EXPECT_EQ(ReduceBackslashes(S("a\\b")), S("a\\b"));
    EXPECT_EQ(ReduceBackslashes(S("a\\\\b\\\\\\\\c\\")), S("a\\b\\c\\"));
    EXPECT_EQ(ReduceBackslashes(S("\\\\\\")), S("\\"));
    const std::pair<qint64, const char*> revisions[] = {{0, "0"},  {9, "9"},  {17, "A"},     {77, "}"},
                                                        {78, "~"}, {79, "~"}, {1000000, "~"}};
    for (const auto& [n, character] : revisions) EXPECT_EQ(RevisionCharacter(n), S(character)) << n;
}

namespace {

// Reads the lines into a copy of the album as one record; the error text when a line failed.
QString readRecord(PendingAlbum& album, const QStringList& lines, int* used = nullptr) {
    BeginXmcdRecord(album);
    int n = 0;
    for (const QString& line : lines) {
        ++n;
        const auto step = ReadXmcdLine(line, album);
        if (!step) return step.error().message();
        if (*step == XmcdStep::End) break;
    }
    if (used) *used = n;
    return {};
}

}  // namespace

TEST(CddbRecord, LinesIntoThePendingAlbum) {
    struct Case {
        const char* name;
        QStringList lines;
        // Expected afterwards (the album has 4 rows, year "1999", genre "defaultgenre").
        QStringList titles;
        const char* genre;
        const char* year;
        const char* rev;
        const char* notes;
    } cases[] = {
        {"a title over two lines is joined",
         {S("TTITLE3=Part one"), S("TTITLE3= and two")},
         {S(""), S(""), S(""), S("Part one and two")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"a continuation keeps its own blanks, the text before is trimmed",
         {S("TTITLE0=  Lead  "), S("TTITLE0=in"), S("TTITLE1=x"), S("TTITLE1=  y ")},
         {S("Leadin"), S("x  y "), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"genre lower-cased (ASCII only), an empty year left alone",
         {S("DGENRE=Rock"), S("DYEAR=")},
         {S(""), S(""), S(""), S("")},
         "rock",
         "1999",
         "0",
         ""},
        {"accented capitals keep their case",
         {S("DGENRE=ÉLECTRO Pop")},
         {S(""), S(""), S(""), S("")},
         "Électro pop",
         "1999",
         "0",
         ""},
        {"an empty genre is left alone, a year is taken",
         {S("DGENRE="), S("DYEAR=2004")},
         {S(""), S(""), S(""), S("")},
         "defaultgenre",
         "2004",
         "0",
         ""},
        {"revision 78 and above is a tilde",
         {S("# Revision: 78")},
         {S(""), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "~",
         ""},
        {"revision 0", {S("# Revision: 0")}, {S(""), S(""), S(""), S("")}, "defaultgenre", "1999", "0", ""},
        {"revision with blanks around",
         {S("# Revision: 3  ")},
         {S(""), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "3",
         ""},
        {"a line that does not start with # carries the revision from its 13th character too",
         {S("x# Revision: 12")},
         {S(""), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "<",
         ""},
        {"a title joined over several lines fills the whole field, 73 characters",
         {S("TTITLE1=Sonata No. 14 in C-sharp Minor, Op. 27, No. 2 Moonlight - I. A"), S("TTITLE1=dagio sostenuto")},
         {S(""), S("Sonata No. 14 in C-sharp Minor, Op. 27, No. 2 Moonlight - I. Adagio soste"), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"a run of backslashes counts as one character of the field",
         {S("TTITLE2=AC\\\\DC ") + QString(70, QLatin1Char('x'))},
         {S(""), S(""), S("AC\\DC ") + QString(67, QLatin1Char('x')), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"revision words in a title are a title",
         {S("TTITLE0=Live # Revision: x")},
         {S("Live # Revision: x"), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"extended data with only blanks is not added",
         {S("EXTD=   "), S("EXTT0= "), S("EXTD= YEAR: 2004"), S("EXTT2=Live take")},
         {S(""), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         "EXTD= YEAR: 2004\r\nEXTT2=Live take"},
        {"a track the disc does not have is left out",
         {S("TTITLE4=Fifth"), S("TTITLE99=Far away"), S("TTITLE0=First")},
         {S("First"), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"backslash runs in titles are reduced",
         {S("TTITLE0=AC\\\\DC \\\\\\ Live")},
         {S("AC\\DC \\ Live"), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"a title is cut to the width of the Track field",
         {S("TTITLE1=") + QString(60, QLatin1Char('a')), S("TTITLE1=") + QString(60, QLatin1Char('b'))},
         {S(""), QString(60, QLatin1Char('a')) + QString(13, QLatin1Char('b')), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"lines without a value, other keywords and lower case are skipped",
         {S("DTITLE=Someone / Something"), S("DISCID=12345678"), S("ttitle0=lower"), S("TTITLE0="), S("DGENRE"),
          S("EXTD"), S("#"), S("# Revision:5"), S("random text")},
         {S(""), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
        {"PLAYORDER ends the record",
         {S("TTITLE0=One"), S("PLAYORDER=2,1"), S("TTITLE1=Never read"), S("DGENRE=Jazz")},
         {S("One"), S(""), S(""), S("")},
         "defaultgenre",
         "1999",
         "0",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PendingAlbum a = albumWithRows(4);
        const PendingAlbum before = a;
        const QString error = readRecord(a, c.lines);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(titles(a), c.titles);
        EXPECT_EQ(a.tracks.size(), 4u);
        for (size_t k = 0; k < a.tracks.size(); ++k) {
            EXPECT_EQ(a.tracks[k].number, before.tracks[k].number);
            EXPECT_EQ(a.tracks[k].time, before.tracks[k].time);
        }
        EXPECT_EQ(a.genre, S(c.genre));
        EXPECT_EQ(a.year, S(c.year));
        EXPECT_EQ(a.rev, S(c.rev));
        EXPECT_EQ(a.notes, S(c.notes));
        EXPECT_EQ(a.artist, before.artist);
        EXPECT_EQ(a.title, before.title);
    }
}

TEST(CddbRecord, MalformedNumbersAreErrors) {
    for (const char* line : {"# Revision: ", "# Revision: two", "# Revision: -1", "# Revision: 1.5", "TTITLE=x",
                             "TTITLEx=y", "TTITLE-1=y", "TTITLE 3=y", "TTITLE3 =y", "TTIT3=y", "TTITLE0x3=y"}) {
        SCOPED_TRACE(line);
        PendingAlbum a = albumWithRows(4);
        const QString error = readRecord(a, {S(line)});
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(error.contains(S("not a whole number"))) << error.toStdString();
    }
}

TEST(CddbRecord, RealRecordsReadLineByLine) {
    SKIP_WITHOUT_TESTDATA();
    // Every record of the shared data reads without error up to its PLAYORDER line, and each
    // track row gets the record's title.
    const QDir dir(test::sharedTestData() + S("/xmcd"));
    int records = 0;
    for (const QString& name : dir.entryList(QDir::Files)) {
        SCOPED_TRACE(name.toStdString());
        const Disc d = discFromRecord(dir.filePath(name), S("T"));
        EXPECT_EQ(d.id, name) << "the record's own offsets give its disc ID";
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'));
        PendingAlbum a = d.album;
        int used = 0;
        ASSERT_EQ(readRecord(a, lines, &used), QString());
        EXPECT_TRUE(lines[used - 1].startsWith(S("PLAYORDER"))) << "the record ends at its PLAYORDER line";
        for (const editing::TrackRow& r : a.tracks) {
            EXPECT_FALSE(r.title.isEmpty());
            EXPECT_LE(r.title.size(), kTrackTitleWidth);
        }
        ++records;
    }
    EXPECT_EQ(records, 11);
}

// ---------------------------------------------------------------------------------------------
// Transport pieces

TEST(CddbTransport, BodyLinesAndRequestTarget) {
    const auto lines = SplitBodyLines(QByteArray("200 a\r\nb\n\nc\r\nlast"), 100, 6);
    ASSERT_TRUE(lines.isOk());
    EXPECT_EQ(*lines, (QStringList{S("200 a"), S("b"), S(""), S("c"), S("last")}));
    EXPECT_EQ(*SplitBodyLines(QByteArray("one\n"), 100, 6), QStringList{S("one")});
    EXPECT_TRUE(SplitBodyLines(QByteArray(), 100, 6)->isEmpty());
    EXPECT_TRUE(SplitBodyLines(QByteArray(100, 'x') + "\r\n", 100, 6).isOk());
    EXPECT_FALSE(SplitBodyLines(QByteArray("ok\n") + QByteArray(101, 'x') + "\n", 100, 6).isOk());
    EXPECT_FALSE(SplitBodyLines(QByteArray(101, 'x'), 100, 5).isOk());
    // The limit is on the bytes: 50 two-byte characters are 100 bytes.
    QByteArray wide;
    for (int k = 0; k < 51; ++k) wide += "\xc3\xa9";
    EXPECT_FALSE(SplitBodyLines(wide, 100, 6).isOk());
    EXPECT_TRUE(SplitBodyLines(wide.left(100), 100, 6).isOk());

    const QString cgi = S("/~cddb/cddb.cgi");
    EXPECT_EQ(
        HttpRequestTarget(cgi, S("cddb query 0405a902 2 150 18477 1442"), kHelloTail),
        QByteArray(
            "/~cddb/cddb.cgi?cmd=cddb+query+0405a902+2+150+18477+1442&hello=anonymous+testhost+Albumora+7.0a&proto=6"));
    // The TOC text of the HTTP protocol already has "+" between its numbers.
    EXPECT_EQ(HttpRequestTarget(cgi, S("cddb query 0405a902 2+150+18477+1442"), QString()),
              QByteArray("/~cddb/cddb.cgi?cmd=cddb+query+0405a902+2+150+18477+1442"));
    // Nothing a server sent can add parameters or end the request.
    EXPECT_EQ(HttpRequestTarget(cgi, S("cddb read a&b=c#d%e 12345678"), QString()),
              QByteArray("/~cddb/cddb.cgi?cmd=cddb+read+a%26b%3Dc%23d%25e+12345678"));
}

TEST(CddbTransport, LinesAreDecodedAtTheLevelOfTheAnswer) {
    struct Case {
        const char* name;
        QByteArray bytes;
        int level;
        const char* text;  // UTF-8
    } cases[] = {
        {"level 6: UTF-8", "Caf\xc3\xa9 \xe2\x82\xac M\xc3\xbcller", 6, "Café € Müller"},
        // What Windows-1252 cannot hold is a "?" each, a character beyond 16 bits too.
        {"level 6: Japanese", "\xe6\x9d\xb1\xe4\xba\xac/Tokyo", 6, "?" "?/Tokyo"},
        {"level 6: Cyrillic", "\xd0\x9a\xd0\xb8\xd0\xbd\xd0\xbe \xc3\xa9", 6, "???? é"},
        {"level 6: emoji", "a\xf0\x9f\x8e\xb5" "b", 6, "a?b"},
        // An old record, no valid UTF-8, is read as Windows-1252 at level 6 too.
        {"level 6: Windows-1252", "Caf\xe9 \x80 M\xfcller", 6, "Café € Müller"},
        {"level 6: UTF-8 cut in the middle", "Caf\xc3", 6, "CafÃ"},
        {"level 6: mixed", "\xc3\xa9 \xe9", 6, "Ã© é"},
        // Below level 6 every byte is a Windows-1252 character, valid UTF-8 or not.
        {"level 5: Windows-1252", "Caf\xe9 \x80", 5, "Café €"},
        {"level 5: UTF-8 bytes", "Caf\xc3\xa9", 5, "CafÃ©"},
        {"level 1", "\xe9", 1, "é"},
        {"ASCII", "200 rock 12345678 AC/DC", 6, "200 rock 12345678 AC/DC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeLine(c.bytes, c.level), S(c.text));
        const auto lines = SplitBodyLines(c.bytes + "\r\nx\n", 1000, c.level);
        ASSERT_TRUE(lines.isOk());
        EXPECT_EQ(*lines, (QStringList{S(c.text), S("x")}));
    }
}

TEST(CddbTransport, TheLevelOfAnHttpTail) {
    EXPECT_EQ(TailLevel(kHelloTail), 6);
    EXPECT_EQ(TailLevel(ComposeGreeting(S("a@b.c"), S("h")).httpTail), kCddbLevel);
    EXPECT_EQ(TailLevel(S("&proto=5&hello=x+y+z+1")), 5);
    EXPECT_EQ(TailLevel(S("&hello=x+y+z+1")), 0);
    EXPECT_EQ(TailLevel(S("&hello=myproto=6")), 0);
    EXPECT_EQ(TailLevel(S("&proto=six")), 0);
    EXPECT_EQ(TailWithLevel(kHelloTail, 5), S("&hello=anonymous+testhost+Albumora+7.0a&proto=5"));
    EXPECT_EQ(TailWithLevel(S("&proto=6&hello=x+y+z+1"), 5), S("&proto=5&hello=x+y+z+1"));
    EXPECT_EQ(TailWithLevel(S("&hello=x+y+z+1"), 5), S("&hello=x+y+z+1"));
}

// ---------------------------------------------------------------------------------------------
// Whole lookups against the server

TEST_P(CddbLookup, RequestOfATwoTrackDisc) {
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    PendingAlbum album = d.album;
    Shown shown;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());

    // The disc is not in the database: the server's 202 is "not found".
    EXPECT_TRUE(out.notFound);
    EXPECT_EQ(shown.messages, QStringList{cddbmsg::kNotFound});
    EXPECT_TRUE(shown.errors.isEmpty());
    if (http()) {
        EXPECT_EQ(received(server, true),
                  QStringList{S("/~cddb/cddb.cgi?cmd=cddb+query+") + d.id + S("+2+150+18477+1442") + kHelloTail});
        EXPECT_EQ(shown.statuses, (QStringList{cddbmsg::kSearching, QString()}));
    } else {
        EXPECT_TRUE(receivedSoon(server, false, S("quit")));
        EXPECT_EQ(received(server, false),
                  (QStringList{kHelloLine, S("proto 6"), S("cddb query ") + d.id + S(" 2 150 18477 1442"), S("quit")}));
        EXPECT_EQ(shown.statuses,
                  (QStringList{cddbmsg::kConnecting, cddbmsg::kSearching, cddbmsg::kDisconnecting, QString()}));
    }
}

TEST_P(CddbLookup, ExactMatchesOfRealRecords) {
    SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char* file;
        const char* category;
        const char* artist;
        const char* title;
        const char* genre;
        const char* year;
        const char* rev;
        const char* notes;
        std::vector<std::pair<int, QString>> rows;  // row (from 1) and its title
    } cases[] = {
        // Titles over two lines, joined and cut to the Track field.
        {"6f0c6509",
         "classical",
         "Beethoven",
         "Beethoven Piano Sonatas",
         "classical",
         "1998",
         "2",
         "",
         {{1, S("Sonata No. 14 in C-sharp Minor, Op. 27, No. 2 Moonlight - I. Adagio sostenuto").left(73)},
          {2, S("II. Allegretto")},
          {4, S("Sonata No. 8 in C Minor, Op. 13 Pathetique - I. Grove; Allegro molto e con brio").left(73)},
          {7, S("Sonata No. 23 in F Minor, Op. 57 Appassionata - I. Allegro assai")},
          {9, S("III. Allegro ma non troppo; Presto")}}},
        // The genre is the record's, lower-cased, not the category; extended data to the notes.
        {"840e160b",
         "misc",
         "Nightwish",
         "Once",
         "symphonic metal",
         "2004",
         "3",
         "EXTD= YEAR: 2004",
         {{1, S("Dark Chest Of Wonders")}, {10, S("Kuolema Tekee Taiteilijan")}, {11, S("Higher Than Hope")}}},
        // An empty year line leaves the year empty.
        {"9c0eac0c",
         "classical",
         "Mozart",
         "The Classics: Mozart",
         "classical",
         "",
         "4",
         "EXTD=ID3G:  32",
         {{6, S("Symphony No. 35 in D Major (Haffner), Last Movement")},
          {12, S("Symphony No. 41 in C (Jupiter), 1st Movement")}}},
        // A disc title without "/": no artist.
        {"12025d03",
         "country",
         "",
         "Ernest Ray Everett - Single CD",
         "country",
         "2009",
         "0",
         "",
         {{1, S("I'm Your Puppet")}, {3, S("If You Don't Like Country")}}},
        {"fd0b9912", "blues", "Ray Charles", "Ray Charles Sings The Blues", "blues", "1995", "0", "", {}},
    };
    for (const Case& c : cases) addRecord(S(c.category), S(c.file));
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Disc d = recordDisc(S(c.file));
        PendingAlbum album = d.album;
        album.year.clear();
        Shown shown;
        const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
        ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
        EXPECT_TRUE(out.showForm);
        EXPECT_FALSE(out.notFound);
        EXPECT_TRUE(shown.messages.isEmpty());
        EXPECT_TRUE(shown.chooserCalls.isEmpty());
        EXPECT_EQ(out.category, S(c.category));
        EXPECT_EQ(out.discId, S(c.file));
        EXPECT_EQ(album.artist, S(c.artist));
        EXPECT_EQ(album.title, S(c.title));
        EXPECT_EQ(album.genre, S(c.genre));
        EXPECT_EQ(album.year, S(c.year));
        EXPECT_EQ(album.rev, S(c.rev));
        EXPECT_EQ(album.notes, S(c.notes));
        ASSERT_EQ(album.tracks.size(), d.album.tracks.size());
        for (size_t k = 0; k < album.tracks.size(); ++k) {
            EXPECT_EQ(album.tracks[k].number, d.album.tracks[k].number);
            EXPECT_EQ(album.tracks[k].time, d.album.tracks[k].time);
            EXPECT_FALSE(album.tracks[k].title.startsWith(S("Track "))) << k;
        }
        for (const auto& [row, title] : c.rows) EXPECT_EQ(album.tracks[size_t(row - 1)].title, title) << row;
        // Fields the lookup does not own.
        EXPECT_EQ(album.albumId, d.id);
        EXPECT_EQ(album.discLength, d.album.discLength);
        EXPECT_EQ(album.mode, editing::EditMode::AddCd);
        EXPECT_TRUE(commands().contains(S("cddb read ") + S(c.category) + QLatin1Char(' ') + S(c.file)));
        if (http())
            EXPECT_EQ(shown.statuses, (QStringList{cddbmsg::kSearching, cddbmsg::kLoading, QString()}));
        else
            EXPECT_EQ(shown.statuses, (QStringList{cddbmsg::kConnecting, cddbmsg::kSearching, cddbmsg::kLoading,
                                                   cddbmsg::kDisconnecting, QString()}));
    }
    // Every HTTP request carried the greeting; every CDDBP connection greeted and said goodbye.
    if (http()) {
        EXPECT_EQ(received(server, true).size(), 10);
        for (const QString& target : received(server, true))
            EXPECT_TRUE(target.endsWith(kHelloTail)) << target.toStdString();
    } else {
        EXPECT_TRUE(receivedSoon(server, false, S("quit")));
        EXPECT_EQ(received(server, false).count(kHelloLine), 5);
        EXPECT_EQ(received(server, false).count(S("proto 6")), 5);
        EXPECT_EQ(received(server, false).count(S("quit")), 5);
    }
}

TEST_P(CddbLookup, TheEdgeCasesOfOneRecordThroughTheServer) {
    // A record written here with every rule in it, read over the wire.
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    const QByteArray record =
        QByteArray(
            "# xmcd\n#\n# Track frame offsets:\n#\t150\n#\t18477\n#\n# Disc length: 1442 seconds\n#\n"
            "# Revision: 78\n# Submitted via: test\n#\nDISCID=") +
        d.id.toLatin1() +
        "\r\nDTITLE=AC\\\\DC / Live \\\\\\ Loud\r\nDYEAR=\r\nDGENRE=Hard Rock\r\nTTITLE0=Part one\r\n"
        "TTITLE0= and two\r\nTTITLE1=Caf\xe9\r\nTTITLE7=Beyond the disc\r\nEXTD=   \r\nEXTT0=Note one\r\n"
        "EXTT1=\r\nPLAYORDER=\r\n";
    writeRecord(S("rock"), d.id, record);
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    PendingAlbum album = d.album;
    album.year.clear();
    Shown shown;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_TRUE(out.showForm);
    EXPECT_EQ(album.artist, S("AC\\DC"));
    EXPECT_EQ(album.title, S("Live \\ Loud"));
    EXPECT_EQ(album.genre, S("hard rock"));
    EXPECT_EQ(album.year, QString());
    EXPECT_EQ(album.rev, S("~"));
    EXPECT_EQ(album.notes, S("EXTT0=Note one"));
    EXPECT_EQ(titles(album), (QStringList{S("Part one and two"), S("Café")}));
    EXPECT_EQ(out.matchLines, QStringList{S("rock ") + d.id + S(" AC\\\\DC / Live \\\\\\ Loud")});
    // Every line of the record went through the reader, up to PLAYORDER.
    EXPECT_EQ(out.record.size(), record.count('\n'));
    EXPECT_EQ(out.record.last(), S("PLAYORDER="));
}

TEST_P(CddbLookup, TheTextOfEachProtocolLevel) {
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    const QByteArray head = QByteArray("# xmcd\n#\n# Revision: 2\n#\nDISCID=") + d.id.toLatin1() + "\n";
    // Written as UTF-8: letters Windows-1252 has, Cyrillic and Japanese it has not.
    const QByteArray utf8 =
        head + S("DTITLE=Mötley Crüe / Café Москва\nDYEAR=1989\nDGENRE=Chanson Française\nTTITLE0=東京 Nights\n"
                 "TTITLE1=Für Elise\nEXTD=Liner ü 日本\nPLAYORDER=\n")
                   .toUtf8();
    // An old record in Windows-1252, no valid UTF-8.
    const QByteArray cp1252 = head + "DTITLE=M\xf6tley Cr\xfc" "e / Caf\xe9 \x80\nDGENRE=Chanson Fran\xe7" "aise\n"
                                     "TTITLE0=Tokyo \x93Nights\x94\nTTITLE1=F\xfcr Elise\nPLAYORDER=\n";
    struct Case {
        const char* name;
        QByteArray record;
        QStringList options;
        int level;                // the level of the answers
        const char* artist;       // UTF-8
        const char* title;
        const char* genre;
        QStringList tracks;
        const char* notes;
    } cases[] = {
        {"UTF-8 at level 6", utf8, {}, 6, "Mötley Crüe", "Café ??????", "chanson française",
         {S("?? Nights"), S("Für Elise")}, "EXTD=Liner ü ??"},
        // The server sends Windows-1252 with "?" for what it cannot hold.
        {"UTF-8 from a level 5 server", utf8, {S("--max-proto"), S("5")}, 5, "Mötley Crüe", "Café ??????",
         "chanson française", {S("?? Nights"), S("Für Elise")}, "EXTD=Liner ü ??"},
        {"old record served as it is at level 6", cp1252, {S("--raw")}, 6, "Mötley Crüe", "Café €",
         "chanson française", {S("Tokyo “Nights”"), S("Für Elise")}, ""},
        {"old record from a level 5 server", cp1252, {S("--raw"), S("--max-proto"), S("5")}, 5, "Mötley Crüe",
         "Café €", "chanson française", {S("Tokyo “Nights”"), S("Für Elise")}, ""},
        // Below level 6 UTF-8 bytes are not guessed at: each is a Windows-1252 character.
        {"UTF-8 bytes at level 5", utf8, {S("--raw"), S("--max-proto"), S("5")}, 5, "MÃ¶tley CrÃ¼e",
         "CafÃ© ÐœÐ¾Ñ\u0081ÐºÐ²Ð°", "chanson franÃ§aise", {S("æ\u009d±äº¬ Nights"), S("FÃ¼r Elise")},
         "EXTD=Liner Ã¼ æ—¥æœ¬"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeRecord(S("misc"), d.id, c.record);
        CddbServer& server = start(c.options);
        ASSERT_TRUE(server.started()) << server.failure().toStdString();
        PendingAlbum album = d.album;
        Shown shown;
        const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
        ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
        EXPECT_TRUE(out.showForm);
        EXPECT_EQ(out.level, c.level);
        EXPECT_EQ(album.artist, S(c.artist));
        EXPECT_EQ(album.title, S(c.title));
        EXPECT_EQ(album.genre, S(c.genre));
        EXPECT_EQ(album.year, c.record == cp1252 ? d.album.year : S("1989"));
        EXPECT_EQ(titles(album), c.tracks);
        EXPECT_EQ(album.notes, S(c.notes));
        EXPECT_EQ(album.rev, S("2"));
        // What goes on from here holds only what Windows-1252 has.
        const QString all = out.matchLines.join(QLatin1Char('\n')) + out.record.join(QLatin1Char('\n'));
        EXPECT_EQ(store::fromCp1252(store::toCp1252(all)), all);
        EXPECT_EQ(out.matchLines, QStringList{S("misc ") + d.id + QLatin1Char(' ') + S(c.artist) + S(" / ") + S(c.title)});
        EXPECT_TRUE(out.record.contains(S("TTITLE1=") + c.tracks[1]));

        // The client asks for 6; a server that refuses it gets 5, and HTTP keeps 5 from then on.
        if (http()) {
            QStringList levels;
            for (const QString& target : received(server, true)) levels << target.section(S("&proto="), 1);
            const QStringList expected =
                c.level == 6 ? QStringList{S("6"), S("6")} : QStringList{S("6"), S("5"), S("5")};
            EXPECT_EQ(levels, expected);
            // The refused request is the one sent again.
            if (c.level == 5 && commands().size() == 3) {
                EXPECT_EQ(commands().at(0), commands().at(1));
            }
        } else {
            EXPECT_TRUE(receivedSoon(server, false, S("quit")));
            const QStringList expected =
                c.level == 6 ? QStringList{S("proto 6")} : QStringList{S("proto 6"), S("proto 5")};
            EXPECT_EQ(received(server, false).filter(QRegularExpression(S("^proto"))), expected);
        }
    }
}

TEST_P(CddbLookup, AServerThatRefusesLevelFiveToo) {
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    writeRecord(S("misc"), d.id,
                QByteArray("# xmcd\n# Revision: 1\nDISCID=") + d.id.toLatin1() + "\nDTITLE=Caf\xc3\xa9 / X\nPLAYORDER=\n");
    CddbServer& server = start({S("--raw"), S("--max-proto"), S("4")});
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    PendingAlbum album = d.album;
    Shown shown;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_TRUE(out.showForm);
    if (http()) {
        // Asked once more at 5, refused again: an answer the lookup does not act on.
        QStringList levels;
        for (const QString& target : received(server, true)) levels << target.section(S("&proto="), 1);
        EXPECT_EQ(levels, (QStringList{S("6"), S("5")}));
        EXPECT_EQ(album.artist, d.album.artist);
        EXPECT_FALSE(sentRead());
    } else {
        // The session stays at the level it began with, whose text is 8-bit.
        EXPECT_EQ(out.level, 1);
        EXPECT_EQ(album.artist, S("CafÃ©"));
        EXPECT_TRUE(receivedSoon(server, false, S("quit")));
        EXPECT_EQ(received(server, false).filter(QRegularExpression(S("^proto"))),
                  (QStringList{S("proto 6"), S("proto 5")}));
    }
}

TEST_P(CddbLookup, SeveralMatchesTheChosenOneIsRead) {
    SKIP_WITHOUT_TESTDATA();
    // Two records under the disc's ID in two categories; the second has more tracks than the
    // disc, whose grid keeps its three rows.
    addRecord(S("country"), S("12025d03"));
    addRecord(S("rock"), S("840e160b"), S("12025d03"));
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    const Disc d = recordDisc(S("12025d03"));
    PendingAlbum album = d.album;
    Shown shown;
    shown.answer = 1;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    const QStringList lines = {S("country 12025d03 Ernest Ray Everett - Single CD"),
                               S("rock 12025d03 Nightwish / Once")};
    ASSERT_EQ(shown.chooserCalls.size(), 1);
    EXPECT_EQ(shown.chooserCalls.first(), lines);
    EXPECT_EQ(out.matchLines, lines);
    EXPECT_TRUE(out.showForm);
    EXPECT_EQ(out.category, S("rock"));
    EXPECT_EQ(album.artist, S("Nightwish"));
    EXPECT_EQ(album.title, S("Once"));
    EXPECT_EQ(album.genre, S("symphonic metal"));
    EXPECT_EQ(titles(album), (QStringList{S("Dark Chest Of Wonders"), S("Wish I Had An Angel"), S("Nemo")}));
    EXPECT_TRUE(commands().contains(S("cddb read rock 12025d03")));
    EXPECT_FALSE(commands().contains(S("cddb read country 12025d03")));
}

TEST_P(CddbLookup, OneInexactMatchIsTakenWithoutAsking) {
    SKIP_WITHOUT_TESTDATA();
    addRecord(S("metal"), S("770bf909"));
    CddbServer& server = start({S("--inexact")});
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    const Disc d = recordDisc(S("770bf909"));
    PendingAlbum album = d.album;
    Shown shown;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_TRUE(shown.chooserCalls.isEmpty());
    EXPECT_EQ(out.matchLines, QStringList{S("metal 770bf909 Nightwish / Angels Fall First")});
    EXPECT_TRUE(out.showForm);
    EXPECT_EQ(album.artist, S("Nightwish"));
    EXPECT_EQ(album.title, S("Angels Fall First"));
    EXPECT_EQ(album.year, S("1997"));
    EXPECT_TRUE(commands().contains(S("cddb read metal 770bf909")));
}

TEST_P(CddbLookup, CancelledChoiceReadsNothing) {
    SKIP_WITHOUT_TESTDATA();
    addRecord(S("pop"), S("b20cd40d"));
    addRecord(S("soundtrack"), S("c00ccd0d"), S("b20cd40d"));
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    const Disc d = recordDisc(S("b20cd40d"));
    PendingAlbum album = d.album;
    Shown shown;
    shown.answer = -1;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_EQ(shown.chooserCalls.size(), 1);
    EXPECT_TRUE(out.cancelled);
    EXPECT_FALSE(out.notFound);
    // The form opens with the TOC's defaults for the album to be entered by hand.
    EXPECT_TRUE(out.showForm);
    EXPECT_TRUE(sameAlbum(album, d.album));
    EXPECT_TRUE(shown.messages.isEmpty());
    if (!http()) {
        EXPECT_TRUE(receivedSoon(server, false, S("quit")));
    }
    EXPECT_FALSE(sentRead());
}

TEST_P(CddbLookup, NotFoundToQueryOrRead) {
    SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char* name;
        QStringList options;
        bool inDatabase;
        bool readSent;
    } cases[] = {
        {"202: no match", {}, false, false},
        {"403 to the query", {S("--query-code"), S("403")}, true, false},
        {"401 to the read", {S("--read-code"), S("401")}, true, true},
        {"402 to the read", {S("--read-code"), S("402")}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root()).removeRecursively();
        if (c.inDatabase) addRecord(S("jazz"), S("d1115d11"));
        CddbServer& server = start(c.options);
        ASSERT_TRUE(server.started()) << server.failure().toStdString();
        const Disc d = recordDisc(S("d1115d11"));
        PendingAlbum album = d.album;
        Shown shown;
        const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
        EXPECT_TRUE(out.error.isEmpty()) << out.error.toStdString();
        EXPECT_TRUE(out.notFound);
        EXPECT_FALSE(out.showForm);
        EXPECT_EQ(shown.messages, QStringList{cddbmsg::kNotFound});
        // Artist and title emptied; the rows stay as the TOC made them.
        EXPECT_EQ(album.artist, QString());
        EXPECT_EQ(album.title, QString());
        EXPECT_EQ(titles(album), titles(d.album));
        EXPECT_EQ(album.rev, d.album.rev);
        EXPECT_EQ(album.notes, d.album.notes);
        EXPECT_EQ(sentRead(), c.readSent);
        if (!http()) {
            EXPECT_TRUE(receivedSoon(server, false, S("quit")));
        }
    }
}

TEST_P(CddbLookup, AnAnswerTheLookupDoesNotActOnStillShowsTheForm) {
    SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char* name;
        QStringList options;
        const char* artist;  // what the edit form shows
        const char* title;
        const char* genre;
        bool readSent;
    } cases[] = {
        // The form opens with the TOC's defaults.
        {"500 to the query", {S("--query-code"), S("500")}, "Before Artist", "Before Title", "defaultgenre", false},
        // The form opens with what the match line gave.
        {"500 to the read", {S("--read-code"), S("500")}, "Madonna", "Ray of light", "newage", true},
    };
    addRecord(S("newage"), S("9e0e740c"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CddbServer& server = start(c.options);
        ASSERT_TRUE(server.started()) << server.failure().toStdString();
        const Disc d = recordDisc(S("9e0e740c"));
        PendingAlbum album = d.album;
        Shown shown;
        const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
        EXPECT_TRUE(out.error.isEmpty()) << out.error.toStdString();
        EXPECT_TRUE(out.showForm);
        EXPECT_FALSE(out.notFound);
        EXPECT_TRUE(shown.messages.isEmpty());
        EXPECT_TRUE(shown.errors.isEmpty());
        EXPECT_EQ(album.artist, S(c.artist));
        EXPECT_EQ(album.title, S(c.title));
        EXPECT_EQ(album.genre, S(c.genre));
        EXPECT_EQ(titles(album), titles(d.album));
        EXPECT_EQ(album.rev, d.album.rev);
        EXPECT_EQ(sentRead(), c.readSent);
    }
}

TEST_P(CddbLookup, ABrokenServerEndsTheLookupWithAMessage) {
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    struct Case {
        const char* name;
        QStringList options;
        const char* transports;  // where the case applies
        const char* cddbpText;   // in the error (or the message with isMessage) over CDDBP
        const char* httpText;    // over HTTP
        bool isMessage;          // a plain message (the server's refusal), not an error
        bool quitSeen;           // CDDBP: the server took "quit"
        int readTimeoutMs = 3000;
    } cases[] = {
        {"garbage answer to the query",
         {S("--fault"), S("garbage")},
         "HT",
         "not a CDDB status line",
         "not a CDDB status line",
         false,
         true},
        {"garbage answer to the read",
         {S("--fault"), S("garbage"), S("--fault-at"), S("read")},
         "HT",
         "not a CDDB status line",
         "not a CDDB status line",
         false,
         true},
        {"a line of 6 MiB",
         {S("--fault"), S("longline")},
         "HT",
         "longer than 64 KiB",
         "larger than 4 MiB",
         false,
         true},
        {"a line of 1 MiB",
         {S("--fault"), S("longline"), S("--long-bytes"), S("1048576")},
         "HT",
         "longer than 64 KiB",
         "longer than 64 KiB",
         false,
         true},
        {"a match list without end",
         {S("--fault"), S("endless")},
         "HT",
         "more than 1000 matches",
         "larger than 4 MiB",
         false,
         true},
        {"a record without end",
         {S("--fault"), S("endless"), S("--fault-at"), S("read")},
         "HT",
         "longer than 10000 lines",
         "larger than 4 MiB",
         false,
         true},
        {"1001 matches",
         {S("--fault"), S("list")},
         "HT",
         "more than 1000 matches",
         "more than 1000 matches",
         false,
         true},
        {"a record of 10001 lines",
         {S("--fault"), S("list"), S("--fault-at"), S("read"), S("--list-lines"), S("10001")},
         "HT",
         "longer than 10000 lines",
         "longer than 10000 lines",
         false,
         true},
        {"closed before answering the query",
         {S("--fault"), S("close")},
         "HT",
         "closed the connection",
         "failed",
         false,
         false},
        {"closed before answering the read",
         {S("--fault"), S("close"), S("--fault-at"), S("read")},
         "HT",
         "closed the connection",
         "failed",
         false,
         false},
        {"silent after the query",
         {S("--fault"), S("silence")},
         "HT",
         "sent nothing for 0.3 seconds",
         "sent nothing for 0.3 seconds",
         false,
         true,
         300},
        {"silent from the start",
         {S("--fault"), S("silence"), S("--fault-at"), S("banner")},
         "T",
         "sent nothing for 0.3 seconds",
         "",
         false,
         true,
         300},
        {"greeting refused",
         {S("--banner"), S("432")},
         "T",
         "Could not connect to CDDB server, error 432",
         "",
         true,
         false},
        {"greeting of garbage",
         {S("--fault"), S("garbage"), S("--fault-at"), S("banner")},
         "T",
         "Could not connect to CDDB server, error ",
         "",
         true,
         true},
        {"handshake refused",
         {S("--hello"), S("431")},
         "T",
         "Handshake with CDDB server failed, error 431",
         "",
         true,
         true},
        {"HTTP status 503", {S("--http-status"), S("503")}, "H", "", "HTTP status 503", false, false},
    };
    writeRecord(S("rock"), d.id, QByteArray("DTITLE=A / B\nTTITLE0=x\nTTITLE1=y\nPLAYORDER=\n"));
    for (const Case& c : cases) {
        if (!QByteArray(c.transports).contains(GetParam()[0])) continue;
        SCOPED_TRACE(c.name);
        CddbServer& server = start(c.options);
        ASSERT_TRUE(server.started()) << server.failure().toStdString();
        CddbConfig cfg = config();
        cfg.readTimeoutMs = c.readTimeoutMs;
        PendingAlbum album = d.album;
        Shown shown;
        shown.answer = 0;
        QElapsedTimer clock;
        clock.start();
        const LookupOutcome out = RunLookup(cfg, d.query, album, shown.hooks());
        EXPECT_LT(clock.elapsed(), 5000);
        const QString text = QString::fromUtf8(http() ? c.httpText : c.cddbpText, -1);
        if (c.isMessage) {
            ASSERT_EQ(shown.messages.size(), 1);
            EXPECT_TRUE(shown.messages.first().startsWith(text)) << shown.messages.first().toStdString();
            EXPECT_TRUE(shown.errors.isEmpty());
            EXPECT_TRUE(out.error.isEmpty());
        } else {
            ASSERT_EQ(shown.errors.size(), 1);
            EXPECT_TRUE(shown.errors.first().contains(text)) << shown.errors.first().toStdString();
            EXPECT_EQ(out.error, shown.errors.first());
            EXPECT_TRUE(shown.messages.isEmpty());
        }
        EXPECT_FALSE(out.showForm);
        EXPECT_FALSE(out.notFound);
        EXPECT_TRUE(sameAlbum(album, d.album)) << "nothing of a failed lookup reaches the album";
        EXPECT_EQ(shown.statuses.last(), QString());
        if (!http()) {
            if (c.quitSeen)
                EXPECT_TRUE(receivedSoon(server, false, S("quit")));
            else
                EXPECT_FALSE(received(server, false).contains(S("quit")));
        }
    }
}

TEST_P(CddbLookup, NoServerListening) {
    // A port that was free a moment ago: nothing answers there.
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    CddbConfig cfg = config();
    cfg.host = S("127.0.0.1:") + QString::number(port);
    PendingAlbum album = d.album;
    Shown shown;
    const LookupOutcome out = RunLookup(cfg, d.query, album, shown.hooks());
    ASSERT_EQ(shown.errors.size(), 1);
    EXPECT_TRUE(shown.errors.first().startsWith(S("Could not connect to the CDDB server at 127.0.0.1:") +
                                                QString::number(port)))
        << shown.errors.first().toStdString();
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(sameAlbum(album, d.album));

    // A host setting that names no server at all never reaches the network.
    cfg.host = S("bad host");
    Shown bad;
    RunLookup(cfg, d.query, album, bad.hooks());
    ASSERT_EQ(bad.errors.size(), 1);
    EXPECT_TRUE(bad.errors.first().contains(S("is not a host name")));
}

TEST_P(CddbLookup, MalformedRecordIsAnErrorAndTheConnectionIsClosed) {
    const Disc d = discFromToc({150, 18477}, 1442, protocol());
    writeRecord(S("rock"), d.id, QByteArray("DTITLE=A / B\nTTITLE0=fine\nTTITLEone=bad\nPLAYORDER=\n"));
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    PendingAlbum album = d.album;
    Shown shown;
    const LookupOutcome out = RunLookup(config(), d.query, album, shown.hooks());
    ASSERT_EQ(shown.errors.size(), 1);
    EXPECT_TRUE(shown.errors.first().contains(S("not a whole number"))) << shown.errors.first().toStdString();
    EXPECT_TRUE(shown.errors.first().contains(S("line 3 of the record"))) << shown.errors.first().toStdString();
    EXPECT_FALSE(out.showForm);
    EXPECT_TRUE(sameAlbum(album, d.album));
    if (!http()) {
        EXPECT_TRUE(receivedSoon(server, false, S("quit")));
    }
}

// The loopback certificate trusted for one test only, whatever way it ends.
struct TrustedLoopback {
    TrustedLoopback() { test::TrustLoopbackCertificate(); }
    ~TrustedLoopback() { test::TrustLoopbackCertificate(false); }
};

TEST(CddbHttpOnly, HttpsWhenTheSslSettingIsOn) {
    TempFolder root;
    const Disc d = discFromToc({150, 18477}, 1442, S("H"));
    QDir().mkpath(root.file(S("db/rock")));
    {
        QFile f(root.file(S("db/rock/") + d.id));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("# xmcd\n# Revision: 3\nDISCID=") + d.id.toLatin1() +
                "\nDTITLE=Secure / Caf\xc3\xa9\nTTITLE0=One\nTTITLE1=Two\nPLAYORDER=\n");
    }
    CddbServer tls(root.file(S("db")), root.file(S("tls.log")),
                   {S("--tls"), test::LoopbackCertificatePath(), test::LoopbackKeyPath()});
    ASSERT_TRUE(tls.started()) << tls.failure().toStdString();
    CddbServer plain(root.file(S("db")), root.file(S("plain.log")));
    ASSERT_TRUE(plain.started()) << plain.failure().toStdString();
    auto config = [&](const CddbServer& server, bool ssl) {
        CddbConfig c;
        c.protocol = S("H");
        c.host = hostOf(server, true);
        c.ssl = ssl;
        c.httpTail = kHelloTail;
        c.connectTimeoutMs = 3000;
        c.readTimeoutMs = 3000;
        return c;
    };
    {
        SCOPED_TRACE("a trusted certificate");
        const TrustedLoopback trusted;
        PendingAlbum album = d.album;
        Shown shown;
        const LookupOutcome out = RunLookup(config(tls, true), d.query, album, shown.hooks());
        ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
        EXPECT_TRUE(out.showForm);
        EXPECT_EQ(album.artist, S("Secure"));
        EXPECT_EQ(album.title, S("Café"));
        EXPECT_EQ(titles(album), (QStringList{S("One"), S("Two")}));
        EXPECT_EQ(received(tls, true).size(), 2);
    }
    {
        SCOPED_TRACE("plain HTTP to the HTTPS server");
        PendingAlbum album = d.album;
        Shown shown;
        const LookupOutcome out = RunLookup(config(tls, false), d.query, album, shown.hooks());
        EXPECT_FALSE(out.error.isEmpty());
        EXPECT_TRUE(sameAlbum(album, d.album));
    }
    const qsizetype asked = received(tls, true).size();
    // The server logs a refused handshake on its own time, maybe after the client has given up:
    // the log is counted once it has stopped growing.
    const auto handshakesRefused = [&] {
        QStringList log = tls.log();
        QElapsedTimer quiet, all;
        quiet.start();
        all.start();
        while (quiet.elapsed() < 300 && all.elapsed() < 5000) {
            QThread::msleep(20);
            const QStringList now = tls.log();
            if (now.size() != log.size()) {
                log = now;
                quiet.restart();
            }
        }
        return log.filter(QRegularExpression(S("^H-TLS-FAILED "))).size();
    };
    const qsizetype refusedBefore = handshakesRefused();
    struct Case {
        const char* name;
        const CddbServer& server;
        const char* text;  // in the error
    } cases[] = {
        // No system trusts the certificate: nothing may be sent to a server that cannot be told
        // from another one.
        {"a certificate not trusted", tls, "is not trusted"},
        {"an HTTP server", plain, "Could not make a secure (HTTPS) connection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PendingAlbum album = d.album;
        Shown shown;
        const LookupOutcome out = RunLookup(config(c.server, true), d.query, album, shown.hooks());
        EXPECT_TRUE(out.error.contains(S(c.text))) << out.error.toStdString();
        EXPECT_TRUE(out.error.contains(hostOf(c.server, true))) << out.error.toStdString();
        EXPECT_EQ(shown.errors, QStringList{out.error});
        EXPECT_FALSE(out.showForm);
        EXPECT_FALSE(out.notFound);
        EXPECT_TRUE(sameAlbum(album, d.album));
    }
    EXPECT_EQ(received(tls, true).size(), asked);
    // The same certificate is not tried again and again: one handshake refused.
    EXPECT_EQ(handshakesRefused(), refusedBefore + 1) << tls.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(received(plain, true).isEmpty());
}

TEST(CddbHttpOnly, RedirectIsFollowed) {
    SKIP_WITHOUT_TESTDATA();
    TempFolder root;
    QDir().mkpath(root.file(S("db/newage")));
    ASSERT_TRUE(QFile::copy(test::sharedTestData() + S("/xmcd/9e0e740c"), root.file(S("db/newage/9e0e740c"))));
    CddbServer server(root.file(S("db")), root.file(S("log")), {});
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    const Disc d = discFromRecord(test::sharedTestData() + S("/xmcd/9e0e740c"), S("H"));
    CddbConfig cfg;
    cfg.protocol = S("H");
    cfg.host = hostOf(server, true);
    cfg.cgiPath = S("/moved/~cddb/cddb.cgi");
    cfg.httpTail = kHelloTail;
    cfg.readTimeoutMs = 3000;
    PendingAlbum album = d.album;
    Shown shown;
    const LookupOutcome out = RunLookup(cfg, d.query, album, shown.hooks());
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_EQ(album.artist, S("Madonna"));
    EXPECT_EQ(album.title, S("Ray of light"));
    const QStringList targets = received(server, true);
    ASSERT_EQ(targets.size(), 4);
    EXPECT_TRUE(targets[0].startsWith(S("/moved/~cddb/cddb.cgi?cmd=cddb+query+9e0e740c+")));
    EXPECT_TRUE(targets[1].startsWith(S("/~cddb/cddb.cgi?cmd=cddb+query+9e0e740c+")));
    EXPECT_EQ(targets[3], S("/~cddb/cddb.cgi?cmd=cddb+read+newage+9e0e740c") + kHelloTail);
}

// ---------------------------------------------------------------------------------------------
// The match chooser (built with the desktop program only)

#ifdef ALBUMORA_WITH_GUI
namespace {

const QStringList kMatches = {S("country 12025d03 Ernest Ray Everett - Single CD"), S("rock 12025d03 Nightwish / Once"),
                              S("misc 12025d03 Someone / Something")};

}  // namespace

TEST(FuzzyF, ShowsTheMatchesAndGivesTheChoice) {
    struct Case {
        const char* name;
        int select;  // row selected before the button, -1 none
        const char* button;
        int expected;
    } cases[] = {
        {"OK without a selection", -1, "BitBtn1", -1},
        {"second row and OK", 1, "BitBtn1", 1},
        {"last row and OK", 2, "BitBtn1", 2},
        {"a row and Cancel", 1, "BitBtn2", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList listed;
        QString caption, heading1, heading2;
        test::OnNextModal handler([&](QWidget* w) {
            caption = w->windowTitle();
            heading1 = test::child<QLabel>(w, S("Label1"))->text();
            heading2 = test::child<QLabel>(w, S("Label2"))->text();
            auto* list = test::child<QListWidget>(w, S("ListBox1"));
            for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
            if (c.select >= 0) list->setCurrentRow(c.select);
            test::child<QPushButton>(w, S(c.button))->click();
        });
        const int chosen = TFuzzyF::choose(kMatches, nullptr);
        EXPECT_TRUE(handler.fired());
        EXPECT_EQ(chosen, c.expected);
        EXPECT_EQ(listed, kMatches);
        EXPECT_EQ(caption, S("Multiple Matches found - Select one and press OK, or Cancel"));
        EXPECT_EQ(heading1, S("Genre (Category)"));
        EXPECT_EQ(heading2, S("Artist / Album"));
    }
}

// Lines that carry their source get headings that say so; the CD database's own lines keep the
// category heading, also in a window used before for marked lines.
TEST(FuzzyF, LinesMarkedWithTheirSourceSaySo) {
    TFuzzyF window;
    const QStringList mixed = {S("CD database: ") + kMatches[0], S("MusicBrainz: The Beatles / Abbey Road (GB, 1987-10-20, CD)")};
    for (const QStringList& lines : {mixed, kMatches}) {
        QString heading1, heading2;
        test::OnNextModal pick([&](QWidget* w) {
            heading1 = test::child<QLabel>(w, S("Label1"))->text();
            heading2 = test::child<QLabel>(w, S("Label2"))->text();
            test::child<QListWidget>(w, S("ListBox1"))->setCurrentRow(1);
            test::child<QPushButton>(w, S("BitBtn1"))->click();
        });
        EXPECT_EQ(window.choose(lines), 1);
        EXPECT_EQ(heading1, lines == mixed ? S("Source") : S("Genre (Category)"));
        EXPECT_EQ(heading2, lines == mixed ? S("Artist / Album (and what tells editions apart)") : S("Artist / Album"));
    }
}

TEST(FuzzyF, AWindowUsedTwiceStartsWithoutSelection) {
    TFuzzyF window;
    {
        test::OnNextModal pick([](QWidget* w) {
            test::child<QListWidget>(w, S("ListBox1"))->setCurrentRow(2);
            test::child<QPushButton>(w, S("BitBtn1"))->click();
        });
        EXPECT_EQ(window.choose(kMatches), 2);
    }
    test::OnNextModal ok([](QWidget* w) { test::child<QPushButton>(w, S("BitBtn1"))->click(); });
    EXPECT_EQ(window.choose(kMatches.mid(0, 2)), -1);
    EXPECT_EQ(window.ListBox1->count(), 2);
}

TEST_P(CddbLookup, TheChooserWindowPicksTheRecord) {
    SKIP_WITHOUT_TESTDATA();
    addRecord(S("folk"), S("9e0e740c"));
    addRecord(S("pop"), S("d1115d11"), S("9e0e740c"));
    CddbServer& server = start();
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    const Disc d = recordDisc(S("9e0e740c"));
    PendingAlbum album = d.album;
    LookupHooks hooks;
    hooks.choose = [](const QStringList& lines) { return TFuzzyF::choose(lines, nullptr); };
    QStringList listed;
    test::OnNextModal pick([&](QWidget* w) {
        auto* list = test::child<QListWidget>(w, S("ListBox1"));
        for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
        list->setCurrentRow(1);
        test::child<QPushButton>(w, S("BitBtn1"))->click();
    });
    const LookupOutcome out = RunLookup(config(), d.query, album, hooks);
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_EQ(listed, (QStringList{S("folk 9e0e740c Madonna / Ray of light"),
                                   S("pop 9e0e740c Madonna / The Immaculate Collection")}));
    EXPECT_EQ(album.title, S("The Immaculate Collection"));
    EXPECT_EQ(album.genre, S("other"));
    EXPECT_TRUE(commands().contains(S("cddb read pop 9e0e740c")));
}
#endif  // ALBUMORA_WITH_GUI
