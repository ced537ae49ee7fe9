#pragma once

// A station's configuration link on 127.0.0.1 and a temporary store whose selected element
// lives at 127.0.0.2, where the tests put their stand-in element sockets.
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
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

inline const QHostAddress kStationAddress(QStringLiteral("127.0.0.1"));
inline const QHostAddress kElementAddress(QStringLiteral("127.0.0.2"));
inline const QString kSelectedMac = QStringLiteral("00:50:C2:A1:B2:C3");
inline const QString kSelectedSection = QStringLiteral("0050C2A1B2C3");

// A 44-byte encoder reply (10.0.0.5, STUDIO 1) with the given serial; the same bytes as the
// codec's hand-computed vectors apart from the serial.
inline QByteArray encoderReply(quint32 serial, int length = 44)
{
    QByteArray d = hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 00 01"
                       "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20 01");
    d.append(char(serial >> 24)).append(char(serial >> 16)).append(char(serial >> 8)).append(char(serial));
    d.append(hex("03 01 01 06"));
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
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        storePath = m_dir.filePath(QStringLiteral("nms.ini"));
        ASSERT_TRUE(
            vexo::writeToIni(kSelectedSection, vexo::keys::name, QStringLiteral("STUDIO 1"), storePath));
        ASSERT_TRUE(
            vexo::writeToIni(kSelectedSection, vexo::keys::ip, QStringLiteral("127.0.0.2"), storePath));
        store = std::make_unique<vexo::ElementStore>(storePath);
        selection = std::make_unique<vexo::SelectedElement>(*store);
        selection->select(kSelectedMac);
        link = std::make_unique<vexo::ConfigLink>(boxes, fatal, *selection, kStationAddress);
    }

    void TearDown() override { link.reset(); }

    // A reply handler that is done with each reply when it returns.
    void handleWith(std::function<void(const vexo::QueuedReply&)> handle)
    {
        link->setReplyHandler([this, handle](const vexo::QueuedReply& r) {
            handle(r);
            link->replyHandled();
        });
    }

    // A socket standing in for the element on 127.0.0.2.
    static std::unique_ptr<QUdpSocket> standIn(quint16 port)
    {
        auto s = std::make_unique<QUdpSocket>();
        EXPECT_TRUE(s->bind(kElementAddress, port)) << "stand-in cannot bind 127.0.0.2:" << port;
        return s;
    }

    static QNetworkDatagram receiveOne(QUdpSocket& s, int timeoutMs = 3000)
    {
        if (!waitUntil([&] { return s.hasPendingDatagrams(); }, timeoutMs))
            return {};
        return s.receiveDatagram();
    }

    QTemporaryDir m_dir;
    QString storePath;
    FakeMessageBoxes boxes;
    FakeProgramEnd programEnd;
    vexo::FatalError fatal{boxes, programEnd};
    std::unique_ptr<vexo::ElementStore> store;
    std::unique_ptr<vexo::SelectedElement> selection;
    std::unique_ptr<vexo::ConfigLink> link;
};
