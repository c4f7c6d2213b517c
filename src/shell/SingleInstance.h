// One copy of the program per user: a lock file in the user's runtime folder. A lock left by a
// copy that died is taken over.
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace albumora::platform {
class Prompts;
}

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

// The guard of the program's start: false, after telling the user, when another copy runs.
bool EnsureSingleInstance(SingleInstance& guard, platform::Prompts* prompts);

}  // namespace albumora::shell
