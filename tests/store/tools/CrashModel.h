// What the crash writer stores, as a pure function of a row's identity and version, and the
// lines it prints. A row read back after a kill is either exactly one version the writer stored
// or damage: a record torn between two versions, or a memo that belongs to another row, cannot
// pass for a valid row.
//
// Lines on standard output, one write each:
//   R <albums> <tracks>     the writer has opened the folder and read what it holds; sizes
//                           of the two index files
//   A <id> <version>        album <id> is about to be stored at <version> (appended or edited)
//   a <id>                  album <id> is about to be deleted
//   T <id> <nr> <version>   track <nr> of album <id> is about to be stored at <version>
//   t <id> <nr>             track <nr> of album <id> is about to be deleted
//   D <albums> <tracks>     the change announced last is complete; sizes of the two index files
//   F                       a flush returned: every change announced before is durable
//   P <file>                a pack of <file> begins
//   p <microseconds>        the pack ended
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace albumora::crashmodel {

inline std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

inline std::uint64_t hashOf(const QString& id, std::uint64_t a, std::uint64_t b = 0) {
    std::uint64_t h = mix(a * 1000003u + b);
    for (QChar c : id) h = mix(h ^ c.unicode());
    return h;
}

// Album IDs: eight base-36 digits, so that every run of the writer can take its own range.
inline QString albumId(qint64 n) { return QStringLiteral("%1").arg(n, 8, 36, QLatin1Char('0')); }

struct Album {
    QString album, artist, ix, genre, yr, label, media, notes;
};

struct Track {
    QString title, secs;
};

namespace detail {
// Words for long keys with few shared prefixes and few trailing blanks, so that index leaves
// fill after a handful of keys and split often. Some carry Windows-1252 letters.
inline const QStringList& words() {
    static const QStringList w = {
        QStringLiteral("Velvet"),  QStringLiteral("Morning"), QStringLiteral("Björk"),   QStringLiteral("Harbour"),
        QStringLiteral("Señor"),   QStringLiteral("Static"),  QStringLiteral("Café"),    QStringLiteral("Orchard"),
        QStringLiteral("Quartz"),  QStringLiteral("Neon"),    QStringLiteral("Zephyr"),  QStringLiteral("Ashes"),
        QStringLiteral("Jubilee"), QStringLiteral("Kite"),    QStringLiteral("Lantern"), QStringLiteral("Motörhead"),
        QStringLiteral("Umbra"),   QStringLiteral("Ivory"),   QStringLiteral("Fjord"),   QStringLiteral("Guns \"N\" Roses"),
    };
    return w;
}

inline QString phrase(std::uint64_t h, int minLen, int maxLen) {
    const QStringList& w = words();
    const int want = minLen + int(h % std::uint64_t(maxLen - minLen + 1));
    QString s;
    std::uint64_t x = h;
    while (s.size() < want) {
        x = mix(x);
        if (!s.isEmpty()) s += QLatin1Char(' ');
        QString word = w[int(x % std::uint64_t(w.size()))];
        if ((x >> 20) & 1) word = word.toLower();
        s += word;
    }
    s.truncate(maxLen);
    while (s.endsWith(QLatin1Char(' '))) s.chop(1);
    return s;
}
}  // namespace detail

inline Album albumAt(const QString& id, int version) {
    const std::uint64_t h = hashOf(id, std::uint64_t(version), 1);
    Album a;
    a.artist = detail::phrase(mix(h ^ 1), 24, 50);
    a.album = detail::phrase(mix(h ^ 2), 24, 50);
    a.ix = QStringLiteral("%1").arg(version, 6);
    static const char* genres[] = {"Rock", "Jazz", "Folk", "Classical", "Pop", "Blues", "Ambient", "Metal"};
    a.genre = QString::fromLatin1(genres[mix(h ^ 3) % 8]);
    a.yr = QString::number(1950 + int(mix(h ^ 4) % 70));
    a.label = detail::phrase(mix(h ^ 5), 10, 55);
    static const char* media[] = {"CD", "LP", "MC", "CR"};
    a.media = QString::fromLatin1(media[mix(h ^ 6) % 4]);
    // Notes from nothing (a blank memo reference) to a few kilobytes over many memo blocks.
    const int lines = int(mix(h ^ 7) % 6) == 0 ? 0 : int(mix(h ^ 8) % 60) + 1;
    if (lines) {
        QStringList l{QStringLiteral("id=%1 version=%2").arg(id).arg(version)};
        for (int i = 1; i < lines; ++i) l << QStringLiteral("EXTT%1=").arg(i) + detail::phrase(mix(h ^ (100 + i)), 5, 60);
        a.notes = l.join(QStringLiteral("\r\n"));
    }
    return a;
}

inline Track trackAt(const QString& id, int nr, int version) {
    const std::uint64_t h = hashOf(id, std::uint64_t(version), std::uint64_t(nr) + 7);
    return {detail::phrase(h, 8, 73), QString::number(version)};
}

}  // namespace albumora::crashmodel
