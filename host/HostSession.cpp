#include "HostSession.h"

#include "HostFiles.h"
#include "Printable.h"
#include "RemoteComponent.h"

#include "component/SessionSignals.h"
#include "component/clsCommunication.h"
#include "core/ErrorCodes.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "external/ErrorReporter.h"
#include "platform/SignalBridge.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

#include <cstdio>

namespace {

// Out of process, the signal (SIGTERM, SIGINT) that ended the host's wait; 0 before.
int g_hostSignal = 0;
// In process, the signal whose forced end of the session is under way (the component says goodbye
// to the panel and removes the records; the wait goes on until the session is over); 0 before.
int g_sessionSignal = 0;

QString readableError(std::int32_t number)
{
    switch (number) {
    case ErrorCode::PasscodeFailed: return QStringLiteral("the panel refused the passcode");
    case ErrorCode::DataLockMismatch: return QStringLiteral("the panel's data lock matches none of the settings' DataLocks");
    case ErrorCode::PanelStatusMismatch: return QStringLiteral("the panel's status byte is not ExpectedPanelStatus");
    case ErrorCode::NoCompleteAnswer: return QStringLiteral("the panel did not answer at RemoteHost:PanelPort");
    case ErrorCode::RetriesExhausted: return QStringLiteral("the panel stopped answering (every retry used)");
    case ErrorCode::AddressCheckFailed: return QStringLiteral("RemoteHost is not a usable network address");
    case ErrorCode::Aborted: return QStringLiteral("the panel refused a write, or the session was aborted");
    case ErrorCode::SendRefused: return QStringLiteral("a request could not be sent, or the panel refused it");
    case ErrorCode::BadChecksum: return QStringLiteral("the panel's answers were damaged");
    case ErrorCode::PermissionDenied:
        return QStringLiteral("a file at a fixed name (the transfer file tempdat.000 or a log) is a symbolic link or not a plain file");
    default: return QString();
    }
}

} // namespace

HostSession::HostSession()
    : m_settings(std::make_shared<FileHostSettings>())
{
}

HostSession::~HostSession()
{
    close();
}

void HostSession::chooseFolders()
{
    const auto choose = [](const char *variable, QStandardPaths::StandardLocation location, const QString &sub, bool make) {
        QString folder = qEnvironmentVariable(variable);
        if (folder.isEmpty()) {
            QString base = QStandardPaths::writableLocation(location);
            if (base.isEmpty())
                base = QDir::home().filePath(QStringLiteral(".quarvo-host"));
            folder = sub.isEmpty() ? base : QDir(base).filePath(sub);
            qputenv(variable, QFile::encodeName(folder));
        }
        // The component makes the settings store's folders itself (with the modes a store needs),
        // but writes its logs only into a folder that exists.
        if (make)
            hostfiles::ensureFolder(folder, nullptr);
    };
    choose("QUARVO_SETTINGS_DIR", QStandardPaths::AppConfigLocation, QString(), false);
    choose("QUARVO_LOG_DIR", QStandardPaths::AppLocalDataLocation, QStringLiteral("logs"), true);
}

std::optional<std::int32_t> jobMaskFor(const QString &words, QString *error, QStringList *notes)
{
    static const QList<QPair<QString, std::int32_t>> kJobs{
        {QStringLiteral("none"), 0},         {QStringLiteral("clock"), 1},        {QStringLiteral("history-current"), 2},
        {QStringLiteral("set-pointer"), 4},  {QStringLiteral("history-all"), 8},  {QStringLiteral("receive"), 16},
        {QStringLiteral("send"), 32}};
    std::int32_t mask = 0;
    for (const QString &raw : words.split(QLatin1Char(','))) {
        const QString word = raw.trimmed().toLower();
        const auto it = std::find_if(kJobs.begin(), kJobs.end(), [&](const auto &job) { return job.first == word; });
        if (it == kJobs.end()) {
            if (error) {
                QStringList known;
                for (const auto &job : kJobs)
                    known << job.first;
                *error = word.isEmpty() ? QStringLiteral("--jobs has an empty word")
                                        : QStringLiteral("--jobs: unknown job \"%1\" (jobs: %2)").arg(printable(word), known.join(QStringLiteral(", ")));
            }
            return std::nullopt;
        }
        mask |= it->second;
    }
    if (notes) {
        if ((mask & 8) && (mask & 6))
            *notes << QStringLiteral("history-all is run; history-current and set-pointer are passed over");
        else if ((mask & 4) && !(mask & 2))
            *notes << QStringLiteral("set-pointer goes with history-current only; it is passed over");
        if ((mask & 16) && (mask & 32))
            *notes << QStringLiteral("receive is run; send is passed over");
    }
    return mask;
}

