#include "TrackView.h"

#include "DMcd.h"
#include "ExportFormat.h"
#include "File.h"
#include "Journal.h"
#include "Layouts.h"
#include "OutFile.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include <unistd.h>

namespace albumora::views {

using store::Cursor;
using store::ErrorKind;
using store::Result;
using store::Status;
using store::Table;

const std::vector<std::pair<QString, QString>>& TrackViewTags() {
    static const std::vector<std::pair<QString, QString>> tags = {
        {QStringLiteral("Track"), QStringLiteral("upper(Track)")},
        {QStringLiteral("Artist"), QStringLiteral("upper(Artist)+left(upper(Track),12)")},
        {QStringLiteral("Album"), QStringLiteral("upper(Album)")},
    };
    return tags;
}

const QStringList& TrackViewFields() {
    static const QStringList fields = {QStringLiteral("TRACK"), QStringLiteral("ALBUM"), QStringLiteral("ARTIST"), QStringLiteral("GENRE"),
                                       QStringLiteral("YR"),    QStringLiteral("LABEL"), QStringLiteral("MC"),     QStringLiteral("INDEX"),
                                       QStringLiteral("ID"),    QStringLiteral("NR"),    QStringLiteral("sec"),    QStringLiteral("Time"),
                                       QStringLiteral("x"),     QStringLiteral("marked")};
    return fields;
}

namespace tviewmsg {
QString BaseStatus(qint64 rows) { return QStringLiteral("One row for each of the %1 tracks").arg(rows); }
QString FilterStatus(qint64 rows, const QString& expression) {
    return QString::number(rows) + QStringLiteral(" tracks pass filter: ") + expression;
}
}  // namespace tviewmsg

// ---------------------------------------------------------------------------------------------
// Building the work table

namespace {

struct Field {
    int offset = 0;
    int length = 0;
    std::string_view of(const std::string& rec) const { return {rec.data() + offset, size_t(length)}; }
};

Result<Field> fieldOf(const Table& t, const char* name, int maxLength = 0) {
    const int i = t.fieldIndex(QString::fromLatin1(name));
    if (i < 0) return Status(ErrorKind::NotFound, QStringLiteral("%1 has no field %2").arg(QFileInfo(t.path()).fileName(), QString::fromLatin1(name)), t.path());
    const store::FieldDef& f = t.fields()[size_t(i)];
    if (maxLength > 0 && f.length > maxLength)
        return Status(ErrorKind::Unsupported,
                      QStringLiteral("The field %1 of %2 is wider than the collection's (%3 characters)")
                          .arg(QString::fromLatin1(name), QFileInfo(t.path()).fileName())
                          .arg(f.length),
                      t.path());
    return Field{f.offset, f.length};
}

// IDs and track numbers packed big-endian and blank-padded, so that comparing the integers
// compares the bytes as the ID+NR tag does.
std::uint64_t packed(std::string_view bytes, size_t width) {
    std::uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | std::uint8_t(i < bytes.size() ? bytes[i] : ' ');
    return v;
}

std::string_view trimmedRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    return s;
}

// Blanks and control characters off both ends, as the program trims everywhere.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::uint8_t(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && std::uint8_t(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

void put(std::string& rec, const Field& f, std::string_view v) {
    const size_t n = std::min(v.size(), size_t(f.length));
    std::memcpy(rec.data() + f.offset, v.data(), n);
    std::memset(rec.data() + f.offset + n, ' ', size_t(f.length) - n);
}

struct TrackRef {
    std::uint64_t id;
    std::uint32_t nr;
    std::uint32_t recno;
    bool operator<(const TrackRef& o) const {
        if (id != o.id) return id < o.id;
        if (nr != o.nr) return nr < o.nr;
        return recno < o.recno;
    }
};

struct PlaylistKey {
    std::uint64_t id;
    std::uint32_t nr;
    bool operator<(const PlaylistKey& o) const { return id != o.id ? id < o.id : nr < o.nr; }
    bool operator==(const PlaylistKey& o) const { return id == o.id && nr == o.nr; }
};

// Rows of a table in file order, deleted ones left out.
Status eachLiveRow(Table& t, const std::function<Status(std::uint32_t, const std::string&)>& row) {
    std::string rec;
    const std::uint32_t n = t.recordCount();
    for (std::uint32_t r = 1; r <= n; ++r) {
        ALB_TRY(t.readRecord(r, rec));
        if (rec[0] == '*') continue;
        ALB_TRY(row(r, rec));
    }
    return {};
}

// A build folder of a process that is gone belongs to nobody.
void removeDeadBuildFolders(const QString& dataFolder) {
    QDir dir(dataFolder);
    for (const QString& name : dir.entryList({QStringLiteral(".TVIEW.*.build")}, QDir::Dirs | QDir::Hidden)) {
        bool ok = false;
        const long pid = name.section(QLatin1Char('.'), 2, 2).toLong(&ok);
        if (!ok || pid <= 0 || pid == long(::getpid())) continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        QDir(dir.filePath(name)).removeRecursively();
    }
}

class Builder {
public:
    Builder(store::TDM& dm, const StatusLine& status, const BuildProgress& progress, bool checkStale)
        : dm_(dm), status_(status), progress_(progress), checkStale_(checkStale) {}

