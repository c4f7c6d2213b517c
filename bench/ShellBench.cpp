// The desktop program's start on a large collection: from the data module's creation to the
// main window's first paint of the albums grid, as main() builds them, without a screen
// (QT_QPA_PLATFORM=offscreen unless set). Run by hand (see RESULTS.md).
//
// Environment: ALBUMORA_BENCH_DIR (collections kept between runs, as for store_bench) and
// ALBUMORA_BENCH_SIZES ("20000,100000" unless given).
#include "Generator.h"

#include "DiscGlue.h"
#include "File.h"
#include "Prompts.h"
#include "Session.h"
#include "mdF.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

using namespace albumora;
namespace gen = albumora::bench;

namespace {

// Every question is answered "no" and recorded; the benchmark fails when one was asked, since
// a start that asks something is not the start being measured.
class SilentPrompts : public platform::Prompts {
public:
    QStringList shown;
    void error(const QString& t) override { shown << t; }
    void message(const QString& t) override { shown << t; }
    void information(const QString& t) override { shown << t; }
    bool confirm(const QString& t) override { return shown << t, false; }
    bool okCancel(const QString& t) override { return shown << t, false; }
    std::optional<QString> input(const QString& c, const QString&, const QString&) override { return shown << c, std::nullopt; }
    std::optional<QString> openFile(const QString& c, const QString&, const QString&) override { return shown << c, std::nullopt; }
    std::optional<QString> saveFile(const QString& c, const QString&, const QString&) override { return shown << c, std::nullopt; }
    QStringList openFiles(const QString& c, const QString&, const QString&) override { return shown << c, QStringList(); }
    std::optional<QString> folder(const QString& c, const QString&) override { return shown << c, std::nullopt; }
    std::optional<QString> font(const QString&) override { return std::nullopt; }
};
class NoClipboard : public platform::Clipboard {
public:
    QString text() const override { return {}; }
    void setText(const QString&) override {}
    void clear() override {}
};
class NoLauncher : public platform::Launcher {
public:
    bool open(const QString&) override { return false; }
    bool start(const QString&, const QStringList&) override { return false; }
};

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "shell_bench: %s\n", qPrintable(what));
    std::exit(1);
}

// The collection of that many albums, generated into the bench folder once.
QString collection(int albums) {
    static std::unique_ptr<QTemporaryDir> temp;
    QString root = qEnvironmentVariable("ALBUMORA_BENCH_DIR");
    if (root.isEmpty()) {
        if (!temp) temp = std::make_unique<QTemporaryDir>();
        root = temp->path();
    }
    const QString dir = root + QStringLiteral("/albums-%1").arg(albums);
    if (!QFileInfo::exists(dir + QStringLiteral("/generated.txt"))) {
        gen::GeneratorOptions o;
        o.albums = albums;
        o.seed = 1;
        auto stats = gen::GenerateCollection(dir, o);
        if (!stats) fail(stats.error().text());
        QFile w(dir + QStringLiteral("/generated.txt"));
        if (!w.open(QIODevice::WriteOnly) || w.write(QStringLiteral("albums=%1 seed=1 version=1\n").arg(albums).toUtf8()) < 0)
            fail(QStringLiteral("cannot mark ") + dir);
    }
    return dir;
}

// Notes the first paint of a widget.
class PaintSpy : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted = true;
        return false;
    }
};

void DesktopOpen(benchmark::State& state, int albums) {
    const QString source = collection(albums);
    QTemporaryDir work(QFileInfo(source).absolutePath() + QStringLiteral("/desktop-XXXXXX"));
    if (!work.isValid()) fail(QStringLiteral("no work folder"));
    // A copy: the program writes its settings and start-up marks into the folder.
    for (const QString& f : gen::CollectionFiles(source))
        if (!store::copyFile(f, work.path() + QLatin1Char('/') + QFileInfo(f).fileName()))
            fail(QStringLiteral("cannot copy ") + f);
    SilentPrompts prompts;
    NoClipboard clipboard;
    NoLauncher launcher;
    platform::desktop() = {&prompts, &clipboard, &launcher};
    double openMs = 0, paintMs = 0;
    int rows = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        disc::Session session(work.path());
        shell::TForm1 form(session, shell::MakeDiscServices);
        auto* grid = form.findChild<QTableView*>(QStringLiteral("AlbumsGrid"));
        if (!grid) fail(QStringLiteral("no albums grid"));
        PaintSpy spy;
        grid->viewport()->installEventFilter(&spy);
        form.showMaximized();
        while (!form.collectionOpen() || !spy.painted) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (timer.elapsed() > 120000) fail(QStringLiteral("the window never painted its albums"));
        }
        const double painted = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(painted / 1000.0);
        paintMs += painted;
        rows = grid->model() ? grid->model()->rowCount() : 0;
        grid->viewport()->removeEventFilter(&spy);
        form.close();
        (void)openMs;
    }
    if (!prompts.shown.isEmpty()) fail(QStringLiteral("the start asked or told something: ") + prompts.shown.join(QStringLiteral(" | ")));
    if (rows <= 0) fail(QStringLiteral("the albums grid shows no rows"));
    state.counters["grid_rows"] = rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Albumora"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const QString sizes = qEnvironmentVariableIsEmpty("ALBUMORA_BENCH_SIZES") ? QStringLiteral("20000,100000")
                                                                              : qEnvironmentVariable("ALBUMORA_BENCH_SIZES");
    for (const QString& part : sizes.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int n = part.trimmed().toInt();
        if (n <= 0) continue;
        benchmark::RegisterBenchmark(("DesktopOpenToFirstPaint/albums:" + std::to_string(n)).c_str(),
                                     [n](benchmark::State& s) { DesktopOpen(s, n); })
            ->Iterations(5)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
