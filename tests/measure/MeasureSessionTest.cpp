// The two measurement sessions over loopback against a stand-in element, observed through their
// signals, the requests the element receives, the message boxes and the store.
#include "MeasureFixture.h"

#include "measure/AdjustSession.h"
#include "measure/StatisticsSession.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTimer>

using namespace vexo;

namespace {

const QString kError5 =
    QStringLiteral("Error 5 while retrieving values. Please reset the device and try again.");
const QString kError4 =
    QStringLiteral("Error 4 while retrieving values. Please reset the device and try again.");
const QString kUnsaved =
    QStringLiteral("There are unsaved parameters. Don't forget to click the 'Save' button.");

QStringList labelsOf(const QList<LabelUpdate>& updates)
{
    QStringList names;
    for (const auto& u : updates)
        names << u.label;
    return names;
}

// A timer's tick, without waiting for it.
void fire(QTimer* timer)
{
    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
}

} // namespace

class StatisticsSessionTest : public MeasureFixture
{
protected:
    // Opens and waits until the answer to the opening "GetStats" has been applied.
    void open(StatisticsSession& s, QSignalSpy& records, int expected = 1)
    {
        ASSERT_TRUE(s.open());
        ASSERT_TRUE(waitUntil([&] { return records.count() == expected; }));
    }
    static QList<LabelUpdate> texts(const QSignalSpy& records, int i = -1)
    {
        return records.at(i < 0 ? records.count() - 1 : i).at(1).value<QList<LabelUpdate>>();
    }
};

