// One bounded HTTP GET on the window thread, for the CD database and the web services: the
// request is sent, the answer gathered up to a size limit, and no wait is unbounded (a connect
// limit until the request is out, then a read limit reset by every block that arrives). The
// callers turn what happened into their own messages.
#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

namespace albumora::disc {

struct HttpLimits {
    int connectTimeoutMs = 30000;
    int readTimeoutMs = 60000;
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    int maxRedirects = 3;
    // The whole exchange, however the server paces it; 0: no such limit.
    int totalTimeoutMs = 0;
};

struct HttpTransfer {
    QByteArray body;
    QVariant status;  // the HTTP status; invalid when no HTTP answer came
    QString reason;
    QString contentType;
    QUrl url;             // after redirects
    bool sent = false;    // the request went out (a connection was made)
    bool timedOut = false;
    bool overran = false;  // the whole exchange took longer than its limit
    bool tooLarge = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    QStringList certificateErrors;  // why a server's certificate was refused, each once
};

// Follows a redirect only where it does not lower the security (HTTP to HTTPS, never back).
HttpTransfer RunHttpGet(QNetworkRequest request, const HttpLimits& limits);

}  // namespace albumora::disc
