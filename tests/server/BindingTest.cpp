// The two halves of the binding against each other on a private bus: the host objects exported by a
// client (a connection served on a thread of its own, as a client's main loop serves them) and the
// server's adapters that call them. Every member the component uses crosses with its value and
// type; a client that has gone fails at once, and its settings' last values stand.
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/Variant.h"
#include "server/HostExports.h"
#include "server/RemoteHostObjects.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

using namespace quarvobus;

namespace {

class BindingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "runs on a private bus (dbus-run-session)";
        settings = std::make_shared<testsupport::SettingsDouble>();
        pif = std::make_shared<testsupport::PifDouble>();
        callback = std::make_shared<testsupport::CallbackDouble>();
        clientBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
        ASSERT_TRUE(clientBus.isConnected() && serverBus.isConnected());

        // The client serves its objects on its own thread while the adapters' calls block this one.
        clientThread.start();
        exports.push_back(new CallbackExport(callback));
        exports.push_back(new SettingsExport(settings));
        exports.push_back(new PifExport(pif));
        const QStringList paths{QStringLiteral("/host/callback"), QStringLiteral("/host/settings"), QStringLiteral("/host/pif")};
        for (int n = 0; n < 3; ++n) {
            ASSERT_TRUE(clientBus.registerObject(paths[n], exports[n], QDBusConnection::ExportAllContents));
            exports[n]->moveToThread(&clientThread);
        }
        link = std::make_shared<ClientLink>(serverBus, clientBus.baseService());
        remoteCallback = std::make_shared<RemoteCallback>(link, paths[0]);
        remoteSettings = std::make_shared<RemoteSettings>(link, paths[1]);
        remotePif = std::make_shared<RemotePif>(link, paths[2]);
    }

    void TearDown() override
    {
        clientThread.quit();
        clientThread.wait();
        qDeleteAll(exports);
        leaveBus();
        serverBus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
    }

    // The client's connection closes (the last reference to it goes with the name).
    void leaveBus()
    {
        clientBus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    std::shared_ptr<testsupport::SettingsDouble> settings;
    std::shared_ptr<testsupport::PifDouble> pif;
    std::shared_ptr<testsupport::CallbackDouble> callback;
    QDBusConnection clientBus{QString()};
    QDBusConnection serverBus{QString()};
    QThread clientThread;
    QList<QObject *> exports;
    std::shared_ptr<ClientLink> link;
    std::shared_ptr<RemoteCallback> remoteCallback;
    std::shared_ptr<RemoteSettings> remoteSettings;
    std::shared_ptr<RemotePif> remotePif;
};

