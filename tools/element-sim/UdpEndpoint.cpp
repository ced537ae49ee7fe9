#include "UdpEndpoint.h"

#include <QSocketNotifier>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexo::sim {

quint32 ipv4FromText(const QString& dotted)
{
    in_addr a{};
    if (inet_pton(AF_INET, dotted.trimmed().toLatin1().constData(), &a) != 1)
        return 0;
    return ntohl(a.s_addr);
}

QString ipv4Text(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

UdpEndpoint::UdpEndpoint(QObject* parent) : QObject(parent)
{
    m_buffer.resize(65536);
}

UdpEndpoint::~UdpEndpoint()
{
    close();
}

bool UdpEndpoint::open(quint32 bindAddress, quint16 port, int receiveBuffer, QString* error, bool shared)
{
    close();
    auto fail = [&](const char* what) {
        if (error)
            *error = QStringLiteral("%1 %2:%3: %4")
                         .arg(QLatin1String(what), ipv4Text(bindAddress))
                         .arg(port)
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    };
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return fail("socket");
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (shared && ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return fail("SO_REUSEADDR");
    if (receiveBuffer > 0) {
        // A thousand elements see each paging broadcast a thousand times: the buffer must hold
        // the whole burst. FORCE passes the system limit when we are allowed to.
        if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        // Answers that wait for the station's ARP answer stay charged to the socket meanwhile.
        if (::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(bindAddress);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return fail("bind");
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdpEndpoint::readPending);
    return true;
}

void UdpEndpoint::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void UdpEndpoint::readPending()
{
    // Drain everything that is queued: one notification may stand for a burst.
    while (m_fd >= 0) {
        sockaddr_in from{};
        iovec iov{m_buffer.data(), size_t(m_buffer.size())};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &msg, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: drained
        }
        Datagram d;
        d.data = QByteArray(m_buffer.constData(), qsizetype(n));
        d.source = ntohl(from.sin_addr.s_addr);
        d.sourcePort = ntohs(from.sin_port);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                d.destination = ntohl(info.ipi_addr.s_addr);
                d.interfaceIndex = info.ipi_ifindex;
            }
        }
        if (m_handler)
            m_handler(d);
    }
}

bool UdpEndpoint::sendTo(const QByteArray& data, quint32 destination, quint16 port, quint32 source,
                         int interfaceIndex, QString* error)
{
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("socket closed");
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(destination);
    iovec iov{const_cast<char*>(data.constData()), size_t(data.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (source != 0 || interfaceIndex != 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = interfaceIndex;
        info.ipi_spec_dst.s_addr = htonl(source);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    for (;;) {
        if (::sendmsg(m_fd, &msg, MSG_DONTWAIT) == ssize_t(data.size()))
            return true;
        if (errno == EINTR)
            continue;
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
}

} // namespace vexo::sim
