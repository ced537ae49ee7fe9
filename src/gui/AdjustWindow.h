#pragma once

#include "measure/MeasureArithmetic.h"
#include "measure/MeasureLink.h"

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
class AdjustWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AdjustWindow(MeasureContext ctx, QWidget* parent = nullptr);
    ~AdjustWindow() override;

    // Takes the stored settings, binds the measurement port and asks for the first record.
    // False when that failed: the fatal error has then been reported.
    bool openLink();

    bool pendingSave() const { return m_pendingSave; }
    qint32 additionalDelayNs() const { return m_additionalDelayNs; }

    void done(int result) override;

private:
    void switchAutoRefreshOff();
    void refresh();
    void onRefreshClicked();
    void onResetStatsClicked();
    void onSetClicked();
    void onAutoUpdateClicked(bool checked);
    void onAutoClearClicked(bool checked);
    void onAutoServoClicked();
    void onAdditionalDelayChanged(int position);
    void onClearTimer();
    void onRefreshTimer();
    void onDatagramsArrived();
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

    qint32 m_delayAverage = 0;
    qint32 m_delayMinimum = 0;
    qint32 m_delayMaximum = 0;
    double m_additionalDelay = 0;
    quint8 m_autoServo = 0;
    qint32 m_additionalDelayNs = 0;
    bool m_pendingSave = false;
};

} // namespace vexo
