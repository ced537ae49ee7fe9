// Replies checked, identified, stored as discovered or compared as the confirmation of a save;
// and the save itself.
#include "link/ReplyHandler.h"
#include "LinkFixture.h"
#include "link/ConfigSender.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

using namespace vexo;

namespace {

const QString kSaved = QStringLiteral("New configuration has been sucessfuly saved and loaded!");
const QString kNotSaved = QStringLiteral("\rCannot save this element info.");
QString fault(const char* doing, const char* field)
{
    return QStringLiteral("An error occured while %1 '%2':\rFeedback is corrupted.").arg(doing, field);
}

// The replies of the two elements in the Windows station's store (tests/data).
// 10.0.0.5 / 255.255.255.0 / 10.0.0.1 / 10.0.0.9, 1 1 0, "STUDIO A", encoder, 32769, 3.1, SFN 1, buffer 6
const char* const kEncoder =
    "0A 00 00 05 FF FF FF 00 0A 00 00 01 0A 00 00 09 01 01 00 53 54 55 44 49 4F 20 41 20"
    "20 20 20 20 20 20 20 01 00 00 80 01 03 01 01 06";
// 10.0.0.9 / ... / 239.1.1.1, 0 1 1, "TX SITE B", decoder, 40001, att 200, 3.2, SFN 1, buffer 4, 0 37 43
const char* const kDecoder =
    "0A 00 00 09 FF FF FF 00 0A 00 00 01 EF 01 01 01 00 01 01 54 58 20 53 49 54 45 20 42"
    "20 20 20 20 20 20 20 02 00 00 9C 41 C8 03 02 01 04 00 25 2B";
ElementConfig reply(const char* bytes)
{
    ElementConfig r;
    EXPECT_TRUE(decodeConfigReply(hex(bytes), r));
    return r;
}

class ReplyHandlerTest : public LinkFixture
{
protected:
    ReplyHandlerTest()
    {
        writeFile(store.path(), "");
        QObject::connect(&handler, &ReplyHandler::storeChanged, [this] { ++rebuilds; });
        QObject::connect(&handler, &ReplyHandler::confirmationApplied, [this](const ElementConfig& s) {
            QStringList values;
            for (int v : {s.serial, s.attenuation, s.buffer, s.silenceMode, s.silenceLevel, s.silenceTime})
                values << QString::number(v);
            shown = values.join(',');
        });
    }

    // Selected and edited as loading leaves it; names compare without blanks and case.
    void selectAs(ElementConfig draft)
    {
        selection.select(macs.value(draft.ip));
        draft.name = draft.name.trimmed().toLower() + QLatin1Char(' ');
        selection.setDraft(draft);
    }

    void handle(const ElementConfig& r, bool discovery)
    {
        handler.handleConfigReply(QueuedReply{buildConfigReply(r), discovery, ++sequence});
    }

    void handleAllQueued()
    {
        link.setReplyHandler([this](const QueuedReply& r) { handler.handleConfigReply(r); });
        ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    }

    bool lookUp(const QString& ip, QString& mac)
    {
        return ++lookups, mac = macs.value(ip), macs.contains(ip);
    }

    QHash<QString, QString> macs{{"10.0.0.5", kSelectedMac}, {"10.0.0.9", "00:50:C2:A1:B2:C4"}};
    int lookups = 0, rebuilds = 0;
    QString shown;
    quint64 sequence = 0;
    ReplyHandler handler{link,
                         store,
                         selection,
                         boxes,
                         std::bind_front(&ReplyHandlerTest::lookUp, this),
                         ValueRanges{14, 22, 3, 1, 154, 1, 220}};
};

} // namespace

TEST_F(ReplyHandlerTest, DiscoveredAndConfirmedElementsAreStoredAsTheWindowsStationStoredThem)
{
    const QByteArray windowsStore = readFile(fixturePath("nms-windows-station.ini")).replace("\r\n", "\n");
    handle(reply(kEncoder), true);
    handle(reply(kDecoder), true);
    handler.flushDiscovered();
    EXPECT_EQ(readFile(store.path()), windowsStore);
    EXPECT_EQ(handler.discoveredCount(), 2);
    EXPECT_EQ(rebuilds + boxes.shown.size(), 0); // the end of the discovery rebuilds the tree
    // WHEN the decoder confirms a save of what it has THEN the store stays as it was
    selectAs(reply(kDecoder));
    link.timerRemoteSent()->start();
    handle(reply(kDecoder), false);
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    ASSERT_EQ(boxes.texts(), QStringList{kSaved});
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Configuration changed"));
    EXPECT_EQ(shown, "40001,200,4,0,37,43");
    EXPECT_EQ(selection.roleCaption(), QStringLiteral("DECODER"));
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), windowsStore);
}

