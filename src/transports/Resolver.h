// Host-name resolution for the network link.
#pragma once

#include <QString>

#include <cstdint>

namespace modICMP {

// A dotted IPv4 text is taken as it is; a name is resolved to the dotted text of its first IPv4
// address (names longer than 64 characters fail). Returns 0 when `result` holds a valid address,
// -1 otherwise (and `result` is then empty).
std::int32_t ResolveHost(const QString &hostText, QString &result);

// True when `text` is a dotted IPv4 address of four decimal parts 0..255.
bool isDottedIPv4(const QString &text);

} // namespace modICMP
