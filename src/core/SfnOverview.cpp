#include "SfnOverview.h"

#include "Station.h"

#include "editor/StoredElement.h"
#include "store/IniFile.h"

#include <QIODevice>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace vexo {

namespace {

// Starts an exchange that may end before the call returns (port busy, send failed): the entry
// says it is on its way until its outcome removes it.
template <typename Key, typename Start>
void track(QHash<Key, MeasureExchange*>& inFlight, const Key& key, Start start)
{
    inFlight.insert(key, nullptr);
    MeasureExchange* x = start();
    if (inFlight.contains(key))
        inFlight[key] = x;
}

template <typename Key> QList<MeasureExchange*> started(const QHash<Key, MeasureExchange*>& inFlight)
{
    QList<MeasureExchange*> list;
    for (MeasureExchange* x : inFlight)
        if (x)
            list.append(x);
    return list;
}

} // namespace

SfnDecoderReading SfnDecoderStatus::planReading() const
{
    SfnDecoderReading r;
    r.mac = mac;
    r.answered = state == State::Answering && reading && reading->average;
    if (reading) {
        // The plan needs the field itself: the average row holds field + A + V.
        r.additionalDelayNs = reading->additionalDelayNs;
        r.autoServo = reading->autoServo;
        r.servoCorrectionNs = reading->servoCorrectionNs;
        if (reading->average)
            r.networkAverageNs = qint32(qint64(reading->average->networkNs) - reading->additionalDelayNs -
                                        reading->servoCorrectionNs);
    }
    return r;
}

// ---- SfnHistory --------------------------------------------------------------------------

template <typename T> void SfnHistory::Ring<T>::add(const T& item, size_t capacity)
{
    if (items.size() < capacity) {
        items.push_back(item);
        return;
    }
    items[next] = item;
    next = (next + 1) % capacity;
}

template <typename T> const T* SfnHistory::Ring<T>::newest() const
{
    if (items.empty())
        return nullptr;
    return &items[(next + items.size() - 1) % items.size()];
}

template <typename T> QList<T> SfnHistory::Ring<T>::inOrder() const
{
    QList<T> out;
    out.reserve(qsizetype(items.size()));
    for (size_t i = 0; i < items.size(); ++i)
        out.append(items[(next + i) % items.size()]);
    return out;
}

void SfnHistory::resize(int decoders)
{
    m_rings.resize(size_t(std::max(0, decoders)));
}

void SfnHistory::add(int decoder, const SfnSample& sample)
{
    if (decoder >= 0 && size_t(decoder) < m_rings.size())
        m_rings[size_t(decoder)].add(sample, size_t(m_capacity));
}

void SfnHistory::addSpread(qint64 timeMs, qint64 spreadNs)
{
    m_spread.add({timeMs, spreadNs}, size_t(m_capacity));
}

void SfnHistory::clear()
{
    for (auto& ring : m_rings)
        ring = {};
    m_spread = {};
}

QList<SfnSample> SfnHistory::samples(int decoder) const
{
    if (decoder < 0 || size_t(decoder) >= m_rings.size())
        return {};
    return m_rings[size_t(decoder)].inOrder();
}

std::optional<SfnSample> SfnHistory::last(int decoder) const
{
    if (decoder < 0 || size_t(decoder) >= m_rings.size())
        return std::nullopt;
    const SfnSample* newest = m_rings[size_t(decoder)].newest();
    return newest ? std::optional<SfnSample>(*newest) : std::nullopt;
}

QList<std::pair<qint64, qint64>> SfnHistory::spread() const
{
    return m_spread.inOrder();
}

namespace {
// RFC 4180: a field with a comma, a quote or a line break is quoted.
QByteArray csvField(const QString& text)
{
    QByteArray b = text.toUtf8();
    if (b.contains(',') || b.contains('"') || b.contains('\n') || b.contains('\r'))
        b = '"' + b.replace("\"", "\"\"") + '"';
    return b;
}
} // namespace

