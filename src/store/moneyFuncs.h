// Amounts of the notes (purchase cost, current value): digits and "." only, no currency sign.
#pragma once

#include <QString>

#include <optional>

namespace albumora::money {

// The check of the notes editor: every character a digit or ".".
bool IsAmountText(const QString& text);
// The amount in cents, rounded half up; nothing for text that is not a decimal number
// (two points, no digits). An empty amount is 0.
std::optional<qint64> ToCents(const QString& text);
// Cents as text with two decimals ("12.50").
QString FormatCents(qint64 cents);

}  // namespace albumora::money
