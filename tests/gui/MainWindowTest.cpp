// The main window wired to the station core (fakes for the machine's services): start-up, the
// element tree, the toolbar, the paging window, the level meter and the ping button.
#include "AppFixture.h"
#include "diagnostics/LevelMonitor.h"
#include "diagnostics/PingTest.h"
#include "discovery/Discovery.h"
#include "gui/DisclaimerDialog.h"
#include "gui/PagingWindow.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "store/IniFile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QByteArray kOneEncoder = "[0050C2000001]\nNAME=AAA\nROLE=1\nIP=10.0.0.5\n";

QStringList texts(const QTreeWidget* tree)
{
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(0);
    return out;
}

QStringList texts(const QComboBox* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

// The main window started on a store of these bytes.
MainWindow& startOn(AppFixture& f, const QByteArray& store)
{
    EXPECT_TRUE(writeFile(f.storePath(), store));
    MainWindow& w = f.make();
    EXPECT_TRUE(w.startUp());
    return w;
}

void clickEntry(MainWindow& w, int row)
{
    QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                      w.TreeView1->visualItemRect(w.TreeView1->topLevelItem(row)).center());
}

// Acts on the modal window of type T once its own event loop runs; the flag tells it was shown.
template <class T> std::shared_ptr<bool> whenShown(std::function<void(T*)> act)
{
    auto shown = std::make_shared<bool>(false);
    QTimer::singleShot(0, [act, shown] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<T*>(w); window && window->isVisible() && !*shown) {
                *shown = true;
                act(window);
            }
        }
    });
    return shown;
}

} // namespace

