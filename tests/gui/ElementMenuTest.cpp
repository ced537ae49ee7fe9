// The element tree's context menu and the History window, wired to the station core: the element
// under the pointer (or the current one, for the menu key) is selected first, the actions reach
// the clipboard, the journal and the editor, the list kept before a discovery comes back, and a
// journal that cannot be written is said once.
#include "AppFixture.h"
#include "gui/HistoryWindow.h"
#include "gui/PropertiesPanel.h"
#include "journal/Journal.h"
#include "journal/Recorders.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSysInfo>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QByteArray kTwo = "[0050C2000001]\nNAME=AAA\nROLE=1\nIP=10.0.0.5\nMASK=255.0.0.0\nGW=10.0.0.1\n"
                        "REMOTE=10.0.0.6\nINPUT=1\nTYPE=1\nTX=0\n"
                        "[0050C2000002]\nNAME=BBB\nROLE=2\nIP=127.0.0.2\nMASK=255.0.0.0\nGW=10.0.0.1\n"
                        "MULTI=239.1.1.1\nINPUT=0\nTYPE=0\nTX=1\nBUF=4\nSDM=0\nSDL=37\nSDT=43\n";

// The menu as the right button (over `row`, -1: below every entry) or the menu key opens it.
QMenu* openMenu(MainWindow& w, int row, bool key = false)
{
    auto* tree = child<QTreeWidget>(w, "TreeView1");
    const QPoint at = row >= 0 ? tree->visualItemRect(tree->topLevelItem(row)).center()
                               : QPoint(5, tree->viewport()->height() - 5);
    QContextMenuEvent e(key ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse, at,
                        tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(key ? static_cast<QWidget*>(tree) : tree->viewport(), &e);
    return tree->findChild<QMenu*>("mnuElement");
}

} // namespace

TEST(ElementMenu, SelectsTheElementUnderThePointerAndItsActionsAreWired)
{
    AppFixture f;
    MainWindow& w = f.startOn(kTwo);
    const struct
    {
        int row;
        bool key;
        const char* selected; // "-": none
    } rows[] = {
        {1, false, "00:50:C2:00:00:02"}, {0, false, "00:50:C2:00:00:01"}, {-1, false, "00:50:C2:00:00:01"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        QMenu* menu = openMenu(w, r.row, r.key);
        ASSERT_TRUE(menu && menu->isVisible());
        EXPECT_EQ(child<PropertiesPanel>(w, "frmProperties")->selectedMac(), r.selected);
        EXPECT_EQ(child<QAction>(*menu, "actHistory")->isVisible(), r.row >= 0);
        EXPECT_TRUE(child<QAction>(*menu, "actRestoreList")->isVisible());
        menu->hide();
    }
    // The menu key acts on the current entry.
    child<QTreeWidget>(w, "TreeView1")->setCurrentItem(child<QTreeWidget>(w, "TreeView1")->topLevelItem(1));
    QMenu* menu = openMenu(w, -1, true);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(child<PropertiesPanel>(w, "frmProperties")->selectedMac(), "00:50:C2:00:00:02");
    // ... and opens beside it, not somewhere else on the screen
    auto* tree = child<QTreeWidget>(w, "TreeView1");
    EXPECT_TRUE(
        tree->visualItemRect(tree->topLevelItem(1)).contains(tree->viewport()->mapFromGlobal(menu->pos())));
    child<QAction>(*menu, "actCopyMac")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "00:50:C2:00:00:02");
    child<QAction>(*menu, "actCopyIp")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "127.0.0.2");
    child<QAction>(*menu, "actPing")->trigger();
    EXPECT_TRUE(waitUntil([&] { return f.icmp.echoedTo == 0x7F000002; }));
    EXPECT_TRUE(f.boxes.shown.isEmpty());
}

