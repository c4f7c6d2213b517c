// What every command of albumora-cli shares: the argument reader, the output and the one way a
// command fails (a message, exit code 1), and the entry that picks the command.
//
// The companion is two programs. albumora-cli itself holds only the commands that touch nothing
// but the tables, so it starts without the network, the settings, the drive or the widgets'
// libraries; it hands every other command to albumora-cli-flows beside it, which holds them all.
#pragma once

#include "Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

namespace albumora::cli {

extern const char* const kUsage;

void out(const QString& s);

struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message);

void check(const store::Status& st);

template <class T>
T check(store::Result<T> r) {
    if (!r) fail(r.error().text());
    return std::move(r).value();
}

class Args {
public:
    explicit Args(QStringList a) : args_(std::move(a)) {}
    bool empty() const { return args_.isEmpty(); }
    QString take() {
        if (args_.isEmpty()) fail(QStringLiteral("missing argument; see albumora-cli --help"));
        return args_.takeFirst();
    }
    // Removes "--name VALUE" (or "--name=VALUE") and returns VALUE.
    std::optional<QString> option(const QString& name) {
        for (qsizetype i = 0; i < args_.size(); ++i) {
            if (args_[i] == name) {
                if (i + 1 >= args_.size()) fail(name + QStringLiteral(" needs a value"));
                QString v = args_[i + 1];
                args_.remove(i, 2);
                return v;
            }
            if (args_[i].startsWith(name + QLatin1Char('='))) {
                QString v = args_[i].mid(name.size() + 1);
                args_.removeAt(i);
                return v;
            }
        }
        return std::nullopt;
    }
    // Removes "--name" and tells whether it was there.
    bool flag(const QString& name) { return args_.removeAll(name) > 0; }
    void done() {
        if (!args_.isEmpty()) fail(QStringLiteral("unexpected argument \"%1\"").arg(args_.first()));
    }

private:
    QStringList args_;
};

using Command = std::function<int(const QString& folder, Args& args)>;
using Commands = std::map<QString, Command>;

// The commands that touch only the tables (init, check, query, count, reindex, pack).
const Commands& TableCommands();

// The program: flows are the other commands, or nullptr in albumora-cli, which starts
// albumora-cli-flows for them with the same arguments.
int Run(int argc, char** argv, const Commands* flows);

}  // namespace albumora::cli
