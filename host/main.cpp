// quarvo-host: drives the component the way the host application does.
#include "FileHostSettings.h"
#include "PrintingCallback.h"

#include "component/clsCommunication.h"
#include "core/SessionState.h"
#include "external/ErrorReporter.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Uses the given folder for `variable` unless the environment already names one.
QString folderFor(const char *variable, const QString &fallback)
{
    QString dir = qEnvironmentVariable(variable);
    if (dir.isEmpty()) {
        dir = fallback;
        qputenv(variable, QFile::encodeName(dir));
    }
    QDir().mkpath(dir);
    return QFileInfo(dir).absoluteFilePath();
}

int runDemo(const QCommandLineParser &parser)
{
    const QString base = QFileInfo(parser.value(QStringLiteral("build-dir"))).absoluteFilePath() + QStringLiteral("/demo");
    const QString settingsDir = folderFor("QUARVO_SETTINGS_DIR", base + QStringLiteral("/settings"));
    const QString logDir = folderFor("QUARVO_LOG_DIR", base + QStringLiteral("/logs"));

    auto settings = std::make_shared<FileHostSettings>();
    if (parser.isSet(QStringLiteral("host-settings"))) {
        QString error;
        if (!settings->load(parser.value(QStringLiteral("host-settings")), &error)) {
            QTextStream(stderr) << "quarvo-host: cannot read host settings: " << error << Qt::endl;
            return 2;
        }
    }

    out() << "Quarvo demo" << Qt::endl;
    out() << "Creating the component (loads the configuration store)..." << Qt::endl;
    clsCommunication component;
    std::shared_ptr<HostCallback> callback = std::make_shared<PrintingCallback>(out());
    component.SetCallBack(callback);
    component.setSettings(settings);

    const SessionState &s = sessionState();
    const Configuration &c = s.config;
    out() << "Component: " << component.Name() << Qt::endl << Qt::endl;
    out() << "Configuration loaded from " << Paths::settingsFile() << ":" << Qt::endl;
    auto row = [](const char *key, const QVariant &value) {
        out() << "  " << QString::fromLatin1(key).leftJustified(26) << value.toString() << Qt::endl;
    };
    row("TamselPath", c.tamselPath);
    row("TamselPath (data folder)", c.tamselDataPath);
    row("WarningLevel", c.warningLevel);
    row("Icon", c.icon);
    row("NumOfNaks", c.numOfNaks);
    row("TimeToGatherBody", c.timeToGatherBody);
    row("SendAgainPauseTime (ms)", c.sendAgainPauseTime);
    row("HBInterval (ms)", c.hbInterval);
    row("DRInterval (ms)", c.drInterval);
    row("CallBackTime", c.callBackTime);
    row("StandardPollRate", c.standardPollRate);
    row("ExclusivePollRate", c.exclusivePollRate);
    row("InactivityTimeout (s)", c.inactivityTimeout);
    row("SequenceNumbersEnabled", s.SequenceNumbersEnabled);
    row("EncryptionEnabled", s.EncryptionEnabled);
    row("Account name", s.accountName);
    out() << Qt::endl << "Files:" << Qt::endl;
    out() << "  settings store   " << Paths::settingsFile() << Qt::endl;
    out() << "  log folder       " << logDir << Qt::endl;
    if (s.errorReporter)
        out() << "  error file       " << s.errorReporter->errorFilePath() << Qt::endl;
    out() << "  settings folder  " << settingsDir << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Without a display the windows are drawn off screen, so the command also runs on a server.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quarvo-host"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Drives the Quarvo communication component the way the host application does.\n\n"
        "Commands:\n"
        "  demo    create the component, load the configuration and print what was loaded and where\n"
        "          the files went.\n\n"
        "The settings store and the log files go to QUARVO_SETTINGS_DIR and QUARVO_LOG_DIR when set;\n"
        "the demo otherwise uses folders under <build-dir>/demo."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do: demo."));
    parser.addOption({QStringLiteral("build-dir"), QStringLiteral("Folder for the demo's own files (default: build)."),
                      QStringLiteral("dir"), QStringLiteral("build")});
    parser.addOption({QStringLiteral("host-settings"),
                      QStringLiteral("JSON file with the host's settings (panel, link key, data locks...)."),
                      QStringLiteral("file")});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        parser.showHelp(1);
    }
    if (args.first() == QLatin1String("demo"))
        return runDemo(parser);
    QTextStream(stderr) << "quarvo-host: unknown command '" << args.first() << "' (see --help)" << Qt::endl;
    return 2;
}
