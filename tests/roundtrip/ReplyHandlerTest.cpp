#include "link/ReplyHandler.h"
#include "Fakes.h"
#include "LinkParts.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QString kMac = "00:50:C2:A1:B2:C3";

ReplyRecord encoderReply()
{
    ReplyRecord r;
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

ReplyRecord decoderReply()
{
    ReplyRecord r = encoderReply();
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
              link, store, boxes, editor,
              [this](const QString& ip, QString& mac) {
                  ++lookups;
                  if (!macs.contains(ip))
                      return false;
                  mac = macs.value(ip);
                  return true;
              },
              [this] { ++rebuilds; })
    {
        macs["10.0.0.5"] = kMac;
        macs["10.0.0.9"] = "00:50:C2:A1:B2:C4";
        writeFile(store.path(), "");
    }

    // The editor as loading would have left it for the element of the record.
    void selectAs(const ReplyRecord& r)
    {
        auto& v = editor.values;
        v.selectedMac = macs.value(r.ip);
        v.elementType = roleCaption(r.role);
        v.name = r.name.trimmed().toLower();
        v.ip = r.ip;
        v.mask = r.mask;
        v.gateway = r.gateway;
        v.remote = r.remote;
        v.audioInput = r.audioSource;
        v.audioType = r.audioType;
        v.audioTx = r.txType;
    }

    void handle(const QByteArray& datagram, bool discovery)
    {
        handler.handleConfigReply(QueuedReply{datagram, discovery});
    }

    QHash<QString, QString> macs;
    int lookups = 0;
    int rebuilds = 0;
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
    EXPECT_TRUE(editor.calls.isEmpty()); // nothing on screen changes
}

TEST_F(ReplyHandlerTest, DiscoveredDecoderStoresItsAddressAsMulticastAndSeventeenKeys)
{
    handle(buildConfigReply(decoderReply()), true);
    EXPECT_EQ(GetSectionKeyCount("0050C2A1B2C4", store.path()), 17);
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "multi", store.path()), "239.1.1.1");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "remote", store.path(), "none"), "none");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "att", store.path()), "200");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "sdt", store.path()), "43");
    // The same layout as the Windows station left it, apart from its CRLF line ends.
    QByteArray fixture = readFile(fixturePath("nms-windows-station.ini"));
    fixture.replace("\r\n", "\n");
    EXPECT_TRUE(fixture.endsWith(readFile(store.path())));
}

TEST_F(ReplyHandlerTest, ABurstOfDiscoveryRepliesIsStoredCompletelyAndInArrivalOrder)
{
    // GIVEN 200 elements whose replies wait in the queue together
    link.setReplyHandler([this](const QueuedReply& reply) { handler.handleConfigReply(reply); });
    link.AutoDiscoverAwaiting = true;
    QStringList expected;
    for (int i = 0; i < 200; ++i) {
        ReplyRecord r = encoderReply();
        r.ip = QString("10.0.1.%1").arg(i);
        r.serial = 1000 + i;
        const QString mac = QString("00:50:C2:00:01:%1").arg(i, 2, 16, QChar('0')).toUpper();
        macs[r.ip] = mac;
        expected << encodeMac(mac);
        link.acceptDatagram(buildConfigReply(r));
    }
    link.AutoDiscoverAwaiting = false;
    // WHEN they have been handled THEN each one is stored, in the order they came
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    EXPECT_EQ(handler.discoveredCount(), 200);
    EXPECT_EQ(LoadIniSectionsArray(store.path()), expected);
    EXPECT_EQ(ReadFromINI(expected[199], "sn", store.path()), "1199");
    EXPECT_EQ(GetSectionKeyCount(expected[137], store.path()), 13);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ReplyHandlerTest, InvalidFieldsAreReportedInOrderAndNothingIsStored)
{
    const struct
    {
        std::function<void(ReplyRecord&)> spoil;
        QString field;
    } cases[] = {
        {[](ReplyRecord& r) { r.audioSource = 2; }, "Audio Input"},
        {[](ReplyRecord& r) { r.audioType = 7; }, "Audio Type"},
        {[](ReplyRecord& r) { r.txType = 2; }, "TX Type"},
        {[](ReplyRecord& r) { r.role = 3; }, "Element Type"},
        {[](ReplyRecord& r) { r.serial = 0; }, "Serial Number"},
        {[](ReplyRecord& r) { r.serial = -5; }, "Serial Number"},
        {[](ReplyRecord& r) {
             r.audioSource = 2;
             r.serial = 0;
         },
         "Audio Input"},
    };
    for (const auto& c : cases) {
        boxes.clear();
        ReplyRecord r = encoderReply();
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
    link.MacWaitTicks = 40; // the next tick of timerGetMAC is its last
    handle(buildConfigReply(encoderReply()), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              "An error occured while retrieving 'Element MAC':\rFeedback is corrupted.");
    EXPECT_GT(lookups, 1);
    EXPECT_EQ(link.MacWaitTicks, 0);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), QByteArray());
}