bool SfnHistory::writeCsv(QIODevice& out, const QList<SfnDecoderStatus>& decoders) const
{
    QByteArray text = "time,mac,name,network_latency_avg_ns,network_latency_min_ns,network_latency_max_ns,"
                      "latency_summary_avg_ns,latency_summary_min_ns,latency_summary_max_ns\r\n";
    constexpr qint64 fixed = qint64(FixedLatencyMacNs) + FixedLatencyAudioNs;
    for (int d = 0; d < decoders.size(); ++d) {
        const QByteArray who = csvField(decoders[d].mac) + ',' + csvField(decoders[d].name);
        for (const SfnSample& s : samples(d)) {
            text += QDateTime::fromMSecsSinceEpoch(s.timeMs, Qt::UTC).toString(Qt::ISODateWithMs).toUtf8() +
                    ',' + who;
            for (qint64 v : {qint64(s.averageNs), qint64(s.minimumNs), qint64(s.maximumNs),
                             s.averageNs + fixed, s.minimumNs + fixed, s.maximumNs + fixed})
                text += ',' + QByteArray::number(v);
            text += "\r\n";
        }
    }
    return out.write(text) == text.size();
}

// ---- SfnSlots ----------------------------------------------------------------------------

std::optional<SfnSlotPoint> SfnSlots::close(qint64 nowMs)
{
    if (!m_open || (m_slotMs > 0 && nowMs / m_slotMs == m_open->timeMs / m_slotMs))
        return std::nullopt;
    SfnSlotPoint point = *m_open;
    point.averageNs = std::llround(double(m_sumNs) / double(m_count));
    m_open.reset();
    return point;
}

std::optional<SfnSlotPoint> SfnSlots::add(const SfnSlotPoint& sample)
{
    std::optional<SfnSlotPoint> closed = close(sample.timeMs);
    if (!m_open) {
        m_open = sample;
        m_sumNs = sample.averageNs;
        m_count = 1;
        return closed;
    }
    m_open->timeMs = sample.timeMs;
    m_open->minimumNs = std::min(m_open->minimumNs, sample.minimumNs);
    m_open->maximumNs = std::max(m_open->maximumNs, sample.maximumNs);
    m_sumNs += sample.averageNs;
    ++m_count;
    return closed;
}

// ---- SfnOverview -------------------------------------------------------------------------

SfnOverview::SfnOverview(Station& station, QObject* parent)
    : QObject(parent), m_station(station), m_timer(new QTimer(this)),
      m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SfnOverview::pollNow);
}

SfnOverview::~SfnOverview() = default;

void SfnOverview::reload()
{
    const ElementStore& store = m_station.store();
    QList<SfnDecoderStatus> decoders;
    std::vector<QList<SfnSample>> kept;
    for (const QString& mac : store.elements()) {
        const StoredElement e = StoredElement::load(store, mac);
        if (!e.exists() || e.corrupted() || e.role() != Role::Decoder ||
            sfnNumericValue(e.field(keys::sfn).text) != 1.0)
            continue;
        SfnDecoderStatus status;
        if (const int known = indexOf(mac); known >= 0) {
            status = m_decoders[known];
            kept.push_back(m_history.samples(known));
        } else {
            status.mac = mac;
            kept.emplace_back();
        }
        status.name = e.field(keys::name).text.trimmed();
        status.ip = e.field(keys::ip).text.trimmed();
        decoders.append(status);
    }
    m_decoders = decoders;
    const auto spread = m_history.spread();
    m_history.clear();
    m_history.resize(int(m_decoders.size()));
    for (size_t d = 0; d < kept.size(); ++d)
        for (const SfnSample& s : kept[d])
            m_history.add(int(d), s);
    for (const auto& [t, v] : spread)
        m_history.addSpread(t, v);
    emit decodersReloaded();
}

void SfnOverview::setIntervalSeconds(int seconds)
{
    m_timer->setInterval(std::clamp(seconds, kMinIntervalSeconds, kMaxIntervalSeconds) * 1000);
}

int SfnOverview::intervalSeconds() const
{
    return m_timer->interval() / 1000;
}

void SfnOverview::start()
{
    m_timer->start();
    pollNow();
}

void SfnOverview::stop()
{
    m_timer->stop();
}

