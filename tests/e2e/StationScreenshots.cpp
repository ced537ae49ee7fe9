// Pictures of the station at work for the documentation: the paging window during a discovery of
// a small lab, the main window afterwards with a decoder selected, and with an encoder's level
// monitored. Runs offscreen; needs root in a private network namespace (it builds a lab).
#include "LabStation.h"
#include "discovery/Paging.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

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
    LabStation station;
    QString error;
    if (!station.start(2, 2, 1, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    MainWindow& window = *station.window;
    window.show();

    // The paging window, half way through its three seconds.
    QTimer::singleShot(1500, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* paging = qobject_cast<frmPaging*>(w); paging && paging->isVisible())
                paging->grab().save(out + QStringLiteral("/paging.png"));
        }
    });
    station.discover();

    station.select(2); // the SFN decoder
    window.grab().save(out + QStringLiteral("/main-window-lab.png"));
    station.select(0);
    window.onToolbarButton(6);
    QTest::qWait(600); // let the level meter move
    window.grab().save(out + QStringLiteral("/main-window-encoder.png"));
    std::printf("pictures written to %s\n", qPrintable(out));
    return 0;
}
