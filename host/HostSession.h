// What the session commands of quarvo-host share: the files (settings, panel data, events,
// history), the component with the host's objects handed over, the wait for the end of the
// session, and how its end becomes a readable message and an exit status.
#pragma once

#include "FileHostSettings.h"
#include "HostEventLog.h"
#include "PanelDataStore.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class IZelComm;
class RemoteComponent;

// Exit statuses of quarvo-host (the README lists them).
namespace hostexit {
constexpr int Success = 0; // SUCCESS (or, in an interactive session, USERDISCONNECTING); data commands: done
constexpr int Failure = 1; // FAILURE, a job that did not finish, data that could not be saved; data diff: different
constexpr int Usage = 2;   // bad command line, settings or data file
constexpr int Aborted = 3; // ABORTED: an abort asked for (Cancel, a shutdown, the time limit)
constexpr int Unknown = 4; // UNKNOWN, or the session ended without saying how
} // namespace hostexit

struct HostOptions
{
    QString settingsPath;
    QString dataPath;
    QString eventsPath;  // empty: standard output
    QString historyPath; // empty: no history file
    int timeoutSeconds = 900;
    bool outOfProcess = false; // the component runs in quarvo-server, reached on the session bus
};

class HostSession
{
public:
    HostSession();
    ~HostSession();

    // Points the settings store and the log folder at per-user folders unless QUARVO_SETTINGS_DIR
    // and QUARVO_LOG_DIR name others, and makes the log folder when missing. Runs before the
    // component is created.
    static void chooseFolders();

    // Loads the settings (a missing path keeps the defaults) and the panel data file (a missing
    // file starts from empty items; it is written when a receive completes), and opens the event
    // and history outputs. False with the reason when any of it fails.
    bool prepare(const HostOptions &options, QString *error);

    FileHostSettings &settings() { return *m_settings; }
    PanelDataStore &data() { return *m_data; }
    HostEventLog &events() { return *m_events; }
    IZelComm &component() { return *m_component; }
    bool outOfProcess() const { return m_outOfProcess; }

    // Creates the component (in this process, or in quarvo-server, which the bus starts when it is
    // not running) and hands over the callback, the settings and the panel data, in the order the
    // host application does. False with the reason when the server cannot be reached.
    bool attach(QString *error = nullptr);

    // Whether the session has ended: in process its message queue is gone; out of process the end
    // (event 3) has arrived, or the server has left the bus.
    bool sessionOver() const;

    // Runs the event loop until the session has ended (its message queue is gone) and its windows
    // have reported. Past `seconds` (0: no limit) the session is shut down as the host's own abort;
    // false then. A termination signal ends the wait too (terminationStatus() then says so).
    bool waitForEnd(int seconds);
    // 128 + the signal (SIGTERM, SIGINT) that ended the session, or 0; the signal counts from the
    // moment it arrived, so the status does not depend on which of the session's ends is seen first.
    static int terminationStatus();

    // The exit status for how the session ended ("SUCCESS", ... or "USERDISCONNECTING").
    static int statusFor(const QString &ending);
    // Why the session failed, as far as the component recorded it, for the final message.
    QString failureReason() const;
    // Closes the session log and drops what is left of the session.
    void close();

private:
    std::shared_ptr<FileHostSettings> m_settings;
    std::shared_ptr<PanelDataStore> m_data;
    std::shared_ptr<HostEventLog> m_events;
    std::unique_ptr<IZelComm> m_component;
    RemoteComponent *m_remote = nullptr; // m_component when out of process
    qint64 m_errorFileSize = 0;          // the size of Comm.err when the session began
    bool m_outOfProcess = false;
    QFile m_stdout;
    QFile m_eventFile;
    QFile m_historyFile;
};

// The job mask of --jobs: words separated by commas, "clock" 1, "history-current" 2, "set-pointer" 4,
// "history-all" 8, "receive" 16, "send" 32, "none" 0. Words the component will pass over (history-
// current or set-pointer beside history-all, send beside receive, set-pointer alone) are kept in
// the mask, as the component's own rules decide, and named in `notes`. None (with `error`) for an
// unknown or empty word.
std::optional<std::int32_t> jobMaskFor(const QString &words, QString *error, QStringList *notes = nullptr);

// The data file a session uses: --data, else the settings' "DataFile" (relative to the settings
// file's folder), else "<AccountName>.qpd" in the settings file's folder (the current folder
// without a settings file).
QString dataFileFor(const QString &dataOption, const QString &settingsPath, const FileHostSettings &settings);
