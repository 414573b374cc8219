#include "queue/MessageQueue.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionPrompt.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/ImmediateLog.h"
#include "diagnostics/Logging.h"
#include "platform/Paths.h"
#include "platform/Timing.h"
#include "queue/CQueue.h"
#include "queue/QueueLinks.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"

#include <QPointer>
#include <QSerialPort>
#include <QTimer>
#include <QUdpSocket>

namespace {

const QString kModule = QStringLiteral("frmMsgQueue");
const QString kWaitCommand = QStringLiteral("Wait Command");
const QString kNullCommand = QStringLiteral("Null Command");
const QString kKeepAlive = QStringLiteral("Keep Alive");
const QString kPanelGoodbye = QStringLiteral("Panel Goodbye");
const QString kChangePanelDate = QStringLiteral("Change Panel Date");

QTimer *deferralTimer(QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setInterval(1);
    timer->setSingleShot(true);
    return timer;
}

// Removes a registry entry when it is there (a missing key is not worth an error report here).
void unregister(const QString &guid)
{
    SessionState &state = sessionState();
    if (state.guidRegistry && state.guidRegistry->contains(guid))
        state.guidRegistry->remove(guid);
}

std::shared_ptr<ResponseReceiver> ownerOf(const QString &ownerGUID)
{
    return std::dynamic_pointer_cast<ResponseReceiver>(modGlobals::GetGUIDObject(ownerGUID));
}

// Closes and releases one of the component's windows (most of them belong to higher layers: the
// queue knows them as plain objects).
template <typename W>
void releaseWindow(SessionWindow<W> &window)
{
    if (QObject *object = window.object()) {
        closeSessionWindow(object);
        object->deleteLater();
    }
    window = nullptr;
}

} // namespace

