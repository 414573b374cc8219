// The session's message pump. It adds outgoing panel commands to the work queue in priority order,
// hands the current message to the transport when the queue server asks, routes received bytes
// through the transport to the message's owner, retries and times out, and moves completed
// messages to the last-sent list. It owns the serial port and the UDP socket the transports take.
//
// It has no window: the queue console (frmMsgQueue), when the "Debug" setting shows one, listens to
// listsChanged and reads the lists; unloading tells it to go.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>

#include "core/GuidRegistry.h"

class CQueue;
class QSerialPort;
class QTimer;
class QUdpSocket;
class clsMessage;

class MessageQueue : public QObject, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Creates the queue and registers it in GuidRegistry; Form_Load connects the queue server.
    explicit MessageQueue(QObject *parent = nullptr);
    ~MessageQueue() override;

    // Owner name of the messages the queue queues itself (message records and the console show it).
    QString Name() const { return QStringLiteral("frmMsgQueue"); }

    // Connects a new queue server and reads its list heads and timers.
    void Form_Load();
    // Shuts the queue down, unloads the component's windows, empties GuidRegistry and releases the
    // references of SessionState. The queue deletes itself later.
    void Unload();

    // Queues a message in priority order; returns 0 or the error number.
    std::int32_t Add(const QString &clientGUID, const QString &ownerGUID, const QString &ownerName,
                     const QString &msgGUID, const QString &name, std::int16_t priority, bool autoFlag,
                     const QVariant &data);

    // Forwarded to the queue server (Unattended is also stored as UnattendedFlag).
    void setDisconnecting(bool value);
    void setPanelEventWarning(bool value);
    void setUnattended(bool value);
    void setInactivityTimeout(std::int16_t seconds);
    void InactivityComplete();

    // Switch the queue server's timers; WorkerInterval is in milliseconds.
    void setDiagRefreshEnabled(bool enabled);
    void setHeartbeatEnabled(bool enabled);
    void setTimeoutEnabled(bool enabled);
    void setWorkerEnabled(bool enabled);
    void setWorkerInterval(std::int32_t ms);
    bool DiagRefreshEnabled() const;
    bool HeartbeatEnabled() const;
    bool TimeoutEnabled() const;
    bool WorkerEnabled() const;
    std::int32_t WorkerInterval() const;

    // Moves the current message to the last-sent list (discarding the previous last-sent one).
    void ReceiveComplete();
    // Bytes received for the link (network transport or host): they become the current message's
    // data (or an unsolicited record's), the transport's DataReceived turns them into the answer,
    // and the message's owner receives it.
    void DataArrival(QByteArray &data);

    // Aborts: drop queued messages of one owner, of "frmDiag", or whole lists.
    void AbortQueuedMsgOwnedBy(const QString &name);
    void AbortQueuedDiagMessages();
    void AbortAllMessages();
    void AbortAllMessagesFrom(const QString &headGUID);

    // The first message of each list, or none.
    std::shared_ptr<clsMessage> FirstQueuedMsg();
    std::shared_ptr<clsMessage> CurrentMessage();
    std::shared_ptr<clsMessage> LastSentMessage();

    // Answers to the queue's own messages (keep-alive, goodbye, date change).
    void ResponseReceived(clsMessage &msg) override;

    // Session fields the supervision reads and sets.
    std::int16_t EventLevel = 0;         // level for the panel-event warning
    bool IgnoreFurtherWarnings = false;  // the operator chose to ignore further panel events
    bool PendingTransferFile = false;    // a transfer file waits to be announced to the host

    bool isUnloading() const { return m_unloading; }
    bool queueFailed() const { return m_queueFailed; }
    // False once the queue server is shut down: the lists can no longer be read.
    bool listsReadable() const;
    QString WorkQueueGUID() const { return m_workGuid; }
    QString CurrentMsgGUID() const { return m_currentGuid; }
    QString LastSentMsgGUID() const { return m_lastSentGuid; }
    CQueue *queueServer() const { return m_queue; }

    // Port controls the transports take from the queue.
    QSerialPort *MSComm1 = nullptr;
    QUdpSocket *Socket = nullptr;

    // Deferral timers (1 ms, disabled until needed; each disables itself when it fires).
    QTimer *tmrTimeout = nullptr;
    QTimer *tmrInactivity = nullptr;
    QTimer *tmrWarning = nullptr;
    QTimer *tmrDamage = nullptr;

Q_SIGNALS:
    // The lists changed (work queue, current message, last sent): the console refills them.
    void listsChanged(bool work, bool current, bool lastSent);
    // The queue server's diagnostics refresh, at most once per refresh interval.
    void DiagRefresh();
    // The queue unloads: its console goes with it.
    void unloading();

private:
    // Queue server events.
    void CQueue_SendData();
    void CQueue_Timeout();
    void CQueue_Heartbeat();
    void CQueue_InactiveSession();
    void CQueue_DiagRefresh();
    // Deferral timers.
    void tmrTimeout_Timer();
    void tmrInactivity_Timer();
    void tmrWarning_Timer();
    void tmrDamage_Timer();

    // A record of the session was found damaged (msgrecord's damage watcher): the session ends
    // once the finder is done (tmrDamage).
    void recordDamaged();
    // Unlinks every record of the session (whatever the damaged lists still reach, the registry's
    // messages, the heads) and starts a new queue server with empty lists and the same timers.
    void renewQueue();
    // Closes the link without a goodbye, tells the host, unloads.
    void endWithoutGoodbye();
    void connectServer();

    // Runs a queue operation under the standard error handling; an error marks the queue failed.
    bool queueOperation(const QString &procedure, const std::function<void()> &body);
    bool active() const { return !m_unloading && !m_queueFailed && m_queue; }
    std::shared_ptr<clsMessage> firstOf(const QString &headGUID);
    bool keepAliveQueued();
    void discardMessage(const QString &guid, const QString &clientGUID);

    CQueue *m_queue = nullptr; // child of the queue
    QString m_workGuid;
    QString m_currentGuid;
    QString m_lastSentGuid;
    std::int64_t m_lastDiagRefreshMs = 0;
    bool m_unloading = false;
    bool m_queueFailed = false;
    bool m_timeoutPending = false;
    bool m_receiveBusy = false;
    bool m_registered = false;
    bool m_damaged = false;  // the session is ending over a damaged record
    bool m_renewing = false; // renewQueue runs: the old lists' damage is known already
};
