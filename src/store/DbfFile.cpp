#include "DbfFile.h"

#include "Bytes.h"
#include "Codepage.h"
#include "RadixSort.h"

#include <QDate>
#include <QFileInfo>

#include <algorithm>
#include <set>

namespace albumora::store {
namespace {

bool knownVersion(std::uint8_t v) {
    static const std::set<std::uint8_t> known = {0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43, 0x63,
                                                 0x83, 0x8B, 0x8E, 0xCB, 0xE5, 0xF5, 0xFB};
    return known.count(v) != 0;
}

QString baseName(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

Result<std::unique_ptr<DbfFile>> DbfFile::open(const QString& path, bool writable) {
    ALB_ASSIGN_OR_RETURN(File f, File::open(path, writable ? File::Mode::ReadWrite : File::Mode::ReadOnly));
    std::unique_ptr<DbfFile> dbf(new DbfFile);
    dbf->file_ = std::move(f);
    dbf->writable_ = writable;
    ALB_ASSIGN_OR_RETURN(std::int64_t size, dbf->file_.size());
    ALB_TRY(dbf->parseHeader(size));
    return dbf;
}

Status DbfFile::parseHeader(std::int64_t fileSize) {
    const QString& p = file_.path();
    auto corrupt = [&](const QString& why, std::int64_t off) {
        return Status(ErrorKind::Corruption, baseName(p) + QStringLiteral(" is not a valid table: ") + why, p, off);
    };
    if (fileSize < 32) return corrupt(QStringLiteral("the file is too short for a table header"), 0);
    unsigned char* h = header_;
    ALB_TRY(file_.readAt(0, h, 32, "the header"));
    version_ = h[0];
    if (!knownVersion(version_))
        return corrupt(QStringLiteral("unknown version byte 0x%1").arg(version_, 2, 16, QLatin1Char('0')), 0);
    if (h[15] != 0) return Status(ErrorKind::Unsupported, baseName(p) + QStringLiteral(" is encrypted"), p, 15);
    recordCount_ = getLe32(h + 4);
    headerLength_ = getLe16(h + 8);
    recordLength_ = getLe16(h + 10);
    indexLag_ = h[14] != 0;
    tableFlags_ = h[28];
    codePage_ = h[29];
    if (headerLength_ < 32 + 32 + 1 || headerLength_ > fileSize)
        return corrupt(QStringLiteral("header length %1 does not fit a file of %2 bytes").arg(headerLength_).arg(fileSize), 8);
    if (recordLength_ < 2) return corrupt(QStringLiteral("record length %1 is too small").arg(recordLength_), 10);

    std::string desc(size_t(headerLength_ - 32), '\0');
    ALB_TRY(file_.readAt(32, desc.data(), desc.size(), "the field descriptors"));
    fields_.clear();
    size_t pos = 0;
    int expectOffset = 1;
    bool terminated = false;
    while (pos < desc.size()) {
        if (static_cast<unsigned char>(desc[pos]) == 0x0D) {
            terminated = true;
            break;
        }
        if (pos + 32 > desc.size()) break;
        const char* d = desc.data() + pos;
        FieldDef f;
        size_t nameLen = 0;
        while (nameLen < 11 && d[nameLen] != '\0') ++nameLen;
        f.name.assign(d, nameLen);
        f.type = d[11];
        f.length = static_cast<unsigned char>(d[16]);
        f.decimals = static_cast<unsigned char>(d[17]);
        f.flags = static_cast<unsigned char>(d[18]);
        f.offset = expectOffset;
        const std::int64_t at = 32 + std::int64_t(pos);
        if (f.name.empty()) return corrupt(QStringLiteral("field %1 has no name").arg(fields_.size() + 1), at);
        for (char c : f.name)
            if (static_cast<unsigned char>(c) < 0x20)
                return corrupt(QStringLiteral("field %1 has a name with control characters").arg(fields_.size() + 1), at);
        if (f.length == 0)
            return corrupt(QStringLiteral("field %1 has length 0").arg(QString::fromLatin1(f.name.c_str())), at + 16);
        // Binary types are read at their fixed widths: a wrong width would read a neighbour.
        const int fixed = f.type == 'I' ? 4 : (f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == 'D') ? 8
                          : f.type == 'L' ? 1 : 0;
        if (fixed && f.length != fixed)
            return corrupt(QStringLiteral("field %1 of type %2 has length %3")
                               .arg(QString::fromLatin1(f.name.c_str()), QChar::fromLatin1(f.type))
                               .arg(f.length),
                           at + 16);
        if (f.isMemo() && f.length != 4 && f.length != 10)
            return corrupt(QStringLiteral("memo field %1 has length %2").arg(QString::fromLatin1(f.name.c_str())).arg(f.length),
                           at + 16);
        expectOffset += f.length;
        fields_.push_back(std::move(f));
        pos += 32;
    }
    if (!terminated) return corrupt(QStringLiteral("the field list is not terminated"), 32 + std::int64_t(pos));
    if (fields_.empty()) return corrupt(QStringLiteral("the table has no fields"), 32);
    if (expectOffset != recordLength_)
        return corrupt(QStringLiteral("the fields take %1 bytes but the record length is %2").arg(expectOffset).arg(recordLength_),
                       10);
    const std::int64_t need = std::int64_t(headerLength_) + std::int64_t(recordCount_) * recordLength_;
    if (need > fileSize)
        return Status(ErrorKind::Corruption,
                      QStringLiteral("%1 is truncated: the header counts %2 records, the file holds %3")
                          .arg(baseName(p))
                          .arg(recordCount_)
                          .arg((fileSize - headerLength_) / recordLength_),
                      p, 4);
    return {};
}

Status DbfFile::refreshHeader() {
    unsigned char h[32];
    ALB_TRY(file_.readAt(0, h, 32, "the header"));
    std::memcpy(header_, h, 32);
    std::uint32_t count = getLe32(h + 4);
    ALB_ASSIGN_OR_RETURN(std::int64_t size, file_.size());
    if (std::int64_t(headerLength_) + std::int64_t(count) * recordLength_ > size)
        return Status(ErrorKind::Corruption, baseName(file_.path()) + QStringLiteral(" is truncated"), file_.path(), 4);
    dropCache();
    lastRead_ = 0;
    recordCount_ = count;
    indexLag_ = h[14] != 0;
    tableFlags_ = h[28];
    return {};
}

int DbfFile::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        const std::string& n = fields_[i].name;
        if (n.size() == name.size() &&
            std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) { return asciiUpperChar(a) == asciiUpperChar(b); }))
            return int(i);
    }
    return -1;
}

