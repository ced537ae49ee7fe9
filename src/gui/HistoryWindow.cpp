#include "HistoryWindow.h"

#include "journal/Journal.h"
#include "journal/Recorders.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vexo {

QString historyOutcomeText(const JournalEntry& e)
{
    QString text = e.outcome;
    text.replace(QLatin1Char('-'), QLatin1Char(' '));
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return e.detail.isEmpty() ? text : text + QStringLiteral(": ") + e.detail;
}

HistoryWindow::HistoryWindow(Journal& journal, const QString& mac, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window), m_journal(journal), m_mac(mac)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("History: %1").arg(title));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(760, 360);

    historyProblem = new QLabel(this);
    historyProblem->setObjectName(QStringLiteral("historyProblem"));
    historyProblem->setWordWrap(true);

    tblHistory = new QTableWidget(0, 5, this);
    tblHistory->setObjectName(QStringLiteral("tblHistory"));
    tblHistory->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Operation"),
                                           QStringLiteral("Changes (old -> new)"), QStringLiteral("Outcome"),
                                           QStringLiteral("User")});
    tblHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblHistory->setSelectionMode(QAbstractItemView::SingleSelection);
    tblHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblHistory->verticalHeader()->setVisible(false);
    tblHistory->setWordWrap(false);
    tblHistory->horizontalHeader()->setStretchLastSection(false);
    tblHistory->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    tblHistory->setAccessibleName(QStringLiteral("Journal entries of %1").arg(title));

    cmdLoadIntoEditor = new QPushButton(QStringLiteral("Load into editor"), this);
    cmdLoadIntoEditor->setObjectName(QStringLiteral("cmdLoadIntoEditor"));
    cmdLoadIntoEditor->setToolTip(QStringLiteral(
        "Put the configuration this entry sent into the element properties as unsaved changes"));
    cmdRefresh = new QPushButton(QStringLiteral("Refresh"), this);
    cmdRefresh->setObjectName(QStringLiteral("cmdRefresh"));
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdLoadIntoEditor);
    buttons->addStretch();
    buttons->addWidget(cmdRefresh);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(historyProblem);
    layout->addWidget(tblHistory);
    layout->addLayout(buttons);

    connect(tblHistory, &QTableWidget::itemSelectionChanged, this, &HistoryWindow::updateButtons);
    connect(tblHistory, &QTableWidget::cellDoubleClicked, this, &HistoryWindow::loadSelected);
    connect(cmdLoadIntoEditor, &QPushButton::clicked, this, &HistoryWindow::loadSelected);
    connect(cmdRefresh, &QPushButton::clicked, this, &HistoryWindow::reload);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    reload();
}

void HistoryWindow::reload()
{
    JournalQuery query;
    query.mac = m_mac;
    const auto found = m_journal.entries(query);
    m_entries.clear();
    if (found) {
        // Newest first: the night's change is what the operator opens the window for.
        for (auto it = found->crbegin(); it != found->crend(); ++it)
            m_entries.append(*it);
    }
    historyProblem->setText(
        found ? QString() : QStringLiteral("The journal cannot be read: %1").arg(m_journal.problem()));
    historyProblem->setVisible(!found);
    tblHistory->clearContents();
    tblHistory->setRowCount(int(m_entries.size()));
    for (int row = 0; row < m_entries.size(); ++row) {
        const JournalEntry& e = m_entries[row];
        const QStringList cells = {e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                   operationName(e.operation), changesText(e.changes), historyOutcomeText(e),
                                   e.user};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(column == 4 ? QStringLiteral("%1 on %2 (%3)").arg(e.user, e.host, e.program)
                                         : cells[column]);
            tblHistory->setItem(row, column, item);
        }
    }
    for (int column : {0, 1, 3, 4}) // the changes stretch over the rest
        tblHistory->resizeColumnToContents(column);
    updateButtons();
}

void HistoryWindow::updateButtons()
{
    const int row = tblHistory->currentRow();
    const bool selected = !tblHistory->selectedItems().isEmpty() && row >= 0 && row < m_entries.size();
    cmdLoadIntoEditor->setEnabled(selected && !m_entries[row].sentConfig.isEmpty());
}

void HistoryWindow::loadSelected()
{
    // The button follows the selection and every reload, so it says whether there is one to load.
    if (!cmdLoadIntoEditor->isEnabled())
        return;
    emit loadRequested(m_mac, m_entries[tblHistory->currentRow()].sentConfig);
}

} // namespace vexo
