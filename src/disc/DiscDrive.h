// The program's view of the audio CD in the drive: whether there is one, its table of contents,
// its disc ID, the album it is in the collection, the track rows and frame offsets the CD
// database lookup and the submission need, and the drive door.
//
// All of it runs on the window thread and blocks it, waits included; the waits go through a
// sleep function that tests replace to count them instead of sleeping.
#pragma once

#include "Status.h"
#include "UDiscIdCalcDefs.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace albumora::store {
class TDM;
}

namespace albumora::disc {

// The disc's album is in the collection, but the albums grid's filter hides it.
inline const QString kHiddenByFilter = QStringLiteral(
    "This CD is in your Collection, but the album filter hides it.\nSwitch the filter off to make it the current album.");

// The settings of section [Current] this class reads.
struct DiscSettings {
    // The drive: a device node or a disc image; empty when the machine has no CD drive.
    QString CDPath;
    // Zero-based index of the chosen drive in the drive list.
    int DriveNr = 0;
    // "H" (HTTP) or "T" (CDDBP over TCP); a missing value behaves as "T".
    QString Protocol;
};

// What the last read left for every window to see.
struct DiscState {
    CdDriveList drives;
    DiscToc toc;
    // The drive-list lines and the selected one (the main window's hidden cbDrives).
    QStringList cbDrives;
    int cbDrivesIndex = -1;
    // 8 lower-case hexadecimal digits; empty while no disc has been read successfully.
    QString currentDiscId;
    // The disc length in seconds of the last TOC composed for a lookup.
    int discLength = 0;
};

enum class TocMode { Lookup, Submission };

struct TrackRow {
    QString number;  // PadNumber, width 3
    QString time;    // FormatTrackTime, width 2
    QString title;   // "Track n"
};

struct ComposedToc {
    // Lookup: one row per track, the query text ("count offsets... length" with the protocol's
    // separator) and the disc length in seconds.
    std::vector<TrackRow> rows;
    QString queryText;
    int discLength = 0;
    // Submission: the comment lines for the submission body.
    QStringList submissionLines;
};

class DiscDrive {
public:
    using SleepFunction = std::function<void(int milliseconds)>;
    using DeviceLister = std::function<QStringList()>;

    DiscDrive(DiscSettings settings, DiscState& state);

    const DiscSettings& settings() const { return settings_; }
    DiscState& state() { return state_; }
    // Replaces the real sleep (tests count the waits this way).
    void setSleep(SleepFunction sleep) { sleep_ = std::move(sleep); }
    // Replaces the machine's CD device list (CdRomDevices).
    void setDeviceLister(DeviceLister lister) { devices_ = std::move(lister); }

    // The first CD device libcdio lists ("/dev/sr0"); empty when there is none.
    static QString FirstCdRomDrive();

    // Up to 20 attempts at the drive list, 20 ms apart after the 11th; fills the drive list and
    // the drive-list lines. False when no attempt found a drive.
    bool EnumerateDrives();
    // Reads the drive list and the TOC of drive DriveNr; on success the TOC and the current disc
    // ID are set. "Can NOT find a CD-ROM drive" when there is no drive; an unreadable TOC fails
    // silently with the disc ID cleared.
    bool ReadDisc();
    // Whether the drive holds an audio CD: a CD-DA disc, or any disc with 2 or more tracks.
    bool IsAudioCdInDrive(const QString& rootPath);
    // Makes the album of the disc in the drive the current album of tblAlbums. Engine errors
    // come back as errors; the refusals are shown and give false.
    store::Result<bool> FindCdInCollection(store::TDM& dm, bool showMessages);
    // Track rows, query text and disc length (lookup, which also keeps the disc length in the
    // state), or the offset comment lines (submission), of the last TOC read.
    ComposedToc ComposeTocText(TocMode mode);
    static ComposedToc ComposeTocText(const DiscToc& toc, TocMode mode, const QString& protocol);
    // Opens the drive door; false for an image or anything that is not a CD device.
    static bool EjectDisc(const QString& path);

    // libcdio can open the drive and there is a disc in it.
    static bool DriveReady(const QString& path);
    static QString DiscIdText(std::uint32_t discId);
    // "(%.2d:%.2d:%.2d) %s %s %s": address, vendor, model, revision.
    static QString DriveLine(const CdDriveRecord& drive);
    static QStringList DriveLines(const CdDriveList& list);

private:
    void wait(int milliseconds) const;
    QString imagePath() const;

    DiscSettings settings_;
    DiscState& state_;
    SleepFunction sleep_;
    DeviceLister devices_;
};

}  // namespace albumora::disc
