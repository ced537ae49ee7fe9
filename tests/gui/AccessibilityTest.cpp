// What a screen reader finds in the station's windows, read through QAccessible as the desktop's
// accessibility bridge reads it, and a save done with keys only.
#include "gui/Accessibility.h"
#include "AppFixture.h"
#include "gui/AdjustWindow.h"
#include "gui/DisclaimerDialog.h"
#include "gui/PagingWindow.h"
#include "gui/PropertiesPanel.h"
#include "gui/StatisticsWindow.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QByteArray kStore = "[0050C2000001]\nNAME=STUDIO A\nIP=10.0.0.5\nMASK=255.0.0.0\nGW=10.0.0.1\n"
                          "REMOTE=10.0.0.6\nINPUT=1\nTYPE=1\nTX=0\nROLE=1\n[0050C2000002]\nNAME=TX SITE "
                          "B\nIP=10.0.0.6\nROLE=2\nSFN=1\n";

// What is wrong with the objects a screen reader reaches from the window.
QStringList accessibilityFaults(QWidget* window)
{
    const QList<QAccessible::Role> controlRoles = {
        QAccessible::EditableText, QAccessible::ComboBox, QAccessible::ScrollBar,
        QAccessible::Slider,       QAccessible::CheckBox, QAccessible::PushButton,
        QAccessible::ButtonMenu,   QAccessible::Tree,     QAccessible::ToolBar};
    QStringList faults, groupTitles;
    QMap<QString, int> names;
    QList<QAccessibleInterface*> controls;
    std::function<void(QAccessibleInterface*, int)> visit = [&](QAccessibleInterface* node, int depth) {
        const QAccessible::Role role = node->role();
        const QString name = node->text(QAccessible::Name);
        const QString what =
            QString("%1 \"%2\" (%3)").arg(qAccessibleRoleString(role), name, node->object()->objectName());
        if (role == QAccessible::Grouping)
            groupTitles << name;
        if (role == QAccessible::Border ||
            (depth > 0 && (role == QAccessible::Window || role == QAccessible::Dialog)) ||
            (role == QAccessible::Client && node->childCount() == 0))
            faults << "decoration exposed: " + what;
        if (controlRoles.contains(role)) {
            controls << node;
            ++names[name];
        }
        // A value label is read with its caption.
        if (role == QAccessible::StaticText && node->object()->objectName().startsWith("lbl") &&
            !name.contains(": ") && node->relations(QAccessible::Label).isEmpty())
            faults << "value without caption: " + what;
        if (role == QAccessible::ComboBox || role == QAccessible::Tree)
            return; // their entries are values, not controls
        for (int i = 0; i < node->childCount(); ++i)
            visit(node->child(i), depth + 1);
    };
    visit(QAccessible::queryAccessibleInterface(window), 0);
    for (QAccessibleInterface* c : controls) {
        const QString name = c->text(QAccessible::Name);
        const QString what = QString("%1 (%2)").arg(name, c->object()->objectName());
        if (name.isEmpty() || names[name] > 1 || groupTitles.contains(name))
            faults << "empty, shared or group name: " + what;
        if (c->role() == QAccessible::ComboBox && !name.isEmpty() && name == c->text(QAccessible::Value))
            faults << "named by its entry: " + what;
        auto* widget = qobject_cast<QWidget*>(c->object());
        if (c->role() != QAccessible::ToolBar && !widget->isHidden() &&
            !(widget->focusPolicy() & Qt::TabFocus))
            faults << "not reached with Tab: " + what;
        for (const auto& [label, relation] : c->relations(QAccessible::Label)) {
            auto* caption = qobject_cast<QLabel*>(label->object());
            if (caption && c->role() != QAccessible::PushButton &&
                name != a11y::spokenCaption(caption->text()))
                faults << QString("not named after \"%1\": %2").arg(caption->text(), what);
        }
    }
    return faults;
}

void selectRow(MainWindow& w, int row)
{
    QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                      w.TreeView1->visualItemRect(w.TreeView1->topLevelItem(row)).center());
}

} // namespace

TEST(Accessibility, EveryWindowNamesItsControlsAndHidesItsDecoration)
{
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), kStore));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    w.show();
    Station& s = w.station();
    // The measurement windows are walked without opening their link.
    const MeasureServices measure{s.store(),  s.selection(), f.boxes,
                                  f.settings, s.fatal(),     QHostAddress::LocalHost};
    std::unique_ptr<QWidget> window;
    auto shown = [&](QWidget* dialog) { return window.reset(dialog), dialog->show(), dialog; };
    const struct
    {
        const char* window;
        std::function<QWidget*()> open;
    } cases[] = {
        {"main window, nothing selected", [&] { return &w; }},
        {"main window, encoder", [&] { return selectRow(w, 0), &w; }},
        {"main window, multicast encoder",
         [&] { return w.frmProperties->cmbAudioTX->setCurrentIndex(1), &w; }},
        {"main window, decoder", [&] { return selectRow(w, 1), &w; }},
        {"notice", [&] { return shown(new DisclaimerDialog(f.settings, &w)); }},
        {"paging",
         [&] {
             return (window = std::make_unique<PagingWindow>(s.discovery(), &w)).get();
         }}, // not shown: it would page
        {"statistics", [&] { return shown(new StatisticsWindow(measure, &w)); }},
        {"SFN adjustment", [&] { return shown(new AdjustWindow(measure, &w)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        EXPECT_EQ(accessibilityFaults(c.open()), QStringList{});
    }
}

TEST(Accessibility, SaveWithKeysOnly)
{
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), kStore));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // WHEN the operator tabs from the toolbar to the tree, opens the first entry with Enter, tabs
    // to the name, types a new one and saves with Ctrl+S
    ASSERT_EQ(QApplication::focusWidget(), w.Toolbar1->widgetForAction(w.toolbarButton(1)));
    QLineEdit* name = w.frmProperties->txtElementName;
    const struct
    {
        int key;
        QWidget* focus; // where the focus is afterwards, if it matters
    } steps[] = {{Qt::Key_Tab, nullptr},      {Qt::Key_Tab, nullptr},        {Qt::Key_Tab, w.TreeView1},
                 {Qt::Key_Home, w.TreeView1}, {Qt::Key_Return, w.TreeView1}, {Qt::Key_Tab, name}};
    for (const auto& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(step.key));
        ASSERT_TRUE(!step.focus || QApplication::focusWidget() == step.focus) << step.key;
    }
    QTest::keyClicks(name, "studio b");
    QTest::keyClick(name, Qt::Key_S, Qt::ControlModifier);
    // THEN the encoder's new name is asked to be sent
    EXPECT_EQ(w.frmProperties->selectedMac(), "00:50:C2:00:00:01");
    EXPECT_EQ(w.station().selection().draft().name, "studio b");
    EXPECT_EQ(f.boxes.texts().size(), 1);
    EXPECT_TRUE(f.boxes.texts().value(0).endsWith("Are you sure?")) << f.boxes.texts().value(0).toStdString();
}
