#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Paths {

QString logDir()
{
    const QString env = qEnvironmentVariable("QUARVO_LOG_DIR");
    if (!env.isEmpty())
        return env;
    const QString app = QCoreApplication::applicationDirPath();
    return app.isEmpty() ? QDir::currentPath() : app;
}

QString logFile(const QString &name)
{
    return QDir(logDir()).filePath(name);
}

QString settingsDir()
{
    const QString env = qEnvironmentVariable("QUARVO_SETTINGS_DIR");
    if (!env.isEmpty())
        return env;
    // The folder QSettings uses for system-scope INI files (e.g. /etc/xdg on Linux).
    const QSettings probe(QSettings::IniFormat, QSettings::SystemScope, QStringLiteral("Norvane"),
                          QStringLiteral("Tamsel"));
    QFileInfo info(probe.fileName()); // <dir>/Norvane/Tamsel.ini
    return info.dir().absolutePath().section(QLatin1Char('/'), 0, -2);
}

QString settingsFile()
{
    return QDir(settingsDir()).filePath(QStringLiteral("Norvane/Tamsel.ini"));
}

QString defaultTamselPath(bool lowerCaseDrive)
{
#ifdef Q_OS_WIN
    return lowerCaseDrive ? QStringLiteral("c:\\Tamsel") : QStringLiteral("C:\\Tamsel");
#else
    Q_UNUSED(lowerCaseDrive);
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base.isEmpty() ? QDir::homePath() : base).filePath(QStringLiteral("Tamsel"));
#endif
}

QString inFolder(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder + name;
#ifdef Q_OS_WIN
    return folder + QLatin1Char('\\') + name;
#else
    return folder + QLatin1Char('/') + name;
#endif
}

QString transferFile(const QString &dataFolder)
{
    return inFolder(dataFolder, QStringLiteral("tempdat.000"));
}

bool openPrivate(QFile &file, const QString &path, bool truncate)
{
    file.close();
#ifdef Q_OS_UNIX
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    if (truncate)
        flags |= O_TRUNC;
    const int fd = ::open(QFile::encodeName(path).constData(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    // An existing file keeps its mode on open: narrow it too, it may hold passcodes.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    file.setFileName(path);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append;
    if (truncate)
        mode |= QIODevice::Truncate;
    if (!file.open(mode))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
#endif
}

} // namespace Paths
