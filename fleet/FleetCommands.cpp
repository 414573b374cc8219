#include "FleetCommands.h"

#include "FleetDatabase.h"
#include "FleetReport.h"
#include "FleetRunner.h"
#include "HostFiles.h"
#include "HostSession.h"
#include "SignalWatch.h"
#include "SiteImport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>

#include <cstdio>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

namespace {

void complain(const QString &text)
{
    std::fprintf(stderr, "quarvo-fleet: %s\n", qPrintable(text));
    std::fflush(stderr);
}

void print(const QString &text)
{
    std::fputs(qPrintable(text), stdout);
}

// Parses a command's arguments with --help and --db; returns the exit status when the command is
// not to run.
std::optional<int> parse(QCommandLineParser &parser, const QString &command, const QString &usage, const QStringList &arguments,
                         const QList<QCommandLineOption> &options, const QString &positional = {})
{
    parser.setApplicationDescription(usage);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    parser.addOption(help);
    parser.addOption(QCommandLineOption(QStringLiteral("db"),
                                       QStringLiteral("The fleet database: an SQLite file, or a PostgreSQL server shared by "
                                                      "runners on several machines as postgresql://USER@HOST[:PORT]/DB (the "
                                                      "password from ~/.pgpass or PGPASSFILE) (default: QUARVO_FLEET_DB, else %1).")
                                           .arg(QDir::toNativeSeparators(FleetDatabase::defaultLocation())),
                                       QStringLiteral("file|url")));
    parser.addOptions(options);
    if (!positional.isEmpty())
        parser.addPositionalArgument(positional.section(QLatin1Char(' '), 0, 0), positional.section(QLatin1Char(' '), 1));
    if (!parser.parse(QStringList{QStringLiteral("quarvo-fleet")} + arguments)) {
        complain(QStringLiteral("%1: %2 (see quarvo-fleet %1 --help)").arg(command, parser.errorText()));
        return fleetexit::Usage;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        static const QRegularExpression program(QStringLiteral("^Usage: \\S+"));
        text.replace(program, QStringLiteral("Usage: quarvo-fleet ") + command);
        print(text);
        return fleetexit::Success;
    }
    return std::nullopt;
}

bool openDatabase(FleetDatabase &db, const QCommandLineParser &parser)
{
    QString location = parser.value(QStringLiteral("db"));
    if (location.isEmpty())
        location = qEnvironmentVariable("QUARVO_FLEET_DB");
    if (location.isEmpty())
        location = FleetDatabase::defaultLocation();
    QString why;
    if (!db.open(location, &why)) {
        complain(why);
        return false;
    }
    return true;
}

std::optional<int> positiveNumber(const QCommandLineParser &parser, const QString &option, int min, int max, int fallback)
{
    if (!parser.isSet(option))
        return fallback;
    bool ok = false;
    const int n = parser.value(option).toInt(&ok);
    if (!ok || n < min || n > max) {
        complain(QStringLiteral("--%1 must be a whole number from %2 to %3").arg(option).arg(min).arg(max));
        return std::nullopt;
    }
    return n;
}

QStringList patternsOf(const QString &text)
{
    QStringList out;
    for (const QString &p : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!p.trimmed().isEmpty())
            out << p.trimmed();
    return out;
}

QString localTime(const QDateTime &t)
{
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("-");
}

// A table with columns as wide as their widest cell.
QString table(const QStringList &header, const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QString &h : header)
        widths << static_cast<int>(h.size());
    for (const QStringList &row : rows)
        for (int c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], static_cast<int>(row[c].size()));
    const auto line = [&](const QStringList &cells) {
        QString out;
        for (int c = 0; c < cells.size(); ++c)
            out += c + 1 == cells.size() ? cells[c] : cells[c].leftJustified(widths[c] + 2);
        return out + QLatin1Char('\n');
    };
    QString out = line(header);
    for (const QStringList &row : rows)
        out += line(row);
    return out;
}

QString hostProgram(const QString &option)
{
    if (!option.isEmpty())
        return option;
    const QString fromEnv = qEnvironmentVariable("QUARVO_FLEET_HOST");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {here.filePath(QStringLiteral("quarvo-host")), here.filePath(QStringLiteral("../host/quarvo-host"))})
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    return QStandardPaths::findExecutable(QStringLiteral("quarvo-host"));
}

