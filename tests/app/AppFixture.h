#pragma once

#include "Fakes.h"
#include "TestUtil.h"
#include "core/Station.h"
#include "gui/MainWindow.h"
#include "platform/InstanceGuard.h"

#include <QHash>
#include <QTemporaryDir>

#include <memory>

class FakeInstanceGuard : public vexo::InstanceGuard
{
public:
    bool acquire() override { return free; }
    bool free = true;
};

// A main window with fakes for every machine service and a store in a fresh folder. The
// station's sockets bind 127.0.0.1, so a stand-in element can use 127.0.0.2.
class AppFixture
{
public:
    AppFixture() { settings.values["EULA1"] = "1"; }
    QString storePath() const { return dir.filePath("nms.ini"); }

    vexo::MainWindow& make(const QStringList& arguments = {})
    {
        window =
            std::make_unique<vexo::MainWindow>(vexo::Services{boxes, settings, guard, programEnd, arp, icmp,
                                                              storePath(), QHostAddress("127.0.0.1")},
                                               arguments);
        return *window;
    }

    QTemporaryDir dir;
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeInstanceGuard guard;
    FakeProgramEnd programEnd;
    FakeArp arp;
    FakeIcmp icmp;
    std::unique_ptr<vexo::MainWindow> window;
};
