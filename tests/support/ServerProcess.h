// The network servers the tests run as real processes on loopback: the CDDB server (HTTP and
// CDDBP over one folder of xmcd records) and the SMTP server that keeps every message it takes.
// Each starts on free ports, says which on its first line, and is killed when the object goes.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace albumora::test {

class ServerProcess {
public:
    // Runs a server script under Debian's Python and waits (up to 15 s) for its first line.
    ServerProcess(const QString& script, const QStringList& args);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return started_; }
    // Why it did not start: its error output.
    QString failure() const { return failure_; }
    // A "name=PORT" word of the first line, or the whole line as a number without a name; 0
    // when absent.
    int port(const QString& name = {}) const;

private:
    std::unique_ptr<QProcess> process_;
    QString firstLine_;
    QString failure_;
    bool started_ = false;
};

// The CDDB server of tests/disc/tools over root (ROOT/<category>/<disc ID>), logging every
// command it receives to logPath; extra options select its faults.
class CddbServer : public ServerProcess {
public:
    CddbServer(const QString& root, const QString& logPath, const QStringList& options = {});
    int httpPort() const { return port(QStringLiteral("http")); }
    int cddbpPort() const { return port(QStringLiteral("cddbp")); }
    // The log: "T <line>" for a CDDBP line, "H <target>" for an HTTP request.
    QStringList log() const;

private:
    QString logPath_;
};

// The SMTP server of tests/disc/tools, writing every message it accepts to folder.
class SmtpServer : public ServerProcess {
public:
    explicit SmtpServer(const QString& folder, const QStringList& options = {});
};

}  // namespace albumora::test
