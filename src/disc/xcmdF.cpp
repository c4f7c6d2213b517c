#include "xcmdF.h"

#include "HelpKey.h"
#include "Prompts.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace albumora::disc {

namespace {

// The web store the store button opens and is named after.
const QString kStoreName = QStringLiteral("Amazon");

// Colour codes: each site's buttons share the colour of its instructions.
const char* const kFreedbColour = "#bfe3ff";
const char* const kAmgColour = "#c8f5c0";
const char* const kListColour = "#fff6b0";

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, const char* colour = nullptr) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    if (colour) b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black; }").arg(QLatin1String(colour)));
    return b;
}

QPlainTextEdit* memo(QWidget* parent, const char* name, const QStringList& lines, const char* colour) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(QString::fromLatin1(name));
    m->setReadOnly(true);
    m->setFocusPolicy(Qt::NoFocus);
    m->setPlainText(lines.join(QLatin1Char('\n')));
    m->setStyleSheet(QStringLiteral("QPlainTextEdit { background-color: %1; color: black; }").arg(QLatin1String(colour)));
    // Room for every line at any scale: the document's margins and the frame come on top.
    m->setFixedHeight(m->fontMetrics().lineSpacing() * int(lines.size() + 1) + 2 * int(m->document()->documentMargin()) +
                        2 * m->frameWidth() + 8);
    return m;
}

}  // namespace

Txcmd::Txcmd(ImportContext context, ImportUse use, QWidget* parent) : QDialog(parent), ctx_(std::move(context)) {
    setObjectName(QStringLiteral("xcmd"));
    setModal(true);
    buildWidgets(use);

    switch (use) {
    case ImportUse::NotFound:
        setWindowTitle(QStringLiteral("Albumora - Add New Album to your Collection using website [%1 tracks]")
                           .arg(flow_.discTrackCount()));
        Step1Button->setEnabled(false);
        break;
    case ImportUse::AddOther:
        setWindowTitle(QStringLiteral("Albumora - Add New Album to your Collection using website"));
        break;
    case ImportUse::UpdateTracks:
        setWindowTitle(QStringLiteral("Update Tracks using website: %1 tracks").arg(ctx_.album ? ctx_.album->tracks.size() : 0));
        GroupBox1->setTitle(QStringLiteral(" Retrieve information from online database "));
        Label1->setText(QStringLiteral("Step 1:"));
        break;
    }
    FreedbMemo->setVisible(Step1Button->isEnabled());

    flow_.setSource(ImportSource::None);
    flow_.clearDuplicate();
    const bool modify = ctx_.album && ctx_.album->mode == EditMode::Modify;
    // Updating the tracks of a stored album keeps its revision; a new album starts at "0".
    if (ctx_.album && !modify) ctx_.album->rev = QStringLiteral("0");
    // Updating tracks only changes titles: there is nothing to add by hand or from a playlist.
    for (QWidget* w : std::initializer_list<QWidget*>{ManualLabel, Label6, ManualButton, Label4, Label8, ImportButton})
        w->setEnabled(!modify);
}

