#include "Cddb.h"

#include "Codepage.h"
#include "HttpGet.h"
#include "Version.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#if QT_CONFIG(ssl)
#include <QSslError>
#endif
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <optional>
#include <utility>

namespace albumora::disc {

using editing::PendingAlbum;
using store::ErrorKind;
using store::Result;
using store::Status;

namespace {

Status ioError(const QString& text) {
    return Status(ErrorKind::IoError, text);
}
Status badData(const QString& text) {
    return Status(ErrorKind::Corruption, text);
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
bool allDigits(const QString& s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), isDigit);
}
bool isHex(QChar c) {
    return isDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// A whole number of digits only; a number too long for an int counts as very large.
std::optional<qint64> wholeNumber(const QString& s) {
    if (!allDigits(s)) return std::nullopt;
    if (s.size() > 9) return qint64(1) << 40;
    return s.toLongLong();
}

using store::asciiLower;

// A server's text inside a message: short, one line, control characters shown as "?".
QString quoted(const QString& text) {
    QString t = text.left(80);
    for (QChar& c : t)
        if (c.unicode() < 32 || c.unicode() == 127) c = QLatin1Char('?');
    if (text.size() > 80) t += QStringLiteral("...");
    return QLatin1Char('"') + t + QLatin1Char('"');
}

QString secondsText(int ms) {
    if (ms % 1000 == 0)
        return QString::number(ms / 1000) + (ms == 1000 ? QStringLiteral(" second") : QStringLiteral(" seconds"));
    return QString::number(ms / 1000.0, 'g', 3) + QStringLiteral(" seconds");
}

QString bytesText(qint64 n) {
    if (n >= 1024 * 1024 && n % (1024 * 1024) == 0) return QString::number(n / (1024 * 1024)) + QStringLiteral(" MiB");
    if (n >= 1024 && n % 1024 == 0) return QString::number(n / 1024) + QStringLiteral(" KiB");
    return QString::number(n) + QStringLiteral(" bytes");
}

QString hostPart(const CddbEndpoint& e) {
    return e.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + e.host + QLatin1Char(']') : e.host;
}
QString where(const CddbEndpoint& e) {
    return hostPart(e) + QLatin1Char(':') + QString::number(e.port);
}

// What a host name may not contain: it goes into a URL and a connect call as it is.
bool plainHostName(const QString& name) {
    for (QChar c : name)
        if (c.unicode() <= 32 || c.unicode() == 127 || QStringLiteral("/?#@[]\\%").contains(c)) return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Endpoint

Result<CddbEndpoint> ParseEndpoint(const QString& host, bool http, bool ssl) {
    const QString h = store::trimControl(host);
    auto bad = [&](const QString& why) {
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The CD database server %1 %2").arg(quoted(h), why));
    };
    if (h.isEmpty()) return Status(ErrorKind::InvalidArgument, QStringLiteral("No CD database server is set."));
    CddbEndpoint e;
    QString portText;
    bool hasPort = false;
    if (h.startsWith(QLatin1Char('['))) {
        const qsizetype close = h.indexOf(QLatin1Char(']'));
        if (close < 0) return bad(QStringLiteral("has a \"[\" without its \"]\"."));
        e.host = h.mid(1, close - 1);
        const QString rest = h.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return bad(QStringLiteral("has something other than a port after \"]\"."));
            portText = rest.mid(1);
            hasPort = true;
        }
    } else if (h.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = h.indexOf(QLatin1Char(':'));
        e.host = h.left(colon);
        portText = h.mid(colon + 1);
        hasPort = true;
    } else {
        // No colon, or a bare IPv6 address (several colons), which carries no port.
        e.host = h;
    }
    if (e.host.isEmpty()) return bad(QStringLiteral("has no host name."));
    if (!plainHostName(e.host)) return bad(QStringLiteral("is not a host name."));
    if (hasPort) {
        const auto port = wholeNumber(portText);
        if (!port || *port < 1 || *port > 65535)
            return bad(QStringLiteral("has a port that is not a number from 1 to 65535."));
        e.port = quint16(*port);
    } else {
        e.port = !http ? kCddbpPort : ssl ? kHttpsPort : kHttpPort;
    }
    return e;
}

// ---------------------------------------------------------------------------------------------
// Lines

QString DecodeLine(const QByteArray& bytes, int level) {
    if (level >= kCddbLevel) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(bytes);
        if (!utf8.hasError()) return store::fromCp1252(store::toCp1252(text));
    }
    return store::fromCp1252(std::string_view(bytes.constData(), size_t(bytes.size())));
}

namespace {
// Where the value of the tail's "proto" parameter is: its start and length; start -1 for none.
std::pair<qsizetype, qsizetype> protoValue(const QString& tail) {
    static const QRegularExpression proto(QStringLiteral("(?:^|[&?])proto=([^&#]*)"));
    const QRegularExpressionMatch m = proto.match(tail);
    if (!m.hasMatch()) return {-1, 0};
    return {m.capturedStart(1), m.capturedLength(1)};
}
}  // namespace

int TailLevel(const QString& httpTail) {
    const auto [start, length] = protoValue(httpTail);
    if (start < 0) return 0;
    const auto n = wholeNumber(httpTail.mid(start, length));
    return n && *n <= 99 ? int(*n) : 0;
}

QString TailWithLevel(const QString& httpTail, int level) {
    const auto [start, length] = protoValue(httpTail);
    if (start < 0) return httpTail;
    return QString(httpTail).replace(start, length, QString::number(level));
}

Result<QStringList> SplitBodyLines(const QByteArray& body, int maxLineBytes, int level) {
    QStringList lines;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        const qsizetype next = end < 0 ? body.size() : end + 1;
        if (end < 0) end = body.size();
        qsizetype length = end - start;
        if (length > 0 && body.at(end - 1) == '\r') --length;
        if (length > maxLineBytes)
            return badData(QStringLiteral("The CDDB server sent a line longer than %1 (line %2 of its answer).")
                               .arg(bytesText(maxLineBytes))
                               .arg(lines.size() + 1));
        lines << DecodeLine(body.mid(start, length), level);
        start = next;
    }
    return lines;
}

