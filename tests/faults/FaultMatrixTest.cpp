// The fault matrix: the simulated panel misbehaves by each of its fault rules, on each link (direct
// line, dial-up modem, enhanced direct, network), in each phase of a session (the handshake of the
// connection dialog, a receive of two items, a retrieval of the event history), and every case must
// end in its defined outcome: the result code, what the host heard, whether the session goes on,
// the host's data either fully updated or told nothing (and never a block of foreign data), and no
// shared-memory segment left behind. Rows that cannot happen are left out: a second UDP port on a
// serial line, modem faults on the other links.
//
// Each row is its own test case (ctest runs them in parallel). Protocol time runs at a twentieth;
// the commands are sent at most three times (NumOfNaks 2).
#ifdef QUARVO_HAVE_SIM

#include "connection/ConnectionFixture.h"

#include "link/modToolbox.h"
#include "operations/PanelSynchronisation.h"
#include "operations/frmHistory.h"
#include "platform/SharedMemoryIndex.h"
#include "queue/SessionEnd.h"

#include <QFile>

#include <iostream>
#include <map>

using namespace conntest;
using testsupport::waitFor;

namespace {

constexpr double kMatrixScale = 0.05;
const QString kKey = QStringLiteral("Quarvo-fault-matrix-key-32-chars");

enum class Link { Direct, Modem, Enhanced, Network };
enum class Phase { Handshake, Transfer, History };
// How the case ends: the session goes on (the phase completed), or it ended with the error.
enum class End { GoesOn, Ended };

struct Row
{
    const char *name;
    Link link;
    Phase phase;
    const char *fault;
    End end;
    std::int32_t error; // the session's last error once the case is over (0 when it goes on)
};

constexpr std::int32_t kNoError = 0;

// The items the transfer receives: the panel's copies differ from the host's.
const QList<int> kTransferItems{3, 5};

std::ostream &operator<<(std::ostream &out, const Row &row)
{
    return out << row.name;
}

// clang-format off
const Row kRows[] = {
    // Direct line: local addressing, the panel's idle frame every 200 ms (10 ms here).
    {"Direct_Handshake_Silence",     Link::Direct, Phase::Handshake, "silence@status",        End::GoesOn, kNoError},
    {"Direct_Handshake_NakStorm",    Link::Direct, Phase::Handshake, "nak@passcode*0",        End::Ended,  ErrorCode::PasscodeFailed},
    {"Direct_Handshake_BadChecksum", Link::Direct, Phase::Handshake, "badsum@datalock",       End::GoesOn, kNoError},
    {"Direct_Handshake_Garbage",     Link::Direct, Phase::Handshake, "garbage=9@status",      End::GoesOn, kNoError},
    {"Direct_Handshake_Duplicate",   Link::Direct, Phase::Handshake, "duplicate@passcode",    End::GoesOn, kNoError},
    {"Direct_Handshake_Late",        Link::Direct, Phase::Handshake, "late=7000@passcode",    End::GoesOn, kNoError},
    {"Direct_Handshake_Refusal",     Link::Direct, Phase::Handshake, "refuse@passcode",       End::Ended,  ErrorCode::PasscodeFailed},
    {"Direct_Transfer_Silence",      Link::Direct, Phase::Transfer,  "silence@read",          End::GoesOn, kNoError},
    {"Direct_Transfer_NakStorm",     Link::Direct, Phase::Transfer,  "nak@read*0",            End::Ended,  ErrorCode::RetriesExhausted},
    {"Direct_Transfer_BadChecksum",  Link::Direct, Phase::Transfer,  "badsum@read",           End::GoesOn, kNoError},
    {"Direct_Transfer_Garbage",      Link::Direct, Phase::Transfer,  "garbage=9@read*0",      End::GoesOn, kNoError},
    {"Direct_Transfer_Duplicate",    Link::Direct, Phase::Transfer,  "duplicate@read*0",      End::GoesOn, kNoError},
    {"Direct_Transfer_Late",         Link::Direct, Phase::Transfer,  "late=7000@read*0",      End::GoesOn, kNoError},
    {"Direct_Transfer_Refusal",      Link::Direct, Phase::Transfer,  "refuse@read",           End::Ended,  ErrorCode::SubscriptOutOfRange},
    {"Direct_History_Silence",       Link::Direct, Phase::History,   "silence@eventlog",      End::GoesOn, kNoError},
    {"Direct_History_NakStorm",      Link::Direct, Phase::History,   "nak@eventlog*0",        End::Ended,  ErrorCode::RetriesExhausted},
    {"Direct_History_BadChecksum",   Link::Direct, Phase::History,   "badsum@eventlog",       End::GoesOn, kNoError},
    {"Direct_History_Garbage",       Link::Direct, Phase::History,   "garbage=9@eventlog*0",  End::GoesOn, kNoError},
    {"Direct_History_Duplicate",     Link::Direct, Phase::History,   "duplicate@eventlog*0",  End::GoesOn, kNoError},
    {"Direct_History_Late",          Link::Direct, Phase::History,   "late=7000@eventlog*0",  End::GoesOn, kNoError},
    {"Direct_History_Refusal",       Link::Direct, Phase::History,   "refuse@eventlog",       End::Ended,  ErrorCode::SendRefused},

    // Dial-up modem: remote addressing, a Hayes modem in front of the panel.
    {"Modem_Handshake_Silence",      Link::Modem, Phase::Handshake, "silence@status",         End::GoesOn, kNoError},
    {"Modem_Handshake_NakStorm",     Link::Modem, Phase::Handshake, "nak@passcode*0",         End::Ended,  ErrorCode::PasscodeFailed},
    {"Modem_Handshake_BadChecksum",  Link::Modem, Phase::Handshake, "badsum@datalock",        End::GoesOn, kNoError},
    {"Modem_Handshake_Garbage",      Link::Modem, Phase::Handshake, "garbage=9@status",       End::GoesOn, kNoError},
    {"Modem_Handshake_Duplicate",    Link::Modem, Phase::Handshake, "duplicate@passcode",     End::GoesOn, kNoError},
    {"Modem_Handshake_Late",         Link::Modem, Phase::Handshake, "late=7000@passcode",     End::GoesOn, kNoError},
    {"Modem_Handshake_Refusal",      Link::Modem, Phase::Handshake, "refuse@passcode",        End::Ended,  ErrorCode::PasscodeFailed},
    {"Modem_Handshake_Busy",         Link::Modem, Phase::Handshake, "busy@ATDT",              End::Ended,  ErrorCode::ConnectFailed},
    {"Modem_Handshake_NoCarrier",    Link::Modem, Phase::Handshake, "nocarrier@ATDT",         End::Ended,  ErrorCode::ConnectFailed},
    {"Modem_Handshake_Mute",         Link::Modem, Phase::Handshake, "mute@ATZ*0",             End::Ended,  ErrorCode::ModemNoAnswer},
    {"Modem_Transfer_Silence",       Link::Modem, Phase::Transfer,  "silence@read",           End::GoesOn, kNoError},
    {"Modem_Transfer_NakStorm",      Link::Modem, Phase::Transfer,  "nak@read*0",             End::Ended,  ErrorCode::RetriesExhausted},
    {"Modem_Transfer_BadChecksum",   Link::Modem, Phase::Transfer,  "badsum@read",            End::GoesOn, kNoError},
    {"Modem_Transfer_Garbage",       Link::Modem, Phase::Transfer,  "garbage=9@read*0",       End::GoesOn, kNoError},
    {"Modem_Transfer_Duplicate",     Link::Modem, Phase::Transfer,  "duplicate@read*0",       End::GoesOn, kNoError},
    {"Modem_Transfer_Late",          Link::Modem, Phase::Transfer,  "late=7000@read*0",       End::GoesOn, kNoError},
    {"Modem_Transfer_Refusal",       Link::Modem, Phase::Transfer,  "refuse@read",            End::Ended,  ErrorCode::SubscriptOutOfRange},
    {"Modem_History_Silence",        Link::Modem, Phase::History,   "silence@eventlog",       End::GoesOn, kNoError},
    {"Modem_History_NakStorm",       Link::Modem, Phase::History,   "nak@eventlog*0",         End::Ended,  ErrorCode::RetriesExhausted},
    {"Modem_History_BadChecksum",    Link::Modem, Phase::History,   "badsum@eventlog",        End::GoesOn, kNoError},
    {"Modem_History_Garbage",        Link::Modem, Phase::History,   "garbage=9@eventlog*0",   End::GoesOn, kNoError},
    {"Modem_History_Duplicate",      Link::Modem, Phase::History,   "duplicate@eventlog*0",   End::GoesOn, kNoError},
    {"Modem_History_Late",           Link::Modem, Phase::History,   "late=7000@eventlog*0",   End::GoesOn, kNoError},
    {"Modem_History_Refusal",        Link::Modem, Phase::History,   "refuse@eventlog",        End::Ended,  ErrorCode::SendRefused},

    // Enhanced direct: the datagrams of the network link in a serial envelope, sequence numbers on.
    {"Enhanced_Handshake_Silence",    Link::Enhanced, Phase::Handshake, "silence@status",       End::GoesOn, kNoError},
    {"Enhanced_Handshake_NakStorm",   Link::Enhanced, Phase::Handshake, "nak@passcode*0",       End::Ended,  ErrorCode::RetriesExhausted},
    {"Enhanced_Handshake_BadChecksum",Link::Enhanced, Phase::Handshake, "badsum@datalock",      End::GoesOn, kNoError},
    {"Enhanced_Handshake_Garbage",    Link::Enhanced, Phase::Handshake, "garbage=9@status",     End::GoesOn, kNoError},
    {"Enhanced_Handshake_Duplicate",  Link::Enhanced, Phase::Handshake, "duplicate@passcode",   End::GoesOn, kNoError},
    {"Enhanced_Handshake_Late",       Link::Enhanced, Phase::Handshake, "late=7000@passcode",   End::GoesOn, kNoError},
    {"Enhanced_Handshake_WrongSeq",   Link::Enhanced, Phase::Handshake, "wrongseq@status",      End::GoesOn, kNoError},
    {"Enhanced_Handshake_Refusal",    Link::Enhanced, Phase::Handshake, "refuse@passcode",      End::Ended,  ErrorCode::PasscodeFailed},
    {"Enhanced_Transfer_Silence",     Link::Enhanced, Phase::Transfer,  "silence@read",         End::GoesOn, kNoError},
    {"Enhanced_Transfer_NakStorm",    Link::Enhanced, Phase::Transfer,  "nak@read*0",           End::Ended,  ErrorCode::RetriesExhausted},
    {"Enhanced_Transfer_BadChecksum", Link::Enhanced, Phase::Transfer,  "badsum@read",          End::GoesOn, kNoError},
    {"Enhanced_Transfer_Garbage",     Link::Enhanced, Phase::Transfer,  "garbage=9@read",       End::GoesOn, kNoError},
    {"Enhanced_Transfer_Duplicate",   Link::Enhanced, Phase::Transfer,  "duplicate@read*0",     End::GoesOn, kNoError},
    {"Enhanced_Transfer_Late",        Link::Enhanced, Phase::Transfer,  "late=7000@read",       End::GoesOn, kNoError},
    {"Enhanced_Transfer_WrongSeq",    Link::Enhanced, Phase::Transfer,  "wrongseq@read",        End::GoesOn, kNoError},
    {"Enhanced_Transfer_Refusal",     Link::Enhanced, Phase::Transfer,  "refuse@read",          End::Ended,  ErrorCode::SubscriptOutOfRange},
    {"Enhanced_History_Silence",      Link::Enhanced, Phase::History,   "silence@eventlog",     End::GoesOn, kNoError},
    {"Enhanced_History_NakStorm",     Link::Enhanced, Phase::History,   "nak@eventlog*0",       End::Ended,  ErrorCode::RetriesExhausted},
    {"Enhanced_History_BadChecksum",  Link::Enhanced, Phase::History,   "badsum@eventlog",      End::GoesOn, kNoError},
    {"Enhanced_History_Garbage",      Link::Enhanced, Phase::History,   "garbage=9@eventlog",   End::GoesOn, kNoError},
    {"Enhanced_History_Duplicate",    Link::Enhanced, Phase::History,   "duplicate@eventlog*0", End::GoesOn, kNoError},
    {"Enhanced_History_Late",         Link::Enhanced, Phase::History,   "late=7000@eventlog",   End::GoesOn, kNoError},
    {"Enhanced_History_WrongSeq",     Link::Enhanced, Phase::History,   "wrongseq@eventlog",    End::GoesOn, kNoError},
    {"Enhanced_History_Refusal",      Link::Enhanced, Phase::History,   "refuse@eventlog",      End::Ended,  ErrorCode::SendRefused},

    // Network: UDP on 127.0.0.1, encrypted, sequence numbers on.
    {"Network_Handshake_Silence",    Link::Network, Phase::Handshake, "silence@status",       End::GoesOn, kNoError},
    {"Network_Handshake_NakStorm",   Link::Network, Phase::Handshake, "nak@passcode*0",       End::Ended,  ErrorCode::RetriesExhausted},
    {"Network_Handshake_BadChecksum",Link::Network, Phase::Handshake, "badsum@datalock",      End::GoesOn, kNoError},
    {"Network_Handshake_Garbage",    Link::Network, Phase::Handshake, "garbage=9@status",     End::GoesOn, kNoError},
    {"Network_Handshake_Duplicate",  Link::Network, Phase::Handshake, "duplicate@passcode",   End::GoesOn, kNoError},
    {"Network_Handshake_Late",       Link::Network, Phase::Handshake, "late=7000@passcode",   End::GoesOn, kNoError},
    {"Network_Handshake_WrongSeq",   Link::Network, Phase::Handshake, "wrongseq@status",      End::GoesOn, kNoError},
    {"Network_Handshake_OtherPort",  Link::Network, Phase::Handshake, "otherport@datalock",   End::GoesOn, kNoError},
    {"Network_Handshake_Refusal",    Link::Network, Phase::Handshake, "refuse@passcode",      End::Ended,  ErrorCode::PasscodeFailed},
    {"Network_Transfer_Silence",     Link::Network, Phase::Transfer,  "silence@read",         End::GoesOn, kNoError},
    {"Network_Transfer_NakStorm",    Link::Network, Phase::Transfer,  "nak@read*0",           End::Ended,  ErrorCode::RetriesExhausted},
    {"Network_Transfer_BadChecksum", Link::Network, Phase::Transfer,  "badsum@read",          End::GoesOn, kNoError},
    {"Network_Transfer_Garbage",     Link::Network, Phase::Transfer,  "garbage=9@read",       End::GoesOn, kNoError},
    {"Network_Transfer_Duplicate",   Link::Network, Phase::Transfer,  "duplicate@read*0",     End::GoesOn, kNoError},
    {"Network_Transfer_Late",        Link::Network, Phase::Transfer,  "late=7000@read",       End::GoesOn, kNoError},
    {"Network_Transfer_WrongSeq",    Link::Network, Phase::Transfer,  "wrongseq@read",        End::GoesOn, kNoError},
    {"Network_Transfer_OtherPort",   Link::Network, Phase::Transfer,  "otherport@read",       End::GoesOn, kNoError},
    {"Network_Transfer_Refusal",     Link::Network, Phase::Transfer,  "refuse@read",          End::Ended,  ErrorCode::SubscriptOutOfRange},
    {"Network_History_Silence",      Link::Network, Phase::History,   "silence@eventlog",     End::GoesOn, kNoError},
    {"Network_History_NakStorm",     Link::Network, Phase::History,   "nak@eventlog*0",       End::Ended,  ErrorCode::RetriesExhausted},
    {"Network_History_BadChecksum",  Link::Network, Phase::History,   "badsum@eventlog",      End::GoesOn, kNoError},
    {"Network_History_Garbage",      Link::Network, Phase::History,   "garbage=9@eventlog",   End::GoesOn, kNoError},
    {"Network_History_Duplicate",    Link::Network, Phase::History,   "duplicate@eventlog*0", End::GoesOn, kNoError},
    {"Network_History_Late",         Link::Network, Phase::History,   "late=7000@eventlog",   End::GoesOn, kNoError},
    {"Network_History_WrongSeq",     Link::Network, Phase::History,   "wrongseq@eventlog",    End::GoesOn, kNoError},
    {"Network_History_OtherPort",    Link::Network, Phase::History,   "otherport@eventlog",   End::GoesOn, kNoError},
    {"Network_History_Refusal",      Link::Network, Phase::History,   "refuse@eventlog",      End::Ended,  ErrorCode::SendRefused},
};
// clang-format on

} // namespace

