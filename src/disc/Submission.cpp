#include "Submission.h"

#include "Codepage.h"
#include "DMcd.h"
#include "NotesTags.h"
#include "Prompts.h"

#include <QDateTime>
#include <QSysInfo>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace albumora::disc {

namespace {

using store::trimControl;

platform::Prompts* prompts() { return platform::desktop().prompts; }

void showError(const QString& text) {
    if (platform::Prompts* p = prompts()) p->error(text);
}

void showMessage(const QString& text) {
    if (platform::Prompts* p = prompts()) p->message(text);
}

const QString kCurrent = QStringLiteral("Current");

// A field of the album as one line of the record: a line break inside it would start a line of
// its own, which the database would take for a keyword line.
QString oneLine(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 32) c = QLatin1Char(' ');
    return text;
}

bool allDigits(const QString& text) {
    if (text.isEmpty()) return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

// "EXTT" + k + "=" for every track, each replaced in notes order by a notes line "EXTTk=..."
// (one or two digits) as long as the entry holds no more than an empty or very short text:
// the first line of a track with something in it wins.
QStringList extendedTrackLines(const QStringList& notes, int trackCount) {
    QStringList entries;
    for (int k = 0; k < trackCount; ++k) entries << QStringLiteral("EXTT%1=").arg(k);
    for (const QString& line : notes) {
        if (!line.startsWith(notes::kExtt)) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq != 5 && eq != 6) continue;
        const QString number = line.mid(4, eq - 4);
        // "EXTTx=" names no track; the database would not know what to do with it either.
        if (!allDigits(number)) continue;
        const int k = number.toInt();
        if (k < trackCount && entries[k].size() < 9) entries[k] = line;
    }
    return entries;
}

