#include "server/ZelCommService.h"

#include "component/SessionSignals.h"
#include "component/clsCommunication.h"
#include "connection/frmCommInterface.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "server/RemoteHostObjects.h"
#include "server/ServerNames.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QWidget>

namespace quarvobus {

namespace {

// The panel's goodbye after a client vanished gets this long (protocol milliseconds), as on a
// termination signal; the windows of an operation still running get kCloseMs more to close.
constexpr qint64 kGoodbyeMs = 5000;
constexpr qint64 kCloseMs = 10000;
constexpr int kEndPollMs = 20;

bool noObject(const QDBusObjectPath &path)
{
    return path.path().isEmpty() || path.path() == kNoObject;
}

} // namespace

ZelCommService::ZelCommService(QDBusConnection bus, int idleMs, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
    m_watcher = new QDBusServiceWatcher(this);
    m_watcher->setConnection(m_bus);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString &name) {
        if (name == m_client && !m_ending)
            clientGone();
    });
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_client.isEmpty() && m_running.isEmpty() && !m_ending)
            emit idle();
    });
    m_endWatch.setInterval(kEndPollMs);
    connect(&m_endWatch, &QTimer::timeout, this, &ZelCommService::finishEnding);
    // No client may ever come.
    checkIdle();
}

ZelCommService::~ZelCommService()
{
    if (MessageQueue *queue = sessionState().messageQueue)
        queue->Unload();
    m_component.reset();
}

void ZelCommService::shutDown()
{
    if (!m_client.isEmpty() && !m_ending)
        clientGone();
    else if (m_client.isEmpty())
        emit idle();
}

bool ZelCommService::admit()
{
    const QString caller = message().service();
    if (caller == m_client)
        return true;
    if (m_ending) {
        sendErrorReply(kErrorEnding,
                       QStringLiteral("Quarvo is ending the session of a client that left the bus; call again in a moment"));
        return false;
    }
    if (!m_client.isEmpty()) {
        sendErrorReply(kErrorBusy, QStringLiteral("Quarvo is serving another client (%1): one server runs one session "
                                                  "for one client; try again when that client has left the bus")
                                       .arg(m_client));
        return false;
    }
    // The caller becomes the client of this server until it leaves the bus.
    m_client = caller;
    m_link = std::make_shared<ClientLink>(m_bus, caller);
    m_watcher->setWatchedServices({caller});
    m_idle.stop();
    m_component = std::make_unique<clsCommunication>();
    modGlobals::DebugPrint(QStringLiteral("D-Bus client %1 is served").arg(caller));
    // A client that left before the watch was set would never be seen leaving.
    if (!m_bus.interface()->isServiceRegistered(caller).value())
        QTimer::singleShot(0, this, [this, caller] {
            if (caller == m_client && !m_ending)
                clientGone();
        });
    return true;
}

void ZelCommService::runLong(const QString &name, const std::function<int()> &body)
{
    if (!m_running.isEmpty()) {
        sendErrorReply(kErrorOperationRunning,
                       QStringLiteral("%1 is still running: %2 can start once %1 has replied").arg(m_running, name));
        return;
    }
    // The reply goes out when the operation returns; meanwhile the event loop serves the bus.
    setDelayedReply(true);
    const QDBusMessage call = message();
    m_running = name;
    const int result = body();
    m_running.clear();
    m_bus.send(call.createReply(result));
    checkIdle();
}

QString ZelCommService::GetName()
{
    return modGlobals::ApplicationName;
}

void ZelCommService::SetName(const QString &)
{
}

QString ZelCommService::GetDescription()
{
    return QString();
}

void ZelCommService::SetDescription(const QString &)
{
}

QDBusObjectPath ZelCommService::GetPif()
{
    if (!admit())
        return QDBusObjectPath(kNoObject);
    return QDBusObjectPath(m_component->Pif() ? m_pifPath : kNoObject);
}

void ZelCommService::SetPif(const QDBusObjectPath &Pif)
{
    if (!admit())
        return;
    m_pifPath = noObject(Pif) ? kNoObject : Pif.path();
    m_component->setPif(noObject(Pif) ? nullptr : std::make_shared<RemotePif>(m_link, Pif.path()));
}

QDBusObjectPath ZelCommService::GetSettings()
{
    if (!admit())
        return QDBusObjectPath(kNoObject);
    return QDBusObjectPath(m_component->Settings() ? m_settingsPath : kNoObject);
}

void ZelCommService::SetSettings(const QDBusObjectPath &Settings)
{
    if (!admit())
        return;
    m_settingsPath = noObject(Settings) ? kNoObject : Settings.path();
    m_component->setSettings(noObject(Settings) ? nullptr : std::make_shared<RemoteSettings>(m_link, Settings.path()));
}

