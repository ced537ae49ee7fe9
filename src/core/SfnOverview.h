#pragma once

#include "measure/MeasureExchange.h"
#include "measure/SfnPlan.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QIODevice;
class QTimer;

namespace vexo {

class Station;

// One SFN decoder as the overview knows it: where it is, what it said last and since when it
// is silent. A decoder that stops answering keeps its last values, with the time they date from.
struct SfnDecoderStatus
{
    enum class State
    {
        Waiting,   // not asked yet, or its first answer is awaited
        Answering, // the last poll brought its record
        NoAnswer,  // the last poll brought nothing (since noAnswerSince)
        Refused,   // its record could not be applied (the SFN window's error 4)
    };
    QString mac;
    QString name;
    QString ip;
    State state = State::Waiting;
    std::optional<LatencyReading> reading; // the last record that could be applied
    QDateTime readingTime;                 // when that record came
    QDateTime noAnswerSince;               // the first poll without an answer after the last record
    QDateTime updated;                     // when the last poll of it ended

    // What the alignment plan starts from: only a decoder that answered the last poll counts.
    SfnDecoderReading planReading() const;
};

// One point of a decoder's history: its network latencies (ns) when the record came. The
// latency summaries are these plus both interface latencies.
struct SfnSample
{
    qint64 timeMs = 0; // ms since the epoch
    qint32 averageNs = 0, minimumNs = 0, maximumNs = 0;
};

// The latency history of the SFN decoders and the spread of the network: one ring of fixed
// size per decoder, so that an overview left open for hours keeps its memory flat.
class SfnHistory
{
public:
    // 30 minutes at the fastest poll (1 s): the chart shows the last 15 minutes or more.
    static constexpr int kDefaultCapacity = 1800;
    explicit SfnHistory(int capacity = kDefaultCapacity) : m_capacity(capacity) {}

    void resize(int decoders); // keeps what the first decoders hold
    void add(int decoder, const SfnSample& sample);
    // The spread of the average latency summaries (highest minus lowest) at a time.
    void addSpread(qint64 timeMs, qint64 spreadNs);
    void clear();

    int capacity() const { return m_capacity; }
    int decoderCount() const { return int(m_rings.size()); }
    // Oldest first.
    QList<SfnSample> samples(int decoder) const;
    // The newest sample of a decoder, without copying its ring.
    std::optional<SfnSample> last(int decoder) const;
    QList<std::pair<qint64, qint64>> spread() const;

    // time, mac, name, then every latency in ns, oldest first and decoder by decoder.
    bool writeCsv(QIODevice& out, const QList<SfnDecoderStatus>& decoders) const;

private:
    template <typename T> struct Ring
    {
        std::vector<T> items;
        size_t next = 0;
        void add(const T& item, size_t capacity);
        QList<T> inOrder() const;
        const T* newest() const;
    };
    int m_capacity;
    std::vector<Ring<SfnSample>> m_rings;
    Ring<std::pair<qint64, qint64>> m_spread;
};

// One point of a chart line: the samples of a slot of time taken together.
struct SfnSlotPoint
{
    qint64 timeMs = 0; // the newest sample's
    qint64 averageNs = 0, minimumNs = 0, maximumNs = 0;
    bool operator==(const SfnSlotPoint&) const = default;
};

// Takes the samples of one chart line in time order and gives a point for each slot of slotMs
// (counted from the epoch) once the slot is over: the mean of the averages (to the nearest ns),
// the lowest minimum and the highest maximum, at the newest sample's time. With many decoders a
// chart point stands for some seconds, so that the chart is redrawn once a slot, not every
// round; the history keeps every sample. A slot of 0 makes each sample a point of its own.
class SfnSlots
{
public:
    explicit SfnSlots(qint64 slotMs = 0) : m_slotMs(slotMs) {}

    // Ends the open slot when nowMs lies in another slot (or at once, without slots): its point.
    std::optional<SfnSlotPoint> close(qint64 nowMs);
    // A sample of another slot ends the open one first (its point is returned).
    std::optional<SfnSlotPoint> add(const SfnSlotPoint& sample);

private:
    qint64 m_slotMs;
    std::optional<SfnSlotPoint> m_open;
    qint64 m_sumNs = 0;
    qint64 m_count = 0;
};

// Asks every SFN decoder of the store for its latency ("GetDel") at an interval of 1 to 60 s,
// over the station's one measurement port (the statistics and SFN windows use it beside it).
// Reports each decoder's change and keeps the history. Shows nothing and asks nothing.
class SfnOverview : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMinIntervalSeconds = 1;
    static constexpr int kMaxIntervalSeconds = 60;

    explicit SfnOverview(Station& station, QObject* parent = nullptr);
    ~SfnOverview() override;

