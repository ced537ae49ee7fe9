// The texts shown beside the editor's bars and the checks on its address fields, without widgets.
#include "editor/ValueRules.h"
#include "TestUtil.h"
#include "store/ElementStore.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vexo;

TEST(ValueRules, LabelOfEveryBarPosition)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    struct Case
    {
        std::function<QString()> text;
        QString expected;
    };
    const Case cases[] = {
        {[] { return attenuationText(14); }, "Mute"},
        {[] { return attenuationText(15); }, "-120 dB"},
        {[] { return attenuationText(100); }, "-77.5 dB"},
        {[] { return attenuationText(254); }, "-0.5 dB"},
        {[] { return attenuationText(255); }, "0 dB"},
        {[&] { return attenuationText(254, german); }, "-0,5 dB"},
        // buffer: 5 ms at 0 in normal playout, 2.5 ms with SFN or on the GPSDO variant
        {[] { return latencyText(0, false, false); }, "5mS"},
        {[] { return latencyText(22, false, false); }, "60mS"},
        {[] { return latencyText(4, false, true); }, "12.5mS"},
        {[] { return latencyText(0, true, false); }, "2.5mS"},
        {[] { return latencyText(23, true, true); }, "60mS"},
        {[&] { return latencyText(0, false, true, german); }, "2,5mS"},
        // threshold and timeout: one decimal, values a hair off a half go to the nearer tenth
        {[] { return thresholdText(1); }, "-49.8dBu"},
        {[] { return thresholdText(2); }, "-43.7dBu"},  // -43.7498
        {[] { return thresholdText(37); }, "-18.4dBu"}, // default
        {[] { return thresholdText(52); }, "-15.5dBu"}, // -15.4504
        {[] { return thresholdText(154); }, "-6dBu"},
        {[&] { return thresholdText(1, german); }, "-49,8dBu"},
        {[] { return timeoutText(1); }, "0.5Sec"},
        {[] { return timeoutText(11); }, "5Sec"},    // 5.006
        {[] { return timeoutText(39); }, "17.7Sec"}, // 17.749
        {[] { return timeoutText(43); }, "19.6Sec"}, // default
        {[] { return timeoutText(220); }, "100.1Sec"},
        {[&] { return timeoutText(43, german); }, "19,6Sec"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text(), c.expected);
}

TEST(ValueRules, AddressFieldsAndStatistics)
{
    struct Case
    {
        const char* text;
        bool valid; // an empty field is not shown as an error, but "Get..." needs an address
    };
    const Case cases[] = {{"", false},
                          {"10.0.0.1", true},
                          {"0.0.0.0", true},
                          {"255.255.255.255", true},
                          {" 10 . 0 .0. 1 ", true},
                          {"192.168.1.300", false},
                          {"10.0.0", false},
                          {"10.0.0.1.5", false},
                          {"10..0.1", false},
                          {"a.b.c.d", false},
                          {"10.-1.0.1", false},
                          {"10.+1.0.1", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromLatin1(c.text);
        EXPECT_EQ(addressLook(text), c.valid || text.isEmpty() ? AddressLook::Normal : AddressLook::Invalid);
        EXPECT_EQ(statisticsAvailable(text), c.valid);
        EXPECT_EQ(isValidIp(text), c.valid);
    }
}
