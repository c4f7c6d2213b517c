#include "IndexBuild.h"

#include "Bytes.h"
#include "RadixSort.h"
#include "IndexFile.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sys/mman.h>

namespace albumora::store {
namespace {

size_t gBudget = size_t(16) << 20;

// A run is read through a buffer of at least this much while merging; more runs than the
// budget holds such buffers for are merged in several passes.
constexpr size_t kMinMergeBuffer = size_t(64) << 10;
constexpr size_t kMaxBuffer = size_t(1) << 20;
constexpr size_t kMemoryRunBuffer = size_t(32) << 10;
// Runs on disk are read, and written, a quarter MiB at a time: few calls still, and fresh pages,
// which cost more than the calls, for only that much per run.
constexpr size_t kRunBuffer = size_t(256) << 10;
// The bytes of a batch's key tails, which its entries find by a 24-bit offset.
constexpr size_t kMaxTails = (size_t(1) << 24) - 1;

// Up to eight bytes as a number that orders like them; n bytes are there.
std::uint64_t loadWord(const char* p, int n) {
    if (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return __builtin_bswap64(v);
    }
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | (i < n ? static_cast<unsigned char>(p[i]) : 0u);
    return v;
}

void storeWord(std::uint64_t w, int n, char* out) {
    if (n >= 8) {
        const std::uint64_t v = __builtin_bswap64(w);
        std::memcpy(out, &v, 8);
        return;
    }
    for (int i = 0; i < n; ++i) out[i] = char(w >> (56 - 8 * i));
}


// Blanks at the end of a key, eight bytes at a time.
int trailingBlanks(const char* key, int n) {
    constexpr std::uint64_t kBlanks = 0x2020202020202020ull;
    int t = 0;
    while (n - t >= 8) {
        std::uint64_t w;
        std::memcpy(&w, key + n - t - 8, 8);
        if (w != kBlanks) return t + __builtin_clzll(w ^ kBlanks) / 8;
        t += 8;
    }
    while (t < n && key[n - 1 - t] == ' ') ++t;
    return t;
}

// memcmp's sign for keys that mostly differ early, without the call.
int compareBytes(const char* a, const char* b, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    }
    for (; i < n; ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
    return 0;
}

// A buffer size for reading or writing records: within [record, limit], whole records.
size_t recordsBuffer(size_t want, size_t recordSize) {
    const size_t bytes = std::clamp(want, recordSize, std::max(recordSize, kMaxBuffer));
    return bytes / recordSize * recordSize;
}

}  // namespace

constexpr size_t kHugePage = size_t(2) << 20;

void* bulkAllocate(size_t bytes) {
    if (bytes < kHugePage) {
        if (void* p = std::malloc(bytes ? bytes : 1)) return p;
        throw std::bad_alloc();
    }
    const size_t len = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = ::mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    (void)::madvise(p, len, MADV_HUGEPAGE);  // a hint; without it the pages are small
    return p;
}

void bulkDeallocate(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < kHugePage) {
        std::free(p);
        return;
    }
    ::munmap(p, (bytes + kHugePage - 1) / kHugePage * kHugePage);
}

std::uint32_t gParallelRows = 65536;

std::uint32_t parallelKeyRows() { return gParallelRows; }
void setParallelKeyRows(std::uint32_t rows) { gParallelRows = rows; }

size_t indexBuildBudget() { return gBudget; }
void setIndexBuildBudget(size_t bytes) { gBudget = std::max<size_t>(bytes, 1); }

Result<size_t> KeySource::nextRecords(const char*& records, size_t max) {
    const size_t kl = size_t(keyLength()), rs = kl + 4;
    records_.resize(max * rs);
    size_t n = 0;
    for (char* out = records_.data(); n < max; ++n, out += rs) {
        const char* key = nullptr;
        std::uint32_t recno = 0;
        ALB_ASSIGN_OR_RETURN(bool more, next(key, recno));
        if (!more) break;
        std::memcpy(out, key, kl);
        putBe32(out + kl, recno);
    }
    records = records_.data();
    return n;
}

int KeyListSource::keyLength() const { return list_.keyLength; }

Result<bool> KeyListSource::next(const char*& key, std::uint32_t& recno) {
    if (at_ >= list_.size()) return false;
    key = list_.keys.data() + at_ * size_t(list_.keyLength);
    recno = list_.recnos[at_];
    ++at_;
    return true;
}

// ---------------------------------------------------------------------------------------------
// SpillBuffer

SpillBuffer::SpillBuffer(size_t recordSize, size_t memoryLimit, QString folder, QString label)
    : recordSize_(recordSize), limit_(recordsBuffer(memoryLimit, recordSize)), folder_(std::move(folder)), label_(std::move(label)) {}

Status SpillBuffer::append(const void* record) {
    buf_.append(static_cast<const char*>(record), recordSize_);
    ++count_;
    return buf_.size() >= limit_ ? flush() : Status();
}

