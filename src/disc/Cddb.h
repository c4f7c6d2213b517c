// The CD database client: one lookup of the disc in the drive against a CDDB-protocol server,
// over HTTP (every command a GET of the server's CGI program) or over CDDBP (one line
// connection for the whole lookup), and the reading of the xmcd record it brings back into the
// pending album of the edit form.
//
// Everything runs on the window thread and blocks it, but no wait is unbounded: connecting,
// every read and the goodbye have their time limits, and answers have size limits (a line, the
// HTTP body, the number of match and record lines). A server that breaks them ends the lookup
// with a clear message; the pending album is then left exactly as the caller handed it in.
//
// The module knows nothing of the settings file or of windows: the caller hands in plain values
// and hooks for the status line, the match chooser and the message boxes.
#pragma once

#include "PendingAlbum.h"
#include "Status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTcpSocket;

namespace albumora::disc {

namespace cddbmsg {
inline const QString kCouldNotConnect = QStringLiteral("Could not connect to CDDB server, error ");
inline const QString kHandshakeFailed = QStringLiteral("Handshake with CDDB server failed, error ");
inline const QString kNotFound = QStringLiteral("This album not found in remote database.");
inline const QString kConnecting = QStringLiteral("Connecting ...");
inline const QString kSearching = QStringLiteral("Searching ...");
inline const QString kLoading = QStringLiteral("Loading ...");
inline const QString kDisconnecting = QStringLiteral("Disconnecting ...");
}  // namespace cddbmsg

inline constexpr quint16 kCddbpPort = 8880;
inline constexpr quint16 kHttpPort = 80;
inline constexpr quint16 kHttpsPort = 443;
// The title column holds what the TRACKS field Track holds.
inline constexpr int kTrackTitleWidth = 73;

struct CddbConfig {
    QString protocol = QStringLiteral("T");  // "H..." HTTP, anything else CDDBP
    QString host;                            // "name", "name:port", "1.2.3.4:port", "[::1]:port"
    bool ssl = false;                        // HTTPS instead of HTTP
    QString cgiPath = QStringLiteral("/~cddb/cddb.cgi");
    QString httpTail;    // "&hello=...&proto=6", appended to every HTTP request (its level may fall to 5)
    QString cddbpHello;  // "cddb hello ...", the CDDBP greeting line

    // Time limits, in milliseconds. A connect is tried connectAttempts times in all.
    int connectTimeoutMs = 300000;
    int connectAttempts = 3;
    // Silence allowed while an answer is awaited (reset by every block that arrives).
    int readTimeoutMs = 60000;
    // After "quit", how long the server may take to say goodbye and close its side.
    int quitWaitMs = 2000;

    // Size limits of what a server may send.
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    int maxLineBytes = 64 * 1024;
    int maxMatchLines = 1000;
    int maxRecordLines = 10000;

    bool isHttp() const { return protocol.startsWith(QLatin1Char('H')); }
};

// How the program greets the CD database: the hello of every HTTP request and of a CDDBP
// session, naming the user, this machine and the program's version. The public database turns
// anonymous clients away and asks for the user's address, split at its "@" into the hello's
// user and host words; without a usable address the client stays anonymous, as private servers
// accept.
struct CddbGreeting {
    QString httpTail;    // "&hello=user+host+Albumora+version&proto=6"
    QString cddbpHello;  // "cddb hello user host Albumora version"
    QString clientHost;  // this machine's name as the greeting carries it
};
// clientHost empty: this machine's host name.
CddbGreeting ComposeGreeting(const QString& mail, QString clientHost = {});

// Where the server is: the host without brackets and the port, which the Host setting may carry
// ("127.0.0.1:18880", "[::1]:8880"); without one, CDDBP uses 8880 and HTTP 80 (443 with SSL).
struct CddbEndpoint {
    QString host;
    quint16 port = 0;
};
store::Result<CddbEndpoint> ParseEndpoint(const QString& host, bool http, bool ssl);

// ---------------------------------------------------------------------------------------------
// Transports. Their errors are IoError statuses whose text says what happened and where.

// CDDB protocol levels. The client asks for level 6, whose text is UTF-8; a server that refuses
// it gets level 5, whose text is 8-bit (Windows-1252), as every level before 6.
inline constexpr int kCddbLevel = 6;
inline constexpr int kCddbOldLevel = 5;

// The text of a line as the server sent it at a protocol level: from level 6 UTF-8, or
// Windows-1252 when the bytes are no valid UTF-8 (records submitted before level 6 are served as
// they were stored); below 6 Windows-1252. Characters Windows-1252 has not become "?": the
// collection's tables hold Windows-1252, and what the lookup hands out goes there.
QString DecodeLine(const QByteArray& bytes, int level);
// A body as lines (decoded at level): split at CR LF or LF; a final line break ends the last
// line. An error when a line is longer than maxLineBytes.
store::Result<QStringList> SplitBodyLines(const QByteArray& body, int maxLineBytes, int level);
// The level the "proto" parameter of an HTTP tail asks for; 0 when it has none (or no number).
int TailLevel(const QString& httpTail);
// The tail with the value of its "proto" parameter replaced by level (a tail without one as it is).
QString TailWithLevel(const QString& httpTail, int level);
// The request of an HTTP command: cgiPath + "?cmd=" + the command with its blanks as "+" (and
// anything that is not plain URL text percent-encoded) + the tail.
QByteArray HttpRequestTarget(const QString& cgiPath, const QString& command, const QString& httpTail);

// HTTP: every command is a request of its own; the answer is the lines of the body. A request
// at level 6 that the server answers with "501" (an illegal level, to a server older than 6) is
// sent again at level 5, and every later request of this object asks for 5.
class CddbHttp {
public:
    CddbHttp(const CddbConfig& config, CddbEndpoint endpoint);
    store::Result<QStringList> send(const QString& command);
    // The level the next request asks for (that of the tail; 0 when it names none).
    int level() const { return level_; }

private:
    store::Result<QStringList> exchange(const QString& command);
    const CddbConfig& config_;
    CddbEndpoint endpoint_;
    QString tail_;
    int level_ = 0;
};

// CDDBP: one line connection; lines end with CR LF (a bare LF is taken too).
class CddbpConnection {
public:
    explicit CddbpConnection(const CddbConfig& config);
    ~CddbpConnection();
    CddbpConnection(const CddbpConnection&) = delete;
    CddbpConnection& operator=(const CddbpConnection&) = delete;

