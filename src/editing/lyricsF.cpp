#include "lyricsF.h"

#include "Prompts.h"
#include "lyricEdF.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace albumora::editing {

Tlyrics::Tlyrics(store::TDM& dm, const QStringList& songs, QWidget* parent)
    : QDialog(parent),
      dm_(dm),
      albumId_(dm.tblAlbums.text(QStringLiteral("ID"))),
      artist_(dm.tblAlbums.text(QStringLiteral("ARTIST"))) {
    setObjectName(QStringLiteral("Tlyrics"));
    setWindowTitle(LyricsCaption(dm.tblAlbums.text(QStringLiteral("ALBUM"))));
    setModal(true);
    resize(640, 520);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(kLyricsCopyright, this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    layout->addWidget(label);

    auto* group = new QGroupBox(QStringLiteral("  select lyrics database  "), this);
    group->setObjectName(QStringLiteral("RadioGroup1"));
    auto* groupLayout = new QHBoxLayout(group);
    const QString captions[2] = {QStringLiteral("Leo's Lyrics (has popup ads)"), QStringLiteral("MLDb")};
    for (int i = 0; i < 2; ++i) {
        sites_[i] = new QRadioButton(captions[i], group);
        sites_[i]->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        groupLayout->addWidget(sites_[i]);
    }
    sites_[0]->setChecked(true);
    layout->addWidget(group);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->addItems(songs);
    if (ListBox1->count() > 0) ListBox1->setCurrentRow(0);
    layout->addWidget(ListBox1, 1);

    auto* steps = new QPlainTextEdit(this);
    steps->setObjectName(QStringLiteral("Memo1"));
    steps->setReadOnly(true);
    steps->setPlainText(kLyricsSteps.join(QLatin1Char('\n')));
    steps->setMaximumHeight(110);
    layout->addWidget(steps);

    auto* buttons = new QHBoxLayout;
    auto* find = new QPushButton(QStringLiteral("Find Lyrics for Selected Song"), this);
    find->setObjectName(QStringLiteral("Button1"));
    find->setToolTip(QStringLiteral("Search online song database"));
    auto* add = new QPushButton(QStringLiteral("Add to Notes"), this);
    add->setObjectName(QStringLiteral("Button2"));
    add->setToolTip(QStringLiteral("Include in Notes field"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BitBtn1"));
    for (QPushButton* b : {find, add, close}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(ListBox1, &QListWidget::itemClicked, this, &Tlyrics::ListBox1Click);
    connect(find, &QPushButton::clicked, this, &Tlyrics::Button1Click);
    connect(add, &QPushButton::clicked, this, &Tlyrics::Button2Click);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

LyricsSite Tlyrics::site() const { return sites_[1]->isChecked() ? LyricsSite::Mldb : LyricsSite::LeosLyrics; }

QString Tlyrics::songKey() const {
    const QListWidgetItem* item = ListBox1->currentItem();
    return item ? SongKey(item->text(), artist_, site()) : QString();
}

void Tlyrics::ListBox1Click() {
    // Whatever was copied before belongs to another song.
    if (auto* c = platform::desktop().clipboard) c->clear();
}

void Tlyrics::Button1Click() {
    const QString key = songKey();
    if (key.isEmpty()) return;
    if (auto* l = platform::desktop().launcher) l->open(LyricsQueryAddress(key, site()));
}

void Tlyrics::Button2Click() {
    const QString key = songKey();
    if (key.isEmpty()) return;
    TLyricEd editor(dm_, albumId_, key, this);
    editor.exec();
}

}  // namespace albumora::editing
