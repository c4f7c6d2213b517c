// RFC 4180 CSV: fields quoted when they hold a comma, a quote or a line break; CRLF line ends.
#pragma once

#include <QString>
#include <QStringList>

namespace albumora::cli {

QString CsvField(const QString& value);
QString CsvLine(const QStringList& fields);

}  // namespace albumora::cli
