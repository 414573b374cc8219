#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <cerrno>
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

void prepareSettingsFile(const QString &file)
{
#ifdef Q_OS_UNIX
    // Folders from the top down, each one that is missing created and then set to 0755.
    const QString folder = QFileInfo(file).absolutePath();
    QStringList missing;
    for (QString path = folder; !QFileInfo::exists(path); path = QFileInfo(path).absolutePath()) {
        if (!missing.isEmpty() && missing.first() == path)
            break; // the root
        missing.prepend(path);
    }
    for (const QString &path : std::as_const(missing)) {
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0755) == 0)
            ::chmod(name.constData(), 0755);
    }
    const QByteArray name = QFile::encodeName(file);
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const bool created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
        fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    // The store is rewritten with the mode of the file it replaces: a new file gets 0644 whatever
    // the umask, an existing one loses write access for others.
    struct stat st {};
    if (created)
        ::fchmod(fd, 0644);
    else if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) != 0)
        ::fchmod(fd, st.st_mode & 07755);
    ::close(fd);
#else
    QDir().mkpath(QFileInfo(file).absolutePath());
#endif
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

bool plainFileOrMissing(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode);
#else
    const QFileInfo info(path);
    return !info.exists() || (info.isFile() && !info.isSymLink());
#endif
}

bool openPrivate(QFile &file, const QString &path, bool truncate, bool *refused)
{
    file.close();
    if (refused)
        *refused = false;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    const auto refuse = [&] {
        if (refused)
            *refused = true;
        return false;
    };
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = -1;
    if (truncate) {
        // A new file each time: the old one is removed, then the file is created exclusively, so
        // nothing slipped in between is ever opened. A link or anything but a plain file at the
        // path is not ours to remove: refused, left as it is.
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0) {
            if (!S_ISREG(st.st_mode))
                return refuse();
            ::unlink(name.constData());
        }
        fd = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        if (fd < 0)
            return errno == EEXIST ? refuse() : false;
    } else {
        // Created exclusively when new; an existing file is opened without following a link.
        fd = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        if (fd < 0 && errno == EEXIST)
            fd = ::open(name.constData(), kFlags);
        if (fd < 0)
            return (errno == ELOOP || errno == ENXIO) ? refuse() : false;
    }
    // Only a plain file with this one name: a FIFO would block the writer, and a hard link planted
    // here would carry the lines to another file.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        ::close(fd);
        return refuse();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
