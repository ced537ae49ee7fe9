#include "Commands.h"
#include "platform/Version.h"

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
    // The window program's name: its data folder holds the store of an installed station.
    QCoreApplication::setApplicationName(QStringLiteral("vexolink-nms"));
    QCoreApplication::setOrganizationName(QStringLiteral("Korvanta"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vexo::kVersionText));

    QTextStream out(stdout);
    QTextStream err(stderr);
    vexo::QtUserSettings settings;
    vexo::NeighbourTableArp arp;
    vexo::LinuxIcmp icmp;
    // The store of the window program by the same rules: this program lives beside vexolink-nms
    // (installed and in a build tree alike), VEXOLINK_NMS_STORE first.
    vexo::cli::CliEnvironment env{out, err,  settings,
                                  arp, icmp, vexo::resolveStorePath(QCoreApplication::applicationDirPath())};
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return vexo::cli::runCli(arguments, env);
}
