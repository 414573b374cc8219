#include "supervision/SupervisionQueueLinks.h"

#include "core/SessionState.h"
#include "queue/QueueLinks.h"
#include "supervision/EventWarning.h"
#include "supervision/InactivityCountdown.h"

#include <QPointer>

namespace {

// Each prompt lives for one Display: kept in SessionState meanwhile (so that a panel event can
// abandon the inactivity prompt and refresh the warning, and the session's end can close them),
// released and deleted afterwards.
std::int16_t runInactivityPrompt()
{
    QPointer<InactivityCountdown> prompt = new InactivityCountdown();
    sessionState().inactivityPrompt = prompt.data();
    std::int16_t answer = InactivityCountdown::Keep;
    prompt->Display(answer);
    if (prompt) {
        if (sessionState().inactivityPrompt.data() == prompt)
            sessionState().inactivityPrompt = nullptr;
        prompt->deleteLater();
    }
    return answer;
}

std::int16_t runEventWarning(std::int16_t level)
{
    QPointer<EventWarning> warning = new EventWarning();
    sessionState().eventWarning = warning.data();
    // The queue keeps the value as a 16-bit number: its bits are the levels.
    warning->Display(static_cast<std::uint16_t>(level));
    std::int16_t choice = EventWarning::HangUp; // a warning gone with the session: nothing to continue
    if (warning) {
        choice = warning->UsersChoice();
        if (sessionState().eventWarning.data() == warning)
            sessionState().eventWarning = nullptr;
        warning->deleteLater();
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
            if (auto *warning = qobject_cast<EventWarning *>(sessionState().eventWarning.data()))
                warning->UpdatePanelEventForm(level);
        };
    });
}
