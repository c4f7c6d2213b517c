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

}  // namespace

File::~File() { close(); }

File::File(File&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)) { o.fd_ = -1; }

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        path_ = std::move(o.path_);
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
}

Result<std::int64_t> File::size() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return ioError(QStringLiteral("Cannot read the size of"), path_, errno);
    return std::int64_t(st.st_size);
}

Result<size_t> File::readSome(std::int64_t offset, void* buf, size_t len) const {
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

Status File::writeAt(std::int64_t offset, const void* buf, size_t len) {
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
    if (::ftruncate(fd_, size) != 0) return ioError(QStringLiteral("Cannot resize"), path_, errno);
    return {};
}

Status File::sync() {
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

Status renameFile(const QString& from, const QString& to) {
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
            removeFile(tmp);
            return st;
        }
    }
    QByteArray a = QFile::encodeName(tmp), b = QFile::encodeName(path);
    Status st = ::rename(a.constData(), b.constData()) == 0 ? (sync ? syncFolderOf(path) : Status())
                                                           : ioError(QStringLiteral("Cannot rename %1 to").arg(tmp), path, errno);
    if (!st) removeFile(tmp);
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
