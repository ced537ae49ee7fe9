#include "Station.h"

#include "diagnostics/MacLookup.h"
#include "editor/ValueRules.h"
#include "journal/Journal.h"
#include "journal/Recorders.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureArithmetic.h"
#include "measure/MeasureCodec.h"
#include "platform/Arp.h"
#include "platform/Numbers.h"
#include "store/SelectedElement.h"

#include <QTimer>

#include <algorithm>
#include <utility>

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
    // The store's bytes are kept before the discovery empties them, and the discovery is
    // journaled with that copy once it has ended.
    connect(&m_discovery, &Discovery::aboutToEmptyStore, this, &Station::journalDiscoveryStart);
    connect(&m_discovery, &Discovery::finished, this, &Station::journalDiscoveryEnd);
}

Station::~Station()
{
    // Exchanges still on their way (a poll when the program ends) let go of the measurement
    // port as they go: before the port, not after it as children would.
    qDeleteAll(findChildren<MeasureExchange*>(Qt::FindDirectChildrenOnly));
}

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
    // The journal compares what is sent with the element as it was stored before the send.
    m_configuredBefore = StoredElement::load(m_store, mac, m_services.gpsdoVariant);
    if ((o.refusal = checkConfiguration(mac, draft))) {
        o.result = ConfigureOutcome::Result::Refused;
        journalConfigure(o);
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
        journalConfigure(o);
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
    journalConfigure(outcome);
    emit configured(outcome);
}

void Station::takeJournalWarning()
{
    if (const QString reason = m_journal->takeWarning(); !reason.isEmpty())
        emit journalWarning(reason);
}

void Station::journalConfigure(const ConfigureOutcome& outcome)
{
    // Only answers to a configuration this station sent: the window's expectation also compares
    // answers nobody here asked for, and those changed nothing.
    if (!m_journal || outcome.mac.isEmpty() || outcome.mac == SelectedElement::kNone ||
        m_configuredBefore.mac() != outcome.mac)
        return;
    recordConfigure(*m_journal, outcome, m_configuredBefore);
    takeJournalWarning();
}

void Station::journalDiscoveryStart()
{
    m_discoveryEmptied = true;
    m_discoveryCopy = 0;
    if (!m_journal)
        return;
    m_discoveryCopy = m_journal->saveStoreCopy(m_store.path()).value_or(0);
    takeJournalWarning();
}

void Station::journalDiscoveryEnd(int answered)
{
    // A discovery that paged nowhere left the store as it was: nothing changed.
    if (!std::exchange(m_discoveryEmptied, false) || !m_journal)
        return;
    recordDiscovery(*m_journal, answered, std::exchange(m_discoveryCopy, 0));
    takeJournalWarning();
}

MeasureExchange::Done
Station::journalMeasure(const QString& mac, MeasureExchange::Done done,
                        std::function<void(Journal&, const StoredElement&, const MeasureOutcome&)> record)
{
    if (!m_journal)
        return done;
    return [this, before = StoredElement::load(m_store, mac, m_services.gpsdoVariant), done = std::move(done),
            record = std::move(record)](const MeasureOutcome& o) {
        // The caller learns the outcome first; the journal never delays or changes it.
        done(o);
        if (m_journal) {
            record(*m_journal, before, o);
            takeJournalWarning();
        }
    };
}

void Station::journalDelaySent(const QString& mac, int position, bool autoServo, const SendProblem& problem)
{
    if (!m_journal)
        return;
    JournalEntry e =
        delayEntry(JournalOperation::SetDelay, StoredElement::load(m_store, mac, m_services.gpsdoVariant),
                   DelaySetting{position, autoServo}, std::nullopt, problem);
    if (!problem)
        e.outcome = QStringLiteral("sent"); // the window reads it back only when asked to
    m_journal->record(e);
    takeJournalWarning();
}

