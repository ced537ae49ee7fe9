// Both measurement sessions against a stand-in element on loopback, observed through their
// signals, the requests, the message boxes and the store; the SFN adjustment also in a lab.
#include "Lab.h"
#include "MeasureFixture.h"

#include "measure/AdjustSession.h"
#include "measure/StatisticsSession.h"

#include <QDir>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTimer>

using namespace vexo;

namespace {

const QString kUnsaved =
    QStringLiteral("There are unsaved parameters. Don't forget to click the 'Save' button.");

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

TEST_F(MeasureSessionTest, StatisticsOpeningNamesTheElementAndShowsItsCounters)
{
    element.record.ptpSyncLatency = 150000, element.record.additionalDelay = 9;
    StatisticsSession s(services());
    QSignalSpy records(&s, &StatisticsSession::statisticsReceived);
    auto texts = [&](int i) { return records.at(i).at(1).value<QList<LabelUpdate>>(); };
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(records.wait(5000));
    EXPECT_EQ(texts(0).value(7), (LabelUpdate{"lblPTPLatency", "150009 nS"}));
    EXPECT_EQ(element.received, QList<QByteArray>({"GetStats"}));
    // Every datagram of up to 61 bytes is a record, in arrival order; a longer one is not.
    for (const QByteArray& d : {QByteArray(62, '\x01'), hex("00 00 00 0B"), QByteArray(),
                                buildMeasurementRecord(MeasurementValues{61})})
        element.sendToStation(d);
    ASSERT_TRUE(waitUntil([&] { return records.count() == 4; }));
    EXPECT_EQ(QStringList({texts(1)[0].text, texts(2)[0].text, texts(3)[0].text}),
              QStringList({"11", "0", "61"}));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(MeasureSessionTest, PortRequestsAndFailuresOfBothSessions)
{
    const std::tuple<QByteArray, QString, QString> kinds[] = {
        {"GetStats", "Error 2: Unable to use UDP port 2978: occupied.",
         "Error 5 while retrieving values. Please reset the device and try again."},
        {"GetDel", "Unable to use UDP port 2978: occupied.",
         "Error 4 while retrieving values. Please reset the device and try again."}};
    for (const auto& [first, occupied, retrievalError] : kinds) {
        SCOPED_TRACE(first.toStdString());
        auto make = [&](FatalError& f) -> std::unique_ptr<MeasureSession> {
            if (first == "GetStats")
                return std::make_unique<StatisticsSession>(services(&f));
            return std::make_unique<AdjustSession>(services(&f));
        };
        // Opening fails on an occupied port or without an address: fatal, and the port is free.
        for (const char* ip : {"127.0.0.2", ""}) {
            boxes.clear(), end.codes.clear();
            setKey("ip", ip);
            QUdpSocket occupant;
            ASSERT_TRUE(!ip[0] || occupant.bind(QHostAddress::LocalHost, 2978));
            FatalError caseFatal(boxes, end);
            EXPECT_FALSE(make(caseFatal)->open());
            EXPECT_EQ(boxes.texts(), QStringList{occupied});
            EXPECT_EQ(end.codes, QList<int>({1}));
            occupant.close();
            EXPECT_TRUE(portFree());
        }
        // A record that cannot be applied shows the session's error number.
        setKey("ip", "127.0.0.2"), setKey("sfn", "");
        boxes.clear(), element.received.clear();
        FatalError caseFatal(boxes, end);
        auto s = make(caseFatal);
        QSignalSpy sendFailed(s.get(), &MeasureSession::sendFailed);
        QSignalSpy recordFailed(s.get(), &MeasureSession::recordFailed);
        ASSERT_TRUE(s->open());
        ASSERT_TRUE(recordFailed.wait(5000));
        EXPECT_EQ(boxes.texts(), QStringList{retrievalError});
        EXPECT_FALSE(portFree());
        // A later request that cannot leave is shown; the session stays open.
        for (const auto& [ip, problem] : {std::pair{"", "No IP address is stored for this element."},
                                          {"1.2.3", "The stored IP address \"1.2.3\" is not valid."}}) {
            boxes.clear();
            setKey("ip", ip);
            s->refresh();
            EXPECT_EQ(boxes.texts(),
                      QStringList{"Cannot send the request to the element.\r" + QString(problem)});
            EXPECT_EQ(sendFailed.takeFirst().value(0).toString(), problem);
        }
        EXPECT_TRUE(s->isOpen() && end.codes.size() == 1);
        s->close();
        EXPECT_TRUE(portFree());
        setKey("ip", "127.0.0.2"), setKey("sfn", "1");
    }
}

TEST_F(MeasureSessionTest, AdjustRecordsOfExactly61BytesMoveTheControlsOfAnSfnDecoderOnly)
{
    element.answer = false;
    setKey("dly", "7");
    for (const auto& [sfn, role, moved] :
         {std::tuple{"1", "ENCODER", false}, {"0", "DECODER", false}, {"1", "DECODER", true}}) {
        SCOPED_TRACE(std::string(sfn) + role);
        setKey("sfn", sfn);
        selected.setRoleCaption(QString::fromLatin1(role));
        AdjustSession s(services());
        QSignalSpy records(&s, &AdjustSession::latencyReceived);
        ASSERT_TRUE(s.open());
        const QByteArray record =
            buildMeasurementRecord({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 350, -1200, 1});
        for (const QByteArray& d : {record.left(60), record + '\0', record})
            element.sendToStation(d);
        ASSERT_TRUE(waitUntil([&] { return records.count() == 1; }));
        EXPECT_EQ(QVariantList({s.delayPosition(), s.autoServo()}), QVariantList({moved ? 4 : 7, moved}));
        EXPECT_TRUE(boxes.shown.isEmpty());
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
    s.set();
    ASSERT_TRUE(s.clearTimer()->isActive());
    fire(s.clearTimer());
    EXPECT_FALSE(s.clearTimer()->isActive());
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>({"GetDel", hex("53 00 03 D0 90 01"), "RstStats"}));
    EXPECT_EQ(readFile(path), before); // nothing stored before closing
    // The operator's reset of the counters leaves only once confirmed (a refresh marks the end).
    boxes.answers << MsgAnswer::No << MsgAnswer::Yes;
    s.resetCounters();
    s.resetCounters();
    s.refresh();
    ASSERT_TRUE(waitUntil([&] { return element.received.size() >= 5; }));
    EXPECT_EQ(element.received.mid(3), QList<QByteArray>({"RstStats", "GetDel"}));
    boxes.clear();
    // Closing stores the state at closing.
    s.setDelayPosition(1234);
    s.close();
    EXPECT_EQ(QStringList({storedKey("dly"), storedKey("srv")}), QStringList({"1234", "1"}));
    EXPECT_EQ(boxes.texts(), QStringList{kUnsaved});
    // A store that cannot be written at closing is reported before the reminder.
    boxes.clear();
    QSignalSpy saveFailed(&s, &AdjustSession::saveFailed);
    ASSERT_TRUE(s.open());
    s.set();
    ASSERT_TRUE(QFile::rename(path, path + ".moved") && QDir().mkdir(path));
    s.close();
    EXPECT_EQ(boxes.texts(), QStringList({"Cannot save this element info.\rThe delay and auto servo setting "
                                          "were not stored.",
                                          kUnsaved}));
    EXPECT_EQ(saveFailed.count(), 1);
}

TEST_F(MeasureSessionTest, AutoRefreshTicksUntilAnyAdjustmentOrFailureSwitchesItOff)
{
    element.answer = false;
    settings.values["AutoClearCounters"] = "1";
    AdjustSession s(services());
    ASSERT_TRUE(s.open());
    setKey("ip", ""); // a Set that cannot leave is neither pending nor followed by a clear
    s.set();
    EXPECT_FALSE(s.pendingSave() || s.clearTimer()->isActive());
    setKey("ip", "127.0.0.2");
    s.setAutoRefresh(true);
    fire(s.refreshTimer());
    fire(s.refreshTimer());
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>(3, "GetDel"));
    boxes.answers << MsgAnswer::No;
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"scroll", [&] { s.setDelayPosition(1); }},
        {"servo", [&] { s.setAutoServo(true); }},
        {"auto clear", [&] { s.setAutoClear(false); }},
        {"set", [&] { s.set(); }},
        {"clear", [&] { s.resetCounters(); }},
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
    EXPECT_EQ(boxes.shown.size(), 3); // the failed Set, the question, the failed tick
    fire(s.refreshTimer());           // a tick still queued after it stopped
    EXPECT_EQ(boxes.shown.size(), 3);
}

