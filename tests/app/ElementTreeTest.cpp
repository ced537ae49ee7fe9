#include "gui/ElementTree.h"
#include "AppFixture.h"
#include "gui/PropertiesPanel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

QStringList treeTexts(const MainWindow& w)
{
    QStringList texts;
    for (int i = 0; i < w.TreeView1->topLevelItemCount(); ++i)
        texts << w.TreeView1->topLevelItem(i)->text(0);
    return texts;
}

QStringList encoderTexts(const MainWindow& w)
{
    QStringList texts;
    for (int i = 0; i < w.frmProperties->cmbEncoders->count(); ++i)
        texts << w.frmProperties->cmbEncoders->itemText(i);
    return texts;
}

// Pictures 6 and 7 are told apart by what they draw.
QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(32, 32).toImage();
}

} // namespace

TEST(ElementTree, ListsEncodersAndOtherElementsInStoreOrder)
{
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000001]\nNAME=AAA\nROLE=1\n"
                                         "[0050C2000002]\nNAME=BBB\nROLE=2\n"
                                         "[0050C2000003]\nNAME=CCC\nROLE=0\n"
                                         "[0050c2000004]\nROLE=1\n"));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    EXPECT_TRUE(f.boxes.shown.isEmpty());
    EXPECT_EQ(treeTexts(w), (QStringList{"AAA [00:50:C2:00:00:01]", "BBB [00:50:C2:00:00:02]",
                                         "CCC [00:50:C2:00:00:03]", " [00:50:C2:00:00:04]"}));
    EXPECT_EQ(ElementTree::entryKey(w.TreeView1->topLevelItem(3)), "00:50:C2:00:00:04");
    EXPECT_EQ(encoderTexts(w), (QStringList{"<None>", "AAA [00:50:C2:00:00:01]", " [00:50:C2:00:00:04]"}));
    EXPECT_EQ(w.frmTreeView->title(), "Select element: (4 items)");
    const QImage encoder = iconImage(w.TreeView1->topLevelItem(0)->icon(0));
    EXPECT_NE(encoder, iconImage(w.TreeView1->topLevelItem(1)->icon(0)));
    EXPECT_EQ(iconImage(w.TreeView1->topLevelItem(1)->icon(0)),
              iconImage(w.TreeView1->topLevelItem(2)->icon(0)));
    EXPECT_EQ(encoder, iconImage(w.TreeView1->topLevelItem(3)->icon(0)));
}

TEST(ElementTree, HandEditedStoresNeverBreakTheList)
{
    // Non-MAC section names are not elements; a role that is no number is "other"; a duplicate
    // section (in another case) is listed once.
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), "junk before\n[GENERAL]\nX=1\n[0050C2ZZ0001]\nROLE=1\n"
                                         "[0050C2000001]\nNAME=AAA\nROLE=one\n"
                                         "[0050c2000001]\nNAME=again\nROLE=1\n"
                                         "[0050C2000002]\nNAME=BIG\nROLE=99999999999999999999\n"));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    EXPECT_EQ(treeTexts(w), (QStringList{"AAA [00:50:C2:00:00:01]", "BIG [00:50:C2:00:00:02]"}));
    EXPECT_EQ(encoderTexts(w), QStringList{"<None>"});
}

TEST(ElementTree, RefreshShowsOutsideEditsAndEmptiesThePanel)
{
    AppFixture f;
    ASSERT_TRUE(writeFile(f.storePath(), "[0050C2000001]\nNAME=AAA\nROLE=1\nIP=10.0.0.5\n"));
    MainWindow& w = f.make();
    ASSERT_TRUE(w.startUp());
    QTest::mouseClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                      w.TreeView1->visualItemRect(w.TreeView1->topLevelItem(0)).center());
    EXPECT_EQ(w.frmProperties->selectedMac(), "00:50:C2:00:00:01");
    EXPECT_EQ(w.frmProperties->txtElementIP->text(), "10.0.0.5");

    ASSERT_TRUE(
        writeFile(f.storePath(), "[0050C2000001]\nNAME=AAA\nROLE=1\n[0050C2000009]\nNAME=NEW\nROLE=2\n"));
    w.onToolbarButton(2);
    EXPECT_EQ(treeTexts(w), (QStringList{"AAA [00:50:C2:00:00:01]", "NEW [00:50:C2:00:00:09]"}));
    EXPECT_EQ(w.frmProperties->selectedMac(), "-");
    EXPECT_EQ(w.frmProperties->txtElementIP->text(), "");
    EXPECT_EQ(w.frmTreeView->title(), "Select element: (2 items)");
}

TEST(ElementTree, AThousandElementsAreAllListed)
{
    AppFixture f;
    // One encoder in the middle has the widest name.
    QByteArray text;
    for (int i = 0; i < 1000; ++i)
        text += QStringLiteral("[0050C2%1]\r\nNAME=%2\r\nROLE=%3\r\n")
                    .arg(i, 6, 16, QChar('0'))
                    .arg(i == 700 ? QStringLiteral("WMWMWMWMWMWMWMWM") : QStringLiteral("E%1").arg(i))
                    .arg(1 + i % 2)
                    .toUpper()
                    .toLatin1();
    ASSERT_TRUE(writeFile(f.storePath(), text));
    MainWindow& w = f.make();
    w.show();
    ASSERT_TRUE(w.startUp());
    EXPECT_EQ(w.TreeView1->topLevelItemCount(), 1000);
    EXPECT_EQ(w.frmProperties->cmbEncoders->count(), 501);
    EXPECT_EQ(w.frmTreeView->title(), "Select element: (1000 items)");
    // The encoders' drop-down and the tree's column are wide enough for the widest entry.
    const QString widest = "WMWMWMWMWMWMWMWM [00:50:C2:00:02:BC]";
    EXPECT_EQ(w.frmProperties->cmbEncoders->itemText(351), widest);
    QAbstractItemView* popup = w.frmProperties->cmbEncoders->view();
    EXPECT_GE(popup->minimumWidth(), QFontMetrics(popup->font()).horizontalAdvance(widest));
    // (The view's own measure of every entry, public in the base class.)
    const QAbstractItemView* view = w.TreeView1;
    EXPECT_GE(w.TreeView1->columnWidth(0), view->sizeHintForColumn(0));
}