void Txcmd::buildWidgets(ImportUse use) {
    auto* top = new QVBoxLayout(this);

    GroupBox1 = new QGroupBox(QStringLiteral(" Retrieve information from online database (or enter manually) "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(GroupBox1);

    Label1 = label(GroupBox1, "Label1", QStringLiteral("Step 1:  Either"));
    Label2 = label(GroupBox1, "Label2", QStringLiteral("click on a site -->"));
    Step1Button = button(GroupBox1, "Step1Button", QStringLiteral("Freedb"), kFreedbColour);
    BitBtn1 = button(GroupBox1, "BitBtn1", QStringLiteral("Tracktype"), kFreedbColour);
    allmusic = button(GroupBox1, "allmusic", QStringLiteral("All Music Guide"), kAmgColour);
    AmazonButton = button(GroupBox1, "AmazonButton", kStoreName, kAmgColour);
    Label3 = label(GroupBox1, "Label3", QStringLiteral("or"));
    Label5 = label(GroupBox1, "Label5", QStringLiteral("use a track list  -->"));
    numbered = button(GroupBox1, "numbered", QStringLiteral("Numbered Track List"), kListColour);
    unnumbered = button(GroupBox1, "unnumbered", QStringLiteral("Unnumbered Track List"), kListColour);
    Label8 = label(GroupBox1, "Label8", QStringLiteral("or"));
    ManualLabel = label(GroupBox1, "ManualLabel", QStringLiteral("add manually (skips Step 2 below)  -->"));
    ManualButton = button(GroupBox1, "ManualButton", QStringLiteral("Manual"));
    Label6 = label(GroupBox1, "Label6", QStringLiteral("or"));
    Label4 = label(GroupBox1, "Label4", QStringLiteral("import a Winamp or Yahoo! Playlist (skips Step 2 below) -->"));
    ImportButton = button(GroupBox1, "ImportButton", QStringLiteral("Import"));

    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Label2, 0, 1);
    auto* sites = new QHBoxLayout;
    for (QPushButton* b : {Step1Button, BitBtn1, allmusic, AmazonButton}) sites->addWidget(b);
    grid->addLayout(sites, 0, 2);
    grid->addWidget(Label3, 1, 0, Qt::AlignRight);
    grid->addWidget(Label5, 1, 1);
    auto* lists = new QHBoxLayout;
    lists->addWidget(numbered);
    lists->addWidget(unnumbered);
    lists->addStretch();
    grid->addLayout(lists, 1, 2);
    grid->addWidget(Label8, 2, 0, Qt::AlignRight);
    grid->addWidget(ManualLabel, 2, 1);
    grid->addWidget(ManualButton, 2, 2, Qt::AlignLeft);
    grid->addWidget(Label6, 3, 0, Qt::AlignRight);
    grid->addWidget(Label4, 3, 1);
    grid->addWidget(ImportButton, 3, 2, Qt::AlignLeft);
    top->addWidget(GroupBox1);

    // A disc that carries CD-Text says so: "Manual" starts from it.
    if (ctx_.cdText) {
        auto* cdText = label(this, "CdTextLabel",
                             QStringLiteral("CD-Text on the disc: ") + ctx_.cdText->artist + QStringLiteral(" / ") + ctx_.cdText->title +
                                 QStringLiteral("  (Manual starts the album from it)"));
        cdText->setWordWrap(true);
        cdText->setTextFormat(Qt::PlainText);  // the disc's own words, never markup
        top->addWidget(cdText);
    }
    Label9 = label(this, "Label9", QStringLiteral("Step 2:  Follow instructions for the site or list selected above (color coded)"));
    top->addWidget(Label9);
    FreedbMemo = memo(this, "FreedbMemo",
                      {QStringLiteral("Freedb or Tracktype:  1.  Find your album at their website:"),
                       QStringLiteral("2.  Click the link on the line beginning with \"Disc-ID\"."),
                       QStringLiteral("3.  Select All (Ctrl-A, or from the browser's menu bar select Edit|Select All) ."),
                       QStringLiteral("4.  Copy  to the Clipboard (Ctrl-C, or Edit|Copy)."),
                       QStringLiteral("5.  Use alt-Tab to return here and click on OK (or cancel) below,  ")},
                      kFreedbColour);
    AMGmemo = memo(this, "AMGmemo",
                   {QStringLiteral("All Music Guide or ") + kStoreName + QStringLiteral(":  1.  Find your album at their site.  "),
                    QStringLiteral("2.  Select the TRACKS SECTION ONLY with your mouse "),
                    QStringLiteral("     and copy to the Clipboard (Ctrl-C, or from the menu bar,select Edit|Copy).  "),
                    QStringLiteral("3.  Use alt-Tab to return here and click on OK below"),
                    QStringLiteral("4.  Use alt-Tab to copy (Ctrl-C) then paste (Ctrl-V) the Artist then Album title"),
                    QStringLiteral("5.  Click on OK (or cancel) below when finished")},
                   kAmgColour);
    ListMemo = memo(this, "ListMemo",
                    {QStringLiteral("List:  AFTER clicking on either the Numbered or Unnumbered Track List button above, on "),
                     QStringLiteral("a fan or publisher site (for example) use the procedure described above for AMG (green)")},
                    kListColour);
    top->addWidget(FreedbMemo);
    top->addWidget(AMGmemo);
    top->addWidget(ListMemo);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setVisible(false);

    auto* buttons = new QHBoxLayout;
    Label10 = label(this, "Label10", QStringLiteral("products and websites are trademarks of  their respective companies"));
    OK = button(this, "OK", QStringLiteral("OK"));
    OK->setDefault(true);
    Cancel = button(this, "Cancel", QStringLiteral("Cancel"));
    Help = button(this, "Help", QStringLiteral("Help"));
    buttons->addWidget(Label10);
    buttons->addStretch();
    buttons->addWidget(OK);
    buttons->addWidget(Cancel);
    buttons->addWidget(Help);
    top->addLayout(buttons);

    MyBar = new QStatusBar(this);
    MyBar->setObjectName(QStringLiteral("MyBar"));
    MyBar->setSizeGripEnabled(false);
    top->addWidget(MyBar);

    connect(Step1Button, &QPushButton::clicked, this, &Txcmd::Step1ButtonClick);
    connect(BitBtn1, &QPushButton::clicked, this, &Txcmd::BitBtn1Click);
    connect(allmusic, &QPushButton::clicked, this, &Txcmd::allmusicClick);
    connect(AmazonButton, &QPushButton::clicked, this, &Txcmd::AmazonButtonClick);
    connect(numbered, &QPushButton::clicked, this, &Txcmd::numberedClick);
    connect(unnumbered, &QPushButton::clicked, this, &Txcmd::unnumberedClick);
    connect(ManualButton, &QPushButton::clicked, this, &Txcmd::ManualButtonClick);
    connect(ImportButton, &QPushButton::clicked, this, &Txcmd::ImportButtonClick);
    connect(OK, &QPushButton::clicked, this, &Txcmd::OKClick);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(Help, &QPushButton::clicked, this, &Txcmd::HelpClick);
    platform::bindHelpKey(this, Help);
}

// ---------------------------------------------------------------------------------------------
// Small helpers

void Txcmd::setStatus(const QString& text) {
    if (text.isEmpty())
        MyBar->clearMessage();
    else
        MyBar->showMessage(text);
}

void Txcmd::finish(const ImportStep& step) {
    if (step.listed) {
        ListBox1->clear();
        ListBox1->addItems(step.collected);
    }
    if (step.done) accept();
}

// ---------------------------------------------------------------------------------------------
// Sources

void Txcmd::goToSite(ImportSource source, const QString& url) {
    setStatus(QStringLiteral("Going to external website, see color-coded instructions above for site chosen"));
    if (auto* c = platform::desktop().clipboard) c->clear();
    if (auto* l = platform::desktop().launcher) l->open(url);
    flow_.setSource(source);
}

void Txcmd::Step1ButtonClick() {
    goToSite(ImportSource::CdDatabase, ctx_.settings ? ctx_.settings->urlFreedb : QString());
    flow_.clearDuplicate();
}

void Txcmd::BitBtn1Click() {
    goToSite(ImportSource::CdDatabase, ctx_.settings ? ctx_.settings->urlTracktype : QString());
    flow_.clearDuplicate();
}

void Txcmd::allmusicClick() { goToSite(ImportSource::Amg, ctx_.settings ? ctx_.settings->urlAmg : QString()); }

void Txcmd::AmazonButtonClick() { goToSite(ImportSource::Amazon, ctx_.settings ? ctx_.settings->urlAmazon : QString()); }

void Txcmd::numberedClick() { flow_.setSource(ImportSource::Numbered); }

void Txcmd::unnumberedClick() { flow_.setSource(ImportSource::Unnumbered); }

void Txcmd::HelpClick() {
    if (ctx_.openHelpPage) ctx_.openHelpPage(kImportHelpPage);
}

// ---------------------------------------------------------------------------------------------
// OK: the clipboard through the chosen parser

void Txcmd::OKClick() {
    if (!ctx_.album) return;
    setStatus(QStringLiteral("Processing data, please stand by ..."));
    const QString text = platform::desktop().clipboard ? platform::desktop().clipboard->text() : QString();
    const ImportStep step = flow_.paste(text);
    setStatus(QString());
    finish(step);
}

// ---------------------------------------------------------------------------------------------
// Manual and playlist: they act at once

void Txcmd::ManualButtonClick() { finish(flow_.enterByHand()); }

void Txcmd::ImportButtonClick() { finish(flow_.importPlaylist()); }

}  // namespace albumora::disc
