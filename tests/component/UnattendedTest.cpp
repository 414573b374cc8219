// Unattended jobs end to end: DoUnattended against the panel simulator on a network link, one case
// per job mask (what the panel was asked, the goodbye code, what the host heard); failed attempts
// that nobody cancelled end as "FAILURE", an abort the host asked for as "ABORTED".
#include <gtest/gtest.h>

#include "component/clsCommunication.h"
#include "core/ErrorCodes.h"
#include "core/SessionState.h"
#include "platform/Paths.h"
#include "platform/SharedMemory.h"
#include "platform/SharedMemoryIndex.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "queue/clsMessage.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#ifdef QUARVO_HAVE_SIM
#include "PanelSimulator.h"

namespace {

constexpr double kScale = 0.1;
const QString kPasscode = QStringLiteral("123456");

using testsupport::waitFor;

class UnattendedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("QUARVO_TIME_SCALE", QByteArray::number(kScale));
        Timing::setScale(kScale);
        testsupport::freshSettingsDir();
        logDir = testsupport::freshLogDir();
        resetSessionState();
        component = std::make_unique<clsCommunication>();
        sessionState().config.tamselDataPath = QDir(testsupport::privateRoot()).filePath(QStringLiteral("data"));
        settings = std::make_shared<testsupport::SettingsDouble>();
        settings->accountName = QStringLiteral("4711");
        settings->hostDataMode = true;
        settings->remoteHost = QStringLiteral("127.0.0.1");
        settings->responseTimeout = QStringLiteral("2");
        settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(0x1234, 0, QStringLiteral("Office"), 1));
        pif = std::make_shared<testsupport::PifDouble>();
        callback = std::make_shared<testsupport::CallbackDouble>();
    }

    void TearDown() override
    {
        if (MessageQueue *queue = sessionState().messageQueue)
            queue->Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (panel)
            panel->stop();
        component.reset();
        resetSessionState();
        Timing::setScale(0);
        qunsetenv("QUARVO_TIME_SCALE");
    }

    // A network panel whose item 5 differs from the host's data (the seed's), and the host objects
    // handed over as the host does.
    void startPanel(const QStringList &faults = {}, quint16 dataLock = 0x1234)
    {
        panelsim::PanelConfig config;
        config.mode = panelsim::LinkMode::Network;
        config.passcode = kPasscode;
        const panelsim::PanelState seed(config);
        for (int item = 0; item < 19; ++item)
            pif->items[item] = seed.itemBytes(item);
        config.differItems = {5};
        config.dataLock = dataLock;
        panel = std::make_unique<panelsim::PanelSimulator>(config);
        for (const QString &fault : faults)
            ASSERT_TRUE(panel->addFault(fault)) << fault.toStdString();
        QString why;
        ASSERT_TRUE(panel->start(&why)) << why.toStdString();
        settings->panelPort = QString::number(panel->udpPort());
        std::shared_ptr<HostCallback> cb = callback;
        component->SetCallBack(cb);
        component->setSettings(settings);
        component->setPif(pif);
    }

    // Runs the jobs of `mask`; true once the session has ended (the queue window is gone).
    bool run(std::int32_t mask)
    {
        EXPECT_EQ(component->DoUnattended(mask), 0);
        const bool ended = waitFor([] { return !sessionState().messageQueue; }, 30000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return ended;
    }

    // Tags of event 5 other than those of every admission.
    QStringList jobTags() const
    {
        QStringList out = callback->tags();
        out.removeAll(QStringLiteral("SET_DATALOCK"));
        out.removeAll(QStringLiteral("GET_REV"));
        return out;
    }

    // The texts of event 3, in order, joined by ",".
    std::string endings() const
    {
        QStringList out;
        for (const auto &e : callback->withCode(3))
            out << e.data.toString();
        return out.join(QLatin1Char(',')).toStdString();
    }

    QString lastRequest() const
    {
        QString name;
        for (const panelsim::TraceEntry &e : panel->trace())
            if (e.direction == QLatin1String("in") && !e.decoded.isEmpty())
                name = e.decoded;
        return name;
    }

    QString logDir;
    std::unique_ptr<clsCommunication> component;
    std::shared_ptr<testsupport::SettingsDouble> settings;
    std::shared_ptr<testsupport::PifDouble> pif;
    std::shared_ptr<testsupport::CallbackDouble> callback;
    std::unique_ptr<panelsim::PanelSimulator> panel;
};

struct MaskCase
{
    std::int32_t mask;
    int dateWrites, indexRequests, indexWrites, crcRequests, blockReads, blockWrites;
    int goodbyeCode;
    QStringList tags;
    friend void PrintTo(const MaskCase &c, std::ostream *os) { *os << "mask " << c.mask; }
};

class UnattendedMask : public UnattendedTest, public ::testing::WithParamInterface<MaskCase>
{
};

