#pragma once

#include "discovery/Discovery.h"
#include "link/ConfigLink.h"
#include "link/ConfigSender.h"
#include "link/ReplyHandler.h"
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
};

// The ranges the element's values are shown within (the GPSDO variant's buffer is longer).
ValueRanges panelRanges(bool gpsdoVariant);

} // namespace vexo
