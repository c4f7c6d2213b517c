#include "DetailPage.h"

#include "Codepage.h"
#include "EditTools.h"
#include "NotesTags.h"

#include <map>

namespace albumora::views {

using store::Cursor;
using store::Status;
using store::TDM;
using Colour = PageLine::Colour;

namespace {

QString twoDigits(qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

bool multiArtist(const QString& artist) { return store::asciiUpper(artist.left(7)) == QLatin1String("VARIOUS"); }

// A cursor of its own on a collection table, so that the main window's cursors keep their
// filters and positions while the page reads.
Status openOwn(Cursor& c, TDM& dm, const QString& file, const QString& order) {
    c.setTablePath(dm.tablePath(file));
    ALB_TRY(c.setOrder(order));
    return c.open(store::OpenMode::Shared);
}

// The rows whose key starts with the text (an album ID, a label), on an order whose key does:
// a scope walks only those. A tag that cannot serve now leaves the whole table to walk, so
// callers still compare each row.
void narrowTo(Cursor& c, const QString& keyStart) {
    if (!c.setScope(keyStart, keyStart)) c.clearScope();
}

Status selectAlbum(Cursor& c, const QString& id) {
    c.setFiltered(true);
    ALB_TRY(c.setFilter(QStringLiteral("ID=\"") + id + QLatin1Char('"')));
    const int idField = c.fieldIndex(QStringLiteral("ID"));
    narrowTo(c, id.leftJustified(idField >= 0 ? c.fieldWidth(idField) : 8, QLatin1Char(' '), true));
    return {};
}

// The tracks of one album in track order.
Status tracksOf(Cursor& tracks, const QString& id, std::vector<std::pair<qint64, DetailTrack>>& out) {
    ALB_TRY(selectAlbum(tracks, id));
    return tracks.forEachRow([&]() -> Status {
        out.push_back({tracks.integer(QStringLiteral("NR")),
                       {tracks.text(QStringLiteral("TRACK")), tracks.integer(QStringLiteral("Secs"))}});
        return {};
    });
}

// The marked tracks of one album: (NR text, title, seconds) in the playlist's order.
struct Marked {
    qint64 nr = 0;
    QString title;
    qint64 secs = 0;
};
Status markedOf(Cursor& playlist, Cursor& tracks, const QString& id, std::vector<Marked>& out) {
    ALB_TRY(selectAlbum(playlist, id));
    std::vector<QString> nrs;
    ALB_TRY(playlist.forEachRow([&]() -> Status {
        nrs.push_back(playlist.text(QStringLiteral("NR")));
        return {};
    }));
    tracks.setFiltered(false);
    tracks.clearScope();
    for (const QString& nr : nrs) {
        Marked m;
        m.nr = nr.trimmed().toLongLong();
        ALB_ASSIGN_OR_RETURN(const bool found, tracks.findKey({id, nr}));
        if (found) {
            m.title = tracks.text(QStringLiteral("TRACK"));
            m.secs = tracks.integer(QStringLiteral("Secs"));
        }
        out.push_back(m);
    }
    return {};
}

QString trackLine(qint64 nr, qint64 secs, const QString& title) {
    return twoDigits(nr) + QStringLiteral(". (") + TDM::FormatTrackTime(secs, 2) + QStringLiteral(") ") + title;
}

// The index the marked tracks are numbered from: IX as a whole number of at least 1.
std::optional<qint64> indexNumbering(const QString& ix) {
    if (ix.contains(QLatin1Char('.'))) return std::nullopt;
    bool ok = false;
    const qint64 n = store::trimControl(ix).toLongLong(&ok);
    if (!ok || n < 1) return std::nullopt;
    return n;
}

// The time the albums of one medium take: each album's marked tracks when it has any, else all
// of its tracks; a track of unknown length counts as three minutes.
Status mediumTime(TDM& dm, const QString& label, std::vector<PageLine>& lines) {
    Cursor albums, tracks, playlist;
    ALB_TRY(openOwn(albums, dm, QStringLiteral("ALBUMS.DBF"), QStringLiteral("Label")));
    ALB_TRY(openOwn(tracks, dm, QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks")));
    ALB_TRY(openOwn(playlist, dm, QStringLiteral("PLAYLIST.DBF"), QStringLiteral("Playlist")));
    const int labelField = albums.fieldIndex(QStringLiteral("LABEL"));
    narrowTo(albums, store::asciiUpper(label).leftJustified(labelField >= 0 ? albums.fieldWidth(labelField) : 55,
                                                            QLatin1Char(' '), true));
    // The same label exactly: "CD1" is not "CD10" nor "cd1".
    QStringList ids;
    ALB_TRY(albums.forEachRow([&]() -> Status {
        if (albums.text(QStringLiteral("LABEL")) == label) ids << albums.text(QStringLiteral("ID"));
        return {};
    }));
    if (ids.size() < 2) return {};
    qint64 total = 0;
    qint64 counted = 0;
    auto count = [&](qint64 secs) {
        total += secs == 0 ? 182 : secs + 2;
        ++counted;
    };
    for (const QString& id : std::as_const(ids)) {
        std::vector<Marked> marked;
        ALB_TRY(markedOf(playlist, tracks, id, marked));
        if (!marked.empty()) {
            for (const Marked& m : marked) count(m.secs);
            continue;
        }
        std::vector<std::pair<qint64, DetailTrack>> all;
        ALB_TRY(tracksOf(tracks, id, all));
        for (const auto& t : all) count(t.second.secs);
    }
    lines.push_back({QStringLiteral("Time used on Media Label/Directory \"") + label + QStringLiteral("\": ") +
                     TDM::FormatTrackTime(total, 3) + QStringLiteral(" (") + QString::number(counted) +
                     QStringLiteral(" tracks)")});
    lines.push_back({QStringLiteral("For complete Media List report with option to include tracks, invoke"), Colour::Black,
                     false, true});
    lines.push_back({QStringLiteral("the Report Writer and click on Help for Media List instruction"), Colour::Black, false,
                     true});
    return {};
}

// Positions tblFilter on an album (the notes the windows show are read there).
Status filterOnAlbum(TDM& dm, const QString& order, const QString& id, bool& found) {
    Cursor& f = dm.tblFilter;
    if (f.tablePath().isEmpty()) f.setTablePath(dm.tablePath(QStringLiteral("ALBUMS.DBF")));
    if (!f.isOpen()) {
        ALB_TRY(f.setOrder(order));
        ALB_TRY(f.open(store::OpenMode::Shared));
    } else if (f.order().compare(order, Qt::CaseInsensitive) != 0) {
        ALB_TRY(f.setOrder(order));
    }
    f.setFiltered(false);
    f.clearScope();
    ALB_ASSIGN_OR_RETURN(found, f.findKey({id}));
    return {};
}

PageLine unreadableNotes(const Status& st) {
    return {QStringLiteral("The notes of this album cannot be read: ") + st.text(), Colour::Red};
}

}  // namespace

QStringList TextsOf(const std::vector<PageLine>& lines) {
    QStringList out;
    for (const PageLine& l : lines) out << l.text;
    return out;
}

QString DetailCaption(const QString& albumTitle) {
    return QStringLiteral("Albumora - Detail View [") + albumTitle + QLatin1Char(']');
}

store::Result<DetailPage> ComposeDetailPage(TDM& dm, const DetailOptions& options) {
    Cursor& a = dm.tblAlbums;
    if (!a.isOpen() || a.isEmpty()) return Status(store::ErrorKind::NotFound, QStringLiteral("There is no current album"));
    DetailPage page;
    page.albumId = a.text(QStringLiteral("ID"));
    page.title = a.text(QStringLiteral("ALBUM"));
    page.artist = a.text(QStringLiteral("ARTIST"));
    std::vector<PageLine>& out = page.lines;
    auto add = [&out](const QString& text, Colour colour = Colour::Black) { out.push_back({text, colour}); };

    add(QStringLiteral("Album:     ") + page.title);
    add(QStringLiteral("Artist:    ") + page.artist);
    add(QStringLiteral("Genre:     ") + a.text(QStringLiteral("GENRE")));
    const QString year = a.text(QStringLiteral("YR"));
    const QString media = a.text(QStringLiteral("MEDIA"));
    const QString label = a.text(QStringLiteral("LABEL"));
    const QString ix = a.text(QStringLiteral("IX"));
    if (!store::trimControl(year).isEmpty()) add(QStringLiteral("Year:      ") + year);
    if (!store::trimControl(media).isEmpty()) add(QStringLiteral("Media:     ") + media);
    if (!store::trimControl(label).isEmpty()) add(QStringLiteral("Label/Directory: ") + label);
    if (!store::trimControl(ix).isEmpty()) add(QStringLiteral("Index:     ") + store::trimControl(ix));
    add(QStringLiteral("Disc ID:   ") + page.albumId);

    // Notes, with the extended track texts kept for the track lines.
    bool found = false;
    ALB_TRY(filterOnAlbum(dm, QStringLiteral("ID"), page.albumId, found));
    QStringList notesLines;
    std::map<int, QString> extended;
    if (found) {
        const store::Result<QString> notes = dm.tblFilter.readText(QStringLiteral("Notes"));
        if (!notes) {
            out.push_back(unreadableNotes(notes.error()));
        } else {
            notesLines = notes::SplitLines(*notes);
        }
    }
    if (!notesLines.isEmpty()) {
        add(QStringLiteral("NOTES:"));
        for (const QString& line : std::as_const(notesLines)) {
            // An extended track text is shown under its track, never as a note, whether or
            // not its index names a track.
            if (line.startsWith(notes::kExtt)) {
                const auto one = notes::ExtendedTrackTexts({line});
                if (!one.empty()) extended.emplace(one.begin()->first, notes::StripEscapes(one.begin()->second));
                continue;
            }
            if (line.startsWith(notes::kExtd))
                add(notes::StripEscapes(line.mid(notes::kExtd.size())), Colour::Blue);
            else if (!line.isEmpty())
                add(line);
        }
    }

    // Tracks.
    Cursor tracks, playlist;
    ALB_TRY(openOwn(tracks, dm, QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks")));
    ALB_TRY(openOwn(playlist, dm, QStringLiteral("PLAYLIST.DBF"), QStringLiteral("Playlist")));
    std::vector<std::pair<qint64, DetailTrack>> rows;
    ALB_TRY(tracksOf(tracks, page.albumId, rows));
    if (!rows.empty()) {
        add(QStringLiteral("TRACKS:"));
        for (const auto& [nr, t] : rows) {
            add(trackLine(nr, t.secs, t.title));
            page.lyricTracks << twoDigits(nr) + QStringLiteral(". ") + t.title;
            auto ext = extended.find(int(nr));
            if (ext != extended.end()) add(QStringLiteral("    ") + ext->second, Colour::Blue);
            page.tracks.push_back(t);
            page.trackSeconds += t.secs;
        }
        if (page.trackSeconds > 0)
            add(QStringLiteral("Total Playing Time: ") +
                TDM::FormatTrackTime(2 * qint64(page.tracks.size()) + page.trackSeconds, 3));
    }

    // The marked tracks.
    std::vector<Marked> marked;
    ALB_TRY(markedOf(playlist, tracks, page.albumId, marked));
    if (!marked.empty()) {
        add(QStringLiteral("PLAYLIST:"));
        std::optional<qint64> index = indexNumbering(ix);
        qint64 sum = 0;
        for (const Marked& m : marked) {
            sum += m.secs;
            if (index) {
                add(twoDigits(m.nr) + QStringLiteral(". ") + store::trimControl(m.title).leftJustified(40) +
                    QStringLiteral(" (Index: ") + QString::number(*index) + QLatin1Char(')'));
                ++*index;
            } else {
                add(trackLine(m.nr, m.secs, m.title));
            }
        }
        if (sum > 0)
            add(QStringLiteral("Total Playlist Time: ") + TDM::FormatTrackTime(2 * qint64(marked.size()) + sum, 3));
    }

    // The collection.
    if (options.albumsFiltered) {
        ALB_ASSIGN_OR_RETURN(const qint64 passing, a.recordCount());
        add(QStringLiteral("Albums passing filter ") + options.filterExpression + QStringLiteral(": ") +
                QString::number(passing),
            Colour::Navy);
    }
    Cursor allAlbums;
    ALB_TRY(openOwn(allAlbums, dm, QStringLiteral("ALBUMS.DBF"), QString()));
    ALB_ASSIGN_OR_RETURN(const qint64 albumCount, allAlbums.recordCount());
    add(QStringLiteral("Total number of albums in database: ") + QString::number(albumCount), Colour::Navy);
    tracks.setFiltered(false);
    tracks.clearScope();
    ALB_ASSIGN_OR_RETURN(const qint64 trackCount, tracks.recordCount());
    add(QStringLiteral("Total number of tracks in database: ") + QString::number(trackCount), Colour::Navy);

    if (options.listedByLabel && !store::trimControl(label).isEmpty()) ALB_TRY(mediumTime(dm, label, out));

    add(QStringLiteral("Albumora - Version ") + options.version);
    return page;
}

QStringList LabelerPlaylist(const DetailPage& page) {
    const qint64 n = qint64(page.tracks.size());
    QStringList out;
    out << QStringLiteral("Surething Playlist:MVDAudioPlayList;MicroVision Development Inc.");
    out << QStringLiteral("[Type]") << QStringLiteral("Audio CD") << QString();
    out << QStringLiteral("[Title]") << page.title << QString();
    out << QStringLiteral("[Artist]") << page.artist << QString();
    out << QStringLiteral("[Tracks]") << QString::number(n) << QString();
    out << QStringLiteral("[Playtime]")
        << (page.trackSeconds == 0 ? QStringLiteral("0:00")
                                   : store::trimControl(TDM::FormatTrackTime(2 * n + page.trackSeconds - 2, 3)))
        << QString();
    out << QStringLiteral("[Track:Type,Artist,Title,Playtime]");
    const bool various = multiArtist(page.artist);
    auto quoted = [](const QString& v) { return QLatin1Char('"') + v + QLatin1Char('"'); };
    for (const DetailTrack& t : page.tracks) {
        QString artist = page.artist;
        QString title = t.title;
        const QString type = title == QLatin1String("Data") ? QStringLiteral("Data") : QStringLiteral("Audio");
        const qsizetype p = various ? title.indexOf(QLatin1String(" / "), 1) : -1;
        if (p > 0) {
            artist = store::trimControl(title.left(p));
            title = store::trimControl(title.mid(p + 3, 70));
        }
        out << quoted(type) + QLatin1Char(',') + quoted(artist) + QLatin1Char(',') + quoted(title) + QLatin1Char(',') +
                   quoted(store::trimControl(TDM::FormatTrackTime(t.secs, 2)));
    }
    return out;
}

QString ArtistCdsAddress(const QString& artist) { return editing::CoverImageSearchAddress(artist); }

QString PosterSearchTerm(const QString& artist) {
    QString t = store::trimControl(artist);
    QString out;
    out.reserve(t.size());
    for (QChar c : t) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('&')) c = QLatin1Char('+');
        if (c != QLatin1Char('+') || !out.endsWith(QLatin1Char('+'))) out += c;
    }
    return out;
}

QString PosterSearchAddress(const QString& artist) {
    return kPosterSearchPage + QStringLiteral("?search=") + PosterSearchTerm(artist);
}

std::optional<QStringList> LyricsOfTrack(const QStringList& notesLines, const QString& track, const QString& artist) {
    std::optional<QStringList> byTitle = notes::FindLyricBlock(notesLines, track);
    std::optional<QStringList> byArtist;
    if (!store::trimControl(artist).isEmpty())
        byArtist = notes::FindLyricBlock(notesLines, artist + QLatin1Char('+') + track);
    if (!byTitle && !byArtist) return std::nullopt;
    QStringList out = byTitle.value_or(QStringList());
    if (byArtist) out << *byArtist;
    return out;
}

store::Result<std::vector<PageLine>> ComposeTrackInfo(TDM& dm, const Cursor& row) {
    std::vector<PageLine> out;
    const QString id = row.text(QStringLiteral("ID"));
    const QString track = row.text(QStringLiteral("Track"));
    const QString artist = row.text(QStringLiteral("Artist"));
    bool found = false;
    ALB_TRY(filterOnAlbum(dm, QStringLiteral("id"), id, found));

    const qint64 sec = row.integer(QStringLiteral("sec"));
    const QString time =
        sec >= 1 ? QStringLiteral(" (") + store::trimControl(TDM::FormatTrackTime(sec, 2)) + QLatin1Char(')') : QString();
    out.push_back({QStringLiteral("Song: ") + row.text(QStringLiteral("NR")) + QStringLiteral(". ") + track + time});
    out.push_back({QStringLiteral("Artist: ") + artist});
    out.push_back({QStringLiteral("Album: ") + row.text(QStringLiteral("Album"))});
    out.push_back({QStringLiteral("Marked for playlist: ") +
                   (row.boolean(QStringLiteral("marked")) ? QStringLiteral("True") : QStringLiteral("False"))});
    if (!found) return out;
    const store::Result<QString> notes = dm.tblFilter.readText(QStringLiteral("Notes"));
    if (!notes) {
        out.push_back(unreadableNotes(notes.error()));
        return out;
    }
    if (auto lyrics = LyricsOfTrack(notes::SplitLines(*notes), track, artist)) {
        out.push_back({QStringLiteral("Lyrics:")});
        for (const QString& l : std::as_const(*lyrics)) out.push_back({l, Colour::Purple, true});
    }
    return out;
}

CursorState::CursorState(Cursor& c) : c_(c), open_(c.isOpen()), order_(c.order()), at_(c.bookmark()) {}

void CursorState::restore() {
    if (!open_) {
        c_.close();
        return;
    }
    // Best effort: the window that moved it has closed, and nothing depends on more.
    if (c_.order() != order_ && !c_.setOrder(order_)) return;
    if (at_.valid()) (void)c_.gotoBookmark(at_);
}

}  // namespace albumora::views
