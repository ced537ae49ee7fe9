#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

namespace vexo::sim {

// IPv4 addresses in host byte order.
quint32 ipv4FromText(const QString& dotted); // 0 for anything that is no dotted address
QString ipv4Text(quint32 address);

struct Datagram
{
    QByteArray data;
    quint32 source = 0;
    quint16 sourcePort = 0;
    quint32 destination = 0; // as addressed in the IP header (broadcast stays broadcast)
    int interfaceIndex = 0;  // where it came in
};

// A UDP socket that tells where each datagram came in and to which address it was sent
// (IP_PKTINFO), and sends from a chosen address and interface. One socket on 0.0.0.0 can so
// serve a whole fleet of elements whose addresses sit on separate interfaces, each answer
// leaving through its element's interface (and so with its element's MAC address).
class UdpEndpoint : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const Datagram&)>;

    explicit UdpEndpoint(QObject* parent = nullptr);
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    ~UdpEndpoint() override;

    // receiveBuffer > 0 asks for that many bytes (beyond the system limit when permitted).
    // shared: SO_REUSEADDR, so that sockets on 0.0.0.0 and on an element's own address (in this
    // process or another one) can hold the same port; a broadcast reaches every one on 0.0.0.0.
    bool open(quint32 bindAddress, quint16 port, int receiveBuffer, QString* error, bool shared = false);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // source 0: the system chooses; interfaceIndex 0: routed as usual.
    bool sendTo(const QByteArray& data, quint32 destination, quint16 port, quint32 source, int interfaceIndex,
                QString* error = nullptr);

private:
    void readPending();

    Handler m_handler;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_buffer;
};

} // namespace vexo::sim
