#include "link/ReplyHandler.h"
#include "Fakes.h"
#include "LinkParts.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QString kMac = "00:50:C2:A1:B2:C3";

ElementConfig encoderReply()
{
    ElementConfig r;
    r.ip = "10.0.0.5";
    r.mask = "255.255.255.0";
    r.gateway = "10.0.0.1";
    r.remote = "10.0.0.9";
    r.audioSource = 1;
    r.audioType = 1;
    r.txType = 0;
    r.name = "STUDIO A";
    r.role = 1;
    r.serial = 32769;
    r.versionMajor = 3;
    r.versionMinor = 1;
    r.sfn = 1;
    r.buffer = 6;
    return r;
}

ElementConfig decoderReply()
{
    ElementConfig r = encoderReply();
    r.ip = "10.0.0.9";
    r.remote = "239.1.1.1";
    r.name = "TX SITE B";
    r.role = 2;
    r.txType = 1;
    r.serial = 40001;
    r.versionMinor = 2;
    r.buffer = 4;
    r.attenuation = 200;
    r.silenceMode = 0;
    r.silenceLevel = 37;
    r.silenceTime = 43;
    r.audioSource = 0;
    return r;
}

class ReplyHandlerTest : public ::testing::Test, protected LinkParts
{
protected:
    ReplyHandlerTest()
        : handler(
              link, store, selection, boxes,
              [this](const QString& ip, QString& mac) {
                  ++lookups;
                  if (!macs.contains(ip))
                      return false;
                  mac = macs.value(ip);
                  return true;
              },
              ValueRanges{14, 22, 3, 1, 154, 1, 220})
    {
        // What the panel would be told to show.
        QObject::connect(&handler, &ReplyHandler::storeChanged, [this] { ++rebuilds; });
        QObject::connect(&selection, &SelectedElement::roleCaptionChanged,
                         [this](const QString& caption) { calls << "type " + caption; });
        QObject::connect(&handler, &ReplyHandler::confirmationApplied, [this](const ElementConfig& shown) {
            calls << QString("sn %1").arg(shown.serial) << "ver " + shown.version()
                  << QString("att %1").arg(shown.attenuation) << QString("buf %1").arg(shown.buffer);
            if (shown.silenceMode >= 0)
                calls << QString("sdm %1").arg(shown.silenceMode);
            calls << QString("sdl %1").arg(shown.silenceLevel) << QString("sdt %1").arg(shown.silenceTime);
        });
        macs["10.0.0.5"] = kMac;
        macs["10.0.0.9"] = "00:50:C2:A1:B2:C4";
        writeFile(store.path(), "");
    }

    // The selection as loading would have left it for the element of the record.
    void selectAs(const ElementConfig& r)
    {
        selection.select(macs.value(r.ip));
        selection.setRoleCaption(roleCaption(r.role));
        calls.clear();
        edit([&](ElementConfig& v) {
            v.name = r.name.trimmed().toLower();
            v.ip = r.ip;
            v.mask = r.mask;
            v.gateway = r.gateway;
            v.remote = r.remote;
            v.audioSource = r.audioSource;
            v.audioType = r.audioType;
            v.txType = r.txType;
        });
    }

    // One reply as the link hands it over: each after the last has been dealt with.
    void handle(const QByteArray& datagram, bool discovery)
    {
        handler.handleConfigReply(QueuedReply{datagram, discovery, ++sequence});
    }

    QHash<QString, QString> macs;
    int lookups = 0;
    int rebuilds = 0;
    QStringList calls;
    quint64 sequence = 0;
    ReplyHandler handler;
};

} // namespace

TEST_F(ReplyHandlerTest, DiscoveredEncoderGetsThirteenKeys)
{
    handle(buildConfigReply(encoderReply()), true);
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(readFile(store.path()),
              QByteArray("[0050C2A1B2C3]\nNAME=STUDIO A\nIP=10.0.0.5\nMASK=255.255.255.0\n"
                         "GW=10.0.0.1\nINPUT=1\nTYPE=1\nTX=0\nREMOTE=10.0.0.9\nROLE=1\n"
                         "SN=32769\nVER=3.1\nSFN=1\nBUF=6\n"));
    EXPECT_EQ(rebuilds, 0); // the end of the discovery rebuilds the tree
    EXPECT_EQ(handler.discoveredCount(), 1);
    EXPECT_TRUE(calls.isEmpty()); // nothing on screen changes
}

