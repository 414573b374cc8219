// The event history against the panel simulator over the network link (the current events also
// over the enhanced direct link): the window runs as the operator runs it (HistoryStartup, OK,
// Cancel) or as the unattended job does, and what reaches the host is compared with the slots the
// panel holds. Also: malformed answers end the session, and the two screenshots.
#include "connection/ConnectionFixture.h"
#include "network/NetFixture.h"

#include "component/clsCommunication.h"
#include "controls/AnimationStrip.h"
#include "operations/frmHistory.h"

#ifdef QUARVO_HAVE_SIM

using namespace nettest;

namespace {

struct Retrieval
{
    bool all = false;
    bool setPointer = false;
};

class HistoryTest : public NetTest
{
protected:
    // A session with a network panel whose log `shape` sets (8 slots per answer unless it says
    // otherwise); the host's notifications start empty.
    void connect(const std::function<void(panelsim::PanelConfig &)> &shape, const QStringList &panelFaults = {})
    {
        faults = panelFaults;
        admitted = false;
        connectAndAdmit(false, [&](panelsim::PanelConfig &c) {
            c.slotsPerAnswer = 8;
            c.logSize = 64;
            shape(c);
        });
        callback->events.clear();
    }

    // Runs the window as the operator does: once it shows, pick the range and press OK; `during`
    // may add steps. Returns the window after its modal run (it may be gone when the session
    // ended); the caller deletes it.
    QPointer<frmHistory> run(Retrieval r, const std::function<void(conntest::Script &, frmHistory *)> &during = {})
    {
        QPointer<frmHistory> window = new frmHistory();
        conntest::Script script;
        script.then(QStringLiteral("history window shown"), [window] { return window && window->isVisible(); },
                    [window, r] {
                        (r.all ? window->optAll : window->optCurrent)->setChecked(true);
                        window->chkSetPointer->setChecked(r.setPointer);
                        QTest::mouseClick(window->cmdOK, Qt::LeftButton);
                    });
        if (during)
            during(script, window);
        script.emergency = [window] {
            if (window)
                window->hide();
        };
        script.start(20000);
        EXPECT_EQ(window->Display(), 0);
        EXPECT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
        return window;
    }

    // The host's notifications: "6", "13", "TAG" or "TAG=value" for HISTORY_END, in order.
    QStringList notifications() const
    {
        QStringList out;
        for (const auto &e : callback->events) {
            const QVariantList list = e.data.toList();
            const QString tag = list.value(0).toString();
            out << (e.code != 5                        ? QString::number(e.code)
                    : tag == QLatin1String("HISTORY_END") ? tag + QLatin1Char('=') + list.value(1).toString()
                                                          : tag);
        }
        return out;
    }

    // The same as one text, for readable comparisons.
    std::string notificationText() const { return notifications().join(QLatin1Char(' ')).toStdString(); }

    // The event-13 blocks, joined.
    QByteArray blocks() const
    {
        QByteArray out;
        for (const auto &e : callback->withCode(13))
            out += e.data.toByteArray();
        return out;
    }

    // The start indexes of the "Request Event Log" requests the panel received, in order.
    QList<int> requestedBlocks() const
    {
        QList<int> out;
        const QString prefix = QStringLiteral("Request Event Log ");
        for (const panelsim::TraceEntry &e : sim->trace()) {
            const qsizetype at = e.decoded.indexOf(prefix);
            if (e.direction == QLatin1String("in") && at >= 0)
                out << e.decoded.mid(at + prefix.size()).section(QLatin1Char(' '), 0, 0).toInt();
        }
        return out;
    }

    bool panelRefusedSomething() const
    {
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.direction == QLatin1String("out") && e.decoded.contains(QLatin1String("refused")))
                return true;
        return false;
    }
};

class HistoryOverLink : public HistoryTest, public ::testing::WithParamInterface<panelsim::LinkMode>
{
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        linkMode = GetParam();
    }
};

