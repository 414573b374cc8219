#include "transports/DatagramTransport.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "diagnostics/clsSessionLog.h"
#include "link/clsPanelMsg.h"
#include "link/modExecFunctions.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "transports/CommDialog.h"

#include <QRandomGenerator>

namespace {

const QString kNullCommand = QStringLiteral("Null Command");
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
        const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (digit < 0)
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

MsgOwner dialogOwner(CommDialog *frm)
{
    return frm ? frm->probeOwner() : MsgOwner();
}

} // namespace

DatagramTransport::DatagramTransport(const QString &className)
    : ControlTypeBase(true), m_class(className)
{
    errors::guarded(m_class, QStringLiteral("Class_Initialize()"), [&] {
        SessionState &state = sessionState();
        if (!state.sessionLog) {
            state.sessionLog = std::make_shared<clsSessionLog>();
            state.sessionLog->OpenLog(state.UnattendedFlag ? state.accountName + QStringLiteral(".log") : QString());
        }
        SeqNum = static_cast<std::int16_t>(QRandomGenerator::global()->bounded(1, 256));
        SeqNumOut = -2;
    });
}

DatagramTransport::~DatagramTransport()
{
    SessionState &state = sessionState();
    if (state.sessionLog) {
        state.sessionLog->CloseLog();
        state.sessionLog.reset();
    }
}

// ---- Line operations ---------------------------------------------------------------------------

std::int32_t DatagramTransport::ControlInitialize(CommDialog *, bool)
{
    return 0;
}

std::int32_t DatagramTransport::sendProbe(const QByteArray &text, CommDialog *frm, const QString &procedure)
{
    return errors::guarded(m_class, procedure, [&] {
        if (modExecFunctions::SMNullCommand(text, dialogOwner(frm), kProbePriority, false) != 0)
            raiseError(ErrorCode::SendRefused);
    });
}

std::int32_t DatagramTransport::Connect(CommDialog *frm, bool bDisplay)
{
    Connecting = true;
    if (bDisplay && frm)
        frm->AddStatus(modGlobals::GetCatalogString(1458));
    return sendProbe(InitStr().toLatin1(), frm, QStringLiteral("Connect()"));
}

std::int32_t DatagramTransport::Answer(CommDialog *frm, bool)
{
    Connecting = false;
    m_connected = false;
    return sendProbe(QByteArrayLiteral("ATA"), frm, QStringLiteral("Answer()"));
}

std::int32_t DatagramTransport::ControlRinging(CommDialog *frm, bool)
{
    return errors::guarded(m_class, QStringLiteral("ControlRinging()"), [&] {
        m_connected = false;
        if (modExecFunctions::SMWaitCommand(dialogOwner(frm), 10, false) != 0)
            raiseError(ErrorCode::SendRefused);
    });
}

std::int32_t DatagramTransport::Ping(std::int16_t numTimes, CommDialog *frm)
{
    return errors::guarded(m_class, QStringLiteral("Ping()"), [&] {
        const std::int32_t prepared = PortPrep(frm, true);
        if (prepared != 0)
            raiseError(prepared);
        if (frm)
            frm->AddStatus(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(1457), QStringLiteral("DATA"), PingStr()));
        for (int i = 0; i < numTimes; ++i) {
            if (modExecFunctions::SMNullCommand(PingStr().toLatin1(), dialogOwner(frm), kProbePriority, false) != 0)
                raiseError(ErrorCode::SendRefused);
        }
    });
}

void DatagramTransport::setNetCallBack(bool value)
{
    errors::guarded(m_class, QStringLiteral("[Let]NetCallBack()"), [&] {
        if (MessageQueue *queue = sessionState().messageQueue) {
            queue->setHeartbeatEnabled(value);
            queue->setDiagRefreshEnabled(value);
        }
        NetCallBackTime = QDateTime::currentDateTime();
        NetCallBackIgnore = value;
        m_netCallBack = value;
        netRingChanged(value);
    });
}

void DatagramTransport::netRingChanged(bool)
{
}

QString DatagramTransport::InBuffer() const
{
    return QString::fromLatin1(m_inBuffer);
}

// ---- Sequence numbers --------------------------------------------------------------------------

std::uint8_t DatagramTransport::SequenceKey(const QString &passcode, std::uint8_t sequence)
{
    return static_cast<std::uint8_t>((leadingHex(passcode.right(2)) + sequence) & 0xFF);
}

void DatagramTransport::Encrypt(QByteArray &buffer, std::uint8_t key)
{
    for (char &c : buffer)
        c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
}

