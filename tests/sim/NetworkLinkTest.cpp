// The network panel over real UDP on 127.0.0.1, from the test thread, and the quarvo-panelsim command.
#include "SimClient.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

using namespace panelsim;
using namespace simtest;

namespace {
const QString kKey = QStringLiteral("Quarvo-test-link-key-32-chars-ok");
const QString kPasscode = QStringLiteral("123456");
} // namespace

TEST(PanelsimNetworkLink, EncryptedProbeLocalConnPasscodeAndGoodbye)
{
    const auto panel = startPanel({.mode = LinkMode::Network, .passcode = kPasscode, .linkKey = kKey});
    ASSERT_TRUE(panel);
    NetPeer peer(panel->udpPort(), kPasscode, kKey);
    quint8 seq = 0;
    peer.send(0x31, "LANVesk");
    EXPECT_EQ(peer.receive(&seq), QByteArray("CONNECT"));
    EXPECT_EQ(seq, 0x31);
    // The test probe is answered encrypted, and in the clear when it came in the clear: the
    // component may try either cipher setting.
    peer.send(0x05, "LOCAL_CONN");
    EXPECT_TRUE(peer.receive().contains("OK"));
    NetPeer clear(panel->udpPort(), kPasscode);
    clear.send(0x06, "LOCAL_CONN");
    EXPECT_TRUE(clear.receive().contains("OK"));

    peer.send(0x32, execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(peer.receive(&seq), hex("0003142048"));
    EXPECT_EQ(seq, 0x32);
    peer.send(0x33, execFrame(true, 32, hex("6543210000")));
    EXPECT_EQ(peer.receive().mid(2, 1), hex("02")); // refused
    peer.send(0x34, execFrame(true, 30, hex("01")));
    EXPECT_TRUE(peer.receive(nullptr, nullptr, 200).isEmpty()); // no answer awaited
    EXPECT_TRUE(panel->goodbyeReceived());
    EXPECT_TRUE(panel->resetRequested());
}

TEST(PanelsimNetworkLink, CallbackRequestThenNetRingAndAnswerPasscode)
{
    const auto panel = startPanel({.mode = LinkMode::Network, .passcode = kPasscode, .callbackDelayMs = 30}, {"callback@passcode"});
    ASSERT_TRUE(panel);
    NetPeer peer(panel->udpPort(), kPasscode);
    peer.send(0x41, execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(peer.receive(), hex("0003030871"));
    // The panel calls back with the net-ring datagram, then accepts the answer passcode once the
    // call is answered, not before.
    EXPECT_EQ(peer.receive(), QByteArray("LANVesk"));
    peer.send(0x42, execFrame(true, 32, hex("4829070000")));
    EXPECT_EQ(peer.receive().mid(2, 1), hex("02"));
    peer.send(0x43, "ATA");
    EXPECT_EQ(peer.receive(), QByteArray("CONNECT"));
    peer.send(0x44, execFrame(true, 32, hex("4829070000")));
    EXPECT_EQ(peer.receive(), hex("0003142048"));
}

TEST(PanelsimNetworkLink, DatagramFaultsSequenceDuplicateOtherPortLate)
{
    const auto panel = startPanel({.mode = LinkMode::Network, .passcode = kPasscode},
                                  {"wrongseq@status", "duplicate@date", "otherport@crc", "late=300@eventindex"});
    ASSERT_TRUE(panel);
    NetPeer peer(panel->udpPort(), kPasscode);
    quint8 seq = 0;
    quint16 from = 0;
    // A well-formed answer that carries another sequence byte (and that byte's key).
    peer.send(0x10, execFrame(true, 26));
    EXPECT_EQ(byteSum(peer.receive(&seq)), 0x7F);
    EXPECT_EQ(seq, 0x11);
    peer.send(0x12, execFrame(true, 33));
    const QByteArray date = peer.receive();
    EXPECT_EQ(date.size(), 10);
    EXPECT_EQ(peer.receive(), date);
    peer.send(0x13, requestFrame(true, 18, {}));
    EXPECT_EQ(peer.receive(nullptr, &from).size(), 45);
    EXPECT_NE(from, panel->udpPort());
    peer.send(0x14, execFrame(true, 19, hex("00")));
    EXPECT_TRUE(peer.receive(nullptr, nullptr, 100).isEmpty());
    EXPECT_EQ(peer.receive().size(), 10);
}

TEST(PanelsimNetworkLink, DateTimeChangeRefusalClockAndPrivateTrace)
{
    const QString trace = testsupport::privateRoot() + QStringLiteral("/sim-trace.jsonl");
    const auto panel = startPanel({.mode = LinkMode::Network, .passcode = kPasscode,
                                   .clock = QDateTime(QDate(2009, 6, 30), QTime(23, 58)), .traceFile = trace},
                                  {"refuse@setdate"});
    ASSERT_TRUE(panel);
    NetPeer peer(panel->udpPort(), kPasscode);
    peer.send(1, execFrame(true, 33));
    EXPECT_EQ(peer.receive().mid(3, 6), hex("061E090B3A01")); // 6/30/09 11:58 PM

    // A scripted refusal, month 13 and "12 AM" (midnight travels as 0 AM) refused, then
    // 8/12/07 12:00 PM and 1/1/07 11:30 AM taken.
    const QByteArray noonAugust = hex("080C070C0001");
    for (const auto &[data, answer, clock] : {std::tuple{noonAugust, 2, "2009-06-30 23"}, {hex("0D0107010000"), 2, "2009-06-30 23"},
                                              {hex("0101070C0000"), 2, "2009-06-30 23"},
                                              {noonAugust, 20, "2007-08-12 12"}, {hex("0101070B1E00"), 20, "2007-01-01 11"}}) {
        peer.send(2, execFrame(true, 22, data));
        EXPECT_EQ(static_cast<quint8>(peer.receive()[2]), answer) << clock;
        EXPECT_EQ(panel->state().clock().toString("yyyy-MM-dd hh"), QLatin1String(clock));
    }
    EXPECT_EQ(panel->commandCount("Change Panel Date"), 5);
    panel->stop();

    // One JSON line per datagram, in a file only its owner reads.
    const QList<QByteArray> lines = testsupport::readFile(trace).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 12);
    EXPECT_TRUE(lines[0].contains("\"dir\":\"in\"") && lines[0].contains("Request Panel Date"));
    EXPECT_TRUE(lines[1].contains("\"dir\":\"out\""));
    EXPECT_EQ(QFile::permissions(trace) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

TEST(PanelsimCommand, HelpExplainsEveryOptionAndANetworkPanelServesUntilTerminated)
{
    const QString command = QStringLiteral(QUARVO_BINARY_DIR "/sim/quarvo-panelsim");
    ASSERT_TRUE(QFileInfo::exists(command));
    QProcess help;
    help.start(command, {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    for (const char *option : {"--mode", "--passcode", "--link-key", "--seed", "--panel-type", "--revision",
                               "--status-byte", "--data-lock", "--port", "--symlink", "--trace", "--time-scale",
                               "--fault", "--connect-delay", "--slots-per-answer", "--event-counter", "--clock"})
        EXPECT_TRUE(text.contains(option)) << option;

    QProcess p;
    p.start(command, {"--mode", "network", "--passcode", "654321", "--trace", "-"});
    ASSERT_TRUE(p.waitForStarted(10000) && p.waitForReadyRead(10000));
    const QByteArray banner = p.readLine();
    const quint16 port = quint16(banner.mid(banner.lastIndexOf(':') + 1).trimmed().split(' ').first().toUInt());
    ASSERT_NE(port, 0) << banner.toStdString();
    NetPeer peer(port, QStringLiteral("654321"));
    peer.send(9, "LOCAL_CONN");
    EXPECT_TRUE(peer.receive(nullptr, nullptr, 5000).contains("OK"));
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().contains("\"decoded\":\"seq 9 Null Command LOCAL_CONN\""));
}
