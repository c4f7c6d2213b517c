#include "File.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace albumora::store {
namespace {

Status ioError(const QString& what, const QString& path, int err) {
    return Status(ErrorKind::IoError, what + QStringLiteral(" ") + path + QStringLiteral(": ") +
                                          QString::fromLocal8Bit(std::strerror(err)),
                  path);
}

FileFaultHook gFaultHook = nullptr;

// The errno a test wants this call to fail with, or 0.
int injected(FileOp op, const QString& path) { return gFaultHook ? gFaultHook(op, path) : 0; }

}  // namespace

void setFileFaultHook(FileFaultHook hook) { gFaultHook = hook; }

File::~File() { close(); }

File::File(File&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)), overlay_(std::move(o.overlay_)) { o.fd_ = -1; }

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        path_ = std::move(o.path_);
        overlay_ = std::move(o.overlay_);
        o.fd_ = -1;
    }
    return *this;
}

Result<File> File::open(const QString& path, Mode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::ReadOnly: flags |= O_RDONLY; break;
        case Mode::ReadWrite: flags |= O_RDWR; break;
        case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT) return Status(ErrorKind::NotFound, QStringLiteral("File not found: ") + path, path);
        return ioError(QStringLiteral("Cannot open"), path, err);
    }
    File f;
    f.fd_ = fd;
    f.path_ = path;
    return f;
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    overlay_.reset();
}

std::pair<std::uint64_t, std::uint64_t> File::identity() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return {0, 0};
    return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

Result<std::int64_t> File::size() const {
    if (overlay_) return overlay_->size;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return ioError(QStringLiteral("Cannot read the size of"), path_, errno);
    return std::int64_t(st.st_size);
}

Result<size_t> File::readSome(std::int64_t offset, void* buf, size_t len) const {
    if (!overlay_) return diskRead(offset, buf, len);
    const Overlay& ov = *overlay_;
    if (offset >= ov.size) return size_t(0);
    len = size_t(std::min<std::int64_t>(std::int64_t(len), ov.size - offset));
    auto* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < len) {
        const std::int64_t at = offset + std::int64_t(done);
        const std::int64_t pageNo = at / kOverlayPage;
        const std::int64_t inPage = at - pageNo * kOverlayPage;
        const size_t take = size_t(std::min<std::int64_t>(std::int64_t(len - done), kOverlayPage - inPage));
        auto it = ov.pages.find(pageNo);
        if (it != ov.pages.end()) {
            std::memcpy(p + done, it->second.data() + inPage, take);
        } else {
            // Bytes on disk count up to the lowest truncation; past it the file reads as zeros.
            const std::int64_t diskEnd = std::min(ov.floor, ov.originalSize);
            size_t fromDisk = at < diskEnd ? size_t(std::min<std::int64_t>(std::int64_t(take), diskEnd - at)) : 0;
            if (fromDisk) {
                ALB_ASSIGN_OR_RETURN(size_t got, diskRead(at, p + done, fromDisk));
                fromDisk = got;
            }
            std::memset(p + done + fromDisk, 0, take - fromDisk);
        }
        done += take;
    }
    return done;
}

