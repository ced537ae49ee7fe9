// Both measurement sessions against a stand-in element on loopback, observed through their
// signals, the requests, the message boxes and the store; a fleet in a lab asked at once.
#include "Lab.h"
#include "MeasureFixture.h"

#include "measure/AdjustSession.h"
#include "measure/MeasureExchange.h"
#include "measure/StatisticsSession.h"

#include <QDir>
#include <QSignalSpy>
#include <QTimer>

using namespace vexo;

namespace {

void fire(QTimer* timer)
{
    QMetaObject::invokeMethod(timer, "timeout");
}

bool portFree()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::LocalHost, 2978, QAbstractSocket::DontShareAddress);
}

} // namespace

using MeasureSessionTest = MeasureFixture;

TEST_F(MeasureSessionTest, StatisticsOpeningNamesTheElementAndReadsItsCounters)
{
    element.record.ptpSyncLatency = 150000, element.record.additionalDelay = 9;
    StatisticsSession s(services());
    QSignalSpy named(&s, &StatisticsSession::elementNamed);
    QSignalSpy records(&s, &StatisticsSession::statisticsReceived);
    auto reading = [&](int i) { return records.at(i).at(0).value<StatisticsReading>(); };
    ASSERT_TRUE(s.open());
    EXPECT_EQ(named.value(0).value(0).toString(), "STUDIO A");
    ASSERT_TRUE(records.wait(5000));
    EXPECT_EQ(reading(0).measuredDelayNs, 150009);
    EXPECT_EQ(element.received, QList<QByteArray>({"GetStats"}));
    // Every datagram of up to 61 bytes from the element is a record, in arrival order; a longer
    // one is not, and one from another address is not the element's.
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.3"), 2978));
    stranger.writeDatagram(hex("00 00 00 0C"), QHostAddress::LocalHost, 2978);
    for (const QByteArray& d : {QByteArray(62, '\x01'), hex("00 00 00 0B"), QByteArray(),
                                buildMeasurementRecord(MeasurementValues{61})})
        element.sendToStation(d);
    ASSERT_TRUE(waitUntil([&] { return records.count() == 4; }));
    EXPECT_EQ(
        QList<std::optional<qint32>>({reading(1).txFramesOk, reading(2).txFramesOk, reading(3).txFramesOk}),
        QList<std::optional<qint32>>({11, 0, 61}));
}

TEST_F(MeasureSessionTest, PortSharingAndFailuresOfBothSessions)
{
    for (const QByteArray first : {"GetStats", "GetDel"}) {
        SCOPED_TRACE(first.toStdString());
        auto make = [&]() -> std::unique_ptr<MeasureSession> {
            if (first == "GetStats")
                return std::make_unique<StatisticsSession>(services());
            return std::make_unique<AdjustSession>(services());
        };
        // Opening fails on a port another program holds, or without an address: the port is
        // free again.
        for (const char* ip : {"127.0.0.2", ""}) {
            setKey("ip", ip);
            QUdpSocket occupant;
            ASSERT_TRUE(!ip[0] || occupant.bind(QHostAddress::LocalHost, 2978));
            EXPECT_FALSE(make()->open());
            occupant.close();
            EXPECT_TRUE(portFree());
        }
        setKey("ip", "127.0.0.2");
        element.received.clear();
        auto s = make();
        QSignalSpy sendFailed(s.get(), &MeasureSession::sendFailed);
        ASSERT_TRUE(s->open());
        // A second user shares the station's one socket; the port stays until the last leaves.
        auto other = make();
        ASSERT_TRUE(other->open());
        ASSERT_TRUE(waitUntil([&] { return element.received.size() == 2; }));
        other->close();
        EXPECT_FALSE(portFree());
        // A later request that cannot leave is reported with its cause; the session stays open.
        const std::tuple<const char*, SendFailure, const char*> failures[] = {
            {"", SendFailure::NoAddress, "No IP address is stored for this element."},
            {"1.2.3", SendFailure::InvalidAddress, "The stored IP address \"1.2.3\" is not valid."}};
        for (const auto& [ip, failure, cause] : failures) {
            setKey("ip", ip);
            s->refresh();
            const auto problem = sendFailed.takeFirst().value(0).value<SendProblem>();
            EXPECT_TRUE(problem.failure == failure && problem.cause == cause) << cause;
        }
        EXPECT_TRUE(s->isOpen());
        s->close();
        EXPECT_TRUE(portFree());
        setKey("ip", "127.0.0.2");
    }
}

