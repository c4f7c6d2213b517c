#include "Csv.h"

namespace albumora::cli {

QString CsvField(const QString& value) {
    const bool quote = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
                       value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
    if (!quote) return value;
    QString v = value;
    v.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

QString CsvLine(const QStringList& fields) {
    QStringList out;
    out.reserve(fields.size());
    for (const QString& f : fields) out << CsvField(f);
    return out.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

}  // namespace albumora::cli
