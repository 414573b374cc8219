// Session supervision end to end against the panel simulator (network link): the panel event
// warning opened by keep-alive answers, the inactivity prompt, the end-session dialog of
// CommShutdown(false), the queue console's message details, and the heartbeat that keeps one
// keep-alive waiting at a time. Modal windows are driven from a timer (conntest::Script) while
// their exec() runs.
#include "connection/ConnectionFixture.h"
#include "network/NetFixture.h"

#include "component/clsCommunication.h"
#include "link/clsPanelMsg.h"
#include "queue/SessionEnd.h"
#include "queue/frmMsgDetail.h"
#include "queue/MessageQueue.h"
#include "queue/frmMsgQueue.h"
#include "supervision/Countdown.h"
#include "supervision/InactivityCountdown.h"
#include "supervision/SupervisionViews.h"
#include "supervision/SupervisionWindows.h"
#include "supervision/frmDisconnect.h"
#include "supervision/frmInactivityDisconnect.h"
#include "supervision/frmPanelEventWarning.h"

#ifdef QUARVO_HAVE_SIM

using conntest::Script;
using namespace nettest;

namespace {

const QString kApp = QStringLiteral("Tamsel");
const QString kComm = QStringLiteral("Communications");

void setSetting(const QString &key, const QString &value)
{
    modRegistry::SaveRegSetting(kApp, kComm, key, value);
}

// The level boxes that are ticked, by index.
QList<int> ticked(const frmPanelEventWarning *window)
{
    QList<int> out;
    for (int i = 0; i < window->chkNewEventLevel.size(); ++i)
        if (window->chkNewEventLevel[i]->isChecked())
            out << i;
    return out;
}

class SupervisionTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        Timing::setScale(0.1); // a count-down second is 100 ms, a heartbeat 200 ms
        testsupport::freshSettingsDir();
        setSetting(QStringLiteral("EventWarningTimeout"), QStringLiteral("10"));
        setSetting(QStringLiteral("InactivityDisconnectTimeout"), QStringLiteral("100"));
    }

    void TearDown() override
    {
        NetTest::TearDown();
        delete transferWindow.data();
    }

    // A connected, admitted session with the supervision links of InitQueue in place; every warning
    // the queue opens goes through the real window, and the test counts them.
    void connect()
    {
        connectAndAdmit(false);
        real = queueLinks().eventWarning;
        queueLinks().eventWarning = [this](std::int16_t level) {
            ++warnings;
            return real(level);
        };
    }

    static frmPanelEventWarning *warning() { return sessionState().eventWarningWindow; }
    static frmInactivityDisconnect *prompt() { return sessionState().inactivityWindow; }
    static std::function<bool()> warningShown()
    {
        return [] { return warning() && warning()->isVisible(); };
    }
    static std::function<bool()> promptShown()
    {
        return [] { return prompt() && prompt()->isVisible(); };
    }

    bool sessionEnded() const { return panel->goodbyeReceived() && !sessionState().messageQueue; }

    // Runs the script and waits (bounded) until `done` holds.
    void run(Script &script, const std::function<bool()> &done, int timeoutMs = 15000)
    {
        script.emergency = [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->hide();
        };
        script.start(timeoutMs);
        EXPECT_TRUE(waitFor(done, timeoutMs + 2000));
        EXPECT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    }

    std::function<std::int16_t(std::int16_t)> real;
    int warnings = 0;
    QPointer<QWidget> transferWindow;
};

} // namespace

TEST_F(SupervisionTest, NewEventsOpenTheWarningOnceARefreshUpdatesItAndNoAnswerHangsUp)
{
    connect();
    panel->setEventCounter(0x8100); // levels 8 and 1
    QList<int> first, refreshed;
    Script script;
    script.then(QStringLiteral("warning shown"), warningShown(), [&] {
        first = ticked(warning());
        panel->setEventCounter(0x0300); // levels 1 and 2, reported by the next keep-alive
    });
    script.then(QStringLiteral("levels refreshed"), [] { return warning() && ticked(warning()) == QList<int>{0, 1}; },
                [&] { refreshed = ticked(warning()); });
    run(script, [&] { return sessionEnded(); });

    EXPECT_EQ(first, (QList<int>{0, 7}));
    EXPECT_EQ(refreshed, (QList<int>{0, 1}));
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(panel->state().goodbyeCode, 0);
    ASSERT_EQ(callback->withCode(3).size(), 1u);
    EXPECT_EQ(callback->withCode(3)[0].data.toString(), QStringLiteral("USERDISCONNECTING"));
    EXPECT_FALSE(sessionState().PanelEventWarningShown);
}

