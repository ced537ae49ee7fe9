#include "AppFixture.h"
#include "diagnostics/LevelMonitor.h"
#include "gui/DisclaimerDialog.h"
#include "gui/PropertiesPanel.h"
#include "link/ConfigLink.h"
#include "platform/InstanceGuard.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSysInfo>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest/QTest>

#include <QTest>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// Closes the notice dialog once it is up, the way the operator would, after an optional action.
void closeNoticeWhenShown(std::function<void(DisclaimerDialog*)> act)
{
    QTimer::singleShot(0, [act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* notice = qobject_cast<DisclaimerDialog*>(w); notice && notice->isVisible()) {
                act(notice);
                return;
            }
        }
        ADD_FAILURE() << "the notice dialog is not shown";
    });
}

} // namespace

TEST(Startup, TitleAndBufferRangeFollowTheGpsSwitch)
{
    const struct
    {
        QStringList args;
        bool gpsdo;
    } cases[] = {{{}, false},     {{"gps"}, true},   {{"GPS"}, true},
                 {{"Gps"}, true}, {{"GPS2"}, false}, {{"GPS", "x"}, false}};
    for (const auto& c : cases) {
        AppFixture f;
        ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000002]\nNAME=TX\nROLE=2\nBUF=4\nSFN=0\n"));
        MainWindow& w = f.make(c.args);
        EXPECT_EQ(w.windowTitle(), "Vexolink NMS - Korvanta Broadcast");
        ASSERT_TRUE(w.startUp());
        EXPECT_EQ(w.gpsdoVariant(), c.gpsdo) << c.args.join(' ').toStdString();
        EXPECT_EQ(w.windowTitle(), c.gpsdo ? "Vexolink NMS v.3.4.4 [GPSDO version] - Korvanta Broadcast"
                                           : "Vexolink NMS v.3.4.4 - Korvanta Broadcast");
        EXPECT_EQ(w.frmProperties->scrlBuffer->maximum(), c.gpsdo ? 23 : 22);
        // The latency beside a decoder's buffer counts the variant's shorter offset.
        QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                          w.TreeView1->visualItemRect(w.TreeView1->topLevelItem(0)).center());
        EXPECT_EQ(w.frmProperties->lblLatency->text(), c.gpsdo ? "12.5mS" : "15mS");
    }
}

TEST(Startup, ShellLayoutAndInitialStates)
{
    AppFixture f;
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    w.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.centralWidget()->size(), QSize(722, 394));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()); // fixed: no resizing, no maximize
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.frmTreeView->geometry(), QRect(8, 32, 265, 353));
    EXPECT_EQ(w.frmProperties->geometry(), QRect(280, 32, 433, 265));
    EXPECT_EQ(w.frmDiagnostics->geometry(), QRect(280, 304, 433, 81));
    const QStringList texts = {"Discover elements",      "Refresh list",         "", "Save changes", "",
                               "Start audio monitoring", "Stop audio monitoring"};
    for (int i = 1; i <= 7; ++i) {
        QAction* a = w.toolbarButton(i);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->isSeparator(), i == 3 || i == 5);
        EXPECT_EQ(a->text(), texts[i - 1]);
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->icon().isNull());
        }
    }
    EXPECT_FALSE(w.toolbarButton(6)->isEnabled());
    EXPECT_FALSE(w.toolbarButton(7)->isEnabled());
    EXPECT_EQ(w.cmdPing->text(), "<Click to test>");
    EXPECT_EQ(w.cmdPing->toolTip(), "Test ping from NMS");
    EXPECT_EQ(w.cmdGetStats->text(), "Get...");
    EXPECT_FALSE(w.cmdGetStats->isEnabled());
    EXPECT_FALSE(w.frmProperties->cmdAdjust->isEnabled());
    EXPECT_EQ(w.lblVolume->text(), "-oodBFS");
    EXPECT_FALSE(w.chkGetVolume->isVisibleTo(&w));
    EXPECT_EQ(w.frmProperties->selectedMac(), "-");
    EXPECT_EQ(w.station().link().udpClient()->localPort(), 2976);
}

