// The printed layouts of the report writer over a prepared selection: the album report, the
// artist list and the media report, laid out as banded documents for the preview and for PDF.
#pragma once

#include "Banded.h"
#include "Selection.h"
#include "Status.h"

#include <QDate>
#include <QStringList>

namespace albumora::store {
class TDM;
}

namespace albumora::reports {

enum class Layout { Album, Artist, Media };
// Exactly "LABEL" gives the media report, exactly "ARTIST" the artist list, anything else the
// album report.
Layout LayoutFor(const QStringList& fields);

inline const QString kNothingToPrint = QStringLiteral("There is nothing to print: no record passes");
inline const QString kUntimedNote = QStringLiteral("Tracks without timing are estimated at 3 minutes each in calculating time used");

struct LayoutInput {
    QString title;
    QStringList fields;
    bool withTracks = true;
    QDate date = QDate::currentDate();
    // The media report: the albums filter box as typed, and the media list of the settings.
    QString albumsFilter;
    QStringList mediaList;
};

// Each layout gives a document without pages when its master table yields no record.
store::Result<Document> AlbumReport(Selection& selection, store::TDM& dm, const LayoutInput& in, const Progress& progress = {});
store::Result<Document> ArtistList(store::TDM& dm, const LayoutInput& in);
store::Result<Document> MediaReport(Selection& selection, store::TDM& dm, const LayoutInput& in, const Progress& progress = {});
// The track report over the tracks view's rows (its order and filter) with the tracks chooser's
// fields.
store::Result<Document> TrackReport(store::Cursor& source, const QStringList& fields, const Progress& progress = {});
// A column unit of the track report, in points: ten units a character of the field's width.
inline constexpr double kTrackUnit = 0.44;

// The layout the field list chooses.
store::Result<Document> ReportFor(Selection& selection, store::TDM& dm, const LayoutInput& in, const Progress& progress = {});

// A money total as the summary prints it: two decimals, the system's decimal separator.
QString MoneyTotal(double value);

}  // namespace albumora::reports
