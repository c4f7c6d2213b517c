// The DBF table file: header, field descriptors, fixed-length records.
//
// Header (32 bytes, little-endian):
//   offset size  description
//        0    1  version: 0x03 no memo, 0xF5 FoxPro 2.x with memo, 0x30/0x31/0x32 Visual FoxPro,
//                0x83/0x8B dBASE with memo
//        1    3  date of last update: year - 1900, month, day
//        4    4  number of records
//        8    2  header length: where the first record starts
//       10    2  record length, the deletion flag included
//       12    2  reserved
//       14    1  index lag flag: set while the index file may lag behind the records (this engine's
//                use of dBASE's "incomplete transaction" byte; other FoxPro writers leave it 0)
//       15    1  encryption flag (must be 0)
//       16   12  reserved
//       28    1  table flags: 0x01 structural CDX, 0x02 memo, 0x04 database container
//       29    1  code page mark: 0x03 = Windows-1252
//       30    2  reserved
// Field descriptors (32 bytes each) from offset 32, ended by 0x0D:
//        0   11  name, NUL padded
//       11    1  type letter
//       12    4  offset of the field in the record (Visual FoxPro; others leave 0)
//       16    1  length
//       17    1  decimal places
//       18    1  field flags (Visual FoxPro)
//       19   13  autoincrement data, reserved
// Visual FoxPro adds a 263-byte database backlink after the 0x0D; the header length covers it.
// Records follow: one deletion byte (' ' live, '*' deleted), then the fields; 0x1A ends the file.
#pragma once

#include "File.h"
#include "Status.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace albumora::store {

struct FieldDef {
    std::string name;  // as stored, without NUL padding
    char type = 'C';
    int length = 0;
    int decimals = 0;
    int offset = 0;  // within the record; the deletion byte is at 0
    int flags = 0;
    bool isMemo() const { return type == 'M' || type == 'G' || type == 'P'; }
};

class DbfFile {
public:
    static constexpr std::uint8_t kVersionPlain = 0x03;
    static constexpr std::uint8_t kVersionFoxMemo = 0xF5;
    static constexpr std::uint8_t kCodePage1252 = 0x03;
    static constexpr std::uint8_t kFlagCdx = 0x01;
    static constexpr std::uint8_t kFlagMemo = 0x02;

    static Result<std::unique_ptr<DbfFile>> open(const QString& path, bool writable);
    // Writes a new, empty FoxPro 2.x table through a temporary file.
    static Status create(const QString& path, const std::vector<FieldDef>& fields);

    const QString& path() const { return file_.path(); }
    const std::vector<FieldDef>& fields() const { return fields_; }
    int fieldIndex(std::string_view name) const;  // without regard to case; -1 when absent
    bool hasMemoFields() const;

    std::uint8_t version() const { return version_; }
    std::uint32_t recordCount() const { return recordCount_; }
    int recordLength() const { return recordLength_; }
    int headerLength() const { return headerLength_; }
    std::uint8_t tableFlags() const { return tableFlags_; }
    std::uint8_t codePage() const { return codePage_; }
    bool indexLag() const { return indexLag_; }
    bool writable() const { return writable_; }

    // Records are numbered from 1.
    Status readRecord(std::uint32_t recno, std::string& out);
    Status writeRecord(std::uint32_t recno, const std::string& data);
    Result<std::uint32_t> appendRecord(const std::string& data);
    // Fetches rows a walk in index order is about to read (in any order, repeats allowed) in
    // file order, neighbours in one read, and keeps them until the next prefetch or a change
    // read from disk: the walk then costs a lookup a row instead of a system call. At most
    // kWindowBytes of rows are kept; the rest of the list is ignored.
    Status prefetch(const std::vector<std::uint32_t>& recnos);
    bool prefetched(std::uint32_t recno) const;
    static constexpr size_t kWindowBytes = size_t(8) << 20;
    // Reads records [first, last] in file order in large chunks; fn returns false to stop early.
    template <class Fn>
    Status scan(std::uint32_t first, std::uint32_t last, Fn&& fn);

    Status setIndexLag(bool lag);
    Status setTableFlags(std::uint8_t flags);
    Status sync() { return file_.sync(); }
    File& file() { return file_; }
    Status lock(File::Lock kind) { return file_.lock(kind); }
    // Re-reads the header (record count) and forgets cached records, after another process
    // changed the table or a write was abandoned.
    Status refreshHeader();

    std::string blankRecord() const { return std::string(size_t(recordLength_), ' '); }

private:
    DbfFile() = default;
    Status parseHeader(std::int64_t fileSize);
    Status writeHeader();
    void updateCache(std::int64_t offset, const char* data, size_t len);
    void dropCache() {
        blocks_.clear();
        lru_.clear();
        windowRecnos_.clear();
        windowRows_.clear();
        windowOrder_.clear();
    }
    // Where a prefetched row lies in windowRows_, or -1.
    std::ptrdiff_t windowSlot(std::uint32_t recno) const;

    File file_;
    bool writable_ = false;
    std::uint8_t version_ = 0;
    std::uint32_t recordCount_ = 0;
    int headerLength_ = 0;
    int recordLength_ = 0;
    bool indexLag_ = false;
    std::uint8_t tableFlags_ = 0;
    std::uint8_t codePage_ = 0;
    std::vector<FieldDef> fields_;
    unsigned char header_[32] = {};  // as last read or written
    bool dateStamped_ = false;
    std::uint32_t lastRead_ = 0;

    // Block cache over the record area: random reads in index order cost a hash lookup, not a
    // system call.
    static constexpr std::int64_t kBlock = 16 * 1024;
    static constexpr size_t kMaxBlocks = 1024;
    struct Block {
        std::string bytes;
        std::list<std::int64_t>::iterator lru;
    };
    std::unordered_map<std::int64_t, Block> blocks_;
    std::list<std::int64_t> lru_;
    // The prefetched rows: record numbers rising, their bytes in the same order.
    std::vector<std::uint32_t> windowRecnos_;
    std::string windowRows_;
    std::vector<std::uint32_t> windowOrder_;  // slot of each row in the order it was asked for
    size_t windowNext_ = 0;                    // the place in that order the walk has reached
    std::string readBuf_;
};

template <class Fn>
Status DbfFile::scan(std::uint32_t first, std::uint32_t last, Fn&& fn) {
    if (first < 1) first = 1;
    if (last > recordCount_) last = recordCount_;
    if (first > last) return {};
    // A chunk small enough to be still in the core's cache when fn reads what pread put there.
    const size_t perChunk = std::max<size_t>(1, (256u << 10) / size_t(recordLength_));
    std::string chunk;
    for (std::uint32_t r = first; r <= last;) {
        std::uint32_t n = std::uint32_t(std::min<size_t>(perChunk, size_t(last - r) + 1));
        chunk.resize(size_t(n) * size_t(recordLength_));
        ALB_TRY(file_.readAt(std::int64_t(headerLength_) + std::int64_t(r - 1) * recordLength_, chunk.data(),
                             chunk.size(), "a record"));
        for (std::uint32_t i = 0; i < n; ++i)
            if (!fn(r + i, chunk.data() + size_t(i) * size_t(recordLength_))) return {};
        r += n;
    }
    return {};
}

}  // namespace albumora::store