// The operator's choices; the transfer window is out of the way while the warning is up.
struct Choice
{
    const char *name;
    std::function<void(frmPanelEventWarning *)> act;
    bool hangsUp;
    int warningsAfterNextEvent;
};

class WarningChoice : public SupervisionTest, public ::testing::WithParamInterface<Choice>
{
};

TEST_P(WarningChoice, AnswersTheWarning)
{
    const Choice choice = GetParam();
    connect();
    // Stand-ins of the transfer and synchronisation windows; the second one unloads (hides) itself
    // while the warning is up.
    auto *transfer = new QWidget;
    transfer->setObjectName(QStringLiteral("frmWorkInProgress"));
    transfer->show();
    transferWindow = transfer;
    auto *sync = new QWidget(transfer, Qt::Window);
    sync->setObjectName(QStringLiteral("frmPanelSyncro"));
    sync->show();
    bool hiddenMeanwhile = false;

    panel->setEventCounter(0x0100);
    Script script;
    script.then(QStringLiteral("warning shown"), warningShown(), [&] {
        hiddenMeanwhile = transfer->isMinimized() && sync->isMinimized();
        sync->hide();
        choice.act(warning());
    });
    if (choice.hangsUp) {
        run(script, [&] { return sessionEnded(); });
        EXPECT_EQ(panel->state().goodbyeCode, 0);
        EXPECT_TRUE(hiddenMeanwhile);
        return;
    }
    run(script, [&] { return warnings == 1 && !warning(); });
    EXPECT_TRUE(hiddenMeanwhile);
    EXPECT_TRUE(transfer->isVisible() && !transfer->isMinimized());
    EXPECT_FALSE(sync->isVisible());

    // The next new value: a warning again, or none after "ignore".
    Script next;
    next.then(QStringLiteral("warning shown again"), warningShown(), [] { warning()->cmdContinue_Click(); });
    const int before = panel->commandCount(QStringLiteral("Request Panel Status"));
    panel->setEventCounter(0x0200);
    if (choice.warningsAfterNextEvent == 2)
        run(next, [&] { return warnings == 2 && !warning(); });
    else
        ASSERT_TRUE(waitFor([&] { return panel->commandCount(QStringLiteral("Request Panel Status")) >= before + 4; }, 8000));
    EXPECT_EQ(warnings, choice.warningsAfterNextEvent);
    EXPECT_TRUE(sessionState().messageQueue);
    EXPECT_FALSE(panel->goodbyeReceived());
}

INSTANTIATE_TEST_SUITE_P(
    Choices, WarningChoice,
    ::testing::Values(Choice{"CloseBox", [](frmPanelEventWarning *w) { w->close(); }, true, 1},
                      Choice{"HangUp", [](frmPanelEventWarning *w) { QTest::mouseClick(w->cmdHangUp, Qt::LeftButton); }, true, 1},
                      Choice{"IgnoreLabel", [](frmPanelEventWarning *w) { QTest::mouseClick(w->lblIgnore, Qt::LeftButton); }, false, 1},
                      Choice{"Continue", [](frmPanelEventWarning *w) { QTest::mouseClick(w->cmdContinue, Qt::LeftButton); }, false, 2},
                      Choice{"EnterOnHangUp", [](frmPanelEventWarning *w) { testsupport::pressKeyOn(w->cmdHangUp); }, true, 1},
                      Choice{"EnterOnIgnore", [](frmPanelEventWarning *w) { testsupport::pressKeyOn(w->cmdIgnore); }, false, 1},
                      Choice{"EnterOnContinue", [](frmPanelEventWarning *w) { testsupport::pressKeyOn(w->cmdContinue); }, false, 2}),
    [](const ::testing::TestParamInfo<Choice> &info) { return std::string(info.param.name); });