MessageQueue::MessageQueue(QObject *parent)
    : QObject(parent)
{
    MSComm1 = new QSerialPort(this);
    Socket = new QUdpSocket(this);

    tmrTimeout = deferralTimer(this);
    tmrInactivity = deferralTimer(this);
    tmrWarning = deferralTimer(this);
    connect(tmrTimeout, &QTimer::timeout, this, &MessageQueue::tmrTimeout_Timer);
    connect(tmrInactivity, &QTimer::timeout, this, &MessageQueue::tmrInactivity_Timer);
    connect(tmrWarning, &QTimer::timeout, this, &MessageQueue::tmrWarning_Timer);
    tmrDamage = deferralTimer(this);
    connect(tmrDamage, &QTimer::timeout, this, &MessageQueue::tmrDamage_Timer);

    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

MessageQueue::~MessageQueue()
{
    // A queue destroyed without Unload still leaves nothing behind.
    if (m_queue)
        m_queue->Shutdown();
    if (m_registered)
        unregister(szGUID());
}

bool MessageQueue::queueOperation(const QString &procedure, const std::function<void()> &body)
{
    if (errors::guarded(kModule, procedure, body) == 0)
        return true;
    m_queueFailed = true;
    return false;
}

void MessageQueue::Form_Load()
{
    SessionState &state = sessionState();
    state.LastErrorNumber = 0;
    m_queueFailed = false;

    if (m_queue) {
        m_queue->Shutdown();
        delete m_queue;
        m_queue = nullptr;
    }
    m_damaged = false;
    // A record of this session found damaged, by whoever reads it, ends the session.
    msgrecord::setDamageWatcher([self = QPointer<MessageQueue>(this)] {
        if (self)
            self->recordDamaged();
    });
    m_queue = new CQueue(state.config.standardPollRate, this);
    if (!m_queue->isValid()) {
        m_queueFailed = true;
        return;
    }
    connectServer();

    m_queue->setInactivityTimeout(state.config.inactivityTimeout);
    m_workGuid = m_queue->WorkQueueGUID();
    m_currentGuid = m_queue->CurrentMsgGUID();
    m_lastSentGuid = m_queue->LastSentMsgGUID();

    m_queue->DiagRefreshTimer()->setInterval(state.config.drInterval);
    m_queue->HeartbeatTimer()->setInterval(state.config.hbInterval);
    // The host's answer time-out, in seconds; without a usable value the panel command's
    // standard 12 seconds apply.
    std::int32_t seconds = 12;
    if (state.hostSettings) {
        bool ok = false;
        const double value = state.hostSettings->ResponseTimeout().trimmed().toDouble(&ok);
        if (ok && value > 0 && value <= 3600)
            seconds = static_cast<std::int32_t>(value);
        else
            errors::report(ErrorCode::TypeMismatch, kModule, QStringLiteral("Form_Load()"));
    }
    m_queue->TimeoutTimer()->setInterval(seconds * 1000);
}

void MessageQueue::connectServer()
{
    connect(m_queue, &CQueue::SendData, this, &MessageQueue::CQueue_SendData);
    connect(m_queue, &CQueue::Timeout, this, &MessageQueue::CQueue_Timeout);
    connect(m_queue, &CQueue::Heartbeat, this, &MessageQueue::CQueue_Heartbeat);
    connect(m_queue, &CQueue::InactiveSession, this, &MessageQueue::CQueue_InactiveSession);
    connect(m_queue, &CQueue::DiagRefresh, this, &MessageQueue::CQueue_DiagRefresh);
}

// ---- Adding messages ---------------------------------------------------------------------------

std::int32_t MessageQueue::Add(const QString &clientGUID, const QString &ownerGUID, const QString &ownerName,
                              const QString &msgGUID, const QString &name, std::int16_t priority, bool autoFlag,
                              const QVariant &data)
{
    if (!active())
        return 0;
    std::int32_t result = 0;
    const auto body = [&] {
        QString guid = msgGUID;
        if (guid.isEmpty()) {
            const std::int32_t rc = modGlobals::GetGUID(guid);
            if (rc != 0)
                raiseError(rc);
        }
        auto msg = std::make_shared<clsMessage>();
        const std::int32_t created = msg->Create(guid);
        if (!msg->isLoaded())
            raiseError(ErrorCode::BadRecord);
        if (created == SharedMemory::AlreadyExisted)
            raiseError(ErrorCode::AlreadyExists); // another record's GUID: linking it would corrupt its list
        try {
            msg->setName(name);
            msg->setPriority(priority);
            msg->setAuto(autoFlag ? -1 : 0);
            msg->setData(data);
            msg->setOwnerName(ownerName);
            msg->setOwnerGUID(ownerGUID);
            msg->setClientGUID(clientGUID);
            msg->setHeadGUID(m_workGuid);

            clsMessages head;
            const std::int32_t rc = head.Load(m_workGuid);
            if (rc != 0 || !head.isLoaded())
                raiseError(rc != 0 ? rc : ErrorCode::BadRecord);
            std::shared_ptr<clsMessage> first = head.FirstMsg();
            if (!first) {
                msg->setNextMsgGUID(m_workGuid);
                head.setFirstMsgGUID(guid);
            } else if (priority > first->Priority()) {
                msg->setNextMsgGUID(first->szGUID());
                head.setFirstMsgGUID(guid);
            } else {
                // Behind every message of the same or a higher priority: equal priorities keep
                // their order of arrival.
                std::shared_ptr<clsMessage> passed;
                std::shared_ptr<clsMessage> current = first;
                msgrecord::ListWalk walk;
                while (current && priority <= current->Priority()) {
                    walk.visit(*current);
                    passed = current;
                    current = current->NextMessage();
                }
                msg->setNextMsgGUID(passed->NextMsgGUID());
                passed->setNextMsgGUID(guid);
            }
        } catch (...) {
            msgrecord::Discard(guid); // never linked: nothing else will remove it
            throw;
        }
        SessionState &state = sessionState();
        if (state.guidRegistry)
            state.guidRegistry->add(guid, msg);
        Q_EMIT listsChanged(true, false, false);
    };
    result = errors::guarded(kModule, QStringLiteral("Add()"), body);
    if (result != 0)
        m_queueFailed = true; // every further Add does nothing until the window unloads
    return result;
}

// ---- Properties --------------------------------------------------------------------------------

void MessageQueue::setDisconnecting(bool value)
{
    if (active())
        queueOperation(QStringLiteral("[Let]Disconnecting()"), [&] { m_queue->setDisconnecting(value); });
}

void MessageQueue::setPanelEventWarning(bool value)
{
    if (active())
        queueOperation(QStringLiteral("[Let]PanelEventWarning()"), [&] { m_queue->setPanelEventWarning(value); });
}

void MessageQueue::setUnattended(bool value)
{
    if (active())
        queueOperation(QStringLiteral("[Let]Unattended()"), [&] {
            m_queue->setUnattended(value);
            sessionState().UnattendedFlag = value;
        });
}

void MessageQueue::setInactivityTimeout(std::int16_t seconds)
{
    if (active())
        queueOperation(QStringLiteral("InactivityTimeout[Let]"), [&] { m_queue->setInactivityTimeout(seconds); });
}

void MessageQueue::InactivityComplete()
{
    if (active())
        queueOperation(QStringLiteral("InactivityComplete()"), [&] { m_queue->InactivityComplete(); });
}

void MessageQueue::setDiagRefreshEnabled(bool enabled)
{
    if (active())
        queueOperation(QStringLiteral("DiagRefreshEnabled()"), [&] { m_queue->DiagRefreshTimer()->setEnabled(enabled); });
}

void MessageQueue::setHeartbeatEnabled(bool enabled)
{
    if (active())
        queueOperation(QStringLiteral("HeartbeatEnabled()"), [&] { m_queue->HeartbeatTimer()->setEnabled(enabled); });
}

void MessageQueue::setTimeoutEnabled(bool enabled)
{
    if (active())
        queueOperation(QStringLiteral("TimeoutEnabled()"), [&] { m_queue->TimeoutTimer()->setEnabled(enabled); });
}

void MessageQueue::setWorkerEnabled(bool enabled)
{
    if (active())
        queueOperation(QStringLiteral("WorkerEnabled()"), [&] { m_queue->WorkerTimer()->setEnabled(enabled); });
}

void MessageQueue::setWorkerInterval(std::int32_t ms)
{
    if (active())
        queueOperation(QStringLiteral("[Let]WorkerInterval()"), [&] { m_queue->WorkerTimer()->setInterval(ms); });
}

bool MessageQueue::DiagRefreshEnabled() const
{
    return m_queue && m_queue->DiagRefreshTimer()->Enabled();
}

bool MessageQueue::HeartbeatEnabled() const
{
    return m_queue && m_queue->HeartbeatTimer()->Enabled();
}

bool MessageQueue::TimeoutEnabled() const
{
    return m_queue && m_queue->TimeoutTimer()->Enabled();
}

bool MessageQueue::WorkerEnabled() const
{
    return m_queue && m_queue->WorkerTimer()->Enabled();
}

std::int32_t MessageQueue::WorkerInterval() const
{
    return m_queue ? m_queue->WorkerTimer()->Interval() : 0;
}

// ---- Lists -------------------------------------------------------------------------------------

std::shared_ptr<clsMessage> MessageQueue::firstOf(const QString &headGUID)
{
    if (!active())
        return nullptr;
    return errors::guardedValue(kModule, QStringLiteral("[Get]FirstMsg()"), std::shared_ptr<clsMessage>(), [&] {
        clsMessages head;
        if (head.Load(headGUID) != 0 || !head.isLoaded())
            return std::shared_ptr<clsMessage>();
        return head.FirstMsg();
    });
}

std::shared_ptr<clsMessage> MessageQueue::FirstQueuedMsg()
{
    return firstOf(m_workGuid);
}

std::shared_ptr<clsMessage> MessageQueue::CurrentMessage()
{
    return firstOf(m_currentGuid);
}

std::shared_ptr<clsMessage> MessageQueue::LastSentMessage()
{
    return firstOf(m_lastSentGuid);
}

bool MessageQueue::listsReadable() const
{
    return m_queue && !m_queue->isShutDown();
}

// ---- Sending and receiving ---------------------------------------------------------------------

void MessageQueue::CQueue_SendData()
{
    if (!active())
        return;
    Q_EMIT listsChanged(true, true, false);
    errors::guarded(kModule, QStringLiteral("CQueue_SendData()"), [&] {
        std::shared_ptr<clsMessage> msg = CurrentMessage();
        if (!msg)
            return;
        if (msg->Name() == kWaitCommand) {
            // Never transmitted: it only waits for the panel or for its time-out.
            m_queue->TimeoutTimer()->setEnabled(true);
            return;
        }
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->SendData(*msg);
    });
}

void MessageQueue::DataArrival(QByteArray &data)
{
    if (!active() || m_timeoutPending)
        return;
    if (data.size() > msgrecord::MaxDataBytes) {
        // Longer than a record's data field: dropped whole rather than cut into a record.
        errors::report(ErrorCode::InvalidArgument, kModule, QStringLiteral("DataArrival()"),
                       QStringLiteral("%1 bytes received, at most %2 fit a message").arg(data.size()).arg(msgrecord::MaxDataBytes));
        return;
    }
    m_receiveBusy = true;
    queueOperation(QStringLiteral("DataArrival()"), [&] {
        m_queue->TimeoutTimer()->setEnabled(false);
        const std::shared_ptr<IControlType> transport = sessionState().currentTransport;
        std::shared_ptr<clsMessage> msg = CurrentMessage();
        if (!msg) {
            // Unsolicited data: a record of its own, handed to the transport and then discarded.
            QString guid;
            const std::int32_t rc = modGlobals::GetGUID(guid);
            if (rc != 0)
                raiseError(rc);
            clsMessage record;
            const std::int32_t created = record.Create(guid);
            if (!record.isLoaded() || created != 0)
                raiseError(created != 0 ? created : ErrorCode::BadRecord); // someone else's record: leave it alone
            struct Discarder
            {
                QString guid;
                ~Discarder() { msgrecord::Discard(guid); }
            } discarder{guid};
            record.setData(data);
            if (transport)
                transport->DataReceived(record);
            return;
        }
        msg->setData(data);
        if (transport) {
            transport->DataReceived(*msg);
            // A transport that dropped the bytes (not this exchange's answer) or is sending the
            // message again leaves the record without data: the message stays in flight.
            if (msg->dataBytes().isEmpty())
                return;
        }
        if (const std::shared_ptr<ResponseReceiver> owner = ownerOf(msg->OwnerGUID()))
            owner->ResponseReceived(*msg);
        ReceiveComplete();
    });
    m_receiveBusy = false;
}

void MessageQueue::ReceiveComplete()
{
    if (!active())
        return;
    queueOperation(QStringLiteral("ReceiveComplete()"), [&] {
        clsMessages lastSent;
        if (lastSent.Load(m_lastSentGuid) != 0 || !lastSent.isLoaded())
            raiseError(ErrorCode::BadRecord);
        clsMessages current;
        if (current.Load(m_currentGuid) != 0 || !current.isLoaded())
            raiseError(ErrorCode::BadRecord);

        // The previous last-sent message is discarded.
        if (std::shared_ptr<clsMessage> previous = lastSent.FirstMsg()) {
            const QString guid = previous->szGUID();
            unregister(guid);
            lastSent.setFirstMsgGUID(m_lastSentGuid);
            msgrecord::Discard(guid);
        }
        if (std::shared_ptr<clsMessage> msg = current.FirstMsg()) {
            unregister(msg->ClientGUID());
            current.setFirstMsgGUID(m_currentGuid);
            msg->setNextMsgGUID(m_lastSentGuid);
            msg->setHeadGUID(m_lastSentGuid);
            lastSent.setFirstMsgGUID(msg->szGUID());
        }
        Q_EMIT listsChanged(false, true, true);
    });
}

// ---- Time-out and retry ------------------------------------------------------------------------

void MessageQueue::CQueue_Timeout()
{
    if (m_unloading || m_queueFailed || m_receiveBusy)
        return;
    m_timeoutPending = true;
    tmrTimeout->start();
}

void MessageQueue::tmrTimeout_Timer()
{
    tmrTimeout->stop();
    bool endSession = false;
    errors::guardedFatal(kModule, QStringLiteral("tmrTimeout_Timer()"), endSession, [&] {
        if (m_unloading || m_receiveBusy || !active())
            return;
        std::shared_ptr<clsMessage> msg = CurrentMessage();
        if (!msg)
            return;
        const QString name = msg->Name();
        if (name == kNullCommand || name == kWaitCommand) {
            QByteArray bytes;
            modGlobals::StringToByte(QStringLiteral("TIMEOUT"), bytes);
            msg->setData(bytes);
            if (const std::shared_ptr<ResponseReceiver> owner = ownerOf(msg->OwnerGUID()))
                owner->ResponseReceived(*msg);
            ReceiveComplete();
            return;
        }
        const std::shared_ptr<GuidObject> clientObject = modGlobals::GetGUIDObject(msg->ClientGUID());
        std::int16_t count = 0;
        std::int16_t max = 0;
        if (!clientObject || !queueLinks().countRetry(clientObject.get(), count, max))
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("the message's command is gone"));
        if (count > max) {
            modGlobals::AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(280), QStringLiteral("MAX"), QString::number(max)));
            raiseError(ErrorCode::RetriesExhausted);
        }
        const std::shared_ptr<IControlType> transport = sessionState().currentTransport;
        if (transport && !transport->AbortPending()) {
            modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(count));
            transport->SendData(*msg);
        }
    });
    m_timeoutPending = false;
    if (endSession)
        modGlobals::Disconnect(false, 5);
}

