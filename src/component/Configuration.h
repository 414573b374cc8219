// Start-up: the configuration load into SessionState and the creation of the session windows.
#pragma once

class QWidget;

namespace modGlobals {

// Loads the configuration keys into SessionState (writing defaults back) and creates the owner
// registry, the string catalog and the error reporter.
void InitApplicationVariables();
// Create the message queue and the immediate log window of a session. InitQueue first installs the
// links through which the queue and the panel link call the layers above them.
void InitQueue();
void InitImmediate();
// Places the window above all others (or releases it) without moving or resizing it.
void SetFormTopmost(QWidget *window, bool onTop);

} // namespace modGlobals
