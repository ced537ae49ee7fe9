// Replies checked, identified, stored as discovered or compared as the confirmation of a save;
// and the save itself.
#include "link/ReplyHandler.h"
#include "LinkFixture.h"
#include "link/ConfigSender.h"

#include <QDir>

using namespace vexo;

namespace {

const QString kDecoderMac = QStringLiteral("00:50:C2:A1:B2:C4");
const QString kMismatch = QStringLiteral("An error occured while saving '%1':\rFeedback is corrupted.");

// The two elements of the Windows station's store (tests/data/nms-windows-station.ini).
ElementConfig encoder()
{
    ElementConfig r;
    r.ip = QStringLiteral("10.0.0.5");
    r.mask = QStringLiteral("255.255.255.0");
    r.gateway = QStringLiteral("10.0.0.1");
    r.remote = QStringLiteral("10.0.0.9");
    r.audioSource = r.audioType = r.role = r.sfn = 1;
    r.name = QStringLiteral("STUDIO A");
    r.serial = 32769;
    r.versionMajor = 3;
    r.versionMinor = 1;
    r.buffer = 6;
    return r;
}

ElementConfig decoder()
{
    ElementConfig r = encoder();
    r.ip = QStringLiteral("10.0.0.9");
    r.remote = QStringLiteral("239.1.1.1");
    r.name = QStringLiteral("TX SITE B");
    r.audioSource = 0;
    r.role = 2;
    r.txType = 1;
    r.serial = 40001;
    r.versionMinor = 2;
    r.buffer = 4;
    r.attenuation = 200;
    r.silenceMode = 0;
    r.silenceLevel = 37;
    r.silenceTime = 43;
    return r;
}

class ReplyHandlerTest : public LinkFixture
{
protected:
    ReplyHandlerTest()
    {
        macs[QStringLiteral("10.0.0.5")] = kSelectedMac;
        macs[QStringLiteral("10.0.0.9")] = kDecoderMac;
        writeFile(store.path(), "");
        QObject::connect(&handler, &ReplyHandler::storeChanged, [this] { ++rebuilds; });
        QObject::connect(&handler, &ReplyHandler::confirmationApplied, [this](const ElementConfig& s) {
            shown = {s.serial, s.attenuation, s.buffer, s.silenceMode, s.silenceLevel, s.silenceTime};
        });
    }

    // Selected and edited as loading would leave it for the element of the reply.
    void selectAs(const ElementConfig& r)
    {
        selection.select(macs.value(r.ip));
        edit([&](ElementConfig& v) {
            v = r;
            v.name = r.name.toLower() + QLatin1Char(' ');
        });
    }

    void handle(const ElementConfig& r, bool discovery)
    {
        handler.handleConfigReply(QueuedReply{buildConfigReply(r), discovery, ++sequence});
    }

    // The Windows station's store from the given section on, with its CRLF line ends as LF.
    static QByteArray windowsStore(const char* from)
    {
        const QByteArray ini = readFile(fixturePath("nms-windows-station.ini")).replace("\r\n", "\n");
        return ini.mid(ini.indexOf(from));
    }

    QHash<QString, QString> macs;
    int lookups = 0, rebuilds = 0;
    QList<int> shown;
    quint64 sequence = 0;
    ReplyHandler handler{link,
                         store,
                         selection,
                         boxes,
                         [this](const QString& ip, QString& mac) {
                             ++lookups;
                             mac = macs.value(ip);
                             return macs.contains(ip);
                         },
                         ValueRanges{14, 22, 3, 1, 154, 1, 220}};
};

} // namespace

