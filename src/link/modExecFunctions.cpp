#include "link/modExecFunctions.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"

namespace modExecFunctions {

namespace {

const QString kModule = QStringLiteral("modExecFunctions");

constexpr std::int32_t kExec = 20;

constexpr std::int32_t kRaw = 0;
constexpr std::int32_t kReqEventLog = 19;
constexpr std::int32_t kSetEventIndex = 20;
constexpr std::int32_t kChangeDateTime = 22;
constexpr std::int32_t kPanelStatus = 26;
constexpr std::int32_t kGoodbye = 30;
constexpr std::int32_t kPasscode = 32;
constexpr std::int32_t kPanelDateTime = 33;
constexpr std::int32_t kExclusive = 40;

constexpr int kPasscodeBytes = 5;

struct Request
{
    QByteArray params; // as MsgParams: element 0 unsent, except for raw commands
    QString name;
    QString description;
    std::int32_t function = 0;
    bool abort = false;
    bool noAnswer = false;
};

// Fills in a new command and queues it; a refusal becomes SendRefused.
void submit(const Request &r, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    const std::shared_ptr<clsPanelMsg> msg = clsPanelMsg::create();
    if (!r.params.isEmpty())
        msg->MsgParams = r.params;
    msg->Name = r.name;
    msg->Description = r.description;
    msg->Priority = iPriority;
    msg->Auto = boolAuto;
    msg->Abort = r.abort;
    msg->Parent = frm;
    if (r.noAnswer)
        msg->TimeOut = 0;
    if (msg->SendCmd(kExec, r.function) != 0)
        raiseError(ErrorCode::SendRefused);
}

// Parameter bytes with the unsent element 0 in front.
QByteArray params(std::initializer_list<std::uint8_t> bytes)
{
    QByteArray out(1, '\0');
    for (std::uint8_t b : bytes)
        out.append(static_cast<char>(b));
    return out;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// The value of the leading hexadecimal digits of `pair` (0 when it starts with none).
std::uint8_t hexPair(const QString &pair)
{
    int value = 0;
    for (QChar c : pair) {
        const int d = hexDigit(c);
        if (d < 0)
            break;
        value = value * 16 + d;
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::int32_t SMNullCommand(const QByteArray &data, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMNullCommand()"), [&] {
        // Raw: the frame is the data as they stand, every byte of them.
        submit({data, QStringLiteral("Null Command"),
                QStringLiteral("EXEC - Null Command: Send ") + modGlobals::DebugConvert(QVariant(data)), kRaw},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMWaitCommand(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMWaitCommand()"), [&] {
        submit({QByteArray(), QStringLiteral("Wait Command"), QStringLiteral("EXEC - Wait Command"), kRaw}, frm,
               iPriority, boolAuto);
    });
}

std::int32_t SMSetEventIndex(std::uint16_t index, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMSetEventIndex()"), [&] {
        submit({params({modGlobals::HiByte(index), modGlobals::LoByte(index)}), QStringLiteral("Set Event Index"),
                QStringLiteral("EXEC - Set Event Index"), kSetEventIndex},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMReqEventLog(std::uint16_t index, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMReqEventLog()"), [&] {
        submit({params({1, modGlobals::HiByte(index), modGlobals::LoByte(index)}),
                QStringLiteral("Request Event Log"), QStringLiteral("EXEC - Request Event Log %1").arg(index),
                kReqEventLog},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMReqEventIndex(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMReqEventIndex()"), [&] {
        submit({params({0}), QStringLiteral("Request Event Index"), QStringLiteral("EXEC - Request Event Log Indexes"),
                kReqEventLog},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMPanelGoodbye(std::uint8_t goodbyeCode, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMPanelGoodbye()"), [&] {
        Request r{params({goodbyeCode}), QStringLiteral("Panel Goodbye"),
                  QStringLiteral("EXEC - Disconnect from the Panel"), kGoodbye};
        r.noAnswer = true;
        submit(r, frm, iPriority, boolAuto);
    });
}

std::int32_t SMPasscode(const QString &passcode, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMPasscode()"), [&] {
        // Two characters per byte into five bytes; a longer passcode does not fit and is refused
        // rather than cut.
        const qsizetype pairs = (passcode.size() + 1) / 2;
        if (pairs > kPasscodeBytes)
            raiseError(ErrorCode::SubscriptOutOfRange,
                       QStringLiteral("passcode of %1 characters exceeds %2 bytes").arg(passcode.size()).arg(kPasscodeBytes));
        QByteArray bytes(1 + kPasscodeBytes, '\0');
        for (qsizetype i = 0; i < pairs; ++i)
            bytes[1 + i] = static_cast<char>(hexPair(passcode.mid(i * 2, 2)));
        submit({bytes, QStringLiteral("Passcode Verification"), QStringLiteral("EXEC - Verifying Passcode ") + passcode,
                kPasscode},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMReqPanelStatus(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMReqPanelStatus()"), [&] {
        Request r{QByteArray(), QStringLiteral("Request Panel Status"), QStringLiteral("EXEC - Request Panel Status"),
                  kPanelStatus};
        r.abort = true;
        submit(r, frm, iPriority, boolAuto);
    });
}

std::int32_t SMReqPanelDateTime(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMReqPanelDateTime()"), [&] {
        submit({QByteArray(), QStringLiteral("Request Panel Date"), QStringLiteral("EXEC - Request Panel Date and Time"),
                kPanelDateTime},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMHeartBeat(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMHeartBeat()"), [&] {
        // The interval in seconds, written as a plain decimal ("20", or "2.5" for 2500 ms).
        const double seconds = sessionState().config.hbInterval / 1000.0;
        submit({QByteArray(), QStringLiteral("Keep Alive"),
                QStringLiteral("EXEC - Heartbeat sent every ") + QString::number(seconds, 'g', 15) +
                    QStringLiteral(" seconds"),
                kPanelStatus},
               frm, iPriority, boolAuto);
    });
}

std::int32_t SMChangeDateTime(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5,
                              std::uint8_t b6, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMChangeDateTime()"), [&] {
        const QString text = QStringLiteral("EXEC - Change Panel Date and Time to %1/%2/%3 %4:%5 %6")
                                 .arg(b1)
                                 .arg(b2)
                                 .arg(b3)
                                 .arg(b4)
                                 .arg(b5)
                                 .arg(b6);
        submit({params({b1, b2, b3, b4, b5, b6}), QStringLiteral("Change Panel Date"), text, kChangeDateTime}, frm,
               iPriority, boolAuto);
    });
}

std::int32_t SMExclusiveCommand(bool on, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SMExclusiveCommand()"), [&] {
        submit({params({static_cast<std::uint8_t>(on ? 255 : 0)}), QStringLiteral("Exclusive Command"),
                QStringLiteral("EXEC - Exclusive ") + (on ? QStringLiteral("ON") : QStringLiteral("OFF")), kExclusive},
               frm, iPriority, boolAuto);
    });
}

} // namespace modExecFunctions
