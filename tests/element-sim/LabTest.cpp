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

// The MAC address the kernel's neighbour table completed for `ip`.
static QString macOf(const QString& ip)
{
    for (const QByteArray& line : readFile("/proc/net/arp").split('\n'))
        if (const QList<QByteArray> c = line.simplified().split(' ');
            c.size() > 3 && c[0] == ip && c[2] == "0x2")
            return QString(c[3]).toUpper();
    return {};
}

TEST(ElementLab, PagedElementsAnswerFromTheirOwnAddressesAsTheirFaultsSayAndMove)
{
    // GIVEN four encoders, each with a fault, and an SFN decoder
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
    QMap<QString, QByteArray> replies; // by sender, with the time it arrived
    QMap<QString, qint64> when;
    QElapsedTimer clock;
    clock.start();
    const auto receive = [&](int count) {
        return waitUntil([&] {
            for (QNetworkDatagram d; station.hasPendingDatagrams();) {
                d = station.receiveDatagram();
                replies.insert(QHostAddress(d.senderAddress().toIPv4Address()).toString(), d.data());
                when.insert(QHostAddress(d.senderAddress().toIPv4Address()).toString(), clock.elapsed());
            }
            return replies.size() == count;
        });
    };

    // WHEN the paging request is broadcast
    station.writeDatagram(kPagingRequest, kPagingRequestSize, QHostAddress::Broadcast, kPagingPort);
    EXPECT_TRUE(receive(4)) << lab.fleetLog().toStdString();
    // THEN each answers from its own address as its fault says, and its MAC is its own
    EXPECT_FALSE(replies.contains(e[0].ip));
    EXPECT_GE(when.value(e[1].ip), 290);
    EXPECT_EQ(replies.value(e[2].ip).mid(35, 5).toHex(), "03fffffffb");
    EXPECT_EQ(replies.value(e[3].ip).mid(19), QByteArray("another name    \x01\0\0\x27\x14\x03", 22));
    // 10.77.101.1 255.255.0.0 10.77.0.1 10.77.0.1, 00 00 00, "DECODER 001", 2, 20001, att 30, 3.1, SFN,
    // buffer 4, silence 00 10 30
    EXPECT_EQ(
        replies.value(e[4].ip),
        hex("0A 4D 65 01 FF FF 00 00 0A 4D 00 01 0A 4D 00 01 00 00 00 44 45 43 4F 44 45 52 20 30 30 31 20 20 "
            "20 20 20 02 00 00 4E 21 1E 03 01 01 04 00 0A 1E"));
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(macOf(e[i].ip), e[i].mac);

    // WHEN the decoder is given a new address THEN it confirms from the old one, then answers at the new one
    ElementConfig moved;
    ASSERT_TRUE(decodeConfigReply(replies.value(e[4].ip), moved));
    moved.ip = "10.77.200.9";
    replies.clear();
    station.writeDatagram(buildConfigRequest(moved, "DECODER"), QHostAddress(e[4].ip), kConfigPort);
    ASSERT_TRUE(lab.waitForState(4, [](const QJsonObject& s) { return s["listen-ip"] == "10.77.200.9"; }));
    station.writeDatagram(kPagingRequest, kPagingRequestSize, QHostAddress("10.77.200.9"), kPagingPort);
    EXPECT_TRUE(receive(2));
    EXPECT_EQ(replies.keys(), (QStringList{e[4].ip, "10.77.200.9"}));
    EXPECT_TRUE(waitUntil([&] { return macOf("10.77.200.9") == e[4].mac; }));

    // AND the program refuses bad options with code 2
    QProcess sim;
    sim.start(Lab::elementBinary(), {"--role", "nine"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
}
