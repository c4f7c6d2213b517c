// FoxPro compact index files: the compound index (.CDX) that holds every tag of a table, and
// the single-order compact index (.IDX). Both are B+trees of 512-byte pages.
//
// Tag header (1024 bytes; a compound file starts with one whose keys are the tag names and whose
// record numbers are the offsets of the tags' own headers; an .IDX file is one tag header):
//   offset size  description
//        0    4  offset of the root node
//        4    4  free node list (0 or -1 when none; this engine keeps none on disk)
//        8    4  reserved
//       12    2  key length
//       14    1  options: 0x01 unique, 0x08 FOR clause, 0x20 compact, 0x40 compound
//       15    1  signature (1)
//      502    2  order: 0 ascending, 1 descending
//      504    2  expression pool length (key expression and its NUL)
//      506    2  FOR expression pool length (1 when there is no FOR clause)
//      510    2  key expression pool length
//      512  512  key expression, NUL, FOR expression, NUL
// Node (512 bytes; offsets little-endian):
//        0    2  attributes: 0 interior, 1 root, 2 leaf (root and leaf add up)
//        2    2  number of keys
//        4    4  left sibling on the same level (-1 when none)
//        8    4  right sibling on the same level (-1 when none)
//   interior, from 12, each entry key length + 8 bytes:
//           key  the greatest key of the child's subtree
//             4  record number of that key (big-endian)
//             4  offset of the child node (big-endian)
//   leaf:
//       12    2  free bytes
//       14    4  record number mask
//       18    1  duplicate count mask
//       19    1  trailing count mask
//       20    1  bits of the record number
//       21    1  bits of the duplicate count
//       22    1  bits of the trailing count
//       23    1  bytes of each entry
//       24  488  entries from the front (record number, then duplicate count, then trailing count,
//                packed little-endian); key bytes from the back, first key last. A key is the
//                previous key's first "duplicate count" bytes, its stored bytes, then "trailing
//                count" pad bytes (blanks for character keys, NULs for others).
// Equal keys are ordered by record number, so every (key, record) pair is unique and the tree is
// kept in that order.
#pragma once

#include "File.h"
#include "Status.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace albumora::store {

constexpr std::uint32_t kPageSize = 512;
constexpr int kMaxKeyLength = 240;
constexpr std::uint32_t kNoPage = 0xFFFFFFFFu;

struct IndexEntry {
    std::string key;
    std::uint32_t recno = 0;
};

// Keys of many records in one buffer, keyLength bytes each, for building trees in bulk.
struct KeyList {
    int keyLength = 0;
    std::string keys;
    std::vector<std::uint32_t> recnos;
    size_t size() const { return recnos.size(); }
    void add(std::string_view key, std::uint32_t recno);
    // Orders by key bytes, then record number.
    void sort();
};

// A decoded node. Keys are kept in one buffer, keyLength bytes each.
struct IndexNode {
    std::uint16_t attr = 0;
    std::uint32_t left = kNoPage;
    std::uint32_t right = kNoPage;
    std::string keys;
    std::vector<std::uint32_t> recnos;
    std::vector<std::uint32_t> children;  // interior nodes only
    bool isLeaf() const { return attr & 2; }
    bool isRoot() const { return attr & 1; }
    size_t size() const { return recnos.size(); }
};

class IndexFile;
class KeySource;

// A position in a tag: a leaf and an entry in it. It stays valid until the file changes.
struct TreePos {
    std::uint32_t leaf = kNoPage;
    int index = -1;
    std::uint64_t stamp = 0;
    bool valid() const { return leaf != kNoPage; }
};

class Tree {
public:
    struct Info {
        std::string name;  // upper case; empty for the tag directory and .IDX files
        std::string keyExpr;
        std::string forExpr;
        int keyLength = 0;
        std::uint8_t options = 0;
        bool descending = false;
    };

    Tree(IndexFile* file, std::uint32_t headerOffset, Info info, std::uint32_t root, char pad);

    const Info& info() const { return info_; }
    std::uint32_t headerOffset() const { return headerOffset_; }
    std::uint32_t root() const { return root_; }
    char pad() const { return pad_; }
    int keyLength() const { return info_.keyLength; }
    const QString& filePath() const;

    // Navigation. They return false when there is no such entry.
    Result<bool> first(TreePos& pos);
    Result<bool> last(TreePos& pos);
    Result<bool> next(TreePos& pos);
    Result<bool> prior(TreePos& pos);
    // First entry at or after (key, recno); key is padded to the key length.
    Result<bool> seek(std::string_view key, std::uint32_t recno, TreePos& pos);
    Result<IndexEntry> entry(const TreePos& pos);
    // The entry's record number alone, without copying its key.
    Result<std::uint32_t> recnoAt(const TreePos& pos);
    bool current(const TreePos& pos) const;

    Status insert(std::string_view key, std::uint32_t recno);
    Status erase(std::string_view key, std::uint32_t recno);

