// The error reporter: collects one error at a time (Add, AddlText) and appends it as one readable
// line to its error file (LogError): date, time, number in hex, module, procedure, level and the
// additional text. The file lives in the log folder and is created with mode 0600.
//
// Identical reports (same number, module, procedure, level and text) are limited: within one
// window (a minute) the first RepeatLimit are written, the rest only counted; when the window has
// passed, or the reporter ends, one line says how many more there were ("... - repeated K more
// times"). A burst of junk from a peer thus costs a few lines, not one per datagram.
#pragma once

#include <QDate>
#include <QHash>
#include <QString>
#include <QTime>

#include <cstdint>

class ErrorReporter
{
public:
    ErrorReporter() = default;
    // Writes the counts of reports still held back.
    ~ErrorReporter();
    ErrorReporter(const ErrorReporter &) = delete;
    ErrorReporter &operator=(const ErrorReporter &) = delete;

    static constexpr int RepeatLimit = 5;

    // Properties set once at start-up.
    QString AppName;
    QString AppVersion;
    std::int16_t WarningLevel = 5;
    QString AppErrorFile = QStringLiteral("Comm.err");
    QString FileSection = QStringLiteral("COMM");
    QString AddlText;
    // Length of the window of identical reports, milliseconds of real time.
    qint64 RepeatWindowMs = 60000;

    // Takes the error to report. The reporter's wider argument list (description, help file and
    // so on) carries nothing the component fills in, so only the filled arguments are kept.
    void Add(std::int32_t number, const QDate &date, const QTime &time, const QString &module,
             const QString &procedure, std::int16_t level);
    // Appends the collected error to the error file.
    void LogError();
    // Forgets the collected error.
    void Clear();

    // Full path of the error file.
    QString errorFilePath() const;

private:
    struct Repeats
    {
        qint64 windowStart = 0; // monotonic ms
        int count = 0;          // reports in this window
        QString line;           // the report, without its time
        QDate date;             // of the last report held back
        QTime time;
    };
    // Writes the summary of every window that has passed (all of them when `all`).
    void flushRepeats(qint64 now, bool all);
    void writeLines(const QString &lines);

    QHash<QString, Repeats> m_repeats;
    QString m_lastPath;
    bool m_pending = false;
    std::int32_t m_number = 0;
    QDate m_date;
    QTime m_time;
    QString m_module;
    QString m_procedure;
    std::int16_t m_level = 0;
    bool m_refusalShown = false;
};
