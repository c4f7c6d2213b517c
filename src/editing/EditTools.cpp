#include "EditTools.h"

#include "Codepage.h"
#include "DMcd.h"
#include "moneyFuncs.h"

#include <QDir>

#include <algorithm>

namespace albumora::editing {
namespace {

const QChar kPlus = QLatin1Char('+');

// Only the ASCII letters change case, as everywhere in the collection.
QChar asciiLower(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ? QChar(c.unicode() + 32) : c;
}

bool keptInSearchTerm(QChar c) {
    return c == QLatin1Char('%') || c == kPlus || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('z'));
}

// A flip separator: its 1-based position in the title (0 when it starts before the title) and
// its length.
struct Separator {
    qsizetype pos = 0;
    qsizetype len = 0;
};

// Character 150 of Windows-1252, which is how the dash arrives from the tables.
const QChar kEnDash(0x2013);

// The separators in the order they are tried; a later one counts only when all earlier ones are
// absent, so "AC/DC - Thunder" splits at " - ", not at the "/" of the band's name.
std::optional<Separator> findSeparator(const QString& t) {
    if (const qsizetype i = t.indexOf(QStringLiteral(" / ")); i >= 0) return Separator{i + 1, 3};
    // An en dash needs two characters after it; it takes one character on each side with it,
    // normally the blanks around it.
    if (const qsizetype d = t.indexOf(kEnDash); d >= 0 && t.size() - (d + 1) >= 2) return Separator{d, 3};
    for (const char* sep : {" - ", "/", ":", "--", "-", " \\ "}) {
        const QString s = QString::fromLatin1(sep);
        if (const qsizetype i = t.indexOf(s); i >= 0) return Separator{i + 1, s.size()};
    }
    return std::nullopt;
}

QString folderOf(const QString& path) { return path.left(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString fileNameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

// The extension with its dot, from the file name's last "."; empty when it has none.
QString extensionOf(const QString& path) {
    const QString name = fileNameOf(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

// The file name up to its first ".".
QString baseNameOf(const QString& path) {
    const QString name = fileNameOf(path);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

bool isBlank(const QString& entry) { return store::trimControl(entry).isEmpty(); }

}  // namespace

QString EncodeSearchTerm(const QString& text) {
    QString t = store::trimControl(text);
    for (QChar& c : t)
        if (c == QLatin1Char(' ') || c == QLatin1Char('&')) c = kPlus;
    QString collapsed;
    collapsed.reserve(t.size());
    for (QChar c : t)
        if (c != kPlus || !collapsed.endsWith(kPlus)) collapsed += c;
    collapsed.replace(QLatin1Char('\''), QStringLiteral("%27"));
    QString out;
    out.reserve(collapsed.size());
    for (QChar c : collapsed)
        if (keptInSearchTerm(c)) out += c;
    return out;
}

QString CoverImageSearchAddress(const QString& artist) {
    return kCoverSearchPage + QStringLiteral("?keyword=") + EncodeSearchTerm(artist) + QStringLiteral("&mode=music");
}

QString FlipTitle(const QString& title) {
    const QString t = store::trimControl(title);
    const std::optional<Separator> sep = findSeparator(t);
    if (sep && sep->pos > 1) {
        const QString after = store::trimControl(t.mid(sep->pos - 1 + sep->len, 99));
        const QString before = store::trimControl(t.left(sep->pos - 1));
        return after + QStringLiteral(" / ") + before;
    }
    // "Song Title (Artist Name)"; whatever follows the ")" is dropped.
    const qsizetype open = t.indexOf(QLatin1Char('('));
    const qsizetype close = t.indexOf(QLatin1Char(')'));
    if (open >= 0 && close - open > 1) {
        const QString inside = store::trimControl(t.mid(open + 1, close - open - 1));
        return inside + QStringLiteral(" / ") + store::trimControl(t.left(open));
    }
    return title;
}

void FlipTitles(std::vector<TrackRow>& rows) {
    for (TrackRow& row : rows) row.title = FlipTitle(row.title);
}

Mask MakeMask(const QStringList& files, const QString& clipsDir) {
    Mask result;
    if (files.isEmpty()) return result;
    const QString& first = files.first();
    const QString folder = folderOf(first);
    if (folder != clipsDir) result.clipsDir = folder;
    // Names keep their case: on this system's file systems a lower-cased path names no file.
    if (files.size() == 1) {
        result.mask = first;
        return result;
    }
    QStringList bases;
    qsizetype shortest = -1;
    for (const QString& f : files) {
        bases << baseNameOf(f);
        shortest = shortest < 0 ? bases.last().size() : std::min(shortest, bases.last().size());
    }
    qsizetype common = 0;
    while (common < shortest) {
        const QChar c = asciiLower(bases.first().at(common));
        const bool shared = std::all_of(bases.cbegin(), bases.cend(),
                                        [&](const QString& b) { return asciiLower(b.at(common)) == c; });
        if (!shared) break;
        ++common;
    }
    result.mask = folder + bases.first().left(common) + QLatin1Char('*') + extensionOf(first);
    return result;
}

int NotesLineCount(const QString& notes) { return int(notes::SplitLines(notes).size()); }

MaskPlacement PlaceMask(const QString& mask, QString& label, QString& notes) {
    MaskPlacement placed;
    QStringList lines = notes::SplitLines(notes);
    if (mask.size() > kLabelWidth) {
        lines << mask;
        notes = notes::JoinLines(lines);
        placed.inNotes = true;
    } else {
        label = mask;
    }
    placed.notesLines = int(lines.size());
    return placed;
}

void ReturnToProgramFolder(const QString& programFolder) {
    if (!programFolder.isEmpty()) QDir::setCurrent(programFolder);
}

bool AddExtendedDiscData(QStringList& lines, const QString& entry) {
    if (isBlank(entry)) return false;
    notes::AddTaggedLine(lines, notes::kExtd, entry);
    return true;
}

bool AddExtendedTrackData(QStringList& lines, int index, const QString& entry) {
    if (index < 0 || isBlank(entry)) return false;
    notes::AddTaggedLine(lines, notes::kExtt, QString::number(index) + QLatin1Char('=') + entry);
    return true;
}

QString ExtendedTrackCaption(int index) {
    return QStringLiteral("Extended Data For Track ") + store::TDM::PadNumber(index + 1, 3);
}

bool AddCoverLine(QStringList& lines, const QString& path) {
    if (path.isEmpty()) return false;
    notes::AddTaggedLine(lines, notes::kCover, path);
    return true;
}

bool AddLink(QStringList& lines, const QString& entry) {
    if (entry.size() <= 7) return false;
    notes::AddTaggedLine(lines, notes::kUrl, entry);
    return true;
}

AmountQuestion AskAmount(const QStringList& lines, notes::AmountKind kind, const QString& defaultAmount) {
    const QString& tag = kind == notes::AmountKind::Cost ? notes::kCost : notes::kValue;
    const notes::Amount found = notes::FindAmount(lines, kind);
    return {QStringLiteral("Enter ") + tag + QStringLiteral("of Album"),
            QStringLiteral("Enter amount only - no currency symbol"),
            found.value.isEmpty() ? defaultAmount : found.value};
}

bool StoreAmount(QStringList& lines, notes::AmountKind kind, const QString& entry) {
    if (!money::IsAmountText(entry)) return false;
    notes::SetAmount(lines, kind, entry);
    return true;
}

}  // namespace albumora::editing
