// The station's measurement operations, addressed by MAC, against stand-in elements on loopback:
// each ends with its typed outcome, and the exporter's poll ends with the last of them.
#include "../measure/MeasureFixture.h"

#include "cli/Exporter.h"
#include "core/Station.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest/QTest>

using namespace vexo;

namespace {

struct Operations : MeasureFixture
{
    void SetUp() override
    {
        MeasureFixture::SetUp();
        setKey("role", "2");
    }
    // Runs one operation; `fire` ends its answer time at once.
    MeasureOutcome run(const std::function<MeasureExchange*(MeasureExchange::Done)>& start, bool fire = false)
    {
        std::optional<MeasureOutcome> outcome;
        MeasureExchange* x = start([&](const MeasureOutcome& o) { outcome = o; });
        if (fire && !outcome)
            QMetaObject::invokeMethod(x->timer(), "timeout");
        if (!waitUntil([&] { return outcome.has_value(); }))
            ADD_FAILURE() << "the operation did not end";
        return outcome.value_or(MeasureOutcome());
    }
    Station station{stationServices(path)};
};

using Result = MeasureOutcome::Result;

} // namespace

TEST_F(Operations, EachEndsWithItsRecordOrItsCause)
{
    // Every counter differs, so that each is known by its value.
    element.record = {1, 2, 3, 4, 5, 6, -7, 8, 9, 10, 1000, 900, 1100, 250000, -12, 1};
    const MeasureOutcome stats = run([&](auto done) { return station.readStatistics(kMac, done); });
    ASSERT_EQ(stats.result, Result::Answered);
    const StatisticsReading& s = *stats.statistics;
    EXPECT_EQ(QList<qint32>({*s.txFramesOk, *s.rxFramesOk, s.txFramesErr->count, s.rxFramesErr->count,
                             *s.ptpSyncOk, *s.ptpSyncErr, *s.clockDifferenceNs, *s.measuredDelayNs,
                             *s.audioFramesOk, s.audioFramesErr->count}),
              QList<qint32>({1, 2, 3, 4, 5, 6, -7, 250008, 9, 10}));
    EXPECT_EQ(s.txFramesErr->percent, 75.0f);
    const MeasureOutcome set = run([&](auto done) { return station.setDelay(kMac, 120000, false, done); });
    ASSERT_EQ(set.result, Result::Answered);
    EXPECT_TRUE(set.latency->additionalDelayNs == 120000 && !set.latency->autoServo);
    EXPECT_EQ(set.latency->average, (LatencyRow{121000, 121000 + 396098}));
    EXPECT_EQ(run([&](auto done) { return station.clearCounters(kMac, done); }).result, Result::Answered);
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 4; }));
    EXPECT_EQ(element.received,
              QList<QByteArray>({"GetStats", hex("53 00 01 D4 C0 00"), "GetDel", "RstStats"}));

    // A record the arithmetic refuses gives the window's error number; the readings come along.
    setKey("sfn", "");
    const MeasureOutcome refused = run([&](auto done) { return station.readStatistics(kMac, done); });
    EXPECT_TRUE(refused.result == Result::RecordRefused && refused.errorNumber == 5 && refused.statistics);
    EXPECT_EQ(run([&](auto done) { return station.readDelay(kMac, done); }).errorNumber, 4);
    setKey("sfn", "1");

    element.answer = false;
    EXPECT_EQ(run([&](auto done) { return station.readDelay(kMac, done); }, true).result, Result::NoAnswer);
    setKey("ip", "10.0.0");
    const MeasureOutcome failed = run([&](auto done) { return station.readStatistics(kMac, done); });
    EXPECT_TRUE(failed.result == Result::SendFailed && failed.problem.failure == SendFailure::InvalidAddress);
    setKey("ip", "127.0.0.2");
    QUdpSocket occupant;
    ASSERT_TRUE(occupant.bind(QHostAddress::LocalHost, 2978));
    EXPECT_EQ(run([&](auto done) { return station.readStatistics(kMac, done); }).result, Result::PortBusy);
}

TEST_F(Operations, TheExportersPollEndsWithTheLastAnswerAndCarriesTheCounters)
{
    StandInElement second;
    ASSERT_TRUE(second.bind("127.0.0.3"));
    const QString otherMac = QStringLiteral("00:50:C2:A1:B2:C4");
    ASSERT_TRUE(store.write(otherMac, "ip", "127.0.0.3") && store.write(otherMac, "role", "1"));
    element.record = {100, 200, 17, 4};
    second.record = {10, 20, 33, 2};
    second.answer = false;
    cli::Exporter exporter(station, icmp, false);
    QString error;
    ASSERT_TRUE(exporter.bind(&error));
    QSignalSpy finished(&exporter, &cli::Exporter::pollFinished);
    exporter.poll();
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 1 && second.received.size() == 1; }));
    // The first element's record comes in; the poll waits for the second.
    QTest::qWait(50);
    EXPECT_TRUE(exporter.isPolling() && finished.isEmpty());
    second.sendToStation(buildMeasurementRecord(second.record));
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(exporter.isPolling());
    EXPECT_EQ(finished.count(), 1);
    std::map<std::string, double> txErrors;
    for (const auto& family : exporter.snapshot()->Collect()) {
        if (family.name != "vexolink_tx_frame_errors_total")
            continue;
        for (const auto& m : family.metric)
            for (const auto& l : m.label)
                if (l.name == "mac")
                    txErrors[l.value] = m.counter.value;
    }
    EXPECT_EQ(txErrors,
              (std::map<std::string, double>{{kMac.toStdString(), 17}, {otherMac.toStdString(), 33}}));
}
