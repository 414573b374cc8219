// What the network transport does with what arrives, with a plain UDP socket as the panel: datagrams
// that must be dropped (empty, a sequence byte alone, an impossible length under the cipher), the
// LinkKeyMode rule, and the checks of an answer frame.
#include "NetFixture.h"

#include "core/ErrorCodes.h"
#include "link/modEncryption.h"
#include "link/modSDIFunctions.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

using namespace nettest;

namespace {

// A stand-in panel: a socket on 127.0.0.1 that can answer the transport.
class FakePanel
{
public:
    FakePanel() { m_socket.bind(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_socket.localPort(); }
    // The next datagram the transport sent (empty when none came in time).
    QByteArray receive(int timeoutMs = 2000)
    {
        if (!waitFor([&] { return m_socket.hasPendingDatagrams(); }, timeoutMs))
            return {};
        const QNetworkDatagram d = m_socket.receiveDatagram();
        m_peerPort = static_cast<quint16>(d.senderPort());
        return d.data();
    }
    void send(const QByteArray &datagram) { m_socket.writeDatagram(datagram, QHostAddress::LocalHost, m_peerPort); }

private:
    QUdpSocket m_socket;
    quint16 m_peerPort = 0;
};

QByteArray clearDatagram(quint8 sequence, QByteArray payload)
{
    clsNetwork::Encrypt(payload, clsNetwork::SequenceKey(kPasscode, sequence));
    return QByteArray(1, static_cast<char>(sequence)) + payload;
}

} // namespace

TEST_F(NetTest, DatagramsThatCannotBeAnAnswerAreDroppedAtTheSocket)
{
    FakePanel fake;
    startSession(true, true, fake.port());
    settings->linkKeyMode = 1; // no switching to the clear: a 20-byte datagram is not an envelope
    ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
    const QByteArray probe = fake.receive();
    ASSERT_TRUE(modEncryption::isEnvelopeLength(probe.size())) << probe.size();
    const QByteArray plain = modEncryption::DecryptData(probe, kKey);
    ASSERT_EQ(plain.size(), 8);
    const quint8 seq = static_cast<quint8>(plain[0]);

    fake.send(QByteArray());                                    // empty
    fake.send(modEncryption::EncryptData(QByteArray(1, char(seq)), kKey)); // a sequence byte alone
    fake.send(QByteArray(20, 'x'));                             // impossible length under the cipher
    fake.send(QByteArray(modEncryption::HeaderSize, '\0'));     // an envelope that carries nothing
    waitFor([] { return false; }, 150); // time for all four to arrive and be handled
    EXPECT_TRUE(owner.answers.isEmpty());
    EXPECT_TRUE(sessionState().EncryptionEnabled);

    fake.send(modEncryption::EncryptData(clearDatagram(seq, "CONNECT"), kKey));
    ASSERT_TRUE(waitFor([&] { return owner.answers.size() == 1; }, 2000));
    EXPECT_EQ(owner.answers[0].data, QByteArray("CONNECT"));
    EXPECT_EQ(net->SeqNumIn, seq);
}

TEST_F(NetTest, DataReceivedDropsWhatNoOneAwaitsAndASettledCipherHolds)
{
    startSession(false, true, 0);
    const QByteArray clear = clearDatagram(0x10, QByteArray("0123456789ABCDEFGHI")); // 20 bytes
    const struct
    {
        bool encrypted;
        int linkKeyMode;
        bool answered; // the panel has answered: the cipher setting is settled
        QByteArray in;
        QByteArray out;
        bool encryptedAfter;
    } cases[] = {
        {false, 0, false, QByteArray(), QByteArray(), false},
        {false, 0, false, QByteArray(1, '\x05'), QByteArray(), false},
        {true, 2, false, clear, QByteArray(), true},                      // not an envelope
        {true, 0, false, clear, QByteArray(), true},                      // no probe in flight: nothing chooses the cipher
        {true, 0, true, clear, QByteArray(), true},                       // settled: dropped, still encrypted
        {false, 0, true, clear, QByteArray("0123456789ABCDEFGHI"), false}, // a clear link takes it
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in.toHex().constData());
        if (c.answered) {
            net->setConnected(true);
            net->SeqNumOut = 0x10; // the datagram's sequence byte is the expected one
        }
        sessionState().EncryptionEnabled = c.encrypted;
        settings->linkKeyMode = c.linkKeyMode;
        QString guid;
        auto msg = messageRecord(QString(), guid);
        msg->setData(c.in);
        EXPECT_EQ(net->DataReceived(*msg), 0);
        EXPECT_EQ(msg->dataBytes(), c.out);
        msgrecord::Discard(guid);
        EXPECT_EQ(sessionState().EncryptionEnabled, c.encryptedAfter);
    }
    EXPECT_TRUE(sessionState().messageQueue);
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
    EXPECT_EQ(net->SeqNumIn, 0x10);
    EXPECT_EQ(net->droppedCount(), 5);
}