TEST_F(StatisticsSessionTest, OpeningNamesTheElementAndShowsItsCounters)
{
    // GIVEN an SFN decoder reporting counters
    auto& r = element.record;
    r.txFramesOk = 1197, r.txFramesErr = 3, r.rxFramesOk = 2, r.rxFramesErr = 1, r.rxAudioFramesOk = 16777217;
    r.ptpSyncOk = 120, r.ptpSyncErr = 4, r.ptpSyncValue = -35, r.ptpSyncLatency = 150000,
    r.additionalDelay = 250000;
    StatisticsSession s(services());
    QSignalSpy named(&s, &StatisticsSession::elementNamed);
    QSignalSpy records(&s, &StatisticsSession::statisticsReceived);
    // WHEN it opens THEN the name and every row of the record are reported, in order
    open(s, records);
    EXPECT_EQ(named.first().first().toString(), "STUDIO A");
    EXPECT_EQ(texts(records), (QList<LabelUpdate>{{"lblMACTxOK", "1197"},
                                                  {"lblMACRxOK", "2"},
                                                  {"lblMACTxErr", "3 (0.25%)"},
                                                  {"lblMACRxErr", "1 (33.33%)"},
                                                  {"lblPTPRxOK", "120"},
                                                  {"lblPTPRxErr", "4"},
                                                  {"lblPTPClkAdj", "-35 nS"},
                                                  {"lblPTPLatency", "400000 nS"},
                                                  {"lblAudioRxFramesOK", "16777217"},
                                                  {"lblAudioRxFramesErr", "0 (0%)"}}));
    EXPECT_EQ(s.values().ptpSyncLatency, 400000);
    EXPECT_EQ(element.received, QList<QByteArray>({kGetStats}));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(StatisticsSessionTest, StoredSfnAndRoleDecideTheRowsAndFailuresShowError5)
{
    const QStringList counters = {"lblMACTxOK", "lblMACRxOK", "lblMACTxErr", "lblMACRxErr"};
    const QStringList audio = {"lblAudioRxFramesOK", "lblAudioRxFramesErr"};
    const QStringList ptpCounts = {"lblPTPRxOK", "lblPTPRxErr"};
    struct Case
    {
        const char* sfn;
        const char* role;
        qint32 txFramesOk;
        QStringList reached;
        bool fails;
    };
    const Case cases[] = {
        {"0", "DECODER", 5, counters + audio, false},
        {"1", "ENCODER", 5, counters + ptpCounts + audio, false},
        {"1", "DECODER", 5, counters + ptpCounts + QStringList{"lblPTPClkAdj", "lblPTPLatency"} + audio,
         false},
        {"", "DECODER", 5, counters, true},                               // sfn is no number
        {"1", "DECODER", 2147483647, {"lblMACTxOK", "lblMACRxOK"}, true}, // TX OK + TX errors overflows
    };
    for (const Case& c : cases) {
        setKey("sfn", c.sfn);
        selected.setRoleCaption(QString::fromLatin1(c.role));
        element.record.txFramesOk = c.txFramesOk;
        element.record.txFramesErr = 1;
        boxes.clear();
        StatisticsSession s(services());
        QSignalSpy records(&s, &StatisticsSession::statisticsReceived);
        QSignalSpy failed(&s, &StatisticsSession::recordFailed);
        open(s, records);
        EXPECT_EQ(labelsOf(texts(records)), c.reached) << c.sfn << c.role;
        EXPECT_EQ(boxes.texts(), c.fails ? QStringList{kError5} : QStringList{}) << c.sfn << c.role;
        EXPECT_EQ(failed.count(), c.fails ? 1 : 0);
        if (c.fails) {
            EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
        }
        EXPECT_TRUE(s.isOpen());
    }
    EXPECT_TRUE(end.codes.isEmpty());
}

TEST_F(StatisticsSessionTest, DatagramsUpTo61BytesAreRecordsInArrivalOrder)
{
    element.answer = false;
    StatisticsSession s(services());
    QSignalSpy records(&s, &StatisticsSession::statisticsReceived);
    ASSERT_TRUE(s.open());
    MeasurementValues v;
    v.txFramesOk = 62;
    element.sendToStation(buildMeasurementRecord(v) + '\0'); // too long: ignored
    v.txFramesOk = 11, v.rxAudioFramesOk = 33, v.rxAudioFramesErr = 1, v.ptpSyncLatency = 500;
    v.additionalDelay = 99999; // beyond 40 bytes: reads as 0
    element.sendToStation(buildMeasurementRecord(v).left(40));
    element.sendToStation(QByteArray(""));
    v.txFramesOk = 61;
    element.sendToStation(buildMeasurementRecord(v));
    ASSERT_TRUE(waitUntil([&] { return records.count() == 3; }));
    EXPECT_EQ(texts(records, 0).first().text, "11");
    EXPECT_EQ(texts(records, 0).last().text, "1 (2.94%)");
    EXPECT_EQ(texts(records, 0).at(7), (LabelUpdate{"lblPTPLatency", "500 nS"}));
    EXPECT_EQ(texts(records, 1).first().text, "0");
    EXPECT_EQ(texts(records, 1).at(7).text, "0 nS");
    EXPECT_EQ(texts(records, 2).first().text, "61");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(StatisticsSessionTest, ResetAsksAndSendsOnlyAfterYes)
{
    StatisticsSession s(services());
    QSignalSpy records(&s, &StatisticsSession::statisticsReceived);
    open(s, records);
    boxes.answers << MsgAnswer::No;
    s.resetCounters();
    ASSERT_EQ(boxes.shown.size(), 1);
    const MessageBoxRequest q = boxes.shown.first();
    EXPECT_EQ(q.caption, "Reset counters");
    EXPECT_EQ(q.text, "You will reset all counters to zero.\rAre you sure?");
    EXPECT_EQ(q.icon, MsgIcon::Question);
    EXPECT_EQ(q.buttons, MsgButtons::YesNo);
    EXPECT_EQ(q.defaultButton, MsgAnswer::No);
    s.refresh(); // whatever No sent would arrive before this
    ASSERT_TRUE(waitUntil([&] { return records.count() == 2; }));
    boxes.answers << MsgAnswer::Yes;
    s.resetCounters();
    ASSERT_TRUE(waitUntil([&] { return element.count(kRstStats) == 1; }));
    EXPECT_EQ(element.received, QList<QByteArray>({kGetStats, kGetStats, kRstStats}));
    EXPECT_EQ(records.count(), 2); // nothing is refreshed after a reset
}

TEST_F(StatisticsSessionTest, EachRequestGoesToTheAddressStoredAtThatMoment)
{
    StandInElement moved(QHostAddress(QStringLiteral("127.0.0.3")));
    ASSERT_TRUE(moved.bind());
    StatisticsSession s(services());
    ASSERT_TRUE(s.open());
    setKey("ip", "127.0.0.3");
    s.refresh();
    EXPECT_TRUE(waitUntil([&] { return moved.count(kGetStats) == 1; }));
    EXPECT_EQ(element.count(kGetStats), 1);
}

// ---- Both sessions: the port and requests that cannot leave ---------------------------------

class MeasureSessionTest : public MeasureFixture
{
protected:
    struct Kind
    {
        const char* name;
        QByteArray firstRequest;
        QString occupied;
    };
    const Kind kinds[2] = {{"statistics", kGetStats, "Error 2: Unable to use UDP port 2978: occupied."},
                           {"adjust", kGetDel, "Unable to use UDP port 2978: occupied."}};
    std::unique_ptr<MeasureSession> make(const Kind& kind, FatalError* fatalError = nullptr)
    {
        if (kind.firstRequest == kGetStats)
            return std::make_unique<StatisticsSession>(services(fatalError));
        return std::make_unique<AdjustSession>(services(fatalError));
    }
    static bool portFree()
    {
        QUdpSocket probe;
        return probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort,
                          QAbstractSocket::DontShareAddress);
    }
};

TEST_F(MeasureSessionTest, OpeningThatFailsEndsTheProgramAndFreesThePort)
{
    for (const Kind& kind : kinds) {
        for (const char* cause : {"occupied", "no address"}) {
            SCOPED_TRACE(std::string(kind.name) + ", " + cause);
            boxes.clear();
            end.codes.clear();
            element.received.clear();
            setKey("ip", cause[0] == 'o' ? "127.0.0.2" : "");
            QUdpSocket occupant;
            if (cause[0] == 'o') {
                ASSERT_TRUE(occupant.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort));
            }
            FatalError caseFatal(boxes, end);
            auto s = make(kind, &caseFatal);
            EXPECT_FALSE(s->open());
            ASSERT_EQ(boxes.texts(), QStringList{kind.occupied});
            EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
            EXPECT_EQ(end.codes, QList<int>({1}));
            occupant.close();
            EXPECT_TRUE(portFree());
            EXPECT_TRUE(element.received.isEmpty());
        }
    }
}

