// The quarvo-server program: connects to the session bus, exports the component and owns its
// well-known name, and runs until it has been idle (no client, no session) for the idle time or
// the bus goes away.
#pragma once

class QApplication;

namespace quarvobus {

// Default idle time before the server ends (milliseconds); QUARVO_SERVER_IDLE_MS or
// --idle-timeout change it.
constexpr int kDefaultIdleMs = 5000;

// Runs the server in `app` (command line already in it); returns the exit status.
int runServer(QApplication &app);

} // namespace quarvobus
