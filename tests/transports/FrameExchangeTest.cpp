// The serial frame exchange as a session drives it: request procedures queue panel commands, the
// queue hands each to the modem transport, which exchanges frames with the simulated panel, and the
// owner gets the answer. Both addressing modes: a dial-up (remote) link and a direct (local) line.
#include "SerialFixture.h"

#include "PtyPort.h"
#include "core/ErrorCodes.h"
#include "link/modModem.h"
#include "queue/CQueue.h"

#include <QElapsedTimer>

#include <chrono>
#include <thread>

using namespace serialtest;
using testsupport::byteSum;
using testsupport::waitFor;

namespace {

enum class Line { Remote, Local };

} // namespace

class FrameExchangeTest : public SerialTest, public ::testing::WithParamInterface<Line>
{
protected:
    void SetUp() override
    {
        SerialTest::SetUp();
        sessionState().config.numOfNaks = 2; // RetryMax of new commands: three sends in all
    }

    bool remote() const { return GetParam() == Line::Remote; }

    void openLine(int idlePollMs = 200)
    {
        if (remote())
            dialUp();
        else
            directLine(idlePollMs);
    }

    // Lets the queue send until the owner has `count` answers or the session failed.
    bool settle(int count, int timeoutMs = 20000)
    {
        return waitFor([&] { return owner->answers.size() >= count || sessionState().LastErrorNumber != 0; }, timeoutMs);
    }
};

// Garbage before the answer is skipped without a resend; a NAK pauses and resends; a bad checksum is
// dropped and the wait goes on for about a second before the resend. Only the real answer arrives.
TEST_P(FrameExchangeTest, FaultyAnswersAreSkippedOrResentUntilTheRealOne)
{
    const struct
    {
        const char *fault;
        int idlePollMs; // the local panel's idle frame is a valid frame too: keep it out of a timed wait
        qint64 minMs;
        int retries;
        QString shown, logged;
    } cases[] = {
        {"garbage=7@passcode", 200, 0, 0, QStringLiteral("Receive: ["), modGlobals::GetCatalogString(329)},
        {"nak@passcode*2", 200, 2 * Timing::scaled(sessionState().config.sendAgainPauseTime), 2, QStringLiteral("NAK!"),
         QStringLiteral("No valid answer. Retry 2.")},
        {"badsum@passcode", 3000, Timing::scaled(1000) * 8 / 10, 1, QString(), QString()},
    };
    const int address = remote() ? 0x00 : 0x64, target = remote() ? 0x7F : 0xFF;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        if (&c != cases) {
            TearDown();
            SetUp();
        }
        faults = {QLatin1String(c.fault)};
        openLine(c.idlePollMs);
        const auto cmd = queuePasscode();
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(settle(1));
        EXPECT_GE(clock.elapsed(), c.minMs);
        ASSERT_EQ(owner->answers.size(), 1);
        EXPECT_EQ(owner->answers.first(), bytes({address, 0x03, 0x14, 0x20, (target - address - 0x03 - 0x14 - 0x20) & 0xFF}));
        EXPECT_EQ(cmd->RetryCount, c.retries);
        EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), c.retries + 1);
        EXPECT_EQ(sessionState().LastErrorNumber, 0);
        // The exchange completed in the queue: the message moved to the last-sent list.
        EXPECT_FALSE(queue->CurrentMessage());
        ASSERT_TRUE(queue->LastSentMessage());
        EXPECT_EQ(queue->LastSentMessage()->Name(), QStringLiteral("Passcode Verification"));
        EXPECT_TRUE(immediateText().contains(c.shown));
        EXPECT_TRUE(sessionLogText().contains(c.logged));
    }
}

// After 1 + RetryMax refused sends the session ends: with the passcode's own error for the
// passcode, with the retry error for any other command.
TEST_P(FrameExchangeTest, RetriesExhaustedEndTheSession)
{
    faults << QStringLiteral("nak@passcode*0") << QStringLiteral("nak@status*0");
    openLine();
    queuePasscode();
    ASSERT_TRUE(settle(1));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::PasscodeFailed);
    EXPECT_TRUE(owner->answers.isEmpty());
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 3);
    EXPECT_TRUE(errorLog().contains(QStringLiteral("SendCmd()")));
    EXPECT_TRUE(sessionLogText().contains(QStringLiteral("Retry limit of 2 exceeded.")));

    TearDown();
    SetUp();
    faults = {QStringLiteral("nak@status*0")};
    openLine();
    EXPECT_EQ(modExecFunctions::SMReqPanelStatus(owner.get(), 0, false), 0);
    ASSERT_TRUE(settle(1));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::RetriesExhausted);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Panel Status")), 3);
}

