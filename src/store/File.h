// A thin owner of a file descriptor: full reads and writes at an offset, sync, advisory locks,
// atomic replacement. Every failure comes back as a Status naming the file.
#pragma once

#include "Status.h"

#include <QString>

#include <cstdint>
#include <string>

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
    // Non-blocking advisory lock on the whole file, shared or exclusive.
    Status lock(Lock kind);

private:
    int fd_ = -1;
    QString path_;
};

bool fileExists(const QString& path);
Status removeFile(const QString& path);  // a missing file is no error
// Renames over an existing file and syncs the folder, so the new name survives a crash.
Status renameFile(const QString& from, const QString& to);
Status syncFolderOf(const QString& path);
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
