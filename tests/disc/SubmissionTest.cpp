// The submission to the CD database over real parts: the xmcd record composed from an album's
// values and read back by the import's own record parser; the mail delivered to a real SMTP
// server process on loopback (tools/smtp_server.py), which reads every message with Python's
// email package, an independent reading of what went over the wire; servers that refuse, stay
// silent, talk garbage or are not there; and the flows over a real collection, a real settings
// file and a disc image in the drive.
#include "DMcd.h"
#include "DiscDrive.h"
#include "DiscImages.h"
#include "FakeDesktop.h"
#include "ImportParsers.h"
#include "Settings.h"
#include "Submission.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

using namespace albumora;
using namespace albumora::disc;
using albumora::test::TempFolder;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList L(std::initializer_list<const char*> lines) {
    QStringList out;
    for (const char* l : lines) out << S(l);
    return out;
}

void expectOk(const store::Status& st) { ASSERT_TRUE(st.isOk()) << st.text().toStdString(); }

// ---------------------------------------------------------------------------------------------
// The SMTP server process

struct Received {
    QString mailFrom;
    QStringList rcptTos;
    QString data;  // as the server got it after the DATA command
    QJsonObject headers;
    QString charset;
    QStringList bodyLines;  // the decoded body, split at its line ends
};

class SmtpServer {
public:
    explicit SmtpServer(const QStringList& options = {}) {
        process_.setProgram(test::systemPython());
        process_.setArguments(QStringList{QStringLiteral(ALBUMORA_SMTP_SERVER), QStringLiteral("--folder"), folder_.path()} +
                              options);
        process_.start();
        if (!process_.waitForStarted(10000)) return;
        while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
        }
        port_ = QString::fromLatin1(process_.readLine()).trimmed().toInt();
    }
    ~SmtpServer() { stop(); }
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    // After this the port is closed: nothing listens there any more.
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    int port() const { return port_; }
    QString address() const { return QStringLiteral("127.0.0.1:") + QString::number(port_); }
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

    std::vector<Received> messages() const {
        std::vector<Received> out;
        const QDir dir(folder_.path());
        for (const QString& name : dir.entryList({QStringLiteral("message*.json")}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
            Received r;
            r.mailFrom = o.value(QStringLiteral("mail_from")).toString();
            for (const QJsonValue& v : o.value(QStringLiteral("rcpt_tos")).toArray()) r.rcptTos << v.toString();
            r.data = o.value(QStringLiteral("data")).toString();
            r.headers = o.value(QStringLiteral("headers")).toObject();
            r.charset = o.value(QStringLiteral("charset")).toString();
            r.bodyLines = o.value(QStringLiteral("body")).toString().split(QStringLiteral("\r\n"));
            // The last line end leaves an empty text behind it, which is no line.
            if (!r.bodyLines.isEmpty() && r.bodyLines.back().isEmpty()) r.bodyLines.removeLast();
            out.push_back(std::move(r));
        }
        return out;
    }

private:
    TempFolder folder_;
    QProcess process_;
    int port_ = 0;
};

#define ASSERT_SERVER(server) ASSERT_GT((server).port(), 0) << "the SMTP server did not start: " << (server).errors().toStdString()

QString header(const Received& r, const char* name) { return r.headers.value(QString::fromLatin1(name)).toString(); }

// ---------------------------------------------------------------------------------------------
// Record fixtures

const QStringList kOfficial = L({"blues", "rock", "misc", "classical", "country", "data", "folk", "jazz", "newage",
                                  "reggae", "soundtrack"});
const QStringList kToc = L({"# 150", "# 18477", "# 40000", "#", "# Disc length: 1442 seconds"});
const QString kId = QStringLiteral("2a05a003");

SubmissionAlbum someAlbum() {
    SubmissionAlbum a;
    a.artist = S("Miles Davis");
    a.album = S("Kind of Blue");
    a.year = S("1959");
    a.genre = S("jazz");
    a.rev = S("0");
    a.trackTitles = L({"So What", "Freddie Freeloader", "Blue in Green"});
    return a;
}

