// Walks in index order over a table much larger than one prefetch: every row in order, with
// filters and scopes, rows changed ahead of the walk by this program's other cursors, a walk
// that turns back, and a table file that cannot be read.
#include "Cursor.h"
#include "DMcd.h"
#include "TestSupport.h"

#include <algorithm>
#include <random>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

class OrderedReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file(QStringLiteral("SONGS.DBF"));
        ASSERT_STORE_OK(Table::create(path, *parseFieldList(QStringLiteral("Title,Char,20;Nr,Char,5;"))));
        {
            auto t = Table::open(path, OpenMode::Exclusive);
            ASSERT_STORE_OK(t);
            ASSERT_STORE_OK((*t)->createTags({{QStringLiteral("Title"), QStringLiteral("upper(Title)")}}));
        }
        // Titles in an order unrelated to the rows', so that a walk jumps all over the file.
        std::vector<int> order(kRows);
        for (int i = 0; i < kRows; ++i) order[size_t(i)] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(5));
        Cursor c(QStringLiteral("fill"));
        c.setTablePath(path);
        ASSERT_STORE_OK(c.open());
        for (int i = 0; i < kRows; ++i) {
            ASSERT_STORE_OK(c.append());
            ASSERT_STORE_OK(c.setText(QStringLiteral("Title"), QStringLiteral("song %1").arg(order[size_t(i)], 5, 10, QLatin1Char('0'))));
            ASSERT_STORE_OK(c.setText(QStringLiteral("Nr"), TDM::PadNumber(i + 1, 5)));
            ASSERT_STORE_OK(c.post());
            expected.push_back({order[size_t(i)], i + 1});
        }
        std::sort(expected.begin(), expected.end());
    }

    void openInTitleOrder(Cursor& c) {
        c.setTablePath(path);
        ASSERT_STORE_OK(c.setOrder(QStringLiteral("Title")));
        ASSERT_STORE_OK(c.open());
    }

    // (title number, row number) of the rows from the current one to the end.
    std::vector<std::pair<int, int>> walk(Cursor& c) {
        std::vector<std::pair<int, int>> out;
        while (!c.eof() && !c.isEmpty()) {
            out.push_back({c.text(QStringLiteral("Title")).mid(5).toInt(), c.text(QStringLiteral("Nr")).toInt()});
            const Status st = c.next();
            EXPECT_TRUE(st.isOk()) << st.text().toStdString();
            if (!st) break;
        }
        return out;
    }

    static constexpr int kRows = 30000;
    TempFolder dir;
    QString path;
    std::vector<std::pair<int, int>> expected;  // by title
};

TEST_F(OrderedReadTest, AWalkGivesEveryRowInOrderWithFiltersAndScopes) {
    Cursor c(QStringLiteral("walk"));
    ASSERT_NO_FATAL_FAILURE(openInTitleOrder(c));
    EXPECT_EQ(walk(c), expected);
    // A second walk over what the first left behind.
    ASSERT_STORE_OK(c.first());
    EXPECT_EQ(walk(c), expected);

    c.setFiltered(true);
    ASSERT_STORE_OK(c.setFilter(QStringLiteral("val(Nr) % 3 = 0")));
    ASSERT_STORE_OK(c.first());
    std::vector<std::pair<int, int>> third;
    for (const auto& e : expected)
        if (e.second % 3 == 0) third.push_back(e);
    EXPECT_EQ(walk(c), third);
    c.setFiltered(false);

    ASSERT_STORE_OK(c.setScope(QStringLiteral("SONG 1"), QStringLiteral("SONG 1~")));
    ASSERT_STORE_OK(c.first());
    std::vector<std::pair<int, int>> scoped;
    for (const auto& e : expected)
        if (e.first >= 10000 && e.first < 20000) scoped.push_back(e);
    EXPECT_EQ(walk(c), scoped);
}

// Rows the walk has fetched ahead but not reached are changed through another cursor: the walk
// shows them as they are now.
TEST_F(OrderedReadTest, RowsChangedAheadOfTheWalkAreReadAsChanged) {
    Cursor c(QStringLiteral("walk"));
    ASSERT_NO_FATAL_FAILURE(openInTitleOrder(c));
    for (int i = 0; i < 2000; ++i) ASSERT_STORE_OK(c.next());

    Cursor other(QStringLiteral("other"));
    other.setTablePath(path);
    ASSERT_STORE_OK(other.open());
    // The rows of titles 2500 and 20000 (within the walk's next window and far beyond it).
    for (int title : {2500, 20000}) {
        const int row = expected[size_t(title)].second;
        ASSERT_STORE_OK(other.gotoBookmark(Cursor::Bookmark{std::uint32_t(row)}));
        ASSERT_STORE_OK(other.edit());
        ASSERT_STORE_OK(other.setText(QStringLiteral("Nr"), QStringLiteral("99999")));
        ASSERT_STORE_OK(other.post());
    }
    ASSERT_STORE_OK(other.flush());
    auto rest = walk(c);
    auto want = std::vector<std::pair<int, int>>(expected.begin() + 2000, expected.end());
    for (auto& e : want)
        if (e.first == 2500 || e.first == 20000) e.second = 99999;
    EXPECT_EQ(rest, want);
}

TEST_F(OrderedReadTest, AWalkThatTurnsBackStillReadsEveryRow) {
    Cursor c(QStringLiteral("walk"));
    ASSERT_NO_FATAL_FAILURE(openInTitleOrder(c));
    for (int i = 0; i < 5000; ++i) ASSERT_STORE_OK(c.next());
    std::vector<std::pair<int, int>> back;
    for (int i = 0; i < 3000; ++i) {
        back.push_back({c.text(QStringLiteral("Title")).mid(5).toInt(), c.text(QStringLiteral("Nr")).toInt()});
        ASSERT_STORE_OK(c.prior());
    }
    std::vector<std::pair<int, int>> want(expected.begin() + 2001, expected.begin() + 5001);
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(back, want);
    const std::vector<std::pair<int, int>> rest(expected.begin() + 2000, expected.end());
    EXPECT_EQ(walk(c), rest);
}

}  // namespace
