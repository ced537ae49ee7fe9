#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>

namespace vexo {

// IP status values of an echo, the numbers the operator's tools have always used.
namespace ipstatus {
constexpr qint32 Success = 0;
constexpr qint32 BufTooSmall = 11001;
constexpr qint32 DestNetUnreachable = 11002;
constexpr qint32 DestHostUnreachable = 11003;
constexpr qint32 DestProtUnreachable = 11004;
constexpr qint32 DestPortUnreachable = 11005;
constexpr qint32 NoResources = 11006;
constexpr qint32 BadOption = 11007;
constexpr qint32 HwError = 11008;
constexpr qint32 PacketTooBig = 11009;
constexpr qint32 RequestTimedOut = 11010;
constexpr qint32 BadRequest = 11011;
constexpr qint32 BadRoute = 11012;
constexpr qint32 TtlExpiredTransit = 11013;
constexpr qint32 TtlExpiredReassembly = 11014;
constexpr qint32 ParamProblem = 11015;
constexpr qint32 SourceQuench = 11016;
constexpr qint32 OptionTooBig = 11017;
constexpr qint32 BadDestination = 11018;
constexpr qint32 NegotiatingIpsec = 11032;
constexpr qint32 GeneralFailure = 11050;
} // namespace ipstatus

// The ICMP echo facility behind the ping test.
class Icmp
{
public:
    virtual ~Icmp() = default;
    virtual bool startup() = 0; // can any ICMP facility be used?
    virtual void cleanup() = 0;
    struct Reply
    {
        qint32 status = -1; // an ipstatus value; -1 when no echo could be sent
        quint32 roundTripMs = 0;
    };
    // ipv4 in host byte order. Blocks until the reply, an error report or the time-out.
    virtual Reply echo(quint32 ipv4, const QByteArray& data, int timeoutMs) = 0;
};

// Linux ICMP echo through the first facility that the process may use, in the given order:
// - DatagramSocket: an unprivileged ICMP socket (SOCK_DGRAM, IPPROTO_ICMP); only for the groups
//   in net.ipv4.ping_group_range, which many systems leave empty;
// - RawSocket: needs CAP_NET_RAW;
// - PingProgram: the system's ping, which carries its own privilege (file capability or setuid);
//   it cannot time a 5-byte echo itself, so the time is taken from the line it prints just
//   before sending to its reply line.
// The order is a configuration of the facility: a caller may restrict it to some of them.
class LinuxIcmp : public Icmp
{
public:
    enum class Facility
    {
        DatagramSocket,
        RawSocket,
        PingProgram
    };
    static QList<Facility> allFacilities()
    {
        return {Facility::DatagramSocket, Facility::RawSocket, Facility::PingProgram};
    }

    // pingProgram: path of ping; empty means look it up on PATH and in the usual folders.
    explicit LinuxIcmp(QList<Facility> facilities = allFacilities(), QString pingProgram = {});

    bool startup() override;
    void cleanup() override;
    Reply echo(quint32 ipv4, const QByteArray& data, int timeoutMs) override;

    // Whether the facility can be opened right now by this process.
    bool available(Facility facility) const;
    // The facility that carried the last echo; -1 (as int) when none could be opened.
    int lastFacility() const { return m_last.load(); }

private:
    Reply echoSocket(int fd, bool raw, quint32 ipv4, const QByteArray& data, int timeoutMs);
    bool echoProgram(quint32 ipv4, const QByteArray& data, int timeoutMs, Reply& reply);
    QString pingPath() const;

    QList<Facility> m_facilities;
    QString m_pingProgram;
    std::atomic<int> m_last{-1};
    std::atomic<quint16> m_sequence{0};
};

} // namespace vexo
