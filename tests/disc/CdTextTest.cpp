// The CD-Text of disc images written by other programs (libcdio's, libburn's and cdrdao's test
// files, whipper's rips), read through libcdio; and the filling of a pending album from it.
// The expected texts are those of the .right files and cue sheets beside the images.
#include "CdText.h"

#include "TestSupport.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

using namespace albumora;
using disc::ApplyCdText;
using disc::CdText;
using disc::CleanCdText;
using disc::ReadCdText;

namespace {

QString S(const char* s) { return QString::fromUtf8(s); }

std::vector<QString> strings(std::initializer_list<const char*> list) {
    std::vector<QString> out;
    for (const char* s : list) out.push_back(S(s));
    return out;
}

constexpr qint64 kSector = 2352;

// libcdio's own log lines go to stdout (warnings) and stderr (errors).
std::optional<CdText> readPrinting(const QString& path, std::string& printed) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto text = ReadCdText(path);
    printed = testing::internal::GetCapturedStdout();
    printed += testing::internal::GetCapturedStderr();
    return text;
}

class CdTextImages : public ::testing::Test {
protected:
    void SetUp() override { SKIP_WITHOUT_TESTDATA(); }

    // A file of the shared images copied into the test's folder under its own name.
    QString copy(const QString& relative) {
        const QString to = test::copyTestFile(S("musicbrainz/images/") + relative, folder.path());
        EXPECT_TRUE(QFile::exists(to)) << relative.toStdString();
        return to;
    }
    // The audio the image description names, zero-filled (sparse): TOC and CD-Text need no more.
    void zeroFile(const QString& name, qint64 bytes) {
        QFile f(folder.file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(bytes)) << name.toStdString();
    }
    void write(const QString& name, const QByteArray& bytes) {
        ASSERT_TRUE(test::writeFileBytes(folder.file(name), bytes)) << name.toStdString();
    }
    // A cue sheet over name.bin naming a CD-Text file, tracks a minute apart.
    QString cueWithCdTextFile(const QString& name, const QString& cdt, int tracks) {
        QByteArray cue = "CDTEXTFILE \"" + cdt.toUtf8() + "\"\nFILE \"" + name.toUtf8() + ".bin\" BINARY\n";
        for (int n = 1; n <= tracks; ++n)
            cue += QStringLiteral("  TRACK %1 AUDIO\n    INDEX 01 %2:00:00\n")
                       .arg(n, 2, 10, QLatin1Char('0'))
                       .arg(n - 1, 2, 10, QLatin1Char('0'))
                       .toUtf8();
        write(name + S(".cue"), cue);
        zeroFile(name + S(".bin"), qint64(tracks + 1) * 60 * 75 * kSector);
        return folder.file(name + S(".cue"));
    }

    test::TempFolder folder;
};

TEST_F(CdTextImages, CdrdaoTocWithSilenceNeedsNoDataFile) {
    const auto text = ReadCdText(copy(S("libcdio/cdtext.toc")));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->language, S("English"));
    EXPECT_EQ(text->title, S("CD Title"));
    EXPECT_EQ(text->artist, S("Performer"));
    EXPECT_EQ(text->trackTitles, strings({"Track Title"}));
    EXPECT_EQ(text->trackArtists, strings({"Performer"}));
    EXPECT_FALSE(text->empty());
}

TEST_F(CdTextImages, TwoLanguageCdTextFileGivesTheEnglishBlock) {
    copy(S("libcdio/cdtext.cdt"));
    const QString cue = copy(S("libcdio/cdtext.cue"));
    zeroFile(S("cdtext.bin"), 1800 * kSector);
    const auto text = ReadCdText(cue);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->language, S("English"));
    EXPECT_EQ(text->title, S("Joyful Nights"));
    EXPECT_EQ(text->artist, S("United Cat Orchestra"));
    EXPECT_EQ(text->trackTitles, strings({"Song of Joy", "Humpty Dumpty", "Mee Owwww"}));
    EXPECT_EQ(text->trackArtists, strings({"Felix and The Purrs", "Catwalk Beauties", "Mia Kitten"}));
    EXPECT_NE(text->title, S("Freudvolle Nächte"));

    // Every performer differs from the disc's: a various-artists album, and the grid's two rows
    // get the first two tracks without a third row being added.
    editing::PendingAlbum album;
    album.mode = editing::EditMode::AddCd;
    album.setTrackCount(2);
    ApplyCdText(*text, album);
    EXPECT_EQ(album.artist, S("Various Artists"));
    EXPECT_TRUE(album.isMultiArtist());
    EXPECT_EQ(album.title, S("Joyful Nights"));
    ASSERT_EQ(album.tracks.size(), 2u);
    EXPECT_EQ(album.tracks[0].title, S("Felix and The Purrs / Song of Joy"));
    EXPECT_EQ(album.tracks[1].title, S("Catwalk Beauties / Humpty Dumpty"));
}

