#include "MultiF.h"

#include "EditTools.h"
#include "ExttnF.h"
#include "HelpKey.h"
#include "Prompts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace albumora::editing {
namespace {

platform::Prompts* prompts() { return platform::desktop().prompts; }

std::optional<QString> ask(const QString& caption, const QString& prompt, const QString& initial = {}) {
    auto* p = prompts();
    return p ? p->input(caption, prompt, initial) : std::nullopt;
}

const QString kEnterInfo = QStringLiteral("Enter Info");

}  // namespace

TMulti::TMulti(const QString& notes, const std::vector<TrackRow>& tracks, int& suggestedPick, Options options,
               QWidget* parent)
    : QDialog(parent), notes_(notes), tracks_(tracks), suggestedPick_(suggestedPick), options_(std::move(options)) {
    setObjectName(QStringLiteral("Multi"));
    setWindowTitle(QStringLiteral("Notes - Multi-line Edit"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* fontRow = new QHBoxLayout;
    auto* fontLabel = new QLabel(QStringLiteral("Font Size:"), this);
    fontLabel->setObjectName(QStringLiteral("Label1"));
    SpinEdit1 = new QSpinBox(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(8, 14);
    SpinEdit1->setValue(8);
    SpinEdit1->setToolTip(QStringLiteral("Select font size for Notes"));
    fontLabel->setBuddy(SpinEdit1);
    fontRow->addWidget(fontLabel);
    fontRow->addWidget(SpinEdit1);
    fontRow->addStretch();
    layout->addLayout(fontRow);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMinimumSize(520, 260);
    SpinEdit1Change(SpinEdit1->value());
    layout->addWidget(Memo1, 1);

    auto* tools = new QGridLayout;
    auto tool = [&](const char* name, const char* caption, int row, int column) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        tools->addWidget(b, row, column);
        return b;
    };
    QPushButton* extd = tool("Extd", "Add Extended Data for Album", 0, 0);
    QPushButton* extt = tool("Extt", "Add Extended Data for a Track", 1, 0);
    QPushButton* art = tool("AddArt", "Add Cover Image", 0, 1);
    QPushButton* url = tool("URLbutton", "Add Website, Spotify link, or File", 1, 1);
    QPushButton* cost = tool("EnterPurchase", "Enter/Edit/View Purchase Cost", 0, 2);
    QPushButton* value = tool("EnterValue", "Enter/Edit/View Current Value", 1, 2);
    layout->addLayout(tools);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKbutton"));
    ok->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Cancelbutton"));
    cancel->setAutoDefault(false);
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("BitBtn1"));
    help->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(SpinEdit1, &QSpinBox::valueChanged, this, &TMulti::SpinEdit1Change);
    connect(extd, &QPushButton::clicked, this, &TMulti::ExtdClick);
    connect(extt, &QPushButton::clicked, this, &TMulti::ExttClick);
    connect(art, &QPushButton::clicked, this, &TMulti::AddArtClick);
    connect(url, &QPushButton::clicked, this, &TMulti::URLbuttonClick);
    connect(cost, &QPushButton::clicked, this, [this] { EnterPurchaseClick(notes::AmountKind::Cost); });
    connect(value, &QPushButton::clicked, this, [this] { EnterPurchaseClick(notes::AmountKind::Value); });
    connect(ok, &QPushButton::clicked, this, &TMulti::OKbuttonClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, &TMulti::BitBtn1Click);
    platform::bindHelpKey(this, help);
    FormShow();
}

bool TMulti::Edit(PendingAlbum& album, int& suggestedPick, const Options& options, QWidget* parent) {
    TMulti editor(album.notes, album.tracks, suggestedPick, options, parent);
    if (editor.exec() != QDialog::Accepted) return false;
    album.notes = editor.notes();
    return true;
}

void TMulti::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TMulti::FormShow() {
    Memo1->clear();
    Memo1->setPlainText(notes::SplitLines(notes_).join(QLatin1Char('\n')));
    Memo1->document()->setModified(false);
    Memo1->setFocus();
}

void TMulti::SpinEdit1Change(int size) {
    QFont f = Memo1->font();
    f.setPointSize(size);
    Memo1->setFont(f);
}

QStringList TMulti::memoLines() const { return notes::SplitLines(Memo1->toPlainText()); }

void TMulti::setMemoLines(const QStringList& before, const QStringList& after) {
    QTextDocument* doc = Memo1->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (after.size() == before.size() + 1 && after.mid(0, before.size()) == before) {
        // A new last line: into the memo's trailing empty line when it has one.
        cursor.movePosition(QTextCursor::End);
        const bool emptyEnd = doc->isEmpty() || doc->lastBlock().text().isEmpty();
        cursor.insertText(emptyEnd ? after.last() : QLatin1Char('\n') + after.last());
    } else if (after.size() == before.size()) {
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (after[i] == before[i]) continue;
            const QTextBlock block = doc->findBlockByNumber(int(i));
            cursor.setPosition(block.position());
            cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
            cursor.insertText(after[i]);
        }
    }
    cursor.endEditBlock();
    // Whatever the memo held that the lines above did not foresee, it shows the lines now.
    if (memoLines() != after) Memo1->setPlainText(after.join(QLatin1Char('\n')));
    Memo1->moveCursor(QTextCursor::End);
}

