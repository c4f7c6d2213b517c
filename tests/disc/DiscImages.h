// Disc images made on the fly for the disc tests: a .cue sheet with a sparse .bin (sized with
// QFile::resize, so a 70-minute disc costs no disk space) or a cdrdao .toc over such a .bin.
// libcdio opens both as a drive, which is how the tests put a disc of any layout "in the drive".
#pragma once

#include <QString>

#include <random>
#include <vector>

namespace albumora::test {

struct DiscLayout {
    // Absolute start frame of every track (150 is 0:02:00, the start of a normal first track).
    std::vector<int> starts;
    int leadOut = 0;
    // How many of the last tracks are data tracks (an enhanced CD has one).
    int dataTracks = 0;

    int trackCount() const { return int(starts.size()); }
    // The "offsets" of the CD database: what libdiscid's discid_put takes.
    std::vector<int> discidOffsets() const;
};

enum class ImageKind { Cue, Toc };
const char* kindName(ImageKind kind);

// Writes base.cue or base.toc with base.bin into folder; returns the path libcdio opens.
QString writeImage(const QString& folder, const QString& base, const DiscLayout& layout, ImageKind kind);

struct LayoutOptions {
    int tracks = 10;
    // An enhanced CD: the last track is data, a session gap of 11,400 frames before it.
    bool dataLast = false;
    // The first track starts after a pregap of its own (a hidden track before it).
    bool hiddenTrack = false;
};
// A layout with random track lengths (frames, not whole seconds) that fits on an 80-minute disc.
DiscLayout randomLayout(std::mt19937& rng, const LayoutOptions& options);

// libdiscid's CD database ID for the layout: an implementation independent of ours.
QString libdiscidFreedbId(const DiscLayout& layout);
// And its MusicBrainz disc ID, by libdiscid from the audio session.
QString libdiscidMusicBrainzId(const DiscLayout& layout);

}  // namespace albumora::test
