#include "Station.h"

#include "diagnostics/MacLookup.h"
#include "editor/ValueRules.h"
#include "link/ConfigCodec.h"
#include "platform/Arp.h"
#include "platform/Numbers.h"

#include <QTimer>

#include <algorithm>

namespace vexo {

ValueRanges panelRanges(bool gpsdoVariant)
{
    ValueRanges r;
    r.attenuationMinimum = kAttenMin;
    r.bufferMaximum = gpsdoVariant ? kBufferMaxGpsdo : kBufferMax;
    r.silenceModes = 3; // "Auto detect", "Force internal", "Force external"
    r.silenceLevelMinimum = kSilDetLevelMin;
    r.silenceLevelMaximum = kSilDetLevelMax;
    r.silenceTimeMinimum = kSilDetTimeMin;
    r.silenceTimeMaximum = kSilDetTimeMax;
    return r;
}

Station::Station(StationServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_store(m_services.storePath), m_selection(m_store),
      m_fatal(m_services.boxes, m_services.programEnd),
      m_link(m_services.boxes, m_fatal, m_selection, m_services.bindAddress),
      m_replies(
          m_link, m_store, m_selection, m_services.boxes,
          [this](const QString& ip, QString& mac) {
              return getRemoteMac(m_services.arp, ip, QStringLiteral(":"), mac);
          },
          panelRanges(m_services.gpsdoVariant)),
      m_sender(m_link, m_store, m_services.boxes, m_selection),
      m_discovery(m_link, m_store, m_replies, m_services.boxes), m_measurePort(m_services.bindAddress),
      m_pings(m_services.icmp)
{
    m_link.setReplyHandler([this](const QueuedReply& reply) { m_replies.handleConfigReply(reply); });
    m_replies.setLookAhead([this](const QStringList& ips) {
        QList<quint32> addresses;
        addresses.reserve(ips.size());
        for (const QString& ip : ips) {
            quint32 address = 0;
            if (parseIPv4(ip, address))
                addresses << address;
        }
        m_services.arp.prepare(addresses);
    });
}

Station::~Station() = default;

bool Station::sendAttenuation(int position)
{
    if (encodeMac(m_selection.mac()).isEmpty())
        return false;
    // The store records what the element was given: a send that did not leave (the link has
    // already told the operator) leaves the stored attenuation as it was.
    if (!m_link.sendAttenuation(quint8(std::clamp(position, 0, 255))))
        return false;
    return m_store.write(m_selection.mac(), keys::att, QString::number(position));
}

void Station::ping(const QString& mac, PingTest::Done done, const QString& address)
{
    m_pings.start(mac, address.isNull() ? m_store.read(mac, keys::ip) : address, std::move(done));
}

MeasureExchange* Station::exchange(const QString& mac, QList<QByteArray> requests, bool awaitRecord,
                                   MeasureExchange::Reading refusedBy, MeasureExchange::Done done,
                                   int answerMs)
{
    MeasureExchange::Plan plan;
    plan.ip = m_store.read(mac, keys::ip);
    plan.requests = std::move(requests);
    plan.awaitRecord = awaitRecord;
    plan.refusedBy = refusedBy;
    plan.sfn = m_store.read(mac, keys::sfn);
    plan.role = roleOf(storedInt(m_store.read(mac, keys::role)));
    plan.answerMs = answerMs;
    auto* x = new MeasureExchange(m_measurePort, std::move(plan), std::move(done), this);
    // Deleted once it completed; until the event loop runs, the caller may still look at it.
    connect(x, &MeasureExchange::finished, x, &QObject::deleteLater);
    x->start();
    return x;
}

MeasureExchange* Station::readStatistics(const QString& mac, MeasureExchange::Done done, int answerMs)
{
    return exchange(mac, {kGetStats}, true, MeasureExchange::Reading::Statistics, std::move(done), answerMs);
}

MeasureExchange* Station::readDelay(const QString& mac, MeasureExchange::Done done)
{
    return exchange(mac, {kGetDel}, true, MeasureExchange::Reading::Latency, std::move(done));
}

MeasureExchange* Station::setDelay(const QString& mac, qint32 delayNs, bool autoServo,
                                   MeasureExchange::Done done)
{
    return exchange(mac, {buildSetDelayRequest(delayNs, autoServo), kGetDel}, true,
                    MeasureExchange::Reading::Latency, std::move(done));
}

MeasureExchange* Station::clearCounters(const QString& mac, MeasureExchange::Done done)
{
    return exchange(mac, {kRstStats}, false, MeasureExchange::Reading::None, std::move(done));
}

} // namespace vexo