TEST_F(MeasureSessionTest, SetReachesTheSimulatedDecoderWhichReportsIt)
{
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    Lab lab; // the session's socket is made in the lab's namespace
    QString error;
    ASSERT_TRUE(lab.up(0, 1, 1, &error)) << error.toStdString();
    setKey("ip", lab.elements().first().ip.toLatin1().constData());
    settings.values["AutoClearCounters"] = "1";
    AdjustSession s(MeasureServices{store, selected, boxes, settings, fatal});
    QSignalSpy records(&s, &AdjustSession::latencyReceived);
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(records.wait(5000));
    s.setDelayPosition(2500);
    s.setAutoServo(true);
    s.set();
    fire(s.clearTimer());
    EXPECT_TRUE(lab.waitForState(0, [](const QJsonObject& st) {
        return st.value("additional-delay-ns").toInt() == 250000 && st.value("auto-servo").toBool() &&
               st.value("stats-resets").toInt() == 1;
    }));
    s.setDelayPosition(10);
    s.refresh();
    ASSERT_TRUE(records.wait(5000));
    EXPECT_TRUE(s.delayPosition() == 2500 && s.autoServo());
    s.close();
    EXPECT_EQ(storedKey("dly"), "2500");
    EXPECT_EQ(lab.stateObject(0).value("stats-resets").toInt(), 1); // cleared once
}
