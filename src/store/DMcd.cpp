#include "DMcd.h"

#include "Codepage.h"
#include "File.h"

#include <QDir>
#include <QFileInfo>

#include <set>

namespace albumora::store {

const QString TDM::kAlbumsFields = QStringLiteral(
    "Album,Char,50;Artist,Char,50;IX,Char,6;Genre,Char,10;YR,Char,4;ID,Char,8;Label,Char,55;Media,Char,2;Rev,Char,1;"
    "Sys,Char,1;Notes,Memo;");
const QString TDM::kTracksFields = QStringLiteral("ID,Char,8;NR,Char,3;Track,Char,73;Secs,Char,4;");
const QString TDM::kArtistsFields = QStringLiteral("ID,Char,8;NR,Char,3;Artist,Char,50;");
const QString TDM::kPlaylistFields = QStringLiteral("ID,Char,8;NR,Char,3;");
const QString TDM::kTViewFields = QStringLiteral(
    "Track,Char,38;Artist,Char,38;Album,Char,50;Genre,Char,10;YR,Char,4;ID,Char,8;NR,Char,3;marked,logical,1;sec,Char,4;");

TDM::TDM(const QString& dataFolder, QObject* parent) : QObject(parent), folder_(QDir(dataFolder).absolutePath()) {
    tblAlbums.setTablePath(tablePath(QStringLiteral("ALBUMS.DBF")));
    tblFilter.setTablePath(tablePath(QStringLiteral("ALBUMS.DBF")));
    tblTracks.setTablePath(tablePath(QStringLiteral("TRACKS.DBF")));
    tblCD.setTablePath(tablePath(QStringLiteral("TRACKS.DBF")));
    tblPlayList.setTablePath(tablePath(QStringLiteral("PLAYLIST.DBF")));
    tblArtists.setTablePath(tablePath(QStringLiteral("ARTISTS.DBF")));
    tblTView.setTablePath(tablePath(QStringLiteral("TVIEW.DBF")));

    tblTracks.setMaster(&tblAlbums, QStringLiteral("ID"));

    const QString id = QStringLiteral("ID");
    tblCD.addLookupField(QStringLiteral("album"), 40, &tblFilter, id, id, QStringLiteral("ALBUM"));
    tblCD.addLookupField(QStringLiteral("Artist"), 40, &tblFilter, id, id, QStringLiteral("ARTIST"));
    tblArtists.addLookupField(QStringLiteral("Album"), 50, &tblFilter, id, id, QStringLiteral("ALBUM"));
    tblArtists.addLookupField(QStringLiteral("Label"), 55, &tblFilter, id, id, QStringLiteral("LABEL"));
    AddTrackViewFields(tblTView);
}

void TDM::AddTrackViewFields(Cursor& c) {
    const QString id = QStringLiteral("ID");
    c.addLookupField(QStringLiteral("LABEL"), 30, &tblFilter, id, id, QStringLiteral("LABEL"));
    c.addLookupField(QStringLiteral("MC"), 2, &tblFilter, id, id, QStringLiteral("MEDIA"));
    c.addLookupField(QStringLiteral("INDEX"), 6, &tblFilter, id, id, QStringLiteral("IX"));
    c.addCalcField(QStringLiteral("Time"), 5, [](const Cursor& row) { return FormatTrackTime(row.integer(QStringLiteral("sec")), 2); });
    c.addCalcField(QStringLiteral("x"), 1, [](const Cursor& row) {
        return row.boolean(QStringLiteral("marked")) ? QStringLiteral("x") : QStringLiteral(" ");
    });
}

QString TDM::tablePath(const QString& fileName) const { return resolveCaseInsensitive(folder_ + QLatin1Char('/') + fileName); }

QString TDM::FormatTrackTime(qint64 seconds, int width) {
    const qint64 minutes = seconds / 60;
    const qint64 rest = seconds % 60;
    return QStringLiteral("%1:%2").arg(minutes, width).arg(rest, 2, 10, QLatin1Char('0'));
}

QString TDM::PadNumber(qint64 number, int width) { return QStringLiteral("%1").arg(number, width); }

Status TDM::CreateAlbumTags(Table& table) { return table.createTags(IndexTagsOf(QStringLiteral("ALBUMS.DBF"))); }

Status TDM::CreateIndexTags(Table& table) {
    const auto defs = IndexTagsOf(table.path());
    return defs.empty() ? Status() : table.createTags(defs);
}

Status TDM::CreateIndexTags(Cursor& cursor) {
    if (!cursor.isOpen()) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1 is not open").arg(cursor.name()));
    return CreateIndexTags(*cursor.table());
}

Status TDM::CreateAlbumTags(Cursor& cursor) {
    if (!cursor.isOpen()) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1 is not open").arg(cursor.name()));
    return CreateAlbumTags(*cursor.table());
}

Result<QString> TDM::AllocateLocalAlbumId() {
    // Reopened so that rows added since it was opened are seen; unfiltered, because an ID a
    // filter hides is still taken.
    tblFilter.close();
    tblFilter.setFiltered(false);
    ALB_TRY(tblFilter.setOrder(QStringLiteral("ID")));
    ALB_TRY(tblFilter.open());
    ALB_TRY(tblFilter.last());
    if (tblFilter.isEmpty()) return QStringLiteral("z0000001");
    const QString last = tblFilter.text(QStringLiteral("ID"));
    if (!last.startsWith(QLatin1Char('z'))) return QStringLiteral("z0000001");
    bool ok = false;
    qint64 n = last.mid(1).toLongLong(&ok);
    if (!ok) n = 0;
    if (n + 1 > 9999999)
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("No local album ID is left: \"z9999999\" is already taken"));
    return QStringLiteral("z%1").arg(n + 1, 7, 10, QLatin1Char('0'));
}