Result<size_t> File::diskRead(std::int64_t offset, void* buf, size_t len) const {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < len) {
        ssize_t n = ::pread(fd_, p + done, len - done, offset + std::int64_t(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(QStringLiteral("Cannot read"), path_, errno);
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return done;
}

Status File::readAt(std::int64_t offset, void* buf, size_t len, const char* what) const {
    auto got = readSome(offset, buf, len);
    if (!got) return got.error();
    if (*got != len)
        return Status(ErrorKind::Corruption,
                      QStringLiteral("%1 is truncated: %2 runs past the end of the file")
                          .arg(QFileInfo(path_).fileName(), QString::fromLatin1(what)),
                      path_, offset);
    return {};
}

std::string& File::overlayPage(std::int64_t pageNo, Status& st) {
    Overlay& ov = *overlay_;
    auto it = ov.pages.find(pageNo);
    if (it != ov.pages.end()) return it->second;
    std::string page(size_t(kOverlayPage), '\0');
    const std::int64_t start = pageNo * kOverlayPage;
    const std::int64_t diskEnd = std::min(ov.floor, ov.originalSize);
    if (start < diskEnd) {
        auto got = diskRead(start, page.data(), size_t(std::min<std::int64_t>(kOverlayPage, diskEnd - start)));
        if (!got) st = got.error();
    }
    return ov.pages.emplace(pageNo, std::move(page)).first->second;
}

Result<File> File::openScratch(const QString& folder, const QString& label) {
    const QByteArray dir = QFile::encodeName(folder);
    int fd;
    do {
        fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a unique name, removed at once.
        const QString path = temporaryPathFor(label);
        const QByteArray native = QFile::encodeName(path);
        do {
            fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) ::unlink(native.constData());
    }
    if (fd < 0) return ioError(QStringLiteral("Cannot create a scratch file in"), folder, errno);
    File f;
    f.fd_ = fd;
    f.path_ = label;
    return f;
}

void File::startWriteback(std::int64_t offset, std::int64_t len) {
    if (fd_ >= 0 && !overlay_ && len > 0) (void)::sync_file_range(fd_, offset, len, SYNC_FILE_RANGE_WRITE);
}

Status File::writeAt(std::int64_t offset, const void* buf, size_t len) {
    if (!overlay_) {
        if (int err = injected(FileOp::Write, path_)) return ioError(QStringLiteral("Cannot write"), path_, err);
        return diskWrite(offset, buf, len);
    }
    const auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < len) {
        const std::int64_t at = offset + std::int64_t(done);
        const std::int64_t pageNo = at / kOverlayPage;
        const std::int64_t inPage = at - pageNo * kOverlayPage;
        const size_t take = size_t(std::min<std::int64_t>(std::int64_t(len - done), kOverlayPage - inPage));
        Status st;
        std::string& page = overlayPage(pageNo, st);
        if (!st) {
            overlay_->pages.erase(pageNo);
            return st;
        }
        std::memcpy(page.data() + inPage, p + done, take);
        done += take;
    }
    overlay_->size = std::max(overlay_->size, offset + std::int64_t(len));
    return {};
}

Status File::diskWrite(std::int64_t offset, const void* buf, size_t len) {
    size_t done = 0;
    auto* p = static_cast<const char*>(buf);
    while (done < len) {
        ssize_t n = ::pwrite(fd_, p + done, len - done, offset + std::int64_t(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(QStringLiteral("Cannot write"), path_, errno);
        }
        done += size_t(n);
    }
    return {};
}

Status File::truncate(std::int64_t size) {
    if (overlay_) {
        Overlay& ov = *overlay_;
        if (size < ov.size) {
            const std::int64_t cutPage = size / kOverlayPage;
            for (auto it = ov.pages.lower_bound(cutPage + (size % kOverlayPage ? 1 : 0)); it != ov.pages.end();)
                it = ov.pages.erase(it);
            if (size % kOverlayPage) {
                Status st;
                std::string& page = overlayPage(cutPage, st);
                ALB_TRY(st);
                std::memset(page.data() + size % kOverlayPage, 0, size_t(kOverlayPage - size % kOverlayPage));
            }
            ov.floor = std::min(ov.floor, size);
        }
        ov.size = size;
        return {};
    }
    if (int err = injected(FileOp::Truncate, path_)) return ioError(QStringLiteral("Cannot resize"), path_, err);
    if (::ftruncate(fd_, size) != 0) return ioError(QStringLiteral("Cannot resize"), path_, errno);
    return {};
}

Status File::sync() {
    if (overlay_) return {};  // the overlay reaches the disk when it is applied, and is synced then
    if (int err = injected(FileOp::Sync, path_)) return ioError(QStringLiteral("Cannot flush"), path_, err);
    if (::fdatasync(fd_) != 0) return ioError(QStringLiteral("Cannot flush"), path_, errno);
    return {};
}

Status File::beginOverlay() {
    if (overlay_) return {};
    struct stat st;
    if (::fstat(fd_, &st) != 0) return ioError(QStringLiteral("Cannot read the size of"), path_, errno);
    overlay_ = std::make_unique<Overlay>();
    overlay_->originalSize = overlay_->size = overlay_->floor = std::int64_t(st.st_size);
    return {};
}

bool File::overlayDirty() const {
    return overlay_ && (!overlay_->pages.empty() || overlay_->size != overlay_->originalSize);
}

std::int64_t File::overlayOriginalSize() const { return overlay_ ? overlay_->originalSize : 0; }

std::size_t File::overlayBytes() const { return overlay_ ? overlay_->pages.size() * size_t(kOverlayPage) : 0; }

Status File::overlayBeforeImages(std::vector<PageImage>& out) const {
    if (!overlay_) return {};
    const Overlay& ov = *overlay_;
    auto save = [&](std::int64_t pageNo) -> Status {
        const std::int64_t start = pageNo * kOverlayPage;
        if (start >= ov.originalSize) return {};
        PageImage img;
        img.offset = start;
        img.bytes.resize(size_t(std::min<std::int64_t>(kOverlayPage, ov.originalSize - start)));
        ALB_ASSIGN_OR_RETURN(size_t got, diskRead(start, img.bytes.data(), img.bytes.size()));
        img.bytes.resize(got);
        out.push_back(std::move(img));
        return {};
    };
    for (const auto& [pageNo, bytes] : ov.pages) ALB_TRY(save(pageNo));
    // Pages a truncation cut off change on disk as well, though the overlay holds none of them.
    for (std::int64_t pageNo = ov.floor / kOverlayPage; pageNo * kOverlayPage < ov.originalSize; ++pageNo)
        if (!ov.pages.count(pageNo)) ALB_TRY(save(pageNo));
    return {};
}

Status File::applyOverlay() {
    if (!overlay_) return {};
    const Overlay& ov = *overlay_;
    if (int err = injected(FileOp::Write, path_)) return ioError(QStringLiteral("Cannot write"), path_, err);
    if (ov.floor < ov.originalSize && ::ftruncate(fd_, ov.floor) != 0)
        return ioError(QStringLiteral("Cannot resize"), path_, errno);
    for (const auto& [pageNo, bytes] : ov.pages) {
        const std::int64_t start = pageNo * kOverlayPage;
        if (start >= ov.size) continue;
        const size_t n = size_t(std::min<std::int64_t>(kOverlayPage, ov.size - start));
        ALB_TRY(diskWrite(start, bytes.data(), n));
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0) return ioError(QStringLiteral("Cannot read the size of"), path_, errno);
    if (std::int64_t(st.st_size) != ov.size) {
        if (int err = injected(FileOp::Truncate, path_)) return ioError(QStringLiteral("Cannot resize"), path_, err);
        if (::ftruncate(fd_, ov.size) != 0) return ioError(QStringLiteral("Cannot resize"), path_, errno);
    }
    if (int err = injected(FileOp::Sync, path_)) return ioError(QStringLiteral("Cannot flush"), path_, err);
    if (::fdatasync(fd_) != 0) return ioError(QStringLiteral("Cannot flush"), path_, errno);
    return {};
}

Status File::lock(Lock kind) {
    int op = kind == Lock::None ? LOCK_UN : kind == Lock::Shared ? LOCK_SH : LOCK_EX;
    if (kind != Lock::None) op |= LOCK_NB;
    int rc;
    do {
        rc = ::flock(fd_, op);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK)
            return Status(ErrorKind::Locked,
                          QStringLiteral("%1 is in use by another program").arg(QFileInfo(path_).fileName()), path_);
        return ioError(QStringLiteral("Cannot lock"), path_, errno);
    }
    return {};
}

bool fileExists(const QString& path) { return QFileInfo(path).isFile(); }

Status removeFile(const QString& path) {
    if (int err = injected(FileOp::Remove, path)) return ioError(QStringLiteral("Cannot delete"), path, err);
    QByteArray native = QFile::encodeName(path);
    if (::unlink(native.constData()) != 0 && errno != ENOENT) return ioError(QStringLiteral("Cannot delete"), path, errno);
    return {};
}

Status syncFolderOf(const QString& path) {
    QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ioError(QStringLiteral("Cannot open folder"), QString::fromLocal8Bit(dir), errno);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL) return ioError(QStringLiteral("Cannot flush folder"), QString::fromLocal8Bit(dir), err);
    return {};
}

