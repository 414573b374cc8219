// The event-history blocks the host receives (event 13) decoded into records: each event is a main
// slot, a time-stamp slot and, when the slot after those starts with F0 or more, a modifier slot;
// a slot that is no valid event stands alone. The same checks as the history window's decide what
// is valid, so the records match the count the window reports with "HISTORY_END".
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>

namespace history {

// The records of one block. `firstSlot` numbers the block's first slot within the retrieval (slots
// counted from the first one the retrieval handed over); a record's "slot" is its first slot.
// Fields: "slot", "event" (the main slot's four bytes in hex), "valid"; for a valid event also
// "month", "day", "hour", "minute" and "modifier" (the modifier slot in hex, or null).
QList<QJsonObject> decodeBlock(const QByteArray &block, int firstSlot);

// The slots a block holds (its bytes / 4).
inline int slotsOf(const QByteArray &block) { return static_cast<int>(block.size() / 4); }

} // namespace history