QString dataFileFor(const QString &dataOption, const QString &settingsPath, const FileHostSettings &settings)
{
    if (!dataOption.isEmpty())
        return QFileInfo(dataOption).absoluteFilePath();
    const QDir base = settingsPath.isEmpty() ? QDir::current() : QFileInfo(settingsPath).absoluteDir();
    const QString named = settings.dataFile().isEmpty() ? settings.AccountName() + QStringLiteral(".qpd") : settings.dataFile();
    return QFileInfo(base.filePath(named)).absoluteFilePath();
}

bool HostSession::prepare(const HostOptions &options, QString *error)
{
    m_outOfProcess = options.outOfProcess;
    if (!options.settingsPath.isEmpty()) {
        if (!m_settings->load(options.settingsPath, error))
            return false;
        if (QFileInfo(options.settingsPath).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther))
            std::fprintf(stderr, "quarvo-host: warning: %s holds the passcode and link key but others may read it (chmod 600)\n",
                         qPrintable(options.settingsPath));
    }
    m_data = std::make_shared<PanelDataStore>(m_settings->PanelType());
    // The data file the user named: through a link of the user's own to its target (as an editor
    // writes), never through one of another user.
    QString dataPath;
    if (!hostfiles::resolveOwnLinks(dataFileFor(options.dataPath, options.settingsPath, *m_settings), &dataPath, error))
        return false;
    if (QFileInfo(dataPath).exists() || QFileInfo(dataPath).isSymLink()) {
        if (!m_data->load(dataPath, error))
            return false;
        if (m_data->panelType() != m_settings->PanelType()) {
            if (error)
                *error = QStringLiteral("%1 holds the data of a panel of type %2, the settings say PanelType %3")
                             .arg(dataPath)
                             .arg(m_data->panelType())
                             .arg(m_settings->PanelType());
            return false;
        }
    }
    m_data->setDataFile(dataPath);

    QIODevice *out = nullptr;
    if (options.eventsPath.isEmpty()) {
        if (!m_stdout.open(stdout, QIODevice::WriteOnly)) {
            if (error)
                *error = QStringLiteral("cannot write to standard output");
            return false;
        }
        out = &m_stdout;
    } else {
        if (!hostfiles::openForAppend(m_eventFile, options.eventsPath, error))
            return false;
        out = &m_eventFile;
    }
    m_events = std::make_shared<HostEventLog>(out);
    if (!options.historyPath.isEmpty()) {
        if (!hostfiles::openForAppend(m_historyFile, options.historyPath, error))
            return false;
        m_events->setHistoryFile(&m_historyFile);
    }
    return true;
}

bool HostSession::attach(QString *error)
{
    if (m_outOfProcess) {
        auto remote = std::make_unique<RemoteComponent>();
        if (!remote->connectServer(error))
            return false;
        m_remote = remote.get();
        m_component = std::move(remote);
        // A signal ends the host's wait, also one for a long operation's reply; leaving the bus then
        // ends the session in the server (goodbye to the panel). A second signal ends the host at once.
        if (SignalBridge *bridge = SignalBridge::install()) {
            QObject::connect(bridge, &SignalBridge::received, bridge, [bridge](int signo) {
                g_hostSignal = signo;
                bridge->restoreDefaults();
                QCoreApplication::exit(128 + signo);
            });
        }
    } else {
        m_component = std::make_unique<clsCommunication>();
        // The component ends the session itself on the signal (its bridge is connected first); the
        // host only notes it, so that its exit status says the signal even when the session's end
        // is seen before the component has reported it complete.
        if (SignalBridge *bridge = SignalBridge::install())
            QObject::connect(bridge, &SignalBridge::received, bridge, [](int signo) {
                if (g_sessionSignal == 0)
                    g_sessionSignal = signo;
            });
    }
    if (sessionState().errorReporter)
        m_errorFileSize = QFileInfo(sessionState().errorReporter->errorFilePath()).size();
    std::shared_ptr<HostCallback> callback = m_events;
    m_component->SetCallBack(callback);
    m_component->setSettings(m_settings);
    m_component->setPif(m_data);
    if (m_remote && !m_remote->lastError().isEmpty()) {
        if (error)
            *error = QStringLiteral("quarvo-server did not take the host's objects: ") + m_remote->lastError();
        return false;
    }
    return true;
}

