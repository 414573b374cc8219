// A UDP socket on 127.0.0.1 for the network link (plain POSIX, so it can live in the simulator's own
// poll loop without an event loop).
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace panelsim {

struct UdpPeer
{
    quint32 address = 0; // host order
    quint16 port = 0;
    bool isValid() const { return port != 0; }
    QString toString() const;
};

class UdpPort
{
public:
    UdpPort() = default;
    ~UdpPort() { close(); }
    UdpPort(const UdpPort &) = delete;
    UdpPort &operator=(const UdpPort &) = delete;

    // Binds 127.0.0.1:port (0 = any free port).
    bool open(quint16 port, QString *error);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    quint16 port() const { return m_port; }

    // One pending datagram, or false when there is none.
    bool receive(QByteArray *datagram, UdpPeer *from);
    bool send(const QByteArray &datagram, const UdpPeer &to);

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

} // namespace panelsim