TEST_F(BindingTest, EverySettingsMemberCrossesTheBus)
{
    settings->accountName = QStringLiteral("ACCT-7");
    settings->linkKey = QStringLiteral("k").repeated(32);
    settings->linkKeyMode = 1;
    settings->remoteHost = QStringLiteral("panel.example");
    settings->hostDataMode = true;
    settings->responseTimeout = QStringLiteral("9");
    settings->timeOffsetHours = -3;
    settings->panelType = 50;
    settings->dataBits = 7;
    settings->parity = QStringLiteral("E");
    settings->stopBits = 2;
    settings->postDialString = QStringLiteral(",,1");
    settings->resetCmd = QStringLiteral("ATZ0");
    settings->panelName = QStringLiteral("Büro");
    settings->baudRate = 19200;
    settings->comPort = 4;
    settings->initString = QStringLiteral("AT&F1");
    settings->panelPhone = QStringLiteral("5550001");
    settings->voicePhone = QStringLiteral("5550002");
    settings->passcode = QStringLiteral("654321");
    settings->panelPort = QStringLiteral("3002");
    settings->expectedPanelStatus = 3;
    settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(0x1234, 2, QStringLiteral("Office"), 7));
    settings->primary = std::make_shared<testsupport::DataLockDouble>(-1, 1, QStringLiteral("Primary"), 9);

    const HostSettings &s = *remoteSettings;
    EXPECT_EQ(s.AccountName(), QStringLiteral("ACCT-7"));
    EXPECT_EQ(s.LinkKey(), settings->linkKey);
    EXPECT_EQ(s.LinkKeyMode(), 1);
    EXPECT_EQ(s.RemoteHost(), QStringLiteral("panel.example"));
    EXPECT_TRUE(s.HostDataMode());
    EXPECT_EQ(s.ResponseTimeout(), QStringLiteral("9"));
    EXPECT_EQ(s.TimeOffsetHours(), -3);
    EXPECT_EQ(s.PanelType(), 50);
    EXPECT_EQ(s.DataBits(), 7);
    EXPECT_EQ(s.Parity(), QStringLiteral("E"));
    EXPECT_EQ(s.StopBits(), 2);
    EXPECT_EQ(s.PostDialString(), QStringLiteral(",,1"));
    EXPECT_EQ(s.ResetCmd(), QStringLiteral("ATZ0"));
    EXPECT_EQ(s.PanelName(), QStringLiteral("Büro"));
    EXPECT_EQ(s.BaudRate(), 19200);
    EXPECT_EQ(s.ComPort(), 4);
    EXPECT_EQ(s.InitString(), QStringLiteral("AT&F1"));
    EXPECT_EQ(s.PanelPhone(), QStringLiteral("5550001"));
    EXPECT_EQ(s.VoicePhone(), QStringLiteral("5550002"));
    EXPECT_EQ(s.Passcode(), QStringLiteral("654321"));
    EXPECT_EQ(s.PanelPort(), QStringLiteral("3002"));
    EXPECT_EQ(s.ExpectedPanelStatus(), 3);

    EXPECT_EQ(s.dataLockCount(), 1);
    const auto lock = s.dataLock(1);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->Value(), 0x1234);
    EXPECT_EQ(lock->DataLockType(), 2);
    EXPECT_EQ(lock->Name(), QStringLiteral("Office"));
    EXPECT_EQ(lock->Number(), 7);
    EXPECT_FALSE(s.dataLock(2));
    const auto primary = s.dataLockByKey(QStringLiteral("PRIMARY"));
    ASSERT_TRUE(primary);
    EXPECT_EQ(primary->Value(), -1);
    EXPECT_EQ(primary->Number(), 9);
    EXPECT_FALSE(s.dataLockByKey(QStringLiteral("OTHER")));

    remoteSettings->setRemoteHost(QStringLiteral("10.0.0.7"));
    remoteSettings->setHostDataMode(false);
    EXPECT_EQ(settings->remoteHost, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(settings->remoteHostWrites, 1);
    EXPECT_FALSE(settings->hostDataMode);
}

