#include "ImportParsers.h"

#include "Codepage.h"
#include "Cddb.h"
#include "DMcd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace albumora::disc {

namespace {

using store::trimControl;

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

bool addMode(const PendingAlbum& a) { return a.mode == EditMode::AddCd || a.mode == EditMode::NewAlbum; }

// "%.2d"
QString twoDigits(qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

// A whole number: decimal digits only (a leading "-" where allowed), blanks around it ignored,
// at most maxDigits digits so that sums and products of a few of them cannot overflow.
std::optional<qint64> wholeNumber(const QString& text, bool allowMinus = false, int maxDigits = 9) {
    const QString t = trimControl(text);
    qsizetype i = 0;
    bool negative = false;
    if (allowMinus && t.startsWith(QLatin1Char('-'))) {
        negative = true;
        i = 1;
    }
    const qsizetype digits = t.size() - i;
    if (digits < 1 || digits > maxDigits) return std::nullopt;
    qint64 v = 0;
    for (; i < t.size(); ++i) {
        if (!isDigit(t.at(i))) return std::nullopt;
        v = v * 10 + (t.at(i).unicode() - '0');
    }
    return negative ? -v : v;
}

// A short excerpt of a line for a message: long or binary lines must not flood the box.
QString excerpt(const QString& line) {
    QString e = line.left(60);
    for (QChar& c : e)
        if (c.unicode() < 32) c = QLatin1Char(' ');
    if (line.size() > 60) e += QStringLiteral("...");
    return e;
}

QString lineRef(qsizetype index, const QString& line) {
    return QStringLiteral("line %1: \"%2\"").arg(index + 1).arg(excerpt(line));
}

// Upper- and lower-casing touch only the ASCII letters, so a search without regard to case does
// the same.
qsizetype indexOfAsciiNoCase(const QString& hay, QLatin1StringView needle, qsizetype from = 0) {
    const qsizetype n = needle.size();
    for (qsizetype i = std::max<qsizetype>(from, 0); i + n <= hay.size(); ++i) {
        qsizetype k = 0;
        for (; k < n; ++k) {
            const char16_t h = hay.at(i + k).unicode();
            const char16_t w = char16_t(static_cast<unsigned char>(needle.at(k).toLatin1()));
            const auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; };
            if (lower(h) != lower(w)) break;
        }
        if (k == n) return i;
    }
    return -1;
}

ParseResult refusal(const QString& message) {
    ParseResult r;
    r.refused = true;
    r.errors << message;
    return r;
}

QStringList splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r')) continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) ++i;
        start = i + 1;
    }
    if (start < n) lines << text.mid(start);
    return lines;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The clipboard text

std::optional<QStringList> SplitPastedText(const QString& text) {
    if (text.size() > kMaxImportChars) return std::nullopt;
    return splitLines(text);
}

QString TooMuchTextMessage(qsizetype chars) {
    return QStringLiteral("The Clipboard holds %1 characters, more than a track list or a CD database record has "
                          "(at most %2).\rPlease copy only the album's part of the page and try again.")
        .arg(chars)
        .arg(kMaxImportChars);
}

// ---------------------------------------------------------------------------------------------
// Track lists

void SetTitleRow(PendingAlbum& album, int n, const QString& text) {
    if (album.mode == EditMode::NewAlbum && n > 0) {
        album.setTrackCount(n);
        editing::TrackRow& row = album.tracks[size_t(n - 1)];
        row.number = twoDigits(n);
        row.time.clear();
    }
    // Row 0 is the grid's title row, which is not the album's to keep.
    if (n >= 1 && size_t(n) <= album.tracks.size()) album.tracks[size_t(n - 1)].title = trimControl(text);
}