// A text in a message box: long or binary texts must not flood it.
QString excerpt(const QString& text, qsizetype max = 200) {
    QString e = oneLine(text.left(max));
    if (text.size() > max) e += QStringLiteral("...");
    return e;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The record

int RevisionOf(const QString& rev) {
    if (rev.isEmpty()) return 0;
    const std::string code = store::toCp1252(rev.left(1));
    return int(static_cast<unsigned char>(code.at(0))) - 48;
}

QString RevisionCharacter(int revision) {
    // Revisions come from RevisionOf plus one, capped at 126, so the code stays within a byte;
    // the clamp only keeps a caller's odd number from wrapping around.
    const int code = std::clamp(revision + 48, 1, 255);
    return store::fromCp1252(std::string(1, char(code)));
}

SubmissionRecord ComposeSubmission(const SubmissionAlbum& album, const QStringList& tocLines, const QString& discId,
                                   const QStringList& allowedCategories, const QString& productVersion) {
    SubmissionRecord r;
    // The genre field is 10 characters wide, one too few for this category.
    const QString genre = album.genre;
    const QString key = store::asciiUpper(trimControl(genre));
    if (genre == QLatin1String("soundtrac")) {
        r.category = QStringLiteral("soundtrack");
    } else if (!key.isEmpty() && std::any_of(allowedCategories.begin(), allowedCategories.end(), [&](const QString& c) {
                   return store::asciiUpper(trimControl(c)) == key;
               })) {
        r.category = genre;
    } else {
        r.category = QStringLiteral("misc");
    }

    r.revisionAssumed = album.rev.isEmpty();
    const int current = RevisionOf(album.rev);
    r.revision = current > 125 ? 126 : current + 1;

    QStringList& l = r.lines;
    l << QStringLiteral("# xmcd") << QStringLiteral("#") << QStringLiteral("# Track frame offsets:");
    l += tocLines;
    l << QStringLiteral("#") << QStringLiteral("# Revision: ") + QString::number(r.revision)
      << QStringLiteral("# Submitted via: Albumora ") + productVersion << QStringLiteral("#");
    l << QStringLiteral("DISCID=") + discId;
    l << QStringLiteral("DTITLE=") + oneLine(album.artist) + QStringLiteral(" / ") + oneLine(album.album);
    if (!trimControl(album.year).isEmpty()) l << QStringLiteral("DYEAR=") + oneLine(album.year);
    l << QStringLiteral("DGENRE=") + oneLine(genre);
    for (qsizetype k = 0; k < album.trackTitles.size(); ++k)
        l << QStringLiteral("TTITLE%1=").arg(k) + trimControl(oneLine(album.trackTitles.at(k)));

    const QStringList notes = notes::SplitLines(album.notes);
    qsizetype discLines = 0;
    for (const QString& line : notes) {
        if (!line.startsWith(notes::kExtd)) continue;
        l << line;
        ++discLines;
    }
    if (discLines == 0) l << notes::kExtd;
    l += extendedTrackLines(notes, int(album.trackTitles.size()));
    l << QStringLiteral("PLAYORDER=");

    r.subject = QStringLiteral("cddb ") + trimControl(r.category) + QLatin1Char(' ') + discId;
    return r;
}

// ---------------------------------------------------------------------------------------------
// The mail

namespace {

// SMTP's limit for a line without its CR LF.
constexpr qsizetype kMaxSmtpLine = 998;
// What is kept of one answer of the server for the error text.
constexpr size_t kMaxAnswerChars = 300;

bool hostCharacter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') || c == QLatin1Char('-') ||
           c == QLatin1Char('_');
}

// Why an address cannot go into MAIL FROM, RCPT TO or a header; empty when it can. Only plain
// ASCII without blanks or the characters that delimit addresses: anything else would need
// extensions the server may not have, or could end the command early.
QString addressProblem(const QString& what, const QString& address) {
    if (address.isEmpty()) return what + QStringLiteral(" is empty");
    for (QChar c : address) {
        const char16_t u = c.unicode();
        if (u <= 32 || u >= 127 || QStringLiteral("<>()[],;:\"\\").contains(c))
            return what + QStringLiteral(" \"") + excerpt(address, 100) +
                   QStringLiteral("\" cannot be used: only letters, digits and punctuation such as \"@\", \".\", "
                                  "\"-\" and \"_\" are allowed");
    }
    return {};
}

// A header value: blanks for line breaks, and an encoded word when it is not plain ASCII.
QByteArray headerText(const QString& text) {
    const QString t = oneLine(text);
    const bool ascii = std::all_of(t.begin(), t.end(), [](QChar c) { return c.unicode() < 127; });
    if (ascii) return t.toLatin1();
    return QByteArrayLiteral("=?ISO-8859-1?B?") + t.toLatin1().toBase64() + QByteArrayLiteral("?=");
}

QByteArray quotedPrintableLine(const QByteArray& line) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    qsizetype column = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line.at(i));
        const bool last = i + 1 == line.size();
        QByteArray piece;
        if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
            piece = QByteArray(1, char(c));
        else
            piece = QByteArray{"="} + hex[c >> 4] + hex[c & 15];
        // Soft line breaks keep every encoded line within 76 characters.
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    }
    return out;
}

// The host name this machine greets the server with, when it is a plain one.
QString ehloName() {
    const QString name = QSysInfo::machineHostName();
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), hostCharacter)) return QStringLiteral("localhost");
    return name;
}

QByteArray composeMessage(const MailMessage& m) {
    const qsizetype at = m.from.lastIndexOf(QLatin1Char('@'));
    QString domain = at >= 0 ? m.from.mid(at + 1) : QString();
    if (domain.isEmpty() || !std::all_of(domain.begin(), domain.end(), hostCharacter))
        domain = QStringLiteral("albumora.invalid");

    // Every line break inside a line becomes a line end of its own, so the body never holds a
    // bare CR or LF, which servers refuse.
    QString text = m.body.join(QLatin1Char('\n'));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList bodyLines = m.body.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    QList<QByteArray> encoded;
    bool quoted = false;
    for (const QString& line : bodyLines) {
        encoded << line.toLatin1();
        quoted = quoted || encoded.back().size() > kMaxSmtpLine || encoded.back().contains('\0');
    }

    QByteArray out;
    const auto header = [&out](const char* name, const QByteArray& value) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    };
    header("Date", QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1());
    header("From", headerText(m.from));
    header("To", headerText(m.to));
    header("Subject", headerText(m.subject));
    header("Message-ID", "<" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + "@" + domain.toLatin1() + ">");
    header("MIME-Version", "1.0");
    header("Content-Type", "text/plain; charset=ISO-8859-1");
    header("Content-Transfer-Encoding", quoted ? "quoted-printable" : "8bit");
    out += "\r\n";
    for (const QByteArray& line : encoded) {
        out += quoted ? quotedPrintableLine(line) : line;
        out += "\r\n";
    }
    return out;
}