// The lines after the track titles and before "PLAYORDER=".
QStringList extendedLines(const SubmissionRecord& r) {
    const qsizetype play = r.lines.indexOf(QStringLiteral("PLAYORDER="));
    qsizetype first = play;
    while (first > 0 && !r.lines.at(first - 1).startsWith(QLatin1String("TTITLE")) &&
           !r.lines.at(first - 1).startsWith(QLatin1String("DGENRE=")))
        --first;
    return r.lines.mid(first, play - first);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The record

TEST(SubmissionRecord, AWholeRecord) {
    SubmissionAlbum a = someAlbum();
    a.notes = S("COST=12.50\r\nEXTD=Recorded 1959\r\nEXTT1=Take 2 of the session\nbought in Hamburg\r\nEXTD= at 30th Street");
    const SubmissionRecord r = ComposeSubmission(a, kToc, kId, kOfficial, S("7.0a"));
    EXPECT_EQ(r.category, S("jazz"));
    EXPECT_EQ(r.revision, 1);
    EXPECT_FALSE(r.revisionAssumed);
    EXPECT_EQ(r.subject, S("cddb jazz 2a05a003"));
    EXPECT_EQ(r.lines, L({"# xmcd",
                          "#",
                          "# Track frame offsets:",
                          "# 150",
                          "# 18477",
                          "# 40000",
                          "#",
                          "# Disc length: 1442 seconds",
                          "#",
                          "# Revision: 1",
                          "# Submitted via: Albumora 7.0a",
                          "#",
                          "DISCID=2a05a003",
                          "DTITLE=Miles Davis / Kind of Blue",
                          "DYEAR=1959",
                          "DGENRE=jazz",
                          "TTITLE0=So What",
                          "TTITLE1=Freddie Freeloader",
                          "TTITLE2=Blue in Green",
                          "EXTD=Recorded 1959",
                          "EXTD= at 30th Street",
                          "EXTT0=",
                          "EXTT1=Take 2 of the session",
                          "EXTT2=",
                          "PLAYORDER="}));
}

TEST(SubmissionRecord, CategoryAndSubject) {
    struct Case {
        const char* genre;
        const char* category;
        const char* subject;
    } cases[] = {
        {"rock", "rock", "cddb rock 2a05a003"},
        // Not a category of the database.
        {"Pop", "misc", "cddb misc 2a05a003"},
        {"acid jazz", "misc", "cddb misc 2a05a003"},
        {"", "misc", "cddb misc 2a05a003"},
        // The 10-character field cuts "soundtrack" short; only that exact text is mended.
        {"soundtrac", "soundtrack", "cddb soundtrack 2a05a003"},
        {"Soundtrac", "misc", "cddb misc 2a05a003"},
        {"soundtrack", "soundtrack", "cddb soundtrack 2a05a003"},
        // Compared without regard to case, sent as stored; trimmed only in the subject.
        {"Rock", "Rock", "cddb Rock 2a05a003"},
        {"NEWAGE", "NEWAGE", "cddb NEWAGE 2a05a003"},
        {" blues", " blues", "cddb blues 2a05a003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.genre);
        SubmissionAlbum a = someAlbum();
        a.genre = S(c.genre);
        const SubmissionRecord r = ComposeSubmission(a, kToc, kId, kOfficial, S("7.0a"));
        EXPECT_EQ(r.category, S(c.category));
        EXPECT_EQ(r.subject, S(c.subject));
        // The record itself keeps the genre as stored.
        EXPECT_TRUE(r.lines.contains(S("DGENRE=") + S(c.genre)));
    }
    // Without the categories every genre but the mended one is misc.
    SubmissionAlbum a = someAlbum();
    EXPECT_EQ(ComposeSubmission(a, kToc, kId, {}, S("7.0a")).category, S("misc"));
}

TEST(SubmissionRecord, Revisions) {
    struct Case {
        const char* rev;
        int revision;
        bool assumed;
        const char* stored;  // the Rev character afterwards
    } cases[] = {
        {"0", 1, false, "1"},
        {"1", 2, false, "2"},
        {"9", 10, false, ":"},
        // An album without a revision is taken for revision 0.
        {"", 1, true, "1"},
        {"}", 78, false, "~"},
        // 126 - 48 = 78 is what the lookup stores for 78 and more.
        {"~", 79, false, "\x7f"},
        // Codes are those of the table's code page: 0x80 is the euro sign there.
        {"\xe2\x82\xac", 81, false, "\xc2\x81"},
        // Code 173 is revision 125, the last one that still advances.
        {"\xc2\xad", 126, false, "\xc2\xae"},
        {"\xc2\xae", 126, false, "\xc2\xae"},
        {"\xc3\xbf", 126, false, "\xc2\xae"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rev);
        SubmissionAlbum a = someAlbum();
        a.rev = S(c.rev);
        const SubmissionRecord r = ComposeSubmission(a, kToc, kId, kOfficial, S("7.0a"));
        EXPECT_EQ(r.revision, c.revision);
        EXPECT_EQ(r.revisionAssumed, c.assumed);
        EXPECT_EQ(r.lines.filter(QStringLiteral("# Revision: ")), QStringList{S("# Revision: ") + QString::number(c.revision)});
        EXPECT_EQ(RevisionCharacter(r.revision), S(c.stored));
        // What is stored is read back as the revision that was sent.
        EXPECT_EQ(RevisionOf(RevisionCharacter(r.revision)), r.revision);
    }
}

TEST(SubmissionRecord, ExtendedData) {
    struct Case {
        const char* what;
        const char* notes;
        int tracks;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"no notes", "", 2, L({"EXTD=", "EXTT0=", "EXTT1="})},
        {"notes without tagged lines", "COST=1.00\r\nVALUE=2.00", 1, L({"EXTD=", "EXTT0="})},
        {"disc lines kept unchanged, in notes order", "EXTD=one \r\nx\r\nEXTD=\r\nEXTD=  three", 1,
         L({"EXTD=one ", "EXTD=", "EXTD=  three", "EXTT0="})},
        // "EXTT1=ab" is 8 characters: it is replaced by the next line of track 1.
        {"the first line of 9 or more characters wins", "EXTT1=ab\r\nEXTT1=first long\r\nEXTT1=second long", 2,
         L({"EXTD=", "EXTT0=", "EXTT1=first long"})},
        {"exactly 9 characters already win", "EXTT0=abc\r\nEXTT0=later", 1, L({"EXTD=", "EXTT0=abc"})},
        {"a later short line does not replace a long one", "EXTT0=long enough\r\nEXTT0=x", 1,
         L({"EXTD=", "EXTT0=long enough"})},
        {"two digits", "EXTT10=the eleventh track", 11,
         L({"EXTD=", "EXTT0=", "EXTT1=", "EXTT2=", "EXTT3=", "EXTT4=", "EXTT5=", "EXTT6=", "EXTT7=", "EXTT8=", "EXTT9=",
            "EXTT10=the eleventh track"})},
        {"a leading zero", "EXTT01=second", 2, L({"EXTD=", "EXTT0=", "EXTT01=second"})},
        // The first "=" at position 8 has three digits before it.
        {"three digits are ignored", "EXTT100=hundred\r\nEXTT001=x", 2, L({"EXTD=", "EXTT0=", "EXTT1="})},
        {"tracks beyond the last are not written", "EXTT2=third\r\nEXTT5=sixth", 2, L({"EXTD=", "EXTT0=", "EXTT1="})},
        {"no number", "EXTTx=what\r\nEXTT =blank\r\nEXTT=none\r\nEXTT-1=minus", 2, L({"EXTD=", "EXTT0=", "EXTT1="})},
        {"upper case only", "extt0=lower case\r\nextd=lower case", 1, L({"EXTD=", "EXTT0="})},
        {"lines split at lone line feeds and carriage returns", "EXTT0=on line one\nEXTD=two\rEXTT0=three", 1,
         L({"EXTD=two", "EXTT0=on line one"})},
        {"an album without tracks", "EXTT0=nothing to attach it to", 0, L({"EXTD="})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SubmissionAlbum a = someAlbum();
        a.notes = S(c.notes);
        a.trackTitles.clear();
        for (int k = 0; k < c.tracks; ++k) a.trackTitles << QStringLiteral("Song %1").arg(k + 1);
        const SubmissionRecord r = ComposeSubmission(a, kToc, kId, kOfficial, S("7.0a"));
        EXPECT_EQ(extendedLines(r), c.expected);
        EXPECT_EQ(r.lines.back(), S("PLAYORDER="));
        EXPECT_EQ(r.lines.filter(QRegularExpression(QStringLiteral("^TTITLE"))).size(), c.tracks);
    }
}

TEST(SubmissionRecord, YearTitlesAndLineBreaksInFields) {
    struct Case {
        const char* what;
        const char* year;
        QStringList titles;
        const char* artist;
        QStringList expected;  // the lines from DTITLE up to the last title
    };
    const std::vector<Case> cases = {
        {"a year", "1999", L({"One"}), "A", L({"DTITLE=A / Album", "DYEAR=1999", "DGENRE=rock", "TTITLE0=One"})},
        {"no year", "", L({"One"}), "A", L({"DTITLE=A / Album", "DGENRE=rock", "TTITLE0=One"})},
        {"a blank year", "  ", L({"One"}), "A", L({"DTITLE=A / Album", "DGENRE=rock", "TTITLE0=One"})},
        {"titles trimmed", "", L({"  padded  ", "\ttab", ""}), "A",
         L({"DTITLE=A / Album", "DGENRE=rock", "TTITLE0=padded", "TTITLE1=tab", "TTITLE2="})},
        // A line break inside a field must not start a keyword line of its own.
        {"line breaks in fields", "", L({"Part one\r\nTTITLE5=forged"}), "A\r\nDISCID=ffffffff", 
         L({"DTITLE=A  DISCID=ffffffff / Album", "DGENRE=rock", "TTITLE0=Part one  TTITLE5=forged"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SubmissionAlbum a;
        a.artist = S(c.artist);
        a.album = S("Album");
        a.genre = S("rock");
        a.year = S(c.year);
        a.rev = S("0");
        a.trackTitles = c.titles;
        const SubmissionRecord r = ComposeSubmission(a, kToc, kId, kOfficial, S("7.0a"));
        const qsizetype first = r.lines.indexOf(r.lines.filter(QStringLiteral("DTITLE=")).value(0));
        ASSERT_GE(first, 0);
        EXPECT_EQ(r.lines.mid(first, c.expected.size()), c.expected);
        EXPECT_EQ(r.lines.filter(QRegularExpression(QStringLiteral("^DISCID="))), QStringList{S("DISCID=2a05a003")});
        EXPECT_EQ(r.lines.size(), kToc.size() + 8 + c.expected.size() + 1 + c.titles.size() + 1);
    }
}

TEST(SubmissionRecord, ReadBackByTheImport) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const test::DiscLayout layout = test::randomLayout(rng, {.tracks = 3 + round * 4});
        DiscToc toc;
        toc.trackCount = std::uint8_t(layout.trackCount());
        for (int n = 1; n <= layout.trackCount(); ++n) toc.entries[size_t(n)] = TocEntry::fromFrames(layout.starts[size_t(n - 1)]);
        toc.entries[0] = TocEntry::fromFrames(layout.leadOut);
        const QString id = DiscDrive::DiscIdText(CalcDiscID(toc));
        const ComposedToc composed = DiscDrive::ComposeTocText(toc, TocMode::Submission, QString());

        SubmissionAlbum a;
        a.artist = S("Ensemble Ä");
        a.album = S("Works / Pieces, vol. ") + QString::number(round);
        a.year = round % 2 ? S("2001") : QString();
        a.genre = S("classical");
        a.rev = QString::number(round);
        for (int k = 0; k < layout.trackCount(); ++k) a.trackTitles << S("Movement ") + QString::number(k + 1) + S(": Allegro");
        a.notes = S("EXTD=Live\r\nEXTT0=first of all");
        const SubmissionRecord r = ComposeSubmission(a, composed.submissionLines, id, kOfficial, S("7.0a"));

        PendingAlbum p;
        p.mode = EditMode::AddCd;
        const XmcdResult x = ParseXmcdRecord(r.lines, p, [](const QString&) { return store::Result<bool>(false); });
        ASSERT_FALSE(x.refused) << x.errors.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(x.errors.isEmpty()) << x.errors.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(x.discId.value_or(QString()), id);
        EXPECT_EQ(x.discLength.value_or(-1), layout.leadOut / 75);
        EXPECT_EQ(p.albumId, id);
        EXPECT_EQ(p.artist, a.artist);
        EXPECT_EQ(p.title, a.album);
        EXPECT_EQ(p.genre, a.genre);
        EXPECT_EQ(p.year, a.year);
        EXPECT_EQ(p.rev, QString::number(round + 1));
        QStringList titles;
        for (const editing::TrackRow& row : p.tracks) titles << row.title;
        EXPECT_EQ(titles, a.trackTitles);
    }
}

// ---------------------------------------------------------------------------------------------
// The mail server's address

TEST(MailServerAddress, Forms) {
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
    } cases[] = {
        {"mail.example.org", "mail.example.org", 25},
        {"mail.example.org:587", "mail.example.org", 587},
        {"  127.0.0.1:2525  ", "127.0.0.1", 2525},
        {"smtp_relay-2.local:65535", "smtp_relay-2.local", 65535},
        {"[::1]:2525", "::1", 2525},
        {"[::1]", "::1", 25},
        {"::1", "::1", 25},
        {"fe80::1%eth0", "fe80::1%eth0", 25},
        {"", nullptr, 0},
        {"   ", nullptr, 0},
        {"mail.example.org:", nullptr, 0},
        {":25", nullptr, 0},
        {"mail.example.org:0", nullptr, 0},
        {"mail.example.org:65536", nullptr, 0},
        {"mail.example.org:0000025", nullptr, 0},
        {"mail.example.org:2x", nullptr, 0},
        {"mail example.org", nullptr, 0},
        {"smtp://mail.example.org", nullptr, 0},
        {"user@mail.example.org", nullptr, 0},
        {"[::1", nullptr, 0},
        {"[::1]x", nullptr, 0},
        {"[::1]:", nullptr, 0},
        {"m\xc3\xa4il.example.org", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QString error;
        const std::optional<MailServer> s = ParseMailServer(S(c.text), &error);
        if (!c.host) {
            EXPECT_FALSE(s.has_value());
            EXPECT_TRUE(error.startsWith(QStringLiteral("Invalid mail server address"))) << error.toStdString();
            continue;
        }
        ASSERT_TRUE(s.has_value()) << error.toStdString();
        EXPECT_EQ(s->host, S(c.host));
        EXPECT_EQ(s->port, c.port);
    }
}

// ---------------------------------------------------------------------------------------------
// The mail over a real server

TEST(SendMail, EveryLineArrivesAsSent) {
    SmtpServer server;
    ASSERT_SERVER(server);
    MailMessage m;
    m.from = S("me@example.org");
    m.to = S("test-submit@example.net");
    m.subject = S("cddb rock 2a05a003");
    // Lines with a leading "." must arrive whole: a lone "." would otherwise end the message.
    m.body = L({"# xmcd", ".", ".leading dot", "..two dots", "", "trailing blank ", "Latin-1: \xc3\xa4\xc3\xb6\xc3\xbc \xc3\x9f",
                "Outside: \xe2\x82\xac \xe2\x80\x9cquoted\xe2\x80\x9d", ".", "PLAYORDER="});
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const MailResult r = SendMail(server.address(), m, {2000, 10000});
    ASSERT_TRUE(r.sent) << r.error.toStdString();
    EXPECT_TRUE(r.error.isEmpty());

    const std::vector<Received> got = server.messages();
    ASSERT_EQ(got.size(), 1u);
    const Received& g = got.front();
    EXPECT_EQ(g.mailFrom, m.from);
    EXPECT_EQ(g.rcptTos, QStringList{m.to});
    EXPECT_EQ(header(g, "From"), m.from);
    EXPECT_EQ(header(g, "To"), m.to);
    EXPECT_EQ(header(g, "Subject"), m.subject);
    EXPECT_EQ(header(g, "Content-Type"), S("text/plain; charset=ISO-8859-1"));
    EXPECT_EQ(header(g, "Content-Transfer-Encoding"), S("8bit"));
    EXPECT_EQ(g.charset, S("iso-8859-1"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^<[0-9a-f-]{36}@example\\.org>$")).match(header(g, "Message-ID")).hasMatch())
        << header(g, "Message-ID").toStdString();
    const QDateTime date = QDateTime::fromString(header(g, "Date"), Qt::RFC2822Date);
    EXPECT_TRUE(date.isValid()) << header(g, "Date").toStdString();
    EXPECT_GE(date, before);
    EXPECT_LE(date, QDateTime::currentDateTime().addSecs(1));
    // Characters outside ISO-8859-1 arrive as "?".
    QStringList expected = m.body;
    expected[7] = S("Outside: ? ?quoted?");
    EXPECT_EQ(g.bodyLines, expected);
    // Every line ends with CR LF, none with a bare one.
    EXPECT_FALSE(QString(g.data).remove(QStringLiteral("\r\n")).contains(QRegularExpression(QStringLiteral("[\r\n]"))));
}

TEST(SendMail, LinesTooLongForMailGoQuotedPrintable) {
    SmtpServer server;
    ASSERT_SERVER(server);
    MailMessage m{S("me@example.org"), S("test-submit@example.net"), S("cddb misc 2a05a003"), {}};
    m.body = QStringList{S("EXTD=short"), S("EXTD=") + QString(3000, QLatin1Char('x')) + S(" = \xc3\xa9nd "),
                         S("EXTT0=\ttab and blank at the end \t"), S(".dot after a long line"), S("=3D is no escape here")};
    const MailResult r = SendMail(server.address(), m, {2000, 10000});
    ASSERT_TRUE(r.sent) << r.error.toStdString();
    const std::vector<Received> got = server.messages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(header(got[0], "Content-Transfer-Encoding"), S("quoted-printable"));
    EXPECT_EQ(got[0].bodyLines, m.body);
    for (const QString& line : got[0].data.split(QStringLiteral("\r\n"))) EXPECT_LE(line.size(), 998);
}

TEST(SendMail, HeadersStayHeaders) {
    SmtpServer server;
    ASSERT_SERVER(server);
    MailMessage m{S("me@example.org"), S("test-submit@example.net"),
                  S("cddb misc 2a05a003\r\nBcc: victim@example.com\r\n\r\nforged body"), L({"body"})};
    ASSERT_TRUE(SendMail(server.address(), m, {2000, 10000}).sent);
    m.subject = S("cddb jazz caf\xc3\xa9");
    ASSERT_TRUE(SendMail(server.address(), m, {2000, 10000}).sent);
    const std::vector<Received> got = server.messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(header(got[0], "Subject"), S("cddb misc 2a05a003  Bcc: victim@example.com    forged body"));
    EXPECT_FALSE(got[0].data.contains(QStringLiteral("\r\nBcc:")));
    EXPECT_EQ(got[0].rcptTos, QStringList{m.to});
    EXPECT_EQ(got[0].bodyLines, L({"body"}));
    // Text outside ASCII goes as an encoded word.
    EXPECT_EQ(header(got[1], "Subject"), S("cddb jazz caf\xc3\xa9"));
}

TEST(SendMail, FailuresSayWhy) {
    struct Case {
        const char* what;
        QStringList options;  // for the server; "closed" stops it before the send
        QStringList says;     // parts of the error text
        int totalMs;
    };
    const std::vector<Case> cases = {
        {"recipient refused", {QStringLiteral("--refuse-rcpt"), QStringLiteral("550")},
         L({"550", "Recipient address rejected"}), 10000},
        {"message refused", {QStringLiteral("--refuse-data"), QStringLiteral("554")}, L({"554", "submissions are closed today"}),
         10000},
        {"nothing listens", {QStringLiteral("closed")}, L({"Couldn't connect to server"}), 10000},
        {"silent server", {QStringLiteral("--mode"), QStringLiteral("silent")}, L({"Timeout was reached"}), 1200},
        {"garbage", {QStringLiteral("--mode"), QStringLiteral("garbage")}, L({"The mail server answered:"}), 5000},
        // libcurl gives up on the line before the time is out; how it words that is its own.
        {"an endless line", {QStringLiteral("--mode"), QStringLiteral("huge")}, {}, 1200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool closed = c.options == QStringList{QStringLiteral("closed")};
        SmtpServer server(closed ? QStringList() : c.options);
        ASSERT_SERVER(server);
        if (closed) server.stop();
        MailMessage m{S("me@example.org"), S("test-submit@example.net"), S("cddb rock 2a05a003"), L({"# xmcd"})};
        QElapsedTimer clock;
        clock.start();
        const MailResult r = SendMail(server.address(), m, {1000, c.totalMs});
        EXPECT_FALSE(r.sent);
        EXPECT_LT(clock.elapsed(), c.totalMs + 2000);
        EXPECT_TRUE(r.error.startsWith(S("The mail to test-submit@example.net could not be sent through ") + server.address()))
            << r.error.toStdString();
        for (const QString& part : c.says) EXPECT_TRUE(r.error.contains(part)) << r.error.toStdString();
        // Whatever the server sent, the text stays short and one message box long.
        EXPECT_LT(r.error.size(), 1000);
        EXPECT_TRUE(server.messages().empty());
    }
}

TEST(SendMail, UnusableAddressesAreRefusedBeforeConnecting) {
    SmtpServer server;
    ASSERT_SERVER(server);
    struct Case {
        const char* server;
        const char* from;
        const char* to;
        const char* says;
    } cases[] = {
        {"", "me@example.org", "t@example.net", "Invalid mail server address"},
        {"127.0.0.1:abc", "me@example.org", "t@example.net", "the port must be a number"},
        {nullptr, "", "t@example.net", "The sender's e-mail address is empty"},
        {nullptr, "me@example.org>\r\nRCPT TO:<victim@example.com", "t@example.net", "cannot be used"},
        {nullptr, "Me <me@example.org>", "t@example.net", "cannot be used"},
        {nullptr, "me@example.org", "t@exam ple.net", "The recipient's e-mail address"},
        {nullptr, "m\xc3\xa9@example.org", "t@example.net", "cannot be used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        const MailMessage m{S(c.from), S(c.to), S("cddb rock 2a05a003"), L({"# xmcd"})};
        const MailResult r = SendMail(c.server ? S(c.server) : server.address(), m, {2000, 5000});
        EXPECT_FALSE(r.sent);
        EXPECT_TRUE(r.error.contains(S(c.says))) << r.error.toStdString();
    }
    EXPECT_TRUE(server.messages().empty());
}

// ---------------------------------------------------------------------------------------------
// The flows over a collection, the settings file and the disc in the drive

namespace {

// A collection in a temporary folder, its settings file as first run writes it, and a disc
// image in the drive: three tracks at frames 150, 18477 and 40000, lead-out at 24:02:30.
class SubmitFlow : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<store::TDM>(dir.path());
        expectOk(dm->EnsureCollectionFiles());
        expectOk(dm->OpenCollectionTables());
        settings = std::make_unique<settings::SettingsFile>(dir.path());
        ASSERT_TRUE(settings->writeFirstRun(QString(), QString()));
        for (const auto& [key, value] : settings->ini().readSection(QStringLiteral("Official"))) official << value.trimmed();

        layout = test::DiscLayout{{150, 18477, 40000}, 1442 * 75 + 30, 0};
        image = test::writeImage(dir.path(), QStringLiteral("disc"), layout, test::ImageKind::Cue);
        drive = std::make_unique<DiscDrive>(DiscSettings{image, 0, QStringLiteral("T")}, state);
        drive->setSleep([](int) {});
        drive->setDeviceLister([] { return QStringList(); });
        ASSERT_TRUE(drive->ReadDisc());
        discId = state.currentDiscId;
        ASSERT_EQ(discId, test::libdiscidFreedbId(layout));
    }

    struct Album {
        QString id, artist, album, genre, year, rev, notes;
        QStringList titles;
    };
    Album theDisc() const {
        return {discId, S("Miles Davis"), S("Kind of Blue"), S("jazz"), S("1959"), S("0"),
                S("EXTD=Recorded 1959\r\nEXTT2=Bill Evans, piano"), L({"So What", "Freddie Freeloader", "Blue in Green"})};
    }
    void add(const Album& a) {
        store::Cursor& t = dm->tblAlbums;
        expectOk(t.append());
        expectOk(t.setText(QStringLiteral("ID"), a.id));
        expectOk(t.setText(QStringLiteral("Artist"), a.artist));
        expectOk(t.setText(QStringLiteral("Album"), a.album));
        expectOk(t.setText(QStringLiteral("Genre"), a.genre));
        expectOk(t.setText(QStringLiteral("YR"), a.year));
        expectOk(t.setText(QStringLiteral("Rev"), a.rev));
        expectOk(t.setText(QStringLiteral("Notes"), a.notes));
        expectOk(t.post());
        // Stored out of order: the record follows the track numbers, not the entry order.
        for (qsizetype k = a.titles.size() - 1; k >= 0; --k) {
            store::Cursor& c = dm->tblCD;
            expectOk(c.append());
            expectOk(c.setText(QStringLiteral("ID"), a.id));
            expectOk(c.setText(QStringLiteral("NR"), store::TDM::PadNumber(k + 1, 3)));
            expectOk(c.setText(QStringLiteral("Track"), a.titles.at(k)));
            expectOk(c.setText(QStringLiteral("Secs"), QStringLiteral("200")));
            expectOk(c.post());
        }
        expectOk(dm->FlushCollection());
    }
    void makeCurrent(const QString& id) {
        expectOk(dm->tblAlbums.setOrder(QStringLiteral("ID")));
        auto found = dm->tblAlbums.findKey({id});
        ASSERT_TRUE(found.isOk() && *found) << id.toStdString();
    }
    void setMailSettings(const QString& server, const QString& mail, const QString& mailbox = QStringLiteral("test-submit@example.net")) {
        auto& ini = settings->ini();
        ASSERT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Server"), server));
        ASSERT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Mail"), mail));
        if (!mailbox.isNull()) {
            ASSERT_TRUE(ini.write(QStringLiteral("Current"), QStringLiteral("Mailbox"), mailbox));
        }
    }
    SubmitContext context() {
        SubmitContext c{*dm, state};
        c.officialCategories = official;
        c.settingsFile = settings.get();
        c.notSaved = [](const QString& message) { ADD_FAILURE() << message.toStdString(); };
        c.showOptions = [this] {
            ++optionsShown;
            if (onOptions) onOptions();
        };
        c.mail = {2000, 10000};
        return c;
    }
    // The Rev field as an independent reader finds it in the file.
    QString revOnDisk(const QString& id) {
        const test::ProcessResult r = test::runPython(
            QStringLiteral("import sys, dbfread\n"
                           "for row in dbfread.DBF(sys.argv[1], encoding='cp1252', char_decode_errors='replace'):\n"
                           "    row = {k.upper(): v for k, v in row.items()}\n"
                           "    if row['ID'] == sys.argv[2]: print(repr(row['REV']))\n"),
            {dm->tablePath(QStringLiteral("ALBUMS.DBF")), id});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.out.trimmed();
    }
    store::Result<SubmitOutcome> submit() {
        SubmitContext c = context();
        return Submit(c);
    }

    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<store::TDM> dm;
    std::unique_ptr<settings::SettingsFile> settings;
    QStringList official;
    test::DiscLayout layout;
    QString image;
    DiscState state;
    std::unique_ptr<DiscDrive> drive;
    QString discId;
    int optionsShown = 0;
    std::function<void()> onOptions;
};

QStringList bodyOf(const Received& r) { return r.bodyLines; }

}  // namespace

TEST_F(SubmitFlow, SendsTheRecordThenAdvancesTheRevision) {
    SmtpServer server;
    ASSERT_SERVER(server);
    const Album a = theDisc();
    add(a);
    add({S("0a0b0c0d"), S("Other"), S("Other album"), S("rock"), S(""), S("5"), S(""), L({"Other song"})});
    makeCurrent(discId);
    setMailSettings(server.address(), S("me@example.org"));

    auto outcome = submit();
    ASSERT_TRUE(outcome.isOk()) << outcome.error().text().toStdString();
    EXPECT_EQ(*outcome, SubmitOutcome::Submitted);
    EXPECT_EQ(desk.prompts.texts(), QStringList{submitmsg::kThankYou});
    EXPECT_EQ(optionsShown, 0);

    std::vector<Received> got = server.messages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mailFrom, S("me@example.org"));
    EXPECT_EQ(got[0].rcptTos, QStringList{S("test-submit@example.net")});
    EXPECT_EQ(header(got[0], "Subject"), S("cddb jazz ") + discId);
    // The body is the record of the album's values and the disc's TOC, line for line ...
    const SubmissionRecord expected =
        ComposeSubmission({a.artist, a.album, a.year, a.genre, a.rev, a.notes, a.titles},
                          DiscDrive::ComposeTocText(state.toc, TocMode::Submission, QString()).submissionLines, discId,
                          official, albumora::kProductVersion);
    EXPECT_EQ(bodyOf(got[0]), expected.lines);
    // ... which holds this disc's offsets and this album's tracks in track order.
    EXPECT_EQ(got[0].bodyLines.mid(3, 5), kToc);
    EXPECT_TRUE(got[0].bodyLines.contains(S("# Revision: 1")));
    EXPECT_TRUE(got[0].bodyLines.contains(S("DISCID=") + discId));
    EXPECT_EQ(got[0].bodyLines.filter(QRegularExpression(QStringLiteral("^TTITLE"))),
              L({"TTITLE0=So What", "TTITLE1=Freddie Freeloader", "TTITLE2=Blue in Green"}));
    EXPECT_TRUE(got[0].bodyLines.contains(S("EXTT2=Bill Evans, piano")));

    // The revision is stored, posted and on disk; the other album is untouched.
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("Rev")), S("1"));
    EXPECT_EQ(revOnDisk(discId), S("'1'"));
    EXPECT_EQ(revOnDisk(S("0a0b0c0d")), S("'5'"));
    // Auth is read and written back with its default.
    EXPECT_EQ(settings->ini().readString(QStringLiteral("SMTP"), QStringLiteral("Auth")), S("1"));

    // The next submission carries the next revision; without a Mailbox setting it goes to the
    // CD database's own mailbox (here the test server takes it).
    ASSERT_TRUE(settings->ini().write(QStringLiteral("Current"), QStringLiteral("Mailbox"), QString()));
    ASSERT_TRUE(settings->ini().writeBool(QStringLiteral("SMTP"), QStringLiteral("Auth"), false));
    outcome = submit();
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Submitted);
    got = server.messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].rcptTos, QStringList{kSubmissionMailbox});
    EXPECT_TRUE(got[1].bodyLines.contains(S("# Revision: 2")));
    EXPECT_EQ(revOnDisk(discId), S("'2'"));
    EXPECT_EQ(settings->ini().readString(QStringLiteral("SMTP"), QStringLiteral("Auth")), S("0"));
}

