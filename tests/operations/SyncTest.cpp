// The synchronisation end to end against the panel simulator on a network link: the CRC check,
// the "Panel Sync" choice, the transfer window's receive and send, exclusive mode (also over the
// enhanced direct link), Abort, a transfer cut off, and the panel's bad CRC answer.
#include "network/NetFixture.h"

#include "core/ErrorCodes.h"
#include "core/modRegistry.h"
#include "operations/DataTransfer.h"
#include "operations/PanelSynchronisation.h"
#include "operations/SyncCheck.h"
#include "operations/frmPanelSyncro.h"
#include "operations/frmWorkInProgress.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QtTest/QTest>

#include <set>

#include <unistd.h>

#ifdef QUARVO_HAVE_SIM

using namespace nettest;

namespace {

const QString kRequestBlock = QStringLiteral("Request Item Block");
const QString kWriteBlock = QStringLiteral("Write Item Block");

// Answers the message box named `name` with `button` whenever it is open (it runs modally, inside
// the answer handler that opened it).
class BoxAnswerer
{
public:
    BoxAnswerer(QString name, QMessageBox::StandardButton button) : m_name(std::move(name)), m_button(button)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box->objectName() != m_name)
                return;
            title = box->windowTitle();
            text = box->text();
            ++answered;
            box->button(m_button)->click();
        });
        m_timer.start();
    }
    QString title;
    QString text;
    int answered = 0;

private:
    QString m_name;
    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};

class SyncTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        sessionState().config.tamselDataPath = QDir(testsupport::privateRoot()).filePath(QStringLiteral("data"));
    }

    // A panel whose `differ` items differ from the host's data (the seed's), and a session with it.
    void connectWith(const QList<int> &differ)
    {
        panelsim::PanelConfig seed;
        seed.passcode = kPasscode;
        const panelsim::PanelState host(seed);
        for (int item = 0; item < 19; ++item)
            pif->items[item] = host.itemBytes(item);
        connectAndAdmit(true, [&](panelsim::PanelConfig &config) { config.differItems = differ; });
        callback->events.clear();
    }

    // The window of an engine that has not unloaded.
    template <typename W>
    static W *window()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *view = qobject_cast<W *>(w); view && !view->isUnloaded())
                return view;
        return nullptr;
    }
    // Any window of the kind still there, unloaded or not (after the deletions due).
    template <typename W>
    static bool windowLeft()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<W *>(w))
                return true;
        return false;
    }
    frmPanelSyncro *sync() const { return window<frmPanelSyncro>(); }
    frmWorkInProgress *transferWindow() const { return window<frmWorkInProgress>(); }
    // The session's transfer that has not unloaded.
    DataTransfer *transfer() const
    {
        MessageQueue *queue = sessionState().messageQueue;
        if (!queue)
            return nullptr;
        for (DataTransfer *t : queue->findChildren<DataTransfer *>(Qt::FindDirectChildrenOnly))
            if (!t->isUnloaded())
                return t;
        return nullptr;
    }

    // The check up to the window the operator answers.
    frmPanelSyncro *checkShowsTheWindow()
    {
        EXPECT_EQ(modToolbox::CheckPanelSyncronization(), 0);
        EXPECT_TRUE(waitFor([&] { return sync() && sync()->isVisible(); }, 5000));
        return sync();
    }

    // Block requests or writes as the panel saw them: "item:start", in order.
    QStringList blocks(const QString &name) const
    {
        QStringList out;
        const QRegularExpression pattern(name + QStringLiteral(" (\\d+:\\d+)"));
        for (const panelsim::TraceEntry &e : sim->trace()) {
            const QRegularExpressionMatch m = pattern.match(e.decoded);
            if (e.direction == QLatin1String("in") && m.hasMatch())
                out << m.captured(1);
        }
        return out;
    }

    // The blocks of `items` by the item map, in block order.
    static QStringList blocksOf(const std::set<int> &items)
    {
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
        QStringList out;
        for (int e = 0; e < itemOf.size(); ++e)
            if (items.count(itemOf[e]))
                out << QStringLiteral("%1:%2").arg(itemOf[e]).arg(startOf[e]);
        return out;
    }

    // Host events as "code" or "5:TAG", in order.
    QStringList events() const
    {
        QStringList out;
        for (const auto &e : callback->events)
            out << (e.code == 5 ? QStringLiteral("5:") + e.data.toList().value(0).toString() : QString::number(e.code));
        return out;
    }

    bool hostHoldsThePanelsData() const
    {
        const panelsim::PanelState state = sim->state();
        for (int item = 0; item < 19; ++item)
            if (pif->items[item] != state.itemBytes(item))
                return false;
        return true;
    }

    QString transferFile() const { return Paths::transferFile(sessionState().config.tamselDataPath); }
};

} // namespace

