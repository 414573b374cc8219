#include "transports/clsEnhancedDirect.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/SerialIo.h"
#include "link/clsPanelMsg.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "queue/clsMessage.h"
#include "transports/CommDialog.h"
#include "transports/EnhancedEnvelope.h"
#include "transports/SerialLine.h"

#include <QScopedValueRollback>

#include <algorithm>

namespace {

const QString kClass = QStringLiteral("clsEnhancedDirect");
const QString kWaitCommand = QStringLiteral("Wait Command");

// Longest single wait for input (real ms): short enough for Cancel to feel immediate, long enough
// that an idle wait costs nothing.
constexpr qint64 kSliceMs = 20;

// The answer time-out without a usable host setting, in seconds.
constexpr double kDefaultResponseTimeout = 12;

} // namespace

clsEnhancedDirect::clsEnhancedDirect()
    : DatagramTransport(kClass)
{
    errors::guarded(kClass, QStringLiteral("Class_Initialize()"), [&] {
        SessionState &state = sessionState();
        if (MessageQueue *queue = state.messageQueue)
            m_port = queue->MSComm1;
        if (const std::shared_ptr<HostSettings> settings = state.hostSettings) {
            DataBits = settings->DataBits();
            Parity = settings->Parity();
            StopBits = settings->StopBits();
        }
        m_netCallBack = false;
        NetResponded = false;
        if (m_port) {
            // A port whose far end vanished reports ResourceError over and over until it is closed.
            connect(m_port.data(), &QSerialPort::errorOccurred, this, &clsEnhancedDirect::onPortError);
            connect(m_port.data(), &QSerialPort::readyRead, this, &clsEnhancedDirect::onReadyRead);
        }
    });
}

clsEnhancedDirect::~clsEnhancedDirect() = default;

QString clsEnhancedDirect::Name() const
{
    return m_name.isEmpty() ? QStringLiteral("Enhanced Direct") : m_name;
}

bool clsEnhancedDirect::portOpen() const
{
    return m_port && m_port->isOpen();
}

void clsEnhancedDirect::onPortError(QSerialPort::SerialPortError error)
{
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !portOpen())
        return;
    // The device is gone: close it so waits end at once, and the link is down.
    m_port->close();
    m_connected = false;
    modGlobals::DebugPrint(QStringLiteral("Serial port lost"));
}

qint64 clsEnhancedDirect::responseTimeoutMs()
{
    double seconds = kDefaultResponseTimeout;
    if (const std::shared_ptr<HostSettings> settings = sessionState().hostSettings) {
        bool ok = false;
        const double value = settings->ResponseTimeout().trimmed().toDouble(&ok);
        if (ok && value > 0 && value <= 3600)
            seconds = value;
    }
    return static_cast<qint64>(seconds * 1000);
}

// ---- Line operations ---------------------------------------------------------------------------

std::int32_t clsEnhancedDirect::PortPrep(CommDialog *frm, bool)
{
    return errors::guarded(kClass, QStringLiteral("PortPrep()"), [&] {
        SerialLine::prepare(m_port, SerialLine::Settings{CommPort, BaudRate, Parity, DataBits, StopBits}, frm, true);
    });
}

std::int32_t clsEnhancedDirect::ControlDisconnect(CommDialog *, bool)
{
    return errors::guarded(kClass, QStringLiteral("ControlDisconnect()"), [&] {
        m_connected = false;
        if (portOpen())
            m_port->close();
    });
}

std::int32_t clsEnhancedDirect::DataReceived(clsMessage &)
{
    return 0;
}

// ---- The exchange ------------------------------------------------------------------------------

void clsEnhancedDirect::writeEnvelope(const QByteArray &envelope)
{
    switch (SerialIo::writeAll(m_port, envelope, 2000, kSliceMs)) {
    case SerialIo::Write::Done:
        return;
    case SerialIo::Write::Stuck:
        raiseError(ErrorCode::Aborted, QStringLiteral("the serial port does not take the envelope"));
    case SerialIo::Write::Lost:
        onPortError(QSerialPort::ResourceError);
        raiseError(ErrorCode::Aborted, QStringLiteral("the serial port closed"));
    case SerialIo::Write::Refused:
        raiseError(ErrorCode::Aborted, QStringLiteral("the serial port refused the envelope"));
    }
}

std::int32_t clsEnhancedDirect::SendData(clsMessage &msg)
{
    QString name;
    bool finished = false;
    bool deliver = false;
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("SendData()"), [&] {
        const std::shared_ptr<clsPanelMsg> command = commandOf(msg);
        name = msg.Name();
        if (!command)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no panel command for message %1").arg(name));
        if (!portOpen())
            raiseError(ErrorCode::SendRefused, QStringLiteral("the serial port is not open"));
        const QScopedValueRollback<bool> exchange(m_inExchange, true);

        for (;;) {
            // What is still buffered belongs to an earlier, failed answer, never to this send.
            m_port->clear(QSerialPort::Input);
            const QByteArray envelope = EnhancedEnvelope::wrap(nextDatagram(*command, name));
            if (envelope.isEmpty())
                raiseError(ErrorCode::InvalidArgument, QStringLiteral("%1: the frame does not fit an envelope").arg(name));
            writeEnvelope(envelope);
            modGlobals::DebugPrint(QStringLiteral("Sending: ") + modGlobals::DebugConvert(envelope));
            modGlobals::AddLogEntry(modGlobals::GetCatalogString(command->MsgType != 0 ? 329 : 328), envelope);
            afterSend(*command, name);

            if (!sessionState().messageQueue)
                return;
            if (command->TimeOut == 0 || m_abortPending) {
                deliver = true; // awaits no answer: the owner is told at once
                break;
            }
            QByteArray response;
            const std::int32_t result = ReceiveResponse(response, command->MsgFunction != 0);
            if (!response.isEmpty()) {
                msg.setData(response);
                modGlobals::DebugPrint(QStringLiteral("Received: ") + modGlobals::DebugConvert(response));
                modGlobals::AddLogEntry(modGlobals::GetCatalogString(330), response);
            }
            if (result == 0) {
                deliver = true;
                break;
            }
            // A failed answer: nothing reaches the owner unless the panel asked to be called back.
            if (m_abortPending)
                break;
            countFailedAnswer(*command, result);
            if (result == ErrorCode::CallbackRequested) {
                deliver = true;
                break;
            }
            if (!portOpen())
                raiseError(ErrorCode::Aborted, QStringLiteral("the serial port closed"));
            modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(command->RetryCount));
        }
        finished = true;
    });
    if (rc != 0) {
        endSession(rc, name);
        return rc;
    }
    if (finished)
        completeExchange(msg, deliver);
    return 0;
}

