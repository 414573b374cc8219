#include "component/clsCommunication.h"

#include "component/Configuration.h"
#include "component/SessionSignals.h"
#include "connection/PanelConnection.h"
#include "connection/frmCommInterface.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "diagnostics/frmDiagnostics.h"
#include "link/modExecFunctions.h"
#include "operations/ClockSetting.h"
#include "operations/HistoryRetrieval.h"
#include "operations/PanelSynchronisation.h"
#include "operations/SyncCheck.h"
#include "operations/frmHistory.h"
#include "operations/modDateTime.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"
#include "supervision/SessionClosing.h"
#include "supervision/SupervisionViews.h"
#include "transports/Resolver.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QRadioButton>

namespace {
const QString kClass = QStringLiteral("clsCommunication");

// The calls that show a window need an application that can make one. A program without a display
// (quarvo-host unattended, quarvo-server started where there is none) runs on a plain core
// application: such a call is an error that says so, not a window no one can see or answer.
void requireWindows(const QString &call)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !app->inherits("QApplication"))
        raiseError(ErrorCode::ObjectRequired,
                   QStringLiteral("no display: %1 opens a window; run the jobs with DoUnattended").arg(call));
}
} // namespace

clsCommunication::clsCommunication()
{
    modGlobals::InitApplicationVariables();
    // The end-session question can be asked before any session has started.
    installSupervisionViews();
    // SIGTERM and SIGINT end a session cleanly in whatever program embeds the component.
    SessionSignals::install();
}

clsCommunication::~clsCommunication()
{
    SessionState &state = sessionState();
    state.hostCallback.reset();
    state.stringCatalog.reset();
}

QString clsCommunication::Name() const
{
    return modGlobals::ApplicationName;
}

void clsCommunication::setName(const QString &)
{
}

QString clsCommunication::Description() const
{
    return QString();
}

void clsCommunication::setDescription(const QString &)
{
}

std::shared_ptr<HostPif> clsCommunication::Pif() const
{
    return errors::guardedValue(kClass, QStringLiteral("Pif[Get]"), std::shared_ptr<HostPif>(),
                                [] { return sessionState().hostPif; });
}

void clsCommunication::setPif(std::shared_ptr<HostPif> pif)
{
    errors::guarded(kClass, QStringLiteral("Pif[Set]"), [&] { sessionState().hostPif = std::move(pif); });
}

std::shared_ptr<HostSettings> clsCommunication::Settings() const
{
    return errors::guardedValue(kClass, QStringLiteral("Settings[Get]"), std::shared_ptr<HostSettings>(),
                                [] { return sessionState().hostSettings; });
}

void clsCommunication::setSettings(std::shared_ptr<HostSettings> settings)
{
    errors::guarded(kClass, QStringLiteral("Settings[Set]"), [&] {
        SessionState &state = sessionState();
        state.hostSettings = std::move(settings);
        HostSettings *s = state.hostSettings.get();
        if (!s)
            return;
        state.accountName = s->AccountName();
        // Encryption needs a 32-character link key and a host that does not switch it off; the
        // host can only narrow what the configuration allows.
        if (state.EncryptionEnabled)
            state.EncryptionEnabled = s->LinkKey().size() == 32;
        if (state.EncryptionEnabled && s->LinkKeyMode() == 1)
            state.EncryptionEnabled = false;
        const QString host = s->RemoteHost();
        if (!host.isEmpty()) {
            QString resolved;
            modICMP::ResolveHost(host, resolved);
            if (!resolved.isEmpty())
                s->setRemoteHost(resolved);
        }
    });
}

QObject *clsCommunication::CommControl() const
{
    return nullptr;
}

void clsCommunication::setCommControl(QObject *)
{
}

std::int32_t clsCommunication::CommStartup()
{
    return errors::guarded(kClass, QStringLiteral("CommStartup()"), [] {
        requireWindows(QStringLiteral("CommStartup"));
        SessionState &state = sessionState();
        // An operator runs this session, whatever an earlier unattended run in this process left.
        state.UnattendedFlag = false;
        modGlobals::InitQueue();
        modGlobals::InitImmediate();

        QPointer<frmCommInterface> dialog = new frmCommInterface();
        state.connectionDialog = dialog;
        // The dialog goes whatever happens below; the message queue may have closed it already.
        struct Release
        {
            QPointer<frmCommInterface> &dialog;
            ~Release()
            {
                if (sessionState().connectionDialog == dialog)
                    sessionState().connectionDialog = nullptr;
                delete dialog.data();
            }
        } release{dialog};

        std::int16_t result = frmCommInterface::ResultNotConnected;
        dialog->Display(result);
        if (result == frmCommInterface::ResultConnected) {
            const std::shared_ptr<HostSettings> settings = state.hostSettings;
            modGlobals::ZelCommEvent(settings && settings->HostDataMode() ? 2 : 12, 0, modGlobals::ApplicationName);
            modGlobals::MakeCallback(QStringLiteral("GET_REV"), state.panelRevision);
            if (modToolbox::CheckPanelSyncronization() != 0)
                raiseError(ErrorCode::SendRefused);
        } else if (MessageQueue *queue = state.messageQueue) {
            queue->Unload();
            state.messageQueue = nullptr;
        }
    });
}

