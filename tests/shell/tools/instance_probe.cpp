// Takes the single-instance lock at the path given and says whether it got it; with "hold" it
// keeps the lock until killed.
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    albumora::shell::SingleInstance guard(args.value(1));
    const bool got = guard.acquire();
    std::printf("%s\n", got ? "acquired" : "busy");
    std::fflush(stdout);
    if (got && args.value(2) == QLatin1String("hold"))
        for (;;) QThread::sleep(1);
    return got ? 0 : 3;
}
