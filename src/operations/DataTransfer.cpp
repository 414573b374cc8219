#include "operations/DataTransfer.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/clsPanelMsg.h"
#include "link/modExecFunctions.h"
#include "link/modToolbox.h"
#include "platform/Paths.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

// Errors are reported under the owner name the requests carry.
const QString kOwner = QStringLiteral("frmWorkInProgress");
const QString kExclusiveCommand = QStringLiteral("Exclusive Command");
const QString kRequestItemBlock = QStringLiteral("Request Item Block");
const QString kWriteItemBlock = QStringLiteral("Write Item Block");

constexpr int kBeeps = 5;
constexpr int kBeepPauseMs = 475;
constexpr int kFinalPauseMs = 2000;

// The panel's answer to an accepted block write echoes the command (14) in byte 2; a refusal
// carries result code 2 there.
constexpr std::uint8_t kWriteItemBlockCommand = 14;

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

std::int16_t percentOf(int part, int whole)
{
    return whole > 0 ? static_cast<std::int16_t>(part * 100 / whole) : 0;
}

} // namespace

DataTransfer::DataTransfer(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("DataTransfer"));
    m_endTimer.setSingleShot(true);
    connect(&m_endTimer, &QTimer::timeout, this, [this] { endSequenceStep(); });
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

DataTransfer::~DataTransfer()
{
    // Deleted with the queue at the end of a session: nothing is reported, the registry (emptied
    // by the queue) loses the transfer if it still holds it.
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
}

std::int32_t DataTransfer::begin(std::int16_t direction, const QList<bool> &itemFlags, bool exclusive)
{
    return errors::guarded(kOwner, QStringLiteral("Display()"), [&] {
        m_direction = direction;
        m_itemFlags = itemFlags;
        m_lastItem = static_cast<std::int16_t>(std::max<qsizetype>(0, itemFlags.size() - 1));
        m_exclusive = exclusive;
        m_description = catalog(303);
        if (sessionState().UnattendedFlag)
            return;
        emit begun(direction);
        updateForm();
    });
}

std::int32_t DataTransfer::UdpateProgress(std::int16_t percent, const std::optional<QString> &description)
{
    return errors::guarded(kOwner, QStringLiteral("UdpateProgress()"), [&] {
        m_percent = std::clamp<int>(percent, 0, 100);
        if (description)
            m_description = *description;
        updateForm();
    });
}

std::int32_t DataTransfer::updateForm()
{
    return errors::guarded(kOwner, QStringLiteral("UpdateForm()"), [&] {
        emit progressChanged(m_percent, m_description);
        // The operator's events (Abort, painting) run; datagrams wait until the answer in hand is
        // done with.
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
    });
}

std::int32_t DataTransfer::UpdateHighRes(std::int16_t percent)
{
    return errors::guarded(kOwner, QStringLiteral("UpdateHighRes()"), [&] {
        m_itemPercent = std::clamp<int>(percent, 0, 100);
        emit itemProgressChanged(m_itemPercent);
    });
}

void DataTransfer::abort()
{
    errors::guarded(kOwner, QStringLiteral("cmdAbort_Click()"), [&] {
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->setAbortWorkInProgress(true);
        m_direction = Aborted;
    });
}

bool DataTransfer::countBlock(std::int16_t item)
{
    QVector<std::int16_t> itemOf, startOf, blockLen, table;
    modToolbox::GetItemMap(itemOf, startOf, blockLen, table);
    if (item < 0 || item >= table.size())
        raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("answer for item %1").arg(item));
    State &s = TransferState;
    if (item != s.currentItem || s.blocksDone == 0) {
        s.blocksDone = 0;
        QString text = modGlobals::ReplaceVariable(catalog(307), QStringLiteral("CURRENT"), QString::number(item));
        text = modGlobals::ReplaceVariable(text, QStringLiteral("TOTAL"), QString::number(m_lastItem));
        UpdateHighRes(0);
        UdpateProgress(percentOf(item, m_lastItem), text);
    }
    if (s.blocksDone < table.at(item)) {
        ++s.blocksDone;
        UpdateHighRes(percentOf(s.blocksDone, table.at(item)));
    }
    if (s.blocksDone == table.at(item)) {
        // Items that take no part in the transfer count as complete.
        for (int k = item + 1; k <= m_lastItem && k < table.size() && !m_itemFlags.value(k); ++k) {
            item = static_cast<std::int16_t>(k);
            s.blocksDone = table.at(k);
        }
    }
    s.currentItem = item;
    return s.blocksDone == table.at(item) && item == m_lastItem;
}

