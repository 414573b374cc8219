// The commands of quarvo-host. Each takes its own arguments (after the command word), has --help,
// and returns the process's exit status (hostexit in HostSession.h).
#pragma once

#include <QCommandLineParser>
#include <QStringList>

#include <optional>

struct HostOptions;

int runSession(const QStringList &arguments);
int runUnattended(const QStringList &arguments);
int runData(const QStringList &arguments);
int runDemo(const QStringList &arguments);

// Whether `session` can show its windows: a display, or Qt's off-screen platform asked for.
bool displayAvailable();

// Parses a command's arguments. --help prints the help (exit 0 then); a bad argument prints what is
// wrong (exit status 2). Returns the exit status when the command is not to run.
std::optional<int> parseCommandLine(QCommandLineParser &parser, const QString &command, const QStringList &arguments);

// "quarvo-host: <text>" on standard error.
void complain(const QString &text);

// The options both session commands take: --settings, --data, --events, --history and
// --out-of-process (whose help line each command words for itself).
struct SessionOptions
{
    explicit SessionOptions(const QString &outOfProcessHelp);
    // Adds them to `parser`, after `before` (the command's own options).
    void addTo(QCommandLineParser &parser, const QList<QCommandLineOption> &before = {}) const;
    HostOptions read(const QCommandLineParser &parser) const;

    QCommandLineOption settings;
    QCommandLineOption data;
    QCommandLineOption events;
    QCommandLineOption history;
    QCommandLineOption outOfProcess;
};