ParseResult ParseNumberedList(const QStringList& lines, PendingAlbum& album) {
    ParseResult r;
    if (album.mode == EditMode::NewAlbum) album.setTrackCount(0);
    bool found = false;
    for (const QString& raw : lines) {
        const QString s = trimControl(raw);
        if (s.size() < 3 || !isDigit(s.at(0))) continue;
        // The number ends at the first non-digit among the 2nd to 4th characters; four digits
        // in a row are a year or a catalogue number, not a track.
        qsizetype end = -1;
        const qsizetype last = std::min<qsizetype>(s.size(), 4);
        for (qsizetype j = 1; j < last; ++j)
            if (!isDigit(s.at(j))) {
                end = j;
                break;
            }
        if (end < 0) continue;
        SetTitleRow(album, s.left(end).toInt(), s.mid(end + 1));
        found = true;
    }
    if (!found) {
        r.errors << importmsg::kNoNumberedTracks;
    } else if (addMode(album)) {
        album.artist = QStringLiteral("Various");
        album.selectArtist = true;
    }
    return r;
}

ParseResult ParseUnnumberedList(const QStringList& lines, PendingAlbum& album) {
    ParseResult r;
    PendingAlbum a = album;
    if (a.mode == EditMode::NewAlbum) a.setTrackCount(0);
    int n = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString s = trimControl(lines.at(i));
        if (s.isEmpty()) continue;
        ++n;
        if (n > kMaxImportTracks && a.mode == EditMode::NewAlbum)
            return refusal(QStringLiteral("The track list has more than %1 lines with text (%2);\r"
                                          "an album holds at most %1 tracks. Nothing was imported.")
                               .arg(kMaxImportTracks)
                               .arg(lineRef(i, lines.at(i))));
        SetTitleRow(a, n, s);
    }
    if (n == 0) {
        r.errors << importmsg::kNoTracks;
    } else if (addMode(a)) {
        a.artist = QStringLiteral("Various");
        a.selectArtist = true;
    }
    album = std::move(a);
    return r;
}

