// Fleet figures: how long a lab of N elements takes to build, how fast the whole fleet answers
// one paging broadcast, how much memory the simulator holds, and whether the station's
// neighbour table takes every element. Needs root inside a private network namespace:
//   unshare -n sh -c 'ip link set lo up; VEXO_BIN=build-sim build-sim/bench/sim/bench_sim_fleet [N]'
#include "Lab.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureCodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vexo;

namespace {

// Replies received on the socket until `count` arrived or the time is up; returns the elapsed
// time of the last one (ms), and the distinct senders.
double collect(int fd, int count, int timeoutMs, const QElapsedTimer& clock, QSet<quint32>& senders)
{
    double last = 0;
    char buf[2048];
    while (senders.size() < count && clock.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        for (;;) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                break;
            senders.insert(from.sin_addr.s_addr);
            last = double(clock.nsecsElapsed()) / 1e6;
        }
    }
    return last;
}

int udpSocket(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1, buffer = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

void sendTo(int fd, const QByteArray& d, const QString& ip, quint16 port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, ip.toLatin1().constData(), &to.sin_addr);
    ::sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

QString statusLine(qint64 pid, const char* key)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return QString::fromLatin1(line.mid(qstrlen(key))).simplified();
    return {};
}

int completeNeighbours()
{
    QFile f(QStringLiteral("/proc/net/arp"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    int n = 0;
    f.readLine();
    while (!f.atEnd())
        if (QString::fromLatin1(f.readLine())
                .simplified()
                .split(QLatin1Char(' '))
                .value(2)
                .toInt(nullptr, 16) &
            2)
            ++n;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::clamp(QByteArray(argv[1]).toInt(), 2, 1000) : 1000;
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty()) {
        std::printf("bench_sim_fleet: skipped: %s\n", qPrintable(reason));
        return 0;
    }
    Lab lab;
    QString error;
    QElapsedTimer clock;
    clock.start();
    if (!lab.up(total / 2, total - total / 2, 0, &error)) {
        std::printf("bench_sim_fleet: lab failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("lab up (%d elements, Lab helper)       %8.0f ms\n", total, double(clock.elapsed()));

    const int fd = udpSocket(kConfigPort);
    for (int round = 1; round <= 3; ++round) {
        QSet<quint32> senders;
        clock.restart();
        sendTo(fd, QByteArray(kPagingRequest, kPagingRequestSize), QStringLiteral("255.255.255.255"),
               kPagingPort);
        const double last = collect(fd, total, 3000, clock, senders);
        std::printf("paging round %d: %4lld of %d replies, last after %8.1f ms (goal: all within 200 ms)\n",
                    round, qint64(senders.size()), total, last);
    }
    std::printf("simulator resident memory              %s (goal: < 100 MB for 1000)\n",
                qPrintable(statusLine(lab.fleetPid(), "VmRSS:")));
    std::printf("simulator peak resident memory         %s\n",
                qPrintable(statusLine(lab.fleetPid(), "VmHWM:")));

    // The station asks every element once (as the statistics window would): its neighbour table
    // must take them all.
    const int measure = udpSocket(kMeasurePort);
    QSet<quint32> senders;
    clock.restart();
    for (const Lab::Element& e : lab.elements())
        sendTo(measure, kGetStats, e.ip, kMeasurePort);
    const double last = collect(measure, total, 10000, clock, senders);
    std::printf("GetStats to each: %4lld of %d records, last after %8.1f ms\n", qint64(senders.size()), total,
                last);
    std::printf("station neighbour table: %d complete entries\n", completeNeighbours());
    ::close(fd);
    ::close(measure);
    clock.restart();
    lab.down();
    std::printf("lab down                               %8.0f ms\n", double(clock.elapsed()));
    return 0;
}