bool DbfFile::hasMemoFields() const {
    return std::any_of(fields_.begin(), fields_.end(), [](const FieldDef& f) { return f.isMemo(); });
}

Status DbfFile::create(const QString& path, const std::vector<FieldDef>& fieldsIn) {
    if (fieldsIn.empty())
        return Status(ErrorKind::InvalidArgument, QStringLiteral("A table needs at least one field"), path);
    std::vector<FieldDef> fields = fieldsIn;
    int recLen = 1;
    bool memo = false;
    for (FieldDef& f : fields) {
        if (f.name.empty() || f.name.size() > 10)
            return Status(ErrorKind::InvalidArgument,
                          QStringLiteral("Field name \"%1\" must have 1 to 10 characters").arg(QString::fromLatin1(f.name.c_str())),
                          path);
        if (f.length < 1 || f.length > 254)
            return Status(ErrorKind::InvalidArgument,
                          QStringLiteral("Field %1 has an invalid length %2").arg(QString::fromLatin1(f.name.c_str())).arg(f.length),
                          path);
        f.offset = recLen;
        recLen += f.length;
        memo = memo || f.isMemo();
    }
    if (recLen > 65535) return Status(ErrorKind::InvalidArgument, QStringLiteral("The record is too long"), path);
    const int headerLen = 32 + 32 * int(fields.size()) + 1;
    std::string bytes(size_t(headerLen) + 1, '\0');
    auto* h = reinterpret_cast<unsigned char*>(bytes.data());
    h[0] = memo ? kVersionFoxMemo : kVersionPlain;
    QDate today = QDate::currentDate();
    h[1] = std::uint8_t(today.year() % 100);  // two digits, as FoxPro writes it
    h[2] = std::uint8_t(today.month());
    h[3] = std::uint8_t(today.day());
    putLe32(h + 4, 0);
    putLe16(h + 8, std::uint16_t(headerLen));
    putLe16(h + 10, std::uint16_t(recLen));
    h[29] = kCodePage1252;
    for (size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = h + 32 + 32 * i;
        std::memcpy(d, fields[i].name.data(), fields[i].name.size());
        d[11] = static_cast<unsigned char>(fields[i].type);
        putLe32(d + 12, std::uint32_t(fields[i].offset));
        d[16] = std::uint8_t(fields[i].length);
        d[17] = std::uint8_t(fields[i].decimals);
    }
    h[headerLen - 1] = 0x0D;
    h[headerLen] = 0x1A;
    return writeFileAtomically(path, bytes);
}