TEST_F(ReplyHandlerTest, DiscoveredElementsAreStoredAsTheWindowsStationStoredThem)
{
    handle(encoder(), true);
    handle(decoder(), true);
    handler.flushDiscovered();
    EXPECT_EQ(readFile(store.path()), windowsStore("["));
    EXPECT_EQ(handler.discoveredCount(), 2);
    EXPECT_EQ(rebuilds, 0); // the end of the discovery rebuilds the tree
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ReplyHandlerTest, ABurstIsStoredInArrivalOrderInBatchesWithAddressesLookedUpAhead)
{
    // GIVEN 200 discovery replies waiting together, whose addresses the lookup knows only once
    // told ahead (as the neighbour table learns them)
    link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
    QHash<QString, QString> unresolved;
    QStringList told, ips, sections;
    handler.setLookAhead([&](const QStringList& list) {
        told << list;
        for (const QString& ip : list)
            macs.insert(ip, unresolved.value(ip));
    });
    QList<int> counts;
    QObject::connect(&handler, &ReplyHandler::elementsDiscovered, [&](int n) { counts << n; });
    link.setDiscoveryAwaiting(true);
    for (int i = 0; i < 200; ++i) {
        ElementConfig r = encoder();
        r.ip = QStringLiteral("10.0.1.%1").arg(i);
        unresolved[r.ip] = QStringLiteral("00:50:C2:00:01:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
        ips << r.ip;
        sections << encodeMac(unresolved[r.ip]);
        link.acceptDatagram(buildConfigReply(r));
    }
    // WHEN they have been handled
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    handler.flushDiscovered();
    // THEN a full batch is written as soon as it is complete, each found at the first attempt
    EXPECT_EQ(counts, (QList<int>{64, 128, 192, 200}));
    EXPECT_EQ(iniSections(store.path()), sections);
    EXPECT_EQ(told, ips);
    EXPECT_EQ(lookups, 200);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ReplyHandlerTest, InvalidRepliesAreReportedByTheirFirstBadFieldAndNothingIsStored)
{
    const struct
    {
        std::function<void(ElementConfig&)> spoil;
        const char* field;
    } cases[] = {
        {[](ElementConfig& r) { r.audioSource = 2; }, "Audio Input"},
        {[](ElementConfig& r) { r.audioType = 7; }, "Audio Type"},
        {[](ElementConfig& r) { r.txType = 2; }, "TX Type"},
        {[](ElementConfig& r) { r.role = 3; }, "Element Type"},
        {[](ElementConfig& r) { r.serial = -5; }, "Serial Number"},
        {[](ElementConfig& r) { r.audioSource = 2, r.serial = 0; }, "Audio Input"},
    };
    for (const auto& c : cases) {
        boxes.clear();
        ElementConfig r = encoder();
        c.spoil(r);
        link.timerRemoteSent()->start();
        handle(r, true);
        EXPECT_EQ(
            boxes.texts(),
            QStringList{QStringLiteral("An error occured while retrieving '%1':\rFeedback is corrupted.")
                            .arg(QLatin1String(c.field))});
        EXPECT_TRUE(link.timerRemoteSent()->isActive()); // the pending send still times out
    }
    handler.handleConfigReply(QueuedReply{buildConfigReply(encoder()).left(39), false, ++sequence});
    EXPECT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(readFile(store.path()), QByteArray());
    EXPECT_EQ(lookups, 0);
    EXPECT_EQ(rebuilds, 0);
}

TEST_F(ReplyHandlerTest, AFloodOfBadRepliesGivesOneBoxAndACount)
{
    link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
    link.setDiscoveryAwaiting(true);
    ElementConfig bad = encoder();
    bad.audioSource = 7;
    for (int i = 0; i < 3000; ++i) {
        link.acceptDatagram(buildConfigReply(bad));
        if (i == 1500)
            link.acceptDatagram(buildConfigReply(encoder()));
    }
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    const QString fault =
        QStringLiteral("An error occured while retrieving 'Audio Input':\rFeedback is corrupted.");
    EXPECT_EQ(boxes.texts(),
              (QStringList{fault, fault + "\r2999 more replies with the same fault were dropped."}));
    EXPECT_EQ(handler.discoveredCount(), 1);
    // A fault after those boxes were closed is shown again.
    boxes.clear();
    link.acceptDatagram(buildConfigReply(bad));
    ASSERT_TRUE(waitUntil([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_EQ(boxes.texts(), QStringList{fault});
}

TEST_F(ReplyHandlerTest, UnknownMacIsReportedAtThe41stTick)
{
    macs.clear();
    handle(encoder(), false);
    for (int tick = 0; tick < 40; ++tick)
        handler.onTimerGetMAC();
    ASSERT_TRUE(waitUntil([&] { return lookups > 1; })); // tried again from the event loop
    EXPECT_TRUE(boxes.shown.isEmpty());
    handler.onTimerGetMAC();
    EXPECT_EQ(boxes.texts(),
              QStringList{"An error occured while retrieving 'Element MAC':\rFeedback is corrupted."});
    EXPECT_FALSE(handler.timerGetMAC()->isActive());
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), QByteArray());
}

TEST_F(ReplyHandlerTest, ConfirmationStoresWhatDiscoveryStoredAndSaysSo)
{
    handle(decoder(), true);
    handler.flushDiscovered();
    selectAs(decoder());
    link.timerRemoteSent()->start();
    handle(decoder(), false);
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    EXPECT_EQ(boxes.texts(), QStringList{"New configuration has been sucessfuly saved and loaded!"});
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Configuration changed"));
    EXPECT_EQ(shown, (QList<int>{40001, 200, 4, 0, 37, 43}));
    EXPECT_EQ(selection.roleCaption(), QStringLiteral("DECODER"));
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), windowsStore("[0050C2A1B2C4]")); // the decoder's section, unchanged
}

