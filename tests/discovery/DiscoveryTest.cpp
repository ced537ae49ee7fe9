// Discovery with the real link and reply handler; every element is known to ARP.
#include "discovery/Discovery.h"
#include "LinkFixture.h"
#include "link/ReplyHandler.h"

#include <QDir>
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
    ReplyHandler handler{link, store, std::bind_front(&DiscoveryTest::lookUp, this), ValueRanges{}};
    Discovery discovery{link, store, handler};
};

TEST_F(DiscoveryTest, RepliesInTimeReplaceTheStoreAndTheLinkIsPutBack)
{
    // GIVEN an old store and the link last used for 127.0.0.2:2977
    writeFile(store.path(), "[0050C2FFFFFF]\nNAME=OLD\n");
    link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
    ASSERT_TRUE(link.bindConfigPort());
    link.setRemote(QStringLiteral("127.0.0.2"), 2977);
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
    EXPECT_EQ(discovery.result().stored, 2);
    EXPECT_FALSE(discovery.result().storeWriteFailed || discovery.result().storeNotCreated ||
                 discovery.result().paging);
    EXPECT_EQ(progress.last().at(0).toInt(), 2);
    EXPECT_EQ(iniSections(store.path()), (QStringList{"0050C2000001", "0050C2000002"}));
    EXPECT_EQ(link.remoteHost() + ":" + QString::number(link.remotePort()), "127.0.0.2:2977");
    // AND a reply after the end is no discovery reply: it is not stored
    link.acceptDatagram(encoderReply(7));
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    EXPECT_EQ(iniSections(store.path()).size(), 2);
}

TEST_F(DiscoveryTest, ProblemsAreToldWhenTheyHappenAndKeptInTheResult)
{
    // GIVEN a store that cannot be written (a folder in its place) and no paging address
    QDir().mkpath(store.path());
    link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
    ASSERT_TRUE(link.bindConfigPort());
    QSignalSpy problems(&discovery, &Discovery::problem);
    QSignalSpy finished(&discovery, &Discovery::finished);
    EXPECT_TRUE(discovery.start());
    ASSERT_EQ(problems.size(), 1);
    EXPECT_EQ(problems[0][0].value<DiscoveryProblem>(), DiscoveryProblem::StoreNotCreated);
    // WHEN an element answers and the wait ends
    link.acceptDatagram(encoderReply(5));
    ASSERT_TRUE(waitUntil([&] { return problems.size() == 2; }));
    discovery.finish();
    ASSERT_TRUE(finished.size() == 1 || finished.wait(5000));
    // THEN its write failed, and the result says all of it
    EXPECT_EQ(problems[1][0].value<DiscoveryProblem>(), DiscoveryProblem::StoreWriteFailed);
    EXPECT_TRUE(discovery.result().storeNotCreated);
    EXPECT_TRUE(discovery.result().storeWriteFailed);
    EXPECT_EQ(discovery.result().stored, 0);
    EXPECT_TRUE(boxes.shown.isEmpty());
}
