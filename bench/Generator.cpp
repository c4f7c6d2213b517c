#include "Generator.h"

#include "DMcd.h"
#include "File.h"
#include "NotesTags.h"
#include "Table.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace albumora::bench {

using store::Cursor;
using store::ErrorKind;
using store::Result;
using store::Status;
using store::TDM;

namespace {

// Our own generator rather than <random>'s distributions, whose output differs between standard
// libraries: a seed must name the same collection on every machine.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed ^ 0x9E3779B97F4A7C15ull) {}
    std::uint64_t next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    int below(int n) { return int((std::uint64_t(std::uint32_t(next() >> 32)) * std::uint64_t(n)) >> 32); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    double unit() { return double(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[size_t(below(int(v.size())))];
    }

private:
    std::uint64_t s_;
};

std::vector<QString> list(std::initializer_list<const char*> utf8) {
    std::vector<QString> out;
    for (const char* s : utf8) out.push_back(QString::fromUtf8(s));
    return out;
}

// Names are made up from common words and given names; a few carry the accented letters of
// Windows-1252 so that 8-bit text goes through keys, filters and the memo file.
const std::vector<QString>& firstNames() {
    static const auto v = list({"Anna",   "Björn",  "Carlos", "Chloé",  "Daniel", "Élise",   "Frank",  "Greta",  "Hector",
                                "Ingrid", "James",  "Karin",  "Lars",   "Lucía",  "Marco",   "Mia",    "Nils",   "Noémie",
                                "Oscar",  "Paula",  "Ramón",  "Rosa",   "Sven",   "Sofía",   "Thomas", "Ulla",   "Victor",
                                "Zoë",    "Aoife",  "Bernard", "Cécile", "Dmitri", "Eva",    "Fiona",  "Guy",    "Hanna",
                                "Isaac",  "Jules",  "Kai",    "Lena",   "Miles",  "Nina",    "Otis",   "Pierre", "Quinn",
                                "Ruth",   "Stefan", "Tove",   "Walter", "Yves",   "Åsa",     "Jörg",   "Maëlle", "Joaquín",
                                "Billie", "Etta",   "Hank",   "Dolly",  "Buddy",  "Nora",    "Ray",    "June",   "Louis"});
    return v;
}

const std::vector<QString>& lastNames() {
    static const auto v = list({"Andersson", "Baker",    "Castillo", "Dubois",  "Eriksen",   "Fontaine", "García",
                                "Hoffmann",  "Ivanov",   "Jensen",   "Kowalski", "Lindqvist", "Martín",   "Nakamura",
                                "O'Brien",   "Petrovic", "Quintero", "Rasmussen", "Schäfer",  "Thompson", "Underwood",
                                "Vázquez",   "Weiß",     "Young",    "Zeller",  "Müller",    "Novák",    "Øvergaard",
                                "Brennan",   "Carter",   "Delgado",  "Ellis",   "Fischer",   "Gallagher", "Holm",
                                "Jackson",   "King",     "Lefèvre",  "Moreno",  "Nyström",   "Ortega",   "Parker",
                                "Reyes",     "Silva",    "Turner",   "Valdés",  "Walsh",     "Ström",    "Coleman",
                                "Hughes",    "Monroe",   "Sanderson", "Whitfield", "Beaumont", "Kristiansen"});
    return v;
}

const std::vector<QString>& adjectives() {
    static const auto v = list({"Blue",     "Lonely",  "Broken",  "Wild",    "Sweet",    "Cold",     "Golden",  "Little",
                                "Lost",     "Hidden",  "Crazy",   "Strange", "Electric", "Silent",   "Velvet",  "Midnight",
                                "Burning",  "Frozen",  "Secret",  "Empty",   "Holy",     "Restless", "Bitter",  "Gentle",
                                "Crimson",  "Silver",  "Dusty",   "Faded",   "Naïve",    "Beloved",  "Endless", "Hollow",
                                "Neon",     "Paper",   "Rusty",   "Shining", "Wicked",   "Young",    "Old",     "New",
                                "Last",     "First",   "Dark",    "Bright",  "Tender",   "Loving",   "Raw",     "Sacred"});
    return v;
}

const std::vector<QString>& nouns() {
    static const auto v = list({"Love",     "Night",    "River",    "Heart",    "Light",     "Summer",   "Rain",
                                "Fire",     "Dream",    "Road",     "Home",     "Moon",      "Sun",      "City",
                                "Song",     "Time",     "Star",     "Dance",    "Shadow",    "Ghost",    "Gold",
                                "Stone",    "Wind",     "Ocean",    "Mountain", "Highway",   "Morning",  "Winter",
                                "Rose",     "Garden",   "Angel",    "Devil",    "Paradise",  "Heaven",   "Train",
                                "Letter",   "Window",   "Mirror",   "Memory",   "Story",     "Island",   "Desert",
                                "Forest",   "Echo",     "Thunder",  "Honey",    "Whiskey",   "Radio",    "Diamond",
                                "Café",     "Lover",    "Glove",    "Harbour",  "Lantern",   "Carousel", "Horizon",
                                "Fiancée",  "Señorita", "Rosé",     "Boulevard", "Ballroom", "Valley",   "Silence",
                                "Kingdom",  "Machine",  "Satellite", "Circus",  "Tide",      "Crown",    "Feather"});
    return v;
}

const std::vector<QString>& pluralNouns() {
    static const auto v = list({"Wolves",   "Ravens",  "Drifters", "Lovers",   "Strangers", "Saints",  "Sinners",
                                "Comets",   "Pilots",  "Shadows",  "Hearts",   "Horses",    "Kings",   "Sparrows",
                                "Machines", "Echoes",  "Rebels",   "Gamblers", "Dreamers",  "Outlaws", "Tigers",
                                "Daisies",  "Ramblers", "Cowboys", "Sailors",  "Mechanics", "Brothers", "Sisters"});
    return v;
}

const std::vector<QString>& verbs() {
    static const auto v = list({"Walking", "Running", "Dancing", "Waiting", "Falling", "Dreaming", "Driving", "Crying",
                                "Talking", "Fading",  "Burning", "Holding", "Leaving", "Calling",  "Looking", "Loving"});
    return v;
}

const std::vector<QString>& places() {
    static const auto v = list({"the Blue Note",  "Montreux",       "the Fillmore",     "Budokan",    "the Olympia",
                                "Royal Albert Hall", "the Paradiso", "the Café Pamplona", "Théâtre du Nord", "Newport",
                                "the Apollo",     "the Village Gate", "Carnegie Hall",   "the Ryman", "Red Rocks"});
    return v;
}

const std::vector<QString>& labels() {
    static const auto v = list({"Blue Harbor Records",   "Nordlicht Musik",       "Éditions du Sud",
                                "Red Lantern",           "Stoneway",              "Parlour Sound",
                                "Midnight Ferry Records", "Goldcrest",            "Casa Verde Discos",
                                "Ironbridge",            "Söderberg Grammofon",   "Paper Moon",
                                "Westbound Recording Co.", "Harbour Lights",      "Crescent City Sound",
                                "Deux Chevaux",          "Lakeside",              "Atlas Phonographic",
                                "Velvet Ribbon Records & Tapes (Special Products Division)"});
    return v;
}

const std::vector<QString>& shelves() {
    static const auto v = list({"Shelf 1", "Shelf 2", "Shelf 3", "Shelf 4", "Box 7", "Box 12", "Attic", "Car",
                                "Living room", "Lent to Jörg"});
    return v;
}

const std::vector<QString>& noteLines() {
    static const auto v = list({"Bought at a flea market in Lyon.",
                                "Signed copy.",
                                "Gift from Karin, 1998.",
                                "Slight scratch on the last track.",
                                "First pressing, gatefold sleeve.",
                                "Replaced the broken jewel case.",
                                "Japanese import with an extra song.",
                                "Recorded live; the audience is loud on side two.",
                                "Borrowed back from Sven in March.",
                                "The booklet has the lyrics in German and in English.",
                                "Sounds better on the old player.",
                                "Café Müller sale, two for one.",
                                "Remastered edition, not the one with the bonus disc.",
                                "Promo copy “not for sale”.",
                                "Needs cleaning."});
    return v;
}

// Genres with weights: a collection leans to a few of them.
struct Weighted {
    const char* value;
    int weight;
};

const char* weightedPick(Rng& rng, std::initializer_list<Weighted> items) {
    int total = 0;
    for (const Weighted& w : items) total += w.weight;
    int r = rng.below(total);
    for (const Weighted& w : items) {
        if (r < w.weight) return w.value;
        r -= w.weight;
    }
    return items.begin()->value;
}

const char* pickGenre(Rng& rng) {
    return weightedPick(rng, {{"rock", 34}, {"misc", 14}, {"jazz", 10}, {"classical", 8}, {"folk", 7}, {"blues", 6},
                              {"country", 6}, {"soundtrack", 5}, {"newage", 3}, {"reggae", 4}, {"data", 3}});
}

const char* pickMedia(Rng& rng) {
    return weightedPick(rng, {{"", 52}, {"VL", 10}, {"CR", 8}, {"CS", 6}, {"PL", 4}, {"MD", 3}, {"SA", 2}, {"DV", 2},
                              {"IP", 3}, {"CW", 1}, {"DA", 1}, {"DS", 1}, {"DT", 1}, {"LD", 1}, {"RD", 1}, {"VT", 1},
                              {"OT", 3}});
}

struct Artist {
    QString name;
    QString genre;
    int firstYear = 0;
};

QString artistName(Rng& rng) {
    const int kind = rng.below(100);
    if (kind < 40) return rng.pick(firstNames()) + QLatin1Char(' ') + rng.pick(lastNames());
    if (kind < 68) return QStringLiteral("The ") + rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(pluralNouns());
    if (kind < 78)
        return rng.pick(firstNames()) + QLatin1Char(' ') + rng.pick(lastNames()) + QStringLiteral(" & the ") +
               rng.pick(pluralNouns());
    if (kind < 88) return rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns());
    if (kind < 94) {
        static const auto groups = list({"Trio", "Quartet", "Quintet", "Ensemble", "Orchestra", "Band"});
        return rng.pick(firstNames()) + QLatin1Char(' ') + rng.pick(lastNames()) + QLatin1Char(' ') + rng.pick(groups);
    }
    if (kind < 98) return rng.pick(nouns()) + rng.pick(nouns()).toLower();
    // Now and then a name too long for the field: the engine cuts it at 50 characters.
    return QStringLiteral("The Reverend ") + rng.pick(firstNames()) + QLatin1Char(' ') + rng.pick(lastNames()) +
           QStringLiteral(" and His ") + rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(pluralNouns()) +
           QStringLiteral(" Orchestra");
}

// A song title of one to about eight words.
QString songTitle(Rng& rng) {
    const int kind = rng.below(100);
    QString t;
    if (kind < 20) {
        t = rng.pick(nouns());
    } else if (kind < 42) {
        t = rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns());
    } else if (kind < 55) {
        t = QStringLiteral("The ") + rng.pick(nouns()) + QStringLiteral(" of ") + rng.pick(nouns());
    } else if (kind < 67) {
        static const auto preps = list({"in the", "on the", "to the", "through the", "under the", "after the"});
        t = rng.pick(verbs()) + QLatin1Char(' ') + rng.pick(preps) + QLatin1Char(' ') + rng.pick(nouns());
    } else if (kind < 77) {
        static const auto starts = list({"I Remember the", "Don't Leave Me in the", "Take Me Back to the",
                                         "Nobody Knows the", "Meet Me at the", "Goodbye,", "Hello Again,"});
        t = rng.pick(starts) + QLatin1Char(' ') + rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns());
    } else if (kind < 85) {
        t = rng.pick(nouns()) + QStringLiteral(" & ") + rng.pick(nouns());
    } else if (kind < 92) {
        static const auto tails = list({" (Live)", " (Demo)", " (Single Version)", " (Remastered)", " - Reprise",
                                        " (Instrumental)", " (Extended Mix)", ", Pt. 2"});
        t = rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns()) + rng.pick(tails);
    } else {
        // Long titles: suites, medleys and movements fill most of the 73 characters.
        t = rng.pick(nouns()) + QStringLiteral(" Suite: ") + rng.pick(verbs()) + QStringLiteral(" Through the ") +
            rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns()) + QStringLiteral(" / ") + rng.pick(nouns());
    }
    return t;
}

