// Every request procedure: its command's name, description, flags and the frame in both link
// modes, written out byte for byte from the command table and the frame rules.
#include "LinkFixture.h"

#include "core/ErrorCodes.h"
#include "link/modExecFunctions.h"
#include "link/modSDIFunctions.h"

#include <functional>

using linktest::bytes;
using namespace modExecFunctions;
using namespace modSDIFunctions;

namespace {

struct Case
{
    const char *label;
    std::function<std::int32_t(const MsgOwner &)> call; // priority 7, automatic
    QString name;
    QString description;
    QByteArray local;  // HostDataMode false
    QByteArray remote; // HostDataMode true
    bool abort = false;
    std::int16_t timeOut = 12;
};

QList<Case> cases()
{
    const QByteArray lanvesk = bytes({0x4C, 0x41, 0x4E, 0x56, 0x65, 0x73, 0x6B});
    return {
        {"SDIRequestCRC", [](const MsgOwner &o) { return SDIRequestCRC(o, 7, true); }, "Request CRC",
         "SDI - Request CRC", bytes({0xE4, 0x02, 0x12, 0x87}), bytes({0x00, 0x02, 0x12, 0xEB})},
        {"SDIWriteItemBlock",
         [](const MsgOwner &o) { return SDIWriteItemBlock(3, 0, bytes({0xAA, 0xBB}), o, 7, true); },
         "Write Item Block", "SDI - WID3:0", bytes({0xE4, 0x06, 0x0E, 0x03, 0x00, 0xAA, 0xBB, 0x1F}),
         bytes({0x00, 0x06, 0x0E, 0x03, 0x00, 0xAA, 0xBB, 0x83})},
        {"SDIRequestItemBlock", [](const MsgOwner &o) { return SDIRequestItemBlock(5, 16, o, 7, true); },
         "Request Item Block", "SDI - RID5:16", bytes({0xE4, 0x04, 0x0F, 0x05, 0x10, 0x73}),
         bytes({0x00, 0x04, 0x0F, 0x05, 0x10, 0xD7})},
        {"SDIRequestDataLock", [](const MsgOwner &o) { return SDIRequestDataLock(o, 7, true); },
         "Request Data Lock", "SDI - Request Data Lock", bytes({0xE4, 0x04, 0x0F, 0x00, 0x00, 0x88}),
         bytes({0x00, 0x04, 0x0F, 0x00, 0x00, 0xEC})},
        {"SMNullCommand", [lanvesk](const MsgOwner &o) { return SMNullCommand(lanvesk, o, 7, true); },
         "Null Command", "EXEC - Null Command: Send [4C][41][4E][56][65][73][6B]", lanvesk, lanvesk},
        {"SMWaitCommand", [](const MsgOwner &o) { return SMWaitCommand(o, 7, true); }, "Wait Command",
         "EXEC - Wait Command", QByteArray(), QByteArray()},
        {"SMSetEventIndex", [](const MsgOwner &o) { return SMSetEventIndex(0x1234, o, 7, true); },
         "Set Event Index", "EXEC - Set Event Index",
         bytes({0xE4, 0x09, 0x14, 0x14, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x24}),
         bytes({0x00, 0x09, 0x14, 0x14, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x88})},
        {"SMReqEventLog", [](const MsgOwner &o) { return SMReqEventLog(0x1234, o, 7, true); },
         "Request Event Log", "EXEC - Request Event Log 4660",
         bytes({0xE4, 0x09, 0x14, 0x13, 0x01, 0x12, 0x34, 0x00, 0x00, 0x00, 0x24}),
         bytes({0x00, 0x09, 0x14, 0x13, 0x01, 0x12, 0x34, 0x00, 0x00, 0x00, 0x88})},
        {"SMReqEventIndex", [](const MsgOwner &o) { return SMReqEventIndex(o, 7, true); }, "Request Event Index",
         "EXEC - Request Event Log Indexes", bytes({0xE4, 0x09, 0x14, 0x13, 0, 0, 0, 0, 0, 0, 0x6B}),
         bytes({0x00, 0x09, 0x14, 0x13, 0, 0, 0, 0, 0, 0, 0xCF})},
        {"SMPanelGoodbye", [](const MsgOwner &o) { return SMPanelGoodbye(1, o, 7, true); }, "Panel Goodbye",
         "EXEC - Disconnect from the Panel", bytes({0xE4, 0x09, 0x14, 0x1E, 0x01, 0, 0, 0, 0, 0, 0x5F}),
         bytes({0x00, 0x09, 0x14, 0x1E, 0x01, 0, 0, 0, 0, 0, 0xC3}), false, 0},
        {"SMPasscode", [](const MsgOwner &o) { return SMPasscode(QStringLiteral("123456"), o, 7, true); },
         "Passcode Verification", "EXEC - Verifying Passcode 123456",
         bytes({0xE4, 0x09, 0x14, 0x20, 0x12, 0x34, 0x56, 0x00, 0x00, 0x00, 0xC2}),
         bytes({0x00, 0x09, 0x14, 0x20, 0x12, 0x34, 0x56, 0x00, 0x00, 0x00, 0x26})},
        {"SMReqPanelStatus", [](const MsgOwner &o) { return SMReqPanelStatus(o, 7, true); },
         "Request Panel Status", "EXEC - Request Panel Status", bytes({0xE4, 0x09, 0x14, 0x1A, 0, 0, 0, 0, 0, 0, 0x64}),
         bytes({0x00, 0x09, 0x14, 0x1A, 0, 0, 0, 0, 0, 0, 0xC8}), true},
        {"SMReqPanelDateTime", [](const MsgOwner &o) { return SMReqPanelDateTime(o, 7, true); },
         "Request Panel Date", "EXEC - Request Panel Date and Time",
         bytes({0xE4, 0x09, 0x14, 0x21, 0, 0, 0, 0, 0, 0, 0x5D}), bytes({0x00, 0x09, 0x14, 0x21, 0, 0, 0, 0, 0, 0, 0xC1})},
        {"SMHeartBeat", [](const MsgOwner &o) { return SMHeartBeat(o, 7, true); }, "Keep Alive",
         "EXEC - Heartbeat sent every 20 seconds", bytes({0xE4, 0x09, 0x14, 0x1A, 0, 0, 0, 0, 0, 0, 0x64}),
         bytes({0x00, 0x09, 0x14, 0x1A, 0, 0, 0, 0, 0, 0, 0xC8})},
        {"SMChangeDateTime", [](const MsgOwner &o) { return SMChangeDateTime(12, 6, 26, 14, 30, 5, o, 7, true); },
         "Change Panel Date", "EXEC - Change Panel Date and Time to 12/6/26 14:30 5",
         bytes({0xE4, 0x09, 0x14, 0x16, 0x0C, 0x06, 0x1A, 0x0E, 0x1E, 0x05, 0x0B}),
         bytes({0x00, 0x09, 0x14, 0x16, 0x0C, 0x06, 0x1A, 0x0E, 0x1E, 0x05, 0x6F})},
        {"SMExclusiveCommand on", [](const MsgOwner &o) { return SMExclusiveCommand(true, o, 7, true); },
         "Exclusive Command", "EXEC - Exclusive ON", bytes({0xE4, 0x09, 0x14, 0x28, 0xFF, 0, 0, 0, 0, 0, 0x57}),
         bytes({0x00, 0x09, 0x14, 0x28, 0xFF, 0, 0, 0, 0, 0, 0xBB})},
        {"SMExclusiveCommand off", [](const MsgOwner &o) { return SMExclusiveCommand(false, o, 7, true); },
         "Exclusive Command", "EXEC - Exclusive OFF", bytes({0xE4, 0x09, 0x14, 0x28, 0, 0, 0, 0, 0, 0, 0x56}),
         bytes({0x00, 0x09, 0x14, 0x28, 0, 0, 0, 0, 0, 0, 0xBA})},
    };
}

class RequestCommands : public linktest::LinkTest
{
};

TEST_F(RequestCommands, EveryProcedureBuildsItsCommandInBothModes)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.label);
        for (bool remote : {false, true}) {
            settings->hostDataMode = remote;
            ASSERT_EQ(c.call(MsgOwner(&owner)), 0);
            const auto msg = newCommand();
            ASSERT_TRUE(msg);
            EXPECT_EQ(msg->OutputData, remote ? c.remote : c.local) << "remote " << remote;
            EXPECT_EQ(msg->Name, c.name);
            EXPECT_EQ(msg->Description, c.description);
            EXPECT_EQ(msg->Priority, 7);
            EXPECT_TRUE(msg->Auto);
            EXPECT_EQ(msg->Abort, c.abort);
            EXPECT_EQ(msg->TimeOut, c.timeOut);
            EXPECT_EQ(msg->Parent.address(), &owner);
        }
    }
}