CddbGreeting ComposeGreeting(const QString& mail, QString host) {
    if (host.isEmpty()) host = QHostInfo::localHostName();
    if (host.isEmpty()) host = QStringLiteral("localhost");
    // The greeting is one protocol line: no blanks, no line breaks.
    host.replace(QLatin1Char(' '), QLatin1Char('_')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    CddbGreeting g;
    g.clientHost = host;
    QString user = QStringLiteral("anonymous");
    QString userHost = host;
    const QString address = store::trimControl(mail);
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    static const QRegularExpression word(QStringLiteral("^[!-~]+$"));  // printable ASCII, no blank
    if (at > 0 && at == address.lastIndexOf(QLatin1Char('@')) && at < address.size() - 1 && word.match(address).hasMatch()) {
        user = address.left(at);
        userHost = address.mid(at + 1);
    }
    const auto enc = [](const QString& w) { return QString::fromLatin1(QUrl::toPercentEncoding(w)); };
    g.httpTail = QStringLiteral("&hello=") + enc(user) + QLatin1Char('+') + enc(userHost) + QStringLiteral("+Albumora+") +
                 kProductVersion + QStringLiteral("&proto=") + QString::number(kCddbLevel);
    g.cddbpHello = QStringLiteral("cddb hello ") + user + QLatin1Char(' ') + userHost + QStringLiteral(" Albumora ") + kProductVersion;
    return g;
}

QByteArray HttpRequestTarget(const QString& cgiPath, const QString& command, const QString& httpTail) {
    QByteArray out = QByteArray::fromStdString(store::toCp1252(cgiPath));
    out += "?cmd=";
    // Blanks become "+"; "+" itself already stands for a blank (the TOC text uses it as its
    // separator with HTTP). Anything else that could end or change the parameter is encoded.
    static const QByteArray plain = QByteArrayLiteral("-._~+");
    for (char c : store::toCp1252(command)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ' ')
            out += '+';
        else if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || plain.contains(c))
            out += c;
        else
            out += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
    }
    out += QByteArray::fromStdString(store::toCp1252(httpTail));
    return out;
}