QString albumTitle(Rng& rng, const Artist& artist) {
    const int kind = rng.below(100);
    if (kind < 30) return rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns());
    if (kind < 45) return rng.pick(nouns());
    if (kind < 55) return QStringLiteral("Live at ") + rng.pick(places());
    if (kind < 62) return QStringLiteral("Greatest Hits %1-%2").arg(artist.firstYear).arg(artist.firstYear + rng.between(5, 20));
    if (kind < 72) return songTitle(rng);
    if (kind < 80)
        return QStringLiteral("The %1 Sessions, Vol. %2").arg(rng.pick(nouns())).arg(rng.between(1, 4));
    if (kind < 90) return rng.pick(verbs()) + QStringLiteral(" on ") + rng.pick(nouns()) + QStringLiteral(" Street");
    return rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns()) + QStringLiteral(": The Complete ") +
           rng.pick(nouns()) + QStringLiteral(" Recordings (Deluxe Edition)");
}

int digitSum(int n) {
    int s = 0;
    for (; n > 0; n /= 10) s += n % 10;
    return s;
}

// The CD database disc ID: a checksum of the track start times, the playing time and the
// number of tracks, from the lengths as a drive would report them (two seconds of lead-in).
std::uint32_t discId(const std::vector<int>& secs) {
    int checksum = 0;
    int start = 2;
    for (int s : secs) {
        checksum += digitSum(start);
        start += s;
    }
    const int total = start - 2;
    return (std::uint32_t(checksum % 0xFF) << 24) | (std::uint32_t(total & 0xFFFF) << 8) | std::uint32_t(secs.size());
}