TEST_F(SupervisionTest, APanelEventClosesTheInactivityPromptAndTheSessionGoesOn)
{
    connect();
    Script script;
    script.then(QStringLiteral("prompt shown"), promptShown(), [&] {
        sessionState().messageQueue->setInactivityTimeout(0); // no second prompt
        panel->setEventCounter(0x0400);
    });
    script.then(QStringLiteral("warning shown"), warningShown(), [] {
        EXPECT_FALSE(prompt());
        EXPECT_FALSE(sessionState().InactivityPromptShown);
        warning()->cmdContinue_Click();
    });
    sessionState().messageQueue->setInactivityTimeout(1);
    run(script, [&] { return warnings == 1 && !warning(); });
    EXPECT_TRUE(sessionState().messageQueue);
    EXPECT_FALSE(panel->goodbyeReceived());
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("PANEL_INACTIVITY")));
}

TEST_F(SupervisionTest, CancelInTheLastSecondKeepsTheSessionAndExpiryDisconnects)
{
    setSetting(QStringLiteral("InactivityDisconnectTimeout"), QStringLiteral("3"));
    connect();
    Script script;
    // The bar shows its last second (1) for ten ticks and 0 for a single tick, so the click aims at
    // the 1: the script's action is posted and would miss a one-tick window on a busy machine.
    bool clicked = false;
    script.then(QStringLiteral("last second"), [] { return promptShown()() && prompt()->pbCountDown->value() <= 1; },
                [&clicked] {
                    if (frmInactivityDisconnect *window = prompt()) {
                        QTest::mouseClick(window->cmdCancel, Qt::LeftButton);
                        clicked = true;
                    }
                });
    // Kept: the watch starts again and the prompt comes back; this time nobody answers.
    script.then(QStringLiteral("prompt shown again"), promptShown(), [] {});
    sessionState().messageQueue->setInactivityTimeout(1);
    run(script, [&] { return sessionEnded(); });
    EXPECT_TRUE(clicked) << "the prompt expired before Cancel was pressed";
    EXPECT_EQ(callback->tags(), QStringList{QStringLiteral("PANEL_INACTIVITY")});
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::InactivityDisconnect);
    EXPECT_EQ(panel->state().goodbyeCode, 0);
}

// The prompt answered from the keyboard: Enter on the focused button presses it, Enter with the
// focus elsewhere presses the default Cancel, Escape is Cancel.
struct PromptKey
{
    const char *name;
    const char *focus; // nullptr: the window itself
    Qt::Key key;
    bool disconnects;
};

class InactivityKeys : public SupervisionTest, public ::testing::WithParamInterface<PromptKey>
{
};

TEST_P(InactivityKeys, AnswerThePrompt)
{
    const PromptKey row = GetParam();
    connect();
    Script script;
    bool pressed = false;
    script.then(QStringLiteral("prompt shown"), promptShown(), [&] {
        sessionState().messageQueue->setInactivityTimeout(0); // no second prompt
        pressed = true;
        QWidget *focus = row.focus ? prompt()->findChild<QWidget *>(QLatin1String(row.focus)) : prompt();
        testsupport::pressKeyOn(focus, row.key);
    });
    sessionState().messageQueue->setInactivityTimeout(1);
    if (row.disconnects) {
        run(script, [&] { return sessionEnded(); });
        EXPECT_EQ(panel->state().goodbyeCode, 0);
        return;
    }
    run(script, [&] { return pressed && !promptShown()(); });
    const int before = panel->commandCount(QStringLiteral("Request Panel Status"));
    ASSERT_TRUE(waitFor([&] { return panel->commandCount(QStringLiteral("Request Panel Status")) >= before + 2; }, 5000));
    EXPECT_FALSE(panel->goodbyeReceived());
    EXPECT_TRUE(sessionState().messageQueue);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("PANEL_INACTIVITY")));
}