TEST_F(MeasureSessionTest, LaterRequestThatCannotLeaveIsReportedAndTheSessionStays)
{
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        setKey("ip", "127.0.0.2");
        element.received.clear();
        auto s = make(kind);
        QSignalSpy sendFailed(s.get(), &MeasureSession::sendFailed);
        ASSERT_TRUE(s->open());
        const std::pair<const char*, const char*> cases[] = {
            {"", "No IP address is stored for this element."},
            {"300.1.2.3", "The stored IP address \"300.1.2.3\" is not valid."}};
        for (const auto& [ip, problem] : cases) {
            boxes.clear();
            setKey("ip", ip);
            s->refresh();
            EXPECT_EQ(boxes.texts(), QStringList{"Cannot send the request to the element.\r" +
                                                 QString::fromLatin1(problem)});
            EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
            EXPECT_EQ(sendFailed.takeFirst().first().toString(), QString::fromLatin1(problem));
        }
        EXPECT_TRUE(s->isOpen());
        EXPECT_TRUE(end.codes.isEmpty());
        // Closing releases the port.
        EXPECT_FALSE(portFree());
        s->close();
        EXPECT_TRUE(portFree());
        EXPECT_TRUE(waitUntil([&] { return element.received == QList<QByteArray>{kind.firstRequest}; }));
    }
}

// ---- SFN adjustment -----------------------------------------------------------------------

class AdjustSessionTest : public MeasureFixture
{
protected:
    // Opens and waits until the answer to the opening "GetDel" has been applied.
    void open(AdjustSession& s, QSignalSpy& records)
    {
        ASSERT_TRUE(s.open());
        ASSERT_TRUE(waitUntil([&] { return records.count() == 1; }));
    }
    void refreshAndWait(AdjustSession& s, QSignalSpy& records)
    {
        const int before = records.count();
        s.refresh();
        ASSERT_TRUE(waitUntil([&] { return records.count() == before + 1; }));
    }
    static AdjustOutcome outcome(const QSignalSpy& records)
    {
        return records.last().first().value<AdjustOutcome>();
    }
    static void expectAutoRefreshOff(const AdjustSession& s, const char* after)
    {
        EXPECT_FALSE(s.autoRefresh()) << after;
        EXPECT_FALSE(s.refreshTimer()->isActive()) << after;
    }
};

