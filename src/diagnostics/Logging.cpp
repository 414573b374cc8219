#include "diagnostics/Logging.h"

#include "core/SessionState.h"
#include "diagnostics/clsSessionLog.h"
#include "diagnostics/ImmediateLog.h"

namespace modGlobals {

void DebugPrint(const QVariant &text)
{
    if (auto *window = dynamic_cast<ImmediateLog *>(sessionState().immediateWindow.object()))
        window->DebugPrint(text);
}

void AddLogEntry(const QString &text, const QVariant &data)
{
    if (const std::shared_ptr<clsSessionLog> log = sessionState().sessionLog)
        log->LogEntry(text, data);
}

} // namespace modGlobals