    // stale: set when another program committed while the table was built (a save or a confirm
    // that asked for a new table); nothing is put in place then.
    Result<BuildResult> run(bool& stale) {
        say(tviewmsg::kBuilding);
        removeDeadBuildFolders(dm_.dataFolder());
        const QString buildDir = QDir(dm_.dataFolder()).filePath(QStringLiteral(".TVIEW.%1.build").arg(::getpid()));
        QDir(buildDir).removeRecursively();
        if (!QDir().mkpath(buildDir))
            return Status(ErrorKind::IoError, QStringLiteral("Cannot create the folder %1").arg(buildDir), buildDir);
        ALB_ASSIGN_OR_RETURN(startCount_, store::Folder::of(dm_.dataFolder())->commitCount());
        Result<BuildResult> r = buildIn(buildDir);
        stale = stale_;
        QDir(buildDir).removeRecursively();
        return r;
    }

private:
    void say(const QString& s) {
        if (status_) status_(s);
    }

    Result<std::shared_ptr<Table>> openSource(const QString& file) {
        const QString path = dm_.tablePath(file);
        if (!store::fileExists(path)) return Status(ErrorKind::NotFound, QStringLiteral("%1 is missing").arg(file), path);
        return Table::open(path, store::OpenMode::Shared);
    }

    Status loadAlbums(Table& albums) {
        ALB_ASSIGN_OR_RETURN(const Field id, fieldOf(albums, "ID", 8));
        ALB_ASSIGN_OR_RETURN(albumTitle_, fieldOf(albums, "Album"));
        ALB_ASSIGN_OR_RETURN(albumGenre_, fieldOf(albums, "Genre"));
        ALB_ASSIGN_OR_RETURN(albumYear_, fieldOf(albums, "YR"));
        return eachLiveRow(albums, [&](std::uint32_t, const std::string& rec) -> Status {
            // The first row of an ID is the one a seek finds.
            if (albumAt_.emplace(packed(id.of(rec), 8), albumBytes_.size()).second) {
                albumBytes_.append(albumTitle_.of(rec));
                albumBytes_.append(albumGenre_.of(rec));
                albumBytes_.append(albumYear_.of(rec));
            }
            return {};
        });
    }

    Status loadTracks(Table& tracks) {
        ALB_ASSIGN_OR_RETURN(const Field id, fieldOf(tracks, "ID", 8));
        ALB_ASSIGN_OR_RETURN(const Field nr, fieldOf(tracks, "NR", 4));
        ALB_ASSIGN_OR_RETURN(trackTitle_, fieldOf(tracks, "Track"));
        ALB_ASSIGN_OR_RETURN(trackSecs_, fieldOf(tracks, "Secs"));
        trackNr_ = nr;
        refs_.reserve(tracks.recordCount());
        ALB_TRY(eachLiveRow(tracks, [&](std::uint32_t recno, const std::string& rec) -> Status {
            refs_.push_back({packed(id.of(rec), 8), std::uint32_t(packed(nr.of(rec), 4)), recno});
            return {};
        }));
        std::sort(refs_.begin(), refs_.end());
        return {};
    }

