#include "Commands.h"

#include "platform/Arp.h"
#include "platform/Icmp.h"
#include "platform/StorePath.h"
#include "platform/UserSettings.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vexolink-cli"));
    QCoreApplication::setOrganizationName(QStringLiteral("Korvanta"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.4.4"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    vexo::QtUserSettings settings;
    vexo::NeighbourTableArp arp;
    vexo::LinuxIcmp icmp;
    // The store of the window program: the same rules, the folder of vexolink-nms (installed
    // beside this program), VEXOLINK_NMS_STORE first.
    vexo::cli::CliEnvironment env{out, err,  settings,
                                  arp, icmp, vexo::resolveStorePath(QCoreApplication::applicationDirPath())};
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return vexo::cli::runCli(arguments, env);
}