// ---- Answers to the window's own messages ------------------------------------------------------

void MessageQueue::ResponseReceived(clsMessage &msg)
{
    bool endSession = false;
    errors::guardedFatal(kModule, QStringLiteral("ResponseReceived()"), endSession, [&] {
        if (msg.OwnerName() != Name())
            return;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + msg.OwnerName());
        const QString name = msg.Name();
        const QByteArray data = msg.dataBytes();
        if (data.isEmpty() && name != kPanelGoodbye)
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(name));
        std::int32_t rc = 0;
        if (name == kKeepAlive) {
            rc = queueLinks().processKeepAlive(data);
        } else if (name == kPanelGoodbye) {
            rc = queueLinks().processPanelGoodbye(msg);
        } else if (name == kChangePanelDate) {
            if (data.size() < 3)
                raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("short date answer"));
            if (static_cast<unsigned char>(data.at(2)) == 2)
                raiseError(ErrorCode::SendRefused, QStringLiteral("the panel refused the new date"));
            // The queue owns only the unattended clock write, and that one tells the host nothing:
            // "SET_TIME" belongs to the date/time window, whose operator asked for the change.
        }
        if (rc != 0)
            raiseError(rc);
    });
    if (endSession)
        modGlobals::Disconnect(false, 5);
}

