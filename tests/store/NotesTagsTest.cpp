// The tagged lines of album notes and the amounts they carry.
#include "NotesTags.h"
#include "TestSupport.h"
#include "moneyFuncs.h"

using namespace albumora;
using namespace albumora::notes;

namespace {

TEST(NotesTags, AmountsAreFoundByTheFirstLineHoldingTheTag) {
    QStringList lines = SplitLines(QStringLiteral("COST=12.50\r\nVALUE= 20 "));
    EXPECT_EQ(FindAmount(lines, AmountKind::Cost).value, QStringLiteral("12.50"));
    EXPECT_EQ(FindAmount(lines, AmountKind::Cost).line, 0);
    EXPECT_EQ(FindAmount(lines, AmountKind::Value).value, QStringLiteral("20"));
    EXPECT_EQ(FindAmount(lines, AmountKind::Value).line, 1);
    // "Trim" takes off what is at or below the blank, tabs included, and nothing else.
    QStringList spaced = SplitLines(QStringLiteral("COST=\t7.00\u00A0\r\nVALUE=\u2003 8"));
    EXPECT_EQ(FindAmount(spaced, AmountKind::Cost).value, QStringLiteral("7.00\u00A0"));
    EXPECT_EQ(FindAmount(spaced, AmountKind::Value).value, QStringLiteral("\u2003 8"));

    QStringList none = SplitLines(QStringLiteral("Bought in Hamburg\r\nSigned copy"));
    EXPECT_EQ(FindAmount(none, AmountKind::Cost).value, QString());
    EXPECT_EQ(FindAmount(none, AmountKind::Cost).line, -1);
    SetAmount(none, AmountKind::Cost, QStringLiteral("9.99"));
    EXPECT_EQ(JoinLines(none), QStringLiteral("Bought in Hamburg\r\nSigned copy\r\nCOST=9.99"));
    SetAmount(none, AmountKind::Cost, QStringLiteral("11"));
    EXPECT_EQ(none.last(), QStringLiteral("COST=11"));
    EXPECT_EQ(none.size(), 3);
    SetAmount(none, AmountKind::Cost, QString());  // an emptied entry keeps the bare tag
    EXPECT_EQ(none.last(), QStringLiteral("COST="));
    EXPECT_EQ(FindAmount(none, AmountKind::Cost).value, QString());
    EXPECT_EQ(FindAmount(none, AmountKind::Cost).line, 2);

    // The tag is found anywhere in a line, and a second line is never read.
    QStringList odd = SplitLines(QStringLiteral("paid: COST=5\r\nCOST=7"));
    EXPECT_EQ(FindAmount(odd, AmountKind::Cost).line, 0);
}

TEST(NotesTags, LastTaggedLineWins) {
    QStringList lines = SplitLines(QStringLiteral("COVER=c:\\a.jpg\r\nnote\r\nCOVER=c:\\b.jpg\r\nURL=\r\n URL=http://x"));
    EXPECT_EQ(FindLastTagged(lines, kCover), QStringLiteral("c:\\b.jpg"));
    EXPECT_EQ(FindLastTagged(lines, kUrl), QString());  // "URL=" alone: absent; " URL=" does not begin with the tag
    EXPECT_EQ(FindLastTagged(lines, kPlaylist), QString());
    AddTaggedLine(lines, kUrl, QStringLiteral("spotify:album:1"));
    EXPECT_EQ(FindLastTagged(lines, kUrl), QStringLiteral("spotify:album:1"));
    QStringList longLine{kCover + QString(1500, QLatin1Char('p'))};
    EXPECT_EQ(FindLastTagged(longLine, kCover).size(), 999);
}

TEST(NotesTags, EscapesAndExtendedData) {
    EXPECT_EQ(StripEscapes(QStringLiteral("\\nLive recording\\n\\n")), QStringLiteral("Live recording"));
    EXPECT_EQ(StripEscapes(QStringLiteral("a\\nb")), QStringLiteral("a\\nb"));
    EXPECT_EQ(StripEscapes(QStringLiteral("\\n")), QString());
    EXPECT_EQ(StripEscapes(QString()), QString());

    const QStringList lines = SplitLines(QStringLiteral(
        "EXTD=Recorded 1971\r\nEXTT0=Recorded 1971\r\nEXTT12=thirteen\r\nEXTT0=second line of 0 loses\r\n"
        "EXTTx=not a track\r\nEXTT5 no equals\r\nEXTT999=too far\r\nEXTD=more"));
    EXPECT_EQ(ExtendedDiscTexts(lines), (QStringList{"Recorded 1971", "more"}));
    const auto tracks = ExtendedTrackTexts(lines);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks.at(1), QStringLiteral("Recorded 1971"));
    EXPECT_EQ(tracks.at(13), QStringLiteral("thirteen"));
    EXPECT_EQ(ExtendedTrackTexts(lines, 9).size(), 1u);
}

TEST(NotesTags, LyricBlocks) {
    const QString notes = AppendLyricBlock(QString(), QStringLiteral("Yesterday"), QStringLiteral("line one\r\nline two"));
    EXPECT_TRUE(notes.startsWith(QLatin1Char('\r')));
    const QStringList lines = SplitLines(notes);
    EXPECT_EQ(lines.value(1), QStringLiteral("== begin lyric: YESTERDAY"));
    EXPECT_EQ(FindLyricBlock(lines, QStringLiteral("yesterday")), (QStringList{"line one", "line two"}));
    EXPECT_FALSE(FindLyricBlock(lines, QStringLiteral("Today")).has_value());
    // A title cut short still finds the block keyed with the whole title.
    const QString more = AppendLyricBlock(QStringLiteral("COST=3"), QStringLiteral("A Very Long Song Title That Goes On"),
                                          QStringLiteral("la la"));
    EXPECT_EQ(FindLyricBlock(SplitLines(more), QStringLiteral("A Very Long Song Title")), (QStringList{"la la"}));
    // Three lines or fewer hold no block.
    EXPECT_FALSE(FindLyricBlock(SplitLines(QStringLiteral("== begin lyric: X\r\n== end lyric: X")), QStringLiteral("x")));
}

TEST(Money, AmountsAsTheNotesEditorAndReportsSeeThem) {
    EXPECT_TRUE(money::IsAmountText(QStringLiteral("12.50")));
    EXPECT_TRUE(money::IsAmountText(QString()));
    EXPECT_FALSE(money::IsAmountText(QStringLiteral("$12")));
    EXPECT_FALSE(money::IsAmountText(QStringLiteral("12,50")));
    struct C {
        const char* text;
        std::optional<qint64> cents;
    };
    for (const C& c : {C{"12.50", 1250}, C{"15", 1500}, C{"0.005", 1}, C{".5", 50}, C{"", 0}, C{"1.2.3", std::nullopt},
                       C{".", std::nullopt}, C{" 20 ", 2000}})
        EXPECT_EQ(money::ToCents(QString::fromLatin1(c.text)), c.cents) << c.text;
    EXPECT_EQ(money::FormatCents(1250), QStringLiteral("12.50"));
    EXPECT_EQ(money::FormatCents(5), QStringLiteral("0.05"));
    EXPECT_EQ(money::FormatCents(123456), QStringLiteral("1234.56"));
}

TEST(NotesTags, LinesSplitOnEveryKindOfBreak) {
    EXPECT_EQ(SplitLines(QStringLiteral("a\r\nb\rc\nd\r\n")), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines(QStringLiteral("a\r\n\r\nb")), (QStringList{"a", "", "b"}));
    EXPECT_TRUE(SplitLines(QString()).isEmpty());
}

}  // namespace
