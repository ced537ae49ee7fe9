// The simulator in a namespace lab: real broadcast, ARP and per-element MAC addresses.
#include "Lab.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureCodec.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QByteArray kPaging(kPagingRequest, kPagingRequestSize);

#define SKIP_WITHOUT_LAB()                                                                                   \
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())                                  \
    GTEST_SKIP() << reason.toStdString()

// The kernel's neighbour table of this namespace: IP -> MAC (upper case), complete entries only.
QMap<QString, QString> neighbourTable()
{
    QMap<QString, QString> table;
    QFile f(QStringLiteral("/proc/net/arp"));
    if (!f.open(QIODevice::ReadOnly))
        return table;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QStringList cols = QString::fromLatin1(f.readLine()).simplified().split(QLatin1Char(' '));
        // IP address, HW type, Flags (0x2 complete), HW address, Mask, Device
        if (cols.size() >= 4 && (cols[2].toInt(nullptr, 16) & 0x2))
            table.insert(cols[0], cols[3].toUpper());
    }
    return table;
}

// The station's configuration socket: port 2976 with broadcast allowed.
class StationSocket
{
public:
    bool bind() { return m_socket.bind(QHostAddress::AnyIPv4, kConfigPort); }
    void send(const QByteArray& d, const QString& ip, quint16 port)
    {
        m_socket.writeDatagram(d, QHostAddress(ip), port);
    }
    // Every datagram that arrives within the window (or until `count` have arrived).
    QList<QNetworkDatagram> collect(int count, int timeoutMs)
    {
        QList<QNetworkDatagram> got;
        waitUntil(
            [&] {
                while (m_socket.hasPendingDatagrams())
                    got.append(m_socket.receiveDatagram());
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }

private:
    QUdpSocket m_socket;
};

QByteArray requestFor(const QString& ip, const QString& name, const QString& role, quint8 buffer = 0)
{
    ElementConfig f;
    f.ip = ip;
    f.mask = QStringLiteral("255.255.0.0");
    f.gateway = QStringLiteral("10.77.0.1");
    f.remote = QStringLiteral("239.77.0.9");
    f.audioSource = 1;
    f.audioType = 1;
    f.txType = 1;
    f.sfn = 1;
    f.name = name;
    f.buffer = buffer;
    f.silenceMode = 2;
    f.silenceLevel = 20;
    f.silenceTime = 40;
    return buildConfigRequest(f, role);
}

} // namespace

TEST(SimLab, PagingThreeElementsGivesThreeRepliesAndTheirMacAddresses)
{
    SKIP_WITHOUT_LAB();
    // GIVEN a lab with two encoders and a decoder
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(2, 1, 1, &error)) << error.toStdString();
    StationSocket station;
    ASSERT_TRUE(station.bind());

    // WHEN a plain socket broadcasts the paging request
    station.send(kPaging, QStringLiteral("255.255.255.255"), kPagingPort);
    const QList<QNetworkDatagram> replies = station.collect(3, 3000);

    // THEN three ConfigReplies arrive, one from each element's address
    ASSERT_EQ(replies.size(), 3) << lab.fleetLog().toStdString();
    const QList<Lab::Element> elements = lab.elements();
    const QMap<QString, QString> neighbours = neighbourTable();
    for (const Lab::Element& e : elements) {
        const auto it = std::find_if(replies.begin(), replies.end(), [&](const QNetworkDatagram& d) {
            return d.senderAddress() == QHostAddress(e.ip);
        });
        ASSERT_NE(it, replies.end()) << e.ip.toStdString();
        ElementConfig r;
        ASSERT_TRUE(decodeConfigReply(it->data(), r));
        EXPECT_EQ(r.ip, e.ip);
        EXPECT_EQ(r.role, e.role);
        EXPECT_EQ(r.serial, e.serial);
        EXPECT_EQ(r.name.trimmed(), e.name);
        EXPECT_EQ(it->data().size(), e.role == 2 ? 48 : 44);
        // AND the neighbour table knows the element's own MAC (it asked for the station's)
        EXPECT_EQ(neighbours.value(e.ip), e.mac) << e.ip.toStdString();
    }
    EXPECT_EQ(elements[2].mac, QStringLiteral("00:50:C2:77:00:03"));
    // AND each element answers ICMP echo (where the system's ping is installed)
    if (!QStandardPaths::findExecutable(QStringLiteral("ping")).isEmpty()) {
        for (const Lab::Element& e : elements)
            EXPECT_EQ(QProcess::execute(QStringLiteral("ping"), {"-c", "1", "-W", "2", "-q", e.ip}), 0)
                << e.ip.toStdString();
    }
    EXPECT_EQ(lab.stateObject(2).value(QStringLiteral("sfn")).toInt(), 1);
    EXPECT_EQ(lab.stateObject(2).value(QStringLiteral("mac")).toString(), elements[2].mac);
}

