// The network transport: reaches the panel with UDP datagrams on the message queue's socket.
//
// It is event-driven: SendData sends one datagram (DatagramTransport) and returns; the panel's
// answer arrives later on the socket, is handed by the queue (DataArrival) to DataReceived,
// checked, and attached to the waiting message. With EncryptionEnabled the whole datagram travels
// in the encrypted envelope of modEncryption (18 + 16k bytes) keyed by the host's link key.
//
// Only datagrams from RemoteHost:RemotePort are taken, and of those only what can be this
// exchange's answer: no payload, an impossible length under the cipher, a sequence byte other than
// the one sent while connected, or (for a framed command on a connected link) a payload that is
// not a whole frame summing to 0x7F is dropped at the socket, logged and counted, and the wait for
// the real answer goes on until the queue's answer time-out; such a datagram is never counted as a
// failed answer.
//
// While the link is not up, anyone who knows the panel's address can send to the host's port, and
// the panel's sequence byte and cipher are not yet confirmed. So until Connected only two things
// are taken: the answer to the probe in flight (its sequence byte and its text: "CONNECT" for
// "LANVesk" and "ATA", the test's pass text for "LOCAL_CONN"), and a net-ring ("LANVesk"). Only
// such a probe answer may choose the cipher: when the host lets the link choose (LinkKeyMode 0), a
// probe answered in the clear while encryption is on switches encryption off. Anything else,
// before the probe is even sent included, is dropped without touching the cipher setting. Once
// the panel has answered (Connected was set) the setting is settled: a datagram that does not fit
// it is dropped.
// The class also recognises the panel's net-ring datagram ("LANVesk" arriving unasked) and offers
// the panel test (Ping).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUdpSocket>

#include <cstdint>
#include <memory>
#include <optional>

#include "transports/DatagramTransport.h"

class clsNetwork : public QObject, public DatagramTransport
{
    Q_OBJECT
public:
    // Opens the session log when none is open, takes the message queue's UDP socket and binds it to
    // any local IPv4 port, draws the first sequence number and reads the link key.
    clsNetwork();
    // The socket stays with the message queue.
    ~clsNetwork() override;

    // IControlType properties.
    QString Name() const override;
    // Connected also settles the session's cipher setting: the panel has answered.
    void setConnected(bool connected) override;

    // IControlType operations (the others are DatagramTransport's).
    // Clears Connected and closes the socket. Always 0.
    std::int32_t ControlDisconnect(CommDialog *frm, bool bDisplay) override;
    std::int32_t PortPrep(CommDialog *frm, bool bDisplay) override;
    // Sends the message's frame as one datagram and arms the queue's answer time-out (or, for a
    // command that awaits no answer, completes the message at once). An error ends the session.
    std::int32_t SendData(clsMessage &msg) override;
    // Decodes a received datagram in place in the message record: envelope, sequence byte, XOR,
    // then the checks of ProcessReceive. A datagram the socket reader has decoded already (it hands
    // the queue only datagrams that decode) is taken as decoded. A datagram that is dropped, or
    // whose message is being sent again, leaves the record without data (the queue then neither
    // delivers nor completes it). An error ends the session.
    std::int32_t DataReceived(clsMessage &msg) override;

    // Public properties (the sequence numbers and net-ring state are DatagramTransport's).
    QString RemoteHost;             // panel address, dotted IPv4 text
    QString RemotePort;             // panel UDP port, decimal text

    // Checks the received payload (InBuffer) and attaches it to the message; on a failed answer
    // counts a retry and sends the message again (or fails with 0x800413A1 past RetryMax).
    std::int32_t ProcessReceive(clsMessage &msg);
    // Checks InBuffer (checksum 0x7F, NAK, callback request) when validating on a connected link;
    // `Response` receives the payload when it passed.
    std::int32_t ReceiveResponse(QByteArray &Response, bool bValidate);

    // The receive path's decoding, without a socket or the session: what becomes of the bytes
    // `raw` of one datagram from the panel under the given session settings.
    struct Datagram
    {
        bool dropped = false;       // cannot be this exchange's answer: never reaches the owner
        QString dropReason;         // why, for the log
        bool encryptionOff = false; // the probe was answered in the clear (LinkKeyMode 0): the session drops encryption
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
        bool cipherSettled = false; // the panel has answered: a datagram that does not fit is dropped
        bool sequenceNumbers = false;
        QString passcode;
        QString linkKey;
        bool connected = false;
        std::int16_t seqNumOut = -2;
        bool validate = false;      // a frame is awaited: on a connected link anything else is dropped
        // Before the link is up: the text of the probe ("Null Command") in flight, empty when none
        // (then only a net-ring is taken), and what its answer must contain.
        QByteArray probe;
        QByteArray probeAnswer;
    };
    static Datagram DecodeDatagram(const QByteArray &raw, const Session &session);

    // The UDP socket (the message queue's) and the local port it is bound to (0 when unbound).
    QUdpSocket *CommControl() const { return m_socket.data(); }
    quint16 localPort() const;
    // Datagrams from the panel's address that were dropped (see above) since the transport was made.
    int droppedCount() const { return m_dropped; }

protected:
    void netRingChanged(bool value) override;

private:
    // The session settings DecodeDatagram is given for an answer to `command` (none: nothing is
    // in flight).
    Session session(const clsPanelMsg *command) const;
    // Whether the answer to `command` is checked as a frame.
    static bool validates(const clsPanelMsg *command);
    void onReadyRead();
    void readDatagrams();
    // Logs a dropped datagram; a flood of them is summed up rather than logged one by one.
    void noteDropped(const QString &reason, const QByteArray &raw);
    bool bindSocket();

    QString m_linkKey;
    QPointer<QUdpSocket> m_socket;
    // The panel has answered: from now on a datagram that does not fit the cipher setting is
    // dropped, never a reason to change it.
    bool m_cipherSettled = false;
    qint64 m_dropLogMs = -1;
    int m_dropsUnlogged = 0;
    int m_dropped = 0;
    // The datagram readDatagrams has decoded (and decrypted) and is handing the queue: the
    // DataReceived that the queue calls with the same bytes takes it instead of decoding again.
    struct Arrival
    {
        QByteArray raw;
        Datagram decoded;
    };
    std::optional<Arrival> m_arrival;
};
