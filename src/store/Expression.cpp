#include "Expression.h"

#include "Bytes.h"
#include "Codepage.h"
#include "IndexFile.h"

#include <QDate>

#include <cmath>
#include <cstring>
#include <map>
#include <optional>

namespace albumora::store {

// ---------------------------------------------------------------------------------------------
// Helpers

bool containsPattern(std::string_view text, std::string_view pattern) {
    size_t from = 0;
    size_t segStart = 0;
    while (segStart <= pattern.size()) {
        size_t star = pattern.find('*', segStart);
        std::string_view seg = pattern.substr(segStart, star == std::string_view::npos ? std::string_view::npos : star - segStart);
        if (!seg.empty()) {
            bool found = false;
            const unsigned char first = static_cast<unsigned char>(asciiUpperChar(seg[0]));
            for (size_t i = from; i + seg.size() <= text.size(); ++i) {
                if (static_cast<unsigned char>(asciiUpperChar(text[i])) != first) continue;
                size_t k = 1;
                while (k < seg.size() && asciiUpperChar(text[i + k]) == asciiUpperChar(seg[k])) ++k;
                if (k == seg.size()) {
                    from = i + seg.size();
                    found = true;
                    break;
                }
            }
            if (!found) return false;
        }
        if (star == std::string_view::npos) break;
        segStart = star + 1;
    }
    return true;
}

double julianDay(int y, int m, int d) { return double(QDate(y, m, d).toJulianDay()); }

double parseDbfDate(std::string_view s) {
    if (s.size() < 8) return 0;
    int v[3] = {0, 0, 0};
    const int widths[3] = {4, 2, 2};
    size_t at = 0;
    for (int part = 0; part < 3; ++part) {
        for (int i = 0; i < widths[part]; ++i, ++at) {
            if (s[at] < '0' || s[at] > '9') return 0;
            v[part] = v[part] * 10 + (s[at] - '0');
        }
    }
    QDate d(v[0], v[1], v[2]);
    return d.isValid() ? double(d.toJulianDay()) : 0;
}

std::string formatDbfDate(double julian) {
    if (julian <= 0) return std::string(8, ' ');
    QDate d = QDate::fromJulianDay(qint64(julian));
    return d.toString(QStringLiteral("yyyyMMdd")).toStdString();
}

namespace {

double parseNumber(std::string_view s) {
    std::string t(trimRight(s));
    size_t b = 0;
    while (b < t.size() && t[b] == ' ') ++b;
    if (b == t.size()) return 0;
    char* end = nullptr;
    double v = std::strtod(t.c_str() + b, &end);
    return std::isfinite(v) ? v : 0;
}

std::string formatNumber(double v, int len, int dec) {
    const int need = std::snprintf(nullptr, 0, "%*.*f", len, dec, v);
    if (need < 0 || need > len) return std::string(size_t(std::max(len, 0)), '*');
    std::string s(size_t(need) + 1, '\0');
    std::snprintf(s.data(), s.size(), "%*.*f", len, dec, v);
    s.resize(size_t(need));
    return s;
}

// A count typed into an expression, as a size: negative and NaN are 0, anything at or above
// the limit is the limit (a double that large does not fit an integer at all).
size_t countOf(double n, size_t limit) {
    if (!(n > 0)) return 0;
    if (n >= double(limit)) return limit;
    return size_t(n);
}

std::string_view trimLeftBlank(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && s[b] == ' ') ++b;
    return s.substr(b);
}

std::string_view trimRightBlank(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && s[e - 1] == ' ') --e;
    return s.substr(0, e);
}

