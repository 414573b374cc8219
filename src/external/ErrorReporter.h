// The error reporter: collects one error at a time (Add, AddlText) and appends it as one readable
// line to its error file (LogError): date, time, number in hex, module, procedure, level and the
// additional text. The file lives in the log folder and is created with mode 0600.
#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <cstdint>

class ErrorReporter
{
public:
    // Properties set once at start-up.
    QString AppName;
    QString AppVersion;
    std::int16_t WarningLevel = 5;
    QString AppErrorFile = QStringLiteral("Comm.err");
    QString FileSection = QStringLiteral("COMM");
    QString AddlText;

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
    bool m_pending = false;
    std::int32_t m_number = 0;
    QDate m_date;
    QTime m_time;
    QString m_module;
    QString m_procedure;
    std::int16_t m_level = 0;
    bool m_refusalShown = false;
};
