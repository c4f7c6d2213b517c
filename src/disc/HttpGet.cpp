#include "HttpGet.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTimer>

#if QT_CONFIG(ssl)
#include <QSslError>
#endif

namespace albumora::disc {

HttpTransfer RunHttpGet(QNetworkRequest request, const HttpLimits& limits) {
    HttpTransfer t;
    QNetworkAccessManager nam;
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(limits.maxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Every request is one of its own; nothing is kept open between them.
    request.setRawHeader("Connection", "close");
    QNetworkReply* reply = nam.get(request);
    // What Qt holds between two reads stays small; the body limit is checked on what arrives.
    reply->setReadBufferSize(256 * 1024);

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    auto take = [&] {
        if (t.tooLarge || !reply->isOpen()) return;
        t.body += reply->readAll();
        if (t.body.size() > limits.maxBodyBytes) {
            t.tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::requestSent, &loop, [&] {
        t.sent = true;
        timer.start(limits.readTimeoutMs);
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] { timer.start(limits.readTimeoutMs); });
    QObject::connect(reply, &QIODevice::readyRead, &loop, [&] {
        t.sent = true;
        timer.start(limits.readTimeoutMs);
        take();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
#if QT_CONFIG(ssl)
    QObject::connect(reply, &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError>& errors) {
        for (const QSslError& e : errors) t.certificateErrors << e.errorString();
    });
#endif
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        t.timedOut = true;
        reply->abort();
    });
    // A server that trickles its answer keeps the idle timer from firing; this one ends it.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        t.overran = true;
        reply->abort();
    });
    if (limits.totalTimeoutMs > 0) deadline.start(limits.totalTimeoutMs);
    timer.start(limits.connectTimeoutMs);
    // The window thread waits here; the user's input waits with it, so nothing else starts
    // while the server is asked.
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    timer.stop();
    deadline.stop();
    take();

    t.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    t.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    t.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    t.url = reply->url();
    t.error = reply->error();
    t.errorString = reply->errorString();
    t.certificateErrors.removeDuplicates();
    return t;
}

}  // namespace albumora::disc