bool SfnOverview::isRunning() const
{
    return m_timer->isActive();
}

QList<MeasureExchange*> SfnOverview::pending() const
{
    return started(m_inFlight);
}

int SfnOverview::indexOf(const QString& mac) const
{
    for (int i = 0; i < m_decoders.size(); ++i)
        if (m_decoders[i].mac == mac)
            return i;
    return -1;
}

void SfnOverview::pollNow()
{
    if (m_roundOpen)
        endRound();
    QPointer<SfnOverview> self(this);
    for (const SfnDecoderStatus& d : std::as_const(m_decoders)) {
        if (m_inFlight.contains(d.mac))
            continue;
        const QString mac = d.mac;
        m_round.insert(mac);
        track(m_inFlight, mac, [&] {
            return m_station.readDelay(mac, [self, mac](const MeasureOutcome& o) {
                if (self)
                    self->onOutcome(mac, o);
            });
        });
    }
    m_roundOpen = true;
    if (m_round.isEmpty())
        endRound();
}

void SfnOverview::endRound()
{
    m_roundOpen = false;
    m_round.clear();
    recordSpread();
    emit roundFinished();
}

void SfnOverview::onOutcome(const QString& mac, const MeasureOutcome& outcome)
{
    m_inFlight.remove(mac);
    if (const int index = indexOf(mac); index >= 0) {
        SfnDecoderStatus& d = m_decoders[index];
        const QDateTime now = m_clock();
        d.updated = now;
        if (outcome.result == MeasureOutcome::Result::Answered && outcome.latency &&
            outcome.latency->sfnDecoder) {
            d.state = SfnDecoderStatus::State::Answering;
            d.reading = *outcome.latency;
            d.readingTime = now;
            d.noAnswerSince = {};
            const LatencyReading& r = *outcome.latency;
            if (r.average && r.minimum && r.maximum) {
                m_history.add(index, SfnSample{now.toMSecsSinceEpoch(), r.average->networkNs,
                                               r.minimum->networkNs, r.maximum->networkNs});
                m_answeredSinceSpread = true;
            }
        } else if (outcome.result == MeasureOutcome::Result::RecordRefused) {
            d.state = SfnDecoderStatus::State::Refused;
        } else {
            if (d.state != SfnDecoderStatus::State::NoAnswer)
                d.noAnswerSince = now;
            d.state = SfnDecoderStatus::State::NoAnswer;
        }
        emit decoderChanged(index);
    }
    // An outcome that comes inside pollNow (the port busy) ends the round there.
    if (m_round.remove(mac) && m_roundOpen && m_round.isEmpty())
        endRound();
    if (m_inFlight.isEmpty())
        emit pollFinished();
}

void SfnOverview::recordSpread()
{
    if (!m_answeredSinceSpread)
        return;
    m_answeredSinceSpread = false;
    std::optional<qint64> low, high;
    for (const SfnDecoderStatus& d : std::as_const(m_decoders)) {
        if (d.state != SfnDecoderStatus::State::Answering || !d.reading || !d.reading->average)
            continue;
        const qint64 summary =
            qint64(d.reading->average->networkNs) + FixedLatencyMacNs + FixedLatencyAudioNs;
        low = std::min(low.value_or(summary), summary);
        high = std::max(high.value_or(summary), summary);
    }
    if (!low)
        return;
    const qint64 t = m_clock().toMSecsSinceEpoch();
    m_history.addSpread(t, *high - *low);
    emit spreadRecorded(t, *high - *low);
}

QList<SfnDecoderReading> SfnOverview::planReadings() const
{
    QList<SfnDecoderReading> list;
    for (const SfnDecoderStatus& d : m_decoders)
        list.append(d.planReading());
    return list;
}

// ---- SfnAlignment ------------------------------------------------------------------------

SfnAlignment::SfnAlignment(Station& station, const SfnPlan& plan, QObject* parent)
    : QObject(parent), m_station(station)
{
    for (const SfnPlanRow& p : plan.rows) {
        if (p.status != SfnPlanRow::Status::Planned)
            continue;
        SfnApplyRow row;
        row.mac = p.mac;
        row.position = p.position;
        row.plannedDelayNs = p.plannedDelayNs;
        row.autoServo = p.autoServo;
        m_rows.append(row);
    }
}

