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
#include <utility>

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

// One pass over the IPv4 neighbour table, each entry handed to onEntry. False when the table could
// not be read in time.
template <typename F> bool dumpTable(F&& onEntry, const QElapsedTimer& clock, int budgetMs)
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
                onEntry(h);
        });
        if (done)
            return true;
    }
}

bool dumpTable(quint32 ipv4Net, Entry& state, QByteArray& hw, const QElapsedTimer& clock, int budgetMs)
{
    return dumpTable([&](const nlmsghdr* h) { inspectNeighbour(h, ipv4Net, state, hw); }, clock, budgetMs);
}

// An IPv4 entry of a RTM_NEWNEIGH or RTM_DELNEIGH message: address (network order), interface,
// state and hardware address. False for anything else.
bool neighbourOf(const nlmsghdr* h, quint32& ipv4Net, int& ifindex, NeighbourTableArp::Neighbour& entry)
{
    if ((h->nlmsg_type != RTM_NEWNEIGH && h->nlmsg_type != RTM_DELNEIGH) ||
        h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
        return false;
    const auto* nd = static_cast<const ndmsg*>(NLMSG_DATA(h));
    if (nd->ndm_family != AF_INET)
        return false;
    int len = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
    bool haveDst = false;
    for (auto* rta =
             reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(nd) + NLMSG_ALIGN(sizeof(ndmsg)));
         RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        const auto payload = static_cast<int>(RTA_PAYLOAD(rta));
        if (rta->rta_type == NDA_DST && payload == 4) {
            std::memcpy(&ipv4Net, RTA_DATA(rta), 4);
            haveDst = true;
        } else if (rta->rta_type == NDA_LLADDR) {
            entry.hw = QByteArray(static_cast<const char*>(RTA_DATA(rta)), payload);
        }
    }
    ifindex = nd->ndm_ifindex;
    entry.state = nd->ndm_state;
    return haveDst;
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

NeighbourTableArp::NeighbourTableArp(int attemptMs) : m_attemptMs(attemptMs)
{
    m_clock.start();
}

NeighbourTableArp::~NeighbourTableArp()
{
    if (m_events >= 0)
        ::close(m_events);
}

namespace {

// What the table says about an address: a usable entry on any interface wins.
Entry lookUp(const QHash<quint32, QHash<int, NeighbourTableArp::Neighbour>>& table, quint32 ipv4Net,
             QByteArray& hw)
{
    const auto it = table.constFind(ipv4Net);
    if (it == table.constEnd() || it->isEmpty())
        return Entry::Unknown;
    Entry state = Entry::Failed;
    for (const NeighbourTableArp::Neighbour& n : *it) {
        if ((n.state & kUsableStates) && !n.hw.isEmpty()) {
            hw = n.hw;
            return Entry::Known;
        }
        if (n.state & NUD_INCOMPLETE)
            state = Entry::Resolving;
    }
    return state;
}

} // namespace

bool NeighbourTableArp::follow()
{
    if (m_events < 0) {
        m_events = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (m_events < 0)
            return false;
        // Room for the notifications of a thousand addresses resolved at once; an overflow only
        // costs one more reading of the table.
        const int bytes = 1 << 20;
        ::setsockopt(m_events, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_NEIGH;
        if (::bind(m_events, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
            ::close(m_events);
            m_events = -1;
            return false;
        }
        m_tableKnown = false;
    }
    // Subscribed before the table is read, so no change falls between the two; changes read
    // after the dump are newer than it or repeat it.
    auto apply = [this](const nlmsghdr* h) {
        quint32 ipv4Net = 0;
        int ifindex = 0;
        Neighbour entry;
        if (!neighbourOf(h, ipv4Net, ifindex, entry))
            return;
        if (h->nlmsg_type == RTM_DELNEIGH) {
            auto it = m_table.find(ipv4Net);
            if (it != m_table.end() && it->remove(ifindex) && it->isEmpty())
                m_table.erase(it);
        } else {
            m_table[ipv4Net].insert(ifindex, entry);
        }
        m_changedAt.insert(ipv4Net, ++m_changes);
    };
    alignas(nlmsghdr) char buf[16384];
    for (;;) {
        const ssize_t n = ::recv(m_events, buf, sizeof(buf), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS) {
                m_tableKnown = false; // changes were lost: read the table again
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            ::close(m_events);
            m_events = -1;
            return false;
        }
        forEachMessage(buf, n, apply);
    }
    if (!m_tableKnown) {
        m_table.clear();
        QElapsedTimer clock;
        clock.start();
        if (!dumpTable(apply, clock, m_attemptMs))
            return false;
        m_tableKnown = true;
    }
    return true;
}

bool NeighbourTableArp::provoke(quint32 ipv4)
{
    // An address provoked less than a second ago is being resolved already.
    const auto it = m_provokedAt.constFind(ipv4);
    if (it != m_provokedAt.constEnd() && m_clock.elapsed() - *it < 1000)
        return true;
    if (!provokeResolution(ipv4))
        return false;
    m_provokedAt.insert(ipv4, m_clock.elapsed());
    return true;
}

void NeighbourTableArp::prepare(const QList<quint32>& ipv4s)
{
    if (!follow())
        return;
    QByteArray hw;
    for (quint32 ipv4 : ipv4s) {
        if (!isResolvable(ipv4))
            continue;
        const Entry state = lookUp(m_table, htonl(ipv4), hw);
        if (state == Entry::Unknown || state == Entry::Failed)
            provoke(ipv4);
    }
}

bool NeighbourTableArp::resolve(quint32 ipv4, QByteArray& hw)
{
    if (!isResolvable(ipv4))
        return false;
    if (!follow())
        return resolveOnce(ipv4, hw);
    QElapsedTimer clock;
    clock.start();
    const quint32 ipv4Net = htonl(ipv4);
    QByteArray found;
    Entry state = lookUp(m_table, ipv4Net, found);
    if (state == Entry::Known) {
        hw = found;
        return true;
    }
    // An entry still INCOMPLETE is being resolved already: asking again would only add traffic.
    if (state != Entry::Resolving && !provoke(ipv4))
        return false;
    const quint64 asked = m_changedAt.value(ipv4Net);
    while (remainingMs(clock, m_attemptMs) > 0) {
        pollfd p{m_events, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(clock, m_attemptMs)) <= 0)
            break;
        if (!follow())
            return false;
        state = lookUp(m_table, ipv4Net, found);
        if (state == Entry::Known) {
            hw = found;
            return true;
        }
        // The kernel has given up on it for now.
        if (state == Entry::Failed && m_changedAt.value(ipv4Net) != asked)
            return false;
    }
    return false;
}

bool NeighbourTableArp::resolveNow(quint32 ipv4, QByteArray& hw)
{
    // The same look at the table and the same request for an unknown address, with no time
    // given to wait for the answer.
    const int attemptMs = std::exchange(m_attemptMs, 0);
    const bool found = resolve(ipv4, hw);
    m_attemptMs = attemptMs;
    return found;
}

bool NeighbourTableArp::resolveOnce(quint32 ipv4, QByteArray& hw)
{
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
        if (!provoke(ipv4))
            return false;
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
