#include "MusicBrainz.h"

#include "Codepage.h"
#include "DMcd.h"

#include <discid/discid.h>

#include <QDomDocument>
#include <QDomElement>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <algorithm>
#include <memory>

namespace albumora::disc {

using store::ErrorKind;
using store::Result;
using store::Status;

namespace {

constexpr int kAlbumTextWidth = 50;
constexpr int kTrackTextWidth = 73;
// The gap the second session of an enhanced CD starts after.
constexpr int kSessionGapFrames = 11400;

Status badAnswer(const QString& why) {
    return Status(ErrorKind::Corruption, QStringLiteral("The MusicBrainz answer cannot be read: ") + why);
}

// ---------------------------------------------------------------------------------------------
// XML

QDomElement child(const QDomElement& e, const char* name) {
    return e.firstChildElement(QString::fromLatin1(name));
}
QString text(const QDomElement& e, const char* name) {
    return child(e, name).text();
}
std::vector<QDomElement> children(const QDomElement& e, const char* name) {
    std::vector<QDomElement> out;
    for (QDomElement c = e.firstChildElement(QString::fromLatin1(name)); !c.isNull();
         c = c.nextSiblingElement(QString::fromLatin1(name)))
        out.push_back(c);
    return out;
}
// The items of "<x-list><x>...": a list element and its item name.
std::vector<QDomElement> listItems(const QDomElement& e, const char* list, const char* item) {
    return children(child(e, list), item);
}

struct Credit {
    QString text;
    QString firstId;
    QStringList ids;
};

Credit xmlCredit(const QDomElement& owner) {
    Credit c;
    for (const QDomElement& nc : children(child(owner, "artist-credit"), "name-credit")) {
        const QDomElement artist = child(nc, "artist");
        const QString name = child(nc, "name").isNull() ? text(artist, "name") : text(nc, "name");
        if (c.firstId.isEmpty()) c.firstId = artist.attribute(QStringLiteral("id"));
        if (!artist.attribute(QStringLiteral("id")).isEmpty()) c.ids << artist.attribute(QStringLiteral("id"));
        c.text += name + nc.attribute(QStringLiteral("joinphrase"));
    }
    return c;
}

// Names of "<genre-list>" or "<tag-list>" items, most votes first (the order kept among equals).
QStringList xmlVoted(const QDomElement& owner, const char* list, const char* item) {
    std::vector<std::pair<int, QString>> voted;
    for (const QDomElement& g : listItems(owner, list, item))
        voted.emplace_back(g.attribute(QStringLiteral("count"), QStringLiteral("0")).toInt(), text(g, "name"));
    std::stable_sort(voted.begin(), voted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList out;
    for (const auto& [n, name] : voted)
        if (!name.isEmpty()) out << name;
    return out;
}

mb::Release xmlRelease(const QDomElement& r) {
    mb::Release rel;
    rel.id = r.attribute(QStringLiteral("id"));
    rel.title = text(r, "title");
    const Credit credit = xmlCredit(r);
    rel.artist = credit.text;
    rel.artistId = credit.firstId;
    rel.date = text(r, "date");
    rel.country = text(r, "country");
    rel.status = text(r, "status");
    for (const QDomElement& li : listItems(r, "label-info-list", "label-info")) {
        const QString name = text(child(li, "label"), "name");
        if (!name.isEmpty() && !rel.labels.contains(name)) rel.labels << name;
    }
    const QDomElement group = child(r, "release-group");
    for (const QStringList& names : {xmlVoted(group, "genre-list", "genre"), xmlVoted(r, "genre-list", "genre"),
                                     xmlVoted(group, "tag-list", "tag"), xmlVoted(r, "tag-list", "tag")})
        for (const QString& n : names)
            if (!rel.genres.contains(n)) rel.genres << n;
    if (rel.artist.isEmpty()) {
        const Credit g = xmlCredit(group);
        rel.artist = g.text;
        rel.artistId = g.firstId;
    }
    for (const QDomElement& m : listItems(r, "medium-list", "medium")) {
        mb::Medium medium;
        medium.position = text(m, "position").toInt();
        medium.title = text(m, "title");
        medium.format = text(m, "format");
        for (const QDomElement& d : listItems(m, "disc-list", "disc")) medium.discIds << d.attribute(QStringLiteral("id"));
        const QDomElement trackList = child(m, "track-list");
        medium.trackCount = trackList.attribute(QStringLiteral("count")).toInt();
        for (const QDomElement& t : children(trackList, "track")) {
            mb::Track track;
            const QDomElement rec = child(t, "recording");
            track.position = text(t, "position").toInt();
            track.number = text(t, "number");
            track.title = child(t, "title").isNull() ? text(rec, "title") : text(t, "title");
            const Credit own = xmlCredit(t);
            const Credit recCredit = xmlCredit(rec);
            track.artist = own.text.isEmpty() ? recCredit.text : own.text;
            track.artistId = own.text.isEmpty() ? recCredit.firstId : own.firstId;
            track.artistIds = own.text.isEmpty() ? recCredit.ids : own.ids;
            bool ok = false;
            const QString length = child(t, "length").isNull() ? text(rec, "length") : text(t, "length");
            track.lengthMs = length.toLongLong(&ok);
            if (!ok) track.lengthMs = -1;
            medium.tracks.push_back(track);
        }
        if (medium.trackCount < int(medium.tracks.size())) medium.trackCount = int(medium.tracks.size());
        rel.media.push_back(medium);
    }
    return rel;
}

// Answers are a few levels deep. A document nested far deeper (a hostile server's) would take
// the tree builder minutes and its stack, so it is refused after one cheap streaming pass, and
// so is a document type declaration, which no answer has and which could declare entities.
constexpr int kMaxXmlDepth = 64;

Status xmlShape(const QByteArray& body) {
    QXmlStreamReader reader(body);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                if (++depth > kMaxXmlDepth) return badAnswer(QStringLiteral("it is nested deeper than %1 levels.").arg(kMaxXmlDepth));
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::DTD:
                return badAnswer(QStringLiteral("it holds a document type declaration."));
            default:
                break;
        }
    }
    if (reader.hasError())
        return badAnswer(QStringLiteral("%1 (line %2).").arg(reader.errorString()).arg(reader.lineNumber()));
    return Status::ok();
}

Result<QDomElement> xmlRoot(const QByteArray& body) {
    ALB_TRY(xmlShape(body));
    QDomDocument doc;
    QString message;
    int line = 0;
    if (!doc.setContent(body, &message, &line))
        return badAnswer(QStringLiteral("%1 (line %2).").arg(message).arg(line));
    QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("metadata"))
        return badAnswer(QStringLiteral("it is no MusicBrainz metadata document."));
    return root;
}

