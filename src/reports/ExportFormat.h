// The export conventions the report writer and the tracks view share: CSV header and data rows,
// the XML data packet's head, field lines, rows and tail, and the cleaning of XML values. Lines
// end with CR LF; text is Windows-1252 (XML keeps to ASCII, see XmlText).
#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace albumora::reports {

inline const QString kLineEnd = QStringLiteral("\r\n");

// Every name in double quotes, comma separated; a name beginning with "x" (the tracks view's
// marked column) is headed "Marked". No line end.
QString CsvHeader(const QStringList& names);
// Every value in double quotes, comma separated, its double quotes turned into apostrophes;
// ends with CR LF.
QString CsvRow(const QStringList& values);

enum class XmlType { String, Integer, Float };
// The lines before the field lines, between them and the rows, and after the rows.
QStringList XmlHead();
QStringList XmlMiddle();
QStringList XmlTail();
QString XmlField(const QString& name, const QString& label, XmlType type);
// "<ROW " name="value" ... "/>" with the values as given (XmlText is applied here); no line end.
QString XmlRow(const std::vector<std::pair<QString, QString>>& attributes);

// The value cleaning of the data packet: in the first three columns (position 0, 1, 2) every "&"
// becomes "and" and every double quote goes; later columns keep their text.
QString XmlClean(const QString& value, int position);
// A value as an attribute holds it, so that every XML reader takes the file: "&", "<", ">" and
// double quotes as entities, line ends and tabs as character references (a memo keeps its
// lines), other control characters (which XML cannot hold at all) as "?", and everything
// beyond ASCII as a character reference, since the declaration names no encoding.
QString XmlText(const QString& value);

// A value written into the web page: "&", "<", ">" and double quotes as entities.
QString HtmlText(const QString& value);

}  // namespace albumora::reports
