#include "WebService.h"

#include "Codepage.h"
#include "HttpGet.h"
#include "Version.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>
#include <QUrlQuery>

#include <mutex>

namespace albumora::disc {

using store::ErrorKind;
using store::Result;
using store::Status;

namespace {

Status ioError(const QString& text) {
    return Status(ErrorKind::IoError, text);
}

QString seconds(int ms) {
    return ms % 1000 == 0 ? QStringLiteral("%1 seconds").arg(ms / 1000) : QStringLiteral("%1 seconds").arg(ms / 1000.0, 0, 'g', 3);
}

// A message that begins with the service's name ("the MusicBrainz service ...").
QString sentence(QString text) {
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

QString where(const QUrl& url) {
    return url.host() + (url.port() > 0 ? QLatin1Char(':') + QString::number(url.port()) : QString());
}

}  // namespace

QString ComposeUserAgent(const QString& mail) {
    QString agent = QStringLiteral("Albumora/") + kProductVersion;
    const QString address = store::trimControl(mail);
    static const QRegularExpression plain(QStringLiteral("^[!-~]+@[!-~]+$"));
    if (address.count(QLatin1Char('@')) == 1 && plain.match(address).hasMatch() && !address.contains(QLatin1Char('(')) &&
        !address.contains(QLatin1Char(')')))
        agent += QStringLiteral(" ( ") + address + QStringLiteral(" )");
    return agent;
}

Result<WebAnswer> WebGet(const QUrl& url, const WebConfig& config, const QString& service) {
    if (!QCoreApplication::instance()) return ioError(QStringLiteral("Web requests need the program's application object."));
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The %1 address \"%2\" is not a web address.").arg(service, url.toString()));
    const QString at = where(url);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, config.userAgent);
    request.setRawHeader("Accept", "application/xml, application/json;q=0.9, image/*;q=0.8, */*;q=0.5");
    HttpLimits limits;
    limits.connectTimeoutMs = config.connectTimeoutMs;
    limits.readTimeoutMs = config.readTimeoutMs;
    limits.maxBodyBytes = config.maxBodyBytes;
    // The Cover Art Archive sends its images on through a redirect or two.
    limits.maxRedirects = 5;
    limits.totalTimeoutMs = config.connectTimeoutMs + 2 * config.readTimeoutMs;
    HttpTransfer t = RunHttpGet(request, limits);

    if (t.tooLarge)
        return Status(ErrorKind::Corruption, QStringLiteral("The answer of %1 at %2 is larger than %3 KiB.")
                                                 .arg(service, at)
                                                 .arg(config.maxBodyBytes / 1024));
    if (t.overran)
        return ioError(sentence(QStringLiteral("%1 at %2 took longer than %3 for its answer.").arg(service, at, seconds(limits.totalTimeoutMs))));
    if (t.timedOut && !t.sent)
        return ioError(QStringLiteral("Could not connect to %1 at %2 within %3.").arg(service, at, seconds(config.connectTimeoutMs)));
    if (t.timedOut) return ioError(sentence(QStringLiteral("%1 at %2 sent nothing for %3.").arg(service, at, seconds(config.readTimeoutMs))));
    if (!t.certificateErrors.isEmpty())
        return ioError(QStringLiteral("The certificate of %1 at %2 is not trusted (%3); nothing was sent over HTTPS.")
                           .arg(service, at, t.certificateErrors.join(QStringLiteral("; "))));
    if (!t.status.isValid()) {
        if (t.error == QNetworkReply::SslHandshakeFailedError)
            return ioError(QStringLiteral("Could not make a secure (HTTPS) connection to %1 at %2; is it an HTTPS server? %3")
                               .arg(service, at, t.errorString));
        if (t.error != QNetworkReply::NoError)
            return ioError((t.sent ? QStringLiteral("The connection to %1 at %2 failed: %3") : QStringLiteral("Could not connect to %1 at %2: %3"))
                               .arg(service, at, t.errorString));
        return Status(ErrorKind::Corruption, sentence(QStringLiteral("%1 at %2 did not answer with HTTP.").arg(service, at)));
    }
    // An error status comes with its body (a MusicBrainz error text): Qt files those under its
    // content and server errors. Anything else (a transfer broken after the status line, a
    // protocol failure) leaves a body that may be cut short, so it is a failure.
    const int e = int(t.error);
    // (Qt files a 400 under its protocol errors.)
    const bool statusError = (e >= QNetworkReply::ContentAccessDenied && e < QNetworkReply::ProtocolUnknownError) ||
                             e == QNetworkReply::ProtocolInvalidOperationError ||
                             (e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError);
    if (t.error != QNetworkReply::NoError && !statusError)
        return ioError(QStringLiteral("The connection to %1 at %2 failed: %3").arg(service, at, t.errorString));
    WebAnswer answer;
    answer.status = t.status.toInt();
    answer.body = std::move(t.body);
    answer.contentType = t.contentType;
    answer.url = t.url;
    return answer;
}

// ---------------------------------------------------------------------------------------------

