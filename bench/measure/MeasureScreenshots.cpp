// Grabs both measurement windows with live values, for the documentation:
//   measure_screenshots <output folder>   (writes StatisticsWindow.png and AdjustWindow.png)
// Talks to the tests' stand-in element on 127.0.0.2:2978; run it inside `unshare -n`.
#include "MeasureFixture.h"

#include "gui/AdjustWindow.h"
#include "gui/StatisticsWindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStyleFactory>

template <typename Window> bool shoot(MeasureFixture& f, const QString& file, const char* last)
{
    Window w(f.services(), f.boxes, f.fatal);
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
    struct Shots : MeasureFixture
    {
        void TestBody() override {}
    } f; // the element is "STUDIO A", an SFN decoder at 127.0.0.2 answering on 2978
    f.SetUp();
    f.setKey("dly", "2500"), f.setKey("srv", "1");
    f.element.record = {1843276, 1843190, 0,       12,     115204,  3,      -35,   150000,
                        1843178, 4611,    1000000, 987650, 1012875, 250000, -1200, 1};
    const bool ok = f.element.state() == QAbstractSocket::BoundState && QDir().mkpath(out) &&
                    shoot<vexo::StatisticsWindow>(f, out + "/StatisticsWindow.png", "lblMACTxOK") &&
                    shoot<vexo::AdjustWindow>(f, out + "/AdjustWindow.png", "lblDelaySumMAX");
    const FakeMessageBoxes& boxes = f.boxes; // none is expected
    if (!boxes.shown.isEmpty())
        qWarning("unexpected message: %s", qPrintable(boxes.texts().join('|')));
    return ok && boxes.shown.isEmpty() ? 0 : 1;
}
