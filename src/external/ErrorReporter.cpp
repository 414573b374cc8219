#include "external/ErrorReporter.h"

#include "platform/Paths.h"

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

void ErrorReporter::LogError()
{
    if (!m_pending)
        return;
    QFile file;
    bool refused = false;
    if (!Paths::openPrivate(file, errorFilePath(), false, &refused)) {
        // The reporter never fails its caller. A link or another kind of file planted at the
        // error file's path is not written through; the only place left to say so is stderr.
        if (refused && !m_refusalShown) {
            m_refusalShown = true;
            qWarning("Quarvo: %s is not a plain file of its own: error reports are not written to it",
                     qPrintable(errorFilePath()));
        }
        return;
    }
    const QString hex = QStringLiteral("%1").arg(static_cast<quint32>(m_number), 8, 16, QLatin1Char('0')).toUpper();
    QString line = QStringLiteral("%1 %2 [%3] 0x%4 %5 %6 level %7")
                       .arg(m_date.toString(Qt::ISODate), m_time.toString(QStringLiteral("HH:mm:ss")), FileSection,
                            hex, m_module, m_procedure, QString::number(m_level));
    if (!AddlText.isEmpty())
        line += QStringLiteral(" - ") + AddlText;
    line += QStringLiteral("\r\n");
    file.write(line.toLocal8Bit());
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