QDBusObjectPath ZelCommService::GetCommControl()
{
    return QDBusObjectPath(kNoObject);
}

void ZelCommService::SetCommControl(const QDBusObjectPath &)
{
}

int ZelCommService::CommStartup()
{
    if (admit())
        runLong(QStringLiteral("CommStartup"), [this] { return m_component->CommStartup(); });
    return 0;
}

int ZelCommService::CommShutdown(bool Force)
{
    if (!admit())
        return 0;
    // The forced end is what a client calls while an operation waits: it runs at once.
    if (Force)
        return m_component->CommShutdown(Force);
    runLong(QStringLiteral("CommShutdown"), [this] {
        bool force = false;
        return m_component->CommShutdown(force);
    });
    return 0;
}

int ZelCommService::DiagStartup()
{
    if (!admit())
        return 0;
    return m_component->DiagStartup();
}

void ZelCommService::SetCallBack(const QDBusObjectPath &Callback)
{
    if (!admit())
        return;
    std::shared_ptr<HostCallback> callback;
    if (!noObject(Callback))
        callback = std::make_shared<RemoteCallback>(m_link, Callback.path());
    m_component->SetCallBack(callback);
}

int ZelCommService::CommSendReceive()
{
    if (admit())
        runLong(QStringLiteral("CommSendReceive"), [this] { return m_component->CommSendReceive(); });
    return 0;
}

int ZelCommService::HistoryStartup()
{
    if (admit())
        runLong(QStringLiteral("HistoryStartup"), [this] { return m_component->HistoryStartup(); });
    return 0;
}

int ZelCommService::DoUnattended(int JobMask)
{
    if (admit())
        runLong(QStringLiteral("DoUnattended"), [this, JobMask] {
            std::int32_t mask = JobMask;
            return m_component->DoUnattended(mask);
        });
    return 0;
}

void ZelCommService::DataArrival(const QByteArray &Data)
{
    if (!admit())
        return;
    QByteArray data = Data;
    m_component->DataArrival(data);
}

void ZelCommService::clientGone()
{
    modGlobals::DebugPrint(QStringLiteral("D-Bus client %1 left the bus: ending its session").arg(m_client));
    m_ending = true;
    m_link->markGone();
    sessionState().hostCallback.reset();
    // As a forced CommShutdown: goodbye to a connected panel; the message queue unloads once the
    // goodbye is answered, and with it every record of the session.
    SessionSignals::endSessionForcibly();
    closeOperatorWindows();
    m_goodbye = std::make_unique<Timing::Deadline>(kGoodbyeMs);
    m_closing = std::make_unique<Timing::Deadline>(kGoodbyeMs + kCloseMs);
    m_endWatch.start();
}

void ZelCommService::finishEnding()
{
    SessionState &state = sessionState();
    const bool goodbyeDone = !state.messageQueue || !state.currentTransport || !state.currentTransport->Connected();
    if (!goodbyeDone && !m_goodbye->expired())
        return;
    if (MessageQueue *queue = state.messageQueue) {
        queue->Unload();
        state.messageQueue = nullptr;
    }
    if (!m_running.isEmpty()) {
        // The operation's windows are closing; its call returns into the loop once they have.
        closeOperatorWindows();
        if (!m_closing->expired())
            return;
        // Something keeps a window open: end every event loop of the program.
        m_endWatch.stop();
        QCoreApplication::exit(1);
        return;
    }
    m_endWatch.stop();
    releaseClient();
    m_ending = false;
    checkIdle();
}

void ZelCommService::closeOperatorWindows()
{
    if (frmCommInterface *dialog = sessionState().connectionDialog) {
        dialog->cmdCancel_Click();
        if (frmCommInterface *still = sessionState().connectionDialog)
            still->hide();
    }
    // A server without a display has no windows at all.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    for (int n = 0; n < 10; ++n) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        modal->close();
        if (QApplication::activeModalWidget() == modal)
            modal->hide();
    }
}

void ZelCommService::releaseClient()
{
    m_watcher->setWatchedServices({});
    m_component.reset();
    m_link.reset();
    m_client.clear();
    m_pifPath = m_settingsPath = kNoObject;
    // The next client starts from a fresh record, as a new component instance in a new process.
    resetSessionState();
}

void ZelCommService::checkIdle()
{
    if (m_client.isEmpty() && m_running.isEmpty() && !m_ending)
        m_idle.start();
    else
        m_idle.stop();
}

} // namespace quarvobus
