// The dialog over the enhanced direct link, against the simulator's enhanced link on a pty: a whole
// interactive session (probe, passcode, status, data lock, heartbeats, goodbye), the call-back a
// panel asks for (its net-ring on the serial line, answered with "ATA" and the answer passcode),
// and the panel test.
#include "ConnectionFixture.h"

#include "queue/SessionEnd.h"
#include "transports/clsEnhancedDirect.h"

using namespace conntest;
using testsupport::waitFor;

namespace {

class EnhancedConnectionTest : public ConnectionTest
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        sessionState().config.hbInterval = 2000; // a heartbeat every 200 ms at this scale
    }

    // The inbound requests the panel saw, by name, in order.
    QStringList requests() const
    {
        QStringList out;
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.direction == QLatin1String("in"))
                out << e.decoded.section(QLatin1Char(' '), 2, 3);
        return out;
    }
};

} // namespace

TEST_F(EnhancedConnectionTest, ConnectAdmitsThePanelKeepsTheLinkAliveAndSaysGoodbye)
{
    startPanel(panel(panelsim::LinkMode::EnhancedDirect));
    openSession();
    Script script;
    connectAs(script, frmCommInterface::TypeEnhancedDirect);
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"), QStringLiteral("5:GET_REV=1.307")}));
    const auto transport = std::dynamic_pointer_cast<clsEnhancedDirect>(sessionState().currentTransport);
    ASSERT_TRUE(transport);
    EXPECT_TRUE(transport->Connected());
    EXPECT_EQ(transport->Name(), QStringLiteral("Enhanced Direct"));

    ASSERT_TRUE(waitFor([this] { return sim->commandCount(QStringLiteral("Request Panel Status")) >= 4; }, 5000));
    modGlobals::Disconnect(false, 0);
    ASSERT_TRUE(waitFor([this] { return sim->goodbyeReceived(); }, 5000));
    EXPECT_TRUE(waitFor([] { return !sessionState().queueWindow; }, 5000));
    EXPECT_EQ(hostEvents().value(hostEvents().size() - 1), QStringLiteral("3:USERDISCONNECTING"));
    EXPECT_EQ(sessionState().LastErrorNumber, 0);

    // Probe, passcode, status, data lock, then heartbeats and the goodbye.
    const QStringList seen = requests();
    ASSERT_GE(seen.size(), 7);
    EXPECT_EQ(seen.mid(0, 4), (QStringList{QStringLiteral("Null Command"), QStringLiteral("Passcode Verification"),
                                           QStringLiteral("Request Panel"), QStringLiteral("Request Data")}));
    EXPECT_TRUE(simSaw(QStringLiteral("Null Command LANVesk")));
    EXPECT_EQ(seen.last(), QStringLiteral("Panel Goodbye"));
}

TEST_F(EnhancedConnectionTest, APanelThatAsksForACallBackIsAnsweredOnItsNetRing)
{
    startPanel(panel(panelsim::LinkMode::EnhancedDirect), {QStringLiteral("callback@passcode")});
    openSession();
    Script script;
    connectAs(script, frmCommInterface::TypeEnhancedDirect);
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_TRUE(sessionState().CallbackSession);
    EXPECT_TRUE(simSaw(QStringLiteral("net-ring LANVesk")));
    EXPECT_TRUE(simSaw(QStringLiteral("Null Command ATA")));
    // The panel placed the call: it was answered with the fixed answer passcode.
    EXPECT_TRUE(simSaw(QStringLiteral("Passcode Verification 482907")));
    EXPECT_TRUE(callback->tags().contains(QStringLiteral("GET_REV")));
}

TEST_F(EnhancedConnectionTest, PanelTestSendsFourProbesAndPasses)
{
    startPanel(panel(panelsim::LinkMode::EnhancedDirect));
    openSession();
    Script script;
    script.then(QStringLiteral("dialog shown"), shown(), [this] {
        choose(frmCommInterface::TypeEnhancedDirect);
        EXPECT_TRUE(dialog->cmdTestPanel->isVisible() && dialog->cmdTestPanel->isEnabled());
        QTest::mouseClick(dialog->cmdTestPanel, Qt::LeftButton);
    });
    script.then(QStringLiteral("test over"), [this] { return dialog && dialog->testPassed() && !dialog->busy(); }, hide());
    display(script);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Null Command")), 4);
    EXPECT_EQ(requests(), QStringList(4, QStringLiteral("Null Command")));
    EXPECT_TRUE(simSaw(QStringLiteral("Null Command LOCAL_CONN")));
}

TEST_F(EnhancedConnectionTest, CancelEndsTheAnswerWaitOfASilentPanel)
{
    settings->responseTimeout = QStringLiteral("60"); // 6 s a wait at this scale: only Cancel ends it sooner
    startPanel(panel(panelsim::LinkMode::EnhancedDirect), {QStringLiteral("silence@null*0")});
    openSession();
    Script script;
    connectAs(script, frmCommInterface::TypeEnhancedDirect);
    script.then(QStringLiteral("probe sent"), [this] { return sim->commandCount(QStringLiteral("Null Command")) == 1; },
                [this] { QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); });
    script.then(QStringLiteral("attempt aborted"),
                [this] { return dialog->cmdCancel->text() == modGlobals::GetCatalogString(125) && dialog->cmdConnect->isEnabled(); },
                [this] { QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); }); // idle now: closes
    EXPECT_EQ(display(script, 4000), frmCommInterface::ResultNotConnected);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Null Command")), 1);
    EXPECT_EQ(hostEvents().value(hostEvents().size() - 1), QStringLiteral("3:ABORTED"));
}
