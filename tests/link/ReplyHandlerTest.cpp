// Replies checked, identified, stored as discovered or compared as the confirmation of a save,
// each handling told by its outcome.
#include "link/ReplyHandler.h"
#include "LinkFixture.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>

#include <algorithm>
#include <functional>

using namespace vexo;

namespace {

using Result = ConfigureOutcome::Result;

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
        QObject::connect(&handler, &ReplyHandler::confirmation, [this](const ConfigureOutcome& o) {
            outcomes << o;
            const ElementConfig& s = o.shown;
            QStringList values;
            for (int v : {s.serial, s.attenuation, s.buffer, s.silenceMode, s.silenceLevel, s.silenceTime})
                values << QString::number(v);
            shown = values.join(',');
        });
        QObject::connect(&handler, &ReplyHandler::invalidReply, [this](const QString& f) { invalid << f; });
    }

    // Expected as loading leaves it; names compare without blanks and case.
    void expectAs(ElementConfig draft)
    {
        draft.name = draft.name.trimmed().toLower() + QLatin1Char(' ');
        handler.setExpectation(macs.value(draft.ip), draft);
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
    QList<ConfigureOutcome> outcomes;
    QStringList invalid;
    quint64 sequence = 0;
    ReplyHandler handler{link, store, std::bind_front(&ReplyHandlerTest::lookUp, this),
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
    EXPECT_EQ(rebuilds + outcomes.size(), 0); // the end of the discovery rebuilds the tree
    // WHEN the decoder confirms a save of what it has THEN the store stays as it was
    expectAs(reply(kDecoder));
    link.timerRemoteSent()->start();
    handle(reply(kDecoder), false);
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    EXPECT_FALSE(handler.isIdentifying());
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].result, Result::Confirmed);
    EXPECT_EQ(outcomes[0].mac, "00:50:C2:A1:B2:C4");
    EXPECT_EQ(outcomes[0].reported.role, 2);
    EXPECT_EQ(shown, "40001,200,4,0,37,43");
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
    EXPECT_TRUE(invalid.isEmpty() && outcomes.isEmpty());
}

TEST_F(ReplyHandlerTest, InvalidRepliesAreToldByTheirFirstBadField)
{
    // GIVEN replies each wrong in another field (the last in two: the first counts). Four bytes
    // always make a valid address: the address checks cannot fail on a decoded reply.
    const QList<QPair<std::function<void(ElementConfig&)>, const char*>> cases = {
        {[](ElementConfig& r) { r.audioSource = 2; }, "Audio Input"},
        {[](ElementConfig& r) { r.audioType = 7; }, "Audio Type"},
        {[](ElementConfig& r) { r.txType = 2; }, "TX Type"},
        {[](ElementConfig& r) { r.role = 3; }, "Element Type"},
        {[](ElementConfig& r) { r.serial = -5; }, "Serial Number"},
        {[](ElementConfig& r) { r.audioSource = 7, r.serial = 0; }, "Audio Input"},
    };
    QStringList fields;
    link.timerRemoteSent()->start();
    for (const auto& [spoil, field] : cases) {
        ElementConfig bad = reply(kEncoder);
        spoil(bad);
        handle(bad, false);
        fields << QLatin1String(field);
    }
    EXPECT_EQ(invalid, fields);
    // An invalid reply leaves a pending send waiting, stores nothing and is not looked up.
    EXPECT_TRUE(link.timerRemoteSent()->isActive());
    EXPECT_EQ(lookups, 0);
    EXPECT_TRUE(outcomes.isEmpty());
    EXPECT_EQ(readFile(store.path()), QByteArray());
}