// The events since the read pointer, which lies a few events before the end of the ring so that
// the read wraps past it; one block is consumed exactly up to the last slot. Through the host's
// HistoryStartup, with the pointer stored at the end; on the network and the enhanced direct link.
TEST_P(HistoryOverLink, CurrentEventsWrapPastTheRingEndAndStoreThePointer)
{
    clsCommunication comm; // before the session: creating it loads the configuration afresh
    ASSERT_NO_FATAL_FAILURE(connect([](panelsim::PanelConfig &c) {
        c.eventCount = 30;
        c.newEventCount = 12;
        c.firstEventSlot = 5;
    }));
    const panelsim::EventLog before = sim->state().eventLog;
    const int pointer = before.panelPointer(), newest = before.newestIndex(), size = before.size();
    ASSERT_GT(pointer, newest) << "the unread events should wrap past the end of the ring";

    conntest::Script script;
    script.then(QStringLiteral("history window shown"),
                [] { return sessionState().historyWindow && sessionState().historyWindow->isVisible(); },
                [] {
                    frmHistory *window = sessionState().historyWindow;
                    window->chkSetPointer->setChecked(true);
                    QTest::mouseClick(window->cmdOK, Qt::LeftButton);
                });
    script.emergency = [] {
        if (frmHistory *window = sessionState().historyWindow)
            window->hide();
    };
    script.start(20000);
    EXPECT_EQ(comm.HistoryStartup(), 0);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    EXPECT_FALSE(sessionState().historyWindow);

    // Every slot from the pointer to the newest index, invalid and modifier slots included, as
    // the panel holds them; the valid events of that range counted.
    EXPECT_EQ(blocks().toHex(), before.readSlots(pointer, (newest - pointer + size) % size).toHex());
    const QStringList events = notifications();
    ASSERT_GE(events.size(), 5);
    EXPECT_EQ(events.first(), QStringLiteral("6"));
    EXPECT_EQ(events.at(1), QStringLiteral("HISTORY_CURRENT"));
    EXPECT_EQ(events.mid(events.size() - 3).join(QLatin1Char(' ')).toStdString(), "HISTORY_POINTER HISTORY_END=12 7");
    EXPECT_EQ(events.count(QStringLiteral("13")), events.size() - 5);
    EXPECT_EQ(sim->state().eventLog.panelPointer(), newest);

    // Blocks follow each other round the ring: the start after the last slot is slot 0.
    const QList<int> starts = requestedBlocks();
    ASSERT_FALSE(starts.isEmpty());
    EXPECT_EQ(starts.first(), pointer);
    EXPECT_TRUE(starts.contains(0)) << "no block ended exactly at the end of the ring";
    EXPECT_FALSE(panelRefusedSomething());
}

INSTANTIATE_TEST_SUITE_P(Link, HistoryOverLink,
                         ::testing::Values(panelsim::LinkMode::Network, panelsim::LinkMode::EnhancedDirect),
                         [](const ::testing::TestParamInfo<panelsim::LinkMode> &info) {
                             return info.param == panelsim::LinkMode::Network ? "Network" : "EnhancedDirect";
                         });