const char* typeName(ValueType t) {
    switch (t) {
        case ValueType::Char: return "text";
        case ValueType::Number: return "a number";
        case ValueType::Logical: return "a logical value";
        case ValueType::Date: return "a date";
    }
    return "?";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Nodes

struct Expression::Node {
    ValueType type = ValueType::Char;
    int pos = 0;
    bool memo = false;
    mutable std::string scratch;
    virtual ~Node() = default;
    virtual std::string_view str(const EvalContext&) const { return {}; }
    virtual double num(const EvalContext&) const { return 0; }
    virtual bool logic(const EvalContext&) const { return false; }
    virtual bool isConstant() const { return false; }
};

namespace {

using Node = Expression::Node;
using NodeP = std::unique_ptr<Node>;

struct ConstNode : Node {
    std::string s;
    double n = 0;
    bool l = false;
    std::string_view str(const EvalContext&) const override { return s; }
    double num(const EvalContext&) const override { return n; }
    bool logic(const EvalContext&) const override { return l; }
    bool isConstant() const override { return true; }
};

struct FieldNode : Node {
    FieldDef f;
    std::string_view raw(const EvalContext& c) const { return {c.record + f.offset, size_t(f.length)}; }
    std::string_view str(const EvalContext& c) const override {
        if (!f.isMemo()) return raw(c);
        std::uint32_t block = 0;
        if (f.length == 4) {
            block = getLe32(c.record + f.offset);
        } else {
            std::string_view v = trimLeftBlank(trimRight(raw(c)));
            for (char ch : v) {
                if (ch < '0' || ch > '9') {
                    block = 0;
                    break;
                }
                block = block * 10 + std::uint32_t(ch - '0');
            }
        }
        scratch.clear();
        if (block == 0 || !c.readMemo) return scratch;
        auto r = c.readMemo(block);
        if (!r) {
            if (c.error.isOk()) c.error = r.error();
            return scratch;
        }
        scratch = std::move(r).value();
        return scratch;
    }
    double num(const EvalContext& c) const override {
        const char* p = c.record + f.offset;
        switch (f.type) {
            case 'I': return double(std::int32_t(getLe32(p)));
            case 'Y': {
                std::int64_t v = std::int64_t(getLe32(p)) | (std::int64_t(getLe32(p + 4)) << 32);
                return double(v) / 10000.0;
            }
            case 'B': {
                double d;
                std::memcpy(&d, p, 8);
                return std::isfinite(d) ? d : 0;
            }
            case 'D': return parseDbfDate(raw(c));
            case 'T': {
                std::int32_t day = std::int32_t(getLe32(p));
                std::int32_t ms = std::int32_t(getLe32(p + 4));
                return day <= 0 ? 0 : day + ms / 86400000.0;
            }
            default: return parseNumber(raw(c));
        }
    }
    bool logic(const EvalContext& c) const override {
        char v = c.record[f.offset];
        return v == 'T' || v == 't' || v == 'Y' || v == 'y';
    }
};

struct ExternalNode : Node {
    ExternalField ext;
    std::string_view str(const EvalContext& c) const override {
        scratch = ext.text ? ext.text(c) : std::string();
        return scratch;
    }
    bool logic(const EvalContext& c) const override { return ext.logical ? ext.logical(c) : false; }
};

struct ConcatNode : Node {
    NodeP a, b;
    bool trimLeft = false;  // "-": the left part's trailing blanks move to the end
    std::string_view str(const EvalContext& c) const override {
        // Each node owns its buffer, so the left view stays valid while the right side runs.
        std::string_view x = a->str(c);
        std::string_view y = b->str(c);
        if (!trimLeft) {
            scratch.assign(x);
            scratch.append(y);
        } else {
            std::string_view t = trimRightBlank(x);
            scratch.assign(t);
            scratch.append(y);
            scratch.append(x.size() - t.size(), ' ');
        }
        return scratch;
    }
};

struct ArithNode : Node {
    NodeP a, b;
    char op = '+';
    double num(const EvalContext& c) const override {
        double x = a->num(c), y = b->num(c);
        switch (op) {
            case '+': return x + y;
            case '-': return x - y;
            case '*': return x * y;
            case '/':
                if (y == 0) {
                    if (c.error.isOk()) c.error = Status(ErrorKind::Expression, QStringLiteral("Division by zero"));
                    return 0;
                }
                return x / y;
            case '%':
                if (y == 0) {
                    if (c.error.isOk()) c.error = Status(ErrorKind::Expression, QStringLiteral("Division by zero"));
                    return 0;
                }
                return std::fmod(x, y);
        }
        return 0;
    }
};

struct NegNode : Node {
    NodeP a;
    double num(const EvalContext& c) const override { return -a->num(c); }
};

enum class Cmp { Eq, ExactEq, Ne, Lt, Gt, Le, Ge, In };

struct CompareNode : Node {
    NodeP a, b;
    Cmp op = Cmp::Eq;
    ValueType operand = ValueType::Char;
    bool logic(const EvalContext& c) const override {
        if (operand == ValueType::Char) {
            std::string_view left = a->str(c);
            std::string_view y = b->str(c);
            if (op == Cmp::In) return y.find(left) != std::string_view::npos;
            if (op == Cmp::ExactEq) return left == y;
            if (op == Cmp::Eq || op == Cmp::Ne) {
                bool eq;
                if (left.size() >= y.size())
                    eq = left.substr(0, y.size()) == y;
                else
                    eq = left == y.substr(0, left.size()) &&
                         trimRightBlank(y.substr(left.size())).empty();
                return op == Cmp::Eq ? eq : !eq;
            }
            const size_t n = std::max(left.size(), y.size());
            int r = 0;
            for (size_t i = 0; i < n && r == 0; ++i) {
                unsigned char p = i < left.size() ? static_cast<unsigned char>(left[i]) : ' ';
                unsigned char q = i < y.size() ? static_cast<unsigned char>(y[i]) : ' ';
                r = p < q ? -1 : p > q ? 1 : 0;
            }
            switch (op) {
                case Cmp::Lt: return r < 0;
                case Cmp::Gt: return r > 0;
                case Cmp::Le: return r <= 0;
                case Cmp::Ge: return r >= 0;
                default: return false;
            }
        }
        if (operand == ValueType::Logical) {
            bool x = a->logic(c), y = b->logic(c);
            return (op == Cmp::Ne) ? x != y : x == y;
        }
        double x = a->num(c), y = b->num(c);
        switch (op) {
            case Cmp::Eq:
            case Cmp::ExactEq: return x == y;
            case Cmp::Ne: return x != y;
            case Cmp::Lt: return x < y;
            case Cmp::Gt: return x > y;
            case Cmp::Le: return x <= y;
            case Cmp::Ge: return x >= y;
            default: return false;
        }
    }
};

struct LogicNode : Node {
    NodeP a, b;
    char op = '&';  // '&', '|', '!'
    bool logic(const EvalContext& c) const override {
        switch (op) {
            case '&': return a->logic(c) && b->logic(c);
            case '|': return a->logic(c) || b->logic(c);
            default: return !a->logic(c);
        }
    }
};

// Functions: one node type, dispatched on an id; arguments already type-checked.
enum class Fn { Upper, Lower, Left, Right, Substr, Padr, Padl, Ltrim, Rtrim, Alltrim, Empty, Contains, Len, Val, Str,
                Iif, Dtos, At, Space, Deleted, Recno };

// A run of "*" means what one does; collapsed once, a pattern of thousands of stars costs a row
// no more than a pattern of one.
std::string collapseStars(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size());
    for (char ch : pattern)
        if (ch != '*' || out.empty() || out.back() != '*') out.push_back(ch);
    return out;
}

struct FnNode : Node {
    Fn fn;
    std::vector<NodeP> args;
    mutable std::optional<std::string> constantPattern;
    std::string_view str(const EvalContext& c) const override {
        switch (fn) {
            case Fn::Upper:
            case Fn::Lower: {
                std::string_view v = args[0]->str(c);
                scratch.assign(v);
                for (char& ch : scratch) ch = fn == Fn::Upper ? asciiUpperChar(ch) : asciiLowerChar(ch);
                return scratch;
            }
            case Fn::Left: {
                double n = args[1]->num(c);
                std::string_view v = args[0]->str(c);
                scratch.assign(v.substr(0, countOf(n, v.size())));
                return scratch;
            }
            case Fn::Right: {
                double n = args[1]->num(c);
                std::string_view v = args[0]->str(c);
                scratch.assign(v.substr(v.size() - countOf(n, v.size())));
                return scratch;
            }
            case Fn::Substr: {
                double s = args[1]->num(c);
                double n = args.size() > 2 ? args[2]->num(c) : 1e18;
                std::string_view v = args[0]->str(c);
                const size_t start = s < 1 ? 0 : countOf(s, v.size() + 1) - 1;
                if (start >= v.size() || !(n > 0)) {
                    scratch.clear();
                    return scratch;
                }
                scratch.assign(v.substr(start, countOf(n, v.size())));
                return scratch;
            }
            case Fn::Padr:
            case Fn::Padl: {
                double nd = args[1]->num(c);
                char fill = ' ';
                std::string fillText;
                if (args.size() > 2) {
                    fillText = std::string(args[2]->str(c));
                    if (!fillText.empty()) fill = fillText[0];
                }
                std::string_view v = args[0]->str(c);
                const size_t n = countOf(nd, 65535);
                if (v.size() >= n)
                    scratch.assign(v.substr(0, n));
                else if (fn == Fn::Padr) {
                    scratch.assign(v);
                    scratch.append(n - v.size(), fill);
                } else {
                    scratch.assign(n - v.size(), fill);
                    scratch.append(v);
                }
                return scratch;
            }
            case Fn::Ltrim: scratch.assign(trimLeftBlank(args[0]->str(c))); return scratch;
            case Fn::Rtrim: scratch.assign(trimRightBlank(args[0]->str(c))); return scratch;
            case Fn::Alltrim: scratch.assign(trimLeftBlank(trimRightBlank(args[0]->str(c)))); return scratch;
            case Fn::Str: {
                double v = args[0]->num(c);
                const int len = args.size() > 1 ? std::max<int>(1, int(countOf(args[1]->num(c), 255))) : 10;
                const int dec = args.size() > 2 ? int(countOf(args[2]->num(c), 18)) : 0;
                scratch = formatNumber(v, len, dec);
                return scratch;
            }
            case Fn::Iif: return args[0]->logic(c) ? args[1]->str(c) : args[2]->str(c);
            case Fn::Dtos: scratch = formatDbfDate(args[0]->num(c)); return scratch;
            case Fn::Space: {
                double n = args[0]->num(c);
                scratch.assign(countOf(n, 65535), ' ');
                return scratch;
            }
            default: return {};
        }
    }
    double num(const EvalContext& c) const override {
        switch (fn) {
            case Fn::Len: return double(args[0]->str(c).size());
            case Fn::Val: return parseNumber(args[0]->str(c));
            case Fn::Iif: return args[0]->logic(c) ? args[1]->num(c) : args[2]->num(c);
            case Fn::At: {
                std::string_view needle = args[0]->str(c);
                std::string_view hay = args[1]->str(c);
                size_t p = needle.empty() ? std::string_view::npos : hay.find(needle);
                return p == std::string_view::npos ? 0 : double(p + 1);
            }
            case Fn::Recno: return double(c.recno);
            default: return 0;
        }
    }
    bool logic(const EvalContext& c) const override {
        switch (fn) {
            case Fn::Empty:
                switch (args[0]->type) {
                    case ValueType::Char: return trimRightBlank(trimRight(args[0]->str(c))).empty();
                    case ValueType::Logical: return !args[0]->logic(c);
                    default: return args[0]->num(c) == 0;
                }
            case Fn::Contains: {
                std::string_view text = args[0]->str(c);
                if (args[1]->isConstant()) {
                    if (!constantPattern) constantPattern = collapseStars(args[1]->str(c));
                    return containsPattern(text, *constantPattern);
                }
                return containsPattern(text, collapseStars(args[1]->str(c)));
            }
            case Fn::Iif: return args[0]->logic(c) ? args[1]->logic(c) : args[2]->logic(c);
            case Fn::Deleted: return c.record && c.record[0] == '*';
            default: return false;
        }
    }
};

struct FnSpec {
    Fn fn;
    int minArgs, maxArgs;
    std::vector<ValueType> argTypes;  // empty entry list: checked by hand
    ValueType result;
};

const std::map<std::string, FnSpec>& functions() {
    using V = ValueType;
    static const std::map<std::string, FnSpec> m = {
        {"UPPER", {Fn::Upper, 1, 1, {V::Char}, V::Char}},
        {"LOWER", {Fn::Lower, 1, 1, {V::Char}, V::Char}},
        {"LEFT", {Fn::Left, 2, 2, {V::Char, V::Number}, V::Char}},
        {"RIGHT", {Fn::Right, 2, 2, {V::Char, V::Number}, V::Char}},
        {"SUBSTR", {Fn::Substr, 2, 3, {V::Char, V::Number, V::Number}, V::Char}},
        {"PADR", {Fn::Padr, 2, 3, {V::Char, V::Number, V::Char}, V::Char}},
        {"PADL", {Fn::Padl, 2, 3, {V::Char, V::Number, V::Char}, V::Char}},
        {"LTRIM", {Fn::Ltrim, 1, 1, {V::Char}, V::Char}},
        {"RTRIM", {Fn::Rtrim, 1, 1, {V::Char}, V::Char}},
        {"TRIM", {Fn::Rtrim, 1, 1, {V::Char}, V::Char}},
        {"ALLTRIM", {Fn::Alltrim, 1, 1, {V::Char}, V::Char}},
        {"EMPTY", {Fn::Empty, 1, 1, {}, V::Logical}},
        {"CONTAINS", {Fn::Contains, 2, 2, {V::Char, V::Char}, V::Logical}},
        {"LEN", {Fn::Len, 1, 1, {V::Char}, V::Number}},
        {"VAL", {Fn::Val, 1, 1, {V::Char}, V::Number}},
        {"STR", {Fn::Str, 1, 3, {V::Number, V::Number, V::Number}, V::Number /* text, set below */}},
        {"IIF", {Fn::Iif, 3, 3, {}, V::Char}},
        {"DTOS", {Fn::Dtos, 1, 1, {V::Date}, V::Char}},
        {"AT", {Fn::At, 2, 2, {V::Char, V::Char}, V::Number}},
        {"SPACE", {Fn::Space, 1, 1, {V::Number}, V::Char}},
        {"DELETED", {Fn::Deleted, 0, 0, {}, V::Logical}},
        {"RECNO", {Fn::Recno, 0, 0, {}, V::Number}},
    };
    return m;
}

// ---------------------------------------------------------------------------------------------
// Lexer and parser

enum class Tok { End, Number, String, Name, LParen, RParen, Comma, Op, True, False };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // operator, name (upper case), string contents
    double number = 0;
    int pos = 0;  // 1-based column
};

