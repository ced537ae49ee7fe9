#pragma once

#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "discovery/Discovery.h"
#include "link/ConfigLink.h"
#include "link/ConfigSender.h"
#include "link/ReplyHandler.h"
#include "measure/MeasureExchange.h"
#include "measure/MeasurePort.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

namespace vexo {

class Arp;
class Icmp;
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

// The station without its windows: the element store, the selected element, the configuration
// link with its reply handling, sending and discovery. The main window shows it and hands it the
// operator's actions; the command-line tool and the exporter drive it directly.
class Station : public QObject
{
    Q_OBJECT
public:
    explicit Station(StationServices services, QObject* parent = nullptr);
    ~Station() override;

    // Binds the configuration port 2976. False when another program holds it.
    bool bindConfigPort() { return m_link.bindConfigPort(); }
    void close() { m_link.close(); }

    // Sends the attenuation to the selected decoder and stores it once the message left.
    bool sendAttenuation(int position);

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
    // SetDelayRequest, then "GetDel": the figures as the element reports them afterwards.
    MeasureExchange* setDelay(const QString& mac, qint32 delayNs, bool autoServo, MeasureExchange::Done done);
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

    // The one measurement socket (local port 2978) that the windows' sessions share with the
    // operations.
    MeasurePort& measurePort() { return m_measurePort; }

    bool gpsdoVariant() const { return m_services.gpsdoVariant; }
    QHostAddress bindAddress() const { return m_services.bindAddress; }
    MessageBoxes& boxes() const { return m_services.boxes; }
    UserSettings& settings() const { return m_services.settings; }
    Arp& arp() const { return m_services.arp; }
    Icmp& icmp() const { return m_services.icmp; }

    ElementStore& store() { return m_store; }
    SelectedElement& selection() { return m_selection; }
    FatalError& fatal() { return m_fatal; }
    ConfigLink& link() { return m_link; }
    ReplyHandler& replies() { return m_replies; }
    ConfigSender& sender() { return m_sender; }
    Discovery& discovery() { return m_discovery; }

private:
    StationServices m_services;
    ElementStore m_store;
    SelectedElement m_selection;
    FatalError m_fatal;
    ConfigLink m_link;
    ReplyHandler m_replies;
    ConfigSender m_sender;
    Discovery m_discovery;
    MeasurePort m_measurePort;
    PingTest m_pings;

    MeasureExchange* exchange(const QString& mac, QList<QByteArray> requests, bool awaitRecord,
                              MeasureExchange::Reading refusedBy, MeasureExchange::Done done,
                              int answerMs = kMeasureAnswerMs);
};

// The ranges the element's values are shown within (the GPSDO variant's buffer is longer).
ValueRanges panelRanges(bool gpsdoVariant);

} // namespace vexo