TEST_F(ReplyHandlerTest, ABurstIsStoredInArrivalOrderFirstElementAtOnceWithAddressesLookedUpAhead)
{
    // GIVEN 200 discovery replies waiting together, whose addresses the lookup knows only once
    // told ahead (as the neighbour table learns them)
    QStringList told, ips, sections;
    handler.setLookAhead([&](const QStringList& list) {
        told << list;
        for (const QString& ip : list)
            macs.insert(ip, "00:50:C2:00:0" + ip.section('.', 2, 2) + ":" +
                                ip.section('.', 3).rightJustified(2, '0'));
    });
    QList<int> counts;
    QObject::connect(&handler, &ReplyHandler::elementsDiscovered, [&](int n) { counts << n; });
    link.setDiscoveryAwaiting(true);
    ElementConfig r = reply(kEncoder);
    for (int i = 0; i < 200; ++i) {
        r.ip = QStringLiteral("10.0.%1.%2").arg(1 + i / 100).arg(i % 100);
        ips << r.ip;
        sections << QStringLiteral("0050C2000%1%2").arg(1 + i / 100).arg(i % 100, 2, 10, QLatin1Char('0'));
        link.acceptDatagram(buildConfigReply(r));
    }
    // WHEN they are handled THEN the first is stored at once, the rest together as the pacing
    // allows (the count only grows), every address is found at the first attempt
    handleAllQueued();
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.first(), 1);
    handler.flushDiscovered();
    EXPECT_EQ(counts.last(), 200);
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end(), std::less_equal<int>()));
    EXPECT_EQ(iniSections(store.path()), sections);
    EXPECT_EQ(told, ips);
    EXPECT_EQ(lookups, 200);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ReplyHandlerTest, InvalidRepliesAreReportedByTheirFirstBadFieldAndAFloodByItsCount)
{
    // GIVEN replies each wrong in another field, then 2999 with the same fault and a good one
    const QList<QPair<std::function<void(ElementConfig&)>, const char*>> cases = {
        {[](ElementConfig& r) { r.audioSource = 2; }, "Audio Input"},
        {[](ElementConfig& r) { r.audioType = 7; }, "Audio Type"},
        {[](ElementConfig& r) { r.txType = 2; }, "TX Type"},
        {[](ElementConfig& r) { r.role = 3; }, "Element Type"},
        {[](ElementConfig& r) { r.serial = -5; }, "Serial Number"},
        {[](ElementConfig& r) { r.audioSource = 7, r.serial = 0; }, "Audio Input"},
    };
    QStringList texts;
    ElementConfig bad;
    for (const auto& [spoil, field] : cases) {
        spoil(bad = reply(kEncoder));
        link.acceptDatagram(buildConfigReply(bad));
        texts << fault("retrieving", field);
    }
    link.setDiscoveryAwaiting(true);
    for (int i = 0; i < 3000; ++i)
        link.acceptDatagram(i == 1500 ? hex(kEncoder) : buildConfigReply(bad));
    // WHEN they are handled THEN each fault is shown once, then how many more there were
    handleAllQueued();
    EXPECT_EQ(boxes.texts(), texts << texts.last() + "\r2999 more replies with the same fault were dropped.");
    EXPECT_EQ(handler.discoveredCount(), 1);
    EXPECT_EQ(lookups, 1);
    boxes.clear(); // a fault after those boxes were closed is shown again
    link.acceptDatagram(buildConfigReply(bad));
    ASSERT_TRUE(waitUntil([&] { return boxes.texts() == QStringList{texts.first()}; }));
}

TEST_F(ReplyHandlerTest, UnknownMacIsReportedAtThe41stTick)
{
    macs.clear();
    handle(reply(kEncoder), false);
    for (int tick = 0; tick < 40; ++tick)
        handler.onTimerGetMAC();
    ASSERT_TRUE(waitUntil([&] { return lookups > 1; })); // tried again from the event loop
    EXPECT_TRUE(boxes.shown.isEmpty());
    handler.onTimerGetMAC();
    EXPECT_EQ(boxes.texts(), QStringList{fault("retrieving", "Element MAC")});
    EXPECT_FALSE(handler.timerGetMAC()->isActive());
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), QByteArray());
}

