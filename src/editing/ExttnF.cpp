#include "ExttnF.h"

#include "HelpKey.h"
#include "Prompts.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace albumora::editing {
namespace {

void showError(const QString& text) {
    if (auto* p = platform::desktop().prompts) p->error(text);
}

}  // namespace

TExttn::TExttn(const std::vector<TrackRow>& tracks, int& suggestedPick,
               std::function<void(const QString&)> openHelpPage, QWidget* parent)
    : QDialog(parent), suggestedPick_(suggestedPick), openHelpPage_(std::move(openHelpPage)) {
    setObjectName(QStringLiteral("Exttn"));
    setWindowTitle(QStringLiteral("Select track for extended information"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setMinimumSize(320, 260);
    for (const TrackRow& row : tracks) ListBox1->addItem(row.number + QLatin1Char('-') + row.title);
    // A counter beyond the last track selects nothing, and OK then asks for a pick.
    if (suggestedPick_ >= 0 && suggestedPick_ < ListBox1->count()) ListBox1->setCurrentRow(suggestedPick_);
    layout->addWidget(ListBox1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKbutton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("BitBtn1"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(help);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &TExttn::OKbuttonClick);
    connect(cancel, &QPushButton::clicked, this, &TExttn::BitBtn2Click);
    connect(help, &QPushButton::clicked, this, &TExttn::BitBtn1Click);
    platform::bindHelpKey(this, help);
}

std::optional<int> TExttn::Pick(const std::vector<TrackRow>& tracks, int& suggestedPick,
                                const std::function<void(const QString&)>& openHelpPage, QWidget* parent) {
    if (tracks.empty()) {
        showError(QStringLiteral("No tracks entered for this Album"));
        return std::nullopt;
    }
    TExttn picker(tracks, suggestedPick, openHelpPage, parent);
    if (picker.exec() != QDialog::Accepted) return std::nullopt;
    return picker.picked();
}

void TExttn::OKbuttonClick() {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (selected.isEmpty()) {
        showError(QStringLiteral("No track selected"));
        return;
    }
    picked_ = ListBox1->row(selected.first());
    ++suggestedPick_;
    accept();
}

void TExttn::BitBtn2Click() { reject(); }

void TExttn::BitBtn1Click() {
    if (openHelpPage_) openHelpPage_(QStringLiteral("CDhelp2.html#notes"));
}

}  // namespace albumora::editing
