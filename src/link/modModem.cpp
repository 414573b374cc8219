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
#include "link/modChecksums.h"
#include "link/modToolbox.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"

#include <QSerialPort>

#include <algorithm>

namespace {

const QString kModule = QStringLiteral("modModem");

// Command and function numbers whose answers have a shape of their own.
constexpr std::uint8_t kRefusedCommand = 2; // result code of a refusal (and of the NAK)
constexpr std::uint8_t kExecCommand = 20;
constexpr std::uint8_t kReadBlockCommand = 15;
constexpr std::uint8_t kCrcCommand = 18;
constexpr std::uint8_t kStatusFunction = 26;   // panel status and keep-alive
constexpr std::uint8_t kDateFunction = 33;
constexpr std::uint8_t kEventLogFunction = 19; // event index and event log
constexpr int kCrcItems = modToolbox::LastCrcItem + 1;
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

    // The request whose answer is awaited (see FrameScanner::expect); none: any valid frame.
    void expect(const QByteArray &request, int blockLength)
    {
        m_request = request;
        m_blockLength = blockLength;
    }
    // Waits for the first byte until `until` (monotonic ms) instead of the usual five seconds.
    void waitUntil(qint64 until) { m_until = until; }
    // Whether the panel answered in some form (a frame with a good or a bad checksum, a NAK, a
    // callback request), as opposed to silence, noise or frames that are not the answer.
    bool answered() const { return m_answered; }

