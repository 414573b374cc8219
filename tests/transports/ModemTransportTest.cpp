// The modem transport against the simulated Hayes modem on a pseudo-terminal: port preparation,
// reset and init strings, dialling, answering, hanging up, and the ways a modem command fails.
#include "SerialFixture.h"

#include "PtyPort.h"
#include "core/ErrorCodes.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace serialtest;

namespace {

// A line that answers every command it receives with a fixed text, for modem answers the simulator
// does not give.
class ScriptedModem
{
public:
    explicit ScriptedModem(QByteArray reply) : m_reply(std::move(reply)) {}
    ~ScriptedModem() { stop(); }

    bool start()
    {
        QString why;
        if (!m_pty.open(QString(), &why))
            return false;
        m_thread = std::thread([this] {
            QByteArray line;
            while (!m_stop.load()) {
                const QByteArray in = m_pty.readAvailable();
                for (const char c : in) {
                    if (c != '\r') {
                        line.append(c);
                        continue;
                    }
                    if (line.startsWith("AT"))
                        m_pty.write(line + '\r' + m_reply);
                    line.clear();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        return true;
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        m_pty.close();
    }
    QString devicePath() const { return m_pty.devicePath(); }

private:
    panelsim::PtyPort m_pty;
    QByteArray m_reply;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

} // namespace

TEST_F(SerialTest, ResetInitDialAndConnectWithTheEchoCut)
{
    dialUp();
    EXPECT_TRUE(sim->carrierUp());
    EXPECT_EQ(modemCommands(), (QStringList{QStringLiteral("ATZ"), QStringLiteral("AT&F"), QStringLiteral("ATDT5551234")}));
    EXPECT_EQ(modem->Name(), QStringLiteral("Modem"));


    // The modem echoes every command; the echo is cut from the answer and said so.
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Echo [ATDT5551234] REMOVED")));
    const QString log = sessionLogText();
    EXPECT_TRUE(log.contains(modGlobals::GetCatalogString(320)));
    const qsizetype answered = log.lastIndexOf(modGlobals::GetCatalogString(321));
    ASSERT_GE(answered, 0);
    const QString lastAnswer = log.mid(answered);
    EXPECT_TRUE(lastAnswer.contains(QStringLiteral("CONNECT")));
    EXPECT_FALSE(lastAnswer.contains(QStringLiteral("ATDT")));
}

TEST_F(SerialTest, NumericResultCodeOneCountsAsConnect)
{
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    config.numericResults = true;
    startPanel(config);
    createModem(true);
    // A number ending in 3 echoes "...3\r", the numeric code of NO CARRIER, before the modem's
    // own "1\r": only a correctly cut echo lets the call connect.
    modem->DataPhone = QStringLiteral("5551233");
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);
    EXPECT_EQ(modem->Connect(nullptr, true), 0);
    EXPECT_TRUE(modem->Connected());
    EXPECT_TRUE(sim->carrierUp());
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Echo [ATDT5551233] REMOVED")));
}

TEST_F(SerialTest, DialFailuresMapToTheirErrors)
{
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    startPanel(config);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);

    sim->addFault(QStringLiteral("nocarrier@ATDT"));
    EXPECT_EQ(modem->Connect(nullptr, true), ErrorCode::ModemNoCarrier);
    EXPECT_FALSE(modem->Connected());

    sim->addFault(QStringLiteral("busy@ATDT"));
    EXPECT_EQ(modem->Connect(nullptr, true), ErrorCode::ModemBusy);
    EXPECT_FALSE(modem->Connected());
    EXPECT_TRUE(errorLog().contains(QStringLiteral("Connect()")));

    // The third dial goes through: a failed dial leaves the port open.
    EXPECT_EQ(modem->Connect(nullptr, true), 0);
    EXPECT_TRUE(modem->Connected());
}

TEST_F(SerialTest, AnswerReturnsTheBareBusyCode)
{
    ScriptedModem line("\r\nBUSY\r\n");
    ASSERT_TRUE(line.start());
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                QStringLiteral("Port%1").arg(kPortNumber), line.devicePath());
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    EXPECT_EQ(modem->Answer(nullptr, true), clsModem::Busy);
    EXPECT_FALSE(modem->Connected());
    sessionState().currentTransport.reset();
    modem.reset();
    line.stop();
}

TEST_F(SerialTest, RejectedInitStringAndSilentModem)
{
    faults << QStringLiteral("error@AT&F");
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    startPanel(config);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    EXPECT_EQ(modem->ControlInitialize(nullptr, true), ErrorCode::ModemInitRejected);

    // A modem that never answers: four reset attempts of 12 s (plus the 2.1 s settle) each.
    Timing::setScale(0.02);
    qputenv("QUARVO_TIME_SCALE", "0.02");
    sim->addFault(QStringLiteral("mute*0"));
    const int before = static_cast<int>(modemCommands().size());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(modem->ControlInitialize(nullptr, true), ErrorCode::ModemResetFailed);
    EXPECT_GE(clock.elapsed(), 4 * Timing::scaled(12000) * 9 / 10);
    EXPECT_EQ(modemCommands().mid(before), QStringList(4, QStringLiteral("ATZ")));
}

TEST_F(SerialTest, CancelWhileDiallingEndsTheWait)
{
    faults << QStringLiteral("nodial@ATDT");
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    startPanel(config);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);

