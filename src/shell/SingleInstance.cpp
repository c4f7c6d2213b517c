#include "SingleInstance.h"

#include "Prompts.h"

#include <QDir>
#include <QStandardPaths>

namespace albumora::shell {

SingleInstance::SingleInstance(QString lockPath) : path_(lockPath.isEmpty() ? defaultLockPath() : std::move(lockPath)) {}

QString SingleInstance::defaultLockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("Albumora.lock"));
}

bool SingleInstance::acquire() {
    lock_ = std::make_unique<QLockFile>(path_);
    // A lock whose process is gone is stale whatever its age: a killed copy must not block.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return true;
    if (lock_->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, app;
        if (lock_->getLockInfo(&pid, &host, &app) && lock_->removeStaleLockFile()) return lock_->tryLock(0);
    }
    return false;
}

}  // namespace albumora::shell

namespace albumora::shell {

bool EnsureSingleInstance(SingleInstance& guard, platform::Prompts* prompts) {
    if (guard.acquire()) return true;
    if (prompts) prompts->message(QStringLiteral("You ALREADY have a copy of Albumora running!"));
    return false;
}

}  // namespace albumora::shell
