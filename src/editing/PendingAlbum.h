// The pending album: what the album edit form shows and saves. The CD database lookup, the
// import window and the modify flow fill it; the edit form's OK stores it.
#pragma once

#include "Codepage.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace albumora::editing {

// Edit modes of the form.
enum class EditMode {
    AddCd = 1,     // the audio CD in the drive; stored under the current disc ID
    NewAlbum = 2,  // an album not in the drive; stored under a new local album ID
    Modify = 3,    // the current album; only titles of its tracks change
};

struct TrackRow {
    QString number;  // as the producer wrote it: "  7" (modify), "07" (import)
    QString time;    // "m:ss" (" 3:07"); may be empty
    QString title;
};

struct PendingAlbum {
    EditMode mode = EditMode::NewAlbum;
    QString caption;
    QString artist;
    QString title;
    QString genre;
    QString year;
    QString media;  // a media list entry ("CR (CD-R)") or a bare code
    QString label;
    QString index;
    QString notes;       // the whole notes text, lines joined by CR LF
    QString rev = QStringLiteral("0");
    QChar sys = QLatin1Char('F');
    QString albumId;     // mode 1: the disc ID; mode 3: the album's ID
    int discLength = 0;  // seconds, from the TOC or a pasted record
    int runningSeconds = 0;
    // Rows 1..N of the track grid (the title row is not stored).
    std::vector<TrackRow> tracks;
    // The artist box's text is selected so that typing replaces it ("Various").
    bool selectArtist = false;

    // The multi-artist convention: an artist beginning with "VARIOUS" (any case).
    bool isMultiArtist() const { return store::asciiUpper(artist.left(7)) == QLatin1String("VARIOUS"); }
    // The grid with n track rows: rows are added empty or dropped from the end.
    void setTrackCount(int n) { tracks.resize(size_t(n < 0 ? 0 : n)); }
    // Empties what a new album must not inherit from the last one shown.
    void clear(const QString& defaultGenre) {
        label.clear();
        media.clear();
        index.clear();
        notes.clear();
        year.clear();
        genre = defaultGenre;
        rev = QStringLiteral("0");
        sys = QLatin1Char('F');
    }
};

}  // namespace albumora::editing
