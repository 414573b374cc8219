// The end of a session and the hand-over of new panel events: procedures of modGlobals that act on
// the message queue and the current transport. Every layer from the queue up calls them.
#pragma once

#include <cstdint>

namespace modGlobals {

// Ends the session: goodbye to a connected panel, or closes the link and unloads the message queue.
// Session results: 0 success, 5 failure, 10 aborted. Always returns 0.
std::int32_t Disconnect(bool panelReset, std::int16_t sessionResult);

// Hands a new panel event count to the warning window (or opens it through the message queue).
std::int32_t DisplayPanelEventForm(std::int32_t level);

} // namespace modGlobals