struct Upload {
    QByteArray data;
    qsizetype position = 0;
};

size_t readUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* u = static_cast<Upload*>(user);
    const size_t room = size * count;
    const size_t left = size_t(u->data.size() - u->position);
    const size_t take = std::min(room, left);
    std::memcpy(buffer, u->data.constData() + u->position, take);
    u->position += qsizetype(take);
    return take;
}

// The server's last answer line but the farewell, shortened and without control characters.
int keepAnswer(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN) return 0;
    QString line = QString::fromLatin1(data, qsizetype(std::min(size, kMaxAnswerChars)));
    while (!line.isEmpty() && (line.back() == QLatin1Char('\n') || line.back() == QLatin1Char('\r'))) line.chop(1);
    // Control characters of either 8-bit range would only garble the message box.
    for (QChar& c : line)
        if (c.unicode() < 32 || (c.unicode() >= 127 && c.unicode() < 160)) c = QLatin1Char(' ');
    line = trimControl(line);
    if (size > kMaxAnswerChars) line += QStringLiteral("...");
    // 221 answers the QUIT that follows a failure too; the answer before it is the one that tells.
    if (!line.isEmpty() && !line.startsWith(QLatin1String("221"))) *static_cast<QString*>(user) = line;
    return 0;
}

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

}  // namespace

std::optional<MailServer> ParseMailServer(const QString& serverIn, QString* error) {
    const QString s = trimControl(serverIn);
    const auto fail = [&](const QString& why) -> std::optional<MailServer> {
        if (error) *error = QStringLiteral("Invalid mail server address \"") + excerpt(s, 100) + QStringLiteral("\": ") + why;
        return std::nullopt;
    };
    if (s.isEmpty()) return fail(QStringLiteral("it is empty"));
    QString host;
    QString portText;
    bool ipv6 = false;
    if (s.startsWith(QLatin1Char('['))) {
        const qsizetype close = s.indexOf(QLatin1Char(']'));
        if (close < 0) return fail(QStringLiteral("\"[\" without \"]\""));
        host = s.mid(1, close - 1);
        const QString rest = s.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')) || rest.size() == 1)
                return fail(QStringLiteral("after \"]\" only \":\" and a port number may follow"));
            portText = rest.mid(1);
        }
        ipv6 = true;
    } else if (s.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = s.indexOf(QLatin1Char(':'));
        host = s.left(colon);
        portText = s.mid(colon + 1);
        if (portText.isEmpty()) return fail(QStringLiteral("\":\" without a port number"));
    } else {
        host = s;
        ipv6 = s.contains(QLatin1Char(':'));
    }
    if (host.isEmpty()) return fail(QStringLiteral("no host name"));
    for (QChar c : host) {
        const bool ok = ipv6 ? (hostCharacter(c) || c == QLatin1Char(':') || c == QLatin1Char('%')) : hostCharacter(c);
        if (!ok) return fail(QStringLiteral("a host name holds only letters, digits, \".\", \"-\" and \"_\""));
    }
    MailServer server{host, 25};
    if (!portText.isEmpty()) {
        const int port = portText.size() <= 5 && allDigits(portText) ? portText.toInt() : 0;
        if (port < 1 || port > 65535) return fail(QStringLiteral("the port must be a number from 1 to 65535"));
        server.port = port;
    }
    return server;
}

