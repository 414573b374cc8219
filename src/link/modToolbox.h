// Moving panel data between the host's copy (HostPif) and the panel, block by block, and the two
// routine answers of a session: the keep-alive (panel event counter) and the goodbye.
//
// The panel's programming is cut into 19 items and 213 transfer blocks (the item map). Blocks of
// one item are consecutive; within an item the start record grows by a fixed step:
//
//   item  blocks  start step  block bytes      item  blocks  start step  block bytes
//     0      1        -          2               10     4        16         128
//     1      8        1        75 / 78           11     1         -         128
//     2      1        -         72               12     4        20          80
//     3      1        -         30               13    50         5          40
//     4      1        -         72               14     1         -         104
//     5      4        4        112               15     1         -          72
//     6      1        -        183               16     1         -         144
//     7      2       16        128               17    50         5          60
//     8     31        8        112               18    50         5         100
//     9      1        -        104
//
// Item 1 blocks are 75 bytes on panel types 1-6 and 37-39 and 78 bytes on types 49-51; for any
// other type the block lengths are unknown and block transfers fail.
#pragma once

#include <QByteArray>
#include <QList>
#include <QVector>

#include <cstdint>
#include <functional>
#include <optional>

#include "link/clsPanelMsg.h"

class clsMessage;

// The connection as the goodbye processing uses it (PanelConnection implements it): it waits for
// the panel's call-back and answers it.
class AutoAnswerDialog
{
public:
    virtual ~AutoAnswerDialog() = default;
    virtual std::int32_t AutoAnswer() = 0;
};

namespace modToolbox {

constexpr int ItemCount = 19;
constexpr int BlockCount = 213;

// Fills the item map: ItemOf, StartOf and BlockLen per block (0..212), BlockCount per item
// (0..18). BlockLen is left empty for a panel type (HostSettings::PanelType) without known
// block lengths.
void GetItemMap(QVector<std::int16_t> &ItemOf, QVector<std::int16_t> &StartOf, QVector<std::int16_t> &BlockLen,
                QVector<std::int16_t> &BlockCount);

// The shape of one item as the blocks cut it, for a host that keeps the item's bytes: a record is
// a block's length divided by the start-record step (an item of one block is one record), so the
// block (item, start) covers the bytes from start x recordSize on, and the item holds
// blocks x blockLength bytes.
struct ItemGeometry
{
    std::int16_t blocks = 0;
    std::int16_t startStep = 0; // 0 for an item of one block
    std::int16_t blockLength = 0;
    std::int32_t recordSize = 0;
    std::int32_t records = 0;
    std::int32_t bytes = 0;
};

// The geometry of item `item` (0..18) on a panel of type `panelType`; none for another item number
// or a panel type without known block lengths.
std::optional<ItemGeometry> itemGeometry(int item, std::int32_t panelType);

// The length in bytes of the block that starts at record `start` of item `itemNo`, or 0 when the
// item map has no such block or the panel type (HostSettings::PanelType) has no known lengths.
std::int16_t BlockLength(std::int16_t itemNo, std::int16_t start);

// Writes (PanelSend) or requests (PanelReceive) every block of item `itemNo` (-1: all items), in
// block order, as "Write Item Block" / "Request Item Block" commands owned by `owner` (priority 5,
// not automatic). Pending events run before each block; an abort of the transport (AbortPending or
// AbortWorkInProgress) stops the loop. Returns 0, or the first error (a refused command, a panel
// type without block lengths).
std::int32_t PanelSend(std::int16_t itemNo, const MsgOwner &owner);
std::int32_t PanelReceive(std::int16_t itemNo, const MsgOwner &owner);

// Stores the data bytes of an item-block answer frame (between the command byte and the checksum)
// at (itemNo, start) of the host's panel data. A frame too short to hold its length byte's data
// is refused (error, nothing stored).
std::int32_t InsertResponse(const QByteArray &answer, std::int16_t itemNo, std::int16_t start);

// Reads the panel event counter (bytes 14 low, 15 high) of a keep-alive answer. A new non-zero
// count opens the panel-event warning (DisplayPanelEventForm) unless the operator chose to ignore
// further warnings. Answers shorter than 16 bytes carry no counter and are ignored. Returns 0.
std::int32_t ProcessKeepAlive(const QByteArray &answer);
// The last counter a keep-alive reported (0 at start), and a reset for a new session.
std::int32_t LastPanelEventCount();
void ResetPanelEventCount();

// Ends the session after the "Panel Goodbye": closes the link; in a call-back session answers the
// panel's call (the connection dialog's AutoAnswer); otherwise tells the host (event 3: in
// unattended sessions the result carried as the message's priority, "SUCCESS", "FAILURE",
// "ABORTED" or "UNKNOWN", else "USERDISCONNECTING" unless an abort is pending or a connection
// attempt failed, which the connection dialog reports) and unloads the message queue. Returns 0 or
// the error number.
std::int32_t ProcessPanelGoodbye(clsMessage &msg);

// How the goodbye reaches the connection's AutoAnswer. By default SessionState's connection is
// asked for its AutoAnswerDialog; replaceable (tests).
using AutoAnswerCall = std::function<std::int32_t()>;
void setAutoAnswerCall(AutoAnswerCall call);

// Ticks box b - 8 for each set bit b = 15 .. 8 of eventWord, clears it otherwise; bits 0-7 are not
// shown. Missing boxes are skipped. A box is anything with setChecked(bool) (the warning window's
// check boxes), so the link needs no window classes.
template <typename Box>
void UpdatePanelEventForm(const QList<Box *> &boxes, std::int32_t eventWord)
{
    for (int bit = 15; bit >= 8; --bit) {
        if (Box *box = boxes.value(bit - 8, nullptr))
            box->setChecked(((eventWord >> bit) & 1) != 0);
    }
}

} // namespace modToolbox
