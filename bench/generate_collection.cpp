// albumora-generate: writes a synthetic collection into a folder, for benchmarks, screenshots
// and trying the program on a collection of realistic size.
#include "Generator.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

const char* kUsage =
    "Usage: albumora-generate DIR [--albums N] [--seed S] [--tags-kept-current]\n"
    "\n"
    "Writes a synthetic collection (ALBUMS, TRACKS, ARTISTS and PLAYLIST tables with their memo\n"
    "and index files) into DIR, which must not hold one yet. N albums (20000 unless given), about\n"
    "14 tracks each; the same seed (1 unless given) always gives the same collection.\n"
    "--tags-kept-current keeps every index tag current while rows are appended, instead of\n"
    "building the tags once all rows are written (the faster way).\n";

void print(const QString& s) {
    const QByteArray b = s.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    albumora::bench::GeneratorOptions options;
    QString folder;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](const QString& name) -> QString {
            if (a.startsWith(name + QLatin1Char('='))) return a.mid(name.size() + 1);
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "albumora-generate: %s needs a value\n", qPrintable(name));
                std::exit(2);
            }
            return args[++i];
        };
        bool ok = true;
        QString given = a;  // what the error names: the argument, or the option and its value
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == QLatin1String("--albums") || a.startsWith(QLatin1String("--albums="))) {
            given = value(QStringLiteral("--albums"));
            options.albums = given.toInt(&ok);
            given = QStringLiteral("--albums ") + given;
            ok = ok && options.albums >= 0;
        } else if (a == QLatin1String("--seed") || a.startsWith(QLatin1String("--seed="))) {
            given = value(QStringLiteral("--seed"));
            options.seed = given.toULongLong(&ok);
            given = QStringLiteral("--seed ") + given;
        } else if (a == QLatin1String("--tags-kept-current")) {
            options.tagsAfterRows = false;
        } else if (!a.startsWith(QLatin1Char('-')) && folder.isEmpty()) {
            folder = a;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "albumora-generate: bad argument \"%s\"\n\n%s", qPrintable(given), kUsage);
            return 2;
        }
    }
    if (folder.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    options.progress = [](const QString& s) { print(s + QLatin1Char('\n')); };
    auto r = albumora::bench::GenerateCollection(folder, options);
    if (!r) {
        std::fprintf(stderr, "albumora-generate: %s\n", qPrintable(r.error().text()));
        return 1;
    }
    const auto& s = *r;
    print(QStringLiteral("%1 albums (%2 compilations, %3 with local IDs, %4 with notes), %5 tracks, %6 artist rows, "
                         "%7 playlist rows\n")
              .arg(s.albums)
              .arg(s.multiArtistAlbums)
              .arg(s.localIds)
              .arg(s.albumsWithNotes)
              .arg(s.tracks)
              .arg(s.artistRows)
              .arg(s.playlistRows));
    if (options.tagsAfterRows)
        print(QStringLiteral("rows %1 s, index tags %2 s, total %3 s\n")
                  .arg(s.rowSeconds, 0, 'f', 2)
                  .arg(s.tagSeconds, 0, 'f', 2)
                  .arg(s.totalSeconds, 0, 'f', 2));
    else
        print(QStringLiteral("rows with their keys %1 s, total %2 s\n").arg(s.rowSeconds, 0, 'f', 2).arg(s.totalSeconds, 0, 'f', 2));
    for (const QString& f : albumora::bench::CollectionFiles(folder))
        print(QStringLiteral("  %1 %2 bytes\n").arg(QFileInfo(f).fileName(), -13).arg(QFileInfo(f).size()));
    return 0;
}