TEST_F(ReplyHandlerTest, ConfirmationsThatDoNotMatchOrCannotBeStored)
{
    auto stored = [this](const QString& key) {
        return readFromIni(encodeMac(kSelectedMac), key, store.path(), "-");
    };
    const QString notSaved = QStringLiteral("\rCannot save this element info.");
    const struct
    {
        std::function<void(ElementConfig& reply, ElementConfig& draft)> change;
        QStringList texts;
        std::function<void()> check;
    } cases[] = {
        {[](ElementConfig&, ElementConfig& v) { v.name = "studio b"; },
         {kMismatch.arg("Element Name")},
         [&] { EXPECT_EQ(stored(keys::name) + stored(keys::ip) + stored(keys::sdt), "-10.0.0.51"); }},
        {[](ElementConfig& r, ElementConfig& v) {
             r.txType = 1;
             v.mask = "255.255.0.0", v.audioType = 0, v.txType = 0, v.remote = "239.9.9.9";
         },
         {kMismatch.arg("Element Mask"), kMismatch.arg("Audio Type"), kMismatch.arg("Audio TX"),
          kMismatch.arg("Multicast IP")},
         [&] { EXPECT_EQ(stored(keys::mask) + stored(keys::remote), "--"); }},
        {[](ElementConfig& r, ElementConfig& v) { r.role = v.role = 0; },
         {},
         [&] { EXPECT_EQ(stored(keys::role) + selection.roleCaption(), "0UNKNOWN"); }},
        {[](ElementConfig& r, ElementConfig& v) {
             r.role = v.role = 2, r.buffer = v.buffer = 40, r.attenuation = 3, r.sfn = 5, r.silenceMode = 9;
             r.silenceLevel = 0, r.silenceTime = 250;
         },
         {"New configuration has been sucessfuly saved and loaded!"},
         [&] {
             EXPECT_EQ(shown, (QList<int>{32769, 14, 22, -1, 1, 220}));
             EXPECT_EQ(
                 QStringList({stored(keys::buf), stored(keys::att), stored(keys::sfn), stored(keys::sdm)}),
                 QStringList({"22", "14", "0", "9"}));
         }},
        {[this](ElementConfig&, ElementConfig&) { handle(decoder(), true); },
         {"New configuration has been sucessfuly saved and loaded!"},
         [&] { EXPECT_EQ(stored(keys::att) + stored(keys::sdl) + stored(keys::sfn), "200371"); }},
        {[this](ElementConfig&, ElementConfig&) { selection.clear(); },
         {"The response received does not match the selected element." + notSaved},
         [&] { EXPECT_EQ(readFile(store.path()), QByteArray()); }},
        {[&](ElementConfig&, ElementConfig&) {
             for (int i = 0; i < 21; ++i)
                 store.write(kSelectedMac, QStringLiteral("k%1").arg(i), "1");
         },
         {"The data stored in your computer about this element, is corrupted." + notSaved},
         [&] { EXPECT_EQ(stored(keys::ip), "-"); }},
        {[this](ElementConfig&, ElementConfig&) {
             QFile::remove(store.path());
             QDir().mkpath(store.path()); // a folder where the store should be
         },
         {storeWriteFailedText()},
         [] {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.texts.join("|").toStdString());
        boxes.clear();
        writeFile(store.path(), "");
        ElementConfig r = encoder();
        selectAs(r);
        ElementConfig draft = selection.draft();
        c.change(r, draft);
        if (selection.isSelected())
            selection.setDraft(draft);
        handle(r, false);
        EXPECT_EQ(boxes.texts(), c.texts);
        c.check();
    }
    // A discovered element cannot be stored either, and is not counted.
    boxes.clear();
    const int discovered = handler.discoveredCount();
    handle(encoder(), true);
    handler.flushDiscovered();
    EXPECT_EQ(boxes.texts(), QStringList{storeWriteFailedText()});
    EXPECT_EQ(handler.discoveredCount(), discovered);
}

class ConfigSenderTest : public LinkFixture
{
protected:
    ConfigSenderTest()
    {
        selectStandIn();
        selection.setRoleCaption(QStringLiteral("ENCODER"));
        ElementConfig v;
        EXPECT_TRUE(decodeConfigReply(replyHead("01"), v));
        v.sfn = 5; // sent as 1
        v.name = QStringLiteral("studio 1");
        v.buffer = 4;
        v.silenceMode = -1; // a decoder without a routing chosen
        v.silenceLevel = 37;
        v.silenceTime = 43;
        selection.setDraft(v);
        EXPECT_TRUE(link.bindConfigPort());
    }

    ConfigSender sender{link, store, boxes, selection};
    std::unique_ptr<QUdpSocket> element = standIn(2976);
};

TEST_F(ConfigSenderTest, ChecksComeInOrderAndStopTheSave)
{
    const struct
    {
        std::function<void(ElementConfig&)> spoil;
        const char* problem;
    } cases[] = {
        {[this](ElementConfig&) { selection.clear(); }, "No Network Element selected!"},
        {[](ElementConfig& v) { v.txType = -1, v.name.clear(); },
         "Please verify that all audio fields are correct!"},
        {[](ElementConfig& v) { v.name.clear(), v.mask = "255.255.255.300"; },
         "Please verify that the name field is correct!"},
        {[](ElementConfig& v) { v.remote = "239.1.1"; }, "Please verify that all IP fields are correct!"},
        {[](ElementConfig& v) { v.gateway.clear(); }, "Please verify that all IP fields are correct!"},
        {[this](ElementConfig&) { QFile::remove(store.path()); },
         "The local database in your computer, is corrupted!"},
    };
    boxes.answers << MsgAnswer::No;
    sender.saveChanges();
    EXPECT_EQ(boxes.texts(),
              QStringList{"This configuration will be sent to selected Network Element and\rwill "
                          "also be saved to local database in your computer. \rAre you sure?"});
    EXPECT_EQ(boxes.shown[0].defaultButton, MsgAnswer::No);
    EXPECT_FALSE(element->hasPendingDatagrams()); // loopback would have delivered it by now
    const ElementConfig good = selection.draft();
    for (const auto& c : cases) {
        boxes.clear();
        selection.select(kSelectedMac);
        selection.setDraft(good);
        edit(c.spoil);
        sender.saveChanges();
        EXPECT_EQ(boxes.texts(), QStringList{QLatin1String(c.problem) + "\rCannot save."});
        EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error!"));
    }
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
}

TEST_F(ConfigSenderTest, YesSendsTheRequestOfTheElementsRole)
{
    const QByteArray head =
        hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 00 01 01") + "STUDIO 1        ";
    for (const char* role : {"ENCODER", "DECODER"}) {
        selection.setRoleCaption(QLatin1String(role));
        boxes.answers << MsgAnswer::Yes;
        sender.saveChanges();
        const QNetworkDatagram d = receiveOne(*element);
        EXPECT_EQ(d.data(), *role == 'E' ? head : head + hex("04 00 25 2B")) << role;
        EXPECT_EQ(d.senderPort(), 2976);
        EXPECT_TRUE(link.timerRemoteSent()->isActive());
    }
}
