#include "DuplicateFinder.h"

#include "Codepage.h"
#include "Prompts.h"

namespace albumora::views {

namespace {

// "Trim": characters at or below the blank go at both ends.
QString trimmed(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20) ++b;
    while (e > b && s[e - 1].unicode() <= 0x20) --e;
    return s.mid(b, e - b);
}

}  // namespace

QString DuplicatePage::text() const {
    QStringList out;
    for (const Line& l : lines) out << l.text;
    return out.join(QStringLiteral("\r\n"));
}

QString DuplicateKey(const QString& title, bool multiArtist) {
    QString key = store::asciiUpper(title);
    if (!multiArtist) return key;
    qsizetype p = key.indexOf(QLatin1String(" / "));
    if (p < 0) p = key.indexOf(QLatin1String(" - "));
    // A separator at the very start has no artist before it: the title stays whole.
    if (p > 0) key = trimmed(key.mid(p + 2));
    return key;
}

store::Result<DuplicatePage> FindDuplicates(store::Cursor& tview, const DuplicateQuery& query) {
    DuplicatePage page;
    const bool multi = store::asciiUpper(query.artist.left(7)) == QLatin1String("VARIOUS");
    if (!tview.isOpen()) ALB_TRY(tview.open());
    ALB_TRY(tview.setOrder(QStringLiteral("Track")));
    // The filter is the finder's own for the length of the search.
    struct FilterOff {
        store::Cursor& c;
        ~FilterOff() {
            c.setFiltered(false);
            (void)c.setFilter(QString());  // clearing compiles nothing and cannot fail
        }
    } off{tview};
    if (query.modifying) {
        ALB_TRY(tview.setFilter(QStringLiteral("id <> \"") + query.albumId + QLatin1Char('"')));
        tview.setFiltered(true);
    } else {
        ALB_TRY(tview.setFilter(QString()));
    }
    ALB_TRY(tview.first());

    page.lines.push_back({DuplicatePage::Kind::Heading, query.artist + QStringLiteral(" : ") + query.album});
    page.lines.push_back({DuplicatePage::Kind::Blank, QStringLiteral(" ")});
    for (const DuplicateQuery::Track& t : query.tracks) {
        const QString key = DuplicateKey(t.title, multi);
        if (key.isEmpty()) continue;  // an empty title row matches nothing worth telling
        ALB_ASSIGN_OR_RETURN(const bool hit, tview.findKey({key}));
        if (!hit) continue;
        page.found = true;
        page.lines.push_back({DuplicatePage::Kind::Track, t.number + QStringLiteral(".  ") + t.title});
        // The table holds titles cut to its field's width, and the tag compares just as much:
        // a longer title matches the rows its cut form does.
        QString stored = key.left(tview.fieldWidth(tview.fieldIndex(QStringLiteral("Track"))));
        while (stored.endsWith(QLatin1Char(' '))) stored.chop(1);
        while (!tview.eof() && store::asciiUpper(tview.text(QStringLiteral("Track"))) == stored) {
            page.lines.push_back({DuplicatePage::Kind::Match, QStringLiteral(">  ") + tview.text(QStringLiteral("NR")) + QStringLiteral(".  ") +
                                                                  tview.text(QStringLiteral("Artist")) + QStringLiteral(" : ") +
                                                                  tview.text(QStringLiteral("Album"))});
            ALB_TRY(tview.next());
        }
        page.lines.push_back({DuplicatePage::Kind::Blank, QStringLiteral(" ")});
    }
    if (page.found) {
        if (auto* clip = platform::desktop().clipboard) clip->setText(page.text());
        page.lines.push_back({DuplicatePage::Kind::Note, kDuplicatesCopied});
    } else {
        page.lines.push_back({DuplicatePage::Kind::Note, kNoDuplicates});
    }
    return page;
}

}  // namespace albumora::views