// Before the link is up only the answer to the probe in flight (its sequence byte, its text) or a
// net-ring is taken, and only a probe answer chooses the cipher.
TEST(NetworkDecode, BeforeTheLinkIsUpOnlyTheProbesAnswerOrANetRingIsTaken)
{
    clsNetwork::Session probing;
    probing.encryption = true;
    probing.linkKeyMode = 0;
    probing.sequenceNumbers = true;
    probing.passcode = kPasscode;
    probing.linkKey = kKey;
    probing.seqNumOut = 0x21;
    probing.probe = "LANVesk";
    probing.probeAnswer = "CONNECT";
    clsNetwork::Session strict = probing;
    strict.linkKeyMode = 2;
    clsNetwork::Session ringing = probing; // a "Wait Command", or nothing, in flight
    ringing.probe.clear();
    ringing.probeAnswer.clear();
    clsNetwork::Session testing = probing;
    testing.probe = "LOCAL_CONN";
    testing.probeAnswer = "OK";
    const auto sealed = [](const QByteArray &datagram) { return modEncryption::EncryptData(datagram, kKey); };

    const struct
    {
        const char *what;
        const clsNetwork::Session &session;
        QByteArray in;
        bool taken;
        bool encryptionOff;
    } cases[] = {
        {"encrypted answer", probing, sealed(clearDatagram(0x21, "CONNECT")), true, false},
        {"clear answer, LinkKeyMode 0", probing, clearDatagram(0x21, "CONNECT"), true, true},
        {"clear answer, LinkKeyMode 2", strict, clearDatagram(0x21, "CONNECT"), false, false},
        {"another sequence byte", probing, sealed(clearDatagram(0x22, "CONNECT")), false, false},
        {"another sequence byte, clear", probing, clearDatagram(0x20, "CONNECT"), false, false},
        {"a text that says CONNECT", probing, sealed(clearDatagram(0x21, "CONNECTION?")), true, false},
        {"no text", probing, sealed(clearDatagram(0x21, "NO CARRIER")), false, false},
        {"a net-ring is no answer", probing, sealed(clearDatagram(0x21, "LANVesk")), false, false},
        {"a frame is no answer", probing, clearDatagram(0x21, answerFrame(0x14, bytes({0x20}))), false, false},
        {"panel test passed", testing, sealed(clearDatagram(0x21, "LOCAL_CONN OK")), true, false},
        {"panel test, another text", testing, sealed(clearDatagram(0x21, "CONNECT")), false, false},
        {"net-ring awaited", ringing, sealed(clearDatagram(0x99, "LANVesk")), true, false},
        {"clear net-ring: taken, cipher kept", ringing, clearDatagram(0x99, "LANVesk"), true, false},
        {"unasked answer", ringing, sealed(clearDatagram(0x21, "CONNECT")), false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const clsNetwork::Datagram d = clsNetwork::DecodeDatagram(c.in, c.session);
        EXPECT_EQ(!d.dropped, c.taken) << d.dropReason.toStdString();
        EXPECT_EQ(d.encryptionOff, c.encryptionOff);
    }

    // Forged datagrams whose first byte sweeps 0-255, 20 bytes or envelope-sized, whoever sends
    // them: none is taken, none touches the cipher.
    for (int first = 0; first < 256; ++first) {
        for (const int size : {20, 34, 50}) {
            QByteArray forged(size, static_cast<char>(0x5A + size));
            forged[0] = static_cast<char>(first);
            for (const clsNetwork::Session *session : {&probing, &ringing, &testing}) {
                const clsNetwork::Datagram d = clsNetwork::DecodeDatagram(forged, *session);
                EXPECT_TRUE(d.dropped) << first << " " << size;
                EXPECT_FALSE(d.encryptionOff) << first << " " << size;
            }
        }
    }
}

// A panel that really answers the probe in the clear is reached in the clear when the host lets
// the link choose; what merely comes from its address before that changes nothing.
TEST_F(NetTest, AClearAnswerToTheProbeSwitchesEncryptionOffAndNothingElseDoes)
{
    FakePanel fake;
    startSession(true, true, fake.port());
    settings->linkKeyMode = 0;
    ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
    const QByteArray probe = fake.receive();
    ASSERT_TRUE(modEncryption::isEnvelopeLength(probe.size())) << probe.size();
    const quint8 seq = static_cast<quint8>(modEncryption::DecryptData(probe, kKey).at(0));
    const auto other = static_cast<quint8>(seq == 255 ? 1 : seq + 1);

    fake.send(clearDatagram(seq, QByteArray(19, 'x')));          // 20 bytes, the right sequence byte
    fake.send(clearDatagram(other, "CONNECT"));                  // another sequence byte
    fake.send(clearDatagram(seq, "LANVesk"));                     // a net-ring
    fake.send(modEncryption::EncryptData(clearDatagram(other, "CONNECT"), kKey));
    ASSERT_TRUE(waitFor([&] { return net->droppedCount() == 4; }, 2000));
    EXPECT_TRUE(owner.answers.isEmpty());
    EXPECT_TRUE(sessionState().EncryptionEnabled);

    fake.send(clearDatagram(seq, "CONNECT"));
    ASSERT_TRUE(waitFor([&] { return owner.answers.size() == 1; }, 2000));
    EXPECT_EQ(owner.answers[0].data, QByteArray("CONNECT"));
    EXPECT_FALSE(sessionState().EncryptionEnabled);
}

TEST_F(NetTest, AnswerFramesAreCheckedOnlyWhenValidatingOnAConnectedLink)
{
    startSession(false, true, 0);
    QByteArray response;
    const QByteArray good = answerFrame(20, bytes({0x20}));
    const QByteArray callbackRequest = answerFrame(3, bytes({0x08}));
    QByteArray badSum = good;
    badSum[3] = static_cast<char>(badSum[3] + 1);
    QByteArray wrongLength = good;
    wrongLength[1] = 9; // says more bytes follow than there are

    net->setInBuffer(badSum);
    EXPECT_EQ(net->ReceiveResponse(response, true), 0); // not connected: taken as it is
    EXPECT_EQ(response, badSum);

    net->setConnected(true);
    const struct
    {
        QByteArray in;
        std::int32_t result;
    } cases[] = {
        {good, 0},
        {badSum, ErrorCode::BadChecksum},
        {wrongLength, ErrorCode::BadChecksum},
        {QByteArray(), ErrorCode::BadChecksum},
        {bytes({0x7F}), ErrorCode::BadChecksum},
        {bytes({0x00, 0x7F}), ErrorCode::BadChecksum},
        {answerFrame(2, {}), ErrorCode::PanelNak},
        {callbackRequest, ErrorCode::CallbackRequested},
        {callbackRequest, 0}, // a second callback request in the session is an ordinary answer
    };
    for (const auto &c : cases) {
        net->setInBuffer(c.in);
        net->NetResponded = true;
        EXPECT_EQ(net->ReceiveResponse(response, true), c.result) << c.in.toHex().constData();
        // A failed answer is never handed out; a callback request is a whole, checked frame.
        const bool passed = c.result == 0 || c.result == ErrorCode::CallbackRequested;
        EXPECT_EQ(response, passed ? c.in : QByteArray());
        EXPECT_FALSE(net->NetResponded);
        EXPECT_TRUE(net->inBufferBytes().isEmpty());
    }
    EXPECT_TRUE(sessionState().CallbackSession);
    net->setInBuffer(badSum);
    EXPECT_EQ(net->ReceiveResponse(response, false), 0);
}

TEST_F(NetTest, SendingIsRefusedUntilTheLinkIsUpAndEndsTheAttempt)
{
    FakePanel fake;
    startSession(false, true, fake.port());
    ASSERT_EQ(modExecFunctions::SMPasscode(kPasscode, &owner, 6, false), 0);
    ASSERT_TRUE(waitFor([] { return sessionState().LastErrorNumber != 0; }, 2000));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::SendRefused);
    EXPECT_TRUE(fake.receive(50).isEmpty());
    EXPECT_TRUE(waitFor([] { return !sessionState().messageQueue; }, 2000)); // not connected: closed and unloaded
}

TEST_F(NetTest, AWriteOfItem3TakesTheNewPasscodeForLaterSequenceKeys)
{
    FakePanel fake;
    startSession(false, true, fake.port());
    net->setConnected(true);
    pif->passcode = QStringLiteral("9911A0");
    ASSERT_EQ(modSDIFunctions::SDIWriteItemBlock(3, 0, QByteArray(30, '\x01'), &owner, 6, false), 0);
    const QByteArray sent = fake.receive();
    ASSERT_FALSE(sent.isEmpty());
    // The write itself still travels under the old key.
    QByteArray payload = sent.mid(1);
    clsNetwork::Encrypt(payload, clsNetwork::SequenceKey(kPasscode, static_cast<quint8>(sent[0])));
    EXPECT_EQ(static_cast<quint8>(payload[2]), 14);
    EXPECT_EQ(sessionState().passcode, QStringLiteral("9911A0"));
}