class Parser {
public:
    Parser(const std::string& src, const std::vector<FieldDef>& fields, const FieldResolver& ext)
        : src_(src), fields_(fields), ext_(ext) {}

    Result<NodeP> parse() {
        ALB_TRY(advance());
        if (tok_.kind == Tok::End) return fail(1, QStringLiteral("the expression is empty"));
        ALB_ASSIGN_OR_RETURN(NodeP n, parseOr());
        if (tok_.kind != Tok::End) return fail(tok_.pos, QStringLiteral("unexpected %1").arg(describe(tok_)));
        return n;
    }

private:
    Status fail(int pos, const QString& why) const {
        return Status(ErrorKind::Expression, QStringLiteral("Invalid expression at position %1: %2").arg(pos).arg(why));
    }

    static QString describe(const Token& t) {
        switch (t.kind) {
            case Tok::End: return QStringLiteral("end of expression");
            case Tok::Number: return QStringLiteral("number");
            case Tok::String: return QStringLiteral("text \"%1\"").arg(fromCp1252(t.text));
            case Tok::Name: return QStringLiteral("name \"%1\"").arg(fromCp1252(t.text));
            case Tok::LParen: return QStringLiteral("\"(\"");
            case Tok::RParen: return QStringLiteral("\")\"");
            case Tok::Comma: return QStringLiteral("\",\"");
            case Tok::Op: return QStringLiteral("\"%1\"").arg(QString::fromLatin1(t.text.c_str()));
            case Tok::True:
            case Tok::False: return QStringLiteral("logical value");
        }
        return {};
    }

