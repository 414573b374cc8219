// The transport for a Hayes-command dial-up modem on a serial port, and for a plain direct serial
// cable (where the workflow sends no modem commands and sets Connected itself). It owns the port
// settings, talks to the modem in text commands and waits for its verbal or numeric result codes,
// dials, answers, waits for a ring and hangs up. Once the link is up every queued message goes
// through the frame exchange of modModem on the same port.
//
// The port is the message queue's MSComm1. Port number N opens the device named by the
// "Communications" setting "Port<N>" when it exists, else /dev/ttyS<N-1> (COM<N> on Windows).
//
// Every wait here is a loop of bounded waits on a monotonic deadline that lets pending events run,
// so the dialog's Cancel (AbortPending) and port events stay live. The fixed settle pauses block.
// When the port goes away under a wait (the far end vanished), the port is closed at once and the
// wait ends with the port-closed error 0x8004138B.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>

#include <cstdint>

#include "link/SerialTransport.h"
#include "transports/ControlTypeBase.h"

class clsModem : public QObject, public ControlTypeBase, public SerialTransport
{
public:
    // Opens the session log when none exists yet; takes the message queue's serial port (unless the
    // session is unattended); copies the line settings from HostSettings.
    clsModem();
    // Closes the session log and releases it.
    ~clsModem() override;

    // Configuration, written by the connection workflow before the link operations.
    std::int32_t BaudRate = 9600;
    std::int16_t DataBits = 8;
    QString Parity = QStringLiteral("N");
    QString PreDialInit;
    QString PostDialString;
    QString ResetCmd;
    std::int16_t StopBits = 1;
    QString DataPhone;
    std::int16_t CommPort = 1;

    // The serial port in use (null when none was taken).
    QSerialPort *CommControl() const override { return m_port.data(); }
    // Request-to-send wish for the port; applied when the port opens (a pty refuses it: warning only).
    bool RTSEnable() const { return m_rtsEnable; }
    void setRTSEnable(bool enable);

    // The device path port number `port` opens.
    static QString devicePathFor(std::int16_t port);

    // IControlType properties.
    QString Name() const override;

    // IControlType operations.
    std::int32_t ControlInitialize(CommDialog *frm, bool bDisplay) override;
    std::int32_t ControlDisconnect(CommDialog *frm, bool bDisplay) override;
    std::int32_t ControlRinging(CommDialog *frm, bool bDisplay) override;
    std::int32_t PortPrep(CommDialog *frm, bool bDisplay) override;
    std::int32_t Connect(CommDialog *frm, bool bDisplay) override;
    std::int32_t Answer(CommDialog *frm, bool bDisplay) override;
    std::int32_t SendData(clsMessage &msg) override;
    std::int32_t DataReceived(clsMessage &msg) override;

    // Modem result codes of ModemTextCmd.
    enum TextCmdResult : std::int32_t { Expected = 0, Failed = 1, NoAnswer = 2, Busy = 3 };

    // Sends one text command (a carriage return follows it, except for "+++") and waits up to
    // WaitSeconds, counted from before the fixed 2.1 s settle pause, for the Expected or Failure
    // text (verbal, or the numeric code followed by a carriage return) or "BUSY". Returns a
    // TextCmdResult, or an error number (0x8004138B when the port closed during the wait).
    std::int32_t ModemTextCmd(const QString &Cmd, const QString &expected, const QString &failure,
                              std::int32_t WaitSeconds);

    // Decides a text command's answer from what the modem sent so far, as ModemTextCmd does at
    // every look: the echo of Cmd is removed from `response` once seen (`echoRemoved`), then the
    // Expected or Failure text (verbal, or the numeric code followed by a carriage return) or
    // "BUSY" decide. NoAnswer while nothing decides. No port, no clock.
    static std::int32_t ReadModemAnswer(QString &response, const QString &Cmd, const QString &expected,
                                        const QString &failure, bool &echoRemoved);

    // Reads one byte within lTimeoutSeconds; 0x800413A2 when none arrives.
    std::int32_t GetCharacter(std::uint8_t &cNewChar, std::int32_t lTimeoutSeconds);

private:
    void status(CommDialog *frm, const QString &text) const;
    bool portOpen() const;
    void onPortError(int error);
    // Lets pending events run, then waits for input up to `ms` real milliseconds.
    void waitSlice(qint64 ms);

    QPointer<QSerialPort> m_port;
    bool m_rtsEnable = false;
};
