#include "queue/CQueue.h"

#include "core/Errors.h"
#include "core/modGlobals.h"
#include "platform/SharedMemoryIndex.h"
#include "platform/Timing.h"
#include "queue/clsMessage.h"

#include <QSet>

#include <cstdlib>

namespace {
const QString kKeepAlive = QStringLiteral("Keep Alive");

// Queue servers that have not shut down yet. A process that ends without unloading its queue
// window (a host that exits, a test that forgets) still removes their records at exit.
QSet<CQueue *> &liveQueues()
{
    static QSet<CQueue *> queues;
    return queues;
}

void discardAtExit()
{
    const QSet<CQueue *> queues = liveQueues();
    for (CQueue *queue : queues)
        queue->discardRecords();
}

void watchForExit(CQueue *queue)
{
    static bool registered = false;
    liveQueues().insert(queue); // constructed before the handler is registered: destroyed after it runs
    if (!registered) {
        registered = true;
        std::atexit(discardAtExit);
    }
}
} // namespace

// ---- CQueueTimer -------------------------------------------------------------------------------

CQueueTimer::CQueueTimer(bool singleShot, QObject *parent)
    : QObject(parent), m_singleShot(singleShot)
{
    m_timer.setSingleShot(singleShot);
    connect(&m_timer, &QTimer::timeout, this, &CQueueTimer::onTimeout);
}

void CQueueTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled && m_interval > 0)
        m_timer.start(static_cast<int>(Timing::scaled(m_interval))); // (re)arms the timer
    else
        m_timer.stop();
}

void CQueueTimer::setInterval(std::int32_t ms)
{
    m_interval = ms;
    // A running timer takes the new interval at once; an interval of 0 stops it.
    if (m_enabled)
        setEnabled(true);
}

void CQueueTimer::onTimeout()
{
    if (m_singleShot)
        m_enabled = false;
    Q_EMIT fired();
}

// ---- CQueue ------------------------------------------------------------------------------------

CQueue::CQueue(std::int32_t workerIntervalMs, QObject *parent)
    : QObject(parent)
{
    m_inactivity.setSingleShot(true);
    connect(&m_inactivity, &QTimer::timeout, this, [this] {
        if (m_shutDown || m_disconnecting || m_warningShown || m_inactiveRaised)
            return;
        m_inactiveRaised = true; // once, until InactivityComplete
        Q_EMIT InactiveSession();
    });
    connect(&m_diagRefresh, &CQueueTimer::fired, this, &CQueue::DiagRefresh);
    connect(&m_heartbeat, &CQueueTimer::fired, this, &CQueue::Heartbeat);
    connect(&m_timeout, &CQueueTimer::fired, this, &CQueue::Timeout);
    connect(&m_worker, &CQueueTimer::fired, this, &CQueue::workerTick);

    watchForExit(this);
    // Records left behind by a process that died without removing them (killed, crashed) are
    // removed at the first start of a queue in this process; those of running processes stay.
    static const bool orphansRemoved = [] {
        SharedMemoryIndex::removeOrphans();
        return true;
    }();
    Q_UNUSED(orphansRemoved);
    // The three list heads, each a record of its own that starts as an empty list.
    QString guids[3];
    for (QString &g : guids) {
        if (modGlobals::GetGUID(g) != 0)
            return;
    }
    auto work = std::make_unique<clsMessages>();
    auto current = std::make_unique<clsMessages>();
    auto lastSent = std::make_unique<clsMessages>();
    work->Create(guids[0]);
    current->Create(guids[1]);
    lastSent->Create(guids[2]);
    m_workGuid = guids[0];
    m_currentGuid = guids[1];
    m_lastSentGuid = guids[2];
    m_work = std::move(work);
    m_current = std::move(current);
    m_lastSent = std::move(lastSent);
    m_valid = m_work->isLoaded() && m_current->isLoaded() && m_lastSent->isLoaded();
    if (!m_valid) {
        Shutdown();
        return;
    }
    m_worker.setInterval(workerIntervalMs);
    m_worker.setEnabled(true);
}

CQueue::~CQueue()
{
    // Nothing may outlive the session, also when the owner never called Shutdown.
    Shutdown();
}

