#include "lyricEdF.h"

#include "Prompts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace albumora::editing {

TLyricEd::TLyricEd(store::TDM& dm, QString albumId, QString songKey, QWidget* parent)
    : QDialog(parent), dm_(dm), albumId_(std::move(albumId)), key_(std::move(songKey)) {
    setObjectName(QStringLiteral("TLyricEd"));
    setWindowTitle(LyricEditorCaption(key_));
    setModal(true);
    resize(560, 520);
    auto* layout = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(Memo1, 1);
    auto* note = new QLabel(kLyricEditorNote, this);
    note->setObjectName(QStringLiteral("Label1"));
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKbtn"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    for (QPushButton* b : {ok, cancel}) b->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &TLyricEd::OKbtnClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TLyricEd::FormShow() {
    const platform::Desktop& d = platform::desktop();
    const std::optional<QStringList> lines = LyricEditorLines(d.clipboard ? d.clipboard->text() : QString(), key_);
    if (!lines) {
        if (d.prompts) d.prompts->error(kNothingOnClipboard);
        return false;
    }
    Memo1->setPlainText(lines->join(QLatin1Char('\n')));
    Memo1->moveCursor(QTextCursor::Start);
    Memo1->setFocus();
    return true;
}

int TLyricEd::exec() {
    if (!FormShow()) return Rejected;
    return QDialog::exec();
}

void TLyricEd::OKbtnClick() {
    const QStringList block = Memo1->toPlainText().split(QLatin1Char('\n'));
    const store::Status st = StoreLyricBlock(dm_, albumId_, block);
    if (!st) {
        // The editor stays open with the user's text, to try again or copy it away.
        if (auto* p = platform::desktop().prompts) p->error(st.text());
        return;
    }
    accept();
}

}  // namespace albumora::editing