// Items 1, 5 and 13 differ: the operator receives them, sends them, or changes nothing.
TEST_F(SyncTest, TheChoiceReceivesSendsOrLeavesTheDifferingItems)
{
    for (const auto mode : {SyncCheck::ReceivePanel, SyncCheck::SendPanel, SyncCheck::NoUpdate}) {
        SCOPED_TRACE(mode);
        TearDown();
        SetUp();
        connectWith({1, 5, 13});
        frmPanelSyncro *window = checkShowsTheWindow();
        ASSERT_TRUE(window);
        QList<bool> differing(19, false);
        differing[1] = differing[5] = differing[13] = true;
        EXPECT_EQ(window->check()->SyncList, differing);
        EXPECT_EQ(window->txtSyncMessage->toPlainText(), modGlobals::GetCatalogString(986));
        EXPECT_TRUE(window->chkExclusive->isEnabled()); // a network link
        EXPECT_TRUE(window->chkExclusive->isHidden());  // "AllowExclusive" is not "1"

        qsizetype eventsAtTake = -1;
        pif->onEndReport = [&] { eventsAtTake = callback->events.size(); };
        (mode == SyncCheck::ReceivePanel ? window->optRecvPanel
         : mode == SyncCheck::SendPanel  ? window->optSendPanel
                                              : window->optNoUpdate)->setChecked(true);
        QTest::mouseClick(window->cmdOK, Qt::LeftButton);
        const QStringList expectedBlocks = blocksOf({1, 5, 13});
        ASSERT_EQ(expectedBlocks.size(), 8 + 4 + 50);

        if (mode == SyncCheck::ReceivePanel) {
            ASSERT_TRUE(waitFor([&] { return callback->tags().contains(QStringLiteral("RECV_END")); }, 10000));
            EXPECT_EQ(blocks(kRequestBlock), expectedBlocks);
            EXPECT_TRUE(hostHoldsThePanelsData());
            // The host takes the file, then hears event 10 with its path, then "RECV_END".
            EXPECT_EQ(pif->endReports, QStringList{QStringLiteral("take ") + transferFile()});
            EXPECT_TRUE(transferFile().endsWith(QStringLiteral("/tempdat.000")));
            EXPECT_EQ(events().mid(eventsAtTake), (QStringList{QStringLiteral("10"), QStringLiteral("5:RECV_END")}));
            EXPECT_EQ(callback->withCode(10).at(0).data.toString(), transferFile());
            EXPECT_FALSE(events().contains(QStringLiteral("7")));

            // A second check finds everything the same: no window, nothing transferred.
            const qsizetype before = callback->events.size();
            ASSERT_EQ(modToolbox::CheckPanelSyncronization(), 0);
            ASSERT_TRUE(waitFor([&] { return events().mid(before).contains(QStringLiteral("7")); }, 5000));
            EXPECT_EQ(events().mid(before), (QStringList{QStringLiteral("6"), QStringLiteral("7")}));
            EXPECT_FALSE(sync());
            EXPECT_EQ(sim->commandCount(QStringLiteral("Request CRC")), 2);
            EXPECT_EQ(blocks(kRequestBlock).size(), expectedBlocks.size());
        } else if (mode == SyncCheck::SendPanel) {
            ASSERT_TRUE(waitFor([&] { return callback->tags().contains(QStringLiteral("SEND_END")); }, 10000));
            EXPECT_EQ(blocks(kWriteBlock), expectedBlocks);
            EXPECT_TRUE(hostHoldsThePanelsData());
            EXPECT_EQ(pif->endReports, QStringList{QStringLiteral("finish send")});
            EXPECT_EQ(events().mid(eventsAtTake), (QStringList{QStringLiteral("5:SEND_END"), QStringLiteral("7")}));
        } else {
            ASSERT_TRUE(waitFor([&] { return events().contains(QStringLiteral("7")); }, 5000));
            waitFor([] { return false; }, 200);
            EXPECT_EQ(events(), (QStringList{QStringLiteral("6"), QStringLiteral("7")}));
            EXPECT_TRUE(blocks(kRequestBlock).isEmpty());
            EXPECT_TRUE(blocks(kWriteBlock).isEmpty());
            EXPECT_TRUE(pif->endReports.isEmpty());
        }
        EXPECT_TRUE(waitFor([&] { return !sync() && !transfer(); }, 5000));
        EXPECT_TRUE(net->Connected()); // the session goes on
        EXPECT_EQ(sessionState().LastErrorNumber, 0);
    }
}