class FaultMatrix : public ConnectionTest, public ::testing::WithParamInterface<Row>
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        qputenv("QUARVO_TIME_SCALE", QByteArray::number(kMatrixScale));
        Timing::setScale(kMatrixScale);
        SessionState &state = sessionState();
        state.config.numOfNaks = 2;
        settings->responseTimeout = QStringLiteral("2");
        // The host holds the seed's data; the panel's copies of the transfer's items differ.
        const panelsim::PanelState seed{panelsim::PanelConfig{}};
        for (int item = 0; item < modToolbox::ItemCount; ++item)
            pif->items[item] = seed.itemBytes(item);
        hostBefore = pif->items;
    }

    void TearDown() override
    {
        if (frmHistory *window = history.data())
            delete window;
        ConnectionTest::TearDown();
    }

    const Row &row() const { return GetParam(); }

    panelsim::PanelConfig panelConfig() const
    {
        static const std::map<Link, panelsim::LinkMode> modes{{Link::Direct, panelsim::LinkMode::Direct},
                                                              {Link::Modem, panelsim::LinkMode::Modem},
                                                              {Link::Enhanced, panelsim::LinkMode::EnhancedDirect},
                                                              {Link::Network, panelsim::LinkMode::Network}};
        panelsim::PanelConfig config = panel(modes.at(row().link));
        config.differItems = kTransferItems;
        config.logSize = 64;
        config.eventCount = 20;
        config.newEventCount = 10;
        config.slotsPerAnswer = 8;
        if (row().link == Link::Network)
            config.linkKey = kKey;
        return config;
    }

    QStringList faults() const { return QString::fromLatin1(row().fault).split(QLatin1Char(';')); }

    // The connection dialog's handshake, as the operator starts it; returns the dialog's result.
    std::int16_t connect()
    {
        openSession();
        if (row().link == Link::Network) {
            settings->linkKey = kKey;
            settings->linkKeyMode = 2;
            sessionState().EncryptionEnabled = true;
        }
        static const std::map<Link, int> types{{Link::Direct, frmCommInterface::TypeDirect},
                                               {Link::Modem, frmCommInterface::TypeModem},
                                               {Link::Enhanced, frmCommInterface::TypeEnhancedDirect},
                                               {Link::Network, frmCommInterface::TypeNetwork}};
        const int type = types.at(row().link);
        Script script;
        script.then(QStringLiteral("dialog shown"), shown(), [this, type] {
            choose(type);
            if (type == frmCommInterface::TypeNetwork) {
                dialog->txtRemoteHost->setText(QStringLiteral("127.0.0.1"));
                dialog->txtRemotePort->setText(QString::number(sim->udpPort()));
            }
            dialog->txtPassCode->clear();
            QTest::keyClicks(dialog->txtPassCode, QStringLiteral("123456"));
            QTest::mouseClick(dialog->cmdConnect, Qt::LeftButton);
        });
        // A failed attempt ends the session and leaves the dialog open for another try: the
        // operator closes it with Cancel.
        script.then(QStringLiteral("attempt over"),
                    [this] {
                        return !dialog || !dialog->isVisible()
                               || (sessionState().LastErrorNumber != 0 && !sessionState().messageQueue && dialog->cmdConnect->isEnabled());
                    },
                    [this] {
                        if (dialog && dialog->isVisible())
                            QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton);
                    });
        return display(script, 30000);
    }

    // A receive of the transfer's items, as an unattended job runs it.
    void transfer()
    {
        sessionState().messageQueue->setUnattended(true);
        QList<bool> flags(modToolbox::ItemCount, false);
        for (const int item : kTransferItems)
            flags[item] = true;
        EXPECT_EQ(modToolbox::PerformPanelSyncronization(1, flags, false), 0);
        EXPECT_TRUE(waitFor([this] { return over(QStringLiteral("RECV_END")); }, 30000));
    }

    // The events since the panel's read pointer, as an unattended job reads them.
    void retrieveHistory()
    {
        sessionState().messageQueue->setUnattended(true);
        history = new frmHistory();
        history->optCurrent->setChecked(true);
        EXPECT_EQ(modUnattended::UnattendedHistoryStartup(history->retrieval(), 5), 0);
        EXPECT_TRUE(waitFor([this] { return over(QStringLiteral("HISTORY_END")); }, 30000));
    }

    // The phase reported its end to the host, or the session is gone.
    bool over(const QString &tag) const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return callback->tags().contains(tag) || !sessionState().messageQueue;
    }

    QByteArray hostBlock(int item, int start, int length) const
    {
        QByteArray block(length, '\0');
        pif->read(block, pif->locate(static_cast<qint16>(item), start));
        return block;
    }

    // Every block of the transfer's items holds the host's old bytes or the panel's; all of them
    // the panel's when `complete`. The other items are untouched.
    void checkHostData(bool complete) const
    {
        const panelsim::PanelState panelNow = sim->state();
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
        for (int e = 0; e < blockLen.size(); ++e) {
            const int item = itemOf.at(e), start = startOf.at(e), length = blockLen.at(e);
            const QByteArray now = hostBlock(item, start, length);
            QByteArray before(length, '\0');
            const auto it = hostBefore.find(item);
            const int at = pif->locate(static_cast<qint16>(item), start) % 65536;
            if (it != hostBefore.end())
                before = it->second.mid(at, length);
            const QByteArray panelBlock = panelNow.block(item, start);
            SCOPED_TRACE(QStringLiteral("block %1:%2").arg(item).arg(start).toStdString());
            if (!kTransferItems.contains(item))
                EXPECT_EQ(now, before);
            else if (complete)
                EXPECT_EQ(now.toHex(), panelBlock.toHex());
            else
                EXPECT_TRUE(now == before || now == panelBlock) << "a block holds foreign data";
        }
    }

    // Ends a session that goes on, as the operator does, and waits until it is gone.
    void endSessionNow()
    {
        if (sessionState().messageQueue)
            modGlobals::Disconnect(false, 0);
        EXPECT_TRUE(waitFor(
            [] {
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                return !sessionState().messageQueue;
            },
            10000));
    }

    std::map<int, QByteArray> hostBefore;
    QPointer<frmHistory> history;
};

