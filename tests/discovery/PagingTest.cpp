#include "Fakes.h"
#include "LinkParts.h"
#include "TestUtil.h"
#include "gui/PagingWindow.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// Discovery with the real link and reply handler on loopback; the window's lists are counted.
class PagingTest : public ::testing::Test, protected LinkParts
{
protected:
    PagingTest()
        : handler(
              link, store, boxes, editor,
              [](const QString&, QString& mac) {
                  mac = "00:50:C2:00:00:01";
                  return true;
              },
              [] {}),
          discovery(DiscoveryContext{link, store, boxes, handler, &chkGetVolume,
                                     [this] { calls << "clear panel"; }, [this] { calls << "empty list"; },
                                     [this] { calls << "load config"; }})
    {
        link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
        EXPECT_TRUE(link.bindConfigPort());
        writeFile(store.path(), "[0050C2FFFFFF]\nNAME=OLD\n");
        link.setRemote("127.0.0.2", 2977);
        chkGetVolume.setChecked(true);
    }

    PagingWindow* pagingWindow() const
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* p = qobject_cast<PagingWindow*>(w); p && p->isVisible())
                return p;
        }
        return nullptr;
    }

    ReplyHandler handler;
    QCheckBox chkGetVolume;
    QStringList calls;
    Discovery discovery;
};

} // namespace

TEST_F(PagingTest, NoLeavesEverythingAsItWas)
{
    boxes.answers << MsgAnswer::No;
    discovery.autoDiscovery(nullptr);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, "Auto Discovery");
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown[0].defaultButton, MsgAnswer::No);
    EXPECT_EQ(boxes.shown[0].text,
              "Performing an 'Auto Discovery' will delete the local database in your "
              "computer\rand create a new one, based on the Network Elements found (if any). "
              "\rAre you sure?");
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(chkGetVolume.isChecked());
    EXPECT_EQ(readFile(store.path()), QByteArray("[0050C2FFFFFF]\nNAME=OLD\n"));
}

TEST_F(PagingTest, ClosingThePagingWindowEndsTheDiscoveryAtOnce)
{
    // GIVEN a discovery under way WHEN the operator closes its window after a reply came in
    bool awaitingWhileOpen = false;
    QString labelWhileOpen;
    QTimer::singleShot(200, [&] {
        PagingWindow* paging = pagingWindow();
        ASSERT_NE(paging, nullptr);
        labelWhileOpen = paging->Label1->text();
        awaitingWhileOpen = link.AutoDiscoverAwaiting;
        ReplyRecord r;
        r.ip = "127.0.0.2";
        r.mask = "255.0.0.0";
        r.gateway = "127.0.0.1";
        r.remote = "127.0.0.1";
        r.name = "FOUND";
        r.role = 1;
        r.serial = 7;
        link.acceptDatagram(buildConfigReply(r));
        waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); });
        paging->close(); // the window's own close control
    });
    QElapsedTimer clock;
    clock.start();
    boxes.answers << MsgAnswer::Yes;
    discovery.autoDiscovery(nullptr);

    // THEN it ends at once, with the end steps of a discovery that ran its three seconds
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_TRUE(awaitingWhileOpen);
    EXPECT_EQ(labelWhileOpen, "Please wait a few seconds while paging the network...");
    EXPECT_FALSE(link.AutoDiscoverAwaiting);
    EXPECT_EQ(link.remoteHost(), "127.0.0.2");
    EXPECT_EQ(link.remotePort(), 2977);
    EXPECT_FALSE(chkGetVolume.isChecked());
    EXPECT_EQ(calls, (QStringList{"clear panel", "empty list", "empty list", "load config"}));
    // The old store is gone; the element that answered is in the new one.
    EXPECT_EQ(LoadIniSectionsArray(store.path()), QStringList{"0050C2000001"});
    EXPECT_EQ(ReadFromINI("0050C2000001", "name", store.path()), "FOUND");
}

TEST_F(PagingTest, ThePagingWindowClosesItselfAfterThreeSeconds)
{
    QString caption;
    QTimer::singleShot(100, [&] {
        if (PagingWindow* paging = pagingWindow())
            caption = paging->windowTitle();
    });
    QElapsedTimer clock;
    clock.start();
    boxes.answers << MsgAnswer::Yes;
    discovery.autoDiscovery(nullptr);
    EXPECT_GE(clock.elapsed(), 2900);
    EXPECT_LT(clock.elapsed(), 4500);
    EXPECT_EQ(caption, "Paging network...");
    EXPECT_FALSE(link.AutoDiscoverAwaiting);
    EXPECT_EQ(calls.last(), "load config");
    EXPECT_EQ(readFile(store.path()), QByteArray()); // nobody answered: an empty store
}
