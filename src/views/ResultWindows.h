// The windows that show what a Quick Search found: artists (TArtSet), albums (TAlbumSet) and
// tracks (TForm2). Each shows a cursor the search filtered, read-only, whole rows selected; the
// go button (Enter) makes the selected row's album current in the main window and closes.
#pragma once

#include "CursorModel.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QTableView;

namespace albumora::views {

class ResultWindow : public QDialog {
    Q_OBJECT
public:
    using GoToAlbum = std::function<void(const QString& id)>;
    ResultWindow(const QString& objectName, store::Cursor& cursor, QList<CursorModel::Column> columns, const QString& goText,
                 GoToAlbum goToAlbum, QWidget* parent = nullptr);

    QTableView* grid() const { return grid_; }
    CursorModel* model() const { return model_; }
    // Button1: go to the album of the selected row.
    void Button1Click();

protected:
    void showLoadError();
    void showError(const store::Status& st);

    QLabel* note_ = nullptr;

private:
    store::Cursor& cursor_;
    CursorModel* model_;
    QTableView* grid_;
    QLabel* error_ = nullptr;
    QPushButton* go_;
    GoToAlbum goToAlbum_;
};

// Artist results over tblArtists; tblFilter resolves its looked-up columns.
class TArtSet : public ResultWindow {
    Q_OBJECT
public:
    TArtSet(store::Cursor& artists, store::Cursor& filter, GoToAlbum goToAlbum, QWidget* parent = nullptr);

private:
    TArtSet(store::Cursor& artists, const store::Status& lookups, GoToAlbum goToAlbum, QWidget* parent);
};

class TAlbumSet : public ResultWindow {
    Q_OBJECT
public:
    TAlbumSet(store::Cursor& filter, GoToAlbum goToAlbum, QWidget* parent = nullptr);
};

class TForm2 : public ResultWindow {
    Q_OBJECT
public:
    TForm2(store::Cursor& tracks, GoToAlbum goToAlbum, QWidget* parent = nullptr);
};

}  // namespace albumora::views
