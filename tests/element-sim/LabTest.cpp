// The simulator as a program, in a namespace lab: real broadcast, ARP and per-element MACs.
#include "Lab.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// Complete entries of the kernel's neighbour table: IP -> MAC.
QMap<QString, QString> neighbours()
{
    QMap<QString, QString> table;
    for (const QByteArray& line : readFile("/proc/net/arp").split('\n').mid(1))
        if (const QList<QByteArray> c = line.simplified().split(' '); c.size() > 3 && c[2] == "0x2")
            table.insert(c[0], c[3].toUpper());
    return table;
}

} // namespace

TEST(ElementLab, PagedElementsAnswerFromTheirOwnAddressesAsTheirFaultsSay)
{
    ASSERT_EQ(Lab::unavailableReason(), QString());
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(4, 1, 1, &error,
                       {{0, {"--silent"}},
                        {1, {"--delay-ms", "300"}},
                        {2, {"--force-role=3", "--force-serial", "-5"}},
                        {3, {"--config-reply-length", "41", "--force-name", "another name"}}}))
        << error.toStdString();
    QUdpSocket station;
    ASSERT_TRUE(station.bind(QHostAddress::AnyIPv4, kConfigPort));
    const QList<Lab::Element> e = lab.elements();

    // WHEN the paging request is broadcast
    QElapsedTimer clock;
    clock.start();
    station.writeDatagram(kPagingRequest, kPagingRequestSize, QHostAddress::Broadcast, kPagingPort);
    QMap<QString, QByteArray> replies;
    QMap<QString, qint64> when;
    EXPECT_TRUE(waitUntil([&] {
        while (station.hasPendingDatagrams()) {
            const QNetworkDatagram d = station.receiveDatagram();
            replies.insert(QHostAddress(d.senderAddress().toIPv4Address()).toString(), d.data());
            when.insert(QHostAddress(d.senderAddress().toIPv4Address()).toString(), clock.elapsed());
        }
        return replies.size() == 4;
    })) << lab.fleetLog().toStdString();

    // THEN each answers from its own address, as its faults say, and its MAC is its own
    EXPECT_FALSE(replies.contains(e[0].ip));
    EXPECT_GE(when.value(e[1].ip), 290);
    EXPECT_EQ(replies.value(e[2].ip).mid(35, 5).toHex(), "03fffffffb");
    EXPECT_EQ(replies.value(e[3].ip).mid(19).toHex(' '),
              QByteArray("another name    \x01\0\0\x27\x14\x03", 22).toHex(' '));
    EXPECT_EQ(
        replies.value(e[4].ip).toHex(' '),
        hex("0A 4D 65 01 FF FF 00 00 0A 4D 00 01 0A 4D 00 01 00 00 00 44 45 43 4F 44 45 52 20 30 30 31 20 20 "
            "20 20 20 02 00 00 4E 21 1E 03 01 01 04 00 0A 1E")
            .toHex(' '));
    const QMap<QString, QString> table = neighbours();
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(table.value(e[i].ip), e[i].mac) << i;

    // WHEN the decoder is given a new address THEN it confirms from the old one, then moves
    ElementConfig moved;
    decodeConfigReply(replies.value(e[4].ip), moved);
    moved.ip = "10.77.200.9";
    station.writeDatagram(buildConfigRequest(moved, "DECODER"), QHostAddress(e[4].ip), kConfigPort);
    ASSERT_TRUE(lab.waitForState(4, [](const QJsonObject& s) { return s["listen-ip"] == "10.77.200.9"; }))
        << lab.stateOf(4).toStdString();
    station.writeDatagram(kPagingRequest, kPagingRequestSize, QHostAddress("10.77.200.9"), kPagingPort);
    QList<QHostAddress> senders;
    EXPECT_TRUE(waitUntil([&] {
        while (station.hasPendingDatagrams())
            senders << station.receiveDatagram().senderAddress();
        return senders.size() == 2;
    }));
    EXPECT_EQ(senders, (QList<QHostAddress>{QHostAddress(e[4].ip), QHostAddress("10.77.200.9")}));
    EXPECT_TRUE(waitUntil([&] { return neighbours().value("10.77.200.9") == e[4].mac; }));
}

TEST(ElementLab, BadOptionsAreRefused)
{
    QProcess sim;
    sim.start(Lab::elementBinary(), {"--role", "nine"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
    EXPECT_TRUE(sim.readAllStandardError().contains("role"));
}
