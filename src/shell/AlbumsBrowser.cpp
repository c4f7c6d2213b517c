#include "AlbumsBrowser.h"

#include "Codepage.h"
#include "File.h"
#include "NotesTags.h"
#include "Prompts.h"

#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace albumora::shell {

using store::Cursor;
using store::Status;

namespace {
void showError(const Status& st) {
    if (!st)
        if (auto* prompts = platform::desktop().prompts) prompts->error(st.text());
}
}  // namespace

Status ColumnSort::click(Cursor& cursor, const QString& field, QString& indicator) {
    if (indicator.compare(field, Qt::CaseInsensitive) == 0) {
        // Jump to the next group: the first row whose value differs exactly, or the last row.
        cursor.disableControls();
        const QString start = cursor.text(field);
        Status st;
        while (!cursor.eof()) {
            st = cursor.next();
            if (!st || cursor.eof() || cursor.text(field) != start) break;
        }
        cursor.enableControls();
        return st;
    }
    indicator = field;
    return cursor.setOrder(field);
}

AlbumsBrowser::AlbumsBrowser(store::TDM& dm, settings::RunSettings& settings, QObject* parent)
    : QObject(parent), dm_(dm), settings_(settings) {}

void AlbumsBrowser::startOrder() {
    indicator_ = QStringLiteral("ARTIST");
    naturalEnabled_ = true;
    emit orderChanged();
}

Status AlbumsBrowser::columnTitleClick(const QString& field) {
    Status st = ColumnSort::click(dm_.tblAlbums, field, indicator_);
    naturalEnabled_ = true;
    emit orderChanged();
    return st;
}

void AlbumsBrowser::naturalOrder() {
    showError(dm_.tblAlbums.setOrder(QString()));
    naturalEnabled_ = false;
    indicator_.clear();
    emit orderChanged();
    emit refreshGrids();
}

bool AlbumsBrowser::incrementalSearch(QChar key) {
    if (dm_.tblAlbums.state() != Cursor::State::Browse) return false;
    if (key.unicode() < 32 || key.unicode() > 126 || !naturalEnabled_) return false;
    // Letters typed in quick succession build one search text: "bea" finds "Beatles", not the
    // first "B" and then the first "E".
    if (!typed_.isValid() || typed_.elapsed() > kTypeAheadMs) typedText_.clear();
    typed_.start();
    typedText_ += key.toUpper();
    return dm_.tblAlbums.findNearest(typedText_).isOk();
}

void AlbumsBrowser::setStatus(const QString& text) {
    status_ = text;
    emit statusChanged(text);
}

void AlbumsBrowser::refreshAlbumStatus() {
    updateAlbumStatus();
    emit refreshGrids();
}

void AlbumsBrowser::updateAlbumStatus() {
    auto count = dm_.tblAlbums.isOpen() ? dm_.tblAlbums.recordCount() : store::Result<qint64>(qint64(0));
    const qint64 n = count ? *count : 0;
    albumButtons_ = n >= 1;
    emit albumButtonsChanged(albumButtons_);
    if (filterOn_)
        setStatus(QStringLiteral("Filtering ON: ") + dm_.tblAlbums.filter() + QStringLiteral(" - ") + QString::number(n) +
                  QStringLiteral(" albums"));
    else
        setStatus(QString());
}

void AlbumsBrowser::filterSet() {
    filterOn_ = true;
    emit filterChanged(true);
    refreshAlbumStatus();
}

void AlbumsBrowser::cancelFilter() {
    dm_.tblAlbums.setFiltered(false);
    showError(dm_.tblAlbums.first());
    filterOn_ = false;
    emit filterChanged(false);
    refreshAlbumStatus();
}

namespace {
// The search text as a text of the expression language: in double quotes, or, when it holds
// double quotes itself ("Heroes" with its quotes), in single quotes or square brackets, so that
// it is searched for as typed.
std::optional<QString> searchLiteral(const QString& text) {
    const std::pair<QChar, QChar> delimiters[] = {{u'"', u'"'}, {u'\'', u'\''}, {u'[', u']'}};
    for (const auto& [open, close] : delimiters)
        if (!text.contains(close)) return open + text + close;
    return std::nullopt;
}
}  // namespace

const QString AlbumsBrowser::kUnsearchable =
    QStringLiteral("A search text cannot hold double quotes, single quotes and \"]\" all at once:\r");

