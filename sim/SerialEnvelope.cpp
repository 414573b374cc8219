#include "SerialEnvelope.h"

namespace panelsim {

static const QByteArray kMarker = QByteArray::fromHex("02FFFFFFFF");

QByteArray SerialEnvelope::wrap(const QByteArray &datagram)
{
    if (datagram.isEmpty() || datagram.size() > 255)
        return {};
    QByteArray out = kMarker;
    out.append('\0');
    out.append(static_cast<char>(datagram.size()));
    out.append(datagram);
    return out;
}

std::optional<QByteArray> SerialEnvelope::next()
{
    for (;;) {
        const qsizetype at = m_buffer.indexOf(kMarker);
        if (at < 0) {
            // Keep a tail that may be the start of a marker split across reads.
            const qsizetype keep = qMin<qsizetype>(m_buffer.size(), kMarker.size() - 1);
            qsizetype drop = m_buffer.size() - keep;
            while (drop < m_buffer.size() && m_buffer[drop] != '\x02')
                ++drop;
            m_skipped += int(drop);
            m_buffer.remove(0, drop);
            return std::nullopt;
        }
        m_skipped += int(at);
        m_buffer.remove(0, at);
        if (m_buffer.size() < HeaderSize)
            return std::nullopt;
        const int length = (static_cast<quint8>(m_buffer[5]) << 8) | static_cast<quint8>(m_buffer[6]);
        if (length < 1 || length > 255) {
            ++m_rejected;
            m_buffer.remove(0, HeaderSize);
            continue;
        }
        if (m_buffer.size() < HeaderSize + length)
            return std::nullopt;
        QByteArray datagram = m_buffer.mid(HeaderSize, length);
        m_buffer.remove(0, HeaderSize + length);
        return datagram;
    }
}

} // namespace panelsim
