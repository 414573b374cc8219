#include "queue/QueueLinks.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/GuidRegistry.h"

namespace {

const QString kModule = QStringLiteral("frmMsgQueue");

// A part that is not in this build yet: say so in the error log and give its neutral result.
std::int32_t notBuilt(const char *procedure)
{
    errors::report(ErrorCode::NotImplemented, kModule, QString::fromLatin1(procedure));
    return ErrorCode::NotImplemented;
}

QueueLinks queueOwn()
{
    QueueLinks links;
    // Keep-alive and goodbye requests and their answers: the panel link (link) puts them in.
    links.heartBeat = [](MessageQueue &) { return notBuilt("SMHeartBeat()"); };
    links.panelGoodbye = [](std::uint8_t, MessageQueue &, std::int16_t) { return notBuilt("SMPanelGoodbye()"); };
    links.processKeepAlive = [](const QByteArray &) { return notBuilt("ProcessKeepAlive()"); };
    links.processPanelGoodbye = [](clsMessage &) { return notBuilt("ProcessPanelGoodbye()"); };
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
    links.countRetry = countQueueClientRetry;
    links.clientDetails = [](GuidObject *, QueueClientDetails &) { return false; };
    return links;
}

QueueLinks &builtIn()
{
    static QueueLinks links = queueOwn();
    return links;
}

QueueLinks &inUse()
{
    static QueueLinks links = builtIn();
    return links;
}

} // namespace

QueueLinks &queueLinks()
{
    return inUse();
}

void resetQueueLinks()
{
    inUse() = builtIn();
}

void installQueueLinks(const std::function<void(QueueLinks &links)> &install)
{
    install(builtIn());
    install(inUse());
}

bool countQueueClientRetry(GuidObject *client, std::int16_t &count, std::int16_t &max)
{
    if (auto *other = dynamic_cast<QueueClient *>(client)) {
        count = static_cast<std::int16_t>(other->retryCount() + 1);
        other->setRetryCount(count);
        max = other->retryMax();
        return true;
    }
    return false;
}
