#include "Journal.h"

#include "Bytes.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

namespace albumora::store {
namespace {

constexpr char kMagic[8] = {'A', 'L', 'B', 'J', 'R', 'N', 'L', '1'};
constexpr std::uint32_t kVersion = 1;
constexpr size_t kJournalHeader = 48;
constexpr size_t kLockFileSize = 16 + 8 * Folder::kSlots;

int gWaitMs = Folder::kDefaultWaitMs;

std::map<QString, std::weak_ptr<Folder>>& folders() {
    static std::map<QString, std::weak_ptr<Folder>> f;
    return f;
}

int slotOf(const QString& fileName) {
    std::uint32_t h = 2166136261u;
    for (char c : fileName.toUpper().toUtf8()) {
        h ^= std::uint8_t(c);
        h *= 16777619u;
    }
    return int(h % Folder::kSlots);
}

QString baseName(const QString& path) { return QFileInfo(path).fileName(); }

Status busy(const QString& folder) {
    return Status(ErrorKind::Locked,
                  QStringLiteral("Another program is writing to the collection in %1; nothing was changed. Try again when "
                                 "it has finished")
                      .arg(folder),
                  folder);
}

// The journal as it lies on disk.
struct JournalImage {
    struct FileEntry {
        QString name;
        std::int64_t size = 0;
    };
    struct Page {
        std::uint16_t file = 0;
        std::int64_t offset = 0;
        std::string bytes;
    };
    std::uint64_t count = 0;
    std::vector<FileEntry> files;
    std::vector<Page> pages;
};

void put64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(char(std::uint8_t(v >> (8 * i))));
}
void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char(std::uint8_t(v >> (8 * i))));
}
void put16(std::string& out, std::uint16_t v) {
    out.push_back(char(std::uint8_t(v)));
    out.push_back(char(std::uint8_t(v >> 8)));
}
std::uint64_t get64(const char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | std::uint8_t(p[i]);
    return v;
}

std::string encodeJournal(const JournalImage& j) {
    std::string body;
    for (const auto& f : j.files) {
        const QByteArray n = f.name.toUtf8();
        put16(body, std::uint16_t(n.size()));
        body.append(n.constData(), size_t(n.size()));
        put64(body, std::uint64_t(f.size));
    }
    for (const auto& p : j.pages) {
        put16(body, p.file);
        put64(body, std::uint64_t(p.offset));
        put32(body, std::uint32_t(p.bytes.size()));
        body.append(p.bytes);
    }
    std::string h(kMagic, sizeof kMagic);
    put32(h, kVersion);
    put32(h, std::uint32_t(j.files.size()));
    put32(h, std::uint32_t(j.pages.size()));
    put32(h, 0);
    put64(h, j.count);
    put64(h, body.size());
    put32(h, crc32(body.data(), body.size()));
    put32(h, crc32(h.data(), h.size()));
    return h + body;
}

// False when the bytes are not a whole journal (it was cut short while it was written).
bool decodeJournal(const std::string& b, JournalImage& j) {
    if (b.size() < kJournalHeader || std::memcmp(b.data(), kMagic, sizeof kMagic) != 0) return false;
    if (getLe32(b.data() + 44) != crc32(b.data(), 44)) return false;
    if (getLe32(b.data() + 8) != kVersion) return false;
    const std::uint32_t nFiles = getLe32(b.data() + 12), nPages = getLe32(b.data() + 16);
    j.count = get64(b.data() + 24);
    const std::uint64_t bodyLen = get64(b.data() + 32);
    if (bodyLen > b.size() - kJournalHeader) return false;
    const char* body = b.data() + kJournalHeader;
    if (getLe32(b.data() + 40) != crc32(body, size_t(bodyLen))) return false;
    size_t at = 0;
    auto need = [&](size_t n) { return at + n <= bodyLen; };
    for (std::uint32_t i = 0; i < nFiles; ++i) {
        if (!need(2)) return false;
        const std::uint16_t n = getLe16(body + at);
        at += 2;
        if (!need(size_t(n) + 8)) return false;
        JournalImage::FileEntry f;
        f.name = QString::fromUtf8(body + at, n);
        at += n;
        f.size = std::int64_t(get64(body + at));
        at += 8;
        // Only plain names of files in the folder: a journal never reaches outside it.
        if (f.name.isEmpty() || f.name.contains(QLatin1Char('/')) || f.name == QLatin1String("..")) return false;
        j.files.push_back(f);
    }
    for (std::uint32_t i = 0; i < nPages; ++i) {
        if (!need(14)) return false;
        JournalImage::Page p;
        p.file = getLe16(body + at);
        p.offset = std::int64_t(get64(body + at + 2));
        const std::uint32_t len = getLe32(body + at + 10);
        at += 14;
        if (!need(len) || p.file >= j.files.size() || p.offset < 0) return false;
        p.bytes.assign(body + at, len);
        at += len;
        j.pages.push_back(std::move(p));
    }
    return at == bodyLen;
}

