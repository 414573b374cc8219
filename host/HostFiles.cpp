#include "HostFiles.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hostfiles {

namespace {

// Links followed one after another before the chain counts as a loop.
constexpr int kMaxLinks = 8;

#ifdef Q_OS_UNIX
QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

// What a file that is not a regular one is, for the message that refuses it.
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    return QStringLiteral("not a regular file");
}
#endif

} // namespace

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
                *error = QStringLiteral("cannot create the folder %1: %2").arg(path, systemError(errno));
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

bool resolveOwnLinks(const QString &path, QString *resolved, QString *error)
{
    QString current = QFileInfo(path).absoluteFilePath();
#ifdef Q_OS_UNIX
    for (int depth = 0; depth <= kMaxLinks; ++depth) {
        const QByteArray name = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            // No link (or nothing yet) at this name: the file is this one; what it is, the reader
            // or writer checks.
            *resolved = current;
            return true;
        }
        if (st.st_uid != ::geteuid()) {
            if (error)
                *error = QStringLiteral("%1 is a symbolic link of another user (uid %2); not followed").arg(current).arg(st.st_uid);
            return false;
        }
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(name.constData(), target.data(), static_cast<size_t>(target.size()));
        if (n < 0 || n >= target.size()) {
            if (error)
                *error = QStringLiteral("cannot read the symbolic link %1: %2").arg(current, systemError(n < 0 ? errno : ENAMETOOLONG));
            return false;
        }
        target.truncate(n);
        current = QDir::cleanPath(QFileInfo(current).absoluteDir().absoluteFilePath(QFile::decodeName(target)));
    }
    if (error)
        *error = QStringLiteral("%1: more than %2 symbolic links in a row; not followed").arg(path).arg(kMaxLinks);
    return false;
#else
    Q_UNUSED(error);
    *resolved = current;
    return true;
#endif
}

bool readBounded(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    };
#ifdef Q_OS_UNIX
    // Without blocking: opening a FIFO nobody writes to would wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("cannot read it: %1").arg(systemError(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int number = errno;
        ::close(fd);
        return fail(QStringLiteral("cannot read it: %1").arg(systemError(number)));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("%1, not a regular file; not read").arg(kindOf(st.st_mode)));
    }
    const auto tooLarge = [&](qint64 size) {
        ::close(fd);
        return fail(QStringLiteral("%1 bytes or more, larger than such a file can be (%2 bytes at most); not read").arg(size).arg(maxBytes));
    };
    if (st.st_size > maxBytes)
        return tooLarge(st.st_size);
    // One byte beyond the limit tells a file that grew meanwhile.
    QByteArray out(static_cast<qsizetype>(maxBytes) + 1, '\0');
    qsizetype have = 0;
    while (have < out.size()) {
        const ssize_t n = ::read(fd, out.data() + have, static_cast<size_t>(out.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int number = errno;
            ::close(fd);
            return fail(QStringLiteral("cannot read it: %1").arg(systemError(number)));
        }
        if (n == 0)
            break;
        have += n;
    }
    if (have > maxBytes)
        return tooLarge(have);
    ::close(fd);
    out.truncate(have);
    *bytes = out;
    return true;
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read it: %1").arg(file.errorString()));
    if (file.isSequential())
        return fail(QStringLiteral("not a regular file; not read"));
    const QByteArray out = file.read(maxBytes + 1);
    if (out.size() > maxBytes)
        return fail(QStringLiteral("larger than such a file can be (%1 bytes at most); not read").arg(maxBytes));
    *bytes = out;
    return true;
#endif
}

bool writeFully(int fd, const QByteArray &bytes, QString *why)
{
#ifdef Q_OS_UNIX
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write that takes nothing without an error is a full device too.
            if (why)
                *why = systemError(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += n;
    }
    return true;
#else
    Q_UNUSED(fd);
    Q_UNUSED(bytes);
    if (why)
        *why = QStringLiteral("not supported here");
    return false;
#endif
}

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error, Links links)
{
    QString target = QFileInfo(path).absoluteFilePath();
    if (links == Links::FollowOwn && !resolveOwnLinks(path, &target, error))
        return false;
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(target, why);
        return false;
    };
    const QString folder = QFileInfo(target).absolutePath();
    if (!ensureFolder(folder, error))
        return false;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(target);
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (error)
            *error = S_ISLNK(st.st_mode) ? QStringLiteral("%1 is a symbolic link; not written through it").arg(target)
                                         : QStringLiteral("%1 is %2, not a regular file; not replaced").arg(target, kindOf(st.st_mode));
        return false;
    }
    // The temporary file is created exclusively (never an existing name), mode 0600 before a byte
    // goes into it. The rename replaces whatever entry holds the name by then, a link included,
    // without following it.
    QByteArray temporary = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".%1.XXXXXX").arg(QFileInfo(target).fileName())));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(systemError(errno));
    const auto discard = [&](const QString &why) {
        ::close(fd);
        ::unlink(temporary.constData());
        return fail(why);
    };
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0)
        return discard(systemError(errno));
    QString why;
    if (!writeFully(fd, bytes, &why))
        return discard(why);
    if (::fsync(fd) != 0)
        return discard(systemError(errno));
    if (::close(fd) != 0) {
        const int number = errno;
        ::unlink(temporary.constData());
        return fail(systemError(number));
    }
    if (::rename(temporary.constData(), name.constData()) != 0) {
        const int number = errno;
        ::unlink(temporary.constData());
        return fail(systemError(number));
    }
    // The new name on disk too (best effort: a folder that cannot be synced keeps the file).
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
#else
    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        return fail(file.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return true;
#endif
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
