// The album import's parsers over real text: CD database records as the public database stored
// them (and damaged copies), M3U files of a music server's tests, the XSPF conformance cases, and
// web track lists written here in the shapes the web pages gave. Each case checks what lands in
// the pending album: rows, numbers, times, titles, artist, album fields, and the messages.
#include "DMcd.h"
#include "ImportParsers.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

using namespace albumora;
using namespace albumora::disc;
using albumora::test::TempFolder;
using editing::TrackRow;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList L(const char* text) { return S(text).split(QLatin1Char('\n')); }

// A pending album with something in every field, so that a test sees what a parser changed.
PendingAlbum album(EditMode mode, int rows = 0) {
    PendingAlbum a;
    a.mode = mode;
    a.artist = S("Old Artist");
    a.title = S("Old Title");
    a.genre = S("oldgenre");
    a.year = S("1900");
    a.rev = S("5");
    a.sys = QLatin1Char('Z');
    a.albumId = mode == EditMode::Modify ? S("z0000007") : QString();
    for (int k = 1; k <= rows; ++k)
        a.tracks.push_back({store::TDM::PadNumber(k, 3), S(" 3:00"), S("Track ") + QString::number(k)});
    return a;
}

bool sameAlbum(const PendingAlbum& a, const PendingAlbum& b) {
    if (a.tracks.size() != b.tracks.size()) return false;
    for (size_t k = 0; k < a.tracks.size(); ++k)
        if (a.tracks[k].number != b.tracks[k].number || a.tracks[k].time != b.tracks[k].time ||
            a.tracks[k].title != b.tracks[k].title)
            return false;
    return a.mode == b.mode && a.artist == b.artist && a.title == b.title && a.genre == b.genre && a.year == b.year &&
           a.media == b.media && a.notes == b.notes && a.rev == b.rev && a.sys == b.sys && a.albumId == b.albumId &&
           a.discLength == b.discLength && a.selectArtist == b.selectArtist;
}

QStringList column(const PendingAlbum& a, int which) {
    QStringList out;
    for (const TrackRow& r : a.tracks) out << (which == 0 ? r.number : which == 1 ? r.time : r.title);
    return out;
}

QString testFile(const QString& relative) { return test::sharedTestData() + QLatin1Char('/') + relative; }

QStringList fileLines(const QString& relative) {
    const TextFile f = ReadTextFile(testFile(relative));
    EXPECT_TRUE(f.error.isEmpty()) << f.error.toStdString();
    return f.lines;
}

