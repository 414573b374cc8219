// The handshake that admits the panel: every answer to a command the dialog issued comes back to
// ResponseReceived, which moves on by the name of the answered command:
//   "Passcode Verification" -> "Request Panel Status" -> "Request Data Lock" -> ("Write Item Block")
//   -> done: the dialog closes and the host hears "SET_DATALOCK", the link event and "GET_REV".
// The same procedure drives the net-ring wait ("Wait Command"), the connection probe and the panel
// test ("Null Command").
#include "connection/frmCommInterface.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/clsPanelMsg.h"
#include "link/modDatalock.h"
#include "link/modExecFunctions.h"
#include "link/modSDIFunctions.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>

namespace {

const QString kForm = QStringLiteral("frmCommInterface");
const QString kHostApplication = QStringLiteral("Tamsel");

// Priority of every follow-up command of the handshake.
constexpr std::int16_t kPriority = 6;

std::shared_ptr<IControlType> transport()
{
    return sessionState().currentTransport;
}

bool abortPending()
{
    const std::shared_ptr<IControlType> t = transport();
    return t && t->AbortPending();
}

// Answer byte `index` of the frame (address, length, command, data, checksum); an answer too short
// to carry it before its checksum is a failed answer: never a read past its end, and never the
// checksum read as data (a refused data-lock read would give a lock code made of it).
std::uint8_t answerByte(const QByteArray &answer, int index)
{
    if (index < 0 || index >= answer.size() - 1)
        raiseError(ErrorCode::SendRefused,
                   QStringLiteral("answer of %1 bytes has no byte %2").arg(answer.size()).arg(index));
    return static_cast<std::uint8_t>(answer.at(index));
}

void submitted(std::int32_t rc)
{
    if (rc != 0)
        raiseError(ErrorCode::SendRefused);
}

} // namespace

void frmCommInterface::ResponseReceived(clsMessage &msg)
{
    QPointer<frmCommInterface> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("ResponseReceived()"), [&] {
        if (msg.OwnerGUID() != szGUID())
            return;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + msg.OwnerGUID());
        const QByteArray answer = msg.dataBytes();
        if (answer.isEmpty())
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(msg.Name()));
        const std::shared_ptr<clsPanelMsg> command =
            std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(msg.ClientGUID()));
        const QString name = msg.Name();
        if (name == QLatin1String("Passcode Verification"))
            passcodeAnswer(answer, command);
        else if (name == QLatin1String("Request Panel Status"))
            panelStatusAnswer(answer);
        else if (name == QLatin1String("Request Data Lock"))
            dataLockAnswer(answer);
        else if (name == QLatin1String("Write Item Block"))
            writeItemBlockAnswer(answer, true);
        else if (name == QLatin1String("Wait Command"))
            waitCommandAnswer(answer, command);
        else if (name == QLatin1String("Null Command"))
            nullCommandAnswer(answer, command);
    });
    if (rc != 0) {
        sessionState().LastErrorNumber = rc;
        if (self)
            m_lastError = rc;
        modGlobals::Disconnect(false, 5);
    }
}