struct Track {
    QString title;
    int secs = 0;
    QString artist;  // on a compilation
};

struct Album {
    QString id, artist, title, genre, year, ix, label, media, notes;
    std::vector<Track> tracks;
    bool various = false;
};

class Writer {
public:
    Writer(TDM& dm) : dm_(dm) {}

    Status open() {
        for (Cursor* c : {&dm_.tblAlbums, &dm_.tblCD, &dm_.tblArtists, &dm_.tblPlayList}) {
            // Entry order: the generator never reads back, and an order would only add seeks.
            ALB_TRY(c->setOrder(QString()));
            ALB_TRY(c->open());
        }
        Cursor& a = dm_.tblAlbums;
        for (const char* f : {"Album", "Artist", "IX", "Genre", "YR", "ID", "Label", "Media", "Notes"})
            albumField_.push_back(a.fieldIndex(QString::fromLatin1(f)));
        for (const char* f : {"ID", "NR", "Track", "Secs"}) trackField_.push_back(dm_.tblCD.fieldIndex(QString::fromLatin1(f)));
        for (const char* f : {"ID", "NR", "Artist"}) artistField_.push_back(dm_.tblArtists.fieldIndex(QString::fromLatin1(f)));
        for (const char* f : {"ID", "NR"}) playlistField_.push_back(dm_.tblPlayList.fieldIndex(QString::fromLatin1(f)));
        for (const auto* v : {&albumField_, &trackField_, &artistField_, &playlistField_})
            for (int i : *v)
                if (i < 0) return Status(ErrorKind::NotFound, QStringLiteral("A collection table lacks a field"));
        return {};
    }

