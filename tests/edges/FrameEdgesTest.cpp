// Panel frames at the edges of their rules: the checksum and length byte under every single-bit
// corruption, the NAK and callback shapes next to their neighbours, the smallest answer each
// request accepts and the one byte short of it, and every request frame the component builds
// compared byte for byte with the simulator's own framing of the same command.
#include "link/LinkFixture.h"

#include "PanelFrame.h"
#include "DatagramCodec.h"
#include "link/modExecFunctions.h"
#include "link/modModem.h"
#include "link/modSDIFunctions.h"
#include "link/modToolbox.h"

#include <functional>

using namespace linktest;
using panelsim::Addressing;
using panelsim::PanelFrame;
using Scanner = modModem::FrameScanner;
using Event = Scanner::Event;

namespace {

const char *name(Event e)
{
    switch (e) {
    case Event::NeedMore: return "NeedMore";
    case Event::Skipped: return "Skipped";
    case Event::Malformed: return "Malformed";
    case Event::BadChecksum: return "BadChecksum";
    case Event::Nak: return "Nak";
    case Event::CallbackRequest: return "CallbackRequest";
    case Event::Frame: return "Frame";
    case Event::NotTheAnswer: return "NotTheAnswer";
    }
    return "?";
}

// Feeds `stream` to a scanner stage by stage, as the receiver reads the port, and returns the first
// event that ends a frame (NeedMore when the bytes run out first).
Event scan(Scanner &scanner, const QByteArray &stream)
{
    qsizetype at = 0;
    while (at < stream.size()) {
        const int need = scanner.need();
        if (at + need > stream.size())
            return Event::NeedMore;
        const Event e = scanner.take(stream.mid(at, need));
        at += need;
        if (e != Event::NeedMore && e != Event::Skipped)
            return e;
    }
    return Event::NeedMore;
}

Event scan(Addressing a, const QByteArray &stream)
{
    Scanner scanner(a == Addressing::Remote);
    return scan(scanner, stream);
}

QByteArray flipped(QByteArray bytes, qsizetype index, int bit)
{
    bytes[index] = static_cast<char>(static_cast<std::uint8_t>(bytes.at(index)) ^ (1u << bit));
    return bytes;
}

} // namespace

TEST(FrameEdges, EverySingleBitOfTheChecksumOrLengthByteSpoilsTheFrame)
{
    const QList<QPair<int, QByteArray>> answers{
        {20, QByteArray::fromHex("0103070000")}, {15, QByteArray(112, '\x5A')}, {2, QByteArray(1, '\x0E')},
        {18, QByteArray::fromHex("ffffe0") + QByteArray(38, '\x81')}, {14, {}}};
    for (const Addressing a : {Addressing::Local, Addressing::Remote}) {
        for (const auto &[command, data] : answers) {
            const QByteArray good = PanelFrame::answer(a, static_cast<quint8>(command), data);
            SCOPED_TRACE(good.toHex().constData());
            ASSERT_EQ(scan(a, good), Event::Frame);
            // Garbage before the address byte is skipped.
            ASSERT_EQ(scan(a, QByteArray::fromHex("1155ee") + good), Event::Frame);
            const qsizetype last = good.size() - 1;
            for (int bit = 0; bit < 8; ++bit) {
                EXPECT_EQ(scan(a, flipped(good, last, bit)), Event::BadChecksum) << "checksum bit " << bit;
                // A length byte off by one bit: the frame ends elsewhere (or never), and what is cut
                // out is not accepted. Trailing filler lets a longer length complete.
                const QByteArray lengthHit = flipped(good, 1, bit) + QByteArray(300, '\0');
                const Event e = scan(a, lengthHit);
                EXPECT_TRUE(e == Event::BadChecksum || e == Event::Malformed) << "length bit " << bit << ": " << name(e);
            }
            // The answer address of the other addressing is not this frame's start.
            const QByteArray other = PanelFrame::answer(a == Addressing::Local ? Addressing::Remote : Addressing::Local,
                                                        static_cast<quint8>(command), data);
            EXPECT_NE(scan(a, other), Event::Frame);
        }
    }
}

