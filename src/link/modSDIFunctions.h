// Data-item requests: read and write item blocks, ask for the item checksums and the data lock.
// Each builds one panel command (command 14, 15 or 18, function 26), hands it the owner, priority
// and automatic flag, and queues it. Every procedure returns 0 when the command was submitted,
// 0x80041389 when the queue refused it, or the number of any other error (a value outside a byte,
// more data than a frame carries); errors are reported under "modSDIFunctions".
#pragma once

#include <QByteArray>

#include <cstdint>

#include "link/clsPanelMsg.h"

namespace modSDIFunctions {

// "Request CRC": command 18, no data.
std::int32_t SDIRequestCRC(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

// "Write Item Block": command 14, data itemHigh, itemLow, then `data` in order. itemHigh and
// itemLow must lie in 0..255; `data` may hold at most 251 bytes (the frame's length limit).
std::int32_t SDIWriteItemBlock(int itemHigh, int itemLow, const QByteArray &data, const MsgOwner &frm,
                               std::int16_t iPriority, bool boolAuto);

// "Request Item Block": command 15, data itemHigh, itemLow (each 0..255).
std::int32_t SDIRequestItemBlock(int itemHigh, int itemLow, const MsgOwner &frm, std::int16_t iPriority,
                                 bool boolAuto);

// "Request Data Lock": command 15 for item 0:0.
std::int32_t SDIRequestDataLock(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto);

} // namespace modSDIFunctions
