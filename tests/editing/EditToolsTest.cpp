// The edit form's tools and the notes editor's operations as plain functions: the search-term
// encoding, the title flip, the mask maker with the label-or-notes rule, and the tagged lines the
// notes editor adds.
#include "EditTools.h"
#include "TestSupport.h"

#include <QDir>

using namespace albumora;
using namespace albumora::editing;
using notes::AmountKind;

namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

const QString kDash(QChar(0x2013));

// ---------------------------------------------------------------------------------------------
// Search-term encoding

TEST(SearchTerm, EncodesForWebQueries) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"The Cats & the Dogs", "The+Cats+the+Dogs"},
        {"Bread & Honey", "Bread+Honey"},
        {"Don't Stop", "Don%27t+Stop"},
        {"Guns N' Roses", "Guns+N%27+Roses"},
        {"  Q.R.S.  ", "QRS"},
        {"L\xc3\xb3" "a Band", "La+Band"},  // letters outside ASCII are dropped
        {"\tTabbed\x01", "Tabbed"},         // trimmed of every character up to the blank
        {"a  +  b", "a+b"},                 // a run of blanks and "+" is one "+"
        {"a . b", "a++b"},                  // runs collapse before the removal, not after
        {"100% Hits", "100%+Hits"},
        {"[x]\\^_`", "[x]\\^_`"},           // the ASCII run "A".."z" holds these
        {"{a|b}~@#", "ab"},
        {"AC/DC: Live!", "ACDC+Live"},
        {"\xe2\x80\x99Quoted\xe2\x80\x99", "Quoted"},  // only the ASCII apostrophe is kept as %27
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(EncodeSearchTerm(u(c.in)), u(c.out));
    }
}

TEST(SearchTerm, CoverImageAddressSearchesTheStoreForTheArtist) {
    EXPECT_EQ(CoverImageSearchAddress(QStringLiteral("Bread & Honey")),
              QStringLiteral("https://www.amazon.com/exec/obidos/external-search?keyword=Bread+Honey&mode=music"));
    EXPECT_EQ(CoverImageSearchAddress(u(" Sin\xc3\xa9" "ad O'Connor ")),
              QStringLiteral("https://www.amazon.com/exec/obidos/external-search?keyword=Sinad+O%27Connor&mode=music"));
}

// ---------------------------------------------------------------------------------------------
// Flip to Artist / Song

