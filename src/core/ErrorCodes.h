// Every error number of the component, one named constant each. They lie in the object-error range
// (base 0x80040000, numbers 5000 and up); results are 32-bit signed.
#pragma once

#include <cstdint>

namespace ErrorCode {

constexpr std::int32_t fromHex(std::uint32_t v) { return static_cast<std::int32_t>(v); }

constexpr std::int32_t Success = 0;

constexpr std::int32_t PasscodeFailed = fromHex(0x80041388);        // 5000 passcode step failed
constexpr std::int32_t SendRefused = fromHex(0x80041389);           // 5001 refused / not submitted / empty answer
constexpr std::int32_t Aborted = fromHex(0x8004138B);               // 5003 AbortPending, or port closed while waiting
constexpr std::int32_t ModemResetFailed = fromHex(0x8004138D);      // 5005 reset not accepted after four attempts
constexpr std::int32_t PanelNak = fromHex(0x8004138E);              // 5006 NAK, or malformed enhanced-direct envelope
constexpr std::int32_t PortPrepFailed = fromHex(0x80041392);        // 5010 port could not be prepared
constexpr std::int32_t ModemNoAnswer = fromHex(0x80041393);         // 5011 no expected modem answer in time
constexpr std::int32_t ModemNoCarrier = fromHex(0x80041395);        // 5013 "NO CARRIER"
constexpr std::int32_t ModemInitRejected = fromHex(0x80041396);     // 5014 init string rejected
constexpr std::int32_t NoValidFrame = fromHex(0x80041398);          // 5016 local line: receive before send found no frame
constexpr std::int32_t DataLockMismatch = fromHex(0x80041399);      // 5017 no data-lock entry matches
constexpr std::int32_t PanelStatusMismatch = fromHex(0x8004139A);   // 5018 status byte 6 not the expected value
constexpr std::int32_t CallbackRequested = fromHex(0x8004139B);     // 5019 panel asks for a callback
constexpr std::int32_t ConnectFailed = fromHex(0x8004139C);         // 5020 Connect/Answer failed in the workflow
constexpr std::int32_t BadChecksum = fromHex(0x800413A0);           // 5024 answer checksum wrong
constexpr std::int32_t RetriesExhausted = fromHex(0x800413A1);      // 5025 retried more often than allowed
constexpr std::int32_t NoCharacter = fromHex(0x800413A2);           // 5026 no character within the wait
constexpr std::int32_t NoCompleteAnswer = fromHex(0x800413A7);      // 5031 enhanced direct / network probe timed out
constexpr std::int32_t AddressCheckFailed = fromHex(0x800413A9);    // 5033 network address check failed
constexpr std::int32_t NoRing = fromHex(0x800413AA);                // 5034 no "RING" within the callback wait
constexpr std::int32_t ModemBusy = fromHex(0x800413AB);             // 5035 "BUSY"
constexpr std::int32_t InactivityDisconnect = fromHex(0x800413AC);  // 5036 inactivity answer 7
constexpr std::int32_t EnhancedRetries = fromHex(0x800413B0);       // 5040 enhanced-direct probe retried too often
constexpr std::int32_t EnhancedLengthTooLong = fromHex(0x800413B3); // 5043 enhanced-direct length above 255
constexpr std::int32_t NotImplemented = fromHex(0x80004001);          // an operation this build does not offer yet
constexpr std::int32_t ConnectionQueryFailed = fromHex(0x80041450);  // 5200 the host's connection-type query failed

// Errors the component raises for faults of its own that have no number in the protocol tables.
constexpr std::int32_t InvalidArgument = 5;      // a value that does not fit its field
constexpr std::int32_t Overflow = 6;             // arithmetic overflow
constexpr std::int32_t SubscriptOutOfRange = 9;  // an index outside its array
constexpr std::int32_t TypeMismatch = 13;        // a text that is not a number, a wrong kind of value
constexpr std::int32_t ObjectRequired = 424;     // an object that is not there
constexpr std::int32_t FileNotFound = 53;
constexpr std::int32_t PathNotFound = 76;
constexpr std::int32_t PermissionDenied = 70;    // a log path holds a link or another kind of file
constexpr std::int32_t KeyNotFound = 5;          // a registry key that does not exist (procedure call error)
constexpr std::int32_t AlreadyExists = 183;      // a shared-memory record of that name exists already
constexpr std::int32_t BadRecord = 160;          // a shared-memory record that cannot be opened, or is damaged

} // namespace ErrorCode