TEST_F(ReplyHandlerTest, ConfirmationWritesEveryMatchingFieldAndSaysSo)
{
    ReplyRecord r = decoderReply();
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
    EXPECT_EQ(editor.calls, (QStringList{"type DECODER", "sn 40001", "ver 3.2", "att 200", "buf 4", "sdm 0",
                                         "sdl 37", "sdt 43"}));
    EXPECT_EQ(rebuilds, 1);
    // Discovery and confirmation agree: the section is as discovered.
    EXPECT_EQ(GetSectionKeyCount("0050C2A1B2C4", store.path()), 17);
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "name", store.path()), "TX SITE B");
}

TEST_F(ReplyHandlerTest, NameMismatchIsReportedAndTheRestIsStored)
{
    ReplyRecord r = encoderReply();
    selectAs(r);
    editor.values.name = "studio b";
    editor.values.ip = "10.0.0.5";
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "An error occured while saving 'Element Name':\rFeedback is corrupted.");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "name", store.path(), "none"), "none");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "ip", store.path()), "10.0.0.5");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "remote", store.path()), "10.0.0.9");
    // No decoder reply came before: the record's time-out 0 is raised to the bar's minimum.
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "sdt", store.path()), "1");
    EXPECT_EQ(GetSectionKeyCount("0050C2A1B2C3", store.path()), 16); // all but the name
    EXPECT_EQ(rebuilds, 1);
}

TEST_F(ReplyHandlerTest, NamesCompareWithoutBlanksAndCase)
{
    ReplyRecord r = encoderReply();
    r.name = formatElementName("STUDIO 1");
    selectAs(r);
    editor.values.name = "studio 1 ";
    handle(buildConfigReply(r), false);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, "Configuration changed");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "name", store.path()), "STUDIO 1");
}

TEST_F(ReplyHandlerTest, EveryMismatchHasItsMessage)
{
    ReplyRecord r = encoderReply();
    r.txType = 1;
    selectAs(r);
    editor.values.mask = "255.255.0.0";
    editor.values.audioType = 0;
    editor.values.audioTx = 0;
    editor.values.remote = "239.9.9.9";
    handle(buildConfigReply(r), false);
    EXPECT_EQ(boxes.texts(),
              (QStringList{"An error occured while saving 'Element Mask':\rFeedback is corrupted.",
                           "An error occured while saving 'Audio Type':\rFeedback is corrupted.",
                           "An error occured while saving 'Audio TX':\rFeedback is corrupted.",
                           "An error occured while saving 'Multicast IP':\rFeedback is corrupted."}));
}

TEST_F(ReplyHandlerTest, UnknownRoleIsWrittenShownAndNotASuccess)
{
    ReplyRecord r = encoderReply();
    r.role = 0;
    selectAs(r);
    handle(buildConfigReply(r), false);
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(editor.values.elementType, "UNKNOWN");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "role", store.path()), "0");
}

TEST_F(ReplyHandlerTest, OutOfRangeValuesAreBroughtIntoTheControlsRanges)
{
    ReplyRecord r = decoderReply();
    r.buffer = 40;
    r.attenuation = 3;
    r.sfn = 5;
    r.silenceMode = 9;
    r.silenceLevel = 0;
    r.silenceTime = 250;
    selectAs(r);
    editor.values.silenceMode = 1;
    handle(buildConfigReply(r), false);
    EXPECT_EQ(editor.calls,
              (QStringList{"type DECODER", "sn 40001", "ver 3.2", "att 14", "buf 22", "sdl 1", "sdt 220"}));
    EXPECT_EQ(editor.values.silenceMode, 1); // no such position: the list stays as it is
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "buf", store.path()), "22");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "att", store.path()), "14");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "sfn", store.path()), "0");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C4", "sdm", store.path()), "9");
}

TEST_F(ReplyHandlerTest, EncoderReplyKeepsTheDecoderFieldsOfTheLastReply)
{
    handle(buildConfigReply(decoderReply()), true); // attenuation 200, silence 0/37/43
    ReplyRecord r = encoderReply();
    selectAs(r);
    handle(buildConfigReply(r), false);
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "att", store.path()), "200");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "sdl", store.path()), "37");
}

TEST_F(ReplyHandlerTest, ReplyOfAnotherElementIsRefused)
{
    ReplyRecord r = encoderReply();
    editor.values.selectedMac = "-";
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
        ASSERT_TRUE(WriteToINI("0050C2A1B2C3", QString("k%1").arg(i), "1", store.path()));
    const QByteArray before = readFile(store.path());
    ReplyRecord r = encoderReply();
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
    ReplyRecord r = encoderReply();
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
