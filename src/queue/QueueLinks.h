// The message queue's calls into the parts built on top of it: the keep-alive and goodbye requests,
// the processing of their answers, the inactivity and panel-event windows, and the retry state of
// the object that queued a message. They are gathered here so the queue does not depend on those
// parts: the layers above put their entries in (installQueueLinks) before the first message queue
// is made, and each entry can be replaced (tests use this to observe the calls).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>

class GuidObject;
class clsMessage;
class MessageQueue;

// What the queue needs of the object that queued a message (the client): its retry state. Panel
// commands keep theirs in their own fields; other clients can offer this interface.
class QueueClient
{
public:
    virtual ~QueueClient() = default;
    virtual std::int16_t retryCount() const = 0;
    virtual void setRetryCount(std::int16_t count) = 0;
    virtual std::int16_t retryMax() const = 0;
};

// What the message details window shows of the command that queued a message.
struct QueueClientDetails
{
    QString description;
    QByteArray hostData; // the bytes the command gave the queue (its frame)
    QDateTime timeStamp;
};

struct QueueLinks
{
    // Queues a keep-alive owned by the queue (heartbeat).
    std::function<std::int32_t(MessageQueue &queue)> heartBeat;
    // Queues the panel goodbye with its code (0 plain, 1 reset) owned by the queue; the
    // session result travels as the message's priority.
    std::function<std::int32_t(std::uint8_t goodbyeCode, MessageQueue &queue, std::int16_t sessionResult)> panelGoodbye;
    // Answers to the queue's own messages.
    std::function<std::int32_t(const QByteArray &answer)> processKeepAlive;
    std::function<std::int32_t(clsMessage &msg)> processPanelGoodbye;
    // Runs the inactivity window; returns its answer (6 keep, 3 disconnect now, 7 expired).
    std::function<std::int16_t()> inactivityPrompt;
    // Runs the panel-event warning window with the level; returns the choice (1 disconnect,
    // 2 ignore further warnings, anything else continue).
    std::function<std::int16_t(std::int16_t level)> eventWarning;
    // Shows a new level in the warning window that is already open.
    std::function<void(std::int32_t level)> updateEventWarning;
    // Adds one to the retry count of a registered client and gives the new count and the maximum;
    // false when the object keeps no retry state.
    std::function<bool(GuidObject *client, std::int16_t &count, std::int16_t &max)> countRetry;
    // Describes a registered client for the message details window; false when the object is not
    // a command the layers above know.
    std::function<bool(GuidObject *client, QueueClientDetails &details)> clientDetails;
};

// The links in use; resetQueueLinks() restores the built-in ones.
QueueLinks &queueLinks();
void resetQueueLinks();

// The built-in links start as the queue's own: an entry whose part is not there reports so and
// gives a neutral result, and the session goes on. A layer above the queue puts its entries in
// with this before the first message queue exists (InitQueue runs the install procedures of the
// layers): `install` changes the built-in links and the links in use alike.
void installQueueLinks(const std::function<void(QueueLinks &links)> &install);

// The queue's own retry count: for a client that offers QueueClient (false for any other).
bool countQueueClientRetry(GuidObject *client, std::int16_t &count, std::int16_t &max);
