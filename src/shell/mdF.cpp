#include "mdF.h"

#include "AddCd.h"
#include "DetailF.h"
#include "File.h"
#include "Maintenance.h"
#include "Fdupes.h"
#include "FuzzyF.h"
#include "PlayList.h"
#include "PopUpF.h"
#include "Prompts.h"
#include "ResultWindows.h"
#include "RptF.h"
#include "TrkViewF.h"
#include "trkInfoF.h"
#include "EditTools.h"
#include "xcmdF.h"
#include "MultiF.h"
#include "lyricsF.h"
#include "TipF.h"
#include "ToolsF.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

namespace albumora::shell {

namespace {
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kGreen(0x00, 0x80, 0x00);

constexpr int kDesignWidth = 739;
constexpr int kDesignHeight = 500;
constexpr int kBoxLeft = 572;
constexpr int kBoxWidth = kDesignWidth - kBoxLeft;
constexpr int kBoxHeight = 96;
constexpr int kPanel1Height = 44;
constexpr int kTracksHeight = 243;
const int kColumnWidths[] = {265, 262, 142, 42};

// A box on a fixed light colour: its texts are dark whatever the desktop theme, or a dark theme
// would write light text on yellow.
void paintBox(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    p.setColor(QPalette::WindowText, Qt::black);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}
}  // namespace

QString homePageAddress() { return QStringLiteral("https://albumora.org/"); }

TForm1::TForm1(disc::Session& session, const std::function<disc::DiscServices(disc::Session&)>& makeDisc, QWidget* parent)
    : QMainWindow(parent),
      session_(session),
      dm_(session.dm),
      programFolder_(session.folder),
      settingsFile_(session.settingsFile),
      settings_(session.settings) {
    if (makeDisc) disc_ = makeDisc(session_);
    setObjectName(QStringLiteral("Form1"));
    browser_ = std::make_unique<AlbumsBrowser>(dm_, settings_, this);
    buildWidgets();
    buildMenu();
    connect(browser_.get(), &AlbumsBrowser::statusChanged, this, &TForm1::setStatus);
    // An index the engine rebuilds because a read met a damaged page says so in the status bar.
    store::Table::setStatusReporter([this](const QString& text) { setStatus(text); });
    connect(browser_.get(), &AlbumsBrowser::albumButtonsChanged, this, [this](bool on) {
        DelButton->setEnabled(on);
        ModButton->setEnabled(on);
        PlayListButton->setEnabled(on);
    });
    connect(browser_.get(), &AlbumsBrowser::orderChanged, this, &TForm1::updateSortIndicator);
    connect(browser_.get(), &AlbumsBrowser::filterChanged, this, [this](bool on) {
        ButtonFilter->setVisible(!on);
        ButtonNoFilter->setVisible(on);
        cancelFilterItem_->setEnabled(on);
    });
    connect(browser_.get(), &AlbumsBrowser::refreshGrids, this, [this] {
        refreshGrids();
        AlbumsGrid->setFocus();
    });
    auto shortcut = [this](const QKeySequence& keys, const char* name, std::function<void()> run) {
        auto* s = new QShortcut(keys, this);
        s->setObjectName(QString::fromLatin1(name));
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, std::move(run));
    };
    shortcut(QKeySequence(Qt::Key_F1), "HelpKey", [this] { HelpSpeedClick(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), "FindKey", [this] {
        Edit1->setFocus();
        Edit1->selectAll();
    });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), "QuitKey", [this] { close(); });
    OthersTimer = new QTimer(this);
    OthersTimer->setObjectName(QStringLiteral("OthersTimer"));
    OthersTimer->setInterval(1000);
    connect(OthersTimer, &QTimer::timeout, this, &TForm1::catchUpWithOtherWriters);
    FormCreate();
    // The edit form lives as long as the main window, created right after it.
    editor_ = std::make_unique<editing::AlbumEditor>(dm_, settings_, settingsFile_, session_.genres, session_.genresLoaded);
    MngRecF_ = std::make_unique<editing::TMngRecF>(*editor_, this);
    installEditFormTools();
    installImport();
    setAction(QStringLiteral("ReindexButton"), [this] { ReindexButtonClick(); });
    setAction(QStringLiteral("RWspeed"), [this] {
        reports::TRpt::Hooks hooks;
        hooks.openHelpPage = [this](const QString& page) { OpenHelpPage(page); };
        hooks.mediaList = [this] { return settingsFile_.mediaList(); };
        reports::TRpt writer(dm_, dm_.tblAlbums.order(), hooks, this);
        writer.exec();
        RefreshAlbumStatus();
    });
    setAction(QStringLiteral("TrackView"), [this] { TrackViewClick(); });
}

TForm1::~TForm1() {
    store::Table::setStatusReporter({});
    qApp->removeEventFilter(this);
}

QToolButton* TForm1::speedButton(const QString& name, const QString& text, const QString& hint, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setAutoRaise(false);
    b->setFixedSize(36, 24);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    return b;
}

