// The queue server: keeps the three list heads of a session (work queue, current message, last
// sent) in shared memory, runs its four timers and raises its five events to the message queue.
// It runs in-process on the GUI thread; its timers are QTimers whose intervals go through Timing.
// Its lists are chains of message records (clsMessage), so it lives beside them in the queue folder.
//
// - Worker timer (periodic, initially the standard poll rate): on a tick, when the current list is
//   empty and the work queue is not, moves the first queued message to the current list and
//   raises SendData.
// - Time-out timer: once enabled, raises Timeout once after its interval unless disabled first;
//   enabling it again re-arms it.
// - Heartbeat and diagnostics refresh timers: raise Heartbeat / DiagRefresh periodically while
//   enabled.
// - Inactivity watch: raises InactiveSession once after InactivityTimeout seconds in which nothing
//   but keep-alives went to the panel; InactivityComplete restarts it. The watch is held while the
//   session is disconnecting or a panel-event warning is open.
// - Shutdown stops everything and unlinks every record the lists still hold, heads included.
// - The first queue of a process removes the records that dead processes left behind
//   (SharedMemoryIndex).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class clsMessages;

// A timer of the queue server: Enabled and Interval (milliseconds of protocol time).
class CQueueTimer : public QObject
{
    Q_OBJECT
public:
    CQueueTimer(bool singleShot, QObject *parent = nullptr);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    std::int32_t Interval() const { return m_interval; }
    void setInterval(std::int32_t ms);

Q_SIGNALS:
    void fired();

private:
    void onTimeout();
    QTimer m_timer;
    std::int32_t m_interval = 0;
    bool m_enabled = false;
    bool m_singleShot;
};

class CQueue : public QObject
{
    Q_OBJECT
public:
    // Creates the three list heads; `workerIntervalMs` is the worker timer's first interval.
    explicit CQueue(std::int32_t workerIntervalMs = 500, QObject *parent = nullptr);
    ~CQueue() override;

    // False when the list heads could not be created (the message queue then marks itself failed).
    bool isValid() const { return m_valid; }

    void setDisconnecting(bool disconnecting);
    void setInactivityTimeout(std::int16_t seconds);
    void setPanelEventWarning(bool shown);
    void setUnattended(bool unattended);
    void InactivityComplete();

    CQueueTimer *DiagRefreshTimer() { return &m_diagRefresh; }
    CQueueTimer *HeartbeatTimer() { return &m_heartbeat; }
    CQueueTimer *TimeoutTimer() { return &m_timeout; }
    CQueueTimer *WorkerTimer() { return &m_worker; }

    QString WorkQueueGUID() const { return m_workGuid; }
    QString CurrentMsgGUID() const { return m_currentGuid; }
    QString LastSentMsgGUID() const { return m_lastSentGuid; }

    void Shutdown();
    // Unlinks every record the lists hold, heads included, without touching the timers (also
    // used at process exit for a queue that was never shut down).
    void discardRecords();
    bool isShutDown() const { return m_shutDown; }
    bool inactivityWatchRunning() const { return m_inactivity.isActive(); }

Q_SIGNALS:
    void DiagRefresh();
    void Heartbeat();
    void InactiveSession();
    void SendData();
    void Timeout();

private:
    void workerTick();
    void moveNextMessage();
    bool headsIntact() const;
    void restartInactivityWatch();
    void discardList(const QString &headGuid);

    CQueueTimer m_diagRefresh{false};
    CQueueTimer m_heartbeat{false};
    CQueueTimer m_timeout{true};
    CQueueTimer m_worker{false};
    QTimer m_inactivity;

    std::unique_ptr<clsMessages> m_work;
    std::unique_ptr<clsMessages> m_current;
    std::unique_ptr<clsMessages> m_lastSent;
    QString m_workGuid;
    QString m_currentGuid;
    QString m_lastSentGuid;

    std::int16_t m_inactivitySeconds = 0;
    bool m_disconnecting = false;
    bool m_warningShown = false;
    bool m_unattended = false;
    bool m_inactiveRaised = false;
    bool m_valid = false;
    bool m_shutDown = false;
};
