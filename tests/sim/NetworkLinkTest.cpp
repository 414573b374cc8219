// The network panel over real UDP on 127.0.0.1, from the test thread.
#include <gtest/gtest.h>

#include "DatagramCodec.h"
#include "LinkEnvelope.h"
#include "PanelSimulator.h"
#include "SimClient.h"
#include "support/TestSupport.h"

#include <QFile>

using namespace panelsim;
using namespace simtest;

namespace {

const QString kKey = QStringLiteral("Quarvo-test-link-key-32-chars-ok");
const QString kPasscode = QStringLiteral("123456");

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// One request/answer on the network link: sequence byte, XOR with the sequence key, optional envelope.
class NetPeer
{
public:
    NetPeer(quint16 port, bool encrypted) : m_port(port), m_encrypted(encrypted) {}

    void send(quint8 seq, const QByteArray &payload)
    {
        const QByteArray datagram = DatagramCodec::encode(seq, payload, kPasscode, true);
        m_client.send(m_encrypted ? LinkEnvelope::encrypt(datagram, kKey, QByteArray(16, char(seq))) : datagram, m_port);
    }
    // Payload of the next datagram (empty when none), its sequence byte and sender port.
    QByteArray receive(quint8 *seq = nullptr, quint16 *fromPort = nullptr, int timeoutMs = 2000)
    {
        QByteArray raw = m_client.receive(timeoutMs, fromPort);
        if (raw.isEmpty())
            return {};
        if (m_encrypted) {
            EXPECT_TRUE(LinkEnvelope::hasEnvelopeLength(int(raw.size()))) << raw.size();
            raw = LinkEnvelope::decrypt(raw, kKey);
        }
        quint8 s = 0;
        QByteArray payload;
        DatagramCodec::decode(raw, kPasscode, true, &s, &payload);
        if (seq)
            *seq = s;
        return payload;
    }
    quint16 localPort() const { return m_client.localPort(); }

private:
    UdpClient m_client;
    quint16 m_port;
    bool m_encrypted;
};

} // namespace

TEST(PanelsimNetworkLink, EncryptedProbePasscodeAndGoodbyeRoundTrip)
{
    PanelConfig c;
    c.mode = LinkMode::Network;
    c.linkKey = kKey;
    c.passcode = kPasscode;
    PanelSimulator panel(c);
    QString error;
    ASSERT_TRUE(panel.start(&error)) << error.toStdString();
    ASSERT_NE(panel.udpPort(), 0);
    NetPeer peer(panel.udpPort(), true);

    quint8 seq = 0;
    peer.send(0x31, "LANVesk");
    EXPECT_EQ(peer.receive(&seq), QByteArray("CONNECT"));
    EXPECT_EQ(seq, 0x31);

    peer.send(0x32, execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(peer.receive(&seq).toHex(), QByteArray("0003142048"));
    EXPECT_EQ(seq, 0x32);
    peer.send(0x33, execFrame(true, 32, hex("6543210000")));
    EXPECT_EQ(static_cast<quint8>(peer.receive()[2]), 2); // refused

    peer.send(0x34, execFrame(true, 30, hex("01")));
    EXPECT_TRUE(peer.receive(nullptr, nullptr, 200).isEmpty()); // no answer awaited
    EXPECT_TRUE(panel.goodbyeReceived());
    EXPECT_TRUE(panel.resetRequested());
    EXPECT_EQ(panel.commandCount("Passcode Verification"), 2);
}

TEST(PanelsimNetworkLink, LocalConnTestAndClearDatagramsBesideEncryption)
{
    PanelConfig c;
    c.mode = LinkMode::Network;
    c.linkKey = kKey;
    c.passcode = kPasscode;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.start());
    // A clear probe is answered in the clear: the component may try either cipher setting.
    NetPeer clear(panel.udpPort(), false);
    clear.send(0x05, "LOCAL_CONN");
    EXPECT_TRUE(clear.receive().contains("OK"));
    NetPeer encrypted(panel.udpPort(), true);
    encrypted.send(0x06, "LOCAL_CONN");
    EXPECT_TRUE(encrypted.receive().contains("OK"));
}