TEST_P(UnattendedMask, RunsExactlyTheSelectedJobsThenSaysGoodbye)
{
    const MaskCase c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startPanel());
    ASSERT_TRUE(run(c.mask));
    EXPECT_EQ(panel->commandCount(QStringLiteral("Change Panel Date")), c.dateWrites);
    EXPECT_EQ(panel->commandCount(QStringLiteral("Request Event Index")), c.indexRequests);
    EXPECT_EQ(panel->commandCount(QStringLiteral("Set Event Index")), c.indexWrites);
    EXPECT_EQ(panel->commandCount(QStringLiteral("Request CRC")), c.crcRequests);
    EXPECT_EQ(panel->commandCount(QStringLiteral("Request Item Block")), c.blockReads);
    EXPECT_EQ(panel->commandCount(QStringLiteral("Write Item Block")), c.blockWrites);
    // The goodbye is on its way when the session ends here: the panel (on this thread) reads it at
    // its next turn of the event loop.
    EXPECT_TRUE(waitFor([&] { return panel->goodbyeReceived(); }, 10000));
    EXPECT_EQ(panel->state().goodbyeCode, c.goodbyeCode);
    EXPECT_TRUE(lastRequest().contains(QStringLiteral("Panel Goodbye"))) << lastRequest().toStdString();
    // The clock write is the queue's own and tells the host nothing: no "SET_TIME" ever.
    EXPECT_EQ(jobTags().join(QLatin1Char(',')).toStdString(), c.tags.join(QLatin1Char(',')).toStdString());
    EXPECT_EQ(endings(), "SUCCESS");
    // Every notification of an unattended session names the account.
    for (const auto &e : callback->events)
        EXPECT_EQ(e.source.value_or(QString()), QStringLiteral("4711")) << e.code;
    EXPECT_TRUE(QFile::exists(QDir(logDir).filePath(QStringLiteral("4711.log"))));
    if (c.mask & (16 | 32)) {
        EXPECT_EQ(pif->items[5], panel->state().itemBytes(5));
    }
}

// 8 wins over 2 and 4, 16 over 32; the goodbye resets the panel only after a send. The receive and
// the send move item 5's four blocks.
INSTANTIATE_TEST_SUITE_P(
    Masks, UnattendedMask,
    ::testing::Values(MaskCase{0, 0, 0, 0, 0, 0, 0, 0, {}},
                      MaskCase{1, 1, 0, 0, 0, 0, 0, 0, {}},
                      MaskCase{8 + 2 + 4, 0, 1, 0, 0, 0, 0, 0, {QStringLiteral("HISTORY_ALL"), QStringLiteral("HISTORY_END")}},
                      MaskCase{2 + 4, 0, 1, 1, 0, 0, 0, 0,
                               {QStringLiteral("HISTORY_CURRENT"), QStringLiteral("HISTORY_POINTER"), QStringLiteral("HISTORY_END")}},
                      MaskCase{2, 0, 1, 0, 0, 0, 0, 0, {QStringLiteral("HISTORY_CURRENT"), QStringLiteral("HISTORY_END")}},
                      MaskCase{16, 0, 0, 0, 1, 4, 0, 0, {QStringLiteral("RECV_END")}},
                      MaskCase{32, 0, 0, 0, 1, 0, 4, 1, {QStringLiteral("SEND_END")}},
                      MaskCase{16 + 32, 0, 0, 0, 1, 4, 0, 0, {QStringLiteral("RECV_END")}},
                      MaskCase{1 + 8 + 16, 1, 1, 0, 1, 4, 0, 0,
                               {QStringLiteral("HISTORY_ALL"), QStringLiteral("HISTORY_END"), QStringLiteral("RECV_END")}}),
    [](const ::testing::TestParamInfo<MaskCase> &info) { return "Mask" + std::to_string(info.param.mask); });

// Attempts that fail without anyone cancelling them are failures, whether the link was up (the
// goodbye reports) or never came up (the connection dialog reports): one event 3, "FAILURE".
TEST_F(UnattendedTest, AFailedAttemptEndsAsAFailureOnce)
{
    struct Case
    {
        const char *what;
        QStringList faults;
        quint16 dataLock;
        std::int32_t error;
        bool goodbye;
    };
    for (const Case &c : {Case{"refused passcode", {QStringLiteral("refuse@passcode*0")}, 0x1234, ErrorCode::PasscodeFailed, true},
                          Case{"data lock of nobody", {}, 0x7777, ErrorCode::DataLockMismatch, true},
                          Case{"silent panel", {QStringLiteral("silence*0")}, 0x1234, ErrorCode::NoCompleteAnswer, false}}) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        ASSERT_NO_FATAL_FAILURE(startPanel(c.faults, c.dataLock));
        const QByteArray before = pif->items[5];
        ASSERT_TRUE(run(1 + 16));
        EXPECT_EQ(endings(), "FAILURE");
        EXPECT_EQ(sessionState().LastErrorNumber, c.error);
        EXPECT_EQ(panel->goodbyeReceived(), c.goodbye);
        EXPECT_EQ(panel->commandCount(QStringLiteral("Change Panel Date")), 0);
        EXPECT_EQ(panel->commandCount(QStringLiteral("Request CRC")), 0);
        EXPECT_EQ(pif->items[5], before);
        EXPECT_TRUE(pif->transferFiles.isEmpty());
    }
}

