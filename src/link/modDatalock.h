// The data-lock check of the connection handshake: may this installation program the panel, which
// of the host's data-lock entries applies, and must the panel's code be replaced by ours?
//
// The panel keeps its code scrambled: plain code = panel code XOR 0x6B52 (and back the same way).
// The host's entries hold plain codes: entry 1 is this installation's own (-1 = not set), the entry
// under the key "PRIMARY" is the fallback, and the master code 58213 is accepted everywhere.
#pragma once

#include <cstdint>
#include <memory>

class HostDataLockEntry;

namespace modDatalock {

constexpr std::int32_t ScrambleMask = 0x6B52;
constexpr std::int32_t MasterValue = 58213;

// `code`: in, the panel's (scrambled) code; out, unchanged, or the scrambled code to write when
// `rewrite` comes back true. `entry`: out, the chosen data-lock entry. Returns 0, 0x80041399 when no
// entry admits the panel, or the number of any other error (reported under "modDatalock").
std::int32_t CheckDatalock(std::int32_t &code, bool &rewrite, std::shared_ptr<HostDataLockEntry> &entry);

} // namespace modDatalock
