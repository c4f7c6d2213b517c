#include "CursorModel.h"

namespace albumora::views {

CursorModel::CursorModel(store::Cursor* cursor, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), cursor_(cursor), columns_(std::move(columns)) {
    connect(cursor_, &store::Cursor::changed, this, &CursorModel::cursorChanged);
    reload();
}

void CursorModel::reload() {
    beginResetModel();
    recnos_.clear();
    rowOf_.clear();
    rowOfBuilt_ = false;
    fieldIndex_.clear();
    for (const Column& c : columns_) fieldIndex_.push_back(cursor_->fieldIndex(c.field));
    loadError_ = {};
    if (cursor_->isOpen()) {
        auto rows = cursor_->visibleRecords();
        if (rows)
            recnos_ = std::move(rows).value();
        else
            loadError_ = rows.error();
    }
    table_ = cursor_->table().get();
    viewStamp_ = cursor_->viewStamp();
    changeStamp_ = cursor_->isOpen() ? cursor_->table()->changeStamp() : 0;
    endResetModel();
    if (!loadError_.isOk()) emit loadFailed(loadError_.text());
}

void CursorModel::cursorChanged() {
    const std::uint64_t change = cursor_->isOpen() ? cursor_->table()->changeStamp() : 0;
    if (table_ != cursor_->table().get() || viewStamp_ != cursor_->viewStamp() || changeStamp_ != change) {
        reload();
    } else if (!recnos_.empty()) {
        // Same rows; their values may have been edited in place.
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
    }
    emit currentRowChanged(currentRow());
}

int CursorModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(recnos_.size()); }

int CursorModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(columns_.size()); }

std::uint32_t CursorModel::recnoAt(int row) const {
    return row >= 0 && size_t(row) < recnos_.size() ? recnos_[size_t(row)] : 0;
}

int CursorModel::rowOf(std::uint32_t recno) const {
    if (!recno) return -1;
    if (!rowOfBuilt_) {
        rowOf_.reserve(qsizetype(recnos_.size()));
        for (size_t i = 0; i < recnos_.size(); ++i) rowOf_.insert(recnos_[i], int(i));
        rowOfBuilt_ = true;
    }
    return rowOf_.value(recno, -1);
}

QVariant CursorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= recnos_.size()) return {};
    const std::uint32_t recno = recnos_[size_t(index.row())];
    if (role == Qt::DisplayRole) return cursor_->textOfRecord(recno, fieldIndex_[size_t(index.column())]);
    if (decorator_) return decorator_(recno, index.column(), role);
    return {};
}

QVariant CursorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) return {};
    if (role == Qt::DisplayRole) return columns_[section].title;
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(columns_[section].titleAlignment);
    if (role == Qt::BackgroundRole) return headerBackground_.value(section);
    return {};
}

void CursorModel::setHeaderBackground(int column, const QVariant& brush) {
    headerBackground_.insert(column, brush);
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

}  // namespace albumora::views
