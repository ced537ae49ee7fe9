#pragma once

#include "Numbers.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
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
    // As resolve(), but answers from what is known now and never waits for the network: the
    // address is asked for when unknown, and a later call finds the answer. For callers on the
    // GUI thread, which retry from a timer.
    virtual bool resolveNow(quint32 ipv4, QByteArray& hw) { return resolve(ipv4, hw); }
    // Addresses that are about to be resolved, in host byte order: an implementation may start
    // resolving all of them now, so that the lookups that follow wait for one round trip
    // together instead of one each.
    virtual void prepare(const QList<quint32>& ipv4s) { Q_UNUSED(ipv4s); }
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
//
// The table is read once (one dump) and then kept current from the change notifications, so that
// a burst of lookups (a discovery answered by hundreds of elements) does not read the whole table
// once per element. When notifications were lost (the socket overflowed) the table is read again.
class NeighbourTableArp : public Arp
{
public:
    explicit NeighbourTableArp(int attemptMs = 100);
    ~NeighbourTableArp() override;
    NeighbourTableArp(const NeighbourTableArp&) = delete;
    NeighbourTableArp& operator=(const NeighbourTableArp&) = delete;

    bool resolve(quint32 ipv4, QByteArray& hw) override;
    bool resolveNow(quint32 ipv4, QByteArray& hw) override;
    void prepare(const QList<quint32>& ipv4s) override;

    struct Neighbour
    {
        int state = 0; // NUD_* of the kernel's entry
        QByteArray hw;
    };

private:
    // Reads what changed since the last call; reads the whole table when it is not known (yet).
    // False when the table cannot be followed: every attempt then reads it itself.
    bool follow();
    bool resolveOnce(quint32 ipv4, QByteArray& hw);
    bool provoke(quint32 ipv4);

    int m_attemptMs;
    int m_events = -1;         // netlink socket subscribed to the table's changes
    bool m_tableKnown = false; // m_table holds the whole table, brought up to date by m_events
    quint64 m_changes = 0;     // counts the changes applied, to tell a fresh answer from an old one
    // Entries by IPv4 address (network byte order), then by interface index.
    QHash<quint32, QHash<int, Neighbour>> m_table;
    QHash<quint32, quint64> m_changedAt;
    // The caller retries every few hundred milliseconds for up to 20 s; an address that never
    // gets an entry (off the local subnet) is provoked at most once a second, not every attempt.
    QHash<quint32, qint64> m_provokedAt;
    QElapsedTimer m_clock;
};

} // namespace vexo