    Status loadPlaylist(Table& playlist) {
        ALB_ASSIGN_OR_RETURN(const Field id, fieldOf(playlist, "ID", 8));
        ALB_ASSIGN_OR_RETURN(const Field nr, fieldOf(playlist, "NR", 4));
        ALB_TRY(eachLiveRow(playlist, [&](std::uint32_t, const std::string& rec) -> Status {
            marks_.push_back({packed(id.of(rec), 8), std::uint32_t(packed(nr.of(rec), 4))});
            return {};
        }));
        std::sort(marks_.begin(), marks_.end());
        return {};
    }

    bool marked(std::uint64_t id, std::uint32_t nr) const { return std::binary_search(marks_.begin(), marks_.end(), PlaylistKey{id, nr}); }

    Result<BuildResult> buildIn(const QString& buildDir) {
        ALB_ASSIGN_OR_RETURN(auto albums, openSource(QStringLiteral("ALBUMS.DBF")));
        ALB_ASSIGN_OR_RETURN(auto tracks, openSource(QStringLiteral("TRACKS.DBF")));
        ALB_ASSIGN_OR_RETURN(auto playlist, openSource(QStringLiteral("PLAYLIST.DBF")));
        ALB_TRY(loadAlbums(*albums));
        ALB_TRY(loadTracks(*tracks));
        ALB_TRY(loadPlaylist(*playlist));

        // The artists in the order of their Artist tag: the order the view's rows were always
        // appended in.
        Cursor artists(QStringLiteral("tblTViewArtists"));
        artists.setTablePath(dm_.tablePath(QStringLiteral("ARTISTS.DBF")));
        ALB_TRY(artists.setOrder(QStringLiteral("Artist")));
        ALB_TRY(artists.open());
        Table& artistTable = *artists.table();
        ALB_ASSIGN_OR_RETURN(const Field artistId, fieldOf(artistTable, "ID", 8));
        ALB_ASSIGN_OR_RETURN(const Field artistNr, fieldOf(artistTable, "NR", 4));
        ALB_ASSIGN_OR_RETURN(const Field artistName, fieldOf(artistTable, "Artist"));

        const QString dbf = QDir(buildDir).filePath(kTViewFile);
        ALB_ASSIGN_OR_RETURN(auto defs, store::parseFieldList(store::TDM::kTViewFields));
        ALB_TRY(Table::create(dbf, defs));
        ALB_ASSIGN_OR_RETURN(auto view, Table::open(dbf, store::OpenMode::Exclusive));
        Field out[9];
        const char* names[] = {"Track", "Artist", "Album", "Genre", "YR", "ID", "NR", "marked", "sec"};
        for (int i = 0; i < 9; ++i) {
            ALB_ASSIGN_OR_RETURN(out[i], fieldOf(*view, names[i]));
        }
        enum { kTrack, kArtist, kAlbum, kGenre, kYear, kId, kNr, kMarked, kSec };

        BuildResult result;
        const qint64 expected = qint64(refs_.size());
        std::string rec(view->dbf().recordLength(), ' ');
        std::string artistRec, trackRec;
        const auto append = [&](std::string_view artist, std::string_view id, const char* album, const TrackRef& t,
                                bool songOnly) -> Status {
            ALB_TRY(tracks->readRecord(t.recno, trackRec));
            std::string_view title = trimmedRight(trackTitle_.of(trackRec));
            if (songOnly) {
                const size_t slash = title.find(" / ");
                if (slash != std::string_view::npos) title = trimmed(title.substr(slash + 3).substr(0, 50));
            }
            put(rec, out[kTrack], title);
            put(rec, out[kArtist], artist);
            put(rec, out[kAlbum], std::string_view(album, size_t(albumTitle_.length)));
            put(rec, out[kGenre], std::string_view(album + albumTitle_.length, size_t(albumGenre_.length)));
            put(rec, out[kYear], std::string_view(album + albumTitle_.length + albumGenre_.length, size_t(albumYear_.length)));
            put(rec, out[kId], id);
            put(rec, out[kNr], trackNr_.of(trackRec));
            put(rec, out[kMarked], marked(t.id, t.nr) ? "T" : "F");
            put(rec, out[kSec], trackSecs_.of(trackRec));
            ALB_TRY(view->appendRecord(rec).status());
            // The rows wait in memory until a flush; every so many they go to the file.
            if (++result.rows % 65536 == 0) {
                ALB_TRY(view->flush());
                if (progress_) progress_(result.rows, std::max(expected, result.rows));
            }
            return {};
        };

        ALB_TRY(artists.forEachRow([&]() -> Status {
            ALB_TRY(artistTable.readRecord(artists.recNo(), artistRec));
            const std::string_view id = artistId.of(artistRec);
            const std::uint64_t key = packed(id, 8);
            const auto album = albumAt_.find(key);
            if (album == albumAt_.end()) {
                ++result.skipped;
                return {};
            }
            const char* albumBytes = albumBytes_.data() + album->second;
            const std::string_view name = artistName.of(artistRec);
            const std::string_view nr = artistNr.of(artistRec);
            const auto from = std::lower_bound(refs_.begin(), refs_.end(), TrackRef{key, 0, 0});
            if (!trimmed(nr).empty()) {
                // One track of a multi-artist album, credited to this artist.
                const std::uint32_t nrKey = std::uint32_t(packed(nr, 4));
                const auto t = std::lower_bound(from, refs_.end(), TrackRef{key, nrKey, 0});
                if (t == refs_.end() || t->id != key || t->nr != nrKey) {
                    ++result.skipped;
                    return {};
                }
                return append(name, id, albumBytes, *t, true);
            }
            for (auto t = from; t != refs_.end() && t->id == key; ++t) ALB_TRY(append(name, id, albumBytes, *t, false));
            return {};
        }));
        artists.close();
        ALB_TRY(view->flush());
        if (progress_) progress_(result.rows, result.rows);

        for (const auto& [name, expr] : TrackViewTags()) {
            say(QStringLiteral("Creating %1 tag").arg(name));
            ALB_TRY(view->createTag(name, expr));
        }
        ALB_TRY(view->flush());
        view.reset();
        ALB_TRY(install(dbf));
        return result;
    }

