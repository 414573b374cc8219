#include "transports/clsNetwork.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "diagnostics/clsSessionLog.h"
#include "link/clsPanelMsg.h"
#include "link/modEncryption.h"
#include "link/modExecFunctions.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/frmMsgQueue.h"
#include "transports/CommDialog.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>

namespace {

const QString kClass = QStringLiteral("clsNetwork");
const QString kNullCommand = QStringLiteral("Null Command");
const QString kWaitCommand = QStringLiteral("Wait Command");
const QString kPanelGoodbye = QStringLiteral("Panel Goodbye");
const QString kWriteItemBlock = QStringLiteral("Write Item Block");

constexpr std::uint8_t kChecksumTarget = 0x7F; // answers on a remote link sum to 0x7F

// Probes go before the passcode (priority 6) that the connection workflow queues right behind the
// first probe: the passcode may only go out once a probe was answered "CONNECT", and a repeated
// probe must not queue up behind it.
constexpr std::int16_t kProbePriority = 7;

// The leading hexadecimal digits of `text` as a number; no digits give 0.
unsigned leadingHex(const QString &text)
{
    unsigned value = 0;
    for (const QChar c : text) {
        const int digit = QString(c).toInt(nullptr, 16);
        const bool isHex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
                           || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!isHex)
            break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

std::uint8_t byteAt(const QByteArray &bytes, qsizetype index)
{
    return static_cast<std::uint8_t>(bytes.at(index));
}

std::uint8_t byteSum(const QByteArray &bytes)
{
    unsigned sum = 0;
    for (const char c : bytes)
        sum += static_cast<std::uint8_t>(c);
    return static_cast<std::uint8_t>(sum & 0xFF);
}

// The host's LinkKeyMode; a session without a settings object lets the link probe both settings.
qint32 linkKeyMode()
{
    const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
    return settings ? settings->LinkKeyMode() : 0;
}

// The connection dialog as this transport uses it: the owner of the probes it sends, the status
// pad, and the net-ring indication.
MsgOwner dialogOwner(CommDialog *frm)
{
    return frm ? frm->probeOwner() : MsgOwner();
}

void dialogStatus(CommDialog *frm, const QString &text)
{
    if (frm)
        frm->AddStatus(text);
}

void dialogNetRing(bool value)
{
    if (auto *dialog = dynamic_cast<CommDialog *>(sessionState().connectionDialog.widget()))
        dialog->showNetRing(value);
}

} // namespace

clsNetwork::clsNetwork()
    : ControlTypeBase(true)
{
    errors::guarded(kClass, QStringLiteral("Class_Initialize()"), [&] {
        SessionState &state = sessionState();
        if (!state.sessionLog) {
            state.sessionLog = std::make_shared<clsSessionLog>();
            state.sessionLog->OpenLog(state.UnattendedFlag ? state.accountName + QStringLiteral(".log") : QString());
        }
        if (frmMsgQueue *queue = state.queueWindow)
            m_socket = queue->Socket;
        m_connected = false;
        m_abortPending = false;
        m_remote = true;
        SeqNum = static_cast<std::int16_t>(QRandomGenerator::global()->bounded(1, 256));
        SeqNumOut = -2;
        m_netCallBack = false;
        NetResponded = false;
        if (state.hostSettings)
            m_linkKey = state.hostSettings->LinkKey();
        if (m_socket) {
            connect(m_socket, &QUdpSocket::readyRead, this, &clsNetwork::onReadyRead);
            bindSocket();
        }
    });
}

clsNetwork::~clsNetwork()
{
    SessionState &state = sessionState();
    if (state.sessionLog) {
        state.sessionLog->CloseLog();
        state.sessionLog.reset();
    }
}

QString clsNetwork::Name() const
{
    return m_name.isEmpty() ? QStringLiteral("Network") : m_name;
}

bool clsNetwork::bindSocket()
{
    if (!m_socket)
        return false;
    if (m_socket->state() == QAbstractSocket::BoundState)
        return true;
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    // Bound to the IPv4 wildcard: senders then read as plain dotted IPv4 text.
    return m_socket->bind(QHostAddress::AnyIPv4, 0);
}

quint16 clsNetwork::localPort() const
{
    return m_socket && m_socket->state() == QAbstractSocket::BoundState ? m_socket->localPort() : 0;
}

// ---- Line operations ---------------------------------------------------------------------------

std::int32_t clsNetwork::ControlInitialize(CommDialog *, bool)
{
    return 0;
}

std::int32_t clsNetwork::PortPrep(CommDialog *, bool)
{
    return 0;
}

std::int32_t clsNetwork::ControlDisconnect(CommDialog *, bool)
{
    return errors::guarded(kClass, QStringLiteral("ControlDisconnect()"), [&] {
        m_connected = false;
        if (m_socket)
            m_socket->close();
    });
}

std::int32_t clsNetwork::sendProbe(const QByteArray &text, CommDialog *frm, const QString &procedure)
{
    return errors::guarded(kClass, procedure, [&] {
        if (modExecFunctions::SMNullCommand(text, dialogOwner(frm), kProbePriority, false) != 0)
            raiseError(ErrorCode::SendRefused);
    });
}

std::int32_t clsNetwork::Connect(CommDialog *frm, bool bDisplay)
{
    Connecting = true;
    if (bDisplay && frm)
        dialogStatus(frm, modGlobals::GetCatalogString(1458));
    return sendProbe(InitStr().toLatin1(), frm, QStringLiteral("Connect()"));
}

std::int32_t clsNetwork::Answer(CommDialog *frm, bool)
{
    Connecting = false;
    m_connected = false;
    return sendProbe(QByteArrayLiteral("ATA"), frm, QStringLiteral("Answer()"));
}

std::int32_t clsNetwork::ControlRinging(CommDialog *frm, bool)
{
    return errors::guarded(kClass, QStringLiteral("ControlRinging()"), [&] {
        m_connected = false;
        if (modExecFunctions::SMWaitCommand(dialogOwner(frm), 10, false) != 0)
            raiseError(ErrorCode::SendRefused);
    });
}

std::int32_t clsNetwork::Ping(std::int16_t numTimes, CommDialog *frm)
{
    return errors::guarded(kClass, QStringLiteral("Ping()"), [&] {
        if (frm)
            dialogStatus(frm, modGlobals::ReplaceVariable(modGlobals::GetCatalogString(1457), QStringLiteral("DATA"), PingStr()));
        for (int i = 0; i < numTimes; ++i) {
            if (modExecFunctions::SMNullCommand(PingStr().toLatin1(), dialogOwner(frm), kProbePriority, false) != 0)
                raiseError(ErrorCode::SendRefused);
        }
    });
}

// ---- Sequence numbers --------------------------------------------------------------------------

std::uint8_t clsNetwork::SequenceKey(const QString &passcode, std::uint8_t sequence)
{
    return static_cast<std::uint8_t>((leadingHex(passcode.right(2)) + sequence) & 0xFF);
}

void clsNetwork::Encrypt(QByteArray &buffer, std::uint8_t key)
{
    for (char &c : buffer)
        c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
}

QString clsNetwork::InBuffer() const
{
    return QString::fromLatin1(m_inBuffer);
}

std::shared_ptr<clsPanelMsg> clsNetwork::commandOf(const clsMessage &msg) const
{
    return std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(msg.ClientGUID()));
}