TEST_P(FaultMatrix, EndsInItsDefinedOutcome)
{
    const Row &r = row();
    const bool handshakeFault = r.phase == Phase::Handshake;
    startPanel(panelConfig(), handshakeFault ? faults() : QStringList{});
    ASSERT_TRUE(sim);
    const panelsim::EventLog log = sim->state().eventLog;
    sessionState().LastErrorNumber = 0;

    const std::int16_t result = connect();
    const bool goesOn = r.end == End::GoesOn;
    if (handshakeFault) {
        EXPECT_EQ(result, goesOn ? frmCommInterface::ResultConnected : frmCommInterface::ResultNotConnected);
    } else {
        ASSERT_EQ(result, frmCommInterface::ResultConnected) << "the session was not admitted";
        callback->events.clear();
        for (const QString &fault : faults())
            ASSERT_TRUE(sim->addFault(fault)) << fault.toStdString();
        if (r.phase == Phase::Transfer)
            transfer();
        else
            retrieveHistory();
    }

    // The session's last error; a connection step that failed (the modem's dial, say) leaves its
    // error with the dialog.
    std::int32_t error = sessionState().LastErrorNumber;
    if (error == 0 && dialog)
        error = dialog->lastAttemptError();
    EXPECT_EQ(error, r.error) << std::hex << "0x" << quint32(error) << " instead of 0x" << quint32(r.error);
    EXPECT_EQ(bool(sessionState().messageQueue), goesOn) << (goesOn ? "the session ended" : "the session goes on");
    const QStringList tags = callback->tags();
    switch (r.phase) {
    case Phase::Handshake: {
        const QStringList admitted{QStringLiteral("5:SET_DATALOCK=1"), QLatin1String(r.link == Link::Direct ? "12" : "2"),
                                   QStringLiteral("5:GET_REV=1.307")};
        if (goesOn)
            EXPECT_EQ(hostEvents(), admitted);
        else
            EXPECT_FALSE(tags.contains(QStringLiteral("SET_DATALOCK")) || tags.contains(QStringLiteral("GET_REV")));
        checkHostData(false);
        break;
    }
    case Phase::Transfer:
        EXPECT_EQ(tags.contains(QStringLiteral("RECV_END")), goesOn);
        EXPECT_EQ(pif->endReports.isEmpty(), !goesOn) << pif->endReports.join(QLatin1Char(' ')).toStdString();
        checkHostData(goesOn);
        break;
    case Phase::History: {
        // The events from the read pointer to the newest index, as the panel holds them.
        const int pointer = log.panelPointer(), newest = log.newestIndex(), size = log.size();
        const QByteArray expected = log.readSlots(pointer, (newest - pointer + size) % size);
        QByteArray delivered;
        for (const auto &e : callback->withCode(13))
            delivered += e.data.toByteArray();
        EXPECT_EQ(tags.contains(QStringLiteral("HISTORY_END")), goesOn);
        if (goesOn)
            EXPECT_EQ(delivered.toHex(), expected.toHex());
        else
            EXPECT_TRUE(expected.startsWith(delivered)) << "the host got events the panel does not hold";
        break;
    }
    }

    if (HasFailure()) {
        // What the panel saw and said, for the reader of a failed row.
        for (const panelsim::TraceEntry &e : sim->trace())
            std::cerr << e.elapsedMs << " " << e.direction.toStdString() << " " << e.decoded.toStdString() << " "
                      << e.note.toStdString() << "\n";
    }
    endSessionNow();
    // Every record of the session is gone from /dev/shm, and so is the process's list of them.
    EXPECT_FALSE(QFile::exists(SharedMemoryIndex::ownIndexPath()))
        << testsupport::readFile(SharedMemoryIndex::ownIndexPath()).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

#endif // QUARVO_HAVE_SIM