TEST(Flip, EachSeparatorInItsOrder) {
    const struct {
        QString in;
        QString out;
        const char* why;
    } cases[] = {
        {"Silver Fields / Kestrel", "Kestrel / Silver Fields", "slash with blanks"},
        {"Kestrel - Silver Fields", "Silver Fields / Kestrel", "dash with blanks"},
        {"Kestrel " + kDash + " Silver Fields", "Silver Fields / Kestrel", "en dash takes its blanks along"},
        {"Kestrel/Silver Fields", "Silver Fields / Kestrel", "bare slash"},
        {"Kestrel: Silver Fields", "Silver Fields / Kestrel", "colon"},
        {"Kestrel--Silver Fields", "Silver Fields / Kestrel", "double hyphen"},
        {"Kestrel-Silver Fields", "Silver Fields / Kestrel", "hyphen"},
        {"Kestrel \\ Silver Fields", "Silver Fields / Kestrel", "backslash with blanks"},
        // An earlier separator wins wherever it stands.
        {"AC/DC - Thunder", "Thunder / AC/DC", "' - ' before '/'"},
        {"Act 1: Overture " + kDash + " Orchestra", "Orchestra / Act 1: Overture", "en dash before ':'"},
        {"A-ha / Take On Me", "Take On Me / A-ha", "' / ' before '-'"},
        {"Jazz:Blues/Soul", "Soul / Jazz:Blues", "'/' before ':'"},
        {"Re-Mix--Artist", "Artist / Re-Mix", "'--' before '-'"},
        {"Left \\ Right-Wing", "Wing / Left \\ Right", "'-' before ' \\ '"},
        {"Sonny " + kDash + " Cher - Duet", "Cher - Duet / Sonny", "en dash before ' - '"},
        // The en dash counts only with two characters after it; else the next separators are tried.
        {"Opus " + kDash + "1", "Opus " + kDash + "1", "en dash with one character after it"},
        {"Op-us " + kDash + "1", "us " + kDash + "1 / Op", "short en dash falls through to '-'"},
        {"AB" + kDash + "CD", "D / A", "the characters around the dash belong to the separator"},
        // Blanks around the title and its parts go.
        {"  Silver Fields  /   Kestrel ", "Kestrel / Silver Fields", "trimmed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(FlipTitle(c.in), c.out) << c.in.toStdString();
    }
}

TEST(Flip, ParenthesesWhenNoSeparatorSplitsTheTitle) {
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"Silver Fields (Kestrel)", "Kestrel / Silver Fields"},
        {"Silver Fields ( Kestrel ) live", "Kestrel / Silver Fields"},  // text after ")" is dropped
        {"Intro (x)", "x / Intro"},
        {"Intro ()", "Intro ()"},                                       // nothing between them
        {"Intro )x(", "Intro )x("},                                     // ")" before "("
        {"Intro (unclosed", "Intro (unclosed"},
        {"/Intro (Live)", "Live / /Intro"},                             // a separator at the first position
        {kDash + "Intro (Live)", "Live / " + kDash + "Intro"},          // an en dash first starts before it
        {"Hey (Jude) - Beatles", "Beatles / Hey (Jude)"},               // a separator comes first
    };
    for (const auto& c : cases) EXPECT_EQ(FlipTitle(c.in), c.out) << c.in.toStdString();
}

TEST(Flip, TitlesWithoutEitherStayAsTheyWere) {
    for (const QString& t : {QStringLiteral("Intro"), QStringLiteral("  Intro  "), QString(), QStringLiteral("   "),
                             QStringLiteral("-"), QStringLiteral("/Intro")})
        EXPECT_EQ(FlipTitle(t), t) << t.toStdString();
}

TEST(Flip, TheSongPartIsCutTo99Characters) {
    const QString longSong(120, QLatin1Char('s'));
    EXPECT_EQ(FlipTitle("Artist / " + longSong), QString(99, QLatin1Char('s')) + " / Artist");
    // Cut first, then trimmed: a blank at the cut does not stay.
    EXPECT_EQ(FlipTitle("Artist / " + QString(98, QLatin1Char('s')) + "  tail"),
              QString(98, QLatin1Char('s')) + " / Artist");
    // The artist part before the separator is not cut.
    const QString longArtist(150, QLatin1Char('a'));
    EXPECT_EQ(FlipTitle(longArtist + " / Song"), "Song / " + longArtist);
}

TEST(Flip, FlippingTwiceRestoresArtistSong) {
    for (const QString& t : {QStringLiteral("Kestrel / Silver Fields"), QStringLiteral("Ann Lee / Love Is Here"),
                             QStringLiteral("AC/DC / Thunder")}) {
        const QString once = FlipTitle(t);
        EXPECT_NE(once, t);
        EXPECT_EQ(FlipTitle(once), t);
    }
    // Other forms come back normalized to "Artist / Song".
    EXPECT_EQ(FlipTitle(FlipTitle(QStringLiteral("Kestrel - Silver Fields"))),
              QStringLiteral("Kestrel / Silver Fields"));
    EXPECT_EQ(FlipTitle(FlipTitle("Kestrel " + kDash + " Silver Fields")), QStringLiteral("Kestrel / Silver Fields"));
}

