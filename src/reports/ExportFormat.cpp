#include "ExportFormat.h"

namespace albumora::reports {

QString CsvHeader(const QStringList& names) {
    QString out;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (i) out += QLatin1Char(',');
        const QString& n = names[i];
        out += QLatin1Char('"') + (n.startsWith(QLatin1Char('x')) ? QStringLiteral("Marked") : n) + QLatin1Char('"');
    }
    return out;
}

QString CsvRow(const QStringList& values) {
    QString out;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i) out += QLatin1Char(',');
        QString v = values[i];
        v.replace(QLatin1Char('"'), QLatin1Char('\''));
        out += QLatin1Char('"') + v + QLatin1Char('"');
    }
    return out + kLineEnd;
}

QStringList XmlHead() {
    return {QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>"), QStringLiteral("<DATAPACKET Version=\"2.0\">"),
            QStringLiteral("<METADATA>"), QStringLiteral("<FIELDS>")};
}

QStringList XmlMiddle() { return {QStringLiteral("</FIELDS>"), QStringLiteral("</METADATA>"), QStringLiteral("<ROWDATA>")}; }

QStringList XmlTail() { return {QStringLiteral("</ROWDATA>"), QStringLiteral("</DATAPACKET>")}; }

QString XmlField(const QString& name, const QString& label, XmlType type) {
    const QString t = type == XmlType::Integer ? QStringLiteral("Integer") : type == XmlType::Float ? QStringLiteral("Float")
                                                                                                    : QStringLiteral("String");
    return QStringLiteral("<FIELD FieldName=\"") + XmlText(name) + QStringLiteral("\" DisplayLabel=\"") + XmlText(label) +
           QStringLiteral("\" FieldType=\"") + t + QStringLiteral("\" FieldClass=\"TField\"/>");
}

QString XmlRow(const std::vector<std::pair<QString, QString>>& attributes) {
    QString out = QStringLiteral("<ROW ");
    for (const auto& [name, value] : attributes) out += name + QStringLiteral("=\"") + XmlText(value) + QStringLiteral("\" ");
    return out + QStringLiteral("/>");
}

QString XmlClean(const QString& value, int position) {
    if (position > 2) return value;
    QString v = value;
    v.replace(QLatin1Char('&'), QStringLiteral("and"));
    v.remove(QLatin1Char('"'));
    return v;
}

QString XmlText(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        switch (u) {
        case '&': out += QStringLiteral("&amp;"); break;
        case '<': out += QStringLiteral("&lt;"); break;
        case '>': out += QStringLiteral("&gt;"); break;
        case '"': out += QStringLiteral("&quot;"); break;
        case '\t': out += QStringLiteral("&#9;"); break;
        case '\n': out += QStringLiteral("&#10;"); break;
        case '\r': out += QStringLiteral("&#13;"); break;
        default:
            if (u < 0x20 || u == 0x7F)
                out += QLatin1Char('?');
            else if (u > 0x7E)
                out += QStringLiteral("&#%1;").arg(int(u));
            else
                out += c;
        }
    }
    return out;
}

QString HtmlText(const QString& value) { return value.toHtmlEscaped(); }

}  // namespace albumora::reports
