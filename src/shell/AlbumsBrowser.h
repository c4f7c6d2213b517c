// What the main window does with the albums, without its widgets: orders and the column-title
// sort, incremental search, Quick Search, the album filter, the status of the collection
// buttons, jumping to an album, the web link, the cover art and the help pages. The window
// (TForm1) shows what this class decides; tests drive it directly.
#pragma once

#include "DMcd.h"
#include "Settings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

namespace albumora::shell {

// The albums columns of the grid, by field; the tag of each column bears the field's name.
inline const QStringList kAlbumColumns = {QStringLiteral("ARTIST"), QStringLiteral("ALBUM"), QStringLiteral("LABEL"),
                                          QStringLiteral("GENRE")};
// The Quick Search fields, in the order of the chooser.
enum class SearchField { Artist, Album, Label, Notes, Track };

// The column-title sort of any grid over a cursor: a first click orders by the column's tag,
// the next clicks on the same column jump to the next group of equal values.
class ColumnSort {
public:
    // indicator: the field whose title shows the sort indicator (empty for none); updated.
    static store::Status click(store::Cursor& cursor, const QString& field, QString& indicator);
};

class AlbumsBrowser : public QObject {
    Q_OBJECT
public:
    struct Result {
        enum class Window { None, Artists, Albums, Tracks };
        Window window = Window::None;
        QString caption;
    };
    // Shows a result window while the search's filter is on; returns when the window closed.
    using ShowResults = std::function<void(const Result&)>;

    AlbumsBrowser(store::TDM& dm, settings::RunSettings& settings, QObject* parent = nullptr);

    store::TDM& dm() { return dm_; }
    settings::RunSettings& settings() { return settings_; }

    // Orders.
    const QString& sortIndicator() const { return indicator_; }
    bool naturalEnabled() const { return naturalEnabled_; }
    store::Status columnTitleClick(const QString& field);
    void naturalOrder();
    // A key typed into the albums grid; true when it moved the albums.
    bool incrementalSearch(QChar key);
    // After opening the collection: "Artist" order with its indicator.
    void startOrder();

    // Quick Search over one field; nothing for an empty text.
    // Quotes in the text are searched for as typed; a text that holds every kind of quote the
    // expressions know is refused with kUnsearchable.
    void quickSearch(SearchField field, const QString& text, const ShowResults& show);
    static const QString kUnsearchable;

    // Album filter.
    bool filterOn() const { return filterOn_; }
    void filterSet();  // called when the filter window closed with OK
    void cancelFilter();

    // Collection state: the buttons that need an album, and the status text.
    void refreshAlbumStatus();
    // The same without touching the grids or the focus: for a refresh the user did not ask for
    // (another program's save).
    void updateAlbumStatus();
    bool albumButtonsEnabled() const { return albumButtons_; }
    const QString& status() const { return status_; }
    void setStatus(const QString& text);

    void goToAlbum(const QString& id);
    void openWebLink();
    bool showAlbumArt(bool showMessages);
    // A help page, with or without "#anchor": the local copy when present, else the online one.
    void openHelpPage(const QString& page);
    static QString onlineHelpAddress();

signals:
    void statusChanged(const QString& text);
    void albumButtonsChanged(bool enabled);
    void orderChanged();
    void filterChanged(bool on);
    // The grids should repaint and the albums grid take the focus.
    void refreshGrids();

private:
    store::TDM& dm_;
    settings::RunSettings& settings_;
    QString indicator_;
    bool naturalEnabled_ = false;
    bool filterOn_ = false;
    // Type-ahead: the letters typed so far and when the last one came.
    static constexpr int kTypeAheadMs = 1000;
    QElapsedTimer typed_;
    QString typedText_;
    bool albumButtons_ = false;
    QString status_;
};

// The Tip of the Day file: line 1 "True" or "False" (show at start-up), then one tip a line.
class TipOfDay {
public:
    explicit TipOfDay(QString path);
    bool exists() const;
    bool load();
    bool showAtStartup() const;  // line 1 is exactly "True"
    QString tip() const;         // line 2, empty when there is none
    void next();                 // line 2 to the end
    // OK: line 1 from the check box, one more turn, the file written back.
    bool ok(bool showAtStartup);

private:
    QString path_;
    QStringList lines_;
};

}  // namespace albumora::shell
