// quarvo-host: drives the component the way the host application does.
#include "FileHostSettings.h"
#include "MemoryHostPif.h"
#include "PrintingCallback.h"

#include "component/SessionSignals.h"
#include "component/clsCommunication.h"
#include "connection/frmCommInterface.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/clsSessionLog.h"
#include "diagnostics/frmImmediate.h"
#include "external/ErrorReporter.h"
#include "platform/Paths.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <functional>

#ifdef QUARVO_HAVE_SIM
#include "PanelSimulator.h"
#endif

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

// The demo's panel: its link key, passcode and data lock are what the demo host settings expect.
const QString kDemoLinkKey = QStringLiteral("Quarvo-demo-link-key-32-chars-ok");
const QString kDemoPasscode = QStringLiteral("123456");
constexpr int kDemoDataLock = 0x1234;
constexpr int kDemoHeartbeatMs = 1500;
constexpr int kDemoHeartbeats = 3;

// Runs the event loop until `done` holds or `ms` milliseconds have passed; returns `done()`. A
// termination signal (which has ended the session already) ends the wait too.
bool waitUntil(const std::function<bool()> &done, int ms)
{
    const Timing::Deadline deadline(ms);
    while (!done() && !deadline.expired() && SessionSignals::terminationSignal() == 0) {
        // Sleeps in the event loop until something happens or 10 ms pass.
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

#ifdef QUARVO_HAVE_SIM
// A network session against the panel simulator on 127.0.0.1: the connection dialog is run as
// the host runs it (CommStartup) and an operator stand-in picks the network link and presses
// Connect; then a few heartbeats and the goodbye. Every host event is printed as it arrives.
int runNetworkSession(clsCommunication &component, FileHostSettings &settings)
{
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Network;
    config.udpPort = 0;
    config.linkKey = settings.LinkKey();
    config.passcode = settings.Passcode();
    config.dataLock = static_cast<quint16>(kDemoDataLock);
    panelsim::PanelSimulator panel(config);
    QString why;
    if (!panel.start(&why)) {
        out() << "The panel simulator could not start: " << why << Qt::endl;
        return 1;
    }
    // The host's panel address and port: the simulator's.
    QJsonObject json = settings.toJson();
    json.insert(QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1"));
    json.insert(QStringLiteral("PanelPort"), QString::number(panel.udpPort()));
    settings.fromJson(json);

    out() << Qt::endl << "Network session" << Qt::endl;
    out() << "  panel simulator on 127.0.0.1:" << panel.udpPort()
          << (config.linkKey.size() == 32 ? " (encrypted link)" : " (clear link)") << Qt::endl;
    out() << "  link encryption " << (sessionState().EncryptionEnabled ? "on" : "off") << ", heartbeat every "
          << sessionState().config.hbInterval << " ms" << Qt::endl;

    // The operator: once the dialog shows, network link, then Connect.
    QTimer operatorStandIn;
    operatorStandIn.setInterval(50);
    bool pressed = false;
    QObject::connect(&operatorStandIn, &QTimer::timeout, [&] {
        frmCommInterface *dialog = sessionState().connectionDialog;
        if (pressed || !dialog || !dialog->isVisible())
            return;
        pressed = true;
        operatorStandIn.stop();
        out() << "Operator: picks the network link and presses Connect" << Qt::endl;
        dialog->cmbConnect->setCurrentIndex(frmCommInterface::TypeNetwork);
        dialog->cmbConnect_Click();
        QTimer::singleShot(0, dialog->cmdConnect, &QPushButton::click);
    });
    operatorStandIn.start();
    // Should the link never come up, the dialog is closed so the demo still ends.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] {
        if (frmCommInterface *dialog = sessionState().connectionDialog) {
            out() << "No session after 20 s: closing the dialog" << Qt::endl;
            dialog->cmdCancel_Click();
            if (sessionState().connectionDialog)
                sessionState().connectionDialog->hide();
        }
    });
    giveUp.start(20000);
    const std::int32_t started = component.CommStartup();
    giveUp.stop();
    operatorStandIn.stop();

    const SessionState &state = sessionState();
    const QString sessionLog = state.sessionLog ? state.sessionLog->path() : QString();
    bool ok = started == 0 && state.queueWindow && state.currentTransport && state.currentTransport->Connected();
    if (ok) {
        out() << "Session established (panel revision " << state.panelRevision << ")" << Qt::endl;
        const int before = panel.commandCount(QStringLiteral("Request Panel Status"));
        for (int n = 1; n <= kDemoHeartbeats && ok; ++n) {
            ok = waitUntil([&] { return panel.commandCount(QStringLiteral("Request Panel Status")) >= before + n; },
                           kDemoHeartbeatMs * 3);
            if (ok)
                out() << "Heartbeat " << n << ": keep-alive answered" << Qt::endl;
        }
        if (SessionSignals::terminationSignal() == 0) {
            out() << "Operator: ends the session (goodbye)" << Qt::endl;
            modGlobals::Disconnect(false, 0);
            ok = waitUntil([] { return !sessionState().queueWindow; }, 10000) && ok;
        }
        waitUntil([&] { return panel.goodbyeReceived(); }, 2000);
        out() << "Panel: goodbye " << (panel.goodbyeReceived() ? "received" : "NOT received") << ", "
              << panel.exchangeCount() << " requests answered" << Qt::endl;
    } else {
        out() << "No session (result " << QString::number(static_cast<quint32>(started), 16) << ")" << Qt::endl;
    }
    panel.stop();
    // The transport's end closes the session log.
    sessionState().currentTransport.reset();
    if (!sessionLog.isEmpty())
        out() << "Session log written to " << sessionLog << Qt::endl;
    if (sessionState().immediateWindow)
        sessionState().immediateWindow->unload();
    if (const int signo = SessionSignals::terminationSignal()) {
        out() << "Ended by signal " << signo << Qt::endl;
        return 128 + signo;
    }
    return ok ? 0 : 1;
}
#endif

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

    // Unless a settings file says otherwise: the demo panel's link key, passcode and data lock.
    if (!parser.isSet(QStringLiteral("host-settings"))) {
        QJsonObject json = settings->toJson();
        json.insert(QStringLiteral("LinkKey"), kDemoLinkKey);
        json.insert(QStringLiteral("Passcode"), kDemoPasscode);
        json.insert(QStringLiteral("HostDataMode"), true);
        QJsonObject lock;
        lock.insert(QStringLiteral("Value"), kDemoDataLock);
        lock.insert(QStringLiteral("Name"), QStringLiteral("Demo installer"));
        lock.insert(QStringLiteral("Number"), 1);
        lock.insert(QStringLiteral("Key"), QStringLiteral("PRIMARY"));
        json.insert(QStringLiteral("DataLocks"), QJsonArray{lock});
        settings->fromJson(json);
    }
    // The demo's own settings store: heartbeats every 1.5 s so a few fit into a short session.
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("HBInterval"),
                                QString::number(kDemoHeartbeatMs));

    out() << "Quarvo demo" << Qt::endl;
    out() << "Creating the component (loads the configuration store)..." << Qt::endl;
    clsCommunication component;
    std::shared_ptr<HostCallback> callback = std::make_shared<PrintingCallback>(out());
    component.SetCallBack(callback);
    component.setSettings(settings);
    component.setPif(std::make_shared<MemoryHostPif>(settings->Passcode()));

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
#ifdef QUARVO_HAVE_SIM
    return runNetworkSession(component, *settings);
#else
    out() << Qt::endl << "The panel simulator is not part of this build: no network session." << Qt::endl;
    return 0;
#endif
}

} // namespace

// The off-screen platform warns about window size hints it cannot pass on; that says nothing
// about the session, so it is kept out of the demo's output.
static QtMessageHandler g_defaultHandler = nullptr;

static void quietOffscreenWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    if (g_defaultHandler)
        g_defaultHandler(type, context, message);
}

int main(int argc, char **argv)
{
    g_defaultHandler = qInstallMessageHandler(quietOffscreenWarnings);
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
        "          the files went; then start the panel simulator on 127.0.0.1 and run a network\n"
        "          session against it (connect, heartbeats, goodbye), printing each host event.\n\n"
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
