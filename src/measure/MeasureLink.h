#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QUdpSocket;

namespace vexo {

class SelectedElement;

// The measurement socket of one window: local port 2978 while the window is open, requests to
// the selected element's port 2978. The element's address is read from the store before every
// request, so an address changed meanwhile takes effect at once.
class MeasureLink
{
public:
    MeasureLink(QUdpSocket& socket, const SelectedElement& selected,
                const QHostAddress& bindAddress = QHostAddress::AnyIPv4);

    // Binds exclusively: another socket on 2978 must make this fail, not share the port.
    bool bind();
    void close();

    // Sends one request; on failure `problem` names the cause for the operator.
    bool send(const QByteArray& request, QString* problem = nullptr);

    // Every datagram waiting on the socket, in arrival order.
    QList<QByteArray> drain();
    // Reads what arrived and applies each datagram in arrival order, one completely before the
    // next, also when applying one opens a message box during which more arrive.
    void applyArrivals(const std::function<void(const QByteArray&)>& apply);

private:
    QUdpSocket& m_socket;
    const SelectedElement& m_selected;
    QHostAddress m_bindAddress;
    QList<QByteArray> m_pending;
    bool m_applying = false;
};

} // namespace vexo
