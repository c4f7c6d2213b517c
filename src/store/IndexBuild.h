// Index keys sorted in bounded memory, for building tags over tables of any size.
//
// Keys are gathered into a run that fits a fixed budget. A full run is sorted (a radix sort on
// the first eight key bytes, then the rest of the key and the record number for what those
// leave equal) and written to an unnamed scratch file beside the index; at the end the runs are
// merged, in more than one pass only when there are too many to read side by side. A table
// whose keys fit the budget never touches the scratch file. Tree::build lays the sorted stream
// out as pages.
#pragma once

#include "File.h"
#include "Status.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace albumora::store {

struct KeyList;

// Large arrays in huge pages where the system allows them: a sort's arrays are touched once
// each, and faulting them in 4 KiB at a time costs more than sorting them.
template <class T>
struct BulkAllocator {
    using value_type = T;
    BulkAllocator() = default;
    template <class U>
    BulkAllocator(const BulkAllocator<U>&) {}
    T* allocate(size_t n);
    void deallocate(T* p, size_t n);
    template <class U>
    bool operator==(const BulkAllocator<U>&) const { return true; }
    // Growing leaves new elements as they are: they are written before they are read, and
    // clearing them first would touch every page once more.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
void* bulkAllocate(size_t bytes);
void bulkDeallocate(void* p, size_t bytes);
template <class T>
T* BulkAllocator<T>::allocate(size_t n) { return static_cast<T*>(bulkAllocate(n * sizeof(T))); }
template <class T>
void BulkAllocator<T>::deallocate(T* p, size_t n) { bulkDeallocate(p, n * sizeof(T)); }

// Entries in (key bytes, record number) order, one at a time.
class KeySource {
public:
    virtual ~KeySource() = default;
    virtual int keyLength() const = 0;
    // The next entry, or false at the end. key points at keyLength() bytes that stay valid
    // until the next call.
    virtual Result<bool> next(const char*& key, std::uint32_t& recno) = 0;
    // The next entries, from 1 to max of them, each its key and then its record number
    // big-endian, at records; 0 only at the end. They stay valid until the next call.
    virtual Result<size_t> nextRecords(const char*& records, size_t max);

private:
    std::string records_;
};

// A KeyList already sorted.
class KeyListSource : public KeySource {
public:
    explicit KeyListSource(const KeyList& list) : list_(list) {}
    int keyLength() const override;
    Result<bool> next(const char*& key, std::uint32_t& recno) override;

private:
    const KeyList& list_;
    size_t at_ = 0;
};

// The memory the key sorts of one build hold together, whatever the table's size: 16 MiB. Tests
// make it small to drive builds through many runs and merge passes.
size_t indexBuildBudget();
void setIndexBuildBudget(size_t bytes);

// Tables of at least this many rows have their keys gathered by two threads, each reading half
// of the rows. Tests lower it to drive small tables through both.
std::uint32_t parallelKeyRows();
void setParallelKeyRows(std::uint32_t rows);

// Bytes kept in memory by a stream of fixed-size records before it goes to a scratch file.
class SpillBuffer {
public:
    SpillBuffer(size_t recordSize, size_t memoryLimit, QString folder, QString label);
    Status append(const void* record);
    // Reading starts at the first record; appending is over.
    Status rewind();
    // The next record, or nullptr at the end.
    Result<const char*> read();
    std::uint64_t count() const { return count_; }

private:
    Status flush();
    size_t recordSize_;
    size_t limit_;
    QString folder_, label_;
    std::unique_ptr<File> file_;
    std::string buf_;
    std::int64_t written_ = 0;
    std::uint64_t count_ = 0;
    // Reading.
    std::uint64_t readCount_ = 0;
    std::int64_t readAt_ = 0;
    size_t bufPos_ = 0;
};

class KeySorter : public KeySource {
public:
    // budget: bytes of memory for this sort; expected: about how many entries will come (0 when
    // not known), so that a small table reserves only what it needs. lanes: 1, entries come
    // through add() and a worker thread sorts the full batches; more, that many threads add at
    // once, each through its own lane (addTo) with its share of the budget, sorting its own.
    KeySorter(int keyLength, size_t budget, QString scratchFolder, QString label, size_t expected = 0, int lanes = 1);
    ~KeySorter() override;
    KeySorter(const KeySorter&) = delete;
    KeySorter& operator=(const KeySorter&) = delete;

    int keyLength() const override { return keyLength_; }
    // key: keyLength() bytes.
    Status add(const char* key, std::uint32_t recno);
    // The same through a lane, which only one thread uses; then closeLane() on that thread sorts
    // what the lane holds.
    Status addTo(int lane, const char* key, std::uint32_t recno);
    Status closeLane(int lane);
    // After the last add (and every lane closed); then next() gives the entries in order.
    Status finish();
    Result<bool> next(const char*& key, std::uint32_t& recno) override;
    Result<size_t> nextRecords(const char*& records, size_t max) override;

