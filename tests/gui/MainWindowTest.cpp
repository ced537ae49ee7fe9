// The station's windows wired to its core, with fakes for the machine's services: start-up, the
// element tree, the paging window, the level meter, the ping button, what a screen reader reads
// (through QAccessible, as the desktop's accessibility bridge does) and the keys-only operation.
#include "AppFixture.h"
#include "diagnostics/LevelMonitor.h"
#include "discovery/Discovery.h"
#include "gui/Accessibility.h"
#include "gui/AdjustWindow.h"
#include "gui/DisclaimerDialog.h"
#include "gui/HistoryWindow.h"
#include "gui/PagingWindow.h"
#include "gui/SfnOverviewWindow.h"
#include "gui/StatisticsWindow.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "store/IniFile.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// The level text lblVolume and the bar VUMeter, as the level meter leaves them.
struct Meter
{
    QLabel* label;
    QWidget* bar;
    explicit Meter(MainWindow& w) : label(child<QLabel>(w, "lblVolume")), bar(child<QWidget>(w, "VUMeter")) {}
    QString text() const { return label->text(); }
    int barWidth() const { return bar->width(); }
};

const QByteArray kOneEncoder = "[0050C2000001]\nNAME=AAA\nROLE=1\nIP=10.0.0.5\nMASK=255.0.0.0\nGW=10.0.0.1\n"
                               "REMOTE=10.0.0.6\nINPUT=1\nTYPE=1\nTX=0\n";

// The entries of the tree or of a drop-down list.
QStringList texts(const QAbstractItemView* view)
{
    QStringList out;
    for (int i = 0; i < view->model()->rowCount(); ++i)
        out << view->model()->index(i, 0).data().toString();
    return out;
}

void clickEntry(MainWindow& w, int row)
{
    QTest::mouseClick(child<QTreeWidget>(w, "TreeView1")->viewport(), Qt::LeftButton, {},
                      child<QTreeWidget>(w, "TreeView1")
                          ->visualItemRect(child<QTreeWidget>(w, "TreeView1")->topLevelItem(row))
                          .center());
}

// The main window started on a store of these bytes, its first entry clicked when asked.
MainWindow& startOn(AppFixture& f, const QByteArray& store, bool click = false, const QStringList& args = {})
{
    MainWindow& w = f.startOn(store, args);
    if (click)
        clickEntry(w, 0);
    return w;
}

// Acts on the modal window of type T once its own event loop runs; the flag tells it was shown.
template <class T> std::shared_ptr<bool> whenShown(std::function<void(T*)> act)
{
    auto shown = std::make_shared<bool>(false);
    QTimer::singleShot(0, [act, shown] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<T*>(w); window && window->isVisible() && !*shown)
                act(window), *shown = true;
    });
    return shown;
}

