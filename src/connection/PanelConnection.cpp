#include "connection/PanelConnection.h"

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
#include "transports/Resolver.h"
#include "transports/clsEnhancedDirect.h"
#include "transports/clsModem.h"
#include "transports/clsNetwork.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QPointer>
#include <QStringList>
#include <QTimer>

namespace {

// Errors are reported under the owner name the messages carry.
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

// The current transport when it is one of the two that speak in datagrams.
std::shared_ptr<DatagramTransport> datagramTransport()
{
    return std::dynamic_pointer_cast<DatagramTransport>(sessionState().currentTransport);
}

// A part of a host text that reads as a number.
bool isNumeric(const QString &part)
{
    bool ok = false;
    part.trimmed().toDouble(&ok);
    return ok;
}

// The numeric value of a text as the host-text rule reads it: leading blanks, an optional sign,
// digits and an optional fraction; whatever follows is ignored and a text without digits is 0.
double leadingNumber(const QString &text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    const int start = i;
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    while (i < n && text.at(i).isDigit())
        ++i;
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        while (i < n && text.at(i).isDigit())
            ++i;
    }
    bool ok = false;
    const double value = text.mid(start, i - start).toDouble(&ok);
    return ok ? value : 0.0;
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

PanelConnection::PanelConnection(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("PanelConnection"));
    m_netAnswerTimer = new QTimer(this);
    m_netAnswerTimer->setObjectName(QStringLiteral("tmrNetAnswer"));
    m_netAnswerTimer->setInterval(static_cast<int>(Timing::scaled(20000)));
    connect(m_netAnswerTimer, &QTimer::timeout, this, [this] { tmrNetAnswer_Timer(); });
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
    sessionState().connection = this;
}

PanelConnection::~PanelConnection()
{
    // Let go before the attempt could unload itself (the session ended): the host still hears the
    // outcome, and the registry loses it.
    if (!m_unloaded)
        unload();
    if (m_registered) {
        modGlobals::ForgetGUIDObject(szGUID());
        m_registered = false;
    }
    SessionState &state = sessionState();
    if (state.connection == this)
        state.connection = nullptr;
}

bool PanelConnection::hostTextAcceptable(const QString &text)
{
    if (text.contains(QStringLiteral("..")))
        return false;
    QStringList parts;
    int from = 0;
    for (int k = 0; k < 3; ++k) {
        const int dot = text.indexOf(QLatin1Char('.'), from);
        if (dot < 0)
            break;
        parts << text.mid(from, dot - from);
        from = dot + 1;
    }
    parts << text.mid(from);
    for (const QString &part : parts) {
        const double value = leadingNumber(part);
        if (value < 0 || value > 255)
            return false;
    }
    return true;
}

PanelConnection::Link PanelConnection::linkFromSettings(const HostSettings &settings)
{
    Link link;
    link.type = Network;
    link.baudRate = settings.BaudRate();
    link.comPort = settings.ComPort();
    link.initString = settings.InitString();
    link.dataPhone = settings.PanelPhone();
    link.passcode = settings.Passcode().left(6); // the passcode box holds six characters
    link.remotePort = settings.PanelPort().trimmed();
    const QString host = settings.RemoteHost();
    link.remoteHost = hostTextAcceptable(host) ? host : QString();
    return link;
}

// ---- The attempt -------------------------------------------------------------------------------

std::int32_t PanelConnection::startUnattended()
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
        if (!settings)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no host settings"));
        m_link = linkFromSettings(*settings);
        if (!m_link.passcode.isEmpty())
            sessionState().passcode = m_link.passcode;
        // No operator: straight to the network link. The engine stays for the handshake; it
        // unloads once the panel is admitted, or with the session, reporting a failed attempt then.
        connectPanel();
    });
    m_startFailed = rc != 0;
    return rc;
}

void PanelConnection::openIdleTransport()
{
    const std::int32_t created = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        dropTransport();
        // Aimed at the panel's address, so that the panel's datagrams are recognised.
        auto network = std::make_shared<clsNetwork>();
        network->RemoteHost = m_link.remoteHost.trimmed();
        network->RemotePort = m_link.remotePort.trimmed();
        sessionState().currentTransport = network;
    });
    if (created != 0)
        modGlobals::DebugPrint(QStringLiteral("No network transport while the dialog is open (%1)").arg(created));
    sessionState().CallbackSession = false;
}

void PanelConnection::dropTransport()
{
    SessionState &state = sessionState();
    if (const std::shared_ptr<IControlType> previous = state.currentTransport) {
        previous->ControlDisconnect(this, true);
        state.currentTransport.reset();
    }
}

void PanelConnection::startAttempt()
{
    m_retries = 0;
    m_connectedShown = false;
    m_testPassed = false;
    m_lastError = 0;
}