MailResult SendMail(const QString& serverText, const MailMessage& message, const MailOptions& options) {
    MailResult result;
    QString problem;
    const std::optional<MailServer> server = ParseMailServer(serverText, &problem);
    if (!server) {
        result.error = problem;
        return result;
    }
    for (const QString& p : {addressProblem(QStringLiteral("The sender's e-mail address"), message.from),
                             addressProblem(QStringLiteral("The recipient's e-mail address"), message.to)}) {
        if (!p.isEmpty()) {
            result.error = p;
            return result;
        }
    }
    if (!curlReady()) {
        result.error = QStringLiteral("The mail library could not be initialised");
        return result;
    }
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        result.error = QStringLiteral("The mail library could not be initialised");
        return result;
    }
    // An IPv6 address goes in brackets, its zone's "%" escaped as an address needs it.
    const QString host = server->host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + QString(server->host).replace(QLatin1Char('%'), QLatin1String("%25")) +
                                   QLatin1Char(']')
                             : server->host;
    // The path of an SMTP address is the name the client greets with.
    const QByteArray url = (QStringLiteral("smtp://") + host + QLatin1Char(':') + QString::number(server->port) +
                            QLatin1Char('/') + ehloName())
                               .toLatin1();
    const QByteArray from = "<" + message.from.toLatin1() + ">";
    const QByteArray to = "<" + message.to.toLatin1() + ">";
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> recipients(curl_slist_append(nullptr, to.constData()),
                                                                    curl_slist_free_all);
    Upload upload{composeMessage(message), 0};
    char detail[CURL_ERROR_SIZE] = {};
    QString lastAnswer;

    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp");
#endif
    // Plain SMTP to the user's server; proxy settings of the environment do not apply.
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_NONE));
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(upload.data.size()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(1, options.connectTimeoutMs)));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(std::max(1, options.totalTimeoutMs)));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
    // The server's answers are only seen through the debug callback; nothing is printed.
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, keepAnswer);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &lastAnswer);

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) {
        result.sent = true;
        return result;
    }
    QString text = QString::fromUtf8(curl_easy_strerror(code));
    const QString more = trimControl(QString::fromUtf8(detail));
    if (!more.isEmpty() && more != text) text += QStringLiteral(": ") + more;
    // An answer that was not a success says best why; a good answer before a silence does not.
    if (!lastAnswer.isEmpty() && !lastAnswer.startsWith(QLatin1Char('2')) && !lastAnswer.startsWith(QLatin1Char('3')))
        text += QStringLiteral("\rThe mail server answered: ") + lastAnswer;
    result.error = QStringLiteral("The mail to ") + message.to + QStringLiteral(" could not be sent through ") +
                   excerpt(serverText, 100) + QStringLiteral(":\r") + text;
    return result;
}

// ---------------------------------------------------------------------------------------------
// The flows

namespace {

const QString kNoDisc = QStringLiteral("No audio CD has been read from the drive: there is nothing to submit");
const QString kNotTheDisc =
    QStringLiteral("The current album is not the CD in the drive.\rOnly the album of the CD in the drive can be submitted.");

// The titles of an album's tracks in track order, read through a cursor of its own so that no
// grid of the windows moves or redraws.
store::Result<QStringList> trackTitles(store::TDM& dm, const QString& id) {
    QStringList titles;
    if (id.isEmpty()) return titles;
    store::Cursor tracks;
    tracks.setTablePath(dm.tablePath(QStringLiteral("TRACKS.DBF")));
    ALB_TRY(tracks.setOrder(QStringLiteral("Tracks")));
    ALB_TRY(tracks.open());
    // The tag's key begins with the album ID, so the album's rows are one range of it.
    ALB_TRY(tracks.setScope(id, id));
    ALB_TRY(tracks.first());
    while (!tracks.isEmpty() && !tracks.eof()) {
        titles << tracks.text(QStringLiteral("Track"));
        ALB_TRY(tracks.next());
    }
    return titles;
}

store::Status storeRevision(store::Cursor& albums, int revision) {
    store::Status st = albums.edit();
    if (st) st = albums.setText(QStringLiteral("Rev"), RevisionCharacter(revision));
    if (st) st = albums.post();
    if (!st) {
        albums.cancel();
        return st;
    }
    return albums.flush();
}

}  // namespace

