#include "moneyFuncs.h"

namespace albumora::money {

bool IsAmountText(const QString& text) {
    for (QChar c : text)
        if (c != QLatin1Char('.') && (c < QLatin1Char('0') || c > QLatin1Char('9'))) return false;
    return true;
}

std::optional<qint64> ToCents(const QString& raw) {
    const QString text = raw.trimmed();
    if (text.isEmpty()) return 0;
    if (!IsAmountText(text) || text.count(QLatin1Char('.')) > 1 || text == QLatin1String(".")) return std::nullopt;
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? text : text.left(dot);
    QString frac = dot < 0 ? QString() : text.mid(dot + 1);
    if (whole.size() > 15) return std::nullopt;
    qint64 cents = whole.isEmpty() ? 0 : whole.toLongLong() * 100;
    frac += QStringLiteral("000");
    cents += frac.left(2).toLongLong();
    if (frac.at(2) >= QLatin1Char('5')) ++cents;
    return cents;
}

QString FormatCents(qint64 cents) {
    const bool neg = cents < 0;
    const qint64 a = neg ? -cents : cents;
    return QStringLiteral("%1%2.%3").arg(neg ? QStringLiteral("-") : QString()).arg(a / 100).arg(a % 100, 2, 10, QLatin1Char('0'));
}

}  // namespace albumora::money