TEST_F(ReplyHandlerTest, ConfirmationsThatDoNotMatchOrCannotBeStored)
{
    const struct
    {
        std::function<void(ElementConfig& reply, ElementConfig& draft)> change;
        QStringList texts;
        const char* stored; // key=value ("-": not in the store); shown=: what the panel is told to show
    } cases[] = {
        {[](ElementConfig&, ElementConfig& v) { v.name = "studio b"; },
         {fault("saving", "Element Name")},
         "name=- ip=10.0.0.5 sdt=1 shown=32769,14,6,0,1,1"},
        {[](ElementConfig& r, ElementConfig& v) {
             r.txType = 1, v.mask = "255.255.0.0", v.audioType = 0, v.txType = 0, v.remote = "239.9.9.9";
         },
         {fault("saving", "Element Mask"), fault("saving", "Audio Type"), fault("saving", "Audio TX"),
          fault("saving", "Multicast IP")},
         "mask=- multi=- tx=- type=-"},
        {[](ElementConfig& r, ElementConfig&) { r.role = 0; }, {}, "role=0"},
        {[](ElementConfig& r, ElementConfig& v) {
             r.role = v.role = 2, r.buffer = 40, r.attenuation = 3, r.sfn = 5;
             r.silenceMode = 9, r.silenceLevel = 0, r.silenceTime = 250;
         },
         {kSaved},
         "buf=22 att=14 sfn=0 sdm=9 sdl=1 sdt=220 shown=32769,14,22,-1,1,220"},
        {[this](ElementConfig&, ElementConfig&) { handle(reply(kDecoder), true); },
         {kSaved},
         "att=200 sdl=37 sfn=1"},
        {[this](ElementConfig&, ElementConfig&) { selection.clear(); },
         {"The response received does not match the selected element." + kNotSaved},
         "ip=-"},
        {[&](ElementConfig&, ElementConfig&) {
             for (int i = 0; i < 21; ++i)
                 store.write(kSelectedMac, QStringLiteral("k%1").arg(i), "1");
         },
         {"The data stored in your computer about this element, is corrupted." + kNotSaved},
         "ip=-"},
        {[this](ElementConfig&, ElementConfig&) { QFile::remove(store.path()), QDir().mkpath(store.path()); },
         {storeWriteFailedText()},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        boxes.clear();
        writeFile(store.path(), "");
        ElementConfig r = reply(kEncoder), draft = r;
        selectAs(r);
        c.change(r, draft);
        if (selection.isSelected())
            selectAs(draft);
        handle(r, false);
        EXPECT_EQ(boxes.texts(), c.texts);
        QStringList stored;
        for (const QString& key :
             QString(c.stored).remove(QRegularExpression("=[^ ]*")).split(' ', Qt::SkipEmptyParts))
            stored << key + "=" +
                          (key == "shown" ? shown : readFromIni("0050C2A1B2C3", key, store.path(), "-"));
        EXPECT_EQ(stored.join(' '), c.stored);
    }
    boxes.clear(); // nor can a discovered element be, and it is not counted
    const int discovered = handler.discoveredCount();
    handle(reply(kEncoder), true);
    handler.flushDiscovered();
    EXPECT_EQ(boxes.texts(), QStringList{storeWriteFailedText()});
    EXPECT_EQ(handler.discoveredCount(), discovered);
}

TEST_F(LinkFixture, SaveChangesChecksAsksAndSendsTheRequestOfTheElementsRole)
{
    selectStandIn();
    const QByteArray head = hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 00 01");
    ElementConfig good; // SFN 5 goes out as 1, a silence detector without a routing chosen as 0
    ASSERT_TRUE(parseConfigRequest(head + hex("05") + "studio 1        " + hex("04 00 25 2B"), good));
    good.silenceMode = -1;
    ConfigSender sender(link, store, boxes, selection);
    auto element = standIn(2976);
    const QList<QPair<std::function<void(ElementConfig&)>, const char*>> cases = {
        {[this](ElementConfig&) { selection.clear(); }, "No Network Element selected!"},
        {[](ElementConfig& v) { v.txType = -1, v.name.clear(); },
         "Please verify that all audio fields are correct!"},
        {[](ElementConfig& v) { v.name.clear(), v.mask = "1.2.3.300"; },
         "Please verify that the name field is correct!"},
        {[](ElementConfig& v) { v.remote = "239.1.1"; }, "Please verify that all IP fields are correct!"},
        {[](ElementConfig&) {}, nullptr}, // asked, and the answer is No
        {[this](ElementConfig&) { QFile::remove(store.path()); },
         "The local database in your computer, is corrupted!"},
    };
    for (const auto& [spoil, problem] : cases) {
        boxes.clear();
        selection.select(kSelectedMac);
        ElementConfig draft = good;
        spoil(draft);
        selection.setDraft(draft);
        boxes.answers = {MsgAnswer::No};
        sender.saveChanges();
        EXPECT_EQ(boxes.texts(),
                  QStringList{problem ? QLatin1String(problem) + "\rCannot save."
                                      : "This configuration will be sent to selected Network Element "
                                        "and\rwill also be saved to local database in your "
                                        "computer. \rAre you sure?"});
        EXPECT_FALSE(element->hasPendingDatagrams()); // loopback would have delivered it by now
    }
    selectStandIn();
    selection.setDraft(good);
    selection.setRoleCaption(QStringLiteral("DECODER"));
    boxes.answers = {MsgAnswer::Yes};
    sender.saveChanges();
    EXPECT_EQ(receiveOne(*element).data(), head + hex("01") + "STUDIO 1        " + hex("04 00 25 2B"));
    EXPECT_TRUE(link.timerRemoteSent()->isActive());
}
