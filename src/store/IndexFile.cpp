#include "IndexFile.h"

#include "Bytes.h"
#include "Codepage.h"
#include "IndexBuild.h"

#include <QFileInfo>

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

namespace albumora::store {
namespace {

constexpr int kLeafHeader = 24;
constexpr int kLeafSpace = int(kPageSize) - kLeafHeader;  // 488
constexpr int kInteriorSpace = int(kPageSize) - 12;         // 500
constexpr int kMaxDepth = 32;

int bitWidth(std::uint32_t v) { return v == 0 ? 1 : int(std::bit_width(v)); }

QString fileName(const QString& p) { return QFileInfo(p).fileName(); }

struct LeafLayout {
    int recBits, dupBits, trailBits, bytes;
};

LeafLayout layoutFor(int keyLength, std::uint32_t maxRecno) {
    LeafLayout l;
    l.dupBits = l.trailBits = bitWidth(std::uint32_t(keyLength));
    int rec = bitWidth(maxRecno);
    l.bytes = (rec + l.dupBits + l.trailBits + 7) / 8;
    l.recBits = std::min(32, l.bytes * 8 - l.dupBits - l.trailBits);
    return l;
}

// Both run for every key of every tag built, so they look at eight bytes at a time.
int trailingPad(const char* key, int keyLength, char pad) {
    const std::uint64_t pads = 0x0101010101010101ull * static_cast<unsigned char>(pad);
    int t = 0;
    while (keyLength - t >= 8) {
        std::uint64_t w;
        std::memcpy(&w, key + keyLength - t - 8, 8);
        const std::uint64_t diff = w ^ pads;
        // Little-endian: the last byte of the key is the word's most significant.
        if (diff) return t + std::countl_zero(diff) / 8;
        t += 8;
    }
    while (t < keyLength && key[keyLength - 1 - t] == pad) ++t;
    return t;
}

int commonPrefix(const char* a, const char* b, int n) {
    int i = 0;
    while (n - i >= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return i + std::countr_zero(x ^ y) / 8;
        i += 8;
    }
    if (i < n && n >= 8) {
        // The last eight bytes, overlapping those already found equal.
        std::uint64_t x, y;
        std::memcpy(&x, a + n - 8, 8);
        std::memcpy(&y, b + n - 8, 8);
        return x != y ? n - 8 + std::countr_zero(x ^ y) / 8 : n;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Bytes a key takes in a leaf after its predecessor (nullptr for the first of the leaf).
int storedBytes(const char* key, const char* prev, int keyLength, char pad) {
    int trail = trailingPad(key, keyLength, pad);
    int dup = prev ? std::min(commonPrefix(key, prev, keyLength), keyLength - trail) : 0;
    return keyLength - dup - trail;
}

// Encoded size of entries [from, to) of a leaf as one node.
int leafSize(const IndexNode& n, size_t from, size_t to, int keyLength, char pad) {
    if (from >= to) return 0;
    std::uint32_t maxRec = 1;
    int stored = 0;
    for (size_t i = from; i < to; ++i) {
        maxRec = std::max(maxRec, n.recnos[i]);
        stored += storedBytes(n.keys.data() + i * size_t(keyLength),
                              i == from ? nullptr : n.keys.data() + (i - 1) * size_t(keyLength), keyLength, pad);
    }
    return int(to - from) * layoutFor(keyLength, maxRec).bytes + stored;
}

bool encodeLeaf(const IndexNode& n, int keyLength, char pad, unsigned char* out) {
    const size_t count = n.size();
    std::uint32_t maxRec = 1;
    for (std::uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
    const LeafLayout l = layoutFor(keyLength, maxRec);
    // One pass works out each key's compression; the bytes are written only when they fit.
    struct Packed {
        std::uint8_t dup, trail;
    };
    Packed packed[kLeafSpace];  // a leaf never holds more entries than bytes
    if (count > size_t(kLeafSpace)) return false;
    int used = int(count) * l.bytes;
    for (size_t i = 0; i < count; ++i) {
        const char* key = n.keys.data() + i * size_t(keyLength);
        const int trail = trailingPad(key, keyLength, pad);
        const int dup = i ? std::min(commonPrefix(key, key - keyLength, keyLength), keyLength - trail) : 0;
        packed[i] = {std::uint8_t(dup), std::uint8_t(trail)};
        used += keyLength - dup - trail;
        if (used > kLeafSpace) return false;
    }
    std::memset(out, 0, kPageSize);
    putLe16(out, n.attr);
    putLe16(out + 2, std::uint16_t(count));
    putLe32(out + 4, n.left);
    putLe32(out + 8, n.right);
    const std::uint32_t recMask = l.recBits >= 32 ? 0xFFFFFFFFu : ((1u << l.recBits) - 1);
    putLe32(out + 14, recMask);
    out[18] = std::uint8_t((1u << l.dupBits) - 1);
    out[19] = std::uint8_t((1u << l.trailBits) - 1);
    out[20] = std::uint8_t(l.recBits);
    out[21] = std::uint8_t(l.dupBits);
    out[22] = std::uint8_t(l.trailBits);
    out[23] = std::uint8_t(l.bytes);
    int keyEnd = int(kPageSize);
    for (size_t i = 0; i < count; ++i) {
        const char* key = n.keys.data() + i * size_t(keyLength);
        const int dup = packed[i].dup, trail = packed[i].trail;
        const int stored = keyLength - dup - trail;
        std::uint64_t v = std::uint64_t(n.recnos[i]) | (std::uint64_t(dup) << l.recBits) |
                          (std::uint64_t(trail) << (l.recBits + l.dupBits));
        unsigned char* e = out + kLeafHeader + i * size_t(l.bytes);
        for (int b = 0; b < l.bytes; ++b) e[b] = std::uint8_t(v >> (8 * b));
        keyEnd -= stored;
        std::memcpy(out + keyEnd, key + dup, size_t(stored));
    }
    putLe16(out + 12, std::uint16_t(kLeafSpace - used));
    return true;
}

int interiorCapacity(int keyLength) { return kInteriorSpace / (keyLength + 8); }

void encodeInterior(const IndexNode& n, int keyLength, unsigned char* out) {
    std::memset(out, 0, kPageSize);
    putLe16(out, n.attr);
    putLe16(out + 2, std::uint16_t(n.size()));
    putLe32(out + 4, n.left);
    putLe32(out + 8, n.right);
    unsigned char* e = out + 12;
    for (size_t i = 0; i < n.size(); ++i) {
        std::memcpy(e, n.keys.data() + i * size_t(keyLength), size_t(keyLength));
        putBe32(e + keyLength, n.recnos[i]);
        putBe32(e + keyLength + 4, n.children[i]);
        e += keyLength + 8;
    }
}

int comparePair(const char* a, std::uint32_t ra, const char* b, std::uint32_t rb, int keyLength) {
    int c = std::memcmp(a, b, size_t(keyLength));
    if (c) return c;
    return ra < rb ? -1 : ra > rb ? 1 : 0;
}

}  // namespace

std::string encodeNumberKey(double v) {
    if (v == 0) v = 0;  // one key for -0 and +0
    std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    bits = (bits & 0x8000000000000000ull) ? ~bits : (bits ^ 0x8000000000000000ull);
    std::string k(8, '\0');
    for (int i = 0; i < 8; ++i) k[size_t(i)] = char(bits >> (56 - 8 * i));
    return k;
}

double decodeNumberKey(std::string_view k) {
    if (k.size() < 8) return 0;
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(k[size_t(i)]);
    bits = (bits & 0x8000000000000000ull) ? (bits ^ 0x8000000000000000ull) : ~bits;
    return std::bit_cast<double>(bits);
}

std::string encodeIntegerKey(std::int32_t v) {
    std::string k(4, '\0');
    putBe32(k.data(), std::uint32_t(v) ^ 0x80000000u);
    return k;
}

// ---------------------------------------------------------------------------------------------
// Tree

Tree::Tree(IndexFile* file, std::uint32_t headerOffset, Info info, std::uint32_t root, char pad)
    : file_(file), headerOffset_(headerOffset), info_(std::move(info)), root_(root), pad_(pad) {}

std::string Tree::padKey(std::string_view key) const {
    std::string k(key.substr(0, size_t(info_.keyLength)));
    k.resize(size_t(info_.keyLength), pad_);
    return k;
}

Result<std::shared_ptr<const IndexNode>> Tree::node(std::uint32_t page) {
    return file_->readNode(page, info_.keyLength, pad_, !info_.descending);
}

int Tree::compare(const IndexNode& n, size_t i, std::string_view key, std::uint32_t recno) const {
    return comparePair(n.keys.data() + i * size_t(info_.keyLength), n.recnos[i], key.data(), recno, info_.keyLength);
}

const QString& Tree::filePath() const { return file_->path(); }

bool Tree::current(const TreePos& pos) const { return pos.valid() && pos.stamp == file_->stamp(); }

// Only the node the header points at is marked as the root; a mark anywhere else, or none on
// the root, is a page that does not belong where it was found.
Status Tree::checkRootFlag(const IndexNode& n, int depth, std::uint32_t page) const {
    if ((depth == 0) == n.isRoot()) return {};
    return Status(ErrorKind::Corruption,
                  QStringLiteral("%1: index node %2 %3").arg(fileName(file_->path())).arg(page)
                      .arg(depth == 0 ? QStringLiteral("is the root but not marked as one") : QStringLiteral("is marked as a root below the root")),
                  file_->path(), page);
}

Result<std::uint32_t> Tree::descend(std::string_view key, std::uint32_t recno, std::vector<PathStep>* path,
                                    bool forInsert) {
    std::uint32_t page = root_;
    std::shared_ptr<const IndexNode> parent;
    size_t parentIndex = 0;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        ALB_ASSIGN_OR_RETURN(auto n, node(page));
        ALB_TRY(checkRootFlag(*n, depth, page));
        // A child's greatest key is its parent's key for it: a cheap test on every descent that
        // catches a damaged interior node before it sends a seek the wrong way.
        if (parent && (n->size() == 0 || std::memcmp(n->keys.data() + (n->size() - 1) * size_t(info_.keyLength),
                                                     parent->keys.data() + parentIndex * size_t(info_.keyLength),
                                                     size_t(info_.keyLength)) != 0))
            return Status(ErrorKind::Corruption,
                          QStringLiteral("%1: index node %2 does not match its parent's key").arg(fileName(file_->path())).arg(page),
                          file_->path(), page);
        if (n->isLeaf()) return page;
        if (n->size() == 0)
            return Status(ErrorKind::Corruption, QStringLiteral("Empty interior node in %1").arg(fileName(file_->path())),
                          file_->path(), page);
        size_t lo = 0, hi = n->size();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (compare(*n, mid, key, recno) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == n->size()) {
            if (!forInsert) return kNoPage;
            lo = n->size() - 1;
        }
        if (path) path->push_back({page, int(lo)});
        parent = n;
        parentIndex = lo;
        page = n->children[lo];
    }
    return Status(ErrorKind::Corruption, QStringLiteral("The index tree of %1 is too deep (a loop?)").arg(fileName(file_->path())),
                  file_->path(), root_);
}

Result<bool> Tree::first(TreePos& pos) {
    std::uint32_t page = root_;
    for (int depth = 0;; ++depth) {
        if (depth >= kMaxDepth)
            return Status(ErrorKind::Corruption, QStringLiteral("The index tree of %1 is too deep").arg(fileName(file_->path())),
                          file_->path(), root_);
        ALB_ASSIGN_OR_RETURN(auto n, node(page));
        ALB_TRY(checkRootFlag(*n, depth, page));
        if (n->isLeaf()) {
            pos = {page, 0, file_->stamp()};
            if (n->size() > 0) return true;
            pos.index = -1;
            return next(pos);
        }
        if (n->size() == 0)
            return Status(ErrorKind::Corruption, QStringLiteral("Empty interior node in %1").arg(fileName(file_->path())),
                          file_->path(), page);
        page = n->children[0];
    }
}

Result<bool> Tree::last(TreePos& pos) {
    std::uint32_t page = root_;
    for (int depth = 0;; ++depth) {
        if (depth >= kMaxDepth)
            return Status(ErrorKind::Corruption, QStringLiteral("The index tree of %1 is too deep").arg(fileName(file_->path())),
                          file_->path(), root_);
        ALB_ASSIGN_OR_RETURN(auto n, node(page));
        ALB_TRY(checkRootFlag(*n, depth, page));
        if (n->isLeaf()) {
            pos = {page, int(n->size()), file_->stamp()};
            return prior(pos);
        }
        if (n->size() == 0)
            return Status(ErrorKind::Corruption, QStringLiteral("Empty interior node in %1").arg(fileName(file_->path())),
                          file_->path(), page);
        page = n->children.back();
    }
}

Result<bool> Tree::next(TreePos& pos) {
    ALB_ASSIGN_OR_RETURN(auto n, node(pos.leaf));
    if (pos.index + 1 < int(n->size())) {
        ++pos.index;
        return true;
    }
    // Across leaves the keys must keep rising: that also stops a damaged sibling chain from
    // looping forever.
    std::string lastKey;
    std::uint32_t lastRec = 0;
    bool haveLast = n->size() > 0;
    if (haveLast) {
        lastKey.assign(n->keys.data() + (n->size() - 1) * size_t(info_.keyLength), size_t(info_.keyLength));
        lastRec = n->recnos.back();
    }
    std::uint32_t from = pos.leaf;
    std::uint32_t page = n->right;
    const std::int64_t maxHops = std::int64_t(file_->fileSize_ / kPageSize) + 1;
    for (std::int64_t hop = 0; page != kNoPage; ++hop) {
        if (hop > maxHops)
            return Status(ErrorKind::Corruption, QStringLiteral("The leaf chain of %1 loops").arg(fileName(file_->path())),
                          file_->path(), page);
        ALB_ASSIGN_OR_RETURN(auto r, node(page));
        if (!r->isLeaf() || r->isRoot() || r->left != from)
            return Status(ErrorKind::Corruption, QStringLiteral("Broken leaf chain in %1").arg(fileName(file_->path())),
                          file_->path(), page);
        if (r->size() > 0) {
            if (haveLast && !info_.descending && compare(*r, 0, lastKey, lastRec) <= 0)
                return Status(ErrorKind::Corruption, QStringLiteral("Keys out of order in %1").arg(fileName(file_->path())),
                              file_->path(), page);
            pos = {page, 0, pos.stamp};
            return true;
        }
        from = page;
        page = r->right;
    }
    return false;
}

Result<bool> Tree::prior(TreePos& pos) {
    ALB_ASSIGN_OR_RETURN(auto n, node(pos.leaf));
    if (pos.index > 0 && pos.index <= int(n->size())) {
        --pos.index;
        return true;
    }
    std::string firstKey;
    std::uint32_t firstRec = 0;
    bool haveFirst = n->size() > 0;
    if (haveFirst) {
        firstKey.assign(n->keys.data(), size_t(info_.keyLength));
        firstRec = n->recnos.front();
    }
    std::uint32_t from = pos.leaf;
    std::uint32_t page = n->left;
    const std::int64_t maxHops = std::int64_t(file_->fileSize_ / kPageSize) + 1;
    for (std::int64_t hop = 0; page != kNoPage; ++hop) {
        if (hop > maxHops)
            return Status(ErrorKind::Corruption, QStringLiteral("The leaf chain of %1 loops").arg(fileName(file_->path())),
                          file_->path(), page);
        ALB_ASSIGN_OR_RETURN(auto l, node(page));
        if (!l->isLeaf() || l->isRoot() || l->right != from)
            return Status(ErrorKind::Corruption, QStringLiteral("Broken leaf chain in %1").arg(fileName(file_->path())),
                          file_->path(), page);
        if (l->size() > 0) {
            if (haveFirst && !info_.descending && compare(*l, l->size() - 1, firstKey, firstRec) >= 0)
                return Status(ErrorKind::Corruption, QStringLiteral("Keys out of order in %1").arg(fileName(file_->path())),
                              file_->path(), page);
            pos = {page, int(l->size()) - 1, pos.stamp};
            return true;
        }
        from = page;
        page = l->left;
    }
    return false;
}

Result<bool> Tree::seek(std::string_view keyIn, std::uint32_t recno, TreePos& pos) {
    const std::string key = padKey(keyIn);
    ALB_ASSIGN_OR_RETURN(std::uint32_t leaf, descend(key, recno, nullptr, false));
    if (leaf == kNoPage) return false;
    ALB_ASSIGN_OR_RETURN(auto n, node(leaf));
    size_t lo = 0, hi = n->size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (compare(*n, mid, key, recno) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    pos = {leaf, int(lo), file_->stamp()};
    if (lo < n->size()) return true;
    pos.index = int(n->size()) - 1;
    if (n->size() == 0) pos.index = -1;
    return next(pos);
}

Result<std::uint32_t> Tree::recnoAt(const TreePos& pos) {
    ALB_ASSIGN_OR_RETURN(auto n, node(pos.leaf));
    if (pos.index < 0 || size_t(pos.index) >= n->size())
        return Status(ErrorKind::NotFound, QStringLiteral("No index entry here"), file_->path(), pos.leaf);
    return n->recnos[size_t(pos.index)];
}

Result<IndexEntry> Tree::entry(const TreePos& pos) {
    ALB_ASSIGN_OR_RETURN(auto n, node(pos.leaf));
    if (pos.index < 0 || pos.index >= int(n->size()))
        return Status(ErrorKind::NotFound, QStringLiteral("No index entry here"), file_->path(), pos.leaf);
    IndexEntry e;
    e.key.assign(n->keys.data() + size_t(pos.index) * size_t(info_.keyLength), size_t(info_.keyLength));
    e.recno = n->recnos[size_t(pos.index)];
    return e;
}

Status Tree::setRoot(std::uint32_t page) {
    root_ = page;
    unsigned char b[4];
    putLe32(b, page);
    return file_->writeRaw(headerOffset_, b, 4);
}

Status Tree::insert(std::string_view keyIn, std::uint32_t recno) {
    const std::string key = padKey(keyIn);
    std::vector<PathStep> path;
    ALB_ASSIGN_OR_RETURN(std::uint32_t leaf, descend(key, recno, &path, true));
    ALB_ASSIGN_OR_RETURN(auto cur, node(leaf));
    IndexNode n = *cur;
    size_t lo = 0, hi = n.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (compare(n, mid, key, recno) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < n.size() && compare(n, lo, key, recno) == 0) return {};  // already indexed
    n.keys.insert(lo * size_t(info_.keyLength), key);
    n.recnos.insert(n.recnos.begin() + std::ptrdiff_t(lo), recno);
    file_->touch();
    return store(path, leaf, std::move(n));
}

Status Tree::erase(std::string_view keyIn, std::uint32_t recno) {
    const std::string key = padKey(keyIn);
    std::vector<PathStep> path;
    ALB_ASSIGN_OR_RETURN(std::uint32_t leaf, descend(key, recno, &path, false));
    auto missing = [&] {
        return Status(ErrorKind::IndexStale,
                      QStringLiteral("The index tag %1 of %2 lacks the key of record %3")
                          .arg(QString::fromLatin1(info_.name.c_str()), fileName(file_->path()))
                          .arg(recno),
                      file_->path());
    };
    if (leaf == kNoPage) return missing();
    ALB_ASSIGN_OR_RETURN(auto cur, node(leaf));
    IndexNode n = *cur;
    size_t lo = 0, hi = n.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (compare(n, mid, key, recno) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo >= n.size() || compare(n, lo, key, recno) != 0) return missing();
    n.keys.erase(lo * size_t(info_.keyLength), size_t(info_.keyLength));
    n.recnos.erase(n.recnos.begin() + std::ptrdiff_t(lo));
    file_->touch();
    return store(path, leaf, std::move(n));
}

Status Tree::updateSeparator(std::vector<PathStep>& path, const IndexNode& child) {
    const int kl = info_.keyLength;
    const IndexNode* c = &child;
    IndexNode parentCopy;
    while (!path.empty() && c->size() > 0) {
        PathStep step = path.back();
        path.pop_back();
        ALB_ASSIGN_OR_RETURN(auto p, node(step.page));
        // Copied: c may be parentCopy itself, which is overwritten below.
        const std::string maxKeyCopy(c->keys.data() + (c->size() - 1) * size_t(kl), size_t(kl));
        const char* maxKey = maxKeyCopy.data();
        const std::uint32_t maxRec = c->recnos.back();
        if (size_t(step.index) >= p->size())
            return Status(ErrorKind::Corruption, QStringLiteral("Broken interior node"), file_->path(), step.page);
        if (comparePair(p->keys.data() + size_t(step.index) * size_t(kl), p->recnos[size_t(step.index)], maxKey, maxRec, kl) == 0)
            return {};
        parentCopy = *p;
        std::memcpy(parentCopy.keys.data() + size_t(step.index) * size_t(kl), maxKey, size_t(kl));
        parentCopy.recnos[size_t(step.index)] = maxRec;
        ALB_TRY(file_->writeNode(step.page, parentCopy, kl, pad_));
        if (size_t(step.index) + 1 != parentCopy.size()) return {};
        c = &parentCopy;
    }
    return {};
}

Status Tree::store(std::vector<PathStep>& path, std::uint32_t page, IndexNode n) {
    const int kl = info_.keyLength;
    if (n.size() == 0) {
        if (path.empty()) {  // the root stays, as an empty leaf
            IndexNode empty;
            empty.attr = 3;
            return file_->writeNode(page, empty, kl, pad_);
        }
        if (n.left != kNoPage) {
            ALB_ASSIGN_OR_RETURN(auto l, node(n.left));
            IndexNode lc = *l;
            lc.right = n.right;
            ALB_TRY(file_->writeNode(n.left, lc, kl, pad_));
        }
        if (n.right != kNoPage) {
            ALB_ASSIGN_OR_RETURN(auto r, node(n.right));
            IndexNode rc = *r;
            rc.left = n.left;
            ALB_TRY(file_->writeNode(n.right, rc, kl, pad_));
        }
        file_->release(page);
        PathStep step = path.back();
        path.pop_back();
        ALB_ASSIGN_OR_RETURN(auto p, node(step.page));
        IndexNode pc = *p;
        pc.keys.erase(size_t(step.index) * size_t(kl), size_t(kl));
        pc.recnos.erase(pc.recnos.begin() + step.index);
        pc.children.erase(pc.children.begin() + step.index);
        return store(path, step.page, std::move(pc));
    }

    const bool fits = n.isLeaf() ? leafSize(n, 0, n.size(), kl, pad_) <= kLeafSpace
                                 : int(n.size()) <= interiorCapacity(kl);
    if (fits) {
        ALB_TRY(file_->writeNode(page, n, kl, pad_));
        return updateSeparator(path, n);
    }

    // Split into as few parts as fit, as even as possible.
    std::vector<std::pair<size_t, size_t>> ranges;
    const size_t count = n.size();
    if (n.isLeaf()) {
        bool done = false;
        for (size_t d = 0; d < count && !done; ++d) {
            for (int sgn : {1, -1}) {
                std::ptrdiff_t at = std::ptrdiff_t(count / 2) + sgn * std::ptrdiff_t(d);
                if (at < 1 || at >= std::ptrdiff_t(count)) continue;
                if (leafSize(n, 0, size_t(at), kl, pad_) <= kLeafSpace &&
                    leafSize(n, size_t(at), count, kl, pad_) <= kLeafSpace) {
                    ranges = {{0, size_t(at)}, {size_t(at), count}};
                    done = true;
                    break;
                }
            }
        }
        if (!done) {  // greedy: fill each part in turn
            size_t from = 0;
            while (from < count) {
                size_t to = from + 1;
                while (to < count && leafSize(n, from, to + 1, kl, pad_) <= kLeafSpace) ++to;
                ranges.push_back({from, to});
                from = to;
            }
        }
    } else {
        const size_t cap = size_t(interiorCapacity(kl));
        const size_t parts = (count + cap - 1) / cap < 2 ? 2 : (count + cap - 1) / cap;
        size_t from = 0;
        for (size_t k = 0; k < parts; ++k) {
            size_t to = count * (k + 1) / parts;
            ranges.push_back({from, to});
            from = to;
        }
    }

    std::vector<IndexNode> parts;
    for (auto [from, to] : ranges) {
        IndexNode part;
        part.attr = std::uint16_t(n.attr & ~1u);
        part.keys.assign(n.keys, from * size_t(kl), (to - from) * size_t(kl));
        part.recnos.assign(n.recnos.begin() + std::ptrdiff_t(from), n.recnos.begin() + std::ptrdiff_t(to));
        if (!n.isLeaf())
            part.children.assign(n.children.begin() + std::ptrdiff_t(from), n.children.begin() + std::ptrdiff_t(to));
        parts.push_back(std::move(part));
    }
    std::vector<std::uint32_t> pages{page};
    for (size_t k = 1; k < parts.size(); ++k) {
        ALB_ASSIGN_OR_RETURN(std::uint32_t p, file_->allocate());
        pages.push_back(p);
    }
    for (size_t k = 0; k < parts.size(); ++k) {
        parts[k].left = k == 0 ? n.left : pages[k - 1];
        parts[k].right = k + 1 == parts.size() ? n.right : pages[k + 1];
    }
    if (n.right != kNoPage) {
        ALB_ASSIGN_OR_RETURN(auto r, node(n.right));
        IndexNode rc = *r;
        rc.left = pages.back();
        ALB_TRY(file_->writeNode(n.right, rc, kl, pad_));
    }
    // New pages first, the page the parent already points at last.
    for (size_t k = parts.size(); k-- > 0;) ALB_TRY(file_->writeNode(pages[k], parts[k], kl, pad_));

    IndexNode parentEntries;
    for (size_t k = 0; k < parts.size(); ++k) {
        parentEntries.keys.append(parts[k].keys, (parts[k].size() - 1) * size_t(kl), size_t(kl));
        parentEntries.recnos.push_back(parts[k].recnos.back());
        parentEntries.children.push_back(pages[k]);
    }
    if (path.empty()) {
        parentEntries.attr = 1;
        ALB_ASSIGN_OR_RETURN(std::uint32_t rootPage, file_->allocate());
        ALB_TRY(file_->writeNode(rootPage, parentEntries, kl, pad_));
        return setRoot(rootPage);
    }
    PathStep step = path.back();
    path.pop_back();
    ALB_ASSIGN_OR_RETURN(auto p, node(step.page));
    IndexNode pc = *p;
    const size_t at = size_t(step.index);
    pc.keys.replace(at * size_t(kl), size_t(kl), parentEntries.keys);
    pc.recnos.erase(pc.recnos.begin() + std::ptrdiff_t(at));
    pc.recnos.insert(pc.recnos.begin() + std::ptrdiff_t(at), parentEntries.recnos.begin(), parentEntries.recnos.end());
    pc.children.erase(pc.children.begin() + std::ptrdiff_t(at));
    pc.children.insert(pc.children.begin() + std::ptrdiff_t(at), parentEntries.children.begin(), parentEntries.children.end());
    return store(path, step.page, std::move(pc));
}

void KeyList::add(std::string_view key, std::uint32_t recno) {
    const size_t at = keys.size();
    keys.append(key.substr(0, size_t(keyLength)));
    keys.resize(at + size_t(keyLength), ' ');
    recnos.push_back(recno);
}

void KeyList::sort() {
    const size_t n = recnos.size();
    const size_t kl = size_t(keyLength);
    std::vector<std::uint32_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = std::uint32_t(i);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        int c = std::memcmp(keys.data() + a * kl, keys.data() + b * kl, kl);
        return c ? c < 0 : recnos[a] < recnos[b];
    });
    std::string k(keys.size(), '\0');
    std::vector<std::uint32_t> r(n);
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(k.data() + i * kl, keys.data() + order[i] * kl, kl);
        r[i] = recnos[order[i]];
    }
    keys.swap(k);
    recnos.swap(r);
}

Status Tree::verify() {
    const QString fname = fileName(file_->path());
    auto bad = [&](std::uint32_t page, const QString& why) {
        return Status(ErrorKind::Corruption, QStringLiteral("%1: tag %2: %3").arg(fname, QString::fromLatin1(info_.name.c_str()), why),
                      file_->path(), page);
    };
    const int kl = info_.keyLength;
    std::set<std::uint32_t> seen;
    // Level by level: every node once, its entries rising, each interior key the greatest key
    // below it, the sibling links of each level one chain in key order.
    std::vector<std::uint32_t> level{root_};
    for (int depth = 0; !level.empty(); ++depth) {
        if (depth >= kMaxDepth) return bad(root_, QStringLiteral("the tree is too deep"));
        std::vector<std::uint32_t> below;
        bool leaves = false;
        for (size_t i = 0; i < level.size(); ++i) {
            const std::uint32_t page = level[i];
            if (!seen.insert(page).second) return bad(page, QStringLiteral("node %1 is reached twice").arg(page));
            ALB_ASSIGN_OR_RETURN(auto n, node(page));
            if (i == 0) leaves = n->isLeaf();
            if (n->isLeaf() != leaves) return bad(page, QStringLiteral("leaves at different depths"));
            if (depth == 0 && !n->isRoot()) return bad(page, QStringLiteral("the root node is not marked as root"));
            if (depth > 0 && n->isRoot()) return bad(page, QStringLiteral("node %1 is marked as root").arg(page));
            const std::uint32_t wantLeft = i == 0 ? kNoPage : level[i - 1];
            const std::uint32_t wantRight = i + 1 == level.size() ? kNoPage : level[i + 1];
            if (n->left != wantLeft || n->right != wantRight)
                return bad(page, QStringLiteral("the sibling links of node %1 are broken").arg(page));
            for (size_t k = 1; k < n->size() && !info_.descending; ++k)
                if (compare(*n, k, std::string_view(n->keys.data() + (k - 1) * size_t(kl), size_t(kl)), n->recnos[k - 1]) <= 0)
                    return bad(page, QStringLiteral("keys out of order in node %1").arg(page));
            if (!n->isLeaf()) {
                if (n->size() == 0) return bad(page, QStringLiteral("empty interior node %1").arg(page));
                for (size_t k = 0; k < n->size(); ++k) {
                    ALB_ASSIGN_OR_RETURN(auto c, node(n->children[k]));
                    if (c->size() == 0 ||
                        std::memcmp(c->keys.data() + (c->size() - 1) * size_t(kl), n->keys.data() + k * size_t(kl), size_t(kl)) != 0)
                        return bad(page, QStringLiteral("key %1 of node %2 is not the greatest key below it").arg(k).arg(page));
                    below.push_back(n->children[k]);
                }
            } else if (n->size() == 0 && level.size() > 1) {
                return bad(page, QStringLiteral("empty leaf %1").arg(page));
            }
        }
        level = std::move(below);
    }
    return {};
}

Status Tree::checkEdges(std::uint32_t maxRecno) {
    const QString fname = fileName(file_->path());
    auto bad = [&](std::uint32_t page, const QString& why) {
        return Status(ErrorKind::Corruption, QStringLiteral("%1: tag %2: %3").arg(fname, QString::fromLatin1(info_.name.c_str()), why),
                      file_->path(), page);
    };
    const int kl = info_.keyLength;
    enum Edge { Left, Middle, Right };
    int leafDepth = -1;
    for (Edge edge : {Left, Middle, Right}) {
        std::uint32_t page = root_;
        for (int depth = 0;; ++depth) {
            if (depth >= kMaxDepth) return bad(root_, QStringLiteral("the tree is too deep"));
            ALB_ASSIGN_OR_RETURN(auto n, node(page));
            if ((depth == 0) != n->isRoot())
                return bad(page, depth == 0 ? QStringLiteral("the root node is not marked as root")
                                            : QStringLiteral("node %1 is marked as root").arg(page));
            if (edge == Left && n->left != kNoPage) return bad(page, QStringLiteral("the first node of a level has a left sibling"));
            if (edge == Right && n->right != kNoPage) return bad(page, QStringLiteral("the last node of a level has a right sibling"));
            if (depth == 0 && (n->left != kNoPage || n->right != kNoPage)) return bad(page, QStringLiteral("the root has siblings"));
            if (n->isLeaf()) {
                if (leafDepth >= 0 && depth != leafDepth) return bad(page, QStringLiteral("leaves at different depths"));
                leafDepth = depth;
                for (std::uint32_t r : n->recnos)
                    if (r == 0 || (maxRecno && r > maxRecno))
                        return bad(page, QStringLiteral("record number %1 is not in the table").arg(r));
                // The neighbour must point back.
                const std::uint32_t side = edge == Right ? n->left : n->right;
                if (side != kNoPage) {
                    ALB_ASSIGN_OR_RETURN(auto s, node(side));
                    if (!s->isLeaf() || (edge == Right ? s->right : s->left) != page)
                        return bad(side, QStringLiteral("the sibling links of node %1 are broken").arg(side));
                }
                break;
            }
            if (n->size() == 0) return bad(page, QStringLiteral("empty interior node %1").arg(page));
            const size_t i = edge == Left ? 0 : edge == Right ? n->size() - 1 : n->size() / 2;
            const std::uint32_t child = n->children[i];
            ALB_ASSIGN_OR_RETURN(auto c, node(child));
            if (c->size() == 0 ||
                std::memcmp(c->keys.data() + (c->size() - 1) * size_t(kl), n->keys.data() + i * size_t(kl), size_t(kl)) != 0)
                return bad(page, QStringLiteral("key %1 of node %2 is not the greatest key below it").arg(i).arg(page));
            page = child;
        }
    }
    return {};
}

namespace {

// Pages appended after the end of an index file, in writes of many pages.
class PageAppender {
public:
    PageAppender(IndexFile& file, std::int64_t start) : file_(file), start_(start), flushedTo_(start) {}
    // The offset the next page gets.
    std::int64_t nextPage() const { return start_ + std::int64_t(pages_) * kPageSize; }
    Status put(const unsigned char* page) {
        if (nextPage() + std::int64_t(kPageSize) > 0xFFFFFE00LL)
            return Status(ErrorKind::InvalidArgument, QStringLiteral("The index file %1 is full").arg(fileName(file_.path())), file_.path());
        buf_.append(reinterpret_cast<const char*>(page), kPageSize);
        ++pages_;
        return buf_.size() >= kWriteSize ? flush() : Status();
    }
    Status flush() {
        if (buf_.empty()) return {};
        ALB_TRY(file_.writeRaw(std::uint32_t(flushedTo_), buf_.data(), buf_.size()));
        // The disk starts on the pages now, so that the sync that ends the build has little left.
        file_.file().startWriteback(flushedTo_, std::int64_t(buf_.size()));
        flushedTo_ += std::int64_t(buf_.size());
        buf_.clear();
        return {};
    }

private:
    // A quarter MiB a write: few calls, and few fresh pages for the buffer.
    static constexpr size_t kWriteSize = size_t(256) << 10;
    IndexFile& file_;
    std::int64_t start_;
    std::int64_t flushedTo_;
    size_t pages_ = 0;
    std::string buf_;
};

// Leaves filled in key order, each as full as its compression allows, the same greedy fill
// for every build so that equal keys always give equal files.
class LeafPacker {
public:
    LeafPacker(int keyLength, char pad) : kl_(keyLength), pad_(pad), prev_(size_t(keyLength), '\0') { clear(); }