QByteArray DatagramTransport::nextDatagram(const clsPanelMsg &command, const QString &name)
{
    const SessionState &state = sessionState();
    if (name != kNullCommand && !m_connected)
        raiseError(ErrorCode::SendRefused, QStringLiteral("%1 while the link is not up").arg(name));
    if (name != kPanelGoodbye && m_abortPending)
        raiseError(ErrorCode::SendRefused, QStringLiteral("%1 while an abort is pending").arg(name));

    QByteArray frame = command.OutputData;
    for (;;) {
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
    return QByteArray(1, static_cast<char>(SeqNumOut & 0xFF)) + frame;
}

void DatagramTransport::afterSend(const clsPanelMsg &command, const QString &name)
{
    SessionState &state = sessionState();
    if (name == kWriteItemBlock && command.MsgParams.size() > 2 && byteAt(command.MsgParams, 1) == 3
        && byteAt(command.MsgParams, 2) == 0 && state.hostPif)
        state.passcode = state.hostPif->Passcode();
}

// ---- Receiving ---------------------------------------------------------------------------------

DatagramTransport::Payload DatagramTransport::DecodePayload(const QByteArray &datagram, bool connected,
                                                            std::int16_t seqNumOut, bool sequenceNumbers,
                                                            const QString &passcode)
{
    Payload d;
    if (datagram.size() < 2) {
        d.dropped = true; // empty, or a sequence byte alone: it answers nothing
        return d;
    }
    d.sequence = byteAt(datagram, 0);
    if (connected && d.sequence != seqNumOut) {
        d.dropped = true;
        return d;
    }
    d.bytes = datagram.mid(1);
    if (sequenceNumbers)
        Encrypt(d.bytes, SequenceKey(passcode, d.sequence));
    return d;
}

std::int32_t DatagramTransport::CheckAnswer(const QByteArray &payload)
{
    // A frame is address, length L, command, L - 2 data bytes and the checksum: anything shorter,
    // or of another length than its length byte says, is a failed answer.
    if (payload.size() < 4 || byteAt(payload, 1) + 2 != payload.size() || byteSum(payload) != kChecksumTarget)
        return ErrorCode::BadChecksum;
    if (byteAt(payload, 1) == 2 && byteAt(payload, 2) == 2)
        return ErrorCode::PanelNak;
    if (byteAt(payload, 1) == 3 && byteAt(payload, 2) == 3 && (byteAt(payload, 3) & 0x08) != 0)
        return ErrorCode::CallbackRequested;
    return 0;
}

void DatagramTransport::takePayload(const Payload &payload)
{
    SeqNumIn = payload.sequence;
    m_inBuffer = payload.bytes;
    NetResponded = true;
    if (payload.bytes.contains(InitStr().toLatin1()) && !NetCallBackIgnore)
        setNetCallBack(true);
    else
        SeqNumOut = -1;
}

void DatagramTransport::verifyInBuffer(bool bValidate)
{
    if (!bValidate || !m_connected)
        return;
    switch (const std::int32_t check = CheckAnswer(m_inBuffer)) {
    case 0:
        return;
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
        return;
    default:
        raiseError(check);
    }
}

std::int32_t DatagramTransport::finishAnswer(QByteArray &Response, std::int32_t rc)
{
    // A failed answer is never handed out as the answer.
    if (rc == 0 || rc == ErrorCode::CallbackRequested)
        Response = m_inBuffer;
    else
        Response.clear();
    NetResponded = false;
    m_inBuffer.clear();
    return rc;
}

void DatagramTransport::countFailedAnswer(clsPanelMsg &command, std::int32_t result)
{
    ++command.RetryCount;
    if (command.RetryCount > command.RetryMax) {
        modGlobals::AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(280), QStringLiteral("MAX"),
                                                            QString::number(command.RetryMax)));
        raiseError(ErrorCode::RetriesExhausted);
    }
    if (result == ErrorCode::CallbackRequested)
        command.CallBackFlag = true; // delivered: the handshake reads the flag
}

// ---- Completion --------------------------------------------------------------------------------

std::shared_ptr<clsPanelMsg> DatagramTransport::commandOf(const clsMessage &msg) const
{
    return std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(msg.ClientGUID()));
}

void DatagramTransport::completeExchange(clsMessage &msg, bool deliver)
{
    const QString guid = msg.szGUID();
    if (deliver) {
        if (const auto owner = std::dynamic_pointer_cast<ResponseReceiver>(modGlobals::GetGUIDObject(msg.OwnerGUID())))
            owner->ResponseReceived(msg);
    }
    // The owner may have ended the session, or an abort may have emptied the queue meanwhile: only
    // the message still in flight is completed.
    MessageQueue *queue = sessionState().messageQueue;
    if (!queue)
        return;
    const std::shared_ptr<clsMessage> current = queue->CurrentMessage();
    if (current && current->szGUID() == guid)
        queue->ReceiveComplete();
}

void DatagramTransport::endSession(std::int32_t rc, const QString &name)
{
    sessionState().LastErrorNumber = rc;
    if (name == kPanelGoodbye)
        ControlDisconnect(nullptr, true);
    modGlobals::Disconnect(false, 5);
}
