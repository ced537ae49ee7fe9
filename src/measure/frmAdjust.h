#pragma once

#include "MeasureArithmetic.h"
#include "MeasureLink.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTimer;
class QUdpSocket;

namespace vexo {

// "SFN Adjustment": the latency an SFN decoder measures, and the additional playout delay and
// auto servo that compensate it.
class frmAdjust : public QDialog
{
    Q_OBJECT
public:
    explicit frmAdjust(MeasureContext ctx, QWidget* parent = nullptr);
    ~frmAdjust() override;

    // Takes the stored settings, binds the measurement port and asks for the first record.
    // False when that failed: the fatal error has then been reported.
    bool openLink();

    bool pendingSave() const { return PendingSave; }
    qint32 additionalDelayNs() const { return AdditionalDelayNs; }

    void done(int result) override;

private:
    void AutoRefreshOff();
    void Refresh();
    void cmdRefresh_Click();
    void cmdResetStats_Click();
    void cmdSet_Click();
    void chkAutoUpdate_Click(bool checked);
    void chkAutoClear_Click(bool checked);
    void chkAutoServo_Click();
    void scrlAdditionalDelay_Change(int position);
    void Timer1_Timer();
    void Timer2_Timer();
    void udpClient3_DataArrival();
    void applyRecord(const QByteArray& datagram);
    void showAdditionalDelay();
    bool sendOrReport(const QByteArray& request);

    MeasureContext m_ctx;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* lblCurrentDelayMIN = nullptr;
    QLabel* lblCurrentDelayMAX = nullptr;
    QLabel* lblCurrentDelayAVG = nullptr;
    QLabel* lblFixedLatencyMAC = nullptr;
    QLabel* lblFixedLatencyAUDIO = nullptr;
    QLabel* lblDelaySumMIN = nullptr;
    QLabel* lblDelaySumMAX = nullptr;
    QLabel* lblDelaySumAVG = nullptr;
    QLabel* lblAdditionalDelay = nullptr;
    QPushButton* cmdResetStats = nullptr;
    QCheckBox* chkAutoUpdate = nullptr;
    QPushButton* cmdRefresh = nullptr;
    QScrollBar* scrlAdditionalDelay = nullptr;
    QCheckBox* chkAutoServo = nullptr;
    QPushButton* cmdSet = nullptr;
    QCheckBox* chkAutoClear = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QUdpSocket* udpClient3 = nullptr;
    MeasureLink m_link;

    qint32 UDP_Response_PTP_Propagation_Delay_Average = 0;
    qint32 UDP_Response_PTP_Propagation_Delay_Minimum = 0;
    qint32 UDP_Response_PTP_Propagation_Delay_Maximum = 0;
    double UDP_Response_PTP_Additional_Delay = 0;
    quint8 UDP_Response_PTP_Auto_Servo = 0;
    qint32 AdditionalDelayNs = 0;
    bool PendingSave = false;
};

} // namespace vexo
