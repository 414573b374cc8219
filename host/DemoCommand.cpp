// quarvo-host demo: an unattended job (set the clock, read all history, receive the panel's data)
// against the panel simulator on 127.0.0.1, with files of its own under <build-dir>/demo, and a
// short summary of what it did.
#include "Commands.h"
#include "HostFiles.h"
#include "HostSession.h"
#include "ProgressReport.h"

#include "component/clsCommunication.h"
#include "core/SessionState.h"
#include "core/modRegistry.h"
#include "diagnostics/clsSessionLog.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#ifdef QUARVO_HAVE_SIM
#include "PanelSimulator.h"
#endif

namespace {

// The demo panel: its link key, passcode and data lock are what the demo's host settings hold.
const QString kDemoLinkKey = QStringLiteral("Quarvo-demo-link-key-32-chars-ok");
const QString kDemoPasscode = QStringLiteral("123456");
constexpr int kDemoDataLock = 0x1234;
constexpr std::int32_t kDemoJobs = 1 + 8 + 16; // clock, all history, receive
constexpr int kDemoPollMs = 20;
// The panel's clock starts off by this much, so that the clock job has something to put right.
constexpr qint64 kClockOffBySeconds = -(3 * 3600 + 7 * 60);

// Uses the given folder for `variable` unless the environment already names one.
QString folderFor(const char *variable, const QString &fallback)
{
    QString dir = qEnvironmentVariable(variable);
    if (dir.isEmpty()) {
        dir = fallback;
        qputenv(variable, QFile::encodeName(dir));
    }
    return QFileInfo(dir).absoluteFilePath();
}

void line(const char *what, const QString &value)
{
    std::printf("  %-16s %s\n", what, qPrintable(value));
}

} // namespace

int runDemo(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Starts the panel simulator on 127.0.0.1 and runs an unattended job against it over an encrypted\n"
        "network link: set the panel clock, read all events, receive the panel's data into a fresh data\n"
        "file. Prints a summary; the host settings, data file, events, history and logs it used stay\n"
        "under <build-dir>/demo (QUARVO_SETTINGS_DIR and QUARVO_LOG_DIR name other folders)."));
    const QCommandLineOption buildOption(QStringLiteral("build-dir"), QStringLiteral("Folder for the demo's files (default: build)."),
                                         QStringLiteral("dir"), QStringLiteral("build"));
    parser.addOption(buildOption);
    if (const std::optional<int> done = parseCommandLine(parser, QStringLiteral("demo"), arguments))
        return *done;
#ifndef QUARVO_HAVE_SIM
    complain(QStringLiteral("demo: the panel simulator is not part of this build"));
    return hostexit::Failure;