TEST(Flip, EveryTrackRowOfTheGrid) {
    std::vector<TrackRow> rows{{"  1", " 3:07", "Kestrel - Silver Fields"}, {"  2", "", "Intro"},
                               {"  3", " 4:00", "Waltz (Duke)"}};
    FlipTitles(rows);
    EXPECT_EQ(rows[0].title, QStringLiteral("Silver Fields / Kestrel"));
    EXPECT_EQ(rows[1].title, QStringLiteral("Intro"));
    EXPECT_EQ(rows[2].title, QStringLiteral("Duke / Waltz"));
    EXPECT_EQ(rows[0].number, QStringLiteral("  1"));
    EXPECT_EQ(rows[0].time, QStringLiteral(" 3:07"));
}

// ---------------------------------------------------------------------------------------------
// Mask Maker

TEST(MaskMaker, MaskFromThePickedFiles) {
    const struct {
        QStringList files;
        QString mask;
        const char* why;
    } cases[] = {
        {{"/media/Music/Live.MP3"}, "/media/Music/Live.MP3", "one file: its path as spelled"},
        {{"/rips/01 Intro.mp3", "/rips/02 Song.mp3"}, "/rips/0*.mp3", "common beginning of the base names"},
        {{"/rips/Alpha.mp3", "/rips/beta.mp3"}, "/rips/*.mp3", "nothing in common"},
        {{"/rips/Track01.MP3", "/rips/track02.mp3", "/rips/TRACK10.mp3"}, "/rips/Track*.MP3", "compared without case, spelled as the first"},
        {{"/rips/Song.mp3", "/rips/Song Long.mp3"}, "/rips/Song*.mp3", "up to the shortest base name"},
        {{"/rips/Song Long.mp3", "/rips/Song.mp3"}, "/rips/Song*.mp3", "shortest second"},
        {{"/rips/a.b.mp3", "/rips/a.c.mp3"}, "/rips/a*.mp3", "the base name ends at the first dot"},
        {{"/rips/x1.flac", "/rips/x2.mp3"}, "/rips/x*.flac", "the first file's extension"},
        {{"/rips/side A", "/rips/side B"}, "/rips/side *", "no extension"},
        {{"/Rips/\xc3\x84rger 1.mp3", "/Rips/\xc3\x84rger 2.mp3"}, "/Rips/\xc3\x84rger *.mp3", "the folder keeps its case"},
        {{"/rips/\xc3\xa4x.mp3", "/rips/\xc3\x84x.mp3"}, "/rips/*.mp3", "non-ASCII letters differ by case"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(MakeMask(c.files, QStringLiteral("/rips/")).mask, c.mask);
    }
    EXPECT_EQ(MakeMask({}, QStringLiteral("/rips/")).mask, QString());
}

TEST(MaskMaker, ThePickedFolderBecomesTheClipsFolder) {
    const struct {
        QStringList files;
        QString clips;
        std::optional<QString> changed;
    } cases[] = {
        {{"/rips/a.mp3"}, "/rips/", std::nullopt},
        {{"/rips/a.mp3", "/rips/b.mp3"}, "/rips/", std::nullopt},
        {{"/Music/Live.MP3"}, "/rips/", QStringLiteral("/Music/")},  // as spelled, not lower-cased
        {{"/rips/a.mp3"}, "/rips", QStringLiteral("/rips/")},          // compared exactly
        {{"/rips/a.mp3"}, "/RIPS/", QStringLiteral("/rips/")},
    };
    for (const auto& c : cases) EXPECT_EQ(MakeMask(c.files, c.clips).clipsDir, c.changed) << c.clips.toStdString();
}

TEST(MaskMaker, LongMasksGoToTheNotes) {
    const QString fits = "/" + QString(54, QLatin1Char('m'));  // 55 characters
    const QString tooLong = fits + "x";
    const struct {
        QString mask;
        QString notes;
        bool inNotes;
        QString label;
        QString notesAfter;
        int lines;
    } cases[] = {
        {fits, "first\r\nsecond", false, fits, "first\r\nsecond", 2},
        {tooLong, "first\r\nsecond", true, "old label", "first\r\nsecond\r\n" + tooLong, 3},
        {tooLong, "", true, "old label", tooLong, 1},
        {QStringLiteral("/rips/0*.mp3"), "", false, "/rips/0*.mp3", "", 0},
    };
    for (const auto& c : cases) {
        QString label = QStringLiteral("old label");
        QString notes = c.notes;
        const MaskPlacement placed = PlaceMask(c.mask, label, notes);
        EXPECT_EQ(placed.inNotes, c.inNotes) << c.mask.size();
        EXPECT_EQ(label, c.label);
        EXPECT_EQ(notes, c.notesAfter);
        EXPECT_EQ(placed.notesLines, c.lines);
        EXPECT_EQ(NotesLineCount(notes), c.lines);
    }
}

TEST(MaskMaker, WorkingFolderGoesBackToTheProgramFolder) {
    test::TempFolder program, elsewhere;
    const QString saved = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    ReturnToProgramFolder(program.path() + "/");
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(program.path()).canonicalPath());
    ReturnToProgramFolder(QString());  // no program folder known: stays
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(program.path()).canonicalPath());
    QDir::setCurrent(saved);
}

