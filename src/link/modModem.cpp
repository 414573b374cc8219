#include "link/modModem.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/GuidRegistry.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "external/BitOps.h"
#include "link/SerialIo.h"
#include "link/SerialTransport.h"
#include "link/clsPanelMsg.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/frmMsgQueue.h"

#include <QSerialPort>

#include <algorithm>

namespace {

const QString kModule = QStringLiteral("modModem");
const QString kPasscodeVerification = QStringLiteral("Passcode Verification");
const QString kPanelGoodbye = QStringLiteral("Panel Goodbye");

// Longest single wait for input (real ms). Nothing but input can change during the exchange, so
// this only bounds how late a deadline is noticed.
constexpr qint64 kSliceMs = 100;

struct Link
{
    std::shared_ptr<IControlType> transport;
    QSerialPort *port = nullptr;
};

Link currentLink()
{
    Link link;
    link.transport = sessionState().currentTransport;
    auto *modem = dynamic_cast<SerialTransport *>(link.transport.get());
    if (!modem)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("no serial transport"));
    link.port = modem->CommControl();
    return link;
}

bool isOpen(QSerialPort *port)
{
    return port && port->isOpen();
}

[[noreturn]] void portClosed()
{
    raiseError(ErrorCode::Aborted, QStringLiteral("the serial port closed"));
}

void requireOpen(QSerialPort *port)
{
    if (!isOpen(port))
        portClosed();
}

// Waits up to `ms` real milliseconds for new input. A port whose device vanished is closed and
// ends the wait with the port-closed error; a wait that returns early without data sleeps out its
// slice so the caller's loop never spins.
void waitForInput(QSerialPort *port, qint64 ms)
{
    requireOpen(port);
    if (SerialIo::waitForInput(port, std::clamp<qint64>(ms, 1, kSliceMs)) == SerialIo::Wait::Lost) {
        if (port->isOpen())
            port->close();
        portClosed();
    }
}

void writeBytes(QSerialPort *port, const QByteArray &bytes)
{
    requireOpen(port);
    switch (SerialIo::writeAll(port, bytes, 2000, kSliceMs)) {
    case SerialIo::Write::Done:
        return;
    case SerialIo::Write::Stuck:
        raiseError(ErrorCode::Aborted, QStringLiteral("the serial port does not take the frame"));
    case SerialIo::Write::Lost:
        if (port->isOpen())
            port->close();
        portClosed();
    case SerialIo::Write::Refused:
        portClosed();
    }
}

void clearInput(QSerialPort *port)
{
    requireOpen(port);
    port->clear(QSerialPort::Input);
}

std::uint8_t readByte(QSerialPort *port)
{
    char c = 0;
    if (port->read(&c, 1) != 1)
        raiseError(ErrorCode::PanelNak, QStringLiteral("buffered byte could not be read"));
    return static_cast<std::uint8_t>(c);
}

// The three-stage collection of one answer frame (address, length, body), with the gather windows
// and deadlines of the panel link. All times are real milliseconds on the monotonic clock.
class FrameReceiver
{
public:
    FrameReceiver(QSerialPort *port, const IControlType &transport)
        : m_port(port), m_transport(transport)
    {
    }

