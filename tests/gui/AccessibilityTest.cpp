// What a screen reader or an automation tool finds in the station's windows, read through
// QAccessible as the desktop's accessibility bridge reads it, and a save done with keys only.
#include "gui/Accessibility.h"
#include "../app/AppFixture.h"
#include "TestUtil.h"
#include "gui/AdjustWindow.h"
#include "gui/DisclaimerDialog.h"
#include "gui/PagingWindow.h"
#include "gui/PropertiesPanel.h"
#include "gui/QtMessageBoxes.h"
#include "gui/StatisticsWindow.h"
#include "link/ConfigCodec.h"
#include "store/ElementStore.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QSet>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <iostream>

using namespace vexo;

namespace {

const QString kEncoderMac = QStringLiteral("00:50:C2:00:00:01");
const QByteArray kStore = "[0050C2000001]\nNAME=STUDIO A\nIP=127.0.0.2\nMASK=255.255.255.0\nGW=127.0.0.1\n"
                          "REMOTE=127.0.0.3\nINPUT=1\nTYPE=1\nTX=0\nROLE=1\nSN=32769\nVER=3.1\n"
                          "[0050C2000002]\nNAME=TX SITE B\nIP=10.0.0.6\nMASK=255.255.255.0\nGW=10.0.0.1\n"
                          "MULTI=239.1.1.1\nTYPE=1\nROLE=2\nSN=3\nVER=3.1\nSFN=1\nBUF=4\nSDM=0\nSDL=37\n"
                          "SDT=43\nATT=200\n";

bool interactive(QAccessible::Role role)
{
    static const QSet<QAccessible::Role> roles = {
        QAccessible::EditableText, QAccessible::ComboBox, QAccessible::ScrollBar,
        QAccessible::Slider,       QAccessible::CheckBox, QAccessible::PushButton,
        QAccessible::ButtonMenu,   QAccessible::Tree,     QAccessible::ToolBar};
    return roles.contains(role);
}

// Walks the objects a screen reader can reach from the window; returns what is wrong with them and
// lists role and name per object in `tree`.
QStringList accessibilityFaults(QWidget* window, QStringList* tree = nullptr)
{
    QStringList faults;
    QMap<QString, int> names;
    QStringList groupTitles;
    QList<QAccessibleInterface*> controls;
    std::function<void(QAccessibleInterface*, int)> visit = [&](QAccessibleInterface* node, int depth) {
        const QAccessible::Role role = node->role();
        const QString name = node->text(QAccessible::Name);
        if (tree)
            *tree << QString(depth * 2, QLatin1Char(' ')) +
                         QStringLiteral("%1 \"%2\" (%3)%4")
                             .arg(qAccessibleRoleString(role), name, node->object()->objectName(),
                                  node->state().invisible ? QStringLiteral(" hidden") : QString());
        if (role == QAccessible::Grouping)
            groupTitles << name;
        if (role == QAccessible::Border ||
            (depth > 0 && (role == QAccessible::Window || role == QAccessible::Dialog)) ||
            (role == QAccessible::Client && node->childCount() == 0))
            faults << QStringLiteral("decoration exposed: %1 %2").arg(qAccessibleRoleString(role), name);
        if (interactive(role)) {
            controls << node;
            ++names[name];
        }
        // A value label ("lbl..." showing a value, not a sentence of its own) is read with its caption.
        if (role == QAccessible::StaticText &&
            node->object()->objectName().startsWith(QLatin1String("lbl")) &&
            !name.contains(QLatin1String(": ")) && node->relations(QAccessible::Label).isEmpty())
            faults << QStringLiteral("value without caption: ") + node->object()->objectName();
        if (role == QAccessible::ComboBox || role == QAccessible::Tree)
            return; // their entries are values, not controls
        for (int i = 0; i < node->childCount(); ++i)
            visit(node->child(i), depth + 1);
    };
    visit(QAccessible::queryAccessibleInterface(window), 0);
    for (QAccessibleInterface* c : controls) {
        const QString name = c->text(QAccessible::Name);
        const QString what = QStringLiteral("%1 (%2)").arg(name, c->object()->objectName());
        if (name.isEmpty() || names[name] > 1 || groupTitles.contains(name))
            faults << QStringLiteral("empty, shared or group name: ") + what;
        if (c->role() == QAccessible::ComboBox && name == c->text(QAccessible::Value) && !name.isEmpty())
            faults << QStringLiteral("named by its entry: ") + what;
        auto* widget = qobject_cast<QWidget*>(c->object());
        if (c->role() != QAccessible::ToolBar && !widget->isHidden() &&
            !(widget->focusPolicy() & Qt::TabFocus))
            faults << QStringLiteral("not reached with Tab: ") + what;
        // A field labelled by a caption is named after the caption it shows now.
        for (const auto& [label, relation] : c->relations(QAccessible::Label)) {
            auto* caption = qobject_cast<QLabel*>(label->object());
            if (caption && c->role() != QAccessible::PushButton &&
                name != a11y::spokenCaption(caption->text()))
                faults << QStringLiteral("not named after \"%1\": %2").arg(caption->text(), what);
        }
    }
    return faults;
}

class Accessibility : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(writeFile(f.storePath(), kStore)); }

    void select(MainWindow& w, int row)
    {
        QTreeWidgetItem* item = w.TreeView1->topLevelItem(row);
        QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                          w.TreeView1->visualItemRect(item).center());
    }
    MeasureServices measureServices(MainWindow& w)
    {
        // The measurement windows are walked without opening their link: nothing is asked of an element.
        Station& s = w.station();
        return {s.store(), s.selection(), f.boxes, f.settings, s.fatal(), QHostAddress::LocalHost};
    }

    AppFixture f;
};

} // namespace

