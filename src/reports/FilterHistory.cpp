#include "FilterHistory.h"

#include "Codepage.h"
#include "File.h"

#include <QFile>

namespace albumora::reports {

FilterHistory::FilterHistory(QString path) : path_(std::move(path)) {}

void FilterHistory::load() {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = f.readAll();
    QString text = store::fromCp1252(std::string_view(bytes.constData(), size_t(bytes.size())));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    items_ = lines;
}

void FilterHistory::add(const QString& text) {
    if (text.trimmed().isEmpty()) return;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (items_[i].compare(text, Qt::CaseInsensitive) == 0) {
            items_.move(i, 0);
            return;
        }
    }
    items_.prepend(text);
}

bool FilterHistory::write() const {
    QString text;
    for (const QString& l : items_) text += l + QStringLiteral("\r\n");
    return store::writeFileAtomically(path_, store::toCp1252(text), false).isOk();
}

bool FilterHistory::save() {
    while (items_.size() > kKept) items_.removeLast();
    return write();
}

bool FilterHistory::remove(const QString& text) {
    if (text.isEmpty()) return false;
    const qsizetype i = items_.indexOf(text);
    if (i < 0) return false;
    items_.removeAt(i);
    write();
    return true;
}

}  // namespace albumora::reports