TEST_F(CdTextImages, WithoutEnglishTheFirstListedBlockIsReadAndItsLatin1Kept) {
    // The same packs with the English block (block number 0 in byte 3's bits 4-6) left out.
    const QByteArray all = test::fileBytes(test::sharedTestData() + S("/musicbrainz/images/libcdio/cdtext.cdt"));
    ASSERT_GE(all.size(), 18 * 10);
    QByteArray german;
    for (qsizetype i = 0; i + 18 <= all.size(); i += 18)
        if (((quint8(all[i + 3]) >> 4) & 7) == 1) german += all.mid(i, 18);
    ASSERT_FALSE(german.isEmpty());
    write(S("german.cdt"), german);
    const auto text = ReadCdText(cueWithCdTextFile(S("german"), S("german.cdt"), 3));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->language, S("German"));
    EXPECT_EQ(text->title, S("Freudvolle Nächte"));
    EXPECT_EQ(text->artist, S("Vereinigtes Katzenorchester"));
    EXPECT_EQ(text->trackTitles, strings({"Lied der Freude", "Rubbeldiekatz", "Mie auu"}));
    EXPECT_EQ(text->trackArtists,
              strings({"Felix und Die Schnurrer", "Katzengang Schönheiten", "Mia Kätzchen"}));
}

// CD-Text's pack check: CRC-16 CCITT over the first 16 bytes, inverted, high byte first.
quint16 packCrc(const QByteArray& pack) {
    quint16 crc = 0;
    for (int i = 0; i < 16; ++i) {
        crc ^= quint16(quint8(pack[i]) << 8);
        for (int bit = 0; bit < 8; ++bit) crc = quint16(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return quint16(~crc);
}

TEST_F(CdTextImages, EnglishIsPreferredWhereverItsBlockIs) {
    // The same packs with the language codes of blocks 0 and 1 swapped in the size information
    // (pack type 0x8F, its third pack, language codes at 8 and 9): block 0 now says German, block
    // 1, whose texts are the German ones, says English.
    QByteArray packs = test::fileBytes(test::sharedTestData() + S("/musicbrainz/images/libcdio/cdtext.cdt"));
    int swapped = 0;
    for (qsizetype i = 0; i + 18 <= packs.size(); i += 18) {
        QByteArray pack = packs.mid(i, 18);
        ASSERT_EQ(packCrc(pack), quint16(quint8(pack[16]) << 8 | quint8(pack[17]))) << "pack " << i / 18;
        if (quint8(pack[0]) != 0x8F || pack[1] != 2) continue;
        ASSERT_EQ(pack[8], 0x09);
        ASSERT_EQ(pack[9], 0x08);
        std::swap(pack[8], pack[9]);
        const quint16 crc = packCrc(pack);
        pack[16] = char(crc >> 8);
        pack[17] = char(crc & 0xFF);
        packs.replace(i, 18, pack);
        ++swapped;
    }
    ASSERT_GT(swapped, 0);
    write(S("swapped.cdt"), packs);
    const auto text = ReadCdText(cueWithCdTextFile(S("swapped"), S("swapped.cdt"), 3));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->language, S("English"));
    EXPECT_EQ(text->title, S("Freudvolle Nächte"));
    EXPECT_EQ(text->trackTitles, strings({"Lied der Freude", "Rubbeldiekatz", "Mie auu"}));
}

TEST_F(CdTextImages, LibburnRoundTripThroughACueSheet) {
    copy(S("libcdio/cdtext-libburnia.cdt"));
    const auto text = ReadCdText(cueWithCdTextFile(S("night"), S("cdtext-libburnia.cdt"), 3));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->language, S("English"));
    EXPECT_EQ(text->title, S("Night Cats II"));
    EXPECT_EQ(text->artist, S("United Cat Orchestra"));
    EXPECT_EQ(text->trackTitles, strings({"Song of Joy", "The Hunt", "Mee Owwww"}));
    EXPECT_EQ(text->trackArtists, strings({"Felix and The Purrs", "Catwalk Beauties", "Mia Kitten"}));
}

