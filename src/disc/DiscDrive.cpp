#include "DiscDrive.h"

#include "DMcd.h"
#include "Prompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

namespace albumora::disc {
namespace {

// Attempts at the drive list and at the TOC; from the 12th on each is preceded by a short wait,
// which gives a drive that has just closed its door time to spin up.
constexpr int kAttempts = 20;
constexpr int kAttemptsWithoutWait = 10;
constexpr int kRetryWaitMs = 20;
constexpr int kNotReadyWaitMs = 250;
constexpr int kReadyRetryWaitMs = 350;

void showError(const QString& text) {
    if (platform::Prompts* p = platform::desktop().prompts) p->error(text);
}

void letWindowMessagesRun() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace

DiscDrive::DiscDrive(DiscSettings settings, DiscState& state)
    : settings_(std::move(settings)),
      state_(state),
      sleep_([](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }),
      devices_(&CdRomDevices) {}

void DiscDrive::wait(int milliseconds) const {
    if (sleep_) sleep_(milliseconds);
}

QString DiscDrive::imagePath() const {
    return IsDiscImage(settings_.CDPath) ? settings_.CDPath : QString();
}

QString DiscDrive::FirstCdRomDrive() {
    const QStringList devices = CdRomDevices();
    return devices.isEmpty() ? QString() : devices.first();
}

bool DiscDrive::DriveReady(const QString& path) {
    return IsDiscPresent(path);
}

QString DiscDrive::DiscIdText(std::uint32_t discId) {
    return QStringLiteral("%1").arg(discId, 8, 16, QLatin1Char('0'));
}

QString DiscDrive::DriveLine(const CdDriveRecord& d) {
    return QStringLiteral("(%1:%2:%3) %4 %5 %6")
        .arg(d.hostAdapter, 2, 10, QLatin1Char('0'))
        .arg(d.target, 2, 10, QLatin1Char('0'))
        .arg(d.lun, 2, 10, QLatin1Char('0'))
        .arg(d.vendor, d.model, d.revision);
}

QStringList DiscDrive::DriveLines(const CdDriveList& list) {
    QStringList lines;
    for (int i = 0; i < list.count; ++i) lines << DriveLine(list.drives[size_t(i)]);
    return lines;
}

bool DiscDrive::EnumerateDrives() {
    const QString image = imagePath();
    const QStringList devices = devices_ ? devices_() : QStringList();
    bool found = false;
    for (int counter = 0; !found && counter < kAttempts;) {
        if (counter > kAttemptsWithoutWait) wait(kRetryWaitMs);
        ++counter;
        found = GetCdRomDrives(state_.drives, image, devices);
    }
    if (!found) return false;
    state_.cbDrives = DriveLines(state_.drives);
    state_.cbDrivesIndex =
        settings_.DriveNr >= 0 && settings_.DriveNr < state_.cbDrives.size() ? settings_.DriveNr : -1;
    return true;
}

bool DiscDrive::ReadDisc() {
    if (!EnumerateDrives()) {
        showError(QStringLiteral("Can NOT find a CD-ROM drive"));
        return false;
    }
    state_.currentDiscId.clear();
    state_.toc.trackCount = 0;
    if (!DriveReady(settings_.CDPath)) wait(kNotReadyWaitMs);
    const int nr = settings_.DriveNr;
    const bool haveRecord = nr >= 0 && nr < state_.drives.count;
    for (int counter = 0; state_.toc.trackCount == 0 && counter < kAttempts;) {
        if (counter > kAttemptsWithoutWait) wait(kRetryWaitMs);
        ++counter;
        if (haveRecord) ReadCdTOC(state_.drives.drives[size_t(nr)], state_.toc);
    }
    if (state_.toc.trackCount == 0) return false;
    state_.currentDiscId = DiscIdText(CalcDiscID(state_.toc));
    return true;
}

bool DiscDrive::IsAudioCdInDrive(const QString& rootPath) {
    // A drive that is not there does not spin up: no wait for it (the desktop program asks
    // this at every start, before the window shows the collection).
    if (settings_.CDPath.isEmpty() || !QFileInfo::exists(settings_.CDPath)) return false;
    if (!DriveReady(settings_.CDPath)) {
        wait(kReadyRetryWaitMs);
        if (!DriveReady(settings_.CDPath)) return false;
    }
    // What the disc's volume label "Audio CD" used to tell: nothing but audio tracks.
    if (IsCdDaDisc(rootPath)) return true;
    if (!IsCdSource(rootPath)) return false;
    // Any other disc counts when it has two tracks or more; one track is taken for a data disc.
    state_.toc.trackCount = 0;
    ReadDisc();
    return state_.toc.trackCount >= 2;
}

store::Result<bool> DiscDrive::FindCdInCollection(store::TDM& dm, bool showMessages) {
    if (!IsAudioCdInDrive(settings_.CDPath)) {
        if (showMessages)
            showError(QStringLiteral("There does NOT seem to be an audio CD in drive ") + settings_.CDPath);
        return false;
    }
    ReadDisc();
    const QStringList key{state_.currentDiscId};
    store::Cursor& filter = dm.tblFilter;
    filter.setFiltered(false);
    ALB_TRY(filter.setOrder(QStringLiteral("ID")));
    ALB_TRY(filter.open());
    ALB_ASSIGN_OR_RETURN(const bool found, filter.findKey(key));
    if (!found) {
        // Shown whatever the caller asked: the disc is there, only the album is not.
        showError(QStringLiteral("Could not find this CD in your Collection"));
        return false;
    }
    // The albums cursor goes to the row the ID search found, keeping its own order: the grid
    // stays sorted as its header says.
    store::Cursor& albums = dm.tblAlbums;
    if (albums.filtered()) {
        // The album filter may hide the disc's album; the grid cannot make it current then.
        ALB_ASSIGN_OR_RETURN(const bool visible, albums.shows(filter.bookmark()));
        if (!visible) {
            showError(kHiddenByFilter);
            return false;
        }
    }
    ALB_TRY(albums.gotoBookmark(filter.bookmark()));
    return true;
}

ComposedToc DiscDrive::ComposeTocText(TocMode mode) {
    ComposedToc composed = ComposeTocText(state_.toc, mode, settings_.Protocol);
    if (mode == TocMode::Lookup) state_.discLength = composed.discLength;
    return composed;
}

ComposedToc DiscDrive::ComposeTocText(const DiscToc& toc, TocMode mode, const QString& protocol) {
    const QString separator = protocol.startsWith(QLatin1Char('H')) ? QStringLiteral("+") : QStringLiteral(" ");
    const int count = std::min<int>(toc.trackCount, kMaxTracks);
    ComposedToc out;
    out.discLength = toc.entries[0].seconds();
    // Every track loses 2 seconds, the last one included: the gap the lengths were always
    // shown without.
    auto row = [&](int track, int length) {
        out.rows.push_back({store::TDM::PadNumber(track, 3), store::TDM::FormatTrackTime(length, 2),
                            QStringLiteral("Track ") + QString::number(track)});
    };
    QString offsets;
    int previousStart = 0;
    for (int n = 1; n <= count; ++n) {
        const TocEntry& e = toc.entries[size_t(n)];
        const int start = e.seconds();
        if (n >= 2 && mode == TocMode::Lookup) row(n - 1, start - previousStart - 2);
        if (mode == TocMode::Lookup)
            offsets += separator + QString::number(e.frames());
        else
            out.submissionLines << QStringLiteral("# ") + QString::number(e.frames());
        previousStart = start;
    }
    if (mode == TocMode::Lookup) {
        if (count > 0) row(count, out.discLength - previousStart - 2);
        out.queryText = QString::number(count) + offsets + separator + QString::number(out.discLength);
    } else {
        out.submissionLines << QStringLiteral("#")
                            << QStringLiteral("# Disc length: ") + QString::number(out.discLength) +
                                   QStringLiteral(" seconds");
    }
    return out;
}

bool DiscDrive::EjectDisc(const QString& path) {
    letWindowMessagesRun();
    if (IsDiscImage(path)) return false;
    const bool ejected = EjectMedia(path);
    letWindowMessagesRun();
    return ejected;
}

}  // namespace albumora::disc