    Status album(const Album& al) {
        Cursor& a = dm_.tblAlbums;
        ALB_TRY(a.append());
        const QString* values[] = {&al.title, &al.artist, &al.ix, &al.genre, &al.year, &al.id, &al.label, &al.media, &al.notes};
        for (size_t i = 0; i < albumField_.size(); ++i)
            if (!values[i]->isEmpty()) ALB_TRY(a.setText(albumField_[i], *values[i]));
        ALB_TRY(a.post());

        Cursor& t = dm_.tblCD;
        for (size_t i = 0; i < al.tracks.size(); ++i) {
            const Track& tr = al.tracks[i];
            ALB_TRY(t.append());
            ALB_TRY(t.setText(trackField_[0], al.id));
            ALB_TRY(t.setText(trackField_[1], TDM::PadNumber(qint64(i + 1), 3)));
            ALB_TRY(t.setText(trackField_[2], tr.artist.isEmpty() ? tr.title : tr.artist + QStringLiteral(" / ") + tr.title));
            ALB_TRY(t.setText(trackField_[3], QString::number(tr.secs)));
            ALB_TRY(t.post());
        }
        return {};
    }

    Status artistRow(const QString& id, const QString& nr, const QString& name) {
        Cursor& c = dm_.tblArtists;
        ALB_TRY(c.append());
        ALB_TRY(c.setText(artistField_[0], id));
        if (!nr.isEmpty()) ALB_TRY(c.setText(artistField_[1], nr));
        ALB_TRY(c.setText(artistField_[2], name));
        return c.post();
    }

