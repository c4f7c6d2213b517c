#include "PlayList.h"

#include "Controls.h"
#include "Prompts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace albumora::playlist {

TDualListDlg::TDualListDlg(store::TDM& dm, PlaylistBuilder& builder, std::function<void(const QString&)> openHelpPage,
                           QWidget* parent)
    : QDialog(parent), dm_(dm), builder_(builder), openHelpPage_(std::move(openHelpPage)) {
    setObjectName(QStringLiteral("DualListDlg"));
    setModal(true);
    setWindowTitle(kBuilderCaption);
    auto* layout = new QVBoxLayout(this);
    auto* lists = new QGridLayout;
    auto* srcLabel = new QLabel(QStringLiteral("Available CD Tracks"), this);
    srcLabel->setObjectName(QStringLiteral("SrcLabel"));
    auto* dstLabel = new QLabel(QStringLiteral("Marked / PlaylistTracks"), this);
    dstLabel->setObjectName(QStringLiteral("DstLabel"));
    lists->addWidget(srcLabel, 0, 0);
    lists->addWidget(dstLabel, 0, 2);
    SrcList = new QListWidget(this);
    SrcList->setObjectName(QStringLiteral("SrcList"));
    DstList = new QListWidget(this);
    DstList->setObjectName(QStringLiteral("DstList"));
    for (QListWidget* l : {SrcList, DstList}) {
        l->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // The list scrolls sideways as far as its widest entry.
        l->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        l->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        l->setMinimumWidth(220);
    }
    lists->addWidget(SrcList, 1, 0);
    lists->addWidget(DstList, 1, 2);
    lists->setColumnStretch(0, 1);
    lists->setColumnStretch(2, 1);
    auto* moves = new QVBoxLayout;
    IncludeBtn = platform::MakeButton(this, "IncludeBtn", QStringLiteral(">"), QStringLiteral("Mark the selected tracks"));
    IncAllBtn = platform::MakeButton(this, "IncAllBtn", QStringLiteral(">>"), QStringLiteral("Mark every track"));
    ExcludeBtn = platform::MakeButton(this, "ExcludeBtn", QStringLiteral("<"), QStringLiteral("Unmark the selected tracks"));
    ExAllBtn = platform::MakeButton(this, "ExAllBtn", QStringLiteral("<<"), QStringLiteral("Unmark every track"));
    moves->addStretch();
    for (QPushButton* b : {IncludeBtn, IncAllBtn, ExcludeBtn, ExAllBtn}) {
        b->setFixedWidth(40);
        moves->addWidget(b);
    }
    moves->addStretch();
    lists->addLayout(moves, 1, 1);
    layout->addLayout(lists, 1);

    auto* totals = new QHBoxLayout;
    Label1 = new QLabel(QStringLiteral("Playlist running time:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    RunningLabel = new QLineEdit(this);
    RunningLabel->setObjectName(QStringLiteral("RunningLabel"));
    RunningLabel->setReadOnly(true);
    RunningLabel->setFocusPolicy(Qt::NoFocus);
    RunningLabel->setFixedWidth(RunningLabel->fontMetrics().horizontalAdvance(QStringLiteral("0000:00")) + 16);
    Label2 = new QLabel(QStringLiteral("Tracks"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    TrksLabel = new QLabel(this);
    TrksLabel->setObjectName(QStringLiteral("TrksLabel"));
    TrksLabel->setMinimumWidth(TrksLabel->fontMetrics().horizontalAdvance(QStringLiteral("999")) + 4);
    totals->addWidget(Label1);
    totals->addWidget(RunningLabel);
    totals->addSpacing(16);
    totals->addWidget(Label2);
    totals->addWidget(TrksLabel);
    totals->addStretch();
    layout->addLayout(totals);
    const bool showTime = builder_.showRunningTime();
    Label1->setVisible(showTime);
    RunningLabel->setVisible(showTime);

    auto* buttons = new QHBoxLayout;
    auto* ok = platform::MakeButton(this, "OKBtn", QStringLiteral("OK"));
    ok->setDefault(true);
    auto* cancel = platform::MakeButton(this, "CancelBtn", QStringLiteral("Cancel"));
    auto* help = platform::MakeButton(this, "HelpBtn", QStringLiteral("Help"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    layout->addLayout(buttons);

    connect(IncludeBtn, &QPushButton::clicked, this, &TDualListDlg::IncludeBtnClick);
    connect(IncAllBtn, &QPushButton::clicked, this, &TDualListDlg::IncAllBtnClick);
    connect(ExcludeBtn, &QPushButton::clicked, this, &TDualListDlg::ExcludeBtnClick);
    connect(ExAllBtn, &QPushButton::clicked, this, &TDualListDlg::ExAllBtnClick);
    connect(SrcList, &QListWidget::itemDoubleClicked, this, &TDualListDlg::IncludeBtnClick);
    connect(DstList, &QListWidget::itemDoubleClicked, this, &TDualListDlg::ExcludeBtnClick);
    connect(ok, &QPushButton::clicked, this, &TDualListDlg::OKBtnClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, &TDualListDlg::HelpBtnClick);
    refill(nullptr, -1);
    resize(640, 380);
}

void TDualListDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    setWindowTitle(kBuilderCaption + QStringLiteral(" [") + builder_.albumTitle() + QLatin1Char(']'));
}

QList<int> TDualListDlg::selectedRows(QListWidget* list) const {
    QList<int> rows;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected()) rows << i;
    return rows;
}

void TDualListDlg::refill(QListWidget* focusList, int select) {
    SrcList->clear();
    DstList->clear();
    SrcList->addItems(builder_.available());
    DstList->addItems(builder_.marked());
    RunningLabel->setText(builder_.runningText());
    TrksLabel->setText(QString::number(builder_.trackCount()));
    IncludeBtn->setEnabled(SrcList->count() > 0);
    IncAllBtn->setEnabled(SrcList->count() > 0);
    ExcludeBtn->setEnabled(DstList->count() > 0);
    ExAllBtn->setEnabled(DstList->count() > 0);
    if (focusList) {
        focusList->setFocus();
        if (select >= 0 && select < focusList->count()) {
            focusList->setCurrentRow(select);
            focusList->item(select)->setSelected(true);
        }
    }
}

void TDualListDlg::IncludeBtnClick() { refill(SrcList, builder_.include(selectedRows(SrcList))); }

void TDualListDlg::IncAllBtnClick() { refill(SrcList, builder_.includeAll()); }

void TDualListDlg::ExcludeBtnClick() { refill(DstList, builder_.exclude(selectedRows(DstList))); }

void TDualListDlg::ExAllBtnClick() { refill(DstList, builder_.excludeAll()); }

void TDualListDlg::OKBtnClick() {
    auto* prompts = platform::desktop().prompts;
    const store::Status st = builder_.Confirm(dm_);
    if (!st) {
        // Nothing was stored: the window stays, with the user's choice, to try again or cancel.
        if (prompts) prompts->error(st.text());
        return;
    }
    if (!builder_.housekeeping() && prompts) prompts->error(builder_.housekeeping().text());
    accept();
}

void TDualListDlg::HelpBtnClick() {
    if (openHelpPage_) openHelpPage_(kBuilderHelpPage);
}

}  // namespace albumora::playlist
