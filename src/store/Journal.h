// Whole writes of a collection folder, and several programs on one folder.
//
// An album is rows in four tables, so a change of the collection touches several files. Every
// change of a folder's tables runs inside a write: from the first change to the commit, pages of
// the DBF, FPT and CDX files are changed only in memory (File's overlay). The commit saves the
// bytes those pages will replace in a rollback journal, syncs it, writes the pages, syncs the
// tables, and empties the journal; a writer killed, refused or out of space before the journal
// is empty leaves what the next Albumora process to open the folder undoes. Between writes the
// files are plain FoxPro files that other xBase tools read as they are.
//
// Writers are serialised by an exclusive lock on the folder's lock file, waited for a bounded
// time. Readers take no lock: the lock file counts commits, and a reader that sees the count
// changed reloads the headers, memo pointers and index pages of the tables that changed before
// its next operation. An odd count means a commit is landing, and readers wait for it.
//
// ".albumora-lock" (528 bytes, little-endian):
//   offset size  description
//        0    8  commit count: even between commits, odd while a commit writes the tables
//        8    8  reserved (0)
//       16  512  64 change counts, 8 bytes each: a commit adds 1 to the slot of each file it
//                changed (slot: FNV-1a hash of the upper-cased file name, modulo 64)
//
// ".albumora-journal": empty when no commit is unfinished; otherwise (little-endian):
//   offset size  description
//        0    8  magic "ALBJRNL1"
//        8    4  format version (1)
//       12    4  number of files F
//       16    4  number of page images P
//       20    4  reserved (0)
//       24    8  commit count the commit set while writing (odd); a lock file count above it
//                means the commit finished and the journal is stale
//       32    8  length of the body in bytes
//       40    4  CRC-32 of the body
//       44    4  CRC-32 of bytes 0 to 43
//   body, F file entries, then P page images:
//        file:  2 bytes name length N, N bytes file name (UTF-8, in the folder), 8 bytes the
//               file's size before the commit
//        image: 2 bytes file entry number, 8 bytes offset, 4 bytes length L, L bytes as they
//               were before the commit
// Undoing a journal writes every image back, cuts each file to its size before the commit,
// syncs the files, then empties the journal. A journal whose checksums fail was cut short
// while it was written, before any table was touched, and is simply emptied.
#pragma once

#include "File.h"
#include "Status.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace albumora::store {

class Table;

// The coordination of one folder's tables within this process: one object per folder, shared
// by its open tables.
class Folder {
public:
    static constexpr int kDefaultWaitMs = 10000;
    static constexpr int kSlots = 64;

    static std::shared_ptr<Folder> of(const QString& folderPath);
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const QString& path() const { return path_; }
    static QString lockPath(const QString& folder);
    static QString journalPath(const QString& folder);
    // How long a writer waits for another writer's lock (all folders of this process).
    static void setWaitMs(int ms);
    static int waitMs();

    // Readers call this before an operation: waits out a commit that is landing, undoes the
    // unfinished write of a dead writer, and reloads the tables another writer changed.
    Status refresh();
    // Whether another program has committed since this process last caught up. A read that
    // ran while a commit landed may have met pages of two states, which is no damage: the
    // reader catches up and reads again.
    Result<bool> othersCommitted() const;
    // The folder's commit count (every program's commits; 0 for a folder without a lock file).
    Result<std::uint64_t> commitCount() const;

    // Open tables register themselves, so that they can be reloaded.
    void attach(Table* t);
    void detach(Table* t);

    // A table is about to change: joins the current write, or starts one that ends at the next
    // flush (the write of a single post, a submission's revision).
    Status enlist(Table* t);
    bool writing() const { return writing_; }
    bool explicitWrite() const { return depth_ > 0; }
    bool enlisted(const Table* t) const;

    // Explicit writes (Transaction).
    Status beginExplicit(int waitMs);
    Status endExplicit(bool commit);
    // Ends a write started by a table change; no-op inside an explicit write.
    Status commitImplicit();

    // Index rebuilds and packs replace files by renaming; they hold the writers' lock while
    // they do, and tell readers which files changed.
    Status beginStructureChange(int waitMs);
    void endStructureChange(const std::vector<QString>& changedFiles);
    // Several writes and structure changes in a row that no other program's write may come
    // between (file maintenance, a restore): the writers' lock is held from hold to release,
    // while each change inside still ends as it would alone and tells readers of its files.
    Status holdWriters(int waitMs);
    void releaseWriters();

    // Whether the folder holds an unfinished write (for the integrity check): a whole journal
    // whose commit had begun to write the tables and never finished.
    static Result<bool> hasUnfinishedWrite(const QString& folder);

private:
    explicit Folder(QString path);
    Status openLockFile();
    Status lock(int waitMs);
    void unlock();
    Status readCounts(std::uint64_t& count, std::array<std::uint64_t, kSlots>* slotCounts) const;
    Status writeCounts(std::uint64_t count, const std::array<std::uint64_t, kSlots>& slotCounts);
    Status beginWrite(int waitMs);
    Status recoverLocked();
    Status reloadChanged();
    void removeLeftovers();
    Status commit();
    void abort();
    void endWrite();

    QString path_;
    File lockFile_;
    bool coordinated_ = false;  // false when the lock file cannot be opened (a read-only folder)
    bool writable_ = false;
    bool locked_ = false;
    bool writing_ = false;
    int depth_ = 0;
    bool failed_ = false;
    int structure_ = 0;
    int held_ = 0;
    std::uint64_t seen_ = 0;
    std::array<std::uint64_t, kSlots> seenSlots_{};
    std::vector<Table*> tables_;
    std::vector<Table*> enlisted_;
    std::vector<std::shared_ptr<Table>> keepAlive_;
};

// One whole write of a folder's tables: every change made through any cursor between begin and
// commit lands together or not at all. A transaction that is destroyed uncommitted leaves the
// tables exactly as they were before begin.
class Transaction {
public:
    // Takes the writers' lock, waiting at most waitMs; finishes undoing a dead writer's
    // unfinished write; brings this process's tables of the folder up to date.
    static Result<Transaction> begin(const QString& folder, int waitMs = -1);
    Transaction(Transaction&& o) noexcept : folder_(std::move(o.folder_)) {}
    Transaction& operator=(Transaction&&) = delete;
    ~Transaction();

    Status commit();
    void abort();
    bool active() const { return folder_ != nullptr; }

private:
    explicit Transaction(std::shared_ptr<Folder> f) : folder_(std::move(f)) {}
    std::shared_ptr<Folder> folder_;
};

// CRC-32 (IEEE 802.3), for the journal's checksums.
std::uint32_t crc32(const void* data, size_t len, std::uint32_t crc = 0);

}  // namespace albumora::store
