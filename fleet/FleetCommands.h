// The commands of quarvo-fleet. Each takes its arguments after the command word, has --help, and
// returns the process's exit status (fleetexit below; the README lists them).
#pragma once

#include <QStringList>

namespace fleetexit {
constexpr int Success = 0;     // done; run: every chosen site succeeded
constexpr int Failure = 1;     // run: at least one site did not succeed (failed, refused or needs attention)
constexpr int Usage = 2;       // bad command line, import file, unknown site or snapshot
constexpr int Interrupted = 3; // run: ended by SIGTERM or SIGINT (finished results are kept)
constexpr int Database = 4;    // the database cannot be opened or written
} // namespace fleetexit

int fleetImport(const QStringList &arguments);
int fleetRun(const QStringList &arguments);
int fleetStatus(const QStringList &arguments);
int fleetHistory(const QStringList &arguments);
int fleetSnapshots(const QStringList &arguments);
int fleetExport(const QStringList &arguments);
int fleetReport(const QStringList &arguments);
int fleetRunners(const QStringList &arguments);