namespace {

class SyncOverLink : public SyncTest, public ::testing::WithParamInterface<panelsim::LinkMode>
{
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        linkMode = GetParam();
    }
};

} // namespace

// Exclusive mode on the network and the enhanced direct link: the transfer is bracketed by the
// exclusive commands, the worker runs at the exclusive poll rate and the heartbeat pauses meanwhile.
TEST_P(SyncOverLink, ExclusiveModeBracketsTheTransferAndPausesTheHeartbeat)
{
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("AllowExclusive"),
                                QStringLiteral("1"));
    connectWith({5, 13});
    frmPanelSyncro *window = checkShowsTheWindow();
    ASSERT_TRUE(window);
    ASSERT_TRUE(window->chkExclusive->isVisible());
    window->chkExclusive->setChecked(true);
    window->optRecvPanel->setChecked(true);
    BoxAnswerer question(QStringLiteral("msgExclusive"), QMessageBox::Yes);
    QTest::mouseClick(window->cmdOK, Qt::LeftButton);
    EXPECT_EQ(question.answered, 1);
    EXPECT_EQ(question.title, modGlobals::GetCatalogString(1439));

    MessageQueue *queue = sessionState().messageQueue;
    const SessionState &state = sessionState();
    ASSERT_TRUE(waitFor([&] { return transfer() && transfer()->TransferState.currentItem == 13; }, 5000));
    EXPECT_EQ(queue->WorkerInterval(), state.config.exclusivePollRate);
    EXPECT_FALSE(queue->HeartbeatEnabled());
    EXPECT_FALSE(queue->DiagRefreshEnabled());
    ASSERT_TRUE(waitFor([&] { return callback->tags().contains(QStringLiteral("RECV_END")); }, 10000));
    EXPECT_EQ(queue->WorkerInterval(), state.config.standardPollRate);
    EXPECT_TRUE(queue->HeartbeatEnabled());
    EXPECT_TRUE(hostHoldsThePanelsData());

    // As the panel saw it: ON, the blocks of items 5 and 13, OFF, and no keep-alive in between;
    // keep-alives come again afterwards.
    const auto requests = [&] {
        QStringList out;
        for (const panelsim::TraceEntry &e : sim->trace()) {
            if (e.direction != QLatin1String("in"))
                continue;
            for (const char *name : {"Exclusive Command ON", "Exclusive Command OFF", "Request Item Block", "Request Panel Status"})
                if (e.decoded.contains(QLatin1String(name)))
                    out << QLatin1String(name);
        }
        return out;
    };
    const QStringList seen = requests();
    const qsizetype on = seen.indexOf(QStringLiteral("Exclusive Command ON"));
    const qsizetype off = seen.indexOf(QStringLiteral("Exclusive Command OFF"));
    ASSERT_GE(on, 0);
    EXPECT_EQ(seen.mid(on, off - on + 1),
              QStringList{QStringLiteral("Exclusive Command ON")} + QStringList(4 + 50, kRequestBlock)
                  + QStringList{QStringLiteral("Exclusive Command OFF")});
    EXPECT_TRUE(waitFor([&] { return requests().mid(off).count(QStringLiteral("Request Panel Status")) >= 2; }, 3000));
    EXPECT_FALSE(sim->exclusiveMode());
}

INSTANTIATE_TEST_SUITE_P(Link, SyncOverLink,
                         ::testing::Values(panelsim::LinkMode::Network, panelsim::LinkMode::EnhancedDirect),
                         [](const ::testing::TestParamInfo<panelsim::LinkMode> &info) {
                             return info.param == panelsim::LinkMode::Network ? "Network" : "EnhancedDirect";
                         });

