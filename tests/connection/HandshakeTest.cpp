// End to end against the panel simulator: the operator fills the dialog and presses Connect; the
// workflow opens the line and the handshake admits the panel (or refuses it) while the dialog
// runs modally.
#include "ConnectionFixture.h"

#include "component/clsCommunication.h"

using namespace conntest;

namespace {

// The steps of a plain connection: choose the type, fill the passcode, press Connect.
void connectAs(Script &script, QPointer<frmCommInterface> &dialog, int type, const QString &passcode = QStringLiteral("123456"))
{
    script.then(QStringLiteral("dialog shown"), [&dialog] { return dialog && dialog->isVisible(); },
                [&dialog, type, passcode] {
                    dialog->cmbConnect->setCurrentIndex(type);
                    dialog->cmbConnect_Click();
                    dialog->txtPassCode->clear();
                    QTest::keyClicks(dialog->txtPassCode, passcode);
                    QTest::mouseClick(dialog->cmdConnect, Qt::LeftButton);
                });
}

} // namespace

TEST_F(ConnectionTest, DirectLineConnectsAndReportsLockEventAndRevision)
{
    startPanel(panel(panelsim::LinkMode::Direct));
    openSession();
    Script script;
    connectAs(script, dialog, frmCommInterface::TypeDirect);
    const std::int16_t result = display(script);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();

    EXPECT_EQ(result, frmCommInterface::ResultConnected);
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("12"),
                                         QStringLiteral("5:GET_REV=1.307")}));
    EXPECT_EQ(sessionState().panelRevision, QStringLiteral("1.307"));
    EXPECT_FALSE(settings->hostDataMode);
    ASSERT_EQ(pif->acceptedLocks.size(), 1u);
    EXPECT_EQ(pif->acceptedLocks.front(), 0x1234 ^ 0x6B52);
    // The panel's own code matched entry 1: no rewrite.
    EXPECT_EQ(sim->commandCount(QStringLiteral("Write Item Block")), 0);
    EXPECT_TRUE(sessionState().currentTransport->Connected());
    EXPECT_TRUE(sessionState().queueWindow->HeartbeatEnabled());
}

TEST_F(ConnectionTest, ModemDialsAndTheMasterCodeIsReplacedByOurs)
{
    panelsim::PanelConfig config = panel(panelsim::LinkMode::Modem);
    config.romRevision = {{1, 0, 7}};
    config.dataLock = 58213; // the master code
    startPanel(config);
    openSession();
    Script script;
    connectAs(script, dialog, frmCommInterface::TypeModem);
    const std::int16_t result = display(script, 60000);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();

    EXPECT_EQ(result, frmCommInterface::ResultConnected);
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"),
                                         QStringLiteral("5:GET_REV=1.07")}));
    EXPECT_TRUE(settings->hostDataMode);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Write Item Block")), 1);
    EXPECT_EQ(sim->state().dataLockPlain(), 0x1234);
    EXPECT_TRUE(sim->carrierUp());
}

TEST_F(ConnectionTest, CommStartupAnnouncesTheLinkAndCommShutdownSaysGoodbye)
{
    startPanel(panel(panelsim::LinkMode::Modem));
    clsCommunication comm;
    SessionState &state = sessionState();
    state.hostSettings = settings;
    state.hostPif = pif;
    state.hostCallback = callback;
    Script script;
    script.then(QStringLiteral("dialog shown"),
                [] { return sessionState().connectionDialog && sessionState().connectionDialog->isVisible(); },
                [] { QTest::mouseClick(sessionState().connectionDialog->cmdConnect, Qt::LeftButton); });
    script.emergency = [] {
        if (frmCommInterface *d = sessionState().connectionDialog)
            d->hide();
    };
    script.start(60000);
    EXPECT_EQ(comm.CommStartup(), 0);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    // The handshake announces the link, and CommStartup does again once the dialog returned 1.
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"),
                                         QStringLiteral("5:GET_REV=1.307"), QStringLiteral("2"),
                                         QStringLiteral("5:GET_REV=1.307")}));
    EXPECT_FALSE(state.connectionDialog);
    ASSERT_TRUE(state.queueWindow); // the session goes on
    EXPECT_TRUE(state.currentTransport->Connected());

    bool force = true;
    EXPECT_EQ(comm.CommShutdown(force), 0);
    EXPECT_TRUE(state.currentTransport && state.currentTransport->AbortPending());
    EXPECT_TRUE(testsupport::waitFor([this] { return sim->goodbyeReceived(); }, 5000));
    EXPECT_FALSE(sim->resetRequested());
}

TEST_F(ConnectionTest, CommStartupCancelledUnloadsTheQueue)
{
    clsCommunication comm;
    SessionState &state = sessionState();
    state.hostSettings = settings;
    state.hostPif = pif;
    state.hostCallback = callback;
    Script script;
    script.then(QStringLiteral("dialog shown"),
                [] { return sessionState().connectionDialog && sessionState().connectionDialog->isVisible(); },
                [] {
                    sessionState().currentTransport.reset(); // whatever the dialog keeps listening on
                    QTest::keyClick(sessionState().connectionDialog, Qt::Key_Escape);
                });
    script.emergency = [] {
        if (frmCommInterface *d = sessionState().connectionDialog)
            d->hide();
    };
    script.start(10000);
    EXPECT_EQ(comm.CommStartup(), 0);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    EXPECT_EQ(hostEvents(), QStringList{QStringLiteral("3:UNKNOWN")});
    EXPECT_TRUE(testsupport::waitFor([] { return !sessionState().queueWindow; }, 2000));
    EXPECT_FALSE(state.connectionDialog);
}