    Status mark(const QString& id, const QString& nr) {
        Cursor& c = dm_.tblPlayList;
        ALB_TRY(c.append());
        ALB_TRY(c.setText(playlistField_[0], id));
        ALB_TRY(c.setText(playlistField_[1], nr));
        return c.post();
    }

private:
    TDM& dm_;
    std::vector<int> albumField_, trackField_, artistField_, playlistField_;
};

QString notesFor(Rng& rng, const Album& al) {
    static const auto cents = list({"00", "50", "99", "95"});
    static const auto instruments = list({"bass", "drums", "piano", "guitar", "cello", "saxophone"});
    QStringList lines;
    for (int n = rng.chance(0.85) ? rng.between(1, 3) : 0; n > 0; --n) lines << rng.pick(noteLines());
    if (rng.chance(0.30))
        notes::SetAmount(lines, notes::AmountKind::Cost,
                                QStringLiteral("%1.%2").arg(rng.between(3, 39)).arg(rng.pick(cents)));
    if (rng.chance(0.18)) notes::SetAmount(lines, notes::AmountKind::Value, QString::number(rng.between(5, 120)));
    if (rng.chance(0.25)) {
        // Extended disc texts as CD database records carry them, sometimes over several lines.
        const QString live = QStringLiteral("Live at ");
        const QString place = al.title.startsWith(live) ? al.title.mid(live.size()) : rng.pick(places());
        QString text = QStringLiteral("Recorded at %1 in %2. ").arg(place, al.year.isEmpty() ? QStringLiteral("1979") : al.year);
        for (int n = rng.between(0, 6); n > 0; --n)
            text += QStringLiteral("%1 %2 plays %3. ").arg(rng.pick(firstNames()), rng.pick(lastNames()),
                                                           rng.pick(instruments));
        notes::AddTaggedLine(lines, notes::kExtd, text.trimmed());
        if (rng.chance(0.3)) notes::AddTaggedLine(lines, notes::kExtd, QStringLiteral("\\nProduced by ") + rng.pick(firstNames()) + QLatin1Char(' ') + rng.pick(lastNames()));
    }
    if (rng.chance(0.10)) {
        for (int n = rng.between(1, 4); n > 0; --n) {
            const int index = rng.below(int(al.tracks.size()));
            notes::AddTaggedLine(lines, notes::kExtt + QString::number(index) + QLatin1Char('='),
                                        QStringLiteral("Written by %1 %2").arg(rng.pick(firstNames()), rng.pick(lastNames())));
        }
    }
    return notes::JoinLines(lines);
}

}  // namespace

