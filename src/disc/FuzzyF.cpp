#include "FuzzyF.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace albumora::disc {

TFuzzyF::TFuzzyF(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FuzzyF"));
    setWindowTitle(QStringLiteral("Multiple Matches found - Select one and press OK, or Cancel"));
    setModal(true);
    auto* top = new QVBoxLayout(this);

    // The two headings stand over the two parts of a match line: its category, then the disc
    // title.
    auto* headings = new QHBoxLayout;
    Label1 = new QLabel(QStringLiteral("Genre (Category)"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("Artist / Album"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    headings->addWidget(Label1);
    headings->addSpacing(60);
    headings->addWidget(Label2);
    headings->addStretch();
    top->addLayout(headings);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setMinimumSize(520, 180);
    top->addWidget(ListBox1);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    top->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TFuzzyF::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] { BitBtn1Click(); });
}

void TFuzzyF::BitBtn1Click() {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    chosen_ = selected.isEmpty() ? -1 : ListBox1->row(selected.first());
    accept();
}

int TFuzzyF::choose(const QStringList& lines) {
    // Lines marked with their source (MusicBrainz's releases, alone or among the CD
    // database's matches) begin with that source, not with a category.
    const bool marked = std::any_of(lines.begin(), lines.end(), [](const QString& l) {
        return l.startsWith(QLatin1String("MusicBrainz: ")) || l.startsWith(QLatin1String("CD database: "));
    });
    Label1->setText(marked ? QStringLiteral("Source") : QStringLiteral("Genre (Category)"));
    Label2->setText(marked ? QStringLiteral("Artist / Album (and what tells editions apart)") : QStringLiteral("Artist / Album"));
    ListBox1->clear();
    ListBox1->addItems(lines);
    ListBox1->clearSelection();
    ListBox1->setCurrentRow(-1);
    chosen_ = -1;
    if (exec() != QDialog::Accepted) return -1;
    return chosen_;
}

int TFuzzyF::choose(const QStringList& lines, QWidget* parent) {
    TFuzzyF window(parent);
    return window.choose(lines);
}

}  // namespace albumora::disc
