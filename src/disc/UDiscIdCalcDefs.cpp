#include "UDiscIdCalcDefs.h"

#include "CdioSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace albumora::disc {
namespace {

// libcdio writes its warnings to stderr; an empty drive or a file that is not an image is an
// ordinary answer here, reported by the callers in their own words.
void quietLibcdio() {
    static std::once_flag once;
    std::call_once(once, [] { cdio_loglevel_default = CDIO_LOG_ASSERT; });
}

using detail::CdioHandle;

bool statPath(const QString& path, struct stat& st) {
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

// libcdio's cdrdao reader looks for the data files a .toc names relative to the working folder,
// while cdrdao writes them relative to the .toc itself. An image is therefore opened from its
// own folder (everything here runs on the one window thread) and the working folder is put
// back at once.
class WorkingFolderGuard {
public:
    explicit WorkingFolderGuard(const QString& folder) {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer)) saved_ = buffer;
        if (!saved_.empty()) changed_ = ::chdir(QFile::encodeName(folder).constData()) == 0;
    }
    ~WorkingFolderGuard() {
        if (changed_ && ::chdir(saved_.c_str()) != 0) {
            // The folder we came from is gone; nothing opens files relative to it anyway.
        }
    }
    WorkingFolderGuard(const WorkingFolderGuard&) = delete;
    WorkingFolderGuard& operator=(const WorkingFolderGuard&) = delete;

private:
    std::string saved_;
    bool changed_ = false;
};

// Images are opened by the driver of their kind only: libcdio's device driver would open any
// file at all and then fail on every question.
CdioHandle openSource(const QString& path) {
    quietLibcdio();
    struct stat st {};
    if (!statPath(path, st)) return {};
    const QByteArray name = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    if (S_ISREG(st.st_mode)) {
        const QString ext = QFileInfo(path).suffix().toLower();
        WorkingFolderGuard folder(QFileInfo(path).absolutePath());
        std::vector<driver_id_t> drivers;
        if (ext == QLatin1String("cue") || ext == QLatin1String("bin"))
            drivers = {DRIVER_BINCUE};
        else if (ext == QLatin1String("toc"))
            drivers = {DRIVER_CDRDAO};
        else if (ext == QLatin1String("nrg"))
            drivers = {DRIVER_NRG};
        else
            drivers = {DRIVER_BINCUE, DRIVER_CDRDAO, DRIVER_NRG};
        for (driver_id_t d : drivers) {
            if (!cdio_have_driver(d)) continue;
            if (CdIo_t* p = cdio_open(name.constData(), d)) return CdioHandle(p);
        }
        return {};
    }
    if (S_ISBLK(st.st_mode)) return CdioHandle(cdio_open(name.constData(), DRIVER_DEVICE));
    return {};
}

// Vendor and model come space-padded from the drive's inquiry data.
QString driveText(const char* s) {
    return QString::fromLatin1(s).trimmed().left(kMaxDriveText);
}

// The SCSI address of a block device from sysfs: /sys/dev/block/MAJ:MIN/device links to a
// folder named "host:channel:target:lun". Reading it needs no permission on the device itself.
void scsiAddress(const QString& device, CdDriveRecord& rec) {
    struct stat st {};
    if (!statPath(device, st) || !S_ISBLK(st.st_mode)) return;
    const QString link = QStringLiteral("/sys/dev/block/%1:%2/device").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    const QString target = QFileInfo(link).canonicalFilePath();
    static const QRegularExpression hctl(QStringLiteral("^(\\d+):(\\d+):(\\d+):(\\d+)$"));
    const QRegularExpressionMatch m = hctl.match(QFileInfo(target).fileName());
    if (!m.hasMatch()) return;
    rec.hostAdapter = std::uint8_t(m.captured(1).toUInt());
    rec.target = std::uint8_t(m.captured(3).toUInt());
    rec.lun = std::uint8_t(m.captured(4).toUInt());
}

CdDriveRecord describe(const QString& device) {
    CdDriveRecord rec;
    rec.device = device;
    scsiAddress(device, rec);
    if (CdioHandle h = openSource(device)) {
        cdio_hwinfo_t hw{};
        if (cdio_get_hwinfo(h.get(), &hw)) {
            rec.vendor = driveText(hw.psz_vendor);
            rec.model = driveText(hw.psz_model);
            rec.revision = driveText(hw.psz_revision);
        }
        if (const char* d = cdio_get_driver_name(h.get())) rec.driver = driveText(d);
    }
    return rec;
}

int digitSum(int n) {
    int sum = 0;
    for (; n > 0; n /= 10) sum += n % 10;
    return sum;
}

bool validAddress(lba_t lba) {
    return lba != CDIO_INVALID_LBA && lba >= 0 && lba < 256 * kFramesPerMinute;
}

}  // namespace

detail::CdioHandle detail::OpenCdSource(const QString& path) {
    return openSource(path);
}