double cpuSeconds(int who)
{
    struct rusage usage {};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::optional<Site> siteNamed(FleetDatabase &db, const QString &account)
{
    std::optional<Site> site = db.site(account);
    if (!site)
        complain(QStringLiteral("no site with account \"%1\" (quarvo-fleet status lists them)").arg(account));
    return site;
}

// Parses --since: a date (its midnight, local time) or a date and time (local unless it names a zone).
std::optional<QDateTime> sinceOf(const QString &text)
{
    if (text.isEmpty())
        return QDateTime();
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return date.startOfDay();
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (moment.isValid())
        return moment;
    complain(QStringLiteral("--since %1: give a date as 2026-12-01 or a date and time as 2026-12-01T18:00").arg(text));
    return std::nullopt;
}

bool writeReport(FleetDatabase &db, const ReportOptions &options, const QString &path)
{
    ReportSummary summary;
    QString why;
    std::fprintf(stderr, "quarvo-fleet: writing the report %s\n", qPrintable(path));
    std::fflush(stderr);
    if (!fleetreport::write(db, options, path, &summary, &why)) {
        complain(QStringLiteral("report: ") + why);
        return false;
    }
    std::fprintf(stderr, "quarvo-fleet: report of %d site(s) (%d failed, %d need attention) written to %s (%lld KB)\n", summary.sites,
                 summary.failed, summary.attention, qPrintable(path), static_cast<long long>((summary.bytes + 1023) / 1024));
    return true;
}

} // namespace

int fleetImport(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("Check the file only; change nothing."));
    if (const auto done = parse(parser, QStringLiteral("import"),
                                QStringLiteral("Adds the sites of FILE to the fleet database and updates those it knows (by account).\n"
                                               "FILE is CSV with a header line or JSON lines (one object per line) with the fields\n"
                                               "account, name, address, port, passcode, link_key, data_locks, panel_type, time_zone,\n"
                                               "jobs (account, address and port are needed). data_locks: codes separated by ';', each\n"
                                               "optionally with :name (the first is the primary one); in JSON also a list. Every row\n"
                                               "is checked first: a file with a bad row imports nothing, and the row and field are\n"
                                               "named. Use - for standard input."),
                                arguments, {dryRun}, QStringLiteral("file The CSV or JSON-lines file of sites.")))
        return *done;
    if (parser.positionalArguments().size() != 1) {
        complain(QStringLiteral("import: give one file (see quarvo-fleet import --help)"));
        return fleetexit::Usage;
    }
    const QString path = parser.positionalArguments().first();
    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        complain(QStringLiteral("import: cannot read %1: %2").arg(path, file.errorString()));
        return fleetexit::Usage;
    }
    std::vector<Site> sites;
    siteimport::Problem problem;
    if (!siteimport::parse(file.readAll(), &sites, &problem)) {
        complain(QStringLiteral("import: %1, %2; nothing was imported").arg(path, problem.text()));
        return fleetexit::Usage;
    }
    if (parser.isSet(dryRun)) {
        print(QStringLiteral("%1: %2 site(s), every row sound\n").arg(path).arg(sites.size()));
        return fleetexit::Success;
    }
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    int added = 0, updated = 0;
    QString why;
    if (!db.importSites(sites, &added, &updated, &why)) {
        complain(QStringLiteral("import: the database did not take the sites (%1); nothing was imported").arg(why));
        return fleetexit::Database;
    }
    print(QStringLiteral("%1 site(s) added, %2 updated (%3)\n").arg(added).arg(updated).arg(db.location()));
    return fleetexit::Success;
}

