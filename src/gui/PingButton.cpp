#include "PingButton.h"

#include "WidgetColours.h"
#include "diagnostics/PingTest.h"
#include "platform/MessageBoxes.h"

#include <QPushButton>

namespace vexo {

namespace {

void show(QPushButton* cmdPing, const QColor& colour, const QString& caption)
{
    setButtonColour(cmdPing, colour);
    cmdPing->setText(caption);
}

} // namespace

void showPingTrying(QPushButton* cmdPing)
{
    show(cmdPing, kUntestedPingColour, QStringLiteral("Trying..."));
}

void showPingOutcome(QPushButton* cmdPing, MessageBoxes& boxes, const PingOutcome& outcome)
{
    using Result = PingOutcome::Result;
    switch (outcome.result) {
    case Result::Replied:
        show(cmdPing, kSuccessColour, QString::number(outcome.roundTripMs) + QStringLiteral(" ms"));
        break;
    case Result::Failed:
        show(cmdPing, kFailedColour, QStringLiteral("Failed!"));
        break;
    case Result::NoIcmp:
        boxes.critical(QStringLiteral("Ping failed"),
                       QStringLiteral("Windows Sockets not responding correctly."));
        show(cmdPing, kFailedColour, QStringLiteral("No sockets!"));
        break;
    case Result::NoAddress:
    case Result::InvalidAddress:
        break;
    }
}

} // namespace vexo
