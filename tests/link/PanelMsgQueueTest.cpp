// Commands queued through a real queue window: the record the queue keeps carries the command's
// name, priority, flags, frame, client and owner; a queue that takes no messages is a refusal.
#include "LinkFixture.h"

#include "core/ErrorCodes.h"
#include "link/modExecFunctions.h"
#include "link/modSDIFunctions.h"
#include "platform/SharedMemory.h"
#include "queue/MessageQueue.h"
#include "queue/clsMessage.h"

#include <QCoreApplication>
#include <QEvent>

using linktest::hex;

namespace {

class PanelMsgQueue : public linktest::LinkTest
{
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        modGlobals::InitQueue();
        queue = sessionState().messageQueue;
        ASSERT_TRUE(queue);
        // Keep the worker from moving messages on while the test reads the work queue.
        queue->setWorkerEnabled(false);
        newCommands();
    }
    void TearDown() override
    {
        if (queue)
            queue->Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        LinkTest::TearDown();
    }

    QPointer<MessageQueue> queue;
};

TEST_F(PanelMsgQueue, QueuedRecordCarriesTheCommand)
{
    ASSERT_EQ(modExecFunctions::SMHeartBeat(sessionState().messageQueue, 4, true), 0);
    const auto heartbeat = newCommand();
    ASSERT_EQ(modSDIFunctions::SDIRequestItemBlock(5, 16, &owner, 9, false), 0);
    const auto request = newCommand();
    ASSERT_TRUE(heartbeat && request);

    // The higher priority goes first; each record names its command as client and its owner.
    const std::shared_ptr<clsMessage> first = queue->FirstQueuedMsg();
    ASSERT_TRUE(first);
    EXPECT_EQ(QVariantList({first->Name(), first->Priority(), first->Auto(), first->OwnerGUID(), first->OwnerName()}),
              QVariantList({"Request Item Block", 9, 0, owner.szGUID(), "frmTestOwner"}));
    EXPECT_EQ(first->dataBytes(), hex("E4040F051073"));
    // The transport finds the command under the record's client GUID.
    EXPECT_EQ(sessionState().guidRegistry->get(first->ClientGUID()), request);

    const std::shared_ptr<clsMessage> second = first->NextMessage();
    ASSERT_TRUE(second);
    EXPECT_EQ(QVariantList({second->Name(), second->Auto(), second->ClientGUID(), second->OwnerName()}),
              QVariantList({"Keep Alive", -1, heartbeat->szGUID(), "frmMsgQueue"}));

    // Unloading the queue unlinks the records.
    const QString recordName = first->szGUID();
    queue->Unload();
    EXPECT_FALSE(SharedMemory::exists(recordName));
}

TEST_F(PanelMsgQueue, RefusalsRegisterNothingAndAResentCommandRegistersAgain)
{
    // An exchange that completed removed its command from the registry: sent again, it registers again.
    auto msg = clsPanelMsg::create();
    msg->Parent = &owner;
    ASSERT_EQ(msg->SendCmd(18, 26), 0);
    sessionState().guidRegistry->remove(msg->szGUID());
    ASSERT_EQ(msg->SendCmd(18, 26), 0);
    EXPECT_EQ(sessionState().guidRegistry->get(msg->szGUID()), msg);
    newCommands();
    queue->AbortAllMessages();
    ASSERT_FALSE(queue->FirstQueuedMsg());

    // The owner is read when the message is queued: a destroyed owner fails the command.
    auto *window = new linktest::WindowDouble;
    window->setSzGUID(QStringLiteral("{22222222-2222-3333-4444-555555555555}"));
    const MsgOwner gone(window);
    delete window;
    EXPECT_EQ(modExecFunctions::SMReqPanelStatus(gone, 6, false), ErrorCode::SendRefused);
    EXPECT_FALSE(queue->queueFailed());

    // A name longer than the record's field makes the queue fail (its error number comes back);
    // from then on its Add does nothing and returns 0, which must still not count as queued.
    auto tooLong = clsPanelMsg::create();
    tooLong->Name = QString(60, u'n');
    tooLong->Parent = &owner;
    EXPECT_NE(tooLong->SendCmd(20, 26), 0);
    EXPECT_TRUE(queue->queueFailed());
    EXPECT_FALSE(sessionState().guidRegistry->contains(tooLong->szGUID()));
    EXPECT_EQ(modSDIFunctions::SDIRequestCRC(&owner, 5, false), ErrorCode::SendRefused);
    EXPECT_TRUE(newCommands().isEmpty());
    EXPECT_FALSE(queue->FirstQueuedMsg());
}

} // namespace