// ---------------------------------------------------------------------------------------------
// HTTP

CddbHttp::CddbHttp(const CddbConfig& config, CddbEndpoint endpoint)
    : config_(config), endpoint_(std::move(endpoint)), tail_(config.httpTail), level_(TailLevel(config.httpTail)) {}

namespace {

struct HttpExchange {
    QByteArray body;
    Status error;
    bool connectFailed = false;  // nothing was sent: another attempt may do better
};

HttpExchange httpGet(const QUrl& url, const CddbConfig& config, const QString& at) {
    HttpExchange ex;
    HttpLimits limits;
    limits.connectTimeoutMs = config.connectTimeoutMs;
    limits.readTimeoutMs = config.readTimeoutMs;
    limits.maxBodyBytes = config.maxBodyBytes;
    limits.totalTimeoutMs = config.connectTimeoutMs + 2 * config.readTimeoutMs;
    HttpTransfer t = RunHttpGet(QNetworkRequest(url), limits);
    ex.body = std::move(t.body);
    const bool sent = t.sent, timedOut = t.timedOut, tooLarge = t.tooLarge;
    const QStringList& certificateErrors = t.certificateErrors;
    const QVariant& statusCode = t.status;
    const QString& reason = t.reason;
    if (tooLarge) {
        ex.error = badData(QStringLiteral("The answer of the CDDB server at %1 is larger than %2.")
                               .arg(at, bytesText(config.maxBodyBytes)));
    } else if (t.overran) {
        ex.error = ioError(QStringLiteral("The CDDB server at %1 took longer than %2 for its answer.")
                               .arg(at, secondsText(limits.totalTimeoutMs)));
    } else if (timedOut && !sent) {
        ex.connectFailed = true;
        ex.error = ioError(QStringLiteral("Could not connect to the CDDB server at %1 within %2.")
                               .arg(at, secondsText(config.connectTimeoutMs)));
    } else if (timedOut) {
        ex.error = ioError(
            QStringLiteral("The CDDB server at %1 sent nothing for %2.").arg(at, secondsText(config.readTimeoutMs)));
    } else if (statusCode.isValid() && statusCode.toInt() != 200) {
        const QString status = (statusCode.toString() + QLatin1Char(' ') + reason).trimmed();
        ex.error = ioError(QStringLiteral("The CDDB server at %1 answered with HTTP status %2.").arg(at, status));
    } else if (!certificateErrors.isEmpty()) {
        // Not tried again: the same certificate comes back.
        ex.error = ioError(QStringLiteral("The certificate of the CDDB server at %1 is not trusted (%2); nothing was "
                                          "sent over HTTPS.")
                               .arg(at, certificateErrors.join(QStringLiteral("; "))));
    } else if (t.error == QNetworkReply::SslHandshakeFailedError) {
        ex.error = ioError(QStringLiteral("Could not make a secure (HTTPS) connection to the CDDB server at %1; is it an "
                                          "HTTPS server? %2")
                               .arg(at, t.errorString));
    } else if (t.error != QNetworkReply::NoError) {
        ex.connectFailed = !sent;
        ex.error = ioError((sent ? QStringLiteral("The connection to the CDDB server at %1 failed: %2")
                                 : QStringLiteral("Could not connect to the CDDB server at %1: %2"))
                               .arg(at, t.errorString));
    } else if (!statusCode.isValid()) {
        ex.error = badData(QStringLiteral("The CDDB server at %1 did not answer with HTTP.").arg(at));
    }
    return ex;
}

}  // namespace

Result<QStringList> CddbHttp::send(const QString& command) {
    Result<QStringList> lines = exchange(command);
    if (lines && level_ >= kCddbLevel && !lines->isEmpty() && lines->first().startsWith(QLatin1String("501"))) {
        // A server older than level 6 refuses the level in every request; it speaks 5.
        level_ = kCddbOldLevel;
        tail_ = TailWithLevel(tail_, level_);
        return exchange(command);
    }
    return lines;
}