    std::uint64_t size() const { return total_; }
    // Sorted runs written to the scratch file, merge passes included (0: all fit in memory).
    size_t runsWritten() const { return runsWritten_; }

private:
    // The first sixteen key bytes travel with the entry, so that sorting seldom looks further.
    struct Handle {
        std::uint64_t prefix;   // key bytes 0-7, big-endian
        std::uint64_t prefix2;  // key bytes 8-15, big-endian (zeros past the key)
        std::uint32_t recno;
        // Where the rest of the key lies in the batch's tails (low 24 bits), and the key's
        // length without its trailing blanks (high 8 bits): only the bytes before the blanks
        // are kept, and past the longer of two keys both are blanks, so equal short keys are
        // told equal without looking at their tails.
        std::uint32_t tail;
        size_t tailAt() const { return tail & 0xFFFFFFu; }
        int length() const { return int(tail >> 24); }
        size_t tailKept() const { return length() > 16 ? size_t(length() - 16) : 0; }
    };
    // Entries held in memory: filled by add(), then sorted and written as a run.
    using Handles = std::vector<Handle, BulkAllocator<Handle>>;
    struct Batch {
        Handles held, other;  // other: the radix sort's second array
        std::vector<char, BulkAllocator<char>> tails;
        std::string out;  // records on their way to the scratch file
        size_t split = 0;  // 0: sorted as one; else [0, split) and [split, end) each sorted
        std::uint64_t added = 0;  // entries that came through this batch's lane
        // Whether the entries came in rising record number order, as a table's rows do.
        bool rising = true;
        std::uint32_t lastRecno = 0;
    };
    struct Run {
        std::int64_t offset;
        std::uint64_t count;
    };
    class Merger;

    // Below this many entries a batch is sorted on one core.
    static constexpr size_t kParallelSort = 32768;
    void sort(Batch& b) const;
    void sortInHalves(Batch& b) const;
    void sortRange(Batch& b, size_t from, size_t to) const;
    // Stable, by the first eight key bytes; other: room for n handles.
    void sortByPrefix(Handle* held, Handle* other, size_t n) const;
    // x of batch bx against y of batch by: their keys, then their record numbers.
    int compareHandles(const Batch& bx, const Handle& x, const Batch& by, const Handle& y) const;
    // Tail bytes that can differ between two keys equal in their first sixteen.
    size_t tailBytesToCompare(const Handle& x, const Handle& y) const {
        const int longer = std::max(x.length(), y.length());
        return longer <= 16 ? 0 : std::min(tailLength_, size_t(longer - 16));
    }
    void keyOf(const Batch& b, const Handle& h, char* out) const;
    // Whether the batch, allowed bytes of memory, has no room for another entry.
    bool full(const Batch& b, size_t bytes) const;
    // Puts the entry in the batch, which has room for it.
    void push(Batch& b, size_t bytes, size_t expected, const char* key, std::uint32_t recno);
    // The place in the scratch file for the batch's run, taken before it is sorted so that
    // two runs can be written at once.
    Run reserveRun(const Batch& b);
    // Sorts the batch and writes it at the run's place.
    Status writeRun(Batch& b, const Run& run);
    // Writes bytes to the scratch file at at, moves at past them and empties them.
    Status writeToScratch(std::int64_t& at, std::string& bytes);
    // Whether the batch being filled may take the whole budget: nothing spilled yet, and the
    // table not known to be larger than that.
    bool wholeBudgetBatch() const { return runs_.empty() && !worker_ && expected_ <= 2 * capacity_; }
    Status spill();
    Status spillLane(Batch& b);
    Status joinWorker();
    Result<Run> mergeToScratch(size_t from, size_t count, size_t memory);
    // The runs and the sorted batches held in memory merged, on a thread of its own.
    Status mergeAll(std::vector<const Batch*> held);
    Status openScratch();

    int keyLength_;
    size_t tailLength_;
    size_t recordSize_;  // of a run's record: the key, then the record number big-endian
    size_t budget_;
    size_t capacity_;  // entries of a half-budget batch of the longest keys
    size_t expected_;
    QString folder_, label_;
    // Two batches once the keys outgrow one: the worker sorts and writes one while add() fills
    // the other, each taking half the budget.
    Batch batches_[2];
    int active_ = 0;
    struct Worker;
    std::unique_ptr<Worker> worker_;
    // With lanes: one batch each, and the lock that the lanes take to add runs.
    std::vector<std::unique_ptr<Batch>> lanes_;
    size_t laneBytes_ = 0;
    std::mutex runsMutex_;
    std::uint64_t total_ = 0;
    std::unique_ptr<File> scratch_;
    std::int64_t scratchEnd_ = 0;
    std::vector<Run> runs_;
    size_t runsWritten_ = 0;
    // Reading: the active batch in order, or the merge of the runs with it.
    size_t at_ = 0, at2_ = 0;
    std::string keyBuf_;
    std::unique_ptr<Merger> merger_;
    // The merge runs on the worker thread, handing blocks of records to next() while the
    // caller lays out the tree.
    struct Pipe;
    std::unique_ptr<Pipe> pipe_;
    std::string merged_;  // what next() merges itself when no thread was to be had
    void startPipe();
    void feedPipe();
    // Whether the pipe has records left to read, waiting for the next block when needed.
    Result<bool> pipeHasMore();
};

}  // namespace albumora::store
