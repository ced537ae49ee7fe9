#pragma once

#include <QHostAddress>
#include <QMainWindow>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QStringList>

#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexo {

class Arp;
class ElementStore;
class ElementMenu;
class ElementTree;
class HistoryWindow;
class Journal;
class Icmp;
class LevelMeter;
class LevelMonitor;
class PingTest;
class InstanceGuard;
class MessageBoxes;
class OutcomeBoxes;
class ProgramEnd;
class PropertiesPanel;
class SelectedElement;
class UserSettings;
class Station;
struct MeasureServices;

// What the station needs from the machine; the application passes the real services, tests
// pass fakes.
struct Services
{
    MessageBoxes& boxes;
    UserSettings& settings;
    InstanceGuard& instanceGuard;
    ProgramEnd& programEnd;
    Arp& arp;
    Icmp& icmp;
    QString storePath;
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
};

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The command line is read first: the GPSDO variant shapes the editor.
    MainWindow(Services services, const QStringList& arguments, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The rest of the start-up sequence. False when the program is to end (second instance,
    // port taken).
    bool startUp();

    ElementTree& tree() const { return *m_tree; }
    Station& station() const { return *m_station; }
    LevelMonitor& levelMonitor() const { return *m_levelMonitor; }
    Journal& journal() const { return *m_journal; }
    // The element's History window, opened (or raised when it is open already).
    HistoryWindow* openHistory(const QString& mac);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshList();
    void openStatistics();
    void openAdjust();
    void openSfnOverview();
    void startMonitoring();
    void stopMonitoring();
    void saveChanges();
    // The element tree's context menu and what it leads to.
    void onTreePointed(QTreeWidgetItem* item);
    void copyElementField(const QString& key);
    void loadIntoEditor(const QString& mac, const QList<QPair<QString, QString>>& config);
    void restoreStoreList();
    void reloadHistories();
    // Says once per session that changes are not being journaled, and why.
    void warnJournal(const QString& reason);

    QToolBar* Toolbar1;
    // The toolbar's buttons, named for what they do.
    QAction* m_actDiscover;
    QAction* m_actRefresh;
    QAction* m_actSave;
    QAction* m_actStartMonitoring;
    QAction* m_actStopMonitoring;
    QAction* m_actSfnOverview;
    QPointer<QWidget> m_sfnOverview; // the SfnOverviewWindow, made at its first opening
    QGroupBox* frmTreeView;
    QTreeWidget* TreeView1;
    PropertiesPanel* frmProperties;
    QGroupBox* frmDiagnostics;
    QPushButton* cmdPing;
    QPushButton* cmdGetStats;
    QCheckBox* chkGetVolume;
    // The picture box Picture2, its bar VUMeter and the level text lblVolume, drawn as one.
    LevelMeter* m_levelMeter;
    QSlider* Slider1;

    void buildToolbar();
    void buildDiagnostics(QWidget* client);
    void autoDiscovery();
    void applyTabOrder();
    void onTreeClicked(QTreeWidgetItem* item);
    void updateMonitorButtons();
    void onPingClicked();
    void readLevel();
    MeasureServices measureServices() const;

    bool m_gpsdoVariant;
    Services m_services;
    // Declared before the station, which records into it: it outlives the station.
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<Station> m_station;
    SelectedElement* m_selection;
    std::unique_ptr<OutcomeBoxes> m_outcomeBoxes;
    std::unique_ptr<ElementTree> m_tree;
    ElementMenu* m_elementMenu = nullptr;
    QMap<QString, QPointer<HistoryWindow>> m_histories; // by MAC
    bool m_journalWarned = false;
    bool m_pinging = false; // one test at a time
    LevelMonitor* m_levelMonitor = nullptr;
};

// Text of the title bar after start-up.
QString stationTitle(bool gpsdoVariant);
// True when the command line is the single word GPS, in any case.
bool isGpsdoCommandLine(const QStringList& arguments);

} // namespace vexo
