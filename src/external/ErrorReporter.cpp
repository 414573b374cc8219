#include "external/ErrorReporter.h"

#include "platform/Paths.h"
#include "platform/Timing.h"

#include <QFile>

void ErrorReporter::Add(std::int32_t number, const QDate &date, const QTime &time, const QString &module,
                        const QString &procedure, std::int16_t level)
{
    m_pending = true;
    m_number = number;
    m_date = date;
    m_time = time;
    m_module = module;
    m_procedure = procedure;
    m_level = level;
}

ErrorReporter::~ErrorReporter()
{
    flushRepeats(0, true);
}

void ErrorReporter::LogError()
{
    if (!m_pending)
        return;
    const qint64 now = Timing::nowMs();
    flushRepeats(now, false);
    const QString hex = QStringLiteral("%1").arg(static_cast<quint32>(m_number), 8, 16, QLatin1Char('0')).toUpper();
    QString report = QStringLiteral("[%1] 0x%2 %3 %4 level %5")
                         .arg(FileSection, hex, m_module, m_procedure, QString::number(m_level));
    if (!AddlText.isEmpty())
        report += QStringLiteral(" - ") + AddlText;
    Repeats &repeats = m_repeats[report];
    if (repeats.count == 0) {
        repeats.windowStart = now;
        repeats.line = report;
    }
    if (++repeats.count > RepeatLimit) {
        repeats.date = m_date;
        repeats.time = m_time;
        return; // counted; the summary says how many
    }
    m_lastPath = errorFilePath();
    writeLines(QStringLiteral("%1 %2 ").arg(m_date.toString(Qt::ISODate), m_time.toString(QStringLiteral("HH:mm:ss")))
               + report + QStringLiteral("\r\n"));
}

void ErrorReporter::flushRepeats(qint64 now, bool all)
{
    QString lines;
    for (auto it = m_repeats.begin(); it != m_repeats.end();) {
        if (!all && now - it->windowStart < RepeatWindowMs) {
            ++it;
            continue;
        }
        if (it->count > RepeatLimit)
            lines += QStringLiteral("%1 %2 %3 - repeated %4 more times\r\n")
                         .arg(it->date.toString(Qt::ISODate), it->time.toString(QStringLiteral("HH:mm:ss")), it->line,
                              QString::number(it->count - RepeatLimit));
        it = m_repeats.erase(it);
    }
    if (!lines.isEmpty())
        writeLines(lines);
}

void ErrorReporter::writeLines(const QString &lines)
{
    // At the end of the process the folder is no longer asked for: the counts go where the
    // reports went.
    const QString path = m_lastPath.isEmpty() ? errorFilePath() : m_lastPath;
    QFile file;
    bool refused = false;
    if (!Paths::openPrivate(file, path, false, &refused)) {
        // The reporter never fails its caller. A link or another kind of file planted at the
        // error file's path is not written through; the only place left to say so is stderr.
        if (refused && !m_refusalShown) {
            m_refusalShown = true;
            qWarning("Quarvo: %s is not a plain file of its own: error reports are not written to it",
                     qPrintable(path));
        }
        return;
    }
    file.write(lines.toLocal8Bit());
}

void ErrorReporter::Clear()
{
    m_pending = false;
    AddlText.clear();
}

QString ErrorReporter::errorFilePath() const
{
    return Paths::logFile(AppErrorFile.isEmpty() ? QStringLiteral("Comm.err") : AppErrorFile);
}
