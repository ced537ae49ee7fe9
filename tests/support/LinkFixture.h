#pragma once

// The configuration exchange on loopback: a fresh store, scripted boxes (for the program end), the
// selected element and the real link on 127.0.0.1. Stand-in element sockets use 127.0.0.2.
#include "Fakes.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <memory>

inline const QHostAddress kStationAddress(QStringLiteral("127.0.0.1"));
inline const QHostAddress kElementAddress(QStringLiteral("127.0.0.2"));
inline const QString kSelectedMac = QStringLiteral("00:50:C2:A1:B2:C3");

// 10.0.0.5 / 255.255.255.0 / 10.0.0.1 / 239.1.1.1, source 1, type 0, TX 1, "STUDIO 1" padded,
// the role byte(s) given, serial 00 00 80 01 (32769): how every reply starts.
inline QByteArray replyHead(const char* role)
{
    return hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 00 01"
               "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20") +
           hex(role) + hex("00 00 80 01");
}

// That encoder reply with version 3.1, SFN 1, buffer 6 and another serial.
inline QByteArray encoderReply(quint32 serial)
{
    const quint32 bigEndian = qToBigEndian(serial);
    return replyHead("01").replace(36, 4, reinterpret_cast<const char*>(&bigEndian), 4) + hex("03 01 01 06");
}

inline qint32 serialOf(const QByteArray& reply)
{
    vexo::ElementConfig r;
    return vexo::decodeConfigReply(reply, r) ? r.serial : -1;
}

class LinkFixture : public ::testing::Test
{
protected:
    // A reply handler that is done with each reply when it returns.
    void handleWith(std::function<void(const vexo::QueuedReply&)> handle)
    {
        link.setReplyHandler([this, handle](const vexo::QueuedReply& r) {
            handle(r);
            link.replyHandled();
        });
    }

    static std::unique_ptr<QUdpSocket> standIn(quint16 port)
    {
        auto s = std::make_unique<QUdpSocket>();
        EXPECT_TRUE(s->bind(kElementAddress, port)) << "stand-in cannot bind 127.0.0.2:" << port;
        return s;
    }

    static QNetworkDatagram receiveOne(QUdpSocket& s)
    {
        return waitUntil([&] { return s.hasPendingDatagrams(); }) ? s.receiveDatagram() : QNetworkDatagram();
    }

    QTemporaryDir dir;
    FakeMessageBoxes boxes;
    FakeProgramEnd programEnd;
    vexo::FatalError fatal{boxes, programEnd};
    vexo::ElementStore store{dir.filePath(QStringLiteral("nms.ini"))};
    vexo::ConfigLink link{fatal, kStationAddress};
};
