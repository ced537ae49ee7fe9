// The value rules of the editor fields, checked without any widget.
#include "editor/ValueRules.h"
#include "gui/TextColours.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace vexo;

namespace {
const QLocale kGerman(QLocale::German, QLocale::Germany);
}

TEST(AttenuationText, MinimumIsMute)
{
    EXPECT_EQ(attenuationText(kAttenMin), QStringLiteral("Mute"));
}

TEST(AttenuationText, HalfDecibelStepsDownFromTheTop)
{
    EXPECT_EQ(attenuationText(255), QStringLiteral("0 dB"));
    EXPECT_EQ(attenuationText(254), QStringLiteral("-0.5 dB"));
    EXPECT_EQ(attenuationText(135), QStringLiteral("-60 dB"));
    EXPECT_EQ(attenuationText(100), QStringLiteral("-77.5 dB"));
    // One above the mute position is the deepest real attenuation.
    EXPECT_EQ(attenuationText(15), QStringLiteral("-120 dB"));
}

TEST(AttenuationText, UsesTheDecimalSeparatorOfTheLocale)
{
    EXPECT_EQ(attenuationText(254, kGerman), QStringLiteral("-0,5 dB"));
    EXPECT_EQ(attenuationText(135, kGerman), QStringLiteral("-60 dB"));
}

TEST(LatencyText, NormalPlayoutStartsAtFiveMilliseconds)
{
    EXPECT_EQ(latencyText(0, false, false), QStringLiteral("5mS"));
    EXPECT_EQ(latencyText(1, false, false), QStringLiteral("7.5mS"));
    EXPECT_EQ(latencyText(4, false, false), QStringLiteral("15mS"));
    EXPECT_EQ(latencyText(22, false, false), QStringLiteral("60mS"));
}

TEST(LatencyText, SfnOrGpsdoStartsAtTwoAndAHalf)
{
    EXPECT_EQ(latencyText(0, false, true), QStringLiteral("2.5mS"));
    EXPECT_EQ(latencyText(4, false, true), QStringLiteral("12.5mS"));
    EXPECT_EQ(latencyText(22, false, true), QStringLiteral("57.5mS"));
    EXPECT_EQ(latencyText(0, true, false), QStringLiteral("2.5mS"));
    EXPECT_EQ(latencyText(23, true, false), QStringLiteral("60mS"));
    EXPECT_EQ(latencyText(23, true, true), QStringLiteral("60mS"));
    EXPECT_EQ(latencyText(1, false, true, kGerman), QStringLiteral("5mS"));
    EXPECT_EQ(latencyText(0, false, true, kGerman), QStringLiteral("2,5mS"));
    EXPECT_EQ(encoderLatencyText(), QStringLiteral("2.5mS"));
}

TEST(ThresholdText, EdgesAndDefault)
{
    EXPECT_EQ(thresholdText(1), QStringLiteral("-49.8dBu"));
    EXPECT_EQ(thresholdText(37), QStringLiteral("-18.4dBu"));
    EXPECT_EQ(thresholdText(154), QStringLiteral("-6dBu"));
    // Values a hair away from a half go to the nearer tenth.
    EXPECT_EQ(thresholdText(2), QStringLiteral("-43.7dBu"));  // -43.7498
    EXPECT_EQ(thresholdText(52), QStringLiteral("-15.5dBu")); // -15.4504
    EXPECT_EQ(thresholdText(153), QStringLiteral("-6.1dBu"));
    EXPECT_EQ(thresholdText(1, kGerman), QStringLiteral("-49,8dBu"));
}

TEST(TimeoutText, EdgesAndDefault)
{
    EXPECT_EQ(timeoutText(1), QStringLiteral("0.5Sec"));
    EXPECT_EQ(timeoutText(43), QStringLiteral("19.6Sec"));
    EXPECT_EQ(timeoutText(220), QStringLiteral("100.1Sec"));
    EXPECT_EQ(timeoutText(11), QStringLiteral("5Sec")); // 5.006 has no decimal left
    EXPECT_EQ(timeoutText(219), QStringLiteral("99.7Sec"));
    EXPECT_EQ(timeoutText(39), QStringLiteral("17.7Sec")); // 17.749
    EXPECT_EQ(timeoutText(88), QStringLiteral("40Sec"));   // 40.049
    EXPECT_EQ(timeoutText(43, kGerman), QStringLiteral("19,6Sec"));
}

TEST(AddressRules, EmptyAndValidAreNormalOthersInvalid)
{
    EXPECT_EQ(addressLook(QString()), AddressLook::Normal);
    EXPECT_EQ(addressLook(QStringLiteral("10.0.0.1")), AddressLook::Normal);
    EXPECT_EQ(addressLook(QStringLiteral("255.255.255.255")), AddressLook::Normal);
    EXPECT_EQ(addressLook(QStringLiteral("192.168.1.300")), AddressLook::Invalid);
    EXPECT_EQ(addressLook(QStringLiteral("10.0.0")), AddressLook::Invalid);
    EXPECT_EQ(addressLook(QStringLiteral("10.0.0.1.5")), AddressLook::Invalid);
    EXPECT_EQ(addressLook(QStringLiteral("a.b.c.d")), AddressLook::Invalid);
}

TEST(AddressRules, StatisticsNeedAValidAddress)
{
    EXPECT_FALSE(statisticsAvailable(QString()));
    EXPECT_FALSE(statisticsAvailable(QStringLiteral("192.168.1.300")));
    EXPECT_FALSE(statisticsAvailable(QStringLiteral("10.0.0")));
    EXPECT_TRUE(statisticsAvailable(QStringLiteral("10.0.0.1")));
}

TEST(Colours, ButtonAndTextBackgroundsReadBack)
{
    QPushButton button;
    setButtonColour(&button, kUntestedPingColour);
    EXPECT_EQ(buttonColour(&button), QColor(255, 255, 192));
    setButtonColour(&button, kSuccessColour);
    EXPECT_EQ(buttonColour(&button), QColor(0, 255, 0));

    QLineEdit edit;
    setTextBackground(&edit, kFailedColour);
    EXPECT_EQ(textBackground(&edit), QColor(255, 128, 128));
    setTextBackground(&edit, QColor());
    EXPECT_EQ(textBackground(&edit), normalTextBackground());
    EXPECT_NE(normalTextBackground(), QColor(255, 128, 128));
}

TEST(Colours, ButtonColourShowsOnScreen)
{
    // GIVEN a button painted light yellow WHEN it is drawn THEN the face carries that colour.
    QPushButton button(QStringLiteral(" "));
    button.resize(80, 24);
    setButtonColour(&button, kUntestedPingColour);
    const QImage image = button.grab().toImage();
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_GT(centre.red(), 230);
    EXPECT_GT(centre.green(), 230);
    EXPECT_LT(centre.blue(), centre.green() - 20) << "face is not yellowish: " << centre.name().toStdString();
    // And a green button is green.
    setButtonColour(&button, kSuccessColour);
    const QColor green = button.grab().toImage().pixelColor(40, 12);
    EXPECT_GT(green.green(), 200);
    EXPECT_LT(green.red(), 120) << green.name().toStdString();
}
