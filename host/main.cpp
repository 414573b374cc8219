// quarvo-host: the reference host. It drives the component the way the host application does,
// keeps the host's objects in files, and runs sessions with an operator (session) or without one
// (unattended); data works on panel data files; demo runs an unattended job against the simulator.
#include "Commands.h"
#include "HostSession.h"
#include "Printable.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: quarvo-host <command> [options]\n"
    "\n"
    "The reference host of the Quarvo communication component.\n"
    "\n"
    "Commands:\n"
    "  session      open the \"Panel Communication\" dialog and run a session with an operator\n"
    "               (needs a display): synchronisation, history, panel clock, disconnect\n"
    "  unattended   run jobs without an operator: --jobs clock,history-current[,set-pointer]|\n"
    "               history-all,receive|send\n"
    "  data         show, change or compare panel data files: data show|set|diff\n"
    "  demo         run an unattended job (clock, all history, receive) against the panel\n"
    "               simulator and print a summary\n"
    "\n"
    "Options:\n"
    "  --out-of-process  (before or after session and unattended) run the session in quarvo-server\n"
    "                    on the D-Bus session bus instead of in this process\n"
    "\n"
    "quarvo-host <command> --help describes each command. Exit status: 0 success, 1 failure,\n"
    "2 bad command line, settings or data file, 3 aborted, 4 unknown end, 128+N ended by signal N.\n";

// The off-screen platform warns about window size hints and raising windows it cannot pass on, and
// Qt about a missing runtime folder it does not need here; none of it says anything about the session.
QtMessageHandler g_defaultHandler = nullptr;

void quietOffscreenWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")) || message.contains(QLatin1String("does not support raise()"))
        || message.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    if (g_defaultHandler)
        g_defaultHandler(type, context, message);
}

bool wantsHelp(const QStringList &arguments)
{
    return arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))
           || arguments.contains(QLatin1String("--help-all"));
}

} // namespace

int main(int argc, char **argv)
{
    g_defaultHandler = qInstallMessageHandler(quietOffscreenWarnings);
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    // "--out-of-process" before the command word goes to the command.
    const bool outOfProcess = !words.isEmpty() && words.constFirst() == QLatin1String("--out-of-process");
    if (outOfProcess)
        words.removeFirst();
    const QString command = words.value(0);
    QStringList rest = words.mid(1);
    if (outOfProcess) {
        if (command != QLatin1String("session") && command != QLatin1String("unattended")) {
            std::fputs("quarvo-host: --out-of-process goes with session and unattended only (see --help)\n", stderr);
            return hostexit::Usage;
        }
        rest.prepend(QStringLiteral("--out-of-process"));
    }

    if (command.isEmpty()) {
        std::fputs(kUsage, stderr);
        return hostexit::Usage;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return hostexit::Success;
    }
    static const QStringList kCommands{QStringLiteral("session"), QStringLiteral("unattended"), QStringLiteral("data"),
                                       QStringLiteral("demo")};
    if (!kCommands.contains(command)) {
        std::fprintf(stderr, "quarvo-host: unknown command \"%s\" (commands: session, unattended, data, demo; see --help)\n",
                     qPrintable(printable(command)));
        return hostexit::Usage;
    }

    if (command == QLatin1String("session")) {
        // The help is text only: it needs no display.
        if (wantsHelp(rest) && !displayAvailable())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!wantsHelp(rest) && !displayAvailable()) {
            std::fputs("quarvo-host: session shows the connection dialog and needs a display, and there is none\n"
                       "(DISPLAY and WAYLAND_DISPLAY are not set). Without a display, run the jobs with\n"
                       "`quarvo-host unattended --settings FILE --jobs ...` (see quarvo-host unattended --help).\n",
                       stderr);
            return hostexit::Usage;
        }
    }

    if (command != QLatin1String("session")) {
        // Unattended jobs, the demo and the data files show nothing: they run on a plain core
        // application, with or without a display, and no window can be made in them.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quarvo-host"));
        if (command == QLatin1String("unattended"))
            return runUnattended(rest);
        if (command == QLatin1String("data"))
            return runData(rest);
        return runDemo(rest);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quarvo-host"));
    QApplication::setQuitOnLastWindowClosed(false);
    return runSession(rest);
}
