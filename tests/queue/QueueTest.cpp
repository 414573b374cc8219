// The queue window and the queue server together, against a fake transport: priority order, one
// message in flight, answers routed to owners, time-outs, retries, aborts and a clean unload.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "component/clsCommunication.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/clsSessionLog.h"
#include "platform/Paths.h"
#include "platform/SharedMemory.h"
#include "platform/Timing.h"
#include "queue/CQueue.h"
#include "queue/MessageQueue.h"
#include "queue/QueueLinks.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/frmMsgQueue.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QListWidget>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::waitFor;

namespace {

// A transport that records what the queue hands it.
class FakeTransport : public IControlType
{
public:
    QString Name() const override { return QStringLiteral("Fake"); }
    void setName(const QString &) override {}
    bool Remote() const override { return true; }
    void setRemote(bool) override {}
    bool CallbackSet() const override { return false; }
    void setCallbackSet(bool) override {}
    bool Connected() const override { return connected; }
    void setConnected(bool c) override { connected = c; }
    bool AbortPending() const override { return abortPending; }
    void setAbortPending(bool a) override { abortPending = a; }
    bool AbortWorkInProgress() const override { return false; }
    void setAbortWorkInProgress(bool) override {}
    std::int32_t ControlInitialize(CommDialog *, bool) override { return 0; }
    std::int32_t ControlDisconnect(CommDialog *, bool) override { return ++disconnects, connected = false, 0; }
    std::int32_t ControlRinging(CommDialog *, bool) override { return 0; }
    std::int32_t PortPrep(CommDialog *, bool) override { return 0; }
    std::int32_t Connect(CommDialog *, bool) override { return 0; }
    std::int32_t Answer(CommDialog *, bool) override { return 0; }
    std::int32_t SendData(clsMessage &msg) override
    {
        sent.push_back(msg.Name());
        sentGuids.push_back(msg.szGUID());
        if (onSend)
            onSend(msg);
        return 0;
    }
    std::int32_t DataReceived(clsMessage &msg) override
    {
        received.push_back(msg.dataBytes());
        receivedGuids.push_back(msg.szGUID());
        if (onReceive)
            onReceive(msg);
        return 0;
    }

    bool connected = false, abortPending = false;
    int disconnects = 0;
    QStringList sent, sentGuids, receivedGuids;
    std::vector<QByteArray> received;
    std::function<void(clsMessage &)> onSend, onReceive;
};

// An owner window stand-in: collects the answers it is given.
class Owner : public GuidObjectBase, public ResponseReceiver
{
public:
    void ResponseReceived(clsMessage &msg) override { answers.push_back({msg.Name(), msg.dataBytes()}); }
    std::vector<std::pair<QString, QByteArray>> answers;
};

// A command stand-in with its retry state.
class Client : public GuidObjectBase, public QueueClient
{
public:
    std::int16_t retryCount() const override { return count; }
    void setRetryCount(std::int16_t c) override { count = c; }
    std::int16_t retryMax() const override { return max; }
    std::int16_t count = 0, max = 5;
};

QString newGuid()
{
    QString g;
    modGlobals::GetGUID(g);
    return g;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

const QByteArray kOne("\x01", 1);

class QueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        resetQueueLinks();
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
        modGlobals::InitApplicationVariables();
        SessionState &state = sessionState();
        state.config.standardPollRate = 5;
        state.config.inactivityTimeout = 0;
        state.hostSettings = std::make_shared<testsupport::SettingsDouble>();
        state.hostCallback = callback = std::make_shared<testsupport::CallbackDouble>();
        state.currentTransport = transport = std::make_shared<FakeTransport>();
        modGlobals::InitQueue();
        useQueue(state.messageQueue);
        owner = std::make_shared<Owner>();
        modGlobals::AddGUIDObject(owner);
    }

    void useQueue(MessageQueue *q)
    {
        queue = q;
        ASSERT_TRUE(queue && !queue->queueFailed());
        heads += {queue->WorkQueueGUID(), queue->CurrentMsgGUID(), queue->LastSentMsgGUID()};
        queue->queueServer()->TimeoutTimer()->setInterval(30);
    }

    void TearDown() override
    {
        if (queue)
            queue->Unload();
        flushDeletes();
        EXPECT_FALSE(queue);
        for (const QString &g : heads + guids + transport->sentGuids)
            EXPECT_FALSE(SharedMemory::exists(g)) << g.toStdString();
        resetQueueLinks();
        resetSessionState();
    }

