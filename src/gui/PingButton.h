#pragma once

class QPushButton;

namespace vexo {

class PingTest;

// cmdPing shows the ping test: light yellow "Trying..." while it runs, then green with the
// round-trip time, or light red "Failed!" / "No sockets!".
void showPingOn(PingTest& test, QPushButton* cmdPing);

} // namespace vexo
