#include "PtyPort.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace panelsim {

bool PtyPort::open(const QString &symlinkPath, QString *error)
{
    close();
    auto fail = [this, error](const QString &why) {
        if (error)
            *error = why + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail(QStringLiteral("posix_openpt"));
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(QStringLiteral("grantpt/unlockpt"));
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(QStringLiteral("ptsname"));
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(QStringLiteral("open %1").arg(m_slavePath));
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    if (!symlinkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(symlinkPath);
        QFileInfo existing(symlinkPath);
        if (existing.isSymLink())
            ::unlink(link.constData());
        if (::symlink(name, link.constData()) != 0)
            return fail(QStringLiteral("symlink %1").arg(symlinkPath));
        m_symlink = symlinkPath;
    }
    return true;
}

void PtyPort::close()
{
    if (!m_symlink.isEmpty()) {
        // Remove the link only while it still points at our slave.
        if (QFileInfo(m_symlink).symLinkTarget() == m_slavePath)
            ::unlink(QFile::encodeName(m_symlink).constData());
        m_symlink.clear();
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}

QByteArray PtyPort::readAvailable()
{
    if (m_master < 0)
        return {};
    QByteArray out;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, n);
        if (n < ssize_t(sizeof buffer))
            break;
    }
    return out;
}

qsizetype PtyPort::write(const QByteArray &bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return 0;
    const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    return n > 0 ? n : 0;
}

} // namespace panelsim