Status SpillBuffer::flush() {
    if (buf_.empty()) return {};
    if (!file_) {
        ALB_ASSIGN_OR_RETURN(File f, File::openScratch(folder_, label_));
        file_ = std::make_unique<File>(std::move(f));
    }
    ALB_TRY(file_->writeAt(written_, buf_.data(), buf_.size()));
    written_ += std::int64_t(buf_.size());
    buf_.clear();
    return {};
}

Status SpillBuffer::rewind() {
    readCount_ = 0;
    bufPos_ = 0;
    readAt_ = 0;
    if (file_) {
        ALB_TRY(flush());
        buf_.clear();
    }
    return {};
}

Result<const char*> SpillBuffer::read() {
    if (readCount_ == count_) return nullptr;
    if (file_ && bufPos_ == buf_.size()) {
        const std::uint64_t left = count_ - readCount_;
        const size_t n = size_t(std::min<std::uint64_t>(left, limit_ / recordSize_));
        buf_.resize(n * recordSize_);
        ALB_TRY(file_->readAt(readAt_, buf_.data(), buf_.size(), "the sort space"));
        readAt_ += std::int64_t(buf_.size());
        bufPos_ = 0;
    }
    const char* r = buf_.data() + bufPos_;
    bufPos_ += recordSize_;
    ++readCount_;
    return r;
}

// ---------------------------------------------------------------------------------------------
// KeySorter

// Blocks of merged records on their way from the merging thread to next().
struct KeySorter::Pipe {
    static constexpr size_t kBlocks = 3;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> full;
    std::vector<std::string> spare;
    size_t made = 0;
    bool done = false, cancel = false;
    Status status;
    std::thread thread;
    std::string current;
    size_t pos = 0;
};

// The thread that sorts and writes a full batch while the next one fills.
struct KeySorter::Worker {
    std::thread thread;
    std::atomic<bool> busy{false};
    Status status;
    Run run{0, 0};
};

// Runs read side by side through buffers, the smallest record first.
//
// A tree of losers with offset-value codes: every record carries the place where it first
// differs from the record given before it and its byte there, and two records coded against the
// same record are ordered by their codes alone unless the codes are equal. Keys of one tag
// share long beginnings (titles, padded numbers), and this is what keeps the merge from comparing
// them again and again byte by byte. A record is its key and then its record number big-endian,
// so no two are equal and their bytes order them.
class KeySorter::Merger {
public:
    // held: sorted batches whose entries are more runs, read from memory.
    Merger(const KeySorter& sorter, const std::vector<Run>& runs, size_t bufferBytes, const std::vector<const Batch*>& held = {})
        : sorter_(sorter),
          recordSize_(sorter.recordSize_),
          handlesOnly_(runs.empty() && held.size() <= kHandleMerge) {
        readers_.resize(runs.size() + held.size());
        const size_t bytes = recordsBuffer(std::min(bufferBytes, kRunBuffer), recordSize_);
        for (size_t i = 0; i < readers_.size(); ++i) {
            Reader& r = readers_[i];
            if (i < runs.size()) {
                r.at = runs[i].offset;
                r.left = runs[i].count;
            } else {
                r.batch = held[i - runs.size()];
                r.left = r.batch->held.size();
            }
            // A batch in memory only has its records laid out a few at a time: a buffer that
            // stays in the core's cache, and no fresh pages to fault in.
            r.capacity = (r.batch ? std::min(bytes, recordsBuffer(kMemoryRunBuffer, recordSize_)) : bytes) / recordSize_;
            r.last.resize(recordSize_);
        }
    }

    Status start() {
        if (handlesOnly_) return {};
        const size_t k = readers_.size();
        for (Reader& r : readers_) {
            if (r.left == 0) {
                r.code = kEnd;
                continue;
            }
            ALB_TRY(refill(r));
            // Against a record below every other: the first byte decides, or the rest.
            r.code = code(0, r.current(recordSize_));
        }
        // Each player waits at the first free node on its way up; the second to come plays it,
        // and the winner goes on. A node thus sends up the winner of all below it.
        tree_.assign(std::max<size_t>(k, 1), -1);
        codes_.assign(tree_.size(), 0);
        for (size_t j = 0; j < k; ++j) {
            int player = int(j);
            std::uint32_t c = readers_[j].code;
            size_t node = (j + k) / 2;
            for (; node >= 1; node /= 2) {
                if (tree_[node] < 0) {
                    tree_[node] = player;
                    codes_[node] = c;
                    break;
                }
                play(node, player, c);
            }
            if (node == 0) {
                tree_[0] = player;
                winnerCode_ = c;
            }
        }
        return {};
    }

    // Up to max records copied to out, smallest first; fewer only at the end. The merge's own
    // loop, without a call and a result for every record.
    Result<size_t> take(char* out, size_t max) {
        if (readers_.empty()) return size_t(0);
        if (handlesOnly_) return takeHandles(out, max);
        const size_t rs = recordSize_;
        size_t n = 0;
        while (n < max) {
            if (advance_) {
                advance_ = false;
                ALB_TRY(advance());
            }
            if (winnerCode_ == kEnd) break;
            std::memcpy(out + n * rs, readers_[size_t(tree_[0])].current(rs), rs);
            ++n;
            advance_ = true;
        }
        return n;
    }

private:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFFu;  // a run that has no more records
    // Up to this many batches, all in memory, are merged by comparing their handles: two words
    // and a record number (and the tails, for keys longer than sixteen bytes, only when the
    // words are equal), where the tree would lay every record out and code it first.
    static constexpr size_t kHandleMerge = 4;

