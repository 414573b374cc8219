#include "FleetRunner.h"

#include "HostSession.h"
#include "PanelTimeZone.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

struct FleetRunner::Child
{
    size_t index = 0;
    QString jobs;
    std::int32_t mask = 0;
    std::unique_ptr<QTemporaryDir> folder;
    QProcess process;
    RunRecord run;
    QByteArray stderrTail;
    bool stoppedByRunner = false;
    bool overTime = false;
    QTimer deadline;
    QTimer killTimer;

    QString path(const char *name) const { return folder->filePath(QLatin1String(name)); }
};

namespace {

constexpr qint64 kMaxBackoffMs = 3600 * 1000;
constexpr int kStderrKeep = 16 * 1024;

// Writes `bytes` to a new file readable by the owner only.
bool writePrivate(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(bytes);
    return file.commit();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// quarvo-host's last line that says how the session ended (notes and warnings are not it).
QString finalLineOf(const QByteArray &stderrText)
{
    const QList<QByteArray> lines = stderrText.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = QString::fromLocal8Bit(*it).trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1String("quarvo-host: ")))
            line = line.mid(13);
        if (line.startsWith(QLatin1String("note:")) || line.startsWith(QLatin1String("warning:")))
            continue;
        return line;
    }
    return QString();
}

} // namespace

int defaultParallel()
{
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    long byMemory = 128;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : meminfo.readAll().split('\n'))
            if (line.startsWith("MemAvailable:")) {
                const long kb = line.mid(13).trimmed().split(' ').value(0).toLong();
                if (kb > 0)
                    byMemory = std::max(1L, kb / (24 * 1024));
            }
    }
    return static_cast<int>(std::clamp(std::min(64 * cores, byMemory), 1L, 256L));
}

FleetRunner::FleetRunner(FleetDatabase &db, RunnerOptions options, QObject *parent)
    : QObject(parent), m_db(db), m_options(std::move(options))
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &FleetRunner::pump);
    m_claimTimer.setSingleShot(true);
    connect(&m_claimTimer, &QTimer::timeout, this, &FleetRunner::pump);
    connect(&m_leaseTimer, &QTimer::timeout, this, &FleetRunner::renew);
    m_clock.start();
}

FleetRunner::~FleetRunner()
{
    // A runner dropped with children still running ends them the hard way; stop() is the orderly way.
    for (const auto &child : m_children) {
        child->process.disconnect();
        child->process.kill();
        child->process.waitForFinished(5000);
    }
}

int FleetRunner::failedCount() const
{
    return static_cast<int>(std::count_if(m_reports.begin(), m_reports.end(), [](const SiteReport &r) {
        return !r.result.isEmpty() && r.result != QLatin1String("success");
    }));
}

void FleetRunner::addSite(const Site &site)
{
    SiteReport report;
    report.site = site;
    report.jobs = !m_options.jobs.isEmpty() ? m_options.jobs : !site.jobs.isEmpty() ? site.jobs : RunnerOptions::defaultJobs();
    m_ready.push_back(m_reports.size());
    m_reports.push_back(report);
    m_attempt.push_back(0);
    m_firstStart.push_back(-1);
}

void FleetRunner::start(const std::vector<Site> &sites)
{
    m_started = true;
    for (const Site &site : sites)
        addSite(site);
    QString why;
    // Every run shows in `runners`; its heartbeat is the lease renewal.
    m_roundStartMs = m_db.registerRunner(m_options.runnerName, &why);
    if (m_roundStartMs == 0)
        say(QStringLiteral("the database did not record this runner: %1").arg(why));
    if (m_options.claim) {
        m_claimDone = m_roundStartMs == 0;
        if (m_claimDone)
            say(QStringLiteral("no sites are claimed without the runner's record"));
    }
    if (m_db.isServer() && !m_options.spoolPath.isEmpty()) {
        m_spool = std::make_unique<FleetSpool>();
        if (!m_spool->open(m_options.spoolPath, &why)) {
            say(QStringLiteral("no local spool (results are lost while the database is out of reach): %1").arg(why));
            m_spool.reset();
        } else {
            handOverSpool(); // what an earlier run could not deliver
        }
    }
    m_leaseTimer.start(static_cast<int>(std::clamp<qint64>(m_options.leaseMs / 3, 100, 5000)));
    // Started from the event loop, so that a caller can connect to finished() first.
    QTimer::singleShot(0, this, &FleetRunner::pump);
}