TEST_F(ReplyHandlerTest, DiscoveredDecoderStoresItsAddressAsMulticastAndSeventeenKeys)
{
    handle(buildConfigReply(decoderReply()), true);
    EXPECT_EQ(sectionKeyCount("0050C2A1B2C4", store.path()), 17);
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "multi", store.path()), "239.1.1.1");
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "remote", store.path(), "none"), "none");
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "att", store.path()), "200");
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "sdt", store.path()), "43");
    // The same layout as the Windows station left it, apart from its CRLF line ends.
    QByteArray fixture = readFile(fixturePath("nms-windows-station.ini"));
    fixture.replace("\r\n", "\n");
    EXPECT_TRUE(fixture.endsWith(readFile(store.path())));
}

TEST_F(ReplyHandlerTest, ABurstOfDiscoveryRepliesIsStoredCompletelyAndInArrivalOrder)
{
    // GIVEN 200 elements whose replies wait in the queue together, and a lookup that knows an
    // address only once it has been told about it ahead (as the neighbour table learns it)
    link.setReplyHandler([this](const QueuedReply& reply) { handler.handleConfigReply(reply); });
    QHash<QString, QString> unresolved;
    QStringList told;
    handler.setLookAhead([&](const QStringList& ips) {
        told << ips;
        for (const QString& ip : ips)
            macs.insert(ip, unresolved.value(ip));
    });
    int updates = 0;
    QObject::connect(&handler, &ReplyHandler::elementsDiscovered, [&] { ++updates; });
    link.setDiscoveryAwaiting(true);
    QStringList expected;
    QStringList ips;
    for (int i = 0; i < 200; ++i) {
        ElementConfig r = encoderReply();
        r.ip = QString("10.0.1.%1").arg(i);
        r.serial = 1000 + i;
        const QString mac = QString("00:50:C2:00:01:%1").arg(i, 2, 16, QChar('0')).toUpper();
        unresolved[r.ip] = mac;
        expected << encodeMac(mac);
        ips << r.ip;
        link.acceptDatagram(buildConfigReply(r));
    }
    link.setDiscoveryAwaiting(false);
    // WHEN they have been handled THEN each one is stored, in the order they came, every address
    // was told ahead once and found at the first attempt, and the count grew on the way
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    handler.flushDiscovered();
    EXPECT_EQ(handler.discoveredCount(), 200);
    EXPECT_EQ(iniSections(store.path()), expected);
    EXPECT_EQ(readFromIni(expected[199], "sn", store.path()), "1199");
    EXPECT_EQ(sectionKeyCount(expected[137], store.path()), 13);
    EXPECT_EQ(told, ips);
    EXPECT_EQ(lookups, 200);
    EXPECT_GE(updates, 200 / ReplyHandler::kStoreBatch);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ReplyHandlerTest, InvalidFieldsAreReportedInOrderAndNothingIsStored)
{
    const struct
    {
        std::function<void(ElementConfig&)> spoil;
        QString field;
    } cases[] = {
        {[](ElementConfig& r) { r.audioSource = 2; }, "Audio Input"},
        {[](ElementConfig& r) { r.audioType = 7; }, "Audio Type"},
        {[](ElementConfig& r) { r.txType = 2; }, "TX Type"},
        {[](ElementConfig& r) { r.role = 3; }, "Element Type"},
        {[](ElementConfig& r) { r.serial = 0; }, "Serial Number"},
        {[](ElementConfig& r) { r.serial = -5; }, "Serial Number"},
        {[](ElementConfig& r) {
             r.audioSource = 2;
             r.serial = 0;
         },
         "Audio Input"},
    };
    for (const auto& c : cases) {
        boxes.clear();
        ElementConfig r = encoderReply();
        c.spoil(r);
        link.timerRemoteSent()->start();
        handle(buildConfigReply(r), true);
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text,
                  QString("An error occured while retrieving '%1':\rFeedback is corrupted.").arg(c.field));
        EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
        EXPECT_EQ(boxes.shown[0].caption, kAppTitle);
        EXPECT_TRUE(link.timerRemoteSent()->isActive()); // the pending send still times out
        EXPECT_EQ(readFile(store.path()), QByteArray());
    }
    EXPECT_EQ(lookups, 0);
}