// ---------------------------------------------------------------------------------------------
// JSON

Credit jsonCredit(const QJsonObject& owner) {
    Credit c;
    for (const QJsonValue v : owner.value(QLatin1String("artist-credit")).toArray()) {
        const QJsonObject nc = v.toObject();
        const QJsonObject artist = nc.value(QLatin1String("artist")).toObject();
        QString name = nc.value(QLatin1String("name")).toString();
        if (name.isEmpty()) name = artist.value(QLatin1String("name")).toString();
        if (c.firstId.isEmpty()) c.firstId = artist.value(QLatin1String("id")).toString();
        if (!artist.value(QLatin1String("id")).toString().isEmpty()) c.ids << artist.value(QLatin1String("id")).toString();
        c.text += name + nc.value(QLatin1String("joinphrase")).toString();
    }
    return c;
}

QStringList jsonVoted(const QJsonObject& owner, const char* key) {
    std::vector<std::pair<int, QString>> voted;
    for (const QJsonValue v : owner.value(QLatin1String(key)).toArray()) {
        const QJsonObject g = v.toObject();
        voted.emplace_back(g.value(QLatin1String("count")).toInt(), g.value(QLatin1String("name")).toString());
    }
    std::stable_sort(voted.begin(), voted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList out;
    for (const auto& [n, name] : voted)
        if (!name.isEmpty()) out << name;
    return out;
}

qint64 jsonLength(const QJsonValue& v) {
    return v.isDouble() ? qint64(v.toDouble()) : -1;
}

mb::Release jsonRelease(const QJsonObject& r) {
    mb::Release rel;
    rel.id = r.value(QLatin1String("id")).toString();
    rel.title = r.value(QLatin1String("title")).toString();
    const Credit credit = jsonCredit(r);
    rel.artist = credit.text;
    rel.artistId = credit.firstId;
    rel.date = r.value(QLatin1String("date")).toString();
    rel.country = r.value(QLatin1String("country")).toString();
    rel.status = r.value(QLatin1String("status")).toString();
    for (const QJsonValue v : r.value(QLatin1String("label-info")).toArray()) {
        const QString name = v.toObject().value(QLatin1String("label")).toObject().value(QLatin1String("name")).toString();
        if (!name.isEmpty() && !rel.labels.contains(name)) rel.labels << name;
    }
    const QJsonObject group = r.value(QLatin1String("release-group")).toObject();
    for (const QStringList& names : {jsonVoted(group, "genres"), jsonVoted(r, "genres"), jsonVoted(group, "tags"),
                                     jsonVoted(r, "tags")})
        for (const QString& n : names)
            if (!rel.genres.contains(n)) rel.genres << n;
    if (rel.artist.isEmpty()) {
        const Credit g = jsonCredit(group);
        rel.artist = g.text;
        rel.artistId = g.firstId;
    }
    for (const QJsonValue mv : r.value(QLatin1String("media")).toArray()) {
        const QJsonObject m = mv.toObject();
        mb::Medium medium;
        medium.position = m.value(QLatin1String("position")).toInt();
        medium.title = m.value(QLatin1String("title")).toString();
        medium.format = m.value(QLatin1String("format")).toString();
        for (const QJsonValue d : m.value(QLatin1String("discs")).toArray())
            medium.discIds << d.toObject().value(QLatin1String("id")).toString();
        medium.trackCount = m.value(QLatin1String("track-count")).toInt();
        for (const QJsonValue tv : m.value(QLatin1String("tracks")).toArray()) {
            const QJsonObject t = tv.toObject();
            const QJsonObject rec = t.value(QLatin1String("recording")).toObject();
            mb::Track track;
            track.position = t.value(QLatin1String("position")).toInt();
            track.number = t.value(QLatin1String("number")).toString();
            track.title = t.contains(QLatin1String("title")) ? t.value(QLatin1String("title")).toString()
                                                             : rec.value(QLatin1String("title")).toString();
            const Credit own = jsonCredit(t);
            const Credit recCredit = jsonCredit(rec);
            track.artist = own.text.isEmpty() ? recCredit.text : own.text;
            track.artistId = own.text.isEmpty() ? recCredit.firstId : own.firstId;
            track.artistIds = own.text.isEmpty() ? recCredit.ids : own.ids;
            track.lengthMs = jsonLength(t.value(QLatin1String("length")));
            if (track.lengthMs < 0) track.lengthMs = jsonLength(rec.value(QLatin1String("length")));
            medium.tracks.push_back(track);
        }
        if (medium.trackCount < int(medium.tracks.size())) medium.trackCount = int(medium.tracks.size());
        rel.media.push_back(medium);
    }
    return rel;
}

Result<QJsonObject> jsonRoot(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return badAnswer(QStringLiteral("%1 (at byte %2).").arg(error.errorString()).arg(error.offset));
    if (!doc.isObject()) return badAnswer(QStringLiteral("it is not a JSON object."));
    return doc.object();
}

bool looksLikeJson(const QByteArray& body) {
    for (char c : body) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == '{' || c == '[';
    }
    return false;
}

