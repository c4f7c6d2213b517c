#include "Maintenance.h"

#include "Check.h"
#include "DMcd.h"
#include "File.h"
#include "Journal.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>

#include <unistd.h>

namespace albumora::store {

namespace {

const QStringList& collectionTables() {
    static const QStringList names = {QStringLiteral("ALBUMS.DBF"), QStringLiteral("TRACKS.DBF"), QStringLiteral("PLAYLIST.DBF"),
                                      QStringLiteral("ARTISTS.DBF")};
    return names;
}

// The files of the folder whose names match the pattern without regard to case, in name order.
QStringList filesMatching(const QString& folder, const QString& pattern) {
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name | QDir::IgnoreCase);  // name filters ignore case
}

// Packs one collection table and makes sure it carries exactly the collection's tags.
Status packTable(const QString& path) {
    ALB_ASSIGN_OR_RETURN(auto table, Table::open(path, OpenMode::Exclusive));
    ALB_TRY(table->pack());
    const auto want = TDM::IndexTagsOf(QFileInfo(path).fileName());
    std::vector<std::pair<QString, QString>> have;
    for (const Table::Tag* t : table->tags())
        if (!t->single) have.emplace_back(t->name, t->keyExpr);
    bool same = have.size() == want.size() && table->indexProblem().isOk();
    for (size_t i = 0; same && i < want.size(); ++i)
        same = have[i].first.compare(want[i].first, Qt::CaseInsensitive) == 0 &&
               have[i].second.compare(want[i].second, Qt::CaseInsensitive) == 0;
    // The pack rebuilt the tags the table had; a table with others gets the collection's own.
    if (!same) ALB_TRY(table->recreateIndex(want));
    return {};
}

// The folder's writers' lock for the length of a scope.
class WritersHeld {
public:
    explicit WritersHeld(const QString& folder) : folder_(Folder::of(folder)) { status_ = folder_->holdWriters(-1); }
    ~WritersHeld() {
        if (status_) folder_->releaseWriters();
    }
    WritersHeld(const WritersHeld&) = delete;
    WritersHeld& operator=(const WritersHeld&) = delete;
    const Status& status() const { return status_; }

private:
    std::shared_ptr<Folder> folder_;
    Status status_;
};

// The archive as libzip reads and writes it. libzip reads the old archive through it and
// writes the new one to a temporary beside it (through the engine's files, so writes, syncs
// and the rename fail and report as every other file of the folder does); the commit syncs the
// temporary and renames it over the old archive.
struct ArchiveFile {
    QString path;
    QString tmp;
    File in;  // the archive as it was; not open when there was none
    std::int64_t inSize = 0;
    std::int64_t inPos = 0;
    File out;
    std::int64_t outSize = 0;
    std::int64_t outPos = 0;
    zip_error_t error{};
    Status failure;  // the engine's account of the last failure, for the message

    ArchiveFile() { zip_error_init(&error); }
    ~ArchiveFile() {
        zip_error_fini(&error);
        if (out.isOpen()) {
            out.close();
            (void)removeFile(tmp);  // an archive never committed is only clutter
        }
    }

    zip_int64_t fail(const Status& st, int code) {
        failure = st;
        zip_error_set(&error, code, 0);
        return -1;
    }

