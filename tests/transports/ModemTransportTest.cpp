// The modem transport against the simulated Hayes modem on a pseudo-terminal: port preparation,
// reset and init strings, dialling, answering, hanging up, and the ways a modem command fails.
#include "SerialFixture.h"

#include "PtyPort.h"
#include "core/ErrorCodes.h"
#include "transports/TransportNotices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>


using namespace serialtest;

// Reset, init, dial and CONNECT, with verbal and with numeric result codes. With numeric codes a
// number ending in 3 echoes "...3\r", the code of NO CARRIER, before the modem's own "1\r": only
// a correctly cut echo lets the call connect.
TEST_F(SerialTest, ResetInitDialAndConnectWithTheEchoCut)
{
    for (const bool numeric : {false, true}) {
        SCOPED_TRACE(numeric ? "numeric" : "verbal");
        panelsim::PanelConfig config;
        config.numericResults = numeric;
        modemLine(true, config);
        const QString dial = numeric ? QStringLiteral("ATDT5551233") : QStringLiteral("ATDT5551234");
        modem->DataPhone = dial.mid(4);
        EXPECT_EQ(modem->Connect(nullptr, true), 0);
        EXPECT_TRUE(modem->Connected());
        EXPECT_TRUE(sim->carrierUp());
        EXPECT_EQ(modemCommands(), (QStringList{QStringLiteral("ATZ"), QStringLiteral("AT&F"), dial}));
        EXPECT_TRUE(immediateText().contains(QStringLiteral("Echo [%1] REMOVED").arg(dial)));
        if (numeric)
            break;
        // The first transport's session log holds the modem's answers with the echo cut.
        const QString log = sessionLogText();
        EXPECT_TRUE(log.contains(modGlobals::GetCatalogString(320)));
        const qsizetype answered = log.lastIndexOf(modGlobals::GetCatalogString(321));
        ASSERT_GE(answered, 0);
        EXPECT_TRUE(log.mid(answered).contains(QStringLiteral("CONNECT")));
        EXPECT_FALSE(log.mid(answered).contains(QStringLiteral("ATDT")));
    }
}

TEST_F(SerialTest, DialFailuresMapToTheirErrors)
{
    modemLine();
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
    // A line that answers "ATA" with BUSY, which the simulated modem never does; the answer
    // wait runs events, so a timer can play the modem.
    panelsim::PtyPort line;
    QString why;
    ASSERT_TRUE(line.open(QString(), &why)) << why.toStdString();
    pointPortAt(line.devicePath());
    QByteArray heard;
    QTimer modemSide;
    QObject::connect(&modemSide, &QTimer::timeout, [&] {
        heard += line.readAvailable();
        if (heard.contains("ATA\r"))
            line.write("ATA\r\r\nBUSY\r\n"), heard.clear();
    });
    modemSide.start(5);
    createModem(true);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    EXPECT_EQ(modem->Answer(nullptr, true), clsModem::Busy);
    EXPECT_FALSE(modem->Connected());
    sessionState().currentTransport.reset();
    modem.reset();
}

TEST_F(SerialTest, RejectedInitStringAndSilentModem)
{
    faults << QStringLiteral("error@AT&F");
    modemLine(false);
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

// A dial the modem never reports on ends at once when the operator cancels or when the port
// vanishes, far below the 100 s dial wait, with no connection.
TEST_F(SerialTest, CancelOrAVanishingPortEndsTheDialWait)
{
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "port vanishes" : "cancel");
        faults = {QStringLiteral("nodial@ATDT")};
        modemLine();
        // The dial wait runs events, so a timer can play the operator or pull the line.
        QTimer::singleShot(static_cast<int>(Timing::scaled(4000)), [this, unplug] {
            if (unplug)
                sim->stop();
            else
                modem->setAbortPending(true);
        });
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(modem->Connect(nullptr, true), ErrorCode::Aborted);
        EXPECT_LT(clock.elapsed(), Timing::scaled(30000));
        EXPECT_FALSE(modem->Connected());
        if (unplug) {
            EXPECT_FALSE(modem->CommControl()->isOpen());
        }
        EXPECT_FALSE(sim->carrierUp());
        sim->stop();
    }
}

