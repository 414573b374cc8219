// The end of a session and the hand-over of new panel events.
#include "core/modGlobals.h"

#include "core/Errors.h"
#include "core/SessionState.h"

namespace modGlobals {

std::int32_t Disconnect(bool panelReset, std::int16_t sessionResult)
{
    Q_UNUSED(panelReset);
    Q_UNUSED(sessionResult);
    errors::guarded(QStringLiteral("modGlobals"), QStringLiteral("Disconnect()"), [&] {
        SessionState &state = sessionState();
        if (!state.queueWindow)
            return; // no session: nothing to end
    });
    return 0;
}

std::int32_t DisplayPanelEventForm(std::int32_t level)
{
    Q_UNUSED(level);
    return 0;
}

} // namespace modGlobals
