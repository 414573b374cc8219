// The datagram protocol the network transport (UDP) and the enhanced direct transport (serial
// envelope) share. One datagram carries one panel frame:
//
//   byte 0    sequence byte (SeqNumOut modulo 256)
//   byte 1..  the panel frame, XOR-ed with the sequence key when sequence numbers are on; a
//             "Null Command" carries only its probe text ("LANVesk", "ATA", "LOCAL_CONN")
//
// Sequence key: the last two characters of the passcode read as hexadecimal (reading stops at the
// first other character), plus the sequence byte, low 8 bits; a sequence number whose key would be
// 0 is never used. The answer carries the request's sequence byte and key.
//
// Both transports connect the same way: the probe "LANVesk" (Connect) or "ATA" (Answer) is queued
// in the connection dialog's name, and the handshake sets Connected when the panel answers
// "CONNECT"; a panel that asked to be called back is awaited with a "Wait Command" that the queue
// never transmits. An answer to a framed command on a connected link must be a whole frame summing
// to 0x7F; a NAK and a callback request (honoured once per session) are failed answers. Only an
// answer that passed these checks is handed out as the answer.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>

#include "transports/ControlTypeBase.h"

class clsMessage;
class clsPanelMsg;

class DatagramTransport : public ControlTypeBase
{
public:
    // Closes and releases the session log.
    ~DatagramTransport() override;

    // Public properties shared by both transports.
    std::int16_t SeqNum = 0;        // last sequence number used: 1..255, wraps to 1
    std::int16_t SeqNumIn = 0;      // sequence byte of the last received datagram
    std::int16_t SeqNumOut = -2;    // sequence byte the answer must carry; -2 nothing sent, -1 answered
    bool NetResponded = false;      // an answer was decoded and ReceiveResponse has not consumed it
    bool NetCallBackIgnore = false; // net-ring datagrams are not acted on
    QDateTime NetCallBackTime;      // time of the last write of NetCallBack
    bool Connecting = false;        // an outgoing connection is being made

    // The net-ring marker and the panel-test probe.
    static QString InitStr() { return QStringLiteral("LANVesk"); }
    static QString PingStr() { return QStringLiteral("LOCAL_CONN"); }

    // IControlType operations both transports perform alike.
    // Nothing to initialise: 0.
    std::int32_t ControlInitialize(CommDialog *frm, bool bDisplay) override;
    // Clears Connected and queues a "Wait Command" (priority 10) owned by the dialog: the panel's
    // next datagram (normally the net-ring) or the queue's "TIMEOUT" answers it.
    std::int32_t ControlRinging(CommDialog *frm, bool bDisplay) override;
    // Sets Connecting and sends the "LANVesk" probe owned by the dialog; Connected is set by the
    // handshake when the panel answers "CONNECT".
    std::int32_t Connect(CommDialog *frm, bool bDisplay) override;
    // Clears Connecting and Connected and sends the "ATA" probe owned by the dialog.
    std::int32_t Answer(CommDialog *frm, bool bDisplay) override;

    // Panel test: prepares the port, status line 1457, then `numTimes` "LOCAL_CONN" probes owned
    // by the dialog.
    std::int32_t Ping(std::int16_t numTimes, CommDialog *frm);

    // A net-ring arrived (true) or its wait ended (false): switches the queue's heartbeat and
    // diagnostics refresh, remembers the time and ignores further net-rings while true.
    void setNetCallBack(bool value);

    // The payload of the last decoded answer, one character per byte.
    QString InBuffer() const;
    void setInBuffer(const QByteArray &bytes) { m_inBuffer = bytes; }
    QByteArray inBufferBytes() const { return m_inBuffer; }

    // XORs every byte of `buffer` in place with `key`.
    static void Encrypt(QByteArray &buffer, std::uint8_t key);
    // The sequence key of `sequence` for `passcode`.
    static std::uint8_t SequenceKey(const QString &passcode, std::uint8_t sequence);

    // One received datagram (sequence byte and payload, after any envelope), decoded without a
    // session: dropped when it has no payload, or carries another sequence byte than the one sent
    // while connected; otherwise the payload with the sequence key's XOR taken off.
    struct Payload
    {
        bool dropped = false;
        std::uint8_t sequence = 0;
        QByteArray bytes; // the frame or probe text, XOR taken off
    };
    static Payload DecodePayload(const QByteArray &datagram, bool connected, std::int16_t seqNumOut,
                                 bool sequenceNumbers, const QString &passcode);
    // The checks of a payload that answers a framed command on a connected link: 0, BadChecksum
    // (not a whole frame summing to 0x7F), PanelNak, or CallbackRequested (the caller decides
    // whether the session still honours it).
    static std::int32_t CheckAnswer(const QByteArray &payload);

protected:
    // Opens the session log when none is open, draws the first sequence number; `className` names
    // the transport in error reports.
    explicit DatagramTransport(const QString &className);

    // Shows or hides a net-ring in the connection dialog (the network transport does).
    virtual void netRingChanged(bool value);

    // The datagram that carries the command's frame: the sending gate (only the probe goes out
    // before the link is up, only the goodbye while an abort is pending; 0x80041389 otherwise),
    // the next sequence number (skipping a key of 0) and the XOR. `name` is the message's name.
    QByteArray nextDatagram(const clsPanelMsg &command, const QString &name);
    // After a send: a new passcode written to the panel (item 3:0) keys every later datagram.
    void afterSend(const clsPanelMsg &command, const QString &name);

    // Takes a decoded datagram as the answer: SeqNumIn, InBuffer, NetResponded, and either the
    // net-ring (a "LANVesk" while net-rings are acted on) or SeqNumOut -1.
    void takePayload(const Payload &payload);
    // The checks of InBuffer when `bValidate` and connected; raises the failed answer's error (a
    // NAK after the send-again pause, a callback request once per session).
    void verifyInBuffer(bool bValidate);
    // The end of every ReceiveResponse: `Response` gets InBuffer when the answer passed (`rc` 0 or a
    // callback request), nothing otherwise; InBuffer is emptied and NetResponded cleared. Returns rc.
    std::int32_t finishAnswer(QByteArray &Response, std::int32_t rc);
    // Counts a failed answer against the command: past RetryMax it raises 0x800413A1 (session log
    // text 280); a callback request sets the command's CallBackFlag.
    void countFailedAnswer(clsPanelMsg &command, std::int32_t result);

    // Delivers the message to its owner when `deliver`, then completes it in the queue when it is
    // still the message in flight.
    void completeExchange(clsMessage &msg, bool deliver);
    // A failed send ends the session (LastErrorNumber, Disconnect(0, 5)). A goodbye that cannot be
    // sent takes the link down first, so the disconnect closes instead of saying goodbye again.
    void endSession(std::int32_t rc, const QString &name);

    std::shared_ptr<clsPanelMsg> commandOf(const clsMessage &msg) const;

    QString m_class;
    QByteArray m_inBuffer;
    bool m_netCallBack = false;

private:
    std::int32_t sendProbe(const QByteArray &text, CommDialog *frm, const QString &procedure);
};
