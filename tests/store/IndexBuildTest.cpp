// Tags built in bounded memory: the key sort against a plain sort for every key width, budgets
// that force many runs and merge passes, indexes equal byte for byte whatever the budget, the
// scratch space failing or leaving files behind, and the keys a pack gives its packed rows.
#include "IndexBuild.h"
#include "IndexFile.h"
#include "Table.h"
#include "TestSupport.h"

#include <QDir>

#include <algorithm>
#include <random>
#include <thread>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

// The budget set for one test, the default back afterwards.
struct Budget {
    size_t saved = indexBuildBudget();
    explicit Budget(size_t bytes) { setIndexBuildBudget(bytes); }
    ~Budget() { setIndexBuildBudget(saved); }
};

// Tables from this many rows on have their keys gathered by two threads, for one test.
struct ParallelRows {
    std::uint32_t saved = parallelKeyRows();
    explicit ParallelRows(std::uint32_t rows) { setParallelKeyRows(rows); }
    ~ParallelRows() { setParallelKeyRows(saved); }
};

using Entries = std::vector<std::pair<std::string, std::uint32_t>>;

// Keys from a small alphabet, so that many are equal and many share long prefixes.
Entries randomEntries(int keyLength, size_t n, std::uint32_t seed, bool shuffledRecnos) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> ch(0, 3), len(0, keyLength);
    Entries out;
    for (size_t i = 0; i < n; ++i) {
        std::string k(size_t(len(rng)), 'a');
        for (char& c : k) c = char("ab\xe9z"[ch(rng)]);
        k.resize(size_t(keyLength), ' ');
        out.push_back({k, std::uint32_t(i + 1)});
    }
    if (shuffledRecnos) {
        std::vector<std::uint32_t> r;
        for (auto& e : out) r.push_back(e.second);
        std::shuffle(r.begin(), r.end(), rng);
        for (size_t i = 0; i < out.size(); ++i) out[i].second = r[i];
    }
    return out;
}

Entries sortAll(KeySorter& s, const Entries& in) {
    for (const auto& [k, r] : in) EXPECT_STORE_OK(s.add(k.data(), r));
    EXPECT_STORE_OK(s.finish());
    Entries out;
    for (;;) {
        const char* key = nullptr;
        std::uint32_t recno = 0;
        auto more = s.next(key, recno);
        EXPECT_TRUE(more.isOk()) << more.error().text().toStdString();
        if (!more || !*more) break;
        out.push_back({std::string(key, size_t(s.keyLength())), recno});
    }
    return out;
}

struct SortCase {
    int keyLength;
    size_t entries;
};

class KeySorterTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(KeySorterTest, GivesEveryEntryInKeyThenRecordOrderWhateverTheBudget) {
    const SortCase c = GetParam();
    TempFolder dir;
    for (bool shuffled : {false, true}) {
        const Entries in = randomEntries(c.keyLength, c.entries, std::uint32_t(c.keyLength * 31 + shuffled), shuffled);
        Entries want = in;
        std::sort(want.begin(), want.end());

        // Room for everything: sorted in memory, nothing written.
        KeySorter roomy(c.keyLength, size_t(64) << 20, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size());
        EXPECT_EQ(sortAll(roomy, in), want) << "in memory, key length " << c.keyLength << (shuffled ? ", shuffled" : "");
        EXPECT_EQ(roomy.runsWritten(), 0u);

        // A few KiB: hundreds of runs, merged two at a time in many passes, one run still in memory.
        KeySorter tight(c.keyLength, 12 << 10, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size());
        EXPECT_EQ(sortAll(tight, in), want) << "spilled, key length " << c.keyLength << (shuffled ? ", shuffled" : "");
        EXPECT_GT(tight.runsWritten(), 10u);

        // No size given beforehand.
        KeySorter unknown(c.keyLength, 96 << 10, dir.path(), dir.file(QStringLiteral(".T.sort")));
        EXPECT_EQ(sortAll(unknown, in), want) << "unknown size, key length " << c.keyLength;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// Widths around the eight and sixteen bytes the sort keeps beside each entry, and the longest key.
INSTANTIATE_TEST_SUITE_P(Widths, KeySorterTest,
                         ::testing::Values(SortCase{1, 3000}, SortCase{4, 3000}, SortCase{8, 3000}, SortCase{11, 3000},
                                           SortCase{16, 3000}, SortCase{17, 3000}, SortCase{73, 3000},
                                           SortCase{240, 1200}));

// Enough entries for the in-memory sort to take both cores (two halves merged as they are
// read) and, in a budget of a few hundred KiB, for the merge to run beside the reader.
TEST(KeySorterTest, LargeSortsInHalvesAndThroughTheMergingThread) {
    TempFolder dir;
    for (int kl : {11, 73}) {
        const Entries in = randomEntries(kl, 70000, std::uint32_t(kl), false);
        Entries want = in;
        std::sort(want.begin(), want.end());
        KeySorter halves(kl, size_t(64) << 20, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size());
        EXPECT_EQ(sortAll(halves, in), want) << "in halves, key length " << kl;
        EXPECT_EQ(halves.runsWritten(), 0u);
        KeySorter piped(kl, size_t(512) << 10, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size());
        EXPECT_EQ(sortAll(piped, in), want) << "merged beside the reader, key length " << kl;
        EXPECT_GT(piped.runsWritten(), 2u);
        // A reader that stops half way: the merging thread is stopped with the sorter.
        KeySorter dropped(kl, size_t(512) << 10, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size());
        for (const auto& [k, r] : in) ASSERT_STORE_OK(dropped.add(k.data(), r));
        ASSERT_STORE_OK(dropped.finish());
        const char* key = nullptr;
        std::uint32_t recno = 0;
        for (int i = 0; i < 1000; ++i) ASSERT_TRUE(*dropped.next(key, recno));
    }
}

// Two threads adding at once, each through its lane, as the two halves of a table come in: one
// order whatever each lane spilled, held in memory or was never given.
TEST(KeySorterTest, LanesFilledFromTwoThreadsGiveOneOrder) {
    TempFolder dir;
    for (int kl : {11, 73}) {
        const Entries in = randomEntries(kl, 60000, std::uint32_t(kl + 5), true);
        Entries want = in;
        std::sort(want.begin(), want.end());
        for (size_t budget : {size_t(64) << 20, size_t(2) << 20, size_t(24) << 10}) {
            for (size_t split : {in.size() / 2, size_t(0), size_t(100)}) {
                KeySorter s(kl, budget, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size(), 2);
                Status first, second;
                std::thread other([&] {
                    for (size_t i = split; i < in.size() && second; ++i) second = s.addTo(1, in[i].first.data(), in[i].second);
                    if (second) second = s.closeLane(1);
                });
                for (size_t i = 0; i < split && first; ++i) first = s.addTo(0, in[i].first.data(), in[i].second);
                if (first) first = s.closeLane(0);
                other.join();
                ASSERT_STORE_OK(first);
                ASSERT_STORE_OK(second);
                ASSERT_STORE_OK(s.finish());
                EXPECT_EQ(s.size(), in.size());
                Entries out;
                for (;;) {
                    const char* key = nullptr;
                    std::uint32_t recno = 0;
                    auto more = s.next(key, recno);
                    ASSERT_STORE_OK(more);
                    if (!*more) break;
                    out.push_back({std::string(key, size_t(kl)), recno});
                }
                EXPECT_EQ(out, want) << "key length " << kl << ", budget " << budget << ", split at " << split;
                if (budget < (size_t(1) << 20)) {
                    EXPECT_GT(s.runsWritten(), 10u);
                }
                if (budget > (size_t(32) << 20)) {
                    EXPECT_EQ(s.runsWritten(), 0u);
                }
            }
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// Tracks come album by album: stretches of entries sharing their first eight bytes, mostly in
// order within, sometimes not, an album's ID now and then coming back later in the table.
TEST(KeySorterTest, StretchesOfOneAlbumSortLikeAnyOtherEntries) {
    TempFolder dir;
    std::mt19937 rng(11);
    for (int kl : {11, 30}) {
        Entries in;
        std::vector<std::string> ids;
        while (in.size() < 40000) {
            std::string id(8, ' ');
            for (char& c : id) c = "0123456789abcdef"[rng() % 16];
            if (!ids.empty() && rng() % 10 == 0) id = ids[rng() % ids.size()];  // the same album again
            ids.push_back(id);
            const int tracks = 1 + int(rng() % 20);
            const bool backwards = rng() % 8 == 0;
            for (int t = 1; t <= tracks; ++t) {
                std::string k = id + std::to_string(backwards ? tracks - t + 1 : t);
                k.resize(size_t(kl), ' ');
                in.push_back({k, std::uint32_t(in.size() + 1)});
            }
        }
        Entries want = in;
        std::sort(want.begin(), want.end());
        for (size_t budget : {size_t(64) << 20, size_t(256) << 10}) {
            KeySorter s(kl, budget, dir.path(), dir.file(QStringLiteral(".T.sort")), in.size());
            EXPECT_EQ(sortAll(s, in), want) << "key length " << kl << ", budget " << budget;
        }
    }
}

TEST(KeySorterTest, NoEntriesGiveAnEmptyStream) {
    TempFolder dir;
    KeySorter s(10, 1 << 20, dir.path(), dir.file(QStringLiteral(".T.sort")));
    EXPECT_TRUE(sortAll(s, {}).empty());
}

// A table of titles with many repeats, the way a real collection has its "Intro"s.
class TagBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file(QStringLiteral("T.DBF"));
        ASSERT_STORE_OK(Table::create(path, *parseFieldList(QStringLiteral("Title,Char,40;Nr,Char,3;Notes,Memo;"))));
        auto t = Table::open(path, OpenMode::Exclusive);
        ASSERT_STORE_OK(t);
        const Entries titles = randomEntries(12, kRows, 7, false);
        const std::vector<FieldDef>& f = (*t)->fields();
        ASSERT_EQ(f.size(), 3u);
        ASSERT_EQ(f[1].offset, 41);
        std::string blank(size_t(f[2].offset + f[2].length), ' ');
        if (f[2].length == 4) std::memset(blank.data() + f[2].offset, 0, 4);  // a binary memo reference
        for (size_t i = 0; i < kRows; ++i) {
            std::string rec = blank;
            std::string title = "Song " + titles[i].first.substr(0, 6 + i % 7);
            std::memcpy(rec.data() + 1, title.data(), std::min<size_t>(title.size(), 40));
            const std::string nr = std::to_string(100 + i % 900);
            std::memcpy(rec.data() + 41, nr.data(), 3);
            ASSERT_STORE_OK((*t)->appendRecord(rec));
        }
        ASSERT_STORE_OK((*t)->createTags({{QStringLiteral("Title"), QStringLiteral("upper(Title)")},
                                          {QStringLiteral("Both"), QStringLiteral("Title+Nr")},
                                          {QStringLiteral("Nr"), QStringLiteral("Nr")},
                                          {QStringLiteral("Rec"), QStringLiteral("str(recno(),7)")}}));
    }

    QStringList leftovers() const {
        QStringList out;
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            if (!QStringList{QStringLiteral("T.DBF"), QStringLiteral("T.CDX"), QStringLiteral("T.FPT"), QStringLiteral(".albumora-journal"),
                             QStringLiteral(".albumora-lock")}
                     .contains(f))
                out << f;
        return out;
    }

    static constexpr size_t kRows = 20000;
    TempFolder dir;
    QString path;
};

TEST_F(TagBuildTest, ATinyBudgetWritesTheSameIndexBytesAsARoomyOne) {
    {
        auto t = Table::open(path, OpenMode::Exclusive);
        ASSERT_STORE_OK(t);
        ASSERT_STORE_OK((*t)->reindex());
    }
    const QByteArray roomy = albumora::test::fileBytes(indexPathFor(path));
    ASSERT_FALSE(roomy.isEmpty());
    {
        Budget tight(16 << 10);
        auto t = Table::open(path, OpenMode::Exclusive);
        ASSERT_STORE_OK(t);
        ASSERT_STORE_OK((*t)->reindex());
    }
    EXPECT_TRUE(albumora::test::fileBytes(indexPathFor(path)) == roomy) << "the index differs when built from many runs";
    const auto check = albumora::test::cdxcheck(indexPathFor(path), path);
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    EXPECT_EQ(leftovers(), QStringList());
}

// Keys copied from the rows are gathered by two threads, each over half of the table: the same
// index bytes as one thread gives, in a roomy budget and in one that spills from both; and a
// scratch file failing under them leaves the index as it was.
TEST_F(TagBuildTest, KeysGatheredByTwoThreadsGiveTheSameIndexBytes) {
    {
        auto t = Table::open(path, OpenMode::Exclusive);
        ASSERT_STORE_OK(t);
        ASSERT_STORE_OK((*t)->dropTag(QStringLiteral("Rec")));  // evaluated, so read by one thread
    }
    const auto build = [&] {
        auto t = Table::open(path, OpenMode::Exclusive);
        EXPECT_STORE_OK(t);
        if (t) EXPECT_STORE_OK((*t)->reindex());
        return albumora::test::fileBytes(indexPathFor(path));
    };
    const QByteArray single = [&] {
        ParallelRows never(0xFFFFFFFFu);
        return build();
    }();
    ASSERT_FALSE(single.isEmpty());
    ParallelRows always(2);
    EXPECT_TRUE(build() == single) << "two threads, roomy budget";
    {
        Budget tight(16 << 10);
        EXPECT_TRUE(build() == single) << "two threads, runs from both";
        setFileFaultHook([](FileOp op, const QString& p) { return op == FileOp::Write && p.endsWith(QLatin1String(".sort")) ? ENOSPC : 0; });
        {
            auto t = Table::open(path, OpenMode::Exclusive);
            ASSERT_STORE_OK(t);
            const Status st = (*t)->reindex();
            EXPECT_TRUE(st.text().contains(QStringLiteral("No space left on device"))) << st.text().toStdString();
        }
        setFileFaultHook(nullptr);
        EXPECT_TRUE(albumora::test::fileBytes(indexPathFor(path)) == single);
        EXPECT_EQ(leftovers(), QStringList());
    }
    const auto check = albumora::test::cdxcheck(indexPathFor(path), path);
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();

    // A pack of such a table cuts the keys from the packed rows after its pass, by two threads:
    // the index the pass itself gives, and the scratch failing under it leaves table and index.
    const auto packed = [&](std::uint32_t parallelFrom, bool failing) {
        TempFolder copy;
        const QString p = copy.file(QStringLiteral("T.DBF"));
        for (const QString& f : {QStringLiteral("T.DBF"), QStringLiteral("T.CDX"), QStringLiteral("T.FPT")})
            EXPECT_STORE_OK(copyFile(dir.file(f), copy.file(f)));
        ParallelRows rows(parallelFrom);
        Budget tight(failing ? size_t(16) << 10 : indexBuildBudget());
        {
            auto t = Table::open(p, OpenMode::Exclusive);
            EXPECT_STORE_OK(t);
            for (std::uint32_t r = 2; r <= (*t)->recordCount(); r += 5) EXPECT_STORE_OK((*t)->setDeleted(r, true));
            EXPECT_STORE_OK((*t)->flush());
        }
        const QByteArray rowsBefore = albumora::test::fileBytes(p), indexBefore = albumora::test::fileBytes(copy.file(QStringLiteral("T.CDX")));
        if (failing)
            setFileFaultHook([](FileOp op, const QString& f) { return op == FileOp::Write && f.endsWith(QLatin1String(".sort")) ? ENOSPC : 0; });
        Status st;
        {
            auto t = Table::open(p, OpenMode::Exclusive);
            EXPECT_STORE_OK(t);
            st = (*t)->pack();
        }
        setFileFaultHook(nullptr);
        if (failing) {
            EXPECT_TRUE(st.text().contains(QStringLiteral("No space left on device"))) << st.text().toStdString();
            EXPECT_TRUE(albumora::test::fileBytes(p) == rowsBefore);
            EXPECT_TRUE(albumora::test::fileBytes(copy.file(QStringLiteral("T.CDX"))) == indexBefore);
            QStringList left = QDir(copy.path()).entryList(QDir::Files | QDir::Hidden);
            left.removeAll(QStringLiteral(".albumora-lock"));
            left.removeAll(QStringLiteral(".albumora-journal"));
            EXPECT_EQ(left, (QStringList{QStringLiteral("T.CDX"), QStringLiteral("T.DBF"), QStringLiteral("T.FPT")}));
        } else {
            EXPECT_STORE_OK(st);
            const auto c = albumora::test::cdxcheck(copy.file(QStringLiteral("T.CDX")), p);
            EXPECT_EQ(c.exitCode, 0) << c.out.toStdString() << c.err.toStdString();
        }
        return albumora::test::fileBytes(copy.file(QStringLiteral("T.CDX")));
    };
    const QByteArray inThePass = packed(0xFFFFFFFFu, false);
    EXPECT_TRUE(packed(2, false) == inThePass) << "keys cut after the pass";
    packed(2, true);
}

// The sort's scratch file or the tree's level file cannot be written: the build fails with the
// system's reason and the index file on disk stays as it was.
TEST_F(TagBuildTest, AScratchFileThatCannotBeWrittenLeavesTheIndexAsItWas) {
    const QByteArray before = albumora::test::fileBytes(indexPathFor(path));
    const QByteArray rows = albumora::test::fileBytes(path);
    Budget tight(16 << 10);
    for (const char* which : {".sort", ".levels"}) {
        static const char* failing;
        failing = which;
        setFileFaultHook([](FileOp op, const QString& p) { return op == FileOp::Write && p.endsWith(QLatin1String(failing)) ? ENOSPC : 0; });
        {
            auto t = Table::open(path, OpenMode::Exclusive);
            ASSERT_STORE_OK(t);
            const Status st = (*t)->reindex();
            EXPECT_FALSE(st.isOk()) << which;
            EXPECT_TRUE(st.text().contains(QStringLiteral("No space left on device"))) << st.text().toStdString();
            ASSERT_STORE_OK((*t)->setDeleted(3, true));
            const Status packed = (*t)->pack();
            EXPECT_FALSE(packed.isOk()) << which;
            ASSERT_STORE_OK((*t)->setDeleted(3, false));
            ASSERT_STORE_OK((*t)->flush());
        }
        setFileFaultHook(nullptr);
        EXPECT_TRUE(albumora::test::fileBytes(indexPathFor(path)) == before) << which;
        EXPECT_TRUE(albumora::test::fileBytes(path).mid(32) == rows.mid(32)) << which;
        EXPECT_EQ(leftovers(), QStringList()) << which;
    }
    auto t = Table::open(path, OpenMode::Exclusive);
    ASSERT_STORE_OK(t);
    EXPECT_TRUE((*t)->indexProblem().isOk()) << (*t)->indexProblem().text().toStdString();
    ASSERT_STORE_OK((*t)->reindex());
}

// A pack gives the kept rows their keys in the pass that writes them: under their new record
// numbers, with FOR conditions read from the old rows, in a tight budget as in a roomy one.
TEST_F(TagBuildTest, PackedRowsGetTheKeysOfTheirNewRecordNumbers) {
    for (size_t budget : {size_t(32) << 20, size_t(16) << 10}) {
        TempFolder copy;
        const QString p = copy.file(QStringLiteral("T.DBF"));
        for (const QString& f : {QStringLiteral("T.DBF"), QStringLiteral("T.CDX"), QStringLiteral("T.FPT")})
            ASSERT_STORE_OK(copyFile(dir.file(f), copy.file(f)));
        Budget b(budget);
        auto t = Table::open(p, OpenMode::Exclusive);
        ASSERT_STORE_OK(t);
        ASSERT_STORE_OK((*t)->createTag(QStringLiteral("High"), QStringLiteral("upper(Title)"), QStringLiteral("Nr >= \"500\"")));
        for (std::uint32_t r = 1; r <= (*t)->recordCount(); r += 3) ASSERT_STORE_OK((*t)->setDeleted(r, true));
        ASSERT_STORE_OK((*t)->pack());
        const std::uint32_t n = (*t)->recordCount();
        ASSERT_EQ(n, kRows - (kRows + 2) / 3);

        std::uint32_t seen = 0;
        ASSERT_STORE_OK((*t)->tag(QStringLiteral("Rec"))->tree->forEach([&](const IndexEntry& e) {
            ++seen;
            EXPECT_EQ(e.key, QStringLiteral("%1").arg(e.recno, 7).toStdString());
            return true;
        }));
        EXPECT_EQ(seen, n);

        std::uint32_t high = 0, highKeys = 0;
        std::string rec;
        for (std::uint32_t r = 1; r <= n; ++r) {
            ASSERT_STORE_OK((*t)->readRecord(r, rec));
            if (rec.substr(41, 3) >= "500") ++high;
        }
        ASSERT_STORE_OK((*t)->tag(QStringLiteral("High"))->tree->forEach([&](const IndexEntry&) {
            ++highKeys;
            return true;
        }));
        EXPECT_EQ(highKeys, high);
        ASSERT_GT(high, 0u);
        // The independent reader counts a key for every row; the FOR tag has fewer.
        ASSERT_STORE_OK((*t)->dropTag(QStringLiteral("High")));
        t->reset();
        const auto check = albumora::test::cdxcheck(copy.file(QStringLiteral("T.CDX")), p);
        EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    }
}

}  // namespace