// ---- Sending -----------------------------------------------------------------------------------

std::int32_t clsNetwork::SendData(clsMessage &msg)
{
    QString name;
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("SendData()"), [&] {
        SessionState &state = sessionState();
        const std::shared_ptr<clsPanelMsg> command = commandOf(msg);
        name = msg.Name();
        if (!command)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no panel command for message %1").arg(name));

        QByteArray frame;
        for (;;) {
            frame = command->OutputData;
            modGlobals::DebugPrint(QStringLiteral("Sending: ") + modGlobals::DebugConvert(frame));
            if (command->MsgType != 0)
                modGlobals::AddLogEntry(modGlobals::GetCatalogString(329), frame);
            else
                modGlobals::AddLogEntry(modGlobals::GetCatalogString(328), frame);

            if (name != kNullCommand && !m_connected)
                raiseError(ErrorCode::SendRefused, QStringLiteral("%1 while the link is not up").arg(name));
            if (name != kPanelGoodbye && m_abortPending)
                raiseError(ErrorCode::SendRefused, QStringLiteral("%1 while an abort is pending").arg(name));

            SeqNum = SeqNum >= 255 ? 1 : static_cast<std::int16_t>(SeqNum + 1);
            if (SeqNumOut == -2)
                SeqNumOut = state.SequenceNumbersEnabled ? SeqNum : 0;
            else
                SeqNumOut = SeqNum;
            if (!state.SequenceNumbersEnabled)
                break;
            const std::uint8_t key = SequenceKey(state.passcode, static_cast<std::uint8_t>(SeqNumOut & 0xFF));
            if (key == 0)
                continue; // a key of 0 would send the frame in the clear: draw the next number
            Encrypt(frame, key);
            break;
        }

        QByteArray datagram;
        datagram.append(static_cast<char>(SeqNumOut & 0xFF));
        datagram.append(frame);
        if (state.EncryptionEnabled) {
            modGlobals::DebugPrint(QStringLiteral("Low Encryption: ") + modGlobals::DebugConvert(datagram));
            datagram = modEncryption::EncryptData(datagram, m_linkKey);
            if (datagram.isEmpty())
                raiseError(ErrorCode::SendRefused, QStringLiteral("the datagram could not be encrypted"));
            modGlobals::DebugPrint(QStringLiteral("High Encryption: ") + modGlobals::DebugConvert(datagram));
        }

        // Let the interface breathe; datagrams wait until this send is done.
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers | QEventLoop::ExcludeUserInputEvents);
        if (!m_socket || !bindSocket())
            raiseError(ErrorCode::SendRefused, QStringLiteral("the UDP socket is not open"));
        bool portOk = false;
        const int port = RemotePort.trimmed().toInt(&portOk);
        const QHostAddress host(RemoteHost);
        if (!portOk || port <= 0 || port > 65535 || host.protocol() != QAbstractSocket::IPv4Protocol)
            raiseError(ErrorCode::SendRefused, QStringLiteral("no panel address (%1:%2)").arg(RemoteHost, RemotePort));
        if (m_socket->writeDatagram(datagram, host, static_cast<quint16>(port)) != datagram.size())
            raiseError(ErrorCode::SendRefused, QStringLiteral("send failed: %1").arg(m_socket->errorString()));
        modGlobals::DebugPrint(QStringLiteral("Send: ") + modGlobals::DebugConvert(datagram));

        // A new passcode written to the panel keys every later datagram.
        if (name == kWriteItemBlock && command->MsgParams.size() > 2 && byteAt(command->MsgParams, 1) == 3
            && byteAt(command->MsgParams, 2) == 0 && state.hostPif)
            state.passcode = state.hostPif->Passcode();

        frmMsgQueue *queue = state.queueWindow;
        if (!queue)
            return;
        if (command->TimeOut != 0 && !m_abortPending) {
            queue->setTimeoutEnabled(true);
            return;
        }
        queue->setTimeoutEnabled(false);
        if (const auto owner = std::dynamic_pointer_cast<ResponseReceiver>(modGlobals::GetGUIDObject(msg.OwnerGUID())))
            owner->ResponseReceived(msg);
        if (frmMsgQueue *stillThere = sessionState().queueWindow)
            stillThere->ReceiveComplete();
    });
    if (rc != 0) {
        sessionState().LastErrorNumber = rc;
        // A goodbye that cannot be sent ends the session here: the link is taken down first, so the
        // disconnect closes and unloads instead of queueing the goodbye again.
        if (name == kPanelGoodbye)
            ControlDisconnect(nullptr, true);
        modGlobals::Disconnect(false, 5);
    }
    return rc;
}