TEST_P(FrameExchangeTest, NoAnswerAwaitedCallsTheOwnerAtOnce)
{
    openLine();
    EXPECT_EQ(modExecFunctions::SMPanelGoodbye(0, owner.get(), 0, false), 0);
    ASSERT_TRUE(settle(1, 5000));
    ASSERT_EQ(owner->answers.size(), 1);
    // No answer was stored: the message still holds the goodbye frame it was queued with.
    const QByteArray data = owner->answers.first();
    ASSERT_EQ(data.size(), 11);
    EXPECT_EQ(static_cast<std::uint8_t>(data.at(0)), remote() ? 0x00 : 0xE4);
    EXPECT_EQ(static_cast<std::uint8_t>(data.at(3)), 30);
    EXPECT_EQ(owner->names.first(), QStringLiteral("Panel Goodbye"));
    EXPECT_TRUE(waitFor([this] { return sim->goodbyeReceived(); }, 2000));
}

TEST_P(FrameExchangeTest, VanishingPortEndsTheExchangeAtOnce)
{
    faults << QStringLiteral("silence@passcode*0");
    openLine(3000); // no idle frame may stand in for the missing answer
    queuePasscode();
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(Timing::scaled(2000)));
        sim->stop();
    });
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(settle(1));
    const qint64 elapsed = clock.elapsed();
    unplug.join();
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::Aborted);
    // Far sooner than the three five-second answer waits of a silent panel.
    EXPECT_LT(elapsed, Timing::scaled(9000));
    EXPECT_FALSE(modem->CommControl()->isOpen());
}

INSTANTIATE_TEST_SUITE_P(BothLines, FrameExchangeTest, ::testing::Values(Line::Remote, Line::Local),
                         [](const auto &info) { return info.param == Line::Remote ? "Modem" : "Direct"; });

// The direct line's idle frame (sent every 200 ms while the line is quiet) is a valid frame but
// never an answer: a panel that keeps silent on the passcode is not admitted, and a status request
// that goes unanswered once is sent again and gets its answer.
TEST_F(SerialTest, IdleFramesAreNeverTakenAsTheAnswer)
{
    sessionState().config.numOfNaks = 2;
    faults << QStringLiteral("silence@passcode*0");
    directLine(200);
    queuePasscode();
    ASSERT_TRUE(waitFor([] { return sessionState().LastErrorNumber != 0; }, 20000));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::PasscodeFailed);
    EXPECT_TRUE(owner->answers.isEmpty());
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 3);
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Not the answer: [64][02][00][99]")));

    TearDown();
    SetUp();
    faults = QStringList{QStringLiteral("silence@status")};
    directLine(200);
    EXPECT_EQ(modExecFunctions::SMReqPanelStatus(owner.get(), 0, false), 0);
    ASSERT_TRUE(waitFor([&] { return !owner->answers.isEmpty() || sessionState().LastErrorNumber != 0; }, 20000));
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
    ASSERT_EQ(owner->answers.size(), 1);
    EXPECT_EQ(owner->answers.first().size(), 17); // the whole status answer
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Panel Status")), 2);
}

// On a dial-up line an answer that comes after its wait ended would arrive while the next request
// waits: the passcode goes out again and the answer to that is taken; the first acknowledgement,
// coming later, is waited for and dropped, so the status request gets the status answer.
TEST_F(SerialTest, ALateAnswerIsNotPairedWithTheNextRequest)
{
    // Scaled: the first passcode's answer comes 900 ms late; each wait gives up after 500 ms.
    faults << QStringLiteral("late=9000@passcode");
    dialUp();
    queuePasscode();
    EXPECT_EQ(modExecFunctions::SMReqPanelStatus(owner.get(), 0, false), 0);
    ASSERT_TRUE(waitFor([&] { return owner->answers.size() >= 2 || sessionState().LastErrorNumber != 0; }, 20000));
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
    ASSERT_EQ(owner->names, (QStringList{QStringLiteral("Passcode Verification"), QStringLiteral("Request Panel Status")}));
    EXPECT_EQ(static_cast<std::uint8_t>(owner->answers.at(0).at(2)), 0x14);
    EXPECT_EQ(owner->answers.at(1).size(), 17);
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Late answer dropped: [00][03][14][20]")));
}

// On the direct line the frame taken in before a resend can be the late answer to the first
// transmission. It is dropped there and is not owed any more: once the resend is answered nothing
// waits for it, the heartbeat goes on and the goodbye goes out.
class LateKeepAliveTest : public SerialTest
{
protected:
    // Times a quarter of the protocol's: the order of the late answer and the idle frames below
    // holds with a margin of 125 ms either way.
    LateKeepAliveTest() : SerialTest(0.25) {}
};

