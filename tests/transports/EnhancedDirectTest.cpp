// The enhanced direct transport on a pseudo-terminal: the envelope on the wire and a silent panel
// (a bare pty that never answers), the answers ReceiveResponse must refuse (written straight into
// the line), and the simulator's faults, each of which must end in a retry and never in a
// corrupted answer.
#include "SerialFixture.h"

#include "DatagramCodec.h"
#include "PanelFrame.h"
#include "PtyPort.h"
#include "SerialEnvelope.h"
#include "core/ErrorCodes.h"
#include "transports/clsEnhancedDirect.h"

#include <QTimer>

using namespace serialtest;
using testsupport::waitFor;

namespace {

const QString kPasscode = QStringLiteral("123456");

// What the panel puts on the line: the envelope around sequence byte + payload (XOR-ed with the
// key of that byte), built with the simulator's own codec.
QByteArray panelEnvelope(quint8 sequence, const QByteArray &payload)
{
    return panelsim::SerialEnvelope::wrap(panelsim::DatagramCodec::encode(sequence, payload, kPasscode, true));
}

// The passcode answer of a remote panel: 00 03 14 20 and the checksum making the sum 7F.
const QByteArray kPasscodeAnswer = panelsim::PanelFrame::answer(panelsim::Addressing::Remote, 0x14, bytes({0x20}));

} // namespace

class EnhancedDirectTest : public SerialTest
{
protected:
    void SetUp() override
    {
        SerialTest::SetUp();
        SessionState &state = sessionState();
        state.passcode = kPasscode;
        state.SequenceNumbersEnabled = true;
        state.config.numOfNaks = 2;
        settings->hostDataMode = true;
        settings->responseTimeout = QStringLiteral("2");
    }

    void TearDown() override
    {
        sessionState().currentTransport.reset();
        enhanced.reset();
        fake.close();
        SerialTest::TearDown();
    }

    // The transport on port kPortNumber, prepared, and connected as the handshake leaves it.
    void createEnhanced(bool connected)
    {
        enhanced = std::make_shared<clsEnhancedDirect>();
        enhanced->CommPort = kPortNumber;
        sessionState().currentTransport = enhanced;
        ASSERT_EQ(enhanced->PortPrep(nullptr, true), 0);
        enhanced->setConnected(connected);
    }

    // A line with nobody on the far end but the test.
    void fakeLine(bool connected)
    {
        QString why;
        ASSERT_TRUE(fake.open(QString(), &why)) << why.toStdString();
        pointPortAt(fake.devicePath());
        createEnhanced(connected);
    }

    void enhancedPanel(const QStringList &panelFaults)
    {
        faults = panelFaults;
        panelsim::PanelConfig config;
        config.mode = panelsim::LinkMode::EnhancedDirect;
        config.passcode = kPasscode;
        ASSERT_NO_FATAL_FAILURE(startPanel(config));
        createEnhanced(true);
    }

    std::shared_ptr<clsEnhancedDirect> enhanced;
    panelsim::PtyPort fake;
};

