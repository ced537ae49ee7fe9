#pragma once

#include <QLocale>
#include <QString>

namespace vexo {

// Rounds to the given number of decimals; a value exactly halfway goes to the even digit.
double roundHalfEven(double value, int decimals);

// Shortest decimal form: minus sign for negatives, no trailing zeros, no digit grouping, the
// decimal separator of the given locale (the user's by default).
QString formatShortest(double value, const QLocale& locale = QLocale());

// Natural logarithm of the value divided by that of 10.
double log10Of(double value);

} // namespace vexo
