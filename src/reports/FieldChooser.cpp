#include "FieldChooser.h"

#include <algorithm>

namespace albumora::reports {

FieldChooser FieldChooser::forAlbums(const QStringList& albumFields, OutputKind kind, bool withTracks) {
    FieldChooser c;
    for (const QString& f : albumFields) {
        const QString u = f.toUpper();
        if (u == QLatin1String("ALBUM") || u == QLatin1String("ARTIST") || (u == QLatin1String("ID") && withTracks))
            c.output_ << f;
        else if (u == QLatin1String("REV") || u == QLatin1String("SYS"))
            continue;
        else if (u == QLatin1String("NOTES") && kind == OutputKind::Csv)
            continue;  // a memo with line ends does not make a CSV column
        else
            c.available_ << f;
    }
    c.available_ << QStringLiteral("COST") << QStringLiteral("VALUE");
    return c;
}

FieldChooser FieldChooser::forTracks(const QStringList& viewFields) {
    FieldChooser c;
    c.tracks_ = true;
    const qsizetype offered = std::max<qsizetype>(0, viewFields.size() - 2);
    for (qsizetype i = 0; i < offered; ++i) {
        const QString u = viewFields[i].toUpper();
        if (u == QLatin1String("TRACK") || u == QLatin1String("ALBUM") || u == QLatin1String("ARTIST"))
            c.output_ << viewFields[i];
        else
            c.available_ << viewFields[i];
    }
    c.available_ << QStringLiteral("marked");
    return c;
}

namespace {
int move(QStringList& from, QStringList& to, std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int r) { return r < 0 || r >= from.size(); }), rows.end());
    const int firstSelected = rows.empty() ? 0 : rows.front();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) to << from.takeAt(*it);
    if (from.isEmpty()) return -1;
    return std::min<int>(firstSelected, int(from.size()) - 1);
}
}  // namespace

int FieldChooser::include(std::vector<int> rows) { return move(available_, output_, std::move(rows)); }
int FieldChooser::exclude(std::vector<int> rows) { return move(output_, available_, std::move(rows)); }

void FieldChooser::includeAll() {
    output_ += available_;
    available_.clear();
}

void FieldChooser::excludeAll() {
    available_ += output_;
    output_.clear();
}

int FieldChooser::up(int row) {
    if (row <= 0 || row >= output_.size()) return row;
    output_.swapItemsAt(row, row - 1);
    return row - 1;
}

int FieldChooser::down(int row) {
    if (row < 0 || row >= output_.size() - 1) return row;
    output_.swapItemsAt(row, row + 1);
    return row + 1;
}

std::optional<QStringList> FieldChooser::accept() const {
    if (output_.isEmpty()) return std::nullopt;
    QStringList out = output_;
    if (tracks_)
        for (QString& f : out)
            if (f.startsWith(QLatin1Char('m'))) {
                f = QStringLiteral("x");
                break;
            }
    return out;
}

}  // namespace albumora::reports
