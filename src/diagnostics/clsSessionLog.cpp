#include "diagnostics/clsSessionLog.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QLocale>

namespace {
const QString kClass = QStringLiteral("clsSessionLog");
const QString kApp = QStringLiteral("Tamsel");
const QString kSection = QStringLiteral("Communications");
} // namespace

clsSessionLog::clsSessionLog()
{
    errors::guarded(kClass, QStringLiteral("Class_Initialize()"), [&] {
        const QString enable = modRegistry::GetRegSetting(kApp, kSection, QStringLiteral("SessionLogEnable"));
        if (enable != QLatin1String("No")) {
            modRegistry::SaveRegSetting(kApp, kSection, QStringLiteral("SessionLogEnable"), QStringLiteral("Yes"));
            m_enabled = true;
        } else {
            m_enabled = false;
        }
        m_defaultName = modRegistry::GetRegSetting(kApp, kSection, QStringLiteral("SessionLogName"), QStringLiteral("-1"));
        if (m_defaultName == QLatin1String("-1")) {
            m_defaultName = QStringLiteral("session.log");
            modRegistry::SaveRegSetting(kApp, kSection, QStringLiteral("SessionLogName"), m_defaultName);
        }
    });
}

clsSessionLog::~clsSessionLog()
{
    m_file.close();
}

void clsSessionLog::OpenLog(const QString &name)
{
    if (!m_enabled)
        return;
    errors::guarded(kClass, QStringLiteral("OpenLog()"), [&] {
        m_file.close();
        // Only a bare file name is taken: the log always lands in the log folder.
        QString file = name.isEmpty() ? m_defaultName : name;
        file.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
        m_path = Paths::logFile(file);
        // The previous log of that name is replaced; a link planted in its place is refused.
        bool refused = false;
        if (!Paths::openPrivate(m_file, m_path, true, &refused))
            raiseError(refused ? ErrorCode::PermissionDenied : ErrorCode::PathNotFound,
                       QStringLiteral("cannot open %1").arg(m_path));
        const QString stamp = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
        write(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(327), QStringLiteral("TIMESTAMP"), stamp)
              + QStringLiteral("\r\n\r\n"));
    });
}

void clsSessionLog::CloseLog()
{
    if (!m_enabled)
        return;
    errors::guarded(kClass, QStringLiteral("CloseLog()"), [&] { m_file.close(); });
}

void clsSessionLog::LogEntry(const QString &text, const QVariant &data)
{
    if (!m_enabled || !m_file.isOpen())
        return;
    // An entry that cannot be written is dropped silently.
    try {
        QString record = text + QStringLiteral(", ") + QTime::currentTime().toString(Qt::TextDate)
                         + QStringLiteral("\r\n");
        if (!data.isValid() || isMissing(data) || (data.typeId() == QMetaType::QString && data.toString().isEmpty())) {
            // first form: the line alone
        } else if (data.typeId() == QMetaType::QString) {
            record += data.toString() + QStringLiteral("\r\n");
        } else {
            record += modGlobals::DebugConvert(data) + QStringLiteral("\r\n");
        }
        record += QStringLiteral("\r\n");
        write(record);
    } catch (...) {
    }
}

void clsSessionLog::write(const QString &text)
{
    m_file.write(text.toLocal8Bit());
    m_file.flush();
}