Result<QStringList> CddbHttp::exchange(const QString& command) {
    const QString at = where(endpoint_);
    if (!QCoreApplication::instance())
        return ioError(QStringLiteral("HTTP requests need the program's application object."));
    const QByteArray origin = ((config_.ssl ? QStringLiteral("https://") : QStringLiteral("http://")) +
                               hostPart(endpoint_) + QLatin1Char(':') + QString::number(endpoint_.port))
                                  .toUtf8();
    const QUrl url =
        QUrl::fromEncoded(origin + HttpRequestTarget(config_.cgiPath, command, tail_), QUrl::StrictMode);
    if (!url.isValid())
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("The CD database request is not a valid address: %1").arg(url.errorString()));
    HttpExchange ex;
    const int attempts = std::max(1, config_.connectAttempts);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        ex = httpGet(url, config_, at);
        if (!ex.connectFailed) break;
    }
    if (!ex.error.isOk()) return ex.error;
    return SplitBodyLines(ex.body, config_.maxLineBytes, level_);
}

// ---------------------------------------------------------------------------------------------
// CDDBP

CddbpConnection::CddbpConnection(const CddbConfig& config) : config_(config) {}

CddbpConnection::~CddbpConnection() {
    close();
}

Status CddbpConnection::open(const CddbEndpoint& endpoint) {
    close();
    peer_ = where(endpoint);
    peerClosed_ = false;
    buffer_.clear();
    QString why;
    const int attempts = std::max(1, config_.connectAttempts);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        socket_ = std::make_unique<QTcpSocket>();
        // What Qt holds between two reads stays small; the line limit is checked on what arrives.
        socket_->setReadBufferSize(256 * 1024);
        socket_->connectToHost(endpoint.host, endpoint.port);
        if (socket_->waitForConnected(config_.connectTimeoutMs)) return Status::ok();
        why = socket_->error() == QAbstractSocket::SocketTimeoutError
                  ? QStringLiteral("no answer within %1").arg(secondsText(config_.connectTimeoutMs))
                  : socket_->errorString();
        socket_->abort();
        socket_.reset();
    }
    return ioError(QStringLiteral("Could not connect to the CDDB server at %1: %2").arg(peer_, why));
}

bool CddbpConnection::connected() const {
    return socket_ && !peerClosed_ && socket_->state() == QAbstractSocket::ConnectedState;
}

Status CddbpConnection::writeLine(const QString& line) {
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("A CDDBP command must be one line: %1").arg(quoted(line)));
    if (!connected()) return ioError(QStringLiteral("The connection to the CDDB server at %1 is closed.").arg(peer_));
    const QByteArray bytes = QByteArray::fromStdString(store::toCp1252(line)) + "\r\n";
    if (socket_->write(bytes) != bytes.size())
        return ioError(
            QStringLiteral("Could not send to the CDDB server at %1: %2").arg(peer_, socket_->errorString()));
    while (socket_->bytesToWrite() > 0)
        if (!socket_->waitForBytesWritten(config_.readTimeoutMs))
            return ioError(
                QStringLiteral("Could not send to the CDDB server at %1: %2").arg(peer_, socket_->errorString()));
    return Status::ok();
}

Status CddbpConnection::readError(const QString& what) const {
    return ioError(QStringLiteral("The CDDB server at %1 %2").arg(peer_, what));
}