// A flood of junk while the first invalid reply is being told (its box is open): every further
// invalid reply is counted by its field, and one summary follows.
TEST_F(ReplyHandlerTest, AFloodOfMixedFaultsGivesOneReportAndOneSummary)
{
    ElementConfig input = reply(kEncoder), type = input, tx = input;
    input.audioSource = 2, type.audioType = 5, tx.txType = 9;
    int told = 0;
    QObject::connect(&handler, &ReplyHandler::invalidReply, [&] {
        if (++told > 1)
            return;
        // The box is open: 6000 mixed faults and one good discovery reply arrive meanwhile
        link.setDiscoveryAwaiting(true);
        for (int i = 0; i < 6000; ++i)
            link.acceptDatagram(buildConfigReply(i % 3 == 0 ? type : i % 3 == 1 ? input : tx));
        link.acceptDatagram(hex(kEncoder));
    });
    QList<QPair<int, QList<QPair<QString, int>>>> summaries;
    QObject::connect(&handler, &ReplyHandler::invalidRepliesDropped,
                     [&](int n, const QList<QPair<QString, int>>& byField) {
                         summaries.append({n, byField});
                     });
    link.acceptDatagram(buildConfigReply(input));
    handleAllQueued();
    handler.flushDiscovered();
    EXPECT_EQ(invalid, QStringList{"Audio Input"});
    ASSERT_EQ(summaries.size(), 1);
    EXPECT_EQ(summaries[0].first, 6000);
    const QList<QPair<QString, int>> byField = {
        {"Audio Type", 2000}, {"Audio Input", 2000}, {"TX Type", 2000}};
    EXPECT_EQ(summaries[0].second, byField);
    EXPECT_EQ(handler.discoveredCount(), 1);
    // A fault after the summary was closed is told again.
    link.acceptDatagram(buildConfigReply(type));
    ASSERT_TRUE(waitUntil([&] { return invalid.size() == 2; }));
    EXPECT_EQ(invalid.last(), "Audio Type");
    EXPECT_EQ(summaries.size(), 1);
}

TEST_F(ReplyHandlerTest, UnknownMacIsReportedAtThe41stTick)
{
    expectAs(reply(kEncoder));
    macs.clear();
    handle(reply(kEncoder), false);
    EXPECT_TRUE(handler.isIdentifying());
    for (int tick = 0; tick < 40; ++tick)
        handler.onTimerGetMAC();
    ASSERT_TRUE(waitUntil([&] { return lookups > 1; })); // tried again from the event loop
    EXPECT_TRUE(outcomes.isEmpty());
    EXPECT_EQ(rebuilds, 0);
    handler.onTimerGetMAC();
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].result, Result::CorruptedReply);
    EXPECT_EQ(outcomes[0].corruptedField, "Element MAC");
    EXPECT_EQ(outcomes[0].mac, kSelectedMac);
    EXPECT_FALSE(handler.isIdentifying());
    EXPECT_FALSE(handler.timerGetMAC()->isActive());
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(readFile(store.path()), QByteArray());
    // During a discovery the same failure is an invalid reply.
    handle(reply(kEncoder), true);
    for (int tick = 0; tick <= 40; ++tick)
        handler.onTimerGetMAC();
    EXPECT_EQ(invalid, QStringList{"Element MAC"});
}