std::int32_t PanelConnection::connectPanel()
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdConnect_Click()"), [&] {
        startAttempt();
        if (m_link.type == Voice)
            return; // a voice line has nothing to connect
        if (m_link.type == Network && CheckIP(true) != 0)
            raiseError(ErrorCode::AddressCheckFailed);
        emit attemptStarted();
        std::int32_t result = 0;
        switch (m_link.type) {
        case Modem:
            result = PerformConnection(0, 2, true);
            break;
        case ExternalModem:
            result = PerformConnection(1, 2, true);
            break;
        case Direct:
            result = PerformConnection(0, 4, false);
            break;
        case EnhancedDirect:
            result = PerformConnection(3, 5, true);
            break;
        case Network:
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

std::int32_t PanelConnection::answerPanel(bool netRing)
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdAnswer_Click"), [&] {
        startAttempt();
        emit attemptStarted();
        std::int32_t result = 0;
        if (!netRing) {
            result = PerformConnection(0, 0, true);
        } else {
            // Answering a net-ring. The network transport is aimed at the checked address, as
            // for Connect (without the check it would be aimed at nothing).
            m_netAnswerTimer->stop();
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

std::shared_ptr<IControlType> PanelConnection::createTransport(std::int32_t ControlType)
{
    switch (ControlType) {
    case 0:
    case 1: {
        auto modem = std::make_shared<clsModem>();
        modem->BaudRate = m_link.baudRate;
        modem->CommPort = m_link.comPort;
        modem->PreDialInit = m_link.initString;
        modem->DataPhone = m_link.dataPhone;
        if (ControlType == 1)
            modem->PostDialString.clear();
        const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
        if (settings && !settings->HostDataMode())
            modem->setRTSEnable(false); // the plain direct cable
        return modem;
    }
    case 3: {
        auto enhanced = std::make_shared<clsEnhancedDirect>();
        enhanced->BaudRate = m_link.baudRate;
        enhanced->CommPort = m_link.comPort;
        return enhanced;
    }
    case 4: {
        // The address CheckIP resolved, and the panel's port.
        auto network = std::make_shared<clsNetwork>();
        network->RemoteHost = sessionState().remoteHost;
        network->RemotePort = m_link.remotePort.trimmed();
        return network;
    }
    default:
        return nullptr;
    }
}

std::int32_t PanelConnection::PerformConnection(std::int32_t ControlType, std::int32_t CallType, bool bRemote)
{
    QPointer<PanelConnection> self(this);
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
        if (self) {
            if (!abortPending())
                emit closeRequested();
            if (self)
                emit finished(false, rc);
        }
    }
    return rc;
}

std::int32_t PanelConnection::CommConnection(bool bRemote, bool bPortPrep, bool bInit, bool bConnect)
{
    QPointer<PanelConnection> self(this);
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
            if (self)
                emit stepChanged(Step::PortPreparation);
            if (t->PortPrep(self, true) != 0)
                fail(ErrorCode::PortPrepFailed);
        }
        if (bInit) {
            QCoreApplication::processEvents();
            if (t->AbortPending())
                raiseError(ErrorCode::Aborted);
            if (self) {
                emit stepChanged(Step::Initialisation);
                AddStatus(bRemote ? modGlobals::GetCatalogString(153) : modGlobals::GetCatalogString(154));
            }
            const std::int32_t init = t->ControlInitialize(self, true);
            if (init != 0 && init != ErrorCode::ModemInitRejected)
                fail(ErrorCode::ModemNoAnswer);
        }
        if (bConnect) {
            if (t->AbortPending())
                raiseError(ErrorCode::Aborted);
            if (self)
                emit stepChanged(Step::DialOrAnswer);
            const std::int32_t link = bRemote ? t->Answer(self, true) : t->Connect(self, true);
            if (link != 0)
                fail(ErrorCode::ConnectFailed);
        }
    });
    Timing::sleep(500);
    return rc;
}

std::int32_t PanelConnection::ConnectToPanel(bool bRemote)
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
            passcode = m_link.passcode.left(6);
        }
        emit stepChanged(Step::Passcode);
        if (modExecFunctions::SMPasscode(passcode, this, 6, false) != 0)
            raiseError(ErrorCode::PasscodeFailed);
    });
}

