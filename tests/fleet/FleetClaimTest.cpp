// Several quarvo-fleet runners (separate processes) sharing one database: each due site is claimed
// by one runner and run once, and the sites of a runner killed outright come due again after their
// lease and are finished by the others. The panels count the logins they saw.
#include <gtest/gtest.h>

#include "FleetRunFixture.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <map>
#include <set>

#include <csignal>

using namespace fleettest;

namespace {

class FleetClaimTest : public FleetRunTest
{
protected:
    void TearDown() override
    {
        for (auto &p : runners)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
        FleetRunTest::TearDown();
    }

    std::vector<Site> addSites(int count, int firstAccount)
    {
        std::vector<Site> sites;
        for (int i = 0; i < count; ++i)
            sites.push_back(addPanel(QString::number(firstAccount + i)));
        import(sites);
        return sites;
    }

    QProcess *startRunner(int leaseSeconds, const QString &jobs = QStringLiteral("clock,history-current"))
    {
        auto p = std::make_unique<QProcess>();
        p->start(kFleet, {QStringLiteral("run"), QStringLiteral("--due"), QStringLiteral("--db"), db.location(), QStringLiteral("--jobs"),
                          jobs, QStringLiteral("--parallel"), QStringLiteral("3"),
                          QStringLiteral("--claim-batch"), QStringLiteral("2"), QStringLiteral("--lease"), QString::number(leaseSeconds),
                          QStringLiteral("--response-timeout"), QStringLiteral("2"), QStringLiteral("--backoff"), QStringLiteral("0.2"),
                          QStringLiteral("--host"), kHost, QStringLiteral("--log-dir"), dir.filePath(QStringLiteral("logs"))});
        EXPECT_TRUE(p->waitForStarted(10000));
        runners.push_back(std::move(p));
        return runners.back().get();
    }

    bool waitForRunners(int ms)
    {
        return waitWhile(
            [&] {
                return std::any_of(runners.begin(), runners.end(), [](const auto &p) { return p->state() != QProcess::NotRunning; });
            },
            ms);
    }

    // Every run of every site: site id -> runs oldest first.
    std::map<qint64, std::vector<RunRecord>> runsBySite()
    {
        std::map<qint64, std::vector<RunRecord>> out;
        for (const Site &s : db.sites()) {
            std::vector<RunRecord> runs = db.runs(s.id, 1000);
            std::reverse(runs.begin(), runs.end());
            out[s.id] = runs;
        }
        return out;
    }