TEST_F(Accessibility, EveryWindowNamesItsControlsAndHidesItsDecoration)
{
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    w.show();
    std::unique_ptr<QWidget> window;
    auto shown = [&](QWidget* dialog) { return window.reset(dialog), dialog->show(), dialog; };
    const struct
    {
        const char* window;
        std::function<QWidget*()> open;
    } cases[] = {
        {"main window, nothing selected", [&] { return &w; }},
        {"main window, encoder", [&] { return select(w, 0), &w; }},
        {"main window, encoder sending multicast",
         [&] { return w.frmProperties->cmbAudioTX->setCurrentIndex(1), &w; }},
        {"main window, decoder", [&] { return select(w, 1), &w; }},
        {"notice", [&] { return shown(new DisclaimerDialog(f.settings, &w)); }},
        {"paging", // not shown: showing it pages the network
         [&] { return (window = std::make_unique<PagingWindow>(w.station().discovery(), &w)).get(); }},
        {"statistics", [&] { return shown(new StatisticsWindow(measureServices(w), &w)); }},
        {"SFN adjustment", [&] { return shown(new AdjustWindow(measureServices(w), &w)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        QStringList tree;
        EXPECT_EQ(accessibilityFaults(c.open(), &tree), QStringList{});
        if (qEnvironmentVariableIsSet("VEXO_A11Y_TREE"))
            std::cout << "== " << c.window << "\n" << tree.join(QLatin1Char('\n')).toStdString() << "\n";
    }
    // A message box, walked while it is open.
    QtMessageBoxes boxes(&w);
    QStringList boxFaults{QStringLiteral("the box did not open")};
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            boxFaults = accessibilityFaults(box);
            QTest::keyClick(box, Qt::Key_Escape);
        }
    });
    EXPECT_FALSE(boxes.askYesNo(QStringLiteral("Send configuration"), QStringLiteral("Are you sure?")));
    EXPECT_EQ(boxFaults, QStringList{});
}

TEST_F(Accessibility, SaveRoundTripWithKeysOnly)
{
    // GIVEN the station (real message boxes) and an encoder at 127.0.0.2 that takes on what it gets
    QUdpSocket element;
    ASSERT_TRUE(element.bind(QHostAddress(QStringLiteral("127.0.0.2")), kConfigPort));
    QObject::connect(&element, &QUdpSocket::readyRead, [&] {
        while (element.hasPendingDatagrams()) {
            const QNetworkDatagram d = element.receiveDatagram();
            ElementConfig r;
            ASSERT_TRUE(parseConfigRequest(d.data(), r));
            // role 1, serial 32769, version 3.1, attenuation 0; the rest as asked
            r.role = 1;
            r.serial = 32769;
            r.versionMajor = 3;
            r.versionMinor = 1;
            element.writeDatagram(buildConfigReply(r), d.senderAddress(), quint16(d.senderPort()));
        }
    });
    f.arp.table[0x7F000002] = QByteArray::fromHex("0050C2000001");
    QtMessageBoxes realBoxes;
    MainWindow w(Services{realBoxes, f.settings, f.guard, f.programEnd, f.arp, f.icmp, f.storePath(),
                          QHostAddress(QStringLiteral("127.0.0.1"))},
                 {});
    realBoxes.setParent(&w);
    ASSERT_TRUE(w.startUp());
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    // Each box that opens is answered with the next key: Y on the question, Enter on the report.
    QList<Qt::Key> keys{Qt::Key_Y, Qt::Key_Return};
    QStringList seen;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && !keys.isEmpty() && (seen.isEmpty() || seen.last() != box->text())) {
            seen << box->text();
            QTest::keyClick(box, keys.takeFirst());
        }
    });
    answerer.start(10);

    // WHEN the operator tabs past the toolbar to the tree, opens the first entry with Enter, tabs
    // to the name, types a new one and saves with Ctrl+S
    ASSERT_EQ(QApplication::focusWidget(), w.Toolbar1->widgetForAction(w.toolbarButton(1)));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w.TreeView1);
    QTest::keyClick(w.TreeView1, Qt::Key_Home);
    QTest::keyClick(w.TreeView1, Qt::Key_Return);
    ASSERT_EQ(w.frmProperties->selectedMac(), kEncoderMac);
    QTest::keyClick(w.TreeView1, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w.frmProperties->txtElementName);
    QTest::keyClicks(w.frmProperties->txtElementName, QStringLiteral("studio b"));
    QTest::keyClick(w.frmProperties->txtElementName, Qt::Key_S, Qt::ControlModifier);

    // THEN the question was confirmed, the element's answer stored and reported
    ASSERT_TRUE(waitUntil([&] { return seen.size() == 2 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(seen[1], QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
    EXPECT_EQ(w.station().store().read(kEncoderMac, keys::name).trimmed(), QStringLiteral("STUDIO B"));
}