TEST_F(ReplyHandlerTest, ConfirmationsThatDoNotMatchOrCannotBeStored)
{
    const struct
    {
        std::function<void(ElementConfig& reply, ElementConfig& draft)> change;
        Result result;
        QStringList differences; // field (key): sent / reported
        const char* stored;      // key=value ("-": not in the store); shown=: what the panel is told to show
    } cases[] = {
        {[](ElementConfig&, ElementConfig& v) { v.name = "studio b"; },
         Result::Mismatch,
         {"Element Name (name): studio b  / STUDIO A        "},
         "name=- ip=10.0.0.5 sdt=1 shown=32769,14,6,0,1,1"},
        {[](ElementConfig& r, ElementConfig& v) {
             r.txType = 1, v.mask = "255.255.0.0", v.audioType = 0, v.txType = 0, v.remote = "239.9.9.9";
         },
         Result::Mismatch,
         {"Element Mask (mask): 255.255.0.0 / 255.255.255.0", "Audio Type (type): 0 / 1",
          "Audio TX (tx): 0 / 1", "Multicast IP (multi): 239.9.9.9 / 10.0.0.9"},
         "mask=- multi=- tx=- type=-"},
        {[](ElementConfig& r, ElementConfig& v) { v.remote = r.remote = "10.0.0.7"; },
         Result::Confirmed,
         {},
         "remote=10.0.0.7 multi=-"},
        {[](ElementConfig& r, ElementConfig&) { r.role = 0; }, Result::Mismatch, {}, "role=0"},
        {[](ElementConfig& r, ElementConfig& v) {
             r.role = v.role = 2, r.buffer = 40, r.attenuation = 3, r.sfn = 5;
             r.silenceMode = 9, r.silenceLevel = 0, r.silenceTime = 250;
         },
         Result::Confirmed,
         {},
         "buf=22 att=14 sfn=0 sdm=9 sdl=1 sdt=220 shown=32769,14,22,-1,1,220"},
        {[this](ElementConfig&, ElementConfig&) { handle(reply(kDecoder), true); },
         Result::Confirmed,
         {},
         "att=200 sdl=37 sfn=1"},
        {[this](ElementConfig&, ElementConfig&) { handler.setExpectation("-", {}); },
         Result::OtherElement,
         {},
         "ip=-"},
        {[&](ElementConfig&, ElementConfig&) {
             for (int i = 0; i < 21; ++i)
                 store.write(kSelectedMac, QStringLiteral("k%1").arg(i), "1");
         },
         Result::CorruptedRecord,
         {},
         "ip=-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        outcomes.clear();
        writeFile(store.path(), "");
        ElementConfig r = reply(kEncoder), draft = r;
        expectAs(r);
        c.change(r, draft);
        if (handler.expectedMac() != "-")
            expectAs(draft);
        handle(r, false);
        ASSERT_EQ(outcomes.size(), 1);
        EXPECT_EQ(outcomes[0].result, c.result);
        EXPECT_EQ(outcomes[0].unknownRole, r.role == 0);
        QStringList differences;
        for (const FieldDifference& d : outcomes[0].differences)
            differences << QStringLiteral("%1 (%2): %3 / %4").arg(d.field, d.key, d.sent, d.reported);
        EXPECT_EQ(differences, c.differences);
        QStringList stored;
        for (const QString& key :
             QString(c.stored).remove(QRegularExpression("=[^ ]*")).split(' ', Qt::SkipEmptyParts))
            stored << key + "=" +
                          (key == "shown" ? shown : readFromIni("0050C2A1B2C3", key, store.path(), "-"));
        EXPECT_EQ(stored.join(' '), c.stored);
    }
}

// A confirmation reaches the store in one write of the whole section: byte for byte what the
// element took on, and nothing at all when that write fails.
TEST_F(ReplyHandlerTest, AConfirmationIsStoredWithOneWriteOrNotAtAll)
{
    // GIVEN the encoder stored with keys of its own around what a confirmation writes
    const QByteArray before =
        "[0050C2A1B2C3]\nNAME=OLD\nBOUND=1\nIP=10.0.0.5\nDLY=7\n[0050C2A1B2C4]\nNAME=X\n";
    const QByteArray written =
        "MASK=255.255.255.0\nGW=10.0.0.1\nINPUT=1\nTYPE=1\nTX=0\nROLE=1\nREMOTE=10.0.0.9\n"
        "SN=32769\nVER=3.1\nATT=14\nBUF=6\nSFN=1\nSDM=0\nSDL=1\nSDT=1\n";
    writeFile(store.path(), before);
    ElementConfig r = reply(kEncoder);
    expectAs(r);
    handle(r, false);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].result, Result::Confirmed);
    EXPECT_EQ(readFile(store.path()), "[0050C2A1B2C3]\nNAME=STUDIO A\nBOUND=1\nIP=10.0.0.5\nDLY=7\n" +
                                          written + "[0050C2A1B2C4]\nNAME=X\n");
    // A section that is not there (yet) is made by the same one write, after the others.
    writeFile(store.path(), "[0050C2A1B2C4]\nNAME=X\n");
    handle(r, false);
    EXPECT_EQ(readFile(store.path()),
              "[0050C2A1B2C4]\nNAME=X\n[0050C2A1B2C3]\nNAME=STUDIO A\nIP=10.0.0.5\n" + written);
    outcomes.removeLast();
    // WHEN the store cannot take the write (a file-size limit below the new section)
    writeFile(store.path(), before);
    expectAs(r);
    {
        const FileSizeLimit limit(before.size() + 10);
        handle(r, false);
    }
    // THEN the section is as it was, and the outcome says so with what differed
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_EQ(outcomes[1].result, Result::StoreWriteFailed);
    EXPECT_EQ(readFile(store.path()), before);
    // Nor can a discovered element be stored, and it is not counted.
    QSignalSpy failed(&handler, &ReplyHandler::discoveredStoreFailed);
    QFile::remove(store.path());
    QDir().mkpath(store.path());
    const int discovered = handler.discoveredCount();
    handle(reply(kEncoder), true);
    handler.flushDiscovered();
    EXPECT_EQ(failed.size(), 1);
    EXPECT_EQ(handler.discoveredCount(), discovered);
}
