// Discovery with the real link and reply handler; every element is known to ARP.
#include "discovery/Discovery.h"
#include "LinkFixture.h"
#include "discovery/InterfaceChoice.h"
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
    FakeInterfaces cards;
    void SetUp() override { discovery.setInterfaceSource(cards); }
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

TEST_F(DiscoveryTest, WithNoCardToPageTheStoreStaysAndTheOperatorIsToldWhy)
{
    // GIVEN a store, and cards that cannot page: none at all, or none of those named
    writeFile(store.path(), "[0050C2FFFFFF]\nNAME=OLD\n");
    ASSERT_TRUE(link.bindConfigPort());
    link.setRemote(QStringLiteral("127.0.0.2"), 2977);
    const struct
    {
        QList<PagingInterface> cards;
        QStringList names;
        QString says;
    } rows[] = {
        {{}, {}, "none is up with an IPv4 address and able to broadcast (loopback does not count)."},
        {{FakeInterfaces::loopback()},
         {"eth9", "eth8"},
         "eth9, eth8 is not up with an IPv4 address and able to broadcast."},
    };
    for (const auto& row : rows) {
        cards.list = row.cards;
        discovery.setInterfaceNames(row.names);
        QSignalSpy finished(&discovery, &Discovery::finished);
        QSignalSpy problems(&discovery, &Discovery::problem);
        // WHEN it starts THEN nothing is paged, the store is as it was and the discovery ends
        EXPECT_FALSE(discovery.start());
        ASSERT_EQ(problems.size(), 1);
        EXPECT_EQ(problems[0][0].value<DiscoveryProblem>(), DiscoveryProblem::NoInterface);
        EXPECT_TRUE(discovery.result().noInterface);
        EXPECT_EQ(discovery.noInterfaceText(),
                  "No network interface can send the paging request: " + row.says +
                      "\rNo element was paged; the local database was left as it was.");
        ASSERT_TRUE(finished.wait(5000));
        EXPECT_EQ(finished.first().at(0).toInt(), 0);
        EXPECT_FALSE(discovery.isRunning());
        EXPECT_EQ(readFile(store.path()), "[0050C2FFFFFF]\nNAME=OLD\n");
        EXPECT_EQ(link.remoteHost() + ":" + QString::number(link.remotePort()), "127.0.0.2:2977");
    }
}

// --interface on the station's command line, and the choice it leaves for the next start.
TEST(InterfaceChoice, OptionsAreTakenOutAndTheChoiceIsRemembered)
{
    FakeSettings settings;
    // arguments, what is left of them, the setting afterwards (also the cards paged), the error
    const std::tuple<const char*, const char*, const char*, QString> rows[] = {
        {"gps", "gps", "", {}},
        {"--interface eth1 GPS --interface=eth2 --interface eth1", "GPS", "eth1 eth2", {}},
        {"", "", "eth1 eth2", {}}, // remembered
        {"--interface all --interface eth1", "", "", {}},
        {"--interface", "--interface", "", "--interface needs the name of a network interface (or all)"},
        {"--interface= GPS", "--interface= GPS", "", "--interface needs the name"},
    };
    for (const auto& [given, rest, stored, expectedError] : rows) {
        SCOPED_TRACE(given);
        QStringList arguments = QString(given).split(' ', Qt::SkipEmptyParts);
        InterfaceOptions options;
        QString error;
        const bool ok = takeInterfaceOptions(arguments, options, &error);
        EXPECT_EQ(ok, expectedError.isEmpty());
        EXPECT_TRUE(error.startsWith(expectedError)) << error.toStdString();
        EXPECT_EQ(arguments.join(' '), rest);
        if (!ok)
            continue;
        EXPECT_EQ(pagingInterfaceChoice(settings, options), QString(stored).split(' ', Qt::SkipEmptyParts));
        EXPECT_EQ(settings.value(kPagingInterfacesSetting, ""), stored);
    }
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
