#pragma once

#include "journal/JournalEntry.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QTableWidget;

namespace vexo {

class Journal;

// The journal of one element as a table, newest first: time, operation, changes (old -> new),
// outcome, user. Not modal: the operator keeps working in the main window beside it. "Load into
// editor" hands the selected entry's sent configuration to the main window, which puts it into
// the properties panel as unsaved edits.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    HistoryWindow(Journal& journal, const QString& mac, const QString& title, QWidget* parent = nullptr);

    const QString& mac() const { return m_mac; }
    // Reads the element's entries again (the window, the command line and the exporter may have
    // written meanwhile).
    void reload();
    // The entries shown, in the table's order.
    const QList<JournalEntry>& entries() const { return m_entries; }

signals:
    void loadRequested(const QString& mac, const QList<QPair<QString, QString>>& config);

private:
    void updateButtons();
    void loadSelected();

    Journal& m_journal;
    QString m_mac;
    QList<JournalEntry> m_entries;
    QLabel* historyProblem;
    QTableWidget* tblHistory;
    QPushButton* cmdLoadIntoEditor;
    QPushButton* cmdRefresh;
    QPushButton* cmdClose;
};

// "Confirmed", "Mismatch: ...", the outcome as the table shows it, with its detail.
QString historyOutcomeText(const JournalEntry& entry);

} // namespace vexo