    zip_int64_t call(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            inPos = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            if (!in.isOpen()) return 0;
            auto n = in.readSome(inPos, data, size_t(len));
            if (!n) return fail(n.error(), ZIP_ER_READ);
            inPos += std::int64_t(*n);
            return zip_int64_t(*n);
        }
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at = zip_source_seek_compute_offset(zip_uint64_t(inPos), zip_uint64_t(inSize), data, len, &error);
            if (at < 0) return -1;
            inPos = at;
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return inPos;
        case ZIP_SOURCE_STAT: {
            if (!in.isOpen()) {
                zip_error_set(&error, ZIP_ER_READ, ENOENT);  // what libzip takes for "no archive yet"
                return -1;
            }
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->size = zip_uint64_t(inSize);
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, len);
        case ZIP_SOURCE_BEGIN_WRITE: {
            auto f = File::open(tmp, File::Mode::Create);
            if (!f) return fail(f.error(), ZIP_ER_TMPOPEN);
            out = std::move(f).value();
            outSize = outPos = 0;
            return 0;
        }
        case ZIP_SOURCE_WRITE: {
            if (Status st = out.writeAt(outPos, data, size_t(len)); !st) return fail(st, ZIP_ER_WRITE);
            outPos += std::int64_t(len);
            outSize = std::max(outSize, outPos);
            return zip_int64_t(len);
        }
        case ZIP_SOURCE_SEEK_WRITE: {
            const zip_int64_t at = zip_source_seek_compute_offset(zip_uint64_t(outPos), zip_uint64_t(outSize), data, len, &error);
            if (at < 0) return -1;
            outPos = at;
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return outPos;
        case ZIP_SOURCE_COMMIT_WRITE: {
            Status st = out.truncate(outSize);
            if (st) st = out.sync();
            out.close();
            if (st) st = renameFile(tmp, path);
            if (!st) {
                (void)removeFile(tmp);
                return fail(st, ZIP_ER_RENAME);
            }
            in.close();
            return 0;
        }
        case ZIP_SOURCE_ROLLBACK_WRITE:
            out.close();
            (void)removeFile(tmp);  // the old archive stands as it was
            return 0;
        case ZIP_SOURCE_REMOVE:
            in.close();
            if (Status st = removeFile(path); !st) return fail(st, ZIP_ER_REMOVE);
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                                                  ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_BEGIN_WRITE,
                                                  ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE,
                                                  ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
        default:
            zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

zip_int64_t archiveCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<ArchiveFile*>(userdata)->call(data, len, cmd);
}

QString zipMessage(zip_error_t* e) { return QString::fromLocal8Bit(zip_error_strerror(e)); }

Status archiveError(const ArchiveFile& a, const QString& what, const QString& why) {
    const QString detail = a.failure ? why : a.failure.text();
    return Status(ErrorKind::IoError, QStringLiteral("The archive %1 %2: %3").arg(a.path, what, detail), a.path);
}

// Puts the data files into the archive; the old archive is replaced only by a complete new one.
Status writeArchive(const QString& folder, MaintenanceResult& result) {
    ArchiveFile a;
    a.path = QDir(folder).filePath(kArchiveName);
    a.tmp = temporaryPathFor(a.path);
    if (fileExists(a.path)) {
        ALB_ASSIGN_OR_RETURN(a.in, File::open(a.path, File::Mode::ReadOnly));
        ALB_ASSIGN_OR_RETURN(a.inSize, a.in.size());
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(archiveCallback, &a, &error);
    if (!source) {
        const QString why = zipMessage(&error);
        zip_error_fini(&error);
        return archiveError(a, QStringLiteral("cannot be opened"), why);
    }
    zip_t* z = zip_open_from_source(source, ZIP_CREATE, &error);
    if (!z) {
        zip_source_free(source);
        const QString why = zipMessage(&error);
        zip_error_fini(&error);
        // A damaged old backup is left for the user to look at, not silently replaced.
        return archiveError(a, QStringLiteral("cannot be opened (move it away to start a new one)"), why);
    }
    zip_error_fini(&error);
    auto failed = [&](const QString& what) {
        const Status st = archiveError(a, what, QString::fromLocal8Bit(zip_strerror(z)));
        zip_discard(z);  // nothing of this run reaches the old archive
        return st;
    };
    for (const QString& pattern : {QStringLiteral("ALBUMS.DBF"), QStringLiteral("ALBUMS.FPT"), QStringLiteral("TRACKS.DBF"),
                                   QStringLiteral("PLAYLIST.DBF"), QStringLiteral("ARTISTS.DBF"), QStringLiteral("*.ini"),
                                   QStringLiteral("notes.txt"), QStringLiteral("receipt.txt")}) {
        for (const QString& file : filesMatching(folder, pattern)) {
            if (result.archived.contains(file) || !IsBackupFileName(file)) continue;
            const QByteArray path = QFile::encodeName(QDir(folder).filePath(file));
            zip_source_t* entry = zip_source_file(z, path.constData(), 0, -1);
            if (!entry) return failed(QStringLiteral("cannot be written"));
            // One entry a file name: a second run replaces the entries of the first.
            if (zip_file_add(z, file.toUtf8().constData(), entry, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
                zip_source_free(entry);
                return failed(QStringLiteral("cannot be written"));
            }
            result.archived << file;
        }
    }
    if (zip_close(z) < 0) return failed(QStringLiteral("cannot be written"));
    result.archive = a.path;
    return {};
}

bool processAlive(long pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH); }

const QString kRestorePrefix = QStringLiteral(".albumora-restore.");

// The journal of the renames that put a restore's files in place: the one Table keeps beside
// the albums table (".NAME.pack-journal" of the table as named on disk) while files are replaced
// together.
QString restoreJournal(const QString& folder) {
    const QFileInfo albums(resolveCaseInsensitive(QDir(folder).filePath(QStringLiteral("ALBUMS.DBF"))));
    return albums.absolutePath() + QStringLiteral("/.") + albums.fileName() + QStringLiteral(".pack-journal");
}

// Temporary folders of restores that died, unless a crash left renames out of one to finish.
void removeDeadRestores(const QString& folder) {
    if (fileExists(restoreJournal(folder))) return;
    const QDir dir(folder);
    for (const QString& d : dir.entryList({kRestorePrefix + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const long pid = d.mid(kRestorePrefix.size()).toLong(&ok);
        if (ok && pid != long(::getpid()) && !processAlive(pid)) QDir(dir.filePath(d)).removeRecursively();
    }
}

// The folder a restore reads its archive into; gone with the scope.
struct RestoreFolder {
    QString path;
    explicit RestoreFolder(const QString& dataFolder) : path(QDir(dataFolder).filePath(kRestorePrefix + QString::number(::getpid()))) {}
    ~RestoreFolder() {
        if (!path.isEmpty()) QDir(path).removeRecursively();
    }
};

Status restoreError(const QString& archive, const QString& why) {
    return Status(ErrorKind::InvalidArgument, QStringLiteral("Nothing was restored from %1: %2").arg(archive, why), archive);
}

Status extractEntry(zip_t* z, zip_uint64_t index, const QString& target, const QString& archive) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, index, 0, &st) < 0) return restoreError(archive, QString::fromLocal8Bit(zip_strerror(z)));
    zip_file_t* entry = zip_fopen_index(z, index, 0);
    if (!entry) return restoreError(archive, QString::fromLocal8Bit(zip_strerror(z)));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> closer(entry, zip_fclose);
    ALB_ASSIGN_OR_RETURN(File out, File::open(target, File::Mode::Create));
    std::string buf(1 << 16, '\0');
    std::int64_t at = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(entry, buf.data(), buf.size());
        if (n < 0)  // a damaged entry, a checksum that fails
            return restoreError(archive, QStringLiteral("the entry %1 cannot be read: %2")
                                             .arg(QFileInfo(target).fileName(), QString::fromLocal8Bit(zip_file_strerror(entry))));
        if (n == 0) break;
        ALB_TRY(out.writeAt(at, buf.data(), size_t(n)));
        at += n;
    }
    if ((st.valid & ZIP_STAT_SIZE) && zip_uint64_t(at) != st.size)
        return restoreError(archive, QStringLiteral("the entry %1 is cut short").arg(QFileInfo(target).fileName()));
    return out.sync();
}

}  // namespace

