#pragma once

#include "core/SfnOverview.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace vexo {

class MessageBoxes;
class SfnChart;
class Station;

// "SFN overview" (not modal): every SFN decoder of the store side by side, polled at an
// interval, its latency summary over time on a chart, and the alignment of the whole network.
// It shows what its SfnOverview and SfnAlignment report and hands them the operator's actions.
class SfnOverviewWindow : public QWidget
{
    Q_OBJECT
public:
    SfnOverviewWindow(Station& station, MessageBoxes& boxes, QWidget* parent = nullptr);
    ~SfnOverviewWindow() override;

    SfnOverview& overview() const { return *m_overview; }
    // The alignment on its way or last applied; none before the first Apply.
    SfnAlignment* alignment() const { return m_alignment; }
    // Where "Export CSV..." writes (the window asks with a file dialog; tests set it).
    void setExportPathChooser(std::function<QString()> chooser) { m_chooseExportPath = std::move(chooser); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showDecoders();
    void showDecoder(int index);
    void showRound();
    void showPlan();
    void apply();
    void showApplyRow(int index);
    void exportCsv();

    Station& m_station;
    MessageBoxes& m_boxes;
    SfnOverview* m_overview;
    SfnAlignment* m_alignment = nullptr;
    SfnPlan m_plan;
    // What the round under way brought: the rows it changed, its samples and its spread.
    QSet<int> m_changed;
    QList<std::pair<int, SfnSample>> m_roundSamples;
    std::optional<std::pair<qint64, qint64>> m_roundSpread;
    std::function<QString()> m_chooseExportPath;
    QSpinBox* spnInterval = nullptr;
    QPushButton* cmdExportCsv = nullptr;
    QTableWidget* tblDecoders = nullptr;
    SfnChart* chtLatency = nullptr;
    QSpinBox* spnTarget = nullptr;
    QTableWidget* tblPlan = nullptr;
    QPushButton* cmdApply = nullptr;
    QLabel* lblApply = nullptr;
};

} // namespace vexo