// What is wrong with the objects a screen reader reaches from the window.
QStringList accessibilityFaults(QWidget* window)
{
    using A = QAccessible;
    const QList<A::Role> controlRoles = {A::EditableText, A::ComboBox,   A::ScrollBar,  A::Slider,
                                         A::CheckBox,     A::PushButton, A::ButtonMenu, A::Tree,
                                         A::ToolBar,      A::Table};
    QStringList faults, groups;
    QMap<QString, QStringList> controls; // by name
    std::function<void(QAccessibleInterface*, int)> visit = [&](QAccessibleInterface* node, int depth) {
        const A::Role role = node->role();
        const QString name = node->text(A::Name);
        const QString what =
            QString("%1 \"%2\" (%3)").arg(qAccessibleRoleString(role), name, node->object()->objectName());
        if (role == A::Grouping)
            groups << name;
        if (role == A::Border || (depth > 0 && (role == A::Window || role == A::Dialog)) ||
            (role == A::Client && node->childCount() == 0))
            faults << "decoration exposed: " + what;
        // A value label is read with its caption.
        if (role == A::StaticText && node->object()->objectName().startsWith("lbl") && !name.contains(": ") &&
            node->relations(A::Label).isEmpty())
            faults << "value without caption: " + what;
        if (controlRoles.contains(role)) {
            controls[name] << what;
            auto* widget = qobject_cast<QWidget*>(node->object());
            if (role != A::ToolBar && !widget->isHidden() && !(widget->focusPolicy() & Qt::TabFocus))
                faults << "not reached with Tab: " + what;
            if (role == A::ComboBox && !name.isEmpty() && name == node->text(A::Value))
                faults << "named by its entry: " + what;
            for (const auto& [label, relation] : node->relations(A::Label))
                if (auto* caption = qobject_cast<QLabel*>(label->object());
                    caption && role != A::PushButton && name != a11y::spokenCaption(caption->text()))
                    faults << "not named after its caption: " + what;
        }
        // The entries of lists, trees and tables are values, not controls.
        for (int i = 0; role != A::ComboBox && role != A::Tree && role != A::Table && i < node->childCount();
             ++i)
            visit(node->child(i), depth + 1);
    };
    visit(QAccessible::queryAccessibleInterface(window), 0);
    for (auto it = controls.cbegin(); it != controls.cend(); ++it)
        if (it.key().isEmpty() || it->size() > 1 || groups.contains(it.key()))
            faults << "empty, shared or group name: " + it->join(", ");
    return faults;
}

} // namespace

