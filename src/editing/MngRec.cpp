#include "Codepage.h"
#include "MngRec.h"

#include "HelpKey.h"
#include "NotesTags.h"
#include "Prompts.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace albumora::editing {

namespace {
const QColor kGreen(0x00, 0xC0, 0x00);
const QColor kTipYellow(0xFF, 0xFF, 0x80);

QTableWidgetItem* cell(const QString& text, bool editable) {
    auto* item = new QTableWidgetItem(text);
    if (!editable) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}
}  // namespace

TMngRecF::TMngRecF(AlbumEditor& editor, QWidget* parent) : QDialog(parent), editor_(editor) {
    setObjectName(QStringLiteral("MngRecF"));
    setModal(true);
    buildWidgets();
}

void TMngRecF::buildWidgets() {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QGridLayout;
    auto line = [&](const QString& name, const QString& label, int row, int col, int maxLength) {
        auto* l = new QLabel(label, this);
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setMaxLength(maxLength);
        top->addWidget(l, row, col);
        top->addWidget(e, row, col + 1);
        return std::make_pair(l, e);
    };
    auto [artistLabel, artist] = line(QStringLiteral("EditArtist"), QStringLiteral("Artist:"), 0, 0, 50);
    artistLabel->setToolTip(QStringLiteral("enter Various for multi-artist albums"));
    EditArtist = artist;
    EditTitle = line(QStringLiteral("EditTitle"), QStringLiteral("Album:"), 1, 0, 50).second;
    top->addWidget(new QLabel(QStringLiteral("Genre:"), this), 0, 2);
    EditGenre = new QComboBox(this);
    EditGenre->setObjectName(QStringLiteral("EditGenre"));
    EditGenre->setEditable(true);
    EditGenre->setMaxVisibleItems(20);
    EditGenre->setInsertPolicy(QComboBox::NoInsert);
    top->addWidget(EditGenre, 0, 3);
    EditYear = line(QStringLiteral("EditYear"), QStringLiteral("Year:"), 1, 2, 4).second;
    layout->addLayout(top);
    connect(EditArtist, &QLineEdit::editingFinished, this, &TMngRecF::EditArtistExit);

    auto* optional = new QGroupBox(
        QStringLiteral("Complete these OPTIONAL entries to keep track of where you copied/ripped tracks from this album"), this);
    optional->setObjectName(QStringLiteral("GroupBox1"));
    auto* og = new QGridLayout(optional);
    og->addWidget(new QLabel(QStringLiteral("Media:"), optional), 0, 0);
    EditMedia = new QComboBox(optional);
    EditMedia->setObjectName(QStringLiteral("EditMedia"));
    EditMedia->setEditable(true);
    og->addWidget(EditMedia, 0, 1);
    Label6 = new QLabel(QStringLiteral("Media Label/Directory:"), optional);
    Label6->setObjectName(QStringLiteral("Label6"));
    og->addWidget(Label6, 0, 2);
    EditLabel = new QLineEdit(optional);
    EditLabel->setObjectName(QStringLiteral("EditLabel"));
    EditLabel->setMaxLength(55);
    og->addWidget(EditLabel, 0, 3);
    og->addWidget(new QLabel(QStringLiteral("Index:"), optional), 0, 4);
    EditIndex = new QLineEdit(optional);
    EditIndex->setObjectName(QStringLiteral("EditIndex"));
    EditIndex->setMaxLength(6);
    EditIndex->setMaximumWidth(70);
    og->addWidget(EditIndex, 0, 5);
    layout->addWidget(optional);
    connect(EditMedia, &QComboBox::currentTextChanged, this, &TMngRecF::EditMediaChange);

    auto* notesRow = new QHBoxLayout;
    auto* label11 = new QLabel(QStringLiteral("Notes & Extended Data"), this);
    label11->setObjectName(QStringLiteral("Label11"));
    auto* label12 = new QLabel(QStringLiteral("(optional, no limit on number of characters)"), this);
    label12->setObjectName(QStringLiteral("Label12"));
    EditNotes = new QLineEdit(this);
    EditNotes->setObjectName(QStringLiteral("EditNotes"));
    EditNotes->setReadOnly(true);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setToolTip(QStringLiteral("Lines in Notes field, click to View/Edit all"));
    LinesLabel = new QLabel(QStringLiteral("lines"), this);
    LinesLabel->setObjectName(QStringLiteral("LinesLabel"));
    notesRow->addWidget(label11);
    notesRow->addWidget(EditNotes, 1);
    notesRow->addWidget(SpeedButton1);
    notesRow->addWidget(LinesLabel);
    layout->addLayout(notesRow);
    layout->addWidget(label12);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { openNotesEditor(); });
    EditNotes->installEventFilter(this);
    for (QLabel* l : {LinesLabel, label11, label12}) l->installEventFilter(this);

    auto* middle = new QHBoxLayout;
    StringGrid1 = new QTableWidget(0, 3, this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->installEventFilter(this);
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral(" #"), QStringLiteral("Time"), QStringLiteral("  Song")});
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->setColumnWidth(1, 44);
    StringGrid1->setColumnWidth(2, 600);
    StringGrid1->horizontalHeader()->setStretchLastSection(true);
    StringGrid1->setMinimumSize(520, 240);
    middle->addWidget(StringGrid1, 1);

    auto* toolbox = new QGroupBox(QStringLiteral("Toolbox"), this);
    toolbox->setObjectName(QStringLiteral("ToolBox"));
    toolbox->setToolTip(QStringLiteral("Paste to current track from Clipboard"));
    QPalette tp = toolbox->palette();
    tp.setColor(QPalette::Window, kGreen);
    tp.setColor(QPalette::WindowText, Qt::black);  // readable on the green under a dark theme
    toolbox->setPalette(tp);
    toolbox->setAutoFillBackground(true);
    auto* tl = new QVBoxLayout(toolbox);
    auto tool = [&](const QString& name, const QString& text, const QString& hint) {
        auto* b = new QPushButton(text, toolbox);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setAutoDefault(false);
        tl->addWidget(b);
        return b;
    };
    NotesButton = tool(QStringLiteral("NotesButton"), QStringLiteral("Edit Notes"), QStringLiteral("Add Cover Graphic, Extended Data, etc."));
    GetArt = tool(QStringLiteral("GetArt"), QStringLiteral("Get Cover Image"), QStringLiteral("Download cover art"));
    MaskButton = tool(QStringLiteral("MaskButton"), QStringLiteral("Mask Maker"), QStringLiteral("Auto-creates Directory+File Mask from files you select"));
    TrkOnlyButton = tool(QStringLiteral("TrkOnlyButton"), QStringLiteral("Update Tracks only"), QStringLiteral("Fetch updated info from internet for TRACKS only"));
    PasteButton = tool(QStringLiteral("PasteButton"), QStringLiteral("Paste to Track"), QString());
    FlipButton = tool(QStringLiteral("FlipButton"), QStringLiteral("Flip to Artist / Song"), QStringLiteral("Swap or Normalize Artist/TrackTitle"));
    CoverMemo = new QLabel(QStringLiteral("TIP: Click Edit Notes \nButton to add Image"), toolbox);
    CoverMemo->setObjectName(QStringLiteral("CoverMemo"));
    CoverMemo->setStyleSheet(QStringLiteral("background: #ffff80; color: black; padding: 4px;"));
    CoverMemo->setVisible(false);
    tl->addWidget(CoverMemo);
    tl->addStretch();
    middle->addWidget(toolbox);
    layout->addLayout(middle);
    connect(NotesButton, &QPushButton::clicked, this, [this] { openNotesEditor(); });
    connect(GetArt, &QPushButton::clicked, this, [this] {
        if (hooks_.getCoverImage) hooks_.getCoverImage(*this);
    });
    connect(MaskButton, &QPushButton::clicked, this, [this] {
        if (hooks_.maskMaker) hooks_.maskMaker(*this);
    });
    connect(TrkOnlyButton, &QPushButton::clicked, this, [this] {
        if (hooks_.updateTracks) hooks_.updateTracks(*this);
    });
    connect(PasteButton, &QPushButton::clicked, this, &TMngRecF::PasteButtonClick);
    connect(FlipButton, &QPushButton::clicked, this, [this] {
        if (hooks_.flip) hooks_.flip(*this);
    });

    auto* bottom = new QHBoxLayout;
    RunningLabel = new QLabel(this);
    RunningLabel->setObjectName(QStringLiteral("RunningLabel"));
    bottom->addWidget(RunningLabel);
    bottom->addWidget(new QLabel(QStringLiteral("Playlist managed by Playlist button in Albums View"), this));
    bottom->addStretch();
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("HelpBtn"));
    for (QPushButton* b : {ok, cancel, help}) {
        b->setAutoDefault(false);
        bottom->addWidget(b);
    }
    layout->addLayout(bottom);
    connect(ok, &QPushButton::clicked, this, &TMngRecF::BitBtn1Click);
    connect(cancel, &QPushButton::clicked, this, &TMngRecF::BitBtn2Click);
    connect(help, &QPushButton::clicked, this, [this] {
        if (hooks_.openHelpPage) hooks_.openHelpPage(QStringLiteral("CDhelp1.html"));
    });
    platform::bindHelpKey(this, help);

    auto* menu = new QMenu(this);
    QAction* dupes = menu->addAction(QStringLiteral("Find these songs on other albums in your Collection"));
    dupes->setObjectName(QStringLiteral("FindthesesongsonotheralbumsinyourCollection1"));
    connect(dupes, &QAction::triggered, this, [this] {
        if (hooks_.findDuplicates) hooks_.findDuplicates(*this);
    });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this, menu](const QPoint& p) { menu->popup(mapToGlobal(p)); });
    resize(860, 560);
}

