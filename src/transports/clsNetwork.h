// The network transport: reaches the panel with UDP datagrams on the queue window's socket.
//
// It is event-driven: SendData sends one datagram and returns; the panel's answer arrives later on
// the socket, is handed by the queue (DataArrival) to DataReceived, checked, and attached to the
// waiting message. Datagram on the wire (before the optional envelope):
//
//   byte 0    sequence byte (SeqNumOut modulo 256)
//   byte 1..  the panel frame, XOR-ed with the sequence key when sequence numbers are on; a
//             "Null Command" carries only its probe text ("LANVesk", "ATA", "LOCAL_CONN")
//
// Sequence key: the last two characters of the passcode read as hexadecimal (reading stops at the
// first other character), plus the sequence byte, low 8 bits; a sequence number whose key would be
// 0 is never used. With EncryptionEnabled the whole datagram travels in the encrypted envelope of
// modEncryption (18 + 16k bytes) keyed by the host's link key.
//
// Only datagrams from RemoteHost:RemotePort are taken; one that cannot belong to the exchange (no
// payload, an impossible length under the cipher, a sequence byte other than the one sent while
// connected) is dropped before it reaches the queue. The class also recognises the panel's net-ring
// datagram ("LANVesk" arriving unasked) and offers the panel test (Ping).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUdpSocket>

#include <cstdint>
#include <memory>

#include "transports/ControlTypeBase.h"

class clsPanelMsg;

class clsNetwork : public QObject, public ControlTypeBase
{
    Q_OBJECT
public:
    // Opens the session log when none is open, takes the queue window's UDP socket and binds it to
    // any local IPv4 port, draws the first sequence number and reads the link key.
    clsNetwork();
    // Closes and releases the session log; the socket stays with the queue window.
    ~clsNetwork() override;

    // IControlType properties.
    QString Name() const override;

    // IControlType operations.
    std::int32_t ControlInitialize(CommDialog *frm, bool bDisplay) override;
    // Clears Connected and closes the socket. Always 0.
    std::int32_t ControlDisconnect(CommDialog *frm, bool bDisplay) override;
    // Clears Connected and queues a "Wait Command" (priority 10) owned by the dialog: the panel's
    // next datagram (normally the net-ring) or the queue's "TIMEOUT" answers it.
    std::int32_t ControlRinging(CommDialog *frm, bool bDisplay) override;
    std::int32_t PortPrep(CommDialog *frm, bool bDisplay) override;
    // Sets Connecting and sends the "LANVesk" probe owned by the dialog; Connected is set by the
    // handshake when the panel answers "CONNECT".
    std::int32_t Connect(CommDialog *frm, bool bDisplay) override;
    // Clears Connecting and Connected and sends the "ATA" probe owned by the dialog.
    std::int32_t Answer(CommDialog *frm, bool bDisplay) override;
    // Sends the message's frame as one datagram and arms the queue's answer time-out (or, for a
    // command that awaits no answer, completes the message at once). An error ends the session.
    std::int32_t SendData(clsMessage &msg) override;
    // Decodes a received datagram in place in the message record: envelope, sequence byte, XOR,
    // then the checks of ProcessReceive. A datagram that is dropped, or whose message is being sent
    // again, leaves the record without data (the queue then neither delivers nor completes it). An
    // error ends the session.
    std::int32_t DataReceived(clsMessage &msg) override;

    // Public properties.
    QString RemoteHost;             // panel address, dotted IPv4 text
    QString RemotePort;             // panel UDP port, decimal text
    std::int16_t SeqNum = 0;        // last sequence number used: 1..255, wraps to 1
    std::int16_t SeqNumIn = 0;      // sequence byte of the last received datagram
    std::int16_t SeqNumOut = -2;    // sequence byte the answer must carry; -2 nothing sent, -1 answered
    bool NetResponded = false;      // a datagram arrived and ReceiveResponse has not consumed it
    bool NetCallBackIgnore = false; // net-ring datagrams are not acted on
    QDateTime NetCallBackTime;      // time of the last write of NetCallBack
    bool Connecting = false;        // an outgoing connection is being made

    // The net-ring marker and the panel-test probe.
    static QString InitStr() { return QStringLiteral("LANVesk"); }
    static QString PingStr() { return QStringLiteral("LOCAL_CONN"); }

    // A net-ring arrived (true) or its wait ended (false): switches the queue's heartbeat and
    // diagnostics refresh, remembers the time, ignores further net-rings while true, and shows the
    // answering state in the connection dialog.
    void setNetCallBack(bool value);

    // The payload of the last received datagram, one character per byte.
    QString InBuffer() const;
    void setInBuffer(const QByteArray &bytes) { m_inBuffer = bytes; }
    QByteArray inBufferBytes() const { return m_inBuffer; }

    // XORs every byte of `buffer` in place with `key`.
    static void Encrypt(QByteArray &buffer, std::uint8_t key);
    // The sequence key of `sequence` for `passcode`.
    static std::uint8_t SequenceKey(const QString &passcode, std::uint8_t sequence);

    // The receive path's decoding, without a socket or the session: what DataReceived makes of the
    // bytes `raw` of one datagram under the given session settings.
    struct Datagram
    {
        bool dropped = false;       // cannot belong to the exchange: never reaches the owner
        bool encryptionOff = false; // LinkKeyMode 0 and no envelope length: the session drops encryption
        bool decrypted = false;     // came in the envelope
        bool decoded = false;       // got past the envelope (or needed none)
        QByteArray plain;           // sequence byte and payload, after the envelope
        std::uint8_t sequence = 0;  // the sequence byte
        QByteArray payload;         // the panel frame, XOR taken off
    };
    struct Session
    {
        bool encryption = false;
        qint32 linkKeyMode = 0;
        bool sequenceNumbers = false;
        QString passcode;
        QString linkKey;
        bool connected = false;
        std::int16_t seqNumOut = -2;
    };
    static Datagram DecodeDatagram(const QByteArray &raw, const Session &session);
    // The checks of a payload that answers a command on a connected link: 0, BadChecksum (not a
    // whole frame summing to 0x7F), PanelNak, or CallbackRequested (the caller decides whether the
    // session still honours it).
    static std::int32_t CheckAnswer(const QByteArray &payload);

    // Panel test: status line 1457, then `numTimes` "LOCAL_CONN" probes owned by the dialog.
    std::int32_t Ping(std::int16_t numTimes, CommDialog *frm);

    // Checks the received payload (InBuffer) and attaches it to the message; on a failed answer
    // counts a retry and sends the message again (or fails with 0x800413A1 past RetryMax).
    std::int32_t ProcessReceive(clsMessage &msg);
    // Checks InBuffer (checksum 0x7F, NAK, callback request) when validating on a connected link;
    // `Response` receives the payload either way.
    std::int32_t ReceiveResponse(QByteArray &Response, bool bValidate);

    // The UDP socket (the queue window's) and the local port it is bound to (0 when unbound).
    QUdpSocket *CommControl() const { return m_socket.data(); }
    quint16 localPort() const;

private:
    void onReadyRead();
    // Whether a datagram from the panel would be taken by DataReceived (no side effects).
    bool acceptable(const QByteArray &raw) const;
    Session session() const;
    bool bindSocket();
    std::int32_t sendProbe(const QByteArray &text, CommDialog *frm, const QString &procedure);
    std::shared_ptr<clsPanelMsg> commandOf(const clsMessage &msg) const;


    QByteArray m_inBuffer;
    QString m_linkKey;
    QPointer<QUdpSocket> m_socket;
    bool m_netCallBack = false;
};
