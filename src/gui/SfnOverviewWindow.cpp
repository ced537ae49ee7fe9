#include "SfnOverviewWindow.h"

#include "SfnChart.h"

#include "core/Station.h"
#include "measure/MeasureCodec.h"
#include "platform/MessageBoxes.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vexo {

namespace {

enum Column
{
    ColName,
    ColMac,
    ColIp,
    ColNetAvg,
    ColNetMin,
    ColNetMax,
    ColDelay,
    ColServo,
    ColSumAvg,
    ColSumMin,
    ColSumMax,
    ColState,
    ColUpdated,
    ColumnCount
};

enum PlanColumn
{
    PlanName,
    PlanMac,
    PlanCurrent,
    PlanNew,
    PlanChange,
    PlanExpected,
    PlanState,
    PlanColumnCount
};

QTableWidget* makeTable(QWidget* parent, const char* name, const QString& spokenName,
                        const QStringList& header)
{
    auto* t = new QTableWidget(0, int(header.size()), parent);
    t->setObjectName(QLatin1String(name));
    t->setAccessibleName(spokenName);
    t->setHorizontalHeaderLabels(header);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->setVisible(false);
    // Sized when the decoders are read, not by their contents every round: measuring every
    // cell's text each second costs more than the whole poll.
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    return t;
}

// A column is measured again only when one of its cells gets a text longer than any it had: values
// come and go every second, their widths rarely grow.
constexpr int kLongestRole = Qt::UserRole;
constexpr const char* kGrownProperty = "columnsGrown";

void fitGrownColumns(QTableWidget* t)
{
    if (!t->property(kGrownProperty).toBool())
        return;
    t->setProperty(kGrownProperty, false);
    t->resizeColumnsToContents();
}

void setCell(QTableWidget* t, int row, int column, const QString& text, bool stale = false)
{
    QTableWidgetItem* item = t->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        t->setItem(row, column, item);
    }
    // Only a cell whose text or colour changes is touched: each change lays the table out again.
    if (item->text() != text)
        item->setText(text);
    if (QTableWidgetItem* header = t->horizontalHeaderItem(column);
        header && text.size() > header->data(kLongestRole).toLongLong()) {
        header->setData(kLongestRole, qlonglong(text.size()));
        t->setProperty(kGrownProperty, true);
    }
    // A decoder that stopped answering keeps its last values, greyed.
    const QBrush colour = stale ? QBrush(Qt::gray) : QBrush();
    if (item->foreground() != colour)
        item->setForeground(colour);
}

QString timeOf(const std::optional<LatencyRow>& row, bool summary)
{
    if (!row)
        return QStringLiteral("-");
    if (!summary)
        return formatNanoseconds(row->networkNs);
    return row->summaryNs ? formatNanoseconds(*row->summaryNs) : QStringLiteral("-");
}

} // namespace

