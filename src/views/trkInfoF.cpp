#include "trkInfoF.h"

#include "DetailF.h"
#include "Prompts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace albumora::views {

TtrkInfo::TtrkInfo(store::TDM& dm, const store::Cursor& trackRow, QWidget* parent)
    : QDialog(parent), filterState_(dm.tblFilter), artist_(trackRow.text(QStringLiteral("Artist"))) {
    setObjectName(QStringLiteral("TtrkInfo"));
    setWindowTitle(kTrackInfoCaption);
    setModal(true);
    resize(600, 440);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(kCopyHint, this);
    label->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label);
    Memo1 = MakePageMemo(this);
    layout->addWidget(Memo1, 1);
    auto* buttons = new QHBoxLayout;
    auto* info = new QPushButton(QStringLiteral("Available CDs by this artist"), this);
    info->setObjectName(QStringLiteral("InfoButton"));
    auto* poster = new QPushButton(QStringLiteral("Find posters or photos for this artist"), this);
    poster->setObjectName(QStringLiteral("PosterButton"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BitBtn1"));
    for (QPushButton* b : {info, poster, close}) b->setAutoDefault(false);
    buttons->addWidget(info);
    buttons->addWidget(poster);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(info, &QPushButton::clicked, this, &TtrkInfo::InfoButtonClick);
    connect(poster, &QPushButton::clicked, this, &TtrkInfo::PosterButtonClick);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto page = ComposeTrackInfo(dm, trackRow);
    if (page) {
        ShowPage(Memo1, *page);
    } else {
        // The page says why it is empty rather than showing nothing.
        ShowPage(Memo1, {{page.error().text(), PageLine::Colour::Red}});
    }
    Memo1->setFocus();
}

TtrkInfo::~TtrkInfo() { restoreFilter(); }

void TtrkInfo::InfoButtonClick() {
    if (auto* l = platform::desktop().launcher) l->open(ArtistCdsAddress(artist_));
}

void TtrkInfo::PosterButtonClick() {
    if (auto* l = platform::desktop().launcher) l->open(PosterSearchAddress(artist_));
}

void TtrkInfo::restoreFilter() {
    if (restored_) return;
    restored_ = true;
    filterState_.restore();
}

void TtrkInfo::done(int result) {
    restoreFilter();
    QDialog::done(result);
}

}  // namespace albumora::views