TEST(FrameEdges, NakAndCallbackShapesAgainstTheirNeighbours)
{
    struct Case
    {
        Addressing addressing;
        int command;
        QByteArray data;
        Event expected;
    };
    const QList<Case> cases{
        {Addressing::Local, 2, {}, Event::Nak},
        {Addressing::Remote, 2, {}, Event::Nak},
        {Addressing::Local, 3, {}, Event::Frame},
        {Addressing::Remote, 1, {}, Event::Frame},
        {Addressing::Local, 2, QByteArray(1, '\0'), Event::Frame}, // a refusal, not a NAK
        {Addressing::Remote, 3, QByteArray(1, '\x08'), Event::CallbackRequest},
        {Addressing::Remote, 3, QByteArray(1, '\xFF'), Event::CallbackRequest},
        {Addressing::Local, 3, QByteArray(1, '\x08'), Event::Frame}, // only on remote links
        {Addressing::Remote, 3, QByteArray::fromHex("0800"), Event::Frame}, // length 4
        {Addressing::Remote, 4, QByteArray(1, '\x08'), Event::Frame},
        {Addressing::Remote, 2, QByteArray(1, '\x08'), Event::Frame},
    };
    for (const Case &c : cases) {
        const QByteArray frame = PanelFrame::answer(c.addressing, static_cast<quint8>(c.command), c.data);
        EXPECT_EQ(scan(c.addressing, frame), c.expected) << frame.toHex().constData();
    }
    // Every data bit but bit 3 alone leaves a command-3 frame an ordinary answer.
    for (int bit = 0; bit < 8; ++bit) {
        const QByteArray frame = PanelFrame::answer(Addressing::Remote, 3, QByteArray(1, static_cast<char>(1u << bit)));
        EXPECT_EQ(scan(Addressing::Remote, frame), bit == 3 ? Event::CallbackRequest : Event::Frame) << bit;
    }
    // A length byte of 0 makes no frame at all, on either link.
    EXPECT_EQ(scan(Addressing::Local, QByteArray::fromHex("6400ff")), Event::Malformed);
    EXPECT_EQ(scan(Addressing::Remote, QByteArray::fromHex("00007f")), Event::Malformed);
}

class FitsEdges : public LinkTest
{
protected:
    QByteArray request(const std::function<std::int32_t()> &procedure)
    {
        EXPECT_EQ(procedure(), 0);
        const auto command = newCommand();
        return command ? command->OutputData : QByteArray();
    }
};