// ---- Receiving ---------------------------------------------------------------------------------

void clsNetwork::onReadyRead()
{
    // Handling a datagram can close the socket (the goodbye): stop reading then.
    while (m_socket && m_socket->state() == QAbstractSocket::BoundState && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        if (!datagram.isValid())
            continue;
        const QHostAddress sender(datagram.senderAddress().toIPv4Address());
        if (sender.toString() != RemoteHost || QString::number(datagram.senderPort()) != RemotePort.trimmed())
            continue; // not the panel
        QByteArray bytes = datagram.data();
        if (!acceptable(bytes))
            continue;
        if (frmMsgQueue *queue = sessionState().queueWindow)
            queue->DataArrival(bytes);
    }
}

clsNetwork::Session clsNetwork::session() const
{
    const SessionState &state = sessionState();
    Session s;
    s.encryption = state.EncryptionEnabled;
    s.linkKeyMode = linkKeyMode();
    s.sequenceNumbers = state.SequenceNumbersEnabled;
    s.passcode = state.passcode;
    s.linkKey = m_linkKey;
    s.connected = m_connected;
    s.seqNumOut = SeqNumOut;
    return s;
}

clsNetwork::Datagram clsNetwork::DecodeDatagram(const QByteArray &raw, const Session &session)
{
    Datagram d;
    // With LinkKeyMode 0 a datagram that cannot be an envelope switches encryption off.
    bool encryption = session.encryption;
    if (session.linkKeyMode == 0 && !modEncryption::isEnvelopeLength(raw.size())) {
        d.encryptionOff = session.encryption;
        encryption = false;
    }
    d.plain = raw;
    if (encryption) {
        if (!modEncryption::isEnvelopeLength(raw.size())) {
            d.dropped = true;
            return d;
        }
        d.decrypted = true;
        d.plain = modEncryption::DecryptData(raw, session.linkKey);
    }
    d.decoded = true;
    if (d.plain.size() < 2) {
        d.dropped = true; // empty, malformed envelope, or a sequence byte alone
        return d;
    }
    d.sequence = byteAt(d.plain, 0);
    if (session.connected && d.sequence != session.seqNumOut) {
        d.dropped = true;
        return d;
    }
    d.payload = d.plain.mid(1);
    if (session.sequenceNumbers)
        Encrypt(d.payload, SequenceKey(session.passcode, d.sequence));
    return d;
}