// Abort: the transfer stops, nothing is handed to the host, the session goes on.
TEST_F(SyncTest, AbortStopsTheTransferWithoutAnEndReport)
{
    connectWith({13, 17, 18});
    frmPanelSyncro *window = checkShowsTheWindow();
    ASSERT_TRUE(window);
    window->optRecvPanel->setChecked(true);
    QTest::mouseClick(window->cmdOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return transfer() && transfer()->TransferState.blocksDone >= 5; }, 5000));
    QTest::mouseClick(transferWindow()->cmdAbort, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !transfer() && !transferWindow(); }, 5000));
    waitFor([] { return false; }, 300);
    EXPECT_LT(blocks(kRequestBlock).size(), 150);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("RECV_END")));
    EXPECT_TRUE(callback->withCode(10).empty());
    EXPECT_TRUE(pif->endReports.isEmpty());
    EXPECT_EQ(events().last(), QStringLiteral("7"));
    EXPECT_FALSE(net->AbortWorkInProgress());
    EXPECT_TRUE(net->Connected());
    // The session goes on: a new check runs.
    ASSERT_EQ(modToolbox::CheckPanelSyncronization(), 0);
    EXPECT_TRUE(waitFor([&] { return sync() && sync()->isVisible(); }, 5000));
}

// Enter in the synchronisation window: on the focused button it presses that button, on a choice
// it presses OK; in the transfer window, Enter on the focused Abort aborts.
TEST_F(SyncTest, EnterPressesTheFocusedButtonElseOK)
{
    struct Case
    {
        const char *focus;
        bool transfers;
        bool abort;
    };
    const Case cases[] = {{"cmdOK", true, false}, {"optRecvPanel", true, false}, {"cmdCancel", false, false}, {"cmdOK", true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.focus) + (c.abort ? ", then Abort" : ""));
        TearDown();
        SetUp();
        connectWith({13, 17, 18});
        frmPanelSyncro *window = checkShowsTheWindow();
        ASSERT_TRUE(window);
        window->optRecvPanel->setChecked(true);
        testsupport::pressKeyOn(window->findChild<QWidget *>(QLatin1String(c.focus)));
        if (c.abort) {
            ASSERT_TRUE(waitFor([&] { return transfer() && transfer()->TransferState.blocksDone >= 5; }, 5000));
            testsupport::pressKeyOn(transferWindow()->cmdAbort);
        }
        ASSERT_TRUE(waitFor([&] { return !sync() && !transfer(); }, 10000));
        waitFor([] { return false; }, 200);
        EXPECT_EQ(callback->tags().contains(QStringLiteral("RECV_END")), c.transfers && !c.abort);
        EXPECT_EQ(blocks(kRequestBlock).isEmpty(), !c.transfers);
        if (!c.transfers || c.abort) {
            EXPECT_EQ(events().last(), QStringLiteral("7"));
        }
        EXPECT_TRUE(net->Connected());
    }
}

// A transfer cut off (the panel falls silent): the session ends, and the host takes no part of
// the panel's data for all of it.
TEST_F(SyncTest, ATransferCutOffHandsTheHostNothing)
{
    connectWith({13});
    frmPanelSyncro *window = checkShowsTheWindow();
    ASSERT_TRUE(window);
    window->optRecvPanel->setChecked(true);
    QTest::mouseClick(window->cmdOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return transfer() && transfer()->TransferState.blocksDone >= 5; }, 5000));
    sim->addFault(QStringLiteral("silence@read*0"));
    ASSERT_TRUE(waitFor([&] { return !sessionState().messageQueue; }, 15000));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::RetriesExhausted);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("RECV_END")));
    EXPECT_TRUE(callback->withCode(10).empty());
    EXPECT_TRUE(pif->endReports.isEmpty());
    EXPECT_FALSE(callback->withCode(3).empty());
    // The transfer window went with its transfer.
    EXPECT_TRUE(waitFor([] { return !windowLeft<frmWorkInProgress>(); }, 5000));
}

// A session that ends while "Panel Sync" waits for the operator takes the window with it, and the
// check tells the host nothing more.
TEST_F(SyncTest, TheSyncWindowGoesWithTheSession)
{
    connectWith({5});
    ASSERT_TRUE(checkShowsTheWindow());
    const qsizetype before = callback->events.size();
    sessionState().messageQueue->Unload();
    EXPECT_TRUE(waitFor([] { return !windowLeft<frmPanelSyncro>(); }, 5000));
    EXPECT_FALSE(events().mid(before).contains(QStringLiteral("7")));
}