QList<MeasureExchange*> SfnAlignment::pending() const
{
    return started(m_inFlight);
}

void SfnAlignment::start()
{
    if (m_started)
        return;
    m_started = true;
    m_open = int(m_rows.size());
    if (m_open == 0) {
        writeStore();
        return;
    }
    QPointer<SfnAlignment> self(this);
    for (int i = 0; i < m_rows.size(); ++i) {
        const SfnApplyRow& row = m_rows[i];
        track(m_inFlight, i, [&] {
            return m_station.setDelay(
                row.mac, row.plannedDelayNs, row.autoServo,
                [self, i](const MeasureOutcome& o) {
                    if (self)
                        self->onOutcome(i, o, false);
                },
                JournalOperation::SfnAlignment);
        });
    }
}

void SfnAlignment::onOutcome(int index, const MeasureOutcome& outcome, bool secondLook)
{
    m_inFlight.remove(index);
    SfnApplyRow& row = m_rows[index];
    row.outcome = outcome;
    using R = MeasureOutcome::Result;
    switch (outcome.result) {
    case R::Answered:
        row.reportedDelayNs = outcome.latency ? outcome.latency->additionalDelayNs : 0;
        if (outcome.latency && row.reportedDelayNs == row.plannedDelayNs) {
            conclude(index, SfnApplyRow::Result::Confirmed);
        } else if (!secondLook) {
            QPointer<SfnAlignment> self(this);
            track(m_inFlight, index, [&] {
                return m_station.readDelay(row.mac, [self, index](const MeasureOutcome& o) {
                    if (self)
                        self->onOutcome(index, o, true);
                });
            });
        } else {
            conclude(index, SfnApplyRow::Result::Mismatch);
        }
        break;
    case R::NoAnswer:
        conclude(index, SfnApplyRow::Result::NoAnswer);
        break;
    default:
        conclude(index, SfnApplyRow::Result::Failed);
        break;
    }
}

void SfnAlignment::conclude(int index, SfnApplyRow::Result result)
{
    m_rows[index].result = result;
    emit rowFinished(index);
    if (--m_open == 0)
        writeStore();
}

void SfnAlignment::writeStore()
{
    QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
    for (const SfnApplyRow& row : std::as_const(m_rows)) {
        if (row.result != SfnApplyRow::Result::Confirmed)
            continue;
        sections.append({encodeMac(row.mac),
                         {{keys::dly, QString::number(row.position)},
                          {keys::srv, row.autoServo ? QStringLiteral("1") : QStringLiteral("0")}}});
    }
    m_storeWritten = sections.isEmpty() || writeSectionsToIni(sections, m_station.store().path());
    m_finished = true;
    emit finished();
}

// ---- Texts ---------------------------------------------------------------------------------

QString sfnStateName(SfnDecoderStatus::State state)
{
    static const char* const names[] = {"waiting", "answering", "no_answer", "record_refused"};
    return QLatin1String(names[int(state)]);
}

QString sfnStateText(const SfnDecoderStatus& d)
{
    if (d.state == SfnDecoderStatus::State::NoAnswer)
        return QStringLiteral("no answer since %1")
            .arg(d.noAnswerSince.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
    return sfnStateName(d.state).replace(QLatin1Char('_'), QLatin1Char(' '));
}

QString sfnServoText(const LatencyReading& r)
{
    return r.autoServo ? QStringLiteral("on (%1 nS)").arg(r.servoCorrectionNs) : QStringLiteral("off");
}

QString sfnPlanStatusText(SfnPlanRow::Status status)
{
    static const char* const texts[] = {"planned", "out of range", "no answer"};
    return QLatin1String(texts[int(status)]);
}

QString sfnApplyResultText(SfnApplyRow::Result result)
{
    static const char* const texts[] = {"sending", "confirmed", "mismatch", "no answer", "failed"};
    return QLatin1String(texts[int(result)]);
}

} // namespace vexo
