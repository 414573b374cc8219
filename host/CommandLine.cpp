#include "Commands.h"
#include "HostSession.h"
#include "Printable.h"

#include <QRegularExpression>

#include <cstdio>

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen");
}

void complain(const QString &text)
{
    // One line, whatever a file or an argument put into the text.
    std::fprintf(stderr, "quarvo-host: %s\n", qPrintable(printable(text, -1)));
    std::fflush(stderr);
}

std::optional<int> parseCommandLine(QCommandLineParser &parser, const QString &command, const QStringList &arguments)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    parser.addOption(help);
    if (!parser.parse(QStringList{QStringLiteral("quarvo-host")} + arguments)) {
        complain(QStringLiteral("%1: %2 (see quarvo-host %1 --help)").arg(command, parser.errorText()));
        return hostexit::Usage;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Qt names the program by its path; the usage line names the command.
        static const QRegularExpression program(QStringLiteral("^Usage: \\S+"));
        text.replace(program, QStringLiteral("Usage: quarvo-host ") + command);
        std::fputs(qPrintable(text), stdout);
        return hostexit::Success;
    }
    return std::nullopt;
}

SessionOptions::SessionOptions(const QString &outOfProcessHelp)
    : settings(QStringLiteral("settings"), QStringLiteral("The host settings (JSON; see the README)."), QStringLiteral("file")),
      data(QStringLiteral("data"),
           QStringLiteral("The panel data file (default: DataFile of the settings, else <AccountName>.qpd next to the settings file)."),
           QStringLiteral("file")),
      events(QStringLiteral("events"), QStringLiteral("Append the host events (JSON lines) to this file instead of standard output."),
             QStringLiteral("file")),
      history(QStringLiteral("history"), QStringLiteral("Append the history events read, decoded, to this file (JSON lines)."),
              QStringLiteral("file")),
      outOfProcess(QStringLiteral("out-of-process"), outOfProcessHelp)
{
}

void SessionOptions::addTo(QCommandLineParser &parser, const QList<QCommandLineOption> &before) const
{
    parser.addOption(settings);
    parser.addOption(data);
    parser.addOptions(before);
    parser.addOptions({events, history, outOfProcess});
}

HostOptions SessionOptions::read(const QCommandLineParser &parser) const
{
    HostOptions options;
    options.settingsPath = parser.value(settings);
    options.dataPath = parser.value(data);
    options.eventsPath = parser.value(events);
    options.historyPath = parser.value(history);
    options.outOfProcess = parser.isSet(outOfProcess);
    return options;
}
