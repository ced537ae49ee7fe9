#include "ReplyHandler.h"

#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QList>
#include <QPair>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <utility>

namespace vexo {

QString storeWriteFailedText()
{
    return QStringLiteral(
        "The local database in your computer could not be written.\rCannot save this element info.");
}

ReplyHandler::ReplyHandler(ConfigLink& link, const ElementStore& store, MacLookup getRemoteMac,
                           ValueRanges ranges, QObject* parent)
    : QObject(parent), m_link(link), m_store(store), m_getRemoteMac(std::move(getRemoteMac)),
      m_ranges(ranges), m_timerGetMAC(new QTimer(this)), m_retry(new QTimer(this)),
      m_storeTimer(new QTimer(this))
{
    m_timerGetMAC->setObjectName(QStringLiteral("timerGetMAC"));
    m_timerGetMAC->setInterval(kGetMacIntervalMs);
    m_timerGetMAC->setTimerType(Qt::PreciseTimer);
    connect(m_timerGetMAC, &QTimer::timeout, this, &ReplyHandler::onTimerGetMAC);
    // An attempt only looks at the neighbour table; the next one follows shortly, while the
    // event loop goes on.
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryIntervalMs);
    m_storeTimer->setSingleShot(true);
    connect(m_storeTimer, &QTimer::timeout, this, &ReplyHandler::flushDiscovered);
    connect(m_retry, &QTimer::timeout, this, [this] {
        if (m_identifying && tryIdentify())
            identified(true);
        else if (m_identifying)
            m_retry->start();
    });
}

void ReplyHandler::setExpectation(const QString& mac, const ElementConfig& expected)
{
    m_expectedMac = mac;
    m_expected = expected;
}

void ReplyHandler::corrupted(const QString& field)
{
    // Arrived while an invalid reply was being told: counted by its field.
    if (m_current.sequence <= m_faultShownUpTo) {
        auto it = std::find_if(m_suppressed.begin(), m_suppressed.end(),
                               [&](const QPair<QString, int>& p) { return p.first == field; });
        if (it == m_suppressed.end())
            m_suppressed.append({field, 1});
        else
            ++it->second;
        return;
    }
    reportSuppressed();
    emit invalidReply(field);
    m_faultShownUpTo = m_link.lastSequence();
}

void ReplyHandler::reportSuppressed()
{
    if (m_suppressed.isEmpty())
        return;
    const auto byField = std::exchange(m_suppressed, {});
    int count = 0;
    for (const auto& p : byField)
        count += p.second;
    emit invalidRepliesDropped(count, byField);
    m_faultShownUpTo = m_link.lastSequence();
}

void ReplyHandler::handleConfigReply(const QueuedReply& reply)
{
    m_current = reply;
    // Whatever this reply does next, the store holds every element discovered before it.
    if (!reply.discovery)
        flushDiscovered();
    // A reply without a serial number cannot name an element: it is not looked at.
    if (!decodeConfigReply(reply.datagram, m_record)) {
        finishReply(false);
        return;
    }
    // From here on this handling works on its own copy: a reply decoded while this one waits
    // decodes into the kept record, not into ours.
    m_working = m_record;
    if (!checkRecord(m_working)) {
        finishReply();
        return;
    }
    m_link.timerRemoteSent()->stop();
    startIdentifying();
}

void ReplyHandler::startIdentifying()
{
    m_identifying = true;
    // A wait that is still running from an earlier lookup is not restarted: this lookup gets
    // what is left of it.
    if (!m_timerGetMAC->isActive())
        m_timerGetMAC->start();
    if (tryIdentify())
        identified(true);
    else
        m_retry->start();
}

bool ReplyHandler::tryIdentify()
{
    if (m_lookAhead)
        lookAhead();
    QString mac;
    if (!m_getRemoteMac(m_working.ip, mac))
        return false;
    m_working.mac = mac;
    return true;
}

