// The disc-access layer: the four entry points the program has always called to find CD drives,
// read a disc's table of contents and compute its CD database disc ID, here on libcdio.
//
// A "drive" is anything libcdio can open as one: a CD device node ("/dev/sr0") or a disc image
// (a .cue sheet with its .bin, a cdrdao .toc file, a .nrg file). An image named by the CDPath
// setting comes first in the drive list, so drive number 0 reads it.
//
// The records keep the fields and limits of the old fixed-size layouts (26 drives of three
// address bytes and four texts of up to 255 characters; a TOC of up to 99 tracks plus the
// lead-out) but are plain structs: nothing is handed across a binary boundary any more.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace albumora::disc {

inline constexpr int kMaxDrives = 26;
inline constexpr int kMaxTracks = 99;
inline constexpr int kTocEntries = 101;  // entry 0 the lead-out, 1..99 the tracks, one unused
inline constexpr int kMaxDriveText = 255;
inline constexpr int kFramesPerSecond = 75;
inline constexpr int kFramesPerMinute = 60 * kFramesPerSecond;

// One drive of the list. The address is the device's SCSI host, target and lun where Linux
// gives one (0 for images and for devices without one); the first three texts are libcdio's
// hardware info (vendor, model, revision), the fourth names libcdio's driver and is not shown.
struct CdDriveRecord {
    std::uint8_t hostAdapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    QString vendor;
    QString model;
    QString revision;
    QString driver;
    // What libcdio opens for this drive: a device node or an image file.
    QString device;
};

struct CdDriveList {
    std::uint8_t count = 0;
    std::array<CdDriveRecord, kMaxDrives> drives{};
};

// An absolute address as the disc's TOC records it: the first track of a normal disc starts
// at 0:02:00 (frame 150). The fourth byte is kept for the old layout's sake and never read.
struct TocEntry {
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    std::uint8_t frame = 0;
    std::uint8_t reserved = 0;

    int frames() const { return minute * kFramesPerMinute + second * kFramesPerSecond + frame; }
    int seconds() const { return minute * 60 + second; }
    static TocEntry fromFrames(int frames);
};

// Track count 0 means that no TOC was read. Entry 0 is the lead-out, entry n (1..trackCount)
// the start of track n.
struct DiscToc {
    std::uint8_t trackCount = 0;
    std::array<TocEntry, kTocEntries> entries{};
    // How many of the last tracks hold data (an enhanced CD's second session): the CD database
    // counts them, MusicBrainz does not.
    std::uint8_t dataTracksAtEnd = 0;
};

// Negative when the machine has CD devices but the user may open none of them (typically not in
// the "cdrom" group); otherwise the number of CD devices the user can open. A machine without a
// drive gives 0, which is no error.
std::int32_t AspiInstalled();

// Fills the list: the image named by imagePath first (when it is an existing file), then the
// machine's CD devices, at most kMaxDrives in all. True when at least one drive was listed.
bool GetCdRomDrives(CdDriveList& list, const QString& imagePath = {});
// The same over a given device list instead of the machine's.
bool GetCdRomDrives(CdDriveList& list, const QString& imagePath, const QStringList& devices);

// Reads the TOC of the drive's disc. On failure the track count is left at 0.
void ReadCdTOC(CdDriveRecord drive, DiscToc& toc);

// The CDDB disc ID: high byte the sum of the decimal digit sums of every track's start second
// modulo 255, then 16 bits of playing time from the first track to the lead-out in seconds,
// low byte the track count.
std::uint32_t CalcDiscID(DiscToc toc);

// Helpers over the same layer.

// The machine's CD devices as libcdio finds them, each once, symbolic links resolved
// ("/dev/cdrom" and "/dev/sr0" are one drive), in libcdio's order.
QStringList CdRomDevices();
// An existing regular file, taken for a disc image.
bool IsDiscImage(const QString& path);
// libcdio can open the path as an image or a CD device. Says nothing about a disc in it.
bool IsCdSource(const QString& path);
// libcdio can open the path and there is a disc in it whose size can be read.
bool IsDiscPresent(const QString& path);
// The disc in the drive holds nothing but audio tracks (libcdio's CD-DA disc mode).
bool IsCdDaDisc(const QString& path);
// Opens the drive door. An image cannot be ejected.
bool EjectMedia(const QString& path);

}  // namespace albumora::disc
