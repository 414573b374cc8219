// The synchronisation of the panel's programming with the host's copy: the check that follows a
// connection (and CommSendReceive), the transfer the operator or an unattended job chooses, and the
// unattended start of the check.
#pragma once

#include <QList>

#include <cstdint>

class SyncCheck;

namespace modToolbox {

// Opens the check: tells the host a window opens (event 6) and creates a SyncCheck (with its hidden
// "Panel Sync" window when an operator is there). With HostDataMode it asks the panel for its item
// CRCs on the check's behalf (the check goes on when the answer comes); without it the check asks
// for the operator at once and every item counts as changed. Returns 0, 0x8004138B when an abort is pending, or 0x80041389 when there is no session
// or the request cannot be queued.
std::int32_t CheckPanelSyncronization();

// Carries out a choice of the window: mode 0 changes nothing (event 7, or the end of the session
// on a local line); mode 1 receives, mode 2 sends every item flagged in `SyncList` (all items when
// it is empty) block by block under a DataTransfer (and its window when an operator is there),
// bracketed by the exclusive-mode commands when `bExclusive`. Returns 0 or the error number; an error ends the session.
std::int32_t PerformPanelSyncronization(std::int16_t Mode, const QList<bool> &SyncList, bool bExclusive);

} // namespace modToolbox

namespace modUnattended {

// Queues the CRC request with `check` as its owner and the queue argument as its priority; the
// check carries out its preset mode when the answer shows a difference. Returns 0 or the error
// number.
std::int32_t UnattendedSyncStartup(SyncCheck *check, std::int16_t queueArgument);

} // namespace modUnattended
