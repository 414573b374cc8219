// Start-up: the configuration load into SessionState and the creation of the session windows.
#pragma once

class QWidget;

namespace modGlobals {

// Loads the configuration keys into SessionState (writing defaults back) and creates the owner
// registry, the string catalog and the error reporter.
void InitApplicationVariables();
// Create the message queue and the immediate log window of a session. InitQueue first installs the
// links through which the queue and the panel link call the layers above them.
//
// What the session may show: an operator's session shows the queue console ("Debug") and the
// immediate log window ("Immediate") when the settings ask for them; an unattended session makes no
// window at all, and neither does a program that cannot show one (no widget application).
enum class SessionWindows { AsSettingsSay, None };
void InitQueue(SessionWindows windows = SessionWindows::AsSettingsSay);
void InitImmediate(SessionWindows windows = SessionWindows::AsSettingsSay);
// Places the window above all others (or releases it) without moving or resizing it.
void SetFormTopmost(QWidget *window, bool onTop);

} // namespace modGlobals