TEST_F(SubmitFlow, RevisionCharactersOfTheTable) {
    SmtpServer server;
    ASSERT_SERVER(server);
    setMailSettings(server.address(), S("me@example.org"));
    struct Case {
        const char* rev;
        const char* line;
        const char* stored;  // repr() of the field in the file
    } cases[] = {
        {"9", "# Revision: 10", "':'"},
        {"", "# Revision: 1", "'1'"},
        {"~", "# Revision: 79", "'\\x7f'"},
    };
    Album a = theDisc();
    add(a);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rev);
        makeCurrent(discId);
        expectOk(dm->tblAlbums.edit());
        expectOk(dm->tblAlbums.setText(QStringLiteral("Rev"), S(c.rev)));
        expectOk(dm->tblAlbums.post());
        const size_t before = server.messages().size();
        auto outcome = submit();
        ASSERT_TRUE(outcome.isOk());
        EXPECT_EQ(*outcome, SubmitOutcome::Submitted);
        const std::vector<Received> got = server.messages();
        ASSERT_EQ(got.size(), before + 1);
        EXPECT_EQ(got.back().bodyLines.filter(QStringLiteral("# Revision:")), QStringList{S(c.line)});
        EXPECT_EQ(revOnDisk(discId), S(c.stored));
    }
}