void TForm1::buildWidgets() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Client"));
    paintBox(central, kSilver);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    central->setFont(font);
    setCentralWidget(central);

    // Albums.
    AlbumsGrid = new QTableView(central);
    AlbumsGrid->setObjectName(QStringLiteral("AlbumsGrid"));
    albumsModel_ = new views::CursorModel(&dm_.tblAlbums,
                                          {{QStringLiteral("ARTIST"), QStringLiteral("Artist")},
                                           {QStringLiteral("ALBUM"), QStringLiteral("Album")},
                                           {QStringLiteral("LABEL"), QStringLiteral("Media Label/Directory")},
                                           {QStringLiteral("GENRE"), QStringLiteral("Genre")}},
                                          this);
    albumsModel_->setDecorator([](std::uint32_t, int column, int role) -> QVariant {
        if (role == Qt::FontRole && column == 3) {
            QFont f(QStringLiteral("Arial"));
            f.setPixelSize(13);
            f.setBold(false);
            return f;
        }
        return {};
    });
    AlbumsGrid->setModel(albumsModel_);
    AlbumsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    AlbumsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    AlbumsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AlbumsGrid->verticalHeader()->setVisible(false);
    AlbumsGrid->verticalHeader()->setDefaultSectionSize(18);
    AlbumsGrid->horizontalHeader()->setHighlightSections(false);
    AlbumsGrid->setWordWrap(false);
    {
        // Navy titles need a light header under any theme.
        QPalette p = AlbumsGrid->horizontalHeader()->palette();
        p.setColor(QPalette::ButtonText, kNavy);
        p.setColor(QPalette::Button, QColor(0xF0, 0xF0, 0xF0));
        AlbumsGrid->horizontalHeader()->setPalette(p);
    }
    for (int i = 0; i < 4; ++i) AlbumsGrid->setColumnWidth(i, kColumnWidths[i]);
    AlbumsGrid->installEventFilter(this);
    connect(AlbumsGrid->horizontalHeader(), &QHeaderView::sectionClicked, this, &TForm1::AlbumsGridTitleClick);
    connect(AlbumsGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now) {
                if (!now.isValid()) return;
                const std::uint32_t recno = albumsModel_->recnoAt(now.row());
                if (!recno || recno == dm_.tblAlbums.recNo()) return;
                // Moving through the grid asks nothing of the user: a row it cannot go to is told
                // in the status bar, as rows the grid cannot list are.
                if (const store::Status st = dm_.tblAlbums.gotoBookmark({recno}); !st) setStatus(st.text());
            });
    // The grid lists nothing when its rows cannot be read; the status bar says why.
    connect(albumsModel_, &views::CursorModel::loadFailed, this, &TForm1::setStatus);
    connect(albumsModel_, &views::CursorModel::currentRowChanged, this, [this] {
        syncAlbumsSelection();
        updateAlbumPanel();
    });
    connect(AlbumsGrid, &QTableView::doubleClicked, this, [this] { ClipSpeedClick(); });

    // Tracks of the current album.
    CDGrid = new QTableView(central);
    CDGrid->setObjectName(QStringLiteral("CDGrid"));
    tracksModel_ = new views::CursorModel(
        &dm_.tblTracks,
        {{QStringLiteral("NR"), QStringLiteral("#"), Qt::AlignCenter},
         {QStringLiteral("TRACK"), QStringLiteral(" Track Title - Marked (Playlist) tracks appear in aqua & italics")}},
        this);
    tracksModel_->setDecorator([this](std::uint32_t recno, int, int role) -> QVariant {
        if (role != Qt::BackgroundRole && role != Qt::FontRole) return {};
        store::Cursor& t = dm_.tblTracks;
        auto marked = dm_.IsTrackMarked(t.textOfRecord(recno, t.fieldIndex(QStringLiteral("ID"))),
                                        t.textOfRecord(recno, t.fieldIndex(QStringLiteral("NR"))));
        if (!marked || !*marked) return {};
        if (role == Qt::BackgroundRole) return QBrush(kAqua);
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(13);
        f.setBold(true);
        f.setItalic(true);
        return f;
    });
    CDGrid->setModel(tracksModel_);
    CDGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    CDGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    CDGrid->verticalHeader()->setVisible(false);
    CDGrid->verticalHeader()->setDefaultSectionSize(18);
    CDGrid->setColumnWidth(0, 36);
    // The title column takes the rest of the grid's width, however wide the window.
    CDGrid->horizontalHeader()->setStretchLastSection(true);
    connect(CDGrid, &QTableView::doubleClicked, this, &TForm1::CDGridDblClick);

    // Between the grids.
    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    paintBox(Panel1, kSilver);
    auto label = [&](const QString& name, const QString& text, int x, int y, int w, QWidget* parent) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(name);
        l->setGeometry(x, y, w, 18);
        return l;
    };
    label(QStringLiteral("Label1"), QStringLiteral("Year"), 6, 2, 36, Panel1);
    YRtext = label(QStringLiteral("YRtext"), QString(), 44, 2, 50, Panel1);
    label(QStringLiteral("Label2"), QStringLiteral("Media:"), 96, 2, 50, Panel1);
    BItext = label(QStringLiteral("BItext"), QString(), 148, 2, 30, Panel1);
    LabelIX = label(QStringLiteral("LabelIX"), QStringLiteral("Index:"), 182, 2, 48, Panel1);
    IXvalue = label(QStringLiteral("IXvalue"), QString(), 232, 2, 60, Panel1);
    auto* hearPlaylist = label(QStringLiteral("Label3"), QStringLiteral("To hear Playlist, click Play button"), 6, 22, 250, Panel1);
    hearPlaylist->setToolTip(QStringLiteral("Will play all tracks if there are no marked tracks"));
    auto* hearTrack = label(QStringLiteral("Label4"), QStringLiteral("To hear any track, double-click it"), 262, 22, 240, Panel1);
    hearTrack->setToolTip(QStringLiteral("Dbl-click a track to play it and all following tracks"));
    for (QLabel* l : {hearPlaylist, hearTrack}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, kGreen);
        l->setPalette(p);
    }
    PlaySpeed = speedButton(QStringLiteral("PlaySpeed"), QStringLiteral("Play"), QStringLiteral("Play CD or playlist"), Panel1);
    PlaySpeed->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    PlaySpeed->move(500, 9);
    SpeedButton2 = speedButton(QStringLiteral("SpeedButton2"), QStringLiteral("\u23CF"), QStringLiteral("Eject CD"), Panel1);
    SpeedButton2->setToolButtonStyle(Qt::ToolButtonTextOnly);
    SpeedButton2->move(534, 9);
    connect(PlaySpeed, &QToolButton::clicked, this, &TForm1::PlaySpeedClick);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::ejectClick);

    // Quick Search.
    SearchBox = new QGroupBox(QStringLiteral(" Quick Search"), central);
    SearchBox->setObjectName(QStringLiteral("SearchBox"));
    paintBox(SearchBox, kAqua);
    auto* fieldLabel = new QLabel(QStringLiteral("Field:"), SearchBox);
    fieldLabel->setGeometry(6, 20, 40, 20);
    RadioGroup2 = new QComboBox(SearchBox);
    RadioGroup2->setObjectName(QStringLiteral("RadioGroup2"));
    RadioGroup2->addItems({QStringLiteral("Artist"), QStringLiteral("Album"), QStringLiteral("Label/Directory"),
                           QStringLiteral("Notes (Memo)"), QStringLiteral("Track")});
    RadioGroup2->setGeometry(48, 18, 112, 22);
    auto* forLabel = new QLabel(QStringLiteral("For:"), SearchBox);
    forLabel->setGeometry(6, 46, 40, 20);
    Edit1 = new QLineEdit(SearchBox);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(48, 44, 112, 22);
    GoButton = new QPushButton(QStringLiteral("Find It!"), SearchBox);
    GoButton->setObjectName(QStringLiteral("GoButton"));
    GoButton->setGeometry(8, 70, 74, 22);
    GoButton->setDefault(true);
    GoButton->setToolTip(QStringLiteral("Enter"));
    Edit1->setToolTip(QStringLiteral("Ctrl+F"));
    ClearButton = new QPushButton(QStringLiteral("Clear"), SearchBox);
    ClearButton->setObjectName(QStringLiteral("ClearButton"));
    ClearButton->setGeometry(86, 70, 74, 22);
    connect(GoButton, &QPushButton::clicked, this, &TForm1::GoButtonClick);
    connect(Edit1, &QLineEdit::returnPressed, this, &TForm1::GoButtonClick);
    connect(ClearButton, &QPushButton::clicked, this, &TForm1::ClearButtonClick);
    connect(RadioGroup2, &QComboBox::activated, this, [this] { Edit1->setFocus(); });

    // Manage Collection.
    MtnBox = new QGroupBox(QStringLiteral(" Manage Collection"), central);
    MtnBox->setObjectName(QStringLiteral("MtnBox"));
    paintBox(MtnBox, kLime);
    auto button = [&](const QString& name, const QString& text, const QString& hint, int x, int y) {
        auto* b = new QPushButton(text, MtnBox);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setGeometry(x, y, 74, 22);
        b->setAutoDefault(false);
        return b;
    };
    AddCDbutton = button(QStringLiteral("AddCDbutton"), QStringLiteral("Add CD"), QStringLiteral("Add CD now in drive"), 8, 20);
    AddOtherButton = button(QStringLiteral("AddOtherButton"), QStringLiteral("Add Other"), QStringLiteral("Add Media not in CD-ROM drive"), 86, 20);
    ModButton = button(QStringLiteral("ModButton"), QStringLiteral("Modify"), QStringLiteral("Edit Current Album (Ctrl+Enter)"), 8, 45);
    DelButton = button(QStringLiteral("DelButton"), QStringLiteral("Delete"), QStringLiteral("Delete highlighted album and tracks from collection (Delete)"), 86, 45);
    PlayListButton = button(QStringLiteral("PlayListButton"), QStringLiteral("Playlist"), QStringLiteral("Mark Tracks for playlist, copy, etc."), 8, 70);
    ReindexButton = button(QStringLiteral("ReindexButton"), QStringLiteral("Reindex"), QStringLiteral("Compact, Reindex & Archive database"), 86, 70);
    for (QPushButton* b : {DelButton, ModButton, PlayListButton}) b->setEnabled(false);
    connect(AddCDbutton, &QPushButton::clicked, this, &TForm1::AddCDbuttonClick);
    connect(AddOtherButton, &QPushButton::clicked, this, &TForm1::AddOtherButtonClick);
    connect(ModButton, &QPushButton::clicked, this, &TForm1::ModButtonClick);
    connect(DelButton, &QPushButton::clicked, this, &TForm1::DelButtonClick);
    connect(PlayListButton, &QPushButton::clicked, this, &TForm1::PlayListButtonClick);
    connect(ReindexButton, &QPushButton::clicked, this, [this] { runAction(QStringLiteral("ReindexButton"), QStringLiteral("File maintenance")); });

    // Toolbox.
    Panel2 = new QGroupBox(QStringLiteral(" Toolbox "), central);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    paintBox(Panel2, kYellow);
    struct Tool {
        QToolButton** slot;
        const char* name;
        const char* text;
        const char* hint;
        QStyle::StandardPixmap icon;
        const char* themeIcon;
    };
    // Icons from the desktop's theme by what the buttons do, the style's own where it has none.
    const Tool tools[] = {
        {&NaturalButton, "NaturalButton", "123", "View albums in order entered", QStyle::SP_ArrowDown, "view-sort-ascending"},
        {&FindCDButton, "FindCDButton", "CD", "Make CD in drive the current album", QStyle::SP_DriveCDIcon, "media-optical"},
        {&ButtonFilter, "ButtonFilter", "Filter", "Set filter on Albums table", QStyle::SP_FileDialogContentsView, "view-filter"},
        {&ClipSpeed, "ClipSpeed", "Detail", "Detail View - More info and tools", QStyle::SP_FileDialogDetailedView, "document-properties"},
        {&TrackView, "TrackView", "Tracks", "Tracks View - one track per row", QStyle::SP_FileDialogListView, "view-list-details"},
        {&URLspeed, "URLspeed", "Web", "website / Spotify link / file  for current album ", QStyle::SP_DriveNetIcon, "applications-internet"},
        {&ExitSpeed, "ExitSpeed", "Art", "Display album art", QStyle::SP_DesktopIcon, "image-x-generic"},
        {&RWspeed, "RWspeed", "Report", "Report Writer/Export Data", QStyle::SP_DialogSaveButton, "document-print"},
        {&ToolButton, "ToolButton", "Settings", "Settings", QStyle::SP_ComputerIcon, "preferences-system"},
        {&SpeedButton1, "SpeedButton1", "Tip", "Tip of the Day", QStyle::SP_MessageBoxInformation, "dialog-information"},
        {&HelpSpeed, "HelpSpeed", "Help", "Go to Help Page (F1)", QStyle::SP_DialogHelpButton, "help-contents"},
        {&HomeButton, "HomeButton", "Home", "Albumora home page", QStyle::SP_DirHomeIcon, "go-home"},
    };
    int i = 0;
    for (const Tool& t : tools) {
        QToolButton* b = speedButton(QString::fromLatin1(t.name), QString::fromLatin1(t.text), QString::fromLatin1(t.hint), Panel2);
        b->setIcon(QIcon::fromTheme(QString::fromLatin1(t.themeIcon), style()->standardIcon(t.icon)));
        b->move(6 + (i % 4) * 39, 18 + (i / 4) * 26);
        *t.slot = b;
        ++i;
    }
    // The cancel button lies exactly over the filter button; one of them shows at a time.
    ButtonNoFilter = speedButton(QStringLiteral("ButtonNoFilter"), QStringLiteral("No filter"),
                                 QStringLiteral("Cancel Filter (show all Albums)"), Panel2);
    ButtonNoFilter->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    ButtonNoFilter->setGeometry(ButtonFilter->geometry());
    ButtonNoFilter->setVisible(false);
    NaturalButton->setEnabled(false);
    connect(NaturalButton, &QToolButton::clicked, this, &TForm1::NaturalButtonClick);
    connect(FindCDButton, &QToolButton::clicked, this, &TForm1::FindCDButtonClick);
    connect(ButtonFilter, &QToolButton::clicked, this, &TForm1::ButtonFilterClick);
    connect(ButtonNoFilter, &QToolButton::clicked, this, &TForm1::ButtonNoFilterClick);
    connect(ClipSpeed, &QToolButton::clicked, this, [this] { ClipSpeedClick(); });
    connect(TrackView, &QToolButton::clicked, this, [this] { runAction(QStringLiteral("TrackView"), QStringLiteral("The Tracks View")); });
    connect(URLspeed, &QToolButton::clicked, this, &TForm1::URLspeedClick);
    connect(ExitSpeed, &QToolButton::clicked, this, &TForm1::ExitSpeedClick);
    connect(RWspeed, &QToolButton::clicked, this, [this] { runAction(QStringLiteral("RWspeed"), QStringLiteral("The Report Writer")); });
    connect(ToolButton, &QToolButton::clicked, this, &TForm1::ToolButtonClick);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(HelpSpeed, &QToolButton::clicked, this, &TForm1::HelpSpeedClick);
    connect(HomeButton, &QToolButton::clicked, this, &TForm1::HomeButtonClick);

    MyBar = new QStatusBar(this);
    MyBar->setObjectName(QStringLiteral("MyBar"));
    MyBar->setSizeGripEnabled(false);
    setStatusBar(MyBar);

    for (QWidget* w : {static_cast<QWidget*>(Panel2), static_cast<QWidget*>(MtnBox), static_cast<QWidget*>(SearchBox)}) w->raise();
    resize(kDesignWidth, kDesignHeight);
    // Small enough for any screen, large enough that the three boxes and a few rows show.
    setMinimumSize(kBoxLeft + kBoxWidth, 3 * kBoxHeight + kPanel1Height + 120);
    layoutControls();
}