TEST_F(ConnectionTest, RefusedPasscodeStopsTheHandshake)
{
    startPanel(panel(panelsim::LinkMode::Direct), {QStringLiteral("refuse@passcode*0")});
    openSession();
    Script script;
    connectAs(script, dialog, frmCommInterface::TypeDirect);
    script.then(QStringLiteral("passcode refused"),
                [this] { return sessionState().LastErrorNumber == ErrorCode::PasscodeFailed; },
                [this] {
                    if (dialog && dialog->isVisible())
                        dialog->hide();
                });
    display(script);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    testsupport::waitFor([] { return false; }, 300); // anything still queued would go out now
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 1);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Panel Status")), 0);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Data Lock")), 0);
    EXPECT_FALSE(callback->tags().contains(QStringLiteral("SET_DATALOCK")));
    EXPECT_TRUE(errorLog().contains(QStringLiteral("ResponseReceived()")));
}

TEST_F(ConnectionTest, PanelStatusAndDataLockMismatchesEndTheAttempt)
{
    struct Case
    {
        quint8 statusByte;
        quint16 dataLock;
        std::int32_t error;
        int dataLockRequests;
    };
    for (const Case &c : {Case{5, 0x1234, ErrorCode::PanelStatusMismatch, 0}, Case{0, 0x7777, ErrorCode::DataLockMismatch, 1}}) {
        SCOPED_TRACE(c.error);
        panelsim::PanelConfig config = panel(panelsim::LinkMode::Direct);
        config.statusByte = c.statusByte;
        config.dataLock = c.dataLock;
        startPanel(config);
        openSession();
        sessionState().LastErrorNumber = 0;
        callback->events.clear();
        Script script;
        connectAs(script, dialog, frmCommInterface::TypeDirect);
        script.then(QStringLiteral("attempt failed"), [&c] { return sessionState().LastErrorNumber == c.error; },
                    [this] {
                        if (dialog && dialog->isVisible())
                            dialog->hide();
                    });
        display(script);
        ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
        EXPECT_EQ(sim->commandCount(QStringLiteral("Request Data Lock")), c.dataLockRequests);
        EXPECT_EQ(sim->commandCount(QStringLiteral("Write Item Block")), 0);
        EXPECT_TRUE(pif->acceptedLocks.empty());
        EXPECT_FALSE(callback->tags().contains(QStringLiteral("SET_DATALOCK")));
        // Next round from scratch.
        delete dialog.data();
        sessionState().currentTransport.reset();
        delete sessionState().queueWindow.data();
        sim->stop();
    }
}

TEST_F(ConnectionTest, CancelDuringModemInitialisationKeepsTheDialogOpen)
{
    // The modem never answers the init string, so the attempt sits in initialisation.
    startPanel(panel(panelsim::LinkMode::Modem), {QStringLiteral("mute@AT&F*0")});
    openSession();
    Script script;
    connectAs(script, dialog, frmCommInterface::TypeModem);
    script.then(QStringLiteral("initialising"), [this] { return padContains(154); },
                [this] { QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); });
    bool stayedOpen = false;
    script.then(QStringLiteral("attempt aborted"), [this] { return dialog->lastAttemptError() == ErrorCode::Aborted; },
                [this, &stayedOpen] {
                    stayedOpen = dialog->isVisible();
                    EXPECT_EQ(dialog->cmdCancel->text(), modGlobals::GetCatalogString(125));
                    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
                    QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); // idle now: closes
                });
    const std::int16_t result = display(script, 60000);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, frmCommInterface::ResultNotConnected);
    QStringList dialled;
    for (const panelsim::TraceEntry &e : sim->trace())
        if (e.decoded.contains(QLatin1String("ATD")))
            dialled << e.decoded;
    EXPECT_TRUE(dialled.isEmpty()) << dialled.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(hostEvents().value(hostEvents().size() - 1), QStringLiteral("3:ABORTED"));
}

TEST_F(ConnectionTest, CallbackRequestOnAModemHangsUpAndAnswersThePanelsCall)
{
    panelsim::PanelConfig config = panel(panelsim::LinkMode::Modem);
    config.callbackDelayMs = 3000;
    startPanel(config, {QStringLiteral("callback@passcode")});
    openSession();
    Script script;
    connectAs(script, dialog, frmCommInterface::TypeModem);
    script.then(QStringLiteral("callback question"),
                [] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr; },
                [] {
                    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                    if (box)
                        box->button(QMessageBox::Yes)->click();
                });
    const std::int16_t result = display(script, 90000);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    EXPECT_EQ(result, frmCommInterface::ResultConnected);
    EXPECT_TRUE(sessionState().CallbackSession);
    EXPECT_FALSE(sessionState().currentTransport->CallbackSet()); // cleared when the answer started
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 2);
    EXPECT_TRUE(callback->tags().contains(QStringLiteral("SET_DATALOCK")));
    EXPECT_TRUE(hostEvents().contains(QStringLiteral("2")));
}
