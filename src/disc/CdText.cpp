#include "CdText.h"

#include "CdioSource.h"
#include "Codepage.h"
#include "UDiscIdCalcDefs.h"

#include <cdio/cdtext.h>

#include <algorithm>

namespace albumora::disc {
namespace {

const QString kVariousArtists = QStringLiteral("Various Artists");

bool isVarious(const QString& artist) {
    return store::asciiUpper(artist.left(7)) == QLatin1String("VARIOUS");
}

bool sameArtist(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString joined(const QString& artist, const QString& title) {
    if (artist.isEmpty()) return title;
    if (title.isEmpty()) return {};
    return store::trimControl((artist + QStringLiteral(" / ") + title).left(kCdTextTrackTitleWidth));
}

// The language blocks to try, best first: English, then the others in libcdio's order.
std::vector<int> blockOrder(cdtext_t* text) {
    std::vector<int> order;
    const cdtext_lang_t* langs = cdtext_list_languages_v2(text);
    if (!langs) return order;
    for (int i = 0; i < 8; ++i)
        if (langs[i] == CDTEXT_LANGUAGE_ENGLISH) order.push_back(i);
    for (int i = 0; i < 8; ++i)
        if (langs[i] != CDTEXT_LANGUAGE_ENGLISH && langs[i] != CDTEXT_LANGUAGE_BLOCK_UNUSED) order.push_back(i);
    return order;
}

QString languageName(cdtext_lang_t code) {
    // Above the real codes libcdio has only its own markers, which name no language.
    if (code > CDTEXT_LANGUAGE_AMHARIC) return {};
    const char* name = cdtext_lang2str(code);
    return name ? QString::fromLatin1(name) : QString();
}

}  // namespace

bool CdText::empty() const {
    auto blank = [](const std::vector<QString>& v) {
        return std::all_of(v.begin(), v.end(), [](const QString& s) { return s.isEmpty(); });
    };
    return artist.isEmpty() && title.isEmpty() && blank(trackTitles) && blank(trackArtists);
}

QString CleanCdText(const char* utf8, int width) {
    if (!utf8) return {};
    QString s = store::fromCp1252(store::toCp1252(QString::fromUtf8(utf8)));
    // A line break or tab inside a name would end up inside a table field.
    for (QChar& c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QLatin1Char(' ');
    return store::trimControl(store::trimControl(s).left(width));
}

std::optional<CdText> ReadCdText(const QString& path) {
    detail::CdioHandle cd = detail::OpenCdSource(path);
    if (!cd) return std::nullopt;
    const track_t first = cdio_get_first_track_num(cd.get());
    const track_t count = cdio_get_num_tracks(cd.get());
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) return std::nullopt;
    const int tracks = std::min<int>(count, kMaxTracks);
    // Owned by the handle.
    cdtext_t* raw = cdio_get_cdtext(cd.get());
    if (!raw) return std::nullopt;

    for (int block : blockOrder(raw)) {
        if (!cdtext_set_language_index(raw, block)) continue;
        CdText text;
        text.language = languageName(cdtext_get_language(raw));
        text.artist = CleanCdText(cdtext_get_const(raw, CDTEXT_FIELD_PERFORMER, 0), kCdTextArtistWidth);
        text.title = CleanCdText(cdtext_get_const(raw, CDTEXT_FIELD_TITLE, 0), kCdTextTitleWidth);
        // libcdio 2.1.0 reports track range 0..0 for the CD-Text of cue sheets and .toc files,
        // so the disc's own track numbers are asked instead.
        for (int n = 0; n < tracks; ++n) {
            const auto track = track_t(first + n);
            text.trackTitles.push_back(
                CleanCdText(cdtext_get_const(raw, CDTEXT_FIELD_TITLE, track), kCdTextTrackTitleWidth));
            text.trackArtists.push_back(
                CleanCdText(cdtext_get_const(raw, CDTEXT_FIELD_PERFORMER, track), kCdTextArtistWidth));
        }
        if (!text.empty()) return text;
    }
    return std::nullopt;
}

void ApplyCdText(const CdText& text, editing::PendingAlbum& album) {
    const size_t count = std::min(text.trackTitles.size(), text.trackArtists.size());
    QString discArtist = text.artist;
    if (discArtist.isEmpty() && count > 0 && !text.trackArtists.front().isEmpty() &&
        std::all_of(text.trackArtists.begin(), text.trackArtists.begin() + std::ptrdiff_t(count),
                    [&](const QString& a) { return sameArtist(a, text.trackArtists.front()); }))
        discArtist = text.trackArtists.front();

    size_t differing = 0;
    for (size_t k = 0; k < count; ++k)
        if (!text.trackArtists[k].isEmpty() && !sameArtist(text.trackArtists[k], discArtist)) ++differing;
    const bool various = isVarious(discArtist);
    const bool mostDiffer = differing > 0 && 2 * differing >= count;
    const bool withPerformers = various || mostDiffer;

    if (mostDiffer && !various)
        album.artist = kVariousArtists;
    else if (!discArtist.isEmpty())
        album.artist = discArtist;
    if (!text.title.isEmpty()) album.title = text.title;

    const size_t rows = std::min(album.tracks.size(), text.trackTitles.size());
    for (size_t k = 0; k < rows; ++k) {
        QString title = text.trackTitles[k];
        if (withPerformers && k < count) {
            // A track of the disc's own performer names it, unless that is "Various" itself.
            const QString& own = text.trackArtists[k];
            const bool disc = own.isEmpty() || sameArtist(own, discArtist);
            title = joined(!disc ? own : various ? QString() : discArtist, title);
        }
        if (!title.isEmpty()) album.tracks[k].title = title;
    }
}

}  // namespace albumora::disc
