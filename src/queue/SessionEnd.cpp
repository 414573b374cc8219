#include "queue/SessionEnd.h"

#include "core/Errors.h"
#include "core/IControlType.h"
#include "core/SessionPrompt.h"
#include "core/SessionState.h"
#include "diagnostics/Logging.h"
#include "queue/MessageQueue.h"
#include "queue/QueueLinks.h"
#include "queue/clsMessage.h"

#include <QTimer>

namespace modGlobals {

std::int32_t Disconnect(bool panelReset, std::int16_t sessionResult)
{
    errors::guarded(QStringLiteral("modGlobals"), QStringLiteral("Disconnect()"), [&] {
        SessionState &state = sessionState();
        MessageQueue *queue = state.messageQueue;
        if (!queue)
            return; // no session: nothing to end
        // A session that ends while its own goodbye is in flight ends because that goodbye failed
        // (refused, timed out, retries exhausted): saying goodbye again would fail the same way and
        // end the session again, for ever. The link is closed without another goodbye instead.
        const std::shared_ptr<clsMessage> current = queue->CurrentMessage();
        const bool goodbyeFailed = current && current->Name() == QLatin1String("Panel Goodbye");

        queue->setTimeoutEnabled(false);
        queue->setHeartbeatEnabled(false);
        queue->setDiagRefreshEnabled(false);
        queue->AbortAllMessages();

        const std::shared_ptr<IControlType> transport = state.currentTransport;
        if (!transport)
            return;
        if (transport->Connected() && !goodbyeFailed) {
            // The goodbye's answer ends the session; the result travels as the message's priority.
            queue->setDisconnecting(true);
            const std::int32_t rc = queueLinks().panelGoodbye(panelReset ? 1 : 0, *queue, sessionResult);
            if (rc != 0)
                raiseError(rc);
        } else {
            transport->ControlDisconnect(nullptr, true);
            if (!transport->AbortPending())
                queue->Unload();
        }
    });
    return 0;
}

std::int32_t DisplayPanelEventForm(std::int32_t level)
{
    errors::guarded(QStringLiteral("modGlobals"), QStringLiteral("DisplayPanelEventForm()"), [&] {
        SessionState &state = sessionState();
        // The inactivity prompt is abandoned (also while it is still beeping, before it shows): closing
        // it ends it without an answer (its window with it), and its Display returns "keep the
        // session". The prompt itself belongs to whoever runs its Display.
        if (state.inactivityPrompt && state.InactivityPromptShown) {
            if (auto *prompt = dynamic_cast<SessionPrompt *>(state.inactivityPrompt.data()))
                prompt->closePrompt();
            state.InactivityPromptShown = false;
            state.inactivityPrompt = nullptr;
            state.inactivityWindow = nullptr;
        }
        if (state.eventWarning && state.PanelEventWarningShown) {
            DebugPrint(QStringLiteral("Updating the panel form (New Event!)"));
            queueLinks().updateEventWarning(level);
            return;
        }
        if (MessageQueue *queue = state.messageQueue) {
            queue->EventLevel = static_cast<std::int16_t>(level);
            queue->tmrWarning->start();
        }
    });
    return 0;
}

} // namespace modGlobals