// "All Events": on a log that has not filled its ring the slot after the newest index is empty,
// so the read starts again from slot 0 (once); on a full ring it goes once round, wrapping. Run as
// the unattended job runs it: the window is never shown and unloads itself at the end.
TEST_F(HistoryTest, AllEventsRestartOnceOrWrapRoundAFullRingUnattended)
{
    struct Case
    {
        const char *name;
        int events;
        int firstSlot;
    };
    for (const Case &c : {Case{"ring not full", 20, 0}, Case{"full ring", 42, 0}}) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(connect([&](panelsim::PanelConfig &config) {
            config.eventCount = c.events;
            config.firstEventSlot = c.firstSlot;
        }));
        sessionState().messageQueue->setUnattended(true);
        const panelsim::EventLog log = sim->state().eventLog;
        const int newest = log.newestIndex(), size = log.size();
        const bool full = log.slot(newest + 1) != QByteArray(4, '\0');
        EXPECT_EQ(full, QLatin1String(c.name) == QLatin1String("full ring"));

        QPointer<frmHistory> window = new frmHistory();
        window->optAll->setChecked(true);
        EXPECT_FALSE(window->chkSetPointer->isEnabled());
        EXPECT_EQ(modUnattended::UnattendedHistoryStartup(window->retrieval(), 4), 0);
        EXPECT_TRUE(waitFor(
            [&] {
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                return window.isNull();
            },
            15000));

        const QList<int> starts = requestedBlocks();
        ASSERT_GE(starts.size(), 2);
        EXPECT_EQ(starts.first(), (newest + 1) % size);
        if (full) {
            // Round the ring from the slot after the newest index back to it.
            EXPECT_EQ(blocks().toHex(), log.readSlots(newest + 1, size - 1).toHex());
            EXPECT_TRUE(std::is_sorted(starts.begin(), starts.end()) == false) << "the read did not wrap";
        } else {
            EXPECT_EQ(starts.at(1), 0);
            EXPECT_EQ(starts.count(0), 1);
            EXPECT_EQ(blocks().toHex(), log.readSlots(0, newest).toHex());
        }
        const QStringList events = notifications();
        ASSERT_GE(events.size(), 3);
        EXPECT_EQ(events.first(), QStringLiteral("HISTORY_ALL"));
        EXPECT_EQ(events.last(), QStringLiteral("7"));
        if (!full) {
            EXPECT_EQ(events.at(events.size() - 2), QStringLiteral("HISTORY_END=%1").arg(c.events));
        }
        EXPECT_FALSE(events.contains(QStringLiteral("6")));
        EXPECT_FALSE(panelRefusedSomething());
        TearDown();
        SetUp();
    }
}