// ---------------------------------------------------------------------------------------------
// Notes editor operations

TEST(NotesEditorLines, ExtendedDataAndLinks) {
    enum Op { Disc, Track, Cover, Link };
    const struct {
        Op op;
        int index;
        QString entry;
        std::optional<QString> added;
    } cases[] = {
        {Disc, 0, "  Live at the town hall", QStringLiteral("EXTD=  Live at the town hall")},
        {Disc, 0, "Recorded 1971  ", QStringLiteral("EXTD=Recorded 1971  ")},
        {Disc, 0, "   ", std::nullopt},
        {Disc, 0, "\t\x01", std::nullopt},
        {Disc, 0, "", std::nullopt},
        {Track, 2, "Guest: second voice", QStringLiteral("EXTT2=Guest: second voice")},
        {Track, 0, " first", QStringLiteral("EXTT0= first")},
        {Track, 11, "twelfth", QStringLiteral("EXTT11=twelfth")},
        {Track, 4, "  ", std::nullopt},
        {Track, -1, "no track", std::nullopt},
        {Cover, 0, "/home/ann/covers/kob.jpg", QStringLiteral("COVER=/home/ann/covers/kob.jpg")},
        {Cover, 0, "", std::nullopt},
        {Link, 0, "abc.htm", std::nullopt},  // 7 characters
        {Link, 0, "c:\\x.htm", QStringLiteral("URL=c:\\x.htm")},
        {Link, 0, "spotify:album:4aawyAB9vmqN3uQ7FjRGTy", QStringLiteral("URL=spotify:album:4aawyAB9vmqN3uQ7FjRGTy")},
        {Link, 0, "        ", QStringLiteral("URL=        ")},  // counted as typed
        {Link, 0, "", std::nullopt},
    };
    const QStringList start{QStringLiteral("Bought in Hamburg"), QStringLiteral("COST=12.50")};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        QStringList lines = start;
        bool added = false;
        switch (c.op) {
            case Disc: added = AddExtendedDiscData(lines, c.entry); break;
            case Track: added = AddExtendedTrackData(lines, c.index, c.entry); break;
            case Cover: added = AddCoverLine(lines, c.entry); break;
            case Link: added = AddLink(lines, c.entry); break;
        }
        EXPECT_EQ(added, c.added.has_value());
        EXPECT_EQ(lines, c.added ? start + QStringList{*c.added} : start);
    }
}

TEST(NotesEditorLines, ExtendedTrackDataIsReadBackForItsTrack) {
    QStringList lines;
    ASSERT_TRUE(AddExtendedTrackData(lines, 4, QStringLiteral("Recorded live")));
    ASSERT_TRUE(AddExtendedTrackData(lines, 12, QStringLiteral("Bonus")));
    const auto texts = notes::ExtendedTrackTexts(lines);
    EXPECT_EQ(texts.at(5), QStringLiteral("Recorded live"));
    EXPECT_EQ(texts.at(13), QStringLiteral("Bonus"));
}

