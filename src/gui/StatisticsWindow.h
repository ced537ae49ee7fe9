#pragma once

#include "measure/StatisticsSession.h"

#include <QDialog>
#include <QList>

class QGroupBox;
class QLabel;
class QPushButton;

namespace vexo {

class FatalError;
class MessageBoxes;

// Shows the traffic and PTP counters that its statistics session fetches, and hands the
// operator's Clear and Refresh to it.
class StatisticsWindow : public QDialog
{
    Q_OBJECT
public:
    StatisticsWindow(const MeasureServices& services, MessageBoxes& boxes, FatalError& fatal,
                     QWidget* parent = nullptr);

    // Opens the session: holds the measurement port, names the frame and asks for the first
    // record. False when that failed: the fatal error has then been reported and the window
    // must not be shown.
    bool openLink();

    StatisticsSession& session() const { return *m_session; }

    void done(int result) override;

private:
    void showReading(const StatisticsReading& reading);
    void resetCounters();

    MessageBoxes& m_boxes;
    FatalError& m_fatal;
    StatisticsSession* m_session;
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
};

} // namespace vexo