TEST_F(FitsEdges, EachRequestTakesItsSmallestAnswerButNotOneByteLess)
{
    settings->hostDataMode = false;
    struct Case
    {
        const char *what;
        std::function<std::int32_t()> procedure;
        int command;       // of the answer
        QByteArray prefix; // data that must lead the answer
        int least;         // fewest data bytes (prefix included) that fit
        int most;          // most data bytes that fit (-1: no limit)
        int blockLength;
    };
    const QByteArray crcMarker = QByteArray::fromHex("ffffe0");
    const QList<Case> cases{
        {"status", [&] { return modExecFunctions::SMReqPanelStatus(&owner, 0, false); }, 20, {}, 4, -1, 0},
        {"keep-alive", [&] { return modExecFunctions::SMHeartBeat(&owner, 0, false); }, 20, {}, 4, -1, 0},
        {"date", [&] { return modExecFunctions::SMReqPanelDateTime(&owner, 0, false); }, 20, {}, 6, -1, 0},
        {"event index", [&] { return modExecFunctions::SMReqEventIndex(&owner, 0, false); }, 20, {}, 6, -1, 0},
        {"event log", [&] { return modExecFunctions::SMReqEventLog(4, &owner, 0, false); }, 20, {}, 4, -1, 0},
        {"block 8:16", [&] { return modSDIFunctions::SDIRequestItemBlock(8, 16, &owner, 0, false); }, 15, {}, 112, 112, 112},
        {"block 0:0", [&] { return modSDIFunctions::SDIRequestItemBlock(0, 0, &owner, 0, false); }, 15, {}, 2, 2, 2},
        {"CRC", [&] { return modSDIFunctions::SDIRequestCRC(&owner, 0, false); }, 18, crcMarker, 3 + 2 * 19, -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray req = request(c.procedure);
        ASSERT_GE(req.size(), 4);
        const auto answerOf = [&](int dataBytes) {
            QByteArray data = c.prefix.left(dataBytes);
            data.append(QByteArray(dataBytes - data.size(), '\x11'));
            return PanelFrame::answer(Addressing::Local, static_cast<quint8>(c.command), data);
        };
        EXPECT_FALSE(Scanner::Fits(req, answerOf(c.least - 1), c.blockLength)) << "one byte short";
        EXPECT_TRUE(Scanner::Fits(req, answerOf(c.least), c.blockLength)) << "exactly enough";
        EXPECT_EQ(Scanner::Fits(req, answerOf(c.least + 1), c.blockLength), c.most < 0) << "one byte more";
        // A refusal (command 2 and a detail byte) answers any request; the bare NAK shape does not.
        EXPECT_TRUE(Scanner::Fits(req, PanelFrame::refusal(Addressing::Local, 7), c.blockLength));
        EXPECT_FALSE(Scanner::Fits(req, PanelFrame::answer(Addressing::Local, 2), c.blockLength));
        // Another command's answer of the same size does not fit.
        const QByteArray good = answerOf(c.least);
        QByteArray otherCommand = PanelFrame::answer(Addressing::Local, static_cast<quint8>(c.command == 20 ? 15 : 20),
                                                     good.mid(3, good.size() - 4));
        EXPECT_FALSE(Scanner::Fits(req, otherCommand, c.blockLength));
    }

    // The CRC answer's marker: any one bit off in any of its three bytes and it is not the answer.
    const QByteArray crcRequest = request([&] { return modSDIFunctions::SDIRequestCRC(&owner, 0, false); });
    const QByteArray crcAnswer = PanelFrame::answer(Addressing::Local, 18, crcMarker + QByteArray(38, '\x42'));
    ASSERT_TRUE(Scanner::Fits(crcRequest, crcAnswer));
    for (int index = 3; index <= 5; ++index)
        for (int bit = 0; bit < 8; ++bit)
            EXPECT_FALSE(Scanner::Fits(crcRequest, flipped(crcAnswer, index, bit))) << index << ":" << bit;
}

class CommandFrameEdges : public LinkTest
{
};

// Every request, in both addressings, is exactly what the simulator frames for the command: the
// address, the length byte, the command and data bytes, and a checksum that makes the sum the
// request target of the link.
TEST_F(CommandFrameEdges, RequestsMatchTheSimulatorsFramingByteForByte)
{
    const QByteArray block = QByteArray::fromHex("00ff80017f10e4");
    const auto exec = [](int function, const QByteArray &data = {}) {
        QByteArray d(1, static_cast<char>(function));
        d.append(data);
        d.append(QByteArray(7 - d.size(), '\0'));
        return qMakePair(20, d);
    };
    struct Case
    {
        const char *what;
        std::function<std::int32_t()> procedure;
        QPair<int, QByteArray> expected; // command and data of the frame
        int timeOut;
    };
    const QList<Case> cases{
        {"event log 0x1234", [&] { return modExecFunctions::SMReqEventLog(0x1234, &owner, 0, false); }, exec(19, QByteArray::fromHex("011234")), 12},
        {"event log 0x01ff", [&] { return modExecFunctions::SMReqEventLog(0x01FF, &owner, 0, false); }, exec(19, QByteArray::fromHex("0101ff")), 12},
        {"event log 0xff80", [&] { return modExecFunctions::SMReqEventLog(0xFF80, &owner, 0, false); }, exec(19, QByteArray::fromHex("01ff80")), 12},
        {"set index 0x0180", [&] { return modExecFunctions::SMSetEventIndex(0x0180, &owner, 0, false); }, exec(20, QByteArray::fromHex("0180")), 12},
        {"set index 0x8001", [&] { return modExecFunctions::SMSetEventIndex(0x8001, &owner, 0, false); }, exec(20, QByteArray::fromHex("8001")), 12},
        {"event index", [&] { return modExecFunctions::SMReqEventIndex(&owner, 0, false); }, exec(19, QByteArray(1, '\0')), 12},
        {"goodbye 0", [&] { return modExecFunctions::SMPanelGoodbye(0, &owner, 0, false); }, exec(30, QByteArray(1, '\0')), 0},
        {"goodbye 1", [&] { return modExecFunctions::SMPanelGoodbye(1, &owner, 0, false); }, exec(30, QByteArray(1, '\1')), 0},
        {"status", [&] { return modExecFunctions::SMReqPanelStatus(&owner, 0, false); }, exec(26), 12},
        {"keep-alive", [&] { return modExecFunctions::SMHeartBeat(&owner, 0, false); }, exec(26), 12},
        {"date", [&] { return modExecFunctions::SMReqPanelDateTime(&owner, 0, false); }, exec(33), 12},
        {"clock", [&] { return modExecFunctions::SMChangeDateTime(12, 31, 26, 11, 59, 1, &owner, 0, false); }, exec(22, QByteArray::fromHex("0c1f1a0b3b01")), 12},
        {"exclusive on", [&] { return modExecFunctions::SMExclusiveCommand(true, &owner, 0, false); }, exec(40, QByteArray(1, '\xFF')), 12},
        {"exclusive off", [&] { return modExecFunctions::SMExclusiveCommand(false, &owner, 0, false); }, exec(40, QByteArray(1, '\0')), 12},
        {"CRC", [&] { return modSDIFunctions::SDIRequestCRC(&owner, 0, false); }, {18, {}}, 12},
        {"data lock", [&] { return modSDIFunctions::SDIRequestDataLock(&owner, 0, false); }, {15, QByteArray(2, '\0')}, 12},
        {"read 8:16", [&] { return modSDIFunctions::SDIRequestItemBlock(8, 16, &owner, 0, false); }, {15, QByteArray::fromHex("0810")}, 12},
        {"read 18:245", [&] { return modSDIFunctions::SDIRequestItemBlock(18, 245, &owner, 0, false); }, {15, QByteArray::fromHex("12f5")}, 12},
        {"write 3:0", [&] { return modSDIFunctions::SDIWriteItemBlock(3, 0, block, &owner, 0, false); }, {14, QByteArray::fromHex("0300") + block}, 12},
    };
    for (const bool remote : {false, true}) {
        settings->hostDataMode = remote;
        const Addressing a = remote ? Addressing::Remote : Addressing::Local;
        for (const Case &c : cases) {
            SCOPED_TRACE(QStringLiteral("%1, %2").arg(QLatin1String(c.what), remote ? QStringLiteral("remote") : QStringLiteral("local")).toStdString());
            ASSERT_EQ(c.procedure(), 0);
            const auto command = newCommand();
            ASSERT_TRUE(command);
            const QByteArray expected = PanelFrame::request(a, static_cast<quint8>(c.expected.first), c.expected.second);
            EXPECT_EQ(command->OutputData.toHex(), expected.toHex());
            EXPECT_TRUE(PanelFrame::hasRequestChecksum(a, command->OutputData));
            EXPECT_EQ(command->TimeOut, c.timeOut);
        }
    }
}

TEST_F(CommandFrameEdges, PasscodePairsAreTheSimulatorsPasscodeBytes)
{
    settings->hostDataMode = true;
    const QStringList passcodes{QStringLiteral("123456"), QStringLiteral("abcdef"), QStringLiteral("ABCDEF"),
                                QStringLiteral("fFfF0f"), QStringLiteral("9a8B7c"), QStringLiteral("12g456"),
                                QStringLiteral("x23456"), QStringLiteral("1"), QStringLiteral("0123456789"),
                                QString()};
    for (const QString &passcode : passcodes) {
        SCOPED_TRACE(passcode.toStdString());
        ASSERT_EQ(modExecFunctions::SMPasscode(passcode, &owner, 0, false), 0);
        const auto command = newCommand();
        ASSERT_TRUE(command);
        QByteArray data(1, '\x20'); // function 32
        data.append(panelsim::DatagramCodec::passcodeBytes(passcode));
        data.append('\0');
        EXPECT_EQ(command->OutputData.toHex(), PanelFrame::request(Addressing::Remote, 20, data).toHex());
    }
}
