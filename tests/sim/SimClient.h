// The component's side of the wire, as small as the simulator's tests need: request frames built
// from the byte layout, a raw serial client for the pty and a UDP client.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUdpSocket>

#include <optional>

namespace simtest {

// Request frames to the panel. Remote: address 00, bytes sum to FF; local: address E4, sum 7F.
QByteArray requestFrame(bool remote, quint8 command, const QByteArray &data);
// The fixed 11-byte form of command 20: address, 9, 20, function, six parameter bytes, checksum.
QByteArray execFrame(bool remote, quint8 function, const QByteArray &params = {});
quint8 byteSum(const QByteArray &bytes);

class SerialClient
{
public:
    ~SerialClient() { close(); }
    bool open(const QString &path);
    void close();
    bool write(const QByteArray &bytes);
    // Everything that arrives within ms.
    QByteArray readFor(int ms);
    // Reads until the collected text contains needle or the time runs out; returns what was read.
    QByteArray readUntil(const QByteArray &needle, int timeoutMs);
    // The next answer frame (address 64 local / 00 remote), skipping noise and idle frames
    // (command 0). Empty when none arrives in time.
    QByteArray readFrame(bool remote, int timeoutMs);
    // The next serial-envelope datagram (without the 7 header bytes).
    QByteArray readEnvelope(int timeoutMs);
    void discardInput();
    // The far end hung up (the pty master was closed).
    bool hungUp() const { return m_hungUp; }

private:
    bool fill(int timeoutMs);
    int m_fd = -1;
    bool m_hungUp = false;
    QByteArray m_buffer;
};

class UdpClient
{
public:
    UdpClient();
    quint16 localPort() const { return m_socket.localPort(); }
    void send(const QByteArray &datagram, quint16 port);
    // The next datagram within timeoutMs (empty when none); its sender port in fromPort.
    QByteArray receive(int timeoutMs, quint16 *fromPort = nullptr);

private:
    QUdpSocket m_socket;
};

} // namespace simtest