    std::vector<std::unique_ptr<QProcess>> runners;
};

TEST_F(FleetClaimTest, ThreeRunnersRunEveryDueSiteExactlyOnce)
{
    // 18 sites at a tenth of protocol time keep the check light; the runners take two at a time.
    const std::vector<Site> sites = addSites(18, 3000);
    for (int i = 0; i < 3; ++i)
        startRunner(60);
    ASSERT_TRUE(waitForRunners(240000)) << "the runners did not end";
    for (const auto &p : runners) {
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }

    std::set<QString> runnerNames;
    for (const auto &[siteId, runs] : runsBySite()) {
        ASSERT_EQ(runs.size(), 1u) << "site " << siteId << " was run " << runs.size() << " times";
        EXPECT_EQ(runs.front().result, QStringLiteral("success")) << runs.front().errorText.toStdString();
        runnerNames.insert(runs.front().runner);
    }
    EXPECT_GE(runnerNames.size(), 2u) << "one runner took every site";
    for (size_t i = 0; i < panels.size(); ++i)
        EXPECT_EQ(panels[i]->commandCount(QStringLiteral("Passcode Verification")), 1) << sites[i].account.toStdString();

    // Nothing is due any more, and the runners are recorded as ended, holding nothing.
    const auto [status, out, err] = fleet({QStringLiteral("runners")});
    EXPECT_EQ(status, 0) << err.toStdString();
    const std::vector<RunnerInfo> seen = db.runners();
    EXPECT_EQ(seen.size(), 3u) << out.toStdString();
    for (const RunnerInfo &r : seen) {
        EXPECT_TRUE(r.ended.isValid()) << r.name.toStdString();
        EXPECT_TRUE(r.holds.isEmpty() && r.expired.isEmpty()) << r.name.toStdString();
        EXPECT_TRUE(out.contains(r.name)) << out.toStdString();
    }
    QProcess again;
    again.start(kFleet, {QStringLiteral("run"), QStringLiteral("--due"), QStringLiteral("--db"), db.location(), QStringLiteral("--host"), kHost,
                         QStringLiteral("--log-dir"), dir.filePath(QStringLiteral("logs"))});
    ASSERT_TRUE(waitWhile([&] { return again.state() != QProcess::NotRunning; }, 60000));
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_TRUE(again.readAllStandardOutput().contains("no site is due"));
}

TEST_F(FleetClaimTest, AKilledRunnersSitesComeDueAfterTheLeaseAndTheOthersFinishThem)
{
    // Long sessions (every stored event and the whole programming), so the killed runner is caught
    // holding sites mid-session.
    const std::vector<Site> sites = addSites(8, 3100);
    const QString jobs = QStringLiteral("history-all,receive");
    const int lease = 3;
    QProcess *victim = startRunner(lease, jobs);
    const QString victimName = QStringLiteral("%1:%2").arg(QSysInfo::machineHostName()).arg(victim->processId());
    // Killed once its sessions are under way.
    ASSERT_TRUE(waitWhile(
        [&] {
            for (const auto &[siteId, runs] : runsBySite())
                for (const RunRecord &r : runs)
                    if (r.runner == victimName && r.result == QLatin1String("running"))
                        return false;
            return true;
        },
        60000))
        << "the first runner started no session";
    ::kill(static_cast<pid_t>(victim->processId()), SIGKILL);
    const QDateTime killed = QDateTime::currentDateTimeUtc();
    ASSERT_TRUE(victim->waitForFinished(10000));
    startRunner(lease, jobs);
    startRunner(lease, jobs);
    ASSERT_TRUE(waitForRunners(240000)) << "the runners did not end";

    int retaken = 0;
    for (const auto &[siteId, runs] : runsBySite()) {
        ASSERT_FALSE(runs.empty()) << "site " << siteId << " was never run";
        EXPECT_EQ(runs.back().result, QStringLiteral("success")) << "site " << siteId << ": " << runs.back().errorText.toStdString();
        EXPECT_NE(runs.back().runner, victimName);
        EXPECT_EQ(std::count_if(runs.begin(), runs.end(), [](const RunRecord &r) { return r.result == QLatin1String("success"); }), 1)
            << "site " << siteId;
        // A site the killed runner was in the middle of: its run is recorded as cut short, and the
        // next session began only after the lease had run out, when the killed runner's session was over.
        for (size_t i = 0; i + 1 < runs.size(); ++i)
            if (runs[i].runner == victimName && !runs[i].ended.isValid()) {
                ADD_FAILURE() << "site " << siteId << " is still marked running";
            } else if (runs[i].runner == victimName && runs[i].result == QLatin1String("aborted")) {
                ++retaken;
                EXPECT_GE(runs[i + 1].started.msecsTo(killed), -600000);
                EXPECT_GE(killed.msecsTo(runs[i + 1].started), (lease - 1) * 1000) << "site " << siteId << " was taken again too soon";
            }
    }
    EXPECT_GT(retaken, 0) << "the killed runner held no session";
    // The killed runner's sessions ended with it; each panel saw the goodbye of its last session.
    for (size_t i = 0; i < panels.size(); ++i)
        EXPECT_TRUE(panels[i]->goodbyeReceived()) << sites[i].account.toStdString();
}

TEST_F(FleetClaimTest, ResultsOfSessionsThatEndWhileTheDatabaseIsDownArriveOnceWhenItIsBack)
{
    if (!usesServer())
        GTEST_SKIP() << "a database server is stopped here; an SQLite file has none";
    QString why;
    PostgresServer *server = sharedServer(&why);
    ASSERT_TRUE(server) << why.toStdString();
    const std::vector<Site> sites = addSites(6, 3200);
    const QString jobs = QStringLiteral("history-all,receive");
    startRunner(30, jobs);
    startRunner(30, jobs);
    ASSERT_TRUE(waitWhile(
        [&] {
            for (const auto &[siteId, runs] : runsBySite())
                for (const RunRecord &r : runs)
                    if (r.result == QLatin1String("running"))
                        return false;
            return true;
        },
        60000))
        << "no session started";
    // The database goes away while sessions run, stays away until a session has ended meanwhile
    // (at least 5 s), and comes back.
    ASSERT_TRUE(server->pause(&why)) << why.toStdString();
    QByteArray said;
    QElapsedTimer down;
    down.start();
    waitWhile(
        [&] {
            for (const auto &p : runners)
                said += p->readAllStandardError();
            return down.elapsed() < 5000 || !said.contains("kept in");
        },
        120000);
    ASSERT_TRUE(server->resume(&why)) << why.toStdString();
    EXPECT_TRUE(said.contains("kept in")) << "no result waited for the database: " << said.toStdString();
    const bool ended = waitForRunners(240000);
    for (const auto &p : runners)
        said += p->readAllStandardError();
    ASSERT_TRUE(ended) << "the runners did not end: " << said.toStdString();
    ASSERT_TRUE(db.reconnect(&why)) << why.toStdString();
    for (const auto &p : runners) {
        said += p->readAllStandardError();
        EXPECT_EQ(p->exitCode(), 0) << said.toStdString();
    }
    for (const auto &[siteId, runs] : runsBySite()) {
        ASSERT_EQ(runs.size(), 1u) << "site " << siteId;
        EXPECT_EQ(runs.front().result, QStringLiteral("success")) << runs.front().errorText.toStdString();
        EXPECT_FALSE(runs.front().ended.isNull());
        EXPECT_FALSE(db.runEvents(runs.front().id).empty());
        EXPECT_FALSE(db.snapshots(siteId).empty()) << "site " << siteId;
    }
    for (size_t i = 0; i < panels.size(); ++i)
        EXPECT_EQ(panels[i]->commandCount(QStringLiteral("Passcode Verification")), 1) << sites[i].account.toStdString();
    // The spool is empty again.
    for (const QFileInfo &f : QDir(dir.filePath(QStringLiteral("data/quarvo-fleet"))).entryInfoList({QStringLiteral("spool-*.db")})) {
        FleetSpool spool;
        ASSERT_TRUE(spool.open(f.filePath(), &why)) << why.toStdString();
        EXPECT_EQ(spool.count(), 0);
    }
}

} // namespace