// Releases without an ID cannot be looked up or told apart: an answer of such is unusable.
Status checkReleases(const std::vector<mb::Release>& releases) {
    for (const mb::Release& r : releases)
        if (r.id.isEmpty()) return badAnswer(QStringLiteral("a release has no ID."));
    return Status::ok();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

Result<MbDiscToc> ComputeMbDiscId(const DiscToc& toc) {
    int audio = toc.trackCount - toc.dataTracksAtEnd;
    if (toc.trackCount == 0 || audio < 1) return Status(ErrorKind::InvalidArgument, QStringLiteral("The disc has no audio track."));
    int leadOut = toc.entries[0].frames();
    if (audio < toc.trackCount) leadOut = toc.entries[size_t(audio + 1)].frames() - kSessionGapFrames;
    int offsets[100] = {};
    offsets[0] = leadOut;
    for (int n = 1; n <= audio; ++n) offsets[n] = toc.entries[size_t(n)].frames();
    std::unique_ptr<DiscId, void (*)(DiscId*)> d(discid_new(), discid_free);
    if (!d) return Status(ErrorKind::IoError, QStringLiteral("libdiscid could not start."));
    if (!discid_put(d.get(), 1, audio, offsets))
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("The disc's table of contents is not one MusicBrainz accepts: %1")
                          .arg(QString::fromUtf8(discid_get_error_msg(d.get()))));
    MbDiscToc out;
    out.discId = QString::fromLatin1(discid_get_id(d.get()));
    out.tocText = QString::fromLatin1(discid_get_toc_string(d.get()));
    out.audioTracks = audio;
    return out;
}