// ---- Supervision -------------------------------------------------------------------------------

bool MessageQueue::keepAliveQueued()
{
    clsMessages head;
    if (head.Load(m_workGuid) != 0 || !head.isLoaded())
        return false;
    msgrecord::ListWalk walk;
    for (std::shared_ptr<clsMessage> msg = head.FirstMsg(); msg; msg = msg->NextMessage()) {
        walk.visit(*msg);
        if (msg->Name() == kKeepAlive)
            return true;
    }
    return false;
}

void MessageQueue::CQueue_Heartbeat()
{
    if (!active())
        return;
    // One keep-alive waiting is enough: behind a long run of block requests the heartbeat would
    // otherwise pile up keep-alives that all go out back to back once the run is over.
    const bool queued = errors::guardedValue(kModule, QStringLiteral("CQueue_Heartbeat()"), false, [&] { return keepAliveQueued(); });
    if (queued)
        return;
    queueLinks().heartBeat(*this);
}

void MessageQueue::CQueue_InactiveSession()
{
    if (m_unloading)
        return;
    tmrInactivity->start();
}

void MessageQueue::tmrInactivity_Timer()
{
    tmrInactivity->stop();
    if (m_unloading)
        return;
    // The prompt runs modally: the session may end under it, and this window with it.
    const QPointer<MessageQueue> self(this);
    bool endSession = false;
    bool disconnectNow = false;
    errors::guardedFatal(kModule, QStringLiteral("tmrInactivity_Timer()"), endSession, [&] {
        const std::int16_t answer = queueLinks().inactivityPrompt();
        if (!self || m_unloading)
            return;
        InactivityComplete();
        if (answer == 3)
            disconnectNow = true;
        else if (answer == 7)
            raiseError(ErrorCode::InactivityDisconnect);
    });
    if (!self || m_unloading)
        return;
    if (endSession || disconnectNow)
        modGlobals::Disconnect(false, 5);
}