// What another process can do to a record of the session: cut it short (to `size` bytes).
bool cutShort(const QString &guid, off_t size)
{
    const int fd = ::shm_open(SharedMemory::objectName(guid).constData(), O_RDWR, 0);
    if (fd < 0)
        return false;
    const bool cut = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return cut;
}

// Another process cuts one record of the running session to 10 bytes: a list head (open the whole
// session) or the message answered last. The session ends at once as a failure, not when some
// time-out runs out: a goodbye to the panel while the link is up, the error in Comm.err, "FAILURE"
// to the host, and no record of the session left behind.
TEST_F(UnattendedTest, ARecordCutShortEndsTheSessionAsAFailure)
{
    enum Which { WorkQueue, Current, LastSent, LastSentMessage };
    for (const Which which : {WorkQueue, Current, LastSent, LastSentMessage}) {
        SCOPED_TRACE(static_cast<int>(which));
        TearDown();
        SetUp();
        ASSERT_NO_FATAL_FAILURE(startPanel());
        std::int32_t mask = 16;
        ASSERT_EQ(component->DoUnattended(mask), 0);
        MessageQueue *queue = sessionState().messageQueue;
        ASSERT_TRUE(queue);
        const QStringList heads{queue->WorkQueueGUID(), queue->CurrentMsgGUID(), queue->LastSentMsgGUID()};
        const QString block = QStringLiteral("Request Item Block");
        ASSERT_TRUE(waitFor([&] { return panel->commandCount(block) >= 3; }, 20000)) << "the receive never began";
        QString cut = which == LastSentMessage ? QString() : heads.at(which);
        if (which == LastSentMessage) {
            clsMessages lastSent;
            ASSERT_EQ(lastSent.Load(heads.at(LastSent)), 0);
            cut = lastSent.FirstMsgGUID();
            ASSERT_NE(cut, heads.at(LastSent)) << "no message answered yet";
        }
        ASSERT_TRUE(cutShort(cut, 10));

        // Far beyond the moment it takes, far short of any time-out that would end it otherwise.
        ASSERT_TRUE(waitFor([] { return !sessionState().messageQueue; }, 20000));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(endings(), "FAILURE");
        EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::BadRecord);
        // The goodbye is on its way when the session ends: the panel reads it at its next turn.
        EXPECT_TRUE(waitFor([&] { return panel->goodbyeReceived(); }, 10000));
        EXPECT_LT(panel->commandCount(block), 212) << "the receive went on";
        EXPECT_TRUE(testsupport::readFile(QDir(logDir).filePath(QStringLiteral("Comm.err"))).contains("0x000000A0"));
        for (const QString &guid : heads + QStringList{cut})
            EXPECT_FALSE(SharedMemory::exists(guid)) << guid.toStdString();
        EXPECT_FALSE(QFile::exists(SharedMemoryIndex::ownIndexPath())) << "a record of the session was left";
    }
}

// The host's forced shutdown while the panel stays silent: the abort it asked for is "ABORTED".
TEST_F(UnattendedTest, AForcedShutdownIsAnAbort)
{
    ASSERT_NO_FATAL_FAILURE(startPanel({QStringLiteral("silence*0")}));
    std::int32_t mask = 16;
    ASSERT_EQ(component->DoUnattended(mask), 0);
    ASSERT_TRUE(waitFor([this] { return panel->exchangeCount() > 0; }, 5000));
    bool force = true;
    EXPECT_EQ(component->CommShutdown(force), 0);
    EXPECT_TRUE(waitFor([] { return !sessionState().messageQueue; }, 10000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(endings(), "ABORTED");
}

// An interactive session after an unattended one in the same process (a server serves both) is
// run by an operator again: its dialog shows and the session's flag is clear.
TEST_F(UnattendedTest, AnInteractiveSessionAfterAnUnattendedOneIsAttended)
{
    ASSERT_NO_FATAL_FAILURE(startPanel());
    ASSERT_TRUE(run(0));
    ASSERT_TRUE(sessionState().UnattendedFlag);

    bool sawDialog = false;
    bool unattendedDuringDialog = true;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QWidget *>(sessionState().connectionDialog.object());
        if (!dialog || !dialog->isVisible())
            return;
        sawDialog = true;
        unattendedDuringDialog = sessionState().UnattendedFlag;
        poll.stop();
        dialog->hide(); // the operator closes the dialog without connecting
    });
    poll.start();
    QTimer::singleShot(10000, [] {
        if (auto *dialog = qobject_cast<QWidget *>(sessionState().connectionDialog.object()))
            dialog->hide();
    });
    EXPECT_EQ(component->CommStartup(), 0);
    EXPECT_TRUE(sawDialog);
    EXPECT_FALSE(unattendedDuringDialog);
}

} // namespace

#endif // QUARVO_HAVE_SIM