    std::shared_ptr<Client> client(std::int16_t max = 5)
    {
        auto c = std::make_shared<Client>();
        c->max = max;
        modGlobals::AddGUIDObject(c);
        return c;
    }

    // Queues a message with a known GUID and a registered client.
    QString add(const QString &name, std::int16_t priority, const QByteArray &data = kOne,
                const QString &ownerName = QStringLiteral("frmOwner"), std::shared_ptr<Client> by = nullptr)
    {
        const QString guid = newGuid();
        guids << guid;
        EXPECT_EQ(queue->Add((by ? by : client())->szGUID(), owner->szGUID(), ownerName, guid, name, priority, false, data), 0);
        return guid;
    }

    QStringList workQueue()
    {
        QStringList out;
        for (auto m = queue->FirstQueuedMsg(); m; m = m->NextMessage())
            out << m->szGUID();
        return out;
    }

    bool sentCount(qsizetype n) { return waitFor([&] { return transport->sent.size() == n; }, 3000); }

    QString errorFile() const { return QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err")))); }

    std::shared_ptr<testsupport::CallbackDouble> callback;
    std::shared_ptr<FakeTransport> transport;
    std::shared_ptr<Owner> owner;
    QPointer<MessageQueue> queue;
    QStringList heads, guids;
};

} // namespace

TEST_F(QueueTest, HigherPriorityFirstEqualPrioritiesInArrivalOrder)
{
    queue->setWorkerEnabled(false);
    const QString a = add(QStringLiteral("A"), 5), b = add(QStringLiteral("B"), 9), c = add(QStringLiteral("C"), 5);
    const QString d = add(QStringLiteral("D"), 1), e = add(QStringLiteral("E"), 9);
    EXPECT_EQ(workQueue(), (QStringList{b, e, a, c, d}));
    // The chain ends at the head.
    clsMessage last;
    ASSERT_EQ(last.Load(d), 0);
    EXPECT_EQ(last.NextMsgGUID(), queue->WorkQueueGUID());
}

TEST_F(QueueTest, OneMessageInFlightAndAnswersReachTheirOwner)
{
    const QString low = add(QStringLiteral("Request CRC"), 5);
    const QString high = add(QStringLiteral("Request Panel Status"), 9);
    ASSERT_TRUE(sentCount(1));
    EXPECT_EQ(transport->sentGuids[0], high);
    QTest::qWait(40); // the next message waits until the current one is complete
    EXPECT_EQ(transport->sent.size(), 1);
    const QString command = queue->CurrentMessage()->ClientGUID();

    QByteArray answer = QByteArray::fromHex("0004ff0102");
    queue->DataArrival(answer);
    ASSERT_EQ(owner->answers.size(), 1u);
    EXPECT_EQ(owner->answers[0], std::make_pair(QStringLiteral("Request Panel Status"), answer));
    // Moved to the last-sent list; its command has left the registry, the record has not yet.
    EXPECT_EQ(queue->CurrentMessage(), nullptr);
    EXPECT_EQ(queue->LastSentMessage()->szGUID(), high);
    EXPECT_FALSE(sessionState().guidRegistry->contains(command));
    EXPECT_TRUE(SharedMemory::exists(high));

    ASSERT_TRUE(sentCount(2));
    EXPECT_EQ(transport->sentGuids[1], low);
    queue->DataArrival(answer);
    // The earlier last-sent message is discarded: out of the registry and out of /dev/shm.
    EXPECT_EQ(queue->LastSentMessage()->szGUID(), low);
    EXPECT_FALSE(sessionState().guidRegistry->contains(high));
    EXPECT_FALSE(SharedMemory::exists(high));
    // With nothing current, ReceiveComplete only discards the last-sent message.
    queue->ReceiveComplete();
    EXPECT_EQ(queue->LastSentMessage(), nullptr);
    EXPECT_FALSE(SharedMemory::exists(low));
}

TEST_F(QueueTest, WaitCommandIsNeverSentAndTimesOutToItsOwner)
{
    add(QStringLiteral("Wait Command"), 5, QByteArray());
    ASSERT_TRUE(waitFor([&] { return !owner->answers.empty(); }));
    EXPECT_TRUE(transport->sent.empty());
    EXPECT_EQ(owner->answers[0], std::make_pair(QStringLiteral("Wait Command"), QByteArray("TIMEOUT")));
    EXPECT_EQ(queue->CurrentMessage(), nullptr);
}

