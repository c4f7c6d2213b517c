// The expression language over a record: what the program builds (album selection, searches,
// index keys) and what users type into filters, and the errors they get for what they mistype.
#include "Codepage.h"
#include "Expression.h"
#include "Table.h"

#include <gtest/gtest.h>

using namespace albumora::store;

namespace {

std::vector<FieldDef> albumFields() {
    return *parseFieldList(QStringLiteral(
        "Album,Char,50;Artist,Char,50;IX,Char,6;Genre,Char,10;YR,Char,4;ID,Char,8;Label,Char,55;Media,Char,2;Rev,Char,1;"
        "Sys,Char,1;Notes,Memo;marked,logical,1;Qty,Numeric,5;"));
}

// A record of albumFields() with the given values (blanks elsewhere).
struct Row {
    std::vector<FieldDef> fields = albumFields();
    std::string bytes;
    std::string memo;
    Row() {
        int len = 1;
        for (FieldDef& f : fields) {
            f.offset = len;
            len += f.length;
        }
        bytes.assign(size_t(len), ' ');
    }
    Row& set(const char* name, std::string value) {
        for (const FieldDef& f : fields)
            if (asciiUpper(f.name) == asciiUpper(std::string(name))) {
                if (f.type == 'N') value = std::string(size_t(f.length) - value.size(), ' ') + value;
                value.resize(size_t(f.length), ' ');
                bytes.replace(size_t(f.offset), size_t(f.length), value);
            }
        return *this;
    }
    EvalContext ctx() const {
        EvalContext c;
        c.record = bytes.data();
        c.recno = 7;
        c.readMemo = [this](std::uint32_t) -> Result<std::string> { return memo; };
        return c;
    }
};

Row sampleAlbum() {
    Row r;
    r.set("Album", "Kind of Blue").set("Artist", "Miles Davis").set("Genre", "jazz").set("ID", "7b0a5c09");
    r.set("Label", "").set("Media", "CR").set("IX", "    12").set("marked", "T").set("Qty", "3");
    r.set("Notes", "         1");
    r.memo = "COST=12.50\r\nRecorded live in 1959";
    return r;
}

struct Case {
    const char* expr;
    bool expected;
};

TEST(ExpressionTest, ARunOfStarsMatchesAsOneStarDoes) {
    const Row row = sampleAlbum();
    const std::string stars(60000, '*');
    const std::pair<std::string, bool> cases[] = {{"DAV" + stars + "IS", true}, {"is" + stars + "dav", false},
                                                  {stars, true}, {stars + "davis" + stars, true}};
    for (const auto& [pattern, expected] : cases) {
        auto e = Expression::compile(QStringLiteral("contains(artist,\"%1\")").arg(QString::fromStdString(pattern)), row.fields);
        ASSERT_TRUE(e.isOk()) << e.error().text().toStdString();
        // Evaluated as a filter is, row after row.
        for (int i = 0; i < 20000; ++i) {
            EvalContext ctx = row.ctx();
            ASSERT_EQ(e->evalLogical(ctx), expected) << pattern.size();
        }
    }
}

TEST(ExpressionTest, ConditionsUsersAndTheProgramWrite) {
    const Row row = sampleAlbum();
    const Case cases[] = {
        {"ID=\"7b0a5c09\"", true},
        {"id=\"7b0a5c0\"", true},  // "=" compares up to the length of the right side
        {"ID==\"7b0a5c0\"", false},
        {"ID=\"7b0a5c09xx\"", false},
        {"Genre = \"jazz\"", true},  // the stored value is padded with blanks
        {"Genre == \"jazz\"", false},
        {"upper(genre) = \"JAZZ\"", true},
        {"genre <> \"rock\"", true},
        {"genre # \"jazz\"", false},
        {"genre != \"jazz\"", false},
        {"(NOT empty(label)) and (media <>\"LD\")", false},
        {"empty(label) and media <> \"LD\"", true},
        {"contains(artist,\"davis\")", true},
        {"contains(artist,\"DAV*IS\")", true},
        {"contains(artist,\"is*dav\")", false},
        {"contains(artist,\"\")", true},
        {"contains(notes,\"*live*\")", true},
        {"contains(notes,\"*studio*\")", false},
        {"marked", true},
        {"NOT marked", false},
        {".NOT. marked .OR. qty > 2", true},
        {"qty = 3 AND qty >= 3 AND qty <= 3 AND qty < 4", true},
        {"qty * 2 + 1 = 7", true},
        {"val(IX) = 12", true},
        {"left(upper(Album),4) = \"KIND\"", true},
        {"\"Blue\" $ Album", true},
        {"\"blue\" $ Album", false},
        {"upper(PADR(LTRIM(IX),6)) = \"12    \"", true},
        {"alltrim(artist) + \"!\" == \"Miles Davis!\"", true},
        {"Artist > \"Mile\" and Artist < \"Milez\"", true},
        {"iif(marked, \"x\", \" \") = \"x\"", true},
        {".T.", true},
        {"len(trim(album)) = 12", true},
        {"recno() = 7", true},
        {"str(qty, 3) = \"  3\"", true},
    };
    for (const Case& c : cases) {
        auto e = Expression::compile(QString::fromLatin1(c.expr), row.fields);
        ASSERT_TRUE(e.isOk()) << c.expr << ": " << e.error().text().toStdString();
        ASSERT_EQ(e->type(), ValueType::Logical) << c.expr;
        EvalContext ctx = row.ctx();
        EXPECT_EQ(e->evalLogical(ctx), c.expected) << c.expr;
        EXPECT_TRUE(ctx.error.isOk()) << c.expr;
    }
}

TEST(ExpressionTest, IndexKeysHaveTheLengthOfTheirValueOnABlankRecord) {
    const Row row = sampleAlbum();
    struct KeyCase {
        const char* expr;
        int length;
        std::string key;
    };
    const KeyCase cases[] = {
        {"upper(Artist)+upper(Album)", 100, "MILES DAVIS" + std::string(39, ' ') + "KIND OF BLUE" + std::string(38, ' ')},
        {"upper(Label)+upper(IX)", 61, std::string(55, ' ') + "    12"},
        {"ID", 8, "7b0a5c09"},
        {"upper(Artist)+left(upper(Album),12)", 62, "MILES DAVIS" + std::string(39, ' ') + "KIND OF BLUE"},
        {"upper(PADR(LTRIM(IX),6))", 6, "12    "},
        {"alltrim(Artist)", 0, ""},  // a blank record gives an empty key: unusable for an index
    };
    for (const KeyCase& c : cases) {
        auto e = Expression::compile(QString::fromLatin1(c.expr), row.fields);
        ASSERT_TRUE(e.isOk()) << c.expr;
        EXPECT_EQ(e->keyLength(), c.length) << c.expr;
        EXPECT_EQ(e->evalKey(row.ctx()), c.key) << c.expr;
        EXPECT_EQ(e->keyPad(), ' ');
    }
    auto num = Expression::compile(QStringLiteral("qty"), row.fields);
    EXPECT_EQ(num->keyLength(), 8);
    EXPECT_EQ(num->keyPad(), '\0');
    auto memo = Expression::compile(QStringLiteral("upper(notes)"), row.fields);
    EXPECT_TRUE(memo->readsMemo());
}

TEST(ExpressionTest, MistakesAreReportedWithWhereAndWhy) {
    const Row row = sampleAlbum();
    struct ErrCase {
        const char* expr;
        const char* fragment;
    };
    const ErrCase cases[] = {
        {"", "position 1: the expression is empty"},
        {"   ", "the expression is empty"},
        {"artst = \"x\"", "position 1: unknown field \"ARTST\""},
        {"foo(artist)", "unknown function \"FOO\""},
        {"contains(artist,\"Guns \"N\" Roses\")", "position 24"},  // the user's own quotes end the text early
        {"contains(artist,\"abc)", "text is not closed"},
        {"genre = 5", "cannot compare text with a number"},
        {"qty + \"a\"", "cannot join a number and text"},
        {"artist AND marked", "AND needs a logical value"},
        {"(genre = \"rock\"", "expected \")\""},
        {"genre = \"rock\")", "unexpected \")\""},
        {"left(artist)", "left() takes 2 argument(s)"},
        {"left(artist, \"3\")", "argument 2 of left() must be a number"},
        {"1.2.3 = qty", "malformed number"},
        {"artist @ \"x\"", "unexpected character \"@\""},
        {"iif(marked, 1, \"a\")", "same type"},
        {"marked > marked", "only be compared for equality"},
    };
    for (const ErrCase& c : cases) {
        auto e = Expression::compile(QString::fromLatin1(c.expr), row.fields);
        ASSERT_FALSE(e.isOk()) << c.expr;
        EXPECT_EQ(e.error().kind(), ErrorKind::Expression);
        EXPECT_TRUE(e.error().message().contains(QString::fromLatin1(c.fragment)))
            << c.expr << " gave: " << e.error().message().toStdString();
    }
}

TEST(ExpressionTest, DeepNestingIsRefusedNotOverflowed) {
    const Row row = sampleAlbum();
    const QString deep = QString(5000, QLatin1Char('(')) + QStringLiteral("marked") + QString(5000, QLatin1Char(')'));
    auto e = Expression::compile(deep, row.fields);
    ASSERT_FALSE(e.isOk());
    EXPECT_TRUE(e.error().message().contains(QStringLiteral("nests too deeply")));
    const QString nots = QStringLiteral("NOT ").repeated(5000) + QStringLiteral("marked");
    EXPECT_FALSE(Expression::compile(nots, row.fields).isOk());
    // A flat chain nests in the compiled tree just the same.
    const QString chain = QStringLiteral("artist") + QStringLiteral("+artist").repeated(100000) + QStringLiteral("=\"x\"");
    auto c = Expression::compile(chain, row.fields);
    ASSERT_FALSE(c.isOk());
    EXPECT_TRUE(c.error().message().contains(QStringLiteral("too long")));
}

TEST(ExpressionTest, MemoThatCannotBeReadIsAnErrorNotAFalseMatch) {
    Row row = sampleAlbum();
    auto e = Expression::compile(QStringLiteral("contains(notes,\"live\")"), row.fields);
    ASSERT_TRUE(e.isOk());
    EvalContext ctx = row.ctx();
    ctx.readMemo = [](std::uint32_t) -> Result<std::string> {
        return Status(ErrorKind::Corruption, QStringLiteral("memo block 1 lies outside ALBUMS.FPT"));
    };
    EXPECT_FALSE(e->evalLogical(ctx));
    EXPECT_EQ(ctx.error.kind(), ErrorKind::Corruption);
}

TEST(ContainsPattern, WildcardsAndCase) {
    struct P {
        const char* text;
        const char* pattern;
        bool match;
    };
    const P cases[] = {{"All You Need Is Love", "love", true},   {"All You Need Is Love", "LOVE", true},
                       {"All You Need Is Love", "*love*", true}, {"All You Need Is Love", "need*love", true},
                       {"All You Need Is Love", "love*need", false}, {"Lovesong", "love*song", true},
                       {"Glove", "love", true},                  {"Lov", "love", false},
                       {"", "", true},                           {"abc", "**", true},
                       {"Björk", "BJöRK", true},  // only ASCII letters change case
                       {"BJÖRK", "björk", false}};
    for (const P& c : cases) {
        const std::string text = toCp1252(QString::fromUtf8(c.text));
        const std::string pattern = toCp1252(QString::fromUtf8(c.pattern));
        EXPECT_EQ(containsPattern(text, pattern), c.match) << c.text << " / " << c.pattern;
    }
}

TEST(Codepage, Windows1252RoundTripAndReplacement) {
    const QString text = QStringLiteral("Motörhead – “Ace” €5 Œuvre");
    const std::string bytes = toCp1252(text);
    EXPECT_EQ(bytes.size(), size_t(text.size()));
    EXPECT_EQ(fromCp1252(bytes), text);
    EXPECT_EQ(static_cast<unsigned char>(bytes[bytes.find('5') - 1]), 0x80);  // the euro sign
    EXPECT_EQ(toCp1252(QStringLiteral("日本 🎵")), std::string("?? ?"));
    // Every byte reads as some character and writes back as the same byte.
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(char(b));
    EXPECT_EQ(toCp1252(fromCp1252(all)), all);
}

// The byte-level paths of the companion's CSV: UTF-8 straight from the bytes and trailing padding
// trimmed, taken eight bytes at a time, against the character-by-character way, for every length
// and every place of a non-ASCII byte, a blank or a zero byte.
TEST(Codepage, Utf8AndTrimmingFromRawBytesAtEveryLengthAndPlace) {
    for (size_t n = 0; n <= 24; ++n) {
        for (size_t at = 0; at <= n; ++at) {
            for (const char odd : {'\xe9', '\x80', '\x9d', 'x'}) {
                std::string bytes(n, 'a');
                for (size_t i = 0; i < n; ++i) bytes[i] = char('a' + i % 26);
                if (at < n) bytes[at] = odd;
                std::string utf8 = "<";
                appendUtf8FromCp1252(utf8, bytes);
                EXPECT_EQ(utf8, "<" + fromCp1252(bytes).toStdString()) << n << " " << at;
            }
            for (const char pad : {' ', '\0'}) {
                std::string field(n, pad);
                for (size_t i = 0; i < at; ++i) field[i] = i % 3 == 1 ? (pad == ' ' ? '\0' : ' ') : 'k';
                std::string_view want(field);
                while (!want.empty() && (want.back() == ' ' || want.back() == '\0')) want.remove_suffix(1);
                EXPECT_EQ(trimRight(field), want) << n << " " << at;
            }
        }
    }
}

}  // namespace