bool FleetRunner::spoolPending() const
{
    return m_spool && m_spool->count() > 0;
}

bool FleetRunner::handOverSpool()
{
    if (!spoolPending())
        return true;
    QString why;
    if (!m_db.reconnect(&why))
        return false;
    const int handed = m_spool->handOver(m_db, &why);
    if (handed > 0)
        say(QStringLiteral("%1 result(s) kept while the database was out of reach are stored now").arg(handed));
    if (handed < 0) {
        say(QStringLiteral("the spool could not be handed over yet: %1").arg(why));
        return false;
    }
    return true;
}

void FleetRunner::renew()
{
    QString why;
    if (!m_db.renewLeases(m_options.runnerName, m_options.leaseMs, &why)) {
        if (!m_outage.isValid()) {
            m_outage.start();
            say(QStringLiteral("the database is out of reach (%1); sessions go on, their results are kept locally").arg(why.trimmed()));
        }
        if (!m_db.reconnect(&why) || !m_db.renewLeases(m_options.runnerName, m_options.leaseMs, &why))
            return;
    }
    if (m_outage.isValid()) {
        say(QStringLiteral("the database is back after %1 s").arg(m_outage.elapsed() / 1000));
        m_outage.invalidate();
    }
    handOverSpool();
    // Claims given up while the database was away, before the next renewal keeps them.
    for (auto it = m_toRelease.begin(); it != m_toRelease.end();)
        it = m_db.releaseSite(it->first, m_options.runnerName, it->second, &why) ? m_toRelease.erase(it) : it + 1;
    checkFinished();
}

void FleetRunner::claimMore()
{
    if (!m_options.claim || m_claimDone || m_stopping)
        return;
    const int room = std::max(1, m_options.parallel) - static_cast<int>(m_children.size() + m_ready.size());
    if (room <= 0)
        return;
    ClaimRequest request;
    request.runner = m_options.runnerName;
    request.count = std::min(room, std::max(1, m_options.claimBatch));
    request.leaseMs = m_options.leaseMs;
    request.patterns = m_options.patterns;
    request.succeededSince = m_options.succeededSince;
    request.roundStartMs = m_roundStartMs;
    QString why;
    const std::vector<Site> taken = m_db.claimSites(request, &why);
    // Looked at again soon: sites held by others come free when they finish or their lease runs out.
    const int poll = static_cast<int>(std::clamp<qint64>(m_options.leaseMs / 4, 200, 5000));
    if (!why.isEmpty()) {
        // Tried again once the database answers; the lease renewal reconnects.
        if (!m_outage.isValid())
            say(QStringLiteral("no sites claimed: %1").arg(why.trimmed()));
        m_claimTimer.start(poll);
        return;
    }
    for (const Site &site : taken)
        addSite(site);
    if (!taken.empty())
        return;
    if (!m_children.empty() || !m_ready.empty() || !m_waiting.empty()) {
        // Sites of ours are still going: look again when one ends, or after a while for sites
        // another runner gave up.
        m_claimTimer.start(poll);
        return;
    }
    const int others = m_db.heldByOthers(m_options.runnerName, m_options.patterns);
    if (others != 0)
        m_claimTimer.start(poll);
    else
        m_claimDone = true;
}

void FleetRunner::stop(int graceMs)
{
    if (m_stopping) {
        // Asked again: the grace shrinks to what is asked now.
        for (const auto &child : m_children)
            if (!child->killTimer.isActive() || child->killTimer.remainingTime() > graceMs)
                child->killTimer.start(graceMs);
        return;
    }
    m_stopping = true;
    m_retryTimer.stop();
    // Sites that have not started, or wait for another attempt, keep what they have: nothing, or
    // the failed attempts already recorded.
    for (size_t index : m_ready)
        m_reports[index].result = m_attempt[index] == 0 ? QStringLiteral("not run") : QStringLiteral("failed");
    m_ready.clear();
    for (const auto &[due, index] : m_waiting) {
        Q_UNUSED(due);
        if (m_reports[index].result.isEmpty())
            m_reports[index].result = QStringLiteral("failed");
    }
    m_finishedSites = std::count_if(m_reports.begin(), m_reports.end(), [](const SiteReport &r) { return !r.result.isEmpty(); });
    m_waiting.clear();
    for (const auto &child : m_children) {
        child->stoppedByRunner = true;
        child->process.terminate();
        child->killTimer.start(graceMs);
    }
    checkFinished();
}