Result<QString> CddbpConnection::readLine() {
    if (!socket_) return ioError(QStringLiteral("There is no connection to a CDDB server."));
    const qsizetype limit = config_.maxLineBytes;
    for (;;) {
        const qsizetype end = buffer_.indexOf('\n');
        if (end >= 0) {
            QByteArray line = buffer_.left(end);
            buffer_.remove(0, end + 1);
            if (line.endsWith('\r')) line.chop(1);
            if (line.size() > limit)
                return badData(
                    QStringLiteral("The CDDB server at %1 sent a line longer than %2.").arg(peer_, bytesText(limit)));
            return DecodeLine(line, level_);
        }
        if (buffer_.size() > limit + 1)
            return badData(
                QStringLiteral("The CDDB server at %1 sent a line longer than %2.").arg(peer_, bytesText(limit)));
        if (socket_->bytesAvailable() > 0) {
            buffer_ += socket_->read(limit + 2 - buffer_.size());
            continue;
        }
        if (!connected()) {
            peerClosed_ = true;
            return readError(QStringLiteral("closed the connection before its answer was complete."));
        }
        if (!socket_->waitForReadyRead(config_.readTimeoutMs)) {
            if (socket_->bytesAvailable() > 0) continue;
            if (socket_->error() == QAbstractSocket::SocketTimeoutError &&
                socket_->state() == QAbstractSocket::ConnectedState)
                return readError(QStringLiteral("sent nothing for %1.").arg(secondsText(config_.readTimeoutMs)));
            peerClosed_ = true;
            return readError(QStringLiteral("closed the connection before its answer was complete."));
        }
    }
}


void CddbpConnection::quit() {
    if (connected() && writeLine(QStringLiteral("quit")).isOk()) {
        // The goodbye and whatever was still on its way are read and dropped until the server
        // closes its side, so that it has taken the "quit" before the connection goes.
        buffer_.clear();
        QElapsedTimer clock;
        clock.start();
        while (socket_->state() == QAbstractSocket::ConnectedState) {
            socket_->readAll();
            const qint64 left = config_.quitWaitMs - clock.elapsed();
            if (left <= 0 || !socket_->waitForReadyRead(int(left))) break;
        }
    }
    close();
}

void CddbpConnection::close() {
    if (!socket_) return;
    socket_->abort();
    socket_.reset();
    buffer_.clear();
}

// ---------------------------------------------------------------------------------------------
// Answers

QString ReduceBackslashes(const QString& text) {
    if (!text.contains(QStringLiteral("\\\\"))) return text;
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!(c == QLatin1Char('\\') && out.endsWith(QLatin1Char('\\')))) out += c;
    return out;
}

QString RevisionCharacter(qint64 n) {
    const qint64 code = 48 + n;
    if (n < 0 || code > 126) return QStringLiteral("~");
    return QString(QChar(char16_t(code)));
}

Result<QueryAnswer> ParseQueryAnswer(const QString& line) {
    QueryAnswer a;
    a.code = line.left(3);
    if (a.code.size() < 3 || !allDigits(a.code))
        return badData(QStringLiteral("The CDDB server's answer is not a CDDB status line: %1").arg(quoted(line)));
    if (a.code == QLatin1String("200")) {
        const QString rest = line.mid(4);
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        a.category = blank < 0 ? rest : rest.left(blank);
        a.discId = blank < 0 ? QString() : rest.mid(blank + 1, 8);
        const QString discTitle = blank < 0 ? QString() : rest.mid(blank + 1 + 8 + 1);
        const bool categoryOk = !a.category.isEmpty() && std::all_of(a.category.begin(), a.category.end(), [](QChar c) {
            return c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'));
        });
        if (!categoryOk)
            return badData(
                QStringLiteral("The CDDB server's match does not begin with a category: %1").arg(quoted(line)));
        if (a.discId.size() != 8 || !std::all_of(a.discId.begin(), a.discId.end(), isHex))
            return badData(
                QStringLiteral("The CDDB server's match has no disc ID of 8 hexadecimal digits: %1").arg(quoted(line)));
        const qsizetype slash = discTitle.indexOf(QLatin1Char('/'));
        if (slash >= 0) {
            a.artist = ReduceBackslashes(store::trimControl(discTitle.left(slash)));
            a.title = ReduceBackslashes(store::trimControl(discTitle.mid(slash + 1)));
        } else {
            a.title = ReduceBackslashes(store::trimControl(discTitle));
        }
        a.kind = QueryKind::Exact;
    } else if (a.code == QLatin1String("210") || a.code == QLatin1String("211")) {
        a.kind = QueryKind::Multiple;
    } else if (a.code == QLatin1String("202")) {
        a.kind = QueryKind::NoMatch;
    } else if (a.code.startsWith(QLatin1Char('4'))) {
        a.kind = QueryKind::Error;
    } else {
        a.kind = QueryKind::Unexpected;
    }
    return a;
}

