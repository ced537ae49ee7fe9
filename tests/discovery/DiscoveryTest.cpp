// Discovery with the real link and reply handler; every element is known to ARP.
#include "discovery/Discovery.h"
#include "LinkFixture.h"
#include "link/ReplyHandler.h"

#include <QSignalSpy>

using namespace vexo;

class DiscoveryTest : public LinkFixture
{
protected:
    int found = 0; // the n-th element looked up has the MAC 00:50:C2:00:00:0n
    bool lookUp(const QString&, QString& mac)
    {
        return mac = "00:50:C2:00:00:0" + QString::number(++found), true;
    }
    ReplyHandler handler{link,         store, selection, boxes, std::bind_front(&DiscoveryTest::lookUp, this),
                         ValueRanges{}};
    Discovery discovery{link, store, handler, boxes};
};

TEST_F(DiscoveryTest, RepliesInTimeReplaceTheStoreAndTheLinkIsPutBack)
{
    // GIVEN an old store, the link last used for 127.0.0.2:2977, and the operator's No then Yes
    writeFile(store.path(), "[0050C2FFFFFF]\nNAME=OLD\n");
    link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
    ASSERT_TRUE(link.bindConfigPort());
    link.setRemote(QStringLiteral("127.0.0.2"), 2977);
    boxes.answers = {MsgAnswer::No, MsgAnswer::Yes};
    EXPECT_FALSE(discovery.confirm());
    EXPECT_TRUE(discovery.confirm());
    EXPECT_EQ(boxes.texts().first(),
              "Performing an 'Auto Discovery' will delete the local database in your computer\r"
              "and create a new one, based on the Network Elements found (if any). \rAre you sure?");
    EXPECT_EQ(readFile(store.path()), "[0050C2FFFFFF]\nNAME=OLD\n");
    // WHEN it runs: the store is emptied, the link pages the broadcast address
    QSignalSpy progress(&discovery, &Discovery::progress);
    QSignalSpy finished(&discovery, &Discovery::finished);
    discovery.start();
    EXPECT_EQ(readFile(store.path()), QByteArray());
    EXPECT_EQ(link.remoteHost() + ":" + QString::number(link.remotePort()), "255.255.255.255:1901");
    // AND two elements answer, the second still queued as the wait ends
    link.acceptDatagram(encoderReply(5));
    ASSERT_TRUE(progress.wait(5000)); // the first of a burst is stored at once
    link.acceptDatagram(encoderReply(6));
    discovery.timer()->start(0);
    ASSERT_TRUE(finished.wait(5000));
    // THEN both are stored in the order they came, and the link is as before
    EXPECT_EQ(finished.first().at(0).toInt(), 2);
    EXPECT_EQ(progress.last().at(0).toInt(), 2);
    EXPECT_EQ(iniSections(store.path()), (QStringList{"0050C2000001", "0050C2000002"}));
    EXPECT_EQ(link.remoteHost() + ":" + QString::number(link.remotePort()), "127.0.0.2:2977");
    // AND a reply after the end is no discovery reply: it is not stored
    link.acceptDatagram(encoderReply(7));
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    EXPECT_EQ(iniSections(store.path()).size(), 2);
}
