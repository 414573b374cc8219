#include "core/SessionState.h"

#include "core/HostObjects.h"
#include "external/ErrorReporter.h"
#include "external/StringCatalog.h"


namespace {
std::unique_ptr<SessionState> g_state;
}

SessionState &sessionState()
{
    if (!g_state)
        g_state = std::make_unique<SessionState>();
    return *g_state;
}

void resetSessionState()
{
    g_state.reset();
}
