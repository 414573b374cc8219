// The network transport against the panel simulator over UDP on 127.0.0.1: sessions with and
// without encryption (probe, passcode, status, heartbeats, goodbye), sequence numbers, answers that
// must be ignored, NAK retries, block transfers, and what the panel saw on the wire, decoded with
// its own codec.
#include "NetFixture.h"

#include "core/ErrorCodes.h"
#include "queue/SessionEnd.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef QUARVO_HAVE_SIM

using namespace nettest;

namespace {

QByteArray execRequest(int function, const QByteArray &params = {})
{
    return remoteFrame(20, QByteArray(1, static_cast<char>(function)) + params.leftJustified(6, '\0'));
}
const QByteArray kPasscodeRequest = execRequest(32, bytes({0x12, 0x34, 0x56}));

// The next sequence number after `seq` (1..255, wrapping to 1), skipping numbers whose key is 0.
quint8 nextSequence(quint8 seq)
{
    do {
        seq = seq >= 255 ? 1 : static_cast<quint8>(seq + 1);
    } while (panelsim::DatagramCodec::sequenceKey(kPasscode, seq) == 0);
    return seq;
}

} // namespace

class NetworkSession : public NetTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(NetworkSession, ConnectsKeepsAliveAndSaysGoodbye)
{
    const bool encrypted = GetParam();
    connectAndAdmit(encrypted);
    ASSERT_GE(owner.answers.size(), 3);
    EXPECT_EQ(owner.answers[0].data, QByteArray("CONNECT"));
    EXPECT_EQ(owner.answers[1].data.toHex(), QByteArray("0003142048")); // passcode accepted

    // Heartbeats: the status request of the admission, then keep-alives owned by the queue.
    ASSERT_TRUE(waitFor([&] { return sim->commandCount(QStringLiteral("Request Panel Status")) >= 4; }, 5000));
    EXPECT_EQ(owner.count(QStringLiteral("Keep Alive")), 0);
    modGlobals::Disconnect(false, 0);
    ASSERT_TRUE(waitFor([&] { return sim->goodbyeReceived(); }, 5000));
    EXPECT_EQ(callback->withCode(3).size(), 1u);
    EXPECT_FALSE(errorLog().contains(QStringLiteral("ProcessKeepAlive")));

    // The panel's own capture: every datagram in the expected cipher setting, consecutive sequence
    // numbers, and the frames of the link.
    const auto frames = captured();
    ASSERT_GE(frames.size(), 7);
    for (int i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].encrypted, encrypted) << i;
        if (i > 0) {
            EXPECT_EQ(frames[i].sequence, nextSequence(frames[i - 1].sequence)) << i;
        }
        if (i > 1 && i < frames.size() - 1) {
            EXPECT_EQ(frames[i].payload, execRequest(26)) << i;
        }
    }
    EXPECT_EQ(frames[0].payload, QByteArray("LANVesk"));
    EXPECT_EQ(frames[1].payload, kPasscodeRequest);
    EXPECT_EQ(frames.last().payload, execRequest(30, bytes({0})));
}