TEST(Startup, EmptyStoreMessagesBeforeTheWindowShows)
{
    {
        AppFixture f;
        ASSERT_TRUE(f.make().startUp());
        ASSERT_EQ(f.boxes.shown.size(), 1);
        EXPECT_EQ(f.boxes.shown[0].caption, "Information");
        EXPECT_EQ(f.boxes.shown[0].icon, MsgIcon::Information);
        EXPECT_EQ(f.boxes.shown[0].text,
                  "Local database is empty.\rPlease click 'Auto Discover' icon to probe the network.");
        EXPECT_EQ(f.window->frmTreeView->title(), "Select element: (0 items)");
    }
    {
        AppFixture f;
        ASSERT_TRUE(writeFile(f.storePath(), ""));
        ASSERT_TRUE(f.make().startUp());
        ASSERT_EQ(f.boxes.shown.size(), 1);
        EXPECT_EQ(f.boxes.shown[0].text,
                  "Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network.");
    }
}

TEST(Startup, SecondInstanceIsRefusedBeforeAnythingElse)
{
    AppFixture f;
    f.guard.free = false;
    f.settings.values.remove("EULA1"); // the notice would show if start-up went on
    MainWindow& w = f.make();
    EXPECT_FALSE(w.startUp());
    ASSERT_EQ(f.boxes.shown.size(), 1);
    EXPECT_EQ(f.boxes.shown[0].caption, "Korvanta Vexolink NMS");
    EXPECT_EQ(f.boxes.shown[0].icon, MsgIcon::Information);
    EXPECT_EQ(f.boxes.shown[0].text,
              "Korvanta Vexolink NMS is already running (check the icon in system tray)!");
    EXPECT_FALSE(w.station().link().udpClient()->state() == QAbstractSocket::BoundState);
    EXPECT_TRUE(f.settings.values.isEmpty());
}

TEST(Startup, RealLockFileRefusesASecondHolderAndTakesOverAStaleLock)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nms.lock");
    LockFileInstanceGuard first(path);
    ASSERT_TRUE(first.acquire());
    LockFileInstanceGuard second(path);
    EXPECT_FALSE(second.acquire());
    // A lock left by a process that no longer runs: pid 2^22+1 is above Linux's pid limit.
    QTemporaryDir other;
    const QString stale = other.filePath("nms.lock");
    ASSERT_TRUE(writeFile(stale, "4194305\nvexolink-nms\n" + QSysInfo::machineHostName().toUtf8() + "\n"));
    LockFileInstanceGuard after(stale);
    EXPECT_TRUE(after.acquire());
}

TEST(Startup, PortTakenEndsTheProgramAfterTheTreeIsFilled)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress("127.0.0.1"), 2976));
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000001]\nNAME=AAA\nROLE=1\n"));
    MainWindow& w = f.make();
    EXPECT_FALSE(w.startUp());
    EXPECT_EQ(w.TreeView1->topLevelItemCount(), 1);
    ASSERT_EQ(f.boxes.shown.size(), 1);
    EXPECT_EQ(f.boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(f.boxes.shown[0].caption, kAppTitle);
    EXPECT_EQ(f.boxes.shown[0].text, "Unable to use UDP port 2976: occupied.");
    EXPECT_EQ(f.programEnd.codes, QList<int>{1});
    EXPECT_EQ(w.windowTitle(), "Vexolink NMS - Korvanta Broadcast");
}

