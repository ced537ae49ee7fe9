// The properties panel: what it shows of the selected element's stored record, and which of the
// operator's attenuation changes it hands on to be sent.
#include "gui/PropertiesPanel.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "gui/TextColours.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace vexo;

namespace {
const QString kMac = QStringLiteral("00:50:C2:00:00:02");
}

class PropertiesPanelTest : public ::testing::Test
{
protected:
    void build(bool gpsdo = false)
    {
        selection.setRole(std::nullopt); // as a station starts
        PanelPeers peers;
        peers.cmdGetStats = &stats;
        peers.chkGetVolume = &volume;
        panel = std::make_unique<PropertiesPanel>(
            store, selection, boxes, gpsdo, peers, [this](int p) { return sent << p, true; }, &window);
    }
    // Writes the element's section (and any others) and clicks its node.
    void load(const QByteArray& lines, const QByteArray& others = {}, const QString& mac = kMac)
    {
        ASSERT_TRUE(writeFile(store.path(), others + '[' + encodeMac(mac).toLatin1() + "]\n" + lines));
        panel->loadElement(QStringLiteral("NODE"), mac);
    }
    QList<int> takeSent() { return std::exchange(sent, {}); }

    QTemporaryDir dir;
    ElementStore store{dir.filePath(QStringLiteral("nms.ini"))};
    SelectedElement selection;
    FakeMessageBoxes boxes;
    QWidget window;
    QPushButton stats;
    QCheckBox volume;
    QList<int> sent;
    std::unique_ptr<PropertiesPanel> panel;
};

TEST_F(PropertiesPanelTest, LoadingShowsTheStoredElementForItsRole)
{
    struct Case
    {
        bool gpsdo;
        QByteArray lines;
        const char *type, *remoteCaption, *remote, *atten, *latency, *threshold, *timeout;
        bool adjust;
        QByteArray written = {}; // the section after loading, when loading writes it
    };
    const Case cases[] = {
        {false, "ROLE=1\nTX=0\n", "ENCODER", "Remote IP:", "192.168.1.91", nullptr, "2.5mS", "0dBu", "0Sec",
         false},
        {false, "ROLE=1\nTX=1\nMULTI=239.1.2.3\nSFN=1\n", "ENCODER", "Multicast IP:", "239.1.2.3", nullptr,
         "2.5mS", "0dBu", "0Sec", false},
        {false, "ROLE=2\nTX=0\nATT=20\n", "DECODER", "Multicast IP:", "239.255.255.239", "-117.5 dB", "7.5mS",
         "-18.4dBu", "19.6Sec", false},
        {false, "ROLE=2\nATT=100\nBUF=4\nSFN=1\nSDL=154\nSDT=220\n", "DECODER",
         "Multicast IP:", "239.255.255.239", "-77.5 dB", "12.5mS", "-6dBu", "100.1Sec", true},
        {false, "ROLE=2\nATT=0\n", "DECODER", "Multicast IP:", "239.255.255.239", "Mute", "7.5mS", "-18.4dBu",
         "19.6Sec", false, "ROLE=2\nATT=14\n"},
        {false, "ROLE= 2 \n", "DECODER", "Multicast IP:", "239.255.255.239", "Mute", "7.5mS", "-18.4dBu",
         "19.6Sec", false, "ROLE= 2 \nATT=14\n"},
        {false, "ROLE=2\nATT=999\nBUF=99\nSDL=0\nSDT=500\nSFN=2\n", "DECODER",
         "Multicast IP:", "239.255.255.239", "0 dB", "60mS", "-49.8dBu", "100.1Sec", false},
        {false, "ROLE=2\nATT=loud\nBUF=two\nSDL=1e3\nSDT=-\n", "DECODER", "Multicast IP:", "239.255.255.239",
         "Mute", "7.5mS", "-18.4dBu", "19.6Sec", false},
        {true, "ROLE=2\nATT=20\nBUF=23\nMULTI=239.1.1.1\n", "DECODER", "Multicast IP:", "239.1.1.1",
         "-117.5 dB", "60mS", "-18.4dBu", "19.6Sec", false},
        {false, "ROLE=abc\n", "UNKNOWN", "Remote IP:", "", nullptr, "0mS", "0dBu", "0Sec", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.constData());
        build(c.gpsdo);
        volume.setChecked(true);
        load(c.lines);
        EXPECT_EQ(readFile(store.path()), "[0050C2000002]\n" + (c.written.isNull() ? c.lines : c.written));
        EXPECT_EQ(selection.mac(), kMac);
        EXPECT_EQ(child<QLabel>(*panel, "lblElementMAC")->text(), kMac);
        EXPECT_EQ(selection.role() ? roleCaption(*selection.role()) : "-", c.type);
        EXPECT_EQ(child<QLabel>(*panel, "lblElementType")->text(), c.type);
        EXPECT_EQ(child<QLabel>(*panel, "Label7")->text(), c.remoteCaption);
        EXPECT_EQ(child<QLineEdit>(*panel, "txtRemoteIP")->text(), c.remote);
        EXPECT_EQ(child<QScrollBar>(*panel, "scrlAtten")->isHidden(), c.atten == nullptr);
        if (c.atten) {
            EXPECT_EQ(child<QLabel>(*panel, "lblAttenDB")->text(), c.atten);
        }
        EXPECT_EQ(child<QLabel>(*panel, "lblLatency")->text(), c.latency);
        EXPECT_EQ(child<QLabel>(*panel, "lblSilDetLevel")->text(), c.threshold);
        EXPECT_EQ(child<QLabel>(*panel, "lblSilDetTime")->text(), c.timeout);
        EXPECT_EQ(child<QPushButton>(*panel, "cmdAdjust")->isEnabled(), c.adjust);
        EXPECT_EQ(selection.draft().attenuation, child<QScrollBar>(*panel, "scrlAtten")->value());
        EXPECT_EQ(selection.draft().remote, c.remote);
        EXPECT_TRUE(stats.isEnabled());
        EXPECT_FALSE(volume.isChecked()); // the level monitor of the element before is stopped
        EXPECT_TRUE(takeSent().isEmpty());
    }
}

