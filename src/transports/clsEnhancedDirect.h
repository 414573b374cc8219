// The enhanced direct transport: a serial cable to a panel that speaks the datagram protocol of
// the network link (DatagramTransport: sequence numbers, sequence key XOR, answer checks), each
// datagram wrapped in the serial envelope of EnhancedEnvelope, without block encryption.
//
// It is synchronous like the modem transport: SendData writes the envelope to the message queue's
// serial port and waits for the answer itself, resending with a new sequence number on silence or
// a failed answer until the command's RetryMax is exceeded (0x800413A1, the session ends). Only a
// decoded, checked answer is stored in the message and delivered to its owner.
//
// Every wait is a loop of bounded waits for input against a deadline on the monotonic clock that
// lets pending events run between slices: an idle wait costs no CPU, and the dialog's Cancel
// (AbortPending) ends it at the next slice. A header that announces more than 255 bytes is
// rejected before any byte of its body is read; the announced length never sizes a read.
//
// Outside SendData the port is read only for what the panel sends unasked (its net-ring while a
// "Wait Command" waits, or with no message in flight): a whole envelope is decoded and handed to
// the queue as arrived data; anything else is dropped.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>

#include <cstdint>

#include "platform/Timing.h"
#include "transports/DatagramTransport.h"

class clsEnhancedDirect : public QObject, public DatagramTransport
{
public:
    // Opens the session log when none is open, takes the message queue's serial port, copies the
    // line settings from HostSettings and draws the first sequence number.
    clsEnhancedDirect();
    ~clsEnhancedDirect() override;

    // Public properties, in declaration order (the sequence numbers and net-ring state follow
    // them in DatagramTransport).
    std::int16_t CommPort = 1;
    std::int32_t BaudRate = 9600;
    std::int16_t DataBits = 8;
    QString Parity = QStringLiteral("N");
    std::int16_t StopBits = 1;

    // IControlType properties.
    QString Name() const override;

    // IControlType operations (Connect, Answer, ControlRinging, ControlInitialize and Ping are
    // DatagramTransport's).
    // As the modem transport's: close, settle, apply the line settings, open.
    std::int32_t PortPrep(CommDialog *frm, bool bDisplay) override;
    // Clears Connected and closes the port. Always 0.
    std::int32_t ControlDisconnect(CommDialog *frm, bool bDisplay) override;
    // Sends the message's frame and waits for its answer (see the class comment). The owner gets
    // ResponseReceived with the checked answer, or at once (without data) for a command that awaits
    // no answer. An error ends the session.
    std::int32_t SendData(clsMessage &msg) override;
    // Answers are read by SendData: 0.
    std::int32_t DataReceived(clsMessage &msg) override;

    // Waits up to ResponseTimeout seconds for one answer envelope and decodes it; checks it as an
    // answer frame when `bValidate` on a connected link. `Response` receives the payload only when
    // the answer passed (0, or a callback request 0x8004139B). Failures: 0x8004138B abort or port
    // lost, 0x800413A7 nothing complete in time, 0x8004138E bad header or NAK, 0x800413B3 length
    // above 255, 0x800413A0 not a whole frame summing to 0x7F.
    std::int32_t ReceiveResponse(QByteArray &Response, bool bValidate);
    // Takes one datagram (sequence byte and payload) as the answer: InBuffer, NetResponded and the
    // net-ring. A datagram with another sequence byte than the one sent while connected is ignored
    // (InBuffer stays empty, NetResponded false).
    std::int32_t DecodeData(const QByteArray &datagram);

    // The serial port in use (null when none was taken).
    QSerialPort *CommControl() const { return m_port.data(); }

private:
    bool portOpen() const;
    // The answer time-out of HostSettings, in milliseconds of protocol time (12 s without one).
    static qint64 responseTimeoutMs();
    // Waits until `count` bytes are buffered; raises 0x8004138B on abort or a lost port and
    // 0x800413A7 at the deadline.
    void waitForBytes(qint64 count, const Timing::Deadline &deadline);
    void writeEnvelope(const QByteArray &envelope);
    void onReadyRead();
    void onPortError(QSerialPort::SerialPortError error);

    QPointer<QSerialPort> m_port;
    bool m_inExchange = false; // SendData owns the port: the unasked-data reader stays out
};