TEST_F(ReplyHandlerTest, AFloodOfBadRepliesGivesOneBoxAndACountNotOneBoxEach)
{
    // GIVEN 3000 replies with the same fault waiting, and one good discovery reply among them
    link.setReplyHandler([this](const QueuedReply& reply) { handler.handleConfigReply(reply); });
    link.setDiscoveryAwaiting(true);
    ElementConfig bad = encoderReply();
    bad.audioSource = 7;
    for (int i = 0; i < 3000; ++i) {
        link.acceptDatagram(buildConfigReply(bad));
        if (i == 1500)
            link.acceptDatagram(buildConfigReply(encoderReply()));
    }
    // WHEN they have been handled
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    // THEN the operator saw the fault once, and then how many more there were
    const QString fault = "An error occured while retrieving 'Audio Input':\rFeedback is corrupted.";
    EXPECT_EQ(boxes.texts(),
              (QStringList{fault, fault + "\r2999 more replies with the same fault were dropped."}));
    EXPECT_EQ(handler.discoveredCount(), 1);
    // AND a fault that comes after those boxes were closed is shown again
    boxes.clear();
    link.acceptDatagram(buildConfigReply(bad));
    ASSERT_TRUE(waitUntil([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_EQ(boxes.texts(), QStringList{fault});
}

TEST_F(ReplyHandlerTest, ShortRepliesAreIgnored)
{
    QByteArray reply = buildConfigReply(encoderReply()).left(39);
    handle(reply, false);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(rebuilds, 0);
    EXPECT_EQ(readFile(store.path()), QByteArray());
}

TEST_F(ReplyHandlerTest, UnknownMacIsReportedWhenTheWaitRunsOut)
{
    macs.clear();
    handle(buildConfigReply(encoderReply()), false);
    // The lookup is tried again from the event loop while timerGetMAC runs...
    QCoreApplication::processEvents();
    EXPECT_TRUE(handler.isIdentifying());
    EXPECT_TRUE(boxes.shown.isEmpty());
    // ...until its 41st tick.
    for (int tick = 0; tick < 40; ++tick)
        handler.onTimerGetMAC();
    EXPECT_TRUE(boxes.shown.isEmpty());
    handler.onTimerGetMAC();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              "An error occured while retrieving 'Element MAC':\rFeedback is corrupted.");
    EXPECT_GT(lookups, 1);
    EXPECT_FALSE(handler.timerGetMAC()->isActive());
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), QByteArray());
}

TEST_F(ReplyHandlerTest, ConfirmationWritesEveryMatchingFieldAndSaysSo)
{
    ElementConfig r = decoderReply();
    handle(buildConfigReply(r), true);
    selectAs(r);
    boxes.clear();
    link.timerRemoteSent()->start();
    handle(buildConfigReply(r), false);
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    ASSERT_EQ(boxes.shown.size(), 1) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Information);
    EXPECT_EQ(boxes.shown[0].caption, "Configuration changed");
    EXPECT_EQ(boxes.shown[0].text, "New configuration has been sucessfuly saved and loaded!");
    EXPECT_EQ(calls, (QStringList{"sn 40001", "ver 3.2", "att 200", "buf 4", "sdm 0", "sdl 37", "sdt 43"}));
    EXPECT_EQ(rebuilds, 1);
    // Discovery and confirmation agree: the section is as discovered.
    EXPECT_EQ(sectionKeyCount("0050C2A1B2C4", store.path()), 17);
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "name", store.path()), "TX SITE B");
}

TEST_F(ReplyHandlerTest, NameMismatchIsReportedAndTheRestIsStored)
{
    ElementConfig r = encoderReply();
    selectAs(r);
    edit([](ElementConfig& v) { v.name = "studio b"; });
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "An error occured while saving 'Element Name':\rFeedback is corrupted.");
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "name", store.path(), "none"), "none");
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "ip", store.path()), "10.0.0.5");
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "remote", store.path()), "10.0.0.9");
    // No decoder reply came before: the record's time-out 0 is raised to the bar's minimum.
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "sdt", store.path()), "1");
    EXPECT_EQ(sectionKeyCount("0050C2A1B2C3", store.path()), 16); // all but the name
    EXPECT_EQ(rebuilds, 1);
}

