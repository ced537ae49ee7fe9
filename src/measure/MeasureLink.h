#pragma once

#include "platform/FatalError.h"
#include "platform/MessageBoxes.h"
#include "platform/UserSettings.h"
#include "store/ElementStore.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QUdpSocket;

namespace vexo {

// What a measurement window needs from the station around it.
struct MeasureContext
{
    const ElementStore& store;
    MessageBoxes& boxes;
    UserSettings& settings;
    FatalError& fatal;
    std::function<QString()> selectedMac; // caption of the main window's lblElementMAC
    std::function<QString()> roleCaption; // caption of the main window's lblElementType
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
};

// The measurement socket of one window: local port 2978 while the window is open, requests to
// the selected element's port 2978. The element's address is read from the store before every
// request, so an address changed meanwhile takes effect at once.
class MeasureLink
{
public:
    MeasureLink(QUdpSocket& socket, const MeasureContext& ctx);

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

    // The element's store section name and address lookup, for the windows.
    QString selectedMac() const { return m_ctx.selectedMac ? m_ctx.selectedMac() : QString(); }
    QString read(const QString& key) const { return m_ctx.store.read(selectedMac(), key); }

private:
    QUdpSocket& m_socket;
    const MeasureContext& m_ctx;
    QList<QByteArray> m_pending;
    bool m_applying = false;
};

// "Reset counters": true when the operator answers Yes.
bool confirmCounterReset(MessageBoxes& boxes);

// The critical message for a request that could not be sent after the window opened.
QString sendFailureText(const QString& problem);

} // namespace vexo
