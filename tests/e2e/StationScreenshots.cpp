// Pictures of the station at work for the documentation: the paging window during a discovery of
// a small lab, the main window afterwards with a decoder selected, that decoder's statistics and
// SFN adjustment windows, and the main window with an encoder's level monitored. Runs offscreen; needs root
// in a private network namespace (it builds a lab).
#include "LabStation.h"
#include "gui/PagingWindow.h"

#include <QApplication>
#include <QDialog>
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
            if (auto* paging = qobject_cast<PagingWindow*>(w); paging && paging->isVisible())
                paging->grab().save(out + QStringLiteral("/paging.png"));
        }
    });
    station.discover();

    station.select(2); // the SFN decoder
    window.grab().save(out + QStringLiteral("/main-window-lab.png"));

    // The measurement windows of the SFN decoder with what it reports, a second after opening.
    const auto grabDialog = [&](const char* name, const QString& file) {
        QTimer::singleShot(1200, [&, name, file] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QDialog*>(w);
                    dialog && dialog->isVisible() && w->objectName() == name) {
                    dialog->grab().save(out + file);
                    dialog->reject();
                }
            }
        });
    };
    grabDialog("frmAdjust", QStringLiteral("/AdjustWindow.png"));
    window.openAdjust();
    grabDialog("frmStatistics", QStringLiteral("/StatisticsWindow.png"));
    window.openStatistics();
    station.select(0);
    window.onToolbarButton(6);
    QTest::qWait(600); // let the level meter move
    window.grab().save(out + QStringLiteral("/main-window-encoder.png"));
    std::printf("pictures written to %s\n", qPrintable(out));
    return 0;
}
