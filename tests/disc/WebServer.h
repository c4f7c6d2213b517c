// The web server of tests/disc/tools (web_server.py) as the MusicBrainz and cover tests run it:
// a routes file written into a folder of the test's own, the server process on loopback, and
// its request log read back as entries.
#pragma once

#include "ServerProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <memory>
#include <vector>

namespace albumora::test {

// The MusicBrainz and Cover Art Archive answers of the shared test data.
inline QString MbData(const QString& relative) {
    return sharedTestData() + QStringLiteral("/musicbrainz/") + relative;
}

class WebServer {
public:
    struct Request {
        double seconds = 0;  // since the server started
        QString target;      // as sent: path and query
        QString userAgent;
        QString path() const { return target.section(QLatin1Char('?'), 0, 0); }
        QString query() const { return target.section(QLatin1Char('?'), 1); }
        // A query item with "+" read as the blank it stands for.
        QString item(const QString& key) const {
            return QUrlQuery(query()).queryItemValue(key, QUrl::FullyDecoded).replace(QLatin1Char('+'), QLatin1Char(' '));
        }
    };

    // name keeps the routes and log of several servers in one folder apart.
    explicit WebServer(const QString& folder, const QString& name = QStringLiteral("web"))
        : folder_(folder), routes_(folder + QLatin1Char('/') + name + QStringLiteral(".routes")),
          log_(folder + QLatin1Char('/') + name + QStringLiteral(".log")) {}

    // "PATH STATUS FILE [CONTENT-TYPE]"; a FILE without a folder is one of the test folder.
    void route(const QString& path, int status, const QString& file, const QString& contentType = {}) {
        lines_ << (path + QLatin1Char(' ') + QString::number(status) + QLatin1Char(' ') + file +
                   (contentType.isEmpty() ? QString() : QLatin1Char(' ') + contentType));
    }
    // Bytes of the test's own served from the folder.
    void routeBytes(const QString& path, int status, const QString& name, const QByteArray& bytes,
                    const QString& contentType = {}) {
        writeFileBytes(folder_ + QLatin1Char('/') + name, bytes);
        route(path, status, name, contentType);
    }

    // Starts the server over the routes given so far; false (with the reason in failure())
    // when it did not come up.
    bool start(const QStringList& options = {}) {
        QFile f(routes_);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        f.write(lines_.join(QLatin1Char('\n')).toUtf8() + '\n');
        f.close();
        process_ = std::make_unique<ServerProcess>(QStringLiteral(ALBUMORA_TEST_TOOLS "/web_server.py"),
                                                   QStringList{QStringLiteral("--log"), log_, QStringLiteral("--routes"), routes_} +
                                                       options);
        return process_->started();
    }
    QString failure() const { return process_ ? process_->failure() : QStringLiteral("not started"); }
    int port() const { return process_ ? process_->port(QStringLiteral("http")) : 0; }
    QString base(bool https = false) const {
        return (https ? QStringLiteral("https://127.0.0.1:") : QStringLiteral("http://127.0.0.1:")) + QString::number(port());
    }
    // The server is gone: its port refuses connections from here on.
    void stop() { process_.reset(); }

    std::vector<Request> log() const {
        std::vector<Request> out;
        QFile f(log_);
        if (!f.open(QIODevice::ReadOnly)) return out;
        for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList parts = line.split(QLatin1Char('\t'));
            if (parts.size() < 2) continue;
            out.push_back({parts[0].toDouble(), parts[1], parts.value(2)});
        }
        return out;
    }
    QStringList paths() const {
        QStringList out;
        for (const Request& r : log()) out << r.path();
        return out;
    }
    // The server logs a request before it answers; a client that gave up may be gone before the
    // line is written.
    bool loggedSoon(qsizetype count, int ms = 2000) const {
        QElapsedTimer clock;
        clock.start();
        while (qsizetype(log().size()) < count && clock.elapsed() < ms) QThread::msleep(20);
        return qsizetype(log().size()) >= count;
    }

private:
    QString folder_, routes_, log_;
    QStringList lines_;
    std::unique_ptr<ServerProcess> process_;
};

}  // namespace albumora::test