QString writeFile(const TempFolder& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.file(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return QFileInfo(f).absoluteFilePath();
}

AlbumExists noAlbums() {
    return [](const QString&) { return store::Result<bool>(false); };
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The clipboard text

TEST(PastedText, SplitsAtEveryKindOfLineBreak) {
    struct Case {
        const char* text;
        QStringList lines;
    } cases[] = {
        {"", {}},
        {"one line", {"one line"}},
        {"one line\n", {"one line"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\n", {""}},
    };
    for (const Case& c : cases) {
        const auto lines = SplitPastedText(S(c.text));
        ASSERT_TRUE(lines.has_value()) << c.text;
        EXPECT_EQ(*lines, c.lines) << QString(S(c.text)).replace(QLatin1Char('\r'), QLatin1String("\\r")).toStdString();
    }
}

TEST(PastedText, AHundredMegabyteClipboardIsRefusedAtOnce) {
    QElapsedTimer clock;
    clock.start();
    const QString huge(100 * 1000 * 1000, QLatin1Char('x'));
    EXPECT_FALSE(SplitPastedText(huge).has_value());
    EXPECT_TRUE(SplitPastedText(QString(kMaxImportChars, QLatin1Char('x'))).has_value());
    EXPECT_FALSE(SplitPastedText(QString(kMaxImportChars + 1, QLatin1Char('x'))).has_value());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(TooMuchTextMessage(huge.size()).contains(QStringLiteral("100000000")));
}

// ---------------------------------------------------------------------------------------------
// Numbered and unnumbered lists

TEST(NumberedList, TrackLines) {
    struct Case {
        const char* line;
        int track;  // 0: no row is written
        const char* title;
    } cases[] = {
        {"12. Title", 12, "Title"},
        {"1 Title", 1, "Title"},
        {"   7)  Seven Seas  ", 7, "Seven Seas"},
        {"07 Leading Zero", 7, "Leading Zero"},
        {"123 Three Digits", 123, "Three Digits"},
        {"999-Last", 999, "Last"},
        {"1-2 Hyphen", 1, "2 Hyphen"},
        {"3\tTabbed", 3, "Tabbed"},
        {"4)x", 4, "x"},
    };
    for (const Case& c : cases) {
        PendingAlbum a = album(EditMode::NewAlbum, 2);
        const ParseResult r = ParseNumberedList({S(c.line)}, a);
        EXPECT_TRUE(r.errors.isEmpty()) << c.line;
        ASSERT_EQ(a.tracks.size(), size_t(c.track)) << c.line;
        const TrackRow& row = a.tracks.back();
        EXPECT_EQ(row.number, QStringLiteral("%1").arg(c.track, 2, 10, QLatin1Char('0'))) << c.line;
        EXPECT_EQ(row.time, QString()) << c.line;
        EXPECT_EQ(row.title, S(c.title)) << c.line;
        EXPECT_EQ(a.artist, S("Various"));
        EXPECT_TRUE(a.selectArtist);
    }
}

TEST(NumberedList, LinesThatAreNoTracks) {
    for (const char* line : {"1234 Title", "123", "12", "a1 Title", "Title 1", "", "   ", "2005 release"}) {
        PendingAlbum a = album(EditMode::NewAlbum, 3);
        const ParseResult r = ParseNumberedList({S(line)}, a);
        EXPECT_EQ(r.errors, QStringList{importmsg::kNoNumberedTracks}) << line;
        EXPECT_FALSE(r.refused);
        // The grid was reset; the artist stays as it was.
        EXPECT_TRUE(a.tracks.empty()) << line;
        EXPECT_EQ(a.artist, S("Old Artist"));
        EXPECT_FALSE(a.selectArtist);
    }
}

TEST(NumberedList, ZeroIsATrackLineButRowZeroIsTheTitleRow) {
    PendingAlbum a = album(EditMode::NewAlbum);
    const ParseResult r = ParseNumberedList(L("0 Hidden intro"), a);
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_TRUE(a.tracks.empty());
    EXPECT_EQ(a.artist, S("Various"));
}

TEST(NumberedList, AWholePageInEachMode) {
    const QStringList page = L("Tracklist\n"
                               "1. Morning Light\n"
                               "2. Harbour Song (live)\n"
                               "Bonus:\n"
                               "3) Evening  \n"
                               "Released 2004 on Cold Spring\n"
                               "\n"
                               "5 The Fifth\n");
    {
        PendingAlbum a = album(EditMode::NewAlbum, 9);
        ParseNumberedList(page, a);
        EXPECT_EQ(column(a, 0), (QStringList{"01", "02", "03", "", "05"}));
        EXPECT_EQ(column(a, 1), (QStringList{"", "", "", "", ""}));
        EXPECT_EQ(column(a, 2), (QStringList{"Morning Light", "Harbour Song (live)", "Evening", "", "The Fifth"}));
        EXPECT_EQ(a.artist, S("Various"));
        EXPECT_EQ(a.title, S("Old Title"));
    }
    {
        // The disc's rows: only titles change, and a number beyond the disc is left out.
        PendingAlbum a = album(EditMode::AddCd, 4);
        ParseNumberedList(page, a);
        EXPECT_EQ(column(a, 0), (QStringList{"  1", "  2", "  3", "  4"}));
        EXPECT_EQ(column(a, 1), (QStringList{" 3:00", " 3:00", " 3:00", " 3:00"}));
        EXPECT_EQ(column(a, 2), (QStringList{"Morning Light", "Harbour Song (live)", "Evening", "Track 4"}));
        EXPECT_EQ(a.artist, S("Various"));
    }
    {
        PendingAlbum a = album(EditMode::Modify, 2);
        ParseNumberedList(page, a);
        EXPECT_EQ(column(a, 2), (QStringList{"Morning Light", "Harbour Song (live)"}));
        EXPECT_EQ(a.artist, S("Old Artist"));
        EXPECT_FALSE(a.selectArtist);
    }
}

TEST(NumberedList, TheGridFollowsTheLastNumberInModeTwo) {
    PendingAlbum a = album(EditMode::NewAlbum);
    ParseNumberedList(L("1 One\n2 Two\n3 Three\n2 Again"), a);
    EXPECT_EQ(column(a, 2), (QStringList{"One", "Again"}));
}

TEST(UnnumberedList, EveryLineWithTextIsTheNextTrack) {
    PendingAlbum a = album(EditMode::NewAlbum, 5);
    const ParseResult r = ParseUnnumberedList(L("  Morning Light\n\n \t \nHarbour Song\r\n3 Already Numbered"), a);
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_EQ(column(a, 0), (QStringList{"01", "02", "03"}));
    EXPECT_EQ(column(a, 2), (QStringList{"Morning Light", "Harbour Song", "3 Already Numbered"}));
    EXPECT_EQ(a.artist, S("Various"));

    PendingAlbum disc = album(EditMode::AddCd, 2);
    ParseUnnumberedList(L("A\nB\nC\nD"), disc);
    EXPECT_EQ(column(disc, 2), (QStringList{"A", "B"}));
    EXPECT_EQ(column(disc, 1), (QStringList{" 3:00", " 3:00"}));
}

TEST(UnnumberedList, NoLineWithText) {
    PendingAlbum a = album(EditMode::NewAlbum, 2);
    const ParseResult r = ParseUnnumberedList(L("\n   \n\t"), a);
    EXPECT_EQ(r.errors, QStringList{importmsg::kNoTracks});
    EXPECT_TRUE(a.tracks.empty());
    EXPECT_EQ(a.artist, S("Old Artist"));
}

TEST(UnnumberedList, MoreTracksThanAnAlbumHoldsChangeNothing) {
    QStringList lines;
    for (int k = 0; k < 1000; ++k) lines << QStringLiteral("Song %1").arg(k);
    PendingAlbum a = album(EditMode::NewAlbum, 2);
    const PendingAlbum before = a;
    const ParseResult r = ParseUnnumberedList(lines, a);
    EXPECT_TRUE(r.refused);
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors[0].contains(QStringLiteral("999")));
    EXPECT_TRUE(sameAlbum(a, before));
    lines.removeLast();
    EXPECT_FALSE(ParseUnnumberedList(lines, a).refused);
    EXPECT_EQ(a.tracks.size(), 999u);
    EXPECT_EQ(a.tracks.back().number, S("999"));
}

// ---------------------------------------------------------------------------------------------
// Web track lists

TEST(WebTrackList, OneLineEach) {
    struct Case {
        const char* line;
        bool amazon;
        int track;  // 0: not a track line
        const char* title;
        const char* time;  // collected in mode 2; "" when the line switched times off
    } cases[] = {
        {"3 Song Name 4:05", false, 3, "Song Name", " 4:05"},
        {"1 Song - 12:30", false, 1, "Song", "12:30"},
        {"12 Long One 123:45", false, 12, "Long One", "123:45"},
        {"2 Song performed by A/B 3:00", false, 2, "Song / A,B", " 3:00"},
        {"4 [*] Song  Composer Name 2:10", false, 4, "Song", " 2:10"},
        {"5 [#] Other Song 2:11", false, 5, "Other Song", " 2:11"},
        {"6 AMG Pick Song 3:33", false, 6, "Song", " 3:33"},
        {"7 Listen Now!  Song Title 4:44", false, 7, "Song Title", " 4:44"},
        {"8 Song\tComposer 3:00", false, 8, "Song", " 3:00"},
        {"9 Song, 0:59", false, 9, "Song", " 0:59"},
        {"10 No Time Here", false, 10, "No Time Here", ""},
        {"11 Bad 1:2x", false, 11, "Bad 1:2x", ""},
        {"12 1:00", false, 12, "1:00", ""},
        {"1. Song Name 3:45 $0.99", true, 1, "Song Name", " 3:45"},
        {"listen 2. Other Song 10:01 $1.29", true, 2, "Other Song", "10:01"},
        {"3. [*] Kept 2:00 $0.99", true, 3, "[*] Kept", " 2:00"},
        {"4. Free Song 1:11", true, 4, "Free Song", " 1:11"},
        {"5. Dollar$", true, 5, "Dolla", ""},
    };
    for (const Case& c : cases) {
        PendingAlbum a = album(EditMode::NewAlbum, 30);
        const ParseResult r = ParseWebTrackList({S(c.line)}, a, c.amazon, false);
        EXPECT_TRUE(r.errors.isEmpty());
        ASSERT_EQ(a.tracks.size(), size_t(c.track)) << c.line;
        EXPECT_EQ(a.tracks.back().number, QStringLiteral("%1").arg(c.track, 2, 10, QLatin1Char('0'))) << c.line;
        EXPECT_EQ(a.tracks.back().title, S(c.title)) << c.line;
        // Times go to the rows in the order they were collected, whatever the track numbers.
        EXPECT_EQ(a.tracks.front().time, S(c.time)) << c.line;
        if (c.track > 1) {
            EXPECT_EQ(a.tracks.back().time, QString()) << c.line;
        }
        EXPECT_EQ(r.collected, S(c.time).isEmpty() ? QStringList() : QStringList{S(c.time)}) << c.line;
    }
}

TEST(WebTrackList, LinesThatAreNoTracks) {
    for (const char* line : {"0 Intro 1:00", "1234 Song 3:00", "12345 x", "1a Song 3:00", "Song 3:00", "A 1 x", "1 ",
                             "1Song 3:00", "9"}) {
        PendingAlbum a = album(EditMode::NewAlbum, 4);
        const ParseResult r = ParseWebTrackList({S(line)}, a, false, false);
        EXPECT_TRUE(r.errors.isEmpty()) << line;
        EXPECT_TRUE(a.tracks.empty()) << line;
        // Artist "Various" all the same: the list is taken as a multi-artist one.
        EXPECT_EQ(a.artist, S("Various")) << line;
    }
}

TEST(WebTrackList, AllMusicGuidePage) {
    const QStringList page = L("Track Listing\n"
                               "Title  Composer  Time\n"
                               "1 AMG Pick Morning Light  Anna Berg  4:05\n"
                               "2 [*] Harbour Song performed by Kestrel/Duke  3:12\n"
                               "3 Listen Now!  Evening Tide   Berg, Strand   12:30\n"
                               "4 Night Train 0:59\n"
                               "Contains 4 songs\n");
    PendingAlbum a = album(EditMode::NewAlbum);
    const ParseResult r = ParseWebTrackList(page, a, false, false);
    EXPECT_EQ(column(a, 0), (QStringList{"01", "02", "03", "04"}));
    EXPECT_EQ(column(a, 2), (QStringList{"Morning Light", "Harbour Song / Kestrel,Duke", "Evening Tide", "Night Train"}));
    EXPECT_EQ(column(a, 1), (QStringList{" 4:05", " 3:12", "12:30", " 0:59"}));
    EXPECT_EQ(r.collected, (QStringList{" 4:05", " 3:12", "12:30", " 0:59"}));
    EXPECT_EQ(a.artist, S("Various"));
    EXPECT_TRUE(a.selectArtist);
}

TEST(WebTrackList, AmazonPage) {
    const QStringList page = L("Song Title  Time  Price\n"
                               "listen 1. Morning Light 4:05 $0.99\n"
                               "listen 2. Harbour Song 3:12 $0.99\n"
                               "3. Evening Tide 12:30 Album Only\n"
                               "Customers also bought\n");
    PendingAlbum a = album(EditMode::NewAlbum);
    ParseWebTrackList(page, a, true, false);
    EXPECT_EQ(column(a, 2), (QStringList{"Morning Light", "Harbour Song", "Evening Tide 12:30 Album Only"}));
    // The third line ends without a time, so no time of the page is kept.
    EXPECT_EQ(column(a, 1), (QStringList{"", "", ""}));
}

TEST(WebTrackList, OneLineWithoutATimeEmptiesEveryTimeButTheDiscs) {
    const QStringList page = L("1 First 3:00\n2 Second\n3 Third 4:00");
    for (EditMode mode : {EditMode::NewAlbum, EditMode::AddCd, EditMode::Modify}) {
        PendingAlbum a = album(mode, 3);
        ParseWebTrackList(page, a, false, true);
        // The times of the disc in the drive come from its table of contents and stay.
        const QStringList times = mode == EditMode::AddCd ? QStringList{" 3:00", " 3:00", " 3:00"} : QStringList{"", "", ""};
        EXPECT_EQ(column(a, 1), times) << int(mode);
        EXPECT_EQ(column(a, 2), (QStringList{"First", "Second", "Third"})) << int(mode);
    }
}

TEST(WebTrackList, TimesAreKeptOnlyForANewAlbum) {
    const QStringList page = L("1 First 3:01\n2 Second 4:02");
    for (const bool noTime : {false, true}) {
        PendingAlbum a = album(EditMode::NewAlbum);
        ParseWebTrackList(page, a, false, noTime);
        EXPECT_EQ(column(a, 1), (QStringList{" 3:01", " 4:02"}));

        // The disc's rows and a stored album's rows get their titles; the times the page gives
        // are collected only for a new album. The disc keeps the times it was read with; a
        // stored album's are emptied (its save changes only titles).
        PendingAlbum disc = album(EditMode::AddCd, 3);
        ParseWebTrackList(page, disc, false, noTime);
        EXPECT_EQ(column(disc, 2), (QStringList{"First", "Second", "Track 3"}));
        EXPECT_EQ(column(disc, 1), (QStringList{" 3:00", " 3:00", " 3:00"}));
        EXPECT_EQ(column(disc, 0), (QStringList{"  1", "  2", "  3"}));
        EXPECT_EQ(disc.artist, S("Various"));

        PendingAlbum stored = album(EditMode::Modify, 2);
        const ParseResult r = ParseWebTrackList(page, stored, false, noTime);
        EXPECT_EQ(column(stored, 1), (QStringList{"", ""}));
        EXPECT_TRUE(r.collected.isEmpty());
        EXPECT_EQ(stored.artist, S("Old Artist"));
    }
}

// ---------------------------------------------------------------------------------------------
// CD database records

TEST(XmcdRecord, EveryStoredRecord) {
    SKIP_WITHOUT_TESTDATA();
    const QDir dir(testFile(QStringLiteral("xmcd")));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 11);
    for (const QString& name : files) {
        const QStringList lines = fileLines(QStringLiteral("xmcd/") + name);
        PendingAlbum a = album(EditMode::NewAlbum);
        QStringList asked;
        const XmcdResult r = ParseXmcdRecord(lines, a, [&](const QString& id) {
            asked << id;
            return store::Result<bool>(false);
        });
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(r.errors.isEmpty()) << r.errors.join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(r.refused);
        // Each file is named by its disc ID.
        ASSERT_TRUE(r.discId.has_value());
        EXPECT_EQ(*r.discId, name);
        EXPECT_EQ(asked, QStringList{name});
        EXPECT_EQ(a.mode, EditMode::AddCd);
        EXPECT_EQ(a.albumId, name);
        ASSERT_TRUE(r.discLength.has_value());
        EXPECT_EQ(a.discLength, *r.discLength);

        // One row per track number, numbered from 01; the grid ends at the last number.
        int lastNumber = -1;
        for (const QString& l : lines)
            if (l.startsWith(QLatin1String("TTITLE"))) lastNumber = l.mid(6, l.indexOf(QLatin1Char('=')) - 6).toInt();
        ASSERT_EQ(a.tracks.size(), size_t(lastNumber + 1));
        // The times add up to the disc length less 2 seconds a track.
        int sum = 0;
        for (size_t k = 0; k < a.tracks.size(); ++k) {
            EXPECT_EQ(a.tracks[k].number, QStringLiteral("%1").arg(k + 1, 2, 10, QLatin1Char('0')));
            const QStringList ms = a.tracks[k].time.trimmed().split(QLatin1Char(':'));
            ASSERT_EQ(ms.size(), 2) << a.tracks[k].time.toStdString();
            sum += ms[0].toInt() * 60 + ms[1].toInt();
            EXPECT_FALSE(a.tracks[k].title.isEmpty());
        }
        EXPECT_EQ(sum, *r.discLength - 2 * int(a.tracks.size()));
        EXPECT_TRUE(a.genre != S("oldgenre"));
        EXPECT_TRUE(a.rev != S("5"));
    }
}

TEST(XmcdRecord, FieldsOfSomeRecords) {
    SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char* file;
        const char* artist;
        const char* title;
        const char* genre;
        const char* year;
        const char* rev;
        int discLength;
        std::vector<std::pair<int, const char*>> titles;  // row (from 1), title
        std::vector<std::pair<int, const char*>> times;
    } cases[] = {
        {"c00ccd0d", "Adele", "21", "Pop", "2011", "0", 3279,
         {{1, "Rolling In The Deep"}, {4, "Don't You Remember"}, {13, "Hiding My Heart"}},
         {{1, " 3:47"}, {9, " 5:46"}, {12, " 3:06"}, {13, " 3:30"}}},
        // Titles continued on a second line keep the first line's text.
        {"6f0c6509", "Beethoven", "Beethoven Piano Sonatas", "Classical", "1998", "2", 3175,
         {{1, "Sonata No. 14 in C-sharp Minor, Op. 27, No. 2 Moonlight - I. A"},
          {4, "Sonata No. 8 in C Minor, Op. 13 Pathetique - I. Grove; Allegro"},
          {7, "Sonata No. 23 in F Minor, Op. 57 Appassionata - I. Allegro ass"},
          {9, "III. Allegro ma non troppo; Presto"}},
         {{1, " 5:17"}, {2, " 2:00"}, {9, " 7:00"}}},
        // A disc title without "/": no artist, the whole text is the album title.
        {"12025d03", "", "Ernest Ray Everett - Single CD", "Country", "2009", "0", 607,
         {{1, "I'm Your Puppet"}, {3, "If You Don't Like Country"}},
         {{1, " 2:37"}, {2, " 4:18"}, {3, " 3:06"}}},
        // The genre as written; an empty year; a blank comment line with a trailing blank.
        {"840e160b", "Nightwish", "Once", "Symphonic Metal", "2004", "3", 3608, {{11, "Higher Than Hope"}}, {}},
        {"9c0eac0c", "Mozart", "The Classics: Mozart", "Classical", "", "4", 3758, {{12, "Symphony No. 41 in C (Jupiter), 1st Movement"}}, {}},
        // Offsets indented with tabs.
        {"8608460b", "Van Halen", "Van Halen", "Rock", "1978", "3", 2120, {{1, "Runnin' With The Devil"}}, {}},
        {"9e0e740c", "Madonna", "Ray of light", "Pop", "", "1", 3702, {{1, "Drowned world / substitue for love"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        PendingAlbum a = album(EditMode::NewAlbum);
        const XmcdResult r = ParseXmcdRecord(fileLines(QStringLiteral("xmcd/") + S(c.file)), a, noAlbums());
        EXPECT_TRUE(r.errors.isEmpty());
        EXPECT_EQ(a.artist, S(c.artist));
        EXPECT_EQ(a.title, S(c.title));
        EXPECT_EQ(a.genre, S(c.genre));
        EXPECT_EQ(a.year, S(c.year));
        EXPECT_EQ(a.rev, S(c.rev));
        EXPECT_EQ(r.discLength.value_or(-1), c.discLength);
        for (const auto& [row, title] : c.titles) EXPECT_EQ(a.tracks.at(size_t(row - 1)).title, S(title)) << row;
        for (const auto& [row, time] : c.times) EXPECT_EQ(a.tracks.at(size_t(row - 1)).time, S(time)) << row;
    }
}

TEST(XmcdRecord, DamagedCopies) {
    SKIP_WITHOUT_TESTDATA();
    {
        // A frame offset "17aaaaaaa347", and a disc length in words: nothing is taken.
        for (const char* file : {"xmcd/broken/corrupt_offset_integer.txt", "xmcd/broken/corrupt_disc_length.txt"}) {
            PendingAlbum a = album(EditMode::NewAlbum, 2);
            const PendingAlbum before = a;
            const XmcdResult r = ParseXmcdRecord(fileLines(S(file)), a, noAlbums());
            EXPECT_TRUE(r.refused) << file;
            ASSERT_EQ(r.errors.size(), 1);
            EXPECT_FALSE(r.discId.has_value());
            EXPECT_TRUE(sameAlbum(a, before)) << file;
        }
        PendingAlbum a = album(EditMode::NewAlbum);
        const XmcdResult r = ParseXmcdRecord(fileLines(S("xmcd/broken/corrupt_offset_integer.txt")), a, noAlbums());
        EXPECT_TRUE(r.errors[0].contains(QStringLiteral("line 5"))) << r.errors[0].toStdString();
        EXPECT_TRUE(r.errors[0].contains(QStringLiteral("17aaaaaaa347")));
    }
    {
        // One offset fewer than tracks: the 12th track runs to the end of the disc, the 13th has
        // no time.
        PendingAlbum a = album(EditMode::NewAlbum);
        const XmcdResult r = ParseXmcdRecord(fileLines(S("xmcd/broken/corrupt_offset_last_line_missing.txt")), a, noAlbums());
        EXPECT_TRUE(r.errors.isEmpty());
        ASSERT_EQ(a.tracks.size(), 13u);
        EXPECT_EQ(a.tracks[10].time, S(" 4:41"));
        EXPECT_EQ(a.tracks[11].time, S(" 6:38"));
        EXPECT_EQ(a.tracks[12].time, QString());
        EXPECT_EQ(a.tracks[12].title, S("Hiding My Heart"));
        EXPECT_EQ(a.artist, S("Adele"));
    }
    {
        PendingAlbum a = album(EditMode::NewAlbum);
        const XmcdResult r = ParseXmcdRecord(fileLines(S("xmcd/broken/corrupt_song_7_missing.txt")), a, noAlbums());
        EXPECT_TRUE(r.errors.isEmpty());
        ASSERT_EQ(a.tracks.size(), 13u);
        EXPECT_EQ(a.tracks[7].number, QString());
        EXPECT_EQ(a.tracks[7].title, QString());
        EXPECT_EQ(a.tracks[7].time, QString());
        EXPECT_EQ(a.tracks[8].title, S("One And Only"));
    }
}

namespace {

const char* const kRecord =
    "# xmcd\n"
    "#\n"
    "# Track frame offsets:\n"
    "#       150\n"
    "#       15150\n"
    "#       30150\n"
    "#\n"
    "# Disc length: 606 seconds\n"
    "#\n"
    "# Revision: 7\n"
    "# Submitted via: Albumora 7.0a\n"
    "#\n"
    "DISCID=1a025d03\n"
    "DTITLE=Kestrel / Silver \n"
    "DTITLE=Fields\n"
    "DYEAR=1999\n"
    "DGENRE=Folk\n"
    "TTITLE0=First\n"
    "TTITLE1=Second\n"
    "TTITLE1= continued\n"
    "TTITLE2=Third\n"
    "EXTD=notes\n"
    "PLAYORDER=\n";

QString record(const QString& from, const QString& to) { return S(kRecord).replace(from, to); }

}  // namespace

TEST(XmcdRecord, ARecordPastedForEachMode) {
    {
        PendingAlbum a = album(EditMode::NewAlbum, 5);
        const XmcdResult r = ParseXmcdRecord(L(kRecord), a, noAlbums());
        EXPECT_TRUE(r.errors.isEmpty());
        EXPECT_FALSE(r.clearText);
        EXPECT_EQ(a.artist, S("Kestrel"));
        EXPECT_EQ(a.title, S("Silver Fields"));
        EXPECT_EQ(a.genre, S("Folk"));
        EXPECT_EQ(a.year, S("1999"));
        EXPECT_EQ(a.rev, S("7"));
        EXPECT_EQ(a.mode, EditMode::AddCd);
        EXPECT_EQ(a.albumId, S("1a025d03"));
        EXPECT_EQ(column(a, 0), (QStringList{"01", "02", "03"}));
        EXPECT_EQ(column(a, 1), (QStringList{" 3:18", " 3:18", " 3:24"}));
        EXPECT_EQ(column(a, 2), (QStringList{"First", "Second", "Third"}));
    }
    {
        // The disc's rows: the grid follows the record.
        PendingAlbum a = album(EditMode::AddCd, 2);
        ParseXmcdRecord(L(kRecord), a, noAlbums());
        EXPECT_EQ(a.tracks.size(), 3u);
        EXPECT_EQ(a.artist, S("Kestrel"));
    }
    {
        // Updating a stored album: titles and numbers of its rows, nothing else.
        PendingAlbum a = album(EditMode::Modify, 2);
        bool asked = false;
        const XmcdResult r = ParseXmcdRecord(L(kRecord), a, [&](const QString&) {
            asked = true;
            return store::Result<bool>(true);
        });
        EXPECT_FALSE(asked);
        EXPECT_FALSE(r.duplicate);
        EXPECT_TRUE(r.errors.isEmpty());
        EXPECT_EQ(a.mode, EditMode::Modify);
        EXPECT_EQ(a.albumId, S("z0000007"));
        EXPECT_EQ(a.artist, S("Old Artist"));
        EXPECT_EQ(a.title, S("Old Title"));
        EXPECT_EQ(a.genre, S("oldgenre"));
        EXPECT_EQ(a.year, S("1900"));
        EXPECT_EQ(a.rev, S("5"));
        EXPECT_EQ(column(a, 0), (QStringList{"01", "02"}));
        EXPECT_EQ(column(a, 1), (QStringList{" 3:00", " 3:00"}));
        EXPECT_EQ(column(a, 2), (QStringList{"First", "Second"}));
        EXPECT_EQ(r.discId.value_or(QString()), S("1a025d03"));
    }
}

TEST(XmcdRecord, RecordsThatAreNotWholeAreInvalid) {
    struct Case {
        const char* what;
        QString text;
    } cases[] = {
        {"no DTITLE line", record(S("DTITLE=Kestrel / Silver \nDTITLE=Fields\n"), QString())},
        {"an empty disc title", record(S("DTITLE=Kestrel / Silver \nDTITLE=Fields\n"), S("DTITLE=\n"))},
        {"no offsets heading", record(S("Track frame offsets"), S("Track offsets"))},
        {"no disc length", record(S("Disc length:"), S("Disc size:"))},
        {"no DISCID", record(S("DISCID="), S("DISC-ID="))},
        {"DTITLE before DISCID", record(S("DISCID=1a025d03\n"), QString()) + S("DISCID=1a025d03\n")},
        {"a track list", S("1 First\n2 Second\n")},
        {"binary data", QString::fromLatin1(QByteArray("\x01\x02\xff\xfe\x00\x10 TTITLE", 13)) + S("\nTrack frame offsets\n")},
    };
    for (const Case& c : cases) {
        PendingAlbum a = album(EditMode::NewAlbum, 2);
        const XmcdResult r = ParseXmcdRecord(c.text.split(QLatin1Char('\n')), a, noAlbums());
        EXPECT_EQ(r.errors, QStringList{importmsg::kInvalidXcmd}) << c.what;
        EXPECT_TRUE(r.clearText) << c.what;
        EXPECT_FALSE(r.refused) << c.what;
        EXPECT_EQ(a.mode, EditMode::NewAlbum) << c.what;
    }
    // The titles read before the record turned out incomplete stay for the edit form.
    PendingAlbum a = album(EditMode::NewAlbum);
    ParseXmcdRecord(record(S("DTITLE=Kestrel / Silver \nDTITLE=Fields\n"), QString()).split(QLatin1Char('\n')), a, noAlbums());
    EXPECT_EQ(a.tracks.size(), 3u);
    EXPECT_EQ(a.tracks[0].title, S("First"));
}

TEST(XmcdRecord, MalformedNumbersChangeNothing) {
    struct Case {
        const char* what;
        QString text;
        const char* message;
    } cases[] = {
        {"letters in an offset", record(S("#       15150"), S("#       15x50")), "frame offset"},
        {"an offset too long", record(S("#       15150"), S("#       99999999999999999999")), "frame offset"},
        {"a disc length in words", record(S("606 seconds"), S("six hundred seconds")), "disc length"},
        {"a negative disc length", record(S("606 seconds"), S("-606 seconds")), "disc length"},
        {"a track number in words", record(S("TTITLE2="), S("TTITLEtwo=")), "track number"},
        {"a track number too high", record(S("TTITLE2="), S("TTITLE999=")), "track number"},
        {"a huge track number", record(S("TTITLE2="), S("TTITLE123456789012345678901234567890=")), "track number"},
        {"a track line without =", record(S("TTITLE2=Third"), S("TTITLE2 Third")), "track number"},
        {"a disc ID too short", record(S("DISCID=1a025d03"), S("DISCID=1a02")), "disc ID"},
        {"a disc ID with quotes", record(S("DISCID=1a025d03"), S("DISCID=1a\"25d03")), "disc ID"},
    };
    for (const Case& c : cases) {
        PendingAlbum a = album(EditMode::NewAlbum, 2);
        const PendingAlbum before = a;
        const XmcdResult r = ParseXmcdRecord(c.text.split(QLatin1Char('\n')), a, noAlbums());
        EXPECT_TRUE(r.refused) << c.what;
        ASSERT_EQ(r.errors.size(), 1) << c.what;
        EXPECT_TRUE(r.errors[0].contains(S(c.message))) << c.what << ": " << r.errors[0].toStdString();
        EXPECT_FALSE(r.errors[0].contains(importmsg::kInvalidXcmd)) << c.what;
        EXPECT_FALSE(r.clearText);
        EXPECT_FALSE(r.discId.has_value()) << c.what;
        EXPECT_TRUE(sameAlbum(a, before)) << c.what;
    }
}

TEST(XmcdRecord, OddButWellFormedDetails) {
    {
        PendingAlbum a = album(EditMode::NewAlbum);
        const XmcdResult r = ParseXmcdRecord(record(S("DISCID=1a025d03"), S("DISCID=  1A025D03 and more")).split(QLatin1Char('\n')), a, noAlbums());
        EXPECT_EQ(r.discId.value_or(QString()), S("1a025d03"));
        EXPECT_EQ(a.albumId, S("1a025d03"));
    }
    {
        PendingAlbum a = album(EditMode::NewAlbum);
        // The revision character, as the lookup stores it: 12 is "<", 78 and above "~".
        for (const auto& [line, rev] : std::vector<std::pair<const char*, const char*>>{
                 {"# Revision: 12", "<"}, {"# Revision: 0", "0"}, {"# Revision: 9", "9"}, {"# Revision: 78", "~"}, {"# Revision: 400", "~"}}) {
            ParseXmcdRecord(record(S("# Revision: 7"), S(line)).split(QLatin1Char('\n')), a, noAlbums());
            EXPECT_EQ(a.rev, S(rev)) << line;
        }
        PendingAlbum b = album(EditMode::NewAlbum);
        ParseXmcdRecord(record(S("# Revision: 7"), S("# Revision: x")).split(QLatin1Char('\n')), b, noAlbums());
        EXPECT_EQ(b.rev, S("5"));
        PendingAlbum c = album(EditMode::NewAlbum);
        const XmcdResult bad = ParseXmcdRecord(record(S("# Revision: 7"), S("# Revision: 1x")).split(QLatin1Char('\n')), c, noAlbums());
        EXPECT_TRUE(bad.refused);
        EXPECT_EQ(c.rev, S("5"));
    }
    {
        // Offsets that go backwards and a disc length too short give no negative time.
        PendingAlbum a = album(EditMode::NewAlbum);
        QString t = record(S("#       15150"), S("#       40150"));
        t.replace(S("606 seconds"), S("100 seconds"));
        const XmcdResult r = ParseXmcdRecord(t.split(QLatin1Char('\n')), a, noAlbums());
        EXPECT_TRUE(r.errors.isEmpty());
        EXPECT_EQ(column(a, 1), (QStringList{" 8:51", " 0:00", " 0:00"}));
    }
    {
        // Only the first 100 offsets are used.
        QString offsets;
        for (int k = 0; k < 150; ++k) offsets += QStringLiteral("# %1\n").arg(150 + 7500 * k);
        const QString t = record(S("#       150\n#       15150\n#       30150\n"), offsets);
        PendingAlbum a = album(EditMode::NewAlbum);
        const XmcdResult r = ParseXmcdRecord(t.split(QLatin1Char('\n')), a, noAlbums());
        EXPECT_TRUE(r.errors.isEmpty());
        EXPECT_EQ(column(a, 1), (QStringList{" 1:38", " 1:38", " 1:38"}));
    }
}

TEST(XmcdRecord, AStoredDiscIdIsADuplicate) {
    for (EditMode mode : {EditMode::NewAlbum, EditMode::AddCd}) {
        PendingAlbum a = album(mode);
        QStringList asked;
        const XmcdResult r = ParseXmcdRecord(L(kRecord), a, [&](const QString& id) {
            asked << id;
            return store::Result<bool>(id == S("1a025d03"));
        });
        EXPECT_EQ(asked, QStringList{S("1a025d03")});
        EXPECT_TRUE(r.duplicate);
        EXPECT_EQ(r.errors, QStringList{importmsg::kDuplicate});
        EXPECT_TRUE(r.clearText);
        EXPECT_FALSE(r.refused);
    }
    // The collection cannot be asked: the engine's message, nothing taken.
    PendingAlbum a = album(EditMode::NewAlbum, 1);
    const PendingAlbum before = a;
    const XmcdResult r = ParseXmcdRecord(L(kRecord), a, [](const QString&) {
        return store::Result<bool>(store::Status(store::ErrorKind::IoError, S("Cannot read ALBUMS.CDX")));
    });
    EXPECT_TRUE(r.refused);
    EXPECT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors[0].contains(S("Cannot read ALBUMS.CDX")));
    EXPECT_TRUE(sameAlbum(a, before));
}

// ---------------------------------------------------------------------------------------------
// Manual entry

TEST(ManualEntry, TrackCounts) {
    struct Case {
        const char* entry;
        int count;  // 0: refused with the message
        const char* message;
    } cases[] = {
        {"1", 1, ""},
        {"12", 12, ""},
        {" 3 ", 3, ""},
        {"999", 999, ""},
        {"0", 0, "Entry must be a number (1 or more)"},
        {"-1", 0, "Entry must be a number (1 or more)"},
        {"", 0, "Entry must be a number (1 or more)"},
        {"abc", 0, "Entry must be a number (1 or more)"},
        {"1.5", 0, "Entry must be a number (1 or more)"},
        {"12345678901234567890", 0, "Entry must be a number (1 or more)"},
        {"1000", 0, "An album holds at most 999 tracks"},
    };
    for (const Case& c : cases) {
        const TrackCountEntry e = ParseTrackCount(S(c.entry));
        EXPECT_EQ(e.count, c.count) << c.entry;
        EXPECT_EQ(e.error, S(c.message)) << c.entry;
    }
}

TEST(ManualEntry, RowsForANewAlbumAndForTheDisc) {
    PendingAlbum a = album(EditMode::NewAlbum, 7);
    ApplyManualEntry(a, 3, 9);
    EXPECT_EQ(column(a, 0), (QStringList{"01", "02", "03"}));
    EXPECT_EQ(column(a, 1), (QStringList{"", "", ""}));
    EXPECT_EQ(column(a, 2), (QStringList{"Track 01", "Track 02", "Track 03"}));
    EXPECT_EQ(a.artist, S("Various"));
    EXPECT_EQ(a.title, QString());
    EXPECT_TRUE(a.selectArtist);
    EXPECT_EQ(a.sys, QLatin1Char('M'));

    PendingAlbum disc = album(EditMode::AddCd, 2);
    ApplyManualEntry(disc, 0, 4);
    EXPECT_EQ(column(disc, 2), (QStringList{"Track 1", "Track 2", "", ""}));
    EXPECT_EQ(disc.artist, S("Various"));
    EXPECT_EQ(disc.title, QString());
}

// ---------------------------------------------------------------------------------------------
// Playlists

TEST(Playlist, StoredM3uFiles) {
    SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char* file;
        const char* error;  // "" when tracks were found
        QStringList titles;
        QStringList times;
    } cases[] = {
        {"one-ext.m3u", "", {"Song #1"}, {"00:00"}},
        {"comment-ext.m3u", "", {"Song #1"}, {"00:00"}},
        {"two-ext.m3u", "", {"Song #1", "Song #2"}, {"00:00", "01:00"}},
        // An 8-bit file: Windows-1252.
        {"encoding-ext.m3u", "", {"æøå"}, {"00:00"}},
        {"empty-ext.m3u", "Playlist missing timing and id3 tag data for tracks", {}, {}},
        {"empty.m3u", "Invalid m3u playlist format", {}, {}},
        {"one.m3u", "Invalid m3u playlist format", {}, {}},
        {"comment.m3u", "Invalid m3u playlist format", {}, {}},
        {"encoding.m3u", "Invalid m3u playlist format", {}, {}},
        {"symlink.m3u", "Invalid m3u playlist format", {}, {}},
        {"symlink_no.m3u", "Invalid m3u playlist format", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = testFile(QStringLiteral("playlists/m3u/") + S(c.file));
        PendingAlbum a = album(EditMode::NewAlbum, 3);
        const PlaylistResult r = ImportPlaylist(path, a, 0);
        EXPECT_FALSE(r.refused);
        EXPECT_EQ(a.sys, QLatin1Char('P'));
        if (*c.error) {
            EXPECT_EQ(r.errors, QStringList{S(c.error)});
            EXPECT_TRUE(a.tracks.empty());
            EXPECT_EQ(a.artist, S("Old Artist"));
            EXPECT_EQ(a.notes, QString());
            continue;
        }
        EXPECT_TRUE(r.errors.isEmpty());
        EXPECT_TRUE(r.m3u);
        EXPECT_EQ(r.trackCount, c.titles.size());
        EXPECT_EQ(column(a, 2), c.titles);
        EXPECT_EQ(column(a, 1), c.times);
        QStringList numbers;
        for (int k = 1; k <= c.titles.size(); ++k) numbers << QStringLiteral("%1").arg(k, 3);
        EXPECT_EQ(column(a, 0), numbers);
        EXPECT_EQ(a.artist, S("Various"));
        EXPECT_FALSE(a.selectArtist);
        // The entries name files that are not there: the album is named by the playlist.
        EXPECT_EQ(a.title, QFileInfo(path).absoluteFilePath());
        EXPECT_EQ(a.notes, S("PLAYLIST=") + QFileInfo(path).absoluteFilePath());
        EXPECT_EQ(a.media, S("PL"));
        EXPECT_EQ(r.folder, QFileInfo(path).absolutePath() + QLatin1Char('/'));
    }
}

TEST(Playlist, ArtistsOfM3uEntries) {
    TempFolder dir;
    struct Case {
        const char* what;
        const char* body;
        const char* artist;
        QStringList titles;
        QStringList times;
    } cases[] = {
        {"one artist", "#EXTINF:-1,Artist - Song\n#EXTINF:245,Artist - Other - Part\n", "Artist", {"Song", "Other - Part"},
         {"00:00", "04:05"}},
        {"two artists", "#EXTINF:1,Ann Lee - Love Is Here\n#EXTINF:2,Bo Zed - Endless Love\n", "Various",
         {"Ann Lee / Love Is Here", "Bo Zed / Endless Love"}, {"00:00", "00:02"}},
        {"a compilation", "#EXTINF:3600,VARIOUS ARTISTS - Ann Lee - Song\n#EXTINF:61,Various - Ann Lee - Tune\n", "Ann Lee",
         {"Song", "Tune"}, {"60:00", "01:01"}},
        {"no artists", "#EXTINF:10,Song\n#EXTINF:20, - Dash first\n", "Various", {"Song", " / Dash first"},
         {"00:10", "00:20"}},
        {"blanks and comments", "  #EXTINF:100,X - Y  \n\n# a comment\n/music/x.mp3\n", "X", {"Y"}, {"01:40"}},
    };
    for (const Case& c : cases) {
        const QString path = writeFile(dir, QStringLiteral("list.m3u"), QByteArray("#EXTM3U\n") + c.body);
        PendingAlbum a = album(EditMode::NewAlbum);
        const PlaylistResult r = ImportPlaylist(path, a, 0);
        EXPECT_TRUE(r.errors.isEmpty()) << c.what;
        EXPECT_EQ(a.artist, S(c.artist)) << c.what;
        EXPECT_EQ(column(a, 2), c.titles) << c.what;
        EXPECT_EQ(column(a, 1), c.times) << c.what;
    }
}

TEST(Playlist, AFolderOfClipsNamesTheAlbum) {
    TempFolder dir;
    writeFile(dir, QStringLiteral("02 second.mp3"), "ID3");
    writeFile(dir, QStringLiteral("x.ogg"), "OggS");
    struct Case {
        QByteArray last;
        QString title;  // empty: the playlist's own name
    } cases[] = {
        {"02 second.mp3", S("mp3 clips")},
        {dir.file(QStringLiteral("02 second.mp3")).toUtf8(), S("mp3 clips")},
        // The "." must come after the second character.
        {"x.ogg", QString()},
        {"missing.mp3", QString()},
        {"#EXTINF:5,after the last file", QString()},
    };
    for (const Case& c : cases) {
        const QString path = writeFile(dir, QStringLiteral("clips.m3u"),
                                       "#EXTM3U\n#EXTINF:5,A - B\n01 first.mp3\n#EXTINF:6,A - C\n" + c.last + "\n\n");
        PendingAlbum a = album(EditMode::NewAlbum);
        ImportPlaylist(path, a, 0);
        EXPECT_EQ(a.title, c.title.isEmpty() ? path : c.title) << c.last.constData();
    }
    // An XSPF playlist is named by its file.
    const QString xspf = writeFile(dir, QStringLiteral("list.xspf"),
                                   "<trackList>\n<title>T</title>\n<creator>C</creator>\n<duration>1000</duration>\n"
                                   "02 second.mp3\n");
    PendingAlbum a = album(EditMode::NewAlbum);
    ImportPlaylist(xspf, a, 0);
    EXPECT_EQ(a.title, xspf);
}

TEST(Playlist, TextEncodings) {
    TempFolder dir;
    static const char16_t kUtf16[] = u"#EXTM3U\n#EXTINF:1,Bj\u00F6rk - J\u00F3ga \u20AC\n";
    struct Case {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"UTF-8", QByteArray("#EXTM3U\n#EXTINF:1,Bj\xC3\xB6rk - J\xC3\xB3ga \xE2\x82\xAC\n")},
        {"UTF-8 with its mark", QByteArray("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:1,Bj\xC3\xB6rk - J\xC3\xB3ga \xE2\x82\xAC\r\n")},
        {"Windows-1252", QByteArray("#EXTM3U\r\n#EXTINF:1,Bj\xF6rk - J\xF3ga \x80\r\n")},
        {"UTF-16", QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char*>(kUtf16), sizeof(kUtf16) - 2)},
    };
    for (const Case& c : cases) {
        const QString path = writeFile(dir, QStringLiteral("enc.m3u"), c.bytes);
        PendingAlbum a = album(EditMode::NewAlbum);
        const PlaylistResult r = ImportPlaylist(path, a, 0);
        EXPECT_TRUE(r.errors.isEmpty()) << c.what;
        EXPECT_EQ(a.artist, S("Björk")) << c.what;
        EXPECT_EQ(column(a, 2), QStringList{S("Jóga €")}) << c.what;
    }
}

TEST(Playlist, MalformedEntriesChangeNothing) {
    TempFolder dir;
    QByteArray many = "#EXTM3U\n";
    for (int k = 0; k < 1000; ++k) many += "#EXTINF:10,A - Song\n";
    struct Case {
        const char* what;
        QByteArray body;
        const char* message;
    } cases[] = {
        {"seconds in words", "#EXTM3U\n#EXTINF:ten,A - B\n", "whole number of seconds"},
        {"fractional seconds", "#EXTM3U\n#EXTINF:12.5,A - B\n", "whole number of seconds"},
        {"huge seconds", "#EXTM3U\n#EXTINF:99999999999,A - B\n", "whole number of seconds"},
        {"no comma", "#EXTM3U\n#EXTINF:12\n", "whole number of seconds"},
        {"a duration in words", "<trackList>\n<title>T</title>\n<creator>C</creator>\n<duration>long</duration>\n",
         "whole number of milliseconds"},
        {"a negative duration", "<trackList>\n<duration>-5</duration>\n", "whole number of milliseconds"},
        {"a duration on the next line", "<trackList>\n<duration>\n1</duration>\n", "whole number of milliseconds"},
        {"more tracks than an album holds", many, "at most 999"},
    };
    for (const Case& c : cases) {
        const QString path = writeFile(dir, QStringLiteral("bad.m3u"), c.body);
        PendingAlbum a = album(EditMode::NewAlbum, 2);
        const PendingAlbum before = a;
        const PlaylistResult r = ImportPlaylist(path, a, 0);
        EXPECT_TRUE(r.refused) << c.what;
        ASSERT_EQ(r.errors.size(), 1) << c.what;
        EXPECT_TRUE(r.errors[0].contains(S(c.message))) << c.what << ": " << r.errors[0].toStdString();
        EXPECT_TRUE(sameAlbum(a, before)) << c.what;
    }
    many.chop(20);  // 999 entries fit
    PendingAlbum a = album(EditMode::NewAlbum);
    const PlaylistResult r = ImportPlaylist(writeFile(dir, QStringLiteral("999.m3u"), many), a, 0);
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_EQ(a.tracks.size(), 999u);
    EXPECT_EQ(a.tracks.back().number, S("999"));
}

TEST(Playlist, FilesThatAreNoPlaylists) {
    TempFolder dir;
    QByteArray binary(1 << 20, '\0');
    quint32 x = 12345;
    for (char& b : binary) {
        x = x * 1103515245u + 12345u;
        b = char(x >> 24);
    }
    QElapsedTimer clock;
    clock.start();
    struct Case {
        const char* what;
        QString path;
        bool refused;
    } cases[] = {
        {"binary data", writeFile(dir, QStringLiteral("noise.m3u"), binary), false},
        {"a large file", writeFile(dir, QStringLiteral("large.m3u"), QByteArray(kMaxImportChars + 1, '#')), true},
        {"a folder", dir.path(), true},
        {"a missing file", dir.file(QStringLiteral("none.m3u")), true},
        {"a device", QStringLiteral("/dev/zero"), true},
    };
    for (const Case& c : cases) {
        PendingAlbum a = album(EditMode::NewAlbum, 2);
        const PendingAlbum before = a;
        const PlaylistResult r = ImportPlaylist(c.path, a, 0);
        EXPECT_EQ(r.refused, c.refused) << c.what;
        EXPECT_EQ(r.errors.size(), 1) << c.what;
        if (c.refused) {
            EXPECT_TRUE(sameAlbum(a, before)) << c.what;
        } else {
            EXPECT_EQ(r.errors, QStringList{importmsg::kInvalidPlaylist}) << c.what;
        }
    }
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST(Playlist, XspfConformanceCasesThatMustBeAccepted) {
    SKIP_WITHOUT_TESTDATA();
    const QDir dir(testFile(QStringLiteral("playlists/xspf/pass")));
    const QStringList files = dir.entryList({QStringLiteral("*.xspf")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 40);
    QStringList withTracks;
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        PendingAlbum a = album(EditMode::NewAlbum, 1);
        const PlaylistResult r = ImportPlaylist(dir.filePath(name), a, 0);
        EXPECT_FALSE(r.refused) << r.errors.join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(r.m3u);
        if (r.errors.isEmpty()) {
            withTracks << name;
            continue;
        }
        // A track list written "<trackList />" or with attributes is no track list to the
        // line rule; one written "<trackList>" is, but without complete tracks.
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const bool plainTag = f.readAll().toLower().contains("<tracklist>");
        EXPECT_EQ(r.errors, QStringList{plainTag ? importmsg::kNoPlaylistTracks : importmsg::kInvalidPlaylist});
    }
    EXPECT_EQ(withTracks, (QStringList{"track-extensive.xspf", "track-inverted-order.xspf"}));

    // Title, creator and duration of each.
    PendingAlbum a = album(EditMode::NewAlbum);
    ImportPlaylist(dir.filePath(QStringLiteral("track-extensive.xspf")), a, 0);
    EXPECT_EQ(a.artist, S("Frank Sinatra"));
    EXPECT_EQ(column(a, 2), QStringList{S("My Way")});
    EXPECT_EQ(column(a, 1), QStringList{S("00:19")});
    EXPECT_EQ(column(a, 0), QStringList{S("  1")});
    EXPECT_EQ(a.media, S("PL"));
    PendingAlbum b = album(EditMode::NewAlbum);
    ImportPlaylist(dir.filePath(QStringLiteral("track-inverted-order.xspf")), b, 0);
    EXPECT_EQ(b.artist, S("some text"));
    EXPECT_EQ(column(b, 1), QStringList{S("02:00")});
}

TEST(Playlist, XspfConformanceCasesThatMustBeRefused) {
    SKIP_WITHOUT_TESTDATA();
    const QDir dir(testFile(QStringLiteral("playlists/xspf/fail")));
    const QStringList files = dir.entryList({QStringLiteral("*.xspf")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 40);
    QStringList refused, withTracks;
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        PendingAlbum a = album(EditMode::NewAlbum, 1);
        const PendingAlbum before = a;
        const PlaylistResult r = ImportPlaylist(dir.filePath(name), a, 0);
        if (r.refused) {
            refused << name;
            EXPECT_TRUE(sameAlbum(a, before));
        } else if (r.errors.isEmpty()) {
            withTracks << name;
        } else {
            // The lenient line rule lets most of them through to one of the two messages, and
            // nothing but the reset grid has changed.
            EXPECT_TRUE(r.errors == QStringList{importmsg::kInvalidPlaylist} ||
                        r.errors == QStringList{importmsg::kNoPlaylistTracks});
            EXPECT_TRUE(a.tracks.empty());
            EXPECT_EQ(a.artist, before.artist);
            EXPECT_EQ(a.notes, before.notes);
        }
    }
    EXPECT_EQ(refused, QStringList{S("track-badint-duration.xspf")});
    EXPECT_TRUE(withTracks.isEmpty()) << withTracks.join(QLatin1Char(' ')).toStdString();
}

TEST(Playlist, XspfTracksAreCompletedByTheNextOne) {
    TempFolder dir;
    const QString path = writeFile(dir, QStringLiteral("joined.xspf"),
                                   "<?xml version=\"1.0\"?>\n<playlist version=\"1\">\n<title>Playlist title</title>\n"
                                   "<TRACKLIST>\n"
                                   "<track><title>Only a Title</title></track>\n"
                                   "<track>\n<TITLE>Second</TITLE>\n<Creator>Ann Lee</Creator>\n<duration>61999</duration>\n</track>\n"
                                   "<track>\n<creator>Bo Zed</creator>\n<title>Third</title>\n<duration>125000</duration>\n</track>\n"
                                   "</trackList>\n</playlist>\n");
    PendingAlbum a = album(EditMode::NewAlbum);
    const PlaylistResult r = ImportPlaylist(path, a, 0);
    EXPECT_TRUE(r.errors.isEmpty());
    // The first track had only its title: the second's creator and duration complete it.
    EXPECT_EQ(column(a, 2), (QStringList{"Ann Lee / Only a Title", "Bo Zed / Third"}));
    EXPECT_EQ(column(a, 1), (QStringList{"01:01", "02:05"}));
    EXPECT_EQ(a.artist, S("Various"));
    EXPECT_EQ(r.collected, (QStringList{"Ann Lee / Only a Title", "Bo Zed / Third"}));
}

TEST(Playlist, TheDiscsRowsInModeOne) {
    TempFolder dir;
    const QString path = writeFile(dir, QStringLiteral("disc.m3u"), "#EXTM3U\n#EXTINF:200,A - One\n#EXTINF:100,A - Two\n");
    PendingAlbum a = album(EditMode::AddCd, 5);
    ImportPlaylist(path, a, 5);
    EXPECT_EQ(column(a, 0), (QStringList{"  1", "  2"}));
    EXPECT_EQ(column(a, 1), (QStringList{"03:20", "01:40"}));
    EXPECT_EQ(a.artist, S("A"));
    EXPECT_EQ(a.mode, EditMode::AddCd);

    // A playlist without tracks leaves the disc's rows.
    PendingAlbum b = album(EditMode::AddCd, 2);
    const PlaylistResult r = ImportPlaylist(writeFile(dir, QStringLiteral("e.m3u"), "#EXTM3U\n"), b, 3);
    EXPECT_EQ(r.errors, QStringList{importmsg::kNoPlaylistTracks});
    EXPECT_EQ(b.tracks.size(), 3u);
}

TEST(Folders, ClipsFolderComparison) {
    EXPECT_TRUE(SameFolder(S("/music/rips"), S("/music/rips/")));
    EXPECT_TRUE(SameFolder(S("/music/rips/"), S("/music//rips/")));
    EXPECT_FALSE(SameFolder(S("/music/rips"), S("/music/Rips")));
    EXPECT_FALSE(SameFolder(QString(), S("/music")));
    EXPECT_EQ(FolderWithSlash(S("/music/rips")), S("/music/rips/"));
    EXPECT_EQ(FolderWithSlash(S("/")), S("/"));
}

// ---------------------------------------------------------------------------------------------
// Any text through any parser

TEST(AnyText, LargeNoiseEndsInBoundedRows) {
    QString noise;
    noise.reserve(kMaxImportChars);
    quint32 x = 99;
    while (noise.size() < kMaxImportChars - 64) {
        x = x * 1664525u + 1013904223u;
        const int kind = int(x >> 28);
        if (kind < 3)
            noise += QStringLiteral("%1 %2 Song %3:%4\n").arg(x % 1200).arg(x % 7).arg(x % 60).arg(x % 97);
        else if (kind < 5)
            noise += QStringLiteral("TTITLE%1=x\n").arg(x % 100);
        else
            noise += QChar(char16_t(x >> 16));
    }
    const auto lines = SplitPastedText(noise);
    ASSERT_TRUE(lines.has_value());
    QElapsedTimer clock;
    clock.start();
    for (int parser = 0; parser < 5; ++parser) {
        PendingAlbum a = album(EditMode::NewAlbum);
        switch (parser) {
        case 0: ParseNumberedList(*lines, a); break;
        case 1: ParseUnnumberedList(*lines, a); break;
        case 2: ParseWebTrackList(*lines, a, false, false); break;
        case 3: ParseWebTrackList(*lines, a, true, false); break;
        case 4: ParseXmcdRecord(*lines, a, noAlbums()); break;
        }
        EXPECT_LE(a.tracks.size(), size_t(kMaxImportTracks)) << parser;
    }
    EXPECT_LT(clock.elapsed(), 20000);
}
