#include "link/SerialIo.h"

#include "platform/Timing.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>

namespace SerialIo {

bool deviceLost(const QSerialPort *port)
{
    return !port->isOpen() || port->error() == QSerialPort::ResourceError || port->error() == QSerialPort::ReadError;
}

Wait waitForInput(QSerialPort *port, qint64 ms)
{
    ms = std::max<qint64>(1, ms);
    QElapsedTimer slice;
    slice.start();
    if (port->waitForReadyRead(static_cast<int>(ms)))
        return Wait::Input;
    if (deviceLost(port))
        return Wait::Lost;
    const qint64 rest = ms - slice.elapsed();
    if (rest > 0)
        QThread::msleep(static_cast<unsigned long>(rest));
    return Wait::Quiet;
}

Write writeAll(QSerialPort *port, const QByteArray &bytes, qint64 protocolMs, qint64 sliceMs)
{
    if (port->write(bytes) != bytes.size())
        return Write::Refused;
    const Timing::Deadline deadline(protocolMs);
    while (port->bytesToWrite() > 0) {
        if (deadline.expired())
            return Write::Stuck;
        if (!port->waitForBytesWritten(static_cast<int>(std::clamp<qint64>(deadline.remainingMs(), 1, sliceMs)))
            && deviceLost(port))
            return Write::Lost;
    }
    return Write::Done;
}

} // namespace SerialIo