    size_t takeHandles(char* out, size_t max) {
        const size_t kl = recordSize_ - 4;
        const bool tails = sorter_.tailLength_ != 0;
        size_t n = 0;
        for (; n < max; ++n, out += recordSize_) {
            Reader* best = nullptr;
            const Handle* bh = nullptr;
            for (Reader& r : readers_) {
                if (r.left == 0) continue;
                const Handle& h = r.batch->held[size_t(r.at)];
                const bool smaller =
                    !bh || h.prefix < bh->prefix ||
                    (h.prefix == bh->prefix &&
                     (h.prefix2 < bh->prefix2 ||
                      (h.prefix2 == bh->prefix2 &&
                       (tails ? sorter_.compareHandles(*r.batch, h, *best->batch, *bh) < 0 : h.recno < bh->recno))));
                if (smaller) {
                    best = &r;
                    bh = &h;
                }
            }
            if (!best) break;
            sorter_.keyOf(*best->batch, *bh, out);
            putBe32(out + kl, bh->recno);
            ++best->at;
            --best->left;
        }
        return n;
    }

    // The winner's run moves on to its next record, which plays its way up the tree.
    [[gnu::always_inline]] Status advance() {
        const int w = tree_[0];
        Reader& r = readers_[size_t(w)];
        std::uint32_t c = kEnd;
        if (++r.pos < r.have) [[likely]] {
            const char* cur = r.current(recordSize_);
            // Many runs are read side by side, more streams than the core follows by itself.
            __builtin_prefetch(cur + 4 * recordSize_);
            c = code(firstDifference(cur - recordSize_, cur), cur);
        } else if (r.left > 0) {
            std::memcpy(r.last.data(), r.current(recordSize_) - recordSize_, recordSize_);
            ALB_TRY(refill(r));
            c = code(firstDifference(r.last.data(), r.current(recordSize_)), r.current(recordSize_));
        }
        int player = w;
        for (size_t node = (size_t(w) + readers_.size()) / 2; node >= 1; node /= 2) play(node, player, c);
        tree_[0] = player;
        winnerCode_ = c;
        return {};
    }

    struct Reader {
        const Batch* batch = nullptr;  // a batch in memory: at counts entries, not bytes
        std::int64_t at = 0;
        std::uint64_t left = 0;  // records not yet in the buffer
        size_t capacity = 1;
        std::string buf;
        size_t pos = 0, have = 0;
        std::uint32_t code = 0;
        std::string last;  // the record before the buffer's first
        const char* current(size_t rs) const { return buf.data() + pos * rs; }
    };

    // Further from the record coded against sorts later: an earlier difference makes a larger
    // code, and at the same place the larger byte does.
    std::uint32_t code(size_t offset, const char* record) const {
        if (offset >= recordSize_) return 0;
        return std::uint32_t(recordSize_ - offset) << 8 | static_cast<unsigned char>(record[offset]);
    }

    size_t firstDifference(const char* a, const char* b, size_t from = 0) const {
        size_t i = from;
        for (; i + 8 <= recordSize_; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return i + size_t(__builtin_ctzll(x ^ y)) / 8;
        }
        if (i < recordSize_ && recordSize_ >= 8) {
            // The last eight bytes, overlapping those already found equal.
            const size_t j = recordSize_ - 8;
            std::uint64_t x, y;
            std::memcpy(&x, a + j, 8);
            std::memcpy(&y, b + j, 8);
            return x != y ? j + size_t(__builtin_ctzll(x ^ y)) / 8 : recordSize_;
        }
        for (; i < recordSize_; ++i)
            if (a[i] != b[i]) return i;
        return recordSize_;
    }

    // The player with code c (against the last record given) meets the one waiting at node: the
    // winner leaves as player, the loser stays, coded against the winner.
    void play(size_t node, int& player, std::uint32_t& c) {
        const int other = tree_[node];
        const std::uint32_t oc = codes_[node];
        if (oc == c) [[unlikely]] {
            if (c == kEnd) return;
            // Equal up to and at the coded place: the bytes after it decide.
            const char* a = readers_[size_t(player)].current(recordSize_);
            const char* b = readers_[size_t(other)].current(recordSize_);
            const size_t from = recordSize_ - (c >> 8) + 1;
            const size_t d = firstDifference(a, b, from);
            if (d >= recordSize_ || static_cast<unsigned char>(a[d]) < static_cast<unsigned char>(b[d])) {
                codes_[node] = code(d, b);
                return;
            }
            codes_[node] = code(d, a);
            tree_[node] = player;
            player = other;
            return;
        }
        // Different codes: the smaller wins, and the loser's code holds against the winner too.
        // Chosen without a jump, as the runs take turns unpredictably.
        const std::uint32_t m = 0u - std::uint32_t(oc < c);  // all ones: the waiting one wins
        const auto p = std::uint32_t(player), o = std::uint32_t(other);
        tree_[node] = int((o & ~m) | (p & m));
        codes_[node] = (oc & ~m) | (c & m);
        player = int((p & ~m) | (o & m));
        c = (c & ~m) | (oc & m);
    }