TEST(MainWindow, StartUpSaysWhatIsMissingOrWhatStopsIt)
{
    const struct
    {
        QByteArray store; // null: none
        bool otherInstance, portTaken;
        MsgIcon icon;
        QString text;
    } cases[] = {
        {QByteArray(), false, false, MsgIcon::Information,
         "Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."},
        {"", false, false, MsgIcon::Information,
         "Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network."},
        {kOneEncoder, true, false, MsgIcon::Information,
         "Korvanta Vexolink NMS is already running (check the icon in system tray)!"},
        {kOneEncoder, false, true, MsgIcon::Critical, "Unable to use UDP port 2976: occupied."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QUdpSocket holder;
        ASSERT_TRUE(!c.portTaken || holder.bind(QHostAddress("127.0.0.1"), 2976));
        AppFixture f;
        f.guard.free = !c.otherInstance;
        if (c.otherInstance)
            f.settings.values.clear(); // the notice would hold start-up if it came first
        ASSERT_TRUE(c.store.isNull() || writeFile(f.storePath(), c.store));
        MainWindow& w = f.make();
        const bool started = !c.otherInstance && !c.portTaken;
        EXPECT_EQ(w.startUp(), started);
        EXPECT_EQ(f.boxes.texts(), QStringList{c.text});
        EXPECT_EQ(f.boxes.shown.value(0).icon, c.icon);
        EXPECT_EQ(child<QTreeWidget>(w, "TreeView1")->topLevelItemCount(),
                  c.portTaken ? 1 : 0); // the tree comes before the port
        EXPECT_EQ(f.end.codes, c.portTaken ? QList<int>{1} : QList<int>{});
        EXPECT_EQ(w.station().link().udpClient()->state() == QAbstractSocket::BoundState, started);
        EXPECT_EQ(f.settings.writes, 0);
    }
}

TEST(MainWindow, OnlyTheWordGpsInAnyCaseStartsTheGpsdoVariant)
{
    for (const QStringList& args : {QStringList{}, {"Gps"}, {"GPS2"}, {"GPS", "x"}}) {
        AppFixture f;
        MainWindow& w = startOn(f, {}, false, args);
        const QString variant = args == QStringList{"Gps"} ? " [GPSDO version]" : "";
        EXPECT_EQ(w.windowTitle(), "Vexolink NMS v.3.4.4" + variant + " - Korvanta Broadcast");
        EXPECT_EQ(child<QScrollBar>(w, "scrlBuffer")->maximum(), variant.isEmpty() ? 22 : 23);
    }
}

TEST(MainWindow, NoticeStoresTheAgreementOnlyWhenItsBoxWasClicked)
{
    const struct
    {
        QString before; // null: never stored
        int clicks;
        QString after;
    } cases[] = {{{}, 0, {}}, {"0", 2, "0"}, {"x", 1, "1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clicks);
        AppFixture f;
        f.settings.values =
            c.before.isNull() ? QMap<QString, QString>{} : QMap<QString, QString>{{"EULA1", c.before}};
        const auto shown = whenShown<DisclaimerDialog>([&c](DisclaimerDialog* d) {
            for (int i = 0; i < c.clicks; ++i)
                QTest::mouseClick(d->chkAgree, Qt::LeftButton);
            QTest::keyClick(d, c.clicks ? Qt::Key_Return : Qt::Key_Escape);
        });
        ASSERT_TRUE(f.make().startUp());
        EXPECT_TRUE(*shown);
        EXPECT_EQ(f.settings.values.value("EULA1"), c.after);
        EXPECT_EQ(f.settings.writes, c.clicks);
    }
}

TEST(ElementTree, ListsTheStoreInItsOrderWhateverHandsEditedIt)
{
    const struct
    {
        QByteArray store;
        QStringList tree, encoders;
    } cases[] = {
        {"[0050C2000001]\nNAME=AAA\nROLE=1\n[0050C2000002]\nNAME=BBB\nROLE=2\n[0050c2000004]\nROLE=1\n",
         {"AAA [00:50:C2:00:00:01]", "BBB [00:50:C2:00:00:02]", " [00:50:C2:00:00:04]"},
         {"<None>", "AAA [00:50:C2:00:00:01]", " [00:50:C2:00:00:04]"}},
        // Non-MAC sections are no elements, a role that is no number is "other", a section
        // repeated in another case is listed once.
        {"junk\n[GENERAL]\nX=1\n[0050C2ZZ0001]\nROLE=1\n[0050C2000001]\nNAME=AAA\nROLE=one\n"
         "[0050c2000001]\nNAME=again\nROLE=1\n[0050C2000002]\nNAME=BIG\nROLE=99999999999999999999\n",
         {"AAA [00:50:C2:00:00:01]", "BIG [00:50:C2:00:00:02]"},
         {"<None>"}},
    };
    for (const auto& c : cases) {
        AppFixture f;
        MainWindow& w = startOn(f, c.store);
        EXPECT_EQ(texts(child<QTreeWidget>(w, "TreeView1")), c.tree);
        EXPECT_EQ(texts(child<QComboBox>(w, "cmbEncoders")->view()), c.encoders);
        EXPECT_EQ(child<QGroupBox>(w, "frmTreeView")->title(),
                  QString("Select element: (%1 items)").arg(c.tree.size()));
    }
}

TEST(ElementTree, AThousandEntriesAreListedAndTheWidestFitsTheColumnAndTheDropDown)
{
    QByteArray store;
    for (int i = 0; i < 1000; ++i)
        store += QStringLiteral("[0050C2%1]\r\nNAME=%2\r\nROLE=%3\r\n")
                     .arg(i, 6, 16, QChar('0'))
                     .arg(i == 700 ? QStringLiteral("WMWMWMWMWMWMWMWM") : QStringLiteral("E%1").arg(i))
                     .arg(1 + i % 2)
                     .toUpper()
                     .toLatin1();
    AppFixture f;
    MainWindow& w = f.make();
    w.show();
    ASSERT_TRUE(writeFile(f.storePath(), store));
    ASSERT_TRUE(w.startUp());
    EXPECT_EQ(child<QTreeWidget>(w, "TreeView1")->topLevelItemCount(), 1000);
    EXPECT_EQ(child<QGroupBox>(w, "frmTreeView")->title(), "Select element: (1000 items)");
    const QString widest = "WMWMWMWMWMWMWMWM [00:50:C2:00:02:BC]";
    QAbstractItemView* popup = child<QComboBox>(w, "cmbEncoders")->view();
    EXPECT_EQ(texts(popup).size(), 501);
    EXPECT_EQ(texts(popup).value(351), widest);
    EXPECT_GE(popup->minimumWidth(), QFontMetrics(popup->font()).horizontalAdvance(widest));
    const QAbstractItemView* view =
        child<QTreeWidget>(w, "TreeView1"); // the view's own measure, public in the base
    EXPECT_GE(child<QTreeWidget>(w, "TreeView1")->columnWidth(0), view->sizeHintForColumn(0));
}

TEST(ElementTree, RefreshShowsOutsideEditsAndEmptiesThePanelAndClosingWritesNothing)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder, true);
    EXPECT_EQ(child<QLineEdit>(w, "txtElementIP")->text(), "10.0.0.5");
    const QByteArray edited = kOneEncoder + "[0050C2000009]\nNAME=NEW\nROLE=2\n";
    ASSERT_TRUE(writeFile(f.storePath(), edited));
    child<QAction>(w, "actRefresh")->trigger();
    EXPECT_EQ(texts(child<QTreeWidget>(w, "TreeView1")),
              (QStringList{"AAA [00:50:C2:00:00:01]", "NEW [00:50:C2:00:00:09]"}));
    EXPECT_EQ(child<PropertiesPanel>(w, "frmProperties")->selectedMac(), "-");
    EXPECT_EQ(child<QLineEdit>(w, "txtElementIP")->text(), "");
    w.show();
    w.close();
    EXPECT_EQ(w.station().link().udpClient()->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(readFile(f.storePath()), edited);
    EXPECT_EQ(f.settings.writes, 0);
}

TEST(MainWindow, PingButtonShowsTheTestOfTheSelectedElement)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder, true);
    auto* cmdPing = child<QPushButton>(w, "cmdPing");
    // echo reply, ICMP usable -> the caption that follows "Trying..."
    const std::tuple<Icmp::Reply, bool, const char*> cases[] = {
        {{0, 1}, true, "1 ms"}, {{11010, 0}, true, "Failed!"}, {{0, 1}, false, "No sockets!"}};
    for (const auto& [reply, usable, caption] : cases) {
        f.icmp.reply = reply, f.icmp.startupOk = usable;
        QTest::mouseClick(cmdPing, Qt::LeftButton);
        EXPECT_EQ(cmdPing->text(), "Trying...");
        EXPECT_TRUE(waitUntil([&] { return cmdPing->text() == caption; })) << cmdPing->text().toStdString();
    }
    EXPECT_EQ(f.boxes.texts().count("Windows Sockets not responding correctly."), 1);
}