std::int32_t PanelConnection::AutoAnswer()
{
    return errors::guarded(kForm, QStringLiteral("AutoAnswer()"), [&] {
        const std::shared_ptr<IControlType> t = transport();
        if (!t)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no transport"));
        t->setCallbackSet(false);
        emit statusCleared();
        QPointer<PanelConnection> self(this);
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

std::int32_t PanelConnection::CheckIP(bool bAllowName)
{
    return errors::guarded(kForm, QStringLiteral("CheckIP()"), [&] {
        const QString text = m_link.remoteHost;
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
            emit addressRejected();
            raiseError(ErrorCode::AddressCheckFailed, QStringLiteral("\"%1\" is no network address").arg(text));
        }
        QString resolved;
        if (modICMP::ResolveHost(text, resolved) == 0 && !resolved.isEmpty())
            sessionState().remoteHost = resolved;
        else
            sessionState().remoteHost = text; // kept as typed; the link will say whether it works
    });
}

// ---- Panel test, abort, net-ring ---------------------------------------------------------------

std::int32_t PanelConnection::startPanelTest(ConnectionType type)
{
    return errors::guarded(kForm, QStringLiteral("cmdTestPanel_Click"), [&] {
        const std::int32_t controlType = type == EnhancedDirect ? 3 : 4;
        const std::shared_ptr<IControlType> created = createTransport(controlType);
        if (!created)
            raiseError(ErrorCode::InvalidArgument, QStringLiteral("no panel test for connection type %1").arg(type));
        sessionState().currentTransport = created;
        m_controlType = controlType;
        emit attemptStarted();
        m_busy = true;
        m_retries = 0;
        m_testPassed = false;
        m_pendingStatus = modGlobals::GetCatalogString(109);
        // The outcome arrives answer by answer in ResponseReceived.
        const auto datagram = datagramTransport();
        const std::int32_t pinged = datagram ? datagram->Ping(4, this) : ErrorCode::NotImplemented;
        if (pinged != 0)
            raiseError(pinged);
    });
}

void PanelConnection::noteOperatorAbort()
{
    sessionState().abortRequested = true;
}

void PanelConnection::abortAttempt()
{
    QPointer<PanelConnection> self(this);
    if (const std::shared_ptr<IControlType> t = transport())
        t->setAbortPending(true);
    AddStatus(modGlobals::GetCatalogString(152));
    modGlobals::Disconnect(false, 5);
    if (!self)
        return;
    sessionState().CallbackSession = false;
    m_busy = false;
}

// As the operator's Cancel during an attempt; the window does it when there is one.
void PanelConnection::cancelAsOperator()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&PanelConnection::cancelRequested))) {
        emit cancelRequested();
        return;
    }
    noteOperatorAbort();
    abortAttempt();
}

// The panel test is over, passed or not: back to idle as Cancel's abort does.
void PanelConnection::endTest()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&PanelConnection::testFinished))) {
        emit testFinished();
        return;
    }
    abortAttempt();
}

void PanelConnection::setNetCallBack(bool value)
{
    if (const auto datagram = datagramTransport())
        datagram->setNetCallBack(value);
}

bool PanelConnection::transportConnecting() const
{
    if (const auto datagram = datagramTransport())
        return datagram->Connecting;
    return true;
}

void PanelConnection::showNetRing(bool ringing)
{
    if (ringing)
        m_netAnswerTimer->start();
    else
        m_netAnswerTimer->stop();
    emit netRingChanged(ringing);
}

void PanelConnection::tmrNetAnswer_Timer()
{
    QPointer<PanelConnection> self(this);
    errors::guarded(kForm, QStringLiteral("tmrNetAnswer_Timer"), [&] {
        m_netAnswerTimer->stop();
        setNetCallBack(false);
    });
    if (self)
        emit netRingExpired();
}

void PanelConnection::AddStatus(const QString &text)
{
    emit statusAdded(text);
}

// ---- Unload ------------------------------------------------------------------------------------

std::int16_t PanelConnection::unload()
{
    if (m_unloaded)
        return m_result;
    m_unloaded = true;
    std::int16_t result = ResultNotConnected;
    errors::guarded(kForm, QStringLiteral("Form_Unload"), [&] {
        SessionState &state = sessionState();
        m_netAnswerTimer->stop();
        const std::shared_ptr<IControlType> t = state.currentTransport;
        if (!t) {
            // An operator who closes the idle dialog ends nothing: "UNKNOWN". An attempt that could
            // not even start (no settings to read, or none without an operator) has failed.
            if (m_startFailed || state.UnattendedFlag) {
                if (!(state.UnattendedFlag && state.sessionEndReported))
                    modGlobals::ZelCommEvent(3, state.abortRequested ? QStringLiteral("ABORTED") : QStringLiteral("FAILURE"),
                                             modGlobals::ApplicationName);
            } else {
                modGlobals::ZelCommEvent(3, QStringLiteral("UNKNOWN"), modGlobals::ApplicationName);
            }
        } else if (t->Connected() && !t->AbortPending()) {
            if (MessageQueue *queue = state.messageQueue)
                queue->AbortQueuedMsgOwnedBy(Name());
            result = ResultConnected;
        } else {
            t->ControlDisconnect(nullptr, true);
            // The abort flag is also set by the mere end of the session (the queue window's unload
            // runs first), so it cannot tell a cancel from a failure: only an abort someone asked
            // for is "ABORTED", any other failed attempt is "FAILURE". An unattended session whose
            // goodbye has told the host how it ended is not reported twice.
            if (!(state.UnattendedFlag && state.sessionEndReported))
                modGlobals::ZelCommEvent(3, state.abortRequested ? QStringLiteral("ABORTED") : QStringLiteral("FAILURE"),
                                         modGlobals::ApplicationName);
        }
        state.connectionAttempt = false;
    });
    m_result = result;
    errors::guarded(kForm, QStringLiteral("Form_Unload"), [&] {
        if (m_registered)
            modGlobals::ForgetGUIDObject(szGUID());
        m_registered = false;
    });
    return result;
}

