// quarvo-fleet: unattended jobs over many panels, each session in its own quarvo-host process, with
// the results in a database: import sites, run jobs, read back status, history and snapshots.
#include "FleetCommands.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: quarvo-fleet <command> [options]\n"
    "\n"
    "Runs unattended jobs on many panels, one quarvo-host session per panel, and keeps the results\n"
    "(runs, host events, panel history, snapshots of each panel's programming) in a database.\n"
    "\n"
    "Commands:\n"
    "  import FILE     add or update sites from CSV (with a header line) or JSON lines\n"
    "  run             run jobs on the sites: [--jobs LIST] [--sites PATTERNS] [--parallel N] [--due]\n"
    "  status          one line per site: last run, result, last success, last error\n"
    "  history SITE    the panel events stored for a site\n"
    "  snapshots SITE  the stored versions of a site's programming; --export VERSION --output FILE\n"
    "  export          every site with its status: --format csv|json [--with-secrets]\n"
    "  report          one HTML page with every site's state: --html FILE [--since DATE] [--sites PATTERNS]\n"
    "  runners         the runners sharing the database: last heartbeat and the sites each holds\n"
    "\n"
    "Every command takes --db FILE or --db postgresql://USER@HOST[:PORT]/DB (default: QUARVO_FLEET_DB, else\n"
    "~/.local/share/quarvo-fleet/fleet.db)\n"
    "and --help. Exit status: 0 done (run: every site succeeded), 1 a site did not succeed, 2 bad\n"
    "command line or input, 3 run interrupted by SIGTERM/SIGINT, 4 database trouble.\n";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvo-fleet"));
    QStringList words = QCoreApplication::arguments().mid(1);
    const QString command = words.value(0);
    const QStringList rest = words.mid(1);
    if (command.isEmpty()) {
        std::fputs(kUsage, stderr);
        return fleetexit::Usage;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return fleetexit::Success;
    }
    if (command == QLatin1String("import"))
        return fleetImport(rest);
    if (command == QLatin1String("run"))
        return fleetRun(rest);
    if (command == QLatin1String("status"))
        return fleetStatus(rest);
    if (command == QLatin1String("history"))
        return fleetHistory(rest);
    if (command == QLatin1String("snapshots"))
        return fleetSnapshots(rest);
    if (command == QLatin1String("export"))
        return fleetExport(rest);
    if (command == QLatin1String("report"))
        return fleetReport(rest);
    if (command == QLatin1String("runners"))
        return fleetRunners(rest);
    std::fprintf(stderr, "quarvo-fleet: unknown command \"%s\" (commands: import, run, status, history, snapshots, export, report, runners; see --help)\n",
                 qPrintable(command));
    return fleetexit::Usage;
}