    // The new table replaces the old one by renaming, its index file first: until the table
    // file is in place there is no TVIEW.DBF, and a missing table is rebuilt, never trusted.
    Status install(const QString& builtDbf) {
        const QString target = dm_.tablePath(kTViewFile);
        if (Table::isOpenInProcess(target))
            return Status(ErrorKind::Locked, QStringLiteral("%1 is open and cannot be replaced").arg(kTViewFile), target);
        auto folder = store::Folder::of(dm_.dataFolder());
        ALB_TRY(folder->beginStructureChange(store::Folder::waitMs()));
        // Taking the lock marks the count once (even to odd; a folder whose lock file cannot be
        // written keeps it); anything more is another program's commit since the build began
        // reading.
        ALB_ASSIGN_OR_RETURN(const std::uint64_t now, folder->commitCount());
        const bool unchanged = now == startCount_ || (startCount_ % 2 == 0 && now == startCount_ + 1);
        if (checkStale_ && !unchanged) {
            stale_ = true;
            folder->endStructureChange({});
            return {};
        }
        Status st = store::removeFile(target);
        if (st) st = store::removeFile(store::indexPathFor(target));
        const QString finalDbf = QDir(dm_.dataFolder()).filePath(kTViewFile);
        if (st) st = store::renameFile(store::indexPathFor(builtDbf), store::indexPathFor(finalDbf));
        if (st) st = store::renameFile(builtDbf, finalDbf);
        if (st) st = store::syncFolderOf(finalDbf);
        folder->endStructureChange({kTViewFile, QFileInfo(store::indexPathFor(finalDbf)).fileName()});
        return st;
    }

