// The attenuation change of the selected decoder: one AttenuationMessage to a stand-in element
// on 127.0.0.2:2977, stored once it left, and nothing sent or stored when it cannot leave.
#include "core/Station.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"

#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {
const QString kMac = QStringLiteral("00:50:C2:00:00:02");
}

TEST(Station, AttenuationLeavesOnceAndIsStoredOnlyWhenSent)
{
    struct Case
    {
        const char* what;
        QByteArray section; // the decoder's stored lines; selected unless empty
        int position;
        QByteArray sent; // the datagram the element gets; empty: none
        const char* box; // what the operator is told, after "Cannot send to the Network Element: "
    };
    const Case cases[] = {
        {"a step", "IP=127.0.0.2\nATT=100\n", 101, hex("65 00"), nullptr},
        {"mute", "IP=127.0.0.2\nATT=100\n", 14, hex("0E 00"), nullptr},
        {"loudest", "IP=127.0.0.2\n", 255, hex("FF 00"), nullptr},
        {"nothing selected", {}, 101, {}, nullptr},
        {"invalid address",
         "IP=10.0.0.300\n",
         101,
         {},
         "the IP address stored for it is not valid (10.0.0.300)."},
        {"no address", "ATT=100\n", 101, {}, "no IP address is stored for it."},
    };
    QUdpSocket element, marker;
    ASSERT_TRUE(element.bind(QHostAddress(QStringLiteral("127.0.0.2")), kCommandPort));
    ASSERT_TRUE(marker.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        FakeMessageBoxes boxes;
        FakeSettings settings;
        FakeProgramEnd end;
        FakeArp arp;
        FakeIcmp icmp;
        Station station({boxes, settings, end, arp, icmp, dir.filePath(QStringLiteral("nms.ini")),
                         QHostAddress(QStringLiteral("127.0.0.1"))});
        const QByteArray before = "[0050C2000002]\nROLE=2\n" + c.section;
        ASSERT_TRUE(writeFile(station.store().path(), before));
        if (!c.section.isNull())
            station.selection().select(kMac);

        EXPECT_EQ(station.sendAttenuation(c.position), !c.sent.isEmpty());

        // A marker sent after it arrives after anything the station sent.
        marker.writeDatagram("MARK", QHostAddress(QStringLiteral("127.0.0.2")), kCommandPort);
        QList<QByteArray> got;
        ASSERT_TRUE(waitUntil([&] {
            while (element.hasPendingDatagrams()) {
                QByteArray d(int(element.pendingDatagramSize()), '\0');
                element.readDatagram(d.data(), d.size());
                got << d;
            }
            return !got.isEmpty() && got.last() == "MARK";
        }));
        got.removeLast();
        EXPECT_EQ(got, c.sent.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{c.sent});
        EXPECT_EQ(boxes.texts(),
                  c.box ? QStringList{"Cannot send to the Network Element: " + QString::fromLatin1(c.box)}
                        : QStringList{});
        if (c.sent.isEmpty())
            EXPECT_EQ(readFile(station.store().path()), before);
        else
            EXPECT_EQ(station.store().read(kMac, QStringLiteral("att")), QString::number(c.position));
        EXPECT_TRUE(end.codes.isEmpty());
    }
}