void AlbumsBrowser::quickSearch(SearchField field, const QString& text, const ShowResults& show) {
    if (text.isEmpty()) return;
    auto* prompts = platform::desktop().prompts;
    const std::optional<QString> literal = searchLiteral(field == SearchField::Notes ? QLatin1Char('*') + text + QLatin1Char('*') : text);
    if (!literal) {
        if (prompts) prompts->error(kUnsearchable + text);
        return;
    }
    auto fail = [&](const Status& st) {
        if (prompts) prompts->error(st.text());
    };
    setStatus(QStringLiteral("Searching ..."));
    // The result window is shown only over rows that can be counted: a count that fails (a
    // damaged memo under a Notes search) is the engine's error, never "0 found".
    auto showCounted = [&](Cursor& c, Result::Window window, const QString& before) {
        auto n = c.recordCount();
        if (!n) return fail(n.error());
        if (show) show({window, before + QString::number(*n) + QStringLiteral(" found)")});
    };
    auto notFound = [&] {
        if (prompts) prompts->message(QStringLiteral("Could not find: ") + text);
    };
    Cursor& filterCursor = dm_.tblFilter;
    switch (field) {
        case SearchField::Artist: {
            Cursor& a = dm_.tblArtists;
            Status st = a.isOpen() ? Status() : a.open();
            if (st) st = a.setOrder(QStringLiteral("Artist"));
            if (st) {
                a.setFiltered(true);
                st = a.setFilter(QStringLiteral("contains(artist,") + *literal + QStringLiteral(")"));
            }
            if (st) st = a.first();
            if (!st) {
                fail(st);
            } else if (a.isEmpty()) {
                notFound();
            } else {
                showCounted(a, Result::Window::Artists,
                            QStringLiteral("Albumora One-Stop Artist Search (including multi-artist) for \"") + text +
                                QStringLiteral("\" ("));
            }
            a.setFiltered(false);
            break;
        }
        case SearchField::Album:
        case SearchField::Label:
        case SearchField::Notes: {
            Status st = filterCursor.isOpen() ? Status() : filterCursor.open();
            QString expr, caption;
            if (field == SearchField::Album) {
                if (st) st = filterCursor.setOrder(QStringLiteral("Album"));
                expr = QStringLiteral("contains(album,") + *literal + QStringLiteral(")");
                caption = QStringLiteral("Albumora - Albums containing \"");
            } else if (field == SearchField::Label) {
                if (st) st = filterCursor.setOrder(QStringLiteral("Label"));
                expr = QStringLiteral("contains(label,") + *literal + QStringLiteral(")");
                caption = QStringLiteral("Albumora - Label/Directory containing \"");
            } else {
                expr = QStringLiteral("contains(notes,") + *literal + QStringLiteral(")");
                caption = QStringLiteral("Albumora - Notes containing \"");
            }
            if (st) {
                filterCursor.setFiltered(true);
                st = filterCursor.setFilter(expr);
            }
            if (st) st = filterCursor.first();
            if (!st) {
                fail(st);
            } else if (filterCursor.isEmpty()) {
                notFound();
            } else {
                showCounted(filterCursor, Result::Window::Albums, caption + text + QStringLiteral("\" ("));
            }
            break;
        }
        case SearchField::Track: {
            Cursor& cd = dm_.tblCD;
            dm_.tblAlbums.disableControls();
            dm_.tblTracks.disableControls();
            dm_.tblPlayList.disableControls();
            cd.close();
            Status st = cd.setOrder(QStringLiteral("Tracks"));
            if (st) st = cd.open(store::OpenMode::Shared);
            filterCursor.setFiltered(false);
            if (st && !filterCursor.isOpen()) st = filterCursor.open();
            if (st) {
                cd.setFiltered(true);
                st = cd.setFilter(QStringLiteral("contains(track,") + *literal + QStringLiteral(")"));
            }
            if (st) st = cd.first();
            if (!st) {
                fail(st);
            } else if (cd.isEmpty()) {
                notFound();
            } else {
                showCounted(cd, Result::Window::Tracks, QStringLiteral("Albumora - Tracks containing \"") + text + QStringLiteral("\" ("));
            }
            cd.setFiltered(false);
            dm_.tblAlbums.enableControls();
            dm_.tblTracks.enableControls();
            dm_.tblPlayList.enableControls();
            dm_.tblTracks.refresh();
            if (dm_.tblPlayList.isOpen()) showError(dm_.tblPlayList.findNearest(dm_.tblAlbums.text(QStringLiteral("ID"))));
            break;
        }
    }
    filterCursor.setFiltered(false);
    setStatus(QString());
    emit refreshGrids();
}