TEST_F(QueueTest, TimeOutsDuringAReceiveOrAnAbortSendNothing)
{
    auto command = client();
    add(QStringLiteral("Request CRC"), 5, kOne, QStringLiteral("frmOwner"), command);
    ASSERT_TRUE(sentCount(1));
    // The time-out fires while the answer is being decoded.
    transport->onReceive = [&](clsMessage &) {
        Q_EMIT queue->queueServer()->Timeout();
        QCoreApplication::processEvents();
    };
    QByteArray answer("\x06", 1);
    queue->DataArrival(answer);
    QTest::qWait(20);
    EXPECT_EQ(command->count, 0);
    EXPECT_EQ(transport->sent.size(), 1);
    EXPECT_EQ(owner->answers.size(), 1u);

    // Bytes arriving while a time-out is being handled are not taken either. (The completed
    // exchange took the command out of the registry; sending it again registers it again.)
    modGlobals::AddGUIDObject(command);
    add(QStringLiteral("Request CRC"), 5, kOne, QStringLiteral("frmOwner"), command);
    ASSERT_TRUE(sentCount(2));
    transport->onSend = [&](clsMessage &) {
        QByteArray late("\x07", 1);
        queue->DataArrival(late); // from inside the retry: ignored
    };
    queue->setTimeoutEnabled(true);
    ASSERT_TRUE(waitFor([&] { return command->count == 1; }));
    EXPECT_EQ(transport->received.size(), 1u);

    // With an abort pending, a time-out counts the retry once and sends nothing.
    transport->onSend = nullptr;
    transport->abortPending = true;
    queue->setTimeoutEnabled(true);
    ASSERT_TRUE(waitFor([&] { return command->count == 2; }));
    QTest::qWait(60);
    EXPECT_EQ(transport->sent.size(), 3);
    EXPECT_EQ(command->count, 2); // the timer is not re-armed
}

TEST_F(QueueTest, RetriesThenTheSessionEnds)
{
    sessionState().sessionLog = std::make_shared<clsSessionLog>();
    sessionState().sessionLog->OpenLog(QStringLiteral("queue.log"));
    auto command = client(3);
    add(QStringLiteral("Request CRC"), 5, kOne, QStringLiteral("frmOwner"), command);
    // Every send arms the answer time-out, as a network transport does.
    transport->onSend = [&](clsMessage &) { queue->setTimeoutEnabled(true); };
    ASSERT_TRUE(waitFor([&] { return !queue; }, 5000));
    EXPECT_EQ(transport->sent.size(), 4); // once plus three retries
    EXPECT_EQ(command->count, 4);
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::RetriesExhausted);
    EXPECT_EQ(transport->disconnects, 1); // not connected: the link is dropped and the queue unloads
    EXPECT_TRUE(errorFile().contains(QStringLiteral("800413A1"), Qt::CaseInsensitive)) << errorFile().toStdString();
    const QString log = QString::fromLocal8Bit(testsupport::readFile(sessionState().sessionLog->path()));
    EXPECT_TRUE(log.contains(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(280), QStringLiteral("MAX"), QStringLiteral("3"))))
        << log.toStdString();
}

TEST_F(QueueTest, OversizedDataIsRefusedAndEveryFurtherAddDoesNothing)
{
    queue->setWorkerEnabled(false);
    const QString ok = add(QStringLiteral("A"), 5);
    const auto addQuietly = [this](const QString &guid, const QByteArray &data) {
        return queue->Add(newGuid(), owner->szGUID(), QStringLiteral("frmOwner"), guid, QStringLiteral("B"), 5, false, data);
    };
    const QString bad = newGuid(), later = newGuid();
    EXPECT_EQ(addQuietly(bad, QByteArray(257, 'x')), ErrorCode::InvalidArgument);
    EXPECT_FALSE(SharedMemory::exists(bad)); // the refused record is not left behind
    EXPECT_TRUE(queue->queueFailed());
    EXPECT_TRUE(errorFile().contains(QStringLiteral("Add()")));
    EXPECT_EQ(addQuietly(later, kOne), 0);
    EXPECT_FALSE(SharedMemory::exists(later));
    EXPECT_FALSE(sessionState().guidRegistry->contains(later));
    EXPECT_TRUE(SharedMemory::exists(ok));
}

