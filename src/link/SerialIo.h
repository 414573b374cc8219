// The two things every wait and write on a serial port is made of: a bounded wait for input that
// never spins, and a write that waits (bounded) until the port has taken the bytes. Neither lets
// events run; callers that must stay responsive run them between slices. A port whose device went
// away (a pty whose far end closed, an unplugged adapter) is reported, never waited on again.
#pragma once

#include <QByteArray>
#include <QtGlobal>

class QSerialPort;

namespace SerialIo {

// True when the port's last failure means its device is gone: a pty whose far end closed reports
// ReadError in blocking waits and ResourceError from the event loop.
bool deviceLost(const QSerialPort *port);

enum class Wait { Input, Quiet, Lost };
// Waits up to `ms` real milliseconds (at least 1) for new input on the open `port`. A wait that
// ends early without input sleeps out the rest, so a caller's loop never spins. Lost: the device
// vanished (the port is left open for the caller to close).
Wait waitForInput(QSerialPort *port, qint64 ms);

enum class Write { Done, Refused, Lost, Stuck };
// Writes `bytes` to the open `port` and waits until it has taken them, in waits of at most
// `sliceMs` real milliseconds, for `protocolMs` milliseconds of protocol time at the most.
Write writeAll(QSerialPort *port, const QByteArray &bytes, qint64 protocolMs, qint64 sliceMs);

} // namespace SerialIo