Status DbfFile::writeHeader() {
    unsigned char* h = header_;
    if (!dateStamped_) {
        // The date of this session's first change; asking the clock per row costs more than the write.
        QDate today = QDate::currentDate();
        h[1] = std::uint8_t(today.year() % 100);  // two digits, as FoxPro writes it
        h[2] = std::uint8_t(today.month());
        h[3] = std::uint8_t(today.day());
        dateStamped_ = true;
    }
    putLe32(h + 4, recordCount_);
    h[14] = indexLag_ ? 1 : 0;
    h[28] = tableFlags_;
    return file_.writeAt(0, h, 32);
}

std::ptrdiff_t DbfFile::windowSlot(std::uint32_t recno) const {
    // The walk reads the rows in the order they were asked for: the next one is the likely one.
    if (windowNext_ < windowOrder_.size() && windowRecnos_[windowOrder_[windowNext_]] == recno) return windowOrder_[windowNext_];
    const auto it = std::lower_bound(windowRecnos_.begin(), windowRecnos_.end(), recno);
    return it != windowRecnos_.end() && *it == recno ? it - windowRecnos_.begin() : -1;
}

bool DbfFile::prefetched(std::uint32_t recno) const { return windowSlot(recno) >= 0; }

Status DbfFile::prefetch(const std::vector<std::uint32_t>& recnos) {
    windowRecnos_.clear();
    windowRows_.clear();
    windowOrder_.clear();
    windowNext_ = 0;
    const size_t rl = size_t(recordLength_);
    const size_t most = std::max<size_t>(1, kWindowBytes / rl);
    // (record number, place in the walk), sorted: the rows in file order, and for each place of
    // the walk the slot its row lands in.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> wanted;
    wanted.reserve(std::min(recnos.size(), most));
    for (std::uint32_t r : recnos) {
        if (wanted.size() == most) break;
        if (r >= 1 && r <= recordCount_) wanted.push_back({r, std::uint32_t(wanted.size())});
    }
    // Into record number order, the places of one row rising as they came: a window holds up to
    // tens of thousands of rows, too many for a comparison sort to be cheap.
    if (wanted.size() < 256) {
        std::sort(wanted.begin(), wanted.end());
    } else {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> other(wanted.size());
        radixByWord(wanted.data(), other.data(), wanted.size(), [](const auto& p) { return std::uint64_t(p.first); });
    }
    windowOrder_.resize(wanted.size());
    for (const auto& [r, place] : wanted) {
        if (windowRecnos_.empty() || windowRecnos_.back() != r) windowRecnos_.push_back(r);
        windowOrder_[place] = std::uint32_t(windowRecnos_.size() - 1);
    }
    windowRows_.resize(windowRecnos_.size() * rl);
    // Rows closer than this are read together: reading the gap costs less than another call.
    constexpr std::uint32_t kGapBytes = 8 << 10;
    const std::uint32_t gapRows = std::max<std::uint32_t>(1, kGapBytes / std::uint32_t(rl));
    constexpr size_t kMostRead = size_t(1) << 20;
    for (size_t i = 0; i < windowRecnos_.size();) {
        // One read: rows i..j-1, each within gapRows of the one before, at most kMostRead bytes.
        size_t j = i + 1;
        while (j < windowRecnos_.size() && windowRecnos_[j] - windowRecnos_[j - 1] <= gapRows &&
               size_t(windowRecnos_[j] - windowRecnos_[i] + 1) * rl <= kMostRead)
            ++j;
        const std::uint32_t first = windowRecnos_[i], last = windowRecnos_[j - 1];
        const std::int64_t off = std::int64_t(headerLength_) + std::int64_t(first - 1) * recordLength_;
        if (j - i == 1) {
            Status st = file_.readAt(off, windowRows_.data() + i * rl, rl, "a record");
            if (!st) {
                dropCache();
                return st;
            }
        } else {
            readBuf_.resize(size_t(last - first + 1) * rl);
            Status st = file_.readAt(off, readBuf_.data(), readBuf_.size(), "a record");
            if (!st) {
                dropCache();
                return st;
            }
            for (size_t k = i; k < j; ++k)
                std::memcpy(windowRows_.data() + k * rl, readBuf_.data() + size_t(windowRecnos_[k] - first) * rl, rl);
        }
        i = j;
    }
    return {};
}