TEST_F(SubmitFlow, AFailedSendStoresNothing) {
    add(theDisc());
    makeCurrent(discId);
    struct Case {
        const char* what;
        QStringList options;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"recipient refused", {QStringLiteral("--refuse-rcpt"), QStringLiteral("550")}, "Recipient address rejected"},
        {"message refused", {QStringLiteral("--refuse-data"), QStringLiteral("554")}, "submissions are closed today"},
        {"nothing listens", {QStringLiteral("closed")}, "Couldn't connect to server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk.prompts.shown.clear();
        const bool closed = c.options == QStringList{QStringLiteral("closed")};
        SmtpServer server(closed ? QStringList() : c.options);
        ASSERT_SERVER(server);
        if (closed) server.stop();
        setMailSettings(server.address(), S("me@example.org"));
        auto outcome = submit();
        ASSERT_TRUE(outcome.isOk());
        EXPECT_EQ(*outcome, SubmitOutcome::SendFailed);
        ASSERT_EQ(desk.prompts.shown.size(), 1u);
        EXPECT_EQ(desk.prompts.shown[0].kind, S("error"));
        EXPECT_TRUE(desk.prompts.shown[0].text.contains(S(c.says))) << desk.prompts.shown[0].text.toStdString();
        EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("Rev")), S("0"));
        EXPECT_EQ(revOnDisk(discId), S("'0'"));
        EXPECT_TRUE(server.messages().empty());
    }
    // Once the server takes it, the same revision is sent.
    SmtpServer server;
    ASSERT_SERVER(server);
    setMailSettings(server.address(), S("me@example.org"));
    auto outcome = submit();
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Submitted);
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_TRUE(server.messages()[0].bodyLines.contains(S("# Revision: 1")));
    EXPECT_EQ(revOnDisk(discId), S("'1'"));
}