void ReplyHandler::lookAhead()
{
    // The reply in hand and every reply queued since the last call; the queue is in arrival order.
    QStringList ips;
    if (m_current.sequence > m_lookedAheadUpTo)
        ips << m_working.ip;
    const auto& queued = m_link.queued();
    auto first = queued.end();
    while (first != queued.begin() && std::prev(first)->sequence > m_lookedAheadUpTo)
        --first;
    for (auto it = first; it != queued.end(); ++it) {
        ElementConfig r;
        if (decodeConfigReply(it->datagram, r))
            ips << r.ip;
    }
    m_lookedAheadUpTo = std::max(m_current.sequence, m_link.lastSequence());
    if (!ips.isEmpty())
        m_lookAhead(ips);
}

void ReplyHandler::onTimerGetMAC()
{
    if (++m_macTicks > kGetMacTicks) {
        m_timerGetMAC->stop();
        m_macTicks = 0;
        if (m_identifying)
            identified(false);
    }
}

void ReplyHandler::identified(bool found)
{
    m_identifying = false;
    m_retry->stop();
    const QString macField = QStringLiteral("Element MAC");
    if ((!found || m_working.mac.isEmpty()) && m_current.discovery) {
        corrupted(macField);
    } else if (!found || m_working.mac.isEmpty()) {
        ConfigureOutcome outcome;
        outcome.result = ConfigureOutcome::Result::CorruptedReply;
        outcome.mac = m_expectedMac;
        outcome.sent = m_expected;
        outcome.reported = m_working;
        outcome.corruptedField = macField;
        emit confirmation(outcome);
    } else if (m_current.discovery) {
        storeDiscovered(m_working);
    } else {
        emit confirmation(confirm(m_working));
    }
    finishReply();
}

void ReplyHandler::finishReply(bool looked)
{
    if (!m_current.discovery) {
        if (looked)
            emit storeChanged();
    } else {
        storeSoon();
    }
    if (m_link.queuedReplies() == 0)
        reportSuppressed();
    m_link.replyHandled();
}

void ReplyHandler::storeSoon()
{
    // The first element of a burst is stored at once, then the store is written at most every
    // kStoreIntervalMs while more arrive.
    const qint64 since = m_sinceStored.isValid() ? m_sinceStored.elapsed() : kStoreIntervalMs;
    if (since >= kStoreIntervalMs)
        flushDiscovered();
    else if (!m_storeTimer->isActive())
        m_storeTimer->start(int(kStoreIntervalMs - since));
}

void ReplyHandler::flushDiscovered()
{
    m_storeTimer->stop();
    if (m_unstored.isEmpty())
        return;
    m_sinceStored.start();
    const auto batch = std::exchange(m_unstored, {});
    if (!writeSectionsToIni(batch, m_store.path())) {
        emit discoveredStoreFailed();
        return;
    }
    m_discovered += int(batch.size());
    emit elementsDiscovered(m_discovered);
}

bool ReplyHandler::checkRecord(const ElementConfig& r)
{
    const struct
    {
        bool ok;
        const char* field;
    } checks[] = {
        {isValidIp(r.ip), "Element IP"},      {isValidIp(r.mask), "Element Mask"},
        {isValidIp(r.gateway), "Element GW"}, {isValidIp(r.remote), "Remote / Multicast IP"},
        {r.audioSource <= 1, "Audio Input"},  {r.audioType <= 1, "Audio Type"},
        {r.txType <= 1, "TX Type"},           {r.role <= 2, "Element Type"},
        {r.serial > 0, "Serial Number"},
    };
    for (const auto& check : checks) {
        if (!check.ok) {
            corrupted(QString::fromLatin1(check.field));
            return false;
        }
    }
    return true;
}

void ReplyHandler::storeDiscovered(const ElementConfig& r)
{
    ElementConfig stored = r;
    stored.name = formatElementName(r.name);
    // All keys of a reply in one write: an element is never half stored.
    m_unstored.append({encodeMac(r.mac), discoveredSectionValues(stored)});
}

