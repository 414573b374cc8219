// The end of a session on SIGTERM or SIGINT, in the host program and in any program that embeds
// the component: the signal reaches the event loop through the SignalBridge and runs the path of a
// forced CommShutdown (goodbye to a connected panel, then the message queue unloads and its records
// are unlinked); then every event loop of the thread is told to exit with 128 + the signal number.
// The goodbye gets a bounded time; a second signal ends the wait at once.
#pragma once

namespace SessionSignals {

// Connects the bridge (installed on first call); run when the component is created.
void install();

// The forced end of a session, as CommShutdown(Force = true) runs it.
void endSessionForcibly();

// The signal that ended the session, once that end is complete (0 before): loops of the host
// that wait without the event loop's exec can check it.
int terminationSignal();

} // namespace SessionSignals
