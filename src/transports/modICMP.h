// The ICMP echo test of the network link ("Network Test"): one echo request to the panel's
// address, with the outcome as a catalog text. Host-name resolution lives in Resolver.h.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

class IcmpEcho;

namespace modICMP {

// The 64 data bytes every echo request carries.
extern const QByteArray EchoData;

// Sends one echo request to `Host` (dotted IPv4 text, or a name that is resolved first; `Host` is
// then replaced by the dotted text of its first address) with time-to-live `Ttl`,
// type-of-service 8, and waits at most `TimeoutSeconds` seconds (0..32). `StatusText` receives the
// outcome:
//   - echo reply: "Reply received in <ms> ms." (catalog 1487), result 0;
//   - no answer in time: catalog 1489, result 0;
//   - an ICMP error or a failure to send: the text of its status (IcmpStatusText), result 1;
//   - a name that cannot be resolved: catalog 1486, result 1;
//   - no ICMP socket permitted on this machine: the general-failure text (status 11050), result 1.
// A timeout beyond 32 seconds is reported as an overflow (result 1, no text).
std::int32_t PingHost(QString &Host, std::int16_t Ttl, std::int16_t TimeoutSeconds, QString &StatusText);
// As above, on the given echo service (tests hand in their own).
std::int32_t PingHost(QString &Host, std::int16_t Ttl, std::int16_t TimeoutSeconds, QString &StatusText,
                      IcmpEcho &echo);

// The catalog text of an ICMP reply status (0, 11001..11022, 11050); empty for any other code.
QString IcmpStatusText(std::uint32_t status);

} // namespace modICMP
