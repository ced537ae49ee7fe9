// Runs a shell command in the station's side of a private namespace lab (the tests' Lab), for
// transcripts of vexolink-cli against simulated elements:
//   unshare -n build/bench/cli/cli_lab_shell ENCODERS DECODERS SFN 'vexolink-cli discover --save' [--state]
// --state prints each element's state dump after the command.
// The command sees the lab's element list in $LAB_ELEMENTS (one "mac ip name" line each).
// $LAB_ELEMENT_ARGS gives elements simulator options: "1:--latency-ns 500000;3:--silent".
#include "Lab.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ENCODERS DECODERS SFN COMMAND\n", argv[0]);
        return 2;
    }
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty()) {
        std::fprintf(stderr, "no lab: %s\n", qPrintable(reason));
        return 1;
    }
    Lab lab;
    QString error;
    QMap<int, QStringList> elementArgs;
    for (const QString& part :
         qEnvironmentVariable("LAB_ELEMENT_ARGS").split(QLatin1Char(';'), Qt::SkipEmptyParts))
        elementArgs[part.section(QLatin1Char(':'), 0, 0).toInt()] =
            part.section(QLatin1Char(':'), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!lab.up(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), &error, elementArgs)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QString elements;
    for (const Lab::Element& e : lab.elements())
        elements += QStringLiteral("%1 %2 %3\n").arg(e.mac, e.ip, e.name);
    QProcess shell;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LAB_ELEMENTS"), elements);
    shell.setProcessEnvironment(env);
    shell.setProcessChannelMode(QProcess::ForwardedChannels);
    shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), QString::fromLocal8Bit(argv[4])});
    shell.waitForFinished(-1);
    // What the elements hold now, as the simulator dumps it.
    if (argc > 5 && QByteArray(argv[5]) == "--state") {
        for (int i = 0; i < lab.elements().size(); ++i)
            std::printf("state of %s: %s\n", qPrintable(lab.elements()[i].mac),
                        qPrintable(lab.stateOf(i).simplified()));
    }
    return shell.exitCode();
}
