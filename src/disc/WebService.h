// The web services a disc is looked up in besides the CD database: the MusicBrainz web service
// (ws/2) and the Cover Art Archive. One bounded GET does every request: connect and read time
// limits, a body limit, HTTPS with the system's certificates, redirects only where they do not
// lower the security, and a User-Agent that names the program and, when the user gave one, a
// contact address, as the service asks of every client.
//
// MusicBrainz allows one request a second from a client; the limit is kept for the whole
// process, so two lookups in a row wait the second. Nothing here runs unless a lookup or a
// cover was asked for.
#pragma once

#include "MusicBrainz.h"
#include "Status.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace albumora::disc {

struct WebConfig {
    QString userAgent;
    int connectTimeoutMs = 30000;
    // Silence allowed while the answer is awaited (reset by every block that arrives).
    int readTimeoutMs = 60000;
    qint64 maxBodyBytes = 4 * 1024 * 1024;
};

// "Albumora/<version> ( <mail> )"; the mail is left out when it is not one plain address.
QString ComposeUserAgent(const QString& mail);

struct WebAnswer {
    int status = 0;  // the HTTP status
    QByteArray body;
    QString contentType;
    QUrl url;  // after redirects
};

// One GET. A transport failure (no connection, a time limit, a body over the limit, a TLS
// failure) is an IoError naming the service; any HTTP status is an answer.
store::Result<WebAnswer> WebGet(const QUrl& url, const WebConfig& config, const QString& service);

// The process's pace of MusicBrainz requests.
class RequestPace {
public:
    using Sleep = std::function<void(int ms)>;
    // Waits until intervalMs have passed since the last request began, then counts this one.
    static void waitTurn(int intervalMs);
    // Tests watch the waits through their own sleep (nullptr: the real one).
    static void setSleep(Sleep sleep);
    static void reset();
};

struct MbConfig {
    QString base = QStringLiteral("https://musicbrainz.org");
    QString coverArtBase = QStringLiteral("https://coverartarchive.org");
    WebConfig web;
    int intervalMs = 1000;
    // A cover file larger than this is passed over for a smaller size of the same image.
    qint64 maxCoverBytes = 1024 * 1024;
};

// The service's rules applied to a disc: the disc ID lookup, then, when the ID is unknown, the
// TOC lookup ("-?toc="), and the release lookup for a release whose disc answer lacked its
// tracks.
class MbClient {
public:
    explicit MbClient(MbConfig config);
    const MbConfig& config() const { return config_; }

    // The releases of the disc; nothing when the service knows neither the ID nor the TOC.
    store::Result<std::optional<mb::DiscAnswer>> lookupDisc(const MbDiscToc& disc);
    store::Result<mb::Release> lookupRelease(const QString& mbid);

    // The URL of a request (for messages and tests).
    QUrl discUrl(const QString& discId, const QString& tocText) const;
    QUrl releaseUrl(const QString& mbid) const;

private:
    store::Result<WebAnswer> get(const QUrl& url);
    MbConfig config_;
};

struct CoverImage {
    QByteArray bytes;
    QString suffix;  // "jpg", "png", "gif", "webp"
    QUrl url;
};

// The release's front image from the Cover Art Archive: the 500 px thumbnail, else the largest
// offered that stays under maxCoverBytes. Nothing when the release has no front image.
store::Result<std::optional<CoverImage>> FetchFrontCover(const MbConfig& config, const QString& mbid);
// An address of the archive as the configured base serves it: a mirror or a test server gets
// the listing's own links to coverartarchive.org.
QUrl CoverUrlAt(const QString& link, const QString& coverArtBase);

// Writes the image as <dataFolder>covers/<album ID>.<suffix> (beside, then renamed) and gives
// its full path.
store::Result<QString> StoreCover(const QString& dataFolder, const QString& albumId, const CoverImage& image);

}  // namespace albumora::disc