TEST(SimLab, ElementsOnTheirOwnAddressesAnswerThePagingBroadcast)
{
    SKIP_WITHOUT_LAB();
    // GIVEN a fleet whose elements bind their own addresses and, in the same namespace, a second
    // simulator with one element on its defaults, its address on the first element's interface
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(1, 1, 0, &error, {}, {"--bind", "own"})) << error.toStdString();
    const QString interface = lab.stateObject(0).value(QStringLiteral("interface")).toString();
    ASSERT_EQ(QProcess::execute(
                  "ip", {"-n", lab.netnsName(), "address", "add", "10.77.1.200/16", "dev", interface}),
              0);
    QTemporaryDir dir;
    QProcess single;
    single.start("ip", {"netns", "exec", lab.netnsName(), Lab::elementBinary(), "--ip", "10.77.1.200",
                        "--state-file", dir.filePath("state.json")});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(dir.filePath("state.json")); }))
        << single.readAllStandardError().toStdString();
    StationSocket station;
    ASSERT_TRUE(station.bind());

    // WHEN the paging request is broadcast
    station.send(kPaging, QStringLiteral("255.255.255.255"), kPagingPort);
    QStringList senders;
    for (const QNetworkDatagram& d : station.collect(3, 3000))
        senders << d.senderAddress().toString();

    // THEN every element answers once, from its own address
    senders.sort();
    EXPECT_EQ(senders, (QStringList{"10.77.1.1", "10.77.1.200", "10.77.101.1"}))
        << lab.fleetLog().toStdString();
}

TEST(SimLab, ConfigurationIsTakenOnConfirmedAndTheElementMoves)
{
    SKIP_WITHOUT_LAB();
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(1, 1, 0, &error)) << error.toStdString();
    StationSocket station;
    ASSERT_TRUE(station.bind());
    const Lab::Element decoder = lab.elements()[1];

    // WHEN the decoder gets a new address, name and buffer
    station.send(requestFor(QStringLiteral("10.77.200.9"), QStringLiteral("Moved decoder"),
                            QStringLiteral("DECODER"), 12),
                 decoder.ip, kConfigPort);
    const QList<QNetworkDatagram> replies = station.collect(1, 3000);

    // THEN it confirms from its old address what it took on
    ASSERT_EQ(replies.size(), 1) << lab.fleetLog().toStdString();
    EXPECT_EQ(replies[0].senderAddress(), QHostAddress(decoder.ip));
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replies[0].data(), r));
    EXPECT_EQ(r.ip, QStringLiteral("10.77.200.9"));
    EXPECT_EQ(r.name, QStringLiteral("MOVED DECODER   "));
    EXPECT_EQ(r.buffer, 12);
    EXPECT_EQ(r.silenceMode, 2);
    // AND its state says so, and it moves to the new address on its interface
    ASSERT_TRUE(lab.waitForState(1, [](const QJsonObject& s) {
        return s.value(QStringLiteral("listen-ip")).toString() == QLatin1String("10.77.200.9");
    })) << lab.stateOf(1).toStdString();
    const QJsonObject state = lab.stateObject(1);
    EXPECT_EQ(state.value(QStringLiteral("remote")).toString(), QStringLiteral("239.77.0.9"));
    EXPECT_EQ(state.value(QStringLiteral("sdl")).toInt(), 20);
    EXPECT_EQ(state.value(QStringLiteral("config-requests")).toInt(), 1);

    // WHEN paged at the new address THEN it answers from there, with its own MAC for that address
    station.send(kPaging, QStringLiteral("10.77.200.9"), kPagingPort);
    const QList<QNetworkDatagram> again = station.collect(1, 3000);
    ASSERT_EQ(again.size(), 1) << lab.fleetLog().toStdString();
    EXPECT_EQ(again[0].senderAddress(), QHostAddress(QStringLiteral("10.77.200.9")));
    EXPECT_TRUE(
        waitUntil([&] { return neighbourTable().value(QStringLiteral("10.77.200.9")) == decoder.mac; }));
}

