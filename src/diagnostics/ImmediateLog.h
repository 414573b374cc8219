// What the logging procedures and the end of a session need of the session's immediate log window
// (SessionState::immediateWindow, asked for this interface): the window itself belongs to the
// windows' library, and a session without it logs nowhere.
#pragma once

#include <QVariant>

class ImmediateLog
{
public:
    virtual ~ImmediateLog() = default;
    // Adds one short text.
    virtual void DebugPrint(const QVariant &text) = 0;
    // Dumps what was collected (when the window is visible) and releases it.
    virtual void unload() = 0;
};