TocEntry TocEntry::fromFrames(int frames) {
    TocEntry e;
    e.minute = std::uint8_t(frames / kFramesPerMinute);
    e.second = std::uint8_t(frames / kFramesPerSecond % 60);
    e.frame = std::uint8_t(frames % kFramesPerSecond);
    return e;
}

std::int32_t AspiInstalled() {
    QStringList candidates;
    // The kernel lists every SCSI CD device here whether or not the user may open it; libcdio
    // lists only those it could open.
    const QDir sysBlock(QStringLiteral("/sys/class/block"));
    for (const QString& name : sysBlock.entryList({QStringLiteral("sr*")}, QDir::AllEntries | QDir::System))
        candidates << QStringLiteral("/dev/") + name;
    for (const QString& d : CdRomDevices())
        if (!candidates.contains(d)) candidates << d;
    int usable = 0, refused = 0;
    for (const QString& d : candidates) {
        if (!QFileInfo::exists(d)) continue;
        const int fd = ::open(QFile::encodeName(d).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            ++usable;
        } else if (errno == EACCES || errno == EPERM) {
            ++refused;
        }
    }
    return refused > 0 && usable == 0 ? -1 : usable;
}

QStringList CdRomDevices() {
    quietLibcdio();
    QStringList out;
    char** devices = cdio_get_devices(DRIVER_DEVICE);
    if (!devices) return out;
    for (char** d = devices; *d; ++d) {
        const QString real = QFileInfo(QFile::decodeName(*d)).canonicalFilePath();
        if (!real.isEmpty() && !out.contains(real)) out << real;
    }
    cdio_free_device_list(devices);
    return out;
}

bool IsDiscImage(const QString& path) {
    struct stat st {};
    return statPath(path, st) && S_ISREG(st.st_mode);
}

bool IsCdSource(const QString& path) {
    return bool(openSource(path));
}

bool IsDiscPresent(const QString& path) {
    CdioHandle h = openSource(path);
    if (!h) return false;
    const lsn_t last = cdio_get_disc_last_lsn(h.get());
    const track_t tracks = cdio_get_num_tracks(h.get());
    return last != CDIO_INVALID_LSN && last > 0 && tracks != CDIO_INVALID_TRACK && tracks > 0;
}

bool IsCdDaDisc(const QString& path) {
    CdioHandle h = openSource(path);
    return h && cdio_get_discmode(h.get()) == CDIO_DISC_MODE_CD_DA;
}

bool EjectMedia(const QString& path) {
    struct stat st {};
    if (!statPath(path, st) || !S_ISBLK(st.st_mode)) return false;
    quietLibcdio();
    return cdio_eject_media_drive(QFile::encodeName(path).constData()) == DRIVER_OP_SUCCESS;
}

bool GetCdRomDrives(CdDriveList& list, const QString& imagePath) {
    return GetCdRomDrives(list, imagePath, CdRomDevices());
}

bool GetCdRomDrives(CdDriveList& list, const QString& imagePath, const QStringList& devices) {
    list = CdDriveList{};
    auto add = [&](const QString& device) {
        if (list.count < kMaxDrives) list.drives[list.count++] = describe(device);
    };
    if (IsDiscImage(imagePath)) add(imagePath);
    for (const QString& d : devices) add(d);
    return list.count > 0;
}

void ReadCdTOC(CdDriveRecord drive, DiscToc& toc) {
    toc.trackCount = 0;
    CdioHandle h = openSource(drive.device);
    if (!h) return;
    const track_t first = cdio_get_first_track_num(h.get());
    const track_t count = cdio_get_num_tracks(h.get());
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 || count > kMaxTracks) return;
    DiscToc read;
    lba_t previous = -1;
    for (int n = 1; n <= count; ++n) {
        const lba_t lba = cdio_get_track_lba(h.get(), track_t(first + n - 1));
        if (!validAddress(lba) || lba <= previous) return;
        read.entries[size_t(n)] = TocEntry::fromFrames(lba);
        previous = lba;
    }
    const lba_t leadOut = cdio_get_track_lba(h.get(), CDIO_CDROM_LEADOUT_TRACK);
    if (!validAddress(leadOut) || leadOut <= previous) return;
    read.entries[0] = TocEntry::fromFrames(leadOut);
    read.trackCount = std::uint8_t(count);
    for (int n = count; n >= 1 && cdio_get_track_format(h.get(), track_t(first + n - 1)) != TRACK_FORMAT_AUDIO; --n)
        ++read.dataTracksAtEnd;
    toc = read;
}

std::uint32_t CalcDiscID(DiscToc toc) {
    const int count = std::min<int>(toc.trackCount, kMaxTracks);
    if (count == 0) return 0;
    int n = 0;
    for (int i = 1; i <= count; ++i) n += digitSum(toc.entries[size_t(i)].seconds());
    const int t = toc.entries[0].seconds() - toc.entries[1].seconds();
    return std::uint32_t(n % 255) << 24 | (std::uint32_t(t) & 0xFFFFu) << 8 | std::uint32_t(count);
}

}  // namespace albumora::disc
