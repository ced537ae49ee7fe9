#include "discovery/Discovery.h"
#include "Fakes.h"
#include "LinkParts.h"
#include "TestUtil.h"
#include "gui/PagingWindow.h"
#include "link/ConfigCodec.h"
#include "link/ReplyHandler.h"
#include "store/IniFile.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// Discovery with the real link and reply handler on loopback; every element is known to ARP.
class DiscoveryTest : public ::testing::Test, protected LinkParts
{
protected:
    DiscoveryTest()
        : handler(
              link, store, selection, boxes,
              [](const QString& ip, QString& mac) {
                  mac = "00:50:C2:00:00:" + ip.section('.', 3).rightJustified(2, '0');
                  return true;
              },
              ValueRanges{}),
          discovery(link, store, handler, boxes)
    {
        link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
        EXPECT_TRUE(link.bindConfigPort());
        writeFile(store.path(), "[0050C2FFFFFF]\nNAME=OLD\n");
        link.setRemote("127.0.0.2", 2977);
    }

    void answer(int last)
    {
        ElementConfig r;
        r.ip = QString("127.0.0.%1").arg(last);
        r.mask = "255.0.0.0";
        r.gateway = "127.0.0.1";
        r.remote = "127.0.0.1";
        r.name = "FOUND";
        r.role = 1;
        r.serial = last;
        link.acceptDatagram(buildConfigReply(r));
    }

    ReplyHandler handler;
    Discovery discovery;
};

} // namespace

TEST_F(DiscoveryTest, NoLeavesEverythingAsItWas)
{
    boxes.answers << MsgAnswer::No;
    EXPECT_FALSE(discovery.confirm());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, "Auto Discovery");
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown[0].defaultButton, MsgAnswer::No);
    EXPECT_EQ(boxes.shown[0].text,
              "Performing an 'Auto Discovery' will delete the local database in your "
              "computer\rand create a new one, based on the Network Elements found (if any). "
              "\rAre you sure?");
    EXPECT_EQ(readFile(store.path()), QByteArray("[0050C2FFFFFF]\nNAME=OLD\n"));
}

TEST_F(DiscoveryTest, RepliesInTimeReplaceTheStoreAndTheLinkIsPutBack)
{
    QSignalSpy progress(&discovery, &Discovery::progress);
    QSignalSpy finished(&discovery, &Discovery::finished);
    // GIVEN a discovery under way: the old store is gone and the link pages the broadcast address
    discovery.start();
    EXPECT_EQ(readFile(store.path()), QByteArray());
    EXPECT_TRUE(link.discoveryAwaiting());
    EXPECT_EQ(link.remoteHost(), "255.255.255.255");
    EXPECT_EQ(link.remotePort(), 1901);
    EXPECT_TRUE(discovery.timer()->isActive());
    EXPECT_EQ(discovery.timer()->interval(), 3000);
    // WHEN two elements answer, the second still queued as the wait ends
    answer(5);
    ASSERT_TRUE(progress.wait(2000));
    answer(6);
    discovery.timer()->start(0);
    ASSERT_TRUE(finished.wait(2000));
    // THEN both are stored, in the order they came, and the link is as before
    EXPECT_EQ(finished.first().at(0).toInt(), 2);
    EXPECT_EQ(progress.last().at(0).toInt(), 2);
    EXPECT_EQ(iniSections(store.path()), (QStringList{"0050C2000005", "0050C2000006"}));
    EXPECT_FALSE(link.discoveryAwaiting());
    EXPECT_EQ(link.remoteHost(), "127.0.0.2");
    EXPECT_EQ(link.remotePort(), 2977);
    // A reply after the end is no discovery reply: it is not stored.
    answer(7);
    waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); });
    EXPECT_EQ(sectionKeyCount("0050C2000007", store.path()), 0);
}

TEST_F(DiscoveryTest, ThePagingWindowRunsTheDiscoveryFromOpeningToClosing)
{
    PagingWindow paging(discovery);
    paging.show();
    EXPECT_TRUE(discovery.isAwaiting());
    EXPECT_EQ(paging.windowTitle(), "Paging network...");
    EXPECT_EQ(paging.Label1->text(), "Please wait a few seconds while paging the network...");
    answer(5);
    ASSERT_TRUE(waitUntil([&] { return paging.lblAnswered->text() == "Elements answered: 1"; }));
    // The operator closes it early: the discovery ends at once, and so does the window.
    paging.close();
    EXPECT_FALSE(discovery.isAwaiting());
    EXPECT_FALSE(discovery.isRunning());
    EXPECT_FALSE(paging.isVisible());
    EXPECT_EQ(iniSections(store.path()), QStringList{"0050C2000005"});
}
