#pragma once

// What the configuration exchange stands on: a store in a fresh folder, scripted message boxes,
// a recorded program end, the selected element and the real link bound to 127.0.0.1. Stand-in
// element sockets use 127.0.0.2.
#include "Fakes.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

inline const QHostAddress kStationAddress(QStringLiteral("127.0.0.1"));
inline const QHostAddress kElementAddress(QStringLiteral("127.0.0.2"));
inline const QString kSelectedMac = QStringLiteral("00:50:C2:A1:B2:C3");

// 10.0.0.5 / 255.255.255.0 / 10.0.0.1 / 239.1.1.1, source 1, type 0, TX 1, "STUDIO 1" padded,
// then the role byte(s) given and the serial 00 00 80 01 (32769): how every reply starts.
inline QByteArray replyHead(const char* role)
{
    return hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 00 01"
               "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20") +
           hex(role) + hex("00 00 80 01");
}

// The 44-byte encoder reply above with another serial, cut or filled up to the length.
inline QByteArray encoderReply(quint32 serial, int length = 44)
{
    QByteArray d = replyHead("01") + hex("03 01 01 06");
    for (int i = 0; i < 4; ++i)
        d[36 + i] = char(serial >> (24 - 8 * i));
    d.resize(length, '\x5A');
    return d;
}

inline qint32 serialOf(const QByteArray& reply)
{
    vexo::ElementConfig r;
    return vexo::decodeConfigReply(reply, r) ? r.serial : -1;
}

class LinkFixture : public ::testing::Test
{
protected:
    LinkFixture()
        : fatal(boxes, programEnd), store(dir.filePath(QStringLiteral("nms.ini"))), selection(store),
          link(boxes, fatal, selection, kStationAddress)
    {
    }

    // The selected element, stored with the stand-ins' address.
    void selectStandIn()
    {
        ASSERT_TRUE(store.write(kSelectedMac, vexo::keys::name, QStringLiteral("STUDIO 1")));
        ASSERT_TRUE(store.write(kSelectedMac, vexo::keys::ip, QStringLiteral("127.0.0.2")));
        selection.select(kSelectedMac);
    }

    // A reply handler that is done with each reply when it returns.
    void handleWith(std::function<void(const vexo::QueuedReply&)> handle)
    {
        link.setReplyHandler([this, handle](const vexo::QueuedReply& r) {
            handle(r);
            link.replyHandled();
        });
    }

    template <typename Edit> void edit(Edit change)
    {
        vexo::ElementConfig draft = selection.draft();
        change(draft);
        selection.setDraft(draft);
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
    vexo::FatalError fatal;
    vexo::ElementStore store;
    vexo::SelectedElement selection;
    vexo::ConfigLink link;
};