INSTANTIATE_TEST_SUITE_P(Keys, InactivityKeys,
                         ::testing::Values(PromptKey{"EnterOnDisconnectNow", "cmdDisconnectNow", Qt::Key_Return, true},
                                           PromptKey{"EnterOnCancel", "cmdCancel", Qt::Key_Return, false},
                                           PromptKey{"EnterOnTheWindow", nullptr, Qt::Key_Enter, false},
                                           PromptKey{"EscapeOnDisconnectNow", "cmdDisconnectNow", Qt::Key_Escape, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SupervisionTest, TheSessionEndingUnderTheOpenPromptClosesIt)
{
    connect();
    Script script;
    script.then(QStringLiteral("prompt shown"), promptShown(), [] { modGlobals::Disconnect(false, 5); });
    sessionState().messageQueue->setInactivityTimeout(1);
    run(script, [&] { return sessionEnded(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(prompt());
    EXPECT_FALSE(sessionState().InactivityPromptShown);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("PANEL_INACTIVITY")));
}

// Without windows (a process that can show none) the prompts run alone: the end-session question
// takes the close box's answer, the inactivity count-down expires, a panel event abandons a running
// prompt, and the warning's count-down hangs up.
class WithoutWindows : public SupervisionTest
{
protected:
    void SetUp() override
    {
        SupervisionTest::SetUp();
        component = std::make_unique<clsCommunication>(); // loads the configuration afresh
        SessionState &state = sessionState();
        state.hostCallback = callback;
        state.config.standardPollRate = 100;
        state.config.hbInterval = 2000;
        connect();
        supervisionWindows() = SupervisionWindows(); // after InitQueue, which installs the views
    }

    void TearDown() override
    {
        installSupervisionViews();
        component.reset();
        SupervisionTest::TearDown();
    }

    std::unique_ptr<clsCommunication> component;
};

TEST_F(WithoutWindows, TheQuestionIsCancelledAndTheInactivityCountdownExpires)
{
    setSetting(QStringLiteral("InactivityDisconnectTimeout"), QStringLiteral("2"));
    callback->events.clear();
    bool force = false;
    EXPECT_EQ(component->CommShutdown(force), 0);
    QStringList events;
    for (const auto &e : callback->events)
        events << QString::number(e.code);
    EXPECT_EQ(events, QStringList({"6", "7"}));
    EXPECT_FALSE(panel->goodbyeReceived());

    sessionState().messageQueue->setInactivityTimeout(1);
    ASSERT_TRUE(waitFor([&] { return sessionEnded(); }, 15000));
    EXPECT_TRUE(callback->tags().contains(QStringLiteral("PANEL_INACTIVITY")));
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::InactivityDisconnect);
    EXPECT_EQ(panel->state().goodbyeCode, 0);
    EXPECT_FALSE(sessionState().InactivityPromptShown);
}

TEST_F(WithoutWindows, APanelEventAbandonsThePromptAndTheWarningHangsUp)
{
    bool abandoned = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // Once the prompt counts down, the panel reports a new event.
        auto *prompt = qobject_cast<InactivityCountdown *>(sessionState().inactivityPrompt.data());
        if (prompt && prompt->hasStarted() && !abandoned) {
            abandoned = true;
            sessionState().messageQueue->setInactivityTimeout(0); // no second prompt
            panel->setEventCounter(0x0400);
        }
    });
    watch.start(20);
    sessionState().messageQueue->setInactivityTimeout(1);
    ASSERT_TRUE(waitFor([&] { return sessionEnded(); }, 15000));
    EXPECT_TRUE(abandoned);
    EXPECT_EQ(warnings, 1);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("PANEL_INACTIVITY")));
    EXPECT_EQ(panel->state().goodbyeCode, 0);
    EXPECT_FALSE(sessionState().PanelEventWarningShown);
}

