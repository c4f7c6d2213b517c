// MusicBrainz as a source of album data: the disc's MusicBrainz disc ID (computed by libdiscid
// from the same TOC the CD database ID comes from), the web service's answers read into plain
// structs, and a release put into the pending album by the rules an xmcd record follows.
//
// The service answers in XML unless asked for JSON; both are read, whatever was asked, since
// mirrors and old answers differ. Reading never trusts an answer's counts: only elements that
// are there are taken, and sizes are bounded by the caller's body limit.
#pragma once

#include "PendingAlbum.h"
#include "Status.h"
#include "UDiscIdCalcDefs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace albumora::disc {

// The album source code of an album filled from a MusicBrainz release.
inline constexpr char16_t kMusicBrainzSource = u'B';
// The notes tags that keep a MusicBrainz album findable: the release's MBID and the disc's
// MusicBrainz disc ID, each one line "TAG=value".
inline const QString kMbidTag = QStringLiteral("MBID=");
inline const QString kMbDiscIdTag = QStringLiteral("MBDISCID=");
// MusicBrainz's own artist for compilations.
inline const QString kVariousArtistsMbid = QStringLiteral("89ad4ac3-39f7-470e-963a-56509c546377");

// What libdiscid makes of a TOC: the 28-character disc ID and the "?toc=" text ("first last
// leadout offset1 ... offsetN"). Data tracks at the end of an enhanced CD are left out, its
// audio session ending 11,400 frames before the data track, as the service counts it.
struct MbDiscToc {
    QString discId;
    QString tocText;
    int audioTracks = 0;
};
store::Result<MbDiscToc> ComputeMbDiscId(const DiscToc& toc);

namespace mb {

struct Track {
    int position = 0;
    QString number;       // as the medium prints it ("1", "A1")
    QString title;        // the track's own title, else its recording's
    QString artist;       // the track's artist credit, else its recording's, joined as printed
    QString artistId;     // the first credited artist's MBID
    qint64 lengthMs = -1; // -1: unknown
    QStringList artistIds;  // every credited artist's MBID
};

struct Medium {
    int position = 0;
    QString title;
    QString format;
    QStringList discIds;
    int trackCount = 0;  // as the answer says; tracks may be absent
    std::vector<Track> tracks;
};

struct Release {
    QString id;
    QString title;
    QString artist;    // the release's artist credit as printed ("A & B")
    QString artistId;  // the first credited artist's MBID
    QString date;      // "2009-09-09", "2003", or empty
    QString country;
    QString status;
    QStringList labels;
    // Release-group genres and the release's own, most votes first, then the tags.
    QStringList genres;
    std::vector<Medium> media;

    int mediumCount() const { return int(media.size()); }
};

struct DiscAnswer {
    // The disc the service found under the ID; empty for a fuzzy TOC answer, which is only a
    // release list of releases whose track lengths fit.
    QString discId;
    std::vector<Release> releases;
};

}  // namespace mb

// An answer body as JSON when its first character (after blanks) is "{", else as XML.
store::Result<mb::DiscAnswer> ParseMbDiscAnswer(const QByteArray& body);
store::Result<mb::Release> ParseMbRelease(const QByteArray& body);
// The text of an error body ("Not Found", "Invalid discid."); empty when it is none.
QString ParseMbError(const QByteArray& body);

// The medium of the release that holds the disc: the one listing the disc ID; else (a fuzzy
// answer, an old answer without disc lists) the first whose track count is the TOC's; else the
// first medium. -1 when the release has no medium.
int MediumForDisc(const mb::Release& release, const QString& discId, int audioTracks);

// The chooser's line for a release: "MusicBrainz: " + artist / title, then what tells editions
// apart (country, date, labels, format, "medium n of m").
QString MbChoiceLine(const mb::Release& release, int medium);

// A text as the tables can hold it: every character Windows-1252 lacks becomes "?".
QString ToStorable(const QString& text);

// The genre of the release as the genre list spells it: the first release genre that matches
// an entry of the list without regard to case, else defaultGenre.
QString MbGenre(const mb::Release& release, const QStringList& genreList, const QString& defaultGenre);

// Fills the pending album from the release's medium, by the rules of an xmcd record: artist,
// title (with the medium's title, or " (disc n)", on a release of several media), year, genre,
// one track row per track of the medium with its time, notes holding the MBID and disc ID lines
// and the source code B. A release whose tracks are mostly by other artists than the release's
// (or whose artist is Various Artists) becomes a multi-artist album: artist "Various Artists"
// unless it already begins with "Various", titles "Artist / Song". The rows the TOC made are
// replaced when the medium lists its tracks; their times are kept when it gives no lengths.
// The album ID, the edit mode and the disc length are the caller's.
void FillFromRelease(const mb::Release& release, int medium, const QString& mbDiscId, const QStringList& genreList,
                     const QString& defaultGenre, editing::PendingAlbum& album);

}  // namespace albumora::disc
