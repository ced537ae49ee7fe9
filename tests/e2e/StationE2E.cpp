// The station window (offscreen) inside a namespace lab with simulated elements: discovery, the
// configuration round trip and the level monitor over real UDP and ARP.
#include "LabStation.h"
#include "diagnostics/LevelMonitor.h"
#include "gui/ElementTree.h"
#include "gui/PropertiesPanel.h"
#include "link/ConfigLink.h"
#include "platform/Arp.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

class StationE2E : public ::testing::Test, public LabStation
{
protected:
    void SetUp() override
    {
        const QString reason = Lab::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
    }

    bool start(int encoders, int decoders, int sfn, const QMap<int, QStringList>& faults = {})
    {
        QString error;
        const bool started = LabStation::start(encoders, decoders, sfn, &error, faults);
        EXPECT_TRUE(started) << error.toStdString();
        return started;
    }

    // Fills the store the operator's way: a discovery of the lab.
    void storeElements()
    {
        discover();
        ASSERT_EQ(window->TreeView1->topLevelItemCount(), lab.elements().size());
    }

    // Stores the elements as they are configured, whatever faults they show on the wire.
    void storeFromState()
    {
        for (int i = 0; i < lab.elements().size(); ++i) {
            const Lab::Element e = lab.elements()[i];
            const QJsonObject s = lab.stateObject(i);
            const QString mac = e.mac;
            auto put = [&](const QString& key, const QString& value) {
                window->station().store().write(mac, key, value);
            };
            put(keys::name, e.name);
            put(keys::ip, e.ip);
            put(keys::mask, s.value("mask").toString());
            put(keys::gw, s.value("gw").toString());
            put(keys::input, QString::number(s.value("input").toInt()));
            put(keys::type, QString::number(s.value("type").toInt()));
            put(keys::tx, QString::number(s.value("tx").toInt()));
            put(e.role == 2 || s.value("tx").toInt() > 0 ? keys::multi : keys::remote,
                s.value("remote").toString());
            put(keys::role, QString::number(e.role));
        }
        window->refreshList();
    }

    bool shown(const QString& text) const { return f.boxes.texts().contains(text); }
};

const QString kSuccess = "New configuration has been sucessfuly saved and loaded!";

// The section of the store as it stands in the file, "[..]" line included.
QByteArray sectionText(const QByteArray& file, const QString& section)
{
    const QByteArray head = "[" + section.toLatin1() + "]\n";
    const qsizetype at = file.indexOf(head);
    if (at < 0)
        return {};
    const qsizetype next = file.indexOf("\n[", at + 1);
    return file.mid(at, next < 0 ? -1 : next + 1 - at);
}

} // namespace

