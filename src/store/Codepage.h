// Text in tables and 8-bit text files is Windows-1252. Conversion happens at the boundary:
// the engine keeps bytes, callers see QString.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace albumora::store {

// Characters outside Windows-1252 become "?", never a broken byte.
std::string toCp1252(const QString& text);
QString fromCp1252(std::string_view bytes);
// The same text appended as UTF-8, for writers that never need a QString.
void appendUtf8FromCp1252(std::string& out, std::string_view bytes);

// ASCII-only case changes: accented letters keep their case, as the collection's keys expect.
inline char asciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline char asciiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
std::string asciiUpper(std::string_view s);
std::string asciiLower(std::string_view s);
QString asciiUpper(const QString& s);
QString asciiLower(const QString& s);

// Removes trailing blanks (and NULs, which some writers use as padding).
std::string_view trimRight(std::string_view s);
// "Trim": removes leading and trailing characters whose code is at or below the blank.
QString trimControl(const QString& s);

}  // namespace albumora::store
