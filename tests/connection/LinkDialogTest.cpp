// The dialog over the datagram links against the simulator: the enhanced direct link on a pty and
// the network link on a UDP port of 127.0.0.1. Whole interactive sessions (probe, passcode, status,
// data lock, heartbeats, goodbye), the panel test, a probe that is never answered, Cancel during an
// answer wait, the call-back a panel asks for or places, and the network test.
#include "ConnectionFixture.h"

#include "LinkEnvelope.h"
#include "platform/IcmpEcho.h"
#include "queue/SessionEnd.h"
#include "transports/clsEnhancedDirect.h"
#include "transports/clsNetwork.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace conntest;
using testsupport::waitFor;

namespace {

const QString kKey = QStringLiteral("Quarvo-net-test-key-32-chars-ok!");

enum class Link { Enhanced, Encrypted, Clear };

class LinkDialogTest : public ConnectionTest
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        sessionState().config.hbInterval = 2000; // a heartbeat every 200 ms at this scale
    }

    // A panel on `link`; on the network keyed or clear, linkKeyMode 0 probing the other cipher
    // setting, 2 not; a strict keyed panel ignores clear datagrams.
    void startLinkPanel(Link link, const QStringList &panelFaults = {}, int linkKeyMode = -1, bool strictPanel = false)
    {
        m_link = link;
        if (link == Link::Enhanced) {
            startPanel(panel(panelsim::LinkMode::EnhancedDirect), panelFaults);
        } else {
            const bool keyed = link == Link::Encrypted;
            settings->linkKey = keyed ? kKey : QString();
            settings->linkKeyMode = linkKeyMode >= 0 ? linkKeyMode : keyed ? 2 : 1;
            sessionState().EncryptionEnabled = keyed;
            panelsim::PanelConfig config = panel(panelsim::LinkMode::Network);
            if (keyed)
                config.linkKey = kKey;
            config.acceptClearWhenEncrypted = !strictPanel;
            startPanel(config, panelFaults);
            settings->remoteHost = QStringLiteral("127.0.0.1");
            settings->panelPort = QString::number(sim->udpPort());
        }
        openSession();
    }

    // Once the dialog shows: the link's type (and the panel's address), then `act`.
    void whenShown(Script &script, std::function<void()> act)
    {
        script.then(QStringLiteral("dialog shown"), shown(), [this, act] {
            if (m_link == Link::Enhanced) {
                choose(frmCommInterface::TypeEnhancedDirect);
            } else {
                // The dialog listens for a net-ring on a network transport of its own.
                EXPECT_TRUE(dynamic_cast<clsNetwork *>(sessionState().currentTransport.get()));
                choose(frmCommInterface::TypeNetwork);
                dialog->txtRemoteHost->setText(QStringLiteral("127.0.0.1"));
                dialog->txtRemotePort->setText(sim ? QString::number(sim->udpPort()) : QString());
            }
            act();
        });
    }

    void connectOverLink(Script &script)
    {
        whenShown(script, [this] {
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

    // The requests the panel received, by name, in order.
    QStringList requests() const
    {
        static const QRegularExpression request(QStringLiteral("seq \\d+ (\\S+ \\S+)"));
        QStringList out;
        for (const QString &line : simHeard())
            if (const QRegularExpressionMatch m = request.match(line); m.hasMatch())
                out << m.captured(1);
        return out;
    }

    Link m_link = Link::Enhanced;
};

class LinkSession : public LinkDialogTest, public ::testing::WithParamInterface<Link>
{
};

std::string linkName(const ::testing::TestParamInfo<Link> &info)
{
    return info.param == Link::Enhanced ? "EnhancedDirect" : info.param == Link::Encrypted ? "NetworkEncrypted" : "NetworkClear";
}

} // namespace

TEST_P(LinkSession, ConnectAdmitsThePanelKeepsTheLinkAliveAndSaysGoodbye)
{
    startLinkPanel(GetParam());
    Script script;
    connectOverLink(script);
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("2"), QStringLiteral("5:GET_REV=1.307")}));
    const std::shared_ptr<IControlType> transport = sessionState().currentTransport;
    ASSERT_TRUE(transport);
    EXPECT_TRUE(transport->Connected());
    EXPECT_EQ(transport->Name(), GetParam() == Link::Enhanced ? QStringLiteral("Enhanced Direct") : QStringLiteral("Network"));

    const int admitted = sim->commandCount(QStringLiteral("Request Panel Status"));
    ASSERT_TRUE(waitFor([&] { return sim->commandCount(QStringLiteral("Request Panel Status")) >= admitted + 2; }, 5000));
    modGlobals::Disconnect(false, 0);
    ASSERT_TRUE(waitFor([] { return !sessionState().messageQueue; }, 5000));
    EXPECT_EQ(hostEvents().last(), QStringLiteral("3:USERDISCONNECTING"));
    EXPECT_EQ(hostEvents().filter(QRegularExpression(QStringLiteral("^3:"))).size(), 1);
    EXPECT_FALSE(transport->Connected());
    EXPECT_TRUE(waitFor([this] { return sim->goodbyeReceived(); }, 2000));
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
    if (const auto net = std::dynamic_pointer_cast<clsNetwork>(transport)) {
        EXPECT_TRUE(!net->CommControl() || net->CommControl()->state() == QAbstractSocket::UnconnectedState);
    }

    // Probe, passcode, status, data lock, then heartbeats and the goodbye, each in the link's cipher.
    const QStringList seen = requests();
    ASSERT_GE(seen.size(), 7);
    EXPECT_EQ(seen.mid(0, 4), (QStringList{QStringLiteral("Null Command"), QStringLiteral("Passcode Verification"),
                                           QStringLiteral("Request Panel"), QStringLiteral("Request Data")}));
    EXPECT_EQ(seen.count(QStringLiteral("Passcode Verification")), 1);
    EXPECT_TRUE(simSaw(QStringLiteral("Null Command LANVesk")));
    EXPECT_EQ(seen.last(), QStringLiteral("Panel Goodbye"));
    EXPECT_EQ(encryptedProbes(), QList<bool>(encryptedProbes().size(), GetParam() == Link::Encrypted));
}