// Puts every file of a journal back as it was before the commit.
Status undo(const QString& folder, const JournalImage& j) {
    std::vector<File> files;
    for (const auto& f : j.files) {
        const QString path = QDir(folder).filePath(f.name);
        auto opened = File::open(path, File::Mode::ReadWrite);
        if (!opened) return opened.error();
        files.push_back(std::move(opened).value());
    }
    for (const auto& p : j.pages) ALB_TRY(files[p.file].writeAt(p.offset, p.bytes.data(), p.bytes.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        ALB_TRY(files[i].truncate(j.files[i].size));
        ALB_TRY(files[i].sync());
    }
    return {};
}

}  // namespace

std::uint32_t crc32(const void* data, size_t len, std::uint32_t crc) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (size_t i = 0; i < len; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QString Folder::lockPath(const QString& folder) { return QDir(folder).filePath(QStringLiteral(".albumora-lock")); }
QString Folder::journalPath(const QString& folder) { return QDir(folder).filePath(QStringLiteral(".albumora-journal")); }
void Folder::setWaitMs(int ms) { gWaitMs = ms; }
int Folder::waitMs() { return gWaitMs; }

Folder::Folder(QString path) : path_(std::move(path)) {}

Folder::~Folder() {
    held_ = 0;
    if (locked_) unlock();
    folders().erase(path_);
}

std::shared_ptr<Folder> Folder::of(const QString& folderPath) {
    const QString path = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    auto& reg = folders();
    if (auto it = reg.find(path); it != reg.end())
        if (auto live = it->second.lock()) return live;
    std::shared_ptr<Folder> f(new Folder(path));
    // A lock file that cannot be opened leaves the folder uncoordinated: reads go on and lock()
    // refuses writes saying why. One that cannot be read fails again in refresh().
    (void)f->openLockFile();
    reg[path] = f;
    return f;
}

Status Folder::openLockFile() {
    const QString lp = lockPath(path_);
    auto rw = File::open(lp, File::Mode::ReadWrite);
    if (!rw && rw.error().kind() == ErrorKind::NotFound && QFileInfo(path_).isWritable()) {
        // Created whole under a temporary name, so that no reader sees a short lock file.
        std::string zeros(kLockFileSize, '\0');
        Status made = writeFileAtomically(lp, zeros, false);
        if (!made && !fileExists(lp)) return made;
        rw = File::open(lp, File::Mode::ReadWrite);
    }
    if (rw) {
        lockFile_ = std::move(rw).value();
        writable_ = true;
    } else {
        // A folder this user may only read: no writer of ours can be at work in it.
        auto ro = File::open(lp, File::Mode::ReadOnly);
        if (!ro) return ro.error();
        lockFile_ = std::move(ro).value();
    }
    coordinated_ = true;
    std::uint64_t c = 0;
    ALB_TRY(readCounts(c, &seenSlots_));
    seen_ = c & ~std::uint64_t(1);
    return {};
}

Status Folder::readCounts(std::uint64_t& count, std::array<std::uint64_t, kSlots>* slotCounts) const {
    char b[kLockFileSize] = {};
    const size_t want = slotCounts ? kLockFileSize : 8;
    ALB_ASSIGN_OR_RETURN(size_t got, lockFile_.readSome(0, b, want));
    (void)got;  // a lock file shorter than its layout reads as zeros
    count = get64(b);
    if (slotCounts)
        for (int i = 0; i < kSlots; ++i) (*slotCounts)[size_t(i)] = get64(b + 16 + 8 * i);
    return {};
}

Status Folder::writeCounts(std::uint64_t count, const std::array<std::uint64_t, kSlots>& slotCounts) {
    std::string b;
    put64(b, count);
    put64(b, 0);
    for (std::uint64_t s : slotCounts) put64(b, s);
    return lockFile_.writeAt(0, b.data(), b.size());
}

void Folder::attach(Table* t) {
    if (std::find(tables_.begin(), tables_.end(), t) == tables_.end()) tables_.push_back(t);
}

void Folder::detach(Table* t) {
    tables_.erase(std::remove(tables_.begin(), tables_.end(), t), tables_.end());
    enlisted_.erase(std::remove(enlisted_.begin(), enlisted_.end(), t), enlisted_.end());
}

bool Folder::enlisted(const Table* t) const { return std::find(enlisted_.begin(), enlisted_.end(), t) != enlisted_.end(); }

Status Folder::lock(int waitMs) {
    if (locked_) return {};
    if (!coordinated_ || !writable_)
        return Status(ErrorKind::IoError,
                      QStringLiteral("The collection in %1 cannot be changed: its lock file %2 cannot be written")
                          .arg(path_, lockPath(path_)),
                      path_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs < 0 ? gWaitMs : waitMs);
    for (;;) {
        Status st = lockFile_.lock(File::Lock::Exclusive);
        if (st) break;
        if (st.kind() != ErrorKind::Locked) return st;
        if (std::chrono::steady_clock::now() >= deadline) return busy(path_);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    locked_ = true;
    return {};
}

void Folder::unlock() {
    if (!locked_ || held_ > 0) return;
    (void)lockFile_.lock(File::Lock::None);  // unlocking an open descriptor has nothing to refuse
    locked_ = false;
}

Result<bool> Folder::hasUnfinishedWrite(const QString& folder) {
    const QString jp = journalPath(folder);
    if (!fileExists(jp)) return false;
    ALB_ASSIGN_OR_RETURN(File j, File::open(jp, File::Mode::ReadOnly));
    ALB_ASSIGN_OR_RETURN(std::int64_t size, j.size());
    if (size == 0) return false;
    std::string bytes(size_t(size), '\0');
    ALB_TRY(j.readAt(0, bytes.data(), bytes.size(), "the journal"));
    JournalImage image;
    if (!decodeJournal(bytes, image)) return false;  // cut short before any table was touched
    std::uint64_t count = 0;
    if (fileExists(lockPath(folder))) {
        ALB_ASSIGN_OR_RETURN(File l, File::open(lockPath(folder), File::Mode::ReadOnly));
        char b[8] = {};
        ALB_TRY(l.readSome(0, b, 8).status());
        count = get64(b);
    }
    // Below the journal's count the commit never began to write the tables.
    return count == image.count;
}

// With the writers' lock held: undoes the journal of a writer that died before its commit
// finished.
Status Folder::recoverLocked() {
    std::uint64_t count = 0;
    std::array<std::uint64_t, kSlots> slotCounts{};
    ALB_TRY(readCounts(count, &slotCounts));
    const QString jp = journalPath(path_);
    if (fileExists(jp)) {
        ALB_ASSIGN_OR_RETURN(File j, File::open(jp, File::Mode::ReadWrite));
        ALB_ASSIGN_OR_RETURN(std::int64_t size, j.size());
        if (size > 0) {
            if (size > (std::int64_t(1) << 31))
                return Status(ErrorKind::Corruption, QStringLiteral("The journal %1 is too large to be undone").arg(jp), jp);
            std::string bytes(size_t(size), '\0');
            ALB_TRY(j.readAt(0, bytes.data(), bytes.size(), "the journal"));
            JournalImage image;
            if (decodeJournal(bytes, image) && count <= image.count) {
                ALB_TRY(undo(path_, image));
                for (const auto& f : image.files) ++slotCounts[size_t(slotOf(f.name))];
                ALB_TRY(writeCounts(std::max(count, image.count | 1) + 1, slotCounts));
                ALB_TRY(readCounts(count, &slotCounts));
            }
            // Undone, stale, or cut short while it was written (before any table was touched).
            ALB_TRY(j.truncate(0));
            ALB_TRY(j.sync());
        }
    }
    if (count & 1) {
        // A writer died while it renamed files into place, or before its journal was whole:
        // which files it replaced is not known, so every reader reloads every table.
        for (auto& c : slotCounts) ++c;
        ALB_TRY(writeCounts(count + 1, slotCounts));
    }
    return {};
}

Status Folder::reloadChanged() {
    std::uint64_t count = 0;
    std::array<std::uint64_t, kSlots> slotCounts{};
    ALB_TRY(readCounts(count, &slotCounts));
    if (count == seen_ && slotCounts == seenSlots_) return {};
    Status result;
    for (Table* t : std::vector<Table*>(tables_)) {
        bool changed = false;
        for (const QString& n : t->fileNames()) changed = changed || slotCounts[size_t(slotOf(n))] != seenSlots_[size_t(slotOf(n))];
        if (!changed) continue;
        Status st = t->reloadFromDisk();
        if (!st && result) result = st;
    }
    seen_ = count;
    seenSlots_ = slotCounts;
    return result;
}

Status Folder::refresh() {
    if (!coordinated_ || writing_ || structure_) return {};
    std::uint64_t count = 0;
    ALB_TRY(readCounts(count, nullptr));
    if (count == seen_) return {};
    if (count & 1) {
        // A commit is landing, or its writer died: wait for it, or undo what it left.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(gWaitMs);
        for (;;) {
            if (writable_ && lockFile_.lock(File::Lock::Exclusive)) {
                locked_ = true;
                Status st = recoverLocked();
                unlock();
                ALB_TRY(st);
            }
            ALB_TRY(readCounts(count, nullptr));
            if (!(count & 1)) break;
            if (std::chrono::steady_clock::now() >= deadline) return busy(path_);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return reloadChanged();
}

Result<bool> Folder::othersCommitted() const {
    if (!coordinated_ || writing_ || structure_) return false;
    ALB_ASSIGN_OR_RETURN(const std::uint64_t count, commitCount());
    return count != seen_;
}

Result<std::uint64_t> Folder::commitCount() const {
    if (!coordinated_) return std::uint64_t(0);
    std::uint64_t count = 0;
    ALB_TRY(readCounts(count, nullptr));
    return count;
}

Status Folder::beginWrite(int waitMs) {
    ALB_TRY(lock(waitMs));
    Status st = recoverLocked();
    if (st) st = reloadChanged();
    if (!st) {
        unlock();
        return st;
    }
    writing_ = true;
    failed_ = false;
    return {};
}

Status Folder::enlist(Table* t) {
    if (structure_)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("%1 cannot be changed while its files are rebuilt").arg(baseName(t->path())),
                      t->path());
    if (!writing_) ALB_TRY(beginWrite(-1));
    if (enlisted(t)) return {};
    for (File* f : t->journaledFiles()) ALB_TRY(f->beginOverlay());
    enlisted_.push_back(t);
    if (depth_ > 0) keepAlive_.push_back(t->shared_from_this());
    return {};
}

Status Folder::beginExplicit(int waitMs) {
    if (depth_ > 0) {
        ++depth_;
        return {};
    }
    if (structure_)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The collection in %1 is being rebuilt").arg(path_), path_);
    if (!writing_) ALB_TRY(beginWrite(waitMs));
    // Changes made before, whose flush has not come yet, become part of this write.
    for (Table* t : enlisted_) keepAlive_.push_back(t->shared_from_this());
    depth_ = 1;
    return {};
}

Status Folder::endExplicit(bool doCommit) {
    if (depth_ == 0) return {};
    if (!doCommit) failed_ = true;
    if (--depth_ > 0) return {};
    if (failed_) {
        abort();
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The write was abandoned; nothing was changed"), path_);
    }
    return commit();
}

Status Folder::commitImplicit() {
    if (!writing_ || depth_ > 0) return {};
    return commit();
}

void Folder::endWrite() {
    for (Table* t : enlisted_)
        for (File* f : t->journaledFiles()) f->dropOverlay();
    enlisted_.clear();
    writing_ = false;
    failed_ = false;
    unlock();
    // Last: a table kept alive only by this write may close now, and it must find no write.
    std::vector<std::shared_ptr<Table>> release = std::move(keepAlive_);
    keepAlive_.clear();
}

void Folder::abort() {
    std::vector<Table*> touched = enlisted_;
    for (Table* t : touched)
        for (File* f : t->journaledFiles()) f->dropOverlay();
    enlisted_.clear();
    // Back to what the disk holds: headers, memo pointers, index pages. Callers return the
    // write's own outcome; a table that cannot be read back is told besides.
    for (Table* t : touched)
        if (const Status st = t->reloadFromDisk(); !st) Table::reportStatus(st.text());
    endWrite();
}

Status Folder::commit() {
    struct Change {
        File* file;
        std::uint16_t entry;
    };
    JournalImage j;
    std::vector<Change> changes;
    Status st;
    for (Table* t : enlisted_) {
        for (File* f : t->journaledFiles()) {
            if (!f->overlayDirty()) continue;
            std::vector<File::PageImage> images;
            st = f->overlayBeforeImages(images);
            if (!st) break;
            const auto entry = std::uint16_t(j.files.size());
            j.files.push_back({baseName(f->path()), f->overlayOriginalSize()});
            for (auto& img : images) j.pages.push_back({entry, img.offset, std::move(img.bytes)});
            changes.push_back({f, entry});
        }
        if (!st) break;
    }
    if (st && changes.empty()) {
        for (Table* t : enlisted_) t->markCommitted();
        endWrite();
        return {};
    }
    std::uint64_t count = 0;
    std::array<std::uint64_t, kSlots> slotCounts{};
    if (st) st = readCounts(count, &slotCounts);
    j.count = (count | 1) + (count & 1 ? 2 : 0);

    // The journal, whole and synced, before any table is touched.
    File journal;
    if (st) {
        auto opened = File::open(journalPath(path_), File::Mode::ReadWrite);
        if (!opened && opened.error().kind() == ErrorKind::NotFound)
            opened = File::open(journalPath(path_), File::Mode::Create);
        if (!opened) st = opened.error();
        else journal = std::move(opened).value();
    }
    if (st) {
        const std::string bytes = encodeJournal(j);
        st = journal.writeAt(0, bytes.data(), bytes.size());
        if (st) st = journal.truncate(std::int64_t(bytes.size()));
        if (st) st = journal.sync();
        // st is the failure to return. A journal left whole is undone by the next writer, back
        // to the bytes the tables still hold.
        if (!st && journal.isOpen()) (void)journal.truncate(0);
    }
    if (!st) {
        abort();
        return st;
    }
    st = writeCounts(j.count, slotCounts);
    // The pages, then a sync of every file: the commit has landed.
    for (const Change& c : changes) {
        if (!st) break;
        st = c.file->applyOverlay();
    }
    if (!st) {
        // Undone at once from the images in memory. Should that fail too, the journal stays for
        // the next writer or reader of the folder, which undoes it.
        Status undone = undo(path_, j);
        if (undone) {
            for (const auto& f : j.files) ++slotCounts[size_t(slotOf(f.name))];
            undone = writeCounts(j.count + 1, slotCounts);
            if (undone) {
                // The count has passed the journal: left whole, it is stale and cleared later.
                (void)journal.truncate(0);
                (void)journal.sync();
            }
        }
        abort();
        return st;
    }
    for (const auto& f : j.files) ++slotCounts[size_t(slotOf(f.name))];
    // The commit stands once the count has passed the journal's or the journal is empty;
    // with neither, the next program to open the folder would undo it, so it is undone now.
    const Status counted = writeCounts(j.count + 1, slotCounts);
    Status emptied = journal.truncate(0);
    if (emptied) emptied = journal.sync();
    if (!counted && !emptied) {
        // Should this fail too, the journal stays for the next program, which undoes it.
        (void)undo(path_, j);
        abort();
        return counted;
    }
    seen_ = j.count + 1;
    seenSlots_ = slotCounts;
    for (Table* t : enlisted_) t->markCommitted();
    endWrite();
    return {};
}

Status Folder::beginStructureChange(int waitMs) {
    if (writing_)
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("The files of the collection in %1 cannot be rebuilt during a write").arg(path_), path_);
    if (structure_++ > 0) return {};
    if (!coordinated_ || !writable_) return {};  // a private folder: nothing to tell anyone
    Status st = lock(waitMs);
    if (st) st = recoverLocked();
    if (st) st = reloadChanged();
    if (st) removeLeftovers();
    std::uint64_t count = 0;
    std::array<std::uint64_t, kSlots> slotCounts{};
    if (st) st = readCounts(count, &slotCounts);
    // Readers wait while the files are renamed.
    if (st) st = writeCounts((count | 1) + (count & 1 ? 2 : 0), slotCounts);
    if (!st) {
        unlock();
        --structure_;
    }
    return st;
}

Status Folder::holdWriters(int waitMs) {
    if (writing_ || structure_)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The collection in %1 is being written").arg(path_), path_);
    if (held_++ > 0) return {};
    if (!coordinated_ || !writable_) return {};  // a private folder: no other writer to keep out
    Status st = lock(waitMs);
    if (st) st = recoverLocked();
    if (st) st = reloadChanged();
    if (st) removeLeftovers();
    if (!st) {
        --held_;
        unlock();
    }
    return st;
}

void Folder::releaseWriters() {
    if (held_ == 0 || --held_ > 0) return;
    if (!writing_ && structure_ == 0) unlock();
}

// Temporary files of writers that were killed (".NAME.PID.tmp"): with the writers' lock held,
// those whose process is gone belong to nobody.
void Folder::removeLeftovers() {
    const QDir dir(path_);
    for (const QString& f : dir.entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden)) {
        const QStringList parts = f.split(QLatin1Char('.'));
        if (parts.size() < 4) continue;
        bool ok = false;
        const long pid = parts[parts.size() - 2].toLong(&ok);
        if (!ok || pid <= 0 || pid == long(::getpid())) continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        (void)removeFile(dir.filePath(f));  // only clutter: the next rebuild tries again
    }
}

void Folder::endStructureChange(const std::vector<QString>& changedFiles) {
    if (structure_ == 0 || --structure_ > 0) return;
    if (!locked_) return;
    std::uint64_t count = 0;
    std::array<std::uint64_t, kSlots> slotCounts{};
    if (readCounts(count, &slotCounts)) {
        for (const QString& f : changedFiles) ++slotCounts[size_t(slotOf(baseName(f)))];
        if (writeCounts((count | 1) + 1, slotCounts)) {
            seen_ = (count | 1) + 1;
            seenSlots_ = slotCounts;
        }
    }
    unlock();
}

// ---------------------------------------------------------------------------------------------

Result<Transaction> Transaction::begin(const QString& folder, int waitMs) {
    auto f = Folder::of(folder);
    ALB_TRY(f->beginExplicit(waitMs));
    return Transaction(std::move(f));
}

Transaction::~Transaction() { abort(); }

Status Transaction::commit() {
    if (!folder_) return Status(ErrorKind::InvalidArgument, QStringLiteral("The write has already ended"));
    auto f = std::move(folder_);
    folder_.reset();
    return f->endExplicit(true);
}

void Transaction::abort() {
    if (!folder_) return;
    auto f = std::move(folder_);
    folder_.reset();
    (void)f->endExplicit(false);  // its error only says the write was abandoned, as asked
}

}  // namespace albumora::store