namespace {
struct Pace {
    std::mutex mutex;
    QElapsedTimer last;
    RequestPace::Sleep sleep;
};
Pace& pace() {
    static Pace p;
    return p;
}
}  // namespace

void RequestPace::waitTurn(int intervalMs) {
    Pace& p = pace();
    std::unique_lock lock(p.mutex);
    if (p.last.isValid()) {
        const qint64 left = intervalMs - p.last.elapsed();
        if (left > 0) {
            if (p.sleep)
                p.sleep(int(left));
            else
                QThread::msleep(static_cast<unsigned long>(left));
        }
    }
    p.last.start();
}

void RequestPace::setSleep(Sleep sleep) {
    std::unique_lock lock(pace().mutex);
    pace().sleep = std::move(sleep);
}

void RequestPace::reset() {
    std::unique_lock lock(pace().mutex);
    pace().last.invalidate();
}

// ---------------------------------------------------------------------------------------------

namespace {
const QString kMusicBrainz = QStringLiteral("the MusicBrainz service");
const QString kCoverArt = QStringLiteral("the Cover Art Archive");
const QString kInc = QStringLiteral("recordings+artist-credits+labels+release-groups+genres");

QString baseOf(const QString& configured, const char* fallback) {
    QString b = store::trimControl(configured);
    if (b.isEmpty()) b = QString::fromLatin1(fallback);
    while (b.endsWith(QLatin1Char('/'))) b.chop(1);
    return b;
}

// Only what a disc ID or an MBID may hold goes into a path: the service's alphabets.
bool plainPathWord(const QString& w) {
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return re.match(w).hasMatch() && w != QLatin1String(".") && w != QLatin1String("..");
}
}  // namespace

MbClient::MbClient(MbConfig config) : config_(std::move(config)) {}

QUrl MbClient::discUrl(const QString& discId, const QString& tocText) const {
    QString target = baseOf(config_.base, "https://musicbrainz.org") + QStringLiteral("/ws/2/discid/") + discId + QStringLiteral("?");
    if (!tocText.isEmpty()) target += QStringLiteral("toc=") + QString(tocText).replace(QLatin1Char(' '), QLatin1Char('+')) + QLatin1Char('&');
    // Releases only: a CD stub is no album to fill.
    target += QStringLiteral("cdstubs=no&inc=") + kInc;
    return QUrl(target);
}

QUrl MbClient::releaseUrl(const QString& mbid) const {
    return QUrl(baseOf(config_.base, "https://musicbrainz.org") + QStringLiteral("/ws/2/release/") + mbid + QStringLiteral("?inc=") + kInc +
                QStringLiteral("+discids"));
}

Result<WebAnswer> MbClient::get(const QUrl& url) {
    RequestPace::waitTurn(config_.intervalMs);
    Result<WebAnswer> a = WebGet(url, config_.web, kMusicBrainz);
    if (!a) return a;
    if (a->status == 503)
        return ioError(QStringLiteral("The MusicBrainz service is busy (HTTP 503); try again in a little while."));
    return a;
}

namespace {
Status refused(const WebAnswer& a) {
    const QString why = ParseMbError(a.body);
    return Status(ErrorKind::IoError, QStringLiteral("The MusicBrainz service refused the request (HTTP %1)%2")
                                          .arg(a.status)
                                          .arg(why.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + ToStorable(why.left(200))));
}
}  // namespace

Result<std::optional<mb::DiscAnswer>> MbClient::lookupDisc(const MbDiscToc& disc) {
    if (!plainPathWord(disc.discId)) return Status(ErrorKind::InvalidArgument, QStringLiteral("The MusicBrainz disc ID is not valid."));
    // The disc ID first: an exact answer. An unknown ID is asked again by its TOC alone, which
    // finds releases whose track lengths fit.
    for (const bool byToc : {false, true}) {
        Result<WebAnswer> a = get(byToc ? discUrl(QStringLiteral("-"), disc.tocText) : discUrl(disc.discId, QString()));
        if (!a) return a.error();
        if (a->status == 404) continue;
        if (a->status != 200) return refused(*a);
        Result<mb::DiscAnswer> answer = ParseMbDiscAnswer(a->body);
        if (!answer) return answer.error();
        if (answer->releases.empty()) continue;
        return std::optional<mb::DiscAnswer>(std::move(*answer));
    }
    return std::optional<mb::DiscAnswer>();
}

Result<mb::Release> MbClient::lookupRelease(const QString& mbid) {
    if (!plainPathWord(mbid)) return Status(ErrorKind::InvalidArgument, QStringLiteral("The release ID is not valid."));
    Result<WebAnswer> a = get(releaseUrl(mbid));
    if (!a) return a.error();
    if (a->status != 200) return refused(*a);
    return ParseMbRelease(a->body);
}

// ---------------------------------------------------------------------------------------------

