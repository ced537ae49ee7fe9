#pragma once

#include "ConfigCodec.h"
#include "ConfigLink.h"
#include "LinkOutcomes.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;

namespace vexo {

class ElementStore;

// What the reply handler clamps an element's values to before it shows and stores them: the
// ranges of the properties panel's controls.
struct ValueRanges
{
    int attenuationMinimum = 14;
    int bufferMaximum = 22;
    int silenceModes = 3;
    int silenceLevelMinimum = 0;
    int silenceLevelMaximum = 255;
    int silenceTimeMinimum = 0;
    int silenceTimeMaximum = 255;
};

// Handles every configuration reply the link hands over: checks it, identifies the element by
// the MAC address of the IP it states, and stores it as a discovered element or compares it
// with the expected configuration as the confirmation of a sent configuration. It shows
// nothing: every handling ends in a signal (an invalid reply, a summary of a flood of them, the
// outcome of a confirmation), and the faces decide what the operator sees.
//
// Identifying may take a while: the neighbour table may not know the element yet. The lookup is
// then tried again from the event loop until `timerGetMAC` has ticked 41 times (about 20 s); the
// link hands over no other reply meanwhile.
class ReplyHandler : public QObject
{
    Q_OBJECT
public:
    // Looks up the MAC text (":"-separated) of an IPv4 address; one attempt, false if unknown.
    using MacLookup = std::function<bool(const QString& ip, QString& mac)>;
    // Told the addresses of replies about to be identified, so that their lookups can start
    // together rather than one after another.
    using MacLookAhead = std::function<void(const QStringList& ips)>;

    static constexpr int kGetMacIntervalMs = 500;
    static constexpr int kGetMacTicks = 40;
    // Discovered elements are stored together: the first of a burst at once, then at most this
    // often, each time all that arrived since (each write replaces the whole file, so a write
    // per element or per few would make a burst of a thousand take seconds).
    static constexpr int kStoreIntervalMs = 25;

    // How often an unidentified element is looked up again while `timerGetMAC` runs. A lookup
    // only reads the neighbour table, so the event loop is never held up by one.
    static constexpr int kRetryIntervalMs = 10;

    // `getRemoteMac` must not block: it answers from what is known now.
    ReplyHandler(ConfigLink& link, const ElementStore& store, MacLookup getRemoteMac, ValueRanges ranges,
                 QObject* parent = nullptr);

    // What a confirmation is compared with from now on: the element (MAC text) that is being
    // configured and the configuration it is expected to have taken on.
    void setExpectation(const QString& mac, const ElementConfig& expected);
    const QString& expectedMac() const { return m_expectedMac; }

    // Takes a reply from the link; tells the link when it is done with it.
    void handleConfigReply(const QueuedReply& reply);

    // The record of the last decoded reply; each reply only overwrites what it carries.
    const ElementConfig& record() const { return m_record; }
    // Replies handled as discovery replies and stored.
    int discoveredCount() const { return m_discovered; }
    void resetDiscoveredCount() { m_discovered = 0; }
    // Writes the discovered elements not yet in the store.
    void flushDiscovered();

    void setRanges(const ValueRanges& ranges) { m_ranges = ranges; }
    void setLookAhead(MacLookAhead lookAhead) { m_lookAhead = std::move(lookAhead); }
    QTimer* timerGetMAC() const { return m_timerGetMAC; }
    bool isIdentifying() const { return m_identifying; }

public slots:
    // A tick of `timerGetMAC`, callable directly so a test need not wait for real time.
    void onTimerGetMAC();

signals:
    // A reply failed a check (the field at fault: "Element Mask", "Element MAC"). Emitted while
    // no other invalid reply is being told; while a receiver of this signal waits (a message box
    // is open), further invalid replies are only counted.
    void invalidReply(const QString& field);
    // The invalid replies counted meanwhile: how many, and how many per field in first-seen order.
    void invalidRepliesDropped(int count, const QList<QPair<QString, int>>& byField);
    // A reply outside discovery was identified and dealt with: Confirmed, Mismatch,
    // StoreWriteFailed, OtherElement, CorruptedRecord, or CorruptedReply ("Element MAC").
    void confirmation(const vexo::ConfigureOutcome& outcome);
    // Discovered elements reached the store; the count so far.
    void elementsDiscovered(int count);
    // Discovered elements could not be written: they are not in the store.
    void discoveredStoreFailed();
    // A reply other than a discovery reply was dealt with: the store may have changed.
    void storeChanged();

private:
    bool checkRecord(const ElementConfig& r);
    void startIdentifying();
    bool tryIdentify();
    void lookAhead();
    void storeSoon();
    void identified(bool found);
    // `looked`: the reply was decoded, so the store may have changed.
    void finishReply(bool looked = true);
    void storeDiscovered(const ElementConfig& r);
    ConfigureOutcome confirm(const ElementConfig& r);
    void corrupted(const QString& field);
    void reportSuppressed();

    ConfigLink& m_link;
    const ElementStore& m_store;
    QString m_expectedMac = QStringLiteral("-");
    ElementConfig m_expected;
    MacLookup m_getRemoteMac;
    MacLookAhead m_lookAhead;
    quint64 m_lookedAheadUpTo = 0; // sequence of the last reply whose address was told
    ValueRanges m_ranges;
    QTimer* m_timerGetMAC;
    QTimer* m_retry;

    ElementConfig m_record;
    // The reply being handled, with its own copy of the decoded record.
    QueuedReply m_current;
    ElementConfig m_working;
    bool m_identifying = false;
    int m_macTicks = 0;

    int m_discovered = 0;
    QList<QPair<QString, QList<QPair<QString, QString>>>> m_unstored;
    QTimer* m_storeTimer;
    QElapsedTimer m_sinceStored;

    // A flood of invalid replies: while one is being told, every further invalid reply that
    // arrives meanwhile is counted by its field, not told one by one.
    quint64 m_faultShownUpTo = 0;
    QList<QPair<QString, int>> m_suppressed;
};

// "Feedback is corrupted." messages and the store failure message share their form.
QString storeWriteFailedText();

} // namespace vexo
