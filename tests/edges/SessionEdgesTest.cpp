// Edges that only show in a running session: the keep-alive counter at the shortest answer that
// carries it, its two bytes in both orders; and the sequence number as it wraps from 255 to 1,
// seen in the datagrams the simulated panel received.
#include "network/NetFixture.h"

#include "PanelFrame.h"
#include "core/ErrorCodes.h"
#include "link/clsPanelMsg.h"
#include "link/modSDIFunctions.h"
#include "operations/frmHistory.h"
#include "operations/modDateTime.h"
#include "platform/Timing.h"

#include <QRadioButton>
#include <QUdpSocket>

using namespace nettest;

namespace {

class SessionEdges : public NetTest
{
protected:
    // Hands `answer` to the queue as the answer to its own "Keep Alive".
    void keepAlive(const QByteArray &answer)
    {
        QString guid;
        auto msg = messageRecord(QStringLiteral("Keep Alive"), guid);
        msg->setOwnerName(QStringLiteral("frmMsgQueue"));
        msg->setData(answer);
        sessionState().messageQueue->ResponseReceived(*msg);
        msgrecord::Discard(guid);
        waitFor([] { return false; }, 50); // the warning is shown from the event loop
        ASSERT_TRUE(sessionState().messageQueue);
        EXPECT_EQ(sessionState().LastErrorNumber, 0);
    }
};

} // namespace

TEST_F(SessionEdges, KeepAliveCounterAtTheShortestAnswerAndInBothByteOrders)
{
    startSession(false, true, 0);
    net->setConnected(true);
    QList<std::int16_t> warnings;
    queueLinks().eventWarning = [&](std::int16_t level) -> std::int16_t {
        warnings << level;
        return 0;
    };
    // Bytes 14 and 15 carry the count, low byte first: a 16-byte answer is the shortest that has
    // them, a 15-byte one has no count. (The queue hands the answer on as it came.)
    const auto answer = [](int size, int low, int high) {
        QByteArray data(size - 4, '\0');
        QByteArray frame = answerFrame(20, data);
        if (size > 14)
            frame[14] = static_cast<char>(low);
        if (size > 15)
            frame[15] = static_cast<char>(high);
        return frame;
    };
    struct Step
    {
        QByteArray answer;
        int count;           // the count kept afterwards
        QList<int> warnings; // all warnings so far
    };
    const QList<Step> steps{
        {answer(15, 0x34, 0), 0, {}},
        {answer(16, 0x01, 0x02), 0x0201, {0x0201}},
        {answer(16, 0x01, 0x02), 0x0201, {0x0201}},           // the same count again: nothing
        {answer(16, 0x02, 0x01), 0x0102, {0x0201, 0x0102}},   // the bytes swapped are another count
        {answer(17, 0x02, 0x01), 0x0102, {0x0201, 0x0102}},
        {answer(16, 0x00, 0x00), 0, {0x0201, 0x0102}},        // 0: kept, no warning
        {answer(16, 0x01, 0x00), 1, {0x0201, 0x0102, 1}},
        {answer(16, 0xFF, 0x7F), 0x7FFF, {0x0201, 0x0102, 1, 0x7FFF}},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.answer.toHex().constData());
        ASSERT_NO_FATAL_FAILURE(keepAlive(s.answer));
        EXPECT_EQ(modToolbox::LastPanelEventCount(), s.count);
        QList<int> seen;
        for (const std::int16_t w : warnings)
            seen << static_cast<std::uint16_t>(w);
        EXPECT_EQ(seen, s.warnings);
    }
}

TEST_F(SessionEdges, TheSequenceNumberWrapsFrom255To1)
{
    startPanel(true);
    startSession(true, true, sim->udpPort());
    net->SeqNum = 254;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
        ASSERT_TRUE(waitFor([&] { return owner.answers.size() == i; }, 8000)) << i;
    }
    const auto frames = captured();
    ASSERT_EQ(frames.size(), 3);
    EXPECT_EQ(frames[0].sequence, 255);
    EXPECT_EQ(frames[1].sequence, 1);
    EXPECT_EQ(frames[2].sequence, 2);
    for (const auto &f : frames)
        EXPECT_EQ(f.payload, QByteArray("LANVesk"));
}