// The count-down ticked by hand: its length from the store (a missing one written back as 30), and
// how many 100 ms ticks it takes to expire: one step a second, "PANEL_INACTIVITY" at the tick after
// the bar reached 0, and not before.
TEST(InactivityCountdown, ExpiresAfterItsLengthInTicks)
{
    testsupport::freshSettingsDir();
    resetSessionState();
    modGlobals::InitApplicationVariables();
    auto callback = std::make_shared<testsupport::CallbackDouble>();
    sessionState().hostCallback = callback;
    const struct
    {
        QString stored;
        int length;
        int ticksToExpire;
    } rows[] = {{QStringLiteral("0"), 0, 1}, {QStringLiteral("2"), 2, 21}, {QString(), 30, 301}};
    for (const auto &row : rows) {
        if (row.stored.isNull())
            testsupport::freshSettingsDir();
        else
            setSetting(QStringLiteral("InactivityDisconnectTimeout"), row.stored);
        const int length = supervision::countdownSeconds(QStringLiteral("InactivityDisconnectTimeout"), QStringLiteral("test"));
        EXPECT_EQ(length, row.length);
        callback->events.clear();
        InactivityCountdown prompt;
        prompt.startCountdown(length);
        prompt.tmrCountDown->stop(); // ticked by hand
        int ticks = 0;
        bool early = false;
        while (prompt.answer() != 7 && ticks < 1000) {
            early = early || !callback->tags().isEmpty();
            prompt.tmrCountDown_Timer();
            ++ticks;
        }
        EXPECT_EQ(ticks, row.ticksToExpire) << row.length;
        EXPECT_FALSE(early);
        EXPECT_EQ(callback->tags(), QStringList{QStringLiteral("PANEL_INACTIVITY")});
    }
    EXPECT_EQ(modRegistry::GetRegSetting(kApp, kComm, QStringLiteral("InactivityDisconnectTimeout")), QStringLiteral("30"));
    resetSessionState();
}

// CommShutdown(false): the end-session dialog and what each answer does.
struct EndSession
{
    const char *name;
    bool unattended;
    bool reset;
    bool ok;
    const char *enterOn = nullptr; // Enter with the focus on this control instead of a click
};

class EndSessionDialog : public SupervisionTest, public ::testing::WithParamInterface<EndSession>
{
};

TEST_P(EndSessionDialog, AsksBeforeTheGoodbye)
{
    const EndSession row = GetParam();
    clsCommunication component; // loads the configuration, as the host's creation does
    SessionState &state = sessionState();
    state.hostCallback = callback;
    state.config.standardPollRate = 100;
    state.config.hbInterval = 2000;
    connect();
    sessionState().UnattendedFlag = row.unattended;
    Script script;
    script.then(QStringLiteral("dialog shown"), [] { return qobject_cast<frmDisconnect *>(QApplication::activeModalWidget()); }, [&] {
        auto *dialog = qobject_cast<frmDisconnect *>(QApplication::activeModalWidget());
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("End Session"));
        dialog->chkPanelReset->setChecked(row.reset);
        if (row.enterOn)
            testsupport::pressKeyOn(dialog->findChild<QWidget *>(QLatin1String(row.enterOn)));
        else
            QTest::mouseClick(row.ok ? dialog->cmdOK : dialog->cmdCancel, Qt::LeftButton);
    });
    script.emergency = [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->hide();
    };
    script.start(10000);
    callback->events.clear();
    bool force = false;
    EXPECT_EQ(component.CommShutdown(force), 0);
    EXPECT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();

    QStringList events;
    for (const auto &e : callback->events)
        events << (e.code == 5 ? e.data.toList().value(0).toString() : QString::number(e.code));
    if (row.ok) {
        ASSERT_TRUE(waitFor([&] { return sessionEnded(); }, 8000));
        EXPECT_EQ(panel->state().goodbyeCode, row.reset ? 1 : 0);
        EXPECT_EQ(panel->resetRequested(), row.reset);
        EXPECT_EQ(events, row.reset ? QStringList({"6", "PANEL_RESET"}) : QStringList({"6"}));
        return;
    }
    EXPECT_EQ(events, row.unattended ? QStringList() : QStringList({"6", "7"}));
    const int before = panel->commandCount(QStringLiteral("Request Panel Status"));
    ASSERT_TRUE(waitFor([&] { return panel->commandCount(QStringLiteral("Request Panel Status")) > before; }, 5000));
    EXPECT_FALSE(panel->goodbyeReceived());
}

