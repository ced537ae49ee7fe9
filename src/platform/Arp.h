#pragma once

#include "Numbers.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

namespace vexo {

// The operating system's address resolution, as the MAC lookup needs it.
class Arp
{
public:
    virtual ~Arp() = default;
    // ipv4 in host byte order; fills hw with the hardware address bytes; true on success.
    virtual bool resolve(quint32 ipv4, QByteArray& hw) = 0;
};

// Linux: the kernel's neighbour table, read over rtnetlink (RTM_GETNEIGH).
//
// Netlink rather than /proc/net/arp because it reports the entry's exact state (a FAILED or
// INCOMPLETE entry must not count as an answer) and the hardware address as bytes with their real
// length, and because the same socket can listen for the table's change notifications, so an
// attempt wakes up the moment the kernel learns the address instead of polling a text file.
//
// An address that is not yet known is resolved by the kernel itself: one empty UDP datagram to the
// discard port (9) makes it send ARP requests, which needs no privileges. Each attempt waits at
// most attemptMs for the answer; the caller keeps retrying (and its window alive) between attempts.
class NeighbourTableArp : public Arp
{
public:
    explicit NeighbourTableArp(int attemptMs = 100) : m_attemptMs(attemptMs) {}
    bool resolve(quint32 ipv4, QByteArray& hw) override;

private:
    int m_attemptMs;
    // The caller retries every few hundred milliseconds for up to 20 s; an address that never
    // gets an entry (off the local subnet) is provoked at most once a second, not every attempt.
    quint32 m_lastProvoked = 0;
    QElapsedTimer m_sinceProvoked;
};

} // namespace vexo
