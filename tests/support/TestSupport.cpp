#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace albumora::test {

TempFolder::TempFolder() : path_(dir_.path()) {}

QString TempFolder::file(const QString& name) const { return QDir(path_).filePath(name); }

QString sharedTestData() {
    QString p = qEnvironmentVariable("ALBUMORA_TESTDATA");
    if (p.isEmpty()) p = QStringLiteral(ALBUMORA_SHARED_DIR) + QStringLiteral("/testdata");
    return QFileInfo(p).isDir() ? p : QString();
}

QString sharedTools() {
    const QString p = QStringLiteral(ALBUMORA_SHARED_DIR) + QStringLiteral("/tools");
    return QFileInfo(p).isDir() ? p : QString();
}

ProcessResult runProcess(const QString& program, const QStringList& args, int timeoutMs, const QString& workingDir) {
    QProcess p;
    if (!workingDir.isEmpty()) p.setWorkingDirectory(workingDir);
    p.start(program, args);
    ProcessResult r;
    if (!p.waitForStarted(10000)) {
        r.err = QStringLiteral("could not start ") + program;
        return r;
    }
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out: ") + program;
        r.crashed = true;
        return r;
    }
    r.exitCode = p.exitCode();
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err += QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString systemPython() {
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                 : QStringLiteral("python3");
}

ProcessResult runPython(const QString& script, const QStringList& args) {
    return runProcess(systemPython(), QStringList{QStringLiteral("-c"), script} + args);
}

ProcessResult runCli(const QStringList& args) {
    // The sanitizer pass runs the store tests against the companion of the plain build.
    const QString other = qEnvironmentVariable("ALBUMORA_CLI");
    return runProcess(other.isEmpty() ? QStringLiteral(ALBUMORA_CLI_PATH) : other, args);
}

ProcessResult cdxcheck(const QString& cdx, const QString& dbf) {
    return runProcess(systemPython(), {sharedTools() + QStringLiteral("/cdxcheck.py"), cdx, dbf});
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString copyTestFile(const QString& relative, const QString& toFolder) {
    const QString from = sharedTestData() + QLatin1Char('/') + relative;
    const QString to = QDir(toFolder).filePath(QFileInfo(from).fileName());
    QFile::remove(to);
    QFile::copy(from, to);
    QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                  QFileDevice::ReadOther);
    return to;
}

}  // namespace albumora::test
