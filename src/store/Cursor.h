// A cursor over one table: the program's way to read and write rows. Several cursors may share
// one table (the albums browser and the search cursor both read ALBUMS.DBF); each keeps its own
// order, filter, scope and position.
//
// Navigation follows the habits of the desktop database components the program's flows were
// written for: after first() bof() holds, after last() eof() holds; next() at the end sets eof()
// and stays on the last row; prior() at the start sets bof(). Deleted rows are never visible.
#pragma once

#include "Status.h"
#include "Table.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace albumora::store {

class Cursor : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    struct Bookmark {
        std::uint32_t recno = 0;
        bool valid() const { return recno != 0; }
    };

    explicit Cursor(const QString& name = {}, QObject* parent = nullptr);
    ~Cursor() override;

    const QString& name() const { return name_; }
    void setTablePath(const QString& path);
    const QString& tablePath() const { return path_; }
    bool exists() const;

    Status open(OpenMode mode = OpenMode::Shared);
    void close();
    bool isOpen() const { return table_ != nullptr; }
    OpenMode mode() const { return mode_; }
    const std::shared_ptr<Table>& table() const { return table_; }
    State state() const { return state_; }

    // Fields: the table's own, then looked-up and computed ones.
    int fieldCount() const;
    QString fieldName(int index) const;
    int fieldIndex(const QString& name) const;  // without regard to case; -1 when absent
    int fieldWidth(int index) const;
    char fieldType(int index) const;  // DBF type letter; 'C' for looked-up and computed fields
    // A looked-up field: the field resultField of the row of source whose key (on sourceTag)
    // equals this row's keyField.
    void addLookupField(const QString& name, int width, Cursor* source, const QString& keyField,
                        const QString& sourceTag, const QString& resultField);
    void addCalcField(const QString& name, int width, std::function<QString(const Cursor&)> calc);

    // Values of the current row (or of the row being edited), without trailing blanks.
    QString text(int index) const;
    QString text(const QString& name) const;
    // The same, with a memo that cannot be read as the engine's error rather than empty text:
    // for whatever shows, prints or stores the notes.
    // The current row's bytes as stored (deletion byte first), or as edited.
    const std::string& rowBytes() const;
    Result<QString> readText(int index) const;
    Result<QString> readText(const QString& name) const;
    // A field of any row, without moving: grids read their rows this way.
    QString textOfRecord(std::uint32_t recno, int index) const;
    qint64 integer(const QString& name) const;
    bool boolean(const QString& name) const;
    bool isBlank(const QString& name) const;

    // Order: a tag name (any case), a single-order index file opened with openIndexFile, or
    // empty for natural (entry) order.
    Status setOrder(const QString& tag);
    const QString& order() const { return order_; }
    QStringList tagNames() const;
    bool tagExists(const QString& tag) const;
    Status createTag(const QString& name, const QString& keyExpr);
    Status createIndexFile(const QString& path, const QString& keyExpr);  // and order by it
    Status openIndexFile(const QString& path);                            // and order by it
    Status closeIndexFile(const QString& path);

    // Navigation.
    Status first();
    Status last();
    Status next();
    Status prior();
    bool bof() const { return bof_; }
    bool eof() const { return eof_; }
    bool isEmpty() const { return recno_ == 0; }
    std::uint32_t recNo() const { return recno_; }
    Bookmark bookmark() const { return {recno_}; }
    Status gotoBookmark(const Bookmark& b);  // refuses a row the filter hides
    // Whether the row exists, is not deleted and passes the filter.
    Result<bool> shows(const Bookmark& b);
    // Calls row on every visible row from the first, in the cursor's order, the row current
    // meanwhile; the first error ends the walk and is returned.
    Status forEachRow(const std::function<Status()>& row);
    // Rows passing the filter and scope, deleted rows excluded.
    Result<qint64> recordCount();
    // Every visible row's record number in the current order.
    Result<std::vector<std::uint32_t>> visibleRecords();

    // Seeks on the current order. Exact: one or more key values (an album ID; an album ID and
    // a track number). Partial: the first row whose key starts with the text. Nearest: the first
    // row at or after the text, or the last row with eof() when there is none.
    Result<bool> findKey(const QStringList& values);
    Result<bool> findPartial(const QString& prefix);
    Status findNearest(const QString& value);

    // Filter.
    Status setFilter(const QString& expression);  // compiles it; an empty text clears it
    const QString& filter() const { return filterText_; }
    void setFiltered(bool on);
    bool filtered() const { return filtered_ && !filterExpr_.isNull(); }
    Status validate(const QString& expression) const;

    // Scope on the current order: rows whose keys lie between the two texts, each compared on
    // its own length.
    Status setScope(const QString& low, const QString& high);
    void clearScope();
    bool hasScope() const { return scope_.has_value(); }

    // Master-detail: the visible rows are those whose detail key (the leading part of the
    // current order's key) equals the master's field; follows the master's position.
    void setMaster(Cursor* master, const QString& masterField);
    Cursor* master() const { return master_; }

    // Editing.
    Status append();
    Status edit();
    Status setText(const QString& field, const QString& value);
    Status setText(int index, const QString& value);
    Status setBoolean(const QString& field, bool value);
    Status setInteger(const QString& field, qint64 value);
    Status post();
    void cancel();
    Status deleteRecord();
    Status flush();

    // Display freeze: while disabled, changed() is held back and detail cursors do not follow.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disabled_ > 0; }
    // Re-reads the current row and tells the views.
    void refresh();
    // Changes whenever the set or order of visible rows may have changed through this cursor's
    // settings (order, filter, scope, open, close); with the table's changeStamp() it tells views
    // when to rebuild their row lists.
    std::uint64_t viewStamp() const { return viewStamp_; }

