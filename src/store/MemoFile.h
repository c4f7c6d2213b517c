// The FPT memo file: variable-length texts kept in fixed-size blocks, referenced by block number
// from the memo fields of the table.
//
// Header (512 bytes, big-endian):
//   offset size  description
//        0    4  next free block: where the next memo will be written
//        4    2  unused
//        6    2  block size in bytes (64 by default)
//        8  504  unused
// Each memo starts on a block boundary (block n at byte n * block size):
//        0    4  type: 0 picture/binary, 1 text
//        4    4  length of the data in bytes
//        8    …  the data, padded to the end of its last block
//
// A changed memo is always written to new blocks and the old blocks are left unreferenced until
// the table is packed. The record then points either at the old memo or at the complete new one,
// never at a half-written text.
#pragma once

#include "File.h"
#include "Status.h"

#include <cstdint>
#include <memory>
#include <string>

namespace albumora::store {

class MemoFile {
public:
    static constexpr std::uint32_t kDefaultBlockSize = 64;
    static constexpr std::uint32_t kHeaderSize = 512;

    static Result<std::unique_ptr<MemoFile>> open(const QString& path, bool writable);
    static Status create(const QString& path, std::uint32_t blockSize = kDefaultBlockSize);

    const QString& path() const { return file_.path(); }
    std::uint32_t blockSize() const { return blockSize_; }
    std::uint32_t nextFree() const { return nextFree_; }

    // Block 0 and blank references mean "no memo" and read as empty text.
    Result<std::string> read(std::uint32_t block);
    // The number of blocks the memo at this block takes, read from its header.
    Result<std::uint32_t> blocksAt(std::uint32_t block);
    // The first block after the header.
    std::uint32_t firstBlock() const { return (kHeaderSize + blockSize_ - 1) / blockSize_; }
    // Appends the text in new blocks; returns the first block, or 0 for an empty text.
    Result<std::uint32_t> append(const std::string& data, std::uint32_t type = 1);
    Status sync() { return file_.sync(); }
    File& file() { return file_; }
    // Reads the header again (another writer, or an abandoned write, moved the free pointer).
    Status reload();

private:
    MemoFile() = default;
    File file_;
    std::uint32_t blockSize_ = kDefaultBlockSize;
    std::uint32_t nextFree_ = 0;
    std::int64_t fileSize_ = 0;
};

}  // namespace albumora::store