TEST_F(SessionEdges, OnlyAWriteOfItem3Start0TakesTheNewPasscode)
{
    struct Case
    {
        int item;
        int start;
        bool takes;
    };
    for (const Case &c : {Case{3, 0, true}, Case{3, 1, false}, Case{2, 0, false}, Case{4, 0, false}, Case{0, 0, false}}) {
        SCOPED_TRACE(QStringLiteral("%1:%2").arg(c.item).arg(c.start).toStdString());
        QUdpSocket panel;
        ASSERT_TRUE(panel.bind(QHostAddress::LocalHost, 0));
        startSession(false, true, panel.localPort());
        net->setConnected(true);
        pif->passcode = QStringLiteral("9911A0");
        ASSERT_EQ(modSDIFunctions::SDIWriteItemBlock(c.item, c.start, QByteArray(30, '\x01'), &owner, 6, false), 0);
        ASSERT_TRUE(waitFor([&] { return panel.hasPendingDatagrams(); }, 5000));
        EXPECT_EQ(sessionState().passcode, c.takes ? QStringLiteral("9911A0") : kPasscode);
        TearDown();
        SetUp();
    }
}

TEST_F(SessionEdges, TheUnattendedClockWriteCarriesMonthDayYearHourMinuteAndNoonFlagInThatOrder)
{
    struct Case
    {
        QDateTime now;
        int adjustment;
        const char *bytes; // month, day, year, 12-hour hour, minute, PM flag
    };
    const QList<Case> cases{
        {QDateTime(QDate(2026, 3, 17), QTime(14, 5)), 0, "03111a020501"},
        {QDateTime(QDate(2026, 10, 5), QTime(0, 0)), 0, "0a051a000000"},
        {QDateTime(QDate(2026, 10, 5), QTime(12, 59)), -1, "0a051a0b3b00"},
        {QDateTime(QDate(2026, 10, 5), QTime(11, 59)), 1, "0a051a0c3b01"},
        {QDateTime(QDate(2026, 2, 28), QTime(23, 10)), 2, "03011a010a00"},
        {QDateTime(QDate(2027, 1, 1), QTime(0, 30)), -1, "0c1f1a0b1e01"},
    };
    startSession(false, true, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.now.toString(Qt::ISODate).toStdString());
        Timing::setCurrentDateTimeSource([&c] { return c.now; });
        settings->timeOffsetHours = static_cast<std::int16_t>(c.adjustment);
        const QStringList before = sessionState().guidRegistry->keys();
        ASSERT_EQ(modDateTime::UnattendedSetDateTime(5), 0);
        std::shared_ptr<clsPanelMsg> write;
        for (const QString &key : sessionState().guidRegistry->keys())
            if (auto cmd = std::dynamic_pointer_cast<clsPanelMsg>(sessionState().guidRegistry->get(key));
                cmd && !before.contains(key) && cmd->Name == QLatin1String("Change Panel Date"))
                write = cmd;
        ASSERT_TRUE(write);
        const QByteArray data = QByteArray(1, '\x16') + QByteArray::fromHex(c.bytes);
        EXPECT_EQ(write->OutputData.toHex(), panelsim::PanelFrame::request(panelsim::Addressing::Remote, 20, data).toHex());
    }
    Timing::setCurrentDateTimeSource({});
}

TEST_F(SessionEdges, EventIndexAnswersInsideTheRingAreTakenAndOneSlotPastItIsRefused)
{
    struct Case
    {
        int pointer, newest, size;
        std::int32_t error;
    };
    for (const Case &c : {Case{63, 63, 64, 0}, Case{64, 63, 64, ErrorCode::SendRefused}, Case{63, 64, 64, ErrorCode::SendRefused},
                          Case{64, 64, 64, ErrorCode::SendRefused}, Case{0, 0, 1, 0}, Case{0, 0, 0, ErrorCode::SendRefused},
                          Case{1, 1, 1, ErrorCode::SendRefused}}) {
        SCOPED_TRACE(QStringLiteral("pointer %1, newest %2, size %3").arg(c.pointer).arg(c.newest).arg(c.size).toStdString());
        sessionState().LastErrorNumber = 0;
        auto *window = new frmHistory();
        window->optCurrent->setChecked(true);
        QString guid;
        std::unique_ptr<clsMessage> msg = messageRecord(QStringLiteral("Request Event Index"), guid);
        msg->setOwnerName(window->Name());
        // Read pointer, newest index and ring size, each high byte first.
        msg->setData(answerFrame(0x14, bytes({c.pointer >> 8, c.pointer & 0xFF, c.newest >> 8, c.newest & 0xFF, c.size >> 8, c.size & 0xFF})));
        window->ResponseReceived(*msg);
        msgrecord::Discard(guid);
        EXPECT_EQ(sessionState().LastErrorNumber, c.error);
        delete window;
    }
}