TEST_F(PropertiesPanelTest, ADamagedSectionIsNotLoaded)
{
    build();
    const QByteArray shown = "[0050C2000002]\nROLE=2\nNAME=SHOWN\n";
    load("ROLE=2\nNAME=SHOWN\n");
    // GIVEN another element whose section has 21 entries, more than the station ever writes
    QByteArray lines;
    for (int i = 0; i < 21; ++i)
        lines += "K" + QByteArray::number(i) + "=1\n";
    load(lines, shown, QStringLiteral("00:50:C2:00:00:03"));
    EXPECT_EQ(boxes.texts(), QStringList{"The data stored in your computer about this element, is corrupted "
                                         "(1).\rCannot load this element info."});
    EXPECT_EQ(boxes.shown.value(0).icon, MsgIcon::Critical);
    EXPECT_EQ(selection.mac(), kMac);
    EXPECT_EQ(child<QLineEdit>(*panel, "txtElementName")->text(), "SHOWN");
    EXPECT_EQ(readFile(store.path()), shown + "[0050C2000003]\n" + lines);
    // 20 entries load.
    load(lines.left(lines.lastIndexOf("K20")), shown, QStringLiteral("00:50:C2:00:00:03"));
    EXPECT_EQ(selection.mac(), QStringLiteral("00:50:C2:00:00:03"));
}

TEST_F(PropertiesPanelTest, OnlyTheOperatorsOwnAttenuationChangeIsSent)
{
    build();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QScrollBar* bar = child<QScrollBar>(*panel, "scrlAtten");
    load("ROLE=2\nATT=100\n");
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_PageUp);
    EXPECT_EQ(child<QLabel>(*panel, "lblAttenDB")->text(), "-72 dB");
    QTest::keyClick(bar, Qt::Key_End);
    QTest::keyClick(bar, Qt::Key_Right); // already at the end: no change
    // A configuration reply moves the bar: shown, not sent.
    bar->setValue(150);
    EXPECT_EQ(child<QLabel>(*panel, "lblAttenDB")->text(), "-52.5 dB");
    EXPECT_EQ(takeSent(), QList<int>({101, 111, 255}));
    // A drag sends its final position once, at its end; the second, back to its start, nothing.
    for (const QList<int>& expected : {QList<int>{200}, QList<int>{}}) {
        bar->setSliderDown(true);
        bar->setSliderPosition(180);
        bar->setSliderPosition(200);
        EXPECT_TRUE(sent.isEmpty());
        bar->setSliderDown(false);
        EXPECT_EQ(takeSent(), expected);
    }
    // Without the focus the step is not the operator's.
    child<QLineEdit>(*panel, "txtElementName")->setFocus();
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    // Nor is anything sent for an encoder, or once the panel is cleared.
    load("ROLE=1\n");
    bar->show();
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Left);
    load("ROLE=2\nATT=100\n");
    panel->clearElementProperties();
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Left);
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(PropertiesPanelTest, FieldsFollowTheirRules)
{
    build();
    load("ROLE=1\nTX=0\nREMOTE=10.0.0.9\nMULTI=239.4.4.4\n");
    // An invalid address is shown red; "Get..." needs a valid element address.
    for (const auto& [text, valid] : {std::pair{"10.0.0", false}, {"10.0.0.1", true}, {"", false}}) {
        child<QLineEdit>(*panel, "txtElementIP")->setText(text);
        EXPECT_EQ(textBackground(child<QLineEdit>(*panel, "txtElementIP")) == QColor(255, 128, 128),
                  !valid && *text)
            << text;
        EXPECT_EQ(stats.isEnabled(), valid) << text;
    }
    child<QLineEdit>(*panel, "txtElementGW")->setText("10.0.0");
    EXPECT_EQ(textBackground(child<QLineEdit>(*panel, "txtElementGW")), QColor(255, 128, 128));
    // The TX type of an encoder swaps the remote field for the stored group and back.
    child<QComboBox>(*panel, "cmbAudioTX")->setCurrentIndex(1);
    EXPECT_EQ(child<QLabel>(*panel, "Label7")->text(), "Multicast IP:");
    EXPECT_EQ(child<QLineEdit>(*panel, "txtRemoteIP")->text(), "239.4.4.4");
    child<QComboBox>(*panel, "cmbAudioTX")->setCurrentIndex(0);
    EXPECT_EQ(child<QLineEdit>(*panel, "txtRemoteIP")->text(), "10.0.0.9");
    // The silence detector of a decoder is editable only while the routing is automatic.
    load("ROLE=2\nATT=20\nSDM=2\n");
    EXPECT_FALSE(child<QScrollBar>(*panel, "scrlSilDetLevel")->isEnabled());
    child<QComboBox>(*panel, "cmbSilDetMode")->setCurrentIndex(0);
    EXPECT_TRUE(child<QScrollBar>(*panel, "scrlSilDetTime")->isEnabled());
    EXPECT_EQ(selection.draft().silenceMode, 0);
}