Status TDM::FlushCollection() {
    for (Cursor* c : {&tblAlbums, &tblTracks, &tblPlayList, &tblArtists})
        if (c->isOpen()) ALB_TRY(c->flush());
    return {};
}

std::vector<std::pair<QString, QString>> TDM::IndexTagsOf(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName().toUpper();
    const QChar fourth = name.size() > 3 ? name.at(3) : QChar();
    if (fourth == QLatin1Char('C')) return {{QStringLiteral("Tracks"), QStringLiteral("ID+NR")}};
    if (fourth == QLatin1Char('I'))
        return {{QStringLiteral("ID"), QStringLiteral("ID+NR")}, {QStringLiteral("Artist"), QStringLiteral("upper(Artist)")}};
    if (fourth == QLatin1Char('U'))
        return {{QStringLiteral("Artist"), QStringLiteral("upper(Artist)+upper(Album)")},
                {QStringLiteral("Album"), QStringLiteral("upper(Album)")},
                {QStringLiteral("Label"), QStringLiteral("upper(Label)+upper(IX)")},
                {QStringLiteral("Genre"), QStringLiteral("upper(Genre)+upper(Artist)")},
                {QStringLiteral("ID"), QStringLiteral("ID")}};
    if (fourth == QLatin1Char('Y')) return {{QStringLiteral("Playlist"), QStringLiteral("ID+NR")}};
    return {};
}

Status TDM::createIndexFile(const QString& fileName, const std::function<void(const QString&)>& status) {
    const QString path = tablePath(fileName);
    if (status) status(QStringLiteral("Creating Index File for: ") + QFileInfo(fileName).completeBaseName().toUpper());
    // Built beside the old index file and renamed over it: a rebuild that fails leaves it.
    ALB_ASSIGN_OR_RETURN(auto table, Table::open(path, OpenMode::Exclusive));
    Status st = table->recreateIndex(IndexTagsOf(fileName));
    if (!st)
        return Status(st.kind(), QStringLiteral("The index file of %1 cannot be rebuilt: %2").arg(QFileInfo(path).fileName(), st.text()),
                      path);
    if (status) status(QString());
    return {};
}

