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
// and "GetDel" with its record and takes on a SetDelayRequest (unless told to keep its delay).
struct StandInElement : QUdpSocket
{
    StandInElement()
    {
        connect(this, &QUdpSocket::readyRead, [this] {
            while (hasPendingDatagrams()) {
                const QNetworkDatagram d = receiveDatagram();
                received << d.data();
                if (const auto set = vexo::parseSetDelayRequest(d.data()); set && takeDelay)
                    record.additionalDelay = set->delayNs, record.autoServo = set->autoServo;
                if (answer && answersLeft != 0 && (d.data() == "GetStats" || d.data() == "GetDel")) {
                    answersLeft -= answersLeft > 0;
                    writeDatagram(vexo::buildMeasurementRecord(record), d.senderAddress(),
                                  quint16(d.senderPort()));
                }
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
    bool takeDelay = true; // false: it keeps its delay whatever it is asked to set
    int answersLeft = -1;  // how many more requests it answers before it falls silent (-1: all)
};

// A store with one SFN decoder "STUDIO A" at 127.0.0.2; the fake machine; a stand-in element. The station's
// measurement port binds 127.0.0.1:2978.
class MeasureFixture : public ::testing::Test, public FakeMachine
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
    vexo::FatalError fatal{boxes, end};
    StandInElement element;
};

// Two SFN decoders: "STUDIO A" above with a 1 ms path, 5 us of delay and its servo on at -1.2 us;
// "STUDIO B" at 127.0.0.3 with 800 us and its servo off (the correction it reports unused).
class TwoSfnDecoders : public MeasureFixture
{
public:
    void SetUp() override
    {
        MeasureFixture::SetUp();
        setKey("role", "2");
        for (const auto& [key, value] :
             {std::pair{"name", "STUDIO B"}, {"ip", "127.0.0.3"}, {"role", "2"}, {"sfn", "1"}})
            ASSERT_TRUE(store.write(kMacB, key, value));
        ASSERT_TRUE(second.bind("127.0.0.3"));
        element.record.propagationDelayAverage = 1000000, element.record.propagationDelayMinimum = 990000;
        element.record.propagationDelayMaximum = 1010000, element.record.additionalDelay = 5000;
        element.record.autoServo = 1, element.record.autoServoValue = -1200;
        second.record.propagationDelayAverage = 800000, second.record.propagationDelayMinimum = 790000;
        second.record.propagationDelayMaximum = 810000, second.record.autoServoValue = 300;
    }

    const QString kMacB = QStringLiteral("00:50:C2:A1:B2:C4");
    StandInElement second;
};
