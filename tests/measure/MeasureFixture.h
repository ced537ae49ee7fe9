#pragma once

#include "Fakes.h"
#include "TestUtil.h"
#include "measure/MeasureCodec.h"
#include "measure/MeasureSession.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

// Stands in for a Network Element on 127.0.0.2:2978: records every request, answers "GetStats"
// and "GetDel" with its record and takes on a SetDelayRequest.
struct StandInElement : QUdpSocket
{
    StandInElement()
    {
        connect(this, &QUdpSocket::readyRead, [this] {
            while (hasPendingDatagrams()) {
                const QNetworkDatagram d = receiveDatagram();
                received << d.data();
                if (const auto set = vexo::parseSetDelayRequest(d.data()))
                    record.additionalDelay = set->delayNs, record.autoServo = set->autoServo;
                if (answer && (d.data() == "GetStats" || d.data() == "GetDel"))
                    writeDatagram(vexo::buildMeasurementRecord(record), d.senderAddress(),
                                  quint16(d.senderPort()));
            }
        });
    }
    bool bind(const char* ip = "127.0.0.2")
    {
        return QUdpSocket::bind(QHostAddress(QString::fromLatin1(ip)), 2978);
    }
    void sendToStation(const QByteArray& datagram) { writeDatagram(datagram, QHostAddress::LocalHost, 2978); }

    QList<QByteArray> received;
    vexo::MeasurementValues record;
    bool answer = true;
};

// A store with one SFN decoder "STUDIO A" at 127.0.0.2; scripted boxes and settings; a stand-in
// element. The station's measurement port binds 127.0.0.1:2978.
class MeasureFixture : public ::testing::Test
{
public:
    void SetUp() override
    {
        for (const auto& [key, value] : {std::pair{"name", "STUDIO A"}, {"ip", "127.0.0.2"}, {"sfn", "1"}})
            setKey(key, value);
        ASSERT_TRUE(element.bind()) << "127.0.0.2:2978 is not free";
    }
    void setKey(const char* key, const char* value) { ASSERT_TRUE(store.write(kMac, key, value)); }
    QString storedKey(const char* key) const { return store.read(kMac, key); }
    vexo::MeasureServices services() { return {store, kMac, role, port, settings}; }

    const QString kMac = QStringLiteral("00:50:C2:A1:B2:C3");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nms.ini"));
    vexo::ElementStore store{path};
    vexo::Role role = vexo::Role::Decoder;
    vexo::MeasurePort port{QHostAddress::LocalHost};
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeProgramEnd end;
    vexo::FatalError fatal{boxes, end};
    StandInElement element;
};
