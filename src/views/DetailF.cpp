#include "DetailF.h"

#include "Controls.h"
#include "Prompts.h"

#include <QFileInfo>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace albumora::views {

namespace {

QColor colourOf(PageLine::Colour c) {
    switch (c) {
        case PageLine::Colour::Blue: return QColor(0, 0, 255);
        case PageLine::Colour::Navy: return QColor(0, 0, 128);
        case PageLine::Colour::Purple: return QColor(128, 0, 128);
        case PageLine::Colour::Red: return QColor(192, 0, 0);
        case PageLine::Colour::Black: break;
    }
    return QColor(0, 0, 0);
}

}  // namespace

QTextEdit* AddPage(QWidget* parent, QBoxLayout* layout) {
    auto* label = new QLabel(kCopyHint, parent);
    label->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label);
    auto* memo = new QTextEdit(parent);
    memo->setObjectName(QStringLiteral("Memo1"));
    memo->setReadOnly(true);
    memo->setLineWrapMode(QTextEdit::NoWrap);
    memo->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    QPalette p = memo->palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    memo->setPalette(p);
    QFont f(QStringLiteral("Monospace"));
    f.setStyleHint(QFont::TypeWriter);
    memo->setFont(f);
    layout->addWidget(memo, 1);
    return memo;
}

void ShowPage(QTextEdit* memo, const std::vector<PageLine>& lines) {
    memo->clear();
    QTextCursor c(memo->document());
    bool first = true;
    for (const PageLine& l : lines) {
        QTextCharFormat f;
        f.setForeground(colourOf(l.colour));
        f.setFontWeight(l.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(l.italic);
        if (!first) c.insertBlock();
        first = false;
        c.setBlockCharFormat(f);
        c.insertText(l.text, f);
    }
    QTextCursor top(memo->document());
    memo->setTextCursor(top);
}

TDetail::TDetail(store::TDM& dm, DetailHooks hooks, QWidget* parent) : QDialog(parent), dm_(dm), hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("TDetail"));
    setModal(true);
    resize(720, 560);
    auto* layout = new QVBoxLayout(this);
    Memo1 = AddPage(this, layout);

    auto* row1 = new QHBoxLayout;
    auto* info = platform::MakeButton(this, QStringLiteral("InfoButton"), QStringLiteral("Available CDs by this artist"));
    auto* poster = platform::MakeButton(this, QStringLiteral("PosterButton"), QStringLiteral("Find posters or photos for this artist"));
    auto* freedb = platform::MakeButton(this, QStringLiteral("freedb"), QStringLiteral("Contribute album info to Freedb"),
                          QStringLiteral("Submit new or updated info to the online database"));
    auto* cdr = platform::MakeButton(this, QStringLiteral("CDRbutton"), QStringLiteral("Create Playlist for CD-R Labeler"));
    for (QPushButton* b : {info, poster, freedb, cdr}) row1->addWidget(b);
    layout->addLayout(row1);
    auto* row2 = new QHBoxLayout;
    auto* lyrics = platform::MakeButton(this, QStringLiteral("BitBtn3"), QStringLiteral("Find lyrics for the songs"),
                          QStringLiteral("See Lyrics for the songs"));
    auto* find = platform::MakeButton(this, QStringLiteral("BitBtn2"), QStringLiteral("Find"), QStringLiteral("Search for text"));
    auto* font = platform::MakeButton(this, QStringLiteral("BitBtn4"), QStringLiteral("Font"), QStringLiteral("Change font color, size etc."));
    auto* close = platform::MakeButton(this, QStringLiteral("BitBtn1"), QStringLiteral("Close"));
    row2->addWidget(lyrics);
    row2->addWidget(find);
    row2->addWidget(font);
    row2->addStretch();
    row2->addWidget(close);
    layout->addLayout(row2);

    connect(info, &QPushButton::clicked, this, &TDetail::InfoButtonClick);
    connect(poster, &QPushButton::clicked, this, &TDetail::PosterButtonClick);
    connect(freedb, &QPushButton::clicked, this, &TDetail::FreedbClick);
    connect(cdr, &QPushButton::clicked, this, &TDetail::CDRbuttonClick);
    connect(lyrics, &QPushButton::clicked, this, &TDetail::BitBtn3Click);
    connect(find, &QPushButton::clicked, this, &TDetail::BitBtn2Click);
    connect(font, &QPushButton::clicked, this, &TDetail::BitBtn4Click);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    // The find dialog: not modal, so the page can be read between two searches.
    FindDialog1 = new QDialog(this);
    FindDialog1->setObjectName(QStringLiteral("FindDialog1"));
    FindDialog1->setWindowTitle(QStringLiteral("Find"));
    auto* findLayout = new QHBoxLayout(FindDialog1);
    findLayout->addWidget(new QLabel(QStringLiteral("Find what:"), FindDialog1));
    FindText = new QLineEdit(FindDialog1);
    FindText->setObjectName(QStringLiteral("FindText"));
    findLayout->addWidget(FindText, 1);
    auto* next = platform::MakeButton(FindDialog1, QStringLiteral("FindNext"), QStringLiteral("Find Next"));
    next->setDefault(true);
    auto* cancel = platform::MakeButton(FindDialog1, QStringLiteral("FindCancel"), QStringLiteral("Cancel"));
    findLayout->addWidget(next);
    findLayout->addWidget(cancel);
    connect(next, &QPushButton::clicked, this, &TDetail::FindDialog1Find);
    connect(FindText, &QLineEdit::returnPressed, this, &TDetail::FindDialog1Find);
    connect(cancel, &QPushButton::clicked, FindDialog1, &QDialog::reject);
    connect(FindDialog1, &QDialog::finished, this, [this] { Memo1->setFocus(); });

    FormShow();
}