void DataTransfer::ResponseReceived(clsMessage &msg)
{
    bool endSession = false;
    errors::guardedFatal(kOwner, QStringLiteral("ResponseReceived()"), endSession, [&] {
        if (msg.OwnerName() != Name())
            return;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + Name());
        if (m_unloaded)
            return;
        SessionState &state = sessionState();
        if (m_direction == Aborted) {
            // The operator aborted: the transfer stops here, without an end report.
            unload();
            return;
        }
        const QByteArray data = msg.dataBytes();
        if (data.isEmpty())
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(msg.Name()));
        MessageQueue *queue = state.messageQueue;
        const QString name = msg.Name();

        if (name == kExclusiveCommand) {
            if (!TransferState.exclusiveEntered) {
                if (queue) {
                    queue->setWorkerInterval(state.config.exclusivePollRate);
                    queue->setHeartbeatEnabled(false);
                    queue->setDiagRefreshEnabled(false);
                }
                TransferState.exclusiveEntered = true;
                return;
            }
            // The answer to the exclusive-off request ends the transfer.
            m_exclusiveLeft = true;
            m_finished = m_blocksComplete;
            if (queue)
                queue->setWorkerInterval(state.config.standardPollRate);
            if (state.UnattendedFlag) {
                unload();
                return;
            }
            if (queue) {
                queue->setHeartbeatEnabled(true);
                queue->setDiagRefreshEnabled(true);
            }
            startEndSequence();
            return;
        }
        if (name != kRequestItemBlock && name != kWriteItemBlock)
            return;

        // The request this answers: its parameter bytes (numbered from 1) hold the item and the
        // block's start record.
        const auto command = std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(msg.ClientGUID()));
        if (!command || command->MsgParams.size() < 3)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no request for the %1 answer").arg(name));
        const auto item = static_cast<std::int16_t>(static_cast<std::uint8_t>(command->MsgParams.at(1)));
        const auto start = static_cast<std::int16_t>(static_cast<std::uint8_t>(command->MsgParams.at(2)));
        if (m_direction == Receive) {
            const std::int32_t rc = modToolbox::InsertResponse(data, item, start);
            if (rc != 0)
                raiseError(rc);
        } else if (data.size() < 3 || static_cast<std::uint8_t>(data.at(2)) != kWriteItemBlockCommand) {
            // A write the panel refused is not a written block.
            raiseError(ErrorCode::SendRefused, QStringLiteral("the panel refused block %1:%2").arg(item).arg(start));
        }
        if (!countBlock(item))
            return;
        m_blocksComplete = true;
        if (m_exclusive)
            return; // the exclusive-off answer ends the transfer
        m_finished = true;
        if (state.UnattendedFlag)
            unload();
        else
            startEndSequence();
    });
    if (endSession) {
        // The transfer stops: no end report, and the block loop queues nothing more.
        m_direction = Aborted;
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->setAbortWorkInProgress(true);
        emit cutOff();
        modGlobals::Disconnect(false, 5);
    }
}

void DataTransfer::startEndSequence()
{
    const QString text = modGlobals::ReplaceVariable(catalog(306), QStringLiteral("TOTAL"), QString::number(m_lastItem));
    UpdateHighRes(100);
    UdpateProgress(100, text);
    m_beeps = 0;
    endSequenceStep();
}

