#include "SimClient.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

quint8 byteSum(const QByteArray &bytes)
{
    int sum = 0;
    for (const char c : bytes)
        sum += static_cast<quint8>(c);
    return static_cast<quint8>(sum & 0xFF);
}

QByteArray requestFrame(bool remote, quint8 command, const QByteArray &data)
{
    QByteArray f;
    f.append(static_cast<char>(remote ? 0x00 : 0xE4));
    f.append(static_cast<char>(data.size() + 2));
    f.append(static_cast<char>(command));
    f.append(data);
    const quint8 target = remote ? 0xFF : 0x7F;
    f.append(static_cast<char>((target - byteSum(f)) & 0xFF));
    return f;
}

QByteArray execFrame(bool remote, quint8 function, const QByteArray &params)
{
    QByteArray data(1, static_cast<char>(function));
    QByteArray six = params.left(6);
    six.append(QByteArray(6 - six.size(), '\0'));
    data.append(six);
    return requestFrame(remote, 20, data);
}

bool SerialClient::open(const QString &path)
{
    close();
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    return true;
}

void SerialClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

bool SerialClient::write(const QByteArray &bytes)
{
    return m_fd >= 0 && ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

bool SerialClient::fill(int timeoutMs)
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, qMax(0, timeoutMs)) <= 0)
        return false;
    if (!(p.revents & POLLIN)) {
        m_hungUp = (p.revents & (POLLHUP | POLLERR)) != 0;
        return false;
    }
    char buffer[512];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n <= 0) {
        m_hungUp = true;
        return false;
    }
    m_buffer.append(buffer, n);
    return true;
}

QByteArray SerialClient::readFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && !m_hungUp)
        fill(int(ms - t.elapsed()));
    QByteArray out = m_buffer;
    m_buffer.clear();
    return out;
}

QByteArray SerialClient::readUntil(const QByteArray &needle, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!m_buffer.contains(needle) && t.elapsed() < timeoutMs && !m_hungUp)
        fill(int(timeoutMs - t.elapsed()));
    QByteArray out = m_buffer;
    m_buffer.clear();
    return out;
}

QByteArray SerialClient::readFrame(bool remote, int timeoutMs)
{
    const char address = remote ? '\0' : '\x64';
    QElapsedTimer t;
    t.start();
    for (;;) {
        while (!m_buffer.isEmpty() && m_buffer[0] != address)
            m_buffer.remove(0, 1);
        if (m_buffer.size() >= 2 && m_buffer.size() >= static_cast<quint8>(m_buffer[1]) + 2) {
            const QByteArray frame = m_buffer.left(static_cast<quint8>(m_buffer[1]) + 2);
            m_buffer.remove(0, frame.size());
            if (!remote && frame.size() == 4 && frame[2] == '\0')
                continue; // idle frame of the direct line
            return frame;
        }
        if (t.elapsed() >= timeoutMs || m_hungUp)
            return {};
        fill(int(timeoutMs - t.elapsed()));
    }
}

QByteArray SerialClient::readEnvelope(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    const QByteArray marker = QByteArray::fromHex("02FFFFFFFF");
    for (;;) {
        const qsizetype at = m_buffer.indexOf(marker);
        if (at >= 0 && m_buffer.size() >= at + 7) {
            const int length = (static_cast<quint8>(m_buffer[at + 5]) << 8) | static_cast<quint8>(m_buffer[at + 6]);
            if (m_buffer.size() >= at + 7 + length) {
                const QByteArray datagram = m_buffer.mid(at + 7, length);
                m_buffer.remove(0, at + 7 + length);
                return datagram;
            }
        }
        if (t.elapsed() >= timeoutMs || m_hungUp)
            return {};
        fill(int(timeoutMs - t.elapsed()));
    }
}

void SerialClient::discardInput()
{
    readFor(0);
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIFLUSH);
    m_buffer.clear();
}

UdpClient::UdpClient()
{
    m_socket.bind(QHostAddress::AnyIPv4, 0);
}

void UdpClient::send(const QByteArray &datagram, quint16 port)
{
    m_socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
}

QByteArray UdpClient::receive(int timeoutMs, quint16 *fromPort)
{
    if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(timeoutMs))
        return {};
    const QNetworkDatagram d = m_socket.receiveDatagram();
    if (fromPort)
        *fromPort = quint16(d.senderPort());
    return d.data();
}

} // namespace simtest