void MessageQueue::tmrWarning_Timer()
{
    tmrWarning->stop();
    if (m_unloading)
        return;
    const QPointer<MessageQueue> self(this);
    bool endSession = false;
    bool disconnectNow = false;
    errors::guardedFatal(kModule, QStringLiteral("tmrWarning_Timer()"), endSession, [&] {
        setPanelEventWarning(true);
        const std::int16_t choice = queueLinks().eventWarning(EventLevel);
        if (!self || m_unloading)
            return;
        setPanelEventWarning(false);
        if (choice == 1)
            disconnectNow = true;
        else if (choice == 2)
            IgnoreFurtherWarnings = true;
        if (PendingTransferFile) {
            modGlobals::ZelCommEvent(10, Paths::transferFile(sessionState().config.tamselDataPath));
            PendingTransferFile = false;
        }
    });
    if (!self || m_unloading)
        return;
    if (endSession || disconnectNow)
        modGlobals::Disconnect(false, 5);
}

void MessageQueue::CQueue_DiagRefresh()
{
    if (m_unloading)
        return;
    const std::int64_t now = Timing::nowMs();
    if (m_lastDiagRefreshMs != 0 && now - m_lastDiagRefreshMs < Timing::scaled(sessionState().config.drInterval))
        return;
    m_lastDiagRefreshMs = now;
    Q_EMIT DiagRefresh();
}