void clsEnhancedDirect::waitForBytes(qint64 count, const Timing::Deadline &deadline)
{
    for (;;) {
        if (m_abortPending)
            raiseError(ErrorCode::Aborted, QStringLiteral("abort pending"));
        if (!portOpen())
            raiseError(ErrorCode::Aborted, QStringLiteral("the serial port closed"));
        if (m_port->bytesAvailable() >= count)
            return;
        if (deadline.expired())
            raiseError(ErrorCode::NoCompleteAnswer);
        if (!SerialLine::waitSlice(m_port, deadline.remainingMs(), kSliceMs) && m_port)
            onPortError(m_port->error());
    }
}

std::int32_t clsEnhancedDirect::ReceiveResponse(QByteArray &Response, bool bValidate)
{
    Response.clear();
    NetResponded = false;
    m_inBuffer.clear();
    const QScopedValueRollback<bool> reading(m_inExchange, true);
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("ReceiveResponse()"), [&] {
        const Timing::Deadline deadline(responseTimeoutMs());
        while (!NetResponded) {
            waitForBytes(EnhancedEnvelope::HeaderSize, deadline);
            const QByteArray header = m_port->read(EnhancedEnvelope::HeaderSize);
            int length = 0;
            const std::int32_t headerResult = EnhancedEnvelope::checkHeader(header, length);
            if (headerResult != 0) {
                modGlobals::DebugPrint(QStringLiteral("Bad envelope: ") + modGlobals::DebugConvert(header));
                raiseError(headerResult);
            }
            // The body has a wait of its own, as long as the header's.
            waitForBytes(length, Timing::Deadline(responseTimeoutMs()));
            const std::int32_t decoded = DecodeData(m_port->read(length));
            if (decoded != 0)
                raiseError(decoded);
            // Not taken (another sequence byte): not this exchange's answer, the wait goes on.
        }
        verifyInBuffer(bValidate);
    });
    return finishAnswer(Response, rc);
}

std::int32_t clsEnhancedDirect::DecodeData(const QByteArray &datagram)
{
    return errors::guarded(kClass, QStringLiteral("DecodeData()"), [&] {
        modGlobals::DebugPrint(QStringLiteral("Decoding: ") + modGlobals::DebugConvert(datagram));
        const SessionState &state = sessionState();
        const Payload payload =
            DecodePayload(datagram, m_connected, SeqNumOut, state.SequenceNumbersEnabled, state.passcode);
        if (payload.dropped) {
            modGlobals::DebugPrint(QStringLiteral("Ignored: not the answer to sequence %1").arg(SeqNumOut));
            return;
        }
        takePayload(payload);
    });
}

// ---- What the panel sends unasked ---------------------------------------------------------------

void clsEnhancedDirect::onReadyRead()
{
    // SendData reads its own answers; the reader also stays out while the port is not open.
    while (!m_inExchange && portOpen()) {
        const qint64 buffered = std::min<qint64>(m_port->bytesAvailable(), EnhancedEnvelope::HeaderSize + EnhancedEnvelope::MaxLength);
        const EnhancedEnvelope::Decoded envelope = EnhancedEnvelope::decode(m_port->peek(buffered));
        if (!envelope.complete)
            return; // the rest is still on its way
        if (envelope.result != 0) {
            modGlobals::DebugPrint(QStringLiteral("Dropped (bad envelope): ") + modGlobals::DebugConvert(m_port->peek(buffered)));
            m_port->clear(QSerialPort::Input);
            return;
        }
        m_port->skip(envelope.consumed);
        // Taken only while nothing else waits for an answer: no message in flight, or the
        // "Wait Command" of a net-ring wait. Anything else is a late answer to an earlier send.
        MessageQueue *queue = sessionState().messageQueue;
        const std::shared_ptr<clsMessage> current = queue ? queue->CurrentMessage() : nullptr;
        if (!queue || (current && current->Name() != kWaitCommand)) {
            modGlobals::DebugPrint(QStringLiteral("Dropped (unasked): ") + modGlobals::DebugConvert(envelope.datagram));
            continue;
        }
        NetResponded = false;
        m_inBuffer.clear();
        DecodeData(envelope.datagram);
        if (!NetResponded)
            continue;
        QByteArray payload = m_inBuffer;
        NetResponded = false;
        m_inBuffer.clear();
        queue->DataArrival(payload);
    }
}