INSTANTIATE_TEST_SUITE_P(Cipher, NetworkSession, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Encrypted" : "Clear"; });

TEST_F(NetTest, WithoutSequenceNumbersTheFirstDatagramCarriesZero)
{
    connectAndAdmit(false, [](panelsim::PanelConfig &c) { c.sequenceNumbers = false; }, false);
    const auto frames = captured(false);
    ASSERT_GE(frames.size(), 3);
    EXPECT_EQ(frames[0].sequence, 0);
    EXPECT_NE(frames[1].sequence, 0);
    EXPECT_EQ(frames[2].sequence, frames[1].sequence == 255 ? 1 : frames[1].sequence + 1);
    EXPECT_EQ(frames[1].payload, kPasscodeRequest); // no XOR
}

TEST_F(NetTest, ASequenceNumberWithKeyZeroIsSkipped)
{
    startPanel(true);
    startSession(true, true, sim->udpPort());
    // Passcode "...56": 0x56 + 0xAA is 0x100, key 0.
    ASSERT_EQ(clsNetwork::SequenceKey(kPasscode, 0xAA), 0);
    net->SeqNum = 0xA9;
    ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
    ASSERT_TRUE(waitFor([&] { return owner.answers.size() == 1; }, 3000));
    EXPECT_EQ(owner.answers[0].data, QByteArray("CONNECT"));
    const auto frames = captured();
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(frames[0].sequence, 0xAB);
}

TEST_F(NetTest, AnswersWithAnotherSequenceByteOrFromAnotherPortAreIgnored)
{
    // Before the link is up as after, an answer with another sequence byte is not taken, and
    // neither is an answer from another port: the probe times out and is sent again, a framed
    // request times out and goes again.
    faults << QStringLiteral("wrongseq@null") << QStringLiteral("wrongseq@passcode") << QStringLiteral("otherport@status");
    ASSERT_NO_FATAL_FAILURE(startPanel(true));
    ASSERT_NO_FATAL_FAILURE(startSession(true, true, sim->udpPort()));
    admitOnConnect();
    const std::function<void(clsMessage &)> admit = owner.onAnswer;
    owner.onAnswer = [&](clsMessage &msg) {
        if (msg.Name() == QLatin1String("Null Command") && msg.dataBytes() == "TIMEOUT")
            modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false);
        admit(msg);
    };
    ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
    ASSERT_TRUE(waitFor([&] { return admitted; }, 8000));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Null Command")), 2);
    ASSERT_GE(owner.answers.size(), 2);
    EXPECT_EQ(owner.answers[0].data, QByteArray("TIMEOUT"));
    EXPECT_EQ(owner.answers[1].data, QByteArray("CONNECT"));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 2);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Panel Status")), 2);
    EXPECT_EQ(owner.count(QStringLiteral("Passcode Verification")), 1);
    EXPECT_EQ(owner.count(QStringLiteral("Request Panel Status")), 1);
}

TEST_F(NetTest, NaksAreRetriedWithNewSequenceNumbersAndBeyondRetryMaxEndTheSession)
{
    sessionState().config.numOfNaks = 2;
    faults << QStringLiteral("nak@passcode*0");
    startPanel(false);
    startSession(false, true, sim->udpPort());
    admitOnConnect();
    ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
    ASSERT_TRUE(waitFor([&] { return !sessionState().messageQueue; }, 5000));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::RetriesExhausted);
    EXPECT_EQ(owner.count(QStringLiteral("Passcode Verification")), 0); // no NAK reached the owner
    EXPECT_TRUE(waitFor([&] { return sim->goodbyeReceived(); }, 2000)); // the link was up: goodbye
    EXPECT_FALSE(net->Connected());

    QList<quint8> sequences; // 1 + RetryMax sends, each under a new number
    for (const auto &f : captured())
        if (f.payload == kPasscodeRequest)
            sequences << f.sequence;
    ASSERT_EQ(sequences.size(), 3);
    EXPECT_NE(sequences[0], sequences[1]);
    EXPECT_NE(sequences[1], sequences[2]);
}

