#include "Codepage.h"
#include "Settings.h"

#include <QDir>
#include <QHostInfo>
#include <QRegularExpression>
#include <QUrl>

namespace albumora::shell {

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

QString firstRunUrl(const QString& key) {
    if (key == QLatin1String("Amazon")) return QStringLiteral("https://www.amazon.com/gp/bestsellers/music");
    if (key == QLatin1String("AMG")) return QStringLiteral("https://www.allmusic.com/");
    if (key == QLatin1String("Freedb")) return QStringLiteral("https://gnudb.org/");
    return QStringLiteral("https://freedb.freac.org/");
}
}  // namespace

QString SettingsFile::defaultUrl(const QString& key) { return firstRunUrl(key); }

SettingsFile::SettingsFile(const QString& programFolder)
    : folder_(QDir(programFolder).absolutePath() + QLatin1Char('/')),
      ini_(QDir(programFolder).absoluteFilePath(kSettingsFileName)) {}

bool SettingsFile::writeFirstRun(const QString& firstCdRomDrive, const QString& player) {
    bool ok = true;
    for (const QString& k : {QStringLiteral("Amazon"), QStringLiteral("AMG"), QStringLiteral("Freedb"), QStringLiteral("Tracktype")})
        ok = ini_.write(QStringLiteral("URL"), k, firstRunUrl(k)) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Host"), kPrimaryHost) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("CDPath"), firstCdRomDrive) && ok;
    ok = ini_.writeBool(kCurrent, QStringLiteral("Hint"), true) && ok;
    ok = ini_.writeBool(kCurrent, QStringLiteral("Art"), false) && ok;
    ok = ini_.writeBool(kCurrent, QStringLiteral("SSL"), false) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Genre"), QString()) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("ClipsDir"), folder_) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Viewer"), QString()) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Labeler"), QString()) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Player"), player) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Name"), QStringLiteral("Music Collection Manager")) && ok;
    ok = ini_.write(kCurrent, QStringLiteral("Protocol"), QStringLiteral("H")) && ok;
    ok = ini_.writeInt(kCurrent, QStringLiteral("WState"), 1) && ok;
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
    s.host = ini_.readString(kCurrent, QStringLiteral("Host"), kPrimaryHost);
    // A host name this short cannot be real: the primary host is used, the file stays as it is.
    if (store::trimControl(s.host).size() < 4) s.host = kPrimaryHost;
    s.hint = ini_.readBool(kCurrent, QStringLiteral("Hint"), true);
    s.art = ini_.readBool(kCurrent, QStringLiteral("Art"), false);
    s.ssl = ini_.readBool(kCurrent, QStringLiteral("SSL"), false);
    s.mail = ini_.readString(kCurrent, QStringLiteral("Mail"));
    s.server = ini_.readString(kCurrent, QStringLiteral("Server"));
    s.genre = ini_.readString(kCurrent, QStringLiteral("Genre"));
    s.clipsDir = ini_.readString(kCurrent, QStringLiteral("ClipsDir"), folder_);
    s.viewer = ini_.readString(kCurrent, QStringLiteral("Viewer"));
    s.labeler = ini_.readString(kCurrent, QStringLiteral("Labeler"));
    s.player = ini_.readString(kCurrent, QStringLiteral("Player"));
    s.name = ini_.readString(kCurrent, QStringLiteral("Name"), QStringLiteral("Music Collection Manager"));
    s.amount = ini_.readString(kCurrent, QStringLiteral("Amount"), QStringLiteral("15.00"));
    s.protocol = ini_.readString(kCurrent, QStringLiteral("Protocol"), QStringLiteral("T"));
    s.driveNr = ini_.readInt(kCurrent, QStringLiteral("DriveNr"), 0);
    if (auto cd = ini_.read(kCurrent, QStringLiteral("CDPath")))
        s.cdPath = *cd;
    else if (firstCdRomDrive)
        s.cdPath = firstCdRomDrive();
    s.wstate = ini_.readInt(kCurrent, QStringLiteral("WState"), 1);
    for (const auto& [k, v] : ini_.readSection(QStringLiteral("Official"))) {
        const QString g = store::trimControl(v.left(255));
        if (!g.isEmpty()) s.officialGenres << g;
    }
    composeGreetings(s);
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

void composeGreetings(RunSettings& s) {
    QString host = QHostInfo::localHostName();
    if (host.isEmpty()) host = QStringLiteral("localhost");
    // The greeting is one protocol line: no blanks, no line breaks.
    host.replace(QLatin1Char(' '), QLatin1Char('_')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    s.clientHost = host;
    // The public CD database turns anonymous clients away and asks for the user's address, split
    // at its "@" into the hello's user and host words. Without a usable address the client stays
    // anonymous, as private servers accept.
    QString user = QStringLiteral("anonymous");
    QString userHost = host;
    const QString mail = store::trimControl(s.mail);
    const qsizetype at = mail.indexOf(QLatin1Char('@'));
    static const QRegularExpression word(QStringLiteral("^[!-~]+$"));  // printable ASCII, no blank
    if (at > 0 && at == mail.lastIndexOf(QLatin1Char('@')) && at < mail.size() - 1 && word.match(mail).hasMatch()) {
        user = mail.left(at);
        userHost = mail.mid(at + 1);
    }
    const auto enc = [](const QString& w) { return QString::fromLatin1(QUrl::toPercentEncoding(w)); };
    s.httpTail = QStringLiteral("&hello=") + enc(user) + QLatin1Char('+') + enc(userHost) + QStringLiteral("+Albumora+") +
                 kProductVersion + QStringLiteral("&proto=5");
    s.cddbpHello = QStringLiteral("cddb hello ") + user + QLatin1Char(' ') + userHost + QStringLiteral(" Albumora ") + kProductVersion;
}

}  // namespace albumora::shell