void FleetRunner::say(const QString &line)
{
    if (onLine)
        onLine(line);
}

void FleetRunner::pump()
{
    if (m_stopping) {
        checkFinished();
        emit progressed();
        return;
    }
    const qint64 now = m_clock.elapsed();
    // Retries that are due go first: their sites have waited longest.
    std::sort(m_waiting.begin(), m_waiting.end());
    while (!m_waiting.empty() && m_waiting.front().first <= now) {
        m_ready.push_front(m_waiting.front().second);
        m_waiting.erase(m_waiting.begin());
    }
    claimMore();
    while (!m_ready.empty() && static_cast<int>(m_children.size()) < std::max(1, m_options.parallel)) {
        const size_t index = m_ready.front();
        m_ready.pop_front();
        launch(index);
    }
    scheduleTimer();
    checkFinished();
    emit progressed();
}

void FleetRunner::scheduleTimer()
{
    if (m_waiting.empty() || m_stopping) {
        m_retryTimer.stop();
        return;
    }
    const qint64 next = std::min_element(m_waiting.begin(), m_waiting.end())->first;
    m_retryTimer.start(static_cast<int>(std::clamp<qint64>(next - m_clock.elapsed(), 0, kMaxBackoffMs)));
}

void FleetRunner::checkFinished()
{
    if (!m_started || m_finishedSignalled || !m_children.empty() || !m_ready.empty() || !m_waiting.empty()
        || (!m_claimDone && !m_stopping))
        return;
    if (spoolPending() && !m_stopping) {
        // Results kept while the database was away go there before the runner ends, as long as
        // it comes back within the wait; the lease timer tries and calls here again.
        if (!m_endWait.isValid()) {
            m_endWait.start();
            say(QStringLiteral("waiting for the database to store %1 kept result(s)").arg(m_spool->count()));
        }
        if (m_endWait.elapsed() < m_options.spoolWaitMs)
            return;
        say(QStringLiteral("%1 result(s) stay in %2; the next run hands them over").arg(m_spool->count()).arg(m_spool->path()));
    }
    m_finishedSignalled = true;
    m_leaseTimer.stop();
    m_claimTimer.stop();
    if (m_options.claim)
        m_db.releaseClaims(m_options.runnerName);
    m_db.runnerEnded(m_options.runnerName);
    QTimer::singleShot(0, this, &FleetRunner::finished);
}

void FleetRunner::refuseWithoutChild(size_t index, const QString &jobs, const QString &why)
{
    SiteReport &report = m_reports[index];
    RunRecord run;
    run.siteId = report.site.id;
    run.account = report.site.account;
    run.batch = m_options.batch;
    run.jobs = jobs;
    run.started = run.ended = QDateTime::currentDateTimeUtc();
    run.attempt = ++m_attempt[index];
    run.runner = m_options.runnerName;
    run.result = QStringLiteral("refused");
    run.errorText = why;
    QString error;
    FinishResult stored;
    run.id = m_db.beginRun(run, &error);
    if (run.id == 0 || !m_db.finishRun(run, {}, {}, std::nullopt, m_options.keepSnapshots, true, &stored, &error))
        say(QStringLiteral("%1: the database did not take the run: %2").arg(report.site.account, error));
    outcome::Outcome o;
    o.kind = outcome::Kind::Refused;
    o.result = run.result;
    o.errorText = why;
    settle(index, o, stored);
}