void TMulti::ExtdClick() {
    const std::optional<QString> entry = ask(QStringLiteral("Extended Data For Disc"), kEnterInfo);
    if (!entry) return;
    const QStringList before = memoLines();
    QStringList lines = before;
    if (AddExtendedDiscData(lines, *entry)) setMemoLines(before, lines);
}

void TMulti::ExttClick() {
    const std::optional<int> index = TExttn::Pick(tracks_, suggestedPick_, options_.openHelpPage, this);
    if (!index) return;
    const std::optional<QString> entry = ask(ExtendedTrackCaption(*index), kEnterInfo);
    if (!entry) return;
    const QStringList before = memoLines();
    QStringList lines = before;
    if (AddExtendedTrackData(lines, *index, *entry)) setMemoLines(before, lines);
}

void TMulti::AddArtClick() {
    std::optional<QString> file;
    if (auto* p = prompts())
        file = p->openFile(QStringLiteral("Select Image File to add to album data"), options_.programFolder,
                           QStringLiteral("Image Files (jpg,gif,bmp,png)|*.JP*;*.BMP;*.PNG;*.GIF|"
                                          "Text Files (*.txt)|*.txt|All Files (*.*)|*.*"));
    ReturnToProgramFolder(options_.programFolder);
    if (!file) return;
    const QStringList before = memoLines();
    QStringList lines = before;
    if (AddCoverLine(lines, *file)) setMemoLines(before, lines);
}

void TMulti::URLbuttonClick() {
    const std::optional<QString> entry = ask(QStringLiteral("URL, Link, or File"),
                                             QStringLiteral("Enter website address, Spotify URI link, or file path"));
    if (!entry) return;
    const QStringList before = memoLines();
    QStringList lines = before;
    if (AddLink(lines, *entry)) setMemoLines(before, lines);
}

void TMulti::EnterPurchaseClick(notes::AmountKind kind) {
    const QStringList before = memoLines();
    const AmountQuestion question = AskAmount(before, kind, options_.defaultAmount);
    const std::optional<QString> entry = ask(question.caption, question.prompt, question.initial);
    if (!entry) return;
    QStringList lines = before;
    if (!StoreAmount(lines, kind, *entry)) {
        if (auto* p = prompts()) p->error(kInvalidAmount);
        return;
    }
    setMemoLines(before, lines);
}

void TMulti::OKbuttonClick() {
    // The memo cannot show trailing empty lines as they are stored: unedited notes stay as
    // they came.
    if (Memo1->document()->isModified()) notes_ = notes::JoinLines(memoLines());
    accept();
}

void TMulti::BitBtn1Click() {
    if (options_.openHelpPage) options_.openHelpPage(QStringLiteral("CDhelp2.html#notes"));
}

}  // namespace albumora::editing
