#include "MemoFile.h"

#include "Bytes.h"

#include <QFileInfo>

namespace albumora::store {

Result<std::unique_ptr<MemoFile>> MemoFile::open(const QString& path, bool writable) {
    ALB_ASSIGN_OR_RETURN(File f, File::open(path, writable ? File::Mode::ReadWrite : File::Mode::ReadOnly));
    std::unique_ptr<MemoFile> m(new MemoFile);
    m->file_ = std::move(f);
    ALB_ASSIGN_OR_RETURN(m->fileSize_, m->file_.size());
    const QString name = QFileInfo(path).fileName();
    if (m->fileSize_ < 8)
        return Status(ErrorKind::Corruption, name + QStringLiteral(" is not a valid memo file: it is too short"), path, 0);
    unsigned char h[8];
    ALB_TRY(m->file_.readAt(0, h, 8, "the memo header"));
    m->nextFree_ = getBe32(h);
    m->blockSize_ = getBe16(h + 6);
    if (m->blockSize_ == 0)
        return Status(ErrorKind::Corruption, name + QStringLiteral(" is not a valid memo file: block size 0"), path, 6);
    const std::uint32_t firstBlock = (kHeaderSize + m->blockSize_ - 1) / m->blockSize_;
    if (writable && (std::uint64_t(m->nextFree_) * m->blockSize_ < kHeaderSize))
        return Status(ErrorKind::Corruption,
                      name + QStringLiteral(" is not a valid memo file: next free block %1 lies in the header").arg(m->nextFree_),
                      path, 0);
    (void)firstBlock;
    return m;
}

Status MemoFile::reload() {
    ALB_ASSIGN_OR_RETURN(fileSize_, file_.size());
    unsigned char h[8];
    ALB_TRY(file_.readAt(0, h, 8, "the memo header"));
    nextFree_ = getBe32(h);
    return {};
}

Status MemoFile::create(const QString& path, std::uint32_t blockSize) {
    std::string header(kHeaderSize, '\0');
    putBe32(header.data(), (kHeaderSize + blockSize - 1) / blockSize);
    putBe16(header.data() + 6, std::uint16_t(blockSize));
    return writeFileAtomically(path, header);
}

Result<std::uint32_t> MemoFile::blocksAt(std::uint32_t block) {
    if (block == 0) return std::uint32_t(0);
    const std::int64_t off = std::int64_t(block) * blockSize_;
    if (off < kHeaderSize || off + 8 > fileSize_)
        return Status(ErrorKind::Corruption, QStringLiteral("Memo block %1 lies outside %2").arg(block).arg(QFileInfo(path()).fileName()),
                      path(), off);
    unsigned char h[8];
    ALB_TRY(file_.readAt(off, h, 8, "a memo block header"));
    const std::uint32_t len = getBe32(h + 4);
    if (std::int64_t(len) > fileSize_ - off - 8)
        return Status(ErrorKind::Corruption,
                      QStringLiteral("Memo block %1 of %2 claims %3 bytes, more than the file holds")
                          .arg(block)
                          .arg(QFileInfo(path()).fileName())
                          .arg(len),
                      path(), off + 4);
    return std::uint32_t((std::uint64_t(len) + 8 + blockSize_ - 1) / blockSize_);
}

Result<std::string> MemoFile::read(std::uint32_t block) {
    if (block == 0) return std::string();
    const QString name = QFileInfo(path()).fileName();
    const std::int64_t off = std::int64_t(block) * blockSize_;
    if (off < kHeaderSize || off + 8 > fileSize_) {
        // Another writer may have grown the file since it was opened.
        ALB_ASSIGN_OR_RETURN(fileSize_, file_.size());
        if (off < kHeaderSize || off + 8 > fileSize_)
            return Status(ErrorKind::Corruption,
                          QStringLiteral("Memo block %1 lies outside %2").arg(block).arg(name), path(), off);
    }
    unsigned char h[8];
    ALB_TRY(file_.readAt(off, h, 8, "a memo block header"));
    const std::uint32_t len = getBe32(h + 4);
    if (std::int64_t(len) > fileSize_ - off - 8)
        return Status(ErrorKind::Corruption,
                      QStringLiteral("Memo block %1 of %2 claims %3 bytes, more than the file holds").arg(block).arg(name).arg(len),
                      path(), off + 4);
    std::string data(len, '\0');
    ALB_TRY(file_.readAt(off + 8, data.data(), len, "a memo"));
    return data;
}

Result<std::uint32_t> MemoFile::append(const std::string& data, std::uint32_t type) {
    if (data.empty()) return std::uint32_t(0);
    const std::uint64_t blocks = (std::uint64_t(data.size()) + 8 + blockSize_ - 1) / blockSize_;
    if (std::uint64_t(nextFree_) + blocks > 0xFFFFFFFFull || data.size() > 0x7FFFFFF0u)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The memo file %1 is full").arg(QFileInfo(path()).fileName()),
                      path());
    const std::uint32_t block = nextFree_;
    std::string buf(size_t(blocks * blockSize_), '\0');
    putBe32(buf.data(), type);
    putBe32(buf.data() + 4, std::uint32_t(data.size()));
    std::memcpy(buf.data() + 8, data.data(), data.size());
    const std::int64_t off = std::int64_t(block) * blockSize_;
    // Data first, then the header's free pointer: a crash in between leaves only unused space.
    ALB_TRY(file_.writeAt(off, buf.data(), buf.size()));
    unsigned char h[4];
    putBe32(h, std::uint32_t(block + blocks));
    ALB_TRY(file_.writeAt(0, h, 4));
    nextFree_ = std::uint32_t(block + blocks);
    fileSize_ = std::max<std::int64_t>(fileSize_, off + std::int64_t(buf.size()));
    return block;
}

}  // namespace albumora::store
