// "Panel Communication": the dialog through which the operator chooses how to reach the panel and
// starts the session. It shows the fields the chosen connection type needs, enables Connect and
// Answer when they are filled, checks the network address while it is typed, runs the panel and
// network tests and keeps a scrolling status pad.
//
// It is the view of a PanelConnection, which runs the workflow behind Connect and Answer and the
// handshake that admits the panel: the dialog hands it the fields, shows its status lines and its
// net-ring (tmrNetAnswer, cmdAnswer, lblNetRing), and hides itself when it asks (Display returns 1
// once the panel is admitted).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "connection/PanelConnection.h"

class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class frmCommInterface : public QDialog
{
    Q_OBJECT
public:
    // Connection types: the index of cmbConnect.
    enum ConnectionTypes : std::int16_t {
        TypeModem = PanelConnection::Modem,
        TypeExternalModem = PanelConnection::ExternalModem,
        TypeDirect = PanelConnection::Direct,
        TypeEnhancedDirect = PanelConnection::EnhancedDirect,
        TypeNetwork = PanelConnection::Network,
        TypeVoice = PanelConnection::Voice,
    };
    // Result codes of Display.
    enum : std::int16_t { ResultConnected = PanelConnection::ResultConnected, ResultNotConnected = PanelConnection::ResultNotConnected };

    // Builds the window (catalog captions, centred) and its PanelConnection.
    explicit frmCommInterface(QWidget *parent = nullptr);
    ~frmCommInterface() override;

    // The connection the window shows and drives.
    PanelConnection *engine() const { return m_engine; }
    // The window's name, and its key in GuidRegistry: those of its connection.
    QString Name() const { return QStringLiteral("frmCommInterface"); }
    QString szGUID() const;

    // ---- The dialog ------------------------------------------------------------------------------
    // Fills the dialog from the host settings and runs it modally; `result` receives 1 (a panel
    // session is established) or 2. In unattended sessions it connects over the network at once
    // without showing anything, and `result` is left as it was. Returns 0 or the error number.
    // The window may be deleted while it runs (the queue window closes it when the session ends);
    // the result is then the one its unload left.
    std::int32_t Display(std::int16_t &result);

    // Appends a line to the status pad and keeps the newest line in view.
    void AddStatus(const QString &text);
    // The answering state of a panel's net-ring: Answer is offered and the net-ring label shows
    // while `ringing`.
    void showNetRing(bool ringing);
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

    // Connect and Answer: the connection's workflow with the fields as they stand. Each returns 0
    // or the error number (reported under "frmCommInterface").
    std::int32_t cmdConnect_Click();
    std::int32_t cmdAnswer_Click();
    // Checks txtRemoteHost and sets SessionState's remote host (resolved when possible).
    std::int32_t CheckIP(bool bAllowName);

    // ---- Window fields ---------------------------------------------------------------------------
    std::int16_t ConnectionType = TypeModem;
    QString LastGoodHost;
    bool busy() const { return m_engine && m_engine->busy(); }
    std::int16_t resultCode() const { return m_result; }
    // The stored rates of the three types with a rate box.
    QString modemRate() const { return m_modemRate; }
    QString externalModemRate() const { return m_externalRate; }
    QString enhancedDirectRate() const { return m_enhancedRate; }
    bool testPassed() const { return m_engine && m_engine->testPassed(); }
    // The result of the last Connect, Answer or handshake step that failed (0 when none did).
    std::int32_t lastAttemptError() const { return m_engine ? m_engine->lastAttemptError() : 0; }

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
    QTimer *tmrNetAnswer = nullptr; // the connection's net-ring answer timer

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void connectEngine();
    // The connection's inputs from the fields as they stand.
    void applyFields();
    void setRateBox(const QString &rate);
    // Runs the cancel path for a declined or finished test (the Cancel button's busy branch).
    void endAttempt();

    QPointer<PanelConnection> m_engine;
    std::int16_t m_result = ResultNotConnected;
    QString m_modemRate;
    QString m_externalRate = QStringLiteral("9600");
    QString m_enhancedRate = QStringLiteral("9600");
    bool m_unloaded = false;
    // Where Form_Unload leaves the result for a Display that is still running.
    std::shared_ptr<std::int16_t> m_resultSink;
};