Result<mb::DiscAnswer> ParseMbDiscAnswer(const QByteArray& body) {
    mb::DiscAnswer answer;
    if (looksLikeJson(body)) {
        Result<QJsonObject> root = jsonRoot(body);
        if (!root) return root.error();
        if (root->contains(QLatin1String("error")))
            return badAnswer(QStringLiteral("it is an error: ") + root->value(QLatin1String("error")).toString());
        answer.discId = root->value(QLatin1String("id")).toString();
        // A CD stub (what users once entered for a disc without a release) is no release: the
        // disc counts as unknown.
        for (const QJsonValue v : root->value(QLatin1String("releases")).toArray())
            answer.releases.push_back(jsonRelease(v.toObject()));
    } else {
        Result<QDomElement> root = xmlRoot(body);
        if (!root) return root.error();
        const QDomElement disc = child(*root, "disc");
        // A CD stub (what users once entered for a disc without a release) is no release: the
        // disc counts as unknown.
        if (disc.isNull() && !child(*root, "cdstub").isNull()) return answer;
        answer.discId = disc.attribute(QStringLiteral("id"));
        const QDomElement list = disc.isNull() ? child(*root, "release-list") : child(disc, "release-list");
        if (list.isNull() && disc.isNull()) return badAnswer(QStringLiteral("it holds neither a disc nor a release list."));
        for (const QDomElement& r : children(list, "release")) answer.releases.push_back(xmlRelease(r));
    }
    if (Status s = checkReleases(answer.releases); !s) return s;
    return answer;
}

Result<mb::Release> ParseMbRelease(const QByteArray& body) {
    mb::Release release;
    if (looksLikeJson(body)) {
        Result<QJsonObject> root = jsonRoot(body);
        if (!root) return root.error();
        release = jsonRelease(*root);
    } else {
        Result<QDomElement> root = xmlRoot(body);
        if (!root) return root.error();
        const QDomElement r = child(*root, "release");
        if (r.isNull()) return badAnswer(QStringLiteral("it holds no release."));
        release = xmlRelease(r);
    }
    if (Status s = checkReleases({release}); !s) return s;
    return release;
}

QString ParseMbError(const QByteArray& body) {
    if (looksLikeJson(body)) {
        const QJsonDocument doc = QJsonDocument::fromJson(body);
        return doc.object().value(QLatin1String("error")).toString();
    }
    QDomDocument doc;
    if (!xmlShape(body).isOk() || !doc.setContent(body)) return {};
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("error")) return {};
    QStringList texts;
    for (const QDomElement& t : children(root, "text"))
        if (!t.text().contains(QLatin1String("For usage"))) texts << t.text().trimmed();
    return texts.join(QLatin1Char(' '));
}

int MediumForDisc(const mb::Release& release, const QString& discId, int audioTracks) {
    if (release.media.empty()) return -1;
    for (size_t i = 0; i < release.media.size(); ++i)
        if (!discId.isEmpty() && release.media[i].discIds.contains(discId)) return int(i);
    for (size_t i = 0; i < release.media.size(); ++i)
        if (release.media[i].trackCount == audioTracks) return int(i);
    return 0;
}

QString MbChoiceLine(const mb::Release& release, int medium) {
    QStringList details;
    if (!release.country.isEmpty()) details << release.country;
    if (!release.date.isEmpty()) details << release.date;
    if (!release.labels.isEmpty()) details << release.labels.join(QStringLiteral(", "));
    if (medium >= 0 && medium < release.mediumCount()) {
        const mb::Medium& m = release.media[size_t(medium)];
        if (!m.format.isEmpty()) details << m.format;
        if (release.mediumCount() > 1)
            details << QStringLiteral("medium %1 of %2").arg(m.position > 0 ? m.position : medium + 1).arg(release.mediumCount());
    }
    QString line = QStringLiteral("MusicBrainz: ") + (release.artist.isEmpty() ? QString() : release.artist + QStringLiteral(" / ")) +
                   release.title;
    if (!details.isEmpty()) line += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    return ToStorable(line);
}