bool HostSession::sessionOver() const
{
    if (m_remote)
        return !m_events->ending().isEmpty() || m_remote->serverGone();
    return !sessionState().messageQueue;
}

bool HostSession::waitForEnd(int seconds)
{
    const auto over = [this] { return sessionOver() || SessionSignals::terminationSignal() != 0 || g_hostSignal != 0; };
    // Real seconds: the limit is the operator's, not a protocol wait.
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = qint64(seconds) * 1000;
    bool forced = false;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(20);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (over()) {
            loop.quit();
            return;
        }
        if (limitMs > 0 && !forced && clock.elapsed() > limitMs) {
            forced = true;
            std::fprintf(stderr, "quarvo-host: no end after %d s: shutting the session down\n", seconds);
            bool force = true;
            m_component->CommShutdown(force);
        }
        // A forced shutdown that the panel does not answer ends after the goodbye's own wait (out
        // of process the server's own end of the session is waited for no longer).
        if (forced && clock.elapsed() > limitMs + 30000) {
            if (m_remote)
                loop.quit();
            else if (MessageQueue *queue = sessionState().messageQueue)
                queue->Unload();
        }
    });
    tick.start();
    if (!over())
        loop.exec();
    tick.stop();
    // Whatever the server sent before the end is delivered before the reply to a call made now.
    if (m_remote && !m_remote->serverGone() && g_hostSignal == 0)
        m_remote->Name();
    // The windows that went with the session report now (the connection dialog's unload).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !forced;
}

int HostSession::terminationStatus()
{
    int signo = SessionSignals::terminationSignal();
    if (signo == 0)
        signo = g_hostSignal != 0 ? g_hostSignal : g_sessionSignal;
    return signo != 0 ? 128 + signo : 0;
}

int HostSession::statusFor(const QString &ending)
{
    if (ending == QLatin1String("SUCCESS") || ending == QLatin1String("USERDISCONNECTING"))
        return hostexit::Success;
    if (ending == QLatin1String("FAILURE"))
        return hostexit::Failure;
    if (ending == QLatin1String("ABORTED"))
        return hostexit::Aborted;
    return hostexit::Unknown;
}

QString HostSession::failureReason() const
{
    if (m_remote) {
        if (m_remote->serverGone())
            return QStringLiteral("quarvo-server left the bus during the session");
        if (!m_remote->lastError().isEmpty())
            return m_remote->lastError();
        return QStringLiteral("details in quarvo-server's Comm.err (in its log folder)");
    }
    const SessionState &state = sessionState();
    QString text;
    if (state.LastErrorNumber != 0) {
        const QString readable = readableError(state.LastErrorNumber);
        const QString number = QStringLiteral("0x%1").arg(static_cast<quint32>(state.LastErrorNumber), 8, 16, QLatin1Char('0'));
        text = readable.isEmpty() ? QStringLiteral("error %1").arg(number) : QStringLiteral("%1 (%2)").arg(readable, number);
    }
    // Comm.err only when this session wrote to it: a pointer to an empty or old file helps nobody.
    if (state.errorReporter) {
        const QString log = state.errorReporter->errorFilePath();
        if (QFileInfo(log).size() > m_errorFileSize)
            text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + QStringLiteral("details in ") + log;
    }
    return text;
}

void HostSession::close()
{
    if (m_remote) {
        // Leaving the server: its session, if one still runs, ends as a client's departure ends it.
        m_remote = nullptr;
        m_component.reset();
        return;
    }
    SessionState &state = sessionState();
    if (MessageQueue *queue = state.messageQueue)
        queue->Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The transport's end closes the session log.
    state.currentTransport.reset();
    m_component.reset();
}