    std::int32_t run(QByteArray &response)
    {
        using Event = modModem::FrameScanner::Event;
        SessionState &state = sessionState();
        modModem::FrameScanner scanner(m_transport.Remote());
        scanner.expect(m_request, m_blockLength);
        m_gatherMs = Timing::scaled(static_cast<qint64>(state.config.timeToGatherBody) * 1000);

        std::int32_t result = modModem::NoFrame;
        int badChecksums = 0;
        m_deadline = m_until > 0 ? m_until : after(5000);
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
            // A frame that turns out not to be the answer must not stretch the wait for it.
            const qint64 deadlineBefore = m_deadline;
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
            const Event event = scanner.take(body);
            m_answered = m_answered || event != Event::NotTheAnswer;
            switch (event) {
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
            case Event::NotTheAnswer:
                // A valid frame, but not this request's answer (an idle frame, a late answer to an
                // earlier request): dropped, and the wait goes on as if nothing had come, up to
                // the deadline silence would have had. A wait that sees only such frames ends as a
                // silent one does and the request is sent again.
                modGlobals::DebugPrint(QStringLiteral("Not the answer: ") + modGlobals::DebugConvert(scanner.frame()));
                m_deadline = deadlineBefore;
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
    QByteArray m_request;
    int m_blockLength = 0;
    bool m_answered = false;
    qint64 m_until = 0;
    qint64 m_gatherMs = 1000;
    qint64 m_deadline = 0;
    qint64 m_gather = 0;
    qint64 m_snapshot = 0;
    bool m_armed = false;
};

// Collects one frame; with a request, only a frame that can be its answer is taken. `answered`
// (when given) says whether the panel answered in any form (see FrameReceiver::answered).
std::int32_t receive(const Link &link, QByteArray &response, const QByteArray &request = {}, int blockLength = 0,
                     bool *answered = nullptr)
{
    response.clear();
    std::int32_t result = modModem::NoFrame;
    FrameReceiver receiver(link.port, *link.transport);
    receiver.expect(request, blockLength);
    const std::int32_t rc = errors::guarded(kModule, QStringLiteral("ReceiveResponse()"), [&] {
        QByteArray frame;
        result = receiver.run(frame);
        response = frame;
    });
    if (answered)
        *answered = receiver.answered();
    if (rc != 0) {
        response.clear();
        return rc;
    }
    return result;
}

// After an exchange in which the request went out again because a wait stayed silent, the answer
// taken may have been the one to an earlier transmission, and the panel may still answer the
// later ones. The line carries no sequence number, so such an answer would be taken for the next
// request's whenever the two look alike (two blocks of one length): it is waited for here and
// dropped, until `until` (monotonic ms): the panel takes about as long for each answer, so the last
// transmission is answered no later than the answer taken plus the time between the first and the
// last transmission (the caller adds a gather window for its jitter). Frames that cannot be it
// (the idle frame) are passed over; when the time is up, nothing more is owed.
void dropLateAnswers(const Link &link, const QByteArray &request, int blockLength, int owed, qint64 until)
{
    for (int i = 0; i < owed && Timing::nowMs() < until && isOpen(link.port) && !link.transport->AbortPending(); ++i) {
        FrameReceiver receiver(link.port, *link.transport);
        receiver.expect(request, blockLength);
        receiver.waitUntil(until);
        QByteArray late;
        try {
            // Silence here is no error of the exchange, which is complete: nothing is reported.
            if (receiver.run(late) != 0 || late.isEmpty())
                return;
        } catch (const std::exception &) {
            return;
        }
        modGlobals::DebugPrint(QStringLiteral("Late answer dropped: ") + modGlobals::DebugConvert(late));
    }
}

// The length of the block a block read asks for (request bytes 3 and 4: item and start), or 0
// for any other request and for a block the item map does not know.
int expectedBlockLength(const QByteArray &request)
{
    if (request.size() < 6 || static_cast<std::uint8_t>(request.at(2)) != kReadBlockCommand)
        return 0;
    return modToolbox::BlockLength(static_cast<std::uint8_t>(request.at(3)), static_cast<std::uint8_t>(request.at(4)));
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
    if (!m_request.isEmpty() && !Fits(m_request, m_frame, m_blockLength))
        return Event::NotTheAnswer;
    return Event::Frame;
}

void FrameScanner::expect(const QByteArray &request, int blockLength)
{
    m_request = request;
    m_blockLength = blockLength;
}

bool FrameScanner::Fits(const QByteArray &request, const QByteArray &answer, int blockLength)
{
    // Answer: address, length, command, data, checksum.
    if (answer.size() < 4)
        return false;
    if (request.size() < 4)
        return true;
    const auto byte = [](const QByteArray &b, qsizetype i) { return i < b.size() ? static_cast<std::uint8_t>(b.at(i)) : 0; };
    const std::uint8_t command = byte(answer, 2);
    const qsizetype data = answer.size() - 4;
    if (command == kRefusedCommand)
        return data >= 1;
    if (command != byte(request, 2))
        return false;
    switch (command) {
    case kExecCommand:
        switch (byte(request, 3)) {
        case kStatusFunction:
            return data >= 4;
        case kDateFunction:
            return data >= 6;
        case kEventLogFunction:
            // Request byte 4: 0 asks for the index (three words), anything else for log slots.
            return byte(request, 4) == 0 ? data >= 6 : data >= 4;
        default:
            return true;
        }
    case kReadBlockCommand:
        return blockLength > 0 ? data == blockLength : data >= 1;
    case kCrcCommand:
        return data >= 3 + 2 * kCrcItems && byte(answer, 3) == 0xFF && byte(answer, 4) == 0xFF && byte(answer, 5) == 0xE0;
    default:
        return true;
    }
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
        const int blockLength = expectedBlockLength(frame);
        // Transmissions whose wait ended without any answer: the panel may still answer them late.
        int unanswered = 0;
        qint64 firstSent = -1;
        qint64 lastSent = -1;
        qint64 answeredAt = -1;

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
                // Before a resend this may be the late answer to an earlier transmission: it is
                // dropped like the idle frame, and it is no longer owed, so nothing waits for it
                // once the exchange is done.
                if (pre == 0 && unanswered > 0 && FrameScanner::Fits(frame, discarded, blockLength)) {
                    --unanswered;
                    modGlobals::DebugPrint(QStringLiteral("Late answer dropped: ") + modGlobals::DebugConvert(discarded));
                }
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
            lastSent = Timing::nowMs();
            if (firstSent < 0)
                firstSent = lastSent;
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
            bool answered = false;
            result = receive(link, response, frame, blockLength, &answered);
            if (result != 0 && !answered)
                ++unanswered;
            if (result == 0)
                answeredAt = Timing::nowMs();
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
        if (MessageQueue *queue = sessionState().messageQueue)
            queue->ReceiveComplete();
        if (result == 0 && unanswered > 0)
            dropLateAnswers(link, frame, blockLength, unanswered,
                            answeredAt + (lastSent - firstSent)
                                + Timing::scaled(static_cast<qint64>(sessionState().config.timeToGatherBody) * 1000));
    });
    if (failure == 0)
        return result;

    // Any failure ends the session; the owner is not called.
    sessionState().LastErrorNumber = failure;
    modGlobals::Disconnect(false, 5);
    return failure;
}

} // namespace modModem