TEST_F(QueueTest, DataArrivalDropsOversizedDatagramsAndPassesUnsolicitedData)
{
    QByteArray unsolicited("\x10\x20", 2);
    queue->DataArrival(unsolicited); // to the transport, in a record of its own
    ASSERT_EQ(transport->received, std::vector<QByteArray>{unsolicited});
    EXPECT_FALSE(SharedMemory::exists(transport->receivedGuids[0]));
    EXPECT_TRUE(owner->answers.empty());

    add(QStringLiteral("Request CRC"), 5);
    ASSERT_TRUE(sentCount(1));
    QByteArray big(300, '\x55');
    queue->DataArrival(big);
    EXPECT_EQ(transport->received.size(), 1u);
    EXPECT_TRUE(owner->answers.empty());
    EXPECT_TRUE(errorFile().contains(QStringLiteral("DataArrival()")));
    EXPECT_FALSE(queue->queueFailed());
    QByteArray fits(256, '\x55');
    queue->DataArrival(fits);
    ASSERT_EQ(owner->answers.size(), 1u);
    EXPECT_EQ(owner->answers[0].second, fits);
}

TEST_F(QueueTest, AbortsDropMessagesAndTheirCommands)
{
    queue->setWorkerEnabled(false);
    auto c1 = client();
    const QString a1 = add(QStringLiteral("A1"), 5, kOne, QStringLiteral("frmHistory"), c1);
    const QString b = add(QStringLiteral("B"), 5, kOne, QStringLiteral("frmSync"));
    const QString a2 = add(QStringLiteral("A2"), 3, kOne, QStringLiteral("frmHistory"));
    const QString d = add(QStringLiteral("D"), 9, kOne, QStringLiteral("frmDiag"));
    queue->AbortQueuedMsgOwnedBy(QStringLiteral("frmHistory"));
    EXPECT_EQ(workQueue(), (QStringList{d, b}));
    EXPECT_FALSE(SharedMemory::exists(a1) || SharedMemory::exists(a2));
    EXPECT_FALSE(sessionState().guidRegistry->contains(a1));
    EXPECT_FALSE(sessionState().guidRegistry->contains(c1->szGUID()));
    queue->AbortQueuedDiagMessages();
    EXPECT_EQ(workQueue(), (QStringList{b}));

    queue->setWorkerEnabled(true);
    ASSERT_TRUE(sentCount(1));
    add(QStringLiteral("E"), 5);
    queue->AbortAllMessages();
    EXPECT_EQ(queue->CurrentMessage(), nullptr);
    EXPECT_EQ(queue->FirstQueuedMsg(), nullptr);
    EXPECT_FALSE(SharedMemory::exists(b));
}

TEST_F(QueueTest, UnloadLeavesNoSegmentAndNoRegistryEntry)
{
    // A session's worth of traffic: answered, timed out, aborted and still queued messages.
    for (int i = 0; i < 6; ++i)
        add(QStringLiteral("Request Item Block"), std::int16_t(i % 3));
    add(QStringLiteral("Wait Command"), 0, QByteArray());
    transport->onSend = [&](clsMessage &msg) {
        if (msg.Name() == QStringLiteral("Request Item Block"))
            QTimer::singleShot(0, queue, [this]() {
                QByteArray answer = QByteArray::fromHex("00030f0000");
                queue->DataArrival(answer);
            });
    };
    ASSERT_TRUE(waitFor([&] { return owner->answers.size() >= 4; }));
    queue->setWorkerEnabled(false);
    add(QStringLiteral("Left In Queue"), 5);
    queue->AbortQueuedMsgOwnedBy(QStringLiteral("nobody"));

    queue->Unload();
    flushDeletes();
    EXPECT_FALSE(queue);
    EXPECT_EQ(sessionState().messageQueue, nullptr);
    EXPECT_EQ(sessionState().guidRegistry->size(), 0);
    EXPECT_TRUE(transport->abortPending);
    // TearDown checks that no record of heads, queued or sent messages is left in /dev/shm.
}

TEST_F(QueueTest, OwnAnswersAreProcessedAndAnEmptyOneEndsTheSession)
{
    queue->setWorkerEnabled(false);
    const QString guid = newGuid();
    guids << guid;
    ASSERT_EQ(queue->Add(newGuid(), queue->szGUID(), queue->Name(), guid, QStringLiteral("Change Panel Date"), 0, false,
                         QByteArray::fromHex("000300")), 0);
    auto msg = queue->FirstQueuedMsg();
    // The queue's own date change (the unattended clock job) is accepted silently: no "SET_TIME".
    queue->ResponseReceived(*msg);
    EXPECT_TRUE(callback->tags().isEmpty());
    EXPECT_TRUE(queue);
    msg->setName(QStringLiteral("Keep Alive"));
    msg->setData(QVariant());
    queue->ResponseReceived(*msg);
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::SendRefused);
    flushDeletes();
    EXPECT_FALSE(queue);
}