INSTANTIATE_TEST_SUITE_P(Answers, EndSessionDialog,
                         ::testing::Values(EndSession{"OkWithReset", false, true, true}, EndSession{"Ok", false, false, true},
                                           EndSession{"Cancel", false, true, false},
                                           EndSession{"CancelUnattended", true, false, false},
                                           EndSession{"EnterOnOk", false, false, true, "cmdOK"},
                                           EndSession{"EnterOnCancel", false, true, false, "cmdCancel"},
                                           EndSession{"EnterOnTheResetBox", false, true, true, "chkPanelReset"}),
                         [](const ::testing::TestParamInfo<EndSession> &info) { return std::string(info.param.name); });

TEST_F(SupervisionTest, ConsoleDetailsShowAQueuedMessageAndLaterItsEndedCommand)
{
    modRegistry::SaveRegSetting(kApp, QStringLiteral("SavedSettings"), QStringLiteral("Debug"), QStringLiteral("Yes"));
    connect();
    MessageQueue *queue = sessionState().messageQueue;
    frmMsgQueue *console = sessionState().queueWindow;
    ASSERT_TRUE(console && console->isVisible());
    queue->setHeartbeatEnabled(false);
    ASSERT_TRUE(waitFor([&] { return !queue->FirstQueuedMsg() && !queue->CurrentMessage(); }, 5000));
    queue->setWorkerEnabled(false);
    auto details = [console] {
        const QList<frmMsgDetail *> open = console->findChildren<frmMsgDetail *>();
        return open.isEmpty() ? nullptr : open.last();
    };

    // Nothing selected: a beep, no window.
    console->SelectedMsgGUID.clear();
    console->cmdDetails_Click();
    EXPECT_FALSE(details());

    ASSERT_EQ(modExecFunctions::SMReqPanelStatus(&owner, 6, false), 0);
    ASSERT_EQ(console->lstWorkQueue->count(), 1);
    const QString guid = console->lstWorkQueue->item(0)->text().section(QStringLiteral("  "), 1);
    const auto msg = std::dynamic_pointer_cast<clsMessage>(modGlobals::GetGUIDObject(guid));
    ASSERT_TRUE(msg);
    const auto command = std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(msg->ClientGUID()));
    ASSERT_TRUE(command);
    QCoreApplication::processEvents(); // the list lays its items out
    // A double click: the first click, then the second one.
    const QPoint item = console->lstWorkQueue->visualItemRect(console->lstWorkQueue->item(0)).center();
    QTest::mouseClick(console->lstWorkQueue->viewport(), Qt::LeftButton, {}, item);
    QTest::mouseDClick(console->lstWorkQueue->viewport(), Qt::LeftButton, {}, item);
    EXPECT_EQ(console->SelectedMsgGUID, guid);
    frmMsgDetail *first = details();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->lblID->text(), guid);
    EXPECT_EQ(first->lblPriority->text(), QStringLiteral("6"));
    EXPECT_EQ(first->lblName->text(), QStringLiteral("Request Panel Status"));
    EXPECT_EQ(first->lblOwner->text(), QStringLiteral("frmTestOwner"));
    EXPECT_EQ(first->lblDescription->text(), command->Description);
    EXPECT_EQ(first->lblTamselData->text(), modGlobals::DebugConvert(command->OutputData));
    EXPECT_EQ(first->lblPanelData->text(), modGlobals::DebugConvert(command->OutputData));
    EXPECT_FALSE(first->lblTimeStamp->text().isEmpty());
    // "?" shows the whole field in lines of at most 56 characters; again, and the box is empty.
    QTest::mouseClick(first->cmdTamselData, Qt::LeftButton);
    EXPECT_EQ(first->txtDetails->toPlainText(), frmMsgDetail::wrapLines(first->lblTamselData->text()));
    QTest::mouseClick(first->cmdTamselData, Qt::LeftButton);
    EXPECT_TRUE(first->txtDetails->toPlainText().isEmpty());
    EXPECT_EQ(frmMsgDetail::wrapLines(QString(120, QLatin1Char('x'))).split(QLatin1Char('\n')),
              QStringList({QString(56, 'x'), QString(56, 'x'), QString(8, 'x')}));

    // The exchange ends: the message is the last sent, its command has gone.
    queue->setWorkerEnabled(true);
    ASSERT_TRUE(waitFor([&] { return owner.count(QStringLiteral("Request Panel Status")) >= 2; }, 5000));
    QTest::mouseClick(console->cmdRefresh, Qt::LeftButton);
    QCoreApplication::processEvents();
    QTest::mouseClick(console->lstLastSentMsg->viewport(), Qt::LeftButton, {},
                      console->lstLastSentMsg->visualItemRect(console->lstLastSentMsg->item(0)).center());
    EXPECT_EQ(console->SelectedMsgGUID, guid);
    QTest::mouseClick(console->cmdDetails, Qt::LeftButton);
    frmMsgDetail *second = details();
    ASSERT_TRUE(second && second != first);
    EXPECT_EQ(second->lblName->text(), QStringLiteral("Request Panel Status"));
    EXPECT_NE(second->lblPanelData->text(), first->lblPanelData->text()); // the panel's answer now
    for (QLabel *field : {second->lblDescription, second->lblTamselData, second->lblTimeStamp})
        EXPECT_EQ(field->text(), QStringLiteral("[frmTestOwner was unloaded]"));
    QTest::mouseClick(second->cmdClose, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(details(), first);
}