std::int32_t clsNetwork::CheckAnswer(const QByteArray &in)
{
    // A frame is address, length L, command, L - 2 data bytes and the checksum: anything shorter,
    // or of another length than its length byte says, is a failed answer.
    if (in.size() < 4 || byteAt(in, 1) + 2 != in.size() || byteSum(in) != kChecksumTarget)
        return ErrorCode::BadChecksum;
    if (byteAt(in, 1) == 2 && byteAt(in, 2) == 2)
        return ErrorCode::PanelNak;
    if (byteAt(in, 1) == 3 && byteAt(in, 2) == 3 && (byteAt(in, 3) & 0x08) != 0)
        return ErrorCode::CallbackRequested;
    return 0;
}

bool clsNetwork::acceptable(const QByteArray &raw) const
{
    return !raw.isEmpty() && !DecodeDatagram(raw, session()).dropped;
}

std::int32_t clsNetwork::DataReceived(clsMessage &msg)
{
    bool dropped = false;
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("DataReceived()"), [&] {
        SessionState &state = sessionState();
        const QByteArray raw = msg.dataBytes();
        const Datagram d = DecodeDatagram(raw, session());
        if (d.encryptionOff)
            state.EncryptionEnabled = false;
        if (d.decrypted)
            modGlobals::DebugPrint(QStringLiteral("Decrypting: ") + modGlobals::DebugConvert(raw));
        if (d.decoded)
            modGlobals::DebugPrint(QStringLiteral("Decoding: ") + modGlobals::DebugConvert(d.plain));
        if (d.dropped) {
            dropped = true;
            return;
        }
        SeqNumIn = d.sequence;
        const QByteArray payload = d.payload;
        m_inBuffer = payload;
        NetResponded = true;
        if (payload.contains(InitStr().toLatin1()) && !NetCallBackIgnore)
            setNetCallBack(true);
        else
            SeqNumOut = -1;
        const std::int32_t result = ProcessReceive(msg);
        if (result != 0)
            raiseError(result);
    });
    if (dropped) {
        msg.setData(QVariant()); // nothing for the owner: the exchange goes on
        // The queue stopped the answer time-out when the bytes arrived; the message in flight
        // still waits for its answer.
        if (frmMsgQueue *queue = sessionState().queueWindow; queue && queue->CurrentMessage())
            queue->setTimeoutEnabled(true);
    }
    if (rc != 0) {
        msg.setData(QVariant());
        sessionState().LastErrorNumber = rc;
        modGlobals::Disconnect(false, 5);
    }
    return rc;
}