    Status refill(Reader& r) {
        const size_t n = size_t(std::min<std::uint64_t>(r.left, r.capacity));
        r.buf.resize(n * recordSize_);
        if (r.batch) {
            const size_t kl = recordSize_ - 4;
            for (size_t i = 0; i < n; ++i) {
                const Handle& h = r.batch->held[size_t(r.at) + i];
                char* out = r.buf.data() + i * recordSize_;
                sorter_.keyOf(*r.batch, h, out);
                putBe32(out + kl, h.recno);
            }
            r.at += std::int64_t(n);
        } else {
            ALB_TRY(sorter_.scratch_->readAt(r.at, r.buf.data(), r.buf.size(), "the sort space"));
            r.at += std::int64_t(r.buf.size());
        }
        r.left -= n;
        r.pos = 0;
        r.have = n;
        return {};
    }

    const KeySorter& sorter_;
    size_t recordSize_;
    bool handlesOnly_;
    std::vector<Reader> readers_;
    // tree_[0]: the winner; tree_[node], node 1 to k-1: the loser waiting there, codes_[node]
    // its code against the winner that went up. Reader j is the leaf k + j; a node's parent is
    // node / 2.
    std::vector<int> tree_;
    std::vector<std::uint32_t> codes_;
    std::uint32_t winnerCode_ = kEnd;
    bool advance_ = false;
};

KeySorter::KeySorter(int keyLength, size_t budget, QString scratchFolder, QString label, size_t expected, int lanes)
    : keyLength_(keyLength),
      tailLength_(keyLength > 16 ? size_t(keyLength - 16) : 0),
      recordSize_(size_t(keyLength) + 4),
      budget_(std::max<size_t>(budget, 1)),
      // Per entry: its handle, the radix sort's copy and what the key has past sixteen bytes
      // before its trailing blanks. Keys that outgrow one batch get two, of half the budget each.
      capacity_(std::clamp<size_t>(budget_ / 2 / (2 * sizeof(Handle) + tailLength_), 2, size_t(1) << 23)),
      expected_(expected),
      folder_(std::move(scratchFolder)),
      label_(std::move(label)),
      keyBuf_(size_t(keyLength), '\0') {
    if (lanes > 1) {
        // Each lane sorts its own batch, so it needs the radix sort's second array beside it.
        laneBytes_ = budget_ / size_t(lanes);
        for (int i = 0; i < lanes; ++i) lanes_.push_back(std::make_unique<Batch>());
    }
}

KeySorter::~KeySorter() {
    if (worker_ && worker_->thread.joinable()) worker_->thread.join();
    if (pipe_ && pipe_->thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(pipe_->mutex);
            pipe_->cancel = true;
        }
        pipe_->changed.notify_all();
        pipe_->thread.join();
    }
}

void KeySorter::feedPipe() {
    Pipe& p = *pipe_;
    // Four blocks in flight at most (three here, one being read), a small share of the budget.
    const size_t perBlock = recordsBuffer(std::min(budget_ / 16, size_t(256) << 10), recordSize_) / recordSize_;
    for (;;) {
        std::string block;
        {
            std::unique_lock<std::mutex> lock(p.mutex);
            p.changed.wait(lock, [&] { return p.cancel || !p.spare.empty() || p.made < Pipe::kBlocks; });
            if (p.cancel) return;
            if (!p.spare.empty()) {
                block = std::move(p.spare.back());
                p.spare.pop_back();
            } else {
                ++p.made;
            }
        }
        block.resize(perBlock * recordSize_);
        Status st;
        bool end = false;
        size_t n = 0;
        if (auto got = merger_->take(block.data(), perBlock)) {
            n = *got;
            end = n < perBlock;
        } else {
            st = got.error();
        }
        block.resize(n * recordSize_);
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            if (!block.empty()) p.full.push_back(std::move(block));
            if (!st || end) {
                p.status = st;
                p.done = true;
            }
        }
        p.changed.notify_all();
        if (!st || end) {
            // Every run has been read. Freeing the scratch file's cached pages takes a while
            // at a million keys, and here it is done beside the tree's last pages and sync.
            scratch_.reset();
            return;
        }
    }
}

[[gnu::always_inline]] inline bool KeySorter::full(const Batch& b, size_t bytes) const {
    const size_t n = b.held.size();
    if (n < 2) return false;  // every batch takes two entries, however small the budget
    // Room for one more of the longest, and tail offsets that fit their 24 bits.
    return n >= (size_t(1) << 23) || (n + 1) * 2 * sizeof(Handle) + b.tails.size() + tailLength_ > bytes ||
           b.tails.size() + tailLength_ > kMaxTails;
}