// A symbolic link planted at the transfer file's fixed name: the host is not handed the name, the
// receive reports nothing as done, and the session ends with the panel's goodbye.
TEST_F(SyncTest, ALinkAtTheTransferFileFailsTheReceiveAndEndsTheSession)
{
    connectWith({13});
    ASSERT_TRUE(QDir().mkpath(QFileInfo(transferFile()).absolutePath()));
    const QString elsewhere = QDir(testsupport::privateRoot()).filePath(QStringLiteral("elsewhere"));
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(transferFile()).constData()), 0);
    frmPanelSyncro *window = checkShowsTheWindow();
    ASSERT_TRUE(window);
    window->optRecvPanel->setChecked(true);
    QTest::mouseClick(window->cmdOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !sessionState().messageQueue; }, 15000));
    QFile::remove(transferFile());
    EXPECT_EQ(blocks(kRequestBlock), blocksOf({13}));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::PermissionDenied);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("RECV_END")));
    EXPECT_TRUE(callback->withCode(10).empty());
    EXPECT_TRUE(pif->endReports.isEmpty());
    EXPECT_FALSE(callback->withCode(3).empty());
    EXPECT_EQ(sim->commandCount(QStringLiteral("Panel Goodbye")), 1);
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
}

// A CRC answer without its FF FF E0 marker: the operator is told and nothing is compared; an
// unattended session asks again and carries out its job.
TEST_F(SyncTest, ABadCrcAnswerShowsTheBoxOrIsAskedAgain)
{
    faults << QStringLiteral("badcrc@crc");
    connectWith({5});
    BoxAnswerer box(QStringLiteral("msgBadCrcAnswer"), QMessageBox::Ok);
    ASSERT_EQ(modToolbox::CheckPanelSyncronization(), 0);
    ASSERT_TRUE(waitFor([&] { return box.answered == 1; }, 5000));
    EXPECT_EQ(box.text, modGlobals::GetCatalogString(1440));
    EXPECT_EQ(box.title, modGlobals::GetCatalogString(1441));
    ASSERT_TRUE(waitFor([&] { return events().contains(QStringLiteral("7")); }, 5000));
    EXPECT_FALSE(sync());
    EXPECT_TRUE(blocks(kRequestBlock).isEmpty());

    // Unattended: a second request, then the preset receive, reported at once; no window is made.
    TearDown();
    SetUp();
    faults = QStringList{QStringLiteral("badcrc@crc")};
    connectWith({5});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the first session's windows
    MessageQueue *queue = sessionState().messageQueue;
    queue->setUnattended(true);
    auto *unattended = new SyncCheck(queue);
    unattended->setMode(SyncCheck::ReceivePanel);
    ASSERT_EQ(modUnattended::UnattendedSyncStartup(unattended, 3), 0);
    ASSERT_TRUE(waitFor([&] { return callback->tags().contains(QStringLiteral("RECV_END")); }, 5000));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request CRC")), 2);
    EXPECT_EQ(blocks(kRequestBlock), blocksOf({5}));
    EXPECT_TRUE(hostHoldsThePanelsData());
    EXPECT_EQ(callback->withCode(10).size(), 1u);
    EXPECT_FALSE(transfer());
    EXPECT_FALSE(windowLeft<frmPanelSyncro>());
    EXPECT_FALSE(windowLeft<frmWorkInProgress>());
}

// Screenshots of "Panel Sync" and of the transfer window mid-transfer, for the documentation.
TEST_F(SyncTest, Screenshots)
{
    const QString folder = testsupport::screenshotFolder();
    if (folder.isEmpty())
        GTEST_SKIP() << "set QUARVO_SCREENSHOTS=1 to refresh the screenshots";
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("AllowExclusive"),
                                QStringLiteral("1"));
    sessionState().config.standardPollRate = 1000; // a block every 50 ms: slow enough to catch one
    connectWith({1, 5, 13});
    frmPanelSyncro *window = checkShowsTheWindow();
    ASSERT_TRUE(window);
    window->optRecvPanel->setChecked(true);
    QApplication::processEvents();
    EXPECT_TRUE(window->grab().save(folder + QStringLiteral("/panel-sync.png")));
    QTest::mouseClick(window->cmdOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        const DataTransfer *t = transfer();
        return t && t->TransferState.currentItem == 13 && t->TransferState.blocksDone >= 20;
    }, 20000));
    QApplication::processEvents();
    EXPECT_TRUE(transferWindow()->grab().save(folder + QStringLiteral("/work-in-progress.png")));
    QTest::mouseClick(transferWindow()->cmdAbort, Qt::LeftButton);
}

#endif // QUARVO_HAVE_SIM
