// The item map, the block store, the keep-alive counter, the goodbye and the event check boxes.
#include "NetFixture.h"

#include "core/ErrorCodes.h"

#include <QCheckBox>

#include <tuple>

#ifdef QUARVO_HAVE_SIM
#include "ItemMap.h"
#endif

using namespace nettest;

#ifdef QUARVO_HAVE_SIM
TEST_F(NetTest, TheItemMapAgreesWithThePanelsOwnLayout)
{
    for (const int type : {1, 6, 37, 39, 49, 51}) {
        settings->panelType = type;
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
        const panelsim::ItemMap reference(type);
        ASSERT_EQ(blockLen.size(), 213) << type;
        for (int e = 0; e < 213; ++e) {
            const panelsim::ItemBlock &b = reference.blocks().at(e);
            ASSERT_EQ((std::tuple<int, int, int>(itemOf[e], startOf[e], blockLen[e])), std::tuple(b.item, b.start, b.length)) << type << " " << e;
        }
        for (int i = 0; i < 19; ++i)
            EXPECT_EQ(blockCount[i], reference.blockCountOf(i)) << i;
    }
}
#endif

// An unknown panel type has no block lengths: a block transfer fails instead of reading past them.
TEST_F(NetTest, AnUnknownPanelTypeFailsBlockTransfers)
{
    settings->panelType = 7;
    startSession(false, true, 0);
    net->setConnected(true);
    EXPECT_EQ(modToolbox::PanelSend(-1, &owner), ErrorCode::SubscriptOutOfRange);
    EXPECT_TRUE(errorLog().contains(QStringLiteral("PanelSend()")));
}

TEST_F(NetTest, AnAbortStopsTheBlockLoop)
{
    startSession(false, true, 0);
    net->setAbortWorkInProgress(true);
    EXPECT_EQ(modToolbox::PanelReceive(-1, &owner), 0);
    EXPECT_FALSE(sessionState().messageQueue->FirstQueuedMsg());
}

TEST_F(NetTest, InsertResponseStoresTheDataBytesOfAWellFormedBlockOnly)
{
    QByteArray block(30, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(0xA0 + i);
    EXPECT_EQ(modToolbox::InsertResponse(answerFrame(15, block), 3, 0), 0);
    EXPECT_EQ(pif->items[3], block);

    // A refusal (one data byte), a frame cut short and a frame whose length byte lies are refused:
    // none of them may overwrite the host's data.
    pif->items.clear();
    EXPECT_NE(modToolbox::InsertResponse(answerFrame(2, bytes({0x0F})), 3, 0), 0);
    EXPECT_NE(modToolbox::InsertResponse(bytes({0x00, 0x20, 0x0F}), 3, 0), 0);
    QByteArray lying = answerFrame(15, block);
    lying[1] = static_cast<char>(200);
    EXPECT_NE(modToolbox::InsertResponse(lying, 3, 0), 0);
    EXPECT_NE(modToolbox::InsertResponse(QByteArray(), 3, 0), 0);
    EXPECT_TRUE(pif->items.empty());
}

TEST_F(NetTest, KeepAliveAnswersThroughTheQueueReportANewCountOnceAndZeroWarnsNothing)
{
    startSession(false, true, 0);
    net->setConnected(true);
    QList<std::int16_t> warnings;
    queueLinks().eventWarning = [&](std::int16_t level) -> std::int16_t {
        warnings << level;
        return 0;
    };
    // The queue hands the answers of its own "Keep Alive" messages to ProcessKeepAlive.
    auto keepAlive = [&](const QByteArray &answer) {
        QString guid;
        auto msg = messageRecord(QStringLiteral("Keep Alive"), guid);
        msg->setOwnerName(QStringLiteral("frmMsgQueue"));
        msg->setData(answer);
        sessionState().messageQueue->ResponseReceived(*msg);
        msgrecord::Discard(guid);
        waitFor([] { return false; }, 30);
        ASSERT_TRUE(sessionState().messageQueue); // no answer ends the session
        EXPECT_EQ(sessionState().LastErrorNumber, 0);
    };
    QByteArray answer = answerFrame(20, QByteArray(13, '\0')); // 17 bytes
    answer[14] = 0x02;
    answer[15] = 0x01;
    keepAlive(bytes({0x00, 0x03})); // short: no counter in it
    keepAlive(answer);
    keepAlive(answer);
    EXPECT_EQ(warnings, QList<std::int16_t>{258});
    keepAlive(answer.left(15)); // no counter: ignored
    EXPECT_EQ(modToolbox::LastPanelEventCount(), 258);

    answer[14] = answer[15] = 0;
    keepAlive(answer);
    EXPECT_EQ(modToolbox::LastPanelEventCount(), 0);
    EXPECT_EQ(warnings.size(), 1);

    // The operator chose to ignore further warnings: nothing changes.
    sessionState().messageQueue->IgnoreFurtherWarnings = true;
    answer[14] = 5;
    keepAlive(answer);
    EXPECT_EQ(modToolbox::LastPanelEventCount(), 0);
}

TEST_F(NetTest, GoodbyeReportsTheSessionResultAndClosesTheLink)
{
    const struct
    {
        bool unattended;
        std::int16_t priority;
        bool abortPending;
        const char *text; // nullptr: no event
    } cases[] = {
        {true, 0, false, "SUCCESS"},     {true, 5, false, "FAILURE"},   {true, 10, false, "ABORTED"},
        {true, 7, false, "UNKNOWN"},     {false, 5, false, "USERDISCONNECTING"}, {false, 0, true, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "abort");
        callback->events.clear();
        sessionState().UnattendedFlag = c.unattended;
        startSession(false, true, 0);
        net->setConnected(true);
        net->setAbortPending(c.abortPending);
        QString guid;
        auto msg = messageRecord(QStringLiteral("Panel Goodbye"), guid);
        msg->setPriority(c.priority);
        EXPECT_EQ(modToolbox::ProcessPanelGoodbye(*msg), 0);
        msgrecord::Discard(guid);
        EXPECT_FALSE(net->Connected());
        const auto ended = callback->withCode(3);
        if (c.text) {
            ASSERT_EQ(ended.size(), 1u);
            EXPECT_EQ(ended[0].data.toString(), QString::fromLatin1(c.text));
            EXPECT_FALSE(sessionState().messageQueue);
        } else {
            EXPECT_TRUE(ended.empty());
            EXPECT_TRUE(sessionState().messageQueue); // the abort's own path ends the session
            sessionState().messageQueue->Unload();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sessionState().currentTransport.reset();
        net.reset();
        modGlobals::InitApplicationVariables();
    }
}

TEST_F(NetTest, TheEventWordTicksTheBoxesOfItsHighByte)
{
    QCheckBox owned[8];
    QList<QCheckBox *> boxes;
    for (QCheckBox &box : owned)
        boxes << &box, box.setChecked(true);
    modToolbox::UpdatePanelEventForm(boxes, 0x81FF);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(boxes[i]->isChecked(), i == 7 || i == 0) << i;
    modToolbox::UpdatePanelEventForm(boxes.mid(0, 3), 0xFF00); // missing boxes are skipped
    EXPECT_TRUE(boxes[2]->isChecked());
}