int fleetRun(const QStringList &arguments)
{
    QCommandLineParser parser;
    const int machine = defaultParallel();
    const QList<QCommandLineOption> options{
        {QStringLiteral("jobs"), QStringLiteral("The jobs for every chosen site (default: each site's own jobs, else %1).").arg(RunnerOptions::defaultJobs()),
         QStringLiteral("list")},
        {QStringLiteral("sites"), QStringLiteral("Only sites whose account or name matches one of these wildcard patterns (comma-separated)."),
         QStringLiteral("patterns")},
        {QStringLiteral("parallel"),
         QStringLiteral("Sessions at once (default on this machine: %1; 64 per processor core, as far as memory allows).").arg(machine),
         QStringLiteral("n")},
        {QStringLiteral("due"),
         QStringLiteral("Only sites without a success in the last --due-hours and not marked as needing attention. The runner "
                        "claims them from the database a few at a time under a lease, so runners on several machines can share "
                        "one database (postgresql://...) without running a site twice.")},
        {QStringLiteral("lease"),
         QStringLiteral("With --due: seconds a claimed site stays this runner's without a renewal (default 120; renewed every "
                        "third of it, at least every 5 s). A site of a runner that died is due again after this."),
         QStringLiteral("seconds")},
        {QStringLiteral("claim-batch"), QStringLiteral("With --due: sites claimed at a time (default 4)."), QStringLiteral("n")},
        {QStringLiteral("spool"),
         QStringLiteral("On a PostgreSQL database: the local file that keeps results while the database is out of reach, "
                        "until they are handed over (default: spool-<address hash>.db beside the default database)."),
         QStringLiteral("file")},
        {QStringLiteral("due-hours"), QStringLiteral("With --due: hours after which a site is due again (default 20)."), QStringLiteral("hours")},
        {QStringLiteral("attempts"), QStringLiteral("Attempts per site when the panel does not answer (default 3)."), QStringLiteral("n")},
        {QStringLiteral("backoff"), QStringLiteral("Seconds before the second attempt, doubled for each further one (default 30)."),
         QStringLiteral("seconds")},
        {QStringLiteral("timeout"), QStringLiteral("Longest session in seconds (default 900)."), QStringLiteral("seconds")},
        {QStringLiteral("response-timeout"), QStringLiteral("Seconds a panel has for each answer (default: quarvo-host's, 10)."),
         QStringLiteral("seconds")},
        {QStringLiteral("keep"), QStringLiteral("Snapshots kept per site (default 10)."), QStringLiteral("n")},
        {QStringLiteral("from-snapshot"), QStringLiteral("With --jobs send: restore this snapshot version (0: the newest)."),
         QStringLiteral("version")},
        {QStringLiteral("host"), QStringLiteral("The quarvo-host program (default: QUARVO_FLEET_HOST, else the one beside quarvo-fleet)."),
         QStringLiteral("program")},
        {QStringLiteral("log-dir"), QStringLiteral("Session logs, one folder per account (default: logs/ beside the database)."),
         QStringLiteral("folder")},
        {QStringLiteral("report"), QStringLiteral("At the end of the run, write the fleet report (HTML) of the chosen sites to this file."),
         QStringLiteral("file")},
        {QStringLiteral("work-dir"),
         QStringLiteral("Where each session's private folder (its settings, with the secrets) is made and removed (default: "
                        "XDG_RUNTIME_DIR, a memory file system, else TMPDIR)."),
         QStringLiteral("folder")},
    };
    if (const auto done = parse(parser, QStringLiteral("run"),
                                QStringLiteral("Runs jobs on the chosen sites, each session in its own `quarvo-host unattended`\n"
                                               "process, at most --parallel at once. A panel that does not answer is tried again\n"
                                               "after a growing pause; a refusal (passcode, data lock, refused request) is not, and\n"
                                               "the site is marked as needing attention. Progress goes to standard error, a summary\n"
                                               "to standard output. SIGTERM or SIGINT ends the sessions with goodbyes and keeps every\n"
                                               "finished result. Exit status: 0 every site succeeded, 1 some did not, 2 bad input,\n"
                                               "3 interrupted, 4 database trouble."),
                                arguments, options))
        return *done;
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("run: unexpected argument \"%1\" (see quarvo-fleet run --help)").arg(parser.positionalArguments().first()));
        return fleetexit::Usage;
    }
    RunnerOptions run;
    const auto parallel = positiveNumber(parser, QStringLiteral("parallel"), 1, 1024, machine);
    const auto attempts = positiveNumber(parser, QStringLiteral("attempts"), 1, 100, 3);
    const auto timeout = positiveNumber(parser, QStringLiteral("timeout"), 1, 86400, 900);
    const auto response = positiveNumber(parser, QStringLiteral("response-timeout"), 1, 255, 0);
    const auto keep = positiveNumber(parser, QStringLiteral("keep"), 1, 100000, 10);
    const auto dueHours = positiveNumber(parser, QStringLiteral("due-hours"), 1, 100000, 20);
    const auto fromSnapshot = positiveNumber(parser, QStringLiteral("from-snapshot"), 0, 1000000000, -1);
    const auto lease = positiveNumber(parser, QStringLiteral("lease"), 1, 86400, 120);
    const auto claimBatch = positiveNumber(parser, QStringLiteral("claim-batch"), 1, 1000, 4);
    if (!lease || !claimBatch)
        return fleetexit::Usage;
    if (!parallel || !attempts || !timeout || !response || !keep || !dueHours || !fromSnapshot)
        return fleetexit::Usage;
    run.parallel = *parallel;
    run.attempts = *attempts;
    run.sessionTimeoutSeconds = *timeout;
    run.responseTimeoutSeconds = *response;
    run.keepSnapshots = *keep;
    run.fromSnapshot = *fromSnapshot;
    if (parser.isSet(QStringLiteral("backoff"))) {
        bool ok = false;
        run.backoffSeconds = parser.value(QStringLiteral("backoff")).toDouble(&ok);
        if (!ok || run.backoffSeconds < 0 || run.backoffSeconds > 3600) {
            complain(QStringLiteral("--backoff must be a number of seconds from 0 to 3600"));
            return fleetexit::Usage;
        }
    }
    run.jobs = parser.value(QStringLiteral("jobs"));
    if (!run.jobs.isEmpty()) {
        QString why;
        if (!jobMaskFor(run.jobs, &why)) {
            complain(QStringLiteral("run: --jobs: ") + why);
            return fleetexit::Usage;
        }
    }
    if (run.fromSnapshot >= 0 && !run.jobs.split(QLatin1Char(',')).contains(QStringLiteral("send"))) {
        complain(QStringLiteral("run: --from-snapshot goes with --jobs send"));
        return fleetexit::Usage;
    }
    run.hostProgram = hostProgram(parser.value(QStringLiteral("host")));
    if (run.hostProgram.isEmpty() || !QFileInfo(run.hostProgram).isExecutable()) {
        complain(QStringLiteral("run: quarvo-host was not found (give it with --host or QUARVO_FLEET_HOST)"));
        return fleetexit::Usage;
    }

    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    run.logFolder = parser.isSet(QStringLiteral("log-dir")) ? parser.value(QStringLiteral("log-dir"))
                                                            : QFileInfo(db.isServer() ? FleetDatabase::defaultLocation() : db.location())
                                                                  .dir()
                                                                  .filePath(QStringLiteral("logs"));
    QString why;
    if (!hostfiles::ensureFolder(run.logFolder, &why)) {
        complain(QStringLiteral("run: ") + why);
        return fleetexit::Usage;
    }
    run.workFolder = parser.value(QStringLiteral("work-dir"));
    if (run.workFolder.isEmpty()) {
        // The runtime folder lives in memory and is the user's alone: the secrets never reach a disk,
        // and making and removing thousands of small folders costs little there.
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
            run.workFolder = runtime;
    }
    if (!run.workFolder.isEmpty() && !QFileInfo(run.workFolder).isDir()) {
        complain(QStringLiteral("run: --work-dir %1 is not a folder").arg(run.workFolder));
        return fleetexit::Usage;
    }
    run.runnerName = QStringLiteral("%1:%2").arg(QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid());
    run.batch = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")) + QLatin1Char('-')
                + QString::number(QCoreApplication::applicationPid());

    // Runs a runner on this computer left "running" when it was killed outright are over: their
    // process is gone.
    for (const QString &other : db.runnersWithRunning()) {
        const QString host = other.section(QLatin1Char(':'), 0, -2);
        const QString pid = other.section(QLatin1Char(':'), -1);
        if (host == QSysInfo::machineHostName() && !QFileInfo::exists(QStringLiteral("/proc/") + pid)) {
            const int abandoned = db.abandonRunning(other);
            if (abandoned)
                complain(QStringLiteral("%1 run(s) of an earlier runner (%2) that ended without finishing them are marked aborted")
                             .arg(abandoned)
                             .arg(other));
        }
    }

    const QStringList patterns = patternsOf(parser.value(QStringLiteral("sites")));
    std::vector<Site> chosen;
    const bool claim = parser.isSet(QStringLiteral("due"));
    if (claim) {
        // Due sites are claimed as the runner has room; other runners on the same database take
        // the rest.
        run.claim = true;
        run.patterns = patterns;
        run.succeededSince = QDateTime::currentDateTimeUtc().addSecs(-3600LL * *dueHours);
        run.leaseMs = *lease * 1000LL;
        run.claimBatch = *claimBatch;
    } else {
        chosen = db.sites(patterns);
    }
    if (chosen.empty() && !claim) {
        complain(patterns.isEmpty() ? QStringLiteral("run: the database has no sites (quarvo-fleet import FILE adds them)")
                                    : QStringLiteral("run: no site matches %1").arg(patterns.join(QLatin1Char(','))));
        return fleetexit::Usage;
    }

    if (db.isServer()) {
        // One spool per database address: results go back where their runs began.
        const QString hash = QString::fromLatin1(QCryptographicHash::hash(db.location().toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
        run.spoolPath = parser.isSet(QStringLiteral("spool"))
                            ? parser.value(QStringLiteral("spool"))
                            : QFileInfo(FleetDatabase::defaultLocation()).dir().filePath(QStringLiteral("spool-%1.db").arg(hash));
    }
    FleetRunner runner(db, run);
    SignalWatch watch;
    int signalled = 0;
    QObject::connect(&watch, &SignalWatch::terminationRequested, &runner, [&](int number) {
        if (signalled == 0) {
            signalled = number;
            complain(QStringLiteral("signal %1: ending the running sessions with goodbyes").arg(number));
            runner.stop();
        } else {
            complain(QStringLiteral("second signal: stopping the sessions at once"));
            runner.stop(0);
        }
    });
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    QString barShown;
    const auto drawBar = [&] {
        const int total = runner.total(), done = runner.finishedCount(), failed = runner.failedCount();
        const int width = 30;
        const int filled = total ? width * done / total : width;
        const QString bar = QStringLiteral("[%1%2] %3/%4 done, %5 running, %6 failed")
                                .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                                .arg(done)
                                .arg(total)
                                .arg(runner.runningCount())
                                .arg(failed);
        std::fprintf(stderr, "\r%s\033[K", qPrintable(bar));
        std::fflush(stderr);
        barShown = bar;
    };
    runner.onLine = [&](const QString &line) {
        if (terminal) {
            // Finished sites scroll above the bar; only what did not succeed is worth a line.
            if (line.contains(QLatin1String(": success")))
                return;
            std::fprintf(stderr, "\r\033[K%s\n", qPrintable(line));
            drawBar();
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(line));
            std::fflush(stderr);
        }
    };
    QTimer barTimer;
    if (terminal) {
        QObject::connect(&barTimer, &QTimer::timeout, &runner, drawBar);
        barTimer.start(500);
    } else {
        if (claim)
            std::fprintf(stderr, "quarvo-fleet: due sites claimed as runner %s, %d at once, jobs %s\n", qPrintable(run.runnerName),
                         run.parallel, qPrintable(run.jobs.isEmpty() ? QStringLiteral("(each site's own)") : run.jobs));
        else
            std::fprintf(stderr, "quarvo-fleet: %zu site(s), %d at once, jobs %s\n", chosen.size(), run.parallel,
                         qPrintable(run.jobs.isEmpty() ? QStringLiteral("(each site's own)") : run.jobs));
    }
    QObject::connect(&runner, &FleetRunner::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    const double selfBefore = cpuSeconds(RUSAGE_SELF), childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer wall;
    wall.start();
    runner.start(chosen);
    QCoreApplication::exec();
    if (terminal) {
        barTimer.stop();
        drawBar();
        std::fputs("\n", stderr);
    }
    db.abandonRunning(run.runnerName);
    if (claim && runner.total() == 0 && !watch.received()) {
        print(QStringLiteral("no site is due\n"));
        return fleetexit::Success;
    }

    QList<QStringList> rows;
    int succeeded = 0;
    for (const SiteReport &r : runner.reports()) {
        if (r.result == QLatin1String("success"))
            ++succeeded;
        QString details = r.error;
        if (r.result == QLatin1String("success")) {
            QStringList parts;
            if (r.historyAdded)
                parts << QStringLiteral("%1 new events").arg(r.historyAdded);
            if (r.snapshotVersion)
                parts << QStringLiteral("snapshot %1").arg(*r.snapshotVersion);
            else if (r.snapshotUnchanged)
                parts << QStringLiteral("programming unchanged");
            details = parts.join(QStringLiteral(", "));
        }
        rows << QStringList{r.site.account, r.site.name.isEmpty() ? QStringLiteral("-") : r.site.name,
                            r.result.isEmpty() ? QStringLiteral("not run") : r.result, QString::number(r.attempts),
                            QStringLiteral("%1 s").arg(r.elapsedMs / 1000.0, 0, 'f', 1), details};
    }
    print(table({QStringLiteral("ACCOUNT"), QStringLiteral("NAME"), QStringLiteral("RESULT"), QStringLiteral("ATTEMPTS"),
                 QStringLiteral("TIME"), QStringLiteral("DETAILS")},
                rows));
    const double seconds = wall.elapsed() / 1000.0;
    print(QStringLiteral("%1 of %2 site(s) succeeded in %3 s, %4 at once; CPU: runner %5 s, sessions %6 s\n")
              .arg(succeeded)
              .arg(runner.total())
              .arg(seconds, 0, 'f', 1)
              .arg(run.parallel)
              .arg(cpuSeconds(RUSAGE_SELF) - selfBefore, 0, 'f', 2)
              .arg(cpuSeconds(RUSAGE_CHILDREN) - childrenBefore, 0, 'f', 2));
    std::fflush(stdout);
    if (parser.isSet(QStringLiteral("report"))) {
        ReportOptions options;
        options.patterns = patterns;
        if (!writeReport(db, options, parser.value(QStringLiteral("report"))) && !watch.received())
            return fleetexit::Usage;
    }
    if (watch.received())
        return fleetexit::Interrupted;
    return succeeded == runner.total() ? fleetexit::Success : fleetexit::Failure;
}

int fleetStatus(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption sitesOption(QStringLiteral("sites"), QStringLiteral("Only sites matching these wildcard patterns."),
                                         QStringLiteral("patterns"));
    const QCommandLineOption attentionOption(QStringLiteral("attention"), QStringLiteral("Only sites that need attention."));
    if (const auto done = parse(parser, QStringLiteral("status"),
                                QStringLiteral("One line per site: the last run and its result, the last success, and the last error\n"
                                               "in words (no secrets)."),
                                arguments, {sitesOption, attentionOption}))
        return *done;
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    QList<QStringList> rows;
    for (const SiteStatus &st : db.status(patternsOf(parser.value(sitesOption)))) {
        if (parser.isSet(attentionOption) && !st.site.needsAttention)
            continue;
        QString result = st.lastRun ? st.lastRun->result : QStringLiteral("never run");
        if (st.site.needsAttention)
            result += QStringLiteral(" (needs attention)");
        rows << QStringList{st.site.account,
                            st.site.name.isEmpty() ? QStringLiteral("-") : st.site.name,
                            st.lastRun ? localTime(st.lastRun->started) : QStringLiteral("-"),
                            result,
                            st.lastSuccess ? localTime(*st.lastSuccess) : QStringLiteral("-"),
                            st.site.needsAttention ? st.site.attentionReason : st.lastError.isEmpty() ? QStringLiteral("-") : st.lastError};
    }
    print(table({QStringLiteral("ACCOUNT"), QStringLiteral("NAME"), QStringLiteral("LAST RUN"), QStringLiteral("RESULT"),
                 QStringLiteral("LAST SUCCESS"), QStringLiteral("LAST ERROR")},
                rows));
    return fleetexit::Success;
}

int fleetRunners(const QStringList &arguments)
{
    QCommandLineParser parser;
    if (const auto done = parse(parser, QStringLiteral("runners"),
                                QStringLiteral("The runners that have worked on this database: when each started, its last\n"
                                               "heartbeat (a running runner renews it every third of its lease), and the sites\n"
                                               "it holds now. A runner whose heartbeat stopped without an end died or lost the\n"
                                               "database; the sites it held are due again once their lease has run out."),
                                arguments, {}))
        return *done;
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("runners: unexpected argument \"%1\" (see quarvo-fleet runners --help)").arg(parser.positionalArguments().first()));
        return fleetexit::Usage;
    }
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    QList<QStringList> rows;
    for (const RunnerInfo &r : db.runners()) {
        QString state;
        if (r.ended.isValid())
            state = QStringLiteral("ended %1").arg(localTime(r.ended));
        else if (!r.expired.isEmpty())
            state = QStringLiteral("silent (its lease ran out)");
        else
            state = QStringLiteral("running");
        QString holds = r.holds.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1: %2").arg(r.holds.size()).arg(r.holds.mid(0, 8).join(QLatin1Char(',')));
        if (r.holds.size() > 8)
            holds += QStringLiteral(",...");
        if (!r.expired.isEmpty())
            holds += QStringLiteral(" (lease ran out: %1)").arg(r.expired.join(QLatin1Char(',')));
        rows << QStringList{r.name, localTime(r.started),
                            QStringLiteral("%1 (%2 s ago)").arg(localTime(r.heartbeat)).arg(std::max<qint64>(0, r.heartbeatAgeMs) / 1000),
                            state, holds};
    }
    print(table({QStringLiteral("RUNNER"), QStringLiteral("STARTED"), QStringLiteral("LAST HEARTBEAT"), QStringLiteral("STATE"),
                 QStringLiteral("HOLDS")},
                rows));
    return fleetexit::Success;
}

