#include "MeasureLink.h"

#include "platform/Numbers.h"

#include "MeasureCodec.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QStringList>
#include <QUdpSocket>

namespace vexo {

MeasureLink::MeasureLink(QUdpSocket& socket, const SelectedElement& selected, const QHostAddress& bindAddress)
    : m_socket(socket), m_selected(selected), m_bindAddress(bindAddress)
{
    // Elements sit on the local network: no proxy applies.
    m_socket.setProxy(QNetworkProxy::NoProxy);
}

bool MeasureLink::bind()
{
    if (m_socket.state() == QAbstractSocket::BoundState)
        return true;
    return m_socket.bind(m_bindAddress, kMeasurePort, QAbstractSocket::DontShareAddress);
}

void MeasureLink::close()
{
    m_socket.close();
}

bool MeasureLink::send(const QByteArray& request, QString* problem)
{
    auto failed = [problem](const QString& why) {
        if (problem)
            *problem = why;
        return false;
    };
    if (m_socket.state() != QAbstractSocket::BoundState)
        return failed(QStringLiteral("The measurement port 2978 is not open."));
    const QString ip = m_selected.ip().trimmed();
    if (ip.isEmpty())
        return failed(QStringLiteral("No IP address is stored for this element."));
    if (!isValidIp(ip))
        return failed(QStringLiteral("The stored IP address \"%1\" is not valid.").arg(ip));
    quint32 address = 0;
    parseIPv4(ip, address);
    const QHostAddress host(address);
    if (m_socket.writeDatagram(request, host, kMeasurePort) != request.size())
        return failed(
            QStringLiteral("Sending to %1 failed: %2").arg(host.toString(), m_socket.errorString()));
    return true;
}

QList<QByteArray> MeasureLink::drain()
{
    QList<QByteArray> datagrams;
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket.receiveDatagram();
        if (!d.isValid())
            break;
        datagrams << d.data();
    }
    return datagrams;
}

void MeasureLink::applyArrivals(const std::function<void(const QByteArray&)>& apply)
{
    m_pending << drain();
    if (m_applying)
        return; // the loop below, further out, takes them
    m_applying = true;
    while (!m_pending.isEmpty())
        apply(m_pending.takeFirst());
    m_applying = false;
}

} // namespace vexo
