#include "Maintenance.h"

#include "DMcd.h"
#include "File.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>

#include <zip.h>

#include <memory>

namespace albumora::store {

namespace {

Status zipError(zip_t* z, const QString& path) {
    return Status(ErrorKind::IoError, QStringLiteral("The archive %1 cannot be written: %2").arg(path, QString::fromLocal8Bit(zip_strerror(z))), path);
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

}  // namespace

Result<MaintenanceResult> MaintainCollection(TDM& dm, bool archive, const std::function<void(const QString&)>& status) {
    if (status) status(QStringLiteral("Performing file maintenance, please wait ..."));
    const QString folder = dm.dataFolder();
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
    for (const char* name : {"ALBUMS.DBF", "TRACKS.DBF", "PLAYLIST.DBF", "ARTISTS.DBF"}) {
        const QString path = dm.tablePath(QString::fromLatin1(name));
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
    result.archive = QDir(folder).filePath(kArchiveName);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(result.archive).constData(), ZIP_CREATE, &error);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString why = QString::fromLocal8Bit(zip_error_strerror(&e));
        zip_error_fini(&e);
        return Status(ErrorKind::IoError, QStringLiteral("The archive %1 cannot be opened: %2").arg(result.archive, why), result.archive);
    }
    // Written by zip_close only; an error before it leaves the old archive as it was.
    const auto discard = [&] { zip_discard(z); };
    for (const QString& pattern : {QStringLiteral("ALBUMS.DBF"), QStringLiteral("ALBUMS.FPT"), QStringLiteral("TRACKS.DBF"),
                                   QStringLiteral("PLAYLIST.DBF"), QStringLiteral("ARTISTS.DBF"), QStringLiteral("*.ini"),
                                   QStringLiteral("notes.txt"), QStringLiteral("receipt.txt")}) {
        for (const QString& file : filesMatching(folder, pattern)) {
            if (result.archived.contains(file)) continue;
            const QByteArray path = QFile::encodeName(QDir(folder).filePath(file));
            zip_source_t* source = zip_source_file(z, path.constData(), 0, -1);
            if (!source) {
                const Status failed = zipError(z, result.archive);
                discard();
                return failed;
            }
            // One entry a file name: a second run replaces the entries of the first.
            if (zip_file_add(z, file.toUtf8().constData(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
                zip_source_free(source);
                const Status failed = zipError(z, result.archive);
                discard();
                return failed;
            }
            result.archived << file;
        }
    }
    if (status) status(QStringLiteral("Writing ") + kArchiveName + QStringLiteral(" ..."));
    const int closed = zip_close(z);
    if (status) status(QString());
    if (closed < 0) {
        const Status failed = zipError(z, result.archive);
        discard();
        return failed;
    }
    return result;
}

QString MaintenanceMessage(const MaintenanceResult& result, const QString& dataFolder) {
    if (result.archive.isEmpty()) return QStringLiteral("File maintenance successfully completed");
    return QStringLiteral("Created/Updated Zip archive file: ") + QDir::toNativeSeparators(QDir(dataFolder).absolutePath() + QLatin1Char('/')) +
           kArchiveName + QStringLiteral("\rPlease copy it to an external drive and upload to an offsite webspace") +
           QStringLiteral("\r(a folder of your own on a cloud storage service such as Nextcloud will do)");
}

}  // namespace albumora::store