// The retrieval alone, as the unattended job drives it: typed range and pointer choice, no window
// at any time. The host hears what the window's retrieval tells it, the progress climbs to its plan
// and the status line reports each step; at the end the retrieval unloads and goes.
TEST_F(HistoryTest, UnattendedRetrievalRunsWithoutAWindow)
{
    using Range = HistoryRetrieval::Range;
    struct Case
    {
        const char *name;
        Range range;
        bool setPointer;
        const char *first;
        const char *last;
    };
    for (const Case &c : {Case{"current events, pointer stored", Range::Current, true, "HISTORY_CURRENT", "HISTORY_POINTER HISTORY_END=9 7"},
                          Case{"all events", Range::All, false, "HISTORY_ALL", "HISTORY_END=20 7"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(connect([](panelsim::PanelConfig &config) {
            config.eventCount = 20;
            config.newEventCount = 9;
        }));
        MessageQueue *queue = sessionState().messageQueue;
        queue->setUnattended(true);
        const panelsim::EventLog log = sim->state().eventLog;
        const QWidgetList before = QApplication::allWidgets();
        const QSet<QWidget *> widgetsBefore(before.cbegin(), before.cend());

        QPointer<HistoryRetrieval> retrieval = new HistoryRetrieval(queue);
        QObject::connect(retrieval, &HistoryRetrieval::finished, retrieval, &QObject::deleteLater);
        EXPECT_EQ(sessionState().historyRetrieval, retrieval.data());
        QList<QPair<int, int>> progress;
        QStringList statuses;
        QObject::connect(retrieval, &HistoryRetrieval::progressChanged, [&](int value, int maximum) { progress.append({value, maximum}); });
        QObject::connect(retrieval, &HistoryRetrieval::statusChanged, [&](const QString &text) { statuses.append(text); });
        retrieval->setRange(c.range);
        retrieval->setSetPointer(c.setPointer);
        bool windowSeen = false;
        EXPECT_EQ(modUnattended::UnattendedHistoryStartup(retrieval, 4), 0);
        EXPECT_TRUE(waitFor(
            [&] {
                const QList<QWidget *> widgets = QApplication::allWidgets();
                windowSeen = windowSeen || sessionState().historyWindow
                             || std::any_of(widgets.cbegin(), widgets.cend(),
                                            [&](QWidget *w) { return !widgetsBefore.contains(w); });
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                return retrieval.isNull();
            },
            15000));
        EXPECT_FALSE(windowSeen);
        EXPECT_FALSE(sessionState().historyRetrieval);

        const QStringList events = notifications();
        ASSERT_GE(events.size(), 3);
        EXPECT_EQ(events.first(), QLatin1String(c.first));
        const int tail = c.setPointer ? 3 : 2;
        EXPECT_EQ(events.mid(events.size() - tail).join(QLatin1Char(' ')), QLatin1String(c.last)) << notificationText();
        EXPECT_EQ(events.count(QStringLiteral("13")), events.size() - 1 - tail);
        const int newest = log.newestIndex(), size = log.size();
        if (c.range == Range::Current) {
            const int pointer = log.panelPointer();
            EXPECT_EQ(blocks().toHex(), log.readSlots(pointer, (newest - pointer + size) % size).toHex());
            EXPECT_EQ(sim->state().eventLog.panelPointer(), newest);
        } else {
            EXPECT_EQ(blocks().toHex(), log.readSlots(0, newest).toHex());
            EXPECT_EQ(sim->state().eventLog.panelPointer(), log.panelPointer());
        }

        // Each plan starts from 0 and climbs to its maximum, never past it; the last ends full.
        ASSERT_FALSE(progress.isEmpty());
        for (qsizetype i = 1; i < progress.size(); ++i) {
            EXPECT_LE(progress[i].first, progress[i].second) << i;
            if (progress[i].second == progress[i - 1].second && progress[i].first != 0) {
                EXPECT_GE(progress[i].first, progress[i - 1].first) << i;
            }
        }
        EXPECT_EQ(progress.last().first, progress.last().second);
        EXPECT_GT(progress.last().second, 0);
        for (const std::int16_t number : {532, 534, 536})
            EXPECT_TRUE(statuses.contains(modGlobals::GetCatalogString(number))) << number;
        EXPECT_EQ(statuses.contains(modGlobals::GetCatalogString(535)), c.setPointer);
        EXPECT_FALSE(panelRefusedSomething());
        TearDown();
        SetUp();
    }
}

// Nothing to read: the pointer at the newest index (no block is asked for, the bar is full, the
// pointer is written back all the same), and a log of zeros read whole (no block for the host).
TEST_F(HistoryTest, NothingToReadStillEndsTheRetrievalInOrder)
{
    struct Case
    {
        const char *name;
        int events;
        Retrieval retrieval;
        QList<int> requests;
        std::string host;
    };
    for (const Case &c : {Case{"pointer at the newest index", 12, {false, true}, {},
                               "6 HISTORY_CURRENT HISTORY_POINTER HISTORY_END=0 7"},
                          Case{"log of zeros", 0, {true, false}, {1, 0}, "6 HISTORY_ALL HISTORY_END=0 7"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(connect([&](panelsim::PanelConfig &config) {
            config.eventCount = c.events;
            config.newEventCount = 0;
        }));
        const panelsim::EventLog log = sim->state().eventLog;
        ASSERT_EQ(log.panelPointer(), log.newestIndex());
        const QPointer<frmHistory> window = run(c.retrieval);
        ASSERT_TRUE(window);
        EXPECT_EQ(requestedBlocks(), c.requests);
        EXPECT_EQ(notificationText(), c.host);
        EXPECT_EQ(window->progressbar->value(), window->progressbar->maximum());
        EXPECT_EQ(window->progressbar->maximum(), log.size());
        EXPECT_EQ(sim->commandCount(QStringLiteral("Set Event Index")), c.retrieval.setPointer ? 1 : 0);
        EXPECT_EQ(sim->state().eventLog.panelPointer(), log.newestIndex());
        delete window.data();
        TearDown();
        SetUp();
    }
}

TEST_F(HistoryTest, RefusedPointerEndsTheSession)
{
    ASSERT_NO_FATAL_FAILURE(connect([](panelsim::PanelConfig &c) { c.newEventCount = 2; }, {"refuse@setindex"}));
    const QPointer<frmHistory> window = run({false, true});
    EXPECT_TRUE(waitFor([&] { return sim->goodbyeReceived(); }, 5000));
    const QStringList events = notifications();
    EXPECT_FALSE(events.contains(QStringLiteral("HISTORY_POINTER")));
    EXPECT_TRUE(events.filter(QStringLiteral("HISTORY_END")).isEmpty());
    EXPECT_EQ(events.count(QStringLiteral("13")), 1);
    EXPECT_TRUE(errorLog().contains(QStringLiteral("ResponseReceived()"))) << errorLog().toStdString();
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::SendRefused);
    delete window.data();
}

// Cancel while a block request is with the panel: that answer is handled completely (its block
// reaches the host, the next request is queued), then the window goes, and its unload drops the
// request still waiting in the queue.
TEST_F(HistoryTest, CancelStopsAfterTheNextAnswerAndUnloadDropsTheQueuedRequest)
{
    ASSERT_NO_FATAL_FAILURE(connect([](panelsim::PanelConfig &c) { c.newEventCount = 10; }, {"late=120@eventlog*0"}));
    bool cancelled = false;
    const QPointer<frmHistory> window = run({false, false}, [&](conntest::Script &script, frmHistory *w) {
        script.then(QStringLiteral("a block request in flight"),
                    [] {
                        MessageQueue *queue = sessionState().messageQueue;
                        const std::shared_ptr<clsMessage> current = queue ? queue->CurrentMessage() : nullptr;
                        return current && current->Name() == QLatin1String("Request Event Log");
                    },
                    [&cancelled, w] {
                        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
                        cancelled = w->RunState == frmHistory::RunCancelled && !w->cmdCancel->isEnabled();
                    });
    });
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(notificationText(), "6 HISTORY_CURRENT 13 7");
    MessageQueue *queue = sessionState().messageQueue;
    ASSERT_TRUE(queue);
    for (std::shared_ptr<clsMessage> msg = queue->FirstQueuedMsg(); msg; msg = msg->NextMessage())
        EXPECT_NE(msg->OwnerName(), QStringLiteral("frmHistory"));
    QTest::qWait(300);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Event Log")), 1);
    delete window.data();
}

// Enter before the retrieval starts: on the focused button it presses that button; with the focus
// on the range or the pointer box it presses OK. Escape is Cancel.
TEST_F(HistoryTest, EnterPressesTheFocusedButtonElseOK)
{
    ASSERT_NO_FATAL_FAILURE(connect([](panelsim::PanelConfig &c) { c.newEventCount = 3; }));
    struct Case
    {
        const char *focus;
        Qt::Key key;
        bool retrieves;
    };
    const Case cases[] = {{"cmdOK", Qt::Key_Return, true},     {"cmdCancel", Qt::Key_Return, false},
                          {"optAll", Qt::Key_Return, true},    {"chkSetPointer", Qt::Key_Enter, true},
                          {"cmdCancel", Qt::Key_Enter, false}, {"cmdOK", Qt::Key_Escape, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.focus) + ", key " + std::to_string(c.key));
        callback->events.clear();
        const int indexRequests = sim->commandCount(QStringLiteral("Request Event Index"));
        QPointer<frmHistory> window = new frmHistory();
        conntest::Script script;
        script.then(QStringLiteral("history window shown"), [window] { return window && window->isVisible(); },
                    [window, c] { testsupport::pressKeyOn(window->findChild<QWidget *>(QLatin1String(c.focus)), c.key); });
        script.emergency = [window] {
            if (window)
                window->hide();
        };
        script.start(20000);
        EXPECT_EQ(window->Display(), 0);
        EXPECT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
        delete window.data();
        if (c.retrieves) {
            EXPECT_EQ(notifications().value(1), QStringLiteral("HISTORY_CURRENT")) << notificationText();
            EXPECT_TRUE(notifications().contains(QStringLiteral("HISTORY_END=3"))) << notificationText();
            EXPECT_GT(sim->commandCount(QStringLiteral("Request Event Index")), indexRequests);
        } else {
            EXPECT_EQ(notificationText(), "6 7");
            EXPECT_EQ(sim->commandCount(QStringLiteral("Request Event Index")), indexRequests);
        }
    }
}

// Answers the window cannot use are failed answers: the error is reported under the window and the
// retrieval goes no further (no block for the host, no end notification).
TEST_F(HistoryTest, MalformedAnswersFailWithoutReadingPastThem)
{
    struct Case
    {
        const char *name;
        QByteArray index;
        QByteArray block; // answered after the index answer when not empty
        std::int32_t error;
    };
    const auto frame = [](const QByteArray &payload) { return answerFrame(0x14, payload); };
    for (const Case &c : {
             Case{"index answer of 8 bytes", bytes({0, 8, 0x14, 0, 2, 0, 4, 0}), {}, ErrorCode::SendRefused},
             Case{"ring of 40000 slots", frame(bytes({0, 2, 0, 4, 0x9C, 0x40})), {}, ErrorCode::Overflow},
             Case{"newest index outside the ring", frame(bytes({0, 2, 0, 64, 0, 64})), {}, ErrorCode::SendRefused},
             Case{"block answer without a whole event", frame(bytes({0, 2, 0, 8, 0, 64})),
                  frame(bytes({0x10, 0x01, 0, 0, 0x11, 0x0C, 0x40, 0})), ErrorCode::SendRefused},
         }) {
        SCOPED_TRACE(c.name);
        sessionState().LastErrorNumber = 0;
        callback->events.clear();
        auto *window = new frmHistory();
        window->optCurrent->setChecked(true);
        const auto answer = [&](const QString &name, const QByteArray &data) {
            QString guid;
            std::unique_ptr<clsMessage> msg = messageRecord(name, guid);
            msg->setOwnerName(window->Name());
            msg->setData(data);
            window->ResponseReceived(*msg);
            msgrecord::Discard(guid);
        };
        answer(QStringLiteral("Request Event Index"), c.index);
        if (!c.block.isEmpty()) {
            EXPECT_EQ(sessionState().LastErrorNumber, 0);
            answer(QStringLiteral("Request Event Log"), c.block);
        }
        EXPECT_EQ(sessionState().LastErrorNumber, c.error);
        EXPECT_TRUE(callback->withCode(13).empty());
        EXPECT_TRUE(notifications().filter(QStringLiteral("HISTORY_END")).isEmpty());
        delete window;
    }
    EXPECT_TRUE(errorLog().contains(QStringLiteral("frmHistory"))) << errorLog().toStdString();
}

// The slot checks read the packed fields bit-exactly: one past each range fails.
TEST(HistorySlots, MainSlotAndTimeStampRanges)
{
    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    EXPECT_TRUE(HistoryRetrieval::IsValidTimeStamp(hex("CFDFB000")));  // 12/31 23:59
    EXPECT_TRUE(HistoryRetrieval::IsValidTimeStamp(hex("10800000")));  // 1/1 00:00
    // Month 13, month 0, day 0, hour 24, minute 60.
    for (const char *bad : {"D0800000", "00800000", "10000000", "10E00000", "1083C000"})
        EXPECT_FALSE(HistoryRetrieval::IsValidTimeStamp(hex(bad))) << bad;
    EXPECT_TRUE(HistoryRetrieval::IsValidMainEvent(hex("EF3F0000")));
    EXPECT_FALSE(HistoryRetrieval::IsValidMainEvent(hex("F0000000")));
    EXPECT_FALSE(HistoryRetrieval::IsValidMainEvent(hex("00400000")));
    EXPECT_FALSE(HistoryRetrieval::IsValidTimeStamp(hex("CFDF")));
}

TEST_F(HistoryTest, ScreenshotsCompactAndExpanded)
{
    const QString folder = testsupport::screenshotFolder();
    if (folder.isEmpty())
        GTEST_SKIP() << "set QUARVO_SCREENSHOTS=1 to refresh the screenshots";
    frmHistory window;
    window.show();
    QApplication::processEvents();
    EXPECT_TRUE(window.grab().save(folder + QStringLiteral("/history-compact.png")));
    window.cmdOK_Click(); // no session: the request is only built, the window shows its expanded state
    window.progressbar->setRange(0, 40);
    window.progressbar->setValue(26);
    window.lblStatus->setText(modGlobals::GetCatalogString(534));
    QApplication::processEvents();
    EXPECT_TRUE(window.isExpanded());
    EXPECT_TRUE(window.grab().save(folder + QStringLiteral("/history-expanded.png")));
    window.aniHistory->stop();
}

} // namespace

#endif
