// The station window (offscreen) against simulated elements in a namespace lab, over real UDP and
// ARP: discovery, the configuration round trip and the attenuation.
#include "AppFixture.h"
#include "link/ConfigLink.h"
#include "store/ElementStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QScrollBar>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

class StationTest : public ::testing::Test, public LabStation
{
protected:
    // The station started in a lab of an encoder and a decoder, with a store filled by a discovery.
    void SetUp() override
    {
        if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        QString error;
        ASSERT_TRUE(start(1, 1, 0, &error)) << error.toStdString();
        ASSERT_TRUE(writeFile(
            f.storePath(), "[0050C2FFFFFF]\nNAME=OLD\nROLE=2\nIP=" + lab.elements()[0].ip.toLatin1() + "\n"));
        // The socket's destination as an earlier send left it
        ASSERT_FALSE(window->station().setAttenuation(QStringLiteral("00:50:C2:FF:FF:FF"), 255).problem);
        ASSERT_TRUE(capture.bind(QHostAddress::AnyIPv4, 1901, QUdpSocket::ShareAddress));
        f.boxes.clear(); // the empty store at start-up
        discover();
        ASSERT_EQ(child<QTreeWidget>(*window, "TreeView1")->topLevelItemCount(), 2);
    }
    QString stored(int index, const QString& key) const
    {
        return window->station().store().read(lab.elements()[index].mac, key);
    }
    QUdpSocket capture; // the paging port
};

} // namespace

TEST_F(StationTest, DiscoveryReplacesTheStoreWithTheElementsThatAnswer)
{
    const QNetworkDatagram paging = capture.receiveDatagram();
    EXPECT_EQ(paging.data(), "IPMPXSTL KORVANTA PAGING REQUEST");
    EXPECT_EQ(paging.destinationAddress(), QHostAddress("255.255.255.255"));
    EXPECT_FALSE(capture.hasPendingDatagrams());
    EXPECT_EQ(window->station().link().remoteHost(), lab.elements()[0].ip);
    EXPECT_EQ(window->station().link().remotePort(), 2977);
    EXPECT_EQ(f.boxes.shown.size(), 1) << f.boxes.texts().join(" | ").toStdString();
    EXPECT_EQ(child<QComboBox>(*window, "cmbEncoders")->count(), 2); // <None> and the encoder
    // The store holds exactly the two elements, each as it states itself, in arrival order.
    const QByteArray file = readFile(f.storePath());
    qsizetype size = 0;
    for (int i = 0; i < 2; ++i) {
        const Lab::Element e = lab.elements()[i];
        const QJsonObject s = lab.stateObject(i);
        QByteArray expected = "[" + encodeMac(e.mac).toLatin1() + "]\n";
        auto line = [&](const char* key, const QVariant& value) {
            expected += QByteArray(key) + "=" + value.toString().toLatin1() + "\n";
        };
        line("NAME", e.name);
        line("IP", e.ip);
        for (const char* key : {"mask", "gw", "input", "type", "tx"})
            line(QByteArray(key).toUpper(), s.value(key).toVariant());
        line(e.role == 2 || s.value("tx").toInt() > 0 ? "MULTI" : "REMOTE", s.value("remote").toString());
        line("ROLE", e.role);
        line("SN", e.serial);
        for (const auto& field :
             {std::pair{"VER", "version"}, std::pair{"SFN", "sfn"}, std::pair{"BUF", "buffer"}})
            line(field.first, s.value(field.second).toVariant());
        for (const char* key : {"att", "sdm", "sdl", "sdt"})
            if (e.role == 2)
                line(QByteArray(key).toUpper(), s.value(key).toVariant());
        EXPECT_TRUE(file.contains(expected)) << expected.toStdString();
        size += expected.size();
    }
    EXPECT_EQ(file.size(), size) << file.toStdString();
}

TEST_F(StationTest, SaveRoundTripIsTakenOnConfirmationAndStored)
{
    ASSERT_TRUE(select(0));
    PropertiesPanel* p = child<PropertiesPanel>(*window, "frmProperties");
    child<QLineEdit>(*p, "txtElementName")->setText("studio west");
    child<QLineEdit>(*p, "txtElementMask")->setText("255.255.0.0");
    child<QLineEdit>(*p, "txtElementGW")->setText("10.77.0.254");
    child<QComboBox>(*p, "cmbAudioInput")->setCurrentIndex(1);
    child<QComboBox>(*p, "cmbAudioTX")->setCurrentIndex(1);
    child<QLineEdit>(*p, "txtRemoteIP")->setText("239.10.0.1");
    child<QCheckBox>(*p, "chkSFNEnabled")->setChecked(true);
    f.boxes.clear();
    f.boxes.answers << MsgAnswer::Yes;
    child<QAction>(*window, "actSave")->trigger();
    ASSERT_TRUE(waitUntil([&] {
        return f.boxes.texts().contains("New configuration has been sucessfuly saved and loaded!");
    })) << f.boxes.texts().join(" | ").toStdString();
    // The element writes down its state after it has answered: the answer may be stored first.
    ASSERT_TRUE(lab.waitForState(
        0, [](const QJsonObject& s) { return s.value("name").toString().startsWith("STUDIO WEST"); }));
    const QJsonObject s = lab.stateObject(0);
    QStringList taken, kept;
    for (const char* key : {"name", "mask", "gw", "remote", "tx", "sfn"})
        taken << s.value(key).toVariant().toString();
    EXPECT_EQ(taken, (QStringList{"STUDIO WEST     ", "255.255.0.0", "10.77.0.254", "239.10.0.1", "1", "1"}));
    for (const QString& key : {keys::name, keys::multi, keys::input, keys::sfn})
        kept << stored(0, key);
    EXPECT_EQ(kept, (QStringList{"STUDIO WEST", "239.10.0.1", "1", "1"}));
}

TEST_F(StationTest, AttenuationStepReachesTheDecoderAndIsStored)
{
    ASSERT_TRUE(select(1));
    QScrollBar* bar = child<QScrollBar>(*window, "scrlAtten");
    const int from = lab.stateObject(1).value("att").toInt();
    ASSERT_EQ(bar->value(), from);
    window->show();
    QApplication::setActiveWindow(window.get());
    bar->setFocus(); // only the operator's own change is sent
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_TRUE(
        lab.waitForState(1, [&](const QJsonObject& s) { return s.value("att").toInt() == from + 1; }));
    EXPECT_EQ(stored(1, keys::att), QString::number(from + 1));
}
