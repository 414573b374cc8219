#include "HostFiles.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#endif

namespace hostfiles {

bool ensureFolder(const QString &folder, QString *error)
{
    const QString absolute = QFileInfo(folder.isEmpty() ? QStringLiteral(".") : folder).absoluteFilePath();
    if (QFileInfo(absolute).isDir())
        return true;
#ifdef Q_OS_UNIX
    // Parents first; each one made here is the owner's alone.
    QStringList missing;
    for (QString path = absolute; !QFileInfo::exists(path); path = QFileInfo(path).absolutePath()) {
        if (!missing.isEmpty() && missing.first() == path)
            break;
        missing.prepend(path);
    }
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = QStringLiteral("cannot create the folder %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
#else
    QDir().mkpath(absolute);
#endif
    if (QFileInfo(absolute).isDir())
        return true;
    if (error)
        *error = QStringLiteral("%1 is not a folder").arg(absolute);
    return false;
}

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, why);
        return false;
    };
    if (!ensureFolder(QFileInfo(path).absolutePath(), error))
        return false;
    QSaveFile file(path);
    // No copy through a folder that cannot take a temporary file: such a write fails instead.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // The temporary file is narrowed before anything is written to it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        return fail(file.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool openForAppend(QFile &file, const QString &path, QString *error)
{
    if (!ensureFolder(QFileInfo(path).absolutePath(), error))
        return false;
    bool refused = false;
    if (Paths::openPrivate(file, path, false, &refused))
        return true;
    if (error)
        *error = refused ? QStringLiteral("%1 is not a plain file; not written").arg(path)
                         : QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace hostfiles