store::Result<SubmitOutcome> Submit(SubmitContext& ctx) {
    const auto read = [&ctx] { return ctx.settingsFile ? ctx.settingsFile->read(nullptr) : settings::RunSettings(); };
    settings::RunSettings now = read();
    if (trimControl(now.server).isEmpty() || trimControl(now.mail).isEmpty()) {
        showError(submitmsg::kConfirmSettings);
        if (ctx.showOptions) ctx.showOptions();
    }
    // The options dialog may have changed any of them.
    now = read();
    const QString server = trimControl(now.server);
    const QString mail = trimControl(now.mail);
    const QString smtp = QStringLiteral("SMTP");
    const QString authKey = QStringLiteral("Auth");
    if (ctx.settingsFile) {
        settings::IniFile& ini = ctx.settingsFile->ini();
        const bool auth = ini.readBool(smtp, authKey, true);
        if (!ini.writeBool(smtp, authKey, auth) && ctx.notSaved) ctx.notSaved(ini.notSavedMessage());
    }
    if (server.isEmpty() || mail.isEmpty()) {
        showError(submitmsg::kStillInvalid);
        return SubmitOutcome::SettingsMissing;
    }
    // A key of its own, not offered by the options dialog: where a test or a private database
    // takes the contributions.
    QString mailbox = ctx.settingsFile ? trimControl(ctx.settingsFile->ini().readString(kCurrent, QStringLiteral("Mailbox"))) : QString();
    if (mailbox.isEmpty()) mailbox = kSubmissionMailbox;

    // The ID is worked out from the disc's own table of contents, not taken from the current
    // disc ID, which a record pasted into the import window may have changed: the contribution
    // always pairs the disc's ID with the disc's own frame offsets.
    const QString discId = ctx.disc.toc.trackCount == 0 ? QString() : DiscDrive::DiscIdText(CalcDiscID(ctx.disc.toc));
    if (discId.isEmpty() || ctx.disc.currentDiscId.isEmpty()) {
        showError(kNoDisc);
        return SubmitOutcome::Refused;
    }
    store::Cursor& albums = ctx.dm.tblAlbums;
    // The offsets are the disc's, so the album must be the disc's too.
    if (!albums.isOpen() || albums.isEmpty() || albums.text(QStringLiteral("ID")) != discId) {
        showError(kNotTheDisc);
        return SubmitOutcome::Refused;
    }

    SubmissionAlbum album;
    album.artist = albums.text(QStringLiteral("Artist"));
    album.album = albums.text(QStringLiteral("Album"));
    album.year = albums.text(QStringLiteral("YR"));
    album.genre = albums.text(QStringLiteral("Genre"));
    album.rev = albums.text(QStringLiteral("Rev"));
    ALB_ASSIGN_OR_RETURN(album.notes, albums.readText(QStringLiteral("Notes")));
    ALB_ASSIGN_OR_RETURN(album.trackTitles, trackTitles(ctx.dm, discId));
    const QStringList toc = DiscDrive::ComposeTocText(ctx.disc.toc, TocMode::Submission, QString()).submissionLines;
    const SubmissionRecord record = ComposeSubmission(album, toc, discId, ctx.officialCategories, ctx.productVersion);

    const MailResult sent = SendMail(server, {mail, mailbox, record.subject, record.lines}, ctx.mail);
    if (!sent.sent) {
        showError(sent.error);
        return SubmitOutcome::SendFailed;
    }
    // Only now: a failed send can be repeated with the same revision.
    ALB_TRY(storeRevision(albums, record.revision));
    showMessage(submitmsg::kThankYou);
    return SubmitOutcome::Submitted;
}

store::Result<SubmitOutcome> FreedbClick(SubmitContext& ctx, const std::function<store::Result<bool>()>& findCdInCollection) {
    if (!findCdInCollection) return SubmitOutcome::NotInCollection;
    ALB_ASSIGN_OR_RETURN(const bool found, findCdInCollection());
    if (!found) return SubmitOutcome::NotInCollection;
    store::Cursor& albums = ctx.dm.tblAlbums;
    ALB_ASSIGN_OR_RETURN(const QStringList titles, trackTitles(ctx.dm, albums.text(QStringLiteral("ID"))));
    // Titles nobody entered are not contributed.
    if (!titles.isEmpty() && titles.first().startsWith(QLatin1String("Track "))) {
        showError(submitmsg::kDefaultTitles);
        return SubmitOutcome::DefaultTitles;
    }
    platform::Prompts* p = prompts();
    const QString question = submitmsg::kAskBefore + albums.text(QStringLiteral("Album")) + submitmsg::kAskAfter;
    if (!p || !p->confirm(question)) return SubmitOutcome::Declined;
    return Submit(ctx);
}

}  // namespace albumora::disc
