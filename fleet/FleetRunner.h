// Runs the jobs of many sites: one `quarvo-host unattended` child process per session (the
// component serves one session per process), at most `parallel` at once. Each child gets its
// settings (with the site's secrets) and its panel data (the newest snapshot, or the one a send is
// to restore) in a private temporary folder (mode 0700, files 0600) that is removed when it ends.
// A failure worth another attempt is tried again after a growing pause, without holding up the
// other sites; a refusal is recorded and the site marked as needing attention. Every attempt is a
// row of the database, written when it starts and finished in one transaction when it ends.
#pragma once

#include "FleetDatabase.h"
#include "SessionOutcome.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct RunnerOptions
{
    QString hostProgram;           // quarvo-host
    QString jobs;                  // empty: each site's own jobs, else defaultJobs
    int parallel = 8;
    int attempts = 3;              // attempts per site for failures worth retrying
    double backoffSeconds = 30;    // pause before the second attempt; doubled each time, at most an hour
    int sessionTimeoutSeconds = 900; // quarvo-host --timeout
    int responseTimeoutSeconds = 0;  // the panel's answer time (0: quarvo-host's default)
    int keepSnapshots = 10;
    int fromSnapshot = -1;         // a send restores this snapshot version (0: the newest); -1: none
    QString logFolder;             // the children's session logs, one folder per account
    QString workFolder;            // where the private session folders go (empty: TMPDIR)
    QString batch;
    QString runnerName;
    // Claiming (run --due): the runner takes due sites from the shared list itself, `claimBatch` at
    // a time, each under a lease of `leaseMs` renewed every third of it while the site is held.
    bool claim = false;
    int claimBatch = 4;
    qint64 leaseMs = 120000;
    QStringList patterns;
    QDateTime succeededSince;
    // On a server database: where results go while the database is out of reach (a local SQLite
    // file), and how long the runner waits at its end to hand them over (they stay for the next
    // run after that).
    QString spoolPath;
    qint64 spoolWaitMs = 600000;

    static QString defaultJobs() { return QStringLiteral("clock,history-current,set-pointer,receive"); }
};

struct SiteReport
{
    Site site;
    QString jobs;
    QString result;          // success, failed, refused, aborted; empty while not finished
    int attempts = 0;
    qint64 elapsedMs = 0;    // from the first start to the end of the last attempt
    QString error;
    int historyAdded = 0;
    std::optional<int> snapshotVersion;
    bool snapshotUnchanged = false;
};

class FleetRunner : public QObject
{
    Q_OBJECT
public:
    FleetRunner(FleetDatabase &db, RunnerOptions options, QObject *parent = nullptr);
    ~FleetRunner() override;

    // Starts the sites; finished() is emitted once every site has its result. With `claim` set the
    // runner registers itself and claims due sites as it has room, until none is left to claim and
    // no other runner holds one that could come free; `sites` is then empty.
    void start(const std::vector<Site> &sites);
    // Ends the run: no new session starts, every running child gets SIGTERM (quarvo-host then says
    // goodbye to its panel) and, after `graceMs`, SIGKILL. Their runs are recorded as aborted
    // unless they had already finished. Called again, the grace becomes the shorter one.
    void stop(int graceMs = 30000);

    bool isFinished() const { return m_finishedSites == m_reports.size() && m_children.empty(); }
    bool stopping() const { return m_stopping; }
    const std::vector<SiteReport> &reports() const { return m_reports; }
    int runningCount() const { return static_cast<int>(m_children.size()); }
    int finishedCount() const { return static_cast<int>(m_finishedSites); }
    int failedCount() const;
    int total() const { return static_cast<int>(m_reports.size()); }

    // A line of progress for each attempt that ends (never with a secret in it).
    std::function<void(const QString &)> onLine;

signals:
    void finished();
    void progressed();

private:
    struct Child;

    void pump();
    void claimMore();
    void renew();
    bool handOverSpool();
    bool spoolPending() const;
    void addSite(const Site &site);
    void launch(size_t index);
    void childEnded(Child *child, int exitCode, QProcess::ExitStatus status);
    // Stores a run that never reached quarvo-host (the runner refused it: a zone it cannot write...).
    void refuseWithoutChild(size_t index, const QString &jobs, const QString &why);
    void settle(size_t index, const outcome::Outcome &o, const FinishResult &stored);
    void scheduleTimer();
    void checkFinished();
    void say(const QString &line);

    FleetDatabase &m_db;
    RunnerOptions m_options;
    std::vector<SiteReport> m_reports;
    std::vector<int> m_attempt;
    std::vector<qint64> m_firstStart;
    std::deque<size_t> m_ready;
    std::vector<std::pair<qint64, size_t>> m_waiting; // due time (monotonic ms), site
    std::vector<std::unique_ptr<Child>> m_children;
    std::vector<std::unique_ptr<Child>> m_ended; // deleted from the event loop, after their last signal
    size_t m_finishedSites = 0;
    bool m_stopping = false;
    bool m_started = false;
    bool m_finishedSignalled = false;
    QElapsedTimer m_clock;
    QTimer m_retryTimer;
    QTimer m_leaseTimer;  // heartbeat and lease renewal
    QTimer m_claimTimer;  // looks again for sites while other runners hold some
    qint64 m_roundStartMs = 0;
    bool m_claimDone = true;
    std::unique_ptr<FleetSpool> m_spool;
    std::vector<std::pair<qint64, bool>> m_toRelease; // sites given up while the database was away (id, finished)
    QElapsedTimer m_outage; // since the database was last found out of reach (invalid: reachable)
    QElapsedTimer m_endWait; // since the runner waits at its end for the spool to be handed over
};

// How many sessions at once when --parallel is not given. Sessions mostly wait for their panel: a
// nightly session uses about 0.06 s of CPU over 5 s, a full receive about 0.5-1.3 s over 2 minutes.
// 64 per core keeps both kinds at roughly three quarters of the cores or less (128 nightly sessions
// on two cores: 1.5 cores), and lets one wave of full receives reach 3,000 an hour. Bounded by
// memory (24 MB per child, a generous margin over the 4-6 MB of PSS measured) and by 256.
int defaultParallel();
