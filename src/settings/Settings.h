// The settings file Albumora.ini and the run-time settings every window reads: written once
// with first-run defaults, then read at start-up, updated by the options dialog and saved in
// part at shutdown.
#pragma once

#include "IniFile.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace albumora::settings {

inline const QString kPrimaryHost = QStringLiteral("gnudb.gnudb.org");
// An HTTP-only mirror of the CD database.
inline const QString kAlternateHost = QStringLiteral("freedb.freac.org");
inline const QString kSettingsFileName = QStringLiteral("Albumora.ini");

// The first-run genre list, which is also the CD database's official list of categories.
const QStringList& firstRunGenres();
// The first-run media list: (key, value); a value's first two characters are its media code.
const std::vector<std::pair<QString, QString>>& firstRunMedia();

struct RunSettings {
    QString host = kPrimaryHost;
    QString protocol = QStringLiteral("T");
    QString cdPath;
    int driveNr = 0;
    bool hint = true;
    bool art = false;
    bool ssl = false;
    QString genre;
    QString clipsDir;
    QString viewer;
    QString labeler;
    QString player;
    QString name = QStringLiteral("Music Collection Manager");
    QString amount = QStringLiteral("15.00");
    QString mail;
    QString server;
    int wstate = 1;
    // Where a disc is looked up, in order: "cddb,musicbrainz" asks the CD database and, when it
    // has no match or cannot be reached, MusicBrainz; "+" between two asks both and offers their
    // matches together.
    QString sources = QStringLiteral("cddb,musicbrainz");
    // The web services' base addresses (a mirror, or a test server on loopback).
    QString musicBrainz = QStringLiteral("https://musicbrainz.org");
    QString coverArt = QStringLiteral("https://coverartarchive.org");
    // Front covers of MusicBrainz releases are fetched into the data folder's covers folder.
    bool covers = true;

    QString urlAmazon, urlAmg, urlFreedb, urlTracktype;
    QStringList officialGenres;

    QString programFolder;  // the data folder, ending with "/"
    QString settingsPath;

    bool isHttp() const { return protocol.startsWith(QLatin1Char('H')); }
};

// The keys of section [Current], each held by one member of RunSettings.
enum class Key { Host, Protocol, CDPath, DriveNr, Hint, Art, SSL, Genre, ClipsDir, Viewer, Labeler, Player, Name, Amount, Mail, Server, WState,
                 Sources, MusicBrainz, CoverArt, Covers };
QString keyName(Key key);

class SettingsFile {
public:
    explicit SettingsFile(const QString& programFolder);
    IniFile& ini() { return ini_; }
    const QString& path() const { return ini_.path(); }

    // Writes the first-run defaults, in the order the program always wrote them.
    [[nodiscard]] bool writeFirstRun(const QString& firstCdRomDrive, const QString& player);
    // Reads every value, applying defaults and the rule for a too short host name.
    RunSettings read(const std::function<QString()>& firstCdRomDrive) const;

    // Writes the value the settings hold for the key, in the key's own form (text, number, 0/1).
    [[nodiscard]] bool save(const RunSettings& s, Key key);

    QStringList genreList() const;  // section Genre, trimmed entries, blanks left out
    QStringList mediaList() const;  // section Media in file order, trimmed entries (blank kept)
    // Replaces the section Genre with the list, keys numbered from 1.
    [[nodiscard]] bool writeGenreList(const QStringList& genres);

    // The web addresses used when a URL key is missing.
    static QString defaultUrl(const QString& key);

private:
    QString folder_;
    mutable IniFile ini_;
};

}  // namespace albumora::settings