CacheRelease::CacheRelease(const QString& path) {
    QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;  // nothing to let go
    try {
        thread_ = std::thread([fd] {
            (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        });
    } catch (const std::system_error&) {
        ::close(fd);  // no thread to be had: the rename frees the pages, as it always could
    }
}

CacheRelease::~CacheRelease() {
    if (thread_.joinable()) thread_.join();
}

Status renameFile(const QString& from, const QString& to) {
    if (int err = injected(FileOp::Rename, to)) return ioError(QStringLiteral("Cannot rename %1 to").arg(from), to, err);
    QByteArray a = QFile::encodeName(from), b = QFile::encodeName(to);
    if (::rename(a.constData(), b.constData()) != 0)
        return ioError(QStringLiteral("Cannot rename %1 to").arg(from), to, errno);
    return syncFolderOf(to);
}

QString temporaryPathFor(const QString& path) {
    QFileInfo fi(path);
    return fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".") +
           QString::number(::getpid()) + QStringLiteral(".tmp");
}

Status writeFileAtomically(const QString& path, const std::string& bytes, bool sync) {
    QString tmp = temporaryPathFor(path);
    {
        ALB_ASSIGN_OR_RETURN(File f, File::open(tmp, File::Mode::Create));
        Status st = f.writeAt(0, bytes.data(), bytes.size());
        if (st && sync) st = f.sync();
        if (!st) {
            f.close();
            (void)removeFile(tmp);  // st is the failure to return; the temporary is only clutter
            return st;
        }
    }
    QByteArray a = QFile::encodeName(tmp), b = QFile::encodeName(path);
    const int err = injected(FileOp::Rename, path);
    Status st = err == 0 && ::rename(a.constData(), b.constData()) == 0
                    ? (sync ? syncFolderOf(path) : Status())
                    : ioError(QStringLiteral("Cannot rename %1 to").arg(tmp), path, err ? err : errno);
    if (!st) (void)removeFile(tmp);  // as above
    return st;
}

Status copyFile(const QString& from, const QString& to) {
    ALB_ASSIGN_OR_RETURN(File in, File::open(from, File::Mode::ReadOnly));
    ALB_ASSIGN_OR_RETURN(File out, File::open(to, File::Mode::Create));
    std::string buf(1 << 20, '\0');
    std::int64_t off = 0;
    for (;;) {
        ALB_ASSIGN_OR_RETURN(size_t n, in.readSome(off, buf.data(), buf.size()));
        if (n == 0) break;
        ALB_TRY(out.writeAt(off, buf.data(), n));
        off += std::int64_t(n);
    }
    return out.sync();
}

QString resolveCaseInsensitive(const QString& path) {
    QFileInfo fi(path);
    if (fi.exists()) return path;
    QDir dir = fi.absoluteDir();
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& n : names)
        if (n.compare(fi.fileName(), Qt::CaseInsensitive) == 0) return dir.filePath(n);
    return path;
}

}  // namespace albumora::store
