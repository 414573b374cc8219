// The serial envelope of the enhanced direct line: 02, FF FF FF FF, length high byte, length low
// byte, then the datagram (sequence byte and panel frame). Only lengths 1 to 255 are carried.
#pragma once

#include <QByteArray>

#include <optional>

namespace panelsim {

class SerialEnvelope
{
public:
    static constexpr int HeaderSize = 7;

    // Empty when the datagram is empty or longer than 255 bytes.
    static QByteArray wrap(const QByteArray &datagram);

    // Incremental reader: bytes before a header are skipped; a header announcing 0 or more than 255
    // bytes is dropped (counted in rejectedHeaders()).
    void feed(const QByteArray &bytes) { m_buffer.append(bytes); }
    std::optional<QByteArray> next();
    bool hasPartial() const { return !m_buffer.isEmpty(); }
    void reset() { m_buffer.clear(); }
    int skippedBytes() const { return m_skipped; }
    int rejectedHeaders() const { return m_rejected; }

private:
    QByteArray m_buffer;
    int m_skipped = 0;
    int m_rejected = 0;
};

} // namespace panelsim