Status KeySorter::add(const char* key, std::uint32_t recno) {
    Batch& b = batches_[active_];
    // A table that fits one full batch (the whole budget) is sorted in memory alone; one known
    // to be larger takes half batches from the start, every one sorted beside the reading.
    const size_t bytes = wholeBudgetBatch() ? budget_ : budget_ / 2;
    if (full(b, bytes)) {
        ALB_TRY(spill());
        return add(key, recno);
    }
    push(b, bytes, expected_, key, recno);
    ++total_;
    return {};
}

Status KeySorter::addTo(int lane, const char* key, std::uint32_t recno) {
    Batch& b = *lanes_[size_t(lane)];
    if (full(b, laneBytes_)) ALB_TRY(spillLane(b));
    push(b, laneBytes_, expected_ / lanes_.size(), key, recno);
    ++b.added;
    return {};
}

void KeySorter::push(Batch& b, size_t bytes, size_t expected, const char* key, std::uint32_t recno) {
    if (b.held.size() == b.held.capacity()) {
        // Grow towards the most the batch can hold without ever reserving more. Large arrays
        // only take address space until they are written.
        const size_t most = std::max<size_t>(bytes / (2 * sizeof(Handle)), 2);
        const size_t want = std::min(most, std::max<size_t>(b.held.empty() ? expected : 2 * b.held.size(), 1024));
        b.held.reserve(want);
        b.tails.reserve(std::min({bytes, kMaxTails, want * tailLength_}));
    }
    int length = keyLength_;
    std::uint32_t at = 0;
    if (tailLength_) {
        length -= trailingBlanks(key, keyLength_);
        at = std::uint32_t(b.tails.size());
        if (length > 16) {
            b.tails.resize(at + size_t(length - 16));
            std::memcpy(b.tails.data() + at, key + 16, size_t(length - 16));
        }
    }
    b.held.push_back({loadWord(key, keyLength_), keyLength_ > 8 ? loadWord(key + 8, keyLength_ - 8) : 0, recno,
                      at | (std::uint32_t(length) << 24)});
    b.rising = b.rising && recno > b.lastRecno;
    b.lastRecno = recno;
}

Status KeySorter::spillLane(Batch& b) {
    Run run;
    {
        std::lock_guard<std::mutex> lock(runsMutex_);
        ALB_TRY(openScratch());
        run = reserveRun(b);
    }
    ALB_TRY(writeRun(b, run));
    std::lock_guard<std::mutex> lock(runsMutex_);
    runs_.push_back(run);
    ++runsWritten_;
    return {};
}

Status KeySorter::closeLane(int lane) {
    Batch& b = *lanes_[size_t(lane)];
    sort(b);
    Handles().swap(b.other);
    return {};
}

void KeySorter::keyOf(const Batch& b, const Handle& h, char* out) const {
    storeWord(h.prefix, keyLength_, out);
    if (keyLength_ > 8) storeWord(h.prefix2, keyLength_ - 8, out + 8);
    if (tailLength_) {
        const size_t kept = h.tailKept();
        std::memcpy(out + 16, b.tails.data() + h.tailAt(), kept);
        std::memset(out + 16 + kept, ' ', tailLength_ - kept);
    }
}

void KeySorter::sort(Batch& b) const {
    b.other.resize(b.held.size());
    b.split = 0;
    sortRange(b, 0, b.held.size());
}

void KeySorter::sortInHalves(Batch& b) const {
    const size_t n = b.held.size();
    if (n < kParallelSort) {
        sort(b);
        return;
    }
    // Both cores: one half here, the other beside it; the halves are merged as they are read.
    b.other.resize(n);
    b.split = n / 2;
    std::thread other;
    try {
        other = std::thread([this, &b] { sortRange(b, 0, b.split); });
    } catch (const std::system_error&) {
        sortRange(b, 0, b.split);  // no thread to be had: one core it is
    }
    sortRange(b, b.split, n);
    if (other.joinable()) other.join();
}

namespace {

// A stable sort of a few elements, which mostly come nearly in order.
template <class T, class Less>
void insertionSort(T* a, size_t n, Less less) {
    for (size_t i = 1; i < n; ++i) {
        if (!less(a[i], a[i - 1])) continue;
        T v = a[i];
        size_t j = i;
        do {
            a[j] = a[j - 1];
            --j;
        } while (j > 0 && less(v, a[j - 1]));
        a[j] = v;
    }
}

}  // namespace

void KeySorter::sortByPrefix(Handle* held, Handle* other, size_t n) const {
    // The rows of one album come one after another and share their first eight key bytes (the
    // album's ID): such stretches are sorted as one, and a batch of them sorts many times faster.
    size_t groups = 1;
    for (size_t i = 1; i < n; ++i) groups += held[i].prefix != held[i - 1].prefix;
    if (groups * 4 > n) {
        radixByWord(held, other, n, [](const Handle& h) { return h.prefix; });
        return;
    }
    struct Group {
        std::uint64_t prefix;
        std::uint32_t start, count;
    };
    std::vector<Group> g(groups), spare(groups);
    size_t k = 0;
    g[0] = {held[0].prefix, 0, 1};
    for (size_t i = 1; i < n; ++i) {
        if (held[i].prefix == g[k].prefix) {
            ++g[k].count;
        } else {
            g[++k] = {held[i].prefix, std::uint32_t(i), 1};
        }
    }
    radixByWord(g.data(), spare.data(), groups, [](const Group& x) { return x.prefix; });
    Handle* out = other;
    for (const Group& x : g) {
        std::memcpy(static_cast<void*>(out), held + x.start, x.count * sizeof(Handle));
        out += x.count;
    }
    std::memcpy(static_cast<void*>(held), other, n * sizeof(Handle));
}

