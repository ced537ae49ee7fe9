#pragma once

#include "measure/AdjustSession.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;

namespace vexo {

class FatalError;
class MessageBoxes;

// "SFN Adjustment": the latency an SFN decoder measures, and the additional playout delay and
// auto servo that compensate it. Shows what its session reports and hands every button, check
// box and scroll to it.
class AdjustWindow : public QDialog
{
    Q_OBJECT
public:
    AdjustWindow(const MeasureServices& services, MessageBoxes& boxes, FatalError& fatal,
                 QWidget* parent = nullptr);

    // Opens the session: takes the stored settings, holds the measurement port and asks for the
    // first record. False when that failed: the fatal error has then been reported.
    bool openLink();

    AdjustSession& session() const { return *m_session; }

    void done(int result) override;

private:
    void showLatencies(const LatencyReading& reading);
    void resetCounters();

    MessageBoxes& m_boxes;
    FatalError& m_fatal;
    AdjustSession* m_session;
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
};

} // namespace vexo