TEST_F(RequestCommands, PasscodePairsAreReadAsHexadecimal)
{
    struct P
    {
        QString passcode;
        QByteArray data; // the five data bytes
    };
    const QList<P> list = {
        {"123456", bytes({0x12, 0x34, 0x56, 0, 0})},     // three bytes and two zeros
        {"abCDef0123", bytes({0xAB, 0xCD, 0xEF, 0x01, 0x23})},
        {"12345", bytes({0x12, 0x34, 0x05, 0, 0})},      // a lone last character
        {"1G2Z", bytes({0x01, 0x02, 0, 0, 0})},          // leading hexadecimal digits only
        {"ZZ99", bytes({0x00, 0x99, 0, 0, 0})},          // none: 0
        {"", bytes({0, 0, 0, 0, 0})},
    };
    for (const P &p : list) {
        SCOPED_TRACE(p.passcode.toStdString());
        ASSERT_EQ(SMPasscode(p.passcode, &owner, 0, false), 0);
        const auto msg = newCommand();
        ASSERT_TRUE(msg);
        EXPECT_EQ(msg->OutputData.mid(4, 5), p.data);
        EXPECT_EQ(msg->MsgParams.mid(1), p.data);
    }
}

TEST_F(RequestCommands, RefusesValuesThatDoNotFitAndRegistersNothing)
{
    EXPECT_EQ(SMPasscode(QStringLiteral("12345678901"), &owner, 0, false), ErrorCode::SubscriptOutOfRange);
    EXPECT_EQ(SDIRequestItemBlock(256, 0, &owner, 0, false), ErrorCode::Overflow);
    EXPECT_EQ(SDIWriteItemBlock(0, -1, QByteArray(), &owner, 0, false), ErrorCode::Overflow);
    EXPECT_TRUE(newCommands().isEmpty());

    // More data than a frame carries: the command cannot be submitted and does not linger in the
    // registry.
    EXPECT_EQ(SDIWriteItemBlock(1, 0, QByteArray(252, 'x'), &owner, 0, false), ErrorCode::SendRefused);
    EXPECT_TRUE(newCommands().isEmpty());
    ASSERT_EQ(SDIWriteItemBlock(1, 0, QByteArray(251, 'x'), &owner, 0, false), 0);
    EXPECT_EQ(newCommand()->OutputData.size(), 257);

    const QString log = errorLog();
    EXPECT_TRUE(log.contains(QStringLiteral("modExecFunctions SMPasscode()")));
    EXPECT_TRUE(log.contains(QStringLiteral("modSDIFunctions SDIRequestItemBlock()")));
    EXPECT_TRUE(log.contains(QStringLiteral("0x80041389 modSDIFunctions SDIWriteItemBlock()")));
}

TEST_F(RequestCommands, HeartbeatTextFollowsTheInterval)
{
    sessionState().config.hbInterval = 2500;
    ASSERT_EQ(SMHeartBeat(&owner, 0, false), 0);
    EXPECT_EQ(newCommand()->Description, QStringLiteral("EXEC - Heartbeat sent every 2.5 seconds"));
}

} // namespace
