#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QProcess;
class QTemporaryDir;

// A namespace lab for end-to-end tests: simulated Network Elements (vexolink-element in fleet
// mode) in a network namespace of their own, joined to the test process by a veth pair.
//
// The station side is the test's main thread: up() first moves that thread into a fresh private
// network namespace (so that labs of tests running side by side never share addresses, routes or
// ARP entries), adds vxst 10.77.0.1/16 with a default route (the paging broadcast to
// 255.255.255.255 goes out there), and brings loopback up. Create the Lab before the sockets of
// the station under test: sockets stay in the namespace they were made in. down() (also the
// destructor) ends the fleet, deletes its namespace and returns the thread to its namespace.
// With Station::CurrentNamespace the station interface (vxs<pid>n<k>) is added to the namespace
// the thread is in instead, for tests whose station sockets already exist; the default route of
// that namespace is then replaced (refused in the machine's initial namespace, see
// unavailableReason()). One lab at a time per process.
//
// Elements: encoders first (10.77.1.1, 10.77.1.2, ...), then decoders (10.77.101.1, ...), 250 per
// /24 step; MAC 00:50:C2:77:HH:LL with HHLL = position + 1; names "ENCODER 001", "DECODER 001";
// serial numbers 10001..., 20001...; the first `sfn` decoders have SFN on. Each element answers
// ARP and ping on its own macvlan interface.
class Lab
{
public:
    struct Element
    {
        QString ip;
        QString mac; // "00:50:C2:77:00:01"
        QString name;
        int role = 0;
        qint32 serial = 0;
    };

    // Empty when labs can be made here: root, not in the machine's initial network namespace,
    // `ip` works and the simulator is built. Otherwise the reason, for GTEST_SKIP().
    static QString unavailableReason();
    static QString elementBinary(); // $VEXO_BIN/tools/element-sim/vexolink-element

    enum class Station
    {
        PrivateNamespace,
        CurrentNamespace
    };

    explicit Lab(Station station = Station::PrivateNamespace);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    // elementArgs: per element position, simulator options such as {"--silent"},
    // {"--delay-ms", "500"}, {"--force-role=3"}, {"--force-serial", "-5"} (see
    // vexolink-element --help). fleetArgs go to the whole process (e.g. {"--verbose"}).
    bool up(int encoders, int decoders, int sfn, QString* error,
            const QMap<int, QStringList>& elementArgs = {}, const QStringList& fleetArgs = {});
    void down();
    bool isUp() const;

    QString stationIp() const { return QStringLiteral("10.77.0.1"); }
    QString stationInterface() const { return m_stationInterface; }
    QList<Element> elements() const { return m_elements; }

    // The element's current state as the simulator dumps it (JSON text / object): what it took
    // on, counters of what reached it ("config-requests", "pagings", ...).
    QString stateOf(int index) const;
    QJsonObject stateObject(int index) const;
    // Runs the event loop until the element's state satisfies the condition (the simulator
    // rewrites its state file after every change).
    bool waitForState(int index, const std::function<bool(const QJsonObject&)>& condition,
                      int timeoutMs = 5000) const;

    qint64 fleetPid() const;
    QString fleetLog() const;
    QString netnsName() const { return m_netns; }

private:
    bool run(const QStringList& args, QString* error, const QByteArray& input = {}) const;

    Station m_stationMode;
    QString m_stationInterface;
    QString m_netns;
    int m_originalNs = -1;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_fleet;
    QList<Element> m_elements;
};
