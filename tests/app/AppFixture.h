#pragma once

#include "Fakes.h"
#include "Lab.h"
#include "TestUtil.h"
#include "core/Station.h"
#include "discovery/Discovery.h"
#include "gui/ElementTree.h"
#include "gui/MainWindow.h"
#include "gui/PropertiesPanel.h"
#include "platform/Arp.h"
#include "platform/InstanceGuard.h"

#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

struct FakeInstanceGuard : vexo::InstanceGuard
{
    bool acquire() override { return free; }
    bool free = true;
};

// A main window with fakes for every machine service (the notice acknowledged) and a store in a
// fresh folder. Its sockets bind 127.0.0.1, so a stand-in element can use 127.0.0.2.
struct AppFixture : FakeMachine
{
    AppFixture() { settings.values["EULA1"] = "1"; }
    QString storePath() const { return dir.filePath("nms.ini"); }

    vexo::MainWindow& make(const QStringList& arguments = {}, vexo::Arp* realArp = nullptr,
                           const QHostAddress& bind = QHostAddress("127.0.0.1"))
    {
        window = std::make_unique<vexo::MainWindow>(
            vexo::Services{boxes, settings, guard, end, realArp ? *realArp : arp, icmp, storePath(), bind},
            arguments);
        window->station().discovery().setInterfaceSource(cards);
        return *window;
    }
    // The window started on a store of these bytes.
    vexo::MainWindow& startOn(const QByteArray& store, const QStringList& arguments = {})
    {
        EXPECT_TRUE(writeFile(storePath(), store));
        vexo::MainWindow& w = make(arguments);
        EXPECT_TRUE(w.startUp());
        return w;
    }

    QTemporaryDir dir;
    FakeInstanceGuard guard;
    FakeInterfaces cards;
    std::unique_ptr<vexo::MainWindow> window;
};

// The station window with the real ARP lookup inside a namespace lab of simulated elements. The
// lab comes first: the station's sockets are made in the lab's namespace.
struct LabStation
{
    bool start(int encoders, int decoders, int sfn, QString* error, const QMap<int, QStringList>& faults = {})
    {
        if (!lab.up(encoders, decoders, sfn, error, faults))
            return false;
        f.make({}, &arp, QHostAddress::AnyIPv4).station().discovery().setInterfaceSource(systemCards);
        if (!window->startUp())
            *error = "the station did not start";
        return error->isEmpty();
    }

    // "Discover elements", answered Yes; returns when the paging window has closed. The wait
    // ends as soon as every element of the lab is stored, not after its 3 s.
    void discover()
    {
        f.boxes.answers << vexo::MsgAnswer::Yes;
        vexo::Discovery& d = window->station().discovery();
        const auto all = QObject::connect(&d, &vexo::Discovery::progress, &d, [this, &d](int stored) {
            if (stored == int(lab.elements().size()))
                QMetaObject::invokeMethod(&d, &vexo::Discovery::finish, Qt::QueuedConnection);
        });
        child<QAction>(*window, "actDiscover")->trigger();
        QObject::disconnect(all);
    }

    // A click on the element's tree entry; true when the panel shows it.
    bool select(int index)
    {
        const QString mac = lab.elements().value(index).mac;
        QTreeWidgetItem* item = window->tree().findEntry(mac);
        if (item)
            QTest::mouseClick(child<QTreeWidget>(*window, "TreeView1")->viewport(), Qt::LeftButton, {},
                              child<QTreeWidget>(*window, "TreeView1")->visualItemRect(item).center());
        return item && child<vexo::PropertiesPanel>(*window, "frmProperties")->selectedMac() == mac;
    }

    Lab lab;
    AppFixture f;
    vexo::NeighbourTableArp arp;
    vexo::SystemNetworkInterfaces systemCards; // the lab's, in the station's namespace
    std::unique_ptr<vexo::MainWindow>& window = f.window;
};