TEST(Startup, NoticeShownUntilAcknowledged)
{
    // GIVEN a fresh user WHEN the notice is closed without touching the box THEN nothing is stored
    {
        AppFixture f;
        f.settings.values.clear();
        closeNoticeWhenShown([](DisclaimerDialog* d) {
            EXPECT_EQ(d->windowTitle(), "Vexolink NMS");
            EXPECT_EQ(d->Label1->text(), "IMPORTANT NOTICE!");
            EXPECT_TRUE(d->Label3->text().startsWith(
                "If you are not sure which version your Vexolink equipment has, "
                "please consult your local dealer, or contact our support    at "));
            EXPECT_EQ(d->Image1->pixmap().size(), QSize(420, 373));
            EXPECT_FALSE(d->chkAgree->isChecked());
            EXPECT_TRUE(d->cmdClose->isDefault());
            EXPECT_EQ(d->cmdClose->text(), "&Close");
            QTest::keyClick(d, Qt::Key_Escape);
        });
        ASSERT_TRUE(f.make().startUp());
        EXPECT_EQ(f.settings.writes, 0);
    }
    // WHEN the box is checked then unchecked THEN "0" is stored
    {
        AppFixture f;
        f.settings.values["EULA1"] = "0";
        closeNoticeWhenShown([](DisclaimerDialog* d) {
            QTest::mouseClick(d->chkAgree, Qt::LeftButton);
            QTest::mouseClick(d->chkAgree, Qt::LeftButton);
            QTest::mouseClick(d->cmdClose, Qt::LeftButton);
        });
        ASSERT_TRUE(f.make().startUp());
        EXPECT_EQ(f.settings.values.value("EULA1"), "0");
        EXPECT_EQ(f.settings.writes, 2);
    }
    // WHEN the box is checked and Enter pressed THEN "1" is stored and the next start shows nothing
    {
        AppFixture f;
        f.settings.values["EULA1"] = "not a number";
        closeNoticeWhenShown([](DisclaimerDialog* d) {
            QTest::mouseClick(d->chkAgree, Qt::LeftButton);
            QTest::keyClick(d, Qt::Key_Return);
        });
        ASSERT_TRUE(f.make().startUp());
        EXPECT_EQ(f.settings.values.value("EULA1"), "1");
        f.window.reset();
        ASSERT_TRUE(f.make().startUp()); // a shown notice would fail the test: nobody closes it
    }
}

TEST(Startup, ClosingTheWindowClosesTheSocketAndWritesNothing)
{
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000001]\nNAME=AAA\nROLE=1\n"));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    w.show();
    const int writes = f.settings.writes;
    w.close();
    EXPECT_EQ(w.station().link().udpClient()->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(readFile(f.storePath()), QByteArray("[0050C2000001]\nNAME=AAA\nROLE=1\n"));
    EXPECT_EQ(f.settings.writes, writes);
}

TEST(Toolbar, MonitoringButtonsFollowTheMonitorWhoeverStopsIt)
{
    // GIVEN an encoder selected in the tree
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000001]\nNAME=AAA\nROLE=1\nIP=10.0.0.5\n"));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    f.boxes.clear();
    w.onToolbarButton(3);
    w.onToolbarButton(5);
    EXPECT_TRUE(f.boxes.shown.isEmpty()) << "separators do nothing";
    QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                      w.TreeView1->visualItemRect(w.TreeView1->topLevelItem(0)).center());
    auto buttons = [&] { return QPair(w.toolbarButton(6)->isEnabled(), w.toolbarButton(7)->isEnabled()); };
    EXPECT_EQ(buttons(), QPair(true, false));
    // WHEN monitoring starts, THEN the box is checked, only Stop is offered, and levels are shown
    w.onToolbarButton(6);
    EXPECT_TRUE(w.chkGetVolume->isChecked());
    EXPECT_EQ(buttons(), QPair(false, true));
    emit w.levelMonitor().levelChanged(4194304);
    EXPECT_EQ(w.lblVolume->text(), "-6dBFS");
    EXPECT_EQ(w.VUMeter->width(), 70);
    w.onToolbarButton(7);
    EXPECT_EQ(buttons(), QPair(true, false));
    EXPECT_EQ(w.lblVolume->text(), "-oodBFS");
    EXPECT_EQ(w.VUMeter->width(), 0);
    // WHEN a discovery stops a running monitor (it clears the box, then empties the panel)
    w.onToolbarButton(6);
    w.chkGetVolume->setChecked(false);
    w.frmProperties->clearElementProperties();
    // THEN nothing runs and neither button is offered: no encoder is selected
    EXPECT_FALSE(w.levelMonitor().isRunning());
    EXPECT_EQ(buttons(), QPair(false, false));
}
