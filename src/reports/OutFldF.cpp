#include "OutFldF.h"

#include "Controls.h"
#include "Prompts.h"

#include <QDir>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace albumora::reports {

FieldsDialog::FieldsDialog(FieldChooser chooser, const QString& caption, const QString& folder, QWidget* parent)
    : QDialog(parent), chooser_(std::move(chooser)), folder_(QDir::toNativeSeparators(folder)) {
    setModal(true);
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("Available Fields"), this), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("Include in Output"), this), 0, 2);
    SrcList = new QListWidget(this);
    SrcList->setObjectName(QStringLiteral("SrcList"));
    DstList = new QListWidget(this);
    DstList->setObjectName(QStringLiteral("DstList"));
    for (QListWidget* l : {SrcList, DstList}) l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lists->addWidget(SrcList, 1, 0);
    lists->addWidget(DstList, 1, 2);
    auto* moves = new QVBoxLayout;
    IncludeBtn = platform::MakeButton(this, "IncludeBtn", QStringLiteral(">"), QStringLiteral("Include the selected fields"));
    IncAllBtn = platform::MakeButton(this, "IncAllBtn", QStringLiteral(">>"), QStringLiteral("Include every field"));
    ExcludeBtn = platform::MakeButton(this, "ExcludeBtn", QStringLiteral("<"), QStringLiteral("Leave out the selected fields"));
    ExAllBtn = platform::MakeButton(this, "ExAllBtn", QStringLiteral("<<"), QStringLiteral("Leave out every field"));
    moves->addStretch();
    for (QPushButton* b : {IncludeBtn, IncAllBtn, ExcludeBtn, ExAllBtn}) moves->addWidget(b);
    moves->addStretch();
    lists->addLayout(moves, 1, 1);
    auto* order = new QVBoxLayout;
    UpButton = platform::MakeButton(this, "UpButton", QStringLiteral("Up"), QStringLiteral("Move selected output field up"));
    DownButton = platform::MakeButton(this, "DownButton", QStringLiteral("Down"), QStringLiteral("Move selected output field down"));
    order->addStretch();
    order->addWidget(UpButton);
    order->addWidget(DownButton);
    order->addStretch();
    lists->addLayout(order, 1, 3);
    layout->addLayout(lists, 1);

    notes_ = new QWidget(this);
    notes_->setVisible(false);
    layout->addWidget(notes_);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* panel = new QGridLayout(Panel1);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(new QLabel(QStringLiteral("Select the Directory where you want the report placed:"), Panel1), 0, 0, 1, 2);
    Edit1 = new QLineEdit(folder_, Panel1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setReadOnly(true);
    auto* browse = platform::MakeButton(Panel1, "Button1", QStringLiteral("Browse..."));
    panel->addWidget(Edit1, 1, 0);
    panel->addWidget(browse, 1, 1);
    panel->addWidget(new QLabel(QStringLiteral("Click the Browse button to change the target directory"), Panel1), 2, 0, 1, 2);
    Panel1->setVisible(!folder.isEmpty());
    layout->addWidget(Panel1);

    auto* buttons = new QHBoxLayout;
    auto* ok = platform::MakeButton(this, "OKBtn", QStringLiteral("OK"));
    ok->setDefault(true);
    auto* cancel = platform::MakeButton(this, "CancelBtn", QStringLiteral("Cancel"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(IncludeBtn, &QPushButton::clicked, this, &FieldsDialog::IncludeBtnClick);
    connect(ExcludeBtn, &QPushButton::clicked, this, &FieldsDialog::ExcludeBtnClick);
    connect(IncAllBtn, &QPushButton::clicked, this, &FieldsDialog::IncAllBtnClick);
    connect(ExAllBtn, &QPushButton::clicked, this, &FieldsDialog::ExAllBtnClick);
    connect(UpButton, &QPushButton::clicked, this, &FieldsDialog::UpButtonClick);
    connect(DownButton, &QPushButton::clicked, this, &FieldsDialog::DownButtonClick);
    connect(browse, &QPushButton::clicked, this, &FieldsDialog::Button1Click);
    Edit1->installEventFilter(this);
    connect(ok, &QPushButton::clicked, this, &FieldsDialog::OKBtnClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(SrcList, &QListWidget::itemDoubleClicked, this, &FieldsDialog::IncludeBtnClick);
    connect(DstList, &QListWidget::itemDoubleClicked, this, &FieldsDialog::ExcludeBtnClick);
    refill(-1, -1);
    resize(460, 360);
}

bool FieldsDialog::eventFilter(QObject* watched, QEvent* event) {
    // Entering the folder box by Tab or a click opens the folder picker, as Browse does.
    if (watched == Edit1 && event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::MouseFocusReason)
            QMetaObject::invokeMethod(this, &FieldsDialog::Button1Click, Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

std::vector<int> FieldsDialog::selectedRows(QListWidget* list) const {
    std::vector<int> rows;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected()) rows.push_back(i);
    return rows;
}

void FieldsDialog::refill(int availableRow, int outputRow) {
    SrcList->clear();
    SrcList->addItems(chooser_.available());
    DstList->clear();
    DstList->addItems(chooser_.output());
    if (availableRow >= 0 && availableRow < SrcList->count()) {
        SrcList->setCurrentRow(availableRow);
        SrcList->item(availableRow)->setSelected(true);
    }
    if (outputRow >= 0 && outputRow < DstList->count()) {
        DstList->setCurrentRow(outputRow);
        DstList->item(outputRow)->setSelected(true);
    }
    IncludeBtn->setEnabled(chooser_.canInclude());
    IncAllBtn->setEnabled(chooser_.canInclude());
    ExcludeBtn->setEnabled(chooser_.canExclude());
    ExAllBtn->setEnabled(chooser_.canExclude());
}

void FieldsDialog::IncludeBtnClick() {
    const int next = chooser_.include(selectedRows(SrcList));
    refill(next, -1);
    SrcList->setFocus();
}

void FieldsDialog::ExcludeBtnClick() {
    const int next = chooser_.exclude(selectedRows(DstList));
    refill(-1, next);
    DstList->setFocus();
}

void FieldsDialog::IncAllBtnClick() {
    chooser_.includeAll();
    refill(-1, -1);
    SrcList->setFocus();
}

void FieldsDialog::ExAllBtnClick() {
    chooser_.excludeAll();
    refill(-1, -1);
    DstList->setFocus();
}

void FieldsDialog::moveCurrent(bool up) {
    if (chooser_.output().isEmpty()) {
        if (auto* p = platform::desktop().prompts) p->error(kNoOutputFields);
        return;
    }
    const int row = DstList->currentRow();
    if (row < 0) return;
    refill(-1, up ? chooser_.up(row) : chooser_.down(row));
}

void FieldsDialog::UpButtonClick() { moveCurrent(true); }
void FieldsDialog::DownButtonClick() { moveCurrent(false); }

void FieldsDialog::Button1Click() {
    auto* p = platform::desktop().prompts;
    if (!p) return;
    const std::optional<QString> chosen = p->folder(QStringLiteral("Select the Directory where you want the report placed:"), folder_);
    if (!chosen || chosen->isEmpty()) return;
    if (!QDir(*chosen).exists()) {
        if (!p->confirm(QStringLiteral("The folder ") + *chosen + QStringLiteral(" does not exist.\rCreate it?"))) return;
        if (!QDir().mkpath(*chosen)) {
            p->error(QStringLiteral("The folder ") + *chosen + QStringLiteral(" cannot be created"));
            return;
        }
    }
    folder_ = QDir::toNativeSeparators(*chosen);
    Edit1->setText(folder_);
}

void FieldsDialog::OKBtnClick() {
    const std::optional<QStringList> out = chooser_.accept();
    if (!out) {
        if (auto* p = platform::desktop().prompts) p->error(kNoOutputFields);
        return;
    }
    fields_ = *out;
    accept();
}

TFieldsDlg::TFieldsDlg(const QStringList& albumFields, OutputKind kind, bool withTracks, const QString& folder, QWidget* parent)
    : FieldsDialog(FieldChooser::forAlbums(albumFields, kind, withTracks), QStringLiteral("Fields from Albums table to include in output"),
                   kind == OutputKind::Report ? QString() : folder, parent) {
    setObjectName(QStringLiteral("FieldsDlg"));
}

TTrksDlg::TTrksDlg(const QStringList& viewFields, const QString& folder, QWidget* parent)
    : FieldsDialog(FieldChooser::forTracks(viewFields), QStringLiteral("Fields from Tracks View to include in output"), folder, parent) {
    setObjectName(QStringLiteral("TrksDlg"));
    auto* box = new QVBoxLayout(notes_);
    box->setContentsMargins(0, 0, 0, 0);
    for (const char* line : {"Definitions for Fields not in the the grid", "LABEL - Media Label/Directory/Location",
                             "MC - Media Code (example:. CW=CD-RW)", "INDEX - Album's starting location on Media",
                             "ID - Unique Number for each album", "NR - Track Number", "sec - Track length in seconds "})
        box->addWidget(new QLabel(QString::fromLatin1(line), notes_));
    notes_->setVisible(true);
}

}  // namespace albumora::reports
