#pragma once

#include "AppFixture.h"
#include "Lab.h"
#include "gui/ElementTree.h"
#include "gui/PropertiesPanel.h"
#include "platform/Arp.h"

#include <QTreeWidget>
#include <QtTest/QTest>

#include <memory>

// The station window (offscreen) with the real ARP lookup inside a namespace lab of simulated
// elements. The lab comes first: the station's sockets are made in the lab's namespace.
class LabStation
{
public:
    bool start(int encoders, int decoders, int sfn, QString* error, const QMap<int, QStringList>& faults = {})
    {
        if (!lab.up(encoders, decoders, sfn, error, faults))
            return false;
        window =
            std::make_unique<vexo::MainWindow>(vexo::Services{f.boxes, f.settings, f.guard, f.programEnd, arp,
                                                              f.icmp, f.storePath(), QHostAddress::AnyIPv4},
                                               QStringList{});
        if (!window->startUp()) {
            *error = QStringLiteral("the station did not start");
            return false;
        }
        return true;
    }

    // "Discover elements", answered Yes; returns when the paging window has closed.
    void discover()
    {
        f.boxes.answers << vexo::MsgAnswer::Yes;
        window->onToolbarButton(1);
    }

    // A click on the element's tree entry; true when the panel shows it.
    bool select(int index)
    {
        const QString mac = lab.elements().value(index).mac;
        QTreeWidgetItem* item = window->tree().findEntry(mac);
        if (!item)
            return false;
        QTest::mouseClick(window->TreeView1->viewport(), Qt::LeftButton, {},
                          window->TreeView1->visualItemRect(item).center());
        return window->frmProperties->selectedMac() == mac;
    }

    Lab lab;
    AppFixture f;
    vexo::NeighbourTableArp arp;
    std::unique_ptr<vexo::MainWindow> window;
};
