#include "ServerProcess.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>

namespace albumora::test {

ServerProcess::ServerProcess(const QString& script, const QStringList& args) : process_(std::make_unique<QProcess>()) {
    process_->setProgram(systemPython());
    process_->setArguments(QStringList{script} + args);
    process_->start();
    if (!process_->waitForStarted(15000)) {
        failure_ = process_->errorString();
        return;
    }
    const QDeadlineTimer deadline(15000);
    while (!process_->canReadLine() && !deadline.hasExpired() && process_->state() == QProcess::Running)
        process_->waitForReadyRead(int(deadline.remainingTime()));
    if (!process_->canReadLine()) {
        failure_ = QString::fromUtf8(process_->readAllStandardError());
        return;
    }
    firstLine_ = QString::fromUtf8(process_->readLine()).trimmed();
    started_ = true;
}

ServerProcess::~ServerProcess() {
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(5000);
    }
}

int ServerProcess::port(const QString& name) const {
    if (name.isEmpty()) return firstLine_.toInt();
    for (const QString& word : firstLine_.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (word.startsWith(name + QLatin1Char('='))) return word.mid(name.size() + 1).toInt();
    return 0;
}

CddbServer::CddbServer(const QString& root, const QString& logPath, const QStringList& options)
    : ServerProcess(QStringLiteral(ALBUMORA_TEST_TOOLS "/cddb_server.py"),
                    QStringList{QStringLiteral("--root"), root, QStringLiteral("--log"), logPath} + options),
      logPath_(logPath) {}

QStringList CddbServer::log() const {
    QFile f(logPath_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

SmtpServer::SmtpServer(const QString& folder, const QStringList& options)
    : ServerProcess(QStringLiteral(ALBUMORA_TEST_TOOLS "/smtp_server.py"), QStringList{QStringLiteral("--folder"), folder} + options) {}

}  // namespace albumora::test