QUrl CoverUrlAt(const QString& link, const QString& coverArtBase) {
    QUrl url(link);
    const QUrl base(baseOf(coverArtBase, "https://coverartarchive.org"));
    if (url.host().compare(QLatin1String("coverartarchive.org"), Qt::CaseInsensitive) == 0) {
        // The archive's links say http; it serves HTTPS, and so does a base that says so.
        url.setScheme(base.scheme());
        url.setHost(base.host());
        url.setPort(base.port());
        if (!base.path().isEmpty() && base.path() != QLatin1String("/")) url.setPath(base.path() + url.path());
    }
    return url;
}

namespace {
QString imageSuffix(const QByteArray& b) {
    if (b.startsWith("\xFF\xD8\xFF")) return QStringLiteral("jpg");
    if (b.startsWith("\x89PNG\r\n\x1A\n")) return QStringLiteral("png");
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a")) return QStringLiteral("gif");
    if (b.size() >= 12 && b.startsWith("RIFF") && b.mid(8, 4) == "WEBP") return QStringLiteral("webp");
    return {};
}
}  // namespace

Result<std::optional<CoverImage>> FetchFrontCover(const MbConfig& config, const QString& mbid) {
    if (!plainPathWord(mbid)) return Status(ErrorKind::InvalidArgument, QStringLiteral("The release ID is not valid."));
    const QUrl listing(baseOf(config.coverArtBase, "https://coverartarchive.org") + QStringLiteral("/release/") + mbid + QLatin1Char('/'));
    Result<WebAnswer> a = WebGet(listing, config.web, kCoverArt);
    if (!a) return a.error();
    if (a->status == 404) return std::optional<CoverImage>();
    if (a->status != 200) return ioError(QStringLiteral("The Cover Art Archive answered with HTTP status %1.").arg(a->status));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(a->body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return Status(ErrorKind::Corruption, QStringLiteral("The Cover Art Archive's listing cannot be read."));

    QStringList candidates;
    for (const QJsonValue v : doc.object().value(QLatin1String("images")).toArray()) {
        const QJsonObject image = v.toObject();
        const bool front = image.value(QLatin1String("front")).toBool() ||
                           image.value(QLatin1String("types")).toArray().contains(QJsonValue(QStringLiteral("Front")));
        if (!front) continue;
        const QJsonObject thumbs = image.value(QLatin1String("thumbnails")).toObject();
        // The 500 px thumbnail first; else larger ones, the original last, then the small ones.
        for (const char* key : {"500", "large", "1200", "", "250", "small"}) {
            const QString link = *key ? thumbs.value(QLatin1String(key)).toString() : image.value(QLatin1String("image")).toString();
            if (!link.isEmpty() && !candidates.contains(link)) candidates << link;
        }
        break;
    }
    if (candidates.isEmpty()) return std::optional<CoverImage>();

    WebConfig web = config.web;
    web.maxBodyBytes = config.maxCoverBytes;
    Status last = Status::ok();
    for (const QString& link : candidates) {
        const QUrl url = CoverUrlAt(link, config.coverArtBase);
        Result<WebAnswer> image = WebGet(url, web, kCoverArt);
        if (!image) {
            // Too large: a smaller size of the same image may do.
            last = image.error();
            if (image.error().kind() == ErrorKind::Corruption) continue;
            return image.error();
        }
        if (image->status != 200) {
            last = ioError(QStringLiteral("The Cover Art Archive answered with HTTP status %1 for %2.").arg(image->status).arg(url.toString()));
            continue;
        }
        const QString suffix = imageSuffix(image->body);
        if (suffix.isEmpty()) {
            last = Status(ErrorKind::Corruption, QStringLiteral("The Cover Art Archive sent something that is no image for %1.").arg(url.toString()));
            continue;
        }
        return std::optional<CoverImage>(CoverImage{image->body, suffix, url});
    }
    return last;
}

Result<QString> StoreCover(const QString& dataFolder, const QString& albumId, const CoverImage& image) {
    // The album ID names the file. An ID with characters a file name should not hold gets them
    // replaced and a hash of the whole ID added, so two albums never share a cover.
    const QString id = albumId.trimmed();
    if (id.isEmpty()) return Status(ErrorKind::InvalidArgument, QStringLiteral("A cover needs the album's ID."));
    QString name;
    bool plain = true;
    for (QChar c : id) {
        const bool keep = (c.unicode() < 128 && c.isLetterOrNumber()) || c == QLatin1Char('-');
        plain = plain && keep;
        name += keep ? c : QLatin1Char('_');
    }
    if (!plain)
        name += QLatin1Char('-') +
                QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    QDir folder(dataFolder);
    if (!folder.mkpath(QStringLiteral("covers")))
        return ioError(QStringLiteral("Could not make the folder %1.").arg(folder.absoluteFilePath(QStringLiteral("covers"))));
    const QString path = QDir::cleanPath(folder.absoluteFilePath(QStringLiteral("covers/") + name + QLatin1Char('.') + image.suffix));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image.bytes) != image.bytes.size() || !file.commit())
        return ioError(QStringLiteral("Could not write the cover %1: %2").arg(path, file.errorString()));
    return path;
}

}  // namespace albumora::disc
