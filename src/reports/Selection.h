// The report writer's selection: the albums an albums filter and a tracks filter leave, in the
// order chosen, as every output of the report writer reads them (tblFilter yields the albums,
// tblCD the tracks of the current one). A tracks filter copies the albums with a passing track
// into the work table "temp.dbf" of the data folder; the IX order reads a single-order index
// "temp1.idx" built for the run.
#pragma once

#include "Cursor.h"
#include "Status.h"

#include <QString>

#include <functional>

namespace albumora::store {
class TDM;
}

namespace albumora::reports {

class FilterHistory;

enum class Order { Artist, Album, Label, Genre, IX, Natural };
// "Artist", "Album", "Label", "Genre", "IX", "Natural" in any case.
std::optional<Order> OrderNamed(const QString& name);
// The order the report writer opens with for the albums browser's order name.
Order OrderForBrowser(const QString& browserOrder);

namespace selectionmsg {
inline const QString kInvalid = QStringLiteral("Invalid Filter Expression: \r");
inline const QString kNonePass = QStringLiteral("Sorry, no records pass filter:\r");
QString NoneMatchBoth(const QString& albumsFilter, const QString& tracksFilter);
}  // namespace selectionmsg

// Progress of an output: albums done so far and how many there are.
using Progress = std::function<void(qint64 done, qint64 total)>;

struct SelectionRequest {
    QString albumsFilter;
    QString tracksFilter;
    Order order = Order::Natural;
    // The albums browser's order name: the IX order sorts by IX and then by it.
    QString browserOrder;
};

class Selection {
public:
    explicit Selection(store::TDM& dm);
    // Puts tblFilter back on ALBUMS.DBF without a filter, tblCD without master or filter, and
    // deletes the IX index.
    ~Selection();
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

    // Selects. False, after its message, when nothing passes or a filter is refused; the
    // histories get the filters used. Errors of the engine come back as errors.
    store::Result<bool> prepare(const SelectionRequest& request, FilterHistory* albumsHistory = nullptr,
                                FilterHistory* tracksHistory = nullptr,
                                const std::function<void(const QString&)>& status = {});

    store::Cursor& albums();
    // The number of selected albums.
    store::Result<qint64> count();
    // Every track of the current album, whatever the tracks filter: the rows of the outputs.
    store::Status forEachTrack(const std::function<store::Status(const store::Cursor&)>& row);
    store::Status forEachPlaylistEntry(const std::function<store::Status(const store::Cursor&)>& row);

private:
    store::Result<bool> check(store::Cursor& c, const QString& expression);
    store::Status forEachRowOfAlbum(store::Cursor& c, const QString& table, const QString& tag,
                                    const std::function<store::Status(const store::Cursor&)>& row);
    store::Status reset();
    store::Result<bool> copyAlbumsWithPassingTracks(const std::function<void(const QString&)>& status);
    QString ixIndexPath() const;
    QString tempTablePath() const;

    store::TDM& dm_;
    store::Cursor notes_{QStringLiteral("tblNotes")};
    store::Cursor tracks_{QStringLiteral("tblTracksOfAlbum")};
    store::Cursor playlist_{QStringLiteral("tblPlaylistOfAlbum")};
    bool ixIndex_ = false;
};

}  // namespace albumora::reports
