// The fleet's one record: sites, runs, the host events of every run, the decoded history, and
// versioned snapshots of each panel's programming, in a database reached through Qt SQL. Every SQL
// text of the fleet lives in FleetDatabase.cpp, beside the schema and its migrations (a version
// table; migration 1 makes the first schema), and what differs between database kinds is kept in
// one dialect record there. SQLite is the embedded default: one file, mode 0600 (it holds the
// passcodes and link keys).
#pragma once

#include "Site.h"

#include <QByteArray>
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

struct RunRecord
{
    qint64 id = 0;
    qint64 siteId = 0;
    QString account;
    QString batch;   // the `run` invocation it belongs to
    QString jobs;
    QDateTime started;
    QDateTime ended;
    QString result;  // running, success, failed, refused, aborted
    std::optional<int> exitStatus;
    std::optional<qint64> errorNumber;
    QString errorText;
    int attempt = 1;
    QString runner;  // host name and process id of the runner that ran it
};

struct EventRow
{
    QString time;
    int code = 0;
    QString tag;
    QString data; // the notification's value as JSON text
};

struct HistoryRow
{
    QString fingerprint; // unique per site: the same event read twice is stored once
    bool valid = false;
    QString event;       // main slot, hex
    QString modifier;    // modifier slot, hex, or empty
    std::optional<int> year, month, day, hour, minute;
    QString readAt;
    qint64 runId = 0;
};

struct SnapshotInfo
{
    int version = 0;
    QDateTime taken;
    QString sha256;
    qint64 size = 0;
    qint64 runId = 0;
};

struct SiteStatus
{
    Site site;
    std::optional<RunRecord> lastRun;
    std::optional<QDateTime> lastSuccess;
    QString lastError; // the text of the newest run that did not succeed
    int snapshots = 0;
    int historyRows = 0;
};

// A run as the fleet report reads it: only what the page shows, kept small because a report may
// read every run of thousands of sites.
struct ReportRun
{
    qint64 id = 0;
    qint64 siteId = 0;
    qint64 startedMs = 0; // ms since the epoch, UTC
    QString result;
    QString errorText;
    int attempt = 1;
};

// What finishing a run stored.
struct FinishResult
{
    int historyAdded = 0;
    int historyKnown = 0;              // rows already stored from an earlier read
    std::optional<int> snapshotVersion; // a new snapshot was stored
    bool snapshotUnchanged = false;     // a receive completed and the programming was the same
    bool alreadyStored = false;         // the run's result was in the database before (nothing changed)
};

// What a runner asks for when it claims due sites.
struct ClaimRequest
{
    QString runner;
    int count = 4;           // at most this many sites
    qint64 leaseMs = 120000; // held this long unless renewed
    QStringList patterns;    // wildcard patterns on account or name (all when none)
    QDateTime succeededSince; // a site with a success since then is not due
    qint64 roundStartMs = 0; // a site some runner finished after this (database clock) is not taken again
};

// A runner as the runners table and the sites' claims show it.
struct RunnerInfo
{
    QString name; // host:pid
    QDateTime started, heartbeat, ended; // ended: invalid while it runs (or when it died)
    qint64 heartbeatAgeMs = 0;
    QStringList holds;   // accounts whose lease is current
    QStringList expired; // accounts still marked as its whose lease ran out (it died or lost the database)
};

// A PostgreSQL server's address as --db gives it: postgresql://USER@HOST[:PORT]/DB, optionally with
// libpq settings as a query (?sslmode=require). It never holds a password: libpq reads that from
// PGPASSFILE, ~/.pgpass or PGPASSWORD.
struct ServerAddress
{
    QString user;
    QString host;
    int port = 5432;
    QString database;
    QStringList options; // key=value

    // The address, or nothing with the reason (a password in it is refused).
    static std::optional<ServerAddress> parse(const QString &text, QString *error);
    QString toString() const;
};

struct FleetDialect;

class FleetDatabase
{
public:
    static constexpr int SchemaVersion = 2;

    FleetDatabase();
    ~FleetDatabase();
    FleetDatabase(const FleetDatabase &) = delete;
    FleetDatabase &operator=(const FleetDatabase &) = delete;

    // ~/.local/share/quarvo-fleet/fleet.db (the user's data folder).
    static QString defaultLocation();

    // Opens (creating it, mode 0600, in a folder of mode 0700 when that is made here) and brings the
    // schema to SchemaVersion. `location` is a file path, sqlite:PATH or a PostgreSQL address
    // (postgresql://USER@HOST[:PORT]/DB). False with the reason.
    bool open(const QString &location, QString *error);
    bool isOpen() const;
    // The file's absolute path, or the server's address.
    QString location() const { return m_location; }
    // True when the database is a PostgreSQL server (shared by runners on several machines).
    bool isServer() const { return m_postgres; }
    int schemaVersion() const;