TDetail::~TDetail() {
    if (hooks_.lyricTracks) hooks_.lyricTracks->clear();
}

void TDetail::FormShow() {
    Memo1->clear();
    if (hooks_.lyricTracks) hooks_.lyricTracks->clear();
    auto composed = ComposeDetailPage(dm_, hooks_.options);
    if (!composed) {
        composed_ = false;
        if (auto* p = platform::desktop().prompts) p->error(composed.error().text());
        return;
    }
    composed_ = true;
    page_ = std::move(composed).value();
    setWindowTitle(DetailCaption(page_.title));
    if (hooks_.lyricTracks) *hooks_.lyricTracks = page_.lyricTracks;
    ShowPage(Memo1, page_.lines);
    Memo1->setFocus();
}

void TDetail::InfoButtonClick() {
    if (auto* l = platform::desktop().launcher) l->open(ArtistCdsAddress(page_.artist));
}

void TDetail::PosterButtonClick() {
    if (auto* l = platform::desktop().launcher) l->open(PosterSearchAddress(page_.artist));
}

void TDetail::FreedbClick() {
    if (hooks_.contribute) hooks_.contribute();
}

void TDetail::CDRbuttonClick() {
    const QString text = LabelerPlaylist(page_).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    Memo1->setPlainText(text);
    const platform::Desktop& d = platform::desktop();
    if (d.clipboard) d.clipboard->setText(text);
    const QString labeler = hooks_.labeler.trimmed();
    if (labeler.isEmpty() || !QFileInfo(labeler).isFile()) {
        if (d.prompts) d.prompts->information(kLabelerNotSet);
    } else {
        if (d.prompts) d.prompts->information(kLabelerReady);
        if (d.launcher && !d.launcher->start(labeler, {}) && d.prompts)
            d.prompts->error(QStringLiteral("The labeler program could not be started:\r") + labeler);
    }
    accept();
}

void TDetail::BitBtn3Click() {
    if (hooks_.showLyrics) hooks_.showLyrics();
    accept();
}

void TDetail::BitBtn2Click() {
    FindDialog1->adjustSize();
    const QPoint middle = Memo1->mapToGlobal(QPoint(Memo1->width() / 2, Memo1->height() / 3));
    FindDialog1->move(middle.x() - FindDialog1->width() / 2, middle.y());
    FindDialog1->show();
    FindDialog1->raise();
    FindText->setFocus();
}

void TDetail::BitBtn4Click() {
    auto* p = platform::desktop().prompts;
    if (!p) return;
    const std::optional<QString> chosen = p->font(Memo1->font().toString());
    if (!chosen) return;
    QFont f;
    if (f.fromString(*chosen)) Memo1->setFont(f);
}

void TDetail::FindDialog1Find() {
    const QString what = FindText->text();
    if (what.isEmpty()) return;
    const QTextCursor at = Memo1->textCursor();
    // From the end of the selection, so that the next press finds the next hit.
    const QTextCursor hit = Memo1->document()->find(what, at.selectionEnd());
    if (hit.isNull()) return;
    Memo1->setTextCursor(hit);
    Memo1->setFocus();
}

void TDetail::done(int result) {
    FindDialog1->hide();
    if (hooks_.lyricTracks) hooks_.lyricTracks->clear();
    QDialog::done(result);
}

}  // namespace albumora::views
