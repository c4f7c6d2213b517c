#include "Fdupes.h"

#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace albumora::views {

TDupes::TDupes(store::Cursor& tview, const DuplicateQuery& query, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Dupes"));
    setWindowTitle(QStringLiteral("Duplicate tracks"));
    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Songs already in your Collection which match any in this album"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Memo1 = new QTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    BitBtn1 = new QPushButton(QStringLiteral("Close"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(Label1);
    layout->addWidget(Memo1, 1);
    layout->addWidget(BitBtn1, 0, Qt::AlignRight);
    resize(560, 420);

    auto result = FindDuplicates(tview, query);
    if (!result) {
        // The engine's message on the page, in the colour of the finder's own notes.
        page_.lines.push_back({DuplicatePage::Kind::Note, result.error().text()});
    } else {
        page_ = std::move(result).value();
    }
    QString html;
    for (const DuplicatePage::Line& l : page_.lines) {
        const QString text = l.text.toHtmlEscaped().replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
        switch (l.kind) {
        case DuplicatePage::Kind::Heading:
            html += QStringLiteral("<p style=\"margin:0\"><b><span style=\"color:#008000\">%1</span></b></p>").arg(text);
            break;
        case DuplicatePage::Kind::Track:
            html += QStringLiteral("<p style=\"margin:0\"><span style=\"color:#0000ff\">%1</span></p>").arg(text);
            break;
        case DuplicatePage::Kind::Match:
        case DuplicatePage::Kind::Blank:
            html += QStringLiteral("<p style=\"margin:0\"><span style=\"color:#000000\">%1</span></p>").arg(text);
            break;
        case DuplicatePage::Kind::Note:
            html += QStringLiteral("<p style=\"margin:0\"><span style=\"color:#ff0000\">%1</span></p>").arg(text);
            break;
        }
    }
    Memo1->setHtml(html);
    // A fixed white page, so that the black lines stay readable under a dark theme.
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    Memo1->setPalette(pal);
}

}  // namespace albumora::views
