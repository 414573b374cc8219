// End to end against the panel simulator: the operator fills the dialog and presses Connect; the
// workflow opens the line and the handshake admits the panel (or refuses it) while the dialog
// runs modally.
#include "ConnectionFixture.h"

#include "component/clsCommunication.h"

using namespace conntest;

TEST_F(ConnectionTest, DirectLineAndModemConnectAndReportLockEventAndRevision)
{
    struct Case
    {
        panelsim::LinkMode mode;
        int type;
        std::array<quint8, 3> rom;
        quint16 dataLock; // 58213 is the master code: the panel gets ours written
        const char *event;
        const char *revision;
        int writes;
    };
    for (const Case &c : {Case{panelsim::LinkMode::Direct, frmCommInterface::TypeDirect, {1, 3, 7}, 0x1234, "12", "1.307", 0},
                          Case{panelsim::LinkMode::Modem, frmCommInterface::TypeModem, {1, 0, 7}, 58213, "2", "1.07", 1}}) {
        SCOPED_TRACE(c.event);
        panelsim::PanelConfig config = panel(c.mode);
        config.romRevision = c.rom;
        config.dataLock = c.dataLock;
        startPanel(config);
        openSession();
        callback->events.clear();
        pif->acceptedLocks.clear();
        Script script;
        connectAs(script, c.type);
        EXPECT_EQ(display(script, 60000), frmCommInterface::ResultConnected);
        EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QLatin1String(c.event),
                                             QStringLiteral("5:GET_REV=") + QLatin1String(c.revision)}));
        EXPECT_EQ(settings->hostDataMode, c.mode == panelsim::LinkMode::Modem);
        EXPECT_EQ(pif->acceptedLocks, std::vector<std::int32_t>{0x1234 ^ 0x6B52});
        EXPECT_EQ(sim->commandCount(QStringLiteral("Write Item Block")), c.writes);
        EXPECT_EQ(sim->state().dataLockPlain(), 0x1234);
        EXPECT_TRUE(sessionState().currentTransport->Connected());
        EXPECT_TRUE(sessionState().messageQueue->HeartbeatEnabled());
        endSession();
    }
}

TEST_F(ConnectionTest, CommStartupAnnouncesTheLinkAndCommShutdownSaysGoodbye)
{
    startPanel(panel(panelsim::LinkMode::Modem));
    clsCommunication comm;
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
    // The handshake announces the link, and CommStartup does again once the dialog returned 1;
    // then the synchronisation check opens (event 6) and asks the panel for its CRCs.
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"), QStringLiteral("5:GET_REV=1.307"),
                                         QStringLiteral("2"), QStringLiteral("5:GET_REV=1.307"), QStringLiteral("6")}));
    EXPECT_TRUE(testsupport::waitFor([this] { return sim->commandCount(QStringLiteral("Request CRC")) == 1; }, 5000));
    SessionState &state = sessionState();
    EXPECT_FALSE(state.connectionDialog);
    ASSERT_TRUE(state.messageQueue); // the session goes on
    ASSERT_TRUE(state.currentTransport->Connected());

    bool force = true;
    EXPECT_EQ(comm.CommShutdown(force), 0);
    EXPECT_TRUE(state.currentTransport->AbortPending());
    EXPECT_TRUE(testsupport::waitFor([this] { return sim->goodbyeReceived(); }, 5000));
    EXPECT_FALSE(sim->resetRequested());
}

TEST_F(ConnectionTest, CancelDuringModemInitialisationKeepsTheDialogOpen)
{
    // The modem never answers the init string, so the attempt sits in initialisation.
    startPanel(panel(panelsim::LinkMode::Modem), {QStringLiteral("mute@AT&F*0")});
    openSession();
    Script script;
    connectAs(script, frmCommInterface::TypeModem);
    script.then(QStringLiteral("initialising"),
                [this] { return dialog->txtPad->toPlainText().contains(modGlobals::GetCatalogString(154)); },
                [this] { QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); });
    bool stayedOpen = false;
    script.then(QStringLiteral("attempt aborted"), [this] { return dialog->lastAttemptError() == ErrorCode::Aborted; },
                [this, &stayedOpen] {
                    stayedOpen = dialog->isVisible() && dialog->cmdConnect->isEnabled();
                    QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); // idle now: closes
                });
    EXPECT_EQ(display(script, 60000), frmCommInterface::ResultNotConnected);
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(simSaw(QStringLiteral("ATD")));
    EXPECT_EQ(hostEvents().value(hostEvents().size() - 1), QStringLiteral("3:ABORTED"));
}

// A failed attempt that nobody cancelled ends the dialog by itself and is a failure, not an abort
// (the session's end sets the transport's abort flag before the dialog reports).
TEST_F(ConnectionTest, AFailedModemCallIsAFailureNotAnAbort)
{
    for (const char *fault : {"busy@ATD", "nocarrier@ATD"}) {
        SCOPED_TRACE(fault);
        startPanel(panel(panelsim::LinkMode::Modem), {QLatin1String(fault)});
        openSession();
        callback->events.clear();
        Script script;
        connectAs(script, frmCommInterface::TypeModem);
        EXPECT_EQ(display(script, 60000), frmCommInterface::ResultNotConnected);
        EXPECT_EQ(hostEvents().join(QLatin1Char(',')).toStdString(), "3:FAILURE");
        endSession();
    }
}

TEST_F(ConnectionTest, CallbackRequestOnAModemHangsUpAndAnswersThePanelsCall)
{
    panelsim::PanelConfig config = panel(panelsim::LinkMode::Modem);
    config.callbackDelayMs = 3000;
    startPanel(config, {QStringLiteral("callback@passcode")});
    openSession();
    Script script;
    connectAs(script, frmCommInterface::TypeModem);
    script.then(QStringLiteral("callback question"),
                [] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr; },
                [] {
                    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                        box->button(QMessageBox::Yes)->click();
                });
    EXPECT_EQ(display(script, 90000), frmCommInterface::ResultConnected);
    EXPECT_TRUE(sessionState().CallbackSession);
    EXPECT_FALSE(sessionState().currentTransport->CallbackSet()); // cleared when the answer started
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 2);
    EXPECT_TRUE(simSaw(QStringLiteral("Passcode Verification 482907")));
    EXPECT_TRUE(hostEvents().contains(QStringLiteral("2")));
}
