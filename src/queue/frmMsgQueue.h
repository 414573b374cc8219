// The queue window: the session's message pump. It adds outgoing panel commands to the work queue
// in priority order, hands the current message to the transport when the queue server asks,
// routes received bytes through the transport to the message's owner, retries and times out, and
// moves completed messages to the last-sent list. It is hidden unless the "Debug" setting shows it
// as the queue console, and it hosts the serial port and UDP socket the transports take from it.
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "core/GuidRegistry.h"

class CQueue;
class CQueueTimer;
class QListWidget;
class QPushButton;
class QSerialPort;
class QTimer;
class QUdpSocket;
class clsMessage;

class frmMsgQueue : public QWidget, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Creates the window and registers it in GuidRegistry; Form_Load connects the queue server.
    explicit frmMsgQueue(QWidget *parent = nullptr);
    ~frmMsgQueue() override;

    // The window's name: owner name of the messages it queues.
    QString Name() const { return QStringLiteral("frmMsgQueue"); }

    // Connects a new queue server and reads its list heads and timers.
    void Form_Load();
    // Shuts the queue down, unloads the component's other windows, empties GuidRegistry and
    // releases the window references of SessionState. The window deletes itself later.
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
    // Bytes received for the link (network transport or host).
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

    // Refills a console list with the messages of one list (only while the window is visible).
    void RefreshQueue(const QString &headGUID, QListWidget *list);

    // Console: a list's selection sets SelectedMsgGUID; Details (or a double click on a list) opens
    // a details window on the selected message, or only beeps when none is selected.
    void lstWorkQueue_Click();
    void lstCurrentMsg_Click();
    void lstLastSentMsg_Click();
    void cmdDetails_Click();
    QString SelectedMsgGUID;

    // Answers to the window's own messages (keep-alive, goodbye, date change).
    void ResponseReceived(clsMessage &msg) override;

    // Window fields.
    std::int16_t EventLevel = 0;         // level for the panel-event warning window
    bool IgnoreFurtherWarnings = false;  // the operator chose to ignore further panel events
    bool PendingTransferFile = false;    // a transfer file waits to be announced to the host

    bool isUnloading() const { return m_unloading; }
    bool queueFailed() const { return m_queueFailed; }
    QString WorkQueueGUID() const { return m_workGuid; }
    QString CurrentMsgGUID() const { return m_currentGuid; }
    QString LastSentMsgGUID() const { return m_lastSentGuid; }
    CQueue *queueServer() const { return m_queue; }

    // Port controls the transports take from the window.
    QSerialPort *MSComm1 = nullptr;
    QUdpSocket *Socket = nullptr;

    // Deferral timers (1 ms, disabled until needed; each disables itself when it fires).
    QTimer *tmrTimeout = nullptr;
    QTimer *tmrInactivity = nullptr;
    QTimer *tmrWarning = nullptr;
    QTimer *tmrDamage = nullptr;

    // Console controls.
    QListWidget *lstWorkQueue = nullptr;
    QListWidget *lstCurrentMsg = nullptr;
    QListWidget *lstLastSentMsg = nullptr;
    QPushButton *cmdDetails = nullptr;
    QPushButton *cmdRefresh = nullptr;

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

    // Runs a queue operation under the standard error handling; an error marks the queue failed.
    bool queueOperation(const QString &procedure, const std::function<void()> &body);
    bool active() const { return !m_unloading && !m_queueFailed && m_queue; }
    std::shared_ptr<clsMessage> firstOf(const QString &headGUID);
    void refreshLists(bool work, bool current, bool lastSent);
    bool keepAliveQueued();
    void discardMessage(const QString &guid, const QString &clientGUID);

    CQueue *m_queue = nullptr; // child of the window
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
