// The windows of the supervision prompts, as the engines reach them: the views library puts its
// entries in (installSupervisionViews). Each entry runs the prompt's window modally for a running
// engine and returns once the window has closed, or returns false at once when it can show no
// window (no display). With no entry, or one that shows nothing, the engine runs alone: its
// count-down runs out, or the end-session question takes the close box's answer; no widget is made.
#pragma once

#include <functional>

class EventWarning;
class InactivityCountdown;
class SessionClosing;

struct SupervisionWindows
{
    std::function<bool(InactivityCountdown &prompt)> inactivityPrompt;
    std::function<bool(EventWarning &warning)> eventWarning;
    std::function<bool(SessionClosing &closing)> endSession;
    // The system beep that announces a prompt and marks the seconds of the inactivity count-down.
    std::function<void()> beep;
};

// The entries in use (empty until the views are installed; tests replace them).
SupervisionWindows &supervisionWindows();
