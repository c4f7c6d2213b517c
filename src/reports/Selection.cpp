#include "Selection.h"

#include "DMcd.h"
#include "File.h"
#include "FilterHistory.h"
#include "Prompts.h"
#include "Table.h"

#include <QSet>

namespace albumora::reports {

using store::Cursor;
using store::Result;
using store::Status;

std::optional<Order> OrderNamed(const QString& name) {
    const QString n = name.trimmed().toUpper();
    if (n == QLatin1String("ARTIST")) return Order::Artist;
    if (n == QLatin1String("ALBUM")) return Order::Album;
    if (n == QLatin1String("LABEL")) return Order::Label;
    if (n == QLatin1String("GENRE")) return Order::Genre;
    if (n == QLatin1String("IX")) return Order::IX;
    if (n == QLatin1String("NATURAL")) return Order::Natural;
    return std::nullopt;
}

Order OrderForBrowser(const QString& browserOrder) {
    const std::optional<Order> o = OrderNamed(browserOrder);
    // IX, ID and no order all open on the natural order.
    return o && *o != Order::IX ? *o : Order::Natural;
}

QString selectionmsg::NoneMatchBoth(const QString& albumsFilter, const QString& tracksFilter) {
    return QStringLiteral("No albums match BOTH the albums filter\r") + albumsFilter + QStringLiteral("\rAND the tracks filter\r") +
           tracksFilter;
}

namespace {
void showError(const QString& text) {
    if (auto* p = platform::desktop().prompts) p->error(text);
}
}  // namespace

Selection::Selection(store::TDM& dm) : dm_(dm) {}

Selection::~Selection() {
    // Back to what the rest of the program expects of these cursors; an error here has no one
    // left to tell, and the next open reports it.
    (void)reset();
    notes_.close();
    tracks_.close();
    playlist_.close();
}

QString Selection::ixIndexPath() const { return dm_.tablePath(QStringLiteral("temp1.idx")); }
QString Selection::tempTablePath() const { return dm_.tablePath(QStringLiteral("temp.dbf")); }

Status Selection::reset() {
    Cursor& f = dm_.tblFilter;
    Status closed;
    if (ixIndex_) {
        // The run's own index: nothing else reads it, and the next IX order builds it anew.
        closed = f.closeIndexFile(ixIndexPath());
        (void)store::removeFile(ixIndexPath());
        ixIndex_ = false;
    }
    f.close();
    f.setFiltered(false);
    // An empty filter compiles nothing: clearing cannot fail.
    (void)f.setFilter(QString());
    f.clearScope();
    f.setTablePath(dm_.tablePath(QStringLiteral("ALBUMS.DBF")));
    ALB_TRY(f.setOrder(QStringLiteral("ID")));
    Cursor& cd = dm_.tblCD;
    cd.setMaster(nullptr, QString());
    cd.close();
    cd.setFiltered(false);
    (void)cd.setFilter(QString());
    ALB_TRY(cd.setOrder(QStringLiteral("Tracks")));
    return closed;
}

Result<bool> Selection::check(Cursor& c, const QString& expression) {
    if (!expression.isEmpty()) {
        if (!c.isOpen()) ALB_TRY(c.open());
        if (!c.validate(expression).isOk()) {
            showError(selectionmsg::kInvalid + expression);
            return false;
        }
    }
    c.setFiltered(false);
    c.close();
    ALB_TRY(c.open());
    if (expression.isEmpty()) return true;
    ALB_TRY(c.setFilter(expression));
    c.setFiltered(true);
    ALB_TRY(c.first());
    if (c.isEmpty()) {
        showError(selectionmsg::kNonePass + expression);
        return false;
    }
    return true;
}

Result<bool> Selection::prepare(const SelectionRequest& request, FilterHistory* albumsHistory, FilterHistory* tracksHistory,
                                const std::function<void(const QString&)>& status) {
    if (status) status(QStringLiteral("Preparing your report ..."));
    ALB_TRY(reset());
    Cursor& f = dm_.tblFilter;
    Cursor& cd = dm_.tblCD;
    const QString albumsFilter = request.albumsFilter.trimmed();
    const QString tracksFilter = request.tracksFilter.trimmed();
    ALB_ASSIGN_OR_RETURN(bool ok, check(f, albumsFilter));
    if (!ok) return false;
    ALB_ASSIGN_OR_RETURN(ok, check(cd, tracksFilter));
    if (!ok) return false;
    if (albumsHistory && !albumsFilter.isEmpty()) albumsHistory->add(request.albumsFilter);
    if (tracksHistory && !tracksFilter.isEmpty()) tracksHistory->add(request.tracksFilter);

    if (!tracksFilter.isEmpty()) {
        ALB_ASSIGN_OR_RETURN(const bool any, copyAlbumsWithPassingTracks(status));
        if (!albumsFilter.isEmpty()) {
            ALB_TRY(f.setFilter(albumsFilter));
            f.setFiltered(true);
        }
        ALB_TRY(f.first());
        if (!any || f.isEmpty()) {
            showError(selectionmsg::NoneMatchBoth(albumsFilter, tracksFilter));
            return false;
        }
    }
    ALB_TRY(cd.setOrder(QStringLiteral("Tracks")));
    cd.setMaster(&f, QStringLiteral("ID"));

    switch (request.order) {
    case Order::Artist: ALB_TRY(f.setOrder(QStringLiteral("Artist"))); break;
    case Order::Album: ALB_TRY(f.setOrder(QStringLiteral("Album"))); break;
    case Order::Label: ALB_TRY(f.setOrder(QStringLiteral("Label"))); break;
    case Order::Genre: ALB_TRY(f.setOrder(QStringLiteral("Genre"))); break;
    case Order::Natural: ALB_TRY(f.setOrder(QString())); break;
    case Order::IX: {
        // The albums tags bear the names of fields: the browser's order name is the field the
        // IX order goes on by.
        QString key = QStringLiteral("upper(PADR(LTRIM(IX),6))");
        const QString then = request.browserOrder.trimmed();
        if (!then.isEmpty() && f.fieldIndex(then) >= 0) key += QLatin1Char('+') + then;
        ALB_TRY(f.createIndexFile(ixIndexPath(), key));
        ixIndex_ = true;
        break;
    }
    }
    ALB_TRY(f.first());
    return !f.isEmpty();
}

Result<bool> Selection::copyAlbumsWithPassingTracks(const std::function<void(const QString&)>& status) {
    Cursor& f = dm_.tblFilter;
    Cursor& cd = dm_.tblCD;
    const QString temp = tempTablePath();
    f.close();
    ALB_TRY(store::removeFile(store::indexPathFor(temp)));
    ALB_TRY(store::removeFile(temp));
    ALB_ASSIGN_OR_RETURN(auto fields, store::parseFieldList(store::TDM::kAlbumsFields));
    ALB_TRY(store::Table::create(temp, fields));
    f.setTablePath(temp);
    f.setFiltered(false);
    ALB_TRY(f.setOrder(QString()));
    ALB_TRY(f.open(store::OpenMode::Exclusive));
    ALB_TRY(store::TDM::CreateAlbumTags(f));
    ALB_TRY(f.setOrder(QStringLiteral("ID")));

    notes_.setTablePath(dm_.tablePath(QStringLiteral("ALBUMS.DBF")));
    ALB_TRY(notes_.setOrder(QStringLiteral("ID")));
    if (!notes_.isOpen()) ALB_TRY(notes_.open());
    const int idField = cd.fieldIndex(QStringLiteral("ID"));
    QSet<QString> copied;
    qint64 walked = 0;
    const auto tell = [&] {
        if (status)
            status(QStringLiteral("Preparing your report ... %1 tracks passed the filter, %2 albums").arg(walked).arg(copied.size()));
    };
    ALB_TRY(cd.forEachRow([&]() -> Status {
        if (++walked % 2048 == 0) tell();
        const QString id = cd.text(idField);
        if (!copied.contains(id)) {
            copied.insert(id);
            ALB_ASSIGN_OR_RETURN(const bool found, notes_.findKey({id}));
            // A track whose album is gone has nothing to copy.
            if (found) {
                ALB_TRY(f.append());
                for (int i = 0; i < notes_.fieldCount() && i < f.fieldCount(); ++i) {
                    ALB_ASSIGN_OR_RETURN(const QString value, notes_.readText(i));
                    ALB_TRY(f.setText(i, value));
                }
                ALB_TRY(f.post());
            }
        }
        return {};
    }));
    tell();
    ALB_TRY(f.flush());
    return !copied.isEmpty();
}

Cursor& Selection::albums() { return dm_.tblFilter; }

Result<qint64> Selection::count() { return dm_.tblFilter.recordCount(); }

// The rows of one table that belong to the current album, through a scope on its ID tag.
Status Selection::forEachRowOfAlbum(Cursor& c, const QString& table, const QString& tag, const std::function<Status(const Cursor&)>& row) {
    if (!c.isOpen()) {
        c.setTablePath(dm_.tablePath(table));
        ALB_TRY(c.setOrder(tag));
        ALB_TRY(c.open());
    }
    const QString id = dm_.tblFilter.text(QStringLiteral("ID"));
    ALB_TRY(c.setScope(id, id));
    return c.forEachRow([&] { return row(c); });
}

Status Selection::forEachTrack(const std::function<Status(const Cursor&)>& row) {
    return forEachRowOfAlbum(tracks_, QStringLiteral("TRACKS.DBF"), QStringLiteral("Tracks"), row);
}

Status Selection::forEachPlaylistEntry(const std::function<Status(const Cursor&)>& row) {
    return forEachRowOfAlbum(playlist_, QStringLiteral("PLAYLIST.DBF"), QStringLiteral("Playlist"), row);
}

}  // namespace albumora::reports