std::int32_t clsCommunication::CommShutdown(bool &Force)
{
    std::int32_t dialogResult = 0; // the dialog reports its own errors
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("CommShutdown()"), [&] {
        if (Force) {
            SessionSignals::endSessionForcibly();
            return;
        }
        // The operator decides in the End Session window: the question says goodbye (or not) itself.
        requireWindows(QStringLiteral("CommShutdown without Force"));
        SessionClosing closing;
        dialogResult = closing.Display();
    });
    return rc != 0 ? rc : dialogResult;
}

std::int32_t clsCommunication::DiagStartup()
{
    return errors::guarded(kClass, QStringLiteral("DiagStartup()"), [] {
        requireWindows(QStringLiteral("DiagStartup"));
        frmDiagnostics window;
        window.Display();
    });
}

void clsCommunication::SetCallBack(std::shared_ptr<HostCallback> &Callback)
{
    errors::guarded(kClass, QStringLiteral("SetCallBack()"), [&] { sessionState().hostCallback = Callback; });
}

std::int32_t clsCommunication::CommSendReceive()
{
    return errors::guarded(kClass, QStringLiteral("CommSendReceive()"), [] {
        requireWindows(QStringLiteral("CommSendReceive"));
        if (modToolbox::CheckPanelSyncronization() != 0)
            raiseError(ErrorCode::SendRefused);
    });
}

std::int32_t clsCommunication::HistoryStartup()
{
    return errors::guarded(kClass, QStringLiteral("HistoryStartup()"), [] {
        // Without a session there is no panel to read from: the window would wait for an operator
        // who can do nothing in it (and on a headless server for ever).
        if (!sessionState().messageQueue)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no session: history needs a connected panel"));
        requireWindows(QStringLiteral("HistoryStartup"));
        // The window may go while it runs (the message queue closes it when the session ends).
        QPointer<frmHistory> window = new frmHistory();
        struct Release
        {
            QPointer<frmHistory> &window;
            ~Release() { delete window.data(); }
        } release{window};
        const std::int32_t rc = window->Display();
        if (rc != 0)
            raiseError(rc);
    });
}

std::int32_t clsCommunication::DoUnattended(std::int32_t &JobMask)
{
    return errors::guarded(kClass, QStringLiteral("DoUnattended()"), [&] {
        m_jobMask = JobMask;
        const std::int32_t mask = JobMask;
        SessionState &state = sessionState();
        state.abortRequested = false;
        state.sessionEndReported = false;
        // No operator: no window at all, whatever the settings ask of an operator's session.
        modGlobals::InitQueue(modGlobals::SessionWindows::None);
        modGlobals::InitImmediate(modGlobals::SessionWindows::None);
        MessageQueue *queue = state.messageQueue;
        if (!queue)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no message queue"));
        queue->setUnattended(true);

        // Engines only, no window: children of the message queue, each goes when its job is done,
        // or with the session (the connection and the retrieval tell the host then, as a window
        // does when it unloads).
        QPointer<PanelConnection> connection = new PanelConnection(queue);
        QPointer<HistoryRetrieval> history = new HistoryRetrieval(queue);
        // An unattended retrieval unloads itself at its end; then it only has to go.
        QObject::connect(history, &HistoryRetrieval::finished, history, &QObject::deleteLater);
        QPointer<ClockSetting> dateTime = new ClockSetting(queue);
        QPointer<SyncCheck> sync = new SyncCheck(queue);

        // Connects over the network at once; the handshake goes on as the panel answers.
        const std::int32_t displayed = connection->startUnattended();

        // The jobs are only queued here; their requests follow the handshake's in queue order. An
        // attempt that failed at once has ended the session already (no queue), or never made a
        // transport; either way there is nothing to queue the jobs on.
        queue = state.messageQueue;
        if (!queue || queue->isUnloading())
            return;
        if (!state.currentTransport) {
            queue->Unload(); // the connection's unload tells the host
            // Nothing was even tried (no settings to connect with): the host hears why, not success.
            if (displayed != 0)
                raiseError(displayed);
            return;
        }

        if (mask & 1)
            modDateTime::UnattendedSetDateTime(5);
        if (history && (mask & 8)) {
            history->setRange(HistoryRetrieval::Range::All);
            history->setSetPointer(false);
            modUnattended::UnattendedHistoryStartup(history, 4);
        } else if (history && (mask & 2)) {
            history->setRange(HistoryRetrieval::Range::Current);
            history->setSetPointer((mask & 4) != 0);
            modUnattended::UnattendedHistoryStartup(history, 4);
        }
        std::uint8_t goodbyeCode = 0;
        if (sync && (mask & 16)) {
            sync->setMode(SyncCheck::ReceivePanel);
            modUnattended::UnattendedSyncStartup(sync, 3);
        } else if (sync && (mask & 32)) {
            sync->setMode(SyncCheck::SendPanel);
            goodbyeCode = 1; // the panel resets after taking the host's data
            modUnattended::UnattendedSyncStartup(sync, 3);
        }

        queue = state.messageQueue;
        if (queue && !queue->isUnloading()) {
            const std::int32_t rc = modExecFunctions::SMPanelGoodbye(goodbyeCode, queue, 0, false);
            if (rc != 0)
                raiseError(rc);
        }
        // The date/time window serves no job; the other windows stay with their jobs.
        delete dateTime.data();
    });
}

void clsCommunication::DataArrival(QByteArray &Data)
{
    errors::guarded(kClass, QStringLiteral("DataArrival()"), [&] {
        // Without a session there is nothing to hand the bytes to.
        if (MessageQueue *queue = sessionState().messageQueue)
            queue->DataArrival(Data);
    });
}
