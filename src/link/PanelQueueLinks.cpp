#include "link/PanelQueueLinks.h"

#include "link/clsPanelMsg.h"
#include "link/modExecFunctions.h"
#include "link/modToolbox.h"
#include "queue/MessageQueue.h"
#include "queue/QueueLinks.h"

void installPanelQueueLinks()
{
    installQueueLinks([](QueueLinks &links) {
        // Keep-alive and goodbye requests, owned by the message queue.
        links.heartBeat = [](MessageQueue &queue) { return modExecFunctions::SMHeartBeat(&queue, 0, false); };
        links.panelGoodbye = [](std::uint8_t code, MessageQueue &queue, std::int16_t sessionResult) {
            return modExecFunctions::SMPanelGoodbye(code, &queue, sessionResult, false);
        };
        // Their answers.
        links.processKeepAlive = [](const QByteArray &answer) { return modToolbox::ProcessKeepAlive(answer); };
        links.processPanelGoodbye = [](clsMessage &msg) { return modToolbox::ProcessPanelGoodbye(msg); };
        // Panel commands keep their retry state in their own fields; other clients offer QueueClient.
        links.countRetry = [](GuidObject *client, std::int16_t &count, std::int16_t &max) {
            if (auto *command = dynamic_cast<clsPanelMsg *>(client)) {
                count = ++command->RetryCount;
                max = command->RetryMax;
                return true;
            }
            return countQueueClientRetry(client, count, max);
        };
        // What the queue console's details window shows of a panel command.
        links.clientDetails = [](GuidObject *client, QueueClientDetails &details) {
            auto *command = dynamic_cast<clsPanelMsg *>(client);
            if (!command)
                return false;
            details.description = command->Description;
            details.hostData = command->OutputData;
            details.timeStamp = command->TimeStamp;
            return true;
        };
    });
}