// Four probes, each "LOCAL_CONN", and the test passes.
TEST_P(LinkSession, PanelTestSendsFourProbesAndPasses)
{
    startLinkPanel(GetParam());
    Script script;
    whenShown(script, [this] {
        EXPECT_TRUE(dialog->cmdTestPanel->isVisible() && dialog->cmdTestPanel->isEnabled());
        QTest::mouseClick(dialog->cmdTestPanel, Qt::LeftButton);
    });
    script.then(QStringLiteral("test over"), [this] { return dialog && dialog->testPassed() && !dialog->busy(); }, hide());
    display(script);
    EXPECT_EQ(requests(), QStringList(4, QStringLiteral("Null Command")));
    for (const QString &line : simHeard())
        EXPECT_TRUE(line.contains(QStringLiteral("LOCAL_CONN"))) << line.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Link, LinkSession, ::testing::Values(Link::Enhanced, Link::Encrypted, Link::Clear), linkName);

TEST_F(LinkDialogTest, AProbeThatKeepsTimingOutAlternatesTheCipherAndGivesUp)
{
    settings->responseTimeout = QStringLiteral("2"); // 200 ms per probe here
    sessionState().config.numOfNaks = 3;
    startLinkPanel(Link::Encrypted, {QStringLiteral("silence@null*0")}, 0);
    Script script;
    connectOverLink(script);
    script.then(QStringLiteral("attempt given up"), [] { return !sessionState().messageQueue; }, hide());
    EXPECT_EQ(display(script), frmCommInterface::ResultNotConnected);
    EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::NoCompleteAnswer);
    // 1 + RetryMax probes, each in the other cipher setting; the passcode never went out.
    EXPECT_EQ(encryptedProbes(), (QList<bool>{true, false, true, false}));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 0);
}

// An attempt that fails tells the host once, "FAILURE", whether the link was up when it failed (the
// goodbye closes it) or never came up: never "USERDISCONNECTING" first, as a host would take that
// for the operator ending a good session.
TEST_F(LinkDialogTest, AFailedAttemptEndsWithOneFailure)
{
    struct Case
    {
        const char *what;
        QStringList faults;
        quint16 dataLock;
        std::int32_t error;
    };
    for (const Case &c : {Case{"refused passcode", {QStringLiteral("refuse@passcode*0")}, 0x1234, ErrorCode::PasscodeFailed},
                          Case{"data lock of nobody", {}, 0x7777, ErrorCode::DataLockMismatch},
                          Case{"silent panel", {QStringLiteral("silence@null*0")}, 0x1234, ErrorCode::NoCompleteAnswer}}) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        settings->responseTimeout = QStringLiteral("2"); // 200 ms per answer here
        sessionState().config.numOfNaks = 1;
        m_link = Link::Clear;
        settings->linkKey.clear();
        settings->linkKeyMode = 1;
        sessionState().EncryptionEnabled = false;
        panelsim::PanelConfig config = panel(panelsim::LinkMode::Network);
        config.dataLock = c.dataLock;
        startPanel(config, c.faults);
        settings->remoteHost = QStringLiteral("127.0.0.1");
        settings->panelPort = QString::number(sim->udpPort());
        openSession();
        Script script;
        connectOverLink(script);
        script.then(QStringLiteral("attempt over"), [] { return !sessionState().messageQueue; }, hide());
        EXPECT_EQ(display(script), frmCommInterface::ResultNotConnected);
        EXPECT_EQ(sessionState().LastErrorNumber, c.error);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(hostEvents().filter(QRegularExpression(QStringLiteral("^3:"))).join(QLatin1Char(',')).toStdString(), "3:FAILURE");
    }
}