bool IsBackupFileName(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QLatin1Char(':')))
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return false;
    const QString upper = name.toUpper();
    if (collectionTables().contains(upper) || upper == QLatin1String("ALBUMS.FPT") || upper == QLatin1String("NOTES.TXT") ||
        upper == QLatin1String("RECEIPT.TXT"))
        return true;
    return upper.endsWith(QLatin1String(".INI")) && upper.size() > 4;
}

Result<MaintenanceResult> MaintainCollection(TDM& dm, bool archive, const std::function<void(const QString&)>& status) {
    const QString folder = dm.dataFolder();
    // No other program's write lands between two packs, or between the packs and the archive.
    WritersHeld held(folder);
    ALB_TRY(held.status());
    if (status) status(QStringLiteral("Performing file maintenance, please wait ..."));
    // The tracks view's work table is built again when next opened.
    const QString tview = dm.tablePath(QStringLiteral("TVIEW.DBF"));
    dm.tblTView.close();
    ALB_TRY(removeFile(indexPathFor(tview)));
    ALB_TRY(removeFile(tview));

    Cursor& albums = dm.tblAlbums;
    const QString current = albums.isOpen() ? albums.text(QStringLiteral("ID")) : QString();
    const QString order = albums.order();
    dm.CloseAll();
    Status st;
    for (const QString& name : collectionTables()) {
        const QString path = dm.tablePath(name);
        if (status) status(QStringLiteral("Performing file maintenance, please wait ... ") + QFileInfo(path).fileName());
        st = packTable(path);
        if (!st) break;
    }
    // The tables are open again whatever happened: the program goes on over them.
    Status reopened = dm.OpenCollectionTables();
    if (reopened && !current.isEmpty()) {
        reopened = albums.setOrder(QStringLiteral("ID"));
        if (reopened) {
            auto found = albums.findKey({current});
            if (!found) reopened = found.error();
        }
    }
    if (reopened) reopened = albums.setOrder(order);
    if (status) status(QString());
    ALB_TRY(st);
    ALB_TRY(reopened);

    MaintenanceResult result;
    if (!archive) return result;
    if (status) status(QStringLiteral("Writing ") + kArchiveName + QStringLiteral(" ..."));
    st = writeArchive(folder, result);
    if (status) status(QString());
    ALB_TRY(st);
    return result;
}

