#include "supervision/SupervisionQueueLinks.h"

#include "core/SessionState.h"
#include "queue/QueueLinks.h"
#include "supervision/frmInactivityDisconnect.h"
#include "supervision/frmPanelEventWarning.h"

#include <QPointer>

namespace {

// Each window lives for one Display: kept in SessionState meanwhile (so that a panel event can
// abandon the prompt and refresh the warning), released and deleted afterwards.
std::int16_t runInactivityPrompt()
{
    SessionState &state = sessionState();
    QPointer<frmInactivityDisconnect> window = new frmInactivityDisconnect();
    state.inactivityWindow = window.data();
    std::int16_t answer = 6;
    window->Display(answer);
    if (window) {
        if (sessionState().inactivityWindow.data() == window)
            sessionState().inactivityWindow = nullptr;
        window->deleteLater();
    }
    return answer;
}

std::int16_t runEventWarning(std::int16_t level)
{
    SessionState &state = sessionState();
    QPointer<frmPanelEventWarning> window = new frmPanelEventWarning();
    state.eventWarningWindow = window.data();
    // The queue keeps the value as a 16-bit number: its bits are the levels.
    window->Display(static_cast<std::uint16_t>(level));
    std::int16_t choice = 1; // a window gone with the session: nothing to continue
    if (window) {
        choice = window->UsersChoice();
        if (sessionState().eventWarningWindow.data() == window)
            sessionState().eventWarningWindow = nullptr;
        window->deleteLater();
    }
    return choice;
}

} // namespace

void installSupervisionQueueLinks()
{
    installQueueLinks([](QueueLinks &links) {
        links.inactivityPrompt = runInactivityPrompt;
        links.eventWarning = runEventWarning;
        links.updateEventWarning = [](std::int32_t level) {
            if (frmPanelEventWarning *window = sessionState().eventWarningWindow)
                window->UpdatePanelEventForm(level);
        };
    });
}