QString ToStorable(const QString& text) {
    return store::fromCp1252(store::toCp1252(text));
}

QString MbGenre(const mb::Release& release, const QStringList& genreList, const QString& defaultGenre) {
    for (const QString& g : release.genres)
        for (const QString& entry : genreList)
            if (entry.compare(g, Qt::CaseInsensitive) == 0) return entry;
    return defaultGenre;
}

void FillFromRelease(const mb::Release& release, int medium, const QString& mbDiscId, const QStringList& genreList,
                     const QString& defaultGenre, editing::PendingAlbum& album) {
    const auto field = [](const QString& t, int width) { return ToStorable(store::trimControl(t)).left(width); };
    const mb::Medium* m = medium >= 0 && medium < release.mediumCount() ? &release.media[size_t(medium)] : nullptr;

    // Multi-artist when the release is credited to Various Artists, or when at least half of
    // its tracks are by someone else: a guest on one track does not make a compilation.
    // A track is someone else's when the release's artist is not among its credited artists
    // ("X feat. Y" is still X's); without IDs the credits are compared as printed.
    int others = 0;
    if (m)
        for (const mb::Track& t : m->tracks) {
            if (t.artist.isEmpty()) continue;
            const bool byIds = !release.artistId.isEmpty() && !t.artistIds.isEmpty();
            if (byIds ? !t.artistIds.contains(release.artistId) : t.artist != release.artist) ++others;
        }
    const bool various = release.artistId == kVariousArtistsMbid ||
                         store::asciiUpper(release.artist.left(7)) == QLatin1String("VARIOUS") ||
                         (m && !m->tracks.empty() && others * 2 >= int(m->tracks.size()));
    album.artist = field(release.artist, kAlbumTextWidth);
    if (various && !album.isMultiArtist()) album.artist = QStringLiteral("Various Artists");
    album.selectArtist = false;

    QString title = release.title;
    if (m && release.mediumCount() > 1)
        title += m->title.isEmpty() ? QStringLiteral(" (disc %1)").arg(m->position > 0 ? m->position : medium + 1)
                                    : QStringLiteral(" (") + m->title + QLatin1Char(')');
    album.title = field(title, kAlbumTextWidth);
    const QString year = release.date.left(4);
    album.year = year.size() == 4 && std::all_of(year.begin(), year.end(), [](QChar c) { return c.isDigit(); }) ? year : QString();
    album.genre = MbGenre(release, genreList, defaultGenre);
    album.rev = QStringLiteral("0");
    album.sys = QChar(kMusicBrainzSource);

    QStringList notes;
    notes << kMbidTag + release.id;
    if (!mbDiscId.isEmpty()) notes << kMbDiscIdTag + mbDiscId;
    album.notes = notes.join(QStringLiteral("\r\n"));

    if (!m || m->tracks.empty()) return;
    // The rows the disc's TOC made stay the grid, with their times: the disc is what it is.
    // Without them (a release filled apart from a disc) the medium's tracks make the rows.
    if (album.tracks.empty())
        for (const mb::Track& t : m->tracks)
            album.tracks.push_back({store::TDM::PadNumber(t.position, 3),
                                    t.lengthMs >= 0 ? store::TDM::FormatTrackTime((t.lengthMs + 500) / 1000, 2) : QString(),
                                    QString()});
    for (size_t i = 0; i < album.tracks.size(); ++i) {
        if (i >= m->tracks.size()) break;
        const mb::Track& t = m->tracks[i];
        const QString song = various && !t.artist.isEmpty() ? t.artist + QStringLiteral(" / ") + t.title : t.title;
        album.tracks[i].title = field(song, kTrackTextWidth);
        if (album.tracks[i].time.trimmed().isEmpty() && t.lengthMs >= 0)
            album.tracks[i].time = store::TDM::FormatTrackTime((t.lengthMs + 500) / 1000, 2);
    }
}

}  // namespace albumora::disc