TEST_F(LinkDialogTest, CancelEndsTheAnswerWaitOfASilentPanel)
{
    settings->responseTimeout = QStringLiteral("60"); // 6 s a wait at this scale: only Cancel ends it sooner
    startLinkPanel(Link::Enhanced, {QStringLiteral("silence@null*0")});
    Script script;
    connectOverLink(script);
    script.then(QStringLiteral("probe sent"), [this] { return sim->commandCount(QStringLiteral("Null Command")) == 1; },
                [this] { QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); });
    script.then(QStringLiteral("attempt aborted"),
                [this] { return dialog->cmdCancel->text() == modGlobals::GetCatalogString(125) && dialog->cmdConnect->isEnabled(); },
                [this] { QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton); }); // idle now: closes
    EXPECT_EQ(display(script, 4000), frmCommInterface::ResultNotConnected);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Null Command")), 1);
    EXPECT_EQ(hostEvents().last(), QStringLiteral("3:ABORTED"));
    EXPECT_EQ(hostEvents().filter(QRegularExpression(QStringLiteral("^3:"))).size(), 1);
}

// The same from the keyboard: Enter in the passcode box connects (Connect is the default button);
// with the focus on Cancel, now Abort, Enter aborts the attempt; idle again, Enter on the focused
// Cancel closes the dialog and connects nothing.
TEST_F(LinkDialogTest, EnterConnectsFromThePasscodeAbortsAndClosesOnTheFocusedCancel)
{
    settings->responseTimeout = QStringLiteral("60");
    startLinkPanel(Link::Enhanced, {QStringLiteral("silence@null*0")});
    Script script;
    whenShown(script, [this] {
        dialog->txtPassCode->clear();
        QTest::keyClicks(dialog->txtPassCode, QStringLiteral("123456"));
        testsupport::pressKeyOn(dialog->txtPassCode);
    });
    script.then(QStringLiteral("probe sent"), [this] { return sim->commandCount(QStringLiteral("Null Command")) == 1; },
                [this] { testsupport::pressKeyOn(dialog->cmdCancel); });
    script.then(QStringLiteral("attempt aborted"),
                [this] { return dialog->cmdCancel->text() == modGlobals::GetCatalogString(125) && dialog->cmdConnect->isEnabled(); },
                [this] { testsupport::pressKeyOn(dialog->cmdCancel); });
    EXPECT_EQ(display(script, 4000), frmCommInterface::ResultNotConnected);
    EXPECT_EQ(sim->commandCount(QStringLiteral("Null Command")), 1);
    EXPECT_EQ(hostEvents().last(), QStringLiteral("3:ABORTED"));
}

// A panel that asks for a call-back on the enhanced link rings on the serial line ("net-ring",
// answered with "ATA"); on the network it rings the dialog's own port. Either call is answered
// with the fixed answer passcode.
TEST_F(LinkDialogTest, APanelThatAsksForACallBackIsAnsweredOnItsNetRing)
{
    startLinkPanel(Link::Enhanced, {QStringLiteral("callback@passcode")});
    Script script;
    connectOverLink(script);
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_TRUE(sessionState().CallbackSession);
    EXPECT_TRUE(simSaw(QStringLiteral("net-ring LANVesk")));
    EXPECT_TRUE(simSaw(QStringLiteral("Null Command ATA")));
    EXPECT_TRUE(simSaw(QStringLiteral("Passcode Verification 482907")));
    EXPECT_TRUE(callback->tags().contains(QStringLiteral("GET_REV")));

    TearDown();
    SetUp();
    startLinkPanel(Link::Clear);
    Script ring;
    ring.then(QStringLiteral("dialog shown"), shown(), [this] {
        choose(frmCommInterface::TypeNetwork);
        auto *network = dynamic_cast<clsNetwork *>(sessionState().currentTransport.get());
        ASSERT_TRUE(network);
        sim->ring(network->localPort());
    });
    ring.then(QStringLiteral("net-ring shown"),
              [this] { return dialog->cmdAnswer->text() == modGlobals::GetCatalogString(1353) && dialog->cmdAnswer->isEnabled(); },
              [this] {
                  EXPECT_TRUE(dialog->lblNetRing->isVisible());
                  EXPECT_TRUE(dialog->tmrNetAnswer->isActive());
                  QTest::mouseClick(dialog->cmdAnswer, Qt::LeftButton);
              });
    EXPECT_EQ(display(ring), frmCommInterface::ResultConnected);
    EXPECT_TRUE(sessionState().CallbackSession);
    EXPECT_TRUE(callback->tags().contains(QStringLiteral("SET_DATALOCK")));
    EXPECT_TRUE(simSaw(QStringLiteral("Passcode Verification 482907")));
}

