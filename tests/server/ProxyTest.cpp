// The host's out-of-process component (host/RemoteComponent) end to end: the bus starts the server
// (with its operator stand-in, which connects on the network link and answers "Panel Sync" with
// receive), the server runs the session against the panel simulator and writes every block into
// the host's panel data through the bus. Afterwards the host holds exactly the panel's data.
#include "RemoteComponent.h"

#include "core/HostObjects.h"
#include "link/modToolbox.h"
#include "server/ServerNames.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "PanelSimulator.h"

namespace {

const QString kKey = QStringLiteral("Quarvo-proxy-test-key-32-chars!!");

bool processGone(uint pid, int ms)
{
    return testsupport::waitFor([pid] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }, ms);
}

TEST(ProxyTest, ReceiveThroughTheServerLeavesThePanelsDataWithTheHost)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "runs on a private bus (dbus-run-session)";
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Network;
    config.linkKey = kKey;
    config.differItems = {2, 9};
    panelsim::PanelSimulator panel(config);
    QString error;
    ASSERT_TRUE(panel.start(&error)) << error.toStdString();

    auto settings = std::make_shared<testsupport::SettingsDouble>();
    settings->hostDataMode = true;
    settings->linkKey = kKey;
    settings->remoteHost = QStringLiteral("127.0.0.1");
    settings->panelPort = QString::number(panel.udpPort());
    settings->responseTimeout = QStringLiteral("4");
    settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(0x1234, 0, QStringLiteral("Office"), 1));
    // The host holds the seed's data: items 2 and 9 differ from the panel's.
    auto pif = std::make_shared<testsupport::PifDouble>();
    const panelsim::PanelState seed(panelsim::PanelConfig{});
    for (int item = 0; item < 19; ++item)
        pif->items[item] = seed.itemBytes(item);
    auto callback = std::make_shared<testsupport::CallbackDouble>();

    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("proxy"));
    uint serverPid = 0;
    {
        RemoteComponent component(bus);
        ASSERT_TRUE(component.connectServer(&error)) << error.toStdString();
        serverPid = bus.interface()->servicePid(quarvobus::kServiceName).value();
        EXPECT_EQ(component.Name(), QStringLiteral("Quarvo"));
        std::shared_ptr<HostCallback> host = callback;
        component.SetCallBack(host);
        component.setSettings(settings);
        component.setPif(pif);
        EXPECT_EQ(component.Pif(), pif);
        EXPECT_EQ(component.Settings(), settings);

        ASSERT_EQ(component.CommStartup(), 0) << component.lastError().toStdString();
        ASSERT_TRUE(testsupport::waitFor([&] { return callback->tags().contains(QStringLiteral("RECV_END")); }, 30000))
            << "events: " << [&] {
                   QStringList codes;
                   for (const auto &e : callback->events)
                       codes << QString::number(e.code) + QLatin1Char(':') + e.data.toString();
                   return codes.join(QLatin1Char(' ')).toStdString();
               }();
        for (int item = 0; item < 19; ++item)
            EXPECT_EQ(pif->items[item], panel.state().itemBytes(item)) << "item " << item;
        EXPECT_EQ(pif->endReports.size(), 1);
        // Only the differing items travelled.
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
        EXPECT_EQ(panel.commandCount(QStringLiteral("Request Item Block")),
                  std::count(itemOf.begin(), itemOf.end(), 2) + std::count(itemOf.begin(), itemOf.end(), 9));

        bool force = true;
        EXPECT_EQ(component.CommShutdown(force), 0);
        EXPECT_TRUE(testsupport::waitFor([&] { return panel.goodbyeReceived(); }, 10000));
    }
    // Leaving the bus ends the client's time with the server: it ends too.
    bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(QStringLiteral("proxy"));
    EXPECT_TRUE(processGone(serverPid, 20000));
    panel.stop();
}

} // namespace
