// bench_FleetClaim: how fast runners sharing one database take their sites. --runners threads,
// each with its own connection as a runner process has, claim due sites --batch at a time and give
// each up as finished at once (no sessions), until none is left. Prints the latency of a claim and
// of a release (median, 95th percentile, worst), and checks that every site was taken exactly once.
// Without --db it starts a throw-away PostgreSQL server of its own.
#include "FleetDatabase.h"
#include "fleet/PostgresServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: bench_FleetClaim [--db URL|FILE] [--sites N] [--runners R] [--batch B]\n"
    "  --db URL     the database (default: a throw-away PostgreSQL server started here)\n"
    "  --sites N    sites to claim (default 1000)\n"
    "  --runners R  runners claiming at once (default 3)\n"
    "  --batch B    sites per claim (default 4)\n";

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString location;
    int sites = 1000, runners = 3, batch = 4;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        const QString value = args.value(i + 1);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == QLatin1String("--db"))
            location = value;
        else if (a == QLatin1String("--sites"))
            sites = value.toInt();
        else if (a == QLatin1String("--runners"))
            runners = value.toInt();
        else if (a == QLatin1String("--batch"))
            batch = value.toInt();
        else {
            std::fprintf(stderr, "bench_FleetClaim: unknown argument %s\n%s", qPrintable(a), kUsage);
            return 2;
        }
        ++i;
    }
    if (sites < 1 || runners < 1 || batch < 1) {
        std::fprintf(stderr, "bench_FleetClaim: --sites, --runners and --batch take positive numbers\n");
        return 2;
    }
    fleettest::PostgresServer server;
    QString why;
    if (location.isEmpty()) {
        std::fprintf(stderr, "starting a throw-away PostgreSQL server...\n");
        if (!server.start(&why) || (location = server.newDatabase(&why)).isEmpty()) {
            std::fprintf(stderr, "bench_FleetClaim: %s\n", qPrintable(why));
            return 1;
        }
    }
    {
        FleetDatabase db;
        if (!db.open(location, &why)) {
            std::fprintf(stderr, "bench_FleetClaim: %s\n", qPrintable(why));
            return 1;
        }
        std::vector<Site> list;
        for (int i = 0; i < sites; ++i) {
            Site s;
            s.account = QStringLiteral("bench-%1").arg(i, 6, 10, QLatin1Char('0'));
            s.address = QStringLiteral("127.0.0.1");
            s.port = 3000;
            list.push_back(s);
        }
        int added = 0, updated = 0;
        if (!db.importSites(list, &added, &updated, &why)) {
            std::fprintf(stderr, "bench_FleetClaim: %s\n", qPrintable(why));
            return 1;
        }
        std::fprintf(stderr, "%d site(s) in %s\n", added + updated, qPrintable(db.location()));
    }

    std::mutex lock;
    std::vector<double> claimMs, releaseMs;
    std::map<qint64, int> taken;
    std::atomic<int> failures{0};
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int r = 0; r < runners; ++r)
        threads.emplace_back([&, r] {
            FleetDatabase db;
            QString error;
            if (!db.open(location, &error)) {
                std::fprintf(stderr, "runner %d: %s\n", r, qPrintable(error));
                ++failures;
                return;
            }
            ClaimRequest request;
            request.runner = QStringLiteral("bench:%1").arg(r);
            request.count = batch;
            request.succeededSince = QDateTime::currentDateTimeUtc().addDays(-1);
            request.roundStartMs = db.registerRunner(request.runner, &error);
            std::vector<double> mine, released;
            std::vector<qint64> ids;
            for (;;) {
                QElapsedTimer t;
                t.start();
                const std::vector<Site> got = db.claimSites(request, &error);
                mine.push_back(t.nsecsElapsed() / 1e6);
                if (!error.isEmpty()) {
                    std::fprintf(stderr, "runner %d: %s\n", r, qPrintable(error));
                    ++failures;
                    break;
                }
                if (got.empty())
                    break;
                for (const Site &s : got) {
                    t.restart();
                    if (!db.releaseSite(s.id, request.runner, true, &error))
                        ++failures;
                    released.push_back(t.nsecsElapsed() / 1e6);
                    ids.push_back(s.id);
                }
            }
            db.runnerEnded(request.runner);
            std::lock_guard<std::mutex> guard(lock);
            claimMs.insert(claimMs.end(), mine.begin(), mine.end());
            releaseMs.insert(releaseMs.end(), released.begin(), released.end());
            for (qint64 id : ids)
                ++taken[id];
        });
    for (auto &t : threads)
        t.join();
    const double seconds = wall.elapsed() / 1000.0;
    const int twice = static_cast<int>(std::count_if(taken.begin(), taken.end(), [](const auto &e) { return e.second > 1; }));
    std::printf("%d runner(s), %d site(s), %d per claim: %zu claims in %.1f s (%.0f sites/s)\n", runners, sites, batch, claimMs.size(),
                seconds, taken.size() / std::max(seconds, 1e-3));
    std::printf("claim:   median %.2f ms, 95%% %.2f ms, worst %.2f ms\n", percentile(claimMs, 0.5), percentile(claimMs, 0.95),
                percentile(claimMs, 1.0));
    std::printf("release: median %.2f ms, 95%% %.2f ms, worst %.2f ms\n", percentile(releaseMs, 0.5), percentile(releaseMs, 0.95),
                percentile(releaseMs, 1.0));
    std::printf("sites taken: %zu of %d, taken twice: %d, errors: %d\n", taken.size(), sites, twice, failures.load());
    return taken.size() == static_cast<size_t>(sites) && twice == 0 && failures == 0 ? 0 : 1;
}