void TForm1::buildMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [&](const QString& text, std::function<void()> fn) {
        QAction* a = PopupMenu1->addAction(text);
        connect(a, &QAction::triggered, this, std::move(fn));
        return a;
    };
    add(QStringLiteral("Home Page"), [this] { HomeButtonClick(); });
    add(QStringLiteral("Show albums in order entered (natural order)"), [this] { NaturalButtonClick(); });
    QAction* find = add(QStringLiteral("Make CD in drive the current highlighted album"), [this] { FindCDButtonClick(); });
    find->setObjectName(QStringLiteral("FindCDindatabase1"));
    add(QStringLiteral("Detail View - more info and tools"), [this] { ClipSpeedClick(); });
    add(QStringLiteral("Tracks View - displays one track per row"), [this] { runAction(QStringLiteral("TrackView"), QStringLiteral("The Tracks View")); });
    add(QStringLiteral("Go to website/document for current artist/album"), [this] { URLspeedClick(); });
    add(QStringLiteral("Display Album Cover"), [this] { ExitSpeedClick(); });
    add(QStringLiteral("Properties/Options Form"), [this] { ToolButtonClick(); });
    add(QStringLiteral("See the Tip of the Day"), [this] { SpeedButton1Click(); });
    PopupMenu1->addSeparator();
    add(QStringLiteral("Set Filter to current genre or to other criteria"), [this] { ButtonFilterClick(); });
    cancelFilterItem_ = add(QStringLiteral("Cancel Filter"), [this] { ButtonNoFilterClick(); });
    cancelFilterItem_->setEnabled(false);
    add(QStringLiteral("Report Writer"), [this] { runAction(QStringLiteral("RWspeed"), QStringLiteral("The Report Writer")); });
    QAction* eject = add(QStringLiteral("Eject CD"), [this] { ejectClick(); });
    eject->setObjectName(QStringLiteral("eject"));
    add(QStringLiteral("Help Contents"), [this] { HelpSpeedClick(); });
    add(QStringLiteral("Exit Program"), [this] { close(); });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { PopupMenu1->popup(mapToGlobal(p)); });
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