TEST_F(AdjustSessionTest, OpeningTakesTheStoredSettingsClampedOrDefaulted)
{
    element.answer = false;
    struct Case
    {
        const char *dly, *srv, *autoClear;
        int position;
        bool servo, cleared;
        int settingWrites; // a stored "1" acts as a click: the setting is stored again
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 0, false, false, 0},
        {"2500", "1", "1", 2500, true, true, 1},
        {"30000", "7", "yes", 25000, false, false, 0},
        {"-3", "1", "1", 0, true, true, 1},
        {"abc", "", "", 0, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dly ? c.dly : "nothing stored");
        if (c.dly) {
            setKey("dly", c.dly);
            setKey("srv", c.srv);
            settings.values["AutoClearCounters"] = c.autoClear;
        }
        settings.writes = 0;
        AdjustSession s(services());
        QSignalSpy delay(&s, &AdjustSession::delayChanged);
        ASSERT_TRUE(s.open());
        EXPECT_EQ(delay.last(), QVariantList({c.position, c.position * 100})); // the label always shows it
        EXPECT_EQ(s.autoServo(), c.servo);
        EXPECT_EQ(s.autoClear(), c.cleared);
        EXPECT_EQ(settings.writes, c.settingWrites);
        EXPECT_FALSE(s.autoRefresh());
        EXPECT_FALSE(s.pendingSave());
        EXPECT_FALSE(s.clearTimer()->isActive());
    }
}

TEST_F(AdjustSessionTest, RecordOfAnSfnDecoderMovesTheControls)
{
    struct Case
    {
        qint32 additionalDelay;
        quint8 servoFlag;
        qint32 servoValue;
        int position;
        QString caption;
        QString average; // lblCurrentDelayAVG, with an element average of 1,000,000 ns
    };
    const Case cases[] = {
        {250000, 0, 777, 2500, "Auto servo", "1 mS, 250 uS, 0 nS"},
        {350, 1, -1200, 4, "Auto servo (-1200 nS)", "999 uS, 150 nS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.additionalDelay);
        element.record.propagationDelayAverage = 1000000;
        element.record.additionalDelay = c.additionalDelay;
        element.record.autoServo = c.servoFlag;
        element.record.autoServoValue = c.servoValue;
        AdjustSession s(services());
        QSignalSpy records(&s, &AdjustSession::latencyReceived);
        QSignalSpy captions(&s, &AdjustSession::autoServoCaptionChanged);
        open(s, records);
        EXPECT_EQ(s.delayPosition(), c.position);
        EXPECT_EQ(s.additionalDelayNs(), c.position * 100);
        EXPECT_EQ(s.autoServo(), c.servoFlag == 1);
        EXPECT_EQ(captions.last().first().toString(), c.caption);
        EXPECT_TRUE(outcome(records).reachesControls);
        EXPECT_EQ(outcome(records).latencyUpdates.first(), (LabelUpdate{"lblCurrentDelayAVG", c.average}));
        EXPECT_TRUE(boxes.shown.isEmpty());
    }
}

TEST_F(AdjustSessionTest, RecordOfAnEncoderOrNonSfnElementLeavesTheControls)
{
    for (const auto& [sfn, role] : {std::pair{"1", "ENCODER"}, {"0", "DECODER"}}) {
        setKey("sfn", sfn);
        selected.setRoleCaption(QString::fromLatin1(role));
        setKey("dly", "7");
        element.record.additionalDelay = 250000;
        element.record.autoServo = 1;
        AdjustSession s(services());
        QSignalSpy records(&s, &AdjustSession::latencyReceived);
        QSignalSpy captions(&s, &AdjustSession::autoServoCaptionChanged);
        open(s, records);
        EXPECT_FALSE(outcome(records).reachesControls) << role;
        EXPECT_EQ(s.delayPosition(), 7);
        EXPECT_FALSE(s.autoServo());
        EXPECT_TRUE(captions.isEmpty());
        EXPECT_TRUE(boxes.shown.isEmpty());
    }
}

TEST_F(AdjustSessionTest, OnlyDatagramsOfExactly61BytesAreRecords)
{
    element.answer = false;
    AdjustSession s(services());
    QSignalSpy records(&s, &AdjustSession::latencyReceived);
    ASSERT_TRUE(s.open());
    MeasurementValues v;
    v.additionalDelay = 100;
    element.sendToStation(buildMeasurementRecord(v).left(60));
    element.sendToStation(buildMeasurementRecord(v) + '\0');
    v.additionalDelay = 200;
    element.sendToStation(buildMeasurementRecord(v));
    ASSERT_TRUE(waitUntil([&] { return records.count() == 1; }));
    EXPECT_EQ(s.delayPosition(), 2);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(AdjustSessionTest, RecordThatFailsShowsError4AndKeepsWhatCameBefore)
{
    // GIVEN a minimum latency that overflows with the additional delay
    element.record.propagationDelayAverage = 1000;
    element.record.propagationDelayMinimum = 2147483647;
    element.record.additionalDelay = 100;
    for (const char* sfn : {"1", ""}) {
        setKey("sfn", sfn);
        boxes.clear();
        AdjustSession s(services());
        QSignalSpy records(&s, &AdjustSession::latencyReceived);
        QSignalSpy failed(&s, &AdjustSession::recordFailed);
        open(s, records);
        EXPECT_EQ(boxes.texts(), QStringList{kError4}) << sfn;
        EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
        EXPECT_EQ(failed.first().first().toInt(), 4);
        // The average got through before the failure; a non-numeric sfn stops before the controls.
        EXPECT_EQ(labelsOf(outcome(records).latencyUpdates),
                  sfn[0] ? QStringList({"lblCurrentDelayAVG", "lblDelaySumAVG"}) : QStringList{});
        EXPECT_EQ(s.delayPosition(), sfn[0] ? 1 : 0);
        EXPECT_TRUE(s.isOpen());
    }
}

TEST_F(AdjustSessionTest, SetReachesTheElementAndItsNextRecordBringsTheBarBack)
{
    AdjustSession s(services());
    QSignalSpy records(&s, &AdjustSession::latencyReceived);
    open(s, records);
    s.setDelayPosition(2500);
    s.setAutoServo(true);
    s.set();
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 2; }));
    EXPECT_EQ(element.received.last(), hex("53 00 03 D0 90 01"));
    EXPECT_TRUE(s.pendingSave());
    EXPECT_FALSE(s.clearTimer()->isActive()); // no automatic clear
    EXPECT_TRUE(boxes.shown.isEmpty());       // no confirmation

    s.setDelayPosition(10);
    element.record.autoServoValue = 40;
    refreshAndWait(s, records);
    EXPECT_EQ(s.delayPosition(), 2500);
    EXPECT_TRUE(s.autoServo());
    EXPECT_EQ(element.count(kRstStats), 0);
}