TEST_F(QueueTest, DisconnectSaysGoodbyeOnAConnectedLink)
{
    transport->connected = true;
    std::vector<std::pair<int, int>> goodbyes;
    queueLinks().panelGoodbye = [&](std::uint8_t code, MessageQueue &, std::int16_t result) {
        goodbyes.push_back({code, result});
        return 0;
    };
    queue->setWorkerEnabled(false);
    queue->setHeartbeatEnabled(true);
    const QString queued = add(QStringLiteral("Request CRC"), 5);
    modGlobals::Disconnect(true, 10);
    EXPECT_EQ(goodbyes, (std::vector<std::pair<int, int>>{{1, 10}}));
    EXPECT_FALSE(queue->HeartbeatEnabled());
    EXPECT_FALSE(SharedMemory::exists(queued));
    EXPECT_TRUE(queue); // the goodbye's answer ends the session
    EXPECT_EQ(transport->disconnects, 0);
}

TEST_F(QueueTest, AFailedGoodbyeClosesTheLinkInsteadOfSayingGoodbyeAgain)
{
    transport->connected = true;
    int goodbyes = 0;
    queueLinks().panelGoodbye = [&](std::uint8_t, MessageQueue &q, std::int16_t result) {
        ++goodbyes;
        return q.Add(newGuid(), q.szGUID(), q.Name(), QString(), QStringLiteral("Panel Goodbye"), result, false,
                     QByteArray("\x00\x03\x14\x1e", 4));
    };
    // The link refuses the goodbye the way the frame exchange does: its error path ends the session.
    transport->onSend = [&](clsMessage &msg) {
        if (msg.Name() == QLatin1String("Panel Goodbye"))
            modGlobals::Disconnect(false, 5);
    };
    modGlobals::Disconnect(false, 10);
    ASSERT_TRUE(waitFor([&] { return !queue; }, 3000));
    EXPECT_EQ(goodbyes, 1);
    EXPECT_EQ(transport->disconnects, 1);
    EXPECT_EQ(transport->sent.count(QStringLiteral("Panel Goodbye")), 1);
}

TEST_F(QueueTest, PanelEventsOpenTheWarningThroughTheQueue)
{
    std::vector<std::int16_t> levels;
    queueLinks().eventWarning = [&](std::int16_t level) -> std::int16_t { return levels.push_back(level), 2; };
    queue->PendingTransferFile = true;
    modGlobals::DisplayPanelEventForm(7);
    ASSERT_TRUE(waitFor([&] { return !levels.empty(); }));
    EXPECT_EQ(levels[0], 7);
    EXPECT_TRUE(queue->IgnoreFurtherWarnings);
    ASSERT_EQ(callback->withCode(10).size(), 1u);
    // The data folder and the file name, joined with the platform's separator.
    EXPECT_EQ(callback->withCode(10)[0].data.toString(), Paths::transferFile(sessionState().config.tamselDataPath));
#ifndef Q_OS_WIN
    EXPECT_TRUE(callback->withCode(10)[0].data.toString().endsWith(QStringLiteral("/tempdat.000")));
#endif
    EXPECT_FALSE(queue->PendingTransferFile);
}

TEST_F(QueueTest, InactivityIsRaisedOnceUntilComplete)
{
    Timing::setScale(0.02); // 1 s of protocol time = 20 ms
    int prompts = 0;
    queueLinks().inactivityPrompt = [&]() -> std::int16_t { return ++prompts, 6; };
    QSignalSpy spy(queue->queueServer(), &CQueue::InactiveSession);
    queue->queueServer()->InactivityComplete();
    queue->setInactivityTimeout(2); // 40 ms
    // Keep-alives alone are no activity.
    transport->onSend = [&](clsMessage &) { queue->ReceiveComplete(); };
    for (int i = 0; i < 5; ++i)
        add(QStringLiteral("Keep Alive"), 0);
    ASSERT_TRUE(waitFor([&] { return spy.count() >= 1 && prompts == 1; }, 3000));
    // Answer 6 restarts the watch: it fires again later, once each time.
    ASSERT_TRUE(waitFor([&] { return prompts == 2; }, 3000));

    // Another message going out restarts the watch from zero.
    queueLinks().inactivityPrompt = []() -> std::int16_t { return 3; }; // disconnect now
    add(QStringLiteral("Request CRC"), 5);
    ASSERT_TRUE(waitFor([&] { return !queue; }, 3000));
    EXPECT_EQ(transport->disconnects, 1);
    Timing::setScale(0);
}