void frmCommInterface::passcodeAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command)
{
    QPointer<frmCommInterface> self(this);
    if (command && command->CallBackFlag) {
        const std::shared_ptr<IControlType> t = transport();
        if (m_controlType == 0) {
            const QMessageBox::StandardButton choice = QMessageBox::question(
                this,
                modGlobals::ReplaceVariable(modGlobals::GetCatalogString(157), QStringLiteral("APP_NAME"), kHostApplication),
                modGlobals::ReplaceVariable(modGlobals::GetCatalogString(155), QStringLiteral("APP_NAME"), kHostApplication),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
            if (!self)
                return;
            if (choice != QMessageBox::Yes) {
                AddStatus(modGlobals::GetCatalogString(158));
                QCoreApplication::processEvents();
                if (self)
                    cmdCancel_Click();
                return;
            }
            // Hang up; the goodbye processing answers the panel's call (AutoAnswer).
            if (t)
                t->setCallbackSet(true);
            modGlobals::Disconnect(false, 5);
            return;
        }
        m_retries = 0;
        AddStatus(modGlobals::GetCatalogString(1358));
        if (!t)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no transport"));
        const std::int32_t rc = t->ControlRinging(this, true);
        if (rc != 0)
            raiseError(rc);
        return;
    }
    if (answerByte(answer, 2) == 2)
        raiseError(ErrorCode::PasscodeFailed, QStringLiteral("the panel refused the passcode"));
    AddStatus(modGlobals::GetCatalogString(159));
    AddStatus(modGlobals::GetCatalogString(160));
    QCoreApplication::processEvents();
    if (!self)
        return;
    if (abortPending())
        raiseError(ErrorCode::Aborted);
    submitted(modExecFunctions::SMReqPanelStatus(this, kPriority, false));
}

void frmCommInterface::DecodePanelStatus(const QByteArray &answer, QString &revision, std::uint8_t &status)
{
    // Revision a.bcc: byte 3, then bytes 4 and 5 (5 with two digits) read as one number shown with
    // at least two digits: 1,3,7 -> "1.307"; 1,0,7 -> "1.07".
    const int minor = QStringLiteral("%1%2")
                          .arg(answerByte(answer, 4))
                          .arg(answerByte(answer, 5), 2, 10, QLatin1Char('0'))
                          .toInt();
    revision = QStringLiteral("%1.%2").arg(answerByte(answer, 3)).arg(minor, 2, 10, QLatin1Char('0'));
    status = answerByte(answer, 6);
}

void frmCommInterface::panelStatusAnswer(const QByteArray &answer)
{
    QPointer<frmCommInterface> self(this);
    QString revision;
    std::uint8_t status = 0;
    DecodePanelStatus(answer, revision, status);
    sessionState().panelRevision = revision;

    const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
    if (!settings)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("no host settings"));
    if (status != settings->ExpectedPanelStatus())
        raiseError(ErrorCode::PanelStatusMismatch,
                   QStringLiteral("panel status byte %1, expected %2").arg(status).arg(settings->ExpectedPanelStatus()));
    AddStatus(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(161), QStringLiteral("ROM_REV"), revision));
    QCoreApplication::processEvents();
    if (!self)
        return;
    if (abortPending())
        raiseError(ErrorCode::Aborted);
    submitted(modSDIFunctions::SDIRequestDataLock(this, kPriority, false));
}

void frmCommInterface::dataLockAnswer(const QByteArray &answer)
{
    std::int32_t code = answerByte(answer, 3) * 256 + answerByte(answer, 4);
    bool rewrite = false;
    std::shared_ptr<HostDataLockEntry> entry;
    const std::int32_t checked = modDatalock::CheckDatalock(code, rewrite, entry);
    if (checked != 0)
        raiseError(checked);
    m_dataLock = entry;
    m_dataLockCode = code;

    const std::shared_ptr<HostPif> pif = sessionState().hostPif;
    if (!pif)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("no panel data object"));
    if (pif->acceptDataLock(code, 1, 0, 0) != 0)
        raiseError(ErrorCode::Aborted, QStringLiteral("the host did not accept the data lock"));
    AddStatus(modGlobals::GetCatalogString(162));
    if (rewrite) {
        QByteArray data;
        data.append(static_cast<char>(modGlobals::HiByte(code)));
        data.append(static_cast<char>(modGlobals::LoByte(code)));
        submitted(modSDIFunctions::SDIWriteItemBlock(0, 0, data, this, kPriority, false));
        return; // the handshake ends when the write is answered
    }
    writeItemBlockAnswer(answer, false);
}

void frmCommInterface::writeItemBlockAnswer(const QByteArray &answer, bool written)
{
    SessionState &state = sessionState();
    if (written && answerByte(answer, 2) == 2)
        raiseError(ErrorCode::Aborted, QStringLiteral("the panel refused the new data lock"));
    if (!m_dataLock)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("no data-lock entry chosen"));
    AddStatus(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(163), QStringLiteral("DLOCK_NAME"), m_dataLock->Name()));
    modGlobals::MakeCallback(QStringLiteral("SET_DATALOCK"), m_dataLock->Number());
    state.connectionAttempt = false; // admitted: from here on the session ends with a goodbye
    if (!state.UnattendedFlag) {
        if (MessageQueue *queue = state.messageQueue) {
            queue->setHeartbeatEnabled(true);
            queue->setDiagRefreshEnabled(true);
            queue->setDisconnecting(false);
        }
        hide(); // the modal run ends: connected
    }
    const std::shared_ptr<HostSettings> settings = state.hostSettings;
    modGlobals::ZelCommEvent(settings && settings->HostDataMode() ? 2 : 12, 0, modGlobals::ApplicationName);
    modGlobals::MakeCallback(QStringLiteral("GET_REV"), state.panelRevision);
    if (state.connectionDialog == this)
        state.connectionDialog = nullptr;
    // Unattended there is no modal run to end: the dialog's part of the session is done.
    if (state.UnattendedFlag)
        Form_Unload();
}