void KeySorter::sortRange(Batch& b, size_t from, size_t to) const {
    const size_t n = to - from;
    if (n < 2) return;
    Handle* held = b.held.data() + from;
    Handle* other = b.other.data() + from;
    // Every sort below is stable, so equal keys keep the order they came in: record number
    // order, which the rows of a table come in, or which is made first.
    if (!b.rising) radixByWord(held, other, n, [](const Handle& h) { return std::uint64_t(h.recno); });
    sortByPrefix(held, other, n);
    // Equal first eight bytes: the next eight, then the rest of the key.
    const auto bySecond = [](const Handle& x, const Handle& y) { return x.prefix2 < y.prefix2; };
    constexpr size_t kSmall = 48;
    // Up to this many, a comparison sort: a radix sort's counts alone are 48 KiB to clear.
    constexpr size_t kMidSize = 4096;
    const size_t tl = tailLength_;
    std::string local;
    std::vector<std::uint32_t> order;
    std::vector<Handle> moved;
    for (size_t i = 0; i < n;) {
        size_t j = i + 1;
        while (j < n && held[j].prefix == held[i].prefix) ++j;
        if (j - i > 1) {
            // Often already in order: the rows of one album come one after the other.
            if (!std::is_sorted(held + i, held + j, bySecond)) {
                if (j - i <= kSmall)
                    insertionSort(held + i, j - i, bySecond);
                else if (j - i <= kMidSize)
                    // They came in record number order, so ordering ties by it keeps that order.
                    std::sort(held + i, held + j, [](const Handle& x, const Handle& y) {
                        return x.prefix2 != y.prefix2 ? x.prefix2 < y.prefix2 : x.recno < y.recno;
                    });
                else
                    radixByWord(held + i, other + i, j - i, [](const Handle& h) { return h.prefix2; });
            }
            if (tl) {
                // Runs equal in sixteen bytes: their tails gathered once into a buffer of their
                // own and compared there, not fetched from all over the batch at every comparison.
                for (size_t a = i; a < j;) {
                    size_t z = a + 1;
                    while (z < j && held[z].prefix2 == held[a].prefix2) ++z;
                    const bool shortKeys = std::all_of(held + a, held + z, [](const Handle& h) { return h.length() <= 16; });
                    if (z - a > 1 && !shortKeys) {
                        const size_t m = z - a;
                        local.resize(m * tl);
                        for (size_t k = 0; k < m; ++k) {
                            const Handle& h = held[a + k];
                            char* t = local.data() + k * tl;
                            std::memcpy(t, b.tails.data() + h.tailAt(), h.tailKept());
                            std::memset(t + h.tailKept(), ' ', tl - h.tailKept());
                        }
                        order.resize(m);
                        for (size_t k = 0; k < m; ++k) order[k] = std::uint32_t(k);
                        const Handle* g = held + a;
                        const auto byTail = [&](std::uint32_t x, std::uint32_t y) {
                            return compareBytes(local.data() + x * tl, local.data() + y * tl, tailBytesToCompare(g[x], g[y])) < 0;
                        };
                        if (!std::is_sorted(order.begin(), order.end(), byTail)) {
                            if (m <= kSmall)
                                insertionSort(order.data(), m, byTail);
                            else
                                // Equal tails keep their order (record numbers) by their places.
                                std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
                                    const int c = compareBytes(local.data() + x * tl, local.data() + y * tl, tailBytesToCompare(g[x], g[y]));
                                    return c != 0 ? c < 0 : x < y;
                                });
                            moved.assign(held + a, held + z);
                            for (size_t k = 0; k < m; ++k) held[a + k] = moved[order[k]];
                        }
                    }
                    a = z;
                }
            }
        }
        i = j;
    }
}

int KeySorter::compareHandles(const Batch& bx, const Handle& x, const Batch& by, const Handle& y) const {
    if (x.prefix != y.prefix) return x.prefix < y.prefix ? -1 : 1;
    if (x.prefix2 != y.prefix2) return x.prefix2 < y.prefix2 ? -1 : 1;
    if (tailLength_) {
        // The kept bytes, then the longer one's against the blanks the shorter one ends in.
        const size_t kx = x.tailKept(), ky = y.tailKept();
        const char* tx = bx.tails.data() + x.tailAt();
        const char* ty = by.tails.data() + y.tailAt();
        if (int c = compareBytes(tx, ty, std::min(kx, ky))) return c;
        for (size_t i = std::min(kx, ky); i < std::max(kx, ky); ++i) {
            const auto c = static_cast<unsigned char>(i < kx ? tx[i] : ty[i]);
            if (c != ' ') return (c < ' ') == (i < kx) ? -1 : 1;
        }
    }
    return x.recno < y.recno ? -1 : x.recno > y.recno ? 1 : 0;
}