class SilentPanel : public EnhancedDirectTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(SilentPanel, GetsTheFrameInANewEnvelopeAfterEachAnswerWaitUntilRetryMaxIsExceeded)
{
    const bool sequenceNumbers = GetParam();
    sessionState().SequenceNumbersEnabled = sequenceNumbers;
    ASSERT_NO_FATAL_FAILURE(fakeLine(false));
    // The far end notes when each envelope starts to arrive.
    QByteArray wire;
    QList<qint64> starts;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QByteArray more = fake.readAvailable();
        for (qsizetype i = 0; i < more.size(); ++i)
            if ((wire.size() + i) % 18 == 0)
                starts << Timing::nowMs();
        wire += more;
    });
    poll.start();

    // "LOCAL_CONN": a 10-byte frame.
    ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LOCAL_CONN"), owner.get(), 0, false), 0);
    ASSERT_TRUE(waitFor([] { return sessionState().LastErrorNumber != 0; }, 10000));
    waitFor([] { return false; }, 50);
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::RetriesExhausted);
    EXPECT_TRUE(owner->answers.isEmpty());
    EXPECT_EQ(errorLog().count(QStringLiteral("0x800413A7 clsEnhancedDirect ReceiveResponse()")), 3);

    // 1 + RetryMax envelopes: 02 FF FF FF FF 00 0B, the sequence byte, the 10 frame bytes.
    ASSERT_EQ(wire.size(), 3 * 18) << wire.toHex().constData();
    QList<quint8> sequences;
    for (int i = 0; i < 3; ++i) {
        const QByteArray envelope = wire.mid(i * 18, 18);
        EXPECT_EQ(envelope.left(7).toHex(), QByteArray("02ffffffff000b"));
        const auto sequence = static_cast<quint8>(envelope.at(7));
        QByteArray frame = envelope.mid(8);
        if (sequenceNumbers)
            frame = panelsim::DatagramCodec::xorWith(frame, panelsim::DatagramCodec::sequenceKey(kPasscode, sequence));
        EXPECT_EQ(frame, QByteArray("LOCAL_CONN")) << i;
        sequences << sequence;
    }
    EXPECT_NE(sequences[0], sequences[1]);
    EXPECT_NE(sequences[1], sequences[2]);
    if (!sequenceNumbers) {
        EXPECT_EQ(sequences[0], 0); // the first datagram of a link without sequence numbers
    }
    // Each resend follows a whole answer wait of ResponseTimeout (2 s of protocol time; the far
    // end notices an envelope up to a wait slice late).
    ASSERT_EQ(starts.size(), 3);
    for (int i = 1; i < 3; ++i) {
        EXPECT_GE(starts[i] - starts[i - 1], Timing::scaled(2000) * 3 / 4) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequence, SilentPanel, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Numbered" : "Unnumbered"; });

TEST_F(EnhancedDirectTest, ReceiveResponseHandsOutOnlyACheckedAnswerAndNeverReadsPastAHeaderOf300)
{
    ASSERT_NO_FATAL_FAILURE(fakeLine(true));
    QSerialPort *port = enhanced->CommControl();
    QByteArray badSum = kPasscodeAnswer;
    badSum[4] = static_cast<char>(badSum[4] + 1);
    QByteArray badMarker = panelEnvelope(0x21, kPasscodeAnswer);
    badMarker[0] = '\x03';
    const QByteArray body20(20, '\x55');
    const struct
    {
        const char *what;
        QByteArray line;
        std::int32_t result;
        qint64 leftUnread;
    } cases[] = {
        {"the answer", panelEnvelope(0x21, kPasscodeAnswer), 0, 0},
        {"another sequence byte first", panelEnvelope(0x20, kPasscodeAnswer) + panelEnvelope(0x21, kPasscodeAnswer), 0, 0},
        {"first byte not 2", badMarker, ErrorCode::PanelNak, 6},
        {"length 0", bytes({2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}), ErrorCode::PanelNak, 0},
        {"length 300", bytes({2, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x2C}) + body20, ErrorCode::EnhancedLengthTooLong, 20},
        {"bad checksum", panelEnvelope(0x21, badSum), ErrorCode::BadChecksum, 0},
        {"noise before the frame", panelEnvelope(0x21, bytes({0x33, 0x44}) + kPasscodeAnswer), ErrorCode::BadChecksum, 0},
        {"NAK", panelEnvelope(0x21, panelsim::PanelFrame::nak(panelsim::Addressing::Remote)), ErrorCode::PanelNak, 0},
        {"a header without its body", bytes({2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 10, 0x21}), ErrorCode::NoCompleteAnswer, 1},
        {"nothing", QByteArray(), ErrorCode::NoCompleteAnswer, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        enhanced->SeqNumOut = 0x21; // the sequence byte of the request this answers
        port->clear(QSerialPort::Input);
        fake.write(c.line);
        QByteArray response;
        EXPECT_EQ(enhanced->ReceiveResponse(response, true), c.result);
        EXPECT_EQ(response, c.result == 0 ? kPasscodeAnswer : QByteArray());
        EXPECT_FALSE(enhanced->NetResponded);
        EXPECT_TRUE(enhanced->inBufferBytes().isEmpty());
        // What follows a rejected header stays in the line, unread.
        EXPECT_TRUE(waitFor([&] { return port->bytesAvailable() >= c.leftUnread; }, 500));
        EXPECT_EQ(port->bytesAvailable(), c.leftUnread);
    }
}

TEST_F(EnhancedDirectTest, PanelFaultsAreRetriedAndOnlyTheRealAnswerReachesTheOwner)
{
    const struct
    {
        const char *fault;
        std::int32_t failure; // what the failed answer was, as reported
    } cases[] = {
        {"badsum@passcode", ErrorCode::BadChecksum},
        {"garbage=4@passcode", ErrorCode::BadChecksum},
        {"nak@passcode", ErrorCode::PanelNak},
        {"badheader@passcode", ErrorCode::PanelNak},
        {"badlength@passcode", ErrorCode::EnhancedLengthTooLong},
        {"silence@passcode", ErrorCode::NoCompleteAnswer},
        {"wrongseq@passcode", ErrorCode::NoCompleteAnswer},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(enhancedPanel({QLatin1String(c.fault)}));
        const qsizetype errorsBefore = errorLog().size();
        owner->answers.clear();
        queuePasscode();
        ASSERT_TRUE(waitFor([&] { return !owner->answers.isEmpty(); }, 5000));
        waitFor([] { return false; }, 50);
        EXPECT_EQ(owner->answers, QList<QByteArray>{kPasscodeAnswer});
        EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 2);
        const QString code = QStringLiteral("0x%1 clsEnhancedDirect ReceiveResponse()").arg(QString::number(quint32(c.failure), 16).toUpper());
        EXPECT_TRUE(errorLog().mid(errorsBefore).contains(code)) << errorLog().mid(errorsBefore).toStdString();
        EXPECT_EQ(sessionState().LastErrorNumber, 0);
        sessionState().currentTransport.reset();
        enhanced.reset();
        sim->stop();
    }

    // A panel that always fails: the session ends after RetryMax resends, the owner hears nothing.
    ASSERT_NO_FATAL_FAILURE(enhancedPanel({QStringLiteral("badheader@passcode*0")}));
    owner->answers.clear();
    queuePasscode();
    ASSERT_TRUE(waitFor([] { return sessionState().LastErrorNumber != 0; }, 5000));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::RetriesExhausted);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 3);
    EXPECT_TRUE(owner->answers.isEmpty());
}