    // The decoders the store holds with role 2 and `sfn` 1, in store order; a decoder already
    // known keeps its values and history.
    void reload();
    const QList<SfnDecoderStatus>& decoders() const { return m_decoders; }
    const SfnHistory& history() const { return m_history; }

    // Clamped to 1..60 s; takes effect at once.
    void setIntervalSeconds(int seconds);
    int intervalSeconds() const;
    void start(); // polls now, then at every interval
    void stop();  // polls already sent still complete
    bool isRunning() const;
    // One poll of every decoder that has no poll on the way (a silent decoder's may outlast the
    // interval): a round. A round ends when each of its exchanges has, or when the next round
    // starts first (its latecomers then show with that one).
    void pollNow();
    // The interval timer and the polls on the way, whose answer time a test can end.
    QTimer* timer() const { return m_timer; }
    QList<MeasureExchange*> pending() const;
    bool isPolling() const { return !m_inFlight.isEmpty(); }

    // The readings the alignment plan starts from, in decoder order.
    QList<SfnDecoderReading> planReadings() const;

    // The clock of the values' times (tests and benchmarks run simulated time).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

signals:
    void decodersReloaded();
    void decoderChanged(int index);
    // Every poll's requests have been answered or timed out.
    void pollFinished();
    // The spread of a round that brought records, recorded as the round ends.
    void spreadRecorded(qint64 timeMs, qint64 spreadNs);
    // Once per round, after its decoderChanged and spreadRecorded: a face redraws here.
    void roundFinished();

private:
    void onOutcome(const QString& mac, const MeasureOutcome& outcome);
    void endRound();
    void recordSpread();
    int indexOf(const QString& mac) const;

    Station& m_station;
    QTimer* m_timer;
    QList<SfnDecoderStatus> m_decoders;
    SfnHistory m_history;
    QHash<QString, MeasureExchange*> m_inFlight;
    QSet<QString> m_round; // the open round's exchanges still on their way
    bool m_roundOpen = false;
    bool m_answeredSinceSpread = false;
    std::function<QDateTime()> m_clock;
};

// One decoder of an applied plan and how it ended.
struct SfnApplyRow
{
    enum class Result
    {
        Pending,
        Confirmed, // it reports the planned delay
        Mismatch,  // it answered with another delay (reportedDelayNs)
        NoAnswer,  // no record after the request
        Failed,    // the request did not leave, the port is busy, or its record was refused
    };
    QString mac;
    int position = 0;
    qint32 plannedDelayNs = 0;
    bool autoServo = false; // as its last record reported it
    Result result = Result::Pending;
    qint32 reportedDelayNs = 0;
    MeasureOutcome outcome; // the last exchange's
};

// Applies an alignment plan: every planned decoder gets SetDelayRequest with its new delay and
// the servo flag of its last record, then "GetDel" shows whether it took it on. A record with
// another delay is asked for once more (a record of an earlier poll may still be on its way)
// before it counts as a mismatch. Confirmed decoders get `dly` and `srv` in the store, all in
// one write. Nothing else is sent.
class SfnAlignment : public QObject
{
    Q_OBJECT
public:
    SfnAlignment(Station& station, const SfnPlan& plan, QObject* parent = nullptr);

    void start();
    bool isFinished() const { return m_finished; }
    const QList<SfnApplyRow>& rows() const { return m_rows; }
    // After finished(): whether the confirmed decoders' keys reached the store (true when none
    // was confirmed: nothing had to be written).
    bool storeWritten() const { return m_storeWritten; }
    QList<MeasureExchange*> pending() const;

signals:
    void rowFinished(int index);
    void finished();

private:
    void onOutcome(int index, const MeasureOutcome& outcome, bool secondLook);
    void conclude(int index, SfnApplyRow::Result result);
    void writeStore();

    Station& m_station;
    QList<SfnApplyRow> m_rows;
    QHash<int, MeasureExchange*> m_inFlight;
    int m_open = 0;
    bool m_started = false;
    bool m_finished = false;
    bool m_storeWritten = false;
};

// Texts the overview's faces share: "answering", "no answer since 14:02:07", "record refused".
QString sfnStateText(const SfnDecoderStatus& decoder);
// "answering", "no_answer", "record_refused", "waiting" (for scripts).
QString sfnStateName(SfnDecoderStatus::State state);
// "off", "on (-1200 nS)".
QString sfnServoText(const LatencyReading& reading);
// "planned", "out of range", "no answer"; "confirmed", "mismatch", "failed".
QString sfnPlanStatusText(SfnPlanRow::Status status);
QString sfnApplyResultText(SfnApplyRow::Result result);

} // namespace vexo
