// The serial-port handling the modem transport and the enhanced direct transport share: which
// device a port number opens, the preparation of the port (close, settle, apply the line settings,
// open), and the bounded wait for input that every serial wait is made of.
//
// Port number N opens the device named by the "Communications" setting "Port<N>" when it exists,
// else /dev/ttyS<N-1> (COM<N> on Windows).
#pragma once

#include <QPointer>
#include <QSerialPort>
#include <QString>

#include <cstdint>

class StatusSink;

namespace SerialLine {

// The line settings of a port, as the transports keep them.
struct Settings
{
    std::int16_t CommPort = 1;
    std::int32_t BaudRate = 9600;
    QString Parity = QStringLiteral("N");
    std::int16_t DataBits = 8;
    std::int16_t StopBits = 1;
};

// The device path port number `port` opens.
QString devicePathFor(std::int16_t port);

// Prepares `port`: status line 315, close it when open, aim it at the device of CommPort, settle
// 500 ms, apply baud rate, parity, data and stop bits, open it. A port that stays open or does not
// open raises 0x80041392 (status line 316 when it does not open). Request-to-send is set when
// `rts` (a pty refuses it: a debug line, no failure).
void prepare(QSerialPort *port, const Settings &settings, StatusSink *frm, bool rts);

// Lets pending events run, then waits up to `ms` real milliseconds (at most `maxSliceMs`) for new
// input on `port`. A wait that ends early without input sleeps out the slice, so a caller's loop
// never spins. The port may go while events run (it is guarded). Returns false when the port's
// device vanished during the wait (the caller closes it).
bool waitSlice(const QPointer<QSerialPort> &port, qint64 ms, qint64 maxSliceMs);

} // namespace SerialLine
