#pragma once

#include "measure/MeasureCodec.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>

// A socket standing in for a Network Element on its measurement port: it records every request
// and answers "GetStats" and "GetDel" with its current record. A SetDelayRequest changes the
// additional delay and servo flag that later records report, as an element does.
class StandInElement : public QObject
{
public:
    explicit StandInElement(const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.2")))
        : m_address(address)
    {
        QObject::connect(&socket, &QUdpSocket::readyRead, this, [this] { onReadyRead(); });
    }

    bool bind() { return socket.bind(m_address, vexo::kMeasurePort, QAbstractSocket::DontShareAddress); }

    int count(const QByteArray& request) const { return static_cast<int>(received.count(request)); }

    // Sends a datagram to the station's measurement port as if it answered something.
    void sendToStation(const QByteArray& datagram)
    {
        socket.writeDatagram(datagram, QHostAddress(QStringLiteral("127.0.0.1")), vexo::kMeasurePort);
    }

    QUdpSocket socket;
    QList<QByteArray> received;
    vexo::MeasurementValues record;
    // When set, it is sent instead of the record (datagrams of other lengths).
    QByteArray rawReply;
    bool answer = true;

private:
    void onReadyRead()
    {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram d = socket.receiveDatagram();
            received << d.data();
            if (const auto set = vexo::parseSetDelayRequest(d.data())) {
                record.additionalDelay = set->delayNs;
                record.autoServo = set->autoServo;
            }
            if (answer && (d.data() == vexo::kGetStats || d.data() == vexo::kGetDel))
                socket.writeDatagram(rawReply.isNull() ? vexo::buildMeasurementRecord(record) : rawReply,
                                     d.senderAddress(), static_cast<quint16>(d.senderPort()));
        }
    }

    QHostAddress m_address;
};