    // Adds new sites and updates known ones (by account), all or none; clears a site's attention
    // mark when it is updated (its passcode or data lock may have been put right).
    bool importSites(const std::vector<Site> &sites, int *added, int *updated, QString *error);
    // Sites whose account or name matches one of the wildcard patterns (all when none), by account.
    std::vector<Site> sites(const QStringList &patterns = {}) const;
    std::optional<Site> site(const QString &account) const;

    // A run row for an attempt that starts now (result "running").
    qint64 beginRun(const RunRecord &run, QString *error);
    // Finishes a run in one transaction: the run's result, its events, its history rows (those
    // already stored are skipped), a snapshot when `snapshot` differs from the newest one (then only
    // the newest `keep` are kept), and the site's attention mark when `needsAttention` is given (a
    // refusal sets it, a success clears it, a failure worth retrying leaves it).
    bool finishRun(const RunRecord &run, const std::vector<EventRow> &events, const std::vector<HistoryRow> &history,
                   const std::optional<QByteArray> &snapshot, int keep, std::optional<bool> needsAttention, FinishResult *result,
                   QString *error);
    // Runs left "running" by a runner that ended without finishing them become "aborted".
    int abandonRunning(const QString &runner);
    // The runners that have runs still marked "running".
    QStringList runnersWithRunning() const;

    // Runners that share the site list. registerRunner records a runner as started now and returns
    // that moment by the database's clock (0 on failure); renewLeases is its heartbeat and extends
    // the lease of every site it holds.
    qint64 registerRunner(const QString &name, QString *error);
    bool renewLeases(const QString &runner, qint64 leaseMs, QString *error);
    void runnerEnded(const QString &runner);
    // Takes up to `count` due sites for the runner, none that another runner holds.
    std::vector<Site> claimSites(const ClaimRequest &request, QString *error);
    // Gives a held site up; `finished` records that the runner is done with it for this round (a
    // site given up unfinished is due again for any runner).
    bool releaseSite(qint64 siteId, const QString &runner, bool finished, QString *error);
    // Gives up every site the runner still holds, unfinished; how many.
    int releaseClaims(const QString &runner);
    // Sites with a current lease of another runner (-1 when the database cannot say).
    int heldByOthers(const QString &runner, const QStringList &patterns);
    std::vector<RunnerInfo> runners();
    qint64 databaseNowMs();

    std::vector<SiteStatus> status(const QStringList &patterns = {}) const;
    std::vector<RunRecord> runs(qint64 siteId, int limit) const;
    std::vector<HistoryRow> history(qint64 siteId, int limit) const;
    std::vector<EventRow> runEvents(qint64 runId) const;
    std::vector<SnapshotInfo> snapshots(qint64 siteId) const;
    // A snapshot's bytes (a panel data file); version 0 is the newest.
    std::optional<QByteArray> snapshotData(qint64 siteId, int version, int *actualVersion = nullptr) const;

    // For the fleet report. The runs of the chosen sites started at or after `since` (all when
    // invalid), by site and then oldest first.
    std::vector<ReportRun> reportRuns(const QStringList &patterns, const QDateTime &since) const;
    // How many history rows each run stored (runs started at or after `since`).
    std::vector<std::pair<qint64, int>> historyCountsByRun(const QDateTime &since) const;
    // The newest `perSite` history rows of every site (oldest first within a site), with the site's id.
    std::vector<std::pair<qint64, HistoryRow>> recentHistory(int perSite) const;
    // Every stored snapshot, by site and then version, with its bytes: `visit` sees one at a time, so
    // memory holds one site's versions at most when the caller keeps no more.
    void forEachSnapshot(const std::function<void(qint64 siteId, const SnapshotInfo &info, const QByteArray &data)> &visit) const;

    QString lastError() const { return m_lastError; }

    // A server connection that broke (the server restarted, the network went away) is opened
    // again; true when the database answers. A file database always answers.
    bool reconnect(QString *error);

private:
    bool openServer(const QString &location, QString *error);
    bool migrate(QString *error);
    const FleetDialect &dialect() const;
    bool exec(const QString &sql, QString *error);

    QSqlDatabase m_db;
    QString m_connection;
    QString m_location;
    QString m_lastError;
    bool m_postgres = false;
};

// Results a runner could not store because the database was out of reach, kept in a local SQLite
// file (mode 0600: the panel data in it is the site's programming) until they are handed over.
// Each result goes to the database once: a result that arrived before is passed over.
class FleetSpool
{
public:
    FleetSpool();
    ~FleetSpool();
    FleetSpool(const FleetSpool &) = delete;
    FleetSpool &operator=(const FleetSpool &) = delete;

    bool open(const QString &path, QString *error);
    QString path() const { return m_path; }
    bool add(const RunRecord &run, const std::vector<EventRow> &events, const std::vector<HistoryRow> &history,
             const std::optional<QByteArray> &snapshot, int keep, std::optional<bool> needsAttention, QString *error);
    int count() const;
    // Stores the kept results in `db`, oldest first, each removed once stored; how many were
    // handed over, or -1 when one could not be (the rest stay).
    int handOver(FleetDatabase &db, QString *error);

private:
    QSqlDatabase m_db;
    QString m_connection;
    QString m_path;
};
