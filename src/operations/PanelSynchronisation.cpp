#include "operations/PanelSynchronisation.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "link/modExecFunctions.h"
#include "link/modSDIFunctions.h"
#include "link/modToolbox.h"
#include "operations/DataTransfer.h"
#include "operations/OperationWindows.h"
#include "operations/SyncCheck.h"
#include "queue/SessionEnd.h"
#include "queue/MessageQueue.h"

#include <QCoreApplication>
#include <QPointer>

namespace modToolbox {

namespace {
const QString kModule = QStringLiteral("modToolbox");

// The session's queue window, or the error for a check without a session.
MessageQueue *sessionQueue()
{
    MessageQueue *queue = sessionState().messageQueue;
    if (!queue || queue->isUnloading() || !sessionState().currentTransport)
        raiseError(ErrorCode::SendRefused, QStringLiteral("no panel session"));
    return queue;
}
} // namespace

std::int32_t CheckPanelSyncronization()
{
    return errors::guarded(kModule, QStringLiteral("CheckPanelSyncronization()"), [] {
        MessageQueue *queue = sessionQueue();
        modGlobals::ZelCommEvent(6, 0);
        // A child of the queue window: it goes with the session.
        QPointer<SyncCheck> check = new SyncCheck(queue);
        attachWindow(*check);
        QCoreApplication::processEvents();
        SessionState &state = sessionState();
        if (!check || (state.currentTransport && state.currentTransport->AbortPending()))
            raiseError(ErrorCode::Aborted);
        if (state.hostSettings && state.hostSettings->HostDataMode()) {
            if (modSDIFunctions::SDIRequestCRC(check.data(), 5, false) != 0) {
                check->unload();
                raiseError(ErrorCode::SendRefused, QStringLiteral("the CRC request could not be queued"));
            }
            return;
        }
        check->Display();
    });
}

std::int32_t PerformPanelSyncronization(std::int16_t Mode, const QList<bool> &SyncList, bool bExclusive)
{
    const std::int32_t rc = errors::guarded(kModule, QStringLiteral("PerformPanelSyncronization()"), [&] {
        SessionState &state = sessionState();
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        GetItemMap(itemOf, startOf, blockLen, blockCount);
        const QList<bool> flags = SyncList.isEmpty() ? QList<bool>(blockCount.size(), true) : SyncList;

        if (Mode == 0) {
            if (state.hostSettings && state.hostSettings->HostDataMode())
                modGlobals::ZelCommEvent(7, 0);
            else
                modGlobals::Disconnect(false, 5);
            return;
        }

        MessageQueue *queue = sessionQueue();
        // A child of the queue window: it goes with the session.
        QPointer<DataTransfer> transfer = new DataTransfer(queue);
        attachWindow(*transfer);
        transfer->begin(Mode, flags, bExclusive);
        // While the requests are queued, an abort keeps the block loop stopped even once the
        // transfer has unloaded; the loop's end lets it go.
        if (transfer)
            transfer->setQueueing(true);
        struct Queueing
        {
            QPointer<DataTransfer> &transfer;
            ~Queueing()
            {
                if (transfer && !transfer->isUnloaded()) {
                    transfer->setQueueing(false);
                } else if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport) {
                    transport->setAbortWorkInProgress(false);
                }
            }
        } queueing{transfer};
        const auto stopped = [&] { return !transfer || transfer->isUnloaded() || transfer->direction() == DataTransfer::Aborted; };

        if (bExclusive && modExecFunctions::SMExclusiveCommand(true, transfer.data(), 5, false) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("exclusive mode could not be entered"));
        for (int item = 0; item < flags.size(); ++item) {
            if (!flags.at(item))
                continue;
            if (stopped())
                break;
            const auto i = static_cast<std::int16_t>(item);
            const std::int32_t result = Mode == 1 ? PanelReceive(i, transfer.data()) : PanelSend(i, transfer.data());
            if (result != 0) {
                if (transfer)
                    transfer->unload();
                raiseError(result);
            }
        }
        if (bExclusive && !stopped() && modExecFunctions::SMExclusiveCommand(false, transfer.data(), 5, false) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("exclusive mode could not be left"));
    });
    if (rc != 0)
        modGlobals::Disconnect(false, 5);
    return rc;
}

} // namespace modToolbox

namespace modUnattended {

std::int32_t UnattendedSyncStartup(SyncCheck *check, std::int16_t queueArgument)
{
    return errors::guarded(QStringLiteral("modUnattended"), QStringLiteral("UnattendedSyncStartup()"), [&] {
        if (!check)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no synchronisation check"));
        if (modSDIFunctions::SDIRequestCRC(check, queueArgument, false) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("the CRC request could not be queued"));
    });
}

} // namespace modUnattended
