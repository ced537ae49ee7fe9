#pragma once

#include "Outcomes.h"
#include "diagnostics/LevelReading.h"
#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "discovery/Discovery.h"
#include "editor/StoredElement.h"
#include "journal/JournalEntry.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "measure/MeasureExchange.h"
#include "measure/MeasurePort.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>

namespace vexo {

class Arp;
class Icmp;
class Journal;
class MessageBoxes;
class ProgramEnd;
class UserSettings;

// What the station needs from the machine; the programs pass the real services, tests fakes.
struct StationServices
{
    MessageBoxes& boxes;
    UserSettings& settings;
    ProgramEnd& programEnd;
    Arp& arp;
    Icmp& icmp;
    QString storePath;
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
    bool gpsdoVariant = false;
};

// The station without its windows: the element store, the configuration link with its reply
// handling, and the operations on an element named by its MAC text. Operations complete with
// typed outcomes; nothing here asks the operator or shows anything. The main window turns the
// outcomes into message boxes, the command-line tool into exit codes, the exporter into metrics.
class Station : public QObject
{
    Q_OBJECT
public:
    explicit Station(StationServices services, QObject* parent = nullptr);
    ~Station() override;

    // Binds the configuration port 2976. False when another program holds it.
    bool bindConfigPort() { return m_link.bindConfigPort(); }
    void close() { m_link.close(); }

    // The checks of "Save changes", in their order: the first that fails. `mac` is "-" or empty
    // when no element is named.
    Refusal checkConfiguration(const QString& mac, const ElementConfig& draft) const;
    // Sends the configuration to the element (MAC text) at its stored `ip`: 40 bytes for a
    // decoder, 36 otherwise. Ends in configured(): at once when refused or not sent; else with the
    // element's answer compared (see expect()), or NoAnswer after the 3000 ms reply time-out.
    void configure(const QString& mac, const ElementConfig& draft, Role role);
    // What a confirmation is compared with from now on. configure() expects what it sent; the
    // window keeps this up to date as the operator edits, so that the answer is compared with
    // the panel as it is when the answer arrives (and a late answer after a time-out still is).
    void expect(const QString& mac, const ElementConfig& draft);
    bool isAwaitingAnswer() const { return m_awaiting; }

    // Sends the attenuation to the decoder and stores `att` once the message left.
    AttenuationOutcome setAttenuation(const QString& mac, int position);

    // Measurement operations on the element with the MAC text, over the station's one
    // measurement port. Each completes with a typed outcome through `done` (at once when the
    // port is busy or a request cannot leave); the exchange returned ends with its answer time
    // (its timer() can be fired) and is deleted after completing.
    static constexpr int kMeasureAnswerMs = 2000;
    // "GetStats": the counters (and the latency figures the same record carries). A caller that
    // bounds the wait itself (the exporter's poll) gives a longer answer time.
    MeasureExchange* readStatistics(const QString& mac, MeasureExchange::Done done,
                                    int answerMs = kMeasureAnswerMs);
    // "GetDel": the latency figures of an SFN decoder.
    MeasureExchange* readDelay(const QString& mac, MeasureExchange::Done done);
    // SetDelayRequest, then "GetDel": the figures as the element reports them afterwards. `kind`
    // is what the journal calls it: a delay set on its own, or one step of an SFN alignment.
    MeasureExchange* setDelay(const QString& mac, qint32 delayNs, bool autoServo, MeasureExchange::Done done,
                              JournalOperation kind = JournalOperation::SetDelay);
    // "RstStats": completes once it left (the element does not answer it).
    MeasureExchange* clearCounters(const QString& mac, MeasureExchange::Done done);
    // One ICMP echo to the element's stored address, awaited on a worker thread; `done` runs on
    // the station's thread with the outcome (the stored address missing or no dotted quad, no
    // ICMP facility, the echo's reply or its failure). `address`, when given, is pinged instead
    // of the stored one: the window tests the address as the operator sees it in the panel.
    void ping(const QString& mac, PingTest::Done done, const QString& address = QString());
    // One attempt to learn the MAC address of the host at the dotted IPv4 address from the
    // neighbour table (an ARP request goes out when it does not know it yet).
    MacOutcome lookupMac(const QString& ip) { return vexo::lookupMac(m_services.arp, ip); }