void CQueue::setDisconnecting(bool disconnecting)
{
    m_disconnecting = disconnecting;
    if (disconnecting)
        m_inactivity.stop();
    else
        restartInactivityWatch();
}

void CQueue::setInactivityTimeout(std::int16_t seconds)
{
    m_inactivitySeconds = seconds;
    restartInactivityWatch();
}

void CQueue::setPanelEventWarning(bool shown)
{
    // While the warning window is open the operator is busy with it: hold the inactivity watch.
    m_warningShown = shown;
    if (shown)
        m_inactivity.stop();
    else
        restartInactivityWatch();
}

void CQueue::setUnattended(bool unattended)
{
    m_unattended = unattended;
}

void CQueue::InactivityComplete()
{
    m_inactiveRaised = false;
    restartInactivityWatch();
}

void CQueue::restartInactivityWatch()
{
    m_inactivity.stop();
    if (m_shutDown || m_disconnecting || m_warningShown || m_inactiveRaised || m_inactivitySeconds <= 0)
        return;
    m_inactivity.start(static_cast<int>(Timing::scaled(static_cast<qint64>(m_inactivitySeconds) * 1000)));
}

void CQueue::workerTick()
{
    if (m_shutDown || !m_valid)
        return;
    // A damaged record must not escape the timer's event handler: report it and carry on. A
    // damaged list head cannot carry on: the worker stops rather than report it at every tick.
    if (errors::guarded(QStringLiteral("CQueue"), QStringLiteral("WorkerTimer()"), [this] { moveNextMessage(); }) != 0
        && !headsIntact())
        m_worker.setEnabled(false);
}

bool CQueue::headsIntact() const
{
    try {
        for (const auto *head : {m_work.get(), m_current.get(), m_lastSent.get()})
            (void)head->FirstMsgGUID();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

void CQueue::moveNextMessage()
{
    // One message in flight at a time: the message queue empties the current list (ReceiveComplete).
    if (!m_current->isEmpty() || m_work->isEmpty())
        return;
    std::shared_ptr<clsMessage> msg = m_work->FirstMsg();
    if (!msg) {
        // The head names a record that cannot be opened: drop the link so the queue moves on.
        m_work->setFirstMsgGUID(m_workGuid);
        return;
    }
    const QString next = msg->NextMsgGUID();
    m_work->setFirstMsgGUID(next.size() == msgrecord::GuidLength ? next : m_workGuid);
    msg->setNextMsgGUID(m_currentGuid);
    msg->setHeadGUID(m_currentGuid);
    m_current->setFirstMsgGUID(msg->szGUID());
    // Anything but a keep-alive going to the panel is activity.
    if (msg->Name() != kKeepAlive && !m_inactiveRaised)
        restartInactivityWatch();
    Q_EMIT SendData();
}

void CQueue::discardList(const QString &headGuid)
{
    clsMessages head;
    if (head.Load(headGuid) != 0 || !head.isLoaded())
        return;
    // Follow the links; a damaged or circular chain stops at the first repeat or unreadable record.
    QSet<QString> seen;
    QString guid = head.FirstMsgGUID();
    while (guid != headGuid && guid.size() == msgrecord::GuidLength && !seen.contains(guid)) {
        seen.insert(guid);
        clsMessage msg;
        if (msg.Load(guid) != 0 || !msg.isLoaded())
            break;
        QString next = msg.NextMsgGUID();
        msgrecord::Discard(guid);
        guid = next;
    }
    head.setFirstMsgGUID(headGuid);
}

void CQueue::Shutdown()
{
    if (m_shutDown)
        return;
    m_diagRefresh.setEnabled(false);
    m_heartbeat.setEnabled(false);
    m_timeout.setEnabled(false);
    m_worker.setEnabled(false);
    m_inactivity.stop();
    discardRecords();
}

void CQueue::discardRecords()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    liveQueues().remove(this);
    for (const QString &head : {m_workGuid, m_currentGuid, m_lastSentGuid}) {
        if (head.isEmpty())
            continue;
        errors::guarded(QStringLiteral("CQueue"), QStringLiteral("Shutdown()"), [&] { discardList(head); });
        msgrecord::Discard(head);
    }
    m_work.reset();
    m_current.reset();
    m_lastSent.reset();
}
