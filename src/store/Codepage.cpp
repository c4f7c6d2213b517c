#include "Codepage.h"

#include <cstdint>
#include <cstring>

#include <array>
#include <unordered_map>

namespace albumora::store {
namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five unassigned codes, which map to themselves.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const std::unordered_map<char16_t, char>& reverseHigh() {
    static const std::unordered_map<char16_t, char> map = [] {
        std::unordered_map<char16_t, char> m;
        for (int i = 0; i < 32; ++i)
            if (kHigh[i]) m.emplace(kHigh[i], char(0x80 + i));
        return m;
    }();
    return map;
}

}  // namespace

std::string toCp1252(const QString& text) {
    std::string out;
    out.reserve(text.size());
    const auto& rev = reverseHigh();
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;  // a character beyond the BMP is one "?", not two
            out.push_back('?');
            continue;
        }
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(char(c));
        } else if (c >= 0x80 && c <= 0x9F && !kHigh[c - 0x80]) {
            out.push_back(char(c));  // the unassigned codes round-trip
        } else {
            auto it = rev.find(c);
            out.push_back(it != rev.end() ? it->second : '?');
        }
    }
    return out;
}

QString fromCp1252(std::string_view bytes) {
    QString out;
    out.resize(qsizetype(bytes.size()));
    QChar* d = out.data();
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80])
            d[i] = QChar(kHigh[b - 0x80]);
        else
            d[i] = QChar(char16_t(b));
    }
    return out;
}

void appendUtf8FromCp1252(std::string& out, std::string_view bytes) {
    // Text is mostly ASCII, which stays as it is: such stretches go in whole.
    size_t i = 0;
    while (i < bytes.size()) {
        size_t j = i;
        while (j + 8 <= bytes.size()) {
            std::uint64_t w;
            std::memcpy(&w, bytes.data() + j, 8);
            if (w & 0x8080808080808080ull) break;
            j += 8;
        }
        while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) < 0x80) ++j;
        out.append(bytes.data() + i, j - i);
        if (j == bytes.size()) return;
        i = j + 1;
        const unsigned char b = static_cast<unsigned char>(bytes[j]);
        const char16_t c = b <= 0x9F && kHigh[b - 0x80] ? kHigh[b - 0x80] : char16_t(b);
        if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
}

std::string asciiUpper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = asciiUpperChar(c);
    return r;
}

std::string asciiLower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = asciiLowerChar(c);
    return r;
}

QString asciiUpper(const QString& s) {
    QString r = s;
    for (QChar& c : r)
        if (c.unicode() >= 'a' && c.unicode() <= 'z') c = QChar(c.unicode() - 32);
    return r;
}

QString asciiLower(const QString& s) {
    QString r = s;
    for (QChar& c : r)
        if (c.unicode() >= 'A' && c.unicode() <= 'Z') c = QChar(c.unicode() + 32);
    return r;
}

std::string_view trimRight(std::string_view s) {
    size_t n = s.size();
    // Eight bytes at a time while each is a blank or a zero byte: fields are mostly padding.
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + n - 8, 8);
        if (w & 0xDFDFDFDFDFDFDFDFull) break;
        n -= 8;
    }
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return s.substr(0, n);
}

QString trimControl(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 32) ++b;
    while (e > b && s.at(e - 1).unicode() <= 32) --e;
    return s.mid(b, e - b);
}

}  // namespace albumora::store
