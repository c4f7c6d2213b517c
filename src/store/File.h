// A thin owner of a file descriptor: full reads and writes at an offset, sync, advisory locks,
// atomic replacement. Every failure comes back as a Status naming the file.
#pragma once

#include "Status.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace albumora::store {

class File {
public:
    enum class Mode { ReadOnly, ReadWrite, Create /* read-write, truncating */ };
    enum class Lock { None, Shared, Exclusive };

    File() = default;
    ~File();
    File(File&& o) noexcept;
    File& operator=(File&& o) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static Result<File> open(const QString& path, Mode mode);
    // A file without a name in folder, for scratch data: it is gone when closed, and a crash
    // leaves nothing behind. label (a path in folder) names it in messages and to the fault hook.
    static Result<File> openScratch(const QString& folder, const QString& label);

    bool isOpen() const { return fd_ >= 0; }
    const QString& path() const { return path_; }
    void close();

    Result<std::int64_t> size() const;
    // Reads exactly len bytes; reading past the end is a Corruption error that names what was read.
    Status readAt(std::int64_t offset, void* buf, size_t len, const char* what = "data") const;
    // Reads up to len bytes; returns how many were there.
    Result<size_t> readSome(std::int64_t offset, void* buf, size_t len) const;
    Status writeAt(std::int64_t offset, const void* buf, size_t len);
    Status truncate(std::int64_t size);
    Status sync();
    // Starts writing [offset, offset + len) to disk without waiting, so that a later sync of a
    // large file has less left to wait for. Only a hint: it never fails.
    void startWriteback(std::int64_t offset, std::int64_t len);
    // Non-blocking advisory lock on the whole file, shared or exclusive.
    Status lock(Lock kind);
    // Identity of the open file (device and inode), to tell whether a path still names it.
    std::pair<std::uint64_t, std::uint64_t> identity() const;

    // Deferred writes. While an overlay is on, writes, truncation and sync change only pages
    // held in memory, and reads see them over the bytes on disk; the file on disk stays as it
    // was until the overlay is applied. A write of the collection holds its tables' changes
    // this way, so that the bytes they replace can be saved before any of them lands.
    static constexpr std::int64_t kOverlayPage = 4096;
    struct PageImage {
        std::int64_t offset = 0;
        std::string bytes;
    };
    Status beginOverlay();
    bool hasOverlay() const { return overlay_ != nullptr; }
    bool overlayDirty() const;
    std::int64_t overlayOriginalSize() const;
    std::size_t overlayBytes() const;
    // The bytes on disk that applying the overlay will replace (pages below the original size).
    Status overlayBeforeImages(std::vector<PageImage>& out) const;
    // Writes the held pages and the new size to disk and syncs; the overlay stays on.
    Status applyOverlay();
    void dropOverlay() { overlay_.reset(); }

private:
    struct Overlay {
        std::int64_t originalSize = 0;  // on disk when the overlay began
        std::int64_t size = 0;          // as the overlay's writes left it
        std::int64_t floor = 0;         // bytes on disk from here on were cut off by a truncation
        std::map<std::int64_t, std::string> pages;  // by page number, kOverlayPage bytes each
    };
    Result<size_t> diskRead(std::int64_t offset, void* buf, size_t len) const;
    Status diskWrite(std::int64_t offset, const void* buf, size_t len);
    std::string& overlayPage(std::int64_t pageNo, Status& st);

    int fd_ = -1;
    QString path_;
    std::unique_ptr<Overlay> overlay_;
};

// Fault injection for tests: when set, consulted before every write, truncation, sync and
// rename of the engine; a non-zero errno it returns fails that call as the system would.
enum class FileOp { Write, Truncate, Sync, Rename, Remove };
using FileFaultHook = int (*)(FileOp op, const QString& path);
void setFileFaultHook(FileFaultHook hook);

bool fileExists(const QString& path);
Status removeFile(const QString& path);  // a missing file is no error
// Renames over an existing file and syncs the folder, so the new name survives a crash.
Status renameFile(const QString& from, const QString& to);
Status syncFolderOf(const QString& path);
// Lets the system's cache of a file about to be replaced go, on a thread of its own, until
// destroyed. The rename that replaces a large file otherwise frees its cached pages itself
// (about 10 ms for a 125 MB table); started before a sync, this is done while the disk works.
// The file itself is untouched: if the replacement fails, it reads as before.
class CacheRelease {
public:
    explicit CacheRelease(const QString& path);
    ~CacheRelease();
    CacheRelease(const CacheRelease&) = delete;
    CacheRelease& operator=(const CacheRelease&) = delete;

private:
    std::thread thread_;
};
// Writes a whole file through a temporary beside it, then renames it into place. Without sync
// the new contents may still sit in the system's cache after a power cut (small settings files
// written many times a minute), but a reader never sees half a file.
Status writeFileAtomically(const QString& path, const std::string& bytes, bool sync = true);
Status copyFile(const QString& from, const QString& to);
// A file name beside path that no other writer uses.
QString temporaryPathFor(const QString& path);
// Finds a file in its folder without regard to the case of its name ("albums.dbf" for
// "ALBUMS.DBF"); returns the path as given when nothing matches.
QString resolveCaseInsensitive(const QString& path);

}  // namespace albumora::store
