// "Panel Communication": the dialog through which the operator chooses how to reach the panel and
// starts the session. It shows the fields the chosen connection type needs, enables Connect and
// Answer when they are filled, checks the network address while it is typed, runs the panel and
// network tests and keeps a scrolling status pad.
//
// Behind Connect and Answer the same window runs the connection workflow (create and configure
// the transport, prepare the port, initialise, dial or answer, send the passcode) and, in
// ResponseReceived, the handshake that admits the panel (passcode, panel status, data lock and
// its optional rewrite). At the end of the handshake the dialog hides itself: Display returns 1.
//
// The dialog is the CommDialog of the transports: they report progress through AddStatus, queue
// their probes in its name, and show a panel's net-ring with showNetRing (tmrNetAnswer, cmdAnswer,
// lblNetRing).
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>

#include "core/GuidRegistry.h"
#include "link/modToolbox.h"
#include "transports/CommDialog.h"

class HostDataLockEntry;
class IControlType;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class clsMessage;

class frmCommInterface : public QDialog,
                         public GuidObjectBase,
                         public ResponseReceiver,
                         public CommDialog,
                         public AutoAnswerDialog
{
    Q_OBJECT
public:
    // Connection types: the index of cmbConnect.
    enum ConnectionTypes : std::int16_t {
        TypeModem = 0,
        TypeExternalModem = 1,
        TypeDirect = 2,
        TypeEnhancedDirect = 3,
        TypeNetwork = 4,
        TypeVoice = 5,
    };
    // Result codes of Display.
    enum : std::int16_t { ResultConnected = 1, ResultNotConnected = 2 };

    // Builds the window (catalog captions, centred) and registers it in GuidRegistry.
    explicit frmCommInterface(QWidget *parent = nullptr);
    ~frmCommInterface() override;

    // The window's name: owner name of the messages it queues.
    QString Name() const { return QStringLiteral("frmCommInterface"); }

    // ---- The dialog ------------------------------------------------------------------------------
    // Fills the dialog from the host settings and runs it modally; `result` receives 1 (a panel
    // session is established) or 2. In unattended sessions it connects over the network at once
    // without showing anything, and `result` is left as it was. Returns 0 or the error number.
    // The window may be deleted while it runs (the queue window closes it when the session ends);
    // the result is then the one its unload left.
    std::int32_t Display(std::int16_t &result);

    // Appends a line to the status pad and keeps the newest line in view.
    void AddStatus(const QString &text) override;
    // The dialog as the owner of the probes a transport queues; their answers reach the handshake.
    MsgOwner probeOwner() override { return MsgOwner(this); }
    // The answering state of a panel's net-ring: the answer timer runs, Answer is offered and the
    // net-ring label shows while `ringing`.
    void showNetRing(bool ringing) override;
    // Enables or disables the buttons and fields; busy turns Cancel into the abort button.
    void ControlButtons(bool enable, bool busy);

    // Field groups per connection type.
    void HideAll();
    void ModemControl(bool show);
    void ExternalModemControl(bool show);
    void VoiceControlType(bool show);
    void DirectControl(bool show);
    void EnhancedDirectControl(bool show);
    void NetworkControl(bool show);

    // Enables Connect, Answer and the test buttons as the current type and fields allow.
    void CanIConnect();

    // Control events.
    void cmbConnect_Click();
    void cmbBaudRate_Click();
    void txtRemoteHost_Change();
    void txtRemotePort_Change();
    void cmdCancel_Click();
    void cmdTestPanel_Click();
    void cmdTestNetwork_Click();
    void tmrNetAnswer_Timer();
    // Reports the outcome to the host and leaves the registry; runs once (from Display, or when
    // the window is destroyed before Display could run it).
    void Form_Unload();

    // ---- The connection workflow -----------------------------------------------------------------
    // Each returns 0 or the error number (reported under "frmCommInterface").
    std::int32_t cmdConnect_Click();
    std::int32_t cmdAnswer_Click();
    // Waits for the panel's call-back and answers it (goodbye processing of a callback session).
    std::int32_t AutoAnswer() override;
    std::int32_t PerformConnection(std::int32_t ControlType, std::int32_t CallType, bool bRemote);
    std::int32_t CommConnection(bool bRemote, bool bPortPrep, bool bInit, bool bConnect);
    std::int32_t ConnectToPanel(bool bRemote);
    // Checks txtRemoteHost and sets SessionState's remote host (resolved when possible).
    std::int32_t CheckIP(bool bAllowName);

    // ---- The handshake ---------------------------------------------------------------------------
    void ResponseReceived(clsMessage &msg) override;

    // ---- Window fields ---------------------------------------------------------------------------
    std::int16_t ConnectionType = TypeModem;
    QString LastGoodHost;
    bool busy() const { return m_busy; }
    std::int16_t resultCode() const { return m_result; }
    std::int16_t retryCounter() const { return m_retries; }
    std::int32_t controlType() const { return m_controlType; }
    // The stored rates of the three types with a rate box.
    QString modemRate() const { return m_modemRate; }
    QString externalModemRate() const { return m_externalRate; }
    QString enhancedDirectRate() const { return m_enhancedRate; }
    // The data-lock entry the handshake chose (none before the data lock was checked).
    std::shared_ptr<HostDataLockEntry> chosenDataLock() const { return m_dataLock; }
    bool testPassed() const { return m_testPassed; }
    // The result of the last Connect, Answer or handshake step that failed (0 when none did).
    std::int32_t lastAttemptError() const { return m_lastError; }

    // The fixed passcode a panel that calls back accepts.
    static QString answerPasscode() { return QStringLiteral("482907"); }
    // The panel status answer: revision "a.bcc" from bytes 3 to 5 and the status byte 6. An answer
    // too short for them (they come before the checksum, so at least 8 bytes) raises 0x80041389.
    static void DecodePanelStatus(const QByteArray &answer, QString &revision, std::uint8_t &status);

    // ---- Controls (objectName = the name below) --------------------------------------------------
    QLabel *lblConnect = nullptr;
    QComboBox *cmbConnect = nullptr;
    QLabel *lblPassCode = nullptr;
    QLineEdit *txtPassCode = nullptr;
    QLabel *lblComPort = nullptr;
    QLineEdit *txtComPort = nullptr;
    QLabel *lblBaudRate = nullptr;
    QComboBox *cmbBaudRate = nullptr;
    QLabel *lblInitString = nullptr;
    QLineEdit *txtInitString = nullptr;
    QLabel *lblPanelPhone = nullptr;
    QLineEdit *txtDataPhone = nullptr;
    QLabel *lblVoicePhone = nullptr;
    QLineEdit *txtVoicePhone = nullptr;
    QLabel *lblRemoteHost = nullptr;
    QLineEdit *txtRemoteHost = nullptr;
    QLabel *lblRemotePort = nullptr;
    QLineEdit *txtRemotePort = nullptr;
    QLabel *lblNetRing = nullptr;
    QLabel *lblStatus = nullptr;
    QPlainTextEdit *txtPad = nullptr;
    QPushButton *cmdTestPanel = nullptr;
    QPushButton *cmdTestNetwork = nullptr;
    QPushButton *cmdAnswer = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdCancel = nullptr;
    QTimer *tmrNetAnswer = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    // Transport-specific steps (frmCommInterfaceTransports.cpp).
    std::int32_t createIdleTransport();
    std::shared_ptr<IControlType> createTransport(std::int32_t ControlType);
    void setNetCallBack(bool value);
    bool transportConnecting() const;
    std::int32_t pingTransport(std::int16_t times);
    void setRateBox(const QString &rate);
    // The handshake steps.
    void passcodeAnswer(const QByteArray &answer, const std::shared_ptr<class clsPanelMsg> &command);
    void panelStatusAnswer(const QByteArray &answer);
    void dataLockAnswer(const QByteArray &answer);
    void writeItemBlockAnswer(const QByteArray &answer, bool written);
    void waitCommandAnswer(const QByteArray &answer, const std::shared_ptr<class clsPanelMsg> &command);
    void nullCommandAnswer(const QByteArray &answer, const std::shared_ptr<class clsPanelMsg> &command);
    void retriesExhausted(const std::shared_ptr<class clsPanelMsg> &command);
    void invertCipherIfProbing();
    // Runs the cancel path for a declined or finished test (the Cancel button's busy branch).
    void endAttempt();
    std::int32_t failAttempt(std::int32_t number);

    bool m_busy = false;
    std::int16_t m_result = ResultNotConnected;
    std::int16_t m_retries = 0;
    std::int32_t m_controlType = 0;
    QString m_modemRate;
    QString m_externalRate = QStringLiteral("9600");
    QString m_enhancedRate = QStringLiteral("9600");
    QString m_pendingStatus;
    bool m_connectedShown = false;
    bool m_testPassed = false;
    std::shared_ptr<HostDataLockEntry> m_dataLock;
    std::int32_t m_dataLockCode = 0;
    bool m_unloaded = false;
    bool m_displayFailed = false; // Display stopped on an error (no settings to fill it from)
    bool m_registered = false;
    bool m_filling = false;
    std::int32_t m_lastError = 0;
    // Where Form_Unload leaves the result for a Display that is still running.
    std::shared_ptr<std::int16_t> m_resultSink;
};
