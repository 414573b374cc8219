// A transport that reaches the panel over a serial port: the modem and the plain direct line
// (clsModem implements it). The frame exchange of modModem reads and writes the port it exposes.
#pragma once

class QSerialPort;

class SerialTransport
{
public:
    virtual ~SerialTransport() = default;
    // The serial port in use (null when none was taken).
    virtual QSerialPort *CommControl() const = 0;
};
