#include "Layouts.h"

#include "Codepage.h"
#include "DMcd.h"
#include "NotesTags.h"

#include <QLocale>

#include <cmath>

namespace albumora::reports {

using store::Cursor;
using store::Result;
using store::Status;

namespace {

bool has(const QStringList& fields, const char* name) { return fields.contains(QString::fromLatin1(name), Qt::CaseInsensitive); }

TextItem at(double x, const QString& text, double width = 0) { return {x, width, text, false}; }
TextItem right(const QString& text) { return {0, 0, text, true}; }

// "Page" and the number at the right, the title at the left; no header for a blank title.
std::function<Band(int)> titleHeader(const QString& title, bool blankPrints) {
    if (blankPrints ? title.isEmpty() : title.trimmed().isEmpty()) return {};
    return [title](int page) { return Band{{Line{at(0, title), right(QStringLiteral("Page ") + QString::number(page))}}}; };
}

// The notes as the memo band prints them: track texts left out, disc texts without escapes.
QStringList printedNotes(const QString& notes) {
    QStringList lines = notes::SplitLines(notes);
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (lines[i].left(4) == notes::kExtt)
            lines.removeAt(i);
        else if (lines[i].startsWith(notes::kExtd))
            lines[i] = notes::StripEscapes(lines[i].mid(notes::kExtd.size()));
    }
    return lines;
}

std::optional<double> number(const QString& text) {
    bool ok = false;
    double v = text.toDouble(&ok);
    if (!ok) v = QLocale::system().toDouble(text, &ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

}  // namespace

Layout LayoutFor(const QStringList& fields) {
    if (fields.size() == 1 && fields[0].compare(QLatin1String("LABEL"), Qt::CaseInsensitive) == 0) return Layout::Media;
    if (fields.size() == 1 && fields[0].compare(QLatin1String("ARTIST"), Qt::CaseInsensitive) == 0) return Layout::Artist;
    return Layout::Album;
}

QString MoneyTotal(double value) {
    // Seven significant digits, shown with two decimals; beyond seven integer digits in
    // exponent notation. The system's decimal separator, no group separators.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const double rounded = QString::number(value, 'g', 7).toDouble();
    if (std::abs(rounded) >= 1e7) return locale.toString(rounded, 'E', 6);
    return locale.toString(rounded, 'f', 2);
}

Result<Document> AlbumReport(Selection& s, store::TDM& dm, const LayoutInput& in, const Progress& progress) {
    BandedReport report(QStringLiteral("Albumora"), PageSetup{}, titleHeader(in.title, false));
    const QStringList& f = in.fields;
    const bool media = has(f, "LABEL") || has(f, "MEDIA") || has(f, "IX");
    const bool cost = has(f, "COST"), value = has(f, "VALUE");
    double costTotal = 0, valueTotal = 0;
    Cursor& a = s.albums();
    Cursor& tracks = dm.tblCD;
    Cursor marks(QStringLiteral("tblMarks"));
    marks.setTablePath(dm.tablePath(QStringLiteral("PLAYLIST.DBF")));
    ALB_TRY(marks.setOrder(QStringLiteral("Playlist")));
    ALB_TRY(marks.open());
    ALB_ASSIGN_OR_RETURN(const qint64 count, s.count());
    if (count == 0) return Document{};  // no album, no report
    qint64 done = 0;
    ALB_TRY(a.forEachRow([&]() -> Status {
        Band detail;
        if (has(f, "ID")) detail.lines.push_back(Line{at(0, QStringLiteral("ID:")), at(50, a.text(QStringLiteral("ID")))});
        detail.lines.push_back(Line{at(0, QStringLiteral("Artist:")), at(50, a.text(QStringLiteral("Artist")), 400),
                                    right(has(f, "GENRE") ? a.text(QStringLiteral("Genre")) : QString())});
        detail.lines.push_back(Line{at(0, QStringLiteral("Album:")), at(50, a.text(QStringLiteral("Album")), 400),
                                    right(has(f, "YR") ? a.text(QStringLiteral("YR")) : QString())});
        report.add(detail);
        if (media)
            report.add(Band{{Line{at(0, QStringLiteral("Media:")), at(50, a.text(QStringLiteral("Media")), 40), at(100, QStringLiteral("Label:")),
                                  at(140, a.text(QStringLiteral("Label")), 320), right(QStringLiteral("Index: ") + a.text(QStringLiteral("IX")))}}});
        QStringList noteLines;
        if (has(f, "Notes") || cost || value) {
            ALB_ASSIGN_OR_RETURN(const QString notes, a.readText(QStringLiteral("Notes")));
            noteLines = notes::SplitLines(notes);
            if (has(f, "Notes") && !notes.isEmpty()) {
                Band memo;
                for (const QString& l : printedNotes(notes)) memo.lines.push_back(Line{at(0, l)});
                report.add(memo);
            }
        }
        if (cost || value) {
            const QString c = notes::FindAmount(noteLines, notes::AmountKind::Cost).value;
            const QString v = notes::FindAmount(noteLines, notes::AmountKind::Value).value;
            Line money{at(0, QStringLiteral("Valuation:"))};
            if (cost) {
                money.items.push_back(at(80, QStringLiteral("Purchase Cost")));
                money.items.push_back(at(160, c, 100));
                if (!c.isEmpty())
                    if (auto n = number(c)) costTotal += *n;
            }
            if (value) {
                money.items.push_back(at(280, QStringLiteral("Current Value")));
                money.items.push_back(at(360, v, 100));
                if (!v.isEmpty())
                    if (auto n = number(v)) valueTotal += *n;
            }
            report.add(Band{{money}});
        }
        if (in.withTracks) {
            ALB_TRY(tracks.forEachRow([&]() -> Status {
                const QString id = tracks.text(QStringLiteral("ID"));
                const QString nr = tracks.text(QStringLiteral("NR"));
                ALB_ASSIGN_OR_RETURN(const bool marked, marks.findKey({id, nr}));
                report.add(Band{{Line{at(10, marked ? QStringLiteral("*") : QString(), 10), {20, 24, nr.trimmed(), true},
                                      at(54, tracks.text(QStringLiteral("Track")))}}});
                return {};
            }));
        }
        ++done;
        if (progress && (done % 256 == 0 || done == count)) progress(done, count);
        return {};
    }));
    Band summary;
    summary.lines.push_back(Line{});
    summary.lines.push_back(Line{at(0, QStringLiteral("Albums printed:")), at(120, QString::number(count))});
    summary.lines.push_back(Line{at(0, QStringLiteral("Date run:")), at(120, QLocale::system().toString(in.date, QLocale::ShortFormat))});
    if (cost || value) {
        Line total{at(0, QStringLiteral("Total Collection Valuation:"))};
        if (cost) {
            total.items.push_back(at(150, QStringLiteral("Purchase Cost:")));
            total.items.push_back(at(230, MoneyTotal(costTotal), 80));
        }
        if (value) {
            total.items.push_back(at(320, QStringLiteral("Current Value")));
            total.items.push_back(at(400, MoneyTotal(valueTotal), 80));
        }
        summary.lines.push_back(total);
    }
    report.add(summary);
    return report.finish();
}

Result<Document> ArtistList(store::TDM& dm, const LayoutInput& in) {
    BandedReport report(QStringLiteral("Albumora - Artist List"), PageSetup{}, titleHeader(in.title, false));
    ALB_ASSIGN_OR_RETURN(const QStringList artists, dm.SelectDistinctArtists());
    if (artists.isEmpty()) return Document{};  // no record, no report
    for (const QString& artist : artists) report.add(Band{{Line{at(0, artist)}}});
    report.add(Band{{Line{}, Line{at(0, QStringLiteral("Total number of artists:")), at(140, QString::number(artists.size()))}}});
    return report.finish();
}

Result<Document> MediaReport(Selection& s, store::TDM& dm, const LayoutInput& in, const Progress& progress) {
    BandedReport report(QStringLiteral("Albumora"), PageSetup{}, titleHeader(in.title, true));
    Cursor& a = s.albums();
    ALB_TRY(a.setOrder(QStringLiteral("Label")));
    if (in.albumsFilter.trimmed().isEmpty()) {
        ALB_TRY(a.setFilter(QStringLiteral("(NOT empty(label)) and (media <>\"LD\")")));
        a.setFiltered(true);
    }
    // The media list's entries: a code of two characters and its description.
    std::vector<std::pair<QString, QString>> descriptions;
    for (const QString& entry : in.mediaList) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        const qsizetype p = eq < 0 ? 0 : eq + 1;
        if (p >= entry.size() - 1 && !entry.isEmpty()) continue;
        descriptions.emplace_back(entry.mid(p, 2), entry.mid(p + 3, 99));
    }
    auto describe = [&](const QString& code) {
        for (const auto& [c, d] : descriptions)
            if (c.compare(code, Qt::CaseInsensitive) == 0) return d;
        return QString();
    };

    Cursor& tracks = dm.tblCD;
    Cursor marks(QStringLiteral("tblMarks"));
    marks.setTablePath(dm.tablePath(QStringLiteral("PLAYLIST.DBF")));
    ALB_TRY(marks.setOrder(QStringLiteral("Playlist")));
    ALB_TRY(marks.open());
    QString previous;
    qint64 mediumTime = 0, grandTotal = 0;
    bool mediumUntimed = false, reportUntimed = false;
    int counter = 0;
    ALB_ASSIGN_OR_RETURN(const qint64 count, a.recordCount());
    if (count == 0) return Document{};  // no medium, no report
    qint64 done = 0;
    ALB_TRY(a.forEachRow([&]() -> Status {
        const QString artist = a.text(QStringLiteral("Artist"));
        const bool various = store::asciiUpper(artist.left(7)) == QLatin1String("VARIOUS");
        const QString label = a.text(QStringLiteral("Label"));
        if (store::asciiUpper(label) != store::asciiUpper(previous)) {
            Band head;
            if (mediumTime != 0) {
                mediumTime -= 2;  // no gap after the last track
                head.lines.push_back(Line{at(0, QStringLiteral("Time used up on this media: ") + store::TDM::FormatTrackTime(mediumTime, 3))});
                if (mediumUntimed) head.lines.push_back(Line{at(0, kUntimedNote)});
                grandTotal += mediumTime;
                head.lines.push_back(Line{});
            }
            head.lines.push_back(Line{at(0, label, 380), right(describe(a.text(QStringLiteral("Media"))))});
            report.add(head);
            counter = 0;
            mediumTime = 0;
            mediumUntimed = false;
        }
        previous = label;
        const QString id = a.text(QStringLiteral("ID"));
        ALB_ASSIGN_OR_RETURN(const bool onPlaylist, marks.findPartial(id));
        ALB_TRY(tracks.forEachRow([&]() -> Status {
            const QString nr = tracks.text(QStringLiteral("NR"));
            if (onPlaylist) {
                ALB_ASSIGN_OR_RETURN(const bool marked, marks.findKey({id, nr}));
                if (!marked) return {};
            }
            ++counter;
            const QString stored = tracks.text(QStringLiteral("Secs"));
            qint64 seconds = stored.trimmed().toLongLong();
            if (seconds == 0) {
                seconds = 180;
                mediumUntimed = reportUntimed = true;
            }
            mediumTime += seconds + 2;
            if (in.withTracks) {
                const QString title = tracks.text(QStringLiteral("Track"));
                report.add(Band{{Line{at(0, QString::asprintf("%.3d.", counter), 30), at(34, various ? title : artist + QStringLiteral(" / ") + title, 440),
                                      right(store::TDM::FormatTrackTime(stored.trimmed().toLongLong(), 3))}}});
            }
            return {};
        }));
        ++done;
        if (progress && (done % 256 == 0 || done == count)) progress(done, count);
        return {};
    }));
    grandTotal += mediumTime;
    Band summary;
    summary.lines.push_back(Line{});
    summary.lines.push_back(Line{at(0, QStringLiteral("Time used up on this media: ") + store::TDM::FormatTrackTime(mediumTime, 5))});
    summary.lines.push_back(Line{at(0, QStringLiteral("Grand total for all media")), at(160, store::TDM::FormatTrackTime(grandTotal, 5))});
    summary.lines.push_back(Line{at(0, QStringLiteral("Date run: ") + QLocale::system().toString(in.date, QLocale::ShortFormat))});
    if (reportUntimed) summary.lines.push_back(Line{at(0, kUntimedNote)});
    summary.lines.push_back(Line{at(0, QStringLiteral("Filter Expression used:")), at(130, a.filtered() ? a.filter() : QString())});
    report.add(summary);
    return report.finish();
}

Result<Document> TrackReport(Cursor& source, const QStringList& fields, const Progress& progress) {
    PageSetup setup;
    setup.margins.setRight(7.2);  // 2.54 mm
    BandedReport report(QStringLiteral("Albumora - Tracks Report"), setup);
    struct Column {
        int field;
        TextItem item;
    };
    std::vector<Column> columns;
    Line headings;
    double x = 0;
    for (const QString& name : fields) {
        const int index = source.fieldIndex(name);
        if (index < 0) return Status(store::ErrorKind::InvalidArgument, QStringLiteral("The tracks view has no field %1").arg(name));
        double width = double(source.fieldWidth(index)) * 10 + (name.compare(QLatin1String("MC"), Qt::CaseInsensitive) == 0 ? 8 : 0);
        const bool right = name.compare(QLatin1String("sec"), Qt::CaseInsensitive) == 0 || name.compare(QLatin1String("INDEX"), Qt::CaseInsensitive) == 0;
        // Columns past the right margin are cut there.
        const double left = x * kTrackUnit;
        const double room = std::max(0.0, setup.contentWidth() - left);
        columns.push_back({index, {left, std::min(width * kTrackUnit, room), QString(), right}});
        const double heading = (name.compare(QLatin1String("Time"), Qt::CaseInsensitive) == 0 ? x + 1 : x) * kTrackUnit;
        headings.items.push_back({heading, std::min(width * kTrackUnit, std::max(0.0, setup.contentWidth() - heading)), name, false});
        x += width + 10;
    }
    ALB_ASSIGN_OR_RETURN(const qint64 count, source.recordCount());
    if (count == 0) return Document{};  // no track, no report
    report.add(Band{{headings}});
    qint64 done = 0;
    ALB_TRY(source.forEachRow([&]() -> Status {
        Line row;
        for (const Column& c : columns) {
            TextItem item = c.item;
            item.text = source.text(c.field);
            if (item.width > 0) row.items.push_back(item);
        }
        report.add(Band{{row}});
        ++done;
        if (progress && (done % 1024 == 0 || done == count)) progress(done, count);
        return {};
    }));
    report.add(Band{{Line{}, Line{at(0, QStringLiteral("Total number of tracks in this report: ") + QString::number(count))},
                     Line{at(0, QStringLiteral("Filter Expression (if any):")), at(150, source.filtered() ? source.filter() : QString())}}});
    return report.finish();
}

Result<Document> ReportFor(Selection& s, store::TDM& dm, const LayoutInput& in, const Progress& progress) {
    switch (LayoutFor(in.fields)) {
    case Layout::Artist: return ArtistList(dm, in);
    case Layout::Media: return MediaReport(s, dm, in, progress);
    case Layout::Album: break;
    }
    return AlbumReport(s, dm, in, progress);
}

}  // namespace albumora::reports