void DataTransfer::endSequenceStep()
{
    if (m_unloaded)
        return;
    if (m_beeps < kBeeps) {
        emit beep();
        ++m_beeps;
        m_endTimer.start(static_cast<int>(Timing::scaled(m_beeps < kBeeps ? kBeepPauseMs : kBeepPauseMs + kFinalPauseMs)));
        return;
    }
    unload();
}

void DataTransfer::leaveExclusiveMode()
{
    SessionState &state = sessionState();
    MessageQueue *queue = state.messageQueue;
    if (!queue)
        return;
    queue->setWorkerInterval(state.config.standardPollRate);
    if (!state.UnattendedFlag) {
        queue->setHeartbeatEnabled(true);
        queue->setDiagRefreshEnabled(true);
    }
    m_exclusiveLeft = true;
    // Owned by the queue window: the transfer is going.
    if (modExecFunctions::SMExclusiveCommand(false, queue, 5, false) != 0)
        raiseError(ErrorCode::SendRefused, QStringLiteral("exclusive mode could not be left"));
}

void DataTransfer::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_endTimer.stop();
    errors::guarded(kOwner, QStringLiteral("Form_Unload()"), [&] {
        SessionState &state = sessionState();
        MessageQueue *queue = state.messageQueue;
        const std::shared_ptr<IControlType> transport = state.currentTransport;
        // A session that is ending takes no report and no further request.
        const bool sessionGoesOn = queue && !queue->isUnloading() && transport && !transport->AbortPending();
        bool transferRefused = false;

        if (sessionGoesOn && m_finished && m_direction != Aborted) {
            const std::shared_ptr<HostPif> pif = state.hostPif;
            const QString path = Paths::transferFile(state.config.tamselDataPath);
            if (m_direction == Receive && !Paths::plainFileOrMissing(path)) {
                // The transfer file has a fixed name: a symbolic link (or a FIFO, a device...) found
                // there was planted, and a host that wrote the panel's data to that name would
                // carry them wherever it points. The receive fails instead and the session ends as
                // after a failed answer.
                transferRefused = true;
                state.LastErrorNumber = ErrorCode::PermissionDenied;
                const QString why = QStringLiteral("%1 is not a plain file; the received data were not handed over").arg(path);
                modGlobals::DebugPrint(why);
                errors::report(ErrorCode::PermissionDenied, kOwner, QStringLiteral("Form_Unload()"), why);
            } else if (m_direction == Receive) {
                if (pif)
                    pif->takeTransferFile(path);
                if (state.UnattendedFlag || (windowActive && windowActive()))
                    modGlobals::ZelCommEvent(10, path);
                else
                    queue->PendingTransferFile = true;
                modGlobals::MakeCallback(QStringLiteral("RECV_END"), 0);
            } else {
                if (pif)
                    pif->finishSend();
                modGlobals::MakeCallback(QStringLiteral("SEND_END"), 0);
            }
        }
        if (queue)
            queue->AbortQueuedMsgOwnedBy(Name());
        // The abort has done its work; while the block loop still runs it keeps it stopped, and the
        // loop clears it when it is done.
        if (transport && m_direction == Aborted && !m_queueing)
            transport->setAbortWorkInProgress(false);
        if (m_registered) {
            modGlobals::ForgetGUIDObject(szGUID());
            m_registered = false;
        }
        if (!sessionGoesOn)
            return;
        if (m_exclusive && !m_exclusiveLeft)
            leaveExclusiveMode();
        if (transferRefused)
            modGlobals::Disconnect(false, 5);
        else if (const std::shared_ptr<HostSettings> settings = state.hostSettings) {
            if (!settings->HostDataMode())
                modGlobals::Disconnect(false, 5);
            else if (m_direction != Receive)
                modGlobals::ZelCommEvent(7, 0);
        }
    });
    emit unloaded();
    deleteLater();
}