ConfigureOutcome ReplyHandler::confirm(const ElementConfig& r)
{
    using Result = ConfigureOutcome::Result;
    ConfigureOutcome o;
    o.mac = r.mac;
    o.sent = m_expected;
    o.reported = r;
    if (m_expectedMac != r.mac) {
        o.result = Result::OtherElement;
        return o;
    }
    if (m_store.lineCount(r.mac) >= kCorruptedSectionLines) {
        o.result = Result::CorruptedRecord;
        return o;
    }

    // Everything that matched goes into the section with one replacement of the file: a failed
    // write leaves the section as it was.
    QList<QPair<QString, QString>> values;
    auto compare = [&](bool same, const QString& key, const QString& value, const char* field,
                       const QString& sent, const QString& reported) {
        if (same)
            values.append({key, value});
        else
            o.differences.append({QString::fromLatin1(field), key, sent, reported});
    };

    // The expected configuration as it is now: edits made since the send count as mismatches.
    const ElementConfig& ev = m_expected;
    compare(r.name.trimmed().toUpper() == ev.name.trimmed().toUpper(), keys::name, formatElementName(ev.name),
            "Element Name", ev.name, r.name);
    compare(ev.ip == r.ip, keys::ip, ev.ip, "Element IP", ev.ip, r.ip);
    compare(ev.mask == r.mask, keys::mask, ev.mask, "Element Mask", ev.mask, r.mask);
    compare(ev.gateway == r.gateway, keys::gw, ev.gateway, "Element GW", ev.gateway, r.gateway);
    const struct
    {
        int edited;
        int reply;
        const QString& key;
        const char* field;
    } lists[] = {
        {ev.audioSource, r.audioSource, keys::input, "Audio Input"},
        {ev.audioType, r.audioType, keys::type, "Audio Type"},
        {ev.txType, r.txType, keys::tx, "Audio TX"},
    };
    for (const auto& l : lists)
        compare(l.edited == l.reply, l.key, QString::number(l.edited), l.field, QString::number(l.edited),
                QString::number(l.reply));

    values.append({keys::role, QString::number(r.role)});
    // An element that does not say what it is was not configured as asked.
    o.unknownRole = roleOf(r.role) == Role::Unknown;

    const bool multicast = r.remoteIsMulticast();
    compare(ev.remote == r.remote, multicast ? keys::multi : keys::remote, ev.remote,
            multicast ? "Multicast IP" : "Remote IP", ev.remote, r.remote);

    // What the element reported, within what the panel can show.
    ElementConfig shown = r;
    shown.attenuation = std::max(r.attenuation, m_ranges.attenuationMinimum);
    shown.buffer = std::min(r.buffer, m_ranges.bufferMaximum);
    if (r.silenceMode >= m_ranges.silenceModes)
        shown.silenceMode = -1; // no such choice: the list keeps what it shows
    shown.silenceLevel =
        std::clamp(r.silenceLevel, m_ranges.silenceLevelMinimum, m_ranges.silenceLevelMaximum);
    shown.silenceTime = std::clamp(r.silenceTime, m_ranges.silenceTimeMinimum, m_ranges.silenceTimeMaximum);
    values += {{keys::sn, QString::number(r.serial)},
               {keys::ver, r.version()},
               {keys::att, QString::number(shown.attenuation)},
               {keys::buf, QString::number(shown.buffer)},
               {keys::sfn, QString::number(r.sfn > 1 ? 0 : r.sfn)},
               {keys::sdm, QString::number(r.silenceMode)},
               {keys::sdl, QString::number(shown.silenceLevel)},
               {keys::sdt, QString::number(shown.silenceTime)}};
    o.shown = shown;

    // Success is only claimed for what actually reached the store.
    if (!m_store.writeKeys(r.mac, values))
        o.result = Result::StoreWriteFailed;
    else if (!o.differences.isEmpty() || o.unknownRole)
        o.result = Result::Mismatch;
    else
        o.result = Result::Confirmed;
    return o;
}

} // namespace vexo
