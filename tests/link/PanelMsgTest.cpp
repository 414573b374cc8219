// The panel command object: frame layout in both link modes, the raw and fixed forms, the
// no-answer function, registration, and frames that cannot be built.
#include "LinkFixture.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"

using linktest::bytes;

namespace {

class PanelMsg : public linktest::LinkTest
{
};

TEST_F(PanelMsg, FramesTheWorkedExampleInBothModesIgnoringElementZero)
{
    auto msg = clsPanelMsg::create();
    msg->MsgParams = bytes({0x99, 0x05, 0x10}); // element 0 is never sent
    ASSERT_EQ(msg->SendCmd(40, 2), 0);
    EXPECT_EQ(msg->OutputData, bytes({0xE4, 0x04, 0x28, 0x05, 0x10, 0x5A}));
    EXPECT_EQ(msg->MsgType, 0);
    EXPECT_EQ(msg->MsgFunction, 2);
    EXPECT_EQ(msg->TimeOut, 12);
    EXPECT_EQ(msg->Length(), 6);

    settings->hostDataMode = true;
    ASSERT_EQ(msg->SendCmd(40, 2), 0);
    EXPECT_EQ(msg->OutputData, bytes({0x00, 0x04, 0x28, 0x05, 0x10, 0xBE}));
}

TEST_F(PanelMsg, ExecutionCommandsAlwaysTakeElevenBytesWithTheFunctionInByteThree)
{
    auto msg = clsPanelMsg::create();
    ASSERT_EQ(msg->SendCmd(20, 7), 0);
    EXPECT_EQ(msg->MsgType, 1);
    EXPECT_EQ(msg->OutputData, bytes({0xE4, 0x09, 0x14, 0x07, 0, 0, 0, 0, 0, 0, 0x77}));

    // Six data bytes fill the form exactly.
    msg->MsgParams = bytes({0xAA, 1, 2, 3, 4, 5, 6});
    settings->hostDataMode = true;
    ASSERT_EQ(msg->SendCmd(20, 7), 0);
    EXPECT_EQ(msg->OutputData, bytes({0x00, 0x09, 0x14, 0x07, 1, 2, 3, 4, 5, 6, 0xC6}));
    EXPECT_EQ(msg->Length(), 11);
}

TEST_F(PanelMsg, RefusesExecutionDataThatTheFixedFormCannotCarry)
{
    // A seventh byte would be overwritten by the checksum, an eighth would not fit: both are
    // refused, reported, and leave no frame behind.
    for (int count : {7, 8}) {
        auto msg = clsPanelMsg::create();
        msg->MsgParams = QByteArray(count + 1, '\x01');
        EXPECT_EQ(msg->SendCmd(20, 5), ErrorCode::SubscriptOutOfRange) << count;
        EXPECT_TRUE(msg->OutputData.isEmpty()) << count;
        EXPECT_TRUE(msg->OutputBuffer().isEmpty()) << count;
    }
    EXPECT_TRUE(errorLog().contains(QStringLiteral("clsPanelMsg OutputBuffer[Get]")));
}

TEST_F(PanelMsg, FunctionZeroSendsTheParametersUntouched)
{
    const QByteArray data = bytes({0x4C, 0x00, 0xFF, 0x41});
    for (bool remote : {false, true}) {
        settings->hostDataMode = remote;
        for (int command : {20, 15}) {
            auto msg = clsPanelMsg::create();
            msg->MsgParams = data;
            ASSERT_EQ(msg->SendCmd(command, 0), 0);
            EXPECT_EQ(msg->OutputData, data) << remote << command;
            EXPECT_EQ(msg->TimeOut, 12);
        }
    }
    auto empty = clsPanelMsg::create();
    ASSERT_EQ(empty->SendCmd(20, 0), 0);
    EXPECT_TRUE(empty->OutputData.isEmpty());
}

TEST_F(PanelMsg, FunctionThirtyAwaitsNoAnswer)
{
    auto msg = clsPanelMsg::create();
    ASSERT_EQ(msg->SendCmd(20, 26), 0);
    EXPECT_EQ(msg->TimeOut, 12);
    ASSERT_EQ(msg->SendCmd(20, 30), 0);
    EXPECT_EQ(msg->TimeOut, 0);
    ASSERT_EQ(msg->SendCmd(20, 26), 0);
    EXPECT_EQ(msg->TimeOut, 12);
}

TEST_F(PanelMsg, LongestFrameIsBuiltAndOneByteMoreIsRefused)
{
    // 253 data bytes: 257-byte frame, length byte 255, and a checksum that makes the sum 0x7F.
    auto msg = clsPanelMsg::create();
    msg->MsgParams = QByteArray(254, '\x02');
    ASSERT_EQ(msg->SendCmd(14, 26), 0);
    ASSERT_EQ(msg->OutputData.size(), 257);
    EXPECT_EQ(static_cast<std::uint8_t>(msg->OutputData.at(1)), 255);
    unsigned sum = 0;
    for (char c : msg->OutputData)
        sum += static_cast<std::uint8_t>(c);
    EXPECT_EQ(sum & 0xFF, 0x7Fu);

    auto tooLong = clsPanelMsg::create();
    tooLong->MsgParams = QByteArray(255, '\x02');
    EXPECT_EQ(tooLong->SendCmd(14, 26), ErrorCode::Overflow);
    EXPECT_TRUE(tooLong->OutputData.isEmpty());
    EXPECT_EQ(tooLong->Length(), 0);
    EXPECT_TRUE(errorLog().contains(QStringLiteral("clsPanelMsg Length[Get]")));
}

TEST_F(PanelMsg, RefusesCommandAndFunctionNumbersOutsideAByte)
{
    auto msg = clsPanelMsg::create();
    EXPECT_EQ(msg->SendCmd(276, 2), ErrorCode::Overflow);
    EXPECT_EQ(msg->SendCmd(20, -1), ErrorCode::Overflow);
    EXPECT_TRUE(msg->OutputData.isEmpty());
    EXPECT_TRUE(errorLog().contains(QStringLiteral("clsPanelMsg SendCmd()")));
}

TEST_F(PanelMsg, RegistersItselfWithTheRetryLimitOfTheSettings)
{
    sessionState().config.numOfNaks = 3;
    const QDateTime before = QDateTime::currentDateTime();
    auto msg = clsPanelMsg::create();
    EXPECT_EQ(msg->szGUID().size(), 38);
    EXPECT_EQ(sessionState().guidRegistry->get(msg->szGUID()), msg);
    EXPECT_EQ(msg->RetryMax, 3);
    EXPECT_EQ(msg->RetryCount, 0);
    EXPECT_GE(msg->TimeStamp, before);
    EXPECT_LE(msg->TimeStamp, QDateTime::currentDateTime());

    // The registry keeps the command alive after its creator lets go.
    const QString key = msg->szGUID();
    std::weak_ptr<clsPanelMsg> weak = msg;
    msg.reset();
    EXPECT_FALSE(weak.expired());
    sessionState().guidRegistry->remove(key);
    EXPECT_TRUE(weak.expired());
}

TEST_F(PanelMsg, OwnerReferenceReadsGuidAndNameAndNoticesADestroyedWindow)
{
    linktest::OwnerDouble plain(QStringLiteral("frmPlain"));
    plain.setSzGUID(QStringLiteral("{A}"));
    const MsgOwner ref(&plain);
    EXPECT_EQ(ref.szGUID(), QStringLiteral("{A}"));
    EXPECT_EQ(ref.Name(), QStringLiteral("frmPlain"));

    struct Window : QObject, GuidObjectBase
    {
        QString Name() const { return QStringLiteral("frmWindow"); }
    };
    auto *window = new Window;
    const Window *constWindow = window;
    const MsgOwner windowRef(constWindow);
    EXPECT_EQ(windowRef.Name(), QStringLiteral("frmWindow"));
    delete window;
    EXPECT_THROW(windowRef.Name(), QuarvoError);
    EXPECT_THROW(MsgOwner().szGUID(), QuarvoError);

    auto shared = std::make_shared<linktest::OwnerDouble>(QStringLiteral("frmShared"));
    EXPECT_EQ(MsgOwner(shared).Name(), QStringLiteral("frmShared"));
}

} // namespace
