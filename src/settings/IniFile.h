// The settings file in the Windows private-profile format: "[Section]" lines, "key=value"
// lines, sections and keys matched without regard to case. Every read sees the file as it is
// on disk now, whoever wrote it last: the parsed copy kept between reads is used only while
// the file's inode, size and modification time are those it was read with, so a large file is
// read once and not once per setting.
//
// A file that exists but cannot be read is never written over: the write is refused, since
// writing what could be read (nothing) would wipe every other setting.
//
// Text is Windows-1252 with CR LF line ends. Reading a value trims the blanks around it and one
// pair of enclosing quotes; a list section is read as its lines in file order.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace albumora::settings {

class IniFile {
public:
    explicit IniFile(QString path);
    const QString& path() const { return path_; }
    bool exists() const;

    std::optional<QString> read(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key, const QString& def = {}) const;
    // The leading decimal digits of the value (0 when it has none); def when the key is absent.
    int readInt(const QString& section, const QString& key, int def) const;
    // True when the stored integer is not 0.
    bool readBool(const QString& section, const QString& key, bool def) const;

    // Replaces the key's line, or adds it at the end of its section (creating the section and
    // the file as needed). Returns false when the file cannot be written.
    [[nodiscard]] bool write(const QString& section, const QString& key, const QString& value);
    [[nodiscard]] bool writeBool(const QString& section, const QString& key, bool value);
    [[nodiscard]] bool writeInt(const QString& section, const QString& key, int value);
    [[nodiscard]] bool eraseSection(const QString& section);

    // The key lines of a section in file order, as (key, text after the first "=").
    std::vector<std::pair<QString, QString>> readSection(const QString& section) const;
    QStringList sectionNames() const;

    // False after a read that found the file but could not read it; the reason is in
    // lastError().
    bool readable() const;
    const QString& lastError() const { return error_; }
    // What the user is told when a write failed.
    QString notSavedMessage() const { return QStringLiteral("The settings could not be saved:\r") + error_; }

private:
    struct Snapshot {
        QStringList lines;
        // Upper-cased section name and the index of its header line, in file order.
        std::vector<std::pair<QString, int>> sections;
        quint64 dev = 0, ino = 0;
        qint64 size = -1, mtimeNs = 0;
        bool racy = true;
    };
    // The file's lines, or nothing when it exists and cannot be read.
    const Snapshot* load() const;
    bool save(const QStringList& lines);
    QString path_;
    mutable std::optional<Snapshot> cache_;
    mutable QString error_;
};

}  // namespace albumora::settings
