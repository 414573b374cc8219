// The process-wide record every part of the component shares: the host's objects, the external
// components, the owner registry, the session log, the current transport, the session windows,
// the configuration and the session flags. One per process; everything runs on the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "core/GuidRegistry.h"
#include "core/SessionWindow.h"

// The classes of what the record holds are only declared here; several belong to higher layers.
// A file uses such a member typed only where it includes the class, at or above the class's own
// folder (std::shared_ptr and SessionWindow need the full class only where they are used). Below
// it, a window is a plain QObject (SessionWindow::object()), and a lower layer that must act on a
// higher object asks it for an interface of its own layer (CommDialog, AutoAnswerDialog,
// SerialTransport) or goes through the links of queue/QueueLinks.h.
class HostCallback;
class HostSettings;
class HostPif;
class ErrorReporter;
class StringCatalog;
class IControlType;     // core; implemented by the transports
class clsSessionLog;    // diagnostics
class frmDiagnostics;   // diagnostics
class frmImmediate;     // diagnostics
class MessageQueue;     // queue
class frmMsgQueue;      // queue (the console)
class frmCommInterface; // connection
class frmHistory;       // operations
class frmInactivityDisconnect; // supervision
class frmPanelEventWarning;    // supervision

struct Configuration
{
    // Setup
    QString tamselPath;       // "TamselPath", first copy: the host's folder
    QString tamselDataPath;   // "TamselPath", second copy: folder of the transfer file
    std::int16_t warningLevel = 5;
    QString icon;

    // Communications
    std::int16_t numOfNaks = 5;
    std::int32_t timeToGatherBody = 1;
    std::int32_t sendAgainPauseTime = 500;
    std::int32_t hbInterval = 20000;
    std::int32_t drInterval = 10000;
    std::int32_t callBackTime = 180;
    std::int16_t standardPollRate = 500;
    std::int16_t exclusivePollRate = 10;
    std::int16_t inactivityTimeout = 900; // seconds (the store holds minutes)
};

struct SessionState
{
    // Host objects.
    std::shared_ptr<HostCallback> hostCallback;
    std::shared_ptr<HostSettings> hostSettings;
    std::shared_ptr<HostPif> hostPif;

    // External components.
    std::shared_ptr<ErrorReporter> errorReporter;
    std::shared_ptr<StringCatalog> stringCatalog;

    // Owner registry; null until InitApplicationVariables creates it.
    std::unique_ptr<GuidRegistry> guidRegistry;

    // Session log (created by the first transport) and the current transport.
    std::shared_ptr<clsSessionLog> sessionLog;
    std::shared_ptr<IControlType> currentTransport;

    // The session's message queue; null outside a session.
    QPointer<MessageQueue> messageQueue;

    // Session windows (null when not open). The queue console exists only when the "Debug"
    // setting shows it.
    SessionWindow<frmMsgQueue> queueWindow;
    SessionWindow<frmCommInterface> connectionDialog;
    SessionWindow<frmHistory> historyWindow;
    SessionWindow<frmDiagnostics> diagnosticsWindow;
    SessionWindow<frmImmediate> immediateWindow;
    SessionWindow<frmInactivityDisconnect> inactivityWindow;
    SessionWindow<frmPanelEventWarning> eventWarningWindow;

    // The connection to the panel (connection: PanelConnection), with or without its window: the
    // CommDialog of the transports and the AutoAnswerDialog of the goodbye. Null when there is none,
    // and once the panel is admitted. The queue window lets it go when the session ends.
    QPointer<QObject> connection;

    // The event history retrieval (operations: HistoryRetrieval), with or without its window; null
    // when there is none. The message queue lets it go when the session ends.
    QPointer<QObject> historyRetrieval;
    // The running supervision prompts (supervision: InactivityCountdown, EventWarning, both a
    // SessionPrompt of core/SessionPrompt.h), with or without their windows above; null when none
    // runs.
    QPointer<QObject> inactivityPrompt;
    QPointer<QObject> eventWarning;

    Configuration config;

    bool SequenceNumbersEnabled = true;
    bool EncryptionEnabled = true;
    bool UnattendedFlag = false;
    bool CallbackSession = false;
    bool InactivityPromptShown = false;
    bool PanelEventWarningShown = false;
    // An abort that someone asked for (the dialog's Cancel, CommShutdown, a termination signal).
    // The transport's AbortPending is also set when a session merely ends (the message queue's
    // unload); only an abort asked for is reported to the host as "ABORTED".
    bool abortRequested = false;
    // The host has been told that the session ended (event 3); ZelCommEvent sets it.
    bool sessionEndReported = false;
    // A connection attempt runs and the panel has not been admitted yet: should it fail, the
    // connection dialog tells the host how ("FAILURE" or "ABORTED"), not the goodbye.
    bool connectionAttempt = false;

    QString accountName;
    QString panelRevision;
    QString passcode; // mirrors the connection dialog's passcode box
    QString remoteHost; // the dialog's network address after CheckIP (dotted when it resolved)
    std::int32_t LastErrorNumber = 0;
};

// The one SessionState of the process.
SessionState &sessionState();

// Drops everything the record holds and starts afresh (tests, and a clean process end).
void resetSessionState();
