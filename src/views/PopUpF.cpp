#include "PopUpF.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace albumora::views {

TPopUpFilt::TPopUpFilt(store::Cursor& albums, const QString& historyPath, QWidget* parent)
    : QDialog(parent), filter_(albums, historyPath) {
    setObjectName(QStringLiteral("PopUpFilt"));
    setWindowTitle(QStringLiteral(" Albumora - Filter Albums Table"));
    setModal(true);
    auto* grid = new QGridLayout(this);
    auto* label = new QLabel(QStringLiteral("Filter expression for Albums table:"), this);
    label->setObjectName(QStringLiteral("Label8"));
    grid->addWidget(label, 0, 0, 1, 3);
    combo_ = new QComboBox(this);
    combo_->setObjectName(QStringLiteral("ComboBox1"));
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    combo_->setMinimumWidth(380);
    combo_->addItems(filter_.history().items());
    combo_->setEditText(filter_.preset());
    grid->addWidget(combo_, 1, 0, 1, 3);
    auto* clear = new QToolButton(this);
    clear->setObjectName(QStringLiteral("SpeedButton1"));
    clear->setText(QStringLiteral("Clear"));
    clear->setToolTip(QStringLiteral("Clear filter expression"));
    auto* remove = new QToolButton(this);
    remove->setObjectName(QStringLiteral("SpeedButton2"));
    remove->setText(QStringLiteral("Remove"));
    remove->setToolTip(QStringLiteral("Remove from history list"));
    grid->addWidget(clear, 2, 0);
    grid->addWidget(remove, 2, 1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 3, 0, 1, 3);
    connect(ok, &QPushButton::clicked, this, &TPopUpFilt::BitBtn1Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(clear, &QToolButton::clicked, this, &TPopUpFilt::SpeedButton1Click);
    connect(remove, &QToolButton::clicked, this, &TPopUpFilt::SpeedButton2Click);
}

void TPopUpFilt::BitBtn1Click() {
    if (filter_.apply(combo_->currentText()))
        accept();
    else
        reject();
}

void TPopUpFilt::SpeedButton1Click() {
    combo_->setEditText(QString());
    combo_->setFocus();
}

void TPopUpFilt::SpeedButton2Click() {
    const QString text = combo_->currentText();
    if (text.isEmpty() || !filter_.history().remove(text)) return;
    const int i = combo_->findText(text, Qt::MatchExactly);
    if (i >= 0) combo_->removeItem(i);
    combo_->setEditText(QString());
}

}  // namespace albumora::views