void TForm1::FormCreate() {
    RadioGroup2->setCurrentIndex(0);
    if (!settingsFile_.ini().exists()) {
        const QString player = QFileInfo::exists(QStringLiteral("/usr/bin/audacious")) ? QStringLiteral("/usr/bin/audacious") : QString();
        if (!settingsFile_.writeFirstRun(disc_.firstCdRomDrive ? disc_.firstCdRomDrive() : QString(), player))
            if (auto* prompts = platform::desktop().prompts) prompts->error(settingsFile_.ini().notSavedMessage());
    }
    settings_ = settingsFile_.read(disc_.firstCdRomDrive);
    setWindowTitle(QStringLiteral(" Albumora - ") + settings_.name + QStringLiteral(" - Albums View"));
    applyHints(settings_.hint);
    if (disc_.aspiInstalled && disc_.aspiInstalled() < 0) {
        aspiMissing_ = true;
        AddCDbutton->setEnabled(false);
        if (auto* p = platform::desktop().prompts)
            p->error(QStringLiteral(
                "CD drive access is missing or not permitted!\rFrom the main screen click on the Question Mark button\rand go "
                "to the Troubleshooting section of the help page\rto see how to get access to the drive (the cdrom group).  "
                "Otherwise\ryou will be unable to Auto Add new discs to your Collection,\ryou will have to enter the info manually"));
    }
}

void TForm1::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!activated_) {
        activated_ = true;
        // After the window is on screen, so the status texts of a long rebuild are seen.
        QMetaObject::invokeMethod(this, &TForm1::FormActivate, Qt::QueuedConnection);
    }
}

void TForm1::FormActivate() {
    if (!opened_) OpenCollection();
}

void TForm1::OpenCollection() {
    auto* prompts = platform::desktop().prompts;
    store::Status st = dm_.EnsureCollectionFiles([this](const QString& s) { setStatus(s); });
    if (st) st = dm_.OpenCollectionTables();
    if (!st) {
        setStatus(QString());
        if (prompts) prompts->error(st.text());
        return;
    }
    opened_ = true;
    auto count = dm_.tblAlbums.recordCount();
    const bool any = count && *count > 0;
    for (QPushButton* b : {DelButton, ModButton, PlayListButton}) b->setEnabled(any);
    setStatus(QString());
    browser_->startOrder();
    albumsModel_->reload();
    syncAlbumsSelection();
    updateAlbumPanel();
    OthersTimer->start();
    // The drive is asked once the window has painted the collection: an empty drive is given a
    // moment to spin up, which the first view of the albums need not wait for.
    if (any && disc_.audioCdInDrive) QTimer::singleShot(0, this, &TForm1::ShowAlbumInDrive);
    TipOfDay tips(QDir(programFolder_).filePath(QStringLiteral("Albumoratips.txt")));
    if (tips.load() && tips.showAtStartup()) ShowTipOfDay();
}

