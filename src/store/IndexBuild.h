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

#include <cstdint>
#include <memory>
#include <string>
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

// The memory the key sorts of one build hold together, whatever the table's size: 32 MiB. Tests
// make it small to drive builds through many runs and merge passes.
size_t indexBuildBudget();
void setIndexBuildBudget(size_t bytes);

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
    // not known), so that a small table reserves only what it needs.
    KeySorter(int keyLength, size_t budget, QString scratchFolder, QString label, size_t expected = 0);
    ~KeySorter() override;
    KeySorter(const KeySorter&) = delete;
    KeySorter& operator=(const KeySorter&) = delete;

    int keyLength() const override { return keyLength_; }
    // key: keyLength() bytes.
    Status add(const char* key, std::uint32_t recno);
    // After the last add; then next() gives the entries in order.
    Status finish();
    Result<bool> next(const char*& key, std::uint32_t& recno) override;

    std::uint64_t size() const { return total_; }
    // Sorted runs written to the scratch file, merge passes included (0: all fit in memory).
    size_t runsWritten() const { return runsWritten_; }

private:
    // The first sixteen key bytes travel with the entry, so that sorting seldom looks further.
    struct Handle {
        std::uint64_t prefix;   // key bytes 0-7, big-endian
        std::uint64_t prefix2;  // key bytes 8-15, big-endian (zeros past the key)
        std::uint32_t recno;
        std::uint32_t tail;  // where the rest of the key lies in the batch's tails
    };
    // Entries held in memory: filled by add(), then sorted and written as a run.
    using Handles = std::vector<Handle, BulkAllocator<Handle>>;
    struct Batch {
        Handles held, other;  // other: the radix sort's second array
        std::vector<char, BulkAllocator<char>> tails;
        std::string out;  // records on their way to the scratch file
    };
    struct Run {
        std::int64_t offset;
        std::uint64_t count;
    };
    class Merger;

    void sort(Batch& b) const;
    void keyOf(const Batch& b, const Handle& h, char* out) const;
    // Sorts the batch and writes it at the end of the scratch file.
    Status writeRun(Batch& b, Run& run);
    Status spill();
    Status joinWorker();
    Result<Run> mergeToScratch(size_t from, size_t count, size_t memory);
    Status openScratch();

    int keyLength_;
    size_t tailLength_;
    size_t recordSize_;  // of a run's record: the key, then the record number big-endian
    size_t budget_;
    size_t capacity_;  // entries of one batch
    size_t expected_;
    QString folder_, label_;
    // Two batches once the keys outgrow one: the worker sorts and writes one while add() fills
    // the other, each taking half the budget.
    Batch batches_[2];
    int active_ = 0;
    struct Worker;
    std::unique_ptr<Worker> worker_;
    std::uint64_t total_ = 0;
    std::unique_ptr<File> scratch_;
    std::int64_t scratchEnd_ = 0;
    std::vector<Run> runs_;
    size_t runsWritten_ = 0;
    // Reading: the active batch in order, or the merge of the runs with it.
    size_t at_ = 0;
    std::string keyBuf_;
    std::unique_ptr<Merger> merger_;
};

}  // namespace albumora::store