Status KeySorter::openScratch() {
    if (scratch_) return {};
    ALB_ASSIGN_OR_RETURN(File f, File::openScratch(folder_, label_));
    scratch_ = std::make_unique<File>(std::move(f));
    return {};
}

Status KeySorter::writeToScratch(std::int64_t& at, std::string& bytes) {
    if (bytes.empty()) return {};
    ALB_TRY(scratch_->writeAt(at, bytes.data(), bytes.size()));
    at += std::int64_t(bytes.size());
    bytes.clear();
    return {};
}

KeySorter::Run KeySorter::reserveRun(const Batch& b) {
    const Run run{scratchEnd_, b.held.size()};
    scratchEnd_ += std::int64_t(run.count * recordSize_);
    return run;
}

Status KeySorter::writeRun(Batch& b, const Run& run) {
    sort(b);
    std::int64_t at = run.offset;
    auto& out = b.out;
    const size_t limit = recordsBuffer(std::min(budget_ / 16, kRunBuffer), recordSize_);
    out.clear();
    out.reserve(limit);
    constexpr size_t kAhead = 16;  // the tails are read in key order, all over the buffer
    for (size_t i = 0; i < b.held.size(); ++i) {
        const Handle& h = b.held[i];
        if (tailLength_ && i + kAhead < b.held.size()) {
            const Handle& ahead = b.held[i + kAhead];
            const char* t = b.tails.data() + ahead.tailAt();
            __builtin_prefetch(t);
            __builtin_prefetch(t + ahead.tailKept());
        }
        const size_t to = out.size();
        out.resize(to + recordSize_);
        keyOf(b, h, &out[to]);
        putBe32(out.data() + to + size_t(keyLength_), h.recno);
        if (out.size() >= limit) ALB_TRY(writeToScratch(at, out));
    }
    ALB_TRY(writeToScratch(at, out));
    b.held.clear();
    b.tails.clear();
    b.rising = true;
    b.lastRecno = 0;
    return {};
}

Status KeySorter::joinWorker() {
    if (!worker_ || !worker_->thread.joinable()) return {};
    worker_->thread.join();
    ALB_TRY(worker_->status);
    runs_.push_back(worker_->run);
    ++runsWritten_;
    return {};
}