TEST_F(CdTextImages, KrosisTitlesAndPerformers) {
    // libcdio 2.1.0 misreads this file's songwriter, composer, arranger and ISRC fields; titles
    // and performers are all this reads.
    copy(S("libcdio/cdtext-krosis.cdt"));
    const auto text = ReadCdText(cueWithCdTextFile(S("krosis"), S("cdtext-krosis.cdt"), 10));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->title, S("A Memoir of Free Will"));
    EXPECT_EQ(text->artist, S("Krosis"));
    EXPECT_EQ(text->trackTitles,
              strings({"Gone But Not Forgotten", "Insanity A Moniker Of Me", "To Persist or Adhere",
                       "An Elegy for a Man Alive", "Psychoticlysm", "An Intramural Madness",
                       "Questions of a Holistic Divine", "With Virtue I Am Free", "Battles Are Won Within",
                       "A Memior of Free Will"}));
    EXPECT_EQ(text->trackArtists, std::vector<QString>(10, S("Krosis")));

    // One artist throughout: plain titles.
    editing::PendingAlbum album;
    album.setTrackCount(10);
    ApplyCdText(*text, album);
    EXPECT_EQ(album.artist, S("Krosis"));
    EXPECT_EQ(album.tracks[6].title, S("Questions of a Holistic Divine"));
}

TEST_F(CdTextImages, CueSheetTitleAndPerformerLines) {
    const QString cue = copy(S("libcdio/cdda.cue"));
    zeroFile(S("cdda.bin"), 710304);
    const auto text = ReadCdText(cue);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->title, S("Join us now we have the software"));
    EXPECT_EQ(text->artist, S("Richard Stallman"));
    EXPECT_EQ(text->trackTitles, strings({"Soft"}));
    EXPECT_EQ(text->trackArtists, strings({"Richard S"}));
}

TEST_F(CdTextImages, WhipperCueSheet) {
    const QString cue = copy(S("whipper/breeders.cue"));
    zeroFile(S("breeders.bin"), 36LL * 60 * 75 * kSector);
    const auto text = ReadCdText(cue);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->title, S("MOUNTAIN BATTLES"));
    EXPECT_EQ(text->artist, S("THE BREEDERS"));
    EXPECT_EQ(text->trackTitles,
              strings({"OVERGLAZED", "BANG ON", "NIGHT OF JOY", "WE'RE GONNA RISE", "GERMAN STUDIES", "SPARK",
                       "INSTANBUL", "WALK IT OFF", "REGLAME ESTA NOCHE", "HERE NO MORE", "NO WAY", "IT'S THE LOVE",
                       "MOUNTAIN BATTLES"}));
    EXPECT_EQ(text->trackArtists, std::vector<QString>(13));
}

TEST_F(CdTextImages, TocFilesLibcdioRefusesGiveNothingAndStayQuiet) {
    // The audio they name is there, so the refusal is over their CD-Text syntax.
    zeroFile(S("data.wav"), 47LL * 60 * 75 * kSector);
    zeroFile(S("data_13"), 7659744);
    for (const char* name : {"cdrdao/cdtext.toc", "cdrdao/3encodings.toc", "whipper/breeders.toc",
                             "whipper/jose.toc", "whipper/ladyhawke.toc"}) {
        SCOPED_TRACE(name);
        const QString toc = copy(S(name));
        std::string printed;
        EXPECT_FALSE(readPrinting(toc, printed));
        EXPECT_EQ(printed, "");
    }
}

