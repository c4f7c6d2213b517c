#include "Cli.h"

#include "DataFolder.h"
#include "Table.h"
#include "Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace albumora::cli {

using store::Result;
using store::Status;

const char* const kUsage =
    "Usage: albumora-cli [--data DIR] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  init                      create the collection tables and index files that are missing\n"
    "  check [--tables]          verify every table, memo and index file of the data folder, and\n"
    "                            that the collection tables agree (--tables: each table alone)\n"
    "  query TABLE [--order TAG] [--filter EXPR] [--fields F1,F2,...]\n"
    "                            print the rows as CSV (UTF-8) with a header line\n"
    "  count TABLE [--filter EXPR]\n"
    "                            print the number of rows passing the filter\n"
    "  reindex TABLE|all         rebuild the index files\n"
    "  pack TABLE|all            drop deleted rows, compact memos, rebuild the index\n"
    "  import --source SOURCE FILE [--artist A] [--title T] [--genre G]\n"
    "                            add the album of a text file as a new album; prints its ID.\n"
    "                            SOURCE: xmcd (a CD database record), numbered, unnumbered,\n"
    "                            amg or store (web track lists), m3u, xspf (playlists)\n"
    "  delete ID                 delete an album with its tracks, marks and artist rows\n"
    "  drives [DEVICE|IMAGE]     list the CD drives, a disc image first\n"
    "  discid [DEVICE|IMAGE]     print the disc ID of the disc, then its TOC query text, then its\n"
    "                            MusicBrainz disc ID\n"
    "  lookup [DEVICE|IMAGE] [--source cddb|musicbrainz|all] [--match N]\n"
    "                            look the disc up (in the sources of the Sources setting without\n"
    "                            --source; all: both, their matches together): the match lines,\n"
    "                            then the record of match N (counted from 1; the first without it)\n"
    "  add-cd [DEVICE|IMAGE] [--source cddb|musicbrainz|all] [--match N]\n"
    "                            add the disc as \"Add CD\" does; prints its ID\n"
    "  cover ID                  fetch the front cover of the album's MusicBrainz release (its\n"
    "                            MBID= notes line) into the covers folder; prints its path\n"
    "  submit [DEVICE|IMAGE]     send the disc's album to the CD database by e-mail\n"
    "  export csv|xml|html [--albums-filter E] [--tracks-filter E]\n"
    "         [--order Artist|Album|Label|Genre|IX|Natural] [--fields F1,F2,...] [--no-tracks]\n"
    "         [--title T] [--out DIR]\n"
    "                            write the report writer's files: albums, tracks and playlist\n"
    "                            (.csv or .xml), or the web page Albumora.html; prints each path\n"
    "  maintain [--zip]          pack every collection table and rebuild its index; --zip also\n"
    "                            puts the data files into Albumoradata.zip of the data folder\n"
    "  restore ZIP [--force]     put the collection of a backup archive (Albumoradata.zip) into\n"
    "                            the data folder; every entry is read and the tables checked\n"
    "                            before anything is replaced. A folder that holds a collection\n"
    "                            already is overwritten only with --force\n"
    "  report album|artist|media [the options of export] --pdf FILE\n"
    "                            lay out the report writer's printed report as a PDF file\n"
    "  tracks csv|xml|dj|dbf|pdf [--filter E] [--order Track|Artist|Album] [--fields F1,F2,...]\n"
    "         [--out DIR|FILE]\n"
    "                            the tracks view's outputs (one row per track): program.csv or\n"
    "                            program.xml in DIR, DJintel.csv or _TVIEW.DBF in the data folder,\n"
    "                            or the track report as the PDF FILE; builds TVIEW.DBF when it is\n"
    "                            missing; prints the path\n"
    "  marks ID [NR ...]         mark the album's tracks NR for the playlist, as the playlist\n"
    "                            builder's OK does: the given tracks become its marks, none\n"
    "                            given clears them\n"
    "  m3u ID [--from NR]        write Albumora.m3u as the Play button does for the album (a\n"
    "                            double click on track NR with --from), without starting a\n"
    "                            player, and print its path; for a CD album from its tracks in\n"
    "                            the collection, the drive being CDPath; for a playlist album\n"
    "                            (media PL) print the playlist file the button would play\n"
    "\n"
    "TABLE is a file name in the data folder (ALBUMS.DBF, tracks.dbf, ...), matched without\n"
    "regard to case. The data folder is DIR, else $ALBUMORA_HOME, else the program's folder when\n"
    "it holds Albumora.ini, else $XDG_DATA_HOME/Albumora.\n"
    "\n"
    "DEVICE is a CD device (/dev/sr0), IMAGE a disc image (.cue with its .bin, cdrdao .toc, .nrg).\n"
    "Without one the drive is CDPath of section [Current] in the data folder's Albumora.ini,\n"
    "else the first CD device. The CD database and mail settings are those of that file too.\n";