TEST(SimLab, FaultModesGiveTheRepliesTheyPromise)
{
    SKIP_WITHOUT_LAB();
    // GIVEN six encoders, five of them faulty
    QMap<int, QStringList> faults;
    faults[0] = {"--silent"};
    faults[1] = {"--delay-ms", "600"};
    faults[2] = {"--force-role=3", "--force-input=2", "--force-serial", "-5"};
    faults[3] = {"--config-reply-length", "41", "--force-name", "another name"};
    faults[4] = {"--force-ip", "10.77.99.99", "--stale-reply"};
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(6, 0, 0, &error, faults)) << error.toStdString();
    StationSocket station;
    ASSERT_TRUE(station.bind());
    const QList<Lab::Element> e = lab.elements();

    // WHEN paged
    QElapsedTimer clock;
    clock.start();
    station.send(kPaging, QStringLiteral("255.255.255.255"), kPagingPort);
    QMap<QString, QByteArray> byIp;
    QMap<QString, qint64> when;
    waitUntil(
        [&] {
            for (const QNetworkDatagram& d : station.collect(0, 0)) {
                const QString ip = QHostAddress(d.senderAddress().toIPv4Address()).toString();
                byIp.insert(ip, d.data());
                when.insert(ip, clock.elapsed());
            }
            return byIp.size() >= 5;
        },
        4000);

    // THEN the silent one stays silent
    EXPECT_FALSE(byIp.contains(e[0].ip));
    // AND the late one comes late
    ASSERT_TRUE(byIp.contains(e[1].ip));
    EXPECT_GE(when.value(e[1].ip), 590);
    // AND forced fields stand in the reply
    const QByteArray forced = byIp.value(e[2].ip);
    ASSERT_EQ(forced.size(), 44);
    EXPECT_EQ(quint8(forced[35]), 3);
    EXPECT_EQ(quint8(forced[16]), 2);
    EXPECT_EQ(forced.mid(36, 4).toHex(), QByteArray("fffffffb"));
    // AND the short one is 41 bytes with the other name
    const QByteArray shortReply = byIp.value(e[3].ip);
    ASSERT_EQ(shortReply.size(), 41);
    EXPECT_EQ(shortReply.mid(19, 16), QByteArray("another name    "));
    // AND the one that states another address does so from its own
    ASSERT_TRUE(byIp.contains(e[4].ip));
    EXPECT_EQ(byIp.value(e[4].ip).left(4).toHex(), QByteArray("0a4d6363"));
    // AND the healthy one answers as it is
    ASSERT_TRUE(byIp.contains(e[5].ip));
    EXPECT_EQ(byIp.value(e[5].ip).size(), 44);

    // WHEN the stale one gets a ConfigRequest THEN it answers with what it had, and keeps it
    station.send(requestFor(e[4].ip, QStringLiteral("new"), QStringLiteral("ENCODER")), e[4].ip, kConfigPort);
    const QList<QNetworkDatagram> stale = station.collect(1, 3000);
    ASSERT_EQ(stale.size(), 1);
    EXPECT_EQ(stale[0].data(), byIp.value(e[4].ip));
    ASSERT_TRUE(lab.waitForState(
        4, [](const QJsonObject& s) { return s.value(QStringLiteral("config-requests")).toInt() == 1; }));
    EXPECT_EQ(lab.stateObject(4).value(QStringLiteral("name")).toString(), QStringLiteral("ENCODER 005"));
}

TEST(SimLab, LevelAndMeasurementsOverTheLab)
{
    SKIP_WITHOUT_LAB();
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(1, 1, 1, &error, {{0, {"--level-dbfs", "-6"}}})) << error.toStdString();
    StationSocket station;
    ASSERT_TRUE(station.bind());
    const QList<Lab::Element> e = lab.elements();

    station.send(QByteArray("VOL"), e[0].ip, kCommandPort);
    const QList<QNetworkDatagram> level = station.collect(1, 3000);
    ASSERT_EQ(level.size(), 1);
    ASSERT_EQ(level[0].data().size(), 1440);
    EXPECT_EQ(level[0].data().mid(36, 3).toHex(), QByteArray("4026e7")); // 4204263 = -6 dBFS

    // The measurement link uses port 2978 on both sides.
    QUdpSocket measure;
    ASSERT_TRUE(measure.bind(QHostAddress::AnyIPv4, kMeasurePort));
    measure.writeDatagram(buildSetDelayRequest(250000, true), QHostAddress(e[1].ip), kMeasurePort);
    measure.writeDatagram(kGetDel, QHostAddress(e[1].ip), kMeasurePort);
    ASSERT_TRUE(waitUntil([&] { return measure.hasPendingDatagrams(); }));
    const QNetworkDatagram record = measure.receiveDatagram();
    EXPECT_EQ(record.senderAddress(), QHostAddress(e[1].ip));
    ASSERT_EQ(record.data().size(), 61);
    const MeasurementValues v = decodeMeasurementRecord(record.data());
    EXPECT_EQ(v.additionalDelay, 250000);
    EXPECT_EQ(v.autoServo, 1);
    EXPECT_GT(v.propagationDelayAverage, 0);
}

TEST(SimLab, StationInTheCurrentNamespaceKeepsSocketsMadeBefore)
{
    SKIP_WITHOUT_LAB();
    // GIVEN a station socket that exists before the lab
    StationSocket station;
    ASSERT_TRUE(station.bind());
    QString interfaceName;
    {
        Lab lab(Lab::Station::CurrentNamespace);
        QString error;
        ASSERT_TRUE(lab.up(1, 1, 0, &error)) << error.toStdString();
        interfaceName = lab.stationInterface();
        EXPECT_TRUE(QNetworkInterface::interfaceFromName(interfaceName).isValid());
        // WHEN it pages THEN both elements answer it
        station.send(kPaging, QStringLiteral("255.255.255.255"), kPagingPort);
        EXPECT_EQ(station.collect(2, 3000).size(), 2) << lab.fleetLog().toStdString();
    }
    // AND the lab leaves nothing behind in this namespace
    EXPECT_FALSE(QNetworkInterface::interfaceFromName(interfaceName).isValid());
}
