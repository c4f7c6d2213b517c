// The report writer's file outputs over a prepared selection: the albums, tracks and playlist
// files as CSV or XML data packets, and the web page of the collection. Each file is written
// beside its final name and replaces the old file only when every file of the output is
// complete: a failure (a damaged memo, a full disk) leaves the last good files as they were.
#pragma once

#include "Selection.h"
#include "Status.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace albumora::reports {

enum class FileKind { Csv, Xml };

// The fields the album field chooser starts its output list with.
QStringList InitialAlbumFields(bool withTracks);

struct DataFilesRequest {
    FileKind kind = FileKind::Csv;
    QStringList fields;      // the output field list: field names, "COST", "VALUE"
    bool withTracks = true;  // the tracks and playlist files too
    QString folder;          // where the files go
};

// The files written, albums first; an empty field list writes nothing.
store::Result<QStringList> WriteDataFiles(Selection& selection, const DataFilesRequest& request, const Progress& progress = {});
// "These files created" and the files, one a line.
QString FilesCreatedMessage(const QStringList& paths);

inline const QString kWebPageOrderRefused = QStringLiteral("Albums must be sorted by Artist, Album or Natural for HTML output");
inline const QString kWebPageFileName = QStringLiteral("Albumora.html");

struct WebPageRequest {
    QString title;
    bool withTracks = true;
    Order order = Order::Artist;  // Artist, Album or Natural
    QString path;                 // the page's file
};
store::Status WriteWebPage(Selection& selection, const WebPageRequest& request, const Progress& progress = {});

}  // namespace albumora::reports