TEST_F(SubmitFlow, MissingMailSettings) {
    SmtpServer server;
    ASSERT_SERVER(server);
    add(theDisc());
    makeCurrent(discId);
    struct Case {
        const char* what;
        const char* server;  // "*": the test server
        const char* mail;
        bool optionsFillThem;
        SubmitOutcome outcome;
        QStringList shown;
    };
    const std::vector<Case> cases = {
        {"no server, the options dialog fills both", "", "me@example.org", true, SubmitOutcome::Submitted,
         {submitmsg::kConfirmSettings, submitmsg::kThankYou}},
        {"no address, the options dialog fills both", "*", "", true, SubmitOutcome::Submitted,
         {submitmsg::kConfirmSettings, submitmsg::kThankYou}},
        {"neither, and the options dialog is cancelled", "", "", false, SubmitOutcome::SettingsMissing,
         {submitmsg::kConfirmSettings, submitmsg::kStillInvalid}},
        {"blanks are nothing", "   ", "me@example.org", false, SubmitOutcome::SettingsMissing,
         {submitmsg::kConfirmSettings, submitmsg::kStillInvalid}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk.prompts.shown.clear();
        optionsShown = 0;
        const QString serverText = QString::fromUtf8(c.server) == QLatin1String("*") ? server.address() : S(c.server);
        setMailSettings(serverText, S(c.mail));
        EXPECT_TRUE(settings->ini().eraseSection(QStringLiteral("SMTP")));
        onOptions = [&] {
            if (c.optionsFillThem) setMailSettings(server.address(), S("me@example.org"));
        };
        const size_t before = server.messages().size();
        auto outcome = submit();
        ASSERT_TRUE(outcome.isOk());
        EXPECT_EQ(*outcome, c.outcome);
        EXPECT_EQ(optionsShown, 1);
        EXPECT_EQ(desk.prompts.texts(), c.shown);
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).value(0), submitmsg::kConfirmSettings);
        EXPECT_EQ(server.messages().size(), before + (c.outcome == SubmitOutcome::Submitted ? 1 : 0));
        // Auth is written back even when the submission stops.
        EXPECT_EQ(settings->ini().readString(QStringLiteral("SMTP"), QStringLiteral("Auth")), S("1"));
    }
}