ParseResult ParseWebTrackList(const QStringList& lines, PendingAlbum& album, bool amazon, bool currentTrackHasNoTime) {
    ParseResult r;
    PendingAlbum& a = album;
    bool takeTimes = a.mode == EditMode::NewAlbum || (a.mode == EditMode::Modify && currentTrackHasNoTime);
    if (a.mode == EditMode::NewAlbum) a.setTrackCount(0);
    QStringList times;

    for (const QString& raw : lines) {
        QString s = trimControl(raw);
        if (s.size() <= 2) continue;
        if (const qsizetype p = s.indexOf(QLatin1String("AMG Pick")); p >= 0) s = trimControl(s.remove(p, 9));
        if (amazon) {
            if (s.startsWith(QLatin1String("listen"))) s.remove(0, 7);
            if (const qsizetype dot = s.indexOf(QLatin1Char('.')); dot >= 0) s[dot] = QLatin1Char(' ');
            // The price column: "$0.99" and the blank before it go.
            if (const qsizetype dollar = s.indexOf(QLatin1Char('$')); dollar >= 0)
                s = trimControl(s.left(std::max<qsizetype>(dollar - 1, 0)));
        }
        if (s.isEmpty() || s.at(0) < QLatin1Char('1') || s.at(0) > QLatin1Char('9')) continue;
        qsizetype blank = -1;
        for (qsizetype j = 1; j <= 3 && j < s.size(); ++j)
            if (s.at(j) == QLatin1Char(' ')) {
                blank = j;
                break;
            }
        if (blank < 0) continue;
        bool digits = true;
        for (qsizetype j = 0; j < blank; ++j) digits = digits && isDigit(s.at(j));
        if (!digits) continue;

        const int n = s.left(blank).toInt();
        const QString t = trimControl(s.mid(blank + 1));
        if (a.mode == EditMode::NewAlbum) {
            a.setTrackCount(n);
            a.tracks[size_t(n - 1)].number = twoDigits(n);
        }
        QString text = t;
        const qsizetype L = t.size();
        if (L >= 8 && isDigit(t.at(L - 4)) && t.at(L - 3) == QLatin1Char(':') && isDigit(t.at(L - 2)) &&
            isDigit(t.at(L - 1))) {
            qsizetype len = 4;
            if (isDigit(t.at(L - 5))) ++len;
            if (isDigit(t.at(L - 6))) ++len;
            QString time = t.right(len);
            if (time.size() < 5) time.prepend(QLatin1Char(' '));
            if (a.mode == EditMode::NewAlbum) times << time;
            text = t.left(L - len);
            // The separator before the time: a blank, a dash, a comma and the like.
            for (int k = 0; k < 2; ++k)
                if (!text.isEmpty() && text.back().unicode() >= 32 && text.back().unicode() <= 45) text.chop(1);
        } else {
            takeTimes = false;
        }
        if (const qsizetype q = text.indexOf(QLatin1String("Listen Now!")); q >= 0) text.remove(q, 13);
        if (const qsizetype q = text.indexOf(QLatin1String("performed by")); q >= 0) {
            const QString title = trimControl(text.left(q));
            QString performers = trimControl(text.mid(q + 12));
            performers.replace(QLatin1Char('/'), QLatin1Char(','));
            text = title + QStringLiteral(" / ") + performers;
        }
        if (!amazon) {
            qsizetype q = text.indexOf(QLatin1String("[*]"));
            if (q < 0) q = text.indexOf(QLatin1String("[#]"));
            if (q >= 0) text.remove(q, 3);
        }
        // Columns after the title (composer, label) are set off by two or more blanks.
        if (const qsizetype q = text.indexOf(QLatin1String("  ")); q > 1) text = trimControl(text.left(q));
        for (qsizetype j = 1; j < text.size(); ++j)
            if (text.at(j).unicode() < 32) {
                text.truncate(j);
                break;
            }
        if (n >= 1 && size_t(n) <= a.tracks.size()) a.tracks[size_t(n - 1)].title = trimControl(text);
    }

    // The times of a disc in the drive were read from its table of contents: a web page's
    // titles never take them away.
    if (a.mode != EditMode::AddCd)
        for (size_t k = 0; k < a.tracks.size(); ++k)
            a.tracks[k].time = takeTimes && qsizetype(k) < times.size() ? times.at(qsizetype(k)) : QString();
    if (addMode(a)) {
        a.artist = QStringLiteral("Various");
        a.selectArtist = true;
    }
    r.collected = times;
    return r;
}

// ---------------------------------------------------------------------------------------------
// CD database record