// The monitor buttons and the level meter follow the monitor, which a discovery stops; the paging
// window shows the count growing and closes when the discovery ends.
TEST(MainWindow, MonitorAndDiscoveryShowInTheirWidgets)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder);
    auto buttons = [&] {
        return QPair(child<QAction>(w, "actStartMonitoring")->isEnabled(),
                     child<QAction>(w, "actStopMonitoring")->isEnabled());
    };
    EXPECT_EQ(buttons(), QPair(false, false));
    clickEntry(w, 0);
    EXPECT_EQ(buttons(), QPair(true, false));
    child<QAction>(w, "actStartMonitoring")->trigger();
    EXPECT_TRUE(child<QCheckBox>(w, "chkGetVolume")->isChecked());
    EXPECT_EQ(buttons(), QPair(false, true));
    const Meter meter(w);
    emit w.levelMonitor().levelChanged(4194304);
    EXPECT_EQ(std::pair(meter.text(), meter.barWidth()), std::pair(QString("-6dBFS"), 70));
    // A new regional setting is followed by the next reading, though the level stays the same
    emit w.levelMonitor().levelChanged(2000000);
    EXPECT_EQ(meter.text(), "-12.5dBFS");
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    QEvent changed(QEvent::LocaleChange);
    QApplication::sendEvent(meter.label->parentWidget(), &changed);
    emit w.levelMonitor().levelChanged(2000000);
    QLocale::setDefault(before);
    EXPECT_EQ(meter.text(), "-12,5dBFS");
    child<QAction>(w, "actStopMonitoring")->trigger();
    EXPECT_EQ(buttons(), QPair(true, false));
    EXPECT_EQ(std::pair(meter.text(), meter.barWidth()), std::pair(QString("-oodBFS"), 0));
    child<QAction>(w, "actStartMonitoring")->trigger();
    f.boxes.answers << MsgAnswer::Yes;
    QUdpSocket element; // the answering elements
    whenShown<PagingWindow>([&](PagingWindow* paging) {
        EXPECT_EQ(paging->lblAnswered->text(), "Elements answered: 0");
        EXPECT_FALSE(child<QCheckBox>(w, "chkGetVolume")->isChecked());
        for (int i = 2; i <= 3; ++i) {
            f.arp.table[0x0A000000u + quint32(i)] =
                QByteArray::fromHex("0050C20000" + QByteArray::number(10 + i));
            ElementConfig r;
            r.ip = QString("10.0.0.%1").arg(i);
            r.mask = "255.0.0.0";
            r.gateway = r.remote = "10.0.0.1";
            r.name = QString("FOUND %1").arg(i);
            std::tie(r.role, r.serial) = std::pair(i - 1, i);
            element.writeDatagram(buildConfigReply(r), QHostAddress::LocalHost, 2976);
            EXPECT_TRUE(
                waitUntil([&] { return paging->lblAnswered->text().endsWith(QString::number(i - 1)); }));
        }
        w.station().discovery().finish(); // the end of the wait, without waiting for it
        if (!waitUntil([&] { return !paging->isVisible(); }, 2000)) {
            ADD_FAILURE() << "the paging window stays open after the discovery";
            paging->close(); // ends the discovery
        }
    });
    child<QAction>(w, "actDiscover")->trigger(); // returns when the paging window has closed
    EXPECT_EQ(texts(child<QTreeWidget>(w, "TreeView1")),
              (QStringList{"FOUND 2 [00:50:C2:00:00:12]", "FOUND 3 [00:50:C2:00:00:13]"}));
    EXPECT_EQ(texts(child<QComboBox>(w, "cmbEncoders")->view()),
              (QStringList{"<None>", "FOUND 2 [00:50:C2:00:00:12]"}));
    EXPECT_EQ(iniSections(f.storePath()), (QStringList{"0050C2000012", "0050C2000013"}));
    EXPECT_FALSE(w.levelMonitor().isRunning());
    EXPECT_EQ(buttons(), QPair(false, false)); // nothing selected
    EXPECT_EQ(f.boxes.shown.size(), 1) << f.boxes.texts().join('|').toStdString();
}

