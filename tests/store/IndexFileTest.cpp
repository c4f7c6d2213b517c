// The B+tree of the compact index files against a plain ordered set: random inserts and erases
// with short and long keys, splits and merges down to an empty tree, and the independent reader
// over what was written.
#include "IndexFile.h"
#include "TestSupport.h"

#include <QFile>

#include <random>
#include <set>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

using Model = std::set<std::pair<std::string, std::uint32_t>>;

std::vector<std::pair<std::string, std::uint32_t>> walk(Tree& t) {
    std::vector<std::pair<std::string, std::uint32_t>> out;
    Status st = t.forEach([&](const IndexEntry& e) {
        out.push_back({e.key, e.recno});
        return true;
    });
    EXPECT_TRUE(st.isOk()) << st.text().toStdString();
    return out;
}

std::vector<std::pair<std::string, std::uint32_t>> walkBackward(Tree& t) {
    std::vector<std::pair<std::string, std::uint32_t>> out;
    TreePos p;
    auto ok = t.last(p);
    while (ok && *ok) {
        auto e = t.entry(p);
        out.push_back({e->key, e->recno});
        ok = t.prior(p);
    }
    EXPECT_TRUE(ok.isOk());
    std::reverse(out.begin(), out.end());
    return out;
}

std::string randomKey(std::mt19937& rng, int keyLength, int alphabet) {
    std::uniform_int_distribution<int> len(0, keyLength);
    std::uniform_int_distribution<int> ch(0, alphabet - 1);
    std::string k(size_t(len(rng)), ' ');
    for (char& c : k) c = char('A' + ch(rng));
    k.resize(size_t(keyLength), ' ');
    return k;
}

struct Param {
    int keyLength;
    int alphabet;
    int operations;
};

class TreeModelTest : public ::testing::TestWithParam<Param> {};

TEST_P(TreeModelTest, RandomInsertsAndErasesMatchAnOrderedSet) {
    const Param prm = GetParam();
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("T.CDX"));
    ASSERT_TRUE(IndexFile::createCompound(path).isOk());
    auto file = IndexFile::open(path, true);
    ASSERT_TRUE(file.isOk());
    KeyList empty;
    empty.keyLength = prm.keyLength;
    ASSERT_TRUE((*file)->addTag("T", "KEY", "", ' ', empty).isOk());
    Tree* t = (*file)->tag("t");
    ASSERT_NE(t, nullptr);

    std::mt19937 rng(prm.keyLength * 7919 + prm.alphabet);
    Model model;
    std::uniform_int_distribution<std::uint32_t> rec(1, 3000000);
    for (int i = 0; i < prm.operations; ++i) {
        // Grow for the first two thirds, then shrink to nothing: both splits and empty leaves.
        const bool grow = i < prm.operations * 2 / 3;
        if (grow || model.empty()) {
            std::string k = randomKey(rng, prm.keyLength, prm.alphabet);
            std::uint32_t r = rec(rng);
            ASSERT_TRUE(t->insert(k, r).isOk());
            model.insert({k, r});
        } else {
            auto it = model.begin();
            std::advance(it, std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
            ASSERT_TRUE(t->erase(it->first, it->second).isOk());
            model.erase(it);
        }
        if (i % 997 == 0) {
            const std::vector<std::pair<std::string, std::uint32_t>> want(model.begin(), model.end());
            ASSERT_EQ(walk(*t), want) << "after " << i;
        }
    }
    while (!model.empty()) {
        auto it = model.begin();
        ASSERT_TRUE(t->erase(it->first, it->second).isOk());
        model.erase(it);
    }
    EXPECT_TRUE(walk(*t).empty());
    // And it grows again from the emptied root.
    for (int i = 0; i < 500; ++i) {
        std::string k = randomKey(rng, prm.keyLength, prm.alphabet);
        std::uint32_t r = std::uint32_t(i + 1);
        ASSERT_TRUE(t->insert(k, r).isOk());
        model.insert({k, r});
    }
    const std::vector<std::pair<std::string, std::uint32_t>> want(model.begin(), model.end());
    EXPECT_EQ(walk(*t), want);
    EXPECT_EQ(walkBackward(*t), want);

    // A fresh reader sees the same tree.
    ASSERT_TRUE((*file)->sync().isOk());
    auto again = IndexFile::open(path, false);
    ASSERT_TRUE(again.isOk()) << again.error().text().toStdString();
    EXPECT_EQ(walk(*(*again)->tag("T")), want);

    // The independent reader agrees on the structure and the order.
    if (!albumora::test::sharedTools().isEmpty()) {
        auto r = albumora::test::runProcess(albumora::test::systemPython(),
                                            {albumora::test::sharedTools() + QStringLiteral("/cdxcheck.py"), path});
        EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("keys %1 ordered True").arg(want.size()))) << r.out.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(KeyShapes, TreeModelTest,
                         ::testing::Values(Param{8, 16, 6000},    // album IDs
                                           Param{11, 4, 8000},    // ID+NR with many shared prefixes
                                           Param{100, 3, 3000},   // artist+album, long blank tails
                                           Param{240, 26, 800},   // the longest key: two per interior node
                                           Param{1, 2, 3000}));   // one byte, heavy duplicates

TEST(TreeSeek, FindsFirstEntryAtOrAfterAKey) {
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("S.CDX"));
    ASSERT_TRUE(IndexFile::createCompound(path).isOk());
    auto file = IndexFile::open(path, true);
    KeyList keys;
    keys.keyLength = 4;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", (i * 2) % 10000);
        keys.add(buf, i + 1);
    }
    keys.sort();
    ASSERT_TRUE((*file)->addTag("S", "K", "", ' ', keys).isOk());
    Tree* t = (*file)->tag("S");
    TreePos p;
    auto found = t->seek("0101", 0, p);
    ASSERT_TRUE(found.isOk() && *found);
    EXPECT_EQ(t->entry(p)->key, "0102");
    found = t->seek("0102", 0, p);
    EXPECT_EQ(t->entry(p)->key, "0102");
    found = t->seek("3999", 0, p);
    ASSERT_TRUE(found.isOk());
    EXPECT_FALSE(*found);
    found = t->seek("", 0, p);
    EXPECT_EQ(t->entry(p)->key, "0000");
}

TEST(KeyEncoding, NumbersSortAsBytes) {
    const double values[] = {-1e9, -2.5, -1, -0.0, 0, 0.5, 1, 2, 1e12};
    for (size_t i = 0; i + 1 < std::size(values); ++i) {
        EXPECT_LE(encodeNumberKey(values[i]), encodeNumberKey(values[i + 1])) << values[i];
        EXPECT_EQ(decodeNumberKey(encodeNumberKey(values[i])), values[i] == 0 ? 0.0 : values[i]);
    }
    EXPECT_LT(encodeIntegerKey(-5), encodeIntegerKey(3));
    EXPECT_EQ(encodeIntegerKey(1), std::string("\x80\x00\x00\x01", 4));
}

}  // namespace
