// One lookup of the disc in the drive across the sources the user chose: the CD database and
// MusicBrainz, in the order of the Sources setting.
//
// "cddb,musicbrainz" asks the CD database first and MusicBrainz only when the CD database has
// no match or cannot be reached; "cddb+musicbrainz" asks both and offers every match in one
// chooser, each marked with its source. Whatever the order, one match from one source fills the
// album at once, and the user's choice decides between sources that disagree: nothing is
// merged from the other.
//
// The album is filled only when a match was read whole; every failure leaves it as it came in.
// A chosen MusicBrainz release also brings its front cover, when covers are on: the image is
// stored in the data folder's covers folder and a "COVER=" line names it. A missing or failed
// cover changes nothing else.
#pragma once

#include "Cddb.h"
#include "MusicBrainz.h"
#include "WebService.h"

#include <optional>
#include <vector>

namespace albumora::settings {
struct RunSettings;
}
namespace albumora::store {
class TDM;
}

namespace albumora::disc {

enum class SourceKind { Cddb, MusicBrainz };

// The steps of a Sources text: each step the sources asked together; a step is asked only when
// the ones before found nothing. "all" is "cddb+musicbrainz". An error for an unknown name.
store::Result<std::vector<std::vector<SourceKind>>> ParseSources(const QString& text);

struct DiscLookupRequest {
    QString sources = QStringLiteral("cddb,musicbrainz");
    CddbConfig cddb;
    QString cddbQuery;  // "cddb query <id> <toc text>"
    MbConfig mb;
    std::optional<MbDiscToc> mbDisc;  // none: the TOC is not one MusicBrainz takes
    QStringList genreList;
    QString defaultGenre;
    bool covers = false;
    QString dataFolder;  // where covers/ is
};

struct DiscLookupHooks {
    std::function<void(const QString&)> status;
    std::function<int(const QStringList&)> choose;
    std::function<void(const QString&)> message;
    std::function<void(const QString&)> error;
};

struct DiscLookupOutcome {
    bool showForm = false;   // a match filled the album
    bool notFound = false;   // every source asked answered that it does not know the disc
    bool cancelled = false;  // the chooser gave no choice
    QString error;           // shown through hooks.error; the album is as it came in
    QString message;         // shown through hooks.message
    // What the sources that could not be asked said, when another found or knew nothing.
    QStringList unreachable;
    std::optional<SourceKind> source;  // which source filled the album
    LookupOutcome cddb;                // the CD database's part (match lines, record)
    QStringList choices;               // the lines the chooser was shown (or would have been)
    std::optional<mb::Release> release;
    int medium = -1;
    QString coverPath;     // the cover stored for the album
    QString coverProblem;  // why no cover came, when one was looked for
};

DiscLookupOutcome RunDiscLookup(const DiscLookupRequest& request, editing::PendingAlbum& album, const DiscLookupHooks& hooks);

// The MusicBrainz settings of the run-time settings as the client takes them.
MbConfig MbConfigOf(const settings::RunSettings& settings);

// Fetches the front cover of the release into the covers folder and names it in the notes; an
// error leaves the notes alone.
store::Result<QString> AddFrontCover(const MbConfig& config, const QString& mbid, const QString& dataFolder,
                                     editing::PendingAlbum& album);

// The front cover of a stored album that has an MBID line: fetched, stored, and named in the
// album's notes by one write (unless the notes name that file already). Gives the cover's path.
store::Result<QString> FetchAlbumCover(store::TDM& dm, const QString& albumId, const MbConfig& config);

}  // namespace albumora::disc
