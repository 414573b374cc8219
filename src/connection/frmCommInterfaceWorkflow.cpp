// The connection workflow behind Connect and Answer: choose and configure the transport for the
// selected connection type, prepare the port, initialise the line, dial or answer, and log in with
// the passcode. The panel's answers are taken up by the handshake (frmCommInterfaceHandshake.cpp).
#include "connection/frmCommInterface.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "link/modExecFunctions.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "transports/Resolver.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kForm = QStringLiteral("frmCommInterface");

std::shared_ptr<IControlType> transport()
{
    return sessionState().currentTransport;
}

bool abortPending()
{
    const std::shared_ptr<IControlType> t = transport();
    return t && t->AbortPending();
}

// A part of a host text that reads as a number.
bool isNumeric(const QString &part)
{
    bool ok = false;
    part.trimmed().toDouble(&ok);
    return ok;
}

} // namespace

std::int32_t frmCommInterface::cmdConnect_Click()
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdConnect_Click()"), [&] {
        m_retries = 0;
        m_connectedShown = false;
        m_testPassed = false;
        m_lastError = 0;
        if (ConnectionType == TypeVoice)
            return; // a voice line has nothing to connect
        if (ConnectionType == TypeNetwork && CheckIP(true) != 0)
            raiseError(ErrorCode::AddressCheckFailed);
        // Busy until the attempt ends: the fields are locked and Cancel aborts.
        if (!sessionState().UnattendedFlag)
            ControlButtons(false, true);
        std::int32_t result = 0;
        switch (ConnectionType) {
        case TypeModem:
            result = PerformConnection(0, 2, true);
            break;
        case TypeExternalModem:
            result = PerformConnection(1, 2, true);
            break;
        case TypeDirect:
            result = PerformConnection(0, 4, false);
            break;
        case TypeEnhancedDirect:
            result = PerformConnection(3, 5, true);
            break;
        case TypeNetwork:
            result = PerformConnection(4, 3, true);
            break;
        default:
            break;
        }
        if (result != 0)
            m_lastError = result; // already reported by PerformConnection
    });
    if (rc != 0)
        m_lastError = rc;
    return rc != 0 ? rc : m_lastError;
}

std::int32_t frmCommInterface::cmdAnswer_Click()
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdAnswer_Click"), [&] {
        m_retries = 0;
        m_connectedShown = false;
        m_testPassed = false;
        m_lastError = 0;
        ControlButtons(false, true);
        std::int32_t result = 0;
        if (cmdAnswer->text() == modGlobals::GetCatalogString(136)) {
            result = PerformConnection(0, 0, true);
        } else {
            // Answering a net-ring. The network transport is aimed at the checked address, as
            // for Connect (without the check it would be aimed at nothing).
            tmrNetAnswer->stop();
            if (CheckIP(true) != 0)
                raiseError(ErrorCode::AddressCheckFailed);
            result = PerformConnection(4, 1, true);
        }
        if (result != 0)
            m_lastError = result;
    });
    if (rc != 0)
        m_lastError = rc;
    return rc != 0 ? rc : m_lastError;
}

std::int32_t frmCommInterface::PerformConnection(std::int32_t ControlType, std::int32_t CallType, bool bRemote)
{
    QPointer<frmCommInterface> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("PerformConnection()"), [&] {
        SessionState &state = sessionState();
        state.abortRequested = false; // a new attempt: nobody has cancelled it yet
        state.connectionAttempt = true;
        if (const std::shared_ptr<IControlType> previous = state.currentTransport) {
            previous->ControlDisconnect(this, true);
            state.currentTransport.reset();
        }
        const std::shared_ptr<HostSettings> settings = state.hostSettings;
        if (!settings)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no host settings"));
        settings->setHostDataMode(bRemote);

        m_controlType = ControlType == 1 ? 0 : ControlType;
        std::shared_ptr<IControlType> created = createTransport(ControlType);
        if (!created)
            raiseError(ErrorCode::InvalidArgument, QStringLiteral("no transport for control type %1").arg(ControlType));
        state.currentTransport = created;
        created->setRemote(bRemote);

        std::int32_t step = 0;
        switch (CallType) {
        case 0:
        case 1:
            step = CommConnection(true, true, true, false);
            if (step == 0)
                step = ConnectToPanel(true);
            break;
        case 2:
        case 3:
        case 5:
            step = CommConnection(false, true, true, true);
            if (step == 0)
                step = ConnectToPanel(false);
            break;
        case 4:
            step = CommConnection(false, true, false, false);
            if (step == 0) {
                // A plain cable is up as soon as the port is open.
                created->setConnected(true);
                step = ConnectToPanel(false);
            }
            break;
        default:
            break;
        }
        if (step != 0)
            raiseError(step);
    });
    if (rc != 0) {
        // An orderly end of the attempt; after Cancel, the Cancel handler looks after the dialog.
        modGlobals::Disconnect(false, 5);
        if (self && !abortPending())
            hide();
    }
    return rc;
}