TEST_F(CdTextImages, NoCdTextOrNoImageGivesNothing) {
    // A cue sheet without any text.
    write(S("plain.cue"), "FILE \"plain.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                          "  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n");
    zeroFile(S("plain.bin"), 3LL * 60 * 75 * kSector);
    EXPECT_FALSE(ReadCdText(folder.file(S("plain.cue"))));

    // A CD-Text file of random bytes, one that is not there, one cut off inside the first pack.
    std::mt19937 rng(20240611);
    QByteArray noise;
    for (int i = 0; i < 3000; ++i) noise += char(rng() & 0xFF);
    write(S("noise.cdt"), noise);
    EXPECT_FALSE(ReadCdText(cueWithCdTextFile(S("noise"), S("noise.cdt"), 3)));
    // libcdio would warn about the missing file; the caller says it in its own words.
    const QString gone = cueWithCdTextFile(S("gone"), S("gone.cdt"), 3);
    std::string printed;
    EXPECT_FALSE(readPrinting(gone, printed));
    EXPECT_EQ(printed, "");
    write(S("cut.cdt"), test::fileBytes(test::sharedTestData() + S("/musicbrainz/images/libcdio/cdtext.cdt")).left(10));
    EXPECT_FALSE(ReadCdText(cueWithCdTextFile(S("cut"), S("cut.cdt"), 3)));

    // Not images at all.
    EXPECT_FALSE(ReadCdText(QString()));
    EXPECT_FALSE(ReadCdText(folder.file(S("absent.cue"))));
    EXPECT_FALSE(ReadCdText(folder.path()));
    write(S("text.cue"), "this is no cue sheet\n");
    EXPECT_FALSE(ReadCdText(folder.file(S("text.cue"))));
}

TEST(CdTextClean, StoredAsWindows1252Trimmed) {
    // Characters outside Windows-1252 are "?" at once; those in it (umlauts, the euro) stay.
    EXPECT_EQ(CleanCdText("\xC5\x90rült Kätzchen \xE2\x82\xAC", 50), S("?rült Kätzchen €"));
    EXPECT_EQ(CleanCdText("\xE6\xB9\xBF\xE3\x81\xA3\xE3\x81\x9F\xE6\xB0\xB4", 50), S("????"));
    // Control characters: none at the ends, blanks inside.
    EXPECT_EQ(CleanCdText(" \t Night\tCats\r\nII \x01", 50), S("Night Cats  II"));
    // Cut to the width, no blank left at the cut.
    EXPECT_EQ(CleanCdText("abcd efgh", 5), S("abcd"));
    EXPECT_EQ(CleanCdText("abcdefgh", 5), S("abcde"));
    EXPECT_EQ(CleanCdText(nullptr, 50), QString());
    EXPECT_EQ(CleanCdText("   ", 50), QString());
}

editing::PendingAlbum albumWithRows(int n) {
    editing::PendingAlbum a;
    a.mode = editing::EditMode::AddCd;
    a.artist = S("Old Artist");
    a.title = S("Old Title");
    a.setTrackCount(n);
    for (int k = 0; k < n; ++k) a.tracks[size_t(k)] = {QString::number(k + 1), S(" 3:00"), S("Row %1").arg(k + 1)};
    return a;
}

CdText text(const char* artist, const char* title, std::initializer_list<const char*> titles,
            std::initializer_list<const char*> artists) {
    CdText t;
    t.artist = S(artist);
    t.title = S(title);
    t.trackTitles = strings(titles);
    t.trackArtists = strings(artists);
    return t;
}

TEST(CdTextApply, FillsWhatTheAlbumHasAndKeepsTheRest) {
    // Fewer CD-Text tracks than rows: the later rows keep their titles; an empty title keeps one too.
    editing::PendingAlbum a = albumWithRows(4);
    ApplyCdText(text("Band", "Record", {"One", "", "Three"}, {"", "", ""}), a);
    EXPECT_EQ(a.artist, S("Band"));
    EXPECT_EQ(a.title, S("Record"));
    ASSERT_EQ(a.tracks.size(), 4u);
    EXPECT_EQ(a.tracks[0].title, S("One"));
    EXPECT_EQ(a.tracks[1].title, S("Row 2"));
    EXPECT_EQ(a.tracks[2].title, S("Three"));
    EXPECT_EQ(a.tracks[3].title, S("Row 4"));
    EXPECT_EQ(a.tracks[0].time, S(" 3:00"));
    EXPECT_EQ(a.tracks[0].number, S("1"));

    // More CD-Text tracks than rows: no row is added. Empty disc fields keep the album's.
    editing::PendingAlbum b = albumWithRows(1);
    ApplyCdText(text("", "", {"First", "Second"}, {"", ""}), b);
    EXPECT_EQ(b.artist, S("Old Artist"));
    EXPECT_EQ(b.title, S("Old Title"));
    ASSERT_EQ(b.tracks.size(), 1u);
    EXPECT_EQ(b.tracks[0].title, S("First"));
}

TEST(CdTextApply, TrackPerformersAndTheMultiArtistConvention) {
    // One guest among four: the disc's artist and plain titles. Case does not make a guest.
    editing::PendingAlbum guest = albumWithRows(4);
    ApplyCdText(text("The Band", "Live", {"A", "B", "C", "D"}, {"The Band", "THE BAND", "Guest Star", ""}), guest);
    EXPECT_EQ(guest.artist, S("The Band"));
    EXPECT_EQ(guest.tracks[2].title, S("C"));

    // Half differ: various artists; the tracks of the disc's performer name it too.
    editing::PendingAlbum half = albumWithRows(4);
    ApplyCdText(text("The Band", "Friends", {"A", "B", "C", "D"}, {"The Band", "Ann", "Bob", ""}), half);
    EXPECT_EQ(half.artist, S("Various Artists"));
    EXPECT_EQ(half.title, S("Friends"));
    EXPECT_EQ(half.tracks[0].title, S("The Band / A"));
    EXPECT_EQ(half.tracks[1].title, S("Ann / B"));
    EXPECT_EQ(half.tracks[2].title, S("Bob / C"));
    EXPECT_EQ(half.tracks[3].title, S("The Band / D"));

    // A disc that says "Various" keeps its own words, and any track with a performer names it.
    editing::PendingAlbum various = albumWithRows(3);
    ApplyCdText(text("VARIOUS", "Hits", {"A", "B", "C"}, {"Ann", "", "Various"}), various);
    EXPECT_EQ(various.artist, S("VARIOUS"));
    EXPECT_EQ(various.tracks[0].title, S("Ann / A"));
    EXPECT_EQ(various.tracks[1].title, S("B"));
    EXPECT_EQ(various.tracks[2].title, S("C"));

    // No disc performer, the same one on every track: that is the album's artist.
    editing::PendingAlbum same = albumWithRows(2);
    ApplyCdText(text("", "Solo", {"A", "B"}, {"Ann", "ann"}), same);
    EXPECT_EQ(same.artist, S("Ann"));
    EXPECT_EQ(same.tracks[1].title, S("B"));

    // No disc performer, different ones: various artists.
    editing::PendingAlbum mixed = albumWithRows(2);
    ApplyCdText(text("", "Mix", {"A", "B"}, {"Ann", "Bob"}), mixed);
    EXPECT_EQ(mixed.artist, S("Various Artists"));
    EXPECT_EQ(mixed.tracks[1].title, S("Bob / B"));

    // The joined title is cut to the track title's width.
    editing::PendingAlbum longer = albumWithRows(2);
    const QString song(70, QLatin1Char('s'));
    CdText t = text("", "", {"", ""}, {"Ann", "Bob"});
    t.trackTitles = {song, S("B")};
    ApplyCdText(t, longer);
    EXPECT_EQ(longer.tracks[0].title, (S("Ann / ") + song).left(disc::kCdTextTrackTitleWidth));
    EXPECT_EQ(longer.tracks[0].title.size(), disc::kCdTextTrackTitleWidth);
}

TEST(CdTextApply, EmptyMeansNothingUsable) {
    EXPECT_TRUE(CdText{}.empty());
    CdText t;
    t.language = S("English");
    t.trackTitles = {QString(), QString()};
    t.trackArtists = {QString(), QString()};
    EXPECT_TRUE(t.empty());
    t.trackArtists[1] = S("Ann");
    EXPECT_FALSE(t.empty());
}

}  // namespace