void out(const QString& s) {
    const QByteArray b = s.toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

void check(const Status& st) {
    if (!st) fail(st.text());
}

namespace {

// The folder of this program, without an application object: the portable data folder is
// looked for there, and the flows program lives there.
QString programFolder(const char* argv0) {
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QFileInfo(self.isEmpty() ? QString::fromLocal8Bit(argv0) : self).absolutePath();
}

// The lean program starts the one with every command for a command it does not hold; the
// arguments go over unchanged.
[[noreturn]] void startFlows(char** argv) {
    const QByteArray path = QFile::encodeName(programFolder(argv[0]) + QStringLiteral("/albumora-cli-flows"));
    std::fflush(stdout);
    ::execv(path.constData(), argv);
    fail(QStringLiteral("cannot start %1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno))));
}

}  // namespace

int Run(int argc, char** argv, const Commands* flows) {
    // The table commands need no application object; the flows program makes its own first.
    QStringList raw;
    for (int i = 1; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
    try {
        Args args(raw);
        if (args.empty() || raw.first() == QLatin1String("--help") || raw.first() == QLatin1String("-h") ||
            raw.first() == QLatin1String("help")) {
            std::fputs(kUsage, stdout);
            return args.empty() ? 1 : 0;
        }
        if (raw.first() == QLatin1String("--version")) {
            std::printf("albumora-cli %s\n", albumora::kVersionText);
            return 0;
        }
        QString dataOption;
        if (raw.first() == QLatin1String("--data") || raw.first().startsWith(QLatin1String("--data="))) {
            dataOption = *args.option(QStringLiteral("--data"));
        }
        const QString command = args.take();
        const Commands& tables = TableCommands();
        const auto table = tables.find(command);
        const Command* run = table != tables.end() ? &table->second : nullptr;
        if (!run && flows) {
            const auto flow = flows->find(command);
            if (flow != flows->end()) run = &flow->second;
        }
        if (!run && !flows) startFlows(argv);
        if (!run) fail(QStringLiteral("unknown command \"%1\"; see albumora-cli --help").arg(command));
        // The engine's own status texts (an index rebuilt when a read met a damaged page) go to
        // stderr, so they never mix with a query's rows.
        albumora::store::Table::setStatusReporter([](const QString& text) {
            if (!text.isEmpty()) std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        });
        // Commands that only read never create the folder they are pointed at.
        static const QStringList readers = {QStringLiteral("check"), QStringLiteral("query"), QStringLiteral("count")};
        const QString folder = check(store::ResolveDataFolder(dataOption, programFolder(argv[0]), !readers.contains(command)));
        const int rc = (*run)(folder, args);
        std::fflush(stdout);
        return rc;
    } catch (const Failure& f) {
        std::fflush(stdout);
        QString line = f.message;
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        std::fprintf(stderr, "albumora-cli: %s\n", line.toLocal8Bit().constData());
        return 1;
    }
}

}  // namespace albumora::cli