QStringList CollectionFiles(const QString& folder) {
    QStringList out;
    QDir dir(folder);
    for (const QString& f : dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        const QString ext = QFileInfo(f).suffix().toUpper();
        if (ext == QLatin1String("DBF") || ext == QLatin1String("FPT") || ext == QLatin1String("CDX")) out << dir.filePath(f);
    }
    return out;
}

Result<GeneratorStats> GenerateCollection(const QString& folder, const GeneratorOptions& options) {
    if (options.albums < 0) return Status(ErrorKind::InvalidArgument, QStringLiteral("The number of albums is negative"));
    if (!QDir().mkpath(folder)) return Status(ErrorKind::IoError, QStringLiteral("Cannot create %1").arg(folder), folder);
    for (const char* f : {"ALBUMS.DBF", "TRACKS.DBF", "ARTISTS.DBF", "PLAYLIST.DBF"})
        if (store::fileExists(store::resolveCaseInsensitive(QDir(folder).filePath(QString::fromLatin1(f)))))
            return Status(ErrorKind::InvalidArgument,
                          QStringLiteral("%1 already holds a collection (%2); choose an empty folder").arg(folder, QString::fromLatin1(f)),
                          folder);

    auto say = [&](const QString& s) {
        if (options.progress) options.progress(s);
    };
    QElapsedTimer total;
    total.start();
    GeneratorStats stats;
    TDM dm(folder);
    if (options.tagsAfterRows) {
        const std::pair<const char*, QString> defs[] = {{"ALBUMS.DBF", TDM::kAlbumsFields},
                                                        {"TRACKS.DBF", TDM::kTracksFields},
                                                        {"ARTISTS.DBF", TDM::kArtistsFields},
                                                        {"PLAYLIST.DBF", TDM::kPlaylistFields}};
        for (const auto& [file, fields] : defs) {
            ALB_ASSIGN_OR_RETURN(auto parsed, store::parseFieldList(fields));
            ALB_TRY(store::Table::create(dm.tablePath(QString::fromLatin1(file)), parsed));
        }
    } else {
        ALB_TRY(dm.EnsureCollectionFiles());
    }

    Rng rng(options.seed);
    // About one artist for every five albums, picked with a long tail: a few artists have dozens
    // of albums, most have a few.
    std::vector<Artist> artists;
    {
        std::set<QString> seen;
        const int want = std::max(40, options.albums / 5);
        for (int tries = 0; int(artists.size()) < want && tries < want * 20; ++tries) {
            Artist a;
            a.name = artistName(rng);
            if (!seen.insert(a.name.toUpper()).second) continue;
            a.genre = QString::fromLatin1(pickGenre(rng));
            a.firstYear = rng.between(1955, 2018);
            artists.push_back(std::move(a));
        }
    }
    auto popularArtist = [&]() -> const Artist& {
        return artists[size_t(std::min<double>(double(artists.size() - 1), std::floor(double(artists.size()) * std::pow(rng.unit(), 1.5))))];
    };

    Writer w(dm);
    ALB_TRY(w.open());
    QElapsedTimer rowsTimer;
    rowsTimer.start();
    std::set<std::uint32_t> ids;
    int localSerial = 0;
    int ixSerial = 0;
    for (int n = 0; n < options.albums; ++n) {
        Album al;
        al.various = rng.chance(0.10);
        const Artist* artist = al.various ? nullptr : &popularArtist();
        const int count = rng.between(8, 20);
        const bool classical = artist && artist->genre == QLatin1String("classical");
        std::vector<int> secs;
        for (int i = 0; i < count; ++i) {
            Track t;
            t.secs = classical && rng.chance(0.4) ? rng.between(300, 1500) : rng.between(95, 420);
            if (al.various) {
                t.artist = popularArtist().name;
                t.title = songTitle(rng);
            } else {
                t.title = songTitle(rng);
            }
            secs.push_back(t.secs);
            al.tracks.push_back(std::move(t));
        }
        if (al.various) {
            al.artist = QStringLiteral("Various Artists");
            al.genre = QString::fromLatin1(pickGenre(rng));
            const int kind = rng.below(4);
            if (kind == 2) al.genre = QStringLiteral("soundtrack");
            const QString genreWord = al.genre.left(1).toUpper() + al.genre.mid(1);
            al.title = kind == 0   ? QStringLiteral("Best of %1 %2").arg(genreWord).arg(rng.between(1965, 2020))
                       : kind == 1 ? QStringLiteral("%1 Hits, Vol. %2").arg(rng.pick(nouns())).arg(rng.between(1, 30))
                       : kind == 2 ? QStringLiteral("Music from the Film \"%1\"").arg(songTitle(rng))
                                   : rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns()) + QStringLiteral(" Compilation");
            al.year = QString::number(rng.between(1965, 2023));
        } else {
            al.artist = artist->name;
            al.genre = rng.chance(0.85) ? artist->genre : QString::fromLatin1(pickGenre(rng));
            al.title = albumTitle(rng, *artist);
            al.year = QString::number(std::min(2024, artist->firstYear + rng.below(25)));
        }
        if (rng.chance(0.05)) al.year.clear();
        if (rng.chance(0.06)) {
            al.id = QStringLiteral("z%1").arg(++localSerial, 7, 10, QLatin1Char('0'));
            ++stats.localIds;
        } else {
            // Two discs may share a disc ID; within one collection a lengthened last track keeps
            // them apart, as a re-read often does.
            std::uint32_t id = discId(secs);
            while (!ids.insert(id).second) {
                ++al.tracks.back().secs;
                ++secs.back();
                id = discId(secs);
            }
            al.id = QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0'));
        }
        if (rng.chance(0.65)) al.ix = QStringLiteral("%1").arg(++ixSerial, 6);
        const int labelKind = rng.below(100);
        if (labelKind < 60) al.label = rng.pick(labels());
        else if (labelKind < 78) al.label = rng.pick(shelves());
        al.media = QString::fromLatin1(pickMedia(rng));
        if (rng.chance(0.75)) al.notes = notesFor(rng, al);
        if (!al.notes.isEmpty()) ++stats.albumsWithNotes;

        ALB_TRY(w.album(al));
        ++stats.albums;
        stats.tracks += std::int64_t(al.tracks.size());
        if (al.various) {
            ++stats.multiArtistAlbums;
            for (size_t i = 0; i < al.tracks.size(); ++i) {
                ALB_TRY(w.artistRow(al.id, TDM::PadNumber(qint64(i + 1), 3), al.tracks[i].artist));
                ++stats.artistRows;
            }
        } else {
            ALB_TRY(w.artistRow(al.id, QString(), al.artist));
            ++stats.artistRows;
        }
        if (rng.chance(0.04)) {
            std::set<int> marked;
            for (int k = rng.between(1, 5); k > 0; --k) marked.insert(rng.between(1, int(al.tracks.size())));
            for (int nr : marked) {
                ALB_TRY(w.mark(al.id, TDM::PadNumber(nr, 3)));
                ++stats.playlistRows;
            }
        }
        if ((n + 1) % 5000 == 0) say(QStringLiteral("%1 albums written").arg(n + 1));
    }
    ALB_TRY(dm.FlushCollection());
    dm.CloseAll();
    stats.rowSeconds = double(rowsTimer.nsecsElapsed()) / 1e9;

    if (options.tagsAfterRows) {
        QElapsedTimer tagsTimer;
        tagsTimer.start();
        ALB_TRY(dm.EnsureCollectionFiles([&](const QString& s) {
            if (!s.isEmpty()) say(s);
        }));
        stats.tagSeconds = double(tagsTimer.nsecsElapsed()) / 1e9;
    }
    stats.totalSeconds = double(total.nsecsElapsed()) / 1e9;
    return stats;
}

}  // namespace albumora::bench