TEST_F(AdjustSessionTest, AutomaticClearFollowsASetOnce)
{
    settings.values["AutoClearCounters"] = "1";
    element.answer = false;
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    s.set();
    EXPECT_TRUE(s.clearTimer()->isActive());
    EXPECT_EQ(s.clearTimer()->interval(), 250);
    fire(s.clearTimer());
    EXPECT_FALSE(s.clearTimer()->isActive());
    ASSERT_TRUE(waitUntil([&] { return element.count(kRstStats) == 1; }));
    EXPECT_EQ(element.received, QList<QByteArray>({kGetDel, buildSetDelayRequest(0, false), kRstStats}));
}

TEST_F(AdjustSessionTest, ClearAsksAndSendsOnlyAfterYes)
{
    element.answer = false;
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    boxes.answers << MsgAnswer::No << MsgAnswer::Yes;
    s.resetCounters();
    s.resetCounters();
    EXPECT_EQ(boxes.texts(), QStringList(2, "You will reset all counters to zero.\rAre you sure?"));
    EXPECT_EQ(boxes.shown.first().caption, "Reset counters");
    EXPECT_EQ(boxes.shown.first().defaultButton, MsgAnswer::No);
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 2; }));
    EXPECT_EQ(element.received, QList<QByteArray>({kGetDel, kRstStats}));
}

