// bench_Fleet: quarvo-fleet against simulated panels at the standard pace (or --scale), with the
// runner as its own process as a station runs it. (a) nightly jobs (clock, current events with the
// pointer, a receive that finds nothing changed: every site starts with a snapshot equal to its
// panel) on --nightly sites; (b) full receives on --full sites. For each: sessions per hour, CPU
// seconds and private memory (PSS) per session, the runner's own CPU, and the parallelism.
#include "BenchSupport.h"

#include "FleetDatabase.h"
#include "PanelDataStore.h"
#include "PanelSimulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: bench_Fleet [--nightly N] [--full M] [--parallel P] [--scale S]\n"
    "  --nightly N   sites for the nightly jobs (default 500; 0 skips)\n"
    "  --full M      sites for full receives (default 100; 0 skips)\n"
    "  --parallel P  sessions at once (default: quarvo-fleet's own choice)\n"
    "  --scale S     protocol time factor (default 1, the standard pace)\n";

// Sum of the PSS (kB) of the processes whose parent is `parent`, and how many there are.
std::pair<long, int> childrenPss(qint64 parent)
{
    long pss = 0;
    int count = 0;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() != parent)
            continue;
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (!rollup.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : rollup.readAll().split('\n'))
            if (line.startsWith("Pss:")) {
                pss += line.mid(4).trimmed().split(' ').value(0).toLong();
                ++count;
            }
    }
    return {pss, count};
}

struct Measure
{
    bool ok = false;
    int sites = 0, succeeded = 0, parallel = 0;
    double seconds = 0, runnerCpu = 0, sessionsCpu = 0, pssKb = 0;
    double meanSession = 0; // seconds from start to end of a site's session
};

Measure runFleet(const QString &db, const QString &jobs, int parallel)
{
    Measure m;
    QProcess fleet;
    QStringList args{QStringLiteral("run"), QStringLiteral("--db"), db, QStringLiteral("--jobs"), jobs, QStringLiteral("--attempts"),
                     QStringLiteral("1")};
    if (parallel > 0)
        args << QStringLiteral("--parallel") << QString::number(parallel);
    fleet.start(QStringLiteral(QUARVO_FLEET_PROGRAM), args);
    if (!fleet.waitForStarted(10000))
        return m;
    double pssSum = 0;
    long samples = 0;
    bench::waitUntil(
        [&] {
            const auto [pss, count] = childrenPss(fleet.processId());
            if (count > 0) {
                pssSum += static_cast<double>(pss) / count;
                ++samples;
            }
            return fleet.state() == QProcess::NotRunning || fleet.waitForFinished(1000);
        },
        24 * 3600 * 1000);
    const QString out = QString::fromLocal8Bit(fleet.readAllStandardOutput());
    static const QRegularExpression summary(
        QStringLiteral("(\\d+) of (\\d+) site\\(s\\) succeeded in ([\\d.]+) s, (\\d+) at once; CPU: runner ([\\d.]+) s, sessions ([\\d.]+) s"));
    const QRegularExpressionMatch s = summary.match(out);
    if (!s.hasMatch()) {
        std::fprintf(stderr, "bench_Fleet: no summary from quarvo-fleet:\n%s%s", qPrintable(out),
                     qPrintable(QString::fromLocal8Bit(fleet.readAllStandardError())));
        return m;
    }
    m.ok = true;
    m.succeeded = s.captured(1).toInt();
    m.sites = s.captured(2).toInt();
    m.seconds = s.captured(3).toDouble();
    m.parallel = s.captured(4).toInt();
    m.runnerCpu = s.captured(5).toDouble();
    m.sessionsCpu = s.captured(6).toDouble();
    m.pssKb = samples ? pssSum / samples : 0;
    // The summary table: ACCOUNT NAME RESULT ATTEMPTS TIME DETAILS.
    static const QRegularExpression row(QStringLiteral("^\\S+\\s+\\S+\\s+success\\s+\\d+\\s+([\\d.]+) s"),
                                        QRegularExpression::MultilineOption);
    double total = 0;
    int rows = 0;
    for (auto it = row.globalMatch(out); it.hasNext();) {
        total += it.next().captured(1).toDouble();
        ++rows;
    }
    m.meanSession = rows ? total / rows : 0;
    return m;
}

