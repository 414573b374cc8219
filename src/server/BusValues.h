// The values of host notifications on the bus. The component's event data are variants of a few
// kinds; D-Bus variants carry them as:
//   integer -> "i", 16-bit integer -> "n", Boolean -> "b", text -> "s", byte array -> "ay",
//   date and time -> "s" (ISO 8601, "yyyy-MM-ddTHH:mm:ss"), array -> "av" of the converted elements,
//   a missing argument (an optional argument not passed) -> an empty "av".
// Anything else travels as its text.
#pragma once

#include <QDBusVariant>
#include <QVariant>

namespace quarvobus {

// The event data as the server sends it.
QDBusVariant toBus(const QVariant &value);

// Back from what arrived (a client's view): arrays become lists, an empty array a missing argument.
QVariant fromBus(const QVariant &received);

} // namespace quarvobus
