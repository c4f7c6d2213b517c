#include "Codepage.h"
#include "ToolsF.h"

#include "HelpKey.h"
#include "Prompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

namespace albumora::shell {

namespace {
// The Sources setting's choices: what the user reads, what the file holds.
const std::pair<QString, QString> kSourceChoices[] = {
    {QStringLiteral("the CD database, then MusicBrainz"), QStringLiteral("cddb,musicbrainz")},
    {QStringLiteral("MusicBrainz, then the CD database"), QStringLiteral("musicbrainz,cddb")},
    {QStringLiteral("both, every match offered together"), QStringLiteral("cddb+musicbrainz")},
    {QStringLiteral("the CD database only"), QStringLiteral("cddb")},
    {QStringLiteral("MusicBrainz only"), QStringLiteral("musicbrainz")},
};
}  // namespace

namespace {

QLabel* grey(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::gray);
    l->setPalette(p);
    return l;
}
}  // namespace

TOpTools::TOpTools(settings::RunSettings& settings, settings::SettingsFile& file, Hooks hooks, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), settings_(settings), file_(file),
      hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("OpTools"));
    setWindowTitle(QStringLiteral("Albumora - Properties and Options Form"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Customize your Albumora, then click OK to save changes or Cancel to abort"), this));

    auto* grid = new QGridLayout;
    int row = 0;
    auto edit = [&](const QString& name, const QString& label, const QString& hint) {
        auto* l = new QLabel(label, this);
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setToolTip(hint);
        l->setToolTip(hint);
        grid->addWidget(l, row, 0);
        grid->addWidget(e, row, 1);
        return e;
    };
    drivesLabel_ = new QLabel(QStringLiteral("CD/DVD-Rom Drive:"), this);
    cbDrives_ = new QComboBox(this);
    cbDrives_->setObjectName(QStringLiteral("cbDrives"));
    grid->addWidget(drivesLabel_, row, 0);
    grid->addWidget(cbDrives_, row, 1, 1, 2);
    // A machine without a drive is no error: said here once, not in a box at every opening.
    NoDriveLabel_ = new QLabel(QStringLiteral("Can NOT find a CD-ROM drive. Type a device or a disc image's path below."), this);
    NoDriveLabel_->setObjectName(QStringLiteral("NoDriveLabel"));
    NoDriveLabel_->setToolTip(QStringLiteral("A disc image: a .cue file with its .bin, a .toc or an .nrg file"));
    grid->addWidget(NoDriveLabel_, row++, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("CD/DVD-Rom Device:"), this), row, 0);
    DrivePicker_ = new QComboBox(this);
    DrivePicker_->setObjectName(QStringLiteral("DrivePicker"));
    DrivePicker_->setEditable(true);
    grid->addWidget(DrivePicker_, row++, 1, 1, 2);
    auto browseRow = [&](QLineEdit* e, const QString& buttonName) {
        auto* b = new QPushButton(QStringLiteral("Browse"), this);
        b->setObjectName(buttonName);
        b->setAutoDefault(false);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        grid->addWidget(b, row++, 2);
        connect(b, &QPushButton::clicked, this, [this, e] { browse(e); });
    };
    EditViewer_ = edit(QStringLiteral("EditViewer"), QStringLiteral("Viewer program:"), QStringLiteral("Program to display Cover Art"));
    browseRow(EditViewer_, QStringLiteral("ViewerButton"));
    EditLabeler_ = edit(QStringLiteral("EditLabeler"), QStringLiteral("Labeler program:"), QString());
    browseRow(EditLabeler_, QStringLiteral("Button1"));
    EditPlayer_ = edit(QStringLiteral("EditPlayer"), QStringLiteral("Player program:"),
                       QStringLiteral("Leave blank to use the desktop's default audio player"));
    browseRow(EditPlayer_, QStringLiteral("Button2"));
    EditName_ = edit(QStringLiteral("EditName"), QStringLiteral("Purpose:"), QString());
    ++row;
    EditAmount_ = edit(QStringLiteral("EditAmount"), QStringLiteral("Default Cost"),
                       QStringLiteral("Initial cost when entering Purchase Cost or Current Value"));
    // Under the box rather than beside it: beside, it made the Browse column wide and the path
    // boxes narrow.
    ++row;
    grid->addWidget(grey(QStringLiteral("(default album Cost/Value used to calculate collection valuation)"), this), row++, 1, 1, 2);
    // The path boxes take the width; the Browse buttons keep their own.
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    FlyOverCheck_ = new QCheckBox(QStringLiteral("Show Tooltips (\"fly-over\" hints)"), this);
    FlyOverCheck_->setObjectName(QStringLiteral("FlyOverCheck"));
    layout->addWidget(FlyOverCheck_);
    layout->addWidget(grey(QStringLiteral("(show hint when the mouse pointer rests on a control or its label)"), this));
    ArtCheck_ = new QCheckBox(QStringLiteral("Auto display cover art"), this);
    ArtCheck_->setObjectName(QStringLiteral("ArtCheck"));
    layout->addWidget(ArtCheck_);
    layout->addWidget(grey(QStringLiteral("(auto show any cover art while playing the album)"), this));

    auto* boxes = new QHBoxLayout;
    auto* protocol = new QGroupBox(QStringLiteral(" Connection Protocol "), this);
    protocol->setObjectName(QStringLiteral("RadioGroup1"));
    auto* pl = new QVBoxLayout(protocol);
    tcp_ = new QRadioButton(QStringLiteral("TCP/IP"), protocol);
    http_ = new QRadioButton(QStringLiteral("HTTP"), protocol);
    tcp_->setObjectName(QStringLiteral("RadioGroup1Item0"));
    http_->setObjectName(QStringLiteral("RadioGroup1Item1"));
    RadioGroup1_ = new QButtonGroup(this);
    RadioGroup1_->addButton(tcp_, 0);
    RadioGroup1_->addButton(http_, 1);
    pl->addWidget(tcp_);
    pl->addWidget(http_);
    SSLcheck_ = new QCheckBox(QStringLiteral("Authentication required"), protocol);
    SSLcheck_->setObjectName(QStringLiteral("SSLcheck"));
    pl->addWidget(SSLcheck_);
    boxes->addWidget(protocol);
    auto* hosts = new QGroupBox(QStringLiteral(" Database Host  "), this);
    hosts->setObjectName(QStringLiteral("RadioGroup2"));
    auto* hl = new QVBoxLayout(hosts);
    primary_ = new QRadioButton(settings::kPrimaryHost + QStringLiteral("  (primary)"), hosts);
    alternate_ = new QRadioButton(settings::kAlternateHost + QStringLiteral(" (alternate, for HTTP protocol only)"), hosts);
    primary_->setObjectName(QStringLiteral("RadioGroup2Item0"));
    alternate_->setObjectName(QStringLiteral("RadioGroup2Item1"));
    RadioGroup2_ = new QButtonGroup(this);
    RadioGroup2_->addButton(primary_, 0);
    RadioGroup2_->addButton(alternate_, 1);
    hl->addWidget(primary_);
    hl->addWidget(alternate_);
    // A server of the user's own (a mirror, one on the local network), beside the two listed.
    auto* otherRow = new QHBoxLayout;
    otherHost_ = new QRadioButton(QStringLiteral("other:"), hosts);
    otherHost_->setObjectName(QStringLiteral("RadioGroup2Item2"));
    RadioGroup2_->addButton(otherHost_, 2);
    EditHost_ = new QLineEdit(hosts);
    EditHost_->setObjectName(QStringLiteral("EditHost"));
    EditHost_->setPlaceholderText(QStringLiteral("cddb.example.org"));
    EditHost_->setToolTip(QStringLiteral("A CD database server of your own: its name, or name:port"));
    otherRow->addWidget(otherHost_);
    otherRow->addWidget(EditHost_, 1);
    hl->addLayout(otherRow);
    connect(EditHost_, &QLineEdit::textEdited, this, [this] { otherHost_->setChecked(true); });
    boxes->addWidget(hosts);
    layout->addLayout(boxes);
    connect(RadioGroup1_, &QButtonGroup::idClicked, this, [this] { RadioGroup1Click(); });
    connect(RadioGroup2_, &QButtonGroup::idClicked, this, [this] { RadioGroup2Click(); });

    // The address is not only for contributions: every lookup's greeting names the user.
    auto* mail = new QGroupBox(QStringLiteral(" E-mail entries: your address introduces you in every CD database lookup and "
                                              "sends your contributions "),
                               this);
    auto* ml = new QGridLayout(mail);
    ml->addWidget(new QLabel(QStringLiteral("Your e-mail Address:"), mail), 0, 0);
    EditMail_ = new QLineEdit(mail);
    EditMail_->setObjectName(QStringLiteral("EditMail"));
    ml->addWidget(EditMail_, 0, 1);
    ml->addWidget(grey(QStringLiteral("example: jane.doe@example.org"), mail), 1, 1);
    ml->addWidget(new QLabel(QStringLiteral("Outgoing (SMTP) Mail Server:"), mail), 2, 0);
    EditServer_ = new QLineEdit(mail);
    EditServer_->setObjectName(QStringLiteral("EditServer"));
    ml->addWidget(EditServer_, 2, 1);
    ml->addWidget(grey(QStringLiteral("example: mail.example.org"), mail), 3, 1);
    ml->addWidget(new QLabel(QStringLiteral("The e-mail address must be on the above mail server, no web mail address please"), mail),
                  4, 0, 1, 2);
    layout->addWidget(mail);

    // Where a disc is looked up besides the CD database, and the covers that come with it.
    auto* web = new QGroupBox(QStringLiteral(" Album data beyond the CD database "), this);
    web->setObjectName(QStringLiteral("SourcesGroup"));
    auto* wl = new QGridLayout(web);
    wl->addWidget(new QLabel(QStringLiteral("Look discs up in:"), web), 0, 0);
    cbSources_ = new QComboBox(web);
    cbSources_->setObjectName(QStringLiteral("cbSources"));
    for (const auto& [text, value] : kSourceChoices) cbSources_->addItem(text, value);
    wl->addWidget(cbSources_, 0, 1);
    wl->addWidget(new QLabel(QStringLiteral("MusicBrainz server:"), web), 1, 0);
    EditMusicBrainz_ = new QLineEdit(web);
    EditMusicBrainz_->setObjectName(QStringLiteral("EditMusicBrainz"));
    EditMusicBrainz_->setPlaceholderText(QStringLiteral("https://musicbrainz.org"));
    wl->addWidget(EditMusicBrainz_, 1, 1);
    wl->addWidget(new QLabel(QStringLiteral("Cover Art Archive:"), web), 2, 0);
    EditCoverArt_ = new QLineEdit(web);
    EditCoverArt_->setObjectName(QStringLiteral("EditCoverArt"));
    EditCoverArt_->setPlaceholderText(QStringLiteral("https://coverartarchive.org"));
    wl->addWidget(EditCoverArt_, 2, 1);
    CoversCheck_ = new QCheckBox(QStringLiteral("Fetch the front cover of a MusicBrainz release into the covers folder"), web);
    CoversCheck_->setObjectName(QStringLiteral("CoversCheck"));
    wl->addWidget(CoversCheck_, 3, 0, 1, 2);
    layout->addWidget(web);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKbutton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("BitBtn1"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    layout->addLayout(buttons);
    bar_ = new QStatusBar(this);
    bar_->setSizeGripEnabled(false);
    layout->addWidget(bar_);
    connect(ok, &QPushButton::clicked, this, &TOpTools::OKbuttonClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, &TOpTools::BitBtn1Click);
    platform::bindHelpKey(this, help);
    FormShow();
}

void TOpTools::FormShow() {
    EditMail_->setText(settings_.mail);
    EditServer_->setText(settings_.server);
    EditViewer_->setText(settings_.viewer);
    EditName_->setText(settings_.name);
    EditLabeler_->setText(settings_.labeler);
    EditAmount_->setText(settings_.amount);
    EditPlayer_->setText(settings_.player);
    FlyOverCheck_->setChecked(settings_.hint);
    ArtCheck_->setChecked(settings_.art);
    SSLcheck_->setChecked(settings_.ssl);
    int source = cbSources_->findData(store::trimControl(settings_.sources).toLower());
    if (source < 0) {
        // A list typed into the settings file by hand is offered as it is.
        cbSources_->addItem(settings_.sources, settings_.sources);
        source = cbSources_->count() - 1;
    }
    cbSources_->setCurrentIndex(source);
    EditMusicBrainz_->setText(settings_.musicBrainz);
    EditCoverArt_->setText(settings_.coverArt);
    CoversCheck_->setChecked(settings_.covers);

    DrivePicker_->clear();
    QStringList devices = hooks_.cdDevices ? hooks_.cdDevices() : QStringList();
    if (!settings_.cdPath.isEmpty() && !devices.contains(settings_.cdPath)) devices.prepend(settings_.cdPath);
    DrivePicker_->addItems(devices);
    if (!settings_.cdPath.isEmpty()) DrivePicker_->setCurrentText(settings_.cdPath);

    const QStringList lines = hooks_.driveLines ? hooks_.driveLines() : QStringList();
    cbDrives_->clear();
    cbDrives_->setVisible(!lines.isEmpty());
    NoDriveLabel_->setVisible(lines.isEmpty());
    if (!lines.isEmpty()) {
        cbDrives_->addItems(lines);
        cbDrives_->setCurrentIndex(settings_.driveNr >= 0 && settings_.driveNr < lines.size() ? settings_.driveNr : -1);
    }
    (settings_.protocol.startsWith(QLatin1Char('T')) ? tcp_ : http_)->setChecked(true);
    const QString host = store::trimControl(settings_.host);
    QRadioButton* hostButton = host.compare(settings::kAlternateHost, Qt::CaseInsensitive) == 0 ? alternate_
                               : host.isEmpty() || host.compare(settings::kPrimaryHost, Qt::CaseInsensitive) == 0 ? primary_
                                                                                                        : otherHost_;
    hostButton->setChecked(true);
    EditHost_->setText(hostButton == otherHost_ ? host : QString());
    SSLcheck_->setEnabled(http_->isChecked());
    shown_ = current();
}

TOpTools::Snapshot TOpTools::current() const {
    Snapshot s;
    s.mail = EditMail_->text();
    s.server = EditServer_->text();
    s.viewer = EditViewer_->text();
    s.labeler = EditLabeler_->text();
    s.player = EditPlayer_->text();
    s.name = EditName_->text();
    s.amount = EditAmount_->text();
    s.picker = DrivePicker_->currentText();
    s.hint = FlyOverCheck_->isChecked();
    s.art = ArtCheck_->isChecked();
    s.ssl = SSLcheck_->isChecked();
    s.protocol = RadioGroup1_->checkedId();
    s.host = RadioGroup2_->checkedId();
    s.hostName = s.host == 0 ? settings::kPrimaryHost : s.host == 1 ? settings::kAlternateHost : store::trimControl(EditHost_->text());
    s.drive = cbDrives_->isVisible() || cbDrives_->count() ? cbDrives_->currentIndex() : -1;
    s.sources = cbSources_->currentData().toString();
    s.musicBrainz = EditMusicBrainz_->text();
    s.coverArt = EditCoverArt_->text();
    s.covers = CoversCheck_->isChecked();
    return s;
}

void TOpTools::RadioGroup1Click() { SSLcheck_->setEnabled(http_->isChecked()); }

void TOpTools::RadioGroup2Click() {
    if (tcp_->isChecked() && alternate_->isChecked())
        if (auto* p = platform::desktop().prompts)
            p->information(QStringLiteral("The alternate database may not work with TCP/IP Connection Protocol.\rYou may have to "
                                          "select HTTP Connection Protocol."));
}

void TOpTools::BitBtn1Click() {
    if (hooks_.openHelpPage) hooks_.openHelpPage(QStringLiteral("CDhelp2.html#optons"));
}

void TOpTools::browse(QLineEdit* edit) {
    auto* p = platform::desktop().prompts;
    if (!p) return;
    if (auto file = p->openFile(QStringLiteral("Choose a program"), QStringLiteral("/"), QStringLiteral("Programs (*)|*|All Files (*.*)|*.*")))
        edit->setText(*file);
}

void TOpTools::OKbuttonClick() {
    auto* prompts = platform::desktop().prompts;
    bool failed = false;
    auto check = [&](bool bad, const QString& message) {
        if (!bad) return;
        failed = true;
        if (prompts) prompts->error(message);
    };
    Snapshot now = current();
    const bool badMail = !now.mail.isEmpty() && !now.mail.contains(QLatin1Char('@'));
    const bool badServer = !now.server.isEmpty() && !now.server.contains(QLatin1Char('.'));
    const bool badViewer = !now.viewer.isEmpty() && !QFileInfo(now.viewer).isFile();
    const bool badPlayer = !now.player.isEmpty() && !QFileInfo(now.player).isFile();
    const bool badLabeler = !now.labeler.isEmpty() && !QFileInfo(now.labeler).isFile();
    check(badMail, QStringLiteral("Invalid e-mail address"));
    check(badServer, QStringLiteral("Invalid mail server"));
    check(badViewer, QStringLiteral("Invalid Viewer Program Path"));
    check(badPlayer, QStringLiteral("Invalid Player Program path"));
    check(badLabeler, QStringLiteral("Invalid Labeler Program Path"));
    // "other:" without a name would keep the old server while the dialog closed as if the
    // choice had been taken.
    const bool badHost = now.host == 2 && now.hostName.isEmpty();
    check(badHost, kNoOtherHost);
    const auto webAddress = [](const QString& text) {
        const QUrl url(store::trimControl(text));
        return url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) && !url.host().isEmpty();
    };
    // An emptied box means the service's own address.
    const bool badMusicBrainz = !store::trimControl(now.musicBrainz).isEmpty() && !webAddress(now.musicBrainz);
    const bool badCoverArt = !store::trimControl(now.coverArt).isEmpty() && !webAddress(now.coverArt);
    check(badMusicBrainz, QStringLiteral("Invalid MusicBrainz server address"));
    check(badCoverArt, QStringLiteral("Invalid Cover Art Archive address"));
    // An entry that failed its check is not stored: stored, it would fail again at every
    // later OK, even after the box was emptied (an emptied box keeps the stored value).
    if (badMail) now.mail = shown_.mail;
    if (badServer) now.server = shown_.server;
    if (badViewer) now.viewer = shown_.viewer;
    if (badPlayer) now.player = shown_.player;
    if (badLabeler) now.labeler = shown_.labeler;
    if (badHost) now.hostName = shown_.hostName;
    if (badMusicBrainz) now.musicBrainz = shown_.musicBrainz;
    if (badCoverArt) now.coverArt = shown_.coverArt;

    // Only what changed is applied and written, even after a failed check. One row a setting:
    // whether it changed, and what taking it does to the run-time settings.
    using settings::Key;
    auto& s = settings_;
    const auto changed = [&](const auto member) { return now.*member != shown_.*member; };
    const auto filled = [](const QString& text) { return !store::trimControl(text).isEmpty(); };
    struct Row {
        bool take;
        std::vector<Key> keys;
        std::function<void()> apply;
    };
    const Row rows[] = {
        {changed(&Snapshot::mail) && filled(now.mail), {Key::Mail}, [&] { s.mail = now.mail; }},
        {changed(&Snapshot::server) && filled(now.server), {Key::Server}, [&] { s.server = now.server; }},
        {changed(&Snapshot::hint), {Key::Hint}, [&] {
             s.hint = now.hint;
             if (hooks_.applyHints) hooks_.applyHints(now.hint);
         }},
        {changed(&Snapshot::art), {Key::Art}, [&] { s.art = now.art; }},
        {changed(&Snapshot::ssl), {Key::SSL}, [&] { s.ssl = now.ssl; }},
        {changed(&Snapshot::protocol), {Key::Protocol},
         [&] { s.protocol = now.protocol == 0 ? QStringLiteral("T") : QStringLiteral("H"); }},
        {changed(&Snapshot::hostName) && !now.hostName.isEmpty(), {Key::Host}, [&] { s.host = now.hostName; }},
        // A drive chosen from the list: the first CD-ROM drive's path goes with it.
        {changed(&Snapshot::drive) && now.drive >= 0, {Key::DriveNr, Key::CDPath}, [&] {
             s.driveNr = now.drive;
             s.cdPath = hooks_.firstCdRomDrive ? hooks_.firstCdRomDrive() : QString();
         }},
        {changed(&Snapshot::picker), {Key::CDPath}, [&] { s.cdPath = now.picker; }},
        {changed(&Snapshot::sources), {Key::Sources}, [&] { s.sources = now.sources; }},
        {changed(&Snapshot::musicBrainz), {Key::MusicBrainz}, [&] { s.musicBrainz = store::trimControl(now.musicBrainz); }},
        {changed(&Snapshot::coverArt), {Key::CoverArt}, [&] { s.coverArt = store::trimControl(now.coverArt); }},
        {changed(&Snapshot::covers), {Key::Covers}, [&] { s.covers = now.covers; }},
        {changed(&Snapshot::viewer), {Key::Viewer}, [&] { s.viewer = now.viewer; }},
        {changed(&Snapshot::labeler), {Key::Labeler}, [&] { s.labeler = now.labeler; }},
        {changed(&Snapshot::amount), {Key::Amount}, [&] { s.amount = now.amount; }},
        {changed(&Snapshot::player), {Key::Player}, [&] { s.player = now.player; }},
        {changed(&Snapshot::name), {Key::Name}, [&] {
             s.name = now.name;
             if (hooks_.setCaption) hooks_.setCaption(QStringLiteral("Albumora - ") + now.name);
         }},
    };
    bool saved = true;
    for (const Row& row : rows) {
        if (!row.take) continue;
        row.apply();
        for (Key k : row.keys) saved = file_.save(s, k) && saved;
    }
    if (!saved) {
        // The dialog stays, and a second OK writes every change again.
        if (prompts) prompts->error(file_.ini().notSavedMessage());
        return;
    }
    // What was saved is the new starting point: a second OK writes only what changes after it.
    shown_ = now;
    if (!failed) accept();
}

}  // namespace albumora::shell