    store::TDM& dm_;
    const StatusLine& status_;
    const BuildProgress& progress_;
    std::unordered_map<std::uint64_t, size_t> albumAt_;  // ID -> the album's bytes in albumBytes_
    std::string albumBytes_;                              // title, genre and year of each album
    Field albumTitle_, albumGenre_, albumYear_;
    Field trackTitle_, trackSecs_, trackNr_;
    std::vector<TrackRef> refs_;  // every track, in ID+NR order
    std::vector<PlaylistKey> marks_;
    bool checkStale_ = true;
    std::uint64_t startCount_ = 0;  // the folder's commit count when the build began
    bool stale_ = false;
};

}  // namespace

Result<BuildResult> BuildTrackViewTable(store::TDM& dm, const StatusLine& status, const BuildProgress& progress) {
    // A table built while another program changed the collection is built again; after a few
    // tries the last one stands (a picture of a collection that keeps changing is no worse).
    for (int attempt = 1;; ++attempt) {
        bool stale = false;
        Builder builder(dm, status, progress, attempt < 3);
        Result<BuildResult> r = builder.run(stale);
        if (!r || !stale) return r;
    }
}

// ---------------------------------------------------------------------------------------------
// The view

TrackView::TrackView(store::TDM& dm) : dm_(dm), history_(QDir(dm.dataFolder()).filePath(kTViewHistoryFile)) {}

TrackView::~TrackView() { close(); }

Cursor& TrackView::rows() { return dm_.tblTView; }

Status TrackView::open(const StatusLine& status, const BuildProgress& progress) {
    Cursor& albums = dm_.tblFilter;
    albums.setFiltered(false);
    ALB_TRY(albums.setOrder(QStringLiteral("ID")));
    if (!albums.isOpen()) ALB_TRY(albums.open());
    history_.load();

    Status st = openBuilt(status, progress);
    if (!st && st.kind() != ErrorKind::Locked && store::fileExists(dm_.tablePath(kTViewFile))) {
        // A work table that cannot be opened is rebuilt: it holds nothing the collection lacks.
        dm_.tblTView.close();
        ALB_TRY(store::removeFile(dm_.tablePath(kTViewFile)));
        st = openBuilt(status, progress);
    }
    return st;
}

Status TrackView::openBuilt(const StatusLine& status, const BuildProgress& progress) {
    Cursor& tv = dm_.tblTView;
    tv.close();
    tv.setTablePath(dm_.tablePath(kTViewFile));
    if (!store::fileExists(tv.tablePath())) {
        ALB_TRY(BuildTrackViewTable(dm_, status, progress).status());
        tv.setTablePath(dm_.tablePath(kTViewFile));
    } else if (!store::fileExists(store::indexPathFor(tv.tablePath()))) {
        ALB_TRY(tv.setOrder(QString()));
        ALB_TRY(tv.open());
        for (const auto& [name, expr] : TrackViewTags()) {
            if (status) status(QStringLiteral("Creating %1 tag").arg(name));
            ALB_TRY(tv.createTag(name, expr));
        }
        ALB_TRY(tv.flush());
        tv.close();
    }
    tv.setFiltered(false);
    ALB_TRY(tv.setFilter(QString()));
    ALB_TRY(tv.setOrder(QStringLiteral("Track")));
    ALB_TRY(tv.open());
    ALB_TRY(tv.first());
    sortField_ = QStringLiteral("Track");
    filterSet_ = false;
    ALB_ASSIGN_OR_RETURN(const qint64 n, tv.recordCount());
    baseStatus_ = tviewmsg::BaseStatus(n);
    return {};
}

