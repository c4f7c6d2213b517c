#include "trkInfoF.h"

#include "Controls.h"
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
    Memo1 = AddPage(this, layout);
    auto* buttons = new QHBoxLayout;
    auto* info = platform::MakeButton(this, QStringLiteral("InfoButton"), QStringLiteral("Available CDs by this artist"));
    auto* poster = platform::MakeButton(this, QStringLiteral("PosterButton"), QStringLiteral("Find posters or photos for this artist"));
    auto* close = platform::MakeButton(this, QStringLiteral("BitBtn1"), QStringLiteral("Close"));
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