TEST_F(BindingTest, PanelDataAndItsQueriesCrossTheBus)
{
    pif->items[5] = QByteArray(56, '\x11');
    const auto item = remotePif->Item(QStringLiteral("5"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->SISize(), 56);
    EXPECT_EQ(item->NofSubItems(), 1);
    EXPECT_FALSE(remotePif->Item(QStringLiteral("7")));

    const qint32 at = remotePif->locate(5, 1);
    EXPECT_EQ(at, 5 * 65536 + 28);
    remotePif->write(QByteArray("\x01\x02\x00\xFF", 4), at);
    QByteArray buffer(6, '\x7E');
    remotePif->read(buffer, at);
    EXPECT_EQ(buffer, QByteArray("\x01\x02\x00\xFF\x11\x11", 6));

    pif->connectionQueryResult = 4;
    EXPECT_EQ(remotePif->queryConnectionType(16, 20, 0), 4);
    pif->connectionQueryResult = std::nullopt;
    EXPECT_EQ(remotePif->queryConnectionType(16, 20, 0), std::nullopt);

    pif->acceptResult = 0;
    qint32 code = 0x4321;
    EXPECT_EQ(remotePif->acceptDataLock(code, 1, 0, 0), 0);
    EXPECT_EQ(pif->acceptedLocks, std::vector<qint32>{0x4321});

    remotePif->takeTransferFile(QStringLiteral("/data/tempdat.000"));
    remotePif->finishSend();
    EXPECT_EQ(pif->endReports, (QStringList{QStringLiteral("take /data/tempdat.000"), QStringLiteral("finish send")}));
    EXPECT_EQ(remotePif->Passcode(), QStringLiteral("123456"));
}

// Each kind of event data arrives as the kind it left as (a date as its text), in order.
TEST_F(BindingTest, EventsArriveInOrderWithTheirData)
{
    const QDateTime moment(QDate(2026, 3, 9), QTime(14, 5, 0));
    const QByteArray records("\x00\x01\xFE", 3);
    const QVariantList tagged{QStringLiteral("HISTORY_END"), QVariant::fromValue<qint16>(12), missingArgument(),
                              QStringLiteral("Quarvo")};
    const struct
    {
        qint32 code;
        QVariant data;
        std::optional<QString> source;
    } sent[] = {{12, 0, QStringLiteral("Quarvo")},
                {3, QStringLiteral("USERDISCONNECTING"), std::nullopt},
                {13, records, std::nullopt},
                {5, tagged, std::nullopt},
                {5, QVariantList{QStringLiteral("SET_TIME"), moment, missingArgument(), QStringLiteral("Quarvo")}, QStringLiteral("1234")}};
    for (const auto &e : sent) {
        qint32 code = e.code;
        remoteCallback->ZelCommEvent(code, e.data, e.source);
    }
    ASSERT_EQ(callback->events.size(), 5u);
    EXPECT_EQ(callback->events[0].code, 12);
    EXPECT_EQ(callback->events[0].data, QVariant(0));
    EXPECT_EQ(callback->events[0].source, QStringLiteral("Quarvo"));
    EXPECT_EQ(callback->events[1].data, QVariant(QStringLiteral("USERDISCONNECTING")));
    EXPECT_EQ(callback->events[1].source, std::nullopt);
    EXPECT_EQ(callback->events[2].data.toByteArray(), records);
    const QVariantList history = callback->events[3].data.toList();
    ASSERT_EQ(history.size(), 4);
    EXPECT_EQ(history[0], QVariant(QStringLiteral("HISTORY_END")));
    EXPECT_EQ(history[1].metaType().id(), QMetaType::Short);
    EXPECT_EQ(history[1].toInt(), 12);
    EXPECT_TRUE(isMissing(history[2]));
    EXPECT_EQ(history[3], QVariant(QStringLiteral("Quarvo")));
    EXPECT_EQ(callback->events[4].data.toList().value(1), QVariant(QStringLiteral("2026-03-09T14:05:00")));
    EXPECT_EQ(callback->events[4].source, QStringLiteral("1234"));
}

// The client leaves the bus: calls fail at once with ObjectRequired, and what its settings said last
// still answers (the goodbye that ends its session needs HostDataMode).
TEST_F(BindingTest, AClientThatLeftFailsAtOnceAndItsLastSettingsStand)
{
    settings->hostDataMode = true;
    EXPECT_TRUE(remoteSettings->HostDataMode());
    clientThread.quit();
    clientThread.wait();
    leaveBus();

    QElapsedTimer clock;
    clock.start();
    try {
        remotePif->finishSend();
        ADD_FAILURE() << "a call to a client that left succeeded";
    } catch (const QuarvoError &e) {
        EXPECT_EQ(e.number(), ErrorCode::ObjectRequired);
    }
    EXPECT_LT(clock.elapsed(), kHostCallTimeoutMs / 5);
    EXPECT_TRUE(link->gone());
    EXPECT_TRUE(remoteSettings->HostDataMode());
    EXPECT_THROW(remoteSettings->AccountName(), QuarvoError);
}

} // namespace
