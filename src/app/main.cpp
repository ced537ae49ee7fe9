#include "StationHelp.h"
#include "core/Station.h"
#include "discovery/InterfaceChoice.h"
#include "gui/MainWindow.h"
#include "gui/Pictures.h"
#include "gui/QtMessageBoxes.h"
#include "platform/Arp.h"
#include "platform/Icmp.h"
#include "platform/InstanceGuard.h"
#include "platform/ProgramEnd.h"
#include "platform/StorePath.h"
#include "platform/UserSettings.h"
#include "platform/Version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Before the window system is asked for anything: the help also serves a terminal without a
    // display and the build of the manual page.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(vexo::stationHelp().toLocal8Bit().constData(), stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vexolink-nms"));
    QApplication::setOrganizationName(QStringLiteral("Korvanta"));
    QApplication::setApplicationVersion(QString::fromLatin1(vexo::kVersionText));
    QApplication::setWindowIcon(vexo::applicationIcon());
    // The id of the installed desktop entry (com.korvanta.VexolinkNMS.desktop): the desktop shell
    // matches the window with its menu entry and icon by it (the Wayland app id, too).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.korvanta.VexolinkNMS"));

    vexo::QtMessageBoxes boxes;
    vexo::QtUserSettings settings;
    vexo::LockFileInstanceGuard guard;
    vexo::ProcessEnd programEnd;
    vexo::NeighbourTableArp arp;
    vexo::LinuxIcmp icmp;
    const QString storePath = vexo::resolveStorePath(QApplication::applicationDirPath());

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    vexo::InterfaceOptions interfaces;
    QString problem;
    if (!vexo::takeInterfaceOptions(arguments, interfaces, &problem)) {
        boxes.critical(vexo::kAppTitle, problem);
        return 2;
    }
    vexo::MainWindow window(vexo::Services{boxes, settings, guard, programEnd, arp, icmp, storePath},
                            arguments);
    boxes.setParent(&window);
    window.station().discovery().setInterfaceNames(vexo::pagingInterfaceChoice(settings, interfaces));
    if (!window.startUp())
        return 0; // another instance runs; a fatal error has already ended the process
    window.show();
    return app.exec();
}