    Status advance() {
        // Long chains evaluate (and free) recursively: bound them well below any stack limit.
        if (++tokens_ > 4000) return fail(int(at_) + 1, QStringLiteral("the expression is too long"));
        while (at_ < src_.size() && static_cast<unsigned char>(src_[at_]) <= ' ') ++at_;
        tok_ = Token();
        tok_.pos = int(at_) + 1;
        if (at_ >= src_.size()) return {};
        const char c = src_[at_];
        auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
        auto isNameStart = [](char ch) {
            return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_' || static_cast<unsigned char>(ch) >= 0x80;
        };
        if (isDigit(c) || (c == '.' && at_ + 1 < src_.size() && isDigit(src_[at_ + 1]))) {
            size_t b = at_;
            while (at_ < src_.size() && (isDigit(src_[at_]) || src_[at_] == '.')) ++at_;
            std::string t = src_.substr(b, at_ - b);
            if (std::count(t.begin(), t.end(), '.') > 1) return fail(tok_.pos, QStringLiteral("malformed number"));
            tok_.kind = Tok::Number;
            tok_.number = std::strtod(t.c_str(), nullptr);
            return {};
        }
        if (c == '"' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            size_t e = src_.find(close, at_ + 1);
            if (e == std::string::npos) return fail(tok_.pos, QStringLiteral("text is not closed"));
            tok_.kind = Tok::String;
            tok_.text = src_.substr(at_ + 1, e - at_ - 1);
            at_ = e + 1;
            return {};
        }
        if (c == '.') {  // .T. .F. .AND. .OR. .NOT.
            size_t e = src_.find('.', at_ + 1);
            if (e != std::string::npos) {
                std::string w = asciiUpper(src_.substr(at_ + 1, e - at_ - 1));
                if (w == "T" || w == "Y") tok_.kind = Tok::True;
                else if (w == "F" || w == "N") tok_.kind = Tok::False;
                else if (w == "AND" || w == "OR" || w == "NOT") {
                    tok_.kind = Tok::Op;
                    tok_.text = w;
                }
                if (tok_.kind != Tok::End) {
                    at_ = e + 1;
                    return {};
                }
            }
            return fail(tok_.pos, QStringLiteral("unexpected \".\""));
        }
        if (isNameStart(c)) {
            size_t b = at_;
            while (at_ < src_.size() && (isNameStart(src_[at_]) || isDigit(src_[at_]))) ++at_;
            std::string w = asciiUpper(src_.substr(b, at_ - b));
            if (w == "AND" || w == "OR" || w == "NOT") {
                tok_.kind = Tok::Op;
            } else {
                tok_.kind = Tok::Name;
            }
            tok_.text = w;
            return {};
        }
        ++at_;
        switch (c) {
            case '(': tok_.kind = Tok::LParen; return {};
            case ')': tok_.kind = Tok::RParen; return {};
            case ',': tok_.kind = Tok::Comma; return {};
            case '+': case '-': case '*': case '/': case '%': case '$': case '#':
                tok_.kind = Tok::Op;
                tok_.text = std::string(1, c);
                return {};
            case '=':
                tok_.kind = Tok::Op;
                tok_.text = "=";
                if (at_ < src_.size() && src_[at_] == '=') {
                    ++at_;
                    tok_.text = "==";
                }
                return {};
            case '<':
            case '>':
                tok_.kind = Tok::Op;
                tok_.text = std::string(1, c);
                if (at_ < src_.size() && (src_[at_] == '=' || (c == '<' && src_[at_] == '>'))) tok_.text += src_[at_++];
                return {};
            case '!':
                tok_.kind = Tok::Op;
                tok_.text = "NOT";
                if (at_ < src_.size() && src_[at_] == '=') {
                    ++at_;
                    tok_.text = "<>";
                }
                return {};
        }
        return fail(tok_.pos, QStringLiteral("unexpected character \"%1\"").arg(fromCp1252(std::string(1, c))));
    }

