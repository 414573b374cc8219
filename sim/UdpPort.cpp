#include "UdpPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace panelsim {

QString UdpPeer::toString() const
{
    return QStringLiteral("%1.%2.%3.%4:%5")
        .arg((address >> 24) & 0xFF).arg((address >> 16) & 0xFF).arg((address >> 8) & 0xFF).arg(address & 0xFF)
        .arg(port);
}

bool UdpPort::open(quint16 port, QString *error)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        if (error)
            *error = QStringLiteral("UDP port %1: %2").arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    }
    m_port = ntohs(addr.sin_port);
    return true;
}

void UdpPort::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_port = 0;
}

bool UdpPort::receive(QByteArray *datagram, UdpPeer *from)
{
    if (m_fd < 0)
        return false;
    char buffer[65536];
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&addr), &len);
    if (n < 0)
        return false;
    *datagram = QByteArray(buffer, n);
    from->address = ntohl(addr.sin_addr.s_addr);
    from->port = ntohs(addr.sin_port);
    return true;
}

bool UdpPort::send(const QByteArray &datagram, const UdpPeer &to)
{
    if (m_fd < 0 || !to.isValid())
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(to.port);
    addr.sin_addr.s_addr = htonl(to.address);
    return ::sendto(m_fd, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr *>(&addr),
                    sizeof addr) == datagram.size();
}

} // namespace panelsim
