// The host's icon on the session's windows: a procedure of modGlobals that only windows call, so it
// lives with the windows' library (quarvo_diagnostics_views), not with the engines.
#pragma once

class QWidget;

namespace modGlobals {

// Gives a session window the host's icon, when the host named one.
void ApplySessionIcon(QWidget *window);

} // namespace modGlobals