TEST_F(QueueTest, ConsoleShowsTheListsWhenDebugIsOn)
{
    EXPECT_FALSE(sessionState().queueWindow); // no console without "Debug"
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("SavedSettings"), QStringLiteral("Debug"), QStringLiteral("Yes"));
    modGlobals::InitQueue(); // a new session replaces the old queue
    flushDeletes();
    useQueue(sessionState().messageQueue);
    QPointer<frmMsgQueue> console = sessionState().queueWindow.data();
    ASSERT_TRUE(console);
    EXPECT_TRUE(console->isVisible());
    queue->setWorkerEnabled(false);
    const QString a = add(QStringLiteral("Request CRC"), 5);
    ASSERT_EQ(console->lstWorkQueue->count(), 1);
    EXPECT_EQ(console->lstWorkQueue->item(0)->text(), QStringLiteral("Request CRC  ") + a);
    // The console goes with its queue.
    queue->Unload();
    flushDeletes();
    EXPECT_FALSE(console);
}

// Another process cuts records short while the queue has them open: the work-queue head (open for
// the whole session) and a queued message (open through the registry). Each is a damaged record:
// nothing faults on the missing pages, and the session ends at once (its link is down here: no
// goodbye) with the error kept, instead of freezing with a queue that can send nothing.
TEST_F(QueueTest, RecordsCutShortByAnotherProcessEndTheSession)
{
    queue->setWorkerEnabled(false);
    const QString first = add(QStringLiteral("Request CRC"), 5);
    const auto held = std::dynamic_pointer_cast<clsMessage>(modGlobals::GetGUIDObject(first));
    ASSERT_TRUE(held);
    for (const QString &name : {first, queue->WorkQueueGUID()}) {
        const int fd = ::shm_open(SharedMemory::objectName(name).constData(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 0), 0); // a mapping of it would fault on its first page
        ::close(fd);
    }
    const auto failure = [](const std::function<void()> &f) {
        try {
            f();
        } catch (const QuarvoError &e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(failure([&] { (void)held->NextMsgGUID(); }), ErrorCode::BadRecord);
    EXPECT_EQ(failure([&] { held->setPriority(1); }), ErrorCode::BadRecord);
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/shm" + SharedMemory::objectName(first)).constData(), &st), 0);
    EXPECT_EQ(st.st_size, 0) << "a damaged record is never grown back";
    EXPECT_EQ(queue->Add(client()->szGUID(), owner->szGUID(), QStringLiteral("frmOwner"), QString(),
                         QStringLiteral("Request Panel Status"), 5, false, kOne),
              ErrorCode::BadRecord);

    // Once the finders are done, the session ends: link closed, queue window gone, error kept.
    queue->setWorkerEnabled(true);
    ASSERT_TRUE(waitFor([&] { return !queue || queue->isUnloading(); }));
    EXPECT_TRUE(transport->sent.isEmpty());
    EXPECT_EQ(transport->disconnects, 1);
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::BadRecord);
    EXPECT_TRUE(errorFile().contains(QStringLiteral("Add()")));
    EXPECT_FALSE(SharedMemory::exists(first));
}

// Two records whose links point at each other: every walk stops at the first repeat. Adding
// fails at once, and the console shows each record once instead of filling up.
TEST_F(QueueTest, LinksThatFormACycleFailAtOnce)
{
    queue->setWorkerEnabled(false);
    const QString a = add(QStringLiteral("A"), 5), b = add(QStringLiteral("B"), 5);
    clsMessage mb;
    ASSERT_EQ(mb.Load(b), 0);
    mb.setNextMsgGUID(a);
    frmMsgQueue console(queue);
    console.show();
    console.RefreshQueue(queue->WorkQueueGUID(), console.lstWorkQueue);
    EXPECT_EQ(console.lstWorkQueue->count(), 2);
    const QString c = newGuid();
    guids << c;
    EXPECT_EQ(queue->Add(client()->szGUID(), owner->szGUID(), QStringLiteral("frmOwner"), c, QStringLiteral("C"), 1, false, kOne),
              ErrorCode::BadRecord);
    EXPECT_TRUE(queue->queueFailed());
    EXPECT_FALSE(SharedMemory::exists(c));
    // Aborting still empties the list.
    queue->AbortAllMessages();
    EXPECT_EQ(queue->FirstQueuedMsg(), nullptr);
}

TEST_F(QueueTest, HeartbeatIsPeriodicAndTimeoutFiresOnce)
{
    int beats = 0;
    queueLinks().heartBeat = [&](MessageQueue &) { return ++beats, 0; };
    QSignalSpy timeouts(queue->queueServer(), &CQueue::Timeout);
    queue->queueServer()->HeartbeatTimer()->setInterval(10);
    queue->setHeartbeatEnabled(true);
    ASSERT_TRUE(waitFor([&] { return beats >= 3; }, 3000));
    queue->setHeartbeatEnabled(false);
    const int stopped = beats;
    queue->setTimeoutEnabled(true);
    ASSERT_TRUE(waitFor([&] { return timeouts.count() == 1; }, 3000));
    EXPECT_FALSE(queue->TimeoutEnabled());
    // Disabled before its interval: no time-out at all.
    queue->setTimeoutEnabled(true);
    queue->setTimeoutEnabled(false);
    QTest::qWait(80);
    EXPECT_EQ(beats, stopped);
    EXPECT_EQ(timeouts.count(), 1);
}

namespace {

// Starts this test program as a child running `test` with `variable` set to `value`; stdout and
// stderr merged.
void startChild(QProcess &child, const char *variable, const char *value, const QString &test)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(variable), QString::fromLatin1(value));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + test});
}

