// The tracks view without its window: the work table TVIEW.DBF (one row per track, listed once
// under the album's own artist and once under each track-level artist), its filter, orders and
// the outputs made from the rows shown or selected.
//
// The work table is derived data. It is built in a private folder of the data folder and put in
// place by renaming, its index file first, so that a build that dies half-way leaves no table the
// next opening would trust; deleting it is how the rest of the program asks for a rebuild.
#pragma once

#include "Cursor.h"
#include "FilterHistory.h"
#include "Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace albumora::store {
class TDM;
}
namespace albumora::reports {
struct Document;
}

namespace albumora::views {

using StatusLine = std::function<void(const QString&)>;
// Rows appended so far and the rows there will be (tracks of the collection, an estimate).
using BuildProgress = std::function<void(qint64 done, qint64 total)>;

inline const QString kTViewFile = QStringLiteral("TVIEW.DBF");
inline const QString kSelectionCopyFile = QStringLiteral("temptrk.dbf");
inline const QString kTViewCopyFile = QStringLiteral("_TVIEW.DBF");
inline const QString kDjFile = QStringLiteral("DJintel.csv");
inline const QString kTViewHistoryFile = QStringLiteral("tview.ini");

// The three tags of the work table, in the order they are made.
const std::vector<std::pair<QString, QString>>& TrackViewTags();
// The fields of the view in the order the output field chooser lists them.
const QStringList& TrackViewFields();

namespace tviewmsg {
inline const QString kBuilding = QStringLiteral("Creating Tracks View table...");
inline const QString kInvalid = QStringLiteral("Invalid Filter Expression\r");
inline const QString kSettingFilter = QStringLiteral("Setting filter...");
inline const QString kCannotOrder = QStringLiteral(
    "Sorry, cannot order by this column,\rBUT you may be able to use Set Filter instead.\rFor example, to see only albums from "
    "this century,\renter the Filter Expression:   YR > \"1999\"\rOr to see only jazz and classical, you could\renter: "
    "genre=\"jazz\" OR genre=\"classical\"\rYou can also see only tracks marked (or not marked),\re.g. to see only tracks by "
    "Dylan not yet marked\renter: contains(artist,\"bob dylan\") AND NOT marked\rRemember to click the \"Set Filter\" button!");
inline const QString kApplyFilterFirst = QStringLiteral("If you wish to apply a filter you must click the Set Filter first");
inline const QString kPreparingDj = QStringLiteral("Preparing Music List for upload to DJ Intelligence...");
inline const QString kDjCreated = QStringLiteral("DJintel.csv created for upload to DJ Intelligence");
inline const QString kPreparing = QStringLiteral("Preparing Report or File...");
inline const QString kNoWebPage = QStringLiteral(
    "Unlike the main Report Writer, this module does not\rhave a dedicated html webpage output.\rHOWEVER, you can instead "
    "choose CSV export to import\rinto your spreadsheet or into the freeware AscToTab,\rwhich can save in html format");
inline const QString kNoAlbums = QStringLiteral("There are no albums in your collection yet");
inline const QString kFileCreated = QStringLiteral("Created report file:\r");
QString BaseStatus(qint64 rows);
QString FilterStatus(qint64 rows, const QString& expression);
}  // namespace tviewmsg

struct BuildResult {
    qint64 rows = 0;
    qint64 skipped = 0;  // artist rows naming an album or track that is gone
};

// Builds TVIEW.DBF with its tags from the collection tables and puts it in place of any old one.
// The table must not be open in this process.
store::Result<BuildResult> BuildTrackViewTable(store::TDM& dm, const StatusLine& status = {}, const BuildProgress& progress = {});

enum class FileOutput { Csv, Xml };

class TrackView {
public:
    explicit TrackView(store::TDM& dm);
    ~TrackView();
    TrackView(const TrackView&) = delete;
    TrackView& operator=(const TrackView&) = delete;

    // Builds the work table when it is missing (or cannot be opened), makes its tags when its
    // index file is missing, and opens it on the Track tag at the first row.
    store::Status open(const StatusLine& status = {}, const BuildProgress& progress = {});
    // Filter off, no order, the table closed; the filter history saved.
    void close();

    store::Cursor& rows();
    const QString& baseStatus() const { return baseStatus_; }
    reports::FilterHistory& history() { return history_; }
    // The field whose column title carries the sort indicator.
    const QString& sortField() const { return sortField_; }

    // Returns the status text; an invalid expression is an error whose text is the message.
    store::Result<QString> setFilter(const QString& expression, const StatusLine& status = {});
    store::Status cancelFilter();
    bool filterOn() const;

    // A click on a column title: true when the order changed, false when it stepped to the next
    // different value of the sort column. A column without a tag is refused (kCannotOrder).
    store::Result<bool> titleClick(const QString& field);
    // A printable key in the grid.
    store::Status jump(QChar key);

    // The rows an output covers: all rows passing the filter in the current order, or, when two
    // or more are selected, a copy of just those (temptrk.dbf).
    store::Result<store::Cursor*> outputSource(const std::vector<store::Cursor::Bookmark>& selected);
    void closeSelectionCopy();

    // The outputs; each returns the full path of what it wrote and leaves the current row.
    store::Result<QString> writeDjList(const std::vector<store::Cursor::Bookmark>& selected);
    store::Result<QString> writeFile(FileOutput kind, const QStringList& fields, const QString& folder,
                                     const std::vector<store::Cursor::Bookmark>& selected);
    store::Result<QString> copyTable();
    // The track report of the rows an output covers, with the chooser's fields.
    store::Result<reports::Document> report(const QStringList& fields, const std::vector<store::Cursor::Bookmark>& selected);

private:
    store::Status openBuilt(const StatusLine& status, const BuildProgress& progress);

    store::TDM& dm_;
    reports::FilterHistory history_;
    QString baseStatus_;
    QString sortField_ = QStringLiteral("Track");
    bool filterSet_ = false;  // "Set Filter" was pressed, even with an empty expression
    std::unique_ptr<store::Cursor> selection_;
};

}  // namespace albumora::views
