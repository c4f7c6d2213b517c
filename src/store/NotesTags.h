// The tagged lines of an album's notes: purchase cost and value, cover image, web link,
// playlist file, extended CD database texts and lyric blocks. The notes are the only place
// these data live; writers add or replace lines, readers scan them.
#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace albumora::notes {

inline const QString kCost = QStringLiteral("COST=");
inline const QString kValue = QStringLiteral("VALUE=");
inline const QString kCover = QStringLiteral("COVER=");
inline const QString kUrl = QStringLiteral("URL=");
inline const QString kPlaylist = QStringLiteral("PLAYLIST=");
inline const QString kExtd = QStringLiteral("EXTD=");
inline const QString kExtt = QStringLiteral("EXTT");
inline const QString kLyricBegin = QStringLiteral("== begin lyric: ");
inline const QString kLyricEnd = QStringLiteral("== end lyric: ");

enum class AmountKind { Cost = 1, Value = 2 };

// Lines of a notes text: carriage return + line feed separates them, and a lone carriage return
// or line feed also ends a line (the lyric editor joins its block with a lone carriage return).
QStringList SplitLines(const QString& notes);
QString JoinLines(const QStringList& lines);  // with carriage return + line feed

struct Amount {
    QString value;  // trimmed of blanks; empty when absent
    int line = -1;  // index of the line holding the tag, -1 when absent
};
// The first line containing the tag anywhere; its value is the text after the tag's length.
Amount FindAmount(const QStringList& lines, AmountKind kind);
// Replaces the found line, or appends "COST=" / "VALUE=" + amount as the last line.
void SetAmount(QStringList& lines, AmountKind kind, const QString& amount);

// The last line that begins with the tag; the rest of it, up to 999 characters, not trimmed.
QString FindLastTagged(const QStringList& lines, const QString& tag);
void AddTaggedLine(QStringList& lines, const QString& tag, const QString& value);

// Removes leading and trailing "\n" escape pairs of CD database texts.
QString StripEscapes(QString text);

// Extended disc texts: every "EXTD=" line, in order.
QStringList ExtendedDiscTexts(const QStringList& lines);
// Extended track texts by track number (index + 1); the first line of an index wins. Lines
// whose index is not a decimal number up to maxIndex are not track lines.
std::map<int, QString> ExtendedTrackTexts(const QStringList& lines, int maxIndex = 998);

// The lyric lines stored for a song title, or nothing.
std::optional<QStringList> FindLyricBlock(const QStringList& lines, const QString& title);
// The notes with a lyric block appended, joined by a single carriage return.
QString AppendLyricBlock(const QString& notes, const QString& key, const QString& lyricText);

}  // namespace albumora::notes
