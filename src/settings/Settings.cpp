#include "Codepage.h"
#include "Settings.h"

#include <QDir>

#include <variant>

namespace albumora::settings {

const QStringList& firstRunGenres() {
    static const QStringList g = {QStringLiteral("blues"),   QStringLiteral("rock"),      QStringLiteral("misc"),
                                  QStringLiteral("classical"), QStringLiteral("country"), QStringLiteral("data"),
                                  QStringLiteral("folk"),    QStringLiteral("jazz"),      QStringLiteral("newage"),
                                  QStringLiteral("reggae"),  QStringLiteral("soundtrack")};
    return g;
}

const std::vector<std::pair<QString, QString>>& firstRunMedia() {
    static const std::vector<std::pair<QString, QString>> m = {
        {QStringLiteral("<no copy>"), QStringLiteral("  ")},
        {QStringLiteral("CD-R"), QStringLiteral("CR (CD-R)")},
        {QStringLiteral("Cassette"), QStringLiteral("CS (cassette)")},
        {QStringLiteral("CD-RW"), QStringLiteral("CW (CD-RW)")},
        {QStringLiteral("DAD"), QStringLiteral("DA (DAD Audio)")},
        {QStringLiteral("DTS"), QStringLiteral("DS (DTS Audio)")},
        {QStringLiteral("DAT"), QStringLiteral("DT (DAT tape)")},
        {QStringLiteral("DVD"), QStringLiteral("DV (DVD)")},
        {QStringLiteral("MiniDisc"), QStringLiteral("MD (minidisc)")},
        {QStringLiteral("iPod"), QStringLiteral("IP (iPod)")},
        {QStringLiteral("Local"), QStringLiteral("LD (local drive)")},
        {QStringLiteral("Playlist"), QStringLiteral("PL (playlist)")},
        {QStringLiteral("Remote"), QStringLiteral("RD (remote drive)")},
        {QStringLiteral("SACD"), QStringLiteral("SA (SuperAudio)")},
        {QStringLiteral("Vinyl"), QStringLiteral("VL (vinyl)")},
        {QStringLiteral("Video"), QStringLiteral("VT (video)")},
        {QStringLiteral("Other"), QStringLiteral("OT (other)")},
    };
    return m;
}

namespace {
const QString kCurrent = QStringLiteral("Current");

// Every key of [Current] with the member that holds it: reading, the first run and each save
// go through this one table, so a key's name and form are written down once.
struct Row {
    Key key;
    const char* name;
    std::variant<QString RunSettings::*, int RunSettings::*, bool RunSettings::*> member;
};
const Row kRows[] = {
    {Key::Host, "Host", &RunSettings::host},         {Key::Protocol, "Protocol", &RunSettings::protocol},
    {Key::CDPath, "CDPath", &RunSettings::cdPath},   {Key::DriveNr, "DriveNr", &RunSettings::driveNr},
    {Key::Hint, "Hint", &RunSettings::hint},         {Key::Art, "Art", &RunSettings::art},
    {Key::SSL, "SSL", &RunSettings::ssl},            {Key::Genre, "Genre", &RunSettings::genre},
    {Key::ClipsDir, "ClipsDir", &RunSettings::clipsDir}, {Key::Viewer, "Viewer", &RunSettings::viewer},
    {Key::Labeler, "Labeler", &RunSettings::labeler}, {Key::Player, "Player", &RunSettings::player},
    {Key::Name, "Name", &RunSettings::name},         {Key::Amount, "Amount", &RunSettings::amount},
    {Key::Mail, "Mail", &RunSettings::mail},         {Key::Server, "Server", &RunSettings::server},
    {Key::WState, "WState", &RunSettings::wstate},   {Key::Sources, "Sources", &RunSettings::sources},
    {Key::MusicBrainz, "MusicBrainz", &RunSettings::musicBrainz}, {Key::CoverArt, "CoverArt", &RunSettings::coverArt},
    {Key::Covers, "Covers", &RunSettings::covers},
};

const Row& rowOf(Key key) {
    for (const Row& r : kRows)
        if (r.key == key) return r;
    Q_UNREACHABLE();
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

bool writeRow(IniFile& ini, const Row& r, const RunSettings& s) {
    const QString key = QString::fromLatin1(r.name);
    return std::visit(Overloaded{[&](QString RunSettings::*m) { return ini.write(kCurrent, key, s.*m); },
                                 [&](int RunSettings::*m) { return ini.writeInt(kCurrent, key, s.*m); },
                                 [&](bool RunSettings::*m) { return ini.writeBool(kCurrent, key, s.*m); }},
                      r.member);
}

// Reads the row into s, the value s holds being the default.
void readRow(const IniFile& ini, const Row& r, RunSettings& s) {
    const QString key = QString::fromLatin1(r.name);
    std::visit(Overloaded{[&](QString RunSettings::*m) { s.*m = ini.readString(kCurrent, key, s.*m); },
                          [&](int RunSettings::*m) { s.*m = ini.readInt(kCurrent, key, s.*m); },
                          [&](bool RunSettings::*m) { s.*m = ini.readBool(kCurrent, key, s.*m); }},
               r.member);
}

QString firstRunUrl(const QString& key) {
    if (key == QLatin1String("Amazon")) return QStringLiteral("https://www.amazon.com/gp/bestsellers/music");
    if (key == QLatin1String("AMG")) return QStringLiteral("https://www.allmusic.com/");
    if (key == QLatin1String("Freedb")) return QStringLiteral("https://gnudb.org/");
    return QStringLiteral("https://freedb.freac.org/");
}
}  // namespace

QString keyName(Key key) { return QString::fromLatin1(rowOf(key).name); }

bool SettingsFile::save(const RunSettings& s, Key key) { return writeRow(ini_, rowOf(key), s); }

QString SettingsFile::defaultUrl(const QString& key) { return firstRunUrl(key); }

SettingsFile::SettingsFile(const QString& programFolder)
    : folder_(QDir(programFolder).absolutePath() + QLatin1Char('/')),
      ini_(QDir(programFolder).absoluteFilePath(kSettingsFileName)) {}

bool SettingsFile::writeFirstRun(const QString& firstCdRomDrive, const QString& player) {
    bool ok = true;
    for (const QString& k : {QStringLiteral("Amazon"), QStringLiteral("AMG"), QStringLiteral("Freedb"), QStringLiteral("Tracktype")})
        ok = ini_.write(QStringLiteral("URL"), k, firstRunUrl(k)) && ok;
    // The first run's values, in the order the program always wrote them.
    RunSettings first;
    first.cdPath = firstCdRomDrive;
    first.clipsDir = folder_;
    first.player = player;
    first.protocol = QStringLiteral("H");
    for (Key k : {Key::Host, Key::CDPath, Key::Hint, Key::Art, Key::SSL, Key::Genre, Key::ClipsDir, Key::Viewer, Key::Labeler,
                  Key::Player, Key::Name, Key::Protocol, Key::WState})
        ok = save(first, k) && ok;
    const QStringList& genres = firstRunGenres();
    for (int i = 0; i < genres.size(); ++i) {
        if (store::trimControl(genres[i]).isEmpty()) continue;
        const QString key = QStringLiteral("Genre%1").arg(i + 1);
        ok = ini_.write(QStringLiteral("Genre"), key, genres[i]) && ok;
        ok = ini_.write(QStringLiteral("Official"), key, genres[i]) && ok;
    }
    ok = ini_.write(QStringLiteral("Site"), QStringLiteral("Site1"), kPrimaryHost) && ok;
    for (const auto& [k, v] : firstRunMedia()) ok = ini_.write(QStringLiteral("Media"), k, v) && ok;
    return ok;
}

RunSettings SettingsFile::read(const std::function<QString()>& firstCdRomDrive) const {
    RunSettings s;
    s.programFolder = folder_;
    s.settingsPath = ini_.path();
    s.urlAmazon = ini_.readString(QStringLiteral("URL"), QStringLiteral("Amazon"), firstRunUrl(QStringLiteral("Amazon")));
    s.urlAmg = ini_.readString(QStringLiteral("URL"), QStringLiteral("AMG"), firstRunUrl(QStringLiteral("AMG")));
    s.urlFreedb = ini_.readString(QStringLiteral("URL"), QStringLiteral("Freedb"), firstRunUrl(QStringLiteral("Freedb")));
    s.urlTracktype = ini_.readString(QStringLiteral("URL"), QStringLiteral("Tracktype"), firstRunUrl(QStringLiteral("Tracktype")));
    s.clipsDir = folder_;
    for (const Row& r : kRows)
        if (r.key != Key::CDPath) readRow(ini_, r, s);
    // A host name this short cannot be real: the primary host is used, the file stays as it is.
    if (store::trimControl(s.host).size() < 4) s.host = kPrimaryHost;
    if (auto cd = ini_.read(kCurrent, keyName(Key::CDPath)))
        s.cdPath = *cd;
    else if (firstCdRomDrive)
        s.cdPath = firstCdRomDrive();
    for (const auto& [k, v] : ini_.readSection(QStringLiteral("Official"))) {
        const QString g = store::trimControl(v.left(255));
        if (!g.isEmpty()) s.officialGenres << g;
    }
    return s;
}

QStringList SettingsFile::genreList() const {
    QStringList out;
    for (const auto& [k, v] : ini_.readSection(QStringLiteral("Genre"))) {
        const QString g = store::trimControl(v.left(255));
        if (!g.isEmpty()) out << g;
    }
    return out;
}

QStringList SettingsFile::mediaList() const {
    QStringList out;
    for (const auto& [k, v] : ini_.readSection(QStringLiteral("Media"))) out << store::trimControl(v.left(255));
    return out;
}

bool SettingsFile::writeGenreList(const QStringList& genres) {
    bool ok = ini_.eraseSection(QStringLiteral("Genre"));
    for (int i = 0; i < genres.size(); ++i) ok = ini_.write(QStringLiteral("Genre"), QStringLiteral("Genre%1").arg(i + 1), genres[i]) && ok;
    return ok;
}

}  // namespace albumora::settings
