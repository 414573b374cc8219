#include "queue/QueueLinks.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/GuidRegistry.h"
#include "link/clsPanelMsg.h"
#include "link/modExecFunctions.h"
#include "link/modToolbox.h"
#include "queue/frmMsgQueue.h"

namespace {

const QString kModule = QStringLiteral("frmMsgQueue");

// A part that is not in this build yet: say so in the error log and give its neutral result.
std::int32_t notBuilt(const char *procedure)
{
    errors::report(ErrorCode::NotImplemented, kModule, QString::fromLatin1(procedure));
    return ErrorCode::NotImplemented;
}

QueueLinks builtIn()
{
    QueueLinks links;
    // Keep-alive and goodbye requests, owned by the queue window.
    links.heartBeat = [](frmMsgQueue &queue) { return modExecFunctions::SMHeartBeat(&queue, 0, false); };
    links.panelGoodbye = [](std::uint8_t code, frmMsgQueue &queue, std::int16_t sessionResult) {
        return modExecFunctions::SMPanelGoodbye(code, &queue, sessionResult, false);
    };
    // Their answers.
    links.processKeepAlive = [](const QByteArray &answer) { return modToolbox::ProcessKeepAlive(answer); };
    links.processPanelGoodbye = [](clsMessage &msg) { return modToolbox::ProcessPanelGoodbye(msg); };
    // Supervision windows: without them the session simply continues.
    links.inactivityPrompt = []() -> std::int16_t {
        notBuilt("frmInactivityDisconnect");
        return 6;
    };
    links.eventWarning = [](std::int16_t) -> std::int16_t {
        notBuilt("frmPanelEventWarning");
        return 0;
    };
    links.updateEventWarning = [](std::int32_t) { notBuilt("UpdatePanelEventForm()"); };
    links.countRetry = [](GuidObject *client, std::int16_t &count, std::int16_t &max) {
        if (auto *command = dynamic_cast<clsPanelMsg *>(client)) {
            count = ++command->RetryCount;
            max = command->RetryMax;
            return true;
        }
        if (auto *other = dynamic_cast<QueueClient *>(client)) {
            count = static_cast<std::int16_t>(other->retryCount() + 1);
            other->setRetryCount(count);
            max = other->retryMax();
            return true;
        }
        return false;
    };
    return links;
}

QueueLinks &storage()
{
    static QueueLinks links = builtIn();
    return links;
}

} // namespace

QueueLinks &queueLinks()
{
    return storage();
}

void resetQueueLinks()
{
    storage() = builtIn();
}
