#include "StatisticsWindow.h"

#include "Accessibility.h"
#include "MeasureWidgets.h"

#include "measure/MeasureCodec.h"
#include "platform/FatalError.h"
#include "platform/MessageBoxes.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vexo {

StatisticsWindow::StatisticsWindow(const MeasureServices& services, MessageBoxes& boxes, FatalError& fatal,
                                   QWidget* parent)
    : QDialog(parent), m_boxes(boxes), m_fatal(fatal), m_session(new StatisticsSession(services, this))
{
    setObjectName(QStringLiteral("frmStatistics"));
    a11y::install();
    setWindowTitle(QStringLiteral("Statistics"));
    setModal(true);

    frmStats = new QGroupBox(QStringLiteral("[DEVICE]"), this);
    frmStats->setObjectName(QStringLiteral("frmStats"));
    auto* grid = new QGridLayout(frmStats);
    grid->setHorizontalSpacing(12);
    grid->setColumnStretch(1, 1);

    const QString widestCount = QStringLiteral("-2147483648");
    const QString widestCell = QStringLiteral("-2147483648 (-100.00%)");
    const QString widestTime = QStringLiteral("-2147483648 nS");
    struct Row
    {
        const char* captionName;
        const char* caption;
        QLabel** value;
        const char* valueName;
        const QString& widest;
    };
    const Row rows[] = {
        {"Label1", "Good TX Frames:", &lblMACTxOK, "lblMACTxOK", widestCount},
        {"Label2", "Bad TX Frames:", &lblMACTxErr, "lblMACTxErr", widestCell},
        {"Label3", "Good RX Frames:", &lblMACRxOK, "lblMACRxOK", widestCount},
        {"Label4", "Bad RX Frames:", &lblMACRxErr, "lblMACRxErr", widestCell},
        {"Label5", "OK Audio Frames:", &lblAudioRxFramesOK, "lblAudioRxFramesOK", widestCount},
        {"Label6", "Bad Audio Frames:", &lblAudioRxFramesErr, "lblAudioRxFramesErr", widestCell},
        {"Label7", "Good PTP Sync:", &lblPTPRxOK, "lblPTPRxOK", widestCount},
        {"Label8", "Bad PTP Sync:", &lblPTPRxErr, "lblPTPRxErr", widestCount},
        {"Label9", "Clock Difference:", &lblPTPClkAdj, "lblPTPClkAdj", widestTime},
        {"Label10", "Measured delay:", &lblPTPLatency, "lblPTPLatency", widestTime},
    };
    int gridRow = 0;
    for (int i = 0; i < 10; ++i) {
        if (i == 6) {
            // The PTP rows stand apart from the frame counters.
            grid->setRowMinimumHeight(gridRow, 10);
            ++gridRow;
        }
        const Row& r = rows[i];
        QLabel* caption = makeCaptionLabel(frmStats, r.captionName, QString::fromLatin1(r.caption));
        grid->addWidget(caption, gridRow, 0);
        *r.value = makeValueLabel(frmStats, r.valueName, r.widest);
        a11y::labelValue(caption, *r.value);
        grid->addWidget(*r.value, gridRow, 1);
        ++gridRow;
    }

    cmdResetStats = new QPushButton(QStringLiteral("&Clear"), this);
    cmdResetStats->setObjectName(QStringLiteral("cmdResetStats"));
    cmdResetStats->setToolTip(QStringLiteral("Reset counters to zero"));
    cmdResetStats->setAutoDefault(false);
    cmdRefreshStats = new QPushButton(QStringLiteral("&Refresh"), this);
    cmdRefreshStats->setObjectName(QStringLiteral("cmdRefreshStats"));
    cmdRefreshStats->setToolTip(QStringLiteral("Fetch counters"));
    cmdRefreshStats->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdResetStats);
    buttons->addWidget(cmdRefreshStats);

    auto* main = new QVBoxLayout(this);
    main->addWidget(frmStats);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdResetStats, &QPushButton::clicked, this, &StatisticsWindow::resetCounters);
    connect(cmdRefreshStats, &QPushButton::clicked, m_session, &StatisticsSession::refresh);
    connect(m_session, &StatisticsSession::elementNamed, this,
            [this](const QString& name) { frmStats->setTitle(name + QLatin1Char(':')); });
    connect(m_session, &StatisticsSession::statisticsReceived, this, &StatisticsWindow::showReading);
    connect(m_session, &MeasureSession::sendFailed, this, [this](const SendProblem& problem) {
        m_boxes.critical(QString(), sendFailureText(problem.cause));
    });
}

bool StatisticsWindow::openLink()
{
    if (m_session->open())
        return true;
    m_fatal.fail(QStringLiteral("Error 2: Unable to use UDP port 2978: occupied."));
    return false;
}

void StatisticsWindow::resetCounters()
{
    // Nothing is refreshed afterwards: the labels keep their values until the next Refresh.
    if (confirmCounterReset(m_boxes))
        m_session->resetCounters();
}

void StatisticsWindow::done(int result)
{
    m_session->close();
    QDialog::done(result);
}

void StatisticsWindow::showReading(const StatisticsReading& r)
{
    // Rows the record did not reach keep what they show.
    auto count = [](QLabel* label, const std::optional<qint32>& v) {
        if (v)
            label->setText(QString::number(*v));
    };
    auto errors = [](QLabel* label, const std::optional<ErrorCount>& v) {
        if (v)
            label->setText(formatErrorCell(v->count, v->percent));
    };
    auto time = [](QLabel* label, const std::optional<qint32>& v) {
        if (v)
            label->setText(formatTimeCell(*v));
    };
    count(lblMACTxOK, r.txFramesOk);
    count(lblMACRxOK, r.rxFramesOk);
    errors(lblMACTxErr, r.txFramesErr);
    errors(lblMACRxErr, r.rxFramesErr);
    count(lblPTPRxOK, r.ptpSyncOk);
    count(lblPTPRxErr, r.ptpSyncErr);
    time(lblPTPClkAdj, r.clockDifferenceNs);
    time(lblPTPLatency, r.measuredDelayNs);
    count(lblAudioRxFramesOK, r.audioFramesOk);
    errors(lblAudioRxFramesErr, r.audioFramesErr);
    if (r.failed)
        m_boxes.critical(QString(), retrievalErrorText(StatisticsSession::kRetrievalError));
}

} // namespace vexo
