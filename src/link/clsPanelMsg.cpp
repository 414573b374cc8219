#include "link/clsPanelMsg.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "queue/MessageQueue.h"

namespace {

const QString kModule = QStringLiteral("clsPanelMsg");

constexpr std::uint8_t kLocalAddress = 0xE4;
constexpr std::uint8_t kRemoteAddress = 0x00;
constexpr std::uint8_t kLocalTarget = 0x7F;
constexpr std::uint8_t kRemoteTarget = 0xFF;

// The fixed form of execution commands (command 20): address, 9, 20, function, six data bytes,
// checksum.
constexpr int kExecCommand = 20;
constexpr int kExecLength = 11;
constexpr int kExecDataBytes = 6;

// The longest frame: the length byte counts at most 255 bytes after itself.
constexpr int kMaxFrameLength = 257;

constexpr int kNoAnswerFunction = 30;
constexpr std::int16_t kAnswerTimeOut = 12;

std::uint8_t toByte(std::int32_t value, const char *what)
{
    if (value < 0 || value > 255)
        raiseError(ErrorCode::Overflow, QStringLiteral("%1 %2 does not fit a byte").arg(QLatin1String(what)).arg(value));
    return static_cast<std::uint8_t>(value);
}

} // namespace

clsPanelMsg::clsPanelMsg(Token) {}

std::shared_ptr<clsPanelMsg> clsPanelMsg::create()
{
    auto msg = std::make_shared<clsPanelMsg>(Token{});
    errors::guarded(kModule, QStringLiteral("Class_Initialize()"), [&] {
        msg->TimeStamp = QDateTime::currentDateTime();
        msg->RetryMax = sessionState().config.numOfNaks;
        modGlobals::AddGUIDObject(msg);
    });
    return msg;
}

std::int16_t clsPanelMsg::computeLength()
{
    int length = 0;
    if (MsgType == 1)
        length = kExecLength;
    else
        length = 4 + (MsgParams.isEmpty() ? 0 : static_cast<int>(MsgParams.size()) - 1);
    if (length > kMaxFrameLength)
        raiseError(ErrorCode::Overflow,
                   QStringLiteral("frame of %1 bytes exceeds %2").arg(length).arg(kMaxFrameLength));
    m_lengthByte = static_cast<std::uint8_t>(length - 2);
    return static_cast<std::int16_t>(length);
}

std::int16_t clsPanelMsg::Length()
{
    return errors::guardedValue(kModule, QStringLiteral("Length[Get]"), std::int16_t(0), [&] { return computeLength(); });
}

QByteArray clsPanelMsg::buildFrame()
{
    // A raw message is its parameter bytes, untouched: no address, length or checksum.
    if (MsgFunction == 0)
        return MsgParams;

    std::uint8_t target = 0; // stays 0 without the host's settings object
    if (const std::shared_ptr<HostSettings> settings = sessionState().hostSettings)
        target = settings->HostDataMode() ? kRemoteTarget : kLocalTarget;

    const int length = computeLength();
    const int highest = MsgParams.isEmpty() ? 0 : static_cast<int>(MsgParams.size()) - 1;
    // The fixed form carries six data bytes; a seventh would be overwritten by the checksum and
    // more would not fit, so such parameters are refused rather than cut.
    if (MsgType == 1 && highest > kExecDataBytes)
        raiseError(ErrorCode::SubscriptOutOfRange,
                   QStringLiteral("%1 data bytes for a command that carries %2").arg(highest).arg(kExecDataBytes));

    QByteArray frame(length, '\0');
    frame[0] = static_cast<char>(m_address);
    frame[1] = static_cast<char>(m_lengthByte);
    frame[2] = static_cast<char>(m_command);
    frame[3] = static_cast<char>(MsgFunction);
    // With MsgType 0 the data start at byte 3 (replacing the function number); with MsgType 1 the
    // function number stays in byte 3 and the data start at byte 4.
    for (int i = 1; i <= highest; ++i)
        frame[i + 2 + MsgType] = MsgParams.at(i);

    const int last = m_lengthByte + 1;
    unsigned sum = 0;
    for (int i = 0; i < last; ++i)
        sum += static_cast<std::uint8_t>(frame.at(i));
    frame[last] = static_cast<char>((target - sum) & 0xFFu);
    return frame;
}

std::int32_t clsPanelMsg::makeOutput(QByteArray &frame)
{
    frame.clear();
    return errors::guarded(kModule, QStringLiteral("OutputBuffer[Get]"), [&] { frame = buildFrame(); });
}

QByteArray clsPanelMsg::OutputBuffer()
{
    QByteArray frame;
    makeOutput(frame);
    return frame;
}

std::int32_t clsPanelMsg::SendCmd(std::int32_t CommandNo, std::int32_t FunctionNo)
{
    std::int32_t frameError = 0;
    const std::int32_t rc = errors::guarded(kModule, QStringLiteral("SendCmd()"), [&] {
        SessionState &state = sessionState();
        // A command sent again after its earlier exchange completed (which removed it from the
        // registry) registers again, so the transport can find it under the new message's client.
        if (state.guidRegistry && !szGUID().isEmpty() && !state.guidRegistry->contains(szGUID()))
            state.guidRegistry->add(szGUID(), shared_from_this());
        if (state.hostSettings)
            m_address = state.hostSettings->HostDataMode() ? kRemoteAddress : kLocalAddress;
        m_command = toByte(CommandNo, "command number");
        MsgFunction = toByte(FunctionNo, "function number");
        MsgType = CommandNo == kExecCommand ? 1 : 0;
        TimeOut = FunctionNo == kNoAnswerFunction ? 0 : kAnswerTimeOut;

        // A frame that cannot be built is not queued: an empty message would go out in its place.
        frameError = makeOutput(OutputData);
        if (frameError != 0)
            return;

        queueMessage();
    });
    const std::int32_t result = frameError != 0 ? frameError : rc;
    if (result != 0)
        unregister();
    return result;
}

void clsPanelMsg::queueMessage()
{
    MessageQueue *queue = sessionState().messageQueue;
    if (!queue)
        return; // no session queue: the frame is built, nothing is sent

    const QString ownerGUID = Parent.isNull() ? QString() : Parent.szGUID();
    const QString ownerName = Parent.isNull() ? QString() : Parent.Name();
    const QVariant data = OutputData.isEmpty() ? QVariant() : QVariant(OutputData);
    const std::int32_t rc = queue->Add(szGUID(), ownerGUID, ownerName, QString(), Name, Priority, Auto, data);
    if (rc != 0)
        raiseError(rc);
    // A queue that failed or is closing takes nothing in; its Add returns 0 all the same, so ask
    // it, rather than let the caller wait for an answer to a message that does not exist.
    if (queue->queueFailed() || queue->isUnloading() || !queue->queueServer())
        raiseError(ErrorCode::SendRefused, QStringLiteral("the message queue takes no messages"));
}

void clsPanelMsg::unregister()
{
    // Nothing was queued, so nothing would ever remove the command: let it go now.
    SessionState &state = sessionState();
    if (state.guidRegistry && !szGUID().isEmpty() && state.guidRegistry->get(szGUID()).get() == this)
        state.guidRegistry->remove(szGUID());
}

void MsgOwner::check() const
{
    if (m_address == nullptr || (m_guarded && m_guard.isNull()))
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("the command's owner does not exist"));
}

QString MsgOwner::szGUID() const
{
    check();
    return m_guid();
}

QString MsgOwner::Name() const
{
    check();
    return m_name();
}