SfnOverviewWindow::SfnOverviewWindow(Station& station, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window), m_station(station), m_boxes(boxes),
      m_overview(new SfnOverview(station, this))
{
    setObjectName(QStringLiteral("frmSfnOverview"));
    setWindowTitle(QStringLiteral("SFN overview"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_chooseExportPath = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                            QStringLiteral("sfn-latency.csv"),
                                            QStringLiteral("CSV files (*.csv)"));
    };

    auto* top = new QHBoxLayout;
    auto* intervalCaption = new QLabel(QStringLiteral("Poll &every:"), this);
    spnInterval = new QSpinBox(this);
    spnInterval->setObjectName(QStringLiteral("spnInterval"));
    spnInterval->setRange(SfnOverview::kMinIntervalSeconds, SfnOverview::kMaxIntervalSeconds);
    spnInterval->setSuffix(QStringLiteral(" s"));
    spnInterval->setValue(m_overview->intervalSeconds());
    intervalCaption->setBuddy(spnInterval);
    cmdExportCsv = new QPushButton(QStringLiteral("Export &CSV..."), this);
    cmdExportCsv->setObjectName(QStringLiteral("cmdExportCsv"));
    top->addWidget(intervalCaption);
    top->addWidget(spnInterval);
    top->addStretch(1);
    top->addWidget(cmdExportCsv);

    tblDecoders =
        makeTable(this, "tblDecoders", QStringLiteral("SFN decoders"),
                  {"Name", "MAC", "IP", "Network (AVG)", "Network (MIN)", "Network (MAX)", "Additional delay",
                   "Servo", "Summary (AVG)", "Summary (MIN)", "Summary (MAX)", "State", "Last update"});
    chtLatency = new SfnChart(this);
    chtLatency->setObjectName(QStringLiteral("chtLatency"));
    chtLatency->setAccessibleName(QStringLiteral("Latency summary history"));
    chtLatency->setMinimumHeight(260);

    auto* alignBox = new QGroupBox(QStringLiteral("Alignment:"), this);
    alignBox->setObjectName(QStringLiteral("frmAlignment"));
    auto* alignLayout = new QVBoxLayout(alignBox);
    auto* targetRow = new QHBoxLayout;
    auto* targetCaption = new QLabel(QStringLiteral("&Target latency summary (nS):"), alignBox);
    spnTarget = new QSpinBox(alignBox);
    spnTarget->setObjectName(QStringLiteral("spnTarget"));
    spnTarget->setRange(0, std::numeric_limits<int>::max());
    spnTarget->setSingleStep(kNsPerDelayPosition);
    spnTarget->setGroupSeparatorShown(true);
    targetCaption->setBuddy(spnTarget);
    cmdApply = new QPushButton(QStringLiteral("&Apply"), alignBox);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdApply->setEnabled(false);
    lblApply = new QLabel(alignBox);
    lblApply->setObjectName(QStringLiteral("lblApply"));
    targetRow->addWidget(targetCaption);
    targetRow->addWidget(spnTarget);
    targetRow->addWidget(lblApply, 1);
    targetRow->addWidget(cmdApply);
    tblPlan =
        makeTable(alignBox, "tblPlan", QStringLiteral("Alignment plan"),
                  {"Name", "MAC", "Additional delay", "New delay", "Change", "Expected summary", "State"});
    alignLayout->addLayout(targetRow);
    alignLayout->addWidget(tblPlan);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(tblDecoders);
    splitter->addWidget(chtLatency);
    splitter->addWidget(alignBox);
    splitter->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    resize(1100, 860);

    connect(spnInterval, &QSpinBox::valueChanged, m_overview, &SfnOverview::setIntervalSeconds);
    connect(cmdExportCsv, &QPushButton::clicked, this, &SfnOverviewWindow::exportCsv);
    connect(cmdApply, &QPushButton::clicked, this, &SfnOverviewWindow::apply);
    connect(spnTarget, &QSpinBox::valueChanged, this, &SfnOverviewWindow::showPlan);
    // With many decoders the chart draws the band of the one chosen in the table.
    connect(tblDecoders, &QTableWidget::currentCellChanged, chtLatency, &SfnChart::setBandDecoder);
    connect(m_overview, &SfnOverview::decodersReloaded, this, &SfnOverviewWindow::showDecoders);
    // A round's records are gathered and shown together when it ends: one redraw a round.
    connect(m_overview, &SfnOverview::decoderChanged, this, [this](int index) {
        m_changed.insert(index);
        const SfnDecoderStatus& d = m_overview->decoders()[index];
        const std::optional<SfnSample> last = m_overview->history().last(index);
        if (last && d.state == SfnDecoderStatus::State::Answering &&
            last->timeMs == d.readingTime.toMSecsSinceEpoch())
            m_roundSamples.append({index, *last});
    });
    connect(m_overview, &SfnOverview::spreadRecorded, this, [this](qint64 timeMs, qint64 spreadNs) {
        m_roundSpread = std::pair{timeMs, spreadNs};
    });
    connect(m_overview, &SfnOverview::roundFinished, this, &SfnOverviewWindow::showRound);
}