TEST(MainWindow, StartUpSaysWhatIsMissingOrWhatStopsIt)
{
    const QByteArray none; // no store file at all
    const struct
    {
        const char* name;
        QByteArray store;
        bool otherInstance, portTaken, started;
        MsgIcon icon;
        QString text;
        int entries;
    } cases[] = {
        {"no store", none, false, false, true, MsgIcon::Information,
         "Local database is empty.\rPlease click 'Auto Discover' icon to probe the network.", 0},
        {"empty store", "", false, false, true, MsgIcon::Information,
         "Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network.", 0},
        {"second instance", kOneEncoder, true, false, false, MsgIcon::Information,
         "Korvanta Vexolink NMS is already running (check the icon in system tray)!", 0},
        {"port taken", kOneEncoder, false, true, false, MsgIcon::Critical,
         "Unable to use UDP port 2976: occupied.", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUdpSocket holder;
        ASSERT_TRUE(!c.portTaken || holder.bind(QHostAddress("127.0.0.1"), 2976));
        AppFixture f;
        f.guard.free = !c.otherInstance;
        if (c.otherInstance)
            f.settings.values.clear(); // the notice would hold start-up if it came first
        ASSERT_TRUE(c.store.isNull() || writeFile(f.storePath(), c.store));
        MainWindow& w = f.make();
        EXPECT_EQ(w.startUp(), c.started);
        ASSERT_EQ(f.boxes.shown.size(), 1) << f.boxes.texts().join('|').toStdString();
        EXPECT_EQ(f.boxes.shown[0].icon, c.icon);
        EXPECT_EQ(f.boxes.shown[0].text, c.text);
        EXPECT_EQ(w.TreeView1->topLevelItemCount(), c.entries);
        EXPECT_EQ(f.programEnd.codes, c.portTaken ? QList<int>{1} : QList<int>{});
        EXPECT_EQ(w.station().link().udpClient()->state() == QAbstractSocket::BoundState, c.started);
        EXPECT_EQ(f.settings.writes, 0);
    }
}

TEST(MainWindow, GpsWordSetsTitleBufferRangeAndLatency)
{
    const struct
    {
        QStringList args;
        bool gpsdo;
    } cases[] = {{{}, false}, {{"gps"}, true}, {{"Gps"}, true}, {{"GPS2"}, false}, {{"GPS", "x"}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        AppFixture f;
        ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000002]\nNAME=TX\nROLE=2\nBUF=4\nSFN=0\n"));
        MainWindow& w = f.make(c.args);
        ASSERT_TRUE(w.startUp());
        EXPECT_EQ(w.windowTitle(), c.gpsdo ? "Vexolink NMS v.3.4.4 [GPSDO version] - Korvanta Broadcast"
                                           : "Vexolink NMS v.3.4.4 - Korvanta Broadcast");
        EXPECT_EQ(w.frmProperties->scrlBuffer->maximum(), c.gpsdo ? 23 : 22);
        clickEntry(w, 0);
        EXPECT_EQ(w.frmProperties->lblLatency->text(), c.gpsdo ? "12.5mS" : "15mS");
    }
}

TEST(MainWindow, NoticeStoresTheAgreementOnlyWhenItsBoxWasClicked)
{
    const struct
    {
        QString before; // null: never stored
        int clicks;
        Qt::Key key;
        QString after;
        int writes;
    } cases[] = {
        {{}, 0, Qt::Key_Escape, {}, 0}, {"0", 2, Qt::Key_Return, "0", 2}, {"x", 1, Qt::Key_Return, "1", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writes);
        AppFixture f;
        f.settings.values.clear();
        if (!c.before.isNull())
            f.settings.values["EULA1"] = c.before;
        const auto shown = whenShown<DisclaimerDialog>([&c](DisclaimerDialog* d) {
            for (int i = 0; i < c.clicks; ++i)
                QTest::mouseClick(d->chkAgree, Qt::LeftButton);
            QTest::keyClick(d, c.key);
        });
        ASSERT_TRUE(f.make().startUp());
        EXPECT_TRUE(*shown);
        EXPECT_EQ(f.settings.values.value("EULA1"), c.after);
        EXPECT_EQ(f.settings.writes, c.writes);
        // The next start shows the notice again unless it was agreed to.
        f.window.reset();
        const auto again = whenShown<DisclaimerDialog>([](DisclaimerDialog* d) { d->reject(); });
        ASSERT_TRUE(f.make().startUp());
        QCoreApplication::processEvents();
        EXPECT_EQ(*again, c.after != "1");
    }
}

TEST(ElementTree, ListsTheStoreInItsOrderWhateverHandsEditedIt)
{
    const struct
    {
        QByteArray store;
        QStringList tree, encoders;
    } cases[] = {
        {"[0050C2000001]\nNAME=AAA\nROLE=1\n[0050C2000002]\nNAME=BBB\nROLE=2\n"
         "[0050C2000003]\nNAME=CCC\nROLE=0\n[0050c2000004]\nROLE=1\n",
         {"AAA [00:50:C2:00:00:01]", "BBB [00:50:C2:00:00:02]", "CCC [00:50:C2:00:00:03]",
          " [00:50:C2:00:00:04]"},
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
        EXPECT_EQ(texts(w.TreeView1), c.tree);
        EXPECT_EQ(texts(w.frmProperties->cmbEncoders), c.encoders);
        EXPECT_EQ(w.frmTreeView->title(), QString("Select element: (%1 items)").arg(c.tree.size()));
    }
}

TEST(ElementTree, RefreshShowsOutsideEditsAndEmptiesThePanelAndClosingWritesNothing)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder);
    clickEntry(w, 0);
    EXPECT_EQ(w.frmProperties->txtElementIP->text(), "10.0.0.5");
    ASSERT_TRUE(writeFile(f.storePath(), kOneEncoder + "[0050C2000009]\nNAME=NEW\nROLE=2\n"));
    w.onToolbarButton(2);
    EXPECT_EQ(texts(w.TreeView1), (QStringList{"AAA [00:50:C2:00:00:01]", "NEW [00:50:C2:00:00:09]"}));
    EXPECT_EQ(w.frmProperties->selectedMac(), "-");
    EXPECT_EQ(w.frmProperties->txtElementIP->text(), "");
    w.show();
    w.close();
    EXPECT_EQ(w.station().link().udpClient()->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(readFile(f.storePath()), kOneEncoder + "[0050C2000009]\nNAME=NEW\nROLE=2\n");
    EXPECT_EQ(f.settings.writes, 0);
}

TEST(ElementTree, AThousandElementsAreListedAndTheWidestFits)
{
    QByteArray store;
    for (int i = 0; i < 1000; ++i)
        store += QString("[0050C2%1]\nNAME=%2\nROLE=%3\n")
                     .arg(i, 6, 16, QChar('0'))
                     .arg(i == 700 ? "WMWMWMWMWMWMWMWM" : "E")
                     .arg(1 + i % 2)
                     .toLatin1();
    AppFixture f;
    MainWindow& w = startOn(f, store);
    w.show();
    EXPECT_EQ(w.TreeView1->topLevelItemCount(), 1000);
    EXPECT_EQ(w.frmProperties->cmbEncoders->count(), 501);
    QAbstractItemView* popup = w.frmProperties->cmbEncoders->view();
    EXPECT_GE(popup->minimumWidth(),
              popup->fontMetrics().horizontalAdvance("WMWMWMWMWMWMWMWM [00:50:C2:00:02:BC]"));
    const QAbstractItemView* view = w.TreeView1; // sizeHintForColumn is public there
    EXPECT_GE(w.TreeView1->columnWidth(0), view->sizeHintForColumn(0));
}

TEST(MainWindow, MonitorButtonsAndLevelMeterFollowTheMonitorWhoeverStopsIt)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder);
    auto buttons = [&] { return QPair(w.toolbarButton(6)->isEnabled(), w.toolbarButton(7)->isEnabled()); };
    EXPECT_EQ(buttons(), QPair(false, false));
    clickEntry(w, 0);
    EXPECT_EQ(buttons(), QPair(true, false));
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
}