void Station::journalCountersReset(const QString& mac, const SendProblem& problem)
{
    if (!m_journal)
        return;
    JournalEntry e =
        countersClearedEntry(StoredElement::load(m_store, mac, m_services.gpsdoVariant), false, problem);
    if (!problem)
        e.outcome = QStringLiteral("sent"); // the element does not answer a reset
    m_journal->record(e);
    takeJournalWarning();
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
    const StoredElement before =
        m_journal ? StoredElement::load(m_store, mac, m_services.gpsdoVariant) : StoredElement();
    o.problem = m_link.sendAttenuation(m_store.read(mac, keys::ip), quint8(std::clamp(position, 0, 255)));
    if (!o.problem)
        o.stored = m_store.write(mac, keys::att, QString::number(position));
    if (m_journal) {
        recordAttenuation(*m_journal, before, position, o.problem);
        takeJournalWarning();
    }
    return o;
}

void Station::ping(const QString& mac, PingTest::Done done, const QString& address)
{
    m_pings.start(mac, address.isNull() ? m_store.read(mac, keys::ip) : address, std::move(done));
}

LevelReading* Station::readLevel(const QString& mac, LevelReading::Done done, int answerMs)
{
    const quint64 revision = m_store.revision();
    if (revision == 0 || revision != m_levelTarget.revision || mac != m_levelTarget.mac) {
        // One reading of the file for both keys.
        const std::optional<QStringList> stored = m_store.readKeys(mac, {keys::ip, keys::role});
        m_levelTarget = {mac, revision, LevelOutcome::Result::Reading, QString()};
        if (!stored || encodeMac(mac).isEmpty())
            m_levelTarget.refused = LevelOutcome::Result::NotStored;
        else if (roleOf(storedInt(stored->at(1))) != Role::Encoder)
            m_levelTarget.refused = LevelOutcome::Result::NotEncoder;
        else
            m_levelTarget.ip = stored->at(0);
    }
    if (m_levelTarget.refused == LevelOutcome::Result::Reading)
        return m_levels.start(mac, m_levelTarget.ip, std::move(done), answerMs);
    LevelOutcome o;
    o.mac = mac;
    o.result = m_levelTarget.refused;
    if (done)
        done(o);
    return nullptr;
}

MeasureExchange* Station::exchange(const QString& mac, QList<QByteArray> requests, bool awaitRecord,
                                   MeasureExchange::Reading refusedBy, MeasureExchange::Done done,
                                   int answerMs)
{
    // One reading of the store for the three keys: a poll of every SFN decoder asks each second.
    const QStringList stored = m_store.read(mac, QStringList{keys::ip, keys::sfn, keys::role});
    MeasureExchange::Plan plan;
    plan.ip = stored[0];
    plan.requests = std::move(requests);
    plan.awaitRecord = awaitRecord;
    plan.refusedBy = refusedBy;
    plan.sfn = stored[1];
    plan.role = roleOf(storedInt(stored[2]));
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

namespace {
// A measurement that did not leave: why, as the journal keeps it.
SendProblem measureProblem(const MeasureOutcome& o)
{
    if (o.result == MeasureOutcome::Result::PortBusy && !o.problem)
        return {SendFailure::PortBusy, QStringLiteral("UDP port 2978 is in use on this host")};
    return o.problem;
}
} // namespace

MeasureExchange* Station::setDelay(const QString& mac, qint32 delayNs, bool autoServo,
                                   MeasureExchange::Done done, JournalOperation kind)
{
    const DelaySetting sent{delayNs / kNsPerDelayPosition, autoServo};
    done =
        journalMeasure(mac, std::move(done),
                       [kind, sent](Journal& journal, const StoredElement& before, const MeasureOutcome& o) {
                           std::optional<DelaySetting> reported;
                           if (o.result == MeasureOutcome::Result::Answered && o.latency)
                               reported = DelaySetting{o.latency->additionalDelayNs / kNsPerDelayPosition,
                                                       o.latency->autoServo};
                           recordDelay(journal, kind, before, sent, reported, measureProblem(o));
                       });
    return exchange(mac, {buildSetDelayRequest(delayNs, autoServo), kGetDel}, true,
                    MeasureExchange::Reading::Latency, std::move(done));
}

MeasureExchange* Station::clearCounters(const QString& mac, MeasureExchange::Done done)
{
    done = journalMeasure(
        mac, std::move(done), [](Journal& journal, const StoredElement& before, const MeasureOutcome& o) {
            recordCountersCleared(journal, before, o.result == MeasureOutcome::Result::Answered,
                                  measureProblem(o));
        });
    return exchange(mac, {kRstStats}, false, MeasureExchange::Reading::None, std::move(done));
}

} // namespace vexo
