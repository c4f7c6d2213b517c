#include "ResultWindows.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace albumora::views {

ResultWindow::ResultWindow(const QString& objectName, store::Cursor& cursor, QList<CursorModel::Column> columns,
                           const QString& goText, GoToAlbum goToAlbum, QWidget* parent)
    : QDialog(parent), cursor_(cursor), goToAlbum_(std::move(goToAlbum)) {
    setObjectName(objectName);
    setModal(true);
    resize(700, 420);
    auto* layout = new QVBoxLayout(this);
    model_ = new CursorModel(&cursor_, std::move(columns), this);
    grid_ = new QTableView(this);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->setVisible(false);
    grid_->verticalHeader()->setDefaultSectionSize(20);
    grid_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(grid_);
    note_ = new QLabel(this);
    note_->setVisible(false);
    layout->addWidget(note_);
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("LoadError"));
    error_->setWordWrap(true);
    error_->setVisible(false);
    layout->addWidget(error_);
    auto* buttons = new QHBoxLayout;
    go_ = new QPushButton(goText, this);
    go_->setObjectName(QStringLiteral("Button1"));
    go_->setDefault(true);
    go_->setAutoDefault(true);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BitBtn1"));
    close->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(go_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(go_, &QPushButton::clicked, this, &ResultWindow::Button1Click);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    if (model_->rowCount() > 0) grid_->selectRow(std::max(0, model_->currentRow()));
    showLoadError();
    connect(model_, &CursorModel::loadFailed, this, &ResultWindow::showLoadError);
    connect(grid_, &QTableView::doubleClicked, this, [this] { Button1Click(); });
}

void ResultWindow::showLoadError() {
    if (model_->loadError().isOk()) return;
    // The rows could not be listed: an empty grid alone would read as "nothing found".
    showError(model_->loadError());
}

void ResultWindow::showError(const store::Status& st) {
    error_->setText(st.text());
    error_->setVisible(true);
}

void ResultWindow::Button1Click() {
    const QModelIndex at = grid_->currentIndex();
    const int row = at.isValid() ? at.row() : (model_->rowCount() ? 0 : -1);
    if (row < 0) return;
    const QString id = cursor_.textOfRecord(model_->recnoAt(row), cursor_.fieldIndex(QStringLiteral("ID")));
    if (goToAlbum_) goToAlbum_(id);
    accept();
}

namespace {
// The looked-up album columns resolve through the search cursor's ID order.
store::Status resolveAlbumsThrough(store::Cursor& filter) {
    const store::Status opened = filter.isOpen() ? store::Status() : filter.open();
    const store::Status ordered = filter.setOrder(QStringLiteral("ID"));
    return opened ? ordered : opened;
}
}  // namespace

TArtSet::TArtSet(store::Cursor& artists, store::Cursor& filter, GoToAlbum goToAlbum, QWidget* parent)
    : TArtSet(artists, resolveAlbumsThrough(filter), std::move(goToAlbum), parent) {}

TArtSet::TArtSet(store::Cursor& artists, const store::Status& lookups, GoToAlbum goToAlbum, QWidget* parent)
    : ResultWindow(QStringLiteral("ArtSet"), artists,
                   {{QStringLiteral("NR"), QStringLiteral("#")},
                    {QStringLiteral("ARTIST"), QStringLiteral("Artist")},
                    {QStringLiteral("Album"), QStringLiteral("Album")},
                    {QStringLiteral("Label"), QStringLiteral("Label")}},
                   QStringLiteral("Go to Album on selected row"), std::move(goToAlbum), parent) {
    // Empty album columns alone would read as albums without names; the rows' own error wins.
    if (!lookups && model()->loadError().isOk()) showError(lookups);
    note_->setText(QStringLiteral(" A number in the # column means this artist has that track on a multi-artist CD"));
    note_->setObjectName(QStringLiteral("Label1"));
    note_->setVisible(true);
    grid()->setColumnWidth(0, 36);
    grid()->setColumnWidth(1, 200);
    grid()->setColumnWidth(2, 220);
}

TAlbumSet::TAlbumSet(store::Cursor& filter, GoToAlbum goToAlbum, QWidget* parent)
    : ResultWindow(QStringLiteral("AlbumSet"), filter,
                   {{QStringLiteral("ALBUM"), QStringLiteral("ALBUM")},
                    {QStringLiteral("ARTIST"), QStringLiteral("ARTIST")},
                    {QStringLiteral("LABEL"), QStringLiteral("LABEL")}},
                   QStringLiteral("Go to Album for selected row"), std::move(goToAlbum), parent) {
    grid()->setColumnWidth(0, 240);
    grid()->setColumnWidth(1, 200);
}

TForm2::TForm2(store::Cursor& tracks, GoToAlbum goToAlbum, QWidget* parent)
    : ResultWindow(QStringLiteral("Form2"), tracks,
                   {{QStringLiteral("NR"), QStringLiteral("#")},
                    {QStringLiteral("TRACK"), QStringLiteral("TRACK")},
                    {QStringLiteral("Artist"), QStringLiteral("Artist")},
                    {QStringLiteral("album"), QStringLiteral("album")}},
                   QStringLiteral("Go to record for selected row"), std::move(goToAlbum), parent) {
    grid()->setColumnWidth(0, 36);
    grid()->setColumnWidth(1, 260);
    grid()->setColumnWidth(2, 160);
}

}  // namespace albumora::views