TEST_F(AdjustSessionTest, AutoRefreshAsksOnEveryTickWhileOn)
{
    AdjustSession s(services());
    QSignalSpy records(&s, &AdjustSession::latencyReceived);
    open(s, records);
    s.setAutoRefresh(true);
    EXPECT_TRUE(s.refreshTimer()->isActive());
    EXPECT_EQ(s.refreshTimer()->interval(), 1000);
    fire(s.refreshTimer());
    fire(s.refreshTimer());
    // Records equal to what is shown leave auto refresh running.
    ASSERT_TRUE(waitUntil([&] { return records.count() == 3; }));
    EXPECT_TRUE(s.autoRefresh());
    s.setAutoRefresh(false);
    expectAutoRefreshOff(s, "unchecked");
    fire(s.refreshTimer()); // a tick already queued when it stopped
    s.refresh();
    ASSERT_TRUE(waitUntil([&] { return records.count() == 4; }));
    EXPECT_EQ(element.count(kGetDel), 4);
}

TEST_F(AdjustSessionTest, EveryAdjustmentSwitchesAutoRefreshOff)
{
    element.answer = false;
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    boxes.answers << MsgAnswer::No;
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"scroll", [&] { s.setDelayPosition(1); }},    {"servo", [&] { s.setAutoServo(true); }},
        {"auto clear", [&] { s.setAutoClear(true); }}, {"set", [&] { s.set(); }},
        {"clear", [&] { s.resetCounters(); }},
    };
    for (const auto& [name, action] : actions) {
        s.setAutoRefresh(true);
        action();
        expectAutoRefreshOff(s, name);
    }
    EXPECT_EQ(settings.values["AutoClearCounters"], "1");
    s.setAutoClear(false);
    EXPECT_EQ(settings.values["AutoClearCounters"], "0");

    // A record that changes the delay or the servo does the same.
    for (const auto& [delay, servo] : {std::pair{5000, 1}, {5000, 0}}) {
        s.setAutoRefresh(true);
        MeasurementValues v;
        v.additionalDelay = delay;
        v.autoServo = static_cast<quint8>(servo);
        element.sendToStation(buildMeasurementRecord(v));
        ASSERT_TRUE(waitUntil([&] { return !s.autoRefresh(); })) << servo;
        expectAutoRefreshOff(s, "record");
    }
}

TEST_F(AdjustSessionTest, RequestThatCannotLeaveStopsAutoRefreshAndASetIsNotPending)
{
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    s.setAutoRefresh(true);
    s.setAutoClear(true);
    s.setAutoRefresh(true);
    setKey("ip", "");
    fire(s.refreshTimer());
    expectAutoRefreshOff(s, "send failure");
    s.set();
    EXPECT_EQ(boxes.shown.size(), 2);
    EXPECT_FALSE(s.pendingSave());
    EXPECT_FALSE(s.clearTimer()->isActive());
    s.close();
    EXPECT_EQ(boxes.shown.size(), 2); // nothing to store, nothing to remind of
}

TEST_F(AdjustSessionTest, ClosingAfterSetStoresTheStateAtClosingAndReminds)
{
    element.answer = false;
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    s.setDelayPosition(2500);
    const QByteArray before = readFile(storePath());
    s.close(); // without a Set: nothing
    EXPECT_EQ(readFile(storePath()), before);
    EXPECT_TRUE(boxes.shown.isEmpty());

    ASSERT_TRUE(s.open());
    s.set();
    s.setDelayPosition(1234);
    s.setAutoServo(true);
    s.close();
    EXPECT_EQ(storedKey("dly"), "1234");
    EXPECT_EQ(storedKey("srv"), "1");
    ASSERT_EQ(boxes.texts(), QStringList{kUnsaved});
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Information);
    EXPECT_EQ(boxes.shown.first().buttons, MsgButtons::Ok);
    EXPECT_FALSE(s.pendingSave());
    EXPECT_FALSE(s.isOpen());
}

TEST_F(AdjustSessionTest, StoreThatCannotBeWrittenAtClosingIsReportedFirst)
{
    element.answer = false;
    AdjustSession s(services());
    QSignalSpy saveFailed(&s, &AdjustSession::saveFailed);
    ASSERT_TRUE(s.open());
    s.set();
    // GIVEN the store file has become something that cannot be replaced (a folder)
    ASSERT_TRUE(QFile::rename(storePath(), storePath() + ".moved"));
    ASSERT_TRUE(QDir().mkdir(storePath()));
    s.close();
    EXPECT_EQ(
        boxes.texts(),
        QStringList(
            {"Cannot save this element info.\rThe delay and auto servo setting were not stored.", kUnsaved}));
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_EQ(saveFailed.count(), 1);
    EXPECT_FALSE(s.isOpen());
}