// Forged datagrams from the panel's address and port, sprayed at whatever port the host listens on
// from the moment its socket exists (20-byte and envelope-sized ones, the first byte sweeping
// 0-255, about 2,000 a second), while the host lets the link choose its cipher: the probe still
// goes out encrypted, only the panel's answer is taken, and the panel is admitted.
TEST_F(LinkDialogTest, ForgedDatagramsDuringSetUpDoNotEndAnEncryptedAttempt)
{
    startLinkPanel(Link::Encrypted, {}, 0, true);
    QList<QByteArray> forged;
    for (int i = 0; i < 2 * 256; ++i) {
        QByteArray d = i < 256 ? QByteArray(20, 'x') : QByteArray(34, static_cast<char>(i * 7));
        d[0] = static_cast<char>(i % 256);
        forged << d;
    }
    // The host's port, followed from the test's thread: each attempt opens its socket afresh.
    std::atomic<quint16> hostPort{0};
    QTimer follow;
    QObject::connect(&follow, &QTimer::timeout, [&] {
        const auto *network = dynamic_cast<clsNetwork *>(sessionState().currentTransport.get());
        hostPort = network ? network->localPort() : 0;
    });
    follow.start(1);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread spoofer([&] {
        QElapsedTimer clock;
        clock.start();
        int due = 0;
        while (!stop && clock.elapsed() < 60000) {
            for (; due < clock.elapsed() * 2; ++due)
                if (const quint16 port = hostPort; port != 0 && sim->inject(forged[due % forged.size()], port))
                    ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    struct Joiner
    {
        std::atomic<bool> &stop;
        std::thread &thread;
        ~Joiner()
        {
            stop = true;
            thread.join();
        }
    } joiner{stop, spoofer};

    Script script;
    script.then(QStringLiteral("forged datagrams arriving"), [&] { return dialog && dialog->isVisible() && sent >= 300; }, [] {});
    connectOverLink(script);
    EXPECT_EQ(display(script), frmCommInterface::ResultConnected);
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
    const std::shared_ptr<IControlType> transport = sessionState().currentTransport;
    ASSERT_TRUE(transport);
    EXPECT_TRUE(transport->Connected());
    EXPECT_TRUE(sessionState().EncryptionEnabled);
    const int admitted = sim->commandCount(QStringLiteral("Request Panel Status"));
    EXPECT_TRUE(waitFor([&] { return sim->commandCount(QStringLiteral("Request Panel Status")) >= admitted + 2; }, 10000));
    stop = true;
    EXPECT_EQ(requests().mid(0, 2), (QStringList{QStringLiteral("Null Command"), QStringLiteral("Passcode Verification")}));
    EXPECT_EQ(encryptedProbes(), QList<bool>(encryptedProbes().size(), true));
    if (const auto network = std::dynamic_pointer_cast<clsNetwork>(transport)) {
        EXPECT_GT(network->droppedCount(), 0);
    }
}

TEST_F(LinkDialogTest, NetworkTestEchoesTheAddressFourTimes)
{
    IcmpEcho probe;
    if (!probe.open())
        GTEST_SKIP() << "this machine permits no ICMP socket";
    probe.close();
    m_link = Link::Clear;
    openSession();
    QStringList lines;
    QObject::connect(dialog->txtPad, &QPlainTextEdit::textChanged, [this, &lines] {
        if (dialog && !dialog->txtPad->toPlainText().isEmpty())
            lines = dialog->txtPad->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    });
    Script script;
    whenShown(script, [this] { QTest::mouseClick(dialog->cmdTestNetwork, Qt::LeftButton); });
    script.then(QStringLiteral("test over"),
                [this, &lines] { return lines.size() >= 4 && dialog->cmdTestNetwork->text() == modGlobals::GetCatalogString(135); },
                hide());
    display(script);
    const QString reply = modGlobals::GetCatalogString(1487);
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('|')).toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(line.startsWith(reply.left(reply.indexOf(QLatin1Char('%'))))) << line.toStdString();
}