Status DbfFile::readRecord(std::uint32_t recno, std::string& out) {
    if (recno < 1 || recno > recordCount_)
        return Status(ErrorKind::NotFound, QStringLiteral("Record %1 is beyond the end of %2").arg(recno).arg(baseName(path())),
                      path());
    out.resize(size_t(recordLength_));
    if (!windowRecnos_.empty()) {
        if (const std::ptrdiff_t slot = windowSlot(recno); slot >= 0) {
            std::memcpy(out.data(), windowRows_.data() + size_t(slot) * size_t(recordLength_), out.size());
            if (windowNext_ < windowOrder_.size() && std::ptrdiff_t(windowOrder_[windowNext_]) == slot) ++windowNext_;
            return {};
        }
    }
    std::int64_t off = std::int64_t(headerLength_) + std::int64_t(recno - 1) * recordLength_;
    const std::int64_t end = off + recordLength_;
    // Reads in index order over a big table jump about: a block read for each would fetch 16 KiB
    // for one row. Those fetch just the row; reads near the previous one go through the cache.
    const bool near = lastRead_ != 0 && recno + 16 >= lastRead_ && recno <= lastRead_ + 16;
    lastRead_ = recno;
    if (!near && blocks_.find(off / kBlock) == blocks_.end() && blocks_.find((end - 1) / kBlock) == blocks_.end())
        return file_.readAt(off, out.data(), out.size(), "a record");
    size_t done = 0;
    while (off < end) {
        std::int64_t blockNo = off / kBlock;
        auto it = blocks_.find(blockNo);
        if (it == blocks_.end()) {
            Block b;
            b.bytes.resize(size_t(kBlock));
            ALB_ASSIGN_OR_RETURN(size_t n, file_.readSome(blockNo * kBlock, b.bytes.data(), b.bytes.size()));
            b.bytes.resize(n);
            if (blocks_.size() >= kMaxBlocks) {
                blocks_.erase(lru_.back());
                lru_.pop_back();
            }
            lru_.push_front(blockNo);
            b.lru = lru_.begin();
            it = blocks_.emplace(blockNo, std::move(b)).first;
        } else {
            lru_.splice(lru_.begin(), lru_, it->second.lru);
        }
        const std::int64_t inBlock = off - blockNo * kBlock;
        const std::int64_t take = std::min(end - off, kBlock - inBlock);
        if (inBlock + take > std::int64_t(it->second.bytes.size()))
            return Status(ErrorKind::Corruption, QStringLiteral("%1 is truncated at record %2").arg(baseName(path())).arg(recno),
                          path(), off);
        std::memcpy(out.data() + done, it->second.bytes.data() + inBlock, size_t(take));
        done += size_t(take);
        off += take;
    }
    return {};
}

