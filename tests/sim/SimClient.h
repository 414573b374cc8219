// The component's side of the wire, as small as the simulator's tests need: request frames built
// from the byte layout, a raw serial client for the pty, a datagram peer, and simulator start-up.
#pragma once

#include <gtest/gtest.h>

#include "DatagramCodec.h"
#include "LinkEnvelope.h"
#include "PanelSimulator.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>

// Tests describe a panel with designated initializers and leave every other member at its default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace simtest {

inline QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

inline quint8 byteSum(const QByteArray &bytes)
{
    int sum = 0;
    for (const char c : bytes)
        sum += static_cast<quint8>(c);
    return static_cast<quint8>(sum);
}

inline quint16 word(const QByteArray &bytes, int at) { return quint16(quint8(bytes[at]) << 8 | quint8(bytes[at + 1])); }

// Request frames to the panel. Remote: address 00, bytes sum to FF; local: address E4, sum 7F.
inline QByteArray requestFrame(bool remote, quint8 command, const QByteArray &data)
{
    const QByteArray f = QByteArray(1, char(remote ? 0x00 : 0xE4)) + char(data.size() + 2) + char(command) + data;
    return f + char((remote ? 0xFF : 0x7F) - byteSum(f));
}

// The fixed 11-byte form of command 20: address, 9, 20, function, six parameter bytes, checksum.
inline QByteArray execFrame(bool remote, quint8 function, const QByteArray &params = {})
{
    return requestFrame(remote, 20, char(function) + params.left(6).leftJustified(6, '\0'));
}

// A started simulator with the given faults; null (and a test failure) when it cannot start.
inline std::unique_ptr<panelsim::PanelSimulator> startPanel(const panelsim::PanelConfig &config, const QStringList &faults = {})
{
    auto panel = std::make_unique<panelsim::PanelSimulator>(config);
    QString error;
    bool ok = true;
    for (const QString &fault : faults)
        ok = ok && panel->addFault(fault, &error);
    if (ok && panel->start(&error))
        return panel;
    ADD_FAILURE() << error.toStdString();
    return nullptr;
}

class SerialClient
{
public:
    explicit SerialClient(const QString &path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        termios tio{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~SerialClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool hungUp() const { return m_hungUp; } // the far end closed the pty master
    bool write(const QByteArray &bytes) { return isOpen() && ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }

    // Everything read until the text contains needle (or, without one, until the time is up).
    QByteArray readUntil(const QByteArray &needle, int ms)
    {
        take(ms, [&](QByteArray &b) { return !needle.isEmpty() && b.contains(needle) ? std::optional(b) : std::nullopt; });
        return std::exchange(m_buffer, {});
    }
    QByteArray readFor(int ms) { return readUntil({}, ms); }

    // The next answer frame (address 64 local / 00 remote), skipping noise and the direct line's
    // idle frames. Empty when none arrives in time.
    QByteArray readFrame(bool remote, int ms)
    {
        return take(ms, [remote](QByteArray &b) -> std::optional<QByteArray> {
            for (;;) {
                while (!b.isEmpty() && b[0] != (remote ? '\0' : '\x64'))
                    b.remove(0, 1);
                if (b.size() < 2 || b.size() < quint8(b[1]) + 2)
                    return std::nullopt;
                const QByteArray frame = b.left(quint8(b[1]) + 2);
                b.remove(0, frame.size());
                if (remote || frame != hex("64020099"))
                    return frame;
            }
        });
    }

    // The next serial-envelope datagram, without the 7 header bytes.
    QByteArray readEnvelope(int ms)
    {
        return take(ms, [](QByteArray &b) -> std::optional<QByteArray> {
            const qsizetype at = b.indexOf(hex("02FFFFFFFF"));
            if (at < 0 || b.size() < at + 7 || b.size() < at + 7 + word(b, int(at) + 5))
                return std::nullopt;
            const QByteArray datagram = b.mid(at + 7, word(b, int(at) + 5));
            b.remove(0, at + 7 + datagram.size());
            return datagram;
        });
    }

private:
    // Reads (in bounded polls) until extract finds what it wants in the buffer or the time is up.
    QByteArray take(int ms, const std::function<std::optional<QByteArray>(QByteArray &)> &extract)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            if (auto got = extract(m_buffer))
                return *got;
            pollfd p{m_fd, POLLIN, 0};
            if (t.elapsed() >= ms || m_hungUp || ::poll(&p, 1, int(ms - t.elapsed())) <= 0)
                return {};
            char buffer[512];
            const ssize_t n = (p.revents & POLLIN) ? ::read(m_fd, buffer, sizeof buffer) : 0;
            if (n <= 0)
                m_hungUp = true;
            else
                m_buffer.append(buffer, n);
        }
    }

    int m_fd;
    bool m_hungUp = false;
    QByteArray m_buffer;
};

// One end of the network link: sequence byte, XOR with the sequence key, and the encrypted envelope
// when a link key is given.
class NetPeer
{
public:
    NetPeer(quint16 port, QString passcode, QString linkKey = {}) : m_port(port), m_passcode(passcode), m_key(linkKey)
    {
        m_socket.bind(QHostAddress::AnyIPv4, 0);
    }
    void send(quint8 seq, const QByteArray &payload)
    {
        const QByteArray datagram = panelsim::DatagramCodec::encode(seq, payload, m_passcode, true);
        m_socket.writeDatagram(m_key.isEmpty() ? datagram : panelsim::LinkEnvelope::encrypt(datagram, m_key, QByteArray(16, char(seq))),
                               QHostAddress::LocalHost, m_port);
    }
    // Payload of the next datagram (empty when none arrives in time), its sequence byte and sender port.
    QByteArray receive(quint8 *seq = nullptr, quint16 *fromPort = nullptr, int ms = 2000)
    {
        if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(ms))
            return {};
        const QNetworkDatagram d = m_socket.receiveDatagram();
        QByteArray raw = d.data();
        if (!m_key.isEmpty()) {
            EXPECT_TRUE(panelsim::LinkEnvelope::hasEnvelopeLength(int(raw.size()))) << raw.size();
            raw = panelsim::LinkEnvelope::decrypt(raw, m_key);
        }
        quint8 s = 0;
        QByteArray payload;
        panelsim::DatagramCodec::decode(raw, m_passcode, true, &s, &payload);
        if (seq)
            *seq = s;
        if (fromPort)
            *fromPort = quint16(d.senderPort());
        return payload;
    }

private:
    QUdpSocket m_socket;
    quint16 m_port;
    QString m_passcode, m_key;
};

} // namespace simtest