    std::int32_t run(QByteArray &response)
    {
        using Event = modModem::FrameScanner::Event;
        SessionState &state = sessionState();
        modModem::FrameScanner scanner(m_transport.Remote());
        m_gatherMs = Timing::scaled(static_cast<qint64>(state.config.timeToGatherBody) * 1000);

        std::int32_t result = modModem::NoFrame;
        int badChecksums = 0;
        m_deadline = after(5000);
        requireOpen(m_port);
        m_snapshot = m_port->bytesAvailable();
        m_armed = false;

        do {
            // Stage 1: wait for the address byte; anything else before it is skipped.
            if (!m_armed) {
                m_armed = true;
                m_gather = now() + m_gatherMs;
            }
            const qint64 count = available();
            const qint64 quietLimit = m_gather + Timing::scaled(6000);
            if (count == m_snapshot && now() >= quietLimit) {
                modGlobals::DebugPrint(QStringLiteral("Exit No input(Wait for Address)."));
                raiseError(ErrorCode::PanelNak);
            }
            if (now() > m_deadline)
                raiseError(ErrorCode::PanelNak);
            if (count < 1 || badChecksums > 5) {
                waitForInput(m_port, std::min(m_deadline + 1, quietLimit) - now());
                continue;
            }
            m_deadline = after(60000);
            scanner.reset();
            if (scanner.take(QByteArray(1, static_cast<char>(readByte(m_port)))) == Event::Skipped)
                continue;

            // Stage 2: the length byte.
            if (!gather(1, QStringLiteral("length")))
                continue;
            if (scanner.take(QByteArray(1, static_cast<char>(readByte(m_port)))) == Event::Malformed) {
                // No frame has length 0: the answer is malformed, never something to read on from.
                modGlobals::DebugPrint(QStringLiteral("Exit malformed frame (length 0)."));
                raiseError(ErrorCode::PanelNak, QStringLiteral("answer frame with length 0"));
            }

            // Stage 3: the body (command, data, checksum).
            const int length = scanner.need();
            if (!gather(length, QStringLiteral("body")))
                continue;
            const QByteArray body = m_port->read(length);
            if (body.size() != length)
                raiseError(ErrorCode::PanelNak, QStringLiteral("answer shorter than its length byte"));
            switch (scanner.take(body)) {
            case Event::BadChecksum:
                m_deadline = after(1000);
                ++badChecksums;
                break;
            case Event::Nak:
                modGlobals::DebugPrint(QStringLiteral("NAK!"));
                Timing::sleep(state.config.sendAgainPauseTime);
                raiseError(ErrorCode::PanelNak);
            case Event::CallbackRequest:
                // Honoured once per session; later ones are plain answers.
                if (!state.CallbackSession) {
                    state.CallbackSession = true;
                    raiseError(ErrorCode::CallbackRequested);
                }
                response = scanner.frame();
                result = 0;
                break;
            default:
                response = scanner.frame();
                result = 0;
                break;
            }
        } while (now() <= m_deadline && result != 0 && !m_transport.AbortPending());
        return result;
    }

private:
    static qint64 now() { return Timing::nowMs(); }
    static qint64 after(qint64 protocolMs) { return now() + Timing::scaled(protocolMs); }
    qint64 available() const
    {
        requireOpen(m_port);
        return m_port->bytesAvailable();
    }

    // Waits until `need` bytes are buffered while bytes keep arriving: every gather window must
    // bring something new. False when the overall deadline passed first.
    bool gather(qint64 need, const QString &stage)
    {
        m_snapshot = available();
        m_armed = false;
        while (available() < need) {
            if (!m_armed) {
                m_armed = true;
                m_gather = now() + m_gatherMs;
            }
            const qint64 count = available();
            if (count == m_snapshot && now() >= m_gather) {
                modGlobals::DebugPrint(QStringLiteral("Exit No input(Wait for ") + stage + QStringLiteral(")."));
                raiseError(ErrorCode::PanelNak);
            }
            if (now() >= m_gather) {
                m_snapshot = count;
                m_gather = now() + m_gatherMs;
            }
            if (now() > m_deadline) {
                modGlobals::DebugPrint(QStringLiteral("Exit because timeout(Wait for ") + stage + QStringLiteral(")."));
                break;
            }
            waitForInput(m_port, std::min(m_gather, m_deadline + 1) - now());
        }
        return available() >= need;
    }

    QSerialPort *m_port;
    const IControlType &m_transport;
    qint64 m_gatherMs = 1000;
    qint64 m_deadline = 0;
    qint64 m_gather = 0;
    qint64 m_snapshot = 0;
    bool m_armed = false;
};

std::int32_t receive(const Link &link, QByteArray &response)
{
    response.clear();
    std::int32_t result = modModem::NoFrame;
    const std::int32_t rc = errors::guarded(kModule, QStringLiteral("ReceiveResponse()"), [&] {
        FrameReceiver receiver(link.port, *link.transport);
        QByteArray frame;
        result = receiver.run(frame);
        response = frame;
    });
    if (rc != 0) {
        response.clear();
        return rc;
    }
    return result;
}

} // namespace

