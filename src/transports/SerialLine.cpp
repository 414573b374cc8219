#include "transports/SerialLine.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/Logging.h"
#include "link/SerialIo.h"
#include "platform/Timing.h"
#include "transports/StatusSink.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QThread>

#include <algorithm>

namespace {

QSerialPort::Parity parityFor(const QString &letter)
{
    const QString p = letter.trimmed().toUpper();
    if (p == QLatin1String("N"))
        return QSerialPort::NoParity;
    if (p == QLatin1String("E"))
        return QSerialPort::EvenParity;
    if (p == QLatin1String("O"))
        return QSerialPort::OddParity;
    if (p == QLatin1String("M"))
        return QSerialPort::MarkParity;
    if (p == QLatin1String("S"))
        return QSerialPort::SpaceParity;
    raiseError(ErrorCode::InvalidArgument, QStringLiteral("parity %1").arg(letter));
}

QSerialPort::DataBits dataBitsFor(int bits)
{
    switch (bits) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    case 8: return QSerialPort::Data8;
    default: raiseError(ErrorCode::InvalidArgument, QStringLiteral("data bits %1").arg(bits));
    }
}

QSerialPort::StopBits stopBitsFor(int bits)
{
    switch (bits) {
    case 1: return QSerialPort::OneStop;
    case 2: return QSerialPort::TwoStop;
    default: raiseError(ErrorCode::InvalidArgument, QStringLiteral("stop bits %1").arg(bits));
    }
}

void status(StatusSink *frm, int text)
{
    if (frm)
        frm->AddStatus(modGlobals::GetCatalogString(text));
}

} // namespace

namespace SerialLine {

QString devicePathFor(std::int16_t port)
{
    const QString configured = modRegistry::GetRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                                          QStringLiteral("Port%1").arg(port), QStringLiteral("-1"));
    if (!configured.isEmpty() && configured != QLatin1String("-1"))
        return configured;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

void prepare(QSerialPort *port, const Settings &settings, StatusSink *frm, bool rts)
{
    status(frm, 315);
    if (!port)
        raiseError(ErrorCode::PortPrepFailed, QStringLiteral("no serial port"));
    if (port->isOpen())
        port->close();
    port->setPortName(devicePathFor(settings.CommPort));
    if (port->isOpen())
        raiseError(ErrorCode::PortPrepFailed, QStringLiteral("the port is still open"));
    Timing::sleep(500);
    port->setBaudRate(settings.BaudRate);
    port->setParity(parityFor(settings.Parity));
    port->setDataBits(dataBitsFor(settings.DataBits));
    port->setStopBits(stopBitsFor(settings.StopBits));
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->clearError();
    if (!port->open(QIODevice::ReadWrite) || !port->isOpen()) {
        status(frm, 316);
        raiseError(ErrorCode::PortPrepFailed, port->errorString());
    }
    if (rts && !port->setRequestToSend(true))
        modGlobals::DebugPrint(QStringLiteral("RTS cannot be set on this port"));
    port->clearError();
}

bool waitSlice(const QPointer<QSerialPort> &port, qint64 ms, qint64 maxSliceMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ms = std::clamp<qint64>(ms, 1, std::max<qint64>(1, maxSliceMs));
    if (!port || !port->isOpen()) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return true;
    }
    return SerialIo::waitForInput(port.data(), ms) != SerialIo::Wait::Lost;
}

} // namespace SerialLine