XmcdResult ParseXmcdRecord(const QStringList& lines, PendingAlbum& album, const AlbumExists& albumExists) {
    XmcdResult r;
    PendingAlbum a = album;
    const bool adding = addMode(a);
    const auto refuse = [](const QString& message) {
        XmcdResult f;
        f.refused = true;
        f.errors << message + QStringLiteral("\rNothing was imported.");
        return f;
    };
    if (adding) a.setTrackCount(99);  // 100 rows with the title row

    // At most this many offsets are used: a disc has 99 tracks.
    constexpr size_t kMaxOffsets = 100;
    // 10 before the offsets, 20 among them, 30 waiting for the disc length, 40 for the disc ID,
    // 50 in the keyword lines. Each state looks only for its own lines, in the record's order.
    int state = 10;
    QString previousNumber = QStringLiteral("x");
    std::vector<qint64> offsets;
    qint64 runningSum = 0;
    qint64 discLength = 0;
    QString discTitle;
    bool duplicate = false;

    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        switch (state) {
        case 10:
            if (line.contains(QLatin1String("Track frame offsets"))) state = 20;
            break;
        case 20: {
            const QString t = trimControl(line);
            if (t.size() <= 4) {
                state = 30;
                break;
            }
            if (offsets.size() >= kMaxOffsets) break;
            const auto v = wholeNumber(t.mid(t.indexOf(QLatin1Char('#')) + 1));
            if (!v)
                return refuse(QStringLiteral("The CD database record has a frame offset that is not a whole number (%1).")
                                  .arg(lineRef(i, line)));
            if (!offsets.empty()) runningSum += (*v - offsets.back()) / 75;
            offsets.push_back(*v);
            break;
        }
        case 30:
            if (line.contains(QLatin1String("Disc length:"))) {
                const qsizetype colon = line.indexOf(QLatin1Char(':'));
                qsizetype end = line.indexOf(QLatin1String("seconds"), colon + 1);
                if (end < 0) end = line.size();
                const auto v = wholeNumber(line.mid(colon + 1, end - colon - 1));
                if (!v)
                    return refuse(QStringLiteral("The CD database record has a disc length that is not a whole number of "
                                                 "seconds (%1).")
                                      .arg(lineRef(i, line)));
                discLength = *v;
                r.discLength = int(discLength);
                if (adding) a.discLength = int(discLength);
                state = 40;
            }
            break;
        case 40:
            if (line.contains(QLatin1String("# Revision"))) {
                // Stored as the lookup stores it, the revision character, so that a later
                // submission never sends a lower revision than the database holds.
                if (adding && line.size() >= 13 && isDigit(line.at(12))) {
                    const auto n = wholeNumber(trimControl(line.mid(12)));
                    if (!n)
                        return refuse(QStringLiteral("The CD database record has a revision that is not a whole number (%1).")
                                          .arg(lineRef(i, line)));
                    a.rev = RevisionCharacter(*n);
                }
            } else if (line.contains(QLatin1String("DISCID"))) {
                qsizetype p = line.indexOf(QLatin1Char('=')) + 1;
                while (p < line.size() && line.at(p).unicode() <= 32) ++p;
                const QString id = line.mid(p, 8);
                bool hex = id.size() == 8;
                for (QChar c : id)
                    hex = hex && (isDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                                  (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
                if (!hex)
                    return refuse(QStringLiteral("The CD database record's disc ID is not 8 hexadecimal digits (%1).")
                                      .arg(lineRef(i, line)));
                // Album IDs made from disc IDs are lower case, as the drive's own are.
                r.discId = id.toLower();
                if (adding) {
                    const store::Result<bool> found = albumExists ? albumExists(*r.discId) : store::Result<bool>(false);
                    if (!found) return refuse(found.error().text());
                    duplicate = *found;
                }
                state = 50;
            }
            break;
        case 50:
            if (line.contains(QLatin1String("DTITLE"))) {
                discTitle += line.mid(line.indexOf(QLatin1Char('=')) + 1, 240);
            } else if (line.contains(QLatin1String("DGENRE"))) {
                if (adding) a.genre = line.mid(line.indexOf(QLatin1Char('=')) + 1);
            } else if (line.contains(QLatin1String("DYEAR"))) {
                if (adding) a.year = line.mid(line.indexOf(QLatin1Char('=')) + 1);
            } else if (line.contains(QLatin1String("TTITLE"))) {
                const qsizetype e = line.indexOf(QLatin1Char('E'));
                const qsizetype eq = line.indexOf(QLatin1Char('='));
                const QString numberText = eq > e ? line.mid(e + 1, eq - e - 1) : QString();
                const auto n = eq > e ? wholeNumber(numberText) : std::nullopt;
                if (!n || *n > kMaxImportTracks - 1)
                    return refuse(QStringLiteral("The CD database record has a track number that is not a whole number "
                                                 "from 0 to %1 (%2).")
                                      .arg(kMaxImportTracks - 1)
                                      .arg(lineRef(i, line)));
                if (adding) a.setTrackCount(int(*n) + 1);
                // A title too long for one line goes on in the next line of the same number.
                if (numberText == previousNumber) break;
                const qint64 c = *n + 1;
                if (size_t(c) <= a.tracks.size()) {
                    editing::TrackRow& row = a.tracks[size_t(c - 1)];
                    row.number = twoDigits(c);
                    row.title = trimControl(line.mid(eq + 1, 240));
                    if (adding) {
                        const qint64 count = qint64(offsets.size());
                        std::optional<qint64> secs;
                        if (c < count)
                            secs = (offsets[size_t(c)] - offsets[size_t(c - 1)]) / 75 - 2;
                        else if (c == count)
                            secs = discLength - runningSum - 2;
                        // Offsets that do not increase, or a disc length shorter than the tracks,
                        // give no negative time.
                        if (secs) row.time = store::TDM::FormatTrackTime(std::max<qint64>(*secs, 0), 2);
                    }
                }
                previousNumber = numberText;
            }
            break;
        }
    }

    if (state == 50 && !discTitle.isEmpty()) {
        if (adding) {
            const qsizetype slash = discTitle.indexOf(QLatin1Char('/'));
            a.artist = slash >= 0 ? trimControl(discTitle.left(slash)) : QString();
            a.title = trimControl(discTitle.mid(slash + 1, 254));
            a.mode = EditMode::AddCd;
            a.albumId = *r.discId;
        }
        if (duplicate) {
            r.errors << importmsg::kDuplicate;
            r.clearText = true;
        }
    } else {
        r.errors << importmsg::kInvalidXcmd;
        r.clearText = true;
    }
    r.duplicate = duplicate;
    album = std::move(a);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Manual entry

TrackCountEntry ParseTrackCount(const QString& entry) {
    TrackCountEntry e;
    const auto v = wholeNumber(entry);
    if (!v || *v < 1) {
        e.error = importmsg::kEntryNotNumber;
    } else if (*v > kMaxImportTracks) {
        e.error = QStringLiteral("An album holds at most %1 tracks").arg(kMaxImportTracks);
    } else {
        e.count = int(*v);
    }
    return e;
}

void ApplyManualEntry(PendingAlbum& album, int count, int discTrackCount) {
    album.sys = SourceCode(ImportSource::Manual);
    if (!addMode(album)) return;
    album.title.clear();
    album.artist = QStringLiteral("Various");
    album.selectArtist = true;
    if (album.mode == EditMode::AddCd) {
        album.setTrackCount(discTrackCount);
        return;
    }
    album.setTrackCount(std::clamp(count, 0, kMaxImportTracks));
    for (size_t k = 0; k < album.tracks.size(); ++k) {
        const QString nr = twoDigits(qint64(k + 1));
        album.tracks[k] = {nr, QString(), QStringLiteral("Track ") + nr};
    }
}

// ---------------------------------------------------------------------------------------------
// Playlists

TextFile ReadTextFile(const QString& path, qsizetype maxBytes) {
    TextFile out;
    const QFileInfo info(path);
    const QString where = QStringLiteral("\r") + QDir::toNativeSeparators(path);
    if (!info.exists()) {
        out.error = QStringLiteral("The file does not exist:") + where;
        return out;
    }
    // A device or a pipe could be read for ever.
    if (!info.isFile()) {
        out.error = QStringLiteral("This is not a file that can be imported:") + where;
        return out;
    }
    if (info.size() > maxBytes) {
        out.error = QStringLiteral("The file has %1 bytes, far more than a playlist has (at most %2):")
                        .arg(info.size())
                        .arg(maxBytes) +
                    where;
        return out;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("The file cannot be read: ") + file.errorString() + where;
        return out;
    }
    const QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        out.error = QStringLiteral("The file is far larger than a playlist (more than %1 bytes):").arg(maxBytes) + where;
        return out;
    }
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        text = utf16(bytes.mid(2));
    } else {
        // Text that is valid UTF-8 was written as UTF-8; anything else is an 8-bit file.
        QStringDecoder utf8(QStringConverter::Utf8);
        text = utf8(bytes);
        if (utf8.hasError()) text = store::fromCp1252(std::string_view(bytes.constData(), size_t(bytes.size())));
    }
    out.lines = splitLines(text);
    return out;
}

