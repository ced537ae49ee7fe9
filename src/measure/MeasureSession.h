#pragma once

#include "MeasurePort.h"
#include "platform/SendProblem.h"
#include "store/ElementStore.h"

#include <QObject>
#include <QString>

namespace vexo {

class UserSettings;

// What a measurement session works on: one element (its MAC and role), the store for its
// address and settings, and the station's measurement port.
struct MeasureServices
{
    const ElementStore& store;
    QString mac;
    Role role = Role::Unknown;
    MeasurePort& port;
    UserSettings& settings;
};

// The controller of a measurement window: holds the station's measurement port from open() to
// close(), sends the requests to its element and takes every record from the element's address
// in arrival order. It asks the operator nothing and shows nothing: it reports typed readings
// and failures, and the window turns them into labels and message boxes.
class MeasureSession : public QObject
{
    Q_OBJECT
public:
    ~MeasureSession() override;

    // Holds the port and sends the first request. False when the port is held by another
    // program or the first request could not leave: the port is then released again.
    virtual bool open() = 0;
    virtual void close();
    // Asks the element for a record.
    virtual void refresh() = 0;
    // Asks the element to set its counters to zero (the window has asked the operator).
    virtual void resetCounters() = 0;

    bool isOpen() const { return m_holding; }
    const MeasureServices& services() const { return m_services; }

signals:
    // A request could not leave after the session opened; the session stays open.
    void sendFailed(const vexo::SendProblem& problem);
    // The counters' reset was sent (or could not leave: the problem), after sendFailed().
    void countersResetSent(const vexo::SendProblem& problem);

protected:
    explicit MeasureSession(const MeasureServices& services, QObject* parent);

    // Holds the port and sends the first request.
    bool openWith(const QByteArray& firstRequest);
    // Sends a request after opening; a failure is reported through sendFailed().
    bool sendOrReport(const QByteArray& request) { return !sendAndReport(request); }
    // The same, giving the problem (none when it left).
    SendProblem sendAndReport(const QByteArray& request);
    // "RstStats", reported as any request and told through countersResetSent().
    void sendReset();
    QString stored(const QString& key) const { return m_services.store.read(m_services.mac, key); }
    // Called before a send failure is reported.
    virtual void beforeSendFailureReported() {}
    virtual void applyRecord(const QByteArray& datagram) = 0;

    MeasureServices m_services;

private:
    // The element's stored address is read before every request, so that a changed address
    // takes effect at once; the records are taken from the address the requests go to.
    SendProblem send(const QByteArray& request);
    void listenTo(quint32 address);

    bool m_holding = false;
    int m_receiver = 0;
    quint32 m_address = 0;
};

// The critical message for a request that could not be sent after the window opened.
QString sendFailureText(const QString& problem);

// "Error 5 while retrieving values. Please reset the device and try again."
QString retrievalErrorText(int errorNumber);

} // namespace vexo

Q_DECLARE_METATYPE(vexo::SendProblem)
