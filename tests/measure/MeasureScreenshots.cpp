// Grabs both measurement windows with live values, for the documentation:
//   measure_screenshots <output folder>   (writes StatisticsWindow.png and AdjustWindow.png)
// It talks to an in-process stand-in element over loopback (127.0.0.1 and 127.0.0.2, port 2978);
// run it inside `unshare -n` so that nothing else on the machine is in the way.
#include "StandInElement.h"

#include "gui/AdjustWindow.h"
#include "gui/StatisticsWindow.h"
#include "platform/FatalError.h"
#include "platform/UserSettings.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMap>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

// No message is expected; one that appears is printed and fails the run.
class PrintedBoxes : public vexo::MessageBoxes
{
public:
    vexo::MsgAnswer show(const vexo::MessageBoxRequest& request) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(request.text));
        ++shown;
        return request.defaultButton;
    }
    int shown = 0;
};

class MapSettings : public vexo::UserSettings
{
public:
    QString value(const QString& key, const QString& defaultValue) const override
    {
        return values.value(key, defaultValue);
    }
    void setValue(const QString& key, const QString& value) override { values[key] = value; }
    QMap<QString, QString> values;
};

class NoEnd : public vexo::ProgramEnd
{
public:
    void end(int) override {}
};

bool waitFor(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nms.ini"));
    const QString section = QStringLiteral("0050C2A1B2C3");
    for (const auto& [key, value] : {std::pair{"name", "STUDIO A DEC"},
                                     {"ip", "127.0.0.2"},
                                     {"role", "2"},
                                     {"sfn", "1"},
                                     {"dly", "2500"},
                                     {"srv", "1"}})
        vexo::writeToIni(section, QString::fromLatin1(key), QString::fromLatin1(value), path);
    vexo::ElementStore store(path);
    PrintedBoxes boxes;
    MapSettings settings;
    settings.values[QStringLiteral("AutoClearCounters")] = QStringLiteral("1");
    NoEnd end;
    vexo::FatalError fatal(boxes, end);
    vexo::SelectedElement selected(store);
    selected.select(QStringLiteral("00:50:C2:A1:B2:C3"));
    selected.setRoleCaption(QStringLiteral("DECODER"));
    const vexo::MeasureServices services{store,    selected, boxes,
                                         settings, fatal,    QHostAddress(QStringLiteral("127.0.0.1"))};

    StandInElement element;
    if (!element.bind()) {
        std::fprintf(stderr, "cannot bind 127.0.0.2:2978 (run inside unshare -n)\n");
        return 1;
    }
    auto& r = element.record;
    r.txFramesOk = 1843276;
    r.rxFramesOk = 1843190;
    r.txFramesErr = 0;
    r.rxFramesErr = 12;
    r.ptpSyncOk = 115204;
    r.ptpSyncErr = 3;
    r.ptpSyncValue = -35;
    r.ptpSyncLatency = 150000;
    r.rxAudioFramesOk = 1843178;
    r.rxAudioFramesErr = 4611;
    r.propagationDelayAverage = 1000000;
    r.propagationDelayMinimum = 987650;
    r.propagationDelayMaximum = 1012875;
    r.additionalDelay = 250000;
    r.autoServoValue = -1200;
    r.autoServo = 1;

    int failures = 0;
    {
        vexo::StatisticsWindow w(services);
        if (!w.openLink())
            return 1;
        w.show();
        if (!waitFor([&] { return w.findChild<QLabel*>(QStringLiteral("lblMACTxOK"))->text() != "-"; }))
            ++failures;
        if (!w.grab().save(out + QStringLiteral("/StatisticsWindow.png")))
            ++failures;
        w.close();
    }
    {
        vexo::AdjustWindow w(services);
        if (!w.openLink())
            return 1;
        w.show();
        if (!waitFor([&] { return w.findChild<QLabel*>(QStringLiteral("lblDelaySumMAX"))->text() != "-"; }))
            ++failures;
        if (!w.grab().save(out + QStringLiteral("/AdjustWindow.png")))
            ++failures;
        w.close();
    }
    return failures == 0 && boxes.shown == 0 ? 0 : 1;
}