TEST(PanelsimNetworkLink, CallbackRequestThenNetRingAndAnswerPasscode)
{
    PanelConfig c;
    c.mode = LinkMode::Network;
    c.passcode = kPasscode;
    c.callbackDelayMs = 30;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("callback@passcode"));
    ASSERT_TRUE(panel.start());
    NetPeer peer(panel.udpPort(), false);

    peer.send(0x40, "LANVesk");
    EXPECT_EQ(peer.receive(), QByteArray("CONNECT"));
    peer.send(0x41, execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(peer.receive(), hex("0003030871"));
    // The panel calls back with the net-ring datagram, then accepts the answer passcode.
    EXPECT_EQ(peer.receive(), QByteArray("LANVesk"));
    peer.send(0x42, execFrame(true, 32, hex("4829070000")));
    EXPECT_EQ(static_cast<quint8>(peer.receive()[2]), 2); // not before the call is answered
    peer.send(0x43, "ATA");
    EXPECT_EQ(peer.receive(), QByteArray("CONNECT"));
    peer.send(0x44, execFrame(true, 32, hex("4829070000")));
    EXPECT_EQ(peer.receive().toHex(), QByteArray("0003142048"));
}

TEST(PanelsimNetworkLink, DatagramFaultsSequenceDuplicateOtherPortLate)
{
    PanelConfig c;
    c.mode = LinkMode::Network;
    c.passcode = kPasscode;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("wrongseq@status"));
    ASSERT_TRUE(panel.addFault("duplicate@date"));
    ASSERT_TRUE(panel.addFault("otherport@crc"));
    ASSERT_TRUE(panel.addFault("late=300@eventindex"));
    ASSERT_TRUE(panel.start());
    NetPeer peer(panel.udpPort(), false);
    quint8 seq = 0;
    quint16 from = 0;

    peer.send(0x10, execFrame(true, 26));
    const QByteArray status = peer.receive(&seq);
    // A well-formed answer that carries another sequence byte (and that byte's key).
    EXPECT_EQ(seq, 0x11);
    EXPECT_EQ(byteSum(status), 0x7F);

    peer.send(0x12, execFrame(true, 33));
    const QByteArray date = peer.receive();
    EXPECT_EQ(date.size(), 10);
    EXPECT_EQ(peer.receive(), date);

    peer.send(0x13, requestFrame(true, 18, {}));
    EXPECT_EQ(peer.receive(nullptr, &from).size(), 45);
    EXPECT_NE(from, panel.udpPort());

    peer.send(0x14, execFrame(true, 19, hex("00")));
    EXPECT_TRUE(peer.receive(nullptr, nullptr, 100).isEmpty());
    EXPECT_EQ(peer.receive(nullptr, nullptr, 2000).size(), 10);
}

TEST(PanelsimNetworkLink, DateTimeChangeRefusalAndClock)
{
    PanelConfig c;
    c.mode = LinkMode::Network;
    c.passcode = kPasscode;
    c.clock = QDateTime(QDate(2009, 6, 30), QTime(23, 58));
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("refuse@setdate"));
    ASSERT_TRUE(panel.start());
    NetPeer peer(panel.udpPort(), false);

    peer.send(1, execFrame(true, 33));
    EXPECT_EQ(peer.receive().mid(3, 6), hex("061E090B3A01")); // 6/30/09 11:58 PM

    const QByteArray noonAugust = hex("080C07" "0C0001");    // 8/12/07 12:00 PM
    peer.send(2, execFrame(true, 22, noonAugust));
    EXPECT_EQ(static_cast<quint8>(peer.receive()[2]), 2);    // scripted refusal
    peer.send(3, execFrame(true, 22, hex("0D0107010000")));   // month 13
    EXPECT_EQ(static_cast<quint8>(peer.receive()[2]), 2);
    peer.send(4, execFrame(true, 22, noonAugust));
    EXPECT_EQ(static_cast<quint8>(peer.receive()[2]), 20);
    const QDateTime clock = panel.state().clock();
    EXPECT_EQ(clock.date(), QDate(2007, 8, 12));
    EXPECT_EQ(clock.time().hour(), 12);

    peer.send(5, execFrame(true, 22, hex("0101070B1E00")));   // 1/1/07 11:30 AM
    peer.receive();
    EXPECT_EQ(panel.state().clock().time().hour(), 11);
    EXPECT_EQ(panel.commandCount("Change Panel Date"), 4);
}

TEST(PanelsimNetworkLink, TraceFileHasOneJsonLinePerDatagram)
{
    const QString path = testsupport::privateRoot() + QStringLiteral("/sim-trace.jsonl");
    PanelConfig c;
    c.mode = LinkMode::Network;
    c.passcode = kPasscode;
    c.traceFile = path;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.start());
    NetPeer peer(panel.udpPort(), false);
    peer.send(7, execFrame(true, 32, hex("1234560000")));
    ASSERT_FALSE(peer.receive().isEmpty());
    panel.stop();

    const QList<QByteArray> lines = testsupport::readFile(path).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains("\"dir\":\"in\""));
    EXPECT_TRUE(lines[0].contains("Passcode Verification"));
    EXPECT_TRUE(lines[1].contains("\"dir\":\"out\""));
    EXPECT_EQ(panel.trace().size(), 2);
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}
