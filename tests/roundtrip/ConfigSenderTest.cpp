#include "link/ConfigSender.h"
#include "Fakes.h"
#include "LinkParts.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

class ConfigSenderTest : public ::testing::Test, protected LinkParts
{
protected:
    ConfigSenderTest() : sender(link, store, boxes, selection)
    {
        selection.select("00:50:C2:A1:B2:C3");
        selection.setRoleCaption("ENCODER");
        ElementConfig v;
        v.name = "studio 1";
        v.ip = "10.0.0.5";
        v.mask = "255.255.255.0";
        v.gateway = "10.0.0.1";
        v.remote = "239.1.1.1";
        v.audioSource = 1;
        v.audioType = 1;
        v.txType = 1;
        v.sfn = 1;
        v.buffer = 4;
        v.silenceMode = 1;
        v.silenceLevel = 37;
        v.silenceTime = 43;
        selection.setDraft(v);
        store.write(selection.mac(), keys::ip, "127.0.0.2");
        EXPECT_TRUE(link.bindConfigPort());
        EXPECT_TRUE(element.bind(QHostAddress("127.0.0.2"), kConfigPort));
    }

    QNetworkDatagram receive()
    {
        if (!waitUntil([this] { return element.hasPendingDatagrams(); }, 3000))
            return {};
        return element.receiveDatagram();
    }

    ConfigSender sender;
    QUdpSocket element;
};

QString firstError(const FakeMessageBoxes& boxes)
{
    return boxes.shown.isEmpty() ? QString() : boxes.shown[0].text;
}

} // namespace

TEST_F(ConfigSenderTest, ChecksComeInOrderAndStopTheSave)
{
    const struct
    {
        std::function<void(ElementConfig&)> spoil;
        QString message;
        bool selected = true;
    } cases[] = {
        {[](ElementConfig& v) {
             v.name = "";
             v.mask = "x";
         },
         "No Network Element selected!\rCannot save.", false},
        {[](ElementConfig& v) { v.txType = -1; },
         "Please verify that all audio fields are correct!\rCannot save."},
        {[](ElementConfig& v) {
             v.name = "";
             v.mask = "255.255.255.300";
         },
         "Please verify that the name field is correct!\rCannot save."},
        {[](ElementConfig& v) { v.remote = "239.1.1"; },
         "Please verify that all IP fields are correct!\rCannot save."},
        {[](ElementConfig& v) { v.gateway = ""; },
         "Please verify that all IP fields are correct!\rCannot save."},
    };
    const ElementConfig good = selection.draft();
    for (const auto& c : cases) {
        boxes.clear();
        selection.select(c.selected ? "00:50:C2:A1:B2:C3" : "-");
        selection.setDraft(good);
        edit(c.spoil);
        sender.saveChanges();
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].caption, "Error!");
        EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
        EXPECT_EQ(firstError(boxes), c.message);
    }
    // The store file deleted while the station runs.
    boxes.clear();
    selection.select("00:50:C2:A1:B2:C3");
    selection.setDraft(good);
    QFile::remove(store.path());
    sender.saveChanges();
    EXPECT_EQ(firstError(boxes), "The local database in your computer, is corrupted!\rCannot save.");
    EXPECT_FALSE(element.hasPendingDatagrams());
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
}

TEST_F(ConfigSenderTest, NoSendsNothing)
{
    boxes.answers << MsgAnswer::No;
    sender.saveChanges();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, "Send configuration");
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown[0].defaultButton, MsgAnswer::No);
    EXPECT_EQ(boxes.shown[0].text,
              "This configuration will be sent to selected Network Element and\rwill also be saved "
              "to local database in your computer. \rAre you sure?");
    QCoreApplication::processEvents();
    EXPECT_FALSE(element.hasPendingDatagrams());
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
}

TEST_F(ConfigSenderTest, EncoderSends36BytesToTheStoredAddress)
{
    boxes.answers << MsgAnswer::Yes;
    sender.saveChanges();
    const QNetworkDatagram d = receive();
    EXPECT_EQ(d.data(),
              hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 01") + "STUDIO 1        ");
    EXPECT_EQ(d.senderPort(), 2976);
    EXPECT_TRUE(link.timerRemoteSent()->isActive());
}

TEST_F(ConfigSenderTest, DecoderSends40Bytes)
{
    selection.setRoleCaption("DECODER");
    boxes.answers << MsgAnswer::Yes;
    sender.saveChanges();
    const QByteArray d = receive().data();
    ASSERT_EQ(d.size(), 40);
    EXPECT_EQ(d.right(4), hex("04 01 25 2B"));
}
