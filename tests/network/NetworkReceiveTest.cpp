// What the network transport does with what arrives, with a plain UDP socket as the panel: datagrams
// that must be dropped (empty, a sequence byte alone, from another sender, an impossible length
// under the cipher), the LinkKeyMode rule, and the checks of an answer frame.
#include "NetFixture.h"

#include "core/ErrorCodes.h"
#include "link/modEncryption.h"
#include "link/modSDIFunctions.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

using namespace nettest;
using testsupport::waitFor;

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

class NetReceive : public NetTest
{
protected:
    // A message record holding `data`, as the queue hands it to DataReceived.
    std::unique_ptr<clsMessage> record(const QByteArray &data)
    {
        QString guid;
        EXPECT_EQ(modGlobals::GetGUID(guid), 0);
        auto msg = std::make_unique<clsMessage>();
        msg->Create(guid);
        guids << guid;
        msg->setData(data);
        return msg;
    }
    void TearDown() override
    {
        for (const QString &guid : guids)
            msgrecord::Discard(guid);
        NetTest::TearDown();
    }
    QStringList guids;
};

TEST_F(NetReceive, DatagramsThatCannotBeAnAnswerAreDroppedAtTheSocket)
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
    QUdpSocket stranger;                                        // right host, wrong port
    stranger.bind(QHostAddress::LocalHost, 0);
    stranger.writeDatagram(modEncryption::EncryptData(clearDatagram(seq, "CONNECT"), kKey), QHostAddress::LocalHost,
                           net->localPort());
    waitFor([] { return false; }, 150); // time for all five to arrive and be handled
    EXPECT_TRUE(owner.answers.isEmpty());
    EXPECT_TRUE(sessionState().EncryptionEnabled);

    fake.send(modEncryption::EncryptData(clearDatagram(seq, "CONNECT"), kKey));
    ASSERT_TRUE(waitFor([&] { return owner.answers.size() == 1; }, 2000));
    EXPECT_EQ(owner.answers[0].data, QByteArray("CONNECT"));
    EXPECT_EQ(net->SeqNumIn, seq);
    EXPECT_EQ(net->SeqNumOut, -1);
}

TEST_F(NetReceive, DataReceivedDropsShortDatagramsWithoutTouchingTheSession)
{
    startSession(false, true, 0);
    for (const QByteArray &data : {QByteArray(), QByteArray(1, '\x05')}) {
        auto msg = record(data);
        EXPECT_EQ(net->DataReceived(*msg), 0);
        EXPECT_TRUE(msg->dataBytes().isEmpty());
    }
    EXPECT_TRUE(sessionState().queueWindow);
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
}

TEST_F(NetReceive, LinkKeyModeDecidesWhetherAClearDatagramSwitchesEncryptionOff)
{
    startSession(true, true, 0);
    const QByteArray datagram = clearDatagram(0x10, QByteArray("0123456789ABCDEFGHI")); // 20 bytes
    ASSERT_EQ(datagram.size(), 20);

    settings->linkKeyMode = 2;
    auto dropped = record(datagram);
    EXPECT_EQ(net->DataReceived(*dropped), 0);
    EXPECT_TRUE(dropped->dataBytes().isEmpty());
    EXPECT_TRUE(sessionState().EncryptionEnabled);

    settings->linkKeyMode = 0;
    auto taken = record(datagram);
    EXPECT_EQ(net->DataReceived(*taken), 0);
    EXPECT_FALSE(sessionState().EncryptionEnabled);
    EXPECT_EQ(taken->dataBytes(), QByteArray("0123456789ABCDEFGHI"));
    EXPECT_EQ(net->SeqNumIn, 0x10);
}

TEST_F(NetReceive, AnswerFramesAreCheckedOnlyWhenValidatingOnAConnectedLink)
{
    startSession(false, true, 0);
    QByteArray response;
    const QByteArray good = answerFrame(20, bytes({0x20}));
    const QByteArray nak = answerFrame(2, {});
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
        {nak, ErrorCode::PanelNak},
        {callbackRequest, ErrorCode::CallbackRequested},
        {callbackRequest, 0}, // a second callback request in the session is an ordinary answer
    };
    for (const auto &c : cases) {
        net->setInBuffer(c.in);
        net->NetResponded = true;
        EXPECT_EQ(net->ReceiveResponse(response, true), c.result) << c.in.toHex().constData();
        EXPECT_EQ(response, c.in);
        EXPECT_FALSE(net->NetResponded);
        EXPECT_TRUE(net->inBufferBytes().isEmpty());
    }
    EXPECT_TRUE(sessionState().CallbackSession);
    net->setInBuffer(badSum);
    EXPECT_EQ(net->ReceiveResponse(response, false), 0);
}

TEST_F(NetReceive, SendingIsRefusedUntilTheLinkIsUpAndEndsTheAttempt)
{
    FakePanel fake;
    startSession(false, true, fake.port());
    ASSERT_EQ(modExecFunctions::SMPasscode(kPasscode, &owner, 6, false), 0);
    ASSERT_TRUE(waitFor([] { return sessionState().LastErrorNumber != 0; }, 2000));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::SendRefused);
    EXPECT_TRUE(fake.receive(50).isEmpty());
    EXPECT_TRUE(waitFor([] { return !sessionState().queueWindow; }, 2000)); // not connected: closed and unloaded
}

TEST_F(NetReceive, AWriteOfItem3TakesTheNewPasscodeForLaterSequenceKeys)
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