TEST_F(SubmitFlow, OnlyTheAlbumOfTheDiscInTheDrive) {
    SmtpServer server;
    ASSERT_SERVER(server);
    setMailSettings(server.address(), S("me@example.org"));
    add(theDisc());
    add({S("0a0b0c0d"), S("Other"), S("Other album"), S("rock"), S(""), S("5"), S(""), L({"Other song"})});

    makeCurrent(S("0a0b0c0d"));
    auto outcome = submit();
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Refused);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1);

    // A record pasted into the import window made its own ID the current disc ID: the album
    // stored under it is still not the disc's, and the disc's offsets never go out under it.
    desk.prompts.shown.clear();
    state.currentDiscId = S("0a0b0c0d");
    outcome = submit();
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Refused);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1);

    // No disc read: no offsets to send.
    desk.prompts.shown.clear();
    makeCurrent(discId);
    state.currentDiscId.clear();
    outcome = submit();
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Refused);
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1);

    EXPECT_TRUE(server.messages().empty());
    EXPECT_EQ(revOnDisk(discId), S("'0'"));
    EXPECT_EQ(revOnDisk(S("0a0b0c0d")), S("'5'"));
}

TEST_F(SubmitFlow, TheDetailViewsButton) {
    SmtpServer server;
    ASSERT_SERVER(server);
    setMailSettings(server.address(), S("me@example.org"));
    const QString question = S("OK to send info on \rKind of Blue\r to remote database?");
    const auto findCd = [this] { return drive->FindCdInCollection(*dm, true); };

    // The disc is not in the collection yet.
    SubmitContext c = context();
    auto outcome = FreedbClick(c, findCd);
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::NotInCollection);
    EXPECT_EQ(desk.prompts.texts(), QStringList{S("Could not find this CD in your Collection")});

    // Default titles are refused before any question.
    Album defaults = theDisc();
    defaults.titles = L({"Track 1", "Track 2", "Track 3"});
    add(defaults);
    add({S("0a0b0c0d"), S("Other"), S("Other album"), S("rock"), S(""), S("5"), S(""), L({"Other song"})});
    desk.prompts.shown.clear();
    outcome = FreedbClick(c, findCd);
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::DefaultTitles);
    EXPECT_EQ(desk.prompts.texts(), QStringList{submitmsg::kDefaultTitles});
    // The album of the disc was made current all the same.
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), discId);

    // Real titles: the question, and No changes nothing.
    store::Cursor& tracks = dm->tblCD;
    expectOk(tracks.setOrder(QStringLiteral("Tracks")));
    expectOk(tracks.first());
    while (!tracks.eof() && !tracks.isEmpty()) {
        if (tracks.text(QStringLiteral("ID")) == discId) {
            expectOk(tracks.edit());
            expectOk(tracks.setText(QStringLiteral("Track"), S("Song ") + tracks.text(QStringLiteral("NR")).trimmed()));
            expectOk(tracks.post());
        }
        expectOk(tracks.next());
    }
    makeCurrent(S("0a0b0c0d"));
    desk.prompts.shown.clear();
    desk.prompts.answer(false);
    outcome = FreedbClick(c, findCd);
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Declined);
    EXPECT_EQ(desk.prompts.texts(), QStringList{question});
    EXPECT_TRUE(server.messages().empty());

    // Yes submits the disc's album, whichever album was current before.
    makeCurrent(S("0a0b0c0d"));
    desk.prompts.shown.clear();
    desk.prompts.answer(true);
    outcome = FreedbClick(c, findCd);
    ASSERT_TRUE(outcome.isOk());
    EXPECT_EQ(*outcome, SubmitOutcome::Submitted);
    EXPECT_EQ(desk.prompts.texts(), (QStringList{question, submitmsg::kThankYou}));
    const std::vector<Received> got = server.messages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(header(got[0], "Subject"), S("cddb jazz ") + discId);
    EXPECT_EQ(got[0].bodyLines.filter(QRegularExpression(QStringLiteral("^TTITLE"))),
              L({"TTITLE0=Song 1", "TTITLE1=Song 2", "TTITLE2=Song 3"}));
    EXPECT_EQ(revOnDisk(discId), S("'1'"));
    EXPECT_EQ(revOnDisk(S("0a0b0c0d")), S("'5'"));
}
