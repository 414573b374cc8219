// The dialog over the network link: the connection probe and handshake, and answering the
// panel's net-ring, against the simulator on a UDP port of 127.0.0.1.
#include "ConnectionFixture.h"

#include "transports/clsNetwork.h"

using namespace conntest;

namespace {

class NetworkConnectionTest : public ConnectionTest
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        sessionState().EncryptionEnabled = false;
        startPanel(panel(panelsim::LinkMode::Network));
        settings->remoteHost = QStringLiteral("127.0.0.1");
        settings->panelPort = QString::number(sim->udpPort());
        openSession();
    }
};

} // namespace

TEST_F(NetworkConnectionTest, ProbeThenHandshake)
{
    Script script;
    script.then(QStringLiteral("dialog shown"), shown(), [this] {
        // The dialog listens for a net-ring on a network transport of its own.
        EXPECT_TRUE(dynamic_cast<clsNetwork *>(sessionState().currentTransport.get()));
        choose(frmCommInterface::TypeNetwork);
        QTest::mouseClick(dialog->cmdConnect, Qt::LeftButton);
    });
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"), QStringLiteral("5:GET_REV=1.307")}));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 1);
}

TEST_F(NetworkConnectionTest, NetRingIsAnsweredWithTheAnswerPasscode)
{
    Script script;
    script.then(QStringLiteral("dialog shown"), shown(), [this] {
        choose(frmCommInterface::TypeNetwork);
        auto *network = dynamic_cast<clsNetwork *>(sessionState().currentTransport.get());
        ASSERT_TRUE(network);
        sim->ring(network->localPort());
    });
    script.then(QStringLiteral("net-ring shown"),
                [this] { return dialog->cmdAnswer->text() == modGlobals::GetCatalogString(1353) && dialog->cmdAnswer->isEnabled(); },
                [this] {
                    EXPECT_TRUE(dialog->lblNetRing->isVisible());
                    EXPECT_TRUE(dialog->tmrNetAnswer->isActive());
                    QTest::mouseClick(dialog->cmdAnswer, Qt::LeftButton);
                });
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_TRUE(sessionState().CallbackSession);
    EXPECT_TRUE(callback->tags().contains(QStringLiteral("SET_DATALOCK")));
    // The panel placed the call: it was answered with the fixed answer passcode.
    EXPECT_TRUE(simSaw(QStringLiteral("Passcode Verification 482907")));
}
