// Connects to the panel and admits it, with or without a window: the "Panel Communication" dialog
// shows it and drives it, the unattended session runs it alone.
//
// The connection workflow: create and configure the transport of the chosen connection type,
// prepare the port, initialise the line, dial or answer, and log in with the passcode. Then the
// handshake, driven by the answers the queue (or the network transport) hands to ResponseReceived:
//   "Passcode Verification" -> "Request Panel Status" -> "Request Data Lock" -> ("Write Item Block")
//   -> admitted: the host hears "SET_DATALOCK", the link event (2 or 12) and "GET_REV".
// The same procedure drives the net-ring wait ("Wait Command"), the connection probe and the
// panel test ("Null Command").
//
// It is the CommDialog of the transports (status lines, the owner of their probes, the net-ring)
// and the AutoAnswerDialog of the goodbye processing. Its messages are filed under the owner name
// "frmCommInterface", which the queue console shows and by which the queue drops them.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "core/GuidRegistry.h"
#include "link/modToolbox.h"
#include "transports/CommDialog.h"

class HostDataLockEntry;
class HostSettings;
class IControlType;
class QTimer;
class clsMessage;
class clsPanelMsg;

class PanelConnection : public QObject,
                        public GuidObjectBase,
                        public ResponseReceiver,
                        public CommDialog,
                        public AutoAnswerDialog
{
    Q_OBJECT
public:
    // How the panel is reached (the index of the dialog's connection list).
    enum ConnectionType : std::int16_t {
        Modem = 0,
        ExternalModem = 1,
        Direct = 2,
        EnhancedDirect = 3,
        Network = 4,
        Voice = 5,
    };
    // Result of the unload: a panel session is established, or not.
    enum : std::int16_t { ResultConnected = 1, ResultNotConnected = 2 };

    // Where the step chain of an attempt stands.
    enum class Step {
        PortPreparation,
        Initialisation,
        DialOrAnswer,
        Passcode,
        PanelStatus,
        DataLock,
        DataLockWrite,
        Admitted,
    };
    Q_ENUM(Step)

    // The inputs of an attempt.
    struct Link
    {
        ConnectionType type = Network;
        std::int32_t baudRate = 0;
        std::int16_t comPort = 0;
        QString initString;
        QString dataPhone;
        QString passcode;   // the first six characters are sent
        QString remoteHost; // as typed; CheckIP resolves it
        QString remotePort;
    };

    // Registers in GuidRegistry and becomes the session's connection (SessionState::connection).
    explicit PanelConnection(QObject *parent = nullptr);
    // Unloads, when that has not happened yet.
    ~PanelConnection() override;

    // Owner name of the messages it queues.
    QString Name() const { return QStringLiteral("frmCommInterface"); }

    void setLink(const Link &link) { m_link = link; }
    const Link &link() const { return m_link; }
    // The link of an unattended session: the network type and the host settings' values, the
    // remote host only when it passes the host-text rule (else none). Sets the session's passcode.
    static Link linkFromSettings(const HostSettings &settings);

    // Asked when a modem panel requests a call-back: true to hang up and wait for its call. Without
    // a question the call-back is accepted.
    void setCallbackQuestion(std::function<bool()> question) { m_callbackQuestion = std::move(question); }

    // ---- The attempt ---------------------------------------------------------------------------
    // Unattended start: the link from the host settings, then Connect over the network at once.
    // Returns 0 or the error number of the start itself (no settings); the attempt's own outcome
    // arrives later through finished().
    std::int32_t startUnattended();
    // The network transport that listens for a panel's net-ring while the dialog is open (aimed at
    // the link's remote host and port); a call-back session is over.
    void openIdleTransport();
    // Connect: the workflow for the link's type. Returns 0 or the error number.
    std::int32_t connectPanel();
    // Answer: an incoming modem call, or (`netRing`) the panel's net-ring on the network.
    std::int32_t answerPanel(bool netRing);
    // Waits for the panel's call-back and answers it (goodbye processing of a call-back session).
    std::int32_t AutoAnswer() override;
    std::int32_t PerformConnection(std::int32_t ControlType, std::int32_t CallType, bool bRemote);
    std::int32_t CommConnection(bool bRemote, bool bPortPrep, bool bInit, bool bConnect);
    std::int32_t ConnectToPanel(bool bRemote);
    // Checks the link's remote host text and sets SessionState's remote host (resolved when
    // possible). A text that fails emits addressRejected().
    std::int32_t CheckIP(bool bAllowName);

    // The panel test over the enhanced direct (`ConnectionType` EnhancedDirect) or network link:
    // a transport made afresh, four probes; the answers come to ResponseReceived. Returns 0 or the
    // error number.
    std::int32_t startPanelTest(ConnectionType type);
    // Drops the current transport after closing its line.
    void dropTransport();
    // The operator asked for the abort (Cancel, the close box).
    void noteOperatorAbort();
    // The abort branch of Cancel: the transport's abort flag, the status line, the end of the link;
    // the call-back session and the busy state are over.
    void abortAttempt();
    // A test runs: the probes' answers are test answers.
    void setBusy(bool busy) { m_busy = busy; }
    bool busy() const { return m_busy; }

    // Reports the outcome to the host and leaves the registry; runs once. Returns the result.
    std::int16_t unload();
    // The start (the window's Display, or startUnattended) failed: the unload reports a failure.
    void setStartFailed(bool failed) { m_startFailed = failed; }

    // ---- CommDialog ----------------------------------------------------------------------------
    void AddStatus(const QString &text) override;
    MsgOwner probeOwner() override { return MsgOwner(this); }
    void showNetRing(bool ringing) override;

    // ---- The handshake -------------------------------------------------------------------------
    void ResponseReceived(clsMessage &msg) override;

    // ---- State ---------------------------------------------------------------------------------
    bool isUnloaded() const { return m_unloaded; }
    std::int16_t resultCode() const { return m_result; }
    std::int16_t retryCounter() const { return m_retries; }
    std::int32_t controlType() const { return m_controlType; }
    bool testPassed() const { return m_testPassed; }
    // The data-lock entry the handshake chose (none before the data lock was checked).
    std::shared_ptr<HostDataLockEntry> chosenDataLock() const { return m_dataLock; }
    // The result of the last Connect, Answer or handshake step that failed (0 when none did).
    std::int32_t lastAttemptError() const { return m_lastError; }
    // The net-ring answer timer (20 s): runs while a panel's net-ring is offered.
    QTimer *netAnswerTimer() const { return m_netAnswerTimer; }

    // The fixed passcode a panel that calls back accepts.
    static QString answerPasscode() { return QStringLiteral("482907"); }
    // The panel status answer: revision "a.bcc" from bytes 3 to 5 and the status byte 6. An answer
    // too short for them (they come before the checksum, so at least 8 bytes) raises 0x80041389.
    static void DecodePanelStatus(const QByteArray &answer, QString &revision, std::uint8_t &status);
    // The rule of the host box while it is typed: no empty part between two dots, no part outside
    // 0..255 (a name counts as 0); the fourth part is whatever follows the third dot.
    static bool hostTextAcceptable(const QString &text);

signals:
    // A status line (the dialog's status pad).
    void statusAdded(const QString &text);
    // The status lines so far are void (the call-back answer starts afresh).
    void statusCleared();
    void stepChanged(PanelConnection::Step step);
    // An attempt starts: the fields are locked and Cancel aborts.
    void attemptStarted();
    // The panel's net-ring is offered (`ringing`) or withdrawn.
    void netRingChanged(bool ringing);
    // The net-ring was not answered in time.
    void netRingExpired();
    // The remote host text is no network address.
    void addressRejected();
    // The modal run of the dialog ends (the panel admitted, or an attempt failed that nobody
    // cancelled).
    void closeRequested();
    // The operator's Cancel is what follows (a call-back declined).
    void cancelRequested();
    // The panel test is over: back to idle as Cancel's abort does.
    void testFinished();
    // The attempt ended: the panel admitted (`connected`), or not with `error`.
    void finished(bool connected, std::int32_t error);

private:
    std::shared_ptr<IControlType> createTransport(std::int32_t ControlType);
    void setNetCallBack(bool value);
    bool transportConnecting() const;
    void tmrNetAnswer_Timer();
    void startAttempt();
    // The handshake steps.
    void passcodeAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command);
    void panelStatusAnswer(const QByteArray &answer);
    void dataLockAnswer(const QByteArray &answer);
    void writeItemBlockAnswer(const QByteArray &answer, bool written);
    void waitCommandAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command);
    void nullCommandAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command);
    void retriesExhausted(const std::shared_ptr<clsPanelMsg> &command);
    void invertCipherIfProbing();
    void cancelAsOperator();
    void endTest();

    Link m_link;
    std::function<bool()> m_callbackQuestion;
    QTimer *m_netAnswerTimer = nullptr;
    bool m_busy = false;
    std::int16_t m_result = ResultNotConnected;
    std::int16_t m_retries = 0;
    std::int32_t m_controlType = 0;
    QString m_pendingStatus;
    bool m_connectedShown = false;
    bool m_testPassed = false;
    std::shared_ptr<HostDataLockEntry> m_dataLock;
    std::int32_t m_dataLockCode = 0;
    bool m_unloaded = false;
    bool m_startFailed = false;
    bool m_registered = false;
    std::int32_t m_lastError = 0;
};