// Each tick reads the level of the element selected then: its reading is shown, one of another
// element is not, and a request that cannot leave is told once and stops the monitor.
TEST(MainWindow, LevelOutcomesOfTheSelectedElementReachTheMeter)
{
    AppFixture f;
    MainWindow& w = startOn(f,
                            "[0050C2000001]\nNAME=A\nROLE=1\nIP=127.0.0.2\n"
                            "[0050C2000002]\nNAME=B\nROLE=1\nIP=127.0.0.3\n",
                            true);
    QUdpSocket a, b;
    ASSERT_TRUE(a.bind(QHostAddress("127.0.0.2"), 2977) && b.bind(QHostAddress("127.0.0.3"), 2977));
    const Meter meter(w);
    auto tick = [&](QUdpSocket& element) {
        QMetaObject::invokeMethod(w.levelMonitor().timer(), "timeout");
        EXPECT_TRUE(waitUntil([&] { return element.hasPendingDatagrams(); }));
        return element.receiveDatagram();
    };
    auto answer = [&](QUdpSocket& element, const QNetworkDatagram& request, const char* sample) {
        element.writeDatagram(hex(sample).repeated(480), request.senderAddress(),
                              quint16(request.senderPort()));
    };
    child<QAction>(w, "actStartMonitoring")->trigger();
    answer(a, tick(a), "40 00 00");
    EXPECT_TRUE(waitUntil([&] { return meter.text() == "-6dBFS"; }));
    EXPECT_EQ(meter.barWidth(), 70);
    // WHEN A's reading is still under way as B is selected and monitored
    const QNetworkDatagram late = tick(a);
    clickEntry(w, 1);
    child<QAction>(w, "actStartMonitoring")->trigger();
    QSignalSpy shown(&w.levelMonitor(), &LevelMonitor::levelChanged);
    answer(a, late, "7F FF FF");
    answer(b, tick(b), "20 00 00");
    // THEN only B's reading is shown
    EXPECT_TRUE(waitUntil([&] { return meter.text() != "-oodBFS"; }));
    EXPECT_EQ(std::pair(meter.text(), meter.barWidth()), std::pair(QString("-12dBFS"), 35));
    EXPECT_EQ(shown.size(), 1);
    // WHEN B's address is no longer valid THEN the next tick tells why once and stops the monitor
    ASSERT_TRUE(writeToIni("0050C2000002", "ip", "127.0.0", f.storePath()));
    QMetaObject::invokeMethod(w.levelMonitor().timer(), "timeout");
    EXPECT_FALSE(w.levelMonitor().isRunning());
    EXPECT_EQ(
        f.boxes.texts(),
        QStringList(
            "Cannot send to the Network Element: the IP address stored for it is not valid (127.0.0)."));
    EXPECT_TRUE(child<QAction>(w, "actStartMonitoring")->isEnabled());
    EXPECT_EQ(meter.text(), "-oodBFS");
}