namespace modModem {

FrameScanner::FrameScanner(bool remote)
    : m_remote(remote),
      m_address(remote ? RemoteAddress : LocalAnswerAddress),
      m_target(remote ? RemoteAnswerTarget : LocalAnswerTarget)
{
}

int FrameScanner::need() const
{
    return m_stage == Stage::Body ? m_length : 1;
}

void FrameScanner::reset()
{
    m_stage = Stage::Address;
    m_length = 0;
}

FrameScanner::Event FrameScanner::take(const QByteArray &bytes)
{
    if (bytes.size() != need()) {
        reset();
        return Event::Malformed;
    }
    switch (m_stage) {
    case Stage::Address:
        if (static_cast<std::uint8_t>(bytes.at(0)) != m_address)
            return Event::Skipped;
        m_stage = Stage::Length;
        return Event::NeedMore;
    case Stage::Length:
        m_length = static_cast<std::uint8_t>(bytes.at(0));
        if (m_length == 0) {
            reset();
            return Event::Malformed;
        }
        m_stage = Stage::Body;
        return Event::NeedMore;
    case Stage::Body:
        break;
    }
    m_frame.clear();
    m_frame.reserve(m_length + 2);
    m_frame.append(static_cast<char>(m_address));
    m_frame.append(static_cast<char>(m_length));
    m_frame.append(bytes);
    reset();
    return classify();
}

FrameScanner::Event FrameScanner::classify()
{
    unsigned sum = 0;
    for (const char b : std::as_const(m_frame))
        sum += static_cast<std::uint8_t>(b);
    const auto at = [this](int i) { return static_cast<std::uint8_t>(m_frame.at(i)); };
    const int length = at(1);
    if ((sum & 0xFF) != m_target)
        return Event::BadChecksum;
    if (length == 2 && at(2) == 2)
        return Event::Nak;
    if (m_remote && length == 3 && at(2) == 3 && BitOps::And(at(3), 0x08) != 0)
        return Event::CallbackRequest;
    return Event::Frame;
}

std::int32_t ReceiveResponse(QByteArray &response)
{
    response.clear();
    Link link;
    const std::int32_t rc = errors::guarded(kModule, QStringLiteral("ReceiveResponse()"), [&] { link = currentLink(); });
    if (rc != 0)
        return rc;
    return receive(link, response);
}

std::int32_t SendCmd(clsMessage &message)
{
    std::int32_t result = 0;
    const std::int32_t failure = errors::guarded(kModule, QStringLiteral("SendCmd()"), [&] {
        const Link link = currentLink();
        IControlType &transport = *link.transport;
        const auto command = std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(message.ClientGUID()));
        if (!command)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("the message's command is gone"));
        const QByteArray frame = command->OutputData;
        const int highestIndex = static_cast<int>(frame.size()) - 1;

        for (;;) {
            clearInput(link.port);
            if ((transport.Remote() && !transport.Connected())
                || (transport.AbortPending() && command->Name != kPanelGoodbye))
                raiseError(ErrorCode::SendRefused);
            if (!transport.Remote()) {
                // The local line: take in what the panel sent meanwhile (its idle frame) first.
                QByteArray discarded;
                const std::int32_t pre = receive(link, discarded);
                if (pre == NoFrame)
                    raiseError(ErrorCode::NoValidFrame);
                requireOpen(link.port);
            }

            if (highestIndex <= SingleWriteMaxIndex) {
                clearInput(link.port);
                writeBytes(link.port, frame);
            } else {
                for (const char b : frame) {
                    clearInput(link.port);
                    writeBytes(link.port, QByteArray(1, b));
                }
            }
            modGlobals::DebugPrint(QStringLiteral("Send: ") + modGlobals::DebugConvert(frame));
            if (command->MsgType != 0)
                modGlobals::AddLogEntry(modGlobals::GetCatalogString(329), frame);
            else
                modGlobals::AddLogEntry(modGlobals::GetCatalogString(328), frame);

            if (command->TimeOut == 0 || transport.AbortPending()) {
                result = 0;
                break;
            }

            QByteArray response;
            result = receive(link, response);
            if (!response.isEmpty()) {
                message.setData(QByteArray(response));
                modGlobals::DebugPrint(QStringLiteral("Receive: ") + modGlobals::DebugConvert(response));
                modGlobals::AddLogEntry(modGlobals::GetCatalogString(330), response);
            }
            if (result == 0)
                break;
            // A vanished port is not worth a retry.
            requireOpen(link.port);

            ++command->RetryCount;
            if (command->RetryCount > command->RetryMax) {
                modGlobals::AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(331), QStringLiteral("MAX"),
                                                                    QString::number(command->RetryMax)));
                raiseError(command->Name == kPasscodeVerification ? ErrorCode::PasscodeFailed
                                                                  : ErrorCode::RetriesExhausted);
            }
            if (result == ErrorCode::CallbackRequested) {
                command->CallBackFlag = true;
                break;
            }
            if (transport.AbortPending())
                break;
            modGlobals::AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(333), QStringLiteral("COUNT"),
                                                                QString::number(command->RetryCount)));
            modGlobals::DebugPrint(QStringLiteral("Retry %1").arg(command->RetryCount));
        }

        if (const auto owner = std::dynamic_pointer_cast<ResponseReceiver>(modGlobals::GetGUIDObject(message.OwnerGUID())))
            owner->ResponseReceived(message);
        if (frmMsgQueue *queue = sessionState().queueWindow)
            queue->ReceiveComplete();
    });
    if (failure == 0)
        return result;

    // Any failure ends the session; the owner is not called.
    sessionState().LastErrorNumber = failure;
    modGlobals::Disconnect(false, 5);
    return failure;
}

} // namespace modModem