TEST_F(StationE2E, DiscoveryReplacesTheStoreWithTheElementsThatAnswer)
{
    ASSERT_TRUE(start(2, 1, 0));
    ASSERT_TRUE(writeFile(f.storePath(), "[0050C2FFFFFF]\nNAME=OLD\nROLE=1\n"));
    window->refreshList();
    ASSERT_EQ(window->TreeView1->topLevelItemCount(), 1);

    // GIVEN a send that set the socket's remote endpoint before the discovery
    f.boxes.clear();
    window->station().link().setRemote(lab.elements()[0].ip, 2977);
    QUdpSocket capture;
    ASSERT_TRUE(capture.bind(QHostAddress::AnyIPv4, 1901, QUdpSocket::ShareAddress));

    // WHEN the operator says No THEN nothing changes
    f.boxes.answers << MsgAnswer::No;
    window->onToolbarButton(1);
    EXPECT_EQ(window->TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(readFile(f.storePath()), QByteArray("[0050C2FFFFFF]\nNAME=OLD\nROLE=1\n"));
    ASSERT_EQ(f.boxes.shown.size(), 1);
    EXPECT_EQ(f.boxes.shown[0].caption, "Auto Discovery");

    // WHEN the operator says Yes THEN the store holds exactly the three elements
    f.boxes.clear();
    f.boxes.answers << MsgAnswer::Yes;
    window->onToolbarButton(1); // returns when the paging window has closed
    EXPECT_EQ(f.boxes.shown.size(), 1) << f.boxes.texts().join(" | ").toStdString();

    ASSERT_TRUE(capture.hasPendingDatagrams());
    const QNetworkDatagram paging = capture.receiveDatagram();
    EXPECT_EQ(paging.data(), QByteArray("IPMPXSTL KORVANTA PAGING REQUEST"));
    EXPECT_EQ(paging.senderPort(), 2976);
    EXPECT_EQ(paging.destinationAddress(), QHostAddress("255.255.255.255"));
    EXPECT_EQ(window->station().link().remoteHost(), lab.elements()[0].ip);
    EXPECT_EQ(window->station().link().remotePort(), 2977);

    const QByteArray file = readFile(f.storePath());
    EXPECT_EQ(iniSections(f.storePath()).size(), 3);
    for (int i = 0; i < 3; ++i) {
        const Lab::Element e = lab.elements()[i];
        const QJsonObject s = lab.stateObject(i);
        QByteArray expected = "[" + encodeMac(e.mac).toLatin1() + "]\n";
        auto line = [&](const char* key, const QString& value) {
            expected += QByteArray(key) + "=" + value.toLatin1() + "\n";
        };
        line("NAME", e.name);
        line("IP", e.ip);
        line("MASK", s.value("mask").toString());
        line("GW", s.value("gw").toString());
        line("INPUT", QString::number(s.value("input").toInt()));
        line("TYPE", QString::number(s.value("type").toInt()));
        line("TX", QString::number(s.value("tx").toInt()));
        line(e.role == 2 || s.value("tx").toInt() > 0 ? "MULTI" : "REMOTE", s.value("remote").toString());
        line("ROLE", QString::number(e.role));
        line("SN", QString::number(e.serial));
        line("VER", s.value("version").toString());
        line("SFN", QString::number(s.value("sfn").toInt()));
        line("BUF", QString::number(s.value("buffer").toInt()));
        if (e.role == 2) {
            line("ATT", QString::number(s.value("att").toInt()));
            line("SDM", QString::number(s.value("sdm").toInt()));
            line("SDL", QString::number(s.value("sdl").toInt()));
            line("SDT", QString::number(s.value("sdt").toInt()));
        }
        EXPECT_EQ(sectionText(file, encodeMac(e.mac)), expected) << e.name.toStdString();
        EXPECT_NE(window->tree().findEntry(e.mac), nullptr);
    }
    EXPECT_EQ(window->frmTreeView->title(), "Select element: (3 items)");
    EXPECT_EQ(window->frmProperties->cmbEncoders->count(), 3); // <None> and two encoders
    EXPECT_FALSE(window->station().link().discoveryAwaiting());
}

TEST_F(StationE2E, SaveRoundTripIsTakenOnConfirmedAndStored)
{
    ASSERT_TRUE(start(1, 1, 0));
    storeElements();
    PropertiesPanel* p = window->frmProperties;

    // An encoder: name, addresses, audio fields and SFN.
    ASSERT_TRUE(select(0));
    p->txtElementName->setText("studio west");
    p->txtElementMask->setText("255.255.0.0");
    p->txtElementGW->setText("10.77.0.254");
    p->cmbAudioInput->setCurrentIndex(1);
    p->cmbAudioType->setCurrentIndex(1);
    p->cmbAudioTX->setCurrentIndex(1);
    p->txtRemoteIP->setText("239.10.0.1");
    p->chkSFNEnabled->setChecked(true);
    f.boxes.clear();
    f.boxes.answers << MsgAnswer::Yes;
    window->onToolbarButton(4);
    ASSERT_TRUE(waitUntil([&] { return shown(kSuccess); }, 5000))
        << f.boxes.texts().join(" | ").toStdString();
    const QJsonObject s = lab.stateObject(0);
    EXPECT_EQ(s.value("name").toString(), "STUDIO WEST     "); // as it came, 16 characters
    EXPECT_EQ(s.value("mask").toString(), "255.255.0.0");
    EXPECT_EQ(s.value("gw").toString(), "10.77.0.254");
    EXPECT_EQ(s.value("remote").toString(), "239.10.0.1");
    EXPECT_EQ(s.value("tx").toInt(), 1);
    EXPECT_EQ(s.value("sfn").toInt(), 1);
    const QString mac = lab.elements()[0].mac;
    EXPECT_EQ(window->station().store().read(mac, keys::name), "STUDIO WEST");
    EXPECT_EQ(window->station().store().read(mac, keys::multi), "239.10.0.1");
    EXPECT_EQ(window->station().store().read(mac, keys::input), "1");
    EXPECT_EQ(window->station().store().read(mac, keys::sfn), "1");
    EXPECT_FALSE(window->station().link().timerRemoteSent()->isActive());

    // A decoder: its buffer and silence detector go out in the 40-byte request.
    ASSERT_TRUE(select(1));
    p->scrlBuffer->setValue(9);
    p->cmbSilDetMode->setCurrentIndex(0);
    p->scrlSilDetLevel->setValue(50);
    p->scrlSilDetTime->setValue(60);
    f.boxes.clear();
    f.boxes.answers << MsgAnswer::Yes;
    window->onToolbarButton(4);
    ASSERT_TRUE(waitUntil([&] { return shown(kSuccess); }, 5000))
        << f.boxes.texts().join(" | ").toStdString();
    const QJsonObject d = lab.stateObject(1);
    EXPECT_EQ(d.value("buffer").toInt(), 9);
    EXPECT_EQ(d.value("sdl").toInt(), 50);
    EXPECT_EQ(d.value("sdt").toInt(), 60);
    EXPECT_EQ(window->station().store().read(lab.elements()[1].mac, keys::sdl), "50");
}

TEST_F(StationE2E, FaultyAnswersAreReportedAndNotCalledASuccess)
{
    // 0: states another name; 1: role 0; 2: silent; 3: audio source 2
    ASSERT_TRUE(start(4, 0, 0,
                      {{0, {"--force-name", "SOMEBODY ELSE   "}},
                       {1, {"--force-role", "0"}},
                       {2, {"--silent"}},
                       {3, {"--force-input", "2"}}}));
    storeFromState();
    auto save = [&](int index) {
        ASSERT_TRUE(select(index));
        f.boxes.clear();
        f.boxes.answers << MsgAnswer::Yes;
        window->onToolbarButton(4);
    };

    save(0);
    const QString nameMessage = "An error occured while saving 'Element Name':\rFeedback is corrupted.";
    ASSERT_TRUE(waitUntil([&] { return shown(nameMessage); }, 5000))
        << f.boxes.texts().join(" | ").toStdString();
    ASSERT_TRUE(
        waitUntil([&] { return !window->tree().loading() && window->TreeView1->topLevelItemCount() == 4; }));
    EXPECT_FALSE(shown(kSuccess));
    const QString mac0 = lab.elements()[0].mac;
    EXPECT_EQ(window->station().store().read(mac0, keys::name), lab.elements()[0].name); // as stored before
    EXPECT_EQ(window->station().store().read(mac0, keys::mask), lab.stateObject(0).value("mask").toString());

    save(1);
    ASSERT_TRUE(waitUntil(
        [&] { return window->station().store().read(lab.elements()[1].mac, keys::role) == "0"; }, 5000));
    EXPECT_EQ(window->frmProperties->elementType(), "UNKNOWN");
    EXPECT_FALSE(shown(kSuccess));

    save(2);
    const QString timeout = "Waiting for a response from Network Element has timed out!\rCannot save.";
    ASSERT_TRUE(waitUntil([&] { return shown(timeout); }, 5000));
    EXPECT_EQ(f.boxes.texts().count(timeout), 1);

    const QByteArray before = readFile(f.storePath());
    save(3);
    const QString input = "An error occured while retrieving 'Audio Input':\rFeedback is corrupted.";
    ASSERT_TRUE(waitUntil([&] { return shown(input); }, 5000));
    ASSERT_TRUE(waitUntil([&] { return shown(timeout); }, 5000)); // the send still times out
    EXPECT_EQ(readFile(f.storePath()), before);
}

TEST_F(StationE2E, LevelMonitorShowsTheEncodersTone)
{
    ASSERT_TRUE(start(2, 0, 0, {{0, {"--level-dbfs", "-6"}}}));
    storeElements();
    ASSERT_TRUE(select(0));
    ASSERT_TRUE(window->toolbarButton(6)->isEnabled());
    window->onToolbarButton(6);
    ASSERT_TRUE(waitUntil([&] { return window->lblVolume->text() == "-6dBFS"; }, 5000))
        << window->lblVolume->text().toStdString();
    EXPECT_EQ(window->VUMeter->width(), 70);
    // Selecting another element stops the monitor and blanks the display.
    ASSERT_TRUE(select(1));
    EXPECT_FALSE(window->chkGetVolume->isChecked());
    EXPECT_FALSE(window->levelMonitor().timer()->isActive());
    EXPECT_EQ(window->lblVolume->text(), "-oodBFS");
    EXPECT_EQ(window->VUMeter->width(), 0);
}