TEST_F(LateKeepAliveTest, ALateAnswerTakenInBeforeTheResendIsNotAwaitedAgain)
{
    SessionState &state = sessionState();
    queue->queueServer()->HeartbeatTimer()->setInterval(2000);
    // A long gather window: a wait for an answer still owed would hold the line about 16 s here.
    state.config.timeToGatherBody = 60;
    // Protocol times: the first keep-alive's answer comes 5.5 s late, after its 5 s wait; the panel
    // sends its idle frame after 3 s of quiet (at 3 s and 6 s after the keep-alive), so the late
    // answer is the frame the line takes in before the resend.
    faults << QStringLiteral("late=5500@keepalive");
    directLine(3000);
    queue->setHeartbeatEnabled(true);
    // When the panel received each keep-alive (real ms on its clock).
    const auto keepAlives = [this] {
        QList<qint64> at;
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.direction == QLatin1String("in") && e.decoded.contains(QLatin1String("Request Panel Status")))
                at << e.elapsedMs;
        return at;
    };
    const auto answeredLate = [this] {
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.direction == QLatin1String("out") && e.note.contains(QLatin1String("late=")))
                return true;
        return false;
    };
    ASSERT_TRUE(waitFor([&] { return keepAlives().size() >= 4 || state.LastErrorNumber != 0; }, 30000));
    EXPECT_EQ(state.LastErrorNumber, 0);
    EXPECT_TRUE(answeredLate());
    EXPECT_EQ(modExecFunctions::SMPanelGoodbye(0, owner.get(), 0, false), 0);
    EXPECT_TRUE(waitFor([&] { return sim->goodbyeReceived(); }, 10000));

    // The first keep-alive went out twice; the next followed the resend's answer at the heartbeat's
    // pace, nowhere near the 16 s a wait for the answer already taken in would hold the line.
    const QList<qint64> at = keepAlives();
    ASSERT_GE(at.size(), 4);
    EXPECT_LT(at[2] - at[1], 6000);
    EXPECT_EQ(state.LastErrorNumber, 0);
}

// Only remote links carry callback requests.
TEST_F(SerialTest, CallbackRequestIsHonouredOncePerSession)
{
    faults << QStringLiteral("callback@passcode*2");
    dialUp();
    const auto first = queuePasscode();
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitFor([&] { return owner->answers.size() >= 1; }, 10000));
    EXPECT_TRUE(first->CallBackFlag);
    EXPECT_TRUE(sessionState().CallbackSession);
    // The request is not an answer: the message keeps the passcode frame it was queued with.
    ASSERT_EQ(owner->answers.first().size(), 11);
    EXPECT_EQ(static_cast<std::uint8_t>(owner->answers.first().at(3)), 32);
    EXPECT_EQ(sessionState().LastErrorNumber, 0);

    // The second request while the flag is set is an ordinary answer.
    const auto second = queuePasscode();
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitFor([&] { return owner->answers.size() >= 2; }, 10000));
    EXPECT_FALSE(second->CallBackFlag);
    EXPECT_EQ(owner->answers.at(1), bytes({0x00, 0x03, 0x03, 0x08, 0x71}));
}

// Answers that are not frames, from a line the test writes itself.
class MalformedAnswerTest : public SerialTest
{
protected:
    void SetUp() override
    {
        SerialTest::SetUp();
        QString why;
        ASSERT_TRUE(pty.open(QString(), &why)) << why.toStdString();
        pointPortAt(pty.devicePath());
        createModem(true);
        modem->setConnected(true);
        ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    }
    void TearDown() override
    {
        SerialTest::TearDown();
        pty.close();
    }

    panelsim::PtyPort pty;
};

// A zero length and a frame shorter than its length byte says are failed answers at once (the body
// wait gives up after one quiet gather window); the longest frame is found after noise; silence
// ends without a frame after the five-second answer wait.
TEST_F(MalformedAnswerTest, FailedAnswersLongestFrameAndSilence)
{
    QByteArray longest = bytes({0x00, 0xFF, 0x0F});
    for (int i = 0; i < 253; ++i)
        longest.append(static_cast<char>(i));
    longest.append(static_cast<char>((0x7F - byteSum(longest)) & 0xFF));
    const struct
    {
        const char *what;
        QByteArray line;
        std::int32_t result;
        QByteArray frame;
        qint64 minMs, maxMs;
    } cases[] = {
        {"length zero", bytes({0x00, 0x00, 0x14, 0x20}), ErrorCode::PanelNak, {}, 0, Timing::scaled(3000)},
        {"5 bytes announced, 2 sent", bytes({0x00, 0x05, 0x14, 0x20}), ErrorCode::PanelNak, {}, 0, Timing::scaled(3000)},
        {"longest after noise", bytes({0x55, 0xAA, 0x13}) + longest, 0, longest, 0, Timing::scaled(3000)},
        {"silence", {}, modModem::NoFrame, {}, Timing::scaled(5000) * 9 / 10, Timing::scaled(8000)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray frame("x");
        QElapsedTimer clock;
        clock.start();
        pty.write(c.line);
        EXPECT_EQ(modModem::ReceiveResponse(frame), c.result);
        EXPECT_EQ(frame, c.frame);
        EXPECT_GE(clock.elapsed(), c.minMs);
        EXPECT_LT(clock.elapsed(), c.maxMs);
    }
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Exit No input(Wait for body).")));
}