Status TDM::EnsureCollectionFiles(const std::function<void(const QString&)>& status) {
    struct Def {
        QString file, fields;
    };
    const Def defs[] = {{QStringLiteral("ALBUMS.DBF"), kAlbumsFields},
                        {QStringLiteral("PLAYLIST.DBF"), kPlaylistFields},
                        {QStringLiteral("TRACKS.DBF"), kTracksFields},
                        {QStringLiteral("ARTISTS.DBF"), kArtistsFields}};
    for (const Def& d : defs) {
        const QString path = tablePath(d.file);
        if (fileExists(path)) continue;
        ALB_TRY(removeFile(indexPathFor(path)));
        if (d.file == QLatin1String("ALBUMS.DBF") && status) status(QStringLiteral("Creating data files ..."));
        ALB_ASSIGN_OR_RETURN(auto fields, parseFieldList(d.fields));
        ALB_TRY(Table::create(path, fields));
    }
    // An index file that lags behind its table, cannot be read or fails the cheap structural
    // checks is rebuilt like a missing one.
    auto needsIndex = [&](const QString& file) -> Result<bool> {
        const QString path = tablePath(file);
        if (!fileExists(indexPathFor(path))) return true;
        for (int again = 0;; ++again) {
            ALB_ASSIGN_OR_RETURN(auto table, Table::open(path, OpenMode::Shared));
            if (!table->indexProblem().isOk()) return true;
            for (const Table::Tag* t : table->tags())
                if (!t->usable) return true;
            if (table->tags().empty()) return true;
            // Damage in the pages every open reads (a tag's root and the ends of its levels).
            if (table->checkIndexShape().isOk()) return false;
            // Unless another program's commit landed while the pages were read.
            ALB_ASSIGN_OR_RETURN(const bool moved, table->folder() ? table->folder()->othersCommitted() : Result<bool>(false));
            if (!moved || again == 8) return true;
        }
    };
    ALB_ASSIGN_OR_RETURN(bool albums, needsIndex(QStringLiteral("ALBUMS.DBF")));
    // Album, track and playlist indexes are rebuilt together, as they always were.
    if (albums) ALB_TRY(createIndexFile(QStringLiteral("ALBUMS.DBF"), status));
    for (const QString& file : {QStringLiteral("TRACKS.DBF"), QStringLiteral("ARTISTS.DBF"), QStringLiteral("PLAYLIST.DBF")}) {
        bool need = albums && file != QLatin1String("ARTISTS.DBF");
        if (!need) {
            ALB_ASSIGN_OR_RETURN(need, needsIndex(file));
        }
        if (need) ALB_TRY(createIndexFile(file, status));
    }
    return {};
}

Result<bool> TDM::CatchUpWithOtherWriters() {
    Cursor* const cursors[] = {&tblAlbums, &tblTracks, &tblPlayList, &tblArtists, &tblCD, &tblFilter};
    Folder* folder = nullptr;
    for (Cursor* c : cursors) {
        if (!c->isOpen()) continue;
        if (c->state() == Cursor::State::Edit || c->state() == Cursor::State::Insert) return false;
        if (!folder) folder = c->table()->folder();
    }
    if (!folder || folder->writing()) return false;
    // Counted here, not by the folder: any read may already have reloaded the tables, without
    // the grids hearing of it.
    ALB_ASSIGN_OR_RETURN(const std::uint64_t commits, folder->commitCount());
    if (commits == seenCommits_) return false;
    ALB_TRY(folder->refresh());
    seenCommits_ = commits;
    for (Cursor* c : cursors)
        if (c->isOpen()) c->refresh();
    if (tblAlbums.isOpen() && !tblAlbums.isEmpty()) {
        std::string rec;
        ALB_TRY(tblAlbums.table()->readRecord(tblAlbums.recNo(), rec));
        if (!rec.empty() && rec[0] == '*') {
            ALB_TRY(tblAlbums.next());
            if (tblAlbums.eof()) ALB_TRY(tblAlbums.last());
        }
    }
    return true;
}