void DbfFile::updateCache(std::int64_t offset, const char* data, size_t len) {
    if (!windowRecnos_.empty()) {
        // Rows written by this program stay as they were written; a partial write (a header
        // byte, an end mark) is simpler to forget.
        const std::int64_t rel = offset - headerLength_;
        if (rel >= 0 && rel % recordLength_ == 0 && len >= size_t(recordLength_)) {
            for (size_t done = 0; done + size_t(recordLength_) <= len; done += size_t(recordLength_)) {
                const std::uint32_t recno = std::uint32_t((rel + std::int64_t(done)) / recordLength_ + 1);
                if (const std::ptrdiff_t slot = windowSlot(recno); slot >= 0)
                    std::memcpy(windowRows_.data() + size_t(slot) * size_t(recordLength_), data + done, size_t(recordLength_));
            }
        } else if (len > 0) {
            windowRecnos_.clear();
            windowRows_.clear();
            windowOrder_.clear();
        }
    }
    std::int64_t off = offset;
    const std::int64_t end = offset + std::int64_t(len);
    while (off < end) {
        std::int64_t blockNo = off / kBlock;
        const std::int64_t inBlock = off - blockNo * kBlock;
        const std::int64_t take = std::min(end - off, kBlock - inBlock);
        auto it = blocks_.find(blockNo);
        if (it != blocks_.end()) {
            std::string& b = it->second.bytes;
            if (std::int64_t(b.size()) < inBlock + take) {
                if (std::int64_t(b.size()) < inBlock) {  // a hole: simpler to forget the block
                    lru_.erase(it->second.lru);
                    blocks_.erase(it);
                    off += take;
                    continue;
                }
                b.resize(size_t(inBlock + take));
            }
            std::memcpy(b.data() + inBlock, data + (off - offset), size_t(take));
        }
        off += take;
    }
}

Status DbfFile::writeRecord(std::uint32_t recno, const std::string& data) {
    if (recno < 1 || recno > recordCount_ || data.size() != size_t(recordLength_))
        return Status(ErrorKind::InvalidArgument, QStringLiteral("Bad record write to %1").arg(baseName(path())), path());
    const std::int64_t off = std::int64_t(headerLength_) + std::int64_t(recno - 1) * recordLength_;
    ALB_TRY(file_.writeAt(off, data.data(), data.size()));
    updateCache(off, data.data(), data.size());
    return writeHeader();
}

Result<std::uint32_t> DbfFile::appendRecord(const std::string& data) {
    if (data.size() != size_t(recordLength_))
        return Status(ErrorKind::InvalidArgument, QStringLiteral("Bad record append to %1").arg(baseName(path())), path());
    if (recordCount_ == 0xFFFFFFFEu)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("%1 is full").arg(baseName(path())), path());
    const std::int64_t off = std::int64_t(headerLength_) + std::int64_t(recordCount_) * recordLength_;
    std::string buf = data;
    buf.push_back('\x1A');
    // The record lands before the header counts it, so a crash in between leaves the old table.
    ALB_TRY(file_.writeAt(off, buf.data(), buf.size()));
    updateCache(off, buf.data(), buf.size());
    ++recordCount_;
    Status st = writeHeader();
    if (!st) {
        --recordCount_;
        return st;
    }
    return recordCount_;
}

Status DbfFile::setIndexLag(bool lag) {
    if (indexLag_ == lag) return {};
    indexLag_ = lag;
    return writeHeader();
}

Status DbfFile::setTableFlags(std::uint8_t flags) {
    if (tableFlags_ == flags) return {};
    tableFlags_ = flags;
    return writeHeader();
}

}  // namespace albumora::store