void TForm1::ShowAlbumInDrive() {
    if (!disc_.audioCdInDrive() || !disc_.readDisc || !disc_.readDisc()) return;
    store::Cursor& a = dm_.tblAlbums;
    bool found = false;
    if (a.setOrder(QStringLiteral("ID"))) {
        auto f = a.findKey({disc_.currentDiscId ? disc_.currentDiscId() : QString()});
        found = f && *f;
    }
    store::Status st = a.setOrder(QStringLiteral("Artist"));
    if (!found) {
        const store::Status first = a.first();
        if (st) st = first;
    }
    if (!st)
        if (auto* prompts = platform::desktop().prompts) prompts->error(st.text());
    albumsModel_->reload();
    syncAlbumsSelection();
    updateAlbumPanel();
}

void TForm1::SaveOnClose() {
    setStatus(QStringLiteral("Closing Albumora ..."));
    bool saved = session_.genres.size() <= session_.genresLoaded || settingsFile_.writeGenreList(session_.genres);
    const bool maximized = isMaximized() || maximizedLayouts_ > 2;
    settings_.wstate = maximized ? 2 : 1;
    saved = settingsFile_.save(settings_, settings::Key::WState) && saved;
    if (!saved)
        if (auto* prompts = platform::desktop().prompts) prompts->error(settingsFile_.ini().notSavedMessage());
}

void TForm1::closeEvent(QCloseEvent* e) {
    SaveOnClose();
    QMainWindow::closeEvent(e);
}

// ---------------------------------------------------------------------------------------------
// Layout

void TForm1::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    layoutControls();
}

void TForm1::layoutControls() {
    if (!AlbumsGrid) return;
    QWidget* c = centralWidget();
    const int w = c->width();
    const int h = c->height();
    const bool maximized = isMaximized();
    // The boxes keep to the right-hand edge of a window wider than the design, maximized or not.
    const int boxLeft = std::max(kBoxLeft, w - kBoxWidth);
    SearchBox->setGeometry(boxLeft, h - kBoxHeight, kBoxWidth, kBoxHeight);
    MtnBox->setGeometry(boxLeft, SearchBox->y() - kBoxHeight, kBoxWidth, kBoxHeight);
    Panel2->setGeometry(boxLeft, MtnBox->y() - kBoxHeight, kBoxWidth, kBoxHeight);
    const int tracksHeight = std::min(kTracksHeight, std::max(80, h - 3 * kBoxHeight + kBoxHeight));
    CDGrid->setGeometry(0, h - tracksHeight, boxLeft + 2, tracksHeight);
    Panel1->setGeometry(0, CDGrid->y() - 1 - kPanel1Height, boxLeft, kPanel1Height);
    AlbumsGrid->setGeometry(0, 0, w, std::max(40, Panel1->y()));
    // Genre is as wide as a genre of the field's ten letters; the width left beyond the design
    // goes half to Artist and half to Album.
    const int genre = std::max(kColumnWidths[3], AlbumsGrid->fontMetrics().horizontalAdvance(QStringLiteral("electronic")) + 12);
    int designTotal = -2;
    for (int i = 0; i < 3; ++i) designTotal += kColumnWidths[i] + 2;
    designTotal += genre + 2;
    const int extra = std::max(0, AlbumsGrid->viewport()->width() - designTotal);
    if (maximized) ++maximizedLayouts_;
    AlbumsGrid->setColumnWidth(0, kColumnWidths[0] + extra / 2);
    AlbumsGrid->setColumnWidth(1, kColumnWidths[1] + extra - extra / 2);
    AlbumsGrid->setColumnWidth(3, genre);
}

// ---------------------------------------------------------------------------------------------
// Albums grid

void TForm1::refreshGrids() {
    AlbumsGrid->viewport()->update();
    CDGrid->viewport()->update();
    syncAlbumsSelection();
}

void TForm1::catchUpWithOtherWriters() {
    // Not under a dialog: its flow may be between reads of the tables it works on.
    if (!opened_ || QApplication::activeModalWidget() || QApplication::activePopupWidget()) return;
    auto caught = dm_.CatchUpWithOtherWriters();
    if (!caught) {
        setStatus(caught.error().text());
        return;
    }
    if (!*caught) return;
    // The buttons and the filter's count in the status bar follow the albums the others wrote.
    browser_->updateAlbumStatus();
    refreshGrids();
    updateAlbumPanel();
}

void TForm1::syncAlbumsSelection() {
    const int row = albumsModel_->currentRow();
    if (row < 0) return;
    const QModelIndex at = albumsModel_->index(row, std::max(0, AlbumsGrid->currentIndex().column()));
    if (AlbumsGrid->currentIndex().row() != row) {
        QSignalBlocker block(AlbumsGrid->selectionModel());
        AlbumsGrid->setCurrentIndex(at);
        AlbumsGrid->selectRow(row);
    }
    AlbumsGrid->scrollTo(at);
}

void TForm1::updateAlbumPanel() {
    YRtext->setText(dm_.tblAlbums.text(QStringLiteral("YR")));
    BItext->setText(dm_.tblAlbums.text(QStringLiteral("MEDIA")));
    IXvalue->setText(dm_.tblAlbums.text(QStringLiteral("IX")));
}

void TForm1::updateSortIndicator() {
    const QString indicator = browser_->sortIndicator();
    for (int i = 0; i < 4; ++i)
        albumsModel_->setHeaderBackground(
            i, kAlbumColumns[i].compare(indicator, Qt::CaseInsensitive) == 0 ? QVariant(QBrush(kAqua)) : QVariant());
    NaturalButton->setEnabled(browser_->naturalEnabled());
}

