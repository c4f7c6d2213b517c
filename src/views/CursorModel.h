// A table model over a cursor for the grids: the rows are the cursor's visible rows in its
// order, read lazily, so 100,000 albums scroll without a pause. The row list is rebuilt only
// when the cursor's order, filter or scope changes or rows are written.
#pragma once

#include "Cursor.h"

#include <QAbstractTableModel>
#include <QHash>

#include <functional>
#include <vector>

namespace albumora::views {

class CursorModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;
        Qt::Alignment titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    };
    // Extra roles (background, font) for a row, by its record number.
    using Decorator = std::function<QVariant(std::uint32_t recno, int column, int role)>;

    CursorModel(store::Cursor* cursor, QList<Column> columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    store::Cursor* cursor() const { return cursor_; }
    const QList<Column>& columns() const { return columns_; }
    std::uint32_t recnoAt(int row) const;
    int rowOf(std::uint32_t recno) const;  // -1 when not visible
    // The row of the cursor's current record.
    int currentRow() const { return rowOf(cursor_->recNo()); }
    void setDecorator(Decorator d) { decorator_ = std::move(d); }
    // Header colours (the sort indicator of the albums grid).
    void setHeaderBackground(int column, const QVariant& brush);
    // Rebuilds the row list now.
    void reload();
    // Why the last rebuild could not list the rows (a memo the filter reads is damaged, ...):
    // the grid is empty then, and the window says why rather than showing "nothing".
    const store::Status& loadError() const { return loadError_; }

signals:
    // The cursor moved to another row (or the rows were rebuilt).
    void currentRowChanged(int row);
    void loadFailed(const QString& text);

private:
    void cursorChanged();
    store::Cursor* cursor_;
    QList<Column> columns_;
    std::vector<int> fieldIndex_;
    std::vector<std::uint32_t> recnos_;
    mutable QHash<std::uint32_t, int> rowOf_;
    mutable bool rowOfBuilt_ = false;
    const void* table_ = nullptr;
    std::uint64_t viewStamp_ = ~0ull;
    std::uint64_t changeStamp_ = ~0ull;
    Decorator decorator_;
    QHash<int, QVariant> headerBackground_;
    store::Status loadError_;
};

}  // namespace albumora::views