// A ping that ends after another element was selected is not shown for the new one.
TEST(MainWindow, APingOutcomeForAnElementNoLongerSelectedIsDropped)
{
    AppFixture f;
    QSemaphore echo;
    f.icmp.gate = &echo;
    MainWindow& w = startOn(f, kOneEncoder + "[0050C2000002]\nNAME=BBB\nROLE=2\nIP=10.0.0.7\n", true);
    auto* cmdPing = child<QPushButton>(w, "cmdPing");
    QTest::mouseClick(cmdPing, Qt::LeftButton);
    EXPECT_EQ(cmdPing->text(), "Trying...");
    clickEntry(w, 1);
    const QString idle = cmdPing->text();
    f.icmp.gate = nullptr;
    echo.release();
    // The window takes a new test once the first one ended; until then the new element's button
    // keeps its idle caption.
    bool shownForNew = false;
    EXPECT_TRUE(waitUntil([&] {
        shownForNew = shownForNew || cmdPing->text() != idle;
        QTest::mouseClick(cmdPing, Qt::LeftButton);
        return cmdPing->text() == "Trying...";
    }));
    EXPECT_FALSE(shownForNew) << cmdPing->text().toStdString();
    EXPECT_TRUE(waitUntil([&] { return cmdPing->text() == "1 ms"; }));
}