Status KeySorter::spill() {
    ALB_TRY(openScratch());
    if (wholeBudgetBatch()) {
        // The first spill: the batch filled to the whole budget is written here, and from now
        // on each half-budget batch goes to the worker while the other fills.
        worker_ = std::make_unique<Worker>();
        const Run run = reserveRun(batches_[active_]);
        ALB_TRY(writeRun(batches_[active_], run));
        runs_.push_back(run);
        ++runsWritten_;
        Batch& b = batches_[active_];
        Handles().swap(b.other);
        b.held.shrink_to_fit();
        b.tails.shrink_to_fit();
        return {};
    }
    if (!worker_) worker_ = std::make_unique<Worker>();
    Batch& full = batches_[active_];
    if (worker_->thread.joinable() && worker_->busy.load(std::memory_order_acquire)) {
        // The worker is still on the batch before: this one is sorted and written here, into a
        // place of its own in the scratch file, so that neither core waits for the other.
        const Run run = reserveRun(full);
        ALB_TRY(writeRun(full, run));
        runs_.push_back(run);
        ++runsWritten_;
        return {};
    }
    ALB_TRY(joinWorker());
    active_ ^= 1;
    worker_->status = Status();
    worker_->run = reserveRun(full);
    worker_->busy.store(true, std::memory_order_relaxed);
    try {
        worker_->thread = std::thread([this, &full] {
            worker_->status = writeRun(full, worker_->run);
            worker_->busy.store(false, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the batch is written here, and the sort goes on on one core.
        worker_->busy.store(false, std::memory_order_relaxed);
        ALB_TRY(writeRun(full, worker_->run));
        runs_.push_back(worker_->run);
        ++runsWritten_;
    }
    return {};
}

Result<KeySorter::Run> KeySorter::mergeToScratch(size_t from, size_t count, size_t memory) {
    const std::vector<Run> group(runs_.begin() + std::ptrdiff_t(from), runs_.begin() + std::ptrdiff_t(from + count));
    // Three quarters of the memory read, the rest writes.
    Merger m(*this, group, memory * 3 / 4 / count);
    ALB_TRY(m.start());
    Run out{scratchEnd_, 0};
    std::string buf;
    const size_t perWrite = recordsBuffer(memory / 4, recordSize_) / recordSize_;
    for (;;) {
        buf.resize(perWrite * recordSize_);
        ALB_ASSIGN_OR_RETURN(size_t n, m.take(buf.data(), perWrite));
        buf.resize(n * recordSize_);
        out.count += n;
        ALB_TRY(writeToScratch(scratchEnd_, buf));
        if (n < perWrite) break;
    }
    ++runsWritten_;
    return out;
}

Status KeySorter::finish() {
    if (!lanes_.empty()) {
        std::vector<const Batch*> held;
        total_ = 0;
        for (const auto& lane : lanes_) {
            total_ += lane->added;
            if (!lane->held.empty()) held.push_back(lane.get());
        }
        if (runs_.empty() && held.size() <= 1) {
            // One lane's batch holds it all: read as it lies.
            for (auto& lane : lanes_)
                if (!lane->held.empty()) std::swap(batches_[active_], *lane);
            at_ = 0;
            at2_ = batches_[active_].held.size();
            return {};
        }
        return mergeAll(std::move(held));
    }
    Batch& last = batches_[active_];
    if (runs_.empty() && !(worker_ && worker_->thread.joinable())) {
        // Everything fits in memory: sorted on both cores, read without a merge.
        sortInHalves(last);
        Handles().swap(last.other);
        at_ = 0;
        at2_ = last.split ? last.split : last.held.size();
        return {};
    }
    // The last batch stays in memory: sorted here while the worker writes the one before, it
    // joins the merge from memory, as writing and reading it back would only cost time.
    sort(last);
    Handles().swap(last.other);
    ALB_TRY(joinWorker());
    Batch& spent = batches_[active_ ^ 1];
    Handles().swap(spent.held);
    Handles().swap(spent.other);
    decltype(spent.tails)().swap(spent.tails);
    return mergeAll({&last});
}

Status KeySorter::mergeAll(std::vector<const Batch*> held) {
    size_t heldBytes = 0;
    // What the batches hold: what they reserved beyond that is address space, not memory.
    for (const Batch* b : held) heldBytes += b->held.size() * sizeof(Handle) + b->tails.size();
    const size_t free = budget_ > heldBytes ? budget_ - heldBytes : 0;
    const size_t fanIn = std::clamp<size_t>(free / kMinMergeBuffer, 2, 256);
    while (runs_.size() + held.size() > fanIn && runs_.size() > 1) {
        const size_t group = std::min(fanIn, runs_.size());
        ALB_ASSIGN_OR_RETURN(Run merged, mergeToScratch(0, group, free));
        runs_.erase(runs_.begin(), runs_.begin() + std::ptrdiff_t(group));
        runs_.push_back(merged);
        if (group < 2) break;
    }
    merger_ = std::make_unique<Merger>(*this, runs_, free / (runs_.size() + held.size()), held);
    ALB_TRY(merger_->start());
    // The merge starts at once: its first blocks are ready when the tree's layout asks. The
    // blocks of all the tags of a build take a quarter of the build's budget at most.
    startPipe();
    return {};
}

void KeySorter::startPipe() {
    pipe_ = std::make_unique<Pipe>();
    try {
        pipe_->thread = std::thread([this] { feedPipe(); });
    } catch (const std::system_error&) {
        pipe_.reset();  // no thread to be had: next() merges itself
    }
}

Result<bool> KeySorter::pipeHasMore() {
    Pipe& p = *pipe_;
    if (p.pos < p.current.size()) return true;
    std::unique_lock<std::mutex> lock(p.mutex);
    if (!p.current.empty()) {
        p.spare.push_back(std::move(p.current));
        p.current = std::string();
        p.pos = 0;
        p.changed.notify_all();
    }
    p.changed.wait(lock, [&] { return !p.full.empty() || p.done; });
    if (p.full.empty()) {
        ALB_TRY(p.status);
        return false;
    }
    p.current = std::move(p.full.front());
    p.full.pop_front();
    p.pos = 0;
    return true;
}

Result<size_t> KeySorter::nextRecords(const char*& records, size_t max) {
    if (pipe_) {
        // The merged blocks are already records: handed on as they lie.
        ALB_ASSIGN_OR_RETURN(bool more, pipeHasMore());
        if (!more) return size_t(0);
        Pipe& p = *pipe_;
        const size_t n = std::min(max, (p.current.size() - p.pos) / recordSize_);
        records = p.current.data() + p.pos;
        p.pos += n * recordSize_;
        return n;
    }
    if (merger_) {
        // No thread to merge on: merged here.
        merged_.resize(max * recordSize_);
        records = merged_.data();
        return merger_->take(merged_.data(), max);
    }
    return KeySource::nextRecords(records, max);
}

Result<bool> KeySorter::next(const char*& key, std::uint32_t& recno) {
    if (pipe_ || merger_) {
        const char* rec = nullptr;
        ALB_ASSIGN_OR_RETURN(size_t n, nextRecords(rec, 1));
        if (n == 0) return false;
        key = rec;
        recno = getBe32(rec + keyLength_);
        return true;
    }
    const Batch& b = batches_[active_];
    // One sorted range, or two halves [0, split) and [split, n) taken smallest first.
    const size_t n = b.held.size();
    const size_t firstEnd = b.split ? b.split : n;
    const Handle* h = nullptr;
    if (at_ < firstEnd && (at2_ >= n || compareHandles(b, b.held[at_], b, b.held[at2_]) < 0)) {
        h = &b.held[at_++];
    } else if (at2_ < n) {
        h = &b.held[at2_++];
    } else {
        return false;
    }
    keyOf(b, *h, keyBuf_.data());
    key = keyBuf_.data();
    recno = h->recno;
    return true;
}

}  // namespace albumora::store
