#pragma once

#include "measure/MeasureArithmetic.h"
#include "measure/MeasureLink.h"

#include <QDialog>
#include <QList>

class QGroupBox;
class QLabel;
class QPushButton;
class QUdpSocket;

namespace vexo {

// The traffic and PTP counters of the selected element, fetched over the measurement port.
class StatisticsWindow : public QDialog
{
    Q_OBJECT
public:
    explicit StatisticsWindow(MeasureContext ctx, QWidget* parent = nullptr);
    ~StatisticsWindow() override;

    // Binds the measurement port, names the frame and asks for the first record. False when
    // that failed: the fatal error has then been reported and the window must not be shown.
    bool openLink();

    const StatisticsValues& values() const { return m_values; }

    void done(int result) override;

private:
    void refresh();
    void onResetStatsClicked();
    void onRefreshStatsClicked();
    void onDatagramsArrived();
    void applyRecord(const QByteArray& datagram);
    void sendOrReport(const QByteArray& request);

    MeasureContext m_ctx;
    QGroupBox* frmStats = nullptr;
    QLabel* lblMACTxOK = nullptr;
    QLabel* lblMACTxErr = nullptr;
    QLabel* lblMACRxOK = nullptr;
    QLabel* lblMACRxErr = nullptr;
    QLabel* lblAudioRxFramesOK = nullptr;
    QLabel* lblAudioRxFramesErr = nullptr;
    QLabel* lblPTPRxOK = nullptr;
    QLabel* lblPTPRxErr = nullptr;
    QLabel* lblPTPClkAdj = nullptr;
    QLabel* lblPTPLatency = nullptr;
    QPushButton* cmdResetStats = nullptr;
    QPushButton* cmdRefreshStats = nullptr;
    QUdpSocket* udpClient2 = nullptr;
    MeasureLink m_link;

    StatisticsValues m_values;
    // Records are applied one at a time even when a message box lets new ones arrive.
};

} // namespace vexo
