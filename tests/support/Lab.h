#pragma once

#include "TestUtil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A namespace lab: simulated Network Elements (vexolink-element in fleet mode) in a network namespace
// of their own, joined by a veth pair to the station side, the test's main thread. up() moves that
// thread into a fresh network namespace with vxst 10.77.0.1/16 as the default route (where the paging
// broadcast goes): create the Lab before the station's sockets. Station::CurrentNamespace adds the
// station interface (vxs<pid>n<k>) to the thread's namespace instead. down() (also the destructor)
// undoes it all. One lab at a time per process.
//
// Elements: encoders first (10.77.1.1, ...), then decoders (10.77.101.1, ...), 250 per /24; MAC
// 00:50:C2:77:HH:LL with HHLL = position + 1; names "ENCODER 001", "DECODER 001"; serials 10001...,
// 20001...; the first `sfn` decoders have SFN on. Each answers ARP and ping on its own interface.
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

    // Empty when labs can be made here (root, a namespace of its own, the simulator built), else why not.
    static QString unavailableReason();
    static QString elementBinary(); // $VEXO_BIN/tools/element-sim/vexolink-element

    enum class Station
    {
        PrivateNamespace,
        CurrentNamespace
    };

    explicit Lab(Station station = Station::PrivateNamespace) : m_stationMode(station) {}
    ~Lab() { down(); }
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    // elementArgs: per element position, simulator options such as {"--delay-ms", "500"} (see
    // vexolink-element --help); fleetArgs go to the whole process (e.g. {"--verbose"}).
    bool up(int encoders, int decoders, int sfn, QString* error,
            const QMap<int, QStringList>& elementArgs = {}, const QStringList& fleetArgs = {});
    void down();
    // A second card for the station (after up()): a link to an empty network of its own,
    // officeIp()/24, that takes over the default route, as an office network does on a station
    // whose elements sit behind its other card. The limited broadcast then leaves by it alone
    // unless the station pages on every card.
    bool addOfficeCard(QString* error);
    QString officeIp() const { return QStringLiteral("192.168.77.1"); }
    QString officeInterface() const { return m_officeInterface; }
    bool isUp() const { return m_fleet && m_fleet->state() == QProcess::Running; }

    QString stationIp() const { return QStringLiteral("10.77.0.1"); }
    QString stationInterface() const { return m_stationInterface; }
    QList<Element> elements() const { return m_elements; }

    // The element's state as the simulator dumps it: what it took on, counts of what reached it.
    QString stateOf(int index) const { return QString::fromUtf8(QJsonDocument(stateObject(index)).toJson()); }
    QJsonObject stateObject(int index) const;
    // Runs the event loop until the element's state (rewritten after every change) satisfies it.
    bool waitForState(int index, const std::function<bool(const QJsonObject&)>& condition,
                      int timeoutMs = 5000) const
    {
        return waitUntil([&] { return condition(stateObject(index)); }, timeoutMs);
    }

    qint64 fleetPid() const { return m_fleet ? m_fleet->processId() : 0; }
    QString fleetLog() const;
    QString netnsName() const { return m_netns; }

private:
    bool run(const QString& command, QString* error) const;

    Station m_stationMode;
    QString m_stationInterface;
    QString m_netns;
    QString m_officeInterface;
    QString m_officeNetns;
    int m_originalNs = -1;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_fleet;
    QList<Element> m_elements;
};