// Reads the child's output until it holds `marker` (bounded); returns everything read.
QString readUntil(QProcess &child, const QString &marker, QString &out)
{
    QDeadlineTimer deadline(60000);
    while (!out.contains(marker) && !deadline.hasExpired() && child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(200);
        out += QString::fromUtf8(child.readAll());
    }
    out += QString::fromUtf8(child.readAll());
    return out;
}

QStringList namesIn(const QString &out)
{
    return out.section(QStringLiteral("NAMES:"), 1).section(u'\n', 0, 0).trimmed().split(u',', Qt::SkipEmptyParts);
}

} // namespace

// The child half of RecordsOfAKilledProcessGoAtTheNextStartOrAtProcessEnd: a queue window with
// three queued records, never unloaded; the process ends at once, or waits to be killed.
TEST(QueueExit, ChildLeavesItsQueueLoaded)
{
    const QString mode = qEnvironmentVariable("QUARVO_QUEUE_CHILD");
    if (mode.isEmpty())
        GTEST_SKIP() << "started only by RecordsOfAKilledProcessGoAtTheNextStartOrAtProcessEnd";
    resetSessionState();
    modGlobals::InitApplicationVariables();
    modGlobals::InitQueue();
    // Kept for the whole process, never unloaded: as a process that ends without unloading leaves it.
    static MessageQueue *queue = nullptr;
    queue = sessionState().messageQueue;
    ASSERT_TRUE(queue);
    queue->setWorkerEnabled(false);
    QStringList names{queue->WorkQueueGUID(), queue->CurrentMsgGUID(), queue->LastSentMsgGUID()};
    for (int i = 0; i < 3; ++i) {
        names << newGuid();
        ASSERT_EQ(queue->Add(newGuid(), queue->szGUID(), queue->Name(), names.last(), QStringLiteral("Request CRC"), 5, false, kOne), 0);
        ASSERT_TRUE(SharedMemory::exists(names.last()));
    }
    std::printf("NAMES:%s\n", names.join(u',').toLatin1().constData());
    std::fflush(stdout);
    if (mode == QLatin1String("wait"))
        waitFor([] { return false; }, 60000);
}