std::int32_t frmCommInterface::CommConnection(bool bRemote, bool bPortPrep, bool bInit, bool bConnect)
{
    QPointer<frmCommInterface> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("CommConnection()"), [&] {
        const std::shared_ptr<IControlType> t = transport();
        if (!t)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no transport"));
        // A step that failed because the operator cancelled is an abort, whatever the step says.
        const auto fail = [&t](std::int32_t number) {
            raiseError(t->AbortPending() ? ErrorCode::Aborted : number);
        };
        if (bPortPrep) {
            QCoreApplication::processEvents();
            if (t->AbortPending())
                raiseError(ErrorCode::Aborted);
            if (t->PortPrep(self, true) != 0)
                fail(ErrorCode::PortPrepFailed);
        }
        if (bInit) {
            QCoreApplication::processEvents();
            if (t->AbortPending())
                raiseError(ErrorCode::Aborted);
            if (self)
                AddStatus(bRemote ? modGlobals::GetCatalogString(153) : modGlobals::GetCatalogString(154));
            const std::int32_t init = t->ControlInitialize(self, true);
            if (init != 0 && init != ErrorCode::ModemInitRejected)
                fail(ErrorCode::ModemNoAnswer);
        }
        if (bConnect) {
            if (t->AbortPending())
                raiseError(ErrorCode::Aborted);
            const std::int32_t link = bRemote ? t->Answer(self, true) : t->Connect(self, true);
            if (link != 0)
                fail(ErrorCode::ConnectFailed);
        }
    });
    Timing::sleep(500);
    return rc;
}

std::int32_t frmCommInterface::ConnectToPanel(bool bRemote)
{
    return errors::guarded(kForm, QStringLiteral("ConnectToPanel()"), [&] {
        if (bRemote) {
            const std::int32_t answered = CommConnection(true, false, false, true);
            if (answered != 0)
                raiseError(answered);
        }
        if (abortPending())
            raiseError(ErrorCode::Aborted);
        Timing::sleep(150);
        QString passcode;
        if (bRemote) {
            // A panel that calls back accepts only the fixed answer passcode.
            sessionState().CallbackSession = true;
            passcode = answerPasscode();
        } else {
            passcode = txtPassCode->text().left(6);
        }
        if (modExecFunctions::SMPasscode(passcode, this, 6, false) != 0)
            raiseError(ErrorCode::PasscodeFailed);
    });
}

std::int32_t frmCommInterface::AutoAnswer()
{
    return errors::guarded(kForm, QStringLiteral("AutoAnswer()"), [&] {
        const std::shared_ptr<IControlType> t = transport();
        if (!t)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no transport"));
        t->setCallbackSet(false);
        txtPad->clear();
        QPointer<frmCommInterface> self(this);
        QCoreApplication::processEvents();
        Timing::sleep(1000);
        if (!self)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("the connection dialog closed"));
        m_retries = 0;
        m_connectedShown = false;
        std::int32_t step = CommConnection(true, true, true, false);
        if (step == 0)
            step = t->ControlRinging(self, true);
        if (step == 0 && self)
            step = ConnectToPanel(true);
        if (step != 0)
            raiseError(step);
    });
}

std::int32_t frmCommInterface::CheckIP(bool bAllowName)
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("CheckIP()"), [&] {
        const QString text = txtRemoteHost->text();
        bool valid = !text.isEmpty() && !text.endsWith(QLatin1Char('.'));
        bool acceptedAsName = false;
        if (valid) {
            int dots = 0;
            bool numericAddress = false;
            int from = 0;
            while (true) {
                const int dot = text.indexOf(QLatin1Char('.'), from);
                const QString part = dot < 0 ? text.mid(from) : text.mid(from, dot - from);
                if (dot >= 0)
                    ++dots;
                const bool numeric = isNumeric(part);
                if (numeric && dots == 1)
                    numericAddress = true;
                if (dots > 0 && !numeric && numericAddress) {
                    valid = false; // a numeric address with a part that is not a number
                    break;
                }
                if (dots == 0 && numeric) {
                    valid = false; // a bare number
                    break;
                }
                if (bAllowName && !numericAddress) {
                    acceptedAsName = true;
                    break;
                }
                if (dot < 0)
                    break;
                from = dot + 1;
            }
            if (valid && !acceptedAsName && dots != 3)
                valid = false;
        }
        if (!valid) {
            txtRemoteHost->selectAll();
            txtRemoteHost->setFocus();
            raiseError(ErrorCode::AddressCheckFailed, QStringLiteral("\"%1\" is no network address").arg(text));
        }
        QString resolved;
        if (modICMP::ResolveHost(text, resolved) == 0 && !resolved.isEmpty())
            sessionState().remoteHost = resolved;
        else
            sessionState().remoteHost = text; // kept as typed; the link will say whether it works
    });
    return rc;
}