void AlbumsBrowser::goToAlbum(const QString& id) {
    Cursor& a = dm_.tblAlbums;
    const QString order = a.order();
    a.disableControls();
    Status st = a.setOrder(QStringLiteral("id"));
    if (st) st = a.findKey({id}).status();
    const Status back = a.setOrder(order);
    if (st) st = back;
    a.enableControls();
    a.refresh();
    showError(st);
    emit refreshGrids();
}

void AlbumsBrowser::openWebLink() {
    const QString link = notes::FindLastTagged(notes::SplitLines(dm_.tblAlbums.text(QStringLiteral("Notes"))), notes::kUrl);
    if (!link.isEmpty()) {
        if (auto* l = platform::desktop().launcher) l->open(link);
        return;
    }
    if (auto* p = platform::desktop().prompts)
        p->error(QStringLiteral("No website entered for this album.\rClick \"Modify\" button, \"Edit Notes\", \"Add URL\"\rto add a web page"));
}

bool AlbumsBrowser::showAlbumArt(bool showMessages) {
    auto* prompts = platform::desktop().prompts;
    const QString cover = notes::FindLastTagged(notes::SplitLines(dm_.tblAlbums.text(QStringLiteral("Notes"))), notes::kCover);
    if (cover.isEmpty()) {
        if (showMessages && prompts)
            prompts->error(QStringLiteral("No cover art found\rClick the \"Modify\" button,\rthen \"Get Cover Art\" (if you don't have it "
                                          "already),\rfinally \"Edit Notes\" and \"Add Cover Image\"\rto add a cover image for this album"));
        return false;
    }
    if (!QFileInfo::exists(cover)) {
        if (showMessages && prompts) prompts->error(cover + QStringLiteral("\rNo longer exists"));
        return false;
    }
    auto* launcher = platform::desktop().launcher;
    if (!launcher) return false;
    const QString viewer = store::trimControl(settings_.viewer);
    if (!viewer.isEmpty() && QFileInfo(viewer).isFile() && QFileInfo(cover).suffix().toUpper() != QLatin1String("TXT"))
        return launcher->start(viewer, {cover});
    return launcher->open(cover);
}

QString AlbumsBrowser::onlineHelpAddress() { return QStringLiteral("https://albumora.org/help/"); }

void AlbumsBrowser::openHelpPage(const QString& page) {
    auto* launcher = platform::desktop().launcher;
    if (!launcher) return;
    const QString file = page.section(QLatin1Char('#'), 0, 0);
    const QString anchor = page.contains(QLatin1Char('#')) ? page.section(QLatin1Char('#'), 1) : QString();
    const QString local = QDir(settings_.programFolder).filePath(file);
    if (QFileInfo::exists(local)) {
        QUrl url = QUrl::fromLocalFile(local);
        if (!anchor.isEmpty()) url.setFragment(anchor);
        launcher->open(url.toString());
    } else {
        launcher->open(onlineHelpAddress() + page);
    }
}

// ---------------------------------------------------------------------------------------------

TipOfDay::TipOfDay(QString path) : path_(std::move(path)) {}

bool TipOfDay::exists() const { return QFileInfo(path_).isFile(); }

bool TipOfDay::load() {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = f.readAll();
    QString text = store::fromCp1252(std::string_view(bytes.constData(), size_t(bytes.size())));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines_ = text.split(QLatin1Char('\n'));
    if (!lines_.isEmpty() && lines_.last().isEmpty()) lines_.removeLast();
    return true;
}

bool TipOfDay::showAtStartup() const { return !lines_.isEmpty() && lines_.first() == QLatin1String("True"); }

QString TipOfDay::tip() const { return lines_.value(1); }

void TipOfDay::next() {
    if (lines_.size() > 2) lines_.move(1, lines_.size() - 1);
}

bool TipOfDay::ok(bool show) {
    if (lines_.isEmpty()) lines_ << QString();
    lines_[0] = show ? QStringLiteral("True") : QStringLiteral("False");
    next();
    QString text;
    for (const QString& l : lines_) text += l + QStringLiteral("\r\n");
    return store::writeFileAtomically(path_, store::toCp1252(text), false).isOk();
}

}  // namespace albumora::shell