// The child half of the test below: a component with a connected link and queued records, waiting
// in its event loop for a termination signal.
TEST(QueueExit, ChildWaitsForATerminationSignal)
{
    if (qEnvironmentVariableIsEmpty("QUARVO_SIGNAL_CHILD"))
        GTEST_SKIP() << "started only by TerminationSignalSaysGoodbyeAndRemovesRecords";
    resetSessionState();
    clsCommunication component;
    SessionState &state = sessionState();
    state.hostSettings = std::make_shared<testsupport::SettingsDouble>();
    auto transport = std::make_shared<FakeTransport>();
    transport->connected = true;
    // The goodbye awaits no answer: it completes when sent, as on the network link.
    transport->onSend = [](clsMessage &msg) {
        if (msg.Name() != QLatin1String("Panel Goodbye"))
            return;
        std::printf("GOODBYE\n");
        std::fflush(stdout);
        if (MessageQueue *queue = sessionState().messageQueue) {
            queue->ResponseReceived(msg);
            queue->ReceiveComplete();
        }
    };
    state.currentTransport = transport;
    modGlobals::InitQueue();
    MessageQueue *queue = state.messageQueue;
    ASSERT_TRUE(queue);
    queue->setWorkerEnabled(false);
    QStringList names{queue->WorkQueueGUID(), queue->CurrentMsgGUID(), queue->LastSentMsgGUID(), newGuid()};
    ASSERT_EQ(queue->Add(newGuid(), queue->szGUID(), queue->Name(), names.last(), QStringLiteral("Request CRC"), 5, false, kOne), 0);
    queue->setWorkerEnabled(true);
    std::printf("NAMES:%s\nREADY\n", names.join(u',').toLatin1().constData());
    std::fflush(stdout);
    QTimer giveUp; // never needed when the parent does its part
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(60000);
    const int rc = QCoreApplication::exec();
    std::printf("EXIT:%d\n", rc);
    EXPECT_FALSE(sessionState().messageQueue);
}

TEST(QueueExit, TerminationSignalSaysGoodbyeAndRemovesRecords)
{
    QProcess child;
    startChild(child, "QUARVO_SIGNAL_CHILD", "1", QStringLiteral("QueueExit.ChildWaitsForATerminationSignal"));
    QString out;
    readUntil(child, QStringLiteral("READY"), out);
    const QStringList names = namesIn(out);
    ASSERT_EQ(names.size(), 4) << out.toStdString();
    child.terminate(); // SIGTERM
    ASSERT_TRUE(child.waitForFinished(60000));
    out += QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << out.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("GOODBYE"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("EXIT:143"))) << out.toStdString();
    for (const QString &g : names)
        EXPECT_FALSE(SharedMemory::exists(g)) << g.toStdString();
}

// A killed process leaves its records behind: the next start of a queue in another process removes
// them, and that process's own records go when it ends without unloading its queue. The records of
// this live process survive both.
TEST(QueueExit, RecordsOfAKilledProcessGoAtTheNextStartOrAtProcessEnd)
{
    resetSessionState();
    modGlobals::InitApplicationVariables();
    modGlobals::InitQueue();
    QPointer<MessageQueue> ours = static_cast<MessageQueue *>(sessionState().messageQueue);
    ASSERT_TRUE(ours);
    const QStringList own{ours->WorkQueueGUID(), ours->CurrentMsgGUID(), ours->LastSentMsgGUID()};

    QProcess killed;
    startChild(killed, "QUARVO_QUEUE_CHILD", "wait", QStringLiteral("QueueExit.ChildLeavesItsQueueLoaded"));
    QString out;
    readUntil(killed, QStringLiteral("NAMES:"), out);
    readUntil(killed, QStringLiteral("\n"), out);
    const QStringList left = namesIn(out);
    ASSERT_EQ(left.size(), 6) << out.toStdString();
    const qint64 killedPid = killed.processId();
    killed.kill(); // SIGKILL: nothing of the process runs any more
    ASSERT_TRUE(killed.waitForFinished(60000));
    for (const QString &g : left)
        ASSERT_TRUE(SharedMemory::exists(g)) << "left behind: " << g.toStdString();

    QProcess next;
    startChild(next, "QUARVO_QUEUE_CHILD", "exit", QStringLiteral("QueueExit.ChildLeavesItsQueueLoaded"));
    ASSERT_TRUE(next.waitForFinished(60000));
    const QString nextOut = QString::fromUtf8(next.readAll());
    EXPECT_EQ(next.exitCode(), 0) << nextOut.toStdString();
    const QStringList nextNames = namesIn(nextOut);
    ASSERT_EQ(nextNames.size(), 6) << nextOut.toStdString();
    for (const QString &g : left + nextNames)
        EXPECT_FALSE(SharedMemory::exists(g)) << g.toStdString();
    EXPECT_FALSE(QFile::exists(QStringLiteral("/dev/shm/quarvo-segments.%1").arg(killedPid)));
    for (const QString &g : own)
        EXPECT_TRUE(SharedMemory::exists(g)) << "a live process's record: " << g.toStdString();
    ours->Unload();
    flushDeletes();
    for (const QString &g : own)
        EXPECT_FALSE(SharedMemory::exists(g)) << g.toStdString();
    resetSessionState();
}
