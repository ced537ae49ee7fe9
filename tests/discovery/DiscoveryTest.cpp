// Discovery with the real link and reply handler on loopback; every element is known to ARP.
#include "discovery/Discovery.h"
#include "LinkFixture.h"
#include "link/ReplyHandler.h"

#include <QSignalSpy>
#include <QTimer>

using namespace vexo;

namespace {

class DiscoveryTest : public LinkFixture
{
protected:
    DiscoveryTest()
    {
        link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
        EXPECT_TRUE(link.bindConfigPort());
        writeFile(store.path(), "[0050C2FFFFFF]\nNAME=OLD\n");
        link.setRemote(QStringLiteral("127.0.0.2"), 2977);
    }

    // The element at 127.0.0.<last> answers, with MAC 00:50:C2:00:00:<last>.
    void answer(int last)
    {
        QByteArray reply = encoderReply(quint32(last));
        reply.replace(0, 16, hex("7F 00 00 00 FF 00 00 00 7F 00 00 01 7F 00 00 01"));
        reply[3] = char(last);
        link.acceptDatagram(reply);
    }

    ReplyHandler handler{link,
                         store,
                         selection,
                         boxes,
                         [](const QString& ip, QString& mac) {
                             mac = "00:50:C2:00:00:" + ip.section('.', 3).rightJustified(2, '0');
                             return true;
                         },
                         ValueRanges{}};
    Discovery discovery{link, store, handler, boxes};
};

} // namespace

TEST_F(DiscoveryTest, NoLeavesTheStoreAsItWas)
{
    boxes.answers << MsgAnswer::No;
    EXPECT_FALSE(discovery.confirm());
    EXPECT_EQ(boxes.texts(),
              QStringList{"Performing an 'Auto Discovery' will delete the local database in your "
                          "computer\rand create a new one, based on the Network Elements found "
                          "(if any). \rAre you sure?"});
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Auto Discovery"));
    EXPECT_EQ(boxes.shown[0].defaultButton, MsgAnswer::No);
    EXPECT_EQ(readFile(store.path()), QByteArray("[0050C2FFFFFF]\nNAME=OLD\n"));
}

TEST_F(DiscoveryTest, RepliesInTimeReplaceTheStoreAndTheLinkIsPutBack)
{
    QSignalSpy progress(&discovery, &Discovery::progress);
    QSignalSpy finished(&discovery, &Discovery::finished);
    auto pagingPort = standIn(1901);
    // GIVEN a discovery under way: the old store is gone, the link pages the broadcast address
    discovery.start();
    EXPECT_EQ(readFile(store.path()), QByteArray());
    EXPECT_TRUE(link.discoveryAwaiting());
    EXPECT_EQ(link.remoteHost() + ":" + QString::number(link.remotePort()), "255.255.255.255:1901");
    // WHEN two elements answer, the second still queued as the wait ends
    answer(5);
    ASSERT_TRUE(progress.wait(5000)); // the first of a burst is stored at once
    answer(6);
    discovery.timer()->start(0);
    ASSERT_TRUE(finished.wait(5000));
    // THEN both are stored, in the order they came, and the link is as before
    EXPECT_EQ(finished.first().at(0).toInt(), 2);
    EXPECT_EQ(progress.last().at(0).toInt(), 2);
    EXPECT_EQ(iniSections(store.path()), (QStringList{"0050C2000005", "0050C2000006"}));
    EXPECT_FALSE(link.discoveryAwaiting());
    EXPECT_EQ(link.remoteHost() + ":" + QString::number(link.remotePort()), "127.0.0.2:2977");
    // A reply after the end is no discovery reply: it is not stored.
    answer(7);
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    EXPECT_EQ(iniSections(store.path()).size(), 2);
}
