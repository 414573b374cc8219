// Whole network sessions through the connection dialog against the panel simulator on 127.0.0.1:
// the operator picks the network type and presses Connect; the probe, the handshake, heartbeats
// and the goodbye follow. Also the probe that is never answered, the panel test and the network test.
#ifdef QUARVO_HAVE_SIM

#include "connection/ConnectionFixture.h"

#include "LinkEnvelope.h"
#include "platform/IcmpEcho.h"
#include "queue/SessionEnd.h"
#include "transports/clsNetwork.h"

using namespace conntest;
using testsupport::waitFor;

namespace {

const QString kKey = QStringLiteral("Quarvo-net-test-key-32-chars-ok!");

} // namespace

class NetworkDialogTest : public ConnectionTest
{
protected:
    // Keyed or clear panel and session; linkKeyMode 0 probes the other setting, 2 does not.
    void startNetworkPanel(bool keyed, int linkKeyMode, const QStringList &faults = {})
    {
        settings->linkKey = keyed ? kKey : QString();
        settings->linkKeyMode = linkKeyMode;
        sessionState().EncryptionEnabled = keyed;
        panelsim::PanelConfig config = panel(panelsim::LinkMode::Network);
        if (keyed)
            config.linkKey = kKey;
        sim = std::make_unique<panelsim::PanelSimulator>(config);
        for (const QString &fault : faults)
            ASSERT_TRUE(sim->addFault(fault)) << fault.toStdString();
        QString why;
        ASSERT_TRUE(sim->start(&why)) << why.toStdString();
        openSession();
    }
    // Once the dialog shows: network type, the panel's address (and port), then `act`.
    void whenShown(Script &script, quint16 port, std::function<void()> act)
    {
        script.then(QStringLiteral("dialog shown"), [this] { return dialog && dialog->isVisible(); },
                    [this, port, act] {
                        choose(frmCommInterface::TypeNetwork);
                        dialog->txtRemoteHost->setText(QStringLiteral("127.0.0.1"));
                        dialog->txtRemotePort->setText(port ? QString::number(port) : QString());
                        act();
                    });
    }
    void connectOverNetwork(Script &script)
    {
        whenShown(script, sim->udpPort(), [this] {
            dialog->txtPassCode->clear();
            QTest::keyClicks(dialog->txtPassCode, QStringLiteral("123456"));
            QTest::mouseClick(dialog->cmdConnect, Qt::LeftButton);
        });
    }
    // Whether each datagram the panel received was an envelope it could open.
    QList<bool> encryptedProbes() const
    {
        QList<bool> out;
        for (const panelsim::TraceEntry &e : sim->trace()) {
            bool ok = false;
            if (e.direction == QLatin1String("in"))
                out << (panelsim::LinkEnvelope::hasEnvelopeLength(int(e.bytes.size()))
                        && !panelsim::LinkEnvelope::decrypt(e.bytes, kKey, &ok).isEmpty() && ok);
        }
        return out;
    }
};

class NetworkDialogSession : public NetworkDialogTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(NetworkDialogSession, ConnectsThroughTheDialogKeepsAliveAndSaysGoodbye)
{
    const bool encrypted = GetParam();
    sessionState().config.hbInterval = 2000; // every 200 ms here
    startNetworkPanel(encrypted, encrypted ? 2 : 1);
    Script script;
    connectOverNetwork(script);
    const std::int16_t result = display(script);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();

    EXPECT_EQ(result, frmCommInterface::ResultConnected);
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"),
                                         QStringLiteral("5:GET_REV=1.307")}));
    const auto net = std::dynamic_pointer_cast<clsNetwork>(sessionState().currentTransport);
    ASSERT_TRUE(net);
    EXPECT_TRUE(net->Connected());

    const int admitted = sim->commandCount(QStringLiteral("Request Panel Status"));
    ASSERT_TRUE(waitFor([&] { return sim->commandCount(QStringLiteral("Request Panel Status")) >= admitted + 2; }, 5000));

    modGlobals::Disconnect(false, 0);
    ASSERT_TRUE(waitFor([&] { return !sessionState().queueWindow; }, 5000));
    EXPECT_EQ(hostEvents().last(), QStringLiteral("3:USERDISCONNECTING"));
    EXPECT_FALSE(net->Connected());
    EXPECT_TRUE(!net->CommControl() || net->CommControl()->state() == QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(waitFor([&] { return sim->goodbyeReceived(); }, 2000));
    EXPECT_EQ(encryptedProbes(), QList<bool>(encryptedProbes().size(), encrypted));
}

INSTANTIATE_TEST_SUITE_P(Cipher, NetworkDialogSession, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Encrypted" : "Clear"; });

TEST_F(NetworkDialogTest, AProbeThatKeepsTimingOutAlternatesTheCipherAndGivesUp)
{
    settings->responseTimeout = QStringLiteral("2"); // 200 ms per probe here
    sessionState().config.numOfNaks = 3;
    startNetworkPanel(true, 0, {QStringLiteral("silence@null*0")});
    Script script;
    connectOverNetwork(script);
    script.then(QStringLiteral("attempt given up"), [this] { return !sessionState().queueWindow; }, [this] {
        if (dialog)
            dialog->hide();
    });
    const std::int16_t result = display(script);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();

    EXPECT_EQ(result, frmCommInterface::ResultNotConnected);
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::NoCompleteAnswer);
    // 1 + RetryMax probes, each in the other cipher setting; the passcode never went out.
    EXPECT_EQ(encryptedProbes(), (QList<bool>{true, false, true, false}));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 0);
}

TEST_F(NetworkDialogTest, PanelTestSendsFourProbesAndPasses)
{
    startNetworkPanel(true, 2);
    Script script;
    whenShown(script, sim->udpPort(), [this] { QTest::mouseClick(dialog->cmdTestPanel, Qt::LeftButton); });
    script.then(QStringLiteral("test over"), [this] { return dialog && dialog->testPassed() && !dialog->busy(); },
                [this] { dialog->hide(); });
    display(script);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    EXPECT_EQ(sim->commandCount(QStringLiteral("Null Command")), 4);
    for (const panelsim::TraceEntry &e : sim->trace()) {
        if (e.direction == QLatin1String("in")) {
            EXPECT_TRUE(e.decoded.contains(QStringLiteral("LOCAL_CONN"))) << e.decoded.toStdString();
        }
    }
}

TEST_F(NetworkDialogTest, NetworkTestEchoesTheAddressFourTimes)
{
    IcmpEcho probe;
    if (!probe.open())
        GTEST_SKIP() << "this machine permits no ICMP socket";
    probe.close();
    openSession();
    QStringList lines;
    QObject::connect(dialog->txtPad, &QPlainTextEdit::textChanged, [this, &lines] {
        if (dialog && !dialog->txtPad->toPlainText().isEmpty())
            lines = dialog->txtPad->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    });
    Script script;
    whenShown(script, 0, [this] { QTest::mouseClick(dialog->cmdTestNetwork, Qt::LeftButton); });
    script.then(QStringLiteral("test over"),
                [this, &lines] { return lines.size() >= 4 && dialog->cmdTestNetwork->text() == modGlobals::GetCatalogString(135); },
                [this] { dialog->hide(); });
    display(script);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    const QString reply = modGlobals::GetCatalogString(1487);
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('|')).toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(line.startsWith(reply.left(reply.indexOf(QLatin1Char('%'))))) << line.toStdString();
}

#endif // QUARVO_HAVE_SIM
