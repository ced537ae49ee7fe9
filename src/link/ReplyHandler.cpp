#include "ReplyHandler.h"

#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

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

ReplyHandler::ReplyHandler(ConfigLink& link, const ElementStore& store, SelectedElement& selection,
                           MessageBoxes& boxes, MacLookup getRemoteMac, ValueRanges ranges, QObject* parent)
    : QObject(parent), m_link(link), m_store(store), m_selection(selection), m_boxes(boxes),
      m_getRemoteMac(std::move(getRemoteMac)), m_ranges(ranges), m_timerGetMAC(new QTimer(this)),
      m_retry(new QTimer(this)), m_storeTimer(new QTimer(this))
{
    m_timerGetMAC->setObjectName(QStringLiteral("timerGetMAC"));
    m_timerGetMAC->setInterval(kGetMacIntervalMs);
    m_timerGetMAC->setTimerType(Qt::PreciseTimer);
    connect(m_timerGetMAC, &QTimer::timeout, this, &ReplyHandler::onTimerGetMAC);
    // The next attempt as soon as the event loop has dealt with what is waiting: an attempt
    // itself waits briefly for the neighbour table to change.
    m_retry->setSingleShot(true);
    m_retry->setInterval(0);
    m_storeTimer->setSingleShot(true);
    connect(m_storeTimer, &QTimer::timeout, this, &ReplyHandler::flushDiscovered);
    connect(m_retry, &QTimer::timeout, this, [this] {
        if (m_identifying && tryIdentify())
            identified(true);
        else if (m_identifying)
            m_retry->start();
    });
}

void ReplyHandler::corrupted(const QString& field)
{
    const QString text =
        QStringLiteral("An error occured while retrieving '%1':\rFeedback is corrupted.").arg(field);
    // Arrived while the same message was on screen: counted, not one more box.
    if (text == m_lastFaultText && m_current.sequence <= m_faultShownUpTo) {
        ++m_suppressed;
        return;
    }
    reportSuppressed();
    m_lastFaultText = text;
    m_boxes.critical(kAppTitle, text);
    m_faultShownUpTo = m_link.lastSequence();
}

void ReplyHandler::reportSuppressed()
{
    if (m_suppressed == 0)
        return;
    const QString text =
        m_lastFaultText +
        QStringLiteral("\r%1 more replies with the same fault were dropped.").arg(m_suppressed);
    m_suppressed = 0;
    m_boxes.critical(kAppTitle, text);
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
    if (!found || m_working.mac.isEmpty())
        corrupted(QStringLiteral("Element MAC"));
    else if (m_current.discovery)
        storeDiscovered(m_working);
    else
        confirm(m_working);
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
        m_boxes.critical(kAppTitle, storeWriteFailedText());
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

void ReplyHandler::confirm(const ElementConfig& r)
{
    if (m_selection.mac() != r.mac) {
        m_boxes.critical(
            kAppTitle,
            QStringLiteral("The response received does not match the selected element.\rCannot save this "
                           "element info."));
        return;
    }
    if (m_store.lineCount(r.mac) >= kCorruptedSectionLines) {
        m_boxes.critical(kAppTitle, QStringLiteral("The data stored in your computer about this element, is "
                                                   "corrupted.\rCannot save this element info."));
        return;
    }

    bool mismatch = false;
    bool writeFailed = false;
    auto write = [&](const QString& key, const QString& value) {
        if (!m_store.write(r.mac, key, value))
            writeFailed = true;
    };
    auto savingFailed = [&](const QString& field) {
        mismatch = true;
        emit fieldMismatch(field);
        m_boxes.critical(
            kAppTitle,
            QStringLiteral("An error occured while saving '%1':\rFeedback is corrupted.").arg(field));
    };

    // The edited configuration as it is now: edits made since the send count as mismatches.
    const ElementConfig ev = m_selection.draft();
    if (r.name.trimmed().toUpper() == ev.name.trimmed().toUpper())
        write(keys::name, formatElementName(ev.name));
    else
        savingFailed(QStringLiteral("Element Name"));
    const struct
    {
        QString edited;
        QString reply;
        const QString& key;
        const char* field;
    } texts[] = {
        {ev.ip, r.ip, keys::ip, "Element IP"},
        {ev.mask, r.mask, keys::mask, "Element Mask"},
        {ev.gateway, r.gateway, keys::gw, "Element GW"},
    };
    for (const auto& t : texts) {
        if (t.edited == t.reply)
            write(t.key, t.edited);
        else
            savingFailed(QString::fromLatin1(t.field));
    }
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
    for (const auto& l : lists) {
        if (l.edited == l.reply)
            write(l.key, QString::number(l.edited));
        else
            savingFailed(QString::fromLatin1(l.field));
    }

    write(keys::role, QString::number(r.role));
    m_selection.setRoleCaption(roleCaption(r.role));
    if (r.role != 1 && r.role != 2)
        mismatch = true; // an element that does not say what it is was not configured as asked

    if (ev.remote == r.remote)
        write(r.remoteIsMulticast() ? keys::multi : keys::remote, ev.remote);
    else
        savingFailed(r.remoteIsMulticast() ? QStringLiteral("Multicast IP") : QStringLiteral("Remote IP"));

    // What the element reported, within what the panel can show.
    ElementConfig shown = r;
    write(keys::sn, QString::number(r.serial));
    write(keys::ver, r.version());
    shown.attenuation = std::max(r.attenuation, m_ranges.attenuationMinimum);
    write(keys::att, QString::number(shown.attenuation));
    shown.buffer = std::min(r.buffer, m_ranges.bufferMaximum);
    write(keys::buf, QString::number(shown.buffer));
    write(keys::sfn, QString::number(r.sfn > 1 ? 0 : r.sfn));
    if (r.silenceMode >= m_ranges.silenceModes)
        shown.silenceMode = -1; // no such choice: the list keeps what it shows
    write(keys::sdm, QString::number(r.silenceMode));
    shown.silenceLevel =
        std::clamp(r.silenceLevel, m_ranges.silenceLevelMinimum, m_ranges.silenceLevelMaximum);
    shown.silenceTime = std::clamp(r.silenceTime, m_ranges.silenceTimeMinimum, m_ranges.silenceTimeMaximum);
    write(keys::sdl, QString::number(shown.silenceLevel));
    write(keys::sdt, QString::number(shown.silenceTime));
    emit confirmationApplied(shown);

    // Success is only claimed for what actually reached the store.
    if (writeFailed) {
        m_boxes.critical(kAppTitle, storeWriteFailedText());
    } else if (!mismatch) {
        emit configurationConfirmed();
        m_boxes.information(QStringLiteral("Configuration changed"),
                            QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
    }
}

} // namespace vexo