    bool isOp(const char* op) const { return tok_.kind == Tok::Op && tok_.text == op; }

    Status expectType(const Node& n, ValueType t, const QString& where) const {
        if (n.type == t) return {};
        return fail(n.pos, QStringLiteral("%1 needs %2, not %3").arg(where, QString::fromLatin1(typeName(t)),
                                                                    QString::fromLatin1(typeName(n.type))));
    }

    Result<NodeP> parseOr() {
        ALB_ASSIGN_OR_RETURN(NodeP left, parseAnd());
        while (isOp("OR")) {
            int pos = tok_.pos;
            ALB_TRY(advance());
            ALB_ASSIGN_OR_RETURN(NodeP right, parseAnd());
            ALB_TRY(expectType(*left, ValueType::Logical, QStringLiteral("OR")));
            ALB_TRY(expectType(*right, ValueType::Logical, QStringLiteral("OR")));
            auto n = std::make_unique<LogicNode>();
            n->type = ValueType::Logical;
            n->pos = pos;
            n->op = '|';
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    Result<NodeP> parseAnd() {
        ALB_ASSIGN_OR_RETURN(NodeP left, parseNot());
        while (isOp("AND")) {
            int pos = tok_.pos;
            ALB_TRY(advance());
            ALB_ASSIGN_OR_RETURN(NodeP right, parseNot());
            ALB_TRY(expectType(*left, ValueType::Logical, QStringLiteral("AND")));
            ALB_TRY(expectType(*right, ValueType::Logical, QStringLiteral("AND")));
            auto n = std::make_unique<LogicNode>();
            n->type = ValueType::Logical;
            n->pos = pos;
            n->op = '&';
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    Result<NodeP> parseNot() {
        if (isOp("NOT")) {
            int pos = tok_.pos;
            if (++depth_ > 200) return fail(pos, QStringLiteral("the expression nests too deeply"));
            ALB_TRY(advance());
            ALB_ASSIGN_OR_RETURN(NodeP inner, parseNot());
            --depth_;
            ALB_TRY(expectType(*inner, ValueType::Logical, QStringLiteral("NOT")));
            auto n = std::make_unique<LogicNode>();
            n->type = ValueType::Logical;
            n->pos = pos;
            n->op = '!';
            n->a = std::move(inner);
            return NodeP(std::move(n));
        }
        return parseCompare();
    }

    Result<NodeP> parseCompare() {
        ALB_ASSIGN_OR_RETURN(NodeP left, parseSum());
        static const std::map<std::string, Cmp> ops = {{"=", Cmp::Eq},  {"==", Cmp::ExactEq}, {"<>", Cmp::Ne},
                                                       {"#", Cmp::Ne},  {"<", Cmp::Lt},       {">", Cmp::Gt},
                                                       {"<=", Cmp::Le}, {">=", Cmp::Ge},      {"$", Cmp::In}};
        if (tok_.kind != Tok::Op) return left;
        auto it = ops.find(tok_.text);
        if (it == ops.end()) return left;
        const int pos = tok_.pos;
        const std::string opText = tok_.text;
        ALB_TRY(advance());
        ALB_ASSIGN_OR_RETURN(NodeP right, parseSum());
        ValueType lt = left->type == ValueType::Date ? ValueType::Number : left->type;
        ValueType rt = right->type == ValueType::Date ? ValueType::Number : right->type;
        if (lt != rt)
            return fail(pos, QStringLiteral("\"%1\" cannot compare %2 with %3")
                                 .arg(QString::fromLatin1(opText.c_str()), QString::fromLatin1(typeName(left->type)),
                                      QString::fromLatin1(typeName(right->type))));
        if (it->second == Cmp::In && lt != ValueType::Char)
            return fail(pos, QStringLiteral("\"$\" needs text on both sides"));
        if (lt == ValueType::Logical && it->second != Cmp::Eq && it->second != Cmp::ExactEq && it->second != Cmp::Ne)
            return fail(pos, QStringLiteral("logical values can only be compared for equality"));
        auto n = std::make_unique<CompareNode>();
        n->type = ValueType::Logical;
        n->pos = pos;
        n->op = it->second;
        n->operand = lt;
        n->a = std::move(left);
        n->b = std::move(right);
        return NodeP(std::move(n));
    }

    Result<NodeP> parseSum() {
        ALB_ASSIGN_OR_RETURN(NodeP left, parseProduct());
        while (isOp("+") || isOp("-")) {
            const char op = tok_.text[0];
            const int pos = tok_.pos;
            ALB_TRY(advance());
            ALB_ASSIGN_OR_RETURN(NodeP right, parseProduct());
            if (left->type == ValueType::Char && right->type == ValueType::Char) {
                auto n = std::make_unique<ConcatNode>();
                n->type = ValueType::Char;
                n->pos = pos;
                n->trimLeft = op == '-';
                n->memo = left->memo || right->memo;
                n->a = std::move(left);
                n->b = std::move(right);
                left = std::move(n);
                continue;
            }
            ValueType result;
            if (left->type == ValueType::Number && right->type == ValueType::Number)
                result = ValueType::Number;
            else if (left->type == ValueType::Date && right->type == ValueType::Number)
                result = ValueType::Date;
            else if (op == '+' && left->type == ValueType::Number && right->type == ValueType::Date)
                result = ValueType::Date;
            else if (op == '-' && left->type == ValueType::Date && right->type == ValueType::Date)
                result = ValueType::Number;
            else
                return fail(pos, QStringLiteral("\"%1\" cannot join %2 and %3")
                                     .arg(QChar::fromLatin1(op), QString::fromLatin1(typeName(left->type)),
                                          QString::fromLatin1(typeName(right->type))));
            auto n = std::make_unique<ArithNode>();
            n->type = result;
            n->pos = pos;
            n->op = op;
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    Result<NodeP> parseProduct() {
        ALB_ASSIGN_OR_RETURN(NodeP left, parseUnary());
        while (isOp("*") || isOp("/") || isOp("%")) {
            const char op = tok_.text[0];
            const int pos = tok_.pos;
            ALB_TRY(advance());
            ALB_ASSIGN_OR_RETURN(NodeP right, parseUnary());
            ALB_TRY(expectType(*left, ValueType::Number, QStringLiteral("\"%1\"").arg(QChar::fromLatin1(op))));
            ALB_TRY(expectType(*right, ValueType::Number, QStringLiteral("\"%1\"").arg(QChar::fromLatin1(op))));
            auto n = std::make_unique<ArithNode>();
            n->type = ValueType::Number;
            n->pos = pos;
            n->op = op;
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    Result<NodeP> parseUnary() {
        if (isOp("-") || isOp("+")) {
            const bool neg = tok_.text == "-";
            const int pos = tok_.pos;
            if (++depth_ > 200) return fail(pos, QStringLiteral("the expression nests too deeply"));
            ALB_TRY(advance());
            ALB_ASSIGN_OR_RETURN(NodeP inner, parseUnary());
            --depth_;
            ALB_TRY(expectType(*inner, ValueType::Number, QStringLiteral("a sign")));
            if (!neg) return inner;
            auto n = std::make_unique<NegNode>();
            n->type = ValueType::Number;
            n->pos = pos;
            n->a = std::move(inner);
            return NodeP(std::move(n));
        }
        return parsePrimary();
    }

    Result<NodeP> parsePrimary() {
        const Token t = tok_;
        switch (t.kind) {
            case Tok::Number: {
                ALB_TRY(advance());
                auto n = std::make_unique<ConstNode>();
                n->type = ValueType::Number;
                n->pos = t.pos;
                n->n = t.number;
                return NodeP(std::move(n));
            }
            case Tok::String: {
                ALB_TRY(advance());
                auto n = std::make_unique<ConstNode>();
                n->type = ValueType::Char;
                n->pos = t.pos;
                n->s = t.text;
                return NodeP(std::move(n));
            }
            case Tok::True:
            case Tok::False: {
                ALB_TRY(advance());
                auto n = std::make_unique<ConstNode>();
                n->type = ValueType::Logical;
                n->pos = t.pos;
                n->l = t.kind == Tok::True;
                return NodeP(std::move(n));
            }
            case Tok::LParen: {
                if (++depth_ > 200) return fail(t.pos, QStringLiteral("the expression nests too deeply"));
                ALB_TRY(advance());
                ALB_ASSIGN_OR_RETURN(NodeP inner, parseOr());
                --depth_;
                if (tok_.kind != Tok::RParen)
                    return fail(tok_.pos, QStringLiteral("expected \")\" but found %1").arg(describe(tok_)));
                ALB_TRY(advance());
                return inner;
            }
            case Tok::Name: {
                ALB_TRY(advance());
                if (tok_.kind == Tok::LParen) return parseCall(t);
                return fieldNode(t);
            }
            default: return fail(t.pos, QStringLiteral("expected a value but found %1").arg(describe(t)));
        }
    }

    Result<NodeP> fieldNode(const Token& t) {
        int idx = -1;
        for (size_t i = 0; i < fields_.size() && idx < 0; ++i)
            if (asciiUpper(fields_[i].name) == t.text) idx = int(i);
        // Visual FoxPro keeps long field names in its database container and the first ten
        // characters in the table, so "contact_type_id" means the field CONTACT_TY.
        if (idx < 0 && t.text.size() > 10)
            for (size_t i = 0; i < fields_.size() && idx < 0; ++i)
                if (asciiUpper(fields_[i].name) == t.text.substr(0, 10)) idx = int(i);
        if (idx >= 0) {
            const FieldDef& f = fields_[size_t(idx)];
            auto n = std::make_unique<FieldNode>();
            n->f = f;
            n->pos = t.pos;
            switch (f.type) {
                case 'L': n->type = ValueType::Logical; break;
                case 'N': case 'F': case 'I': case 'Y': case 'B': n->type = ValueType::Number; break;
                case 'D': case 'T': n->type = ValueType::Date; break;
                default: n->type = ValueType::Char; break;
            }
            n->memo = f.isMemo();
            return NodeP(std::move(n));
        }
        if (ext_) {
            if (auto e = ext_(t.text)) {
                auto n = std::make_unique<ExternalNode>();
                n->ext = *e;
                n->type = e->type;
                n->pos = t.pos;
                return NodeP(std::move(n));
            }
        }
        return fail(t.pos, QStringLiteral("unknown field \"%1\"").arg(fromCp1252(t.text)));
    }

    Result<NodeP> parseCall(const Token& name) {
        auto it = functions().find(name.text);
        if (it == functions().end()) return fail(name.pos, QStringLiteral("unknown function \"%1\"").arg(fromCp1252(name.text)));
        if (++depth_ > 200) return fail(name.pos, QStringLiteral("the expression nests too deeply"));
        const FnSpec& signature = it->second;
        ALB_TRY(advance());  // past "("
        std::vector<NodeP> args;
        if (tok_.kind != Tok::RParen) {
            for (;;) {
                ALB_ASSIGN_OR_RETURN(NodeP a, parseOr());
                args.push_back(std::move(a));
                if (tok_.kind == Tok::Comma) {
                    ALB_TRY(advance());
                    continue;
                }
                break;
            }
        }
        if (tok_.kind != Tok::RParen)
            return fail(tok_.pos, QStringLiteral("expected \",\" or \")\" but found %1").arg(describe(tok_)));
        ALB_TRY(advance());
        --depth_;
        const QString fname = fromCp1252(name.text).toLower();
        if (int(args.size()) < signature.minArgs || int(args.size()) > signature.maxArgs)
            return fail(name.pos, signature.minArgs == signature.maxArgs
                                      ? QStringLiteral("%1() takes %2 argument(s)").arg(fname).arg(signature.minArgs)
                                      : QStringLiteral("%1() takes %2 to %3 arguments").arg(fname).arg(signature.minArgs).arg(signature.maxArgs));
        for (size_t i = 0; i < args.size() && i < signature.argTypes.size(); ++i) {
            ValueType want = signature.argTypes[i];
            if (args[i]->type != want)
                return fail(args[i]->pos, QStringLiteral("argument %1 of %2() must be %3, not %4")
                                              .arg(i + 1)
                                              .arg(fname, QString::fromLatin1(typeName(want)),
                                                   QString::fromLatin1(typeName(args[i]->type))));
        }
        auto n = std::make_unique<FnNode>();
        n->fn = signature.fn;
        n->pos = name.pos;
        n->type = signature.result;
        if (signature.fn == Fn::Str) n->type = ValueType::Char;
        if (signature.fn == Fn::Iif) {
            if (args[0]->type != ValueType::Logical)
                return fail(args[0]->pos, QStringLiteral("the condition of iif() must be a logical value"));
            if (args[1]->type != args[2]->type)
                return fail(args[2]->pos, QStringLiteral("both results of iif() must have the same type"));
            n->type = args[1]->type;
        }
        for (auto& a : args) n->memo = n->memo || a->memo;
        n->args = std::move(args);
        return NodeP(std::move(n));
    }

    std::string src_;
    const std::vector<FieldDef>& fields_;
    const FieldResolver& ext_;
    Token tok_;
    size_t at_ = 0;
    int depth_ = 0;
    int tokens_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Expression

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

Result<Expression> Expression::compile(const QString& text, const std::vector<FieldDef>& fields,
                                       const FieldResolver& external) {
    std::string src = toCp1252(text);
    Parser p(src, fields, external);
    ALB_ASSIGN_OR_RETURN(NodeP root, p.parse());
    Expression e;
    e.type_ = root->type;
    e.text_ = text;
    e.readsMemo_ = root->memo;
    if (auto* f = dynamic_cast<FieldNode*>(root.get()); f && f->f.type == 'I') e.integerKey_ = true;
    e.root_ = std::move(root);
    switch (e.type_) {
        case ValueType::Char: {
            // The key length is the length of the value on a blank record.
            int recLen = 1;
            for (const FieldDef& f : fields) recLen = std::max(recLen, f.offset + f.length);
            std::string blank(size_t(recLen), ' ');
            EvalContext ctx;
            ctx.record = blank.data();
            e.keyLength_ = int(e.root_->str(ctx).size());
            break;
        }
        case ValueType::Number: e.keyLength_ = e.integerKey_ ? 4 : 8; break;
        case ValueType::Date: e.keyLength_ = 8; break;
        case ValueType::Logical: e.keyLength_ = 1; break;
    }
    return e;
}

bool Expression::evalLogical(const EvalContext& ctx) const { return root_ && root_->logic(ctx); }
double Expression::evalNumber(const EvalContext& ctx) const { return root_ ? root_->num(ctx) : 0; }

std::string Expression::evalText(const EvalContext& ctx) const {
    if (!root_) return {};
    switch (type_) {
        case ValueType::Char: return std::string(root_->str(ctx));
        case ValueType::Logical: return root_->logic(ctx) ? "T" : "F";
        case ValueType::Date: return formatDbfDate(root_->num(ctx));
        case ValueType::Number: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.10g", root_->num(ctx));
            return buf;
        }
    }
    return {};
}

namespace {
bool collectSlices(const Expression::Node* n, std::vector<Expression::KeySlice>& out) {
    if (const auto* f = dynamic_cast<const FieldNode*>(n)) {
        if (f->f.type != 'C') return false;
        out.push_back({f->f.offset, f->f.length, false});
        return true;
    }
    if (const auto* c = dynamic_cast<const ConcatNode*>(n))
        return !c->trimLeft && collectSlices(c->a.get(), out) && collectSlices(c->b.get(), out);
    if (const auto* fn = dynamic_cast<const FnNode*>(n)) {
        if (fn->fn != Fn::Upper || fn->args.size() != 1) return false;
        const auto* f = dynamic_cast<const FieldNode*>(fn->args[0].get());
        if (!f || f->f.type != 'C') return false;
        out.push_back({f->f.offset, f->f.length, true});
        return true;
    }
    return false;
}
}  // namespace

bool Expression::keySlices(std::vector<KeySlice>& out) const {
    out.clear();
    if (!root_ || type_ != ValueType::Char || !collectSlices(root_.get(), out)) return false;
    int total = 0;
    for (const KeySlice& k : out) total += k.length;
    return total == keyLength_;
}

void Expression::evalKeyInto(const EvalContext& ctx, char* out) const {
    if (type_ == ValueType::Char) {
        // Straight into the caller's buffer: building an index evaluates this for every row.
        const std::string_view v = root_->str(ctx);
        const size_t n = std::min(v.size(), size_t(keyLength_));
        std::memcpy(out, v.data(), n);
        std::memset(out + n, ' ', size_t(keyLength_) - n);
        return;
    }
    const std::string k = evalKey(ctx);
    std::memcpy(out, k.data(), std::min(k.size(), size_t(keyLength_)));
}

std::string Expression::evalKey(const EvalContext& ctx) const {
    switch (type_) {
        case ValueType::Char: {
            std::string k(root_->str(ctx).substr(0, size_t(keyLength_)));
            k.resize(size_t(keyLength_), ' ');
            return k;
        }
        case ValueType::Number:
            if (integerKey_) return encodeIntegerKey(std::int32_t(root_->num(ctx)));
            return encodeNumberKey(root_->num(ctx));
        case ValueType::Date: return encodeNumberKey(root_->num(ctx));
        case ValueType::Logical: return root_->logic(ctx) ? "T" : "F";
    }
    return {};
}

std::string Expression::keyFromText(std::string_view text) const {
    switch (type_) {
        case ValueType::Char: return std::string(text);
        case ValueType::Number: {
            double v = parseNumber(text);
            if (integerKey_) return encodeIntegerKey(std::int32_t(v));
            return encodeNumberKey(v);
        }
        case ValueType::Date: {
            std::string digits;
            for (char c : text)
                if (c >= '0' && c <= '9') digits.push_back(c);
            return encodeNumberKey(parseDbfDate(digits));
        }
        case ValueType::Logical: {
            char c = text.empty() ? 'F' : asciiUpperChar(text[0]);
            return (c == 'T' || c == 'Y') ? "T" : "F";
        }
    }
    return std::string(text);
}

}  // namespace albumora::store
