#include "PingButton.h"

#include "WidgetColours.h"
#include "diagnostics/PingTest.h"

#include <QPushButton>

namespace vexo {

void showPingOn(PingTest& test, QPushButton* cmdPing)
{
    auto show = [cmdPing](const QColor& colour, const QString& caption) {
        setButtonColour(cmdPing, colour);
        cmdPing->setText(caption);
    };
    QObject::connect(&test, &PingTest::started, cmdPing,
                     [show] { show(kUntestedPingColour, QStringLiteral("Trying...")); });
    QObject::connect(&test, &PingTest::succeeded, cmdPing,
                     [show](int ms) { show(kSuccessColour, QString::number(ms) + QStringLiteral(" ms")); });
    QObject::connect(&test, &PingTest::failed, cmdPing,
                     [show] { show(kFailedColour, QStringLiteral("Failed!")); });
    QObject::connect(&test, &PingTest::socketsUnavailable, cmdPing,
                     [show] { show(kFailedColour, QStringLiteral("No sockets!")); });
}

} // namespace vexo
