#pragma once

#include "MeasureArithmetic.h"
#include "MeasurePort.h"

#include <QObject>

#include <functional>
#include <optional>

class QTimer;

namespace vexo {

// How one measurement operation on an element ended.
struct MeasureOutcome
{
    enum class Result
    {
        Answered,      // the element sent its record: the readings hold its values
        NoAnswer,      // no record within the answer time
        SendFailed,    // a request did not leave (problem)
        RecordRefused, // the record could not be applied (errorNumber: the window's retrieval error)
        PortBusy,      // local UDP port 2978 is held by another program
    };
    Result result = Result::NoAnswer;
    SendProblem problem;
    std::optional<MeasurementValues> record;
    // Both readings of the record (it carries the counters and the latency figures alike).
    std::optional<StatisticsReading> statistics;
    std::optional<LatencyReading> latency;
    int errorNumber = 0;
};

// One exchange with an element over the station's measurement port: the requests leave in
// order, then (when a record is awaited) the first record from the element's address, or the
// end of the answer time, completes it. Without a record to await, it completes once the
// requests left.
class MeasureExchange : public QObject
{
    Q_OBJECT
public:
    // Which reading refuses the record when it fails (error 5 statistics, error 4 latency).
    enum class Reading
    {
        None,
        Statistics,
        Latency,
    };
    struct Plan
    {
        QString ip;
        QList<QByteArray> requests;
        bool awaitRecord = true;
        Reading refusedBy = Reading::Statistics;
        QString sfn;
        Role role = Role::Unknown;
        int answerMs = 2000;
    };
    using Done = std::function<void(const MeasureOutcome&)>;

    MeasureExchange(MeasurePort& port, Plan plan, Done done, QObject* parent = nullptr);
    ~MeasureExchange() override;

    // Holds the port, sends; may complete at once (port busy, send failed, nothing to await).
    void start();
    // Asks again while the record is awaited (a request or record lost on the way).
    void resend();
    bool isFinished() const { return m_finished; }
    // The answer time, so that a caller (and a test) can end it.
    QTimer* timer() const { return m_timer; }

signals:
    // After `done` has been called.
    void finished();

private:
    void onDatagram(const QByteArray& datagram);
    void finish(MeasureOutcome outcome);

    MeasurePort& m_port;
    Plan m_plan;
    Done m_done;
    QTimer* m_timer;
    int m_receiver = 0;
    bool m_holding = false;
    bool m_finished = false;
};

} // namespace vexo