void BeginXmcdRecord(PendingAlbum& album) {
    for (editing::TrackRow& row : album.tracks) row.title.clear();
    album.notes.clear();
    album.rev = QStringLiteral("0");
}

Result<XmcdStep> ReadXmcdLine(const QString& line, PendingAlbum& album) {
    // Any line holding "# Revision: " carries the revision, from its 13th character. A data
    // line that holds the words but no number there (a title quoting them) keeps its meaning.
    static const QString revision = QStringLiteral("# Revision: ");
    const bool comment = line.startsWith(QLatin1Char('#'));
    if (line.contains(revision)) {
        const auto n = wholeNumber(store::trimControl(line.mid(12)));
        if (n)
            album.rev = RevisionCharacter(*n);
        else if (comment)
            return badData(QStringLiteral("The record's revision is not a whole number: %1").arg(quoted(line)));
    }
    if (comment) return XmcdStep::Continue;
    const QString kind = line.left(4);
    if (kind == QLatin1String("PLAY")) return XmcdStep::End;
    static const QStringList used = {QStringLiteral("DGEN"), QStringLiteral("DYEA"), QStringLiteral("TTIT"),
                                     QStringLiteral("EXTD"), QStringLiteral("EXTT")};
    if (!used.contains(kind)) return XmcdStep::Continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || eq == line.size() - 1) return XmcdStep::Continue;
    const QString value = line.mid(eq + 1);

    if (kind == QLatin1String("DGEN")) {
        album.genre = asciiLower(value.left(99));
    } else if (kind == QLatin1String("DYEA")) {
        album.year = value.left(99);
    } else if (kind == QLatin1String("TTIT")) {
        const auto n =
            line.startsWith(QLatin1String("TTITLE")) && eq > 6 ? wholeNumber(line.mid(6, eq - 6)) : std::nullopt;
        if (!n) return badData(QStringLiteral("The record's track number is not a whole number: %1").arg(quoted(line)));
        // A title for a track the disc does not have is left out: the grid is the disc's.
        if (*n < qint64(album.tracks.size())) {
            QString& title = album.tracks[size_t(*n)].title;
            // Reduced before the cut: a title with a run of backslashes still fills the field.
            title = ReduceBackslashes(store::trimControl(title) + value.left(255)).left(kTrackTitleWidth);
        }
    } else if (!store::trimControl(value).isEmpty()) {
        album.notes += (album.notes.isEmpty() ? QString() : QStringLiteral("\r\n")) + line;
    }
    return XmcdStep::Continue;
}

// ---------------------------------------------------------------------------------------------
// The lookup

namespace {

class Lookup {
public:
    Lookup(const CddbConfig& config, const LookupHooks& hooks, PendingAlbum& album, LookupOutcome& out)
        : config_(config), hooks_(hooks), album_(album), out_(out) {}

    Status run(const QString& queryCommand);
    // Step 6: the CDDBP connection is closed whatever happened before.
    void finish() {
        if (!connection_) return;
        if (connection_->connected()) {
            status(cddbmsg::kDisconnecting);
            connection_->quit();
        }
        connection_->close();
    }

    bool formPending = false;
    bool notFound = false;
    QString message;

private:
    void status(const QString& text) const {
        if (hooks_.status) hooks_.status(text);
    }
    // One command and the answer's first line (HTTP: the other lines are kept in answer_).
    Result<QString> command(const QString& text);
    Result<QString> nextLine() { return connection_->readLine(); }
    bool handleQuery(const QueryAnswer& a);
    Status collectMatches(QStringList& list);
    Status readRecord();