int fleetHistory(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption limitOption(QStringLiteral("limit"), QStringLiteral("The newest N events (default all)."), QStringLiteral("n"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("JSON lines instead of a table."));
    if (const auto done = parse(parser, QStringLiteral("history"),
                                QStringLiteral("The panel events stored for a site, oldest first: one row per event, however often it\n"
                                               "was read."),
                                arguments, {limitOption, jsonOption}, QStringLiteral("site The site's account.")))
        return *done;
    if (parser.positionalArguments().size() != 1) {
        complain(QStringLiteral("history: give one site's account (see quarvo-fleet history --help)"));
        return fleetexit::Usage;
    }
    const auto limit = positiveNumber(parser, QStringLiteral("limit"), 1, 100000000, 0);
    if (!limit)
        return fleetexit::Usage;
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    const std::optional<Site> site = siteNamed(db, parser.positionalArguments().first());
    if (!site)
        return fleetexit::Usage;
    QList<QStringList> rows;
    for (const HistoryRow &h : db.history(site->id, *limit)) {
        if (parser.isSet(jsonOption)) {
            QJsonObject o{{QStringLiteral("account"), site->account}, {QStringLiteral("valid"), h.valid},
                          {QStringLiteral("event"), h.event}, {QStringLiteral("read"), h.readAt}, {QStringLiteral("run"), h.runId}};
            if (h.valid) {
                o.insert(QStringLiteral("when"), QStringLiteral("%1-%2-%3T%4:%5")
                                                     .arg(*h.year, 4, 10, QLatin1Char('0'))
                                                     .arg(*h.month, 2, 10, QLatin1Char('0'))
                                                     .arg(*h.day, 2, 10, QLatin1Char('0'))
                                                     .arg(*h.hour, 2, 10, QLatin1Char('0'))
                                                     .arg(*h.minute, 2, 10, QLatin1Char('0')));
                o.insert(QStringLiteral("modifier"), h.modifier.isEmpty() ? QJsonValue() : QJsonValue(h.modifier));
            }
            print(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
            continue;
        }
        rows << QStringList{h.valid ? QStringLiteral("%1-%2-%3 %4:%5")
                                          .arg(*h.year, 4, 10, QLatin1Char('0'))
                                          .arg(*h.month, 2, 10, QLatin1Char('0'))
                                          .arg(*h.day, 2, 10, QLatin1Char('0'))
                                          .arg(*h.hour, 2, 10, QLatin1Char('0'))
                                          .arg(*h.minute, 2, 10, QLatin1Char('0'))
                                    : QStringLiteral("(invalid slot)"),
                            h.event, h.modifier.isEmpty() ? QStringLiteral("-") : h.modifier, QString::number(h.runId)};
    }
    if (!parser.isSet(jsonOption))
        print(table({QStringLiteral("WHEN (PANEL TIME)"), QStringLiteral("EVENT"), QStringLiteral("MODIFIER"), QStringLiteral("RUN")}, rows));
    return fleetexit::Success;
}

int fleetSnapshots(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption exportOption(QStringLiteral("export"),
                                          QStringLiteral("Write this snapshot version (0: the newest) as a panel data file to --output."),
                                          QStringLiteral("version"));
    const QCommandLineOption outputOption(QStringLiteral("output"), QStringLiteral("The file --export writes (mode 0600)."),
                                          QStringLiteral("file"));
    if (const auto done = parse(parser, QStringLiteral("snapshots"),
                                QStringLiteral("Lists the stored versions of a site's panel programming, newest first, or writes one\n"
                                               "as a panel data file that quarvo-host data show/diff reads and `run --jobs send\n"
                                               "--from-snapshot VERSION` restores."),
                                arguments, {exportOption, outputOption}, QStringLiteral("site The site's account.")))
        return *done;
    if (parser.positionalArguments().size() != 1) {
        complain(QStringLiteral("snapshots: give one site's account (see quarvo-fleet snapshots --help)"));
        return fleetexit::Usage;
    }
    if (parser.isSet(exportOption) != parser.isSet(outputOption)) {
        complain(QStringLiteral("snapshots: --export VERSION and --output FILE go together"));
        return fleetexit::Usage;
    }
    const auto version = positiveNumber(parser, QStringLiteral("export"), 0, 1000000000, 0);
    if (!version)
        return fleetexit::Usage;
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    const std::optional<Site> site = siteNamed(db, parser.positionalArguments().first());
    if (!site)
        return fleetexit::Usage;
    if (parser.isSet(exportOption)) {
        int actual = 0;
        const std::optional<QByteArray> data = db.snapshotData(site->id, *version, &actual);
        if (!data) {
            complain(QStringLiteral("snapshots: %1 has no snapshot %2").arg(site->account, *version ? QString::number(*version) : QStringLiteral("yet")));
            return fleetexit::Usage;
        }
        QString why;
        if (!hostfiles::writeAtomically(parser.value(outputOption), *data, &why)) {
            complain(QStringLiteral("snapshots: ") + why);
            return fleetexit::Usage;
        }
        print(QStringLiteral("snapshot %1 of %2 written to %3\n").arg(actual).arg(site->account, parser.value(outputOption)));
        return fleetexit::Success;
    }
    QList<QStringList> rows;
    for (const SnapshotInfo &s : db.snapshots(site->id))
        rows << QStringList{QString::number(s.version), localTime(s.taken), QString::number(s.size), s.sha256.left(16),
                            QString::number(s.runId)};
    print(table({QStringLiteral("VERSION"), QStringLiteral("TAKEN"), QStringLiteral("BYTES"), QStringLiteral("SHA-256"), QStringLiteral("RUN")},
                rows));
    return fleetexit::Success;
}

int fleetExport(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption formatOption(QStringLiteral("format"), QStringLiteral("csv or json (JSON lines)."), QStringLiteral("format"));
    const QCommandLineOption secretsOption(QStringLiteral("with-secrets"),
                                           QStringLiteral("Include passcodes and link keys (the output is then re-importable)."));
    const QCommandLineOption outputOption(QStringLiteral("output"), QStringLiteral("Write to this file (mode 0600) instead of standard output."),
                                          QStringLiteral("file"));
    const QCommandLineOption sitesOption(QStringLiteral("sites"), QStringLiteral("Only sites matching these wildcard patterns."),
                                         QStringLiteral("patterns"));
    if (const auto done = parse(parser, QStringLiteral("export"),
                                QStringLiteral("Writes every site with its status: the import fields, then last_run, result,\n"
                                               "last_success, needs_attention, last_error, snapshots, history_events. Passcodes and\n"
                                               "link keys only with --with-secrets."),
                                arguments, {formatOption, secretsOption, outputOption, sitesOption}))
        return *done;
    const QString format = parser.value(formatOption);
    if (format != QLatin1String("csv") && format != QLatin1String("json")) {
        complain(QStringLiteral("export: --format csv or --format json"));
        return fleetexit::Usage;
    }
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    const bool secrets = parser.isSet(secretsOption);
    QStringList columns;
    for (const QString &c : sitecolumns::all())
        if (secrets || !sitecolumns::secret(c))
            columns << c;
    columns << QStringLiteral("last_run") << QStringLiteral("result") << QStringLiteral("last_success") << QStringLiteral("needs_attention")
            << QStringLiteral("last_error") << QStringLiteral("snapshots") << QStringLiteral("history_events");
    QByteArray out;
    if (format == QLatin1String("csv"))
        out += columns.join(QLatin1Char(',')).toUtf8() + '\n';
    for (const SiteStatus &st : db.status(patternsOf(parser.value(sitesOption)))) {
        const Site &s = st.site;
        QJsonObject o{{QStringLiteral("account"), s.account},
                      {QStringLiteral("name"), s.name},
                      {QStringLiteral("address"), s.address},
                      {QStringLiteral("port"), s.port},
                      {QStringLiteral("data_locks"), siteimport::dataLocksToText(s.dataLocks)},
                      {QStringLiteral("panel_type"), s.panelType},
                      {QStringLiteral("time_zone"), s.timeZone},
                      {QStringLiteral("jobs"), s.jobs},
                      {QStringLiteral("last_run"), st.lastRun ? st.lastRun->started.toString(Qt::ISODate) : QString()},
                      {QStringLiteral("result"), st.lastRun ? st.lastRun->result : QString()},
                      {QStringLiteral("last_success"), st.lastSuccess ? st.lastSuccess->toString(Qt::ISODate) : QString()},
                      {QStringLiteral("needs_attention"), s.needsAttention},
                      {QStringLiteral("last_error"), s.needsAttention ? s.attentionReason : st.lastError},
                      {QStringLiteral("snapshots"), st.snapshots},
                      {QStringLiteral("history_events"), st.historyRows}};
        if (secrets) {
            o.insert(QStringLiteral("passcode"), s.passcode);
            o.insert(QStringLiteral("link_key"), s.linkKey);
        }
        if (format == QLatin1String("json")) {
            // JSON lines that import reads back: the status fields are dropped there.
            out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        } else {
            QStringList cells;
            for (const QString &c : columns) {
                const QJsonValue v = o.value(c);
                cells << siteimport::csvField(v.isBool() ? (v.toBool() ? QStringLiteral("yes") : QStringLiteral("no"))
                                                         : v.isDouble() ? QString::number(v.toInt()) : v.toString());
            }
            out += cells.join(QLatin1Char(',')).toUtf8() + '\n';
        }
    }
    if (parser.isSet(outputOption)) {
        QString why;
        if (!hostfiles::writeAtomically(parser.value(outputOption), out, &why)) {
            complain(QStringLiteral("export: ") + why);
            return fleetexit::Usage;
        }
        return fleetexit::Success;
    }
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    return fleetexit::Success;
}

int fleetReport(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption htmlOption(QStringLiteral("html"), QStringLiteral("The HTML file to write (replaced atomically)."), QStringLiteral("file"));
    const QCommandLineOption sinceOption(QStringLiteral("since"),
                                         QStringLiteral("Only runs from this date (2026-12-01, local midnight) or moment (2026-12-01T18:00) on."),
                                         QStringLiteral("date"));
    const QCommandLineOption sitesOption(QStringLiteral("sites"), QStringLiteral("Only sites matching these wildcard patterns."),
                                         QStringLiteral("patterns"));
    const QCommandLineOption staleOption(QStringLiteral("stale-days"),
                                         QStringLiteral("A site without a success for this many days counts as not reached (default 7)."),
                                         QStringLiteral("days"));
    if (const auto done = parse(parser, QStringLiteral("report"),
                                QStringLiteral("Writes one self-contained HTML page with the state of every chosen site: a summary line,\n"
                                               "the results of the last 30 nights as a chart, a table of the sites (failures and\n"
                                               "attention first; sort and filter it in the page; #filter=TEXT in the address sets the\n"
                                               "filter) and, per site, its runs, newest panel events and snapshots with the items that\n"
                                               "changed. The page loads nothing from anywhere and holds no passcode or link key."),
                                arguments, {htmlOption, sinceOption, sitesOption, staleOption}))
        return *done;
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("report: unexpected argument \"%1\" (see quarvo-fleet report --help)").arg(parser.positionalArguments().first()));
        return fleetexit::Usage;
    }
    if (parser.value(htmlOption).isEmpty()) {
        complain(QStringLiteral("report: give the file to write with --html FILE"));
        return fleetexit::Usage;
    }
    const std::optional<QDateTime> since = sinceOf(parser.value(sinceOption));
    const auto stale = positiveNumber(parser, QStringLiteral("stale-days"), 1, 100000, 7);
    if (!since || !stale)
        return fleetexit::Usage;
    FleetDatabase db;
    if (!openDatabase(db, parser))
        return fleetexit::Database;
    ReportOptions options;
    options.patterns = patternsOf(parser.value(sitesOption));
    options.since = *since;
    options.staleDays = *stale;
    return writeReport(db, options, parser.value(htmlOption)) ? fleetexit::Success : fleetexit::Usage;
}