void TrackView::close() {
    closeSelectionCopy();
    Cursor& tv = dm_.tblTView;
    if (tv.isOpen()) {
        tv.setFiltered(false);
        (void)tv.setFilter(QString());  // clearing a filter cannot fail
        (void)tv.setOrder(QString());
        tv.close();
    }
    filterSet_ = false;
    if (!history_.path().isEmpty()) (void)history_.save();  // a history not saved costs only its entries
}

bool TrackView::filterOn() const { return filterSet_; }

Result<QString> TrackView::setFilter(const QString& expression, const StatusLine& status) {
    Cursor& tv = dm_.tblTView;
    if (!expression.isEmpty()) {
        const Status valid = tv.validate(expression);
        if (!valid) return Status(ErrorKind::Expression, tviewmsg::kInvalid + expression);
    }
    if (status) status(tviewmsg::kSettingFilter);
    ALB_TRY(tv.setFilter(expression));
    tv.setFiltered(true);
    ALB_TRY(tv.first());
    filterSet_ = true;
    history_.add(expression);
    ALB_ASSIGN_OR_RETURN(const qint64 n, tv.recordCount());
    return tviewmsg::FilterStatus(n, expression);
}

Status TrackView::cancelFilter() {
    Cursor& tv = dm_.tblTView;
    tv.setFiltered(false);
    ALB_TRY(tv.setFilter(QString()));
    filterSet_ = false;
    return tv.first();
}

Result<bool> TrackView::titleClick(const QString& field) {
    Cursor& tv = dm_.tblTView;
    if (!tv.tagExists(field)) return Status(ErrorKind::NotFound, tviewmsg::kCannotOrder);
    if (field.compare(sortField_, Qt::CaseInsensitive) != 0) {
        ALB_TRY(tv.setOrder(field));
        sortField_ = field;
        return true;
    }
    if (tv.isEmpty()) return false;
    const QString value = tv.text(field);
    for (;;) {
        ALB_TRY(tv.next());
        if (tv.eof()) {
            ALB_TRY(tv.last());
            break;
        }
        if (tv.text(field) != value) break;
    }
    return false;
}

Status TrackView::jump(QChar key) {
    if (key.unicode() < 32 || key.unicode() > 126) return {};
    Cursor& tv = dm_.tblTView;
    if (tv.state() != Cursor::State::Browse) return {};
    return tv.findNearest(QString(key).toUpper());
}

void TrackView::closeSelectionCopy() {
    if (selection_) selection_->close();
    selection_.reset();
}

Result<Cursor*> TrackView::outputSource(const std::vector<Cursor::Bookmark>& selected) {
    Cursor& tv = dm_.tblTView;
    if (selected.size() < 2) {
        ALB_TRY(tv.first());
        return &tv;
    }
    closeSelectionCopy();
    const QString path = QDir(dm_.dataFolder()).filePath(kSelectionCopyFile);
    std::vector<std::uint32_t> recnos;
    recnos.reserve(selected.size());
    for (const auto& b : selected) recnos.push_back(b.recno);
    ALB_TRY(store::removeFile(store::indexPathFor(path)));
    ALB_TRY(tv.table()->copyRows(path, recnos));
    auto copy = std::make_unique<Cursor>(QStringLiteral("tblTempTrk"));
    copy->setTablePath(path);
    dm_.AddTrackViewFields(*copy);
    ALB_TRY(copy->open());
    ALB_TRY(copy->first());
    selection_ = std::move(copy);
    return selection_.get();
}

namespace {
// Puts the view back as it was however an output ends: its order, its row, no selection copy.
struct OutputScope {
    TrackView& view;
    Cursor::Bookmark row;
    QString order;
    OutputScope(TrackView& v) : view(v), row(v.rows().bookmark()), order(v.rows().order()) {}
    ~OutputScope() {
        view.closeSelectionCopy();
        Cursor& tv = view.rows();
        if (tv.order() != order) (void)tv.setOrder(order);  // the order was set before; it exists
        if (!(row.valid() && tv.gotoBookmark(row))) (void)tv.first();
    }
};
}  // namespace