// ---- Damaged records ---------------------------------------------------------------------------

void MessageQueue::recordDamaged()
{
    if (m_unloading || m_renewing)
        return;
    tmrDamage->start();
}

// A record cut short or otherwise damaged by someone else is a session-fatal error: the queue can
// no longer be trusted to send anything (today's request, the keep-alives, the goodbye), so the
// session ends at once rather than wait, silent, for a time-out. The goodbye goes out through new,
// empty lists while the link is up; a damage met again while ending closes the link without it.
void MessageQueue::tmrDamage_Timer()
{
    tmrDamage->stop();
    if (m_unloading)
        return;
    SessionState &state = sessionState();
    const bool again = m_damaged;
    m_damaged = true;
    state.LastErrorNumber = ErrorCode::BadRecord;
    modGlobals::DebugPrint(QStringLiteral("A message record of the session is damaged: the session ends"));
    errors::guarded(kModule, QStringLiteral("tmrDamage_Timer()"), [this] { renewQueue(); });
    const std::shared_ptr<IControlType> transport = state.currentTransport;
    if (!again && !m_queueFailed && transport && transport->Connected()) {
        modGlobals::Disconnect(false, 5); // the goodbye's answer ends the session
        return;
    }
    endWithoutGoodbye();
}

void MessageQueue::renewQueue()
{
    m_renewing = true;
    struct Done
    {
        bool &flag;
        ~Done() { flag = false; }
    } done{m_renewing};

    SessionState &state = sessionState();
    CQueue *old = m_queue;
    m_queue = nullptr;
    std::int32_t workerMs = state.config.standardPollRate;
    std::int32_t timeoutMs = 0, heartbeatMs = state.config.hbInterval, diagMs = state.config.drInterval;
    bool heartbeat = false, diagRefresh = false;
    if (old) {
        workerMs = old->WorkerTimer()->Interval();
        timeoutMs = old->TimeoutTimer()->Interval();
        heartbeatMs = old->HeartbeatTimer()->Interval();
        heartbeat = old->HeartbeatTimer()->Enabled();
        diagMs = old->DiagRefreshTimer()->Interval();
        diagRefresh = old->DiagRefreshTimer()->Enabled();
        // Stops its timers and unlinks what its lists still reach, the heads included.
        old->Shutdown();
        old->disconnect(this);
        old->deleteLater(); // it may be the sender of the event being handled
    }
    // Messages a damaged list no longer reaches are still in the registry.
    if (state.guidRegistry) {
        for (const QString &key : state.guidRegistry->keys()) {
            if (std::dynamic_pointer_cast<clsMessage>(state.guidRegistry->get(key))) {
                msgrecord::Discard(key);
                state.guidRegistry->remove(key);
            }
        }
    }

    m_queue = new CQueue(workerMs, this);
    m_timeoutPending = false;
    m_queueFailed = !m_queue->isValid();
    if (m_queueFailed)
        return;
    connectServer();
    m_queue->setUnattended(state.UnattendedFlag);
    m_queue->setInactivityTimeout(state.config.inactivityTimeout);
    m_workGuid = m_queue->WorkQueueGUID();
    m_currentGuid = m_queue->CurrentMsgGUID();
    m_lastSentGuid = m_queue->LastSentMsgGUID();
    m_queue->TimeoutTimer()->setInterval(timeoutMs);
    m_queue->HeartbeatTimer()->setInterval(heartbeatMs);
    m_queue->HeartbeatTimer()->setEnabled(heartbeat);
    m_queue->DiagRefreshTimer()->setInterval(diagMs);
    m_queue->DiagRefreshTimer()->setEnabled(diagRefresh);
    Q_EMIT listsChanged(true, true, true);
}