TEST_F(ReplyHandlerTest, NamesCompareWithoutBlanksAndCase)
{
    ElementConfig r = encoderReply();
    r.name = formatElementName("STUDIO 1");
    selectAs(r);
    edit([](ElementConfig& v) { v.name = "studio 1 "; });
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, "Configuration changed");
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "name", store.path()), "STUDIO 1");
}

TEST_F(ReplyHandlerTest, EveryMismatchHasItsMessage)
{
    ElementConfig r = encoderReply();
    r.txType = 1;
    selectAs(r);
    edit([](ElementConfig& v) {
        v.mask = "255.255.0.0";
        v.audioType = 0;
        v.txType = 0;
        v.remote = "239.9.9.9";
    });
    handle(buildConfigReply(r), false);
    EXPECT_EQ(boxes.texts(),
              (QStringList{"An error occured while saving 'Element Mask':\rFeedback is corrupted.",
                           "An error occured while saving 'Audio Type':\rFeedback is corrupted.",
                           "An error occured while saving 'Audio TX':\rFeedback is corrupted.",
                           "An error occured while saving 'Multicast IP':\rFeedback is corrupted."}));
}

TEST_F(ReplyHandlerTest, UnknownRoleIsWrittenShownAndNotASuccess)
{
    ElementConfig r = encoderReply();
    r.role = 0;
    selectAs(r);
    handle(buildConfigReply(r), false);
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(selection.roleCaption(), "UNKNOWN");
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "role", store.path()), "0");
}

TEST_F(ReplyHandlerTest, OutOfRangeValuesAreBroughtIntoTheControlsRanges)
{
    ElementConfig r = decoderReply();
    r.buffer = 40;
    r.attenuation = 3;
    r.sfn = 5;
    r.silenceMode = 9;
    r.silenceLevel = 0;
    r.silenceTime = 250;
    selectAs(r);
    handle(buildConfigReply(r), false);
    EXPECT_EQ(calls, (QStringList{"sn 40001", "ver 3.2", "att 14", "buf 22", "sdl 1", "sdt 220"}));
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "buf", store.path()), "22");
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "att", store.path()), "14");
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "sfn", store.path()), "0");
    EXPECT_EQ(readFromIni("0050C2A1B2C4", "sdm", store.path()), "9");
}

TEST_F(ReplyHandlerTest, EncoderReplyKeepsTheDecoderFieldsOfTheLastReply)
{
    handle(buildConfigReply(decoderReply()), true); // attenuation 200, silence 0/37/43
    ElementConfig r = encoderReply();
    selectAs(r);
    handle(buildConfigReply(r), false);
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "att", store.path()), "200");
    EXPECT_EQ(readFromIni("0050C2A1B2C3", "sdl", store.path()), "37");
}

TEST_F(ReplyHandlerTest, ReplyOfAnotherElementIsRefused)
{
    ElementConfig r = encoderReply();
    selection.clear();
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              "The response received does not match the selected element.\rCannot save this element info.");
    EXPECT_EQ(readFile(store.path()), QByteArray());
    EXPECT_EQ(rebuilds, 1);
}

TEST_F(ReplyHandlerTest, CorruptedSectionIsRefused)
{
    for (int i = 0; i < 21; ++i)
        ASSERT_TRUE(writeToIni("0050C2A1B2C3", QString("k%1").arg(i), "1", store.path()));
    const QByteArray before = readFile(store.path());
    ElementConfig r = encoderReply();
    selectAs(r);
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              "The data stored in your computer about this element, is corrupted.\rCannot save "
              "this element info.");
    EXPECT_EQ(readFile(store.path()), before);
}

TEST_F(ReplyHandlerTest, FailedWritesAreReportedAndNeverCalledASuccess)
{
    QFile::remove(store.path());
    ASSERT_TRUE(QDir().mkpath(store.path())); // a folder where the store should be
    ElementConfig r = encoderReply();
    selectAs(r);
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].text, storeWriteFailedText());
    boxes.clear();
    handle(buildConfigReply(r), true);
    EXPECT_EQ(boxes.texts(), QStringList{storeWriteFailedText()});
    EXPECT_EQ(handler.discoveredCount(), 0);
}
