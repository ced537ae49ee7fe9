#pragma once

#include "ConfigCodec.h"
#include "ConfigLink.h"

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
class MessageBoxes;
class SelectedElement;

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
// with the configuration being edited as the confirmation of a sent configuration.
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

    ReplyHandler(ConfigLink& link, const ElementStore& store, SelectedElement& selection, MessageBoxes& boxes,
                 MacLookup getRemoteMac, ValueRanges ranges, QObject* parent = nullptr);

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
    // A confirmation was compared and what the element reported is to be shown: type, serial,
    // version and the clamped attenuation, buffer and silence-detector values.
    void confirmationApplied(const ElementConfig& shown);
    // Every field matched and reached the store.
    void configurationConfirmed();
    // A field of the answer differed from the configuration sent.
    void fieldMismatch(const QString& field);
    // Discovered elements reached the store; the count so far.
    void elementsDiscovered(int count);
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
    void confirm(const ElementConfig& r);
    void corrupted(const QString& field);
    void reportSuppressed();

    ConfigLink& m_link;
    const ElementStore& m_store;
    SelectedElement& m_selection;
    MessageBoxes& m_boxes;
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

    // A flood of invalid replies: while one fault's message is on screen, further replies with
    // the same fault that arrive meanwhile are counted, not shown one box each.
    QString m_lastFaultText;
    quint64 m_faultShownUpTo = 0;
    int m_suppressed = 0;
};

// "Feedback is corrupted." messages and the store failure message share their form.
QString storeWriteFailedText();

} // namespace vexo