void MessageQueue::endWithoutGoodbye()
{
    SessionState &state = sessionState();
    const std::shared_ptr<IControlType> transport = state.currentTransport;
    errors::guarded(kModule, QStringLiteral("tmrDamage_Timer()"), [&] {
        if (transport)
            transport->ControlDisconnect(nullptr, true);
        // What the goodbye would have told the host. An attempt that never admitted the panel is
        // reported by the connection dialog as it closes with this window.
        if (state.UnattendedFlag) {
            if (!state.sessionEndReported)
                modGlobals::ZelCommEvent(3, QStringLiteral("FAILURE"), modGlobals::ApplicationName);
        } else if (transport && !transport->AbortPending() && !state.connectionAttempt) {
            modGlobals::ZelCommEvent(3, QStringLiteral("USERDISCONNECTING"), modGlobals::ApplicationName);
        }
    });
    Unload();
}

// ---- Aborts ------------------------------------------------------------------------------------

void MessageQueue::discardMessage(const QString &guid, const QString &clientGUID)
{
    unregister(clientGUID);
    unregister(guid);
    msgrecord::Discard(guid);
}

void MessageQueue::AbortQueuedMsgOwnedBy(const QString &name)
{
    if (!m_queue || m_queue->isShutDown())
        return;
    errors::guarded(kModule, QStringLiteral("AbortQueuedMsgOwnedBy()"), [&] {
        clsMessages head;
        if (head.Load(m_workGuid) != 0 || !head.isLoaded())
            return;
        std::shared_ptr<clsMessage> kept; // the last message that stays, or none
        std::shared_ptr<clsMessage> msg = head.FirstMsg();
        msgrecord::ListWalk walk;
        while (msg) {
            walk.visit(*msg);
            std::shared_ptr<clsMessage> next = msg->NextMessage();
            if (msg->OwnerName() == name) {
                const QString link = msg->NextMsgGUID();
                if (kept)
                    kept->setNextMsgGUID(link);
                else
                    head.setFirstMsgGUID(link);
                discardMessage(msg->szGUID(), msg->ClientGUID());
            } else {
                kept = msg;
            }
            msg = next;
        }
    });
    Q_EMIT listsChanged(true, false, false);
}