    // One level reading of the encoder at its stored `ip`, over the configuration socket (the
    // request leaves from 2976 for port 2977; the reply is taken from the element's address
    // only). `done` runs with the outcome: at once, returning nullptr, when the element is not
    // stored or not an encoder; at once when the request cannot leave; else with the reply or
    // NoAnswer at the end of the answer time (the reading's timer()). The reading is deleted
    // after it completed.
    static constexpr int kLevelAnswerMs = 1000;
    LevelReading* readLevel(const QString& mac, LevelReading::Done done, int answerMs = kLevelAnswerMs);

    // The one measurement socket (local port 2978) that the windows' sessions share with the
    // operations.
    MeasurePort& measurePort() { return m_measurePort; }

    QHostAddress bindAddress() const { return m_services.bindAddress; }

    // The journal every change made through the operations is recorded in (configure,
    // attenuation, set-delay and SFN alignment, counters cleared, discovery with the store it
    // replaced). Not owned; null: nothing is recorded. A journal that cannot be written never
    // stops or changes an operation: journalWarning() says why, once per journal.
    void setJournal(Journal* journal) { m_journal = journal; }
    Journal* journal() const { return m_journal; }
    // The changes the measurement windows send over their own sessions, journaled as the
    // operations' are: a delay set (not read back: "sent") and a counters' reset.
    void journalDelaySent(const QString& mac, int position, bool autoServo, const SendProblem& problem);
    void journalCountersReset(const QString& mac, const SendProblem& problem);

    // The store the operations read and write; the windows read it to show the elements.
    const ElementStore& store() const { return m_store; }
    // The program's end on a fatal error, which the measurement windows share.
    FatalError& fatal() { return m_fatal; }
    // Discovery: its start, progress, problems and result.
    Discovery& discovery() { return m_discovery; }
    // The configuration socket, to look at (its state, where the last send went, its timers).
    const ConfigLink& link() const { return m_link; }

signals:
    void configured(const vexo::ConfigureOutcome& outcome);
    // Reply handling beside a configuration send: an invalid reply (its field), the summary of
    // those counted while one was being told, and a store the handling changed.
    void invalidReply(const QString& field);
    void invalidRepliesDropped(int count, const QList<QPair<QString, int>>& byField);
    void storeChanged();
    // The journal could not be written (the reason); given once per journal.
    void journalWarning(const QString& reason);

private:
    void finishConfigure(ConfigureOutcome outcome);

    StationServices m_services;
    ElementStore m_store;
    FatalError m_fatal;
    ConfigLink m_link;
    ReplyHandler m_replies;
    Discovery m_discovery;
    MeasurePort m_measurePort;
    PingTest m_pings;
    LevelReadings m_levels;
    // What the store said of the element last read for its level, and under which revision:
    // the window reads twenty times a second from a store that seldom changes.
    struct LevelTarget
    {
        QString mac;
        quint64 revision = 0;
        LevelOutcome::Result refused = LevelOutcome::Result::Reading; // Reading: a level can be read
        QString ip;
    };
    LevelTarget m_levelTarget;

    MeasureExchange* exchange(const QString& mac, QList<QByteArray> requests, bool awaitRecord,
                              MeasureExchange::Reading refusedBy, MeasureExchange::Done done,
                              int answerMs = kMeasureAnswerMs);

    // The journal, and the entries the operations leave in it.
    Journal* m_journal = nullptr;
    StoredElement m_configuredBefore; // the element as stored before its last configure()
    bool m_discoveryEmptied = false;  // the running discovery emptied the store
    qint64 m_discoveryCopy = 0;       // the copy of the store it replaced
    void takeJournalWarning();
    void journalConfigure(const ConfigureOutcome& outcome);
    void journalDiscoveryStart();
    void journalDiscoveryEnd(int answered);
    MeasureExchange::Done
    journalMeasure(const QString& mac, MeasureExchange::Done done,
                   std::function<void(Journal&, const StoredElement&, const MeasureOutcome&)> record);

    // The configuration send awaiting its answer.
    bool m_awaiting = false;
    QString m_awaitedMac;
    ElementConfig m_sent;
    QString m_invalidField; // the last invalid reply that came meanwhile
};

// The ranges the element's values are shown within (the GPSDO variant's buffer is longer).
ValueRanges panelRanges(bool gpsdoVariant);

} // namespace vexo