    // The Cancel button is an event: it runs because the dial wait lets events run.
    QTimer::singleShot(static_cast<int>(Timing::scaled(4000)), [this] { modem->setAbortPending(true); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(modem->Connect(nullptr, true), ErrorCode::Aborted);
    EXPECT_FALSE(modem->Connected());
    EXPECT_LT(clock.elapsed(), Timing::scaled(30000)); // far below the 100 s dial wait
    EXPECT_FALSE(sim->carrierUp());
    // An abort does not report the call as failed or connected.
}

TEST_F(SerialTest, RingThenAnswer)
{
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    startPanel(config);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);

    sim->ring();
    EXPECT_EQ(modem->ControlRinging(nullptr, true), 0);
    EXPECT_EQ(modem->Answer(nullptr, true), 0);
    EXPECT_TRUE(modem->Connected());
    EXPECT_TRUE(testsupport::waitFor([this] { return sim->carrierUp(); }, 2000));
}

TEST_F(SerialTest, NoRingShowsTheMessageAndFails)
{
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    startPanel(config);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    sessionState().config.callBackTime = 3;

    QString shownText;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shownText = box->text();
            box->accept();
        }
    });
    closer.start();
    EXPECT_EQ(modem->ControlRinging(nullptr, true), ErrorCode::NoRing);
    EXPECT_EQ(shownText, modGlobals::GetCatalogString(309) + QStringLiteral("\r\n") + modGlobals::GetCatalogString(310));
}

TEST_F(SerialTest, HangUpOnlyOnRemoteLinks)
{
    dialUp();
    ASSERT_TRUE(sim->carrierUp());
    EXPECT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    EXPECT_FALSE(modem->Connected());
    EXPECT_FALSE(modem->CommControl()->isOpen());
    EXPECT_TRUE(modemCommands().contains(QStringLiteral("ATH")));
    EXPECT_TRUE(testsupport::waitFor([this] { return !sim->carrierUp(); }, 2000));

    // A second disconnect finds the port closed and says so.
    EXPECT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Port is closed...")));
}

TEST_F(SerialTest, DirectLineClosesWithoutModemCommands)
{
    directLine();
    EXPECT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    EXPECT_FALSE(modem->Connected());
    EXPECT_FALSE(modem->CommControl()->isOpen());
    for (const panelsim::TraceEntry &e : sim->trace()) {
        EXPECT_FALSE(e.bytes.contains("+++")) << e.decoded.toStdString();
        EXPECT_FALSE(e.bytes.contains("ATH")) << e.decoded.toStdString();
    }
}

TEST_F(SerialTest, PortNumbersAndPreparation)
{
    EXPECT_EQ(clsModem::devicePathFor(3), QStringLiteral("/dev/ttyS2"));
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("Port3"),
                                QStringLiteral("/dev/quarvo-test-port"));
    EXPECT_EQ(clsModem::devicePathFor(3), QStringLiteral("/dev/quarvo-test-port"));

    // A device that does not exist: the port cannot be prepared.
    createModem(true);
    modem->CommPort = 3;
    EXPECT_EQ(modem->PortPrep(nullptr, true), ErrorCode::PortPrepFailed);

    // Without an open port a modem command can be neither sent nor answered: dialling fails
    // instead of reporting a connection.
    EXPECT_EQ(modem->Connect(nullptr, true), ErrorCode::Aborted);
    EXPECT_FALSE(modem->Connected());
    EXPECT_EQ(modem->ControlInitialize(nullptr, true), ErrorCode::ModemResetFailed);
}

TEST_F(SerialTest, VanishingPortEndsTheModemWaitAtOnce)
{
    faults << QStringLiteral("nodial@ATDT");
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Modem;
    startPanel(config);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);

    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(Timing::scaled(4000)));
        sim->stop();
    });
    QElapsedTimer clock;
    clock.start();
    const std::int32_t rc = modem->Connect(nullptr, true);
    const qint64 elapsed = clock.elapsed();
    unplug.join();
    EXPECT_EQ(rc, ErrorCode::Aborted);
    EXPECT_LT(elapsed, Timing::scaled(30000));
    EXPECT_FALSE(modem->Connected());
    EXPECT_FALSE(modem->CommControl()->isOpen());
}

TEST_F(SerialTest, GetCharacterReadsOneByteOrTimesOut)
{
    directLine();
    // The direct panel sends its idle frame 64 02 00 99 when the line is quiet.
    std::uint8_t c = 0;
    EXPECT_EQ(modem->GetCharacter(c, 5), 0);
    EXPECT_EQ(c, 0x64);

    sim->stop();
    panelsim::PanelConfig quiet;
    quiet.mode = panelsim::LinkMode::Direct;
    quiet.localPollMs = 0;
    ASSERT_TRUE(sim->setConfig(quiet));
    ASSERT_TRUE(sim->start());
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                QStringLiteral("Port%1").arg(kPortNumber), sim->devicePath());
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    EXPECT_EQ(modem->GetCharacter(c, 1), ErrorCode::NoCharacter);
}

TEST_F(SerialTest, SessionLogBelongsToTheTransport)
{
    EXPECT_FALSE(sessionState().sessionLog);
    createModem(true);
    ASSERT_TRUE(sessionState().sessionLog);
    const QString path = sessionState().sessionLog->path();
    EXPECT_TRUE(path.endsWith(QStringLiteral("session.log")));
    EXPECT_TRUE(sessionState().sessionLog->isOpen());
    sessionState().currentTransport.reset();
    modem.reset();
    EXPECT_FALSE(sessionState().sessionLog);
    EXPECT_TRUE(testsupport::readFile(path).size() > 0);
}