TEST(MainWindow, PingButtonShowsTheTestOfTheSelectedElement)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder);
    clickEntry(w, 0);
    QTest::mouseClick(w.cmdPing, Qt::LeftButton); // the fake echo answers in 1 ms
    EXPECT_TRUE(waitUntil([&] { return w.cmdPing->text() == "1 ms"; })) << w.cmdPing->text().toStdString();
    emit w.pingTest().started();
    EXPECT_EQ(w.cmdPing->text(), "Trying...");
    emit w.pingTest().failed();
    EXPECT_EQ(w.cmdPing->text(), "Failed!");
    emit w.pingTest().socketsUnavailable();
    EXPECT_EQ(w.cmdPing->text(), "No sockets!");
}

TEST(PagingWindow, ShowsTheCountGrowingAndClosesWhenTheDiscoveryEnds)
{
    AppFixture f;
    MainWindow& w = startOn(f, kOneEncoder);
    clickEntry(w, 0);
    w.onToolbarButton(6);
    for (int i = 2; i <= 3; ++i)
        f.arp.table[0x0A000000u + quint32(i)] =
            QByteArray::fromHex("0050C20000" + QByteArray::number(10 + i));
    f.boxes.answers << MsgAnswer::Yes;
    whenShown<PagingWindow>([&](PagingWindow* paging) {
        EXPECT_EQ(paging->lblAnswered->text(), "Elements answered: 0");
        EXPECT_FALSE(w.chkGetVolume->isChecked());
        for (int i = 2; i <= 3; ++i) {
            ElementConfig r;
            r.ip = QString("10.0.0.%1").arg(i);
            r.mask = "255.0.0.0";
            r.gateway = r.remote = "10.0.0.1";
            r.name = QString("FOUND %1").arg(i);
            std::tie(r.role, r.serial) = std::pair(i - 1, i);
            w.station().link().acceptDatagram(buildConfigReply(r));
            EXPECT_TRUE(
                waitUntil([&] { return paging->lblAnswered->text().endsWith(QString::number(i - 1)); }));
        }
        w.station().discovery().finish(); // the end of the wait, without waiting for it
        if (!waitUntil([&] { return !paging->isVisible(); }, 2000)) {
            ADD_FAILURE() << "the paging window stays open after the discovery";
            paging->close(); // ends the discovery
        }
    });
    w.onToolbarButton(1); // returns when the paging window has closed
    EXPECT_EQ(texts(w.TreeView1),
              (QStringList{"FOUND 2 [00:50:C2:00:00:12]", "FOUND 3 [00:50:C2:00:00:13]"}));
    EXPECT_EQ(texts(w.frmProperties->cmbEncoders), (QStringList{"<None>", "FOUND 2 [00:50:C2:00:00:12]"}));
    EXPECT_EQ(iniSections(f.storePath()), (QStringList{"0050C2000012", "0050C2000013"}));
    EXPECT_FALSE(w.station().discovery().isRunning());
    EXPECT_FALSE(w.levelMonitor().isRunning());
    EXPECT_FALSE(w.toolbarButton(6)->isEnabled() || w.toolbarButton(7)->isEnabled()); // nothing selected
    EXPECT_EQ(f.boxes.shown.size(), 1) << f.boxes.texts().join('|').toStdString();
}