    store::Status open(const CddbEndpoint& endpoint);
    store::Status writeLine(const QString& line);
    store::Result<QString> readLine();
    // The protocol level the server agreed to, which decides how readLine decodes: a session
    // starts at level 1.
    void setLevel(int level) { level_ = level; }
    int level() const { return level_; }
    // Open, and the server has not been seen to close its side.
    bool connected() const;
    // Ends the connection at once.
    void close();
    // "quit", then up to quitWaitMs for the server to close its side, then close().
    void quit();

private:
    store::Status readError(const QString& what) const;
    const CddbConfig& config_;
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray buffer_;
    QString peer_;
    bool peerClosed_ = false;
    int level_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Answers

enum class QueryKind {
    Exact,       // "200": the line names the match
    Multiple,    // "210" or "211": match lines follow
    NoMatch,     // "202"
    Error,       // a code beginning with "4"
    Unexpected,  // any other code
};

// The first line of the answer to a query, or a match line taken as "200 " + line.
struct QueryAnswer {
    QueryKind kind = QueryKind::Unexpected;
    QString code;      // its first 3 characters
    QString category;  // Exact: the category as sent ("rock")
    QString discId;    // Exact: the 8 characters after the category
    QString artist;    // Exact: the disc title before its first "/", trimmed, backslash runs reduced
    QString title;     // Exact: after that "/" (the whole disc title when there is none)
};
// An error when the line is no CDDB status line (its first 3 characters are not digits), or
// when an exact match does not name a category of letters, digits, "-" or "_" and a disc ID of
// 8 hexadecimal digits: those two go into the next command.
store::Result<QueryAnswer> ParseQueryAnswer(const QString& line);

// Every run of two or more backslashes becomes one backslash.
QString ReduceBackslashes(const QString& text);
// The revision character of revision n: the character with code 48 + n, "~" above 126.
QString RevisionCharacter(qint64 n);

// What one xmcd line did.
enum class XmcdStep { Continue, End };
// Readies the album for a record: the title column of every track row emptied, the notes
// emptied, the revision "0".
void BeginXmcdRecord(editing::PendingAlbum& album);
// One line of a record into the album: "# Revision: " anywhere in the line sets the revision
// character; then by the first four characters: "PLAY" ends the record; "DGEN", "DYEA" set genre
// (lower case) and year; "TTIT" appends to the title of row n + 1 (a row the grid does not have
// is left alone); "EXTD", "EXTT" add the whole line to the notes when something other than blanks
// follows "="; every other line is skipped. An error when the revision or a track number is not
// a whole number; the album may then be half changed, so a caller reads into a copy.
store::Result<XmcdStep> ReadXmcdLine(const QString& line, editing::PendingAlbum& album);

// ---------------------------------------------------------------------------------------------
// The lookup

struct LookupHooks {
    // The status line: "Connecting ...", "Searching ...", ...; an empty text restores the idle one.
    std::function<void(const QString&)> status;
    // The match chooser over the match lines: the chosen index, or -1 for no choice. Without a
    // chooser nothing is chosen.
    std::function<int(const QStringList&)> choose;
    // A plain message box: the server's refusals and "not found".
    std::function<void(const QString&)> message;
    // An error box: a transport or protocol failure that ended the lookup.
    std::function<void(const QString&)> error;
    // The chooser is asked about a single match too (an exact answer or a list of one), so that
    // a caller can offer it beside another source's matches.
    bool alwaysChoose = false;
};

struct LookupOutcome {
    // The edit form is to be shown over the album (a match was read, or a choice was cancelled,
    // or the server answered something the lookup does not act on).
    bool showForm = false;
    // The server does not know the disc: "not found" was shown, artist and title emptied; the
    // caller opens the import window.
    bool notFound = false;
    // The chooser gave no choice: no record was read.
    bool cancelled = false;
    // A transport or protocol failure, already shown through hooks.error; the album is as the
    // caller handed it in.
    QString error;
    // The plain message shown through hooks.message: the server's refusal or "not found".
    QString message;
    // The match lines as the server sent them (for "200" the line without its code), and the
    // record lines read.
    QStringList matchLines;
    QStringList record;
    // The match that was read: category and disc ID.
    QString category;
    QString discId;
    // The protocol level of the server's last answer (0: none came, or the HTTP tail names none).
    int level = 0;
};

// One lookup: queryCommand ("cddb query <id> <toc text>") against the server; the album comes in
// with its track rows filled from the TOC ("Track n" titles) and its fields reset, and goes out
// with artist, title, genre, year, revision, notes and track titles from the server. Album ID,
// edit mode and source code are the caller's.
LookupOutcome RunLookup(const CddbConfig& config, const QString& queryCommand, editing::PendingAlbum& album,
                        const LookupHooks& hooks);

}  // namespace albumora::disc
