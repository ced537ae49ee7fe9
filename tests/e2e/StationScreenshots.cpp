// Pictures of the station at work for the documentation: the paging window during a discovery of
// a small lab, the main window afterwards with a decoder selected, and the panel of an encoder.
// Runs offscreen; needs root in a private network namespace (it builds a lab).
#include "AppFixture.h"
#include "Lab.h"
#include "app/ElementTree.h"
#include "discovery/Paging.h"
#include "editor/PropertiesPanel.h"
#include "platform/Arp.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <cstdio>

using namespace vexo;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    if (!Lab::unavailableReason().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(Lab::unavailableReason()));
        return 1;
    }
    Lab lab;
    QString error;
    if (!lab.up(2, 2, 1, &error)) {
        std::fprintf(stderr, "lab: %s\n", qPrintable(error));
        return 1;
    }
    AppFixture f;
    NeighbourTableArp arp;
    MainWindow window(Services{f.boxes, f.settings, f.guard, f.programEnd, arp, f.icmp, f.storePath(),
                               QHostAddress::AnyIPv4},
                      {});
    if (!window.startUp())
        return 1;
    window.show();

    // The paging window, half way through its three seconds.
    QTimer::singleShot(1500, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* paging = qobject_cast<frmPaging*>(w); paging && paging->isVisible())
                paging->grab().save(out + QStringLiteral("/paging.png"));
        }
    });
    f.boxes.answers << MsgAnswer::Yes;
    window.onToolbarButton(1);

    const auto select = [&](int index) {
        QTreeWidgetItem* item = window.tree().findEntry(lab.elements()[index].mac);
        if (!item)
            return;
        QTest::mouseClick(window.TreeView1->viewport(), Qt::LeftButton, {},
                          window.TreeView1->visualItemRect(item).center());
    };
    select(2); // the SFN decoder
    window.grab().save(out + QStringLiteral("/main-window-lab.png"));
    select(0);
    window.onToolbarButton(6);
    QTest::qWait(600); // let the level meter move
    window.grab().save(out + QStringLiteral("/main-window-encoder.png"));
    std::printf("pictures written to %s\n", qPrintable(out));
    return 0;
}
