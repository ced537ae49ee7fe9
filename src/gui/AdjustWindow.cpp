#include "AdjustWindow.h"

#include "Accessibility.h"
#include "MeasureWidgets.h"

#include "platform/FatalError.h"
#include "platform/MessageBoxes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vexo {

AdjustWindow::AdjustWindow(const MeasureServices& services, MessageBoxes& boxes, FatalError& fatal,
                           QWidget* parent)
    : QDialog(parent), m_boxes(boxes), m_fatal(fatal), m_session(new AdjustSession(services, this))
{
    setObjectName(QStringLiteral("frmAdjust"));
    a11y::install();
    setWindowTitle(QStringLiteral("SFN Adjustment"));
    setModal(true);

    // Measurements
    Frame1 = new QGroupBox(QStringLiteral("Measurements:"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(Frame1);
    grid->setHorizontalSpacing(12);
    grid->setColumnStretch(1, 1);
    const QString widestTime = formatNanoseconds(std::numeric_limits<qint32>::min());
    struct Row
    {
        const char* captionName;
        const char* caption;
        QLabel** value;
        const char* valueName;
    };
    const Row rows[] = {
        {"Label1", "Network latency (MIN):", &lblCurrentDelayMIN, "lblCurrentDelayMIN"},
        {"Label2", "Network latency (MAX):", &lblCurrentDelayMAX, "lblCurrentDelayMAX"},
        {"Label3", "Network latency (AVG):", &lblCurrentDelayAVG, "lblCurrentDelayAVG"},
        {"Label4", "MAC interface latency:", &lblFixedLatencyMAC, "lblFixedLatencyMAC"},
        {"Label5", "Audio interface latency:", &lblFixedLatencyAUDIO, "lblFixedLatencyAUDIO"},
        {"Label6", "Latency summary (MIN):", &lblDelaySumMIN, "lblDelaySumMIN"},
        {"Label7", "Latency summary (MAX):", &lblDelaySumMAX, "lblDelaySumMAX"},
        {"Label8", "Latency summary (AVG):", &lblDelaySumAVG, "lblDelaySumAVG"},
    };
    int gridRow = 0;
    for (const Row& r : rows) {
        QLabel* caption = makeCaptionLabel(Frame1, r.captionName, QString::fromLatin1(r.caption));
        grid->addWidget(caption, gridRow, 0);
        *r.value = makeValueLabel(Frame1, r.valueName, widestTime);
        a11y::labelValue(caption, *r.value);
        grid->addWidget(*r.value, gridRow, 1);
        ++gridRow;
    }
    cmdResetStats = new QPushButton(QStringLiteral("&Clear"), Frame1);
    cmdResetStats->setObjectName(QStringLiteral("cmdResetStats"));
    cmdResetStats->setToolTip(QStringLiteral("Reset counters to zero"));
    cmdResetStats->setAutoDefault(false);
    chkAutoUpdate = new QCheckBox(QStringLiteral("&Auto"), Frame1);
    chkAutoUpdate->setObjectName(QStringLiteral("chkAutoUpdate"));
    chkAutoUpdate->setToolTip(QStringLiteral("Auto refresh (every 1 sec)"));
    cmdRefresh = new QPushButton(QStringLiteral("&Refresh"), Frame1);
    cmdRefresh->setObjectName(QStringLiteral("cmdRefresh"));
    cmdRefresh->setAutoDefault(false);
    auto* measureButtons = new QHBoxLayout;
    measureButtons->addWidget(cmdResetStats);
    measureButtons->addStretch(1);
    measureButtons->addWidget(chkAutoUpdate);
    measureButtons->addWidget(cmdRefresh);
    grid->setRowMinimumHeight(gridRow++, 6);
    grid->addLayout(measureButtons, gridRow, 0, 1, 2);

    // Adjustments
    Frame2 = new QGroupBox(QStringLiteral("Adjustments:"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    auto* adjust = new QGridLayout(Frame2);
    adjust->setHorizontalSpacing(12);
    adjust->setColumnStretch(1, 1);
    QLabel* compensationCaption = makeCaptionLabel(Frame2, "Label9", QStringLiteral("Latency compensation:"));
    adjust->addWidget(compensationCaption, 0, 0);
    lblAdditionalDelay = makeValueLabel(Frame2, "lblAdditionalDelay", widestTime);
    adjust->addWidget(lblAdditionalDelay, 0, 1);
    scrlAdditionalDelay = new QScrollBar(Qt::Horizontal, Frame2);
    scrlAdditionalDelay->setObjectName(QStringLiteral("scrlAdditionalDelay"));
    scrlAdditionalDelay->setRange(kDelayPositionMin, kDelayPositionMax);
    scrlAdditionalDelay->setSingleStep(1);
    scrlAdditionalDelay->setPageStep(100);
    scrlAdditionalDelay->setMinimumHeight(18);
    // A value bar, not a view's scroll bar: it takes the focus and the right arrow key raises it.
    scrlAdditionalDelay->setFocusPolicy(Qt::WheelFocus);
    scrlAdditionalDelay->setInvertedControls(false);
    adjust->addWidget(scrlAdditionalDelay, 1, 0, 1, 2);
    chkAutoServo = new QCheckBox(QStringLiteral("Auto &delay compensation"), Frame2);
    chkAutoServo->setObjectName(QStringLiteral("chkAutoServo"));
    chkAutoServo->setToolTip(QStringLiteral("Enables auto compansation of Network latency"));
    cmdSet = new QPushButton(QStringLiteral("&Set"), Frame2);
    cmdSet->setObjectName(QStringLiteral("cmdSet"));
    cmdSet->setAutoDefault(false);
    auto* servoRow = new QHBoxLayout;
    servoRow->addWidget(chkAutoServo);
    servoRow->addStretch(1);
    servoRow->addWidget(cmdSet);
    adjust->addLayout(servoRow, 2, 0, 1, 2);
    chkAutoClear = new QCheckBox(QStringLiteral("Auto clea&r counters"), Frame2);
    chkAutoClear->setObjectName(QStringLiteral("chkAutoClear"));
    chkAutoClear->setToolTip(QStringLiteral("Clear counters after each 'Set' command"));
    adjust->addWidget(chkAutoClear, 3, 0, 1, 2);

    // The bar is read as the caption above it, the delay text beside the caption with it.
    a11y::label(compensationCaption, scrlAdditionalDelay);
    a11y::labelValue(compensationCaption, lblAdditionalDelay);
    cmdRefresh->setAccessibleDescription(QStringLiteral("Fetch the latency measurements"));
    cmdSet->setAccessibleDescription(
        QStringLiteral("Send the latency compensation and the auto servo setting"));

    auto* main = new QVBoxLayout(this);
    main->addWidget(Frame1);
    main->addWidget(Frame2);
    main->setSizeConstraint(QLayout::SetFixedSize);

    // The controls follow the session (setting a control to the state it has runs nothing), and
    // every change of a control goes to the session, which acts only on a real change.
    AdjustSession* session = m_session;
    connect(cmdRefresh, &QPushButton::clicked, session, &AdjustSession::refresh);
    connect(cmdResetStats, &QPushButton::clicked, this, &AdjustWindow::resetCounters);
    connect(cmdSet, &QPushButton::clicked, session, &AdjustSession::set);
    connect(chkAutoUpdate, &QCheckBox::toggled, session, &AdjustSession::setAutoRefresh);
    connect(chkAutoClear, &QCheckBox::toggled, session, &AdjustSession::setAutoClear);
    connect(chkAutoServo, &QCheckBox::toggled, session, &AdjustSession::setAutoServo);
    connect(scrlAdditionalDelay, &QScrollBar::valueChanged, session, &AdjustSession::setDelayPosition);

    connect(session, &AdjustSession::autoRefreshChanged, chkAutoUpdate, &QCheckBox::setChecked);
    connect(session, &AdjustSession::autoClearChanged, chkAutoClear, &QCheckBox::setChecked);
    connect(session, &AdjustSession::autoServoChanged, chkAutoServo, &QCheckBox::setChecked);
    connect(session, &AdjustSession::delayChanged, this, [this](int position, qint32 delayNs) {
        scrlAdditionalDelay->setValue(position);
        lblAdditionalDelay->setText(formatNanoseconds(delayNs));
    });
    connect(session, &AdjustSession::latencyReceived, this, &AdjustWindow::showLatencies);
    connect(session, &MeasureSession::sendFailed, this, [this](const SendProblem& problem) {
        m_boxes.critical(QString(), sendFailureText(problem.cause));
    });
}

bool AdjustWindow::openLink()
{
    if (m_session->open())
        return true;
    m_fatal.fail(QStringLiteral("Unable to use UDP port 2978: occupied."));
    return false;
}

void AdjustWindow::resetCounters()
{
    m_session->prepareReset();
    if (confirmCounterReset(m_boxes))
        m_session->resetCounters();
}

void AdjustWindow::done(int result)
{
    const AdjustSession::Closing closing = m_session->closeAndStore();
    if (closing == AdjustSession::Closing::StoreFailed)
        m_boxes.critical(QString(), QStringLiteral("Cannot save this element info.\rThe delay and auto servo "
                                                   "setting were not stored."));
    if (closing != AdjustSession::Closing::NothingPending)
        m_boxes.information(
            QString(),
            QStringLiteral("There are unsaved parameters. Don't forget to click the 'Save' button."));
    QDialog::done(result);
}

void AdjustWindow::showLatencies(const LatencyReading& r)
{
    lblFixedLatencyMAC->setText(formatNanoseconds(FixedLatencyMacNs));
    lblFixedLatencyAUDIO->setText(formatNanoseconds(FixedLatencyAudioNs));
    if (r.sfnDecoder) {
        chkAutoServo->setText(autoServoCaption(r.autoServo, r.servoCorrectionNs));
        const std::tuple<const std::optional<LatencyRow>&, QLabel*, QLabel*> rows[] = {
            {r.average, lblCurrentDelayAVG, lblDelaySumAVG},
            {r.minimum, lblCurrentDelayMIN, lblDelaySumMIN},
            {r.maximum, lblCurrentDelayMAX, lblDelaySumMAX},
        };
        for (const auto& [row, current, summary] : rows) {
            if (!row)
                break;
            current->setText(formatNanoseconds(row->networkNs));
            if (row->summaryNs)
                summary->setText(formatNanoseconds(*row->summaryNs));
        }
    }
    if (r.failed)
        m_boxes.critical(QString(), retrievalErrorText(AdjustSession::kRetrievalError));
}

} // namespace vexo