void report(const char *title, const Measure &m, double aimPerHour)
{
    const double perHour = m.seconds > 0 ? m.sites / m.seconds * 3600 : 0;
    // With more sites than one wave, `parallel` sessions of the mean length run back to back.
    const double steady = m.meanSession > 0 ? m.parallel * 3600 / m.meanSession : 0;
    std::printf("%s\n  sites %d, succeeded %d, parallel %d, %.1f s, mean session %.1f s\n"
                "  sessions per hour %.0f over this run; %.0f at steady state (parallel / mean session) (aim %.0f: %s)\n"
                "  CPU per session %.3f s, PSS per session %.1f MB\n  runner CPU %.2f s = %.1f %% of the sessions' (aim < 5 %%: %s)\n",
                title, m.sites, m.succeeded, m.parallel, m.seconds, m.meanSession, perHour, steady, aimPerHour,
                std::max(perHour, steady) >= aimPerHour ? "met" : "NOT met",
                m.sites ? m.sessionsCpu / m.sites : 0, m.pssKb / 1024, m.runnerCpu,
                m.sessionsCpu > 0 ? 100 * m.runnerCpu / m.sessionsCpu : 0, m.runnerCpu < 0.05 * m.sessionsCpu ? "met" : "NOT met");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (bench::helpAsked(argc, argv, kUsage))
        return 0;
    int nightly = 500, full = 100, parallel = 0;
    double scale = 1;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        const QString v = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        bool ok = false;
        if (a == QLatin1String("--nightly"))
            nightly = v.toInt(&ok);
        else if (a == QLatin1String("--full"))
            full = v.toInt(&ok);
        else if (a == QLatin1String("--parallel"))
            parallel = v.toInt(&ok);
        else if (a == QLatin1String("--scale"))
            ok = (scale = v.toDouble(&ok)) > 0;
        if (!ok || nightly < 0 || full < 0 || parallel < 0) {
            std::fprintf(stderr, "bench_Fleet: bad argument %s %s\n%s", argv[i], qPrintable(v), kUsage);
            return 2;
        }
        ++i;
    }
    qputenv("QUARVO_TIME_SCALE", QByteArray::number(scale));
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    if (!bench::usePrivateFolders(folder))
        return 1;
    qputenv("TMPDIR", QFile::encodeName(folder.path()));
    // The sessions' private folders go to a memory file system, as under a user's runtime folder.
    std::unique_ptr<QTemporaryDir> runtime;
    if (QFileInfo(QStringLiteral("/dev/shm")).isDir()) {
        runtime = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/bench-fleet-XXXXXX"));
        if (runtime->isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    }
    qputenv("QUARVO_FLEET_HOST", QUARVO_HOST_PROGRAM);

    const auto prepare = [&](const QString &name, int count, bool withSnapshots,
                             std::vector<std::unique_ptr<panelsim::PanelSimulator>> &panels) -> QString {
        const QString db = folder.filePath(name + QStringLiteral(".db"));
        FleetDatabase fleet;
        QString why;
        if (!fleet.open(db, &why))
            return std::fprintf(stderr, "bench_Fleet: %s\n", qPrintable(why)), QString();
        std::vector<Site> sites;
        for (int i = 0; i < count; ++i) {
            panelsim::PanelConfig config;
            config.mode = panelsim::LinkMode::Network;
            config.seed = static_cast<quint32>(i + 1);
            if (i % 4 == 0)
                config.linkKey = QStringLiteral("0123456789abcdef0123456789abcdef");
            auto panel = std::make_unique<panelsim::PanelSimulator>(config);
            if (!panel->start(&why))
                return std::fprintf(stderr, "bench_Fleet: panel %d: %s\n", i, qPrintable(why)), QString();
            Site s;
            s.account = QStringLiteral("%1%2").arg(name).arg(i);
            s.address = QStringLiteral("127.0.0.1");
            s.port = panel->udpPort();
            s.passcode = QStringLiteral("123456");
            s.linkKey = config.linkKey;
            s.dataLocks = QJsonArray{QJsonObject{{QStringLiteral("Value"), 0x1234}, {QStringLiteral("Key"), QStringLiteral("PRIMARY")}}};
            sites.push_back(s);
            panels.push_back(std::move(panel));
        }
        int added = 0, updated = 0;
        if (!fleet.importSites(sites, &added, &updated, &why))
            return std::fprintf(stderr, "bench_Fleet: %s\n", qPrintable(why)), QString();
        if (withSnapshots) {
            // The station received every panel before: its snapshot equals the panel's programming.
            for (int i = 0; i < count; ++i) {
                const panelsim::PanelState state = panels[static_cast<size_t>(i)]->state();
                PanelDataStore data(state.panelType);
                for (int item = 0; item < PanelDataStore::ItemCount; ++item)
                    data.setBytes(item, 0, state.itemBytes(item), &why);
                RunRecord run;
                run.siteId = fleet.site(sites[static_cast<size_t>(i)].account)->id;
                run.batch = run.jobs = run.runner = QStringLiteral("bench");
                run.started = run.ended = QDateTime::currentDateTimeUtc();
                run.result = QStringLiteral("success");
                run.id = fleet.beginRun(run, &why);
                FinishResult stored;
                fleet.finishRun(run, {}, {}, data.toBytes(), 10, false, &stored, &why);
            }
        }
        return db;
    };

    int status = 0;
    if (nightly > 0) {
        std::vector<std::unique_ptr<panelsim::PanelSimulator>> panels;
        const QString db = prepare(QStringLiteral("n"), nightly, true, panels);
        if (db.isEmpty())
            return 1;
        const Measure m = runFleet(db, QStringLiteral("clock,history-current,set-pointer,receive"), parallel);
        if (!m.ok)
            return 1;
        report("(a) nightly jobs (clock, current events with the pointer, receive finding nothing changed)", m, 20000);
        status |= m.succeeded != m.sites;
        for (auto &p : panels)
            p->stop();
    }
    if (full > 0) {
        std::vector<std::unique_ptr<panelsim::PanelSimulator>> panels;
        const QString db = prepare(QStringLiteral("f"), full, false, panels);
        if (db.isEmpty())
            return 1;
        const Measure m = runFleet(db, QStringLiteral("receive"), parallel);
        if (!m.ok)
            return 1;
        report("(b) full receives", m, 3000);
        status |= m.succeeded != m.sites;
        for (auto &p : panels)
            p->stop();
    }
    return status;
}