    const CddbConfig& config_;
    const LookupHooks& hooks_;
    PendingAlbum& album_;
    LookupOutcome& out_;
    std::optional<CddbHttp> http_;
    std::unique_ptr<CddbpConnection> connection_;
    QStringList answer_;
    bool multiple_ = false;
    QString category_;
    QString matchId_;
};

Result<QString> Lookup::command(const QString& text) {
    if (http_) {
        Result<QStringList> lines = http_->send(text);
        if (!lines) return lines.error();
        answer_ = std::move(lines.value());
        out_.level = http_->level();
        if (answer_.isEmpty()) return badData(QStringLiteral("The CDDB server sent an empty answer."));
        return answer_.first();
    }
    const Status sent = connection_->writeLine(text);
    if (!sent) return sent;
    Result<QString> line = connection_->readLine();
    out_.level = connection_->level();
    return line;
}

bool Lookup::handleQuery(const QueryAnswer& a) {
    switch (a.kind) {
        case QueryKind::Exact:
            category_ = a.category;
            matchId_ = a.discId;
            album_.genre = asciiLower(a.category);
            album_.artist = a.artist;
            album_.title = a.title;
            out_.category = a.category;
            out_.discId = a.discId;
            return true;
        case QueryKind::Multiple:
            multiple_ = true;
            return true;
        case QueryKind::NoMatch:
        case QueryKind::Error:
            notFound = true;
            return false;
        case QueryKind::Unexpected:
            return false;
    }
    return false;
}

Status Lookup::collectMatches(QStringList& list) {
    if (http_) {
        if (answer_.size() >= 3) list = answer_.mid(1, answer_.size() - 2);
        if (list.size() > config_.maxMatchLines)
            return badData(QStringLiteral("The CDDB server sent more than %1 matches.").arg(config_.maxMatchLines));
        return Status::ok();
    }
    for (;;) {
        Result<QString> line = nextLine();
        if (!line) return line.error();
        if (line->startsWith(QLatin1Char('.'))) return Status::ok();
        if (list.size() >= config_.maxMatchLines)
            return badData(QStringLiteral("The CDDB server sent more than %1 matches.").arg(config_.maxMatchLines));
        list << *line;
    }
}

Status Lookup::readRecord() {
    auto tooLong = [&] {
        return badData(QStringLiteral("The CDDB server's record is longer than %1 lines.").arg(config_.maxRecordLines));
    };
    auto take = [&](const QString& line, bool& end) -> Status {
        out_.record << line;
        Result<XmcdStep> step = ReadXmcdLine(line, album_);
        if (!step)
            return Status(step.error().kind(),
                          step.error().message() + QStringLiteral(" (line %1 of the record)").arg(out_.record.size()));
        end = *step == XmcdStep::End;
        return Status::ok();
    };
    bool end = false;
    if (http_) {
        for (qsizetype i = 1; i < answer_.size() && !end; ++i) {
            if (out_.record.size() >= config_.maxRecordLines) return tooLong();
            if (Status s = take(answer_[i], end); !s) return s;
        }
        return Status::ok();
    }
    while (!end) {
        Result<QString> line = nextLine();
        if (!line) return line.error();
        if (line->startsWith(QLatin1Char('.'))) break;
        if (out_.record.size() >= config_.maxRecordLines) return tooLong();
        if (Status s = take(*line, end); !s) return s;
    }
    return Status::ok();
}

Status Lookup::run(const QString& queryCommand) {
    Result<CddbEndpoint> endpoint = ParseEndpoint(config_.host, config_.isHttp(), config_.ssl);
    if (!endpoint) return endpoint.error();

    // Step 2: the link.
    bool linkOpen = false;
    if (config_.isHttp()) {
        http_.emplace(config_, *endpoint);
        linkOpen = true;
    } else {
        status(cddbmsg::kConnecting);
        connection_ = std::make_unique<CddbpConnection>(config_);
        if (Status s = connection_->open(*endpoint); !s) return s;
        Result<QString> greeting = nextLine();
        if (!greeting) return greeting.error();
        if (!greeting->startsWith(QLatin1String("20"))) {
            message = cddbmsg::kCouldNotConnect + greeting->left(3);
        } else {
            Result<QString> hello = command(config_.cddbpHello);
            if (!hello) return hello.error();
            if (hello->left(3) == QLatin1String("431")) {
                message = cddbmsg::kHandshakeFailed + hello->left(3);
            } else {
                Result<QString> proto = command(QStringLiteral("proto ") + QString::number(kCddbLevel));
                if (!proto) return proto.error();
                if (proto->startsWith(QLatin1Char('2'))) {
                    connection_->setLevel(kCddbLevel);
                } else {
                    // A server older than level 6 ("501 Illegal protocol level."): 8-bit text.
                    Result<QString> old = command(QStringLiteral("proto ") + QString::number(kCddbOldLevel));
                    if (!old) return old.error();
                    if (old->startsWith(QLatin1Char('2'))) connection_->setLevel(kCddbOldLevel);
                }
                linkOpen = true;
            }
        }
    }

    // Step 3: the query.
    if (!linkOpen) return Status::ok();
    status(cddbmsg::kSearching);
    formPending = true;
    Result<QString> first = command(queryCommand);
    if (!first) return first.error();
    Result<QueryAnswer> answer = ParseQueryAnswer(*first);
    if (!answer) return answer.error();
    if (answer->kind == QueryKind::Exact) out_.matchLines << first->mid(4);
    linkOpen = handleQuery(*answer);
    if (answer->kind == QueryKind::Exact && hooks_.alwaysChoose && hooks_.choose && hooks_.choose(out_.matchLines) != 0) {
        out_.cancelled = true;
        linkOpen = false;
    }

    // Step 4: several matches, one of them taken.
    if (multiple_ && linkOpen) {
        QStringList list;
        if (Status s = collectMatches(list); !s) return s;
        out_.matchLines = list;
        int index = -1;
        if (list.size() == 1 && !hooks_.alwaysChoose) {
            index = 0;
        } else if (!list.isEmpty() && hooks_.choose) {
            // An empty list leaves nothing to choose: it is taken as a cancelled choice.
            index = hooks_.choose(list);
            if (index >= list.size()) index = -1;
        }
        if (index < 0) {
            out_.cancelled = true;
            linkOpen = false;
        } else {
            Result<QueryAnswer> taken = ParseQueryAnswer(QStringLiteral("200 ") + list[index]);
            if (!taken) return taken.error();
            handleQuery(*taken);
        }
    }

    // Step 5: the record.
    if (!linkOpen) return Status::ok();
    status(cddbmsg::kLoading);
    Result<QString> read = command(QStringLiteral("cddb read ") + category_ + QLatin1Char(' ') + matchId_);
    if (!read) return read.error();
    const QString code = read->left(3);
    if (code.size() < 3 || !allDigits(code))
        return badData(QStringLiteral("The CDDB server's answer is not a CDDB status line: %1").arg(quoted(*read)));
    if (code == QLatin1String("210")) {
        BeginXmcdRecord(album_);
        formPending = true;
        return readRecord();
    }
    if (code.startsWith(QLatin1Char('4'))) notFound = true;
    return Status::ok();
}

}  // namespace

LookupOutcome RunLookup(const CddbConfig& config, const QString& queryCommand, PendingAlbum& album,
                        const LookupHooks& hooks) {
    LookupOutcome out;
    // The lookup works on a copy: a failure half way leaves the caller's album as it was.
    PendingAlbum work = album;
    Lookup lookup(config, hooks, work, out);
    const Status result = lookup.run(queryCommand);
    lookup.finish();
    if (hooks.status) hooks.status(QString());

    if (!result) {
        out.error = result.text();
        if (hooks.error) hooks.error(out.error);
        return out;
    }
    if (!lookup.message.isEmpty()) {
        // The server turned the client away: no form.
        out.message = lookup.message;
        if (hooks.message) hooks.message(out.message);
        return out;
    }
    if (lookup.notFound) {
        out.notFound = true;
        out.message = cddbmsg::kNotFound;
        if (hooks.message) hooks.message(out.message);
        work.artist.clear();
        work.title.clear();
    } else {
        out.showForm = lookup.formPending;
    }
    album = std::move(work);
    return out;
}

}  // namespace albumora::disc
