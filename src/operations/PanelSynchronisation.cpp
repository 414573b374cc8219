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
#include "operations/frmPanelSyncro.h"
#include "operations/frmWorkInProgress.h"
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
        // A window of the session: it goes with the queue.
        QPointer<frmPanelSyncro> window = new frmPanelSyncro();
        queue->holdWindow(window);
        QCoreApplication::processEvents();
        SessionState &state = sessionState();
        if (!window || (state.currentTransport && state.currentTransport->AbortPending()))
            raiseError(ErrorCode::Aborted);
        if (state.hostSettings && state.hostSettings->HostDataMode()) {
            if (modSDIFunctions::SDIRequestCRC(window.data(), 5, false) != 0) {
                window->Form_Unload();
                raiseError(ErrorCode::SendRefused, QStringLiteral("the CRC request could not be queued"));
            }
            return;
        }
        window->Display();
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
        QPointer<frmWorkInProgress> window = new frmWorkInProgress();
        queue->holdWindow(window);
        window->Display(Mode, flags, bExclusive);
        // While the requests are queued, an abort keeps the block loop stopped even once the
        // window has closed; the loop's end lets it go.
        window->setQueueing(true);
        struct Queueing
        {
            QPointer<frmWorkInProgress> &window;
            ~Queueing()
            {
                if (window && !window->isUnloaded()) {
                    window->setQueueing(false);
                } else if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport) {
                    transport->setAbortWorkInProgress(false);
                }
            }
        } queueing{window};
        const auto stopped = [&] { return !window || window->isUnloaded() || window->direction() == frmWorkInProgress::Aborted; };

        if (bExclusive && modExecFunctions::SMExclusiveCommand(true, window.data(), 5, false) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("exclusive mode could not be entered"));
        for (int item = 0; item < flags.size(); ++item) {
            if (!flags.at(item))
                continue;
            if (stopped())
                break;
            const auto i = static_cast<std::int16_t>(item);
            const std::int32_t result = Mode == 1 ? PanelReceive(i, window.data()) : PanelSend(i, window.data());
            if (result != 0) {
                if (window)
                    window->Form_Unload();
                raiseError(result);
            }
        }
        if (bExclusive && !stopped() && modExecFunctions::SMExclusiveCommand(false, window.data(), 5, false) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("exclusive mode could not be left"));
    });
    if (rc != 0)
        modGlobals::Disconnect(false, 5);
    return rc;
}

} // namespace modToolbox

namespace modUnattended {

std::int32_t UnattendedSyncStartup(frmPanelSyncro *window, std::int16_t queueArgument)
{
    return errors::guarded(QStringLiteral("modUnattended"), QStringLiteral("UnattendedSyncStartup()"), [&] {
        if (!window)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no synchronisation window"));
        if (modSDIFunctions::SDIRequestCRC(window, queueArgument, false) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("the CRC request could not be queued"));
    });
}

} // namespace modUnattended
