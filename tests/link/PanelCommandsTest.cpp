// The panel command object and every request procedure: the frame in both link modes byte for byte
// from the command table and the frame rules, registration, and values that cannot be framed.
#include "LinkFixture.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "link/modExecFunctions.h"
#include "link/modSDIFunctions.h"

#include <functional>
#include <numeric>

using linktest::hex;
using namespace modExecFunctions;
using namespace modSDIFunctions;

namespace {

class PanelCommands : public linktest::LinkTest
{
};

TEST_F(PanelCommands, SendCmdFramesInBothModes)
{
    struct Row { int command, function; const char *params; bool remote; const char *frame; int timeOut; };
    const Row rows[] = {
        {40, 2, "99 0510", false, "E4 04 28 0510 5A", 12}, // element 0 of the parameters is never sent
        {40, 2, "99 0510", true, "00 04 28 0510 BE", 12},
        {20, 7, "", false, "E4 09 14 07 000000000000 77", 12}, // command 20 always takes 11 bytes
        {20, 7, "AA 010203040506", true, "00 09 14 07 010203040506 C6", 12},
        {20, 30, "", false, "E4 09 14 1E 000000000000 60", 0}, // function 30 awaits no answer
        {20, 0, "4C00FF41", false, "4C00FF41", 12},            // function 0 sends the parameters untouched
        {15, 0, "4C00FF41", true, "4C00FF41", 12},
        {20, 0, "", true, "", 12},
    };
    // One command object throughout: no value of an earlier frame may linger in the next.
    auto msg = clsPanelMsg::create();
    for (const Row &r : rows) {
        SCOPED_TRACE(r.frame);
        settings->hostDataMode = r.remote;
        msg->MsgParams = hex(r.params);
        ASSERT_EQ(msg->SendCmd(r.command, r.function), 0);
        EXPECT_EQ(msg->OutputData.toHex().toUpper(), hex(r.frame).toHex().toUpper());
        EXPECT_EQ(msg->TimeOut, r.timeOut);
    }
}

TEST_F(PanelCommands, SendCmdRefusesWhatAFrameCannotCarry)
{
    // A seventh execution data byte would be overwritten by the checksum, an eighth would not fit;
    // one data byte more than the longest frame, or numbers outside a byte, overflow.
    struct Row { int command, function, params; std::int32_t error; const char *where; };
    const Row rows[] = {
        {20, 5, 8, ErrorCode::SubscriptOutOfRange, "clsPanelMsg OutputBuffer[Get]"},
        {20, 5, 9, ErrorCode::SubscriptOutOfRange, "clsPanelMsg OutputBuffer[Get]"},
        {14, 26, 255, ErrorCode::Overflow, "clsPanelMsg Length[Get]"},
        {276, 2, 0, ErrorCode::Overflow, "clsPanelMsg SendCmd()"},
        {20, -1, 0, ErrorCode::Overflow, "clsPanelMsg SendCmd()"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.where);
        auto msg = clsPanelMsg::create();
        msg->MsgParams = QByteArray(r.params, '\x02');
        EXPECT_EQ(msg->SendCmd(r.command, r.function), r.error);
        EXPECT_TRUE(msg->OutputData.isEmpty());
        EXPECT_TRUE(msg->OutputBuffer().isEmpty());
        EXPECT_EQ(msg->Length() == 0, r.command == 14); // only the overlong frame has no length: Length[Get]
        EXPECT_TRUE(errorLog().contains(QLatin1String(r.where)));
    }
}

TEST_F(PanelCommands, RegistersItselfWithTheRetryLimitAndStaysAliveWhileRegistered)
{
    sessionState().config.numOfNaks = 3;
    auto msg = clsPanelMsg::create();
    EXPECT_EQ(msg->RetryMax, 3);
    const QString key = msg->szGUID();
    std::weak_ptr<clsPanelMsg> weak = msg;
    msg.reset();
    EXPECT_FALSE(weak.expired());
    sessionState().guidRegistry->remove(key);
    EXPECT_TRUE(weak.expired());
}

TEST_F(PanelCommands, EveryProcedureBuildsItsCommandInBothModes)
{
    struct Case
    {
        std::function<std::int32_t(const MsgOwner &)> call; // priority 7, automatic
        const char *name, *description, *local, *remote;     // frames with HostDataMode false / true
        bool abort = false;
        std::int16_t timeOut = 12;
    };
    const Case cases[] = {
        {[](auto &o) { return SDIRequestCRC(o, 7, true); }, "Request CRC", "SDI - Request CRC", "E4 02 12 87", "00 02 12 EB"},
        {[](auto &o) { return SDIWriteItemBlock(3, 0, hex("AABB"), o, 7, true); }, "Write Item Block", "SDI - WID3:0",
         "E4 06 0E 0300 AABB 1F", "00 06 0E 0300 AABB 83"},
        {[](auto &o) { return SDIRequestItemBlock(5, 16, o, 7, true); }, "Request Item Block", "SDI - RID5:16",
         "E4 04 0F 0510 73", "00 04 0F 0510 D7"},
        {[](auto &o) { return SDIRequestDataLock(o, 7, true); }, "Request Data Lock", "SDI - Request Data Lock",
         "E4 04 0F 0000 88", "00 04 0F 0000 EC"},
        {[](auto &o) { return SMNullCommand("LANVesk", o, 7, true); }, "Null Command",
         "EXEC - Null Command: Send [4C][41][4E][56][65][73][6B]", "4C414E5665736B", "4C414E5665736B"},
        {[](auto &o) { return SMWaitCommand(o, 7, true); }, "Wait Command", "EXEC - Wait Command", "", ""},
        {[](auto &o) { return SMSetEventIndex(0x1234, o, 7, true); }, "Set Event Index", "EXEC - Set Event Index",
         "E4 09 14 14 123400000000 24", "00 09 14 14 123400000000 88"},
        {[](auto &o) { return SMReqEventLog(0x1234, o, 7, true); }, "Request Event Log", "EXEC - Request Event Log 4660",
         "E4 09 14 13 011234000000 24", "00 09 14 13 011234000000 88"},
        {[](auto &o) { return SMReqEventIndex(o, 7, true); }, "Request Event Index", "EXEC - Request Event Log Indexes",
         "E4 09 14 13 000000000000 6B", "00 09 14 13 000000000000 CF"},
        {[](auto &o) { return SMPanelGoodbye(1, o, 7, true); }, "Panel Goodbye", "EXEC - Disconnect from the Panel",
         "E4 09 14 1E 010000000000 5F", "00 09 14 1E 010000000000 C3", false, 0},
        {[](auto &o) { return SMPasscode(QStringLiteral("123456"), o, 7, true); }, "Passcode Verification",
         "EXEC - Verifying Passcode 123456", "E4 09 14 20 123456000000 C2", "00 09 14 20 123456000000 26"},
        {[](auto &o) { return SMReqPanelStatus(o, 7, true); }, "Request Panel Status", "EXEC - Request Panel Status",
         "E4 09 14 1A 000000000000 64", "00 09 14 1A 000000000000 C8", true},
        {[](auto &o) { return SMReqPanelDateTime(o, 7, true); }, "Request Panel Date", "EXEC - Request Panel Date and Time",
         "E4 09 14 21 000000000000 5D", "00 09 14 21 000000000000 C1"},
        {[](auto &o) { return SMHeartBeat(o, 7, true); }, "Keep Alive", "EXEC - Heartbeat sent every 20 seconds",
         "E4 09 14 1A 000000000000 64", "00 09 14 1A 000000000000 C8"},
        {[](auto &o) { return SMChangeDateTime(12, 6, 26, 14, 30, 5, o, 7, true); }, "Change Panel Date",
         "EXEC - Change Panel Date and Time to 12/6/26 14:30 5", "E4 09 14 16 0C061A0E1E05 0B", "00 09 14 16 0C061A0E1E05 6F"},
        {[](auto &o) { return SMExclusiveCommand(true, o, 7, true); }, "Exclusive Command", "EXEC - Exclusive ON",
         "E4 09 14 28 FF0000000000 57", "00 09 14 28 FF0000000000 BB"},
        {[](auto &o) { return SMExclusiveCommand(false, o, 7, true); }, "Exclusive Command", "EXEC - Exclusive OFF",
         "E4 09 14 28 000000000000 56", "00 09 14 28 000000000000 BA"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        for (bool remote : {false, true}) {
            settings->hostDataMode = remote;
            ASSERT_EQ(c.call(MsgOwner(&owner)), 0);
            const auto msg = newCommand();
            ASSERT_TRUE(msg);
            EXPECT_EQ(msg->OutputData.toHex().toUpper(), hex(remote ? c.remote : c.local).toHex().toUpper()) << remote;
            EXPECT_EQ(msg->Name, QLatin1String(c.name));
            EXPECT_EQ(msg->Description, QLatin1String(c.description));
            EXPECT_EQ(msg->Priority, 7);
            EXPECT_TRUE(msg->Auto);
            EXPECT_EQ(msg->Abort, c.abort);
            EXPECT_EQ(msg->TimeOut, c.timeOut);
            EXPECT_EQ(msg->Parent.address(), &owner);
        }
    }
    sessionState().config.hbInterval = 2500;
    ASSERT_EQ(SMHeartBeat(&owner, 0, false), 0);
    EXPECT_EQ(newCommand()->Description, QStringLiteral("EXEC - Heartbeat sent every 2.5 seconds"));
}

TEST_F(PanelCommands, PasscodePairsAreReadAsHexadecimalAndValuesThatDoNotFitAreRefused)
{
    const std::pair<const char *, const char *> list[] = {
        {"123456", "1234560000"},     // three bytes and two zeros
        {"abCDef0123", "ABCDEF0123"},
        {"12345", "1234050000"},      // a lone last character
        {"1G2Z", "0102000000"},       // leading hexadecimal digits only
        {"ZZ99", "0099000000"},       // none: 0
        {"", "0000000000"},
    };
    for (const auto &[passcode, data] : list) {
        SCOPED_TRACE(passcode);
        ASSERT_EQ(SMPasscode(QLatin1String(passcode), &owner, 0, false), 0);
        const auto msg = newCommand();
        ASSERT_TRUE(msg);
        EXPECT_EQ(msg->OutputData.mid(4, 5), hex(data));
        EXPECT_EQ(msg->MsgParams.mid(1), hex(data));
    }

    // Values that do not fit are refused and register nothing.
    EXPECT_EQ(SMPasscode(QStringLiteral("12345678901"), &owner, 0, false), ErrorCode::SubscriptOutOfRange);
    EXPECT_EQ(SDIRequestItemBlock(256, 0, &owner, 0, false), ErrorCode::Overflow);
    EXPECT_EQ(SDIWriteItemBlock(0, -1, QByteArray(), &owner, 0, false), ErrorCode::Overflow);
    // More data than a frame carries: the command cannot be submitted and does not linger.
    EXPECT_EQ(SDIWriteItemBlock(1, 0, QByteArray(252, 'x'), &owner, 0, false), ErrorCode::SendRefused);
    EXPECT_TRUE(newCommands().isEmpty());
    // The longest frame: 253 data bytes, length byte 255, and a checksum that makes the sum 0x7F.
    ASSERT_EQ(SDIWriteItemBlock(1, 0, QByteArray(251, 'x'), &owner, 0, false), 0);
    const QByteArray longest = newCommand()->OutputData;
    ASSERT_EQ(longest.size(), 257);
    EXPECT_EQ(static_cast<std::uint8_t>(longest.at(1)), 255);
    EXPECT_EQ(std::accumulate(longest.cbegin(), longest.cend(), 0u, [](unsigned s, char c) { return s + std::uint8_t(c); }) & 0xFF, 0x7Fu);

    const QString log = errorLog();
    EXPECT_TRUE(log.contains(QStringLiteral("modExecFunctions SMPasscode()")));
    EXPECT_TRUE(log.contains(QStringLiteral("modSDIFunctions SDIRequestItemBlock()")));
    EXPECT_TRUE(log.contains(QStringLiteral("0x80041389 modSDIFunctions SDIWriteItemBlock()")));
}

} // namespace
