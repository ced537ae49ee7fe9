#pragma once

// A properties panel in a window of its own, with real peer widgets standing in for the main
// window's diagnostics row and toolbar, and a store in a temporary folder.
#include "Fakes.h"
#include "TestUtil.h"
#include "core/Station.h"
#include "gui/PropertiesPanel.h"
#include "gui/TextColours.h"
#include "store/ElementStore.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

inline const QString kEncoderMac = QStringLiteral("00:50:C2:00:00:01");
inline const QString kDecoderMac = QStringLiteral("00:50:C2:00:00:02");
inline const QString kUnknownMac = QStringLiteral("00:50:C2:00:00:03");

// "[SECTION]" and its lines, LF ends.
inline QByteArray sectionText(const QString& mac, const QStringList& lines)
{
    QByteArray text = '[' + vexo::encodeMac(mac).toLatin1() + "]\n";
    for (const QString& line : lines)
        text += line.toLatin1() + '\n';
    return text;
}

class PanelFixture : public ::testing::Test
{
protected:
    void SetUp() override { build(false); }

    void build(bool gpsdo)
    {
        panel.reset();
        station.reset();
        window = std::make_unique<QWidget>();
        window->resize(460, 360);
        cmdPing = new QPushButton(QStringLiteral("<Click to test>"), window.get());
        cmdPing->setObjectName(QStringLiteral("cmdPing"));
        cmdPing->setGeometry(10, 290, 150, 20);
        cmdGetStats = new QPushButton(QStringLiteral("Get..."), window.get());
        cmdGetStats->setObjectName(QStringLiteral("cmdGetStats"));
        cmdGetStats->setGeometry(170, 290, 100, 20);
        chkGetVolume = new QCheckBox(QStringLiteral("?"), window.get());
        chkGetVolume->setObjectName(QStringLiteral("chkGetVolume"));
        chkGetVolume->setVisible(false);
        VUMeter = new QWidget(window.get());
        VUMeter->setObjectName(QStringLiteral("VUMeter"));
        VUMeter->setGeometry(10, 320, 120, 12);
        lblVolume = new QLabel(QStringLiteral("-20dBFS"), window.get());
        lblVolume->setObjectName(QStringLiteral("lblVolume"));
        lblVolume->setGeometry(140, 316, 80, 20);
        startMonitoring = new QAction(QStringLiteral("Start audio monitoring"), window.get());
        stopMonitoring = new QAction(QStringLiteral("Stop audio monitoring"), window.get());
        // The level monitor is on while the box is checked: watch that it is stopped.
        QObject::connect(chkGetVolume, &QCheckBox::toggled, window.get(),
                         [this](bool on) { monitorRunning = on; });

        vexo::PanelPeers peers;
        peers.cmdPing = cmdPing;
        peers.cmdGetStats = cmdGetStats;
        peers.startMonitoring = startMonitoring;
        peers.stopMonitoring = stopMonitoring;
        peers.chkGetVolume = chkGetVolume;
        peers.VUMeter = VUMeter;
        peers.lblVolume = lblVolume;
        station = std::make_unique<vexo::Station>(vexo::StationServices{
            boxes, settings, programEnd, arp, icmp, path, QHostAddress(QStringLiteral("127.0.0.1")), gpsdo});
        panel = std::make_unique<vexo::PropertiesPanel>(
            station->store(), station->selection(), boxes, gpsdo, peers,
            [this](int position) { return station->sendAttenuation(position); }, window.get());
        panel->move(4, 4);
    }

    void TearDown() override
    {
        panel.reset();
        window.reset();
        station.reset();
    }

    // Shows the window and gives it the focus, as an operator's window has.
    void showActive()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void writeStore(const QByteArray& content) { ASSERT_TRUE(writeFile(path, content)); }
    QByteArray storeBytes() const { return readFile(path); }

    template <typename T> T* child(const char* name) const
    {
        return panel->findChild<T*>(QLatin1String(name));
    }

    void loadEncoder(const QString& tx = QStringLiteral("0"), const QStringList& extra = {})
    {
        writeStore(sectionText(
            kEncoderMac,
            QStringList{QStringLiteral("NAME=STUDIO A"), QStringLiteral("IP=10.0.0.5"),
                        QStringLiteral("MASK=255.255.255.0"), QStringLiteral("GW=10.0.0.1"),
                        QStringLiteral("INPUT=1"), QStringLiteral("TYPE=1"), QStringLiteral("TX=") + tx,
                        QStringLiteral("ROLE=1"), QStringLiteral("SN=32769"), QStringLiteral("VER=3.1")} +
                extra));
        panel->loadElement(QStringLiteral("STUDIO A [") + kEncoderMac + ']', kEncoderMac);
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("nms.ini"));
    vexo::ElementStore store{path};
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeProgramEnd programEnd;
    FakeArp arp;
    FakeIcmp icmp;
    std::unique_ptr<vexo::Station> station;

    std::unique_ptr<QWidget> window;
    QPushButton* cmdPing = nullptr;
    QPushButton* cmdGetStats = nullptr;
    QCheckBox* chkGetVolume = nullptr;
    QWidget* VUMeter = nullptr;
    QLabel* lblVolume = nullptr;
    QAction* startMonitoring = nullptr;
    QAction* stopMonitoring = nullptr;
    bool monitorRunning = false;
    std::unique_ptr<vexo::PropertiesPanel> panel;
};
