#include "AdjustWindow.h"

#include "Accessibility.h"
#include "MeasureWidgets.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUdpSocket>
#include <QVBoxLayout>

namespace vexo {

namespace {

const QString kOccupied = QStringLiteral("Unable to use UDP port 2978: occupied.");
const QString kRetrievalError =
    QStringLiteral("Error 4 while retrieving values. Please reset the device and try again.");
const QString kUnsaved =
    QStringLiteral("There are unsaved parameters. Don't forget to click the 'Save' button.");
const QString kAutoClearCounters = QStringLiteral("AutoClearCounters");

} // namespace

AdjustWindow::AdjustWindow(MeasureContext ctx, QWidget* parent)
    : QDialog(parent), m_ctx(std::move(ctx)), udpClient3(new QUdpSocket(this)), m_link(*udpClient3, m_ctx)
{
    setObjectName(QStringLiteral("frmAdjust"));
    a11y::install();
    setWindowTitle(QStringLiteral("SFN Adjustment"));
    setModal(true);
    udpClient3->setObjectName(QStringLiteral("udpClient3"));

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

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(250);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);

    // A check box's handler runs on every change of its state, whoever makes it; the scroll bar's
    // on every change of position, dragging included. Setting the state it already has runs
    // nothing.
    connect(cmdRefresh, &QPushButton::clicked, this, [this] { onRefreshClicked(); });
    connect(cmdResetStats, &QPushButton::clicked, this, [this] { onResetStatsClicked(); });
    connect(cmdSet, &QPushButton::clicked, this, [this] { onSetClicked(); });
    connect(chkAutoUpdate, &QCheckBox::toggled, this, [this](bool on) { onAutoUpdateClicked(on); });
    connect(chkAutoClear, &QCheckBox::toggled, this, [this](bool on) { onAutoClearClicked(on); });
    connect(chkAutoServo, &QCheckBox::toggled, this, [this](bool) { onAutoServoClicked(); });
    connect(scrlAdditionalDelay, &QScrollBar::valueChanged, this,
            [this](int position) { onAdditionalDelayChanged(position); });
    connect(Timer1, &QTimer::timeout, this, [this] { onClearTimer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { onRefreshTimer(); });
    connect(udpClient3, &QUdpSocket::readyRead, this, [this] { onDatagramsArrived(); });
}

AdjustWindow::~AdjustWindow()
{
    Timer1->stop();
    Timer2->stop();
    m_link.close();
}

bool AdjustWindow::openLink()
{
    m_pendingSave = false;
    for (QLabel* label :
         {lblCurrentDelayMIN, lblCurrentDelayMAX, lblCurrentDelayAVG, lblFixedLatencyMAC,
          lblFixedLatencyAUDIO, lblDelaySumMIN, lblDelaySumMAX, lblDelaySumAVG, lblAdditionalDelay})
        label->setText(QStringLiteral("-"));
    Timer1->stop();
    Timer2->stop();

    // Stored values outside their range: a delay is clamped to the scroll range (anything that
    // is not a whole number counts as 0); a flag is on only for "1".
    chkAutoClear->setChecked(storedFlag(m_ctx.settings.value(kAutoClearCounters, QStringLiteral("0"))));
    scrlAdditionalDelay->setValue(storedDelayPosition(m_link.read(keys::dly)));
    chkAutoServo->setChecked(storedFlag(m_link.read(keys::srv)));
    showAdditionalDelay();

    if (!m_link.bind()) {
        m_ctx.fatal.fail(kOccupied);
        return false;
    }
    if (!m_link.send(kGetDel)) {
        m_link.close();
        m_ctx.fatal.fail(kOccupied);
        return false;
    }
    return true;
}

void AdjustWindow::done(int result)
{
    Timer1->stop();
    Timer2->stop();
    if (m_pendingSave) {
        m_pendingSave = false;
        const QString mac = m_link.selectedMac();
        // Without a selected element there is no section to write to (an empty section name
        // would put the keys where no element is).
        const bool written =
            !encodeMac(mac).isEmpty() &&
            m_ctx.store.write(mac, keys::dly, QString::number(m_additionalDelayNs / kNsPerDelayPosition)) &&
            m_ctx.store.write(mac, keys::srv,
                              chkAutoServo->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        if (!written)
            m_ctx.boxes.critical(
                QString(), QStringLiteral("Cannot save this element info.\rThe delay and auto servo setting "
                                          "were not stored."));
        m_ctx.boxes.information(QString(), kUnsaved);
    }
    m_link.close();
    QDialog::done(result);
}

void AdjustWindow::switchAutoRefreshOff()
{
    chkAutoUpdate->setChecked(false);
    Timer2->stop();
}

bool AdjustWindow::sendOrReport(const QByteArray& request)
{
    QString problem;
    if (m_link.send(request, &problem))
        return true;
    // The window stays open; auto refresh stops so that the message is not repeated every second.
    switchAutoRefreshOff();
    m_ctx.boxes.critical(QString(), sendFailureText(problem));
    return false;
}

void AdjustWindow::refresh()
{
    sendOrReport(kGetDel);
}

void AdjustWindow::onRefreshClicked()
{
    refresh();
}

void AdjustWindow::onRefreshTimer()
{
    if (chkAutoUpdate->isChecked())
        refresh();
}

void AdjustWindow::onAutoUpdateClicked(bool checked)
{
    if (checked)
        Timer2->start();
    else
        Timer2->stop();
}

void AdjustWindow::onAutoClearClicked(bool checked)
{
    switchAutoRefreshOff();
    m_ctx.settings.setValue(kAutoClearCounters, checked ? QStringLiteral("1") : QStringLiteral("0"));
}

void AdjustWindow::onAutoServoClicked()
{
    switchAutoRefreshOff();
}

void AdjustWindow::onAdditionalDelayChanged(int)
{
    switchAutoRefreshOff();
    showAdditionalDelay();
}

void AdjustWindow::showAdditionalDelay()
{
    m_additionalDelayNs = scrlAdditionalDelay->value() * kNsPerDelayPosition;
    lblAdditionalDelay->setText(formatNanoseconds(m_additionalDelayNs));
}

void AdjustWindow::onSetClicked()
{
    switchAutoRefreshOff();
    if (!sendOrReport(buildSetDelayRequest(m_additionalDelayNs, chkAutoServo->isChecked())))
        return; // nothing reached the element: nothing to clear, nothing to remind of
    if (chkAutoClear->isChecked())
        Timer1->start();
    m_pendingSave = true;
}

void AdjustWindow::onClearTimer()
{
    Timer1->stop();
    sendOrReport(kRstStats);
}

void AdjustWindow::onResetStatsClicked()
{
    switchAutoRefreshOff();
    if (!confirmCounterReset(m_ctx.boxes))
        return;
    sendOrReport(kRstStats);
}

void AdjustWindow::onDatagramsArrived()
{
    m_link.applyArrivals([this](const QByteArray& datagram) { applyRecord(datagram); });
}

void AdjustWindow::applyRecord(const QByteArray& datagram)
{
    if (!adjustAcceptsLength(datagram.size()))
        return;
    lblFixedLatencyMAC->setText(formatNanoseconds(FixedLatencyMacNs));
    lblFixedLatencyAUDIO->setText(formatNanoseconds(FixedLatencyAudioNs));

    const MeasurementValues record = decodeMeasurementRecord(datagram);
    const QString role = m_ctx.roleCaption ? m_ctx.roleCaption() : QString();
    const AdjustOutcome outcome = adjustArithmetic(record, m_link.read(keys::sfn), role);
    if (outcome.reachesControls) {
        m_additionalDelay = outcome.m_additionalDelay;
        // A changed position or servo state runs its handler, which ends auto refresh.
        scrlAdditionalDelay->setValue(outcome.scrollPosition);
        showAdditionalDelay();
        m_autoServo = outcome.m_autoServo;
        chkAutoServo->setChecked(outcome.servoChecked);
        chkAutoServo->setText(outcome.servoCaption);
        if (outcome.average)
            m_delayAverage = *outcome.average;
        if (outcome.minimum)
            m_delayMinimum = *outcome.minimum;
        if (outcome.maximum)
            m_delayMaximum = *outcome.maximum;
        for (const LabelUpdate& u : outcome.latencyUpdates) {
            if (auto* label = Frame1->findChild<QLabel*>(u.label))
                label->setText(u.text);
        }
    }
    if (outcome.failed)
        m_ctx.boxes.critical(QString(), kRetrievalError);
}

} // namespace vexo
