// Grabs both measurement windows with live values, for the documentation:
//   measure_screenshots <output folder>   (writes StatisticsWindow.png and AdjustWindow.png)
// Talks to an in-process stand-in element on 127.0.0.2:2978; run it inside `unshare -n`.
#include "MeasureFixture.h"

#include "gui/AdjustWindow.h"
#include "gui/StatisticsWindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStyleFactory>

template <typename Window>
bool shoot(const vexo::MeasureServices& services, const QString& file, const char* last)
{
    Window w(services);
    if (!w.openLink())
        return false;
    w.show();
    const bool ok = waitUntil([&] { return w.template findChild<QLabel*>(last)->text() != "-"; });
    return ok && w.grab().save(file);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QTemporaryDir dir;
    vexo::ElementStore store(dir.filePath(QStringLiteral("nms.ini")));
    const QString mac = QStringLiteral("00:50:C2:A1:B2:C3");
    for (const auto& [key, value] : {std::pair{"name", "STUDIO A DEC"},
                                     {"ip", "127.0.0.2"},
                                     {"sfn", "1"},
                                     {"dly", "2500"},
                                     {"srv", "1"}})
        store.write(mac, key, value);
    FakeMessageBoxes boxes; // none is expected
    FakeSettings settings;
    FakeProgramEnd end;
    vexo::FatalError fatal(boxes, end);
    vexo::SelectedElement selected(store);
    selected.select(mac);
    selected.setRoleCaption(QStringLiteral("DECODER"));
    StandInElement element;
    element.record = {1843276, 1843190, 0,       12,     115204,  3,      -35,   150000,
                      1843178, 4611,    1000000, 987650, 1012875, 250000, -1200, 1};
    const vexo::MeasureServices services{store, selected, boxes, settings, fatal, QHostAddress::LocalHost};
    const bool ok = element.bind() && QDir().mkpath(out) &&
                    shoot<vexo::StatisticsWindow>(services, out + "/StatisticsWindow.png", "lblMACTxOK") &&
                    shoot<vexo::AdjustWindow>(services, out + "/AdjustWindow.png", "lblDelaySumMAX");
    if (!boxes.shown.isEmpty())
        qWarning("unexpected message: %s", qPrintable(boxes.texts().join('|')));
    return ok && boxes.shown.isEmpty() ? 0 : 1;
}