void SfnOverviewWindow::showRound()
{
    QList<int> changed(m_changed.cbegin(), m_changed.cend());
    std::sort(changed.begin(), changed.end());
    for (int index : std::as_const(changed))
        if (index < m_overview->decoders().size())
            showDecoder(index);
    chtLatency->addRound(m_roundSamples, m_roundSpread);
    m_changed.clear();
    m_roundSamples.clear();
    m_roundSpread.reset();
    // The plan follows the answers of a whole round, not every single record.
    showPlan();
    fitGrownColumns(tblDecoders);
}

SfnOverviewWindow::~SfnOverviewWindow() = default;

void SfnOverviewWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_overview->isRunning()) {
        m_overview->reload();
        m_overview->start();
    }
}

void SfnOverviewWindow::closeEvent(QCloseEvent* event)
{
    // Polls on the way still end; the port is let go as they do.
    m_overview->stop();
    event->accept();
}

void SfnOverviewWindow::showDecoders()
{
    const QList<SfnDecoderStatus>& decoders = m_overview->decoders();
    // What a round gathered for the old rows does not fit the new ones.
    m_changed.clear();
    m_roundSamples.clear();
    tblDecoders->setRowCount(int(decoders.size()));
    for (int i = 0; i < decoders.size(); ++i)
        showDecoder(i);
    chtLatency->setDecoders(decoders, m_overview->history());
    chtLatency->setBandDecoder(tblDecoders->currentRow());
    showPlan();
    fitGrownColumns(tblDecoders);
}

void SfnOverviewWindow::showDecoder(int index)
{
    const SfnDecoderStatus& d = m_overview->decoders()[index];
    const bool stale = d.state != SfnDecoderStatus::State::Answering;
    const std::optional<LatencyReading>& r = d.reading;
    auto row = [&](std::optional<LatencyRow> LatencyReading::*which) {
        return r ? (*r).*which : std::optional<LatencyRow>();
    };
    const QString values[ColumnCount] = {
        d.name,
        d.mac,
        d.ip,
        timeOf(row(&LatencyReading::average), false),
        timeOf(row(&LatencyReading::minimum), false),
        timeOf(row(&LatencyReading::maximum), false),
        r ? formatNanoseconds(r->additionalDelayNs) : QStringLiteral("-"),
        r ? sfnServoText(*r) : QStringLiteral("-"),
        timeOf(row(&LatencyReading::average), true),
        timeOf(row(&LatencyReading::minimum), true),
        timeOf(row(&LatencyReading::maximum), true),
        sfnStateText(d),
        d.readingTime.isValid() ? d.readingTime.toLocalTime().toString(QStringLiteral("HH:mm:ss"))
                                : QStringLiteral("-"),
    };
    for (int c = 0; c < ColumnCount; ++c)
        setCell(tblDecoders, index, c, values[c], stale && c != ColName && c != ColMac && c != ColIp);
}

void SfnOverviewWindow::showPlan()
{
    if (m_alignment && !m_alignment->isFinished())
        return; // the rows show the alignment on its way
    const QList<SfnDecoderReading> readings = m_overview->planReadings();
    const std::optional<qint64> lowest = defaultSfnTargetNs(readings);
    {
        // The operator may raise the target, never set it below what the slowest decoder needs.
        const QSignalBlocker block(spnTarget);
        const int minimum = int(lowest.value_or(0));
        const bool follow = spnTarget->value() <= spnTarget->minimum();
        spnTarget->setMinimum(minimum);
        if (follow)
            spnTarget->setValue(minimum);
    }
    m_plan = planSfnAlignment(readings, spnTarget->value());
    tblPlan->setRowCount(int(m_plan.rows.size()));
    bool anyPlanned = false;
    for (int i = 0; i < m_plan.rows.size(); ++i) {
        const SfnPlanRow& p = m_plan.rows[i];
        const bool answered = p.status != SfnPlanRow::Status::NoAnswer;
        const bool planned = p.status == SfnPlanRow::Status::Planned;
        anyPlanned |= planned;
        setCell(tblPlan, i, PlanName, m_overview->decoders()[i].name);
        setCell(tblPlan, i, PlanMac, p.mac);
        setCell(tblPlan, i, PlanCurrent,
                answered ? formatNanoseconds(p.currentDelayNs) : QStringLiteral("-"));
        setCell(tblPlan, i, PlanNew, planned ? formatNanoseconds(p.plannedDelayNs) : QStringLiteral("-"));
        setCell(tblPlan, i, PlanChange,
                planned ? formatNanoseconds(qint64(p.plannedDelayNs) - p.currentDelayNs)
                        : QStringLiteral("-"));
        setCell(tblPlan, i, PlanExpected,
                planned ? formatNanoseconds(p.expectedSummaryNs) : QStringLiteral("-"));
        setCell(tblPlan, i, PlanState, sfnPlanStatusText(p.status), !planned);
    }
    cmdApply->setEnabled(lowest.has_value() && anyPlanned);
    // How the last alignment ended stays in view until the next one.
    if (m_alignment)
        for (int i = 0; i < m_alignment->rows().size(); ++i)
            showApplyRow(i);
    fitGrownColumns(tblPlan);
}