QString MaintenanceMessage(const MaintenanceResult& result, const QString& dataFolder) {
    if (result.archive.isEmpty()) return QStringLiteral("File maintenance successfully completed");
    return QStringLiteral("Created/Updated Zip archive file: ") + QDir::toNativeSeparators(QDir(dataFolder).absolutePath() + QLatin1Char('/')) +
           kArchiveName + QStringLiteral("\rPlease copy it to an external drive and upload to an offsite webspace") +
           QStringLiteral("\r(a folder of your own on a cloud storage service such as Nextcloud will do)");
}

Result<QStringList> RestoreCollection(const QString& dataFolder, const QString& archivePath, bool overwrite) {
    const QString folder = QDir::cleanPath(QFileInfo(dataFolder).absoluteFilePath());
    const QString archive = QFileInfo(archivePath).absoluteFilePath();
    const auto holdsCollection = [&] {
        for (const QString& t : collectionTables())
            if (fileExists(resolveCaseInsensitive(QDir(folder).filePath(t)))) return true;
        return false;
    };
    const Status occupied = restoreError(
        archive, QStringLiteral("the data folder %1 holds a collection already; restoring over it needs --force").arg(folder));
    if (!overwrite && holdsCollection()) return occupied;
    if (!QFileInfo(archive).isFile()) return restoreError(archive, QStringLiteral("there is no such file"));

    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        const QString why = zipMessage(&e);
        zip_error_fini(&e);
        return restoreError(archive, QStringLiteral("it cannot be read as a zip archive (%1)").arg(why));
    }
    std::unique_ptr<zip_t, void (*)(zip_t*)> closer(z, zip_discard);

    // Every name is looked at before a byte is written: a hostile archive names folders,
    // parent folders or absolute paths, or files that are no part of a backup.
    const zip_int64_t count = zip_get_num_entries(z, 0);
    QStringList names;
    QStringList upper;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* raw = zip_get_name(z, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        const QString name = raw ? QString::fromUtf8(raw) : QString();
        if (!IsBackupFileName(name))
            return restoreError(archive, QStringLiteral("it holds the entry \"%1\", which is no file of a collection backup").arg(name));
        if (upper.contains(name.toUpper())) return restoreError(archive, QStringLiteral("it holds the file %1 twice").arg(name));
        names << name;
        upper << name.toUpper();
    }
    for (const QString& t : collectionTables())
        if (!upper.contains(t)) return restoreError(archive, QStringLiteral("it holds no %1; it is no backup of a collection").arg(t));

    // Read, indexed and checked aside; only a sound collection goes on.
    removeDeadRestores(folder);
    RestoreFolder aside(folder);
    QDir(aside.path).removeRecursively();
    if (!QDir().mkpath(aside.path))
        return Status(ErrorKind::IoError, QStringLiteral("The folder %1 cannot be created").arg(aside.path), aside.path);
    for (qsizetype i = 0; i < names.size(); ++i) ALB_TRY(extractEntry(z, zip_uint64_t(i), QDir(aside.path).filePath(names[i]), archive));
    closer.reset();
    {
        TDM built(aside.path);
        Status made = built.EnsureCollectionFiles();
        if (!made) return restoreError(archive, made.text());
    }
    const QStringList problems = CheckFolder(aside.path);
    if (!problems.isEmpty()) {
        QStringList shown = problems.mid(0, 10);
        if (problems.size() > shown.size()) shown << QStringLiteral("(%1 more)").arg(problems.size() - shown.size());
        return restoreError(archive, QStringLiteral("its collection is damaged:\r") + shown.join(QLatin1Char('\r')));
    }

    // The replacement, under the writers' lock: no other program writes meanwhile, and every
    // reader is told which files changed.
    auto f = Folder::of(folder);
    ALB_TRY(f->beginStructureChange(-1));
    std::vector<QString> changed;
    struct EndChange {
        Folder& f;
        std::vector<QString>& changed;
        ~EndChange() { f.endStructureChange(changed); }
    } endChange{*f, changed};
    ALB_TRY(Table::finishInterruptedRenames(resolveCaseInsensitive(QDir(folder).filePath(QStringLiteral("ALBUMS.DBF")))));
    if (!overwrite && holdsCollection()) return occupied;
    // A table another program has open is not pulled from under it.
    std::vector<File> claimed;
    for (const QString& t : collectionTables()) {
        const QString path = resolveCaseInsensitive(QDir(folder).filePath(t));
        if (!fileExists(path)) continue;
        ALB_ASSIGN_OR_RETURN(File held, File::open(path, File::Mode::ReadOnly));
        if (Status locked = held.lock(File::Lock::Exclusive); !locked)
            return restoreError(archive, QStringLiteral("%1 is in use by another program; close it first").arg(QFileInfo(path).fileName()));
        claimed.push_back(std::move(held));
    }
    std::vector<std::pair<QString, QString>> renames;
    QStringList restored;
    const QStringList aside_files = QDir(aside.path).entryList(QDir::Files, QDir::Name);  // no hidden files: the lock file stays
    for (const QString& file : aside_files) {
        const QString to = resolveCaseInsensitive(QDir(folder).filePath(file));
        renames.emplace_back(QDir(aside.path).filePath(file), to);
        changed.push_back(to);
        restored << file;
    }
    // The albums table last: while it is the old one, the old collection is what opens.
    std::stable_partition(renames.begin(), renames.end(),
                          [](const auto& r) { return QFileInfo(r.second).fileName().toUpper() != QLatin1String("ALBUMS.DBF"); });
    const QString albums = resolveCaseInsensitive(QDir(folder).filePath(QStringLiteral("ALBUMS.DBF")));
    Status replaced = Table::replaceFilesTogether(albums, renames);
    // A rename that failed half-way is tried once more; the ones done are skipped.
    if (!replaced && fileExists(restoreJournal(folder))) replaced = Table::finishInterruptedRenames(albums);
    if (!replaced) {
        if (fileExists(restoreJournal(folder))) {
            // Some files are in place and some wait in the restore's folder: it must stay, so
            // that the next opening of the collection finishes the renames.
            aside.path.clear();
            return Status(replaced.kind(),
                          QStringLiteral("The restore from %1 was interrupted (%2); the next opening of the collection finishes it")
                              .arg(archive, replaced.text()),
                          archive);
        }
        return replaced;
    }
    claimed.clear();
    // The tracks view's work table was made from the collection that is gone; one left behind
    // only costs a stale view until the next save, so the restore stands either way.
    const QString tview = resolveCaseInsensitive(QDir(folder).filePath(QStringLiteral("TVIEW.DBF")));
    (void)removeFile(indexPathFor(tview));
    (void)removeFile(tview);
    return restored;
}

}  // namespace albumora::store