QString FolderWithSlash(const QString& folder) {
    QString f = QDir::cleanPath(folder);
    if (!f.endsWith(QLatin1Char('/'))) f += QLatin1Char('/');
    return f;
}

bool SameFolder(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty()) return a.isEmpty() && b.isEmpty();
    return FolderWithSlash(a) == FolderWithSlash(b);
}

namespace {

// The text between an element's opening and closing tag on one line, found without regard to
// case; up to the end of the line when the closing tag is elsewhere.
std::optional<QString> elementValue(const QString& line, QLatin1StringView open, QLatin1StringView close) {
    const qsizetype p = indexOfAsciiNoCase(line, open);
    if (p < 0) return std::nullopt;
    const qsizetype from = p + open.size();
    const qsizetype q = indexOfAsciiNoCase(line, close, from);
    return q < 0 ? line.mid(from) : line.mid(from, q - from);
}

QString minutesSeconds(qint64 secs) { return twoDigits(secs / 60) + QLatin1Char(':') + twoDigits(secs % 60); }

}  // namespace

PlaylistResult ImportPlaylist(const QString& path, PendingAlbum& album, int discTrackCount) {
    PlaylistResult r;
    const QFileInfo info(path);
    r.fullPath = info.absoluteFilePath();
    r.folder = FolderWithSlash(info.absolutePath());
    const auto refuse = [&](const QString& message) {
        PlaylistResult f;
        f.refused = true;
        f.errors << message;
        f.fullPath = r.fullPath;
        f.folder = r.folder;
        return f;
    };
    const TextFile file = ReadTextFile(path);
    if (!file.error.isEmpty()) return refuse(file.error);

    PendingAlbum a = album;
    a.sys = SourceCode(ImportSource::Playlist);
    if (a.mode == EditMode::AddCd)
        a.setTrackCount(discTrackCount);
    else if (a.mode == EditMode::NewAlbum)
        a.setTrackCount(0);

    enum { Start = 100, Xspf = 120, M3u = 200 };
    int state = Start;
    int i = 1;
    QStringList titles, artists;
    QString lastLine;
    bool titleSeen = false, creatorSeen = false, durationSeen = false;
    QString title, creator;
    qint64 durationMs = 0;

    const auto addRow = [&](qint64 secs) {
        a.setTrackCount(i);
        editing::TrackRow& row = a.tracks[size_t(i - 1)];
        row.number = store::TDM::PadNumber(i, 3);
        row.time = minutesSeconds(secs);
        ++i;
    };
    const auto tooMany = [&](qsizetype index, const QString& line) {
        return refuse(QStringLiteral("The playlist has more than %1 tracks (%2);\ran album holds at most %1. "
                                     "Nothing was imported.")
                          .arg(kMaxImportTracks)
                          .arg(lineRef(index, line)));
    };

    for (qsizetype k = 0; k < file.lines.size(); ++k) {
        const QString s = trimControl(file.lines.at(k));
        if (s.isEmpty()) continue;
        lastLine = s;
        switch (state) {
        case Start:
            if (s.contains(QLatin1String("#EXTM3U"))) {
                state = M3u;
            } else if (indexOfAsciiNoCase(s, QLatin1StringView("<tracklist>")) >= 0) {
                state = Xspf;
                titleSeen = creatorSeen = durationSeen = false;
            }
            break;
        case M3u: {
            if (!s.contains(QLatin1String("#EXTINF:"))) break;
            const QString rest = s.mid(8);
            const qsizetype comma = rest.indexOf(QLatin1Char(','));
            const auto secs = comma >= 0 ? wholeNumber(rest.left(comma), true) : std::nullopt;
            if (!secs)
                return refuse(QStringLiteral("The playlist has a track length that is not a whole number of seconds "
                                             "followed by a comma (%1).\rNothing was imported.")
                                  .arg(lineRef(k, file.lines.at(k))));
            if (i > kMaxImportTracks) return tooMany(k, file.lines.at(k));
            addRow(*secs < 2 ? 0 : *secs);
            QString entry = rest.mid(comma + 1);
            const QString upper = store::asciiUpper(entry);
            if (upper.startsWith(QLatin1String("VARIOUS ARTISTS - ")))
                entry.remove(0, 18);
            else if (upper.startsWith(QLatin1String("VARIOUS - ")))
                entry.remove(0, 10);
            if (const qsizetype dash = entry.indexOf(QLatin1String(" - ")); dash >= 0)
                entry.replace(dash, 3, QStringLiteral(" / "));
            titles << entry;
            if (const qsizetype sep = entry.indexOf(QLatin1String(" / ")); sep > 0) {
                const QString artist = trimControl(entry.left(sep));
                if (!artists.contains(artist)) artists << artist;
            }
            break;
        }
        case Xspf: {
            std::optional<QString> v;
            if (!titleSeen && (v = elementValue(s, QLatin1StringView("<title>"), QLatin1StringView("</title>")))) {
                title = *v;
                titleSeen = true;
            } else if (!creatorSeen &&
                       (v = elementValue(s, QLatin1StringView("<creator>"), QLatin1StringView("</creator>")))) {
                creator = *v;
                creatorSeen = true;
            } else if (!durationSeen &&
                       (v = elementValue(s, QLatin1StringView("<duration>"), QLatin1StringView("</duration>")))) {
                const auto ms = wholeNumber(*v, false, 12);
                if (!ms)
                    return refuse(QStringLiteral("The playlist has a track duration that is not a whole number of "
                                                 "milliseconds (%1).\rNothing was imported.")
                                      .arg(lineRef(k, file.lines.at(k))));
                durationMs = *ms;
                durationSeen = true;
            }
            if (titleSeen && creatorSeen && durationSeen) {
                titleSeen = creatorSeen = durationSeen = false;
                if (i > kMaxImportTracks) return tooMany(k, file.lines.at(k));
                addRow(durationMs / 1000);
                if (!artists.contains(creator)) artists << creator;
                titles << creator + QStringLiteral(" / ") + title;
            }
            break;
        }
        }
    }

    r.m3u = state == M3u;
    if (state == Start || i == 1) {
        r.errors << (state == Start ? importmsg::kInvalidPlaylist : importmsg::kNoPlaylistTracks);
        album = std::move(a);
        return r;
    }
    r.trackCount = i - 1;

    if (artists.size() == 1) {
        a.artist = artists.first();
        for (QString& t : titles)
            if (const qsizetype sep = t.indexOf(QLatin1String(" / ")); sep > 0) t = trimControl(t.mid(sep + 3));
    } else {
        a.artist = QStringLiteral("Various");
    }
    for (qsizetype k = 0; k < titles.size(); ++k)
        if (size_t(k) < a.tracks.size()) a.tracks[size_t(k)].title = titles.at(k);

    if (addMode(a)) {
        // A folder of clips: the last entry of an M3U names one of the files, and its
        // extension names the album ("mp3 clips").
        QString albumTitle = r.fullPath;
        if (r.m3u && lastLine.indexOf(QLatin1Char('.')) > 1) {
            const QFileInfo last(QDir(info.absolutePath()).filePath(lastLine));
            if (last.isFile() && !last.suffix().isEmpty()) albumTitle = last.suffix() + QStringLiteral(" clips");
        }
        a.title = albumTitle;
    }
    a.notes = QStringLiteral("PLAYLIST=") + r.fullPath;
    a.media = QStringLiteral("PL");
    a.selectArtist = false;
    r.collected = titles;
    album = std::move(a);
    return r;
}

}  // namespace albumora::disc
