#include "Commands.h"
#include "HostSession.h"

#include <QRegularExpression>

#include <cstdio>

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen");
}

void complain(const QString &text)
{
    std::fprintf(stderr, "quarvo-host: %s\n", qPrintable(text));
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
