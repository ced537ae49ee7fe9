#include "Icmp.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <cerrno>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

namespace vexo {

namespace {

constexpr quint8 kEchoReply = 0;
constexpr quint8 kDestUnreachable = 3;
constexpr quint8 kSourceQuench = 4;
constexpr quint8 kEchoRequest = 8;
constexpr quint8 kTimeExceeded = 11;
constexpr quint8 kParameterProblem = 12;

int openSocket(bool raw)
{
    return ::socket(AF_INET, (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, IPPROTO_ICMP);
}

quint16 checksum(const QByteArray& bytes)
{
    quint32 sum = 0;
    const auto* p = reinterpret_cast<const quint8*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i + 1 < n; i += 2)
        sum += (quint32(p[i]) << 8) | p[i + 1];
    if (n % 2)
        sum += quint32(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

quint16 be16(const quint8* p)
{
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

quint32 be32(const quint8* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

// ICMP error type and code as the IP status the echo reports.
qint32 statusOfIcmpError(int type, int code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:  // net
        case 6:  // net unknown
        case 9:  // net administratively prohibited
        case 11: // net unreachable for the type of service
            return ipstatus::DestNetUnreachable;
        case 2:
            return ipstatus::DestProtUnreachable;
        case 3:
            return ipstatus::DestPortUnreachable;
        case 4: // fragmentation needed
            return ipstatus::PacketTooBig;
        case 5: // source route failed
            return ipstatus::BadRoute;
        default: // host, host unknown, host prohibited, communication prohibited...
            return ipstatus::DestHostUnreachable;
        }
    case kSourceQuench:
        return ipstatus::SourceQuench;
    case kTimeExceeded:
        return code == 1 ? ipstatus::TtlExpiredReassembly : ipstatus::TtlExpiredTransit;
    case kParameterProblem:
        return ipstatus::ParamProblem;
    default:
        return ipstatus::GeneralFailure;
    }
}

// A failure the local stack reports (on sending, or later through the error queue).
qint32 statusOfErrno(int error)
{
    switch (error) {
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return ipstatus::DestHostUnreachable;
    case ENETUNREACH:
    case ENETDOWN:
        return ipstatus::DestNetUnreachable;
    case EMSGSIZE:
        return ipstatus::PacketTooBig;
    case ENOBUFS:
    case ENOMEM:
        return ipstatus::NoResources;
    case EACCES: // a broadcast address
        return ipstatus::BadDestination;
    default:
        return ipstatus::GeneralFailure;
    }
}

quint32 elapsedMs(const QElapsedTimer& clock)
{
    // Whole milliseconds, cut down as the platform has always reported them (a fast local answer
    // reads 0 ms).
    return static_cast<quint32>(clock.nsecsElapsed() / 1000000);
}

} // namespace

LinuxIcmp::LinuxIcmp(QList<Facility> facilities, QString pingProgram)
    : m_facilities(std::move(facilities)), m_pingProgram(std::move(pingProgram))
{
}

QString LinuxIcmp::pingPath() const
{
    if (!m_pingProgram.isEmpty())
        return QFileInfo(m_pingProgram).isExecutable() ? m_pingProgram : QString();
    QString path = QStandardPaths::findExecutable(QStringLiteral("ping"));
    if (path.isEmpty()) {
        // PATH of a desktop session may leave out the system folders where ping lives.
        path = QStandardPaths::findExecutable(QStringLiteral("ping"),
                                              {QStringLiteral("/usr/bin"), QStringLiteral("/bin"),
                                               QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    }
    return path;
}

bool LinuxIcmp::available(Facility facility) const
{
    if (facility == Facility::PingProgram)
        return !pingPath().isEmpty();
    const int fd = openSocket(facility == Facility::RawSocket);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool LinuxIcmp::startup()
{
    for (Facility f : m_facilities) {
        if (available(f))
            return true;
    }
    return false;
}

void LinuxIcmp::cleanup()
{
    // Every echo opens and closes its own socket or process: nothing is held between tests.
}

Icmp::Reply LinuxIcmp::echo(quint32 ipv4, const QByteArray& data, int timeoutMs)
{
    for (Facility f : m_facilities) {
        if (f == Facility::PingProgram) {
            Reply reply;
            if (echoProgram(ipv4, data, timeoutMs, reply)) {
                m_last = static_cast<int>(f);
                return reply;
            }
            continue;
        }
        const bool raw = f == Facility::RawSocket;
        const int fd = openSocket(raw);
        if (fd < 0)
            continue;
        m_last = static_cast<int>(f);
        const Reply reply = echoSocket(fd, raw, ipv4, data, timeoutMs);
        ::close(fd);
        return reply;
    }
    m_last = -1;
    return {};
}

Icmp::Reply LinuxIcmp::echoSocket(int fd, bool raw, quint32 ipv4, const QByteArray& data, int timeoutMs)
{
    Reply reply;
    const int on = 1;
    // Errors the stack or a router reports about our echo come back through the error queue.
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on));
    if (raw) {
        // A raw socket sees every ICMP message of the host: keep only the kinds that can answer us.
        icmp_filter filter{};
        filter.data = ~((1U << kEchoReply) | (1U << kDestUnreachable) | (1U << kSourceQuench) |
                        (1U << kTimeExceeded) | (1U << kParameterProblem));
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    }

    // On a datagram socket the kernel puts in its own identifier and checksum.
    const quint16 id = static_cast<quint16>(::getpid());
    const quint16 seq = ++m_sequence;
    QByteArray packet(8, '\0');
    packet[0] = char(kEchoRequest);
    packet[4] = char(id >> 8);
    packet[5] = char(id & 0xFF);
    packet[6] = char(seq >> 8);
    packet[7] = char(seq & 0xFF);
    packet += data;
    const quint16 sum = checksum(packet);
    packet[2] = char(sum >> 8);
    packet[3] = char(sum & 0xFF);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ipv4);
    QElapsedTimer clock;
    clock.start();
    if (::sendto(fd, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof(to)) < 0) {
        reply.status = statusOfErrno(errno);
        return reply;
    }

    const QDeadlineTimer deadline(timeoutMs);
    alignas(8) quint8 buf[1500];
    for (;;) {
        const int left = int(deadline.remainingTime());
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            reply.status = ipstatus::RequestTimedOut;
            return reply;
        }
        if (p.revents & POLLERR) {
            alignas(cmsghdr) char control[512];
            iovec iov{buf, sizeof(buf)};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof(control);
            const ssize_t n = ::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
            if (n < 0)
                continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                    continue;
                sock_extended_err ee{};
                std::memcpy(&ee, CMSG_DATA(c), sizeof(ee));
                // The queued copy of our datagram socket's echo starts with its ICMP header.
                const bool ours = raw || n < 8 || be16(buf + 6) == seq;
                if (ee.ee_origin == SO_EE_ORIGIN_LOCAL && ours) {
                    reply.status = statusOfErrno(int(ee.ee_errno));
                    reply.roundTripMs = elapsedMs(clock);
                    return reply;
                }
                // A raw socket is told of errors about every echo to this address: it takes
                // them from the ICMP messages themselves below, where they can be matched.
                if (ee.ee_origin == SO_EE_ORIGIN_ICMP && !raw && ours) {
                    reply.status = statusOfIcmpError(ee.ee_type, ee.ee_code);
                    reply.roundTripMs = elapsedMs(clock);
                    return reply;
                }
            }
            continue;
        }
        sockaddr_in from{};
        socklen_t fromLen = sizeof(from);
        const ssize_t n =
            ::recvfrom(fd, buf, sizeof(buf), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0)
            continue;
        const quint8* icmp = buf;
        ssize_t icmpLen = n;
        if (raw) {
            // A raw socket hands over the IP header too.
            if (n < 20)
                continue;
            const int ihl = (buf[0] & 0x0F) * 4;
            if (ihl < 20 || n < ihl + 8)
                continue;
            icmp = buf + ihl;
            icmpLen = n - ihl;
        }
        if (icmpLen < 8)
            continue;
        const quint8 type = icmp[0];
        if (type == kEchoReply) {
            if (ntohl(from.sin_addr.s_addr) != ipv4 || be16(icmp + 6) != seq)
                continue;
            if (raw && be16(icmp + 4) != id)
                continue;
            reply.status = ipstatus::Success;
            reply.roundTripMs = elapsedMs(clock);
            return reply;
        }
        if (!raw || type == kEchoRequest)
            continue;
        // An error message quotes the IP header and the first 8 bytes of the echo it is about.
        const quint8* inner = icmp + 8;
        const ssize_t innerLen = icmpLen - 8;
        if (innerLen < 20)
            continue;
        const int innerIhl = (inner[0] & 0x0F) * 4;
        if (innerIhl < 20 || innerLen < innerIhl + 8 || inner[9] != IPPROTO_ICMP || be32(inner + 16) != ipv4)
            continue;
        const quint8* quoted = inner + innerIhl;
        if (quoted[0] != kEchoRequest || be16(quoted + 4) != id || be16(quoted + 6) != seq)
            continue;
        reply.status = statusOfIcmpError(type, icmp[1]);
        reply.roundTripMs = elapsedMs(clock);
        return reply;
    }
}

bool LinuxIcmp::echoProgram(quint32 ipv4, const QByteArray& data, int timeoutMs, Reply& reply)
{
    const QString program = pingPath();
    if (program.isEmpty())
        return false;
    const QString address = QHostAddress(ipv4).toString();
    const int seconds = std::max(1, (timeoutMs + 999) / 1000);
    // -n: no name look-up of the answering address, which could hold the answer back.
    QStringList args{QStringLiteral("-n"),        QStringLiteral("-c"),     QStringLiteral("1"),
                     QStringLiteral("-W"),        QString::number(seconds), QStringLiteral("-s"),
                     QString::number(data.size())};
    // ping fills its data with a pattern of up to 16 bytes: the whole data, as long as it fits.
    if (!data.isEmpty() && data.size() <= 16)
        args << QStringLiteral("-p") << QString::fromLatin1(data.toHex());
    args << address;

    QProcess ping;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    ping.setProcessEnvironment(env);
    ping.setProcessChannelMode(QProcess::MergedChannels);
    ping.start(program, args);
    if (!ping.waitForStarted(2000))
        return false;
    // ping times only echoes of 8 data bytes or more. For ours the time runs from the line ping
    // prints right before sending to its reply line; from its start, should that line be missing.
    QElapsedTimer clock;
    clock.start();

    static const QRegularExpression timeField(QStringLiteral("time[=<]([0-9]+(?:\\.[0-9]+)?)"));
    struct Outcome
    {
        const char* text;
        qint32 status;
    };
    static const Outcome outcomes[] = {
        {"Destination Host Unreachable", ipstatus::DestHostUnreachable},
        {"Destination Net Unreachable", ipstatus::DestNetUnreachable},
        {"Destination Protocol Unreachable", ipstatus::DestProtUnreachable},
        {"Destination Port Unreachable", ipstatus::DestPortUnreachable},
        {"Frag needed", ipstatus::PacketTooBig},
        {"Source Route Failed", ipstatus::BadRoute},
        {"Source Quench", ipstatus::SourceQuench},
        {"Time to live exceeded", ipstatus::TtlExpiredTransit},
        {"Frag reassembly time exceeded", ipstatus::TtlExpiredReassembly},
        {"Parameter problem", ipstatus::ParamProblem},
        {"Network is unreachable", ipstatus::DestNetUnreachable},
        {"No route to host", ipstatus::DestHostUnreachable},
    };

    // Its own -W ends ping; the grace covers its start and end.
    const QDeadlineTimer deadline(timeoutMs + 1500);
    qint32 status = 0x7FFFFFFF; // nothing seen yet
    QByteArray output;
    auto readLines = [&] {
        while (ping.canReadLine()) {
            const QByteArray line = ping.readLine();
            output += line;
            if (status != 0x7FFFFFFF)
                continue;
            if (line.startsWith("PING ")) {
                // ping writes this line (unbuffered) just before it sends the echo.
                clock.start();
                continue;
            }
            if (line.contains(" bytes from ")) {
                status = ipstatus::Success;
                const auto m = timeField.match(QString::fromLatin1(line));
                reply.roundTripMs =
                    m.hasMatch() ? quint32(std::floor(m.captured(1).toDouble())) : elapsedMs(clock);
                continue;
            }
            for (const Outcome& o : outcomes) {
                if (line.contains(o.text)) {
                    status = o.status;
                    break;
                }
            }
        }
    };
    while (ping.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        ping.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        readLines();
    }
    if (ping.state() != QProcess::NotRunning) {
        ping.kill();
        ping.waitForFinished(1000);
    }
    readLines();
    if (status == 0x7FFFFFFF) {
        if (ping.exitStatus() == QProcess::NormalExit && ping.exitCode() == 1)
            status = ipstatus::RequestTimedOut; // sent, no answer
        else if (deadline.hasExpired())
            status = ipstatus::RequestTimedOut;
        else if (output.contains("Operation not permitted") || output.contains("socket:"))
            return false; // ping could not open its own socket: no echo was sent
        else
            status = ipstatus::GeneralFailure;
    }
    reply.status = status;
    return true;
}

} // namespace vexo
