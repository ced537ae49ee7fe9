#include "Numbers.h"

#include <QStringList>

#include <cmath>

namespace vexo {

double roundHalfEven(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    const double lower = std::floor(scaled);
    const double fraction = scaled - lower;
    // The product carries binary noise: 0.125 * 100 may land a hair off 12.5.
    constexpr double tolerance = 1e-9;
    double rounded;
    if (std::fabs(fraction - 0.5) < tolerance)
        rounded = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
    else
        rounded = std::round(scaled);
    const double result = rounded / scale;
    return result == 0.0 ? 0.0 : result; // no negative zero
}

QString formatShortest(double value, const QLocale& locale)
{
    if (value == 0.0)
        value = 0.0;
    QLocale loc(locale);
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = loc.toString(value, 'f', 10);
    const QChar point = loc.decimalPoint().at(0);
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(point))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

double log10Of(double value)
{
    return std::log(value) / std::log(10.0);
}

bool parseIPv4(const QString& text, quint32& ipv4)
{
    // Read in place: the level monitor sends twenty times a second to a stored address.
    quint32 value = 0;
    int parts = 0;
    for (QStringView part : QStringView(text).tokenize(QLatin1Char('.'))) {
        part = part.trimmed();
        if (++parts > 4 || part.isEmpty() || part.size() > 10)
            return false;
        quint32 byte = 0;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            byte = byte * 10 + static_cast<quint32>(c.unicode() - '0');
            if (byte > 255)
                return false;
        }
        value = (value << 8) | byte;
    }
    if (parts != 4)
        return false;
    ipv4 = value;
    return true;
}

} // namespace vexo