void TForm1::AlbumsGridTitleClick(int column) {
    if (column < 0 || column >= kAlbumColumns.size()) return;
    store::Status st = browser_->columnTitleClick(kAlbumColumns[column]);
    if (!st) {
        if (auto* p = platform::desktop().prompts) p->error(st.text());
    }
    albumsModel_->reload();
    syncAlbumsSelection();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && !settings_.hint) return true;
    if (watched == AlbumsGrid && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
        // Enter runs the window's default button, Find It!; Ctrl+Enter modifies the album.
        if (enter && (k->modifiers() & Qt::ControlModifier)) {
            if (ModButton->isEnabled()) ModButtonClick();
            return true;
        }
        if (enter) {
            GoButton->click();
            return true;
        }
        if (k->key() == Qt::Key_Delete && k->modifiers() == Qt::NoModifier) {
            if (DelButton->isEnabled()) DelButtonClick();
            return true;
        }
        const QString t = k->text();
        if (t.size() == 1 && t.at(0).unicode() >= 32 && t.at(0).unicode() <= 126 && !(k->modifiers() & Qt::ControlModifier)) {
            browser_->incrementalSearch(t.at(0));
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::applyHints(bool on) {
    settings_.hint = on;
    qApp->removeEventFilter(this);
    if (!on) qApp->installEventFilter(this);
}

void TForm1::setStatus(const QString& text) {
    MyBar->showMessage(text);
    MyBar->repaint();
}

void TForm1::setAction(const QString& buttonName, std::function<void()> action) { actions_[buttonName] = std::move(action); }

void TForm1::runAction(const QString& buttonName, const QString& feature) {
    auto it = actions_.find(buttonName);
    if (it != actions_.end() && it->second) {
        it->second();
        return;
    }
    if (auto* p = platform::desktop().prompts) p->information(feature + QStringLiteral(" is not part of this version of Albumora yet."));
}

// ---------------------------------------------------------------------------------------------
// Controls

void TForm1::GoButtonClick() {
    const auto field = static_cast<SearchField>(RadioGroup2->currentIndex());
    auto go = [this](const QString& id) { GoToAlbum(id); };
    browser_->quickSearch(field, Edit1->text(), [&](const AlbumsBrowser::Result& r) {
        std::unique_ptr<views::ResultWindow> w;
        switch (r.window) {
            case AlbumsBrowser::Result::Window::Artists: w = std::make_unique<views::TArtSet>(dm_.tblArtists, dm_.tblFilter, go, this); break;
            case AlbumsBrowser::Result::Window::Albums: w = std::make_unique<views::TAlbumSet>(dm_.tblFilter, go, this); break;
            case AlbumsBrowser::Result::Window::Tracks: w = std::make_unique<views::TForm2>(dm_.tblCD, go, this); break;
            case AlbumsBrowser::Result::Window::None: return;
        }
        w->setWindowTitle(r.caption);
        w->exec();
    });
    AlbumsGrid->setFocus();
}

void TForm1::ClearButtonClick() {
    Edit1->clear();
    Edit1->setFocus();
}

void TForm1::NaturalButtonClick() {
    browser_->naturalOrder();
    albumsModel_->reload();
    syncAlbumsSelection();
    AlbumsGrid->setFocus();
}

void TForm1::FindCDButtonClick() {
    if (disc_.findCdInCollection) disc_.findCdInCollection(true);
    refreshGrids();
    AlbumsGrid->setFocus();
}

void TForm1::ejectClick() {
    if (disc_.eject && disc_.eject()) return;
    if (auto* p = platform::desktop().prompts) p->message(settings_.cdPath + QStringLiteral(" Not A CD Drive"));
}

void TForm1::ButtonFilterClick() {
    views::TPopUpFilt window(dm_.tblAlbums, QDir(programFolder_).filePath(QStringLiteral("albums.ini")), this);
    const bool ok = window.exec() == QDialog::Accepted;
    if (ok)
        browser_->filterSet();
    else if (browser_->filterOn() && !dm_.tblAlbums.filtered())
        browser_->cancelFilter();  // an expression no album passes turned the old filter off
    AlbumsGrid->setFocus();
}

void TForm1::ButtonNoFilterClick() { browser_->cancelFilter(); }

void TForm1::URLspeedClick() { browser_->openWebLink(); }

void TForm1::ExitSpeedClick() { browser_->showAlbumArt(true); }

void TForm1::ShowTipOfDay() {
    TTipForm tip(QDir(programFolder_).filePath(QStringLiteral("Albumoratips.txt")), this);
    tip.exec();
}

void TForm1::SpeedButton1Click() {
    const QString file = QDir(programFolder_).filePath(QStringLiteral("Albumoratips.txt"));
    if (!QFileInfo::exists(file)) {
        if (auto* p = platform::desktop().prompts) p->error(QStringLiteral("Can't find Tip of the Day File ") + file);
        return;
    }
    ShowTipOfDay();
}

void TForm1::HelpSpeedClick() { OpenHelpPage(QStringLiteral("CDhelp1.html")); }

void TForm1::HomeButtonClick() {
    if (auto* l = platform::desktop().launcher) l->open(homePageAddress());
}

void TForm1::ToolButtonClick() {
    TOpTools::Hooks hooks;
    hooks.driveLines = disc_.driveLines;
    hooks.firstCdRomDrive = disc_.firstCdRomDrive;
    hooks.cdDevices = disc_.cdDevices;
    hooks.applyHints = [this](bool on) { applyHints(on); };
    hooks.setCaption = [this](const QString& caption) { setWindowTitle(caption); };
    hooks.openHelpPage = [this](const QString& page) { OpenHelpPage(page); };
    TOpTools options(settings_, settingsFile_, std::move(hooks), this);
    options.exec();
}

disc::ImportContext TForm1::importContext() {
    disc::ImportContext ctx;
    ctx.album = &editor_->pending();
    ctx.settings = &settings_;
    ctx.settingsFile = &settingsFile_;
    ctx.dm = &dm_;
    ctx.useDisc(disc_, session_.disc);
    ctx.openHelpPage = [this](const QString& page) { OpenHelpPage(page); };
    ctx.albumMadeCurrent = [this](const QString&) {
        albumsModel_->reload();
        syncAlbumsSelection();
    };
    ctx.showEditForm = [this] { MngRecF_->showPending(); };
    return ctx;
}

void TForm1::installImport() {
    showImport = [this](TForm1&) {
        disc::Txcmd window(importContext(), disc::ImportUse::AddOther, this);
        window.exec();
    };
    showUpdateTracks = [this](TForm1&, editing::TMngRecF& form) {
        disc::ImportContext ctx = importContext();
        ctx.showEditForm = nullptr;  // the form is open already
        // In this use the window only rewrites the titles of the form's rows.
        disc::Txcmd window(ctx, disc::ImportUse::UpdateTracks, &form);
        window.exec();
    };
}

void TForm1::installEditFormTools() {
    using editing::TMngRecF;
    TMngRecF::Hooks hooks;
    hooks.openHelpPage = [this](const QString& page) { OpenHelpPage(page); };
    hooks.editNotes = [this](TMngRecF& form) {
        form.collect();
        editing::TMulti::Options options;
        options.defaultAmount = settings_.amount;
        options.programFolder = programFolder_;
        options.openHelpPage = [this](const QString& page) { OpenHelpPage(page); };
        editing::TMulti::Edit(form.pending(), editor_->suggestedPick(), options, &form);
        form.refreshNotes();
    };
    hooks.flip = [](TMngRecF& form) {
        form.collect();
        editing::FlipTitles(form.pending().tracks);
        form.refresh();
    };
    hooks.maskMaker = [this](TMngRecF& form) {
        auto* prompts = platform::desktop().prompts;
        if (!prompts) return;
        const QStringList files = prompts->openFiles(
            QStringLiteral("Select audio files for this album"), settings_.clipsDir,
            QStringLiteral("MP3 (*.mp3)|*.mp3|WAV (*.wav)|*.wav|WMA (*.wma)|*.wma|Vorbis (*.ogg)|*.ogg|All Files (*.*)|*.*"));
        editing::ReturnToProgramFolder(programFolder_);
        if (files.isEmpty()) return;
        form.collect();
        const editing::Mask mask = editing::MakeMask(files, settings_.clipsDir);
        if (mask.clipsDir) {
            settings_.clipsDir = *mask.clipsDir;
            form.clipsFolderChanged();
        }
        editing::PlaceMask(mask.mask, form.pending().label, form.pending().notes);
        form.refresh();
    };
    hooks.getCoverImage = [](TMngRecF& form) {
        form.collect();
        form.showCoverTip(true);
        if (auto* l = platform::desktop().launcher) l->open(editing::CoverImageSearchAddress(form.pending().artist));
    };
    hooks.updateTracks = [this](TMngRecF& form) {
        form.collect();
        if (showUpdateTracks) {
            showUpdateTracks(*this, form);
            form.refresh();
        } else if (auto* p = platform::desktop().prompts) {
            p->information(QStringLiteral("Updating tracks from a web page is not part of this version of Albumora yet."));
        }
    };
    hooks.findDuplicates = [this](TMngRecF& form) {
        auto* p = platform::desktop().prompts;
        if (!store::fileExists(dm_.tablePath(QStringLiteral("TVIEW.DBF")))) {
            if (p) p->error(QStringLiteral("You must FIRST go to the Tracks view to auto-create needed files"));
            return;
        }
        form.collect();
        const editing::PendingAlbum& album = form.pending();
        views::DuplicateQuery query;
        query.artist = album.artist;
        query.album = album.title;
        query.modifying = album.mode == editing::EditMode::Modify;
        query.albumId = album.albumId;
        QTableWidget* grid = form.grid();
        for (int r = 0; r < grid->rowCount(); ++r) {
            const QTableWidgetItem* nr = grid->item(r, 0);
            const QTableWidgetItem* title = grid->item(r, 2);
            query.tracks.push_back({nr ? nr->text() : QString(), title ? title->text() : QString()});
        }
        views::TDupes dupes(dm_.tblTView, query, &form);
        dupes.exec();
    };
    MngRecF_->setHooks(std::move(hooks));
}

void TForm1::TrackViewClick() {
    views::TTrkView::Hooks hooks;
    QString target;
    hooks.goToAlbum = [&target](const QString& id) { target = id; };
    hooks.collectionEmpty = [this] {
        auto n = dm_.tblAlbums.recordCount();
        return n && *n == 0;
    };
    hooks.openHelpPage = [this](const QString& page) { OpenHelpPage(page); };
    hooks.trackInfo = [this](store::Cursor& row) {
        views::TtrkInfo info(dm_, row, this);
        info.exec();
    };
    {
        views::TTrkView view(dm_, std::move(hooks), this);
        view.exec();
    }
    // The browser was frozen while the view was open; it moves to the album asked for only now,
    // with the view's tables closed.
    if (!target.isEmpty()) GoToAlbum(target);
    albumsModel_->reload();
    syncAlbumsSelection();
    RefreshAlbumStatus();
    AlbumsGrid->setFocus();
}

void TForm1::ModButtonClick() {
    auto* prompts = platform::desktop().prompts;
    store::Status st = editor_->PrepareModify();
    if (!st) {
        if (prompts) prompts->error(st.text());
        return;
    }
    MngRecF_->showPending();
    st = dm_.FlushCollection();
    if (!st && prompts) prompts->error(st.text());
    albumsModel_->reload();
    RefreshAlbumStatus();
}

void TForm1::AddOtherButtonClick() {
    if (!showImport) {
        runAction(QStringLiteral("AddOtherButton"), QStringLiteral("Adding other media"));
        return;
    }
    editor_->PrepareAddOther();
    showImport(*this);
    store::Status st = dm_.FlushCollection();
    if (!st) {
        if (auto* p = platform::desktop().prompts) p->error(st.text());
    }
    albumsModel_->reload();
    RefreshAlbumStatus();
}

void TForm1::AddCDbuttonClick() {
    disc::AddCdHooks hooks;
    hooks.status = [this](const QString& text) { setStatus(text); };
    hooks.audioCdInDrive = disc_.audioCdInDrive;
    hooks.readDisc = disc_.readDisc;
    hooks.currentDiscId = disc_.currentDiscId;
    hooks.discToc = [this] { return session_.disc.toc; };
    hooks.lookupToc = [this] {
        disc::DiscState& state = session_.disc;
        const disc::ComposedToc toc = disc::DiscDrive::ComposeTocText(state.toc, disc::TocMode::Lookup, settings_.protocol);
        state.discLength = toc.discLength;
        return toc;
    };
    hooks.findCdInCollection = disc_.findCdInCollection;
    hooks.chooseMatch = [this](const QStringList& lines) { return disc::TFuzzyF::choose(lines, this); };
    hooks.showEditForm = [this] { MngRecF_->showPending(); };
    const disc::AddCdFlow* running = nullptr;
    hooks.cdText = [this] { return disc::ReadCdText(settings_.cdPath); };
    hooks.showImport = [this, &running](int) {
        disc::ImportContext context = importContext();
        if (running) context.cdText = running->cdText();
        disc::Txcmd window(std::move(context), disc::ImportUse::NotFound, this);
        window.exec();
    };
    hooks.contribute = [this] { ContributeCurrentAlbum(); };
    disc::AddCdFlow flow(dm_, *editor_, settings_, std::move(hooks));
    running = &flow;
    if (lookupLimits) lookupLimits(flow.config());
    flow.run();
    setStatus(QString());
    albumsModel_->reload();
    tracksModel_->reload();
    RefreshAlbumStatus();
}

void TForm1::ReindexButtonClick() {
    auto* prompts = platform::desktop().prompts;
    if (!prompts) return;
    const bool archive = prompts->confirm(QStringLiteral("Also create/update a zip archive file?"));
    // Other programs' saves are caught up with afterwards: the tables are closed meanwhile.
    const bool watching = OthersTimer->isActive();
    OthersTimer->stop();
    auto done = store::MaintainCollection(dm_, archive, [this](const QString& text) {
        setStatus(text);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    albumsModel_->reload();
    tracksModel_->reload();
    if (watching) OthersTimer->start();
    setStatus(QString());
    if (!done)
        prompts->error(done.error().text());
    else
        prompts->message(store::MaintenanceMessage(*done, programFolder_));
    RefreshAlbumStatus();
}

void TForm1::ContributeCurrentAlbum() {
    disc::SubmitContext context{dm_, session_.disc};
    context.officialCategories = settings_.officialGenres;
    context.settingsFile = &settingsFile_;
    context.notSaved = [](const QString& message) {
        if (auto* prompts = platform::desktop().prompts) prompts->error(message);
    };
    context.showOptions = [this] { ToolButtonClick(); };
    if (mailLimits) mailLimits(context.mail);
    const store::Result<disc::SubmitOutcome> done = disc::Submit(context);
    if (!done) {
        if (auto* p = platform::desktop().prompts) p->error(done.error().text());
    }
    albumsModel_->reload();
    RefreshAlbumStatus();
}

void TForm1::DelButtonClick() {
    // The repaints below run the event loop: no catch-up with other writers in between.
    const bool watching = OthersTimer->isActive();
    OthersTimer->stop();
    auto deleted = editor_->DeleteCurrentAlbum([this](const QString& s) {
        setStatus(s);
        // The question's box has closed: the window paints itself and the status before the
        // work begins, so no ghost of the box stays on screen while the tables are packed.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    if (!deleted) {
        if (auto* p = platform::desktop().prompts) p->error(deleted.error().text());
    }
    setStatus(QString());
    albumsModel_->reload();
    tracksModel_->reload();
    RefreshAlbumStatus();
    if (watching) OthersTimer->start();
}

// ---------------------------------------------------------------------------------------------
// Playlists

void TForm1::PlayListButtonClick() {
    auto* prompts = platform::desktop().prompts;
    const QString id = dm_.tblAlbums.text(QStringLiteral("ID"));
    if (id.isEmpty()) return;
    // The marks are read and written while the grid under the window does not follow them.
    const bool watching = OthersTimer->isActive();
    OthersTimer->stop();
    dm_.tblTracks.disableControls();
    dm_.tblPlayList.disableControls();
    CDGrid->hide();
    playlist::PlaylistBuilder builder;
    store::Status st = builder.Load(dm_, id);
    if (st) {
        playlist::TDualListDlg window(dm_, builder, [this](const QString& page) { OpenHelpPage(page); }, this);
        window.exec();
        st = dm_.tblPlayList.isOpen() ? dm_.tblPlayList.flush() : store::Status();
    }
    dm_.tblPlayList.enableControls();
    dm_.tblTracks.enableControls();
    CDGrid->show();
    tracksModel_->reload();
    CDGrid->viewport()->update();
    if (watching) OthersTimer->start();
    if (!st && prompts) prompts->error(st.text());
    AlbumsGrid->setFocus();
}

playlist::PlayFlow TForm1::playFlow() {
    playlist::PlayFlow::Hooks hooks;
    hooks.findCdInCollection = [this](bool showMessages) {
        const bool found = disc_.findCdInCollection && disc_.findCdInCollection(showMessages);
        refreshGrids();
        return found;
    };
    hooks.currentDiscId = disc_.currentDiscId;
    hooks.showAlbumArt = [this](bool showMessages) { return ShowAlbumArt(showMessages); };
    return playlist::PlayFlow(dm_, settings_, std::move(hooks));
}

void TForm1::PlaySpeedClick() {
    const store::Status st = playFlow().PlayCurrentAlbum();
    if (!st)
        if (auto* p = platform::desktop().prompts) p->error(st.text());
}

void TForm1::CDGridDblClick() {
    const QModelIndex at = CDGrid->currentIndex();
    if (!at.isValid()) return;
    const std::uint32_t recno = tracksModel_->recnoAt(at.row());
    store::Cursor& t = dm_.tblTracks;
    const int nr = recno ? t.textOfRecord(recno, t.fieldIndex(QStringLiteral("NR"))).trimmed().toInt() : 0;
    if (nr < 1) return;
    const store::Status st = playFlow().PlayFromTrack(nr);
    if (!st)
        if (auto* p = platform::desktop().prompts) p->error(st.text());
}

}  // namespace albumora::shell

namespace albumora::shell {

void TForm1::ClipSpeedClick() {
    if (!opened_ || !dm_.tblAlbums.isOpen() || dm_.tblAlbums.isEmpty()) {
        if (auto* p = platform::desktop().prompts) p->error(QStringLiteral("There are no albums in your collection yet"));
        return;
    }
    views::DetailHooks hooks;
    hooks.options.albumsFiltered = browser_->filterOn();
    hooks.options.filterExpression = dm_.tblAlbums.filter();
    hooks.options.listedByLabel = dm_.tblAlbums.order().compare(QLatin1String("Label"), Qt::CaseInsensitive) == 0;
    hooks.lyricTracks = &lyricTracks_;
    hooks.labeler = settings_.labeler;
    hooks.showLyrics = [this] {
        editing::Tlyrics lyrics(dm_, lyricTracks_, this);
        lyrics.exec();
    };
    hooks.contribute = [this] {
        disc::SubmitContext context{dm_, session_.disc};
        context.officialCategories = settings_.officialGenres;
        context.settingsFile = &settingsFile_;
        context.notSaved = [](const QString& message) {
            if (auto* prompts = platform::desktop().prompts) prompts->error(message);
        };
        context.showOptions = [this] { ToolButtonClick(); };
        if (mailLimits) mailLimits(context.mail);
        auto findCd = [this]() -> store::Result<bool> { return disc_.findCdInCollection && disc_.findCdInCollection(true); };
        const store::Result<disc::SubmitOutcome> done = disc::FreedbClick(context, findCd);
        if (!done)
            if (auto* p = platform::desktop().prompts) p->error(done.error().text());
        // The disc's album may have become the current one.
        albumsModel_->reload();
        tracksModel_->reload();
    };
    {
        views::TDetail detail(dm_, std::move(hooks), this);
        if (detail.composed()) detail.exec();
    }
    lyricTracks_.clear();
    albumsModel_->reload();
    tracksModel_->reload();
    RefreshAlbumStatus();
}

}  // namespace albumora::shell