void FleetRunner::launch(size_t index)
{
    SiteReport &report = m_reports[index];
    const Site &site = report.site;
    if (m_firstStart[index] < 0)
        m_firstStart[index] = m_clock.elapsed();
    QString why;
    const std::optional<std::int32_t> mask = jobMaskFor(report.jobs, &why);
    if (!mask)
        return refuseWithoutChild(index, report.jobs, QStringLiteral("jobs \"%1\": %2").arg(report.jobs, why));
    // A zone the panel clock cannot follow is refused here, without a session.
    if ((*mask & 1) && !site.timeZone.isEmpty()) {
        const std::optional<QDateTime> moment = paneltime::offsetMoment(&why);
        if (!moment || !paneltime::hoursFor(site.timeZone, *moment, &why))
            return refuseWithoutChild(index, report.jobs, why);
    }

    auto child = std::make_unique<Child>();
    child->index = index;
    child->jobs = report.jobs;
    child->mask = *mask;
    const QString work = m_options.workFolder.isEmpty() ? QDir::tempPath() : m_options.workFolder;
    child->folder = std::make_unique<QTemporaryDir>(QDir(work).filePath(QStringLiteral("quarvo-fleet-XXXXXX")));
    if (!child->folder->isValid())
        return refuseWithoutChild(index, report.jobs, QStringLiteral("no private temporary folder: %1").arg(child->folder->errorString()));
    ::chmod(QFile::encodeName(child->folder->path()).constData(), 0700);

    // The panel data the session starts from: a send restores the chosen snapshot; otherwise the
    // newest one, so a receive fetches only the items that changed since.
    const bool sends = (*mask & 32) && !(*mask & 16);
    std::optional<QByteArray> data;
    int version = 0;
    if (sends && m_options.fromSnapshot >= 0) {
        data = m_db.snapshotData(site.id, m_options.fromSnapshot, &version);
        if (!data)
            return refuseWithoutChild(index, report.jobs, m_options.fromSnapshot == 0
                                                              ? QStringLiteral("no snapshot to send from")
                                                              : QStringLiteral("no snapshot version %1 to send from").arg(m_options.fromSnapshot));
    } else if (sends) {
        return refuseWithoutChild(index, report.jobs,
                                  QStringLiteral("a send restores a snapshot: name it with --from-snapshot VERSION (0: the newest)"));
    } else {
        data = m_db.snapshotData(site.id, 0, &version);
    }
    const QByteArray settings = QJsonDocument(site.hostSettings(m_options.responseTimeoutSeconds)).toJson(QJsonDocument::Compact);
    if (!writePrivate(child->path("settings.json"), settings) || (data && !writePrivate(child->path("panel.qpd"), *data)))
        return refuseWithoutChild(index, report.jobs, QStringLiteral("cannot write the session's files in %1").arg(child->folder->path()));

    RunRecord &run = child->run;
    run.siteId = site.id;
    run.account = site.account;
    run.batch = m_options.batch;
    run.jobs = report.jobs;
    run.started = QDateTime::currentDateTimeUtc();
    run.attempt = ++m_attempt[index];
    run.runner = m_options.runnerName;
    run.id = m_db.beginRun(run, &why);
    if (run.id == 0 && m_options.claim && m_db.isServer() && (!m_outage.isValid() || m_outage.elapsed() < m_options.spoolWaitMs)) {
        // The database is out of reach: the site stays this runner's (its lease is renewed once
        // the database is back) and starts when the run can be recorded.
        if (!m_outage.isValid()) {
            m_outage.start();
            say(QStringLiteral("the database is out of reach (%1); sessions go on, their results are kept locally").arg(why.trimmed()));
        }
        --m_attempt[index];
        m_waiting.emplace_back(m_clock.elapsed() + 1000, index);
        scheduleTimer();
        return;
    }
    if (run.id == 0) {
        say(QStringLiteral("%1: the database did not take the run: %2").arg(site.account, why));
        --m_attempt[index];
        report.result = QStringLiteral("failed");
        report.error = QStringLiteral("database: ") + why;
        ++m_finishedSites;
        return;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Each child keeps its component settings store and transfer file to itself.
    env.insert(QStringLiteral("QUARVO_SETTINGS_DIR"), child->path("store"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), child->path("data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), child->path("config"));
    if (!m_options.logFolder.isEmpty()) {
        const QString logs = QDir(m_options.logFolder).filePath(site.account);
        QDir().mkpath(logs);
        ::chmod(QFile::encodeName(logs).constData(), 0700);
        env.insert(QStringLiteral("QUARVO_LOG_DIR"), logs);
    } else {
        env.insert(QStringLiteral("QUARVO_LOG_DIR"), child->path("logs"));
    }
    if (env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child->process.setProcessEnvironment(env);
    // A runner that dies (SIGKILL) takes its sessions with it: each child gets SIGTERM, says goodbye
    // to its panel and ends, so a site whose lease then runs out is never in two sessions at once.
    child->process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    child->process.setStandardOutputFile(QProcess::nullDevice());
    child->process.setStandardInputFile(QProcess::nullDevice());
    Child *raw = child.get();
    connect(&raw->process, &QProcess::readyReadStandardError, this, [raw] {
        raw->stderrTail += raw->process.readAllStandardError();
        if (raw->stderrTail.size() > kStderrKeep)
            raw->stderrTail = raw->stderrTail.right(kStderrKeep);
    });
    connect(&raw->process, &QProcess::finished, this,
            [this, raw](int exitCode, QProcess::ExitStatus status) { childEnded(raw, exitCode, status); });
    connect(&raw->process, &QProcess::errorOccurred, this, [this, raw](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            childEnded(raw, -1, QProcess::CrashExit);
    });
    // The session has its own limit (--timeout); past that and a minute more the child is stopped.
    raw->deadline.setSingleShot(true);
    connect(&raw->deadline, &QTimer::timeout, this, [raw] {
        raw->overTime = raw->stoppedByRunner = true;
        raw->process.terminate();
        raw->killTimer.start(30000);
    });
    raw->killTimer.setSingleShot(true);
    connect(&raw->killTimer, &QTimer::timeout, this, [raw] { raw->process.kill(); });
    if (m_options.sessionTimeoutSeconds > 0)
        raw->deadline.start((m_options.sessionTimeoutSeconds + 60) * 1000);

    QStringList arguments{QStringLiteral("unattended"), QStringLiteral("--settings"), raw->path("settings.json"),
                          QStringLiteral("--data"), raw->path("panel.qpd"), QStringLiteral("--events"), raw->path("events.jsonl"),
                          QStringLiteral("--history"), raw->path("history.jsonl"), QStringLiteral("--jobs"), report.jobs,
                          QStringLiteral("--timeout"), QString::number(m_options.sessionTimeoutSeconds)};
    m_children.push_back(std::move(child));
    raw->process.start(m_options.hostProgram, arguments);
}

void FleetRunner::childEnded(Child *child, int exitCode, QProcess::ExitStatus status)
{
    const auto it = std::find_if(m_children.begin(), m_children.end(), [child](const auto &c) { return c.get() == child; });
    if (it == m_children.end())
        return; // already handled (a start failure reports twice)
    std::unique_ptr<Child> owned = std::move(*it);
    m_children.erase(it);
    child->deadline.stop();
    child->killTimer.stop();
    child->stderrTail += child->process.readAllStandardError();
    const size_t index = child->index;
    SiteReport &report = m_reports[index];

    outcome::ChildEnd end;
    end.exitStatus = exitCode;
    end.crashed = status == QProcess::CrashExit;
    end.stoppedByRunner = child->stoppedByRunner;
    end.overTime = child->overTime;
    end.finalLine = exitCode == -1 && end.crashed && child->process.error() == QProcess::FailedToStart
                        ? QStringLiteral("%1 could not be started: %2").arg(m_options.hostProgram, child->process.errorString())
                        : finalLineOf(child->stderrTail);
    QStringList tags;
    const std::vector<EventRow> events = outcome::eventsFrom(readAll(child->path("events.jsonl")), &end.ending, &tags);
    outcome::Outcome o = outcome::classify(end);

    // The panel's local date, for the year of its time stamps.
    QDate today = QDate::currentDate();
    if (!report.site.timeZone.isEmpty())
        today = QDateTime::currentDateTimeUtc().toTimeZone(QTimeZone(report.site.timeZone.toUtf8())).date();
    const std::vector<HistoryRow> history =
        outcome::historyFrom(readAll(child->path("history.jsonl")), today, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    // A receive that completed left the panel's programming in the data file, whatever came after.
    std::optional<QByteArray> snapshot;
    if ((child->mask & 16) && tags.contains(QStringLiteral("RECV_END")) && QFile::exists(child->path("panel.qpd")))
        snapshot = readAll(child->path("panel.qpd"));

    RunRecord &run = child->run;
    run.ended = QDateTime::currentDateTimeUtc();
    run.result = o.result;
    run.exitStatus = exitCode;
    run.errorNumber = o.errorNumber;
    run.errorText = o.errorText;
    std::optional<bool> attention;
    if (o.kind == outcome::Kind::Success)
        attention = false;
    else if (o.kind == outcome::Kind::Refused)
        attention = true;
    FinishResult stored;
    QString why;
    bool storedNow = m_db.finishRun(run, events, history, snapshot, m_options.keepSnapshots, attention, &stored, &why);
    if (!storedNow && m_db.isServer()) {
        // The connection may have broken and come back (a server restart): once more on a new one.
        QString again;
        if (m_db.reconnect(&again))
            storedNow = m_db.finishRun(run, events, history, snapshot, m_options.keepSnapshots, attention, &stored, &why);
    }
    if (!storedNow && m_spool) {
        QString spoolWhy;
        if (m_spool->add(run, events, history, snapshot, m_options.keepSnapshots, attention, &spoolWhy)) {
            say(QStringLiteral("%1: the database is out of reach (%2); the result is kept in %3 until it is back")
                    .arg(report.site.account, why.trimmed(), m_spool->path()));
            storedNow = true;
        } else {
            why += QStringLiteral("; the spool did not take it either: ") + spoolWhy;
        }
    }
    if (!storedNow) {
        say(QStringLiteral("%1: the database did not take the result: %2").arg(report.site.account, why));
        o.kind = outcome::Kind::Refused;
        o.result = QStringLiteral("failed");
        o.errorText = QStringLiteral("database: ") + why;
    }
    // The process object is the sender of this call: it (and the private folder with the settings
    // file) goes once the event loop is back.
    m_ended.push_back(std::move(owned));
    QTimer::singleShot(0, this, [this] { m_ended.clear(); });
    settle(index, o, stored);
    pump();
}

void FleetRunner::settle(size_t index, const outcome::Outcome &o, const FinishResult &stored)
{
    SiteReport &report = m_reports[index];
    report.attempts = m_attempt[index];
    report.historyAdded += stored.historyAdded;
    if (stored.snapshotVersion)
        report.snapshotVersion = stored.snapshotVersion;
    report.snapshotUnchanged = report.snapshotUnchanged || stored.snapshotUnchanged;
    report.error = o.errorText;
    report.elapsedMs = m_clock.elapsed() - std::max<qint64>(0, m_firstStart[index]);
    const QString who = report.site.name.isEmpty() ? report.site.account
                                                   : QStringLiteral("%1 (%2)").arg(report.site.account, report.site.name);
    if (o.kind == outcome::Kind::Retry && !m_stopping && m_attempt[index] < m_options.attempts) {
        const qint64 pause = std::min<qint64>(kMaxBackoffMs, static_cast<qint64>(std::llround(
                                                                 m_options.backoffSeconds * 1000.0 * std::pow(2.0, m_attempt[index] - 1))));
        m_waiting.emplace_back(m_clock.elapsed() + pause, index);
        say(QStringLiteral("%1: attempt %2 failed (%3); attempt %4 of %5 in %6 s")
                .arg(who)
                .arg(m_attempt[index])
                .arg(o.errorText)
                .arg(m_attempt[index] + 1)
                .arg(m_options.attempts)
                .arg(pause / 1000.0, 0, 'f', pause < 10000 ? 1 : 0));
        scheduleTimer();
        emit progressed();
        return;
    }
    report.result = o.result;
    ++m_finishedSites;
    if (m_options.claim) {
        // Done for this round; a session cut short by a stop leaves the site due for another runner.
        QString why;
        const bool finished = o.result != QLatin1String("aborted");
        if (!m_db.releaseSite(report.site.id, m_options.runnerName, finished, &why))
            m_toRelease.emplace_back(report.site.id, finished); // given up once the database is back
    }
    QString line = QStringLiteral("%1: %2").arg(who, o.result);
    if (o.kind == outcome::Kind::Success) {
        QStringList parts;
        if (stored.historyAdded || stored.historyKnown)
            parts << QStringLiteral("%1 new history events").arg(stored.historyAdded);
        if (stored.snapshotVersion)
            parts << QStringLiteral("snapshot %1 stored").arg(*stored.snapshotVersion);
        else if (stored.snapshotUnchanged)
            parts << QStringLiteral("programming unchanged");
        if (!parts.isEmpty())
            line += QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
    } else {
        line += QStringLiteral(" after %1 attempt(s): %2").arg(m_attempt[index]).arg(o.errorText);
        if (o.kind == outcome::Kind::Refused)
            line += QStringLiteral(" [needs attention]");
    }
    say(line);
    emit progressed();
}
