#include "Arp.h"

#include <QElapsedTimer>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vexo {

namespace {

// Closes a descriptor when the attempt ends, whichever way it ends.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

enum class Entry
{
    Unknown,
    Resolving,
    Failed,
    Known
};

// States in which the kernel holds a usable hardware address for the neighbour.
constexpr int kUsableStates = NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT | NUD_NOARP;

// Looks at one RTM_NEWNEIGH message; updates state/hw when it describes ipv4 (network order).
void inspectNeighbour(const nlmsghdr* h, quint32 ipv4Net, Entry& state, QByteArray& hw)
{
    if (h->nlmsg_type != RTM_NEWNEIGH || h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
        return;
    const auto* nd = static_cast<const ndmsg*>(NLMSG_DATA(h));
    if (nd->ndm_family != AF_INET)
        return;
    int len = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
    bool isOurs = false;
    QByteArray lladdr;
    bool haveLladdr = false;
    for (auto* rta =
             reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(nd) + NLMSG_ALIGN(sizeof(ndmsg)));
         RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        const auto payload = static_cast<int>(RTA_PAYLOAD(rta));
        if (rta->rta_type == NDA_DST && payload == 4) {
            quint32 dst = 0;
            std::memcpy(&dst, RTA_DATA(rta), 4);
            isOurs = dst == ipv4Net;
        } else if (rta->rta_type == NDA_LLADDR) {
            lladdr = QByteArray(static_cast<const char*>(RTA_DATA(rta)), payload);
            haveLladdr = true;
        }
    }
    if (!isOurs)
        return;
    if ((nd->ndm_state & kUsableStates) && haveLladdr && !lladdr.isEmpty()) {
        state = Entry::Known;
        hw = lladdr;
    } else if (state != Entry::Known) {
        // Another interface may still hold a usable entry for the same address: a usable one wins.
        if (nd->ndm_state & NUD_INCOMPLETE)
            state = Entry::Resolving;
        else if (state == Entry::Unknown)
            state = Entry::Failed; // FAILED or NONE: the kernel has given up for now
    }
}

// Walks every netlink message in a received buffer.
template <typename F> void forEachMessage(const char* buf, ssize_t n, F&& f)
{
    int left = static_cast<int>(n);
    for (auto* h = reinterpret_cast<const nlmsghdr*>(buf); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left))
        f(h);
}

int remainingMs(const QElapsedTimer& clock, int budgetMs)
{
    return std::max(0, budgetMs - static_cast<int>(clock.elapsed()));
}

// One pass over the IPv4 neighbour table. False when the table could not be read in time.
bool dumpTable(quint32 ipv4Net, Entry& state, QByteArray& hw, const QElapsedTimer& clock, int budgetMs)
{
    Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!fd.valid())
        return false;
    struct
    {
        nlmsghdr h;
        ndmsg nd;
    } request{};
    request.h.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.h.nlmsg_type = RTM_GETNEIGH;
    request.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.h.nlmsg_seq = 1;
    request.nd.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), &request, request.h.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof(kernel)) < 0)
        return false;

    alignas(nlmsghdr) char buf[32768];
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        // The kernel answers a dump at once; the small floor keeps a late call from giving up
        // before it has read an answer that is already there.
        if (::poll(&p, 1, std::max(20, remainingMs(clock, budgetMs))) <= 0)
            return false;
        const ssize_t n = ::recv(fd.get(), buf, sizeof(buf), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        bool done = false;
        forEachMessage(buf, n, [&](const nlmsghdr* h) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR)
                done = true;
            else
                inspectNeighbour(h, ipv4Net, state, hw);
        });
        if (done)
            return true;
    }
}

// Addresses that no neighbour entry can stand for: "this network", loopback, multicast and the
// limited broadcast. Asking for them must not put anything on the wire.
bool isResolvable(quint32 ipv4)
{
    const quint32 first = ipv4 >> 24;
    return first != 0 && first != 127 && first < 224;
}

// Makes the kernel resolve the address: it queues this empty datagram and sends ARP requests.
// False when the kernel refuses at once (no route, for example).
bool provokeResolution(quint32 ipv4)
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid())
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9); // discard
    to.sin_addr.s_addr = htonl(ipv4);
    return ::sendto(fd.get(), "", 0, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
}

} // namespace

bool NeighbourTableArp::resolve(quint32 ipv4, QByteArray& hw)
{
    if (!isResolvable(ipv4))
        return false;
    QElapsedTimer clock;
    clock.start();
    const quint32 ipv4Net = htonl(ipv4);

    // Listen for the table's changes before reading it, so that no change falls between the two.
    Fd events(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (events.valid()) {
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_NEIGH;
        if (::bind(events.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
            events.reset();
    }

    Entry state = Entry::Unknown;
    QByteArray found;
    if (!dumpTable(ipv4Net, state, found, clock, m_attemptMs))
        return false;
    if (state == Entry::Known) {
        hw = found;
        return true;
    }
    // An entry still INCOMPLETE is being resolved already: asking again would only add traffic.
    if (state != Entry::Resolving) {
        const bool recently =
            m_lastProvoked == ipv4 && m_sinceProvoked.isValid() && m_sinceProvoked.elapsed() < 1000;
        if (!recently) {
            if (!provokeResolution(ipv4))
                return false;
            m_lastProvoked = ipv4;
            m_sinceProvoked.start();
        }
    }

    alignas(nlmsghdr) char buf[8192];
    while (remainingMs(clock, m_attemptMs) > 0) {
        if (!events.valid()) {
            // No notifications to be had: look at the table again after a short pause.
            ::poll(nullptr, 0, std::min(10, remainingMs(clock, m_attemptMs)));
            state = Entry::Unknown;
            if (dumpTable(ipv4Net, state, found, clock, m_attemptMs) && state == Entry::Known) {
                hw = found;
                return true;
            }
            continue;
        }
        pollfd p{events.get(), POLLIN, 0};
        if (::poll(&p, 1, remainingMs(clock, m_attemptMs)) <= 0)
            break;
        const ssize_t n = ::recv(events.get(), buf, sizeof(buf), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break; // ENOBUFS (missed changes) and the like: the final look below settles it
        }
        Entry changed = Entry::Unknown;
        forEachMessage(buf, n, [&](const nlmsghdr* h) { inspectNeighbour(h, ipv4Net, changed, found); });
        if (changed == Entry::Known) {
            hw = found;
            return true;
        }
        if (changed == Entry::Failed)
            return false;
    }
    // A last look, in case a change notification was lost.
    state = Entry::Unknown;
    if (dumpTable(ipv4Net, state, found, clock, 0) && state == Entry::Known) {
        hw = found;
        return true;
    }
    return false;
}

} // namespace vexo
