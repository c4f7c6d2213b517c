// The expression language of filters and index keys, compiled once into a tree of typed nodes
// and evaluated over raw record bytes.
//
//   or      := and { (OR | .OR.) and }
//   and     := not { (AND | .AND.) not }
//   not     := (NOT | .NOT. | !) not | compare
//   compare := sum [ (= | == | <> | # | != | < | > | <= | >= | $) sum ]
//   sum     := product { (+ | -) product }
//   product := unary { (* | / | %) unary }
//   unary   := (- | +) unary | primary
//   primary := number | "text" | 'text' | [text] | .T. | .F. | name | name ( args ) | ( or )
//
// Text comparisons follow xBase with SET EXACT OFF: "=" compares the left text up to the length
// of the right one ("Rock     " = "Rock" holds), "==" compares exactly. Names of fields and
// functions are matched without regard to case; contains(text, "pattern") holds when the text
// holds the pattern anywhere, ignoring case, "*" standing for any run of characters.
#pragma once

#include "DbfFile.h"
#include "Status.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace albumora::store {

enum class ValueType { Char, Number, Logical, Date };

// What an expression reads while it is evaluated.
struct EvalContext {
    const char* record = nullptr;  // the raw record, deletion byte first
    std::uint32_t recno = 0;
    // Reads a memo by its block number.
    std::function<Result<std::string>(std::uint32_t)> readMemo;
    void* user = nullptr;  // for fields supplied by the caller (looked-up, computed)
    mutable Status error;  // the first evaluation failure (a memo that cannot be read, ...)
};

// Names beyond the table's own fields (looked-up and computed fields of a cursor).
struct ExternalField {
    ValueType type = ValueType::Char;
    std::function<std::string(const EvalContext&)> text;  // for Char
    std::function<bool(const EvalContext&)> logical;      // for Logical
};
using FieldResolver = std::function<std::optional<ExternalField>(std::string_view upperName)>;

class Expression {
public:
    struct Node;

    Expression();
    ~Expression();
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    // Compiles text against the fields of a table; the error says where and why.
    static Result<Expression> compile(const QString& text, const std::vector<FieldDef>& fields,
                                      const FieldResolver& external = {});

    bool isNull() const { return !root_; }
    ValueType type() const { return type_; }
    const QString& text() const { return text_; }

    bool evalLogical(const EvalContext& ctx) const;
    double evalNumber(const EvalContext& ctx) const;
    std::string evalText(const EvalContext& ctx) const;

    // Index keys: the value as key bytes. Text keys take the length of the expression's value on
    // a blank record, as xBase engines do; numbers and dates take 8 bytes, integer fields 4 and
    // logical values 1.
    int keyLength() const { return keyLength_; }
    char keyPad() const { return type_ == ValueType::Char ? ' ' : '\0'; }
    std::string evalKey(const EvalContext& ctx) const;
    // The same into keyLength() bytes at out.
    void evalKeyInto(const EvalContext& ctx, char* out) const;
    // Key bytes for a value typed by a user (a seek value).
    std::string keyFromText(std::string_view text) const;
    // A key made of character fields joined by "+", each maybe in upper(): the record bytes that
    // make it, so that building an index copies bytes instead of evaluating. False for any
    // other expression.
    struct KeySlice {
        int offset = 0;
        int length = 0;
        bool upper = false;
    };
    bool keySlices(std::vector<KeySlice>& out) const;
    // Whether the expression reads a memo field (such expressions cannot make index keys).
    bool readsMemo() const { return readsMemo_; }

private:
    std::unique_ptr<Node> root_;
    ValueType type_ = ValueType::Logical;
    QString text_;
    int keyLength_ = 0;
    bool integerKey_ = false;
    bool readsMemo_ = false;
};

// The matching rule of contains(): pattern segments split by "*" must appear in order, ignoring
// the case of ASCII letters. An empty pattern matches everything.
bool containsPattern(std::string_view text, std::string_view pattern);

// Dates: Julian day numbers, as FoxPro keeps them in keys.
double julianDay(int year, int month, int day);
double parseDbfDate(std::string_view yyyymmdd);  // 0 for a blank or invalid date
std::string formatDbfDate(double julian);         // "YYYYMMDD", blanks for 0

}  // namespace albumora::store