// Past the command's retry limit the probe or wait gives up: network and enhanced direct links
// end the attempt, other links just stop waiting.
void frmCommInterface::retriesExhausted(const std::shared_ptr<clsPanelMsg> &command)
{
    const std::int16_t max = command ? command->RetryMax : sessionState().config.numOfNaks;
    modGlobals::AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(280), QStringLiteral("MAX"), QString::number(max)));
    AddStatus(modGlobals::GetCatalogString(1359));
    if (m_controlType == 4)
        raiseError(ErrorCode::NoCompleteAnswer);
    if (m_controlType == 3)
        raiseError(ErrorCode::EnhancedRetries);
}

// While no panel test has passed, a network probe that times out tries the other cipher setting
// next (when the host lets the link choose).
void frmCommInterface::invertCipherIfProbing()
{
    SessionState &state = sessionState();
    const std::shared_ptr<HostSettings> settings = state.hostSettings;
    const qint32 mode = settings ? settings->LinkKeyMode() : 0;
    if (mode == 0 && m_controlType == 4 && !m_testPassed)
        state.EncryptionEnabled = !state.EncryptionEnabled;
}

void frmCommInterface::waitCommandAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command)
{
    const QString text = modGlobals::ToString(answer);
    if (text.contains(QLatin1String("LANVesk"))) {
        AddStatus(modGlobals::GetCatalogString(1360));
        const std::int32_t rc = ConnectToPanel(true);
        if (rc != 0)
            raiseError(rc);
        return;
    }
    if (abortPending())
        return;
    if (text != QLatin1String("TIMEOUT"))
        return;
    ++m_retries;
    const std::int16_t max = command ? command->RetryMax : sessionState().config.numOfNaks;
    if (m_retries > max) {
        retriesExhausted(command);
        return;
    }
    modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(m_retries));
    const std::shared_ptr<IControlType> t = transport();
    if (!t)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("no transport"));
    const std::int32_t rc = t->ControlRinging(this, true);
    if (rc != 0)
        raiseError(rc);
}

void frmCommInterface::nullCommandAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command)
{
    QPointer<frmCommInterface> self(this);
    const QString text = modGlobals::ToString(answer);
    const std::shared_ptr<IControlType> t = transport();
    if (!m_busy) {
        if (text.contains(QLatin1String("CONNECT"))) {
            if (!m_connectedShown) {
                m_connectedShown = true;
                AddStatus(modGlobals::GetCatalogString(314));
                AddStatus(modGlobals::GetCatalogString(361));
            }
            if (t)
                t->setConnected(true);
            return;
        }
        if (abortPending() || text != QLatin1String("TIMEOUT"))
            return;
        ++m_retries;
        const std::int16_t max = command ? command->RetryMax : sessionState().config.numOfNaks;
        if (m_retries > max) {
            retriesExhausted(command);
            return;
        }
        invertCipherIfProbing();
        modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(m_retries));
        if (!t)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no transport"));
        const std::int32_t rc = transportConnecting() ? t->Connect(this, false) : t->Answer(this, false);
        if (rc != 0)
            raiseError(rc);
        return;
    }

    // Panel test.
    if (!m_pendingStatus.isEmpty() && text.contains(m_pendingStatus)) {
        m_testPassed = true;
        AddStatus(m_pendingStatus);
    } else if (!abortPending() && text == QLatin1String("TIMEOUT")) {
        invertCipherIfProbing();
        AddStatus(modGlobals::GetCatalogString(1361));
    }
    QCoreApplication::processEvents();
    if (!self)
        return;
    Timing::sleep(500);
    ++m_retries;
    if (m_retries >= 4)
        endAttempt(); // the test is over, passed or not: back to idle as Cancel does
}