// Every block, then the blocks of one item, requested in block order; the host's data ends up equal
// to the panel's, each block written at its start record. Then the host's item 6 written back.
TEST_F(NetTest, PanelReceiveRequestsEveryBlockInOrderAndPanelSendWritesTheHostsItem)
{
    connectAndAdmit(true);
    sessionState().messageQueue->setHeartbeatEnabled(false);
    QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
    modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
    int next = 0;
    int insertFailures = 0;
    owner.onAnswer = [&](clsMessage &msg) {
        if (msg.Name() != QLatin1String("Request Item Block") && msg.Name() != QLatin1String("Request Data Lock"))
            return;
        insertFailures += modToolbox::InsertResponse(msg.dataBytes(), itemOf.value(next), startOf.value(next)) != 0;
        ++next;
    };
    int before = int(captured().size());
    ASSERT_EQ(modToolbox::PanelReceive(-1, &owner), 0);
    ASSERT_TRUE(waitFor([&] { return next == 213; }, 30000)) << next;
    EXPECT_EQ(insertFailures, 0);
    auto frames = captured().mid(before);
    ASSERT_EQ(frames.size(), 213);
    const panelsim::PanelState panelState = sim->state();
    for (int e = 0; e < 213; ++e) {
        ASSERT_EQ(frames[e].payload, remoteFrame(15, bytes({itemOf[e], startOf[e]}))) << e;
        ASSERT_EQ(panelState.block(itemOf[e], startOf[e]).size(), blockLen[e]) << e;
    }
    for (int item = 0; item < 19; ++item)
        EXPECT_EQ(pif->items[item].toHex(), panelState.itemBytes(item).toHex()) << item;

    owner.onAnswer = nullptr;
    before = int(captured().size());
    const int answered = owner.count(QStringLiteral("Request Item Block"));
    ASSERT_EQ(modToolbox::PanelReceive(8, &owner), 0);
    ASSERT_TRUE(waitFor([&] { return owner.count(QStringLiteral("Request Item Block")) == answered + 31; }, 10000));
    frames = captured().mid(before);
    ASSERT_EQ(frames.size(), 31);
    for (int i = 0; i < 31; ++i)
        EXPECT_EQ(frames[i].payload, remoteFrame(15, bytes({8, i * 8}))) << i;

    QByteArray item6(183, '\0'); // one block
    for (int i = 0; i < item6.size(); ++i)
        item6[i] = static_cast<char>(i * 7 + 3);
    pif->items[6] = item6;
    ASSERT_EQ(modToolbox::PanelSend(6, &owner), 0);
    ASSERT_TRUE(waitFor([&] { return owner.count(QStringLiteral("Write Item Block")) == 1; }, 5000));
    EXPECT_EQ(sim->state().block(6, 0).toHex(), item6.toHex());
}

TEST_F(NetTest, JunkFromThePanelsPortNeitherTurnsEncryptionOffNorEndsTheSession)
{
    settings->linkKeyMode = 0; // the link may choose its cipher while it is being probed
    // A panel that takes 100 ms to answer a heartbeat (the simulator runs in real time here): junk
    // meets many requests in flight.
    faults << QStringLiteral("late=100@keepalive*0");
    connectAndAdmit(true);
    const int statusBefore = sim->commandCount(QStringLiteral("Request Panel Status"));
    const int capturedBefore = int(captured().size());

    // Sent from the panel's own address and port, each kind cycling through every sequence byte:
    // 20-byte clear datagrams (once enough to switch encryption off), datagrams of every length
    // up to 100, a well-formed answer frame in the clear (from someone who knows the sequence
    // key), and envelopes opened with the real link key whose frames fail their checks.
    QList<QByteArray> junk;
    const QByteArray vector(16, '\x5A');
    for (int i = 0; i < 4 * 256; ++i) {
        const auto seq = static_cast<quint8>(i % 256);
        switch (i / 256) {
        case 0: junk << QByteArray(1, char(seq)) + QByteArray(19, 'x'); break;
        case 1: junk << QByteArray(1 + seq % 100, char(seq)); break;
        case 2: junk << panelsim::DatagramCodec::encode(seq, answerFrame(0x14, bytes({0x20})), kPasscode, true); break;
        default:
            junk << panelsim::LinkEnvelope::encrypt(
                panelsim::DatagramCodec::encode(seq, bytes({0, 3, 0x14, 0x20, 0}), kPasscode, true), kKey, vector);
        }
    }
    // About 2,000 a second for two seconds, while the heartbeats go on.
    int sent = 0;
    std::thread spoofer([&] {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000) {
            while (sent < clock.elapsed() * 2)
                sim->inject(junk[sent++ % junk.size()]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    waitFor([] { return false; }, 2300);
    spoofer.join();
    waitFor([] { return false; }, 300);

    EXPECT_GE(sent, 3900);
    EXPECT_TRUE(sessionState().EncryptionEnabled);
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
    ASSERT_TRUE(sessionState().messageQueue);
    EXPECT_TRUE(net->Connected());
    // The heartbeats were answered throughout, and still travel encrypted.
    EXPECT_GE(sim->commandCount(QStringLiteral("Request Panel Status")) - statusBefore, 8);
    const auto frames = captured().mid(capturedBefore);
    EXPECT_TRUE(std::all_of(frames.begin(), frames.end(), [](const Captured &f) { return f.encrypted; }));
}

#endif // QUARVO_HAVE_SIM
