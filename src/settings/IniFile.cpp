#include "IniFile.h"

#include "Codepage.h"
#include "File.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace albumora::settings {
namespace {

bool isSection(const QString& line, QString* name = nullptr) {
    const QString t = store::trimControl(line);
    if (!t.startsWith(QLatin1Char('[')) || !t.contains(QLatin1Char(']'))) return false;
    if (name) *name = store::trimControl(t.mid(1, t.indexOf(QLatin1Char(']')) - 1));
    return true;
}

// The key of a "key=value" line, or nothing for comments and other lines.
std::optional<QString> keyOf(const QString& line) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) return std::nullopt;
    const QString t = store::trimControl(line);
    if (t.startsWith(QLatin1Char(';'))) return std::nullopt;
    return store::trimControl(line.left(eq));
}

std::vector<std::pair<QString, int>> indexSections(const QStringList& lines) {
    std::vector<std::pair<QString, int>> out;
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (isSection(lines[i], &name)) out.emplace_back(name, i);
    }
    return out;
}

// [first, last) line range of a section's body, or nothing when absent.
std::optional<std::pair<int, int>> findSection(const QStringList& lines, const std::vector<std::pair<QString, int>>& sections,
                                               const QString& section) {
    for (size_t s = 0; s < sections.size(); ++s) {
        if (sections[s].first.compare(section, Qt::CaseInsensitive) != 0) continue;
        const int end = s + 1 < sections.size() ? sections[s + 1].second : int(lines.size());
        return std::make_pair(sections[s].second + 1, end);
    }
    return std::nullopt;
}

}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

bool IniFile::exists() const { return QFileInfo(path_).isFile(); }

bool IniFile::readable() const { return load() != nullptr; }

const IniFile::Snapshot* IniFile::load() const {
    const QByteArray native = QFile::encodeName(path_);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            // No file reads as an empty one; the first write creates it.
            cache_.emplace();
            error_.clear();
            return &*cache_;
        }
        error_ = QStringLiteral("Cannot read %1: %2").arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        cache_.reset();
        return nullptr;
    }
    const qint64 mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (cache_ && cache_->size >= 0 && !cache_->racy && cache_->dev == quint64(st.st_dev) && cache_->ino == quint64(st.st_ino) &&
        cache_->size == qint64(st.st_size) && cache_->mtimeNs == mtimeNs)
        return &*cache_;
    QFile f(path_);
    QByteArray bytes;
    bool ok = f.open(QIODevice::ReadOnly);
    if (ok) {
        bytes = f.readAll();
        ok = f.error() == QFileDevice::NoError;
    }
    if (!ok) {
        error_ = QStringLiteral("Cannot read %1: %2").arg(path_, f.errorString());
        cache_.reset();
        return nullptr;
    }
    Snapshot snap;
    QString text = store::fromCp1252(std::string_view(bytes.constData(), size_t(bytes.size())));
    bytes.clear();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    snap.lines = text.split(QLatin1Char('\n'));
    if (!snap.lines.isEmpty() && snap.lines.last().isEmpty()) snap.lines.removeLast();
    snap.sections = indexSections(snap.lines);
    // Stamped with the stat taken before the read: a write that lands meanwhile changes the
    // stamp, and the next read reads the file again.
    snap.dev = quint64(st.st_dev);
    snap.ino = quint64(st.st_ino);
    snap.size = qint64(st.st_size);
    snap.mtimeNs = mtimeNs;
    // File times advance in clock ticks, so a write in the same tick as the one read would
    // leave the stamp unchanged: a file changed within the last second is read every time.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    snap.racy = mtimeNs >= (qint64(now.tv_sec) - 1) * 1000000000 + now.tv_nsec;
    cache_ = std::move(snap);
    error_.clear();
    return &*cache_;
}

bool IniFile::save(const QStringList& lines) {
    QString text;
    for (const QString& l : lines) text += l + QStringLiteral("\r\n");
    const store::Status st = store::writeFileAtomically(path_, store::toCp1252(text), false);
    cache_.reset();
    if (!st) {
        error_ = st.text();
        return false;
    }
    return true;
}

std::optional<QString> IniFile::read(const QString& section, const QString& key) const {
    const Snapshot* snap = load();
    if (!snap) return std::nullopt;
    const QStringList& lines = snap->lines;
    auto range = findSection(lines, snap->sections, section);
    if (!range) return std::nullopt;
    for (int i = range->first; i < range->second; ++i) {
        auto k = keyOf(lines[i]);
        if (!k || k->compare(key, Qt::CaseInsensitive) != 0) continue;
        QString v = store::trimControl(lines[i].mid(lines[i].indexOf(QLatin1Char('=')) + 1));
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
    const Snapshot* snap = load();
    if (!snap) return false;
    QStringList lines = snap->lines;
    auto range = findSection(lines, snap->sections, section);
    const QString line = key + QLatin1Char('=') + value;
    if (!range) {
        lines << QLatin1Char('[') + section + QLatin1Char(']') << line;
        return save(lines);
    }
    for (int i = range->first; i < range->second; ++i) {
        auto k = keyOf(lines[i]);
        if (k && k->compare(key, Qt::CaseInsensitive) == 0) {
            if (lines[i] == line) return true;
            lines[i] = line;
            return save(lines);
        }
    }
    // After the section's last non-blank line, so blank separator lines stay between sections.
    int at = range->second;
    while (at > range->first && store::trimControl(lines[at - 1]).isEmpty()) --at;
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
    const Snapshot* snap = load();
    if (!snap) return false;
    auto range = findSection(snap->lines, snap->sections, section);
    if (!range) return true;
    QStringList lines = snap->lines;
    lines.erase(lines.begin() + (range->first - 1), lines.begin() + range->second);
    return save(lines);
}

std::vector<std::pair<QString, QString>> IniFile::readSection(const QString& section) const {
    std::vector<std::pair<QString, QString>> out;
    const Snapshot* snap = load();
    if (!snap) return out;
    const QStringList& lines = snap->lines;
    auto range = findSection(lines, snap->sections, section);
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
    const Snapshot* snap = load();
    if (!snap) return out;
    for (const auto& s : snap->sections) out << s.first;
    return out;
}

}  // namespace albumora::settings