#else
    const QString base = QDir(QFileInfo(parser.value(buildOption)).absoluteFilePath()).filePath(QStringLiteral("demo"));
    if (!hostfiles::ensureFolder(base, nullptr)) {
        complain(QStringLiteral("demo: cannot create %1").arg(base));
        return hostexit::Failure;
    }
    folderFor("QUARVO_SETTINGS_DIR", QDir(base).filePath(QStringLiteral("settings")));
    const QString logDir = folderFor("QUARVO_LOG_DIR", QDir(base).filePath(QStringLiteral("logs")));
    HostSession::chooseFolders(); // makes the log folder
    const QString settingsPath = QDir(base).filePath(QStringLiteral("host-settings.json"));
    const QString dataPath = QDir(base).filePath(QStringLiteral("panel-data.qpd"));
    const QString eventsPath = QDir(base).filePath(QStringLiteral("events.jsonl"));
    const QString historyPath = QDir(base).filePath(QStringLiteral("history.jsonl"));
    // Every run starts afresh: the whole panel is received into a new data file.
    for (const QString &old : {dataPath, eventsPath, historyPath})
        QFile::remove(old);

    // The demo's own settings store: the queue sends a message every 20 ms instead of every 500, so
    // the whole panel comes over in seconds rather than the two minutes of the standard pace.
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("StandardPollRate"),
                                QString::number(kDemoPollMs));

    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Network;
    config.linkKey = kDemoLinkKey;
    config.passcode = kDemoPasscode;
    config.dataLock = static_cast<quint16>(kDemoDataLock);
    config.clock = QDateTime::currentDateTime().addSecs(kClockOffBySeconds);
    panelsim::PanelSimulator panel(config);
    QString why;
    if (!panel.start(&why)) {
        complain(QStringLiteral("demo: the panel simulator could not start: ") + why);
        return hostexit::Failure;
    }

    // The host settings an installer would write for this panel.
    QJsonObject settings;
    settings.insert(QStringLiteral("AccountName"), QStringLiteral("demo"));
    settings.insert(QStringLiteral("PanelName"), QStringLiteral("Demo panel"));
    settings.insert(QStringLiteral("LinkType"), QStringLiteral("network"));
    settings.insert(QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1"));
    settings.insert(QStringLiteral("PanelPort"), QString::number(panel.udpPort()));
    settings.insert(QStringLiteral("Passcode"), kDemoPasscode);
    settings.insert(QStringLiteral("LinkKey"), kDemoLinkKey);
    settings.insert(QStringLiteral("HostDataMode"), true);
    settings.insert(QStringLiteral("TimeOffsetHours"), 0);
    settings.insert(QStringLiteral("DataFile"), QFileInfo(dataPath).fileName());
    QJsonObject lock;
    lock.insert(QStringLiteral("Value"), kDemoDataLock);
    lock.insert(QStringLiteral("Name"), QStringLiteral("Demo installer"));
    lock.insert(QStringLiteral("Number"), 1);
    lock.insert(QStringLiteral("Key"), QStringLiteral("PRIMARY"));
    settings.insert(QStringLiteral("DataLocks"), QJsonArray{lock});
    if (!hostfiles::writeAtomically(settingsPath, QJsonDocument(settings).toJson(), &why)) {
        complain(QStringLiteral("demo: ") + why);
        return hostexit::Failure;
    }

    std::printf("Quarvo demo: an unattended job against the panel simulator\n");
    line("panel", QStringLiteral("simulator on UDP 127.0.0.1:%1, encrypted link").arg(panel.udpPort()));
    line("host settings", settingsPath);
    line("jobs", QStringLiteral("clock, history-all, receive (job mask %1)").arg(kDemoJobs));
    std::fflush(stdout);

    HostSession session;
    HostOptions options;
    options.settingsPath = settingsPath;
    options.eventsPath = eventsPath;
    options.historyPath = historyPath;
    if (!session.prepare(options, &why)) {
        complain(QStringLiteral("demo: ") + why);
        return hostexit::Failure;
    }
    session.attach();
    const QDateTime clockBefore = panel.state().clock();
    ProgressReport progress;
    progress.start();
    std::int32_t mask = kDemoJobs;
    const std::int32_t started = session.component().DoUnattended(mask);
    if (started == 0)
        session.waitForEnd(120);
    progress.finish();
    const QString sessionLog = sessionState().sessionLog ? sessionState().sessionLog->path() : QString();
    session.close();
    panel.stop();
    if (const int signalled = HostSession::terminationStatus())
        return signalled;

    const QString ending = session.events().ending();
    const PanelDataStore &data = session.data();
    const std::optional<int> events = session.events().historyEnd();
    const bool clockSet = panel.commandCount(QStringLiteral("Change Panel Date")) == 1 && !panel.state().lastClockWrite.isEmpty();
    std::printf("Result: %s\n", qPrintable(ending.isEmpty() ? QStringLiteral("no result (UNKNOWN)") : ending));
    line("items received", QStringLiteral("%1 of %2, into %3").arg(data.itemsWritten().size()).arg(PanelDataStore::ItemCount).arg(dataPath));
    line("events read", events ? QString::number(*events) : QStringLiteral("none (the history job did not finish)"));
    line("clock set", clockSet ? QStringLiteral("yes: the panel clock went from %1 to %2")
                                     .arg(clockBefore.toString(QStringLiteral("HH:mm")), panel.state().clock().toString(QStringLiteral("HH:mm")))
                               : QStringLiteral("no"));
    line("host events", eventsPath);
    line("history", historyPath);
    line("session log", sessionLog.isEmpty() ? QDir(logDir).filePath(QStringLiteral("demo.log")) : sessionLog);
    if (ending != QLatin1String("SUCCESS"))
        complain(QStringLiteral("demo: the session ended %1: %2").arg(ending.isEmpty() ? QStringLiteral("UNKNOWN") : ending, session.failureReason()));
    const bool complete = ending == QLatin1String("SUCCESS") && events && clockSet
                          && data.transferFiles().size() == 1 && !data.saveFailed();
    return complete ? hostexit::Success : hostexit::Failure;
#endif
}