TEST_F(SupervisionTest, OneKeepAliveWaitsInTheQueueAtATime)
{
    connect();
    MessageQueue *queue = sessionState().messageQueue;
    // A long run of requests holds the queue: heartbeats come meanwhile.
    queue->setWorkerEnabled(false);
    const auto queuedKeepAlives = [queue] {
        int n = 0;
        for (auto msg = queue->FirstQueuedMsg(); msg; msg = msg->NextMessage())
            n += msg->Name() == QLatin1String("Keep Alive");
        return n;
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(modExecFunctions::SMReqPanelStatus(&owner, 5, false), 0);
    QTest::qWait(1200); // six heartbeats
    EXPECT_EQ(queuedKeepAlives(), 1);
    const int before = panel->commandCount(QStringLiteral("Request Panel Status"));
    queue->setHeartbeatEnabled(false);
    queue->setWorkerEnabled(true);
    ASSERT_TRUE(waitFor([&] { return !queue->FirstQueuedMsg() && !queue->CurrentMessage(); }, 5000));
    EXPECT_EQ(panel->commandCount(QStringLiteral("Request Panel Status")) - before, 4); // 3 requests, 1 keep-alive
}

// The four windows as the operator sees them.
TEST_F(SupervisionTest, Screenshots)
{
    const QString folder = QStringLiteral(QUARVO_SOURCE_DIR "/docs/screenshots");
    if (!qEnvironmentVariableIsSet("QUARVO_SCREENSHOTS"))
        GTEST_SKIP() << "set QUARVO_SCREENSHOTS=1 to refresh " << folder.toStdString();
    QDir().mkpath(folder);
    int saved = 0;
    const auto grab = [&](QWidget *window, const char *file) {
        window->adjustSize();
        window->show();
        QApplication::processEvents();
        saved += window->grab().save(folder + QLatin1Char('/') + QLatin1String(file));
        window->hide();
    };
    {
        frmInactivityDisconnect window(nullptr);
        window.pbCountDown->setRange(0, 30);
        window.pbCountDown->setValue(22);
        window.lblMaxSec->setText(QStringLiteral("30 Sec."));
        grab(&window, "inactivity.png");
    }
    {
        frmPanelEventWarning window(nullptr);
        window.pbCountDown->setRange(0, 30);
        window.pbCountDown->setValue(17);
        window.lblMaxSec->setText(QStringLiteral("30 Sec."));
        grab(&window, "event-warning.png");
    }
    {
        frmDisconnect window(nullptr);
        grab(&window, "end-session.png");
    }
    {
        connect();
        MessageQueue *queue = sessionState().messageQueue;
        queue->setWorkerEnabled(false);
        ASSERT_EQ(modExecFunctions::SMReqPanelStatus(&owner, 6, false), 0);
        const QString guid = queue->FirstQueuedMsg()->szGUID();
        frmMsgDetail window;
        window.ShowMessage(guid);
        window.resize(520, window.sizeHint().height());
        QTest::mouseClick(window.cmdTamselData, Qt::LeftButton);
        grab(&window, "message-details.png");
    }
    EXPECT_EQ(saved, 4);
}

#endif
