// Running the companion as a separate process with an environment of the test's own (the crash
// and failure points of albumora-cli-crash), and copying a data folder between runs.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <map>

namespace albumora::test {

struct Outcome {
    bool crashed = false;
    int code = -1;
    QString out, err;
};

inline Outcome run(const QString& program, const QStringList& args, const std::map<QString, QString>& env = {}) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const auto& [k, v] : env) e.insert(k, v);
    p.setProcessEnvironment(e);
    p.start(program, args);
    Outcome r;
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The files of a folder (hidden ones too: the lock file and the journal) in place of another's.
inline void copyFolder(const QString& from, const QString& to) {
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    for (const QString& f : QDir(from).entryList(QDir::Files | QDir::Hidden)) QFile::copy(QDir(from).filePath(f), QDir(to).filePath(f));
}

}  // namespace albumora::test