    // Whether the entry fits the current leaf (an empty leaf takes any entry).
    bool fits(const char* key, std::uint32_t recno, int& trail, int& dup) const {
        trail = trailingPad(key, kl_, pad_);
        dup = count_ ? std::min(commonPrefix(key, prev_.data(), kl_), kl_ - trail) : 0;
        if (count_ == 0) return true;
        const int stored = kl_ - dup - trail;
        const int bytes = recno > maxRec_ ? layoutFor(kl_, recno).bytes : entryBytes_;
        return (count_ + 1) * bytes + stored_ + stored <= kLeafSpace;
    }
    void add(const char* key, std::uint32_t recno, int trail, int dup) {
        if (count_ == 0) dup = 0;
        const int stored = kl_ - dup - trail;
        keyEnd_ -= stored;
        std::memcpy(page_ + keyEnd_, key + dup, size_t(stored));
        entries_[size_t(count_)] = {recno, std::uint8_t(dup), std::uint8_t(trail)};
        ++count_;
        if (recno > maxRec_) {
            maxRec_ = recno;
            entryBytes_ = layoutFor(kl_, maxRec_).bytes;
        }
        stored_ += stored;
        // The first dup bytes are the same in both.
        std::memcpy(prev_.data() + dup, key + dup, size_t(kl_ - dup));
    }
    int count() const { return count_; }
    const char* lastKey() const { return prev_.data(); }
    std::uint32_t lastRecno() const { return count_ ? entries_[size_t(count_ - 1)].recno : 0; }
    // The leaf's page bytes; the packer starts a new leaf after.
    const unsigned char* encode(std::uint16_t attr, std::uint32_t left, std::uint32_t right) {
        const LeafLayout l = layoutFor(kl_, maxRec_);
        putLe16(page_, attr);
        putLe16(page_ + 2, std::uint16_t(count_));
        putLe32(page_ + 4, left);
        putLe32(page_ + 8, right);
        putLe16(page_ + 12, std::uint16_t(kLeafSpace - count_ * l.bytes - stored_));
        putLe32(page_ + 14, l.recBits >= 32 ? 0xFFFFFFFFu : ((1u << l.recBits) - 1));
        page_[18] = std::uint8_t((1u << l.dupBits) - 1);
        page_[19] = std::uint8_t((1u << l.trailBits) - 1);
        page_[20] = std::uint8_t(l.recBits);
        page_[21] = std::uint8_t(l.dupBits);
        page_[22] = std::uint8_t(l.trailBits);
        page_[23] = std::uint8_t(l.bytes);
        for (int i = 0; i < count_; ++i) {
            const Entry& e = entries_[size_t(i)];
            const std::uint64_t v = std::uint64_t(e.recno) | (std::uint64_t(e.dup) << l.recBits) |
                                    (std::uint64_t(e.trail) << (l.recBits + l.dupBits));
            unsigned char* p = page_ + kLeafHeader + i * l.bytes;
            for (int b = 0; b < l.bytes; ++b) p[b] = std::uint8_t(v >> (8 * b));
        }
        std::memcpy(out_, page_, kPageSize);
        clear();
        return out_;
    }

private:
    struct Entry {
        std::uint32_t recno;
        std::uint8_t dup, trail;
    };
    void clear() {
        std::memset(page_, 0, kPageSize);
        count_ = 0;
        keyEnd_ = int(kPageSize);
        maxRec_ = 1;
        entryBytes_ = layoutFor(kl_, maxRec_).bytes;
        stored_ = 0;
    }
    int kl_;
    char pad_;
    std::string prev_;
    unsigned char page_[kPageSize];
    unsigned char out_[kPageSize];
    Entry entries_[kLeafSpace];  // a leaf never holds more entries than bytes
    int count_ = 0;
    int keyEnd_ = int(kPageSize);
    std::uint32_t maxRec_ = 1;
    int entryBytes_ = 0;  // of each entry, for the leaf's greatest record number so far
    int stored_ = 0;
};

}  // namespace

Result<std::uint32_t> Tree::build(IndexFile* file, KeySource& sorted, char pad) {
    const int kl = sorted.keyLength();
    const QString folder = QFileInfo(file->path()).absolutePath();
    const QString label = folder + QStringLiteral("/.") + fileName(file->path()) + QStringLiteral(".levels");
    PageAppender out(*file, (file->fileSize_ + kPageSize - 1) / kPageSize * kPageSize);
    // Each node written leaves its greatest entry and its page for the level above:
    // key, record number, page.
    const size_t upSize = size_t(kl) + 8;
    // The levels above the leaves stay in memory up to a share of the build's budget.
    const size_t levelMemory = std::clamp<size_t>(indexBuildBudget() / 8, upSize, size_t(4) << 20);
    auto upper = std::make_unique<SpillBuffer>(upSize, levelMemory, folder, label);
    std::string up(upSize, '\0');
    auto passUp = [&](SpillBuffer& level, const char* key, std::uint32_t recno, std::uint32_t page) {
        std::memcpy(up.data(), key, size_t(kl));
        putBe32(up.data() + kl, recno);
        putBe32(up.data() + kl + 4, page);
        return level.append(up.data());
    };

    // Leaves, on consecutive pages: each one's right sibling is the next page.
    LeafPacker leaf(kl, pad);
    std::uint32_t left = kNoPage;
    std::uint64_t leaves = 0;
    const size_t rs = size_t(kl) + 4;
    for (;;) {
        const char* records = nullptr;
        ALB_ASSIGN_OR_RETURN(size_t got, sorted.nextRecords(records, 4096));
        if (got == 0) break;
        for (const char* key = records; key != records + got * rs; key += rs) {
            const std::uint32_t recno = getBe32(key + kl);
            int trail = 0, dup = 0;
            if (!leaf.fits(key, recno, trail, dup)) {
                const std::uint32_t page = std::uint32_t(out.nextPage());
                ALB_TRY(passUp(*upper, leaf.lastKey(), leaf.lastRecno(), page));
                ALB_TRY(out.put(leaf.encode(2, left, page + kPageSize)));
                left = page;
                ++leaves;
                leaf.fits(key, recno, trail, dup);  // against the empty leaf
            }
            leaf.add(key, recno, trail, dup);
        }
    }
    {
        const std::uint32_t page = std::uint32_t(out.nextPage());
        if (leaves == 0) {
            // One leaf, empty or not, is the root.
            ALB_TRY(out.put(leaf.encode(3, kNoPage, kNoPage)));
            ALB_TRY(out.flush());
            return page;
        }
        ALB_TRY(passUp(*upper, leaf.lastKey(), leaf.lastRecno(), page));
        ALB_TRY(out.put(leaf.encode(2, left, kNoPage)));
        ++leaves;
    }

    // Interior levels, each on consecutive pages after the one below, until one node is left.
    const size_t cap = size_t(interiorCapacity(kl));
    unsigned char node[kPageSize];
    std::string last(size_t(kl), '\0');
    for (std::uint64_t below = leaves; below > 1;) {
        ALB_TRY(upper->rewind());
        auto level = std::move(upper);
        upper = std::make_unique<SpillBuffer>(upSize, levelMemory, folder, label);
        const std::uint64_t nodes = (below + cap - 1) / cap;
        left = kNoPage;
        for (std::uint64_t n = 0; n < nodes; ++n) {
            const std::uint32_t page = std::uint32_t(out.nextPage());
            const size_t count = size_t(std::min<std::uint64_t>(cap, below - n * cap));
            std::memset(node, 0, kPageSize);
            putLe16(node, nodes == 1 ? 1 : 0);
            putLe16(node + 2, std::uint16_t(count));
            putLe32(node + 4, left);
            putLe32(node + 8, n + 1 < nodes ? page + kPageSize : kNoPage);
            unsigned char* e = node + 12;
            std::uint32_t lastRec = 0;
            for (size_t i = 0; i < count; ++i) {
                ALB_ASSIGN_OR_RETURN(const char* r, level->read());
                std::memcpy(e, r, upSize);  // key, record number and child are stored as they came
                std::memcpy(last.data(), r, size_t(kl));
                lastRec = getBe32(r + kl);
                e += upSize;
            }
            ALB_TRY(out.put(node));
            if (nodes > 1) ALB_TRY(passUp(*upper, last.data(), lastRec, page));
            left = page;
            if (nodes == 1) {
                ALB_TRY(out.flush());
                return page;
            }
        }
        below = nodes;
    }
    return Status(ErrorKind::InvalidArgument, QStringLiteral("Index build of %1 found no root").arg(fileName(file->path())), file->path());
}

// ---------------------------------------------------------------------------------------------
// IndexFile

Result<std::unique_ptr<IndexFile>> IndexFile::open(const QString& path, bool writable, Kind kind) {
    ALB_ASSIGN_OR_RETURN(File f, File::open(path, writable ? File::Mode::ReadWrite : File::Mode::ReadOnly));
    std::unique_ptr<IndexFile> x(new IndexFile);
    x->file_ = std::move(f);
    x->kind_ = kind;
    x->writable_ = writable;
    x->touch();
    ALB_ASSIGN_OR_RETURN(x->fileSize_, x->file_.size());
    ALB_TRY(x->load());
    return x;
}

Status IndexFile::readTagHeader(std::uint32_t offset, Tree::Info& info, std::uint32_t& root) {
    const QString name = fileName(path());
    if (offset % kPageSize != 0 || std::int64_t(offset) + 1024 > fileSize_)
        return Status(ErrorKind::Corruption, QStringLiteral("%1: a tag header lies outside the file").arg(name), path(), offset);
    unsigned char h[1024];
    ALB_TRY(file_.readAt(offset, h, sizeof h, "a tag header"));
    root = getLe32(h);
    info.keyLength = getLe16(h + 12);
    info.options = h[14];
    info.descending = getLe16(h + 502) != 0;
    if (info.keyLength < 1 || info.keyLength > kMaxKeyLength)
        return Status(ErrorKind::Corruption, QStringLiteral("%1: key length %2 is invalid").arg(name).arg(info.keyLength),
                      path(), offset + 12);
    if (root % kPageSize != 0 || std::int64_t(root) + kPageSize > fileSize_ || root < 1024)
        return Status(ErrorKind::Corruption, QStringLiteral("%1: the root node lies outside the file").arg(name), path(), offset);
    const char* pool = reinterpret_cast<const char*>(h + 512);
    size_t n = strnlen(pool, 512);
    info.keyExpr.assign(pool, n);
    if (n + 1 < 512 && (info.options & 0x08)) info.forExpr.assign(pool + n + 1, strnlen(pool + n + 1, 512 - n - 1));
    return {};
}

Status IndexFile::load() {
    const QString name = fileName(path());
    if (fileSize_ < 1024 + kPageSize)
        return Status(ErrorKind::Corruption, name + QStringLiteral(" is not a valid index file: it is too short"), path(), 0);
    Tree::Info info;
    std::uint32_t root = 0;
    ALB_TRY(readTagHeader(0, info, root));
    if (kind_ == Kind::Single) {
        trees_.push_back(std::make_unique<Tree>(this, 0, info, root, ' '));
        return {};
    }
    if (!(info.options & 0x40))
        return Status(ErrorKind::Corruption, name + QStringLiteral(" is not a compound index file"), path(), 14);
    directory_ = std::make_unique<Tree>(this, 0, info, root, ' ');
    std::vector<IndexEntry> entries;
    ALB_TRY(directory_->forEach([&](const IndexEntry& e) {
        entries.push_back(e);
        return entries.size() < 4096;
    }));
    std::set<std::uint32_t> headers;
    for (const IndexEntry& e : entries) {
        if (!headers.insert(e.recno).second || e.recno == 0)
            return Status(ErrorKind::Corruption,
                          name + QStringLiteral(": two tags share the header at %1").arg(e.recno), path(), e.recno);
        Tree::Info ti;
        std::uint32_t troot = 0;
        ALB_TRY(readTagHeader(e.recno, ti, troot));
        ti.name = std::string(trimRight(e.key));
        trees_.push_back(std::make_unique<Tree>(this, e.recno, ti, troot, ' '));
    }
    return {};
}

std::vector<Tree*> IndexFile::tags() {
    std::vector<Tree*> out;
    for (auto& t : trees_) out.push_back(t.get());
    return out;
}

Tree* IndexFile::tag(std::string_view name) {
    const std::string want = asciiUpper(name);
    for (auto& t : trees_)
        if (asciiUpper(t->info().name) == want) return t.get();
    return nullptr;
}

std::string IndexFile::encodeTagHeader(const Tree::Info& info, std::uint32_t root) {
    std::string h(1024, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    putLe32(p, root);
    putLe16(p + 12, std::uint16_t(info.keyLength));
    p[14] = info.options;
    p[15] = 1;
    const std::uint16_t keyPool = std::uint16_t(info.keyExpr.size() + 1);
    const std::uint16_t forPool = std::uint16_t(info.forExpr.size() + 1);
    putLe16(p + 504, keyPool);
    putLe16(p + 506, forPool);
    putLe16(p + 510, keyPool);
    std::memcpy(p + 512, info.keyExpr.data(), std::min<size_t>(info.keyExpr.size(), 510));
    if (!info.forExpr.empty() && info.keyExpr.size() + info.forExpr.size() + 2 <= 512)
        std::memcpy(p + 512 + keyPool, info.forExpr.data(), info.forExpr.size());
    return h;
}

Status IndexFile::createCompound(const QString& path, bool sync) {
    std::string bytes(1024 + kPageSize, '\0');
    Tree::Info info;
    info.keyLength = 10;
    info.options = 0xE0;
    std::string header = encodeTagHeader(info, 1024);
    std::memcpy(bytes.data(), header.data(), header.size());
    IndexNode empty;
    empty.attr = 3;
    encodeLeaf(empty, 10, ' ', reinterpret_cast<unsigned char*>(bytes.data()) + 1024);
    return writeFileAtomically(path, bytes, sync);
}

Status IndexFile::createSingle(const QString& path, const std::string& keyExpr, char pad, KeySource& sorted) {
    QString tmp = temporaryPathFor(path);
    {
        ALB_ASSIGN_OR_RETURN(File f, File::open(tmp, File::Mode::Create));
        std::unique_ptr<IndexFile> x(new IndexFile);
        x->file_ = std::move(f);
        x->kind_ = Kind::Single;
        x->writable_ = true;
        x->fileSize_ = 1024;
        Status st;
        auto root = Tree::build(x.get(), sorted, pad);
        if (!root) st = root.error();
        if (st) {
            Tree::Info info;
            info.keyExpr = keyExpr;
            info.keyLength = sorted.keyLength();
            info.options = 0x20;
            std::string h = encodeTagHeader(info, *root);
            st = x->writeRaw(0, h.data(), h.size());
        }
        if (st) st = x->sync();
        if (!st) {
            (void)removeFile(tmp);  // st is the failure to return; the temporary is only clutter
            return st;
        }
    }
    Status st = renameFile(tmp, path);
    if (!st) (void)removeFile(tmp);  // as above
    return st;
}

Status IndexFile::addTag(const std::string& name, const std::string& keyExpr, const std::string& forExpr, char pad,
                         const KeyList& sorted) {
    KeyListSource source(sorted);
    return addTag(name, keyExpr, forExpr, pad, source);
}

Status IndexFile::addTag(const std::string& nameIn, const std::string& keyExpr, const std::string& forExpr, char pad,
                         KeySource& sorted) {
    const int keyLength = sorted.keyLength();
    const std::string name = asciiUpper(nameIn);
    if (name.empty() || name.size() > 10)
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("Tag name \"%1\" must have 1 to 10 characters").arg(QString::fromLatin1(nameIn.c_str())),
                      path());
    if (tag(name)) ALB_TRY(removeTag(name));
    ALB_ASSIGN_OR_RETURN(std::uint32_t headerOffset, allocate(2));
    ALB_ASSIGN_OR_RETURN(std::uint32_t root, Tree::build(this, sorted, pad));
    Tree::Info info;
    info.name = name;
    info.keyExpr = keyExpr;
    info.forExpr = forExpr;
    info.keyLength = keyLength;
    info.options = std::uint8_t(0x60 | (forExpr.empty() ? 0 : 0x08));
    std::string h = encodeTagHeader(info, root);
    ALB_TRY(writeRaw(headerOffset, h.data(), h.size()));
    std::string dirKey = name;
    dirKey.resize(10, ' ');
    ALB_TRY(directory_->insert(dirKey, headerOffset));
    trees_.push_back(std::make_unique<Tree>(this, headerOffset, info, root, pad));
    std::sort(trees_.begin(), trees_.end(), [](const auto& a, const auto& b) { return a->info().name < b->info().name; });
    touch();
    return {};
}

void IndexFile::freeTree(std::uint32_t page, int keyLength, char pad, int depth) {
    if (depth > kMaxDepth) return;
    auto n = readNode(page, keyLength, pad);
    if (n && !(*n)->isLeaf())
        for (std::uint32_t c : (*n)->children) freeTree(c, keyLength, pad, depth + 1);
    release(page);
}

Status IndexFile::removeTag(std::string_view nameIn) {
    Tree* t = tag(nameIn);
    if (!t) return Status(ErrorKind::NotFound, QStringLiteral("No tag %1").arg(QString::fromLatin1(nameIn.data(), int(nameIn.size()))), path());
    std::string dirKey = t->info().name;
    dirKey.resize(10, ' ');
    ALB_TRY(directory_->erase(dirKey, t->headerOffset()));
    freeTree(t->root(), t->keyLength(), t->pad(), 0);
    // The header's two pages are not reused: the free list holds single pages only.
    trees_.erase(std::find_if(trees_.begin(), trees_.end(), [&](const auto& p) { return p.get() == t; }));
    touch();
    return {};
}

Result<std::shared_ptr<const IndexNode>> IndexFile::readNode(std::uint32_t page, int keyLength, char pad, bool ordered) {
    auto it = cache_.find(page);
    if (it != cache_.end()) {
        it->second.used = ++clock_;
        return it->second.node;
    }
    const QString name = fileName(path());
    if (page % kPageSize != 0 || page < 1024 || std::int64_t(page) + kPageSize > fileSize_)
        return Status(ErrorKind::Corruption, QStringLiteral("%1: node pointer %2 lies outside the file").arg(name).arg(page),
                      path(), page);
    unsigned char b[kPageSize];
    ALB_TRY(file_.readAt(page, b, kPageSize, "an index node"));
    auto n = std::make_shared<IndexNode>();
    n->attr = getLe16(b);
    const int count = getLe16(b + 2);
    n->left = getLe32(b + 4);
    n->right = getLe32(b + 8);
    auto corrupt = [&](const QString& why) {
        return Status(ErrorKind::Corruption, QStringLiteral("%1: bad index node: %2").arg(name, why), path(), page);
    };
    // Visual FoxPro also sets 4 on the nodes it writes; only root (1) and leaf (2) matter here.
    if ((n->attr & ~4u) > 3) return corrupt(QStringLiteral("attributes %1").arg(n->attr));
    if (n->isLeaf()) {
        const std::uint32_t recMask = getLe32(b + 14);
        const int dupMask = b[18], trailMask = b[19];
        const int recBits = b[20], dupBits = b[21], trailBits = b[22], bytes = b[23];
        if (bytes < 1 || bytes > 8 || recBits + dupBits + trailBits > bytes * 8 || recBits > 32 || dupBits > 8 || trailBits > 8)
            return corrupt(QStringLiteral("entry layout %1/%2/%3 in %4 bytes").arg(recBits).arg(dupBits).arg(trailBits).arg(bytes));
        if (count * bytes > kLeafSpace) return corrupt(QStringLiteral("%1 entries do not fit").arg(count));
        n->keys.resize(size_t(count) * size_t(keyLength));
        n->recnos.resize(size_t(count));
        int keyEnd = int(kPageSize);
        const int entriesEnd = kLeafHeader + count * bytes;
        for (int i = 0; i < count; ++i) {
            std::uint64_t v = 0;
            for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | b[kLeafHeader + i * bytes + k];
            const std::uint32_t rec = std::uint32_t(v) & recMask;
            const int dup = int((v >> recBits) & std::uint64_t(dupMask));
            const int trail = int((v >> (recBits + dupBits)) & std::uint64_t(trailMask));
            if ((i == 0 && dup != 0) || dup + trail > keyLength)
                return corrupt(QStringLiteral("entry %1 compresses %2+%3 bytes of a %4-byte key").arg(i).arg(dup).arg(trail).arg(keyLength));
            const int stored = keyLength - dup - trail;
            keyEnd -= stored;
            if (keyEnd < entriesEnd) return corrupt(QStringLiteral("keys overlap the entries"));
            char* k = n->keys.data() + size_t(i) * size_t(keyLength);
            if (dup) std::memcpy(k, k - keyLength, size_t(dup));
            std::memcpy(k + dup, b + keyEnd, size_t(stored));
            std::memset(k + dup + stored, pad, size_t(trail));
            n->recnos[size_t(i)] = rec;
        }
    } else {
        if (count * (keyLength + 8) > kInteriorSpace) return corrupt(QStringLiteral("%1 entries do not fit").arg(count));
        n->keys.resize(size_t(count) * size_t(keyLength));
        n->recnos.resize(size_t(count));
        n->children.resize(size_t(count));
        for (int i = 0; i < count; ++i) {
            const unsigned char* e = b + 12 + i * (keyLength + 8);
            std::memcpy(n->keys.data() + size_t(i) * size_t(keyLength), e, size_t(keyLength));
            n->recnos[size_t(i)] = getBe32(e + keyLength);
            n->children[size_t(i)] = getBe32(e + keyLength + 4);
            if (n->children[size_t(i)] == page) return corrupt(QStringLiteral("a node points at itself"));
        }
    }
    // A flipped bit in a key or record number usually breaks the order; a reader would
    // otherwise walk on with rows missing or repeated.
    for (size_t i = 1; ordered && i < n->size(); ++i) {
        const char* k = n->keys.data() + i * size_t(keyLength);
        if (comparePair(k - keyLength, n->recnos[i - 1], k, n->recnos[i], keyLength) >= 0)
            return corrupt(QStringLiteral("entries %1 and %2 are out of order").arg(i - 1).arg(i));
    }
    cacheNode(page, n);
    return std::shared_ptr<const IndexNode>(std::move(n));
}

Status IndexFile::writeNode(std::uint32_t page, const IndexNode& n, int keyLength, char pad) {
    unsigned char b[kPageSize];
    if (n.isLeaf()) {
        if (!encodeLeaf(n, keyLength, pad, b))
            return Status(ErrorKind::InvalidArgument, QStringLiteral("Index node overflow"), path(), page);
    } else {
        encodeInterior(n, keyLength, b);
    }
    ALB_TRY(file_.writeAt(page, b, kPageSize));
    fileSize_ = std::max<std::int64_t>(fileSize_, std::int64_t(page) + kPageSize);
    cacheNode(page, std::make_shared<IndexNode>(n));
    touch();
    return {};
}

void IndexFile::cacheNode(std::uint32_t page, std::shared_ptr<const IndexNode> node) {
    if (cache_.size() >= kCacheNodes) {
        // Drop the older half: cheap, and rare enough not to matter.
        std::vector<std::uint64_t> ages;
        ages.reserve(cache_.size());
        for (auto& [p, c] : cache_) ages.push_back(c.used);
        std::nth_element(ages.begin(), ages.begin() + std::ptrdiff_t(ages.size() / 2), ages.end());
        const std::uint64_t cut = ages[ages.size() / 2];
        for (auto i = cache_.begin(); i != cache_.end();) i = i->second.used < cut ? cache_.erase(i) : std::next(i);
    }
    cache_[page] = {std::move(node), ++clock_};
}

Status IndexFile::writeRaw(std::uint32_t offset, const void* data, size_t len) {
    ALB_TRY(file_.writeAt(offset, data, len));
    fileSize_ = std::max<std::int64_t>(fileSize_, std::int64_t(offset) + std::int64_t(len));
    return {};
}

Result<std::uint32_t> IndexFile::allocate(std::uint32_t pages) {
    if (pages == 1 && !freePages_.empty()) {
        std::uint32_t p = freePages_.back();
        freePages_.pop_back();
        return p;
    }
    std::int64_t at = (fileSize_ + kPageSize - 1) / kPageSize * kPageSize;
    if (at + std::int64_t(pages) * kPageSize > 0xFFFFFE00LL)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("The index file %1 is full").arg(fileName(path())), path());
    // The caller writes the pages at once; counting them here keeps the next allocation apart.
    fileSize_ = at + std::int64_t(pages) * kPageSize;
    return std::uint32_t(at);
}

// Positions compare stamps, and a reopened file must never repeat a stamp of the one before.
static std::uint64_t gStamp = 0;
void IndexFile::touch() { stamp_ = ++gStamp; }

void IndexFile::release(std::uint32_t page) {
    cache_.erase(page);
    freePages_.push_back(page);
    touch();
}

}  // namespace albumora::store
