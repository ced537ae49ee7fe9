#pragma once

#include "MeasureLink.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class QUdpSocket;

namespace vexo {

class ElementStore;
class FatalError;
class MessageBoxes;
class SelectedElement;
class UserSettings;

// What a measurement session needs from the station around it.
struct MeasureServices
{
    const ElementStore& store;
    const SelectedElement& selected;
    MessageBoxes& boxes;
    UserSettings& settings;
    FatalError& fatal;
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
};

// One measurement exchange with the selected element: owns the socket on local port 2978 from
// open() to close(), sends the requests and takes the element's records one at a time, in
// arrival order. The statistics and SFN adjustment sessions build on it; a window shows what
// they report, a command-line tool can drive them alone.
class MeasureSession : public QObject
{
    Q_OBJECT
public:
    ~MeasureSession() override;

    // Binds the port and sends the first request. False when that failed: the fatal error has
    // then been reported (the program ends) and the port is released.
    virtual bool open() = 0;
    virtual void close();
    // Asks the element for a record.
    virtual void refresh() = 0;
    // Asks the operator, then asks the element to set its counters to zero.
    virtual void resetCounters() = 0;

    bool isOpen() const;
    const MeasureServices& services() const { return m_services; }

signals:
    // A request could not leave after the session opened; the operator has been told.
    void sendFailed(const QString& problem);
    // A record could not be applied (the window's numbered retrieval error has been shown).
    void recordFailed(int errorNumber);

protected:
    MeasureSession(const MeasureServices& services, const QString& socketName, QObject* parent);

    // Binds and sends the first request; on failure closes and reports `occupiedText` as fatal.
    bool openWith(const QByteArray& firstRequest, const QString& occupiedText);
    // Sends a request after opening; a failure is shown to the operator, the session stays open.
    bool sendOrReport(const QByteArray& request);
    void reportRecordFailure(int errorNumber);
    // Called before the send failure is shown.
    virtual void beforeSendFailureShown() {}
    virtual void applyRecord(const QByteArray& datagram) = 0;

    MeasureServices m_services;
    QUdpSocket* m_socket;
    MeasureLink m_link;
};

// "Reset counters": true when the operator answers Yes.
bool confirmCounterReset(MessageBoxes& boxes);

// The critical message for a request that could not be sent after the window opened.
QString sendFailureText(const QString& problem);

// "Error 5 while retrieving values. Please reset the device and try again."
QString retrievalErrorText(int errorNumber);

} // namespace vexo
