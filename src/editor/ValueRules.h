#pragma once

#include <QLocale>
#include <QString>

// The rules that turn an editor control's value into the text shown beside it, and the checks
// on the address fields. Plain functions of the value: loading, the configuration reply and the
// operator all go through them, and tests need no widget to check them.
namespace vexo {

// Ranges of the panel's scroll bars.
inline constexpr int kAttenMin = 14; // "Mute"
inline constexpr int kAttenMax = 255;
inline constexpr int kBufferMin = 0;
inline constexpr int kBufferMax = 22;
inline constexpr int kBufferMaxGpsdo = 23;
inline constexpr int kSilDetLevelMin = 1;
inline constexpr int kSilDetLevelMax = 154;
inline constexpr int kSilDetTimeMin = 1;
inline constexpr int kSilDetTimeMax = 220;
inline constexpr int kSmallStep = 1;
inline constexpr int kLargeStep = 10;

inline constexpr int kNameMaxLength = 16;
inline constexpr int kAddressMaxLength = 15;
inline constexpr int kVlanMaxLength = 4;

// "Mute" at the minimum position, else (p - 255) * 0.5 followed by " dB".
QString attenuationText(int position, const QLocale& locale = QLocale());

// p * 2.5 + 2.5 "mS" when the playout is PTP-synchronised (SFN on) or the station is the GPSDO
// variant, p * 2.5 + 5 "mS" otherwise.
QString latencyText(int position, bool gpsdoVariant, bool sfnEnabled, const QLocale& locale = QLocale());
// What the encoder layout shows: an encoder has no playout buffer.
QString encoderLatencyText();

// 20 * log10(p * 2.04870129870129) - 56, one decimal (halves to even), "dBu".
QString thresholdText(int position, const QLocale& locale = QLocale());

// p * 0.455104166666667 seconds, one decimal (halves to even), "Sec".
QString timeoutText(int position, const QLocale& locale = QLocale());

// Background of an address field: an empty text is not an error (nothing entered yet).
enum class AddressLook
{
    Normal,
    Invalid
};
AddressLook addressLook(const QString& text);

// "Get..." can fetch counters only from an address that can be reached.
bool statisticsAvailable(const QString& elementIp);

} // namespace vexo
