// What the fleet tests that run quarvo-host children against simulated panels share: a fresh
// database in a temporary folder, panels started on ephemeral ports, a run through FleetRunner and
// the quarvo-fleet program itself.
#pragma once

#include <gtest/gtest.h>

#include "FleetDatabase.h"
#include "FleetRunner.h"
#include "PanelSimulator.h"
#include "PostgresServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <tuple>
#include <vector>

namespace fleettest {

inline const QString kHost = QStringLiteral(QUARVO_HOST_PROGRAM);
inline const QString kFleet = QStringLiteral(QUARVO_FLEET_PROGRAM);
inline const QString kLinkKey = QStringLiteral("0123456789abcdef0123456789abcdef");

// Waits (bounded) while `busy` holds, letting events run.
template <typename F>
inline bool waitWhile(F busy, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (busy() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return !busy();
}

class FleetRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // Protocol time at a tenth, for the panels here and the quarvo-host children; the children's
        // private folders go under this test's folder.
        qputenv("QUARVO_TIME_SCALE", "0.1");
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        qunsetenv("XDG_RUNTIME_DIR");
        // Where a run on a server keeps its session logs by default.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        QString why;
        bool skip = false;
        const QString location = testDatabase(dir, QStringLiteral("fleet.db"), &why, &skip);
        if (skip)
            GTEST_SKIP() << why.toStdString();
        ASSERT_FALSE(location.isEmpty()) << why.toStdString();
        ASSERT_TRUE(db.open(location, &why)) << why.toStdString();
    }

    void TearDown() override
    {
        for (auto &panel : panels)
            panel->stop();
        qunsetenv("QUARVO_CLOCK_MOMENT");
    }

    // Starts a panel and returns the site that reaches it.
    Site addPanel(const QString &account, bool encrypted = false, const QString &passcode = QStringLiteral("123456"), int port = 0)
    {
        panelsim::PanelConfig config;
        if (!panelPasscode.isEmpty())
            config.passcode = panelPasscode;
        config.mode = panelsim::LinkMode::Network;
        config.seed = static_cast<quint32>(account.toInt());
        config.linkKey = encrypted ? kLinkKey : QString();
        auto panel = std::make_unique<panelsim::PanelSimulator>(config);
        QString why;
        EXPECT_TRUE(panel->start(&why)) << why.toStdString();
        Site s;
        s.account = account;
        s.name = QStringLiteral("Panel ") + account;
        s.address = QStringLiteral("127.0.0.1");
        s.port = port ? port : panel->udpPort();
        s.passcode = passcode;
        s.linkKey = config.linkKey;
        s.dataLocks = QJsonArray{QJsonObject{{QStringLiteral("Value"), 0x1234}, {QStringLiteral("Key"), QStringLiteral("PRIMARY")}}};
        panels.push_back(std::move(panel));
        return s;
    }

    void import(const std::vector<Site> &sites)
    {
        int added = 0, updated = 0;
        QString why;
        ASSERT_TRUE(db.importSites(sites, &added, &updated, &why)) << why.toStdString();
    }

    std::vector<SiteReport> run(const QString &jobs, int parallel, const QStringList &patterns = {}, int fromSnapshot = -1)
    {
        RunnerOptions options;
        options.hostProgram = kHost;
        options.jobs = jobs;
        options.parallel = parallel;
        options.attempts = 3;
        options.backoffSeconds = 0.2;
        options.responseTimeoutSeconds = 2;
        options.fromSnapshot = fromSnapshot;
        options.logFolder = dir.filePath(QStringLiteral("logs"));
        options.batch = QStringLiteral("test");
        options.runnerName = QStringLiteral("test:%1").arg(QCoreApplication::applicationPid());
        FleetRunner runner(db, options);
        bool done = false;
        QObject::connect(&runner, &FleetRunner::finished, [&] { done = true; });
        runner.start(db.sites(patterns));
        EXPECT_TRUE(waitWhile([&] { return !done; }, 240000)) << "the run did not end";
        return runner.reports();
    }

    // Runs quarvo-fleet with `arguments` (and --db); its exit status, standard output and error.
    std::tuple<int, QString, QString> fleet(QStringList arguments)
    {
        QProcess process;
        arguments << QStringLiteral("--db") << db.location();
        process.start(kFleet, arguments);
        EXPECT_TRUE(process.waitForStarted(10000));
        EXPECT_TRUE(waitWhile([&] { return process.state() != QProcess::NotRunning; }, 120000));
        return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

    QTemporaryDir dir;
    FleetDatabase db;
    QString panelPasscode;
    std::vector<std::unique_ptr<panelsim::PanelSimulator>> panels;
};

} // namespace fleettest