std::int32_t clsNetwork::ProcessReceive(clsMessage &msg)
{
    return errors::guarded(kClass, QStringLiteral("ProcessReceive()"), [&] {
        if (frmMsgQueue *queue = sessionState().queueWindow)
            queue->setTimeoutEnabled(false);
        const std::shared_ptr<clsPanelMsg> command = commandOf(msg);
        const bool validate = command && command->Name != kNullCommand && command->Name != kWaitCommand;
        QByteArray response;
        const std::int32_t result = ReceiveResponse(response, validate);
        if (!response.isEmpty()) {
            msg.setData(response);
            modGlobals::DebugPrint(QStringLiteral("Received: ") + modGlobals::DebugConvert(response));
            modGlobals::AddLogEntry(modGlobals::GetCatalogString(330), response);
        }
        if (result == 0 || !command)
            return;
        ++command->RetryCount;
        if (command->RetryCount > command->RetryMax) {
            modGlobals::AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(280), QStringLiteral("MAX"), QString::number(command->RetryMax)));
            raiseError(ErrorCode::RetriesExhausted);
        }
        if (result == ErrorCode::CallbackRequested) {
            command->CallBackFlag = true; // delivered: the handshake reads the flag
            return;
        }
        if (m_abortPending)
            return;
        modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(command->RetryCount));
        // The failed answer is not the owner's: the message stays in flight and goes out again.
        msg.setData(QVariant());
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->SendData(msg);
    });
}

std::int32_t clsNetwork::ReceiveResponse(QByteArray &Response, bool bValidate)
{
    Response.clear();
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("ReceiveResponse()"), [&] {
        if (!bValidate || !m_connected)
            return;
        switch (const std::int32_t check = CheckAnswer(m_inBuffer)) {
        case 0:
            break;
        case ErrorCode::PanelNak:
            Timing::sleep(sessionState().config.sendAgainPauseTime);
            modGlobals::DebugPrint(QStringLiteral("NAK!"));
            raiseError(ErrorCode::PanelNak);
        case ErrorCode::CallbackRequested:
            // Honoured once per session; later ones are plain answers.
            if (!sessionState().CallbackSession) {
                sessionState().CallbackSession = true;
                raiseError(ErrorCode::CallbackRequested);
            }
            break;
        default:
            raiseError(check);
        }
    });
    if (rc != ErrorCode::Aborted && rc != ErrorCode::NoCompleteAnswer)
        Response = m_inBuffer;
    NetResponded = false;
    m_inBuffer.clear();
    return rc;
}

// ---- Net-ring ----------------------------------------------------------------------------------

void clsNetwork::setNetCallBack(bool value)
{
    errors::guarded(kClass, QStringLiteral("[Let]NetCallBack()"), [&] {
        SessionState &state = sessionState();
        if (frmMsgQueue *queue = state.queueWindow) {
            queue->setHeartbeatEnabled(value);
            queue->setDiagRefreshEnabled(value);
        }
        NetCallBackTime = QDateTime::currentDateTime();
        NetCallBackIgnore = value;
        m_netCallBack = value;
        if (!state.CallbackSession)
            dialogNetRing(value);
    });
}
