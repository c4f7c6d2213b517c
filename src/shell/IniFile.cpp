#include "IniFile.h"

#include "Codepage.h"
#include "File.h"

#include <QFile>
#include <QFileInfo>

namespace albumora::shell {
namespace {

bool isSection(const QString& line, QString* name = nullptr) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')) || !t.contains(QLatin1Char(']'))) return false;
    if (name) *name = t.mid(1, t.indexOf(QLatin1Char(']')) - 1).trimmed();
    return true;
}

// The key of a "key=value" line, or nothing for comments and other lines.
std::optional<QString> keyOf(const QString& line) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) return std::nullopt;
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char(';'))) return std::nullopt;
    return line.left(eq).trimmed();
}

// [first, last) line range of a section's body, or nothing when absent.
std::optional<std::pair<int, int>> findSection(const QStringList& lines, const QString& section) {
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (isSection(lines[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0) {
            int end = i + 1;
            while (end < lines.size() && !isSection(lines[end])) ++end;
            return std::make_pair(i + 1, end);
        }
    }
    return std::nullopt;
}

}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

bool IniFile::exists() const { return QFileInfo(path_).isFile(); }

QStringList IniFile::load() const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = f.readAll();
    QString text = store::fromCp1252(std::string_view(bytes.constData(), size_t(bytes.size())));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

bool IniFile::save(const QStringList& lines) const {
    QString text;
    for (const QString& l : lines) text += l + QStringLiteral("\r\n");
    return store::writeFileAtomically(path_, store::toCp1252(text), false).isOk();
}

std::optional<QString> IniFile::read(const QString& section, const QString& key) const {
    const QStringList lines = load();
    auto range = findSection(lines, section);
    if (!range) return std::nullopt;
    for (int i = range->first; i < range->second; ++i) {
        auto k = keyOf(lines[i]);
        if (!k || k->compare(key, Qt::CaseInsensitive) != 0) continue;
        QString v = lines[i].mid(lines[i].indexOf(QLatin1Char('=')) + 1).trimmed();
        if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                              (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
            v = v.mid(1, v.size() - 2);
        return v;
    }
    return std::nullopt;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const {
    return read(section, key).value_or(def);
}

int IniFile::readInt(const QString& section, const QString& key, int def) const {
    auto v = read(section, key);
    if (!v) return def;
    qsizetype n = 0;
    const bool neg = v->startsWith(QLatin1Char('-'));
    qsizetype start = neg ? 1 : 0;
    qint64 value = 0;
    for (n = start; n < v->size() && v->at(n).isDigit() && n < start + 9; ++n) value = value * 10 + v->at(n).digitValue();
    return int(neg ? -value : value);
}

bool IniFile::readBool(const QString& section, const QString& key, bool def) const {
    return readInt(section, key, def ? 1 : 0) != 0;
}

bool IniFile::write(const QString& section, const QString& key, const QString& value) {
    QStringList lines = load();
    auto range = findSection(lines, section);
    const QString line = key + QLatin1Char('=') + value;
    if (!range) {
        lines << QLatin1Char('[') + section + QLatin1Char(']') << line;
        return save(lines);
    }
    for (int i = range->first; i < range->second; ++i) {
        auto k = keyOf(lines[i]);
        if (k && k->compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = line;
            return save(lines);
        }
    }
    // After the section's last non-blank line, so blank separator lines stay between sections.
    int at = range->second;
    while (at > range->first && lines[at - 1].trimmed().isEmpty()) --at;
    lines.insert(at, line);
    return save(lines);
}

bool IniFile::writeBool(const QString& section, const QString& key, bool value) {
    return write(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::writeInt(const QString& section, const QString& key, int value) {
    return write(section, key, QString::number(value));
}

bool IniFile::eraseSection(const QString& section) {
    QStringList lines = load();
    auto range = findSection(lines, section);
    if (!range) return true;
    lines.erase(lines.begin() + (range->first - 1), lines.begin() + range->second);
    return save(lines);
}

std::vector<std::pair<QString, QString>> IniFile::readSection(const QString& section) const {
    std::vector<std::pair<QString, QString>> out;
    const QStringList lines = load();
    auto range = findSection(lines, section);
    if (!range) return out;
    for (int i = range->first; i < range->second; ++i) {
        auto k = keyOf(lines[i]);
        if (!k) continue;
        out.emplace_back(*k, lines[i].mid(lines[i].indexOf(QLatin1Char('=')) + 1));
    }
    return out;
}

QStringList IniFile::sectionNames() const {
    QStringList out;
    for (const QString& l : load()) {
        QString name;
        if (isSection(l, &name)) out << name;
    }
    return out;
}

}  // namespace albumora::shell