TEST_F(MeasureSessionTest, AdjustRecordsOfExactly61BytesMoveTheControlsOfAnSfnDecoderOnly)
{
    element.answer = false;
    setKey("dly", "7");
    for (const auto& [sfn, shownRole, moved] :
         {std::tuple{"1", Role::Encoder, false}, {"0", Role::Decoder, false}, {"1", Role::Decoder, true}}) {
        SCOPED_TRACE(std::string(sfn) + std::to_string(int(shownRole)));
        setKey("sfn", sfn);
        role = shownRole;
        AdjustSession s(services());
        QSignalSpy records(&s, &AdjustSession::latencyReceived);
        ASSERT_TRUE(s.open());
        const QByteArray record =
            buildMeasurementRecord({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 350, -1200, 1});
        for (const QByteArray& d : {record.left(60), record + '\0', record})
            element.sendToStation(d);
        ASSERT_TRUE(waitUntil([&] { return records.count() == 1; }));
        EXPECT_EQ(QVariantList({s.delayPosition(), s.autoServo()}), QVariantList({moved ? 4 : 7, moved}));
        EXPECT_EQ(records.at(0).at(0).value<LatencyReading>().sfnDecoder, moved);
    }
}

TEST_F(MeasureSessionTest, AdjustSetReachesTheElementClearsOnceAndIsStoredAtClosing)
{
    settings.values["AutoClearCounters"] = "1";
    AdjustSession s(services());
    QSignalSpy records(&s, &AdjustSession::latencyReceived);
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(records.wait(5000));
    const QByteArray before = readFile(path);
    s.setDelayPosition(2500);
    s.setAutoServo(true);
    QSignalSpy delaySent(&s, &AdjustSession::delaySent);
    QSignalSpy resetSent(&s, &MeasureSession::countersResetSent);
    s.set();
    ASSERT_EQ(delaySent.size(), 1); // what the journal is told: the position and servo sent
    EXPECT_EQ(delaySent[0][0].toInt(), 2500);
    EXPECT_TRUE(delaySent[0][1].toBool());
    EXPECT_FALSE(delaySent[0][2].value<SendProblem>());
    ASSERT_TRUE(s.clearTimer()->isActive());
    fire(s.clearTimer());
    ASSERT_EQ(resetSent.size(), 1);
    EXPECT_FALSE(s.clearTimer()->isActive());
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>({"GetDel", hex("53 00 03 D0 90 01"), "RstStats"}));
    EXPECT_EQ(readFile(path), before); // nothing stored before closing
    // Closing stores the state at closing, once.
    s.setDelayPosition(1234);
    EXPECT_EQ(s.closeAndStore(), AdjustSession::Closing::Stored);
    EXPECT_EQ(QStringList({storedKey("dly"), storedKey("srv")}), QStringList({"1234", "1"}));
    ASSERT_TRUE(s.open());
    EXPECT_EQ(s.closeAndStore(), AdjustSession::Closing::NothingPending);
    // A store that cannot be written at closing says so.
    ASSERT_TRUE(s.open());
    s.set();
    ASSERT_TRUE(QFile::rename(path, path + ".moved") && QDir().mkdir(path));
    EXPECT_EQ(s.closeAndStore(), AdjustSession::Closing::StoreFailed);
}