// ---- The handshake -----------------------------------------------------------------------------

void PanelConnection::ResponseReceived(clsMessage &msg)
{
    QPointer<PanelConnection> self(this);
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
        if (self)
            emit finished(false, rc);
    }
}

void PanelConnection::passcodeAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command)
{
    QPointer<PanelConnection> self(this);
    if (command && command->CallBackFlag) {
        const std::shared_ptr<IControlType> t = transport();
        if (m_controlType == 0) {
            const bool accepted = m_callbackQuestion ? m_callbackQuestion() : true;
            if (!self)
                return;
            if (!accepted) {
                AddStatus(modGlobals::GetCatalogString(158));
                QCoreApplication::processEvents();
                if (self)
                    cancelAsOperator();
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
    emit stepChanged(Step::PanelStatus);
    submitted(modExecFunctions::SMReqPanelStatus(this, kPriority, false));
}

void PanelConnection::DecodePanelStatus(const QByteArray &answer, QString &revision, std::uint8_t &status)
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

void PanelConnection::panelStatusAnswer(const QByteArray &answer)
{
    QPointer<PanelConnection> self(this);
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
    emit stepChanged(Step::DataLock);
    submitted(modSDIFunctions::SDIRequestDataLock(this, kPriority, false));
}

void PanelConnection::dataLockAnswer(const QByteArray &answer)
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
        emit stepChanged(Step::DataLockWrite);
        submitted(modSDIFunctions::SDIWriteItemBlock(0, 0, data, this, kPriority, false));
        return; // the handshake ends when the write is answered
    }
    writeItemBlockAnswer(answer, false);
}

void PanelConnection::writeItemBlockAnswer(const QByteArray &answer, bool written)
{
    QPointer<PanelConnection> self(this);
    SessionState &state = sessionState();
    if (written && answerByte(answer, 2) == 2)
        raiseError(ErrorCode::Aborted, QStringLiteral("the panel refused the new data lock"));
    if (!m_dataLock)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("no data-lock entry chosen"));
    AddStatus(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(163), QStringLiteral("DLOCK_NAME"), m_dataLock->Name()));
    modGlobals::MakeCallback(QStringLiteral("SET_DATALOCK"), m_dataLock->Number());
    state.connectionAttempt = false; // admitted: from here on the session ends with a goodbye
    emit stepChanged(Step::Admitted);
    if (!state.UnattendedFlag) {
        if (MessageQueue *queue = state.messageQueue) {
            queue->setHeartbeatEnabled(true);
            queue->setDiagRefreshEnabled(true);
            queue->setDisconnecting(false);
        }
        emit closeRequested(); // the dialog's modal run ends: connected
    }
    const std::shared_ptr<HostSettings> settings = state.hostSettings;
    modGlobals::ZelCommEvent(settings && settings->HostDataMode() ? 2 : 12, 0, modGlobals::ApplicationName);
    modGlobals::MakeCallback(QStringLiteral("GET_REV"), state.panelRevision);
    if (!self)
        return;
    if (state.connection == this)
        state.connection = nullptr;
    emit finished(true, 0);
    // Unattended there is no modal run to end: the attempt's part of the session is done.
    if (self && state.UnattendedFlag)
        unload();
}

// Past the command's retry limit the probe or wait gives up: network and enhanced direct links
// end the attempt, other links just stop waiting.
void PanelConnection::retriesExhausted(const std::shared_ptr<clsPanelMsg> &command)
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
void PanelConnection::invertCipherIfProbing()
{
    SessionState &state = sessionState();
    const std::shared_ptr<HostSettings> settings = state.hostSettings;
    const qint32 mode = settings ? settings->LinkKeyMode() : 0;
    if (mode == 0 && m_controlType == 4 && !m_testPassed)
        state.EncryptionEnabled = !state.EncryptionEnabled;
}

void PanelConnection::waitCommandAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command)
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

void PanelConnection::nullCommandAnswer(const QByteArray &answer, const std::shared_ptr<clsPanelMsg> &command)
{
    QPointer<PanelConnection> self(this);
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
        endTest();
}