void MessageQueue::AbortQueuedDiagMessages()
{
    AbortQueuedMsgOwnedBy(QStringLiteral("frmDiag"));
}

void MessageQueue::AbortAllMessagesFrom(const QString &headGUID)
{
    if (!m_queue || m_queue->isShutDown())
        return;
    errors::guarded(kModule, QStringLiteral("AbortAllMessagesFrom()"), [&] {
        clsMessages head;
        if (head.Load(headGUID) != 0 || !head.isLoaded())
            return;
        // The list is emptied also when its links turn out to be damaged.
        struct Empty
        {
            clsMessages &head;
            const QString &guid;
            ~Empty()
            {
                try {
                    head.setFirstMsgGUID(guid);
                } catch (...) {
                }
            }
        } empty{head, headGUID};
        std::shared_ptr<clsMessage> msg = head.FirstMsg();
        msgrecord::ListWalk walk;
        while (msg) {
            walk.visit(*msg);
            std::shared_ptr<clsMessage> next = msg->NextMessage();
            discardMessage(msg->szGUID(), msg->ClientGUID());
            msg = next;
        }
    });
}

void MessageQueue::AbortAllMessages()
{
    AbortAllMessagesFrom(m_workGuid);
    AbortAllMessagesFrom(m_currentGuid);
    Q_EMIT listsChanged(true, true, false);
}

// ---- Unload ------------------------------------------------------------------------------------

void MessageQueue::Unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    tmrTimeout->stop();
    tmrInactivity->stop();
    tmrWarning->stop();
    tmrDamage->stop();
    SessionState &state = sessionState();
    // The queue server is in-process: it is shut down also after a queue failure, so that no
    // record outlives the session.
    if (m_queue)
        m_queue->Shutdown();
    if (state.currentTransport)
        state.currentTransport->setAbortPending(true);
    if (m_registered) {
        unregister(szGUID());
        m_registered = false;
    }

    // The component's other windows.
    releaseWindow(state.connectionDialog);
    // A connection without a window (unattended) goes here; a window's goes with its window.
    if (QObject *connection = state.connection.data(); connection && (!connection->parent() || connection->parent() == this))
        connection->deleteLater();
    state.connection = nullptr;
    releaseWindow(state.historyWindow);
    // An unattended retrieval has no window (the window's own goes with it).
    if (QObject *retrieval = state.historyRetrieval.data())
        retrieval->deleteLater();
    state.historyRetrieval = nullptr;
    releaseWindow(state.diagnosticsWindow);
    // The supervision prompts end unanswered, with or without their windows.
    for (QObject *prompt : {state.inactivityPrompt.data(), state.eventWarning.data()}) {
        if (auto *running = dynamic_cast<SessionPrompt *>(prompt))
            running->closePrompt();
    }
    releaseWindow(state.inactivityWindow);
    releaseWindow(state.eventWarningWindow);
    if (auto *immediate = dynamic_cast<ImmediateLog *>(state.immediateWindow.object()))
        immediate->unload();
    releaseWindow(state.immediateWindow);

    // Whatever is still registered goes; message records among it are unlinked.
    if (state.guidRegistry) {
        for (const QString &key : state.guidRegistry->keys()) {
            if (std::dynamic_pointer_cast<clsMessage>(state.guidRegistry->get(key)))
                msgrecord::Discard(key);
        }
        state.guidRegistry->clear();
    }
    if (state.messageQueue == this)
        state.messageQueue = nullptr;
    state.queueWindow = nullptr; // the console goes with the queue
    Q_EMIT unloading();
    deleteLater();
}