    // Checks the whole structure: each node reached once, keys rising, interior keys equal to
    // the greatest key below them, sibling links forming one chain per level.
    Status verify();
    // A few pages' worth of the same checks, cheap enough for every open: the header's root,
    // the leftmost, middle and rightmost paths from the root to a leaf (node kinds, equal
    // depths, interior keys the greatest of their child, keys rising, open sibling ends) and
    // record numbers of the leaves met within 1..maxRecno (0: not checked).
    Status checkEdges(std::uint32_t maxRecno);
    // Walks every entry in order, checking the structure; fn returns false to stop.
    template <class Fn>
    Status forEach(Fn&& fn);

    // Lays out sorted keys as a fresh tree of pages appended to the file, the leaves left to
    // right and then each level above, in large writes; returns the root.
    static Result<std::uint32_t> build(IndexFile* file, KeySource& sorted, char pad);
    // Key bytes of non-character keys are padded with NULs; set before the tree is read.
    void setPad(char pad) { pad_ = pad; }
    std::string padKey(std::string_view key) const;

private:
    friend class IndexFile;
    struct PathStep {
        std::uint32_t page;
        int index;
    };
    Result<std::shared_ptr<const IndexNode>> node(std::uint32_t page);
    Status checkRootFlag(const IndexNode& n, int depth, std::uint32_t page) const;
    Result<std::uint32_t> descend(std::string_view key, std::uint32_t recno, std::vector<PathStep>* path, bool forInsert);
    Status store(std::vector<PathStep>& path, std::uint32_t page, IndexNode node);
    Status updateSeparator(std::vector<PathStep>& path, const IndexNode& child);
    Status setRoot(std::uint32_t page);
    int compare(const IndexNode& n, size_t i, std::string_view key, std::uint32_t recno) const;

    IndexFile* file_;
    std::uint32_t headerOffset_;
    Info info_;
    std::uint32_t root_;
    char pad_;
};

class IndexFile {
public:
    enum class Kind { Compound, Single };

    static Result<std::unique_ptr<IndexFile>> open(const QString& path, bool writable, Kind kind = Kind::Compound);
    // Writes an empty compound file (a tag directory with no tags). sync: on disk before this
    // returns; a file that a build fills and syncs before it takes its name need not be.
    static Status createCompound(const QString& path, bool sync = true);

    const QString& path() const { return file_.path(); }
    Kind kind() const { return kind_; }
    std::vector<Tree*> tags();
    Tree* tag(std::string_view name);  // without regard to case
    Tree* single() { return trees_.empty() ? nullptr : trees_.front().get(); }

    // Adds a tag built from sorted entries, replacing a tag of the same name.
    Status addTag(const std::string& name, const std::string& keyExpr, const std::string& forExpr, char pad,
                  KeySource& sorted);
    Status addTag(const std::string& name, const std::string& keyExpr, const std::string& forExpr, char pad,
                  const KeyList& sorted);
    Status removeTag(std::string_view name);
    // Writes a new single-order file holding the sorted entries.
    static Status createSingle(const QString& path, const std::string& keyExpr, char pad, KeySource& sorted);

    Status sync() { return file_.sync(); }
    File& file() { return file_; }
    std::uint64_t stamp() const { return stamp_; }

    // Page access for the trees.
    // ordered: the node's entries must rise (every tag but a descending one of another program).
    Result<std::shared_ptr<const IndexNode>> readNode(std::uint32_t page, int keyLength, char pad, bool ordered = true);
    Status writeNode(std::uint32_t page, const IndexNode& node, int keyLength, char pad);
    Result<std::uint32_t> allocate(std::uint32_t pages = 1);
    void release(std::uint32_t page);
    Status writeRaw(std::uint32_t offset, const void* data, size_t len);
    void touch();

private:
    friend class Tree;
    IndexFile() = default;
    Status load();
    void cacheNode(std::uint32_t page, std::shared_ptr<const IndexNode> node);
    Status readTagHeader(std::uint32_t offset, Tree::Info& info, std::uint32_t& root);
    static std::string encodeTagHeader(const Tree::Info& info, std::uint32_t root);
    void freeTree(std::uint32_t root, int keyLength, char pad, int depth);

    File file_;
    Kind kind_ = Kind::Compound;
    bool writable_ = false;
    std::int64_t fileSize_ = 0;
    std::unique_ptr<Tree> directory_;
    std::vector<std::unique_ptr<Tree>> trees_;
    std::vector<std::uint32_t> freePages_;
    std::uint64_t stamp_ = 0;

    // Decoded nodes, least recently used dropped first.
    struct Cached {
        std::shared_ptr<const IndexNode> node;
        std::uint64_t used;
    };
    std::unordered_map<std::uint32_t, Cached> cache_;
    std::uint64_t clock_ = 0;
    static constexpr size_t kCacheNodes = 16384;
};

template <class Fn>
Status Tree::forEach(Fn&& fn) {
    TreePos pos;
    ALB_ASSIGN_OR_RETURN(bool more, first(pos));
    while (more) {
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entry(pos));
        if (!fn(e)) return {};
        ALB_ASSIGN_OR_RETURN(more, next(pos));
    }
    return {};
}

// Key encodings for non-character keys, so that byte order is value order.
std::string encodeNumberKey(double v);   // 8 bytes: numbers, dates (as Julian day numbers)
std::string encodeIntegerKey(std::int32_t v);  // 4 bytes: Visual FoxPro integer fields
double decodeNumberKey(std::string_view k);

}  // namespace albumora::store
