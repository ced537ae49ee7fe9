// Sends one ICMP echo ("hello", 3000 ms) to the address given on the command line through the
// station's ICMP facility chain and prints the status and the facility that carried it. The
// packaging test runs it as an ordinary user, who may have neither ICMP socket.
#include "platform/Icmp.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = false;
    const quint32 ipv4 = QHostAddress(args.value(1)).toIPv4Address(&ok);
    if (!ok) {
        std::fprintf(stderr, "usage: vexo_ping_probe IPV4\n");
        return 2;
    }
    vexo::LinuxIcmp icmp;
    if (!icmp.startup()) {
        std::printf("status=-1 facility=-1\n");
        return 1;
    }
    const vexo::Icmp::Reply reply = icmp.echo(ipv4, QByteArrayLiteral("hello"), 3000);
    icmp.cleanup();
    std::printf("status=%d facility=%d\n", int(reply.status), icmp.lastFacility());
    return reply.status == vexo::ipstatus::Success ? 0 : 1;
}
