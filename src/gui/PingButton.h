#pragma once

class QPushButton;

namespace vexo {

class MessageBoxes;
struct PingOutcome;

// cmdPing shows the ping test: light yellow "Trying..." while it runs, then green with the
// round-trip time, or light red "Failed!" / "No sockets!" (after the operator has been told that
// no ICMP facility answers). An address that is no dotted quad leaves "Trying...": no test ran.
void showPingTrying(QPushButton* cmdPing);
void showPingOutcome(QPushButton* cmdPing, MessageBoxes& boxes, const PingOutcome& outcome);

} // namespace vexo