Status TDM::OpenCollectionTables() {
    // The path may have changed case on disk since the cursors were made.
    tblAlbums.setTablePath(tablePath(QStringLiteral("ALBUMS.DBF")));
    tblFilter.setTablePath(tablePath(QStringLiteral("ALBUMS.DBF")));
    tblTracks.setTablePath(tablePath(QStringLiteral("TRACKS.DBF")));
    tblCD.setTablePath(tablePath(QStringLiteral("TRACKS.DBF")));
    tblPlayList.setTablePath(tablePath(QStringLiteral("PLAYLIST.DBF")));
    tblArtists.setTablePath(tablePath(QStringLiteral("ARTISTS.DBF")));
    ALB_TRY(tblCD.setOrder(QStringLiteral("Tracks")));
    ALB_TRY(tblCD.open());
    ALB_TRY(tblAlbums.setOrder(QStringLiteral("Artist")));
    ALB_TRY(tblAlbums.open());
    ALB_TRY(tblPlayList.setOrder(QStringLiteral("Playlist")));
    ALB_TRY(tblPlayList.open());
    ALB_TRY(tblTracks.setOrder(QStringLiteral("Tracks")));
    ALB_TRY(tblTracks.open());
    ALB_TRY(tblArtists.setOrder(QStringLiteral("ID")));
    ALB_TRY(tblArtists.open());
    // The cursors have just read everything committed so far.
    if (Folder* f = tblAlbums.table()->folder()) {
        ALB_ASSIGN_OR_RETURN(seenCommits_, f->commitCount());
    }
    return {};
}

void TDM::CloseAll() {
    for (Cursor* c : {&tblTView, &tblCD, &tblArtists, &tblTracks, &tblPlayList, &tblFilter, &tblAlbums}) c->close();
}

Result<QStringList> TDM::SelectDistinctArtists() {
    ALB_ASSIGN_OR_RETURN(auto table, Table::open(tablePath(QStringLiteral("ARTISTS.DBF")), OpenMode::Shared));
    const int field = table->fieldIndex(QStringLiteral("ARTIST"));
    if (field < 0) return Status(ErrorKind::NotFound, QStringLiteral("ARTISTS.DBF has no field ARTIST"), table->path());
    const FieldDef& f = table->fields()[size_t(field)];
    // Ordered by the upper-cased name, then exactly, so that names differing only in case stay
    // apart (distinct compares exactly) but next to each other.
    auto less = [](const std::string& a, const std::string& b) {
        const std::string ua = asciiUpper(a), ub = asciiUpper(b);
        return ua != ub ? ua < ub : a < b;
    };
    std::set<std::string, decltype(less)> names(less);
    ALB_TRY(table->dbf().scan(1, table->recordCount(), [&](std::uint32_t, const char* rec) {
        if (rec[0] != '*') names.insert(std::string(trimRight(std::string_view(rec + f.offset, size_t(f.length)))));
        return true;
    }));
    QStringList out;
    for (const std::string& n : names) out << fromCp1252(n);
    return out;
}

Result<bool> TDM::IsTrackMarked(const QString& id, const QString& nr) {
    if (!tblPlayList.isOpen()) {
        ALB_TRY(tblPlayList.setOrder(QStringLiteral("Playlist")));
        ALB_TRY(tblPlayList.open());
    }
    if (tblPlayList.order().compare(QLatin1String("Playlist"), Qt::CaseInsensitive) != 0)
        ALB_TRY(tblPlayList.setOrder(QStringLiteral("Playlist")));
    return tblPlayList.findKey({id, nr});
}

}  // namespace albumora::store
