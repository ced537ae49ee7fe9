#include "StatisticsWindow.h"

#include "Accessibility.h"
#include "MeasureWidgets.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUdpSocket>
#include <QVBoxLayout>

namespace vexo {

namespace {

const QString kOccupied = QStringLiteral("Error 2: Unable to use UDP port 2978: occupied.");
const QString kRetrievalError =
    QStringLiteral("Error 5 while retrieving values. Please reset the device and try again.");

} // namespace

StatisticsWindow::StatisticsWindow(MeasureContext ctx, QWidget* parent)
    : QDialog(parent), m_ctx(std::move(ctx)), udpClient2(new QUdpSocket(this)), m_link(*udpClient2, m_ctx)
{
    setObjectName(QStringLiteral("frmStatistics"));
    a11y::install();
    setWindowTitle(QStringLiteral("Statistics"));
    setModal(true);
    udpClient2->setObjectName(QStringLiteral("udpClient2"));

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

    connect(cmdResetStats, &QPushButton::clicked, this, [this] { onResetStatsClicked(); });
    connect(cmdRefreshStats, &QPushButton::clicked, this, [this] { onRefreshStatsClicked(); });
    connect(udpClient2, &QUdpSocket::readyRead, this, [this] { onDatagramsArrived(); });
}

StatisticsWindow::~StatisticsWindow()
{
    m_link.close();
}

bool StatisticsWindow::openLink()
{
    if (!m_link.bind()) {
        m_ctx.fatal.fail(kOccupied);
        return false;
    }
    frmStats->setTitle(m_link.read(keys::name) + QLatin1Char(':'));
    QString problem;
    if (!m_link.send(kGetStats, &problem)) {
        m_link.close();
        m_ctx.fatal.fail(kOccupied);
        return false;
    }
    return true;
}

void StatisticsWindow::done(int result)
{
    m_link.close();
    QDialog::done(result);
}

void StatisticsWindow::sendOrReport(const QByteArray& request)
{
    // Once the window is open, a request that cannot leave is the operator's to fix (address,
    // network); the window stays usable.
    QString problem;
    if (!m_link.send(request, &problem))
        m_ctx.boxes.critical(QString(), sendFailureText(problem));
}

void StatisticsWindow::refresh()
{
    sendOrReport(kGetStats);
}

void StatisticsWindow::onRefreshStatsClicked()
{
    refresh();
}

void StatisticsWindow::onResetStatsClicked()
{
    if (!confirmCounterReset(m_ctx.boxes))
        return;
    sendOrReport(kRstStats);
}

void StatisticsWindow::onDatagramsArrived()
{
    m_link.applyArrivals([this](const QByteArray& datagram) { applyRecord(datagram); });
}

void StatisticsWindow::applyRecord(const QByteArray& datagram)
{
    if (!statisticsAcceptsLength(datagram.size()))
        return;
    const MeasurementValues record = decodeMeasurementRecord(datagram);
    const QString sfn = m_link.read(keys::sfn);
    const QString role = m_ctx.roleCaption ? m_ctx.roleCaption() : QString();
    const StatisticsOutcome outcome = statisticsArithmetic(record, sfn, role, m_values);
    for (const LabelUpdate& u : outcome.updates) {
        if (auto* label = frmStats->findChild<QLabel*>(u.label))
            label->setText(u.text);
    }
    if (outcome.failed)
        m_ctx.boxes.critical(QString(), kRetrievalError);
}

} // namespace vexo
