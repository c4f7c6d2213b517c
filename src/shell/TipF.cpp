#include "TipF.h"

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace albumora::shell {

TTipForm::TTipForm(const QString& tipFile, QWidget* parent) : QDialog(parent), tips_(tipFile) {
    setObjectName(QStringLiteral("TipForm"));
    setWindowTitle(QStringLiteral("Tip of the Day"));
    setModal(true);
    tips_.load();
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("Did you know..."), this);
    heading->setObjectName(QStringLiteral("Label1"));
    QFont f = heading->font();
    f.setPointSize(f.pointSize() + 4);
    f.setBold(true);
    heading->setFont(f);
    layout->addWidget(heading);
    tip_ = new QLabel(tips_.tip(), this);
    tip_->setObjectName(QStringLiteral("TipText"));
    tip_->setWordWrap(true);
    tip_->setMinimumSize(380, 110);
    tip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tip_->setStyleSheet(QStringLiteral("background: #ffffe1; color: black; border: 1px solid #a0a0a0; padding: 8px;"));
    layout->addWidget(tip_);
    auto* row = new QHBoxLayout;
    check_ = new QCheckBox(QStringLiteral("Show Tips at Startup"), this);
    check_->setObjectName(QStringLiteral("ShowTips"));
    check_->setChecked(tips_.showAtStartup());
    auto* next = new QPushButton(QStringLiteral("Next Tip"), this);
    next->setObjectName(QStringLiteral("NextButton"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    row->addWidget(check_);
    row->addStretch();
    row->addWidget(next);
    row->addWidget(ok);
    layout->addLayout(row);
    connect(next, &QPushButton::clicked, this, &TTipForm::NextButtonClick);
    connect(ok, &QPushButton::clicked, this, &TTipForm::OKButtonClick);
}

void TTipForm::NextButtonClick() {
    tips_.next();
    tip_->setText(tips_.tip());
}

void TTipForm::OKButtonClick() {
    tips_.ok(check_->isChecked());
    accept();
}

void TTipForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Over the middle of the main window, wherever the window manager would have put it.
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
        adjustSize();
        move(owner->frameGeometry().center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
}

}  // namespace albumora::shell