TEST(ElementMenu, HistoryLoadsAnEntryAsUnsavedEditsAndTheListComesBack)
{
    AppFixture f;
    MainWindow& w = f.startOn(kTwo);
    // GIVEN the decoder's confirmed configuration NIGHT in the journal, and a store kept before a discovery
    const QString mac = "00:50:C2:00:00:02";
    const StoredElement before = StoredElement::load(w.station().store(), mac);
    ConfigureOutcome o;
    o.result = ConfigureOutcome::Result::Confirmed;
    o.mac = mac, o.sent = o.reported = before.config(), o.sent.name = o.reported.name = "NIGHT";
    o.sent.buffer = o.reported.buffer = 7;
    ASSERT_TRUE(recordConfigure(w.journal(), o, before));
    const qint64 copy = w.journal().saveStoreCopy(f.storePath()).value_or(0);
    ASSERT_TRUE(copy > 0 && recordDiscovery(w.journal(), 0, copy));
    // WHEN History... is chosen over the decoder and the entry loaded into the editor
    child<QAction>(*openMenu(w, 1), "actHistory")->trigger();
    const QByteArray stored = readFile(f.storePath());
    auto* history = w.findChild<HistoryWindow*>("frmHistory");
    ASSERT_TRUE(history && history->isVisible() && !history->isModal());
    auto* table = child<QTableWidget>(*history, "tblHistory");
    ASSERT_EQ(table->rowCount(), 1);
    QStringList columns;
    for (int c = 0; c < table->columnCount(); ++c)
        columns << table->horizontalHeaderItem(c)->text();
    EXPECT_EQ(columns, QStringList({"Time", "Operation", "Changes (old -> new)", "Outcome", "User"}));
    EXPECT_GE(table->columnWidth(0), table->fontMetrics().horizontalAdvance(table->item(0, 0)->text()));
    EXPECT_EQ(table->item(0, 2)->text(), "name: BBB -> NIGHT; buf: 4 -> 7");
    EXPECT_EQ(table->item(0, 3)->text(), "Confirmed");
    EXPECT_EQ(table->item(0, 4)->toolTip(),
              QString("%1 on %2 (window)").arg(table->item(0, 4)->text(), QSysInfo::machineHostName()));
    EXPECT_FALSE(child<QLabel>(*history, "historyProblem")->isVisible()); // nothing went wrong
    EXPECT_FALSE(child<QPushButton>(*history, "cmdLoadIntoEditor")->isEnabled());
    table->selectRow(0);
    EXPECT_TRUE(child<QPushButton>(*history, "cmdLoadIntoEditor")->isEnabled());
    table->clearSelection();
    EXPECT_FALSE(child<QPushButton>(*history, "cmdLoadIntoEditor")->isEnabled());
    table->selectRow(0);
    child<QLineEdit>(w, "txtElementName")->setFocus();
    QTest::mouseClick(child<QPushButton>(*history, "cmdLoadIntoEditor"), Qt::LeftButton);
    // THEN the panel holds it as unsaved edits: nothing sent, nothing stored
    EXPECT_EQ(child<QLineEdit>(w, "txtElementName")->text(), "NIGHT");
    EXPECT_EQ(child<QScrollBar>(w, "scrlBuffer")->value(), 7);
    // A double click on the entry does the same
    child<QLineEdit>(w, "txtElementName")->setText("OTHER");
    emit table->cellDoubleClicked(0, 1);
    EXPECT_EQ(child<QLineEdit>(w, "txtElementName")->text(), "NIGHT");
    EXPECT_EQ(readFile(f.storePath()), stored);
    EXPECT_FALSE(w.station().isAwaitingAnswer());
    // Refresh shows what was journaled since; Close closes
    o.result = ConfigureOutcome::Result::NoAnswer;
    ASSERT_TRUE(recordConfigure(w.journal(), o, before));
    QTest::mouseClick(child<QPushButton>(*history, "cmdRefresh"), Qt::LeftButton);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->horizontalHeader()->length(), table->viewport()->width()); // the changes take the rest
    EXPECT_EQ(QStringList({table->item(0, 3)->text(), table->item(1, 3)->text()}).join('|'),
              "No answer|Confirmed");
    const QPointer<HistoryWindow> closing(history); // deleted once closed
    QTest::mouseClick(child<QPushButton>(*history, "cmdClose"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());

    // WHEN the store was emptied and the list is restored, answered Yes
    ASSERT_TRUE(writeFile(f.storePath(), ""));
    f.boxes.answers << MsgAnswer::Yes;
    child<QAction>(*openMenu(w, -1), "actRestoreList")->trigger();
    // THEN the store is back byte for byte as it was kept, and the tree shows it again
    EXPECT_EQ(readFile(f.storePath()), kTwo);
    EXPECT_EQ(child<QTreeWidget>(w, "TreeView1")->topLevelItemCount(), 2);
    ASSERT_EQ(f.boxes.shown.size(), 2);
    EXPECT_EQ(f.boxes.shown[0].icon, MsgIcon::Question);
    EXPECT_TRUE(f.boxes.shown[1].text.contains("restored (2 elements)"))
        << f.boxes.shown[1].text.toStdString();
}

TEST(ElementMenu, AJournalThatCannotBeWrittenIsSaidOnceAndStopsNothing)
{
    AppFixture f;
    ASSERT_TRUE(writeFile(f.dir.filePath("nms-journal.db"), QByteArray(4096, 'z')));
    MainWindow& w = f.startOn(kTwo);
    for (int position : {100, 101})
        EXPECT_TRUE(w.station().setAttenuation("00:50:C2:00:00:02", position).stored);
    ASSERT_EQ(f.boxes.shown.size(), 1);
    EXPECT_EQ(f.boxes.shown[0].icon, MsgIcon::Warning);
    EXPECT_TRUE(f.boxes.shown[0].text.startsWith("Changes are not being journaled: journal "));
    EXPECT_TRUE(f.boxes.shown[0].text.contains("not a database"));
    // The element's History says why it has nothing to show
    auto* problem = child<QLabel>(*w.openHistory("00:50:C2:00:00:02"), "historyProblem");
    EXPECT_TRUE(problem->isVisible());
    EXPECT_TRUE(problem->text().startsWith("The journal cannot be read: ")) << problem->text().toStdString();
}
