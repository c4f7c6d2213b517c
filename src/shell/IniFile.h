// The settings file in the Windows private-profile format: "[Section]" lines, "key=value"
// lines, sections and keys matched without regard to case. Every read and every write goes
// straight to the file, as the program has always done: there is no cached copy that could
// go stale while another window writes.
//
// Text is Windows-1252 with CR LF line ends. Reading a value trims the blanks around it and one
// pair of enclosing quotes; a list section is read as its lines in file order.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace albumora::shell {

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
    bool write(const QString& section, const QString& key, const QString& value);
    bool writeBool(const QString& section, const QString& key, bool value);
    bool writeInt(const QString& section, const QString& key, int value);
    bool eraseSection(const QString& section);

    // The key lines of a section in file order, as (key, text after the first "=").
    std::vector<std::pair<QString, QString>> readSection(const QString& section) const;
    QStringList sectionNames() const;

private:
    QStringList load() const;
    bool save(const QStringList& lines) const;
    QString path_;
};

}  // namespace albumora::shell
