// One copy of the program per user: a lock file in the user's runtime folder. A lock left by a
// copy that died is taken over.
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace albumora::shell {

class SingleInstance {
public:
    // lockPath: empty for the user's runtime folder.
    explicit SingleInstance(QString lockPath = {});
    bool acquire();
    static QString defaultLockPath();

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace albumora::shell
