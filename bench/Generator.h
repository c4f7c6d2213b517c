// Synthetic collections for benchmarks and screenshots: albums, tracks, artists and playlist
// marks with the shapes a long-kept real collection has (popular artists with many albums,
// compilations, notes with amounts and CD database texts, accented names). Everything is written
// through the table engine and the data module, so the files are exactly what the program
// itself would leave; the same seed always gives the same collection.
#pragma once

#include "Status.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace albumora::bench {

struct GeneratorOptions {
    int albums = 20000;
    std::uint64_t seed = 1;
    // Appending every row to tables without index files and building the tags in one pass at the
    // end is how start-up rebuilds a missing index; the other way keeps every tag current on each
    // append, as the program does while a user enters albums.
    bool tagsAfterRows = true;
    // Receives a short text now and then (rows written, tags being built).
    std::function<void(const QString&)> progress;
};

struct GeneratorStats {
    std::int64_t albums = 0;
    std::int64_t tracks = 0;
    std::int64_t artistRows = 0;
    std::int64_t playlistRows = 0;
    std::int64_t multiArtistAlbums = 0;
    std::int64_t localIds = 0;
    std::int64_t albumsWithNotes = 0;
    double rowSeconds = 0;  // appending rows (and, with tags kept current, their keys)
    double tagSeconds = 0;  // building the tags afterwards; 0 when they were kept current
    double totalSeconds = 0;
};

// Writes a new collection into folder, which must not hold collection tables yet (it is created
// when missing).
store::Result<GeneratorStats> GenerateCollection(const QString& folder, const GeneratorOptions& options);

// The files of a collection folder (tables, memo and index files), for copies and sizes.
QStringList CollectionFiles(const QString& folder);

}  // namespace albumora::bench
