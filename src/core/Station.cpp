#include "Station.h"

#include "diagnostics/MacLookup.h"
#include "editor/ValueRules.h"
#include "link/ConfigCodec.h"
#include "platform/Arp.h"
#include "platform/Numbers.h"
#include "store/SelectedElement.h"

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
    : QObject(parent), m_services(std::move(services)), m_store(m_services.storePath),
      m_fatal(m_services.boxes, m_services.programEnd), m_link(m_fatal, m_services.bindAddress, this),
      m_replies(
          m_link, m_store,
          [this](const QString& ip, QString& mac) {
              return getRemoteMacNow(m_services.arp, ip, QStringLiteral(":"), mac);
          },
          panelRanges(m_services.gpsdoVariant)),
      m_discovery(m_link, m_store, m_replies), m_measurePort(m_services.bindAddress),
      m_pings(m_services.icmp), m_levels(m_link)
{
    // The link is a member and also a child, so that the running program's parts can be found
    // from the application (a member is destroyed before its parent would delete it).
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
    connect(&m_replies, &ReplyHandler::invalidReply, this, [this](const QString& field) {
        if (m_awaiting)
            m_invalidField = field;
    });
    connect(&m_replies, &ReplyHandler::confirmation, this, &Station::finishConfigure);
    connect(&m_replies, &ReplyHandler::invalidReply, this, &Station::invalidReply);
    connect(&m_replies, &ReplyHandler::invalidRepliesDropped, this, &Station::invalidRepliesDropped);
    connect(&m_replies, &ReplyHandler::storeChanged, this, &Station::storeChanged);
    connect(&m_link, &ConfigLink::configReplyTimedOut, this, [this] {
        ConfigureOutcome o;
        o.result = ConfigureOutcome::Result::NoAnswer;
        o.mac = m_awaitedMac;
        o.sent = m_sent;
        o.corruptedField = m_invalidField;
        finishConfigure(o);
    });
}

Station::~Station() = default;

Refusal Station::checkConfiguration(const QString& mac, const ElementConfig& draft) const
{
    using Reason = Refusal::Reason;
    auto refused = [](Reason reason) {
        Refusal r;
        r.reason = reason;
        return r;
    };
    if (mac.isEmpty() || mac == SelectedElement::kNone)
        return refused(Reason::NoElement);
    if (draft.audioSource < 0 || draft.audioType < 0 || draft.txType < 0)
        return refused(Reason::AudioFields);
    if (draft.name.isEmpty())
        return refused(Reason::Name);
    if (!isValidIp(draft.ip) || !isValidIp(draft.mask) || !isValidIp(draft.gateway) ||
        !isValidIp(draft.remote))
        return refused(Reason::Addresses);
    if (!m_store.exists())
        return refused(Reason::StoreMissing);
    return {};
}

void Station::expect(const QString& mac, const ElementConfig& draft)
{
    m_replies.setExpectation(mac, draft);
}

void Station::configure(const QString& mac, const ElementConfig& draft, Role role)
{
    ConfigureOutcome o;
    o.mac = mac;
    o.sent = draft;
    o.sent.sfn = draft.sfn ? 1 : 0;
    // A decoder always has a routing selected after loading; without one, automatic detection
    // is the one safe choice to send.
    if (o.sent.silenceMode < 0)
        o.sent.silenceMode = 0;
    if ((o.refusal = checkConfiguration(mac, draft))) {
        o.result = ConfigureOutcome::Result::Refused;
        emit configured(o);
        return;
    }
    // A new send supersedes one still awaiting its answer.
    m_awaiting = false;
    m_invalidField.clear();
    expect(mac, draft);
    o.problem = m_link.sendTo(m_store.read(mac, keys::ip), buildConfigRequest(o.sent, role), kConfigPort);
    if (o.problem) {
        o.result = ConfigureOutcome::Result::SendFailed;
        emit configured(o);
        return;
    }
    m_awaiting = true;
    m_awaitedMac = mac;
    m_sent = o.sent;
}

void Station::finishConfigure(ConfigureOutcome outcome)
{
    m_awaiting = false;
    emit configured(outcome);
}

AttenuationOutcome Station::setAttenuation(const QString& mac, int position)
{
    AttenuationOutcome o;
    if (encodeMac(mac).isEmpty()) {
        o.problem = {SendFailure::NoAddress, QStringLiteral("no element named")};
        return o;
    }
    // The store records what the element was given: a send that did not leave leaves the stored
    // attenuation as it was.
    o.problem = m_link.sendAttenuation(m_store.read(mac, keys::ip), quint8(std::clamp(position, 0, 255)));
    if (!o.problem)
        o.stored = m_store.write(mac, keys::att, QString::number(position));
    return o;
}

void Station::ping(const QString& mac, PingTest::Done done, const QString& address)
{
    m_pings.start(mac, address.isNull() ? m_store.read(mac, keys::ip) : address, std::move(done));
}

LevelReading* Station::readLevel(const QString& mac, LevelReading::Done done, int answerMs)
{
    // One reading of the file for both keys: the window asks twenty times a second.
    const std::optional<QStringList> stored = m_store.readKeys(mac, {keys::ip, keys::role});
    LevelOutcome o;
    o.mac = mac;
    if (!stored || encodeMac(mac).isEmpty())
        o.result = LevelOutcome::Result::NotStored;
    else if (roleOf(storedInt(stored->at(1))) != Role::Encoder)
        o.result = LevelOutcome::Result::NotEncoder;
    else
        return m_levels.start(mac, stored->at(0), std::move(done), answerMs);
    if (done)
        done(o);
    return nullptr;
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
