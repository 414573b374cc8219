#include "transports/clsNetwork.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/clsPanelMsg.h"
#include "link/modEncryption.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "transports/CommDialog.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace {

const QString kClass = QStringLiteral("clsNetwork");
const QString kNullCommand = QStringLiteral("Null Command");
const QString kWaitCommand = QStringLiteral("Wait Command");
constexpr int kPanelTestPassed = 109; // catalog text a passed panel test ("LOCAL_CONN") answers with

// At most one line per this many real milliseconds about dropped datagrams: a flood of junk must
// not flood the immediate log as well.
constexpr qint64 kDropLogIntervalMs = 1000;

// The host's LinkKeyMode; a session without a settings object lets the link probe both settings.
qint32 linkKeyMode()
{
    const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
    return settings ? settings->LinkKeyMode() : 0;
}

} // namespace

clsNetwork::clsNetwork()
    : DatagramTransport(kClass)
{
    errors::guarded(kClass, QStringLiteral("Class_Initialize()"), [&] {
        SessionState &state = sessionState();
        if (MessageQueue *queue = state.messageQueue)
            m_socket = queue->Socket;
        m_connected = false;
        m_abortPending = false;
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

clsNetwork::~clsNetwork() = default;

QString clsNetwork::Name() const
{
    return m_name.isEmpty() ? QStringLiteral("Network") : m_name;
}

void clsNetwork::setConnected(bool connected)
{
    DatagramTransport::setConnected(connected);
    if (connected)
        m_cipherSettled = true;
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

void clsNetwork::netRingChanged(bool value)
{
    if (sessionState().CallbackSession)
        return;
    if (auto *dialog = dynamic_cast<CommDialog *>(sessionState().connection.data()))
        dialog->showNetRing(value);
}

// ---- Line operations ---------------------------------------------------------------------------

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

        modGlobals::DebugPrint(QStringLiteral("Sending: ") + modGlobals::DebugConvert(command->OutputData));
        modGlobals::AddLogEntry(modGlobals::GetCatalogString(command->MsgType != 0 ? 329 : 328), command->OutputData);
        QByteArray datagram = nextDatagram(*command, name);
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
        afterSend(*command, name);

        MessageQueue *queue = state.messageQueue;
        if (!queue)
            return;
        if (command->TimeOut != 0 && !m_abortPending) {
            queue->setTimeoutEnabled(true);
            return;
        }
        queue->setTimeoutEnabled(false);
        completeExchange(msg, true);
    });
    if (rc != 0)
        endSession(rc, name);
    return rc;
}

// ---- Receiving ---------------------------------------------------------------------------------

bool clsNetwork::validates(const clsPanelMsg *command)
{
    return command && command->Name != kNullCommand && command->Name != kWaitCommand;
}

clsNetwork::Session clsNetwork::session(const clsPanelMsg *command) const
{
    const SessionState &state = sessionState();
    Session s;
    if (command && command->Name == kNullCommand) {
        s.probe = command->OutputData;
        if (s.probe == InitStr().toLatin1() || s.probe == QByteArrayLiteral("ATA"))
            s.probeAnswer = QByteArrayLiteral("CONNECT");
        else if (s.probe == PingStr().toLatin1())
            s.probeAnswer = modGlobals::GetCatalogString(kPanelTestPassed).toLatin1(); // what the panel test looks for
    }
    s.encryption = state.EncryptionEnabled;
    s.linkKeyMode = linkKeyMode();
    s.cipherSettled = m_cipherSettled;
    s.sequenceNumbers = state.SequenceNumbersEnabled;
    s.passcode = state.passcode;
    s.linkKey = m_linkKey;
    s.connected = m_connected;
    s.seqNumOut = SeqNumOut;
    s.validate = validates(command);
    return s;
}

clsNetwork::Datagram clsNetwork::DecodeDatagram(const QByteArray &raw, const Session &session)
{
    Datagram d;
    const auto drop = [&d](const char *reason) {
        d.dropped = true;
        d.encryptionOff = false; // a dropped datagram decides nothing
        d.dropReason = QString::fromLatin1(reason);
        return d;
    };
    if (raw.isEmpty())
        return drop("empty");
    bool encryption = session.encryption;
    if (encryption && !modEncryption::isEnvelopeLength(raw.size())) {
        // Only while the link is being probed, and the host lets it choose, may the panel turn out
        // to talk in the clear (whether it does, the checks below decide); once it has answered,
        // the setting holds.
        if (session.linkKeyMode != 0 || session.cipherSettled)
            return drop("not an envelope");
        encryption = false;
        d.encryptionOff = true;
    }
    d.plain = raw;
    if (encryption) {
        d.decrypted = true;
        d.plain = modEncryption::DecryptData(raw, session.linkKey);
    }
    d.decoded = true;
    const Payload payload =
        DecodePayload(d.plain, session.connected, session.seqNumOut, session.sequenceNumbers, session.passcode);
    if (payload.dropped)
        return drop(d.plain.size() < 2 ? "no payload" : "another sequence byte");
    d.sequence = payload.sequence;
    d.payload = payload.bytes;
    if (!session.connected) {
        // The link is being set up: only the answer to the probe actually sent, or a net-ring.
        if (!session.probe.isEmpty()) {
            if (session.seqNumOut < 0 || d.sequence != (session.seqNumOut & 0xFF))
                return drop("not the probe's sequence byte");
            if (!d.payload.contains(session.probeAnswer) || d.payload.contains(InitStr().toLatin1()))
                return drop("not the answer to the probe");
        } else {
            if (!d.payload.contains(InitStr().toLatin1()))
                return drop("nothing awaited");
            d.encryptionOff = false; // a net-ring does not choose the cipher: the answer to the next probe does
        }
    }
    if (session.validate && session.connected && CheckAnswer(d.payload) == ErrorCode::BadChecksum)
        return drop("not a whole answer frame");
    return d;
}

void clsNetwork::noteDropped(const QString &reason, const QByteArray &raw)
{
    ++m_dropped;
    const qint64 now = Timing::nowMs();
    if (m_dropLogMs >= 0 && now - m_dropLogMs < kDropLogIntervalMs) {
        ++m_dropsUnlogged;
        return;
    }
    QString line = QStringLiteral("Dropped (%1): ").arg(reason) + modGlobals::DebugConvert(raw);
    if (m_dropsUnlogged > 0)
        line += QStringLiteral(" (and %1 more since the last report)").arg(m_dropsUnlogged);
    modGlobals::DebugPrint(line);
    m_dropLogMs = now;
    m_dropsUnlogged = 0;
}

void clsNetwork::onReadyRead()
{
    // A slot of the socket: whatever fails here (the host's settings unreachable, for one) is
    // reported and the datagram dropped; nothing leaves the event handler.
    errors::guarded(kClass, QStringLiteral("onReadyRead()"), [this] { readDatagrams(); });
}

void clsNetwork::readDatagrams()
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
        MessageQueue *queue = sessionState().messageQueue;
        std::shared_ptr<clsPanelMsg> command;
        if (queue) {
            if (const std::shared_ptr<clsMessage> current = queue->CurrentMessage())
                command = commandOf(*current);
        }
        Datagram decoded = DecodeDatagram(bytes, session(command.get()));
        if (decoded.dropped) {
            noteDropped(decoded.dropReason, bytes);
            continue;
        }
        if (!queue)
            continue;
        // The queue hands the bytes straight back (DataReceived) with the same message in flight:
        // the decoded form goes with them, so the datagram is decoded and decrypted only once.
        m_arrival = Arrival{bytes, std::move(decoded)};
        struct Forget
        {
            std::optional<Arrival> &arrival;
            ~Forget() { arrival.reset(); }
        } forget{m_arrival};
        queue->DataArrival(bytes);
    }
}

