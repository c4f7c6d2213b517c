#include "NotesTags.h"

#include "Codepage.h"

namespace albumora::notes {

QStringList SplitLines(const QString& notes) {
    QStringList lines;
    if (notes.isEmpty()) return lines;
    QString cur;
    for (qsizetype i = 0; i < notes.size(); ++i) {
        const QChar c = notes.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << cur;
            cur.clear();
            if (c == QLatin1Char('\r') && i + 1 < notes.size() && notes.at(i + 1) == QLatin1Char('\n')) ++i;
        } else {
            cur += c;
        }
    }
    // A text ending with a line break has no empty line after it.
    if (!cur.isEmpty()) lines << cur;
    return lines;
}

QString JoinLines(const QStringList& lines) { return lines.join(QStringLiteral("\r\n")); }

Amount FindAmount(const QStringList& lines, AmountKind kind) {
    const QString& tag = kind == AmountKind::Cost ? kCost : kValue;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].contains(tag)) return {store::trimControl(lines[i].mid(tag.size())), i};
    }
    return {};
}

void SetAmount(QStringList& lines, AmountKind kind, const QString& amount) {
    const QString& tag = kind == AmountKind::Cost ? kCost : kValue;
    const Amount found = FindAmount(lines, kind);
    if (found.line >= 0)
        lines[found.line] = tag + amount;
    else
        lines << tag + amount;
}

QString FindLastTagged(const QStringList& lines, const QString& tag) {
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
        if (lines[i].startsWith(tag)) return lines[i].mid(tag.size(), 999);
    return {};
}

void AddTaggedLine(QStringList& lines, const QString& tag, const QString& value) { lines << tag + value; }

QString StripEscapes(QString text) {
    const QString esc = QStringLiteral("\\n");
    while (text.startsWith(esc)) text.remove(0, 2);
    while (text.size() >= 2 && text.endsWith(esc)) text.chop(2);
    return text;
}

QStringList ExtendedDiscTexts(const QStringList& lines) {
    QStringList out;
    for (const QString& l : lines)
        if (l.startsWith(kExtd)) out << l.mid(kExtd.size());
    return out;
}

std::map<int, QString> ExtendedTrackTexts(const QStringList& lines, int maxIndex) {
    std::map<int, QString> out;
    for (const QString& l : lines) {
        if (!l.startsWith(kExtt)) continue;
        const qsizetype eq = l.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        const QString digits = l.mid(kExtt.size(), eq - kExtt.size());
        if (digits.isEmpty() || digits.size() > 3) continue;
        bool allDigits = true;
        for (QChar c : digits) allDigits = allDigits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!allDigits) continue;
        const int index = digits.toInt();
        if (index > maxIndex) continue;
        out.emplace(index + 1, l.mid(eq + 1));  // emplace keeps the first line of an index
    }
    return out;
}

std::optional<QStringList> FindLyricBlock(const QStringList& lines, const QString& title) {
    const QString upper = store::asciiUpper(title);
    const QString begin = kLyricBegin + upper;
    const QString end = kLyricEnd + upper;
    const QString whole = lines.join(QLatin1Char('\n'));
    if (lines.size() <= 3 || !whole.contains(begin) || !whole.contains(end)) return std::nullopt;
    QStringList out;
    bool found = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].contains(begin)) continue;
        found = true;
        for (qsizetype k = i + 1; k < lines.size() && !lines[k].contains(end); ++k) out << lines[k];
    }
    if (!found) return std::nullopt;
    return out;
}

QString AppendLyricBlock(const QString& notes, const QString& key, const QString& lyricText) {
    const QString upper = store::asciiUpper(key);
    QStringList block;
    block << kLyricBegin + upper;
    block << SplitLines(lyricText);
    block << kLyricEnd + upper;
    return notes + QLatin1Char('\r') + block.join(QLatin1Char('\r'));
}

}  // namespace albumora::notes