TEST(NotesEditorLines, ExtendedTrackCaptionPadsTheTrackNumber) {
    const struct {
        int index;
        const char* caption;
    } cases[] = {{0, "Extended Data For Track   1"}, {4, "Extended Data For Track   5"},
                 {9, "Extended Data For Track  10"}, {99, "Extended Data For Track 100"}};
    for (const auto& c : cases) EXPECT_EQ(ExtendedTrackCaption(c.index), QString::fromLatin1(c.caption));
}

TEST(NotesEditorLines, AmountQuestionStartsFromTheStoredAmountOrTheDefault) {
    const struct {
        QString notes;
        AmountKind kind;
        QString caption;
        QString initial;
    } cases[] = {
        {"", AmountKind::Cost, "Enter COST=of Album", "9.95"},
        {"", AmountKind::Value, "Enter VALUE=of Album", "9.95"},
        {"COST=12.50\r\nVALUE= 20 ", AmountKind::Cost, "Enter COST=of Album", "12.50"},
        {"COST=12.50\r\nVALUE= 20 ", AmountKind::Value, "Enter VALUE=of Album", "20"},
        {"COST=\r\nnote", AmountKind::Cost, "Enter COST=of Album", "9.95"},  // a bare tag offers the default
        // The first line holding the tag anywhere; its value starts after the tag's length.
        {"paid: COST=5\r\nCOST=7", AmountKind::Cost, "Enter COST=of Album", "COST=5"},
    };
    for (const auto& c : cases) {
        const AmountQuestion q = AskAmount(notes::SplitLines(c.notes), c.kind, QStringLiteral("9.95"));
        EXPECT_EQ(q.caption, c.caption);
        EXPECT_EQ(q.prompt, QStringLiteral("Enter amount only - no currency symbol"));
        EXPECT_EQ(q.initial, c.initial) << c.notes.toStdString();
    }
}

TEST(NotesEditorLines, AmountsAreCheckedThenStoredInTheirLine) {
    const struct {
        QString notes;
        AmountKind kind;
        QString entry;
        bool stored;
        QString after;
    } cases[] = {
        {"", AmountKind::Cost, "12.50", true, "COST=12.50"},
        {"COST=12.50", AmountKind::Cost, "13", true, "COST=13"},
        {"Signed\r\nCOST=12.50\r\nURL=x", AmountKind::Cost, "13", true, "Signed\r\nCOST=13\r\nURL=x"},
        {"COST=12.50", AmountKind::Value, "20", true, "COST=12.50\r\nVALUE=20"},
        {"COST=12.50", AmountKind::Cost, "", true, "COST="},  // an emptied entry keeps the bare tag
        {"COST=12.50", AmountKind::Cost, "1.2.3", true, "COST=1.2.3"},  // characters are all that is checked
        {"COST=12.50", AmountKind::Cost, ".", true, "COST=."},
        {"COST=12.50", AmountKind::Cost, "$12", false, "COST=12.50"},
        {"COST=12.50", AmountKind::Cost, " 12", false, "COST=12.50"},
        {"COST=12.50", AmountKind::Cost, "12,50", false, "COST=12.50"},
        {"COST=12.50", AmountKind::Cost, "-3", false, "COST=12.50"},
        {"", AmountKind::Value, "12 EUR", false, ""},
        {"", AmountKind::Value, "\xc2\xbd", false, ""},  // the one-half sign
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        QStringList lines = notes::SplitLines(c.notes);
        EXPECT_EQ(StoreAmount(lines, c.kind, c.entry), c.stored);
        EXPECT_EQ(notes::JoinLines(lines), c.after);
    }
    EXPECT_EQ(kInvalidAmount, QStringLiteral("Invalid amount!\rUse only numbers and (optionally) decimal point"));
}

}  // namespace