TEST_F(MeasureSessionTest, AutoRefreshTicksUntilAnyAdjustmentOrFailureSwitchesItOff)
{
    element.answer = false;
    settings.values["AutoClearCounters"] = "1";
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    setKey("ip", ""); // a Set that cannot leave is neither pending nor followed by a clear
    QSignalSpy delaySent(&s, &AdjustSession::delaySent);
    s.set();
    ASSERT_EQ(delaySent.size(), 1);
    EXPECT_EQ(delaySent[0][2].value<SendProblem>().failure, SendFailure::NoAddress);
    EXPECT_FALSE(s.pendingSave() || s.clearTimer()->isActive());
    setKey("ip", "127.0.0.2");
    s.setAutoRefresh(true);
    fire(s.refreshTimer());
    fire(s.refreshTimer());
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>(3, "GetDel"));
    QSignalSpy sendFailed(&s, &MeasureSession::sendFailed);
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"scroll", [&] { s.setDelayPosition(1); }},
        {"servo", [&] { s.setAutoServo(true); }},
        {"auto clear", [&] { s.setAutoClear(false); }},
        {"set", [&] { s.set(); }},
        {"clear", [&] { s.prepareReset(); }},
        {"record", [&] { element.sendToStation(buildMeasurementRecord(MeasurementValues{})); }},
        {"send failure", [&] { setKey("ip", ""), fire(s.refreshTimer()); }},
    };
    for (const auto& [name, action] : actions) {
        s.setAutoRefresh(true);
        ASSERT_TRUE(s.refreshTimer()->isActive());
        action();
        EXPECT_TRUE(waitUntil([&] { return !s.autoRefresh(); })) << name;
        EXPECT_FALSE(s.refreshTimer()->isActive()) << name;
    }
    EXPECT_EQ(settings.values["AutoClearCounters"], "0");
    EXPECT_EQ(sendFailed.count(), 1); // the failed tick
    fire(s.refreshTimer());           // a tick still queued after it stopped
    EXPECT_EQ(sendFailed.count(), 1);
}

TEST_F(MeasureSessionTest, AFleetAskedAtOnceOverFreshNeighboursAnswersInFull)
{
    // GIVEN 401 elements the station has never talked to: every request waits in the socket's
    // send buffer for its neighbour's ARP answer, and the buffer holds far fewer than 401. (Above
    // 400 the lab's elements know the station for good, so that only its own neighbour entries
    // fill the kernel's table.) The buffer is made as small as the kernel allows: at its usual
    // size, a slow build answers ARP quickly enough that a whole fleet could fit.
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(200, 201, 0, &error)) << error.toStdString();
    MeasurePort port;
    ASSERT_TRUE(port.acquire());
    auto* socket = port.findChild<QUdpSocket*>("udpMeasure");
    ASSERT_NE(socket, nullptr);
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 1);
    // WHEN each is asked once, all at the same time (the exporter's first poll)
    QList<MeasureOutcome> outcomes;
    std::vector<std::unique_ptr<MeasureExchange>> exchanges;
    for (const Lab::Element& e : lab.elements()) {
        MeasureExchange::Plan plan;
        plan.ip = e.ip;
        plan.requests = {kGetStats};
        plan.role = roleOf(e.role);
        plan.sfn = QStringLiteral("0");
        plan.answerMs = 60000; // ended by the records; the bound only guards a broken run
        exchanges.push_back(std::make_unique<MeasureExchange>(
            port, plan, [&](const MeasureOutcome& o) { outcomes.append(o); }));
        exchanges.back()->start();
    }
    // THEN the requests the buffer had no room for waited and left: every element answers
    EXPECT_GT(port.waitingRequests(), 0);
    ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 401; }, 60000));
    EXPECT_EQ(
        std::count_if(outcomes.begin(), outcomes.end(),
                      [](const MeasureOutcome& o) { return o.result == MeasureOutcome::Result::Answered; }),
        401);
    EXPECT_EQ(port.waitingRequests(), 0);
    port.release();
}
