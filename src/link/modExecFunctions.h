// Execution requests (command 20; "Null Command" and "Wait Command" are raw, function 0). Each
// builds one panel command, hands it the owner, priority and automatic flag, and queues it. Every
// procedure returns 0 when the command was submitted, 0x80041389 when the queue refused it, or the
// number of any other error; errors are reported under "modExecFunctions". The command names are
// what the queue, the transports and the connection handshake key on.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

#include "link/clsPanelMsg.h"

namespace modExecFunctions {

// "Null Command": a raw command whose frame is exactly `data` (e.g. the bytes of "LANVesk").
std::int32_t SMNullCommand(const QByteArray &data, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Wait Command": never transmitted; the queue only arms its answer time-out.
std::int32_t SMWaitCommand(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Set Event Index" (function 20): index high byte, low byte.
std::int32_t SMSetEventIndex(std::uint16_t index, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Request Event Log" (function 19): 1, index high byte, low byte.
std::int32_t SMReqEventLog(std::uint16_t index, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Request Event Index" (function 19): 0.
std::int32_t SMReqEventIndex(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Panel Goodbye" (function 30, no answer awaited): the goodbye code (0 plain, 1 reset the panel).
// The caller passes the session result as the priority; the goodbye processing reads it back.
std::int32_t SMPanelGoodbye(std::uint8_t goodbyeCode, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Passcode Verification" (function 32): five bytes, each pair of passcode characters read as a
// hexadecimal byte (the leading hexadecimal digits of the pair, 0 when there are none); bytes not
// filled stay 0. A passcode of more than ten characters is refused (SubscriptOutOfRange).
std::int32_t SMPasscode(const QString &passcode, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Request Panel Status" (function 26), with Abort set.
std::int32_t SMReqPanelStatus(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Request Panel Date" (function 33).
std::int32_t SMReqPanelDateTime(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Keep Alive" (function 26).
std::int32_t SMHeartBeat(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Change Panel Date" (function 22): the six date and time bytes in order.
std::int32_t SMChangeDateTime(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5,
                              std::uint8_t b6, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Exclusive Command" (function 40): 255 to enter exclusive mode, 0 to leave it.
std::int32_t SMExclusiveCommand(bool on, const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

} // namespace modExecFunctions
