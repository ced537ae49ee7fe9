#include "ValueRules.h"

#include "platform/Numbers.h"
#include "store/ElementStore.h"

namespace vexo {

QString attenuationText(int position, const QLocale& locale)
{
    if (position == kAttenMin)
        return QStringLiteral("Mute");
    return formatShortest((position - 255) * 0.5, locale) + QStringLiteral(" dB");
}

QString latencyText(int position, bool gpsdoVariant, bool sfnEnabled, const QLocale& locale)
{
    const double offset = (gpsdoVariant || sfnEnabled) ? 2.5 : 5.0;
    return formatShortest(position * 2.5 + offset, locale) + QStringLiteral("mS");
}

QString encoderLatencyText()
{
    return QStringLiteral("2.5mS");
}

QString thresholdText(int position, const QLocale& locale)
{
    const double dbu = 20.0 * log10Of(position * 2.04870129870129) - 56.0;
    return formatShortest(roundHalfEven(dbu, 1), locale) + QStringLiteral("dBu");
}

QString timeoutText(int position, const QLocale& locale)
{
    return formatShortest(roundHalfEven(position * 0.455104166666667, 1), locale) + QStringLiteral("Sec");
}

AddressLook addressLook(const QString& text)
{
    if (text.isEmpty() || isValidIp(text))
        return AddressLook::Normal;
    return AddressLook::Invalid;
}

bool statisticsAvailable(const QString& elementIp)
{
    return !elementIp.isEmpty() && isValidIp(elementIp);
}

} // namespace vexo