TEST_F(SerialTest, RingThenAnswerAndNoRing)
{
    modemLine();
    sim->ring();
    EXPECT_EQ(modem->ControlRinging(nullptr, true), 0);
    EXPECT_EQ(modem->Answer(nullptr, true), 0);
    EXPECT_TRUE(modem->Connected());
    EXPECT_TRUE(testsupport::waitFor([this] { return sim->carrierUp(); }, 2000));

    // No ring within the callback time: the operator is told and the wait fails.
    ASSERT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
    sessionState().config.callBackTime = 3;
    QString shownText;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            shownText = box->text(), box->accept();
    });
    closer.start(10);
    EXPECT_EQ(modem->ControlRinging(nullptr, true), ErrorCode::NoRing);
    EXPECT_EQ(shownText, modGlobals::GetCatalogString(309) + QStringLiteral("\r\n") + modGlobals::GetCatalogString(310));

    // Where no window may be shown nobody installs the notice: the wait fails alike, without a box.
    const TransportNotices installed = transportNotices();
    transportNotices().information = nullptr;
    shownText.clear();
    EXPECT_EQ(modem->ControlRinging(nullptr, true), ErrorCode::NoRing);
    EXPECT_TRUE(shownText.isEmpty());
    transportNotices() = installed;
}

TEST_F(SerialTest, HangUpOnlyOnRemoteLinks)
{
    dialUp();
    EXPECT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    EXPECT_FALSE(modem->Connected());
    EXPECT_FALSE(modem->CommControl()->isOpen());
    EXPECT_TRUE(modemCommands().contains(QStringLiteral("ATH")));
    EXPECT_TRUE(testsupport::waitFor([this] { return !sim->carrierUp(); }, 2000));
    // A second disconnect finds the port closed and says so.
    EXPECT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    EXPECT_TRUE(immediateText().contains(QStringLiteral("Port is closed...")));

    // A direct line closes without a word to a modem.
    sim->stop();
    directLine();
    EXPECT_EQ(modem->ControlDisconnect(nullptr, true), 0);
    EXPECT_FALSE(modem->CommControl()->isOpen());
    for (const panelsim::TraceEntry &e : sim->trace())
        EXPECT_FALSE(e.bytes.contains("+++") || e.bytes.contains("ATH")) << e.decoded.toStdString();
}

TEST_F(SerialTest, PortNumbersAndPreparation)
{
    EXPECT_EQ(clsModem::devicePathFor(3), QStringLiteral("/dev/ttyS2"));
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("Port3"),
                                QStringLiteral("/dev/quarvo-test-port"));
    EXPECT_EQ(clsModem::devicePathFor(3), QStringLiteral("/dev/quarvo-test-port"));

    // A device that does not exist: the port cannot be prepared, and without an open port a modem
    // command can be neither sent nor answered: dialling fails instead of reporting a connection.
    createModem(true);
    modem->CommPort = 3;
    EXPECT_EQ(modem->PortPrep(nullptr, true), ErrorCode::PortPrepFailed);
    EXPECT_EQ(modem->Connect(nullptr, true), ErrorCode::Aborted);
    EXPECT_FALSE(modem->Connected());
    EXPECT_EQ(modem->ControlInitialize(nullptr, true), ErrorCode::ModemResetFailed);
}

TEST_F(SerialTest, GetCharacterReadsOneByteOrTimesOut)
{
    // A quiet direct panel sends nothing; a polling one its idle frame 64 02 00 99.
    std::uint8_t c = 0;
    for (const int pollMs : {0, 200}) {
        directLine(pollMs);
        EXPECT_EQ(modem->GetCharacter(c, pollMs ? 5 : 1), pollMs ? 0 : ErrorCode::NoCharacter);
        sim->stop();
    }
    EXPECT_EQ(c, 0x64);
}

TEST_F(SerialTest, SessionLogBelongsToTheTransport)
{
    EXPECT_FALSE(sessionState().sessionLog);
    createModem(true);
    ASSERT_TRUE(sessionState().sessionLog);
    const QString path = sessionState().sessionLog->path();
    EXPECT_TRUE(sessionState().sessionLog->isOpen());
    sessionState().currentTransport.reset();
    modem.reset();
    EXPECT_FALSE(sessionState().sessionLog);
    EXPECT_TRUE(testsupport::readFile(path).size() > 0);
}