bool TMngRecF::eventFilter(QObject* watched, QEvent* event) {
    // The notes preview, its counter and their labels all open the notes editor.
    const bool opens = (watched == EditNotes && event->type() == QEvent::FocusIn) ||
                       (watched != EditNotes && event->type() == QEvent::MouseButtonPress);
    if (opens && hooks_.editNotes) {
        openNotesEditor();
        return true;
    }
    // Tab in the track grid goes from title to title: numbers and times are not typed in.
    if (watched == StringGrid1 && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        const bool back = k->key() == Qt::Key_Backtab || (k->key() == Qt::Key_Tab && (k->modifiers() & Qt::ShiftModifier));
        if (k->key() == Qt::Key_Tab || back) {
            const int row = StringGrid1->currentRow() + (back ? -1 : 1);
            if (row >= 0 && row < StringGrid1->rowCount()) {
                StringGrid1->setCurrentCell(row, 2);
                return true;
            }
            focusNextPrevChild(!back);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TMngRecF::openNotesEditor() {
    if (!hooks_.editNotes) return;
    // Where the focus goes back to afterwards: the grid, or the artist box when it is empty
    // (never the preview itself, which would open the editor again).
    if (StringGrid1->rowCount() > 0 && StringGrid1->isVisible())
        StringGrid1->setFocus();
    else
        EditArtist->setFocus();
    hooks_.editNotes(*this);
}

void TMngRecF::refresh() {
    PendingAlbum& p = pending();
    setWindowTitle(p.caption);
    EditArtist->setText(p.artist);
    EditTitle->setText(p.title);
    EditGenre->clear();
    EditGenre->addItems(editor_.genreList());
    EditGenre->setEditText(p.genre);
    EditYear->setText(p.year);
    EditMedia->blockSignals(true);
    EditMedia->clear();
    EditMedia->addItems(editor_.mediaList());
    EditMedia->setEditText(p.media);
    EditMedia->blockSignals(false);
    EditLabel->setText(p.label);
    EditIndex->setText(p.index);
    StringGrid1->setRowCount(int(p.tracks.size()));
    for (int r = 0; r < int(p.tracks.size()); ++r) {
        const TrackRow& t = p.tracks[size_t(r)];
        StringGrid1->setItem(r, 0, cell(t.number, false));
        StringGrid1->setItem(r, 1, cell(t.time, false));
        StringGrid1->setItem(r, 2, cell(t.title, true));
    }
    StringGrid1->setVisible(!p.tracks.empty());
    // The first track's title is where typing in the grid starts.
    if (!p.tracks.empty()) StringGrid1->setCurrentCell(0, 2);
    refreshNotes();
    evaluateMultiArtist();
    EditMediaChange();
}

void TMngRecF::refreshNotes() {
    const QStringList lines = notes::SplitLines(pending().notes);
    EditNotes->setText(lines.value(0));
    SpeedButton1->setText(QString::number(lines.size()));
}

void TMngRecF::collect() {
    PendingAlbum& p = pending();
    p.artist = EditArtist->text();
    p.title = EditTitle->text();
    p.genre = EditGenre->currentText();
    p.year = EditYear->text();
    p.media = EditMedia->currentText();
    p.label = EditLabel->text();
    p.index = EditIndex->text();
    for (int r = 0; r < StringGrid1->rowCount() && size_t(r) < p.tracks.size(); ++r)
        if (QTableWidgetItem* t = StringGrid1->item(r, 2)) p.tracks[size_t(r)].title = t->text();
}

void TMngRecF::evaluateMultiArtist() {
    const bool multi = store::asciiUpper(EditArtist->text().left(7)) == QLatin1String("VARIOUS");
    FlipButton->setEnabled(multi);
    StringGrid1->horizontalHeaderItem(2)->setText(multi ? QStringLiteral("  Artist / Song") : QStringLiteral("  Song"));
}

void TMngRecF::EditArtistExit() {
    pending().artist = EditArtist->text();
    evaluateMultiArtist();
}

void TMngRecF::EditMediaChange() {
    const bool local = EditMedia->currentText().left(2) == QLatin1String("LD");
    MaskButton->setEnabled(local);
    Label6->setToolTip(local ? QStringLiteral("Use \"Make Mask\" button to create Mask, or enter manually")
                             : QStringLiteral("Enter label on backup media"));
}

void TMngRecF::FormShow() {
    editor_.resetSaved();
    clipsChanged_ = false;
    PendingAlbum& p = pending();
    if (!p.rev.isEmpty() && p.rev.at(0).unicode() > '~') p.rev = QStringLiteral("~");
    RunningLabel->setVisible(p.runningSeconds > 0);
    RunningLabel->setText(store::TDM::FormatTrackTime(p.runningSeconds, 3));
    refresh();
    TrkOnlyButton->setEnabled(p.mode == EditMode::Modify);
    EditArtist->setFocus();
    if (p.selectArtist) EditArtist->selectAll();
}

bool TMngRecF::showPending() {
    FormShow();
    exec();
    return editor_.saved();
}

void TMngRecF::BitBtn1Click() {
    collect();
    auto saved = editor_.Save();
    if (!saved) {
        if (auto* p = platform::desktop().prompts) p->error(saved.error().text());
        return;
    }
    if (*saved) accept();
}

void TMngRecF::BitBtn2Click() {
    editor_.resetSaved();
    reject();
}

void TMngRecF::PasteButtonClick() {
    auto* clip = platform::desktop().clipboard;
    if (!clip || StringGrid1->currentColumn() != 2 || StringGrid1->currentRow() < 0) return;
    QTableWidgetItem* item = StringGrid1->item(StringGrid1->currentRow(), 2);
    if (item) item->setText(clip->text());
}

void TMngRecF::showCoverTip(bool on) { CoverMemo->setVisible(on); }

void TMngRecF::done(int r) {
    // Form close: the clips folder, the cursors, the displays.
    if (clipsChanged_) editor_.writeClipsFolder();
    editor_.AfterClose();
    StringGrid1->horizontalHeaderItem(1)->setText(QStringLiteral("Time"));
    CoverMemo->setVisible(false);
    EditMedia->setEditText(QString());
    QDialog::done(r);
}

void TMngRecF::closeEvent(QCloseEvent* e) {
    editor_.resetSaved();
    QDialog::closeEvent(e);
}

}  // namespace albumora::editing