Result<QString> TrackView::writeDjList(const std::vector<Cursor::Bookmark>& selected) {
    OutputScope scope(*this);
    ALB_TRY(dm_.tblTView.setOrder(QStringLiteral("Artist")));
    ALB_ASSIGN_OR_RETURN(Cursor * src, outputSource(selected));
    reports::OutFile file(QDir(dm_.dataFolder()).filePath(kDjFile));
    ALB_TRY(file.open());
    const QString q = QStringLiteral("\"");
    const QString sep = QStringLiteral("\",\"");
    ALB_TRY(src->forEachRow([&]() -> Status {
        return file.line(q + src->text(QStringLiteral("artist")) + sep + src->text(QStringLiteral("track")) + sep +
                         src->text(QStringLiteral("genre")) + sep + src->text(QStringLiteral("yr")) + q);
    }));
    ALB_TRY(file.commit());
    return file.path();
}

Result<QString> TrackView::writeFile(FileOutput kind, const QStringList& fields, const QString& folder,
                                     const std::vector<Cursor::Bookmark>& selected) {
    OutputScope scope(*this);
    ALB_ASSIGN_OR_RETURN(Cursor * src, outputSource(selected));
    const bool xml = kind == FileOutput::Xml;
    reports::OutFile file(QDir(folder).filePath(QStringLiteral("program") + (xml ? QStringLiteral(".xml") : QStringLiteral(".csv"))));
    ALB_TRY(file.open());
    const auto label = [](const QString& f) { return f == QLatin1String("x") ? QStringLiteral("Marked") : f; };
    if (xml) {
        for (const QString& l : reports::XmlHead()) ALB_TRY(file.line(l));
        for (const QString& f : fields)
            ALB_TRY(file.line(reports::XmlField(label(f), label(f),
                                                f.compare(QLatin1String("sec"), Qt::CaseInsensitive) == 0 ? reports::XmlType::Integer
                                                                                                          : reports::XmlType::String)));
        for (const QString& l : reports::XmlMiddle()) ALB_TRY(file.line(l));
    } else {
        ALB_TRY(file.line(reports::CsvHeader(fields)));
    }
    std::vector<int> at;
    for (const QString& f : fields) at.push_back(src->fieldIndex(f));
    QStringList values;
    std::vector<std::pair<QString, QString>> attributes;
    ALB_TRY(src->forEachRow([&]() -> Status {
        values.clear();
        attributes.clear();
        for (int i = 0; i < fields.size(); ++i) {
            const QString v = src->text(at[size_t(i)]);
            if (xml)
                attributes.emplace_back(label(fields[i]), reports::XmlClean(v, i));
            else
                values << v;
        }
        return xml ? file.line(reports::XmlRow(attributes)) : file.put(reports::CsvRow(values));
    }));
    if (xml)
        for (const QString& l : reports::XmlTail()) ALB_TRY(file.line(l));
    ALB_TRY(file.commit());
    return file.path();
}

Result<reports::Document> TrackView::report(const QStringList& fields, const std::vector<Cursor::Bookmark>& selected) {
    OutputScope scope(*this);
    ALB_ASSIGN_OR_RETURN(Cursor * src, outputSource(selected));
    return reports::TrackReport(*src, fields);
}

Result<QString> TrackView::copyTable() {
    Cursor& tv = dm_.tblTView;
    ALB_ASSIGN_OR_RETURN(const std::vector<std::uint32_t> recnos, tv.visibleRecords());
    const QString target = QDir(dm_.dataFolder()).filePath(kTViewCopyFile);
    // Written beside its name and renamed, so that a failure leaves the last copy whole.
    const QString temp = store::temporaryPathFor(target);
    Status st = tv.table()->copyRows(temp, recnos);
    if (st) st = store::removeFile(store::indexPathFor(target));
    if (st) st = store::renameFile(temp, target);
    if (!st) {
        (void)store::removeFile(temp);  // only clutter when it stays
        return st;
    }
    return QFileInfo(target).absoluteFilePath();
}

}  // namespace albumora::views
