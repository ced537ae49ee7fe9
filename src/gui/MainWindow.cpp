#include "MainWindow.h"

#include "Accessibility.h"
#include "DisclaimerDialog.h"
#include "ElementMenu.h"
#include "ElementTree.h"
#include "HistoryWindow.h"
#include "LevelMeter.h"
#include "OutcomeBoxes.h"
#include "Pictures.h"
#include "PingButton.h"
#include "core/Station.h"
#include "diagnostics/LevelMonitor.h"
#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "gui/AdjustWindow.h"
#include "gui/PagingWindow.h"
#include "gui/PropertiesPanel.h"
#include "gui/SfnOverviewWindow.h"
#include "gui/StatisticsWindow.h"
#include "journal/Journal.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "measure/MeasureSession.h"
#include "platform/FatalError.h"
#include "platform/InstanceGuard.h"
#include "platform/MessageBoxes.h"
#include "platform/StorePath.h"
#include "platform/UserSettings.h"
#include "platform/Version.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

namespace vexo {

namespace {
constexpr int px(int twips)
{
    return twips / 15;
}
} // namespace

QString stationTitle(bool gpsdoVariant)
{
    const QString version =
        QStringLiteral("Vexolink NMS v.%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
    return version + (gpsdoVariant ? QStringLiteral(" [GPSDO version] - Korvanta Broadcast")
                                   : QStringLiteral(" - Korvanta Broadcast"));
}

bool isGpsdoCommandLine(const QStringList& arguments)
{
    return arguments.join(QLatin1Char(' ')).toUpper() == QLatin1String("GPS");
}

MainWindow::MainWindow(Services services, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), m_gpsdoVariant(isGpsdoCommandLine(arguments)), m_services(std::move(services))
{
    setObjectName(QStringLiteral("frmMain"));
    a11y::install();
    setWindowTitle(QStringLiteral("Vexolink NMS - Korvanta Broadcast"));
    setWindowIcon(applicationIcon());
    // A fixed single border: no maximize, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    buildToolbar();
    Toolbar1->setParent(client);
    Toolbar1->setGeometry(0, 0, px(10830), px(480) - 2);

    frmTreeView = new QGroupBox(QStringLiteral("Elements"), client);
    frmTreeView->setObjectName(QStringLiteral("frmTreeView"));
    frmTreeView->setGeometry(px(120), px(480), px(3975), px(5295));
    TreeView1 = new QTreeWidget(frmTreeView);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(false);
    TreeView1->setIconSize(QSize(20, 20));
    // One line of text and one icon per entry: the first entry's height serves them all.
    TreeView1->setUniformRowHeights(true);
    // An entry wider than the pane (a name of wide letters) scrolls instead of losing its MAC: the
    // column is fitted to the entries once after each rebuild (ElementTree), not on every layout.
    TreeView1->header()->setSectionResizeMode(QHeaderView::Interactive);
    TreeView1->header()->setStretchLastSection(false);
    TreeView1->setGeometry(6, 20, px(3975) - 12, px(5295) - 26);
    TreeView1->setAccessibleName(QStringLiteral("Select element"));
    connect(TreeView1, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { onTreeClicked(item); });
    // Enter on the current entry loads it as a click does.
    connect(TreeView1, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { onTreeClicked(item); });

    buildDiagnostics(client);
    m_selection = new SelectedElement(this);

    m_station = std::make_unique<Station>(
        StationServices{m_services.boxes, m_services.settings, m_services.programEnd, m_services.arp,
                        m_services.icmp, m_services.storePath, m_services.bindAddress, m_gpsdoVariant});
    Station& station = *m_station;
    // Every change the operations make is journaled beside the store.
    m_journal = std::make_unique<Journal>(resolveJournalPath(m_services.storePath), QStringLiteral("window"));
    station.setJournal(m_journal.get());
    connect(&station, &Station::journalWarning, this, &MainWindow::warnJournal);
    m_outcomeBoxes = std::make_unique<OutcomeBoxes>(m_services.boxes);

    PanelPeers peers;
    peers.cmdPing = cmdPing;
    peers.cmdGetStats = cmdGetStats;
    peers.startMonitoring = m_actStartMonitoring;
    peers.stopMonitoring = m_actStopMonitoring;
    peers.chkGetVolume = chkGetVolume;
    peers.levelMeter = m_levelMeter;
    frmProperties = new PropertiesPanel(
        station.store(), *m_selection, m_services.boxes, m_gpsdoVariant, peers,
        [this](int position) {
            const AttenuationOutcome sent = m_station->setAttenuation(m_selection->mac(), position);
            reloadHistories();
            m_outcomeBoxes->showSendProblem(sent.problem);
            return !sent.problem && sent.stored;
        },
        client);
    frmProperties->move(px(4200), px(480));

    m_tree = std::make_unique<ElementTree>(station.store(), m_services.boxes, frmTreeView, TreeView1,
                                           frmProperties->encoderList(), m_levelMeter);

    // A reply's road ends here: the boxes tell the outcome, the panel shows what the element
    // confirmed, the tree what the store now holds.
    connect(&station, &Station::configured, this, [this](const ConfigureOutcome& outcome) {
        reloadHistories();
        m_outcomeBoxes->showConfigure(
            outcome, {[this](Role role) { frmProperties->setElementRole(role); },
                      [this](const ElementConfig& shown) { frmProperties->showConfirmation(shown); }});
    });
    connect(&station, &Station::invalidReply, this,
            [this](const QString& field) { m_outcomeBoxes->showInvalidReply(field); });
    connect(&station, &Station::invalidRepliesDropped, this,
            [this](int count, const QList<QPair<QString, int>>& byField) {
                m_outcomeBoxes->showInvalidRepliesDropped(count, byField);
            });
    connect(&station, &Station::storeChanged, this, [this] { m_tree->loadConfig(); });
    connect(&station.discovery(), &Discovery::problem, this,
            [this](DiscoveryProblem problem, const SendProblem& paging) {
                m_outcomeBoxes->showDiscoveryProblem(m_station->discovery(), problem, paging);
            });
    // A confirmation is compared with the panel as it is when the answer arrives.
    auto expectPanel = [this] { m_station->expect(m_selection->mac(), m_selection->draft()); };
    connect(m_selection, &SelectedElement::selectionChanged, this, expectPanel);
    connect(m_selection, &SelectedElement::draftChanged, this, expectPanel);
    // A discovery ends once the replies that came in time are stored, which may be after its
    // window has been closed.
    connect(&station.discovery(), &Discovery::finished, this, [this](int stored) {
        m_outcomeBoxes->showDiscoveryEnd(m_station->discovery(), stored);
        m_tree->loadConfig();
    });

    connect(cmdPing, &QPushButton::clicked, this, &MainWindow::onPingClicked);

    m_elementMenu = new ElementMenu(TreeView1, this);
    connect(m_elementMenu, &ElementMenu::pointed, this, &MainWindow::onTreePointed);
    connect(m_elementMenu->ping(), &QAction::triggered, this, &MainWindow::onPingClicked);
    connect(m_elementMenu->statistics(), &QAction::triggered, this, &MainWindow::openStatistics);
    connect(m_elementMenu->history(), &QAction::triggered, this, [this] { openHistory(m_selection->mac()); });
    connect(m_elementMenu->copyMac(), &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(m_selection->mac()); });
    connect(m_elementMenu->copyIp(), &QAction::triggered, this, [this] { copyElementField(keys::ip); });
    connect(m_elementMenu->restoreList(), &QAction::triggered, this, &MainWindow::restoreStoreList);

    // chkGetVolume is the monitor's switch; the monitor's state and the selected element decide
    // the box and the buttons.
    // the box and the buttons; each tick reads the level of the element selected then.
    m_levelMonitor = new LevelMonitor(this);
    connect(chkGetVolume, &QCheckBox::toggled, m_levelMonitor,
            [this](bool on) { on ? m_levelMonitor->start() : m_levelMonitor->stop(); });
    connect(m_levelMonitor->timer(), &QTimer::timeout, this, &MainWindow::readLevel);
    connect(m_selection, &SelectedElement::selectionChanged, this, &MainWindow::updateMonitorButtons);
    connect(m_selection, &SelectedElement::roleChanged, this, &MainWindow::updateMonitorButtons);
    connect(m_levelMonitor, &LevelMonitor::runningChanged, this, [this](bool running) {
        chkGetVolume->setChecked(running);
        updateMonitorButtons();
    });
    connect(m_levelMonitor, &LevelMonitor::levelChanged, m_levelMeter, &LevelMeter::showPeak);
    connect(Slider1, &QSlider::valueChanged, m_levelMonitor, [this](int ms) {
        m_levelMonitor->setIntervalMs(ms);
        Slider1->setToolTip(QStringLiteral("Polling interval: %1 ms").arg(ms));
    });
    Slider1->setValue(LevelMonitor::kDefaultIntervalMs);
    connect(cmdGetStats, &QPushButton::clicked, this, &MainWindow::openStatistics);
    connect(frmProperties, &PropertiesPanel::adjustRequested, this, &MainWindow::openAdjust);
    frmProperties->applyTabOrder();
    applyTabOrder();

    setFixedSize(px(10830), px(5910));
}

MainWindow::~MainWindow() = default;

void MainWindow::buildToolbar()
{
    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setIconSize(QSize(18, 18));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // All seven positions have to fit the window's fixed width with their captions.
    QFont font = Toolbar1->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    Toolbar1->setFont(font);
    Toolbar1->setAccessibleName(QStringLiteral("Toolbar"));
    // The seven places of the toolbar: five buttons with two separators between them.
    auto add = [this](QAction*& action, const char* name, const QString& text, int pictureIndex,
                      const QKeySequence& shortcut, void (MainWindow::*slot)()) {
        action = Toolbar1->addAction(picture(pictureIndex), text);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(shortcut);
        action->setToolTip(shortcut.isEmpty()
                               ? text
                               : text + QStringLiteral(" (") + shortcut.toString(QKeySequence::NativeText) +
                                     QLatin1Char(')'));
        // Toolbar buttons take no focus by default; here they are the first stops of the tab
        // order, pressed with Space.
        Toolbar1->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
        connect(action, &QAction::triggered, this, slot);
    };
    add(m_actDiscover, "actDiscover", QStringLiteral("Discover elements"), 1, {}, &MainWindow::autoDiscovery);
    add(m_actRefresh, "actRefresh", QStringLiteral("Refresh list"), 2, QKeySequence(Qt::Key_F5),
        &MainWindow::refreshList);
    Toolbar1->addSeparator();
    add(m_actSave, "actSave", QStringLiteral("Save changes"), 3, QKeySequence(Qt::CTRL | Qt::Key_S),
        &MainWindow::saveChanges);
    Toolbar1->addSeparator();
    add(m_actStartMonitoring, "actStartMonitoring", QStringLiteral("Start audio monitoring"), 4, {},
        &MainWindow::startMonitoring);
    add(m_actStopMonitoring, "actStopMonitoring", QStringLiteral("Stop audio monitoring"), 5, {},
        &MainWindow::stopMonitoring);
    Toolbar1->addSeparator();
    add(m_actSfnOverview, "actSfnOverview", QStringLiteral("SFN overview"), 0,
        QKeySequence(Qt::CTRL | Qt::Key_L), &MainWindow::openSfnOverview);
    m_actSfnOverview->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    // The window's fixed width holds every caption but the two long monitoring ones: those two
    // show their pictures (their tooltips and accessible names keep the words).
    for (QAction* action : {m_actStartMonitoring, m_actStopMonitoring}) {
        if (auto* button = qobject_cast<QToolButton*>(Toolbar1->widgetForAction(action)))
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    // Shown only when the buttons do not fit.
    if (auto* more = Toolbar1->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(QStringLiteral("More toolbar buttons"));
}

void MainWindow::buildDiagnostics(QWidget* client)
{
    frmDiagnostics = new QGroupBox(QStringLiteral("Diagnostics:"), client);
    frmDiagnostics->setObjectName(QStringLiteral("frmDiagnostics"));
    frmDiagnostics->setGeometry(px(4200), px(4560), px(6495), px(1215));

    auto addCaption = [this](const QString& text, int y) {
        auto* label = new QLabel(text, frmDiagnostics);
        label->setGeometry(12, y, 90, 20);
        return label;
    };
    QLabel* pingCaption = addCaption(QStringLiteral("Ping:"), 18);
    cmdPing = new QPushButton(QStringLiteral("<Click to test>"), frmDiagnostics);
    cmdPing->setObjectName(QStringLiteral("cmdPing"));
    cmdPing->setToolTip(QStringLiteral("Test ping from NMS"));
    cmdPing->setGeometry(100, 17, 150, 18);

    QLabel* statisticsCaption = addCaption(QStringLiteral("Statistics:"), 37);
    cmdGetStats = new QPushButton(QStringLiteral("Get..."), frmDiagnostics);
    cmdGetStats->setObjectName(QStringLiteral("cmdGetStats"));
    cmdGetStats->setToolTip(QStringLiteral("Fetch statistical counters"));
    cmdGetStats->setGeometry(100, 36, 150, 18);
    cmdGetStats->setEnabled(false);

    QLabel* levelCaption = addCaption(QStringLiteral("Audio level:"), 56);
    m_levelMeter = new LevelMeter(frmDiagnostics);
    m_levelMeter->move(100, 56);
    // How often the level is asked for, in ms.
    Slider1 = new QSlider(Qt::Horizontal, frmDiagnostics);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setRange(20, 1000);
    Slider1->setSingleStep(10);
    Slider1->setPageStep(50);
    Slider1->setGeometry(100 + LevelMeter::kFullScaleWidth + 90, 58,
                         425 - (100 + LevelMeter::kFullScaleWidth + 90), 16);

    chkGetVolume = new QCheckBox(QStringLiteral("?"), frmDiagnostics);
    chkGetVolume->setObjectName(QStringLiteral("chkGetVolume"));
    chkGetVolume->setToolTip(QStringLiteral("Show audio level"));
    chkGetVolume->setVisible(false);

    // The buttons keep their captions as names ("Get..." is described by its tooltip); the row
    // caption labels them.
    pingCaption->setBuddy(cmdPing);
    statisticsCaption->setBuddy(cmdGetStats);
    a11y::levelBar(m_levelMeter, levelCaption);
    Slider1->setAccessibleName(QStringLiteral("Level polling interval"));
    Slider1->setAccessibleDescription(QStringLiteral("How often the audio level is asked for, in ms"));
    chkGetVolume->setAccessibleName(chkGetVolume->toolTip());
}

void MainWindow::applyTabOrder()
{
    // Toolbar, tree, the panel's fields and the diagnostics buttons, then the polling slider.
    QList<QWidget*> order;
    for (QAction* action : {m_actDiscover, m_actRefresh, m_actSave, m_actStartMonitoring, m_actStopMonitoring,
                            m_actSfnOverview})
        order << Toolbar1->widgetForAction(action);
    order << TreeView1 << frmProperties->firstTabStop();
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    frmProperties->applyTabOrder();
    QWidget::setTabOrder(frmProperties->lastTabStop(), Slider1);
}

bool MainWindow::startUp()
{
    if (!m_services.instanceGuard.acquire()) {
        m_services.boxes.information(
            QStringLiteral("Korvanta Vexolink NMS"),
            QStringLiteral("Korvanta Vexolink NMS is already running (check the icon in system tray)!"));
        return false;
    }

    // Anything that is not a number counts as "not acknowledged".
    if (storedInt(m_services.settings.value(QStringLiteral("EULA1"), QStringLiteral("0"))) == 0) {
        DisclaimerDialog notice(m_services.settings, this);
        notice.exec();
    }

    m_actStartMonitoring->setEnabled(false);
    m_actStopMonitoring->setEnabled(false);

    m_tree->loadConfig();

    if (!m_station->bindConfigPort()) {
        m_station->fatal().fail(QStringLiteral("Unable to use UDP port 2976: occupied."));
        return false;
    }
    setWindowTitle(stationTitle(m_gpsdoVariant));
    frmProperties->setBufferMaximum(m_gpsdoVariant ? 23 : 22);
    return true;
}

void MainWindow::startMonitoring()
{
    chkGetVolume->setChecked(true);
}

void MainWindow::stopMonitoring()
{
    chkGetVolume->setChecked(false);
}

void MainWindow::saveChanges()
{
    const SelectedElement& selection = *m_selection;
    if (const Refusal refused = m_station->checkConfiguration(selection.mac(), selection.draft())) {
        m_outcomeBoxes->showRefusal(refused);
        return;
    }
    if (!m_outcomeBoxes->askSendConfiguration())
        return;
    // The size of the request follows the role the panel shows.
    m_station->configure(selection.mac(), selection.draft(), selection.role().value_or(Role::Unknown));
}

void MainWindow::autoDiscovery()
{
    Discovery& discovery = m_station->discovery();
    if (!m_outcomeBoxes->askDiscovery())
        return;
    // The main window shows no element while the store is rebuilt.
    chkGetVolume->setChecked(false);
    frmProperties->clearElementProperties();
    m_tree->clear();
    frmProperties->encoderList()->clear();
    frmProperties->encoderList()->addItem(QStringLiteral("<None>"));
    m_levelMeter->showPeak(0);
    m_tree->updateCaption();
    PagingWindow paging(discovery, this);
    paging.exec();
}

void MainWindow::onPingClicked()
{
    if (m_pinging)
        return;
    showPingTrying(cmdPing);
    m_pinging = true;
    const QString mac = m_selection->mac();
    // The address as the operator sees it, which may not have been saved yet.
    m_station->ping(
        mac,
        [this, mac](const PingOutcome& o) {
            m_pinging = false;
            // Another element selected meanwhile shows its own idle state: this is not about it.
            if (m_selection->mac() == mac)
                showPingOutcome(cmdPing, m_services.boxes, o);
        },
        frmProperties->elementIp());
}

void MainWindow::updateMonitorButtons()
{
    // Whoever stops the monitor (the toolbar, a discovery, another selection, a failed send),
    // the buttons follow it.
    const bool running = m_levelMonitor->isRunning();
    const bool encoder = m_selection->isSelected() && m_selection->role() == Role::Encoder;
    m_actStartMonitoring->setEnabled(encoder && !running);
    m_actStopMonitoring->setEnabled(running);
}

void MainWindow::readLevel()
{
    // No time-out of its own: the display keeps its last values until a reply arrives, and a
    // request goes out at every tick whether or not the last one was answered.
    m_station->readLevel(m_selection->mac(), [this](const LevelOutcome& o) {
        switch (o.result) {
        case LevelOutcome::Result::Reading:
            // A reading of an element that is no longer selected is not about the one shown.
            if (o.mac == m_selection->mac())
                m_levelMonitor->applyPeak(o.peak);
            break;
        case LevelOutcome::Result::SendFailed:
            // Polling on would repeat the message twenty times a second. A busy port has ended
            // the program already.
            m_levelMonitor->stop();
            if (o.problem.failure != SendFailure::PortBusy)
                m_outcomeBoxes->showSendProblem(o.problem);
            break;
        case LevelOutcome::Result::NotStored:
        case LevelOutcome::Result::NotEncoder:
            m_levelMonitor->stop(); // the store changed beneath the window
            break;
        case LevelOutcome::Result::NoAnswer:
            break;
        }
    });
}

void MainWindow::refreshList()
{
    m_tree->clear();
    m_tree->loadConfig();
    frmProperties->clearElementProperties();
}

namespace {
// The measurement windows are modal: the element selected when one opens stays selected until
// it closes.
// The changes a window sends over its own session (Set, Clear) go to the journal as the
// operations' do.
template <typename Window>
void openMeasureWindow(Station& station, const MeasureServices& services, MessageBoxes& boxes,
                       MainWindow* parent)
{
    Window window(services, boxes, station.fatal(), parent);
    const QString mac = services.mac;
    QObject::connect(
        &window.session(), &MeasureSession::countersResetSent, parent,
        [&station, mac](const SendProblem& problem) { station.journalCountersReset(mac, problem); });
    if constexpr (std::is_same_v<Window, AdjustWindow>) {
        QObject::connect(&window.session(), &AdjustSession::delaySent, parent,
                         [&station, mac](int position, bool autoServo, const SendProblem& problem) {
                             station.journalDelaySent(mac, position, autoServo, problem);
                         });
    }
    if (window.openLink())
        window.exec();
}

} // namespace

MeasureServices MainWindow::measureServices() const
{
    // The role the main window shows decides what the measurement windows show.
    return MeasureServices{m_station->store(), m_selection->mac(),
                           m_selection->role().value_or(Role::Unknown), m_station->measurePort(),
                           m_services.settings};
}

void MainWindow::openStatistics()
{
    openMeasureWindow<StatisticsWindow>(*m_station, measureServices(), m_services.boxes, this);
    reloadHistories();
}

void MainWindow::openAdjust()
{
    openMeasureWindow<AdjustWindow>(*m_station, measureServices(), m_services.boxes, this);
    reloadHistories();
}

void MainWindow::openSfnOverview()
{
    // Not modal: it polls beside the other windows, over the same measurement port.
    if (!m_sfnOverview)
        m_sfnOverview = new SfnOverviewWindow(*m_station, m_services.boxes, this);
    m_sfnOverview->show();
    m_sfnOverview->raise();
    m_sfnOverview->activateWindow();
}

void MainWindow::onTreeClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    frmProperties->loadElement(item->text(0), ElementTree::entryKey(item));
}

void MainWindow::onTreePointed(QTreeWidgetItem* item)
{
    if (!item)
        return;
    // As a click would: the entry becomes current and its element fills the panel.
    TreeView1->setCurrentItem(item);
    onTreeClicked(item);
    m_elementMenu->ping()->setEnabled(cmdPing->isEnabled() && !m_pinging);
    m_elementMenu->statistics()->setEnabled(cmdGetStats->isEnabled());
    m_elementMenu->copyIp()->setEnabled(!m_station->store().read(m_selection->mac(), keys::ip).isEmpty());
}

void MainWindow::copyElementField(const QString& key)
{
    QGuiApplication::clipboard()->setText(m_station->store().read(m_selection->mac(), key));
}

HistoryWindow* MainWindow::openHistory(const QString& mac)
{
    if (encodeMac(mac).isEmpty())
        return nullptr;
    HistoryWindow* window = m_histories.value(mac);
    if (window) {
        window->reload();
    } else {
        const QString name = m_station->store().read(mac, keys::name).trimmed();
        window = new HistoryWindow(*m_journal, mac,
                                   name.isEmpty() ? mac : QStringLiteral("%1 [%2]").arg(name, mac), this);
        connect(window, &HistoryWindow::loadRequested, this, &MainWindow::loadIntoEditor);
        m_histories.insert(mac, window);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void MainWindow::reloadHistories()
{
    for (const QPointer<HistoryWindow>& window : std::as_const(m_histories)) {
        if (window)
            window->reload();
    }
}

void MainWindow::loadIntoEditor(const QString& mac, const QList<QPair<QString, QString>>& config)
{
    if (m_selection->mac() != mac) {
        QTreeWidgetItem* item = m_tree->findEntry(mac);
        if (!item) {
            m_services.boxes.information(kAppTitle,
                                         QStringLiteral("The element %1 is not in the list any "
                                                        "more: its configuration cannot be loaded.")
                                             .arg(mac));
            return;
        }
        TreeView1->setCurrentItem(item);
        onTreeClicked(item);
    }
    // Unsaved edits: "Save changes" sends them, with its question and its messages.
    frmProperties->loadEdits(config);
    activateWindow();
}

void MainWindow::restoreStoreList()
{
    JournalQuery query;
    query.operation = JournalOperation::Discovery;
    const auto discoveries = m_journal->entries(query);
    if (!discoveries) {
        m_services.boxes.critical(
            kAppTitle, QStringLiteral("The journal cannot be read:\r%1").arg(m_journal->problem()));
        return;
    }
    const auto last = std::find_if(discoveries->crbegin(), discoveries->crend(),
                                   [](const JournalEntry& e) { return e.storeCopy > 0; });
    if (last == discoveries->crend()) {
        m_services.boxes.information(kAppTitle,
                                     QStringLiteral("No list has been kept before a discovery yet."));
        return;
    }
    const QString when = last->time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!m_services.boxes.askYesNo(
            kAppTitle, QStringLiteral("The list of elements will be replaced with the one kept before the "
                                      "discovery of %1.\rThe current list is kept too, so this can be undone "
                                      "with vexolink-cli store restore.\rAre you sure?")
                           .arg(when)))
        return;
    chkGetVolume->setChecked(false);
    const RestoreResult result = m_journal->restoreStoreCopy(last->storeCopy, m_services.storePath);
    if (const QString warning = m_journal->takeWarning(); !warning.isEmpty())
        warnJournal(warning);
    switch (result.status) {
    case RestoreResult::Status::Restored:
        frmProperties->clearElementProperties();
        m_tree->loadConfig();
        m_services.boxes.information(kAppTitle, QStringLiteral("The list from before the discovery of %1 has "
                                                               "been restored (%2 elements).")
                                                    .arg(when)
                                                    .arg(result.elements));
        return;
    case RestoreResult::Status::UnknownCopy:
    case RestoreResult::Status::JournalProblem:
    case RestoreResult::Status::StoreWriteFailed:
        m_services.boxes.critical(kAppTitle, QStringLiteral("The list could not be restored:\r%1\rThe local "
                                                            "database was left as it was.")
                                                 .arg(result.problem));
        return;
    }
}

void MainWindow::warnJournal(const QString& reason)
{
    if (std::exchange(m_journalWarned, true))
        return;
    m_services.boxes.warning(kAppTitle, QStringLiteral("Changes are not being journaled: %1").arg(reason));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Nothing to save: every change reached the store when it was made.
    m_station->close();
    event->accept();
}

} // namespace vexo