// The operator saves with keys only; every window names its controls for a screen reader and
// hides its decoration.
TEST(Accessibility, KeysOnlyOperationAndWhatAScreenReaderReads)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder + "[0050C2000002]\nNAME=TX SITE B\nIP=10.0.0.6\nROLE=2\nSFN=1\n");
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // WHEN the operator tabs from the toolbar to the tree, opens the first entry with Enter, tabs
    // to the name, types a new one and saves with Ctrl+S
    ASSERT_EQ(QApplication::focusWidget(),
              child<QToolBar>(w, "Toolbar1")->widgetForAction(child<QAction>(w, "actDiscover")));
    QLineEdit* name = child<QLineEdit>(w, "txtElementName");
    const struct
    {
        int key;
        QWidget* focus; // where the focus is afterwards, if it matters
    } steps[] = {{Qt::Key_Tab, nullptr},
                 {Qt::Key_Tab, nullptr},
                 {Qt::Key_Tab, nullptr}, // the toolbar's menu of what does not fit (SFN overview)
                 {Qt::Key_Tab, child<QTreeWidget>(w, "TreeView1")},
                 {Qt::Key_Home, child<QTreeWidget>(w, "TreeView1")},
                 {Qt::Key_Return, child<QTreeWidget>(w, "TreeView1")},
                 {Qt::Key_Tab, name}};
    for (const auto& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(step.key));
        ASSERT_TRUE(!step.focus || QApplication::focusWidget() == step.focus) << step.key;
    }
    QTest::keyClicks(name, "studio b");
    QTest::keyClick(name, Qt::Key_S, Qt::ControlModifier);
    // THEN the encoder's new name is asked to be sent
    EXPECT_EQ(child<PropertiesPanel>(w, "frmProperties")->editedConfig().name, "studio b");
    EXPECT_EQ(f.boxes.texts().size(), 1);
    EXPECT_TRUE(f.boxes.texts().value(0).endsWith("Are you sure?")) << f.boxes.texts().value(0).toStdString();

    Station& s = w.station();
    // The measurement windows are walked without opening their link.
    const MeasureServices measure{s.store(), child<PropertiesPanel>(w, "frmProperties")->selectedMac(),
                                  Role::Encoder, s.measurePort(), f.settings};
    std::unique_ptr<QWidget> window;
    auto shown = [&](QWidget* dialog) { return window.reset(dialog), dialog->show(), dialog; };
    const struct
    {
        const char* window;
        std::function<QWidget*()> open;
    } cases[] = {
        {"main window, encoder opened with keys", [&] { return &w; }},
        {"main window, multicast encoder",
         [&] { return child<QComboBox>(w, "cmbAudioTX")->setCurrentIndex(1), &w; }},
        {"main window, decoder", [&] { return clickEntry(w, 1), &w; }},
        {"main window, nothing selected", [&] { return child<QAction>(w, "actRefresh")->trigger(), &w; }},
        {"notice", [&] { return shown(new DisclaimerDialog(f.settings, &w)); }},
        {"paging (not shown: it would page)",
         [&] { return (window.reset(new PagingWindow(s.discovery(), &w)), window.get()); }},
        {"statistics", [&] { return shown(new StatisticsWindow(measure, f.boxes, s.fatal(), &w)); }},
        {"SFN adjustment", [&] { return shown(new AdjustWindow(measure, f.boxes, s.fatal(), &w)); }},
        {"SFN overview, from its toolbar button",
         [&] {
             child<QAction>(w, "actSfnOverview")->trigger();
             child<QAction>(w, "actSfnOverview")->trigger(); // raises the one already open
             // Closed and opened again, it is the same window: its latency history is kept.
             const QPointer<SfnOverviewWindow> first = w.findChild<SfnOverviewWindow*>();
             first->close();
             QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
             child<QAction>(w, "actSfnOverview")->trigger();
             EXPECT_FALSE(first.isNull());
             const auto open = w.findChildren<SfnOverviewWindow*>();
             EXPECT_EQ(open.size(), 1);
             EXPECT_EQ(open.value(0)->windowTitle(), "SFN overview");
             EXPECT_TRUE(open.value(0)->isVisible() && !open.value(0)->isModal());
             return open.value(0);
         }},
        {"history",
         [&] {
             return shown(new HistoryWindow(
                 w.journal(), child<PropertiesPanel>(w, "frmProperties")->selectedMac(), "AAA", &w));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        EXPECT_EQ(accessibilityFaults(c.open()), QStringList{});
    }
}