signals:
    // The position or the data changed.
    void changed();

private:
    struct Extra {
        QString name;
        int width = 0;
        bool lookup = false;
        Cursor* source = nullptr;
        QString keyField;
        QString sourceTag;
        QString resultField;
        std::function<QString(const Cursor&)> calc;
    };
    enum class Dir { Forward, Backward };

    const Table::Tag* orderTag() const;
    template <class Op>
    auto repairing(Op&& op) -> decltype(op());
    Result<IndexEntry> entryAt(Tree* tree, const TreePos& p) const;
    Status firstOnce();
    Status lastOnce();
    Status nextOnce();
    Status priorOnce();
    Result<qint64> recordCountOnce();
    Result<std::vector<std::uint32_t>> visibleRecordsOnce();
    Result<bool> findKeyOnce(const QStringList& values);
    Result<bool> findPartialOnce(const QString& prefix);
    Status findNearestOnce(const QString& value);
    Status requireOpen() const;
    Status catchUp();
    Status loadRecord(std::uint32_t recno);
    Result<bool> passes(std::uint32_t recno, const std::string& rec) const;
    bool inScope(std::string_view key) const;
    Status moveTo(std::uint32_t recno);
    Status step(Dir dir, bool& moved);
    Status positionInOrder();
    Status scanFrom(bool fromStart, Dir dir, bool& found);
    std::string keyBytes(const QString& text) const;
    std::string seekKey(const QStringList& values) const;
    QString extraText(const Extra& e) const;
    QString fieldText(const FieldDef& f, const std::string& rec, int index) const;
    FieldResolver resolver() const;
    void notify();
    void followMaster();
    void setEmpty();

    QString name_;
    QString path_;
    OpenMode mode_ = OpenMode::Shared;
    std::shared_ptr<Table> table_;
    State state_ = State::Inactive;

    QString order_;
    QString filterText_;
    Expression filterExpr_;
    bool filtered_ = false;
    struct Scope {
        std::string low, high;
    };
    std::optional<Scope> scope_;
    bool detailNone_ = false;

    std::uint32_t recno_ = 0;
    bool bof_ = true;
    bool eof_ = true;
    std::string rec_;
    std::uint64_t recStamp_ = 0;
    TreePos pos_;
    // A walk forward in index order: steps in a row, and how many rows the next prefetch takes.
    std::uint32_t walk_ = 0;
    std::size_t prefetchRows_ = 0;
    void endWalk() {
        walk_ = 0;
        prefetchRows_ = 0;
    }
    static constexpr std::uint32_t kWalkBeforePrefetch = 32;
    static constexpr std::size_t kPrefetchFirst = 256;
    void prefetchAhead(Tree* tree, const TreePos& from);
    std::string posKey_;

    std::string editRec_;
    std::map<int, std::string> memoEdits_;

    std::vector<Extra> extras_;
    Cursor* master_ = nullptr;
    QString masterField_;
    QMetaObject::Connection masterLink_;
    int disabled_ = 0;
    bool pending_ = false;
    std::uint64_t viewStamp_ = 0;
    void touchView() { ++viewStamp_; }
    mutable const Table::Tag* tagCache_ = nullptr;
    mutable std::uint64_t tagCacheStamp_ = 0;
    mutable QString tagCacheName_;
};

}  // namespace albumora::store