void SfnOverviewWindow::apply()
{
    QStringList changes;
    for (int i = 0; i < m_plan.rows.size(); ++i) {
        const SfnPlanRow& p = m_plan.rows[i];
        if (p.status == SfnPlanRow::Status::Planned)
            changes << QStringLiteral("%1: %2 -> %3")
                           .arg(m_overview->decoders()[i].name, formatNanoseconds(p.currentDelayNs),
                                formatNanoseconds(p.plannedDelayNs));
    }
    if (changes.isEmpty())
        return;
    const QString text =
        QStringLiteral("Set the additional delay of %1 SFN decoders to a total latency of %2?\r")
            .arg(changes.size())
            .arg(formatNanoseconds(m_plan.targetNs)) +
        changes.join(QLatin1Char('\r'));
    if (!m_boxes.askYesNo(QStringLiteral("SFN alignment"), text))
        return;
    // No poll's record may pass for the verification's: the overview waits while it runs.
    m_overview->stop();
    delete m_alignment;
    m_alignment = new SfnAlignment(m_station, m_plan, this);
    connect(m_alignment, &SfnAlignment::rowFinished, this, &SfnOverviewWindow::showApplyRow);
    connect(m_alignment, &SfnAlignment::finished, this, [this] {
        int confirmed = 0;
        for (const SfnApplyRow& r : m_alignment->rows())
            confirmed += r.result == SfnApplyRow::Result::Confirmed;
        lblApply->setText(
            QStringLiteral("%1 of %2 confirmed").arg(confirmed).arg(m_alignment->rows().size()));
        if (!m_alignment->storeWritten())
            m_boxes.critical(QStringLiteral("SFN alignment"),
                             QStringLiteral("Cannot save.\rThe delays were set but are not stored."));
        cmdApply->setEnabled(true);
        m_overview->start();
    });
    cmdApply->setEnabled(false);
    lblApply->setText(QStringLiteral("Applying..."));
    for (int i = 0; i < m_alignment->rows().size(); ++i)
        showApplyRow(i);
    m_alignment->start();
}

void SfnOverviewWindow::showApplyRow(int index)
{
    const SfnApplyRow& row = m_alignment->rows()[index];
    for (int i = 0; i < m_plan.rows.size(); ++i) {
        if (m_plan.rows[i].mac != row.mac)
            continue;
        QString text = sfnApplyResultText(row.result);
        if (row.result == SfnApplyRow::Result::Mismatch)
            text += QStringLiteral(" (reports %1)").arg(formatNanoseconds(row.reportedDelayNs));
        setCell(tblPlan, i, PlanState, text, row.result != SfnApplyRow::Result::Confirmed);
    }
    fitGrownColumns(tblPlan);
}

void SfnOverviewWindow::exportCsv()
{
    const QString path = m_chooseExportPath();
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !m_overview->history().writeCsv(file, m_overview->decoders()) ||
        !file.commit())
        m_boxes.critical(QStringLiteral("Export CSV"),
                         QStringLiteral("Cannot export the history.\r%1").arg(file.errorString()));
}

} // namespace vexo