std::int32_t clsNetwork::DataReceived(clsMessage &msg)
{
    bool dropped = false;
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("DataReceived()"), [&] {
        SessionState &state = sessionState();
        const QByteArray raw = msg.dataBytes();
        const std::shared_ptr<clsPanelMsg> command = commandOf(msg);
        // Bytes that readDatagrams has just decoded for this exchange are not decoded again; bytes
        // from elsewhere (the host's DataArrival) are decoded here.
        std::optional<Arrival> arrival;
        arrival.swap(m_arrival);
        const Datagram datagram = arrival && arrival->raw == raw ? std::move(arrival->decoded)
                                                                 : DecodeDatagram(raw, session(command.get()));
        if (datagram.dropped) {
            noteDropped(datagram.dropReason, raw);
            dropped = true;
            return;
        }
        if (datagram.encryptionOff) {
            modGlobals::DebugPrint(QStringLiteral("Encryption off: the panel answers in the clear"));
            state.EncryptionEnabled = false;
        }
        if (datagram.decrypted)
            modGlobals::DebugPrint(QStringLiteral("Decrypting: ") + modGlobals::DebugConvert(raw));
        modGlobals::DebugPrint(QStringLiteral("Decoding: ") + modGlobals::DebugConvert(datagram.plain));
        takePayload(Payload{false, datagram.sequence, datagram.payload});
        const std::int32_t result = ProcessReceive(msg);
        if (result != 0)
            raiseError(result);
    });
    if (dropped) {
        msg.setData(QVariant()); // nothing for the owner: the exchange goes on
        // The queue stopped the answer time-out when the bytes arrived; the message in flight
        // still waits for its answer.
        if (MessageQueue *queue = sessionState().messageQueue; queue && queue->CurrentMessage())
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
        if (MessageQueue *queue = sessionState().messageQueue)
            queue->setTimeoutEnabled(false);
        const std::shared_ptr<clsPanelMsg> command = commandOf(msg);
        QByteArray response;
        const std::int32_t result = ReceiveResponse(response, validates(command.get()));
        // Only an answer that passed its checks is the message's data: a failed one leaves the
        // record empty, so the queue neither delivers nor completes it.
        msg.setData(response.isEmpty() ? QVariant() : QVariant(response));
        if (!response.isEmpty()) {
            modGlobals::DebugPrint(QStringLiteral("Received: ") + modGlobals::DebugConvert(response));
            modGlobals::AddLogEntry(modGlobals::GetCatalogString(330), response);
        }
        if (result == 0 || !command)
            return;
        countFailedAnswer(*command, result);
        if (result == ErrorCode::CallbackRequested || m_abortPending)
            return;
        modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(command->RetryCount));
        // The failed answer is not the owner's: the message stays in flight and goes out again.
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->SendData(msg);
    });
}

std::int32_t clsNetwork::ReceiveResponse(QByteArray &Response, bool bValidate)
{
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("ReceiveResponse()"), [&] { verifyInBuffer(bValidate); });
    return finishAnswer(Response, rc);
}
